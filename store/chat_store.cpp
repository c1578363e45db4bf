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

using namespace velmor::chat;

namespace velmor::store {

namespace {

std::atomic<quint64> g_nextThreadSlot{1};
std::atomic<quint64> g_nextConnection{1};

qint64 nowSeconds()
{
    return QDateTime::currentSecsSinceEpoch();
}

} // namespace

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
struct Connection
{
    QSqlDatabase db;
    sqlite3 *handle = nullptr; // owned by `db`
    std::unordered_map<QString, Prepared> statements;
    // Inside ChatStore::Batch: the connection holds one open transaction,
    // and each operation's own transaction becomes a savepoint in it.
    bool batch = false;
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

    Connection *connection();           // lifecycle held
    void dropConnection(quint64 slot);  // takes connectionsMutex
    void dropAll();                     // lifecycle held exclusively
    void reset();                       // lifecycle held exclusively: closed, no owner
};

namespace {

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

namespace {

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
        const int rc = sqlite3_step(m_stmt);
        m_ok = rc == SQLITE_ROW || rc == SQLITE_DONE;
        m_pendingRow = rc == SQLITE_ROW;
        m_done = rc == SQLITE_DONE;
        if (!m_ok)
            qCWarning(lcStore) << "statement failed" << sqlite3_errmsg(m_handle) << m_sql;
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

// One operation: the store's lifecycle lock (shared) and this thread's
// connection. A closed store gives no connection, and every statement then
// fails.
class Session
{
public:
    explicit Session(StoreState &state)
        : m_lock(&state.lifecycle), m_state(state), m_conn(state.connection())
    {
    }

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
    QReadLocker m_lock;
    StoreState &m_state;
    Connection *m_conn;
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
QString selectOwned(const QString &columns, const char *table, const char *rest = "")
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

const Layout<MessageRecord> &messageLayout()
{
    using R = MessageRecord;
    static const Layout<R> layout{
        {"id", &R::id},
        {"conversation_id", &R::conversation_id},
        {"peer_raw_public_key", &R::peer_raw_public_key},
        {"sender_raw_public_key", &R::sender_raw_public_key},
        {"text", &R::text},
        {"created_at", &R::created_at},
        {"is_outgoing", &R::is_outgoing},
        {"status", &R::status},
        {"attachment", &R::attachment},
        {"sender_address", &R::sender_address},
        {"sender_display_name", &R::sender_display_name},
        {"sender_avatar_kind", &R::sender_avatar_kind},
        {"sender_avatar_id", &R::sender_avatar_id},
        {"server_seq", &R::server_seq},
        {"content_type", &R::content_type},
        {"system_event_type", &R::system_event_type},
        {"delivery_state", &R::delivery_state},
        {"content_digest", &R::content_digest},
    };
    return layout;
}

// The columns that a list of messages shows.
const Layout<MessageRecord> &shownMessageLayout()
{
    static const Layout<MessageRecord> layout = messageLayout().subset(
        {"id", "text", "created_at", "is_outgoing", "status", "attachment", "sender_address", "sender_display_name",
         "sender_avatar_kind", "sender_avatar_id", "content_type", "system_event_type"});
    return layout;
}

const Layout<ConversationRecord> &conversationLayout()
{
    using R = ConversationRecord;
    static const Layout<R> layout{
        {"id", &R::id},
        {"conversation_type", &R::conversation_type},
        {"group_kind", &R::group_kind},
        {"peer_raw_public_key", &R::peer_raw_public_key},
        {"peer_enc_public_key", &R::peer_enc_public_key},
        {"peer_display_key", &R::peer_display_key},
        {"peer_wallet_address", &R::peer_wallet_address},
        {"peer_wallet_card_json", &R::peer_wallet_card_json},
        {"peer_has_my_wallet_card", &R::peer_has_my_wallet_card},
        {"last_message", &R::last_message},
        {"last_timestamp", &R::last_timestamp},
        {"unread_count", &R::unread_count},
        {"muted", &R::muted},
        {"hidden_from_chats", &R::hidden_from_chats},
    };
    return layout;
}

const Layout<ContactRecord> &contactLayout()
{
    using R = ContactRecord;
    static const Layout<R> layout{
        {"wallet_public_key", &R::wallet_public_key},
        {"erc20_address", &R::erc20_address},
        {"remark", &R::remark},
        {"avatar_kind", &R::avatar_kind},
        {"avatar_id", &R::avatar_id},
        {"blocked", &R::blocked},
        {"updated_at", &R::updated_at},
    };
    return layout;
}

const Layout<NormalGroupCardRecord> &cardLayout()
{
    using R = NormalGroupCardRecord;
    static const Layout<R> layout{
        {"group_id", &R::group_id},
        {"card_json", &R::card_json},
        {"signature", &R::signature},
        {"epoch", &R::epoch},
        {"group_key_boxes_json", &R::group_key_boxes_json},
        {"members_json", &R::members_json},
        {"name", &R::name},
        {"avatar_id", &R::avatar_id},
        {"visible", &R::visible},
        {"my_nickname", &R::my_nickname},
        {"muted", &R::muted},
        {"updated_at", &R::updated_at},
    };
    return layout;
}

const Layout<PendingGroupJoinRequestRecord> &joinRequestLayout()
{
    using R = PendingGroupJoinRequestRecord;
    static const Layout<R> layout{
        {"group_id", &R::group_id},
        {"join_key", &R::join_key},
        {"requester_public_key", &R::requester_public_key},
        {"requester_address", &R::requester_address},
        {"display_name", &R::display_name},
        {"avatar_id", &R::avatar_id},
        {"created_at", &R::created_at},
    };
    return layout;
}

const Layout<SuperGroupRecord> &superGroupLayout()
{
    using R = SuperGroupRecord;
    static const Layout<R> layout{
        {"server_id", &R::server_id},
        {"server_url", &R::server_url},
        {"group_id", &R::group_id},
        {"name", &R::name},
        {"group_kind", &R::group_kind},
        {"role", &R::role},
        {"connection_state", &R::connection_state},
        {"server_enc_public_key", &R::server_enc_public_key},
        {"info_json", &R::info_json},
        {"last_read_seq", &R::last_read_seq},
        {"last_message_seq", &R::last_message_seq},
        {"unread_count", &R::unread_count},
        {"muted", &R::muted},
        {"updated_at", &R::updated_at},
    };
    return layout;
}

const Layout<SuperGroupMemberRecord> &memberLayout()
{
    using R = SuperGroupMemberRecord;
    static const Layout<R> layout{
        {"server_url", &R::server_url},
        {"public_key", &R::public_key},
        {"address", &R::address},
        {"display_name", &R::display_name},
        {"avatar_kind", &R::avatar_kind},
        {"avatar_id", &R::avatar_id},
        {"role", &R::role},
        {"muted", &R::muted},
        {"updated_at", &R::updated_at},
    };
    return layout;
}

const Layout<NotificationEventRecord> &notificationLayout()
{
    using R = NotificationEventRecord;
    static const Layout<R> layout{
        {"stable_id", &R::stable_id},
        {"event_type", &R::event_type},
        {"group_id", &R::group_id},
        {"server_url", &R::server_url},
        {"requester_public_key", &R::requester_public_key},
        {"requester_address", &R::requester_address},
        {"requester_profile_json", &R::requester_profile_json},
        {"group_name", &R::group_name},
        {"group_kind", &R::group_kind},
        {"state", &R::state},
        {"created_at", &R::created_at},
        {"handled_at", &R::handled_at},
        {"error", &R::error},
    };
    return layout;
}

QJsonDocument readProfile(Row &r)
{
    return QJsonDocument::fromJson(r.text().toUtf8());
}

// ---- shared pieces of the operations ----------------------------------------

std::optional<ConversationRecord> conversationById(Session &s, const QString &id)
{
    static const QString sql = conversationLayout().select("conversations", "AND id=?");
    return s.first(sql, {s.owner(), id}, conversationLayout());
}

// States of a notification event that a decision has closed: they get a
// handled_at and leave the default list.
const QStringList &settledStates()
{
    static const QStringList states{QStringLiteral("approved"), QStringLiteral("rejected"),
                                    QStringLiteral("handled")};
    return states;
}

// "updatedAt" of a member profile comes from other clients: a number beyond
// the 64-bit range counts as 0 rather than overflowing the conversion.
qint64 jsonInteger(const QJsonValue &v)
{
    if (v.isDouble()) {
        const double d = v.toDouble();
        return (d > -9.2e18 && d < 9.2e18) ? static_cast<qint64>(d) : 0;
    }
    if (v.isString()) {
        bool ok = false;
        const qint64 n = v.toString().toLongLong(&ok);
        return ok ? n : 0;
    }
    return 0;
}

enum class Write { Inserted, Updated, Refused, Failed };

// A new id is inserted in one statement. An existing id of the same
// conversation gets its text, status, attachment and delivery state; one of
// another conversation changes nothing. The conversation's preview is left
// to the caller (see Preview).
Write writeMessage(Session &s, const MessageRecord &m)
{
    static const QString insert =
        messageLayout().insert("INSERT", "messages") + QLatin1String(" ON CONFLICT(owner_raw_public_key,id) DO NOTHING");
    {
        Stmt st(s.conn(), insert);
        messageLayout().bind(st, s.owner(), m);
        if (!st.exec())
            return Write::Failed;
        if (st.rowsAffected() == 1)
            return Write::Inserted;
    }
    Stmt st(s.conn(), QStringLiteral("UPDATE messages SET text=?, status=?, attachment=?, delivery_state=? "
                                     "WHERE owner_raw_public_key=? AND id=? AND conversation_id=?"),
            {m.text, static_cast<int>(m.status), m.attachment, m.delivery_state, s.owner(), m.id, m.conversation_id});
    if (!st.ok())
        return Write::Failed;
    if (st.rowsAffected() != 1) {
        // Ids come from peers: one that names a message of another
        // conversation must not overwrite it.
        qCWarning(lcStore) << "message id" << m.id << "belongs to another conversation; refused";
        return Write::Refused;
    }
    return Write::Updated;
}

// What inserted messages leave on their conversation: the last one's text
// and time, and one unread for each incoming one that is not a system
// notice. The row stays hidden when it is: a cleared conversation comes
// back only when it is ensured again.
struct Preview
{
    QString text;
    qint64 time = 0;
    int unread = 0;

