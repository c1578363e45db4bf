// Private to the store library: the connection, statement and layout
// plumbing that the ChatStore operations of each feature share.
#pragma once

#include "store/chat_store.h"

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
#include <QWaitCondition>
#include <QVariant>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

Q_DECLARE_LOGGING_CATEGORY(lcStore)

using namespace velmor::chat;

namespace velmor::store {

// The longest the GUI thread waits for a lock of the store, in ms, once per
// spell of busy: the window's frame budget, with room for the work itself.
constexpr int kGuiLockWaitMs = 40;

// The application's main thread, which draws the window.
bool isGuiThread();

struct StoreState;
struct Connection;

// What a failed statement's result code says of the store.
Condition conditionOf(int resultCode);

// Folds the write-ahead log into the file and cuts it back, waiting for no
// lock.
void foldLog(StoreState &state, Connection *conn);

// While one lives, the statements of its thread wait for another process's
// lock no longer than the window's thread does: for a write the window
// waits for before it shows anything.
// On this thread, a write that holdOpen() was taken for (upsertOutgoing):
// it may still use a store closed meanwhile.
class HeldWrite
{
public:
    HeldWrite();
    ~HeldWrite();
    HeldWrite(const HeldWrite &) = delete;
    HeldWrite &operator=(const HeldWrite &) = delete;
    static bool here();

private:
    bool m_before;
};

class BriefLockWaits
{
public:
    BriefLockWaits();
    ~BriefLockWaits();
    BriefLockWaits(const BriefLockWaits &) = delete;
    BriefLockWaits &operator=(const BriefLockWaits &) = delete;

private:
    bool m_before;
};

inline qint64 nowSeconds()
{
    return QDateTime::currentSecsSinceEpoch();
}

struct PreparedDeleter
{
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using Prepared = std::unique_ptr<sqlite3_stmt, PreparedDeleter>;

// One connection of one thread, with its prepared statements. The Qt
// connection opens the file and runs the migration; every operation runs
// on SQLite's own handle, so that no value goes through a QVariant or a
// UTF-16 copy on the way in or out. Statements are reset after every use:
// a statement left active would pin the connection's read snapshot and
// hide other threads' writes.
struct StoreState;

struct Connection
{
    QSqlDatabase db;
    sqlite3 *handle = nullptr; // owned by `db`
    StoreState *state = nullptr;
    // Made on the application's main thread, which must not wait on a lock.
    bool gui = false;
    // Holding the write lock, or about to take it: inside a transaction, or
    // running a statement that writes (or begins one). Counted in the
    // store's `holders` meanwhile.
    bool holding = false;
    // The lock this connection last waited for was another program's (or
    // nobody's in this process): only then does giving up on it make the
    // store busy. This process's own writers and checkpoints are waited for.
    bool lockForeign = false;
    std::unordered_map<QString, Prepared> statements;
    // Inside ChatStore::Batch: the connection holds one open transaction,
    // and each operation's own transaction becomes a savepoint in it.
    bool batch = false;
    // The write under way (a transaction, or one statement outside any):
    // its first writing statement, which names its kind, and the bytes of
    // text and data bound to it so far.
    QString writeKind;
    qint64 writeBytes = 0;
};

// Operations hold `lifecycle` shared and run on their own thread's
// connection, so that one thread waiting for another process's write lock
// holds up nobody else in this process; open() and close() hold it
// exclusively. `connectionsMutex` guards only the map of connections.
struct StoreState : std::enable_shared_from_this<StoreState>
{
    QReadWriteLock lifecycle;
    QMutex connectionsMutex;
    bool open = false;
    QString owner;
    QString path;
    std::unordered_map<quint64, std::unique_ptr<Connection>> connections;
    // open() or close() wants the lifecycle lock: statements waiting for
    // another process's lock give up rather than hold it up.
    std::atomic<bool> closing{false};
    // Connections of this process holding or taking the write lock, and
    // checkpoints under way: a lock held by one of them is this process's
    // own work, soon done, and the GUI thread waits for it as any thread does.
    std::atomic<int> holders{0};
    // Whether another process holds the file's write lock now, read from
    // the lock on the shared-memory file (a lock of this process never shows
    // there); false when there is no such file (no write-ahead log).
    bool anotherProcessWrites();
    // The descriptors anotherProcessWrites() reads through. Closing one drops
    // every lock this process holds on that file, SQLite's included: they
    // are closed only once no connection is left (reset()).
    QMutex shmMutex;
    int shmFd = -1;
    std::vector<int> retiredShmFds;
    void closeShmProbes();
    // The result code that made the last new connection fail.
    std::atomic<int> lastConnectError{SQLITE_OK};
    std::atomic<int> condition{int(Condition::Ok)};
    std::atomic<bool> recovering{false};
    std::atomic<bool> folding{false}; // a checkpoint of a large log runs
    // Inside open(): conditions met while the file is checked are open()'s
    // own to report.
    std::atomic<bool> quiet{false};
    QMutex listenerMutex;
    std::function<void(Condition)> listener;
    // The owner and path of the open store, readable without the lifecycle
    // lock (which an open() on a worker may hold for seconds); empty while
    // closed or opening.
    mutable QMutex publishedMutex;
    QString publishedOwner;
    QString publishedPath;
    void publish(const QString &ownerKey, const QString &file)
    {
        QMutexLocker lock(&publishedMutex);
        publishedOwner = ownerKey;
        publishedPath = file;
    }

