#include "store/chat_store_internal.h"

namespace velmor::store {

namespace {

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
        {"card_stamp", &R::card_stamp},
    };
    return layout;
}

QJsonDocument readProfile(Row &r)
{
    return QJsonDocument::fromJson(r.text().toUtf8());
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

} // namespace
} // namespace velmor::store

using velmor::store::cardLayout;

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
                                      "avatar_id=excluded.avatar_id, updated_at=excluded.updated_at, "
                                      "card_stamp=excluded.card_stamp"),
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
