#include "support/fake_common.h"

#include "identity/crypto.h"
#include "identity/service_login.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QHttpServer>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <QtGlobal>

#if defined(Q_OS_LINUX)
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace velmor::fakes {

namespace {

// Acknowledges what it received as soon as it has read it. On loopback a
// whole write is one segment, so a request that leaves the client in two
// writes (Qt sends a body over 16 KiB in pieces, without TCP_NODELAY) has
// its tail held back until the head is acknowledged, and the kernel delays
// that acknowledgement by 40 ms while it waits for an answer to ride on. A
// relay across a network gets the head as full-sized segments and
// acknowledges them at once, so the tail waits a round trip at most: this
// makes the fake behave like that rather than add a loopback-only stall to
// every large request.
class PromptAckServer : public QTcpServer
{
public:
    PromptAckServer(QObject *parent, std::atomic<int> &accepted) : QTcpServer(parent), m_accepted(accepted) {}

protected:
    void incomingConnection(qintptr descriptor) override
    {
        ++m_accepted;
        auto *socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
#if defined(Q_OS_LINUX)
        // Connected before the HTTP server's own handler: by then Qt has
        // read the data, so the acknowledgement goes at once. The kernel
        // clears the option by itself, hence on every read.
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
            const int one = 1;
            ::setsockopt(int(socket->socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        });
#endif
        addPendingConnection(socket);
    }

private:
    std::atomic<int> &m_accepted;
};

// Handlers that answer through the responder take it by rvalue in Qt 6.4
// and by lvalue from 6.5 on.
#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
using ResponderRef = QHttpServerResponder &&;
#else
using ResponderRef = QHttpServerResponder &;
#endif

qint64 nowSeconds()
{
    return QDateTime::currentSecsSinceEpoch();
}

void writeReply(QHttpServerResponder &responder, const FakeReply &reply)
{
    const auto status = static_cast<QHttpServerResponder::StatusCode>(reply.status);
    if (reply.location.isEmpty()) {
        responder.write(reply.body, reply.contentType, status);
        return;
    }
    responder.write(reply.body, {{"Content-Type", reply.contentType}, {"Location", reply.location}}, status);
}

// A 200 that announces a gigabyte and keeps writing JSON-looking padding
// for as long as the client reads (and at most that gigabyte): a client
// that reads it whole never finishes.
void writeEndless(QTcpSocket *socket)
{
    constexpr qint64 kAnnounced = qint64(1) << 30;
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                  + QByteArray::number(kAnnounced) + "\r\n\r\n{\"ok\":true,\"pad\":\"");
    const QByteArray chunk(64 * 1024, 'x');
    auto written = std::make_shared<qint64>(0);
    const auto more = [socket, chunk, written] {
        // Keep a little in the socket's buffer, no more: the stream is paced
        // by the client's reading.
        while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < 4 * chunk.size()
               && *written + chunk.size() < kAnnounced) {
            socket->write(chunk);
            *written += chunk.size();
        }
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, more);
    more();
}

} // namespace

FakeReply FakeReply::json(const QJsonObject &object, int status)
{
    FakeReply reply;
    reply.status = status;
    reply.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return reply;
}

FakeReply FakeReply::error(int status, const QString &code)
{
    return json(QJsonObject{{QStringLiteral("error"), code}}, status);
}

FakeHttpServer::FakeHttpServer() = default;

FakeHttpServer::~FakeHttpServer()
{
    stop();
}

void FakeHttpServer::addRoute(const QString &path, QHttpServerRequest::Method method,
                              Handler handler)
{
    m_routes.append(Route{path, method, std::move(handler)});
}

void FakeHttpServer::setWebSocket(const QString &path, WebSocketHandler handler)
{
    m_wsPath = path;
    m_wsHandler = std::move(handler);
}

QString FakeHttpServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

quint16 FakeHttpServer::start(quint16 port)
{
    if (m_context)
        return m_port;
    m_thread.setObjectName(QStringLiteral("fake-http"));
    m_thread.start();
    m_context = new QObject();
    m_context->moveToThread(&m_thread);
    runOnServerThread([this, port]() { setUp(port); });
    if (m_port == 0)
        stop();
    return m_port;
}

