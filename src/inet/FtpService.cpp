// Per-thread error state, default limits, temporary names and the listing
// handle: the small parts of the service that every other piece uses.
#include "inet/FtpService.h"

#include <mutex>

#include <QCryptographicHash>

#include "inet/InetPrivate.h"

namespace inet {

Q_LOGGING_CATEGORY(lcInet, "vellisync.inet", QtInfoMsg)

namespace {
thread_local int t_lastError = 0;
thread_local QString t_lastResponse;

std::mutex g_defaultsMutex;
Timeouts g_defaultTimeouts;

const QString tempSuffix = QStringLiteral(".vstmp");
const QString asideMarker = QStringLiteral(".vsold");

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
} // namespace

int lastError() {
    return t_lastError;
}

void setLastError(int code) {
    t_lastError = code;
}

QString lastResponseInfo() {
    return t_lastResponse;
}

void setLastResponseInfo(const QString& text) {
    t_lastResponse = text;
}

bool fail(int code) {
    t_lastError = code;
    return false;
}

QString transferTempName(const QString& fileName) {
    QString name = QLatin1Char('.') + fileName + tempSuffix;
    if (name.toUtf8().size() <= MaxNameBytes)
        return name;
    // "." + start + "~" + 16 hex digits + ".vstmp"
    const QByteArray digest = QCryptographicHash::hash(fileName.toUtf8(), QCryptographicHash::Sha256).left(8).toHex();
    const qsizetype room = MaxNameBytes - 1 - 1 - digest.size() - tempSuffix.size();
    return QLatin1Char('.') + utf8Prefix(fileName, room) + QLatin1Char('~') + QString::fromLatin1(digest) + tempSuffix;
}

QString asideTempName(const QString& fileName) {
    return transferTempName(fileName + asideMarker);
}

QString originalOfAsideName(const QString& tempName) {
    const QString ending = asideMarker + tempSuffix;
    if (!tempName.startsWith(QLatin1Char('.')) || !tempName.endsWith(ending) || tempName.size() <= ending.size() + 1)
        return {};
    const QString original = tempName.mid(1, tempName.size() - 1 - ending.size());
    return asideTempName(original) == tempName ? original : QString();
}

bool isTransferTempName(const QString& fileName) {
    return fileName.size() > tempSuffix.size() + 1 && fileName.startsWith(QLatin1Char('.')) &&
           fileName.endsWith(tempSuffix);
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
    if (m_next >= m_entries.size())
        return fail(ErrorNoMoreFiles);
    data = m_entries[m_next++];
    return true;
}

} // namespace inet
