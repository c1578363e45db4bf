#include "net/relay_api.h"

#include "identity/content.h"
#include "identity/crypto.h"
#include "net/answer_json.h"
#include "net/parallel.h"
#include "net/relay_session.h"

#include <QDateTime>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QSet>
#include <QUuid>

#include <algorithm>
#include <atomic>
#include <iterator>

namespace velmor::chat {

using velmor::net::HttpResponse;
using velmor::net::RelayAuthSession;
using velmor::net::ServiceError;

namespace {

// Below this many envelopes a pull is verified on the calling thread alone.
constexpr qsizetype kParallelValidationMinimum = 4;

// Page sizes a pull steps down through after answers over the size cap.
constexpr int kPullSteps[] = {kPullLimit, 100, 20, 4, 1};
std::atomic<int> g_pullLimit{kPullLimit};

const QString kMessageNotifyType = QStringLiteral("message");
const QString kNeverOnline = QStringLiteral("recipientNeverOnline");

qint64 nowSeconds()
{
    return QDateTime::currentSecsSinceEpoch();
}

QString stringField(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? value.toString() : QString();
}

// Seconds as a JSON number, or as a decimal text from relays that send
// 64-bit values as strings; anything else, and anything before the epoch, is 0.
qint64 secondsField(const QJsonObject &object, const char *key)
{
    return qMax<qint64>(0, velmor::net::jsonInteger(object.value(QLatin1String(key))));
}

// The relay's own error code, or the transport error, or a short printable
// excerpt of an unexpected body: what goes between the brackets of an
// error word.
QString failureDetail(const HttpResponse &response)
{
    if (!response.error.isEmpty())
        return response.error;
    const QJsonObject object = response.json();
    for (const char *key : {"error", "code", "message"}) {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isString() && !value.toString().isEmpty())
            return value.toString().left(120);
    }
    QString excerpt;
    for (const char c : response.body.left(60)) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '_' || c == '-' || c == '.' || c == ' ')
            excerpt += QLatin1Char(c);
    }
    return excerpt.trimmed();
}

bool meansNoRoute(const QString &code)
{
    const QString lower = code.toLower();
    return lower == QLatin1String("no_route") || lower == QLatin1String("recipient_never_online")
        || lower == QLatin1String("recipientneveronline");
}

RelaySendResult failure(const QString &word, int httpStatus = 0)
{
    RelaySendResult result;
    result.ok = false;
    result.error = word;
    if (httpStatus == 401 || httpStatus == 403 || httpStatus == 408) {
        result.serviceError = velmor::net::errorFromHttp(httpStatus, word);
    } else {
        result.serviceError = velmor::net::classifyError(word);
        result.serviceError.httpStatus = httpStatus;
    }
    return result;
}

RelaySendResult retryableFailure(RelaySendResult result, bool retryable)
{
    result.retryable = retryable;
    return result;
}

// The relay's word that it holds this message id already: a post of it was
// taken before (its answer lost on the way back), which settles this one.
// A 409 with its code, or a 409 that names this very id. A bare 409 (a
// proxy, another service's conflict) says nothing about this message, and
// neither does the word under another status (a gateway's error page, a
// refusal that merely quotes it).
bool meansAlreadyHeld(int status, const QJsonObject &reply, const QString &messageId)
{
    if (status != 409)
        return false;
    const QString lower = stringField(reply, "error").toLower();
    if (lower == QLatin1String("duplicate") || lower == QLatin1String("duplicate_message")
        || lower == QLatin1String("duplicate_message_id") || lower == QLatin1String("already_exists")
        || lower == QLatin1String("message_exists") || lower == QLatin1String("already_queued"))
        return true;
    return !messageId.isEmpty() && stringField(reply, "message_id") == messageId;
}

HttpResponse tokenFailure(const QString &error)
{
    HttpResponse response;
    response.status = 0;
    response.error = error.isEmpty() ? QStringLiteral("not_logged_in") : error;
    return response;
}

// `forKey`: only under that identity's session (see RelayAuthSession::token).
HttpResponse authorized(const velmor::net::HttpRequest &requestIn, QString *tokenError,
                        const QString &forKey = QString())
{
    RelayAuthSession &session = RelayAuthSession::instance();
    velmor::net::HttpRequest request = requestIn;
    for (int attempt = 0; attempt < 2; ++attempt) {
        QString error;
        const QString token = session.token(&error, forKey);
        if (token.isEmpty()) {
            if (tokenError)
                *tokenError = error;
            return tokenFailure(error);
        }
        request.bearerToken = token;
        const HttpResponse response = velmor::net::runHttp(request);
        if (response.status != 401)
            return response;
        // The relay no longer takes this token (expired early, or the relay
        // restarted): forget it, and log in afresh for one more try. Callers
        // refused at the same time share one new login rather than each
        // dropping the token the previous one just fetched.
        session.dropToken(token);
        if (attempt == 1)
            return response;
    }
    return tokenFailure(QString());
}

