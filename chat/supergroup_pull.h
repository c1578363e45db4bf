// Stores a super group's pulled messages, on a pool thread, one batch per
// transaction: the window's thread only applies the outcome (the cursor,
// the read mark, what to tell and to show). A backlog is pulled batch after
// batch on the pool; the window hears of the stored batches through a
// SuperGroupPullChain, all that arrived since it last looked at once.
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
#include <QMutex>
#include <QString>

#include <functional>
#include <optional>

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

// Between a backlog's pool job and the window's thread: the batches stored
// that the window has not applied yet, merged into one outcome, and whether
// the job is to stop (the session ended, the group was removed, the window
// is gone). Thread-safe.
class SuperGroupPullChain
{
public:
    // Pool side: adds a stored batch. `wake` runs, under the chain's lock,
    // when the window had nothing waiting, so at most one wake is on its way;
    // it never runs once stop() was called. False when the job is to stop.
    bool add(const SuperGroupPullOutcome &batch, const std::function<void()> &wake);
    // Window side: what was stored since the last take, if anything.
    std::optional<SuperGroupPullOutcome> take();
    void stop();
    bool stopped() const;

private:
    mutable QMutex m_mutex;
    bool m_stopped = false;
    std::optional<SuperGroupPullOutcome> m_waiting;
};

// Folds a later batch into what was stored before it: the later cursor,
// read mark and media misses, and whether any batch stored, told or changed
// the group.
void mergeSuperGroupPull(SuperGroupPullOutcome &into, const SuperGroupPullOutcome &later);

// Pulls and stores batches of `limit` from the start's cursor while full
// batches move it, handing each stored batch to `chain`, until the backlog
// is done, a batch is not written or the chain is stopped. Gives the last
// batch's outcome. Runs on a pool thread.
SuperGroupPullOutcome pullSuperGroupBacklog(ChatStore &store, SuperGroupPullStart start, int limit, int mediaAttempts,
                                            SuperGroupPullChain &chain, const std::function<void()> &wake);

// One batch. The media of messages already stored in this group is not
// fetched again. Runs on a pool thread.
SuperGroupPullOutcome pullAndStoreSuperGroup(ChatStore &store, const SuperGroupPullStart &start, int limit,
                                             int mediaAttempts);

// Stores what the server answered, as above.
SuperGroupPullOutcome storeSuperGroupPull(ChatStore &store, const SuperGroupPullStart &start,
                                          const QList<velmor::sg::SGMessage> &messages, int mediaAttempts);

} // namespace velmor::chat
