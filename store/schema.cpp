#include "store/schema.h"

#include "store/records.h"

#include <QList>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <algorithm>

namespace velmor::store {

namespace {

struct ColumnDef
{
    const char *name;
    const char *decl;   // type, NOT NULL and DEFAULT, as in CREATE TABLE
};

struct IndexDef
{
    const char *name;
    const char *columns;
};

struct TableDef
{
    const char *name;
    QList<ColumnDef> columns;
    QStringList primaryKey;
    QList<IndexDef> indexes;
};

constexpr const char *kText = "TEXT NOT NULL DEFAULT ''";
constexpr const char *kInt = "INTEGER NOT NULL DEFAULT 0";
constexpr const char *kOwner = "owner_raw_public_key";

QList<TableDef> buildTables()
{
    QList<TableDef> t;
    t.append({"messages",
              {{kOwner, kText},
               {"id", kText},
               {"conversation_id", kText},
               {"peer_raw_public_key", kText},
               {"sender_raw_public_key", kText},
               {"text", kText},
               {"created_at", kInt},
               {"is_outgoing", kInt},
               {"status", kInt},
               {"attachment", kText},
               {"sender_address", kText},
               {"sender_display_name", kText},
               {"sender_avatar_kind", kText},
               {"sender_avatar_id", kText},
               {"server_seq", kInt},
               {"content_type", "TEXT NOT NULL DEFAULT 'text'"},
               {"system_event_type", kText},
               {"delivery_state", kText},
               {"content_digest", kText}},
              // Ids are chosen by senders (peers, group servers), so one id
              // may name messages of several conversations: each keeps its
              // own. The id comes first so that the key also serves lookups
              // by id alone (the user's own sends).
              {kOwner, "id", "conversation_id"},
              // By status too: a sign-in looks for the sends left unfinished,
              // and must not read every message of the owner to find them.
              {{"idx_messages_conversation_time", "owner_raw_public_key, conversation_id, created_at"},
               {"idx_messages_status", "owner_raw_public_key, status"}}});
    t.append({"conversations",
              {{kOwner, kText},
               {"id", kText},
               {"conversation_type", "TEXT NOT NULL DEFAULT 'direct'"},
               {"group_kind", kText},
               {"peer_raw_public_key", kText},
               {"peer_enc_public_key", kText},
               {"peer_display_key", kText},
               {"peer_wallet_address", kText},
               {"peer_wallet_card_json", kText},
               {"peer_has_my_wallet_card", kInt},
               {"last_message", kText},
               {"last_timestamp", kInt},
               {"unread_count", kInt},
               {"muted", kInt},
               {"hidden_from_chats", kInt}},
              {kOwner, "id"},
              {{"idx_conversations_peer", "owner_raw_public_key, peer_raw_public_key"},
               {"idx_conversations_visible", "owner_raw_public_key, hidden_from_chats, last_timestamp"}}});
    t.append({"contacts",
              {{kOwner, kText},
               {"wallet_public_key", kText},
               {"erc20_address", kText},
               {"remark", kText},
               {"avatar_kind", kText},
               {"avatar_id", kText},
               {"blocked", kInt},
               {"updated_at", kInt}},
              {kOwner, "wallet_public_key"},
              {}});
    t.append({"normal_group_cards",
              {{kOwner, kText},
               {"group_id", kText},
               {"card_json", kText},
               {"signature", kText},
               {"epoch", kInt},
               {"group_key_boxes_json", kText},
               {"members_json", kText},
               {"name", kText},
               {"avatar_id", kText},
               {"visible", "INTEGER NOT NULL DEFAULT 1"},
               {"my_nickname", kText},
               {"muted", kInt},
               {"updated_at", kInt},
               {"card_stamp", kText}},
              {kOwner, "group_id"},
              {}});
    t.append({"parked_group_messages",
              {{kOwner, kText},
               {"group_id", kText},
               {"message_id", kText},
               {"sender_raw_public_key", kText},
               {"epoch", kInt},
               {"ciphertext", kText},
               {"created_at", kInt},
               {"content_digest", kText},
               {"parked_at", kInt},
               {"bytes", kInt}},
              {kOwner, "group_id", "message_id"},
              // The bounds are kept by reading these alone: never the
              // ciphertexts, which may fill megabytes.
              {{"idx_parked_group_messages_age", "owner_raw_public_key, parked_at, bytes"},
               {"idx_parked_group_messages_writer", "owner_raw_public_key, sender_raw_public_key, parked_at, bytes"}}});
    t.append({"normal_group_member_profiles",
              {{kOwner, kText},
               {"group_id", kText},
               {"member_public_key", kText},
               {"profile_json", "TEXT NOT NULL DEFAULT '{}'"},
               {"updated_at", kInt}},
              {kOwner, "group_id", "member_public_key"},
              {}});
    t.append({"pending_group_join_requests",
              {{kOwner, kText},
               {"group_id", kText},
               {"join_key", kText},
               {"requester_public_key", kText},
               {"requester_address", kText},
               {"display_name", kText},
               {"avatar_id", kText},
               {"created_at", kInt}},
              {kOwner, "group_id", "requester_public_key"},
              {}});
    t.append({"normal_group_join_blocks",
              {{kOwner, kText},
               {"group_id", kText},
               {"requester_public_key", kText},
               {"created_at", kInt}},
              {kOwner, "group_id", "requester_public_key"},
              {}});
    // A normal group the user deleted, with the card epoch it had then.
    t.append({"normal_group_deletions",
              {{kOwner, kText},
               {"group_id", kText},
               {"card_epoch", kInt},
               {"deleted_at", kInt}},
              {kOwner, "group_id"},
              {}});
    // Official notices already shown, by the notice's own id.
    t.append({"official_notices",
              {{kOwner, kText},
               {"notice_id", kText},
               {"message_id", kText},
               {"created_at", kInt}},
              {kOwner, "notice_id"},
              {}});
    // Ids of received messages that were deleted, with their digest, kept
    // until the envelope that brought them can no longer be valid, so that
    // the same envelope offered again is not stored again.
    // A row from before conversations were told apart has an empty
    // conversation_id and stands for every conversation.
    t.append({"received_ids",
              {{kOwner, kText},
               {"message_id", kText},
               {"conversation_id", kText},
               {"content_digest", kText},
               {"keep_until", kInt}},
              {kOwner, "message_id", "conversation_id"},
              {{"idx_received_ids_keep_until", "owner_raw_public_key, keep_until"}}});
    t.append({"super_groups",
              {{kOwner, kText},
               {"server_id", kText},
               {"server_url", kText},
               {"group_id", kText},
               {"name", kText},
               {"group_kind", kText},
               {"role", kText},
               {"connection_state", kText},
               {"server_enc_public_key", kText},
               {"info_json", "TEXT NOT NULL DEFAULT '{}'"},
               {"last_read_seq", kInt},
               {"last_message_seq", kInt},
               {"unread_count", kInt},
               {"muted", kInt},
               {"updated_at", kInt}},
              {kOwner, "server_url"},
              {{"idx_super_groups_updated", "owner_raw_public_key, updated_at"}}});
    t.append({"super_group_members",
              {{kOwner, kText},
               {"server_url", kText},
               {"public_key", kText},
               {"address", kText},
               {"display_name", kText},
               {"avatar_kind", kText},
               {"avatar_id", kText},
               {"role", kText},
               {"muted", kInt},
               {"updated_at", kInt}},
              {kOwner, "server_url", "public_key"},
              {}});
    t.append({"notification_events",
              {{kOwner, kText},
               {"stable_id", kText},
               {"event_type", kText},
               {"group_id", kText},
               {"server_url", kText},
               {"requester_public_key", kText},
               {"requester_address", kText},
               {"requester_profile_json", "TEXT NOT NULL DEFAULT '{}'"},
               {"group_name", kText},
               {"group_kind", kText},
               {"state", "TEXT NOT NULL DEFAULT 'pending'"},
               {"created_at", kInt},
               {"handled_at", kInt},
               {"error", kText}},
              {kOwner, "stable_id"},
              {{"idx_notification_events_created", "owner_raw_public_key, created_at"}}});
    // The signed envelope of an outgoing one-to-one message, kept with its
    // row until the relay took it: an interrupted send is posted again as
    // the same envelope, which the relay and the peer recognise by its id.
    t.append({"outgoing_envelopes",
              {{kOwner, kText},
               {"message_id", kText},
               {"envelope_json", kText},
               {"created_at", kInt}},
              {kOwner, "message_id"},
              {}});
    t.append({"pending_acks",
              {{kOwner, kText},
               {"message_id", kText},
               {"updated_at", kInt},
               {"queued_at", kInt}},
              {kOwner, "message_id"},
              {{"idx_pending_acks_updated", "owner_raw_public_key, updated_at"}}});
    // A damaged file kept aside, for each identity that had rows in it:
    // told at that identity's next sign-in (`told` then 1).
    t.append({"store_set_asides",
              {{kOwner, kText},
               {"kept_path", kText},
               {"saved_messages", kInt},
               {"created_at", kInt},
               {"told", kInt}},
              {kOwner, "kept_path"},
              {}});
    return t;
}

// Identifiers below come only from the constant table definitions, never
// from callers; values always go through bound parameters.
QString quoted(const QString &identifier)
{
    return QLatin1Char('"') + QString(identifier).replace(QLatin1Char('"'), QLatin1String("\"\""))
           + QLatin1Char('"');
}

QString createTableSql(const TableDef &table, const QString &name)
{
    QStringList parts;
    for (const ColumnDef &c : table.columns)
        parts << QStringLiteral("%1 %2").arg(QLatin1String(c.name), QLatin1String(c.decl));
    parts << QStringLiteral("PRIMARY KEY(%1)").arg(table.primaryKey.join(QLatin1Char(',')));
    return QStringLiteral("CREATE TABLE %1 (%2)").arg(quoted(name), parts.join(QLatin1String(", ")));
}

struct ExistingColumn
{
    QString name;
    int pkPosition = 0;
    bool notNull = false;
    bool notNullWithoutDefault = false;
};

// The literal after DEFAULT in a column declaration; every column here has one.
QString defaultOf(const ColumnDef &c)
{
    const QString decl = QLatin1String(c.decl);
    const qsizetype at = decl.lastIndexOf(QLatin1String("DEFAULT "));
    return at < 0 ? QStringLiteral("NULL") : decl.mid(at + 8);
}

bool existingColumns(QSqlDatabase &db, const QString &table, QList<ExistingColumn> *out, QString *error)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(quoted(table)))) {
        if (error)
            *error = q.lastError().text();
        return false;
    }
    while (q.next())
        out->append({q.value(1).toString(), q.value(5).toInt(), q.value(3).toInt() != 0,
                     q.value(3).toInt() != 0 && q.value(4).isNull()});
    return true;
}

