// The operations of a logged-on connection.
#include "inet/FtpService.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <optional>

#include <sys/stat.h>

#include "inet/FtpConnectionPrivate.h"
#include "inet/InetPrivate.h"
#include "inet/ListingParser.h"

namespace inet {

namespace {

// errno after a failed file call, never 0: the caller must see a failure.
int currentErrno() {
    return errno ? errno : EIO;
}

QString localTempPath(const QString& localFile, const QString& token) {
    const QFileInfo info(localFile);
    return info.dir().filePath(transferTempName(info.fileName(), token));
}

// A link to a file is written through: the file it points to is the one that
// gets the new content. Anything else (a dangling link included) is replaced.
QString writeTarget(const QString& localFile) {
    const QFileInfo info(localFile);
    if (!info.isSymLink())
        return localFile;
    const QString resolved = info.canonicalFilePath();
    return !resolved.isEmpty() && QFileInfo(resolved).isFile() ? resolved : localFile;
}

// A replaced file keeps its mode: a private 0600 file must not become 0644, a
// script must not lose its execute bits. A new file keeps the usual mode.
void keepPermissionBits(const QString& target, const QString& tempPath) {
    struct stat old = {};
    if (::stat(QFile::encodeName(target).constData(), &old) == 0)
        ::chmod(QFile::encodeName(tempPath).constData(), old.st_mode & 07777);
}

// What tells that a local file changed: its size and modification time.
struct SourceState {
    qint64 size = 0;
    qint64 seconds = 0;
    qint64 nanoseconds = 0;
    friend bool operator==(const SourceState&, const SourceState&) = default;
};

std::optional<SourceState> stateOf(const QFile& file) {
    struct stat info = {};
    if (::fstat(file.handle(), &info) != 0)
        return std::nullopt;
    return SourceState{qint64(info.st_size), qint64(info.st_mtim.tv_sec), qint64(info.st_mtim.tv_nsec)};
}

// The rest of an upload whose final reply the connection reads later: the
// rename into place goes with the command after that.
struct LaterPlacement {
    QString target;
    bool askStoredTime = false;
    WhenPlaced whenPlaced;
};

// What the upload's final reply, read later, leads to.
FtpConnectionPrivate::OwedEnd placeWhenStored(FtpConnectionPrivate& d, const StoredUpload& stored,
                                              const LaterPlacement& later) {
    return [&d, stored, later](const FtpReply* reply, int /*failure*/) {
        if (!reply) {
            // Lost with the connection: the same as a placement that never went.
            later.whenPlaced(PlacedUpload{false, Failure{ErrorConnectionAborted, {}}, {}});
            return;
        }
        if (!reply->isCompletion()) {
            // "426 Failure writing network stream.": what is stored is not the file.
            d.queueRemoval(stored.tempPath);
            later.whenPlaced(PlacedUpload{false, Failure{ErrorExtendedError, reply->text}, {}});
            return;
        }
        if (!d.queuePlacement(stored, later.target, later.askStoredTime, later.whenPlaced))
            later.whenPlaced(PlacedUpload{false, Failure{ErrorUnsafeCommand, {}}, {}});
    };
}

// Stores a local file under a temporary name beside remoteFile: the part of
// an upload before the rename into place. It ends with the source as it
// was when read (time and size), for the stored file to get its time.
// With `later`, the server's final reply may be left to the connection's
// next command (endOwed), and the placement follows from it.
bool storeUnderTempName(FtpConnectionPrivate& d, const QString& localFile, const QString& remoteFile,
                        const std::function<bool()>& sourceUnchanged, StoredUpload& stored,
                        const LaterPlacement* later = nullptr, bool* endOwed = nullptr) {
    QFile source(localFile);
    errno = 0;
    if (!source.open(QIODevice::ReadOnly))
        return d.fail(currentErrno());
    const std::optional<SourceState> atOpen = stateOf(source);
    d.leftAside.clear();
    d.lastStoredTime.reset();
    // Stored under a temporary name of this run and renamed when complete, so
    // the remote file is never seen half written, a broken upload leaves it
    // alone, and another run's upload of the same file writes a file of its own.
    QString tempPath = d.remoteTempPath(remoteFile);
    const Milliseconds inactivity = d.parameters().timeouts.data;
    // The start of the file (a small file whole) goes before the server's
    // "150": one round trip less per file, and a refusal still comes first.
    constexpr qint64 StartBytes = 32 * 1024;
    const auto unchanged = [&] { return stateOf(source) == atOpen && (!sourceUnchanged || sourceUnchanged()); };
    const auto noteStored = [&](const QString& path) {
        stored.tempPath = path;
        if (atOpen) {
            stored.modified = QDateTime::fromSecsSinceEpoch(atOpen->seconds, Qt::UTC);
            stored.size = atOpen->size;
        }
    };
    // Only where a refusal of the name would not be tried again (the style
    // of temporary names is known), and what went out is the file as read.
    const auto oweEnd = [&]() -> FtpConnectionPrivate::OwedEnd {
        if (!later || !d.knowsTempNameStyle() || !unchanged())
            return {};
        noteStored(tempPath);
        if (endOwed)
            *endOwed = true;
        return placeWhenStored(d, stored, *later);
    };
    const auto store = [&](const QString& path) {
        return d.track(d.transferCommand(
            QStringLiteral("STOR ") + path, [&](DataConnection& data) { return data.send(source, inactivity); },
            [&](DataConnection& data) { return data.sendStart(source, StartBytes, inactivity); }, oweEnd));
    };
    bool storedOk = store(tempPath);
    if (storedOk && endOwed && *endOwed)
        return true;
    // The start of the file may have gone out already: it is read again from
    // its beginning (a pipe cannot be, and gets no second try).
    const bool retryWithoutDot = !storedOk && d.mayRetryWithoutDot(tempPath) && !source.isSequential();
    if (retryWithoutDot && source.seek(0)) {
        tempPath = d.remoteTempPath(remoteFile, TempNameStyle::Visible);
        storedOk = store(tempPath);
    }
    if (!storedOk) {
        d.removeQuietly(tempPath);
        return false;
    }
    d.learnStoredTempName(tempPath, retryWithoutDot);
    // What went out may be a mix of two versions: it must not replace anything.
    if (!unchanged()) {
        d.removeQuietly(tempPath);
        return d.fail(ErrorSourceChanged);
    }
    // The remote file gets the time the local one had when it was read, to
    // the second: the next run then sees the same minute on both sides.
    noteStored(tempPath);
    return true;
}

// The handle over a listing's entries, the first of them in `first`; an
// empty listing gives none and ErrorNoMoreFiles.
std::unique_ptr<FtpFind> findHandle(std::vector<FindData> entries, FindData& first, ErrorState& errors) {
    if (entries.empty()) {
        errors.fail(ErrorNoMoreFiles);
        return {};
    }
    first = entries.front();
    return std::make_unique<FtpFind>(std::move(entries));
}

bool matchesPattern(const FindData& entry, const QString& pattern) {
    if (pattern.isEmpty() || pattern == QLatin1String("*") || pattern == QLatin1String("*.*"))
        return true;
    const QRegularExpression expression(QRegularExpression::wildcardToRegularExpression(pattern),
                                        QRegularExpression::CaseInsensitiveOption);
    return expression.match(entry.name).hasMatch();
}

} // namespace

FtpConnection::FtpConnection(std::unique_ptr<FtpConnectionPrivate> dd) : d(std::move(dd)) {}

FtpConnection::~FtpConnection() = default;

int FtpConnection::lastError() const {
    return d->lastError();
}

QString FtpConnection::lastResponseInfo() const {
    return d->lastResponseInfo();
}

const std::vector<QString>& FtpConnection::transcript() const {
    return d->transcript;
}

bool FtpConnection::isEncrypted() const {
    return d->isEncrypted();
}

QStringList FtpConnection::unrecognisedListingLines() const {
    return d->unrecognisedListingLines;
}

bool FtpConnection::serverStoppedAnswering() const {
    return d->serverStoppedAnswering();
}

bool FtpConnection::serverUnreachable() const {
    return d->serverUnreachable();
}

int FtpConnection::dataConnectionRefusals() const {
    return d->dataConnectionRefusals();
}

bool FtpConnection::getCurrentDirectory(QString& directory) {
    return enterFromCurrent({}, directory); // an empty folder is not entered
}

bool FtpConnection::enterFromCurrent(const QString& directory, QString& previous) {
    previous.clear();
    FtpReply pwd;
    if (!d->track(d->pwdAndChange(directory, pwd)))
        return false;
    // 257 "/pub/my ""quoted"" folder" is current directory. (RFC 959, appendix II)
    const std::optional<QString> path = parsePwdReply(pwd.text);
    if (!path)
        return d->fail(ErrorExtendedError);
    previous = *path;
    return true;
}

bool FtpConnection::setCurrentDirectory(const QString& directory) {
    return d->track(d->changeDirectory(directory));
}

std::unique_ptr<FtpFind> FtpConnection::findFirstFile(const QString& pattern, FindData& first) {
    d->unrecognisedListingLines.clear();
    std::vector<FindData> listed;
    if (!d->track(d->listDirectory(listed)))
        return {};
    std::vector<FindData> entries;
    for (FindData& entry : listed) {
        if (matchesPattern(entry, pattern))
            entries.push_back(std::move(entry));
    }
    return findHandle(std::move(entries), first, d->errors());
}

std::unique_ptr<FtpFind> FtpConnection::listFolder(const QString& folder, FindData& first, bool& entered) {
    d->unrecognisedListingLines.clear();
    std::vector<FindData> entries;
    if (!d->track(d->enterAndList(folder, entries, entered)))
        return {};
    return findHandle(std::move(entries), first, d->errors());
}

bool FtpConnection::listFoldersTogether(const QStringList& folders, std::vector<FolderListing>& listings) {
    return d->track(d->listByStatTogether(folders, listings));
}

bool FtpConnection::listsFoldersTogether() const {
    return d->mayListByStatTogether();
}

void FtpConnection::setControlListingsWanted(bool wanted) {
    d->setControlListingsWanted(wanted);
}

namespace {

// Moves a complete download into place: rename(2) replaces the target in one step.
bool placeDownload(FtpConnectionPrivate& d, const QString& tempPath, const QString& target) {
    keepPermissionBits(target, tempPath);
    errno = 0;
    if (std::rename(QFile::encodeName(tempPath).constData(), QFile::encodeName(target).constData()) == 0)
        return true;
    return d.fail(currentErrno());
}

// A download to a temporary file beside the target, which replaces the
// target only once complete: a broken transfer leaves the old file as it
// was. With `later`, the server's final reply may be read with the
// connection's next command (endOwed); `later` learns then how it ended.
bool fetchFile(FtpConnectionPrivate& d, const QString& remoteFile, const QString& localFile, bool failIfExists,
               qint64 expectedSize, const WhenFetched* later = nullptr, bool* endOwed = nullptr) {
    if (failIfExists && QFileInfo::exists(localFile))
        return d.fail(EEXIST);
    const QString target = writeTarget(localFile);
    const QString tempPath = localTempPath(target, d.parameters().transferToken);
    QFile temp(tempPath);
    errno = 0;
    if (!temp.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return d.fail(currentErrno());
    const auto writeChunk = [&temp, &d](const QByteArray& chunk) {
        errno = 0;
        if (temp.write(chunk) == chunk.size())
            return true;
        return d.fail(currentErrno());
    };
    // What came is all on disk, and as much as the listing said: a server (or
    // a proxy) that ends the data early and still reports success must not
    // have the cut file taken for the whole one.
    const auto wholeOnDisk = [&] {
        errno = 0;
        if (!temp.flush())
            return d.fail(currentErrno());
        if (expectedSize != FindData::UnknownSize && temp.size() != expectedSize)
            return d.fail(ErrorDownloadSizeMismatch);
        return true;
    };
    const auto oweEnd = [&]() -> FtpConnectionPrivate::OwedEnd {
        if (!later || !wholeOnDisk())
            return {};
        temp.close();
        *endOwed = true;
        return [&d, tempPath, target, whenFetched = *later](const FtpReply* reply, int failure) {
            Failure failed{failure, {}};
            if (reply && reply->isCompletion()) {
                ErrorStateGuard keep(d.errors());
                if (placeDownload(d, tempPath, target)) {
                    whenFetched(nullptr);
                    return;
                }
                failed = Failure{d.lastError(), {}};
            } else if (reply) {
                failed = Failure{ErrorExtendedError, reply->text};
            }
            QFile::remove(tempPath);
            whenFetched(&failed);
        };
    };
    const Milliseconds inactivity = d.parameters().timeouts.data;
    bool done = d.track(d.transferCommand(
        QStringLiteral("RETR ") + remoteFile,
        [&](DataConnection& data) { return data.receive(writeChunk, inactivity); }, {}, oweEnd));
    if (done && endOwed && *endOwed)
        return true;
    done = done && wholeOnDisk();
    temp.close();
    if (done && placeDownload(d, tempPath, target))
        return true;
    ErrorStateGuard keep(d.errors());
    QFile::remove(tempPath);
    return false;
}

} // namespace

bool FtpConnection::getFile(const QString& remoteFile, const QString& localFile, bool failIfExists,
                            qint64 expectedSize) {
    return fetchFile(*d, remoteFile, localFile, failIfExists, expectedSize);
}

bool FtpConnection::getFileFinishingLater(const QString& remoteFile, const QString& localFile, qint64 expectedSize,
                                          WhenFetched whenFetched) {
    bool endOwed = false;
    if (!fetchFile(*d, remoteFile, localFile, false, expectedSize, &whenFetched, &endOwed))
        return false;
    if (!endOwed)
        whenFetched(nullptr);
    return true;
}

bool FtpConnection::putFile(const QString& localFile, const QString& remoteFile,
                            const std::function<bool()>& sourceUnchanged) {
    StoredUpload stored;
    return storeUnderTempName(*d, localFile, remoteFile, sourceUnchanged, stored) &&
           d->track(d->moveIntoPlace(stored.tempPath, remoteFile, stored.modified, stored.size));
}

bool FtpConnection::putFileQueuingPlacement(const QString& localFile, const QString& remoteFile,
                                            const std::function<bool()>& sourceUnchanged, bool replacesFile,
                                            bool askStoredTime, WhenPlaced whenPlaced) {
    StoredUpload stored;
    // The time is set where it can be: the placement may wait when the way
    // to set it is known.
    const bool mayWait = d->mayQueuePlacement(replacesFile, true);
    const LaterPlacement later{remoteFile, askStoredTime, whenPlaced};
    bool endOwed = false;
    if (!storeUnderTempName(*d, localFile, remoteFile, sourceUnchanged, stored, mayWait ? &later : nullptr, &endOwed))
        return false;
    if (endOwed)
        return true;
    if (d->mayQueuePlacement(replacesFile, stored.modified.has_value()) &&
        d->queuePlacement(stored, remoteFile, askStoredTime, whenPlaced))
        return true;
    if (!d->track(d->moveIntoPlace(stored.tempPath, remoteFile, stored.modified, stored.size)))
        return false;
    if (replacesFile)
        d->noteRenamedOverFile();
    PlacedUpload placed{true, {}, d->lastStoredTime};
    if (!placed.storedTime && askStoredTime) {
        // The file has the time the server gave it; a failure to learn it is
        // no failure of the upload.
        ErrorStateGuard keep(d->errors());
        std::vector<std::optional<QDateTime>> times;
        if (d->askModificationTimes({remoteFile}, times) && !times.empty())
            placed.storedTime = times.front();
    }
    whenPlaced(placed);
    return true;
}

bool FtpConnection::flushQueued() {
    return d->track(d->flushQueued());
}

QString FtpConnection::previousVersionLeftAside() const {
    return d->leftAside;
}

std::optional<QDateTime> FtpConnection::lastStoredTime() const {
    return d->lastStoredTime;
}

QString FtpConnection::transferToken() const {
    return d->parameters().transferToken;
}

bool FtpConnection::renameFile(const QString& from, const QString& to) {
    return d->track(d->rename(from, to));
}

bool FtpConnection::deleteFile(const QString& remoteFile) {
    return d->track(d->simpleCommand(QStringLiteral("DELE ") + remoteFile, 2));
}

bool FtpConnection::createDirectory(const QString& directory) {
    return d->track(d->simpleCommand(QStringLiteral("MKD ") + directory, 2));
}

bool FtpConnection::createDirectories(const QStringList& folders, std::vector<bool>& made) {
    return d->track(d->makeFolders(folders, made));
}

} // namespace inet
