#include "chat/supergroup_admin.h"

#include "chat/chat_host.h"
#include "chat/chat_session.h"
#include "chat/current_conversation.h"
#include "chat/error_model.h"
#include "chat/job_runner.h"
#include "chat/peer_keys.h"
#include "chat/supergroup_directory.h"
#include "chat/supergroup_rows.h"
#include "chat/supergroup_sync.h"
#include "groups/group_card.h"
#include "groups/group_engine.h"
#include "identity/crypto.h"
#include "identity/identity.h"
#include "identity/vault.h"
#include "net/service_error.h"
#include "net/supergroup_api.h"
#include "store/chat_store.h"

#include <QDebug>
#include <QJsonObject>
#include <QSet>

#include <algorithm>

namespace velmor::chat {

using velmor::sg::SGMember;
using velmor::sg::SuperGroupApi;

namespace {

QString avatarFromVault()
{
    return QString::fromUtf8(velmor::identity::CredentialVault::read(QStringLiteral("avatar")));
}

QString unknownAddressLabel()
{
    return QStringLiteral("未知地址");
}

} // namespace

struct SuperGroupAdmin::InfoResult
{
    QVariantMap map;
    bool membersOk = false;
    QList<SGMember> members; // sorted, with the addresses filled in
};

SuperGroupAdmin::SuperGroupAdmin(ChatHost &host, SuperGroupSync &sync, QObject *parent)
    : QObject(parent), m_host(host), m_sync(sync)
{
}

// ---- information --------------------------------------------------------------------

void SuperGroupAdmin::loadInfo(const QString &serverUrl)
{
    const QString myKey = m_host.session().myKey();
    const quint64 serial = ++m_nextSerial;
    m_latestLoad.insert(serverUrl, serial);
    m_host.jobs().run<InfoResult>(
        [serverUrl, myKey] {
            InfoResult result;
            result.map.insert(QStringLiteral("serverUrl"), serverUrl);
            const velmor::sg::SGGroupInfo info = SuperGroupApi::instance().groupInfo(serverUrl);
            if (!info.ok) {
                result.map.insert(QStringLiteral("valid"), false);
                return result;
            }
            QVariantMap &map = result.map;
            map.insert(QStringLiteral("valid"), true);
            map.insert(QStringLiteral("groupId"), info.groupId);
            map.insert(QStringLiteral("name"), info.name);
            map.insert(QStringLiteral("avatarUrl"), info.avatarUrl);
            map.insert(QStringLiteral("notice"), info.notice);
            map.insert(QStringLiteral("joinMode"), info.joinMode);
            map.insert(QStringLiteral("allMuted"), info.allMuted);
            map.insert(QStringLiteral("ownerPubkey"), info.ownerPubkey);
            map.insert(QStringLiteral("serverEncPubkey"), info.serverEncPubkey);
            map.insert(QStringLiteral("memberCount"), info.memberCount);
            map.insert(QStringLiteral("voiceEnabled"), info.voiceEnabled);
            map.insert(QStringLiteral("voiceUrl"), info.voiceUrl);

            velmor::sg::SGMemberList listed = SuperGroupApi::instance().memberList(serverUrl, myKey);
            result.membersOk = !listed.error.isError();
            // A list cut at the bound is shown as such; the user's own row
            // is in it wherever the server listed it.
            map.insert(QStringLiteral("membersPartial"), listed.partial);
            map.insert(QStringLiteral("membersListed"), listed.total);
            QList<SGMember> members = std::move(listed.members);
            std::sort(members.begin(), members.end(), sg::memberLess);
            QVariantList list;
            QString myRole;
            for (SGMember &member : members) {
                if (member.address.isEmpty()) {
                    const QByteArray key = velmor::crypto::base64UrlDecode(member.pubkey);
                    if (!key.isEmpty())
                        member.address = velmor::identity::ethereumAddress(key);
                }
                const QString shortKey = member.address.isEmpty() ? unknownAddressLabel()
                                                                   : shortAddress(member.address);
                const bool isMe = member.pubkey == myKey;
                if (isMe)
                    myRole = member.role;
                list.append(QVariantMap{
                    {QStringLiteral("pubkey"), member.pubkey},
                    {QStringLiteral("name"), member.displayName.isEmpty() ? shortKey : member.displayName},
                    {QStringLiteral("shortKey"), shortKey},
                    {QStringLiteral("role"), member.role},
                    {QStringLiteral("address"), member.address},
                    {QStringLiteral("avatarKind"), member.avatarKind},
                    {QStringLiteral("avatarId"), member.avatarId},
                    {QStringLiteral("isMe"), isMe},
                    {QStringLiteral("muted"), member.muted}});
            }
            map.insert(QStringLiteral("members"), list);
            map.insert(QStringLiteral("myRole"), myRole);
            result.members = std::move(members);
            return result;
        },
        [this, serverUrl, serial](const InfoResult &result) { applyInfo(serverUrl, serial, result); });
}

void SuperGroupAdmin::applyInfo(const QString &serverUrl, quint64 serial, const InfoResult &result)
{
    // A newer load of the same group is under way or done: this one is stale.
    if (m_latestLoad.value(serverUrl) != serial)
        return;
    m_latestLoad.remove(serverUrl);
    QVariantMap map = result.map;
    const bool open = m_host.current().peer() == SuperGroupDirectory::peerFor(serverUrl);
    if (map.value(QStringLiteral("valid")).toBool()) {
        ChatStore &store = m_host.session().store();
        const qint64 now = sg::nowSeconds();
        SuperGroupRecord row = sg::storedOrNew(serverUrl);
        QString myRole = map.value(QStringLiteral("myRole")).toString();
        if (result.membersOk) {
            QList<SuperGroupMemberRecord> records;
            records.reserve(result.members.size());
            for (const SGMember &member : result.members) {
                SuperGroupMemberRecord record;
                record.server_url = serverUrl;
                record.public_key = member.pubkey;
                record.address = member.address;
                record.display_name = member.displayName; // as the server gave it
                record.avatar_kind = member.avatarKind;
                record.avatar_id = member.avatarId;
                record.role = member.role;
                record.muted = member.muted;
                record.updated_at = now;
                records.append(record);
            }
            store.replaceSuperGroupMembers(serverUrl, records);
            row.role = myRole;
        } else {
            // The member list did not come: the user keeps the stored role.
            myRole = row.role;
            map.insert(QStringLiteral("myRole"), myRole);
        }
        map.insert(QStringLiteral("isManager"), sg::isManagerRole(myRole));
        map.insert(QStringLiteral("isOwner"), myRole == QLatin1String("owner"));

        const QString name = map.value(QStringLiteral("name")).toString();
        const QString serverKey = map.value(QStringLiteral("serverEncPubkey")).toString();
        const QString avatarUrl = map.value(QStringLiteral("avatarUrl")).toString();
        row.group_id = map.value(QStringLiteral("groupId")).toString();
        row.name = name;
        row.server_enc_public_key = serverKey;
        map.insert(QStringLiteral("myMuted"), row.muted);
        map.insert(QStringLiteral("groupKind"), row.group_kind);
        QJsonObject info = QJsonObject::fromVariantMap(map);
        info.remove(QStringLiteral("serverUrl"));
        row.info_json = sg::compactJson(info);
        row.updated_at = now;
        store.upsertSuperGroup(row);

        SuperGroupDirectory &groups = m_host.superGroups();
        SuperGroupRuntimeState state = groups.runtime(serverUrl);
        state.name = name;
        if (!serverKey.isEmpty())
            state.serverEncPubkey = serverKey;
        state.avatarUrl = avatarUrl;
        groups.setRuntime(serverUrl, state);
        if (open)
            emit headerChanged(serverUrl);

        QSet<QString> memberKeys;
        for (const SGMember &member : result.members)
            memberKeys.insert(member.pubkey);
        QVariantList candidates;
        if (m_contacts) {
            for (const QVariant &contact : m_contacts())
                if (!memberKeys.contains(contact.toMap().value(QStringLiteral("publicKey")).toString()))
                    candidates.append(contact);
        }
        map.insert(QStringLiteral("inviteCandidates"), candidates);
    }
    if (!open)
        return; // loaded for a group that is no longer open: not shown
    emit infoLoaded(map);
    emit currentChanged();
}

// ---- administration ---------------------------------------------------------------

void SuperGroupAdmin::runAction(const QString &serverUrl, std::function<bool()> request,
                                const QString &failureWord, bool refreshRole, std::function<void()> after)
{
    m_host.jobs().run<bool>(std::move(request),
                            [this, serverUrl, failureWord, refreshRole, after](bool ok) {
                                if (!ok) {
                                    if (refreshRole)
                                        m_sync.refreshAuthorization(serverUrl);
                                    m_host.errors().publishWord(failureWord);
                                }
                                emit infoReloadWanted();
                                if (after)
                                    after();
                            });
}

void SuperGroupAdmin::updateMeta(const QString &serverUrl, const QString &name, const QString &notice,
                                 bool joinOpen)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return;
    // The avatar is sent back as it is: the freshest known value, so that
    // renaming never reverts it.
    const auto stored = m_host.session().store().superGroup(serverUrl);
    const QString avatarUrl = sg::knownAvatarUrl(m_host.superGroups().runtime(serverUrl).avatarUrl,
                                                 stored ? &*stored : nullptr);
    const QString joinMode = joinOpen ? QStringLiteral("open") : QStringLiteral("invite");
    const QString text = notice.trimmed();
    runAction(serverUrl,
              [serverUrl, trimmed, avatarUrl, joinMode, text] {
                  return SuperGroupApi::instance().updateGroup(serverUrl, trimmed, avatarUrl, joinMode, text);
              },
              QStringLiteral("super_group_update_failed"), true);
}

