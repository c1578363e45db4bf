#include "net/supergroup_client.h"

#include "net/relay_session.h"
#include "net/signed_login.h"

#include <QDateTime>
#include <QDebug>
#include <QJsonDocument>
#include <QMutexLocker>

namespace velmor::sg {

using velmor::identity::Identity;
using velmor::net::HttpResponse;

namespace {

qint64 nowSeconds()
{
    return QDateTime::currentSecsSinceEpoch();
}

QString transportWord(const HttpResponse &response)
{
    return QStringLiteral("sg_network:%1").arg(response.error.isEmpty() ? QStringLiteral("no_answer")
                                                                         : response.error);
}

} // namespace

SuperGroupServiceClient &SuperGroupServiceClient::instance()
{
    static SuperGroupServiceClient client;
    return client;
}

Identity SuperGroupServiceClient::identity()
{
    return velmor::net::RelayAuthSession::instance().identity();
}

QString SuperGroupServiceClient::login(const QString &baseUrl, const Identity &identity,
                                       qint64 *expiresAt, QString *error) const
{
    const velmor::net::SignedLogin login = velmor::net::signedLogin(
        baseUrl, identity, QStringLiteral("pubkey"), kChallengeTimeoutMs);
    QString word;
    switch (login.outcome) {
    case velmor::net::SignedLogin::ChallengeRefused:
        // No answer at all is a network failure, not an HTTP status.
        word = login.reply.status == 0 ? transportWord(login.reply)
                                       : QStringLiteral("sg_challenge_%1").arg(login.reply.status);
        break;
    case velmor::net::SignedLogin::ChallengeMissing:
        word = QStringLiteral("sg_challenge_missing");
        break;
    case velmor::net::SignedLogin::ChallengeInvalid:
        word = QStringLiteral("sg_challenge_invalid");
        break;
    case velmor::net::SignedLogin::SignFailed:
        word = QStringLiteral("sign_failed");
        break;
    case velmor::net::SignedLogin::VerifyRefused:
        word = login.reply.status == 0 ? transportWord(login.reply)
                                       : QStringLiteral("sg_verify_%1").arg(login.reply.status);
        break;
    case velmor::net::SignedLogin::TokenMissing:
        word = QStringLiteral("sg_token_missing");
        break;
    case velmor::net::SignedLogin::TokenIssued:
        break;
    }
    if (!word.isEmpty()) {
        if (error)
            *error = word;
        return QString();
    }
    // A lifetime beyond a year is cut to one, so the expiry cannot overflow.
    constexpr qint64 kLongestLifetime = 366 * 24 * 3600;
    qint64 lifetime = velmor::net::jsonInteger(login.reply.json().value(QStringLiteral("expires_in")));
    if (lifetime <= 0)
        lifetime = kDefaultTokenLifetimeSeconds;
    lifetime = qMin(lifetime, kLongestLifetime);
    if (expiresAt)
        *expiresAt = login.requestedAt + lifetime;
    return login.token;
}

std::shared_ptr<QMutex> SuperGroupServiceClient::loginLock(const QString &baseUrl)
{
    QMutexLocker locker(&m_mutex);
    auto &lock = m_loginLocks[baseUrl];
    if (!lock)
        lock = std::make_shared<QMutex>();
    return lock;
}

QString SuperGroupServiceClient::token(const QString &baseUrl, QString *error)
{
    const QString base = velmor::net::normaliseBaseUrl(baseUrl);
    if (base.isEmpty() || !velmor::net::isAllowedEndpoint(QUrl(base))) {
        if (error)
            *error = QStringLiteral("invalid_server_url");
        return QString();
    }
    const Identity me = identity();
    if (!me.isValid()) {
        if (error)
            *error = QStringLiteral("no_identity");
        return QString();
    }
    const QString pubkey = me.publicKeyText();

    auto cached = [&]() -> QString {
        QMutexLocker locker(&m_mutex);
        const auto it = m_tokens.constFind(base);
        if (it != m_tokens.constEnd() && it->pubkey == pubkey
            && it->expiresAt - nowSeconds() > kTokenRenewMarginSeconds)
            return it->token;
        return QString();
    };

    QString token = cached();
    if (!token.isEmpty())
        return token;

    const std::shared_ptr<QMutex> lock = loginLock(base);
    QMutexLocker loginLocker(lock.get());
    // Another caller may have logged in while this one waited.
    token = cached();
    if (!token.isEmpty())
        return token;

    qint64 expiresAt = 0;
    QString loginError;
    token = login(base, me, &expiresAt, &loginError);
    if (token.isEmpty()) {
        qWarning().noquote() << "[SG] login failed url=" << base << "err=" << loginError;
        if (error)
            *error = loginError;
        return QString();
    }
    QMutexLocker locker(&m_mutex);
    m_tokens.insert(base, CachedToken{token, pubkey, expiresAt});
    return token;
}

void SuperGroupServiceClient::forgetToken(const QString &baseUrl)
{
    QMutexLocker locker(&m_mutex);
    m_tokens.remove(velmor::net::normaliseBaseUrl(baseUrl));
}

void SuperGroupServiceClient::dropIfCurrent(const QString &baseUrl, const QString &token)
{
    // A token refused by the server is dropped only when it is still the cached
    // one, so a fresh token that another thread just obtained survives.
    QMutexLocker locker(&m_mutex);
    const auto it = m_tokens.find(baseUrl);
    if (it != m_tokens.end() && it->token == token)
        m_tokens.erase(it);
}

void SuperGroupServiceClient::clearTokens()
{
    QMutexLocker locker(&m_mutex);
    m_tokens.clear();
}

HttpResponse SuperGroupServiceClient::request(const QString &baseUrl, const QByteArray &method,
                                              const QString &path, const QByteArray &body,
                                              QString *authError, int timeoutMs,
                                              const QByteArray &contentType, qint64 maxResponseBytes)
{
    const QString base = velmor::net::normaliseBaseUrl(baseUrl);
    if (authError)
        authError->clear();

    auto run = [&](const QString &bearer) {
        velmor::net::HttpRequest request;
        request.method = method;
        request.url = velmor::net::endpoint(base, path);
        request.body = body;
        request.contentType = contentType;
        request.bearerToken = bearer;
        request.timeoutMs = timeoutMs;
        request.maxResponseBytes = maxResponseBytes;
        return velmor::net::runHttp(request);
    };

    QString loginError;
    QString bearer = token(base, &loginError);
    if (bearer.isEmpty()) {
        if (authError)
            *authError = loginError;
        HttpResponse none;
        none.error = loginError;
        return none;
    }
    HttpResponse reply = run(bearer);
    if (reply.status != 401)
        return reply;

    // Exactly one fresh login and one repeat.
    dropIfCurrent(base, bearer);
    bearer = token(base, &loginError);
    if (bearer.isEmpty()) {
        if (authError)
            *authError = loginError;
        return reply;
    }
    reply = run(bearer);
    if (reply.status == 401)
        dropIfCurrent(base, bearer);
    return reply;
}

HttpResponse SuperGroupServiceClient::getJson(const QString &baseUrl, const QString &path,
                                              QString *authError, int timeoutMs)
{
    return request(baseUrl, "GET", path, QByteArray(), authError, timeoutMs);
}

HttpResponse SuperGroupServiceClient::postJson(const QString &baseUrl, const QString &path,
                                               const QJsonObject &body, QString *authError,
                                               int timeoutMs)
{
    return request(baseUrl, "POST", path, QJsonDocument(body).toJson(QJsonDocument::Compact),
                   authError, timeoutMs);
}

} // namespace velmor::sg