QStringList primaryKeyOf(const QList<ExistingColumn> &cols)
{
    QList<ExistingColumn> pk;
    for (const ExistingColumn &c : cols)
        if (c.pkPosition > 0)
            pk.append(c);
    std::sort(pk.begin(), pk.end(),
              [](const ExistingColumn &a, const ExistingColumn &b) { return a.pkPosition < b.pkPosition; });
    QStringList names;
    for (const ExistingColumn &c : pk)
        names << c.name;
    return names;
}

bool run(QSqlDatabase &db, const QString &sql, QString *error, const QVariantList &binds = {})
{
    QSqlQuery q(db);
    bool ok;
    if (binds.isEmpty()) {
        ok = q.exec(sql);
    } else {
        ok = q.prepare(sql);
        for (const QVariant &v : binds)
            q.addBindValue(v);
        ok = ok && q.exec();
    }
    if (!ok && error)
        *error = q.lastError().text() + QLatin1String(" [") + sql + QLatin1Char(']');
    return ok;
}

// Copies every row into a table with the current layout and key. Columns
// the old table lacks, and NULLs in the columns it has, take their
// defaults; a missing owner (column or value) becomes the opening owner so
// that the rows stay reachable.
bool rebuildTable(QSqlDatabase &db, const TableDef &table, const QList<ExistingColumn> &old,
                  const QString &ownerKey, QString *error)
{
    const QString name = QLatin1String(table.name);
    const QString fresh = name + QLatin1String("__migrating");
    if (!run(db, QStringLiteral("DROP TABLE IF EXISTS %1").arg(quoted(fresh)), error)
        || !run(db, createTableSql(table, fresh), error))
        return false;

    QStringList oldNames;
    for (const ExistingColumn &c : old)
        oldNames << c.name;
    QStringList target, source;
    QVariantList binds;
    for (const ColumnDef &c : table.columns) {
        const QString col = QLatin1String(c.name);
        if (oldNames.contains(col) && col == QLatin1String(kOwner)) {
            target << quoted(col);
            source << QStringLiteral("COALESCE(%1, ?)").arg(quoted(col));
            binds << ownerKey;
        } else if (oldNames.contains(col)) {
            target << quoted(col);
            source << QStringLiteral("COALESCE(%1, %2)").arg(quoted(col), defaultOf(c));
        } else if (col == QLatin1String(kOwner)) {
            target << quoted(col);
            source << QStringLiteral("?");
            binds << ownerKey;
        }
    }
    // OR IGNORE: rows that were unique under the old key stay unique under a
    // key that adds columns (the owner, the conversation); only true
    // duplicates could collide.
    const QString copy = QStringLiteral("INSERT OR IGNORE INTO %1 (%2) SELECT %3 FROM %4")
                             .arg(quoted(fresh), target.join(QLatin1Char(',')),
                                  source.join(QLatin1Char(',')), quoted(name));
    return run(db, copy, error, binds) && run(db, QStringLiteral("DROP TABLE %1").arg(quoted(name)), error)
           && run(db, QStringLiteral("ALTER TABLE %1 RENAME TO %2").arg(quoted(fresh), quoted(name)), error);
}

