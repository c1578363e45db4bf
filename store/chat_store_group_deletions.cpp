#include "store/chat_store_internal.h"

// ---- normal groups the user deleted ----------------------------------------

bool ChatStore::markNormalGroupDeleted(const QString &groupId, qint64 cardEpoch)
{
    if (groupId.isEmpty())
        return false;
    Session s(*d);
    // The epoch never goes back: a later deletion of an older card keeps
    // the newer one that was already refused.
    return s.run(QStringLiteral("INSERT INTO normal_group_deletions(owner_raw_public_key,group_id,card_epoch,"
                                "deleted_at) VALUES(?,?,?,?) ON CONFLICT(owner_raw_public_key,group_id) DO UPDATE "
                                "SET card_epoch=MAX(card_epoch,excluded.card_epoch), deleted_at=excluded.deleted_at"),
                 {s.owner(), groupId, cardEpoch, velmor::store::nowSeconds()});
}

qint64 ChatStore::normalGroupDeletedEpoch(const QString &groupId)
{
    Session s(*d);
    return s.first(selectOwned(QStringLiteral("card_epoch"), "normal_group_deletions", "AND group_id=?"),
                   {s.owner(), groupId}, [](Row &r) { return r.integer(); })
        .value_or(0);
}
