// The pool's contract, pinned with jobs that do no FTP work: they record which
// connection and thread ran them and how many were in hand at once. The
// further connections log on to a real server.
#include "sync/ConnectionPool.h"
#include "sync/FileJobs.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "support/FtpTestServer.h"
#include "support/QtPrinters.h"

namespace {

using namespace std::chrono_literals;

// A wait that only ends a test that would otherwise hang: the pool never
// reached the state the job waits for.
constexpr auto HangGuard = 20s;

// What the fake jobs saw.
struct JobLog {
    std::mutex mutex;
    std::condition_variable changed;
    std::map<int, int> runs; // job id -> times started
    std::set<const inet::FtpConnection*> connections;
    int inHand = 0;
    int mostInHand = 0;
    int finished = 0;
    bool gaveUp = false; // one wait ran out: the others do not wait again

    void enter(int id, const inet::FtpConnection& connection) {
        std::lock_guard lock(mutex);
        ++runs[id];
        connections.insert(&connection);
        mostInHand = std::max(mostInHand, ++inHand);
        changed.notify_all();
    }
    void leave() {
        std::lock_guard lock(mutex);
        --inHand;
        ++finished;
        changed.notify_all();
    }
    // Holds the job until `count` jobs have been in hand at once (false if
    // that never happened).
    bool awaitInHand(int count) {
        std::unique_lock lock(mutex);
        gaveUp |= !changed.wait_for(lock, HangGuard, [&] { return mostInHand >= count || gaveUp; });
        return mostInHand >= count;
    }
};

// A job that holds until `together` jobs are in hand at once, then reports
// its id (in its first line and its action report); every third id fails, as does
// a job whose wait ran out.
engine::Job fakeJob(JobLog& log, int id, int together = 1, const std::function<void()>& whileInHand = {}) {
    return [&log, id, together, whileInHand](inet::FtpConnection& connection) {
        log.enter(id, connection);
        if (whileInHand)
            whileInHand();
        const bool met = log.awaitInHand(together);
        log.leave();
        engine::JobOutcome outcome;
        outcome.ok = met && id % 3 != 0;
        outcome.lines << QString::number(id);
        outcome.action = engine::ActionReport{QString::number(id), id, {}};
        return outcome;
    };
}

// The server the pool logs on to: started here, or (under ThreadSanitizer,
// which cannot follow a threaded process that forks) started by scripts/test
// beforehand and named by its port in the environment. The capped server
// takes two connections at once.
class PoolServer {
public:
    bool start(bool capped) {
        const QByteArray external = qgetenv(capped ? "VELLISYNC_POOL_CAPPED_PORT" : "VELLISYNC_POOL_PORT");
        if (!external.isEmpty()) {
            m_port = external.toUShort();
            return m_port != 0;
        }
        FtpTestServerOptions options;
        options.root = m_root.path();
        options.maxConnectionsPerIp = capped ? 2 : 0;
        m_server = std::make_unique<FtpTestServer>(options);
        if (!m_server->start())
            return false;
        m_port = m_server->port();
        return true;
    }
    // A logon, tried again for a while when refused: a server that takes
    // few connections may not yet have seen an earlier one close.
    std::unique_ptr<inet::FtpConnection> connect(inet::InternetSession& session) const {
        for (int attempt = 0; attempt < 100; ++attempt) {
            inet::ConnectResult logon = session.connect(QStringLiteral("127.0.0.1"), m_port, QStringLiteral("tester"),
                                                        QStringLiteral("secret"), true);
            if (logon.connection)
                return std::move(logon.connection);
            std::this_thread::sleep_for(50ms);
        }
        return {};
    }
    engine::PoolLogon logon(inet::InternetSession& session) const {
        return {&session, QStringLiteral("127.0.0.1"), m_port, QStringLiteral("tester"), QStringLiteral("secret"),
                true};
    }

private:
    QTemporaryDir m_root;
    std::unique_ptr<FtpTestServer> m_server;
    quint16 m_port = 0;
};

class ConnectionPoolTest : public ::testing::Test {
protected:
    void startServer(bool capped = false) {
        ASSERT_TRUE(m_server.start(capped));
        m_session = inet::InternetSession::open(QStringLiteral("Vellisync"), std::nullopt).session;
        ASSERT_TRUE(m_session);
        m_own = m_server.connect(*m_session);
        ASSERT_TRUE(m_own);
    }
    std::unique_ptr<engine::ConnectionPool> makePool(int size) {
        return std::make_unique<engine::ConnectionPool>(m_server.logon(*m_session), *m_own, size, m_stop);
    }

