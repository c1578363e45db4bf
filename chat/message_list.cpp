#include "chat/message_list.h"

#include "chat/payloads.h"
#include "chat/peer_keys.h"
#include "store/chat_store.h"

namespace velmor::chat {

namespace {

int statusValue(MessageStatus status)
{
    const int value = int(status);
    return value >= int(MessageStatus::Sending) && value <= int(MessageStatus::Received) ? value : 0;
}

// Whether a map built from `a` (kept without its attachment, whose hash
// stands for it) is the map of `b` too.
bool sameShown(const MessageRecord &a, size_t attachmentHash, const MessageRecord &b)
{
    return a.created_at == b.created_at && a.status == b.status && a.is_outgoing == b.is_outgoing
        && a.text == b.text && attachmentHash == qHash(b.attachment) && a.content_type == b.content_type
        && a.sender_display_name == b.sender_display_name && a.sender_address == b.sender_address
        && a.sender_avatar_kind == b.sender_avatar_kind && a.sender_avatar_id == b.sender_avatar_id
        && a.system_event_type == b.system_event_type;
}

} // namespace

void MessageList::rebuild(const QString &peer)
{
    if (peer.isEmpty()) {
        m_rows.clear();
        return;
    }
    const QString conversationId = conversationIdForPeer(peer);
    rebuild(conversationId.isEmpty() ? QList<MessageRecord>() : ChatStore::instance().shownMessages(conversationId),
            peer);
}

void MessageList::rebuild(const QList<MessageRecord> &records, const QString &peer)
{
    const bool inSuperGroup = isSuperGroupPeer(peer);
    if (peer != m_builtPeer) {
        m_built.clear();
        m_builtPeer = peer;
    }
    // Entries are updated in place; those of messages that are gone are
    // swept afterwards.
    ++m_pass;
    QVariantList rows;
    rows.reserve(records.size());
    for (const MessageRecord &record : records) {
        Built &entry = m_built[record.id];
        if (entry.pass == 0 || !sameShown(entry.record, entry.attachmentHash, record)) {
            entry.record = record;
            entry.record.attachment.clear();
            entry.attachmentHash = qHash(record.attachment);
            entry.map = messageMap(record, inSuperGroup);
        }
        entry.pass = m_pass;
        rows.append(entry.map);
    }
    if (m_built.size() != records.size())
        m_built.removeIf([this](const auto &it) { return it.value().pass != m_pass; });
    m_rows = std::move(rows);
}

bool MessageList::setStatus(const QString &id, MessageStatus status)
{
    const auto built = m_built.find(id);
    if (built == m_built.end())
        return false;
    built->record.status = status;
    built->map.insert(QStringLiteral("status"), statusValue(status));
    // Sends report back on the newest rows: look from the end.
    for (qsizetype i = m_rows.size() - 1; i >= 0; --i) {
        if (m_rows.at(i).toMap().value(QStringLiteral("id")).toString() == id) {
            m_rows[i] = built->map;
            return true;
        }
    }
    return false;
}

QVariantMap MessageList::messageMap(const MessageRecord &record, bool inSuperGroup)
{
    QVariantMap map;
    map.insert(QStringLiteral("id"), record.id);
    map.insert(QStringLiteral("text"), record.text);
    map.insert(QStringLiteral("outgoing"), record.is_outgoing);
    map.insert(QStringLiteral("ts"), record.created_at);
    map.insert(QStringLiteral("kind"), record.content_type.isEmpty() ? QStringLiteral("text") : record.content_type);
    payload::applyTextPayload(record.text, map);
    if (inSuperGroup) {
        const QString shown = map.value(QStringLiteral("text")).toString();
        const QString systemMarker = QString::fromLatin1(payload::kSuperGroupSystemMarker);
        if (shown.startsWith(systemMarker)) {
            map.insert(QStringLiteral("kind"), QStringLiteral("system"));
            map.insert(QStringLiteral("text"), shown.mid(systemMarker.size()));
        } else if (shown.startsWith(QLatin1String(payload::kGroupInviteMarker))
                   || shown.startsWith(QLatin1String(payload::kGroupInviteMarkerShort))) {
            map.insert(QStringLiteral("kind"), QStringLiteral("system"));
        }
    }
    map.insert(QStringLiteral("senderAvatarKind"), record.sender_avatar_kind);
    map.insert(QStringLiteral("senderAvatarId"), record.sender_avatar_id);
    map.insert(QStringLiteral("senderName"), record.sender_display_name);
    map.insert(QStringLiteral("senderAddress"), record.sender_address);
    map.insert(QStringLiteral("systemEventType"), record.system_event_type);
    payload::appendMediaFields(record.attachment, map);
    map.insert(QStringLiteral("status"), statusValue(record.status));
    return map;
}

} // namespace velmor::chat
