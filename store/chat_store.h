// The local SQLite database: one file shared by every identity that signs in
// under the same OS user, every row keyed by the signed-in owner's public key.
//
// Safe to call from any thread. Each thread gets its own connection to the
// file (a QSqlDatabase belongs to the thread that created it) and runs its
// operations on it; a thread waiting for another writer's lock (up to 5 s)
// holds up no other thread. The application's main (GUI) thread never waits
// long: its statements give up on a held lock within a few tens of
// milliseconds, and at once while the store is known to be busy, so another
// process holding the file cannot freeze the window. Failures come back as
// values: false, an empty optional, an empty list. Every list read takes an
// optional `ok`, set false when the read failed (a closed store, a damaged
// file): a list is then empty, never a part of the rows. What keeps writes
// from landing (a held lock, a full disk, a damaged file) is kept as the
// store's condition, for the user to be told.
#pragma once

#include "store/records.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace velmor::store {
struct StoreState;

// Why the store cannot do its work right now.
enum class Condition {
    Ok,
    Busy,     // another connection or process holds the write lock
    DiskFull, // a write found no room on the disk
    Damaged,  // the file is not a database or a page of it is damaged
};

struct OpenReport
{
    // Why open() failed; Ok for any other reason (no folder, a bad key...).
    // DiskFull also when open() succeeded on a full disk: the store reads,
    // and its writes wait for room.
    Condition failure = Condition::Ok;
    // A damaged file found at the path was renamed to this and a new one
    // made in its place, now or at an earlier open by another identity
    // that had rows in it (told once to each); empty when none was.
    QString setAside;
    // Messages read back from the file kept aside into the new one.
    int salvagedMessages = 0;
    // The folder or file that made open() refuse the store: a symbolic link
    // or another user's; empty when none did.
    QString foreign;
    // The file, written by a newer build of the program (its layout version
    // is above this build's), that open() refused without writing to it:
    // this build could drop what the newer layout keeps.
    QString newer;
};
} // namespace velmor::store

class ChatStore
{
public:
    // The process-wide store; lives until exit.
    static ChatStore &instance();

    ChatStore();
    ~ChatStore();
    ChatStore(const ChatStore &) = delete;
    ChatStore &operator=(const ChatStore &) = delete;

    // ---- lifecycle -------------------------------------------------------
    // Drops any open database, opens `path` (empty: "chat.db" in the
    // application-data folder, created when missing), turns on WAL and
    // foreign keys, creates or migrates the schema and keys every later
    // statement by `ownerKey`. False (and closed) on any failure, an empty
    // owner key or a file that cannot be written. The folder is made
    // owner-only, the files 0600. A file that fails SQLite's quick check (or
    // was cut to nothing) is renamed aside, never written over, and a new
    // one made: `report` names it. Blocking: call it from a worker.
    bool open(const QString &ownerKey, const QString &path = QString(),
              velmor::store::OpenReport *report = nullptr);
    void close();
    // Keeps the file open for writes handed over while a session ends (the
    // sends it accepted, sealed on a worker): a close() meanwhile returns at
    // once and the store reads as closed, but the file is closed only when
    // the last hold goes, by the thread that lets go of it, and open() waits
    // for that. Until then only upsertOutgoing() for the same owner writes.
    // Null while the store is closed.
    std::shared_ptr<void> holdOpen();
    bool isOpen() const;
    QString ownerKey() const;       // empty while closed
    QString databasePath() const;   // empty while closed

    // ---- condition -------------------------------------------------------
    // Set by the statement that met the fault; Busy and DiskFull end with
    // the next write that lands (the store tries one itself every moment
    // while they last), Damaged with the next open(). Ok while closed.
    velmor::store::Condition condition() const;
    // Called on the thread whose statement changed the condition, with the
    // new one; replaces any earlier listener, and returns once no call of
    // that one is running (its owner may be destroyed then). A listener
    // must not set another.
    void setConditionListener(std::function<void(velmor::store::Condition)> listener);

