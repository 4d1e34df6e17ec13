// Logon and reconnection of one FTP connection: the control connection,
// TLS, the credentials and what the server offers.
#include "inet/FtpConnectionPrivate.h"

#include <QThread>

#include "inet/InetPrivate.h"

namespace inet {

namespace {

const QString anonymousUser = QStringLiteral("anonymous");

// Failures that say nothing answers at the server's address any more, as
// opposed to a server that answers and refuses.
bool isUnreachable(int code) {
    switch (code) {
    case ErrorCannotConnect:
    case ErrorNameNotResolved:
    case ErrorConnectionAborted:
    case ErrorConnectionReset:
    case ErrorProxyServerUnreachable:
        return true;
    default:
        return false;
    }
}

} // namespace

FtpConnectionPrivate::FtpConnectionPrivate(LogonParameters parameters) : m_parameters(std::move(parameters)) {
    if (m_parameters.proxy && m_parameters.proxy->kind == ProxyConfig::Kind::Socks)
        m_socks.emplace(*m_parameters.proxy, m_parameters.timeouts, m_errors);
}

bool FtpConnectionPrivate::openControl() {
    if (!holdToTlsUnderPin())
        return false;
    std::unique_ptr<QTcpSocket> socket;
    const std::optional<ProxyConfig>& proxy = m_parameters.proxy;
    if (m_parameters.tls.encryption == Encryption::Implicit && proxy && proxy->kind == ProxyConfig::Kind::Ftp)
        return fail(ErrorImplicitTlsThroughFtpProxy);
    if (m_socks) {
        socket = m_socks->connectTo(m_parameters.server, m_parameters.port);
        if (!socket)
            return false;
    } else if (proxy) {
        socket = makeSocket();
        if (!connectSocket(*socket, proxy->host, proxy->port, m_parameters.timeouts.connect, m_errors)) {
            if (lastError() != ErrorTimeout)
                setLastError(ErrorProxyServerUnreachable);
            return false;
        }
    } else {
        socket = makeSocket();
        if (!connectSocket(*socket, m_parameters.server, m_parameters.port, m_parameters.timeouts.connect, m_errors))
            return false;
    }
    m_control =
        std::make_unique<ControlConnection>(std::move(socket), m_parameters.timeouts.reply, transcript, m_errors);
    return true;
}

bool FtpConnectionPrivate::holdToTlsUnderPin() {
    // A certificate trusted for this server means it has spoken TLS before: a
    // refusal of AUTH TLS now is a downgrade (a man in the middle, a proxy
    // that strips it), never a reason to send the password in clear text.
    if (m_parameters.tls.trustedFingerprint.isEmpty())
        return true;
    if (m_parameters.tls.encryption == Encryption::None)
        return fail(ErrorPinnedWithoutTls);
    if (m_parameters.tls.encryption == Encryption::ExplicitIfOffered)
        m_parameters.tls.encryption = Encryption::ExplicitRequired;
    return true;
}

bool FtpConnectionPrivate::readGreeting() {
    FtpReply reply;
    if (!m_control->readReply(reply))
        return false;
    // 120: ready in a few minutes; the 220 follows (RFC 959, 5.4).
    while (reply.code == 120) {
        if (!m_control->readReply(reply))
            return false;
    }
    if (reply.code != 220)
        return fail(ErrorExtendedError);
    return true;
}

bool FtpConnectionPrivate::encryptControl() {
    TlsSetup setup;
    setup.configuration = clientConfiguration();
    // Through a proxy the socket's peer is the proxy: the certificate must
    // name the server itself.
    setup.peerName = m_parameters.server;
    setup.pinned = m_parameters.tls.trustedFingerprint;
    if (!m_control->startTls(setup, m_tlsReport))
        return false;
    // Once this server has spoken TLS, a replacement connection that is
    // refused it is not the same conversation: it must not go on in clear text.
    if (m_parameters.tls.encryption == Encryption::ExplicitIfOffered)
        m_parameters.tls.encryption = Encryption::ExplicitRequired;
    return true;
}

bool FtpConnectionPrivate::startImplicitTls() {
    return m_parameters.tls.encryption != Encryption::Implicit || encryptControl();
}

bool FtpConnectionPrivate::startExplicitTls() {
    const Encryption wanted = m_parameters.tls.encryption;
    if (wanted != Encryption::ExplicitIfOffered && wanted != Encryption::ExplicitRequired)
        return true;
    FtpReply reply;
    if (!m_control->command(QStringLiteral("AUTH TLS"), reply))
        return false;
    if (reply.code == 234)
        return encryptControl();
    // "500 'AUTH TLS': command unrecognized." from a server without TLS or an
    // FTP proxy that does not relay it; 502, 504 or 534 elsewhere. Any answer
    // but 234 leaves the conversation in clear text (RFC 4217, 4).
    if (wanted == Encryption::ExplicitRequired)
        return fail(ErrorTlsRefused);
    m_tlsReport.refusedByServer = true;
    return true;
}

QStringList FtpConnectionPrivate::protectionCommands() const {
    if (!isEncrypted())
        return {};
    return {QStringLiteral("PBSZ 0"), QStringLiteral("PROT P")};
}

bool FtpConnectionPrivate::exchange(const QString& command, int expectedClass, FtpReply* replyOut) {
    FtpReply reply;
    if (!m_control->command(command, reply))
        return false;
    if (replyOut)
        *replyOut = reply;
    if (reply.code / 100 != expectedClass)
        return fail(ErrorExtendedError);
    return true;
}

bool FtpConnectionPrivate::sendCredentials() {
    QString user = m_parameters.userName.isEmpty() ? anonymousUser : m_parameters.userName;
    QString password = m_parameters.password;
    if (password.isEmpty() && user.compare(anonymousUser, Qt::CaseInsensitive) == 0)
        password = QStringLiteral("anonymous@");
    if (m_parameters.proxy && m_parameters.proxy->kind == ProxyConfig::Kind::Ftp) {
        // The FTP proxy learns the server from the user name.
        QString server = m_parameters.server;
        if (server.contains(QLatin1Char(':')))
            server = QLatin1Char('[') + server + QLatin1Char(']');
        user += QLatin1Char('@') + server;
        if (m_parameters.port != 21)
            user += QLatin1Char(':') + QString::number(m_parameters.port);
    }
    FtpReply reply;
    if (!m_control->command(QStringLiteral("USER ") + user, reply))
        return false;
    if (reply.code == 230) // logged on without a password
        return true;
    if (reply.code != 331)
        return fail(ErrorExtendedError);
    if (!m_control->command(QStringLiteral("PASS ") + password, reply))
        return false;
    // 202: no password needed after all. 332 (an account is needed) is not supported.
    if (reply.code != 230 && reply.code != 202)
        return fail(ErrorExtendedError);
    return true;
}

bool FtpConnectionPrivate::negotiate() {
    m_capabilities &= ~Capabilities(OffersMlsd | OffersUtf8);
    const QStringList protection = protectionCommands();
    if (!m_parameters.proxy) {
        // FEAT, OPTS UTF8 ON and TYPE I in one go: the two later ones do not
        // depend on what FEAT says (a server without UTF8 refuses the option,
        // which only means that it needs none). PBSZ and PROT go ahead of them.
        std::vector<FtpReply> replies;
        if (!m_control->commandsTogether(protection + QStringList{QStringLiteral("FEAT"),
                                                                  QStringLiteral("OPTS UTF8 ON"),
                                                                  QStringLiteral("TYPE I")},
                                         replies))
            return false;
        if (!protection.isEmpty()) {
            if (!requireClasses(replies, {2, 2}))
                return false;
            replies.erase(replies.begin(), replies.begin() + protection.size());
        }
        learnFeatures(replies[0]);
        return requireClasses(replies, {AnyClass, AnyClass, 2});
    }
    for (const QString& command : protection) {
        if (!exchange(command, 2))
            return false;
    }
    return readFeatures() && exchange(QStringLiteral("TYPE I"), 2);
}

void FtpConnectionPrivate::learnFeatures(const FtpReply& reply) {
    // An FTP proxy answers FEAT with 500; that only means no extensions.
    if (reply.code != 211)
        return;
    // 211-Features:\r\n MLST type*;size*;modify*;\r\n UTF8\r\n211 End (RFC 2389, 3.2)
    const QStringList lines = reply.text.split(QStringLiteral("\r\n"));
    for (const QString& line : lines) {
        if (!line.startsWith(QLatin1Char(' ')))
            continue;
        const QString feature = line.trimmed().section(QLatin1Char(' '), 0, 0).toUpper();
        // MLST implies MLSD (RFC 3659, 7.8).
        if (feature == QLatin1String("MLST") || feature == QLatin1String("MLSD"))
            m_capabilities |= OffersMlsd;
        else if (feature == QLatin1String("UTF8"))
            m_capabilities |= OffersUtf8;
    }
}

bool FtpConnectionPrivate::readFeatures() {
    FtpReply reply;
    if (!m_control->command(QStringLiteral("FEAT"), reply))
        return false;
    learnFeatures(reply);
    if (m_capabilities & OffersUtf8) {
        // Names go out as UTF-8 anyway; servers that refuse the option
        // (501 on pyftpdlib, 504 on Pure-FTPd) are already in UTF-8 mode.
        return m_control->command(QStringLiteral("OPTS UTF8 ON"), reply);
    }
    return true;
}

bool FtpConnectionPrivate::logon() {
    m_control.reset();
    m_tlsReport = TlsReport{};
    const bool loggedOn = openControl() && startImplicitTls() && readGreeting() && startExplicitTls() &&
                          sendCredentials() && negotiate() && replayDirectoryTrail();
    if (!loggedOn) {
        m_control.reset(); // says QUIT where it still can, keeping the error
        return false;
    }
    return true;
}

bool FtpConnectionPrivate::ensureConnected() {
    if (serverStoppedAnswering())
        return fail(ErrorServerNotAnswering);
    if (m_control && m_control->isUsable())
        return true;
    // A server that restarts is back within a moment; one that cannot be
    // reached after a few short pauses is gone, and every further call
    // says so at once instead of trying again for each file.
    for (size_t attempt = 0;; ++attempt) {
        qCDebug(lcInet) << "replacing the control connection to" << m_parameters.server;
        if (logon())
            return true;
        if (!isUnreachable(lastError()))
            return false;
        if (attempt == ReconnectPauses.size())
            break;
        QThread::msleep(quint64(ReconnectPauses.at(attempt).count()));
    }
    qCDebug(lcInet) << "giving up on" << m_parameters.server << ": it can no longer be reached";
    m_serverUnreachable = true;
    return fail(ErrorServerNotAnswering);
}

} // namespace inet
