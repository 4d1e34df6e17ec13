#include "sync/ProjectState.h"

#include "sync/RunLock.h"

namespace engine {

StateIdentity stateIdentityOf(const ProjectSettings& settings) {
    return {settings.LocalFolder, settings.Server, settings.Port, settings.UserName, settings.RemoteFolder};
}

StateSummary describeState(const ProjectSettings& settings) {
    const StateIdentity identity = stateIdentityOf(settings);
    StateSummary summary;
    summary.path = SyncState::pathFor(identity);
    const std::optional<SyncState::Peek> peek = SyncState::peek(identity, summary.problem);
    summary.exists = peek.has_value() || !summary.problem.isEmpty();
    if (peek) {
        summary.files = peek->files;
        summary.lastCompleteRun = peek->lastCompleteRun;
    }
    return summary;
}

QString forgetState(const ProjectSettings& settings) {
    const RunLock lock(
        RunTarget{settings.LocalFolder, settings.Server, settings.Port, settings.UserName, settings.RemoteFolder});
    switch (lock.state()) {
    case RunLock::State::Busy:
        return QStringLiteral("A run of this project is in progress: its sync state is in use.");
    case RunLock::State::Unavailable:
        return QStringLiteral("No lock against a run of this project could be made; %1.").arg(lock.problem());
    case RunLock::State::Held:
        break;
    }
    const StateIdentity identity = stateIdentityOf(settings);
    if (!SyncState::forget(identity))
        return QStringLiteral("The sync state \"%1\" could not be removed.").arg(SyncState::pathFor(identity));
    return {};
}

} // namespace engine
