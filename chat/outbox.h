// Sending: texts, pictures and voice clips into a conversation, and the
// retry of a failed message.
//
// A send checks its input on the GUI thread, writes a local row with status
// sending so that the message shows at once, and hands the network work to a
// background job; its continuation writes the final status into that row
// (sent, failed, or address unreachable for the relay's
// "recipientNeverOnline") and updates that one entry of the message list. A
// picture is read and recompressed on the pool too, and its row is written
// when that is done.
//
// The transport follows the peer: "sg:" + server URL (the group's server),
// "group:" + group id (the normal-group fan-out), else a one-to-one peer
// key (the relay).
//
// Every send is durable and idempotent: the envelope (a group's: the body
// of its fan-out, an envelope for each member; a super group's: its request
// to the group server, supergroup_sends.h) is made under the row's own id
// and stored with the row in one write before it is shown or posted
// (outbox_seal.cpp, then outbox_relay.cpp); posted again, the relay, the members and the group
// server take it once. That work runs on the pool: a
// send gets its id, time and clock on the window's thread and waits in a
// queue; one job at a time seals, signs and writes what the queue holds
// (at most kSealBatch sends) in one transaction, and the window then shows
// those rows and posts them, in the queue's order. A program killed before
// that write loses only what it had not shown yet; a session that ended
// meanwhile still writes what it accepted, sealed under its owner's
// identity, and the store stays open for that write (holdOpen): the next
// sign-in of that owner posts it. A send the program did not see finish (it
// was killed, the session ended) is posted again at the next start as the
// same envelope, which the relay and the peer recognise by its id. A post
// the relay answers after its session ended is still taken in: at once when
// its owner is signed in again, else written at that owner's next start, so
// a delivered message is not posted again.
//
// Deleting a conversation drops its sends not written yet, asked inside the
// write's transaction, so nothing is written into it afterwards; a send
// already on its way to the relay goes on. While the
// relay cannot be reached (no connection, a 5xx, a time-out) the message
// stays sending and is posted again after 1, 2, 4, 4 … s, or at once when
// the relay is seen answering again (resumeNow: a pull that went through);
// the wait stays short so sends resume soon after the relay does, and a
// relay that holds a send gets only as long as its answer may take (see
// RelayApi::send) before it is posted again; it is marked failed
// only when an attempt fails after kGiveUpSeconds (15 min) from its
// writing. A final status after a quiet frame is written at once; those
// that follow within a frame of a write are written together, in one
// transaction (a burst of answers would otherwise cost a write each); a
// program killed before that write posts those envelopes again at the next
// start, which the relay takes as already held. At most kMaxPosts
// conversations post at a time, each one envelope after another (a run of
// up to kRunLength by one job; outbox_queue.h says why): the next goes once
// the one before is answered or failed for good, and one to be posted again
// goes before the rest. A retry
// of a failed one-to-one message posts its stored envelope again, so a
// message that did reach the peer is not shown there twice; an envelope
// past its lifetime is never posted nor signed again: such a send found at
// start is failed, and its retry is a new message.
//
// A new message the store cannot take (another program holds it, the disk
// is full, the file is damaged) is not lost: its row (and a one-to-one
// message's sealed envelope) is kept in the send journal (send_journal.h)
// and in memory, shown and sent like any other, and written (with the
// envelope while the send is unfinished) as soon as the store takes it,
// tried again every kStoreRetryMs; a program ended before that writes it
// from the journal at the next sign-in, and posts it (unless the relay's
// answer, kept in the journal beside it, says it was taken or refused). The
// journal's room is taken ahead, with the size of each batch, while the disk
// has space. A send that neither the store nor the journal took is not
// shown nor sent: its text stays in the composer (textKept) and the user is
// told.
//
// A quit settles the queue as a sign-out does (the controller's end calls
// forgetQueue()): the sends accepted and not written yet are written or
// journaled on the pool, which the program's exit waits for.
//
// A typed text waits in its composer until its seal job has kept it; it is
// written to the journal as typed, on the journal's own thread, as soon as
// it is accepted (not after the jobs ahead of it), so a kill meanwhile
// loses nothing: the next start seals and sends it under its own id. The
// journal is read back at sign-in and again whenever the store takes writes
// after refusing them; a conversation deleted meanwhile (or in an earlier
// run: the deletion remembers the ids of its journaled sends) gets none of
// it back, nor is anything of it posted.
//
// A super-group retry posts its request again, under the row's own id (a
// row of an older build gets one): the server never stores it twice. A
// one-to-one retry without a stored envelope (a row of an older version)
// sends again to the failed row's own peer. Its new row (and the
// temporary copy of the media) is written first; the failed row is deleted
// only once the new one is stored, so a retry that cannot start leaves the
// failed message in place. A result that comes back for a row deleted
// meanwhile writes nothing.
#pragma once

