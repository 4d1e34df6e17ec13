#include "sync/SyncRun.h"

#include <algorithm>
#include <exception>
#include <memory>

#include <QCoreApplication>

#include "inet/FtpService.h"
#include "model/Errors.h"

// Local and remote names both join folder levels with "/" here, so the passes
// compare the lists' names as the scans wrote them: no separator rewrite is
// needed before a pass, and a backslash stays an ordinary character in a name.

namespace {

QString translated(const char* text) {
    return QCoreApplication::translate("Vellisync", text);
}

// Pass decisions (engine::PassDecision): `match` is the entry's index in the
// searched list, or -1. An exact copy's deletion is due when the other side
// lacks the file; transfers go by each file's verdict.
bool missing(const TListOfFiles&, int, const TListOfFiles&, int match) {
    return match < 0;
}

bool isDeletion(engine::ActionKind kind) {
    return kind == engine::ActionKind::DeleteLocal || kind == engine::ActionKind::DeleteRemote;
}

// The server's reply when the connection's last call failed because the
// server refused it ("550 Permission denied."); empty for any other failure.
QString refusalReply(const inet::FtpConnection& connection) {
    if (connection.lastError() != inet::ErrorExtendedError)
        return {};
    return connection.lastResponseInfo().trimmed();
}

// The job, its line of success followed by why the file moved.
engine::Job withReason(engine::Job job, const QString& reason) {
    return [job = std::move(job), reason](inet::FtpConnection& connection) {
        engine::JobOutcome outcome = job(connection);
        engine::whenWhole(outcome, [reason](engine::JobOutcome& whole) {
            if (whole.ok && !whole.lines.isEmpty())
                whole.lines.last() += reason;
        });
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

void SyncRun::Run() {
    StopRequested = false;
    LastRunOutcome = RunOutcome{};
    m_localFoldersSeen = m_remoteFoldersSeen = 0;
    m_noticesLogged.clear();
    Progress().reset();
    // Two runs on one pair of folders would cut each other's files: a second
    // one stops here, before it has touched anything.
    const std::unique_ptr<engine::RunLock> lock = LockRun();
    if (!lock) {
        Progress().finish();
        return;
    }
    m_startedAt = QDateTime::currentDateTime();
    // Under the lock: no other run of the pair reads or writes it meanwhile.
    OpenSyncState();
    try {
        if (Connect()) {
            LastRunOutcome.connected = true;
            // A tree of folders is coming: the pool's further connections log
            // on and list it while this thread scans the local side.
            if (m_settings.SubFilders) {
                Pool().warmUp();
                StartRemoteListing();
            }
            CollectLocalFiles();
            CollectRemoteFiles();
            CheckSyncStateRead();
            RemovePendingLeftovers();
            AskExactTimes();
            DecideByState();
            RecordFilesInStep();
            RunPasses();
            LogServerLossAndProblems();
            LastRunOutcome.completed = !LastRunOutcome.serverStoppedAnswering;
        }
        LastRunOutcome.stopped = StopRequested;
        if (StopRequested)
            Log(QStringLiteral("Task has been stopped by user"));
        CloseSyncState();
        Disconnect();
        Progress().finish();
    } catch (...) {
        // An error that leaves the run (an invalid mask, say) still closes the
        // connection and leaves one line in the log; then it goes on to the caller.
        const std::exception_ptr error = std::current_exception();
        LastRunOutcome.error = messageOf(error);
        LastRunOutcome.stopped = StopRequested;
        // What was done is recorded; the run is no complete one.
        LastRunOutcome.completed = false;
        CloseSyncState();
        Disconnect();
        Progress().finish();
        try {
            Log(QStringLiteral("Task has been stopped by an error: %1").arg(LastRunOutcome.error));
        } catch (...) {
            // The log itself failed; the original error is the one to report.
        }
        std::rethrow_exception(error);
    }
}

FileFilter SyncRun::FileFilterOfSettings() const {
    return FileFilter(ParseMaskList(m_settings.IncludeMasks), ParseMaskList(m_settings.ExcludeMasks));
}

void SyncRun::LogServerLossAndProblems() {
    if (ServerStoppedAnswering()) {
        LastRunOutcome.serverStoppedAnswering = true;
        LastRunOutcome.serverUnreachable = ServerUnreachable();
        ++LastRunOutcome.problems;
        Log(LastRunOutcome.serverUnreachable ? QStringLiteral("The server can no longer be reached: the run ends here.")
                                             : QStringLiteral("The server has stopped answering: the run ends here."));
    }
    const int problems = LastRunOutcome.problems + LastRunOutcome.failedActions;
    if (problems > 0)
        Log(QStringLiteral("This run met %1 problem(s): see the lines above.").arg(problems));
}

void SyncRun::RunPasses() {
    if (m_options.DryRun)
        Log(QStringLiteral("Dry run: no file will be transferred or deleted."));
    EnsureDecided();
    if (!DeletionsWithinLimit(PlanProgress()))
        return;
    RunOutcome& counts = LastRunOutcome;
    // A dry run's summary says what would have been done: it did nothing.
    const auto summary = [this](const char* done, const char* wouldBe) {
        return translated(m_options.DryRun ? wouldBe : done);
    };
    switch (m_settings.SyncMode) {
    case setting::SyncMode::LocalToRemote: {
        const int uploaded = counts.uploaded = UploadFiles();
        if (m_settings.Exact) {
            const int deleted = counts.deleted = DeleteRemoteFiles();
            Log(summary("%1 files has been uploaded, %2 files has been deleted.",
                        "%1 files would be uploaded, %2 files would be deleted.")
                    .arg(uploaded)
                    .arg(deleted));
        } else {
            Log(summary("%1 files has been uploaded.", "%1 files would be uploaded.").arg(uploaded));
        }
        break;
    }
    case setting::SyncMode::RemoteToLocal: {
        const int downloaded = counts.downloaded = DownloadFiles();
        if (m_settings.Exact) {
            const int deleted = counts.deleted = DeleteLocalFiles();
            Log(summary("%1 files has been downloaded, %2 files has been deleted.",
                        "%1 files would be downloaded, %2 files would be deleted.")
                    .arg(downloaded)
                    .arg(deleted));
        } else {
            Log(summary("%1 files has been downloaded.", "%1 files would be downloaded.").arg(downloaded));
        }
        break;
    }
    case setting::SyncMode::Bidirectional: {
        const int downloaded = counts.downloaded = DownloadFiles();
        const int uploaded = counts.uploaded = UploadFiles();
        const int deleted = counts.deleted = CarryOverDeletions();
        SettleConflicts();
        Log(summary("%1 files has been downloaded, %2 files has been uploaded.",
                    "%1 files would be downloaded, %2 files would be uploaded.")
                .arg(downloaded)
                .arg(uploaded));
        // Only runs that remember delete in this mode, and only they meet conflicts.
        if (deleted > 0)
            Log(summary("%1 files has been deleted.", "%1 files would be deleted.").arg(deleted));
        if (counts.conflicts > 0)
            Log(QStringLiteral("%1 files had changed on both sides since the last run.").arg(counts.conflicts));
        break;
    }
    default:
        return; // an unknown mode touches nothing and logs no summary
    }
    CleanLeftovers();
}

int SyncRun::DownloadFiles() {
    EnsureDecided();
    const engine::FileRoots roots = Roots();
    std::vector<engine::PlannedAction> plan = PlanOf(RemoteFiles, engine::StateAction::Download);
    AskExactTimesOfDownloads(plan);
    return RunPass(
        engine::ActionKind::Download, RemoteFiles, LocalFiles, std::move(plan), QStringLiteral("Would download %1"),
        [this, &roots](int index, const QString& name, int match) -> std::optional<engine::Job> {
            const auto remoteName = RelativeName::fromPath(name);
            const auto localName = RelativeName::fromPath(match >= 0 ? LocalFiles.Strings(match) : name);
            if (!remoteName || !localName || !MayChangeLocally(*localName, true))
                return std::nullopt;
            const qint64 size =
                m_remoteSizeUnchecked.contains(index) ? inet::FindData::UnknownSize : RemoteFiles.Objects(index)->Size;
            return [roots, remote = *remoteName, local = *localName, time = RemoteFiles.GetDateTime(index),
                    size](inet::FtpConnection& connection) {
                return engine::downloadFile(connection, roots, remote, local, time, size, engine::Placement::MayWait);
            };
        });
}

// The folders that new files go to and the scan did not list are made
// before the uploads, many in one round trip, rather than each by the first
// upload that needs it while the others wait. Only where the scan listed
// every remote folder, so an unknown one is a missing one.
void SyncRun::CreateFoldersAhead(const std::vector<engine::PlannedAction>& plan, const engine::FileRoots& roots) {
    if (m_options.DryRun || StopRequested || !ConnectHandle || roots.probeUnknownFolders ||
        !m_unlistedRemoteFolders.isEmpty())
        return;
    QStringList wanted;
    QSet<QString> seen;
    for (const engine::PlannedAction& action : plan) {
        if (action.match >= 0)
            continue; // its folder holds it already
        const auto remoteName = RelativeName::fromPath(LocalFiles.Strings(action.index));
        if (!remoteName)
            continue;
        const QString folder = roots.remoteRoot + remoteName->folderPart();
        if (!seen.contains(folder)) {
            seen.insert(folder);
            wanted << folder;
        }
    }
    RemoteFolderMemory().createAhead(*ConnectHandle, wanted);
}

int SyncRun::UploadFiles() {
    EnsureDecided();
    const engine::FileRoots roots = Roots();
    engine::RemoteFolders& folders = RemoteFolderMemory();
    const bool askTime = m_state != nullptr;
    std::vector<engine::PlannedAction> plan = PlanOf(LocalFiles, engine::StateAction::Upload);
    CreateFoldersAhead(plan, roots);
    return RunPass(
        engine::ActionKind::Upload, LocalFiles, RemoteFiles, std::move(plan), QStringLiteral("Would upload %1"),
        [this, &roots, &folders, askTime](int index, const QString& name, int match) -> std::optional<engine::Job> {
            const auto localName = RelativeName::fromPath(name);
            const auto remoteName = RelativeName::fromPath(match >= 0 ? RemoteFiles.Strings(match) : name);
            if (!localName || !remoteName)
                return std::nullopt;
            auto unchanged = engine::unchangedSince(roots.localRoot + localName->text(), LocalFiles.Objects(index));
            // Each file's rename into place may ride with its connection's next request.
            const engine::Placement placement =
                match >= 0 ? engine::Placement::MayWaitOverFile : engine::Placement::MayWait;
            return [roots, &folders, local = *localName, remote = *remoteName, unchanged = std::move(unchanged),
                    askTime, placement](inet::FtpConnection& connection) {
                return engine::uploadFile(connection, roots, folders, local, remote, unchanged, askTime, placement);
            };
        });
}

bool SyncRun::SourceAllowsDeletion(const TListOfFiles& source, const TListOfFiles& target, bool sourceScanComplete,
                                   const QString& targetSide, const QString& sourceSide) {
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

int SyncRun::DeleteLocalFiles() {
    return DeleteLocalFilesIn(engine::planPass(LocalFiles, RemoteFiles, &missing));
}

int SyncRun::DeleteRemoteFiles() {
    return DeleteRemoteFilesIn(engine::planPass(RemoteFiles, LocalFiles, &missing));
}

int SyncRun::CarryOverDeletions() {
    EnsureDecided();
    // Asked only when there is something to carry over: the checks log why not.
    int deleted = 0;
    if (std::vector<engine::PlannedAction> plan = PlanOf(LocalFiles, engine::StateAction::DeleteLocal); !plan.empty())
        deleted += DeleteLocalFilesIn(plan);
    if (std::vector<engine::PlannedAction> plan = PlanOf(RemoteFiles, engine::StateAction::DeleteRemote); !plan.empty())
        deleted += DeleteRemoteFilesIn(plan);
    return deleted;
}

int SyncRun::DeleteLocalFilesIn(const std::vector<engine::PlannedAction>& plan) {
    if (!SourceAllowsDeletion(RemoteFiles, LocalFiles, LastRunOutcome.remoteScanComplete, QStringLiteral("Local"),
                              QStringLiteral("remote")) ||
        StopRequested) {
        Progress().dropPlanned(qint64(plan.size()));
        return 0;
    }
    DoProgress();
    // Local work needs no connection: it runs here, one file after another.
    int count = 0;
    for (const engine::PlannedAction& action : plan) {
        if (StopRequested)
            break;
        DoProgress();
        const QString name = LocalFiles.Strings(action.index);
        Progress().actionStarted(name);
        const QString reason = m_options.DryRun || m_options.Explain
                                   ? ReasonFor(LocalFiles, action.index, RemoteFiles, action.match)
                                   : QString();
        const bool failed = !m_options.DryRun && !DeleteLocalFile(name, reason);
        if (!failed)
            RecordAction(engine::ActionKind::DeleteLocal, action.index, {});
        Progress().actionFinished(name, 0);
        if (m_options.DryRun) {
            Log(QStringLiteral("Would delete local file %1").arg(escapedForLog(name)) + reason);
        } else if (failed) {
            ++LastRunOutcome.failedActions;
            ReportAction(engine::ActionKind::DeleteLocal, name, 0, false, m_lastLogLine, {});
            continue;
        }
        ReportAction(engine::ActionKind::DeleteLocal, name, 0, true, m_options.DryRun ? reason : QString(), {});
        ++count;
    }
    return count;
}

int SyncRun::DeleteRemoteFilesIn(const std::vector<engine::PlannedAction>& plan) {
    const auto planned = qint64(plan.size());
    if (!SourceAllowsDeletion(LocalFiles, RemoteFiles, LastRunOutcome.localScanComplete, QStringLiteral("Remote"),
                              QStringLiteral("local"))) {
        Progress().dropPlanned(planned);
        return 0;
    }
    const engine::FileRoots roots = Roots();
    return RunPass(engine::ActionKind::DeleteRemote, RemoteFiles, LocalFiles, plan,
                   QStringLiteral("Would delete remote file %1"),
                   [&roots](int, const QString& name, int) -> std::optional<engine::Job> {
                       const auto checked = RelativeName::fromPath(name);
                       if (!checked)
                           return std::nullopt;
                       return [roots, name = *checked](inet::FtpConnection& connection) {
                           return engine::deleteRemoteFile(connection, roots, name);
                       };
                   });
}

int SyncRun::RunPass(engine::ActionKind kind, const TListOfFiles& walked, const TListOfFiles& searched,
                     const std::vector<engine::PlannedAction>& plan, const QString& dryRunLine, const PassAction& act) {
    if (StopRequested)
        return 0;
    DoProgress();
    int count = 0;
    // Before the first transfer starts: a run cut off anywhere leaves the
    // next one a note of every temporary file it may find.
    NotePending(kind, walked, plan);
    for (const engine::PlannedAction& action : plan) {
        if (StopRequested || ServerStoppedAnswering())
            break;
        const QString name = walked.Strings(action.index);
        // A file copied back over a deletion on the other side always says
        // why; any other reason only where a line shows it: a large tree
        // has many files.
        const bool copiedBack = !isDeletion(kind) && action.match < 0 && DecidedByRecord(walked, action.index);
        const bool explained = m_options.DryRun || m_options.Explain || copiedBack;
        const QString reason = explained ? ReasonFor(walked, action.index, searched, action.match) : QString();
        const qint64 bytes = isDeletion(kind) ? 0 : walked.Objects(action.index)->Size;
        if (kind == engine::ActionKind::Upload && UploadWithheld(name)) {
            Progress().dropPlanned(1, bytes);
            continue;
        }
        if (m_options.DryRun) {
            Log(dryRunLine.arg(escapedForLog(name)) + reason);
            Progress().actionFinished(name, bytes);
            // The reason rides with the event, so a preview can show it beside the name.
            ReportAction(kind, name, bytes, true, reason, {});
            ++count;
            continue;
        }
        std::optional<engine::Job> job = act(action.index, name, action.match);
        if (job) {
            if (m_options.Explain || copiedBack)
                job = withReason(std::move(*job), reason);
            Pool().add(CountedJob(kind, action.index, name, bytes, std::move(*job)));
        } else {
            ++LastRunOutcome.failedActions; // refused before it started, and logged
            Progress().actionFinished(name, bytes);
            ReportAction(kind, name, bytes, false, m_lastLogLine, {});
        }
    }
    if (m_options.DryRun || !m_pool)
        return count;
    // Lines come as the files complete; the summary after the last of them.
    m_pool->run([this, &count, kind](engine::JobOutcome& outcome) {
        DoProgress();
        LogNoticesOnce(outcome.notices);
        const bool ok = LogOutcome(outcome);
        if (ok)
            ++count;
        else
            ++LastRunOutcome.failedActions;
        // A failed action leaves the record as it was: the next run tries again.
        if (ok && outcome.action)
            RecordAction(kind, outcome.action->index, outcome);
        if (const std::optional<engine::ActionReport>& report = outcome.action)
            ReportAction(kind, report->name, report->bytes, ok, outcome.lines.value(outcome.lines.size() - 1),
                         report->serverReply);
    });
    LogPoolNotices();
    return count;
}

engine::Job SyncRun::CountedJob(engine::ActionKind, int index, const QString& name, qint64 bytes, engine::Job job) {
    return [this, index, name, bytes, job = std::move(job)](inet::FtpConnection& connection) {
        Progress().actionStarted(name);
        engine::JobOutcome outcome = job(connection);
        // Counted here, not when the run's thread logs the outcome: that
        // thread may be busy with a file of its own for a long while.
        Progress().actionFinished(name, bytes);
        // Read before the connection's next job replaces it.
        const QString reply = outcome.ok ? QString() : refusalReply(connection);
        outcome.action = engine::ActionReport{name, bytes, reply, index};
        return outcome;
    };
}

void SyncRun::ReportAction(engine::ActionKind kind, const QString& name, qint64 bytes, bool ok, const QString& reason,
                           const QString& serverReply) {
    engine::RunEvent event;
    event.type = !ok ? engine::RunEvent::Type::Failure
                     : (isDeletion(kind) ? engine::RunEvent::Type::Deletion : engine::RunEvent::Type::Transfer);
    event.action = kind;
    event.file = name;
    event.bytes = ok ? bytes : 0;
    event.message = reason;
    event.serverReply = serverReply;
    Report(std::move(event));
}

void SyncRun::Report(engine::RunEvent event) {
    if (!m_hooks.event)
        return;
    event.dryRun = m_options.DryRun;
    m_hooks.event(event);
}

qint64 SyncRun::PlanProgress() {
    // The passes never change the two lists, so planning them here gives
    // exactly what each pass will plan when it starts.
    qint64 files = 0;
    qint64 bytes = 0;
    qint64 deleted = 0;
    auto transfers = [&](const TListOfFiles& walked) {
        const engine::StateAction transfer =
            &walked == &LocalFiles ? engine::StateAction::Upload : engine::StateAction::Download;
        const std::vector<Verdict>& verdicts = VerdictsOf(walked);
        for (size_t i = 0; i < verdicts.size(); ++i) {
            // A conflict moves one version over the wire, about as large.
            if (verdicts[i].action == transfer ||
                (verdicts[i].action == engine::StateAction::Conflict && &walked == &LocalFiles)) {
                ++files;
                bytes += walked.Objects(int(i))->Size;
            }
        }
    };
    auto deletions = [&](const TListOfFiles& walked, const TListOfFiles& searched) {
        deleted = qint64(engine::planPass(walked, searched, &missing).size());
        files += deleted;
    };
    // Both ways: deletions carried over from the other side.
    auto carried = [&](const std::vector<Verdict>& verdicts, engine::StateAction action) {
        return qint64(std::count_if(verdicts.cbegin(), verdicts.cend(),
                                    [action](const Verdict& verdict) { return verdict.action == action; }));
    };
    switch (m_settings.SyncMode) {
    case setting::SyncMode::LocalToRemote:
        transfers(LocalFiles);
        if (m_settings.Exact)
            deletions(RemoteFiles, LocalFiles);
        break;
    case setting::SyncMode::RemoteToLocal:
        transfers(RemoteFiles);
        if (m_settings.Exact)
            deletions(LocalFiles, RemoteFiles);
        break;
    case setting::SyncMode::Bidirectional: {
        transfers(RemoteFiles);
        transfers(LocalFiles);
        const qint64 local = carried(m_localVerdicts, engine::StateAction::DeleteLocal);
        const qint64 remote = carried(m_remoteVerdicts, engine::StateAction::DeleteRemote);
        deleted = local + remote;
        files += deleted;
        if (!StateAllowsDeletions(local, remote)) {
            Progress().setPlanned(0, 0);
            return -1;
        }
        break;
    }
    default:
        break;
    }
    // Nothing will happen when the deletions are withheld.
    const bool withheld = m_options.MaxDelete >= 0 && deleted > m_options.MaxDelete;
    Progress().setPlanned(withheld ? 0 : files, withheld ? 0 : bytes);
    return deleted;
}

bool SyncRun::DeletionsWithinLimit(qint64 planned) {
    if (planned < 0) // withheld by the sync state's guard, which said why
        return false;
    if (m_options.MaxDelete < 0 || planned <= m_options.MaxDelete)
        return true;
    // Far more deletions than usual mean an emptied or a wrong source folder
    // more often than a wish. Its transfers would be as wrong as its
    // deletions, so the run does neither until a person has looked.
    Log(QStringLiteral("Nothing has been transferred or deleted: the run would delete %1 files, more than the limit "
                       "of %2.")
            .arg(planned)
            .arg(m_options.MaxDelete));
    LastRunOutcome.deletionsWithheld = int(planned);
    ++LastRunOutcome.problems;
    return false;
}

void SyncRun::NoteScanProgress() {
    // The scans forget their folder sets when they end; the counts stay.
    if (!m_visitedLocalFolders.empty())
        m_localFoldersSeen = qint64(m_visitedLocalFolders.size());
    if (!m_remoteListings.isEmpty())
        m_remoteFoldersSeen = m_remoteListings.size();
    Progress().noteScanned(m_localFoldersSeen + m_remoteFoldersSeen, LocalFiles.Count() + RemoteFiles.Count());
}
