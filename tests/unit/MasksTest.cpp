#include "sync/Masks.h"

#include <gtest/gtest.h>

#include "model/Errors.h"

namespace {

struct MatchCase {
    const char* mask;
    const char* name;
    bool matches;
};

void PrintTo(const MatchCase& c, std::ostream* os) {
    *os << "mask '" << c.mask << "' name '" << c.name << "'";
}

class MatchesFileMaskTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(MatchesFileMaskTest, Decides) {
    const MatchCase& c = GetParam();
    EXPECT_EQ(MatchesFileMask(QString::fromUtf8(c.mask), QString::fromUtf8(c.name)), c.matches);
    EXPECT_NO_THROW(CheckMaskList({QString(), QString::fromUtf8(c.mask)})) << "a mask that matches is valid";
}

INSTANTIATE_TEST_SUITE_P(
    Wildcards, MatchesFileMaskTest,
    ::testing::Values(
        // "*.*" takes every name, with or without an extension, dot-files too.
        MatchCase{"*.*", "a.txt", true}, MatchCase{"*.*", "README", true}, MatchCase{"*.*", ".profile", true},
        // "*." and "*" alone take only names without an extension.
        MatchCase{"*.", "README", true}, MatchCase{"*.", "a.txt", false}, MatchCase{"*", "Makefile", true},
        MatchCase{"*", "a.txt", false}, MatchCase{"*", ".profile", false},
        // Letters compare without regard to case, other characters exactly.
        MatchCase{"*.htm", "INDEX.HTM", true}, MatchCase{"*.htm", "index.html", false},
        MatchCase{"ä*.txt", "Ä.txt", false}, MatchCase{"ä*.txt", "äx.txt", true},
        // "?" takes exactly one character; right after a star it is dropped.
        MatchCase{"a?c.txt", "abc.txt", true}, MatchCase{"a?c.txt", "ac.txt", false}, MatchCase{"?.txt", ".txt", false},
        MatchCase{"*?.txt", ".txt", true}, MatchCase{"*??.txt", "a.txt", true}, MatchCase{"?*.txt", ".txt", false},
        // Stars backtrack until the whole name is consumed.
        MatchCase{"*ab", "aab", true}, MatchCase{"*a*b.txt", "xaxxb.txt", true},
        MatchCase{"*a*b.txt", "xbxa.txt", false}, MatchCase{"a*", "ba", false},
        MatchCase{"*.tar.gz", "x.tar.tar.gz", true},
        // Sets, negated sets and ranges.
        MatchCase{"[a-c]*.txt", "beta.txt", true}, MatchCase{"[a-c]*.txt", "Alpha.TXT", true},
        MatchCase{"[a-c]*.txt", "delta.txt", false}, MatchCase{"[!a]*", "Makefile", true},
        MatchCase{"[!a]*", "about", false}, MatchCase{"[!a]*", "b.txt", false}, MatchCase{"[xyz].txt", "Y.txt", true},
        MatchCase{"[a-].txt", "-.txt", true}, MatchCase{"[c-a].txt", "c.txt", true},
        MatchCase{"[c-a].txt", "b.txt", false}, MatchCase{"[a-c-e].txt", "d.txt", true},
        // A folder part is ignored; a backslash is an ordinary character.
        MatchCase{"docs/*.txt", "x.txt", true}, MatchCase{"*.txt", "sub/x.txt", true},
        MatchCase{"a\\b.txt", "a\\b.txt", true}, MatchCase{"a\\*.txt", "x.txt", false},
        // An empty mask matches nothing.
        MatchCase{"", "a.txt", false}, MatchCase{"", "README", false}));

struct InvalidCase {
    const char* mask;
    const char* message;
};

void PrintTo(const InvalidCase& c, std::ostream* os) {
    *os << "mask '" << c.mask << "'";
}

class InvalidMaskTest : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(InvalidMaskTest, RaisesWithReducedMaskAndPosition) {
    try {
        MatchesFileMask(QString::fromUtf8(GetParam().mask), QStringLiteral("name.txt"));
        FAIL() << "no error for " << GetParam().mask;
    } catch (const VellisyncError& e) {
        EXPECT_EQ(e.message(), QString::fromUtf8(GetParam().message));
    }
    // The check before a run finds it with the same message, behind a valid mask.
    try {
        CheckMaskList({QStringLiteral("*.txt"), QString::fromUtf8(GetParam().mask), QStringLiteral("[other")});
        FAIL() << "no error for " << GetParam().mask;
    } catch (const VellisyncError& e) {
        EXPECT_EQ(e.message(), QString::fromUtf8(GetParam().message));
    }
}

const std::string Stars30 = [] {
    std::string s;
    for (int i = 0; i < 30; ++i)
        s += "*a";
    return s;
}();
const std::string Stars31 = Stars30 + "*.txt";
const std::string Stars31Message = "'" + Stars31 + "' is an invalid mask at (62)";

INSTANTIATE_TEST_SUITE_P(Rules, InvalidMaskTest,
                         ::testing::Values(InvalidCase{"[abc", "'[abc.' is an invalid mask at (6)"},
                                           InvalidCase{"[].txt", "'[].txt' is an invalid mask at (2)"},
                                           InvalidCase{"[!].txt", "'[!].txt' is an invalid mask at (3)"},
                                           InvalidCase{"[-a].txt", "'[-a].txt' is an invalid mask at (2)"},
                                           InvalidCase{"[!-a].txt", "'[!-a].txt' is an invalid mask at (3)"},
                                           InvalidCase{"x/[ab", "'[ab.' is an invalid mask at (5)"},
                                           InvalidCase{Stars31.c_str(), Stars31Message.c_str()}));

TEST(MatchesFileMask, CountsAStarRunWithDroppedQuestionMarksOnce) {
    std::string mask;
    for (int i = 0; i < 30; ++i)
        mask += "*?**a";
    EXPECT_NO_THROW(MatchesFileMask(QString::fromStdString(mask + ".txt"), QStringLiteral("a.txt")));
    EXPECT_TRUE(MatchesFileMask(QString::fromStdString(Stars30 + ".txt"), QString(30, QLatin1Char('a')) + ".txt"));
}

TEST(IsFileIncluded, ExaminesOnlyTheMasksItReaches) {
    const MaskList bad{QStringLiteral("[bad")};
    // The include list stops at the first mask that matches.
    EXPECT_TRUE(IsFileIncluded(QStringLiteral("a.txt"), {QStringLiteral("*.txt"), QStringLiteral("[bad")}, {}));
    EXPECT_THROW(IsFileIncluded(QStringLiteral("a.doc"), {QStringLiteral("*.txt"), QStringLiteral("[bad")}, {}),
                 VellisyncError);
    // Exclude masks are only tried for names an include mask accepted.
    EXPECT_FALSE(IsFileIncluded(QStringLiteral("a.doc"), {QStringLiteral("*.txt")}, bad));
    EXPECT_THROW(IsFileIncluded(QStringLiteral("a.txt"), {QStringLiteral("*.txt")}, bad), VellisyncError);
}

TEST(IsFileIncluded, IncludeAndExcludeLists) {
    const MaskList include = ParseMaskList(QStringLiteral("*.*"));
    const MaskList exclude = ParseMaskList(QStringLiteral("*.bak,*.tmp"));
    EXPECT_TRUE(IsFileIncluded(QStringLiteral("a.txt"), include, exclude));
    EXPECT_TRUE(IsFileIncluded(QStringLiteral("README"), include, exclude));
    EXPECT_FALSE(IsFileIncluded(QStringLiteral("a.BAK"), include, exclude));
    EXPECT_FALSE(IsFileIncluded(QStringLiteral("x.Tmp"), include, exclude));
    // An empty include list takes nothing.
    EXPECT_FALSE(IsFileIncluded(QStringLiteral("a.txt"), {}, {}));
}

struct ParseCase {
    const char* text;
    QStringList masks;
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << "text '" << c.text << "'";
}

class ParseMaskListTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseMaskListTest, Splits) {
    EXPECT_EQ(ParseMaskList(QString::fromUtf8(GetParam().text)), GetParam().masks) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Rules, ParseMaskListTest,
                         ::testing::Values(ParseCase{"", {}}, ParseCase{"  \t ", {}},
                                           ParseCase{"*.htm *.html", {"*.htm", "*.html"}},
                                           ParseCase{"*.htm,*.html", {"*.htm", "*.html"}},
                                           ParseCase{"*.htm,,*.html", {"*.htm", "", "*.html"}},
                                           ParseCase{"\t*.a \r\n , *.b", {"*.a", "*.b"}}, ParseCase{"a,", {"a", ""}},
                                           ParseCase{"a, ", {"a"}}, ParseCase{",a", {"", "a"}},
                                           ParseCase{"\"my file.txt\", b", {"my file.txt", "b"}},
                                           ParseCase{"\"say \"\"hi\"\"\",x", {"say \"hi\"", "x"}},
                                           ParseCase{"\"open end", {"open end"}}, ParseCase{"\"a,b\"c", {"a,b", "c"}}));

} // namespace
