// Default limits, temporary names and the listing
// handle: the small parts of the service that every other piece uses.
#include "inet/FtpService.h"

#include <algorithm>
#include <mutex>

#include <QCryptographicHash>
#include <QRandomGenerator>

#include "inet/InetPrivate.h"

namespace inet {

Q_LOGGING_CATEGORY(lcInet, "vellisync.inet", QtInfoMsg)

namespace {
std::mutex g_defaultsMutex;
Timeouts g_defaultTimeouts;

const QString tempSuffix = QStringLiteral(".vstmp");
const QString asideMarker = QStringLiteral(".vsold");
constexpr qsizetype TokenLength = 8;

bool isLowerHexDigit(QChar c) {
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
}

// The longest file name most file systems and servers accept, in bytes.
constexpr qsizetype MaxNameBytes = 255;

// The longest start of text that takes at most maxBytes of UTF-8, cut between
// whole characters.
QString utf8Prefix(const QString& text, qsizetype maxBytes) {
    QString prefix;
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype units = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const qsizetype size = text.mid(i, units).toUtf8().size();
        if (bytes + size > maxBytes)
            break;
        prefix += text.mid(i, units);
        bytes += size;
        i += units;
    }
    return prefix;
}

// lead + stem + ending, or where that is longer than a name may be, lead +
// a shortened stem + "~" + 16 hex digits of the stem's digest + ending.
QString fittingName(const QString& lead, const QString& stem, const QString& ending) {
    QString name = lead + stem + ending;
    if (name.toUtf8().size() <= MaxNameBytes)
        return name;
    const QByteArray digest = QCryptographicHash::hash(stem.toUtf8(), QCryptographicHash::Sha256).left(8).toHex();
    const qsizetype room = MaxNameBytes - lead.size() - 1 - digest.size() - ending.toUtf8().size();
    return lead + utf8Prefix(stem, room) + QLatin1Char('~') + QString::fromLatin1(digest) + ending;
}

QString leadOf(TempNameStyle style) {
    return style == TempNameStyle::Hidden ? QStringLiteral(".") : QString();
}

} // namespace

QString newTransferToken() {
    return QString::number(QRandomGenerator::system()->generate(), 16).rightJustified(TokenLength, QLatin1Char('0'));
}

bool isTransferToken(const QString& text) {
    return text.size() == TokenLength &&
           std::all_of(text.cbegin(), text.cend(), [](QChar c) { return isLowerHexDigit(c); });
}

QString transferTempName(const QString& fileName, const QString& token, TempNameStyle style) {
    return fittingName(leadOf(style), fileName, QLatin1Char('.') + token + tempSuffix);
}

QString asideTempName(const QString& fileName, TempNameStyle style) {
    // No run's token: whichever run moved the file aside, any later run finds
    // it under this one name and can put it back.
    return fittingName(leadOf(style), fileName + asideMarker, tempSuffix);
}

QString originalOfAsideName(const QString& tempName) {
    const QString ending = asideMarker + tempSuffix;
    const bool hidden = tempName.startsWith(QLatin1Char('.'));
    const qsizetype lead = hidden ? 1 : 0;
    if (!tempName.endsWith(ending) || tempName.size() <= ending.size() + lead)
        return {};
    const QString original = tempName.mid(lead, tempName.size() - lead - ending.size());
    const TempNameStyle style = hidden ? TempNameStyle::Hidden : TempNameStyle::Visible;
    return asideTempName(original, style) == tempName ? original : QString();
}

QString transferTokenOf(const QString& tempName) {
    // "....TOKEN.vstmp"
    const qsizetype tokenStart = tempName.size() - tempSuffix.size() - TokenLength;
    if (!tempName.endsWith(tempSuffix) || tokenStart < 2 || tempName.at(tokenStart - 1) != QLatin1Char('.'))
        return {};
    const QString token = tempName.mid(tokenStart, TokenLength);
    return isTransferToken(token) ? token : QString();
}

bool isTransferTempName(const QString& fileName) {
    if (fileName.size() > tempSuffix.size() + 1 && fileName.startsWith(QLatin1Char('.')) &&
        fileName.endsWith(tempSuffix))
        return true;
    // Without the leading dot only the exact shapes count: "name.TOKEN.vstmp"
    // and "name.vsold.vstmp", so no user's file is ever taken for ours.
    return !transferTokenOf(fileName).isEmpty() || !originalOfAsideName(fileName).isEmpty();
}

Timeouts defaultTimeouts() {
    std::lock_guard lock(g_defaultsMutex);
    return g_defaultTimeouts;
}

void setDefaultTimeouts(const Timeouts& timeouts) {
    std::lock_guard lock(g_defaultsMutex);
    g_defaultTimeouts = timeouts;
}

FtpFind::FtpFind(std::vector<FindData> entries) : m_entries(std::move(entries)) {}

bool FtpFind::findNext(FindData& data) {
    if (m_next >= m_entries.size()) {
        m_lastError = ErrorNoMoreFiles;
        return false;
    }
    data = m_entries[m_next++];
    return true;
}

} // namespace inet
