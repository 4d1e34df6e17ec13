// What a run learns of remote file times beyond the listings, and how it
// tells why a file moves.
#include "sync/SyncRun.h"

#include <algorithm>

#include "sync/ServerTimes.h"
#include "sync/FtpHelpers.h"

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
    const FileNameIndex local(LocalFiles);
    std::vector<int> wanted;
    for (const int item : m_remoteDayOnly) {
        if (downloads || local.IndexOf(RemoteFiles.Strings(item)) >= 0)
            wanted.push_back(item);
    }
    if (wanted.empty())
        return;
    // One share for each connection, each share asked in a few round trips.
    engine::ConnectionPool& pool = Pool();
    const size_t shares = size_t(std::clamp(m_settings.Connections, 1, ProjectSettings::MaxConnections));
    const size_t perShare = (wanted.size() + shares - 1) / shares;
    for (size_t start = 0; start < wanted.size(); start += perShare) {
        auto questions = std::make_shared<TimeQuestions>();
        for (size_t i = start; i < std::min(wanted.size(), start + perShare); ++i) {
            questions->items.push_back(wanted[i]);
            questions->paths.append(m_remoteBase + RemoteFiles.Strings(wanted[i]));
        }
        pool.add([questions](inet::FtpConnection& connection) {
            std::vector<std::optional<QDateTime>> answers;
            connection.modificationTimes(questions->paths, answers);
            engine::JobOutcome outcome;
            for (size_t i = 0; i < answers.size() && i < questions->items.size(); ++i) {
                if (answers[i])
                    outcome.exactTimes.push_back({questions->items[i], *answers[i]});
            }
            return outcome;
        });
    }
    // A file the server gives no time for keeps its listed day.
    pool.run([this](engine::JobOutcome& outcome) {
        for (const engine::ExactTime& answer : outcome.exactTimes)
            RemoteFiles.SetDateTime(answer.item, engine::utcToLocal(answer.utc));
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
