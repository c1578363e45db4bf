#include "chat/inbox.h"

#include "chat/ack_queue.h"
#include "chat/chat_host.h"
#include "chat/chat_session.h"
#include "chat/current_conversation.h"
#include "chat/inbound_processor.h"
#include "chat/job_runner.h"
#include "chat/peer_keys.h"
#include "groups/group_card.h"
#include "net/parallel.h"

#include <QDateTime>
#include <QDebug>
#include <QHash>

#include <algorithm>
#include <utility>

namespace velmor::chat {

namespace {

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// Parallel posts reach the relay, and so a page, in any order: each
// sender's messages that carry its clock (MessageContent::sentAtMs) are
// filed in that order, in the places its messages take in the page, so that
// rows of the same second show as they were written. Others keep the
// relay's order. A sender can only reorder its own messages.
void keepSendersOrder(QList<RawEnvelope> &page)
{
    QHash<QString, QList<qsizetype>> places;
    for (qsizetype i = 0; i < page.size(); ++i) {
        const RawEnvelope &envelope = page.at(i);
        if (envelope.valid && envelope.content.ok && envelope.content.sentAtMs > 0)
            places[envelope.senderPubkey].append(i);
    }
    for (const QList<qsizetype> &at : std::as_const(places)) {
        if (at.size() < 2)
            continue;
        QList<RawEnvelope> own;
        own.reserve(at.size());
        for (const qsizetype i : at)
            own.append(std::move(page[i]));
        std::stable_sort(own.begin(), own.end(), [](const RawEnvelope &a, const RawEnvelope &b) {
            return a.content.sentAtMs < b.content.sentAtMs;
        });
        for (qsizetype k = 0; k < at.size(); ++k)
            page[at.at(k)] = std::move(own[k]);
    }
}

} // namespace

Inbox::Inbox(ChatHost &host, AckQueue &acks, QObject *parent)
    : QObject(parent), m_host(host), m_acks(acks), m_puller([] { return RelayApi::pullPage(); })
{
}

int Inbox::retryDelayMs(int failures)
{
    if (failures <= 0)
        return 0;
    return std::min(2000 << std::clamp(failures - 1, 0, 5), 60000);
}

QString Inbox::relayStatusText() const
{
    if (m_failures <= 0)
        return QString();
    return m_failures >= kFailuresShownAsDown ? QStringLiteral("连接失败") : QStringLiteral("重新连接中…");
}

void Inbox::setFailures(int failures)
{
    const QString before = relayStatusText();
    m_failures = failures;
    m_retryAtMs = failures > 0 ? nowMs() + retryDelayMs(failures) : 0;
    if (relayStatusText() != before)
        emit relayStatusChanged();
}

void Inbox::pullOnce()
{
    if (m_pullInFlight || (m_retryAtMs > 0 && nowMs() < m_retryAtMs))
        return;
    startRound({});
}

void Inbox::pullFresh()
{
    if (m_pullInFlight)
        m_pullAgain = true;
    else
        pullOnce();
}

void Inbox::resumeNow()
{
    m_retryAtMs = 0;
    pullFresh();
}

void Inbox::startRound(const QStringList &ackFirst)
{
    if (!std::exchange(m_pullInFlight, true))
        emit syncingChanged();
    m_pullAgain = false;
    const Puller puller = m_puller;
    const velmor::identity::Identity me = m_host.session().identity();
    const QString owner = m_host.session().ownerKey();
    m_host.jobs().runToEnd<Round>(
        [puller, me, owner, ackFirst] {
            Round round;
            if (!ackFirst.isEmpty()) {
                round.acked = true;
                round.acks = RelayApi::ack(ackFirst);
            }
            round.page = puller();
            if (!round.page.answered)
                return round;
            // Opening is the costly part of filing an envelope and needs no
            // store: every envelope of the page at once.
            velmor::net::forEachInParallel(round.page.envelopes,
                                           [&me](RawEnvelope &envelope) { InboundProcessor::openInPlace(envelope, me); });
            keepSendersOrder(round.page.envelopes);
            round.filing = fileEnvelopes(round.page.envelopes, me, owner);
            // More is waiting when the page was full; the next page comes
            // from the head of the relay's queue, so it is asked for after
            // acknowledging this one, in the next job. A page that took
            // nothing (the store failed throughout, or the relay refused the
            // acknowledgement before it) would only come back the same: the
            // timer tries again later.
            const bool progress = !round.acked || !round.acks.ackedIds.isEmpty();
            round.more = round.page.full() && round.filing.stored && progress && !round.filing.ackIds.isEmpty();
            if (!round.more && round.filing.stored)
                round.parked = fileEnvelopes({}, me, owner, true);
            return round;
        },
        [this](Round round, bool current) {
            if (current) {
                onRound(std::move(round));
                return;
            }
            // The session ended: what was filed stays unacknowledged (the
            // relay offers it again), and the group sending it called for
            // is not done.
            cancelFollowUps(round.filing.followUps + round.parked.followUps);
            endPulling();
        },
        [this, round = ++m_rounds] {
            // A worker that failed brings no result, and a result always
            // either starts the next round or ends the pulling: when neither
            // happened, the pulling ends here.
            QMetaObject::invokeMethod(this, [this, round] {
                if (m_pullInFlight && m_rounds == round)
                    endPulling();
            }, Qt::QueuedConnection);
        });
}

void Inbox::onRound(Round round)
{
    if (round.acked)
        m_acks.settle(round.acks);
    if (!round.page.answered) {
        qWarning().noquote() << "[CHAT-INBOUND] pull failed" << round.page.error;
        setFailures(m_failures + 1);
        emit pullProcessed(0, 0);
        endPulling();
        return;
    }
    setFailures(0);
    show(round.filing);
    show(round.parked);
    QStringList acks = std::move(round.filing.ackIds);
    emit pullProcessed(int(round.page.envelopes.size()), int(acks.size()));
    if (round.more) {
        startRound(acks);
        return;
    }
    m_acks.acknowledge(acks);
    const bool again = m_pullAgain;
    endPulling();
    if (again)
        pullOnce();
}

void Inbox::endPulling()
{
    m_pullAgain = false;
    if (std::exchange(m_pullInFlight, false))
        emit syncingChanged();
}

void Inbox::processEnvelopes(const QList<RawEnvelope> &envelopes)
{
    const velmor::net::GuiThreadWork onTheWindowsThread;
    const Filing filing = fileEnvelopes(envelopes, m_host.session().identity(), m_host.session().ownerKey(), false, 0);
    show(filing);
    if (filing.stored)
        m_acks.acknowledge(filing.ackIds);
    emit pullProcessed(int(envelopes.size()), int(filing.ackIds.size()));
}

void Inbox::show(const Filing &filing)
{
    sendLater(filing.followUps);
    for (const InboundNotice &notice : filing.notices) {
        if (notice.kind == InboundNotice::Kind::Message)
            m_host.notifyIncoming(notice.peer, notice.title, notice.muted);
        else
            emit eventNotice(notice.peer, notice.title, notice.body);
    }
    if (filing.joinRequests)
        emit joinRequestsChanged();
    if (filing.otherChanges) {
        reloadLists();
        return;
    }
    if (filing.rows.isEmpty())
        return;
    // Only message rows came: each goes where it shows, and the sidebar's
    // rows of their conversations change in place.
    const QString openPeer = m_host.current().peer();
    QList<const MessageRecord *> open;
    for (const MessageRecord &row : filing.rows) {
        if (!openPeer.isEmpty() && row.peer_raw_public_key == openPeer)
            open.append(&row);
    }
    // The open conversation is being read: what arrives in it adds no
    // unread count (and raised no notice).
    if (!open.isEmpty() && !isSuperGroupPeer(openPeer))
        m_host.markConversationRead(openPeer);
    m_host.conversationsStored(filing.conversations);
    if (open.size() > kRowsShownOneByOne) {
        m_host.reloadMessages();
        return;
    }
    for (const MessageRecord *row : std::as_const(open))
        m_host.messageStored(*row);
}

void Inbox::sendLater(const QList<GroupFollowUp> &followUps)
{
    if (followUps.isEmpty())
        return;
    // Card requests and answers wait on the relay: never on this thread,
    // and never inside the slice's transaction.
    m_host.jobs().run<bool>(
        [followUps] {
            runFollowUps(followUps);
            return true;
        },
        [](bool) {});
}

void Inbox::reloadLists()
{
    // The open conversation is being read: what arrives in it adds no
    // unread count (and raised no notice).
    const QString openPeer = m_host.current().peer();
    if (!openPeer.isEmpty() && !isSuperGroupPeer(openPeer))
        m_host.markConversationRead(openPeer);
    // Previews, times and unread counts of a long sidebar take a while to
    // read: on a worker, while the open conversation shows the message now.
    m_host.reloadConversationsSoon();
    if (!openPeer.isEmpty())
        m_host.reloadMessages();
}

} // namespace velmor::chat
