// WebSocket client on Qt WebSockets: TLS (wss) for remote hosts, plain ws
// only for loopback hosts. A connection whose upgrade is not answered in
// time, or from which nothing has come for the silence limit (the client
// pings meanwhile), is dropped; so is one whose peer sends a frame or a
// message larger than 1 MiB.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QUrl>

class QTimer;
class QWebSocket;

namespace velmor::net {

// The largest frame and the largest message taken from a WebSocket peer.
constexpr qint64 kMaxIncomingWebSocketBytes = 1024 * 1024;

// Puts the incoming frame and message limits on a socket (every WebSocket
// of this program gets them before it opens).
void limitIncoming(QWebSocket *socket);

class WebSocketClient : public QObject
{
    Q_OBJECT
public:
    enum State { Idle = 0, Connecting = 1, HandshakeSent = 2, Open = 3, Closed = 4 };

    static constexpr int kDefaultHandshakeTimeoutMs = 10000;
    static constexpr int kDefaultPingIntervalMs = 20000;
    static constexpr int kDefaultSilenceLimitMs = 45000;

    explicit WebSocketClient(QObject *parent = nullptr);
    ~WebSocketClient() override;

    // Closes any current connection, then connects. tls=false is honoured only for loopback hosts.
    void open(const QString &host, quint16 port, const QString &path, bool tls = true);
    // Convenience: ws:// or wss:// URL (path and query kept).
    void openUrl(const QUrl &url);
    void close();
    bool sendText(const QString &text); // false unless open
    int state() const;
    // The URL of the current or last connection attempt (scheme shows TLS or not).
    QUrl requestUrl() const;

    // From the next open() on: the upgrade must be answered within `ms`.
    void setHandshakeTimeout(int ms);
    // While open, a ping every `pingIntervalMs`; when nothing at all (no
    // frame, no pong) has come for `silenceLimitMs` the connection is
    // dropped. Takes effect at once.
    void setKeepAlive(int pingIntervalMs, int silenceLimitMs);
    // Why the last connection ended, when not by close(): "handshake_timeout",
    // "silent", "message_too_large" or the socket's error text. Cleared by
    // open().
    QString lastError() const;

signals:
    void connected();
    void textMessage(const QString &text);
    void disconnected();

private:
    void heard();
    void onPingTimer();
    void drop(const QString &reason);
    void ended(QWebSocket *socket);

    QWebSocket *m_socket = nullptr;
    int m_state = Idle;
    QUrl m_url;
    QString m_lastError;
    int m_handshakeTimeoutMs = kDefaultHandshakeTimeoutMs;
    int m_pingIntervalMs = kDefaultPingIntervalMs;
    int m_silenceLimitMs = kDefaultSilenceLimitMs;
    QTimer *m_handshakeTimer = nullptr;
    QTimer *m_pingTimer = nullptr;
    QElapsedTimer m_lastHeard;
};

} // namespace velmor::net
