#pragma once

// One data connection: opened before the transfer command (passive), or
// accepted after it (active, directly or through a SOCKS BIND), then read to
// its end or written and closed.

#include "inet/Socks.h"
#include "inet/SocketIo.h"
#include "inet/Tls.h"

#include <QIODevice>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>
#include <memory>
#include <optional>

namespace inet {

class DataConnection {
public:
    // Each reports its failures into errors, the state of the connection it
    // works for.
    static std::unique_ptr<DataConnection> connected(std::unique_ptr<QTcpSocket> socket, ErrorState& errors);
    static std::unique_ptr<DataConnection> listening(std::unique_ptr<QTcpServer> listener, ErrorState& errors);
    static std::unique_ptr<DataConnection> bound(std::unique_ptr<SocksClient::Binding> binding, ErrorState& errors);
    ~DataConnection();

    // Protects the connection with TLS, resuming the control connection's
    // session (RFC 4217: the client is the TLS client whoever connected).
    // The handshake starts now or once the server's connection is accepted,
    // and is checked before the first byte of the file is read or written.
    void protect(const TlsSetup& setup, Milliseconds timeout);
    // The connection runs through a SOCKS proxy, which ends both of its sides
    // once one of them ends.
    void setRelayed() { m_relayed = true; }

    // Waits for the server's connection in active mode; at once in passive
    // mode. A protected connection has passed its handshake when this is true.
    bool establish(Milliseconds timeout);

    // Hands every received chunk to `sink` until the server closes the
    // connection. A sink that returns false stops the transfer (it has set the
    // error); no data for `inactivity` gives ErrorTimeout.
    bool receive(const std::function<bool(const QByteArray&)>& sink, Milliseconds inactivity);
    // Sends the whole of `source` and closes the connection, which tells the
    // server that the file is complete. A source that cannot be read sets errno.
    bool send(QIODevice& source, Milliseconds inactivity);
    // Writes at most maxBytes of source, so send() goes on from there: the
    // start of an upload can travel before the server has said it is ready,
    // as it would read it all the same. A source that ends within them is
    // ended on the connection at once.
    bool sendStart(QIODevice& source, qint64 maxBytes, Milliseconds inactivity);
    // Whether the upload has been ended on the connection (the whole file went).
    bool uploadEnded() const { return m_uploadEnded; }
    // Ends an upload with a half close, which leaves the server's own close
    // to be seen by serverClosed(); send() then returns without waiting for it.
    void halfCloseUploads() { m_halfClose = true; }
    // Whether the server has closed its end (its transfer is over, whatever
    // its reply will say): after receive(), or after an upload ended with a
    // half close, for which it waits at most `within`, and no longer once
    // the descriptor `orReadable` has something to read.
    bool serverClosed(Milliseconds within, int orReadable);

private:
    explicit DataConnection(ErrorState& errors) : m_errors(errors) {}
    bool fail(int code) { return m_errors.fail(code); }
    // The handshake of a protected connection, checked once; true at once
    // for an unprotected one.
    bool secured();
    // Keeps the last, partial segment of what is written next until the end
    // of the upload can go with it.
    void holdLastSegment();
    // Ends an upload's connection: close_notify under TLS, then the close.
    void endUpload(Milliseconds inactivity);

    ErrorState& m_errors;
    std::unique_ptr<QTcpSocket> m_socket;
    std::unique_ptr<QTcpServer> m_listener;
    std::unique_ptr<SocksClient::Binding> m_binding;
    std::optional<TlsSetup> m_tls;
    Milliseconds m_tlsTimeout{0};
    bool m_tlsStarted = false;
    bool m_tlsChecked = false;
    bool m_relayed = false;
    bool m_uploadEnded = false;
    bool m_halfClose = false;
    bool m_serverClosed = false;
};

} // namespace inet
