#include "inet/ReplyParser.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

namespace {

// A reply as "code|text", text with its CR LF line ends, for readable failures.
std::string describe(const inet::FtpReply& reply) {
    return std::to_string(reply.code) + "|" + reply.text.toStdString();
}

std::vector<std::string> assemble(const std::vector<const char*>& lines, bool* stillOpen = nullptr) {
    inet::ReplyAssembler assembler;
    std::vector<std::string> replies;
    for (const char* line : lines) {
        if (const std::optional<inet::FtpReply> reply = assembler.addLine(QString::fromUtf8(line)))
            replies.push_back(describe(*reply));
    }
    if (stillOpen)
        *stillOpen = assembler.inProgress();
    return replies;
}

struct ReplyCase {
    const char* what;
    std::vector<const char*> lines;
    std::vector<std::string> expected;
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
    *os << c.what;
}

class ReplyAssembly : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyAssembly, JoinsLinesIntoReplies) {
    bool stillOpen = true;
    EXPECT_EQ(assemble(GetParam().lines, &stillOpen), GetParam().expected) << GetParam().what;
    EXPECT_FALSE(stillOpen) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Servers, ReplyAssembly,
    ::testing::Values(
        ReplyCase{"single lines",
                  {"220 pyftpdlib 1.5.7 ready.", "331 Username ok, send password.\r"},
                  {"220|220 pyftpdlib 1.5.7 ready.\r\n", "331|331 Username ok, send password.\r\n"}},
        // Pure-FTPd's multi-line 226 after LIST.
        ReplyCase{"pure-ftpd 226",
                  {"226-Options: -a -l ", "226 4 matches total"},
                  {"226|226-Options: -a -l \r\n226 4 matches total\r\n"}},
        // Pure-FTPd's five-line banner.
        ReplyCase{"pure-ftpd banner",
                  {"220---------- Welcome to Pure-FTPd [privsep] ----------", "220-You are user number 1 of 8 allowed.",
                   "220-Local time is now 13:34. Server port: 21.", "220-This is a private system - No anonymous login",
                   "220 You will be disconnected after 15 minutes of inactivity."},
                  {"220|220---------- Welcome to Pure-FTPd [privsep] ----------\r\n"
                   "220-You are user number 1 of 8 allowed.\r\n220-Local time is now 13:34. Server port: 21.\r\n"
                   "220-This is a private system - No anonymous login\r\n"
                   "220 You will be disconnected after 15 minutes of inactivity.\r\n"}},
        // FEAT: the lines inside start with a blank (RFC 2389).
        ReplyCase{"feat",
                  {"211-Features supported:", " EPRT", " MLST type*;perm*;size*;modify*;", " UTF8", "211 End FEAT."},
                  {"211|211-Features supported:\r\n EPRT\r\n MLST type*;perm*;size*;modify*;\r\n UTF8\r\n"
                   "211 End FEAT.\r\n"}},
        // Inside a reply, lines may start with digits or other codes, even the
        // same code followed by '-', without ending it.
        ReplyCase{"codes inside",
                  {"226-Transfer done", "250 is not our code", "226-still open", "2261 digits", "226x", "123 numbers",
                   "226 Closing"},
                  {"226|226-Transfer done\r\n250 is not our code\r\n226-still open\r\n2261 digits\r\n226x\r\n"
                   "123 numbers\r\n226 Closing\r\n"}},
        ReplyCase{"bare code closes", {"226-Done", "226"}, {"226|226-Done\r\n226\r\n"}},
        ReplyCase{"bare code alone", {"200"}, {"200|200\r\n"}},
        // Stray lines between replies carry no code: they are skipped.
        ReplyCase{"noise outside",
                  {"", "hello", "12", "1234 not a reply", "099 no class", "750 no class", "230 Login successful."},
                  {"230|230 Login successful.\r\n"}},
        ReplyCase{"two replies in a row",
                  {"150-Here comes", "150 the listing", "226 Done"},
                  {"150|150-Here comes\r\n150 the listing\r\n", "226|226 Done\r\n"}},
        // RFC 2228 protected replies are replies too, not noise to wait past.
        ReplyCase{"protected reply", {"631 base64data"}, {"631|631 base64data\r\n"}}),
    [](const ::testing::TestParamInfo<ReplyCase>& info) {
        std::string name = info.param.what;
        for (char& c : name) {
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        }
        return name;
    });

TEST(ReplyAssembler, StaysOpenUntilClosedAndResetDropsThePart) {
    inet::ReplyAssembler assembler;
    EXPECT_FALSE(assembler.addLine(QStringLiteral("230-Welcome")));
    EXPECT_TRUE(assembler.inProgress());
    assembler.reset();
    EXPECT_FALSE(assembler.inProgress());
    const std::optional<inet::FtpReply> reply = assembler.addLine(QStringLiteral("230 Login successful."));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->text, QStringLiteral("230 Login successful.\r\n"));
    EXPECT_TRUE(reply->isCompletion());
}

TEST(ReplyAssembler, BoundsTheTextOfAnEndlessReplyButKeepsItsLastLine) {
    inet::ReplyAssembler assembler;
    assembler.addLine(QStringLiteral("211-start"));
    const QString filler(1000, QLatin1Char('x'));
    for (int i = 0; i < 10'000; ++i)
        ASSERT_FALSE(assembler.addLine(filler));
    const std::optional<inet::FtpReply> reply = assembler.addLine(QStringLiteral("211 End"));
    ASSERT_TRUE(reply);
    EXPECT_LT(reply->text.size(), 200 * 1024);
    EXPECT_TRUE(reply->text.endsWith(QStringLiteral("\r\n211 End\r\n")));
    EXPECT_TRUE(reply->overflowed) << "a listing in it is not the whole folder";
    EXPECT_FALSE(assembler.addLine(QStringLiteral("211-next")));
    EXPECT_FALSE(assembler.addLine(QStringLiteral("211 End"))->overflowed) << "the next reply starts afresh";
}

} // namespace