    // Holds of holdOpen(), and a close() that waits for them to go.
    QMutex holdMutex;
    QWaitCondition holdsGone;
    int holds = 0;
    std::atomic<bool> closeWhenReleased{false};
    void releaseHold();

    Connection *connection();           // lifecycle held
    void dropConnection(quint64 slot);  // takes connectionsMutex
    void releaseThread(quint64 slot);   // the ending thread's own, lifecycle not held
    void dropAll();                     // lifecycle held exclusively
    void reset();                       // lifecycle held exclusively: closed, no owner

    Condition currentCondition() const { return Condition(condition.load()); }
    // A statement's result code: a held lock, a full disk or a damaged file
    // becomes the condition. A full disk keeps the kind and size of the
    // write it refused.
    void noteFailure(int resultCode, const QString &writeKind = {}, qint64 writeBytes = 0);
    // A write of `kind` reached the file: the lock is free, and there is
    // room again when a write of the kind that found none has landed (a
    // small write fits where a larger one does not).
    void noteWritten(const QString &kind);
    // The write a full disk refused: its kind and the bytes bound to it.
    QMutex refusedMutex;
    QString refusedKind;
    qint64 refusedBytes = 0;
    void setCondition(Condition next);
    // While Busy or DiskFull: a pool job tries a write now and then, and
    // ends the condition when one lands.
    void startRecovery();
    // After a large commit: the log is folded into the file and cut back
    // to nothing, on a pool thread.
    void foldLargeLog();
};

// A prepared statement of this thread's connection, taken from the cache
// (prepared once per SQL text), bound and run; reset when it goes out of
// scope. Without a connection (closed store) it simply fails.
class Stmt
{
public:
    // Prepared, not yet run: bind() each parameter, then exec().
    Stmt(Connection *conn, const QString &sql) : m_sql(sql)
    {
        if (!conn)
            return;
        m_conn = conn;
        m_state = conn->state;
        m_handle = conn->handle;
        auto it = conn->statements.find(sql);
        if (it == conn->statements.end()) {
            sqlite3_stmt *fresh = prepare(sql);
            if (!fresh)
                return;
            it = conn->statements.emplace(sql, Prepared(fresh)).first;
        }
        m_stmt = it->second.get();
        // The cached statement is still running further up the stack: this
        // use gets a statement of its own.
        if (sqlite3_stmt_busy(m_stmt)) {
            m_stmt = prepare(sql);
            m_owned = m_stmt != nullptr;
        }
        if (m_stmt)
            m_keep.reserve(sqlite3_bind_parameter_count(m_stmt));
    }
    // Prepared, bound and run at once.
    Stmt(Connection *conn, const QString &sql, const QVariantList &binds) : Stmt(conn, sql)
    {
        for (int i = 0; i < binds.size(); ++i)
            bind(i + 1, binds.at(i));
        exec();
    }
    ~Stmt()
    {
        if (!m_stmt)
            return;
        if (m_owned) {
            sqlite3_finalize(m_stmt);
            return;
        }
        sqlite3_reset(m_stmt);
        // The bound texts are this object's buffers, freed next.
        sqlite3_clear_bindings(m_stmt);
    }
    Stmt(const Stmt &) = delete;
    Stmt &operator=(const Stmt &) = delete;

