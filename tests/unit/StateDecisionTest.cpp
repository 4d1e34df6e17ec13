#include "sync/StateDecision.h"

#include <gtest/gtest.h>

namespace {

using engine::LocalSnapshot;
using engine::PairRecord;
using engine::RemoteSnapshot;
using engine::StateAction;
using engine::TimePrecision;
using Mode = setting::SyncMode;

constexpr Mode up = Mode::LocalToRemote;
constexpr Mode down = Mode::RemoteToLocal;
constexpr Mode both = Mode::Bidirectional;
constexpr auto none = std::nullopt;

// "hh:mm:ss" on 2024-03-01, or a full "yyyy-MM-dd hh:mm:ss".
NaiveDateTime at(const QString& text) {
    const QString full = text.size() == 8 ? QStringLiteral("2024-03-01 ") + text : text;
    return NaiveDateTime::fromDateAndTime(QDate::fromString(full.left(10), Qt::ISODate),
                                          QTime::fromString(full.mid(11), QStringLiteral("hh:mm:ss")));
}

LocalSnapshot loc(qint64 size, const char* time) {
    return {size, at(QString::fromLatin1(time)).msecs() * 1000000 + 123, at(QString::fromLatin1(time))};
}

RemoteSnapshot rem(qint64 size, const char* time, TimePrecision precision = TimePrecision::Minute,
                   std::optional<qint64> utcSeconds = none) {
    std::optional<qint64> utc;
    if (utcSeconds)
        utc = *utcSeconds * 1000;
    return {size, at(QString::fromLatin1(time)), precision, utc};
}

// The pair as the last run left it: local edited at 10:00:30, listed at 10:00.
const PairRecord inStep{loc(100, "10:00:30"), rem(100, "10:00:00")};

PairRecord recordWith(RemoteSnapshot remote) {
    return {inStep.local, remote};
}

struct DecisionCase {
    const char* what;
    Mode mode;
    std::optional<LocalSnapshot> local;
    std::optional<RemoteSnapshot> remote;
    std::optional<PairRecord> record;
    StateAction action;
    const char* reason;
};

// Every row is one file: what each side holds now, the record of the last run
// that left it in step, and what the run must do about it.
TEST(StateDecision, EachSideAgainstItsOwnRecord) {
    const auto D = TimePrecision::Day;
    const auto S = TimePrecision::Second;
    using enum StateAction;
    // clang-format off
    const std::vector<DecisionCase> cases = {
        // No record: the newer minute decides and nothing is deleted.
        {"new local file", both, loc(1, "10:00:30"), none, none, Upload, "not on the server"},
        {"new remote file", both, none, rem(1, "10:00:00"), none, Download, "not in the local folder"},
        {"local newer", both, loc(1, "10:01:00"), rem(2, "10:00:00"), none, Upload, "newer locally"},
        {"remote newer", both, loc(1, "10:00:59"), rem(2, "10:01:00"), none, Download, "newer on the server"},
        {"same minute", both, loc(1, "10:00:59"), rem(2, "10:00:00"), none, RecordOnly, "same time on both sides"},
        {"upload: remote only", up, none, rem(1, "10:00:00"), none, None, "not in the local folder"},
        {"upload: remote newer", up, loc(1, "10:00:00"), rem(1, "10:01:00"), none, None, "newer on the server"},
        {"upload: same minute", up, loc(1, "10:00:30"), rem(1, "10:00:00"), none, RecordOnly, "same time on both sides"},
        {"download: local only", down, loc(1, "10:00:00"), none, none, None, "not on the server"},
        {"download: local newer", down, loc(1, "10:02:00"), rem(1, "10:01:00"), none, None, "newer locally"},
        {"download: remote newer", down, loc(1, "10:00:00"), rem(1, "10:01:00"), none, Download, "newer on the server"},
        // Both ways with a record.
        {"unchanged", both, inStep.local, inStep.remote, inStep, None, "unchanged since the last run"},
        {"local edit, same size, same minute", both, loc(100, "10:00:50"), inStep.remote, inStep, Upload, "changed locally since the last run"},
        {"remote size", both, inStep.local, rem(101, "10:00:00"), inStep, Download, "changed on the server since the last run"},
        {"remote edit behind the local clock", both, inStep.local, rem(100, "09:00:00"), inStep, Download, "changed on the server since the last run"},
        {"both changed", both, loc(7, "10:05:00"), rem(8, "10:05:00"), inStep, Conflict, "conflict: changed on both sides"},
        {"both changed alike", both, loc(7, "10:05:10"), rem(7, "10:05:00"), inStep, RecordOnly, "changed on both sides alike"},
        {"deleted locally", both, none, inStep.remote, inStep, DeleteRemote, "deleted locally since the last run"},
        {"deleted on the server", both, inStep.local, none, inStep, DeleteLocal, "deleted on the server since the last run"},
        {"deleted on both", both, none, none, inStep, ForgetRecord, "deleted on both sides since the last run"},
        {"deleted locally, changed remotely", both, none, rem(5, "10:00:00"), inStep, Download, "deleted locally, changed on the server since the last run"},
        {"deleted remotely, changed locally", both, loc(100, "10:00:31"), none, inStep, Upload, "deleted on the server, changed locally since the last run"},
        // Remote times compare at the coarser precision.
        {"minute to year form, same day", both, inStep.local, rem(100, "2024-03-01 00:00:00", D), inStep, None, "unchanged since the last run"},
        {"year form, other day", both, inStep.local, rem(100, "2024-03-02 00:00:00", D), recordWith(rem(100, "00:00:00", D)), Download, "changed on the server since the last run"},
        {"exact second recorded, minute now", both, inStep.local, rem(100, "10:00:00"), recordWith(rem(100, "10:00:07", S)), None, "unchanged since the last run"},
        {"minute recorded, exact second now", both, inStep.local, rem(100, "10:00:45", S), inStep, None, "unchanged since the last run"},
        {"exact seconds differ", both, inStep.local, rem(100, "10:00:45", S), recordWith(rem(100, "10:00:07", S)), Download, "changed on the server since the last run"},
        {"exact UTC differs, listing the same", both, inStep.local, rem(100, "10:00:00", TimePrecision::Minute, 1009), recordWith(rem(100, "10:00:00", TimePrecision::Minute, 1000)), Download, "changed on the server since the last run"},
        {"unknown size now", both, inStep.local, rem(-1, "10:00:00"), inStep, None, "unchanged since the last run"},
        // One way with a record: the source's edits go, even within the target's minute.
        {"upload: same-minute edit", up, loc(100, "10:00:50"), inStep.remote, inStep, Upload, "changed locally since the last run"},
        {"download: same-minute edit", down, inStep.local, rem(99, "10:00:00"), inStep, Download, "changed on the server since the last run"},
        {"upload: edit behind the server's clock", up, loc(100, "10:30:00"), rem(100, "11:00:00"), recordWith(rem(100, "11:00:00")), Upload, "changed locally since the last run"},
        {"upload: both changed within one minute", up, loc(5, "10:05:40"), rem(6, "10:05:00"), inStep, Upload, "changed locally since the last run"},
        {"download: both changed alike", down, loc(6, "10:05:40"), rem(6, "10:05:00"), inStep, RecordOnly, "changed on both sides alike"},
        {"upload: both changed, remote newer", up, loc(5, "10:30:00"), rem(6, "11:00:00"), inStep, None, "changed on both sides, newer on the server"},
        {"upload: remote changed, older", up, inStep.local, rem(100, "09:00:00"), inStep, Upload, "newer locally"},
        {"upload: remote changed, newer", up, inStep.local, rem(100, "11:00:00"), inStep, None, "changed on the server since the last run"},
        {"upload: unchanged", up, inStep.local, inStep.remote, inStep, None, "unchanged since the last run"},
        {"upload: deleted on the server", up, inStep.local, none, inStep, Upload, "deleted on the server since the last run"},
        {"upload: deleted locally", up, none, inStep.remote, inStep, ForgetRecord, "deleted locally since the last run"},
        {"download: deleted on the server", down, inStep.local, none, inStep, ForgetRecord, "deleted on the server since the last run"},
    };
    // clang-format on
    for (const DecisionCase& c : cases) {
        SCOPED_TRACE(c.what);
        const engine::StateDecision decision = engine::decideByState(c.mode, c.local, c.remote, c.record);
        EXPECT_EQ(decision.action, c.action);
        EXPECT_EQ(decision.reason, QString::fromLatin1(c.reason));
    }
}

// The copy keeps the extension last, and only such copies are taken for one.
TEST(StateDecision, ConflictCopiesAreNamedAndKnown) {
    const QDateTime when(QDate(2026, 12, 8), QTime(14, 3, 12));
    const struct {
        const char* name;
        int attempt;
        const char* copy;
    } names[] = {
        {"page.html", 1, "page.conflict-20261208-140312.html"},
        {"archive.tar.gz", 1, "archive.tar.conflict-20261208-140312.gz"},
        {"Makefile", 2, "Makefile.conflict-20261208-140312-2"},
        {".profile", 1, ".profile.conflict-20261208-140312"},
    };
    for (const auto& n : names) {
        const QString copy = engine::conflictCopyName(QString::fromLatin1(n.name), when, n.attempt);
        EXPECT_EQ(copy, QString::fromLatin1(n.copy));
        EXPECT_TRUE(engine::isConflictCopyName(copy)) << n.copy;
        EXPECT_FALSE(engine::isConflictCopyName(QString::fromLatin1(n.name))) << n.name;
    }
    for (const char* other : {"notes.conflict-2026-12-08.txt", "x.conflict-20261208-1403.txt", "conflict.txt"})
        EXPECT_FALSE(engine::isConflictCopyName(QString::fromLatin1(other))) << other;
}

} // namespace
