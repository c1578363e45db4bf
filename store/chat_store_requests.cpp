#include "store/chat_store_internal.h"

namespace velmor::store {

namespace {

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

// States of a notification event that a decision has closed: they get a
// handled_at and leave the default list.
const QStringList &settledStates()
{
    static const QStringList states{QStringLiteral("approved"), QStringLiteral("rejected"),
                                    QStringLiteral("handled")};
    return states;
}

} // namespace
} // namespace velmor::store

using velmor::store::joinRequestLayout;
using velmor::store::notificationLayout;

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
