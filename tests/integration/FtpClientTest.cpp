// The FTP client service end to end: a real pyftpdlib server on loopback,
// directly and through real proxies (microsocks, the Debian ftp-proxy).
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <map>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "inet/FtpService.h"
#include "support/FtpTestServer.h"
#include "support/ProxyProcesses.h"
#include "support/TestFiles.h"

using namespace inet;
using namespace std::chrono_literals;

namespace {

// Generous limits: only the tests that stall the server ever reach them.
const Timeouts generousTimeouts{20s, 30s, 30s};

QByteArray everyByteValue() {
    QByteArray bytes;
    for (int round = 0; round < 4; ++round)
        for (int value = 0; value < 256; ++value)
            bytes.append(char(value));
    return bytes;
}

QByteArray pseudoRandomBytes(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(20261207);
    generator.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

std::vector<FindData> listAll(FtpConnection& connection) {
    std::vector<FindData> entries;
    FindData entry;
    std::unique_ptr<FtpFind> find = connection.findFirstFile(QStringLiteral("*.*"), entry);
    if (!find) {
        EXPECT_EQ(connection.lastError(), ErrorNoMoreFiles) << connection.lastResponseInfo().toStdString();
        return entries;
    }
    do
        entries.push_back(entry);
    while (find->findNext(entry));
    EXPECT_EQ(find->lastError(), ErrorNoMoreFiles);
    std::sort(entries.begin(), entries.end(), [](const FindData& a, const FindData& b) { return a.name < b.name; });
    return entries;
}

QStringList namesOf(const std::vector<FindData>& entries) {
    QStringList names;
    for (const FindData& entry : entries)
        names << entry.name;
    return names;
}

std::string reply(const FtpConnection& connection) {
    return connection.lastResponseInfo().toStdString();
}

std::string failureText(const Failure& failure) {
    return std::to_string(failure.code) + " " + failure.lastResponseInfo.toStdString();
}

// The names of temporary files of ours in a folder.
QStringList tempFilesIn(const QString& folder) {
    QStringList found;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        if (isTransferTempName(name))
            found << name;
    return found;
}

bool transcriptContains(const FtpConnection& connection, const QString& command) {
    const auto& transcript = connection.transcript();
    return std::find(transcript.begin(), transcript.end(), command) != transcript.end();
}

} // namespace

class FtpClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.isValid());
        ASSERT_TRUE(m_local.isValid());
    }

    void startServer(FtpTestServerOptions options = {}) {
        options.root = m_root.path();
        m_server = std::make_unique<FtpTestServer>(options);
        ASSERT_TRUE(m_server->start()) << m_server->errorText().toStdString();
    }

    std::unique_ptr<InternetSession> openSession(const QString& proxy = {}, Timeouts timeouts = generousTimeouts) {
        auto session = InternetSession::open(QStringLiteral("Vellisync"),
                                             proxy.isEmpty() ? AccessType::Preconfigured : AccessType::Proxy, proxy)
                           .session;
        if (session)
            session->setTimeouts(timeouts);
        return session;
    }

    std::unique_ptr<FtpConnection> connectTo(InternetSession& session, bool passive = true,
                                             const QString& user = QStringLiteral("tester"),
                                             const QString& password = QStringLiteral("secret")) {
        ConnectResult logon = session.connect(m_server->host(), m_server->port(), user, password, passive);
        m_logonFailure = logon.failure;
        return std::move(logon.connection);
    }

    QString serverPath(const QString& relative) const { return m_root.filePath(relative); }
    QString localPath(const QString& relative) const { return m_local.filePath(relative); }

    // Uploads `content` as `remoteName` in the current folder (which is
    // `serverFolder` on disk), checks the server's copy, downloads it again
    // and checks that copy; neither side keeps a temporary file.
    void roundTrip(FtpConnection& connection, const QString& serverFolder, const QString& remoteName,
                   const QByteArray& content) {
        const QString source = localPath(QStringLiteral("up/") + remoteName);
        const QString target = localPath(QStringLiteral("down/") + remoteName);
        ASSERT_NO_FATAL_FAILURE(writeFile(source, content));
        QDir().mkpath(QFileInfo(target).path());
        ASSERT_TRUE(connection.putFile(source, remoteName)) << connection.lastError() << " " << reply(connection);
        EXPECT_TRUE(readFile(QDir(serverFolder).filePath(remoteName)) == content) << remoteName.toStdString();
        ASSERT_TRUE(connection.getFile(remoteName, target, false))
            << connection.lastError() << " " << reply(connection);
        EXPECT_TRUE(readFile(target) == content) << remoteName.toStdString();
        EXPECT_EQ(tempFilesIn(serverFolder), QStringList());
        EXPECT_EQ(tempFilesIn(QFileInfo(target).path()), QStringList());
    }

    QTemporaryDir m_root;
    QTemporaryDir m_local;
    std::unique_ptr<FtpTestServer> m_server;
    // Why the last connectTo() brought no connection.
    Failure m_logonFailure;
};

// --- logon and folders -------------------------------------------------------

struct LogonCase {
    const char* name;
    bool passive;
    bool anonymous;
};

class FtpLogonTest : public FtpClientTest, public ::testing::WithParamInterface<LogonCase> {};

