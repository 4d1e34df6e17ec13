// The headless runner as a user meets it: the real executable as a process,
// against a real FTP server on 127.0.0.1, with its own projects folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimeZone>

#include "project/VellisyncProject.h"
#include "sync/ProjectState.h"
#include "sync/RunLock.h"
#include "sync/SyncRun.h"
#include "support/FtpTestServer.h"
#include "support/TestFiles.h"
#include "support/TlsFixtures.h"

namespace {

const QString CliPath = QStringLiteral(VELLISYNC_BINARY_DIR "/src/vellisync-cli");

// Relative paths of every file below a folder, sorted.
QStringList treeOf(const QString& folder) {
    QStringList files;
    QDir dir(folder);
    const auto entries = dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir()) {
            for (const QString& inner : treeOf(entry.absoluteFilePath()))
                files << entry.fileName() + QLatin1Char('/') + inner;
        } else {
            files << entry.fileName();
        }
    }
    files.sort();
    return files;
}

struct CliResult {
    int exitCode = -1;
    QString out;
    QString err;
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_work.isValid());
        QDir(m_work.path()).mkpath(QStringLiteral("remote"));
        QDir(m_work.path()).mkpath(QStringLiteral("local"));
        QDir(m_work.path()).mkpath(QStringLiteral("data"));
    }

    QString remote() const { return m_work.filePath(QStringLiteral("remote")); }
    QString local() const { return m_work.filePath(QStringLiteral("local")); }

    void startServer(FtpTestServerOptions options = {}) {
        options.root = remote();
        m_server = std::make_unique<FtpTestServer>(options);
        ASSERT_TRUE(m_server->start()) << m_server->errorText().toStdString();
    }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // The runner finds its projects below XDG_DATA_HOME: keep the user's own away.
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_work.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), m_work.filePath(QStringLiteral("state")));
        if (!m_clientZone.isEmpty())
            env.insert(QStringLiteral("TZ"), m_clientZone);
        return env;
    }

    void start(QProcess& process, const QStringList& arguments) const {
        process.setProcessEnvironment(environment());
        process.start(CliPath, arguments);
        ASSERT_TRUE(process.waitForStarted(10'000)) << process.errorString().toStdString();
    }

    CliResult cli(const QStringList& arguments, const QByteArray& input = {}) const {
        QProcess process;
        start(process, arguments);
        if (!input.isEmpty())
            process.write(input);
        process.closeWriteChannel();
        EXPECT_TRUE(process.waitForFinished(120'000));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
    }

    // Stores a project for the test server through the runner itself.
    QString createProject(const QString& caption, const QStringList& options) {
        QStringList arguments{QStringLiteral("create"),           caption,
                              QStringLiteral("--server"),         QStringLiteral("127.0.0.1"),
                              QStringLiteral("--port"),           QString::number(m_server ? m_server->port() : 21),
                              QStringLiteral("--user"),           QStringLiteral("tester"),
                              QStringLiteral("--password-stdin"), QStringLiteral("--passive"),
                              QStringLiteral("--remote"),         QStringLiteral("/"),
                              QStringLiteral("--local"),          local(),
                              QStringLiteral("--subfolders")};
        arguments << options;
        const CliResult result = cli(arguments, "secret\n");
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        return result.out.trimmed();
    }

    QTemporaryDir m_work;
    std::unique_ptr<FtpTestServer> m_server;
    QString m_clientZone; // TZ of the runner, when not the machine's
};

// Seconds since the epoch of a file's modification time.
qint64 mtimeOf(const QString& path) {
    return QFileInfo(path).lastModified().toSecsSinceEpoch();
}

void setMtime(const QString& path, qint64 seconds) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::fromSecsSinceEpoch(seconds), QFileDevice::FileModificationTime));
}

// The runner's zone and whether the server offers MLSD; the server lists in
// UTC+2 and must teach the runner so when it has only LIST.
struct ZoneCase {
    const char* clientZone;
    int clientOffsetHours; // east of UTC
    bool mlsd;
};

class ServerTimeTest : public CliTest, public ::testing::WithParamInterface<ZoneCase> {};

TEST_F(CliTest, UploadRunSucceedsAndPrintsStampedLog) {
    startServer();
    writeFile(local() + QStringLiteral("/index.html"), "<h1>hi</h1>");
    writeFile(local() + QStringLiteral("/css/site.css"), "body{}");
    const QString file = createProject(QStringLiteral("Site"), {QStringLiteral("--mode"), QStringLiteral("upload")});
    ASSERT_TRUE(QFileInfo(file).isFile()) << file.toStdString();

    const CliResult result = cli({QStringLiteral("run"), file});
    EXPECT_EQ(result.exitCode, 0) << result.out.toStdString() << result.err.toStdString();
    EXPECT_TRUE(result.out.contains(QStringLiteral("; Opening FTP by using default settings...")));
    EXPECT_TRUE(result.out.contains(QStringLiteral("; 2 files has been uploaded.")));
    EXPECT_EQ(readFile(remote() + QStringLiteral("/css/site.css")), "body{}");
}

// The target's root may be missing: the first mirror into a new folder creates
// it and is a success, while a missing source root is not.
TEST_F(CliTest, FirstDownloadIntoAMissingLocalFolderSucceeds) {
    startServer();
    writeFile(remote() + QStringLiteral("/docs/a.txt"), "a");
    QDir(local()).removeRecursively();
    createProject(QStringLiteral("Mirror"), {QStringLiteral("--mode"), QStringLiteral("download")});

    const CliResult result = cli({QStringLiteral("run"), QStringLiteral("Mirror")});
    EXPECT_EQ(result.exitCode, 0) << result.out.toStdString();
    EXPECT_EQ(readFile(local() + QStringLiteral("/docs/a.txt")), "a");

    QDir(local()).removeRecursively();
    createProject(QStringLiteral("Publish"), {QStringLiteral("--mode"), QStringLiteral("upload")});
    EXPECT_EQ(cli({QStringLiteral("run"), QStringLiteral("Publish")}).exitCode, 2);
}

TEST_F(CliTest, FailedActionGivesOne) {
    FtpTestServerOptions options;
    options.readOnlyDirs << QStringLiteral("locked");
    startServer(options);
    QDir(remote()).mkpath(QStringLiteral("locked"));
    writeFile(local() + QStringLiteral("/locked/a.txt"), "a");
    writeFile(local() + QStringLiteral("/b.txt"), "b");
    createProject(QStringLiteral("Locked"), {QStringLiteral("--mode"), QStringLiteral("upload")});

    const CliResult result = cli({QStringLiteral("run"), QStringLiteral("locked")});
    EXPECT_EQ(result.exitCode, 1) << result.out.toStdString();
    EXPECT_TRUE(
        result.out.contains(QStringLiteral("FtpPutFile('%1/locked/a.txt') fails with message: 553").arg(local())))
        << result.out.toStdString();
    EXPECT_TRUE(result.out.contains(QStringLiteral("1 files has been uploaded.")));
}

