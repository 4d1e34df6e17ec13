#pragma once

// The state behind an FtpConnection: how to reach and log on to the server
// (kept so that a connection that fell out of step can be replaced), what the
// server offers and refuses, and the current control connection.

#include "inet/ControlConnection.h"
#include "inet/DataConnection.h"
#include "inet/FtpService.h"
#include "inet/InetPrivate.h"
#include "inet/ProxyConfig.h"
#include "inet/Socks.h"

#include <QDateTime>
#include <QFlags>
#include <QSet>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace inet {

struct LogonParameters {
    QString server;
    quint16 port = 21;
    QString userName;
    QString password;
    bool passive = true;
    std::optional<ProxyConfig> proxy;
    Timeouts timeouts;
    TlsPolicy tls;
    QString transferToken; // marks this run's temporary files
};

// An upload stored under its temporary name, waiting for the rename into place.
struct StoredUpload {
    QString tempPath;
    std::optional<QDateTime> modified; // the source's time when it was read
    qint64 size = FindData::UnknownSize;
};

class FtpConnectionPrivate {
public:
    // What the server has shown it offers or refuses. Refusals are remembered
    // so that a server (or an FTP proxy) is not asked again for each transfer.
    enum Capability {
        OffersMlsd = 0x01,   // FEAT lists MLST/MLSD
        OffersUtf8 = 0x02,   // FEAT lists UTF8
        RefusedEpsv = 0x04,  // EPSV answered "unknown command"
        RefusedMlsd = 0x08,  // MLSD answered "unknown command" despite FEAT
        RefusedListA = 0x10, // "LIST -a" failed where plain LIST worked
        RefusedCdup = 0x20,
        PassiveProven = 0x40,   // a passive transfer worked: its request may go ahead of the command
        RefusedStat = 0x80,     // STAT gives no listing of a folder
        StatWithoutA = 0x100,   // STAT lists, but takes no "-a"
        StatNeedsCwd = 0x200,   // STAT of a path does not show the folder's own "." entry
        StatPathProven = 0x400, // STAT of a path has listed a folder, its own "." entry shown
        // Takes a data connection before it turns to the command ("125 Data
        // connection already open"): such a server may drop one on which data
        // came before it was ready, so nothing is sent ahead of its reply.
        AcceptsDataEarly = 0x800,
        // A listing with "-a" (LIST -a, STAT -a) has shown the folder's own
        // "." or "..": every such listing of a folder shows them (vsftpd).
        ListsDotEntries = 0x1000,
        ListsCdir = 0x2000, // an MLSD listing has shown the folder's own cdir entry
        // STOR of a name starting with a dot was refused where the same name
        // without the dot was taken ("553 Prohibited file name", Pure-FTPd -x).
        RefusesDotNames = 0x4000,
        AcceptsDotNames = 0x8000, // a temporary name starting with a dot was stored
        RefusedSize = 0x10000,    // SIZE answered "unknown command"
        // Whether RNTO onto an existing file works, learnt by trying it on two
        // files of our own the first time a final rename is refused.
        RenamesOverFiles = 0x20000,
        RefusesRenameOverFiles = 0x40000,
        // A CWD and a STAT of "." sent together have listed a folder whole:
        // pairs of them may list many folders in one round trip.
        StatOfCurrentProven = 0x80000,
        // Answered a command sent after a transfer's data connection had
        // closed before the transfer's own final reply: every such reply is
        // read before anything more goes out.
        EndsTransfersLate = 0x100000,
    };
    Q_DECLARE_FLAGS(Capabilities, Capability)

    explicit FtpConnectionPrivate(LogonParameters parameters);
    const LogonParameters& parameters() const { return m_parameters; }

    // The connection's last error and reply text, which every piece working
    // for it (control and data connections, the SOCKS client) writes into.
    ErrorState& errors() { return m_errors; }
    const ErrorState& errors() const { return m_errors; }
    int lastError() const { return m_errors.code; }
    QString lastResponseInfo() const { return m_errors.reply; }
    void setLastError(int code) { m_errors.code = code; }
    void setLastResponseInfo(const QString& text) { m_errors.reply = text; }
    bool fail(int code) { return m_errors.fail(code); }

    // Connects and logs on; after a reconnection also walks back to the
    // folder the caller last entered.
    bool logon();
    // A usable control connection, replacing one that timed out or was lost.
    bool ensureConnected();

    // Sends a command and expects a reply of the given class (2 or 3);
    // anything else is ErrorExtendedError with the reply as last response.
    bool simpleCommand(const QString& command, int expectedClass, FtpReply* reply = nullptr);

