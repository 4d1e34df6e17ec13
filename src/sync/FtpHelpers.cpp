#include "sync/FtpHelpers.h"

#include <cstring>

#include <QCoreApplication>

#include "sync/FileJobs.h"
#include "model/Global.h"
#include "project/VellisyncProject.h"

namespace {

QString withoutTrailingLineBreak(QString text) {
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    return text;
}

QString proxyPrefix(qint32 kind) {
    switch (kind) {
    case 0:
        return QStringLiteral("ftp=ftp://");
    case 1:
        return QStringLiteral("socks=");
    default:
        return {};
    }
}

QString portRangeProblem(const QString& label, qint32 port, qint32 lowest) {
    if (port >= lowest && port <= TVellisyncProject::HighestPort)
        return {};
    return QStringLiteral("%1 %2 is outside the range %3 to %4")
        .arg(label)
        .arg(port)
        .arg(lowest)
        .arg(TVellisyncProject::HighestPort);
}

inet::Encryption encryptionOf(qint32 setting) {
    switch (setting) {
    case 1:
        return inet::Encryption::ExplicitIfOffered;
    case 2:
        return inet::Encryption::ExplicitRequired;
    case 3:
        return inet::Encryption::Implicit;
    default:
        return inet::Encryption::None;
    }
}

bool isCertificateRefusal(int code) {
    return code == inet::ErrorCertificateUntrusted || code == inet::ErrorCertificateChanged;
}

} // namespace

QString ErrorText(int code, const QString& lastReply) {
    if (code == inet::ErrorExtendedError)
        return withoutTrailingLineBreak(lastReply);
    QString text = inet::errorDescription(code);
    if (text.isEmpty()) {
        // The system's message table: the C library's descriptions of errno values.
        if (const char* description = strerrordesc_np(code))
            text = QString::fromLocal8Bit(description);
    }
    if (text.isEmpty()) {
        text = QStringLiteral("Unknown error %1 (%2)")
                   .arg(code)
                   .arg(QString::number(quint32(code), 16).toUpper().rightJustified(8, QLatin1Char('0')));
    }
    return text;
}

QString LastErrorText(const inet::FtpConnection& connection) {
    return ErrorText(connection.lastError(), connection.lastResponseInfo());
}

QString ftpFailureLine(const inet::FtpConnection& connection, const QString& label) {
    return ftpFailureLine(inet::Failure{connection.lastError(), connection.lastResponseInfo()}, label);
}

QString ftpFailureLine(const inet::Failure& failure, const QString& label) {
    return QCoreApplication::translate("Vellisync", "%1 fails with message: %2")
        .arg(label, ErrorText(failure.code, failure.lastResponseInfo));
}

bool GetFtpCurrentDir(inet::FtpConnection& connection, QString& directory) {
    if (connection.getCurrentDirectory(directory))
        return true;
    directory.clear();
    return false;
}

bool SetFtpCurrentDir(inet::FtpConnection& connection, const QString& directory) {
    if (directory.isEmpty())
        return true;
    return connection.setCurrentDirectory(directory);
}

std::unique_ptr<inet::FtpFind> FtpFindFirstFileRetry(inet::FtpConnection& connection, const QString& pattern,
                                                     inet::FindData& first) {
    std::unique_ptr<inet::FtpFind> find;
    engine::retryOnTimeout(connection, [&] {
        find = connection.findFirstFile(pattern, first);
        return bool(find);
    });
    return find;
}

QString IncludeTrailingSlash(const QString& path) {
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')))
        return path;
    return path + QLatin1Char('/');
}

QString TVellisyncProject::ServerPortProblem() const {
    return portRangeProblem(QStringLiteral("Port"), Port, LowestServerPort);
}

QString TVellisyncProject::EncryptionProblem() const {
    // An unknown number could be anything a later version meant: no
    // connection in clear text is made on a guess.
    if (Encryption < 0 || Encryption >= qint32(EncryptionNames.size()))
        return QStringLiteral("Encryption %1 is not one of 0 to 3").arg(Encryption);
    if (!TrustedCertificate.isEmpty() && !inet::parseFingerprint(TrustedCertificate))
        return QStringLiteral("TrustedCertificate '%1' is no SHA-256 fingerprint").arg(TrustedCertificate.left(100));
    return {};
}

