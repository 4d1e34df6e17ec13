#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A helper program that listens on a loopback port chosen by the test (these
// tools cannot announce a port of their own choice), started by the test and
// stopped when the object goes.
class ListeningProcess {
public:
    virtual ~ListeningProcess();
    ListeningProcess(const ListeningProcess&) = delete;
    ListeningProcess& operator=(const ListeningProcess&) = delete;

    // Starts the program and waits until it accepts connections; false (with
    // the program's output in errorText()) when it did not come up.
    bool start();
    void stop();

    quint16 port() const { return m_port; }
    QString errorText() const { return m_error; }

protected:
    ListeningProcess() = default;
    virtual QString program() const = 0;
    // Prepares the arguments for listening on `port` (may write files).
    virtual QStringList arguments(quint16 port) = 0;

private:
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QString m_error;
};

// microsocks, a SOCKS5 proxy without BIND, on 127.0.0.1.
class SocksProxyProcess : public ListeningProcess {
protected:
    QString program() const override;
    QStringList arguments(quint16 port) override;
};

// tests/support/socks4_proxy.py: SOCKS4 only (CONNECT and BIND), hanging up on
// a SOCKS5 greeting as old proxies do.
class Socks4ProxyProcess : public ListeningProcess {
protected:
    QString program() const override;
    QStringList arguments(quint16 port) override;
};

// The classic FTP proxy (Debian ftp-proxy) on 127.0.0.1 in front of an FTP
// server on 127.0.0.1:serverPort; users log on as user@127.0.0.1:serverPort.
class FtpProxyProcess : public ListeningProcess {
public:
    // passivePorts: at most so many data ports for the proxy's own passive
    // side (0: the proxy's default range), as a tightly set up proxy has.
    explicit FtpProxyProcess(quint16 serverPort, int passivePorts = 0)
        : m_serverPort(serverPort), m_passivePorts(passivePorts) {}

protected:
    QString program() const override;
    QStringList arguments(quint16 port) override;

private:
    quint16 m_serverPort;
    int m_passivePorts;
    QTemporaryDir m_folder;
};

// A TCP port on 127.0.0.1 that nothing listens on at the moment of the call.
quint16 freeLoopbackPort();
