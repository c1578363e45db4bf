// Durable one-to-one sends: the sealed envelope stored with its row, a
// queue that posts at most Outbox::kMaxPosts at a time, and the wait after
// a relay that cannot be reached (outbox.h says why).
#include "chat/outbox.h"

#include "chat/chat_host.h"
#include "chat/chat_session.h"
#include "chat/error_model.h"
#include "chat/job_runner.h"
#include "chat/peer_keys.h"
#include "chat/send_journal.h"
#include "chat/supergroup_sends.h"
#include "groups/group_card.h"
#include "groups/group_engine.h"
#include "identity/envelope.h"
#include "net/relay_session.h"
#include "store/chat_store.h"

#include <QDateTime>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>

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

// The sender's clock in ms of the last send queued, process-wide.
qint64 g_lastStamp = 0;

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

} // namespace

int Outbox::retryDelayMs(int failures)
{
    if (failures <= 0)
        return 0;
    return 1000 << std::clamp(failures - 1, 0, 2);
}

Outbox::Sealed Outbox::seal(const ToSeal &send, const velmor::identity::Identity &identity,
                            const QString &displayName, QString *signer)
{
    Sealed sealed{send.row, {}, {}, send.replaces, send.sentAtMs};
    if (isSuperGroupPeer(send.peer)) {
        // Asked for under the row's id: posted again, the group server
        // stores it once. Sealed to the server's key when posted.
        *signer = identity.publicKeyText();
        sealed.envelope = superGroupRequest(send.row, displayName);
        return sealed;
    }
    if (isGroupPeer(send.peer)) {
        // Every member's envelope under the row's id, in the body of one
        // fan-out: posted again as it is, the members take it once.
        GroupRegistry &registry = GroupRegistry::instance();
        const QString groupId = groupIdOfPeer(send.peer);
        const Payload &payload = send.payload;
        SealedGroupMessage group;
        if (payload.kind == Payload::Kind::Text)
            group = sealGroupText(registry, groupId, payload.text, send.row.id);
        else if (payload.kind == Payload::Kind::Image)
            group = sealGroupImage(registry, groupId, payload.bytes, QStringLiteral("image/jpeg"), payload.width,
                                   payload.height, send.row.id);
        else
            group = sealGroupVoice(registry, groupId, payload.bytes, payload.durationMs, {}, send.row.id);
        sealed.error = group.error;
        if (group.ok) {
            *signer = firstEnvelope(group.fanOut).value(QStringLiteral("sender_pubkey")).toString();
            sealed.envelope = QString::fromUtf8(QJsonDocument(group.fanOut).toJson(QJsonDocument::Compact));
            sealed.fanOut = group.fanOut;
        }
        return sealed;
    }
    const velmor::identity::Envelope envelope = RelayApi::sealEnvelope(
        identity, send.peer, contentOf(send.payload, send.sentAtMs), send.row.id, &sealed.error);
    if (!envelope.signature.isEmpty()) {
        *signer = envelope.senderPubkey;
        QJsonObject wire = RelayApi::envelopeToJson(envelope);
        wire.insert(QStringLiteral("notify_type"), kMessageNotifyType);
        sealed.envelope = QString::fromUtf8(QJsonDocument(wire).toJson(QJsonDocument::Compact));
    }
    return sealed;
}

QByteArray Outbox::contentOf(const Payload &payload, qint64 sentAtMs)
{
    switch (payload.kind) {
    case Payload::Kind::Image:
        return RelayApi::imageContent(payload.bytes, QStringLiteral("image/jpeg"), payload.width, payload.height,
                                      sentAtMs);
    case Payload::Kind::Voice:
        return RelayApi::voiceContent(payload.bytes, payload.durationMs, {}, sentAtMs);
    case Payload::Kind::Text:
        break;
    }
    return RelayApi::textContent(payload.text, sentAtMs);
}

void Outbox::Deletions::mark(const QString &conversationId, qint64 stamp)
{
    QMutexLocker lock(&m_mutex);
    m_marks.insert(conversationId, stamp);
}

