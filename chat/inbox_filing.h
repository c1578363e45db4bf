// Filing pulled envelopes into the store, on the pull's pool thread: the
// window's thread only shows what was filed (Inbox). A page goes in
// transactions of at most kSliceEnvelopes envelopes, each ended early once
// its envelopes took kSliceBudgetMs, so that no transaction holds the store
// long for the window's own writes. Every transaction is made only while the
// store is still the owner's (a sign-out or another owner's sign-in in the
// middle ends the filing; what was committed stays, unacknowledged, and the
// relay offers it again). Only the ids of envelopes kept by a committed
// transaction are to be acknowledged.
#pragma once

#include "chat/conversation_list.h"
#include "chat/inbound_processor.h"
#include "groups/group_engine.h"
#include "identity/identity.h"
#include "net/relay_api.h"
#include "store/records.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace velmor::chat {

struct Filing
{
    static constexpr int kSliceEnvelopes = 100;
    static constexpr int kSliceBudgetMs = 12;

    bool stored = true;          // false: a transaction never reached the disk; nothing after it was filed
    qsizetype consumed = 0;      // envelopes filed (or refused), from the front
    QStringList ackIds;          // kept envelopes, to acknowledge (none for set-aside group messages)
    bool otherChanges = false;   // what the lists show changed otherwise than by message rows
    bool joinRequests = false;
    QList<InboundNotice> notices;
    QList<GroupFollowUp> followUps; // to run once shown (cancelled when the result is dropped)
    QList<MessageRecord> rows;   // the message rows written, in order
    // The conversations those rows went to, as stored once they were in.
    QList<ConversationList::Changed> conversations;

    bool changed() const { return otherChanges || !rows.isEmpty(); }
    void append(Filing more);
};

// Files `envelopes` (opened already, or opened here) for `me` into the store
// while it is `owner`'s. With `parked`, files instead the set-aside group
// messages readable again (the list is ignored). `budgetMs` 0: one
// transaction for everything.
Filing fileEnvelopes(const QList<RawEnvelope> &envelopes, const velmor::identity::Identity &me,
                     const QString &owner, bool parked = false, int budgetMs = Filing::kSliceBudgetMs);

} // namespace velmor::chat
