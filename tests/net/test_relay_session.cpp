// The relay session against the local relay: the signed-challenge login,
// the token cache with its renewal margin, refusal handling, and one login
// for many concurrent callers.
#include "identity/crypto.h"
#include "identity/envelope.h"
#include "identity/identity.h"
#include "net/http.h"
#include "net/relay_api.h"
#include "net/relay_session.h"
#include "net/signed_login.h"
#include "identity/service_login.h"
#include "support/fake_relay.h"

#include <QSet>
#include <QThreadPool>
#include <QtConcurrent>
#include <QtTest>

using namespace velmor::net;
using velmor::fakes::FakeRelay;
using velmor::fakes::Fault;
using velmor::identity::Identity;

class RelaySessionTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void loginSignsTheChallengeWithCamelCaseBody();
    void cachedTokenIsReused();
    void tokenNearExpiryIsRenewed();
    void notConfiguredFailsWithoutRequest();
    void configureClearAndDrop();
    void droppingARefusedTokenSparesItsSuccessor();
    void relayRefusingAStaleTokenMakesItDropped();
    void persistentRefusalLeavesNoToken();
    void loginFailuresAreErrorWords();
    void relayVerifiesSignaturesForReal();
    void hostileServerCannotBorrowTheLogin();
    void challengesOfAnotherFormAreNotSigned_data();
    void challengesOfAnotherFormAreNotSigned();
    void tenThreadsCauseOneLogin();
    void tenThreadsShareOneFailedLogin();
    void readersAreNotHeldUpByALogin();
    void loginOutlivedByItsSessionIsDiscarded();

private:
    QString logInThrough(FakeRelay &hostile, const QString &challenge);

    FakeRelay m_relay;
    Identity m_alice;
};

void RelaySessionTest::initTestCase()
{
    QVERIFY(m_relay.start() > 0);
    m_alice = Identity::generate();
    QVERIFY(m_alice.isValid());
}

void RelaySessionTest::init()
{
    m_relay.http().releaseHeld();
    m_relay.clearFaults();
    m_relay.setTokenLifetime(3600);
    m_relay.http().resetCounts();
    m_relay.auth().resetCounts();
    RelayAuthSession::instance().configure(m_relay.baseUrl(), m_alice);
}

void RelaySessionTest::cleanupTestCase()
{
    RelayAuthSession::instance().clear();
}

void RelaySessionTest::loginSignsTheChallengeWithCamelCaseBody()
{
    RelayAuthSession &session = RelayAuthSession::instance();
    QString error;
    const QString token = session.token(&error);
    QVERIFY2(!token.isEmpty(), qPrintable(error));
    QVERIFY(error.isEmpty());
    QCOMPARE(m_relay.loginCount(), 1);
    QVERIFY(m_relay.auth().hasLoggedIn(m_alice.publicKeyText()));

    const QJsonObject challenge = m_relay.lastBody("/v1/auth/challenge");
    QCOMPARE(challenge.value("identityPublicKey").toString(), m_alice.publicKeyText());
    const QJsonObject verify = m_relay.lastBody("/v1/auth/verify");
    QCOMPARE(verify.value("identityPublicKey").toString(), m_alice.publicKeyText());
    QVERIFY(verify.value("challenge").toString().startsWith("pelorin-login:"));
    const QByteArray signature = velmor::crypto::base64UrlDecode(verify.value("signature").toString());
    QCOMPARE(signature.size(), 64);
    // The signed text binds the challenge to this relay's origin.
    QVERIFY(velmor::crypto::verifyMessage(
        m_alice.publicKey,
        velmor::identity::serviceLoginSigningBytes(velmor::identity::serviceLoginUrl(m_relay.baseUrl()),
                                                   verify.value("challenge").toString()),
        signature));
    QVERIFY(!velmor::crypto::verifyMessage(m_alice.publicKey, verify.value("challenge").toString().toUtf8(),
                                           signature));

    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QVERIFY(session.tokenExpiry() >= now + 3500);
    QVERIFY(session.tokenExpiry() <= now + 3600);
    QVERIFY(session.hasToken());
}

void RelaySessionTest::cachedTokenIsReused()
{
    RelayAuthSession &session = RelayAuthSession::instance();
    const QString first = session.token();
    const QString second = session.token();
    QVERIFY(!first.isEmpty());
    QCOMPARE(second, first);
    QCOMPARE(m_relay.loginCount(), 1);
    QCOMPARE(m_relay.requestCount("/v1/auth/challenge"), 1);
}

