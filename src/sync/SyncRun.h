#pragma once

#include "inet/FtpService.h"
#include "model/ProjectSettings.h"
#include "sync/ConnectionPool.h"
#include "sync/FileJobs.h"
#include "sync/FolderListing.h"
#include "sync/ListOfFiles.h"
#include "sync/Masks.h"
#include "sync/Plan.h"
#include "sync/RemoteFolders.h"
#include "sync/RunOutcome.h"
#include "sync/RunLock.h"
#include "sync/RunOptions.h"
#include "sync/RunProgress.h"
#include "sync/ServerTimes.h"
#include "sync/StateDecision.h"
#include "sync/SyncState.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

// Why the stored port, proxy port (which matters only with a proxy) or
// encryption cannot be used ("Port 89536 is outside the range 1 to 65535");
// empty when it can.
QString serverPortProblem(const ProjectSettings& settings);
QString proxyPortProblem(const ProjectSettings& settings);
QString encryptionProblem(const ProjectSettings& settings);

// Where a run's news goes. Each is called on the run's thread; any may be empty.
// A local folder as the file system knows it: device and inode.
using FolderIdentity = std::pair<quint64, quint64>;

struct RunHooks {
    // One log line, already made inert for a terminal.
    std::function<void(const QString& line)> log;
    // The scans or passes moved on (after Progress was updated).
    std::function<void()> progress;
    // A transfer, deletion, failure or skipped name, for those who listen.
    std::function<void(const engine::RunEvent& event)> event;
    // Counts of the run for displays that poll them from another thread;
    // shared so that they outlive the run they describe.
    std::shared_ptr<engine::RunProgress> counts;
};

// One synchronisation of a project: its own copy of the settings, its
// connections, both file lists, what the scans learnt, the stop flag and the
// outcome. Its operations keep the names of the project's doors into it.
class SyncRun {
public:
    explicit SyncRun(ProjectSettings settings, RunOptions options = {}, RunHooks hooks = {});
    ~SyncRun();
    SyncRun(const SyncRun&) = delete;
    SyncRun& operator=(const SyncRun&) = delete;

    const ProjectSettings& Settings() const { return m_settings; }
    // Between the steps of a run driven step by step, the settings it works
    // with; never while Run is in progress.
    void Reconfigure(const ProjectSettings& settings, const RunOptions& options) {
        m_settings = settings;
        m_options = options;
    }
    // Asks the run to stop at the next file; safe from any thread.
    void RequestStop() { StopRequested = true; }
    // Hands one line to the log hook, made inert for a terminal first.
    void Log(const QString& message);
    // Updates the scan counts and calls the progress hook.
    void DoProgress();

    // --- Connection (sync/RunConnection.cpp) --------------------------------

    // The problems above, of this run's settings.
    QString ServerPortProblem() const;
    QString ProxyPortProblem() const;
    QString EncryptionProblem() const;
    // Opens the service and logs on, logging progress and failure lines. A
    // port problem is logged as its one line, and nothing is opened.
    bool Connect();
    // Closes the connection, then the service. Always true.
    bool Disconnect();

    // --- Scans (sync/LocalScan.cpp, sync/RemoteScan.cpp) ----------------------

    void CollectLocalFiles();
    void CollectLocalFolder(const QString& relativePath);
    void CollectRemoteFiles();
    void CollectRemoteFolder(const QString& relativePath);

    // --- Per-file actions (sync/Transfers.cpp) ------------------------------

    // scanned: what the local scan saw of the file; the upload is not renamed
    // into place when the file no longer matches it. remoteName: the remote
    // list's spelling of the same file, when it has one.
    bool UploadFile(const QString& name, const QString& remoteName = {}, const TFileEntry* scanned = nullptr);
    // reason, when given, follows the line that the file has been deleted.
    bool DeleteLocalFile(const QString& name, const QString& reason = {});

    // --- Run (sync/Run.cpp) ---------------------------------------------------

    // One whole synchronisation: connect, scan both trees, run the passes of
    // SyncMode, log the summary, disconnect. An exception that leaves it (an
    // invalid mask, say) is logged as one line and closes the connection first;
    // then it propagates to the caller. Fills LastRunOutcome.
    void Run();
    int DownloadFiles();
    int UploadFiles();
    int DeleteLocalFiles();
    int DeleteRemoteFiles();

