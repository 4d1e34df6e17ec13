#include "project/VellisyncProject.h"

#include <exception>

#include <QCoreApplication>

#include "project/Errors.h"

// Local and remote names both join folder levels with "/" here, so the passes
// compare the lists' names as the scans wrote them: no separator rewrite is
// needed before a pass, and a backslash stays an ordinary character in a name.

namespace {

QString translated(const char* text) {
    return QCoreApplication::translate("Vellisync", text);
}

// Only the minute decides which side is newer.
NaiveDateTime minuteOf(const TListOfFiles& list, int index) {
    return TruncateDateTime(1, list.GetDateTime(index));
}

// Pass decisions (engine::PassDecision): `match` is the entry's index in the
// searched list, or -1.
// A transfer is due when the other side lacks the file or holds an older one.
bool missingOrNewer(const TListOfFiles& walked, int index, const TListOfFiles& searched, int match) {
    return match < 0 || minuteOf(searched, match) < minuteOf(walked, index);
}

// A deletion is due when the other side lacks the file.
bool missing(const TListOfFiles&, int, const TListOfFiles&, int match) {
    return match < 0;
}

// The job, its line of success followed by why the file moved.
engine::Job withReason(engine::Job job, const QString& reason) {
    return [job = std::move(job), reason](inet::FtpConnection& connection) {
        engine::JobOutcome outcome = job(connection);
        if (outcome.ok && !outcome.lines.isEmpty())
            outcome.lines.last() += reason;
        return outcome;
    };
}

QString messageOf(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const VellisyncError& e) {
        return e.message();
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}

} // namespace

void TVellisyncProject::Run() {
    StopRequested = false;
    LastRunOutcome = RunOutcome{};
    m_noticesLogged.clear();
    try {
        if (Connect()) {
            LastRunOutcome.connected = true;
            // A tree of folders is coming: the pool's further connections log
            // on while the local side is scanned, and its listings find them ready.
            if (SubFilders)
                Pool().warmUp();
            CollectLocalFiles();
            CollectRemoteFiles();
            AskExactTimes();
            RunPasses();
            LogServerLossAndProblems();
            LastRunOutcome.completed = !LastRunOutcome.serverStoppedAnswering;
        }
        LastRunOutcome.stopped = StopRequested;
        if (StopRequested)
            Log(QStringLiteral("Task has been stopped by user"));
        Disconnect();
    } catch (...) {
        // An error that leaves the run (an invalid mask, say) still closes the
        // connection and leaves one line in the log; then it goes on to the caller.
        const std::exception_ptr error = std::current_exception();
        LastRunOutcome.error = messageOf(error);
        LastRunOutcome.stopped = StopRequested;
        Disconnect();
        try {
            Log(QStringLiteral("Task has been stopped by an error: %1").arg(LastRunOutcome.error));
        } catch (...) {
            // The log itself failed; the original error is the one to report.
        }
        std::rethrow_exception(error);
    }
}

void TVellisyncProject::LogServerLossAndProblems() {
    if (ServerStoppedAnswering()) {
        LastRunOutcome.serverStoppedAnswering = true;
        ++LastRunOutcome.problems;
        Log(QStringLiteral("The server has stopped answering: the run ends here."));
    }
    const int problems = LastRunOutcome.problems + LastRunOutcome.failedActions;
    if (problems > 0)
        Log(QStringLiteral("This run met %1 problem(s): see the lines above.").arg(problems));
}

void TVellisyncProject::RunPasses() {
    if (DryRun)
        Log(QStringLiteral("Dry run: no file will be transferred or deleted."));
    switch (SyncMode) {
    case 0: {
        const int uploaded = UploadFiles();
        if (Exact) {
            const int deleted = DeleteRemoteFiles();
            Log(translated("%1 files has been uploaded, %2 files has been deleted.").arg(uploaded).arg(deleted));
        } else {
            Log(translated("%1 files has been uploaded.").arg(uploaded));
        }
        break;
    }
    case 1: {
        const int downloaded = DownloadFiles();
        if (Exact) {
            const int deleted = DeleteLocalFiles();
            Log(translated("%1 files has been downloaded, %2 files has been deleted.").arg(downloaded).arg(deleted));
        } else {
            Log(translated("%1 files has been downloaded.").arg(downloaded));
        }
        break;
    }
    case 2: {
        const int downloaded = DownloadFiles();
        const int uploaded = UploadFiles();
        Log(translated("%1 files has been downloaded, %2 files has been uploaded.").arg(downloaded).arg(uploaded));
        break;
    }
    default:
        break; // an unknown mode touches nothing and logs no summary
    }
}

int TVellisyncProject::DownloadFiles() {
    const engine::FileRoots roots = Roots();
    return RunPass(RemoteFiles, LocalFiles, &missingOrNewer, QStringLiteral("Would download %1"),
                   [this, &roots](int index, const QString& name, int match) -> std::optional<engine::Job> {
                       const auto remoteName = RelativeName::fromPath(name);
                       const auto localName = RelativeName::fromPath(match >= 0 ? LocalFiles.Strings(match) : name);
                       if (!remoteName || !localName || !MayChangeLocally(*localName, true))
                           return std::nullopt;
                       return [roots, remote = *remoteName, local = *localName,
                               time = RemoteFiles.GetDateTime(index)](inet::FtpConnection& connection) {
                           return engine::downloadFile(connection, roots, remote, local, time);
                       };
                   });
}