void RelaySessionTest::tokenNearExpiryIsRenewed()
{
    RelayAuthSession &session = RelayAuthSession::instance();
    // Tokens that live for 20 s are inside the 30 s margin from the start.
    m_relay.setTokenLifetime(20);
    const QString first = session.token();
    const QString second = session.token();
    QVERIFY(!first.isEmpty());
    QVERIFY(!second.isEmpty());
    QVERIFY(first != second);
    QCOMPARE(m_relay.loginCount(), 2);

    // 40 s is outside the margin: kept. (Not 31: whole-second clocks would
    // renew it whenever a second boundary fell between login and check.)
    m_relay.setTokenLifetime(40);
    const QString third = session.token();
    QCOMPARE(session.token(), third);
    QCOMPARE(m_relay.loginCount(), 3);
}

void RelaySessionTest::notConfiguredFailsWithoutRequest()
{
    RelayAuthSession &session = RelayAuthSession::instance();
    session.clear();
    QString error;
    QVERIFY(session.token(&error).isEmpty());
    QCOMPARE(error, QStringLiteral("not_configured"));
    QVERIFY(!session.hasToken(&error));
    QVERIFY(!session.isConfigured());

    // A key alone, or a URL alone, is not enough.
    session.configure(m_relay.baseUrl(), Identity());
    QVERIFY(!session.isConfigured());
    QVERIFY(session.token(&error).isEmpty());
    QCOMPARE(error, QStringLiteral("not_configured"));
    session.configure(QStringLiteral("not a url"), m_alice);
    QVERIFY(!session.isConfigured());
    QVERIFY(session.token(&error).isEmpty());
    QCOMPARE(error, QStringLiteral("not_configured"));
    QCOMPARE(m_relay.requestCount("/v1/auth/challenge"), 0);
}

void RelaySessionTest::configureClearAndDrop()
{
    RelayAuthSession &session = RelayAuthSession::instance();
    session.configure(m_relay.baseUrl() + "///", m_alice);
    QCOMPARE(session.baseUrl(), m_relay.baseUrl());
    QVERIFY(session.isConfigured());
    QCOMPARE(session.identity().privateKey, m_alice.privateKey);

    const QString token = session.token();
    QVERIFY(!token.isEmpty());

    session.dropToken();
    QCOMPARE(session.tokenExpiry(), 0);
    QVERIFY(session.isConfigured());
    QCOMPARE(session.baseUrl(), m_relay.baseUrl());
    const QString renewed = session.token();
    QVERIFY(!renewed.isEmpty());
    QVERIFY(renewed != token);

    // A new configuration never inherits the previous token.
    const Identity bob = Identity::generate();
    session.configure(m_relay.baseUrl(), bob);
    QCOMPARE(session.tokenExpiry(), 0);
    QCOMPARE(session.identity().publicKeyText(), bob.publicKeyText());

    session.clear();
    QVERIFY(session.baseUrl().isEmpty());
    QVERIFY(!session.identity().isValid());
    QCOMPARE(session.tokenExpiry(), 0);
}

void RelaySessionTest::droppingARefusedTokenSparesItsSuccessor()
{
    RelayAuthSession &session = RelayAuthSession::instance();
    const QString refused = session.token();
    QVERIFY(!refused.isEmpty());

    // Another caller was refused with the same token and has logged in again.
    session.dropToken(refused);
    const QString successor = session.token();
    QVERIFY(!successor.isEmpty());
    QVERIFY(successor != refused);
    QCOMPARE(m_relay.loginCount(), 2);

    // The late refusal of the old token leaves the new one alone.
    session.dropToken(refused);
    QCOMPARE(session.token(), successor);
    QVERIFY(session.tokenExpiry() > 0);
    QCOMPARE(m_relay.loginCount(), 2);

    session.dropToken(successor);
    QCOMPARE(session.tokenExpiry(), 0);
}

void RelaySessionTest::relayRefusingAStaleTokenMakesItDropped()
{
    RelayAuthSession &session = RelayAuthSession::instance();
    const QString stale = session.token();
    QVERIFY(!stale.isEmpty());
    QCOMPARE(m_relay.loginCount(), 1);

    // The relay forgets its tokens (say, after a restart); the client still
    // believes in its own for an hour.
    m_relay.expireAllTokens();
    const velmor::chat::AckResult result = velmor::chat::RelayApi::ack({QStringLiteral("gone-id")});
    QCOMPARE(result.ackedIds, QStringList{QStringLiteral("gone-id")});
    QCOMPARE(m_relay.loginCount(), 2);
    const QString fresh = session.token();
    QVERIFY(fresh != stale);
    QCOMPARE(m_relay.loginCount(), 2);
}

