#include "sync/FileJobs.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <sys/stat.h>

#include <array>
#include <chrono>

#include "sync/FtpHelpers.h"
#include "inet/FtpService.h"
#include "model/Global.h"

namespace engine {

namespace {

constexpr int MaxTimeoutAttempts = 3;

// The pauses before each further try after a transient fault.
constexpr std::array<std::chrono::milliseconds, 3> TransientRetryPauses{
    std::chrono::milliseconds{200}, std::chrono::milliseconds{600}, std::chrono::milliseconds{1'500}};

QString folderPart(const QString& path) {
    return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

JobOutcome failed(const QString& line) {
    return JobOutcome{false, {line}, {}};
}

// A refusal of the store itself (550 no such folder, 553), as opposed to a
// local or a connection problem.
bool isRefusedByServer(const inet::FtpConnection& connection) {
    return connection.lastError() == inet::ErrorExtendedError &&
           connection.lastResponseInfo().startsWith(QLatin1Char('5'));
}

// Names the file, as the failure line of a download does.
QString putLabel(const QString& localFile) {
    return QStringLiteral("FtpPutFile('%1')").arg(escapedForLog(localFile));
}

QString putFailureLine(const inet::FtpConnection& connection, const QString& localFile) {
    return ftpFailureLine(connection, putLabel(localFile));
}

// The report of an upload once in place; storedTime: the file's time on the
// server (UTC), when known.
JobOutcome placedOutcome(const inet::FtpConnection& connection, const QString& localFile,
                         const std::optional<QDateTime>& storedTime) {
    JobOutcome outcome{true, {QStringLiteral("File %1 has been uploaded").arg(escapedForLog(localFile))}, {}};
    outcome.remoteTimeAfter = storedTime;
    if (connection.setsNoModificationTimes())
        outcome.notices << QStringLiteral("The server cannot set the modification time of a file: uploaded files "
                                          "keep the time of their upload.");
    return outcome;
}

JobOutcome uploaded(inet::FtpConnection& connection, const QString& localFile, const QString& remoteFile, bool askTime,
                    JobOutcome outcome) {
    std::optional<QDateTime> storedTime = connection.lastStoredTime();
    if (!storedTime && askTime) {
        // The file has the time the server gave it; a failure to learn it is
        // no failure of the upload.
        std::vector<std::optional<QDateTime>> times;
        if (connection.modificationTimes({remoteFile}, times) && !times.empty())
            storedTime = times.front();
    }
    JobOutcome placed = placedOutcome(connection, localFile, storedTime);
    placed.lines = outcome.lines + placed.lines;
    return placed;
}

// A failed upload that could not put the previous version back under its
// name says where it is: the site lacks the file until someone acts.
JobOutcome withAsideNamed(const inet::FtpConnection& connection, JobOutcome outcome) {
    const QString aside = connection.previousVersionLeftAside();
    if (!aside.isEmpty())
        outcome.lines << QStringLiteral("The previous version of the file is kept on the server as %1: the server "
                                        "refused to put it back under its own name")
                             .arg(escapedForLog(aside));
    return outcome;
}

} // namespace

std::optional<std::pair<qint64, qint64>> localSizeAndMtimeNs(const QString& path) {
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return std::pair<qint64, qint64>{qint64(status.st_size),
                                     qint64(status.st_mtim.tv_sec) * 1'000'000'000 + qint64(status.st_mtim.tv_nsec)};
}

std::function<bool()> unchangedSince(const QString& localFile, const TFileEntry* scanned) {
    if (!scanned)
        return {};
    return [localFile, size = scanned->Size, time = scanned->Time] {
        const QFileInfo now(localFile);
        return now.size() == size && NaiveDateTime::fromLocal(now.lastModified()) == time;
    };
}

bool retryOnTimeout(const inet::FtpConnection& connection, const std::function<bool()>& attempt) {
    for (int count = 1;; ++count) {
        if (attempt())
            return true;
        if (connection.lastError() != inet::ErrorTimeout || count == MaxTimeoutAttempts)
            return false;
    }
}

bool isTransientFault(const inet::FtpConnection& connection) {
    return isTransientFailure(connection.lastError(), connection.lastResponseInfo());
}

bool isTransientFailure(int code, const QString& reply) {
    switch (code) {
    case inet::ErrorTimeout:
    case inet::ErrorConnectionAborted:
    case inet::ErrorConnectionReset:
    case inet::ErrorCannotConnect: // the data connection: the control connection's loss ends the run
        return true;
    case inet::ErrorExtendedError:
        // 421 closing, 425 no data connection, 426 transfer broken off,
        // 450 file busy, 451 local error: "try again later" (RFC 959, 4.2).
        switch (reply.left(3).toInt()) {
        case 421:
        case 425:
        case 426:
        case 450:
        case 451:
            return true;
        default:
            return false;
        }
    default:
        return false;
    }
}

bool retryTransientFaults(const inet::FtpConnection& connection, const std::function<bool()>& attempt) {
    for (size_t count = 0;; ++count) {
        if (attempt())
            return true;
        if (count == TransientRetryPauses.size() || !isTransientFault(connection))
            return false;
        // A time-out has waited long enough; anything else waits a little
        // longer each time for the server or proxy to free what it lacked.
        if (connection.lastError() != inet::ErrorTimeout)
            QThread::msleep(quint64(TransientRetryPauses.at(count).count()));
    }
}

namespace {

// A downloaded file in place gets the remote entry's time as local
// wall-clock time, so the next run sees equal minutes on both sides. A
// failure here is not reported.
JobOutcome fetchedOutcome(const QString& localFile, NaiveDateTime time, const QString& shown) {
    QFile file(localFile);
    if (file.open(QIODevice::ReadOnly))
        file.setFileTime(time.toLocal(), QFileDevice::FileModificationTime);
    file.close();
    JobOutcome outcome{true, {QStringLiteral("File %1 has been downloaded").arg(escapedForLog(shown))}, {}};
    outcome.localAfter = localSizeAndMtimeNs(localFile);
    return outcome;
}

QString getLabel(const QString& shown) {
    return QStringLiteral("FtpGetFile('%1')").arg(escapedForLog(shown));
}

} // namespace

JobOutcome downloadFile(inet::FtpConnection& connection, const FileRoots& roots, const RelativeName& remoteName,
                        const RelativeName& localName, NaiveDateTime time, qint64 expectedSize, Placement placement) {
    const QString localFolder = roots.localRoot + localName.folderPart();
    const QString localFile = AddTrailingBackslash(localFolder) + localName.fileName();
    const QString remoteFile = roots.remoteRoot + remoteName.text();
    const QString shown = roots.remoteShownRoot + remoteName.text();
    // When the folder cannot be made, the fetch fails and logs why.
    ForceFolders(localFolder);
    if (placement == Placement::AtOnce) {
        if (!retryTransientFaults(connection,
                                  [&] { return connection.getFile(remoteFile, localFile, false, expectedSize); }))
            return failed(ftpFailureLine(connection, getLabel(shown)));
        return fetchedOutcome(localFile, time, shown);
    }
    // Where the server's last reply waits for the connection's next command,
    // the outcome is made when it is in.
    auto fetched = std::make_shared<std::optional<JobOutcome>>();
    const auto whenFetched = [fetched, roots, remoteName, localName, time, expectedSize, localFile,
                              shown](const inet::Failure* failure) {
        if (!failure) {
            *fetched = fetchedOutcome(localFile, time, shown);
        } else if (isTransientFailure(failure->code, failure->lastResponseInfo)) {
            // As a failure before the end would be: fetched again at once.
            *fetched = JobOutcome{};
            (*fetched)->again = [roots, remoteName, localName, time, expectedSize](inet::FtpConnection& again) {
                return downloadFile(again, roots, remoteName, localName, time, expectedSize);
            };
        } else {
            *fetched = failed(ftpFailureLine(*failure, getLabel(shown)));
        }
    };
    if (!retryTransientFaults(connection, [&] {
            return connection.getFileFinishingLater(remoteFile, localFile, expectedSize, whenFetched);
        }))
        return failed(ftpFailureLine(connection, getLabel(shown)));
    JobOutcome outcome;
    outcome.later = fetched;
    if (*fetched) // it ended at once: nothing waits
        outcome = withLaterPart(std::move(outcome));
    return outcome;
}

JobOutcome uploadFile(inet::FtpConnection& connection, const FileRoots& roots, RemoteFolders& folders,
                      const RelativeName& localName, const RelativeName& remoteName,
                      const std::function<bool()>& scannedState, bool askTime, Placement placement) {
    const QString remoteFolder = folderPart(roots.remoteRoot + remoteName.text());
    JobOutcome outcome;
    if (!folders.ensure(connection, remoteFolder, roots.probeUnknownFolders, outcome.lines)) {
        outcome.ok = false;
        return outcome;
    }
    const QString localFile = roots.localRoot + localName.text();
    const QString remoteFile = remoteFolder + remoteName.fileName();
    // Where the placement waits for the connection's next command, the
    // outcome is made when its replies are in.
    auto placed = std::make_shared<std::optional<JobOutcome>>();
    const auto whenPlaced = [placed, localFile, &connection, roots, &folders, localName, remoteName, scannedState,
                             askTime](const inet::PlacedUpload& result) {
        if (result.ok) {
            *placed = placedOutcome(connection, localFile, result.storedTime);
            return;
        }
        if (isTransientFailure(result.failure.code, result.failure.lastResponseInfo)) {
            // As a failure before the placement would be: the upload is tried
            // again, this time placed at once (a lost connection has logged on afresh).
            *placed = JobOutcome{};
            (*placed)->again = [roots, &folders, localName, remoteName, scannedState,
                                askTime](inet::FtpConnection& again) {
                return uploadFile(again, roots, folders, localName, remoteName, scannedState, askTime);
            };
            return;
        }
        JobOutcome refused = failed(ftpFailureLine(result.failure, putLabel(localFile)));
        if (result.failure.code == inet::ErrorExtendedError)
            refused.action = ActionReport{{}, 0, result.failure.lastResponseInfo.trimmed(), -1};
        *placed = std::move(refused);
    };
    const auto put = [&] {
        if (placement == Placement::AtOnce)
            return connection.putFile(localFile, remoteFile, scannedState);
        return connection.putFileQueuingPlacement(localFile, remoteFile, scannedState,
                                                  placement == Placement::MayWaitOverFile, askTime, whenPlaced);
    };
    const auto stored = [&] {
        if (placement == Placement::AtOnce)
            return uploaded(connection, localFile, remoteFile, askTime, std::move(outcome));
        outcome.later = placed;
        if (*placed) // it went at once: nothing waits
            outcome = withLaterPart(std::move(outcome));
        return std::move(outcome);
    };
    if (retryTransientFaults(connection, put))
        return stored();
    // A folder the run remembered may have gone since the scan: check the
    // whole path once, the slow way, and try again.
    if (isRefusedByServer(connection) && !roots.probeUnknownFolders) {
        folders.forget(remoteFolder);
        if (folders.ensure(connection, remoteFolder, true, outcome.lines)) {
            if (retryTransientFaults(connection, put))
                return stored();
            outcome.lines << putFailureLine(connection, localFile);
            outcome = withAsideNamed(connection, std::move(outcome));
        }
        outcome.ok = false;
        return outcome;
    }
    return withAsideNamed(connection, failed(putFailureLine(connection, localFile)));
}

JobOutcome deleteRemoteFile(inet::FtpConnection& connection, const FileRoots& roots, const RelativeName& name) {
    const QString remoteFile = roots.remoteDeleteRoot + name.text();
    if (!retryTransientFaults(connection, [&] { return connection.deleteFile(remoteFile); }))
        return failed(ftpFailureLine(connection, QStringLiteral("FtpDeleteFile('%1')").arg(escapedForLog(remoteFile))));
    return JobOutcome{true, {QStringLiteral("Remote file %1 has been deleted").arg(escapedForLog(remoteFile))}, {}};
}

} // namespace engine