TEST_F(CliTest, CannotRunGivesTwoWithOneClearLine) {
    startServer();
    const QString good = createProject(QStringLiteral("Good"), {});

    struct Case {
        const char* name;
        QStringList arguments;
        QString expectedError; // on standard error
        QString expectedLog;   // on standard output
    };
    const QString damaged = m_work.filePath(QStringLiteral("damaged.VSPJ"));
    writeFile(damaged, "[Root]\r\nPort=INTEGER|twenty-one\r\nServer=STRING|\"127.0.0.1\"\r\n");
    const QString closedPort = createProject(QStringLiteral("Closed"), {QStringLiteral("--port"), QStringLiteral("1")});
    // Cut to 16 bits this would be 24000; nothing may connect there instead.
    const QString widePort = m_work.filePath(QStringLiteral("wide.VSPJ"));
    writeFile(widePort, "[Root]\r\nServer=STRING|\"127.0.0.1\"\r\nPort=INTEGER|89536\r\n"
                        "LocalFolder=STRING|\"/tmp\"\r\n");
    const QString missingRoot =
        createProject(QStringLiteral("Missing root"), {QStringLiteral("--remote"), QStringLiteral("/no/such")});
    // An empty local folder would be the working folder; mode 7 would do nothing and look like success.
    const QString noLocal = m_work.filePath(QStringLiteral("nolocal.VSPJ"));
    writeFile(noLocal, "[Root]\r\nServer=STRING|\"127.0.0.1\"\r\nRemoteFolder=STRING|\"/\"\r\n");
    const QString unknownMode = m_work.filePath(QStringLiteral("mode7.VSPJ"));
    writeFile(unknownMode, "[Root]\r\nServer=STRING|\"127.0.0.1\"\r\nLocalFolder=STRING|\"/tmp\"\r\n"
                           "SyncMode=INTEGER|7\r\n");

    const std::vector<Case> cases{
        {"unknown project",
         {QStringLiteral("run"), QStringLiteral("no such thing")},
         QStringLiteral("no project file or stored project caption 'no such thing'"),
         {}},
        {"folder as project", {QStringLiteral("run"), m_work.path()}, QStringLiteral("is not a project file"), {}},
        {"damaged file",
         {QStringLiteral("run"), damaged},
         QStringLiteral("'twenty-one' is not a valid integer value"),
         {}},
        {"connection refused",
         {QStringLiteral("run"), closedPort},
         {},
         QStringLiteral("InternetConnect fails with message:")},
        {"port outside the range",
         {QStringLiteral("run"), widePort},
         {},
         QStringLiteral("; Port 89536 is outside the range 1 to 65535")},
        {"remote root missing", {QStringLiteral("run"), missingRoot}, {}, QStringLiteral("Collecting FTP files...")},
        {"no local folder",
         {QStringLiteral("run"), noLocal},
         QStringLiteral("cannot be run: it names no local folder"),
         {}},
        {"unknown mode",
         {QStringLiteral("run"), unknownMode},
         QStringLiteral("cannot be run: its SyncMode 7 is unknown (0 upload, 1 download, 2 both ways)"),
         {}},
        {"no command", {}, QStringLiteral("missing COMMAND"), {}},
        {"unknown command", {QStringLiteral("sync")}, QStringLiteral("unknown command 'sync'"), {}},
        {"two projects", {QStringLiteral("run"), good, good}, QStringLiteral("exactly one PROJECT"), {}},
        {"connections outside the range",
         {QStringLiteral("run"), QStringLiteral("--connections"), QStringLiteral("17"), good},
         QStringLiteral("option '--connections' needs a number from 1 to 16"),
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CliResult result = cli(c.arguments);
        EXPECT_EQ(result.exitCode, 2) << result.out.toStdString() << result.err.toStdString();
        if (!c.expectedError.isEmpty()) {
            EXPECT_TRUE(result.err.contains(c.expectedError)) << result.err.toStdString();
        }
        if (!c.expectedLog.isEmpty()) {
            EXPECT_TRUE(result.out.contains(c.expectedLog)) << result.out.toStdString();
        }
        if (c.expectedLog != QLatin1String("Collecting FTP files...")) { // that run goes on to its passes
            EXPECT_FALSE(result.out.contains(QStringLiteral("files has been"))) << "no summary after " << c.name;
        }
    }
}

TEST_F(CliTest, DryRunChangesNothingAndNamesWhatTheRealRunDoes) {
    startServer();
    writeFile(local() + QStringLiteral("/up.txt"), "up");
    writeFile(local() + QStringLiteral("/sub/deep.txt"), "deep");
    writeFile(local() + QStringLiteral("/extra.txt"), "extra");
    writeFile(remote() + QStringLiteral("/down.txt"), "down");
    writeFile(remote() + QStringLiteral("/sub/remote-only.txt"), "r");
    const QString file = createProject(QStringLiteral("Both"), {QStringLiteral("--mode"), QStringLiteral("both")});

    const QStringList localBefore = treeOf(local()), remoteBefore = treeOf(remote());
    const CliResult dry = cli({QStringLiteral("run"), QStringLiteral("--dry-run"), file});
    EXPECT_EQ(dry.exitCode, 0) << dry.out.toStdString() << dry.err.toStdString();
    EXPECT_EQ(treeOf(local()), localBefore);
    EXPECT_EQ(treeOf(remote()), remoteBefore);

    const CliResult real = cli({QStringLiteral("run"), file});
    EXPECT_EQ(real.exitCode, 0) << real.out.toStdString();
    for (const QString& name : {QStringLiteral("up.txt"), QStringLiteral("sub/deep.txt"), QStringLiteral("extra.txt"),
                                QStringLiteral("down.txt"), QStringLiteral("sub/remote-only.txt")}) {
        EXPECT_TRUE(dry.out.contains(name)) << "dry run does not name " << name.toStdString();
        EXPECT_TRUE(real.out.contains(name)) << "real run does not name " << name.toStdString();
    }
    EXPECT_EQ(treeOf(local()), treeOf(remote()));
}

// The server goes silent at a second logon, which only a pool of more than
// one connection makes: the stored setting asks for two, the run for one.
TEST_F(CliTest, ConnectionsOfRunHoldForThatRunAndAreNotStored) {
    FtpTestServerOptions options;
    options.silentFrom = QStringLiteral("USER:2");
    startServer(options);
    for (int i = 0; i < 20; ++i)
        writeFile(local() + QStringLiteral("/d%1/f.txt").arg(i), "f");
    const QString file = createProject(QStringLiteral("One"), {QStringLiteral("--mode"), QStringLiteral("upload"),
                                                               QStringLiteral("--connections"), QStringLiteral("2")});
    const QByteArray before = readFile(file);

    const CliResult result = cli({QStringLiteral("run"), QStringLiteral("--connections"), QStringLiteral("1"), file});
    EXPECT_EQ(result.exitCode, 0) << result.out.toStdString() << result.err.toStdString();
    EXPECT_TRUE(result.out.contains(QStringLiteral("; 20 files has been uploaded."))) << result.out.toStdString();
    EXPECT_EQ(readFile(file), before);
}

TEST_F(CliTest, CaptionLookupIsCaseInsensitiveAndRefusesAmbiguity) {
    startServer();
    writeFile(local() + QStringLiteral("/a.txt"), "a");
    createProject(QStringLiteral("Nightly Mirror"), {QStringLiteral("--mode"), QStringLiteral("upload")});

    const CliResult byCaption = cli({QStringLiteral("run"), QStringLiteral("nightly mirror")});
    EXPECT_EQ(byCaption.exitCode, 0) << byCaption.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(remote() + QStringLiteral("/a.txt")));

    // A second project of the same caption, stored directly in the folder.
    TVellisyncProject twin;
    twin.SetDefaults();
    twin.SetCaption(QStringLiteral("NIGHTLY MIRROR"));
    const QString projects = m_work.filePath(QStringLiteral("data/Orvanta/VellisyncProjects"));
    twin.SaveToFile(projects + QStringLiteral("/TWIN0000.VSPJ"));

    const CliResult ambiguous = cli({QStringLiteral("run"), QStringLiteral("Nightly mirror")});
    EXPECT_EQ(ambiguous.exitCode, 2);
    EXPECT_TRUE(ambiguous.err.contains(QStringLiteral("ambiguous"))) << ambiguous.err.toStdString();
    EXPECT_TRUE(ambiguous.err.contains(QStringLiteral("TWIN0000.VSPJ")));

    const CliResult list = cli({QStringLiteral("list")});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.out.count(QLatin1Char('\n')), 2) << list.out.toStdString();
}

