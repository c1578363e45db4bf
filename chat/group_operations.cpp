#include "chat/group_operations.h"

#include "chat/chat_host.h"
#include "chat/chat_session.h"
#include "chat/error_model.h"
#include "chat/job_runner.h"
#include "chat/peer_keys.h"
#include "groups/discovery.h"
#include "groups/group_card.h"
#include "groups/group_engine.h"
#include "identity/crypto.h"
#include "identity/identity.h"
#include "store/chat_store.h"

#include <QHash>
#include <QJsonObject>
#include <QRegularExpression>

namespace velmor::chat {

namespace {

const QString kDefaultGroupName = QStringLiteral("新群聊");
constexpr int kMaxPickedMembers = kMaxGroupMembers - 1; // the owner is the twentieth

bool isMemberKey(const QString &key)
{
    const qsizetype size = velmor::crypto::base64UrlDecode(key).size();
    return size == 33 || size == 65;
}

QString groupPeer(const QString &groupId)
{
    return QString::fromLatin1(kGroupPeerPrefix) + groupId;
}

GroupRegistry &registry()
{
    return GroupRegistry::instance();
}

} // namespace

GroupOperations::GroupOperations(ChatHost &host, QObject *parent)
    : QObject(parent), m_host(host)
{
}

QMutex &GroupOperations::engineLock()
{
    static QMutex lock;
    return lock;
}

QStringList GroupOperations::keysFromText(const QString &text)
{
    static const QRegularExpression separators(QStringLiteral("[\\s,]+"));
    QStringList keys;
    for (const QString &part : text.split(separators, Qt::SkipEmptyParts)) {
        const QString key = part.trimmed();
        if (isMemberKey(key))
            keys.append(key);
    }
    return keys;
}

QStringList GroupOperations::keysFromList(const QVariantList &list)
{
    QStringList keys;
    for (const QVariant &value : list) {
        const QString key = value.toString().trimmed();
        if (isMemberKey(key) && !keys.contains(key))
            keys.append(key);
    }
    return keys;
}

QString GroupOperations::shortKey(const QString &address)
{
    if (address.size() < 14)
        return address;
    return address.left(6) + QStringLiteral("...") + address.right(6);
}

bool GroupOperations::refuse(const QString &word)
{
    m_host.errors().publishWord(word);
    return false;
}

void GroupOperations::start(const QString &operation, const QString &groupId, std::function<Outcome()> work,
                            std::function<void(const Outcome &)> applied)
{
    ++m_running;
    m_host.jobs().run<Outcome>(
        [work = std::move(work)] {
            QMutexLocker locked(&engineLock());
            return work();
        },
        [this, operation, groupId, applied = std::move(applied)](const Outcome &outcome) {
            const QString id = outcome.groupId.isEmpty() ? groupId : outcome.groupId;
            if (!outcome.ok) {
                m_host.errors().publishWord(outcome.error);
                emit finished(operation, id, false, outcome.error);
                return;
            }
            if (applied)
                applied(outcome);
            emit finished(operation, id, true, QString());
        },
        [this] { --m_running; });
}

bool GroupOperations::createGroup(const QString &nameIn, const QString &membersCsv)
{
    if (!m_host.session().storeOpen())
        return refuse(QStringLiteral("no_identity"));
    const QStringList keys = keysFromText(membersCsv);
    const QString name = nameIn.isEmpty() ? kDefaultGroupName : nameIn;
    start(
        QStringLiteral("create"), QString(),
        [name, keys] {
            const GroupCreateResult created = velmor::chat::createGroup(registry(), name, keys);
            return Outcome{created.ok, created.groupId, created.error};
        },
        [this](const Outcome &outcome) {
            const auto card = registry().card(outcome.groupId);
            ChatStore &store = m_host.session().store();
            store.ensureGroupConversation(outcome.groupId, card ? card->name : kDefaultGroupName);
            store.bumpConversationTimestamp(groupPeer(outcome.groupId), 0);
            m_host.reloadConversations();
            m_host.openConversation(groupPeer(outcome.groupId));
        });
    return true;
}

bool GroupOperations::createGroupFromContacts(const QString &name, const QVariantList &publicKeys)
{
    const QStringList keys = keysFromList(publicKeys);
    if (name.trimmed().isEmpty())
        return refuse(QStringLiteral("empty_name"));
    if (keys.size() > kMaxPickedMembers)
        return refuse(QStringLiteral("group_full"));
    return createGroup(name, keys.join(QLatin1Char(',')));
}

bool GroupOperations::addMembers(const QString &groupId, const QStringList &keys, bool rebuildConversations)
{
    if (keys.isEmpty())
        return refuse(QStringLiteral("invalid_members"));
    start(
        QStringLiteral("add"), groupId,
        [groupId, keys] {
            const GroupOpResult r = addGroupMembers(registry(), groupId, keys);
            return Outcome{r.ok, groupId, r.error};
        },
        [this, rebuildConversations](const Outcome &) {
            if (rebuildConversations)
                m_host.reloadConversations();
        });
    return true;
}

bool GroupOperations::removeMember(const QString &groupId, const QString &memberKey)
{
    start(QStringLiteral("remove"), groupId, [groupId, memberKey] {
        const GroupOpResult r = removeGroupMember(registry(), groupId, {memberKey});
        return Outcome{r.ok, groupId, r.error};
    });
    return true;
}

bool GroupOperations::rename(const QString &groupId, const QString &newName)
{
    start(
        QStringLiteral("rename"), groupId,
        [groupId, newName] {
            const GroupOpResult r = renameGroup(registry(), groupId, newName);
            return Outcome{r.ok, groupId, r.error};
        },
        [this, groupId](const Outcome &) {
            if (const auto card = registry().card(groupId)) {
                m_host.session().store().ensureGroupConversation(groupId, card->name);
                m_host.reloadConversations();
            }
        });
    return true;
}

bool GroupOperations::updateRemark(const QString &groupId, const QString &remark)
{
    start(QStringLiteral("remark"), groupId, [groupId, remark] {
        const GroupOpResult r = updateGroupCard(registry(), groupId, remark);
        return Outcome{r.ok, groupId, r.error};
    });
    return true;
}

bool GroupOperations::settingsRow(const QString &groupId, NormalGroupCardRecord *row) const
{
    for (const NormalGroupCardRecord &card : m_host.session().store().normalGroupCards()) {
        if (card.group_id == groupId) {
            *row = card;
            return true;
        }
    }
    return false;
}

bool GroupOperations::updateNickname(const QString &groupId, const QString &nickname)
{
    start(
        QStringLiteral("nickname"), groupId,
        [groupId, nickname] {
            const GroupOpResult r = sendMemberProfileUpdate(registry(), groupId, nickname, QString());
            return Outcome{r.ok, groupId, r.error};
        },
        [this, groupId, nickname](const Outcome &) {
            NormalGroupCardRecord row;
            if (settingsRow(groupId, &row))
                m_host.session().store().updateNormalGroupCardSettings(groupId, row.visible, nickname.trimmed(),
                                                                       row.muted);
            m_host.reloadMessages();
        });
    return true;
}

bool GroupOperations::setVisibility(const QString &groupId, bool visible)
{
    start(
        QStringLiteral("visibility"), groupId,
        [groupId, visible] {
            const GroupOpResult r = setGroupVisibility(registry(), groupId, visible);
            return Outcome{r.ok, groupId, r.error};
        },
        [this, groupId, visible](const Outcome &) {
            NormalGroupCardRecord row;
            if (settingsRow(groupId, &row))
                m_host.session().store().updateNormalGroupCardSettings(groupId, visible, row.my_nickname,
                                                                       row.muted);
        });
    return true;
}

void GroupOperations::setMuted(const QString &groupId, bool muted)
{
    NormalGroupCardRecord row;
    if (!m_host.session().storeOpen() || !settingsRow(groupId, &row))
        return;
    ChatStore &store = m_host.session().store();
    store.updateNormalGroupCardSettings(groupId, row.visible, row.my_nickname, muted);
    store.setConversationMuted(groupPeer(groupId), muted);
}

void GroupOperations::leaveOrDelete(const QString &groupId)
{
    if (groupId.isEmpty())
        return;
    // Nothing is sent to the members. The engine forgets the group with its
    // messages and remembers the card epoch it had, so an old card offered
    // again does not bring it back.
    start(
        QStringLiteral("leave"), groupId,
        [groupId] {
            const GroupOpResult r = deleteGroupLocally(registry(), groupId, true);
            return Outcome{r.ok, groupId, r.error};
        },
        [this, groupId](const Outcome &) { emit groupRemoved(groupId); });
}

QVariantMap GroupOperations::groupInfo(const QString &peer) const
{
    QVariantMap info{{QStringLiteral("isGroup"), false}};
    if (!isGroupPeer(peer))
        return info;
    const QString groupId = groupIdOfPeer(peer);
    const auto card = registry().card(groupId);
    if (!card)
        return info;
    const QString myKey = m_host.session().myKey();
    ChatStore &store = m_host.session().store();

    NormalGroupCardRecord row;
    const bool hasRow = settingsRow(groupId, &row);
    info.insert(QStringLiteral("isGroup"), true);
    info.insert(QStringLiteral("groupId"), groupId);
    info.insert(QStringLiteral("name"), card->name);
    info.insert(QStringLiteral("remark"), card->remark);
    info.insert(QStringLiteral("isOwner"), card->ownerRawPublicKey == myKey);
    info.insert(QStringLiteral("epoch"), card->epoch);
    info.insert(QStringLiteral("visible"), hasRow ? row.visible : true);
    info.insert(QStringLiteral("myNickname"), hasRow ? row.my_nickname : QString());
    info.insert(QStringLiteral("muted"), hasRow ? row.muted : false);
    info.insert(QStringLiteral("joinAddress"), QString::fromLatin1(kNormalGroupLinkPrefix) + card->adminPublicKey);

    // The card's profiles, each replaced by a stored one that is strictly newer.
    QHash<QString, QJsonObject> profiles;
    for (const GroupMemberProfile &member : card->members)
        profiles.insert(member.memberRawPublicKey, member.toJson());
    for (const QJsonObject &stored : store.normalGroupMemberProfiles(groupId)) {
        const QString key = stored.value(QStringLiteral("memberRawPublicKey")).toString();
        const auto held = profiles.constFind(key);
        if (held == profiles.constEnd()
            || stored.value(QStringLiteral("updatedAt")).toDouble()
                   > held->value(QStringLiteral("updatedAt")).toDouble())
            profiles.insert(key, stored);
    }

    QVariantList members;
    for (const QString &key : card->memberPublicKeys) {
        const QJsonObject profile = profiles.value(key);
        const QString address = velmor::identity::ethereumAddress(velmor::crypto::base64UrlDecode(key));
        const QString shortened = shortKey(address);
        const QString name = profile.value(QStringLiteral("displayName")).toString().trimmed();
        const QString avatarId = profile.value(QStringLiteral("avatarId")).toString();
        members.append(QVariantMap{
            {QStringLiteral("pubkey"), key},
            {QStringLiteral("name"), name.isEmpty() ? shortened : name},
            {QStringLiteral("address"), address},
            {QStringLiteral("shortKey"), shortened},
            {QStringLiteral("avatarId"), avatarId},
            {QStringLiteral("avatarKind"), avatarId.startsWith(QLatin1String("lottiehead_"))
                                               ? QStringLiteral("lottie")
                                               : QStringLiteral("image")},
            {QStringLiteral("isOwner"), key == card->ownerRawPublicKey},
            {QStringLiteral("isMe"), key == myKey},
        });
    }
    info.insert(QStringLiteral("members"), members);
    info.insert(QStringLiteral("memberCount"), qint64(members.size()));

    QVariantList candidates;
    for (const ContactRecord &contact : store.contacts()) {
        if (contact.blocked != 0 || contact.wallet_public_key == myKey
            || card->memberPublicKeys.contains(contact.wallet_public_key))
            continue;
        const QString remark = contact.remark.trimmed();
        candidates.append(QVariantMap{
            {QStringLiteral("publicKey"), contact.wallet_public_key},
            {QStringLiteral("address"), contact.erc20_address},
            {QStringLiteral("display"), remark.isEmpty() ? shortKey(contact.erc20_address) : remark},
            {QStringLiteral("avatarKind"), contact.avatar_kind},
            {QStringLiteral("avatarId"), contact.avatar_id},
        });
    }
    info.insert(QStringLiteral("addCandidates"), candidates);
    return info;
}

} // namespace velmor::chat
