#include "chat/chat_controller.h"

#include "chat/messaging_parts.h"
#include "chat/directory_parts.h"
#include "chat/peer_keys.h"
#include "chat/supergroup_parts.h"
#include "groups/group_card.h"
#include "identity/content.h"
#include "store/chat_store.h"

#include <QDebug>
#include <QtConcurrent>

#include <utility>

using namespace velmor::chat;

ChatController::ChatController(QObject *parent)
    : QObject(parent)
    , m_jobs(this, m_session)
    , m_messages(m_jobs)
{
    m_conversationModel.setKeyName(QStringLiteral("peer"));
    m_messages.setLateRowsShown([this] { emit messagesChanged(); });
    m_messages.setReloaded([this] {
        showUnstoredSends();
        emit messagesChanged();
    });
    // Another conversation's header changes with its first rows: an
    // announcement before its page is read would draw a frame of its own.
    m_messages.setShown([this] { emit currentChanged(); });
    connect(&m_errors, &ErrorModel::lastErrorChanged, this, &ChatController::lastErrorChanged);
    connect(&m_errors, &ErrorModel::operationFailed, this, &ChatController::operationFailed);
    connect(&m_errors, &ErrorModel::errorOccurred, this, &ChatController::errorOccurred);

    m_pullTimer.setInterval(kPullIntervalMs);
    connect(&m_pullTimer, &QTimer::timeout, this, &ChatController::onPullTimer);
    m_ackFlushTimer.setInterval(kAckFlushIntervalMs);
    connect(&m_ackFlushTimer, &QTimer::timeout, this, &ChatController::retryPendingAcks);
    setUpMessaging();
    setUpDirectory();

    setUpSuperGroups();
}

ChatController::~ChatController()
{
    // A quit ends the session as a sign-out does for its sends: those
    // accepted and not written yet are written (or journaled) on the pool,
    // which the program's end waits for; statuses known are written.
    if (m_session.isActive())
        forgetSendCaches();
}

void ChatController::watchReachability(bool on)
{
    m_watchReachability = on;
    if (!on) {
        if (QNetworkInformation *info = QNetworkInformation::instance())
            disconnect(info, nullptr, this, nullptr);
        return;
    }
    if (isStarted())
        connectReachability();
}

// The platform's default backend, or any that reports reachability (the
// default one is missing on some Linux desktops). Without a backend the
// timers, the sockets and resumeAfterNetworkRecovery() carry on alone. It is
// loaded with the first session, not with the window: before a sign-in there
// is nothing to recover. Loading it (a plugin, and its questions to the
// system's network service) took 8 ms of the sign-in on the window's
// thread: it waits until the home view is up.
void ChatController::connectReachability()
{
    if (!QNetworkInformation::instance() && !QNetworkInformation::loadDefaultBackend())
        QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability);
    if (QNetworkInformation *info = QNetworkInformation::instance())
        connect(info, &QNetworkInformation::reachabilityChanged, this, &ChatController::handleReachabilityChange,
                Qt::UniqueConnection);
}

// ---- session lifecycle ---------------------------------------------------------

void ChatController::start()
{
    if (!m_session.storeOpen())
        return;
    m_session.begin();
    if (m_watchReachability) {
        QTimer::singleShot(kReachabilityWatchDelayMs, this, [this] {
            if (m_watchReachability && isStarted())
                connectReachability();
        });
    }
    ensureGroupConversations();
    reloadContacts();
    importNormalJoinRequests();
    rebuildNotifications();
    m_superGroups.loadFromStore();
    // The sign-in's reading of the list, shown as soon as it is read (it
    // may still be running), and the list read again after it.
    QFuture<void> readingAhead;
    {
        QMutexLocker lock(&m_readAhead->lock);
        readingAhead = m_readAhead->running;
    }
    if (!readingAhead.isFinished()) {
        m_jobs.whenFinished(readingAhead, [this] {
            showConversationsReadAhead();
            loadConversationsInBackground();
        });
    } else {
        showConversationsReadAhead();
        loadConversationsInBackground();
    }
    m_pullTimer.start();
    m_ackFlushTimer.start();
    connectInboxRealtime();
    connectDnsRealtime();
    pullOnce();
    // Sends of an earlier session (or of a program that died): failed or
    // posted again, on the pool (thousands of them held the window).
    resumeInterruptedSends();
    refreshSuperGroupsInBackground();
    reloadNotificationsInBackground();
    emit lifecycleRestored();
}

