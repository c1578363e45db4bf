#include "chat/inbox.h"

#include "chat/ack_queue.h"
#include "chat/chat_host.h"
#include "chat/chat_session.h"
#include "chat/current_conversation.h"
#include "chat/inbound_processor.h"
#include "chat/job_runner.h"
#include "chat/peer_keys.h"
#include "groups/group_card.h"
#include "store/chat_store.h"

#include <QDebug>

#include <utility>

namespace velmor::chat {

Inbox::Inbox(ChatHost &host, AckQueue &acks, QObject *parent)
    : QObject(parent), m_host(host), m_acks(acks), m_puller([] { return RelayApi::pull(); })
{
}

void Inbox::pullOnce()
{
    if (m_pullInFlight)
        return;
    m_pullInFlight = true;
    m_pullAgain = false;
    emit syncingChanged();
    m_host.jobs().run<QList<RawEnvelope>>(
        m_puller,
        [this](const QList<RawEnvelope> &envelopes) {
            processEnvelopes(envelopes);
            if (std::exchange(m_pullAgain, false))
                pullOnce();
        },
        [this] {
            m_pullInFlight = false;
            emit syncingChanged();
        });
}

void Inbox::pullFresh()
{
    if (m_pullInFlight)
        m_pullAgain = true;
    else
        pullOnce();
}

namespace {

// The collected rows of a pull in one write; when that write fails as a
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

} // namespace

void Inbox::processEnvelopes(const QList<RawEnvelope> &envelopes)
{
    if (envelopes.isEmpty()) {
        emit pullProcessed(0, 0);
        return;
    }
    ChatStore &store = m_host.session().store();
    GroupRegistry &registry = GroupRegistry::instance();
    InboundProcessor processor(store, registry, m_host.session().identity());

    QStringList ackIds;
    bool changed = false;
    bool joinRequests = false;
    QList<InboundNotice> notices;
    {
        // One transaction for the whole pull; the message rows written
        // together at its end, with one preview per conversation.
        ChatStore::Batch batch(store);
        processor.setBatched(batch.active());
        QList<InboundVerdict> verdicts;
        verdicts.reserve(envelopes.size());
        for (const RawEnvelope &envelope : envelopes)
            verdicts.append(processor.handle(envelope));
        const QList<bool> written = writeRows(store, processor.takeMessageRows());

        for (qsizetype i = 0; i < envelopes.size(); ++i) {
            const InboundVerdict &verdict = verdicts.at(i);
            if (verdict.writeFailed || (verdict.messageRow >= 0 && !written.value(verdict.messageRow))) {
                qWarning().noquote() << "[CHAT-INBOUND] not stored" << envelopes.at(i).messageId;
                continue;
            }
            if (verdict.acknowledge)
                ackIds.append(envelopes.at(i).messageId);
            changed = changed || verdict.changed;
            joinRequests = joinRequests || verdict.joinRequestsChanged;
            notices += verdict.notices;
        }
        if (batch.active() && !batch.commit()) {
            // Nothing of this pull is on disk: acknowledge nothing, show
            // nothing, and forget cards the group engine took meanwhile.
            qWarning() << "[CHAT-INBOUND] batch of" << envelopes.size() << "envelopes not stored";
            registry.reloadFromStore();
            emit pullProcessed(int(envelopes.size()), 0);
            return;
        }
    }

    m_acks.acknowledge(ackIds);
    for (const InboundNotice &notice : std::as_const(notices)) {
        if (notice.kind == InboundNotice::Kind::Message)
            m_host.notifyIncoming(notice.peer, notice.title, notice.muted);
        else
            emit eventNotice(notice.peer, notice.title, notice.body);
    }
    if (joinRequests)
        emit joinRequestsChanged();
    if (changed) {
        // The open conversation is being read: what arrives in it adds no
        // unread count (and raised no notice above).
        const QString openPeer = m_host.current().peer();
        if (!openPeer.isEmpty() && !isSuperGroupPeer(openPeer)) {
            const QString conversationId = conversationIdForPeer(openPeer);
            if (!conversationId.isEmpty())
                m_host.session().store().resetUnread(conversationId);
        }
        m_host.reloadConversations();
        if (!openPeer.isEmpty())
            m_host.reloadMessages();
    }
    emit pullProcessed(int(envelopes.size()), int(ackIds.size()));
}

} // namespace velmor::chat
