// The one-to-one inbox: pulls the relay's envelopes on a background job
// (one pull at a time; a pull asked for meanwhile is dropped, or, asked for
// with pullFresh, made once the running one ends), then on the GUI thread
// runs every envelope through the InboundProcessor inside one store batch
// and writes the pull's message rows together (one preview update per
// conversation). Only after that batch is committed are its ids acknowledged
// (AckQueue), its desktop notices raised and the lists reloaded: an
// envelope whose writes failed, or a batch that never reached the disk, is
// acknowledged for nothing, so the relay offers it again.
#pragma once

#include "net/relay_api.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

namespace velmor::chat {

class AckQueue;
class ChatHost;

class Inbox : public QObject
{
    Q_OBJECT
public:
    using Puller = std::function<QList<RawEnvelope>()>;

    Inbox(ChatHost &host, AckQueue &acks, QObject *parent = nullptr);

    void pullOnce();
    // A pull that must see the relay as it is now: when one is already
    // running (its answer may predate what the caller knows of), one more
    // follows it instead of being dropped. Several such calls meanwhile
    // still make one follow-up.
    void pullFresh();
    bool syncing() const { return m_pullInFlight; }
    // What a pull fetches (RelayApi::pull by default); runs on a pool thread.
    void setPuller(Puller puller) { m_puller = std::move(puller); }

    // The GUI-thread half of a pull, exposed for tests and the benchmark.
    void processEnvelopes(const QList<RawEnvelope> &envelopes);

signals:
    void syncingChanged();
    // A desktop notice that is not about a message (a join request).
    void eventNotice(const QString &peer, const QString &title, const QString &body);
    void joinRequestsChanged();
    // One pull's envelopes have been processed (acknowledgement started).
    void pullProcessed(int envelopes, int acknowledged);

private:
    ChatHost &m_host;
    AckQueue &m_acks;
    Puller m_puller;
    bool m_pullInFlight = false;
    bool m_pullAgain = false;
};

} // namespace velmor::chat
