// The speaker and listener lists of a voice room: each participant looked up
// among the shown group's stored members and sorted into speakers (owner,
// opener, granted speakers, and the user while allowed to speak) and
// listeners, in the room's order.
#pragma once

#include "store/records.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantList>

namespace velmor::voice {

struct RoomMarks
{
    QString self;   // the user's own key, trimmed
    QString owner;  // trimmed
    QString opener; // trimmed
    QSet<QString> speakerSet;
    QSet<QString> speakingSet;
    QSet<QString> mutedSet;
    bool canPublish = false;
    bool micEnabled = false;
};

struct ParticipantLists
{
    QVariantList speakers;
    QVariantList listeners;
};

// Fewer than 16 characters unchanged; longer ones as the first 6, "..." and
// the last 6.
QString shortAddress(const QString &text);

ParticipantLists buildParticipants(const QStringList &identities,
                                   const QList<velmor::chat::SuperGroupMemberRecord> &members,
                                   const RoomMarks &marks);

} // namespace velmor::voice
