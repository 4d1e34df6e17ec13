#include "inet/DataConnection.h"

#include <cerrno>

#include "inet/InetPrivate.h"

namespace inet {

namespace {
constexpr qint64 chunkSize = 256 * 1024;
}

std::unique_ptr<DataConnection> DataConnection::connected(std::unique_ptr<QTcpSocket> socket) {
    std::unique_ptr<DataConnection> data(new DataConnection);
    data->m_socket = std::move(socket);
    return data;
}

std::unique_ptr<DataConnection> DataConnection::listening(std::unique_ptr<QTcpServer> listener) {
    std::unique_ptr<DataConnection> data(new DataConnection);
    data->m_listener = std::move(listener);
    return data;
}

std::unique_ptr<DataConnection> DataConnection::bound(std::unique_ptr<SocksClient::Binding> binding) {
    std::unique_ptr<DataConnection> data(new DataConnection);
    data->m_binding = std::move(binding);
    return data;
}

DataConnection::~DataConnection() {
    if (m_socket)
        m_socket->abort();
}

bool DataConnection::establish(Milliseconds timeout) {
    if (m_socket)
        return true;
    if (m_binding) {
        m_socket = m_binding->accept(timeout);
        m_binding.reset();
        return m_socket != nullptr;
    }
    if (!m_listener->waitForNewConnection(int(timeout.count()))) {
        qCDebug(lcInet) << "the server did not open the data connection";
        return fail(ErrorTimeout);
    }
    // The listener owns what it hands out; take the socket over and stop listening.
    m_socket.reset(m_listener->nextPendingConnection());
    m_socket->setParent(nullptr);
    m_listener->close();
    return true;
}

bool DataConnection::receive(const std::function<bool(const QByteArray&)>& sink, Milliseconds inactivity) {
    QTcpSocket& socket = *m_socket;
    for (;;) {
        if (socket.bytesAvailable() > 0) {
            if (!sink(socket.read(chunkSize)))
                return false;
            continue;
        }
        if (socket.state() != QAbstractSocket::ConnectedState)
            break;
        if (!socket.waitForReadyRead(int(inactivity.count())) && socket.bytesAvailable() == 0 &&
            socket.state() == QAbstractSocket::ConnectedState) {
            qCDebug(lcInet) << "data connection idle for" << inactivity.count() << "ms";
            return fail(ErrorTimeout);
        }
    }
    // The server ends a transfer by closing; a reset instead means it broke off.
    if (socket.error() != QAbstractSocket::RemoteHostClosedError &&
        socket.error() != QAbstractSocket::UnknownSocketError)
        return fail(transferErrorCode(socket.error()));
    return true;
}

bool DataConnection::sendStart(QIODevice& source, qint64 maxBytes, Milliseconds inactivity) {
    errno = 0;
    const QByteArray chunk = source.read(maxBytes);
    if (chunk.isEmpty() && !source.atEnd())
        return fail(errno ? errno : EIO);
    if (!chunk.isEmpty() && !writeAll(*m_socket, chunk, inactivity))
        return false;
    // A file that went whole is ended at once: the server's end of the
    // transfer (and its 226) need not wait for its 150 to reach us.
    if (source.atEnd())
        m_socket->disconnectFromHost();
    return true;
}

bool DataConnection::send(QIODevice& source, Milliseconds inactivity) {
    QTcpSocket& socket = *m_socket;
    QByteArray chunk;
    for (;;) {
        errno = 0;
        chunk = source.read(chunkSize);
        if (chunk.isEmpty()) {
            if (!source.atEnd())
                return fail(errno ? errno : EIO);
            break;
        }
        if (!writeAll(socket, chunk, inactivity))
            return false;
    }
    socket.disconnectFromHost();
    if (socket.state() != QAbstractSocket::UnconnectedState && !socket.waitForDisconnected(int(inactivity.count())) &&
        socket.state() != QAbstractSocket::UnconnectedState)
        return fail(ErrorTimeout);
    return true;
}

} // namespace inet
