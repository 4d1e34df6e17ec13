#include "sync/ServerTimes.h"

#include <gtest/gtest.h>

#include <time.h>

#include "inet/ListingParser.h"
#include "inet/ReplyParser.h"

using engine::parseZoneOffset;
using engine::zoneFromListing;

namespace {

QDateTime utc(int year, int month, int day, int hour, int minute, int second) {
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC);
}

NaiveDateTime listed(int hour, int minute) {
    return NaiveDateTime::fromParts(2026, 11, 7, hour, minute);
}

} // namespace

TEST(ServerTimesTest, ZoneSettingTakesUtcAndOffsetsUpToFourteenHours) {
    const std::vector<std::pair<const char*, std::optional<int>>> cases = {
        {"UTC", 0},      {"utc", 0},   {"+01:00", 60}, {"-05:30", -330}, {"+14:00", 840},
        {"+14:15", {}},  {"1:00", {}}, {"+01:60", {}}, {"+1:00", {}},    {"", {}},
        {"+01:00 ", {}}, {"GMT", {}},  {"-00:00", 0},  {"+05:45", 345},  {"+01:00x", {}},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(parseZoneOffset(QString::fromLatin1(text)), expected) << text;
    for (const int minutes : {0, 60, -330, 345, -720, 840}) {
        EXPECT_EQ(parseZoneOffset(engine::zoneOffsetText(minutes)), minutes);
    }
}

// The listing shows the minute, MDTM the second: the zone is what lies
// between them, in whole quarter hours.
TEST(ServerTimesTest, ZoneIsLearntFromTheListedMinuteAndTheExactTime) {
    const QDateTime known = utc(2026, 11, 7, 12, 34, 56);
    EXPECT_EQ(zoneFromListing(listed(12, 34), known), 0);
    EXPECT_EQ(zoneFromListing(listed(13, 34), known), 60);  // Berlin in winter
    EXPECT_EQ(zoneFromListing(listed(7, 34), known), -300); // New York
    EXPECT_EQ(zoneFromListing(listed(18, 19), known), 345); // Kathmandu
    EXPECT_EQ(zoneFromListing(listed(13, 36), known), 60);  // written again between the two answers
    EXPECT_EQ(zoneFromListing(NaiveDateTime::fromParts(2026, 11, 6, 23, 34), utc(2026, 11, 7, 0, 34, 1)), -60);
    EXPECT_EQ(zoneFromListing(NaiveDateTime::fromParts(2026, 11, 8, 4, 34), known), std::nullopt);
    EXPECT_EQ(zoneFromListing(listed(13, 34), QDateTime()), std::nullopt);
}

TEST(ServerTimesTest, ListedTimesBecomeLocalTimesAndMdtmRepliesAreRead) {
    const NaiveDateTime berlin = NaiveDateTime::fromParts(2026, 11, 7, 13, 34);
    EXPECT_EQ(engine::listedToLocal(berlin, 60), NaiveDateTime::fromLocal(utc(2026, 11, 7, 12, 34, 0)));

    EXPECT_EQ(inet::parseMdtmReply(QStringLiteral("213 20240102102030\r\n")), utc(2024, 1, 2, 10, 20, 30));
    EXPECT_EQ(inet::parseMdtmReply(QStringLiteral("213 20240102102030.250\r\n")),
              utc(2024, 1, 2, 10, 20, 30).addMSecs(250));
    for (const char* refused : {"550 Could not get file modification time.\r\n", "213 File modification time set.\r\n",
                                "213 2024010210203\r\n", "213 20241302102030\r\n"})
        EXPECT_EQ(inet::parseMdtmReply(QString::fromLatin1(refused)), std::nullopt) << refused;
}

// Only a listed time of day can teach the zone; a year column gives the day alone.
TEST(ServerTimesTest, ListingsSayHowMuchOfTheTimeTheyGive) {
    const QDate today(2026, 12, 8);
    using Source = inet::FindData::TimeSource;
    const std::vector<std::pair<const char*, Source>> cases = {
        {"-rw-r--r--   1 tester   tester         11 Nov 07 12:34 known.txt", Source::Listed},
        {"-rw-r--r--   1 tester   tester         11 Jan 02  2020 old.txt", Source::ListedDay},
        {"11-07-26  01:34PM                   11 known.txt", Source::Listed},
    };
    for (const auto& [line, source] : cases) {
        const std::optional<inet::FindData> entry = inet::parseListLine(QString::fromLatin1(line), today);
        ASSERT_TRUE(entry) << line;
        EXPECT_EQ(entry->timeSource, source) << line;
    }
    const std::optional<inet::FindData> mlsd =
        inet::parseMlsdLine(QStringLiteral("modify=20261107123456;size=11;type=file; known.txt"));
    ASSERT_TRUE(mlsd);
    EXPECT_EQ(mlsd->timeSource, Source::Local);
}

// Remembered offsets give what the zone data gives, also in the hours
// around a change of the clocks (Europe/Berlin: 2026-03-29 01:00 UTC and
// 2026-10-25 01:00 UTC) and before 1970.
TEST(ServerTimesTest, ManyTimesConvertAsOneByOne) {
    const QByteArray saved = qgetenv("TZ");
    qputenv("TZ", "Europe/Berlin");
    tzset();
    engine::LocalTimes times;
    ASSERT_EQ(times.fromUtc(utc(2026, 6, 1, 12, 0, 0).toMSecsSinceEpoch()), NaiveDateTime::fromParts(2026, 6, 1, 14, 0))
        << "the zone must be in force";
    for (const QDateTime& start : {utc(2026, 3, 28, 23, 0, 0), utc(2026, 10, 24, 23, 0, 0), utc(1960, 6, 1, 0, 0, 0)}) {
        for (qint64 step = 0; step < 4 * 3600; step += 599) {
            const QDateTime at = start.addSecs(step).addMSecs(step % 1000);
            ASSERT_EQ(times.fromUtc(at.toMSecsSinceEpoch()), engine::utcToLocal(at))
                << at.toString(Qt::ISODateWithMs).toStdString();
        }
    }
    qputenv("TZ", saved);
    tzset();
}