void SuperGroupAdmin::setAllMuted(const QString &serverUrl, bool muted)
{
    runAction(serverUrl, [serverUrl, muted] { return SuperGroupApi::instance().setGroupMuted(serverUrl, muted); },
              QStringLiteral("super_group_mute_failed"), true, [this] { emit currentChanged(); });
}

void SuperGroupAdmin::updateProfile(const QString &serverUrl, const QString &nickname)
{
    const QString name = nickname.trimmed();
    runAction(serverUrl,
              [serverUrl, name] {
                  return SuperGroupApi::instance().updateMemberProfile(serverUrl, name, avatarFromVault());
              },
              QStringLiteral("profile_update_failed"), false);
}

void SuperGroupAdmin::setMuted(const QString &serverUrl, bool muted)
{
    // The user's own choice holds on this device whatever the server says.
    m_host.session().store().setSuperGroupMuted(serverUrl, muted);
    runAction(serverUrl, [serverUrl, muted] { return SuperGroupApi::instance().setMemberMuted(serverUrl, muted); },
              QStringLiteral("notification_mute_failed"), false, [this] { m_host.reloadConversations(); });
}

void SuperGroupAdmin::invite(const QString &serverUrl, const QVariantList &publicKeys)
{
    if (publicKeys.isEmpty())
        return;
    const QVariantList contacts = m_contacts ? m_contacts() : QVariantList();
    runAction(serverUrl,
              [serverUrl, publicKeys, contacts] {
                  bool all = true;
                  for (const QVariant &value : publicKeys) {
                      const QString key = value.toString();
                      QString remark;
                      QString avatarId;
                      for (const QVariant &contact : contacts) {
                          const QVariantMap map = contact.toMap();
                          if (map.value(QStringLiteral("publicKey")).toString() == key) {
                              remark = map.value(QStringLiteral("remark")).toString();
                              avatarId = map.value(QStringLiteral("avatarId")).toString();
                              break;
                          }
                      }
                      if (!SuperGroupApi::instance().inviteMember(serverUrl, key, remark, avatarId))
                          all = false;
                  }
                  return all;
              },
              QStringLiteral("member_invite_failed"), true);
}

