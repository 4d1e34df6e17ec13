#include "sync/SyncState.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "support/TestFiles.h"

namespace {

using engine::FileRecord;
using engine::PendingTransfer;
using engine::StateIdentity;
using engine::StateSide;
using engine::SyncState;
using engine::TimePrecision;

// Each test gets its own state folder through XDG_STATE_HOME.
class SyncStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_savedStateHome = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("state"))));
        ASSERT_TRUE(QDir().mkpath(m_dir.filePath(QStringLiteral("local"))));
        m_identity = {m_dir.filePath(QStringLiteral("local")), QStringLiteral("127.0.0.1"), 2121,
                      QStringLiteral("deploy"), QStringLiteral("/htdocs")};
    }
    void TearDown() override { qputenv("XDG_STATE_HOME", m_savedStateHome); }

    std::unique_ptr<SyncState> openQuietly(const StateIdentity& identity) {
        SyncState::Opened opened = SyncState::open(identity);
        EXPECT_EQ(opened.logLine, QString());
        return std::move(opened.state);
    }
    std::unique_ptr<SyncState> openQuietly() { return openQuietly(m_identity); }

    QTemporaryDir m_dir;
    QByteArray m_savedStateHome;
    StateIdentity m_identity;
};

FileRecord record(const QString& path, qint64 size = 1) {
    return {path, size, size * 1'000'000'007, size + 1, size * 60'000, TimePrecision::Minute, std::nullopt};
}

// Reaches the state file past the class, as another program (or damage) would.
void withRawDatabase(const QString& path, const std::function<void(QSqlQuery&)>& work) {
    const QString name = QStringLiteral("raw-state");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        work(query);
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

// Everything put is read back by the next object; names count as the same file
// when they differ only in case or in the Unicode form of an accent, as the run
// matches them, so a renamed spelling replaces rather than doubles a record.
TEST_F(SyncStateTest, RecordsPendingTransfersAndRunTimeSurviveReopening) {
    const QString first = QStringLiteral("docs/CAFE\u0301.TXT");
    const QString renamed = QStringLiteral("Docs/Caf\u00e9.txt");
    const FileRecord exact{
        QStringLiteral("a/b/exact.bin"), 5, -7, 1ll << 40, -86'400'000, TimePrecision::Second, 1'700'000'000'123};
    {
        std::unique_ptr<SyncState> state = openQuietly();
        ASSERT_TRUE(state);
        EXPECT_EQ(state->count(), 0);
        EXPECT_FALSE(state->lastCompleteRun());
        EXPECT_TRUE(state->put(record(first, 1)));
        EXPECT_TRUE(state->put(record(QStringLiteral("README"), 2)));
        EXPECT_TRUE(state->put(exact));
        EXPECT_TRUE(state->put(record(QStringLiteral("gone.txt"), 3)));
        ASSERT_TRUE(state->flush());
        EXPECT_TRUE(state->put(record(renamed, 9))); // replaces the first spelling
        EXPECT_EQ(state->count(), 4);
        state->remove(QStringLiteral("GONE.txt"));
        EXPECT_FALSE(state->put(record(QStringLiteral("../outside"))));
        EXPECT_TRUE(state->notePending(QStringLiteral("README"), StateSide::Remote, QStringLiteral("README.part")));
        EXPECT_TRUE(state->notePending(QStringLiteral("a/x"), StateSide::Local, QStringLiteral(".x.tmp")));
        EXPECT_TRUE(state->notePending(QStringLiteral("a/y"), StateSide::Local, QStringLiteral(".y.tmp")));
        state->clearPending(QStringLiteral("A/Y"), StateSide::Local); // written by markRunComplete
        EXPECT_FALSE(state->notePending(QStringLiteral("a/z"), StateSide::Local, QStringLiteral("../../z")));
        ASSERT_TRUE(state->markRunComplete());
    } // closing without a further flush: markRunComplete wrote everything

    std::unique_ptr<SyncState> state = openQuietly();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->count(), 3);
    ASSERT_TRUE(state->find(first));
    EXPECT_EQ(*state->find(first), record(renamed, 9));
    ASSERT_TRUE(state->find(QStringLiteral("readme")));
    EXPECT_EQ(*state->find(QStringLiteral("readme")), record(QStringLiteral("README"), 2));
    ASSERT_TRUE(state->find(exact.path));
    EXPECT_EQ(*state->find(exact.path), exact);
    EXPECT_FALSE(state->find(QStringLiteral("gone.txt")));
    int iterated = 0;
    for (const FileRecord& each : *state)
        iterated += state->find(each.path) == &each;
    EXPECT_EQ(iterated, 3);
    QList<PendingTransfer> pending = state->pending();
    std::sort(pending.begin(), pending.end(), [](auto& a, auto& b) { return a.path < b.path; });
    EXPECT_EQ(pending, (QList<PendingTransfer>{{"README", StateSide::Remote, "README.part"},
                                               {"a/x", StateSide::Local, ".x.tmp"}}));
    ASSERT_TRUE(state->lastCompleteRun());
    EXPECT_LE(state->lastCompleteRun()->secsTo(QDateTime::currentDateTimeUtc()), 3600);
}

