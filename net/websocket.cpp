#include "net/websocket.h"

#include "net/http.h"

#include <QUrl>
#include <QWebSocket>

namespace velmor::net {

WebSocketClient::WebSocketClient(QObject *parent)
    : QObject(parent)
{
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
    connect(socket, &QWebSocket::connected, this, [this, socket]() {
        if (socket != m_socket)
            return;
        m_state = Open;
        emit connected();
    });
    connect(socket, &QWebSocket::textMessageReceived, this, [this, socket](const QString &text) {
        if (socket != m_socket)
            return;
        emit textMessage(text);
    });
    // A failed connection attempt and a lost connection both end in the
    // unconnected state; watching the state covers both on every Qt version.
    connect(socket, &QWebSocket::stateChanged, this,
            [this, socket](QAbstractSocket::SocketState state) {
                if (socket != m_socket)
                    return;
                if (state == QAbstractSocket::ConnectedState && m_state == Connecting)
                    m_state = HandshakeSent;
                if (state == QAbstractSocket::UnconnectedState && m_state != Closed
                    && m_state != Idle) {
                    m_state = Closed;
                    emit disconnected();
                }
            });
    m_state = Connecting;
    m_url = url;
    socket->open(url);
}

void WebSocketClient::close()
{
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

int WebSocketClient::state() const
{
    return m_state;
}

} // namespace velmor::net
