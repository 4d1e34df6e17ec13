// The remote scan: the remote tree listed on the pool's connections into
// RemoteFiles, and what the listings say of the server.
#include "sync/SyncRun.h"

#include <deque>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "model/Global.h"
#include "sync/FileJobs.h"
#include "sync/FtpHelpers.h"
#include "sync/ScanHelpers.h"

using engine::joinRelative;

namespace {

// At most this many unreadable lines of one listing are shown; the rest are counted.
constexpr int ShownUnrecognisedLines = 5;

// The last level of a remote relative path ("a/b" gives "b"). Only "/" separates
// levels: a backslash or colon is an ordinary character in a name here.
QString lastRemoteLevel(const QString& relativePath) {
    return relativePath.mid(relativePath.lastIndexOf(QLatin1Char('/')) + 1);
}

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

// What every listing job of one scan shares: where the tree is, the folders
// waiting, and the pool that takes the jobs for the subfolders found.
struct TreeListing {
    QString base;
    std::shared_ptr<FoldersToList> waiting;
    bool subfolders = false;
    engine::ConnectionPool* pool = nullptr;
    // Listings over the control connection in LIST form, even where the
    // server offers MLSD; see FtpConnection::setControlListingsWanted.
    bool controlListings = false;
};

engine::Job listingJob(const std::shared_ptr<const TreeListing>& tree);

// Queues the subfolders of the listings for the same pool: the tree grows on
// the connections themselves, whatever the run's own thread is doing.
void queueSubfolders(const std::shared_ptr<const TreeListing>& tree, const engine::FolderListings& listings) {
    if (!tree->subfolders)
        return;
    for (const std::shared_ptr<const engine::FolderListing>& listing : listings) {
        if (!listing->listed)
            continue;
        for (const inet::FindData& entry : listing->entries) {
            if (!entry.isDirectory)
                continue;
            if (const std::optional<RelativeName> child =
                    RelativeName::fromPath(joinRelative(listing->relativePath, entry.name))) {
                tree->waiting->add(child->text());
                tree->pool->add(listingJob(tree));
            }
        }
    }
}

// One job of the pool: lists the folders waiting when it starts, those the
// server lists over the control connection together, the others one by one.
// A job for each folder, though a job may take several: those that find none
// waiting end at once.
engine::Job listingJob(const std::shared_ptr<const TreeListing>& tree) {
    return [tree](inet::FtpConnection& connection) {
        const QString& base = tree->base;
        // Said by every listing job: the connection may have listed for another scan.
        connection.setControlListingsWanted(tree->controlListings);
        const QStringList folders = tree->waiting->take(connection.listsFoldersTogether());
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
        queueSubfolders(tree, listings);
        return engine::JobOutcome{true, {}, std::move(listings)};
    };
}

} // namespace

void SyncRun::CollectRemoteFiles() {
    if (StopRequested) {
        // Listings begun before the stop end here, not in a later pass.
        if (std::exchange(m_remoteListingStarted, false) && !m_remoteBase.isEmpty())
            FinishRemoteListing();
        return;
    }
    DoProgress();
    Log(QStringLiteral("Collecting FTP files..."));
    m_fileFilter = FileFilterOfSettings();
    if (!m_remoteListingStarted)
        StartRemoteListing();
    m_remoteListingStarted = false;
    if (m_remoteBase.isEmpty())
        return; // the remote folder could not be entered: the list stays empty
    FinishRemoteListing();
    LearnListingZone();
    CollectRemoteFolder({});
    m_remoteListings.clear();
    if (StopRequested)
        LastRunOutcome.remoteScanComplete = false;
    SetFtpCurrentDir(*ConnectHandle, m_remoteStartFolder);
    Log(QStringLiteral("Done!"));
}

