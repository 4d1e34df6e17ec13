#include "sync/RunLock.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>

#include "project/VellisyncProject.h"
#include "support/TestFiles.h"

namespace {

using engine::RunLock;
using engine::RunTarget;

// Two spellings of one pair share a lock; a pair that differs in anything a
// run writes through does not, so unrelated projects never wait for each other.
TEST(RunLockTest, SpellingsOfOnePairShareTheLockAndOtherPairsDoNot) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString local = dir.filePath(QStringLiteral("local"));
    ASSERT_TRUE(QDir().mkpath(local));
    ASSERT_TRUE(QFile::link(local, dir.filePath(QStringLiteral("link"))));
    const RunTarget base{local, QStringLiteral("ftp.example.com"), 21, QStringLiteral("deploy"),
                         QStringLiteral("/htdocs")};
    const RunLock held(base);
    ASSERT_EQ(held.state(), RunLock::State::Held) << held.problem().toStdString();

    struct Case {
        const char* name;
        RunTarget target;
        RunLock::State expected;
    };
    const RunLock::State busy = RunLock::State::Busy, apart = RunLock::State::Held;
    const Case cases[] = {
        {"the same pair", base, busy},
        {"local through a link",
         {dir.filePath(QStringLiteral("link")), "ftp.example.com", 21, "deploy", "/htdocs"},
         busy},
        {"local with a trailing slash", {local + QLatin1Char('/'), "ftp.example.com", 21, "deploy", "/htdocs"}, busy},
        {"host in capitals, port 0", {local, "FTP.Example.com", 0, "deploy", "/htdocs"}, busy},
        {"remote with backslashes", {local, "ftp.example.com", 21, "deploy", "\\htdocs\\"}, busy},
        {"another local folder", {dir.path(), "ftp.example.com", 21, "deploy", "/htdocs"}, apart},
        {"another port", {local, "ftp.example.com", 2121, "deploy", "/htdocs"}, apart},
        {"another user", {local, "ftp.example.com", 21, "Deploy", "/htdocs"}, apart},
        {"another remote folder", {local, "ftp.example.com", 21, "deploy", "/htdocs/test"}, apart},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A second lock in the same process is kept apart too (two windows).
        EXPECT_EQ(RunLock(c.target).state(), c.expected);
    }
}

// Where the lock cannot be made the run says so in one line and starts nothing.
TEST(RunLockTest, RunWithoutALockFolderSaysSoAndStartsNothing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString notAFolder = dir.filePath(QStringLiteral("state"));
    writeFile(notAFolder, "a file where the state folder would be");
    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", QFile::encodeName(notAFolder));
    const auto restore = qScopeGuard([&] { qputenv("XDG_STATE_HOME", saved); });

    TVellisyncProject project;
    project.Server = QStringLiteral("127.0.0.1");
    project.Port = 1;
    project.LocalFolder = dir.path();
    project.RemoteFolder = QStringLiteral("/");
    QStringList log;
    project.OnLog = [&log](TVellisyncProject&, const QString& line) { log.append(line); };
    project.Run();
    EXPECT_EQ(log, QStringList{QStringLiteral("The run has not started: no lock against a second run of this project "
                                              "could be made; the folder \"%1/vellisync\" cannot be created.")
                                   .arg(notAFolder)});
    EXPECT_FALSE(project.LastRunOutcome().connected);
    EXPECT_EQ(project.LastRunOutcome().notStarted, log.value(0));
}

} // namespace