    // --- The run's state --------------------------------------------------------
    std::unique_ptr<inet::InternetSession> InternetHandle;
    std::unique_ptr<inet::FtpConnection> ConnectHandle;
    TListOfFiles LocalFiles;
    TListOfFiles RemoteFiles;
    std::atomic<bool> StopRequested{false};
    // Filled by Run; read after it returns.
    RunOutcome LastRunOutcome;

private:
    ProjectSettings m_settings;
    RunOptions m_options;
    RunHooks m_hooks;
    engine::RunProgress& Progress() { return *m_hooks.counts; }
    // State of the scan in progress.
    FileFilter m_fileFilter; // the settings' masks, made again by each scan
    FileFilter FileFilterOfSettings() const;
    // The local folders entered by the scan in progress, as device and inode.
    std::set<FolderIdentity> m_visitedLocalFolders;
    // Folders the run's scans have entered, for the progress.
    qint64 m_localFoldersSeen = 0;
    qint64 m_remoteFoldersSeen = 0;
    // The last line logged, for the event of an action that logged its own failure.
    QString m_lastLogLine;
    // Folder links of the local tree that lead outside it and have been
    // reported in this run (relative names).
    QSet<QString> m_reportedOutsideLinks;

    // Logs that a name was left out of a scan ("local" or "remote" side) and
    // counts it as a problem of the run.
    void SkipName(const QString& side, const QString& name, const QString& reason);
    // The event of a name left out of a scan, for those who listen: the name
    // as text, unescaped.
    void ReportSkippedName(const QString& side, const QString& name, const QString& reason);
    // An old remote file found under its aside name, its own name missing.
    struct AsideLeftover {
        inet::FindData entry;
        QString originalName;
    };
    void AddRemoteFile(const RelativeName& name, const inet::FindData& data);
    // A remote entry's time as local wall-clock time, as the list holds it.
    NaiveDateTime RemoteTimeOf(const inet::FindData& data);
    // Learns the zone of LIST times from the listings (or takes the setting).
    void LearnListingZone();
    // Asks the exact time of the remote files that were listed with a date
    // only, where the decision depends on it.
    void AskExactTimes();
    void AskExactTimesOfDownloads(const std::vector<engine::PlannedAction>& plan);
    void CreateFoldersAhead(const std::vector<engine::PlannedAction>& plan, const engine::FileRoots& roots);
    // MDTM of these RemoteFiles items, shared among the connections.
    void AskExactTimesOf(const std::vector<int>& wanted);
    // Why a pass acts on walked's file: " (local ..., remote ...)" or
    // " (not on the server)".
    QString MoveReason(const TListOfFiles& walked, int index, const TListOfFiles& searched, int match) const;
    // Logs each notice the first time this run meets it.
    void LogNoticesOnce(const QStringList& notices);
    void NoteRemoteFolderIncomplete();
    // Whether the upload of a file is withheld because its remote folder (or
    // one above it) could not be listed, where the server may hold a newer
    // copy the scan never saw. Logs one line per such folder.
    bool UploadWithheld(const QString& name);
    // Logs a local folder that could not be listed; the scan is then incomplete.
    void NoteLocalFolderUnread(const QString& folder, const QString& reason);
    void RestoreAsideLeftover(const QString& relativePath, const AsideLeftover& aside);
    // True once the connection has given up on a server that stopped answering.
    bool ServerStoppedAnswering() const;
    bool ServerUnreachable() const;
    // Logs the lines of a listing that could not be read and marks the remote
    // scan incomplete.
    void NoteUnrecognisedListingLines(const QString& relativePath, const QStringList& lines);
    // Whether a local file may be written or deleted: no folder level of its
    // path is a link that leads outside the local folder. A refusal is logged
    // once per link.
    // A link in the file's own place is checked too when the file is to be
    // written through it.
    bool MayChangeLocally(const RelativeName& name, bool writeThroughFileLink);

    // The passes of SyncMode and the summary line.
    void RunPasses();
    // Whether an exact copy's deletions on the target side may go ahead, given
    // what the scan of the source side saw; says why not when they may not.
    bool SourceAllowsDeletion(const TListOfFiles& source, const TListOfFiles& target, bool sourceScanComplete,
                              const QString& targetSide, const QString& sourceSide);
    // After the summary: a line when the server stopped answering, and one
    // with the number of problems when there were any.
    void LogServerLossAndProblems();

