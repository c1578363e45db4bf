// The object the views know as "Chat": one signed-in chat session.
//
// It is a façade. Its state lives in one class per feature, each in its own
// file: the session and its background jobs (chat_session.h, job_runner.h),
// the error model (error_model.h), the conversation and message lists
// (conversation_list.h, message_list.h), the open conversation
// (current_conversation.h), contacts and friend information
// (contact_book.h) and the super-group table (supergroup_directory.h).
// The larger features come in groups of such classes, each receiving the
// ChatHost interface (chat_host.h): the inbox, acknowledgements, outbox and
// push sockets (messaging_parts.h); discovery, join requests and
// notifications, and normal-group operations (directory_parts.h); and the
// super groups (supergroup_parts.h). The members below forward to them.
//
// Everything here runs on the GUI thread; slow work goes to JobRunner.
#pragma once

#include "chat/chat_host.h"
#include "chat/chat_session.h"
#include "chat/contact_book.h"
#include "chat/conversation_list.h"
#include "chat/current_conversation.h"
#include "chat/error_model.h"
#include "chat/job_runner.h"
#include "chat/message_list.h"
#include "chat/supergroup_directory.h"
#include "models/conversation_row_model.h"
#include "models/keyed_list_model.h"

#include <QFuture>
#include <QMutex>
#include <QNetworkInformation>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <optional>

namespace velmor::chat {
struct MessagingParts;
struct SuperGroupParts;
struct DirectoryParts;
}

class ChatController : public QObject, private velmor::chat::ChatHost
{
    Q_OBJECT
    Q_PROPERTY(QVariantList conversations READ conversations NOTIFY conversationsChanged)
    Q_PROPERTY(QVariantList messages READ messages NOTIFY messagesChanged)
    // The same lists as models the views show row by row: a change touches
    // only its rows. The message model holds the loaded pages of the open
    // conversation (loadOlderMessages() adds the page before them).
    Q_PROPERTY(QAbstractItemModel *conversationModel READ conversationModel CONSTANT)
    Q_PROPERTY(QAbstractItemModel *messageModel READ messageModel CONSTANT)
    Q_PROPERTY(QString currentPeer READ currentPeer NOTIFY currentChanged)
    Q_PROPERTY(QString currentTitle READ currentTitle NOTIFY currentChanged)
    // True when currentTitle is the system's own stand-in ("群聊", "超级群",
    // "未知地址"), shown in the interface's language; a name is shown as given.
    Q_PROPERTY(bool currentTitleFallback READ currentTitleFallback NOTIFY currentChanged)
    Q_PROPERTY(QString currentAddress READ currentAddress NOTIFY currentChanged)
    Q_PROPERTY(QString currentAvatarKind READ currentAvatarKind NOTIFY currentChanged)
    Q_PROPERTY(QString currentAvatarId READ currentAvatarId NOTIFY currentChanged)
    Q_PROPERTY(bool currentVerified READ currentVerified NOTIFY currentChanged)
    Q_PROPERTY(bool currentOfficial READ currentOfficial NOTIFY currentChanged)
    Q_PROPERTY(QString currentGroupKind READ currentGroupKind NOTIFY currentChanged)
    Q_PROPERTY(QString currentGroupSubtitle READ currentGroupSubtitle NOTIFY currentChanged)
    Q_PROPERTY(bool currentCanSend READ currentCanSend NOTIFY currentChanged)
    Q_PROPERTY(bool syncing READ syncing NOTIFY syncingChanged)
    // "" while the relay answers, else "重新连接中…" or "连接失败".
    Q_PROPERTY(QString relayStatusText READ relayStatusText NOTIFY relayStatusChanged)
    Q_PROPERTY(QVariantMap lastError READ lastError NOTIFY lastErrorChanged)
    Q_PROPERTY(bool discoveryBusy READ discoveryBusy NOTIFY discoveryChanged)
    Q_PROPERTY(QVariantMap discoveryResult READ discoveryResult NOTIFY discoveryChanged)
    Q_PROPERTY(QVariantList contacts READ contacts NOTIFY contactsChanged)
    Q_PROPERTY(QVariantList notifications READ notifications NOTIFY notificationsChanged)
    Q_PROPERTY(int notificationCount READ notificationCount NOTIFY notificationsChanged)
    Q_PROPERTY(QVariantMap friendInfo READ friendInfo NOTIFY friendInfoChanged)

public:
    static constexpr int kPullIntervalMs = 4000;
    static constexpr int kAckFlushIntervalMs = 5000;
    // The network-reachability watch begins this long after a session starts.
    static constexpr int kReachabilityWatchDelayMs = 1000;

