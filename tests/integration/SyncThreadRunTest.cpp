#include "project/SyncThread.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "project/VellisyncProject.h"
#include "support/FtpTestServer.h"

namespace {

// Keeps the lines, and lets the user interface act on one as it arrives
// (the worker waits for the line meanwhile).
class ActingSink : public LineSink {
public:
    explicit ActingSink(std::function<void(const QString&)> act) : m_act(std::move(act)) {}
    void AppendLine(const QString& line) override {
        lines.append(line);
        m_act(line);
    }
    QStringList lines;

private:
    std::function<void(const QString&)> m_act;
};

template <typename Predicate> bool processEventsUntil(Predicate done) {
    QDeadlineTimer deadline(120'000);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return done();
}

// Three files on the server, and a project that downloads them.
class SyncThreadRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(localDir.isValid() && remoteDir.isValid());
        for (const char* name : {"f1.txt", "f2.txt", "f3.txt"}) {
            QFile file(remoteDir.path() + QLatin1Char('/') + QString::fromUtf8(name));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("data");
        }
        options.root = remoteDir.path();
        server = std::make_unique<FtpTestServer>(options);
        ASSERT_TRUE(server->start()) << server->errorText().toStdString();
        project.Server = server->host();
        project.Port = server->port();
        project.UserName = options.user;
        project.Password = options.password;
        project.Passive = true;
        project.RemoteFolder = QStringLiteral("/");
        project.LocalFolder = localDir.path();
        project.IncludeMasks = QStringLiteral("*.*");
        project.SyncMode = setting::SyncMode::RemoteToLocal;
    }

    // Runs the project on a sync thread until it has ended.
    void runOnThread(LineSink& sink) {
        auto* thread = new TFTPSyncThread;
        bool terminated = false;
        thread->SetLines(&sink);
        thread->SetProject(&project);
        thread->SetOnTerminate([&](TFTPSyncThread&) { terminated = true; });
        thread->Resume();
        ASSERT_TRUE(processEventsUntil([&] { return terminated; }));
    }

    QTemporaryDir localDir, remoteDir;
    FtpTestServerOptions options;
    std::unique_ptr<FtpTestServer> server;
    TVellisyncProject project;
};

TEST_F(SyncThreadRun, RunsOnTheWorkerStampsEveryLineAndHonoursAStopFromTheUserInterface) {
    // One connection: the stop lets only the files in hand finish, the one
    // reported and, where its last reply rode with the next request, the next.
    project.Connections = 1;
    // The user presses Stop as soon as the first file has arrived.
    ActingSink sink([&](const QString& line) {
        if (line.endsWith(QStringLiteral("has been downloaded")))
            project.RequestStop();
    });

    runOnThread(sink);

    QStringList messages;
    const QRegularExpression stamped(QStringLiteral("^\\S+ \\S.*?; (.*)$"));
    for (const QString& line : std::as_const(sink.lines)) {
        const auto match = stamped.match(line);
        ASSERT_TRUE(match.hasMatch()) << line.toStdString();
        messages.append(match.captured(1));
    }
    ASSERT_TRUE(messages.size() == 9 || messages.size() == 10) << messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(messages.mid(0, 6),
              (QStringList{"Opening FTP by using default settings...", "Done!", "Collecting local files...", "Done!",
                           "Collecting FTP files...", "Done!"}));
    const qsizetype arrived = messages.size() - 8;
    for (qsizetype i = 0; i < arrived; ++i)
        EXPECT_TRUE(messages[6 + i].startsWith(QStringLiteral("File /f")));
    EXPECT_EQ(messages.mid(6 + arrived, 2), (QStringList{QStringLiteral("%1 files has been downloaded.").arg(arrived),
                                                         "Task has been stopped by user"}));
    // The stop is checked before every file: only those in hand arrived.
    EXPECT_EQ(QDir(localDir.path()).entryList(QDir::Files).size(), arrived);
    EXPECT_TRUE(project.LastRunOutcome().stopped);
}

// The window may change the project while its run goes (and save it when it
// closes): the run goes on with the settings it started with.
TEST_F(SyncThreadRun, EditsWhileTheRunGoesNeverReachIt) {
    QTemporaryDir otherDir;
    ASSERT_TRUE(otherDir.isValid());
    ActingSink sink([&](const QString& line) {
        if (!line.endsWith(QStringLiteral("Collecting FTP files...")))
            return;
        project.SetLocalFolder(otherDir.path());
        project.SetRemoteFolder(QStringLiteral("/elsewhere"));
        project.SetSyncMode(setting::SyncMode::LocalToRemote);
        project.SetExact(true);
    });
    runOnThread(sink);
    EXPECT_EQ(QDir(localDir.path()).entryList(QDir::Files).size(), 3) << sink.lines.join('\n').toStdString();
    EXPECT_TRUE(QDir(otherDir.path()).isEmpty());
    EXPECT_EQ(QDir(remoteDir.path()).entryList(QDir::Files).size(), 3);
    EXPECT_EQ(project.LastRunOutcome().downloaded, 3);
    EXPECT_EQ(project.LocalFolder, otherDir.path()); // the edit itself stands, for the next run
}

} // namespace
