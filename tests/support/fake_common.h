// Scaffolding shared by the local fake services: an HTTP server with
// WebSocket upgrade running on its own thread (so that tests may call
// blocking client code from their own thread), switchable faults per path,
// and a challenge authority that really verifies signatures and issues
// expiring tokens.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QHttpServerRequest>
#include <QJsonObject>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <functional>
#include <memory>

class QHttpServer;
class QWebSocket;

namespace velmor::fakes {

struct FakeReply
{
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    // Sent as the Location header when not empty (a redirect).
    QByteArray location;

    static FakeReply json(const QJsonObject &object, int status = 200);
    // {"error": code} with the status.
    static FakeReply error(int status, const QString &code);
};

enum class FaultKind {
    None,
    Http500,       // answer 500 {"error":"internal"}
    Delay,         // hold the answer for delayMs, then answer normally
    Drop,          // close the connection without an answer
    MalformedJson, // answer 200 with a body that is not JSON
    CustomBody,    // answer status with body as given
    Endless,       // answer 200 whose body never ends (a stream until the client hangs up)
};

struct Fault
{
    FaultKind kind = FaultKind::None;
    int delayMs = 0; // held for this long before any kind of answer
    int status = 200;
    QByteArray body;
    int remaining = -1; // answers affected; -1 for every one until cleared

    static Fault make(FaultKind kind, int delayMs = 0, int status = 200, const QByteArray &body = {})
    {
        Fault fault;
        fault.kind = kind;
        fault.delayMs = delayMs;
        fault.status = status;
        fault.body = body;
        return fault;
    }
    static Fault http500() { return make(FaultKind::Http500); }
    static Fault delay(int ms) { return make(FaultKind::Delay, ms); }
    static Fault drop() { return make(FaultKind::Drop); }
    static Fault malformedJson() { return make(FaultKind::MalformedJson); }
    static Fault endless() { return make(FaultKind::Endless); }
    static Fault custom(int status, const QByteArray &body, int delayMs = 0)
    {
        return make(FaultKind::CustomBody, delayMs, status, body);
    }
};

// An HTTP server on 127.0.0.1 that runs on a thread of its own. Routes and
// the WebSocket handler are declared before start(); handlers run on the
// server's thread.
class FakeHttpServer
{
public:
    using Handler = std::function<FakeReply(const QHttpServerRequest &)>;
    using WebSocketHandler = std::function<void(QWebSocket *socket)>;

    FakeHttpServer();
    ~FakeHttpServer();
    FakeHttpServer(const FakeHttpServer &) = delete;
    FakeHttpServer &operator=(const FakeHttpServer &) = delete;

    void addRoute(const QString &path, QHttpServerRequest::Method method, Handler handler);
    // Upgrades requests for this path; the handler receives the socket
    // (owned by the server thread's context object) on the server thread.
    void setWebSocket(const QString &path, WebSocketHandler handler);

    // Listens on 127.0.0.1; port 0 picks a free one. Returns the port, 0 on failure.
    quint16 start(quint16 port = 0);
    void stop();
    quint16 port() const { return m_port; }
    QString baseUrl() const;

    // "*" as the path affects every route.
    void setFault(const QString &path, const Fault &fault);
    void clearFaults();
    int requestCount(const QString &path) const;
    // TCP connections accepted since the start (or resetCounts()).
    int connectionCount() const { return m_connections.load(); }
    void resetCounts();

    // Requests for the path are counted, then wait on the server's thread
    // until releaseHeld() (or the server stops): a test can act while a
    // client is known to be mid-request, however slow the machine. A hold
    // never outlasts kHoldLimitMs, so a test that forgets to release fails
    // instead of hanging.
    static constexpr int kHoldLimitMs = 60000;
    void holdRequests(const QString &path);
    void releaseHeld();

    // Runs fn on the server's thread and waits for it.
    void runOnServerThread(const std::function<void()> &fn);
    QObject *context() const { return m_context; }

private:
    struct Route
    {
        QString path;
        QHttpServerRequest::Method method;
        Handler handler;
    };
    Fault takeFault(const QString &path);
    void waitWhileHeld(const QString &path);
    void setUp(quint16 port);

    QList<Route> m_routes;
    QString m_wsPath;
    WebSocketHandler m_wsHandler;
    QThread m_thread;
    QObject *m_context = nullptr;
    QHttpServer *m_server = nullptr;
    quint16 m_port = 0;
    std::atomic<int> m_connections{0};

    mutable QMutex m_mutex;
    QHash<QString, Fault> m_faults;
    QHash<QString, int> m_counts;
    QSet<QString> m_held;
    QWaitCondition m_released;
};

// Challenges and tokens for a signed-challenge login.
class ChallengeAuthority
{
public:
    // A fresh single-use challenge for the key (valid for a minute).
    QString issueChallenge(const QString &publicKeyText);
    // Checks that the challenge was issued to this key, is unused and fresh,
    // and that the base64url signature verifies (ECDSA over the login text
    // that binds the challenge to this service's base URL). Returns the new
    // token, or empty with *error set ("unknown_challenge",
    // "invalid_signature", "bad_public_key").
    QString verify(const QString &publicKeyText, const QString &challenge,
                   const QString &signatureB64, const QString &serviceBaseUrl,
                   QString *error = nullptr);
    // The key that owns a valid token; empty when unknown or expired.
    QString ownerOf(const QString &token) const;
    // From an "Authorization: Bearer …" header.
    QString ownerOfRequest(const QHttpServerRequest &request) const;

    void setTokenLifetime(qint64 seconds);
    qint64 tokenLifetime() const;
    void expireAllTokens();
    int loginCount() const;
    // Keys that ever logged in successfully.
    bool hasLoggedIn(const QString &publicKeyText) const;
    void resetCounts();

private:
    struct Challenge
    {
        QString publicKey;
        qint64 expiresAt = 0;
    };
    struct Token
    {
        QString publicKey;
        qint64 expiresAt = 0;
    };
    mutable QMutex m_mutex;
    QHash<QString, Challenge> m_challenges;
    QHash<QString, Token> m_tokens;
    QSet<QString> m_loggedIn;
    qint64 m_tokenLifetime = 3600;
    int m_logins = 0;
};

// The login routes of the group centre and the group servers, whose bodies
// are snake_case: "/v1/auth/challenge" {"pubkey"} and "/v1/auth/verify"
// {"pubkey", "challenge", "signature"} -> {"token", "expires_in"}.
void addSignedLoginRoutes(FakeHttpServer &http, ChallengeAuthority &auth);

// The canonical (uncompressed, base64url) text of a public key text; empty
// when it is not a secp256k1 point.
QString canonicalKeyText(const QString &publicKeyText);

// A loopback port that nothing listens on (bound, then released).
quint16 unusedLoopbackPort();
// "http://127.0.0.1:<port>" on such a port.
QString unusedLoopbackUrl();

// The JSON object in the request body; an empty object (and *ok false) when
// the body is not one.
QJsonObject jsonBody(const QHttpServerRequest &request, bool *ok = nullptr);
// The string under `key`; empty when it is missing or not a string.
QString stringField(const QJsonObject &object, const char *key);

// Keeps every text frame the client sends in `frames` (under `mutex`) and
// answers a {"type":"client.ping"} frame with {"type":"server.pong"}.
void recordFramesAndAnswerPings(QWebSocket *socket, QMutex &mutex, QStringList &frames);
// Aborts the sockets and deletes them later, on the thread they live on.
void abortSockets(const QList<QWebSocket *> &sockets);

} // namespace velmor::fakes