bool Outbox::Deletions::drops(const QString &conversationId, qint64 stamp) const
{
    QMutexLocker lock(&m_mutex);
    const auto mark = m_marks.constFind(conversationId);
    return mark != m_marks.cend() && stamp <= *mark;
}

void Outbox::queueSeal(const QString &peer, const MessageRecord &row, const Payload &payload, const QString &replaces)
{
    // The sender's clock in ms, one more than the last stamp when the clock
    // has not moved (or went back): each message a later stamp than the one
    // before, so the peer can file a burst in the order it was written.
    g_lastStamp = std::max(nowMs(), g_lastStamp + 1);
    m_sealQueue.append(ToSeal{peer, row, payload, replaces, g_lastStamp});
    // A typed text shows in its composer, waiting, until it is kept: into
    // the journal at once, not after the seal jobs ahead of it.
    if (payload.kind == Payload::Kind::Text && replaces.isEmpty() && !journalPath().isEmpty()) {
        m_sealQueue.last().typedKept = true;
        JournaledSend typed{m_host.session().ownerKey(), row, QString()};
        typed.waiting = true;
        m_typedToJournal.append(typed);
        m_typedIds.insert(row.id);
        if (!m_typedTimer.isActive())
            m_typedTimer.start();
    }
    if (!m_sealing && !m_sealTimer.isActive())
        m_sealTimer.start();
}

void Outbox::journalTyped()
{
    m_typedTimer.stop();
    if (!m_typedToJournal.isEmpty())
        SendJournal::appendSoon(journalPath(), std::exchange(m_typedToJournal, {}));
}

void Outbox::sealTyped(const QList<JournaledSend> &typed)
{
    for (const JournaledSend &send : typed) {
        if (m_typedIds.contains(send.row.id))
            continue;
        Payload payload;
        payload.kind = Payload::Kind::Text;
        payload.text = send.row.text;
        // Stamped when it was typed: a conversation deleted since drops it.
        ToSeal seal{send.row.peer_raw_public_key, send.row, payload, QString(), send.row.created_at * 1000};
        seal.row.status = MessageStatus::Sending;
        seal.typedKept = true;
        m_typedIds.insert(send.row.id);
        m_sealQueue.append(seal);
    }
    if (!m_sealing && !m_sealTimer.isActive() && !m_sealQueue.isEmpty())
        m_sealTimer.start();
}

void Outbox::sealQueued()
{
    // The typed texts' records are asked for before their seal job, which
    // takes them out once the sends are kept.
    journalTyped();
    if (m_sealing || m_sealQueue.isEmpty())
        return;
    // One job at a time keeps the queue's order in the store and the view.
    const QList<ToSeal> batch = m_sealQueue.mid(0, kSealBatch);
    m_sealQueue.remove(0, batch.size());
    m_sealing = true;
    startSealJob(batch, true);
}

