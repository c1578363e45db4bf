#include "net/http.h"

#include "net/answer_json.h"

#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <utility>

#include <QCoreApplication>
#include <QEventLoop>
#include <QMutex>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QThread>
#include <QTimer>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace velmor::net {

namespace {

// What Qt may hold of one answer before this thread has taken it.
constexpr qint64 kReadBufferBytes = 256 * 1024;

// One manager per thread: QNetworkAccessManager is not thread-safe, and pool
// threads come and go. The manager is deleted from the thread's own finished
// signal so that it dies on the thread it belongs to; the main thread's
// manager simply lives until exit.
QNetworkAccessManager *threadManager()
{
    thread_local QNetworkAccessManager *manager = nullptr;
    if (!manager) {
        manager = new QNetworkAccessManager();
        // The services are reached directly; a proxy picked up from the
        // environment would otherwise swallow loopback traffic in tests.
        manager->setProxy(QNetworkProxy::NoProxy);
        QNetworkAccessManager *created = manager;
        QThread *thread = QThread::currentThread();
        QObject::connect(thread, &QThread::finished, created,
                         [created]() {
                             if (manager == created)
                                 manager = nullptr;
                             delete created;
                         },
                         Qt::DirectConnection);
    }
    return manager;
}

bool isLoopbackHost(const QString &hostIn)
{
    QString host = hostIn.trimmed().toLower();
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    if (host == QLatin1String("localhost"))
        return true;
    QHostAddress address;
    if (!address.setAddress(host))
        return false;
    return address.isLoopback();
}

} // namespace

QJsonObject HttpResponse::json() const
{
    return readBoundedObject(body);
}

qint64 jsonInteger(const QJsonValue &value)
{
    if (value.isDouble()) {
        // Whole numbers that fit come back exactly, also beyond 2^53; other
        // finite numbers are cut to their integer part. Converting a double
        // outside the 64-bit range is undefined, so those give 0.
        constexpr qint64 notWhole = std::numeric_limits<qint64>::min();
        const qint64 exact = value.toInteger(notWhole);
        if (exact != notWhole)
            return exact;
        const double number = value.toDouble();
        if (!std::isfinite(number) || number >= 9.2e18 || number <= -9.2e18)
            return 0;
        return qint64(number);
    }
    if (value.isString()) {
        bool ok = false;
        const qint64 number = value.toString().trimmed().toLongLong(&ok);
        return ok ? number : 0;
    }
    return 0;
}

bool isAllowedEndpoint(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https") || scheme == QLatin1String("wss"))
        return true;
    if (scheme == QLatin1String("http") || scheme == QLatin1String("ws"))
        return isLoopbackHost(url.host());
    return false;
}

