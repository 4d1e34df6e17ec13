#include "project/SyncThread.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocale>
#include <QPointer>
#include <QTcpServer>

#include <stdexcept>

#include "project/VellisyncProject.h"

namespace {

class RecordingSink : public LineSink {
public:
    void AppendLine(const QString& line) override {
        // Lines arrive on the thread that created the sync thread.
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        if (throwOnAppend)
            throw std::runtime_error("the log is full");
        lines.append(line);
    }
    QStringList lines;
    bool throwOnAppend = false;
};

// Processes events until done() holds or a generous bound has passed;
// deferred deletions included, so a self-deleting thread object can go.
template <typename Predicate> bool processEventsUntil(Predicate done) {
    QDeadlineTimer deadline(60'000);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return done();
}

quint16 closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort(); // closed again when the server goes
}

QString messageOf(const QString& line) {
    return line.mid(line.indexOf(QStringLiteral("; ")) + 2);
}

class SyncThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_project.Server = QStringLiteral("127.0.0.1");
        m_project.Port = closedPort();
        m_project.UserName = QStringLiteral("nobody");
    }

    TVellisyncProject m_project;
    RecordingSink m_sink;
};

TEST_F(SyncThreadTest, FailedConnectionStillEndsWithOnTerminateAndThenLogsNowhere) {
    auto* thread = new TFTPSyncThread; // deletes itself after OnTerminate
    QPointer<TFTPSyncThread> alive(thread);
    bool terminated = false;
    thread->SetLines(&m_sink);
    thread->SetProject(&m_project);
    thread->SetOnTerminate([&](TFTPSyncThread& sender) {
        EXPECT_EQ(&sender, thread);
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        terminated = true;
    });
    EXPECT_FALSE(thread->isRunning()) << "created suspended";
    thread->Resume();
    ASSERT_TRUE(processEventsUntil([&] { return terminated && alive.isNull(); }));

    ASSERT_EQ(m_sink.lines.size(), 2) << m_sink.lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(messageOf(m_sink.lines[0]), QStringLiteral("Opening FTP by using default settings..."));
    EXPECT_TRUE(messageOf(m_sink.lines[1]).startsWith(QStringLiteral("InternetConnect fails with message: ")));
    // Stamped with the locale's short date, a blank and the time.
    const QString today = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
    EXPECT_TRUE(m_sink.lines[0].startsWith(today + QLatin1Char(' '))) << m_sink.lines[0].toStdString();
    EXPECT_FALSE(m_project.LastRunOutcome().connected);

    EXPECT_FALSE(m_project.OnLog) << "the deleted thread unhooked the project";
    m_project.Log(QStringLiteral("after the end"));
    EXPECT_EQ(m_sink.lines.size(), 2);
}

TEST_F(SyncThreadTest, StopRequestedBeforeStartIsDiscardedByTheRun) {
    auto* thread = new TFTPSyncThread;
    bool terminated = false;
    thread->SetLines(&m_sink);
    thread->SetProject(&m_project);
    thread->SetOnTerminate([&](TFTPSyncThread&) { terminated = true; });
    m_project.RequestStop();
    thread->Resume();
    ASSERT_TRUE(processEventsUntil([&] { return terminated; }));
    EXPECT_EQ(m_sink.lines.size(), 2);
    EXPECT_FALSE(m_project.LastRunOutcome().stopped);
}

TEST_F(SyncThreadTest, FailingAppendEndsTheRunQuietlyAndIsKept) {
    TFTPSyncThread thread;
    thread.SetFreeOnTerminate(false);
    bool terminated = false;
    m_sink.throwOnAppend = true;
    thread.SetLines(&m_sink);
    thread.SetProject(&m_project);
    thread.SetOnTerminate([&](TFTPSyncThread&) { terminated = true; });
    thread.Resume();
    ASSERT_TRUE(processEventsUntil([&] { return terminated; }));
    ASSERT_TRUE(thread.FatalException());
    EXPECT_THROW(std::rethrow_exception(thread.FatalException()), std::runtime_error);
    EXPECT_TRUE(m_sink.lines.isEmpty());
    // The run closed its connection on the way out.
    EXPECT_FALSE(m_project.ConnectHandle());
    EXPECT_FALSE(m_project.InternetHandle());
}

TEST_F(SyncThreadTest, WithoutProjectOrLinesTheThreadJustEnds) {
    TFTPSyncThread thread;
    thread.SetFreeOnTerminate(false);
    bool terminated = false;
    thread.SetOnTerminate([&](TFTPSyncThread&) { terminated = true; });
    thread.Resume();
    ASSERT_TRUE(processEventsUntil([&] { return terminated; }));
    EXPECT_FALSE(thread.FatalException());

    TFTPSyncThread silent; // lines are stamped and dropped
    silent.SetFreeOnTerminate(false);
    bool silentEnded = false;
    silent.SetProject(&m_project);
    silent.SetOnTerminate([&](TFTPSyncThread&) { silentEnded = true; });
    silent.Resume();
    ASSERT_TRUE(processEventsUntil([&] { return silentEnded; }));
    EXPECT_FALSE(silent.FatalException());
}

TEST_F(SyncThreadTest, SettingProjectHooksAndUnhooksOnLog) {
    TVellisyncProject other;
    {
        TFTPSyncThread thread;
        thread.SetLines(&m_sink);
        thread.SetProject(&m_project);
        thread.SetProject(&m_project);
        ASSERT_TRUE(m_project.OnLog);
        m_project.Log(QStringLiteral("direct")); // on the creating thread: appended at once
        ASSERT_EQ(m_sink.lines.size(), 1);
        EXPECT_EQ(messageOf(m_sink.lines[0]), QStringLiteral("direct"));

        thread.SetProject(&other);
        EXPECT_FALSE(m_project.OnLog);
        EXPECT_TRUE(other.OnLog);
    }
    EXPECT_FALSE(other.OnLog) << "the destructor unhooks the project";
}

} // namespace
