#pragma once

// What the pieces of the FTP client service share and the callers never see:
// the logging category, the per-thread reply text and the error helpers.

#include "inet/FtpService.h"

#include <QLoggingCategory>
#include <QString>

namespace inet {

Q_DECLARE_LOGGING_CATEGORY(lcInet)

// Records the text of a reply the server just sent to this thread.
void setLastResponseInfo(const QString& text);

// Sets the thread's last error and returns false, so a failing call ends with
// `return fail(code);`.
bool fail(int code);

// Keeps the thread's last error and reply text across clean-up work (deleting a
// temporary file after a failed upload), so the caller still sees the failure
// that mattered, not the clean-up's.
class ErrorStateGuard {
public:
    ErrorStateGuard() : m_error(lastError()), m_response(lastResponseInfo()) {}
    ~ErrorStateGuard() {
        setLastError(m_error);
        setLastResponseInfo(m_response);
    }
    ErrorStateGuard(const ErrorStateGuard&) = delete;
    ErrorStateGuard& operator=(const ErrorStateGuard&) = delete;

private:
    int m_error;
    QString m_response;
};

} // namespace inet