QString normaliseBaseUrl(const QString &url)
{
    QString text = url.trimmed();
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    if (text.isEmpty())
        return {};
    const QUrl parsed(text, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || parsed.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return {};
    return text;
}

QUrl endpoint(const QString &baseUrl, const QString &path)
{
    const QString base = normaliseBaseUrl(baseUrl);
    if (base.isEmpty())
        return {};
    QString tail = path;
    if (!tail.isEmpty() && !tail.startsWith(QLatin1Char('/')))
        tail.prepend(QLatin1Char('/'));
    return QUrl(base + tail);
}

namespace {

// The body of an answer as it comes: in one buffer of the stated length
// when the answer states one, else in the pieces read, joined once whole.
// Either way nothing is copied while it grows (a doubling buffer would
// briefly hold twice the cap), and what an answer over the cap brought is
// given back at once.
class Body
{
public:
    qint64 size() const { return m_size; }
    void expect(qint64 length) { m_whole.reserve(length); }
    void append(QByteArray piece)
    {
        m_size += piece.size();
        if (m_whole.capacity() >= m_size)
            m_whole += piece;
        else
            m_pieces.append(std::move(piece));
    }
    QByteArray take()
    {
        QByteArray out;
        if (m_pieces.isEmpty()) {
            out = std::move(m_whole);
        } else if (m_whole.isEmpty() && m_pieces.size() == 1) {
            out = std::move(m_pieces.first());
        } else {
            // Joined piece by piece, each freed once copied: the body is
            // never held twice over.
            out.reserve(m_size);
            out += std::exchange(m_whole, QByteArray());
            for (QByteArray &piece : m_pieces)
                out += std::exchange(piece, QByteArray());
        }
        drop();
        return out;
    }
    void drop()
    {
        m_whole = QByteArray();
        m_pieces = QByteArrayList();
        m_size = 0;
    }

private:
    QByteArray m_whole;
    QByteArrayList m_pieces;
    qint64 m_size = 0;
};

// Memory freed after an answer over the cap goes back to the system: the
// allocator would otherwise keep tens of megabytes per thread that read one.
void releaseFreedMemory()
{
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

// One request in flight: its reply, the body read so far and how it ended.
struct Pending
{
    const HttpRequest *request = nullptr;
    QNetworkReply *reply = nullptr;
    QTimer *deadline = nullptr;
    Body body;
    qint64 cap = kMaxResponseBytes;
    bool timedOut = false;
    bool tooLarge = false;
    bool aborted = false; // by abortRequests()
    bool finished = false; // the reply said so
    bool done = false;     // the response is filled in
    HttpResponse response;
};

// Checks the request and starts it; false with response.error set when it
// must not or cannot be sent.
bool startRequest(Pending &pending, QNetworkAccessManager *manager)
{
    const HttpRequest &request = *pending.request;
    HttpResponse &response = pending.response;
    if (!request.url.isValid() || request.url.host().isEmpty()) {
        response.error = QStringLiteral("invalid_url");
        return false;
    }
    if (!isAllowedEndpoint(request.url)) {
        response.error = QStringLiteral("insecure_endpoint");
        return false;
    }
    const QString scheme = request.url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        response.error = QStringLiteral("invalid_url");
        return false;
    }

    QNetworkRequest networkRequest(request.url);
    // The services never redirect: a redirect is returned as the answer it
    // is, so that neither the request nor its bearer token goes to another
    // host, nor past the loopback-only rule for plain http.
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (!request.body.isEmpty() || request.method.toUpper() != "GET")
        networkRequest.setHeader(QNetworkRequest::ContentTypeHeader, request.contentType);
    networkRequest.setRawHeader("Accept", "application/json");
    if (!request.bearerToken.isEmpty())
        networkRequest.setRawHeader("Authorization", "Bearer " + request.bearerToken.toUtf8());
    for (const auto &header : request.headers)
        networkRequest.setRawHeader(header.first, header.second);

    const QByteArray method = request.method.toUpper();
    if (method == "GET")
        pending.reply = manager->get(networkRequest);
    else if (method == "POST")
        pending.reply = manager->post(networkRequest, request.body);
    else if (method == "PUT")
        pending.reply = manager->put(networkRequest, request.body);
    else if (method == "DELETE" && request.body.isEmpty())
        pending.reply = manager->deleteResource(networkRequest);
    else
        pending.reply = manager->sendCustomRequest(networkRequest, method, request.body);
    if (!pending.reply) {
        response.error = QStringLiteral("request_failed");
        return false;
    }
    pending.cap = request.maxResponseBytes > 0 ? request.maxResponseBytes : kMaxResponseBytes;
    // Without a bound Qt's network thread reads as fast as the peer sends and
    // queues it all for this thread; bounded, it stops reading from the
    // socket until the body read so far has been taken.
    const qint64 bound = qMin<qint64>(pending.cap + 1, kReadBufferBytes);
    QNetworkReply *reply = pending.reply;
    reply->setReadBufferSize(bound);
    // Qt 6.4 passes the bound on to its network thread only once the
    // request has started there, which for a request with a body (every
    // POST) is after this call: there the bound set now is lost, and that
    // thread reads an endless answer as fast as it comes (gigabytes). Given
    // again from this thread's loop, and when a connection starts or the
    // request has gone, it reaches the request before the answer is read.
    const auto bindAgain = [reply, bound] { reply->setReadBufferSize(bound); };
    QMetaObject::invokeMethod(reply, bindAgain, Qt::QueuedConnection);
    QObject::connect(reply, &QNetworkReply::socketStartedConnecting, reply, bindAgain);
    QObject::connect(reply, &QNetworkReply::requestSent, reply, bindAgain);
    return true;
}

// A failure of the transport rather than an HTTP status: the connection or
// the exchange broke, so whatever body came is not the whole answer. (Qt
// gives some HTTP statuses codes of the protocol range, 400 for one, so
// only its outright protocol failure counts from there.)
bool isTransportError(QNetworkReply::NetworkError error)
{
    const int code = int(error);
    return (code >= 1 && code < 200) || error == QNetworkReply::ProtocolFailure;
}

// The body is shorter or longer than the length the answer stated (only
// checkable when the body was not decoded from a compressed transfer).
bool bodyDisagreesWithLength(const QNetworkReply *reply, qint64 received)
{
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (!length.isValid() || reply->hasRawHeader("Content-Encoding"))
        return false;
    return length.toLongLong() != received;
}

void finishRequest(Pending &pending)
{
    QNetworkReply *reply = pending.reply;
    HttpResponse &response = pending.response;
    if (!pending.tooLarge && !pending.timedOut && !pending.aborted) {
        if (pending.body.size() + reply->bytesAvailable() > pending.cap)
            pending.tooLarge = true;
        else
            pending.body.append(reply->readAll());
    }
    if (pending.aborted) {
        response.error = QStringLiteral("aborted");
    } else if (pending.timedOut) {
        response.error = QStringLiteral("timeout");
    } else if (pending.tooLarge) {
        response.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        response.error = QStringLiteral("response_too_large");
    } else {
        response.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (response.status == 0 || isTransportError(reply->error())
            || bodyDisagreesWithLength(reply, pending.body.size())) {
            // Cut short: the status stays for the log, the partial body
            // goes, and the request has failed whatever the status said.
            response.error = reply->error() != QNetworkReply::NoError ? reply->errorString()
                                                                      : QStringLiteral("incomplete_response");
            if (response.error.isEmpty())
                response.error = QStringLiteral("network_error");
        } else {
            response.body = pending.body.take();
            response.success = response.status >= 200 && response.status < 300;
        }
    }
    pending.body.drop();
    // A pool thread has no running loop to process a deferred delete.
    reply->disconnect();
    delete reply;
    pending.reply = nullptr;
    pending.done = true;
    if (pending.tooLarge)
        releaseFreedMemory();
}

thread_local int guiWorkDepth = 0;

// The event loops of the requests in flight, each with what aborts its
// requests (run on the loop's own thread), for abortRequests().
std::atomic<bool> g_aborting{false};
QMutex g_loopsMutex;
QList<QPair<QEventLoop *, std::function<void()>>> g_loops;

// Registers the loop for as long as it lives.
class AbortableLoop
{
public:
    AbortableLoop(QEventLoop &loop, std::function<void()> abort) : m_loop(loop)
    {
        QMutexLocker lock(&g_loopsMutex);
        g_loops.append({&m_loop, std::move(abort)});
    }
    ~AbortableLoop()
    {
        QMutexLocker lock(&g_loopsMutex);
        g_loops.removeIf([this](const auto &entry) { return entry.first == &m_loop; });
    }
    AbortableLoop(const AbortableLoop &) = delete;
    AbortableLoop &operator=(const AbortableLoop &) = delete;

private:
    QEventLoop &m_loop;
};

} // namespace

GuiThreadWork::GuiThreadWork()
{
    ++guiWorkDepth;
}

GuiThreadWork::~GuiThreadWork()
{
    --guiWorkDepth;
}

bool onGuiThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return false;
    return guiWorkDepth > 0 || app->inherits("QGuiApplication");
}

