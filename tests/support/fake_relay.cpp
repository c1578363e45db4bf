#include "support/fake_relay.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMutexLocker>
#include <QUrlQuery>
#include <QWebSocket>

#include <optional>

namespace velmor::fakes {

namespace {

using Method = QHttpServerRequest::Method;

FakeReply unauthorized()
{
    return FakeReply::error(401, QStringLiteral("token_expired"));
}

FakeReply invalidJson()
{
    return FakeReply::error(400, QStringLiteral("invalid_json"));
}

// An authorised request with a JSON object body: its caller and body, or
// the answer that refuses it.
struct AuthorizedBody
{
    QString owner;
    QJsonObject body;
    std::optional<FakeReply> refusal;
};

AuthorizedBody authorizedBody(const ChallengeAuthority &auth, const QHttpServerRequest &request)
{
    AuthorizedBody in;
    in.owner = auth.ownerOfRequest(request);
    if (in.owner.isEmpty()) {
        in.refusal = unauthorized();
        return in;
    }
    bool ok = false;
    in.body = jsonBody(request, &ok);
    if (!ok)
        in.refusal = invalidJson();
    return in;
}

} // namespace

FakeRelay::FakeRelay()
    : FakeRelay(Options{})
{
}

FakeRelay::FakeRelay(const Options &options)
    : m_options(options)
{
    install();
}

FakeRelay::~FakeRelay()
{
    stop();
}

quint16 FakeRelay::start(quint16 port)
{
    return m_http.start(port);
}

void FakeRelay::stop()
{
    m_http.runOnServerThread([this]() { m_sockets.clear(); });
    m_http.stop();
}

void FakeRelay::install()
{
    m_http.addRoute(QStringLiteral("/v1/health"), Method::Get, [](const QHttpServerRequest &) {
        return FakeReply::json(QJsonObject{{QStringLiteral("status"), QStringLiteral("ok")}});
    });
    if (m_options.serveNodeList) {
        m_http.addRoute(QStringLiteral("/v1/public/nodes"), Method::Get,
                        [this](const QHttpServerRequest &) {
                            const QJsonObject node{{QStringLiteral("url"), baseUrl()},
                                                   {QStringLiteral("priority"), 1}};
                            return FakeReply::json(
                                QJsonObject{{QStringLiteral("nodes"), QJsonArray{node}}});
                        });
    }
    m_http.addRoute(QStringLiteral("/v1/auth/challenge"), Method::Post,
                    [this](const QHttpServerRequest &r) { return handleChallenge(r); });
    m_http.addRoute(QStringLiteral("/v1/auth/verify"), Method::Post,
                    [this](const QHttpServerRequest &r) { return handleVerify(r); });
    m_http.addRoute(QStringLiteral("/v1/message/send"), Method::Post,
                    [this](const QHttpServerRequest &r) { return handleSend(r); });
    m_http.addRoute(QStringLiteral("/v1/message/pull"), Method::Post,
                    [this](const QHttpServerRequest &r) { return handlePull(r); });
    m_http.addRoute(QStringLiteral("/v1/message/ack"), Method::Post,
                    [this](const QHttpServerRequest &r) { return handleAck(r); });
    m_http.addRoute(QStringLiteral("/v1/message/ack/batch"), Method::Post,
                    [this](const QHttpServerRequest &r) { return handleAckBatch(r); });
    m_http.setWebSocket(QStringLiteral("/v1/ws"), [this](QWebSocket *s) { acceptWebSocket(s); });
}

void FakeRelay::rememberBody(const QString &path, const QJsonObject &body)
{
    QMutexLocker locker(&m_mutex);
    m_lastBodies.insert(path, body);
}

QJsonObject FakeRelay::lastBody(const QString &path) const
{
    QMutexLocker locker(&m_mutex);
    return m_lastBodies.value(path);
}

FakeReply FakeRelay::handleChallenge(const QHttpServerRequest &request)
{
    bool ok = false;
    const QJsonObject body = jsonBody(request, &ok);
    if (!ok)
        return invalidJson();
    rememberBody(QStringLiteral("/v1/auth/challenge"), body);
    const QString challenge = m_auth.issueChallenge(stringField(body, "identityPublicKey"));
    if (challenge.isEmpty())
        return FakeReply::error(400, QStringLiteral("bad_public_key"));
    return FakeReply::json(QJsonObject{{QStringLiteral("challenge"), challenge},
                                       {QStringLiteral("expiresIn"), 60}});
}

FakeReply FakeRelay::handleVerify(const QHttpServerRequest &request)
{
    bool ok = false;
    const QJsonObject body = jsonBody(request, &ok);
    if (!ok)
        return invalidJson();
    rememberBody(QStringLiteral("/v1/auth/verify"), body);
    QString error;
    const QString token = m_auth.verify(stringField(body, "identityPublicKey"), stringField(body, "challenge"),
                                        stringField(body, "signature"), m_http.baseUrl(), &error);
    if (token.isEmpty())
        return FakeReply::error(401, error);
    markSeen(stringField(body, "identityPublicKey"));
    return FakeReply::json(QJsonObject{{QStringLiteral("token"), token},
                                       {QStringLiteral("expiresIn"),
                                        double(m_auth.tokenLifetime())}});
}

FakeReply FakeRelay::handleSend(const QHttpServerRequest &request)
{
    const AuthorizedBody in = authorizedBody(m_auth, request);
    if (in.refusal)
        return *in.refusal;
    const QString &owner = in.owner;
    const QJsonObject &body = in.body;
    rememberBody(QStringLiteral("/v1/message/send"), body);
    const QString messageId = stringField(body, "message_id");
    if (messageId.isEmpty() || stringField(body, "sender_pubkey").isEmpty()
        || stringField(body, "ciphertext").isEmpty() || stringField(body, "signature").isEmpty()
        || !body.value(QStringLiteral("created_at")).isDouble())
        return FakeReply::error(400, QStringLiteral("invalid_envelope"));
    if (canonicalKeyText(stringField(body, "sender_pubkey")) != owner) {
        QMutexLocker locker(&m_mutex);
        ++m_sendRefusals[QStringLiteral("sender_mismatch")];
        return FakeReply::error(403, QStringLiteral("sender_mismatch"));
    }
    const QString recipient = canonicalKeyText(stringField(body, "recipient_pubkey"));
    if (recipient.isEmpty())
        return FakeReply::error(400, QStringLiteral("invalid_recipient"));
    if (!isSeen(recipient))
        return FakeReply::error(404, QStringLiteral("recipient_never_online"));
    {
        QMutexLocker locker(&m_mutex);
        QList<QJsonObject> &queue = m_queues[recipient];
        for (const QJsonObject &queued : std::as_const(queue)) {
            // A resent envelope is accepted once.
            if (stringField(queued, "message_id") == messageId)
                return FakeReply::json(QJsonObject{{QStringLiteral("ok"), true},
                                                   {QStringLiteral("message_id"), messageId}});
        }
        queue.append(body);
    }
    notifyRecipient(recipient, messageId);
    return FakeReply::json(
        QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("message_id"), messageId}});
}

