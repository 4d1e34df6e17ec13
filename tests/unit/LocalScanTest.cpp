#include "project/VellisyncProject.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "model/Errors.h"
#include "support/TestFiles.h"

namespace {

class LocalScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_project.LocalFolder = m_dir.path();
        m_project.IncludeMasks = QStringLiteral("*.*");
        m_project.SubFilders = true;
        m_project.OnLog = [this](TVellisyncProject&, const QString& line) { m_log.append(line); };
    }

    QString path(const QString& relative) const { return m_dir.path() + QLatin1Char('/') + relative; }

    void makeFile(const QString& relative, const QByteArray& content = "x") { writeFile(path(relative), content); }

    QStringList names() { return sortedNames(m_project.LocalFiles()); }

    QTemporaryDir m_dir;
    TVellisyncProject m_project;
    QStringList m_log;
};

TEST_F(LocalScanTest, CollectsTreeWithSlashJoinedNamesSkippingTransferLeftovers) {
    makeFile(QStringLiteral("a.txt"), "12345");
    makeFile(QStringLiteral(".htaccess"));
    makeFile(QStringLiteral("x/b.txt"));
    makeFile(QStringLiteral("x/deep/c"));
    makeFile(QStringLiteral("back\\slash.txt"));
    makeFile(QStringLiteral(".a.txt.vstmp")); // an interrupted download
    QDir().mkpath(path(QStringLiteral("empty")));
    m_project.CollectLocalFiles();
    EXPECT_EQ(names(), (QStringList{".htaccess", "a.txt", "back\\slash.txt", "x/b.txt", "x/deep/c"}));
    EXPECT_EQ(m_log, (QStringList{"Collecting local files...", "Done!"}));
    EXPECT_TRUE(m_project.LastRunOutcome().localScanComplete);
    const int a = m_project.LocalFiles().IndexOf(QStringLiteral("a.txt"));
    EXPECT_EQ(m_project.LocalFiles().Objects(a)->Size, 5);
}

TEST_F(LocalScanTest, HonoursSubfoldersAndMasks) {
    makeFile(QStringLiteral("a.txt"));
    makeFile(QStringLiteral("a.bak"));
    makeFile(QStringLiteral("Makefile"));
    makeFile(QStringLiteral("x/b.txt"));
    m_project.SubFilders = false;
    m_project.ExcludeMasks = QStringLiteral("*.bak");
    m_project.CollectLocalFiles();
    EXPECT_EQ(names(), (QStringList{"Makefile", "a.txt"}));

    m_project.SubFilders = true;
    m_project.IncludeMasks = QStringLiteral("*");
    m_project.CollectLocalFiles();
    EXPECT_EQ(names(), (QStringList{"Makefile"}));

    m_project.IncludeMasks.clear(); // folders are walked, nothing is taken
    m_project.CollectLocalFiles();
    EXPECT_EQ(names(), QStringList());
}

TEST_F(LocalScanTest, KeepsFileTimesAtFullPrecisionInAnyYear) {
    struct Case {
        const char* name;
        NaiveDateTime time;
    };
    const Case cases[] = {{"now.txt", NaiveDateTime::fromParts(2026, 12, 7, 10, 0, 59, 123)},
                          {"old.txt", NaiveDateTime::fromParts(1975, 3, 4, 5, 6, 7, 8)},
                          {"far.txt", NaiveDateTime::fromParts(2150, 1, 2, 3, 4, 5, 999)}};
    for (const Case& c : cases) {
        makeFile(QString::fromUtf8(c.name));
        QFile file(path(QString::fromUtf8(c.name)));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        ASSERT_TRUE(file.setFileTime(c.time.toLocal(), QFileDevice::FileModificationTime));
    }
    m_project.CollectLocalFiles();
    for (const Case& c : cases) {
        const int index = m_project.LocalFiles().IndexOf(QString::fromUtf8(c.name));
        ASSERT_GE(index, 0) << c.name;
        EXPECT_EQ(m_project.LocalFiles().GetDateTime(index).toString(), c.time.toString()) << c.name;
    }
}

TEST_F(LocalScanTest, FollowsFolderLinksOnceAndNeverLoops) {
    makeFile(QStringLiteral("real/f.txt"));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("real")), path(QStringLiteral("linked"))));
    ASSERT_TRUE(QFile::link(m_dir.path(), path(QStringLiteral("real/up")))); // a loop back to the root
    ASSERT_TRUE(QFile::link(path(QStringLiteral("gone")), path(QStringLiteral("dangling"))));
    m_project.CollectLocalFiles();
    const QStringList found = names();
    // The folder is listed once, under whichever of its two names came first.
    ASSERT_EQ(found.size(), 1) << found.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(found.first() == QLatin1String("real/f.txt") || found.first() == QLatin1String("linked/f.txt"));
}

TEST_F(LocalScanTest, MissingRootGivesEmptyListDoneAndIncompleteScan) {
    m_project.LocalFolder = path(QStringLiteral("missing"));
    m_project.LocalFiles().AddFile(relativeName(QStringLiteral("stale")), 1, {});
    m_project.CollectLocalFiles();
    EXPECT_EQ(m_project.LocalFiles().Count(), 0);
    EXPECT_EQ(m_log, (QStringList{"Collecting local files...", "Done!"}));
    EXPECT_FALSE(m_project.LastRunOutcome().localScanComplete);
}