velmor::net::HttpRequest relayRequest(const QByteArray &method, const QString &path,
                                      const QByteArray &body, int timeoutMs)
{
    velmor::net::HttpRequest request;
    request.method = method;
    request.url = velmor::net::endpoint(RelayAuthSession::instance().baseUrl(), path);
    request.body = body;
    request.timeoutMs = timeoutMs;
    return request;
}

} // namespace

HttpResponse RelayApi::authorizedPost(const QString &path, const QJsonObject &body, int timeoutMs,
                                      QString *tokenError, qint64 maxResponseBytes, const QString &forKey)
{
    return authorizedPost(path, QJsonDocument(body).toJson(QJsonDocument::Compact), timeoutMs, tokenError,
                          maxResponseBytes, forKey);
}

HttpResponse RelayApi::authorizedPost(const QString &path, const QByteArray &jsonBody, int timeoutMs,
                                      QString *tokenError, qint64 maxResponseBytes, const QString &forKey)
{
    velmor::net::HttpRequest request = relayRequest("POST", path, jsonBody, timeoutMs);
    request.maxResponseBytes = maxResponseBytes;
    return authorized(request, tokenError, forKey);
}

HttpResponse RelayApi::authorizedGet(const QString &pathAndQuery, int timeoutMs,
                                     QString *tokenError)
{
    return authorized(relayRequest("GET", pathAndQuery, QByteArray(), timeoutMs), tokenError);
}

QJsonObject RelayApi::envelopeToJson(const velmor::identity::Envelope &envelope)
{
    return QJsonObject{
        {QStringLiteral("message_id"), envelope.messageId},
        {QStringLiteral("sender_pubkey"), envelope.senderPubkey},
        {QStringLiteral("recipient_pubkey"), envelope.recipientPubkey},
        {QStringLiteral("sender_address"), envelope.senderAddress},
        {QStringLiteral("created_at"), double(envelope.createdAt)},
        {QStringLiteral("expires_at"), double(envelope.expiresAt)},
        {QStringLiteral("ciphertext"), envelope.ciphertext},
        {QStringLiteral("signature"), envelope.signature},
    };
}

RawEnvelope RelayApi::envelopeFromJson(const QJsonObject &object)
{
    RawEnvelope raw;
    raw.messageId = stringField(object, "message_id");
    raw.senderPubkey = stringField(object, "sender_pubkey");
    raw.recipientPubkey = stringField(object, "recipient_pubkey");
    raw.senderAddress = stringField(object, "sender_address");
    raw.createdAt = secondsField(object, "created_at");
    raw.expiresAt = secondsField(object, "expires_at");
    raw.ciphertext = stringField(object, "ciphertext");
    raw.signature = stringField(object, "signature");
    raw.notifyType = stringField(object, "notify_type");
    raw.ciphertextHash = velmor::crypto::sha256Hex(raw.ciphertext.toUtf8());
    return raw;
}

velmor::identity::Envelope RelayApi::toEnvelope(const RawEnvelope &raw)
{
    velmor::identity::Envelope envelope;
    envelope.messageId = raw.messageId;
    envelope.senderPubkey = raw.senderPubkey;
    envelope.recipientPubkey = raw.recipientPubkey;
    envelope.senderAddress = raw.senderAddress;
    envelope.createdAt = raw.createdAt;
    envelope.expiresAt = raw.expiresAt;
    envelope.ciphertext = raw.ciphertext;
    envelope.signature = raw.signature;
    return envelope;
}

