#include "sync/SyncState.h"

#include <algorithm>
#include <atomic>
#include <future>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#include "model/Global.h"
#include "sync/RelativeName.h"
#include "sync/RunLock.h"
#include "sync/StateFolder.h"

namespace engine {

namespace {

// Version 1: meta (identity, last complete run), files, pending. The number
// lives in SQLite's user_version, so a file of a later layout is recognised
// before any table of it is read.
constexpr int SchemaVersion = 1;
constexpr qint64 FlushIntervalMsecs = 1000;
constexpr QFileDevice::Permissions OwnerOnlyFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
// Files SQLite keeps beside the database; they belong to it, and a stale
// write-ahead log must never meet a fresh database of the same name.
const char* const CompanionSuffixes[] = {"-wal", "-shm", "-journal"};

QString identityKeyOf(const StateIdentity& identity) {
    return RunLock::keyOf(
        RunTarget{identity.localFolder, identity.server, identity.port, identity.user, identity.remoteFolder});
}

QString newConnectionName() {
    static std::atomic<quint64> counter{0};
    return QStringLiteral("vellisync-state-%1").arg(++counter);
}

bool existsOrDangles(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Points a connection that only reads at path. Where no write-ahead log lies
// beside the file (no writer has it open, none was cut off), the file is
// read as immutable, so SQLite makes no companion files that a reader would
// leave behind; otherwise it reads the file together with its log.
void setReadOnlyTarget(QSqlDatabase& db, const QString& path) {
    if (existsOrDangles(path + QStringLiteral("-wal"))) {
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        return;
    }
    db.setDatabaseName(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) + QStringLiteral("?immutable=1"));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
}

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// Moves path and its companions to a free name beside it; the new name, or an
// empty text when the file could not be moved.
QString moveAside(const QString& path) {
    const QString base =
        path + QStringLiteral(".damaged-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = base;
    for (int n = 2; existsOrDangles(aside); ++n)
        aside = base + QLatin1Char('-') + QString::number(n);
    if (!QDir().rename(path, aside))
        return {};
    for (const char* suffix : CompanionSuffixes) {
        const QString companion = path + QLatin1String(suffix);
        if (existsOrDangles(companion) && !QDir().rename(companion, aside + QLatin1String(suffix)))
            QFile::remove(companion);
    }
    return aside;
}

std::optional<TimePrecision> precisionFrom(int stored) {
    switch (stored) {
    case int(TimePrecision::Minute):
        return TimePrecision::Minute;
    case int(TimePrecision::Day):
        return TimePrecision::Day;
    case int(TimePrecision::Second):
        return TimePrecision::Second;
    }
    return std::nullopt;
}

std::optional<StateSide> sideFrom(int stored) {
    switch (stored) {
    case int(StateSide::Local):
        return StateSide::Local;
    case int(StateSide::Remote):
        return StateSide::Remote;
    }
    return std::nullopt;
}

QString sqlProblem(const QSqlQuery& query) {
    return query.lastError().text();
}

} // namespace

QString SyncState::pathFor(const StateIdentity& identity) {
    const QByteArray digest =
        QCryptographicHash::hash(identityKeyOf(identity).toUtf8(), QCryptographicHash::Sha256).left(8);
    return stateFolder() + QStringLiteral("/state-%1.sqlite").arg(QString::fromLatin1(digest.toHex()));
}

SyncState::Opened SyncState::open(const StateIdentity& identity) {
    const QString folder = stateFolder();
    if (!ForceFolders(folder, OwnerOnlyFolder))
        return {nullptr, QStringLiteral("The sync state cannot be kept: the folder \"%1\" cannot be created; this run "
                                        "decides as a first run.")
                             .arg(shown(folder))};
    const QString path = pathFor(identity);
    const QString key = identityKeyOf(identity);
    Attempt first = openFile(path, key);
    if (first.state)
        return {std::move(first.state), {}};
    return openAfresh(identity, first.problem);
}

SyncState::Opened SyncState::openAfresh(const StateIdentity& identity, const QString& problem) {
    const QString path = pathFor(identity);
    const QString key = identityKeyOf(identity);
    const Attempt first{nullptr, problem};
    const QString aside = moveAside(path);
    if (aside.isEmpty())
        return {nullptr, QStringLiteral("The sync state \"%1\" could not be read (%2) nor moved aside; this run "
                                        "decides as a first run.")
                             .arg(shown(path), first.problem)};
    const QString logLine = QStringLiteral("The sync state \"%1\" could not be read (%2) and was moved aside to "
                                           "\"%3\"; this run decides as a first run.")
                                .arg(shown(path), first.problem, shown(aside));
    Attempt fresh = openFile(path, key);
    if (!fresh.state)
        return {nullptr, QStringLiteral("The sync state \"%1\" could not be read (%2) and was moved aside to \"%3\", "
                                        "but a new one cannot be made (%4); this run decides as a first run.")
                             .arg(shown(path), first.problem, shown(aside), fresh.problem)};
    return {std::move(fresh.state), logLine};
}

SyncState::Opened SyncState::openToRead(const StateIdentity& identity) {
    const QString path = pathFor(identity);
    if (!existsOrDangles(path))
        return {};
    Attempt attempt = openFile(path, identityKeyOf(identity), Access::ReadOnly);
    if (attempt.state)
        return {std::move(attempt.state), {}};
    return {nullptr, attempt.problem};
}

std::optional<SyncState::Peek> SyncState::peek(const StateIdentity& identity, QString& problem) {
    problem.clear();
    const QString path = pathFor(identity);
    if (!existsOrDangles(path))
        return std::nullopt;
    const QString connection = newConnectionName();
    std::optional<Peek> found;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        setReadOnlyTarget(db, path);
        problem = [&]() -> QString {
            if (!QFileInfo(path).isFile() || QFileInfo(path).isSymLink())
                return QStringLiteral("it is not a plain file");
            if (!db.open())
                return db.lastError().text();
            QSqlQuery query(db);
            if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
                return QStringLiteral("it is not a database: %1").arg(sqlProblem(query));
            if (query.value(0).toInt() > SchemaVersion)
                return QStringLiteral("it was written by a newer version of Vellisync");
            if (!query.exec(QStringLiteral("SELECT value FROM meta WHERE name = 'identity'")) || !query.next())
                return QStringLiteral("it is damaged: %1").arg(sqlProblem(query));
            if (query.value(0).toString() != identityKeyOf(identity))
                return QStringLiteral("it belongs to another pair of folders");
            Peek peek;
            if (!query.exec(QStringLiteral("SELECT count(*) FROM files")) || !query.next())
                return QStringLiteral("it is damaged: %1").arg(sqlProblem(query));
            peek.files = query.value(0).toInt();
            if (!query.exec(QStringLiteral("SELECT value FROM meta WHERE name = 'last_complete_run'")))
                return QStringLiteral("it is damaged: %1").arg(sqlProblem(query));
            if (query.next())
                peek.lastCompleteRun = QDateTime::fromMSecsSinceEpoch(query.value(0).toLongLong(), Qt::UTC);
            found = peek;
            return {};
        }();
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return found;
}

bool SyncState::forget(const StateIdentity& identity) {
    const QString path = pathFor(identity);
    bool gone = !existsOrDangles(path) || QFile::remove(path);
    for (const char* suffix : CompanionSuffixes) {
        const QString companion = path + QLatin1String(suffix);
        gone = (!existsOrDangles(companion) || QFile::remove(companion)) && gone;
    }
    return gone;
}

SyncState::Attempt SyncState::openFile(const QString& path, const QString& identityKey, Access access) {
    const QFileInfo info(path);
    const bool readOnly = access == Access::ReadOnly;
    if (info.isSymLink() || (info.exists() && !info.isFile()))
        return {nullptr, QStringLiteral("it is not a plain file")};
    if (readOnly) {
        if (!info.exists())
            return {nullptr, QStringLiteral("it does not exist")};
    } else if (!info.exists()) {
        // Made here rather than by SQLite, which would give it the umask's
        // permissions: the state names the user's files.
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, OwnerOnlyFile))
            return {nullptr, file.errorString()};
    } else {
        QFile::setPermissions(path, OwnerOnlyFile);
    }

