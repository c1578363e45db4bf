#include "net/http_connection_pool.h"

#include "net/http_exchange.h"

#include <QAbstractSocket>

#include <utility>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <sys/socket.h>
#endif

namespace velmor::net {

namespace {

// Connections open to one host at a time, as Qt's own.
constexpr int kMaxPerHost = 6;

QString hostKey(const QUrl &url)
{
    const bool tls = isTlsUrl(url);
    return (tls ? QLatin1String("https://") : QLatin1String("http://")) + url.host().toLower() + QLatin1Char(':')
        + QString::number(url.port(tls ? 443 : 80));
}

// Asks the system whether anything came on an idle connection that Qt has
// not seen yet: the server's close (an idle connection it ended), or bytes
// no request asked for. Either makes it unusable. Asked just before the
// request is written, this is what tells a connection closed under us from
// one that breaks once the request went, after which a request with a body
// is never sent again (the server may have taken it).
bool systemSaysOpen(const QAbstractSocket *socket)
{
#if defined(Q_OS_UNIX)
    const qintptr fd = socket->socketDescriptor();
    if (fd < 0)
        return true;
    char byte = 0;
    const ssize_t got = ::recv(int(fd), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
#else
    Q_UNUSED(socket);
    return true;
#endif
}

} // namespace

bool isTlsUrl(const QUrl &url)
{
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

bool HttpConnectionPool::enter(const QUrl &url, HttpExchange *exchange)
{
    const QString key = hostKey(url);
    int &busy = m_busy[key];
    if (busy < kMaxPerHost) {
        ++busy;
        return true;
    }
    m_waiting.append({key, exchange});
    return false;
}

void HttpConnectionPool::leave(const QUrl &url)
{
    const QString key = hostKey(url);
    if (--m_busy[key] <= 0)
        m_busy.remove(key);
    for (qsizetype i = 0; i < m_waiting.size(); ++i) {
        if (m_waiting[i].key != key)
            continue;
        const QPointer<HttpExchange> next = m_waiting.takeAt(i).exchange;
        --i;
        if (!next || next->isFinished())
            continue;
        ++m_busy[key];
        next->m_entered = true;
        QMetaObject::invokeMethod(next, &HttpExchange::begin, Qt::QueuedConnection);
        return;
    }
}

QAbstractSocket *HttpConnectionPool::take(const QUrl &url)
{
    const QString key = hostKey(url);
    for (qsizetype i = m_idle.size() - 1; i >= 0; --i) {
        if (m_idle[i].key != key)
            continue;
        QAbstractSocket *socket = m_idle.takeAt(i).socket.data();
        if (!socket)
            continue;
        QObject::disconnect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesAvailable() == 0
            && systemSaysOpen(socket))
            return socket;
        socket->abort();
        socket->deleteLater();
    }
    return nullptr;
}

void HttpConnectionPool::giveBack(const QUrl &url, QAbstractSocket *socket)
{
    m_idle.removeIf([](const Idle &idle) { return !idle.socket; });
    const QString key = hostKey(url);
    int same = 0;
    for (const Idle &idle : std::as_const(m_idle))
        same += idle.key == key && idle.socket ? 1 : 0;
    if (same >= kMaxPerHost || socket->state() != QAbstractSocket::ConnectedState) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    socket->setParent(this);
    // Closed by the server while idle: gone from the list at once.
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    m_idle.append({key, socket});
}

} // namespace velmor::net