    // Runs a command that transfers data: opens the data connection, sends the
    // command, and calls `transfer` on the open connection; the final reply
    // decides success. On ErrorExtendedError the last response is the reply.
    // beforeReply, where given, runs on the open data connection before the
    // command's first reply is awaited, when the command went ahead with the
    // passive request (the start of an upload).
    // oweEnd, where given, may leave the final reply for later: once the data
    // has gone and the server has closed the data connection, it is asked
    // for what to do with that reply (nothing: it is read now), which the
    // connection reads with its next write (ControlConnection::owe). True
    // then means that the reply is owed.
    using OwedEnd = ControlConnection::OwedReply;
    bool transferCommand(const QString& command, const std::function<bool(DataConnection&)>& transfer,
                         const std::function<bool(DataConnection&)>& beforeReply = {},
                         const std::function<OwedEnd()>& oweEnd = {});
    // Whether the server has ended its transfer first; if so, the final
    // reply is owed with what oweEnd gives.
    bool oweTransferEnd(DataConnection& data, bool endedAhead, const std::function<OwedEnd()>& oweEnd);

    // DELE of a leftover on a connection still in step, keeping the connection's
    // error state: clean-up after a failure must not hide the failure.
    void removeQuietly(const QString& remoteFile);
    // RNFR and RNTO.
    bool rename(const QString& from, const QString& to);
    // MKD of each folder, many to a write (see FtpConnection::createDirectories).
    bool makeFolders(const QStringList& folders, std::vector<bool>& made);
    // Replies of commands sent together, each of the class given for it
    // (AnyClass: whatever it is); the first that is not becomes the error.
    static constexpr int AnyClass = 0;
    bool requireClasses(const std::vector<FtpReply>& replies, std::initializer_list<int> classes);
    // Renames an uploaded temporary file to its final name without ever
    // leaving the name without content; see FtpConnection::putFile. Where
    // modified is given, the file gets that modification time as well; where
    // sentBytes is known, a file the server holds with another size fails.
    bool moveIntoPlace(const QString& tempPath, const QString& target, const std::optional<QDateTime>& modified = {},
                       qint64 sentBytes = FindData::UnknownSize);
    // The last step of an upload, one round trip: the size check, the time,
    // the rename, and where asked and no time is set, the time the server gave.
    struct Placement {
        bool askSize = false;
        bool setTime = false;
        bool askTime = false;
        QStringList commands;
    };
    struct PlacementReplies {
        bool cut = false; // the server holds another size than was sent
        bool timeSet = false;
        bool renamed = false;
        const FtpReply* renameFrom = nullptr;
        const FtpReply* renameTo = nullptr;
        const FtpReply* storedTime = nullptr; // the MDTM asked for, if any
    };
    Placement placement(const QString& tempPath, const QString& target, const std::optional<QDateTime>& modified,
                        qint64 sentBytes, bool askStoredTime) const;
    PlacementReplies readPlacement(const Placement& step, const std::vector<FtpReply>& replies, qint64 sentBytes);
    // Whether the rename into place (with its size check and time) can go
    // with the next command: only where nothing in it may need another round
    // trip, a rename over a file or the search for a way to set times.
    bool mayQueuePlacement(bool replacesFile, bool setsTime) const;
    // Queues that step; whenPlaced learns how it went once the replies are in.
    bool queuePlacement(const StoredUpload& stored, const QString& target, bool askStoredTime, WhenPlaced whenPlaced);
    // DELE with the next command, its outcome of no interest.
    void queueRemoval(const QString& remoteFile);
    // A rename onto an existing file worked: later ones may be queued.
    void noteRenamedOverFile();
    bool flushQueued();

    // The temporary path of an upload to remoteFile, in the style this
    // server accepts (as far as it has shown).
    QString remoteTempPath(const QString& remoteFile) const;
    QString remoteTempPath(const QString& remoteFile, TempNameStyle style) const;
    // After a refused STOR of tempPath: whether the same upload should be
    // tried once more under a name without the leading dot.
    bool mayRetryWithoutDot(const QString& tempPath) const;
    // Whether the server has shown whether it takes temporary names with a dot.
    bool knowsTempNameStyle() const { return (m_capabilities & (RefusesDotNames | AcceptsDotNames)).toInt() != 0; }
    // Learns from a STOR that worked which style of temporary name the server takes.
    void learnStoredTempName(const QString& tempPath, bool afterDotRefused);

    // After a failed upload: where the previous version was left when it
    // could not be put back under its name.
    QString leftAside;
    // The time the last putFile gave the file it stored, when the server took it.
    std::optional<QDateTime> lastStoredTime;

