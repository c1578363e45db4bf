#include "net/bounded_get.h"

#include <QNetworkProxy>
#include <QSslSocket>
#include <QTcpSocket>

#include <utility>

namespace velmor::net {

namespace {

// An answer's head, and a chunk's size line, are short; more is no answer.
constexpr qsizetype kMaxHeadBytes = 64 * 1024;
constexpr qsizetype kMaxLineBytes = 1024;
// Connections open to one host at a time, as Qt's own.
constexpr int kMaxPerHost = 6;

bool isTls(const QUrl &url)
{
    return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
}

QString hostKey(const QUrl &url)
{
    const bool tls = isTls(url);
    return (tls ? QLatin1String("https://") : QLatin1String("http://")) + url.host().toLower() + QLatin1Char(':')
        + QString::number(url.port(tls ? 443 : 80));
}

QByteArray headerValue(const QList<QByteArray> &lines, const QByteArray &name)
{
    for (const QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

} // namespace

bool GetConnections::enter(const QUrl &url, BoundedGet *get)
{
    const QString key = hostKey(url);
    int &busy = m_busy[key];
    if (busy < kMaxPerHost) {
        ++busy;
        return true;
    }
    m_waiting.append({key, get});
    return false;
}

void GetConnections::leave(const QUrl &url)
{
    const QString key = hostKey(url);
    if (--m_busy[key] <= 0)
        m_busy.remove(key);
    for (qsizetype i = 0; i < m_waiting.size(); ++i) {
        if (m_waiting[i].key != key)
            continue;
        const QPointer<BoundedGet> next = m_waiting.takeAt(i).get;
        --i;
        if (!next || next->isFinished())
            continue;
        ++m_busy[key];
        next->m_entered = true;
        QMetaObject::invokeMethod(next, &BoundedGet::begin, Qt::QueuedConnection);
        return;
    }
}

QAbstractSocket *GetConnections::take(const QUrl &url)
{
    const QString key = hostKey(url);
    for (qsizetype i = m_idle.size() - 1; i >= 0; --i) {
        if (m_idle[i].key != key)
            continue;
        QAbstractSocket *socket = m_idle.takeAt(i).socket.data();
        if (!socket)
            continue;
        QObject::disconnect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        // Anything the server sent while the connection was idle (its
        // close, or bytes no request asked for) makes it unusable.
        if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesAvailable() == 0)
            return socket;
        socket->deleteLater();
    }
    return nullptr;
}

void GetConnections::giveBack(const QUrl &url, QAbstractSocket *socket)
{
    m_idle.removeIf([](const Idle &idle) { return !idle.socket; });
    const QString key = hostKey(url);
    int same = 0;
    for (const Idle &idle : std::as_const(m_idle))
        same += idle.key == key && idle.socket ? 1 : 0;
    if (same >= kMaxPerHost || socket->state() != QAbstractSocket::ConnectedState) {
        socket->deleteLater();
        return;
    }
    socket->setParent(this);
    // Closed by the server while idle: gone from the list at once.
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    m_idle.append({key, socket});
}

BoundedGet::BoundedGet(const QUrl &url, QList<QPair<QByteArray, QByteArray>> headers, qint64 cap, qint64 readAhead,
                       GetConnections *connections)
    : m_url(url), m_headers(std::move(headers)), m_cap(cap), m_readAhead(readAhead), m_connections(connections)
{
}

BoundedGet::~BoundedGet()
{
    delete m_socket.data();
}

void BoundedGet::start()
{
    // From the loop: finished() never comes inside the caller's start().
    QMetaObject::invokeMethod(this, &BoundedGet::begin, Qt::QueuedConnection);
}

void BoundedGet::begin()
{
    if (m_finished)
        return;
    if (!m_entered && m_connections) {
        if (!m_connections->enter(m_url, this))
            return;
        m_entered = true;
    }
    QAbstractSocket *kept = m_connections ? m_connections->take(m_url) : nullptr;
    if (kept) {
        kept->setParent(this);
        m_socket = kept;
        m_reused = true;
        open(false);
    } else {
        open(true);
    }
}

void BoundedGet::open(bool fresh)
{
    if (fresh) {
        QAbstractSocket *socket = isTls(m_url) ? new QSslSocket(this) : new QTcpSocket(this);
        socket->setProxy(QNetworkProxy::NoProxy);
        m_socket = socket;
    }
    // The socket takes no more from the system than this ahead of the
    // parser: the rest waits in the kernel, and the sender is held back.
    m_socket->setReadBufferSize(m_readAhead);
    connect(m_socket, &QAbstractSocket::readyRead, this, &BoundedGet::onReadable);
    connect(m_socket, &QAbstractSocket::disconnected, this, &BoundedGet::onClosed);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        // A kept connection that fails before any answer is treated as closed
        // (and the GET asked again on a new one).
        if (error == QAbstractSocket::RemoteHostClosedError || (m_reused && !m_anyRead))
            onClosed();
        else if (m_socket)
            fail(m_socket->errorString());
    });
    if (!fresh) {
        send();
        return;
    }
    const quint16 port = quint16(m_url.port(isTls(m_url) ? 443 : 80));
    if (auto *tls = qobject_cast<QSslSocket *>(m_socket.data())) {
        connect(tls, &QSslSocket::encrypted, this, &BoundedGet::send);
        tls->connectToHostEncrypted(m_url.host(), port);
    } else {
        connect(m_socket, &QAbstractSocket::connected, this, &BoundedGet::send);
        m_socket->connectToHost(m_url.host(), port);
    }
}

