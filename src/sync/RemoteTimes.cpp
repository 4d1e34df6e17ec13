// What a run learns of remote file times: the zone of the listings, the
// exact times where they matter, and how it tells why a file moves.
#include "sync/SyncRun.h"

#include <algorithm>

#include "sync/FtpHelpers.h"
#include "sync/ScanHelpers.h"
#include "sync/ServerTimes.h"

using engine::joinRelative;

namespace {

// Exact times wanted for these RemoteFiles items, asked on one connection.
struct TimeQuestions {
    std::vector<int> items;
    QStringList paths;
};

QString minuteText(NaiveDateTime time) {
    return TruncateDateTime(1, time).toString().left(16); // "yyyy-MM-dd hh:mm"
}

} // namespace

void SyncRun::AskExactTimes() {
    if (m_remoteDayOnly.empty() || StopRequested || !setting::isKnown(m_settings.SyncMode))
        return;
    // A download needs the time to give the local file; a file on both
    // sides needs it to decide which is newer. Nothing else does.
    const bool downloads = m_settings.SyncMode == setting::SyncMode::RemoteToLocal ||
                           m_settings.SyncMode == setting::SyncMode::Bidirectional;
    const FileNameIndex& local = LocalIndex();
    const FileNameIndex& remote = RemoteIndex();
    std::vector<int> wanted;
    for (const int item : m_remoteDayOnly) {
        // A file listed as its record has it keeps the time recorded with it.
        if (TakeExactTimeFromRecord(item))
            continue;
        if (downloads || local.IndexOfKey(remote.KeyAt(item)) >= 0)
            wanted.push_back(item);
    }
    AskExactTimesOf(wanted);
}

void SyncRun::AskExactTimesOfDownloads(const std::vector<engine::PlannedAction>& plan) {
    // A listing to the minute (over the control connection, where the server
    // would have listed exact times with MLSD) decided these files; the
    // local copies get the exact time, as after a first run.
    if (!ListsWithoutExactTimes() || m_options.DryRun || StopRequested)
        return;
    std::vector<int> wanted;
    for (const engine::PlannedAction& action : plan) {
        if (!m_remoteSeen[size_t(action.index)].exactUtcMSecs)
            wanted.push_back(action.index);
    }
    AskExactTimesOf(wanted);
}

void SyncRun::AskExactTimesOf(const std::vector<int>& wanted) {
    if (wanted.empty())
        return;
    // One share for each connection, each share asked in a few round trips.
    engine::ConnectionPool& pool = Pool();
    const size_t shares = size_t(std::clamp(m_settings.Connections, 1, ProjectSettings::MaxConnections));
    const size_t perShare = (wanted.size() + shares - 1) / shares;
    for (size_t start = 0; start < wanted.size(); start += perShare) {
        TimeQuestions questions;
        for (size_t i = start; i < std::min(wanted.size(), start + perShare); ++i) {
            questions.items.push_back(wanted[i]);
            questions.paths.append(m_remoteBase + RemoteFiles.Strings(wanted[i]));
        }
        pool.add([questions = std::move(questions)](inet::FtpConnection& connection) {
            std::vector<std::optional<QDateTime>> answers;
            connection.modificationTimes(questions.paths, answers);
            engine::JobOutcome outcome;
            for (size_t i = 0; i < answers.size() && i < questions.items.size(); ++i) {
                if (answers[i])
                    outcome.exactTimes.push_back({questions.items[i], *answers[i]});
            }
            return outcome;
        });
    }
    // A file the server gives no time for keeps its listed day.
    pool.run([this](engine::JobOutcome& outcome) {
        for (const engine::ExactTime& answer : outcome.exactTimes) {
            RemoteFiles.SetDateTime(answer.item, m_localTimes.fromUtc(answer.utc.toMSecsSinceEpoch()));
            m_remoteSeen[size_t(answer.item)].exactUtcMSecs = answer.utc.toMSecsSinceEpoch();
        }
        DoProgress();
    });
    LogPoolNotices();
}

QString SyncRun::MoveReason(const TListOfFiles& walked, int index, const TListOfFiles& searched, int match) const {
    const bool searchedIsLocal = &searched == &LocalFiles;
    if (match < 0)
        return searchedIsLocal ? QStringLiteral(" (not in the local folder)") : QStringLiteral(" (not on the server)");
    const QString walkedSide = searchedIsLocal ? QStringLiteral("remote") : QStringLiteral("local");
    const QString searchedSide = searchedIsLocal ? QStringLiteral("local") : QStringLiteral("remote");
    return QStringLiteral(" (%1 %2, %3 %4)")
        .arg(walkedSide, minuteText(walked.GetDateTime(index)), searchedSide, minuteText(searched.GetDateTime(match)));
}

void SyncRun::LogNoticesOnce(const QStringList& notices) {
    for (const QString& notice : notices) {
        if (!m_noticesLogged.contains(notice)) {
            m_noticesLogged.insert(notice);
            Log(notice);
        }
    }
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

NaiveDateTime SyncRun::RemoteTimeOf(const inet::FindData& data) {
    const NaiveDateTime time = NaiveDateTime::fromDateAndTime(data.modifiedDate, data.modifiedTime);
    if (data.timeSource != inet::FindData::TimeSource::Local && m_listingZone)
        return m_localTimes.fromListed(time, *m_listingZone);
    return time;
}
