// One request and its answer for the request runner (http.h), over a
// kept-alive connection of the pool (http_connection_pool.h).
//
// Qt 6.4 gives a reply's read bound to its HTTP thread only once that thread
// has started the request: if the thread that made the request is held up
// between the request and its bound (a loaded machine), Qt's HTTP thread
// reads an endless answer unbounded meanwhile, hundreds of megabytes in a
// second. Here the thread that reads the socket is the one that takes the
// answer, and the socket reads no more than a small buffer ahead of it, so
// an answer never costs more than its cap and that buffer, however late
// this thread runs.
//
// Only what the services need: HTTP/1.1, no redirects followed, no
// compression asked for, plain http only where the runner allows it.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QUrl>

class QAbstractSocket;

namespace velmor::net {

class HttpConnectionPool;

class HttpExchange : public QObject
{
    Q_OBJECT
public:
    // `headers` go as given; the Host, and the Content-Length of a request
    // with a body (or a method that carries one), are added here.
    HttpExchange(QByteArray method, const QUrl &url, QList<QPair<QByteArray, QByteArray>> headers, QByteArray body,
                 qint64 cap, qint64 readAhead, HttpConnectionPool *connections);
    ~HttpExchange() override;

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
    // A 3xx answer's Location, as sent; empty for any other.
    const QByteArray &location() const { return m_location; }
    QByteArray takeBody();

signals:
    void finished();

private:
    friend class HttpConnectionPool;
    enum class Stage { Head, Body, Chunk, ChunkData, ChunkEnd, Trailer, Done };

    void begin();
    void open(bool fresh);
    void send();
    void onReadable();
    void onClosed();
    bool mayAskAgain() const;
    bool parse();
    bool parseHead(qsizetype end);
    bool takeBodyBytes(qint64 count);
    void fail(const QString &error);
    void complete();
    void finish();

    const QByteArray m_method;
    const QUrl m_url;
    const QList<QPair<QByteArray, QByteArray>> m_headers;
    const QByteArray m_requestBody;
    const qint64 m_cap;
    const qint64 m_readAhead;
    QPointer<HttpConnectionPool> m_connections;
    QPointer<QAbstractSocket> m_socket;
    bool m_entered = false; // holds one of the host's places
    bool m_reused = false;  // the connection is a kept one
    bool m_anyRead = false;
    bool m_requestLeft = false; // some of the request may have reached the server
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
    int m_interimAnswers = 0;
    QString m_error;
    QByteArray m_location;
};

} // namespace velmor::net
