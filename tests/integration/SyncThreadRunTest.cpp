#include "project/SyncThread.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "project/VellisyncProject.h"
#include "support/FtpTestServer.h"

namespace {

class StoppingSink : public LineSink {
public:
    explicit StoppingSink(TVellisyncProject& project) : m_project(project) {}
    void AppendLine(const QString& line) override {
        lines.append(line);
        // The user presses Stop as soon as the first file has arrived; the
        // worker is waiting for this line meanwhile.
        if (line.endsWith(QStringLiteral("has been downloaded")))
            m_project.RequestStop();
    }
    QStringList lines;

private:
    TVellisyncProject& m_project;
};

template <typename Predicate> bool processEventsUntil(Predicate done) {
    QDeadlineTimer deadline(120'000);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return done();
}

TEST(SyncThreadRun, RunsOnTheWorkerStampsEveryLineAndHonoursAStopFromTheUserInterface) {
    QTemporaryDir localDir, remoteDir;
    ASSERT_TRUE(localDir.isValid() && remoteDir.isValid());
    for (const char* name : {"f1.txt", "f2.txt", "f3.txt"}) {
        QFile file(remoteDir.path() + QLatin1Char('/') + QString::fromUtf8(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("data");
    }
    FtpTestServerOptions options;
    options.root = remoteDir.path();
    FtpTestServer server(options);
    ASSERT_TRUE(server.start()) << server.errorText().toStdString();

    TVellisyncProject project;
    project.Server = server.host();
    project.Port = server.port();
    project.UserName = options.user;
    project.Password = options.password;
    project.Passive = true;
    project.RemoteFolder = QStringLiteral("/");
    project.LocalFolder = localDir.path();
    project.IncludeMasks = QStringLiteral("*.*");
    project.SyncMode = setting::SyncMode::RemoteToLocal;
    project.Connections = 1; // one connection: the stop lets only the file in hand finish
    StoppingSink sink(project);

    auto* thread = new TFTPSyncThread;
    bool terminated = false;
    thread->SetLines(&sink);
    thread->SetProject(&project);
    thread->SetOnTerminate([&](TFTPSyncThread&) { terminated = true; });
    thread->Resume();
    ASSERT_TRUE(processEventsUntil([&] { return terminated; }));

    QStringList messages;
    const QRegularExpression stamped(QStringLiteral("^\\S+ \\S.*?; (.*)$"));
    for (const QString& line : std::as_const(sink.lines)) {
        const auto match = stamped.match(line);
        ASSERT_TRUE(match.hasMatch()) << line.toStdString();
        messages.append(match.captured(1));
    }
    ASSERT_EQ(messages.size(), 9) << messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(messages.mid(0, 6),
              (QStringList{"Opening FTP by using default settings...", "Done!", "Collecting local files...", "Done!",
                           "Collecting FTP files...", "Done!"}));
    EXPECT_TRUE(messages[6].startsWith(QStringLiteral("File /f")));
    EXPECT_EQ(messages.mid(7, 2), (QStringList{"1 files has been downloaded.", "Task has been stopped by user"}));
    // The stop is checked before every file: exactly one arrived.
    EXPECT_EQ(QDir(localDir.path()).entryList(QDir::Files).size(), 1);
    EXPECT_TRUE(project.LastRunOutcome().stopped);
}

} // namespace