QList<RawEnvelope> RelayApi::parsePullReply(const QByteArray &body, const QString &recipientPubkey,
                                            qint64 now, bool *readable, int maxEnvelopes)
{
    QList<RawEnvelope> envelopes;
    // Something that is not an object has no id to skip or acknowledge it
    // by; it is not an envelope at all.
    const velmor::net::ListRead read = velmor::net::readList(
        body, QLatin1StringView("envelopes"), maxEnvelopes,
        [&envelopes](const QJsonObject &entry) { envelopes.append(envelopeFromJson(entry)); });
    if (readable)
        *readable = read.list;
    if (!read.list)
        return envelopes;
    // Each verification is independent of the others and costs far more
    // than reading the reply: a pull's envelopes are verified in parallel.
    const auto validate = [&](RawEnvelope &raw) {
        const velmor::identity::EnvelopeVerdict verdict =
            velmor::identity::validateEnvelope(toEnvelope(raw), now, recipientPubkey);
        raw.valid = verdict.valid;
        raw.rejectReason = verdict.valid ? QString()
                                         : (verdict.reason.isEmpty() ? QStringLiteral("invalid") : verdict.reason);
    };
    if (envelopes.size() >= kParallelValidationMinimum)
        velmor::net::forEachInParallel(envelopes, validate);
    else
        std::for_each(envelopes.begin(), envelopes.end(), validate);
    for (const RawEnvelope &raw : std::as_const(envelopes)) {
        if (!raw.valid)
            qWarning().noquote() << "[CHAT-INBOUND] rejected" << raw.messageId << raw.rejectReason;
    }
    return envelopes;
}

QList<RawEnvelope> RelayApi::pull()
{
    return pullPage().envelopes;
}

PullPage RelayApi::pullPage()
{
    PullPage page;
    const velmor::identity::Identity identity = RelayAuthSession::instance().identity();
    const QString ownKey = identity.publicKeyText();
    if (ownKey.isEmpty()) {
        page.error = QStringLiteral("not_configured");
        return page;
    }
    // A queue of large envelopes (voice messages, images) can exceed the
    // reply size cap; asking for fewer at a time keeps the inbox moving
    // instead of failing on the same oversized reply for ever. One request
    // per pull, though: an answer that never ends would otherwise be read
    // up to the cap once per page size. The next pull, after the caller's
    // back-off, asks for the next smaller page.
    int limit = g_pullLimit.load();
    QString tokenError;
    HttpResponse response;
    for (;;) {
        page.limit = limit;
        tokenError.clear();
        response = authorizedPost(QStringLiteral("/v1/message/pull"), QJsonObject{{QStringLiteral("limit"), limit}},
                                  kRelayTimeoutMs, &tokenError);
        // A relay that refuses a page of 500 as such (a smaller cap of its
        // own) has answered whole and small: it is asked for 100 at once,
        // and so at the next pulls until its queue is drained.
        const bool sizeRefused = limit == kPullLimit && response.error.isEmpty()
            && (response.status == 400 || response.status == 413 || response.status == 422);
        if (!sizeRefused)
            break;
        limit = 100;
        g_pullLimit.store(limit);
    }
    if (response.success) {
        page.envelopes = parsePullReply(response.body, ownKey, nowSeconds(), &page.answered, limit);
        if (!page.answered)
            page.error = QStringLiteral("pull_invalid_reply");
        else if (!page.full())
            g_pullLimit.store(kPullLimit); // the queue behind the large ones is drained
        return page;
    }
    if (response.error == QLatin1String("response_too_large")) {
        const int *smaller = std::find_if(std::begin(kPullSteps), std::end(kPullSteps),
                                          [limit](int step) { return step < limit; });
        g_pullLimit.store(smaller != std::end(kPullSteps) ? *smaller : kPullSteps[std::size(kPullSteps) - 1]);
        page.error = QStringLiteral("response_too_large");
        return page;
    }
    page.error = !tokenError.isEmpty() ? tokenError
                                       : QStringLiteral("pull_http_%1(%2)").arg(response.status).arg(failureDetail(response));
    return page;
}