bool conformTable(QSqlDatabase &db, const TableDef &table, const QString &ownerKey, QString *error)
{
    const QString name = QLatin1String(table.name);
    QList<ExistingColumn> cols;
    if (!existingColumns(db, name, &cols, error))
        return false;
    if (cols.isEmpty())
        return run(db, createTableSql(table, name), error);

    if (primaryKeyOf(cols) != table.primaryKey)
        return rebuildTable(db, table, cols, ownerKey, error);

    // A retired NOT NULL column without a default would make every insert
    // fail.
    const bool retiredRequired = std::any_of(cols.begin(), cols.end(), [&](const ExistingColumn &e) {
        return e.notNullWithoutDefault
               && std::none_of(table.columns.begin(), table.columns.end(),
                               [&](const ColumnDef &c) { return e.name == QLatin1String(c.name); });
    });
    // Columns that an older layout left nullable may hold NULLs, which the
    // statements cannot take (MAX(NULL, x) and NULL + 1 are NULL). Rebuilt
    // once, the table gets the NOT NULL columns and the NULLs their defaults.
    const bool nullable = std::any_of(cols.begin(), cols.end(), [&](const ExistingColumn &e) {
        return !e.notNull && std::any_of(table.columns.begin(), table.columns.end(), [&](const ColumnDef &c) {
            return e.name == QLatin1String(c.name);
        });
    });
    if (retiredRequired || nullable)
        return rebuildTable(db, table, cols, ownerKey, error);

    for (const ColumnDef &c : table.columns) {
        const QString col = QLatin1String(c.name);
        const bool present = std::any_of(cols.begin(), cols.end(),
                                         [&](const ExistingColumn &e) { return e.name == col; });
        if (!present
            && !run(db,
                    QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3")
                        .arg(quoted(name), quoted(col), QLatin1String(c.decl)),
                    error))
            return false;
    }
    return true;
}