void Outbox::startSealJob(const QList<ToSeal> &sends, bool mayPost)
{
    ChatSession &session = m_host.session();
    const QString owner = session.ownerKey();
    const quint64 generation = session.generation();
    const QString journal = journalPath();
    // Written after the job before it; a sign-out meanwhile leaves the store
    // open until it is.
    const std::shared_future<void> previous = m_lastSealWrite;
    auto written = std::make_shared<std::promise<void>>();
    m_lastSealWrite = written->get_future().share();
    m_sealJobSessions.append(generation);
    ++m_inFlight;
    QSet<QString> typed;
    for (const ToSeal &send : sends) {
        if (send.typedKept)
            typed.insert(send.row.id);
    }
    // A lone send with a free place among the posts and nothing waiting
    // before it is posted by its own job as soon as it is written, while the
    // window shows it: no trip through the window's thread in between.
    const bool postNow = mayPost && sends.size() == 1 && m_waiting.isEmpty() && m_posting.size() < kMaxPosts
                         && m_pausedUntilMs <= nowMs() && session.isActive();
    const QString postId = postNow ? sends.first().row.id : QString();
    if (postNow) {
        m_posting.insert(postId);
        ++m_inFlight;
    }
    m_host.jobs().runInTwo<SealedBatch, std::optional<Posted>>(
        [sends, owner, journal, identity = session.identity(), deletions = m_deletions, previous, written,
         hold = session.store().holdOpen(), typed, postNow,
         ended = m_ended](const auto &shown) mutable -> std::optional<Posted> {
            SealedBatch batch;
            {
                // The next job writes after this write, not after this post.
                const auto done = qScopeGuard([&written] { written->set_value(); });
                batch = sealAndStore(sends, owner, journal, identity, *deletions, previous, std::move(hold));
                // Stored, journaled sealed, dropped with their conversation
                // or given back to the composer: their typed records go,
                // asked for before a reading of the journal that waits for
                // this write. Signed under another identity, they stay for
                // their owner's next start.
                if (!batch.dropped && !typed.isEmpty())
                    SendJournal::forgetSoon(journal, owner, typed, true);
            }
            // Posted only as the window would show it: stored, still
            // sending, its conversation not deleted, its session not ended.
            // One the store refused goes through the window's queue, which
            // keeps it.
            const Sealed *send = postNow && !batch.dropped && batch.sends.size() == 1 ? &batch.sends.first() : nullptr;
            const bool post = send && batch.stored && send->written && send->row.status == MessageStatus::Sending
                              && !deletions->drops(send->row.conversation_id, send->stamp) && !ended->load();
            const QString id = post ? send->row.id : QString();
            const QString envelope = post ? send->envelope : QString();
            const QJsonObject fanOut = post ? send->fanOut : QJsonObject();
            shown(std::move(batch));
            if (!post)
                return std::nullopt;
            return postSend(id, QString(), std::nullopt, envelope, fanOut, true);
        },
        [this, owner](const SealedBatch &sealed, bool current) {
            if (current)
                showSealed(sealed);
            else
                sealedAfterEnd(owner, sealed);
        },
        [this, postId, owner, journal](const std::optional<Posted> &posted, bool current) {
            // Not posted by the job (kept only in the journal, or not held at
            // all): the queue posts it if there is anything to post.
            if (posted)
                answered(postId, owner, journal, posted, current);
            else if (current && !postId.isEmpty())
                enqueue(postId);
        },
        [this, generation, typed] {
            for (const QString &id : typed)
                m_typedIds.remove(id);
            m_sealJobSessions.removeOne(generation);
            if (generation == m_host.session().generation())
                m_sealing = false;
            --m_inFlight;
            if (!m_sealing && !m_sealQueue.isEmpty())
                m_sealTimer.start();
            // The ended session's sends are in: its owner's stored sends go
            // out now, when that owner is signed in again.
            if (m_resumeWhenWritten && !endedSealsPending() && m_host.session().isActive()) {
                resumeInterrupted();
                m_host.reloadMessages();
            }
        },
        [this, postId] {
            if (!postId.isEmpty())
                postEnded(postId);
        });
}

bool Outbox::endedSealsPending() const
{
    const quint64 current = m_host.session().generation();
    return std::any_of(m_sealJobSessions.cbegin(), m_sealJobSessions.cend(),
                       [current](quint64 generation) { return generation != current; });
}