void FakeHttpServer::setUp(quint16 port)
{
    m_server = new QHttpServer(m_context);
    for (const Route &route : std::as_const(m_routes)) {
        const QString path = route.path;
        const Handler handler = route.handler;
        m_server->route(path, route.method,
                        [this, path, handler](const QHttpServerRequest &request,
                                              ResponderRef responder) {
                            const Fault fault = takeFault(path);
                            waitWhileHeld(path);
                            if (fault.delayMs > 0)
                                QThread::msleep(ulong(fault.delayMs));
                            switch (fault.kind) {
                            case FaultKind::Http500:
                                writeReply(responder, FakeReply::error(500, QStringLiteral("internal")));
                                return;
                            case FaultKind::Drop:
#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
                                if (QTcpSocket *socket = responder.socket()) {
                                    socket->abort();
                                    return;
                                }
#endif
                                // Without access to the socket the nearest
                                // thing is an answer the client cannot use.
                                writeReply(responder, FakeReply{502, QByteArray(), "text/plain"});
                                return;
                            case FaultKind::MalformedJson:
                                writeReply(responder, FakeReply{200, "{\"envelopes\": [{\"message_id\": ",
                                                                "application/json"});
                                return;
                            case FaultKind::CustomBody:
                                writeReply(responder, FakeReply{fault.status, fault.body,
                                                                "application/json"});
                                return;
                            case FaultKind::Endless:
#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
                                if (QTcpSocket *socket = responder.socket()) {
                                    writeEndless(socket);
                                    return;
                                }
#endif
                                writeReply(responder, FakeReply{200, QByteArray(64 * 1024 * 1024, ' '),
                                                                "application/json"});
                                return;
                            case FaultKind::Delay:
                            case FaultKind::None:
                                break;
                            }
                            writeReply(responder, handler(request));
                        });
    }
    if (!m_wsPath.isEmpty()) {
        // Qt HttpServer upgrades a WebSocket request only when a route for
        // its path exists; the route must then write nothing.
        m_server->route(m_wsPath, [](const QHttpServerRequest &request,
                                     ResponderRef responder) {
            if (request.value("Upgrade").toLower() == "websocket")
                return;
            responder.write(QHttpServerResponder::StatusCode::BadRequest);
        });
        QObject::connect(m_server, &QHttpServer::newWebSocketConnection, m_context, [this]() {
            while (m_server->hasPendingWebSocketConnections()) {
                std::unique_ptr<QWebSocket> socket = m_server->nextPendingWebSocketConnection();
                if (!socket)
                    continue;
                QWebSocket *raw = socket.release();
                raw->setParent(m_context);
                if (m_wsHandler)
                    m_wsHandler(raw);
                else
                    raw->deleteLater();
            }
        });
    }
    auto *listener = new PromptAckServer(m_server, m_connections);
    if (listener->listen(QHostAddress::LocalHost, port)) {
        m_server->bind(listener);
        m_port = listener->serverPort();
    } else {
        delete listener;
        m_port = 0;
    }
}

void FakeHttpServer::stop()
{
    if (!m_context)
        return;
    releaseHeld(); // a held handler would keep the server thread from stopping
    QObject *context = m_context;
    runOnServerThread([this, context]() {
        delete context; // the server and every socket are its children
        m_server = nullptr;
    });
    m_context = nullptr;
    m_thread.quit();
    m_thread.wait();
    m_port = 0;
}

void FakeHttpServer::runOnServerThread(const std::function<void()> &fn)
{
    if (!m_context)
        return;
    if (QThread::currentThread() == &m_thread) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(m_context, fn, Qt::BlockingQueuedConnection);
}

void FakeHttpServer::setFault(const QString &path, const Fault &fault)
{
    QMutexLocker locker(&m_mutex);
    if (fault.kind == FaultKind::None)
        m_faults.remove(path);
    else
        m_faults.insert(path, fault);
}

