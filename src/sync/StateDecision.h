#pragma once

#include <optional>

#include <QDateTime>
#include <QString>

#include "model/ProjectSettings.h"
#include "sync/NaiveDateTime.h"
#include "sync/TimePrecision.h"

namespace engine {

// A local file as the scan found it.
struct LocalSnapshot {
    qint64 size = 0;
    qint64 mtimeNs = 0; // exact modification time, nanoseconds since the epoch
    NaiveDateTime time; // the same time on the local wall clock, as the scan lists it
};

// A remote file as the listing gave it. A negative size means none can be trusted.
struct RemoteSnapshot {
    qint64 size = 0;
    NaiveDateTime time; // as the server lists it, no time zone applied
    TimePrecision precision = TimePrecision::Minute;
    std::optional<qint64> exactUtcMSecs; // from MDTM, when it was asked
};

// What both sides looked like after the last run that left the file in step.
struct PairRecord {
    LocalSnapshot local;
    RemoteSnapshot remote;
};

// What a run does with one file.
enum class StateAction : quint8 {
    None,
    Upload,
    Download,
    DeleteLocal,
    DeleteRemote,
    Conflict,     // both sides changed differently: neither is touched
    RecordOnly,   // the sides are in step: write a record, transfer nothing
    ForgetRecord, // the file is gone or no longer in step: drop its record
};

struct StateDecision {
    StateAction action = StateAction::None;
    QString reason; // short, for the log and the explain output
};

// Decides one file from what each side holds now and the record of the last
// run that left it in step (none for a new file or a first run). Each side is
// compared with its own record, never with the other side's clock, except
// where no record exists: then the newer minute decides, as without records,
// and nothing is ever deleted. Deletions of an exact copy in the one-way
// modes are not decided here. After a successful Upload or Download, and on
// RecordOnly, the run writes a new record for the file.
StateDecision decideByState(setting::SyncMode mode, const std::optional<LocalSnapshot>& local,
                            const std::optional<RemoteSnapshot>& remote, const std::optional<PairRecord>& record);

// Whether the remote file differs from its record: size, or time compared at
// the coarser of the two precisions (exact UTC times when both have one).
bool remoteChangedSince(const RemoteSnapshot& now, const RemoteSnapshot& recorded);

// Whether the local file differs from its record: size or exact time.
bool localChangedSince(const LocalSnapshot& now, const LocalSnapshot& recorded);

// The name under which a conflict keeps the version that lost the file's own
// name: "<stem>.conflict-YYYYMMDD-HHMMSS<.ext>" (when: the run's local time);
// attempt 2 and on add "-2" and so on, for a name that is taken.
QString conflictCopyName(const QString& fileName, const QDateTime& when, int attempt = 1);
// Whether a bare file name is such a copy; the scans leave them alone.
bool isConflictCopyName(const QString& fileName);

} // namespace engine
