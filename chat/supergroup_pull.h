// Stores one pulled batch of a super group's messages, on a pool thread, in
// one transaction: the window's thread only applies the outcome (the
// cursor, the read mark, what to tell and to show).
//
// The pull cursor moves only past messages that were handled: an image or
// voice message whose media could not be fetched is not stored without it;
// the cursor stays before it, so the next pull takes it again. A message
// whose media stays missing after a few pulls is stored without it, so one
// lost file never stalls a group.
#pragma once

#include "net/supergroup_api.h"

#include <QHash>
#include <QList>
#include <QString>

class ChatStore;

namespace velmor::chat {

// What the pull starts from, taken on the window's thread.
struct SuperGroupPullStart
{
    QString serverUrl;
    QString ownerKey;     // the store's owner when the pull began: it must still be theirs
    QString myKey;
    qint64 lastMessageSeq = 0; // the cursor
    qint64 lastReadSeq = 0;
    // Pulls each held message of this group came back without its media
    // (the group's peer + "\n" + the message id).
    QHash<QString, int> mediaMisses;
};

struct SuperGroupPullOutcome
{
    bool written = false;      // the batch's transaction was committed
    int pulled = 0;            // messages the server answered with
    qint64 lastMessageSeq = 0; // the cursor after this batch
    qint64 lastReadSeq = 0;    // moved over blocked senders' messages only
    bool stored = false;       // a new message was stored
    bool incoming = false;     // ... and one not the user's own
    bool infoChanged = false;  // the group's name or picture changed
    QHash<QString, int> mediaMisses; // the group's misses after this batch
    QString groupName;         // for the notice, as stored
    bool muted = false;
};

// The media of messages already stored in this group is not fetched
// again. Runs on a pool thread.
SuperGroupPullOutcome pullAndStoreSuperGroup(ChatStore &store, const SuperGroupPullStart &start, int limit,
                                             int mediaAttempts);

// Stores what the server answered, as above.
SuperGroupPullOutcome storeSuperGroupPull(ChatStore &store, const SuperGroupPullStart &start,
                                          const QList<velmor::sg::SGMessage> &messages, int mediaAttempts);

} // namespace velmor::chat