TEST_F(CliTest, CtrlCFinishesTheFileInHandAndPrintsSummaryAndStopLine) {
    startServer();
    for (int i = 0; i < 300; ++i)
        writeFile(local() + QStringLiteral("/f%1.txt").arg(i, 3, 10, QLatin1Char('0')), QByteArray(2000, 'x'));
    const QString file = createProject(QStringLiteral("Many"), {QStringLiteral("--mode"), QStringLiteral("upload")});

    QProcess process;
    start(process, {QStringLiteral("run"), file});
    QByteArray output;
    QDeadlineTimer deadline(60'000);
    while (!output.contains("has been uploaded") && !deadline.hasExpired() && process.state() == QProcess::Running) {
        process.waitForReadyRead(1000);
        output += process.readAllStandardOutput();
    }
    ASSERT_TRUE(output.contains("has been uploaded")) << output.toStdString();
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(60'000));
    output += process.readAllStandardOutput();
    EXPECT_EQ(process.exitCode(), 130);
    const QString log = QString::fromUtf8(output);
    EXPECT_TRUE(log.contains(QStringLiteral(" files has been uploaded."))) << log.toStdString();
    EXPECT_TRUE(log.trimmed().endsWith(QStringLiteral("Task has been stopped by user"))) << log.toStdString();
    const int uploaded = int(log.count(QStringLiteral("has been uploaded\n")));
    EXPECT_LT(uploaded, 300);
    EXPECT_TRUE(log.contains(QStringLiteral("; %1 files has been uploaded.").arg(uploaded)));
    // Every file that reached the server is whole.
    for (const QString& name : treeOf(remote()))
        EXPECT_EQ(QFileInfo(remote() + QLatin1Char('/') + name).size(), 2000) << name.toStdString();
}

// create checks every value before it stores anything; a link to /dev/zero
// among the stored projects is listed as unreadable instead of read forever.
TEST_F(CliTest, CreateRefusesBadValuesAndStoresNothing) {
    const QString projects = m_work.filePath(QStringLiteral("data/Orvanta/VellisyncProjects"));
    QDir().mkpath(projects);
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), projects + QStringLiteral("/ZERO.VSPJ")));
    struct Case {
        QStringList options;
        QString expectedError; // empty: stored
        QString storedServer = {};
        qint32 storedConnections = TVellisyncProject::DefaultConnections;
    };
    const Case cases[] = {
        {{"--server", "--password-stdin"}, "option '--server' needs a value"},
        {{"--local"}, "option '--local' needs a value"},
        {{"--server", ""}, "option '--server' needs a host name or IP address, not ''"},
        {{"--server", "ftp example.com"}, "option '--server' needs a host name or IP address, not 'ftp example.com'"},
        {{"--server", "host\r\nUSER x"}, "option '--server' needs a host name or IP address"},
        {{"--server", "1.2.3.400"}, "option '--server' needs a host name or IP address, not '1.2.3.400'"},
        {{"--server", "-bad-.example"}, "option '--server' needs a host name or IP address, not '-bad-.example'"},
        {{"--user", "me\r\nDELE x"}, "option '--user' must not hold control characters"},
        {{"--remote", "/a\nb"}, "option '--remote' must not hold control characters"},
        {{"--local", "dir\x7f"}, "option '--local' must not hold control characters"},
        {{"--proxy-host", "proxy\tx"}, "option '--proxy-host' must not hold control characters"},
        {{"--port", "0"}, "option '--port' needs a number from 1 to 65535"},
        {{"--connections", "0"}, "option '--connections' needs a number from 1 to 16"},
        {{"--connections", "17"}, "option '--connections' needs a number from 1 to 16"},
        {{"--include", "[abc"}, "option '--include': '[abc.' is an invalid mask at (6)"},
        {{"--exclude", "*.bak, [-a]"}, "option '--exclude': '[-a].' is an invalid mask at (2)"},
        {{"--server", "ftp.example.com", "--remote", "/"}, "create needs --local FOLDER"},
        {{"--server", "ftp.example.com", "--local", "."}, "create needs --remote FOLDER"},
        {{"--server", "::1", "--include", "*.html, \"a b.txt\"", "--local", ".", "--remote", "/"}, {}, "::1"},
        {{"--server", "[::1]", "--local", ".", "--remote", "/"}, {}, "::1"},
        {{"--server", "ftp.example.com.", "--local", ".", "--remote", "/"}, {}, "ftp.example.com."},
        {{"--server", "build_host-2", "--local", ".", "--remote", "/"}, {}, "build_host-2"},
        {{"--server", "::1", "--connections", "2", "--local", ".", "--remote", "/"}, {}, "::1", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.join(QLatin1Char(' ')).toStdString());
        const QStringList before = treeOf(projects);
        const CliResult result = cli(QStringList{QStringLiteral("create"), QStringLiteral("Checked")} + c.options);
        if (c.expectedError.isEmpty()) {
            EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
            TVellisyncProject stored;
            EXPECT_TRUE(stored.LoadFromFile(result.out.trimmed()));
            EXPECT_EQ(stored.Server, c.storedServer);
            EXPECT_EQ(stored.Connections, c.storedConnections);
            continue;
        }
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_TRUE(result.err.startsWith("vellisync-cli: " + c.expectedError)) << result.err.toStdString();
        EXPECT_TRUE(result.err.endsWith(QStringLiteral("Try 'vellisync-cli --help'.\n"))) << result.err.toStdString();
        EXPECT_EQ(treeOf(projects), before);
    }
    const CliResult list = cli({QStringLiteral("list")});
    EXPECT_EQ(list.exitCode, 0) << list.err.toStdString();
    EXPECT_TRUE(list.out.contains(
        QStringLiteral("(unreadable: Cannot open file \"%1/ZERO.VSPJ\". It is not a regular file)").arg(projects)))
        << list.out.toStdString();
}

