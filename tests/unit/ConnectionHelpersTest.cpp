#include "sync/FtpHelpers.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "sync/ConnectionPool.h"
#include "project/VellisyncProject.h"
#include "sync/SyncRun.h"

namespace {

TEST(IncludeTrailingSlash, AddsOneSlashToNonEmptyPaths) {
    EXPECT_EQ(IncludeTrailingSlash(QStringLiteral("pub")), QStringLiteral("pub/"));
    EXPECT_EQ(IncludeTrailingSlash(QStringLiteral("pub/")), QStringLiteral("pub/"));
    EXPECT_EQ(IncludeTrailingSlash(QStringLiteral("/")), QStringLiteral("/"));
    EXPECT_EQ(IncludeTrailingSlash(QString()), QString());
    EXPECT_EQ(IncludeTrailingSlash(QStringLiteral("\\pub")), QStringLiteral("\\pub/"));
}

struct SplitCase {
    const char* path;
    QStringList levels;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << "path '" << c.path << "'";
}

class SplitRemotePathTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitRemotePathTest, KeepsLeadingSlashWithFirstLevel) {
    QStringList levels{QStringLiteral("left over")};
    TVellisyncProject::SplitRemotePath(QString::fromUtf8(GetParam().path), levels);
    EXPECT_EQ(levels, GetParam().levels) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(Paths, SplitRemotePathTest,
                         ::testing::Values(SplitCase{"/pub/img/", {"/pub", "img"}},
                                           SplitCase{"pub/img/", {"pub", "img"}}, SplitCase{"/", {"/"}},
                                           SplitCase{"a//b/", {"a", "", "b"}}, SplitCase{"", {}},
                                           SplitCase{"/pub/a/b", {"/pub", "a", "b"}},
                                           SplitCase{"a\\b/c", {"a\\b", "c"}}));

TEST(ErrorText, FallsBackFromServiceToSystemToUnknown) {
    EXPECT_EQ(ErrorText(12345), QStringLiteral("Unknown error 12345 (00003039)"));
    EXPECT_EQ(ErrorText(-1), QStringLiteral("Unknown error -1 (FFFFFFFF)"));
    EXPECT_EQ(ErrorText(ENOENT), QStringLiteral("No such file or directory"));
    EXPECT_EQ(ErrorText(EACCES), QStringLiteral("Permission denied"));
}

TEST(ErrorText, FailureLineDescribesTheFailure) {
    EXPECT_EQ(ftpFailureLine(inet::Failure{ENOSPC, {}}, QStringLiteral("FtpPutFile")),
              QStringLiteral("FtpPutFile fails with message: No space left on device"));
    // A refusal is told by the server's own reply, without its line break.
    EXPECT_EQ(ftpFailureLine(inet::Failure{inet::ErrorExtendedError, QStringLiteral("550 Permission denied.\r\n")},
                             QStringLiteral("FtpPutFile")),
              QStringLiteral("FtpPutFile fails with message: 550 Permission denied."));
}

struct PortCase {
    const char* label;
    qint32 port;
    bool useProxy;
    qint32 proxyPort;
    const char* line;
};

void PrintTo(const PortCase& c, std::ostream* os) {
    *os << c.label;
}

class PortRangeTest : public ::testing::TestWithParam<PortCase> {};

// The refusal comes before anything is opened, so no server is needed; the
// loopback host keeps a wrapped port on this machine should the check fail.
TEST_P(PortRangeTest, ConnectRefusesAPortOutsideItsRangeWithOneLine) {
    TVellisyncProject project;
    project.SetDefaults();
    project.Server = QStringLiteral("127.0.0.1");
    project.Port = GetParam().port;
    project.UseProxy = GetParam().useProxy;
    project.ProxyServer = QStringLiteral("127.0.0.1");
    project.ProxyPort = GetParam().proxyPort;
    QStringList log;
    project.OnLog = [&](TVellisyncProject&, const QString& line) { log.append(line); };
    EXPECT_FALSE(project.Connect());
    EXPECT_EQ(log, QStringList{QString::fromLatin1(GetParam().line)});
    EXPECT_FALSE(project.InternetHandle());
    EXPECT_FALSE(project.ConnectHandle());
}

INSTANTIATE_TEST_SUITE_P(
    Ports, PortRangeTest,
    ::testing::Values(PortCase{"past 16 bits", 89536, false, 21, "Port 89536 is outside the range 1 to 65535"},
                      PortCase{"one past the top", 65536, false, 21, "Port 65536 is outside the range 1 to 65535"},
                      PortCase{"zero", 0, false, 21, "Port 0 is outside the range 1 to 65535"},
                      PortCase{"negative", -21, true, 1080, "Port -21 is outside the range 1 to 65535"},
                      PortCase{"proxy past 16 bits", 21, true, 70000,
                               "Proxy port 70000 is outside the range 0 to 65535"},
                      PortCase{"negative proxy", 21, true, -1, "Proxy port -1 is outside the range 0 to 65535"}));

// The replies real servers give a logon beyond their limit, and ones that
// refuse the user instead.
TEST(ConnectionCap, IsToldFromTheReplyOfRealServers) {
    for (const char* reply : {"421 There are too many connections from your internet address.",
                              "530 Sorry, the maximum number of clients (2) from your host are already connected.",
                              "530 Sorry, the maximum number of allowed clients (10) are already connected.",
                              "421 Too many connections (2) from this IP"})
        EXPECT_TRUE(engine::saysTooManyConnections(QString::fromUtf8(reply))) << reply;
    for (const char* reply : {"530 Login incorrect.", "530 Authentication failed."})
        EXPECT_FALSE(engine::saysTooManyConnections(QString::fromUtf8(reply))) << reply;
}

} // namespace
