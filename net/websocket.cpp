#include "net/websocket.h"

#include "net/http.h"

#include <QTimer>
#include <QUrl>
#include <QWebSocket>

namespace velmor::net {

void limitIncoming(QWebSocket *socket)
{
    // Checked on each frame's header, before its payload is read.
    socket->setMaxAllowedIncomingFrameSize(quint64(kMaxIncomingWebSocketBytes));
    socket->setMaxAllowedIncomingMessageSize(quint64(kMaxIncomingWebSocketBytes));
}

WebSocketClient::WebSocketClient(QObject *parent)
    : QObject(parent), m_handshakeTimer(new QTimer(this)), m_pingTimer(new QTimer(this))
{
    // Qt's WebSocket has no deadline of its own for the upgrade answer.
    m_handshakeTimer->setSingleShot(true);
    connect(m_handshakeTimer, &QTimer::timeout, this, [this]() { drop(QStringLiteral("handshake_timeout")); });
    connect(m_pingTimer, &QTimer::timeout, this, &WebSocketClient::onPingTimer);
}

WebSocketClient::~WebSocketClient()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        delete m_socket;
        m_socket = nullptr;
    }
}

void WebSocketClient::open(const QString &host, quint16 port, const QString &path, bool tls)
{
    QUrl url;
    url.setHost(host.trimmed());
    url.setScheme(QStringLiteral("ws"));
    // Plain ws is only for the loopback services of development and tests;
    // any other host always gets TLS whatever the caller asked for.
    if (tls || !isAllowedEndpoint(url))
        url.setScheme(QStringLiteral("wss"));
    url.setPort(port > 0 ? port : (url.scheme() == QLatin1String("wss") ? 443 : 80));
    QString pathText = path.isEmpty() ? QStringLiteral("/") : path;
    if (!pathText.startsWith(QLatin1Char('/')))
        pathText.prepend(QLatin1Char('/'));
    const qsizetype question = pathText.indexOf(QLatin1Char('?'));
    if (question >= 0) {
        url.setPath(pathText.left(question), QUrl::TolerantMode);
        // The query arrives percent-encoded already; keep it as it is.
        url.setQuery(pathText.mid(question + 1), QUrl::TolerantMode);
    } else {
        url.setPath(pathText, QUrl::TolerantMode);
    }
    openUrl(url);
}

void WebSocketClient::openUrl(const QUrl &urlIn)
{
    close();
    QUrl url = urlIn;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        url.setScheme(QStringLiteral("wss"));
    else if (scheme == QLatin1String("http"))
        url.setScheme(QStringLiteral("ws"));
    if (!url.isValid() || url.host().isEmpty()
        || (url.scheme() != QLatin1String("ws") && url.scheme() != QLatin1String("wss"))) {
        m_state = Closed;
        emit disconnected();
        return;
    }
    if (!isAllowedEndpoint(url))
        url.setScheme(QStringLiteral("wss"));

    m_socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    QWebSocket *socket = m_socket;
    limitIncoming(socket);
    connect(socket, &QWebSocket::connected, this, [this, socket]() {
        if (socket != m_socket)
            return;
        m_handshakeTimer->stop();
        m_lastHeard.start();
        m_pingTimer->start(m_pingIntervalMs);
        m_state = Open;
        emit connected();
    });
    connect(socket, &QWebSocket::textMessageReceived, this, [this, socket](const QString &text) {
        if (socket != m_socket)
            return;
        emit textMessage(text);
    });
    // Any frame counts as a sign of life, also a part of a long message.
    connect(socket, &QWebSocket::textFrameReceived, this, [this, socket]() {
        if (socket == m_socket)
            heard();
    });
    connect(socket, &QWebSocket::binaryFrameReceived, this, [this, socket]() {
        if (socket == m_socket)
            heard();
    });
    connect(socket, &QWebSocket::pong, this, [this, socket]() {
        if (socket == m_socket)
            heard();
    });
    // A failed connection attempt and a lost connection both end in the
    // unconnected state; watching the state covers both on every Qt version.
    connect(socket, &QWebSocket::stateChanged, this,
            [this, socket](QAbstractSocket::SocketState state) {
                if (socket != m_socket)
                    return;
                if (state == QAbstractSocket::ConnectedState && m_state == Connecting)
                    m_state = HandshakeSent;
                if (state == QAbstractSocket::UnconnectedState)
                    ended(socket);
            });
    m_state = Connecting;
    m_url = url;
    m_lastError.clear();
    m_handshakeTimer->start(m_handshakeTimeoutMs);
    socket->open(url);
}

void WebSocketClient::heard()
{
    m_lastHeard.start();
}

void WebSocketClient::onPingTimer()
{
    if (!m_socket || m_state != Open)
        return;
    if (m_lastHeard.isValid() && m_lastHeard.elapsed() >= m_silenceLimitMs) {
        drop(QStringLiteral("silent"));
        return;
    }
    m_socket->ping();
}

// This client gives up on the connection: it ends at once, reported like a
// lost connection.
void WebSocketClient::drop(const QString &reason)
{
    QWebSocket *socket = m_socket;
    if (!socket)
        return;
    m_lastError = reason;
    socket->abort();
    ended(socket); // when the abort did not already report it
}

// The connection of `socket` is over (lost, refused, or dropped here).
void WebSocketClient::ended(QWebSocket *socket)
{
    if (socket != m_socket || m_state == Closed || m_state == Idle)
        return;
    m_handshakeTimer->stop();
    m_pingTimer->stop();
    if (m_lastError.isEmpty()) {
        if (socket->closeCode() == QWebSocketProtocol::CloseCodeTooMuchData)
            m_lastError = QStringLiteral("message_too_large");
        else if (socket->error() != QAbstractSocket::UnknownSocketError)
            m_lastError = socket->errorString();
    }
    m_state = Closed;
    emit disconnected();
}

void WebSocketClient::close()
{
    m_handshakeTimer->stop();
    m_pingTimer->stop();
    QWebSocket *socket = m_socket;
    m_socket = nullptr;
    if (socket) {
        socket->disconnect(this);
        if (socket->state() == QAbstractSocket::ConnectedState) {
            socket->close(QWebSocketProtocol::CloseCodeNormal);
            socket->flush();
        }
        socket->abort();
        socket->deleteLater();
    }
    m_state = Closed;
}

bool WebSocketClient::sendText(const QString &text)
{
    if (!m_socket || m_state != Open)
        return false;
    return m_socket->sendTextMessage(text) >= 0;
}

QUrl WebSocketClient::requestUrl() const
{
    return m_url;
}

void WebSocketClient::setHandshakeTimeout(int ms)
{
    m_handshakeTimeoutMs = qMax(1, ms);
}

void WebSocketClient::setKeepAlive(int pingIntervalMs, int silenceLimitMs)
{
    m_pingIntervalMs = qMax(1, pingIntervalMs);
    m_silenceLimitMs = qMax(1, silenceLimitMs);
    if (m_pingTimer->isActive())
        m_pingTimer->start(m_pingIntervalMs);
}

QString WebSocketClient::lastError() const
{
    return m_lastError;
}

int WebSocketClient::state() const
{
    return m_state;
}

} // namespace velmor::net
