#include "sync/SyncRun.h"

#include <QFile>
#include <QFileInfo>

#include "sync/FtpHelpers.h"
#include "model/Global.h"

namespace {

QChar slash() {
    return QLatin1Char('/');
}

// A name from a file list, checked again where it becomes a path.
std::optional<RelativeName> checkedName(const QString& name) {
    return RelativeName::fromPath(name);
}

// Whether a resolved path is the root or lies below it. An empty path (a link
// that leads nowhere) lies nowhere.
bool liesUnder(const QString& path, const QString& root) {
    if (path.isEmpty() || root.isEmpty())
        return false;
    if (path == root)
        return true;
    return path.startsWith(root.endsWith(slash()) ? root : root + slash());
}

} // namespace

bool SyncRun::UploadFile(const QString& name, const QString& remoteName, const TFileEntry* scanned) {
    const std::optional<RelativeName> sourceName = checkedName(name);
    const std::optional<RelativeName> targetName = checkedName(remoteName.isEmpty() ? name : remoteName);
    if (!sourceName || !targetName) {
        SkipName(QStringLiteral("local"), name, QStringLiteral("it is not a plain relative path"));
        return false;
    }
    return LogOutcome(engine::uploadFile(*ConnectHandle, Roots(), RemoteFolderMemory(), *sourceName, *targetName,
                                         engine::unchangedSince(Roots().localRoot + sourceName->text(), scanned)));
}

bool SyncRun::LogOutcome(const engine::JobOutcome& outcome) {
    for (const QString& line : outcome.lines)
        Log(line);
    return outcome.ok;
}

bool SyncRun::DeleteLocalFile(const QString& name, const QString& reason) {
    const std::optional<RelativeName> checked = checkedName(name);
    if (!checked) {
        SkipName(QStringLiteral("local"), name, QStringLiteral("it is not a plain relative path"));
        return false;
    }
    if (!MayChangeLocally(*checked, false))
        return false;
    const QString localFile = AddTrailingBackslash(m_settings.LocalFolder) + checked->text();
    if (!QFile::remove(localFile)) {
        Log(QStringLiteral("Error while deleting file %1").arg(escapedForLog(localFile)));
        return false;
    }
    Log(QStringLiteral("Local file %1 has been deleted").arg(escapedForLog(localFile)) + reason);
    return true;
}

bool SyncRun::MayChangeLocally(const RelativeName& name, bool writeThroughFileLink) {
    const QString root = AddTrailingBackslash(m_settings.LocalFolder);
    // Checked from the top down, each level before anything is made below it:
    // a missing level is created as a real folder inside a level already checked.
    QStringList levels = name.folderPart().split(slash(), Qt::SkipEmptyParts);
    if (writeThroughFileLink)
        levels.append(name.fileName());
    QString level;
    for (const QString& part : std::as_const(levels)) {
        level = level.isEmpty() ? part : level + slash() + part;
        const QFileInfo info(root + level);
        if (!info.isSymLink()) {
            if (!info.exists())
                break;
            continue;
        }
        // Resolved only here, where a link is met: most files have none on their way.
        const QString canonicalRoot = QFileInfo(root.isEmpty() ? QStringLiteral(".") : root).canonicalFilePath();
        if (liesUnder(info.canonicalFilePath(), canonicalRoot))
            continue;
        // Each refused file fails as an action; the reason is told once.
        if (!m_reportedOutsideLinks.contains(level)) {
            m_reportedOutsideLinks.insert(level);
            Log(QStringLiteral("Nothing is written or deleted through the %1 link %2: it leads outside the "
                               "local folder")
                    .arg(info.isDir() || part != name.fileName() ? QStringLiteral("folder") : QStringLiteral("file"),
                         root + level));
        }
        return false;
    }
    return true;
}
