// FTP over TLS end to end: pyftpdlib's TLS handler (explicit and implicit,
// TLS demanded for the logon and PROT P for every transfer) and vsftpd, which
// refuses data connections that do not resume the control connection's
// session. Certificates are made at test time.
#include <algorithm>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "inet/FtpService.h"
#include "project/VellisyncProject.h"
#include "support/FtpTestServer.h"
#include "support/ProxyProcesses.h"
#include "support/TestFiles.h"
#include "support/TlsFixtures.h"

using namespace inet;
using namespace std::chrono_literals;

namespace {

const Timeouts testTimeouts{20s, 30s, 30s};

QByteArray randomBytes(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(4217);
    generator.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

// Whether the server's command log shows the command arriving in clear text.
bool sentInClear(const QString& serverLog, const QString& command) {
    const QStringList lines = serverLog.split(QLatin1Char('\n')).filter(QStringLiteral("COMMAND %1 ").arg(command));
    return std::any_of(lines.cbegin(), lines.cend(),
                       [](const QString& line) { return line.endsWith(QLatin1String("[clear]")); });
}

class TlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_work.isValid());
        QDir(m_work.path()).mkpath(QStringLiteral("remote"));
        QDir(m_work.path()).mkpath(QStringLiteral("local"));
        m_certificate = makeTestCertificate(m_work.path(), QStringLiteral("server"));
        ASSERT_TRUE(m_certificate) << "openssl could not make a certificate";
    }

    QString remote() const { return m_work.filePath(QStringLiteral("remote")); }
    QString local() const { return m_work.filePath(QStringLiteral("local")); }

    void startServer(FtpTestServerOptions options) {
        options.root = remote();
        options.logCommands = true;
        m_server = std::make_unique<FtpTestServer>(options);
        ASSERT_TRUE(m_server->start()) << m_server->errorText().toStdString();
    }
    void startTlsServer(bool implicit = false, bool keepDataOpen = false) {
        FtpTestServerOptions options;
        options.tlsCertificate = m_certificate->combinedFile;
        options.tlsRequired = true;
        options.tlsImplicit = implicit;
        options.tlsKeepDataOpen = keepDataOpen;
        startServer(options);
    }

    std::unique_ptr<InternetSession> session(Encryption encryption, const QByteArray& pinned,
                                             const QString& proxy = {}) const {
        auto made = InternetSession::open(QStringLiteral("Vellisync"),
                                          proxy.isEmpty() ? AccessType::Preconfigured : AccessType::Proxy, proxy)
                        .session;
        if (made) {
            made->setTimeouts(testTimeouts);
            made->setTlsPolicy(TlsPolicy{encryption, pinned});
        }
        return made;
    }

    QTemporaryDir m_work;
    std::optional<TestCertificate> m_certificate;
    std::unique_ptr<FtpTestServer> m_server;
};

// Uploads and downloads a file that spans many TLS records and compares it
// byte for byte; the connection must be encrypted from logon on.
void roundTrip(FtpConnection& connection, const QString& remoteName, const QString& localFolder) {
    const QByteArray content = randomBytes(3 * 1024 * 1024 + 17);
    const QString source = localFolder + QStringLiteral("/source.bin");
    const QString copy = localFolder + QStringLiteral("/copy.bin");
    writeFile(source, content);
    ASSERT_TRUE(connection.isEncrypted());
    ASSERT_TRUE(connection.putFile(source, remoteName)) << connection.lastResponseInfo().toStdString();
    ASSERT_TRUE(connection.getFile(remoteName, copy, false)) << connection.lastResponseInfo().toStdString();
    EXPECT_TRUE(readFile(copy) == content);
}

struct TransferCase {
    const char* name;
    bool implicit;
    bool passive;
    bool serverKeepsDataOpen; // after close_notify, until the client closes
};

class TlsTransferTest : public TlsTest, public ::testing::WithParamInterface<TransferCase> {};