Outbox::SealedBatch Outbox::sealAndStore(const QList<ToSeal> &sends, const QString &owner, const QString &journal,
                                         const velmor::identity::Identity &identity, const Deletions &deletions,
                                         const std::shared_future<void> &previous, std::shared_ptr<void> hold)
{
    SealedBatch out;
    QList<MessageRecord> rows;
    QStringList envelopes;
    QHash<QString, QString> names; // the user's name in each super group of the batch
    for (const ToSeal &send : sends) {
        QString name;
        if (isSuperGroupPeer(send.peer)) {
            const QString url = serverUrlOfPeer(send.peer);
            auto known = names.find(url);
            if (known == names.end())
                known = names.insert(url, superGroupDisplayName(url, send.row.sender_raw_public_key));
            name = *known;
        }
        QString signer;
        Sealed sealed = seal(send, identity, name, &signer);
        if (sealed.envelope.isEmpty()) {
            // Nothing that could be posted: shown as failed at once.
            sealed.row.status = MessageStatus::Failed;
        } else if (signer != send.row.sender_raw_public_key) {
            // Another identity signed in since the send: its key must not
            // sign these words, nor its store keep them.
            out.dropped = true;
            return out;
        }
        rows.append(sealed.row);
        envelopes.append(sealed.envelope);
        out.sends.append(sealed);
    }
    // Room in the journal for the batch, taken while the disk has space: a
    // store that refuses it later (a full disk) still finds the journal able
    // to keep it. A long text or a picture asks for its own size here.
    qint64 bytes = 0;
    for (qsizetype i = 0; i < rows.size(); ++i)
        bytes += SendJournal::sizeOf(JournaledSend{owner, rows.at(i), envelopes.at(i)});
    SendJournal::reserveFor(journal, bytes);
    // In the order the sends were queued: after the job before this one.
    if (previous.valid())
        previous.wait();
    // A conversation deleted meanwhile is asked about inside the write, so
    // that its deletion either comes after (and takes these rows) or is seen.
    out.stored = true;
    for (qsizetype from = 0; from < rows.size(); from += kSealBatch) {
        const qsizetype count = std::min<qsizetype>(kSealBatch, rows.size() - from);
        QList<bool> written;
        out.stored = out.stored
                     && ChatStore::instance().upsertOutgoing(
                         owner, rows.mid(from, count), envelopes.mid(from, count),
                         [&](qsizetype i) {
                             return !deletions.drops(rows.at(from + i).conversation_id, sends.at(from + i).sentAtMs);
                         },
                         &written);
        for (qsizetype i = 0; i < written.size(); ++i)
            out.sends[from + i].written = written.at(i);
    }
    if (!out.stored) {
        // Kept where the store's refusal does not reach before it is shown
        // (a retry's new row is not: its failed row stays as it is).
        QList<JournaledSend> kept;
        QList<bool> wanted;
        for (qsizetype i = 0; i < rows.size(); ++i) {
            wanted.append(sends.at(i).replaces.isEmpty()
                          && !deletions.drops(rows.at(i).conversation_id, sends.at(i).sentAtMs));
            if (wanted.last())
                kept.append(JournaledSend{owner, rows.at(i), envelopes.at(i)});
        }
        out.journaled = SendJournal::append(journal, kept);
        for (qsizetype i = 0; out.journaled && i < rows.size(); ++i)
            out.sends[i].written = out.sends[i].written || wanted.at(i);
    }
    hold.reset();
    return out;
}

void Outbox::sealedAfterEnd(const QString &owner, const SealedBatch &batch)
{
    if (batch.dropped || batch.stored)
        return;
    qWarning().noquote() << "[SEND] store did not take" << batch.sends.size() << "sends of an ended session of"
                         << owner.left(12) << (batch.journaled ? "- kept in the journal" : "");
}