// Two runs on one pair of folders would cut each other's files. While a first
// run waits for its logon, a second run of the same project file, or of
// another file naming the same pair (its local folder through a link), is
// refused at once and touches nothing; a first run killed outright leaves no
// lock behind.
TEST_F(CliTest, SecondRunOfOnePairIsRefusedUntilTheFirstEndsHoweverItEnds) {
    FtpTestServerOptions options;
    options.delays << QStringLiteral("USER:50");
    startServer(options);
    writeFile(local() + QStringLiteral("/a.txt"), "a");
    const QStringList upload{QStringLiteral("--mode"), QStringLiteral("upload")};
    const QString first = createProject(QStringLiteral("Site"), upload);
    const QString linkedLocal = m_work.filePath(QStringLiteral("linked-local"));
    ASSERT_TRUE(QFile::link(local(), linkedLocal));
    createProject(QStringLiteral("Twin"), upload + QStringList{QStringLiteral("--local"), linkedLocal});

    QProcess held;
    start(held, {QStringLiteral("run"), first});
    QByteArray output;
    QDeadlineTimer deadline(60'000);
    while (!output.contains("Opening FTP") && !deadline.hasExpired() && held.state() == QProcess::Running) {
        held.waitForReadyRead(1000);
        output += held.readAllStandardOutput();
    }
    ASSERT_TRUE(output.contains("Opening FTP")) << output.toStdString();
    const QStringList remoteBefore = treeOf(remote()), localBefore = treeOf(local());

    const CliResult sameFile = cli({QStringLiteral("run"), first});
    EXPECT_EQ(sameFile.exitCode, 2) << sameFile.out.toStdString();
    EXPECT_TRUE(sameFile.out.endsWith(QStringLiteral("; Another run of this project is in progress.\n")))
        << sameFile.out.toStdString();
    EXPECT_FALSE(sameFile.out.contains(QStringLiteral("Opening FTP")));
    const CliResult samePair = cli({QStringLiteral("run"), QStringLiteral("--json"), QStringLiteral("Twin")});
    EXPECT_EQ(samePair.exitCode, 2) << samePair.out.toStdString();
    EXPECT_TRUE(samePair.out.contains(QStringLiteral("\"reason\":\"Another run of this project is in progress.\"")))
        << samePair.out.toStdString();
    EXPECT_EQ(treeOf(remote()), remoteBefore);
    EXPECT_EQ(treeOf(local()), localBefore);

    ::kill(pid_t(held.processId()), SIGKILL);
    ASSERT_TRUE(held.waitForFinished(60'000));
    const CliResult after = cli({QStringLiteral("run"), QStringLiteral("Twin")});
    EXPECT_EQ(after.exitCode, 0) << after.out.toStdString();
    EXPECT_EQ(readFile(remote() + QStringLiteral("/a.txt")), "a");
}

// A trusted certificate means the server speaks TLS: its refusal of AUTH TLS
// is a downgrade, and encryption "none" beside a pin a contradiction. Either
// way USER is never sent; the run stops with one line that says why.
TEST_F(CliTest, PinnedProjectNeverLogsOnInClearText) {
    FtpTestServerOptions options;
    options.logCommands = true;
    startServer(options);
    writeFile(local() + QStringLiteral("/a.txt"), "a");
    struct Case {
        const char* encryption;
        QString line;
    };
    const Case cases[] = {
        {"explicit", QStringLiteral("; InternetConnect fails with message: The server does not offer TLS (it refused "
                                    "AUTH TLS), and this project requires an encrypted connection; the password was "
                                    "not sent. A certificate is trusted for this server, so its logon never goes on "
                                    "in clear text.\n")},
        {"none", QStringLiteral("; InternetConnect fails with message: A certificate is trusted for this server, so "
                                "the connection must be encrypted, but encryption is set to none; nothing was "
                                "sent.\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.encryption);
        createProject(QStringLiteral("Pinned"),
                      {QStringLiteral("--mode"), QStringLiteral("upload"), QStringLiteral("--encryption"),
                       QString::fromLatin1(c.encryption), QStringLiteral("--trust-fingerprint"), QString(64, u'7')});
        const CliResult result = cli({QStringLiteral("run"), QStringLiteral("Pinned")});
        EXPECT_EQ(result.exitCode, 2) << result.out.toStdString();
        EXPECT_EQ(result.out.count(c.line), 1) << result.out.toStdString();
        EXPECT_FALSE(result.out.contains(QStringLiteral("unencrypted"))) << result.out.toStdString();
    }
    const QString serverLog = m_server->serverLog();
    EXPECT_FALSE(serverLog.contains(QStringLiteral("COMMAND USER"))) << serverLog.toStdString();
    EXPECT_EQ(serverLog.count(QStringLiteral("COMMAND AUTH")), 1) << "none with a pin does not even connect";
    EXPECT_FALSE(QFile::exists(remote() + QStringLiteral("/a.txt")));
}

// Each name a scan leaves out has an event that names it as it is: a line
// break inside a name is escaped and cannot split the event's line.
TEST_F(CliTest, JsonNamesEverySkippedName) {
    FtpTestServerOptions options;
    options.listNames << QStringLiteral("../x");
    startServer(options);
    writeFile(local() + QStringLiteral("/ok.txt"), "ok");
    writeFile(local() + QStringLiteral("/y\nDELE ok.txt"), "y");
    const QByteArray latin1Name = QFile::encodeName(local()) + "/caf\xe9.txt";
    ASSERT_EQ(::close(::open(latin1Name.constData(), O_CREAT | O_WRONLY, 0644)), 0);
    createProject(QStringLiteral("Names"), {QStringLiteral("--mode"), QStringLiteral("upload")});

    const CliResult result = cli({QStringLiteral("run"), QStringLiteral("--json"), QStringLiteral("Names")});
    ::unlink(latin1Name.constData()); // the temporary folder's removal cannot name it
    EXPECT_EQ(result.exitCode, 1) << result.out.toStdString();
    QMap<QString, QJsonObject> skipped; // by name
    QJsonObject problems;
    for (const QString& line : result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QJsonParseError error;
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8(), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        if (event.value(QStringLiteral("event")) == QLatin1String("skipped"))
            skipped.insert(event.value(QStringLiteral("file")).toString(), event);
        else if (event.value(QStringLiteral("event")) == QLatin1String("problems"))
            problems = event;
    }
    EXPECT_EQ(problems.value(QStringLiteral("count")).toInt(), 3);
    ASSERT_EQ(skipped.keys(), (QStringList{"../x", "caf\\xe9.txt", "y\nDELE ok.txt"})) << result.out.toStdString();
    EXPECT_EQ(skipped["../x"].value(QStringLiteral("side")).toString(), QStringLiteral("remote"));
    EXPECT_EQ(skipped["caf\\xe9.txt"].value(QStringLiteral("reason")).toString(),
              QStringLiteral("the name is not valid UTF-8"));
    EXPECT_EQ(skipped["y\nDELE ok.txt"].value(QStringLiteral("side")).toString(), QStringLiteral("local"));
    EXPECT_EQ(skipped["y\nDELE ok.txt"].value(QStringLiteral("reason")).toString(),
              QStringLiteral("the name holds a line break or NUL, which cannot be sent to an FTP server"));
}

// The state command reads what the runner's runs would use: the same folder
// below XDG_STATE_HOME and the same pair of folders. The last complete run is
// shown in the runner's own zone; a state that a run holds is never dropped.
TEST_F(CliTest, StateIsShownInLocalTimeAndForgottenOnlyWhenNoRunHoldsIt) {
    const QByteArray savedStateHome = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", QFile::encodeName(environment().value(QStringLiteral("XDG_STATE_HOME"))));
    const auto restore = qScopeGuard([&] { qputenv("XDG_STATE_HOME", savedStateHome); });
    m_clientZone = QStringLiteral("RNR-5"); // five hours east of UTC
    const QString file = createProject(QStringLiteral("Both"), {QStringLiteral("--mode"), QStringLiteral("both")});
    TVellisyncProject project;
    ASSERT_TRUE(project.LoadFromFile(file));
    const engine::StateIdentity identity = engine::stateIdentityOf(project.Settings());
    const QString statePath = engine::SyncState::pathFor(identity);
    const QStringList state{QStringLiteral("state"), QStringLiteral("both")};
    const QStringList forget{QStringLiteral("state"), QStringLiteral("--forget"), QStringLiteral("Both")};
    const QString none = QStringLiteral("No sync state: the next run is a first run.\n");

    CliResult result = cli(state);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, none);

    QDateTime lastRun;
    {
        engine::SyncState::Opened opened = engine::SyncState::open(identity);
        ASSERT_TRUE(opened.state) << opened.logLine.toStdString();
        for (const char* name : {"a.txt", "docs/b.txt", "docs/c.txt"}) {
            engine::FileRecord record;
            record.path = QString::fromLatin1(name);
            ASSERT_TRUE(opened.state->put(record));
        }
        ASSERT_TRUE(opened.state->markRunComplete());
        lastRun = *opened.state->lastCompleteRun();
    }
    result = cli(state);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(result.out,
              QStringLiteral("Files recorded:    3\nLast complete run: %1 (local time)\nState file:        %2\n")
                  .arg(lastRun.toOffsetFromUtc(5 * 3600).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), statePath));

    {
        const engine::RunLock lock(engine::RunTarget{project.LocalFolder, project.Server, project.Port,
                                                     project.UserName, project.RemoteFolder});
        ASSERT_EQ(lock.state(), engine::RunLock::State::Held);
        result = cli(forget);
        EXPECT_EQ(result.exitCode, 2) << result.out.toStdString();
        EXPECT_EQ(result.err,
                  QStringLiteral("vellisync-cli: A run of this project is in progress: its sync state is in use.\n"));
        EXPECT_TRUE(QFile::exists(statePath));
    }
    result = cli(forget);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, QStringLiteral("Sync state forgotten: the next run is a first run.\n"));
    EXPECT_FALSE(QFile::exists(statePath));
    EXPECT_EQ(cli(state).out, none);

    writeFile(statePath, "not a database at all, and long enough to be read as one's header");
    result = cli(state);
    EXPECT_EQ(result.exitCode, 1) << result.out.toStdString();
    EXPECT_TRUE(result.out.startsWith(QStringLiteral("The sync state cannot be read (")));
    EXPECT_TRUE(result.out.contains(QStringLiteral("); the next run moves it aside and starts afresh.\n")))
        << result.out.toStdString();
    EXPECT_TRUE(QFile::exists(statePath)) << "looking never changes it";
}

// --on-conflict and state are checked like every other option: a wrong value
// stops the runner before it loads or changes anything.
TEST_F(CliTest, ConflictAndStateOptionsAreCheckedBeforeAnythingHappens) {
    struct Case {
        QStringList arguments;
        QString expectedError;
        bool usage = true; // followed by the hint to --help
    };
    const Case cases[] = {
        {{"run", "--on-conflict", "newer", "Site"}, "--on-conflict is keep-both, skip, local or remote"},
        {{"run", "--on-conflict", "--dry-run", "Site"}, "option '--on-conflict' needs a value"},
        {{"run", "--on-conflict", "remote", "Missing"}, "no project file or stored project caption 'Missing'", false},
        {{"create", "Site", "--on-conflict", "local", "--local", ".", "--remote", "/"},
         "--on-conflict of create is keep-both or skip"},
        {{"state"}, "state needs exactly one PROJECT"},
        {{"state", "--forgt", "Site"}, "unknown option '--forgt' for state"},
        {{"state", "--forget", "Missing"}, "no project file or stored project caption 'Missing'", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        const CliResult result = cli(c.arguments);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_TRUE(result.err.startsWith("vellisync-cli: " + c.expectedError)) << result.err.toStdString();
        EXPECT_EQ(result.err.endsWith(QStringLiteral("Try 'vellisync-cli --help'.\n")), c.usage);
    }
    const CliResult stored =
        cli({QStringLiteral("create"), QStringLiteral("Site"), QStringLiteral("--on-conflict"), QStringLiteral("skip"),
             QStringLiteral("--local"), QStringLiteral("."), QStringLiteral("--remote"), QStringLiteral("/")});
    ASSERT_EQ(stored.exitCode, 0) << stored.err.toStdString();
    TVellisyncProject project;
    ASSERT_TRUE(project.LoadFromFile(stored.out.trimmed()));
    EXPECT_EQ(project.Conflicts, setting::Conflicts::Skip);
}

// Each command is followed by its own options, so an option listed under
// another command's heading is a fault of the help.
TEST_F(CliTest, HelpShowsEachCommandWithItsOwnOptions) {
    const CliResult result = cli({QStringLiteral("--help")});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.out.startsWith(QStringLiteral("Usage: vellisync-cli COMMAND")));
    struct Section {
        const char* heading;
        QStringList options;
    };
    const Section sections[] = {
        {"\nrun [OPTIONS] PROJECT\n",
         {"--dry-run", "--explain", "--max-delete N", "--on-conflict keep-both|skip|local|remote", "--json"}},
        {"\nlist\n", {}},
        {"\ncreate CAPTION [OPTIONS]\n",
         {"--server HOST", "--port N", "--mode upload|download|both", "--on-conflict keep-both|skip",
          "--trust-fingerprint SHA256"}},
        {"\nstate [--forget] PROJECT\n", {"--forget"}},
        {"\nGeneral options:\n", {"-h, --help", "--version"}},
    };
    qsizetype start = 0;
    for (const Section& section : sections) {
        SCOPED_TRACE(section.heading);
        const qsizetype heading = result.out.indexOf(QString::fromLatin1(section.heading), start);
        ASSERT_GE(heading, start) << result.out.toStdString();
        const qsizetype end = result.out.indexOf(QStringLiteral("\n\n"), heading + 1);
        const QString text = result.out.mid(heading, end < 0 ? -1 : end - heading);
        for (const QString& option : section.options)
            EXPECT_TRUE(text.contains(QStringLiteral("\n  ") + option)) << option.toStdString();
        start = heading + 1;
    }
}

} // namespace

// Times either side of UTC: what was uploaded or downloaded is the same on
// both sides afterwards, an old file comes down with its exact second, and
// only a real edit moves a file again.
TEST_P(ServerTimeTest, TimesAgreeOnBothSidesInEveryZone) {
    m_clientZone = QString::fromLatin1(GetParam().clientZone);
    FtpTestServerOptions options;
    options.mlsd = GetParam().mlsd;
    options.extraArguments = {QStringLiteral("--list-zone"), QStringLiteral("SRV-2")};
    startServer(options);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const qint64 old = QDateTime(QDate(2024, 1, 2), QTime(10, 20, 30), Qt::UTC).toSecsSinceEpoch();
    writeFile(remote() + QStringLiteral("/old.txt"), "old");
    setMtime(remote() + QStringLiteral("/old.txt"), old);
    writeFile(remote() + QStringLiteral("/recent.txt"), "recent");
    setMtime(remote() + QStringLiteral("/recent.txt"), now - 3 * 3600 + 7);
    writeFile(local() + QStringLiteral("/mine.txt"), "mine");
    setMtime(local() + QStringLiteral("/mine.txt"), now - 2 * 3600 + 11);
    const QString file = createProject(QStringLiteral("Zones"), {QStringLiteral("--mode"), QStringLiteral("both")});

    const CliResult first = cli({QStringLiteral("run"), file});
    EXPECT_EQ(first.exitCode, 0) << first.out.toStdString();
    EXPECT_TRUE(first.out.contains(QStringLiteral("; 2 files has been downloaded, 1 files has been uploaded.")))
        << first.out.toStdString();
    EXPECT_FALSE(first.out.contains(QStringLiteral("could not be learnt"))) << first.out.toStdString();
    EXPECT_EQ(mtimeOf(local() + QStringLiteral("/old.txt")), old);
    EXPECT_EQ(mtimeOf(local() + QStringLiteral("/recent.txt")) / 60,
              mtimeOf(remote() + QStringLiteral("/recent.txt")) / 60);
    EXPECT_EQ(mtimeOf(remote() + QStringLiteral("/mine.txt")), mtimeOf(local() + QStringLiteral("/mine.txt")));

    const CliResult second = cli({QStringLiteral("run"), file});
    EXPECT_TRUE(second.out.contains(QStringLiteral("; 0 files has been downloaded, 0 files has been uploaded.")))
        << second.out.toStdString();

    writeFile(local() + QStringLiteral("/mine.txt"), "edited");
    setMtime(local() + QStringLiteral("/mine.txt"), now - 60);
    const CliResult edited = cli({QStringLiteral("run"), QStringLiteral("--explain"), file});
    EXPECT_TRUE(edited.out.contains(QStringLiteral("; 0 files has been downloaded, 1 files has been uploaded.")))
        << edited.out.toStdString();
    EXPECT_EQ(readFile(remote() + QStringLiteral("/mine.txt")), "edited");
    const auto minute = [](qint64 seconds) {
        return QDateTime::fromSecsSinceEpoch(seconds, QTimeZone(GetParam().clientOffsetHours * 3600))
            .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    };
    EXPECT_TRUE(edited.out.contains(QStringLiteral("/mine.txt has been uploaded (local %1, remote %2)")
                                        .arg(minute(now - 60), minute(now - 2 * 3600 + 11))))
        << edited.out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Zones, ServerTimeTest,
                         ::testing::Values(ZoneCase{"WEST5", -5, true}, ZoneCase{"WEST5", -5, false},
                                           ZoneCase{"EAST-9", 9, true}, ZoneCase{"EAST-9", 9, false}),
                         [](const ::testing::TestParamInfo<ZoneCase>& info) {
                             return std::string(info.param.clientZone[0] == 'W' ? "West" : "East") +
                                    (info.param.mlsd ? "Mlsd" : "List");
                         });

// A server that can neither set a time nor teach its listing zone: each is
// said once, the run goes on, and the old file still gets its exact time.
TEST_F(CliTest, ServerWithoutTimeCommandsIsNotedOnce) {
    FtpTestServerOptions options;
    options.mlsd = false;
    options.extraArguments = {QStringLiteral("--no-mfmt")};
    startServer(options);
    const qint64 old = QDateTime(QDate(2024, 3, 1), QTime(9, 0, 5), Qt::UTC).toSecsSinceEpoch();
    writeFile(remote() + QStringLiteral("/old.txt"), "old");
    setMtime(remote() + QStringLiteral("/old.txt"), old);
    for (int i = 0; i < 6; ++i)
        writeFile(local() + QStringLiteral("/up%1.txt").arg(i), "up");
    const QString file = createProject(QStringLiteral("Plain"), {QStringLiteral("--mode"), QStringLiteral("both")});

    const CliResult result = cli({QStringLiteral("run"), file});
    EXPECT_EQ(result.exitCode, 0) << result.out.toStdString();
    EXPECT_TRUE(result.out.contains(QStringLiteral("; 1 files has been downloaded, 6 files has been uploaded.")));
    EXPECT_EQ(result.out.count(QStringLiteral("The server cannot set the modification time of a file")), 1)
        << result.out.toStdString();
    EXPECT_EQ(result.out.count(QStringLiteral("could not be learnt (no file is listed with a time of day)")), 1)
        << result.out.toStdString();
    EXPECT_EQ(mtimeOf(local() + QStringLiteral("/old.txt")), old);
}

// One run with a transfer, a deletion and a refused upload, shown in each of
// the runner's forms: JSON events whose counts match the summary (and the
// log file alongside), then --quiet with only the lines that need a reader.
// A second two-way run decides by what the first one left: a dry run says
// why (and leaves the state as it was), and the real run reports the conflict.
TEST_F(CliTest, RunsThatRememberSayWhyAndReportConflicts) {
    startServer();
    const qint64 base = QDateTime::currentSecsSinceEpoch() - 3600;
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        writeFile(local() + QLatin1Char('/') + QLatin1String(name), "base");
        setMtime(local() + QLatin1Char('/') + QLatin1String(name), base);
    }
    const QString file = createProject(QStringLiteral("Remember"), {QStringLiteral("--mode"), QStringLiteral("both")});
    ASSERT_EQ(cli({QStringLiteral("run"), file}).exitCode, 0);
    writeFile(local() + QStringLiteral("/a.txt"), "local edit");
    setMtime(local() + QStringLiteral("/a.txt"), base + 600);
    writeFile(remote() + QStringLiteral("/a.txt"), "remote edit!");
    setMtime(remote() + QStringLiteral("/a.txt"), base + 1200);
    QFile::remove(remote() + QStringLiteral("/b.txt"));
    writeFile(local() + QStringLiteral("/c.txt"), "c edited");
    setMtime(local() + QStringLiteral("/c.txt"), base + 600);
    const QString statePath =
        m_work.filePath(QStringLiteral("state")) + QStringLiteral("/vellisync/") +
        QFileInfo(
            engine::SyncState::pathFor(engine::StateIdentity{local(), QStringLiteral("127.0.0.1"), m_server->port(),
                                                             QStringLiteral("tester"), QStringLiteral("/")}))
            .fileName();
    ASSERT_TRUE(QFileInfo::exists(statePath)) << statePath.toStdString();
    const QByteArray stateBefore = readFile(statePath);

    const CliResult dry = cli({QStringLiteral("run"), QStringLiteral("--dry-run"), file});
    EXPECT_EQ(dry.exitCode, 0) << dry.out.toStdString();
    for (const QString& line :
         {QStringLiteral("Would upload c.txt (local "), QStringLiteral(") (changed locally since the last run)"),
          QStringLiteral("Would delete local file b.txt (deleted on the server since the last run)"),
          QStringLiteral("Would keep both versions of a.txt: the remote one under its name, the other as a.conflict-"),
          QStringLiteral("(conflict: changed on both sides)")})
        EXPECT_TRUE(dry.out.contains(line)) << line.toStdString() << "\n" << dry.out.toStdString();
    EXPECT_EQ(readFile(statePath), stateBefore) << "a dry run writes nothing of the state";

    const CliResult json = cli({QStringLiteral("run"), QStringLiteral("--json"), file});
    EXPECT_EQ(json.exitCode, 0) << json.out.toStdString();
    QJsonObject conflict, summary;
    for (const QString& line : json.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
        if (event.value(QStringLiteral("event")) == QLatin1String("conflict"))
            conflict = event;
        else if (event.value(QStringLiteral("event")) == QLatin1String("summary"))
            summary = event;
    }
    EXPECT_EQ(conflict.value(QStringLiteral("file")).toString(), QStringLiteral("a.txt")) << json.out.toStdString();
    EXPECT_EQ(conflict.value(QStringLiteral("kept")).toString(), QStringLiteral("remote"));
    const QString copy = conflict.value(QStringLiteral("copy")).toString();
    EXPECT_EQ(readFile(local() + QLatin1Char('/') + copy), "local edit") << copy.toStdString();
    EXPECT_EQ(summary.value(QStringLiteral("conflicts")).toInt(), 1);
    EXPECT_EQ(summary.value(QStringLiteral("deleted")).toInt(), 1);
    EXPECT_EQ(readFile(remote() + QStringLiteral("/c.txt")), "c edited");
    EXPECT_FALSE(QFileInfo::exists(local() + QStringLiteral("/b.txt")));
}