    // MDTM of each file, many at once; a time stays empty where the server
    // gives none. False only when the connection failed.
    bool askModificationTimes(const QStringList& files, std::vector<std::optional<QDateTime>>& times);
    // Whether this server has been found to accept no way of setting a
    // modification time.
    bool setsNoTimes() const { return m_timeSetter == TimeSetter::None; }

    // Counts time-outs in a row across calls (any success ends the run of
    // them) and passes ok through. After two, the server counts as gone.
    bool track(bool ok);
    bool serverStoppedAnswering() const { return m_timeoutsInARow >= GiveUpAfterTimeouts || m_serverUnreachable; }
    // Whether a lost connection could not be replaced: nothing answers there.
    bool serverUnreachable() const { return m_serverUnreachable; }
    int dataConnectionRefusals() const { return m_dataConnectionRefusals; }

    bool changeDirectory(const QString& directory);
    // PWD, then CWD directory unless it is empty; both sent at once without a proxy.
    bool pwdAndChange(const QString& directory, FtpReply& pwd);
    bool listDirectory(std::vector<FindData>& entries);
    // Enters folder (an absolute path) and lists it. Where the listing can
    // come over the control connection (STAT), both commands go out at
    // once: one round trip for a folder. entered tells which step failed.
    bool enterAndList(const QString& folder, std::vector<FindData>& entries, bool& entered);
    // STAT of each folder's path, all sent at once, where STAT of a path has
    // proven to list; see FtpConnection::listFoldersTogether.
    bool listByStatTogether(const QStringList& folders, std::vector<FolderListing>& listings);
    bool mayListByStatTogether() const;
    // See FtpConnection::setControlListingsWanted.
    void setControlListingsWanted(bool wanted) { m_controlListingsWanted = wanted; }

    // What TLS did on the latest logon.
    const TlsReport& tlsReport() const { return m_tlsReport; }
    bool isEncrypted() const { return m_control && m_control->isEncrypted(); }

    std::vector<QString> transcript;
    // The lines of the last listing that were neither an entry nor a known
    // line without one.
    QStringList unrecognisedListingLines;

private:
    // One command on the current control connection; a reply of another
    // class than `expectedClass` is ErrorExtendedError.
    bool exchange(const QString& command, int expectedClass, FtpReply* reply = nullptr);
    bool openControl();
    // Under a trusted certificate, TLS or no logon at all: "when offered"
    // becomes required, and no TLS is refused before anything is sent.
    bool holdToTlsUnderPin();
    bool readGreeting();
    // TLS on the control connection before anything else is said (implicit).
    bool startImplicitTls();
    // AUTH TLS after the greeting where the policy asks for it; the refusal
    // of a server is fatal only where TLS is required.
    bool startExplicitTls();
    bool encryptControl();
    // The commands that put data connections under TLS too, when the control
    // connection is encrypted: PBSZ 0 and PROT P (RFC 4217, 9).
    QStringList protectionCommands() const;
    bool sendCredentials();
    // FEAT, OPTS UTF8 ON and TYPE I; false when the server did not answer or
    // refused binary mode.
    bool negotiate();
    // FEAT and OPTS UTF8 ON one after the other; false only when the server did not answer.
    bool readFeatures();
    void learnFeatures(const FtpReply& reply);
    bool replayDirectoryTrail();
    void rememberDirectoryChange(const QString& directory);
    bool changeDirectoryOnce(const QString& directory);

    std::unique_ptr<DataConnection> openDataConnection();
    // Starts the data connection's TLS where the control connection has it.
    void protectData(DataConnection& data) const;
    std::unique_ptr<DataConnection> openPassive();
    std::unique_ptr<DataConnection> openActive();
    std::unique_ptr<QTcpSocket> connectData(quint16 port);

