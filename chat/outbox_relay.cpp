// Durable sends, posting: a queue that posts at most Outbox::kMaxPosts at a
// time the envelopes stored with their rows (sealed and written by
// outbox_seal.cpp), the wait after a relay that cannot be reached, the
// final statuses, and what the store refused kept in the send journal
// (outbox.h says why).
#include "chat/outbox.h"

#include "chat/chat_host.h"
#include "chat/chat_session.h"
#include "chat/error_model.h"
#include "chat/job_runner.h"
#include "chat/peer_keys.h"
#include "chat/send_journal.h"
#include "chat/supergroup_sends.h"
#include "groups/group_engine.h"
#include "identity/envelope.h"
#include "store/chat_store.h"

#include <QDateTime>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace velmor::chat {

namespace {

const QString kNeverOnline = QStringLiteral("recipientNeverOnline");
const QString kMessageNotifyType = QStringLiteral("message");
const QString kOutlived = QStringLiteral("envelope_expired");

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// A group's fan-out carries an envelope for each member, all signed at once.
QJsonObject firstEnvelope(const QJsonObject &object)
{
    return isGroupFanOut(object) ? object.value(QStringLiteral("envelopes")).toArray().first().toObject() : object;
}

// An envelope whose lifetime is over (or too nearly over to arrive in it)
// is never posted, nor signed again under its id: the peer forgets the ids
// of messages it deleted once their envelopes can no longer be valid, so
// the same id with a new lifetime would bring a deleted message back.
bool envelopeOutlived(const QJsonObject &stored)
{
    // A super group's request has no lifetime: its server keeps the id.
    if (isSuperGroupRequest(stored))
        return false;
    const QJsonObject object = firstEnvelope(stored);
    const qint64 expiresAt = RelayApi::envelopeFromJson(object).expiresAt;
    return expiresAt <= QDateTime::currentSecsSinceEpoch() + velmor::identity::kEnvelopeClockSlackSeconds;
}

bool envelopeOutlived(const QString &envelopeJson)
{
    return envelopeOutlived(QJsonDocument::fromJson(envelopeJson.toUtf8()).object());
}

// Posts a stored envelope (read from its JSON, `written`) as it was signed;
// a group's fan-out goes out as the JSON it was written as.
RelaySendResult postEnvelope(const QJsonObject &object, const QByteArray &written)
{
    if (isGroupFanOut(object)) {
        if (!envelopeOutlived(object))
            return postGroupFanOut(object, written);
        RelaySendResult outlived;
        outlived.error = kOutlived;
        return outlived;
    }
    const RawEnvelope raw = RelayApi::envelopeFromJson(object);
    const velmor::identity::Envelope envelope = RelayApi::toEnvelope(raw);
    RelaySendResult failed;
    if (envelopeOutlived(object)) {
        failed.error = kOutlived;
        return failed;
    }
    if (envelope.messageId.isEmpty() || envelope.signature.isEmpty()) {
        failed.error = QStringLiteral("invalid_envelope");
        return failed;
    }
    return RelayApi::send(envelope, raw.notifyType.isEmpty() ? kMessageNotifyType : raw.notifyType);
}

// Tests hold the journal's reading here (setJournalReadHookForTests), and
// the store's reading of the interrupted sends (setInterruptedReadHookForTests).
QMutex g_journalReadHookMutex;
std::function<void(Outbox::JournalReading)> g_journalReadHook;
std::function<void()> g_interruptedReadHook;

template <typename... Args>
void runReadHook(const std::function<void(Args...)> &hook, Args... args)
{
    std::function<void(Args...)> held;
    {
        QMutexLocker lock(&g_journalReadHookMutex);
        held = hook;
    }
    if (held)
        held(args...);
}

} // namespace

void Outbox::setInterruptedReadHookForTests(std::function<void()> hook)
{
    QMutexLocker lock(&g_journalReadHookMutex);
    g_interruptedReadHook = std::move(hook);
}

void Outbox::setJournalReadHookForTests(std::function<void(JournalReading)> hook)
{
    QMutexLocker lock(&g_journalReadHookMutex);
    g_journalReadHook = std::move(hook);
}

int Outbox::retryDelayMs(int failures)
{
    if (failures <= 0)
        return 0;
    return 1000 << std::clamp(failures - 1, 0, 2);
}


