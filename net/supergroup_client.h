// The process-wide client of the group centre and of the super-group servers:
// one bearer token per server base URL, obtained by signing that server's
// challenge with the user's identity key (docs/protocol.md).
#pragma once

#include "identity/identity.h"
#include "net/http.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QMutex>
#include <QString>

#include <memory>

namespace velmor::sg {

// Token lifetime assumed when a login reply names none.
constexpr qint64 kDefaultTokenLifetimeSeconds = 600;
// A cached token is used only while it has more than this left.
constexpr qint64 kTokenRenewMarginSeconds = 30;
constexpr int kChallengeTimeoutMs = 8000;

class SuperGroupServiceClient
{
public:
    static SuperGroupServiceClient &instance();

    // Blocking. The cached token of that server while it stays valid for more
    // than 30 s and belongs to the signed-in key, else a fresh challenge login.
    // Empty on failure, with an error word in *error.
    QString token(const QString &baseUrl, QString *error = nullptr);
    void forgetToken(const QString &baseUrl);
    void clearTokens();

    // One authenticated request. A 401 answer drops that server's token,
    // logs in once more and repeats the request once; a second 401 is returned
    // as it is. When no token can be had the response has status 0 and the
    // login's error word is put in *authError (left empty otherwise).
    velmor::net::HttpResponse request(const QString &baseUrl, const QByteArray &method,
                                      const QString &path, const QByteArray &body,
                                      QString *authError = nullptr,
                                      int timeoutMs = velmor::net::kDefaultTimeoutMs,
                                      const QByteArray &contentType = "application/json",
                                      qint64 maxResponseBytes = velmor::net::kMaxResponseBytes);
    velmor::net::HttpResponse getJson(const QString &baseUrl, const QString &path,
                                      QString *authError = nullptr,
                                      int timeoutMs = velmor::net::kDefaultTimeoutMs);
    velmor::net::HttpResponse postJson(const QString &baseUrl, const QString &path,
                                       const QJsonObject &body, QString *authError = nullptr,
                                       int timeoutMs = velmor::net::kDefaultTimeoutMs);

    // The signed-in user's key pair (from the relay session).
    static velmor::identity::Identity identity();

private:
    SuperGroupServiceClient() = default;

    struct CachedToken
    {
        QString token;
        QString pubkey;       // the key the token was issued to
        qint64 expiresAt = 0; // seconds since the epoch
    };

    QString login(const QString &baseUrl, const velmor::identity::Identity &identity,
                  qint64 *expiresAt, QString *error) const;
    std::shared_ptr<QMutex> loginLock(const QString &baseUrl);
    void dropIfCurrent(const QString &baseUrl, const QString &token);

    QMutex m_mutex; // guards the two maps
    QHash<QString, CachedToken> m_tokens;
    // Logins to one server are serialised so that concurrent callers share one
    // login, while a slow server does not hold up logins to the others.
    QHash<QString, std::shared_ptr<QMutex>> m_loginLocks;
};

} // namespace velmor::sg
