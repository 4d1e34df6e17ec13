// What the runs of a project remember: each file as both sides showed it
// after the last run that left it in step. Each side is compared with its own
// record, so a run tells an edit from a deletion and from the other side's
// clock; a file without a record is decided by the minutes, as always.
#include "sync/SyncRun.h"

#include <QDir>
#include <QFile>

#include "model/Global.h"
#include "sync/FtpHelpers.h"
#include "sync/ProjectState.h"
#include "sync/ScanHelpers.h"
#include "sync/ServerTimes.h"

using engine::StateAction;

namespace {

// A state this small is no evidence of anything: a few deletions in it may
// well be all its files.
constexpr int SmallestGuardedState = 10;

engine::RemoteSnapshot remoteSnapshotOf(const engine::FileRecord& record) {
    return {record.remoteSize, NaiveDateTime::fromMSecs(record.remoteTimeMsecs), record.remotePrecision,
            record.remoteExactUtcMsecs};
}

QString fileNameOf(const QString& path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString relativeFolderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

// A dry run leaves a state it cannot read where it is.
QString dryRunCannotRead(const engine::StateIdentity& identity, const QString& problem) {
    return QStringLiteral("The sync state \"%1\" could not be read (%2): this dry run decides as a first run, and a "
                          "real run will set the state aside.")
        .arg(QDir::toNativeSeparators(engine::SyncState::pathFor(identity)), problem);
}

} // namespace

void SyncRun::OpenSyncState() {
    m_state.reset();
    const engine::StateIdentity identity = engine::stateIdentityOf(m_settings);
    if (m_options.DryRun) {
        // A dry run neither makes a state nor sets a damaged one aside: it
        // reads one that is there and can be read, and decides as a first
        // run otherwise.
        QString problem;
        if (!engine::SyncState::peek(identity, problem)) {
            if (!problem.isEmpty())
                Log(dryRunCannotRead(identity, problem));
            return;
        }
        // Read only: not even the journal's set-up or the file's mode changes.
        engine::SyncState::Opened opened = engine::SyncState::openToRead(identity);
        if (!opened.state && !opened.logLine.isEmpty())
            Log(dryRunCannotRead(identity, opened.logLine));
        m_state = std::move(opened.state);
        return;
    }
    engine::SyncState::Opened opened = engine::SyncState::open(identity);
    // A state set aside costs this run its memory, nothing else: it goes on
    // as a first run, which is no problem of the run.
    if (!opened.logLine.isEmpty())
        Log(opened.logLine);
    m_state = std::move(opened.state);
}

void SyncRun::CheckSyncStateRead() {
    if (!m_state || m_state->readProblem().isEmpty())
        return;
    const QString problem = m_state->readProblem();
    m_state.reset();
    const engine::StateIdentity identity = engine::stateIdentityOf(m_settings);
    if (m_options.DryRun) {
        Log(dryRunCannotRead(identity, problem));
        return;
    }
    engine::SyncState::Opened again = engine::SyncState::openAfresh(identity, problem);
    Log(again.logLine);
    m_state = std::move(again.state);
}

void SyncRun::CloseSyncState() {
    if (!m_state)
        return;
    // A dry run reads the state and never writes it.
    const bool written =
        m_options.DryRun ||
        (LastRunOutcome.completed && !LastRunOutcome.stopped ? m_state->markRunComplete() : m_state->flush());
    if (!written) {
        Log(QStringLiteral("The sync state \"%1\" could not be written: the next run may transfer again what this "
                           "one did.")
                .arg(QDir::toNativeSeparators(engine::SyncState::pathFor(engine::stateIdentityOf(m_settings)))));
        ++LastRunOutcome.problems;
    }
    m_state.reset();
}

std::optional<engine::PairRecord> SyncRun::RecordOf(const engine::FileRecord* record) const {
    if (!record)
        return std::nullopt;
    // The local wall-clock time is not recorded: the nanoseconds decide.
    return engine::PairRecord{{record->localSize, record->localMtimeNs, {}}, remoteSnapshotOf(*record)};
}

engine::LocalSnapshot SyncRun::LocalSnapshotOf(int index) const {
    const TFileEntry* entry = LocalFiles.Objects(index);
    return {entry->Size, entry->MtimeNs, entry->Time};
}

bool SyncRun::TakeExactTimeFromRecord(int item) {
    const engine::FileRecord* record = m_state ? m_state->findKey(RemoteIndex().KeyAt(item)) : nullptr;
    if (!record || !record->remoteExactUtcMsecs ||
        engine::remoteChangedSince(m_remoteSeen[size_t(item)], remoteSnapshotOf(*record)))
        return false;
    m_remoteSeen[size_t(item)].exactUtcMSecs = *record->remoteExactUtcMsecs;
    RemoteFiles.SetDateTime(item, m_localTimes.fromUtc(*record->remoteExactUtcMsecs));
    return true;
}

const FileNameIndex& SyncRun::LocalIndex() {
    if (!m_localIndex || m_localIndex->Count() != LocalFiles.Count())
        m_localIndex.emplace(LocalFiles);
    return *m_localIndex;
}

const FileNameIndex& SyncRun::RemoteIndex() {
    if (!m_remoteIndex || m_remoteIndex->Count() != RemoteFiles.Count())
        m_remoteIndex.emplace(RemoteFiles);
    return *m_remoteIndex;
}

void SyncRun::DecideByState() {
    m_localVerdicts.assign(size_t(LocalFiles.Count()), {});
    m_remoteVerdicts.assign(size_t(RemoteFiles.Count()), {});
    if (!setting::isKnown(m_settings.SyncMode))
        return;
    // Each name's key is made once: large trees have many names.
    const FileNameIndex& localIndex = LocalIndex();
    const FileNameIndex& remoteIndex = RemoteIndex();
    int recordsMet = 0; // each name is decided once, so each record is met once
    // The first local file of each remote one's name, found from the local
    // side: most remote names then need no look-up of their own.
    std::vector<int> firstLocalOf(size_t(RemoteFiles.Count()), -1);
    for (int i = 0; i < LocalFiles.Count(); ++i) {
        const int match = remoteIndex.IndexOfKey(localIndex.KeyAt(i));
        m_localVerdicts[size_t(i)] = VerdictOn(localIndex.KeyAt(i), i, match);
        m_localVerdicts[size_t(i)].match = match;
        recordsMet += m_localVerdicts[size_t(i)].byRecord ? 1 : 0;
        if (match >= 0 && firstLocalOf[size_t(match)] < 0)
            firstLocalOf[size_t(match)] = i;
    }
    for (int j = 0; j < RemoteFiles.Count(); ++j) {
        // A remote name after the first of its key is looked up itself.
        const int match =
            firstLocalOf[size_t(j)] >= 0 ? firstLocalOf[size_t(j)] : localIndex.IndexOfKey(remoteIndex.KeyAt(j));
        // A pair is decided once, from whichever side first finds the other.
        if (match >= 0 && m_localVerdicts[size_t(match)].match == j)
            m_remoteVerdicts[size_t(j)] = m_localVerdicts[size_t(match)];
        else {
            m_remoteVerdicts[size_t(j)] = VerdictOn(remoteIndex.KeyAt(j), match, j);
            recordsMet += m_remoteVerdicts[size_t(j)].byRecord ? 1 : 0;
        }
        m_remoteVerdicts[size_t(j)].match = match;
    }
    // A file gone from both sides needs no record; one the scans could not
    // see (outside the masks, in a folder not read) keeps its own.
    m_goneFromBoth.clear();
    if (!m_state || !LastRunOutcome.localScanComplete || !LastRunOutcome.remoteScanComplete ||
        recordsMet == m_state->count())
        return;
    const FileFilter filter = FileFilterOfSettings();
    for (auto it = m_state->begin(); it != m_state->end(); ++it) {
        const QString& path = it.value().path;
        const bool seenByScans =
            (m_settings.SubFilders || !path.contains(QLatin1Char('/'))) && filter.includes(fileNameOf(path));
        if (seenByScans && localIndex.IndexOfKey(it.key()) < 0 && remoteIndex.IndexOfKey(it.key()) < 0)
            m_goneFromBoth << path;
    }
}

void SyncRun::EnsureDecided() {
    // Lists filled by hand (a test's) have no listing behind them: their
    // entries are what the server showed, to the minute.
    for (int j = int(m_remoteSeen.size()); j < RemoteFiles.Count(); ++j) {
        const TFileEntry* entry = RemoteFiles.Objects(j);
        m_remoteSeen.push_back({entry ? entry->Size : 0, entry ? entry->Time : NaiveDateTime(),
                                engine::TimePrecision::Minute, std::nullopt});
    }
    if (m_localVerdicts.size() != size_t(LocalFiles.Count()) || m_remoteVerdicts.size() != size_t(RemoteFiles.Count()))
        DecideByState();
}

SyncRun::Verdict SyncRun::VerdictOn(const QString& key, int local, int remote) const {
    const std::optional<engine::PairRecord> record = RecordOf(m_state ? m_state->findKey(key) : nullptr);
    // A side that could not be read completely may well hold the file it
    // seems to lack: nothing is carried over from it.
    if (record &&
        ((local < 0 && !LastRunOutcome.localScanComplete) || (remote < 0 && !LastRunOutcome.remoteScanComplete)))
        return {.action = StateAction::None,
                .byRecord = true,
                .reason = QStringLiteral("the other side could not be read completely")};
    std::optional<engine::LocalSnapshot> localNow;
    if (local >= 0)
        localNow = LocalSnapshotOf(local);
    std::optional<engine::RemoteSnapshot> remoteNow;
    if (remote >= 0)
        remoteNow = m_remoteSeen[size_t(remote)];
    engine::StateDecision decision = engine::decideByState(m_settings.SyncMode, localNow, remoteNow, record);
    return {.action = decision.action, .byRecord = record.has_value(), .reason = std::move(decision.reason)};
}

void SyncRun::RecordFilesInStep() {
    if (!m_state || m_options.DryRun)
        return;
    for (int i = 0; i < LocalFiles.Count(); ++i) {
        const Verdict& verdict = m_localVerdicts[size_t(i)];
        if (verdict.action == StateAction::ForgetRecord) {
            m_state->remove(LocalFiles.Strings(i));
        } else if (verdict.action == StateAction::RecordOnly) {
            const int remote = verdict.match;
            if (remote < 0)
                continue;
            const engine::LocalSnapshot local = LocalSnapshotOf(i);
            const engine::RemoteSnapshot& seen = m_remoteSeen[size_t(remote)];
            m_state->put({LocalFiles.Strings(i), local.size, local.mtimeNs, seen.size, seen.time.msecs(),
                          seen.precision, seen.exactUtcMSecs});
        }
    }
    for (int j = 0; j < RemoteFiles.Count(); ++j) {
        if (m_remoteVerdicts[size_t(j)].action == StateAction::ForgetRecord)
            m_state->remove(RemoteFiles.Strings(j));
    }
    for (const QString& path : std::as_const(m_goneFromBoth))
        m_state->remove(path);
}

bool SyncRun::StateAllowsDeletions(qint64 local, qint64 remote) {
    const int recorded = m_state ? m_state->count() : 0;
    const qint64 most = std::max(local, remote);
    // --max-delete has the last word, as for an exact copy.
    if (recorded < SmallestGuardedState || most * 2 <= recorded ||
        (m_options.MaxDelete >= 0 && local + remote <= m_options.MaxDelete))
        return true;
    Log(QStringLiteral("Nothing has been transferred or deleted: the run would delete %1 of the %2 files this "
                       "project has in step, files deleted on the other side since the last run. If that is "
                       "what you want, allow it with --max-delete %3.")
            .arg(local + remote)
            .arg(recorded)
            .arg(local + remote));
    LastRunOutcome.deletionsWithheld = int(local + remote);
    ++LastRunOutcome.problems;
    return false;
}

const std::vector<SyncRun::Verdict>& SyncRun::VerdictsOf(const TListOfFiles& walked) const {
    return &walked == &LocalFiles ? m_localVerdicts : m_remoteVerdicts;
}

const SyncRun::Verdict* SyncRun::VerdictAt(const TListOfFiles& walked, int index) const {
    const std::vector<Verdict>& verdicts = VerdictsOf(walked);
    return index >= 0 && size_t(index) < verdicts.size() ? &verdicts[size_t(index)] : nullptr;
}

std::vector<engine::PlannedAction> SyncRun::PlanOf(const TListOfFiles& walked, StateAction action) {
    EnsureDecided();
    const std::vector<Verdict>& verdicts = VerdictsOf(walked);
    std::vector<engine::PlannedAction> plan;
    for (size_t i = 0; i < verdicts.size(); ++i) {
        if (verdicts[i].action == action)
            plan.push_back({int(i), verdicts[i].match});
    }
    return plan;
}

bool SyncRun::DecidedByRecord(const TListOfFiles& walked, int index) const {
    const Verdict* verdict = VerdictAt(walked, index);
    return verdict && verdict->byRecord;
}

QString SyncRun::ReasonFor(const TListOfFiles& walked, int index, const TListOfFiles& searched, int match) const {
    const Verdict* verdict = VerdictAt(walked, index);
    if (!verdict || !verdict->byRecord)
        return MoveReason(walked, index, searched, match);
    // The record decided; the minutes of both sides still tell the story.
    const QString why = QStringLiteral(" (%1)").arg(verdict->reason);
    return match < 0 ? why : MoveReason(walked, index, searched, match) + why;
}

void SyncRun::NotePending(engine::ActionKind kind, const TListOfFiles& walked,
                          const std::vector<engine::PlannedAction>& plan) {
    if (!m_state || m_options.DryRun || !InternetHandle ||
        (kind != engine::ActionKind::Upload && kind != engine::ActionKind::Download))
        return;
    const engine::StateSide side =
        kind == engine::ActionKind::Upload ? engine::StateSide::Remote : engine::StateSide::Local;
    QList<engine::PendingTransfer> transfers;
    transfers.reserve(qsizetype(plan.size()));
    for (const engine::PlannedAction& action : plan) {
        const QString& name = walked.Strings(action.index);
        transfers.append({name, side, inet::transferTempName(fileNameOf(name), InternetHandle->transferToken())});
    }
    if (!transfers.isEmpty() && !m_state->notePending(transfers))
        Log(QStringLiteral("The transfers of this run could not be noted in the sync state: what an interrupted "
                           "transfer leaves is not removed by the next run."));
}

void SyncRun::RemovePendingLeftovers() {
    if (!m_state || m_state->pending().isEmpty())
        return;
    RemovePendingLeftoversOf(true, m_localLeftovers);
    RemovePendingLeftoversOf(false, m_remoteLeftovers);
    if (m_options.DryRun || StopRequested || ServerStoppedAnswering())
        return;
    // Whatever was not found was finished or removed before.
    const QList<engine::PendingTransfer> pending = m_state->pending();
    for (const engine::PendingTransfer& transfer : pending)
        m_state->clearPending(transfer.path, transfer.side);
}

void SyncRun::RemovePendingLeftoversOf(bool local, std::vector<Leftover>& found) {
    const engine::StateSide side = local ? engine::StateSide::Local : engine::StateSide::Remote;
    // The token names the run; the folder, with it, the transfer.
    QSet<QString> ours;
    for (const engine::PendingTransfer& transfer : m_state->pending()) {
        const QString token = inet::transferTokenOf(transfer.tempName);
        if (transfer.side == side && !token.isEmpty())
            ours.insert(nameMatchKey(relativeFolderOf(transfer.path)) + QLatin1Char('/') + token);
    }
    if (ours.isEmpty())
        return;
    const QString sideName = local ? QStringLiteral("local") : QStringLiteral("remote");
    std::erase_if(found, [&](const Leftover& leftover) {
        const QString token = inet::transferTokenOf(leftover.name.fileName());
        if (token.isEmpty() ||
            !ours.contains(nameMatchKey(relativeFolderOf(leftover.name.text())) + QLatin1Char('/') + token))
            return false;
        const QString shown = escapedForLog(
            (local ? AddTrailingBackslash(m_settings.LocalFolder) : IncludeTrailingSlash(m_settings.RemoteFolder)) +
            leftover.name.text());
        if (m_options.DryRun) {
            Log(QStringLiteral("Would delete the %1 temporary file %2 of an interrupted transfer")
                    .arg(sideName, shown));
            return true;
        }
        const bool removed =
            local ? MayChangeLocally(leftover.name, false) &&
                        QFile::remove(AddTrailingBackslash(m_settings.LocalFolder) + leftover.name.text())
                  : ConnectHandle && ConnectHandle->deleteFile(m_remoteBase + leftover.name.text());
        if (removed)
            Log(QStringLiteral("The %1 temporary file %2 of an interrupted transfer has been deleted")
                    .arg(sideName, shown));
        // One that could not be removed is named with the others.
        return removed;
    });
}

void SyncRun::RecordAction(engine::ActionKind kind, int index, const engine::JobOutcome& outcome) {
    if (!m_state || m_options.DryRun || index < 0)
        return;
    switch (kind) {
    case engine::ActionKind::Upload:
        RecordUpload(index, outcome.remoteTimeAfter);
        break;
    case engine::ActionKind::Download: {
        const int local = m_remoteVerdicts[size_t(index)].match;
        RecordDownload(index, local >= 0 ? LocalFiles.Strings(local) : RemoteFiles.Strings(index), outcome.localAfter);
        break;
    }
    case engine::ActionKind::DeleteRemote:
        m_state->remove(RemoteFiles.Strings(index));
        break;
    case engine::ActionKind::DeleteLocal:
        m_state->remove(LocalFiles.Strings(index));
        break;
    }
    m_state->flushIfDue();
}

void SyncRun::RecordUpload(int localIndex, const std::optional<QDateTime>& remoteTime) {
    const QString& name = LocalFiles.Strings(localIndex);
    const engine::LocalSnapshot local = LocalSnapshotOf(localIndex);
    m_state->clearPending(name, engine::StateSide::Remote);
    engine::FileRecord record{name, local.size, local.mtimeNs, local.size, 0, engine::TimePrecision::Second, {}};
    if (remoteTime) {
        record.remoteTimeMsecs = engine::utcToLocal(*remoteTime).msecs();
        record.remoteExactUtcMsecs = remoteTime->toMSecsSinceEpoch();
    } else {
        // The server keeps a time of its own and will not tell it: the day
        // of the upload is what the next listing shows, give or take one.
        record.remoteTimeMsecs = NaiveDateTime::fromLocal(QDateTime::currentDateTime()).msecs();
        record.remotePrecision = engine::TimePrecision::Day;
    }
    m_state->put(record);
}

void SyncRun::RecordDownload(int remoteIndex, const QString& localName,
                             const std::optional<std::pair<qint64, qint64>>& localAfter) {
    m_state->clearPending(localName, engine::StateSide::Local);
    if (!localAfter) {
        // What arrived cannot be looked at: the next run decides by the minutes.
        m_state->remove(localName);
        return;
    }
    const engine::RemoteSnapshot& seen = m_remoteSeen[size_t(remoteIndex)];
    m_state->put({localName, localAfter->first, localAfter->second, seen.size, seen.time.msecs(), seen.precision,
                  seen.exactUtcMSecs});
}