    auto state = std::make_unique<SyncState>(Key{}, newConnectionName());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), state->m_connection);
        if (readOnly)
            setReadOnlyTarget(db, path);
        else
            db.setDatabaseName(path);
        if (!db.open())
            return {nullptr, db.lastError().text()};
    }
    QString problem = state->prepare(identityKey, access);
    if (!problem.isEmpty())
        return {nullptr, problem}; // the state closes its connection as it goes
    state->m_reading = std::async(std::launch::async, &SyncState::readContents, path, access);
    return {std::move(state), {}};
}

SyncState::SyncState(Key, QString connection) : m_connection(std::move(connection)) {
    m_sinceFlush.start();
}

SyncState::~SyncState() {
    flush();
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

bool SyncState::execute(const QString& statement) {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    return query.exec(statement);
}

// Checks that the file is a state of this identity in a layout this version
// knows (creating the layout in an empty file), and loads it; the problem
// found, or an empty text.
QString SyncState::prepare(const QString& identityKey, Access access) {
    int version = 0;
    {
        // The first read is where SQLite finds out that a file is no database.
        QSqlQuery query(QSqlDatabase::database(m_connection, false));
        if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
            return QStringLiteral("it is not a database: %1").arg(sqlProblem(query));
        version = query.value(0).toInt();
    }
    if (version > SchemaVersion)
        return QStringLiteral("it was written by a newer version of Vellisync");
    // WAL: a commit is one append to the log, and with synchronous=NORMAL a
    // power cut can lose the last commits but never tear the file, which the
    // rollback journal does not promise at that setting. One writer on one
    // thread, so the concurrent readers WAL also allows are not needed.
    // A reader takes the file as it is: setting it up is a writer's work.
    if (access == Access::ReadOnly) {
        if (version == 0)
            return QStringLiteral("it holds no sync state yet");
    } else if (!execute(QStringLiteral("PRAGMA journal_mode=WAL")) ||
               !execute(QStringLiteral("PRAGMA synchronous=NORMAL"))) {
        return QStringLiteral("it cannot be set up");
    }
    if (version == 0) {
        const QString problem = createSchema(identityKey);
        if (!problem.isEmpty())
            return problem;
    }
    {
        QSqlQuery query(QSqlDatabase::database(m_connection, false));
        if (!query.exec(QStringLiteral("SELECT value FROM meta WHERE name = 'identity'")))
            return QStringLiteral("it is damaged: %1").arg(sqlProblem(query));
        if (!query.next() || query.value(0).toString() != identityKey)
            return QStringLiteral("it belongs to another pair of folders");
    }
    // The rows are read later, on a thread of their own; a table missing
    // is found here, where the file can still be set aside at once.
    QSqlQuery tables(QSqlDatabase::database(m_connection, false));
    if (!tables.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN "
                                    "('meta', 'files', 'pending')")) ||
        !tables.next() || tables.value(0).toInt() != 3)
        return QStringLiteral("it is damaged: a table is missing");
    // Whether there is anything at all to go by, known before the rows are.
    QSqlQuery any(QSqlDatabase::database(m_connection, false));
    m_recordsWhenOpened =
        any.exec(QStringLiteral("SELECT EXISTS(SELECT 1 FROM files)")) && any.next() && any.value(0).toInt() != 0;
    return {};
}