#include "chat/outbox_queue.h"
#include "chat/send_journal.h"
#include "net/relay_api.h"
#include "store/records.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <optional>

namespace velmor::chat {

class ChatHost;

class Outbox : public QObject
{
    Q_OBJECT
public:
    explicit Outbox(ChatHost &host, QObject *parent = nullptr);

    // Into the open conversation. False when nothing will be sent (a blank
    // text, no conversation, a muted group): the composer then keeps the
    // text. A send the store refuses is kept in memory and sent all the same.
    bool sendText(const QString &text);
    void sendImageFromFile(const QString &fileUrl);
    void sendVoiceFromFile(const QString &filePath, int durationMs);
    void retryMessage(const QString &messageId);

    static constexpr qint64 kGiveUpSeconds = 15 * 60;
    static constexpr int kMaxPosts = 4;
    // The most posts of one conversation that one job makes in a row.
    static constexpr int kRunLength = 32;
    static constexpr int kStoreRetryMs = 2000;
    // Final statuses that come within this time of a write are written
    // together at its end; the first after a quiet spell is written at once.
    static constexpr int kStatusBatchMs = 16;
    // The most sends sealed and written by one job: the first rows of a
    // long burst show (and go out) while the rest are still being sealed.
    static constexpr int kSealBatch = 256;

    // At the start of a session, once the journal is read back
    // (restoreJournaled): posts again the stored envelopes of the sends
    // that never reported back.
    void resumeInterrupted();
    // The relay answers again: sends waiting for their next attempt go now.
    void resumeNow();
    // The session ends (called while it is still the store's): statuses
    // known are written, sends accepted and not written yet are written on
    // the pool for its owner, and posts on their way are answered into that
    // owner's next session.
    void forgetQueue();
    // The conversation is being deleted: its sends not written yet never
    // are. The ids (and times) of those kept only in the send journal, for
    // the deletion to remember with the conversation's own.
    QList<QPair<QString, qint64>> dropConversation(const QString &conversationId);
    // Rows of sends the store has not taken yet, shown beside the stored ones.
    QList<MessageRecord> unstoredRows() const;
    // Shown sends kept neither by the store nor by the journal: a program
    // that ends now loses them.
    int unkeptSends() const;
    // At the start of a session, on a worker: room for the journal, and the
    // sends an earlier run kept only there written into the store; then
    // the store's interrupted sends, these among them, are posted again
    // (resumeInterrupted), oldest first. Says how many came back
    // (sendsRestored). Read back again every kStoreRetryMs while the store
    // refuses them (posted by that reading).
    void restoreJournaled();
    // One-to-one sends waiting for their next attempt (not on their way).
    int waiting() const { return m_queue.size(); }
    // The delay before the next attempt after `failures` failed posts in a
    // row: min(1000 << min(failures - 1, 2), 4000) ms.
    static int retryDelayMs(int failures);
    // Tests shorten the bound to reach the failed state.
    void setGiveUpSeconds(qint64 seconds) { m_giveUpSeconds = seconds; }
    // Tests hold a reading of the journal on its worker as it starts (its
    // room taken, the file not read yet), and once it has read the file and
    // written what it found, so that sends made meanwhile come in between.
    enum class JournalReading { Starts, Read };
    static void setJournalReadHookForTests(std::function<void(JournalReading)> hook);
    // Tests hold the store's reading of the interrupted sends on its worker
    // as it starts, so that whatever else the sign-in does comes first.
    static void setInterruptedReadHookForTests(std::function<void()> hook);