void BoundedGet::send()
{
    QByteArray target = m_url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (m_url.hasQuery())
        target += '?' + m_url.query(QUrl::FullyEncoded).toLatin1();
    QByteArray host = m_url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    if (m_url.port() >= 0)
        host += ':' + QByteArray::number(m_url.port());
    // As Qt's own requests say who asks; no compression is asked for.
    QByteArray head = "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\nUser-Agent: Mozilla/5.0\r\n";
    for (const auto &header : m_headers) {
        // A line break in a value would start a header of its own.
        if (header.first.contains('\n') || header.first.contains('\r') || header.second.contains('\n')
            || header.second.contains('\r')) {
            fail(QStringLiteral("invalid_header"));
            return;
        }
        head += header.first + ": " + header.second + "\r\n";
    }
    head += "\r\n";
    m_socket->write(head);
}

void BoundedGet::onReadable()
{
    if (m_finished || !m_socket)
        return;
    // Only what the socket holds (a bounded read-ahead) is taken at a time.
    const QByteArray piece = m_socket->readAll();
    if (!piece.isEmpty())
        m_anyRead = true;
    m_buffer += piece;
    while (!m_finished && parse()) {
    }
}

// One step of the answer from m_buffer; false when it needs more bytes.
bool BoundedGet::parse()
{
    switch (m_stage) {
    case Stage::Head: {
        const qsizetype end = m_buffer.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_buffer.size() > kMaxHeadBytes)
                fail(QStringLiteral("invalid_response"));
            return false;
        }
        return parseHead(end);
    }
    case Stage::Body: {
        const qint64 count = m_left < 0 ? m_buffer.size() : qMin<qint64>(m_left, m_buffer.size());
        if (count == 0)
            return false;
        if (!takeBodyBytes(count))
            return false;
        if (m_left >= 0) {
            m_left -= count;
            if (m_left == 0)
                complete();
        }
        return !m_finished && !m_buffer.isEmpty();
    }
    case Stage::Chunk:
    case Stage::ChunkEnd:
    case Stage::Trailer: {
        const qsizetype end = m_buffer.indexOf("\r\n");
        if (end < 0) {
            if (m_buffer.size() > kMaxLineBytes)
                fail(QStringLiteral("invalid_response"));
            return false;
        }
        const QByteArray line = m_buffer.left(end);
        m_buffer.remove(0, end + 2);
        if (m_stage == Stage::ChunkEnd) {
            if (!line.isEmpty()) {
                fail(QStringLiteral("invalid_response"));
                return false;
            }
            m_stage = Stage::Chunk;
        } else if (m_stage == Stage::Trailer) {
            if (line.isEmpty())
                complete();
        } else {
            bool ok = false;
            const qsizetype extension = line.indexOf(';');
            const qint64 size = (extension < 0 ? line : line.left(extension)).trimmed().toLongLong(&ok, 16);
            if (!ok || size < 0) {
                fail(QStringLiteral("invalid_response"));
                return false;
            }
            // Compared as what is left under the cap: a stated size near the
            // largest number would overflow the sum.
            if (size > m_cap - m_bodySize) {
                m_tooLarge = true;
                fail(QStringLiteral("response_too_large"));
                return false;
            }
            m_left = size;
            m_stage = size == 0 ? Stage::Trailer : Stage::ChunkData;
        }
        return true;
    }
    case Stage::ChunkData: {
        const qint64 count = qMin<qint64>(m_left, m_buffer.size());
        if (count == 0)
            return false;
        if (!takeBodyBytes(count))
            return false;
        m_left -= count;
        if (m_left == 0)
            m_stage = Stage::ChunkEnd;
        return true;
    }
    case Stage::Done:
        return false;
    }
    return false;
}

