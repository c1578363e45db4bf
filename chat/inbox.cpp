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
#include "store/chat_store.h"

#include <QDateTime>
#include <QDebug>
#include <QElapsedTimer>
#include <QHash>
#include <QTimer>

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
    const ChatSession::Ticket ticket = m_host.session().ticket();
    m_host.jobs().run<Round>(
        [puller, me, ackFirst] {
            Round round;
            if (!ackFirst.isEmpty()) {
                round.acked = true;
                round.acks = RelayApi::ack(ackFirst);
            }
            round.page = puller();
            // Opening is the costly part of filing an envelope and needs no
            // store: every envelope of the page at once, off the GUI thread.
            velmor::net::forEachInParallel(round.page.envelopes,
                                           [&me](RawEnvelope &envelope) { InboundProcessor::openInPlace(envelope, me); });
            keepSendersOrder(round.page.envelopes);
            return round;
        },
        [this](const Round &round) { onRound(round); },
        [this, ticket] {
            // A dropped result (the session ended) ends the pulling here;
            // a kept one goes on in onRound.
            if (!m_host.session().isCurrent(ticket))
                endPulling();
        });
}

void Inbox::onRound(const Round &round)
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
    m_page = round.page.envelopes;
    m_pageSize = int(m_page.size());
    m_nextSlice = 0;
    m_pageFull = round.page.full();
    m_progress = !round.acked || !round.acks.ackedIds.isEmpty();
    m_pageChanged = false;
    m_pageAcks.clear();
    storeNextSlice();
}

void Inbox::storeNextSlice()
{
    const Slice slice = storeSlice(m_page.mid(m_nextSlice, kSliceEnvelopes), kSliceBudgetMs);
    m_nextSlice += std::max<qsizetype>(slice.consumed, 1);
    m_pageAcks += slice.ackIds;
    m_pageChanged = m_pageChanged || slice.changed;
    if (!slice.stored) {
        // Nothing more of this page is filed; the relay offers it again.
        m_page.clear();
        m_pageFull = false;
    }
    if (m_nextSlice >= m_page.size()) {
        finishPage();
        return;
    }
    // The rest in a later turn of the event loop: input and painting go first.
    const ChatSession::Ticket ticket = m_host.session().ticket();
    QTimer::singleShot(0, this, [this, ticket] {
        if (!m_host.session().isCurrent(ticket)) {
            endPulling();
            return;
        }
        storeNextSlice();
    });
}

void Inbox::finishPage()
{
    const int envelopes = m_pageSize;
    m_page.clear();
    if (m_pageChanged)
        reloadLists();
    emit pullProcessed(envelopes, int(m_pageAcks.size()));
    // More is waiting when the page was full; the next page comes from the
    // head of the relay's queue, so it is asked for after acknowledging this
    // one, in the same job. A page that took nothing (the store failed
    // throughout, or the relay refused the acknowledgement before it) would
    // only come back the same: the timer tries again later.
    if (m_pageFull && m_progress && !m_pageAcks.isEmpty()) {
        startRound(std::exchange(m_pageAcks, {}));
        return;
    }
    m_acks.acknowledge(std::exchange(m_pageAcks, {}));
    readParkedAgain();
    const bool again = m_pullAgain;
    endPulling();
    if (again)
        pullOnce();
}

void Inbox::endPulling()
{
    m_page.clear();
    m_pageAcks.clear();
    m_pullAgain = false;
    if (std::exchange(m_pullInFlight, false))
        emit syncingChanged();
}

void Inbox::processEnvelopes(const QList<RawEnvelope> &envelopes)
{
    const Slice slice = storeSlice(envelopes, 0);
    if (slice.changed)
        reloadLists();
    if (slice.stored)
        m_acks.acknowledge(slice.ackIds);
    emit pullProcessed(int(envelopes.size()), int(slice.ackIds.size()));
}

void Inbox::readParkedAgain()
{
    bool ok = false;
    if (m_host.session().store().parkedGroupIds(&ok).isEmpty())
        return;
    if (storeSlice({}, 0, true).changed)
        reloadLists();
}

Inbox::Slice Inbox::storeSlice(const QList<RawEnvelope> &pulled, int budgetMs, bool parked)
{
    Slice slice;
    if (pulled.isEmpty() && !parked)
        return slice;
    const velmor::net::GuiThreadWork onTheWindowsThread;
    QElapsedTimer clock;
    clock.start();
    ChatStore &store = m_host.session().store();
    GroupRegistry &registry = GroupRegistry::instance();
    InboundProcessor processor(store, registry, m_host.session().identity());

    bool joinRequests = false;
    QList<InboundNotice> notices;
    QList<GroupFollowUp> followUps;
    {
        // One transaction for the slice; the message rows written together
        // at its end, with one preview per conversation.
        ChatStore::Batch batch(store);
        processor.setBatched(batch.active());
        // Taken out of the store inside the batch: back there if it fails.
        const QList<RawEnvelope> envelopes = parked ? takeReadableParked(registry) : pulled;
        QList<InboundVerdict> verdicts;
        verdicts.reserve(envelopes.size());
        for (const RawEnvelope &envelope : envelopes) {
            verdicts.append(processor.handle(envelope));
            // A busy machine makes each envelope slower: the slice ends
            // early rather than the window waiting longer.
            if (budgetMs > 0 && clock.elapsed() >= budgetMs)
                break;
        }
        slice.consumed = verdicts.size();
        const QList<bool> written = writeRows(store, processor.takeMessageRows());

        for (qsizetype i = 0; i < verdicts.size(); ++i) {
            const InboundVerdict &verdict = verdicts.at(i);
            followUps += verdict.followUps;
            if (verdict.writeFailed || (verdict.messageRow >= 0 && !written.value(verdict.messageRow))) {
                qWarning().noquote() << "[CHAT-INBOUND] not stored" << envelopes.at(i).messageId;
                continue;
            }
            if (verdict.acknowledge && !parked)
                slice.ackIds.append(envelopes.at(i).messageId);
            slice.changed = slice.changed || verdict.changed;
            joinRequests = joinRequests || verdict.joinRequestsChanged;
            notices += verdict.notices;
        }
        if (batch.active() && !batch.commit()) {
            // Nothing of this slice is on disk: acknowledge nothing, show
            // nothing, and forget cards the group engine took meanwhile.
            qWarning() << "[CHAT-INBOUND] batch of" << envelopes.size() << "envelopes not stored";
            registry.reloadFromStore();
            cancelFollowUps(followUps);
            return Slice{{}, false, false, slice.consumed};
        }
    }
    sendLater(followUps);

    for (const InboundNotice &notice : std::as_const(notices)) {
        if (notice.kind == InboundNotice::Kind::Message)
            m_host.notifyIncoming(notice.peer, notice.title, notice.muted);
        else
            emit eventNotice(notice.peer, notice.title, notice.body);
    }
    if (joinRequests)
        emit joinRequestsChanged();
    return slice;
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
