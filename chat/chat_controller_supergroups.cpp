// The façade's members for super groups: information and administration,
// creation, capacity and joining, open/pull/read state, the user's group list
// with its realtime clients, and realtime events. Each forwards to its part
// once that part exists; until then the actions report "not_available", the
// signals that answer every call still come (superGroupInfoLoaded with
// "valid" false, sgCapacityLoaded and sgCreateCompleted with ok false), and
// the session seams do nothing.
#include "chat/chat_controller.h"

#include "chat/peer_keys.h"

void ChatController::refreshSuperGroupsInBackground()
{
}

void ChatController::stopSuperGroupClients()
{
}

void ChatController::openSuperGroup(const QString &serverUrl)
{
    Q_UNUSED(serverUrl);
}

void ChatController::pullSuperGroup(const QString &serverUrl)
{
    Q_UNUSED(serverUrl);
}

void ChatController::loadSuperGroupInfo()
{
    if (!velmor::chat::isSuperGroupPeer(m_current.peer()))
        return;
    emit superGroupInfoLoaded(QVariantMap{{QStringLiteral("valid"), false}});
    emit currentChanged();
}

void ChatController::updateSuperGroupMeta(const QString &name, const QString &notice, bool joinOpen)
{
    Q_UNUSED(name);
    Q_UNUSED(notice);
    Q_UNUSED(joinOpen);
    m_errors.publishNotAvailable(QStringLiteral("updateSuperGroupMeta"));
}

void ChatController::setSuperGroupAllMuted(bool muted)
{
    Q_UNUSED(muted);
    m_errors.publishNotAvailable(QStringLiteral("setSuperGroupAllMuted"));
}

void ChatController::updateSuperGroupProfile(const QString &nickname)
{
    Q_UNUSED(nickname);
    m_errors.publishNotAvailable(QStringLiteral("updateSuperGroupProfile"));
}

void ChatController::setSuperGroupMuted(bool muted)
{
    Q_UNUSED(muted);
    m_errors.publishNotAvailable(QStringLiteral("setSuperGroupMuted"));
}

void ChatController::inviteSuperGroupMembers(const QVariantList &publicKeys)
{
    Q_UNUSED(publicKeys);
    m_errors.publishNotAvailable(QStringLiteral("inviteSuperGroupMembers"));
}

void ChatController::removeSuperGroupMember(const QString &publicKey)
{
    Q_UNUSED(publicKey);
    m_errors.publishNotAvailable(QStringLiteral("removeSuperGroupMember"));
}

void ChatController::setSuperGroupMemberRole(const QString &publicKey, const QString &role)
{
    Q_UNUSED(publicKey);
    Q_UNUSED(role);
    m_errors.publishNotAvailable(QStringLiteral("setSuperGroupMemberRole"));
}

void ChatController::syncSuperGroupProfiles()
{
    // Fire-and-forget by design: it reports nothing, also while it has
    // nothing to send.
}

void ChatController::refreshSuperGroups()
{
    m_errors.publishNotAvailable(QStringLiteral("refreshSuperGroups"));
}

bool ChatController::joinSuperGroup(const QString &serverUrl, const QString &note)
{
    Q_UNUSED(serverUrl);
    Q_UNUSED(note);
    m_errors.publishNotAvailable(QStringLiteral("joinSuperGroup"));
    return false;
}

void ChatController::fetchSgCapacity()
{
    m_errors.publishNotAvailable(QStringLiteral("fetchSgCapacity"));
    emit sgCapacityLoaded(false, 0, 0);
}

void ChatController::createSuperGroup(const QString &creationKey, const QString &name, const QString &type)
{
    Q_UNUSED(creationKey);
    Q_UNUSED(name);
    Q_UNUSED(type);
    m_errors.publishNotAvailable(QStringLiteral("createSuperGroup"));
    emit sgCreateCompleted(false, QString::fromLatin1(velmor::chat::ErrorModel::kNotAvailableWord));
}
