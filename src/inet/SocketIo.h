#pragma once

// Blocking helpers on QTcpSocket for code that runs without an event loop.
// Each failing helper sets the code in the error state it is given and
// returns false.

#include <QByteArray>
#include <QHostAddress>
#include <QTcpServer>
#include <QString>
#include <QTcpSocket>

#include <chrono>
#include <memory>

#include "inet/InetPrivate.h"

namespace inet {

using Milliseconds = std::chrono::milliseconds;

// A socket that ignores any application-wide proxy: the service does its own
// proxying, and a stray setting must not reroute it. It can take up TLS.
std::unique_ptr<QTcpSocket> makeSocket();

// A listener for active-mode data connections whose sockets can take up TLS
// as makeSocket's do.
std::unique_ptr<QTcpServer> makeListener();

// Whether the name is one that must never resolve (".invalid", RFC 6761 6.4).
// Such names fail at once, without a query leaving the machine.
bool isReservedInvalidName(const QString& host);

// Connects to host:port (a name or an address literal) within the limit.
// Errors: ErrorNameNotResolved, ErrorCannotConnect, ErrorTimeout.
bool connectSocket(QTcpSocket& socket, const QString& host, quint16 port, Milliseconds timeout, ErrorState& errors);

// Writes everything, waiting until the bytes have left (ErrorTimeout,
// ErrorConnectionAborted).
bool writeAll(QTcpSocket& socket, const QByteArray& data, Milliseconds timeout, ErrorState& errors);

// Reads exactly `count` bytes; the limit is for the whole read.
bool readExactly(QTcpSocket& socket, qint64 count, QByteArray& out, Milliseconds timeout, ErrorState& errors);

// The service's code for a socket error met after the connection was up.
int transferErrorCode(QAbstractSocket::SocketError error);

} // namespace inet