TEST_F(CliTest, JsonQuietAndLogFileReportTheSameRun) {
    FtpTestServerOptions options;
    options.readOnlyDirs << QStringLiteral("locked");
    startServer(options);
    QDir(remote()).mkpath(QStringLiteral("locked"));
    writeFile(remote() + QStringLiteral("/stale.txt"), "old");
    // A name that would set the terminal's title and start a C1 sequence.
    const QString hostile = QStringLiteral("st\x1b]0;X\x07\u009b.txt");
    writeFile(remote() + QLatin1Char('/') + hostile, "old");
    writeFile(local() + QStringLiteral("/a.txt"), "aaa");
    writeFile(local() + QStringLiteral("/b.txt"), "bb");
    writeFile(local() + QStringLiteral("/locked/c.txt"), "c");
    createProject(QStringLiteral("Events"),
                  {QStringLiteral("--mode"), QStringLiteral("upload"), QStringLiteral("--exact"),
                   QStringLiteral("--encryption"), QStringLiteral("none")});
    const QString logFile = m_work.filePath(QStringLiteral("run.log"));

    const CliResult json = cli({QStringLiteral("run"), QStringLiteral("--json"), QStringLiteral("--log-file"), logFile,
                                QStringLiteral("Events")});
    EXPECT_EQ(json.exitCode, 1) << json.out.toStdString();
    EXPECT_FALSE(json.err.contains(QLatin1Char('\r'))) << "no progress line without a terminal";
    const auto hasRawControl = [](const QByteArray& bytes) {
        const QString text = QString::fromUtf8(bytes);
        return std::any_of(text.cbegin(), text.cend(), [](QChar c) {
            return (c.unicode() < 0x20 && c != QLatin1Char('\n') && c != QLatin1Char('\r')) ||
                   (c.unicode() >= 0x7f && c.unicode() < 0xa0);
        });
    };
    EXPECT_FALSE(hasRawControl(json.out.toUtf8())) << json.out.toStdString();
    EXPECT_FALSE(hasRawControl(readFile(logFile)));
    QMap<QString, int> events;
    QStringList deleted;
    QJsonObject summary, problems, failure;
    qint64 bytes = 0;
    for (const QString& line : json.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QJsonParseError error;
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8(), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        const QString type = event.value(QStringLiteral("event")).toString();
        ++events[type];
        if (type == QLatin1String("transfer"))
            bytes += event.value(QStringLiteral("bytes")).toInteger();
        else if (type == QLatin1String("deletion"))
            deleted << event.value(QStringLiteral("file")).toString();
        else if (type == QLatin1String("summary"))
            summary = event;
        else if (type == QLatin1String("problems"))
            problems = event;
        else if (type == QLatin1String("failure"))
            failure = event;
    }
    EXPECT_EQ(events.value(QStringLiteral("transfer")), summary.value(QStringLiteral("uploaded")).toInt());
    EXPECT_EQ(events.value(QStringLiteral("transfer")), 2);
    EXPECT_EQ(bytes, 5);
    EXPECT_EQ(events.value(QStringLiteral("deletion")), summary.value(QStringLiteral("deleted")).toInt());
    EXPECT_EQ(events.value(QStringLiteral("deletion")), 2);
    EXPECT_TRUE(deleted.contains(hostile)) << "the JSON keeps the name itself, escaped";
    EXPECT_EQ(events.value(QStringLiteral("failure")), summary.value(QStringLiteral("failed")).toInt());
    EXPECT_EQ(failure.value(QStringLiteral("file")).toString(), QStringLiteral("locked/c.txt"));
    EXPECT_TRUE(failure.value(QStringLiteral("reply")).toString().startsWith(QStringLiteral("553")))
        << failure.value(QStringLiteral("reply")).toString().toStdString();
    EXPECT_EQ(problems.value(QStringLiteral("count")).toInt(), 1);
    EXPECT_EQ(problems.value(QStringLiteral("exitStatus")).toInt(), 1);

    const QStringList logged = QString::fromUtf8(readFile(logFile)).split(QStringLiteral("\r\n"));
    EXPECT_TRUE(logged.constLast().isEmpty()) << "every line ends with CR LF";
    EXPECT_TRUE(logged.filter(QStringLiteral("; 2 files has been uploaded, 2 files has been deleted.")).size() == 1);
    EXPECT_TRUE(logged.filter(QStringLiteral("; Collecting local files...")).size() == 1);

    // Nothing is newer now; the refused upload fails again.
    const CliResult quiet = cli({QStringLiteral("run"), QStringLiteral("--quiet"), QStringLiteral("Events")});
    EXPECT_EQ(quiet.exitCode, 1);
    const QStringList lines = quiet.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << quiet.out.toStdString();
    EXPECT_TRUE(lines[0].contains(QStringLiteral("c.txt') fails with message: 553"))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("; 0 files has been uploaded, 0 files has been deleted.")));
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral("; This run met 1 problem(s): see the lines above.")));
}