QString Outbox::journalPath() const
{
    return SendJournal::pathBeside(m_host.session().store().databasePath());
}

void Outbox::keepUnstored(const MessageRecord &row, const QString &envelope, bool journaled)
{
    qWarning().noquote() << "[SEND] store did not take" << row.id << "- kept" << (journaled ? "in the journal" : "in memory")
                         << "and posted meanwhile";
    m_unstored.insert(row.id, Unstored{row, envelope, journaled});
    m_unstoredOrder.append(row.id);
    if (!m_storeTimer.isActive())
        m_storeTimer.start();
}

void Outbox::storeUnstored()
{
    ChatStore &store = m_host.session().store();
    while (!m_unstoredOrder.isEmpty()) {
        const QString id = m_unstoredOrder.first();
        const Unstored &kept = m_unstored[id];
        // A finished send needs no envelope any more; an unfinished one
        // keeps it, so that the next start still posts it (group sends
        // have none).
        const bool written = !kept.envelope.isEmpty() && kept.row.status != MessageStatus::Sent
                                 ? store.upsertMessageWithEnvelope(kept.row, kept.envelope)
                                 : store.upsertMessage(kept.row);
        if (!written) {
            m_storeTimer.start();
            return;
        }
        m_held->remove({id});
        m_unstored.remove(id);
        m_unstoredOrder.removeFirst();
    }
    m_storeTimer.stop();
    m_host.reloadConversations();
    // Every send kept in the journal is in the store now: their records
    // leave the file (a replay that finds nothing more to write).
    if (std::exchange(m_journalUsed, false))
        replayJournal();
}

int Outbox::unkeptSends() const
{
    return int(std::count_if(m_unstored.cbegin(), m_unstored.cend(), [](const Unstored &u) { return !u.journaled; }));
}

void Outbox::restoreJournaled()
{
    m_journalReserved = false;
    // The store's interrupted sends are read only once this reading has
    // written the journal's into the store (replayJournal): one read then
    // posts all of them oldest first. Read side by side, the journal's
    // (mostly a burst's later part) could be queued first and reach the
    // peer ahead of the older ones.
    m_resumeAfterReplay = true;
    m_resumeReadPending = true;
    replayJournal();
}

void Outbox::replayJournal()
{
    if (m_replaying) {
        m_replayAgain = true;
        return;
    }
    m_replayTimer.stop();
    m_replaying = true;
    m_replayAgain = false;
    // The sign-in's reading resumes the interrupted sends at its end, also
    // when the store refused its rows (those it holds go out now), and so
    // enqueues none of its rows itself; a later one enqueues its own.
    const bool signIn = std::exchange(m_resumeAfterReplay, false);
    const QString journal = journalPath();
    const QString owner = m_host.session().store().ownerKey();
    const bool reserve = !std::exchange(m_journalReserved, true);
    SendJournal::ReplayFilter filter;
    // This session's own sends are written by their seal jobs, or, refused,
    // by storeUnstored(): also those the store refuses while this reading is
    // on its way, kept in the journal before it reads the file. Written by
    // the reading too, they would be told as restored and posted again.
    filter.held = [held = m_held](const QString &id) { return held->contains(id); };
    // Whatever the journal holds was sent before any deletion of this
    // session: a conversation deleted since gets none of it back.
    filter.dropped = [deletions = m_deletions](const MessageRecord &row) {
        return deletions->drops(row.conversation_id, 0);
    };
    // Read after the seal jobs asked for before, an ended session's too:
    // their typed records are taken out first.
    m_host.jobs().run<std::optional<SendJournal::Replayed>>(
        [journal, owner, reserve, filter, sealed = m_lastSealWrite] {
            if (sealed.valid())
                sealed.wait();
            if (reserve)
                SendJournal::reserve(journal);
            runReadHook(g_journalReadHook, JournalReading::Starts);
            auto replayed = SendJournal::replay(journal, owner, ChatStore::instance(), filter);
            runReadHook(g_journalReadHook, JournalReading::Read);
            return replayed;
        },
        [this, signIn](const std::optional<SendJournal::Replayed> &replayed) {
            if (!replayed) {
                // The store refuses (the disk is full, another program holds
                // it): read back once it takes writes again.
                m_replayTimer.start();
                return;
            }
            if (replayed->lost > 0)
                emit journalRecordsLost(replayed->lost);
            for (const auto &[id, status] : replayed->answered)
                m_host.messageStatusChanged(id, int(status));
            const int typed = sealTyped(replayed->waiting);
            const QList<MessageRecord> &restored = replayed->rows;
            if (restored.isEmpty()) {
                if (typed > 0)
                    emit sendsRestored(typed);
                return;
            }
            qInfo() << "[SEND]" << restored.size() << "sends kept in the journal were written";
            m_host.reloadConversations();
            m_host.reloadMessages();
            for (const MessageRecord &row : restored) {
                // Deleted with its conversation since it was written: the
                // deletion took it, nothing is posted.
                if (!signIn && row.status == MessageStatus::Sending && !m_deletions->drops(row.conversation_id, 0))
                    enqueue(row.id, row.conversation_id);
            }
            emit sendsRestored(int(restored.size()) + typed);
        },
        [this, signIn, ticket = m_host.session().ticket()] {
            m_replaying = false;
            // Before the answer is taken in (its rows are not enqueued, the
            // read that follows finds them), and also when the job ended
            // without one; an ended session's reading leaves the read to
            // its owner's next sign-in.
            if (signIn && m_host.session().isCurrent(ticket))
                resumeInterrupted();
            if (std::exchange(m_replayAgain, false) && m_host.session().isActive())
                QMetaObject::invokeMethod(this, &Outbox::replayJournal, Qt::QueuedConnection);
        });
}