QString SyncState::createSchema(const QString& identityKey) {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    {
        // An empty file has no tables; anything else without our version
        // number is some other database.
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) || !query.next())
            return QStringLiteral("it is damaged: %1").arg(sqlProblem(query));
        if (query.value(0).toInt() != 0)
            return QStringLiteral("it holds tables of another kind");
    }
    if (!db.transaction())
        return QStringLiteral("it cannot be written: %1").arg(db.lastError().text());
    const bool created =
        execute(QStringLiteral("CREATE TABLE meta(name TEXT PRIMARY KEY, value TEXT NOT NULL)")) &&
        execute(QStringLiteral("CREATE TABLE files(match_key TEXT PRIMARY KEY, path TEXT NOT NULL, "
                               "local_size INTEGER NOT NULL, local_mtime_ns INTEGER NOT NULL, "
                               "remote_size INTEGER NOT NULL, remote_time_msecs INTEGER NOT NULL, "
                               "remote_precision INTEGER NOT NULL, remote_exact_utc_msecs INTEGER) WITHOUT ROWID")) &&
        execute(QStringLiteral("CREATE TABLE pending(match_key TEXT NOT NULL, side INTEGER NOT NULL, "
                               "path TEXT NOT NULL, temp_name TEXT NOT NULL, PRIMARY KEY(match_key, side))")) &&
        [&] {
            QSqlQuery query(db);
            query.prepare(QStringLiteral("INSERT INTO meta(name, value) VALUES('identity', ?)"));
            query.addBindValue(identityKey);
            return query.exec();
        }() &&
        execute(QStringLiteral("PRAGMA user_version = %1").arg(SchemaVersion));
    if (!created || !db.commit()) {
        const QString problem = db.lastError().text();
        db.rollback();
        return QStringLiteral("it cannot be written: %1").arg(problem);
    }
    return {};
}

