// Commands, renames, folders and data connections of one FTP connection.
#include "inet/FtpConnectionPrivate.h"

#include <QBuffer>

#include "inet/InetPrivate.h"

namespace inet {

namespace {

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
    lastStoredTime.reset();
    if (!renameCheckingSize(tempPath, target, modified, sentBytes, timeSet) && !moveAsideAndIntoPlace(tempPath, target))
        return false;
    if (modified && !timeSet) {
        // The upload itself succeeded: what follows must not change that.
        ErrorStateGuard keep(m_errors);
        timeSet = setTimeTryingEachWay(target, *modified);
    }
    if (timeSet)
        lastStoredTime = modified;
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
                                           const std::function<bool(DataConnection&)>& beforeReply,
                                           const std::function<OwedEnd()>& oweEnd) {
    if (!ensureConnected())
        return false;
    const bool ahead = mayPipelinePassive();
    std::unique_ptr<DataConnection> data = ahead ? openPassiveAhead(command) : openDataConnection();
    if (!data)
        return noteDataConnectionRefusal();
    protectData(*data);
    const bool mayOwe = ahead && oweEnd && !(m_capabilities & EndsTransfersLate);
    if (mayOwe)
        data->halfCloseUploads();
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
    if (transferred && mayOwe && oweTransferEnd(*data, endedAhead, oweEnd))
        return true;
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

bool FtpConnectionPrivate::oweTransferEnd(DataConnection& data, bool endedAhead,
                                          const std::function<OwedEnd()>& oweEnd) {
    // Once the server has closed the data connection its transfer is over:
    // the next command cannot reach it mid-way, and the final reply it sends
    // first is read when that command's replies are. A reply that came in
    // meanwhile is read now, and so is every reply of a server that closes
    // late.
    if (m_control->hasReplyWaiting() || !data.serverClosed(EndOfTransferWait, m_control->descriptor()) ||
        m_control->hasReplyWaiting())
        return false;
    OwedEnd onEnd = oweEnd();
    if (!onEnd)
        return false;
    const Milliseconds within = endedAhead ? EndOfEarlyUploadWait : m_parameters.timeouts.reply;
    m_control->owe(within, [this, endedAhead, onEnd = std::move(onEnd)](const FtpReply* reply, int failure) {
        // A passive reply in its place answers what went out later: a server
        // that turns to the next command before it has ended the transfer.
        // Nothing more read on this connection can be trusted.
        if (reply && (reply->code == 227 || reply->code == 229)) {
            qCDebug(lcInet) << "a transfer's final reply came after the next command's; closing";
            m_capabilities |= EndsTransfersLate;
            m_control->markUnusable();
            reply = nullptr;
            failure = ErrorConnectionAborted;
        }
        // As a reply read at once would teach (see transferCommand).
        if (!reply && endedAhead && failure == ErrorTimeout)
            m_capabilities |= AcceptsDataEarly;
        onEnd(reply, failure);
    });
    return true;
}

bool FtpConnectionPrivate::makeFolders(const QStringList& folders, std::vector<bool>& made) {
    made.assign(size_t(folders.size()), false);
    if (!ensureConnected())
        return false;
    // Each MKD waits for the one before it on the server, so a parent comes
    // first; a name that cannot be sent gets no reply and is not made.
    constexpr qsizetype FoldersMadeTogether = 100;
    std::vector<std::optional<FtpReply>> replies;
    if (!m_control->askEach(QStringLiteral("MKD"), folders, FoldersMadeTogether, replies))
        return false;
    for (size_t i = 0; i < replies.size(); ++i)
        made[i] = replies[i] && replies[i]->isCompletion();
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

} // namespace inet
