// One push socket of the chat session: a WebSocket to a service that tells
// the client when to look again (the relay's new-message socket, the group
// centre's directory socket). It fetches the service's token on a pool
// thread, opens "/v1/ws?token=…" on the host of the service's base URL
// (ws for a loopback http URL, wss otherwise; the URL's port or the
// scheme's), pings every 20 s, closes a connection that has been silent for
// 45 s, and reconnects after 1, 2, 4, 8, 16 and then every 30 s.
//
// While the attempt counter is above 0 the next connection first forgets
// the cached token, so that a reconnection after a failure logs in afresh.
// Which event returns the counter to 0 differs per service: the owner calls
// resetAttempts() (the relay socket on connecting, the group centre on its
// "server.hello").
//
// Everything runs on the GUI thread except the token fetch.
#pragma once

#include "net/websocket.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace velmor::chat {

class ChatHost;

struct PushSocketTimings
{
    int pingIntervalMs = 20000;
    int silenceLimitMs = 45000;
    // Real reconnect waits are the schedule's delays divided by this (tests
    // run the schedule in milliseconds); reconnectScheduled() always
    // reports the schedule's own delay.
    int reconnectDivisor = 1;
};

class PushSocket : public QObject
{
    Q_OBJECT
public:
    struct Service
    {
        QString name;                                    // for the log: "inbox", "dns"
        std::function<bool()> configured;                // GUI thread; false: no attempt, no retry
        std::function<QString()> baseUrl;                // GUI thread
        std::function<QString(bool forget)> fetchToken;  // pool thread
        bool alreadyOpenSkips = false;                   // connectNow() does nothing while open
    };

    PushSocket(ChatHost &host, Service service, QObject *parent = nullptr);

    // The delay before reconnection attempt `attempts` (0-based), in ms:
    // min(1000 << min(attempts, 5), 30000).
    static int reconnectDelayMs(int attempts);
    // "/v1/ws?token=" + the token percent-encoded.
    static QString socketPath(const QString &token);

    void connectNow();
    // Stops the timers, forgets the counter and closes the connection; a
    // token fetch still running opens nothing, and the next connectNow()
    // fetches afresh instead of waiting for it.
    void shutDown();
    void resetAttempts() { m_attempts = 0; }
    bool sendJson(const QString &compactJson) { return m_socket.sendText(compactJson); }

    bool isConnected() const { return m_connected; }
    bool isOpen() const { return m_socket.state() == velmor::net::WebSocketClient::Open; }
    int attempts() const { return m_attempts; }
    bool reconnectArmed() const { return m_reconnectTimer.isActive(); }
    qint64 lastReceiveMs() const { return m_lastReceiveMs; }
    velmor::net::WebSocketClient &socket() { return m_socket; }

    void setTimings(const PushSocketTimings &timings);
    // The ping handler (public so that a test can run a tick at once).
    void onPingTimer();

signals:
    void connectedChanged(bool connected);
    void textReceived(const QString &text);
    void reconnectScheduled(int delayMs);

private:
    void scheduleReconnect();
    void openWithToken(const QString &token);
    void onConnected();
    void onText(const QString &text);
    void onDisconnected();
    void onReconnectTimer();

    ChatHost &m_host;
    Service m_service;
    PushSocketTimings m_timings;
    velmor::net::WebSocketClient m_socket;
    QTimer m_reconnectTimer;
    QTimer m_pingTimer;
    int m_attempts = 0;
    qint64 m_lastReceiveMs = 0;
    bool m_connected = false;
    bool m_tokenFetching = false;
    quint64 m_epoch = 0; // bumped by shutDown(): token fetches of before open nothing
};

} // namespace velmor::chat
