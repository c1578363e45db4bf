// Blocking JSON-over-HTTP runner, safe to call from any thread but the
// window's: the requests run on the one network thread (network_thread.h),
// so every caller shares its kept-alive connections; the caller's own loop
// runs while it waits. Every request has a time-out, and replies are
// size-capped. Plain http is allowed only for loopback hosts.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QObject;

namespace velmor::net {

constexpr int kDefaultTimeoutMs = 15000;
constexpr qint64 kMaxResponseBytes = 32 * 1024 * 1024;

// Redirects are never followed: a 3xx comes back as a failed answer with its
// status. An answer cut short (the connection broke, or the body is not as
// long as stated) fails with its status kept, no body and an error text.
struct HttpResponse
{
    int status = 0;     // HTTP status, 0 when no answer came
    QByteArray body;
    bool success = false; // a whole 2xx answer
    QString error;        // transport error text ("timeout", "insecure_endpoint", …), empty on a whole answer
    QByteArray location;  // a whole 3xx answer's Location, as sent

    // The body as a JSON object; empty when it is not one, or one of more
    // values than an answer read whole may hold (answer_json.h).
    QJsonObject json() const;
};

struct HttpRequest
{
    QByteArray method = "GET";
    QUrl url;
    QByteArray body;
    QByteArray contentType = "application/json";
    QString bearerToken;
    int timeoutMs = kDefaultTimeoutMs;
    qint64 maxResponseBytes = kMaxResponseBytes; // larger bodies fail with "response_too_large"
    QList<QPair<QByteArray, QByteArray>> headers;
};

HttpResponse runHttp(const HttpRequest &request);
// Runs the requests at the same time on this thread; the answers come back
// in the order of the requests. Each request keeps its own time-out.
QList<HttpResponse> runHttpParallel(const QList<HttpRequest> &requests);
HttpResponse getJson(const QUrl &url, const QString &bearerToken = QString(),
                     int timeoutMs = kDefaultTimeoutMs);
HttpResponse postJson(const QUrl &url, const QJsonObject &body,
                      const QString &bearerToken = QString(), int timeoutMs = kDefaultTimeoutMs);

namespace detail {
struct Batch;
}

// The kept-alive connections a request goes over: the services' own, or
// those of the pictures the views load, which never hold a service's
// request back while they come.
enum class Connections { Services, Pictures };

// A request run without waiting for it (startHttp()).
class HttpCall
{
public:
    // Ends the request if it still runs; its answer is then never given.
    // On the thread of the call's context.
    void cancel();

private:
    friend HttpCall startHttp(const HttpRequest &, QObject *, std::function<void(const HttpResponse &)>, Connections);
    std::shared_ptr<detail::Batch> m_batch;
};

// Runs `request` on the network thread, as runHttp() does, without waiting:
// `onAnswer` gets the response on `context`'s thread, from its loop (never
// inside this call), unless the call was cancelled first. The context
// cancels the call before it goes. Never blocks, so the window's thread may
// call it.
HttpCall startHttp(const HttpRequest &request, QObject *context, std::function<void(const HttpResponse &)> onAnswer,
                   Connections connections = Connections::Services);

// Ends every request in flight on any thread now, and every later one at
// once, with the error "aborted", and stops the network thread: the program
// is quitting and waits for no answer (what was not answered is sent again
// at the next start).
void abortRequests();

// For the tests: runs on the network thread once a request has been handed
// to the transport and before anything else is done for it, as if that
// thread were held up there on a loaded machine. Empty for none.
void setRequestStartedHookForTests(std::function<void()> hook);

// A JSON number (or a decimal text, as some servers send 64-bit values) as a
// 64-bit integer; 0 for anything else, including numbers out of range.
qint64 jsonInteger(const QJsonValue &value);

// The window's thread never waits on the network. Builds with
// PELORIN_CHECK_BLOCKING_CALLS (debug builds, and every build with the test
// suite) abort when a blocking request above starts on it: the application
// thread of a QGuiApplication, or, in a process without a window (the chat
// tests), the application thread while it runs work marked as the window's.
class GuiThreadWork
{
public:
    GuiThreadWork();
    ~GuiThreadWork();
    GuiThreadWork(const GuiThreadWork &) = delete;
    GuiThreadWork &operator=(const GuiThreadWork &) = delete;
};
// True when a blocking request started here would stall the window.
bool onGuiThread();

// https/wss anywhere; http/ws only for 127.0.0.0/8, ::1 and "localhost".
bool isAllowedEndpoint(const QUrl &url);
// Trims, drops trailing slashes; empty when not an http(s) URL with a host.
QString normaliseBaseUrl(const QString &url);
// base + path, e.g. endpoint("https://relay.example", "/v1/message/pull").
QUrl endpoint(const QString &baseUrl, const QString &path);

} // namespace velmor::net
