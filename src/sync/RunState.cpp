// What a run holds besides its lists: the pool of connections, the remote
// folders it knows, and the roots its file actions use.
#include "project/VellisyncProject.h"

#include <algorithm>

#include "sync/FtpHelpers.h"
#include "model/Global.h"

namespace {

// The remote folder setting may be written with backslashes; only this text is
// converted, since a backslash inside a file name is an ordinary character.
QString remoteRootWithSlashes(const QString& remoteFolder) {
    QString root = remoteFolder;
    root.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return IncludeTrailingSlash(root);
}

} // namespace

engine::ConnectionPool& TVellisyncProject::Pool() {
    if (!m_pool) {
        engine::PoolLogon logon{InternetHandle.get(), Server, quint16(Port), UserName, Password, Passive};
        // In active mode every transfer has the server connect back to us;
        // servers (pyftpdlib among them) stall when several such connections
        // open at once, so active mode keeps to the one connection.
        const int size = Passive ? std::clamp(Connections, 1, MaxConnections) : 1;
        m_pool = std::make_unique<engine::ConnectionPool>(std::move(logon), *ConnectHandle, size, StopRequested);
    }
    return *m_pool;
}

void TVellisyncProject::ClosePool() {
    m_pool.reset();
}

void TVellisyncProject::LogPoolNotices() {
    if (!m_pool)
        return;
    for (const QString& notice : m_pool->takeNotices())
        Log(notice);
}

engine::RemoteFolders& TVellisyncProject::RemoteFolderMemory() {
    if (!m_remoteFolders)
        m_remoteFolders = std::make_unique<engine::RemoteFolders>();
    return *m_remoteFolders;
}

engine::FileRoots TVellisyncProject::Roots() const {
    engine::FileRoots roots;
    roots.localRoot = AddTrailingBackslash(LocalFolder);
    roots.remoteShownRoot = remoteRootWithSlashes(RemoteFolder);
    roots.remoteRoot = m_remoteBase.isEmpty() ? roots.remoteShownRoot : m_remoteBase;
    // As stored: the scan entered this same text.
    roots.remoteDeleteRoot = IncludeTrailingSlash(RemoteFolder);
    if (!m_remoteBase.isEmpty() && !RemoteFolder.startsWith(QLatin1Char('/')))
        roots.remoteDeleteRoot = m_remoteBase;
    roots.probeUnknownFolders = m_remoteBase.isEmpty();
    return roots;
}

std::unique_ptr<engine::RunLock> TVellisyncProject::LockRun() {
    auto lock = std::make_unique<engine::RunLock>(engine::RunTarget{LocalFolder, Server, Port, UserName, RemoteFolder});
    switch (lock->state()) {
    case engine::RunLock::State::Held:
        return lock;
    case engine::RunLock::State::Busy:
        LastRunOutcome.notStarted = QStringLiteral("Another run of this project is in progress.");
        break;
    case engine::RunLock::State::Unavailable:
        LastRunOutcome.notStarted =
            QStringLiteral("The run has not started: no lock against a second run of this project could be made; %1.")
                .arg(lock->problem());
        break;
    }
    Log(LastRunOutcome.notStarted);
    return {};
}