void ChatController::ensureGroupConversations()
{
    GroupRegistry &registry = GroupRegistry::instance();
    registry.reloadFromStore();
    for (const QString &groupId : registry.groupIds()) {
        if (const auto card = registry.card(groupId))
            m_session.store().ensureGroupConversation(groupId, card->name);
    }
}

void ChatController::stop()
{
    // The sends settle first, while the session is still the store's: their
    // known statuses are written and what they accepted is handed on.
    forgetSendCaches();
    // Every job still running belongs to the session that ends here: its
    // result is dropped when it comes back (JobRunner).
    m_session.end();
    m_conversationReadAgain = false;
    {
        // A reading ahead still running is of the session that ends here.
        QMutexLocker lock(&m_readAhead->lock);
        ++m_readAhead->generation;
        m_readAhead->owner.clear();
        m_readAhead->reading.reset();
    }
    m_pullTimer.stop();
    m_ackFlushTimer.stop();
    closePushSockets();
    stopSuperGroupClients();

    m_superGroups.clear();
    m_conversations.clear();
    m_conversationModel.clear();
    m_messages.clear();
    m_contacts.clear();
    m_directory->clear();
    m_current.clear();

    emit conversationsChanged();
    emit messagesChanged();
    emit contactsChanged();
    emit notificationsChanged();
    emit friendInfoChanged();
    emit discoveryChanged();
    emit currentChanged();
}

void ChatController::resumeAfterNetworkRecovery()
{
    runRecovery();
}

void ChatController::runRecovery()
{
    if (!m_session.storeOpen())
        return;
    connectInboxRealtime();
    resumeRelayWork();
    refreshSuperGroupsInBackground();
    reloadNotificationsInBackground();
    for (const SuperGroupRecord &group : m_session.store().superGroups())
        pullSuperGroup(group.server_url);
    emit lifecycleRestored();
}

void ChatController::handleReachabilityChange(QNetworkInformation::Reachability reachability)
{
    if (reachability == QNetworkInformation::Reachability::Disconnected)
        return;
    runRecovery();
}

void ChatController::onPullTimer()
{
    pullOnce();
    const QString peer = m_current.peer();
    if (velmor::chat::isSuperGroupPeer(peer))
        pullSuperGroup(serverUrlOfPeer(peer));
}

void ChatController::notifyIncoming(const QString &peer, const QString &title, bool muted)
{
    if (muted || peer.isEmpty() || peer == m_current.peer())
        return;
    emit systemNotificationRequested(peer, title.isEmpty() ? QStringLiteral("Pelorin") : title,
                                     QStringLiteral("收到新消息"));
}

void ChatController::activateSystemNotification(const QString &target)
{
    if (target.startsWith(QLatin1String("event:")))
        emit openNotificationsRequested();
    else
        openConversation(target);
}

// ---- lists -------------------------------------------------------------------------

void ChatController::reloadConversations()
{
    ++m_conversationReads;
    m_conversations.rebuild(m_superGroups);
    publishConversations();
}

// A sign-in reads the whole list, whatever its length: on a worker, handed
// to the list and its model in one step (an empty model takes every row in
// one reset) while the window goes on drawing.
void ChatController::loadConversationsInBackground(std::function<void()> settle)
{
    const quint64 read = ++m_conversationReads;
    ++m_conversationReadsInFlight;
    m_jobs.run<ConversationList::Reading>(
        [list = m_conversations, superGroups = m_superGroups] { return list.read(superGroups); },
        [this, read](ConversationList::Reading reading) {
            // A list rebuilt meanwhile holds later changes than this one.
            if (read != m_conversationReads)
                return;
            m_conversations.adopt(std::move(reading));
            for (auto it = m_unreadResets.cbegin(); it != m_unreadResets.cend(); ++it)
                m_conversations.markRead(it.key());
            publishConversations();
        },
        [this, settle = std::move(settle)] {
            --m_conversationReadsInFlight;
            if (settle)
                settle();
        });
}

