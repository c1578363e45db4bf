// Acknowledgements to the relay, at least once: the ids of a kept pull are
// acknowledged right after it, and the ids whose acknowledgement failed
// wait in the store (pending_acks) for the flush, 100 at a time every 5 s.
//
// An id the relay keeps refusing never holds up the others: a failed flush
// moves its ids behind the rest of the queue, and an id queued longer than
// an envelope can live is dropped, since the relay no longer holds it.
#pragma once

#include "net/relay_api.h"

#include <QObject>
#include <QStringList>

namespace velmor::chat {

class ChatHost;

class AckQueue : public QObject
{
    Q_OBJECT
public:
    static constexpr int kFlushBatch = 100;

    explicit AckQueue(ChatHost &host, QObject *parent = nullptr);

    // Acknowledges the ids of one pull; the refused ones are queued.
    void acknowledge(const QStringList &ids);
    // The outcome of an acknowledgement made elsewhere (the inbox sends a
    // page's ids with its next pull): the refused ids are queued.
    void settle(const AckResult &result);
    // One flush tick, on the pool: nothing while a flush runs; settled()
    // only when the queue held ids.
    void flush();
    bool flushInFlight() const { return m_flushInFlight; }

signals:
    // A post-pull or flush job has finished and its ids are settled (acked,
    // or queued again); for tests and diagnostics.
    void settled();

private:
    ChatHost &m_host;
    bool m_flushInFlight = false;
};

} // namespace velmor::chat
