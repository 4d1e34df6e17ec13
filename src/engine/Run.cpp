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
    try {
        if (Connect()) {
            LastRunOutcome.connected = true;
            CollectLocalFiles();
            CollectRemoteFiles();
            RunPasses();
            LastRunOutcome.completed = true;
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
    if (StopRequested)
        return 0;
    DoProgress();
    const FileNameIndex localIndex(LocalFiles);
    int count = 0;
    const int total = RemoteFiles.Count();
    for (int i = 0; i < total && !StopRequested; ++i) {
        DoProgress();
        const QString name = RemoteFiles.Strings(i);
        const int match = localIndex.IndexOf(name);
        if (match >= 0 && !(minuteOf(LocalFiles, match) < minuteOf(RemoteFiles, i)))
            continue;
        if (DryRun) {
            Log(QStringLiteral("Would download %1").arg(name));
            ++count;
        } else if (DownloadFile(name, RemoteFiles.GetDateTime(i))) {
            ++count;
        } else {
            ++LastRunOutcome.failedActions;
        }
    }
    return count;
}

int TVellisyncProject::UploadFiles() {
    if (StopRequested)
        return 0;
    DoProgress();
    const FileNameIndex remoteIndex(RemoteFiles);
    int count = 0;
    const int total = LocalFiles.Count();
    for (int i = 0; i < total && !StopRequested; ++i) {
        DoProgress();
        const QString name = LocalFiles.Strings(i);
        const int match = remoteIndex.IndexOf(name);
        if (match >= 0 && !(minuteOf(RemoteFiles, match) < minuteOf(LocalFiles, i)))
            continue;
        if (DryRun) {
            Log(QStringLiteral("Would upload %1").arg(name));
            ++count;
        } else if (UploadFile(name)) {
            ++count;
        } else {
            ++LastRunOutcome.failedActions;
        }
    }
    return count;
}

int TVellisyncProject::DeleteLocalFiles() {
    if (StopRequested)
        return 0;
    // The remote tree is the source: a file missing from an incomplete remote
    // list may well exist on the server, so nothing is deleted then.
    if (!LastRunOutcome.remoteScanComplete) {
        Log(QStringLiteral(
            "Local files have not been deleted because the remote folder could not be read completely."));
        return 0;
    }
    DoProgress();
    const FileNameIndex remoteIndex(RemoteFiles);
    int count = 0;
    const int total = LocalFiles.Count();
    for (int i = 0; i < total && !StopRequested; ++i) {
        DoProgress();
        const QString name = LocalFiles.Strings(i);
        if (remoteIndex.IndexOf(name) >= 0)
            continue;
        if (DryRun) {
            Log(QStringLiteral("Would delete local file %1").arg(name));
            ++count;
        } else if (DeleteLocalFile(name)) {
            ++count;
        } else {
            ++LastRunOutcome.failedActions;
        }
    }
    return count;
}

int TVellisyncProject::DeleteRemoteFiles() {
    if (StopRequested)
        return 0;
    // The local tree is the source; see DeleteLocalFiles.
    if (!LastRunOutcome.localScanComplete) {
        Log(QStringLiteral(
            "Remote files have not been deleted because the local folder could not be read completely."));
        return 0;
    }
    DoProgress();
    const FileNameIndex localIndex(LocalFiles);
    int count = 0;
    const int total = RemoteFiles.Count();
    for (int i = 0; i < total && !StopRequested; ++i) {
        DoProgress();
        const QString name = RemoteFiles.Strings(i);
        if (localIndex.IndexOf(name) >= 0)
            continue;
        if (DryRun) {
            Log(QStringLiteral("Would delete remote file %1").arg(name));
            ++count;
        } else if (DeleteRemoteFile(name)) {
            ++count;
        } else {
            ++LastRunOutcome.failedActions;
        }
    }
    return count;
}