    explicit ChatController(QObject *parent = nullptr);
    ~ChatController() override;

    // ---- properties ------------------------------------------------------
    QVariantList conversations() const { return m_conversations.rows(); }
    QVariantList messages() const { return m_messages.rows(); }
    QAbstractItemModel *conversationModel() { return &m_conversationModel; }
    QAbstractItemModel *messageModel() { return &m_messages.model(); }
    QString currentPeer() const { return m_current.peer(); }
    QString currentTitle() const { return m_current.title(); }
    bool currentTitleFallback() const { return m_current.titleFallback(); }
    QString currentAddress() const { return m_current.address(); }
    QString currentAvatarKind() const { return m_current.avatarKind(); }
    QString currentAvatarId() const { return m_current.avatarId(); }
    bool currentVerified() const { return m_current.verified(); }
    bool currentOfficial() const { return m_current.official(); }
    QString currentGroupKind() const;
    QString currentGroupSubtitle() const;
    bool currentCanSend() const;
    bool syncing() const;
    QString relayStatusText() const;
    QVariantMap lastError() const { return m_errors.lastError(); }
    bool discoveryBusy() const;
    QVariantMap discoveryResult() const;
    QVariantList contacts() const { return m_contacts.contacts(); }
    QVariantList notifications() const;
    int notificationCount() const;
    QVariantMap friendInfo() const { return m_contacts.friendInfo(); }

    // ---- pure helpers used across the parts ------------------------------
    static bool isGroupPeer(const QString &peer);
    static bool isSuperGroupPeer(const QString &peer);
    static QString shortAddress(const QString &text);

    // ---- not exposed to QML ----------------------------------------------
    void reloadMessages() override;
    void reloadConversations() override;
    void reloadConversationsSoon() override;
    void markConversationRead(const QString &peer) override;
    void conversationsStored(const QList<velmor::chat::ConversationList::Changed> &changed) override;
    void messageStored(const velmor::chat::MessageRecord &record) override;
    void messageStatusChanged(const QString &messageId, int status) override;
    void messageRemoved(const QString &messageId) override;
    void notifyIncoming(const QString &peer, const QString &title, bool muted) override;
    void updateConversationConnectionState(const QString &serverUrl, const QString &state, int latencyMs);
    void mergePeerProfile(const QString &peerKey, const QString &address, const QString &avatarKind,
                          const QString &avatarId, qint64 timestamp);
    // Follows the platform's network reachability (on at construction, the
    // backend loaded with the first start): a return of the network runs the
    // recovery sequence.
    void watchReachability(bool on);
    void handleReachabilityChange(QNetworkInformation::Reachability reachability);
    void connectReachability();
    // True while the session runs (the pull timer is the sign of it).
    // The session runs (the sign-in started it, or a view did).
    Q_INVOKABLE bool isStarted() const { return m_pullTimer.isActive(); }
    // The pull timer's interval: 15 s while the relay's push socket is
    // connected, 4 s without.
    int pullIntervalMs() const { return m_pullTimer.interval(); }
    // Background jobs whose result has not come back yet.
    int pendingJobs() const { return m_jobs.pending(); }

