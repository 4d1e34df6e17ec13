#pragma once

// SOCKS client: CONNECT for the control and passive data connections, BIND for
// active mode. Version 5 (no authentication, the proxy resolves names) first;
// version 4 (the client resolves to IPv4, no 4a) when the proxy rejects the
// version-5 greeting. The version that worked is remembered for later sockets.

#include "inet/FtpService.h"
#include "inet/InetPrivate.h"
#include "inet/ProxyConfig.h"
#include "inet/SocketIo.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <memory>

namespace inet {

class SocksClient {
public:
    // Failures go to errors, the state of the connection this client works for.
    SocksClient(ProxyConfig proxy, Timeouts timeouts, ErrorState& errors)
        : m_proxy(std::move(proxy)), m_timeouts(timeouts), m_errors(errors) {}

    // A socket connected through the proxy to host:port, or empty with the
    // error set.
    std::unique_ptr<QTcpSocket> connectTo(const QString& host, quint16 port);

    // An active-mode listener on the proxy: after open() the proxy listens at
    // address():port() for one connection from `peerHost`; accept() waits for
    // it and hands over the data socket.
    class Binding {
    public:
        QHostAddress address() const { return m_address; }
        quint16 port() const { return m_port; }
        std::unique_ptr<QTcpSocket> accept(Milliseconds timeout);

    private:
        friend class SocksClient;
        std::unique_ptr<QTcpSocket> m_socket;
        ErrorState* m_errors = nullptr; // the client's
        int m_version = 5;
        QHostAddress m_address;
        quint16 m_port = 0;
    };
    // ErrorProxyBindUnsupported when the proxy has no BIND.
    std::unique_ptr<Binding> bind(const QString& peerHost, quint16 peerPort);

private:
    enum Command : quint8 { Connect = 1, Bind = 2 };
    enum class Greeting { Accepted, NotVersion5, Failed };

    bool fail(int code) { return m_errors.fail(code); }
    std::unique_ptr<QTcpSocket> connectToProxy();
    Greeting greetVersion5(QTcpSocket& socket);
    // Sends one request on a fresh proxy connection; on success the socket
    // has seen the proxy's first reply, whose address and port are returned.
    std::unique_ptr<QTcpSocket> request(Command command, const QString& host, quint16 port, QHostAddress& boundAddress,
                                        quint16& boundPort, int& version);
    bool request5(QTcpSocket& socket, Command command, const QString& host, quint16 port, QHostAddress& boundAddress,
                  quint16& boundPort);
    bool request4(QTcpSocket& socket, Command command, const QString& host, quint16 port, QHostAddress& boundAddress,
                  quint16& boundPort);

    ProxyConfig m_proxy;
    Timeouts m_timeouts;
    ErrorState& m_errors;
    int m_version = 5;
};

// Reads a version-5 reply (after the request) and its bound address; also used
// for the second reply of a BIND. `replyCode` is the proxy's status byte.
bool readSocks5Reply(QTcpSocket& socket, Milliseconds timeout, int& replyCode, QHostAddress& address, quint16& port,
                     ErrorState& errors);

} // namespace inet
