#include "net/http.h"

#include "net/answer_json.h"
#include "net/http_connection_pool.h"
#include "net/http_exchange.h"
#include "net/network_thread.h"

#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>

#include <QCoreApplication>
#include <QEventLoop>
#include <QMutex>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonValue>
#include <QThread>
#include <QTimer>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace velmor::net {

namespace {

// What a connection may read of an answer ahead of the network thread.
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

// Memory freed after an answer over the cap goes back to the system: the
// allocator would otherwise keep tens of megabytes per thread that read one.
void releaseFreedMemory()
{
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

// One request in flight: its exchange and how it ended.
struct Pending
{
    const HttpRequest *request = nullptr;
    HttpExchange *exchange = nullptr;
    QTimer *deadline = nullptr;
    bool timedOut = false;
    bool aborted = false;  // by abortRequests()
    bool finished = false; // the exchange said so
    bool done = false;     // the response is filled in
    HttpResponse response;
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

// The head lines of a request, as Qt's requests had them: the caller's own
// headers replace those of the same name.
QList<QPair<QByteArray, QByteArray>> requestHeaders(const HttpRequest &request, const QByteArray &method)
{
    QList<QPair<QByteArray, QByteArray>> headers;
    if (!request.body.isEmpty() || method != "GET")
        headers.append(qMakePair(QByteArray("Content-Type"), request.contentType));
    headers.append(qMakePair(QByteArray("Accept"), QByteArray("application/json")));
    if (!request.bearerToken.isEmpty())
        headers.append(qMakePair(QByteArray("Authorization"), "Bearer " + request.bearerToken.toUtf8()));
    for (const auto &header : request.headers) {
        headers.removeIf([&header](const QPair<QByteArray, QByteArray> &line) {
            return line.first.compare(header.first, Qt::CaseInsensitive) == 0;
        });
        headers.append(header);
    }
    return headers;
}

// Checks the request and makes its exchange; false with response.error set
// when it must not or cannot be sent.
bool startRequest(Pending &pending, HttpConnectionPool *connections)
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
    // Redirects are never followed (the exchange returns a 3xx as it is),
    // so that neither the request nor its bearer token goes to another host,
    // nor past the loopback-only rule for plain http.
    const QByteArray method = request.method.toUpper();
    const qint64 cap = request.maxResponseBytes > 0 ? request.maxResponseBytes : kMaxResponseBytes;
    pending.exchange = new HttpExchange(method, request.url, requestHeaders(request, method), request.body, cap,
                                        kReadBufferBytes, connections);
    return true;
}

void finishRequest(Pending &pending)
{
    HttpExchange *exchange = pending.exchange;
    HttpResponse &response = pending.response;
    response.status = pending.timedOut || pending.aborted ? 0 : exchange->status();
    bool tooLarge = false;
    if (pending.aborted) {
        response.error = QStringLiteral("aborted");
    } else if (pending.timedOut) {
        response.error = QStringLiteral("timeout");
    } else if (exchange->tooLarge()) {
        tooLarge = true;
        response.error = QStringLiteral("response_too_large");
    } else if (!exchange->error().isEmpty()) {
        response.error = exchange->error();
    } else {
        response.body = exchange->takeBody();
        response.location = exchange->location();
        response.success = response.status >= 200 && response.status < 300;
    }
    // From the network thread's loop, as this runs inside its finished().
    exchange->deleteLater();
    pending.exchange = nullptr;
    pending.done = true;
    if (tooLarge)
        releaseFreedMemory();
}

thread_local int guiWorkDepth = 0;

// Set for good by abortRequests(): every request from then on ends at once.
std::atomic<bool> g_aborting{false};

} // namespace

namespace detail {

// The requests of one call. They run on the network thread; the caller
// waits in a loop of its own until `done`, which is set (under the mutex)
// once every response is filled in, or (startHttp) is told on its context.
struct Batch
{
    QList<HttpRequest> requests;
    QList<Pending> pendings;
    int running = 0; // requests whose exchange has not finished
    Connections connections = Connections::Services;

