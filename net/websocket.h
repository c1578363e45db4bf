// WebSocket client on Qt WebSockets: TLS (wss) for remote hosts, plain ws
// only for loopback hosts.
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

class QWebSocket;

namespace velmor::net {

class WebSocketClient : public QObject
{
    Q_OBJECT
public:
    enum State { Idle = 0, Connecting = 1, HandshakeSent = 2, Open = 3, Closed = 4 };

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

signals:
    void connected();
    void textMessage(const QString &text);
    void disconnected();

private:
    QWebSocket *m_socket = nullptr;
    int m_state = Idle;
    QUrl m_url;
};

} // namespace velmor::net
