// What one pulled envelope is, and what of it is stored: a duplicate, an
// official notice, a normal-group message or event, a group join request, a
// bridge control message or translation patch, or a one-to-one message.
//
// It writes to the store and reports a verdict; it never acknowledges and
// never notifies. The inbox runs it inside one store batch per pull
// (setBatched): the message rows of the pull are then collected and written
// together by the inbox (takeMessageRows, ChatStore::upsertMessages, one
// conversation preview each), an envelope whose other writes must stand or
// fall together (an official notice, a group event, a join request, a
// translation) is a batch item of its own, and the inbox acknowledges and
// notifies only for what the committed batch kept.
#pragma once

#include "groups/group_engine.h"
#include "identity/content.h"
#include "identity/identity.h"
#include "net/relay_api.h"
#include "store/records.h"

#include <QHash>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

class ChatStore;

namespace velmor::chat {

class GroupRegistry;

// A desktop notice that an envelope asks for once it is kept.
struct InboundNotice
{
    enum class Kind { Message, JoinRequest };
    Kind kind = Kind::Message;
    QString peer;
    QString title;
    QString body;   // join requests only; messages get the host's text
    bool muted = false;
};

struct InboundVerdict
{
    bool acknowledge = false;   // its id goes to the relay's acknowledgement
    bool changed = false;       // stored messages or conversations changed
    bool writeFailed = false;   // a store write failed: keep nothing of it, acknowledge nothing
    bool joinRequestsChanged = false;
    bool translationApplied = false;
    // Batched: the collected message row (index into the rows the inbox
    // takes) that this verdict stands on; not kept when that row is not.
    int messageRow = -1;
    QList<InboundNotice> notices;
    // Group sending the envelope calls for, to run off the window's thread
    // once the batch is committed (cancelled when it is not).
    QList<GroupFollowUp> followUps;
};

class InboundProcessor
{
public:
    InboundProcessor(ChatStore &store, GroupRegistry &registry, const velmor::identity::Identity &me);

    InboundVerdict handle(const RawEnvelope &envelope);

    // The costly, store-free part of handle(): opens and reads a valid
    // one-to-one envelope's content for `me`, so that a pool thread can do
    // it for a whole pull; handle() then uses what was read. Group
    // messages, official notices and invalid envelopes are left as they are.
    static void openInPlace(RawEnvelope &envelope, const velmor::identity::Identity &me);

    // Inside a store batch: message rows are collected instead of written.
    void setBatched(bool batched) { m_batched = batched; }
    // The rows collected since the last call, in envelope order.
    QList<MessageRecord> takeMessageRows();

    // How official notices are read (parseOfficialNotice with the build's
    // key by default; tests sign with a key of their own).
    using NoticeReader = std::function<OfficialNotice(const QString &text)>;
    void setNoticeReader(NoticeReader reader) { m_readNotice = std::move(reader); }

    // Rewrites a stored text message of the given conversation as one with
    // a translation; false when the id is unknown or of another
    // conversation, the message is an image or voice clip, or the write
    // failed.
    static bool applyBridgeTranslation(ChatStore &store, const QString &conversationId,
                                       const QString &targetMessageId, const QString &translatedText,
                                       bool *writeFailed = nullptr);

private:
    static MessageContent readDirect(const QString &ciphertext, const QString &senderPubkey,
                                     const velmor::identity::Identity &me);
    InboundVerdict handleOfficial(const RawEnvelope &envelope);
    InboundVerdict handleGroupMessage(const RawEnvelope &envelope, const GroupInboundResult &group);
    InboundVerdict handleGroupEvent(const RawEnvelope &envelope, const GroupInboundResult &group);
    InboundVerdict handleJoinRequest(const RawEnvelope &envelope, const MessageContent &content);
    InboundVerdict handleTranslation(const RawEnvelope &envelope, const MessageContent &content);
    InboundVerdict handleDirect(const RawEnvelope &envelope, const MessageContent &content);
    bool blocked(const QString &senderKey);
    // The conversation the envelope's message would be stored in: the
    // sender's one-to-one conversation, or the group its clear header
    // names; empty for a group envelope that names none.
    QString conversationOf(const RawEnvelope &envelope) const;
    // The digest of the message the envelope's conversation holds (or held,
    // while a deleted one's id is remembered) under its id; nullopt when
    // the id is new there.
    std::optional<QString> storedDigest(const RawEnvelope &envelope);
    // The row collected in this pull for the conversation and id; -1 when none.
    int collectedRow(const QString &conversationId, const QString &id) const;
    bool groupMuted(const QString &groupId);
    // Writes the row, or collects it when batched; the verdict of a kept
    // envelope that stands on it.
    InboundVerdict putMessage(const MessageRecord &row);
    // Runs one envelope's writes as a batch item of their own, undone
    // together when one fails.
    template <typename Writes>
    InboundVerdict asOneItem(Writes writes);

    ChatStore &m_store;
    GroupRegistry &m_registry;
    velmor::identity::Identity m_me;
    QString m_myKey;
    NoticeReader m_readNotice;
    bool m_batched = false;
    QList<MessageRecord> m_rows;
    QMultiHash<QString, int> m_rowsOfId; // the collected rows under each id, one per conversation
};

} // namespace velmor::chat