    // One pass with work on the server: plans what `walked` needs against
    // `searched` and runs the actions on the pool (or logs dryRunLine with the
    // name on a dry run). Returns how many files it acted
    // on; failed actions are counted in LastRunOutcome.
    // The action's work for one planned file, or none when it was refused
    // before it started (logged already; a failed action).
    using PassAction = std::function<std::optional<engine::Job>(int index, const QString& name, int match)>;
    int RunPass(engine::ActionKind kind, const TListOfFiles& walked, const TListOfFiles& searched,
                const std::vector<engine::PlannedAction>& plan, const QString& dryRunLine, const PassAction& act);
    // The work of a pass's job wrapped so that the progress counts it and its
    // outcome carries what the run's events need.
    engine::Job CountedJob(engine::ActionKind kind, int index, const QString& name, qint64 bytes, engine::Job job);
    // Hands an event to those who listen, marked as of a dry run where it is.
    void Report(engine::RunEvent event);
    // Reports one action's end as an event, when someone listens.
    void ReportAction(engine::ActionKind kind, const QString& name, qint64 bytes, bool ok, const QString& reason,
                      const QString& serverReply);
    // What the passes of SyncMode will do, counted before the first of them
    // starts, so progress can show the whole run's total from the beginning.
    // Returns how many deletions the plan holds.
    qint64 PlanProgress();
    // Whether the planned deletions stay within MaxDelete; logs why not.
    bool DeletionsWithinLimit(qint64 planned);
    // The scan counts for the progress (on the run's thread, as the scans go).
    void NoteScanProgress();

    // --- The run's connections and what it knows of the remote tree ---------
    // The pool of the run's connections, made on first use around ConnectHandle.
    engine::ConnectionPool& Pool();
    // Closes the pool's own connections (never ConnectHandle).
    void ClosePool();
    engine::RemoteFolders& RemoteFolderMemory();
    // The roots the file actions use, from the settings and what the scan learnt.
    engine::FileRoots Roots() const;
    // The lock that keeps other runs off this run's pair of folders for as
    // long as it lives; none, with one line logged and LastRunOutcome.notStarted
    // set, when another run holds it or it cannot be made.
    std::unique_ptr<engine::RunLock> LockRun();
    // The failure line of a logon, with what TLS found when TLS is at fault.
    void LogConnectFailure(const inet::Failure& failure, const inet::TlsReport& tls);
    // Logs an action's lines; its success.
    bool LogOutcome(const engine::JobOutcome& outcome);
    void LogPoolNotices();

    // Enters the remote folder and starts listing its tree on the pool's
    // connections, so that the listings come while the local side is
    // scanned; nothing is logged. CollectRemoteFiles does it when no one has.
    void StartRemoteListing();
    // Whether the remote tree is listed over the control connection even where
    // the server offers MLSD: on a re-sync, not on a first run.
    bool ListsWithoutExactTimes() const;
    void FinishRemoteListing();
    bool m_remoteListingStarted = false;
    // Where the run's own connection was before the scan entered the remote folder.
    QString m_remoteStartFolder;

    QHash<QString, std::shared_ptr<const engine::FolderListing>> m_remoteListings;
    // Remote folders (relative paths, "" for the root) the scan found but
    // could not enter or list, and those of them the upload pass has named.
    QStringList m_unlistedRemoteFolders;
    QSet<QString> m_withheldUploadFolders;
    std::unique_ptr<engine::ConnectionPool> m_pool;
    std::unique_ptr<engine::RemoteFolders> m_remoteFolders;
    // The remote root as an absolute path with "/", once the scan resolved it.
    QString m_remoteBase;
    // Minutes east of UTC of the server's LIST times, when known.
    std::optional<int> m_listingZone;
    // RemoteFiles items whose listing gave a day without a time.
    std::vector<int> m_remoteDayOnly;
    // Temporary files of interrupted transfers the scans found, by relative
    // name, with their times; see CleanLeftovers.
    struct Leftover {
        RelativeName name;
        NaiveDateTime time;
    };
    std::vector<Leftover> m_localLeftovers;
    std::vector<Leftover> m_remoteLeftovers;
    // Notes a temporary file a scan met, unless it is one of this run's.
    void NoteLeftover(std::vector<Leftover>& found, const QString& relativePath, const QString& name,
                      NaiveDateTime time);
    // Removes the leftovers on an exact copy's target side and names the
    // others, one line each; those written lately may be another run's work
    // in progress and are left alone.
    void CleanLeftovers();
    void CleanLeftoversOf(bool local, bool remove, const std::vector<Leftover>& found);
    // RemoteFiles items whose listed size says nothing of what RETR sends (links).
    QSet<int> m_remoteSizeUnchecked;