int TVellisyncProject::UploadFiles() {
    const engine::FileRoots roots = Roots();
    engine::RemoteFolders& folders = RemoteFolderMemory();
    return RunPass(LocalFiles, RemoteFiles, &missingOrNewer, QStringLiteral("Would upload %1"),
                   [this, &roots, &folders](int index, const QString& name, int match) -> std::optional<engine::Job> {
                       const auto localName = RelativeName::fromPath(name);
                       const auto remoteName = RelativeName::fromPath(match >= 0 ? RemoteFiles.Strings(match) : name);
                       if (!localName || !remoteName)
                           return std::nullopt;
                       auto unchanged =
                           engine::unchangedSince(roots.localRoot + localName->text(), LocalFiles.Objects(index));
                       return [roots, &folders, local = *localName, remote = *remoteName,
                               unchanged = std::move(unchanged)](inet::FtpConnection& connection) {
                           return engine::uploadFile(connection, roots, folders, local, remote, unchanged);
                       };
                   });
}

bool TVellisyncProject::SourceAllowsDeletion(const TListOfFiles& source, const TListOfFiles& target,
                                             bool sourceScanComplete, const QString& targetSide,
                                             const QString& sourceSide) {
    // A file missing from an incomplete source list may well exist there.
    if (!StopRequested && !sourceScanComplete) {
        Log(QStringLiteral("%1 files have not been deleted because the %2 folder could not be read completely.")
                .arg(targetSide, sourceSide));
        return false;
    }
    // A source with no file at all (a build that produced nothing, a disk not
    // mounted, a wrong folder) is far likelier than a wish to delete everything.
    if (source.Count() == 0 && target.Count() > 0) {
        Log(QStringLiteral("%1 files have not been deleted because the %2 folder holds no file at all.")
                .arg(targetSide, sourceSide));
        ++LastRunOutcome.problems;
        return false;
    }
    return true;
}

int TVellisyncProject::DeleteLocalFiles() {
    if (!SourceAllowsDeletion(RemoteFiles, LocalFiles, LastRunOutcome.remoteScanComplete, QStringLiteral("Local"),
                              QStringLiteral("remote")) ||
        StopRequested)
        return 0;
    DoProgress();
    // Local work needs no connection: it runs here, one file after another.
    int count = 0;
    for (const engine::PlannedAction& action : engine::planPass(LocalFiles, RemoteFiles, &missing)) {
        if (StopRequested)
            break;
        DoProgress();
        const QString name = LocalFiles.Strings(action.index);
        const QString reason = MoveReason(LocalFiles, action.index, RemoteFiles, action.match);
        if (DryRun)
            Log(QStringLiteral("Would delete local file %1").arg(name) + reason);
        else if (!DeleteLocalFile(name, Explain ? reason : QString())) {
            ++LastRunOutcome.failedActions;
            continue;
        }
        ++count;
    }
    return count;
}

int TVellisyncProject::DeleteRemoteFiles() {
    if (!SourceAllowsDeletion(LocalFiles, RemoteFiles, LastRunOutcome.localScanComplete, QStringLiteral("Remote"),
                              QStringLiteral("local")))
        return 0;
    const engine::FileRoots roots = Roots();
    return RunPass(RemoteFiles, LocalFiles, &missing, QStringLiteral("Would delete remote file %1"),
                   [&roots](int, const QString& name, int) -> std::optional<engine::Job> {
                       const auto checked = RelativeName::fromPath(name);
                       if (!checked)
                           return std::nullopt;
                       return [roots, name = *checked](inet::FtpConnection& connection) {
                           return engine::deleteRemoteFile(connection, roots, name);
                       };
                   });
}

int TVellisyncProject::RunPass(const TListOfFiles& walked, const TListOfFiles& searched,
                               engine::PassDecision needsAction, const QString& dryRunLine, const PassAction& act) {
    if (StopRequested)
        return 0;
    DoProgress();
    int count = 0;
    for (const engine::PlannedAction& action : engine::planPass(walked, searched, needsAction)) {
        if (StopRequested || ServerStoppedAnswering())
            break;
        const QString name = walked.Strings(action.index);
        const QString reason = MoveReason(walked, action.index, searched, action.match);
        if (DryRun) {
            Log(dryRunLine.arg(name) + reason);
            ++count;
            continue;
        }
        std::optional<engine::Job> job = act(action.index, name, action.match);
        if (job && Explain)
            job = withReason(std::move(*job), reason);
        if (job)
            Pool().add(std::move(*job));
        else
            ++LastRunOutcome.failedActions; // refused before it started, and logged
    }
    if (DryRun || !m_pool)
        return count;
    // Lines come as the files complete; the summary after the last of them.
    m_pool->run([this, &count](engine::JobOutcome& outcome) {
        DoProgress();
        LogNoticesOnce(outcome.notices);
        if (LogOutcome(outcome))
            ++count;
        else
            ++LastRunOutcome.failedActions;
    });
    LogPoolNotices();
    return count;
}
