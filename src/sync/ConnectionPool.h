#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "inet/FtpService.h"
#include "sync/FolderListing.h"

namespace engine {

// A file action's report for the run's events: which file, how many bytes,
// and the server's refusal when it refused.
struct ActionReport {
    QString name;
    qint64 bytes = 0;
    QString serverReply;
    int index = -1; // the file's index in the list its pass walked
};

// A remote file's exact time, as the server told it (UTC); item is its index
// in the run's remote list.
struct ExactTime {
    int item = -1;
    QDateTime utc;
};

// What one piece of pool work reports back to the run's thread: whether it
// succeeded and the log lines it would have written, in order. Work on the
// pool never logs itself, so the run's log stays on one thread.
struct JobOutcome {
    bool ok = true;
    QStringList lines;
    // A listing job's folders.
    FolderListings listings;
    // A file action's report.
    std::optional<ActionReport> action = {};
    // The answers of a job that asked for exact times.
    std::vector<ExactTime> exactTimes = {};
    // Lines about the server rather than this job, logged once per run.
    QStringList notices = {};
    // What a transfer left: the local file's size and exact time after a
    // download, and the time (UTC) the remote file has after an upload, when
    // the server told it.
    std::optional<std::pair<qint64, qint64>> localAfter = {};
    std::optional<QDateTime> remoteTimeAfter = {};
    // An upload whose last step went out with its connection's next command:
    // the rest of its outcome, filled in once the replies are in. The pool
    // hands the job on only then.
    std::shared_ptr<std::optional<JobOutcome>> later = {};
    // What wrappers of the job do to its whole outcome, in order, once the
    // later part is in (see whenWhole).
    std::vector<std::function<void(JobOutcome&)>> finishers = {};
    // In a later part: the work failed for a reason that may pass, and this
    // does it again, at once, on the connection that met the failure.
    std::function<JobOutcome(inet::FtpConnection&)> again = {};
};

using Job = std::function<JobOutcome(inet::FtpConnection& connection)>;

// An outcome with its later part in: its lines after the job's own, its
// success and what the transfer left, then the finishers applied. Without a
// later part (or before it is in), the outcome as it is.
JobOutcome withLaterPart(JobOutcome outcome);
// Applies finisher to the outcome once it is whole: at once when it is.
void whenWhole(JobOutcome& outcome, std::function<void(JobOutcome&)> finisher);

// Whether a refused logon's reply says the server takes no more connections
// from us (as opposed to refusing the user).
bool saysTooManyConnections(const QString& reply);

// How the pool logs further connections on: the run's service and logon.
struct PoolLogon {
    inet::InternetSession* session = nullptr;
    QString server;
    quint16 port = 21;
    QString userName;
    QString password;
    bool passive = true;
};

// Runs FTP work on up to `size` logged-on connections at once. The run's own
// connection serves on the calling thread; every other one lives on a thread
// of its own and is opened only when there is work waiting for it. Each
// connection keeps its own errors: a job's failure line is read from the
// connection that failed.
//
// A logon refused because the server has too many connections shrinks the
// pool for the rest of the run (never below the run's own connection). Once a
// connection has given up on a server that stopped answering, or once stop is
// set, no further job starts; those in hand finish.
class ConnectionPool {
public:
    ConnectionPool(PoolLogon logon, inet::FtpConnection& own, int size, const std::atomic<bool>& stop);
    // Closes the pool's own connections, each on its thread.
    ~ConnectionPool();
    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;

    // Queues a job; may be called from onDone of run().
    void add(Job job);
    // Logs every further connection on now, before there is work for it:
    // when much work is sure to come (a tree of folders to list), it then
    // finds the connections ready.
    void warmUp();
    // Runs the queued jobs (and those that onDone adds) until none is left
    // and none is in hand. onDone is called on the calling thread for each
    // job as it completes, in completion order. Jobs that never started (a
    // stop, a silent server) are dropped without an outcome.
    void run(const std::function<void(JobOutcome&)>& onDone);

    bool serverStoppedAnswering() const { return m_serverGone; }
    // Whether a connection found that nothing answers at the server's address.
    bool serverUnreachable() const { return m_serverUnreachable; }
    // Lines about the pool itself (a smaller pool, a connection that could
    // not log on), to be logged by the run; empties the list.
    QStringList takeNotices();

private:
    bool mayStartJobs() const { return !m_stop && !m_serverGone; }
    void startWorkerIfUseful();
    void startWorker(bool logOnAtOnce);
    void workerLoop(bool logOnAtOnce);
    std::unique_ptr<inet::FtpConnection> connectWorker(std::optional<Job>& heldJob);
    inet::ConnectResult logOn(bool& tooMany);
    void finish(JobOutcome outcome, const inet::FtpConnection& connection);
    // Outcomes of one connection that wait for its next command's replies.
    using Waiting = std::vector<JobOutcome>;
    void settle(JobOutcome outcome, Waiting& waiting, const inet::FtpConnection& connection);
    void finishWaiting(Waiting& waiting, const inet::FtpConnection& connection);
    void flushWaiting(Waiting& waiting, inet::FtpConnection& connection, std::unique_lock<std::mutex>& lock);
    // Without the mutex: does again what a later part asks to be done again.
    static void doAgain(Waiting& waiting, inet::FtpConnection& connection);
    void noteDataConnectionRefusals(int count);

    PoolLogon m_logon;
    inet::FtpConnection& m_own;
    const std::atomic<bool>& m_stop;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Job> m_queue;
    std::deque<JobOutcome> m_done;
    int m_inHand = 0;
    int m_idleWorkers = 0;
    int m_liveWorkers = 0;    // started and not given up
    int m_connectionsAllowed; // the pool's size, the run's own included; shrinks when the server refuses more
    bool m_shuttingDown = false;
    int m_threadsRunning = 0; // worker threads that may still touch the pool
    std::atomic<bool> m_serverGone{false};
    std::atomic<bool> m_serverUnreachable{false};
    bool m_capReached = false; // a logon was refused for too many connections
    int m_announcedCap = 0;    // the number the last notice of the cap gave
    int m_dataRefusals = 0;    // data connections refused since the pool last shrank
    QStringList m_notices;
    // QThread rather than a plain thread: sockets want a thread Qt knows.
    std::vector<std::unique_ptr<QThread>> m_workers;
};

} // namespace engine
