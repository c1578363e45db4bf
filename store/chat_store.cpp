#include "store/chat_store_internal.h"

#include "store/page_scan.h"
#include "store/salvage.h"
#include "store/schema.h"
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

bool writeNothing(StoreState &state);
bool writeRoomFor(StoreState &state);
void foldLog(StoreState &state, Connection *conn);

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

namespace {

// The exclusive lifecycle lock, taken while statements of other threads
// that wait for another process's lock are told to give up.
class Exclusive
{
public:
    explicit Exclusive(StoreState &state) : m_state(state)
    {
        m_state.closing.store(true);
        m_state.lifecycle.lockForWrite();
        m_state.closing.store(false);
    }
    ~Exclusive() { m_state.lifecycle.unlock(); }
    Exclusive(const Exclusive &) = delete;
    Exclusive &operator=(const Exclusive &) = delete;

private:
    StoreState &m_state;
};

// Each identity that had readable rows in the kept file is told at its
// next sign-in with the count of its messages read back; a row under no
// owner stands for the identities whose rows could not be read at all.
// The identity that opened the file is told now.
void recordSetAside(Connection *conn, const QString &kept, QHash<QString, int> owners, const QString &opener)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QString insert = QStringLiteral("INSERT OR REPLACE INTO store_set_asides(owner_raw_public_key,kept_path,"
                                          "saved_messages,created_at,told) VALUES(?,?,?,?,?)");
    owners.insert(QString(), 0);
    for (auto it = owners.cbegin(); it != owners.cend(); ++it) {
        if (it.key() != opener)
            Stmt(conn, insert, {it.key(), kept, it.value(), now, 0});
    }
    Stmt(conn, insert, {opener, kept, owners.value(opener), now, 1});
}

// The latest kept file this identity has not been told of; told from now
// on.
void takeUntoldSetAside(Connection *conn, const QString &owner, OpenReport *out)
{
    {
        Stmt untold(conn,
                    QStringLiteral("SELECT kept_path, saved_messages FROM store_set_asides AS s "
                                   "WHERE (owner_raw_public_key=? AND told=0) OR (owner_raw_public_key='' AND NOT EXISTS("
                                   "SELECT 1 FROM store_set_asides AS t WHERE t.owner_raw_public_key=? "
                                   "AND t.kept_path=s.kept_path)) ORDER BY owner_raw_public_key=? DESC, created_at DESC LIMIT 1"),
                    {owner, owner, owner});
        if (!untold.next())
            return;
        out->setAside = untold.text(0);
        out->salvagedMessages = int(untold.integer(1));
    }
    Stmt(conn, QStringLiteral("UPDATE store_set_asides SET told=1 WHERE owner_raw_public_key=?"), {owner});
    Stmt(conn,
         QStringLiteral("INSERT INTO store_set_asides(owner_raw_public_key,kept_path,saved_messages,created_at,told) "
                        "SELECT ?, kept_path, 0, created_at, 1 FROM store_set_asides WHERE owner_raw_public_key='' "
                        "ON CONFLICT DO NOTHING"),
         {owner});
}

enum class Check { Sound, Damaged, Newer, Failed };

// Opens the connection for `state.path` and looks at the file: a database
// whose quick check passes, in WAL mode when the file system allows it.
Check checkFile(StoreState &state, Connection **out, Condition *failure)
{
    *out = state.connection();
    Connection *conn = *out;
    if (!conn) {
        // The connection's own settings already read the file.
        *failure = conditionOf(state.lastConnectError.load());
        return *failure == Condition::Damaged ? Check::Damaged : Check::Failed;
    }
    // A newer build's file is looked at before anything could write to it
    // (the journal mode below may); a file whose version cannot be read is
    // judged by the quick check.
    {
        Stmt version(conn, QStringLiteral("PRAGMA user_version"), {});
        if (version.next() && version.integer(0) > kSchemaVersion) {
            qCWarning(lcStore) << "refused: written by a newer build, layout version" << version.integer(0)
                               << "above" << kSchemaVersion << state.path;
            return Check::Newer;
        }
    }
    QSqlQuery q(conn->db);
    // Some file systems cannot share WAL memory; the database still works
    // with its rollback journal there, so this is not a reason to fail.
    const bool wal = q.exec(QStringLiteral("PRAGMA journal_mode = WAL")) && q.next()
                     && q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0;
    q.finish();
    if (!wal)
        qCWarning(lcStore) << "WAL journal mode refused for" << state.path;
    // Every page of the file is read (no index cross-check: that is the
    // full check's cost); a file that is not a database fails here too.
    bool ran = false;
    bool sound = false;
    QString verdict;
    int code = SQLITE_OK;
    {
        Stmt check(conn, QStringLiteral("PRAGMA quick_check(1)"));
        ran = check.exec();
        sound = ran && check.next() && (verdict = check.text(0)) == QLatin1String("ok");
        code = sqlite3_extended_errcode(conn->handle);
        if (!ran)
            verdict = QString::fromUtf8(sqlite3_errmsg(conn->handle));
    }
    // The pages it read fill this connection's cache (up to its 2 MB), kept
    // for as long as the thread lives, which is the sign-in's worker, idle
    // from now on: they go now.
    sqlite3_db_release_memory(conn->handle);
    if (sound)
        return Check::Sound;
    *failure = ran ? Condition::Damaged : conditionOf(code);
    if (*failure == Condition::Damaged) {
        qCWarning(lcStore) << "damaged database" << state.path << verdict;
        return Check::Damaged;
    }
    return Check::Failed;
}

} // namespace

} // namespace velmor::store

