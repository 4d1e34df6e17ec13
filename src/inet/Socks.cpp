#include "inet/Socks.h"

#include <initializer_list>

#include <QHostInfo>
#include <QUrl>
#include <QtEndian>

#include "inet/InetPrivate.h"

namespace inet {

namespace {

constexpr char socks5 = 5;
constexpr char socks4 = 4;
constexpr char noAuthentication = 0;

QByteArray bytesOf(std::initializer_list<char> values) {
    return QByteArray(values.begin(), qsizetype(values.size()));
}

QByteArray portBytes(quint16 port) {
    QByteArray bytes(2, '\0');
    qToBigEndian(port, bytes.data());
    return bytes;
}

// The service's code for a version-5 status byte (RFC 1928, 6).
int socks5ErrorCode(int reply, bool binding) {
    switch (reply) {
    case 3: // network unreachable
    case 4: // host unreachable
    case 5: // connection refused
        return ErrorCannotConnect;
    case 6: // TTL expired
        return ErrorTimeout;
    case 7: // command not supported
        return binding ? ErrorProxyBindUnsupported : ErrorInvalidProxyRequest;
    case 2: // not allowed by the proxy's rules
    case 8: // address type not supported
        return ErrorInvalidProxyRequest;
    default: // 1: general failure, and anything unknown
        return ErrorCannotConnect;
    }
}

// SOCKS4 carries IPv4 addresses only, and many proxies do not resolve names
// (4a), so the client does.
bool resolveIpv4(const QString& host, QHostAddress& address, ErrorState& errors) {
    if (isReservedInvalidName(host))
        return errors.fail(ErrorNameNotResolved);
    QHostAddress literal;
    if (literal.setAddress(host)) {
        if (literal.protocol() != QAbstractSocket::IPv4Protocol)
            return errors.fail(ErrorInvalidProxyRequest);
        address = literal;
        return true;
    }
    const QHostInfo info = QHostInfo::fromName(host);
    for (const QHostAddress& candidate : info.addresses()) {
        if (candidate.protocol() == QAbstractSocket::IPv4Protocol) {
            address = candidate;
            return true;
        }
    }
    return errors.fail(ErrorNameNotResolved);
}

// A proxy that answers 0.0.0.0 for a BIND listens on the address we reached it by.
QHostAddress usableBoundAddress(const QHostAddress& bound, const QTcpSocket& socket) {
    if (bound.isNull() || bound == QHostAddress::AnyIPv4 || bound == QHostAddress::AnyIPv6)
        return socket.peerAddress();
    return bound;
}

} // namespace

bool readSocks5Reply(QTcpSocket& socket, Milliseconds timeout, int& replyCode, QHostAddress& address, quint16& port,
                     ErrorState& errors) {
    QByteArray head;
    if (!readExactly(socket, 4, head, timeout, errors))
        return false;
    if (head[0] != socks5)
        return errors.fail(ErrorInvalidProxyRequest);
    replyCode = quint8(head[1]);
    QByteArray rest;
    switch (head[3]) {
    case 1: // IPv4
        if (!readExactly(socket, 4 + 2, rest, timeout, errors))
            return false;
        address = QHostAddress(qFromBigEndian<quint32>(rest.constData()));
        break;
    case 4: // IPv6
        if (!readExactly(socket, 16 + 2, rest, timeout, errors))
            return false;
        address = QHostAddress(reinterpret_cast<const quint8*>(rest.constData()));
        break;
    case 3: { // a name: length byte, name
        QByteArray length;
        if (!readExactly(socket, 1, length, timeout, errors) ||
            !readExactly(socket, quint8(length[0]) + 2, rest, timeout, errors))
            return false;
        address = QHostAddress(QString::fromLatin1(rest.left(rest.size() - 2)));
        break;
    }
    default:
        return errors.fail(ErrorInvalidProxyRequest);
    }
    port = qFromBigEndian<quint16>(rest.constData() + rest.size() - 2);
    return true;
}

std::unique_ptr<QTcpSocket> SocksClient::connectToProxy() {
    auto socket = makeSocket();
    if (!connectSocket(*socket, m_proxy.host, m_proxy.port, m_timeouts.connect, m_errors)) {
        if (m_errors.code != ErrorTimeout)
            m_errors.code = ErrorProxyServerUnreachable;
        return {};
    }
    return socket;
}

SocksClient::Greeting SocksClient::greetVersion5(QTcpSocket& socket) {
    const QByteArray greeting = bytesOf({socks5, 1, noAuthentication});
    QByteArray answer;
    if (!writeAll(socket, greeting, m_timeouts.reply, m_errors))
        return Greeting::NotVersion5;
    if (!readExactly(socket, 2, answer, m_timeouts.reply, m_errors))
        // A version-4 proxy commonly drops a greeting it cannot read.
        return m_errors.code == ErrorTimeout ? Greeting::Failed : Greeting::NotVersion5;
    if (answer[0] != socks5)
        return Greeting::NotVersion5;
    if (answer[1] != noAuthentication) {
        qCDebug(lcInet) << "SOCKS5 proxy wants authentication";
        fail(ErrorInvalidProxyRequest);
        return Greeting::Failed;
    }
    return Greeting::Accepted;
}

bool SocksClient::request5(QTcpSocket& socket, Command command, const QString& host, quint16 port,
                           QHostAddress& boundAddress, quint16& boundPort) {
    QByteArray message = bytesOf({socks5, char(command), 0});
    QHostAddress literal;
    if (literal.setAddress(host) && literal.protocol() == QAbstractSocket::IPv4Protocol) {
        QByteArray address(4, '\0');
        qToBigEndian(literal.toIPv4Address(), address.data());
        message += char(1) + address;
    } else if (literal.setAddress(host) && literal.protocol() == QAbstractSocket::IPv6Protocol) {
        const Q_IPV6ADDR address = literal.toIPv6Address();
        message += char(4) + QByteArray(reinterpret_cast<const char*>(address.c), 16);
    } else {
        // The proxy resolves the name.
        const QByteArray name = QUrl::toAce(host);
        if (name.isEmpty() || name.size() > 255)
            return fail(ErrorNameNotResolved);
        message += char(3) + QByteArray(1, char(name.size())) + name;
    }
    message += portBytes(port);
    if (!writeAll(socket, message, m_timeouts.reply, m_errors))
        return false;
    int reply = 0;
    if (!readSocks5Reply(socket, m_timeouts.reply, reply, boundAddress, boundPort, m_errors))
        return false;
    if (reply != 0) {
        qCDebug(lcInet) << "SOCKS5 request" << int(command) << "refused with status" << reply;
        return fail(socks5ErrorCode(reply, command == Bind));
    }
    boundAddress = usableBoundAddress(boundAddress, socket);
    return true;
}

bool SocksClient::request4(QTcpSocket& socket, Command command, const QString& host, quint16 port,
                           QHostAddress& boundAddress, quint16& boundPort) {
    QHostAddress target;
    if (!resolveIpv4(host, target, m_errors))
        return false;
    QByteArray address(4, '\0');
    qToBigEndian(target.toIPv4Address(), address.data());
    // VN CD DSTPORT DSTIP USERID NUL
    const QByteArray message = bytesOf({socks4, char(command)}) + portBytes(port) + address + QByteArray(1, '\0');
    QByteArray reply;
    if (!writeAll(socket, message, m_timeouts.reply, m_errors) ||
        !readExactly(socket, 8, reply, m_timeouts.reply, m_errors))
        return false;
    if (reply[1] != char(90)) { // 90: request granted
        qCDebug(lcInet) << "SOCKS4 request" << int(command) << "refused with status" << quint8(reply[1]);
        return fail(command == Bind ? ErrorProxyBindUnsupported : ErrorCannotConnect);
    }
    boundPort = qFromBigEndian<quint16>(reply.constData() + 2);
    boundAddress = usableBoundAddress(QHostAddress(qFromBigEndian<quint32>(reply.constData() + 4)), socket);
    return true;
}

std::unique_ptr<QTcpSocket> SocksClient::request(Command command, const QString& host, quint16 port,
                                                 QHostAddress& boundAddress, quint16& boundPort, int& version) {
    if (isReservedInvalidName(host)) {
        fail(ErrorNameNotResolved);
        return {};
    }
    auto socket = connectToProxy();
    if (!socket)
        return {};
    if (m_version == 5) {
        switch (greetVersion5(*socket)) {
        case Greeting::Accepted:
            version = 5;
            if (!request5(*socket, command, host, port, boundAddress, boundPort))
                return {};
            return socket;
        case Greeting::Failed:
            return {};
        case Greeting::NotVersion5:
            qCDebug(lcInet) << "proxy rejected the SOCKS5 greeting; trying SOCKS4";
            m_version = 4;
            socket = connectToProxy();
            if (!socket)
                return {};
            break;
        }
    }
    version = 4;
    if (!request4(*socket, command, host, port, boundAddress, boundPort))
        return {};
    return socket;
}

std::unique_ptr<QTcpSocket> SocksClient::connectTo(const QString& host, quint16 port) {
    QHostAddress boundAddress;
    quint16 boundPort = 0;
    int version = 0;
    return request(Connect, host, port, boundAddress, boundPort, version);
}

std::unique_ptr<SocksClient::Binding> SocksClient::bind(const QString& peerHost, quint16 peerPort) {
    auto binding = std::make_unique<Binding>();
    binding->m_errors = &m_errors;
    binding->m_socket = request(Bind, peerHost, peerPort, binding->m_address, binding->m_port, binding->m_version);
    if (!binding->m_socket)
        return {};
    return binding;
}

std::unique_ptr<QTcpSocket> SocksClient::Binding::accept(Milliseconds timeout) {
    // The proxy's second reply comes when the server has connected.
    if (m_version == 5) {
        int reply = 0;
        QHostAddress peer;
        quint16 port = 0;
        if (!readSocks5Reply(*m_socket, timeout, reply, peer, port, *m_errors))
            return {};
        if (reply != 0) {
            m_errors->fail(socks5ErrorCode(reply, true));
            return {};
        }
    } else {
        QByteArray reply;
        if (!readExactly(*m_socket, 8, reply, timeout, *m_errors))
            return {};
        if (reply[1] != char(90)) {
            m_errors->fail(ErrorCannotConnect);
            return {};
        }
    }
    return std::move(m_socket);
}

} // namespace inet
