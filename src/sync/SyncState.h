#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <future>
#include <memory>
#include <optional>

#include "sync/TimePrecision.h"

namespace engine {

// The pair of folders a sync state belongs to. The local folder is taken
// canonical where it exists, so a link or a second spelling names the same
// state; host, port and remote folder are normalised as the run lock does.
struct StateIdentity {
    QString localFolder;
    QString server;
    int port = 0;
    QString user;
    QString remoteFolder;
};

// What one file looked like on both sides after the last run that left it in
// step.
struct FileRecord {
    QString path; // relative, levels joined with "/", as the run writes it
    qint64 localSize = 0;
    qint64 localMtimeNs = 0;
    qint64 remoteSize = 0;
    qint64 remoteTimeMsecs = 0; // the listed time as NaiveDateTime msecs
    TimePrecision remotePrecision = TimePrecision::Minute;
    std::optional<qint64> remoteExactUtcMsecs;

    friend bool operator==(const FileRecord&, const FileRecord&) = default;
};

// A transfer that writes under a temporary name until it is complete; an
// interrupted run leaves it behind for the next run to remove.
enum class StateSide : quint8 { Local, Remote };
struct PendingTransfer {
    QString path;
    StateSide side = StateSide::Local;
    QString tempName; // a single level in the file's folder

    friend bool operator==(const PendingTransfer&, const PendingTransfer&) = default;
};

// The per-project sync state: an SQLite file in the state folder, named after
// a digest of the identity, loaded once into memory. Changes to records are
// queued and written together by flush(), in one transaction, so the file is
// always what some moment of the run left; pending transfers are written at
// once. Used on one thread.
class SyncState {
public:
    struct Opened {
        std::unique_ptr<SyncState> state; // empty only when no state can be kept at all
        QString logLine;                  // for the run's log; empty when all went well
    };

    // Opens or creates the state of identity. A file that cannot be read, is
    // damaged, of a newer schema or of another identity is moved aside and an
    // empty state results, with a log line that says so.
    static Opened open(const StateIdentity& identity);
    // Moves a state that cannot be used (problem says why) aside, as open()
    // does, and makes a new one.
    static Opened openAfresh(const StateIdentity& identity, const QString& problem);
    // For a run that writes nothing (a dry run): the state of identity as it
    // is, on a read-only connection; nothing is made, moved, set up or
    // written. An empty state with the reason as logLine when it cannot be
    // read, and an empty Opened when there is no state.
    static Opened openToRead(const StateIdentity& identity);
    // Removes the state file of identity (and its companions); true when no
    // state of it is left.
    static bool forget(const StateIdentity& identity);
    // Where the state of identity lives.
    static QString pathFor(const StateIdentity& identity);
    // What the state of identity holds, read only: nothing when there is no
    // state file, or (with problem set) when it cannot be read as one.
    struct Peek {
        int files = 0;
        std::optional<QDateTime> lastCompleteRun;
    };
    static std::optional<Peek> peek(const StateIdentity& identity, QString& problem);

    // Only open() makes a state; the key keeps everyone else out.
    class Key {
        friend class SyncState;
        Key() = default;
    };
    SyncState(Key, QString connection);
    ~SyncState(); // flushes
    SyncState(const SyncState&) = delete;
    SyncState& operator=(const SyncState&) = delete;

    // The record whose name matches path (case and accent form aside), or null.
    const FileRecord* find(const QString& path) const;
    // The same by the path's nameMatchKey.
    const FileRecord* findKey(const QString& key) const;
    int count() const {
        awaitContents();
        return int(m_records.size());
    }
    // Whether the file held any record when it was opened, known at once
    // (count() waits for the rows).
    bool heldRecordsWhenOpened() const { return m_recordsWhenOpened; }
    auto begin() const {
        awaitContents();
        return m_records.cbegin();
    }
    auto end() const {
        awaitContents();
        return m_records.cend();
    }
    // The rows are read on a thread of their own while the caller goes on;
    // every look at them waits for that. Why they could not be read (the
    // state then holds nothing and is never written), or an empty text.
    const QString& readProblem() const;

    // Queue a change; find() sees it at once, the file after the next flush.
    // False (and nothing queued) when the path is not a relative name.
    bool put(const FileRecord& record);
    void remove(const QString& path);
    // Writes the queued changes in one transaction; false (and the changes
    // stay queued) when that failed.
    bool flush();
    // Flushes when about a second has passed since the last flush.
    bool flushIfDue();

    // Written at once, together; false when they could not be written or a
    // path or temporary name (a single level) is not a valid name.
    bool notePending(const QList<PendingTransfer>& transfers);
    bool notePending(const QString& path, StateSide side, const QString& tempName) {
        return notePending(QList<PendingTransfer>{{path, side, tempName}});
    }
    // Queued as records are: a transfer that ended leaves nothing behind to
    // remove, so losing this change costs nothing.
    void clearPending(const QString& path, StateSide side);
    const QList<PendingTransfer>& pending() const {
        awaitContents();
        return m_pending;
    }

    // When the last run that finished its work ended (UTC), if any did.
    std::optional<QDateTime> lastCompleteRun() const {
        awaitContents();
        return m_lastCompleteRun;
    }
    // Flushes and records now as the end of a complete run, in one transaction.
    bool markRunComplete();

    // The SQLite connection's name (tests reach the file through it).
    const QString& connectionName() const { return m_connection; }

private:
    struct Attempt {
        std::unique_ptr<SyncState> state;
        QString problem; // why the file cannot be used
    };
    enum class Access { ReadWrite, ReadOnly };
    static Attempt openFile(const QString& path, const QString& identityKey, Access access = Access::ReadWrite);
    QString prepare(const QString& identityKey, Access access);
    QString createSchema(const QString& identityKey);
    struct Contents {
        QHash<QString, FileRecord> records; // by nameMatchKey
        QList<PendingTransfer> pending;
        std::optional<QDateTime> lastCompleteRun;
        QString problem;
    };
    static Contents readContents(const QString& path, Access access);
    static QString readRows(const QSqlDatabase& db, Contents& contents);
    void awaitContents() const;
    bool writeQueued();
    bool execute(const QString& statement);

    QString m_connection;
    mutable std::future<Contents> m_reading;
    mutable QString m_readProblem;
    mutable QHash<QString, FileRecord> m_records;          // by nameMatchKey
    QHash<QString, std::optional<FileRecord>> m_queue;     // by nameMatchKey; empty = remove
    QList<std::pair<QString, StateSide>> m_pendingCleared; // by nameMatchKey
    mutable QList<PendingTransfer> m_pending;
    mutable std::optional<QDateTime> m_lastCompleteRun;
    bool m_recordsWhenOpened = false;
    QElapsedTimer m_sinceFlush;
};

} // namespace engine
