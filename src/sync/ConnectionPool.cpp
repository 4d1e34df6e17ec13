#include "sync/ConnectionPool.h"

#include <QRegularExpression>

#include "sync/FtpHelpers.h"

namespace engine {

namespace {

// 421, or a 530 that says why: the server will not take one more connection
// from us, which is no fault of the run.
bool isTooManyConnections(const inet::Failure& failure) {
    if (failure.code != inet::ErrorExtendedError)
        return false;
    const QString& reply = failure.lastResponseInfo;
    if (reply.startsWith(QLatin1String("421")))
        return true;
    return reply.startsWith(QLatin1String("530")) && saysTooManyConnections(reply);
}

// Two data connections refused on the pool's connections, and it gives one
// connection up: a proxy or server out of data ports serves fewer at once.
constexpr int DataRefusalsPerShrink = 2;

} // namespace

JobOutcome withLaterPart(JobOutcome outcome) {
    if (!outcome.later || !*outcome.later)
        return outcome;
    const std::shared_ptr<std::optional<JobOutcome>> later = std::exchange(outcome.later, nullptr);
    JobOutcome& part = **later;
    outcome.ok = outcome.ok && part.ok;
    outcome.lines += part.lines;
    outcome.notices += part.notices;
    if (part.localAfter)
        outcome.localAfter = part.localAfter;
    if (part.remoteTimeAfter)
        outcome.remoteTimeAfter = part.remoteTimeAfter;
    if (outcome.action && part.action)
        outcome.action->serverReply = part.action->serverReply;
    for (const std::function<void(JobOutcome&)>& finisher : std::exchange(outcome.finishers, {}))
        finisher(outcome);
    return outcome;
}

void whenWhole(JobOutcome& outcome, std::function<void(JobOutcome&)> finisher) {
    if (outcome.later && !*outcome.later)
        outcome.finishers.push_back(std::move(finisher));
    else
        finisher(outcome);
}

bool saysTooManyConnections(const QString& reply) {
    // "421 There are too many connections from your internet address."
    // "530 Sorry, the maximum number of clients (2) from your host are already connected."
    static const QRegularExpression tooMany(
        QStringLiteral("too many|connections|limit|maximum number|already connected"),
        QRegularExpression::CaseInsensitiveOption);
    return tooMany.match(reply).hasMatch();
}

ConnectionPool::ConnectionPool(PoolLogon logon, inet::FtpConnection& own, int size, const std::atomic<bool>& stop)
    : m_logon(std::move(logon)), m_own(own), m_stop(stop), m_connectionsAllowed(std::max(1, size)) {}

ConnectionPool::~ConnectionPool() {
    {
        std::lock_guard lock(m_mutex);
        m_shuttingDown = true;
    }
    m_changed.notify_all();
    {
        // Every worker says here, under the pool's own mutex, that it is done
        // with the pool, so that the hand-over does not rest on QThread::wait()
        // alone (whose ordering a thread checker cannot see inside Qt).
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_threadsRunning == 0; });
    }
    for (const std::unique_ptr<QThread>& worker : m_workers)
        worker->wait();
}

void ConnectionPool::add(Job job) {
    std::lock_guard lock(m_mutex);
    m_queue.push_back(std::move(job));
    startWorkerIfUseful();
    m_changed.notify_all();
}

// Called with the mutex held. One more connection is worth it when work waits
// that no idle connection will take, and the server still allows one.
void ConnectionPool::startWorkerIfUseful() {
    if (m_queue.size() <= size_t(m_idleWorkers) + 1 || 1 + m_liveWorkers >= m_connectionsAllowed || !m_logon.session)
        return;
    startWorker(false);
}

// Called with the mutex held.
void ConnectionPool::startWorker(bool logOnAtOnce) {
    ++m_liveWorkers;
    ++m_threadsRunning;
    m_workers.emplace_back(QThread::create([this, logOnAtOnce] {
        workerLoop(logOnAtOnce);
        // The worker's last touch of the pool.
        std::lock_guard lock(m_mutex);
        --m_threadsRunning;
        m_changed.notify_all();
    }));
    m_workers.back()->start();
    if (!m_workers.back()->isRunning() && !m_workers.back()->isFinished())
        --m_threadsRunning; // the system gave no thread: nothing to wait for
}