// More planned deletions than allowed: nothing is transferred or deleted on
// either side; the limit itself still lets the run go ahead.
TEST_F(CliTest, MaxDeleteWithholdsEveryActionBeyondTheLimit) {
    startServer();
    for (const char* name : {"/old1.txt", "/old2.txt", "/old3.txt"})
        writeFile(remote() + QLatin1String(name), "old");
    writeFile(local() + QStringLiteral("/new.txt"), "new");
    createProject(QStringLiteral("Guarded"),
                  {QStringLiteral("--mode"), QStringLiteral("upload"), QStringLiteral("--exact")});
    const QStringList remoteBefore = treeOf(remote());
    const QStringList localBefore = treeOf(local());

    const CliResult refused =
        cli({QStringLiteral("run"), QStringLiteral("--max-delete"), QStringLiteral("2"), QStringLiteral("Guarded")});
    EXPECT_EQ(refused.exitCode, 2) << refused.out.toStdString();
    EXPECT_TRUE(refused.out.contains(QStringLiteral("the run would delete 3 files, more than the limit of 2")));
    EXPECT_EQ(treeOf(remote()), remoteBefore);
    EXPECT_EQ(treeOf(local()), localBefore);

    const CliResult allowed =
        cli({QStringLiteral("run"), QStringLiteral("--max-delete"), QStringLiteral("3"), QStringLiteral("Guarded")});
    EXPECT_EQ(allowed.exitCode, 0) << allowed.out.toStdString();
    EXPECT_EQ(treeOf(remote()), QStringList{QStringLiteral("new.txt")});
}

