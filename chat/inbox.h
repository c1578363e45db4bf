// The one-to-one inbox: pulls the relay's envelopes on a background job
// (one pull at a time; a pull asked for meanwhile is dropped, or, asked for
// with pullFresh, made once the running one ends). The job also verifies
// and opens every envelope of the page, in parallel, so the GUI thread only
// files what was read: a page is stored in slices of at most
// kSliceEnvelopes (fewer when filing them takes over kSliceBudgetMs), one
// store batch and one turn of the event loop each, so a large page never
// holds the window up. Only after a slice's batch is committed are its ids
// acknowledged, its desktop notices raised; the lists are reloaded once a
// page. An envelope whose writes failed, or a batch that never reached the
// disk, is acknowledged for nothing, so the relay offers it again.
//
// A backlog drains at the pace of the work, not of the pull timer: while
// pages come back full, the next page is asked for at once, in the same
// job as the acknowledgement of the one before (the relay serves a page
// from the head of the queue, so it must have taken the acknowledgement
// first). Every envelope a sender sent is settled, read or not: what can
// never be read is acknowledged and dropped, and a group message a later
// card may settle is acknowledged and set aside (InboundProcessor), so a
// page of refusals never stops the pages behind it. Only envelopes the
// user's own store failed to keep stay with the relay.
//
// A relay that cannot be reached or answers nonsense (an HTTP error, a
// malformed or wrongly typed reply) is not asked again at every tick: the
// next pull waits 2, 4, 8 … up to 60 s (pullOnce and pullFresh do nothing
// meanwhile; resumeNow() forgets the wait when the relay is seen again),
// and relayStatusText tells the user.
#pragma once

#include "net/relay_api.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace velmor::chat {

class AckQueue;
struct GroupFollowUp;
class ChatHost;
struct InboundNotice;

class Inbox : public QObject
{
    Q_OBJECT
public:
    using Puller = std::function<PullPage()>;
    static constexpr int kSliceEnvelopes = 100;
    // A slice also ends once its envelopes took this long to file.
    static constexpr int kSliceBudgetMs = 12;
    // Failed pulls in a row after which the relay is shown as unreachable
    // rather than as being reconnected to.
    static constexpr int kFailuresShownAsDown = 3;

    Inbox(ChatHost &host, AckQueue &acks, QObject *parent = nullptr);

    void pullOnce();
    // A pull that must see the relay as it is now: when one is already
    // running (its answer may predate what the caller knows of), one more
    // follows it instead of being dropped. Several such calls meanwhile
    // still make one follow-up.
    void pullFresh();
    // The relay answered elsewhere (its socket connected, the network came
    // back): the wait after failed pulls ends and a pull starts.
    void resumeNow();
    bool syncing() const { return m_pullInFlight; }
    // What a pull fetches (RelayApi::pullPage by default); runs on a pool thread.
    void setPuller(Puller puller) { m_puller = std::move(puller); }

    // Failed pulls in a row (0 while the relay answers) and the wait before
    // the next: min(2000 << min(failures - 1, 5), 60000) ms.
    int failures() const { return m_failures; }
    static int retryDelayMs(int failures);
    // "" while the relay answers, "重新连接中…" after a failed pull, "连接失败"
    // after kFailuresShownAsDown of them.
    QString relayStatusText() const;

    // Stores one slice and acknowledges it at once; for tests and the
    // benchmark's bare comparison (the pull loop stores through storeSlice).
    void processEnvelopes(const QList<RawEnvelope> &envelopes);

signals:
    void syncingChanged();
    void relayStatusChanged();
    // A desktop notice that is not about a message (a join request).
    void eventNotice(const QString &peer, const QString &title, const QString &body);
    void joinRequestsChanged();
    // One pull's envelopes have been processed (acknowledgement started).
    void pullProcessed(int envelopes, int acknowledged);

private:
    struct Round
    {
        bool acked = false; // the ids of the page before were acknowledged first
        AckResult acks;
        PullPage page;
    };
    struct Slice
    {
        QStringList ackIds;
        bool changed = false;
        bool stored = true; // false: the batch never reached the disk
        qsizetype consumed = 0; // envelopes of the list filed (or refused)
    };

    void startRound(const QStringList &ackFirst);
    void onRound(const Round &round);
    void storeNextSlice();
    void finishPage();
    void endPulling();
    // Files envelopes from the front of the list in one batch, until all
    // are done or budgetMs (0: no limit) has passed. With `parked`, files
    // instead the set-aside group messages readable again (the list is
    // ignored, and nothing is to acknowledge).
    Slice storeSlice(const QList<RawEnvelope> &envelopes, int budgetMs, bool parked = false);
    // Group messages set aside while their group was held up, read once
    // it no longer is.
    void readParkedAgain();
    void reloadLists();
    // Runs what the slice's group messages called for sending on a job.
    void sendLater(const QList<GroupFollowUp> &followUps);
    void setFailures(int failures);

    ChatHost &m_host;
    AckQueue &m_acks;
    Puller m_puller;
    bool m_pullInFlight = false;
    bool m_pullAgain = false;
    int m_failures = 0;
    qint64 m_retryAtMs = 0;
    // The page being filed, slice by slice.
    QList<RawEnvelope> m_page;
    qsizetype m_nextSlice = 0;
    int m_pageSize = 0;
    bool m_pageFull = false;
    bool m_progress = false; // the acknowledgement before this page took something
    bool m_pageChanged = false;
    QStringList m_pageAcks;
};

} // namespace velmor::chat
