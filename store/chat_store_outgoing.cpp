#include "store/chat_store_internal.h"

// ---- durable one-to-one sends ------------------------------------------------

namespace {
// The user's own send (as ChatStore::ownMessage): a message of another
// conversation that carries the same id keeps its status. One that is sent
// already (the group server handed it back, say) stays sent: a late answer
// or retry does not set it back.
constexpr char kOwnSend[] = "AND is_outgoing=1 AND status NOT IN (?,?)";
QVariantList ownSendStatuses(MessageStatus status)
{
    const MessageStatus kept = status == MessageStatus::Sent ? MessageStatus::Received : MessageStatus::Sent;
    return {static_cast<int>(MessageStatus::Received), static_cast<int>(kept)};
}
} // namespace

QString ChatStore::outgoingEnvelope(const QString &messageId)
{
    Session s(*d);
    return s
        .first(QStringLiteral("SELECT envelope_json FROM outgoing_envelopes WHERE owner_raw_public_key=? "
                              "AND message_id=?"),
               {s.owner(), messageId}, [](Row &row) { return row.text(); })
        .value_or(QString());
}

bool ChatStore::setMessageStatus(const QString &id, MessageStatus status)
{
    Session s(*d);
    Transaction tx(s);
    if (!tx.active()
        || !s.run(QStringLiteral("UPDATE messages SET status=? WHERE owner_raw_public_key=? AND id=? %1")
                      .arg(QLatin1String(kOwnSend)),
                  QVariantList{static_cast<int>(status), s.owner(), id} + ownSendStatuses(status)))
        return false;
    // A sent envelope is the relay's now; a failed one stays for a retry.
    if (status == MessageStatus::Sent
        && !s.run(QStringLiteral("DELETE FROM outgoing_envelopes WHERE owner_raw_public_key=? AND message_id=?"),
                  {s.owner(), id}))
        return false;
    return tx.finish();
}

bool ChatStore::setMessageStatuses(const QList<QPair<QString, MessageStatus>> &changes, QList<bool> *found)
{
    Session s(*d);
    Transaction tx(s);
    if (!tx.active())
        return false;
    QList<bool> there;
    there.reserve(changes.size());
    for (const auto &[id, status] : changes) {
        Stmt update(s.conn(),
                    QStringLiteral("UPDATE messages SET status=? WHERE owner_raw_public_key=? AND id=? %1")
                        .arg(QLatin1String(kOwnSend)),
                    QVariantList{static_cast<int>(status), s.owner(), id} + ownSendStatuses(status));
        if (!update.ok())
            return false;
        there.append(update.rowsAffected() > 0);
        if (status == MessageStatus::Sent
            && !s.run(QStringLiteral("DELETE FROM outgoing_envelopes WHERE owner_raw_public_key=? AND message_id=?"),
                      {s.owner(), id}))
            return false;
    }
    if (!tx.finish())
        return false;
    if (found)
        *found = there;
    return true;
}

QStringList ChatStore::interruptedEnvelopeSends(QStringList *conversations)
{
    Session s(*d);
    // In the order they were written, as they show: the sends of one second
    // by rowid (the envelope's own time is in seconds too, and a burst's
    // are written in one transaction).
    const QList<QPair<QString, QString>> sends = s.rows(
        QStringLiteral("SELECT m.id, m.conversation_id FROM messages m JOIN outgoing_envelopes e ON "
                       "e.owner_raw_public_key=m.owner_raw_public_key AND e.message_id=m.id WHERE "
                       "m.owner_raw_public_key=? AND m.is_outgoing=1 AND m.status=? ORDER BY m.created_at, m.rowid"),
        {s.owner(), static_cast<int>(MessageStatus::Sending)},
        [](Row &row) {
            const QString id = row.text();
            return QPair<QString, QString>(id, row.text());
        },
        nullptr);
    QStringList ids;
    ids.reserve(sends.size());
    for (const auto &[id, conversation] : sends) {
        ids.append(id);
        if (conversations)
            conversations->append(conversation);
    }
    return ids;
}