QList<MessageRecord> Outbox::unstoredRows() const
{
    QList<MessageRecord> rows;
    for (const QString &id : m_unstoredOrder)
        rows.append(m_unstored.value(id).row);
    return rows;
}

void Outbox::forgetQueue()
{
    // Sends accepted and not written yet are still written, as this owner's,
    // after the job under way (the store stays open for both until then).
    journalTyped();
    m_ended->store(true);
    m_ended = std::make_shared<std::atomic_bool>(false);
    m_sealTimer.stop();
    if (!m_sealQueue.isEmpty() && m_host.session().isActive())
        startSealJob(std::exchange(m_sealQueue, {}), false);
    m_sealQueue.clear();
    m_sealing = false;
    m_resumeWhenWritten = false;
    // Posts on their way are answered into this owner's next session.
    m_postingEnded.unite(m_posting);
    m_posting.clear();
    if (m_host.session().isActive())
        writeSettled();
    if (!m_unwrittenStatuses.isEmpty())
        qWarning() << "[SEND] session ended with" << m_unwrittenStatuses.size() << "statuses the store never took";
    m_settled.clear();
    m_unwrittenStatuses.clear();
    m_settleTimer.stop();
    m_queue.clearWaiting();
    m_retrying.clear();
    m_resendTimer.stop();
    m_pausedUntilMs = 0;
    m_relayFailures = 0;
    // A last try; what the store still refuses is lost to this device (what
    // was posted has reached the relay all the same).
    if (!m_unstored.isEmpty() && m_host.session().isActive())
        storeUnstored();
    if (!m_unstored.isEmpty())
        qWarning() << "[SEND] session ended with" << m_unstored.size() << "sends the store never took";
    m_unstored.clear();
    m_unstoredOrder.clear();
    // What this session kept in the journal is its owner's next reading's.
    m_held = std::make_shared<HeldSends>();
    m_storeTimer.stop();
    m_replayTimer.stop();
    m_replayAgain = false;
    // A sign-in's reading still to start is the next session's to ask for.
    m_resumeAfterReplay = false;
    m_resumeReadPending = false;
    m_takenBeforeResume.clear();
}

bool Outbox::retryStored(const MessageRecord &row)
{
    ChatStore &store = m_host.session().store();
    const QString envelope = store.outgoingEnvelope(row.id);
    if (isSuperGroupPeer(row.peer_raw_public_key)) {
        // Asked for again under its own id, which the group server keeps
        // once, never as a new message that may double one that arrived; a
        // row of an older build, kept with no request, gets one now.
        if (!mayPost(row.peer_raw_public_key))
            return true;
        MessageRecord again = row;
        again.status = MessageStatus::Sending;
        const bool written = envelope.isEmpty()
                                 ? store.upsertMessageWithEnvelope(again, superGroupRequest(row, QString()))
                                 : store.setMessageStatus(row.id, MessageStatus::Sending);
        if (!written) {
            m_host.errors().publishWord(QStringLiteral("store_write_failed"));
            return true;
        }
    } else if (envelope.isEmpty() || envelopeOutlived(envelope)
               || !store.setMessageStatus(row.id, MessageStatus::Sending)) {
        // An envelope past its lifetime is not posted: the retry goes out as
        // a new message (a new id) instead.
        return false;
    }
    m_retrying.insert(row.id);
    // Its failed status, if still unwritten, must not undo this.
    m_unwrittenStatuses.removeIf([&row](const auto &change) { return change.first == row.id; });
    m_host.messageStatusChanged(row.id, int(MessageStatus::Sending));
    // A retry is the user's word that the relay may answer again.
    m_pausedUntilMs = 0;
    enqueue(row.id, row.conversation_id);
    return true;
}


