#include "sync/SyncRun.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

#include "sync/FileJobs.h"
#include "sync/ServerTimes.h"
#include "sync/FtpHelpers.h"
#include "model/Global.h"

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

// At most this many unreadable lines of one listing are shown; the rest are counted.
constexpr int ShownUnrecognisedLines = 5;

// A folder's entry names, read whole before any is looked at, so that no
// listing stays open while the scan goes down a level. Names whose bytes are
// no valid UTF-8 name nothing a text could, and are kept apart so that the log
// can say they were left out.
struct FolderNames {
    std::vector<QString> names;
    std::vector<QByteArray> undecodable;
    int error = 0; // errno when the folder could not be listed
};

FolderNames readFolderNames(const QString& folder) {
    FolderNames result;
    errno = 0;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(QFile::encodeName(folder).constData()), &::closedir);
    if (!dir) {
        result.error = errno != 0 ? errno : EIO;
        return result;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        QStringDecoder utf8(QStringDecoder::Utf8);
        QString decoded = utf8(name);
        if (utf8.hasError())
            result.undecodable.push_back(name);
        else
            result.names.push_back(std::move(decoded));
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

// The last level of a remote relative path ("a/b" gives "b"). Only "/" separates
// levels: a backslash or colon is an ordinary character in a name here.
QString lastRemoteLevel(const QString& relativePath) {
    return relativePath.mid(relativePath.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

void SyncRun::CollectLocalFiles() {
    if (StopRequested)
        return;
    DoProgress();
    Log(QStringLiteral("Collecting local files..."));
    const ScanMasks masks(m_includeMasks, m_excludeMasks, m_settings.IncludeMasks, m_settings.ExcludeMasks);
    LocalFiles.Clear();
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
    const QString canonical = folderInfo.canonicalFilePath();
    if (m_visitedLocalFolders.contains(canonical))
        return;
    m_visitedLocalFolders.insert(canonical);

    const FolderNames listing = readFolderNames(folderInfo.filePath());
    if (listing.error != 0) { // it went between the look at it and the listing
        NoteLocalFolderUnread(folderInfo.filePath(), QString::fromLocal8Bit(std::strerror(listing.error)));
        return;
    }
    for (const QByteArray& name : listing.undecodable) {
        const QString reason = QStringLiteral("the name is not valid UTF-8");
        Log(QStringLiteral("Skipped local name \"%1\": %2")
                .arg(joinRelative(escapedForLog(relativePath), bytesForLog(name)), reason));
        ReportSkippedName(QStringLiteral("local"), joinRelative(relativePath, bytesForLog(name)), reason);
        ++LastRunOutcome.problems;
    }
    const QString base = AddTrailingBackslash(folderInfo.filePath());
    for (const QString& name : listing.names) {
        DoProgress();
        if (StopRequested)
            break;
        const QFileInfo entry(base + name);
        const bool isFolder = entry.isDir();
        // Sockets, pipes, devices and dangling links are not files to sync.
        if (!isFolder && !entry.isFile())
            continue;
        if (isFolder && !m_settings.SubFilders)
            continue;
        if (!isFolder && inet::isTransferTempName(name)) {
            if (!entry.isSymLink()) // ours are never links
                NoteLeftover(m_localLeftovers, relativePath, name, NaiveDateTime::fromLocal(entry.lastModified()));
            continue;
        }
        if (!isFolder && !IsFileIncluded(name, m_includeMasks, m_excludeMasks))
            continue;
        const std::optional<RelativeName> child = RelativeName::fromPath(joinRelative(relativePath, name));
        if (!child) {
            SkipName(QStringLiteral("local"), joinRelative(relativePath, name), levelProblem(name));
            continue;
        }
        if (isFolder)
            CollectLocalFolder(child->text());
        else
            LocalFiles.AddFile(*child, entry.size(), NaiveDateTime::fromLocal(entry.lastModified()));
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
    if (!m_hooks.event)
        return;
    engine::RunEvent event;
    event.type = engine::RunEvent::Type::Skipped;
    event.side = side;
    event.file = name;
    event.message = reason;
    event.dryRun = m_options.DryRun;
    m_hooks.event(event);
}

namespace {

// The folders waiting to be listed. A listing job on a connection that lists
// several folders in one round trip takes as many as are waiting when it
// starts (up to a limit), so it lists a whole level of the tree at once; on
// any other it takes one, and the other connections share the rest.
class FoldersToList {
public:
    void add(const QString& relativePath) {
        const std::lock_guard lock(m_mutex);
        m_waiting.push_back(relativePath);
    }
    QStringList take(bool several) {
        const std::lock_guard lock(m_mutex);
        QStringList taken;
        while (!m_waiting.empty() && taken.size() < (several ? ListedTogether : 1)) {
            taken.append(m_waiting.front());
            m_waiting.pop_front();
        }
        return taken;
    }

private:
    static constexpr qsizetype ListedTogether = 32;
    std::mutex m_mutex;
    std::deque<QString> m_waiting;
};

// Enters a folder by its absolute path and lists it, so that no listing
// depends on where another left a connection.
std::shared_ptr<engine::FolderListing> listOneFolder(inet::FtpConnection& connection, const QString& base,
                                                     const QString& relativePath) {
    const QString folder = base + relativePath;
    auto listing = std::make_shared<engine::FolderListing>();
    listing->relativePath = relativePath;
    const QString level = lastRemoteLevel(relativePath);
    inet::FindData data;
    std::unique_ptr<inet::FtpFind> find;
    engine::retryTransientFaults(connection, [&] {
        find = connection.listFolder(folder, data, listing->entered);
        return find || (listing->entered && connection.lastError() == inet::ErrorNoMoreFiles);
    });
    if (!listing->entered) {
        listing->failureLine = ftpFailureLine(connection, QStringLiteral("FtpSetCurrentDirectory(") +
                                                              escapedForLog(level) + QLatin1Char(')'));
        return listing;
    }
    listing->listed = find || connection.lastError() == inet::ErrorNoMoreFiles;
    if (!listing->listed) {
        listing->failureLine =
            ftpFailureLine(connection, QStringLiteral("FtpFindFirstFile('%1')").arg(escapedForLog(folder)));
        return listing;
    }
    listing->unrecognisedLines = connection.unrecognisedListingLines();
    for (bool haveEntry = bool(find); haveEntry; haveEntry = find->findNext(data))
        listing->entries.push_back(data);
    return listing;
}

// One job of the pool: lists the folders waiting when it starts, those the
// server lists over the control connection together, the others one by one.
engine::Job listingJob(const QString& base, const std::shared_ptr<FoldersToList>& waiting) {
    return [base, waiting](inet::FtpConnection& connection) {
        const QStringList folders = waiting->take(connection.listsFoldersTogether());
        engine::FolderListings listings;
        std::vector<inet::FolderListing> together;
        if (folders.size() > 1) {
            QStringList paths;
            for (const QString& folder : folders)
                paths.append(base + folder);
            if (!connection.listFoldersTogether(paths, together))
                together.clear(); // each is tried again on its own
        }
        for (qsizetype i = 0; i < folders.size(); ++i) {
            if (size_t(i) < together.size() && together[size_t(i)].listed) {
                auto listing = std::make_shared<engine::FolderListing>();
                listing->relativePath = folders.at(i);
                listing->entered = listing->listed = true;
                listing->entries = std::move(together[size_t(i)].entries);
                listing->unrecognisedLines = std::move(together[size_t(i)].unrecognisedLines);
                listings.push_back(std::move(listing));
            } else {
                listings.push_back(listOneFolder(connection, base, folders.at(i)));
            }
        }
        return engine::JobOutcome{true, {}, std::move(listings)};
    };
}

} // namespace

void SyncRun::CollectRemoteFiles() {
    if (StopRequested)
        return;
    DoProgress();
    Log(QStringLiteral("Collecting FTP files..."));
    const ScanMasks masks(m_includeMasks, m_excludeMasks, m_settings.IncludeMasks, m_settings.ExcludeMasks);
    RemoteFiles.Clear();
    m_remoteDayOnly.clear();
    m_unlistedRemoteFolders.clear();
    m_withheldUploadFolders.clear();
    m_remoteSizeUnchecked.clear();
    m_remoteLeftovers.clear();
    LastRunOutcome.remoteRootReached = false;
    LastRunOutcome.remoteScanComplete = false;
    m_remoteBase.clear();
    // The folder the scan started in, and into the remote folder: nothing
    // is logged when either fails, and the list stays empty.
    QString startFolder;
    if (!ConnectHandle || !ConnectHandle->enterFromCurrent(m_settings.RemoteFolder, startFolder))
        return;
    // The pool works with absolute paths; a relative remote folder is
    // resolved once, where the logon put the run's own connection.
    QString root = m_settings.RemoteFolder;
    if (!root.startsWith(QLatin1Char('/')) && !GetFtpCurrentDir(*ConnectHandle, root))
        return;
    m_remoteBase = IncludeTrailingSlash(root);
    LastRunOutcome.remoteScanComplete = true; // cleared by any folder that cannot be entered or listed
    ListRemoteTree();
    LearnListingZone();
    CollectRemoteFolder({});
    m_remoteListings.clear();
    if (StopRequested)
        LastRunOutcome.remoteScanComplete = false;
    SetFtpCurrentDir(*ConnectHandle, startFolder);
    Log(QStringLiteral("Done!"));
}

// Lists every folder of the remote tree on the pool, as many at once as it
// has connections; each folder's subfolders are queued as its listing comes.
void SyncRun::ListRemoteTree() {
    m_remoteListings.clear();
    engine::RemoteFolders& known = RemoteFolderMemory();
    for (QString level = m_remoteBase; level.size() > 1; level = level.left(level.lastIndexOf(QLatin1Char('/'))))
        known.addKnown(level);
    engine::ConnectionPool& pool = Pool();
    const auto waiting = std::make_shared<FoldersToList>();
    waiting->add({});
    pool.add(listingJob(m_remoteBase, waiting));
    // A job for each folder, though a job may take several: those that find
    // none waiting end at once.
    const auto takeListing = [&](const std::shared_ptr<const engine::FolderListing>& listing) {
        const QString relativePath = listing->relativePath;
        m_remoteListings.insert(relativePath, listing);
        if (!listing->listed)
            return;
        known.addKnown(m_remoteBase + relativePath);
        if (!m_settings.SubFilders)
            return;
        for (const inet::FindData& entry : listing->entries) {
            if (!entry.isDirectory)
                continue;
            if (const std::optional<RelativeName> child =
                    RelativeName::fromPath(joinRelative(relativePath, entry.name))) {
                waiting->add(child->text());
                pool.add(listingJob(m_remoteBase, waiting));
            }
        }
    };
    pool.run([&](engine::JobOutcome& outcome) {
        for (const std::shared_ptr<const engine::FolderListing>& listing : outcome.listings)
            takeListing(listing);
        DoProgress();
    });
    LogPoolNotices();
}

// Takes one folder's listing into RemoteFiles, then its subfolders' in the
// order they were listed: the order of a scan on a single connection.
void SyncRun::CollectRemoteFolder(const QString& relativePath) {
    DoProgress();
    const std::shared_ptr<const engine::FolderListing> listing = m_remoteListings.value(relativePath);
    if (!listing) { // never listed: the run was stopped, or the server fell silent
        LastRunOutcome.remoteScanComplete = false;
        return;
    }
    if (relativePath.isEmpty())
        LastRunOutcome.remoteRootReached = listing->listed;
    if (!listing->entered || !listing->listed) {
        Log(listing->failureLine);
        NoteRemoteFolderIncomplete();
        m_unlistedRemoteFolders.append(relativePath);
        return;
    }
    NoteUnrecognisedListingLines(relativePath, listing->unrecognisedLines);

    QStringList pendingFolders;
    QSet<QString> listedNames;
    std::vector<AsideLeftover> asides;
    for (const inet::FindData& data : listing->entries) {
        DoProgress();
        listedNames.insert(data.name);
        if (!data.isDirectory && inet::isTransferTempName(data.name)) {
            if (QString original = inet::originalOfAsideName(data.name); !original.isEmpty())
                asides.push_back({data, std::move(original)});
            else
                NoteLeftover(m_remoteLeftovers, relativePath, data.name, RemoteTimeOf(data));
            continue;
        }
        if (data.isDirectory ? !m_settings.SubFilders : !IsFileIncluded(data.name, m_includeMasks, m_excludeMasks))
            continue;
        // A name from the server becomes a path and a command only once it
        // has proven to be one plain level: never "..", never "a/../b".
        const std::optional<RelativeName> child = RelativeName::fromPath(joinRelative(relativePath, data.name));
        if (!child) {
            SkipName(QStringLiteral("remote"), joinRelative(relativePath, data.name), levelProblem(data.name));
            continue;
        }
        if (data.isDirectory)
            pendingFolders.append(child->text());
        else
            AddRemoteFile(*child, data);
    }
    for (const AsideLeftover& aside : asides) {
        // Beside the file it was the old version of, it is a leftover too.
        if (!listedNames.contains(aside.originalName))
            RestoreAsideLeftover(relativePath, aside);
        else
            NoteLeftover(m_remoteLeftovers, relativePath, aside.entry.name, RemoteTimeOf(aside.entry));
    }
    for (const QString& subfolder : std::as_const(pendingFolders))
        CollectRemoteFolder(subfolder);
}

// LIST times are in the server's listing zone, which no listing states: it is
// learnt from one file listed to the minute, whose exact UTC time MDTM gives.
void SyncRun::LearnListingZone() {
    m_listingZone.reset();
    if (!m_settings.ListingTimeZone.isEmpty()) {
        m_listingZone = engine::parseZoneOffset(m_settings.ListingTimeZone);
        if (m_listingZone)
            return;
    }
    bool anyListed = false;
    QString samplePath;
    NaiveDateTime sampleTime;
    for (auto it = m_remoteListings.cbegin(); it != m_remoteListings.cend(); ++it) {
        for (const inet::FindData& entry : it.value()->entries) {
            if (entry.isDirectory || entry.timeSource == inet::FindData::TimeSource::Local)
                continue;
            anyListed = true;
            const std::optional<RelativeName> name = RelativeName::fromPath(joinRelative(it.key(), entry.name));
            if (entry.timeSource != inet::FindData::TimeSource::Listed || !name)
                continue;
            // The newest such file, the same one on every run over the same tree.
            const NaiveDateTime time = NaiveDateTime::fromDateAndTime(entry.modifiedDate, entry.modifiedTime);
            if (samplePath.isEmpty() || time > sampleTime || (time == sampleTime && name->text() < samplePath)) {
                samplePath = name->text();
                sampleTime = time;
            }
        }
    }
    if (!anyListed)
        return;
    QString reason = QStringLiteral("no file is listed with a time of day");
    if (!samplePath.isEmpty()) {
        std::vector<std::optional<QDateTime>> times;
        const QString shown = escapedForLog(IncludeTrailingSlash(m_settings.RemoteFolder) + samplePath);
        if (!ConnectHandle->modificationTimes({m_remoteBase + samplePath}, times) || !times.front()) {
            reason = QStringLiteral("the server gives no exact time (MDTM) of %1").arg(shown);
        } else {
            m_listingZone = engine::zoneFromListing(sampleTime, *times.front());
            reason = QStringLiteral("the listed and the exact time of %1 are more than 14 hours apart").arg(shown);
        }
    }
    if (!m_listingZone)
        Log(QStringLiteral("The time zone of the server's listings could not be learnt (%1): listed times are "
                           "taken as local times.")
                .arg(reason));
}

NaiveDateTime SyncRun::RemoteTimeOf(const inet::FindData& data) const {
    const NaiveDateTime time = NaiveDateTime::fromDateAndTime(data.modifiedDate, data.modifiedTime);
    if (data.timeSource != inet::FindData::TimeSource::Local && m_listingZone)
        return engine::listedToLocal(time, *m_listingZone);
    return time;
}

void SyncRun::NoteLeftover(std::vector<Leftover>& found, const QString& relativePath, const QString& name,
                           NaiveDateTime time) {
    if (InternetHandle && inet::transferTokenOf(name) == InternetHandle->transferToken())
        return;
    // Only a name that is one plain level ever becomes a path.
    if (const std::optional<RelativeName> checked = RelativeName::fromPath(joinRelative(relativePath, name)))
        found.push_back({*checked, time});
}

void SyncRun::AddRemoteFile(const RelativeName& name, const inet::FindData& data) {
    const int index = RemoteFiles.AddFile(name, data.size, RemoteTimeOf(data));
    // Only the day is known: the exact time is asked for once it matters.
    if (data.timeSource == inet::FindData::TimeSource::ListedDay)
        m_remoteDayOnly.push_back(index);
    if (data.isLink || data.size < 0)
        m_remoteSizeUnchecked.insert(index);
}

void SyncRun::NoteRemoteFolderIncomplete() {
    LastRunOutcome.remoteScanComplete = false;
    ++LastRunOutcome.problems;
}

bool SyncRun::UploadWithheld(const QString& name) {
    for (const QString& folder : std::as_const(m_unlistedRemoteFolders)) {
        // Names match without regard to letter case, so the folder does too.
        if (!folder.isEmpty() && !name.startsWith(folder + QLatin1Char('/'), Qt::CaseInsensitive))
            continue;
        if (!m_withheldUploadFolders.contains(folder)) {
            m_withheldUploadFolders.insert(folder);
            Log(QStringLiteral("Files have not been uploaded into remote folder %1 because it could not be listed.")
                    .arg(escapedForLog(IncludeTrailingSlash(m_settings.RemoteFolder) + folder)));
        }
        return true;
    }
    return false;
}

bool SyncRun::ServerStoppedAnswering() const {
    return (ConnectHandle && ConnectHandle->serverStoppedAnswering()) || (m_pool && m_pool->serverStoppedAnswering());
}

bool SyncRun::ServerUnreachable() const {
    return (ConnectHandle && ConnectHandle->serverUnreachable()) || (m_pool && m_pool->serverUnreachable());
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
    if (IsFileIncluded(aside.originalName, m_includeMasks, m_excludeMasks))
        AddRemoteFile(*name, aside.entry);
}

void SyncRun::NoteUnrecognisedListingLines(const QString& relativePath, const QStringList& lines) {
    if (lines.isEmpty())
        return;
    // The line may have been a folder: without it no deletion can trust this
    // folder's picture.
    NoteRemoteFolderIncomplete();
    const QString folder = IncludeTrailingSlash(m_settings.RemoteFolder) + relativePath;
    for (qsizetype i = 0; i < qMin<qsizetype>(lines.size(), ShownUnrecognisedLines); ++i)
        Log(QStringLiteral("The listing of %1 holds a line that cannot be read: \"%2\"")
                .arg(escapedForLog(folder), escapedForLog(lines.at(i))));
    if (lines.size() > ShownUnrecognisedLines)
        Log(QStringLiteral("The listing of %1 holds %2 more such lines")
                .arg(escapedForLog(folder))
                .arg(lines.size() - ShownUnrecognisedLines));
}