RelaySendResult RelayApi::send(const velmor::identity::Envelope &envelope,
                               const QString &notifyType)
{
    QJsonObject body = envelopeToJson(envelope);
    body.insert(QStringLiteral("notify_type"),
                notifyType.isEmpty() ? kMessageNotifyType : notifyType);
    const QByteArray wire = QJsonDocument(body).toJson(QJsonDocument::Compact);
    const qint64 sendMs = kSendAnswerMs + wire.size() * 1000 / kSendSlowLineBytesPerSecond;
    velmor::net::HttpRequest request =
        relayRequest("POST", QStringLiteral("/v1/message/send"), wire, int(qMin<qint64>(sendMs, kRelayTimeoutMs)));
    request.maxResponseBytes = kMaxSendAnswerBytes;
    QString tokenError;
    // A post belongs to the session that sealed it: it goes out under its
    // sender's token or not at all (posted again at its owner's next start).
    const HttpResponse response = authorized(request, &tokenError, envelope.senderPubkey);
    if (!tokenError.isEmpty()) {
        // No token: the relay was not reached or refused the login, which
        // a later attempt may get past; or another identity is signed in.
        return retryableFailure(failure(tokenError), tokenError != QLatin1String("no_identity"));
    }
    const auto taken = [&envelope] {
        RelaySendResult result;
        result.ok = true;
        result.messageId = envelope.messageId;
        return result;
    };
    const QString failed =
        QStringLiteral("send_http_%1(%2)").arg(response.status).arg(failureDetail(response));
    if (!response.error.isEmpty()) {
        // No whole answer: none at all, a time-out, one cut short or one
        // too long to be the relay's. Whether the message was taken is not
        // known, so it is posted again (the relay keeps an id once).
        return retryableFailure(failure(failed, response.status),
                                response.error != QLatin1String("insecure_endpoint"));
    }

    const QJsonObject reply = velmor::net::readBoundedObject(response.body);
    const QString code = stringField(reply, "error");
    if (meansAlreadyHeld(response.status, reply, envelope.messageId))
        return taken();
    if (response.success) {
        const QJsonValue ok = reply.value(QStringLiteral("ok"));
        const QJsonValue id = reply.value(QStringLiteral("message_id"));
        const bool sameId = id.isUndefined() || (id.isString() && id.toString() == envelope.messageId);
        if (ok.isBool() && ok.toBool() && sameId)
            return taken();
        if (ok.isBool() && !ok.toBool()) {
            // A 2xx may still refuse the message with the relay's own code,
            // which then reaches the caller unchanged.
            if (meansNoRoute(code))
                return failure(kNeverOnline, response.status);
            return failure(code.isEmpty() ? QStringLiteral("send_rejected") : code, response.status);
        }
        // Empty, not JSON, or not saying that this message was taken: a
        // proxy or portal answered, or the relay broke off. Not delivered.
        return retryableFailure(failure(QStringLiteral("send_invalid_reply(%1)").arg(response.status),
                                        response.status),
                                true);
    }
    if (response.status == 404 || meansNoRoute(code))
        return failure(kNeverOnline, response.status);
    // A conflict that is not the relay's "already held" may pass (a proxy's,
    // or one the relay resolves): the message is posted again.
    const bool relaySide = response.status >= 500 || response.status == 408 || response.status == 409
        || response.status == 429;
    return retryableFailure(failure(failed, response.status), relaySide);
}

velmor::identity::Envelope RelayApi::sealEnvelope(const QString &recipientPubkey, const QByteArray &payload,
                                                   const QString &messageId, QString *error)
{
    return sealEnvelope(RelayAuthSession::instance().identity(), recipientPubkey, payload, messageId, error);
}

velmor::identity::Envelope RelayApi::sealEnvelope(const velmor::identity::Identity &identity,
                                                   const QString &recipientPubkey, const QByteArray &payload,
                                                   const QString &messageId, QString *error)
{
    const auto fail = [error](const char *word) {
        if (error)
            *error = QLatin1String(word);
        return velmor::identity::Envelope{};
    };
    if (payload.isEmpty())
        return fail("empty_payload");
    if (!identity.isValid())
        return fail("no_identity");

    // The envelope names the recipient by its uncompressed key, the form in
    // which the recipient checks that the envelope is addressed to it.
    const QByteArray recipientKey = velmor::crypto::normalisePublicKey(
        velmor::crypto::base64UrlDecode(recipientPubkey.trimmed()), false);
    if (recipientKey.size() != 65)
        return fail("bad_recipient_key");

    // Sealed with both keys as associated data: the box opens only as this
    // sender's message to this recipient.
    const QString ciphertext =
        velmor::identity::sealDirectMessage(identity, velmor::crypto::base64UrlEncode(recipientKey), payload);
    if (ciphertext.isEmpty())
        return fail("encrypt_failed");

    const velmor::identity::Envelope envelope = velmor::identity::signEnvelope(
        identity, velmor::crypto::base64UrlEncode(recipientKey), ciphertext, messageId, nowSeconds());
    if (envelope.signature.isEmpty())
        return fail("sign_failed");
    return envelope;
}

RelaySendResult RelayApi::sendPayload(const QString &recipientPubkey, const QByteArray &payload,
                                      const QString &notifyType)
{
    const QString messageId = QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
    QString error;
    const velmor::identity::Envelope envelope = sealEnvelope(recipientPubkey, payload, messageId, &error);
    if (envelope.signature.isEmpty())
        return failure(error);
    RelaySendResult result = send(envelope, notifyType);
    result.messageId = messageId;
    return result;
}

