#pragma once

#include <QString>

namespace engine {

// What a run writes to: a local folder and a folder on one server, as one
// user sees it. Two projects that name the same pair share one lock.
struct RunTarget {
    QString localFolder;
    QString server;
    int port = 0;
    QString userName;
    QString remoteFolder;
};

// Keeps a second run away from a pair of folders while a first one works on
// it: both would write the same files, and one would cut the other's. The
// lock is an flock(2) on a file in the state folder, held by an open
// descriptor for as long as this object lives, so the system releases it
// however the process ends (a crash or SIGKILL leaves no stale lock behind).
// flock rather than fcntl locks: two runs inside one process (two windows)
// are kept apart as well.
class RunLock {
public:
    enum class State {
        Held,       // this run may go ahead
        Busy,       // another run holds the lock
        Unavailable // the lock could not be made; problem() says why
    };

    // Create makes the folder and the lock file where they are missing; a
    // dry run, which writes nothing anywhere, takes IfPresent: the lock where
    // a run made its file before, and none where no file is (a run starting
    // meanwhile cannot be harmed by one that only reads).
    enum class Mode { Create, IfPresent };

    // Tries once to take the lock of target; never waits.
    explicit RunLock(const RunTarget& target, Mode mode = Mode::Create);
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    State state() const { return m_state; }
    // Why the lock could not be made (a folder or file and the system's reason).
    const QString& problem() const { return m_problem; }

    // $XDG_STATE_HOME/vellisync, or ~/.local/state/vellisync when that is not
    // set (Qt 6.4 knows no state location of its own).
    static QString lockFolder();
    // The text that names target: the local folder canonical where it exists,
    // the host in lower case, the port (0 meaning 21) and the remote folder
    // with its separators normalised.
    static QString keyOf(const RunTarget& target);
    // The lock file's name: a digest of the key, so that any folder name fits.
    static QString lockFileName(const RunTarget& target);

private:
    void take(const QString& path, Mode mode);

    int m_fd = -1;
    State m_state = State::Unavailable;
    QString m_problem;
};

} // namespace engine