// A root that is there but cannot be listed is not one that a first download
// will create: it gets one line, and the scan never reached its root.
TEST_F(LocalScanTest, UnreadableRootGetsOneLine) {
    ASSERT_TRUE(QFile::link(path(QStringLiteral("loop")), path(QStringLiteral("loop"))));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("pong")), path(QStringLiteral("ping"))));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("ping")), path(QStringLiteral("pong"))));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("gone")), path(QStringLiteral("dangling"))));
    makeFile(QStringLiteral("plain"));
    const struct {
        const char* root;
        const char* reason;
    } cases[] = {
        {"loop", "Too many levels of symbolic links"},
        {"ping", "Too many levels of symbolic links"},
        {"loop/inner", "Too many levels of symbolic links"},
        {"dangling", "No such file or directory"},
        {"plain", "Not a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.root);
        m_log.clear();
        // A project of its own for each root, so each outcome starts afresh.
        TVellisyncProject project;
        project.IncludeMasks = m_project.IncludeMasks;
        project.OnLog = m_project.OnLog;
        project.LocalFolder = path(QString::fromLatin1(c.root));
        project.CollectLocalFiles();
        EXPECT_EQ(m_log, (QStringList{"Collecting local files...",
                                      QStringLiteral("ReadLocalFolder('%1/') fails with message: %2")
                                          .arg(project.LocalFolder, QString::fromLatin1(c.reason)),
                                      "Done!"}));
        EXPECT_FALSE(project.LastRunOutcome().localRootReached);
        EXPECT_EQ(project.LastRunOutcome().problems, 1);
    }
}

// Permissions do not bind the superuser, as which CI runs: the scan then runs
// in a child process that has given up its privileges.
TEST_F(LocalScanTest, UnreadableSubfolderIsLoggedAndMarksScanIncomplete) {
    makeFile(QStringLiteral("a.txt"));
    makeFile(QStringLiteral("locked/b.txt"));
    ASSERT_TRUE(QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                        QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                        QFileDevice::ExeOther));
    ASSERT_TRUE(QFile::setPermissions(path(QStringLiteral("locked")), QFileDevice::Permissions()));
    const auto scanAsOrdinaryUser = [this] {
        constexpr uid_t nobody = 65534;
        if (::geteuid() == 0 && (::setgid(nobody) != 0 || ::setuid(nobody) != 0))
            std::_Exit(3);
        m_project.CollectLocalFiles();
        const bool logged = m_log.size() == 3 && m_log.at(1).startsWith("ReadLocalFolder('" + path("locked")) &&
                            m_log.at(1).endsWith(QLatin1String("') fails with message: Permission denied"));
        const bool ok = logged && names() == QStringList{"a.txt"} && !m_project.LastRunOutcome().localScanComplete &&
                        m_project.LastRunOutcome().problems == 1;
        std::fprintf(stderr, "%s\n", qPrintable(m_log.join(QLatin1Char('\n'))));
        std::_Exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(scanAsOrdinaryUser(), ::testing::ExitedWithCode(0), "");
    QFile::setPermissions(path(QStringLiteral("locked")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_F(LocalScanTest, EmptyLocalFolderScansTheWorkingFolder) {
    makeFile(QStringLiteral("here.txt"));
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
    m_project.LocalFolder.clear();
    m_project.CollectLocalFiles();
    QDir::setCurrent(previous);
    EXPECT_EQ(names(), QStringList{"here.txt"});
}

TEST_F(LocalScanTest, StopRequestedBeforeTheScanLogsNothing) {
    makeFile(QStringLiteral("a.txt"));
    m_project.RequestStop();
    m_project.CollectLocalFiles();
    EXPECT_TRUE(m_log.isEmpty());
    EXPECT_EQ(m_project.LocalFiles().Count(), 0);
}

TEST_F(LocalScanTest, StopDuringTheScanKeepsWhatWasFoundAndMarksItIncomplete) {
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        makeFile(QString::fromUtf8(name));
    int entries = 0;
    m_project.OnProgress = [&](TVellisyncProject& project) {
        if (++entries == 2) // the first entry's progress call
            project.RequestStop();
    };
    m_project.CollectLocalFiles();
    EXPECT_EQ(m_project.LocalFiles().Count(), 0);
    EXPECT_EQ(m_log, (QStringList{"Collecting local files...", "Done!"}));
    EXPECT_FALSE(m_project.LastRunOutcome().localScanComplete);
}

TEST_F(LocalScanTest, InvalidMaskEndsTheScanWithoutDone) {
    makeFile(QStringLiteral("a.txt"));
    m_project.IncludeMasks = QStringLiteral("[a");
    EXPECT_THROW(m_project.CollectLocalFiles(), VellisyncError);
    EXPECT_EQ(m_log, QStringList{"Collecting local files..."});
    // The next scan parses its masks afresh.
    m_project.IncludeMasks = QStringLiteral("*.txt");
    m_project.CollectLocalFiles();
    EXPECT_EQ(names(), QStringList{"a.txt"});
}

} // namespace
