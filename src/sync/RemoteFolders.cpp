#include "sync/RemoteFolders.h"

#include "sync/FtpHelpers.h"
#include "sync/RelativeName.h"
#include "inet/FtpService.h"

namespace engine {

namespace {

// "/pub/a/" gives "/pub" and "/pub/a", the paths that MKD would create in turn.
QStringList cumulativeLevels(const QString& folder) {
    QStringList levels;
    SplitRemotePath(folder, levels);
    QStringList paths;
    QString path;
    for (const QString& level : std::as_const(levels)) {
        path = path.isEmpty() ? level : path + QLatin1Char('/') + level;
        paths << path;
    }
    return paths;
}

// The key under which a folder is known: "/pub/a/" and "/pub/a" are one.
QString withoutTrailingSlash(QString path) {
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace

bool canEnter(inet::FtpConnection& connection, const QString& folder) {
    if (folder.startsWith(QLatin1Char('/')))
        return connection.setCurrentDirectory(folder);
    // A relative path depends on the current folder, which must stay as it is.
    return RemoteFolderExists(connection, folder);
}

void RemoteFolders::addKnown(const QString& folder) {
    std::lock_guard lock(m_mutex);
    m_known.insert(withoutTrailingSlash(folder));
}

void RemoteFolders::forget(const QString& folder) {
    std::lock_guard lock(m_mutex);
    const QString path = withoutTrailingSlash(folder);
    const QString below = path + QLatin1Char('/');
    for (auto it = m_known.begin(); it != m_known.end();) {
        if (*it == path || it->startsWith(below))
            it = m_known.erase(it);
        else
            ++it;
    }
}

void RemoteFolders::createAhead(inet::FtpConnection& connection, const QStringList& folders) {
    QStringList missing;
    {
        std::lock_guard lock(m_mutex);
        QSet<QString> listed;
        for (const QString& folder : folders) {
            for (const QString& level : cumulativeLevels(folder)) {
                if (level != QLatin1String("/") && !m_known.contains(level) && !listed.contains(level)) {
                    listed.insert(level);
                    missing << level; // after its parent, which came before it
                }
            }
        }
    }
    std::vector<bool> made;
    if (missing.isEmpty() || !connection.createDirectories(missing, made))
        return;
    std::lock_guard lock(m_mutex);
    for (qsizetype i = 0; i < missing.size(); ++i) {
        if (made[size_t(i)])
            m_known.insert(missing[i]);
    }
}

bool RemoteFolders::ensure(inet::FtpConnection& connection, const QString& folder, bool probe, QStringList& lines) {
    for (const QString& level : cumulativeLevels(folder)) {
        if (!ensureLevel(connection, level, probe, lines))
            return false;
    }
    return true;
}

bool RemoteFolders::ensureLevel(inet::FtpConnection& connection, const QString& level, bool probe, QStringList& lines) {
    {
        std::unique_lock lock(m_mutex);
        // Another connection making this level: its outcome is this one's too.
        m_changed.wait(lock, [&] { return !m_inProgress.contains(level); });
        if (m_known.contains(level) || level == QLatin1String("/"))
            return true;
        m_inProgress.insert(level);
    }
    // The scan listed every folder below the root, so an unknown level is
    // almost always missing: create it at once, and only when that fails ask
    // whether it exists after all (made by someone else, or above the root).
    bool made = probe && canEnter(connection, level);
    if (!made) {
        made = connection.createDirectory(level);
        if (!made) {
            const QString failure =
                ftpFailureLine(connection, QStringLiteral("FtpCreateDirectory('%1')").arg(escapedForLog(level)));
            made = canEnter(connection, level);
            if (!made)
                lines << failure;
        }
    }
    {
        std::lock_guard lock(m_mutex);
        m_inProgress.remove(level);
        if (made)
            m_known.insert(level);
    }
    m_changed.notify_all();
    return made;
}

} // namespace engine
