#include "chat/inbox_filing.h"

#include "groups/group_card.h"
#include "store/chat_store.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QSet>

#include <utility>

namespace velmor::chat {

namespace {

// The collected rows of a slice in one write; when that write fails as a
// whole (a statement failed, not one refused id), each row on its own, so
// that one bad row costs only itself. One flag per row: written or not.
QList<bool> writeRows(ChatStore &store, const QList<MessageRecord> &rows)
{
    QList<bool> written;
    if (rows.isEmpty() || store.upsertMessages(rows, &written))
        return written;
    written.clear();
    for (const MessageRecord &row : rows)
        written.append(store.upsertMessage(row));
    return written;
}

// One transaction: envelopes from the front of the list until all are done
// or budgetMs (0: no limit) has passed.
// `parked`: the set-aside messages of `parkedGroups` instead of `pulled`.
Filing fileSlice(ChatStore &store, const QList<RawEnvelope> &pulled, const velmor::identity::Identity &me,
                 const QString &owner, bool parked, int budgetMs, const QStringList &parkedGroups = {})
{
    Filing slice;
    QElapsedTimer clock;
    clock.start();
    GroupRegistry &registry = GroupRegistry::instance();
    InboundProcessor processor(store, registry, me);
    ChatStore::Batch batch(store, owner);
    if (!batch.active()) {
        // The session's store is gone (signed out, or another owner's now).
        slice.stored = false;
        return slice;
    }
    processor.setBatched(true);
    // Taken out of the store inside the batch: back there if it fails.
    const QList<RawEnvelope> envelopes = parked ? takeReadableParked(registry, parkedGroups) : pulled;
    QList<InboundVerdict> verdicts;
    verdicts.reserve(envelopes.size());
    for (const RawEnvelope &envelope : envelopes) {
        verdicts.append(processor.handle(envelope));
        // A busy machine makes each envelope slower: the transaction ends
        // early rather than holding the store longer.
        if (budgetMs > 0 && clock.elapsed() >= budgetMs)
            break;
    }
    slice.consumed = verdicts.size();
    const QList<MessageRecord> rows = processor.takeMessageRows();
    const QList<bool> written = writeRows(store, rows);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (written.value(i))
            slice.rows.append(rows.at(i));
    }
    for (qsizetype i = 0; i < verdicts.size(); ++i) {
        const InboundVerdict &verdict = verdicts.at(i);
        slice.followUps += verdict.followUps;
        if (verdict.writeFailed || (verdict.messageRow >= 0 && !written.value(verdict.messageRow))) {
            qWarning().noquote() << "[CHAT-INBOUND] not stored" << envelopes.at(i).messageId;
            continue;
        }
        if (verdict.acknowledge && !parked)
            slice.ackIds.append(envelopes.at(i).messageId);
        // A message row is shown by its row; anything else the verdict
        // changed (a card, a notice, a translation) by reading the lists.
        slice.otherChanges = slice.otherChanges || (verdict.changed && verdict.messageRow < 0);
        slice.joinRequests = slice.joinRequests || verdict.joinRequestsChanged;
        slice.notices += verdict.notices;
    }
    if (!batch.commit()) {
        // Nothing of this slice is on disk: acknowledge nothing, show
        // nothing, and forget cards the group engine took meanwhile.
        qWarning() << "[CHAT-INBOUND] batch of" << envelopes.size() << "envelopes not stored";
        registry.reloadFromStore();
        cancelFollowUps(slice.followUps);
        Filing failed;
        failed.stored = false;
        failed.consumed = slice.consumed;
        return failed;
    }
    return slice;
}

} // namespace

void Filing::append(Filing more)
{
    stored = stored && more.stored;
    consumed += more.consumed;
    ackIds += more.ackIds;
    otherChanges = otherChanges || more.otherChanges;
    joinRequests = joinRequests || more.joinRequests;
    notices += more.notices;
    followUps += more.followUps;
    rows += more.rows;
    conversations += more.conversations;
}

Filing fileEnvelopes(const QList<RawEnvelope> &envelopes, const velmor::identity::Identity &me,
                     const QString &owner, bool parked, int budgetMs)
{
    ChatStore &store = ChatStore::instance();
    Filing filing;
    if (parked) {
        // Read once: what the slice takes out of the store too.
        const QStringList groups = store.parkedGroupIds();
        if (!groups.isEmpty())
            filing = fileSlice(store, {}, me, owner, true, 0, groups);
    } else {
        const qsizetype step = budgetMs > 0 ? Filing::kSliceEnvelopes : envelopes.size();
        while (filing.consumed < envelopes.size()) {
            Filing slice = fileSlice(store, envelopes.mid(filing.consumed, step), me, owner, false, budgetMs);
            // At least one envelope a slice, so that a slow one ends too.
            slice.consumed = std::max<qsizetype>(slice.consumed, 1);
            const bool stored = slice.stored;
            filing.append(std::move(slice));
            if (!stored)
                break; // the relay offers the rest again
        }
    }
    // The conversations the rows went to, each read once as it is now.
    QSet<QString> peers;
    for (const MessageRecord &row : std::as_const(filing.rows)) {
        if (!peers.contains(row.peer_raw_public_key)) {
            peers.insert(row.peer_raw_public_key);
            filing.conversations.append(ConversationList::readChanged(store, row.peer_raw_public_key));
        }
    }
    return filing;
}

} // namespace velmor::chat
