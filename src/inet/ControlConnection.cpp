#include "inet/ControlConnection.h"

#include <QDeadlineTimer>
#include <QStringDecoder>

#include <algorithm>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "inet/InetPrivate.h"

namespace inet {

namespace {

// QUIT on a connection that is going away anyway should not hold up the caller.
constexpr Milliseconds quitTimeout{3'000};

QString redacted(const QString& command) {
    if (command.startsWith(QLatin1String("PASS "), Qt::CaseInsensitive))
        return QStringLiteral("PASS ****");
    return command;
}

bool hasLineBreakOrNul(const QString& command) {
    return std::any_of(command.cbegin(), command.cend(),
                       [](QChar c) { return c == QLatin1Char('\r') || c == QLatin1Char('\n') || c.unicode() == 0; });
}

} // namespace

QString decodeServerText(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return QString::fromLatin1(bytes);
    return text;
}

bool isUnknownCommandReply(const FtpReply& reply) {
    return reply.code == 500 || reply.code == 502 || reply.code == 504;
}

ControlConnection::ControlConnection(std::unique_ptr<QTcpSocket> socket, Milliseconds replyTimeout,
                                     std::vector<QString>& transcript, ErrorState& errors)
    : m_socket(std::move(socket)), m_replyTimeout(replyTimeout), m_transcript(transcript), m_errors(errors),
      m_assembler(MaxReplyText) {}

ControlConnection::~ControlConnection() {
    // Whoever queued work learns that it never went out.
    std::vector<Owed> owed = std::exchange(m_owed, {});
    failOwed(owed, ErrorConnectionAborted);
    while (!m_queued.empty()) {
        std::vector<Queued> left = std::exchange(m_queued, {});
        failQueued(left);
    }
    if (isUsable()) {
        // Leave politely, without waiting for the goodbye: its text does not
        // matter, and neither may it change the caller's last response.
        ErrorStateGuard keep(m_errors);
        m_replyTimeout = std::min(m_replyTimeout, quitTimeout);
        if (send(QStringLiteral("QUIT")))
            m_socket->disconnectFromHost();
    }
    m_socket->abort();
}

// Servers that send two replies in a row (150 and 226, 350 and 250) hold the
// second back until the first is acknowledged; a delayed acknowledgement
// would cost each of them up to 40 ms. Linux turns this back off by itself,
// so it is asked for again after every read.
void ControlConnection::acknowledgeAtOnce() {
#ifdef TCP_QUICKACK
    const int on = 1;
    const qintptr descriptor = m_socket->socketDescriptor();
    if (descriptor >= 0)
        ::setsockopt(int(descriptor), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#endif
}

bool ControlConnection::isUsable() const {
    return m_usable && m_socket->state() == QAbstractSocket::ConnectedState;
}

void ControlConnection::markUnusable() {
    if (m_usable)
        qCDebug(lcInet) << "control connection out of step; closing it";
    m_usable = false;
    m_socket->abort();
}

bool ControlConnection::startTls(const TlsSetup& setup, TlsReport& report) {
    QSslSocket* socket = sslSocketOf(*m_socket);
    if (!socket || !isUsable())
        return fail(ErrorConnectionAborted);
    // Whatever came in clear text after the 234 would later be read as if it
    // had come under TLS: a man in the middle could slip in a reply.
    if (socket->bytesAvailable() > 0) {
        qCDebug(lcInet) << "clear text after the TLS go-ahead; refusing it";
        markUnusable();
        return fail(ErrorTlsFailed);
    }
    inet::startTls(*socket, setup);
    if (!finishTls(*socket, setup, m_replyTimeout, report, m_errors)) {
        m_usable = false;
        return false;
    }
    m_encrypted = true;
    m_tls = setup;
    m_fingerprint = report.fingerprint;
    return true;
}

TlsSetup ControlConnection::dataTlsSetup() const {
    const QSslSocket* socket = qobject_cast<const QSslSocket*>(m_socket.get());
    TlsSetup setup = m_tls;
    if (socket)
        setup.configuration = socket->sslConfiguration();
    // Data connections must come from the server that passed the check.
    setup.pinned = m_fingerprint;
    return setup;
}

bool ControlConnection::send(const QString& command) {
    // A line break inside a command would end it early, and the rest would
    // reach the server as a command of its own: a file name could delete
    // another file. Refused whoever the caller is, before anything is sent.
    if (hasLineBreakOrNul(command)) {
        qCDebug(lcInet).noquote() << "refused a command with a line break:" << redacted(command).left(40);
        return fail(ErrorUnsafeCommand);
    }
    return write({command});
}

bool ControlConnection::readReply(FtpReply& reply) {
    return readReply(reply, m_replyTimeout);
}

bool ControlConnection::readReply(FtpReply& reply, Milliseconds within) {
    if (!m_usable)
        return fail(ErrorConnectionAborted);
    within = std::min(within, m_replyTimeout);
    QDeadlineTimer deadline(within);
    for (;;) {
        while (m_socket->canReadLine()) {
            QByteArray line = m_socket->readLine();
            while (line.endsWith('\n') || line.endsWith('\r'))
                line.chop(1);
            const QString text = decodeServerText(line);
            qCDebug(lcInet).noquote() << "<--" << text;
            acknowledgeAtOnce();
            if (std::optional<FtpReply> complete = m_assembler.addLine(text)) {
                reply = *complete;
                m_errors.reply = reply.text;
                // 421: the server is closing the connection (RFC 959, 5.4).
                if (reply.code == 421)
                    markUnusable();
                return true;
            }
        }
        if (m_socket->state() != QAbstractSocket::ConnectedState) {
            markUnusable();
            return fail(ErrorConnectionAborted);
        }
        if (!m_socket->waitForReadyRead(int(deadline.remainingTime())) && !m_socket->canReadLine()) {
            if (m_socket->state() != QAbstractSocket::ConnectedState)
                continue; // the loop above takes what is left, then reports the loss
            if (deadline.hasExpired()) {
                qCDebug(lcInet) << "no reply within" << within.count() << "ms";
                markUnusable();
                return fail(ErrorTimeout);
            }
        }
    }
}

bool ControlConnection::command(const QString& command, FtpReply& reply) {
    return send(command) && readFinalReply(reply);
}

bool ControlConnection::readFinalReply(FtpReply& reply) {
    if (!readReply(reply))
        return false;
    while (reply.isPreliminary()) {
        if (!readReply(reply))
            return false;
    }
    return true;
}

bool ControlConnection::isSendable(const QString& command) {
    return !hasLineBreakOrNul(command);
}

bool ControlConnection::sendTogether(const QStringList& commands) {
    if (!std::all_of(commands.cbegin(), commands.cend(), isSendable))
        return fail(ErrorUnsafeCommand);
    return write(commands);
}

bool ControlConnection::queue(const QStringList& commands, QueuedReplies onReplies) {
    if (!std::all_of(commands.cbegin(), commands.cend(), isSendable))
        return fail(ErrorUnsafeCommand);
    m_queued.push_back({commands, std::move(onReplies)});
    return true;
}

void ControlConnection::owe(Milliseconds within, OwedReply onReply) {
    m_owed.push_back({within, std::move(onReply)});
}

bool ControlConnection::flushQueued() {
    // What the replies make queued (a clean-up) goes too.
    while (!m_queued.empty() || !m_owed.empty()) {
        if (!write({}))
            return false;
    }
    return true;
}

void ControlConnection::appendLine(QByteArray& lines, const QString& command) {
    m_transcript.push_back(redacted(command));
    qCDebug(lcInet).noquote() << "-->" << redacted(command);
    lines += command.toUtf8() + "\r\n";
}

bool ControlConnection::write(const QStringList& commands) {
    std::vector<Owed> owed = std::exchange(m_owed, {});
    std::vector<Queued> riding = std::exchange(m_queued, {});
    if (!isUsable()) {
        failOwed(owed, ErrorConnectionAborted);
        failQueued(riding);
        return fail(ErrorConnectionAborted);
    }
    // One write: the commands leave in as few packets as they fit, and the
    // server reads them in as few gulps.
    QByteArray lines;
    for (const Queued& queued : riding) {
        for (const QString& command : queued.commands)
            appendLine(lines, command);
    }
    for (const QString& command : commands)
        appendLine(lines, command);
    if (!lines.isEmpty() && !writeAll(*m_socket, lines, m_replyTimeout, m_errors)) {
        markUnusable();
        failOwed(owed, m_errors.code);
        failQueued(riding);
        return false;
    }
    // Owed replies answer commands sent before anything that rides now.
    if (!readOwedReplies(owed)) {
        failQueued(riding);
        return false;
    }
    return readQueuedReplies(riding);
}

bool ControlConnection::readOwedReplies(std::vector<Owed>& owed) {
    for (size_t i = 0; i < owed.size(); ++i) {
        const ErrorState before = m_errors;
        FtpReply reply;
        bool read = readReply(reply, owed[i].within);
        while (read && reply.isPreliminary())
            read = readReply(reply, owed[i].within);
        if (!read) {
            failOwed(owed, m_errors.code, i);
            return false;
        }
        m_errors = before;
        owed[i].onReply(&reply, ErrorSuccess);
    }
    return true;
}

bool ControlConnection::readQueuedReplies(std::vector<Queued>& riding) {
    for (size_t i = 0; i < riding.size(); ++i) {
        // Their replies are theirs: the caller's last response stays its own,
        // unless the connection fails on the way.
        const ErrorState before = m_errors;
        std::vector<FtpReply> replies(size_t(riding[i].commands.size()));
        for (FtpReply& reply : replies) {
            if (!readFinalReply(reply)) {
                failQueued(riding, i);
                return false;
            }
        }
        m_errors = before;
        riding[i].onReplies(&replies);
    }
    return true;
}

void ControlConnection::failOwed(std::vector<Owed>& owed, int failure, size_t from) {
    for (size_t i = from; i < owed.size(); ++i)
        owed[i].onReply(nullptr, failure);
    owed.clear();
}

void ControlConnection::failQueued(std::vector<Queued>& riding, size_t from) {
    for (size_t i = from; i < riding.size(); ++i)
        riding[i].onReplies(nullptr);
    riding.clear();
}

bool ControlConnection::commandsTogether(const QStringList& commands, std::vector<FtpReply>& replies) {
    if (!sendTogether(commands))
        return false;
    replies.assign(size_t(commands.size()), FtpReply{});
    for (FtpReply& reply : replies) {
        if (!readFinalReply(reply))
            return false;
    }
    return true;
}

bool ControlConnection::askEach(const QString& verb, const QStringList& arguments, qsizetype perWrite,
                                std::vector<std::optional<FtpReply>>& replies) {
    replies.assign(size_t(arguments.size()), std::nullopt);
    // The replies come in the order of the commands, so many can go at once.
    QStringList commands;
    std::vector<size_t> asked;
    const auto askTogether = [&] {
        std::vector<FtpReply> answers;
        if (!commands.isEmpty() && !commandsTogether(commands, answers))
            return false;
        for (size_t i = 0; i < answers.size(); ++i)
            replies[asked[i]] = std::move(answers[i]);
        commands.clear();
        asked.clear();
        return true;
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString command = verb + QLatin1Char(' ') + arguments.at(i);
        if (!isSendable(command))
            continue;
        commands.append(command);
        asked.push_back(size_t(i));
        if (commands.size() >= perWrite && !askTogether())
            return false;
    }
    return askTogether();
}

} // namespace inet