QByteArray RelayApi::textContent(const QString &text, qint64 sentAtMs)
{
    MessageContent content;
    content.type = QStringLiteral("text");
    content.text = text;
    content.sentAtMs = sentAtMs;
    return serializeMessageContent(content);
}

QByteArray RelayApi::imageContent(const QByteArray &jpeg, const QString &mime, int width, int height,
                                  qint64 sentAtMs)
{
    MessageContent content;
    content.type = QStringLiteral("image");
    content.sentAtMs = sentAtMs;
    content.imageB64 = velmor::crypto::base64UrlEncode(jpeg);
    content.imageMime = mime.isEmpty() ? QStringLiteral("image/jpeg") : mime;
    content.imageWidth = qMax(0, width);
    content.imageHeight = qMax(0, height);
    return serializeMessageContent(content);
}

QByteArray RelayApi::voiceContent(const QByteArray &audio, int durationMs, const QList<int> &waveform,
                                  qint64 sentAtMs)
{
    MessageContent content;
    content.type = QStringLiteral("voice");
    content.sentAtMs = sentAtMs;
    content.voiceB64 = velmor::crypto::base64UrlEncode(audio);
    content.durationMs = qMax(0, durationMs);
    content.voiceWaveform = waveform;
    return serializeMessageContent(content);
}

RelaySendResult RelayApi::sendText(const QString &peer, const QString &text)
{
    if (text.trimmed().isEmpty())
        return failure(QStringLiteral("empty_payload"));
    return sendPayload(peer, textContent(text), kMessageNotifyType);
}

RelaySendResult RelayApi::sendImage(const QString &peer, const QByteArray &jpeg, const QString &mime,
                                    int width, int height)
{
    if (jpeg.isEmpty())
        return failure(QStringLiteral("empty_payload"));
    return sendPayload(peer, imageContent(jpeg, mime, width, height), kMessageNotifyType);
}

RelaySendResult RelayApi::sendVoice(const QString &peer, const QByteArray &audio, int durationMs,
                                    const QList<int> &waveform)
{
    if (audio.isEmpty())
        return failure(QStringLiteral("empty_payload"));
    return sendPayload(peer, voiceContent(audio, durationMs, waveform), kMessageNotifyType);
}

AckResult RelayApi::ack(const QStringList &idsIn)
{
    AckResult result;
    // Each id is answered once, whatever the caller passed twice.
    QStringList ids;
    QSet<QString> seen;
    for (const QString &id : idsIn) {
        if (id.isEmpty()) {
            result.failedIds.append(id);
            continue;
        }
        if (!seen.contains(id)) {
            seen.insert(id);
            ids.append(id);
        }
    }

    auto noteFailure = [&result](const HttpResponse &response, const char *what) {
        const QString word = QStringLiteral("%1_http_%2(%3)")
                                 .arg(QLatin1String(what))
                                 .arg(response.status)
                                 .arg(failureDetail(response));
        result.error = velmor::net::errorFromHttp(response.status, word);
    };

    bool transportDown = false;
    for (qsizetype start = 0; start < ids.size(); start += kAckBatchSize) {
        const QStringList chunk = ids.mid(start, kAckBatchSize);
        if (transportDown) {
            result.failedIds += chunk;
            continue;
        }
        const HttpResponse batch = authorizedPost(
            QStringLiteral("/v1/message/ack/batch"),
            QJsonObject{{QStringLiteral("message_ids"), QJsonArray::fromStringList(chunk)}});
        // 404: the relay holds none of these any more, which settles them.
        if (batch.success || batch.status == 404) {
            result.ackedIds += chunk;
            continue;
        }
        if (batch.status == 0 || (batch.status >= 500 && batch.status != 501)) {
            // No relay, no token, or a relay failing on its side: one
            // request per id would only repeat the same failure a hundred
            // times (501 is a relay without the batch path: one by one).
            noteFailure(batch, "ack_batch");
            result.failedIds += chunk;
            transportDown = true;
            continue;
        }
        // Any other refusal is settled id by id.
        for (qsizetype i = 0; i < chunk.size(); ++i) {
            const QString &id = chunk.at(i);
            if (transportDown) {
                result.failedIds.append(id);
                continue;
            }
            const HttpResponse single = authorizedPost(
                QStringLiteral("/v1/message/ack"), QJsonObject{{QStringLiteral("message_id"), id}});
            if (single.success || single.status == 404) {
                result.ackedIds.append(id);
            } else {
                noteFailure(single, "ack");
                result.failedIds.append(id);
                if (single.status == 0)
                    transportDown = true;
            }
        }
    }
    return result;
}

} // namespace velmor::chat