void Outbox::resumeInterrupted()
{
    // Answers that came after this owner's last session ended.
    const auto later = m_laterStatuses.take(m_host.session().ownerKey());
    if (!later.isEmpty()) {
        m_settled = later + m_settled;
        writeSettled();
    }
    m_resumeReadPending = true;
    // The sends an ended session accepted are posted once written.
    if (endedSealsPending()) {
        m_resumeWhenWritten = true;
        return;
    }
    m_resumeWhenWritten = false;
    // Read on a worker: thousands of interrupted sends (a burst the program
    // never saw finish) cost the window nothing. Those with nothing stored
    // to post again are failed first, in the same job, for this owner only
    // (the session may end meanwhile): a list read before shows them
    // sending and is read again once they are failed.
    struct Interrupted
    {
        QStringList post;     // oldest first
        QStringList conversations; // of each of `post`
        QStringList outlived; // left sending for longer than its envelope lives
        int failed = 0;       // nothing to post them again with
    };
    m_host.jobs().run<Interrupted>(
        [owner = m_host.session().ownerKey()] {
            runReadHook(g_interruptedReadHook);
            ChatStore &store = ChatStore::instance();
            Interrupted found;
            if (!store.failInterruptedSends(owner, &found.failed))
                qWarning() << "[SEND] interrupted sends without an envelope could not be failed now";
            QStringList conversations;
            const QStringList ids = store.interruptedEnvelopeSends(&conversations);
            for (qsizetype i = 0; i < ids.size(); ++i) {
                if (envelopeOutlived(store.outgoingEnvelope(ids.at(i)))) {
                    found.outlived.append(ids.at(i));
                } else {
                    found.post.append(ids.at(i));
                    found.conversations.append(conversations.value(i));
                }
            }
            return found;
        },
        [this](const Interrupted &found) {
            if (found.failed > 0)
                m_host.reloadMessages();
            // Left sending for longer than its envelope lives (the program was
            // not run meanwhile): failed, for the user to send again if still wanted.
            if (!found.outlived.isEmpty()) {
                QList<QPair<QString, MessageStatus>> failed;
                for (const QString &id : found.outlived) {
                    qInfo().noquote() << "[SEND] interrupted send outlived its envelope:" << id;
                    failed.append({id, MessageStatus::Failed});
                }
                if (m_host.session().store().setMessageStatuses(failed)) {
                    for (const QString &id : found.outlived)
                        m_host.messageStatusChanged(id, int(MessageStatus::Failed));
                }
            }
            m_resumeReadPending = false;
            const QSet<QString> taken = std::exchange(m_takenBeforeResume, {});
            for (qsizetype i = 0; i < found.post.size(); ++i) {
                if (!taken.contains(found.post.at(i)))
                    enqueue(found.post.at(i), found.conversations.at(i));
            }
        });
}

void Outbox::resumeNow()
{
    if (!m_unstored.isEmpty())
        storeUnstored();
    if (!m_unwrittenStatuses.isEmpty())
        writeSettled();
    m_pausedUntilMs = 0;
    m_resendTimer.stop();
    pump();
}

void Outbox::enqueue(const QString &messageId, const QString &conversationId, bool first)
{
    if (m_posting.contains(messageId) || m_postingEnded.contains(messageId) || m_queue.contains(messageId))
        return;
    if (m_resumeReadPending)
        m_takenBeforeResume.insert(messageId);
    m_queue.add(messageId, conversationId, first);
    pump();
}

