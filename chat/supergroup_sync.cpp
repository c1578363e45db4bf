#include "chat/supergroup_sync.h"

#include "chat/chat_host.h"
#include "chat/chat_session.h"
#include "chat/current_conversation.h"
#include "chat/job_runner.h"
#include "chat/payloads.h"
#include "chat/peer_keys.h"
#include "chat/supergroup_directory.h"
#include "chat/supergroup_rows.h"
#include "identity/crypto.h"
#include "identity/identity.h"
#include "net/service_error.h"
#include "net/supergroup_api.h"
#include "store/chat_store.h"

#include <QDebug>
#include <QJsonObject>
#include <QVariantList>
#include <QVariantMap>

namespace velmor::chat {

using velmor::sg::SGMessage;
using velmor::sg::SuperGroupApi;

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

QString memberAddress(const SGMessage &m)
{
    if (!m.senderAddress.isEmpty())
        return m.senderAddress;
    const QByteArray key = velmor::crypto::base64UrlDecode(m.senderPubkey);
    return key.isEmpty() ? QString() : velmor::identity::ethereumAddress(key);
}

// A contact row for a speaker who has none; an existing row, whatever the
// server says about its owner, is left as it is.
void addSpeakerContact(ChatStore &store, const SGMessage &m)
{
    if (store.contact(m.senderPubkey))
        return;
    const QByteArray key = velmor::crypto::base64UrlDecode(m.senderPubkey);
    const QString address = key.isEmpty() ? QString() : velmor::identity::ethereumAddress(key);
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

SuperGroupMemberRecord memberFrom(const QString &serverUrl, const SGMessage &m, const QString &address)
{
    SuperGroupMemberRecord member;
    member.server_url = serverUrl;
    member.public_key = m.senderPubkey;
    member.address = address;
    member.display_name = m.senderDisplayName;
    member.avatar_kind = m.senderAvatarKind;
    member.avatar_id = m.senderAvatarId;
    member.updated_at = m.createdAt;
    return member;
}

} // namespace

// One pulled message, made ready for the store on the pool thread.
struct PulledItem
{
    SGMessage message;
    MessageRecord record; // when the message is stored
    QString senderAddress;
    bool mediaMissing = false;
};

struct SuperGroupSync::PulledBatch
{
    QList<PulledItem> items;
};

SuperGroupSync::SuperGroupSync(ChatHost &host, QObject *parent)
    : QObject(parent), m_host(host)
{
}

bool SuperGroupSync::isOpen(const QString &serverUrl) const
{
    return m_host.current().peer() == SuperGroupDirectory::peerFor(serverUrl);
}

// ---- open ---------------------------------------------------------------------------

void SuperGroupSync::open(const QString &serverUrl)
{
    m_host.jobs().run<velmor::sg::SGGroupInfo>(
        [serverUrl] { return SuperGroupApi::instance().groupInfo(serverUrl); },
        [this, serverUrl](const velmor::sg::SGGroupInfo &info) {
            if (info.ok) {
                SuperGroupDirectory &groups = m_host.superGroups();
                SuperGroupRuntimeState state = groups.runtime(serverUrl);
                if (!info.name.isEmpty())
                    state.name = info.name;
                state.serverEncPubkey = info.serverEncPubkey;
                if (!info.avatarUrl.isEmpty())
                    state.avatarUrl = info.avatarUrl;
                groups.setRuntime(serverUrl, state);

                SuperGroupRecord row = sg::storedOrNew(serverUrl);
                row.group_id = info.groupId;
                if (!info.name.isEmpty())
                    row.name = info.name;
                row.server_enc_public_key = info.serverEncPubkey;
                row.updated_at = sg::nowSeconds();
                m_host.session().store().upsertSuperGroup(row);
                if (isOpen(serverUrl))
                    emit headerChanged(serverUrl);
            }
            m_host.jobs().run<velmor::sg::SGReadState>(
                [serverUrl] { return SuperGroupApi::instance().readState(serverUrl); },
                [this, serverUrl](const velmor::sg::SGReadState &read) { applyReadState(serverUrl, read, 0); });
            pull(serverUrl);
        });
}

// ---- pull ---------------------------------------------------------------------------

void SuperGroupSync::pull(const QString &serverUrl)
{
    // One pull per group at a time; a pull asked for meanwhile runs once
    // the current one is applied, from the cursor it left.
    if (m_pulling.contains(serverUrl)) {
        m_pullAgain.insert(serverUrl);
        return;
    }
    m_pulling.insert(serverUrl);
    const qint64 cursor = m_host.superGroups().runtime(serverUrl).lastMessageSeq;
    const QString peer = SuperGroupDirectory::peerFor(serverUrl);
    const QString myKey = m_host.session().myKey();
    m_host.jobs().run<PulledBatch>(
        [serverUrl, cursor, peer, myKey] {
            // Media of messages already stored in this group is not fetched
            // again (the same id in another conversation is another message).
            const QList<SGMessage> messages = SuperGroupApi::instance().pullMessages(
                serverUrl, cursor, kPullLimit,
                [peer](const QString &messageId) { return ChatStore::instance().messageExists(peer, messageId); });
            PulledBatch batch;
            batch.items.reserve(messages.size());
            for (const SGMessage &m : messages) {
                PulledItem item;
                item.message = m;
                if (!m.senderPubkey.isEmpty())
                    item.senderAddress = memberAddress(m);
                const QString text = m.hasContent ? storedText(m) : QString();
                if (!text.isEmpty()) {
                    MessageRecord &r = item.record;
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
                    r.status = MessageStatus::Received;
                    r.server_seq = m.seq;
                    r.content_type = m.type;
                    r.system_event_type = m.event;
                    r.content_digest = QString::number(m.seq) + QLatin1Char(':') + m.messageId;
                    if (m.type == QLatin1String("image") && !m.imageData.isEmpty())
                        r.attachment = payload::imagePayload(m.imageData, m.mime, m.width, m.height);
                    else if (m.type == QLatin1String("voice") && !m.voiceData.isEmpty())
                        r.attachment = payload::voicePayload(m.voiceData, m.durationMs, {});
                }
                item.mediaMissing = m.hasContent && lacksMedia(m);
                // The media now lives in the record only.
                item.message.imageData.clear();
                item.message.voiceData.clear();
                batch.items.append(std::move(item));
            }
            return batch;
        },
        [this, serverUrl, cursor](const PulledBatch &batch) { applyPull(serverUrl, cursor, batch); },
        [this, serverUrl] { m_pulling.remove(serverUrl); });
}

void SuperGroupSync::applyPull(const QString &serverUrl, qint64 cursor, const PulledBatch &batch)
{
    ChatStore &store = m_host.session().store();
    const QString peer = SuperGroupDirectory::peerFor(serverUrl);
    SuperGroupDirectory &groups = m_host.superGroups();
    SuperGroupRuntimeState state = groups.runtime(serverUrl);
    const qint64 startSeq = state.lastMessageSeq;

    QSet<QString> blocked;
    for (const ContactRecord &contact : store.contacts())
        if (contact.blocked)
            blocked.insert(contact.wallet_public_key);

    // The newest message of each sender in this batch: its profile is
    // stored once per pull rather than once per message.
    QHash<QString, const PulledItem *> senders;
    auto noteSender = [&senders](const PulledItem &item) {
        const PulledItem *&known = senders[item.message.senderPubkey];
        if (!known || known->message.createdAt <= item.message.createdAt)
            known = &item;
    };

    qint64 heldBefore = 0; // the seq of the first message that waits for its media
    bool mediaTried = false; // an earlier message of this batch fetched media
    bool stored = false;
    bool incoming = false;
    QSet<QString> speakers; // senders of the messages stored now
    for (const PulledItem &item : batch.items) {
        const SGMessage &m = item.message;
        if (heldBefore == 0 || m.seq < heldBefore)
            state.lastMessageSeq = qMax(state.lastMessageSeq, m.seq);
        if (!m.hasContent || m.messageId.isEmpty() || store.messageExists(peer, m.messageId))
            continue;
        if (blocked.contains(m.senderPubkey)) {
            if (m.seq == state.lastReadSeq + 1)
                state.lastReadSeq = m.seq;
            continue;
        }
        if (m.type == QLatin1String("group_meta_update")) {
            refreshInfo(serverUrl);
            continue;
        }
        if (m.type == QLatin1String("member_profile_update")) {
            if (!m.senderPubkey.isEmpty())
                noteSender(item);
            continue;
        }
        if (item.record.id.isEmpty())
            continue;
        const QString missKey = peer + QLatin1Char('\n') + m.messageId;
        if (item.mediaMissing) {
            // Only a message that was first in line for the batch's media
            // counts a miss; later ones may just have found the budget spent.
            int misses = m_mediaMisses.value(missKey);
            if (!mediaTried)
                m_mediaMisses.insert(missKey, ++misses);
            mediaTried = true;
            if (misses < kMediaAttempts) {
                if (heldBefore == 0 || m.seq < heldBefore) {
                    heldBefore = m.seq;
                    state.lastMessageSeq = qMax(startSeq, qMin(state.lastMessageSeq, m.seq - 1));
                }
                continue;
            }
            qWarning().noquote() << QStringLiteral("[SG] media of message %1 missing after %2 pulls, stored without it url=%3")
                                        .arg(m.messageId)
                                        .arg(misses)
                                        .arg(serverUrl);
        } else if (m.type == QLatin1String("image") || m.type == QLatin1String("voice")) {
            mediaTried = true;
        }
        m_mediaMisses.remove(missKey);
        if (!store.upsertMessage(item.record)) {
            // Not stored: the cursor must not pass it either.
            if (heldBefore == 0 || m.seq < heldBefore) {
                heldBefore = m.seq;
                state.lastMessageSeq = qMax(startSeq, qMin(state.lastMessageSeq, m.seq - 1));
            }
            continue;
        }
        stored = true;
        if (!item.record.is_outgoing)
            incoming = true;
        speakers.insert(m.senderPubkey);
        if (!m.senderPubkey.isEmpty())
            noteSender(item);
    }

    // A sender's profile, as the group's server hands it on, stays with
    // this group's members: the server could otherwise rename anyone in
    // the user's contacts or give them a picture of its choosing. A speaker
    // the user has no contact row for gets one, its address taken from the
    // key rather than from the server.
    const QString myKey = m_host.session().myKey();
    for (auto it = senders.cbegin(); it != senders.cend(); ++it) {
        const PulledItem &item = *it.value();
        store.upsertSuperGroupMember(memberFrom(serverUrl, item.message, item.senderAddress));
        if (speakers.contains(it.key()) && it.key() != myKey)
            addSpeakerContact(store, item.message);
    }

    state.unread = int(qMax<qint64>(0, state.lastMessageSeq - state.lastReadSeq));
    groups.setRuntime(serverUrl, state);
    store.updateSuperGroupReadState(serverUrl, state.lastReadSeq, state.lastMessageSeq, state.unread);

    if (incoming) {
        // One notice per pull, however many messages it brought.
        const auto row = store.superGroup(serverUrl);
        m_host.notifyIncoming(peer, row ? row->name : QStringLiteral("Premium 群组"), row && row->muted);
    }
    const bool open = isOpen(serverUrl);
    if (open && state.lastMessageSeq > state.lastReadSeq)
        markRead(serverUrl, state.lastMessageSeq);
    if (stored) {
        if (open)
            m_host.reloadMessages();
        m_host.reloadConversations();
    }

    // A full batch that moved the cursor: the backlog goes on at once.
    const bool more = batch.items.size() >= kPullLimit && state.lastMessageSeq > cursor;
    if (m_pullAgain.remove(serverUrl) || more)
        pull(serverUrl);
}

void SuperGroupSync::markRead(const QString &serverUrl, qint64 seq)
{
    m_host.jobs().run<velmor::sg::SGReadState>(
        [serverUrl, seq] { return SuperGroupApi::instance().markRead(serverUrl, seq); },
        [this, serverUrl, seq](const velmor::sg::SGReadState &read) { applyReadState(serverUrl, read, seq); });
}

// The server's count of unread messages holds for the read mark it answered
// with. An answer that comes back after a later mark was taken (the read
// state asked for on opening, overtaken by the mark of the pull that
// followed) is stale: its count would show a read group as unread.
void SuperGroupSync::applyReadState(const QString &serverUrl, const velmor::sg::SGReadState &read, qint64 markedSeq)
{
    if (!read.ok)
        return;
    SuperGroupDirectory &groups = m_host.superGroups();
    SuperGroupRuntimeState state = groups.runtime(serverUrl);
    const qint64 answeredSeq = qMax(markedSeq, read.lastReadSeq);
    if (answeredSeq < state.lastReadSeq)
        return;
    state.lastReadSeq = answeredSeq;
    state.unread = read.unread;
    groups.setRuntime(serverUrl, state);
    m_host.session().store().updateSuperGroupReadState(serverUrl, state.lastReadSeq, state.lastMessageSeq,
                                                       state.unread);
    m_host.reloadConversations();
}

// ---- the user's role ------------------------------------------------------------------

namespace {
struct RoleResult
{
    bool ok = false;
    QString role;
};
} // namespace

void SuperGroupSync::refreshAuthorization(const QString &serverUrl)
{
    if (serverUrl.isEmpty())
        return;
    const QString myKey = m_host.session().myKey();
    m_host.jobs().run<RoleResult>(
        [serverUrl, myKey] {
            velmor::net::ServiceError error;
            const QList<velmor::sg::SGMember> members = SuperGroupApi::instance().members(serverUrl, &error);
            RoleResult result;
            result.ok = !error.isError();
            for (const velmor::sg::SGMember &member : members) {
                if (member.pubkey == myKey) {
                    result.role = member.role;
                    break;
                }
            }
            return result;
        },
        [this, serverUrl](const RoleResult &result) {
            if (!result.ok) {
                // A failed request says nothing about the role: the stored one stays.
                qWarning().noquote() << "[SG] role refresh failed, role kept url=" << serverUrl;
                return;
            }
            SuperGroupRecord row = sg::storedOrNew(serverUrl);
            row.role = result.role;
            row.updated_at = sg::nowSeconds();
            m_host.session().store().upsertSuperGroup(row);
            emit notificationsReloadWanted();
            m_host.reloadConversations();
            emit currentChanged();
            if (isOpen(serverUrl))
                emit roleRefreshed(serverUrl);
        });
}

// ---- name and avatar --------------------------------------------------------------------

void SuperGroupSync::refreshInfo(const QString &serverUrl)
{
    m_host.jobs().run<velmor::sg::SGGroupInfo>(
        [serverUrl] { return SuperGroupApi::instance().groupInfo(serverUrl); },
        [this, serverUrl](const velmor::sg::SGGroupInfo &info) {
            if (!info.ok) {
                qWarning().noquote() << "[SG] info coldsync failed url=" << serverUrl;
                return;
            }
            SuperGroupDirectory &groups = m_host.superGroups();
            SuperGroupRuntimeState state = groups.runtime(serverUrl);
            // An empty name from the server does not wipe the one known.
            if (!info.name.isEmpty())
                state.name = info.name;
            if (!info.serverEncPubkey.isEmpty())
                state.serverEncPubkey = info.serverEncPubkey;
            state.avatarUrl = info.avatarUrl;
            groups.setRuntime(serverUrl, state);

            SuperGroupRecord row = sg::storedOrNew(serverUrl);
            row.group_id = info.groupId;
            if (!info.name.isEmpty())
                row.name = info.name;
            if (!info.serverEncPubkey.isEmpty())
                row.server_enc_public_key = info.serverEncPubkey;
            QJsonObject stored = sg::infoObject(row);
            stored.insert(QLatin1String(sg::kInfoAvatarKey), info.avatarUrl);
            if (!info.name.isEmpty())
                stored.insert(QStringLiteral("name"), info.name);
            // The header's member count reads this; without it a group that
            // was never opened in its settings counts "0 位成员".
            stored.insert(QStringLiteral("memberCount"), info.memberCount);
            row.info_json = sg::compactJson(stored);
            row.updated_at = sg::nowSeconds();
            m_host.session().store().upsertSuperGroup(row);

            const QString peer = SuperGroupDirectory::peerFor(serverUrl);
            QVariantList entries = groups.entries();
            for (QVariant &value : entries) {
                QVariantMap entry = value.toMap();
                if (entry.value(QStringLiteral("peer")).toString() != peer)
                    continue;
                if (!info.name.isEmpty())
                    entry.insert(QStringLiteral("display"), info.name);
                if (!info.avatarUrl.isEmpty())
                    entry.insert(QStringLiteral("sgAvatarUrl"), info.avatarUrl);
                value = entry;
                break;
            }
            groups.setEntries(entries);

            if (isOpen(serverUrl))
                emit headerChanged(serverUrl);
            m_host.reloadConversations();
        });
}

} // namespace velmor::chat
