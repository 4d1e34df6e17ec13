#pragma once

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

} // namespace inet
