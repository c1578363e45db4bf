#include "chat/push_socket.h"

#include "chat/chat_host.h"
#include "chat/chat_session.h"
#include "chat/job_runner.h"

#include <QDateTime>
#include <QDebug>
#include <QUrl>

#include <algorithm>

namespace velmor::chat {

namespace {

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

const QString kPing = QStringLiteral("{\"type\":\"client.ping\"}");

} // namespace

PushSocket::PushSocket(ChatHost &host, Service service, QObject *parent)
    : QObject(parent), m_host(host), m_service(std::move(service))
{
    m_reconnectTimer.setSingleShot(true);
    m_pingTimer.setInterval(m_timings.pingIntervalMs);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &PushSocket::onReconnectTimer);
    connect(&m_pingTimer, &QTimer::timeout, this, &PushSocket::onPingTimer);
    connect(&m_socket, &velmor::net::WebSocketClient::connected, this, &PushSocket::onConnected);
    connect(&m_socket, &velmor::net::WebSocketClient::textMessage, this, &PushSocket::onText);
    connect(&m_socket, &velmor::net::WebSocketClient::disconnected, this, &PushSocket::onDisconnected);
}

void PushSocket::setTimings(const PushSocketTimings &timings)
{
    m_timings = timings;
    m_timings.reconnectDivisor = std::max(1, timings.reconnectDivisor);
    m_pingTimer.setInterval(m_timings.pingIntervalMs);
}

int PushSocket::reconnectDelayMs(int attempts)
{
    const int shift = std::clamp(attempts, 0, 5);
    return std::min(1000 << shift, 30000);
}

QString PushSocket::socketPath(const QString &token)
{
    return QStringLiteral("/v1/ws?token=") + QString::fromLatin1(QUrl::toPercentEncoding(token));
}

void PushSocket::connectNow()
{
    if (!m_host.session().isActive() || m_tokenFetching)
        return;
    if (m_service.alreadyOpenSkips && isOpen())
        return;
    if (m_service.configured && !m_service.configured())
        return;
    // The token comes from a login when none is cached: on a pool thread, so
    // the window never waits for the service.
    const bool forget = m_attempts >= 1;
    const auto fetch = m_service.fetchToken;
    const quint64 epoch = m_epoch;
    m_tokenFetching = true;
    m_host.jobs().run<QString>([fetch, forget] { return fetch(forget); },
                               [this, epoch](const QString &token) {
                                   if (epoch == m_epoch)
                                       openWithToken(token);
                               },
                               [this, epoch] {
                                   // A fetch of before a shutDown() no longer
                                   // speaks for the one that may run now.
                                   if (epoch == m_epoch)
                                       m_tokenFetching = false;
                               });
}

void PushSocket::openWithToken(const QString &token)
{
    if (!m_host.session().isActive())
        return;
    if (token.isEmpty()) {
        scheduleReconnect();
        return;
    }
    const QUrl base(m_service.baseUrl());
    if (base.host().isEmpty())
        return;
    // ws only for a plain-http base (which the socket allows on loopback
    // alone); every other service gets TLS.
    const bool tls = base.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) != 0;
    const int port = base.port(tls ? 443 : 80);
    m_reconnectTimer.stop();
    m_socket.open(base.host(), quint16(port), socketPath(token), tls);
}

void PushSocket::shutDown()
{
    // A token fetch still running opens nothing (epoch) and no longer
    // blocks the next connectNow(): a start soon after a stop connects.
    ++m_epoch;
    m_tokenFetching = false;
    m_reconnectTimer.stop();
    m_pingTimer.stop();
    m_attempts = 0;
    m_socket.close();
    if (m_connected) {
        m_connected = false;
        emit connectedChanged(false);
    }
}

void PushSocket::scheduleReconnect()
{
    if (!m_host.session().isActive() || m_reconnectTimer.isActive())
        return;
    const int delay = reconnectDelayMs(m_attempts);
    ++m_attempts;
    m_reconnectTimer.start(delay / m_timings.reconnectDivisor);
    qInfo().noquote() << "[PUSH]" << m_service.name << "reconnect in" << delay << "ms";
    emit reconnectScheduled(delay);
}

void PushSocket::onConnected()
{
    m_connected = true;
    m_reconnectTimer.stop();
    m_lastReceiveMs = nowMs();
    m_pingTimer.start();
    emit connectedChanged(true);
}

void PushSocket::onText(const QString &text)
{
    m_lastReceiveMs = nowMs();
    emit textReceived(text);
}

void PushSocket::onDisconnected()
{
    m_pingTimer.stop();
    if (m_connected) {
        m_connected = false;
        emit connectedChanged(false);
    }
    scheduleReconnect();
}

void PushSocket::onPingTimer()
{
    if (m_lastReceiveMs > 0 && nowMs() - m_lastReceiveMs > m_timings.silenceLimitMs) {
        qInfo().noquote() << "[PUSH]" << m_service.name << "silent, closing";
        m_pingTimer.stop();
        m_socket.close();
        if (m_connected) {
            m_connected = false;
            emit connectedChanged(false);
        }
        scheduleReconnect();
        return;
    }
    m_socket.sendText(kPing);
}

void PushSocket::onReconnectTimer()
{
    // The relay socket reconnects unless connected; the group centre's
    // unless open (alreadyOpenSkips covers it in connectNow()).
    if (!m_connected)
        connectNow();
}

} // namespace velmor::chat