    // Parameters count from 1. Every text column is NOT NULL, and callers
    // rightly pass default-constructed strings for "empty": a null QString
    // binds as ''.
    void bind(int index, const QString &value)
    {
        if (!m_stmt)
            return;
        m_keep.push_back(value.toUtf8());
        const QByteArray &utf8 = m_keep.back();
        sqlite3_bind_text(m_stmt, index, utf8.isNull() ? "" : utf8.constData(), int(utf8.size()), SQLITE_STATIC);
        m_conn->writeBytes += utf8.size();
    }
    void bind(int index, qint64 value)
    {
        if (m_stmt)
            sqlite3_bind_int64(m_stmt, index, value);
    }
    void bind(int index, const QVariant &value)
    {
        switch (value.metaType().id()) {
        case QMetaType::QString:
            bind(index, value.toString());
            break;
        case QMetaType::QByteArray:
            if (m_stmt) {
                m_keep.push_back(value.toByteArray());
                sqlite3_bind_blob(m_stmt, index, m_keep.back().constData(), int(m_keep.back().size()), SQLITE_STATIC);
                m_conn->writeBytes += m_keep.back().size();
            }
            break;
        case QMetaType::Bool:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            bind(index, value.toLongLong());
            break;
        case QMetaType::Double:
            if (m_stmt)
                sqlite3_bind_double(m_stmt, index, value.toDouble());
            break;
        default:
            if (m_stmt)
                sqlite3_bind_null(m_stmt, index);
        }
    }

    // Runs the statement up to its first row (or to its end).
    bool exec()
    {
        if (!m_stmt)
            return false;
        // Counted before the step, which may take the write lock and hold it
        // past its own return: another thread finding the lock held then
        // knows it is this process's work.
        const bool mayWrite = !sqlite3_stmt_readonly(m_stmt) || m_sql.startsWith(QLatin1String("BEGIN"));
        if (mayWrite && !m_conn->holding) {
            m_conn->holding = true;
            m_state->holders.fetch_add(1);
        }
        m_conn->lockForeign = false;
        const int rc = sqlite3_step(m_stmt);
        m_ok = rc == SQLITE_ROW || rc == SQLITE_DONE;
        m_pendingRow = rc == SQLITE_ROW;
        m_done = rc == SQLITE_DONE;
        const bool inside = !sqlite3_get_autocommit(m_handle);
        if (inside != m_conn->holding) {
            m_conn->holding = inside;
            m_state->holders.fetch_add(inside ? 1 : -1);
        }
        if (m_conn->writeKind.isEmpty() && !sqlite3_stmt_readonly(m_stmt))
            m_conn->writeKind = m_sql;
        if (!m_ok) {
            qCWarning(lcStore) << "statement failed" << sqlite3_errmsg(m_handle) << m_sql;
            if (m_state && !ownLockWaitedOut(rc))
                m_state->noteFailure(rc, m_conn->writeKind.isEmpty() ? m_sql : m_conn->writeKind, m_conn->writeBytes);
        } else if (m_state && !inside
                   && (!sqlite3_stmt_readonly(m_stmt) || m_sql.startsWith(QLatin1String("COMMIT")))) {
            m_state->noteWritten(m_conn->writeKind);
        }
        if (!inside) {
            m_conn->writeKind.clear();
            m_conn->writeBytes = 0;
        }
        return m_ok;
    }