    // Lets every connection's page cache go but for the pages in use. Each
    // thread has a connection of its own, each with a cache of up to 2 MB
    // that stays full once a burst of reads (the sign-in's) is over; the
    // file's pages stay in the system's cache, so a page read again costs a
    // copy. From any thread; does nothing while store work is under way.
    void releaseCaches();
    // A write that changes nothing, to learn whether writes land again (on
    // a full disk, one as large as the write it refused, taken back at
    // once). Waits for the lock like any statement of the calling thread.
    bool probeWrite();

    // ---- conversations ---------------------------------------------------
    // Owner key and peer key in ascending (case-sensitive) order joined by
    // ":"; empty for an empty peer or a closed store.
    QString conversationIdFor(const QString &peerKey) const;
    velmor::chat::ConversationRecord ensureDirectConversation(const QString &peerKey,
                                                              const QString &peerEncKey,
                                                              const QString &displayKey);
    velmor::chat::ConversationRecord ensureGroupConversation(const QString &groupId,
                                                             const QString &displayName);
    std::optional<velmor::chat::ConversationRecord> conversationByPeer(const QString &peerKey);
    QList<velmor::chat::ConversationRecord> visibleConversations(bool *ok = nullptr);
    // The same rows with only what the conversation list shows: the peer
    // key, type, display key, wallet address, last message, its time, the
    // unread count and the muted flag.
    QList<velmor::chat::ConversationRecord> listedConversations(bool *ok = nullptr);
    // seconds < 1 means now; the stored time never goes back.
    bool bumpConversationTimestamp(const QString &conversationId, qint64 seconds);
    bool resetUnread(const QString &conversationId);
    // Deletes the conversation's messages and hides the row (kept, emptied).
    // `unwritten`: ids and times of sends to it not written yet (kept in the
    // send journal), remembered as deleted with the rest.
    bool clearConversation(const QString &conversationId, const QList<QPair<QString, qint64>> &unwritten = {});
    // Everything the owner keeps of a normal group, in one transaction.
    bool deleteConversation(const QString &groupId, bool withMessages);
    bool setConversationMuted(const QString &peerKey, bool muted);
    bool setPeerHasMyWalletCard(const QString &peerKey, bool has);
    bool setPeerWalletCard(const QString &peerKey, const QString &cardJson,
                           const QString &walletAddress);