QList<HttpResponse> runHttpParallel(const QList<HttpRequest> &requests)
{
#ifdef PELORIN_CHECK_BLOCKING_CALLS
    if (onGuiThread())
        qFatal("blocking network call on the GUI thread: %s",
               requests.isEmpty() ? "" : qPrintable(requests.first().url.toString(QUrl::RemoveQuery)));
#endif
    QList<Pending> pendings(requests.size());
    if (g_aborting.load()) {
        QList<HttpResponse> aborted(requests.size());
        for (HttpResponse &response : aborted)
            response.error = QStringLiteral("aborted");
        return aborted;
    }
    QNetworkAccessManager *manager = threadManager();
    QEventLoop loop;
    int running = 0;
    // Run on this thread, from its loop, when abortRequests() is called (a
    // loop gone by then drops the call with its events).
    const auto abortAll = [&pendings] {
        for (Pending &p : pendings) {
            if (p.reply && !p.reply->isFinished()) {
                p.aborted = true;
                p.reply->abort();
            }
        }
    };
    const AbortableLoop abortable(loop, abortAll);

    for (qsizetype i = 0; i < requests.size(); ++i) {
        Pending &pending = pendings[i];
        pending.request = &requests[i];
        if (!startRequest(pending, manager)) {
            pending.done = true;
            continue;
        }
        ++running;
        Pending *p = &pending;
        p->deadline = new QTimer(&loop);
        p->deadline->setSingleShot(true);
        QObject::connect(p->deadline, &QTimer::timeout, &loop, [p]() {
            if (p->reply && !p->reply->isFinished()) {
                p->timedOut = true;
                p->reply->abort();
            }
        });
        // A stated length over the cap is refused with the headers, before
        // any of the body is read.
        QObject::connect(p->reply, &QNetworkReply::metaDataChanged, &loop, [p]() {
            const QVariant length = p->reply ? p->reply->header(QNetworkRequest::ContentLengthHeader) : QVariant();
            if (!p->tooLarge && length.isValid() && length.toLongLong() > p->cap) {
                p->tooLarge = true;
                p->reply->abort();
            }
        });
        QObject::connect(p->reply, &QNetworkReply::readyRead, &loop, [p]() {
            if (p->tooLarge || !p->reply)
                return;
            const QVariant length = p->reply->header(QNetworkRequest::ContentLengthHeader);
            if (length.isValid() && length.toLongLong() > p->cap) {
                p->tooLarge = true;
                p->reply->abort();
                return;
            }
            if (p->body.size() == 0 && length.isValid() && !p->reply->hasRawHeader("Content-Encoding"))
                p->body.expect(length.toLongLong());
            // Judged before it is taken: a body over the cap is never held,
            // and the answer ends at the first piece past it.
            if (p->body.size() + p->reply->bytesAvailable() > p->cap) {
                p->tooLarge = true;
                p->body.drop();
                p->reply->abort();
                return;
            }
            p->body.append(p->reply->readAll());
        });
        // The reply is read and deleted only after the loop: deleting it from
        // its own finished signal would pull it away under its emitter.
        QObject::connect(p->reply, &QNetworkReply::finished, &loop, [p, &running, &loop]() {
            if (p->finished)
                return;
            p->finished = true;
            p->deadline->stop();
            if (--running == 0)
                loop.quit();
        });
        p->deadline->start(qMax(1, pending.request->timeoutMs));
    }

    // Replies that failed at once (refused connections) may already be
    // finished before the loop starts; their finished signal is still queued.
    // An abort that came before this loop was registered: from the loop, as
    // abortRequests() would (an aborted reply says it finished at once).
    if (g_aborting.load())
        QMetaObject::invokeMethod(&loop, abortAll, Qt::QueuedConnection);
    if (running > 0)
        loop.exec(QEventLoop::ExcludeUserInputEvents);

    QList<HttpResponse> responses;
    responses.reserve(pendings.size());
    for (Pending &pending : pendings) {
        if (!pending.done && pending.reply)
            finishRequest(pending);
        responses.append(pending.response);
    }
    return responses;
}

void abortRequests()
{
    g_aborting.store(true);
    QMutexLocker lock(&g_loopsMutex);
    for (const auto &[loop, abort] : g_loops)
        QMetaObject::invokeMethod(loop, abort, Qt::QueuedConnection);
}

HttpResponse runHttp(const HttpRequest &request)
{
    return runHttpParallel(QList<HttpRequest>{request}).value(0);
}

HttpResponse getJson(const QUrl &url, const QString &bearerToken, int timeoutMs)
{
    HttpRequest request;
    request.method = "GET";
    request.url = url;
    request.bearerToken = bearerToken;
    request.timeoutMs = timeoutMs;
    return runHttp(request);
}

HttpResponse postJson(const QUrl &url, const QJsonObject &body, const QString &bearerToken,
                      int timeoutMs)
{
    HttpRequest request;
    request.method = "POST";
    request.url = url;
    request.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    request.bearerToken = bearerToken;
    request.timeoutMs = timeoutMs;
    return runHttp(request);
}

} // namespace velmor::net
