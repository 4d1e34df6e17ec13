#pragma once

// Server replies: assembled from the control connection's lines, and read
// where their text carries data (PWD, EPSV, PASV, MDTM).

#include <QDateTime>
#include <QHostAddress>
#include <QString>

#include <optional>

namespace inet {

// One complete server reply.
struct FtpReply {
    int code = 0; // three-digit reply code
    QString text; // every line of the reply, each ended by CR LF
    // Lines past the assembler's size limit were dropped from text: a listing
    // in such a reply is not the whole folder.
    bool overflowed = false;

    // Reply classes by the first digit (RFC 959, 4.2).
    bool isPreliminary() const { return code / 100 == 1; }
    bool isCompletion() const { return code / 100 == 2; }
    bool isIntermediate() const { return code / 100 == 3; }
    bool isTransientError() const { return code / 100 == 4; }
    bool isPermanentError() const { return code / 100 == 5; }
};

// Assembles replies from the lines of the control connection: "123 text" is a
// whole reply; "123-text" opens a multi-line reply that only a line starting
// with the same code and a blank closes (lines in between may start with
// anything, other codes included). Lines are given without their line break.
class ReplyAssembler {
public:
    // Beyond maxText characters further lines of a multi-line reply are
    // dropped (the reply still ends at its closing line) and the reply is
    // marked as overflowed: a server that never ends a reply must not make
    // us keep all it sends.
    static constexpr qsizetype DefaultMaxText = 64 * 1024;
    explicit ReplyAssembler(qsizetype maxText = DefaultMaxText) : m_maxText(maxText) {}

    // Adds one line; returns the reply once it is complete.
    std::optional<FtpReply> addLine(const QString& line);
    // Whether a multi-line reply has begun and not yet ended.
    bool inProgress() const { return m_code != 0; }
    void reset();

private:
    qsizetype m_maxText;
    int m_code = 0;
    QString m_text;
    bool m_overflowed = false;
};

// The text without the CR and LF it ends in (a line as it came off a
// connection, or a whole reply).
QString withoutLineBreak(const QString& line);

// Parsers of the replies whose text carries data.

// The UTC time of a "213 YYYYMMDDhhmmss[.sss]" reply to MDTM (RFC 3659).
std::optional<QDateTime> parseMdtmReply(const QString& replyText);

// The folder of a 257 reply: the text between the first quote and its closing
// quote, doubled quotes inside standing for one. Empty when there is none.
std::optional<QString> parsePwdReply(const QString& replyText);

// The port of a 229 reply ("(|||port|)").
std::optional<quint16> parseEpsvReply(const QString& replyText);

// The address and port of a 227 reply ("h1,h2,h3,h4,p1,p2").
struct PassiveAddress {
    QHostAddress address;
    quint16 port = 0;
};
std::optional<PassiveAddress> parsePasvReply(const QString& replyText);

} // namespace inet