void Outbox::pump()
{
    if (m_pumpHeld || !m_host.session().isActive())
        return;
    const qint64 now = nowMs();
    if (m_pausedUntilMs > now) {
        if (!m_resendTimer.isActive())
            m_resendTimer.start(int(m_pausedUntilMs - now));
        return;
    }
    while (m_queue.onWay() < kMaxPosts) {
        const std::optional<PostQueue::Run> run = m_queue.takeRun(kRunLength);
        if (!run)
            break;
        postRun(*run);
    }
}

bool Outbox::runGoesOn(const std::optional<Posted> &posted)
{
    return !posted || posted->foundSent || posted->result.ok;
}

void Outbox::postRun(const PostQueue::Run &run)
{
    struct Send
    {
        QString id;
        QString keptEnvelope;
        std::optional<MessageRecord> keptRow;
        QString sealedEnvelope;
    };
    QList<Send> sends;
    for (const QString &id : run.ids) {
        const auto kept = m_unstored.constFind(id);
        Send send{id, {}, std::nullopt, {}};
        if (kept != m_unstored.cend()) {
            send.keptEnvelope = kept->envelope;
            send.keptRow = kept->row;
        }
        // A send being shown now was just sealed and stored: its envelope is at hand.
        if (send.keptEnvelope.isEmpty())
            send.sealedEnvelope = m_sealedNow.value(id);
        sends.append(send);
        m_posting.insert(id);
    }
    ++m_inFlight;
    // The stored envelopes are read on the pool too: nothing of a burst's
    // posting reads the store on the window's thread. The relay's answers
    // count even once the session has ended; a session that ends stops the
    // run after the post on its way, the rest left to its owner's next start.
    m_host.jobs().runToEnd<QList<std::optional<Posted>>>(
        [sends, ended = m_ended] {
            QList<std::optional<Posted>> answers;
            QList<QPair<QString, MessageStatus>> sent;
            QList<qsizetype> sentAt;
            for (const Send &send : sends) {
                if (ended->load())
                    break;
                answers.append(postSend(send.id, send.keptEnvelope, send.keptRow, send.sealedEnvelope, {}, false,
                                        false));
                if (answers.last() && answers.last()->toMark) {
                    sent.append({send.id, MessageStatus::Sent});
                    sentAt.append(answers.size() - 1);
                }
                if (!runGoesOn(answers.last()))
                    break;
            }
            // Marked sent together, as postSend would one by one (a program
            // killed before posts them again: the relay holds their ids).
            QList<bool> found;
            if (!sent.isEmpty() && ChatStore::instance().setMessageStatuses(sent, &found)) {
                for (qsizetype i = 0; i < sentAt.size(); ++i)
                    answers[sentAt.at(i)]->marked = found.value(i);
            }
            return answers;
        },
        [this, run, owner = m_host.session().ownerKey(),
         journal = journalPath()](const QList<std::optional<Posted>> &answers, bool current) {
            // Taken in as a whole, pumped once after: a post to go again
            // goes before those the run did not reach, and they before the
            // conversation's later sends.
            m_pumpHeld = true;
            const QStringList rest = run.ids.mid(answers.size());
            if (m_host.session().isActive() && m_host.session().ownerKey() == owner) {
                for (auto id = rest.crbegin(); id != rest.crend(); ++id)
                    m_queue.add(*id, run.conversation, true);
            }
            for (qsizetype i = 0; i < answers.size(); ++i)
                answered(run.ids.at(i), owner, journal, answers.at(i), current);
            m_pumpHeld = false;
            pump();
        },
        [this, ids = run.ids] { postEnded(ids); });
}

