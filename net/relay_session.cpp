#include "net/relay_session.h"

#include "net/http.h"
#include "net/signed_login.h"

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QMutexLocker>

namespace velmor::net {

namespace {

qint64 nowSeconds()
{
    return QDateTime::currentSecsSinceEpoch();
}

// "<step>_http_<status>(<relay's code or transport text>)" when the relay
// answered at all, "<step>_network:<transport text>" when no answer came (no
// connection, time-out, refused before sending): the user can tell a relay
// that says no from one that cannot be reached.
QString stepError(const char *step, const HttpResponse &response)
{
    if (response.status == 0) {
        const QString detail =
            response.error.isEmpty() ? QStringLiteral("network_error") : response.error.left(120);
        return QStringLiteral("%1_network:%2").arg(QLatin1String(step), detail);
    }
    QString detail = response.error;
    if (detail.isEmpty()) {
        const QJsonValue code = response.json().value(QStringLiteral("error"));
        if (code.isString())
            detail = code.toString().left(120);
    }
    // The brackets stay even when empty: the word keeps one shape.
    return QStringLiteral("%1_http_%2(%3)").arg(QLatin1String(step)).arg(response.status).arg(detail);
}

struct LoginOutcome
{
    QString token;
    qint64 expiresAt = 0;
    QString error;
};

LoginOutcome challengeLogin(const QString &baseUrl, const velmor::identity::Identity &identity)
{
    LoginOutcome outcome;
    // A key of the wrong size, or one outside the curve's range, gives no
    // public key: nothing is sent.
    if (identity.publicKeyText().isEmpty()) {
        outcome.error = QStringLiteral("invalid_identity");
        return outcome;
    }
    // The relay's login body names the key in camelCase.
    const SignedLogin login = signedLogin(baseUrl, identity, QStringLiteral("identityPublicKey"),
                                          kLoginTimeoutMs);
    switch (login.outcome) {
    case SignedLogin::ChallengeRefused:
        outcome.error = stepError("challenge", login.reply);
        return outcome;
    case SignedLogin::ChallengeMissing:
        outcome.error = QStringLiteral("challenge_missing");
        return outcome;
    case SignedLogin::ChallengeInvalid:
        outcome.error = QStringLiteral("challenge_invalid");
        return outcome;
    case SignedLogin::SignFailed:
        outcome.error = QStringLiteral("sign_failed");
        return outcome;
    case SignedLogin::VerifyRefused:
        outcome.error = stepError("verify", login.reply);
        return outcome;
    case SignedLogin::TokenMissing:
        outcome.error = QStringLiteral("token_missing");
        return outcome;
    case SignedLogin::TokenIssued:
        break;
    }

    // The lifetime is counted from the moment the request left, so a slow
    // answer never makes the token look younger than it is.
    const QJsonObject reply = login.reply.json();
    const qint64 requestedAt = login.requestedAt;
    const QString token = login.token;
    // A lifetime beyond a year is cut to one: the sum must not overflow, and
    // a token that old is re-fetched soon enough anyway.
    constexpr qint64 kLongestLifetime = 366 * 24 * 3600;
    const QJsonValue expiresInValue = reply.value(QStringLiteral("expiresIn"));
    const QJsonValue expiresAtValue = reply.value(QStringLiteral("expiresAt"));
    const qint64 expiresIn = expiresInValue.isDouble() ? jsonInteger(expiresInValue) : 0;
    const qint64 expiresAtGiven = expiresAtValue.isDouble() ? jsonInteger(expiresAtValue) : 0;
    qint64 expiresAt = 0;
    if (expiresIn > 0)
        expiresAt = requestedAt + qMin(expiresIn, kLongestLifetime);
    else if (expiresAtGiven > 0)
        expiresAt = qMin(expiresAtGiven, requestedAt + kLongestLifetime);
    else
        expiresAt = requestedAt + kDefaultTokenLifetimeSeconds;

    outcome.token = token;
    outcome.expiresAt = expiresAt;
    return outcome;
}

} // namespace

RelayAuthSession &RelayAuthSession::instance()
{
    static RelayAuthSession session;
    return session;
}

void RelayAuthSession::configure(const QString &baseUrl, const velmor::identity::Identity &identity)
{
    QMutexLocker locker(&m_mutex);
    m_baseUrl = normaliseBaseUrl(baseUrl);
    m_identity = identity;
    m_token.clear();
    m_expiresAt = 0;
    ++m_generation;
}

void RelayAuthSession::clear()
{
    QMutexLocker locker(&m_mutex);
    m_baseUrl.clear();
    m_identity = velmor::identity::Identity();
    m_token.clear();
    m_expiresAt = 0;
    ++m_generation;
}

void RelayAuthSession::dropToken()
{
    QMutexLocker locker(&m_mutex);
    m_token.clear();
    m_expiresAt = 0;
}

void RelayAuthSession::dropToken(const QString &refused)
{
    QMutexLocker locker(&m_mutex);
    if (m_token != refused)
        return;
    m_token.clear();
    m_expiresAt = 0;
}

QString RelayAuthSession::token(QString *error, const QString &forKey)
{
    QMutexLocker locker(&m_mutex);
    for (;;) {
        if (m_baseUrl.isEmpty() || m_identity.privateKey.isEmpty()) {
            if (error)
                *error = QStringLiteral("not_configured");
            return {};
        }
        if (!forKey.isEmpty() && m_identity.publicKeyText() != forKey) {
            if (error)
                *error = QStringLiteral("session_changed");
            return {};
        }
        if (!m_token.isEmpty() && m_expiresAt - nowSeconds() > kTokenRenewMarginSeconds) {
            if (error)
                error->clear();
            return m_token;
        }
        if (!m_loginRunning)
            break;
        // Another caller is logging in; its token serves everybody. When it
        // fails, its error is ours too, so a dead relay is asked once, not
        // once per waiting thread.
        const quint64 waitingFor = m_loginSequence;
        const quint64 generation = m_generation;
        while (m_loginRunning && m_loginSequence == waitingFor)
            m_loginDone.wait(&m_mutex);
        if (m_generation != generation)
            continue; // reconfigured meanwhile: that login was for another session
        if (!m_token.isEmpty()) {
            // Fresh from the login we waited for, even when the relay hands
            // out tokens shorter-lived than the renewal margin.
            if (error)
                error->clear();
            return m_token;
        }
        if (!m_lastLoginError.isEmpty()) {
            if (error)
                *error = m_lastLoginError;
            return {};
        }
    }

    // The login runs without the lock so that identity(), baseUrl() and the
    // other readers are never held up by the network; m_loginRunning keeps
    // concurrent callers from starting logins of their own.
    m_loginRunning = true;
    const quint64 generation = m_generation;
    const QString baseUrl = m_baseUrl;
    const velmor::identity::Identity identity = m_identity;
    locker.unlock();

    const LoginOutcome outcome = challengeLogin(baseUrl, identity);

    locker.relock();
    m_loginRunning = false;
    ++m_loginSequence;
    QString result;
    if (generation != m_generation) {
        // The session was reconfigured or cleared while we were logging in:
        // the result belongs to a session that is gone.
        m_lastLoginError = QStringLiteral("session_changed");
    } else if (outcome.token.isEmpty()) {
        m_lastLoginError = outcome.error;
    } else {
        m_token = outcome.token;
        m_expiresAt = outcome.expiresAt;
        m_lastLoginError.clear();
        ++m_loginCount;
        result = m_token;
    }
    if (error)
        *error = result.isEmpty() ? m_lastLoginError : QString();
    m_loginDone.wakeAll();
    return result;
}

bool RelayAuthSession::hasToken(QString *error)
{
    return !token(error).isEmpty();
}

bool RelayAuthSession::isConfigured() const
{
    QMutexLocker locker(&m_mutex);
    return !m_baseUrl.isEmpty() && m_identity.privateKey.size() == 32;
}

velmor::identity::Identity RelayAuthSession::identity() const
{
    QMutexLocker locker(&m_mutex);
    return m_identity;
}

QString RelayAuthSession::baseUrl() const
{
    QMutexLocker locker(&m_mutex);
    return m_baseUrl;
}

qint64 RelayAuthSession::tokenExpiry() const
{
    QMutexLocker locker(&m_mutex);
    return m_token.isEmpty() ? 0 : m_expiresAt;
}

int RelayAuthSession::loginCount() const
{
    QMutexLocker locker(&m_mutex);
    return m_loginCount;
}

} // namespace velmor::net
