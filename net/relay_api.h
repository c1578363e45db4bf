// One-to-one messages through the relay node: send sealed and signed
// envelopes, pull the inbox (every envelope validated), acknowledge.
// Every call is blocking and meant for a pool thread; all of them use the
// process-wide relay session for the base URL, the keys and the token.
#pragma once

#include "identity/content.h"
#include "identity/envelope.h"
#include "net/http.h"
#include "net/service_error.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

namespace velmor::chat {

constexpr int kAckBatchSize = 100;
constexpr int kPullLimit = 500; // envelopes asked for per pull, the most the relay gives
constexpr int kRelayTimeoutMs = 15000;
// A relay answers a send at once: a post gets this long, plus the time its
// envelope takes to go out on a slow line, and no more than kRelayTimeoutMs.
// A relay that holds sends costs the queue that long per attempt, not more.
constexpr int kSendAnswerMs = 5000;
constexpr qint64 kSendSlowLineBytesPerSecond = 32 * 1024;
// The answer to a send is a few dozen bytes: a longer one is not the
// relay's, and is not read on.
constexpr qint64 kMaxSendAnswerBytes = 64 * 1024;

struct RawEnvelope
{
    QString messageId;
    QString senderPubkey;
    QString recipientPubkey;
    QString senderAddress;
    qint64 createdAt = 0; // seconds
    qint64 expiresAt = 0; // seconds
    QString ciphertext;
    QString signature;
    QString notifyType;
    bool valid = false;
    QString rejectReason;   // empty when valid
    QString ciphertextHash; // lower-case hex SHA-256 of the ciphertext text
    // Set by the inbox's pool thread for a valid one-to-one envelope: its
    // sealed content opened for the user and read (opened false: not tried,
    // so the reader opens it itself; plaintext empty: it did not open).
    bool opened = false;
    QByteArray plaintext;
    MessageContent content;
};

// One page of the inbox. `answered` is false when the relay could not be
// reached or gave no readable page (a failure, HTTP error, malformed or
// wrongly typed reply); then `error` says which.
struct PullPage
{
    QList<RawEnvelope> envelopes;
    bool answered = false;
    int limit = 0; // envelopes asked for
    QString error;
    // The relay had at least this many: more may be waiting behind them.
    bool full() const { return answered && limit > 0 && envelopes.size() >= limit; }
};

struct AckResult
{
    QStringList ackedIds;
    QStringList failedIds;
    velmor::net::ServiceError error; // of the last failed request
};

struct RelaySendResult
{
    bool ok = false;
    QString messageId;
    QString error; // empty on success
    velmor::net::ServiceError serviceError;
    // The failure says nothing about the message (no answer, a time-out,
    // a failure on the relay's side, an answer that cannot be read): the
    // same envelope may be posted again.
    bool retryable = false;
};

class RelayApi
{
public:
    // Posts a signed envelope with its notify type to "/v1/message/send".
    // Only an answer that says the message was taken ({"ok": true}, or the
    // relay's word that it holds the id already) is a success.
    static RelaySendResult send(const velmor::identity::Envelope &envelope,
                                const QString &notifyType);
    // Seals the payload for the recipient, signs the envelope with the
    // session's identity and sends it under a new message id.
    static RelaySendResult sendPayload(const QString &recipientPubkey, const QByteArray &payload,
                                       const QString &notifyType);
    // Seals the payload for the recipient and signs the envelope under
    // `messageId` with the session's identity, without posting it; empty
    // (no signature) with the error word in *error on failure.
    static velmor::identity::Envelope sealEnvelope(const QString &recipientPubkey, const QByteArray &payload,
                                                   const QString &messageId, QString *error);
    // The same with `sender`'s identity (a send accepted before its
    // session ended is sealed after the sign-out).
    static velmor::identity::Envelope sealEnvelope(const velmor::identity::Identity &sender,
                                                   const QString &recipientPubkey, const QByteArray &payload,
                                                   const QString &messageId, QString *error);
    // The content of a text, picture or voice clip as it is sealed, with
    // the sender's clock in ms when it is not 0.
    static QByteArray textContent(const QString &text, qint64 sentAtMs = 0);
    static QByteArray imageContent(const QByteArray &jpeg, const QString &mime, int width, int height,
                                   qint64 sentAtMs = 0);
    static QByteArray voiceContent(const QByteArray &audio, int durationMs, const QList<int> &waveform,
                                   qint64 sentAtMs = 0);
    static RelaySendResult sendText(const QString &peer, const QString &text);
    static RelaySendResult sendImage(const QString &peer, const QByteArray &jpeg,
                                     const QString &mime, int width, int height);
    static RelaySendResult sendVoice(const QString &peer, const QByteArray &audio, int durationMs,
                                     const QList<int> &waveform);

    // The inbox; empty on any transport or HTTP failure. Envelopes that fail
    // validation are returned too, with valid false and their reason.
    static QList<RawEnvelope> pull();
    // The same with what the relay's answer was.
    static PullPage pullPage();
    // Each id ends in exactly one of ackedIds and failedIds.
    static AckResult ack(const QStringList &ids);

    // An authorised request to the relay (bearer token of the session; after
    // a 401 the token is dropped and the request made once more with a fresh
    // one). For the other relay paths, such as the group fan-out. A request
    // whose answer is known to be short (kMaxSendAnswerBytes) goes out at
    // once; a long answer's is held a moment for its read bound
    // (net/http.cpp). With `forKey` (the sender
    // key of what is posted), only under that identity's token: another
    // identity signed in gives *tokenError "session_changed", nothing posted.
    static velmor::net::HttpResponse authorizedPost(const QString &path, const QJsonObject &body,
                                                    int timeoutMs = kRelayTimeoutMs,
                                                    QString *tokenError = nullptr,
                                                    qint64 maxResponseBytes = velmor::net::kMaxResponseBytes,
                                                    const QString &forKey = QString());
    // The same with the body's JSON as it was written (posted as it is).
    static velmor::net::HttpResponse authorizedPost(const QString &path, const QByteArray &jsonBody, int timeoutMs,
                                                    QString *tokenError, qint64 maxResponseBytes,
                                                    const QString &forKey);
    static velmor::net::HttpResponse authorizedGet(const QString &pathAndQuery,
                                                   int timeoutMs = kRelayTimeoutMs,
                                                   QString *tokenError = nullptr);

    // Wire form of one envelope (snake-case keys) and its reading back; the
    // reader never fails, missing or mistyped fields stay empty.
    static QJsonObject envelopeToJson(const velmor::identity::Envelope &envelope);
    static RawEnvelope envelopeFromJson(const QJsonObject &object);
    // The signed fields of a pulled envelope, as the validator reads them.
    static velmor::identity::Envelope toEnvelope(const RawEnvelope &raw);
    // Reads a pull reply and validates each envelope for the recipient:
    // the first `maxEnvelopes` entries, the rest is neither built nor kept
    // (it comes again at the next pull). *readable is false for a body that
    // is not an object with an "envelopes" array.
    static QList<RawEnvelope> parsePullReply(const QByteArray &body,
                                             const QString &recipientPubkey, qint64 nowSeconds,
                                             bool *readable = nullptr, int maxEnvelopes = kPullLimit);
};

} // namespace velmor::chat