    // What the feature parts are built on (session, jobs, errors, list
    // reloads); handed to each part, and to tests that drive a job.
    velmor::chat::ChatHost &host() { return *this; }
    // The inbox, acknowledgement, sending and push-socket parts (tests drive
    // their timers and hooks through it).
    velmor::chat::MessagingParts &messaging() { return *m_messaging; }
    // The super-group parts (tests reach the realtime clients through them).
    velmor::chat::SuperGroupParts &superGroupParts() { return *m_sg; }
    // The discovery, notification and normal-group parts (tests wait on
    // their jobs through it).
    velmor::chat::DirectoryParts &directory() { return *m_directory; }

signals:
    void voiceRoomOpenChanged(const QString &serverUrl, bool open);
    void conversationsChanged();
    void messagesChanged();
    void currentChanged();
    void syncingChanged();
    void relayStatusChanged();
    void errorOccurred(const QString &msg);
    void operationFailed(const QVariantMap &error);
    void lastErrorChanged();
    void superGroupInfoLoaded(const QVariantMap &info);
    void superGroupEvent(const QString &serverUrl, const QString &type, const QVariantMap &data);
    void discoveryChanged();
    void contactsChanged();
    void notificationsChanged();
    void friendInfoChanged();
    void discoveryCompleted(bool ok, const QString &status);
    void systemNotificationRequested(const QString &peer, const QString &title, const QString &body);
    void openNotificationsRequested();
    void lifecycleRestored();
    void sgCapacityLoaded(bool ok, int standardAvailable, int premiumAvailable);
    void sgCreateCompleted(bool ok, const QString &error);
    // The outcome of joinSuperGroup: the server's status ("joined",
    // "pending", "already_member") or the error word.
    void superGroupJoinCompleted(const QString &serverUrl, bool ok, const QString &status);
    // The end of a normal-group operation started by one of the group
    // members below (they return once it has started): operation is
    // "create", "add", "remove", "rename", "remark", "nickname",
    // "visibility" or "leave".
    void groupOperationFinished(const QString &operation, const QString &groupId, bool ok, const QString &error);
    // A text sent to `peer` is kept (written, or in the send journal) and
    // shown; or, `kept` false, it was neither kept nor sent. The composer
    // clears on the first and keeps its text on the second.
    void textKept(const QString &peer, const QString &text, bool kept);
    // Sends an earlier run could keep only in the send journal were written
    // at this sign-in and are being posted.
    void sendsRestored(int count);
    // Sends kept in the send journal that a damaged record lost.
    void journaledSendsLost(int count);

public:
    // ---- session lifecycle -----------------------------------------------
    Q_INVOKABLE void start();
    // Work for a sign-in's worker, once the store is open: it starts a job
    // of its own that reads the stored conversations of the store's owner,
    // for the next start() of that owner's session to show as soon as they
    // are read (which then reads them again for what the start itself
    // changed); the sign-in completes without waiting for the reading. The
    // work holds nothing of the controller but the reading's slot, so it
    // may outlive the controller.
    std::function<void()> readConversationsAheadWork();
    Q_INVOKABLE void stop();
    Q_INVOKABLE void refresh();
    Q_INVOKABLE void resumeAfterNetworkRecovery();
    Q_INVOKABLE void activateSystemNotification(const QString &target);
    // ---- current conversation --------------------------------------------
    Q_INVOKABLE void openConversation(const QString &peerPubkey) override;
    // True while the newest page of the conversation just opened is read
    // (messagesChanged follows when it is shown).
    Q_INVOKABLE bool messagesLoading() const { return m_messages.openingPage(); }
    Q_INVOKABLE bool newChat(const QString &peerPubkey);
    // Reads the page of messages before the oldest one shown (the user
    // scrolled up to it) off the GUI thread; it lands above the rows shown
    // when read. True while it is read; false when the whole conversation
    // is shown.
    Q_INVOKABLE bool loadOlderMessages();
    // The ids of every image message of the open conversation, oldest
    // first, loaded pages or not (the image viewer steps through them).
    Q_INVOKABLE QStringList conversationImageIds() const;
    // The user is back at the end: the message model keeps only its newest
    // pages, so a long read up does not make later changes cost more.
    Q_INVOKABLE void trimOlderMessages();
    // ---- discovery and joining -------------------------------------------
    Q_INVOKABLE void resolveDiscoveryInput(const QString &input);
    Q_INVOKABLE void resolveQrImage(const QString &fileUrl);
    Q_INVOKABLE void clearDiscovery();
    Q_INVOKABLE bool saveContactAndStartChat(const QString &remark);
    Q_INVOKABLE void joinDiscoveredGroup(const QString &note = QString());
    // ---- contacts and notifications --------------------------------------
    Q_INVOKABLE void reloadContacts() override;
    Q_INVOKABLE void reloadNotifications();
    Q_INVOKABLE void resolveJoinNotification(const QString &kind, const QString &target,
                                             const QString &requesterPublicKey, const QString &action);
    // ---- normal groups ---------------------------------------------------
    Q_INVOKABLE bool createGroupFromContacts(const QString &name, const QVariantList &publicKeys);
    Q_INVOKABLE bool createGroup(const QString &name, const QString &membersCsv);
    Q_INVOKABLE bool addGroupMembers(const QString &groupId, const QString &membersCsv);
    Q_INVOKABLE bool addGroupMembersFromContacts(const QString &groupId, const QVariantList &publicKeys);
    Q_INVOKABLE bool removeGroupMember(const QString &groupId, const QString &memberRawPubkey);
    Q_INVOKABLE bool renameGroup(const QString &groupId, const QString &newName);
    Q_INVOKABLE bool updateGroupRemark(const QString &groupId, const QString &remark);
    Q_INVOKABLE bool updateGroupNickname(const QString &groupId, const QString &nickname);
    Q_INVOKABLE bool setGroupVisibility(const QString &groupId, bool visible);
    Q_INVOKABLE void setGroupMuted(const QString &groupId, bool muted);
    Q_INVOKABLE void leaveOrDeleteGroup(const QString &groupId);
    Q_INVOKABLE QVariantMap currentGroupInfo();
    // ---- super groups ----------------------------------------------------
    Q_INVOKABLE void loadSuperGroupInfo();
    Q_INVOKABLE void updateSuperGroupMeta(const QString &name, const QString &notice, bool joinOpen);
    Q_INVOKABLE void setSuperGroupAllMuted(bool muted);
    Q_INVOKABLE void updateSuperGroupProfile(const QString &nickname);
    Q_INVOKABLE void setSuperGroupMuted(bool muted);
    Q_INVOKABLE void inviteSuperGroupMembers(const QVariantList &publicKeys);
    Q_INVOKABLE void removeSuperGroupMember(const QString &publicKey);
    Q_INVOKABLE void setSuperGroupMemberRole(const QString &publicKey, const QString &role);
    Q_INVOKABLE void syncSuperGroupProfiles();
    Q_INVOKABLE void refreshSuperGroups();
    Q_INVOKABLE bool joinSuperGroup(const QString &serverUrl, const QString &note);
    Q_INVOKABLE void fetchSgCapacity();
    Q_INVOKABLE void createSuperGroup(const QString &creationKey, const QString &name, const QString &type);
    // ---- sending ---------------------------------------------------------
    // False when the text will not be sent: the composer keeps it then.
    // True when it was taken: textKept follows once it is kept (or not).
    Q_INVOKABLE bool sendText(const QString &text);
    // Shown sends that neither the store nor the send journal holds yet: a
    // program that ended now would lose them (the quit asks first).
    Q_INVOKABLE int unkeptSends() const;
    Q_INVOKABLE void sendImageFromFile(const QString &fileUrl);
    Q_INVOKABLE void sendVoiceFromFile(const QString &filePath, int durationMs);
    // ---- friend information ----------------------------------------------
    Q_INVOKABLE void loadCurrentFriendInfo();
    Q_INVOKABLE bool updateCurrentFriendRemark(const QString &remark);
    Q_INVOKABLE void setCurrentFriendBlocked(bool blocked);
    Q_INVOKABLE void setCurrentConversationMuted(bool muted);
    Q_INVOKABLE void deleteCurrentContact();
    Q_INVOKABLE void deleteCurrentConversation();
    Q_INVOKABLE void deleteConversation(const QString &peer);
    Q_INVOKABLE void retryMessage(const QString &messageId);

private:
    // ChatHost
    velmor::chat::ChatSession &session() override { return m_session; }
    velmor::chat::ErrorModel &errors() override { return m_errors; }
    velmor::chat::JobRunner &jobs() override { return m_jobs; }
    velmor::chat::SuperGroupDirectory &superGroups() override { return m_superGroups; }
    const velmor::chat::CurrentConversation &current() const override { return m_current; }

