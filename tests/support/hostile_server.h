// A misbehaving server on 127.0.0.1 for the transport tests: HTTP answers cut
// short, endless or redirected, and WebSocket peers that never finish the
// upgrade, fall silent, or send frames and messages without end. It speaks
// raw sockets on its own thread (Qt's servers would behave), one connection
// at a time, and every loop of it is bounded in bytes and time.
#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <mutex>
#include <thread>

namespace velmor::fakes {

class HostileServer
{
public:
    enum class Behaviour {
        ShortBody,          // 200, Content-Length 500000, 100 bytes, close
        EndlessChunked,     // 200, chunked, chunks as fast as the peer takes them
        EndlessUnsized,     // 200, neither length nor chunks: a body up to the close, which never comes
        FalseLength,        // 200, Content-Length of 10 GB, then a body as fast as the peer takes it
        KeptThenEndless,    // 200 {} kept alive, then to the next request on that connection as EndlessChunked
        KeptThenDropped,    // 200 {} kept alive, then reads the next request on that connection and closes it
        Redirect,           // 302 to `text`
        Record,             // 200 {} and keeps the request head
        SilentUpgrade,      // reads the WebSocket upgrade, never answers
        SilentAfterUpgrade, // completes the upgrade, then never sends (nor pongs)
        HugeFrame,          // completes the upgrade, then one text frame of 1 GiB
        EndlessMessage,     // completes the upgrade, then one message of endless 64 KiB fragments
        Scripted,           // `text` as the whole answer to the first request, then closes
        ScriptedThenFiller, // `text`, then 'a' without end and without a line break
        EndlessInterim,     // "100 Continue" interim answers without end
        SaysCloseStaysOpen, // 200 {} with "Connection: close", then answers nothing more on that connection
        RedirectThenEndless, // 302 to `text` (closing), then to the next connection as EndlessChunked
        Drip,                // 200, chunked, 16 bytes every 100 ms until the client closes
    };

    // `text`: the redirect's target (Redirect, RedirectThenEndless), or the answer's bytes
    // (Scripted, ScriptedThenFiller).
    explicit HostileServer(Behaviour behaviour, const QByteArray &text = {});
    ~HostileServer();
    HostileServer(const HostileServer &) = delete;
    HostileServer &operator=(const HostileServer &) = delete;

    quint16 port() const { return m_port; }
    QString httpUrl(const QString &path = QString()) const;
    QString wsUrl(const QString &path = QString()) const;

    int connections() const { return m_connections.load(); }
    // Request heads read whole.
    int requests() const { return m_requests.load(); }
    // Payload bytes written so far (body, chunks or frame data).
    qint64 bytesSent() const { return m_sent.load(); }
    // WebSocket ping frames read from the client.
    int pingsSeen() const { return m_pings.load(); }
    // Whether the current or last connection has been closed by the client.
    bool peerClosed() const { return m_peerClosed.load(); }
    // The head of the last request (Record), lines as sent.
    QByteArray lastRequestHead() const;

private:
    void serve();
    void handle(int fd);

    Behaviour m_behaviour;
    QByteArray m_text;
    int m_listenFd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_requests{0};
    std::atomic<qint64> m_sent{0};
    std::atomic<int> m_pings{0};
    std::atomic<bool> m_peerClosed{false};
    mutable std::mutex m_headMutex;
    QByteArray m_lastHead;
    std::thread m_thread;
};

} // namespace velmor::fakes