// After conformTable(): a rebuilt table has lost its indexes.
bool createIndexes(QSqlDatabase &db, const TableDef &table, QString *error)
{
    return std::all_of(table.indexes.begin(), table.indexes.end(), [&](const IndexDef &idx) {
        return run(db,
                   QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2(%3)")
                       .arg(quoted(QLatin1String(idx.name)), quoted(QLatin1String(table.name)),
                            QLatin1String(idx.columns)),
                   error);
    });
}

// Earlier layouts remembered a deleted group as a member-profile row named
// "group_deleted" whose updated_at held the card epoch: moved to its own
// table (keeping the larger epoch), so that no list of members meets it.
bool moveDeletedGroupMarkers(QSqlDatabase &db, QString *error)
{
    const QString marker = QStringLiteral("member_public_key='group_deleted'");
    return run(db,
               QStringLiteral("INSERT INTO normal_group_deletions(owner_raw_public_key,group_id,card_epoch,deleted_at) "
                              "SELECT owner_raw_public_key,group_id,updated_at,0 FROM normal_group_member_profiles "
                              "WHERE %1 ON CONFLICT(owner_raw_public_key,group_id) DO UPDATE SET "
                              "card_epoch=MAX(card_epoch,excluded.card_epoch)")
                   .arg(marker),
               error)
           && run(db, QStringLiteral("DELETE FROM normal_group_member_profiles WHERE %1").arg(marker), error);
}