void RelaySessionTest::persistentRefusalLeavesNoToken()
{
    RelayAuthSession &session = RelayAuthSession::instance();
    QVERIFY(!session.token().isEmpty());
    m_relay.setFault("/v1/message/pull", Fault::custom(401, R"({"error":"token_expired"})"));
    QVERIFY(velmor::chat::RelayApi::pull().isEmpty());
    // One fresh login was tried; its token was refused as well and dropped.
    QCOMPARE(m_relay.requestCount("/v1/message/pull"), 2);
    QCOMPARE(m_relay.loginCount(), 2);
    QCOMPARE(session.tokenExpiry(), 0);
}

void RelaySessionTest::loginFailuresAreErrorWords()
{
    RelayAuthSession &session = RelayAuthSession::instance();
    QString error;

    m_relay.setFault("/v1/auth/challenge", Fault::http500());
    QVERIFY(session.token(&error).isEmpty());
    QCOMPARE(error, QStringLiteral("challenge_http_500(internal)"));

    m_relay.setFault("/v1/auth/challenge", Fault::custom(200, R"({"challenge": 42})"));
    QVERIFY(session.token(&error).isEmpty());
    QCOMPARE(error, QStringLiteral("challenge_missing"));

    m_relay.setFault("/v1/auth/challenge", Fault::malformedJson());
    QVERIFY(session.token(&error).isEmpty());
    QCOMPARE(error, QStringLiteral("challenge_missing"));
    m_relay.clearFaults();

    m_relay.setFault("/v1/auth/verify", Fault::custom(200, R"({"token": ""})"));
    QVERIFY(session.token(&error).isEmpty());
    QCOMPARE(error, QStringLiteral("token_missing"));

    m_relay.setFault("/v1/auth/verify", Fault::custom(200, R"({"token": ["x"]})"));
    QVERIFY(session.token(&error).isEmpty());
    QCOMPARE(error, QStringLiteral("token_missing"));

    m_relay.setFault("/v1/auth/verify", Fault::custom(403, R"({"error":"banned"})"));
    QVERIFY(session.token(&error).isEmpty());
    QCOMPARE(error, QStringLiteral("verify_http_403(banned)"));
    QCOMPARE(classifyError(error).code, int(ErrorPermissionDenied));

    // A token without a lifetime is taken for a short one, not for ever.
    m_relay.setFault("/v1/auth/verify", Fault::custom(200, R"({"token": "abc"})"));
    QCOMPARE(session.token(&error), QStringLiteral("abc"));
    QVERIFY(session.tokenExpiry() <= QDateTime::currentSecsSinceEpoch() + kDefaultTokenLifetimeSeconds);

    // Absurd lifetimes neither overflow the expiry nor make the token eternal.
    for (const char *reply : {R"({"token": "big", "expiresIn": 9.2e18})",
                              R"({"token": "big", "expiresIn": 1e300})",
                              R"({"token": "big", "expiresAt": 9223372036854775807})"}) {
        session.dropToken();
        m_relay.setFault("/v1/auth/verify", Fault::custom(200, reply));
        QCOMPARE(session.token(&error), QStringLiteral("big"));
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        QVERIFY2(session.tokenExpiry() > now + 30 && session.tokenExpiry() <= now + 366 * 24 * 3600, reply);
    }
    m_relay.clearFaults();

    // No relay at all.
    session.configure(velmor::fakes::unusedLoopbackUrl(), m_alice);
    QVERIFY(session.token(&error).isEmpty());
    QVERIFY(error.startsWith(QStringLiteral("challenge_network:")));
    QCOMPARE(classifyError(error).code, int(ErrorNetwork));

    // Plain http to a remote relay is refused before anything is sent.
    session.configure(QStringLiteral("http://relay.example.org"), m_alice);
    QVERIFY(session.token(&error).isEmpty());
    QCOMPARE(error, QStringLiteral("challenge_network:insecure_endpoint"));
}

