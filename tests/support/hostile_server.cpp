#include "support/hostile_server.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace velmor::fakes {

namespace {

// Bounds of every loop: no connection is served longer or sends more.
constexpr qint64 kMaxConnectionMs = 30000;
constexpr qint64 kMaxBytesPerConnection = qint64(2) * 1024 * 1024 * 1024;
constexpr int kPollMs = 50;

// Waits until the socket is readable (or writable); false on the deadline,
// a stop or an error.
bool waitFor(int fd, short events, const std::atomic<bool> &stop, const QElapsedTimer &clock)
{
    while (!stop.load() && clock.elapsed() < kMaxConnectionMs) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, kPollMs);
        if (n > 0)
            return (p.revents & events) != 0;
        if (n < 0 && errno != EINTR)
            return false;
    }
    return false;
}

// Everything or nothing; false once the client has gone.
bool sendAll(int fd, const QByteArray &data, const std::atomic<bool> &stop, const QElapsedTimer &clock)
{
    qsizetype done = 0;
    while (done < data.size()) {
        if (!waitFor(fd, POLLOUT, stop, clock))
            return false;
        const ssize_t n = ::send(fd, data.constData() + done, size_t(data.size() - done), MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Reads until the blank line that ends an HTTP head, and the body its
// Content-Length states (read, so that closing sends no reset that could
// overtake the answer); the head, empty on failure.
QByteArray readRequest(int fd, const std::atomic<bool> &stop, const QElapsedTimer &clock);

QByteArray readHead(int fd, const std::atomic<bool> &stop, const QElapsedTimer &clock)
{
    QByteArray head;
    char buffer[4096];
    while (!head.contains("\r\n\r\n") && head.size() < 64 * 1024) {
        if (!waitFor(fd, POLLIN, stop, clock))
            return {};
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return {};
        head.append(buffer, n);
    }
    return head;
}

QByteArray headerValue(const QByteArray &head, const QByteArray &name)
{
    for (const QByteArray &line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

QByteArray readRequest(int fd, const std::atomic<bool> &stop, const QElapsedTimer &clock)
{
    QByteArray head = readHead(fd, stop, clock);
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0)
        return {};
    qint64 left = headerValue(head.left(end), "Content-Length").toLongLong() - (head.size() - end - 4);
    char buffer[4096];
    while (left > 0) {
        if (!waitFor(fd, POLLIN, stop, clock))
            return {};
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return {};
        left -= n;
    }
    return head;
}

QByteArray upgradeAnswer(const QByteArray &head)
{
    const QByteArray key = headerValue(head, "Sec-WebSocket-Key");
    const QByteArray accept =
        QCryptographicHash::hash(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11", QCryptographicHash::Sha1).toBase64();
    return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Accept: "
           + accept + "\r\n\r\n";
}

// A server frame (never masked) header for `length` payload bytes.
QByteArray frameHeader(quint8 firstByte, quint64 length)
{
    QByteArray h;
    h.append(char(firstByte));
    if (length < 126) {
        h.append(char(length));
    } else if (length <= 0xffff) {
        h.append(char(126));
        h.append(char(length >> 8));
        h.append(char(length & 0xff));
    } else {
        h.append(char(127));
        for (int shift = 56; shift >= 0; shift -= 8)
            h.append(char((length >> shift) & 0xff));
    }
    return h;
}

} // namespace

HostileServer::HostileServer(Behaviour behaviour, const QByteArray &text)
    : m_behaviour(behaviour), m_text(text)
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(m_listenFd, 8) != 0
        || ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        ::close(m_listenFd);
        m_listenFd = -1;
        return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
}

HostileServer::~HostileServer()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

QString HostileServer::httpUrl(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

QString HostileServer::wsUrl(const QString &path) const
{
    return QStringLiteral("ws://127.0.0.1:%1%2").arg(m_port).arg(path.isEmpty() ? QStringLiteral("/") : path);
}

QByteArray HostileServer::lastRequestHead() const
{
    std::lock_guard<std::mutex> lock(m_headMutex);
    return m_lastHead;
}

void HostileServer::serve()
{
    while (!m_stop.load()) {
        pollfd p{m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0)
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            continue;
        ++m_connections;
        m_peerClosed = false;
        handle(fd);
        ::close(fd);
    }
}

void HostileServer::handle(int fd)
{
    QElapsedTimer clock;
    clock.start();
    const bool scripted = m_behaviour == Behaviour::Scripted || m_behaviour == Behaviour::ScriptedThenFiller
        || m_behaviour == Behaviour::EndlessInterim || m_behaviour == Behaviour::SaysCloseStaysOpen;
    const QByteArray head = scripted ? readRequest(fd, m_stop, clock) : readHead(fd, m_stop, clock);
    if (head.isEmpty())
        return;
    ++m_requests;
    {
        std::lock_guard<std::mutex> lock(m_headMutex);
        m_lastHead = head.left(head.indexOf("\r\n\r\n"));
    }
    auto count = [this](qint64 n) { m_sent += n; };
    // Reads and discards what the client sends until it closes; counts
    // pings among the client's frames (a frame header is taken whole from
    // one read, which holds for the small control frames clients send).
    auto drainUntilClosed = [&]() {
        char buffer[4096];
        while (waitFor(fd, POLLIN, m_stop, clock)) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                m_peerClosed = true;
                return;
            }
            for (ssize_t i = 0; i + 1 < n; ++i) {
                if ((quint8(buffer[i]) & 0x8f) == 0x89 && (quint8(buffer[i + 1]) & 0x80)) {
                    ++m_pings;
                    i += 1 + 4 + (buffer[i + 1] & 0x7f);
                }
            }
        }
    };

    Behaviour behaviour = m_behaviour;
    if (behaviour == Behaviour::RedirectThenEndless) {
        if (m_connections.load() == 1) {
            sendAll(fd, "HTTP/1.1 302 Found\r\nLocation: " + m_text + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n",
                    m_stop, clock);
            return;
        }
        behaviour = Behaviour::EndlessChunked;
    }
    switch (behaviour) {
    case Behaviour::RedirectThenEndless:
        return;
    case Behaviour::Drip: {
        if (!sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nTransfer-Encoding: chunked\r\n\r\n", m_stop,
                     clock))
            return;
        const QByteArray piece = "10\r\n" + QByteArray(16, 'd') + "\r\n";
        char buffer[4096];
        while (!m_stop.load() && clock.elapsed() < kMaxConnectionMs) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 100) > 0) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                    m_peerClosed = true;
                    return;
                }
                continue;
            }
            if (!sendAll(fd, piece, m_stop, clock)) {
                m_peerClosed = !m_stop.load();
                return;
            }
            count(16);
        }
        return;
    }
    case Behaviour::ShortBody: {
        const QByteArray body(100, 'i');
        if (sendAll(fd,
                    "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: 500000\r\n"
                    "Connection: close\r\n\r\n"
                        + body,
                    m_stop, clock))
            count(body.size());
        return;
    }
    case Behaviour::KeptThenEndless:
    case Behaviour::KeptThenDropped: {
        if (!sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n{}", m_stop,
                     clock))
            return;
        // Up to the end of the next request's head (request bodies here
        // are JSON, without blank lines).
        QByteArray seen = head.mid(head.indexOf("\r\n\r\n") + 4);
        char buffer[4096];
        while (!seen.contains("\r\n\r\n") && seen.size() < 1024 * 1024) {
            if (!waitFor(fd, POLLIN, m_stop, clock))
                return;
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return;
            seen.append(buffer, n);
        }
        ++m_requests;
        if (m_behaviour == Behaviour::KeptThenDropped)
            return;
        [[fallthrough]];
    }
    case Behaviour::EndlessChunked: {
        if (!sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n",
                     m_stop, clock))
            return;
        const QByteArray chunk = "10000\r\n" + QByteArray(0x10000, ' ') + "\r\n";
        while (m_sent.load() < kMaxBytesPerConnection && sendAll(fd, chunk, m_stop, clock))
            count(0x10000);
        m_peerClosed = true;
        return;
    }
    case Behaviour::EndlessUnsized:
    case Behaviour::FalseLength: {
        const QByteArray length = m_behaviour == Behaviour::FalseLength ? "Content-Length: 10000000000\r\n" : "";
        if (!sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n" + length + "Connection: close\r\n\r\n",
                     m_stop, clock))
            return;
        const QByteArray slice(0x10000, ' ');
        while (m_sent.load() < kMaxBytesPerConnection && sendAll(fd, slice, m_stop, clock))
            count(slice.size());
        m_peerClosed = true;
        return;
    }
    case Behaviour::Redirect:
        sendAll(fd, "HTTP/1.1 302 Found\r\nLocation: " + m_text + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n",
                m_stop, clock);
        return;
    case Behaviour::Record:
        sendAll(fd,
                "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}",
                m_stop, clock);
        return;
    case Behaviour::Scripted:
        // The close is the server's half only: the client reads all of it.
        if (sendAll(fd, m_text, m_stop, clock))
            ::shutdown(fd, SHUT_WR);
        drainUntilClosed();
        return;
    case Behaviour::ScriptedThenFiller:
    case Behaviour::EndlessInterim: {
        const bool interim = m_behaviour == Behaviour::EndlessInterim;
        if (!interim && !sendAll(fd, m_text, m_stop, clock))
            return;
        const QByteArray slice = interim ? QByteArray("HTTP/1.1 100 Continue\r\n\r\n").repeated(2048)
                                         : QByteArray(0x10000, 'a');
        while (m_sent.load() < kMaxBytesPerConnection && sendAll(fd, slice, m_stop, clock))
            count(slice.size());
        m_peerClosed = true;
        return;
    }
    case Behaviour::SaysCloseStaysOpen:
        if (sendAll(fd,
                    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 2\r\n"
                    "Connection: close\r\n\r\n{}",
                    m_stop, clock))
            drainUntilClosed();
        return;
    case Behaviour::SilentUpgrade:
        drainUntilClosed();
        return;
    case Behaviour::SilentAfterUpgrade:
        if (sendAll(fd, upgradeAnswer(head), m_stop, clock))
            drainUntilClosed();
        return;
    case Behaviour::HugeFrame: {
        constexpr quint64 kAnnounced = quint64(1) << 30;
        if (!sendAll(fd, upgradeAnswer(head) + frameHeader(0x81, kAnnounced), m_stop, clock))
            return;
        const QByteArray slice(0x10000, 'f');
        while (quint64(m_sent.load()) < kAnnounced && sendAll(fd, slice, m_stop, clock))
            count(slice.size());
        m_peerClosed = true;
        return;
    }
    case Behaviour::EndlessMessage: {
        const QByteArray slice(0x10000, 'm');
        // A first text fragment, then continuation fragments, none final.
        if (!sendAll(fd, upgradeAnswer(head) + frameHeader(0x01, quint64(slice.size())) + slice, m_stop, clock))
            return;
        count(slice.size());
        const QByteArray fragment = frameHeader(0x00, quint64(slice.size())) + slice;
        while (m_sent.load() < kMaxBytesPerConnection && sendAll(fd, fragment, m_stop, clock))
            count(slice.size());
        m_peerClosed = true;
        return;
    }
    }
}

} // namespace velmor::fakes
