#include "net/http_exchange.h"

#include "net/http_connection_pool.h"

#include <QNetworkProxy>
#include <QSslSocket>
#include <QTcpSocket>

#include <utility>

namespace velmor::net {

namespace {

// An answer's head, and a chunk's size line, are short; more is no answer.
constexpr qsizetype kMaxHeadBytes = 64 * 1024;
constexpr qsizetype kMaxLineBytes = 1024;
// Interim (1xx) answers before the real one: a server has no use for more,
// and one that sends them without end would hold the request to its deadline.
constexpr int kMaxInterimAnswers = 8;

bool hasLineBreak(const QByteArray &text)
{
    return text.contains('\n') || text.contains('\r');
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

HttpExchange::HttpExchange(QByteArray method, const QUrl &url, QList<QPair<QByteArray, QByteArray>> headers,
                           QByteArray body, qint64 cap, qint64 readAhead, HttpConnectionPool *connections)
    : m_method(std::move(method)),
      m_url(url),
      m_headers(std::move(headers)),
      m_requestBody(std::move(body)),
      m_cap(cap),
      m_readAhead(readAhead),
      m_connections(connections)
{
}

HttpExchange::~HttpExchange()
{
    delete m_socket.data();
}

void HttpExchange::start()
{
    // From the loop: finished() never comes inside the caller's start().
    QMetaObject::invokeMethod(this, &HttpExchange::begin, Qt::QueuedConnection);
}

void HttpExchange::begin()
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

void HttpExchange::open(bool fresh)
{
    if (fresh) {
        QAbstractSocket *socket = isTlsUrl(m_url) ? new QSslSocket(this) : new QTcpSocket(this);
        socket->setProxy(QNetworkProxy::NoProxy);
        m_socket = socket;
    }
    m_requestLeft = false;
    // The socket takes no more from the system than this ahead of the
    // parser: the rest waits in the kernel, and the sender is held back.
    m_socket->setReadBufferSize(m_readAhead);
    connect(m_socket, &QAbstractSocket::readyRead, this, &HttpExchange::onReadable);
    connect(m_socket, &QAbstractSocket::disconnected, this, &HttpExchange::onClosed);
    // Something left the socket's own buffer (for TLS: was encrypted).
    connect(m_socket, &QIODevice::bytesWritten, this, [this] { m_requestLeft = true; });
    connect(m_socket, &QIODevice::channelBytesWritten, this, [this] { m_requestLeft = true; });
    connect(m_socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        // A kept connection that fails before any answer is treated as
        // closed (onClosed() decides whether the request is asked again).
        if (error == QAbstractSocket::RemoteHostClosedError || (m_reused && !m_anyRead))
            onClosed();
        else if (m_socket)
            fail(m_socket->errorString());
    });
    if (!fresh) {
        send();
        return;
    }
    const quint16 port = quint16(m_url.port(isTlsUrl(m_url) ? 443 : 80));
    // A request goes in one write and is not held back for the peer's
    // acknowledgement of the one before.
    connect(m_socket, &QAbstractSocket::connected, this,
            [this] { m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1); });
    if (auto *tls = qobject_cast<QSslSocket *>(m_socket.data())) {
        connect(tls, &QSslSocket::encrypted, this, &HttpExchange::send);
        tls->connectToHostEncrypted(m_url.host(), port);
    } else {
        connect(m_socket, &QAbstractSocket::connected, this, &HttpExchange::send);
        m_socket->connectToHost(m_url.host(), port);
    }
}

void HttpExchange::send()
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
    // A line break in the method, the target or a header would start a line
    // of its own.
    if (hasLineBreak(m_method) || m_method.contains(' ') || hasLineBreak(target) || target.contains(' ')) {
        fail(QStringLiteral("invalid_url"));
        return;
    }
    // As Qt's own requests say who asks; no compression is asked for.
    QByteArray request = m_method + ' ' + target + " HTTP/1.1\r\nHost: " + host + "\r\nUser-Agent: Mozilla/5.0\r\n";
    for (const auto &header : m_headers) {
        if (hasLineBreak(header.first) || hasLineBreak(header.second)) {
            fail(QStringLiteral("invalid_header"));
            return;
        }
        request += header.first + ": " + header.second + "\r\n";
    }
    if (!m_requestBody.isEmpty() || (m_method != "GET" && m_method != "HEAD" && m_method != "DELETE"))
        request += "Content-Length: " + QByteArray::number(m_requestBody.size()) + "\r\n";
    request += "\r\n";
    // The head and the body in one write, handed to the system now: a kept
    // connection was found open just before (HttpConnectionPool::take), and
    // a write that fails here has sent nothing (see mayAskAgain()).
    request += m_requestBody;
    QAbstractSocket *socket = m_socket;
    socket->write(request);
    socket->flush();
    // Unless the write failed just now, with nothing taken by the system
    // (the connection was closed under it), the server may get the request.
    if (m_socket == socket && !m_finished)
        m_requestLeft = true;
}

void HttpExchange::onReadable()
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
bool HttpExchange::parse()
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

bool HttpExchange::parseHead(qsizetype end)
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
        if (status == 101 || ++m_interimAnswers > kMaxInterimAnswers) {
            fail(QStringLiteral("invalid_response"));
            return false;
        }
        return true; // an interim answer; the real one follows
    }
    m_status = status;
    if (status >= 300 && status < 400)
        m_location = headerValue(lines, "Location");
    const QByteArray connection = headerValue(lines, "Connection").toLower();
    m_keepAlive = statusLine.value(0) == "HTTP/1.1" && !connection.contains("close");
    const QByteArray coding = headerValue(lines, "Transfer-Encoding").toLower();
    const QByteArray length = headerValue(lines, "Content-Length");
    if (status == 204 || status == 304 || m_method == "HEAD") {
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
bool HttpExchange::takeBodyBytes(qint64 count)
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

void HttpExchange::onClosed()
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
    if (mayAskAgain()) {
        // The server closed the kept connection as the request went out:
        // asked again, once, on a new connection.
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

// A kept connection broke before any of the answer came. A GET is asked
// again whatever the server got of it (reading twice changes nothing). A
// request with a body only if none of it left the socket: the server may
// have taken it otherwise, and a send must never go twice.
bool HttpExchange::mayAskAgain() const
{
    if (!m_reused || m_anyRead)
        return false;
    return m_method == "GET" || !m_requestLeft;
}

QByteArray HttpExchange::takeBody()
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

void HttpExchange::abort()
{
    if (m_finished)
        return;
    fail(QStringLiteral("aborted"));
}

void HttpExchange::fail(const QString &error)
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

void HttpExchange::complete()
{
    m_stage = Stage::Done;
    // Bytes past the answer are none the request asked for: the connection goes.
    if (!m_buffer.isEmpty())
        m_keepAlive = false;
    finish();
}

void HttpExchange::finish()
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
