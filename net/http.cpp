#include "net/http.h"

#include "net/answer_json.h"
#include "net/bounded_get.h"
#include "net/network_thread.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

#include <QCoreApplication>
#include <QEventLoop>
#include <QMutex>
#include <QHostAddress>
#include <QIODevice>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QTimer>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace velmor::net {

namespace {

// What Qt may hold of one answer before the network thread has taken it.
constexpr qint64 kReadBufferBytes = 256 * 1024;

// How long a quit waits for the network thread to end its requests.
constexpr int kNetworkStopWaitMs = 300;

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
    BoundedGet *get = nullptr; // a GET runs on a socket of its own (bounded_get.h)
    QTimer *deadline = nullptr;
    Body body;
    qint64 cap = kMaxResponseBytes;
    bool timedOut = false;
    bool tooLarge = false;
    bool aborted = false; // by abortRequests()
    bool finished = false; // the reply said so
    bool done = false;     // the response is filled in
    qint64 bound = kReadBufferBytes; // what Qt may read ahead of the reader
    bool boundAgain = false;
    HttpResponse response;
};

// A short answer (a send's, a fan-out's) gets its bound again only once it
// may outgrow the bound: one of no stated length or of more, or one that
// has. Given then, the bound reaches Qt's HTTP thread while it reads the
// answer, which is safe for the kept-alive connection (see BodyAfterBound).
void boundAgainIfLarge(Pending *p, qint64 stated, qint64 read)
{
    if (p->boundAgain || !p->reply || (stated >= 0 && stated <= p->bound && read <= p->bound))
        return;
    p->boundAgain = true;
    p->reply->setReadBufferSize(p->bound);
}

// How long the body is held after the bound was given (see BodyAfterBound).
constexpr int kBodyHoldMs = 2;