    void runRecovery();
    void onPullTimer();
    void ensureGroupConversations();

    // Seams of the features that later parts bring. Each does nothing until
    // its part is added; the lifecycle calls them in their fixed places.
    // They live, with the invokables of the same feature, in
    // chat_controller_messaging.cpp (inbox, acknowledgements, sending, push
    // sockets), chat_controller_directory.cpp (discovery, notifications,
    // normal groups) and chat_controller_supergroups.cpp (super groups).
    void pullOnce();                                   // inbox: pull and process envelopes
    void resumeRelayWork();                            // inbox and sends: the relay may answer again
    void resumeInterruptedSends();                     // sending: post what a crash interrupted
    void retryPendingAcks();                           // inbox: flush queued acknowledgements
    void connectInboxRealtime();                       // push sockets: relay new-message socket
    void connectDnsRealtime();                         // push sockets: group-centre socket
    void closePushSockets();                           // push sockets: timers, counters, close
    void refreshSuperGroupsInBackground();             // super groups: the user's group list
    void stopSuperGroupClients();                      // super groups: realtime clients
    void openSuperGroup(const QString &serverUrl);     // super groups: info and read state
    void pullSuperGroup(const QString &serverUrl);     // super groups: message pull
    void importNormalJoinRequests();                   // notifications: stored join requests
    void rebuildNotifications();                       // notifications: list from the store
    void reloadNotificationsInBackground();            // notifications: pending super-group requests
    void forgetSendCaches();                           // sending: cached voice waveforms
    void setUpMessaging();                             // builds and wires the messaging parts
    void setUpSuperGroups();                           // super groups: the parts and their signals
    void refreshCurrentSuperGroupHeader(const QString &serverUrl);
    void setUpDirectory();                             // builds and wires discovery, notifications, groups
    // lists: the first list of a session, and later readings off the GUI thread
    void loadConversationsInBackground(std::function<void()> settle = {});
    // The reading of readConversationsAheadWork(), when it is this session's
    // owner's and the list is still empty.
    void showConversationsReadAhead();
    void publishConversations();                       // lists: the model and the views follow the list
    void showUnstoredSends();                          // messages: sends the store has not taken yet
    void messagesRead();                               // messages: what follows a (started) reading
    void showConversationRead(const QString &peer);    // lists: the opened conversation's row shows no unread
    // The store's unread count of the conversation, on a worker.
    void resetUnreadInStore(const QString &peer, const QString &conversationId);

