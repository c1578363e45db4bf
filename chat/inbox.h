// The one-to-one inbox: pulls the relay's envelopes on a background job
// (one pull at a time; a pull asked for meanwhile is dropped, or, asked for
// with pullFresh, made once the running one ends). The same job verifies
// and opens every envelope of the page, in parallel, and files what was
// read into the store (fileEnvelopes: short transactions, while the store is
// still the session's), so the window's thread only shows the result: the
// rows of the open conversation, the sidebar rows of the conversations the
// messages went to (each in its place, read on the job), desktop notices.
// Only what a committed transaction kept is acknowledged, and only after it
// was committed; an envelope whose writes failed, or a page whose
// transaction never reached the disk, is acknowledged for nothing, so the
// relay offers it again (as it does for a result dropped because its
// session ended: what it filed is then known as a duplicate).
//
// A backlog drains at the pace of the work, not of the pull timer: while
// pages come back full, the next page is asked for at once, in the same
// job as the acknowledgement of the one before (the relay serves a page
// from the head of the queue, so it must have taken the acknowledgement
// first). Every envelope a sender sent is settled, read or not: what can
// never be read is acknowledged and dropped, and a group message a later
// card may settle is acknowledged and set aside (InboundProcessor), so a
// page of refusals never stops the pages behind it. Only envelopes the
// user's own store failed to keep stay with the relay. The set-aside
// messages a card made readable are filed by the job of the last page.
//
// A relay that cannot be reached or answers nonsense (an HTTP error, a
// malformed or wrongly typed reply) is not asked again at every tick: the
// next pull waits 2, 4, 8 … up to 60 s (pullOnce and pullFresh do nothing
// meanwhile; resumeNow() forgets the wait when the relay is seen again),
// and relayStatusText tells the user.
#pragma once

#include "chat/inbox_filing.h"
#include "net/relay_api.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace velmor::chat {

class AckQueue;
class ChatHost;

class Inbox : public QObject
{
    Q_OBJECT
public:
    using Puller = std::function<PullPage()>;
    // Rows of the open conversation up to which a pull's rows go into its
    // list one by one; more and the list reads its loaded messages again.
    static constexpr int kRowsShownOneByOne = 20;
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

    // Files envelopes on this thread, shows and acknowledges them at once;
    // for tests and the benchmark's bare comparison.
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
        Filing filing;
        Filing parked;      // set-aside group messages filed after the last page
        bool more = false;  // a full page that took something: the next follows at once
    };

    void startRound(const QStringList &ackFirst);
    void onRound(Round round);
    void endPulling();
    // What the window shows of a filing: notices, the open conversation's
    // rows, the sidebar's rows; its group sending starts on a job.
    void show(const Filing &filing);
    void reloadLists();
    // Runs what the filing's group messages called for sending on a job.
    void sendLater(const QList<GroupFollowUp> &followUps);
    void setFailures(int failures);

    ChatHost &m_host;
    AckQueue &m_acks;
    Puller m_puller;
    bool m_pullInFlight = false;
    bool m_pullAgain = false;
    quint64 m_rounds = 0; // rounds started
    int m_failures = 0;
    qint64 m_retryAtMs = 0;
};

} // namespace velmor::chat
