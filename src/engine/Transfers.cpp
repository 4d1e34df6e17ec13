#include "project/VellisyncProject.h"

#include <QFile>

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

// File part: everything after the last "/" (the whole text when there is none).
QString filePart(const QString& path) {
    return path.mid(path.lastIndexOf(slash()) + 1);
}

// The remote folder setting may be written with backslashes; only this text is
// converted, since a backslash inside a file name is an ordinary character.
QString remoteRootWithSlashes(const QString& remoteFolder) {
    QString root = remoteFolder;
    root.replace(QLatin1Char('\\'), slash());
    return IncludeTrailingSlash(root);
}

} // namespace

bool TVellisyncProject::DownloadFile(const QString& name, NaiveDateTime time) {
    const QString localFolder = AddTrailingBackslash(LocalFolder) + folderPart(name);
    const QString localFile = AddTrailingBackslash(localFolder) + filePart(name);
    const QString remoteFile = remoteRootWithSlashes(RemoteFolder) + name;

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

bool TVellisyncProject::UploadFile(const QString& name) {
    const QString remotePath = remoteRootWithSlashes(RemoteFolder) + name;
    const QString remoteFolder = folderPart(remotePath);
    if (!ForceRemoteFolders(remoteFolder))
        return false;
    const QString localFile = AddTrailingBackslash(LocalFolder) + name;
    const QString remoteFile = remoteFolder + filePart(localFile);
    if (!ConnectHandle->putFile(localFile, remoteFile)) {
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
    const QString localFile = AddTrailingBackslash(LocalFolder) + name;
    if (!QFile::remove(localFile)) {
        Log(QStringLiteral("Error while deleting file %1").arg(localFile));
        return false;
    }
    Log(QStringLiteral("Local file %1 has been deleted").arg(localFile));
    return true;
}

bool TVellisyncProject::DeleteRemoteFile(const QString& name) {
    // As stored: the scan entered this same text.
    const QString remoteFile = IncludeTrailingSlash(RemoteFolder) + name;
    if (!ConnectHandle->deleteFile(remoteFile)) {
        Log(ftpFailureLine(QStringLiteral("FtpDeleteFile('%1')").arg(remoteFile)));
        return false;
    }
    Log(QStringLiteral("Remote file %1 has been deleted").arg(remoteFile));
    return true;
}
