#include "sync/StateDecision.h"

#include <algorithm>

#include <QRegularExpression>

#include "sync/ListOfFiles.h"
#include "sync/ServerTimes.h"

namespace engine {

namespace {

enum class Where : quint8 { Local, Remote };

// Only the minute decides which side is newer, as in the run's passes.
NaiveDateTime minuteOf(NaiveDateTime time) {
    return TruncateDateTime(1, time);
}

// One side of the file as the rules see it.
struct Side {
    Where where = Where::Local;
    bool present = false;
    bool changed = false;                // differs from its record (false without a record)
    qint64 size = 0;                     // negative when unknown
    NaiveDateTime listed;                // as listed (or the local file's time)
    std::optional<qint64> exactUtcMSecs; // when asked exactly: better than a listed day
    // The minute that compares with the other side's. Made only where the
    // clocks decide: converting an exact time is dear, and a tree has many files.
    NaiveDateTime minute() const {
        if (!exactUtcMSecs)
            return minuteOf(listed);
        return minuteOf(utcToLocal(QDateTime::fromMSecsSinceEpoch(*exactUtcMSecs, Qt::UTC)));
    }
};

// The level of TruncateDateTime that drops what a precision cannot tell.
int truncationLevel(TimePrecision precision) {
    switch (precision) {
    case TimePrecision::Second:
        return 0;
    case TimePrecision::Minute:
        return 1;
    case TimePrecision::Day:
        return 3;
    }
    return 3; // an unknown stored value: trust no more than the date
}

QString placeOf(Where where) {
    return where == Where::Local ? QStringLiteral("locally") : QStringLiteral("on the server");
}

QString missingFrom(Where where) {
    return where == Where::Local ? QStringLiteral("not in the local folder") : QStringLiteral("not on the server");
}

QString changedOn(Where where) {
    return QStringLiteral("changed %1 since the last run").arg(placeOf(where));
}

QString deletedOn(Where where) {
    return QStringLiteral("deleted %1 since the last run").arg(placeOf(where));
}

QString newerOn(Where where) {
    return QStringLiteral("newer %1").arg(placeOf(where));
}

StateAction copyFrom(Where where) {
    return where == Where::Local ? StateAction::Upload : StateAction::Download;
}

StateAction deleteOn(Where where) {
    return where == Where::Local ? StateAction::DeleteLocal : StateAction::DeleteRemote;
}

Side localSide(const std::optional<LocalSnapshot>& local, const std::optional<PairRecord>& record) {
    Side side{Where::Local, local.has_value(), false, 0, {}, {}};
    if (local) {
        side.changed = record && localChangedSince(*local, record->local);
        side.size = local->size;
        side.listed = local->time;
    }
    return side;
}

Side remoteSide(const std::optional<RemoteSnapshot>& remote, const std::optional<PairRecord>& record) {
    Side side{Where::Remote, remote.has_value(), false, 0, {}, {}};
    if (remote) {
        side.changed = record && remoteChangedSince(*remote, record->remote);
        side.size = remote->size;
        side.listed = remote->time;
        side.exactUtcMSecs = remote->exactUtcMSecs;
    }
    return side;
}

// Without a record the clocks decide, and nothing is ever deleted: a file on
// one side only may be new there just as well as deleted on the other.
StateDecision withoutRecord(setting::SyncMode mode, const Side& local, const Side& remote) {
    if (!local.present && !remote.present)
        return {};
    const bool bothWays = mode == setting::SyncMode::Bidirectional;
    const Side& source = mode == setting::SyncMode::RemoteToLocal ? remote : local;
    const Side& target = mode == setting::SyncMode::RemoteToLocal ? local : remote;
    if (!bothWays && !source.present)
        return {StateAction::None, missingFrom(source.where)};
    if (!local.present || !remote.present) {
        const Side& holder = local.present ? local : remote;
        const Side& lacking = local.present ? remote : local;
        return {copyFrom(holder.where), missingFrom(lacking.where)};
    }
    const NaiveDateTime localMinute = local.minute();
    const NaiveDateTime remoteMinute = remote.minute();
    if (localMinute == remoteMinute)
        return {StateAction::RecordOnly, QStringLiteral("same time on both sides")};
    const Side& newer = localMinute > remoteMinute ? local : remote;
    if (!bothWays && newer.where == target.where)
        return {StateAction::None, newerOn(target.where)};
    return {copyFrom(newer.where), newerOn(newer.where)};
}

bool sameSizeAndMinute(const Side& a, const Side& b) {
    return a.size == b.size && a.minute() == b.minute(); // an unknown remote size never matches a local one
}

// One way: the source's changes go to the target; a source edit goes even
// when the target's minute is the same or, if the target is as the last run
// left it, when the clocks disagree. Otherwise the newer minute decides.
StateDecision oneWay(const Side& source, const Side& target) {
    if (!source.present) // a deleted source: the exact copy's pass decides about the target
        return {StateAction::ForgetRecord, deletedOn(source.where)};
    if (!target.present)
        return {copyFrom(source.where), deletedOn(target.where)};
    if (source.changed) {
        // Both changed to the same size and minute: something else put them
        // in step again (a restore, another tool); nothing needs to travel.
        if (target.changed && sameSizeAndMinute(source, target))
            return {StateAction::RecordOnly, QStringLiteral("changed on both sides alike")};
        if (!target.changed || target.minute() <= source.minute())
            return {copyFrom(source.where), changedOn(source.where)};
        return {StateAction::None, QStringLiteral("changed on both sides, ") + newerOn(target.where)};
    }
    if (!target.changed)
        return {StateAction::None, QStringLiteral("unchanged since the last run")};
    if (target.minute() < source.minute())
        return {copyFrom(source.where), newerOn(source.where)};
    return {StateAction::None, changedOn(target.where)};
}

// Both ways: each side against its own record.
StateDecision bothWays(const Side& local, const Side& remote) {
    if (!local.present && !remote.present)
        return {StateAction::ForgetRecord, QStringLiteral("deleted on both sides since the last run")};
    if (!local.present || !remote.present) {
        const Side& kept = local.present ? local : remote;
        const Side& gone = local.present ? remote : local;
        if (kept.changed)
            return {copyFrom(kept.where),
                    QStringLiteral("deleted %1, %2").arg(placeOf(gone.where), changedOn(kept.where))};
        return {deleteOn(kept.where), deletedOn(gone.where)};
    }
    if (local.changed && remote.changed) {
        if (sameSizeAndMinute(local, remote))
            return {StateAction::RecordOnly, QStringLiteral("changed on both sides alike")};
        return {StateAction::Conflict, QStringLiteral("conflict: changed on both sides")};
    }
    if (local.changed || remote.changed) {
        const Side& changed = local.changed ? local : remote;
        return {copyFrom(changed.where), changedOn(changed.where)};
    }
    return {StateAction::None, QStringLiteral("unchanged since the last run")};
}

} // namespace

bool localChangedSince(const LocalSnapshot& now, const LocalSnapshot& recorded) {
    return now.size != recorded.size || now.mtimeNs != recorded.mtimeNs;
}

bool remoteChangedSince(const RemoteSnapshot& now, const RemoteSnapshot& recorded) {
    // A size the listing could not give tells nothing either way.
    if (now.size >= 0 && recorded.size >= 0 && now.size != recorded.size)
        return true;
    if (now.exactUtcMSecs && recorded.exactUtcMSecs)
        return *now.exactUtcMSecs / 1000 != *recorded.exactUtcMSecs / 1000;
    // A listing that moves from "hh:mm" to the year form for an older file
    // keeps its date: compare no finer than the coarser of the two.
    const int level = std::max(truncationLevel(now.precision), truncationLevel(recorded.precision));
    return TruncateDateTime(level, now.time) != TruncateDateTime(level, recorded.time);
}

StateDecision decideByState(setting::SyncMode mode, const std::optional<LocalSnapshot>& local,
                            const std::optional<RemoteSnapshot>& remote, const std::optional<PairRecord>& record) {
    const Side localNow = localSide(local, record);
    const Side remoteNow = remoteSide(remote, record);
    if (!record)
        return withoutRecord(mode, localNow, remoteNow);
    switch (mode) {
    case setting::SyncMode::LocalToRemote:
        return oneWay(localNow, remoteNow);
    case setting::SyncMode::RemoteToLocal:
        return oneWay(remoteNow, localNow);
    case setting::SyncMode::Bidirectional:
        return bothWays(localNow, remoteNow);
    }
    return {}; // an unknown mode touches nothing
}

QString conflictCopyName(const QString& fileName, const QDateTime& when, int attempt) {
    // The extension stays last, so the copy opens as the file did; a name
    // whose only dot leads it (".profile") has none.
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > 0;
    const QString stem = hasExtension ? fileName.left(dot) : fileName;
    const QString extension = hasExtension ? fileName.mid(dot) : QString();
    QString marker = QStringLiteral(".conflict-") + when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (attempt > 1)
        marker += QLatin1Char('-') + QString::number(attempt);
    return stem + marker + extension;
}

bool isConflictCopyName(const QString& fileName) {
    // Every local name passes here: most are settled without the pattern.
    if (!fileName.contains(QLatin1String(".conflict-")))
        return false;
    static const QRegularExpression pattern(QStringLiteral("\\.conflict-\\d{8}-\\d{6}(-\\d+)?(\\.[^.]*)?$"));
    return pattern.match(fileName).hasMatch();
}

} // namespace engine
