// Per-thread error state, default limits, temporary names and the listing
// handle: the small parts of the service that every other piece uses.
#include "inet/FtpService.h"

#include <mutex>

#include "inet/InetPrivate.h"

namespace inet {

Q_LOGGING_CATEGORY(lcInet, "vellisync.inet", QtInfoMsg)

namespace {
thread_local int t_lastError = 0;
thread_local QString t_lastResponse;

std::mutex g_defaultsMutex;
Timeouts g_defaultTimeouts;

const QString tempSuffix = QStringLiteral(".vstmp");
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
    return QLatin1Char('.') + fileName + tempSuffix;
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