    bool ok() const { return m_ok; }
    // The next row; false at the end and on a failed step (a corrupt page,
    // an I/O error), which failed() then tells apart.
    bool next()
    {
        if (!m_ok || m_failed || m_done)
            return false;
        if (m_pendingRow) {
            m_pendingRow = false;
            return true;
        }
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE) {
            m_done = true;
            return false;
        }
        m_failed = true;
        qCWarning(lcStore) << "read failed" << sqlite3_errmsg(m_handle) << m_sql;
        if (m_state && !ownLockWaitedOut(rc))
            m_state->noteFailure(rc);
        return false;
    }
    // The statement did not run, or a step failed before the last row.
    bool failed() const { return !m_ok || m_failed; }
    QString text(int i) const
    {
        const auto *utf8 = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, i));
        return QString::fromUtf8(utf8, sqlite3_column_bytes(m_stmt, i));
    }
    qint64 integer(int i) const { return sqlite3_column_int64(m_stmt, i); }
    int rowsAffected() const { return m_ok ? sqlite3_changes(m_handle) : -1; }

private:
    // A lock that this process's own work held: the statement failed, but
    // the store is not busy (no other program holds it).
    bool ownLockWaitedOut(int rc) const
    {
        const int primary = rc & 0xff;
        return (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) && !m_conn->lockForeign;
    }

    sqlite3_stmt *prepare(const QString &sql) const
    {
        sqlite3_stmt *statement = nullptr;
        const QByteArray utf8 = sql.toUtf8();
        if (sqlite3_prepare_v3(m_handle, utf8.constData(), int(utf8.size()), SQLITE_PREPARE_PERSISTENT, &statement,
                               nullptr)
            != SQLITE_OK) {
            qCWarning(lcStore) << "prepare failed" << sqlite3_errmsg(m_handle) << sql;
            sqlite3_finalize(statement);
            return nullptr;
        }
        return statement;
    }

    QString m_sql;
    Connection *m_conn = nullptr;
    StoreState *m_state = nullptr;
    sqlite3 *m_handle = nullptr;
    sqlite3_stmt *m_stmt = nullptr;
    bool m_owned = false;
    bool m_ok = false;
    bool m_failed = false;
    bool m_pendingRow = false;
    bool m_done = false;
    // The UTF-8 of the bound texts, alive until the statement is reset.
    QVarLengthArray<QByteArray, 24> m_keep;
};

// The current row read column by column, in the order of the SELECT list.
class Row
{
public:
    explicit Row(const Stmt &st) : m_st(st) {}
    QString text() { return m_st.text(m_column++); }
    qint64 integer() { return m_st.integer(m_column++); }
    int count() { return static_cast<int>(integer()); }
    bool flag() { return integer() != 0; }

private:
    const Stmt &m_st;
    int m_column = 0;
};

// This thread began a ChatStore::Batch that has not ended yet.
inline thread_local bool t_inBatch = false;

// One operation: the store's lifecycle lock (shared) and this thread's
// connection. A closed store gives no connection, and every statement then
// fails.
class Session
{
public:
    explicit Session(StoreState &state) : m_state(state)
    {
        // The GUI thread does not wait out an open() or close() running on
        // a worker (its migration may wait seconds for a lock): the
        // operation fails instead, as it would on a busy file.
        m_locked = isGuiThread() ? state.lifecycle.tryLockForRead(kGuiLockWaitMs)
                                 : (state.lifecycle.lockForRead(), true);
        // A store closed while held open is the held writes' alone.
        m_conn = m_locked && (!state.closeWhenReleased.load() || HeldWrite::here()) ? state.connection() : nullptr;
        // A batch whose connection went with a close() (and perhaps another
        // owner's open()) writes nothing more: its next statement would
        // otherwise commit on its own, into whichever store is open now.
        if (t_inBatch && m_conn && !m_conn->batch)
            m_conn = nullptr;
    }
    ~Session()
    {
        if (m_locked)
            m_state.lifecycle.unlock();
    }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    const QString &owner() const { return m_state.owner; }
    Connection *conn() const { return m_conn; }