void FakeHttpServer::clearFaults()
{
    QMutexLocker locker(&m_mutex);
    m_faults.clear();
}

Fault FakeHttpServer::takeFault(const QString &path)
{
    QMutexLocker locker(&m_mutex);
    m_counts[path] += 1;
    for (const QString &key : {path, QStringLiteral("*")}) {
        auto it = m_faults.find(key);
        if (it == m_faults.end())
            continue;
        const Fault fault = it.value();
        if (it->remaining > 0 && --it->remaining == 0)
            m_faults.erase(it);
        return fault;
    }
    return {};
}

int FakeHttpServer::requestCount(const QString &path) const
{
    QMutexLocker locker(&m_mutex);
    return m_counts.value(path);
}

void FakeHttpServer::resetCounts()
{
    QMutexLocker locker(&m_mutex);
    m_counts.clear();
    m_connections = 0;
}

void FakeHttpServer::holdRequests(const QString &path)
{
    QMutexLocker locker(&m_mutex);
    m_held.insert(path);
}

void FakeHttpServer::releaseHeld()
{
    QMutexLocker locker(&m_mutex);
    m_held.clear();
    m_released.wakeAll();
}

void FakeHttpServer::waitWhileHeld(const QString &path)
{
    QMutexLocker locker(&m_mutex);
    QDeadlineTimer limit(kHoldLimitMs);
    while (m_held.contains(path) && !limit.hasExpired())
        m_released.wait(&m_mutex, limit);
}

void addSignedLoginRoutes(FakeHttpServer &http, ChallengeAuthority &auth)
{
    using Method = QHttpServerRequest::Method;
    http.addRoute(QStringLiteral("/v1/auth/challenge"), Method::Post,
                  [&auth](const QHttpServerRequest &request) {
                      const QJsonObject body = jsonBody(request);
                      const QString challenge =
                          auth.issueChallenge(body.value(QStringLiteral("pubkey")).toString());
                      if (challenge.isEmpty())
                          return FakeReply::error(400, QStringLiteral("bad_public_key"));
                      return FakeReply::json(QJsonObject{{QStringLiteral("challenge"), challenge},
                                                         {QStringLiteral("expires_in"), 60}});
                  });
    http.addRoute(QStringLiteral("/v1/auth/verify"), Method::Post,
                  [&auth, &http](const QHttpServerRequest &request) {
                      const QJsonObject body = jsonBody(request);
                      QString error;
                      const QString token = auth.verify(
                          body.value(QStringLiteral("pubkey")).toString(),
                          body.value(QStringLiteral("challenge")).toString(),
                          body.value(QStringLiteral("signature")).toString(), http.baseUrl(), &error);
                      if (token.isEmpty())
                          return FakeReply::error(401, error);
                      return FakeReply::json(QJsonObject{{QStringLiteral("token"), token},
                                                         {QStringLiteral("expires_in"),
                                                          auth.tokenLifetime()}});
                  });
}

QString canonicalKeyText(const QString &publicKeyText)
{
    const QByteArray key = velmor::crypto::normalisePublicKey(
        velmor::crypto::base64UrlDecode(publicKeyText.trimmed()), false);
    return key.size() == 65 ? velmor::crypto::base64UrlEncode(key) : QString();
}

quint16 unusedLoopbackPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

QString unusedLoopbackUrl()
{
    return QStringLiteral("http://127.0.0.1:%1").arg(unusedLoopbackPort());
}

QString ChallengeAuthority::issueChallenge(const QString &publicKeyText)
{
    const QString key = canonicalKeyText(publicKeyText);
    if (key.isEmpty())
        return {};
    const QString challenge = QStringLiteral("pelorin-login:")
        + velmor::crypto::base64UrlEncode(velmor::crypto::randomBytes(24));
    QMutexLocker locker(&m_mutex);
    m_challenges.insert(challenge, Challenge{key, nowSeconds() + 60});
    return challenge;
}