int FakeRelay::sendRefusals(const QString &error) const
{
    QMutexLocker locker(&m_mutex);
    return m_sendRefusals.value(error);
}

FakeReply FakeRelay::handlePull(const QHttpServerRequest &request)
{
    const QString owner = m_auth.ownerOfRequest(request);
    if (owner.isEmpty())
        return unauthorized();
    const QJsonObject body = jsonBody(request);
    rememberBody(QStringLiteral("/v1/message/pull"), body);
    {
        QMutexLocker locker(&m_mutex);
        const auto prepared = m_preparedPulls.constFind(owner);
        if (prepared != m_preparedPulls.cend())
            return FakeReply{200, prepared.value()};
    }
    int limit = body.value(QStringLiteral("limit")).toInt(100);
    limit = qBound(1, limit, 500);
    QJsonArray envelopes;
    {
        QMutexLocker locker(&m_mutex);
        const QList<QJsonObject> queue = m_queues.value(owner);
        for (qsizetype i = 0; i < queue.size() && i < limit; ++i)
            envelopes.append(queue.at(i));
    }
    return FakeReply::json(QJsonObject{{QStringLiteral("envelopes"), envelopes}});
}

FakeReply FakeRelay::handleAck(const QHttpServerRequest &request)
{
    const AuthorizedBody in = authorizedBody(m_auth, request);
    if (in.refusal)
        return *in.refusal;
    const QString &owner = in.owner;
    const QJsonObject &body = in.body;
    const QString id = stringField(body, "message_id");
    QMutexLocker locker(&m_mutex);
    QList<QJsonObject> &queue = m_queues[owner];
    for (qsizetype i = 0; i < queue.size(); ++i) {
        if (stringField(queue.at(i), "message_id") == id) {
            queue.removeAt(i);
            return FakeReply::json(QJsonObject{{QStringLiteral("ok"), true}});
        }
    }
    return FakeReply::error(404, QStringLiteral("not_found"));
}

FakeReply FakeRelay::handleAckBatch(const QHttpServerRequest &request)
{
    const AuthorizedBody in = authorizedBody(m_auth, request);
    if (in.refusal)
        return *in.refusal;
    const QString &owner = in.owner;
    const QJsonObject &body = in.body;
    rememberBody(QStringLiteral("/v1/message/ack/batch"), body);
    QMutexLocker locker(&m_mutex);
    if (m_refuseBatch)
        return FakeReply::error(m_refuseBatchStatus, QStringLiteral("batch_refused"));
    QSet<QString> ids;
    for (const QJsonValue &value : body.value(QStringLiteral("message_ids")).toArray()) {
        if (value.isString())
            ids.insert(value.toString());
    }
    QList<QJsonObject> &queue = m_queues[owner];
    const qsizetype before = queue.size();
    queue.removeIf([&ids](const QJsonObject &queued) {
        return ids.contains(stringField(queued, "message_id"));
    });
    return FakeReply::json(QJsonObject{{QStringLiteral("ok"), true},
                                       {QStringLiteral("acked"), int(before - queue.size())}});
}

