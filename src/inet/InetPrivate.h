#pragma once

// What the pieces of the FTP client service share and the callers never see:
// the logging category and the error state a connection keeps.

#include "inet/FtpService.h"

#include <QLoggingCategory>
#include <QString>

namespace inet {

Q_DECLARE_LOGGING_CATEGORY(lcInet)

// The last error code and the text of the last reply of one connection (or
// of one logon attempt before there is a connection). Every piece that works
// for the connection writes into the same state, so the caller asks the
// connection that did the work, whatever thread it runs on.
struct ErrorState {
    int code = ErrorSuccess;
    QString reply;

    // Sets the code and returns false, so a failing call ends with
    // `return fail(code);`.
    bool fail(int failure) {
        code = failure;
        return false;
    }
    Failure failure() const { return Failure{code, reply}; }
};

// Keeps a connection's last error and reply text across clean-up work
// (deleting a temporary file after a failed upload), so the caller still
// sees the failure that mattered, not the clean-up's.
class ErrorStateGuard {
public:
    explicit ErrorStateGuard(ErrorState& state) : m_state(state), m_saved(state) {}
    ~ErrorStateGuard() { m_state = m_saved; }
    ErrorStateGuard(const ErrorStateGuard&) = delete;
    ErrorStateGuard& operator=(const ErrorStateGuard&) = delete;

private:
    ErrorState& m_state;
    ErrorState m_saved;
};

// The code of a reply text ("425 ..." gives 425).
inline int replyCodeOf(const QString& responseText) {
    return responseText.left(3).toInt();
}

} // namespace inet