    // ---- messages --------------------------------------------------------
    // A message is named by its conversation and its id: ids are chosen by
    // senders, so the same id may name messages of several conversations,
    // and each is its own.
    //
    // New in its conversation: inserts, sets the conversation's preview and
    // time to the message's and, for an incoming non-system message, adds
    // one unread; a hidden conversation stays hidden. Already there: updates
    // text, status, attachment and delivery_state only; the user's own
    // message, once sent, stays sent. Writing an own message as sent drops
    // its stored envelope.
    bool upsertMessage(const velmor::chat::MessageRecord &message);
    // Every message as upsertMessage() does, in one transaction (one relay
    // pull is one write). False, and nothing written, when the transaction
    // fails; an empty id fails only its own entry of `stored` (one per
    // message, in order, set when the batch is written).
    bool upsertMessages(const QList<velmor::chat::MessageRecord> &messages, QList<bool> *stored = nullptr);
    bool messageExists(const QString &conversationId, const QString &id);
    // In any conversation.
    bool messageExists(const QString &id);
    // In any conversation, or deleted from one while the id is remembered
    // (deletedMessageDigest).
    bool messageIdKnown(const QString &id);
    QString messageContentDigest(const QString &conversationId, const QString &id);
    std::optional<velmor::chat::MessageRecord> messageById(const QString &conversationId, const QString &id);
    // The first stored message with this id in whichever conversation; one
    // that acts on a message names its conversation (above).
    std::optional<velmor::chat::MessageRecord> messageById(const QString &id);
    // The user's own message with this id: outgoing and not Received, so no
    // message of another conversation under the same id is taken for it.
    std::optional<velmor::chat::MessageRecord> ownMessage(const QString &id);
    // Every message of the conversation, oldest first.
    QList<velmor::chat::MessageRecord> messages(const QString &conversationId, bool *ok = nullptr);
    // The same, with only the columns a message list shows: id, text,
    // created_at, is_outgoing, status, attachment, content_type,
    // system_event_type and the sender's address, display name and avatar;
    // conversation_id is the one asked for, the other fields stay empty.
    QList<velmor::chat::MessageRecord> shownMessages(const QString &conversationId, bool *ok = nullptr);
    // Where a message stands in its conversation's order: its time, then
    // the order it was stored in.
    struct MessagePlace
    {
        qint64 createdAt = 0;
        qint64 order = 0;
    };
    // Pages of shownMessages() for a list that reads the newest messages
    // first and older ones on demand; each page is oldest first and
    // `places` (when given) gets each message's place. `before` empty: the
    // newest `limit` messages; else the `limit` just before that place.
    QList<velmor::chat::MessageRecord> shownMessagesBefore(const QString &conversationId,
                                                           const std::optional<MessagePlace> &before, int limit,
                                                           QList<MessagePlace> *places, bool *ok = nullptr);
    // Every message from `from` on, that place included.
    QList<velmor::chat::MessageRecord> shownMessagesFrom(const QString &conversationId, const MessagePlace &from,
                                                         QList<MessagePlace> *places, bool *ok = nullptr);
    // The ids of the conversation's image messages, oldest first, read
    // without their pictures.
    QStringList imageMessageIds(const QString &conversationId, bool *ok = nullptr);
    bool lastMessage(const QString &conversationId, QString &text, qint64 &createdAt);
    // `type`: its content type ("system" for a system event).
    bool lastMessage(const QString &conversationId, QString *text, qint64 *createdAt, QString *type = nullptr);
    // Deleting or clearing messages remembers their ids for
    // kReceivedIdMemorySeconds after their creation time: at least as long
    // as the envelope that brought one can be valid (lifetime and clock
    // slack on both ends), so a replay of it is known for what it is.
    static constexpr qint64 kReceivedIdMemorySeconds = 7 * 24 * 3600 + 3 * 300;
    bool deleteMessage(const QString &conversationId, const QString &id);
    // The digest of a message deleted from the conversation whose id is
    // still remembered (empty for a row that had none); nullopt when the id
    // is not remembered there.
    std::optional<QString> deletedMessageDigest(const QString &conversationId, const QString &id);
    bool updateMessageText(const QString &conversationId, const QString &id, const QString &text);
    // Every outgoing message still marked Sending becomes Failed: its send
    // ended with the session or the program that ran it, so nothing else
    // will ever decide it, and a failed message can be tried again. One
    // whose signed envelope is stored stays Sending, to be posted again
    // (interruptedEnvelopeSends); envelopes of deleted or sent messages go.
    // Nothing is done unless the store is `ownerKey`'s (when given: a
    // worker whose session may have ended); *failed (when given) counts the
    // rows it failed.
    bool failInterruptedSends(const QString &ownerKey = QString(), int *failed = nullptr);

    // ---- durable one-to-one sends (chat_store_outgoing.cpp) ----------------
    // The row as upsertMessage() writes it and its signed envelope (wire
    // JSON), in one transaction: both or neither.
    bool upsertMessageWithEnvelope(const velmor::chat::MessageRecord &message, const QString &envelopeJson);
    // Many new sends, each row with its envelope (an empty one: the row
    // alone), in one transaction: all or none, and none unless the store is
    // still `ownerKey`'s (for a worker whose session may have ended).
    // Another process's lock is waited for no longer than the window's
    // thread waits for one. `wanted(i)`, asked inside the transaction, leaves
    // out the sends it refuses (their conversation was deleted meanwhile);
    // *written (when given) says which were written. Writes under holdOpen().
    bool upsertOutgoing(const QString &ownerKey, const QList<velmor::chat::MessageRecord> &messages,
                        const QStringList &envelopes, const std::function<bool(qsizetype)> &wanted = {},
                        QList<bool> *written = nullptr);
    // The stored envelope of an outgoing message; empty when none.
    QString outgoingEnvelope(const QString &messageId);
    // Only the status of one of the user's own messages (ownMessage()) that
    // is not sent already; Sent also drops its stored envelope.
    bool setMessageStatus(const QString &id, velmor::chat::MessageStatus status);
    // The same for many messages in one transaction: all or none. On success
    // *found (when given) says, per change, whether its message was there.
    bool setMessageStatuses(const QList<QPair<QString, velmor::chat::MessageStatus>> &changes,
                            QList<bool> *found = nullptr);
    // Outgoing messages still Sending whose envelope is stored, in the order
    // they were written; their conversations in *conversations (when given).
    QStringList interruptedEnvelopeSends(QStringList *conversations = nullptr);
    // Official notices shown, by the notice's own id (not its envelope's):
    // one signed notice wrapped in many envelopes is shown once.
    bool officialNoticeKnown(const QString &noticeId);
    bool rememberOfficialNotice(const QString &noticeId, const QString &messageId);