std::optional<Outbox::Posted> Outbox::postSend(const QString &messageId, const QString &keptEnvelope,
                                               const std::optional<MessageRecord> &keptRow,
                                               const QString &sealedEnvelope, const QJsonObject &sealedFanOut,
                                               bool justStored, bool markNow)
{
    // Sent meanwhile (no envelope), or deleted with its conversation
    // while it waited: not posted. One its own seal job has just written
    // (and found its conversation not deleted) is not read back for that.
    ChatStore &store = ChatStore::instance();
    const bool stored = keptEnvelope.isEmpty() && (justStored || store.messageExists(messageId));
    const QString envelope = !keptEnvelope.isEmpty() ? keptEnvelope
        : !stored                                     ? QString()
        : !sealedEnvelope.isEmpty()                   ? sealedEnvelope
                                                      : store.outgoingEnvelope(messageId);
    if (envelope.isEmpty()) {
        // Found sent: a retry may have to say so (answered()).
        if (stored) {
            const std::optional<MessageRecord> row = store.ownMessage(messageId);
            if (row && row->status == MessageStatus::Sent) {
                Posted found;
                found.foundSent = true;
                return found;
            }
        }
        return std::nullopt;
    }
    const QByteArray written = envelope.toUtf8();
    // A fan-out just sealed is at hand as the object its text was written from.
    const bool atHand = !sealedFanOut.isEmpty() && keptEnvelope.isEmpty() && envelope == sealedEnvelope;
    const QJsonObject request = atHand ? sealedFanOut : QJsonDocument::fromJson(written).object();
    Posted posted;
    if (isSuperGroupRequest(request)) {
        // The message is its row's (a pulled copy of it, the server's
        // word that it arrived, is no longer the user's to post).
        const std::optional<MessageRecord> row = keptRow ? keptRow : store.ownMessage(messageId);
        if (!row)
            return std::nullopt;
        posted.result = postSuperGroupRequest(request, *row);
    } else {
        posted.result = postEnvelope(request, written);
    }
    // Marked sent here, off the window's thread and without a trip
    // through it first. Only a stored row of the store's owner can
    // match: for another owner signed in since, or a store that
    // refuses, the window writes it as before.
    QList<bool> found;
    posted.toMark = stored && posted.result.ok && !markNow;
    posted.marked = stored && posted.result.ok && markNow
                    && store.setMessageStatuses({{messageId, MessageStatus::Sent}}, &found) && found.value(0);
    return posted;
}

void Outbox::answered(const QString &messageId, const QString &owner, const QString &journal,
                      const std::optional<Posted> &posted, bool current)
{
    const bool foundSent = posted && posted->foundSent;
    const bool retried = m_retrying.contains(messageId);
    if (!current) {
        // Written in its owner's store already: nothing to keep for later.
        postedAfterEnd(messageId, owner, journal, foundSent ? std::nullopt : posted);
    } else if (foundSent && retried) {
        // A retried row marked sent between the retry and its post: a
        // super group's pull that finds the server's copy of the user's
        // message marks it so and drops its envelope. The retry is over,
        // and said so. Other posts that find their row sent stay silent:
        // they follow a post of this outbox that said so already.
        m_host.messageStatusChanged(messageId, int(MessageStatus::Sent));
        emit sendFinished(messageId, int(MessageStatus::Sent));
        pump();
    } else if (posted && !foundSent) {
        onPosted(messageId, posted->result, posted->marked);
    } else {
        pump();
    }
    // A retry stays one while its send waits to be posted again.
    if (retried && !m_queue.contains(messageId))
        m_retrying.remove(messageId);
}

void Outbox::postEnded(const QStringList &ids)
{
    // Its conversation's next send may go with the next pump (the answer's:
    // one posted again goes first).
    m_queue.ended(ids.first());
    for (const QString &id : ids) {
        if (!m_postingEnded.remove(id))
            m_posting.remove(id);
    }
    --m_inFlight;
}

void Outbox::postedAfterEnd(const QString &messageId, const QString &owner, const QString &journal,
                            const std::optional<Posted> &posted)
{
    if (m_host.session().isActive() && m_host.session().ownerKey() == owner) {
        // Its owner is signed in again: taken in as this session's own.
        if (posted)
            onPosted(messageId, posted->result, posted->marked);
        else
            pump();
        return;
    }
    // Written at the owner's next start, before its sends are posted again;
    // one the relay could not be reached for is posted again then. One the
    // post's job marked sent is in the owner's store already.
    const RelaySendResult *result = posted && !posted->marked ? &posted->result : nullptr;
    if (!result || (!result->ok && result->retryable))
        return;
    const MessageStatus status = result->ok                        ? MessageStatus::Sent
                                 : result->error == kNeverOnline ? MessageStatus::AddressUnreachable
                                                                 : MessageStatus::Failed;
    m_laterStatuses[owner].append({messageId, status});
    // Kept beside the owner's store too: a program that ends before that
    // owner signs in again neither leaves the row sending nor posts it again
    // (the next sign-in's replay writes the answer).
    MessageRecord answered;
    answered.id = messageId;
    answered.status = status;
    SendJournal::appendSoon(journal, {JournaledSend{owner, answered, QString(), true}});
}

