#include "chat/current_conversation.h"

#include "chat/peer_keys.h"
#include "chat/supergroup_directory.h"
#include "groups/group_card.h"
#include "identity/content.h"
#include "net/relay_session.h"
#include "store/chat_store.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace velmor::chat {

namespace {

QJsonObject storedInfo(const SuperGroupRecord &group)
{
    return QJsonDocument::fromJson(group.info_json.toUtf8()).object();
}

} // namespace

void CurrentConversation::open(const QString &peer, const SuperGroupDirectory &superGroups)
{
    m_peer = peer;
    m_verified = false;
    m_official = false;
    m_titleFallback = false;
    m_address.clear();
    m_avatarKind.clear();
    m_avatarId.clear();

    if (isSuperGroupPeer(peer)) {
        const SuperGroupRuntimeState state = superGroups.runtime(serverUrlOfPeer(peer));
        m_title = state.name.isEmpty() ? QStringLiteral("超级群") : state.name;
        m_titleFallback = state.name.isEmpty();
        m_avatarId = state.avatarUrl.isEmpty() ? QStringLiteral("defaultgroupphoto") : state.avatarUrl;
        return;
    }

    ChatStore &store = ChatStore::instance();
    if (isGroupPeer(peer)) {
        m_avatarId = QStringLiteral("defaultgroupphoto");
        if (const auto card = GroupRegistry::instance().card(groupIdOfPeer(peer))) {
            m_title = card->name;
        } else if (const auto stored = store.conversationByPeer(peer)) {
            m_title = stored->peer_display_key;
        } else {
            m_title = QStringLiteral("群聊");
            m_titleFallback = true;
        }
        return;
    }

    if (isOfficialPeer(peer)) {
        m_title = officialAccountName();
        m_verified = true;
        m_official = true;
        return;
    }
    const QString derived = addressOfKey(peer);
    if (!derived.isEmpty() && derived.compare(authorAccountAddress(), Qt::CaseInsensitive) == 0) {
        m_title = authorAccountName();
        m_verified = true;
        m_address = authorAccountAddress();
        return;
    }
    const std::optional<ContactRecord> contact = store.contact(peer);
    if (contact) {
        m_address = contact->erc20_address;
        m_avatarKind = contact->avatar_kind;
        m_avatarId = contact->avatar_id;
        if (!contact->remark.trimmed().isEmpty()) {
            m_title = contact->remark.trimmed();
            return;
        }
        if (!contact->erc20_address.isEmpty()) {
            m_title = shortAddress(contact->erc20_address);
            return;
        }
    }
    m_address = derived;
    m_title = derived.isEmpty() ? QStringLiteral("未知地址") : shortAddress(derived);
    m_titleFallback = derived.isEmpty();
}

bool CurrentConversation::refreshGroupTitle(const SuperGroupDirectory &superGroups)
{
    if (!isGroupPeer(m_peer))
        return false;
    const QString before = m_title;
    const bool fallback = m_titleFallback;
    open(m_peer, superGroups);
    return m_title != before || m_titleFallback != fallback;
}

void CurrentConversation::closePeer()
{
    m_peer.clear();
    m_title.clear();
    m_titleFallback = false;
}

void CurrentConversation::clear()
{
    *this = CurrentConversation();
}

QString CurrentConversation::groupKind() const
{
    if (!isSuperGroupPeer(m_peer))
        return QString();
    const auto group = ChatStore::instance().superGroup(serverUrlOfPeer(m_peer));
    return group ? group->group_kind : QString();
}

QString CurrentConversation::groupSubtitle(const SuperGroupDirectory &superGroups) const
{
    if (!isSuperGroupPeer(m_peer))
        return QString();
    const QString url = serverUrlOfPeer(m_peer);
    const auto group = ChatStore::instance().superGroup(url);
    const int memberCount = group ? storedInfo(*group).value(QStringLiteral("memberCount")).toInt() : 0;
    const SuperGroupRuntimeState state = superGroups.runtime(url);
    QString status;
    if (state.connectionState == QLatin1String("connected") && state.latencyMs >= 0)
        status = QStringLiteral("%1ms").arg(state.latencyMs);
    else if (state.connectionState.isEmpty())
        status = QStringLiteral("连接中");
    else
        status = state.connectionState;
    return QStringLiteral("%1 位成员  %2").arg(QString::number(memberCount), status);
}

bool CurrentConversation::canSend() const
{
    if (isGroupPeer(m_peer)) {
        // A card that no longer lists the user (the owner removed it) makes
        // the group read-only here: no member would take what it sends.
        const auto card = GroupRegistry::instance().card(groupIdOfPeer(m_peer));
        const velmor::identity::Identity me = velmor::net::RelayAuthSession::instance().identity();
        return !card || !me.isValid() || card->hasMember(canonicalMemberKey(me.publicKeyText()));
    }
    if (!isSuperGroupPeer(m_peer))
        return true;
    const auto group = ChatStore::instance().superGroup(serverUrlOfPeer(m_peer));
    if (!group || !storedInfo(*group).value(QStringLiteral("allMuted")).toBool())
        return true;
    return group->role == QLatin1String("owner") || group->role == QLatin1String("admin");
}

QString CurrentConversation::normaliseNewChatKey(const QString &text, const QString &myKey, QString *error)
{
    const QString canonical = canonicalMemberKey(text.trimmed());
    if (canonical.isEmpty()) {
        if (error)
            *error = QStringLiteral("invalid_public_key");
        return QString();
    }
    if (!myKey.isEmpty() && canonical == canonicalMemberKey(myKey)) {
        if (error)
            *error = QStringLiteral("self_add");
        return QString();
    }
    return canonical;
}

} // namespace velmor::chat
