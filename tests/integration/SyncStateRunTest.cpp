// Runs that remember the last run that left each file in step, end to end
// against the test server and vsftpd.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "integration/SyncRunFixture.h"
#include "support/QtPrinters.h"
#include "support/TlsFixtures.h"
#include "sync/ProjectState.h"

namespace {

// The server behind a case: the test server listing with MLSD or LIST, or vsftpd.
enum class Server { Mlsd, List, Vsftpd };

class RememberingRunTest : public SyncRunTest {
protected:
    void SetUp() override {
        SyncRunTest::SetUp();
        m_project.SyncMode = setting::SyncMode::Bidirectional;
        m_project.SubFilders = false;
    }

    void startOn(Server server) {
        if (server != Server::Vsftpd) {
            m_options.mlsd = server == Server::Mlsd;
            startServer();
            return;
        }
        if (!VsftpdProcess::available())
            GTEST_SKIP() << "vsftpd must be installed and the tests run as root";
        m_vsftpd = std::make_unique<VsftpdProcess>();
        ASSERT_TRUE(m_vsftpd->start()) << m_vsftpd->errorText().toStdString();
        m_project.Server = QStringLiteral("127.0.0.1");
        m_project.Port = m_vsftpd->port();
        m_project.UserName = QStringLiteral("anonymous");
        m_project.Password.clear();
        m_project.RemoteFolder = QStringLiteral("/pub");
    }

    // The test server again on the same port (the project's state knows the
    // server by it), with the options as `change` leaves them.
    void restartServer(const std::function<void(FtpTestServerOptions&)>& change) {
        const quint16 port = m_server->port();
        m_server.reset();
        change(m_options);
        m_options.extraArguments << QStringLiteral("--port") << QString::number(port);
        startServer();
    }

    QString served(const QString& relative) const {
        return m_vsftpd ? m_vsftpd->root() + QStringLiteral("/pub/") + relative : remote(relative);
    }
    QString servedRoot() const { return m_vsftpd ? m_vsftpd->root() + QStringLiteral("/pub") : m_remoteDir.path(); }

    const RunOutcome& run() {
        m_log.clear();
        m_project.Run();
        return m_project.LastRunOutcome();
    }
    QString logText() const { return m_log.join(QLatin1Char('\n')); }