void SyncRun::StartRemoteListing() {
    m_remoteListingStarted = true;
    RemoteFiles.Clear();
    m_remoteVerdicts.clear();
    m_remoteIndex.reset();
    m_remoteDayOnly.clear();
    m_remoteSeen.clear();
    m_unlistedRemoteFolders.clear();
    m_withheldUploadFolders.clear();
    m_remoteSizeUnchecked.clear();
    m_remoteLeftovers.clear();
    LastRunOutcome.remoteRootReached = false;
    LastRunOutcome.remoteScanComplete = false;
    m_remoteBase.clear();
    m_remoteListings.clear();
    // The folder the scan started in, and into the remote folder: nothing
    // is logged when either fails, and the list stays empty.
    m_remoteStartFolder.clear();
    if (!ConnectHandle || !ConnectHandle->enterFromCurrent(m_settings.RemoteFolder, m_remoteStartFolder))
        return;
    // The pool works with absolute paths; a relative remote folder is
    // resolved once, where the logon put the run's own connection.
    QString root = m_settings.RemoteFolder;
    if (!root.startsWith(QLatin1Char('/')) && !GetFtpCurrentDir(*ConnectHandle, root))
        return;
    m_remoteBase = IncludeTrailingSlash(root);
    LastRunOutcome.remoteScanComplete = true; // cleared by any folder that cannot be entered or listed
    engine::RemoteFolders& known = RemoteFolderMemory();
    for (QString level = m_remoteBase; level.size() > 1; level = level.left(level.lastIndexOf(QLatin1Char('/'))))
        known.addKnown(level);
    auto tree = std::make_shared<TreeListing>(TreeListing{m_remoteBase, std::make_shared<FoldersToList>(),
                                                          m_settings.SubFilders, &Pool(), ListsWithoutExactTimes()});
    tree->waiting->add({});
    Pool().add(listingJob(tree));
}

// The listings of the whole remote tree into m_remoteListings: those done
// while the local side was scanned, and the rest, with the run's own
// connection taking its share.
void SyncRun::FinishRemoteListing() {
    engine::RemoteFolders& known = RemoteFolderMemory();
    const auto takeListing = [&](const std::shared_ptr<const engine::FolderListing>& listing) {
        m_remoteListings.insert(listing->relativePath, listing);
        if (listing->listed)
            known.addKnown(m_remoteBase + listing->relativePath);
    };
    Pool().run([&](engine::JobOutcome& outcome) {
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
    std::vector<AsideLeftover> asides;
    for (const inet::FindData& data : listing->entries) {
        DoProgress();
        if (!data.isDirectory && inet::isTransferTempName(data.name)) {
            if (QString original = inet::originalOfAsideName(data.name); !original.isEmpty())
                asides.push_back({data, std::move(original)});
            else
                NoteLeftover(m_remoteLeftovers, relativePath, data.name, RemoteTimeOf(data));
            continue;
        }
        if (data.isDirectory ? !m_settings.SubFilders : !m_fileFilter.includes(data.name))
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
    QSet<QString> listedNames;
    if (!asides.empty()) {
        for (const inet::FindData& data : listing->entries)
            listedNames.insert(data.name);
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

bool SyncRun::ListsWithoutExactTimes() const {
    // A re-sync decides most files by their records, which a listing to the
    // minute (or to the day, the exact time then coming from the record)
    // matches as well as an exact one: MLSD's exact times are not worth a
    // data connection for each folder. A first run has no records to go by.
    return m_state && m_state->heldRecordsWhenOpened();
}

void SyncRun::AddRemoteFile(const RelativeName& name, const inet::FindData& data) {
    const NaiveDateTime time = RemoteTimeOf(data);
    const int index = RemoteFiles.AddFile(name, data.size, time);
    // Only the day is known: the exact time is asked for once it matters.
    if (data.timeSource == inet::FindData::TimeSource::ListedDay)
        m_remoteDayOnly.push_back(index);
    const bool sizeUnchecked = data.isLink || data.size < 0;
    if (sizeUnchecked)
        m_remoteSizeUnchecked.insert(index);
    // As the sync state compares it: MLSD times are exact, LIST ones to the
    // minute or the day.
    engine::RemoteSnapshot seen{sizeUnchecked ? inet::FindData::UnknownSize : data.size, time,
                                engine::TimePrecision::Minute, std::nullopt};
    if (data.timeSource == inet::FindData::TimeSource::ListedDay) {
        seen.precision = engine::TimePrecision::Day;
    } else if (data.timeSource == inet::FindData::TimeSource::Local && data.modifiedDate.isValid()) {
        seen.precision = engine::TimePrecision::Second;
        seen.exactUtcMSecs = time.toLocal().toMSecsSinceEpoch();
    }
    m_remoteSeen.resize(size_t(index) + 1);
    m_remoteSeen[size_t(index)] = seen;
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
