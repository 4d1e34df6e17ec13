#pragma once

#include <QString>

#include <functional>

#include "sync/ConnectionPool.h"
#include "sync/RemoteFolders.h"
#include "sync/ListOfFiles.h"
#include "sync/NaiveDateTime.h"
#include "sync/RelativeName.h"

namespace engine {

// Where a run's files are, fixed when the run starts, so that work on any
// connection reads the same roots whatever the user-interface thread does.
struct FileRoots {
    QString localRoot;               // the local folder with "/" appended
    QString remoteRoot;              // where transfers go: the remote folder with "/" (absolute once the scan knows it)
    QString remoteShownRoot;         // the remote folder as the log shows it
    QString remoteDeleteRoot;        // where deletions go, and as the log shows them
    bool probeUnknownFolders = true; // no scan has seen the remote tree: test a level before creating it
};

// A local file's size and exact modification time (nanoseconds since the
// epoch), following links as the scan does; none when it cannot be read.
std::optional<std::pair<qint64, qint64>> localSizeAndMtimeNs(const QString& path);

// Whether the local file still is as the scan saw it (size and time); an
// empty function when there is nothing to compare with.
std::function<bool()> unchangedSince(const QString& localFile, const TFileEntry* scanned);

// Calls attempt (a call on connection) until it succeeds or fails with
// anything but a time-out, at most three times; the connection's last error
// is that of the last call.
bool retryOnTimeout(const inet::FtpConnection& connection, const std::function<bool()>& attempt);

// Whether the connection's last call failed for a reason that may pass: a time-out, a
// connection lost on the way, a data connection refused, or a reply that
// says "not now" (421, 425, 426, 450, 451). A size that does not match is
// not: the file may have changed on the server since it was listed, and the
// next run, which lists it again, is the one to fetch it.
bool isTransientFault(const inet::FtpConnection& connection);
// The same for a failure's code and the reply that came with it.
bool isTransientFailure(int code, const QString& reply);
// Calls attempt (a call on connection) until it succeeds or fails for a
// reason that will not pass, at most four times, pausing a little longer
// before each further try; the connection's last error is that of the last call.
bool retryTransientFaults(const inet::FtpConnection& connection, const std::function<bool()>& attempt);

// The file actions, each on the connection it is given and with its log
// lines in the outcome, so they can run on any connection of the pool.
// placement (of both transfers): whether the last step, the rename into
// place, may wait for the connection's next command (see
// FtpConnection::putFileQueuingPlacement and getFileFinishingLater); the
// outcome then comes in `later` (see JobOutcome).
enum class Placement { AtOnce, MayWait, MayWaitOverFile };
// expectedSize: the listed size (inet::FindData::UnknownSize when none can be trusted).
JobOutcome downloadFile(inet::FtpConnection& connection, const FileRoots& roots, const RelativeName& remoteName,
                        const RelativeName& localName, NaiveDateTime time,
                        qint64 expectedSize = inet::FindData::UnknownSize, Placement placement = Placement::AtOnce);
// scannedState answers whether the local file still is as the scan saw it.
// askTime: where the server could not be given the file's time, ask which
// one it gave (for the sync state).
JobOutcome uploadFile(inet::FtpConnection& connection, const FileRoots& roots, RemoteFolders& folders,
                      const RelativeName& localName, const RelativeName& remoteName,
                      const std::function<bool()>& scannedState, bool askTime = false,
                      Placement placement = Placement::AtOnce);
JobOutcome deleteRemoteFile(inet::FtpConnection& connection, const FileRoots& roots, const RelativeName& name);

} // namespace engine