    PoolServer m_server;
    std::unique_ptr<inet::InternetSession> m_session;
    std::unique_ptr<inet::FtpConnection> m_own;
    std::atomic<bool> m_stop{false};
    JobLog m_log;
};

class PoolSizeTest : public ConnectionPoolTest, public ::testing::WithParamInterface<int> {};

// Every job runs once, on at most `size` connections at once (and on all of
// them when the work needs it), and its outcome, untouched, reaches onDone
// once on the calling thread; jobs that onDone adds run as well.
TEST_P(PoolSizeTest, EveryJobRunsOnceAndReportsOnTheCallingThread) {
    const int size = GetParam();
    ASSERT_NO_FATAL_FAILURE(startServer());
    auto pool = makePool(size);
    for (int id = 0; id < 10; ++id)
        pool->add(fakeJob(m_log, id, size));

    std::map<int, int> outcomes;
    bool offThread = false;
    bool payloadMatches = true;
    pool->run([&](engine::JobOutcome& outcome) {
        offThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
        const int id = outcome.lines.value(0).toInt();
        ++outcomes[id];
        payloadMatches &= outcome.ok == (id % 3 != 0) && outcome.action && outcome.action->bytes == id;
        if (id < 4)
            pool->add(fakeJob(m_log, 100 + id));
    });

    std::map<int, int> once;
    for (const int id : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 100, 101, 102, 103})
        once[id] = 1;
    EXPECT_EQ(m_log.runs, once);
    EXPECT_EQ(outcomes, once);
    EXPECT_FALSE(offThread);
    EXPECT_TRUE(payloadMatches);
    EXPECT_EQ(m_log.mostInHand, size);
    EXPECT_EQ(int(m_log.connections.size()), size);
    EXPECT_TRUE(m_log.connections.contains(m_own.get())) << "the run's own connection takes its share";
    EXPECT_TRUE(pool->takeNotices().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(ConnectionPool, PoolSizeTest, ::testing::Values(1, 3));

// Uploads whose renames ride with their connection's next request: each
// outcome reaches onDone once, whole, on the calling thread, the last ones
// of each connection too.
TEST_F(ConnectionPoolTest, UploadsPlacedLaterReportOnceEach) {
    ASSERT_NO_FATAL_FAILURE(startServer());
    QTemporaryDir local;
    ASSERT_TRUE(local.isValid());
    const QString folder = QStringLiteral("placed-%1").arg(QCoreApplication::applicationPid());
    auto pool = makePool(3);
    engine::RemoteFolders folders;
    const engine::FileRoots roots{local.path() + QLatin1Char('/'), QStringLiteral("/"), QStringLiteral("/"),
                                  QStringLiteral("/"), true};
    for (int id = 0; id < 12; ++id) {
        const QString name = QStringLiteral("%1/f%2.txt").arg(folder).arg(id);
        QDir().mkpath(local.filePath(folder));
        QFile file(local.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(100 + id, 'x'));
        file.close();
        const RelativeName relative = *RelativeName::fromPath(name);
        pool->add([roots, &folders, relative](inet::FtpConnection& connection) {
            return engine::uploadFile(connection, roots, folders, relative, relative, {}, false,
                                      engine::Placement::MayWait);
        });
    }
    std::map<QString, int> reported;
    bool offThread = false;
    bool whole = true;
    pool->run([&](engine::JobOutcome& outcome) {
        offThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
        whole &= outcome.ok && !outcome.later &&
                 outcome.lines.value(outcome.lines.size() - 1).endsWith(QStringLiteral(" has been uploaded"));
        ++reported[outcome.lines.value(outcome.lines.size() - 1)];
    });
    EXPECT_TRUE(whole);
    EXPECT_EQ(reported.size(), 12u);
    EXPECT_TRUE(std::all_of(reported.cbegin(), reported.cend(), [](const auto& r) { return r.second == 1; }));
    EXPECT_FALSE(offThread);
}

// A stop while every connection has a job in hand: those jobs finish and
// report, no other job starts, and run() returns.
TEST_F(ConnectionPoolTest, StopLetsJobsInHandFinishAndStartsNoOther) {
    ASSERT_NO_FATAL_FAILURE(startServer());
    auto pool = makePool(3);
    // The job that makes three sets the stop; the others hold until it has.
    const auto stopWhenAllBusy = [this] {
        std::unique_lock lock(m_log.mutex);
        if (m_log.inHand == 3) {
            m_stop = true;
            m_log.changed.notify_all();
        }
        m_log.changed.wait_for(lock, HangGuard, [this] { return m_stop.load(); });
    };
    for (int id = 0; id < 12; ++id)
        pool->add(fakeJob(m_log, id, 3, stopWhenAllBusy));
    int outcomes = 0;
    pool->run([&](engine::JobOutcome&) { ++outcomes; });

    EXPECT_TRUE(m_stop);
    EXPECT_EQ(m_log.runs.size(), 3u);
    EXPECT_EQ(m_log.finished, 3);
    EXPECT_EQ(outcomes, 3);
}

// A server that takes one connection besides the run's own: the refused
// logons hand their jobs back, the pool goes on with two connections, and one
// notice says so.
TEST_F(ConnectionPoolTest, RefusedLogonsShrinkThePoolWithOneNotice) {
    ASSERT_NO_FATAL_FAILURE(startServer(true));
    auto pool = makePool(4);
    // Jobs that take a moment leave the queue full while the three further
    // connections, started as the jobs are added, try to log on.
    const auto linger = [] { std::this_thread::sleep_for(10ms); };
    for (int id = 0; id < 12; ++id)
        pool->add(fakeJob(m_log, id, 2, linger));
    int outcomes = 0;
    pool->run([&](engine::JobOutcome&) { ++outcomes; });

    EXPECT_EQ(outcomes, 12);
    EXPECT_EQ(int(m_log.runs.size()), 12);
    EXPECT_EQ(m_log.mostInHand, 2);
    EXPECT_EQ(m_log.connections.size(), 2u);
    EXPECT_EQ(pool->takeNotices(),
              QStringList{QStringLiteral("The server allows no more connections: the run goes on with 2")});
    EXPECT_TRUE(pool->takeNotices().isEmpty());
}

// Destroying a pool with work queued and a job in hand: the job finishes, the
// rest never start, and the worker's connection is closed (the server, which
// takes two connections, lets a new one in beside the run's own).
TEST_F(ConnectionPoolTest, DestructorClosesWorkersWithWorkLeft) {
    ASSERT_NO_FATAL_FAILURE(startServer(true));
    auto pool = makePool(2);
    const auto linger = [] { std::this_thread::sleep_for(10ms); };
    for (int id = 0; id < 30; ++id)
        pool->add(fakeJob(m_log, id, 1, linger));
    {
        std::unique_lock lock(m_log.mutex);
        ASSERT_TRUE(m_log.changed.wait_for(lock, HangGuard, [this] { return !m_log.runs.empty(); }));
    }
    pool.reset();

    EXPECT_EQ(int(m_log.runs.size()), m_log.finished);
    for (const auto& [id, runs] : m_log.runs)
        EXPECT_EQ(runs, 1) << id;
    EXPECT_TRUE(m_server.connect(*m_session));
}

} // namespace