QString ChallengeAuthority::verify(const QString &publicKeyText, const QString &challenge,
                                   const QString &signatureB64, const QString &serviceBaseUrl,
                                   QString *error)
{
    const QString key = canonicalKeyText(publicKeyText);
    if (key.isEmpty()) {
        if (error)
            *error = QStringLiteral("bad_public_key");
        return {};
    }
    {
        QMutexLocker locker(&m_mutex);
        // Single use: a challenge is gone after the first attempt, good or bad.
        const Challenge issued = m_challenges.take(challenge);
        if (issued.publicKey != key || issued.expiresAt < nowSeconds()) {
            if (error)
                *error = QStringLiteral("unknown_challenge");
            return {};
        }
    }
    const QByteArray signature = velmor::crypto::base64UrlDecode(signatureB64);
    if (signature.size() != 64
        || !velmor::crypto::verifyMessage(
            velmor::crypto::base64UrlDecode(key),
            velmor::identity::serviceLoginSigningBytes(velmor::identity::serviceLoginUrl(serviceBaseUrl),
                                                       challenge),
            signature)) {
        if (error)
            *error = QStringLiteral("invalid_signature");
        return {};
    }
    const QString token = velmor::crypto::base64UrlEncode(velmor::crypto::randomBytes(32));
    QMutexLocker locker(&m_mutex);
    m_tokens.insert(token, Token{key, nowSeconds() + m_tokenLifetime});
    m_loggedIn.insert(key);
    ++m_logins;
    return token;
}

QString ChallengeAuthority::ownerOf(const QString &token) const
{
    QMutexLocker locker(&m_mutex);
    const auto it = m_tokens.constFind(token);
    if (it == m_tokens.constEnd() || it->expiresAt <= nowSeconds())
        return {};
    return it->publicKey;
}

QString ChallengeAuthority::ownerOfRequest(const QHttpServerRequest &request) const
{
    const QByteArray header = request.value("Authorization").trimmed();
    if (!header.toLower().startsWith("bearer "))
        return {};
    return ownerOf(QString::fromUtf8(header.mid(7).trimmed()));
}

void ChallengeAuthority::setTokenLifetime(qint64 seconds)
{
    QMutexLocker locker(&m_mutex);
    m_tokenLifetime = seconds;
}

qint64 ChallengeAuthority::tokenLifetime() const
{
    QMutexLocker locker(&m_mutex);
    return m_tokenLifetime;
}

void ChallengeAuthority::expireAllTokens()
{
    QMutexLocker locker(&m_mutex);
    m_tokens.clear();
}

int ChallengeAuthority::loginCount() const
{
    QMutexLocker locker(&m_mutex);
    return m_logins;
}

bool ChallengeAuthority::hasLoggedIn(const QString &publicKeyText) const
{
    const QString key = canonicalKeyText(publicKeyText);
    QMutexLocker locker(&m_mutex);
    return m_loggedIn.contains(key);
}

void ChallengeAuthority::resetCounts()
{
    QMutexLocker locker(&m_mutex);
    m_logins = 0;
}

QJsonObject jsonBody(const QHttpServerRequest &request, bool *ok)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(request.body(), &error);
    if (ok)
        *ok = error.error == QJsonParseError::NoError && document.isObject();
    return document.object();
}

QString stringField(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? value.toString() : QString();
}

void recordFramesAndAnswerPings(QWebSocket *socket, QMutex &mutex, QStringList &frames)
{
    QObject::connect(socket, &QWebSocket::textMessageReceived, socket,
                     [socket, &mutex, &frames](const QString &text) {
                         {
                             QMutexLocker locker(&mutex);
                             frames.append(text);
                         }
                         if (QJsonDocument::fromJson(text.toUtf8()).object().value(QStringLiteral("type")).toString()
                             == QLatin1String("client.ping"))
                             socket->sendTextMessage(QStringLiteral("{\"type\":\"server.pong\"}"));
                     });
}

void abortSockets(const QList<QWebSocket *> &sockets)
{
    for (QWebSocket *socket : sockets) {
        socket->abort();
        socket->deleteLater();
    }
}

} // namespace velmor::fakes