    // ---- contacts --------------------------------------------------------
    std::optional<velmor::chat::ContactRecord> contact(const QString &publicKey);
    QList<velmor::chat::ContactRecord> contacts(bool *ok = nullptr);   // newest updated_at first
    bool upsertContact(const velmor::chat::ContactRecord &contact);
    bool deleteContact(const QString &publicKey);
    bool setContactBlocked(const QString &publicKey, bool blocked);

    // ---- normal groups ---------------------------------------------------
    QList<velmor::chat::NormalGroupCardRecord> normalGroupCards(bool *ok = nullptr);
    // Writes the card columns; an existing row keeps the user's own settings
    // (visible, my_nickname, muted).
    bool upsertNormalGroupCard(const velmor::chat::NormalGroupCardRecord &card);
    bool updateNormalGroupCardSettings(const QString &groupId, bool visible,
                                       const QString &myNickname, bool muted);
    // Profile objects ("memberRawPublicKey", "displayName", "avatarId",
    // "updatedAt"), ordered by member key.
    QList<QJsonObject> normalGroupMemberProfiles(const QString &groupId, bool *ok = nullptr);
    // Inserts, or replaces only with a strictly newer "updatedAt".
    bool upsertNormalGroupMemberProfile(const QString &groupId, const QJsonObject &profile);
    bool deleteNormalGroupMemberProfile(const QString &groupId, const QString &memberKey);

    // ---- normal groups the user deleted ---------------------------------
    // Remembers that the user deleted the group when its card had this
    // epoch (a larger stored epoch is kept); deleting its conversation and
    // rows leaves this behind, so an old invitation offered again stays
    // refused.
    bool markNormalGroupDeleted(const QString &groupId, qint64 cardEpoch);
    // The card epoch at the deletion; 0 for a group never deleted.
    qint64 normalGroupDeletedEpoch(const QString &groupId);

    // Group messages kept unread until a card of their epoch arrives.
    // Parking a message id already parked changes nothing; a record's
    // parked_at of 0 is now.
    bool parkGroupMessage(const velmor::chat::ParkedGroupMessageRecord &message);
    // Keeps the newest parked messages (by the time they were parked) of one
    // writer, or of all when `senderKey` is empty, within `maxRows` and
    // `maxBytes` of ciphertext, dropping the older ones. Reads no
    // ciphertext. The count dropped; -1 when it failed.
    int trimParkedGroupMessages(const QString &senderKey, int maxRows, qint64 maxBytes);
    // Drops those parked before `parkedBefore` (seconds); the count, -1 on failure.
    int dropParkedGroupMessagesBefore(qint64 parkedBefore);
    // Drops the group's parked messages of writers not among `writers`.
    bool dropParkedGroupMessagesNotFrom(const QString &groupId, const QStringList &writers);
    // The groups that have parked messages.
    QStringList parkedGroupIds(bool *ok = nullptr);
    // Those of epoch <= maxEpoch, oldest first.
    QList<velmor::chat::ParkedGroupMessageRecord> parkedGroupMessages(const QString &groupId, qint64 maxEpoch,
                                                                      bool *ok = nullptr);
    bool deleteParkedGroupMessages(const QString &groupId, qint64 maxEpoch);

    // ---- normal-group join requests and blocks ---------------------------
    QList<velmor::chat::PendingGroupJoinRequestRecord> pendingGroupJoinRequests(bool *ok = nullptr); // newest first
    bool upsertPendingGroupJoinRequest(const velmor::chat::PendingGroupJoinRequestRecord &request);
    bool deletePendingGroupJoinRequest(const QString &groupId, const QString &requesterKey);
    bool blockJoinRequester(const QString &groupId, const QString &requesterKey);
    bool isJoinBlocked(const QString &groupId, const QString &requesterKey);

