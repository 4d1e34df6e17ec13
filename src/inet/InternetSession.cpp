// The service object and the logon that makes a connection.
#include "inet/FtpService.h"

#include "inet/FtpConnectionPrivate.h"
#include "inet/InetPrivate.h"
#include "inet/ProxyConfig.h"

namespace inet {

struct InternetSession::ProxySetting {
    ProxyConfig config;
};

OpenResult InternetSession::open(const QString& agent, AccessType access, const QString& proxy) {
    if (access != AccessType::Proxy)
        return open(agent, std::nullopt);
    std::optional<ProxyConfig> config = parseProxyText(proxy);
    if (!config) {
        qCDebug(lcInet) << "unusable proxy text" << proxy;
        return OpenResult{{}, Failure{ErrorInvalidProxyRequest, {}}};
    }
    return open(agent, config);
}

OpenResult InternetSession::open(const QString& agent, const std::optional<ProxyConfig>& proxy) {
    if (proxy && !isUsableProxy(*proxy)) {
        qCDebug(lcInet) << "unusable proxy" << proxy->host << proxy->port;
        return OpenResult{{}, Failure{ErrorInvalidProxyRequest, {}}};
    }
    std::unique_ptr<InternetSession> session(new InternetSession());
    if (proxy)
        session->m_proxy = std::make_unique<ProxySetting>(ProxySetting{*proxy});
    qCDebug(lcInet) << "service opened for" << agent << (proxy ? "through proxy" : "directly");
    return OpenResult{std::move(session), {}};
}

InternetSession::~InternetSession() = default;

void InternetSession::setTimeouts(const Timeouts& timeouts) {
    m_timeouts = timeouts;
}

Timeouts InternetSession::timeouts() const {
    return m_timeouts;
}

void InternetSession::setTlsPolicy(const TlsPolicy& policy) {
    m_tlsPolicy = policy;
}

TlsPolicy InternetSession::tlsPolicy() const {
    return m_tlsPolicy;
}

void InternetSession::setTransferToken(const QString& token) {
    if (isTransferToken(token))
        m_transferToken = token;
}

QString InternetSession::transferToken() const {
    return m_transferToken;
}

ConnectResult InternetSession::connect(const QString& server, quint16 port, const QString& userName,
                                       const QString& password, bool passive, TlsReport* report) {
    LogonParameters parameters;
    parameters.server = server;
    parameters.port = port == 0 ? 21 : port;
    parameters.userName = userName;
    parameters.password = password;
    parameters.passive = passive;
    parameters.timeouts = m_timeouts;
    parameters.tls = m_tlsPolicy;
    parameters.transferToken = m_transferToken;
    if (m_proxy)
        parameters.proxy = m_proxy->config;
    auto d = std::make_unique<FtpConnectionPrivate>(std::move(parameters));
    const bool loggedOn = d->logon();
    if (report)
        *report = d->tlsReport();
    if (!loggedOn)
        return ConnectResult{{}, d->errors().failure()};
    return ConnectResult{std::make_unique<FtpConnection>(std::move(d)), {}};
}

} // namespace inet