void SuperGroupAdmin::remove(const QString &serverUrl, const QString &publicKey)
{
    if (publicKey.isEmpty())
        return;
    runAction(serverUrl, [serverUrl, publicKey] { return SuperGroupApi::instance().removeMember(serverUrl, publicKey); },
              QStringLiteral("member_remove_failed"), true);
}

void SuperGroupAdmin::setRole(const QString &serverUrl, const QString &publicKey, const QString &role)
{
    if (publicKey.isEmpty())
        return;
    runAction(serverUrl,
              [serverUrl, publicKey, role] {
                  return SuperGroupApi::instance().setMemberRole(serverUrl, publicKey, role);
              },
              QStringLiteral("member_role_failed"), true);
}

// ---- the user's profile in every group ----------------------------------------------

void SuperGroupAdmin::syncProfiles()
{
    ChatStore &store = m_host.session().store();
    const QString myKey = m_host.session().myKey();
    // Each group with the nickname the user has there; an empty text when
    // this device does not know it (the server is asked rather than told
    // an empty name).
    QList<QPair<QString, QString>> superGroups;
    QList<QPair<QString, bool>> known;
    for (const SuperGroupRecord &group : store.superGroups()) {
        const std::optional<SuperGroupMemberRecord> me = store.superGroupMember(group.server_url, myKey);
        superGroups.append({group.server_url, me ? me->display_name : QString()});
        known.append({group.server_url, me.has_value()});
    }
    QList<QPair<QString, QString>> normalGroups;
    for (const NormalGroupCardRecord &card : store.normalGroupCards())
        normalGroups.append({card.group_id, card.my_nickname});

    JobRunner::fireAndForget([superGroups, known, normalGroups, myKey] {
        const QString avatar = avatarFromVault();
        SuperGroupApi &api = SuperGroupApi::instance();
        for (qsizetype i = 0; i < superGroups.size(); ++i) {
            const QString &url = superGroups.at(i).first;
            QString nickname = superGroups.at(i).second;
            if (!known.at(i).second) {
                const velmor::sg::SGMemberList listed = api.memberList(url, myKey);
                // A failed list, or one without the user: sending an empty
                // name would wipe the one the server has.
                if (listed.error.isError() || listed.own < 0)
                    continue;
                nickname = listed.members.at(listed.own).displayName;
            }
            api.updateMemberProfile(url, nickname, avatar);
        }
        GroupRegistry &registry = GroupRegistry::instance();
        for (const auto &group : normalGroups)
            sendMemberProfileUpdate(registry, group.first, group.second, avatar);
    });
}

} // namespace velmor::chat