// Rows are checked as they come: the file is ours, but whatever a later run
// removes by these names must still be a name under its root.
QString SyncState::readRows(const QSqlDatabase& db, Contents& contents) {
    // Room for every row at once: growing the table hashes each key again.
    QSqlQuery count(db);
    if (count.exec(QStringLiteral("SELECT COUNT(*) FROM files")) && count.next())
        contents.records.reserve(qsizetype(std::clamp<qint64>(count.value(0).toLongLong(), 0, 10'000'000)));
    QSqlQuery files(db);
    files.setForwardOnly(true);
    if (!files.exec(QStringLiteral("SELECT path, local_size, local_mtime_ns, remote_size, remote_time_msecs, "
                                   "remote_precision, remote_exact_utc_msecs FROM files")))
        return QStringLiteral("it is damaged: %1").arg(sqlProblem(files));
    while (files.next()) {
        const QString path = files.value(0).toString();
        const std::optional<TimePrecision> precision = precisionFrom(files.value(5).toInt());
        if (!RelativeName::fromPath(path) || !precision)
            continue;
        const QVariant exact = files.value(6);
        FileRecord record{path,
                          files.value(1).toLongLong(),
                          files.value(2).toLongLong(),
                          files.value(3).toLongLong(),
                          files.value(4).toLongLong(),
                          *precision,
                          exact.isNull() ? std::nullopt : std::optional<qint64>(exact.toLongLong())};
        contents.records.insert(nameMatchKey(path), std::move(record));
    }
    if (files.lastError().isValid())
        return QStringLiteral("it is damaged: %1").arg(sqlProblem(files));

    QSqlQuery pending(db);
    if (!pending.exec(QStringLiteral("SELECT path, side, temp_name FROM pending")))
        return QStringLiteral("it is damaged: %1").arg(sqlProblem(pending));
    while (pending.next()) {
        const QString path = pending.value(0).toString();
        const std::optional<StateSide> side = sideFrom(pending.value(1).toInt());
        const QString tempName = pending.value(2).toString();
        if (RelativeName::fromPath(path) && side && levelProblem(tempName).isEmpty())
            contents.pending.append({path, *side, tempName});
    }
    if (pending.lastError().isValid())
        return QStringLiteral("it is damaged: %1").arg(sqlProblem(pending));

    QSqlQuery meta(db);
    if (!meta.exec(QStringLiteral("SELECT value FROM meta WHERE name = 'last_complete_run'")))
        return QStringLiteral("it is damaged: %1").arg(sqlProblem(meta));
    if (meta.next())
        contents.lastCompleteRun = QDateTime::fromMSecsSinceEpoch(meta.value(0).toLongLong(), Qt::UTC);
    return {};
}

// On a thread of its own, with a connection of its own: the run's thread
// connects and scans meanwhile. A record that could not be read leaves the
// state holding nothing.
SyncState::Contents SyncState::readContents(const QString& path, Access access) {
    Contents contents;
    const QString connection = newConnectionName();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        // Beside a writer's own connection the file is read with its log as usual.
        if (access == Access::ReadOnly) {
            setReadOnlyTarget(db, path);
        } else {
            db.setDatabaseName(path);
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        }
        contents.problem = db.open() ? readRows(db, contents) : db.lastError().text();
        if (!contents.problem.isEmpty())
            contents = Contents{{}, {}, {}, contents.problem};
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return contents;
}

void SyncState::awaitContents() const {
    if (!m_reading.valid())
        return;
    Contents contents = m_reading.get();
    m_records = std::move(contents.records);
    m_pending = std::move(contents.pending);
    m_lastCompleteRun = contents.lastCompleteRun;
    m_readProblem = std::move(contents.problem);
}

const QString& SyncState::readProblem() const {
    awaitContents();
    return m_readProblem;
}

const FileRecord* SyncState::find(const QString& path) const {
    awaitContents();
    const auto found = m_records.constFind(nameMatchKey(path));
    return found == m_records.cend() ? nullptr : &found.value();
}

const FileRecord* SyncState::findKey(const QString& key) const {
    awaitContents();
    const auto found = m_records.constFind(key);
    return found == m_records.cend() ? nullptr : &found.value();
}

bool SyncState::put(const FileRecord& record) {
    awaitContents();
    if (!RelativeName::fromPath(record.path))
        return false;
    const QString key = nameMatchKey(record.path);
    m_records.insert(key, record);
    m_queue.insert(key, record);
    return true;
}

void SyncState::remove(const QString& path) {
    awaitContents();
    const QString key = nameMatchKey(path);
    m_records.remove(key);
    m_queue.insert(key, std::nullopt);
}