// ---- lifecycle -----------------------------------------------------------

ChatStore &ChatStore::instance()
{
    static ChatStore store;
    return store;
}

ChatStore::ChatStore() : d(std::make_shared<StoreState>())
{
    // Brings Qt's registry of SQL connections and its shared empty query to
    // life first, so that they are torn down after the process-wide store: a
    // connection still open at exit (a thread that never ended) is then
    // closed, and its statements freed, while they exist.
    QSqlDatabase::connectionNames();
    QSqlQuery();
}

ChatStore::~ChatStore()
{
    close();
}

bool ChatStore::open(const QString &ownerKey, const QString &path, velmor::store::OpenReport *report)
{
    using velmor::store::Condition;
    velmor::store::OpenReport scratch;
    velmor::store::OpenReport &out = report ? *report : scratch;
    out = {};
    {
        // A store closed while held open is closed first.
        QMutexLocker held(&d->holdMutex);
        while (d->closeWhenReleased.load())
            d->holdsGone.wait(&d->holdMutex);
    }
    velmor::store::Exclusive lock(*d);
    d->reset();
    if (ownerKey.isEmpty())
        return false;
    d->quiet = true;
    // A store opened on a full disk reads, and says it is full once open.
    Condition openedAs = Condition::Ok;
    const auto speak = qScopeGuard([this, &openedAs] {
        d->quiet = false;
        d->condition.store(int(Condition::Ok));
        if (openedAs != Condition::Ok)
            d->setCondition(openedAs);
    });

    QString file = path;
    if (file.isEmpty()) {
        const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        if (dir.isEmpty()) {
            qCWarning(lcStore) << "no application-data folder";
            return false;
        }
        file = QDir(dir).filePath(QStringLiteral("chat.db"));
    }

    // The vault's rule: a folder or file that is a link or another user's
    // is not opened (nor narrowed, nor moved aside), and the user is told.
    // Looked at before anything is made on the way, and again once the
    // folder is there.
    out.foreign = velmor::store::foreignStorePath(file);
    if (out.foreign.isEmpty() && !velmor::store::makePrivateFolder(QFileInfo(file).absolutePath())) {
        qCWarning(lcStore) << "cannot make the store's folder" << QFileInfo(file).absolutePath();
        return false;
    }
    if (out.foreign.isEmpty())
        out.foreign = velmor::store::foreignStorePath(file);
    if (!out.foreign.isEmpty()) {
        qCWarning(lcStore) << "store refused (a link or another user's):" << out.foreign;
        return false;
    }

    for (int attempt = 0; attempt < 2; ++attempt) {
        bool cut = velmor::store::isCutToNothing(file);
        velmor::store::makePrivateFiles(file);
        d->path = file;
        d->owner = ownerKey;
        d->open = true;
        velmor::store::Connection *conn = nullptr;
        Condition failure = Condition::Ok;
        const velmor::store::Check check =
            cut ? velmor::store::Check::Damaged : velmor::store::checkFile(*d, &conn, &failure);
        if (check == velmor::store::Check::Damaged && attempt == 0) {
            // Kept as it is for whoever can still read from it; the user is
            // told, and the new file starts empty.
            d->reset();
            out.setAside = velmor::store::setAside(file);
            if (out.setAside.isEmpty()) {
                qCWarning(lcStore) << "cannot move the damaged database aside" << file;
                out.failure = Condition::Damaged;
                return false;
            }
            qCWarning(lcStore) << (cut ? "database cut to nothing" : "damaged database") << "kept as" << out.setAside;
            continue;
        }
        if (check == velmor::store::Check::Newer)
            out.newer = file;
        if (check != velmor::store::Check::Sound) {
            out.failure = failure;
            d->reset();
            return false;
        }
        QString error;
        // The migration always writes (the layout version at least), so a
        // file that can be read but not written fails here and not at the
        // first write.
        if (!velmor::store::migrate(conn->db, ownerKey, &error)) {
            qCWarning(lcStore) << "cannot open" << file << "for writing:" << error;
            const QString busyText = QString::fromUtf8(sqlite3_errstr(SQLITE_BUSY));
            const QString fullText = QString::fromUtf8(sqlite3_errstr(SQLITE_FULL));
            out.failure = error.contains(busyText)   ? Condition::Busy
                          : error.contains(fullText) ? Condition::DiskFull
                                                     : Condition::Ok;
            // A full disk does not hide what is stored: a file already in
            // the current layout opens for reading, and its writes wait for
            // space like those of a store that filled the disk while open.
            if (out.failure != Condition::DiskFull || !velmor::store::hasCurrentLayout(conn->db)) {
                d->reset();
                return false;
            }
            openedAs = Condition::DiskFull;
        }
        // What can still be read of a file just kept aside comes along;
        // the other identities that had rows in it hear of it at their
        // next sign-in, as this one does now.
        if (!out.setAside.isEmpty() && openedAs == Condition::Ok) {
            // Through SQLite first, then from the pages what it cannot reach.
            QHash<QString, int> owners = velmor::store::salvageRows(out.setAside, conn->handle);
            velmor::store::scanPages(out.setAside, conn->handle, &owners);
            out.salvagedMessages = owners.value(ownerKey);
            velmor::store::recordSetAside(conn, out.setAside, owners, ownerKey);
        } else if (openedAs == Condition::Ok) {
            velmor::store::takeUntoldSetAside(conn, ownerKey, &out);
        }
        // A log grown large by an earlier run (a big pull, a full disk that
        // stopped checkpoints) goes back into the file and is cut back now;
        // not while space is short, where copying it into the file could
        // take the last of it.
        if (openedAs == Condition::Ok && !velmor::store::spaceIsShort(file))
            velmor::store::foldLog(*d, conn);
        d->publish(ownerKey, file);
        return true;
    }
    d->reset();
    return false;
}

