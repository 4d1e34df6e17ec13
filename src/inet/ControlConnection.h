#pragma once

// The control connection: sends commands, assembles replies, keeps the
// transcript and knows when it can no longer be trusted.

#include "inet/FtpService.h"
#include "inet/InetPrivate.h"
#include "inet/ReplyParser.h"
#include "inet/SocketIo.h"
#include "inet/Tls.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace inet {

// Text from the server: UTF-8, or Latin-1 where the bytes are no valid UTF-8
// (older servers send names in a single-byte code page).
QString decodeServerText(const QByteArray& bytes);

class ControlConnection {
public:
    // The most text of one reply that is kept. STAT listings come as replies,
    // so this is sized for a folder of some ten thousand files; a longer one
    // comes back marked as overflowed (FtpReply::overflowed), never shorter
    // without a word.
    static constexpr qsizetype MaxReplyText = 1024 * 1024;

    // Failures and replies go to errors, the state of the connection this
    // one works for.
    ControlConnection(std::unique_ptr<QTcpSocket> socket, Milliseconds replyTimeout, std::vector<QString>& transcript,
                      ErrorState& errors);
    // Says QUIT when the connection is still in step, then closes it.
    ~ControlConnection();
    ControlConnection(const ControlConnection&) = delete;
    ControlConnection& operator=(const ControlConnection&) = delete;

    // Sends one command line (without CR LF). The transcript and the log show
    // a PASS command without its argument. A command that holds CR, LF or NUL
    // is never sent: ErrorUnsafeCommand, and the connection stays usable.
    bool send(const QString& command);
    // Reads the next whole reply and records it as the last response.
    // A time-out or a lost connection leaves the connection unusable: a reply
    // that arrives late must never be read as the answer to a later command.
    bool readReply(FtpReply& reply);
    // As readReply(), waiting at most `within` (never longer than the reply
    // time-out) for the reply.
    bool readReply(FtpReply& reply, Milliseconds within);
    // send() and then readReply() until a reply that is not preliminary.
    bool command(const QString& command, FtpReply& reply);
    // readReply() until a reply that is not preliminary (the answer to a
    // command sent ahead of time).
    bool readFinalReply(FtpReply& reply);
    // Whether send() would send the command (it holds no CR, LF or NUL).
    static bool isSendable(const QString& command);
    // Sends the commands in one write, as send() would each; nothing is sent
    // when one of them could not be (ErrorUnsafeCommand).
    bool sendTogether(const QStringList& commands);
    // Sends the commands in one go and reads their final replies in order:
    // for commands none of which depends on the answer to the one before.
    // Nothing is sent when one of them could not be (ErrorUnsafeCommand).
    bool commandsTogether(const QStringList& commands, std::vector<FtpReply>& replies);
    // The same command for each argument ("MDTM a", "MDTM b", ...), at most
    // perWrite of them in one write; each gets its final reply, and one that
    // could not be sent (a line break in its argument) gets none. False only
    // when the connection failed.
    bool askEach(const QString& verb, const QStringList& arguments, qsizetype perWrite,
                 std::vector<std::optional<FtpReply>>& replies);

    // Commands that need not go out at once: they leave with the connection's
    // next write, ahead of its own commands, and their final replies are read
    // before anything else and handed to onReplies. Whatever the next write
    // waits for, they ride in the same round trip. onReplies gets none when
    // the connection failed first; it may queue more, but sends nothing. Nothing
    // is queued when a command could not be sent (ErrorUnsafeCommand).
    using QueuedReplies = std::function<void(const std::vector<FtpReply>* replies)>;
    bool queue(const QStringList& commands, QueuedReplies onReplies);
    // Sends what is queued on its own and reads the replies, until nothing is.
    bool flushQueued();
    // The final reply to a command already sent is left for later: it is read
    // (within `within`) at the connection's next write, before the replies of
    // anything queued, and handed to onReply; a failed read hands it none and
    // the error code. Only for a command whose work is over on the server's
    // side (a transfer whose data connection the server has closed), so that
    // what goes out meanwhile cannot reach it mid-way.
    using OwedReply = std::function<void(const FtpReply* reply, int failure)>;
    void owe(Milliseconds within, OwedReply onReply);
    bool hasOwedReplies() const { return !m_owed.empty(); }

    // False once the conversation is out of step or the connection is gone.
    bool isUsable() const;
    void markUnusable();

    // Turns the connection into a TLS one (after the server's 234 to AUTH TLS,
    // or at once for implicit TLS) and checks the certificate.
    bool startTls(const TlsSetup& setup, TlsReport& report);
    bool isEncrypted() const { return m_encrypted; }
    // What a data connection needs to resume this connection's TLS session
    // and to recognise the same server: the current configuration (with its
    // session ticket) and the certificate's fingerprint.
    TlsSetup dataTlsSetup() const;

    // Whether something the server sent is already in hand, unread.
    bool hasReplyWaiting() const { return m_socket->bytesAvailable() > 0; }
    int descriptor() const { return int(m_socket->socketDescriptor()); }
    QHostAddress peerAddress() const { return m_socket->peerAddress(); }
    QHostAddress localAddress() const { return m_socket->localAddress(); }
    Milliseconds replyTimeout() const { return m_replyTimeout; }

private:
    struct Queued {
        QStringList commands;
        QueuedReplies onReplies;
    };
    struct Owed {
        Milliseconds within;
        OwedReply onReply;
    };
    // One write of the queued commands and then these; the queued ones' replies are read.
    bool write(const QStringList& commands);
    bool readQueuedReplies(std::vector<Queued>& riding);
    bool readOwedReplies(std::vector<Owed>& owed);
    static void failQueued(std::vector<Queued>& riding, size_t from = 0);
    static void failOwed(std::vector<Owed>& owed, int failure, size_t from = 0);
    void appendLine(QByteArray& lines, const QString& command);
    void acknowledgeAtOnce();
    bool fail(int code) { return m_errors.fail(code); }

    std::unique_ptr<QTcpSocket> m_socket;
    Milliseconds m_replyTimeout;
    std::vector<QString>& m_transcript;
    ErrorState& m_errors;
    ReplyAssembler m_assembler;
    bool m_usable = true;
    bool m_encrypted = false;
    TlsSetup m_tls;
    QByteArray m_fingerprint;
    std::vector<Queued> m_queued;
    std::vector<Owed> m_owed;
};

// Whether a reply says the server does not know or implement a command
// (500, 502, 504), as opposed to refusing it for this argument.
bool isUnknownCommandReply(const FtpReply& reply);

} // namespace inet
