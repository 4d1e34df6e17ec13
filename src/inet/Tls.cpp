#include "inet/Tls.h"

#include <cctype>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QSslCertificate>
#include <QSslCipher>
#include <QSslError>

#include "inet/InetPrivate.h"

namespace inet {

namespace {

QByteArray fingerprintOf(const QSslCertificate& certificate) {
    return certificate.isNull() ? QByteArray() : certificate.digest(QCryptographicHash::Sha256);
}

QString joinedErrors(const QList<QSslError>& errors) {
    QStringList texts;
    for (const QSslError& error : errors)
        texts.append(error.errorString());
    texts.removeDuplicates();
    return texts.join(QStringLiteral("; "));
}

// The chain as the server sent it; a resumed session may keep only the leaf.
QList<QSslCertificate> peerChain(const QSslSocket& socket) {
    QList<QSslCertificate> chain = socket.peerCertificateChain();
    if (chain.isEmpty() && !socket.peerCertificate().isNull())
        chain.append(socket.peerCertificate());
    return chain;
}

// ErrorSuccess when the certificate may be used; otherwise the code, with
// the reason in report.
int checkCertificate(const QSslSocket& socket, const TlsSetup& setup, TlsReport& report) {
    report.fingerprint = fingerprintOf(socket.peerCertificate());
    if (!setup.pinned.isEmpty()) {
        // A trusted fingerprint decides alone: a certificate that differs from
        // it is not the one the user looked at, whoever signed it.
        if (report.fingerprint == setup.pinned)
            return ErrorSuccess;
        report.certificateProblem = QStringLiteral("the certificate differs from the one trusted for this server "
                                                   "(trusted %1)")
                                        .arg(fingerprintText(setup.pinned));
        return ErrorCertificateChanged;
    }
    const QList<QSslCertificate> chain = peerChain(socket);
    if (chain.isEmpty()) {
        report.certificateProblem = QStringLiteral("the server sent no certificate");
        return ErrorCertificateUntrusted;
    }
    const QList<QSslError> errors = QSslCertificate::verify(chain, setup.peerName);
    if (errors.isEmpty())
        return ErrorSuccess;
    report.certificateProblem = joinedErrors(errors);
    return ErrorCertificateUntrusted;
}

} // namespace

QString fingerprintText(const QByteArray& sha256) {
    return QString::fromLatin1(sha256.toHex(':').toUpper());
}

std::optional<QByteArray> parseFingerprint(const QString& text) {
    QString hex = text.trimmed();
    hex.remove(QLatin1Char(':'));
    static constexpr qsizetype sha256Digits = 64;
    if (hex.size() != sha256Digits)
        return std::nullopt;
    for (const QChar c : std::as_const(hex)) {
        if (c.unicode() > 0x7f || !std::isxdigit(int(c.unicode())))
            return std::nullopt;
    }
    return QByteArray::fromHex(hex.toLatin1());
}

QSslConfiguration clientConfiguration() {
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    configuration.setSslOption(QSsl::SslOptionDisableSessionPersistence, false);
    configuration.setSslOption(QSsl::SslOptionDisableSessionTickets, false);
    return configuration;
}

QSslSocket* sslSocketOf(QTcpSocket& socket) {
    return qobject_cast<QSslSocket*>(&socket);
}

void startTls(QSslSocket& socket, const TlsSetup& setup) {
    socket.setSslConfiguration(setup.configuration);
    socket.setPeerVerifyName(setup.peerName);
    socket.startClientEncryption();
}

bool finishTls(QSslSocket& socket, const TlsSetup& setup, Milliseconds timeout, TlsReport& report, ErrorState& errors) {
    if (!socket.isEncrypted() && !socket.waitForEncrypted(int(timeout.count()))) {
        report.certificateProblem.clear();
        report.tlsError = socket.errorString();
        qCDebug(lcInet) << "TLS handshake failed:" << report.tlsError;
        const bool timedOut = socket.error() == QAbstractSocket::SocketTimeoutError;
        socket.abort();
        return errors.fail(timedOut ? ErrorTimeout : ErrorTlsFailed);
    }
    const int verdict = checkCertificate(socket, setup, report);
    if (verdict != ErrorSuccess) {
        qCDebug(lcInet) << "certificate refused:" << report.certificateProblem;
        socket.abort();
        return errors.fail(verdict);
    }
    report.encrypted = true;
    qCDebug(lcInet) << "TLS up:" << socket.sessionCipher().name() << "with" << socket.peerVerifyName();
    return true;
}

} // namespace inet
