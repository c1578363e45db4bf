#include "chat/supergroup_pull.h"

#include "chat/payloads.h"
#include "chat/supergroup_directory.h"
#include "identity/crypto.h"
#include "identity/identity.h"
#include "store/chat_store.h"

#include <QDebug>
#include <QSet>

#include <utility>

namespace velmor::chat {

using velmor::sg::SGMessage;

namespace {

// What a pulled message is stored as; empty when it is not stored.
QString storedText(const SGMessage &m)
{
    const QString &type = m.type;
    if (type == QLatin1String("text") || type == QLatin1String("system"))
        return m.text;
    if (type == QLatin1String("image"))
        return QStringLiteral("[图片]");
    if (type == QLatin1String("voice"))
        return QStringLiteral("[语音]");
    if (type == QLatin1String("site"))
        return QStringLiteral("[链接]");
    if (type == QLatin1String("emoji"))
        return m.text.isEmpty() ? QStringLiteral("[表情]") : m.text;
    return m.text.isEmpty() ? QStringLiteral("[") + type + QLatin1Char(']') : m.text;
}

bool lacksMedia(const SGMessage &m)
{
    return (m.type == QLatin1String("image") && m.imageData.isEmpty())
        || (m.type == QLatin1String("voice") && m.voiceData.isEmpty());
}

QString addressOfKey(const QString &publicKey)
{
    const QByteArray key = velmor::crypto::base64UrlDecode(publicKey);
    return key.isEmpty() ? QString() : velmor::identity::ethereumAddress(key);
}

QString memberAddress(const SGMessage &m)
{
    return m.senderAddress.isEmpty() ? addressOfKey(m.senderPubkey) : m.senderAddress;
}

MessageRecord recordFor(const SGMessage &m, const QString &peer, const QString &myKey)
{
    MessageRecord r;
    const QString text = m.hasContent ? storedText(m) : QString();
    if (text.isEmpty())
        return r;
    r.id = m.messageId;
    r.conversation_id = peer;
    r.peer_raw_public_key = peer;
    r.sender_raw_public_key = m.senderPubkey;
    r.text = text;
    r.sender_address = m.senderAddress;
    r.sender_display_name = m.senderDisplayName;
    r.sender_avatar_kind = m.senderAvatarKind;
    r.sender_avatar_id = m.senderAvatarId;
    r.created_at = m.createdAt;
    r.is_outgoing = !myKey.isEmpty() && m.senderPubkey == myKey;
    // The server handing the user's own message back is its word that the
    // message arrived: sent, whatever the outbox last wrote of it.
    r.status = r.is_outgoing ? MessageStatus::Sent : MessageStatus::Received;
    r.server_seq = m.seq;
    r.content_type = m.type;
    r.system_event_type = m.event;
    r.content_digest = QString::number(m.seq) + QLatin1Char(':') + m.messageId;
    if (m.type == QLatin1String("image") && !m.imageData.isEmpty())
        r.attachment = payload::imagePayload(m.imageData, m.mime, m.width, m.height);
    else if (m.type == QLatin1String("voice") && !m.voiceData.isEmpty())
        r.attachment = payload::voicePayload(m.voiceData, m.durationMs, {});
    return r;
}

// True when the user's own stored message was not sent before and is now.
bool markSent(ChatStore &store, const MessageRecord &row)
{
    return row.is_outgoing && row.status != MessageStatus::Sent && store.setMessageStatus(row.id, MessageStatus::Sent);
}

// A contact row for a speaker who has none; an existing row, whatever the
// server says about its owner, is left as it is.
void addSpeakerContact(ChatStore &store, const SGMessage &m)
{
    if (store.contact(m.senderPubkey))
        return;
    const QString address = addressOfKey(m.senderPubkey);
    if (address.isEmpty())
        return;
    ContactRecord row;
    row.wallet_public_key = m.senderPubkey;
    row.erc20_address = address;
    if (!m.senderAvatarId.isEmpty()) {
        row.avatar_kind = m.senderAvatarKind == QLatin1String("lottie") ? QStringLiteral("lottie")
                                                                          : QStringLiteral("image");
        row.avatar_id = m.senderAvatarId;
    }
    row.updated_at = m.createdAt;
    store.upsertContact(row);
}

SuperGroupMemberRecord memberFrom(const QString &serverUrl, const SGMessage &m)
{
    SuperGroupMemberRecord member;
    member.server_url = serverUrl;
    member.public_key = m.senderPubkey;
    member.address = m.senderPubkey.isEmpty() ? QString() : memberAddress(m);
    member.display_name = m.senderDisplayName;
    member.avatar_kind = m.senderAvatarKind;
    member.avatar_id = m.senderAvatarId;
    member.updated_at = m.createdAt;
    return member;
}

} // namespace

bool SuperGroupPullChain::add(const SuperGroupPullOutcome &batch, const std::function<void()> &wake)
{
    QMutexLocker lock(&m_mutex);
    if (m_stopped)
        return false;
    if (m_waiting) {
        mergeSuperGroupPull(*m_waiting, batch);
        return true;
    }
    m_waiting = batch;
    if (wake)
        wake();
    return true;
}

std::optional<SuperGroupPullOutcome> SuperGroupPullChain::take()
{
    QMutexLocker lock(&m_mutex);
    return std::exchange(m_waiting, std::nullopt);
}

void SuperGroupPullChain::stop()
{
    QMutexLocker lock(&m_mutex);
    m_stopped = true;
}

bool SuperGroupPullChain::stopped() const
{
    QMutexLocker lock(&m_mutex);
    return m_stopped;
}

void mergeSuperGroupPull(SuperGroupPullOutcome &into, const SuperGroupPullOutcome &later)
{
    into.written = into.written || later.written;
    into.pulled = later.pulled;
    into.lastMessageSeq = later.lastMessageSeq;
    into.lastReadSeq = later.lastReadSeq;
    into.stored = into.stored || later.stored;
    into.infoChanged = into.infoChanged || later.infoChanged;
    into.mediaMisses = later.mediaMisses;
    if (later.incoming) {
        into.incoming = true;
        into.groupName = later.groupName;
        into.muted = later.muted;
    }
}

SuperGroupPullOutcome pullSuperGroupBacklog(ChatStore &store, SuperGroupPullStart start, int limit, int mediaAttempts,
                                            SuperGroupPullChain &chain, const std::function<void()> &wake)
{
    for (;;) {
        const SuperGroupPullOutcome batch = pullAndStoreSuperGroup(store, start, limit, mediaAttempts);
        if (!batch.written)
            return batch;
        // A full batch that moved the cursor: the backlog goes on.
        const bool more = batch.pulled >= limit && batch.lastMessageSeq > start.lastMessageSeq;
        if (!chain.add(batch, wake) || !more)
            return batch;
        start.lastMessageSeq = batch.lastMessageSeq;
        start.lastReadSeq = batch.lastReadSeq;
        start.mediaMisses = batch.mediaMisses;
    }
}

SuperGroupPullOutcome pullAndStoreSuperGroup(ChatStore &store, const SuperGroupPullStart &start, int limit,
                                             int mediaAttempts)
{
    const QString peer = SuperGroupDirectory::peerFor(start.serverUrl);
    // The same id in another conversation is another message.
    const QList<SGMessage> messages = velmor::sg::SuperGroupApi::instance().pullMessages(
        start.serverUrl, start.lastMessageSeq, limit,
        [&store, peer](const QString &messageId) { return store.messageExists(peer, messageId); });
    return storeSuperGroupPull(store, start, messages, mediaAttempts);
}

SuperGroupPullOutcome storeSuperGroupPull(ChatStore &store, const SuperGroupPullStart &start,
                                          const QList<SGMessage> &messages, int mediaAttempts)
{
    SuperGroupPullOutcome out;
    out.pulled = int(messages.size());
    out.lastMessageSeq = start.lastMessageSeq;
    out.lastReadSeq = start.lastReadSeq;
    out.mediaMisses = start.mediaMisses;
    if (messages.isEmpty()) {
        out.written = true;
        return out;
    }
    const QString peer = SuperGroupDirectory::peerFor(start.serverUrl);
    const qint64 startSeq = start.lastMessageSeq;

    ChatStore::Batch batch(store, start.ownerKey);
    if (!batch.active())
        return out;

    QSet<QString> blocked;
    for (const ContactRecord &contact : store.contacts())
        if (contact.blocked)
            blocked.insert(contact.wallet_public_key);

    // The newest message of each sender in this batch: its profile is
    // stored once per pull rather than once per message.
    QHash<QString, const SGMessage *> senders;
    auto noteSender = [&senders](const SGMessage &m) {
        const SGMessage *&known = senders[m.senderPubkey];
        if (!known || known->createdAt <= m.createdAt)
            known = &m;
    };

    qint64 &cursor = out.lastMessageSeq;
    qint64 heldBefore = 0;   // the seq of the first message that waits for its media
    auto holdAt = [&](qint64 seq) {
        if (heldBefore == 0 || seq < heldBefore) {
            heldBefore = seq;
            cursor = qMax(startSeq, qMin(cursor, seq - 1));
        }
    };
    bool mediaTried = false; // an earlier message of this batch fetched media
    QSet<QString> speakers;  // senders of the messages stored now
    for (const SGMessage &m : messages) {
        if (heldBefore == 0 || m.seq < heldBefore)
            cursor = qMax(cursor, m.seq);
        if (!m.hasContent || m.messageId.isEmpty())
            continue;
        // The user's own send handed back arrived, whatever its row says
        // (an answer lost, a post that failed after the server took it): its
        // row is read once, to see whether it is sent already.
        if (!start.myKey.isEmpty() && m.senderPubkey == start.myKey) {
            if (const std::optional<MessageRecord> own = store.messageById(peer, m.messageId)) {
                if (markSent(store, *own))
                    out.stored = true;
                continue;
            }
        } else if (store.messageExists(peer, m.messageId)) {
            continue;
        }
        if (blocked.contains(m.senderPubkey)) {
            if (m.seq == out.lastReadSeq + 1)
                out.lastReadSeq = m.seq;
            continue;
        }
        if (m.type == QLatin1String("group_meta_update")) {
            out.infoChanged = true;
            continue;
        }
        if (m.type == QLatin1String("member_profile_update")) {
            if (!m.senderPubkey.isEmpty())
                noteSender(m);
            continue;
        }
        const MessageRecord record = recordFor(m, peer, start.myKey);
        if (record.id.isEmpty())
            continue;
        const QString missKey = peer + QLatin1Char('\n') + m.messageId;
        if (lacksMedia(m)) {
            // Only a message that was first in line for the batch's media
            // counts a miss; later ones may just have found the budget spent.
            int misses = out.mediaMisses.value(missKey);
            if (!mediaTried)
                out.mediaMisses.insert(missKey, ++misses);
            mediaTried = true;
            if (misses < mediaAttempts) {
                holdAt(m.seq);
                continue;
            }
            qWarning().noquote() << QStringLiteral("[SG] media of message %1 missing after %2 pulls, stored without it url=%3")
                                        .arg(m.messageId)
                                        .arg(misses)
                                        .arg(start.serverUrl);
        } else if (m.type == QLatin1String("image") || m.type == QLatin1String("voice")) {
            mediaTried = true;
        }
        out.mediaMisses.remove(missKey);
        if (!store.upsertMessage(record)) {
            // Not stored: the cursor must not pass it either.
            holdAt(m.seq);
            continue;
        }
        out.stored = true;
        if (!record.is_outgoing)
            out.incoming = true;
        speakers.insert(m.senderPubkey);
        if (!m.senderPubkey.isEmpty())
            noteSender(m);
    }

    // A sender's profile, as the group's server hands it on, stays with
    // this group's members: the server could otherwise rename anyone in
    // the user's contacts or give them a picture of its choosing. A speaker
    // the user has no contact row for gets one, its address taken from the
    // key rather than from the server.
    for (auto it = senders.cbegin(); it != senders.cend(); ++it) {
        store.upsertSuperGroupMember(memberFrom(start.serverUrl, *it.value()));
        if (speakers.contains(it.key()) && it.key() != start.myKey)
            addSpeakerContact(store, *it.value());
    }
    const int unread = int(qMax<qint64>(0, cursor - out.lastReadSeq));
    store.updateSuperGroupReadState(start.serverUrl, out.lastReadSeq, cursor, unread);
    if (out.incoming) {
        const auto row = store.superGroup(start.serverUrl);
        out.groupName = row ? row->name : QString();
        out.muted = row && row->muted;
    }
    if (!batch.commit()) {
        qWarning().noquote() << "[SG] pulled batch not stored url=" << start.serverUrl;
        return SuperGroupPullOutcome{false, out.pulled, start.lastMessageSeq, start.lastReadSeq, false, false,
                                     false, start.mediaMisses, {}, false};
    }
    out.written = true;
    return out;
}

} // namespace velmor::chat