std::function<void()> ChatController::readConversationsAheadWork()
{
    // On a job of its own: read inline, 2,000 conversations held the
    // sign-in's result (and so the home view) for 40-70 ms.
    return [slot = m_readAhead] {
        QMutexLocker lock(&slot->lock);
        slot->owner.clear();
        slot->reading.reset();
        slot->running = QtConcurrent::run([slot, generation = slot->generation] {
            const QString owner = ChatStore::instance().ownerKey();
            SuperGroupDirectory superGroups;
            superGroups.loadFromStore();
            ConversationList::Reading reading = ConversationList().read(superGroups);
            // The store changed hands meanwhile: the reading may mix two owners.
            if (owner.isEmpty() || ChatStore::instance().ownerKey() != owner)
                return;
            QMutexLocker lock(&slot->lock);
            if (slot->generation != generation)
                return;
            slot->owner = owner;
            slot->reading = std::move(reading);
        });
    };
}

void ChatController::showConversationsReadAhead()
{
    std::optional<ConversationList::Reading> reading;
    {
        QMutexLocker lock(&m_readAhead->lock);
        if (m_readAhead->owner == m_session.ownerKey())
            reading = std::move(m_readAhead->reading);
        m_readAhead->reading.reset();
    }
    if (!reading || !m_conversations.rows().isEmpty())
        return;
    m_conversations.adopt(std::move(*reading));
    publishConversations();
}

void ChatController::reloadConversationsSoon()
{
    if (m_conversationReadRunning) {
        m_conversationReadAgain = true;
        return;
    }
    m_conversationReadRunning = true;
    loadConversationsInBackground([this] {
        m_conversationReadRunning = false;
        // After this reading is shown (the settle step comes first).
        if (m_conversationReadAgain) {
            QMetaObject::invokeMethod(this, [this] {
                if (std::exchange(m_conversationReadAgain, false))
                    reloadConversationsSoon();
            }, Qt::QueuedConnection);
        }
    });
}

void ChatController::publishConversations()
{
    m_conversationModel.sync(m_conversations.rows());
    emit conversationsChanged();
    // Every change of a normal group's card (a rename here, or one another
    // member sent) ends in this rebuild: the open header follows it.
    if (m_current.refreshGroupTitle(m_superGroups))
        emit currentChanged();
}

void ChatController::reloadMessages()
{
    // Another conversation starts at its newest page (read on a worker:
    // showUnstoredSends() and messagesChanged follow it); the open one
    // reads again only what it has loaded.
    if (m_messages.peer() != m_current.peer())
        m_messages.open(m_current.peer());
    else
        m_messages.reload(); // on a worker once pages are loaded: showUnstoredSends() follows it
    messagesRead();
}

void ChatController::messagesRead()
{
    showUnstoredSends();
    emit messagesChanged();
    // A pull may have brought the card that removed the user from the open
    // group: the composer follows at once.
    const bool canSend = m_current.canSend();
    if (std::exchange(m_currentCouldSend, canSend) != canSend && !m_messages.switching())
        emit currentChanged();
}

void ChatController::showUnstoredSends()
{
    // Sends the store has not taken yet are shown all the same.
    if (m_messaging) {
        for (const MessageRecord &row : m_messaging->outbox.unstoredRows())
            m_messages.upsert(row);
    }
}

void ChatController::messageStored(const MessageRecord &record)
{
    if (m_messages.upsert(record))
        emit messagesChanged();
}

void ChatController::messageStatusChanged(const QString &messageId, int status)
{
    if (m_messages.setStatus(messageId, MessageStatus(status)))
        emit messagesChanged();
}

void ChatController::messageRemoved(const QString &messageId)
{
    if (m_messages.remove(messageId))
        emit messagesChanged();
}

