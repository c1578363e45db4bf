// The process-wide relay session: the relay node's base URL, the user's key
// pair and the bearer token obtained by a signed challenge.
#pragma once

#include "identity/identity.h"

#include <QMutex>
#include <QString>
#include <QWaitCondition>

namespace velmor::net {

// Tokens are renewed when they expire within this margin.
constexpr qint64 kTokenRenewMarginSeconds = 30;
// Lifetime assumed for a token whose reply names none.
constexpr qint64 kDefaultTokenLifetimeSeconds = 300;
constexpr int kLoginTimeoutMs = 10000;

class RelayAuthSession
{
public:
    static RelayAuthSession &instance();

    // Sets the normalised base URL and the key pair; forgets any token.
    void configure(const QString &baseUrl, const velmor::identity::Identity &identity);
    // Forgets token, expiry, keys and base URL.
    void clear();
    // Forgets token and expiry; keeps base URL and keys.
    void dropToken();
    // The same, but only while the cached token is still `refused`: a token
    // that another caller fetched after the refusal stays.
    void dropToken(const QString &refused);

    // Blocking. The cached token while it is valid for more than the margin,
    // otherwise a challenge login. Empty with the error word in *error on
    // failure: "not_configured" (no base URL or no key), "invalid_identity"
    // (a key that gives no public key), "challenge_http_<status>(<detail>)",
    // "challenge_network:<detail>", "challenge_missing", "challenge_invalid",
    // "sign_failed", "verify_http_<status>(<detail>)", "verify_network:<detail>",
    // "token_missing", "session_changed". The sign-in shows them as they are.
    // With `forKey`, only a token of that identity: a session of another
    // identity gives none ("session_changed"), so work of a session that
    // ended never goes out under the next one's.
    QString token(QString *error = nullptr, const QString &forKey = QString());
    bool hasToken(QString *error = nullptr);

    bool isConfigured() const;
    velmor::identity::Identity identity() const;
    QString baseUrl() const;

    // Seconds since the epoch at which the cached token expires; 0 without one.
    qint64 tokenExpiry() const;
    // Successful logins since the process started (diagnostics and tests).
    int loginCount() const;

private:
    RelayAuthSession() = default;
    RelayAuthSession(const RelayAuthSession &) = delete;
    RelayAuthSession &operator=(const RelayAuthSession &) = delete;

    mutable QMutex m_mutex;
    QWaitCondition m_loginDone;
    QString m_baseUrl;
    velmor::identity::Identity m_identity;
    QString m_token;
    qint64 m_expiresAt = 0;
    bool m_loginRunning = false;
    quint64 m_loginSequence = 0; // finished logins, for callers waiting on one
    QString m_lastLoginError;
    quint64 m_generation = 0; // bumped by configure and clear
    int m_loginCount = 0;
};

} // namespace velmor::net
