#include "inet/DataConnection.h"

#include <algorithm>
#include <cerrno>

#include <QDeadlineTimer>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "inet/InetPrivate.h"

namespace inet {

namespace {
constexpr qint64 chunkSize = 256 * 1024;

// The server ends TLS with close_notify at the end of the file, and may keep
// the TCP connection open until we close ours (Pure-FTPd does). Qt reports
// the alert only as an error, inside a wait that goes on until the time-out,
// and closing the socket from there has no effect (or, with abort(), drops
// what it still holds). Shutting the descriptor down ends the wait as if the
// server had closed, tells the server that we are done, and keeps what was
// received for reading.
void closeOnTlsEnd(QSslSocket& socket) {
    QObject::connect(&socket, &QAbstractSocket::errorOccurred, &socket, [&socket](QAbstractSocket::SocketError error) {
        const qintptr descriptor = socket.socketDescriptor();
        if (error == QAbstractSocket::RemoteHostClosedError && descriptor >= 0)
            ::shutdown(int(descriptor), SHUT_RDWR);
    });
}

// How long an upload's connection waits for the server to close its end.
constexpr Milliseconds closeLinger{10'000};
// How long an upload through a proxy waits for the server to close after
// close_notify before it closes its own end regardless.
constexpr Milliseconds relayedCloseWait{2'000};

struct UniqueDescriptor {
    explicit UniqueDescriptor(int descriptor) : fd(descriptor) {}
    ~UniqueDescriptor() {
        if (fd >= 0)
            ::close(fd);
    }
    UniqueDescriptor(const UniqueDescriptor&) = delete;
    UniqueDescriptor& operator=(const UniqueDescriptor&) = delete;
    const int fd;
};

// Reads and drops whatever comes until the peer closes, an error, or the
// limit; true when the peer closed (or reset) the connection.
bool drainUntilClosed(int fd, Milliseconds limit, int orReadable = -1) {
    QDeadlineTimer deadline(limit);
    char buffer[4096];
    for (;;) {
        pollfd entries[2] = {{fd, POLLIN, 0}, {orReadable, POLLIN, 0}};
        const int ready = ::poll(entries, orReadable >= 0 ? 2 : 1, int(deadline.remainingTime()));
        if (ready <= 0)
            return false;
        if (entries[0].revents == 0)
            return false; // the other descriptor has something to read
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0 || (got < 0 && (errno == EAGAIN || errno == EINTR)))
            continue;
        return true; // the end, or a reset
    }
}

} // namespace

std::unique_ptr<DataConnection> DataConnection::connected(std::unique_ptr<QTcpSocket> socket, ErrorState& errors) {
    std::unique_ptr<DataConnection> data(new DataConnection(errors));
    data->m_socket = std::move(socket);
    return data;
}

std::unique_ptr<DataConnection> DataConnection::listening(std::unique_ptr<QTcpServer> listener, ErrorState& errors) {
    std::unique_ptr<DataConnection> data(new DataConnection(errors));
    data->m_listener = std::move(listener);
    return data;
}

std::unique_ptr<DataConnection> DataConnection::bound(std::unique_ptr<SocksClient::Binding> binding,
                                                      ErrorState& errors) {
    std::unique_ptr<DataConnection> data(new DataConnection(errors));
    data->m_binding = std::move(binding);
    return data;
}

DataConnection::~DataConnection() {
    if (m_socket)
        m_socket->abort();
}

void DataConnection::protect(const TlsSetup& setup, Milliseconds timeout) {
    m_tls = setup;
    m_tlsTimeout = timeout;
    // A passive connection starts at once: the server (pyftpdlib) may expect
    // the handshake as soon as it accepts, before it answers the command.
    if (m_socket) {
        if (QSslSocket* socket = sslSocketOf(*m_socket)) {
            closeOnTlsEnd(*socket);
            startTls(*socket, *m_tls);
            m_tlsStarted = true;
        }
    }
}

bool DataConnection::secured() {
    if (!m_tls || m_tlsChecked)
        return true;
    QSslSocket* socket = m_socket ? sslSocketOf(*m_socket) : nullptr;
    if (!socket)
        return fail(ErrorTlsFailed);
    if (!m_tlsStarted) {
        closeOnTlsEnd(*socket);
        startTls(*socket, *m_tls);
        m_tlsStarted = true;
    }
    TlsReport report;
    if (!finishTls(*socket, *m_tls, m_tlsTimeout, report, m_errors))
        return false;
    m_tlsChecked = true;
    return true;
}

bool DataConnection::establish(Milliseconds timeout) {
    if (m_socket)
        return secured();
    if (m_binding) {
        m_socket = m_binding->accept(timeout);
        m_binding.reset();
        return m_socket != nullptr && secured();
    }
    if (!m_listener->waitForNewConnection(int(timeout.count()))) {
        qCDebug(lcInet) << "the server did not open the data connection";
        return fail(ErrorTimeout);
    }
    // The listener owns what it hands out; take the socket over and stop listening.
    m_socket.reset(m_listener->nextPendingConnection());
    m_socket->setParent(nullptr);
    m_listener->close();
    return secured();
}

bool DataConnection::receive(const std::function<bool(const QByteArray&)>& sink, Milliseconds inactivity) {
    if (!secured())
        return false;
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
    m_serverClosed = true;
    return true;
}

void DataConnection::endUpload(Milliseconds inactivity) {
    if (m_uploadEnded)
        return;
    m_uploadEnded = true;
    if (!m_tls) {
        const qintptr descriptor = m_socket->socketDescriptor();
        if (m_halfClose && descriptor >= 0)
            ::shutdown(int(descriptor), SHUT_WR); // what Qt held went in writeAll
        else
            m_socket->disconnectFromHost();
        return;
    }
    // The server sends a TLS 1.3 session ticket after the handshake, and it
    // may arrive only after the file went. Closing a socket that holds unread
    // bytes resets the connection, and the reset overtakes the end of the
    // file ("426 Failure reading network stream." from vsftpd). So a second
    // descriptor keeps the connection open while close_notify goes, then it
    // half-closes and reads until the server closes its end.
    const qintptr descriptor = m_socket->socketDescriptor();
    const UniqueDescriptor keep(descriptor >= 0 ? ::dup(int(descriptor)) : -1);
    m_socket->disconnectFromHost();
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->waitForDisconnected(int(inactivity.count()));
    if (keep.fd < 0)
        return;
    // A proxy that sees our end closes its socket to the server at once, and
    // when that socket holds bytes of the server's not yet relayed (a session
    // ticket) the close resets the connection: the end of the file still on
    // its way is lost, and a server may even count what it got as the whole.
    // So through a proxy the server, which has close_notify, closes first.
    if (m_relayed)
        drainUntilClosed(keep.fd, std::min(inactivity, relayedCloseWait));
    ::shutdown(keep.fd, SHUT_WR);
    m_serverClosed = drainUntilClosed(keep.fd, std::min(inactivity, closeLinger));
}

bool DataConnection::serverClosed(Milliseconds within, int orReadable) {
    if (m_serverClosed || !m_uploadEnded || m_tls)
        return m_serverClosed;
    const qintptr descriptor = m_socket->socketDescriptor();
    if (!m_halfClose || descriptor < 0)
        return false;
    m_serverClosed = drainUntilClosed(int(descriptor), within, orReadable);
    return m_serverClosed;
}

bool DataConnection::sendStart(QIODevice& source, qint64 maxBytes, Milliseconds inactivity) {
    if (!secured())
        return false;
    errno = 0;
    const QByteArray chunk = source.read(maxBytes);
    if (chunk.isEmpty() && !source.atEnd())
        return fail(errno ? errno : EIO);
    if (source.atEnd() && !m_tls)
        holdLastSegment();
    if (!chunk.isEmpty() && !writeAll(*m_socket, chunk, inactivity, m_errors))
        return false;
    // A file that went whole is ended at once: the server's end of the
    // transfer (and its 226) need not wait for its 150 to reach us.
    if (source.atEnd())
        endUpload(inactivity);
    return true;
}

void DataConnection::holdLastSegment() {
    // A new connection may send ten segments before the first reply, and the
    // end of the file (FIN) is one more of its own when it follows the last
    // one sent: a file of nine and a bit segments would wait a round trip
    // for it. Held back (TCP_CORK), the last segment takes the end along when
    // the upload ends; nothing uncorks it, as the connection ends right away.
#ifdef TCP_CORK
    const qintptr descriptor = m_socket->socketDescriptor();
    const int on = 1;
    if (descriptor >= 0)
        ::setsockopt(int(descriptor), IPPROTO_TCP, TCP_CORK, &on, sizeof on);
#endif
}

bool DataConnection::send(QIODevice& source, Milliseconds inactivity) {
    if (!secured())
        return false;
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
        if (!writeAll(socket, chunk, inactivity, m_errors))
            return false;
    }
    endUpload(inactivity);
    if (m_halfClose && !m_tls)
        return true;
    if (socket.state() != QAbstractSocket::UnconnectedState && !socket.waitForDisconnected(int(inactivity.count())) &&
        socket.state() != QAbstractSocket::UnconnectedState)
        return fail(ErrorTimeout);
    return true;
}

} // namespace inet
