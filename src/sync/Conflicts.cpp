// Files changed on both sides since the last run. No rule loses a version
// that was not asked for: keeping both puts the newer under the name on both
// sides and the other beside it in the local folder.
#include "sync/SyncRun.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>

#include "model/Global.h"
#include "sync/FileJobs.h"
#include "sync/ScanHelpers.h"

namespace {

// How a conflict is settled on the wire.
enum class Settle : quint8 {
    Upload,          // the local version replaces the remote one
    Download,        // the remote version replaces the local one
    SaveThenUpload,  // the remote version to the copy, then the local one up
    SetAsideThenGet, // the local version to the copy, then the remote one down
};

bool renameLocal(const QString& from, const QString& to) {
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

} // namespace

ConflictRule SyncRun::ConflictRuleOfRun() const {
    if (m_options.OnConflict)
        return *m_options.OnConflict;
    return m_settings.Conflicts == setting::Conflicts::Skip ? ConflictRule::Skip : ConflictRule::KeepBoth;
}

std::optional<RelativeName> SyncRun::ConflictCopyOf(const RelativeName& name) const {
    const QString root = AddTrailingBackslash(m_settings.LocalFolder);
    for (int attempt = 1; attempt < 100; ++attempt) {
        const std::optional<RelativeName> copy =
            RelativeName::fromPath(name.folderPart() + engine::conflictCopyName(name.fileName(), m_startedAt, attempt));
        if (!copy)
            return std::nullopt; // the name is too long for the marker
        if (!QFileInfo::exists(root + copy->text()) && !QFileInfo(root + copy->text()).isSymLink())
            return copy;
    }
    return std::nullopt;
}

void SyncRun::ReportConflict(const QString& name, const QString& kept, const QString& copy) {
    engine::RunEvent event;
    event.type = engine::RunEvent::Type::Conflict;
    event.file = name;
    event.side = kept;
    event.copy = copy;
    Report(std::move(event));
}

void SyncRun::SettleConflicts() {
    std::vector<int> conflicted; // LocalFiles items
    for (size_t i = 0; i < m_localVerdicts.size(); ++i) {
        if (m_localVerdicts[i].action == engine::StateAction::Conflict && m_localVerdicts[i].match >= 0)
            conflicted.push_back(int(i));
    }
    if (conflicted.empty() || StopRequested)
        return;
    const ConflictRule rule = ConflictRuleOfRun();
    const engine::FileRoots roots = Roots();
    engine::RemoteFolders& folders = RemoteFolderMemory();
    struct Planned {
        Settle settle;
        QString copy;
    };
    QHash<int, Planned> planned;
    for (const int i : conflicted) {
        if (StopRequested || ServerStoppedAnswering())
            break;
        const QString& name = LocalFiles.Strings(i);
        const int remote = m_localVerdicts[size_t(i)].match;
        ++LastRunOutcome.conflicts;
        Progress().noteConflict();
        const QString shown = escapedForLog(name);
        if (rule == ConflictRule::Skip) {
            Log(QStringLiteral("Conflict: %1 has changed on both sides since the last run; it has been left as it "
                               "is on both.")
                    .arg(shown));
            ++LastRunOutcome.problems;
            ReportConflict(name, {}, {});
            continue;
        }
        const std::optional<RelativeName> localName = RelativeName::fromPath(name);
        const std::optional<RelativeName> remoteName = RelativeName::fromPath(RemoteFiles.Strings(remote));
        if (!localName || !remoteName || !MayChangeLocally(*localName, true)) {
            ++LastRunOutcome.failedActions;
            continue;
        }
        // The newer version keeps the name; a tie goes to the local one.
        const bool remoteNewer = RemoteFiles.GetDateTime(remote) > LocalFiles.GetDateTime(i);
        Settle settle = rule == ConflictRule::KeepLocal ? Settle::Upload : Settle::Download;
        std::optional<RelativeName> copy;
        if (rule == ConflictRule::KeepBoth) {
            settle = remoteNewer ? Settle::SetAsideThenGet : Settle::SaveThenUpload;
            copy = ConflictCopyOf(*localName);
            if (!copy) {
                Log(QStringLiteral("Conflict: %1 has changed on both sides since the last run, and no name is free "
                                   "for a copy of it; it has been left as it is on both.")
                        .arg(shown));
                ++LastRunOutcome.failedActions;
                continue;
            }
        }
        const bool localKept = settle == Settle::Upload || settle == Settle::SaveThenUpload;
        const QString keptSide = localKept ? QStringLiteral("local") : QStringLiteral("remote");
        if (m_options.DryRun) {
            Log(copy ? QStringLiteral("Would keep both versions of %1: the %2 one under its name, the other as %3 "
                                      "(conflict: changed on both sides)")
                           .arg(shown, keptSide, escapedForLog(copy->text()))
                     : QStringLiteral("Would replace the %1 version of %2 with the %3 one (conflict: changed on "
                                      "both sides)")
                           .arg(localKept ? QStringLiteral("remote") : QStringLiteral("local"), shown, keptSide));
            ReportConflict(name, keptSide, copy ? copy->text() : QString());
            continue;
        }
        planned.insert(i, {settle, copy ? copy->text() : QString()});
        const TFileEntry* localEntry = LocalFiles.Objects(i);
        const qint64 remoteSize =
            m_remoteSizeUnchecked.contains(remote) ? inet::FindData::UnknownSize : RemoteFiles.Objects(remote)->Size;
        auto unchanged = engine::unchangedSince(roots.localRoot + localName->text(), localEntry);
        engine::Job job = [roots, &folders, settle, local = *localName, remoteFile = *remoteName, copy,
                           remoteTime = RemoteFiles.GetDateTime(remote), remoteSize,
                           unchanged = std::move(unchanged)](inet::FtpConnection& connection) {
            switch (settle) {
            case Settle::Upload:
                return engine::uploadFile(connection, roots, folders, local, remoteFile, unchanged, true);
            case Settle::Download:
                return engine::downloadFile(connection, roots, remoteFile, local, remoteTime, remoteSize);
            case Settle::SaveThenUpload: {
                engine::JobOutcome saved =
                    engine::downloadFile(connection, roots, remoteFile, *copy, remoteTime, remoteSize);
                if (!saved.ok)
                    return saved;
                engine::JobOutcome sent =
                    engine::uploadFile(connection, roots, folders, local, remoteFile, unchanged, true);
                sent.lines = saved.lines + sent.lines;
                return sent;
            }
            case Settle::SetAsideThenGet: {
                const QString named = roots.localRoot + local.text();
                const QString aside = roots.localRoot + copy->text();
                if (!renameLocal(named, aside))
                    return engine::JobOutcome{
                        false, {QStringLiteral("Error while renaming file %1").arg(escapedForLog(named))}, {}};
                engine::JobOutcome got =
                    engine::downloadFile(connection, roots, remoteFile, local, remoteTime, remoteSize);
                // Without the new version the old one goes back under its name.
                if (!got.ok && !QFileInfo::exists(named))
                    renameLocal(aside, named);
                return got;
            }
            }
            return engine::JobOutcome{false, {}, {}};
        };
        const bool uploads = settle == Settle::Upload || settle == Settle::SaveThenUpload;
        Pool().add(CountedJob(uploads ? engine::ActionKind::Upload : engine::ActionKind::Download, i, name,
                              uploads ? localEntry->Size : std::max<qint64>(remoteSize, 0), std::move(job)));
    }
    if (planned.isEmpty())
        return;
    m_pool->run([this, &planned](engine::JobOutcome& outcome) {
        DoProgress();
        LogNoticesOnce(outcome.notices);
        if (!outcome.action || !planned.contains(outcome.action->index)) {
            LogOutcome(outcome);
            return;
        }
        const int i = outcome.action->index;
        const Planned& plan = planned.value(i);
        const QString& name = LocalFiles.Strings(i);
        const bool localKept = plan.settle == Settle::Upload || plan.settle == Settle::SaveThenUpload;
        if (!LogOutcome(outcome)) {
            ++LastRunOutcome.failedActions;
            ReportAction(localKept ? engine::ActionKind::Upload : engine::ActionKind::Download, name, 0, false,
                         outcome.lines.value(outcome.lines.size() - 1), outcome.action->serverReply);
            return;
        }
        const QString keptSide = localKept ? QStringLiteral("local") : QStringLiteral("remote");
        Log(plan.copy.isEmpty()
                ? QStringLiteral("Conflict: %1 had changed on both sides since the last run; the %2 version has "
                                 "replaced the other")
                      .arg(escapedForLog(name), keptSide)
                : QStringLiteral("Conflict: %1 had changed on both sides since the last run; the %2 version keeps "
                                 "the name, the other is kept as %3")
                      .arg(escapedForLog(name), keptSide, escapedForLog(plan.copy)));
        ReportConflict(name, keptSide, plan.copy);
        if (m_state && !m_options.DryRun) {
            if (localKept)
                RecordUpload(i, outcome.remoteTimeAfter);
            else
                RecordDownload(m_localVerdicts[size_t(i)].match, name, outcome.localAfter);
            m_state->flushIfDue();
        }
    });
    LogPoolNotices();
}
