#include "inet/ReplyParser.h"

#include <QRegularExpression>

#include "inet/ListingParser.h"

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

// The text after the reply code of a one-line reply, or the whole text when it
// carries no code.
QString afterReplyCode(const QString& replyText) {
    static const QRegularExpression code(QStringLiteral("^\\s*\\d{3}[ -]?"));
    const QRegularExpressionMatch m = code.match(replyText);
    return m.hasMatch() ? replyText.mid(m.capturedEnd(0)) : replyText;
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

QString withoutLineBreak(const QString& line) {
    qsizetype end = line.size();
    while (end > 0 && (line.at(end - 1) == QLatin1Char('\r') || line.at(end - 1) == QLatin1Char('\n')))
        --end;
    return line.left(end);
}

std::optional<QString> parsePwdReply(const QString& replyText) {
    const QString text = afterReplyCode(withoutLineBreak(replyText.section(QLatin1Char('\n'), 0, 0)));
    const qsizetype open = text.indexOf(QLatin1Char('"'));
    if (open < 0) {
        // "257 /home/user is current directory." from servers that do not quote.
        const QString word = text.trimmed().section(QLatin1Char(' '), 0, 0);
        if (word.isEmpty())
            return std::nullopt;
        return word;
    }
    QString directory;
    for (qsizetype i = open + 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('"')) {
            directory.append(c);
        } else if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
            directory.append(c); // "" inside the quotes is one quote (RFC 959, appendix II)
            ++i;
        } else {
            return directory;
        }
    }
    return std::nullopt; // no closing quote
}

// "229 Entering Extended Passive Mode (|||50000|)": RFC 2428 lets the server
// choose any printable delimiter instead of '|'.
std::optional<quint16> parseEpsvReply(const QString& replyText) {
    static const QRegularExpression re(QStringLiteral("\\(([!-~])\\1\\1(\\d{1,5})\\1\\)"));
    static const QRegularExpression bare(QStringLiteral("([!-~])\\1\\1(\\d{1,5})\\1"));
    QRegularExpressionMatch m = re.match(replyText);
    if (!m.hasMatch())
        m = bare.match(afterReplyCode(replyText));
    if (!m.hasMatch())
        return std::nullopt;
    const int port = m.captured(2).toInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    return static_cast<quint16>(port);
}

// "227 Entering Passive Mode (127,0,0,1,195,80)." Some servers leave out the
// parentheses ("227 Entering Passive Mode 127,0,0,1,195,80" or "227 =127,...").
std::optional<PassiveAddress> parsePasvReply(const QString& replyText) {
    static const QRegularExpression re(QStringLiteral(
        "(?<!\\d)(\\d+)\\s*,\\s*(\\d+)\\s*,\\s*(\\d+)\\s*,\\s*(\\d+)\\s*,\\s*(\\d+)\\s*,\\s*(\\d+)(?!\\d)"));
    const QRegularExpressionMatch m = re.match(afterReplyCode(replyText));
    if (!m.hasMatch())
        return std::nullopt;
    int numbers[6] = {};
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        numbers[i] = m.captured(i + 1).toInt(&ok);
        if (!ok || numbers[i] > 255)
            return std::nullopt;
    }
    const int port = numbers[4] * 256 + numbers[5];
    if (port == 0)
        return std::nullopt;
    PassiveAddress result;
    result.address = QHostAddress((quint32(numbers[0]) << 24) | (quint32(numbers[1]) << 16) |
                                  (quint32(numbers[2]) << 8) | quint32(numbers[3]));
    result.port = static_cast<quint16>(port);
    return result;
}

std::optional<QDateTime> parseMdtmReply(const QString& replyText) {
    static const QRegularExpression re(QStringLiteral("^213 (\\d{14}(?:\\.\\d+)?)\\s*$"));
    const QRegularExpressionMatch m = re.match(replyText.trimmed());
    return m.hasMatch() ? parseTimeVal(m.captured(1)) : std::nullopt;
}

} // namespace inet