    // The largest JPEG sent (tests lower it to reach the refusal).
    void setImageByteLimit(qsizetype bytes) { m_imageByteLimit = bytes; }
    // Sends whose result has not come back yet (pictures being prepared
    // included), or not been written and reported yet.
    int inFlight() const { return m_inFlight + int(m_settled.size() + m_sealQueue.size()); }
    // Posts on their way that were started by a session that has ended.
    int postingForEndedSessions() const { return int(m_postingEnded.size()); }

    // The label of a voice clip: "[语音]", or "[语音 N\"]" with whole seconds rounded up.
    static QString voiceLabel(int durationMs);
    // A file URL's local path, or the text as it is.
    static QString localPath(const QString &fileOrUrl);

signals:
    // A send's row has its final status (after the row was written, or,
    // when the store refused it, kept to be written as soon as it takes it).
    void sendFinished(const QString &messageId, int status);
    // A text send is written, or kept in the journal, and shown (`kept`);
    // or neither could keep it and nothing was sent: the composer that
    // sent it keeps its text. `text` as the row holds it (trimmed).
    void textKept(const QString &peer, const QString &text, bool kept);
    // Sends that an earlier run kept only in the journal were written now.
    void sendsRestored(int count);
    // Damaged records of the journal could not be read: those sends are lost.
    void journalRecordsLost(int count);

private:
    struct Payload
    {
        enum class Kind { Text, Image, Voice } kind = Kind::Text;
        QString text;
        QByteArray bytes;
        int width = 0;
        int height = 0;
        int durationMs = 0;
    };

    bool mayPost(const QString &peer);
    bool textTo(const QString &peer, const QString &text, const QString &replaces);
    void imageTo(const QString &peer, const QString &path, const QString &replaces);
    void voiceTo(const QString &peer, const QString &path, int durationMs, const QString &replaces);
    bool post(const QString &peer, MessageRecord row, const Payload &payload, const QString &replaces);
    void show(const MessageRecord &row, const QString &replaces);

    // Durable sends: sealed and written (outbox_seal.cpp), then posted (outbox_relay.cpp).
    // Conversations deleted while sends to them waited: a send stamped no
    // later than the deletion is not written. Asked on the pool.
    class Deletions
    {
    public:
        void mark(const QString &conversationId, qint64 stamp);
        bool drops(const QString &conversationId, qint64 stamp) const;

    private:
        mutable QMutex m_mutex;
        QHash<QString, qint64> m_marks;
    };
    // The sends this session writes itself, from the moment they are queued
    // until the store holds them (their seal job's write, or storeUnstored()
    // for those kept in the journal meanwhile), or until the journal's
    // record of one that neither kept is gone. A reading of the journal
    // leaves their records to the session: asked on the pool as it reads
    // them, so that a send made after the reading started counts too. A
    // new set for each session: what an ended one kept in the journal is
    // its owner's next reading's to write.
    class HeldSends
    {
    public:
        void insert(const QString &id);
        void remove(const QSet<QString> &ids);
        bool contains(const QString &id) const;

