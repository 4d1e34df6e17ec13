#include "support/FtpTestServer.h"

#include <QDeadlineTimer>
#include <QTcpServer>

QString testSupportPath(const QString& fileName) {
    return QStringLiteral(VELLISYNC_TEST_SUPPORT_DIR "/") + fileName;
}

bool hasIpv6Loopback() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHostIPv6, 0);
}

void stopProcess(std::unique_ptr<QProcess>& process) {
    if (!process)
        return;
    if (process->state() != QProcess::NotRunning) {
        process->terminate();
        if (!process->waitForFinished(5'000)) {
            process->kill();
            process->waitForFinished(5'000);
        }
    }
    process.reset();
}

FtpTestServer::FtpTestServer(FtpTestServerOptions options) : m_options(std::move(options)) {}

FtpTestServer::~FtpTestServer() {
    stop();
}

bool FtpTestServer::start() {
    QStringList args{testSupportPath(QStringLiteral("ftp_server.py")),
                     QStringLiteral("--root"),
                     m_options.root,
                     QStringLiteral("--host"),
                     m_options.host,
                     QStringLiteral("--user"),
                     m_options.user,
                     QStringLiteral("--password"),
                     m_options.password};
    if (m_options.anonymous)
        args << QStringLiteral("--anonymous");
    if (!m_options.mlsd)
        args << QStringLiteral("--no-mlsd");
    if (!m_options.epsv)
        args << QStringLiteral("--no-epsv");
    for (const QString& name : m_options.denyCwd)
        args << QStringLiteral("--deny-cwd") << name;
    for (const QString& name : m_options.readOnlyDirs)
        args << QStringLiteral("--read-only-dir") << name;
    for (const QString& stall : m_options.stalls)
        args << QStringLiteral("--stall") << stall;
    if (m_options.refuseRenameOver)
        args << QStringLiteral("--refuse-rename-over");
    for (const QString& delay : m_options.delays)
        args << QStringLiteral("--delay") << delay;
    if (m_options.abortRetrAfter >= 0)
        args << QStringLiteral("--abort-retr-after") << QString::number(m_options.abortRetrAfter);
    if (m_options.maxConnections > 0)
        args << QStringLiteral("--max-connections") << QString::number(m_options.maxConnections);
    if (m_options.maxConnectionsPerIp > 0)
        args << QStringLiteral("--max-connections-per-ip") << QString::number(m_options.maxConnectionsPerIp);
    if (!m_options.dropOn.isEmpty())
        args << QStringLiteral("--drop-on") << m_options.dropOn;
    if (m_options.logCommands)
        args << QStringLiteral("--log-commands");
    if (m_options.refuseRename)
        args << QStringLiteral("--refuse-rename");
    if (!m_options.silentFrom.isEmpty())
        args << QStringLiteral("--silent-from") << m_options.silentFrom;
    for (const QString& name : m_options.listNames)
        args << QStringLiteral("--list-name") << name;
    for (const QString& line : m_options.listLines)
        args << QStringLiteral("--list-line") << line;
    for (const QString& name : m_options.unlistableDirs)
        args << QStringLiteral("--unlistable") << name;
    for (const QString& name : m_options.emptyStatDirs)
        args << QStringLiteral("--empty-stat") << name;
    for (const QString& name : m_options.unreadableDirs)
        args << QStringLiteral("--unreadable") << name;
    if (!m_options.tlsCertificate.isEmpty())
        args << QStringLiteral("--tls-cert") << m_options.tlsCertificate;
    if (m_options.tlsRequired)
        args << QStringLiteral("--tls-required");
    if (m_options.tlsImplicit)
        args << QStringLiteral("--tls-implicit");
    if (m_options.tlsKeepDataOpen)
        args << QStringLiteral("--tls-keep-data-open");
    args << m_options.extraArguments;

    m_process = std::make_unique<QProcess>();
    // Debian's pyftpdlib belongs to the system interpreter.
    m_process->start(QStringLiteral("/usr/bin/python3"), args);
    if (!m_process->waitForStarted(10'000)) {
        m_error = QStringLiteral("cannot start /usr/bin/python3: ") + m_process->errorString();
        return false;
    }
    QByteArray output;
    QDeadlineTimer deadline(15'000);
    while (!deadline.hasExpired()) {
        if (m_process->canReadLine() || m_process->waitForReadyRead(int(deadline.remainingTime()))) {
            while (m_process->canReadLine()) {
                const QByteArray line = m_process->readLine().trimmed();
                output += line + '\n';
                if (line.startsWith("PORT ")) {
                    m_port = quint16(line.mid(5).toUInt());
                    return m_port != 0;
                }
            }
        }
        if (m_process->state() == QProcess::NotRunning)
            break;
    }
    m_error = QString::fromUtf8(output + m_process->readAllStandardError());
    stop();
    return false;
}

void FtpTestServer::stop() {
    stopProcess(m_process);
}

QString FtpTestServer::serverLog() {
    if (m_process) {
        // Without an event loop the pipe is read only while someone waits on it.
        m_process->setReadChannel(QProcess::StandardError);
        while (m_process->waitForReadyRead(200))
            m_log += QString::fromUtf8(m_process->readAllStandardError());
        m_process->setReadChannel(QProcess::StandardOutput);
        m_log += QString::fromUtf8(m_process->readAllStandardError());
    }
    return m_log;
}
