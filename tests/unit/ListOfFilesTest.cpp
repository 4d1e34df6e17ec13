#include "sync/ListOfFiles.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>

#include "support/TestFiles.h"

namespace {

NaiveDateTime at(int y, int mo, int d, int h, int mi, int s, int ms) {
    return NaiveDateTime::fromParts(y, mo, d, h, mi, s, ms);
}

TEST(ListOfFiles, KeepsOrderAndDuplicatesAndFindsFirstMatchCaseInsensitively) {
    TListOfFiles list;
    EXPECT_EQ(list.AddFile(relativeName(QStringLiteral("a.txt")), 1, {}), 0);
    EXPECT_EQ(list.AddFile(relativeName(QStringLiteral("Docs\\Readme.TXT")), 2, {}), 1);
    EXPECT_EQ(list.AddFile(relativeName(QStringLiteral("a.txt")), 3, {}), 2);
    EXPECT_EQ(list.AddFile(relativeName(QStringLiteral("Caf\u00e9/Menu.txt")), 4, {}), 3);
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ(list.IndexOf(QStringLiteral("CAFE\u0301/menu.TXT")), 3) << "decomposed and composed accents match";
    EXPECT_EQ(list.IndexOf(QStringLiteral("A.TXT")), 0);
    EXPECT_EQ(list.IndexOf(QStringLiteral("docs\\readme.txt")), 1);
    EXPECT_EQ(list.IndexOf(QStringLiteral("docs/readme.txt")), -1) << "separators differ until rewritten";
    EXPECT_EQ(list.IndexOf(QStringLiteral("sub\\a.txt")), -1);
    EXPECT_EQ(list.Objects(2)->Size, 3);
}

TEST(ListOfFiles, ReplacingTextKeepsEntryAndDeleteAndClearFreeItems) {
    TListOfFiles list;
    const NaiveDateTime t = at(2026, 11, 7, 12, 34, 56, 0);
    list.AddFile(relativeName(QStringLiteral("sub/a.txt")), 11, t);
    list.Add(relativeName(QStringLiteral("no-entry")));
    list.SetString(0, relativeName(QStringLiteral("sub\\a.txt")));
    EXPECT_EQ(list.Strings(0), QStringLiteral("sub\\a.txt"));
    EXPECT_EQ(list.GetDateTime(0), t);
    EXPECT_EQ(list.Objects(1), nullptr);
    list.Delete(1);
    EXPECT_EQ(list.Count(), 1);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

struct TruncateCase {
    int level;
    NaiveDateTime expected;
};

class TruncateDateTimeTest : public ::testing::TestWithParam<TruncateCase> {};

TEST_P(TruncateDateTimeTest, ResetsSmallerParts) {
    const NaiveDateTime value = at(2001, 5, 6, 13, 14, 59, 999);
    EXPECT_EQ(TruncateDateTime(GetParam().level, value).toString(), GetParam().expected.toString());
}

INSTANTIATE_TEST_SUITE_P(
    Levels, TruncateDateTimeTest,
    ::testing::Values(TruncateCase{-1, at(2001, 5, 6, 13, 14, 59, 999)}, TruncateCase{0, at(2001, 5, 6, 13, 14, 59, 0)},
                      TruncateCase{1, at(2001, 5, 6, 13, 14, 0, 0)}, TruncateCase{2, at(2001, 5, 6, 13, 0, 0, 0)},
                      TruncateCase{3, at(2001, 5, 6, 0, 0, 0, 0)}, TruncateCase{4, at(2001, 5, 1, 0, 0, 0, 0)},
                      TruncateCase{5, at(2001, 1, 1, 0, 0, 0, 0)}, TruncateCase{6, at(2001, 5, 6, 13, 14, 59, 999)}),
    [](const auto& info) {
        return "level" + std::to_string(info.index) + "_" +
               (info.param.level < 0 ? std::string("minus1") : std::to_string(info.param.level));
    });

TEST(NaiveDateTime, DayCountAndFieldsRoundTrip) {
    EXPECT_EQ(NaiveDateTime().toString(), QStringLiteral("1899-12-30 00:00:00.000"));
    const NaiveDateTime t = at(2026, 12, 6, 20, 11, 37, 5);
    EXPECT_EQ(NaiveDateTime::fromDayCount(t.toDayCount()), t);
    EXPECT_EQ(NaiveDateTime::fromDayCount(1.5).toString(), QStringLiteral("1899-12-31 12:00:00.000"));
    const NaiveDateTime early = at(1601, 1, 1, 23, 59, 59, 999);
    EXPECT_EQ(early.date(), QDate(1601, 1, 1));
    EXPECT_EQ(early.time(), QTime(23, 59, 59, 999));
    EXPECT_LT(early, t);
}

// The pass index must answer exactly as the linear IndexOf, including for
// duplicates, letter case beyond ASCII and names that only fold alike.
TEST(FileNameIndex, AgreesWithLinearIndexOf) {
    const QStringList alphabet{QStringLiteral("a"),      QStringLiteral("B"),      QStringLiteral("ä"),
                               QStringLiteral("Ä"),      QStringLiteral("σ"),      QStringLiteral("Σ"),
                               QStringLiteral("ς"),      QStringLiteral("/"),      QStringLiteral("\\"),
                               QStringLiteral("İ"),      QStringLiteral("ǅ"),      QStringLiteral("ǆ"),
                               QStringLiteral("\u00e9"), QStringLiteral("E\u0301")};
    QRandomGenerator rng(42);
    auto randomName = [&] {
        QString name;
        const int length = 1 + int(rng.bounded(3));
        for (int i = 0; i < length; ++i)
            name += alphabet.at(int(rng.bounded(alphabet.size())));
        return name;
    };
    TListOfFiles list;
    for (int i = 0; i < 300; ++i) {
        if (const std::optional<RelativeName> name = RelativeName::fromPath(randomName()))
            list.AddFile(*name, i, {});
    }
    const FileNameIndex index(list);
    for (int i = 0; i < 2000; ++i) {
        const QString probe = randomName();
        ASSERT_EQ(index.IndexOf(probe), list.IndexOf(probe)) << probe.toStdString();
    }
}

} // namespace