    private:
        mutable QMutex m_mutex;
        QSet<QString> m_ids;
    };
    struct ToSeal
    {
        QString peer;
        MessageRecord row;
        Payload payload;
        QString replaces;
        qint64 sentAtMs = 0;
        bool typedKept = false; // its text is in the journal as typed (waiting)
    };
    struct Sealed
    {
        MessageRecord row; // failed when it could not be sealed
        QString envelope;  // empty when it could not be sealed
        QString error;
        QString replaces;
        qint64 stamp = 0;
        // Held by the store or the journal; false also when its conversation
        // was deleted. Only a held send is shown.
        bool written = false;
        QJsonObject fanOut; // a normal group's: the object `envelope` was written from
    };
    struct SealedBatch
    {
        QList<Sealed> sends;
        bool stored = false;
        bool journaled = false; // refused by the store, kept in the journal
        bool dropped = false;   // signed under another identity than the send's
    };
    static QByteArray contentOf(const Payload &payload, qint64 sentAtMs);
    // Sealed and signed, on the pool: a one-to-one envelope, or a normal
    // group's fan-out (every member's envelope); `signer` says whose key
    // signed it.
    // A super group's is its request (supergroup_sends.h), with the user's
    // name in the group (`displayName`).
    static Sealed seal(const ToSeal &send, const velmor::identity::Identity &identity, const QString &displayName,
                       QString *signer);
    void queueSeal(const QString &peer, const MessageRecord &row, const Payload &payload, const QString &replaces);
    // The typed texts queued in this turn of the event loop, into the
    // journal as they wait to be sealed: a kill before their seal job
    // writes them loses nothing (the next start sends them).
    void journalTyped();
    // Texts an earlier run kept as typed and never sealed: sealed and sent
    // now. How many (those this session typed itself are its own jobs').
    int sealTyped(const QList<JournaledSend> &typed);
    void sealQueued();
    // On the pool: every send sealed and signed, then written in one transaction.
    // Seals and signs with the identity the session had, then writes, after
    // the write of the job started before (`previous`), in transactions of
    // kSealBatch; the store is held open until then (`hold`). What the store
    // refuses goes into the send journal (`journal`).
    // A lone send (`mayPost`, and a place among the posts free) is posted
    // by the same job once written, while the window shows it.
    void startSealJob(const QList<ToSeal> &sends, bool mayPost);
    static SealedBatch sealAndStore(const QList<ToSeal> &sends, const QString &owner, const QString &journal,
                                    const velmor::identity::Identity &identity, const Deletions &deletions,
                                    const std::shared_future<void> &previous, std::shared_ptr<void> hold);
    // Shows the written rows and posts them; a batch the store refused is
    // kept in memory (a retry's is not: its failed row stays).
    void showSealed(const SealedBatch &batch);
    // A batch of a session that has ended: stored, it is posted at its
    // owner's next start (resumeInterrupted).
    void sealedAfterEnd(const QString &owner, const SealedBatch &batch);
    // Sends of an ended session still to be written.
    bool endedSealsPending() const;
    // A post's answer; `marked`: the post's job wrote the sent status itself.
    struct Posted
    {
        RelaySendResult result;
        bool marked = false;
        // Not posted: its row was found sent already.
        bool foundSent = false;
        // Taken by the relay, its row stored: a run marks it sent with the
        // others it posted, in one write.
        bool toMark = false;
    };
    void postedAfterEnd(const QString &messageId, const QString &owner, const QString &journal,
                        const std::optional<Posted> &posted);
    bool retryStored(const MessageRecord &row);
    // `first`: ahead of the conversation's other waiting sends (a post
    // that has to go again before those it held back).
    void enqueue(const QString &messageId, const QString &conversationId, bool first = false);
    void pump();
    // Posts a conversation's sends one after another, on the pool, up to
    // the first that fails or the end of the session; the rest wait again
    // at the front of their conversation.
    void postRun(const PostQueue::Run &run);
    // A run's post goes on to the next: nothing went out, or the relay took it.
    static bool runGoesOn(const std::optional<Posted> &posted);
    void onPosted(const QString &messageId, const RelaySendResult &result, bool marked = false);
    // On the pool: posts a send (kept in memory, just sealed, or read from
    // the store) and, once the relay took a stored one, marks it sent.
    // `justStored`: by the seal job that calls this, with `sealedEnvelope`.
    // `markNow`: the job writes the sent status at once (a run leaves it to
    // its one write at the end, toMark).
    static std::optional<Posted> postSend(const QString &messageId, const QString &keptEnvelope,
                                          const std::optional<MessageRecord> &keptRow,
                                          const QString &sealedEnvelope,
                                          const QJsonObject &sealedFanOut = QJsonObject(), bool justStored = false,
                                          bool markNow = true);
    // A post's answer, for this session or an ended one.
    void answered(const QString &messageId, const QString &owner, const QString &journal,
                  const std::optional<Posted> &posted, bool current);
    // A post's (or a run's) job is over, answered or not: `ids` are what it
    // was given to post, the first its key in the queue.
    void postEnded(const QStringList &ids);
    void settle(const QString &messageId, MessageStatus status, const QString &error);
    // Writes the statuses settle() gathered (and those the store refused
    // before) in one transaction, then says so for each new one (list row,
    // sendFinished). What the store refuses is shown all the same and
    // written after kStoreRetryMs; a program ended before leaves those rows
    // sending with their envelopes, posted again at the next start.
    void writeSettled();
    // Sends kept in memory while the store cannot take them.
    struct Unstored
    {
        MessageRecord row;
        QString envelope;
        bool journaled = false;
    };
    void keepUnstored(const MessageRecord &row, const QString &envelope, bool journaled);
    void storeUnstored();
    QString journalPath() const;
    // Writes what the journal holds that this session does not, on a worker.
    void replayJournal();

