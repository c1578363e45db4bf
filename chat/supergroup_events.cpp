#include "chat/supergroup_events.h"

#include "chat/chat_host.h"
#include "chat/chat_session.h"
#include "chat/current_conversation.h"
#include "chat/supergroup_directory.h"
#include "chat/supergroup_rows.h"
#include "chat/supergroup_sync.h"
#include "net/http.h"
#include "store/chat_store.h"

#include <QJsonValue>
#include <QVariantList>

namespace velmor::chat {

namespace {

QString valueText(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble())
        return QString::number(velmor::net::jsonInteger(value));
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return QString();
}

QString dataText(const QJsonObject &data, const char *key)
{
    return valueText(data.value(QLatin1String(key)));
}

} // namespace

SuperGroupEvents::SuperGroupEvents(ChatHost &host, SuperGroupSync &sync, QObject *parent)
    : QObject(parent), m_host(host), m_sync(sync)
{
}

QString SuperGroupEvents::eventId(const QJsonObject &event, const QJsonObject &data)
{
    for (const char *key : {"event_id", "id", "seq"}) {
        const QString id = valueText(event.value(QLatin1String(key)));
        if (!id.isEmpty())
            return id;
    }
    return dataText(data, "pubkey") + QLatin1Char(':') + dataText(data, "role") + QLatin1Char(':')
        + dataText(data, "created_at");
}

bool SuperGroupEvents::seenBefore(const QString &serverUrl, const QJsonObject &event)
{
    // Only ids the server gave count; an event without one cannot be told
    // from a new one and is applied.
    QString id;
    for (const char *key : {"event_id", "id"}) {
        id = valueText(event.value(QLatin1String(key)));
        if (!id.isEmpty())
            break;
    }
    if (id.isEmpty())
        return false;
    id = valueText(event.value(QStringLiteral("type"))) + QLatin1Char('\n') + id;
    SeenIds &seen = m_seen[serverUrl];
    if (seen.ids.contains(id))
        return true;
    seen.ids.insert(id);
    seen.order.append(id);
    if (seen.order.size() > kRememberedIds)
        seen.ids.remove(seen.order.takeFirst());
    return false;
}

void SuperGroupEvents::handle(const QString &serverUrl, const QString &type, const QJsonObject &event)
{
    if (seenBefore(serverUrl, event))
        return;
    const QJsonValue dataValue = event.value(QStringLiteral("data"));
    const QJsonObject data = dataValue.isObject() ? dataValue.toObject() : QJsonObject();
    const QString myKey = m_host.session().myKey();
    const bool mine = !myKey.isEmpty() && dataText(data, "pubkey") == myKey;

    if (type == QLatin1String("server.inbox.new"))
        m_sync.pull(serverUrl);
    else if (type == QLatin1String("server.join_request") || type == QLatin1String("server.join_resolved"))
        emit notificationsReloadWanted();
    else if (type == QLatin1String("server.member.updated") || type == QLatin1String("server.member.joined"))
        upsertMember(serverUrl, type, event, data, mine);
    else if (type == QLatin1String("server.member.left"))
        removeMember(serverUrl, event, data, mine);
    else if (type == QLatin1String("server.member.role"))
        changeRole(serverUrl, event, data, mine);
    else if (type == QLatin1String("server.voice.opened") || type == QLatin1String("server.voice.closed"))
        voiceRoom(serverUrl, type, event, data);
    else if (type == QLatin1String("server.group.updated"))
        groupUpdated(serverUrl, data);

    emit superGroupEvent(serverUrl, type, data.toVariantMap());
}

void SuperGroupEvents::upsertMember(const QString &serverUrl, const QString &type, const QJsonObject &event,
                                    const QJsonObject &data, bool mine)
{
    const QString pubkey = dataText(data, "pubkey");
    if (pubkey.isEmpty())
        return;
    ChatStore &store = m_host.session().store();
    // This member's row alone: what the event leaves empty stays as stored
    // (a group's list may hold tens of thousands).
    SuperGroupMemberRecord member = store.superGroupMember(serverUrl, pubkey).value_or(SuperGroupMemberRecord());
    member.server_url = serverUrl;
    member.public_key = pubkey;
    const auto take = [](QString &field, const QString &given) {
        if (!given.isEmpty())
            field = given;
    };
    take(member.display_name, dataText(data, "display_name"));
    take(member.avatar_id, dataText(data, "avatar_url"));
    take(member.address, dataText(data, "address"));
    take(member.role, dataText(data, "role"));
    member.updated_at = sg::nowSeconds();
    store.upsertSuperGroupMember(member);
    if (!mine)
        return;
    if (type == QLatin1String("server.member.joined"))
        record(QStringLiteral("super_invite"), serverUrl, event, data);
    m_sync.refreshAuthorization(serverUrl);
}

void SuperGroupEvents::removeMember(const QString &serverUrl, const QJsonObject &event, const QJsonObject &data,
                                    bool mine)
{
    record(QStringLiteral("member_removed"), serverUrl, event, data);
    m_host.session().store().deleteSuperGroupMember(serverUrl, dataText(data, "pubkey"));
    if (!mine)
        return;
    emit systemNotificationRequested(SuperGroupDirectory::peerFor(serverUrl), groupTitle(serverUrl),
                                     QStringLiteral("您的群组成员状态已更新"));
    m_sync.refreshAuthorization(serverUrl);
}