    QMutex mutex;
    bool done = false;
    QEventLoop *waiter = nullptr; // the caller's loop while it waits
    // A call not waited for: told on this object's thread. Null once the
    // caller let go (it never is while the object is being destroyed: the
    // caller cancels first, on that same thread).
    QObject *context = nullptr;
    std::function<void(const HttpResponse &)> onAnswer;
};

} // namespace detail

namespace {

using detail::Batch;
using BatchPtr = std::shared_ptr<Batch>;

// The batches with requests in flight; used on the network thread only.
QList<BatchPtr> &batchesInFlight()
{
    static QList<BatchPtr> batches;
    return batches;
}

// On the context's thread: gives a call's answer, unless it was cancelled.
void tellAnswer(const BatchPtr &batch)
{
    std::function<void(const HttpResponse &)> onAnswer;
    HttpResponse response;
    {
        QMutexLocker lock(&batch->mutex);
        if (!batch->context)
            return;
        batch->context = nullptr;
        onAnswer = std::move(batch->onAnswer);
        response = std::move(batch->pendings.first().response);
    }
    onAnswer(response);
}

void completeBatch(const BatchPtr &batch)
{
    batchesInFlight().removeOne(batch);
    QMutexLocker lock(&batch->mutex);
    batch->done = true;
    if (batch->waiter)
        QMetaObject::invokeMethod(batch->waiter, &QEventLoop::quit, Qt::QueuedConnection);
    // Posted under the lock: the context cannot go meanwhile, and what is
    // posted to it goes with it.
    if (batch->context)
        QMetaObject::invokeMethod(batch->context, [batch] { tellAnswer(batch); }, Qt::QueuedConnection);
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
        if (p.exchange && !p.exchange->isFinished()) {
            p.aborted = true;
            p.exchange->abort();
        }
    }
}

// The network thread is ending: what is in flight ends now with "aborted"
// (an aborted exchange says at once that it finished).
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
        if (!startRequest(*p, batch->connections == Connections::Pictures ? managers->pictures : managers->connections)) {
            p->done = true;
            continue;
        }
        ++batch->running;
        // The deadline goes with its exchange.
        p->deadline = new QTimer(p->exchange);
        p->deadline->setSingleShot(true);
        QObject::connect(p->deadline, &QTimer::timeout, p->deadline, [p]() {
            if (p->exchange && !p->exchange->isFinished()) {
                p->timedOut = true;
                p->exchange->abort();
            }
        });
        QObject::connect(p->exchange, &HttpExchange::finished, p->exchange, [batch, p]() { finishOne(batch, p); });
        p->deadline->start(qMax(1, p->request->timeoutMs));
        // Begun from the loop, once this thread listens.
        p->exchange->start();
        runRequestStartedHook();
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

HttpCall startHttp(const HttpRequest &request, QObject *context, std::function<void(const HttpResponse &)> onAnswer,
                   Connections connections)
{
    static const bool stopHookSet = (setNetworkThreadStopHook(endBatchesAtStop), true);
    Q_UNUSED(stopHookSet);
    auto batch = std::make_shared<Batch>();
    batch->requests = {request};
    batch->pendings.resize(1);
    batch->connections = connections;
    batch->context = context;
    batch->onAnswer = std::move(onAnswer);
    HttpCall call;
    call.m_batch = batch;
    if (g_aborting.load() || !postToNetworkThread([batch](const NetworkManagers *managers) { runBatch(batch, managers); })) {
        // Told from the context's loop all the same.
        QMutexLocker lock(&batch->mutex);
        batch->pendings.first().response.error = QStringLiteral("aborted");
        batch->done = true;
        QMetaObject::invokeMethod(context, [batch] { tellAnswer(batch); }, Qt::QueuedConnection);
    }
    return call;
}

void HttpCall::cancel()
{
    const BatchPtr batch = std::exchange(m_batch, nullptr);
    if (!batch)
        return;
    {
        QMutexLocker lock(&batch->mutex);
        batch->context = nullptr;
        batch->onAnswer = {};
        if (batch->done)
            return;
    }
    // What the exchange read goes now, not at its deadline.
    postToNetworkThread([batch](const NetworkManagers *) { abortBatch(batch); });
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
