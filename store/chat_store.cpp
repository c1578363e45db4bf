#include "store/chat_store_internal.h"

#include "store/schema.h"

#include <QDateTime>
#include <QDir>
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
#include <QVarLengthArray>
#include <QVariant>

#include <sqlite3.h>

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
        // Only this thread uses its own connection, and it is ending.
        for (const auto &weak : stores) {
            if (auto state = weak.lock())
                state->dropConnection(id);
        }
    }
};

thread_local ThreadSlot t_slot;

bool execPragma(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery q(db);
    const bool ok = q.exec(sql);
    if (!ok)
        qCWarning(lcStore) << "pragma failed" << sql << q.lastError().text();
    q.finish();
    return ok;
}

// How long a statement waits for another connection's lock before it fails
// with "database is locked".
constexpr int kBusyTimeoutMs = 5000;

// SQLite's own back-off, in ms: short waits first, then 100 ms steps.
int waitForLock(void *, int attempt)
{
    static constexpr int kDelays[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
    constexpr int kSteps = int(sizeof kDelays / sizeof kDelays[0]);
    int waited = 0;
    for (int i = 0; i < std::min(attempt, kSteps); ++i)
        waited += kDelays[i];
    if (attempt > kSteps)
        waited += (attempt - kSteps) * kDelays[kSteps - 1];
    if (waited >= kBusyTimeoutMs)
        return 0;
    if (attempt == 0)
        qCDebug(lcStore) << "waiting for the database lock";
    const int delay = attempt < kSteps ? kDelays[attempt] : kDelays[kSteps - 1];
    sqlite3_sleep(std::min(delay, kBusyTimeoutMs - waited));
    return 1;
}

// SQLite's handle under the Qt connection, with the driver's busy time-out
// replaced by waitForLock (same limit, but the wait shows in the store's
// debug log). Null when the handle is not SQLite's.
sqlite3 *takeHandle(QSqlDatabase &db)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    sqlite3 *raw = *static_cast<sqlite3 *const *>(handle.data());
    return raw && sqlite3_busy_handler(raw, &waitForLock, nullptr) == SQLITE_OK ? raw : nullptr;
}

} // namespace

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
    conn->db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    conn->db.setDatabaseName(path);
    conn->db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    if (!conn->db.open() || !(conn->handle = takeHandle(conn->db)) || !execPragma(conn->db, QStringLiteral("PRAGMA foreign_keys = ON"))
        || !execPragma(conn->db, QStringLiteral("PRAGMA synchronous = NORMAL"))) {
        qCWarning(lcStore) << "cannot open" << path << conn->db.lastError().text();
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
    conn->statements.clear();
    conn->db.close();
    conn.reset();
    QSqlDatabase::removeDatabase(name);
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
    dropAll();
    open = false;
    owner.clear();
    path.clear();
}

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

bool ChatStore::open(const QString &ownerKey, const QString &path)
{
    QWriteLocker lock(&d->lifecycle);
    d->reset();
    if (ownerKey.isEmpty())
        return false;

    QString file = path;
    if (file.isEmpty()) {
        const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        if (dir.isEmpty() || !QDir().mkpath(dir)) {
            qCWarning(lcStore) << "no application-data folder" << dir;
            return false;
        }
        file = QDir(dir).filePath(QStringLiteral("chat.db"));
    } else {
        const QString dir = QFileInfo(file).absolutePath();
        if (!QDir().mkpath(dir))
            return false;
    }

    d->path = file;
    d->owner = ownerKey;
    d->open = true;
    velmor::store::Connection *conn = d->connection();
    bool ok = conn != nullptr;
    if (ok) {
        QSqlQuery q(conn->db);
        // Some file systems cannot share WAL memory; the database still works
        // with its rollback journal there, so this is not a reason to fail.
        const bool wal = q.exec(QStringLiteral("PRAGMA journal_mode = WAL")) && q.next()
                         && q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0;
        q.finish();
        if (!wal)
            qCWarning(lcStore) << "WAL journal mode refused for" << file;
        // A file that is not a database fails here rather than on first use.
        QSqlQuery probe(conn->db);
        ok = probe.exec(QStringLiteral("SELECT COUNT(*) FROM sqlite_master")) && probe.next();
        probe.finish();
    }
    QString error;
    // The migration always writes (the layout version at least), so a file
    // that can be read but not written fails here and not at the first write.
    if (ok && !velmor::store::migrate(conn->db, ownerKey, &error)) {
        qCWarning(lcStore) << "cannot open" << file << "for writing:" << error;
        ok = false;
    }
    if (!ok)
        d->reset();
    return ok;
}

void ChatStore::close()
{
    QWriteLocker lock(&d->lifecycle);
    d->reset();
}

bool ChatStore::isOpen() const
{
    QReadLocker lock(&d->lifecycle);
    return d->open;
}

QString ChatStore::ownerKey() const
{
    QReadLocker lock(&d->lifecycle);
    return d->owner;
}

QString ChatStore::databasePath() const
{
    QReadLocker lock(&d->lifecycle);
    return d->path;
}
