// Placeholder definitions so that the layers above link while the client is
// being written; every network call fails with ErrorInternalError.
#include "inet/FtpService.h"

namespace inet {

namespace {
thread_local int t_lastError = 0;
thread_local QString t_lastResponse;
Timeouts g_defaultTimeouts;
} // namespace

int lastError() { return t_lastError; }
void setLastError(int code) { t_lastError = code; }
QString lastResponseInfo() { return t_lastResponse; }
QString errorDescription(int) { return {}; }
QString transferTempName(const QString& fileName) {
    return QLatin1Char('.') + fileName + QStringLiteral(".vstmp");
}
bool isTransferTempName(const QString& fileName) {
    return fileName.size() > 7 && fileName.startsWith(QLatin1Char('.')) && fileName.endsWith(QStringLiteral(".vstmp"));
}
Timeouts defaultTimeouts() { return g_defaultTimeouts; }
void setDefaultTimeouts(const Timeouts& timeouts) { g_defaultTimeouts = timeouts; }

FtpFind::FtpFind(std::vector<FindData> entries) : m_entries(std::move(entries)) {}

bool FtpFind::findNext(FindData& data) {
    if (m_next >= m_entries.size()) {
        setLastError(ErrorNoMoreFiles);
        return false;
    }
    data = m_entries[m_next++];
    return true;
}

class FtpConnectionPrivate {};

FtpConnection::FtpConnection(std::unique_ptr<FtpConnectionPrivate> dd) : d(std::move(dd)) {}
FtpConnection::~FtpConnection() = default;
bool FtpConnection::getCurrentDirectory(QString&) { setLastError(ErrorInternalError); return false; }
bool FtpConnection::setCurrentDirectory(const QString&) { setLastError(ErrorInternalError); return false; }
std::unique_ptr<FtpFind> FtpConnection::findFirstFile(const QString&, FindData&) { setLastError(ErrorInternalError); return {}; }
bool FtpConnection::getFile(const QString&, const QString&, bool) { setLastError(ErrorInternalError); return false; }
bool FtpConnection::putFile(const QString&, const QString&) { setLastError(ErrorInternalError); return false; }
bool FtpConnection::deleteFile(const QString&) { setLastError(ErrorInternalError); return false; }
bool FtpConnection::createDirectory(const QString&) { setLastError(ErrorInternalError); return false; }
const std::vector<QString>& FtpConnection::transcript() const { static const std::vector<QString> none; return none; }

struct InternetSession::ProxySetting {};

std::unique_ptr<InternetSession> InternetSession::open(const QString&, AccessType, const QString&) {
    return std::unique_ptr<InternetSession>(new InternetSession());
}
InternetSession::~InternetSession() = default;
void InternetSession::setTimeouts(const Timeouts& timeouts) { m_timeouts = timeouts; }
Timeouts InternetSession::timeouts() const { return m_timeouts; }
std::unique_ptr<FtpConnection> InternetSession::connect(const QString&, quint16, const QString&, const QString&, bool) {
    setLastError(ErrorInternalError);
    return {};
}

} // namespace inet
