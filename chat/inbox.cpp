#include "chat/inbox.h"

#include "chat/ack_queue.h"
#include "chat/chat_host.h"
#include "chat/chat_session.h"
#include "chat/current_conversation.h"
#include "chat/inbound_processor.h"
#include "chat/job_runner.h"
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
        // One transaction for the whole pull; each envelope a savepoint of
        // it, undone alone when one of its writes fails.
        ChatStore::Batch batch(store);
        for (const RawEnvelope &envelope : envelopes) {
            const bool item = batch.active() && store.beginBatchItem();
            const InboundVerdict verdict = processor.handle(envelope);
            const bool kept = item ? store.endBatchItem(!verdict.writeFailed) : !verdict.writeFailed;
            if (!kept) {
                qWarning().noquote() << "[CHAT-INBOUND] not stored" << envelope.messageId;
                continue;
            }
            if (verdict.acknowledge)
                ackIds.append(envelope.messageId);
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
        m_host.reloadConversations();
        if (!m_host.current().peer().isEmpty())
            m_host.reloadMessages();
    }
    emit pullProcessed(int(envelopes.size()), int(ackIds.size()));
}

} // namespace velmor::chat