void TVellisyncProject::LogConnectFailure(const inet::Failure& failure, const inet::TlsReport& tls) {
    const int code = failure.code;
    QString line = ftpFailureLine(failure, QStringLiteral("InternetConnect"));
    if (isCertificateRefusal(code)) {
        // The one line says why and which certificate, so that the user can
        // compare the fingerprint with the one the server's owner gives out.
        LastRunOutcome.refusedCertificate = inet::fingerprintText(tls.fingerprint);
        line += QStringLiteral(" Reason: %1. SHA-256 fingerprint: %2")
                    .arg(tls.certificateProblem, LastRunOutcome.refusedCertificate);
    } else if (code == inet::ErrorTlsFailed && !tls.tlsError.isEmpty()) {
        line += QStringLiteral(" (%1)").arg(tls.tlsError);
    } else if (code == inet::ErrorTlsRefused && !TrustedCertificate.isEmpty()) {
        // The setting said "when offered"; the pin is why the run stops.
        line += QStringLiteral(" A certificate is trusted for this server, so its logon never goes on in clear text.");
    }
    Log(line);
}

QString TVellisyncProject::ProxyPortProblem() const {
    if (!UseProxy)
        return {};
    return portRangeProblem(QStringLiteral("Proxy port"), ProxyPort, LowestProxyPort);
}

bool TVellisyncProject::Connect() {
    // A stored port that does not fit 16 bits would otherwise be wrapped into
    // some other port, and a run would reach a server nobody named.
    for (const QString& problem : {ServerPortProblem(), ProxyPortProblem(), EncryptionProblem()}) {
        if (!problem.isEmpty()) {
            Log(problem);
            return false;
        }
    }
    inet::OpenResult opened;
    if (UseProxy) {
        Log(QStringLiteral("Opening FTP by using proxy..."));
        const QString proxy =
            proxyPrefix(ProxyKind) + trimBlanksAndControls(ProxyServer) + QLatin1Char(':') + QString::number(ProxyPort);
        opened = inet::InternetSession::open(QStringLiteral("Vellisync"), inet::AccessType::Proxy, proxy);
    } else {
        Log(QStringLiteral("Opening FTP by using default settings..."));
        opened = inet::InternetSession::open(QStringLiteral("Vellisync"), inet::AccessType::Preconfigured, {});
    }
    InternetHandle = std::move(opened.session);
    if (!InternetHandle) {
        Log(ftpFailureLine(opened.failure, QStringLiteral("InternetOpen")));
        return false;
    }
    inet::TlsPolicy tls;
    tls.encryption = encryptionOf(Encryption);
    if (!TrustedCertificate.isEmpty())
        tls.trustedFingerprint = *inet::parseFingerprint(TrustedCertificate);
    InternetHandle->setTlsPolicy(tls);
    inet::TlsReport report;
    inet::ConnectResult logon = InternetHandle->connect(Server, quint16(Port), UserName, Password, Passive, &report);
    ConnectHandle = std::move(logon.connection);
    if (!ConnectHandle) {
        LogConnectFailure(logon.failure, report);
        return false;
    }
    if (report.refusedByServer)
        Log(QStringLiteral("The server does not offer TLS (it refused AUTH TLS): the connection goes on "
                           "unencrypted, the password and the files in clear text."));
    if (report.encrypted && tls.encryption == inet::Encryption::ExplicitIfOffered) {
        // The run's further connections go to the server that spoke TLS: one
        // refused it would be a downgrade, never a reason for clear text.
        tls.encryption = inet::Encryption::ExplicitRequired;
        InternetHandle->setTlsPolicy(tls);
    }
    Log(QStringLiteral("Done!"));
    return true;
}

bool TVellisyncProject::Disconnect() {
    ClosePool();           // the pool's connections first: they log on through the same service
    ConnectHandle.reset(); // sends QUIT while the service still exists
    InternetHandle.reset();
    return true;
}
