// The run's own connection: checking the settings it needs, logging on, and
// closing it with the pool's connections.
#include "sync/SyncRun.h"

#include "inet/ProxyConfig.h"
#include "model/Global.h"
#include "sync/FtpHelpers.h"

namespace {

// The proxy of the settings as the service takes it. A kind the settings do
// not know gives a proxy without a host, which the service refuses as
// unusable: a run never connects directly when the project names a proxy.
inet::ProxyConfig proxyOf(const ProjectSettings& settings) {
    inet::ProxyConfig proxy;
    QString host = trimBlanksAndControls(settings.ProxyServer);
    // An IPv6 address may be written in brackets, as in a URL.
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    switch (settings.ProxyKind) {
    case setting::ProxyKind::Ftp:
        proxy.kind = inet::ProxyConfig::Kind::Ftp;
        proxy.host = host;
        break;
    case setting::ProxyKind::Socks:
        proxy.kind = inet::ProxyConfig::Kind::Socks;
        proxy.host = host;
        break;
    }
    proxy.port = quint16(settings.ProxyPort);
    return proxy;
}

QString portRangeProblem(const QString& label, qint32 port, qint32 lowest) {
    if (port >= lowest && port <= ProjectSettings::HighestPort)
        return {};
    return QStringLiteral("%1 %2 is outside the range %3 to %4")
        .arg(label)
        .arg(port)
        .arg(lowest)
        .arg(ProjectSettings::HighestPort);
}

// The one place where the project's setting becomes the client's policy. An
// unknown number never gets here: encryptionProblem refuses it first.
inet::Encryption encryptionOf(setting::Encryption encryption) {
    switch (encryption) {
    case setting::Encryption::None:
        return inet::Encryption::None;
    case setting::Encryption::ExplicitIfOffered:
        return inet::Encryption::ExplicitIfOffered;
    case setting::Encryption::ExplicitRequired:
        return inet::Encryption::ExplicitRequired;
    case setting::Encryption::Implicit:
        return inet::Encryption::Implicit;
    }
    return inet::Encryption::None;
}

bool isCertificateRefusal(int code) {
    return code == inet::ErrorCertificateUntrusted || code == inet::ErrorCertificateChanged;
}

} // namespace

QString serverPortProblem(const ProjectSettings& settings) {
    return portRangeProblem(QStringLiteral("Port"), settings.Port, ProjectSettings::LowestServerPort);
}

QString proxyPortProblem(const ProjectSettings& settings) {
    if (!settings.UseProxy)
        return {};
    return portRangeProblem(QStringLiteral("Proxy port"), settings.ProxyPort, ProjectSettings::LowestProxyPort);
}

QString encryptionProblem(const ProjectSettings& settings) {
    // An unknown number could be anything a later version meant: no
    // connection in clear text is made on a guess.
    if (!setting::isKnown(settings.Encryption))
        return QStringLiteral("Encryption %1 is not one of 0 to 3").arg(qint32(settings.Encryption));
    if (!settings.TrustedCertificate.isEmpty() && !inet::parseFingerprint(settings.TrustedCertificate))
        return QStringLiteral("TrustedCertificate '%1' is no SHA-256 fingerprint")
            .arg(settings.TrustedCertificate.left(100));
    return {};
}

QString SyncRun::ServerPortProblem() const {
    return serverPortProblem(m_settings);
}

QString SyncRun::ProxyPortProblem() const {
    return proxyPortProblem(m_settings);
}

QString SyncRun::EncryptionProblem() const {
    return encryptionProblem(m_settings);
}

void SyncRun::LogConnectFailure(const inet::Failure& failure, const inet::TlsReport& tls) {
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
    } else if (code == inet::ErrorTlsRefused && !m_settings.TrustedCertificate.isEmpty()) {
        // The setting said "when offered"; the pin is why the run stops.
        line += QStringLiteral(" A certificate is trusted for this server, so its logon never goes on in clear text.");
    }
    Log(line);
}

bool SyncRun::Connect() {
    // A stored port that does not fit 16 bits would otherwise be wrapped into
    // some other port, and a run would reach a server nobody named.
    for (const QString& problem : {ServerPortProblem(), ProxyPortProblem(), EncryptionProblem()}) {
        if (!problem.isEmpty()) {
            Log(problem);
            return false;
        }
    }
    std::optional<inet::ProxyConfig> proxy;
    if (m_settings.UseProxy) {
        Log(QStringLiteral("Opening FTP by using proxy..."));
        proxy = proxyOf(m_settings);
    } else {
        Log(QStringLiteral("Opening FTP by using default settings..."));
    }
    inet::OpenResult opened = inet::InternetSession::open(QStringLiteral("Vellisync"), proxy);
    InternetHandle = std::move(opened.session);
    if (!InternetHandle) {
        Log(ftpFailureLine(opened.failure, QStringLiteral("InternetOpen")));
        return false;
    }
    inet::TlsPolicy tls;
    tls.encryption = encryptionOf(m_settings.Encryption);
    if (!m_settings.TrustedCertificate.isEmpty())
        tls.trustedFingerprint = *inet::parseFingerprint(m_settings.TrustedCertificate);
    InternetHandle->setTlsPolicy(tls);
    inet::TlsReport report;
    inet::ConnectResult logon =
        InternetHandle->connect(m_settings.Server, quint16(m_settings.Port), m_settings.UserName, m_settings.Password,
                                m_settings.Passive, &report);
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

bool SyncRun::Disconnect() {
    ClosePool();           // the pool's connections first: they log on through the same service
    ConnectHandle.reset(); // sends QUIT while the service still exists
    InternetHandle.reset();
    return true;
}
