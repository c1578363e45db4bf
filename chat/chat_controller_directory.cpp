// The façade's members for discovery and joining, notifications and join
// requests, and normal-group operations. Each forwards to its part once that
// part exists; until then the actions report "not_available" (and return
// false), the reads answer their empty value, and the session seams do
// nothing.
#include "chat/chat_controller.h"

void ChatController::importNormalJoinRequests()
{
}

void ChatController::rebuildNotifications()
{
}

void ChatController::reloadNotificationsInBackground()
{
}

void ChatController::resolveDiscoveryInput(const QString &input)
{
    Q_UNUSED(input);
    m_errors.publishNotAvailable(QStringLiteral("resolveDiscoveryInput"));
}

void ChatController::resolveQrImage(const QString &fileUrl)
{
    Q_UNUSED(fileUrl);
    m_errors.publishNotAvailable(QStringLiteral("resolveQrImage"));
}

bool ChatController::saveContactAndStartChat(const QString &remark)
{
    Q_UNUSED(remark);
    m_errors.publishNotAvailable(QStringLiteral("saveContactAndStartChat"));
    return false;
}

void ChatController::joinDiscoveredGroup(const QString &note)
{
    Q_UNUSED(note);
    m_errors.publishNotAvailable(QStringLiteral("joinDiscoveredGroup"));
}

void ChatController::reloadNotifications()
{
    // Nothing is fetched or stored yet: the (empty) list is announced as is.
    emit notificationsChanged();
}

void ChatController::resolveJoinNotification(const QString &kind, const QString &target,
                                             const QString &requesterPublicKey, const QString &action)
{
    Q_UNUSED(kind);
    Q_UNUSED(target);
    Q_UNUSED(requesterPublicKey);
    Q_UNUSED(action);
    m_errors.publishNotAvailable(QStringLiteral("resolveJoinNotification"));
}

bool ChatController::createGroupFromContacts(const QString &name, const QVariantList &publicKeys)
{
    Q_UNUSED(name);
    Q_UNUSED(publicKeys);
    m_errors.publishNotAvailable(QStringLiteral("createGroupFromContacts"));
    return false;
}

bool ChatController::createGroup(const QString &name, const QString &membersCsv)
{
    Q_UNUSED(name);
    Q_UNUSED(membersCsv);
    m_errors.publishNotAvailable(QStringLiteral("createGroup"));
    return false;
}

bool ChatController::addGroupMembers(const QString &groupId, const QString &membersCsv)
{
    Q_UNUSED(groupId);
    Q_UNUSED(membersCsv);
    m_errors.publishNotAvailable(QStringLiteral("addGroupMembers"));
    return false;
}

bool ChatController::addGroupMembersFromContacts(const QString &groupId, const QVariantList &publicKeys)
{
    Q_UNUSED(groupId);
    Q_UNUSED(publicKeys);
    m_errors.publishNotAvailable(QStringLiteral("addGroupMembersFromContacts"));
    return false;
}

bool ChatController::removeGroupMember(const QString &groupId, const QString &memberRawPubkey)
{
    Q_UNUSED(groupId);
    Q_UNUSED(memberRawPubkey);
    m_errors.publishNotAvailable(QStringLiteral("removeGroupMember"));
    return false;
}

bool ChatController::renameGroup(const QString &groupId, const QString &newName)
{
    Q_UNUSED(groupId);
    Q_UNUSED(newName);
    m_errors.publishNotAvailable(QStringLiteral("renameGroup"));
    return false;
}

bool ChatController::updateGroupRemark(const QString &groupId, const QString &remark)
{
    Q_UNUSED(groupId);
    Q_UNUSED(remark);
    m_errors.publishNotAvailable(QStringLiteral("updateGroupRemark"));
    return false;
}

bool ChatController::updateGroupNickname(const QString &groupId, const QString &nickname)
{
    Q_UNUSED(groupId);
    Q_UNUSED(nickname);
    m_errors.publishNotAvailable(QStringLiteral("updateGroupNickname"));
    return false;
}

bool ChatController::setGroupVisibility(const QString &groupId, bool visible)
{
    Q_UNUSED(groupId);
    Q_UNUSED(visible);
    m_errors.publishNotAvailable(QStringLiteral("setGroupVisibility"));
    return false;
}

void ChatController::setGroupMuted(const QString &groupId, bool muted)
{
    Q_UNUSED(groupId);
    Q_UNUSED(muted);
    m_errors.publishNotAvailable(QStringLiteral("setGroupMuted"));
}

void ChatController::leaveOrDeleteGroup(const QString &groupId)
{
    Q_UNUSED(groupId);
    m_errors.publishNotAvailable(QStringLiteral("leaveOrDeleteGroup"));
}

QVariantMap ChatController::currentGroupInfo()
{
    // Without the normal-group part there is no group information to show.
    return QVariantMap{{QStringLiteral("isGroup"), false}};
}