void Outbox::onPosted(const QString &messageId, const RelaySendResult &result, bool marked)
{
    if (result.ok) {
        m_relayFailures = 0;
        if (marked) {
            // Written by the post's job: only shown and told here.
            m_host.messageStatusChanged(messageId, int(MessageStatus::Sent));
            emit sendFinished(messageId, int(MessageStatus::Sent));
        } else {
            settle(messageId, MessageStatus::Sent, QString());
        }
        // The relay answers: whatever waits for it goes now.
        m_pausedUntilMs = 0;
        pump();
        return;
    }
    const auto kept = m_unstored.constFind(messageId);
    const auto row = kept != m_unstored.cend() ? std::optional<MessageRecord>(kept->row)
                                               : m_host.session().store().ownMessage(messageId);
    if (row && result.retryable
        && QDateTime::currentSecsSinceEpoch() - row->created_at < m_giveUpSeconds) {
        // Still sending: posted again when the relay may answer.
        ++m_relayFailures;
        m_pausedUntilMs = nowMs() + retryDelayMs(m_relayFailures);
        qInfo().noquote() << "[SEND] relay not reached, again in" << retryDelayMs(m_relayFailures) << "ms:"
                          << result.error;
        // Before the sends of its conversation it held back.
        enqueue(messageId, row->conversation_id, true);
        return;
    }
    settle(messageId, result.error == kNeverOnline ? MessageStatus::AddressUnreachable : MessageStatus::Failed,
           result.error.isEmpty() ? QStringLiteral("send_failed") : result.error);
    pump();
}

void Outbox::settle(const QString &messageId, MessageStatus status, const QString &error)
{
    if (!error.isEmpty()) {
        qWarning() << "[SEND] failed id=" << messageId << "err=" << error;
        m_host.errors().publishWord(error);
    }
    if (m_unstored.contains(messageId)) {
        Unstored &kept = m_unstored[messageId];
        kept.row.status = status;
        if (kept.journaled) {
            // Its answer beside it in the journal: a program ended before the
            // store takes it does not post it again, nor shows it failed.
            const QString journal = journalPath();
            const JournaledSend answer{m_host.session().ownerKey(), kept.row, QString(), true};
            JobRunner::fireAndForget([journal, answer] { SendJournal::append(journal, {answer}); });
        }
        m_host.messageStatusChanged(messageId, int(status));
        storeUnstored();
        emit sendFinished(messageId, int(status));
        return;
    }
    m_settled.append({messageId, status});
    // The first answer after a quiet frame is written at once (a lone send
    // is marked sent as soon as the relay took it); answers that follow
    // within a frame of a write wait for the next one and go together, also
    // while refused ones wait for the store.
    const qint64 sinceWrite = m_lastStatusWrite.isValid() ? m_lastStatusWrite.elapsed() : kStatusBatchMs;
    if (!m_settleTimer.isActive() && m_unwrittenStatuses.isEmpty() && sinceWrite >= kStatusBatchMs) {
        writeSettled();
        return;
    }
    const int wait = int(qBound<qint64>(0, qint64(kStatusBatchMs) - sinceWrite, qint64(kStatusBatchMs)));
    if (!m_settleTimer.isActive() || m_settleTimer.remainingTime() > wait)
        m_settleTimer.start(wait);
}

void Outbox::writeSettled()
{
    m_settleTimer.stop();
    const QList<QPair<QString, MessageStatus>> settled = std::exchange(m_settled, {});
    if (settled.isEmpty() && m_unwrittenStatuses.isEmpty())
        return;
    m_lastStatusWrite.start();
    // A row deleted meanwhile (its conversation cleared) is not brought back.
    const int before = int(m_unwrittenStatuses.size());
    QList<bool> found;
    if (m_host.session().store().setMessageStatuses(m_unwrittenStatuses + settled, &found)) {
        m_unwrittenStatuses.clear();
    } else {
        qWarning() << "[SEND] store did not take the statuses of" << before + settled.size() << "sends";
        m_unwrittenStatuses += settled;
        m_settleTimer.start(kStoreRetryMs);
    }
    for (int i = 0; i < settled.size(); ++i) {
        // Unknown when refused: a row that is not listed changes nothing.
        if (found.isEmpty() || found.value(before + i))
            m_host.messageStatusChanged(settled.at(i).first, int(settled.at(i).second));
        emit sendFinished(settled.at(i).first, int(settled.at(i).second));
    }
}

} // namespace velmor::chat