// A flush that fails part way leaves the file as the previous flush left it:
// a trigger refuses one record of the batch after others were written.
TEST_F(SyncStateTest, AFlushThatFailsWritesNothingOfItsBatch) {
    std::unique_ptr<SyncState> state = openQuietly();
    ASSERT_TRUE(state);
    state->put(record(QStringLiteral("kept"), 1));
    ASSERT_TRUE(state->flush());
    withRawDatabase(SyncState::pathFor(m_identity), [](QSqlQuery& query) {
        ASSERT_TRUE(query.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON files WHEN NEW.path = 'poison' "
                                              "BEGIN SELECT RAISE(ABORT, 'refused'); END")));
    });
    for (const char* name : {"a", "b", "poison", "c"})
        state->put(record(QString::fromLatin1(name), 2));
    state->remove(QStringLiteral("kept"));
    EXPECT_FALSE(state->flush());
    EXPECT_FALSE(state->markRunComplete());
    state.reset(); // its closing flush fails the same way

    state = openQuietly();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->count(), 1);
    EXPECT_TRUE(state->find(QStringLiteral("kept")));
    EXPECT_FALSE(state->lastCompleteRun());
}

// A run killed between flushes leaves what its last flush wrote, and nothing
// of what it queued after.
TEST_F(SyncStateTest, AKilledRunLeavesItsLastFlush) {
    // fork(), so that the child writes to this test's state folder.
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            std::unique_ptr<SyncState> state = SyncState::open(m_identity).state;
            state->put(record(QStringLiteral("flushed")));
            state->flush();
            state->put(record(QStringLiteral("queued")));
            state->remove(QStringLiteral("flushed"));
            std::_Exit(0); // no destructor, as after SIGKILL
        },
        ::testing::ExitedWithCode(0), "");
    std::unique_ptr<SyncState> state = openQuietly();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->count(), 1);
    EXPECT_TRUE(state->find(QStringLiteral("flushed")));
}

