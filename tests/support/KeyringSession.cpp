#include "support/KeyringSession.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

QString KeyringSession::start() {
    for (const char* tool : {"dbus-run-session", "dbus-send", "gnome-keyring-daemon"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return QStringLiteral("%1 is not installed").arg(QString::fromLatin1(tool));
    }
    // The script removes its home when the test process has gone.
    const QString home = QDir::temp().filePath(QStringLiteral("vellisync-keyring-%1-%2")
                                                   .arg(QCoreApplication::applicationPid())
                                                   .arg(QDateTime::currentMSecsSinceEpoch()));
    if (!QDir().mkpath(home))
        return QStringLiteral("no folder for the keyring's home");
    if (!QProcess::startDetached(QStringLiteral("dbus-run-session"),
                                 {QStringLiteral("--"),
                                  QStringLiteral(VELLISYNC_TEST_SUPPORT_DIR "/keyring_session.sh"), home,
                                  QString::number(QCoreApplication::applicationPid())}))
        return QStringLiteral("dbus-run-session did not start");
    QFile bus(home + QStringLiteral("/bus"));
    for (QDeadlineTimer deadline(30'000); !deadline.hasExpired(); QThread::msleep(50)) {
        if (bus.open(QIODevice::ReadOnly)) {
            m_busAddress = QString::fromUtf8(bus.readAll()).trimmed();
            return m_busAddress.isEmpty() ? QStringLiteral("the session bus has no address") : QString();
        }
    }
    return QStringLiteral("the keyring session did not start (no session bus or no keyring daemon)");
}

void KeyringSession::useInThisProcess() const {
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_busAddress.toUtf8());
}