void FakeRelay::acceptWebSocket(QWebSocket *socket)
{
    const QString token = QUrlQuery(socket->requestUrl()).queryItemValue(
        QStringLiteral("token"), QUrl::FullyDecoded);
    const QString owner = m_auth.ownerOf(token);
    if (owner.isEmpty()) {
        QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
        socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("unauthorized"));
        return;
    }
    m_sockets.insert(socket, owner);
    QObject::connect(socket, &QWebSocket::textMessageReceived, socket,
                     [socket](const QString &message) {
                         if (message.contains(QLatin1String("client.ping")))
                             socket->sendTextMessage(QStringLiteral("{\"type\":\"pong\"}"));
                     });
    QObject::connect(socket, &QWebSocket::disconnected, socket, [this, socket]() {
        m_sockets.remove(socket);
        socket->deleteLater();
    });
    socket->sendTextMessage(QStringLiteral("{\"type\":\"hello\"}"));
}

void FakeRelay::notifyRecipient(const QString &recipientKey, const QString &messageId)
{
    const QByteArray notice =
        QJsonDocument(QJsonObject{{QStringLiteral("type"), QStringLiteral("message.new")},
                                  {QStringLiteral("message_id"), messageId}})
            .toJson(QJsonDocument::Compact);
    for (auto it = m_sockets.cbegin(); it != m_sockets.cend(); ++it) {
        if (it.value() == recipientKey)
            it.key()->sendTextMessage(QString::fromUtf8(notice));
    }
}

void FakeRelay::setRefuseBatchAck(bool refuse, int status)
{
    QMutexLocker locker(&m_mutex);
    m_refuseBatch = refuse;
    m_refuseBatchStatus = status;
}

void FakeRelay::dropWebSockets()
{
    m_http.runOnServerThread([this]() {
        const QList<QWebSocket *> sockets = m_sockets.keys();
        m_sockets.clear();
        for (QWebSocket *socket : sockets) {
            socket->disconnect();
            socket->abort();
            socket->deleteLater();
        }
    });
}

void FakeRelay::enqueueRaw(const QString &recipientKey, const QJsonObject &envelope)
{
    const QString recipient = canonicalKeyText(recipientKey);
    {
        QMutexLocker locker(&m_mutex);
        m_queues[recipient].append(envelope);
    }
    const QString id = stringField(envelope, "message_id");
    m_http.runOnServerThread([this, recipient, id]() { notifyRecipient(recipient, id); });
}

void FakeRelay::setPreparedPull(const QString &recipientKey, const QByteArray &body)
{
    const QString recipient = canonicalKeyText(recipientKey);
    QMutexLocker locker(&m_mutex);
    if (body.isEmpty())
        m_preparedPulls.remove(recipient);
    else
        m_preparedPulls.insert(recipient, body);
}

void FakeRelay::markSeen(const QString &publicKeyText)
{
    const QString key = canonicalKeyText(publicKeyText);
    if (key.isEmpty())
        return;
    QMutexLocker locker(&m_mutex);
    m_seen.insert(key);
}

QStringList FakeRelay::seenKeys() const
{
    QMutexLocker locker(&m_mutex);
    return QStringList(m_seen.cbegin(), m_seen.cend());
}

bool FakeRelay::isSeen(const QString &key) const
{
    QMutexLocker locker(&m_mutex);
    return m_seen.contains(key);
}

int FakeRelay::queueSize(const QString &recipientKey) const
{
    QMutexLocker locker(&m_mutex);
    return int(m_queues.value(canonicalKeyText(recipientKey)).size());
}

QStringList FakeRelay::queuedIds(const QString &recipientKey) const
{
    QMutexLocker locker(&m_mutex);
    QStringList ids;
    for (const QJsonObject &queued : m_queues.value(canonicalKeyText(recipientKey)))
        ids.append(stringField(queued, "message_id"));
    return ids;
}

QList<QJsonObject> FakeRelay::queuedEnvelopes(const QString &recipientKey) const
{
    QMutexLocker locker(&m_mutex);
    return m_queues.value(canonicalKeyText(recipientKey));
}

int FakeRelay::webSocketCount() const
{
    int count = 0;
    const_cast<FakeHttpServer &>(m_http).runOnServerThread(
        [this, &count]() { count = int(m_sockets.size()); });
    return count;
}

} // namespace velmor::fakes