void Outbox::showSealed(const SealedBatch &batch)
{
    if (batch.dropped)
        return;
    if (!batch.stored && !batch.journaled)
        m_host.errors().publishWord(QStringLiteral("store_write_failed"));
    if (batch.journaled)
        m_journalUsed = true;
    for (const Sealed &send : batch.sends) {
        const bool text = send.row.attachment.isEmpty();
        // Its conversation was deleted before or after the write, or
        // neither the store nor the journal took it.
        // A send kept nowhere is not shown: a program ended now would lose
        // it. A retry is not journaled: its new row would be written beside
        // the failed one, which stays.
        if (!send.written || m_deletions->drops(send.row.conversation_id, send.stamp)) {
            if (!batch.stored && !send.replaces.isEmpty() && batch.journaled)
                m_host.errors().publishWord(QStringLiteral("store_write_failed"));
            if (text)
                emit textKept(send.row.peer_raw_public_key, send.row.text, false);
            continue;
        }
        if (!batch.stored && batch.journaled)
            keepUnstored(send.row, send.envelope, true);
        if (!send.error.isEmpty()) {
            qWarning() << "[SEND] failed peer=" << send.row.peer_raw_public_key << "err=" << send.error;
            m_host.errors().publishWord(send.error);
        }
        // Posted first (it is held already), shown while it is on its way.
        if (send.row.status == MessageStatus::Sending) {
            m_sealedNow.insert(send.row.id, send.envelope);
            enqueue(send.row.id);
            m_sealedNow.remove(send.row.id);
        }
        show(send.row, send.replaces);
        if (text)
            emit textKept(send.row.peer_raw_public_key, send.row.text, true);
    }
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
    const QString journal = journalPath();
    const QString owner = m_host.session().store().ownerKey();
    const bool reserve = !std::exchange(m_journalReserved, true);
    SendJournal::ReplayFilter filter;
    // This session's own refused sends are written by storeUnstored().
    for (const QString &id : m_unstoredOrder)
        filter.held.insert(id);
    filter.held.unite(m_typedIds);
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
            return SendJournal::replay(journal, owner, ChatStore::instance(), filter);
        },
        [this](const std::optional<SendJournal::Replayed> &replayed) {
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
            sealTyped(replayed->waiting);
            const QList<MessageRecord> &restored = replayed->rows;
            if (restored.isEmpty()) {
                if (!replayed->waiting.isEmpty())
                    emit sendsRestored(int(replayed->waiting.size()));
                return;
            }
            qInfo() << "[SEND]" << restored.size() << "sends kept in the journal were written";
            m_host.reloadConversations();
            m_host.reloadMessages();
            for (const MessageRecord &row : restored) {
                // Deleted with its conversation since it was written: the
                // deletion took it, nothing is posted.
                if (row.status == MessageStatus::Sending && !m_deletions->drops(row.conversation_id, 0))
                    enqueue(row.id);
            }
            emit sendsRestored(int(restored.size() + replayed->waiting.size()));
        },
        [this] {
            m_replaying = false;
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
    m_waiting.clear();
    m_waitingIds.clear();
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
    m_storeTimer.stop();
    m_replayTimer.stop();
    m_replayAgain = false;
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
    // Its failed status, if still unwritten, must not undo this.
    m_unwrittenStatuses.removeIf([&row](const auto &change) { return change.first == row.id; });
    m_host.messageStatusChanged(row.id, int(MessageStatus::Sending));
    // A retry is the user's word that the relay may answer again.
    m_pausedUntilMs = 0;
    enqueue(row.id);
    return true;
}

QList<QPair<QString, qint64>> Outbox::dropConversation(const QString &conversationId)
{
    QList<QPair<QString, qint64>> journaled;
    if (conversationId.isEmpty())
        return journaled;
    // Before the deletion's own write: a job writing now sees the mark.
    m_deletions->mark(conversationId, g_lastStamp);
    QSet<QString> dropped;
    for (const ToSeal &send : std::as_const(m_sealQueue)) {
        if (send.row.conversation_id == conversationId && send.typedKept) {
            journaled.append({send.row.id, send.row.created_at});
            dropped.insert(send.row.id);
        }
    }
    m_sealQueue.removeIf([&](const ToSeal &send) { return send.row.conversation_id == conversationId; });
    m_typedToJournal.removeIf([&](const JournaledSend &send) { return send.row.conversation_id == conversationId; });
    // Kept in memory while the store refused them: neither written nor posted now.
    for (const QString &id : QStringList(m_unstoredOrder)) {
        const Unstored kept = m_unstored.value(id);
        if (kept.row.conversation_id != conversationId)
            continue;
        if (kept.journaled) {
            journaled.append({id, kept.row.created_at});
            dropped.insert(id);
        }
        m_unstored.remove(id);
        m_unstoredOrder.removeAll(id);
        if (m_waitingIds.remove(id))
            m_waiting.removeAll(id);
    }
    // Their text leaves the journal too; the deletion remembers their ids,
    // so a later replay (this session's or the next) never writes them.
    if (!dropped.isEmpty()) {
        const QString journal = journalPath();
        const QString owner = m_host.session().ownerKey();
        SendJournal::forgetSoon(journal, owner, dropped);
    }
    return journaled;
}