void RelaySessionTest::relayVerifiesSignaturesForReal()
{
    // The fake relay must refuse what a real one refuses, or the tests above
    // would prove nothing: a challenge signed by another key, a challenge
    // used twice, and a challenge issued to someone else.
    const Identity mallory = Identity::generate();
    const QUrl challengeUrl(m_relay.baseUrl() + "/v1/auth/challenge");
    const QUrl verifyUrl(m_relay.baseUrl() + "/v1/auth/verify");
    const QString aliceKey = m_alice.publicKeyText();

    const QString challenge =
        postJson(challengeUrl, QJsonObject{{"identityPublicKey", aliceKey}}).json().value("challenge").toString();
    QVERIFY(!challenge.isEmpty());
    const QString forged = signChallenge(mallory, m_relay.baseUrl(), challenge);
    HttpResponse reply = postJson(
        verifyUrl, QJsonObject{{"identityPublicKey", aliceKey}, {"challenge", challenge}, {"signature", forged}});
    QCOMPARE(reply.status, 401);
    QCOMPARE(reply.json().value("error").toString(), QStringLiteral("invalid_signature"));

    // The challenge is spent even by a failed attempt.
    const QString genuine = signChallenge(m_alice, m_relay.baseUrl(), challenge);
    reply = postJson(verifyUrl,
                     QJsonObject{{"identityPublicKey", aliceKey}, {"challenge", challenge}, {"signature", genuine}});
    QCOMPARE(reply.status, 401);
    QCOMPARE(reply.json().value("error").toString(), QStringLiteral("unknown_challenge"));

    // Mallory cannot use a challenge issued to Alice with her own signature.
    const QString second =
        postJson(challengeUrl, QJsonObject{{"identityPublicKey", aliceKey}}).json().value("challenge").toString();
    const QString malloryOwn = signChallenge(mallory, m_relay.baseUrl(), second);
    reply = postJson(verifyUrl, QJsonObject{{"identityPublicKey", mallory.publicKeyText()},
                                            {"challenge", second},
                                            {"signature", malloryOwn}});
    QCOMPARE(reply.status, 401);
    QCOMPARE(m_relay.loginCount(), 0);
}

// Alice logs in to a server that answers every challenge request with
// `challenge`; the login's error word (a token would be a failure here).
QString RelaySessionTest::logInThrough(FakeRelay &hostile, const QString &challenge)
{
    hostile.setFault("/v1/auth/challenge",
                     Fault::custom(200, QJsonDocument(QJsonObject{{"challenge", challenge}}).toJson()));
    RelayAuthSession::instance().configure(hostile.baseUrl(), m_alice);
    QString error;
    if (!RelayAuthSession::instance().token(&error).isEmpty())
        return QStringLiteral("token issued");
    return error;
}

void RelaySessionTest::hostileServerCannotBorrowTheLogin()
{
    // A server the user was lured to (a pasted link) passes on the relay's
    // own challenge for the user's key and keeps the signature it gets back.
    const QString relayChallenge = postJson(QUrl(m_relay.baseUrl() + "/v1/auth/challenge"),
                                            QJsonObject{{"identityPublicKey", m_alice.publicKeyText()}})
                                       .json()
                                       .value("challenge")
                                       .toString();
    QVERIFY(!relayChallenge.isEmpty());
    FakeRelay hostile;
    QVERIFY(hostile.start() > 0);
    QVERIFY(!logInThrough(hostile, relayChallenge).isEmpty());
    const QJsonObject stolen = hostile.lastBody("/v1/auth/verify");
    QCOMPARE(stolen.value("challenge").toString(), relayChallenge);

    // The signature names the hostile server's origin, so the relay refuses it.
    const HttpResponse reply = postJson(QUrl(m_relay.baseUrl() + "/v1/auth/verify"), stolen);
    QCOMPARE(reply.status, 401);
    QCOMPARE(reply.json().value("error").toString(), QStringLiteral("invalid_signature"));
    QCOMPARE(m_relay.loginCount(), 0);
}

void RelaySessionTest::challengesOfAnotherFormAreNotSigned_data()
{
    QTest::addColumn<QString>("challenge");
    const Identity bob(QByteArray(32, 0x22));
    // The signing texts of the other uses of the identity key.
    const velmor::identity::Envelope envelope = velmor::identity::signEnvelope(
        m_alice, bob.publicKeyText(), "box", "00000000-0000-4000-8000-000000000001", 1700000000);
    QTest::newRow("envelope") << QString::fromUtf8(velmor::identity::envelopeSigningBytes(envelope));
    QTest::newRow("wallet card") << QString("wallet_card_v1|%1|%2|1700000000")
                                        .arg(m_alice.publicKeyText(), m_alice.erc20Address());
    QTest::newRow("admin proof") << "velmor_group_admin_v1|0123456789abcdef0123456789abcdef|"
                                    "s0y8AAP1U4O5uwjFAR17TBp_zeDyT76UPv5xEX4NiYM";
    QTest::newRow("notice") << "official_notice_v1|eyJ2IjoxfQ";
    QTest::newRow("too short") << "abc";
}

void RelaySessionTest::challengesOfAnotherFormAreNotSigned()
{
    QFETCH(QString, challenge);
    FakeRelay hostile;
    QVERIFY(hostile.start() > 0);
    QCOMPARE(logInThrough(hostile, challenge), QStringLiteral("challenge_invalid"));
    // Nothing was signed or sent.
    QCOMPARE(hostile.http().requestCount("/v1/auth/verify"), 0);
}

