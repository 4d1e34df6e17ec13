#include "sync/RunLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "model/Global.h"
#include "sync/StateFolder.h"

namespace engine {

namespace {

QString systemReason(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

// The local folder as the scan will reach it: an empty setting is the working
// folder, and a link or a second spelling of an existing folder names the
// folder itself.
QString localKey(const QString& localFolder) {
    const QFileInfo info(localFolder.isEmpty() ? QStringLiteral(".") : localFolder);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

// The remote folder setting may be written with backslashes or a trailing
// slash; either way it is the same folder.
QString remoteKey(QString remoteFolder) {
    remoteFolder.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return remoteFolder.isEmpty() ? remoteFolder : QDir::cleanPath(remoteFolder);
}

} // namespace

QString RunLock::lockFolder() {
    return stateFolder();
}

QString RunLock::keyOf(const RunTarget& target) {
    const QStringList fields{localKey(target.localFolder), target.server.trimmed().toLower(),
                             QString::number(target.port == 0 ? 21 : target.port), target.userName,
                             remoteKey(target.remoteFolder)};
    // Each field after its length: no text inside one can pass for the border
    // between two, so two different pairs never make the same key.
    QString key;
    for (const QString& field : fields)
        key += QString::number(field.size()) + QLatin1Char(':') + field;
    return key;
}

QString RunLock::lockFileName(const RunTarget& target) {
    const QByteArray digest = QCryptographicHash::hash(keyOf(target).toUtf8(), QCryptographicHash::Sha256);
    return QStringLiteral("run-%1.lock").arg(QString::fromLatin1(digest.toHex()));
}

RunLock::RunLock(const RunTarget& target, Mode mode) {
    const QString folder = lockFolder();
    if (mode == Mode::Create && !ForceFolders(folder, OwnerOnlyFolder)) {
        m_problem = QStringLiteral("the folder \"%1\" cannot be created").arg(QDir::toNativeSeparators(folder));
        return;
    }
    take(folder + QLatin1Char('/') + lockFileName(target), mode);
}

RunLock::~RunLock() {
    if (m_fd >= 0)
        ::close(m_fd); // releases the lock
}

void RunLock::take(const QString& path, Mode mode) {
    // O_CLOEXEC: a program the run might start must not keep the lock alive.
    const int access = mode == Mode::Create ? O_RDWR | O_CREAT : O_RDONLY;
    m_fd = ::open(QFile::encodeName(path).constData(), access | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0 && mode == Mode::IfPresent && errno == ENOENT) {
        m_state = State::Held; // nothing to hold, and nothing made
        return;
    }
    if (m_fd < 0) {
        m_problem =
            QStringLiteral("\"%1\" cannot be opened: %2").arg(QDir::toNativeSeparators(path), systemReason(errno));
        return;
    }
    int result;
    do {
        result = ::flock(m_fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        m_state = State::Held;
        return;
    }
    const int code = errno;
    ::close(m_fd);
    m_fd = -1;
    if (code == EWOULDBLOCK) {
        m_state = State::Busy;
        return;
    }
    m_problem = QStringLiteral("\"%1\" cannot be locked: %2").arg(QDir::toNativeSeparators(path), systemReason(code));
}

} // namespace engine
