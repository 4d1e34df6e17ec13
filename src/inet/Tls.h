#pragma once

// FTP over TLS (RFC 4217): the client handshake on a socket that is already
// connected, and the check of the server's certificate against the system's
// roots and the host name, or against a fingerprint the user trusts.

#include "inet/FtpService.h"
#include "inet/InetPrivate.h"
#include "inet/SocketIo.h"

#include <QByteArray>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QString>

namespace inet {

// What a handshake needs to know besides the socket.
struct TlsSetup {
    QSslConfiguration configuration;
    QString peerName;  // the name the certificate must be issued for
    QByteArray pinned; // SHA-256 the certificate must have; empty: the system's roots decide
};

// A client configuration that keeps its TLS session, so that data connections
// can resume the control connection's (servers such as vsftpd demand it). Qt
// does not verify on its own: checkCertificate() does, after the handshake, so
// that a trusted fingerprint can stand in for the roots.
QSslConfiguration clientConfiguration();

// The socket's TLS side; every socket of the service is a QSslSocket (one that
// was never encrypted behaves as a plain TCP socket).
QSslSocket* sslSocketOf(QTcpSocket& socket);

// Starts the client handshake without waiting for it.
void startTls(QSslSocket& socket, const TlsSetup& setup);
// Waits for the handshake that startTls began and checks the certificate. On
// failure the socket is aborted and the error is ErrorTlsFailed,
// ErrorCertificateUntrusted or ErrorCertificateChanged; report says why and
// holds the certificate's fingerprint once one was seen.
bool finishTls(QSslSocket& socket, const TlsSetup& setup, Milliseconds timeout, TlsReport& report, ErrorState& errors);

} // namespace inet
