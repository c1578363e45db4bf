// The chat session's two push sockets and what their messages mean.
//
// Relay new-message socket (`inbox`): the token is the relay session's; a
// text containing "hello" or "pong" is only a sign of life, any other text
// means new envelopes wait (newMessageNotice). Connecting resets the
// reconnection counter; inboxConnectedChanged tells the owner to switch the
// pull interval (15 s while connected, 4 s without).
//
// Group-centre socket (`centre`): the token is the group centre's; its
// messages are JSON objects with a "type": "server.hello" resets the
// counter, "server.ping" is answered with {"type":"client.pong"}, and a
// type beginning with "dns.group." means the user's super-group directory
// changed (superGroupDirectoryChanged).
#pragma once

#include "chat/push_socket.h"

#include <QObject>

namespace velmor::chat {

class ChatHost;

class PushChannels : public QObject
{
    Q_OBJECT
public:
    static constexpr int kConnectedPullIntervalMs = 15000;
    static constexpr int kDisconnectedPullIntervalMs = 4000;

    explicit PushChannels(ChatHost &host, QObject *parent = nullptr);

    void connectInbox() { m_inbox.connectNow(); }
    void connectCentre() { m_centre.connectNow(); }
    void shutDown();

    PushSocket &inbox() { return m_inbox; }
    PushSocket &centre() { return m_centre; }

signals:
    void inboxConnectedChanged(bool connected);
    void newMessageNotice();
    void superGroupDirectoryChanged();

private:
    void onInboxText(const QString &text);
    void onCentreText(const QString &text);

    PushSocket m_inbox;
    PushSocket m_centre;
};

} // namespace velmor::chat