void Outbox::resumeInterrupted()
{
    // Answers that came after this owner's last session ended.
    const auto later = m_laterStatuses.take(m_host.session().ownerKey());
    if (!later.isEmpty()) {
        m_settled = later + m_settled;
        writeSettled();
    }
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
        QStringList outlived; // left sending for longer than its envelope lives
        int failed = 0;       // nothing to post them again with
    };
    m_host.jobs().run<Interrupted>(
        [owner = m_host.session().ownerKey()] {
            ChatStore &store = ChatStore::instance();
            Interrupted found;
            if (!store.failInterruptedSends(owner, &found.failed))
                qWarning() << "[SEND] interrupted sends without an envelope could not be failed now";
            for (const QString &id : store.interruptedEnvelopeSends())
                (envelopeOutlived(store.outgoingEnvelope(id)) ? found.outlived : found.post).append(id);
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
            for (const QString &id : found.post)
                enqueue(id);
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

void Outbox::enqueue(const QString &messageId)
{
    if (m_posting.contains(messageId) || m_postingEnded.contains(messageId) || m_waitingIds.contains(messageId))
        return;
    m_waiting.append(messageId);
    m_waitingIds.insert(messageId);
    pump();
}

void Outbox::pump()
{
    if (!m_host.session().isActive())
        return;
    const qint64 now = nowMs();
    if (m_pausedUntilMs > now) {
        if (!m_resendTimer.isActive())
            m_resendTimer.start(int(m_pausedUntilMs - now));
        return;
    }
    while (m_posting.size() < kMaxPosts && !m_waiting.isEmpty()) {
        const QString id = m_waiting.takeFirst();
        m_waitingIds.remove(id);
        postStored(id);
    }
}

void Outbox::postStored(const QString &messageId)
{
    const auto kept = m_unstored.constFind(messageId);
    const QString keptEnvelope = kept != m_unstored.cend() ? kept->envelope : QString();
    const std::optional<MessageRecord> keptRow =
        kept != m_unstored.cend() ? std::optional<MessageRecord>(kept->row) : std::nullopt;
    m_posting.insert(messageId);
    ++m_inFlight;
    // The stored envelope is read on the pool too: nothing of a burst's
    // posting reads the store on the window's thread. The relay's answer
    // counts even once the session has ended.
    // A send being shown now was just sealed and stored: its envelope is at hand.
    const QString sealedEnvelope = keptEnvelope.isEmpty() ? m_sealedNow.value(messageId) : QString();
    m_host.jobs().runToEnd<std::optional<Posted>>(
        [messageId, keptEnvelope, keptRow, sealedEnvelope] {
            return postSend(messageId, keptEnvelope, keptRow, sealedEnvelope);
        },
        [this, messageId, owner = m_host.session().ownerKey(),
         journal = journalPath()](const std::optional<Posted> &posted, bool current) {
            answered(messageId, owner, journal, posted, current);
        },
        [this, messageId] { postEnded(messageId); });
}

std::optional<Outbox::Posted> Outbox::postSend(const QString &messageId, const QString &keptEnvelope,
                                               const std::optional<MessageRecord> &keptRow,
                                               const QString &sealedEnvelope, const QJsonObject &sealedFanOut,
                                               bool justStored)
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
    if (envelope.isEmpty())
        return std::nullopt;
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
    posted.marked = stored && posted.result.ok
                    && store.setMessageStatuses({{messageId, MessageStatus::Sent}}, &found) && found.value(0);
    return posted;
}

void Outbox::answered(const QString &messageId, const QString &owner, const QString &journal,
                      const std::optional<Posted> &posted, bool current)
{
    if (!current)
        postedAfterEnd(messageId, owner, journal, posted);
    else if (posted)
        onPosted(messageId, posted->result, posted->marked);
    else
        pump();
}

void Outbox::postEnded(const QString &messageId)
{
    if (!m_postingEnded.remove(messageId))
        m_posting.remove(messageId);
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
        m_waiting.append(messageId);
        m_waitingIds.insert(messageId);
        pump();
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
