#include "store/salvage.h"

#include <QFile>
#include <QLoggingCategory>
#include <QStringList>

#include <sqlite3.h>

#include <memory>

Q_DECLARE_LOGGING_CATEGORY(lcStore)

namespace velmor::store {

namespace {

struct CloseDb
{
    void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
};
struct Finalize
{
    void operator()(sqlite3_stmt *stmt) const { sqlite3_finalize(stmt); }
};
using Db = std::unique_ptr<sqlite3, CloseDb>;
using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

// A damaged page stops a scan; the next scan starts this far past the last
// row read, then further each time it meets the damage again.
constexpr sqlite3_int64 kFirstSkip = 1;
constexpr int kMaxSkips = 40;

Statement prepare(sqlite3 *db, const QString &sql)
{
    sqlite3_stmt *stmt = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return {};
    }
    return Statement(stmt);
}

QString quoted(const QString &name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

QStringList columnsOf(sqlite3 *db, const QString &table)
{
    QStringList names;
    const Statement info = prepare(db, QStringLiteral("PRAGMA table_info(%1)").arg(quoted(table)));
    while (info && sqlite3_step(info.get()) == SQLITE_ROW)
        names << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(info.get(), 1)));
    return names;
}

// The file read-only as it was kept; when its log cannot be used, the file
// alone.
Db openKept(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    for (const QByteArray &uri : {QByteArray("file:") + native + "?mode=ro",
                                  QByteArray("file:") + native + "?immutable=1"}) {
        sqlite3 *raw = nullptr;
        const int rc = sqlite3_open_v2(uri.constData(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
        Db db(raw);
        if (rc != SQLITE_OK)
            continue;
        // A file cut shorter than its header says is otherwise refused
        // whole; with this SQLite reads the pages that are there (the
        // connection is read-only, nothing is written).
        sqlite3_exec(db.get(), "PRAGMA writable_schema = ON", nullptr, nullptr, nullptr);
        if (sqlite3_exec(db.get(), "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) == SQLITE_OK)
            return db;
    }
    return {};
}

const QString kOwnerColumn = QStringLiteral("owner_raw_public_key");

// Copies one table's readable rows; counts them per owner in `owners`
// when `countRows`, else only names the owners met.
void copyTable(sqlite3 *from, sqlite3 *to, const QString &table, bool countRows, QHash<QString, int> *owners)
{
    const QStringList theirs = columnsOf(from, table);
    QStringList shared;
    for (const QString &column : columnsOf(to, table)) {
        if (theirs.contains(column))
            shared << quoted(column);
    }
    if (shared.isEmpty())
        return;
    const int ownerAt = int(shared.indexOf(quoted(kOwnerColumn)));
    const Statement read = prepare(from, QStringLiteral("SELECT rowid, %1 FROM %2 WHERE rowid > ? ORDER BY rowid")
                                             .arg(shared.join(QLatin1Char(',')), quoted(table)));
    QStringList marks;
    for (qsizetype i = 0; i < shared.size(); ++i)
        marks << QStringLiteral("?");
    const Statement write = prepare(to, QStringLiteral("INSERT OR IGNORE INTO %1(%2) VALUES(%3)")
                                            .arg(quoted(table), shared.join(QLatin1Char(',')), marks.join(QLatin1Char(','))));
    if (!read || !write)
        return;
    sqlite3_int64 after = -1; // rowids may be 0 or negative only by hand; start below them
    sqlite3_int64 skip = kFirstSkip;
    for (int scans = 0; scans <= kMaxSkips; ++scans) {
        sqlite3_reset(read.get());
        sqlite3_bind_int64(read.get(), 1, after);
        int rc = SQLITE_ROW;
        while ((rc = sqlite3_step(read.get())) == SQLITE_ROW) {
            after = sqlite3_column_int64(read.get(), 0);
            sqlite3_reset(write.get());
            for (int i = 0; i < int(shared.size()); ++i)
                sqlite3_bind_value(write.get(), i + 1, sqlite3_column_value(read.get(), i + 1));
            const bool copied = sqlite3_step(write.get()) == SQLITE_DONE && sqlite3_changes(to) > 0;
            if (ownerAt >= 0) {
                const QString owner = QString::fromUtf8(
                    reinterpret_cast<const char *>(sqlite3_column_text(read.get(), ownerAt + 1)));
                int &count = (*owners)[owner];
                count += countRows && copied ? 1 : 0;
            }
        }
        if (rc == SQLITE_DONE)
            break;
        // A damaged page: past it, further each time.
        if (scans == 0)
            qCWarning(lcStore) << "damaged rows skipped in" << table << "after rowid" << after;
        after += skip;
        skip *= 2;
    }
    sqlite3_reset(read.get());
    sqlite3_reset(write.get());
}

} // namespace

QHash<QString, int> salvageRows(const QString &damagedPath, sqlite3 *target)
{
    QHash<QString, int> owners;
    const Db kept = openKept(damagedPath);
    if (!kept || !target)
        return owners;
    QStringList tables;
    {
        const Statement list = prepare(target, QStringLiteral(
            "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%' AND name <> 'space_probe'"));
        while (list && sqlite3_step(list.get()) == SQLITE_ROW)
            tables << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(list.get(), 0)));
    }
    if (sqlite3_exec(target, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return owners;
    for (const QString &table : std::as_const(tables))
        copyTable(kept.get(), target, table, table == QLatin1String("messages"), &owners);
    owners.remove(QString());
    if (sqlite3_exec(target, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        sqlite3_exec(target, "ROLLBACK", nullptr, nullptr, nullptr);
        return {};
    }
    for (auto it = owners.cbegin(); it != owners.cend(); ++it)
        qCInfo(lcStore) << "messages saved from the damaged database for" << it.key().left(12) << it.value();
    return owners;
}

void listReadBackConversations(sqlite3 *target)
{
    // A direct conversation's id is the owner's key and the peer's, in
    // order, joined by ':'; a normal group's is "group:" and its id. Super
    // groups are listed from their own table.
    static const char *const sql =
        "INSERT OR IGNORE INTO conversations(owner_raw_public_key,id,conversation_type,group_kind,"
        "peer_raw_public_key,peer_display_key,last_message,last_timestamp,unread_count,hidden_from_chats) "
        "SELECT m.owner_raw_public_key, m.conversation_id, "
        "CASE WHEN m.conversation_id LIKE 'group:%' THEN 'group' ELSE 'direct' END, "
        "CASE WHEN m.conversation_id LIKE 'group:%' THEN 'normal' ELSE '' END, "
        "CASE WHEN m.conversation_id LIKE 'group:%' THEN m.conversation_id "
        "WHEN substr(m.conversation_id,1,length(m.owner_raw_public_key)+1)=m.owner_raw_public_key||':' "
        "THEN substr(m.conversation_id,length(m.owner_raw_public_key)+2) "
        "ELSE substr(m.conversation_id,1,instr(m.conversation_id,':')-1) END, "
        "'', m.text, m.created_at, 0, 0 FROM messages AS m "
        "WHERE m.owner_raw_public_key<>'' AND m.conversation_id NOT LIKE 'sg:%' "
        "AND (m.conversation_id LIKE 'group:_%' OR instr(m.conversation_id,m.owner_raw_public_key||':')=1 "
        "OR substr(m.conversation_id,-length(m.owner_raw_public_key)-1)=':'||m.owner_raw_public_key) "
        "AND NOT EXISTS(SELECT 1 FROM conversations AS c WHERE c.owner_raw_public_key=m.owner_raw_public_key "
        "AND c.id=m.conversation_id) "
        "ORDER BY m.created_at DESC";
    char *error = nullptr;
    if (sqlite3_exec(target, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        qCWarning(lcStore) << "read-back conversations not listed:" << error;
        sqlite3_free(error);
        return;
    }
    if (const int made = sqlite3_changes(target); made > 0)
        qCInfo(lcStore) << made << "conversations made again from the messages read back";
}

} // namespace velmor::store