// A project stored without a password runs with the one given on standard
// input, which is never written to the project file.
TEST_F(CliTest, RunPasswordFromStdinHoldsForThatRunOnly) {
    startServer();
    writeFile(local() + QStringLiteral("/a.txt"), "a");
    const CliResult created =
        cli({QStringLiteral("create"), QStringLiteral("Secretless"), QStringLiteral("--server"),
             QStringLiteral("127.0.0.1"), QStringLiteral("--port"), QString::number(m_server->port()),
             QStringLiteral("--user"), QStringLiteral("tester"), QStringLiteral("--password-stdin"),
             QStringLiteral("--passive"), QStringLiteral("--remote"), QStringLiteral("/"), QStringLiteral("--local"),
             local()},
            "\n");
    ASSERT_EQ(created.exitCode, 0) << created.err.toStdString();
    const QString file = created.out.trimmed();
    const QByteArray stored = readFile(file);

    EXPECT_EQ(cli({QStringLiteral("run"), file}).exitCode, 2) << "no password: the logon fails";
    const CliResult run = cli({QStringLiteral("run"), QStringLiteral("--password-stdin"), file}, "secret\n");
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
    EXPECT_EQ(readFile(remote() + QStringLiteral("/a.txt")), "a");
    EXPECT_EQ(readFile(file), stored);
}

