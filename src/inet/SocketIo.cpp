#include "inet/SocketIo.h"

#include <QDeadlineTimer>
#include <QNetworkProxy>
#include <QSslSocket>

#include "inet/InetPrivate.h"

namespace inet {

std::unique_ptr<QTcpSocket> makeSocket() {
    // A QSslSocket that is never encrypted is a plain TCP socket; any socket
    // may have to carry TLS later, even after a SOCKS handshake on it.
    auto socket = std::make_unique<QSslSocket>();
    socket->setProxy(QNetworkProxy::NoProxy);
    return socket;
}

namespace {

// QTcpServer hands out plain QTcpSockets; the client side of a data
// connection's TLS needs a QSslSocket around the accepted descriptor.
class TlsReadyServer : public QTcpServer {
protected:
    void incomingConnection(qintptr descriptor) override {
        auto socket = std::make_unique<QSslSocket>();
        socket->setProxy(QNetworkProxy::NoProxy);
        if (!socket->setSocketDescriptor(descriptor))
            return;
        socket->setParent(this); // nextPendingConnection's taker owns it from then on
        addPendingConnection(socket.release());
    }
};

} // namespace

std::unique_ptr<QTcpServer> makeListener() {
    auto listener = std::make_unique<TlsReadyServer>();
    listener->setProxy(QNetworkProxy::NoProxy);
    return listener;
}

bool isReservedInvalidName(const QString& host) {
    QString name = host.toLower();
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    return name == QLatin1String("invalid") || name.endsWith(QLatin1String(".invalid"));
}

bool connectSocket(QTcpSocket& socket, const QString& host, quint16 port, Milliseconds timeout, ErrorState& errors) {
    if (host.isEmpty() || isReservedInvalidName(host)) {
        qCDebug(lcInet) << "name not resolved:" << host;
        return errors.fail(ErrorNameNotResolved);
    }
    qCDebug(lcInet) << "connecting to" << host << port;
    socket.connectToHost(host, port);
    if (socket.waitForConnected(int(timeout.count())))
        return true;
    const QAbstractSocket::SocketError error = socket.error();
    qCDebug(lcInet) << "connect failed:" << socket.errorString();
    socket.abort();
    switch (error) {
    case QAbstractSocket::HostNotFoundError:
        return errors.fail(ErrorNameNotResolved);
    case QAbstractSocket::SocketTimeoutError:
        return errors.fail(ErrorTimeout);
    default:
        return errors.fail(ErrorCannotConnect);
    }
}

int transferErrorCode(QAbstractSocket::SocketError error) {
    switch (error) {
    case QAbstractSocket::SocketTimeoutError:
        return ErrorTimeout;
    case QAbstractSocket::RemoteHostClosedError:
        return ErrorConnectionAborted;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return ErrorTlsFailed;
    default:
        return ErrorConnectionReset;
    }
}

bool writeAll(QTcpSocket& socket, const QByteArray& data, Milliseconds timeout, ErrorState& errors) {
    if (socket.state() != QAbstractSocket::ConnectedState)
        return errors.fail(ErrorConnectionAborted);
    if (socket.write(data) != data.size())
        return errors.fail(transferErrorCode(socket.error()));
    QDeadlineTimer deadline(timeout);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(int(deadline.remainingTime()))) {
            if (socket.state() != QAbstractSocket::ConnectedState)
                return errors.fail(ErrorConnectionAborted);
            if (deadline.hasExpired())
                return errors.fail(ErrorTimeout);
        }
    }
    return true;
}

bool readExactly(QTcpSocket& socket, qint64 count, QByteArray& out, Milliseconds timeout, ErrorState& errors) {
    out.clear();
    QDeadlineTimer deadline(timeout);
    while (out.size() < count) {
        if (socket.bytesAvailable() > 0) {
            out += socket.read(count - out.size());
            continue;
        }
        if (socket.state() != QAbstractSocket::ConnectedState)
            return errors.fail(ErrorConnectionAborted);
        if (!socket.waitForReadyRead(int(deadline.remainingTime())) && socket.bytesAvailable() == 0) {
            if (socket.state() != QAbstractSocket::ConnectedState)
                return errors.fail(ErrorConnectionAborted);
            if (deadline.hasExpired())
                return errors.fail(ErrorTimeout);
        }
    }
    return true;
}

} // namespace inet