// The body of a request whose answer may be large (a pull, a login, a
// group-server call that returns data), handed to Qt when it asks for it.
//
// Qt 6.4 passes a reply's read bound on to its HTTP thread only once the
// request has started there, which for a request with a body is after the
// bound was set at the post: it is lost, and that thread reads an endless
// answer as fast as it comes (gigabytes), too busy to hear the abort. The
// HTTP thread asks for the body once it has started the request, so the
// bound is given again at that first ask: it reaches the HTTP thread before
// the body does, and so before any answer can come, however long this
// thread then takes to read.
//
// Taking the bound, Qt's HTTP thread schedules a read of the request's
// connection. Should that read run after the body has gone and the answer
// is in (a server on this machine answers within microseconds), it takes
// the whole answer ahead of the read Qt schedules for it, which then finds
// no request and closes the kept-alive connection. So the body is held back
// a moment, for that read to run while the request still waits for its
// body. Held too briefly on a busy machine, the cost is a new connection
// for the next request, never an unbounded read; over a real network the
// answer cannot come that soon.
class BodyAfterBound : public QIODevice
{
public:
    BodyAfterBound(QByteArray body, qint64 bound) : m_body(std::move(body)), m_bound(bound)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    // Qt asks for the body only from the event loop, after the reply exists.
    void giveTo(QNetworkReply *reply)
    {
        setParent(reply);
        m_reply = reply;
    }
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_body.size(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (m_holding)
            return 0;
        if (!m_boundGiven && m_reply) {
            m_boundGiven = true;
            m_holding = true;
            m_reply->setReadBufferSize(m_bound);
            QTimer::singleShot(kBodyHoldMs, Qt::PreciseTimer, this, [this] {
                m_holding = false;
                emit readyRead();
            });
            return 0;
        }
        const qint64 count = qBound<qint64>(0, m_body.size() - pos(), maxSize);
        std::memcpy(data, m_body.constData() + pos(), size_t(count));
        return count;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    const QByteArray m_body;
    QNetworkReply *m_reply = nullptr;
    const qint64 m_bound;
    bool m_boundGiven = false;
    bool m_holding = false;
};

std::function<void()> &requestStartedHook()
{
    static std::function<void()> hook;
    return hook;
}

void runRequestStartedHook()
{
    if (const std::function<void()> &hook = requestStartedHook())
        hook();
}

// Checks the request and starts it; false with response.error set when it
// must not or cannot be sent.
bool startRequest(Pending &pending, const NetworkManagers &managers)
{
    QNetworkAccessManager *manager = managers.keptAlive;
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
    const QByteArray method = request.method.toUpper();
    if (!request.body.isEmpty() || method != "GET")
        networkRequest.setHeader(QNetworkRequest::ContentTypeHeader, request.contentType);
    networkRequest.setRawHeader("Accept", "application/json");
    if (!request.bearerToken.isEmpty())
        networkRequest.setRawHeader("Authorization", "Bearer " + request.bearerToken.toUtf8());
    for (const auto &header : request.headers)
        networkRequest.setRawHeader(header.first, header.second);

    pending.cap = request.maxResponseBytes > 0 ? request.maxResponseBytes : kMaxResponseBytes;
    if (method == "GET" && request.body.isEmpty()) {
        // Started by the caller once it listens (see BoundedGet).
        QList<QPair<QByteArray, QByteArray>> headers{{"Accept", "application/json"}};
        if (!request.bearerToken.isEmpty())
            headers.append({"Authorization", "Bearer " + request.bearerToken.toUtf8()});
        headers += request.headers;
        pending.get = new BoundedGet(request.url, headers, pending.cap, kReadBufferBytes, managers.gets);
        return true;
    }
    // Without a bound Qt's HTTP thread reads as fast as the peer sends and
    // queues it all for this thread; bounded, it stops reading from the
    // socket until the body read so far has been taken.
    pending.bound = qMin<qint64>(pending.cap + 1, kReadBufferBytes);
    if (!request.body.isEmpty() && pending.cap > kReadBufferBytes) {
        // See BodyAfterBound.
        auto *body = new BodyAfterBound(request.body, pending.bound);
        networkRequest.setHeader(QNetworkRequest::ContentLengthHeader, request.body.size());
        if (method == "POST")
            pending.reply = manager->post(networkRequest, body);
        else if (method == "PUT")
            pending.reply = manager->put(networkRequest, body);
        else
            pending.reply = manager->sendCustomRequest(networkRequest, method, body);
        if (pending.reply)
            body->giveTo(pending.reply);
        else
            delete body;
        pending.boundAgain = true;
    } else if (method == "POST") {
        pending.reply = manager->post(networkRequest, request.body);
    } else if (method == "PUT") {
        pending.reply = manager->put(networkRequest, request.body);
    } else if (method == "DELETE" && request.body.isEmpty()) {
        pending.reply = manager->deleteResource(networkRequest);
    } else {
        pending.reply = manager->sendCustomRequest(networkRequest, method, request.body);
    }
    if (!pending.reply) {
        response.error = QStringLiteral("request_failed");
        return false;
    }
    runRequestStartedHook();
    pending.reply->setReadBufferSize(pending.bound);
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

void finishGet(Pending &pending)
{
    BoundedGet *get = pending.get;
    HttpResponse &response = pending.response;
    response.status = pending.timedOut || pending.aborted ? 0 : get->status();
    if (pending.aborted) {
        response.error = QStringLiteral("aborted");
    } else if (pending.timedOut) {
        response.error = QStringLiteral("timeout");
    } else if (get->tooLarge()) {
        pending.tooLarge = true;
        response.error = QStringLiteral("response_too_large");
    } else if (!get->error().isEmpty()) {
        response.error = get->error();
    } else {
        response.body = get->takeBody();
        response.success = response.status >= 200 && response.status < 300;
    }
    get->deleteLater();
    pending.get = nullptr;
    pending.done = true;
    if (pending.tooLarge)
        releaseFreedMemory();
}

void finishRequest(Pending &pending)
{
    if (pending.get) {
        finishGet(pending);
        return;
    }
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
    // Deleted from the network thread's loop, as this may run inside the
    // reply's own finished signal. Its signals stay connected (the handlers
    // here see the reply gone): cutting them all would cut Qt's own too,
    // and the kept-alive connection would not be used again.
    reply->deleteLater();
    pending.reply = nullptr;
    pending.done = true;
    if (pending.tooLarge)
        releaseFreedMemory();
}

thread_local int guiWorkDepth = 0;

// Set for good by abortRequests(): every request from then on ends at once.
std::atomic<bool> g_aborting{false};

// The requests of one call. They run on the network thread; the caller
// waits in a loop of its own until `done`, which is set (under the mutex)
// once every response is filled in.
struct Batch
{
    QList<HttpRequest> requests;
    QList<Pending> pendings;
    int running = 0; // requests whose reply has not finished

    QMutex mutex;
    bool done = false;
    QEventLoop *waiter = nullptr; // the caller's loop while it waits
};
using BatchPtr = std::shared_ptr<Batch>;

// The batches with requests in flight; used on the network thread only.
QList<BatchPtr> &batchesInFlight()
{
    static QList<BatchPtr> batches;
    return batches;
}

void completeBatch(const BatchPtr &batch)
{
    batchesInFlight().removeOne(batch);
    QMutexLocker lock(&batch->mutex);
    batch->done = true;
    if (batch->waiter)
        QMetaObject::invokeMethod(batch->waiter, &QEventLoop::quit, Qt::QueuedConnection);
}

void finishOne(const BatchPtr &batch, Pending *p)
{
    if (p->finished || p->done)
        return;
    p->finished = true;
    p->deadline->stop();
    finishRequest(*p);
    if (--batch->running == 0)
        completeBatch(batch);
}

void abortBatch(const BatchPtr &batch)
{
    for (Pending &p : batch->pendings) {
        if (p.reply && !p.reply->isFinished()) {
            p.aborted = true;
            p.reply->abort();
        } else if (p.get && !p.get->isFinished()) {
            p.aborted = true;
            p.get->abort();
        }
    }
}

// The network thread is ending: what is in flight ends now with "aborted"
// (an aborted reply says at once that it finished; one that had finished
// with its signal still queued is read as it is).
void endBatchesAtStop()
{
    const QList<BatchPtr> batches = batchesInFlight();
    for (const BatchPtr &batch : batches) {
        abortBatch(batch);
        for (Pending &p : batch->pendings)
            finishOne(batch, &p);
    }
}

void failBatch(Batch &batch, const QString &error)
{
    for (Pending &p : batch.pendings)
        p.response.error = error;
}

// On the network thread: starts the requests and watches them to the end.
void runBatch(const BatchPtr &batch, const NetworkManagers *managers)
{
    if (!managers || g_aborting.load()) {
        failBatch(*batch, QStringLiteral("aborted"));
        completeBatch(batch);
        return;
    }
    batchesInFlight().append(batch);
    for (qsizetype i = 0; i < batch->requests.size(); ++i) {
        Pending *p = &batch->pendings[i];
        p->request = &batch->requests[i];
        if (!startRequest(*p, *managers)) {
            p->done = true;
            continue;
        }
        ++batch->running;
        if (p->get) {
            p->deadline = new QTimer(p->get);
            p->deadline->setSingleShot(true);
            QObject::connect(p->deadline, &QTimer::timeout, p->deadline, [p]() {
                if (p->get && !p->get->isFinished()) {
                    p->timedOut = true;
                    p->get->abort();
                }
            });
            QObject::connect(p->get, &BoundedGet::finished, p->get, [batch, p]() { finishOne(batch, p); });
            p->deadline->start(qMax(1, p->request->timeoutMs));
            p->get->start();
            runRequestStartedHook();
            continue;
        }
        // The deadline goes with its reply.
        p->deadline = new QTimer(p->reply);
        p->deadline->setSingleShot(true);
        QObject::connect(p->deadline, &QTimer::timeout, p->deadline, [p]() {
            if (p->reply && !p->reply->isFinished()) {
                p->timedOut = true;
                p->reply->abort();
            }
        });
        // A stated length over the cap is refused with the headers, before
        // any of the body is read.
        QObject::connect(p->reply, &QNetworkReply::metaDataChanged, p->reply, [p]() {
            const QVariant length = p->reply ? p->reply->header(QNetworkRequest::ContentLengthHeader) : QVariant();
            if (!p->tooLarge && length.isValid() && length.toLongLong() > p->cap) {
                p->tooLarge = true;
                p->reply->abort();
                return;
            }
            boundAgainIfLarge(p, length.isValid() ? length.toLongLong() : -1, 0);
        });
        QObject::connect(p->reply, &QNetworkReply::readyRead, p->reply, [p]() {
            if (p->tooLarge || !p->reply)
                return;
            const QVariant length = p->reply->header(QNetworkRequest::ContentLengthHeader);
            if (length.isValid() && length.toLongLong() > p->cap) {
                p->tooLarge = true;
                p->reply->abort();
                return;
            }
            boundAgainIfLarge(p, length.isValid() ? length.toLongLong() : -1,
                              p->body.size() + p->reply->bytesAvailable());
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
        QObject::connect(p->reply, &QNetworkReply::finished, p->reply, [batch, p]() { finishOne(batch, p); });
        p->deadline->start(qMax(1, p->request->timeoutMs));
    }
    if (batch->running == 0)
        completeBatch(batch);
}

QList<HttpResponse> abortedResponses(qsizetype count)
{
    QList<HttpResponse> aborted(count);
    for (HttpResponse &response : aborted)
        response.error = QStringLiteral("aborted");
    return aborted;
}

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
    if (requests.isEmpty())
        return {};
    if (g_aborting.load())
        return abortedResponses(requests.size());
    static const bool stopHookSet = (setNetworkThreadStopHook(endBatchesAtStop), true);
    Q_UNUSED(stopHookSet);

    auto batch = std::make_shared<Batch>();
    batch->requests = requests;
    batch->pendings.resize(requests.size());
    // This thread's loop runs while it waits, as it did when it ran the
    // requests itself: what is posted to this thread meanwhile still runs.
    QEventLoop loop;
    batch->waiter = &loop;
    if (!postToNetworkThread([batch](const NetworkManagers *managers) { runBatch(batch, managers); }))
        return abortedResponses(requests.size());
    for (;;) {
        {
            QMutexLocker lock(&batch->mutex);
            if (batch->done) {
                batch->waiter = nullptr;
                break;
            }
        }
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }

    QList<HttpResponse> responses;
    responses.reserve(batch->pendings.size());
    for (Pending &pending : batch->pendings)
        responses.append(std::move(pending.response));
    return responses;
}

void setRequestStartedHookForTests(std::function<void()> hook)
{
    // Set while no request runs (the tests set it between requests).
    requestStartedHook() = std::move(hook);
}

void abortRequests()
{
    g_aborting.store(true);
    // Ends the requests in flight, then the thread with its connections.
    stopNetworkThread(kNetworkStopWaitMs);
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
