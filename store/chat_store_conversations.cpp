#include "store/chat_store_internal.h"

#include <algorithm>

namespace velmor::store {

namespace {

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

// The content type of the message that left a conversation's last_message,
// so that a list can tell the store's own texts ("[图片]") from the same
// text typed: the newest of the last few messages holding that text (a
// batch is not always stored in time order). NULL when none of them does
// (the message was deleted, or edited).
const char kLastMessageType[] =
    "(SELECT CASE WHEN system_event_type<>'' THEN 'system' ELSE content_type END FROM "
    "(SELECT text, content_type, system_event_type FROM messages m "
    "WHERE m.owner_raw_public_key=conversations.owner_raw_public_key AND m.conversation_id=conversations.id "
    "ORDER BY m.created_at DESC, m.rowid DESC LIMIT 8) WHERE text=conversations.last_message LIMIT 1)";

// A conversation row with the type of its last message after its columns.
template <typename L>
auto withLastMessageType(const L &layout)
{
    return [&layout](Row &r) {
        ConversationRecord record = layout(r);
        record.last_message_type = r.text();
        return record;
    };
}

// ---- helpers of the operations ----------------------------------------------

std::optional<ConversationRecord> conversationById(Session &s, const QString &id)
{
    static const QString sql = conversationLayout().select("conversations", "AND id=?");
    return s.first(sql, {s.owner(), id}, conversationLayout());
}

enum class Write { Inserted, Updated, Failed };

// A message new to its conversation is inserted in one statement; one the
// conversation holds gets its text, status, attachment and delivery state,
// except that the user's own message once sent stays sent (a late write of
// its send, or a pulled copy, does not set it back).
// The same id in another conversation is another message, never touched.
// The conversation's preview is left to the caller (see Preview).
Write writeMessage(Session &s, const MessageRecord &m)
{
    static const QString insert = messageLayout().insert("INSERT", "messages")
                                  + QLatin1String(" ON CONFLICT(owner_raw_public_key,id,conversation_id) DO NOTHING");
    {
        Stmt st(s.conn(), insert);
        messageLayout().bind(st, s.owner(), m);
        if (!st.exec())
            return Write::Failed;
        if (st.rowsAffected() == 1)
            return Write::Inserted;
    }
    Stmt st(s.conn(),
            QStringLiteral("UPDATE messages SET text=?, status=CASE WHEN is_outgoing=1 AND status=? THEN status ELSE ? END, "
                           "attachment=?, delivery_state=? WHERE owner_raw_public_key=? AND id=? AND conversation_id=?"),
            {m.text, static_cast<int>(velmor::chat::MessageStatus::Sent), static_cast<int>(m.status), m.attachment, m.delivery_state,
             s.owner(), m.id, m.conversation_id});
    return st.ok() ? Write::Updated : Write::Failed;
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

} // namespace
} // namespace velmor::store

using velmor::store::conversationLayout;
using velmor::store::messageLayout;
using velmor::store::shownMessageLayout;

// ---- conversations -------------------------------------------------------

namespace {
// Before messages are deleted: their ids (and digests) go to the received
// ids, kept until no envelope that could have brought them is valid any
// more (its own creation time plus the longest lifetime and the clock
// slack), so that a relay offering one again cannot bring it back. Expired
// entries are dropped on the way.
bool rememberDeletedIds(Session &s, const QString &where, const QVariantList &values)
{
    const qint64 now = velmor::store::nowSeconds();
    return s.run(QStringLiteral("DELETE FROM received_ids WHERE owner_raw_public_key=? AND keep_until<?"),
                 {s.owner(), now})
           && s.run(QStringLiteral("INSERT OR REPLACE INTO received_ids(owner_raw_public_key,message_id,"
                                   "conversation_id,content_digest,keep_until) SELECT owner_raw_public_key,id,"
                                   "conversation_id,content_digest,created_at+? FROM messages "
                                   "WHERE owner_raw_public_key=? AND %1 "
                                   "AND created_at+?>=?")
                        .arg(where),
                    QVariantList{ChatStore::kReceivedIdMemorySeconds, s.owner()} + values
                        + QVariantList{ChatStore::kReceivedIdMemorySeconds, now});
}

bool dropEnvelope(Session &s, const QString &messageId)
{
    return s.run(QStringLiteral("DELETE FROM outgoing_envelopes WHERE owner_raw_public_key=? AND message_id=?"),
                 {s.owner(), messageId});
}

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
    QMutexLocker lock(&d->publishedMutex);
    return directConversationId(d->publishedOwner, peerKey);
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
    static const QString sql = velmor::store::selectOwned(
        conversationLayout().names() + QLatin1Char(',') + QLatin1String(velmor::store::kLastMessageType),
        "conversations", "AND peer_raw_public_key=? LIMIT 1");
    return s.first(sql, {s.owner(), peerKey}, velmor::store::withLastMessageType(conversationLayout()));
}

QList<ConversationRecord> ChatStore::visibleConversations(bool *ok)
{
    Session s(*d);
    static const QString sql =
        conversationLayout().select("conversations", "AND hidden_from_chats=0 ORDER BY last_timestamp DESC");
    return s.rows(sql, {s.owner()}, conversationLayout(), ok);
}

QList<ConversationRecord> ChatStore::listedConversations(bool *ok)
{
    // The columns a conversation list row is made of: a sign-in reads every
    // row, and the others (keys, cards) would be copied for nothing.
    static const auto layout = conversationLayout().subset({ "peer_raw_public_key", "conversation_type",
                                                             "peer_display_key", "peer_wallet_address",
                                                             "last_message", "last_timestamp", "unread_count",
                                                             "muted" });
    static const QString sql =
        velmor::store::selectOwned(layout.names() + QLatin1Char(',') + QLatin1String(velmor::store::kLastMessageType),
                                   "conversations", "AND hidden_from_chats=0 ORDER BY last_timestamp DESC");
    Session s(*d);
    return s.rows(sql, {s.owner()}, velmor::store::withLastMessageType(layout), ok);
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

bool ChatStore::clearConversation(const QString &conversationId, const QList<QPair<QString, qint64>> &unwritten)
{
    if (conversationId.isEmpty())
        return false;
    Session s(*d);
    Transaction tx(s);
    if (!tx.active() || !rememberDeletedIds(s, QStringLiteral("conversation_id=?"), {conversationId}))
        return false;
    for (const auto &send : unwritten) {
        if (!s.run(QStringLiteral("INSERT OR IGNORE INTO received_ids(owner_raw_public_key,message_id,conversation_id,"
                                  "content_digest,keep_until) VALUES(?,?,?,'',?)"),
                   {s.owner(), send.first, conversationId, send.second + kReceivedIdMemorySeconds}))
            return false;
    }
    return s.run(QStringLiteral("DELETE FROM messages WHERE owner_raw_public_key=? AND conversation_id=?"),
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
        && !(rememberDeletedIds(s, QStringLiteral("conversation_id=?"), {peer})
             && s.run(QStringLiteral("DELETE FROM messages WHERE owner_raw_public_key=? AND conversation_id=?"),
                      {s.owner(), peer})))
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
    // The user's own message written as sent (a group server handed it
    // back): its envelope is the server's now, not to be posted again.
    const bool sent = m.is_outgoing && m.status == velmor::chat::MessageStatus::Sent;
    switch (velmor::store::writeMessage(s, m)) {
    case velmor::store::Write::Inserted: {
        velmor::store::Preview preview;
        preview.add(m);
        return preview.write(s, m.conversation_id) && (!sent || dropEnvelope(s, m.id)) && tx.finish();
    }
    case velmor::store::Write::Updated:
        return (!sent || dropEnvelope(s, m.id)) && tx.finish();
    case velmor::store::Write::Failed:
        break;
    }
    return false;
}

// The envelope half of a durable send (chat_store_outgoing.cpp has the rest):
// here, beside upsertMessage, whose writes it shares.
bool ChatStore::upsertMessageWithEnvelope(const MessageRecord &m, const QString &envelopeJson)
{
    if (m.id.isEmpty() || envelopeJson.isEmpty())
        return false;
    Session s(*d);
    Transaction tx(s);
    if (!tx.active())
        return false;
    bool written = false;
    switch (velmor::store::writeMessage(s, m)) {
    case velmor::store::Write::Inserted: {
        velmor::store::Preview preview;
        preview.add(m);
        written = preview.write(s, m.conversation_id);
        break;
    }
    case velmor::store::Write::Updated:
        written = true;
        break;
    case velmor::store::Write::Failed:
        break;
    }
    return written
           && s.run(QStringLiteral("INSERT OR REPLACE INTO outgoing_envelopes(owner_raw_public_key,message_id,"
                                   "envelope_json,created_at) VALUES(?,?,?,?)"),
                    {s.owner(), m.id, envelopeJson, velmor::store::nowSeconds()})
           && tx.finish();
}

bool ChatStore::upsertOutgoing(const QString &ownerKey, const QList<MessageRecord> &messages,
                               const QStringList &envelopes, const std::function<bool(qsizetype)> &wanted,
                               QList<bool> *written)
{
    if (ownerKey.isEmpty() || messages.size() != envelopes.size())
        return false;
    // The window shows these rows once written: another process's lock is
    // not waited out, the rows are kept in memory instead.
    const velmor::store::BriefLockWaits brief;
    const velmor::store::HeldWrite held;
    Session s(*d);
    // The owner cannot change while `s` holds the store.
    if (s.owner() != ownerKey)
        return false;
    Transaction tx(s);
    if (!tx.active())
        return false;
    QHash<QString, velmor::store::Preview> previews;
    QList<bool> wrote(messages.size(), true);
    for (qsizetype i = 0; i < messages.size(); ++i) {
        const MessageRecord &m = messages.at(i);
        if (wanted && !wanted(i)) {
            wrote[i] = false;
            continue;
        }
        const velmor::store::Write write = m.id.isEmpty() ? velmor::store::Write::Failed
                                                          : velmor::store::writeMessage(s, m);
        if (write == velmor::store::Write::Inserted)
            previews[m.conversation_id].add(m);
        else if (write != velmor::store::Write::Updated)
            return false;
        if (!envelopes.at(i).isEmpty()
            && !s.run(QStringLiteral("INSERT OR REPLACE INTO outgoing_envelopes(owner_raw_public_key,message_id,"
                                     "envelope_json,created_at) VALUES(?,?,?,?)"),
                      {s.owner(), m.id, envelopes.at(i), velmor::store::nowSeconds()}))
            return false;
    }
    for (auto it = previews.cbegin(); it != previews.cend(); ++it) {
        if (!it.value().write(s, it.key()))
            return false;
    }
    if (!tx.finish())
        return false;
    if (written)
        *written = std::move(wrote);
    return true;
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
        // An empty id changes nothing and fails nothing else; a failed
        // statement fails the whole batch.
        if (m.id.isEmpty()) {
            results.append(false);
            continue;
        }
        const velmor::store::Write write = velmor::store::writeMessage(s, m);
        if (write == velmor::store::Write::Failed)
            return false;
        if (write == velmor::store::Write::Inserted)
            previews[m.conversation_id].add(m);
        results.append(true);
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

bool ChatStore::messageExists(const QString &conversationId, const QString &id)
{
    Session s(*d);
    return s.exists(QStringLiteral("SELECT 1 FROM messages WHERE owner_raw_public_key=? AND id=? AND conversation_id=?"),
                    {s.owner(), id, conversationId});
}

bool ChatStore::messageExists(const QString &id)
{
    Session s(*d);
    return s.exists(QStringLiteral("SELECT 1 FROM messages WHERE owner_raw_public_key=? AND id=?"), {s.owner(), id});
}

bool ChatStore::messageIdKnown(const QString &id)
{
    Session s(*d);
    return s.exists(QStringLiteral("SELECT 1 FROM messages WHERE owner_raw_public_key=?1 AND id=?2 UNION ALL "
                                   "SELECT 1 FROM received_ids WHERE owner_raw_public_key=?1 AND message_id=?2 "
                                   "AND keep_until>=?3"),
                    {s.owner(), id, velmor::store::nowSeconds()});
}

QString ChatStore::messageContentDigest(const QString &conversationId, const QString &id)
{
    Session s(*d);
    return s.first(selectOwned(QStringLiteral("content_digest"), "messages", "AND id=? AND conversation_id=?"),
                   {s.owner(), id, conversationId}, [](Row &r) { return r.text(); })
        .value_or(QString());
}

std::optional<MessageRecord> ChatStore::messageById(const QString &conversationId, const QString &id)
{
    Session s(*d);
    static const QString sql = messageLayout().select("messages", "AND id=? AND conversation_id=?");
    return s.first(sql, {s.owner(), id, conversationId}, messageLayout());
}

std::optional<MessageRecord> ChatStore::messageById(const QString &id)
{
    Session s(*d);
    static const QString sql = messageLayout().select("messages", "AND id=? ORDER BY rowid LIMIT 1");
    return s.first(sql, {s.owner(), id}, messageLayout());
}

std::optional<MessageRecord> ChatStore::ownMessage(const QString &id)
{
    Session s(*d);
    static const QString sql = messageLayout().select("messages", "AND id=? AND is_outgoing=1 AND status<>? LIMIT 1");
    return s.first(sql, {s.owner(), id, static_cast<int>(velmor::chat::MessageStatus::Received)}, messageLayout());
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

namespace {

// The page queries' rows: the row id, then the shown columns.
QList<MessageRecord> readPlacedRows(velmor::store::Session &s, const QString &sql, const QVariantList &binds,
                                    const QString &conversationId, QList<ChatStore::MessagePlace> *places, bool *ok)
{
    QList<ChatStore::MessagePlace> found;
    QList<MessageRecord> records = s.rows(
        sql, binds,
        [&](velmor::store::Row &row) {
            const qint64 order = row.integer();
            MessageRecord record = shownMessageLayout()(row);
            record.conversation_id = conversationId;
            found.append({ record.created_at, order });
            return record;
        },
        ok);
    if (places)
        *places = std::move(found);
    return records;
}

} // namespace

QList<MessageRecord> ChatStore::shownMessagesBefore(const QString &conversationId,
                                                    const std::optional<MessagePlace> &before, int limit,
                                                    QList<MessagePlace> *places, bool *ok)
{
    Session s(*d);
    const QString columns = QStringLiteral("rowid,") + shownMessageLayout().names();
    // Newest first through the (conversation, time) index, so a page costs
    // its own rows whatever the conversation's length; turned round below.
    static const QString newest = velmor::store::selectOwned(
        columns, "messages", "AND conversation_id=? ORDER BY created_at DESC, rowid DESC LIMIT ?");
    static const QString older = velmor::store::selectOwned(
        columns, "messages",
        "AND conversation_id=? AND created_at<=? AND (created_at<? OR rowid<?) "
        "ORDER BY created_at DESC, rowid DESC LIMIT ?");
    QList<MessageRecord> records =
        before ? readPlacedRows(s, older,
                                { s.owner(), conversationId, before->createdAt, before->createdAt, before->order,
                                  qMax(0, limit) },
                                conversationId, places, ok)
               : readPlacedRows(s, newest, { s.owner(), conversationId, qMax(0, limit) }, conversationId, places, ok);
    std::reverse(records.begin(), records.end());
    if (places)
        std::reverse(places->begin(), places->end());
    return records;
}

QList<MessageRecord> ChatStore::shownMessagesFrom(const QString &conversationId, const MessagePlace &from,
                                                  QList<MessagePlace> *places, bool *ok)
{
    Session s(*d);
    static const QString sql = velmor::store::selectOwned(
        QStringLiteral("rowid,") + shownMessageLayout().names(), "messages",
        "AND conversation_id=? AND created_at>=? AND (created_at>? OR rowid>=?) ORDER BY created_at ASC, rowid ASC");
    return readPlacedRows(s, sql, { s.owner(), conversationId, from.createdAt, from.createdAt, from.order },
                          conversationId, places, ok);
}

bool ChatStore::lastMessage(const QString &conversationId, QString &text, qint64 &createdAt)
{
    return lastMessage(conversationId, &text, &createdAt);
}

bool ChatStore::lastMessage(const QString &conversationId, QString *text, qint64 *createdAt, QString *type)
{
    Session s(*d);
    struct Last
    {
        QString text;
        qint64 createdAt;
        QString type;
    };
    const auto last = s.first(
        selectOwned(QStringLiteral("text, created_at, CASE WHEN system_event_type<>'' THEN 'system' ELSE content_type END"),
                    "messages", "AND conversation_id=? ORDER BY created_at DESC, rowid DESC LIMIT 1"),
        {s.owner(), conversationId}, [](Row &r) {
            Last l;
            l.text = r.text();
            l.createdAt = r.integer();
            l.type = r.text();
            return l;
        });
    if (!last)
        return false;
    if (text)
        *text = last->text;
    if (createdAt)
        *createdAt = last->createdAt;
    if (type)
        *type = last->type;
    return true;
}

bool ChatStore::deleteMessage(const QString &conversationId, const QString &id)
{
    Session s(*d);
    Transaction tx(s);
    const QVariantList key{s.owner(), id, conversationId};
    return tx.active() && rememberDeletedIds(s, QStringLiteral("id=? AND conversation_id=?"), key.mid(1))
           && s.run(QStringLiteral("DELETE FROM messages WHERE owner_raw_public_key=? AND id=? AND conversation_id=?"),
                    key)
           && tx.finish();
}

std::optional<QString> ChatStore::deletedMessageDigest(const QString &conversationId, const QString &id)
{
    Session s(*d);
    // The conversation's own memory of the id before one kept from before
    // conversations were told apart (an empty conversation_id).
    return s.first(QStringLiteral("SELECT content_digest FROM received_ids WHERE owner_raw_public_key=? "
                                  "AND message_id=? AND conversation_id IN (?,'') AND keep_until>=? "
                                  "ORDER BY conversation_id='' LIMIT 1"),
                   {s.owner(), id, conversationId, velmor::store::nowSeconds()}, [](Row &r) { return r.text(); });
}

bool ChatStore::updateMessageText(const QString &conversationId, const QString &id, const QString &text)
{
    Session s(*d);
    return s.run(QStringLiteral("UPDATE messages SET text=? WHERE owner_raw_public_key=? AND id=? AND conversation_id=?"),
                 {text, s.owner(), id, conversationId});
}

bool ChatStore::failInterruptedSends(const QString &ownerKey, int *failed)
{
    Session s(*d);
    // A worker's session may have ended: another owner's rows are not its to fail.
    if (!ownerKey.isEmpty() && s.owner() != ownerKey)
        return false;
    Transaction tx(s);
    if (!tx.active())
        return false;
    // A send whose signed envelope is stored is posted again as it is; the
    // envelope of a message deleted or sent meanwhile is nobody's.
    Stmt fail(s.conn(),
              QStringLiteral("UPDATE messages SET status=? WHERE owner_raw_public_key=? AND is_outgoing=1 "
                             "AND status=? AND id NOT IN (SELECT message_id FROM outgoing_envelopes WHERE "
                             "owner_raw_public_key=?)"),
              {static_cast<int>(velmor::chat::MessageStatus::Failed), s.owner(),
               static_cast<int>(velmor::chat::MessageStatus::Sending), s.owner()});
    if (!fail.ok())
        return false;
    if (failed)
        *failed = int(fail.rowsAffected());
    return true
           // One look-up per stored envelope (there are few), not a list
           // of every message.
           && s.run(QStringLiteral("DELETE FROM outgoing_envelopes WHERE owner_raw_public_key=? AND NOT EXISTS "
                                   "(SELECT 1 FROM messages m WHERE m.owner_raw_public_key=outgoing_envelopes."
                                   "owner_raw_public_key AND m.id=outgoing_envelopes.message_id AND m.is_outgoing=1 "
                                   "AND m.status NOT IN (?,?))"),
                    {s.owner(), static_cast<int>(velmor::chat::MessageStatus::Sent),
                     static_cast<int>(velmor::chat::MessageStatus::Received)})
           && tx.finish();
}
