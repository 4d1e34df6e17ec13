#include "inet/ReplyParser.h"

namespace inet {

namespace {

const QLatin1String lineEnd("\r\n");

// The reply code at the start of a line (three digits, the first 1 to 5 by
// RFC 959, 4.2, or 6 for the protected replies of RFC 2228), or 0 when the line
// starts otherwise.
int leadingCode(const QString& line) {
    if (line.size() < 3)
        return 0;
    for (int i = 0; i < 3; ++i) {
        if (line.at(i) < QLatin1Char('0') || line.at(i) > QLatin1Char('9'))
            return 0;
    }
    if (line.at(0) < QLatin1Char('1') || line.at(0) > QLatin1Char('6'))
        return 0;
    return line.left(3).toInt();
}

// What follows the code: '-' opens a multi-line reply; a blank or the end of
// the line makes it a last line ("226" alone is a whole reply too).
QChar separatorAfterCode(const QString& line) {
    return line.size() > 3 ? line.at(3) : QLatin1Char(' ');
}

QString withoutLineBreak(const QString& line) {
    qsizetype end = line.size();
    while (end > 0 && (line.at(end - 1) == QLatin1Char('\r') || line.at(end - 1) == QLatin1Char('\n')))
        --end;
    return line.left(end);
}

} // namespace

std::optional<FtpReply> ReplyAssembler::addLine(const QString& rawLine) {
    const QString line = withoutLineBreak(rawLine);
    const int code = leadingCode(line);

    if (m_code == 0) {
        // Outside a reply, a line without a code is noise (some servers add
        // stray text after a complete reply): skip it rather than fail.
        if (code == 0)
            return std::nullopt;
        const QChar separator = separatorAfterCode(line);
        if (separator == QLatin1Char('-')) {
            m_code = code;
            m_text = line + lineEnd;
            return std::nullopt;
        }
        if (separator != QLatin1Char(' '))
            return std::nullopt; // "1234 ..." is no reply line
        return FtpReply{code, line + lineEnd};
    }

    // Inside a multi-line reply every line belongs to it; only the same code
    // followed by a blank (or nothing) ends it. Lines in between may begin with
    // digits or other codes ("226-Options: -l", "  250 entries", "211-x").
    const bool closes = code == m_code && separatorAfterCode(line) == QLatin1Char(' ');
    if (closes || m_text.size() < m_maxText)
        m_text += line + lineEnd;
    else
        m_overflowed = true;
    if (!closes)
        return std::nullopt;
    FtpReply reply{m_code, m_text, m_overflowed};
    reset();
    return reply;
}

void ReplyAssembler::reset() {
    m_code = 0;
    m_text.clear();
    m_overflowed = false;
}

} // namespace inet