void SuperGroupEvents::changeRole(const QString &serverUrl, const QJsonObject &event, const QJsonObject &data,
                                  bool mine)
{
    record(QStringLiteral("member_role"), serverUrl, event, data);
    ChatStore &store = m_host.session().store();
    const QString role = dataText(data, "role");
    if (std::optional<SuperGroupMemberRecord> member = store.superGroupMember(serverUrl, dataText(data, "pubkey"))) {
        member->role = role;
        member->updated_at = sg::nowSeconds();
        store.upsertSuperGroupMember(*member);
    }
    if (!mine)
        return;
    m_sync.takeRole(serverUrl, role);
    m_sync.refreshAuthorization(serverUrl);
}

void SuperGroupEvents::voiceRoom(const QString &serverUrl, const QString &type, const QJsonObject &event,
                                 const QJsonObject &data)
{
    const bool opened = type == QLatin1String("server.voice.opened");
    record(opened ? QStringLiteral("voice_opened") : QStringLiteral("voice_closed"), serverUrl, event, data);
    emit voiceRoomOpenChanged(serverUrl, opened);
    const QString peer = SuperGroupDirectory::peerFor(serverUrl);
    if (opened && m_host.current().peer() != peer)
        emit systemNotificationRequested(peer, groupTitle(serverUrl), QStringLiteral("语音聊天室已开启"));
}

void SuperGroupEvents::groupUpdated(const QString &serverUrl, const QJsonObject &data)
{
    ChatStore &store = m_host.session().store();
    SuperGroupDirectory &groups = m_host.superGroups();
    SuperGroupRecord row = sg::storedOrNew(serverUrl);
    SuperGroupRuntimeState state = groups.runtime(serverUrl);
    const QString peer = SuperGroupDirectory::peerFor(serverUrl);
    const QString name = dataText(data, "name");
    const QString avatarUrl = dataText(data, "avatar_url");
    QVariantList entries = groups.entries();
    qsizetype entryIndex = -1;
    for (qsizetype i = 0; i < entries.size() && entryIndex < 0; ++i)
        if (entries.at(i).toMap().value(QStringLiteral("peer")).toString() == peer)
            entryIndex = i;
    QVariantMap entry = entryIndex >= 0 ? entries.at(entryIndex).toMap() : QVariantMap();
    if (!name.isEmpty()) {
        row.name = name;
        state.name = name;
        entry.insert(QStringLiteral("display"), name);
        entry.insert(QStringLiteral("displayFallback"), false);
    }
    if (!avatarUrl.isEmpty()) {
        state.avatarUrl = avatarUrl;
        entry.insert(QStringLiteral("sgAvatarUrl"), avatarUrl);
    }
    if (entryIndex >= 0)
        entries[entryIndex] = entry;
    groups.setRuntime(serverUrl, state);
    groups.setEntries(entries);

    QJsonObject info = sg::infoObject(row);
    for (auto it = data.constBegin(); it != data.constEnd(); ++it) {
        // The avatar is kept under one key only.
        if (it.key() == QLatin1String("avatar_url"))
            info.insert(QLatin1String(sg::kInfoAvatarKey), it.value());
        else
            info.insert(it.key(), it.value());
    }
    if (data.contains(QStringLiteral("all_muted")))
        info.insert(QStringLiteral("allMuted"), data.value(QStringLiteral("all_muted")));
    if (data.contains(QStringLiteral("member_count")))
        info.insert(QStringLiteral("memberCount"), data.value(QStringLiteral("member_count")));
    row.info_json = sg::compactJson(info);
    row.updated_at = sg::nowSeconds();
    store.upsertSuperGroup(row);
    m_host.reloadConversations();
    emit currentChanged();
}

void SuperGroupEvents::record(const QString &kind, const QString &serverUrl, const QJsonObject &event,
                              const QJsonObject &data)
{
    ChatStore &store = m_host.session().store();
    const auto group = store.superGroup(serverUrl);
    NotificationEventRecord row;
    row.stable_id = QStringLiteral("event:") + kind + QLatin1Char(':') + serverUrl + QLatin1Char(':')
        + eventId(event, data);
    row.event_type = kind;
    row.server_url = serverUrl;
    row.requester_public_key = dataText(data, "pubkey");
    row.requester_address = dataText(data, "address");
    row.requester_profile_json = sg::compactJson(data);
    row.group_name = group ? group->name : QString();
    row.group_kind = group ? group->group_kind : QString();
    row.state = QStringLiteral("handled");
    const qint64 now = sg::nowSeconds();
    const qint64 createdAt = velmor::net::jsonInteger(data.value(QStringLiteral("created_at")));
    row.created_at = createdAt >= 1 ? createdAt : now;
    row.handled_at = now;
    store.upsertNotificationEvent(row);
}

QString SuperGroupEvents::groupTitle(const QString &serverUrl) const
{
    const auto group = m_host.session().store().superGroup(serverUrl);
    return group ? group->name : QStringLiteral("Pelorin");
}

} // namespace velmor::chat
