#include "project/VellisyncProject.h"

#include <QFile>
#include <QFileInfo>

#include "ftp/FtpConnection.h"
#include "project/Global.h"

namespace {

constexpr int MaxTimeoutAttempts = 3;

QChar slash() {
    return QLatin1Char('/');
}

// Folder part of a relative name: everything up to and including its last "/".
QString folderPart(const QString& path) {
    return path.left(path.lastIndexOf(slash()) + 1);
}

// The remote folder setting may be written with backslashes; only this text is
// converted, since a backslash inside a file name is an ordinary character.
QString remoteRootWithSlashes(const QString& remoteFolder) {
    QString root = remoteFolder;
    root.replace(QLatin1Char('\\'), slash());
    return IncludeTrailingSlash(root);
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

bool TVellisyncProject::DownloadFile(const QString& name, NaiveDateTime time, const QString& localName) {
    const std::optional<RelativeName> remoteName = checkedName(name);
    const std::optional<RelativeName> targetName = checkedName(localName.isEmpty() ? name : localName);
    if (!remoteName || !targetName) {
        SkipName(QStringLiteral("remote"), name, QStringLiteral("it is not a plain relative path"));
        return false;
    }
    if (!MayChangeLocally(*targetName, true))
        return false;
    const QString localFolder = AddTrailingBackslash(LocalFolder) + targetName->folderPart();
    const QString localFile = AddTrailingBackslash(localFolder) + targetName->fileName();
    const QString remoteFile = remoteRootWithSlashes(RemoteFolder) + remoteName->text();

    // When the folder cannot be made, the fetch fails and logs why.
    ForceFolders(localFolder);
    if (!ConnectHandle || !GetFileWithRetry(*ConnectHandle, remoteFile, localFile, false)) {
        Log(ftpFailureLine(QStringLiteral("FtpGetFile('%1')").arg(remoteFile)));
        return false;
    }
    Log(QStringLiteral("File %1 has been downloaded").arg(remoteFile));
    // The file gets the remote entry's time as local wall-clock time, so the
    // next run sees equal minutes on both sides. A failure here is not reported.
    QFile file(localFile);
    if (file.open(QIODevice::ReadOnly))
        file.setFileTime(time.toLocal(), QFileDevice::FileModificationTime);
    return true;
}

bool TVellisyncProject::UploadFile(const QString& name, const QString& remoteName, const TFileEntry* scanned) {
    const std::optional<RelativeName> sourceName = checkedName(name);
    const std::optional<RelativeName> targetName = checkedName(remoteName.isEmpty() ? name : remoteName);
    if (!sourceName || !targetName) {
        SkipName(QStringLiteral("local"), name, QStringLiteral("it is not a plain relative path"));
        return false;
    }
    const QString remotePath = remoteRootWithSlashes(RemoteFolder) + targetName->text();
    const QString remoteFolder = folderPart(remotePath);
    if (!ForceRemoteFolders(remoteFolder))
        return false;
    const QString localFile = AddTrailingBackslash(LocalFolder) + sourceName->text();
    const QString remoteFile = remoteFolder + targetName->fileName();
    // The scan decided on this size and time; content of another version must
    // not go in under its decision.
    const auto unchangedSinceScan = [&localFile, scanned] {
        const QFileInfo now(localFile);
        return !scanned ||
               (now.size() == scanned->Size && NaiveDateTime::fromLocal(now.lastModified()) == scanned->Time);
    };
    if (!ConnectHandle->putFile(localFile, remoteFile, unchangedSinceScan)) {
        Log(ftpFailureLine(QStringLiteral("FtpPutFile")));
        return false;
    }
    Log(QStringLiteral("File %1 has been uploaded").arg(localFile));
    return true;
}

bool TVellisyncProject::ForceRemoteFolders(const QString& path) {
    QStringList levels;
    SplitRemotePath(path, levels);
    QString cumulative;
    for (qsizetype i = 0; i < levels.size(); ++i) {
        cumulative = i == 0 ? levels.at(i) : cumulative + slash() + levels.at(i);
        if (RemoteFolderExists(*ConnectHandle, cumulative))
            continue;
        if (!ConnectHandle->createDirectory(cumulative)) {
            Log(ftpFailureLine(QStringLiteral("FtpCreateDirectory")));
            return false;
        }
    }
    return true;
}

bool TVellisyncProject::RemoteFolderExists(inet::FtpConnection& connection, const QString& path) {
    QString current;
    if (!GetFtpCurrentDir(connection, current))
        return false;
    const bool entered = connection.setCurrentDirectory(path);
    if (entered)
        connection.setCurrentDirectory(current);
    return entered;
}

bool TVellisyncProject::GetFileWithRetry(inet::FtpConnection& connection, const QString& remoteFile,
                                         const QString& localFile, bool failIfExists) {
    for (int attempt = 1;; ++attempt) {
        if (connection.getFile(remoteFile, localFile, failIfExists))
            return true;
        const int code = inet::lastError();
        inet::setLastError(code);
        if (code != inet::ErrorTimeout || attempt == MaxTimeoutAttempts)
            return false;
    }
}

void TVellisyncProject::SplitRemotePath(const QString& path, QStringList& levels) {
    levels.clear();
    QString rest = path;
    // A leading "/" stays with the first level.
    qsizetype next = rest.indexOf(slash(), rest.startsWith(slash()) ? 1 : 0);
    while (next >= 0) {
        levels.append(rest.left(next));
        rest = rest.mid(next + 1);
        next = rest.indexOf(slash());
    }
    if (!rest.isEmpty())
        levels.append(rest);
}

bool TVellisyncProject::DeleteLocalFile(const QString& name) {
    const std::optional<RelativeName> checked = checkedName(name);
    if (!checked) {
        SkipName(QStringLiteral("local"), name, QStringLiteral("it is not a plain relative path"));
        return false;
    }
    if (!MayChangeLocally(*checked, false))
        return false;
    const QString localFile = AddTrailingBackslash(LocalFolder) + checked->text();
    if (!QFile::remove(localFile)) {
        Log(QStringLiteral("Error while deleting file %1").arg(localFile));
        return false;
    }
    Log(QStringLiteral("Local file %1 has been deleted").arg(localFile));
    return true;
}

bool TVellisyncProject::DeleteRemoteFile(const QString& name) {
    const std::optional<RelativeName> checked = checkedName(name);
    if (!checked) {
        SkipName(QStringLiteral("remote"), name, QStringLiteral("it is not a plain relative path"));
        return false;
    }
    // As stored: the scan entered this same text.
    const QString remoteFile = IncludeTrailingSlash(RemoteFolder) + checked->text();
    if (!ConnectHandle->deleteFile(remoteFile)) {
        Log(ftpFailureLine(QStringLiteral("FtpDeleteFile('%1')").arg(remoteFile)));
        return false;
    }
    Log(QStringLiteral("Remote file %1 has been deleted").arg(remoteFile));
    return true;
}

bool TVellisyncProject::MayChangeLocally(const RelativeName& name, bool writeThroughFileLink) {
    const QString root = AddTrailingBackslash(LocalFolder);
    const QString canonicalRoot = QFileInfo(root.isEmpty() ? QStringLiteral(".") : root).canonicalFilePath();
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