void ChatController::trimOlderMessages()
{
    if (m_messages.trimOlder(2 * MessageList::kPageSize))
        emit messagesChanged();
}

bool ChatController::loadOlderMessages()
{
    // The page's rows come with messagesChanged once read.
    return m_messages.loadOlder();
}

QStringList ChatController::conversationImageIds() const
{
    if (m_current.peer().isEmpty())
        return {};
    return ChatStore::instance().imageMessageIds(conversationIdForPeer(m_current.peer()));
}

void ChatController::reloadContacts()
{
    m_contacts.reloadContacts(m_session.myKey());
    emit contactsChanged();
}

void ChatController::updateConversationConnectionState(const QString &serverUrl, const QString &state,
                                                       int latencyMs)
{
    if (m_conversations.updateConnectionState(serverUrl, state, latencyMs)) {
        m_conversationModel.sync(m_conversations.rows());
        emit conversationsChanged();
    }
    if (m_current.peer() == SuperGroupDirectory::peerFor(serverUrl))
        emit currentChanged();
}

// ---- current conversation ------------------------------------------------------

bool ChatController::isGroupPeer(const QString &peer)
{
    return velmor::chat::isGroupPeer(peer);
}

bool ChatController::isSuperGroupPeer(const QString &peer)
{
    return velmor::chat::isSuperGroupPeer(peer);
}

QString ChatController::shortAddress(const QString &text)
{
    return velmor::chat::shortAddress(text);
}

QString ChatController::currentGroupKind() const
{
    return m_current.groupKind();
}

QString ChatController::currentGroupSubtitle() const
{
    return m_current.groupSubtitle(m_superGroups);
}

bool ChatController::currentCanSend() const
{
    return m_current.canSend();
}

void ChatController::openConversation(const QString &peerPubkey)
{
    const QString peer = peerPubkey;
    // Another conversation's newest page is read on a worker from here on,
    // while the header and the list are brought up to date; the open one
    // reads again what it has loaded.
    const bool another = m_messages.peer() != peer;
    if (another)
        m_messages.open(peer);
    m_current.open(peer, m_superGroups);
    const bool superGroup = velmor::chat::isSuperGroupPeer(peer);
    const QString conversationId = superGroup ? peer : conversationIdForPeer(peer);
    if (!conversationId.isEmpty())
        resetUnreadInStore(peer, conversationId);
    // While its page is read the views go on showing the conversation they
    // show; the list announces the opened one with its rows.
    if (!m_messages.switching())
        emit currentChanged();
    if (another)
        messagesRead();
    else
        reloadMessages();
    if (superGroup)
        openSuperGroup(serverUrlOfPeer(peer));
    else
        showConversationRead(peer);
}

void ChatController::markConversationRead(const QString &peer)
{
    const QString conversationId = conversationIdForPeer(peer);
    if (conversationId.isEmpty())
        return;
    resetUnreadInStore(peer, conversationId);
}

void ChatController::resetUnreadInStore(const QString &peer, const QString &conversationId)
{
    ++m_unreadResets[peer];
    m_jobs.run<bool>([conversationId] { return ChatStore::instance().resetUnread(conversationId); }, [](bool) {},
                     [this, peer] {
                         if (--m_unreadResets[peer] <= 0)
                             m_unreadResets.remove(peer);
                         // A reading of the list on its way may predate the
                         // write: it is dropped, and one made now follows.
                         if (m_conversationReadsInFlight > 0) {
                             ++m_conversationReads;
                             reloadConversationsSoon();
                         }
                     });
}