    // ---- super groups ----------------------------------------------------
    std::optional<velmor::chat::SuperGroupRecord> superGroup(const QString &serverUrl);
    QList<velmor::chat::SuperGroupRecord> superGroups(bool *ok = nullptr);   // newest updated_at first
    // Every column, except that the read and message sequence numbers never
    // go back.
    bool upsertSuperGroup(const velmor::chat::SuperGroupRecord &group);
    bool setSuperGroupMuted(const QString &serverUrl, bool muted);
    bool setSuperGroupConnectionState(const QString &serverUrl, const QString &state);
    bool updateSuperGroupReadState(const QString &serverUrl, qint64 lastReadSeq,
                                   qint64 lastMessageSeq, int unread);

    QList<velmor::chat::SuperGroupMemberRecord> superGroupMembers(const QString &serverUrl, bool *ok = nullptr);
    // One member of the group (a list may hold tens of thousands).
    std::optional<velmor::chat::SuperGroupMemberRecord> superGroupMember(const QString &serverUrl,
                                                                         const QString &publicKey);
    // Fills empty fields from the stored member and keeps the larger
    // updated_at; needs server_url and public_key.
    bool upsertSuperGroupMember(const velmor::chat::SuperGroupMemberRecord &member);
    // All-or-nothing; a new record with an empty avatar keeps the stored one.
    bool replaceSuperGroupMembers(const QString &serverUrl,
                                  const QList<velmor::chat::SuperGroupMemberRecord> &members);
    bool deleteSuperGroupMember(const QString &serverUrl, const QString &publicKey);

    // ---- notification events ---------------------------------------------
    std::optional<velmor::chat::NotificationEventRecord> notificationEvent(const QString &stableId);
    // Newest created_at first; without `all`, settled events ("approved",
    // "rejected", "handled") are left out.
    QList<velmor::chat::NotificationEventRecord> notificationEvents(bool all = false, bool *ok = nullptr);
    // An existing stable id keeps its state, handled_at and error.
    bool upsertNotificationEvent(const velmor::chat::NotificationEventRecord &event);
    // True only when exactly one row in one of `allowedStates` changed.
    bool setNotificationState(const QString &stableId, const QStringList &allowedStates,
                              const QString &newState, const QString &error);

    // ---- acknowledgements waiting for the relay --------------------------
    bool addPendingAck(const QStringList &messageIds);
    QStringList pendingAcks(int limit, bool *ok = nullptr);     // oldest first
    bool deletePendingAck(const QStringList &messageIds);
    // Drops the ids first queued before `seconds` (since the epoch): the
    // relay has let their envelopes expire. The number dropped, -1 on failure.
    int dropPendingAcksQueuedBefore(qint64 seconds);

    // ---- batches ---------------------------------------------------------
    // Every write of the calling thread between begin and commit lands in
    // one transaction (one commit for a whole pulled batch); reads on that
    // thread see the batch's writes. An item (beginBatchItem/endBatchItem)
    // is a savepoint: endBatchItem(false), or a failed write inside it,
    // undoes that item's writes alone. Nothing of the batch is on disk
    // before commitBatch() succeeds; a batch never committed (rolled back,
    // the store closed, the process killed) leaves the file as it was.
    bool beginBatch();
    // The same, only while the store is `ownerKey`'s: a worker's batch
    // whose session may have ended. Once begun, a close() in the middle
    // ends it: nothing more is written, and its commit fails.
    bool beginBatch(const QString &ownerKey);
    bool commitBatch();
    void rollbackBatch();
    bool beginBatchItem();
    // True when the item's writes were kept.
    bool endBatchItem(bool keep);

    // Scoped batch: rolled back unless commit() was called and succeeded.
    class Batch
    {
    public:
        explicit Batch(ChatStore &store);
        Batch(ChatStore &store, const QString &ownerKey);
        ~Batch();
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;
        bool active() const { return m_active; }
        bool commit();

    private:
        ChatStore &m_store;
        bool m_active;
    };

private:
    std::shared_ptr<velmor::store::StoreState> d;
};

namespace velmor::chat {
using ::ChatStore;
}