    bool run(const QString &sql, const QVariantList &binds)
    {
        Stmt st(m_conn, sql, binds);
        return st.ok();
    }

    // Whether the query yields a row; nothing when it fails.
    std::optional<bool> probe(const QString &sql, const QVariantList &binds)
    {
        Stmt st(m_conn, sql, binds);
        if (!st.ok())
            return std::nullopt;
        return st.next();
    }

    // A failed query counts as no row.
    bool exists(const QString &sql, const QVariantList &binds) { return probe(sql, binds).value_or(false); }

    // Every row, each turned into a record by `read`; an empty list and
    // *ok false when the query or any step of it fails, never a part.
    template <typename Read>
    auto rows(const QString &sql, const QVariantList &binds, const Read &read, bool *ok)
    {
        QList<std::invoke_result_t<const Read &, Row &>> out;
        Stmt st(m_conn, sql, binds);
        while (st.next()) {
            Row row(st);
            out.append(read(row));
        }
        if (st.failed())
            out.clear();
        if (ok)
            *ok = !st.failed();
        return out;
    }

    template <typename Read>
    auto first(const QString &sql, const QVariantList &binds, const Read &read)
        -> std::optional<std::invoke_result_t<const Read &, Row &>>
    {
        Stmt st(m_conn, sql, binds);
        if (!st.next())
            return std::nullopt;
        Row row(st);
        return read(row);
    }

    // IMMEDIATE: take the write lock up front, so that a transaction never
    // has to upgrade a read lock while another process writes.
    bool begin() { return run(QStringLiteral("BEGIN IMMEDIATE"), {}); }
    bool commit() { return run(QStringLiteral("COMMIT"), {}); }
    void rollback() { run(QStringLiteral("ROLLBACK"), {}); }

private:
    StoreState &m_state;
    bool m_locked = false;
    Connection *m_conn = nullptr;
};

// Commits on finish(), rolls back otherwise. Inside a batch it is a
// savepoint of the batch's transaction: finish() keeps its writes for the
// batch's commit, and a failure undoes only its own.
class Transaction
{
public:
    explicit Transaction(Session &s)
        : m_s(s)
        , m_nested(s.conn() && s.conn()->batch)
        , m_active(m_nested ? s.run(QStringLiteral("SAVEPOINT velmor_op"), {}) : s.begin())
    {
    }
    ~Transaction()
    {
        if (m_active)
            undo();
    }
    bool active() const { return m_active; }
    bool finish()
    {
        if (!m_active)
            return false;
        m_active = false;
        if (m_nested ? m_s.run(QStringLiteral("RELEASE velmor_op"), {}) : m_s.commit())
            return true;
        undo();
        return false;
    }

private:
    void undo()
    {
        if (!m_nested) {
            m_s.rollback();
            return;
        }
        m_s.run(QStringLiteral("ROLLBACK TO velmor_op"), {});
        m_s.run(QStringLiteral("RELEASE velmor_op"), {});
    }

    Session &m_s;
    bool m_nested;
    bool m_active;
};

// "SELECT <columns> FROM <table> WHERE owner_raw_public_key=? <rest>"; the
// table, columns and rest are fixed texts of this file.
inline QString selectOwned(const QString &columns, const char *table, const char *rest = "")
{
    return QStringLiteral("SELECT %1 FROM %2 WHERE owner_raw_public_key=? %3")
        .arg(columns, QLatin1String(table), QLatin1String(rest));
}

// ---- record layouts ----------------------------------------------------------

// A record's columns in SELECT and INSERT order, each tied to the member it
// fills, so that the column list, the reading and the binding of a record
// cannot drift apart.
template <typename R>
class Layout
{
public:
    using Member = std::variant<QString R::*, qint64 R::*, int R::*, bool R::*, MessageStatus R::*>;
    struct Column
    {
        const char *name;
        Member member;
    };

