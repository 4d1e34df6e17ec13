// Logon, reconnection and data connections of one FTP connection.
#include "inet/FtpConnectionPrivate.h"

#include <QBuffer>
#include <QNetworkProxy>
#include <QThread>

#include "inet/InetPrivate.h"
#include "inet/ListingParser.h"

namespace inet {

namespace {

const QString anonymousUser = QStringLiteral("anonymous");
const QString parentFolder = QStringLiteral("..");

// The aside name of a remote path, in the same folder.
QString remoteAsidePath(const QString& remoteFile, TempNameStyle style) {
    const qsizetype slash = remoteFile.lastIndexOf(QLatin1Char('/'));
    return remoteFile.left(slash + 1) + asideTempName(remoteFile.mid(slash + 1), style);
}

// The style of a temporary path: whether its name starts with a dot.
TempNameStyle tempNameStyleOf(const QString& tempPath) {
    return tempPath.mid(tempPath.lastIndexOf(QLatin1Char('/')) + 1).startsWith(QLatin1Char('.'))
               ? TempNameStyle::Hidden
               : TempNameStyle::Visible;
}

bool isStatListing(const FtpReply& reply) {
    return reply.code == 211 || reply.code == 212 || reply.code == 213;
}

// Whether a Unix-form listing shows the listed folder's own "." entry.
bool showsOwnFolder(const QStringList& lines) {
    return std::any_of(lines.cbegin(), lines.cend(), [](const QString& line) {
        return line.startsWith(QLatin1Char('d')) && line.endsWith(QLatin1String(" ."));
    });
}

// The lines between the first and the last line of a multi-line reply.
QStringList replyBody(const FtpReply& reply) {
    QStringList lines = reply.text.split(QStringLiteral("\r\n"));
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.size() < 2)
        return {};
    return lines.mid(1, lines.size() - 2);
}

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

// Whether a listing line is the listed folder's own entry or its parent's:
// "." and ".." in the Unix form, cdir and pdir in MLSD (RFC 3659, 7.5.1).
bool isOwnOrParentLine(const QString& line, bool mlsd) {
    if (!mlsd)
        return line.startsWith(QLatin1Char('d')) &&
               (line.endsWith(QLatin1String(" .")) || line.endsWith(QLatin1String(" ..")));
    const qsizetype split = line.indexOf(QLatin1String("; "));
    if (split <= 0)
        return false;
    const QStringList facts = line.left(split).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    return std::any_of(facts.cbegin(), facts.cend(), [](const QString& fact) {
        return fact.compare(QLatin1String("type=cdir"), Qt::CaseInsensitive) == 0 ||
               fact.compare(QLatin1String("type=pdir"), Qt::CaseInsensitive) == 0;
    });
}

// vsftpd ends the empty listing of a folder it may enter but not read with
// "226 Transfer done (but failed to open directory)."; a completion reply
// that speaks of failure has not listed the folder.
bool completionSaysFailed(const QString& replyText) {
    return replyText.contains(QLatin1String("fail"), Qt::CaseInsensitive);
}

// The most bytes of one listing over a data connection that are kept: some
// million entries, far beyond any real folder. Reaching it fails the listing;
// it is never taken as the whole folder.
constexpr qsizetype MaxListingBytes = 256 * 1024 * 1024;

int replyCodeOf(const QString& responseText) {
    return responseText.left(3).toInt();
}

// "PORT h1,h2,h3,h4,p1,p2" for IPv4 (RFC 959), "EPRT |2|address|port|" for IPv6 (RFC 2428).
QString portCommand(const QHostAddress& address, quint16 port) {
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    if (isIpv4) {
        return QStringLiteral("PORT %1,%2,%3,%4,%5,%6")
            .arg(ipv4 >> 24)
            .arg((ipv4 >> 16) & 0xff)
            .arg((ipv4 >> 8) & 0xff)
            .arg(ipv4 & 0xff)
            .arg(port >> 8)
            .arg(port & 0xff);
    }
    QHostAddress plain = address;
    plain.setScopeId(QString());
    return QStringLiteral("EPRT |2|%1|%2|").arg(plain.toString()).arg(port);
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

bool FtpConnectionPrivate::simpleCommand(const QString& command, int expectedClass, FtpReply* reply) {
    return ensureConnected() && exchange(command, expectedClass, reply);
}

void FtpConnectionPrivate::removeQuietly(const QString& remoteFile) {
    if (!m_control || !m_control->isUsable())
        return;
    ErrorStateGuard keep(m_errors);
    exchange(QStringLiteral("DELE ") + remoteFile, 2);
}

bool FtpConnectionPrivate::rename(const QString& from, const QString& to) {
    // Both go out at once: RNFR's answer is known ahead (350), and a server
    // that refuses it refuses the RNTO that follows too (503).
    std::vector<FtpReply> replies;
    return ensureConnected() &&
           m_control->commandsTogether({QStringLiteral("RNFR ") + from, QStringLiteral("RNTO ") + to}, replies) &&
           requireClasses(replies, {3, 2});
}

bool FtpConnectionPrivate::requireClasses(const std::vector<FtpReply>& replies, std::initializer_list<int> classes) {
    size_t i = 0;
    for (const int expected : classes) {
        const FtpReply& reply = replies.at(i++);
        if (expected != AnyClass && reply.code / 100 != expected) {
            setLastResponseInfo(reply.text);
            return fail(ErrorExtendedError);
        }
    }
    return true;
}

bool FtpConnectionPrivate::moveIntoPlace(const QString& tempPath, const QString& target,
                                         const std::optional<QDateTime>& modified, qint64 sentBytes) {
    bool timeSet = false;
    if (!renameCheckingSize(tempPath, target, modified, sentBytes, timeSet) && !moveAsideAndIntoPlace(tempPath, target))
        return false;
    if (modified && !timeSet) {
        // The upload itself succeeded: what follows must not change that.
        ErrorStateGuard keep(m_errors);
        setTimeTryingEachWay(target, *modified);
    }
    return true;
}

bool FtpConnectionPrivate::moveAsideAndIntoPlace(const QString& tempPath, const QString& target) {
    if (lastError() != ErrorExtendedError) {
        removeQuietly(tempPath);
        return false;
    }
    // The refusal is what the caller learns, whatever the recovery does.
    ErrorStateGuard keepRefusal(m_errors);
    // Only a target that exists, on a server that has shown that it will not
    // rename over a file, is moved aside; any other refusal (a name rule, a
    // quota) leaves it be: moved off a name the server will not rename onto,
    // it could never come back.
    if (!simpleCommand(QStringLiteral("RNFR ") + target, 3) || !refusesRenameOverFiles(tempPath)) {
        removeQuietly(tempPath);
        return false;
    }
    // The aside name is cleared first: a leftover there is older than the
    // target, which exists.
    const QString aside = remoteAsidePath(target, tempNameStyleOf(tempPath));
    removeQuietly(aside);
    if (!rename(target, aside)) {
        removeQuietly(tempPath);
        return false;
    }
    if (rename(tempPath, target)) {
        removeQuietly(aside);
        return true;
    }
    // The old content goes back under its name; should even that fail, it
    // waits under the aside name for the next run to restore, and the
    // caller can say where it is.
    if (!rename(aside, target))
        leftAside = aside;
    removeQuietly(tempPath);
    return false;
}

bool FtpConnectionPrivate::refusesRenameOverFiles(const QString& tempPath) {
    if (m_capabilities & (RenamesOverFiles | RefusesRenameOverFiles))
        return m_capabilities & RefusesRenameOverFiles;
    const qsizetype slash = tempPath.lastIndexOf(QLatin1Char('/'));
    const QString probe =
        tempPath.left(slash + 1) +
        transferTempName(QStringLiteral("rename-probe"), m_parameters.transferToken, tempNameStyleOf(tempPath));
    QBuffer empty;
    empty.open(QIODevice::ReadOnly);
    const Milliseconds inactivity = m_parameters.timeouts.data;
    std::vector<FtpReply> replies;
    const bool tried =
        transferCommand(QStringLiteral("STOR ") + probe,
                        [&](DataConnection& data) { return data.send(empty, inactivity); }) &&
        m_control->commandsTogether({QStringLiteral("RNFR ") + tempPath, QStringLiteral("RNTO ") + probe}, replies);
    removeQuietly(probe); // after a rename onto it, the new content with it: the upload fails either way
    if (!tried || replies[0].code / 100 != 3)
        return false; // nothing learnt: the user's file stays where it is
    m_capabilities |= replies[1].isCompletion() ? RenamesOverFiles : RefusesRenameOverFiles;
    return !replies[1].isCompletion();
}

QString FtpConnectionPrivate::remoteTempPath(const QString& remoteFile) const {
    // A dot-file's temporary name starts with a dot in any style.
    const TempNameStyle style = (m_capabilities & RefusesDotNames) ? TempNameStyle::Visible : TempNameStyle::Hidden;
    return remoteTempPath(remoteFile, style);
}

QString FtpConnectionPrivate::remoteTempPath(const QString& remoteFile, TempNameStyle style) const {
    const qsizetype slash = remoteFile.lastIndexOf(QLatin1Char('/'));
    return remoteFile.left(slash + 1) + transferTempName(remoteFile.mid(slash + 1), m_parameters.transferToken, style);
}

bool FtpConnectionPrivate::mayRetryWithoutDot(const QString& tempPath) const {
    // "553 Prohibited file name: /d0/.f00.bin.vstmp": a refusal of the name
    // itself, worth one try without the dot until the server has shown
    // either way what it does with such names.
    const QString fileName = tempPath.mid(tempPath.lastIndexOf(QLatin1Char('/')) + 1);
    return lastError() == ErrorExtendedError && lastResponseInfo().startsWith(QLatin1Char('5')) &&
           !fileName.startsWith(QLatin1String("..")) && !(m_capabilities & (RefusesDotNames | AcceptsDotNames)) &&
           tempNameStyleOf(tempPath) == TempNameStyle::Hidden && m_control && m_control->isUsable();
}

void FtpConnectionPrivate::learnStoredTempName(const QString& tempPath, bool afterDotRefused) {
    if (afterDotRefused)
        m_capabilities |= RefusesDotNames;
    else if (tempNameStyleOf(tempPath) == TempNameStyle::Hidden)
        m_capabilities |= AcceptsDotNames;
}

bool FtpConnectionPrivate::track(bool ok) {
    if (ok)
        m_timeoutsInARow = 0;
    else if (lastError() == ErrorTimeout)
        ++m_timeoutsInARow;
    return ok;
}

bool FtpConnectionPrivate::replayDirectoryTrail() {
    for (const QString& directory : std::as_const(m_directoryTrail)) {
        if (!changeDirectoryOnce(directory))
            return false;
    }
    return true;
}

void FtpConnectionPrivate::rememberDirectoryChange(const QString& directory) {
    if (directory.startsWith(QLatin1Char('/'))) {
        m_directoryTrail = QStringList{directory};
    } else if (directory == parentFolder && !m_directoryTrail.isEmpty() && m_directoryTrail.last() != parentFolder &&
               !m_directoryTrail.last().contains(QLatin1Char('/'))) {
        m_directoryTrail.removeLast();
    } else {
        m_directoryTrail.append(directory);
    }
}

bool FtpConnectionPrivate::changeDirectoryOnce(const QString& directory) {
    if (directory == parentFolder && !(m_capabilities & RefusedCdup)) {
        FtpReply reply;
        if (!m_control->command(QStringLiteral("CDUP"), reply))
            return false;
        if (reply.isCompletion())
            return true;
        if (!isUnknownCommandReply(reply))
            return fail(ErrorExtendedError);
        m_capabilities |= RefusedCdup;
    }
    return exchange(QStringLiteral("CWD ") + directory, 2);
}

bool FtpConnectionPrivate::pwdAndChange(const QString& directory, FtpReply& pwd) {
    if (directory.isEmpty() || m_parameters.proxy || directory == parentFolder)
        return simpleCommand(QStringLiteral("PWD"), 2, &pwd) && (directory.isEmpty() || changeDirectory(directory));
    std::vector<FtpReply> replies;
    if (!ensureConnected() ||
        !m_control->commandsTogether({QStringLiteral("PWD"), QStringLiteral("CWD ") + directory}, replies))
        return false;
    pwd = replies[0];
    if (!requireClasses(replies, {2, 2}))
        return false;
    rememberDirectoryChange(directory);
    return true;
}

bool FtpConnectionPrivate::changeDirectory(const QString& directory) {
    if (!ensureConnected() || !changeDirectoryOnce(directory))
        return false;
    rememberDirectoryChange(directory);
    return true;
}

std::unique_ptr<QTcpSocket> FtpConnectionPrivate::connectData(quint16 port) {
    if (m_socks)
        return m_socks->connectTo(m_parameters.server, port);
    // The address of a 227 reply is ignored: servers behind NAT often announce
    // one that cannot be reached. The control connection's peer is the server
    // (or the FTP proxy, which relays the data).
    auto socket = makeSocket();
    if (!connectSocket(*socket, m_control->peerAddress().toString(), port, m_parameters.timeouts.connect, m_errors)) {
        if (lastError() != ErrorTimeout)
            setLastError(ErrorCannotConnect);
        return {};
    }
    return socket;
}

std::unique_ptr<DataConnection> FtpConnectionPrivate::openPassive() {
    quint16 port = 0;
    FtpReply reply;
    if (!(m_capabilities & RefusedEpsv)) {
        if (!m_control->command(QStringLiteral("EPSV"), reply))
            return {};
        if (reply.code == 229) {
            if (std::optional<quint16> epsvPort = parseEpsvReply(reply.text))
                port = *epsvPort;
        } else if (reply.isPermanentError()) {
            // 500 through an FTP proxy; 522 where the protocol is not supported.
            m_capabilities |= RefusedEpsv;
        }
    }
    if (port == 0) {
        if (!m_control->command(QStringLiteral("PASV"), reply))
            return {};
        if (reply.code != 227) {
            fail(ErrorExtendedError);
            return {};
        }
        const std::optional<PassiveAddress> address = parsePasvReply(reply.text);
        if (!address || address->port == 0) {
            fail(ErrorFtpNoPassiveMode);
            return {};
        }
        port = address->port;
    }
    auto socket = connectData(port);
    if (!socket)
        return {};
    return DataConnection::connected(std::move(socket), m_errors);
}

std::unique_ptr<DataConnection> FtpConnectionPrivate::openActive() {
    std::unique_ptr<DataConnection> data;
    QHostAddress address;
    quint16 port = 0;
    if (m_socks) {
        auto binding = m_socks->bind(m_parameters.server, 0);
        if (!binding)
            return {};
        address = binding->address();
        port = binding->port();
        data = DataConnection::bound(std::move(binding), m_errors);
    } else {
        auto listener = makeListener();
        address = m_control->localAddress();
        if (!listener->listen(address, 0)) {
            qCDebug(lcInet) << "cannot listen for the data connection:" << listener->errorString();
            fail(ErrorCannotConnect);
            return {};
        }
        port = listener->serverPort();
        data = DataConnection::listening(std::move(listener), m_errors);
    }
    if (!exchange(portCommand(address, port), 2))
        return {};
    return data;
}

std::unique_ptr<DataConnection> FtpConnectionPrivate::openDataConnection() {
    return m_parameters.passive ? openPassive() : openActive();
}

void FtpConnectionPrivate::protectData(DataConnection& data) const {
    if (!isEncrypted())
        return;
    data.protect(m_control->dataTlsSetup(), m_parameters.timeouts.data);
    if (m_socks)
        data.setRelayed();
}

bool FtpConnectionPrivate::mayPipelinePassive() const {
    // Only where passive mode has worked on this connection: a server that
    // refused EPSV would take the command for an active one and connect to
    // us. Proxies in between are left to the plain conversation.
    return m_parameters.passive && !m_parameters.proxy && (m_capabilities & PassiveProven);
}

std::unique_ptr<DataConnection> FtpConnectionPrivate::openPassiveAhead(const QString& command) {
    const bool extended = !(m_capabilities & RefusedEpsv);
    if (!ControlConnection::isSendable(command)) {
        fail(ErrorUnsafeCommand);
        return {};
    }
    FtpReply reply;
    if (!m_control->sendTogether({extended ? QStringLiteral("EPSV") : QStringLiteral("PASV"), command}) ||
        !m_control->readFinalReply(reply))
        return {};
    std::optional<quint16> port;
    if (reply.code == 229 && extended)
        port = parseEpsvReply(reply.text);
    else if (reply.code == 227 && !extended)
        if (const std::optional<PassiveAddress> address = parsePasvReply(reply.text))
            port = address->port;
    if (!port || *port == 0) {
        // The command was sent all the same and the server answers it too:
        // the conversation is no longer to be trusted.
        m_capabilities &= ~Capabilities(PassiveProven);
        m_control->markUnusable();
        setLastResponseInfo(reply.text);
        fail(ErrorExtendedError);
        return {};
    }
    auto socket = connectData(*port);
    if (!socket) {
        m_control->markUnusable(); // the server still waits for us on the command
        return {};
    }
    return DataConnection::connected(std::move(socket), m_errors);
}

bool FtpConnectionPrivate::transferCommand(const QString& command, const std::function<bool(DataConnection&)>& transfer,
                                           const std::function<bool(DataConnection&)>& beforeReply) {
    if (!ensureConnected())
        return false;
    const bool ahead = mayPipelinePassive();
    std::unique_ptr<DataConnection> data = ahead ? openPassiveAhead(command) : openDataConnection();
    if (!data)
        return noteDataConnectionRefusal();
    protectData(*data);
    FtpReply reply;
    if (!ahead && !m_control->send(command))
        return false;
    const bool sentAhead = ahead && beforeReply && !(m_capabilities & AcceptsDataEarly);
    if (sentAhead && !beforeReply(*data)) {
        m_control->markUnusable(); // the command's replies are still to come
        return false;
    }
    // A server that takes the data connection at once but turns to the
    // command later (pyftpdlib under load) may close one that brought a
    // whole file before the command, and then wait for another one that
    // never comes. Its end of the transfer would follow at once: a short
    // wait tells the two apart, and the file goes again without data ahead.
    const bool endedAhead = sentAhead && data->uploadEnded();
    // A server that dropped the connection which brought data early waits
    // for another one and never ends the transfer.
    const auto learnFromTimeout = [&] {
        if (sentAhead && lastError() == ErrorTimeout)
            m_capabilities |= AcceptsDataEarly;
        return false;
    };
    if (!m_control->readReply(reply))
        return learnFromTimeout();
    if (reply.code == 125)
        m_capabilities |= AcceptsDataEarly;
    if (!reply.isPreliminary() && !reply.isCompletion()) {
        fail(ErrorExtendedError); // e.g. "550 No such file or directory."
        return noteDataConnectionRefusal();
    }
    if (reply.isCompletion()) {
        // Finished without announcing a transfer: whatever a passive
        // connection already holds is all there is.
        return !m_parameters.passive || transfer(*data);
    }
    const bool transferred = data->establish(m_parameters.timeouts.data) && transfer(*data);
    const int transferError = lastError();
    data.reset(); // closing our end makes a server that is still sending give up
    if (!transferred && transferError == ErrorTimeout) {
        // The server may still answer this command at any time: start afresh.
        m_control->markUnusable();
        fail(ErrorTimeout);
        return learnFromTimeout();
    }
    // 226 or 250 on success; 426 or 451 when the transfer broke off.
    if (!m_control->readReply(reply, endedAhead ? EndOfEarlyUploadWait : m_parameters.timeouts.reply))
        return learnFromTimeout();
    // A local failure (the target cannot be written) says more than the
    // server's "426 transfer aborted" that follows it.
    if (!transferred && transferError > 0 && transferError < ErrorOutOfHandles)
        return fail(transferError);
    if (!reply.isCompletion())
        return fail(ErrorExtendedError);
    if (!transferred)
        return fail(transferError);
    if (m_parameters.passive)
        m_capabilities |= PassiveProven;
    return true;
}

bool FtpConnectionPrivate::noteDataConnectionRefusal() {
    // "425 Can't open data connection." (an FTP proxy out of ports), "425
    // EPSV: Address already in use", or no connection to the port given.
    const int code = lastError();
    if (code == ErrorCannotConnect || (code == ErrorExtendedError && replyCodeOf(lastResponseInfo()) == 425))
        ++m_dataConnectionRefusals;
    return false;
}

bool FtpConnectionPrivate::listWith(const QString& command, ListingForm form, std::vector<FindData>& entries) {
    QByteArray raw;
    const auto collect = [&raw, this](const QByteArray& chunk) {
        if (raw.size() + chunk.size() > MaxListingBytes)
            return fail(ErrorListingIncomplete);
        raw += chunk;
        return true;
    };
    const Milliseconds inactivity = m_parameters.timeouts.data;
    if (!transferCommand(command, [&](DataConnection& data) { return data.receive(collect, inactivity); }))
        return false;
    // The last response is the reply that closed the transfer.
    if (completionSaysFailed(lastResponseInfo()))
        return fail(ErrorListingIncomplete);
    QStringList lines;
    for (QByteArray line : raw.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        lines.append(decodeServerText(line));
    }
    if (!holdsOwnEntries(lines, form))
        return fail(ErrorListingIncomplete);
    takeListingLines(lines, form == ListingForm::Mlsd, entries);
    return true;
}

void FtpConnectionPrivate::takeListingLines(const QStringList& lines, bool mlsd, std::vector<FindData>& entries) {
    entries.clear();
    unrecognisedListingLines.clear();
    const QDate today = QDate::currentDate();
    for (const QString& text : lines) {
        if (text.isEmpty())
            continue;
        ListingLine parsed = mlsd ? readMlsdLine(text) : readListLine(text, today);
        if (parsed.kind == ListingLine::Kind::Entry)
            entries.push_back(std::move(parsed.entry));
        else if (parsed.kind == ListingLine::Kind::Unrecognised)
            unrecognisedListingLines.append(text);
    }
}

bool FtpConnectionPrivate::holdsOwnEntries(const QStringList& lines, ListingForm form) {
    if (form == ListingForm::Plain)
        return true; // plain LIST and STAT hide "." and ".." on most servers
    const bool mlsd = form == ListingForm::Mlsd;
    const Capability shown = mlsd ? ListsCdir : ListsDotEntries;
    if (std::any_of(lines.cbegin(), lines.cend(),
                    [mlsd](const QString& line) { return isOwnOrParentLine(line, mlsd); })) {
        m_capabilities |= shown;
        return true;
    }
    // vsftpd shows "." and ".." in every "-a" listing of a folder it can
    // read: one without them is a folder it could not read, or a cut listing.
    return !(m_capabilities & shown);
}

bool FtpConnectionPrivate::isWholeStatListing(const FtpReply& reply, const QStringList& body, ListingForm form) {
    // vsftpd answers STAT of a folder it may enter but not read with an
    // empty listing: STAT cannot tell such a folder from an empty one.
    return isStatListing(reply) && !reply.overflowed && !body.isEmpty() && holdsOwnEntries(body, form);
}

bool FtpConnectionPrivate::mayListWithStat() const {
    // MLSD's times are exact and in UTC; LIST-form times are not, so STAT is
    // used only where the server offers no MLSD anyway. Proxies may not pass it.
    return !(m_capabilities & OffersMlsd) && !(m_capabilities & RefusedStat) && !m_parameters.proxy;
}

bool FtpConnectionPrivate::mayListWithStat(const QString& folder) const {
    return mayListWithStat() && !m_statOverflowed.contains(folder);
}

QString FtpConnectionPrivate::statCommand() const {
    return (m_capabilities & StatWithoutA) ? QStringLiteral("STAT .") : QStringLiteral("STAT -a .");
}

FtpConnectionPrivate::ListingForm FtpConnectionPrivate::statForm() const {
    return (m_capabilities & StatWithoutA) ? ListingForm::Plain : ListingForm::WithDotEntries;
}

bool FtpConnectionPrivate::learnStatRefusal(const FtpReply& reply) {
    if (!(m_capabilities & StatWithoutA) && reply.code / 100 == 5 && !isUnknownCommandReply(reply)) {
        m_capabilities |= StatWithoutA; // "-a ." taken for a name
        return true;
    }
    m_capabilities |= RefusedStat;
    return false;
}

bool FtpConnectionPrivate::listByStatPath(const QString& folder, std::vector<FindData>& entries, bool& connectionLost) {
    connectionLost = false;
    const QString stat = QStringLiteral("STAT -a ") + folder;
    if ((m_capabilities & (StatWithoutA | StatNeedsCwd)) || !ControlConnection::isSendable(stat))
        return false;
    FtpReply reply;
    if (!m_control->command(stat, reply)) {
        connectionLost = true;
        return false;
    }
    if (reply.overflowed) {
        m_statOverflowed.insert(folder);
        return false;
    }
    // A folder that is missing or closed to us may well list as empty: only
    // its own "." entry proves that this is the folder's listing.
    const QStringList body = replyBody(reply);
    if (!isStatListing(reply) || !showsOwnFolder(body))
        return false;
    m_capabilities |= StatPathProven | ListsDotEntries;
    takeListingLines(body, false, entries);
    return true;
}

bool FtpConnectionPrivate::mayListByStatTogether() const {
    const Capabilities proven = m_capabilities & (StatPathProven | StatWithoutA | StatNeedsCwd);
    return mayListWithStat() && proven == StatPathProven;
}

bool FtpConnectionPrivate::listByStatTogether(const QStringList& folders, std::vector<FolderListing>& listings) {
    listings.assign(size_t(folders.size()), FolderListing{});
    if (!ensureConnected())
        return false;
    if (!mayListByStatTogether())
        return true;
    std::vector<std::optional<FtpReply>> replies;
    if (!m_control->askEach(QStringLiteral("STAT -a"), folders, folders.size(), replies))
        return false;
    for (size_t i = 0; i < replies.size(); ++i) {
        if (!replies[i])
            continue;
        // A listing cut at the size limit is left to a data connection.
        if (replies[i]->overflowed) {
            m_statOverflowed.insert(folders.at(qsizetype(i)));
            continue;
        }
        // As for one folder: only its own "." entry proves the listing.
        const QStringList body = replyBody(*replies[i]);
        if (!isStatListing(*replies[i]) || !showsOwnFolder(body))
            continue;
        FolderListing& listing = listings[i];
        takeListingLines(body, false, listing.entries);
        listing.unrecognisedLines = unrecognisedListingLines;
        listing.listed = true;
    }
    return true;
}

bool FtpConnectionPrivate::enterAndList(const QString& folder, std::vector<FindData>& entries, bool& entered) {
    entered = false;
    if (!ensureConnected())
        return false;
    if (mayListWithStat(folder)) {
        bool connectionLost = false;
        if (listByStatPath(folder, entries, connectionLost)) {
            entered = true;
            return true;
        }
        if (connectionLost)
            return false;
    }
    // Checked again: the STAT of the path may have overflowed.
    if (mayListWithStat(folder))
        return enterAndListByStat(folder, entries, entered);
    if (!changeDirectory(folder))
        return false;
    entered = true;
    return listDirectory(entries);
}

bool FtpConnectionPrivate::enterAndListByStat(const QString& folder, std::vector<FindData>& entries, bool& entered) {
    std::vector<FtpReply> replies;
    if (!m_control->commandsTogether({QStringLiteral("CWD ") + folder, statCommand()}, replies))
        return false;
    if (!requireClasses(replies, {2, AnyClass}))
        return false;
    entered = true;
    rememberDirectoryChange(folder);
    FtpReply& statReply = replies[1];
    if (isStatListing(statReply)) {
        // Listed, yet the path alone did not show ".": this server's STAT
        // of a path is not to be trusted on its own.
        const QStringList body = replyBody(statReply);
        if (!statReply.overflowed && !body.isEmpty() && !showsOwnFolder(body))
            m_capabilities |= StatNeedsCwd;
        if (!isWholeStatListing(statReply, body, statForm()))
            return listDirectory(entries);
        takeListingLines(body, false, entries);
        return true;
    }
    if (learnStatRefusal(statReply) && mayListWithStat()) {
        if (!m_control->command(statCommand(), statReply))
            return false;
        if (isStatListing(statReply)) {
            const QStringList body = replyBody(statReply);
            if (!isWholeStatListing(statReply, body, statForm()))
                return listDirectory(entries);
            takeListingLines(body, false, entries);
            return true;
        }
        m_capabilities |= RefusedStat;
    }
    return listDirectory(entries);
}

bool FtpConnectionPrivate::listDirectory(std::vector<FindData>& entries) {
    if ((m_capabilities & OffersMlsd) && !(m_capabilities & RefusedMlsd)) {
        if (listWith(QStringLiteral("MLSD"), ListingForm::Mlsd, entries))
            return true;
        if (lastError() != ErrorExtendedError || !isUnknownCommandReply(FtpReply{replyCodeOf(lastResponseInfo()), {}}))
            return false;
        m_capabilities |= RefusedMlsd;
    }
    if (m_capabilities & RefusedListA)
        return listWith(QStringLiteral("LIST"), ListingForm::Plain, entries);
    // Without -a many servers hide dot-files (.htaccess) from LIST. A listing
    // that failed as a listing (not as a command) is not tried again without
    // it: plain LIST would show such a folder as empty.
    if (listWith(QStringLiteral("LIST -a"), ListingForm::WithDotEntries, entries))
        return true;
    if (lastError() != ErrorExtendedError)
        return false;
    if (!listWith(QStringLiteral("LIST"), ListingForm::Plain, entries))
        return false;
    m_capabilities |= RefusedListA;
    return true;
}

} // namespace inet
