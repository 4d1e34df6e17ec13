#include "ftp/FtpConnection.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "project/VellisyncProject.h"

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

TEST(ErrorText, LastErrorTextReadsTheThreadsCode) {
    inet::setLastError(ENOSPC);
    EXPECT_EQ(LastErrorText(), QStringLiteral("No space left on device"));
    EXPECT_EQ(ftpFailureLine(QStringLiteral("FtpPutFile")),
              QStringLiteral("FtpPutFile fails with message: No space left on device"));
}

} // namespace
