// The service object and the logon that makes a connection.
#include "inet/FtpService.h"

#include "inet/FtpConnectionPrivate.h"
#include "inet/InetPrivate.h"
#include "inet/ProxyConfig.h"

namespace inet {

struct InternetSession::ProxySetting {
    ProxyConfig config;
};

std::unique_ptr<InternetSession> InternetSession::open(const QString& agent, AccessType access, const QString& proxy) {
    std::unique_ptr<InternetSession> session(new InternetSession());
    if (access == AccessType::Proxy) {
        std::optional<ProxyConfig> config = parseProxyText(proxy);
        if (!config) {
            qCDebug(lcInet) << "unusable proxy text" << proxy;
            fail(ErrorInvalidProxyRequest);
            return {};
        }
        session->m_proxy = std::make_unique<ProxySetting>(ProxySetting{*config});
    }
    qCDebug(lcInet) << "service opened for" << agent << (session->m_proxy ? "through proxy" : "directly") << proxy;
    return session;
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

std::unique_ptr<FtpConnection> InternetSession::connect(const QString& server, quint16 port, const QString& userName,
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
        return {};
    return std::make_unique<FtpConnection>(std::move(d));
}

} // namespace inet
