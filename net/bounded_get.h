// A GET read on a socket of its own, for the request runner (http.h).
//
// Qt 6.4 gives a reply's read bound to its HTTP thread only once that thread
// has started the request, and for a request without a body nothing makes
// that thread wait for it: if the thread that made the request is held up
// between the request and its bound (a loaded machine), Qt's HTTP thread
// reads an endless answer unbounded meanwhile, hundreds of megabytes in a
// second. Here the thread that reads the socket is the one that takes the
// answer, and the socket reads no more than a small buffer ahead of it, so
// an answer never costs more than its cap and that buffer, however late
// this thread runs.
//
// Only what the services need: HTTP/1.1, no redirects followed, no
// compression asked for, plain http only where the runner allows it. Idle
// connections are kept per host and used again by the next GET.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QUrl>

class QAbstractSocket;

namespace velmor::net {

class BoundedGet;

// The connections of the GETs: at most six at a time to one host, as Qt
// allows for its own (more GETs wait for one to end), and the idle ones kept
// open for the next. Lives on the network thread and closes them when it goes.
class GetConnections : public QObject
{
public:
    // True when `get` may open or take a connection now; else it is begun
    // again once another GET to the host has ended.
    bool enter(const QUrl &url, BoundedGet *get);
    void leave(const QUrl &url);
    // An open idle connection to the URL's host, or null.
    QAbstractSocket *take(const QUrl &url);
    void giveBack(const QUrl &url, QAbstractSocket *socket);

private:
    struct Idle
    {
        QString key;
        QPointer<QAbstractSocket> socket;
    };
    struct Waiting
    {
        QString key;
        QPointer<BoundedGet> get;
    };
    QList<Idle> m_idle;
    QHash<QString, int> m_busy;
    QList<Waiting> m_waiting;
};

class BoundedGet : public QObject
{
    Q_OBJECT
public:
    BoundedGet(const QUrl &url, QList<QPair<QByteArray, QByteArray>> headers, qint64 cap, qint64 readAhead,
               GetConnections *connections);
    ~BoundedGet() override;

    void start();
    // Ends it now (finished() is emitted); what came is dropped.
    void abort();
    bool isFinished() const { return m_finished; }

    // Once finished: the status (0 before a head came), the whole body of a
    // whole 2xx-5xx answer, and the error ("response_too_large", a transport
    // text, "incomplete_response"); empty on a whole answer.
    int status() const { return m_status; }
    const QString &error() const { return m_error; }
    bool tooLarge() const { return m_tooLarge; }
    QByteArray takeBody();

signals:
    void finished();

private:
    friend class GetConnections;
    enum class Stage { Head, Body, Chunk, ChunkData, ChunkEnd, Trailer, Done };

    void begin();
    void open(bool fresh);
    void send();
    void onReadable();
    void onClosed();
    bool parse();
    bool parseHead(qsizetype end);
    bool takeBodyBytes(qint64 count);
    void fail(const QString &error);
    void complete();
    void finish();

    const QUrl m_url;
    const QList<QPair<QByteArray, QByteArray>> m_headers;
    const qint64 m_cap;
    const qint64 m_readAhead;
    QPointer<GetConnections> m_connections;
    QPointer<QAbstractSocket> m_socket;
    bool m_entered = false; // holds one of the host's places
    bool m_reused = false;
    bool m_anyRead = false;
    bool m_finished = false;
    bool m_tooLarge = false;
    bool m_keepAlive = true;
    Stage m_stage = Stage::Head;
    QByteArray m_buffer;    // read, not yet parsed
    QByteArrayList m_body;  // the body's pieces
    qint64 m_bodySize = 0;
    qint64 m_stated = -1;   // the length the answer stated, if any
    qint64 m_left = -1;     // of the stated length or of the current chunk; -1 up to the close
    int m_status = 0;
    QString m_error;
};

} // namespace velmor::net