TEST_P(TlsTransferTest, FilesTravelUnchangedWithProtPAndNoPasswordInClear) {
    const TransferCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(startTlsServer(c.implicit, c.serverKeepsDataOpen));
    auto service = session(c.implicit ? Encryption::Implicit : Encryption::ExplicitRequired, m_certificate->sha256);
    TlsReport report;
    ConnectResult logon = service->connect(QStringLiteral("127.0.0.1"), m_server->port(), QStringLiteral("tester"),
                                           QStringLiteral("secret"), c.passive, &report);
    const std::unique_ptr<FtpConnection>& connection = logon.connection;
    ASSERT_TRUE(connection) << logon.failure.code << " " << logon.failure.lastResponseInfo.toStdString();
    EXPECT_TRUE(report.encrypted);
    EXPECT_EQ(report.fingerprint, m_certificate->sha256);
    ASSERT_NO_FATAL_FAILURE(roundTrip(*connection, QStringLiteral("/big.bin"), local()));
    EXPECT_TRUE(readFile(remote() + QStringLiteral("/big.bin")) == readFile(local() + QStringLiteral("/source.bin")));

    // The server logs how each command came: after AUTH TLS (explicit) or
    // from the start (implicit), nothing but TLS.
    const QString log = m_server->serverLog();
    EXPECT_TRUE(log.contains(QStringLiteral("COMMAND PASS **** [tls]"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("COMMAND PROT P [tls]")));
    EXPECT_EQ(log.count(QStringLiteral("[clear]")), c.implicit ? 0 : log.count(QStringLiteral("COMMAND AUTH TLS")));
}

INSTANTIATE_TEST_SUITE_P(Modes, TlsTransferTest,
                         ::testing::Values(TransferCase{"ExplicitPassive", false, true, false},
                                           TransferCase{"ExplicitActive", false, false, false},
                                           TransferCase{"ImplicitPassive", true, true, false},
                                           TransferCase{"ServerWaitsForOurClose", false, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ProxyCase {
    const char* name;
    Encryption encryption;
    int error;           // ErrorSuccess: the logon goes on in clear text
    bool pinned = false; // the server's certificate is trusted by its fingerprint
};

class TlsThroughFtpProxyTest : public TlsTest, public ::testing::WithParamInterface<ProxyCase> {};

// Debian's ftp-proxy answers "500 'AUTH TLS': command unrecognized.".
TEST_P(TlsThroughFtpProxyTest, FallsBackOnlyWhenTlsIsMerelyWanted) {
    const ProxyCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(startServer({}));
    FtpProxyProcess proxy(m_server->port());
    ASSERT_TRUE(proxy.start()) << proxy.errorText().toStdString();
    TlsReport report;
    ConnectResult logon = session(c.encryption, c.pinned ? m_certificate->sha256 : QByteArray(),
                                  QStringLiteral("ftp=ftp://127.0.0.1:") + QString::number(proxy.port()))
                              ->connect(QStringLiteral("127.0.0.1"), m_server->port(), QStringLiteral("tester"),
                                        QStringLiteral("secret"), true, &report);
    EXPECT_EQ(bool(logon.connection), c.error == ErrorSuccess);
    EXPECT_EQ(report.refusedByServer, c.error == ErrorSuccess);
    if (c.error != ErrorSuccess) {
        EXPECT_EQ(logon.failure.code, c.error);
        EXPECT_FALSE(m_server->serverLog().contains(QStringLiteral("COMMAND PASS")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, TlsThroughFtpProxyTest,
    ::testing::Values(ProxyCase{"OfferedFallsBack", Encryption::ExplicitIfOffered, ErrorSuccess},
                      ProxyCase{"RequiredStops", Encryption::ExplicitRequired, ErrorTlsRefused},
                      ProxyCase{"ImplicitStops", Encryption::Implicit, ErrorImplicitTlsThroughFtpProxy},
                      // A pin: a proxy that strips TLS is a downgrade, never clear text.
                      ProxyCase{"PinnedOfferedStops", Encryption::ExplicitIfOffered, ErrorTlsRefused, true},
                      ProxyCase{"PinnedNoneStops", Encryption::None, ErrorPinnedWithoutTls, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Text that arrives in clear after the 234 would be read as if TLS had
// protected it: such a server is refused before the logon.
TEST_F(TlsTest, ClearTextAfterTheGoAheadIsRefused) {
    FtpTestServerOptions options;
    options.tlsCertificate = m_certificate->combinedFile;
    options.extraArguments = {QStringLiteral("--tls-inject-after-auth"), QStringLiteral("230 Logged in.")};
    ASSERT_NO_FATAL_FAILURE(startServer(options));
    const ConnectResult logon = session(Encryption::ExplicitRequired, m_certificate->sha256)
                                    ->connect(QStringLiteral("127.0.0.1"), m_server->port(), QStringLiteral("tester"),
                                              QStringLiteral("secret"), true);
    EXPECT_FALSE(logon.connection);
    EXPECT_EQ(logon.failure.code, ErrorTlsFailed);
    EXPECT_FALSE(m_server->serverLog().contains(QStringLiteral("COMMAND USER")));
}

TEST_F(TlsTest, TlsRunsInsideASocksTunnel) {
    ASSERT_NO_FATAL_FAILURE(startTlsServer());
    SocksProxyProcess proxy;
    ASSERT_TRUE(proxy.start()) << proxy.errorText().toStdString();
    ConnectResult logon = session(Encryption::ExplicitRequired, m_certificate->sha256,
                                  QStringLiteral("socks=127.0.0.1:") + QString::number(proxy.port()))
                              ->connect(QStringLiteral("127.0.0.1"), m_server->port(), QStringLiteral("tester"),
                                        QStringLiteral("secret"), true);
    const std::unique_ptr<FtpConnection>& connection = logon.connection;
    ASSERT_TRUE(connection) << logon.failure.code << " " << logon.failure.lastResponseInfo.toStdString();
    ASSERT_NO_FATAL_FAILURE(roundTrip(*connection, QStringLiteral("/tunnel.bin"), local()));
}

// A whole run on several connections: every one of them logs on under TLS
// and protects its data, and the fallback line stays away.
TEST_F(TlsTest, EveryPooledConnectionIsEncrypted) {
    ASSERT_NO_FATAL_FAILURE(startTlsServer());
    for (int i = 0; i < 12; ++i)
        writeFile(local() + QStringLiteral("/f%1.bin").arg(i), randomBytes(64 * 1024 + i));
    TVellisyncProject project;
    project.Server = QStringLiteral("127.0.0.1");
    project.Port = m_server->port();
    project.UserName = QStringLiteral("tester");
    project.Password = QStringLiteral("secret");
    project.Passive = true;
    project.RemoteFolder = QStringLiteral("/");
    project.LocalFolder = local();
    project.IncludeMasks = QStringLiteral("*.*");
    project.SyncMode = setting::SyncMode::LocalToRemote;
    project.Connections = 4;
    project.Encryption = setting::Encryption::ExplicitIfOffered;
    ASSERT_TRUE(project.SetTrustedCertificate(inet::fingerprintText(m_certificate->sha256)));
    QStringList log;
    project.OnLog = [&log](TVellisyncProject&, const QString& line) { log.append(line); };
    project.Run();

    EXPECT_EQ(log.filter(QRegularExpression(QStringLiteral("^File .* has been uploaded$"))).size(), 12)
        << log.join('\n').toStdString();
    EXPECT_TRUE(log.filter(QStringLiteral("TLS")).isEmpty()) << log.join('\n').toStdString();
    for (int i = 0; i < 12; ++i) {
        const QString name = QStringLiteral("/f%1.bin").arg(i);
        EXPECT_TRUE(readFile(remote() + name) == readFile(local() + name)) << name.toStdString();
    }
    const QString serverLog = m_server->serverLog();
    const qsizetype logons = serverLog.count(QStringLiteral("COMMAND USER tester [tls]"));
    EXPECT_GT(logons, 1) << serverLog.toStdString();
    EXPECT_EQ(serverLog.count(QStringLiteral("COMMAND PROT P [tls]")), logons);
    EXPECT_FALSE(sentInClear(serverLog, QStringLiteral("USER")));
    EXPECT_FALSE(sentInClear(serverLog, QStringLiteral("PASS")));
}

// vsftpd refuses every data connection that does not resume the control
// connection's TLS session ("522 SSL connection failed: session reuse
// required"), and a reset at the end of an upload loses it ("426 Failure
// reading network stream."): several uploads in a row catch both.
TEST_F(TlsTest, VsftpdTakesResumedDataConnections) {
    if (!VsftpdProcess::available())
        GTEST_SKIP() << "vsftpd must be installed and the tests run as root";
    VsftpdProcess vsftpd(*m_certificate);
    ASSERT_TRUE(vsftpd.start()) << vsftpd.errorText().toStdString();
    ConnectResult logon =
        session(Encryption::ExplicitRequired, m_certificate->sha256)
            ->connect(QStringLiteral("127.0.0.1"), vsftpd.port(), QStringLiteral("anonymous"), QString(), true);
    const std::unique_ptr<FtpConnection>& connection = logon.connection;
    ASSERT_TRUE(connection) << logon.failure.code << " " << logon.failure.lastResponseInfo.toStdString()
                            << vsftpd.log().toStdString();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_NO_FATAL_FAILURE(roundTrip(*connection, QStringLiteral("/pub/r%1.bin").arg(round), local()));
    }
    // debug_ssl logs each handshake: the control connection's full one, then
    // one resumed handshake per transfer.
    const QString log = vsftpd.log();
    EXPECT_EQ(log.count(QStringLiteral(", reused, no cert")), 6) << log.toStdString().substr(0, 3000);
}

} // namespace