    std::unique_ptr<VsftpdProcess> m_vsftpd;
};

enum class Change { Keep, Edit, Delete };

struct MatrixRow {
    const char* name;
    Change local;
    Change remote;
    const char* expected; // the content under the name on both sides; null: gone from both
};

class ChangeMatrixTest : public RememberingRunTest, public ::testing::WithParamInterface<Server> {};

// One first run puts every file in step; each row then changes its file on
// either side, and one run must leave both sides as the row says.
TEST_P(ChangeMatrixTest, EachSideIsComparedWithItsOwnRecord) {
    // clang-format off
    const std::vector<MatrixRow> rows = {
        {"unchanged",            Change::Keep,   Change::Keep,   "base"},
        {"editedLocally",        Change::Edit,   Change::Keep,   "local edit"},
        {"editedOnServer",       Change::Keep,   Change::Edit,   "server edit!"},
        {"deletedLocally",       Change::Delete, Change::Keep,   nullptr},
        {"deletedOnServer",      Change::Keep,   Change::Delete, nullptr},
        {"deletedOnBoth",        Change::Delete, Change::Delete, nullptr},
        {"editedDeletedServer",  Change::Edit,   Change::Delete, "local edit"},
        {"deletedEditedServer",  Change::Delete, Change::Edit,   "server edit!"},
        {"editedOnBoth",         Change::Edit,   Change::Edit,   "server edit!"}, // the newer keeps the name
    };
    // clang-format on
    ASSERT_NO_FATAL_FAILURE(startOn(GetParam()));
    if (IsSkipped())
        return;
    for (const MatrixRow& row : rows)
        writeFile(local(QString::fromLatin1(row.name) + ".txt"), "base", at(1, 9, 0));
    ASSERT_EQ(run().uploaded, int(rows.size())) << logText().toStdString();

    for (const MatrixRow& row : rows) {
        const QString name = QString::fromLatin1(row.name) + ".txt";
        if (row.local == Change::Edit)
            writeFile(local(name), "local edit", at(1, 10, 0));
        if (row.remote == Change::Edit)
            writeFile(served(name), "server edit!", at(1, 11, 0));
        if (row.local == Change::Delete) {
            ASSERT_TRUE(QFile::remove(local(name)));
        }
        if (row.remote == Change::Delete) {
            ASSERT_TRUE(QFile::remove(served(name)));
        }
    }
    writeFile(local("newLocally.txt"), "new", at(1, 9, 0));
    writeFile(served("newOnServer.txt"), "new", at(1, 9, 0));
    const RunOutcome& outcome = run();
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(outcome.failedActions + outcome.problems, 0) << logText().toStdString();
    EXPECT_EQ(outcome.conflicts, 1);
    EXPECT_EQ(outcome.deleted, 2) << logText().toStdString();
    EXPECT_TRUE(m_log.contains(QStringLiteral("Remote file %1/deletedLocally.txt has been deleted")
                                   .arg(m_vsftpd ? QStringLiteral("/pub") : QString())))
        << logText().toStdString();
    EXPECT_TRUE(m_log.contains(QStringLiteral("Local file %1 has been deleted").arg(local("deletedOnServer.txt"))));
    // A file brought back over a deletion says why.
    for (const char* line : {"editedDeletedServer.txt has been uploaded (deleted on the server, changed locally since "
                             "the last run)",
                             "deletedEditedServer.txt has been downloaded (deleted locally, changed on the server "
                             "since the last run)"})
        EXPECT_TRUE(logText().contains(QLatin1String(line))) << line << "\n" << logText().toStdString();

    std::set<QString> expected{"newLocally.txt", "newOnServer.txt"};
    for (const MatrixRow& row : rows) {
        const QString name = QString::fromLatin1(row.name) + ".txt";
        SCOPED_TRACE(row.name);
        if (!row.expected)
            continue;
        expected.insert(name);
        EXPECT_EQ(readFile(local(name)), row.expected);
        EXPECT_EQ(readFile(served(name)), row.expected);
    }
    EXPECT_EQ(tree(servedRoot()), expected);
    // The older side of the conflict is kept beside it, in the local folder only.
    std::set<QString> copies;
    const QRegularExpression copyName(QStringLiteral("^editedOnBoth\\.conflict-\\d{8}-\\d{6}\\.txt$"));
    for (const QString& file : tree(m_localDir.path())) {
        if (copyName.match(file).hasMatch())
            copies.insert(file);
    }
    ASSERT_EQ(copies.size(), 1u) << logText().toStdString();
    EXPECT_EQ(readFile(local(*copies.begin())), "local edit");
    expected.insert(*copies.begin());
    EXPECT_EQ(tree(m_localDir.path()), expected);

    // In step now: the next run has nothing to do, and the copy stays local.
    const RunOutcome& again = run();
    EXPECT_EQ(again.uploaded + again.downloaded + again.deleted + again.conflicts, 0) << logText().toStdString();
    EXPECT_EQ(tree(servedRoot()).count(*copies.begin()), 0u);
    // A file gone from both sides is no longer recorded: a copy of it put
    // back later is a new file, not one deleted on the other side.
    EXPECT_EQ(engine::describeState(m_project.Settings()).files, int(tree(servedRoot()).size()));
}

INSTANTIATE_TEST_SUITE_P(Servers, ChangeMatrixTest, ::testing::Values(Server::Mlsd, Server::List, Server::Vsftpd),
                         [](const auto& info) {
                             switch (info.param) {
                             case Server::Mlsd:
                                 return "Mlsd";
                             case Server::List:
                                 return "List";
                             case Server::Vsftpd:
                                 return "Vsftpd";
                             }
                             return "";
                         });

struct ConflictCase {
    const char* label;
    std::optional<ConflictRule> onConflict; // none: the project's setting
    setting::Conflicts setting;
    const char* local; // contents afterwards
    const char* remote;
    const char* copy; // the local copy kept beside it, if any
    int problems;
};

class ConflictRuleTest : public RememberingRunTest, public ::testing::WithParamInterface<ConflictCase> {};

// The local edit is the newer one here.
TEST_P(ConflictRuleTest, NoRuleLosesAVersionItWasNotAskedTo) {
    const ConflictCase& c = GetParam();
    startServer();
    writeFile(local("page.html"), "base", at(1, 9, 0));
    ASSERT_EQ(run().uploaded, 1);
    writeFile(local("page.html"), "local", at(1, 12, 0));
    writeFile(remote("page.html"), "remote!", at(1, 11, 0));
    m_project.OnConflict = c.onConflict;
    m_project.Conflicts = c.setting;

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const RunOutcome& outcome = run();
        EXPECT_EQ(outcome.conflicts, round == 0 || c.problems > 0 ? 1 : 0) << logText().toStdString();
        EXPECT_EQ(outcome.problems, c.problems) << logText().toStdString();
        EXPECT_EQ(outcome.failedActions, 0);
        EXPECT_EQ(readFile(local("page.html")), c.local);
        EXPECT_EQ(readFile(remote("page.html")), c.remote);
        std::set<QString> expected{"page.html"};
        const QString copy = QStringLiteral("page.conflict-%1.html")
                                 .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
        for (const QString& file : tree(m_localDir.path())) {
            if (file != QLatin1String("page.html")) {
                EXPECT_TRUE(c.copy) << file.toStdString();
                EXPECT_TRUE(file.startsWith(QLatin1String("page.conflict-")) && file.endsWith(QLatin1String(".html")))
                    << file.toStdString() << " against " << copy.toStdString();
                EXPECT_EQ(readFile(local(file)), c.copy ? c.copy : "");
            }
        }
        EXPECT_EQ(tree(m_remoteDir.path()), (std::set<QString>{"page.html"}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ConflictRuleTest,
    ::testing::Values(
        ConflictCase{"KeepBoth", std::nullopt, setting::Conflicts::KeepBoth, "local", "local", "remote!", 0},
        ConflictCase{"SkipBySetting", std::nullopt, setting::Conflicts::Skip, "local", "remote!", nullptr, 1},
        ConflictCase{"Local", ConflictRule::KeepLocal, setting::Conflicts::Skip, "local", "local", nullptr, 0},
        ConflictCase{"Remote", ConflictRule::KeepRemote, setting::Conflicts::KeepBoth, "remote!", "remote!", nullptr,
                     0}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(RememberingRunTest, AnEditWithinTheServersMinuteIsSent) {
    m_project.SyncMode = setting::SyncMode::LocalToRemote;
    startServer();
    writeFile(local("index.html"), "first", at(1, 9, 0, 10));
    ASSERT_EQ(run().uploaded, 1);
    writeFile(local("index.html"), "second version", at(1, 9, 0, 40));
    EXPECT_EQ(run().uploaded, 1) << logText().toStdString();
    EXPECT_EQ(readFile(remote("index.html")), "second version");
    EXPECT_EQ(run().uploaded, 0) << logText().toStdString();
}

// The server keeps the upload's own time; the record keeps it too, so the
// file is not taken for a newer one on the server.
TEST_F(RememberingRunTest, AServerThatCannotSetTimesGetsNoPingPong) {
    m_options.extraArguments << QStringLiteral("--no-mfmt");
    startServer();
    writeFile(local("report.txt"), "report", at(1, 9, 0));
    ASSERT_EQ(run().uploaded, 1);
    for (int round = 0; round < 2; ++round) {
        const RunOutcome& again = run();
        EXPECT_EQ(again.uploaded + again.downloaded + again.deleted, 0) << logText().toStdString();
    }
    EXPECT_EQ(readFile(local("report.txt")), "report");
}

// The guards, on the test server and on vsftpd.
class GuardTest : public RememberingRunTest, public ::testing::WithParamInterface<Server> {};

TEST_P(GuardTest, DeletingMostOfTheFilesNeedsLeave) {
    ASSERT_NO_FATAL_FAILURE(startOn(GetParam()));
    if (IsSkipped())
        return;
    for (int i = 0; i < 12; ++i)
        writeFile(local(QStringLiteral("f%1.txt").arg(i)), "x", at(1, 9, 0));
    ASSERT_EQ(run().uploaded, 12);
    for (int i = 0; i < 7; ++i)
        ASSERT_TRUE(QFile::remove(local(QStringLiteral("f%1.txt").arg(i))));
    writeFile(local("new.txt"), "new", at(1, 9, 0));

    const RunOutcome& withheld = run();
    EXPECT_EQ(withheld.deletionsWithheld, 7);
    EXPECT_EQ(withheld.uploaded + withheld.deleted, 0);
    EXPECT_TRUE(logText().contains(QStringLiteral("allow it with --max-delete 7"))) << logText().toStdString();
    EXPECT_EQ(tree(servedRoot()).size(), 12u);

    m_project.MaxDelete = 7;
    const RunOutcome& allowed = run();
    EXPECT_EQ(allowed.deleted, 7) << logText().toStdString();
    EXPECT_EQ(allowed.uploaded, 1);
    EXPECT_EQ(tree(servedRoot()), tree(m_localDir.path()));
}

// Files outside the masks are invisible: neither deleted nor forgotten.
TEST_P(GuardTest, NarrowerMasksKeepTheRecordsOfWhatTheyHide) {
    ASSERT_NO_FATAL_FAILURE(startOn(GetParam()));
    if (IsSkipped())
        return;
    writeFile(local("a.txt"), "a", at(1, 9, 0));
    writeFile(local("b.log"), "b", at(1, 9, 0));
    ASSERT_EQ(run().uploaded, 2);
    m_project.IncludeMasks = QStringLiteral("*.txt");
    ASSERT_TRUE(QFile::remove(local("b.log")));
    EXPECT_EQ(run().deleted, 0);
    EXPECT_EQ(tree(servedRoot()), (std::set<QString>{"a.txt", "b.log"}));
    // Seen again, b.log is known as deleted here, not as new on the server.
    m_project.IncludeMasks = QStringLiteral("*.*");
    const RunOutcome& widened = run();
    EXPECT_EQ(widened.deleted, 1) << logText().toStdString();
    EXPECT_EQ(widened.downloaded, 0);
    EXPECT_EQ(tree(servedRoot()), (std::set<QString>{"a.txt"}));
}

// A remote folder that can no longer be listed looks empty: none of the
// local files in it is taken for deleted on the server.
TEST_P(GuardTest, AFolderThatCannotBeListedCarriesNoDeletions) {
    m_project.SubFilders = true;
    ASSERT_NO_FATAL_FAILURE(startOn(GetParam()));
    if (IsSkipped())
        return;
    writeFile(local("sub/a.txt"), "a", at(1, 9, 0));
    writeFile(local("b.txt"), "b", at(1, 9, 0));
    ASSERT_EQ(run().uploaded, 2);
    if (m_vsftpd) {
        ASSERT_EQ(::chmod(QFile::encodeName(served("sub")).constData(), 0111), 0);
    } else {
        restartServer([](FtpTestServerOptions& options) { options.unlistableDirs << QStringLiteral("sub"); });
    }
    const RunOutcome& outcome = run();
    EXPECT_FALSE(outcome.remoteScanComplete);
    EXPECT_EQ(outcome.deleted, 0) << logText().toStdString();
    EXPECT_EQ(readFile(local("sub/a.txt")), "a");
    if (m_vsftpd)
        ::chmod(QFile::encodeName(served("sub")).constData(), 0755);
}

INSTANTIATE_TEST_SUITE_P(Servers, GuardTest, ::testing::Values(Server::Mlsd, Server::Vsftpd),
                         [](const auto& info) { return info.param == Server::Vsftpd ? "Vsftpd" : "TestServer"; });

// On a server that lists with MLSD, a re-sync lists its folders over the
// control connection (CWD and STAT pairs, many in one round trip) and must
// decide as the first run, which listed with MLSD, would.
class ControlListingRunTest : public RememberingRunTest {
protected:
    void SetUp() override {
        RememberingRunTest::SetUp();
        m_project.SubFilders = true;
        m_project.Connections = 1; // one connection: the commands per folder are known
        m_options.logCommands = true;
    }

    // The server's command log from the last mark() on.
    QString commandsSinceMark() const { return m_server->serverLog().mid(m_mark); }
    void mark() { m_mark = m_server->serverLog().size(); }
    qsizetype m_mark = 0;
};

TEST_F(ControlListingRunTest, ReSyncListsEveryFolderWithoutMlsd) {
    // Names that must reach the wire as one plain argument each.
    const QStringList files{"top.txt",         "a/one.txt",       "a/b/two.txt",
                            "a/b/c/three.txt", "-a dir/dash.txt", QStringLiteral("ünï çödé/u.txt"),
                            "x y/z w.txt",     "x y/keep.txt"};
    for (const QString& name : files)
        writeFile(local(name), name.toUtf8(), at(1, 9, 0, 30));
    ASSERT_NO_FATAL_FAILURE(startOn(Server::Mlsd));
    ASSERT_EQ(run().uploaded, int(files.size())) << logText().toStdString();
    EXPECT_TRUE(commandsSinceMark().contains(QStringLiteral("COMMAND MLSD"))); // a first run needs exact times
    EXPECT_FALSE(commandsSinceMark().contains(QStringLiteral("COMMAND STAT")));

    mark();
    const RunOutcome& unchanged = run();
    EXPECT_TRUE(unchanged.remoteScanComplete) << logText().toStdString();
    EXPECT_EQ(unchanged.uploaded + unchanged.downloaded + unchanged.deleted, 0) << logText().toStdString();
    EXPECT_FALSE(commandsSinceMark().contains(QStringLiteral("COMMAND MLSD"))) << commandsSinceMark().toStdString();
    EXPECT_TRUE(commandsSinceMark().contains(QStringLiteral("COMMAND CWD /-a dir")));

    // An edit on each side and a deletion on the server: each acted on once.
    writeFile(local("a/b/two.txt"), "edited here", at(1, 10, 0));
    // Yesterday: listed to the minute, not to the day.
    const QDateTime yesterday = QDateTime::currentDateTime().addDays(-1);
    writeFile(remote("a/one.txt"), "edited there",
              NaiveDateTime::fromDateAndTime(yesterday.date(), QTime(yesterday.time().hour(), 0, 42)));
    QFile::remove(remote("x y/z w.txt"));
    mark();
    const RunOutcome changed = run();
    EXPECT_EQ(changed.uploaded, 1) << logText().toStdString();
    EXPECT_EQ(changed.downloaded, 1);
    EXPECT_EQ(changed.deleted, 1);
    EXPECT_EQ(readFile(remote("a/b/two.txt")), "edited here");
    EXPECT_EQ(readFile(local("a/one.txt")), "edited there");
    // Listed to the minute, downloaded with the server's exact time.
    EXPECT_EQ(QFileInfo(local("a/one.txt")).lastModified(), QFileInfo(remote("a/one.txt")).lastModified());
    EXPECT_FALSE(QFile::exists(local("x y/z w.txt")));
    EXPECT_FALSE(commandsSinceMark().contains(QStringLiteral("COMMAND MLSD"))) << commandsSinceMark().toStdString();
    const RunOutcome& again = run();
    EXPECT_EQ(again.uploaded + again.downloaded + again.deleted, 0) << logText().toStdString();
}

// A folder pyftpdlib may enter but not read answers STAT with "550
// Permission denied.", and an empty one lists as empty, which on other servers
// a folder closed to us does too: each is listed with MLSD, as before. The
// unreadable one is a failed listing, and nothing in it is deleted.
TEST_F(ControlListingRunTest, UnreadableAndEmptyFoldersAreLeftToMlsd) {
    writeFile(local("sub/a.txt"), "a", at(1, 9, 0));
    writeFile(local("b.txt"), "b", at(1, 9, 0));
    writeFile(local("later/c.txt"), "c", at(1, 9, 0));
    ASSERT_TRUE(QDir().mkpath(remote("empty")));
    ASSERT_NO_FATAL_FAILURE(startOn(Server::Mlsd));
    ASSERT_EQ(run().uploaded, 3);
    restartServer([](FtpTestServerOptions& options) { options.unreadableDirs << QStringLiteral("sub"); });

    const RunOutcome& outcome = run();
    EXPECT_FALSE(outcome.remoteScanComplete);
    EXPECT_EQ(outcome.uploaded + outcome.downloaded + outcome.deleted, 0) << logText().toStdString();
    EXPECT_EQ(readFile(local("sub/a.txt")), "a");
    const QStringList failures = m_log.filter(QStringLiteral("FtpFindFirstFile"));
    ASSERT_EQ(failures.size(), 1) << logText().toStdString();
    EXPECT_TRUE(failures.first().contains(QStringLiteral("'/sub'"))) << failures.first().toStdString();
    // One MLSD each for "sub" and "empty"; STAT goes on for "later" after
    // the refusal for "sub".
    EXPECT_EQ(commandsSinceMark().count(QStringLiteral("COMMAND MLSD")), 2) << commandsSinceMark().toStdString();
}

// The server stops answering at the first rename: the uploads' temporary
// files stay behind. The next run removes them and finishes, deleting nothing.
TEST_F(RememberingRunTest, ARunCutOffIsFinishedByTheNext) {
    ShortTimeouts quick;
    m_project.Connections = 1;
    m_options.silentFrom = QStringLiteral("RNFR");
    startServer();
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        writeFile(local(QString::fromLatin1(name)), name, at(1, 9, 0));
    EXPECT_TRUE(run().serverStoppedAnswering) << logText().toStdString();
    bool leftover = false;
    for (const QString& file : tree(m_remoteDir.path()))
        leftover = leftover || file.endsWith(QLatin1String(".vstmp"));
    ASSERT_TRUE(leftover) << logText().toStdString();

    // The same server again: the state belongs to its address.
    restartServer([](FtpTestServerOptions& options) { options.silentFrom.clear(); });
    const RunOutcome& next = run();
    EXPECT_EQ(next.uploaded, 3) << logText().toStdString();
    EXPECT_EQ(next.deleted, 0);
    EXPECT_TRUE(logText().contains(QStringLiteral("of an interrupted transfer has been deleted")))
        << logText().toStdString();
    EXPECT_EQ(tree(m_remoteDir.path()), (std::set<QString>{"a.txt", "b.txt", "c.txt"}));
    EXPECT_EQ(tree(m_localDir.path()), tree(m_remoteDir.path()));
}

// A file that is no database, and one whose rows cannot be read (found only
// while the run scans).
class DamagedStateTest : public RememberingRunTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DamagedStateTest, IsSetAsideAndTheRunDecidesAsAFirstRun) {
    startServer();
    writeFile(local("a.txt"), "a", at(1, 9, 0));
    writeFile(remote("a.txt"), "a", at(1, 9, 0));
    const engine::StateIdentity identity = engine::stateIdentityOf(m_project.Settings());
    const QString path = engine::SyncState::pathFor(identity);
    if (GetParam()) {
        QDir().mkpath(QFileInfo(path).path());
        writeFile(path, "not a database at all, not even close");
    } else {
        ASSERT_TRUE(engine::SyncState::open(identity).state);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("damage"));
        db.setDatabaseName(path);
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        EXPECT_TRUE(query.exec(QStringLiteral("DROP TABLE files")));
        EXPECT_TRUE(query.exec(QStringLiteral("CREATE TABLE files(unknown)")));
        query = QSqlQuery();
        db.close();
        db = {};
        QSqlDatabase::removeDatabase(QStringLiteral("damage"));
    }
    const RunOutcome& outcome = run();
    EXPECT_TRUE(outcome.completed);
    EXPECT_EQ(outcome.problems + outcome.uploaded + outcome.downloaded, 0) << logText().toStdString();
    EXPECT_TRUE(logText().contains(QStringLiteral("was moved aside"))) << logText().toStdString();
    EXPECT_EQ(engine::describeState(m_project.Settings()).files, 1);
}

INSTANTIATE_TEST_SUITE_P(Damage, DamagedStateTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "NoDatabase" : "RowsUnreadable"; });

} // namespace
