#include "support/ProxyProcesses.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include "support/FtpTestServer.h"

quint16 freeLoopbackPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

ListeningProcess::~ListeningProcess() {
    stop();
}

bool ListeningProcess::start() {
    // The port is free when chosen but may be taken before the program binds
    // it: try a few.
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = freeLoopbackPort();
        m_process = std::make_unique<QProcess>();
        m_process->setProcessChannelMode(QProcess::MergedChannels);
        m_process->start(program(), arguments(m_port));
        if (!m_process->waitForStarted(10'000)) {
            m_error = program() + QStringLiteral(": ") + m_process->errorString();
            return false;
        }
        QDeadlineTimer deadline(10'000);
        while (!deadline.hasExpired() && m_process->state() == QProcess::Running) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_port);
            if (probe.waitForConnected(1'000)) {
                probe.abort();
                return true;
            }
            QThread::msleep(50);
        }
        m_error = QString::fromLocal8Bit(m_process->readAll());
        stop();
    }
    return false;
}

void ListeningProcess::stop() {
    stopProcess(m_process);
}

QString SocksProxyProcess::program() const {
    return QStringLiteral("/usr/bin/microsocks");
}

QStringList SocksProxyProcess::arguments(quint16 port) {
    return {QStringLiteral("-i"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(port)};
}

QString Socks4ProxyProcess::program() const {
    return QStringLiteral("/usr/bin/python3");
}

QStringList Socks4ProxyProcess::arguments(quint16 port) {
    return {testSupportPath(QStringLiteral("socks4_proxy.py")), QStringLiteral("--port"), QString::number(port)};
}

QString FtpProxyProcess::program() const {
    return QStringLiteral("/usr/sbin/ftp-proxy");
}

QStringList FtpProxyProcess::arguments(quint16 port) {
    // The proxy drops to nobody and then recreates its log file: its folder
    // must be writable for that user.
    QFile::setPermissions(m_folder.path(), QFileDevice::Permissions(0x7777));
    const QString configPath = m_folder.filePath(QStringLiteral("ftp-proxy.conf"));
    QFile config(configPath);
    if (config.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        config.write(QStringLiteral("[-Global-]\n"
                                    "ServerType standalone\n"
                                    "Listen 127.0.0.1\n"
                                    "Port %1\n"
                                    "User nobody\n"
                                    "Group nogroup\n"
                                    "DestinationAddress 127.0.0.1\n"
                                    "DestinationPort %2\n"
                                    "AllowMagicUser yes\n"
                                    "UserMagicChar @\n"
                                    "DestinationTransferMode client\n"
                                    "LogDestination %3\n")
                         .arg(port)
                         .arg(m_serverPort)
                         .arg(m_folder.filePath(QStringLiteral("ftp-proxy.log")))
                         .toUtf8());
        if (m_passivePorts > 0) {
            const quint16 first = freeLoopbackPort();
            config.write(QStringLiteral("PassiveMinDataPort %1\nPassiveMaxDataPort %2\n")
                             .arg(first)
                             .arg(first + m_passivePorts - 1)
                             .toUtf8());
        }
    }
    return {QStringLiteral("-d"), QStringLiteral("-n"), QStringLiteral("-f"), configPath};
}
