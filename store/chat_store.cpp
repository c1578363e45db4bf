#include "store/chat_store_internal.h"

#include "store/store_files.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringList>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QMutex>
#include <QReadWriteLock>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>
#include <QThreadPool>
#include <QScopeGuard>
#include <QCoreApplication>
#include <QVarLengthArray>
#include <QVariant>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

Q_LOGGING_CATEGORY(lcStore, "velmor.store")

namespace velmor::store {

namespace {

std::atomic<quint64> g_nextThreadSlot{1};
std::atomic<quint64> g_nextConnection{1};

// Per-thread bookkeeping: which stores hold a connection for this thread,
// so that the thread's connections are closed by the thread itself when it
// ends (pool threads come and go).
struct ThreadSlot
{
    const quint64 id = g_nextThreadSlot.fetch_add(1);
    std::vector<std::weak_ptr<StoreState>> stores;

    ~ThreadSlot()
    {
        // Pool threads end while the application is torn down, and finish
        // ending while the main thread goes on to tear down Qt's SQL
        // registry: from then on (and in a program without an application)
        // the connections are left to the store's close, which the
        // process-wide store runs at exit while the registry still exists.
        if (!QCoreApplication::instance() || QCoreApplication::closingDown())
            return;
        for (const auto &weak : stores) {
            if (auto state = weak.lock())
                state->releaseThread(id);
        }
    }
};

thread_local ThreadSlot t_slot;

// This thread runs the full disk's probe: its refusal is no write of the
// user's.
thread_local bool t_probingRoom = false;

// Inside a BriefLockWaits of this thread.
thread_local bool t_briefLockWaits = false;

// This thread tries a checkpoint that must not wait for any lock.
thread_local bool t_noLockWait = false;

bool execPragma(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery q(db);
    const bool ok = q.exec(sql);
    if (!ok)
        qCWarning(lcStore) << "pragma failed" << sql << q.lastError().text();
    q.finish();
    return ok;
}

// How long a worker's statement waits for another connection's lock before
// it fails with "database is locked".
constexpr int kBusyTimeoutMs = 5000;

// The write-ahead log is cut back to this after each checkpoint, and is
// checkpointed once it holds about as much: a large pull may grow it, but
// it does not keep that size on disk, where it would later have to be
// copied into a file on a disk that may have filled meanwhile.
constexpr qint64 kJournalSizeLimit = 1024 * 1024;
constexpr int kAutoCheckpointPages = 256;

// Between the recovery job's tries of a write while the store is busy or
// the disk full, in ms; on a full disk it tries every kFullProbeEvery-th
// pause.
constexpr int kRecoveryPauseMs = 250;
constexpr int kFullProbeEvery = 8;
// What a refused write needs beyond the bytes bound to it: its pages'
// headers, the rows of its indexes, the log's frames.
constexpr qint64 kWriteOverhead = 64 * 1024;

// SQLite's own back-off, in ms: short waits first, then 100 ms steps. A
// lock held by this process's own work (another connection's write, a
// checkpoint) is waited for by every thread. Another program's lock: the
// GUI thread's connection waits kGuiLockWaitMs at most, and not at all once
// the store is known to be busy (the recovery job watches the lock then).
// Every connection stops waiting when open() or close() needs the store.
int waitForLock(void *arg, int attempt)
{
    auto *conn = static_cast<Connection *>(arg);
    StoreState &state = *conn->state;
    if (t_noLockWait)
        return 0;
    // This connection counts itself while it takes the lock.
    const bool ownWork = state.holders.load() - (conn->holding ? 1 : 0) > 0;
    conn->lockForeign = !ownWork || state.anotherProcessWrites();
    int budget = kBusyTimeoutMs;
    if ((conn->gui || t_briefLockWaits) && conn->lockForeign)
        budget = state.currentCondition() == Condition::Busy ? 0 : kGuiLockWaitMs;
    if (state.closing.load())
        budget = 0;
    static constexpr int kDelays[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
    constexpr int kSteps = int(sizeof kDelays / sizeof kDelays[0]);
    int waited = 0;
    for (int i = 0; i < std::min(attempt, kSteps); ++i)
        waited += kDelays[i];
    if (attempt > kSteps)
        waited += (attempt - kSteps) * kDelays[kSteps - 1];
    if (waited >= budget)
        return 0;
    if (attempt == 0)
        qCDebug(lcStore) << "waiting for the database lock";
    const int delay = attempt < kSteps ? kDelays[attempt] : kDelays[kSteps - 1];
    sqlite3_sleep(std::min(delay, budget - waited));
    return 1;
}

// SQLite's handle under the Qt connection, with the driver's busy time-out
// replaced by waitForLock (the wait shows in the store's debug log). Null
// when the handle is not SQLite's.
sqlite3 *takeHandle(QSqlDatabase &db, Connection *conn)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    sqlite3 *raw = *static_cast<sqlite3 *const *>(handle.data());
    return raw && sqlite3_busy_handler(raw, &waitForLock, conn) == SQLITE_OK ? raw : nullptr;
}

const char *conditionName(Condition c)
{
    switch (c) {
    case Condition::Ok:
        return "ok";
    case Condition::Busy:
        return "busy";
    case Condition::DiskFull:
        return "disk full";
    case Condition::Damaged:
        return "damaged";
    }
    return "?";
}

} // namespace

Condition conditionOf(int resultCode)
{
    switch (resultCode & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return Condition::Busy;
    case SQLITE_FULL:
        return Condition::DiskFull;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return Condition::Damaged;
    default:
        return Condition::Ok;
    }
}

bool writeNothing(StoreState &state);
bool writeRoomFor(StoreState &state);

BriefLockWaits::BriefLockWaits() : m_before(std::exchange(t_briefLockWaits, true)) {}

BriefLockWaits::~BriefLockWaits()
{
    t_briefLockWaits = m_before;
}

namespace {
thread_local bool t_heldWrite = false;
} // namespace

HeldWrite::HeldWrite() : m_before(t_heldWrite)
{
    t_heldWrite = true;
}

HeldWrite::~HeldWrite()
{
    t_heldWrite = m_before;
}

bool HeldWrite::here()
{
    return t_heldWrite;
}

bool isGuiThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void StoreState::noteFailure(int resultCode, const QString &writeKind, qint64 writeBytes)
{
    const Condition met = conditionOf(resultCode);
    if (met == Condition::DiskFull && !t_probingRoom) {
        QMutexLocker lock(&refusedMutex);
        // The largest refused write is the one that must fit again.
        if (currentCondition() != Condition::DiskFull || writeBytes >= refusedBytes) {
            refusedKind = writeKind;
            refusedBytes = writeBytes;
        }
    }
    // A damaged file stays so until it is opened again.
    if (met != Condition::Ok && currentCondition() != Condition::Damaged)
        setCondition(met);
}

void StoreState::noteWritten(const QString &kind)
{
    const Condition now = currentCondition();
    if (now == Condition::DiskFull) {
        QMutexLocker lock(&refusedMutex);
        if (kind.isEmpty() || kind != refusedKind)
            return;
    }
    if (now == Condition::Busy || now == Condition::DiskFull)
        setCondition(Condition::Ok);
}

void StoreState::setCondition(Condition next)
{
    if (Condition(condition.exchange(int(next))) == next)
        return;
    qCInfo(lcStore) << "store condition:" << conditionName(next);
    if (quiet)
        return;
    {
        // Called under the lock: a listener replaced (its owner going away)
        // is not running any more once setConditionListener() returns.
        QMutexLocker lock(&listenerMutex);
        if (listener)
            listener(next);
    }
    if (next == Condition::Busy || next == Condition::DiskFull)
        startRecovery();
}

void StoreState::startRecovery()
{
    if (recovering.exchange(true))
        return;
    std::weak_ptr<StoreState> weak = weak_from_this();
    QThreadPool::globalInstance()->start([weak] {
        const auto lasting = [](const StoreState &state) {
            const Condition now = state.currentCondition();
            return now == Condition::Busy || now == Condition::DiskFull;
        };
        int fullPauses = 0;
        for (;;) {
            QThread::msleep(kRecoveryPauseMs);
            auto state = weak.lock();
            if (!state)
                return;
            if (!lasting(*state)) {
                state->recovering.store(false);
                // A fault met between the check and the flag's reset found
                // the flag still up and started nothing: look once more.
                if (lasting(*state))
                    state->startRecovery();
                return;
            }
            // This pool thread waits for the lock as any worker does (and
            // gives up as soon as the store is closed, which also ends the
            // condition); a write that lands ends the condition. On a full
            // disk only a write as large as the refused one tells, and is
            // not worth trying as often.
            if (state->currentCondition() == Condition::DiskFull) {
                if (++fullPauses % kFullProbeEvery == 0)
                    writeRoomFor(*state);
            } else {
                writeNothing(*state);
            }
        }
    });
}

bool StoreState::anotherProcessWrites()
{
    // The write lock is byte 120 of the shared-memory file, locked with
    // fcntl(): F_GETLK names a lock of another process, never one of ours.
    constexpr off_t kWriteLockByte = 120;
    const QByteArray name = QFile::encodeName(path + QLatin1String("-shm"));
    QMutexLocker lock(&shmMutex);
    struct stat now {};
    if (::stat(name.constData(), &now) != 0)
        return false;
    struct stat held {};
    if (shmFd < 0 || ::fstat(shmFd, &held) != 0 || held.st_ino != now.st_ino || held.st_dev != now.st_dev) {
        // Made anew since (every connection had closed): read through a new
        // descriptor, the old one kept until reset().
        const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            return false;
        if (shmFd >= 0)
            retiredShmFds.push_back(shmFd);
        shmFd = fd;
    }
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = kWriteLockByte;
    probe.l_len = 1;
    return ::fcntl(shmFd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

void StoreState::closeShmProbes()
{
    QMutexLocker lock(&shmMutex);
    if (shmFd >= 0)
        retiredShmFds.push_back(std::exchange(shmFd, -1));
    for (int fd : retiredShmFds)
        ::close(fd);
    retiredShmFds.clear();
}

// Folds the write-ahead log into the file and cuts it back to nothing,
// without waiting for any lock: a cut must wait until no reader uses the
// log, holding the write lock meanwhile, and a program that only reads the
// file (a backup, an indexer) would then stop every write of this one. The
// log is folded as far as readers allow, and cut when none is reading; a
// later fold tries again. Counted as this process's own write while it runs.
void foldLog(StoreState &state, Connection *conn)
{
    sqlite3_wal_checkpoint_v2(conn->handle, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    state.holders.fetch_add(1);
    t_noLockWait = true;
    const int rc = sqlite3_wal_checkpoint_v2(conn->handle, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    t_noLockWait = false;
    state.holders.fetch_sub(1);
    if (rc != SQLITE_OK)
        qCDebug(lcStore) << "log not cut back now (in use):" << sqlite3_errstr(rc);
}

void StoreState::foldLargeLog()
{
    if (QFileInfo(path + QLatin1String("-wal")).size() <= kJournalSizeLimit || folding.exchange(true))
        return;
    // On a pool thread: copying megabytes into the file is no work for the
    // thread that committed (often the GUI thread).
    std::weak_ptr<StoreState> weak = weak_from_this();
    QThreadPool::globalInstance()->start([weak] {
        auto state = weak.lock();
        if (!state)
            return;
        {
            Session s(*state);
            if (s.conn())
                foldLog(*state, s.conn());
        }
        state->folding.store(false);
    });
}

bool writeNothing(StoreState &state)
{
    Session s(state);
    Transaction probe(s);
    if (!probe.active())
        return false;
    // Page 1 is written with the value it has: a real write, no change.
    const auto version = s.first(QStringLiteral("PRAGMA user_version"), {}, [](Row &row) { return row.integer(); });
    return version && s.run(QStringLiteral("PRAGMA user_version = %1").arg(*version), {}) && probe.finish();
}

// Tries a write as large as the one the full disk refused, and takes the
// room back at once: when it lands, a write of that size fits again. The
// probe's own table holds at most one row, and none once done.
bool writeRoomFor(StoreState &state)
{
    qint64 bytes = 0;
    {
        QMutexLocker lock(&state.refusedMutex);
        bytes = state.refusedBytes;
    }
    Session s(state);
    if (!s.conn())
        return false;
    t_probingRoom = true;
    const auto done = qScopeGuard([] { t_probingRoom = false; });
    {
        Transaction fill(s);
        if (!fill.active()
            || !s.run(QStringLiteral("CREATE TABLE IF NOT EXISTS space_probe(filler BLOB NOT NULL)"), {})
            || !s.run(QStringLiteral("INSERT INTO space_probe(filler) VALUES(zeroblob(?))"),
                      {QVariant(bytes + kWriteOverhead)})
            || !fill.finish())
            return false;
    }
    Transaction empty(s);
    const bool emptied = empty.active() && s.run(QStringLiteral("DELETE FROM space_probe"), {}) && empty.finish();
    state.setCondition(Condition::Ok);
    return emptied;
}

Connection *StoreState::connection()
{
    if (!open)
        return nullptr;
    const quint64 slot = t_slot.id;
    {
        QMutexLocker lock(&connectionsMutex);
        auto it = connections.find(slot);
        if (it != connections.end())
            return it->second.get();
    }

    const QString name = QStringLiteral("velmor_store_%1").arg(g_nextConnection.fetch_add(1));
    auto conn = std::make_unique<Connection>();
    conn->state = this;
    conn->gui = isGuiThread();
    conn->db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    conn->db.setDatabaseName(sqliteOpenName(path));
    conn->db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1;QSQLITE_OPEN_URI").arg(kBusyTimeoutMs));
    if (!conn->db.open() || !(conn->handle = takeHandle(conn->db, conn.get()))
        || !execPragma(conn->db, QStringLiteral("PRAGMA foreign_keys = ON"))
        || !execPragma(conn->db, QStringLiteral("PRAGMA synchronous = NORMAL"))
        || !execPragma(conn->db, QStringLiteral("PRAGMA journal_size_limit = %1").arg(kJournalSizeLimit))
        || !execPragma(conn->db, QStringLiteral("PRAGMA wal_autocheckpoint = %1").arg(kAutoCheckpointPages))) {
        qCWarning(lcStore) << "cannot open" << path << conn->db.lastError().text();
        lastConnectError.store(conn->handle ? sqlite3_extended_errcode(conn->handle) : SQLITE_CANTOPEN);
        conn->db.close();
        conn.reset();
        QSqlDatabase::removeDatabase(name);
        return nullptr;
    }
    auto &stores = t_slot.stores;
    stores.erase(std::remove_if(stores.begin(), stores.end(), [](const auto &w) { return w.expired(); }),
                 stores.end());
    if (std::none_of(stores.begin(), stores.end(), [this](const auto &w) { return w.lock().get() == this; }))
        stores.push_back(weak_from_this());
    Connection *raw = conn.get();
    QMutexLocker lock(&connectionsMutex);
    connections.emplace(slot, std::move(conn));
    return raw;
}

void StoreState::dropConnection(quint64 slot)
{
    std::unique_ptr<Connection> conn;
    {
        QMutexLocker lock(&connectionsMutex);
        auto it = connections.find(slot);
        if (it == connections.end())
            return;
        conn = std::move(it->second);
        connections.erase(it);
    }
    const QString name = conn->db.connectionName();
    if (conn->holding)
        holders.fetch_sub(1);
    conn->statements.clear();
    conn->db.close();
    conn.reset();
    QSqlDatabase::removeDatabase(name);
}

void StoreState::releaseThread(quint64 slot)
{
    // Only this thread uses its own connection, and it is ending. It is
    // closed under the lifecycle lock, so that a close() (at exit, the
    // store's destruction, after which the SQL registry goes) waits for it.
    // An open() or close() under way closes every connection itself.
    if (!lifecycle.tryLockForRead())
        return;
    dropConnection(slot);
    lifecycle.unlock();
}

void StoreState::dropAll()
{
    // Connections of other threads are closed from here: nothing else can be
    // using them, every statement runs under the lifecycle lock held
    // exclusively now.
    std::vector<quint64> ids;
    {
        QMutexLocker lock(&connectionsMutex);
        for (const auto &entry : connections)
            ids.push_back(entry.first);
    }
    for (quint64 id : ids)
        dropConnection(id);
}

void StoreState::reset()
{
    {
        QMutexLocker lock(&refusedMutex);
        refusedKind.clear();
        refusedBytes = 0;
    }
    dropAll();
    closeShmProbes();
    open = false;
    owner.clear();
    path.clear();
    publish(QString(), QString());
    setCondition(Condition::Ok);
}

} // namespace velmor::store

velmor::store::Condition ChatStore::condition() const
{
    return d->currentCondition();
}

void ChatStore::setConditionListener(std::function<void(velmor::store::Condition)> listener)
{
    QMutexLocker lock(&d->listenerMutex);
    d->listener = std::move(listener);
}

void ChatStore::releaseCaches()
{
    // A connection is used by its own thread only, inside an operation that
    // holds the lifecycle lock for reading: held for writing, no connection
    // is in use. Store work under way is not waited for: its caches are
    // released at the next call.
    if (!d->lifecycle.tryLockForWrite())
        return;
    {
        QMutexLocker lock(&d->connectionsMutex);
        for (const auto &entry : d->connections) {
            if (entry.second->handle)
                sqlite3_db_release_memory(entry.second->handle);
        }
    }
    d->lifecycle.unlock();
}

bool ChatStore::probeWrite()
{
    if (d->currentCondition() == velmor::store::Condition::DiskFull)
        return velmor::store::writeRoomFor(*d);
    return velmor::store::writeNothing(*d);
}