// Rows set aside before their size and time were kept: measured, and
// counted as set aside now (the bounds then apply to them like to any).
bool measureParkedMessages(QSqlDatabase &db, int version, QString *error)
{
    if (version >= 9)
        return true;
    return run(db,
               QStringLiteral("UPDATE parked_group_messages SET bytes=LENGTH(CAST(ciphertext AS BLOB)), "
                              "parked_at=CAST(strftime('%s','now') AS INTEGER) WHERE parked_at=0"),
               error);
}

// Builds before layout 10 stored the user's own super-group message that
// the group's server handed back as received, and nothing set it sent
// after: the server handing a message back is its word that it took it.
// Only super groups (conversation "sg:" + server URL): a normal group's copy
// of the user's own message that the relay brought (sent from another device)
// is stored received on purpose, as this device did not send it. Every
// owner's rows, in one pass over the table: neither index
// holds the direction, and reading a super group's rows through them costs
// a look-up each, more than the pass when most messages are in super groups.
bool markOwnSuperGroupCopiesSent(QSqlDatabase &db, int version, QString *error)
{
    if (version >= 10)
        return true;
    return run(db,
               QStringLiteral("UPDATE messages SET status=? WHERE is_outgoing=1 AND status=? "
                              "AND conversation_id >= 'sg:' AND conversation_id < 'sg;'"),
               error,
               {static_cast<int>(velmor::chat::MessageStatus::Sent),
                static_cast<int>(velmor::chat::MessageStatus::Received)});
}

const QList<TableDef> &tables()
{
    static const QList<TableDef> t = buildTables();
    return t;
}

} // namespace

bool migrate(QSqlDatabase &db, const QString &ownerKey, QString *error)
{
    // IMMEDIATE: the write lock is taken before the layout is read, so
    // processes opening a new file together wait for each other (the busy
    // time-out applies) instead of failing when a read lock cannot be
    // upgraded. The version is read inside, so it is the one being changed.
    if (!run(db, QStringLiteral("BEGIN IMMEDIATE"), error))
        return false;
    int version = 0;
    {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next()) {
            if (error)
                *error = q.lastError().text();
            q.finish();
            run(db, QStringLiteral("ROLLBACK"), nullptr);
            return false;
        }
        version = q.value(0).toInt();
    }
    // A newer build's layout may keep what this one would drop (a wider
    // key, a column it needs): its file is not this build's to change.
    if (version > kSchemaVersion) {
        if (error)
            *error = QStringLiteral("layout version %1 is newer than this build's %2").arg(version).arg(kSchemaVersion);
        run(db, QStringLiteral("ROLLBACK"), nullptr);
        return false;
    }

    // Every version is brought to the current layout by the same idempotent
    // steps, so a file that skipped versions (or was hand-edited) still ends
    // up complete.
    // A file of an earlier version 3 layout has a trigger that wrote the
    // conversation's preview on every insert; the store writes it itself
    // (once per conversation in a batch), so the trigger goes.
    bool ok = run(db, QStringLiteral("DROP TRIGGER IF EXISTS messages_preview"), error)
              && std::all_of(tables().begin(), tables().end(), [&](const TableDef &table) {
                     return conformTable(db, table, ownerKey, error)
                            && createIndexes(db, table, error);
                 })
              && moveDeletedGroupMarkers(db, error) && measureParkedMessages(db, version, error)
              && markOwnSuperGroupCopiesSent(db, version, error);
    // Written also when unchanged: a file that cannot be written fails here.
    if (ok)
        ok = run(db, QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion), error);
    if (ok)
        ok = run(db, QStringLiteral("COMMIT"), error);
    if (!ok)
        run(db, QStringLiteral("ROLLBACK"), nullptr);
    return ok;
}

bool hasCurrentLayout(QSqlDatabase &db)
{
    QSqlQuery q(db);
    const bool current = q.exec(QStringLiteral("PRAGMA user_version")) && q.next() && q.value(0).toInt() >= kOldestReadableLayout;
    q.finish();
    return current;
}

} // namespace velmor::store
