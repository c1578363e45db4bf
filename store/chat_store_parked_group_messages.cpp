#include "store/chat_store_internal.h"

namespace velmor::store {

namespace {

const Layout<ParkedGroupMessageRecord> &parkedLayout()
{
    using R = ParkedGroupMessageRecord;
    static const Layout<R> layout{
        {"group_id", &R::group_id},
        {"message_id", &R::message_id},
        {"sender_raw_public_key", &R::sender_raw_public_key},
        {"epoch", &R::epoch},
        {"ciphertext", &R::ciphertext},
        {"created_at", &R::created_at},
        {"content_digest", &R::content_digest},
    };
    return layout;
}

} // namespace
} // namespace velmor::store

using velmor::store::parkedLayout;

// ---- group messages waiting for the card of their epoch ---------------------

bool ChatStore::parkGroupMessage(const ParkedGroupMessageRecord &message)
{
    if (message.group_id.isEmpty() || message.message_id.isEmpty())
        return false;
    Session s(*d);
    return s.run(parkedLayout().insert("INSERT OR IGNORE", "parked_group_messages"),
                 parkedLayout().values(s.owner(), message));
}

int ChatStore::parkedGroupMessageCount(const QString &groupId, const QString &senderKey, qint64 *bytes)
{
    Session s(*d);
    const auto counted = s.first(selectOwned(QStringLiteral("COUNT(*),COALESCE(SUM(LENGTH(ciphertext)),0)"),
                                             "parked_group_messages", "AND group_id=? AND sender_raw_public_key=?"),
                                 {s.owner(), groupId, senderKey}, [](Row &r) {
                                     const qint64 count = r.integer();
                                     return std::pair<qint64, qint64>(count, r.integer());
                                 });
    if (bytes)
        *bytes = counted ? counted->second : 0;
    return counted ? int(counted->first) : 0;
}

QList<ParkedGroupMessageRecord> ChatStore::parkedGroupMessages(const QString &groupId, qint64 maxEpoch, bool *ok)
{
    Session s(*d);
    return s.rows(parkedLayout().select("parked_group_messages", "AND group_id=? AND epoch<=? ORDER BY created_at"),
                  {s.owner(), groupId, maxEpoch}, parkedLayout(), ok);
}

bool ChatStore::deleteParkedGroupMessages(const QString &groupId, qint64 maxEpoch)
{
    Session s(*d);
    return s.run(QStringLiteral("DELETE FROM parked_group_messages WHERE owner_raw_public_key=? AND group_id=? "
                                "AND epoch<=?"),
                 {s.owner(), groupId, maxEpoch});
}
