// What a run holds besides its lists: its hooks, the pool of connections,
// the remote folders it knows, and the roots its file actions use.
#include "sync/SyncRun.h"

#include <algorithm>

#include "model/Global.h"
#include "sync/FtpHelpers.h"

namespace {

// The remote folder setting may be written with backslashes; only this text is
// converted, since a backslash inside a file name is an ordinary character.
QString remoteRootWithSlashes(const QString& remoteFolder) {
    QString root = remoteFolder;
    root.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return IncludeTrailingSlash(root);
}

} // namespace

SyncRun::SyncRun(ProjectSettings settings, RunOptions options, RunHooks hooks)
    : m_settings(std::move(settings)), m_options(options), m_hooks(std::move(hooks)) {
    if (!m_hooks.counts)
        m_hooks.counts = std::make_shared<engine::RunProgress>();
}

// Defined here, where the service types are complete, so the handles can be freed.
SyncRun::~SyncRun() = default;

void SyncRun::Log(const QString& message) {
    // Names are escaped where a line is made; whatever else came from a
    // server (a reply's text) is made inert here, for every reader of the log.
    m_lastLogLine = inertForTerminal(message);
    if (m_hooks.log)
        m_hooks.log(m_lastLogLine);
}

void SyncRun::DoProgress() {
    NoteScanProgress();
    if (m_hooks.progress)
        m_hooks.progress();
}

engine::ConnectionPool& SyncRun::Pool() {
    if (!m_pool) {
        engine::PoolLogon logon{InternetHandle.get(), m_settings.Server,   quint16(m_settings.Port),
                                m_settings.UserName,  m_settings.Password, m_settings.Passive};
        // In active mode every transfer has the server connect back to us;
        // servers (pyftpdlib among them) stall when several such connections
        // open at once, so active mode keeps to the one connection.
        const int size =
            m_settings.Passive ? std::clamp(m_settings.Connections, 1, ProjectSettings::MaxConnections) : 1;
        m_pool = std::make_unique<engine::ConnectionPool>(std::move(logon), *ConnectHandle, size, StopRequested);
    }
    return *m_pool;
}

void SyncRun::ClosePool() {
    m_pool.reset();
}

void SyncRun::LogPoolNotices() {
    if (!m_pool)
        return;
    for (const QString& notice : m_pool->takeNotices())
        Log(notice);
}

engine::RemoteFolders& SyncRun::RemoteFolderMemory() {
    if (!m_remoteFolders)
        m_remoteFolders = std::make_unique<engine::RemoteFolders>();
    return *m_remoteFolders;
}

engine::FileRoots SyncRun::Roots() const {
    engine::FileRoots roots;
    roots.localRoot = AddTrailingBackslash(m_settings.LocalFolder);
    roots.remoteShownRoot = remoteRootWithSlashes(m_settings.RemoteFolder);
    roots.remoteRoot = m_remoteBase.isEmpty() ? roots.remoteShownRoot : m_remoteBase;
    // As stored: the scan entered this same text.
    roots.remoteDeleteRoot = IncludeTrailingSlash(m_settings.RemoteFolder);
    if (!m_remoteBase.isEmpty() && !m_settings.RemoteFolder.startsWith(QLatin1Char('/')))
        roots.remoteDeleteRoot = m_remoteBase;
    roots.probeUnknownFolders = m_remoteBase.isEmpty();
    return roots;
}

std::unique_ptr<engine::RunLock> SyncRun::LockRun() {
    auto lock = std::make_unique<engine::RunLock>(
        engine::RunTarget{m_settings.LocalFolder, m_settings.Server, m_settings.Port, m_settings.UserName,
                          m_settings.RemoteFolder},
        m_options.DryRun ? engine::RunLock::Mode::IfPresent : engine::RunLock::Mode::Create);
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
