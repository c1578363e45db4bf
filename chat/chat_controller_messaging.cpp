// The façade's members for the inbox, acknowledgements, sending and the push
// sockets: each forwards to its part (messaging_parts.h).
#include "chat/chat_controller.h"

#include "chat/messaging_parts.h"
#include "chat/peer_keys.h"

using namespace velmor::chat;

void ChatController::setUpMessaging()
{
    m_messaging = std::make_unique<MessagingParts>(host());
    MessagingParts &parts = *m_messaging;
    connect(&parts.inbox, &Inbox::syncingChanged, this, &ChatController::syncingChanged);
    connect(&parts.outbox, &Outbox::textKept, this, &ChatController::textKept);
    connect(&parts.outbox, &Outbox::sendsRestored, this, &ChatController::sendsRestored);
    connect(&parts.outbox, &Outbox::journalRecordsLost, this, &ChatController::journaledSendsLost);
    connect(&parts.inbox, &Inbox::eventNotice, this, [this](const QString &peer, const QString &title,
                                                            const QString &body) {
        emit systemNotificationRequested(peer, title, body);
    });
    connect(&parts.inbox, &Inbox::joinRequestsChanged, this, &ChatController::reloadNotifications);
    connect(&parts.inbox, &Inbox::relayStatusChanged, this, &ChatController::relayStatusChanged);
    connect(&parts.inbox, &Inbox::pullProcessed, this, [this] {
        // A pull went through: the relay answers, so sends waiting after
        // failed posts go now (also when only the sends were failing).
        if (m_messaging->inbox.failures() == 0)
            m_messaging->outbox.resumeNow();
    });

    connect(&parts.push, &PushChannels::inboxConnectedChanged, this, [this](bool connected) {
        m_pullTimer.setInterval(connected ? PushChannels::kConnectedPullIntervalMs
                                          : PushChannels::kDisconnectedPullIntervalMs);
        // What reached the relay while the socket was not there yet (or
        // away) was announced to nobody: fetch it now, not at the next 15 s.
        // The relay answers, so no wait after failures holds anything back.
        if (connected) {
            m_messaging->inbox.resumeNow();
            m_messaging->outbox.resumeNow();
        }
    });
    connect(&parts.push, &PushChannels::newMessageNotice, this, [this] {
        // A pull running now may have been answered before this message.
        m_messaging->inbox.pullFresh();
        const QString peer = m_current.peer();
        if (isSuperGroupPeer(peer))
            pullSuperGroup(serverUrlOfPeer(peer));
    });
    connect(&parts.push, &PushChannels::superGroupDirectoryChanged, this,
            &ChatController::refreshSuperGroupsInBackground);
}

bool ChatController::syncing() const
{
    return m_messaging->inbox.syncing();
}

QString ChatController::relayStatusText() const
{
    return m_messaging->inbox.relayStatusText();
}

void ChatController::pullOnce()
{
    m_messaging->inbox.pullOnce();
}

void ChatController::refresh()
{
    // Asked for by the user: no wait after failed pulls holds it back.
    m_messaging->inbox.resumeNow();
}

void ChatController::resumeRelayWork()
{
    m_messaging->inbox.resumeNow();
    m_messaging->outbox.resumeNow();
}

void ChatController::resumeInterruptedSends()
{
    // The journal is read back first; the interrupted sends follow it
    // (restoreJournaled), so that its sends go out in their place.
    m_messaging->outbox.restoreJournaled();
}

void ChatController::retryPendingAcks()
{
    // A relay that does not answer pulls would refuse these too.
    if (m_messaging->inbox.failures() > 0)
        return;
    m_messaging->acks.flush();
}

void ChatController::connectInboxRealtime()
{
    m_messaging->push.connectInbox();
}

void ChatController::connectDnsRealtime()
{
    m_messaging->push.connectCentre();
}

void ChatController::closePushSockets()
{
    m_messaging->push.shutDown();
    m_pullTimer.setInterval(PushChannels::kDisconnectedPullIntervalMs);
}

void ChatController::forgetSendCaches()
{
    m_messaging->outbox.forgetQueue();
}

bool ChatController::sendText(const QString &text)
{
    return m_messaging->outbox.sendText(text);
}

int ChatController::unkeptSends() const
{
    return m_messaging->outbox.unkeptSends();
}

void ChatController::sendImageFromFile(const QString &fileUrl)
{
    m_messaging->outbox.sendImageFromFile(fileUrl);
}

void ChatController::sendVoiceFromFile(const QString &filePath, int durationMs)
{
    m_messaging->outbox.sendVoiceFromFile(filePath, durationMs);
}

void ChatController::retryMessage(const QString &messageId)
{
    m_messaging->outbox.retryMessage(messageId);
}