inet::ConnectResult ConnectionPool::logOn(bool& tooMany) {
    inet::ConnectResult logon =
        m_logon.session->connect(m_logon.server, m_logon.port, m_logon.userName, m_logon.password, m_logon.passive);
    tooMany = !logon.connection && isTooManyConnections(logon.failure);
    return logon;
}

// Logs a worker's connection on. On failure the worker gives up, with the
// pool's notice; a job it held goes back for another connection.
std::unique_ptr<inet::FtpConnection> ConnectionPool::connectWorker(std::optional<Job>& heldJob) {
    bool tooMany = false;
    inet::ConnectResult logon = logOn(tooMany);
    std::unique_ptr<inet::FtpConnection> connection = std::move(logon.connection);
    const QString why = connection ? QString() : ftpFailureLine(logon.failure, QStringLiteral("InternetConnect"));
    std::lock_guard lock(m_mutex);
    if (connection)
        return connection;
    if (heldJob) {
        m_queue.push_front(std::move(*heldJob));
        --m_inHand;
    }
    --m_liveWorkers;
    if (tooMany) {
        // Connections still logging on may yet get in, or be refused too:
        // the line that says how many the run goes on with waits until
        // the notices are taken, when all of them know.
        m_connectionsAllowed = std::max(1, std::min(m_connectionsAllowed, 1 + m_liveWorkers));
        m_capReached = true;
    } else {
        m_connectionsAllowed = std::max(1, m_connectionsAllowed - 1);
        m_notices << why;
    }
    m_changed.notify_all();
    return {};
}

void ConnectionPool::workerLoop(bool logOnAtOnce) {
    std::unique_ptr<inet::FtpConnection> connection;
    if (logOnAtOnce) {
        std::optional<Job> none;
        connection = connectWorker(none);
        if (!connection)
            return; // the thread ends; it is waited for when the pool goes
    }
    Waiting waiting;
    std::unique_lock lock(m_mutex);
    for (;;) {
        // Nothing more to ride with: what waits goes out on its own.
        if (!waiting.empty() && (m_shuttingDown || m_queue.empty() || !mayStartJobs()))
            flushWaiting(waiting, *connection, lock);
        ++m_idleWorkers;
        m_changed.wait(lock, [this] { return m_shuttingDown || (!m_queue.empty() && mayStartJobs()); });
        --m_idleWorkers;
        if (m_shuttingDown)
            break;
        std::optional<Job> job(std::move(m_queue.front()));
        m_queue.pop_front();
        ++m_inHand;
        lock.unlock();
        if (!connection) {
            connection = connectWorker(job);
            if (!connection)
                return;
        }
        const int refusalsBefore = connection->dataConnectionRefusals();
        JobOutcome outcome = (*job)(*connection);
        doAgain(waiting, *connection);
        const int refused = connection->dataConnectionRefusals() - refusalsBefore;
        lock.lock();
        settle(std::move(outcome), waiting, *connection);
        if (refused > 0)
            noteDataConnectionRefusals(refused);
        if (1 + m_liveWorkers > m_connectionsAllowed) {
            // The pool has shrunk: this connection is one too many.
            --m_liveWorkers;
            break;
        }
    }
    if (!waiting.empty())
        flushWaiting(waiting, *connection, lock);
    lock.unlock();
    connection.reset(); // QUIT on the thread that owns the connection
}

void ConnectionPool::warmUp() {
    std::lock_guard lock(m_mutex);
    while (1 + m_liveWorkers < m_connectionsAllowed && m_logon.session)
        startWorker(true);
}

// Called with the mutex held. An outcome still waiting for its later part
// stays in hand, and those of the connection's earlier jobs that have come
// in meanwhile go on.
void ConnectionPool::settle(JobOutcome outcome, Waiting& waiting, const inet::FtpConnection& connection) {
    if (outcome.later)
        waiting.push_back(std::move(outcome));
    else
        finish(std::move(outcome), connection);
    finishWaiting(waiting, connection);
}

// Called with the mutex held.
void ConnectionPool::finishWaiting(Waiting& waiting, const inet::FtpConnection& connection) {
    for (auto it = waiting.begin(); it != waiting.end();) {
        if (*it->later && !(*it->later)->again) {
            finish(withLaterPart(std::move(*it)), connection);
            it = waiting.erase(it);
        } else {
            ++it;
        }
    }
}