void ChatStore::close()
{
    {
        QMutexLocker lock(&d->holdMutex);
        if (d->holds > 0) {
            // Read as closed from now on; the last hold closes the file.
            d->closeWhenReleased.store(true);
            d->publish(QString(), QString());
            return;
        }
    }
    velmor::store::Exclusive lock(*d);
    d->reset();
}

std::shared_ptr<void> ChatStore::holdOpen()
{
    QMutexLocker lock(&d->holdMutex);
    if (!isOpen() || d->closeWhenReleased.load())
        return {};
    ++d->holds;
    return std::shared_ptr<void>(d.get(), [state = d](void *) { state->releaseHold(); });
}

void velmor::store::StoreState::releaseHold()
{
    QMutexLocker lock(&holdMutex);
    if (--holds > 0 || !closeWhenReleased.load())
        return;
    lock.unlock();
    {
        Exclusive exclusive(*this);
        reset();
    }
    lock.relock();
    closeWhenReleased.store(false);
    holdsGone.wakeAll();
}

bool ChatStore::isOpen() const
{
    QMutexLocker lock(&d->publishedMutex);
    return !d->publishedOwner.isEmpty();
}

QString ChatStore::ownerKey() const
{
    QMutexLocker lock(&d->publishedMutex);
    return d->publishedOwner;
}

QString ChatStore::databasePath() const
{
    QMutexLocker lock(&d->publishedMutex);
    return d->publishedPath;
}

velmor::store::Condition ChatStore::condition() const
{
    return d->currentCondition();
}

void ChatStore::setConditionListener(std::function<void(velmor::store::Condition)> listener)
{
    QMutexLocker lock(&d->listenerMutex);
    d->listener = std::move(listener);
}

bool ChatStore::probeWrite()
{
    if (d->currentCondition() == velmor::store::Condition::DiskFull)
        return velmor::store::writeRoomFor(*d);
    return velmor::store::writeNothing(*d);
}
