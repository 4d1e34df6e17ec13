// The local scan: the local tree walked folder by folder into LocalFiles.
#include "sync/SyncRun.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "model/Global.h"
#include "sync/ScanHelpers.h"
#include "sync/StateDecision.h"

using engine::joinRelative;

namespace {

// What one stat(2) of a folder entry tells, following a link as the scan
// does.
struct EntryStatus {
    bool isFolder = false;
    bool isFile = false;
    qint64 size = 0;
    qint64 mtimeNs = 0; // nanoseconds since the epoch
};

struct FolderEntry {
    QString name;
    std::optional<EntryStatus> status; // none when nothing can be reached through the name
    bool isLink = false;
};

// A folder's entries, read and looked at whole before any is used, so that no
// listing stays open while the scan goes down a level. Each entry is looked
// at relative to the open folder: one short path walk per entry, however deep
// the tree. Names whose bytes are no valid UTF-8 name nothing a text could,
// and are kept apart so that the log can say they were left out.
struct FolderContents {
    FolderIdentity identity;
    std::vector<FolderEntry> entries;
    std::vector<QByteArray> undecodable;
    int error = 0; // errno when the folder could not be listed
};

EntryStatus statusOf(const struct stat& status) {
    return EntryStatus{S_ISDIR(status.st_mode), S_ISREG(status.st_mode), qint64(status.st_size),
                       qint64(status.st_mtim.tv_sec) * 1'000'000'000 + qint64(status.st_mtim.tv_nsec)};
}

FolderEntry entryIn(int folder, const dirent& found, QString name) {
    FolderEntry entry{std::move(name), std::nullopt, found.d_type == DT_LNK};
    struct stat status = {};
    if (::fstatat(folder, found.d_name, &status, 0) == 0)
        entry.status = statusOf(status);
    if (found.d_type == DT_UNKNOWN) // file systems that do not say what an entry is
        entry.isLink = ::fstatat(folder, found.d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode);
    return entry;
}

FolderContents readFolder(const QString& folder) {
    FolderContents result;
    errno = 0;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(QFile::encodeName(folder).constData()), &::closedir);
    struct stat self = {};
    if (!dir || ::fstat(::dirfd(dir.get()), &self) != 0) {
        result.error = errno != 0 ? errno : EIO;
        return result;
    }
    result.identity = {quint64(self.st_dev), quint64(self.st_ino)};
    while (const dirent* found = ::readdir(dir.get())) {
        const QByteArrayView name(found->d_name);
        if (name == "." || name == "..")
            continue;
        // Stateless: a sequence cut off at the end of a name is an error too.
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString decoded = utf8(name);
        if (utf8.hasError()) {
            result.undecodable.emplace_back(name.toByteArray());
        } else {
            result.entries.push_back(entryIn(::dirfd(dir.get()), *found, std::move(decoded)));
        }
    }
    return result;
}

// The system's reason why a folder cannot be listed.
QString whyFolderCannotBeRead(const QString& folder) {
    errno = 0;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(QFile::encodeName(folder).constData()), &::closedir);
    const int code = dir ? EACCES : (errno != 0 ? errno : EIO);
    return QString::fromLocal8Bit(std::strerror(code));
}

// Whether nothing at all is found under path: no folder, no file, no link.
// A link loop or a folder that may not be searched is there, and unreadable.
bool isMissing(const QString& path) {
    struct stat status = {};
    // Without the trailing slash: with it, lstat would follow a final link.
    const QString entry = path.size() > 1 && path.endsWith(QLatin1Char('/')) ? path.chopped(1) : path;
    return ::lstat(QFile::encodeName(entry).constData(), &status) != 0 && errno == ENOENT;
}

