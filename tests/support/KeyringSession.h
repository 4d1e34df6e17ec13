#pragma once

#include <QString>

// A desktop keyring of the test's own: a session bus (dbus-run-session) with
// the GNOME keyring daemon on it, unlocked, in a fresh home. It lives as long
// as the test process: a process that has talked to a session bus is ended
// when that bus closes. A process keeps the first session bus it talks to, so
// each case that uses one runs in a process of its own (as ctest runs them).
class KeyringSession {
public:
    // Why no session can run here (a tool missing or failing); empty when one started.
    QString start();
    QString busAddress() const { return m_busAddress; }
    // Gives this process the session's bus; call before the first keyring call.
    void useInThisProcess() const;

private:
    QString m_busAddress;
};

// A bus address where nothing listens: a desktop without a keyring.
inline const QString NoBusAddress = QStringLiteral("unix:path=/nonexistent/vellisync-test-bus");