bool SyncState::writeQueued() {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery store(db);
    QSqlQuery erase(db);
    if (!store.prepare(QStringLiteral("INSERT OR REPLACE INTO files VALUES(?, ?, ?, ?, ?, ?, ?, ?)")) ||
        !erase.prepare(QStringLiteral("DELETE FROM files WHERE match_key = ?")))
        return false;
    for (auto it = m_queue.cbegin(); it != m_queue.cend(); ++it) {
        if (!it.value()) {
            erase.addBindValue(it.key());
            if (!erase.exec())
                return false;
            continue;
        }
        const FileRecord& record = *it.value();
        store.addBindValue(it.key());
        store.addBindValue(record.path);
        store.addBindValue(record.localSize);
        store.addBindValue(record.localMtimeNs);
        store.addBindValue(record.remoteSize);
        store.addBindValue(record.remoteTimeMsecs);
        store.addBindValue(int(record.remotePrecision));
        store.addBindValue(record.remoteExactUtcMsecs ? QVariant(*record.remoteExactUtcMsecs)
                                                      : QVariant(QMetaType::fromType<qint64>()));
        if (!store.exec())
            return false;
    }
    if (m_pendingCleared.isEmpty())
        return true;
    QSqlQuery clear(db);
    if (!clear.prepare(QStringLiteral("DELETE FROM pending WHERE match_key = ? AND side = ?")))
        return false;
    for (const auto& [key, side] : std::as_const(m_pendingCleared)) {
        clear.addBindValue(key);
        clear.addBindValue(int(side));
        if (!clear.exec())
            return false;
    }
    return true;
}

bool SyncState::flush() {
    // A state whose rows could not be read is never written over.
    if (!readProblem().isEmpty())
        return false;
    if (m_queue.isEmpty() && m_pendingCleared.isEmpty()) {
        m_sinceFlush.restart();
        return true;
    }
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction())
        return false;
    if (!writeQueued() || !db.commit()) {
        db.rollback();
        return false;
    }
    m_queue.clear();
    m_pendingCleared.clear();
    m_sinceFlush.restart();
    return true;
}

bool SyncState::flushIfDue() {
    return m_sinceFlush.elapsed() < FlushIntervalMsecs || flush();
}

bool SyncState::notePending(const QList<PendingTransfer>& transfers) {
    if (!readProblem().isEmpty())
        return false;
    for (const PendingTransfer& transfer : transfers) {
        if (!RelativeName::fromPath(transfer.path) || !levelProblem(transfer.tempName).isEmpty())
            return false;
    }
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction())
        return false;
    QSqlQuery query(db);
    const bool written = [&] {
        if (!query.prepare(
                QStringLiteral("INSERT OR REPLACE INTO pending(match_key, side, path, temp_name) VALUES(?, ?, ?, ?)")))
            return false;
        for (const PendingTransfer& transfer : transfers) {
            query.addBindValue(nameMatchKey(transfer.path));
            query.addBindValue(int(transfer.side));
            query.addBindValue(transfer.path);
            query.addBindValue(transfer.tempName);
            if (!query.exec())
                return false;
        }
        return true;
    }();
    if (!written || !db.commit()) {
        db.rollback();
        return false;
    }
    for (const PendingTransfer& transfer : transfers) {
        const QString key = nameMatchKey(transfer.path);
        m_pending.removeIf(
            [&](const PendingTransfer& p) { return p.side == transfer.side && nameMatchKey(p.path) == key; });
        m_pending.append(transfer);
    }
    return true;
}

void SyncState::clearPending(const QString& path, StateSide side) {
    awaitContents();
    const QString key = nameMatchKey(path);
    const auto before = m_pending.size();
    m_pending.removeIf([&](const PendingTransfer& p) { return p.side == side && nameMatchKey(p.path) == key; });
    if (m_pending.size() != before)
        m_pendingCleared.append({key, side});
}

bool SyncState::markRunComplete() {
    if (!readProblem().isEmpty())
        return false;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction())
        return false;
    const bool written = writeQueued() && [&] {
        QSqlQuery query(db);
        query.prepare(QStringLiteral("INSERT OR REPLACE INTO meta(name, value) VALUES('last_complete_run', ?)"));
        query.addBindValue(now.toMSecsSinceEpoch());
        return query.exec();
    }();
    if (!written || !db.commit()) {
        db.rollback();
        return false;
    }
    m_queue.clear();
    m_pendingCleared.clear();
    m_sinceFlush.restart();
    m_lastCompleteRun = now;
    return true;
}

} // namespace engine