// Called with the mutex held; releases it while the connection talks. The
// replies either come or the connection fails: either way each waiting
// outcome is then complete.
void ConnectionPool::flushWaiting(Waiting& waiting, inet::FtpConnection& connection,
                                  std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    connection.flushQueued();
    doAgain(waiting, connection);
    lock.lock();
    finishWaiting(waiting, connection);
    for (JobOutcome& left : waiting) {
        // Defensive: a part that never came is a failed action, never a silent one.
        left.later.reset();
        left.ok = false;
        left.lines << QStringLiteral("The server's answer to the last step of a transfer never came");
        finish(std::move(left), connection);
    }
    waiting.clear();
}

void ConnectionPool::doAgain(Waiting& waiting, inet::FtpConnection& connection) {
    for (JobOutcome& outcome : waiting) {
        if (*outcome.later && (*outcome.later)->again) {
            const std::function<JobOutcome(inet::FtpConnection&)> again = std::move((*outcome.later)->again);
            **outcome.later = again(connection); // done at once: no later part of its own
        }
    }
}

// Called with the mutex held.
void ConnectionPool::finish(JobOutcome outcome, const inet::FtpConnection& connection) {
    m_done.push_back(std::move(outcome));
    --m_inHand;
    if (connection.serverStoppedAnswering())
        m_serverGone = true;
    if (connection.serverUnreachable())
        m_serverUnreachable = true;
    m_changed.notify_all();
}

// Called with the mutex held. The job that met the refusal retries on its
// own; the pool makes sure fewer data connections are asked for at once.
void ConnectionPool::noteDataConnectionRefusals(int count) {
    m_dataRefusals += count;
    if (m_dataRefusals < DataRefusalsPerShrink || m_connectionsAllowed <= 1)
        return;
    m_dataRefusals = 0;
    m_connectionsAllowed = std::min(m_connectionsAllowed, 1 + m_liveWorkers) - 1;
    m_connectionsAllowed = std::max(1, m_connectionsAllowed);
    m_notices << QStringLiteral("The server refuses data connections: the run goes on with %1 connection(s)")
                     .arg(m_connectionsAllowed);
}

void ConnectionPool::run(const std::function<void(JobOutcome&)>& onDone) {
    Waiting ownWaiting;
    std::unique_lock lock(m_mutex);
    for (;;) {
        while (!m_done.empty()) {
            JobOutcome outcome = std::move(m_done.front());
            m_done.pop_front();
            lock.unlock();
            onDone(outcome);
            lock.lock();
        }
        if (!mayStartJobs())
            m_queue.clear();
        if (!ownWaiting.empty() && m_queue.empty()) {
            flushWaiting(ownWaiting, m_own, lock);
            continue;
        }
        if (m_queue.empty() && m_inHand == 0 && m_done.empty())
            return;
        if (!m_queue.empty()) {
            // The run's own connection takes its share of the work.
            Job job = std::move(m_queue.front());
            m_queue.pop_front();
            ++m_inHand;
            startWorkerIfUseful();
            lock.unlock();
            const int refusalsBefore = m_own.dataConnectionRefusals();
            JobOutcome outcome = job(m_own);
            doAgain(ownWaiting, m_own);
            const int refused = m_own.dataConnectionRefusals() - refusalsBefore;
            lock.lock();
            settle(std::move(outcome), ownWaiting, m_own);
            if (refused > 0)
                noteDataConnectionRefusals(refused);
            continue;
        }
        m_changed.wait(lock, [this] { return !m_done.empty() || !m_queue.empty() || m_inHand == 0; });
    }
}

QStringList ConnectionPool::takeNotices() {
    std::lock_guard lock(m_mutex);
    if (m_capReached) {
        // Several connections may have learnt it, some after the line was
        // given: one line says it, with the number of those that did get in,
        // and it is said again only when that number changed.
        m_capReached = false;
        const int goingOnWith = 1 + m_liveWorkers;
        if (goingOnWith != m_announcedCap)
            m_notices
                << QStringLiteral("The server allows no more connections: the run goes on with %1").arg(goingOnWith);
        m_announcedCap = goingOnWith;
    }
    return std::exchange(m_notices, {});
}

} // namespace engine
