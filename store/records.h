// Rows of the local database as plain values. Field names follow the
// column names so that a record reads like the row it came from.
#pragma once

#include <QString>
#include <QtGlobal>

namespace velmor::chat {

enum class MessageStatus : int {
    Sending = 0,
    Sent = 1,
    Failed = 2,
    AddressUnreachable = 3,
    Received = 4,
};

// One stored message. conversation_id is the one-to-one conversation id,
// "group:" + group id, or "sg:" + server URL.
struct MessageRecord
{
    QString id;
    QString conversation_id;
    QString peer_raw_public_key;
    QString sender_raw_public_key;
    QString text;
    qint64 created_at = 0;          // seconds since the epoch
    bool is_outgoing = false;
    MessageStatus status = MessageStatus::Sending;
    QString attachment;             // empty or the JSON of an image or voice clip
    QString sender_address;
    QString sender_display_name;
    QString sender_avatar_kind;
    QString sender_avatar_id;
    qint64 server_seq = 0;          // super-group sequence number, 0 elsewhere
    QString content_type = QStringLiteral("text");
    QString system_event_type;
    QString delivery_state;
    QString content_digest;
};

// One conversation row: a one-to-one chat ("direct") or a normal group
// ("group"). Super groups have no conversation row.
struct ConversationRecord
{
    QString id;
    QString conversation_type;      // "direct" or "group"
    QString group_kind;             // "normal" for a normal group
    QString peer_raw_public_key;    // peer key, or "group:" + group id
    QString peer_enc_public_key;
    QString peer_display_key;
    QString peer_wallet_address;
    QString peer_wallet_card_json;
    bool peer_has_my_wallet_card = false;
    QString last_message;
    // Not a column: the content type of the message that left last_message
    // ("system" for a system event), read with the row by
    // conversationByPeer() and listedConversations(); empty when unknown.
    QString last_message_type;
    qint64 last_timestamp = 0;      // seconds
    int unread_count = 0;
    bool muted = false;
    bool hidden_from_chats = false;
};

struct ContactRecord
{
    QString wallet_public_key;
    QString erc20_address;
    QString remark;
    QString avatar_kind;
    QString avatar_id;
    int blocked = 0;                // non-zero = blocked
    qint64 updated_at = 0;
};

// A normal group's signed card with the user's own settings for the group
// (visible, my_nickname, muted), which never leave this device.
struct NormalGroupCardRecord
{
    QString group_id;
    QString card_json;
    QString signature;
    qint64 epoch = 0;
    QString group_key_boxes_json;
    QString members_json;
    QString name;
    QString avatar_id;
    bool visible = true;
    QString my_nickname;
    bool muted = false;
    qint64 updated_at = 0;
    QString card_stamp; // the owner's stamp of the card; empty when it came without one
};

// A group message that a card not yet held may settle (one of a group the
// user does not hold, one written under a newer card, one whose claim the
// owner's answer disproved): acknowledged, kept unread until that card
// arrives, within the bounds the group engine sets.
struct ParkedGroupMessageRecord
{
    QString group_id;
    QString message_id;
    QString sender_raw_public_key;
    qint64 epoch = 0; // the card epoch the message claims
    QString ciphertext;
    qint64 created_at = 0;
    QString content_digest;
    qint64 parked_at = 0; // seconds; 0 when parking: now
    qint64 bytes = 0;     // of the ciphertext (UTF-8); set by the store
};

struct SuperGroupRecord
{
    QString server_id;
    QString server_url;
    QString group_id;
    QString name;
    QString group_kind;             // "premium" or "premium_plus"
    QString role;
    QString connection_state;
    QString server_enc_public_key;
    QString info_json = QStringLiteral("{}");
    qint64 last_read_seq = 0;
    qint64 last_message_seq = 0;
    int unread_count = 0;
    bool muted = false;
    qint64 updated_at = 0;          // seconds
};

struct SuperGroupMemberRecord
{
    QString server_url;
    QString public_key;
    QString address;
    QString display_name;
    QString avatar_kind;
    QString avatar_id;
    QString role;
    bool muted = false;
    qint64 updated_at = 0;
};

struct PendingGroupJoinRequestRecord
{
    QString group_id;
    QString join_key;
    QString requester_public_key;
    QString requester_address;
    QString display_name;
    QString avatar_id;
    qint64 created_at = 0;
};

struct NotificationEventRecord
{
    QString stable_id;
    QString event_type;
    QString group_id;
    QString server_url;
    QString requester_public_key;
    QString requester_address;
    QString requester_profile_json;
    QString group_name;
    QString group_kind;
    QString state = QStringLiteral("pending");
    qint64 created_at = 0;
    qint64 handled_at = 0;
    QString error;
};

} // namespace velmor::chat