bool BoundedGet::parseHead(qsizetype end)
{
    const QList<QByteArray> lines = m_buffer.left(end).split('\n');
    m_buffer.remove(0, end + 4);
    const QList<QByteArray> statusLine = lines.value(0).trimmed().split(' ');
    bool ok = false;
    const int status = statusLine.value(1).toInt(&ok);
    if (!statusLine.value(0).startsWith("HTTP/1.") || !ok || status < 100 || status > 999) {
        fail(QStringLiteral("invalid_response"));
        return false;
    }
    if (status >= 100 && status < 200) {
        if (status == 101) {
            fail(QStringLiteral("invalid_response"));
            return false;
        }
        return true; // an interim answer; the real one follows
    }
    m_status = status;
    const QByteArray connection = headerValue(lines, "Connection").toLower();
    m_keepAlive = statusLine.value(0) == "HTTP/1.1" && !connection.contains("close");
    const QByteArray coding = headerValue(lines, "Transfer-Encoding").toLower();
    const QByteArray length = headerValue(lines, "Content-Length");
    if (status == 204 || status == 304) {
        complete();
        return false;
    }
    if (!coding.isEmpty()) {
        if (!coding.endsWith("chunked")) {
            fail(QStringLiteral("invalid_response"));
            return false;
        }
        m_stage = Stage::Chunk;
        return true;
    }
    if (!length.isEmpty()) {
        const qint64 stated = length.toLongLong(&ok);
        if (!ok || stated < 0) {
            fail(QStringLiteral("invalid_response"));
            return false;
        }
        // Refused with the head, before any of the body is read.
        if (stated > m_cap) {
            m_tooLarge = true;
            fail(QStringLiteral("response_too_large"));
            return false;
        }
        m_left = stated;
        m_stated = stated;
        m_stage = Stage::Body;
        if (stated == 0) {
            complete();
            return false;
        }
        return true;
    }
    // Up to the close: the connection cannot be used again.
    m_keepAlive = false;
    m_left = -1;
    m_stage = Stage::Body;
    return true;
}

// Moves `count` bytes of m_buffer to the body; false (and the answer ends)
// when the body would pass the cap.
bool BoundedGet::takeBodyBytes(qint64 count)
{
    if (m_bodySize + count > m_cap) {
        m_tooLarge = true;
        fail(QStringLiteral("response_too_large"));
        return false;
    }
    if (m_stated > 0) {
        // One buffer of the stated length, filled as the body comes.
        if (m_body.isEmpty()) {
            m_body.append(QByteArray());
            m_body.last().reserve(m_stated);
        }
        m_body.last().append(m_buffer.constData(), count);
        m_buffer.remove(0, count);
    } else if (count == m_buffer.size()) {
        // Pieces hold no more than their bytes: a read's spare room, kept
        // for every piece, would double what the body costs.
        m_body.append(std::exchange(m_buffer, QByteArray()));
        m_body.last().squeeze();
    } else {
        m_body.append(m_buffer.left(count));
        m_buffer.remove(0, count);
    }
    m_bodySize += count;
    return true;
}

void BoundedGet::onClosed()
{
    if (m_finished)
        return;
    // The bytes that came with the close are read first.
    if (m_socket && m_socket->bytesAvailable() > 0)
        onReadable();
    if (m_finished)
        return;
    if (m_stage == Stage::Body && m_left < 0) {
        complete();
        return;
    }
    if (m_reused && !m_anyRead) {
        // The server closed the kept connection as the request went out:
        // a GET is asked again, once, on a new connection.
        m_reused = false;
        m_socket->disconnect(this);
        m_socket->deleteLater();
        m_socket = nullptr;
        m_buffer.clear();
        open(true);
        return;
    }
    fail(m_stage == Stage::Head && m_status == 0 && !m_anyRead ? QStringLiteral("connection_closed")
                                                              : QStringLiteral("incomplete_response"));
}

QByteArray BoundedGet::takeBody()
{
    QByteArray out;
    if (m_body.size() == 1) {
        out = std::move(m_body.first());
    } else {
        out.reserve(m_bodySize);
        for (QByteArray &piece : m_body)
            out += std::exchange(piece, QByteArray());
    }
    m_body.clear();
    m_bodySize = 0;
    return out;
}

void BoundedGet::abort()
{
    if (m_finished)
        return;
    fail(QStringLiteral("aborted"));
}

void BoundedGet::fail(const QString &error)
{
    if (m_finished)
        return;
    m_error = error.isEmpty() ? QStringLiteral("network_error") : error;
    m_body.clear();
    m_bodySize = 0;
    m_buffer.clear();
    m_keepAlive = false;
    finish();
}

void BoundedGet::complete()
{
    m_stage = Stage::Done;
    // Bytes past the answer are none a GET asked for: the connection goes.
    if (!m_buffer.isEmpty())
        m_keepAlive = false;
    finish();
}

void BoundedGet::finish()
{
    m_finished = true;
    if (m_socket) {
        m_socket->disconnect(this);
        if (m_keepAlive && m_connections && m_socket->state() == QAbstractSocket::ConnectedState
            && m_socket->bytesToWrite() == 0) {
            m_connections->giveBack(m_url, m_socket);
        } else {
            m_socket->abort();
            m_socket->deleteLater();
        }
        m_socket = nullptr;
    }
    if (m_entered && m_connections) {
        m_entered = false;
        m_connections->leave(m_url);
    }
    emit finished();
}

} // namespace velmor::net
