// The façade's members for super groups. Each forwards to its part
// (supergroup_parts.h); the parts' signals become the controller's own.
#include "chat/chat_controller.h"

#include "chat/peer_keys.h"
#include "chat/supergroup_parts.h"

using namespace velmor::chat;

void ChatController::setUpSuperGroups()
{
    m_sg = std::make_unique<SuperGroupParts>(host());
    SuperGroupParts &sg = *m_sg;

    connect(&sg.sync, &SuperGroupSync::headerChanged, this, &ChatController::refreshCurrentSuperGroupHeader);
    connect(&sg.sync, &SuperGroupSync::currentChanged, this, &ChatController::currentChanged);
    connect(&sg.sync, &SuperGroupSync::notificationsReloadWanted, this, &ChatController::reloadNotifications);
    connect(&sg.sync, &SuperGroupSync::roleRefreshed, this, [this](const QString &serverUrl) {
        if (m_current.peer() == SuperGroupDirectory::peerFor(serverUrl))
            loadSuperGroupInfo();
    });

    sg.admin.setContactsSource([this] { return m_contacts.contacts(); });
    connect(&sg.admin, &SuperGroupAdmin::infoLoaded, this, &ChatController::superGroupInfoLoaded);
    connect(&sg.admin, &SuperGroupAdmin::currentChanged, this, &ChatController::currentChanged);
    connect(&sg.admin, &SuperGroupAdmin::infoReloadWanted, this, &ChatController::loadSuperGroupInfo);
    connect(&sg.admin, &SuperGroupAdmin::headerChanged, this, &ChatController::refreshCurrentSuperGroupHeader);

    connect(&sg.events, &SuperGroupEvents::voiceRoomOpenChanged, this, &ChatController::voiceRoomOpenChanged);
    connect(&sg.events, &SuperGroupEvents::superGroupEvent, this, &ChatController::superGroupEvent);
    connect(&sg.events, &SuperGroupEvents::systemNotificationRequested, this,
            &ChatController::systemNotificationRequested);
    connect(&sg.events, &SuperGroupEvents::currentChanged, this, &ChatController::currentChanged);
    connect(&sg.events, &SuperGroupEvents::notificationsReloadWanted, this, &ChatController::reloadNotifications);

    connect(&sg.roster, &SuperGroupRoster::connectionStateChanged, this,
            &ChatController::updateConversationConnectionState);
    connect(&sg.roster, &SuperGroupRoster::notificationsReloadWanted, this, &ChatController::reloadNotifications);

    connect(&sg.creation, &SuperGroupCreation::capacityLoaded, this, &ChatController::sgCapacityLoaded);
    connect(&sg.creation, &SuperGroupCreation::createCompleted, this, &ChatController::sgCreateCompleted);
    connect(&sg.creation, &SuperGroupCreation::joinCompleted, this, &ChatController::superGroupJoinCompleted);
}

void ChatController::refreshCurrentSuperGroupHeader(const QString &serverUrl)
{
    const QString peer = SuperGroupDirectory::peerFor(serverUrl);
    if (m_current.peer() != peer)
        return;
    // Title and avatar of a super group come from its runtime record.
    m_current.open(peer, m_superGroups);
    emit currentChanged();
}

void ChatController::refreshSuperGroupsInBackground()
{
    m_sg->roster.refresh();
}

void ChatController::stopSuperGroupClients()
{
    m_sg->roster.stopClients();
    m_sg->events.forget();
}

void ChatController::openSuperGroup(const QString &serverUrl)
{
    m_sg->sync.open(serverUrl);
}

void ChatController::pullSuperGroup(const QString &serverUrl)
{
    m_sg->sync.pull(serverUrl);
}

void ChatController::loadSuperGroupInfo()
{
    const QString peer = m_current.peer();
    if (!isSuperGroupPeer(peer)) {
        emit superGroupInfoLoaded(QVariantMap{{QStringLiteral("valid"), false}});
        return;
    }
    m_sg->admin.loadInfo(serverUrlOfPeer(peer));
}

void ChatController::updateSuperGroupMeta(const QString &name, const QString &notice, bool joinOpen)
{
    if (isSuperGroupPeer(m_current.peer()))
        m_sg->admin.updateMeta(serverUrlOfPeer(m_current.peer()), name, notice, joinOpen);
}

void ChatController::setSuperGroupAllMuted(bool muted)
{
    if (isSuperGroupPeer(m_current.peer()))
        m_sg->admin.setAllMuted(serverUrlOfPeer(m_current.peer()), muted);
}

void ChatController::updateSuperGroupProfile(const QString &nickname)
{
    if (isSuperGroupPeer(m_current.peer()))
        m_sg->admin.updateProfile(serverUrlOfPeer(m_current.peer()), nickname);
}

void ChatController::setSuperGroupMuted(bool muted)
{
    if (isSuperGroupPeer(m_current.peer()))
        m_sg->admin.setMuted(serverUrlOfPeer(m_current.peer()), muted);
}

void ChatController::inviteSuperGroupMembers(const QVariantList &publicKeys)
{
    if (isSuperGroupPeer(m_current.peer()))
        m_sg->admin.invite(serverUrlOfPeer(m_current.peer()), publicKeys);
}

void ChatController::removeSuperGroupMember(const QString &publicKey)
{
    if (isSuperGroupPeer(m_current.peer()))
        m_sg->admin.remove(serverUrlOfPeer(m_current.peer()), publicKey);
}

void ChatController::setSuperGroupMemberRole(const QString &publicKey, const QString &role)
{
    if (isSuperGroupPeer(m_current.peer()))
        m_sg->admin.setRole(serverUrlOfPeer(m_current.peer()), publicKey, role);
}

void ChatController::syncSuperGroupProfiles()
{
    m_sg->admin.syncProfiles();
}

void ChatController::refreshSuperGroups()
{
    m_sg->roster.refresh();
}

bool ChatController::joinSuperGroup(const QString &serverUrl, const QString &note)
{
    return m_sg->creation.join(serverUrl, note);
}

void ChatController::fetchSgCapacity()
{
    m_sg->creation.fetchCapacity();
}

void ChatController::createSuperGroup(const QString &creationKey, const QString &name, const QString &type)
{
    m_sg->creation.create(creationKey, name, type);
}