    Layout(std::initializer_list<Column> columns) : Layout(QList<Column>(columns)) {}

    // The named columns only, in the given order.
    Layout subset(std::initializer_list<const char *> names) const
    {
        QList<Column> picked;
        for (const char *name : names) {
            const auto it = std::find_if(m_columns.cbegin(), m_columns.cend(),
                                         [name](const Column &c) { return qstrcmp(c.name, name) == 0; });
            Q_ASSERT(it != m_columns.cend());
            if (it != m_columns.cend())
                picked.append(*it);
        }
        return Layout(picked);
    }

    // "a,b,c" for SELECT and INSERT lists.
    const QString &names() const { return m_names; }
    // This record's columns of the owner's rows of `table`.
    QString select(const char *table, const char *rest = "") const { return selectOwned(m_names, table, rest); }
    // "INSERT ... INTO <table>(owner_raw_public_key,<names>) VALUES(?,...)"
    QString insert(const char *verb, const char *table) const
    {
        return QStringLiteral("%1 INTO %2(owner_raw_public_key,%3) VALUES(?%4)")
            .arg(QLatin1String(verb), QLatin1String(table), m_names, QStringLiteral(",?").repeated(m_columns.size()));
    }

    R operator()(Row &row) const
    {
        R r;
        for (const Column &c : m_columns) {
            std::visit(
                [&](auto member) {
                    using T = std::remove_cvref_t<decltype(r.*member)>;
                    if constexpr (std::is_same_v<T, QString>)
                        r.*member = row.text();
                    else if constexpr (std::is_same_v<T, qint64>)
                        r.*member = row.integer();
                    else if constexpr (std::is_same_v<T, int>)
                        r.*member = row.count();
                    else if constexpr (std::is_same_v<T, bool>)
                        r.*member = row.flag();
                    else {
                        // A status this build does not know reads as a failed send.
                        const qint64 status = row.integer();
                        r.*member = (status >= 0 && status <= 4) ? static_cast<MessageStatus>(status)
                                                                 : MessageStatus::Failed;
                    }
                },
                c.member);
        }
        return r;
    }

    // Binds the owner key and the record's values to insert()'s parameters.
    void bind(Stmt &st, const QString &owner, const R &r) const
    {
        st.bind(1, owner);
        int index = 2;
        for (const Column &c : m_columns) {
            std::visit(
                [&](auto member) {
                    using T = std::remove_cvref_t<decltype(r.*member)>;
                    if constexpr (std::is_same_v<T, QString>)
                        st.bind(index, r.*member);
                    else if constexpr (std::is_same_v<T, bool>)
                        st.bind(index, qint64(r.*member ? 1 : 0));
                    else
                        st.bind(index, static_cast<qint64>(r.*member));
                },
                c.member);
            ++index;
        }
    }

    // The owner key followed by the record's values, for insert().
    QVariantList values(const QString &owner, const R &r) const
    {
        QVariantList out{owner};
        for (const Column &c : m_columns) {
            std::visit(
                [&](auto member) {
                    using T = std::remove_cvref_t<decltype(r.*member)>;
                    if constexpr (std::is_same_v<T, bool>)
                        out << (r.*member ? 1 : 0);
                    else if constexpr (std::is_same_v<T, MessageStatus>)
                        out << static_cast<int>(r.*member);
                    else
                        out << r.*member;
                },
                c.member);
        }
        return out;
    }

private:
    explicit Layout(const QList<Column> &columns) : m_columns(columns)
    {
        QStringList names;
        for (const Column &c : m_columns)
            names << QLatin1String(c.name);
        m_names = names.join(QLatin1Char(','));
    }

    QList<Column> m_columns;
    QString m_names;
};

} // namespace velmor::store

using velmor::store::Row;
using velmor::store::selectOwned;
using velmor::store::Session;
using velmor::store::Stmt;
using velmor::store::StoreState;
using velmor::store::Transaction;
