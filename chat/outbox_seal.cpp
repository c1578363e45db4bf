// Durable sends, sealing: every send sealed and signed (a group's: the
// body of its fan-out) under its row's id on the pool, and written with its
// row in one transaction (or kept in the send journal) before it is shown
// and posted, in the order the sends were queued (outbox.h says why).
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

const QString kMessageNotifyType = QStringLiteral("message");

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// The sender's clock in ms of the last send queued, process-wide.
qint64 g_lastStamp = 0;

} // namespace

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
            *signer = group.fanOut.value(QStringLiteral("envelopes"))
                          .toArray()
                          .first()
                          .toObject()
                          .value(QStringLiteral("sender_pubkey"))
                          .toString();
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

void Outbox::HeldSends::insert(const QString &id)
{
    QMutexLocker lock(&m_mutex);
    m_ids.insert(id);
}

void Outbox::HeldSends::remove(const QSet<QString> &ids)
{
    QMutexLocker lock(&m_mutex);
    m_ids.subtract(ids);
}

bool Outbox::HeldSends::contains(const QString &id) const
{
    QMutexLocker lock(&m_mutex);
    return m_ids.contains(id);
}

void Outbox::queueSeal(const QString &peer, const MessageRecord &row, const Payload &payload, const QString &replaces)
{
    // The sender's clock in ms, one more than the last stamp when the clock
    // has not moved (or went back): each message a later stamp than the one
    // before, so the peer can file a burst in the order it was written.
    g_lastStamp = std::max(nowMs(), g_lastStamp + 1);
    m_sealQueue.append(ToSeal{peer, row, payload, replaces, g_lastStamp});
    if (m_resumeReadPending)
        m_takenBeforeResume.insert(row.id);
    // Before anything of it reaches the journal.
    m_held->insert(row.id);
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

int Outbox::sealTyped(const QList<JournaledSend> &typed)
{
    int queued = 0;
    for (const JournaledSend &send : typed) {
        // Typed in this session: a reading leaves the records of the sends
        // it holds (m_held) and finds those it no longer holds in the
        // store or gone, so this only guards its own jobs' texts.
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
        m_held->insert(send.row.id);
        if (m_resumeReadPending)
            m_takenBeforeResume.insert(send.row.id);
        m_sealQueue.append(seal);
        ++queued;
    }
    if (!m_sealing && !m_sealTimer.isActive() && !m_sealQueue.isEmpty())
        m_sealTimer.start();
    return queued;
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
    // A lone send with a free place among the posts, nothing waiting before
    // it and no post of its conversation on its way is posted by its own job
    // as soon as it is written, while the window shows it: no trip through
    // the window's thread in between.
    const QString conversation = sends.size() == 1 ? sends.first().row.conversation_id : QString();
    const bool postNow = mayPost && sends.size() == 1 && m_queue.isEmpty() && !m_queue.busy(conversation)
                         && m_queue.onWay() < kMaxPosts && m_pausedUntilMs <= nowMs() && session.isActive();
    const QString postId = postNow ? sends.first().row.id : QString();
    if (postNow) {
        m_posting.insert(postId);
        m_queue.started(postId, conversation);
        ++m_inFlight;
    }
    m_host.jobs().runInTwo<SealedBatch, std::optional<Posted>>(
        [sends, owner, journal, identity = session.identity(), deletions = m_deletions, previous, written,
         hold = session.store().holdOpen(), typed, postNow, held = m_held,
         ended = m_ended](const auto &shown) mutable -> std::optional<Posted> {
            SealedBatch batch;
            {
                // The next job writes after this write, not after this post.
                const auto done = qScopeGuard([&written] { written->set_value(); });
                batch = sealAndStore(sends, owner, journal, identity, *deletions, previous, std::move(hold));
                // No longer the session's to hold: what the store holds now,
                // and what neither it nor the journal took (or its
                // conversation's deletion drops) once its typed record is
                // gone: before that a reading would send it, its text back
                // in the composer. What only the journal took stays held
                // until storeUnstored() writes it.
                QSet<QString> released;
                for (const Sealed &send : std::as_const(batch.sends)) {
                    if (batch.stored || !batch.journaled || !send.written)
                        released.insert(send.row.id);
                }
                if (batch.dropped) {
                    for (const ToSeal &send : sends)
                        released.insert(send.row.id);
                }
                // Stored, journaled sealed, dropped with their conversation
                // or given back to the composer: their typed records go,
                // asked for before a reading of the journal that waits for
                // this write. Signed under another identity, they stay for
                // their owner's next start.
                if (!batch.dropped && !typed.isEmpty())
                    SendJournal::forgetSoon(journal, owner, typed, true,
                                            [held, released] { held->remove(released); });
                else
                    held->remove(released);
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
        [this, postId, conversation, owner, journal](const std::optional<Posted> &posted, bool current) {
            // Not posted by the job (kept only in the journal, or not held at
            // all): the queue posts it if there is anything to post, before
            // the sends of its conversation that waited for it.
            if (posted)
                answered(postId, owner, journal, posted, current);
            else if (current && !postId.isEmpty())
                enqueue(postId, conversation, true);
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
                postEnded({postId});
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
            // A reading drops its record with the conversation.
            if (m_deletions->drops(send.row.conversation_id, send.stamp))
                m_held->remove({send.row.id});
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
            enqueue(send.row.id, send.row.conversation_id);
            m_sealedNow.remove(send.row.id);
        }
        show(send.row, send.replaces);
        if (text)
            emit textKept(send.row.peer_raw_public_key, send.row.text, true);
    }
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
    // Their records, kept or typed, are the deletion's to drop now.
    QSet<QString> released;
    for (const ToSeal &send : std::as_const(m_sealQueue)) {
        if (send.row.conversation_id == conversationId)
            released.insert(send.row.id);
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
        released.insert(id);
    }
    // Its sends waiting to be posted go with their rows; one on its way goes
    // on, but holds back no later send to the conversation.
    m_queue.drop(conversationId);
    m_held->remove(released);
    // Their text leaves the journal too; the deletion remembers their ids,
    // so a later replay (this session's or the next) never writes them.
    if (!dropped.isEmpty()) {
        const QString journal = journalPath();
        const QString owner = m_host.session().ownerKey();
        SendJournal::forgetSoon(journal, owner, dropped);
    }
    return journaled;
}

} // namespace velmor::chat