TEST_P(FtpLogonTest, LogsOnAndWalksFolders) {
    const LogonCase& param = GetParam();
    FtpTestServerOptions options;
    options.anonymous = param.anonymous;
    ASSERT_NO_FATAL_FAILURE(startServer(options));
    QDir(m_root.path()).mkpath(QStringLiteral("pub/inner"));
    auto session = openSession();
    ASSERT_TRUE(session);
    auto connection = param.anonymous ? connectTo(*session, param.passive, QStringLiteral("anonymous"), QString())
                                      : connectTo(*session, param.passive);
    ASSERT_TRUE(connection) << failureText(m_logonFailure);

    QString folder;
    ASSERT_TRUE(connection->getCurrentDirectory(folder));
    EXPECT_EQ(folder, QStringLiteral("/"));
    ASSERT_TRUE(connection->setCurrentDirectory(QStringLiteral("pub")));
    ASSERT_TRUE(connection->setCurrentDirectory(QStringLiteral("inner")));
    ASSERT_TRUE(connection->getCurrentDirectory(folder));
    EXPECT_EQ(folder, QStringLiteral("/pub/inner"));
    ASSERT_TRUE(connection->setCurrentDirectory(QStringLiteral("..")));
    ASSERT_TRUE(connection->getCurrentDirectory(folder));
    EXPECT_EQ(folder, QStringLiteral("/pub"));
    ASSERT_TRUE(connection->setCurrentDirectory(QStringLiteral("/pub/inner")));
    ASSERT_TRUE(connection->getCurrentDirectory(folder));
    EXPECT_EQ(folder, QStringLiteral("/pub/inner"));
    // A listing needs a data connection in the chosen mode.
    EXPECT_TRUE(listAll(*connection).empty());
    EXPECT_EQ(transcriptContains(*connection, QStringLiteral("EPSV")), param.passive);

    EXPECT_TRUE(transcriptContains(*connection, QStringLiteral("TYPE I")));
    if (!param.anonymous) {
        EXPECT_TRUE(transcriptContains(*connection, QStringLiteral("PASS ****")));
        for (const QString& command : connection->transcript())
            EXPECT_FALSE(command.contains(QStringLiteral("secret"))) << command.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpLogonTest,
                         ::testing::Values(LogonCase{"PassiveUser", true, false}, LogonCase{"ActiveUser", false, false},
                                           LogonCase{"PassiveAnonymous", true, true},
                                           LogonCase{"ActiveAnonymous", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FtpClientTest, WrongPasswordGivesTheServersReply) {
    ASSERT_NO_FATAL_FAILURE(startServer());
    auto session = openSession();
    EXPECT_FALSE(connectTo(*session, true, QStringLiteral("tester"), QStringLiteral("wrong")));
    EXPECT_EQ(m_logonFailure.code, ErrorExtendedError);
    EXPECT_TRUE(m_logonFailure.lastResponseInfo.startsWith(QStringLiteral("530 "))) << failureText(m_logonFailure);
    EXPECT_TRUE(m_logonFailure.lastResponseInfo.endsWith(QStringLiteral("\r\n")));
}

// A name that does not resolve and a port where nothing listens each fail
// the logon with their own code, through whatever the session goes.
void expectUnreachableCodes(InternetSession& session) {
    ConnectResult logon =
        session.connect(QStringLiteral("no-such-host.invalid"), 21, QStringLiteral("u"), QStringLiteral("p"), true);
    EXPECT_FALSE(logon.connection);
    EXPECT_EQ(logon.failure.code, ErrorNameNotResolved);
    logon = session.connect(QStringLiteral("127.0.0.1"), freeLoopbackPort(), QStringLiteral("u"), QStringLiteral("p"),
                            true);
    EXPECT_FALSE(logon.connection);
    EXPECT_EQ(logon.failure.code, ErrorCannotConnect);
}

TEST_F(FtpClientTest, UnreachableServersGiveTheirCodes) {
    auto session = openSession();
    expectUnreachableCodes(*session);
    EXPECT_FALSE(errorDescription(ErrorNameNotResolved).isEmpty());
    EXPECT_FALSE(errorDescription(ErrorCannotConnect).isEmpty());
}

TEST_F(FtpClientTest, RefusedFolderKeepsTheCurrentOne) {
    FtpTestServerOptions options;
    options.denyCwd = QStringList{QStringLiteral("locked")};
    ASSERT_NO_FATAL_FAILURE(startServer(options));
    QDir(m_root.path()).mkpath(QStringLiteral("locked"));
    auto session = openSession();
    auto connection = connectTo(*session);
    ASSERT_TRUE(connection);
    EXPECT_FALSE(connection->setCurrentDirectory(QStringLiteral("locked")));
    EXPECT_EQ(connection->lastError(), ErrorExtendedError);
    EXPECT_EQ(connection->lastResponseInfo(), QStringLiteral("550 Permission denied.\r\n"));
    EXPECT_FALSE(connection->setCurrentDirectory(QStringLiteral("missing")));
    EXPECT_EQ(connection->lastError(), ErrorExtendedError);
    QString folder;
    ASSERT_TRUE(connection->getCurrentDirectory(folder));
    EXPECT_EQ(folder, QStringLiteral("/"));
}

TEST_F(FtpClientTest, ServerRefusalsCarryTheReply) {
    FtpTestServerOptions options;
    options.readOnlyDirs = QStringList{QStringLiteral("ro")};
    ASSERT_NO_FATAL_FAILURE(startServer(options));
    QDir(m_root.path()).mkpath(QStringLiteral("ro"));
    auto session = openSession();
    auto connection = connectTo(*session);
    ASSERT_TRUE(connection);

    ASSERT_TRUE(connection->createDirectory(QStringLiteral("made")));
    EXPECT_TRUE(QFileInfo(serverPath(QStringLiteral("made"))).isDir());
    EXPECT_FALSE(connection->createDirectory(QStringLiteral("made")));
    EXPECT_EQ(connection->lastError(), ErrorExtendedError);
    EXPECT_TRUE(connection->lastResponseInfo().startsWith(QStringLiteral("550 "))) << reply(*connection);

    EXPECT_FALSE(connection->deleteFile(QStringLiteral("nothing.txt")));
    EXPECT_EQ(connection->lastError(), ErrorExtendedError);
    EXPECT_TRUE(connection->lastResponseInfo().startsWith(QStringLiteral("550 "))) << reply(*connection);

    // A refused upload (vsftpd and Pure-FTPd say 553) leaves nothing behind,
    // and its clean-up does not hide the refusal.
    ASSERT_NO_FATAL_FAILURE(writeFile(localPath(QStringLiteral("a.txt")), "content"));
    EXPECT_FALSE(connection->putFile(localPath(QStringLiteral("a.txt")), QStringLiteral("ro/a.txt")));
    EXPECT_EQ(connection->lastError(), ErrorExtendedError);
    EXPECT_TRUE(connection->lastResponseInfo().startsWith(QStringLiteral("553 "))) << reply(*connection);
    EXPECT_TRUE(QDir(serverPath(QStringLiteral("ro")))
                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());

    ASSERT_TRUE(connection->putFile(localPath(QStringLiteral("a.txt")), QStringLiteral("a.txt")));
    ASSERT_TRUE(connection->deleteFile(QStringLiteral("a.txt")));
    EXPECT_FALSE(QFileInfo::exists(serverPath(QStringLiteral("a.txt"))));
}

// Once the way to set times is known, an upload's final reply is read with
// the connection's next command, and the rename into place that it allows
// rides with the one after; a refused rename fails its file alone and leaves
// nothing behind.
TEST_F(FtpClientTest, PlacementsRideWithTheNextCommand) {
    FtpTestServerOptions options;
    options.extraArguments = {QStringLiteral("--refuse-rename-to"), QStringLiteral("c.txt")};
    ASSERT_NO_FATAL_FAILURE(startServer(options));
    std::map<QString, PlacedUpload> placed; // outlives the connection, which may still report
    auto session = openSession();
    auto connection = connectTo(*session);
    ASSERT_TRUE(connection);
    const auto put = [&](const QString& name) {
        EXPECT_NO_FATAL_FAILURE(writeFile(localPath(name), name.toUtf8()));
        return connection->putFileQueuingPlacement(localPath(name), name, {}, false, false,
                                                   [&placed, name](const PlacedUpload& p) { placed[name] = p; });
    };
    ASSERT_TRUE(put(QStringLiteral("a.txt")));
    ASSERT_EQ(placed.count(QStringLiteral("a.txt")), 1u) << "the first learns how times are set: placed at once";
    for (const QString& name : {QStringLiteral("b.txt"), QStringLiteral("c.txt")}) {
        ASSERT_TRUE(put(name));
        EXPECT_EQ(placed.count(name), 0u);
        EXPECT_FALSE(QFileInfo::exists(serverPath(name))) << "not renamed yet";
    }
    ASSERT_TRUE(put(QStringLiteral("d.txt")));
    ASSERT_EQ(placed.count(QStringLiteral("b.txt")), 1u) << "placed with a later command";
    EXPECT_TRUE(placed[QStringLiteral("b.txt")].ok);
    EXPECT_TRUE(placed[QStringLiteral("b.txt")].storedTime.has_value());
    EXPECT_EQ(readFile(serverPath(QStringLiteral("b.txt"))), "b.txt");
    ASSERT_TRUE(connection->flushQueued());
    ASSERT_EQ(placed.size(), 4u);
    EXPECT_TRUE(placed[QStringLiteral("d.txt")].ok);
    EXPECT_FALSE(placed[QStringLiteral("c.txt")].ok);
    EXPECT_TRUE(placed[QStringLiteral("c.txt")].failure.lastResponseInfo.startsWith(QStringLiteral("553 ")));
    // The refused file's temporary copy goes with the next command too.
    ASSERT_TRUE(connection->setCurrentDirectory(QStringLiteral("/")));
    EXPECT_EQ(QDir(m_root.path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{QStringLiteral("a.txt"), QStringLiteral("b.txt"), QStringLiteral("d.txt")}));
}

// A line break inside an argument would end the command early and send the
// rest as a command of its own. Whoever asks, such a command never leaves, and
// the connection stays usable.
TEST_F(FtpClientTest, CommandsWithLineBreaksAreNeverSent) {
    ASSERT_NO_FATAL_FAILURE(startServer());
    ASSERT_NO_FATAL_FAILURE(writeFile(serverPath(QStringLiteral("other.txt")), "keep"));
    ASSERT_NO_FATAL_FAILURE(writeFile(localPath(QStringLiteral("a.txt")), "A"));
    auto session = openSession();
    auto connection = connectTo(*session);
    ASSERT_TRUE(connection);
    const QString injected = QStringLiteral("x\r\nDELE other.txt\r\nNOOP");
    const std::vector<std::function<bool()>> calls{
        [&] { return connection->deleteFile(injected); },
        [&] { return connection->deleteFile(QStringLiteral("y\nDELE other.txt")); },
        [&] { return connection->createDirectory(QStringLiteral("d") + QChar(0) + QStringLiteral("x")); },
        [&] { return connection->setCurrentDirectory(injected); },
        [&] { return connection->putFile(localPath(QStringLiteral("a.txt")), injected); }};
    for (const auto& call : calls) {
        EXPECT_FALSE(call());
        EXPECT_EQ(connection->lastError(), ErrorUnsafeCommand);
    }
    EXPECT_EQ(readFile(serverPath(QStringLiteral("other.txt"))), QByteArray("keep"));
    QString folder;
    EXPECT_TRUE(connection->getCurrentDirectory(folder));
    EXPECT_FALSE(errorDescription(ErrorUnsafeCommand).isEmpty());
}

// A name near the length limit still gets a temporary name that fits, on both
// sides, and one that the scans recognise as a leftover.
TEST_F(FtpClientTest, LongNamesTravelBothWays) {
    ASSERT_NO_FATAL_FAILURE(startServer());
    const QString longName = QString(120, QChar(0xe9)) + QStringLiteral("-tail.txt"); // 249 bytes of UTF-8
    ASSERT_NO_FATAL_FAILURE(writeFile(localPath(longName), "long"));
    auto session = openSession();
    auto connection = connectTo(*session);
    ASSERT_TRUE(connection);
    ASSERT_TRUE(connection->putFile(localPath(longName), longName)) << reply(*connection);
    EXPECT_EQ(readFile(serverPath(longName)), QByteArray("long"));
    ASSERT_TRUE(QDir(localPath(QString())).mkpath(QStringLiteral("copy")));
    ASSERT_TRUE(connection->getFile(longName, localPath(QStringLiteral("copy/") + longName), false))
        << connection->lastError();
    EXPECT_EQ(readFile(localPath(QStringLiteral("copy/") + longName)), QByteArray("long"));
    const QString token = connection->transferToken();
    for (const TempNameStyle style : {TempNameStyle::Hidden, TempNameStyle::Visible}) {
        const QString temp = transferTempName(longName, token, style);
        EXPECT_LE(temp.toUtf8().size(), 255);
        EXPECT_TRUE(isTransferTempName(temp));
        EXPECT_EQ(transferTokenOf(temp), token);
        EXPECT_NE(temp, transferTempName(longName.left(longName.size() - 5) + QStringLiteral("other"), token, style));
    }
}

// --- listings ----------------------------------------------------------------

TEST_F(FtpClientTest, MlsdAndListGiveTheSameEntriesAndTimes) {
    // Minutes only: LIST shows no seconds. Recent entries carry a time, the
    // old one (beyond six months) a year.
    const QDateTime recent = QDateTime(QDate::currentDate().addDays(-10), QTime(8, 15), Qt::UTC);
    const QDateTime old = QDateTime(QDate(2020, 1, 2), QTime(12, 0), Qt::UTC);
    const std::map<QString, QByteArray> files{
        {QStringLiteral("plain.txt"), "12345"},     {QStringLiteral(".htaccess"), "deny"},
        {QStringLiteral("with  blanks .txt"), "b"}, {QStringLiteral("Grüße.txt"), "umlaut"},
        {QStringLiteral("old.txt"), "old"},         {QStringLiteral("empty"), ""}};
    for (const auto& [name, content] : files) {
        ASSERT_NO_FATAL_FAILURE(writeFile(serverPath(name), content));
        QFile file(serverPath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(
            file.setFileTime(name == QLatin1String("old.txt") ? old : recent, QFileDevice::FileModificationTime));
    }
    QDir(m_root.path()).mkpath(QStringLiteral("folder"));

    std::map<bool, std::vector<FindData>> listings;
    for (const bool mlsd : {true, false}) {
        FtpTestServerOptions options;
        options.mlsd = mlsd;
        ASSERT_NO_FATAL_FAILURE(startServer(options));
        auto session = openSession();
        auto connection = connectTo(*session);
        ASSERT_TRUE(connection);
        listings[mlsd] = listAll(*connection);
        EXPECT_EQ(transcriptContains(*connection, QStringLiteral("MLSD")), mlsd);
        EXPECT_EQ(transcriptContains(*connection, QStringLiteral("LIST -a")), !mlsd);
    }
    const std::vector<FindData>& byMlsd = listings[true];
    const std::vector<FindData>& byList = listings[false];
    EXPECT_EQ(namesOf(byMlsd), namesOf(byList));
    EXPECT_EQ(namesOf(byMlsd),
              (QStringList{QStringLiteral(".htaccess"), QStringLiteral("Grüße.txt"), QStringLiteral("empty"),
                           QStringLiteral("folder"), QStringLiteral("old.txt"), QStringLiteral("plain.txt"),
                           QStringLiteral("with  blanks .txt")}));
    ASSERT_EQ(byMlsd.size(), byList.size());
    for (size_t i = 0; i < byMlsd.size(); ++i) {
        const FindData& m = byMlsd[i];
        const FindData& l = byList[i];
        SCOPED_TRACE(m.name.toStdString());
        EXPECT_EQ(m.isDirectory, l.isDirectory);
        if (m.isDirectory)
            continue;
        EXPECT_EQ(m.size, qint64(files.at(m.name).size()));
        EXPECT_EQ(l.size, m.size);
        // MLSD times arrive in UTC and are given in local time; this server
        // lists in UTC.
        const QDateTime mlsdUtc = QDateTime(m.modifiedDate, m.modifiedTime, Qt::LocalTime).toUTC();
        const QDateTime expected = m.name == QLatin1String("old.txt") ? old : recent;
        EXPECT_EQ(mlsdUtc, expected);
        if (m.name == QLatin1String("old.txt"))
            EXPECT_EQ(l.modifiedDate, expected.date());
        else
            EXPECT_EQ(QDateTime(l.modifiedDate, l.modifiedTime, Qt::UTC), expected);
    }
}

TEST_F(FtpClientTest, EmptyFolderEndsTheListingAtOnce) {
    ASSERT_NO_FATAL_FAILURE(startServer());
    auto session = openSession();
    auto connection = connectTo(*session);
    ASSERT_TRUE(connection);
    FindData entry;
    EXPECT_FALSE(connection->findFirstFile(QStringLiteral("*.*"), entry));
    EXPECT_EQ(connection->lastError(), ErrorNoMoreFiles);
}

// --- transfers ---------------------------------------------------------------

class FtpTransferTest : public FtpClientTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FtpTransferTest, FilesArriveByteForByte) {
    ASSERT_NO_FATAL_FAILURE(startServer());
    auto session = openSession();
    auto connection = connectTo(*session, GetParam());
    ASSERT_TRUE(connection) << failureText(m_logonFailure);
    const std::vector<std::pair<QString, QByteArray>> files{
        {QStringLiteral("empty.bin"), QByteArray()},
        {QStringLiteral("bytes.bin"), everyByteValue()},
        {QStringLiteral("Grüße mit Leerzeichen.txt"), QByteArray("names travel as UTF-8")},
        {QStringLiteral("large.bin"), pseudoRandomBytes(50 * 1024 * 1024)},
    };
    for (const auto& [name, content] : files) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_NO_FATAL_FAILURE(roundTrip(*connection, m_root.path(), name, content));
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpTransferTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Passive" : "Active"; });

TEST_F(FtpClientTest, TransfersReplaceExistingFiles) {
    ASSERT_NO_FATAL_FAILURE(startServer());
    QDir(m_root.path()).mkpath(QStringLiteral("sub"));
    ASSERT_NO_FATAL_FAILURE(writeFile(serverPath(QStringLiteral("sub/file.txt")), "old remote content"));
    ASSERT_NO_FATAL_FAILURE(writeFile(localPath(QStringLiteral("new.txt")), "new"));
    auto session = openSession();
    auto connection = connectTo(*session);
    ASSERT_TRUE(connection);

    ASSERT_TRUE(connection->putFile(localPath(QStringLiteral("new.txt")), QStringLiteral("/sub/file.txt")));
    EXPECT_EQ(readFile(serverPath(QStringLiteral("sub/file.txt"))), QByteArray("new"));
    EXPECT_TRUE(transcriptContains(*connection,
                                   QStringLiteral("STOR /sub/.file.txt.%1.vstmp").arg(connection->transferToken())));
    EXPECT_TRUE(transcriptContains(*connection, QStringLiteral("RNTO /sub/file.txt")));

    ASSERT_NO_FATAL_FAILURE(writeFile(localPath(QStringLiteral("here.txt")), "old local content"));
    ASSERT_TRUE(connection->getFile(QStringLiteral("/sub/file.txt"), localPath(QStringLiteral("here.txt")), false));
    EXPECT_EQ(readFile(localPath(QStringLiteral("here.txt"))), QByteArray("new"));

    ASSERT_NO_FATAL_FAILURE(writeFile(localPath(QStringLiteral("here.txt")), "keep me"));
    EXPECT_FALSE(connection->getFile(QStringLiteral("/sub/file.txt"), localPath(QStringLiteral("here.txt")), true));
    EXPECT_EQ(connection->lastError(), EEXIST);
    EXPECT_EQ(readFile(localPath(QStringLiteral("here.txt"))), QByteArray("keep me"));
}

// Where the final rename is refused, the live file is never deleted first: it
// is moved aside only when the server will not rename over it, and any other
// refusal leaves it as it was.
struct RefusedRenameCase {
    const char* name;
    bool refuseRenameOver; // 550 when the target exists
    bool refuseRename;     // 553 for every rename
    QByteArray expected;   // the remote content afterwards
};

class UploadReplaceTest : public FtpClientTest, public ::testing::WithParamInterface<RefusedRenameCase> {};

TEST_P(UploadReplaceTest, TheLiveFileIsNeverLost) {
    FtpTestServerOptions options;
    options.refuseRenameOver = GetParam().refuseRenameOver;
    options.refuseRename = GetParam().refuseRename;
    ASSERT_NO_FATAL_FAILURE(startServer(options));
    ASSERT_NO_FATAL_FAILURE(writeFile(serverPath(QStringLiteral("file.txt")), "old"));
    ASSERT_NO_FATAL_FAILURE(writeFile(localPath(QStringLiteral("file.txt")), "new"));
    auto session = openSession();
    auto connection = connectTo(*session);
    ASSERT_TRUE(connection);
    const bool stored = connection->putFile(localPath(QStringLiteral("file.txt")), QStringLiteral("file.txt"));
    EXPECT_EQ(stored, GetParam().expected == "new") << reply(*connection);
    if (!stored) {
        EXPECT_TRUE(connection->lastResponseInfo().startsWith(QStringLiteral("553 "))) << reply(*connection);
    }
    EXPECT_EQ(readFile(serverPath(QStringLiteral("file.txt"))), GetParam().expected);
    EXPECT_FALSE(transcriptContains(*connection, QStringLiteral("DELE file.txt")));
    EXPECT_EQ(QDir(m_root.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"file.txt"});
}

INSTANTIATE_TEST_SUITE_P(Servers, UploadReplaceTest,
                         ::testing::Values(RefusedRenameCase{"NoRenameOverAFile", true, false, "new"},
                                           RefusedRenameCase{"NameNotAllowed", false, true, "old"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FtpClientTest, LocalFailuresGiveErrnoAndKeepTheConnection) {
    ASSERT_NO_FATAL_FAILURE(startServer());
    ASSERT_NO_FATAL_FAILURE(writeFile(serverPath(QStringLiteral("file.txt")), "content"));
    auto session = openSession();
    auto connection = connectTo(*session);
    ASSERT_TRUE(connection);
    EXPECT_FALSE(
        connection->getFile(QStringLiteral("file.txt"), localPath(QStringLiteral("no/such/dir/file.txt")), false));
    EXPECT_EQ(connection->lastError(), ENOENT);
    EXPECT_FALSE(connection->putFile(localPath(QStringLiteral("missing.txt")), QStringLiteral("missing.txt")));
    EXPECT_EQ(connection->lastError(), ENOENT);
    EXPECT_FALSE(connection->getFile(QStringLiteral("absent.txt"), localPath(QStringLiteral("absent.txt")), false));
    EXPECT_EQ(connection->lastError(), ErrorExtendedError);
    EXPECT_FALSE(QFileInfo::exists(localPath(QStringLiteral("absent.txt"))));
    EXPECT_EQ(tempFilesIn(localPath({})), QStringList());
    QString folder;
    EXPECT_TRUE(connection->getCurrentDirectory(folder));
}

// --- temporary names, refused renames, cut transfers ---------------------------

// Two runs upload one file into one folder at once: the second run's upload is
// half way when the first run's whole upload goes in. With one temporary name
// for both, the first run's STOR cut the second's file short, and the second's
// data went on into the file the first had just renamed into place.
TEST_F(FtpClientTest, TwoRunsUploadingOneFileAtOnceLeaveItWhole) {
    ASSERT_NO_FATAL_FAILURE(startServer());
    const QByteArray whole = pseudoRandomBytes(1024 * 1024);
    ASSERT_NO_FATAL_FAILURE(writeFile(localPath(QStringLiteral("whole.bin")), whole));
    const QString pipe = localPath(QStringLiteral("growing.bin"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    auto firstRun = openSession();
    auto secondRun = openSession();
    auto first = connectTo(*firstRun);
    ASSERT_TRUE(first);
    std::unique_ptr<QThread> secondUpload(QThread::create([&] {
        if (auto second = connectTo(*secondRun))
            second->putFile(pipe, QStringLiteral("file.bin"));
    }));
    secondUpload->start();
    const auto waitForSecond = qScopeGuard([&] { secondUpload->wait(); });
    QFile writer(pipe);
    ASSERT_TRUE(writer.open(QIODevice::WriteOnly)); // once the second run reads
    // More than one read of the upload takes, so part of it reaches the server.
    const QByteArray half(320 * 1024, 'x');
    ASSERT_EQ(writer.write(half), half.size());
    ASSERT_TRUE(writer.flush());
    const auto secondIsHalfWay = [&] {
        const QStringList temps = tempFilesIn(m_root.path());
        return temps.size() == 1 && QFileInfo(serverPath(temps.first())).size() >= 200 * 1024;
    };
    for (QDeadlineTimer patience(20'000); !secondIsHalfWay() && !patience.hasExpired();)
        QThread::msleep(10);
    ASSERT_TRUE(secondIsHalfWay());
    EXPECT_TRUE(first->putFile(localPath(QStringLiteral("whole.bin")), QStringLiteral("file.bin"))) << reply(*first);
    writer.write(half);
    writer.close();
    secondUpload->wait();
    // The second run's source changed as it went, so it is never renamed in.
    EXPECT_TRUE(readFile(serverPath(QStringLiteral("file.bin"))) == whole);
    EXPECT_EQ(tempFilesIn(m_root.path()), QStringList());
}

// How a refused final rename ends, for the servers that refuse one: the live
// file is moved aside only where the server cannot rename over a file, and a
// version that cannot be put back is named.
TEST_F(FtpClientTest, RefusedFinalRenameNeverHidesTheLiveFile) {
    struct Case {
        const char* label;
        QStringList serverArguments;
        bool uploaded;
        QStringList serverFiles; // after the upload, sorted
        QByteArray live;         // what locked.txt (or its aside name) holds
        QString leftAside;
    };
    const QString rule = QStringLiteral("--refuse-rename-to");
    const QString lockedName = QStringLiteral("locked.txt");
    const QString aside = QStringLiteral(".locked.txt.vsold.vstmp");
    for (const Case& c :
         {Case{"a name rule", {rule, lockedName}, false, {lockedName}, "live", {}},
          Case{"no rename over a file", {QStringLiteral("--refuse-rename-over")}, true, {lockedName}, "new", {}},
          Case{"both",
               {QStringLiteral("--refuse-rename-over"), rule, lockedName},
               false,
               {aside},
               "live",
               QStringLiteral("/") + aside}}) {
        SCOPED_TRACE(c.label);
        QDir(m_root.path()).removeRecursively();
        QDir().mkpath(m_root.path());
        FtpTestServerOptions options;
        options.extraArguments = c.serverArguments;
        ASSERT_NO_FATAL_FAILURE(startServer(options));
        ASSERT_NO_FATAL_FAILURE(writeFile(serverPath(lockedName), "live"));
        ASSERT_NO_FATAL_FAILURE(writeFile(localPath(lockedName), "new"));
        auto session = openSession();
        auto connection = connectTo(*session);
        ASSERT_TRUE(connection);
        EXPECT_EQ(connection->putFile(localPath(lockedName), QStringLiteral("/locked.txt")), c.uploaded)
            << reply(*connection);
        EXPECT_EQ(QDir(m_root.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name), c.serverFiles);
        EXPECT_EQ(readFile(serverPath(c.serverFiles.first())), c.live);
        EXPECT_EQ(connection->previousVersionLeftAside(), c.leftAside);
    }
}

// A server that forbids names starting with a dot ("553 Prohibited file
// name", Pure-FTPd -x) gets its uploads under a name without the dot, learnt
// from the first refusal, and the name is still one the scans skip.
TEST_F(FtpClientTest, UploadsGoInWhereNamesMayNotStartWithADot) {
    FtpTestServerOptions options;
    options.extraArguments = QStringList{QStringLiteral("--refuse-dot-names")};
    ASSERT_NO_FATAL_FAILURE(startServer(options));
    auto session = openSession();
    auto connection = connectTo(*session);
    ASSERT_TRUE(connection);
    for (const QString& name : {QStringLiteral("f00.bin"), QStringLiteral("f01.bin")}) {
        ASSERT_NO_FATAL_FAILURE(writeFile(localPath(name), name.toUtf8()));
        EXPECT_TRUE(connection->putFile(localPath(name), QStringLiteral("/") + name)) << reply(*connection);
        EXPECT_EQ(readFile(serverPath(name)), name.toUtf8());
    }
    const QString token = connection->transferToken();
    const QStringList stores = QStringList(connection->transcript().begin(), connection->transcript().end())
                                   .filter(QRegularExpression(QStringLiteral("^STOR ")));
    EXPECT_EQ(stores, (QStringList{QStringLiteral("STOR /.f00.bin.%1.vstmp").arg(token),
                                   QStringLiteral("STOR /f00.bin.%1.vstmp").arg(token),
                                   QStringLiteral("STOR /f01.bin.%1.vstmp").arg(token)}));
    EXPECT_TRUE(isTransferTempName(QStringLiteral("f00.bin.%1.vstmp").arg(token)));
    EXPECT_EQ(tempFilesIn(m_root.path()), QStringList());
}

// A transfer that a server or proxy cuts short while it reports success is a
// failure, and the cut file takes no file's place: the local file stays as it
// was, the remote one is removed so that the next run sends it again (with
// the source's time it would pass for whole on every later run).
TEST_F(FtpClientTest, CutTransfersReportedAsCompleteAreFailures) {
    const QByteArray content = pseudoRandomBytes(64 * 1024);
    for (const bool upload : {false, true}) {
        SCOPED_TRACE(upload ? "upload" : "download");
        QDir(m_root.path()).removeRecursively();
        QDir().mkpath(m_root.path());
        FtpTestServerOptions options;
        options.extraArguments = {upload ? QStringLiteral("--cut-stor-to") : QStringLiteral("--cut-retr-after"),
                                  QStringLiteral("1000")};
        ASSERT_NO_FATAL_FAILURE(startServer(options));
        ASSERT_NO_FATAL_FAILURE(writeFile(serverPath(QStringLiteral("f.bin")), upload ? "old" : content));
        ASSERT_NO_FATAL_FAILURE(writeFile(localPath(QStringLiteral("f.bin")), upload ? content : "previous"));
        auto session = openSession();
        auto connection = connectTo(*session);
        ASSERT_TRUE(connection);
        if (upload) {
            EXPECT_FALSE(connection->putFile(localPath(QStringLiteral("f.bin")), QStringLiteral("f.bin")));
            EXPECT_EQ(connection->lastError(), ErrorUploadSizeMismatch);
            EXPECT_EQ(QDir(m_root.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        } else {
            EXPECT_FALSE(connection->getFile(QStringLiteral("f.bin"), localPath(QStringLiteral("f.bin")), false,
                                             content.size()));
            EXPECT_EQ(connection->lastError(), ErrorDownloadSizeMismatch);
            EXPECT_EQ(readFile(localPath(QStringLiteral("f.bin"))), QByteArray("previous"));
            EXPECT_EQ(tempFilesIn(localPath({})), QStringList());
        }
    }
}

TEST_F(FtpClientTest, InterruptedDownloadKeepsThePreviousFile) {
    FtpTestServerOptions options;
    options.abortRetrAfter = 64 * 1024;
    ASSERT_NO_FATAL_FAILURE(startServer(options));
    ASSERT_NO_FATAL_FAILURE(writeFile(serverPath(QStringLiteral("big.bin")), pseudoRandomBytes(1024 * 1024)));
    const QString target = localPath(QStringLiteral("big.bin"));
    ASSERT_NO_FATAL_FAILURE(writeFile(target, "the previous version"));
    for (const bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        auto session = openSession();
        auto connection = connectTo(*session, passive);
        ASSERT_TRUE(connection);
        EXPECT_FALSE(connection->getFile(QStringLiteral("big.bin"), target, false));
        EXPECT_EQ(connection->lastError(), ErrorExtendedError);
        EXPECT_TRUE(connection->lastResponseInfo().startsWith(QStringLiteral("426 "))) << reply(*connection);
        EXPECT_EQ(readFile(target), QByteArray("the previous version"));
        EXPECT_EQ(tempFilesIn(localPath({})), QStringList());
        QString folder;
        EXPECT_TRUE(connection->getCurrentDirectory(folder)) << reply(*connection);
    }
}

// --- time-outs ---------------------------------------------------------------

TEST_F(FtpClientTest, StalledListingTimesOutAndTheRetryWorks) {
    FtpTestServerOptions options;
    options.stalls = QStringList{QStringLiteral("MLSD:1")};
    ASSERT_NO_FATAL_FAILURE(startServer(options));
    ASSERT_NO_FATAL_FAILURE(writeFile(serverPath(QStringLiteral("sub/file.txt")), "x"));
    auto session = openSession({}, Timeouts{10s, 2s, 2s});
    auto connection = connectTo(*session);
    ASSERT_TRUE(connection);
    ASSERT_TRUE(connection->setCurrentDirectory(QStringLiteral("sub")));
    FindData entry;
    EXPECT_FALSE(connection->findFirstFile(QStringLiteral("*.*"), entry));
    EXPECT_EQ(connection->lastError(), ErrorTimeout);
    EXPECT_FALSE(errorDescription(ErrorTimeout).isEmpty());
    // The next call (the retry) works on a fresh control connection, in the
    // folder the caller had entered.
    EXPECT_EQ(namesOf(listAll(*connection)), QStringList{QStringLiteral("file.txt")});
    QString folder;
    ASSERT_TRUE(connection->getCurrentDirectory(folder));
    EXPECT_EQ(folder, QStringLiteral("/sub"));
}

TEST_F(FtpClientTest, LateReplyIsNeverTakenForALaterAnswer) {
    FtpTestServerOptions options;
    options.delays = QStringList{QStringLiteral("PWD:3")};
    ASSERT_NO_FATAL_FAILURE(startServer(options));
    QDir(m_root.path()).mkpath(QStringLiteral("sub"));
    auto session = openSession({}, Timeouts{10s, 1s, 10s});
    auto connection = connectTo(*session);
    ASSERT_TRUE(connection);
    ASSERT_TRUE(connection->setCurrentDirectory(QStringLiteral("sub")));
    QString folder;
    EXPECT_FALSE(connection->getCurrentDirectory(folder));
    EXPECT_EQ(connection->lastError(), ErrorTimeout);
    // Give the late "257 /sub" time to arrive before the next command.
    QThread::sleep(3);
    // Each answer must belong to its own command (pyftpdlib's CWD reply also
    // quotes the folder, so the codes tell them apart).
    ASSERT_TRUE(connection->setCurrentDirectory(QStringLiteral("..")));
    EXPECT_TRUE(connection->lastResponseInfo().startsWith(QStringLiteral("250 "))) << reply(*connection);
    ASSERT_TRUE(connection->getCurrentDirectory(folder)) << reply(*connection);
    EXPECT_TRUE(connection->lastResponseInfo().startsWith(QStringLiteral("257 "))) << reply(*connection);
    EXPECT_EQ(folder, QStringLiteral("/"));
    ASSERT_TRUE(connection->setCurrentDirectory(QStringLiteral("sub")));
    EXPECT_TRUE(connection->lastResponseInfo().startsWith(QStringLiteral("250 "))) << reply(*connection);
    ASSERT_TRUE(connection->getCurrentDirectory(folder));
    EXPECT_TRUE(connection->lastResponseInfo().startsWith(QStringLiteral("257 "))) << reply(*connection);
    EXPECT_EQ(folder, QStringLiteral("/sub"));
}

// pyftpdlib takes a data connection as soon as it comes and drops it when
// data arrives before it has turned to the STOR: a server slow to read the
// command must still get the file, not a transfer that never ends.
TEST_F(FtpClientTest, ServerSlowToTakeAStoreStillGetsTheFile) {
    FtpTestServerOptions options;
    options.delays = QStringList{QStringLiteral("STOR:1:2")};
    ASSERT_NO_FATAL_FAILURE(startServer(options));
    writeFile(m_root.filePath(QStringLiteral("listed.txt")), "l");
    const QString source = m_root.filePath(QStringLiteral("source.bin"));
    writeFile(source, "slow server");
    auto session = openSession({}, Timeouts{10s, 4s, 10s});
    auto connection = connectTo(*session);
    ASSERT_TRUE(connection);
    ASSERT_EQ(namesOf(listAll(*connection)).size(), 2); // a transfer first: later commands go ahead of replies
    // Known from the listing's "125", or else learnt from one time-out.
    bool stored = connection->putFile(source, QStringLiteral("/up.bin"));
    if (!stored) {
        EXPECT_EQ(connection->lastError(), ErrorTimeout);
        stored = connection->putFile(source, QStringLiteral("/up.bin"));
    }
    ASSERT_TRUE(stored) << reply(*connection);
    EXPECT_EQ(readFile(m_root.filePath(QStringLiteral("up.bin"))), "slow server");
}

// --- IPv6 --------------------------------------------------------------------

TEST_F(FtpClientTest, Ipv6LoopbackWorksInBothModes) {
    if (!hasIpv6Loopback())
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    FtpTestServerOptions options;
    options.host = QStringLiteral("::1");
    ASSERT_NO_FATAL_FAILURE(startServer(options));
    for (const bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        auto session = openSession();
        auto connection = connectTo(*session, passive);
        ASSERT_TRUE(connection) << failureText(m_logonFailure);
        ASSERT_NO_FATAL_FAILURE(roundTrip(*connection, m_root.path(), QStringLiteral("v6.bin"), everyByteValue()));
        EXPECT_EQ(namesOf(listAll(*connection)), QStringList{QStringLiteral("v6.bin")});
        EXPECT_EQ(transcriptContains(*connection, QStringLiteral("EPSV")), passive);
    }
}

// --- proxies -----------------------------------------------------------------

enum class ProxyKind { Socks5, Socks4, Ftp };

struct ProxyCase {
    const char* name;
    ProxyKind kind;
    bool passive;
};

class FtpProxyTest : public FtpClientTest, public ::testing::WithParamInterface<ProxyCase> {};

TEST_P(FtpProxyTest, LogonListingAndTransfers) {
    const ProxyCase& param = GetParam();
    ASSERT_NO_FATAL_FAILURE(startServer());
    QDir(m_root.path()).mkpath(QStringLiteral("pub"));
    ASSERT_NO_FATAL_FAILURE(writeFile(serverPath(QStringLiteral("pub/.hidden")), "dot"));
    ASSERT_NO_FATAL_FAILURE(writeFile(serverPath(QStringLiteral("pub/readme.txt")), "read me"));

    std::unique_ptr<ListeningProcess> process;
    switch (param.kind) {
    case ProxyKind::Socks5:
        process = std::make_unique<SocksProxyProcess>();
        break;
    case ProxyKind::Socks4:
        process = std::make_unique<Socks4ProxyProcess>();
        break;
    case ProxyKind::Ftp:
        process = std::make_unique<FtpProxyProcess>(m_server->port());
        break;
    }
    ASSERT_TRUE(process->start()) << process->errorText().toStdString();
    const bool socks = param.kind != ProxyKind::Ftp;
    const QString proxyText = (socks ? QStringLiteral("socks=127.0.0.1:") : QStringLiteral("ftp=ftp://127.0.0.1:")) +
                              QString::number(process->port());
    auto session = openSession(proxyText);
    ASSERT_TRUE(session);

    auto connection = connectTo(*session, param.passive);
    ASSERT_TRUE(connection) << failureText(m_logonFailure);
    QString folder;
    ASSERT_TRUE(connection->getCurrentDirectory(folder));
    EXPECT_EQ(folder, QStringLiteral("/"));
    ASSERT_TRUE(connection->setCurrentDirectory(QStringLiteral("pub")));
    EXPECT_EQ(namesOf(listAll(*connection)), (QStringList{QStringLiteral(".hidden"), QStringLiteral("readme.txt")}));
    ASSERT_NO_FATAL_FAILURE(
        roundTrip(*connection, serverPath(QStringLiteral("pub")), QStringLiteral("bytes.bin"), everyByteValue()));
    ASSERT_NO_FATAL_FAILURE(roundTrip(*connection, serverPath(QStringLiteral("pub")), QStringLiteral("large.bin"),
                                      pseudoRandomBytes(4 * 1024 * 1024)));
    ASSERT_TRUE(connection->setCurrentDirectory(QStringLiteral("..")));
    ASSERT_TRUE(connection->getCurrentDirectory(folder));
    EXPECT_EQ(folder, QStringLiteral("/"));
    if (!socks) {
        // The FTP proxy passes RFC 959 commands only: the client fell back.
        EXPECT_TRUE(transcriptContains(*connection,
                                       QStringLiteral("USER tester@127.0.0.1:") + QString::number(m_server->port())));
        EXPECT_TRUE(transcriptContains(*connection, QStringLiteral("LIST -a")));
        EXPECT_EQ(transcriptContains(*connection, QStringLiteral("PASV")), param.passive);
    }
}

INSTANTIATE_TEST_SUITE_P(Proxies, FtpProxyTest,
                         ::testing::Values(ProxyCase{"Socks5Passive", ProxyKind::Socks5, true},
                                           // A version-4 proxy: the client falls back and uses BIND
                                           // for active mode.
                                           ProxyCase{"Socks4Passive", ProxyKind::Socks4, true},
                                           ProxyCase{"Socks4Active", ProxyKind::Socks4, false},
                                           ProxyCase{"FtpProxyPassive", ProxyKind::Ftp, true},
                                           ProxyCase{"FtpProxyActive", ProxyKind::Ftp, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FtpClientTest, ActiveModeThroughSocksWithoutBindSaysSo) {
    ASSERT_NO_FATAL_FAILURE(startServer());
    ASSERT_NO_FATAL_FAILURE(writeFile(serverPath(QStringLiteral("file.txt")), "x"));
    SocksProxyProcess proxy;
    ASSERT_TRUE(proxy.start()) << proxy.errorText().toStdString();
    auto session = openSession(QStringLiteral("socks=127.0.0.1:") + QString::number(proxy.port()));
    auto connection = connectTo(*session, false);
    ASSERT_TRUE(connection) << failureText(m_logonFailure);
    FindData entry;
    EXPECT_FALSE(connection->findFirstFile(QStringLiteral("*.*"), entry));
    EXPECT_EQ(connection->lastError(), ErrorProxyBindUnsupported);
    EXPECT_TRUE(errorDescription(ErrorProxyBindUnsupported).contains(QStringLiteral("passive mode")));
}

TEST_F(FtpClientTest, ProxyProblemsAreReported) {
    const OpenResult opened =
        InternetSession::open(QStringLiteral("Vellisync"), AccessType::Proxy, QStringLiteral("gate:8080"));
    EXPECT_FALSE(opened.session);
    EXPECT_EQ(opened.failure.code, ErrorInvalidProxyRequest);

    ASSERT_NO_FATAL_FAILURE(startServer());
    auto session = openSession(QStringLiteral("socks=127.0.0.1:") + QString::number(freeLoopbackPort()));
    ASSERT_TRUE(session);
    EXPECT_FALSE(connectTo(*session));
    EXPECT_EQ(m_logonFailure.code, ErrorProxyServerUnreachable);

    SocksProxyProcess proxy;
    ASSERT_TRUE(proxy.start()) << proxy.errorText().toStdString();
    session = openSession(QStringLiteral("socks=127.0.0.1:") + QString::number(proxy.port()));
    expectUnreachableCodes(*session);
}
