#include "net/supergroup_realtime.h"

#include "net/answer_json.h"
#include "net/http.h"
#include "net/websocket.h"
#include "net/supergroup_client.h"

#include <QDateTime>
#include <QDebug>
#include <QFutureWatcher>
#include <QJsonDocument>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>
#include <QtConcurrent/QtConcurrentRun>

namespace velmor::sg {

namespace {

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

SuperGroupRealtimeClient::SuperGroupRealtimeClient(const QString &serverUrl, QObject *parent)
    : QObject(parent)
    , m_serverUrl(serverUrl)
    , m_reconnectTimer(new QTimer(this))
    , m_pingTimer(new QTimer(this))
    , m_handshakeTimer(new QTimer(this))
{
    m_reconnectTimer->setSingleShot(true);
    // Qt's WebSocket has no deadline of its own for the upgrade answer.
    m_handshakeTimer->setSingleShot(true);
    connect(m_handshakeTimer, &QTimer::timeout, this, &SuperGroupRealtimeClient::onHandshakeTimeout);
    connect(m_reconnectTimer, &QTimer::timeout, this, &SuperGroupRealtimeClient::onReconnectTimer);
    m_pingTimer->setInterval(kPingIntervalMs);
    connect(m_pingTimer, &QTimer::timeout, this, &SuperGroupRealtimeClient::onPingTimer);
}

SuperGroupRealtimeClient::~SuperGroupRealtimeClient()
{
    stop();
}

int SuperGroupRealtimeClient::reconnectDelayMs(int attempt)
{
    const int shift = qBound(0, attempt, 5);
    return qMin(1000 << shift, 30000);
}

void SuperGroupRealtimeClient::setTimeDivisor(int divisor)
{
    m_divisor = qMax(1, divisor);
    m_pingTimer->setInterval(qMax(1, kPingIntervalMs / m_divisor));
}

bool SuperGroupRealtimeClient::isConnected() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

void SuperGroupRealtimeClient::start()
{
    if (m_running)
        return;
    m_running = true;
    m_attempts = 0;
    connectNow();
}

void SuperGroupRealtimeClient::stop()
{
    m_running = false;
    ++m_generation; // a token job still running finds nothing to open
    m_reconnectTimer->stop();
    m_pingTimer->stop();
    dropSocket();
}

void SuperGroupRealtimeClient::dropSocket()
{
    m_handshakeTimer->stop();
    if (!m_socket)
        return;
    QWebSocket *socket = m_socket;
    m_socket = nullptr;
    // Nothing from the old socket may reach the handlers once it is dropped.
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void SuperGroupRealtimeClient::connectNow()
{
    if (!m_running)
        return;
    m_reconnectTimer->stop();
    m_pingTimer->stop();
    dropSocket();
    m_failedReported = false;
    m_heardFromServer = false;
    emit stateChanged(m_serverUrl, m_attempts == 0 ? QStringLiteral("connecting")
                                                   : QStringLiteral("reconnecting"), 0);
    if (!m_running) // a receiver of the state may have stopped this client
        return;

    const quint64 generation = ++m_generation;
    // After a failure the cached token may be the reason: log in afresh.
    const bool forget = m_attempts >= 1;
    const QString url = m_serverUrl;
    auto *watcher = new QFutureWatcher<QString>(this);
    connect(watcher, &QFutureWatcher<QString>::finished, this, [this, watcher, generation]() {
        const QString token = watcher->result();
        watcher->deleteLater();
        if (!m_running || generation != m_generation)
            return;
        if (token.isEmpty()) {
            emit stateChanged(m_serverUrl, QStringLiteral("failed"), 0);
            scheduleReconnect();
            return;
        }
        openSocket(token);
    });
    watcher->setFuture(QtConcurrent::run([url, forget]() {
        auto &client = SuperGroupServiceClient::instance();
        if (forget)
            client.forgetToken(url);
        QString error;
        return client.token(url, &error);
    }));
}

void SuperGroupRealtimeClient::openSocket(const QString &token)
{
    const QString base = velmor::net::normaliseBaseUrl(m_serverUrl);
    QUrl url = velmor::net::endpoint(base, QStringLiteral("/v1/ws"));
    if (base.isEmpty() || !velmor::net::isAllowedEndpoint(url)) {
        qWarning().noquote() << "[SG] realtime refused url=" << m_serverUrl;
        emit stateChanged(m_serverUrl, QStringLiteral("failed"), 0);
        scheduleReconnect();
        return;
    }
    url.setScheme(url.scheme() == QLatin1String("https") ? QStringLiteral("wss") : QStringLiteral("ws"));
    url.setQuery(QStringLiteral("token=") + QString::fromLatin1(QUrl::toPercentEncoding(token)),
                 QUrl::StrictMode);

    m_socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    // A frame or message over the limit ends the connection (and a new one
    // is scheduled) instead of being taken in.
    velmor::net::limitIncoming(m_socket);
    connect(m_socket, &QWebSocket::connected, this, &SuperGroupRealtimeClient::onConnected);
    connect(m_socket, &QWebSocket::textMessageReceived, this, &SuperGroupRealtimeClient::onText);
    connect(m_socket, &QWebSocket::disconnected, this, &SuperGroupRealtimeClient::onDisconnected);
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    connect(m_socket, &QWebSocket::errorOccurred, this, &SuperGroupRealtimeClient::onError);
#else
    connect(m_socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            &SuperGroupRealtimeClient::onError);
#endif
    m_handshakeTimer->start(qMax(1, kHandshakeTimeoutMs / m_divisor));
    m_socket->open(url);
}

void SuperGroupRealtimeClient::onHandshakeTimeout()
{
    if (!m_running || !m_socket || isConnected())
        return;
    qWarning().noquote() << "[SG] realtime upgrade not answered url=" << m_serverUrl;
    dropSocket();
    emit stateChanged(m_serverUrl, QStringLiteral("failed"), 0);
    scheduleReconnect();
}

void SuperGroupRealtimeClient::onConnected()
{
    m_handshakeTimer->stop();
    m_lastReceiveMs = nowMs();
    m_lastPingSentMs = 0;
    m_pingTimer->start();
    emit stateChanged(m_serverUrl, QStringLiteral("connected"), 0);
}

bool SuperGroupRealtimeClient::sendJson(const QJsonObject &object)
{
    if (!isConnected())
        return false;
    return m_socket->sendTextMessage(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact))) > 0;
}

void SuperGroupRealtimeClient::onText(const QString &text)
{
    m_lastReceiveMs = nowMs();
    // An event is a small object: a frame of more values than one list
    // entry may hold is not built (a megabyte of tiny values would cost
    // tens of megabytes), and nothing of it is taken.
    bool readable = false;
    const QJsonObject frame = velmor::net::readBoundedObject(text.toUtf8(), velmor::net::kMaxEntryValues, &readable);
    if (!readable)
        return;
    const QString type = frame.value(QStringLiteral("type")).toString();
    if (type.isEmpty())
        return;
    // The server knows this client: the next failure starts the schedule anew.
    if (!m_heardFromServer) {
        m_heardFromServer = true;
        m_attempts = 0;
    }
    if (type == QLatin1String("server.ping")) {
        sendJson(QJsonObject{{QStringLiteral("type"), QStringLiteral("client.pong")}});
        return;
    }
    if (type == QLatin1String("server.hello")) {
        if (sendJson(QJsonObject{{QStringLiteral("type"), QStringLiteral("client.ping")}}))
            m_lastPingSentMs = nowMs();
        return;
    }
    if (type == QLatin1String("server.pong")) {
        const int latency = m_lastPingSentMs > 0 ? int(qMax<qint64>(0, nowMs() - m_lastPingSentMs)) : 0;
        emit stateChanged(m_serverUrl, QStringLiteral("connected"), latency);
        return;
    }
    emit eventReceived(m_serverUrl, type, frame);
}

void SuperGroupRealtimeClient::onError(QAbstractSocket::SocketError error)
{
    Q_UNUSED(error)
    if (!m_running || m_failedReported)
        return;
    m_failedReported = true;
    qWarning().noquote() << "[SG] realtime error url=" << m_serverUrl
                         << "err=" << (m_socket ? m_socket->errorString() : QString());
    emit stateChanged(m_serverUrl, QStringLiteral("failed"), 0);
    // Some failures (refused connection, failed handshake) never reach the
    // disconnected state; the schedule must go on all the same.
    scheduleReconnect();
}

void SuperGroupRealtimeClient::onDisconnected()
{
    m_pingTimer->stop();
    scheduleReconnect();
}

void SuperGroupRealtimeClient::onPingTimer()
{
    if (!isConnected())
        return;
    if (m_lastReceiveMs > 0 && nowMs() - m_lastReceiveMs > kSilenceLimitMs / m_divisor) {
        // Silent for too long: treat the connection as dead.
        m_pingTimer->stop();
        dropSocket();
        emit stateChanged(m_serverUrl, QStringLiteral("failed"), 0);
        scheduleReconnect();
        return;
    }
    if (sendJson(QJsonObject{{QStringLiteral("type"), QStringLiteral("client.ping")}}))
        m_lastPingSentMs = nowMs();
}

void SuperGroupRealtimeClient::scheduleReconnect()
{
    if (!m_running || m_reconnectTimer->isActive())
        return;
    const int delay = reconnectDelayMs(m_attempts);
    ++m_attempts;
    emit reconnectScheduled(m_serverUrl, m_attempts, delay);
    m_reconnectTimer->start(qMax(1, delay / m_divisor));
}

void SuperGroupRealtimeClient::onReconnectTimer()
{
    if (!m_running || isConnected())
        return;
    connectNow();
}

} // namespace velmor::sg
