#include "store/chat_store_internal.h"

namespace velmor::store {

namespace {

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

bool insertMember(Session &s, const SuperGroupMemberRecord &m)
{
    return s.run(memberLayout().insert("INSERT OR REPLACE", "super_group_members"),
                 memberLayout().values(s.owner(), m));
}

} // namespace
} // namespace velmor::store

using velmor::store::memberLayout;
using velmor::store::superGroupLayout;

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

std::optional<SuperGroupMemberRecord> ChatStore::superGroupMember(const QString &serverUrl, const QString &publicKey)
{
    Session s(*d);
    return s.first(memberLayout().select("super_group_members", "AND server_url=? AND public_key=?"),
                   {s.owner(), serverUrl, publicKey}, memberLayout());
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