    velmor::chat::ChatSession m_session;
    velmor::chat::ErrorModel m_errors;
    velmor::chat::JobRunner m_jobs;
    velmor::chat::SuperGroupDirectory m_superGroups;
    velmor::chat::ConversationList m_conversations;
    // Counts the readings of the conversation list: a read on a worker is
    // taken only if no newer one was made meanwhile.
    quint64 m_conversationReads = 0;
    int m_conversationReadsInFlight = 0;
    // readConversationsAheadWork()'s reading, the store owner it is of and
    // the job that reads it. A reading started before the last stop() is
    // never kept (`generation`).
    struct ReadAhead
    {
        QMutex lock;
        QString owner;
        std::optional<velmor::chat::ConversationList::Reading> reading;
        QFuture<void> running;
        quint64 generation = 0;
    };
    std::shared_ptr<ReadAhead> m_readAhead = std::make_shared<ReadAhead>();
    // A reading for reloadConversationsSoon() is on a worker, and changes
    // came meanwhile: one more reading follows it (a burst of sends costs a
    // few readings, not one per message).
    bool m_conversationReadRunning = false;
    bool m_currentCouldSend = true; // canSend() when the messages were last read
    // Peers whose unread count is being reset in the store (a reading of
    // the list made before the write shows them read all the same).
    QHash<QString, int> m_unreadResets;
    bool m_conversationReadAgain = false;
    velmor::models::ConversationRowModel m_conversationModel;
    velmor::chat::MessageList m_messages;
    velmor::chat::CurrentConversation m_current;
    velmor::chat::ContactBook m_contacts;
    std::unique_ptr<velmor::chat::SuperGroupParts> m_sg;

    bool m_watchReachability = true;
    QTimer m_pullTimer;
    QTimer m_ackFlushTimer;
    std::unique_ptr<velmor::chat::MessagingParts> m_messaging;
    std::unique_ptr<velmor::chat::DirectoryParts> m_directory;
};
