#pragma once

#include <QString>

#include <optional>

namespace inet {

// One complete server reply.
struct FtpReply {
    int code = 0; // three-digit reply code
    QString text; // every line of the reply, each ended by CR LF

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
    // Adds one line; returns the reply once it is complete.
    std::optional<FtpReply> addLine(const QString& line);
    // Whether a multi-line reply has begun and not yet ended.
    bool inProgress() const { return m_code != 0; }
    void reset();

private:
    int m_code = 0;
    QString m_text;
};

} // namespace inet