    void add(const MessageRecord &m)
    {
        text = m.text;
        time = m.created_at;
        const bool system = m.content_type == QLatin1String("system") || !m.system_event_type.isEmpty();
        unread += (!m.is_outgoing && !system) ? 1 : 0;
    }
    bool write(Session &s, const QString &conversationId) const
    {
        return s.run(QStringLiteral("UPDATE conversations SET last_message=?, last_timestamp=?, "
                                    "unread_count=unread_count+? WHERE owner_raw_public_key=? AND id=?"),
                     {text, time, unread, s.owner(), conversationId});
    }
};

bool insertMember(Session &s, const SuperGroupMemberRecord &m)
{
    return s.run(memberLayout().insert("INSERT OR REPLACE", "super_group_members"),
                 memberLayout().values(s.owner(), m));
}

} // namespace
} // namespace velmor::store

using velmor::store::cardLayout;
using velmor::store::contactLayout;
using velmor::store::conversationLayout;
using velmor::store::joinRequestLayout;
using velmor::store::memberLayout;
using velmor::store::messageLayout;
using velmor::store::notificationLayout;
using velmor::store::Row;
using velmor::store::selectOwned;
using velmor::store::shownMessageLayout;
using velmor::store::Session;
using velmor::store::Stmt;
using velmor::store::StoreState;
using velmor::store::superGroupLayout;
using velmor::store::Transaction;

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

// ---- conversations -------------------------------------------------------

namespace {
QString directConversationId(const QString &owner, const QString &peerKey)
{
    if (owner.isEmpty() || peerKey.isEmpty())
        return {};
    return owner.compare(peerKey, Qt::CaseSensitive) <= 0 ? owner + QLatin1Char(':') + peerKey
                                                           : peerKey + QLatin1Char(':') + owner;
}
} // namespace

QString ChatStore::conversationIdFor(const QString &peerKey) const
{
    QReadLocker lock(&d->lifecycle);
    return d->open ? directConversationId(d->owner, peerKey) : QString();
}

ConversationRecord ChatStore::ensureDirectConversation(const QString &peerKey, const QString &peerEncKey,
                                                       const QString &displayKey)
{
    Session s(*d);
    const QString id = directConversationId(s.owner(), peerKey);
    if (id.isEmpty())
        return {};
    // An existing row keeps its display key.
    const bool written =
        s.run(QStringLiteral("INSERT INTO conversations(owner_raw_public_key,id,conversation_type,"
                             "peer_raw_public_key,peer_enc_public_key,peer_display_key,last_message,"
                             "last_timestamp,unread_count) VALUES(?,?,'direct',?,?,?,'',0,0) "
                             "ON CONFLICT(owner_raw_public_key,id) DO UPDATE SET "
                             "peer_enc_public_key=excluded.peer_enc_public_key, hidden_from_chats=0"),
              {s.owner(), id, peerKey, peerEncKey, displayKey});
    if (!written)
        return {};
    return velmor::store::conversationById(s, id).value_or(ConversationRecord{});
}

ConversationRecord ChatStore::ensureGroupConversation(const QString &groupId, const QString &displayName)
{
    if (groupId.isEmpty())
        return {};
    Session s(*d);
    const QString id = QStringLiteral("group:") + groupId;
    const bool written =
        s.run(QStringLiteral("INSERT INTO conversations(owner_raw_public_key,id,conversation_type,group_kind,"
                             "peer_raw_public_key,peer_display_key,last_message,last_timestamp,unread_count) "
                             "VALUES(?,?,'group','normal',?,?,'',0,0) "
                             "ON CONFLICT(owner_raw_public_key,id) DO UPDATE SET "
                             "peer_display_key=excluded.peer_display_key, group_kind='normal', hidden_from_chats=0"),
              {s.owner(), id, id, displayName});
    if (!written)
        return {};
    return velmor::store::conversationById(s, id).value_or(ConversationRecord{});
}

std::optional<ConversationRecord> ChatStore::conversationByPeer(const QString &peerKey)
{
    if (peerKey.isEmpty())
        return std::nullopt;
    Session s(*d);
    static const QString sql = conversationLayout().select("conversations", "AND peer_raw_public_key=? LIMIT 1");
    return s.first(sql, {s.owner(), peerKey}, conversationLayout());
}

QList<ConversationRecord> ChatStore::visibleConversations(bool *ok)
{
    Session s(*d);
    static const QString sql =
        conversationLayout().select("conversations", "AND hidden_from_chats=0 ORDER BY last_timestamp DESC");
    return s.rows(sql, {s.owner()}, conversationLayout(), ok);
}

bool ChatStore::bumpConversationTimestamp(const QString &conversationId, qint64 seconds)
{
    if (conversationId.isEmpty())
        return false;
    Session s(*d);
    const qint64 when = seconds < 1 ? velmor::store::nowSeconds() : seconds;
    return s.run(QStringLiteral("UPDATE conversations SET last_timestamp=MAX(last_timestamp,?) "
                                "WHERE owner_raw_public_key=? AND id=?"),
                 {when, s.owner(), conversationId});
}

bool ChatStore::resetUnread(const QString &conversationId)
{
    Session s(*d);
    return s.run(QStringLiteral("UPDATE conversations SET unread_count=0 WHERE owner_raw_public_key=? AND id=?"),
                 {s.owner(), conversationId});
}

bool ChatStore::clearConversation(const QString &conversationId)
{
    if (conversationId.isEmpty())
        return false;
    Session s(*d);
    Transaction tx(s);
    return tx.active()
           && s.run(QStringLiteral("DELETE FROM messages WHERE owner_raw_public_key=? AND conversation_id=?"),
                    {s.owner(), conversationId})
           && s.run(QStringLiteral("UPDATE conversations SET last_message='', last_timestamp=?, unread_count=0, "
                                   "hidden_from_chats=1 WHERE owner_raw_public_key=? AND id=?"),
                    {velmor::store::nowSeconds(), s.owner(), conversationId})
           && tx.finish();
}

bool ChatStore::deleteConversation(const QString &groupId, bool withMessages)
{
    if (groupId.isEmpty())
        return false;
    Session s(*d);
    const QString peer = QStringLiteral("group:") + groupId;
    Transaction tx(s);
    if (!tx.active())
        return false;
    for (const char *table : {"normal_group_member_profiles", "normal_group_cards", "pending_group_join_requests",
                              "normal_group_join_blocks"}) {
        if (!s.run(QStringLiteral("DELETE FROM %1 WHERE owner_raw_public_key=? AND group_id=?")
                       .arg(QLatin1String(table)),
                   {s.owner(), groupId}))
            return false;
    }
    if (withMessages
        && !s.run(QStringLiteral("DELETE FROM messages WHERE owner_raw_public_key=? AND conversation_id=?"),
                  {s.owner(), peer}))
        return false;
    return s.run(QStringLiteral("DELETE FROM conversations WHERE owner_raw_public_key=? AND peer_raw_public_key=?"),
                 {s.owner(), peer})
           && tx.finish();
}

bool ChatStore::setConversationMuted(const QString &peerKey, bool muted)
{
    Session s(*d);
    return s.run(QStringLiteral("UPDATE conversations SET muted=? WHERE owner_raw_public_key=? AND peer_raw_public_key=?"),
                 {muted ? 1 : 0, s.owner(), peerKey});
}

bool ChatStore::setPeerHasMyWalletCard(const QString &peerKey, bool has)
{
    Session s(*d);
    return s.run(QStringLiteral("UPDATE conversations SET peer_has_my_wallet_card=? "
                                "WHERE owner_raw_public_key=? AND peer_raw_public_key=?"),
                 {has ? 1 : 0, s.owner(), peerKey});
}

bool ChatStore::setPeerWalletCard(const QString &peerKey, const QString &cardJson, const QString &walletAddress)
{
    Session s(*d);
    return s.run(QStringLiteral("UPDATE conversations SET peer_wallet_card_json=?, peer_wallet_address=? "
                                "WHERE owner_raw_public_key=? AND peer_raw_public_key=?"),
                 {cardJson, walletAddress, s.owner(), peerKey});
}

// ---- messages ------------------------------------------------------------

bool ChatStore::upsertMessage(const MessageRecord &m)
{
    if (m.id.isEmpty())
        return false;
    Session s(*d);
    Transaction tx(s);
    if (!tx.active())
        return false;
    switch (velmor::store::writeMessage(s, m)) {
    case velmor::store::Write::Inserted: {
        velmor::store::Preview preview;
        preview.add(m);
        return preview.write(s, m.conversation_id) && tx.finish();
    }
    case velmor::store::Write::Updated:
        return tx.finish();
    default:
        return false;
    }
}

bool ChatStore::upsertMessages(const QList<MessageRecord> &messages, QList<bool> *stored)
{
    if (stored)
        stored->clear();
    Session s(*d);
    Transaction tx(s);
    if (!tx.active())
        return false;
    QList<bool> results;
    results.reserve(messages.size());
    // Each conversation's preview is written once, after its messages.
    QHash<QString, velmor::store::Preview> previews;
    for (const MessageRecord &m : messages) {
        velmor::store::Write write = velmor::store::Write::Refused;
        if (!m.id.isEmpty()) {
            // A refused id changes nothing and fails nothing else; a failed
            // statement fails the whole batch.
            write = velmor::store::writeMessage(s, m);
            if (write == velmor::store::Write::Failed)
                return false;
            if (write == velmor::store::Write::Inserted)
                previews[m.conversation_id].add(m);
        }
        results.append(write == velmor::store::Write::Inserted || write == velmor::store::Write::Updated);
    }
    for (auto it = previews.cbegin(); it != previews.cend(); ++it) {
        if (!it.value().write(s, it.key()))
            return false;
    }
    if (!tx.finish())
        return false;
    if (stored)
        *stored = std::move(results);
    return true;
}

bool ChatStore::messageExists(const QString &id)
{
    Session s(*d);
    return s.exists(QStringLiteral("SELECT 1 FROM messages WHERE owner_raw_public_key=? AND id=?"), {s.owner(), id});
}

QString ChatStore::messageContentDigest(const QString &id)
{
    Session s(*d);
    return s.first(selectOwned(QStringLiteral("content_digest"), "messages", "AND id=?"), {s.owner(), id},
                   [](Row &r) { return r.text(); })
        .value_or(QString());
}

std::optional<MessageRecord> ChatStore::messageById(const QString &id)
{
    Session s(*d);
    static const QString sql = messageLayout().select("messages", "AND id=?");
    return s.first(sql, {s.owner(), id}, messageLayout());
}

QList<MessageRecord> ChatStore::messages(const QString &conversationId, bool *ok)
{
    Session s(*d);
    // rowid keeps messages of the same second in the order they were stored.
    static const QString sql =
        messageLayout().select("messages", "AND conversation_id=? ORDER BY created_at ASC, rowid ASC");
    return s.rows(sql, {s.owner(), conversationId}, messageLayout(), ok);
}

QList<MessageRecord> ChatStore::shownMessages(const QString &conversationId, bool *ok)
{
    Session s(*d);
    static const QString sql =
        shownMessageLayout().select("messages", "AND conversation_id=? ORDER BY created_at ASC, rowid ASC");
    return s.rows(
        sql, {s.owner(), conversationId},
        [&](Row &row) {
            MessageRecord record = shownMessageLayout()(row);
            record.conversation_id = conversationId;
            return record;
        },
        ok);
}

bool ChatStore::lastMessage(const QString &conversationId, QString &text, qint64 &createdAt)
{
    Session s(*d);
    const auto last = s.first(selectOwned(QStringLiteral("text, created_at"), "messages",
                                          "AND conversation_id=? ORDER BY created_at DESC, rowid DESC LIMIT 1"),
                              {s.owner(), conversationId}, [](Row &r) {
                                  const QString t = r.text();
                                  return std::make_pair(t, r.integer());
                              });
    if (!last)
        return false;
    text = last->first;
    createdAt = last->second;
    return true;
}

bool ChatStore::lastMessage(const QString &conversationId, QString *text, qint64 *createdAt)
{
    QString t;
    qint64 c = 0;
    if (!lastMessage(conversationId, t, c))
        return false;
    if (text)
        *text = t;
    if (createdAt)
        *createdAt = c;
    return true;
}

bool ChatStore::deleteMessage(const QString &id)
{
    Session s(*d);
    return s.run(QStringLiteral("DELETE FROM messages WHERE owner_raw_public_key=? AND id=?"), {s.owner(), id});
}

bool ChatStore::updateMessageText(const QString &id, const QString &text)
{
    Session s(*d);
    return s.run(QStringLiteral("UPDATE messages SET text=? WHERE owner_raw_public_key=? AND id=?"),
                 {text, s.owner(), id});
}

bool ChatStore::hasMessageWithText(const QString &conversationId, const QString &text)
{
    Session s(*d);
    return s.exists(QStringLiteral("SELECT 1 FROM messages WHERE owner_raw_public_key=? AND conversation_id=? "
                                   "AND text=? LIMIT 1"),
                    {s.owner(), conversationId, text});
}

// ---- contacts ------------------------------------------------------------

std::optional<ContactRecord> ChatStore::contact(const QString &publicKey)
{
    Session s(*d);
    static const QString sql = contactLayout().select("contacts", "AND wallet_public_key=?");
    return s.first(sql, {s.owner(), publicKey}, contactLayout());
}

QList<ContactRecord> ChatStore::contacts(bool *ok)
{
    Session s(*d);
    static const QString sql = contactLayout().select("contacts", "ORDER BY updated_at DESC");
    return s.rows(sql, {s.owner()}, contactLayout(), ok);
}

bool ChatStore::upsertContact(const ContactRecord &c)
{
    if (c.wallet_public_key.isEmpty())
        return false;
    Session s(*d);
    return s.run(contactLayout().insert("INSERT", "contacts")
                     + QStringLiteral(" ON CONFLICT(owner_raw_public_key,wallet_public_key) DO UPDATE SET "
                                "erc20_address=excluded.erc20_address, remark=excluded.remark, "
                                "avatar_kind=excluded.avatar_kind, avatar_id=excluded.avatar_id, "
                                      "blocked=excluded.blocked, updated_at=excluded.updated_at"),
                 contactLayout().values(s.owner(), c));
}

bool ChatStore::deleteContact(const QString &publicKey)
{
    Session s(*d);
    return s.run(QStringLiteral("DELETE FROM contacts WHERE owner_raw_public_key=? AND wallet_public_key=?"),
                 {s.owner(), publicKey});
}

bool ChatStore::setContactBlocked(const QString &publicKey, bool blocked)
{
    Session s(*d);
    return s.run(QStringLiteral("UPDATE contacts SET blocked=?, updated_at=? "
                                "WHERE owner_raw_public_key=? AND wallet_public_key=?"),
                 {blocked ? 1 : 0, velmor::store::nowSeconds(), s.owner(), publicKey});
}

// ---- normal groups -------------------------------------------------------

QList<NormalGroupCardRecord> ChatStore::normalGroupCards(bool *ok)
{
    Session s(*d);
    return s.rows(cardLayout().select("normal_group_cards"), {s.owner()},
                  cardLayout(), ok);
}

bool ChatStore::upsertNormalGroupCard(const NormalGroupCardRecord &c)
{
    if (c.group_id.isEmpty())
        return false;
    Session s(*d);
    return s.run(cardLayout().insert("INSERT", "normal_group_cards")
                     + QStringLiteral(" ON CONFLICT(owner_raw_public_key,group_id) DO UPDATE SET "
                                "card_json=excluded.card_json, signature=excluded.signature, epoch=excluded.epoch, "
                                "group_key_boxes_json=excluded.group_key_boxes_json, "
                                "members_json=excluded.members_json, name=excluded.name, "
                                      "avatar_id=excluded.avatar_id, updated_at=excluded.updated_at"),
                 cardLayout().values(s.owner(), c));
}

bool ChatStore::updateNormalGroupCardSettings(const QString &groupId, bool visible, const QString &myNickname,
                                              bool muted)
{
    Session s(*d);
    return s.run(QStringLiteral("UPDATE normal_group_cards SET visible=?,my_nickname=?,muted=? "
                                "WHERE owner_raw_public_key=? AND group_id=?"),
                 {visible ? 1 : 0, myNickname, muted ? 1 : 0, s.owner(), groupId});
}

QList<QJsonObject> ChatStore::normalGroupMemberProfiles(const QString &groupId, bool *ok)
{
    Session s(*d);
    QList<QJsonObject> out;
    const auto docs = s.rows(selectOwned(QStringLiteral("profile_json"), "normal_group_member_profiles",
                                         "AND group_id=? ORDER BY member_public_key"),
                             {s.owner(), groupId}, velmor::store::readProfile, ok);
    for (const QJsonDocument &doc : docs) {
        if (doc.isObject())
            out.append(doc.object());
    }
    return out;
}

bool ChatStore::upsertNormalGroupMemberProfile(const QString &groupId, const QJsonObject &profile)
{
    const QString member = profile.value(QLatin1String("memberRawPublicKey")).toString();
    if (groupId.isEmpty() || member.isEmpty())
        return false;
    const qint64 updatedAt = velmor::store::jsonInteger(profile.value(QLatin1String("updatedAt")));
    const QString json = QString::fromUtf8(QJsonDocument(profile).toJson(QJsonDocument::Compact));
    Session s(*d);
    return s.run(QStringLiteral("INSERT INTO normal_group_member_profiles(owner_raw_public_key,group_id,"
                                "member_public_key,profile_json,updated_at) VALUES(?,?,?,?,?) "
                                "ON CONFLICT(owner_raw_public_key,group_id,member_public_key) DO UPDATE SET "
                                "profile_json=excluded.profile_json, updated_at=excluded.updated_at "
                                "WHERE excluded.updated_at > normal_group_member_profiles.updated_at"),
                 {s.owner(), groupId, member, json, updatedAt});
}

bool ChatStore::deleteNormalGroupMemberProfile(const QString &groupId, const QString &memberKey)
{
    Session s(*d);
    return s.run(QStringLiteral("DELETE FROM normal_group_member_profiles "
                                "WHERE owner_raw_public_key=? AND group_id=? AND member_public_key=?"),
                 {s.owner(), groupId, memberKey});
}

// ---- join requests and blocks --------------------------------------------

QList<PendingGroupJoinRequestRecord> ChatStore::pendingGroupJoinRequests(bool *ok)
{
    Session s(*d);
    return s.rows(joinRequestLayout().select("pending_group_join_requests",
                              "ORDER BY created_at DESC"),
                  {s.owner()}, joinRequestLayout(), ok);
}

bool ChatStore::upsertPendingGroupJoinRequest(const PendingGroupJoinRequestRecord &r)
{
    if (r.group_id.isEmpty() || r.requester_public_key.isEmpty())
        return false;
    Session s(*d);
    return s.run(joinRequestLayout().insert("INSERT", "pending_group_join_requests")
                     + QStringLiteral(" ON CONFLICT(owner_raw_public_key,group_id,requester_public_key) DO UPDATE SET "
                                "join_key=excluded.join_key, requester_address=excluded.requester_address, "
                                "display_name=excluded.display_name, avatar_id=excluded.avatar_id, "
                                      "created_at=excluded.created_at"),
                 joinRequestLayout().values(s.owner(), r));
}

bool ChatStore::deletePendingGroupJoinRequest(const QString &groupId, const QString &requesterKey)
{
    Session s(*d);
    return s.run(QStringLiteral("DELETE FROM pending_group_join_requests "
                                "WHERE owner_raw_public_key=? AND group_id=? AND requester_public_key=?"),
                 {s.owner(), groupId, requesterKey});
}

bool ChatStore::blockJoinRequester(const QString &groupId, const QString &requesterKey)
{
    if (groupId.isEmpty() || requesterKey.isEmpty())
        return false;
    Session s(*d);
    return s.run(QStringLiteral("INSERT OR REPLACE INTO normal_group_join_blocks(owner_raw_public_key,group_id,"
                                "requester_public_key,created_at) VALUES(?,?,?,?)"),
                 {s.owner(), groupId, requesterKey, velmor::store::nowSeconds()});
}

bool ChatStore::isJoinBlocked(const QString &groupId, const QString &requesterKey)
{
    Session s(*d);
    return s.exists(QStringLiteral("SELECT 1 FROM normal_group_join_blocks "
                                   "WHERE owner_raw_public_key=? AND group_id=? AND requester_public_key=?"),
                    {s.owner(), groupId, requesterKey});
}

// ---- super groups --------------------------------------------------------

std::optional<SuperGroupRecord> ChatStore::superGroup(const QString &serverUrl)
{
    Session s(*d);
    return s.first(superGroupLayout().select("super_groups", "AND server_url=?"),
                   {s.owner(), serverUrl}, superGroupLayout());
}

QList<SuperGroupRecord> ChatStore::superGroups(bool *ok)
{
    Session s(*d);
    return s.rows(superGroupLayout().select("super_groups", "ORDER BY updated_at DESC"),
                  {s.owner()}, superGroupLayout(), ok);
}

bool ChatStore::upsertSuperGroup(const SuperGroupRecord &g)
{
    Session s(*d);
    return s.run(superGroupLayout().insert("INSERT", "super_groups")
                     + QStringLiteral(" ON CONFLICT(owner_raw_public_key,server_url) DO UPDATE SET "
                                "server_id=excluded.server_id, group_id=excluded.group_id, name=excluded.name, "
                                "group_kind=excluded.group_kind, role=excluded.role, "
                                "connection_state=excluded.connection_state, "
                                "server_enc_public_key=excluded.server_enc_public_key, info_json=excluded.info_json, "
                                "last_read_seq=MAX(last_read_seq,excluded.last_read_seq), "
                                "last_message_seq=MAX(last_message_seq,excluded.last_message_seq), "
                                "unread_count=excluded.unread_count, muted=excluded.muted, "
                                      "updated_at=excluded.updated_at"),
                 superGroupLayout().values(s.owner(), g));
}

bool ChatStore::setSuperGroupMuted(const QString &serverUrl, bool muted)
{
    Session s(*d);
    return s.run(QStringLiteral("UPDATE super_groups SET muted=?,updated_at=? WHERE owner_raw_public_key=? AND server_url=?"),
                 {muted ? 1 : 0, velmor::store::nowSeconds(), s.owner(), serverUrl});
}

bool ChatStore::setSuperGroupConnectionState(const QString &serverUrl, const QString &state)
{
    Session s(*d);
    return s.run(QStringLiteral("UPDATE super_groups SET connection_state=?,updated_at=? "
                                "WHERE owner_raw_public_key=? AND server_url=?"),
                 {state, velmor::store::nowSeconds(), s.owner(), serverUrl});
}

bool ChatStore::updateSuperGroupReadState(const QString &serverUrl, qint64 lastReadSeq, qint64 lastMessageSeq,
                                          int unread)
{
    Session s(*d);
    return s.run(QStringLiteral("UPDATE super_groups SET last_read_seq=MAX(last_read_seq,?),"
                                "last_message_seq=MAX(last_message_seq,?),unread_count=?,updated_at=? "
                                "WHERE owner_raw_public_key=? AND server_url=?"),
                 {lastReadSeq, lastMessageSeq, unread < 1 ? 0 : unread, velmor::store::nowSeconds(), s.owner(),
                  serverUrl});
}

QList<SuperGroupMemberRecord> ChatStore::superGroupMembers(const QString &serverUrl, bool *ok)
{
    Session s(*d);
    return s.rows(memberLayout().select("super_group_members", "AND server_url=?"),
                  {s.owner(), serverUrl}, memberLayout(), ok);
}

bool ChatStore::upsertSuperGroupMember(const SuperGroupMemberRecord &member)
{
    if (member.server_url.isEmpty() || member.public_key.isEmpty())
        return false;
    Session s(*d);
    // Read and write in one transaction: another thread or process may
    // write the same member in between.
    Transaction tx(s);
    if (!tx.active())
        return false;
    SuperGroupMemberRecord m = member;
    bool readOk = false;
    {
        Stmt st(s.conn(),
                memberLayout().select("super_group_members", "AND server_url=? AND public_key=?"),
                {s.owner(), m.server_url, m.public_key});
        if (st.next()) {
            Row row(st);
            const SuperGroupMemberRecord stored = memberLayout()(row);
            auto fill = [](QString &field, const QString &old) {
                if (field.isEmpty())
                    field = old;
            };
            fill(m.address, stored.address);
            fill(m.display_name, stored.display_name);
            fill(m.avatar_kind, stored.avatar_kind);
            fill(m.avatar_id, stored.avatar_id);
            fill(m.role, stored.role);
            m.updated_at = std::max(m.updated_at, stored.updated_at);
        }
        readOk = !st.failed();
    }
    return readOk && velmor::store::insertMember(s, m) && tx.finish();
}

bool ChatStore::replaceSuperGroupMembers(const QString &serverUrl, const QList<SuperGroupMemberRecord> &members)
{
    Session s(*d);
    Transaction tx(s);
    if (!tx.active())
        return false;
    QHash<QString, QPair<QString, QString>> avatars;
    {
        Stmt st(s.conn(),
                selectOwned(QStringLiteral("public_key, avatar_kind, avatar_id"), "super_group_members",
                            "AND server_url=?"),
                {s.owner(), serverUrl});
        while (st.next())
            avatars.insert(st.text(0), {st.text(1), st.text(2)});
        if (st.failed())
            return false;
    }
    if (!s.run(QStringLiteral("DELETE FROM super_group_members WHERE owner_raw_public_key=? AND server_url=?"),
               {s.owner(), serverUrl}))
        return false;
    for (SuperGroupMemberRecord m : members) {
        if (m.public_key.isEmpty())
            continue;
        m.server_url = serverUrl;
        const auto stored = avatars.constFind(m.public_key);
        if (stored != avatars.constEnd()) {
            if (m.avatar_kind.isEmpty())
                m.avatar_kind = stored->first;
            if (m.avatar_id.isEmpty())
                m.avatar_id = stored->second;
        }
        if (!velmor::store::insertMember(s, m))
            return false;
    }
    return tx.finish();
}

bool ChatStore::deleteSuperGroupMember(const QString &serverUrl, const QString &publicKey)
{
    Session s(*d);
    return s.run(QStringLiteral("DELETE FROM super_group_members "
                                "WHERE owner_raw_public_key=? AND server_url=? AND public_key=?"),
                 {s.owner(), serverUrl, publicKey});
}

// ---- notification events -------------------------------------------------

std::optional<NotificationEventRecord> ChatStore::notificationEvent(const QString &stableId)
{
    Session s(*d);
    return s.first(notificationLayout().select("notification_events", "AND stable_id=?"),
                   {s.owner(), stableId}, notificationLayout());
}

QList<NotificationEventRecord> ChatStore::notificationEvents(bool all, bool *ok)
{
    Session s(*d);
    if (all) {
        return s.rows(notificationLayout().select("notification_events",
                                  "ORDER BY created_at DESC"),
                      {s.owner()}, notificationLayout(), ok);
    }
    // One mark per settled state.
    QVariantList binds{s.owner()};
    for (const QString &state : velmor::store::settledStates())
        binds << state;
    return s.rows(notificationLayout().select("notification_events",
                              "AND state NOT IN (?,?,?) ORDER BY created_at DESC"),
                  binds, notificationLayout(), ok);
}

bool ChatStore::upsertNotificationEvent(const NotificationEventRecord &e)
{
    if (e.stable_id.isEmpty())
        return false;
    Session s(*d);
    return s.run(notificationLayout().insert("INSERT", "notification_events")
                     + QStringLiteral(" ON CONFLICT(owner_raw_public_key,stable_id) DO UPDATE SET "
                                "event_type=excluded.event_type, group_id=excluded.group_id, "
                                "server_url=excluded.server_url, requester_public_key=excluded.requester_public_key, "
                                "requester_address=excluded.requester_address, "
                                "requester_profile_json=excluded.requester_profile_json, "
                                "group_name=excluded.group_name, group_kind=excluded.group_kind, "
                                      "created_at=MAX(created_at,excluded.created_at)"),
                 notificationLayout().values(s.owner(), e));
}

bool ChatStore::setNotificationState(const QString &stableId, const QStringList &allowedStates,
                                     const QString &newState, const QString &error)
{
    if (stableId.isEmpty() || allowedStates.isEmpty() || newState.isEmpty())
        return false;
    Session s(*d);
    QStringList marks;
    const qint64 handledAt = velmor::store::settledStates().contains(newState) ? velmor::store::nowSeconds() : 0;
    QVariantList binds{newState, handledAt, error, s.owner(), stableId};
    for (const QString &state : allowedStates) {
        marks << QStringLiteral("?");
        binds << state;
    }
    Stmt st(s.conn(),
            QStringLiteral("UPDATE notification_events SET state=?, handled_at=?, error=? "
                           "WHERE owner_raw_public_key=? AND stable_id=? AND state IN (%1)")
                .arg(marks.join(QLatin1Char(','))),
            binds);
    return st.rowsAffected() == 1;
}

// ---- pending acknowledgements -------------------------------------------

namespace {
// One statement per id in one transaction: all of them or none.
bool forEachAck(StoreState &state, const QStringList &ids, const QString &sql, int timeBinds)
{
    Session s(state);
    Transaction tx(s);
    if (!tx.active())
        return false;
    const qint64 now = velmor::store::nowSeconds();
    for (const QString &id : ids) {
        if (id.isEmpty())
            continue;
        QVariantList binds{s.owner(), id};
        for (int i = 0; i < timeBinds; ++i)
            binds << now;
        if (!s.run(sql, binds))
            return false;
    }
    return tx.finish();
}
} // namespace

bool ChatStore::addPendingAck(const QStringList &messageIds)
{
    // A queued id is written anew (a new rowid), so that it goes behind
    // every id queued before, also within the same second. queued_at is
    // kept: a refused id keeps the time it was first queued, by which it is
    // dropped once the relay no longer holds it (a row of an older layout
    // has none; its updated_at stands in).
    return forEachAck(*d, messageIds,
                      QStringLiteral("INSERT OR REPLACE INTO pending_acks(owner_raw_public_key,message_id,updated_at,"
                                     "queued_at) VALUES(?1,?2,?3,COALESCE((SELECT CASE WHEN queued_at>0 THEN queued_at "
                                     "ELSE updated_at END FROM pending_acks WHERE owner_raw_public_key=?1 AND "
                                     "message_id=?2),?3))"),
                      1);
}

int ChatStore::dropPendingAcksQueuedBefore(qint64 seconds)
{
    Session s(*d);
    // Rows of an older layout have no queued_at (0); their updated_at is
    // the best guess of their age.
    Stmt st(s.conn(),
            QStringLiteral("DELETE FROM pending_acks WHERE owner_raw_public_key=? AND "
                           "(CASE WHEN queued_at>0 THEN queued_at ELSE updated_at END) < ?"),
            {s.owner(), seconds});
    return st.rowsAffected();
}

// ---- batches -----------------------------------------------------------------

bool ChatStore::beginBatch()
{
    Session s(*d);
    velmor::store::Connection *conn = s.conn();
    if (!conn || conn->batch || !s.begin())
        return false;
    conn->batch = true;
    return true;
}

bool ChatStore::commitBatch()
{
    Session s(*d);
    velmor::store::Connection *conn = s.conn();
    if (!conn || !conn->batch)
        return false;
    conn->batch = false;
    if (s.commit())
        return true;
    s.rollback();
    return false;
}

void ChatStore::rollbackBatch()
{
    Session s(*d);
    velmor::store::Connection *conn = s.conn();
    if (!conn || !conn->batch)
        return;
    conn->batch = false;
    s.rollback();
}

bool ChatStore::beginBatchItem()
{
    Session s(*d);
    return s.conn() && s.conn()->batch && s.run(QStringLiteral("SAVEPOINT velmor_item"), {});
}

bool ChatStore::endBatchItem(bool keep)
{
    Session s(*d);
    if (!s.conn() || !s.conn()->batch)
        return false;
    if (keep && s.run(QStringLiteral("RELEASE velmor_item"), {}))
        return true;
    s.run(QStringLiteral("ROLLBACK TO velmor_item"), {});
    s.run(QStringLiteral("RELEASE velmor_item"), {});
    return false;
}

ChatStore::Batch::Batch(ChatStore &store) : m_store(store), m_active(store.beginBatch()) {}

ChatStore::Batch::~Batch()
{
    if (m_active)
        m_store.rollbackBatch();
}

bool ChatStore::Batch::commit()
{
    if (!m_active)
        return false;
    m_active = false;
    return m_store.commitBatch();
}

QStringList ChatStore::pendingAcks(int limit, bool *ok)
{
    if (ok)
        *ok = limit > 0;
    if (limit <= 0)
        return {};
    Session s(*d);
    // rowid keeps ids queued in the same second in the order they came.
    return s.rows(selectOwned(QStringLiteral("message_id"), "pending_acks", "ORDER BY updated_at, rowid LIMIT ?"),
                  {s.owner(), limit}, [](Row &r) { return r.text(); }, ok);
}

bool ChatStore::deletePendingAck(const QStringList &messageIds)
{
    return forEachAck(*d, messageIds,
                      QStringLiteral("DELETE FROM pending_acks WHERE owner_raw_public_key=? AND message_id=?"), 0);
}
