#include "chat/contact_book.h"

#include "chat/current_conversation.h"
#include "chat/payloads.h"
#include "chat/peer_keys.h"
#include "store/chat_store.h"

#include <QDateTime>
#include <QRegularExpression>

#include <algorithm>

namespace velmor::chat {

namespace {

qint64 nowSeconds()
{
    return QDateTime::currentSecsSinceEpoch();
}

} // namespace

void ContactBook::clear()
{
    m_contacts.clear();
    m_friendInfo.clear();
}

void ContactBook::reloadContacts(const QString &myKey)
{
    QVariantList list;
    for (const ContactRecord &row : ChatStore::instance().contacts()) {
        if (row.wallet_public_key.isEmpty() || row.wallet_public_key == myKey || row.blocked != 0)
            continue;
        QVariantMap map;
        map.insert(QStringLiteral("publicKey"), row.wallet_public_key);
        map.insert(QStringLiteral("address"), row.erc20_address);
        map.insert(QStringLiteral("remark"), row.remark);
        map.insert(QStringLiteral("display"), row.remark.isEmpty() ? shortAddress(row.erc20_address) : row.remark);
        map.insert(QStringLiteral("avatarKind"), row.avatar_kind);
        map.insert(QStringLiteral("avatarId"), row.avatar_id);
        list.append(map);
    }
    m_contacts = std::move(list);
}

void ContactBook::loadFriendInfo(const CurrentConversation &current)
{
    m_friendInfo.clear();
    const QString peer = current.peer();
    if (peer.isEmpty() || isGroupPeer(peer) || isSuperGroupPeer(peer) || current.official())
        return;

    ChatStore &store = ChatStore::instance();
    const std::optional<ContactRecord> contact = store.contact(peer);
    const std::optional<ConversationRecord> conversation = store.conversationByPeer(peer);
    const bool author = current.verified() && !current.official();

    QString address = contact ? contact->erc20_address : QString();
    if (address.isEmpty())
        address = addressOfKey(peer);

    m_friendInfo.insert(QStringLiteral("peer"), peer);
    m_friendInfo.insert(QStringLiteral("address"), address);
    m_friendInfo.insert(QStringLiteral("shortAddress"), shortAddress(address));
    m_friendInfo.insert(QStringLiteral("remark"), author ? authorAccountName() : (contact ? contact->remark : QString()));
    m_friendInfo.insert(QStringLiteral("avatarKind"),
                        author ? QStringLiteral("lottie") : (contact ? contact->avatar_kind : QString()));
    m_friendInfo.insert(QStringLiteral("avatarId"),
                        author ? QStringLiteral("authorheadphoto") : (contact ? contact->avatar_id : QString()));
    m_friendInfo.insert(QStringLiteral("blocked"), contact && contact->blocked != 0);
    m_friendInfo.insert(QStringLiteral("muted"), conversation && conversation->muted);

    static const QRegularExpression link(QStringLiteral("https?://[^\\s]+"),
                                         QRegularExpression::CaseInsensitiveOption);
    QVariantList texts, voices, images, links;
    const QString conversationId = store.conversationIdFor(peer);
    const QList<MessageRecord> rows = conversationId.isEmpty() ? QList<MessageRecord>() : store.messages(conversationId);
    for (const MessageRecord &row : rows) {
        QVariantMap map;
        map.insert(QStringLiteral("id"), row.id);
        map.insert(QStringLiteral("text"), row.text);
        map.insert(QStringLiteral("outgoing"), row.is_outgoing);
        map.insert(QStringLiteral("ts"), row.created_at);
        payload::appendMediaFields(row.attachment, map);
        const QString kind = map.value(QStringLiteral("kind"), QStringLiteral("text")).toString();
        if (kind == QLatin1String("image")) {
            images.append(map);
        } else if (kind == QLatin1String("voice")) {
            voices.append(map);
        } else {
            texts.append(map);
            if (link.match(row.text).hasMatch())
                links.append(map);
        }
    }
    m_friendInfo.insert(QStringLiteral("texts"), texts);
    m_friendInfo.insert(QStringLiteral("voices"), voices);
    m_friendInfo.insert(QStringLiteral("images"), images);
    m_friendInfo.insert(QStringLiteral("links"), links);
}

bool ContactBook::writeRemark(const CurrentConversation &current, const QString &remark)
{
    const QString peer = current.peer();
    if (peer.isEmpty() || isGroupPeer(peer) || isSuperGroupPeer(peer))
        return false;
    ChatStore &store = ChatStore::instance();
    ContactRecord row = store.contact(peer).value_or(ContactRecord());
    row.wallet_public_key = peer;
    if (row.erc20_address.isEmpty())
        row.erc20_address = current.address();
    row.remark = remark.trimmed();
    row.updated_at = nowSeconds();
    store.upsertContact(row);
    return true;
}

bool ContactBook::writeBlocked(const CurrentConversation &current, bool blocked)
{
    const QString peer = current.peer();
    if (peer.isEmpty())
        return false;
    ChatStore &store = ChatStore::instance();
    if (!store.contact(peer)) {
        ContactRecord row;
        row.wallet_public_key = peer;
        row.erc20_address = current.address();
        row.blocked = blocked ? 1 : 0;
        row.updated_at = nowSeconds();
        store.upsertContact(row);
    }
    store.setContactBlocked(peer, blocked);
    return true;
}

void ContactBook::mergePeerProfile(const QString &peerKey, const QString &address, const QString &avatarKind,
                                   const QString &avatarId, qint64 timestamp)
{
    if (peerKey.isEmpty())
        return;
    ChatStore &store = ChatStore::instance();
    ContactRecord row = store.contact(peerKey).value_or(ContactRecord());
    row.wallet_public_key = peerKey;
    if (!address.isEmpty())
        row.erc20_address = address;
    if (!avatarId.isEmpty()) {
        row.avatar_kind = avatarKind == QLatin1String("lottie") ? QStringLiteral("lottie") : QStringLiteral("image");
        row.avatar_id = avatarId;
    }
    row.updated_at = std::max(row.updated_at, timestamp);
    store.upsertContact(row);
}

} // namespace velmor::chat
