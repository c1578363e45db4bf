#include "chat/ack_queue.h"

#include "chat/chat_host.h"
#include "chat/chat_session.h"
#include "chat/job_runner.h"
#include "identity/envelope.h"
#include "net/relay_api.h"
#include "store/chat_store.h"

#include <QDateTime>
#include <QDebug>

namespace velmor::chat {

AckQueue::AckQueue(ChatHost &host, QObject *parent) : QObject(parent), m_host(host) {}

void AckQueue::acknowledge(const QStringList &ids)
{
    if (ids.isEmpty())
        return;
    m_host.jobs().run<AckResult>([ids] { return RelayApi::ack(ids); },
                                 [this](const AckResult &result) { settle(result); });
}

void AckQueue::settle(const AckResult &result)
{
    if (!result.failedIds.isEmpty()) {
        qWarning().noquote() << "[CHAT-ACK] queued for retry" << result.failedIds.join(QLatin1Char(','));
        m_host.session().store().addPendingAck(result.failedIds);
    }
    emit settled();
}

void AckQueue::flush()
{
    if (m_flushInFlight)
        return;
    ChatStore &store = m_host.session().store();
    // The relay keeps an envelope no longer than its lifetime (and the clock
    // slack); an id queued before that has nothing left to acknowledge.
    const qint64 cutoff = QDateTime::currentSecsSinceEpoch() - velmor::identity::kEnvelopeMaxLifetimeSeconds;
    if (const int dropped = store.dropPendingAcksQueuedBefore(cutoff); dropped > 0)
        qInfo() << "[CHAT-ACK] dropped" << dropped << "expired ids";
    const QStringList ids = store.pendingAcks(kFlushBatch);
    if (ids.isEmpty())
        return;
    m_flushInFlight = true;
    m_host.jobs().run<AckResult>(
        [ids] { return RelayApi::ack(ids); },
        [this](const AckResult &result) {
            ChatStore &store = m_host.session().store();
            if (!result.ackedIds.isEmpty())
                store.deletePendingAck(result.ackedIds);
            // Behind the rest of the queue: the next tick takes other ids first.
            if (!result.failedIds.isEmpty())
                store.addPendingAck(result.failedIds);
            emit settled();
        },
        [this] { m_flushInFlight = false; });
}

} // namespace velmor::chat