// The local wall-clock time of an exact time, to the millisecond.
NaiveDateTime wallClockOf(qint64 mtimeNs, engine::LocalTimes& localTimes) {
    const qint64 msecs = mtimeNs >= 0 ? mtimeNs / 1'000'000 : -((-mtimeNs + 999'999) / 1'000'000);
    return localTimes.fromUtc(msecs);
}

// Raw name bytes for a log line: printable ASCII as it is, all else as \xNN.
QString bytesForLog(const QByteArray& bytes) {
    QString shown;
    for (const char byte : bytes) {
        const auto value = quint8(byte);
        if (value >= 0x20 && value < 0x7f && value != '\\')
            shown += QLatin1Char(byte);
        else
            shown += QStringLiteral("\\x%1").arg(value, 2, 16, QLatin1Char('0'));
    }
    return shown;
}

} // namespace

void SyncRun::CollectLocalFiles() {
    if (StopRequested)
        return;
    DoProgress();
    Log(QStringLiteral("Collecting local files..."));
    m_fileFilter = FileFilterOfSettings();
    LocalFiles.Clear();
    m_localVerdicts.clear(); // decided again for the new list
    m_localIndex.reset();
    m_localLeftovers.clear();
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
void SyncRun::CollectLocalFolder(const QString& relativePath) {
    const QString root = AddTrailingBackslash(m_settings.LocalFolder);
    const QString folder = relativePath.isEmpty() ? root : root + relativePath + QLatin1Char('/');
    // An empty local folder setting means the current working folder.
    const QFileInfo folderInfo(folder.isEmpty() ? QStringLiteral(".") : folder);
    if (!folderInfo.isDir() || !folderInfo.isReadable() || !folderInfo.isExecutable()) {
        // The run must know that this part of the tree was not seen before it
        // deletes anything. A root that does not exist yet is no problem of
        // its own: a first download creates it.
        LastRunOutcome.localScanComplete = false;
        if (!relativePath.isEmpty() || !isMissing(folderInfo.filePath()))
            NoteLocalFolderUnread(folderInfo.filePath(), whyFolderCannotBeRead(folderInfo.filePath()));
        return;
    }
    if (relativePath.isEmpty())
        LastRunOutcome.localRootReached = true;
    const FolderContents listing = readFolder(folderInfo.filePath());
    if (listing.error != 0) { // it went between the look at it and the listing
        NoteLocalFolderUnread(folderInfo.filePath(), QString::fromLocal8Bit(std::strerror(listing.error)));
        return;
    }
    if (!m_visitedLocalFolders.insert(listing.identity).second)
        return;
    for (const QByteArray& name : listing.undecodable) {
        const QString reason = QStringLiteral("the name is not valid UTF-8");
        Log(QStringLiteral("Skipped local name \"%1\": %2")
                .arg(joinRelative(escapedForLog(relativePath), bytesForLog(name)), reason));
        ReportSkippedName(QStringLiteral("local"), joinRelative(relativePath, bytesForLog(name)), reason);
        ++LastRunOutcome.problems;
    }
    for (const FolderEntry& found : listing.entries) {
        DoProgress();
        if (StopRequested)
            break;
        const QString& name = found.name;
        const std::optional<EntryStatus>& entry = found.status;
        // Sockets, pipes, devices and dangling links are not files to sync.
        if (!entry || (!entry->isFolder && !entry->isFile))
            continue;
        const bool isFolder = entry->isFolder;
        if (isFolder && !m_settings.SubFilders)
            continue;
        if (!isFolder && inet::isTransferTempName(name)) {
            if (!found.isLink) // ours are never links
                NoteLeftover(m_localLeftovers, relativePath, name, wallClockOf(entry->mtimeNs, m_localTimes));
            continue;
        }
        // A version a conflict kept aside is the user's to look at: never
        // uploaded, recorded or deleted.
        if (!isFolder && engine::isConflictCopyName(name))
            continue;
        if (!isFolder && !m_fileFilter.includes(name))
            continue;
        const std::optional<RelativeName> child = RelativeName::fromPath(joinRelative(relativePath, name));
        if (!child) {
            SkipName(QStringLiteral("local"), joinRelative(relativePath, name), levelProblem(name));
            continue;
        }
        if (isFolder)
            CollectLocalFolder(child->text());
        else
            LocalFiles.AddFile(*child, entry->size, wallClockOf(entry->mtimeNs, m_localTimes), entry->mtimeNs);
    }
}

void SyncRun::NoteLocalFolderUnread(const QString& folder, const QString& reason) {
    LastRunOutcome.localScanComplete = false;
    Log(QStringLiteral("ReadLocalFolder('%1') fails with message: %2").arg(escapedForLog(folder), reason));
    ++LastRunOutcome.problems;
}

void SyncRun::SkipName(const QString& side, const QString& name, const QString& reason) {
    Log(QStringLiteral("Skipped %1 name \"%2\": %3").arg(side, escapedForLog(name), reason));
    ReportSkippedName(side, name, reason);
    ++LastRunOutcome.problems;
}

void SyncRun::ReportSkippedName(const QString& side, const QString& name, const QString& reason) {
    engine::RunEvent event;
    event.type = engine::RunEvent::Type::Skipped;
    event.side = side;
    event.file = name;
    event.message = reason;
    Report(std::move(event));
}
