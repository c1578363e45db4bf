// The façade's members for discovery and joining, notifications and join
// requests, and normal-group operations: each forwards to its part
// (discovery_flow.h, join_requests.h, group_operations.h).
#include "chat/chat_controller.h"

#include "chat/directory_parts.h"
#include "chat/peer_keys.h"
#include "chat/supergroup_parts.h"

using namespace velmor::chat;

void ChatController::setUpDirectory()
{
    m_directory = std::make_unique<DirectoryParts>(host(), this);
    DiscoveryFlow &discovery = m_directory->discovery;
    connect(&discovery, &DiscoveryFlow::changed, this, &ChatController::discoveryChanged);
    connect(&discovery, &DiscoveryFlow::completed, this, &ChatController::discoveryCompleted);
    // The super-group part fetches the user's list again with the new group.
    connect(&discovery, &DiscoveryFlow::superGroupJoined, this, [this] { refreshSuperGroups(); });

    JoinRequestDesk &requests = m_directory->requests;
    connect(&requests, &JoinRequestDesk::changed, this, &ChatController::notificationsChanged);
    connect(&requests, &JoinRequestDesk::noticeRequested, this, &ChatController::systemNotificationRequested);
    // A refused decision: the user's role on that server is fetched again.
    connect(&requests, &JoinRequestDesk::superGroupAuthorizationStale, this, [this](const QString &serverUrl) {
        if (m_sg)
            m_sg->sync.refreshAuthorization(serverUrl);
    });

    GroupOperations &groups = m_directory->groups;
    connect(&groups, &GroupOperations::finished, this, &ChatController::groupOperationFinished);
    connect(&groups, &GroupOperations::groupRemoved, this, [this](const QString &groupId) {
        if (m_current.peer() == QString::fromLatin1(kGroupPeerPrefix) + groupId) {
            m_current.closePeer();
            m_messages.clear();
            emit currentChanged();
            emit messagesChanged();
        }
        reloadConversations();
    });
}

// ---- discovery and joining ---------------------------------------------------------

bool ChatController::discoveryBusy() const
{
    return m_directory->discovery.busy();
}

QVariantMap ChatController::discoveryResult() const
{
    return m_directory->discovery.result();
}

void ChatController::resolveDiscoveryInput(const QString &input)
{
    m_directory->discovery.resolveText(input);
}

void ChatController::resolveQrImage(const QString &fileUrl)
{
    m_directory->discovery.resolveQrImage(fileUrl);
}

void ChatController::clearDiscovery()
{
    m_directory->discovery.clear();
}

bool ChatController::saveContactAndStartChat(const QString &remark)
{
    return m_directory->discovery.saveContactAndStartChat(remark);
}

void ChatController::joinDiscoveredGroup(const QString &note)
{
    m_directory->discovery.joinGroup(note);
}

// ---- notifications and join requests ---------------------------------------------

QVariantList ChatController::notifications() const
{
    return m_directory->requests.entries();
}

int ChatController::notificationCount() const
{
    return int(m_directory->requests.entries().size());
}

void ChatController::importNormalJoinRequests()
{
    m_directory->requests.importNormalRequests();
}

void ChatController::rebuildNotifications()
{
    m_directory->requests.rebuild();
}

void ChatController::reloadNotificationsInBackground()
{
    m_directory->requests.fetchSuperGroupRequests();
}

void ChatController::reloadNotifications()
{
    m_directory->requests.reload();
}

void ChatController::resolveJoinNotification(const QString &kind, const QString &target,
                                             const QString &requesterPublicKey, const QString &action)
{
    m_directory->requests.resolve(kind, target, requesterPublicKey, action);
}

// ---- normal groups -----------------------------------------------------------------

bool ChatController::createGroupFromContacts(const QString &name, const QVariantList &publicKeys)
{
    return m_directory->groups.createGroupFromContacts(name, publicKeys);
}

bool ChatController::createGroup(const QString &name, const QString &membersCsv)
{
    return m_directory->groups.createGroup(name, membersCsv);
}

bool ChatController::addGroupMembers(const QString &groupId, const QString &membersCsv)
{
    return m_directory->groups.addMembers(groupId, GroupOperations::keysFromText(membersCsv), false);
}

bool ChatController::addGroupMembersFromContacts(const QString &groupId, const QVariantList &publicKeys)
{
    return m_directory->groups.addMembers(groupId, GroupOperations::keysFromList(publicKeys), true);
}

bool ChatController::removeGroupMember(const QString &groupId, const QString &memberRawPubkey)
{
    return m_directory->groups.removeMember(groupId, memberRawPubkey);
}

bool ChatController::renameGroup(const QString &groupId, const QString &newName)
{
    return m_directory->groups.rename(groupId, newName);
}

bool ChatController::updateGroupRemark(const QString &groupId, const QString &remark)
{
    return m_directory->groups.updateRemark(groupId, remark);
}

bool ChatController::updateGroupNickname(const QString &groupId, const QString &nickname)
{
    return m_directory->groups.updateNickname(groupId, nickname);
}

bool ChatController::setGroupVisibility(const QString &groupId, bool visible)
{
    return m_directory->groups.setVisibility(groupId, visible);
}

void ChatController::setGroupMuted(const QString &groupId, bool muted)
{
    m_directory->groups.setMuted(groupId, muted);
}

void ChatController::leaveOrDeleteGroup(const QString &groupId)
{
    m_directory->groups.leaveOrDelete(groupId);
}

QVariantMap ChatController::currentGroupInfo()
{
    return m_directory->groups.groupInfo(m_current.peer());
}
