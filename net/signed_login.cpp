#include "net/signed_login.h"

#include "identity/crypto.h"
#include "identity/service_login.h"

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>

namespace velmor::net {

QString requestChallenge(const QString &baseUrl, const QString &keyField,
                         const QString &publicKey, int timeoutMs, HttpResponse *replyOut)
{
    const HttpResponse reply = postJson(endpoint(baseUrl, QStringLiteral("/v1/auth/challenge")),
                                        QJsonObject{{keyField, publicKey}}, QString(), timeoutMs);
    if (replyOut)
        *replyOut = reply;
    if (!reply.success)
        return QString();
    const QJsonValue challenge = reply.json().value(QStringLiteral("challenge"));
    return challenge.isString() ? challenge.toString() : QString();
}

QString signChallenge(const velmor::identity::Identity &identity, const QString &baseUrl,
                      const QString &challenge)
{
    const QByteArray text =
        velmor::identity::serviceLoginSigningBytes(velmor::identity::serviceLoginUrl(baseUrl), challenge);
    if (!identity.isValid() || text.isEmpty())
        return QString();
    const QByteArray signature = velmor::crypto::signMessage(identity.privateKey, text);
    if (signature.size() != 64)
        return QString();
    return velmor::crypto::base64UrlEncode(signature);
}

SignedLogin signedLogin(const QString &baseUrl, const velmor::identity::Identity &identity,
                        const QString &keyField, int timeoutMs)
{
    SignedLogin login;
    const QString publicKey = identity.publicKeyText();
    const QString challenge = requestChallenge(baseUrl, keyField, publicKey, timeoutMs, &login.reply);
    if (challenge.isEmpty()) {
        login.outcome = login.reply.success ? SignedLogin::ChallengeMissing
                                            : SignedLogin::ChallengeRefused;
        return login;
    }
    if (!velmor::identity::isWellFormedChallenge(challenge)) {
        login.outcome = SignedLogin::ChallengeInvalid;
        return login;
    }
    const QString signature = signChallenge(identity, baseUrl, challenge);
    if (signature.isEmpty()) {
        login.outcome = SignedLogin::SignFailed;
        return login;
    }
    login.requestedAt = QDateTime::currentSecsSinceEpoch();
    login.reply = postJson(endpoint(baseUrl, QStringLiteral("/v1/auth/verify")),
                           QJsonObject{{keyField, publicKey},
                                       {QStringLiteral("challenge"), challenge},
                                       {QStringLiteral("signature"), signature}},
                           QString(), timeoutMs);
    if (!login.reply.success) {
        login.outcome = SignedLogin::VerifyRefused;
        return login;
    }
    const QJsonValue token = login.reply.json().value(QStringLiteral("token"));
    login.token = token.isString() ? token.toString().trimmed() : QString();
    login.outcome = login.token.isEmpty() ? SignedLogin::TokenMissing : SignedLogin::TokenIssued;
    return login;
}

} // namespace velmor::net
