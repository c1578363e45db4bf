// Blocking JSON-over-HTTP runner, safe to call from any thread: each thread
// gets its own QNetworkAccessManager, every request has a time-out, and
// replies are size-capped. Plain http is allowed only for loopback hosts.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

namespace velmor::net {

constexpr int kDefaultTimeoutMs = 15000;
constexpr qint64 kMaxResponseBytes = 32 * 1024 * 1024;

struct HttpResponse
{
    int status = 0;     // HTTP status, 0 when no answer came
    QByteArray body;
    bool success = false; // a 2xx answer
    QString error;        // transport error text ("timeout", "insecure_endpoint", …), empty on an answer

    // The body as a JSON object; empty when it is not one.
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
    QList<QPair<QByteArray, QByteArray>> headers;
};

HttpResponse runHttp(const HttpRequest &request);
HttpResponse getJson(const QUrl &url, const QString &bearerToken = QString(),
                     int timeoutMs = kDefaultTimeoutMs);
HttpResponse postJson(const QUrl &url, const QJsonObject &body,
                      const QString &bearerToken = QString(), int timeoutMs = kDefaultTimeoutMs);

// https/wss anywhere; http/ws only for 127.0.0.0/8, ::1 and "localhost".
bool isAllowedEndpoint(const QUrl &url);
// Trims, drops trailing slashes; empty when not an http(s) URL with a host.
QString normaliseBaseUrl(const QString &url);
// base + path, e.g. endpoint("https://relay.example", "/v1/message/pull").
QUrl endpoint(const QString &baseUrl, const QString &path);

} // namespace velmor::net