    // Counts a failure to get a data connection (a 425, or nothing listening
    // at the port given); always false, for the caller to return.
    bool noteDataConnectionRefusal();
    // How a listing was asked for, which tells what it always shows.
    enum class ListingForm { Mlsd, WithDotEntries, Plain };
    bool listWith(const QString& command, ListingForm form, std::vector<FindData>& entries);
    // The listing lines of a STAT reply into entries, as listWith does.
    void takeListingLines(const QStringList& lines, bool mlsd, std::vector<FindData>& entries);
    // Whether a listing holds the folder's own entries where this server has
    // shown them in a listing of this form before; learns when it has.
    bool holdsOwnEntries(const QStringList& lines, ListingForm form);
    // Whether a STAT reply is a whole listing of the folder: not cut at the
    // size limit, not empty, and with the entries the server always shows.
    bool isWholeStatListing(const FtpReply& reply, const QStringList& body, ListingForm form);
    bool mayListWithStat() const;
    // STAT lists the folder over the control connection unless its listing
    // overflowed the reply size limit: then only a data connection can.
    bool mayListWithStat(const QString& folder) const;
    QString statCommand() const;
    ListingForm statForm() const;
    // CWD and STAT of the current folder sent together; a STAT that gives no
    // whole listing leaves it to listDirectory.
    bool enterAndListByStat(const QString& folder, std::vector<FindData>& entries, bool& entered);
    // After a STAT that gave no listing: whether to try again without "-a".
    bool learnStatRefusal(const FtpReply& reply);
    // STAT -a of the folder's path alone, accepted only when its listing proves
    // the folder is there; false (nothing learnt) otherwise.
    bool listByStatPath(const QString& folder, std::vector<FindData>& entries, bool& connectionLost);
    // Whether STAT of each folder's own path lists it (its "." entry shown).
    bool listsPathsByStat() const;
    // A pair "CWD folder", STAT of "." for each folder, all sent at once;
    // see listByStatTogether.
    bool listByEnteringTogether(const QStringList& folders, std::vector<FolderListing>& listings);
    // The listing of a STAT reply into listing, where it is a whole one;
    // notes a folder whose listing overflowed the reply size limit.
    void takeWholeStatListing(const QString& folder, const FtpReply& reply, FolderListing& listing);
    bool mayPipelinePassive() const;
    // EPSV (or PASV) and the command in one go; the data connection opened.
    std::unique_ptr<DataConnection> openPassiveAhead(const QString& command);

    // The ways of setting a modification time, in the order they are tried
    // until one works; the one that worked is kept for the connection.
    enum class TimeSetter : quint8 { Mfmt, MdtmWithTime, SiteUtime, None };
    QString timeCommand(const QDateTime& modified, const QString& path) const;
    // Learns from the reply to timeCommand; true when the time was set.
    bool learnTimeReply(const FtpReply& reply);
    bool setTimeTryingEachWay(const QString& path, const QDateTime& modified);
    // SIZE (where known), the time command (where modified is given), RNFR
    // and RNTO, all in one write. A size other than sentBytes fails with
    // ErrorUploadSizeMismatch, and a target already renamed is deleted.
    bool renameCheckingSize(const QString& tempPath, const QString& target, const std::optional<QDateTime>& modified,
                            qint64 sentBytes, bool& timeSet);
    // Whether the reply to SIZE shows another size than sentBytes; learns a
    // server that knows no SIZE.
    bool sizeDiffers(const FtpReply& reply, qint64 sentBytes);
    bool moveAsideAndIntoPlace(const QString& tempPath, const QString& target);
    // Whether this server refuses to rename onto an existing file. Learnt
    // once per connection with two files of our own beside tempPath (an
    // empty one stored for the purpose), so that the user's file is never
    // moved for a refusal that has another reason (a name rule).
    bool refusesRenameOverFiles(const QString& tempPath);

    LogonParameters m_parameters;
    // Declared before everything that holds a reference to it.
    ErrorState m_errors;
    std::optional<SocksClient> m_socks;
    std::unique_ptr<ControlConnection> m_control;
    Capabilities m_capabilities;
    // CWD arguments since the home folder or the last absolute one, so a
    // replacement connection can return to the folder the caller is in.
    QStringList m_directoryTrail;
    // One time-out may be a lost packet or a dropped connection, and a fresh
    // logon deals with it; a second in a row means the server is not answering.
    static constexpr int GiveUpAfterTimeouts = 2;
    int m_timeoutsInARow = 0;
    // The pauses after each failed attempt to replace a lost connection.
    static constexpr std::array<Milliseconds, 3> ReconnectPauses{Milliseconds{250}, Milliseconds{750},
                                                                 Milliseconds{1'500}};
    bool m_serverUnreachable = false;
    // How long the end of an upload sent whole ahead of its command may take
    // once the server has turned to the command.
    static constexpr Milliseconds EndOfEarlyUploadWait{5'000};
    // How long an upload waits for the server to close the data connection
    // before it reads the final reply at once instead.
    static constexpr Milliseconds EndOfTransferWait{2'000};
    int m_dataConnectionRefusals = 0;
    // Folders (absolute paths) whose STAT listing overflowed the reply size limit.
    QSet<QString> m_statOverflowed;
    // The caller takes listings in LIST form (times to the minute, in the
    // server's zone) over the control connection even where MLSD is offered.
    bool m_controlListingsWanted = false;
    TimeSetter m_timeSetter = TimeSetter::Mfmt;
    bool m_timeSetterProven = false;
    TlsReport m_tlsReport;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(FtpConnectionPrivate::Capabilities)

} // namespace inet
