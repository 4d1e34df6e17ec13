#include "project/VellisyncProject.h"

#include <QDirIterator>
#include <QFileInfo>

#include "ftp/FtpConnection.h"
#include "project/Global.h"

namespace {

// The mask lists live for one scan only, also when an error ends it.
class ScanMasks {
public:
    ScanMasks(MaskList& include, MaskList& exclude, const QString& includeText, const QString& excludeText)
        : m_include(include), m_exclude(exclude) {
        m_include = ParseMaskList(includeText);
        m_exclude = ParseMaskList(excludeText);
    }
    ~ScanMasks() {
        m_include.clear();
        m_exclude.clear();
    }
    ScanMasks(const ScanMasks&) = delete;
    ScanMasks& operator=(const ScanMasks&) = delete;

private:
    MaskList& m_include;
    MaskList& m_exclude;
};

QString joinRelative(const QString& relativePath, const QString& name) {
    return relativePath.isEmpty() ? name : relativePath + QLatin1Char('/') + name;
}

// The last level of a remote relative path ("a/b" gives "b"). Only "/" separates
// levels: a backslash or colon is an ordinary character in a name here.
QString lastRemoteLevel(const QString& relativePath) {
    return relativePath.mid(relativePath.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

void TVellisyncProject::CollectLocalFiles() {
    if (StopRequested)
        return;
    DoProgress();
    Log(QStringLiteral("Collecting local files..."));
    const ScanMasks masks(m_includeMasks, m_excludeMasks, IncludeMasks, ExcludeMasks);
    LocalFiles.Clear();
    LastRunOutcome.localRootReached = false;
    LastRunOutcome.localScanComplete = true; // cleared by any folder that cannot be listed
    m_visitedLocalFolders.clear();
    CollectLocalFolder({});
    m_visitedLocalFolders.clear();
    if (StopRequested) // a stopped scan saw only part of the tree
        LastRunOutcome.localScanComplete = false;
    Log(QStringLiteral("Done!"));
}

// Links to folders are followed, since users link shared folders into a tree
// they sync. Every folder is entered at most once per scan, identified by its
// canonical path, so a link back to an ancestor (or two links to one folder)
// cannot make the scan recurse without end or list a file twice.
void TVellisyncProject::CollectLocalFolder(const QString& relativePath) {
    const QString root = AddTrailingBackslash(LocalFolder);
    const QString folder = relativePath.isEmpty() ? root : root + relativePath + QLatin1Char('/');
    // An empty local folder setting means the current working folder.
    const QFileInfo folderInfo(folder.isEmpty() ? QStringLiteral(".") : folder);
    if (!folderInfo.isDir() || !folderInfo.isReadable() || !folderInfo.isExecutable()) {
        // Missing or unreadable: nothing is logged, but the run must know that
        // this part of the tree was not seen before it deletes anything.
        LastRunOutcome.localScanComplete = false;
        return;
    }
    if (relativePath.isEmpty())
        LastRunOutcome.localRootReached = true;
    const QString canonical = folderInfo.canonicalFilePath();
    if (m_visitedLocalFolders.contains(canonical))
        return;
    m_visitedLocalFolders.insert(canonical);

    QDirIterator it(folderInfo.filePath(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        DoProgress();
        if (StopRequested)
            break;
        const QFileInfo entry = it.fileInfo();
        const QString name = entry.fileName();
        if (entry.isDir()) {
            if (SubFilders)
                CollectLocalFolder(joinRelative(relativePath, name));
        } else if (entry.isFile()) {
            // Sockets, pipes, devices and dangling links are not files to sync.
            if (inet::isTransferTempName(name) || !IsFileIncluded(name, m_includeMasks, m_excludeMasks))
                continue;
            LocalFiles.AddFile(joinRelative(relativePath, name), entry.size(),
                               NaiveDateTime::fromLocal(entry.lastModified()));
        }
    }
}

void TVellisyncProject::CollectRemoteFiles() {
    if (StopRequested)
        return;
    DoProgress();
    Log(QStringLiteral("Collecting FTP files..."));
    const ScanMasks masks(m_includeMasks, m_excludeMasks, IncludeMasks, ExcludeMasks);
    RemoteFiles.Clear();
    LastRunOutcome.remoteRootReached = false;
    LastRunOutcome.remoteScanComplete = false;
    QString startFolder;
    if (!ConnectHandle || !GetFtpCurrentDir(*ConnectHandle, startFolder))
        return;
    if (!SetFtpCurrentDir(*ConnectHandle, RemoteFolder))
        return;
    LastRunOutcome.remoteScanComplete = true; // cleared by any folder that cannot be entered or listed
    CollectRemoteFolder({});
    if (StopRequested)
        LastRunOutcome.remoteScanComplete = false;
    SetFtpCurrentDir(*ConnectHandle, startFolder);
    Log(QStringLiteral("Done!"));
}

void TVellisyncProject::CollectRemoteFolder(const QString& relativePath) {
    if (StopRequested)
        return;
    DoProgress();
    inet::FtpConnection& connection = *ConnectHandle;
    const QString level = lastRemoteLevel(relativePath);
    if (!level.isEmpty() && !connection.setCurrentDirectory(level)) {
        Log(ftpFailureLine(QStringLiteral("FtpSetCurrentDirectory(") + level + QLatin1Char(')')));
        LastRunOutcome.remoteScanComplete = false;
        return;
    }

    QStringList pendingFolders;
    inet::FindData data;
    auto find = FtpFindFirstFileRetry(connection, QStringLiteral("*.*"), data);
    const bool listed = find || inet::lastError() == inet::ErrorNoMoreFiles;
    if (relativePath.isEmpty())
        LastRunOutcome.remoteRootReached = listed;
    if (find) {
        const QString prefix = IncludeTrailingSlash(relativePath);
        for (bool haveEntry = true; haveEntry && !StopRequested; haveEntry = find->findNext(data)) {
            DoProgress();
            if (!data.isDirectory) {
                if (!inet::isTransferTempName(data.name) && IsFileIncluded(data.name, m_includeMasks, m_excludeMasks))
                    RemoteFiles.AddFile(prefix + data.name, data.size,
                                        NaiveDateTime::fromDateAndTime(data.modifiedDate, data.modifiedTime));
            } else if (SubFilders && data.name != QLatin1String(".") && data.name != QLatin1String("..")) {
                pendingFolders.append(prefix + data.name);
            }
        }
        // Closed before any subfolder is entered: only one listing is ever open
        // on the connection.
        find.reset();
    } else if (!listed) {
        Log(ftpFailureLine(QStringLiteral("FtpFindFirstFile")));
        LastRunOutcome.remoteScanComplete = false;
    }
    for (const QString& subfolder : std::as_const(pendingFolders))
        CollectRemoteFolder(subfolder);

    if (!level.isEmpty() && !connection.setCurrentDirectory(QStringLiteral(".."))) {
        Log(ftpFailureLine(QStringLiteral("FtpSetCurrentDirectory('..')")));
        LastRunOutcome.remoteScanComplete = false;
    }
}
