#include "store/chat_store_internal.h"

namespace velmor::store {

namespace {

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

} // namespace
} // namespace velmor::store

using velmor::store::contactLayout;

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