    // --- What the project's runs remember (sync/RunMemory.cpp) -----------------
    // The project's sync state, opened under the run lock; none when it
    // cannot be kept (the run then decides as a first run).
    std::unique_ptr<engine::SyncState> m_state;
    // One file's decision: what to do, whether a record of the last run
    // decided it (rather than the clocks), and why.
    struct Verdict {
        engine::StateAction action = engine::StateAction::None;
        bool byRecord = false;
        int match = -1; // the same file's index in the other list
        QString reason;
    };
    // By LocalFiles and RemoteFiles index, made before the passes.
    std::vector<Verdict> m_localVerdicts;
    std::vector<Verdict> m_remoteVerdicts;
    // Each RemoteFiles item as its listing showed it (and its exact time once asked).
    std::vector<engine::RemoteSnapshot> m_remoteSeen;
    // Each list's names by their match keys, made once the scans are done
    // and made again when a list has grown or shrunk since.
    const FileNameIndex& LocalIndex();
    const FileNameIndex& RemoteIndex();
    std::optional<FileNameIndex> m_localIndex;
    std::optional<FileNameIndex> m_remoteIndex;
    // Records of files that both sides lack, found while deciding.
    QStringList m_goneFromBoth;
    // Exact remote times as local ones, for many files at once.
    engine::LocalTimes m_localTimes;
    // When the run started, local time: it names the copies conflicts keep.
    QDateTime m_startedAt;

    void OpenSyncState();
    // The state's rows are read while the run connects and scans; one that
    // could not be read is set aside here, and the run goes on as a first run.
    void CheckSyncStateRead();
    // Flushes the state; a complete run is marked as such.
    void CloseSyncState();
    std::optional<engine::PairRecord> RecordOf(const engine::FileRecord* record) const;
    engine::LocalSnapshot LocalSnapshotOf(int index) const;
    // Whether the remote item's exact time can be taken from its record, the
    // listing being as the record has it; takes it when so.
    bool TakeExactTimeFromRecord(int item);
    // Decides every file of both lists before the passes.
    void DecideByState();
    // Decides again when the lists are not those decided on (passes driven one by one).
    void EnsureDecided();
    Verdict VerdictOn(const QString& key, int local, int remote) const;
    // Writes records of files in step, drops records of files gone from both sides.
    void RecordFilesInStep();
    // Whether a state of this size may carry over this many deletions; logs why not.
    bool StateAllowsDeletions(qint64 local, qint64 remote);
    // The files of walked whose verdict is action, with their matches, in list order.
    std::vector<engine::PlannedAction> PlanOf(const TListOfFiles& walked, engine::StateAction action);
    QString ReasonFor(const TListOfFiles& walked, int index, const TListOfFiles& searched, int match) const;
    bool DecidedByRecord(const TListOfFiles& walked, int index) const;
    // The verdicts of walked's files, and the one of its file at index (none
    // when the list was not decided on).
    const std::vector<Verdict>& VerdictsOf(const TListOfFiles& walked) const;
    const Verdict* VerdictAt(const TListOfFiles& walked, int index) const;
    // Notes the transfers a pass is about to start, before the first of them.
    void NotePending(engine::ActionKind kind, const TListOfFiles& walked,
                     const std::vector<engine::PlannedAction>& plan);
    // Removes what transfers of an earlier run of this project left.
    void RemovePendingLeftovers();
    void RemovePendingLeftoversOf(bool local, std::vector<Leftover>& found);
    // After an action's success: the record of its file.
    void RecordAction(engine::ActionKind kind, int index, const engine::JobOutcome& outcome);
    void RecordUpload(int localIndex, const std::optional<QDateTime>& remoteTime);
    void RecordDownload(int remoteIndex, const QString& localName,
                        const std::optional<std::pair<qint64, qint64>>& localAfter);
    // Both ways: carries deletions over; how many files were deleted.
    int CarryOverDeletions();
    int DeleteLocalFilesIn(const std::vector<engine::PlannedAction>& plan);
    int DeleteRemoteFilesIn(const std::vector<engine::PlannedAction>& plan);
    // Both ways: the files changed on both sides.
    void SettleConflicts();
    ConflictRule ConflictRuleOfRun() const;
    // A local name for the version a conflict keeps aside, free in its folder.
    std::optional<RelativeName> ConflictCopyOf(const RelativeName& name) const;
    void ReportConflict(const QString& name, const QString& kept, const QString& copy);
    QSet<QString> m_noticesLogged;
};