void RelaySessionTest::tenThreadsCauseOneLogin()
{
    // Slow the login down so that all ten callers arrive while it runs.
    m_relay.setFault("/v1/auth/challenge", Fault::delay(400));
    QThreadPool pool;
    pool.setMaxThreadCount(10);
    QList<QFuture<QString>> futures;
    for (int i = 0; i < 10; ++i)
        futures.append(QtConcurrent::run(&pool, []() { return RelayAuthSession::instance().token(); }));
    QSet<QString> tokens;
    for (QFuture<QString> &future : futures) {
        future.waitForFinished();
        tokens.insert(future.result());
    }
    pool.waitForDone();
    QCOMPARE(tokens.size(), 1);
    QVERIFY(!tokens.values().first().isEmpty());
    QCOMPARE(m_relay.loginCount(), 1);
    QCOMPARE(m_relay.requestCount("/v1/auth/challenge"), 1);
}

void RelaySessionTest::tenThreadsShareOneFailedLogin()
{
    m_relay.setFault("/v1/auth/challenge", Fault::custom(503, R"({"error":"overloaded"})", 300));
    QThreadPool pool;
    pool.setMaxThreadCount(10);
    QList<QFuture<QString>> futures;
    for (int i = 0; i < 10; ++i) {
        futures.append(QtConcurrent::run(&pool, []() {
            QString error;
            const QString token = RelayAuthSession::instance().token(&error);
            return token.isEmpty() ? error : QStringLiteral("unexpected token");
        }));
    }
    QStringList errors;
    for (QFuture<QString> &future : futures) {
        future.waitForFinished();
        errors.append(future.result());
    }
    pool.waitForDone();
    for (const QString &error : errors)
        QCOMPARE(error, QStringLiteral("challenge_http_503(overloaded)"));
    // Every caller that arrived during the failing login got its answer; a
    // caller that came after it may try once more, but never one per thread.
    QVERIFY(m_relay.requestCount("/v1/auth/challenge") < 10);
}

void RelaySessionTest::readersAreNotHeldUpByALogin()
{
    m_relay.http().holdRequests("/v1/auth/challenge");
    QFuture<QString> login = QtConcurrent::run([]() { return RelayAuthSession::instance().token(); });
    QTRY_COMPARE_WITH_TIMEOUT(m_relay.requestCount("/v1/auth/challenge"), 1, 30000);
    // The login is now waiting on the relay; the readers answer meanwhile.
    QVERIFY(!login.isFinished());
    QCOMPARE(RelayAuthSession::instance().baseUrl(), m_relay.baseUrl());
    QCOMPARE(RelayAuthSession::instance().identity().publicKeyText(), m_alice.publicKeyText());
    QVERIFY(RelayAuthSession::instance().isConfigured());
    QVERIFY(!login.isFinished());
    m_relay.http().releaseHeld();
    login.waitForFinished();
    QVERIFY(!login.result().isEmpty());
}

void RelaySessionTest::loginOutlivedByItsSessionIsDiscarded()
{
    // Signing out (or switching identity) while a login is on its way must
    // not leave the old identity's token in the new session.
    m_relay.http().holdRequests("/v1/auth/verify");
    QFuture<QString> stale = QtConcurrent::run([]() {
        QString error;
        const QString token = RelayAuthSession::instance().token(&error);
        return token.isEmpty() ? error : token;
    });
    QTRY_COMPARE_WITH_TIMEOUT(m_relay.requestCount("/v1/auth/verify"), 1, 30000);
    const Identity bob = Identity::generate();
    RelayAuthSession::instance().configure(m_relay.baseUrl(), bob);
    m_relay.http().releaseHeld();
    stale.waitForFinished();
    QCOMPARE(stale.result(), QStringLiteral("session_changed"));
    QCOMPARE(RelayAuthSession::instance().tokenExpiry(), 0);

    m_relay.clearFaults();
    QString error;
    QVERIFY2(RelayAuthSession::instance().hasToken(&error), qPrintable(error));
    QCOMPARE(m_relay.lastBody("/v1/auth/verify").value("identityPublicKey").toString(), bob.publicKeyText());
    QCOMPARE(m_relay.loginCount(), 2);

    RelayAuthSession::instance().clear();
    QVERIFY(RelayAuthSession::instance().token(&error).isEmpty());
    QCOMPARE(error, QStringLiteral("not_configured"));
}

QTEST_GUILESS_MAIN(RelaySessionTest)
#include "test_relay_session.moc"
