#pragma once

// The FTP client service: a synchronous RFC 959 client (with the RFC 2428 and
// RFC 3659 extensions) on QtNetwork. Every call runs on the calling thread and
// blocks until done. Calls never throw: a failing call returns false or an
// empty handle, and the connection that met the failure keeps its code and
// the server's last reply; a call that leaves no object to ask (opening a
// session, a logon) returns them as a value.

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTime>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "inet/ProxyConfig.h"

namespace inet {

// Error codes of the service. The numbers follow the classic internet error
// range so that stored logs and user expectations stay stable; 18 marks the end
// of a listing. Local file-system failures are reported with their errno value.
enum ErrorCode : int {
    ErrorSuccess = 0,
    ErrorNoMoreFiles = 18,
    ErrorOutOfHandles = 12001,
    ErrorTimeout = 12002,
    ErrorExtendedError = 12003, // the server sent an error reply: see FtpConnection::lastResponseInfo()
    ErrorInternalError = 12004,
    ErrorInvalidUrl = 12005,
    ErrorNameNotResolved = 12007,
    ErrorProtocolNotFound = 12008,
    ErrorInvalidOption = 12009,
    ErrorLoginFailure = 12015,
    ErrorInvalidOperation = 12016,
    ErrorOperationCancelled = 12017,
    ErrorIncorrectHandleType = 12018,
    ErrorIncorrectHandleState = 12019,
    ErrorCannotConnect = 12029,
    ErrorConnectionAborted = 12030,
    ErrorConnectionReset = 12031,
    ErrorInvalidProxyRequest = 12033,
    ErrorProxyServerUnreachable = 12165,
    ErrorFtpTransferInProgress = 12110,
    ErrorFtpDropped = 12111,
    ErrorFtpNoPassiveMode = 12112,
    ErrorProxyBindUnsupported = 12113,       // active mode through a SOCKS proxy without BIND
    ErrorUnsafeCommand = 12114,              // a command holding CR, LF or NUL was refused before it was sent
    ErrorServerNotAnswering = 12115,         // two time-outs in a row: the connection gives up
    ErrorSourceChanged = 12116,              // an upload's local file changed before its upload was complete
    ErrorTlsRefused = 12117,                 // TLS is required and the server refused AUTH TLS
    ErrorTlsFailed = 12118,                  // the TLS handshake failed
    ErrorCertificateUntrusted = 12119,       // the server's certificate is not trusted: see TlsReport
    ErrorCertificateChanged = 12120,         // the certificate is not the one trusted for this server
    ErrorImplicitTlsThroughFtpProxy = 12121, // an FTP proxy must read the logon, so it cannot pass implicit TLS
    ErrorListingIncomplete = 12122,          // the server's listing of a folder failed or did not come whole
    ErrorPinnedWithoutTls = 12123,           // a certificate is trusted for the server, yet TLS is not to be used
    ErrorDownloadSizeMismatch = 12124,       // a download brought another number of bytes than the listing gave
    ErrorUploadSizeMismatch = 12125,         // the server holds another number of bytes than the upload sent
};

// A failure as a value: for a call that leaves no object to ask why.
struct Failure {
    int code = ErrorSuccess;
    // The text of the last reply the server sent, every line of a multi-line
    // reply included, each ended by CR LF; empty when none came.
    QString lastResponseInfo;
};

// How the last step of an upload went (see FtpConnection::putFileQueuingPlacement).
struct PlacedUpload {
    bool ok = false;
    Failure failure;                     // when not ok
    std::optional<QDateTime> storedTime; // the stored file's time (UTC), when known
};
using WhenPlaced = std::function<void(const PlacedUpload&)>;
// How a download ended (see FtpConnection::getFileFinishingLater): no
// failure when the file is in place.
using WhenFetched = std::function<void(const Failure* failure)>;

// The service's own description of one of its error codes, or an empty text
// when the code is not the service's.
QString errorDescription(int code);

// A run's mark in the names of its temporary files: eight lowercase hex
// digits, drawn at random. Two runs writing one folder use different names, so
// neither can write into the other's file.
QString newTransferToken();
bool isTransferToken(const QString& text);

// Whether a temporary name starts with a dot (hidden on most systems, and
// what every server but a few accepts) or not (for servers that refuse names
// starting with a dot).
enum class TempNameStyle : quint8 { Hidden, Visible };

// The name under which a transfer writes a file before renaming it into
// place: ".name.TOKEN.vstmp" beside the target (Visible: "name.TOKEN.vstmp"),
// the same pattern on both sides. A name too long for that (more than 255
// bytes of UTF-8 in all) keeps a shortened start and a digest of the whole
// name, so the result still fits and still differs from the temporary names
// of other files.
QString transferTempName(const QString& fileName, const QString& token, TempNameStyle style = TempNameStyle::Hidden);
// Whether a bare file name is such a temporary name (an aside name included,
// and the ".name.vstmp" of earlier versions); both scans skip these names.
bool isTransferTempName(const QString& fileName);
// The run token a temporary name carries; empty for an aside name or the
// form of earlier versions.
QString transferTokenOf(const QString& tempName);
// The name under which an upload keeps the old remote file while it renames
// the new one in, on servers that will not rename over a file:
// ".name.vsold.vstmp" (Visible: "name.vsold.vstmp"), of the temporary
// pattern too. Should the replace be cut off, the old content is found under
// it: originalOfAsideName gives the file's own name back (empty when the text
// is no such name, or one shortened beyond recovery).
QString asideTempName(const QString& fileName, TempNameStyle style = TempNameStyle::Hidden);
QString originalOfAsideName(const QString& tempName);

// Connect, reply and data inactivity limits. Tests may shorten them.
struct Timeouts {
    std::chrono::milliseconds connect{30'000};
    std::chrono::milliseconds reply{60'000};
    std::chrono::milliseconds data{60'000};
};
// The limits new sessions start with.
Timeouts defaultTimeouts();
void setDefaultTimeouts(const Timeouts& timeouts);

// How a connection protects itself with TLS (RFC 4217).
enum class Encryption {
    None,              // plain FTP
    ExplicitIfOffered, // AUTH TLS; clear text when the server refuses it
    ExplicitRequired,  // AUTH TLS; the logon stops when the server refuses it
    Implicit,          // TLS from the first byte (usually port 990)
};

struct TlsPolicy {
    Encryption encryption = Encryption::None;
    // SHA-256 of a certificate the user trusts for the server (raw bytes):
    // then that certificate, and only that one, is accepted, and the logon
    // never goes on in clear text: ExplicitIfOffered counts as
    // ExplicitRequired, and None is refused before connecting
    // (ErrorPinnedWithoutTls). Empty: the system's trusted roots and the
    // host name decide.
    QByteArray trustedFingerprint;
};

// What the TLS part of a logon found out, whether it succeeded or not.
struct TlsReport {
    bool encrypted = false;       // the control connection is protected (PROT P for data too)
    bool refusedByServer = false; // AUTH TLS was refused and the logon went on in clear text
    QString certificateProblem;   // why the certificate was refused; empty when it was not
    QString tlsError;             // what the handshake met when it failed
    QByteArray fingerprint;       // SHA-256 of the server's certificate, once one was seen
};

// "AB:CD:..." for a SHA-256 fingerprint.
QString fingerprintText(const QByteArray& sha256);
// A SHA-256 fingerprint from 64 hex digits, colons optional, any letter case;
// empty when the text is no such fingerprint.
std::optional<QByteArray> parseFingerprint(const QString& text);

enum class AccessType {
    Preconfigured = 0, // a direct connection
    Proxy = 3,         // the proxy named by the proxy text
};

// One listing entry. The time is a wall-clock time without a zone: MLSD times
// (UTC on the wire) are converted to local time; LIST times are taken as
// listed, in whatever zone the server lists in, and timeSource says so.
struct FindData {
    // The size of an entry whose listing gave none that makes sense.
    static constexpr qint64 UnknownSize = -1;

    enum class TimeSource : quint8 {
        Local,     // converted to local time (MLSD), or no time at all
        Listed,    // a LIST date and time of day, in the server's listing zone
        ListedDay, // a LIST date without a time of day (entries older than six months)
    };

    QString name;
    bool isDirectory = false;
    // A symbolic link: its size is the link's own, not that of what RETR sends.
    bool isLink = false;
    qint64 size = 0;
    QDate modifiedDate;
    QTime modifiedTime;
    TimeSource timeSource = TimeSource::Local;
};

// One folder's listing of FtpConnection::listFoldersTogether.
struct FolderListing {
    bool listed = false; // false: not listed this way, list it with listFolder
    std::vector<FindData> entries;
    QStringList unrecognisedLines; // as FtpConnection::unrecognisedListingLines()
};

// A listing handle. The listing was read whole before the handle was returned,
// so no data connection stays open while it is walked.
class FtpFind {
public:
    explicit FtpFind(std::vector<FindData> entries);
    // The next entry; false at the end (then lastError() is ErrorNoMoreFiles).
    bool findNext(FindData& data);
    // ErrorNoMoreFiles once findNext has come to the end; 0 before.
    int lastError() const { return m_lastError; }

private:
    std::vector<FindData> m_entries;
    size_t m_next = 1; // entry 0 went out with findFirstFile
    int m_lastError = ErrorSuccess;
};

class FtpConnectionPrivate;

// One logged-on control connection. Destroying it sends QUIT and closes it.
// Create, use and destroy it on one thread. After a time-out or a dropped
// connection the next call logs on afresh and returns to the folder the caller
// had entered, so a late reply is never read as the answer to a later command
// and a retry after ErrorTimeout can succeed.
class FtpConnection {
public:
    explicit FtpConnection(std::unique_ptr<FtpConnectionPrivate> d);
    ~FtpConnection();
    FtpConnection(const FtpConnection&) = delete;
    FtpConnection& operator=(const FtpConnection&) = delete;

    // The code of the last failure a call on this connection met (0 when
    // none has): read it after a call returned false or an empty handle.
    int lastError() const;
    // The text of the last reply the server sent on this connection, every
    // line of a multi-line reply included, each ended by CR LF. Empty before
    // the first reply. With ErrorExtendedError it is the refusal.
    QString lastResponseInfo() const;

    // PWD: the current remote folder, unquoted.
    bool getCurrentDirectory(QString& directory);
    // CWD (CDUP for ".."): absolute or relative to the current folder.
    bool setCurrentDirectory(const QString& directory);
    // PWD and then CWD directory, sent together where nothing stands between
    // us and the server: the folder that was current goes to previous.
    // False as soon as either fails (previous is empty when PWD did).
    bool enterFromCurrent(const QString& directory, QString& previous);
    // Lists the current folder (MLSD when offered, LIST otherwise) and returns
    // its first entry; "." and ".." are never returned. An empty folder gives
    // an empty handle with last error ErrorNoMoreFiles.
    std::unique_ptr<FtpFind> findFirstFile(const QString& pattern, FindData& first);
    // Enters folder (an absolute path) and lists it as findFirstFile does; in
    // one round trip where the server lists over the control connection
    // (STAT). entered tells whether the folder could be entered at all; when
    // not, the last error is the refusal to enter it.
    std::unique_ptr<FtpFind> listFolder(const QString& folder, FindData& first, bool& entered);
    // Lists several folders (absolute paths) in one round trip where the
    // server has shown that it lists a path over the control connection; a
    // folder it does not list so (or every one, on other servers) is left
    // unlisted for listFolder. False only when the connection failed.
    bool listFoldersTogether(const QStringList& folders, std::vector<FolderListing>& listings);
    // Whether listFoldersTogether would list folders at all on this connection.
    bool listsFoldersTogether() const;
    // Where the server offers MLSD, folders are listed with it, for its exact
    // UTC times, and so over a data connection each. A caller that needs no
    // exact times for most files (it knows them already) may want listings
    // over the control connection instead (STAT), many folders in one round
    // trip, with LIST-form times: to the minute (or the day), in the server's
    // listing zone. A folder not proven to be listed whole that way is still
    // listed with MLSD. Off by default.
    void setControlListingsWanted(bool wanted);
    // RETR into a temporary file beside localFile, renamed over it when
    // complete. A file that is replaced keeps its permission bits; a link to
    // a file is written through (the file it points to gets the content).
    // Where expectedSize is known (the listing's size), a file that arrives
    // with another size replaces nothing: ErrorDownloadSizeMismatch.
    bool getFile(const QString& remoteFile, const QString& localFile, bool failIfExists,
                 qint64 expectedSize = FindData::UnknownSize);
    // getFile(), except that the server's final reply, and with it the rename
    // into place, may wait for the connection's next command, where the
    // server has closed the data connection first: the next request then
    // goes one round trip earlier. whenFetched learns how the download ended:
    // before this returns, or during a later call on this connection or
    // flushQueued(). False (whenFetched not called) when it failed before.
    bool getFileFinishingLater(const QString& remoteFile, const QString& localFile, qint64 expectedSize,
                               WhenFetched whenFetched);
    // STOR under a temporary name in the target folder, renamed when complete
    // and given the local file's modification time where the server allows.
    // Where the server will not rename over the existing file, that file is
    // moved aside first and put back should the new one not get in, so the
    // old or the new content is under the name at every moment. A local file
    // that changed during the upload (its size or time), or for which
    // sourceUnchanged answers false after the data went, is not renamed into
    // place: ErrorSourceChanged. Only a server that has shown that it cannot
    // rename over a file gets the old file moved aside; any other refusal of
    // the final rename leaves it untouched. Where the server tells sizes
    // (SIZE), a stored file of another size than was sent is a failure
    // (ErrorUploadSizeMismatch) and is not left under the file's name.
    bool putFile(const QString& localFile, const QString& remoteFile,
                 const std::function<bool()>& sourceUnchanged = {});
    // putFile(), except that its last step (the size check, the time and the
    // rename into place, one round trip) may go out with the connection's
    // next command instead, where the server has shown that nothing in that
    // step will need a second one: the next file's request then rides in the
    // same round trip. whenPlaced learns how the step went: before this
    // returns when it ran at once, else during a later call on this
    // connection or flushQueued(). False (whenPlaced not called) when the
    // upload failed before that step, or ran it at once and failed.
    // replacesFile: the server holds a file of that name now. askStoredTime:
    // where the server cannot be given the file's time, ask the one it gave.
    bool putFileQueuingPlacement(const QString& localFile, const QString& remoteFile,
                                 const std::function<bool()>& sourceUnchanged, bool replacesFile, bool askStoredTime,
                                 WhenPlaced whenPlaced);
    // Sends what waits to go with the next command, and reads the replies.
    bool flushQueued();
    // MKD of each folder, many in one write, in the order given (a parent
    // before its children); made[i] tells whether folders[i] was created. A
    // refusal (the folder exists, no permission) is no failure of the call:
    // false only when the connection failed.
    bool createDirectories(const QStringList& folders, std::vector<bool>& made);
    // After a failed putFile: the path under which the previous version of
    // the file was left because the server refused to put it back under its
    // own name; empty when it was not.
    QString previousVersionLeftAside() const;
    // After a successful putFile: the modification time (UTC, to the second)
    // the stored file was given; none when the server would not take it.
    std::optional<QDateTime> lastStoredTime() const;
    // The run token in the names of this connection's temporary files.
    QString transferToken() const;
    // The UTC modification time of each remote file (MDTM), asked many at
    // once; a time is empty where the server gave none. False only when the
    // connection failed.
    bool modificationTimes(const QStringList& remoteFiles, std::vector<std::optional<QDateTime>>& times);
    // True once putFile has found that the server accepts no way of setting
    // a file's modification time (MFMT, MDTM with a time, SITE UTIME).
    bool setsNoModificationTimes() const;
    // RNFR and RNTO.
    bool renameFile(const QString& from, const QString& to);
    // DELE.
    bool deleteFile(const QString& remoteFile);
    // MKD.
    bool createDirectory(const QString& directory);

    // True once two calls in a row have timed out (the second after the
    // connection logged on afresh): the server has stopped answering, and
    // every further call fails at once with ErrorServerNotAnswering.
    bool serverStoppedAnswering() const;
    // True once a lost connection could not be replaced, after a few short
    // pauses, because nothing answers at the server's address; then
    // serverStoppedAnswering() is true as well.
    bool serverUnreachable() const;
    // How many times a transfer on this connection could not get its data
    // connection (a 425 reply, or nothing listening at the port given).
    int dataConnectionRefusals() const;

    // The lines of the last listing that findFirstFile could not read: neither
    // an entry nor a line known to hold none. The listing is then incomplete.
    QStringList unrecognisedListingLines() const;

    // The commands sent on this connection so far (PASS shown as "PASS ****").
    const std::vector<QString>& transcript() const;
    // Whether the control connection, and with it every data connection, is
    // protected by TLS.
    bool isEncrypted() const;

    FtpConnectionPrivate* d_func() { return d.get(); }

private:
    std::unique_ptr<FtpConnectionPrivate> d;
};

// What InternetSession::connect brings: the logged-on connection, or why
// there is none.
struct ConnectResult {
    std::unique_ptr<FtpConnection> connection;
    Failure failure; // code ErrorSuccess when there is a connection
};

struct OpenResult;

// The service object: holds the proxy choice and the limits for the
// connections it makes.
class InternetSession {
public:
    // Opens the service. With AccessType::Proxy the proxy text is
    // "ftp=ftp://HOST:PORT" (an FTP proxy, USER user@server[:port] logon) or
    // "socks=HOST:PORT" (SOCKS5, falling back to SOCKS4). A malformed proxy text
    // gives no session and ErrorInvalidProxyRequest.
    static OpenResult open(const QString& agent, AccessType access, const QString& proxy);
    // Opens the service, through proxy when one is given. A proxy that
    // cannot be used (isUsableProxy) gives no session and ErrorInvalidProxyRequest.
    static OpenResult open(const QString& agent, const std::optional<ProxyConfig>& proxy);
    ~InternetSession();
    InternetSession(const InternetSession&) = delete;
    InternetSession& operator=(const InternetSession&) = delete;

    void setTimeouts(const Timeouts& timeouts);
    Timeouts timeouts() const;
    // How the connections made from now on use TLS. Set it before the
    // connections are made: connect() may run on several threads at once.
    void setTlsPolicy(const TlsPolicy& policy);
    TlsPolicy tlsPolicy() const;
    // The token that marks the temporary files of the connections made from
    // now on (see newTransferToken); a new session draws its own. A text of
    // another shape is ignored.
    void setTransferToken(const QString& token);
    QString transferToken() const;

    // Connects and logs on (AUTH TLS as the policy says, USER/PASS, PBSZ 0 and
    // PROT P when encrypted, FEAT, OPTS UTF8 ON when offered, TYPE I). No
    // connection on failure, and the failure says why: a refused logon is
    // ErrorExtendedError with the server's reply as the last response info.
    // report, where given, tells what TLS did, on success and on failure;
    // the password is never sent when TLS was wanted and failed. May run on
    // several threads at once: each call's failure is its own.
    ConnectResult connect(const QString& server, quint16 port, const QString& userName, const QString& password,
                          bool passive, TlsReport* report = nullptr);

private:
    InternetSession() = default;

    struct ProxySetting;
    std::unique_ptr<ProxySetting> m_proxy;
    Timeouts m_timeouts = defaultTimeouts();
    TlsPolicy m_tlsPolicy;
    QString m_transferToken = newTransferToken();
};

// What InternetSession::open brings: the session, or why there is none.
struct OpenResult {
    std::unique_ptr<InternetSession> session;
    Failure failure; // code ErrorSuccess when there is a session
};

} // namespace inet