// On a terminal, standard error carries one progress line drawn in place and
// ended with the final counts; standard output keeps the plain log.
TEST_F(CliTest, ProgressLineOnlyOnATerminal) {
    startServer();
    writeFile(local() + QStringLiteral("/a.txt"), "a");
    const QString file = createProject(QStringLiteral("Shown"), {QStringLiteral("--mode"), QStringLiteral("upload")});

    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(QStringLiteral("/usr/bin/python3"),
                  {testSupportPath(QStringLiteral("tty_stderr.py")), CliPath, QStringLiteral("run"), file});
    ASSERT_TRUE(process.waitForFinished(120'000));
    EXPECT_EQ(process.exitCode(), 0);
    const QString terminal = QString::fromUtf8(process.readAllStandardError());
    const QString log = QString::fromUtf8(process.readAllStandardOutput());
    EXPECT_TRUE(terminal.contains(QStringLiteral("\r\x1b[K1 of 1 files, 1 B of 1 B"))) << terminal.toStdString();
    EXPECT_TRUE(terminal.endsWith(QStringLiteral("\r\n"))) << terminal.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("; 1 files has been uploaded.")));
    EXPECT_FALSE(log.contains(QLatin1Char('\r')));
}

// A self-signed certificate stops the run before the password goes, with the
// fingerprint in its one line; pinned (in any written form) it is accepted,
// and a pin of another certificate is refused as a changed certificate.
TEST_F(CliTest, ServerCertificateIsRefusedUntilPinnedAndAChangeIsRefused) {
    const std::optional<TestCertificate> certificate = makeTestCertificate(m_work.path(), QStringLiteral("server"));
    const std::optional<TestCertificate> other = makeTestCertificate(m_work.path(), QStringLiteral("other"));
    ASSERT_TRUE(certificate && other);
    FtpTestServerOptions options;
    options.tlsCertificate = certificate->combinedFile;
    options.tlsRequired = true;
    options.logCommands = true;
    startServer(options);
    writeFile(remote() + QStringLiteral("/page.html"), "<p>secret</p>");
    const QString fingerprint = inet::fingerprintText(certificate->sha256);
    const QStringList download{QStringLiteral("--mode"), QStringLiteral("download")};

    createProject(QStringLiteral("Secure"), download);
    CliResult result = cli({QStringLiteral("run"), QStringLiteral("Secure")});
    EXPECT_EQ(result.exitCode, 2) << result.out.toStdString();
    const QStringList refused = result.out.split(QLatin1Char('\n')).filter(QStringLiteral("SHA-256 fingerprint: "));
    ASSERT_EQ(refused.size(), 1) << result.out.toStdString();
    EXPECT_TRUE(refused.front().endsWith(fingerprint)) << refused.front().toStdString();
    EXPECT_TRUE(refused.front().contains(QStringLiteral("not trusted")));
    EXPECT_FALSE(QFile::exists(local() + QStringLiteral("/page.html")));

    createProject(QStringLiteral("Secure"), download + QStringList{QStringLiteral("--trust-fingerprint"),
                                                                   QString::fromLatin1(other->sha256.toHex())});
    result = cli({QStringLiteral("run"), QStringLiteral("Secure")});
    EXPECT_EQ(result.exitCode, 2) << result.out.toStdString();
    EXPECT_TRUE(result.out.contains(QStringLiteral("has changed"))) << result.out.toStdString();

    createProject(QStringLiteral("Secure"),
                  download + QStringList{QStringLiteral("--trust-fingerprint"), fingerprint.toLower()});
    result = cli({QStringLiteral("run"), QStringLiteral("Secure")});
    EXPECT_EQ(result.exitCode, 0) << result.out.toStdString();
    EXPECT_EQ(readFile(local() + QStringLiteral("/page.html")), "<p>secret</p>");
    EXPECT_FALSE(m_server->serverLog().contains(QStringLiteral("PASS **** [clear]")));
}

// A new project asks for TLS when offered: against a server without it the
// run goes on with one line however many connections log on; with TLS
// required it stops before the logon.
TEST_F(CliTest, ServerWithoutTlsFallsBackOnceOrStopsWhenTlsIsRequired) {
    FtpTestServerOptions options;
    options.logCommands = true;
    startServer(options);
    for (int i = 0; i < 8; ++i)
        writeFile(local() + QStringLiteral("/f%1.txt").arg(i), QByteArray(1000 + i, 'x'));
    createProject(QStringLiteral("Plain"), {QStringLiteral("--mode"), QStringLiteral("upload")});
    CliResult result = cli({QStringLiteral("run"), QStringLiteral("Plain")});
    EXPECT_EQ(result.exitCode, 0) << result.out.toStdString();
    EXPECT_EQ(result.out.count(QStringLiteral("; The server does not offer TLS (it refused AUTH TLS): the connection "
                                              "goes on unencrypted, the password and the files in clear text.\n")),
              1)
        << result.out.toStdString();
    EXPECT_EQ(result.out.count(QStringLiteral(" has been uploaded\n")), 8) << result.out.toStdString();

    createProject(QStringLiteral("Plain"), {QStringLiteral("--mode"), QStringLiteral("upload"),
                                            QStringLiteral("--encryption"), QStringLiteral("require")});
    const qsizetype logonsBefore = m_server->serverLog().count(QStringLiteral("COMMAND USER"));
    result = cli({QStringLiteral("run"), QStringLiteral("Plain")});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(result.out.contains(QStringLiteral("InternetConnect fails with message: The server does not offer "
                                                   "TLS (it refused AUTH TLS)")))
        << result.out.toStdString();
    EXPECT_EQ(m_server->serverLog().count(QStringLiteral("COMMAND USER")), logonsBefore);
}

TEST_F(CliTest, CreateStoresTheEncryptionChoice) {
    struct Case {
        QStringList options;
        const char* encryptionLine; // nullptr: no such key
        const char* portLine;
    };
    const Case cases[] = {
        {{}, "Encryption=INTEGER|1", "Port=INTEGER|21"},
        {{"--encryption", "none"}, nullptr, "Port=INTEGER|21"},
        {{"--encryption", "implicit"}, "Encryption=INTEGER|3", "Port=INTEGER|990"},
        {{"--encryption", "implicit", "--port", "2990"}, "Encryption=INTEGER|3", "Port=INTEGER|2990"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.join(' ').toStdString());
        const CliResult result =
            cli(QStringList{QStringLiteral("create"), QStringLiteral("Choice"), QStringLiteral("--remote"),
                            QStringLiteral("/"), QStringLiteral("--local"), local()} +
                c.options);
        ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
        const QByteArray stored = readFile(result.out.trimmed());
        EXPECT_EQ(stored.contains("Encryption="), c.encryptionLine != nullptr) << stored.toStdString();
        if (c.encryptionLine) {
            EXPECT_TRUE(stored.contains(c.encryptionLine)) << stored.toStdString();
        }
        EXPECT_TRUE(stored.contains(c.portLine)) << stored.toStdString();
    }
    for (const QStringList& bad : {QStringList{"--encryption", "tls"}, QStringList{"--trust-fingerprint", "12:34"},
                                   QStringList{"--trust-fingerprint"}}) {
        const CliResult result =
            cli(QStringList{QStringLiteral("create"), QStringLiteral("Bad"), QStringLiteral("--remote"),
                            QStringLiteral("/"), QStringLiteral("--local"), local()} +
                bad);
        EXPECT_EQ(result.exitCode, 2) << bad.join(' ').toStdString();
        EXPECT_FALSE(result.err.isEmpty());
    }
}
