#include "voice/room_participants.h"

#include <QHash>
#include <QVariantMap>

namespace velmor::voice {

QString shortAddress(const QString &text)
{
    if (text.size() < 16)
        return text;
    return text.left(6) + QStringLiteral("...") + text.right(6);
}

ParticipantLists buildParticipants(const QStringList &identities,
                                   const QList<velmor::chat::SuperGroupMemberRecord> &members,
                                   const RoomMarks &marks)
{
    QHash<QString, const velmor::chat::SuperGroupMemberRecord *> byKey;
    byKey.reserve(members.size());
    for (const auto &member : members)
        byKey.insert(member.public_key.trimmed(), &member);

    static const velmor::chat::SuperGroupMemberRecord nobody;
    ParticipantLists lists;
    for (const QString &identity : identities) {
        const QString key = identity.trimmed();
        const velmor::chat::SuperGroupMemberRecord &member = *byKey.value(key, &nobody);
        const bool self = !marks.self.isEmpty() && key == marks.self;
        const bool speaker = key == marks.owner || key == marks.opener || marks.speakerSet.contains(key)
            || (self && marks.canPublish);
        QString name = member.display_name.trimmed();
        if (name.isEmpty())
            name = shortAddress(member.address);
        if (name.isEmpty())
            name = QStringLiteral("未知地址");
        const QVariantMap entry{
            {QStringLiteral("pubkey"), identity},
            {QStringLiteral("name"), name},
            {QStringLiteral("address"), member.address},
            {QStringLiteral("avatarKind"), member.avatar_kind},
            {QStringLiteral("avatarId"), member.avatar_id},
            {QStringLiteral("role"), member.role},
            {QStringLiteral("self"), self},
            {QStringLiteral("speaker"), speaker},
            {QStringLiteral("speaking"), marks.speakingSet.contains(key)},
            {QStringLiteral("muted"), self ? !marks.micEnabled : marks.mutedSet.contains(key)},
        };
        (speaker ? lists.speakers : lists.listeners).append(entry);
    }
    return lists;
}

} // namespace velmor::voice