void ChatController::conversationsStored(const QList<ConversationList::Changed> &changed)
{
    bool readAgain = false;
    bool shown = false;
    for (ConversationList::Changed one : changed) {
        // Its count is being reset in the store (the conversation is open).
        if (m_unreadResets.contains(one.peer) && one.record) {
            one.record->unread_count = 0;
            one.map.insert(QStringLiteral("unread"), 0);
        }
        const std::optional<ConversationList::Placed> placed = m_conversations.apply(one);
        if (!placed) {
            readAgain = true;
            continue;
        }
        if (placed->from < 0)
            continue;
        // The model holds the list's rows in the list's order.
        if (placed->from >= m_conversationModel.count() || m_conversationModel.keyAt(placed->from) != one.peer) {
            m_conversationModel.sync(m_conversations.rows());
        } else {
            m_conversationModel.replace(placed->from, one.map);
            m_conversationModel.move(placed->from, placed->to);
        }
        shown = true;
    }
    // A reading on its way may predate these rows: it is dropped, and one
    // made now follows.
    if (readAgain || m_conversationReadsInFlight > 0) {
        ++m_conversationReads;
        reloadConversationsSoon();
    }
    if (shown)
        emit conversationsChanged();
}

void ChatController::showConversationRead(const QString &peer)
{
    // Opening changed no more than the row's unread count: the list is not
    // read again from the store for it (with thousands of conversations
    // that read and the comparison of every row took most of the opening).
    const std::optional<int> changed = m_conversations.markRead(peer);
    if (!changed || m_conversationReadsInFlight > 0) {
        // A reading on its way may have been made before the count was
        // reset: it is dropped, and one made now follows.
        ++m_conversationReads;
        reloadConversationsSoon();
    }
    if (!changed || *changed < 0)
        return;
    m_conversationModel.replace(*changed, m_conversations.rows().at(*changed).toMap());
    emit conversationsChanged();
}

bool ChatController::newChat(const QString &peerPubkey)
{
    QString error;
    const QString key = CurrentConversation::normaliseNewChatKey(peerPubkey, m_session.myKey(), &error);
    if (key.isEmpty()) {
        m_errors.publishWord(error);
        return false;
    }
    m_session.store().ensureDirectConversation(key, key, velmor::chat::shortAddress(key));
    reloadConversations();
    openConversation(key);
    return true;
}

void ChatController::deleteConversation(const QString &peer)
{
    if (peer.isEmpty() || velmor::chat::isSuperGroupPeer(peer) || isOfficialPeer(peer))
        return;
    const QString conversationId = conversationIdForPeer(peer);
    // Its sends not written yet go with it; the deletion remembers those
    // kept in the send journal, which a later read of it never writes.
    const auto journaled = m_messaging->outbox.dropConversation(conversationId);
    if (!conversationId.isEmpty())
        m_session.store().clearConversation(conversationId, journaled);
    if (peer == m_current.peer()) {
        m_current.closePeer();
        m_messages.clear();
        emit currentChanged();
        emit messagesChanged();
    }
    reloadConversations();
}

void ChatController::deleteCurrentConversation()
{
    deleteConversation(m_current.peer());
}

void ChatController::deleteCurrentContact()
{
    const QString peer = m_current.peer();
    if (peer.isEmpty())
        return;
    m_session.store().deleteContact(peer);
    loadCurrentFriendInfo();
    reloadConversations();
}

// ---- contacts and friend information ---------------------------------------------

void ChatController::loadCurrentFriendInfo()
{
    m_contacts.loadFriendInfo(m_current);
    emit friendInfoChanged();
}

bool ChatController::updateCurrentFriendRemark(const QString &remark)
{
    if (!ContactBook::writeRemark(m_current, remark))
        return false;
    openConversation(m_current.peer());
    loadCurrentFriendInfo();
    return true;
}

void ChatController::setCurrentFriendBlocked(bool blocked)
{
    if (ContactBook::writeBlocked(m_current, blocked))
        loadCurrentFriendInfo();
}

void ChatController::setCurrentConversationMuted(bool muted)
{
    const QString peer = m_current.peer();
    if (peer.isEmpty())
        return;
    m_session.store().setConversationMuted(peer, muted);
    reloadConversations();
    loadCurrentFriendInfo();
}

void ChatController::mergePeerProfile(const QString &peerKey, const QString &address, const QString &avatarKind,
                                      const QString &avatarId, qint64 timestamp)
{
    ContactBook::mergePeerProfile(peerKey, address, avatarKind, avatarId, timestamp);
}
