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

namespace {

// The queue is read and written on the worker, for the owner whose session
// asked: the window's thread never waits for the file, and ids of a session
// that ended meanwhile are not written into the next owner's queue.
bool storeIsOf(const QString &owner)
{
    return !owner.isEmpty() && ChatStore::instance().ownerKey() == owner;
}

void queueForRetry(const QString &owner, const QStringList &ids)
{
    if (ids.isEmpty() || !storeIsOf(owner))
        return;
    qWarning().noquote() << "[CHAT-ACK] queued for retry" << ids.join(QLatin1Char(','));
    ChatStore::instance().addPendingAck(ids);
}

} // namespace

void AckQueue::acknowledge(const QStringList &ids)
{
    if (ids.isEmpty())
        return;
    m_host.jobs().run<bool>(
        [ids, owner = m_host.session().ownerKey()] {
            queueForRetry(owner, RelayApi::ack(ids).failedIds);
            return true;
        },
        [this](bool) { emit settled(); });
}

void AckQueue::settle(const AckResult &result)
{
    if (result.failedIds.isEmpty()) {
        emit settled();
        return;
    }
    m_host.jobs().run<bool>(
        [ids = result.failedIds, owner = m_host.session().ownerKey()] {
            queueForRetry(owner, ids);
            return true;
        },
        [this](bool) { emit settled(); });
}

void AckQueue::flush()
{
    if (m_flushInFlight)
        return;
    m_flushInFlight = true;
    m_host.jobs().run<bool>(
        [owner = m_host.session().ownerKey()] {
            if (!storeIsOf(owner))
                return false;
            ChatStore &store = ChatStore::instance();
            // The relay keeps an envelope no longer than its lifetime (and
            // the clock slack); an id queued before that has nothing left to
            // acknowledge.
            const qint64 cutoff = QDateTime::currentSecsSinceEpoch() - velmor::identity::kEnvelopeMaxLifetimeSeconds;
            if (const int dropped = store.dropPendingAcksQueuedBefore(cutoff); dropped > 0)
                qInfo() << "[CHAT-ACK] dropped" << dropped << "expired ids";
            const QStringList ids = store.pendingAcks(kFlushBatch);
            if (ids.isEmpty())
                return false;
            const AckResult result = RelayApi::ack(ids);
            if (!storeIsOf(owner))
                return true;
            if (!result.ackedIds.isEmpty())
                store.deletePendingAck(result.ackedIds);
            // Behind the rest of the queue: the next tick takes other ids first.
            if (!result.failedIds.isEmpty())
                store.addPendingAck(result.failedIds);
            return true;
        },
        [this](bool flushed) {
            if (flushed)
                emit settled();
        },
        [this] { m_flushInFlight = false; });
}

} // namespace velmor::chat