    ChatHost &m_host;
    qsizetype m_imageByteLimit;
    QList<ToSeal> m_sealQueue; // oldest first
    bool m_sealing = false;    // a job of this session seals and writes
    QTimer m_sealTimer;        // the sends of one turn of the event loop go together
    QList<quint64> m_sealJobSessions;         // the session of each seal job on its way
    std::shared_future<void> m_lastSealWrite; // done once the latest seal job has written
    std::shared_ptr<Deletions> m_deletions = std::make_shared<Deletions>();
    std::shared_ptr<HeldSends> m_held = std::make_shared<HeldSends>();
    // Set when this session ends (forgetQueue): a seal job that has not
    // posted its send by then leaves it to its owner's next start, so that
    // it never goes out under the next session's sign-in.
    std::shared_ptr<std::atomic_bool> m_ended = std::make_shared<std::atomic_bool>(false);
    // resumeInterrupted() waits for an ended session's sends to be written.
    bool m_resumeWhenWritten = false;
    int m_inFlight = 0;
    qint64 m_giveUpSeconds = kGiveUpSeconds;
    PostQueue m_queue;       // ids to post, by conversation, oldest first
    bool m_pumpHeld = false; // a run's answers are being taken in: pumped once after
    QSet<QString> m_retrying;   // retried by the user, their posts not answered yet
    QSet<QString> m_posting; // ids on their way
    // The envelopes of the sends being shown (showSealed): one posted at
    // once is not read back from the store.
    QHash<QString, QString> m_sealedNow;
    QSet<QString> m_postingEnded; // on their way for a session that ended
    // Final statuses of posts answered after their session ended, by owner:
    // written at that owner's next start.
    QHash<QString, QList<QPair<QString, MessageStatus>>> m_laterStatuses;
    int m_relayFailures = 0; // failed posts in a row
    qint64 m_pausedUntilMs = 0;
    QTimer m_resendTimer;
    QHash<QString, Unstored> m_unstored;
    bool m_journalUsed = false; // this session kept sends in the journal
    QStringList m_unstoredOrder; // oldest first
    QTimer m_storeTimer;
    QList<JournaledSend> m_typedToJournal; // queued this turn, oldest first
    QSet<QString> m_typedIds;              // typed texts of this process on their way to the store
    QTimer m_typedTimer;
    QTimer m_replayTimer;          // the journal read back again
    bool m_replaying = false;      // a replay job is on its way
    bool m_replayAgain = false;    // asked for while one was
    bool m_resumeAfterReplay = false; // the next replay is the sign-in's: resumeInterrupted() after it
    // From a sign-in until its read of the interrupted sends is taken in:
    // the sends this session took meanwhile. The read finds them sending in
    // the store (a post just answered, its status not written yet) and must
    // not post them again.
    bool m_resumeReadPending = false;
    QSet<QString> m_takenBeforeResume;
    bool m_journalReserved = false;
    QList<QPair<QString, MessageStatus>> m_settled; // to write, oldest first
    // Shown already, refused by the store: written with the next ones.
    QList<QPair<QString, MessageStatus>> m_unwrittenStatuses;
    QTimer m_settleTimer;
    QElapsedTimer m_lastStatusWrite; // since the last write of statuses
};

} // namespace velmor::chat