// A file that cannot serve as this pair's state is kept for inspection beside
// its place, the run is told in one line, and an empty state takes its place.
TEST_F(SyncStateTest, UnusableFilesAreMovedAsideAndAFreshStateResults) {
    const StateIdentity other{m_identity.localFolder, m_identity.server, m_identity.port, QStringLiteral("other"),
                              m_identity.remoteFolder};
    struct Case {
        const char* name;
        std::function<void(const QString& path)> spoil;
        const char* reason;
    };
    const Case cases[] = {
        {"random bytes",
         [](const QString& path) {
             QByteArray bytes(4096, '\0');
             for (char& byte : bytes)
                 byte = char(QRandomGenerator::global()->bounded(256));
             writeFile(path, bytes);
         },
         "it is not a database"},
        {"a newer schema",
         [](const QString& path) {
             withRawDatabase(
                 path, [](QSqlQuery& query) { ASSERT_TRUE(query.exec(QStringLiteral("PRAGMA user_version = 99"))); });
         },
         "newer version"},
        {"another identity",
         [&](const QString& path) {
             ASSERT_TRUE(openQuietly(other));
             ASSERT_TRUE(QFile::remove(path));
             ASSERT_TRUE(QFile::rename(SyncState::pathFor(other), path));
         },
         "another pair of folders"},
        {"tables of another kind",
         [](const QString& path) {
             ASSERT_TRUE(QFile::remove(path));
             withRawDatabase(path, [](QSqlQuery& q) { ASSERT_TRUE(q.exec(QStringLiteral("CREATE TABLE x(y)"))); });
         },
         "tables of another kind"},
        {"a table missing",
         [](const QString& path) {
             withRawDatabase(path, [](QSqlQuery& q) { ASSERT_TRUE(q.exec(QStringLiteral("DROP TABLE pending"))); });
         },
         "it is damaged"},
        {"a folder",
         [](const QString& path) {
             ASSERT_TRUE(QFile::remove(path));
             ASSERT_TRUE(QDir().mkpath(path));
         },
         "not a plain file"},
    };
    const QString path = SyncState::pathFor(m_identity);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            std::unique_ptr<SyncState> state = openQuietly();
            ASSERT_TRUE(state);
            state->put(record(QStringLiteral("old")));
        }
        c.spoil(path);
        SyncState::Opened opened = SyncState::open(m_identity);
        ASSERT_TRUE(opened.state);
        EXPECT_EQ(opened.state->count(), 0);
        const QRegularExpression expected(
            QStringLiteral("^The sync state \"%1\" could not be read \\(.*%2.*\\) and was moved aside to "
                           "\"(%1\\.damaged-\\d{8}-\\d{6}(-\\d+)?)\"; this run decides as a first run\\.$")
                .arg(QRegularExpression::escape(path), QString::fromLatin1(c.reason)));
        const QRegularExpressionMatch match = expected.match(opened.logLine);
        ASSERT_TRUE(match.hasMatch()) << opened.logLine.toStdString();
        EXPECT_TRUE(QFileInfo::exists(match.captured(1)));
        opened.state->put(record(QStringLiteral("new")));
        opened.state.reset();

        std::unique_ptr<SyncState> fresh = openQuietly();
        ASSERT_TRUE(fresh);
        EXPECT_EQ(fresh->count(), 1);
        EXPECT_TRUE(fresh->find(QStringLiteral("new")));
    }
}

// The state names the user's files: only its owner may read it. Forgetting it
// leaves nothing behind, and the next open starts afresh without a word.
TEST_F(SyncStateTest, TheStateIsOwnerOnlyAndForgetRemovesIt) {
    const QString path = SyncState::pathFor(m_identity);
    EXPECT_TRUE(
        QFileInfo(path).fileName().contains(QRegularExpression(QStringLiteral("^state-[0-9a-f]{16}\\.sqlite$"))));
    {
        std::unique_ptr<SyncState> state = openQuietly();
        ASSERT_TRUE(state);
        state->put(record(QStringLiteral("a")));
        ASSERT_TRUE(state->flush());
        const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        EXPECT_EQ(QFileInfo(QFileInfo(path).path()).permissions(), ownerOnly | QFileDevice::ExeOwner |
                                                                       QFileDevice::ReadUser | QFileDevice::WriteUser |
                                                                       QFileDevice::ExeUser);
        for (const QString& file : {path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm")}) {
            SCOPED_TRACE(file.toStdString());
            ASSERT_TRUE(QFileInfo::exists(file));
            EXPECT_EQ(QFileInfo(file).permissions(), ownerOnly | QFileDevice::ReadUser | QFileDevice::WriteUser);
        }
    }
    EXPECT_TRUE(SyncState::forget(m_identity));
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_TRUE(SyncState::forget(m_identity)); // nothing left to forget
    std::unique_ptr<SyncState> state = openQuietly();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->count(), 0);
}

// A large tree's state loads whole (no timing is asserted).
TEST_F(SyncStateTest, AHundredThousandRecordsLoad) {
    constexpr int Count = 100'000;
    {
        std::unique_ptr<SyncState> state = openQuietly();
        ASSERT_TRUE(state);
        for (int i = 0; i < Count; ++i)
            state->put(record(QStringLiteral("d%1/f%2.txt").arg(i / 1000).arg(i), i));
    }
    std::unique_ptr<SyncState> state = openQuietly();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->count(), Count);
    ASSERT_TRUE(state->find(QStringLiteral("d99/f99999.txt")));
    EXPECT_EQ(state->find(QStringLiteral("d99/f99999.txt"))->localSize, Count - 1);
}

} // namespace
