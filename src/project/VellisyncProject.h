#pragma once

#include "model/ProjectSettings.h"
#include "sync/ListOfFiles.h"
#include "sync/RunOptions.h"
#include "sync/RunOutcome.h"

#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class SyncRun;
struct TFileEntry;
namespace engine {
class RunProgress;
struct RunEvent;
} // namespace engine
namespace inet {
class FtpConnection;
class InternetSession;
} // namespace inet

// One synchronisation job as the window and the runner hold it: its stored
// settings, whether they changed since the last save, its file, and doors into
// its run. A run works on a copy of the settings taken when it is made, so
// edits made while it goes never reach it; between the steps of a run driven
// door by door, the run follows the settings.
class TVellisyncProject : public ProjectSettings {
public:
    using TLogEvent = std::function<void(TVellisyncProject& sender, const QString& message)>;
    using TProgressEvent = std::function<void(TVellisyncProject& sender)>;

    // An empty project: every setting zero or empty, not modified. The
    // new-project defaults come from SetDefaults.
    TVellisyncProject();
    ~TVellisyncProject();
    TVellisyncProject(const TVellisyncProject&) = delete;
    TVellisyncProject& operator=(const TVellisyncProject&) = delete;

    // --- Settings -------------------------------------------------------------

    // Gives the project the settings of a new project; Modified ends false.
    void SetDefaults();
    // Each setter assigns and marks the project modified only when the value
    // changes. SetRemoteFolder and SetProxyServer trim blanks and control
    // characters first.
    void SetCaption(const QString& value);
    void SetServer(const QString& value);
    void SetPort(qint32 value);
    void SetUserName(const QString& value);
    void SetPassword(const QString& value);
    // Chooses where the next save keeps the password: the desktop keyring
    // (the file then holds none) or the file, scrambled.
    void SetPasswordInKeyring(bool inKeyring);
    void SetPassive(bool value);
    void SetRemoteFolder(const QString& value);
    void SetLocalFolder(const QString& value);
    void SetSyncMode(setting::SyncMode value);
    void SetSubFilders(bool value);
    void SetExact(bool value);
    void SetIncludeMasks(const QString& value);
    void SetExcludeMasks(const QString& value);
    void SetUseProxy(bool value);
    void SetProxyKind(setting::ProxyKind value);
    void SetProxyServer(const QString& value);
    void SetProxyPort(qint32 value);
    void SetConnections(qint32 value);
    void SetListingTimeZone(const QString& value);
    void SetEncryption(setting::Encryption value);
    void SetConflicts(setting::Conflicts value);
    // Takes a SHA-256 fingerprint in any of its written forms and stores it as
    // "AB:CD:..."; an empty text clears it. False (nothing changed) for a text
    // that is no fingerprint.
    bool SetTrustedCertificate(const QString& value);
    const ProjectSettings& Settings() const { return *this; }
    // The review page's summary, lines ended by CR LF.
    QString GetReviewText() const;

    // --- Project file (doors into model/ProjectFile.h) ----------------------

    // Loads the settings from a project file; FileName is set first,
    // whatever follows. False when the file holds an unknown type tag. Storage
    // errors propagate as VellisyncError, and so does the refusal of a file that
    // is not a project file (missing, not a regular file, over 1 MiB, no [Root]
    // section or no Server in it); a refused file changes no setting.
    bool LoadFromFile(const QString& fileName);
    // Writes the settings, replacing the file atomically (mode 0600,
    // folders created with 0700). Storage errors propagate as VellisyncError.
    // A password kept in the keyring goes there first (a new entry when the
    // project has none); a keyring that refuses throws VellisyncError before
    // the file is touched. A password moved back into the file leaves the
    // keyring.
    bool SaveToFile(const QString& fileName);

    // --- The desktop keyring (project/PasswordKeyring.h) ----------------------

    // Loading never asks the keyring: this puts the keyring's password into
    // Password, for a project that keeps it there. False with error when the
    // keyring is absent, locked, silent or holds no entry for the project.
    bool FetchKeyringPassword(QString& error);
    // Removes the project's keyring entry, if any, when its file is removed.
    void ForgetKeyringPassword() const;
    // Whether a desktop keyring answers and is unlocked.
    static bool KeyringReachable();

    // --- Doors into the run -----------------------------------------------------

    // Hooks the log; never touches Modified.
    void SetOnLog(TLogEvent handler);
    // Asks the run in progress to stop at the next file; safe from any thread.
    void RequestStop();
    // Hands one message, made inert for a terminal, to OnLog when it is assigned.
    void Log(const QString& message);
    // Updates the run's scan counts and fires OnProgress when it is assigned.
    void DoProgress();
    // Why the stored port, proxy port or encryption cannot be used; empty when it can.
    QString ServerPortProblem() const;
    QString ProxyPortProblem() const;
    QString EncryptionProblem() const;
    bool Connect();
    bool Disconnect();
    void CollectLocalFiles();
    void CollectLocalFolder(const QString& relativePath);
    void CollectRemoteFiles();
    void CollectRemoteFolder(const QString& relativePath);
    bool UploadFile(const QString& name, const QString& remoteName = {}, const TFileEntry* scanned = nullptr);
    bool DeleteLocalFile(const QString& name, const QString& reason = {});
    static bool RemoteFolderExists(inet::FtpConnection& connection, const QString& path);
    static void SplitRemotePath(const QString& path, QStringList& levels);
    // One whole synchronisation on a run of its own: with the copy of the
    // settings PrepareRun took, or one taken now. Fills LastRunOutcome.
    void Run();
    int DownloadFiles();
    int UploadFiles();
    int DeleteLocalFiles();
    int DeleteRemoteFiles();
    // Takes the copy of the settings the next Run works on; call it on the
    // thread that edits the settings, before Run starts on another.
    void PrepareRun();

    // --- The current run's state -------------------------------------------------
    inet::InternetSession* InternetHandle() const;
    inet::FtpConnection* ConnectHandle() const;
    TListOfFiles& LocalFiles();
    TListOfFiles& RemoteFiles();
    bool StopRequested() const;
    // What the last Run did; read after it returns.
    const RunOutcome& LastRunOutcome() const;
    // Counts of the run in progress, for displays that poll them from any thread.
    engine::RunProgress& Progress() const { return *m_progress; }

    // --- Beyond the stored settings -------------------------------------------
    bool Modified = false;
    QString FileName;
    TLogEvent OnLog;
    TProgressEvent OnProgress;
    // Options of the runs this project starts (see RunOptions).
    bool DryRun = false;
    bool Explain = false;
    qint32 MaxDelete = -1;
    std::optional<ConflictRule> OnConflict;
    // Called on the run's thread for each transfer, deletion and failure.
    using TRunEventHandler = std::function<void(const engine::RunEvent& event)>;
    TRunEventHandler OnRunEvent;

private:
    void storePasswordInKeyring();
    std::unique_ptr<SyncRun> NewRun();
    // The run the doors work on, made on first use; it follows the settings
    // while no Run is in progress.
    SyncRun& CurrentRun();

    std::shared_ptr<engine::RunProgress> m_progress;
    // Guards which run is current: the stop may come from another thread.
    mutable std::mutex m_runMutex;
    std::unique_ptr<SyncRun> m_run;
    std::unique_ptr<SyncRun> m_preparedRun;
    // The password or its place changed since the last load or save: the
    // keyring's copy is stale.
    bool m_keyringOutOfDate = false;
};
