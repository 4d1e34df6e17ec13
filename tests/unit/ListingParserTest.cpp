#include "inet/ListingParser.h"
#include "inet/ReplyParser.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QStringList>

#include <cctype>
#include <ctime>
#include <ostream>
#include <string>
#include <vector>

using inet::FindData;

namespace {

// What a parsed entry must hold; the time as "yyyy-MM-dd hh:mm:ss.zzz" so a
// failure shows it readably, "" for an invalid (missing) time.
struct Entry {
    std::string name;
    bool isDirectory;
    qint64 size;
    std::string time;
};

std::string describe(const FindData& d) {
    std::string time;
    if (d.modifiedDate.isValid())
        time = (d.modifiedDate.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') +
                d.modifiedTime.toString(QStringLiteral("hh:mm:ss.zzz")))
                   .toStdString();
    return d.name.toStdString() + (d.isDirectory ? " <dir> " : " <file> ") + std::to_string(d.size) + " " + time;
}

std::string describe(const Entry& e) {
    return e.name + (e.isDirectory ? " <dir> " : " <file> ") + std::to_string(e.size) + " " + e.time;
}

std::vector<std::string> describeAll(const std::vector<Entry>& entries) {
    std::vector<std::string> out;
    for (const Entry& e : entries)
        out.push_back(describe(e));
    return out;
}

QStringList readLines(const char* fileName) {
    QFile file(QStringLiteral(VELLISYNC_TEST_DATA_DIR "/listings/") + QLatin1String(fileName));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << fileName;
    // Split on LF only, so a CR at the end of a line reaches the parser as it
    // would from a DOS-style data connection.
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// Every LIST capture was taken on this day (the servers' file is dated
// 2026-11-07); the six-month rule places year-less dates against it.
const QDate captureDay(2026, 12, 7);

struct ListingCase {
    const char* file;
    std::vector<Entry> expected;
};

void PrintTo(const ListingCase& c, std::ostream* os) {
    *os << c.file;
}

class CapturedListing : public ::testing::TestWithParam<ListingCase> {};

TEST_P(CapturedListing, ParsesEveryEntryAndSkipsTheRest) {
    std::vector<std::string> parsed;
    for (const QString& line : readLines(GetParam().file)) {
        const inet::ListingLine read = inet::readListLine(line, captureDay);
        EXPECT_NE(read.kind, inet::ListingLine::Kind::Unrecognised) << line.toStdString();
        if (read.kind == inet::ListingLine::Kind::Entry)
            parsed.push_back(describe(read.entry));
    }
    EXPECT_EQ(parsed, describeAll(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Servers, CapturedListing,
    ::testing::Values(ListingCase{"pyftpdlib.txt",
                                  {{"known.txt", false, 11, "2026-11-07 12:34:00.000"},
                                   {"sub dir", true, 4096, "2026-11-07 12:34:00.000"},
                                   {"old.txt", false, 11, "2020-01-02 00:00:00.000"},
                                   {".htaccess", false, 0, "2026-11-07 12:34:00.000"},
                                   {"link", false, 9, "2026-11-07 12:34:00.000"},
                                   {"big.iso", false, 5368709120LL, "2026-11-07 12:34:00.000"}}},
                      ListingCase{"vsftpd.txt",
                                  {{".htaccess", false, 0, "2026-11-07 12:34:00.000"},
                                   {"known.txt", false, 11, "2026-11-07 12:34:00.000"},
                                   {"old.txt", false, 11, "2020-01-02 00:00:00.000"},
                                   {"sub dir", true, 4096, "2026-11-07 12:34:00.000"}}},
                      ListingCase{"proftpd.txt",
                                  {{".htaccess", false, 0, "2026-11-07 12:34:00.000"},
                                   {"known.txt", false, 11, "2026-11-07 12:34:00.000"},
                                   {"link", false, 9, "2026-11-07 12:34:00.000"},
                                   {"old.txt", false, 11, "2020-01-02 00:00:00.000"},
                                   {"sub dir", true, 4096, "2026-11-07 12:34:00.000"}}},
                      // Pure-FTPd lists in the server's local time (13:34 in Berlin): taken as listed.
                      ListingCase{"pure-ftpd.txt",
                                  {{".htaccess", false, 0, "2026-11-07 13:34:00.000"},
                                   {"known.txt", false, 11, "2026-11-07 13:34:00.000"},
                                   {"old.txt", false, 11, "2020-01-02 00:00:00.000"},
                                   {"sub dir", true, 4096, "2026-11-07 13:34:00.000"}}},
                      ListingCase{"iis.txt",
                                  {{"sub dir", true, 0, "2026-11-07 12:34:00.000"},
                                   {"known.txt", false, 11, "2026-11-07 13:34:00.000"},
                                   {"old.txt", false, 11, "2020-01-02 09:05:00.000"},
                                   {"big file.iso", false, 5368709120LL, "2026-11-07 00:05:00.000"},
                                   {"leap.txt", false, 0, "2024-02-29 12:00:00.000"},
                                   {" leading blank.txt", false, 1, "1999-12-31 23:59:00.000"}}},
                      ListingCase{"iis-four-digit-year.txt",
                                  {{"sub dir", true, 0, "2026-11-07 13:34:00.000"},
                                   {"known.txt", false, 11, "2026-11-07 13:34:00.000"},
                                   {"y2k.txt", false, 1024, "1999-01-02 00:05:00.000"}}},
                      ListingCase{"unix-other.txt",
                                  {{"no group.txt", false, 11, "2026-11-07 12:34:00.000"},
                                   {"acl.txt", false, 100, "2026-11-07 12:34:00.000"},
                                   {" leading blank.txt", false, 11, "2026-11-07 12:34:00.000"},
                                   {"Dec 25 10:00 name like a date", false, 11, "2026-11-07 12:34:00.000"},
                                   {"four-gib.bin", false, 4294967296LL, "2024-02-29 00:00:00.000"},
                                   {"iso style", true, 4096, "2026-11-07 12:34:00.000"},
                                   {"UPPER.TXT", false, 11, "2026-11-07 12:34:00.000"},
                                   {"filezilla.txt", false, 11, "2026-11-07 12:34:00.000"},
                                   {"filezilla dir", true, 0, "2026-11-07 12:34:00.000"},
                                   {"to dir", false, 6, "2026-12-01 08:00:00.000"},
                                   {"last year.txt", false, 11, "2025-12-20 12:34:00.000"},
                                   {" old leading blank", false, 11, "2020-01-02 00:00:00.000"},
                                   {"full time.txt", false, 11, "2026-11-07 12:34:56.250"},
                                   {"+0100 report.txt", false, 11, "2026-11-07 12:34:00.000"}}},
                      // Columns that ran into each other or are missing, and sizes that make no sense.
                      ListingCase{"odd-forms.txt",
                                  {{"glued link count", true, 41472, "2026-02-25 13:17:00.000"},
                                   {"glued size.bin", false, 125435904, "2008-04-09 00:00:00.000"},
                                   {"no link count", true, 0, "2011-08-15 00:00:00.000"},
                                   {"no owner column.txt", false, 4096, "2007-11-01 00:00:00.000"},
                                   {"named folder", true, 0, "2026-12-01 08:00:00.000"},
                                   {"negative size.txt", false, FindData::UnknownSize, "2026-11-07 12:34:00.000"},
                                   {"absurd size.txt", false, FindData::UnknownSize, "2026-11-07 12:34:00.000"},
                                   {"read-only dir", true, 0, "2009-02-25 00:00:00.000"},
                                   {"AIX filename", false, 660, "2026-02-17 11:22:00.000"}}}),
    [](const ::testing::TestParamInfo<ListingCase>& info) {
        std::string name = info.param.file;
        name = name.substr(0, name.find('.'));
        for (char& c : name) {
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        }
        return name;
    });

// The year of a Unix line without one: the latest date not more than a day
// after today.
struct YearCase {
    QDate today;
    const char* line;
    QDate expected;
};

void PrintTo(const YearCase& c, std::ostream* os) {
    *os << c.line << " on " << c.today.toString().toStdString();
}

class SixMonthRule : public ::testing::TestWithParam<YearCase> {};

TEST_P(SixMonthRule, PlacesDateWithoutYear) {
    const std::optional<FindData> data = inet::parseListLine(QLatin1String(GetParam().line), GetParam().today);
    ASSERT_TRUE(data.has_value()) << GetParam().line;
    EXPECT_EQ(data->modifiedDate, GetParam().expected)
        << GetParam().line << " on " << GetParam().today.toString().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Dates, SixMonthRule,
                         ::testing::Values(
                             // Earlier this year.
                             YearCase{{2026, 12, 7}, "-rw-r--r-- 1 u g 1 Jun 10 09:00 f", {2026, 6, 10}},
                             // Today and tomorrow (a server clock or zone ahead of ours) stay this year.
                             YearCase{{2026, 12, 7}, "-rw-r--r-- 1 u g 1 Dec  7 23:59 f", {2026, 12, 7}},
                             YearCase{{2026, 12, 7}, "-rw-r--r-- 1 u g 1 Dec 08 01:00 f", {2026, 12, 8}},
                             // Two days ahead is clearly in the future: last year.
                             YearCase{{2026, 12, 7}, "-rw-r--r-- 1 u g 1 Dec 09 01:00 f", {2025, 12, 9}},
                             // Early in January, December is last year.
                             YearCase{{2027, 1, 3}, "-rw-r--r-- 1 u g 1 Dec 31 23:00 f", {2026, 12, 31}},
                             YearCase{{2027, 1, 3}, "-rw-r--r-- 1 u g 1 Jan 02 08:00 f", {2027, 1, 2}},
                             // On New Year's Eve a server already in the new year lists "Jan 1".
                             YearCase{{2026, 12, 31}, "-rw-r--r-- 1 u g 1 Jan  1 00:30 f", {2027, 1, 1}},
                             // 29 February belongs to the latest leap year.
                             YearCase{{2027, 3, 1}, "-rw-r--r-- 1 u g 1 Feb 29 10:00 f", {2024, 2, 29}},
                             YearCase{{2028, 3, 1}, "-rw-r--r-- 1 u g 1 Feb 29 10:00 f", {2028, 2, 29}},
                             // A year given is kept, whatever today is.
                             YearCase{{2026, 12, 7}, "-rw-r--r-- 1 u g 1 Dec 31  2030 f", {2030, 12, 31}}));

// Lines that are no entry: known ones are passed over, any other makes the
// listing incomplete (it may have been a folder).
struct LineKindCase {
    const char* line;
    inet::ListingLine::Kind kind;
};

void PrintTo(const LineKindCase& c, std::ostream* os) {
    *os << '"' << c.line << '"';
}

class NotAnEntry : public ::testing::TestWithParam<LineKindCase> {};

TEST_P(NotAnEntry, GivesNothingAndTellsWhetherItIsKnown) {
    const inet::ListingLine parsed = inet::readListLine(QLatin1String(GetParam().line), captureDay);
    EXPECT_EQ(parsed.kind, GetParam().kind);
    EXPECT_FALSE(inet::parseListLine(QLatin1String(GetParam().line), captureDay).has_value());
}

constexpr auto Known = inet::ListingLine::Kind::NotAnEntry;
constexpr auto Unknown = inet::ListingLine::Kind::Unrecognised;

INSTANTIATE_TEST_SUITE_P(Lines, NotAnEntry,
                         ::testing::Values(LineKindCase{"", Known}, LineKindCase{"   ", Known},
                                           LineKindCase{"\r", Known}, LineKindCase{"total 0", Known},
                                           LineKindCase{"total 1234", Known},
                                           LineKindCase{"drwxr-xr-x   2 u g 4096 Nov 07 12:34 .", Known},
                                           LineKindCase{"drwxr-xr-x   2 u g 4096 Nov 07 12:34 ..", Known},
                                           LineKindCase{"11-07-26  12:34PM       <DIR>          .", Known},
                                           LineKindCase{"crw-rw-rw-   1 root root 1,   3 Nov  7 12:34 null", Known},
                                           LineKindCase{"-rw-r--r--   1 u g 11 Nov 07 12:34", Unknown}, // no name
                                           LineKindCase{"-rw-r--r--   1 u g 11 Nov 07 12:34 ", Unknown},
                                           LineKindCase{"-rw-r--r--   1 u g 11 Foo 07 12:34 badmonth", Unknown},
                                           LineKindCase{"-rw-r--r--   1 u g 11 Feb 30 12:34 badday", Unknown},
                                           LineKindCase{"-rw-r--r--   1 u g 11 Nov 07 25:34 badhour", Unknown},
                                           LineKindCase{"13-45-26  12:34PM  11 badmonth", Unknown},
                                           LineKindCase{"11-07-26  13:34PM  11 badclock", Unknown},
                                           LineKindCase{"550 No such file or directory.", Unknown},
                                           LineKindCase{"garbage", Unknown}, LineKindCase{"d", Unknown},
                                           LineKindCase{"----------", Unknown}));

TEST(ListLine, KeepsFirstArrowOnlyForLinks) {
    const std::optional<FindData> file =
        inet::parseListLine(QStringLiteral("-rw-r--r-- 1 u g 3 Nov 07 12:34 a -> b"), captureDay);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->name, QStringLiteral("a -> b"));
    const std::optional<FindData> link =
        inet::parseListLine(QStringLiteral("lrwxrwxrwx 1 u g 3 Nov 07 12:34 my link -> a -> b"), captureDay);
    ASSERT_TRUE(link);
    EXPECT_EQ(link->name, QStringLiteral("my link"));
    EXPECT_FALSE(link->isDirectory);
}

// MLSD times are UTC and must come out in local time, whatever the zone of the
// machine running the test: each case sets TZ for its duration.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) : m_had(qEnvironmentVariableIsSet("TZ")), m_old(qgetenv("TZ")) {
        qputenv("TZ", zone);
        tzset();
    }
    ~ScopedTimeZone() {
        if (m_had)
            qputenv("TZ", m_old);
        else
            qunsetenv("TZ");
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    bool m_had;
    QByteArray m_old;
};

struct MlsdCase {
    const char* zone; // POSIX TZ rules, so no zone database is needed
    std::vector<Entry> expected;
};

void PrintTo(const MlsdCase& c, std::ostream* os) {
    *os << "TZ=" << c.zone;
}

class CapturedMlsd : public ::testing::TestWithParam<MlsdCase> {};

TEST_P(CapturedMlsd, ParsesFactsAndConvertsUtcToLocalTime) {
    const ScopedTimeZone zone(GetParam().zone);
    std::vector<std::string> parsed;
    for (const QString& line : readLines("mlsd.txt")) {
        if (const std::optional<FindData> data = inet::parseMlsdLine(line))
            parsed.push_back(describe(*data));
    }
    EXPECT_EQ(parsed, describeAll(GetParam().expected));
}

std::vector<Entry> mlsdEntries(const char* known, const char* big, const char* old) {
    return {{"known.txt", false, 11, known},   {"sub dir", true, 4096, known},
            {"proftpd.txt", false, 11, known}, {"pure-ftpd.txt", false, 11, known},
            {"link", false, 9, known},         {"big; name;with semicolons.bin", false, 5368709120LL, big},
            {" old dir", true, 4096, old},     {"no time.txt", false, 3, ""}};
}

INSTANTIATE_TEST_SUITE_P(
    Zones, CapturedMlsd,
    ::testing::Values(
        MlsdCase{"UTC0", mlsdEntries("2026-11-07 12:34:56.000", "2026-01-01 00:30:00.250", "2020-01-02 00:00:00.000")},
        MlsdCase{"CET-1CEST,M3.5.0,M10.5.0/3",
                 mlsdEntries("2026-11-07 13:34:56.000", "2026-01-01 01:30:00.250", "2020-01-02 01:00:00.000")},
        MlsdCase{"EST5EDT,M3.2.0,M11.1.0",
                 mlsdEntries("2026-11-07 07:34:56.000", "2025-12-31 19:30:00.250", "2020-01-01 19:00:00.000")}));

TEST(MlsdLine, SummerTimeUsesTheOffsetOfThatDate) {
    const ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const std::optional<FindData> data = inet::parseMlsdLine(QStringLiteral("type=file;modify=20260701120000; s"));
    ASSERT_TRUE(data);
    EXPECT_EQ(data->modifiedTime, QTime(14, 0));
}

TEST(MlsdLine, MalformedLinesGiveNothingOrNoTime) {
    for (const char* line : {"", "type=file;size=1;", "type=file;size=1; ", "type=pdir; somewhere", "type=file; .."})
        EXPECT_FALSE(inet::parseMlsdLine(QLatin1String(line))) << line;

    const std::optional<FindData> badTime =
        inet::parseMlsdLine(QStringLiteral("type=file;size=x;modify=2026110712;=;junk; odd.txt"));
    ASSERT_TRUE(badTime);
    EXPECT_EQ(badTime->name, QStringLiteral("odd.txt"));
    EXPECT_EQ(badTime->size, FindData::UnknownSize);
    EXPECT_FALSE(badTime->modifiedDate.isValid());

    const std::optional<FindData> noFacts = inet::parseMlsdLine(QStringLiteral(" bare name"));
    ASSERT_TRUE(noFacts);
    EXPECT_EQ(noFacts->name, QStringLiteral("bare name"));
}

// A line in an MLSD listing that is not in the MLSD form may be anything, a
// folder included: it must make the listing incomplete, not become a file.
class MlsdLineKind : public ::testing::TestWithParam<LineKindCase> {};

TEST_P(MlsdLineKind, TellsEntriesKnownLinesAndOthers) {
    EXPECT_EQ(inet::readMlsdLine(QLatin1String(GetParam().line)).kind, GetParam().kind);
}

constexpr auto AnEntry = inet::ListingLine::Kind::Entry;

INSTANTIATE_TEST_SUITE_P(Lines, MlsdLineKind,
                         ::testing::Values(LineKindCase{"type=file;size=5; a b", AnEntry},
                                           LineKindCase{" bare name", AnEntry},
                                           LineKindCase{"type=cdir;sizd=4096; .", Known},
                                           LineKindCase{"-rw-r--r--   1 u g 5 Jan 01  2026 stray.txt", Unknown},
                                           LineKindCase{"type=file;size=5 no separator", Unknown},
                                           LineKindCase{"garbage; name", Unknown},
                                           LineKindCase{"550 No such file or directory.", Unknown}));

struct PwdCase {
    const char* reply;
    std::optional<QString> expected;
};

void PrintTo(const PwdCase& c, std::ostream* os) {
    *os << c.reply;
}

class PwdReply : public ::testing::TestWithParam<PwdCase> {};

TEST_P(PwdReply, GivesTheUnquotedFolder) {
    EXPECT_EQ(inet::parsePwdReply(QLatin1String(GetParam().reply)), GetParam().expected) << GetParam().reply;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, PwdReply,
    ::testing::Values(PwdCase{"257 \"/\" is the current directory.\r\n", QStringLiteral("/")},
                      PwdCase{"257 \"/a \"\"quoted\"\" dir\" is current directory.\r\n",
                              QStringLiteral("/a \"quoted\" dir")},
                      PwdCase{"257 \"/with blanks/x\"\r\n", QStringLiteral("/with blanks/x")},
                      PwdCase{"257 \"\"\"\"\r\n", QStringLiteral("\"")}, PwdCase{"257 \"\" empty\r\n", QString()},
                      PwdCase{"257 /home/user is current directory.\r\n", QStringLiteral("/home/user")},
                      PwdCase{"\"/no/code\"", QStringLiteral("/no/code")},
                      PwdCase{"257-\"/multi\" line\r\n257 end\r\n", QStringLiteral("/multi")},
                      PwdCase{"257 \"/unterminated\r\n", std::nullopt}, PwdCase{"257 \r\n", std::nullopt},
                      PwdCase{"", std::nullopt}));

struct EpsvCase {
    const char* reply;
    std::optional<quint16> expected;
};

void PrintTo(const EpsvCase& c, std::ostream* os) {
    *os << c.reply;
}

class EpsvReply : public ::testing::TestWithParam<EpsvCase> {};

TEST_P(EpsvReply, GivesThePort) {
    EXPECT_EQ(inet::parseEpsvReply(QLatin1String(GetParam().reply)), GetParam().expected) << GetParam().reply;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, EpsvReply,
    ::testing::Values(EpsvCase{"229 Entering Extended Passive Mode (|||50000|)\r\n", 50000},
                      EpsvCase{"229 Entering Extended Passive Mode (!!!1!)", 1},
                      EpsvCase{"229 EPSV ok (###65535#)", 65535},
                      EpsvCase{"229 Entering Extended Passive Mode |||2121|", 2121},
                      EpsvCase{"229 (|||65536|)", std::nullopt}, EpsvCase{"229 (|||0|)", std::nullopt},
                      EpsvCase{"229 (|||1234!)", std::nullopt}, EpsvCase{"229 (||1234|)", std::nullopt},
                      EpsvCase{"229 Entering Extended Passive Mode", std::nullopt}, EpsvCase{"", std::nullopt}));

struct PasvCase {
    const char* reply;
    const char* address; // nullptr when the reply is to be rejected
    quint16 port;
};

void PrintTo(const PasvCase& c, std::ostream* os) {
    *os << c.reply;
}

class PasvReply : public ::testing::TestWithParam<PasvCase> {};

TEST_P(PasvReply, GivesAddressAndPort) {
    const std::optional<inet::PassiveAddress> parsed = inet::parsePasvReply(QLatin1String(GetParam().reply));
    if (!GetParam().address) {
        EXPECT_FALSE(parsed.has_value()) << GetParam().reply;
        return;
    }
    ASSERT_TRUE(parsed.has_value()) << GetParam().reply;
    EXPECT_EQ(parsed->address, QHostAddress(QLatin1String(GetParam().address)));
    EXPECT_EQ(parsed->port, GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, PasvReply,
    ::testing::Values(PasvCase{"227 Entering Passive Mode (127,0,0,1,195,80).\r\n", "127.0.0.1", 50000},
                      PasvCase{"227 Entering Passive Mode 192,168,1,20,4,1\r\n", "192.168.1.20", 1025},
                      PasvCase{"227 =10,0,0,5,255,255", "10.0.0.5", 65535},
                      PasvCase{"227 Entering Passive Mode (127, 0, 0, 1, 0, 21)", "127.0.0.1", 21},
                      PasvCase{"227 Entering Passive Mode (256,0,0,1,195,80).", nullptr, 0},
                      PasvCase{"227 Entering Passive Mode (127,0,0,1,300,80).", nullptr, 0},
                      PasvCase{"227 Entering Passive Mode (127,0,0,1,195,1000).", nullptr, 0},
                      PasvCase{"227 Entering Passive Mode (127,0,0,1,0,0).", nullptr, 0},
                      PasvCase{"227 Entering Passive Mode (127,0,0,1,195).", nullptr, 0},
                      PasvCase{"227 Entering Passive Mode (1270,0,0,1,195,80).", nullptr, 0},
                      PasvCase{"", nullptr, 0}));

} // namespace
