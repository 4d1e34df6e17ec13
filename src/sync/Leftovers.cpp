// Temporary files that interrupted transfers left behind: noted by the
// scans, restored or removed after them.
#include "sync/SyncRun.h"

#include <QDateTime>
#include <QFile>

#include "model/Global.h"
#include "sync/FtpHelpers.h"
#include "sync/ScanHelpers.h"

using engine::joinRelative;

namespace {

// A transfer in progress writes to its temporary file at least once a minute:
// the 60-second data time-out ends it otherwise, and a retry starts a file of
// its own. Listings show times to the minute, and the two clocks may differ
// by a few. A file untouched for ten minutes is no transfer's work in progress.
constexpr qint64 LeftoverAgeMsecs = 10 * 60 * 1000;

bool mayBeInProgress(NaiveDateTime time) {
    return time.msecs() > NaiveDateTime::fromLocal(QDateTime::currentDateTime()).msecs() - LeftoverAgeMsecs;
}

} // namespace

void SyncRun::CleanLeftovers() {
    // Only the target side of an exact copy is the program's to tidy; on
    // any other side a person decides.
    CleanLeftoversOf(true, m_settings.Exact && m_settings.SyncMode == setting::SyncMode::RemoteToLocal,
                     m_localLeftovers);
    CleanLeftoversOf(false, m_settings.Exact && m_settings.SyncMode == setting::SyncMode::LocalToRemote,
                     m_remoteLeftovers);
}

void SyncRun::CleanLeftoversOf(bool local, bool remove, const std::vector<Leftover>& found) {
    const QString side = local ? QStringLiteral("local") : QStringLiteral("remote");
    for (const Leftover& leftover : found) {
        if (StopRequested || ServerStoppedAnswering())
            return;
        if (mayBeInProgress(leftover.time))
            continue;
        const QString shown = escapedForLog(
            (local ? AddTrailingBackslash(m_settings.LocalFolder) : IncludeTrailingSlash(m_settings.RemoteFolder)) +
            leftover.name.text());
        if (!remove) {
            Log(QStringLiteral("The %1 file %2 is a temporary file left by an interrupted transfer").arg(side, shown));
            continue;
        }
        if (m_options.DryRun) {
            Log(QStringLiteral("Would delete the %1 temporary file %2 of an interrupted transfer").arg(side, shown));
            continue;
        }
        bool removed = false;
        if (local)
            removed = MayChangeLocally(leftover.name, false) &&
                      QFile::remove(AddTrailingBackslash(m_settings.LocalFolder) + leftover.name.text());
        else
            removed = ConnectHandle && ConnectHandle->deleteFile(m_remoteBase + leftover.name.text());
        if (removed) {
            Log(QStringLiteral("The %1 temporary file %2 of an interrupted transfer has been deleted")
                    .arg(side, shown));
        } else if (local) {
            Log(QStringLiteral("Error while deleting file %1").arg(shown));
            ++LastRunOutcome.problems;
        } else {
            // Without the run's connection there is nothing that met a failure to ask.
            const QString label = QStringLiteral("FtpDeleteFile('%1')").arg(shown);
            Log(ConnectHandle ? ftpFailureLine(*ConnectHandle, label)
                              : ftpFailureLine(inet::Failure{inet::ErrorIncorrectHandleState, {}}, label));
            ++LastRunOutcome.problems;
        }
    }
}

void SyncRun::NoteLeftover(std::vector<Leftover>& found, const QString& relativePath, const QString& name,
                           NaiveDateTime time) {
    if (InternetHandle && inet::transferTokenOf(name) == InternetHandle->transferToken())
        return;
    // Only a name that is one plain level ever becomes a path.
    if (const std::optional<RelativeName> checked = RelativeName::fromPath(joinRelative(relativePath, name)))
        found.push_back({*checked, time});
}

// An upload that was cut off while the old file stood aside left the old
// content under the aside name and none under the real one: it goes back, so
// the file is neither missing nor taken for deleted.
void SyncRun::RestoreAsideLeftover(const QString& relativePath, const AsideLeftover& aside) {
    const std::optional<RelativeName> name = RelativeName::fromPath(joinRelative(relativePath, aside.originalName));
    const std::optional<RelativeName> asideName = RelativeName::fromPath(joinRelative(relativePath, aside.entry.name));
    if (!name || !asideName)
        return;
    const QString shown = escapedForLog(IncludeTrailingSlash(m_settings.RemoteFolder) + name->text());
    // By absolute paths: the aside file may be in any folder of the tree.
    if (m_options.DryRun) {
        Log(QStringLiteral("Would restore remote file %1 from an interrupted upload").arg(shown));
    } else if (ConnectHandle->renameFile(m_remoteBase + asideName->text(), m_remoteBase + name->text())) {
        Log(QStringLiteral("Remote file %1 has been restored from an interrupted upload").arg(shown));
    } else {
        Log(ftpFailureLine(*ConnectHandle, QStringLiteral("FtpRenameFile('%1')").arg(shown)));
        NoteRemoteFolderIncomplete();
        return;
    }
    if (m_fileFilter.includes(aside.originalName))
        AddRemoteFile(*name, aside.entry);
}
