// Per-server tokens of the super-group service client against local fake
// group servers: caching, re-login after 401 on the failing server only,
// exactly one retry, identity changes and login failures.
#include "net/relay_session.h"
#include "net/service_error.h"
#include "net/supergroup_api.h"
#include "net/supergroup_client.h"
#include "support/fake_group_server.h"
#include "supergroup_test_support.h"

#include "identity/identity.h"
#include "net/signed_login.h"

#include <QFuture>
#include <QtConcurrent/QtConcurrentRun>
#include <QtTest>

using velmor::fakes::Fault;
using velmor::fakes::FakeGroupServer;
using velmor::identity::Identity;
using velmor::sg::SuperGroupApi;
using velmor::sg::SuperGroupServiceClient;
using sgtest::signIn;
using sgtest::signInAfresh;

class SuperGroupClientTest : public QObject
{
    Q_OBJECT

private:
    Identity m_owner = Identity::generate();
    Identity m_other = Identity::generate();

private slots:
    void init()
    {
        signInAfresh(m_owner);
    }

    // Two groups behind one host: the server of one passes on the other's
    // challenge, and the signature it gets must not log in there. The same
    // group written another way still logs in.
    void loginSignaturesNameTheWholeBaseUrl_data()
    {
        QTest::addColumn<QString>("signedFor"); // path the client signed for
        QTest::addColumn<QString>("checkedAt"); // path of the server that checks it
        QTest::addColumn<bool>("accepted");
        QTest::newRow("another group on the host") << "/gA" << "/gB" << false;
        QTest::newRow("a group for the host's root") << "/gB" << "" << false;
        QTest::newRow("same group, trailing slash") << "/gB/" << "/gB" << true;
        QTest::newRow("same group, dot segments") << "/gA/../gB" << "/gB" << true;
    }
    void loginSignaturesNameTheWholeBaseUrl()
    {
        QFETCH(QString, signedFor);
        QFETCH(QString, checkedAt);
        QFETCH(bool, accepted);
        FakeGroupServer server(m_owner.publicKeyText());
        QVERIFY(server.start());
        const QString challenge = server.auth().issueChallenge(m_owner.publicKeyText());
        const QString signature = velmor::net::signChallenge(m_owner, server.baseUrl() + signedFor, challenge);
        QVERIFY(!signature.isEmpty());
        const QString token =
            server.auth().verify(m_owner.publicKeyText(), challenge, signature, server.baseUrl() + checkedAt);
        QCOMPARE(!token.isEmpty(), accepted);
    }

    void tokensAreCachedPerServer()
    {
        FakeGroupServer a(m_owner.publicKeyText());
        FakeGroupServer b(m_owner.publicKeyText());
        QVERIFY(a.start());
        QVERIFY(b.start());
        auto &client = SuperGroupServiceClient::instance();

        QString error;
        const QString tokenA = client.token(a.baseUrl(), &error);
        QVERIFY2(!tokenA.isEmpty(), qPrintable(error));
        const QString tokenB = client.token(b.baseUrl() + QStringLiteral("/"), &error);
        QVERIFY(!tokenB.isEmpty());
        QVERIFY(tokenA != tokenB);
        // Cached: no further logins, and the trailing slash names the same server.
        QCOMPARE(client.token(a.baseUrl()), tokenA);
        QCOMPARE(client.token(b.baseUrl()), tokenB);
        QCOMPARE(a.auth().loginCount(), 1);
        QCOMPARE(b.auth().loginCount(), 1);

        client.forgetToken(a.baseUrl());
        QVERIFY(client.token(a.baseUrl()) != tokenA);
        QCOMPARE(a.auth().loginCount(), 2);
        QCOMPARE(b.auth().loginCount(), 1);

        client.clearTokens();
        client.token(a.baseUrl());
        client.token(b.baseUrl());
        QCOMPARE(a.auth().loginCount(), 3);
        QCOMPARE(b.auth().loginCount(), 2);
    }

    void tokenNearExpiryIsRenewed()
    {
        FakeGroupServer server(m_owner.publicKeyText());
        QVERIFY(server.start());
        // 20 s of life is inside the 30 s margin: every call logs in again.
        server.auth().setTokenLifetime(20);
        auto &client = SuperGroupServiceClient::instance();
        QVERIFY(!client.token(server.baseUrl()).isEmpty());
        QVERIFY(!client.token(server.baseUrl()).isEmpty());
        QCOMPARE(server.auth().loginCount(), 2);
        server.auth().setTokenLifetime(3600);
        client.token(server.baseUrl());
        client.token(server.baseUrl());
        QCOMPARE(server.auth().loginCount(), 3);
        // 40 s is outside the margin (with room for a slow second): kept.
        server.auth().setTokenLifetime(40);
        client.forgetToken(server.baseUrl());
        const QString short40 = client.token(server.baseUrl());
        QVERIFY(!short40.isEmpty());
        QCOMPARE(client.token(server.baseUrl()), short40);
        QCOMPARE(server.auth().loginCount(), 4);
    }

    void unauthorizedReloginsOnlyThatServer()
    {
        FakeGroupServer a(m_owner.publicKeyText());
        FakeGroupServer b(m_owner.publicKeyText());
        QVERIFY(a.start());
        QVERIFY(b.start());
        auto &api = SuperGroupApi::instance();
        QVERIFY(api.groupInfo(a.baseUrl()).ok);
        QVERIFY(api.groupInfo(b.baseUrl()).ok);
        QCOMPARE(a.auth().loginCount(), 1);
        QCOMPARE(b.auth().loginCount(), 1);

        // Server A forgets every token it issued: the next call there gets a
        // real 401, logs in again and succeeds; server B keeps its token.
        a.auth().expireAllTokens();
        QCOMPARE(api.members(a.baseUrl()).size(), 1);
        QVERIFY(api.groupInfo(b.baseUrl()).ok);
        QCOMPARE(a.auth().loginCount(), 2);
        QCOMPARE(b.auth().loginCount(), 1);
        QCOMPARE(a.http().requestCount(QStringLiteral("/v1/members")), 2);
    }

    void persistentUnauthorizedIsRetriedOnce()
    {
        FakeGroupServer server(m_owner.publicKeyText());
        QVERIFY(server.start());
        server.http().setFault(QStringLiteral("/v1/group/mute"),
                               Fault::custom(401, "{\"error\":\"token_expired\"}"));
        velmor::net::ServiceError error;
        QVERIFY(!SuperGroupApi::instance().setGroupMuted(server.baseUrl(), true, &error));
        QCOMPARE(error.httpStatus, 401);
        QCOMPARE(error.messageKey, QStringLiteral("error.auth.expired"));
        // One request, one new login, one repeat: no loop.
        QCOMPARE(server.http().requestCount(QStringLiteral("/v1/group/mute")), 2);
        QCOMPARE(server.auth().loginCount(), 2);
        QVERIFY(!server.allMuted());

        // A single 401 is healed by the repeat.
        Fault once = Fault::custom(401, "{\"error\":\"token_expired\"}");
        once.remaining = 1;
        server.http().setFault(QStringLiteral("/v1/group/mute"), once);
        QVERIFY(SuperGroupApi::instance().setGroupMuted(server.baseUrl(), true, &error));
        QVERIFY(server.allMuted());
    }

    void tokenFollowsTheSignedInKey()
    {
        FakeGroupServer server(m_owner.publicKeyText());
        QVERIFY(server.start());
        server.addMember(m_other.publicKeyText(), QStringLiteral("member"));
        auto &client = SuperGroupServiceClient::instance();
        const QString ownerToken = client.token(server.baseUrl());
        QVERIFY(!ownerToken.isEmpty());

        // Another identity signs in without the cache being cleared: the
        // owner's token must not be used on its behalf.
        signIn(m_other);
        const QString otherToken = client.token(server.baseUrl());
        QVERIFY(!otherToken.isEmpty());
        QVERIFY(otherToken != ownerToken);
        QCOMPARE(server.auth().ownerOf(otherToken), m_other.publicKeyText());
        QVERIFY(!SuperGroupApi::instance().setGroupMuted(server.baseUrl(), true));
        QVERIFY(!server.allMuted());
    }

    void loginFailuresAreWords()
    {
        auto &client = SuperGroupServiceClient::instance();
        FakeGroupServer server(m_owner.publicKeyText());
        QVERIFY(server.start());
        QString error;

        velmor::net::RelayAuthSession::instance().clear();
        QVERIFY(client.token(server.baseUrl(), &error).isEmpty());
        QCOMPARE(error, QStringLiteral("no_identity"));
        QCOMPARE(velmor::net::classifyError(error).messageKey, QStringLiteral("error.auth.required"));
        signIn(m_owner);

        server.http().setFault(QStringLiteral("/v1/auth/challenge"), Fault::http500());
        QVERIFY(client.token(server.baseUrl(), &error).isEmpty());
        QCOMPARE(error, QStringLiteral("sg_challenge_500"));
        server.http().setFault(QStringLiteral("/v1/auth/challenge"), Fault::malformedJson());
        QVERIFY(client.token(server.baseUrl(), &error).isEmpty());
        QCOMPARE(error, QStringLiteral("sg_challenge_missing"));
        server.http().clearFaults();

        // A pasted link's server that sends another use's signing text (here
        // an admin proof) as its challenge gets nothing signed, not even the
        // join request.
        const QByteArray foreign = R"({"challenge":"velmor_group_admin_v1|0123456789abcdef0123456789abcdef|s0y8AAP1U4O5uwjFAR17TBp_zeDyT76UPv5xEX4NiYM"})";
        server.http().setFault(QStringLiteral("/v1/auth/challenge"), Fault::custom(200, foreign));
        QVERIFY(client.token(server.baseUrl(), &error).isEmpty());
        QCOMPARE(error, QStringLiteral("sg_challenge_invalid"));
        QCOMPARE(SuperGroupApi::instance().requestJoin(server.baseUrl(), QStringLiteral("hi")).error,
                 QStringLiteral("challenge_invalid"));
        QCOMPARE(server.http().requestCount(QStringLiteral("/v1/auth/verify")), 0);
        QCOMPARE(server.http().requestCount(QStringLiteral("/v1/join/request")), 0);
        server.http().clearFaults();

        server.http().setFault(QStringLiteral("/v1/auth/verify"), Fault::custom(401, "{\"error\":\"invalid_signature\"}"));
        QVERIFY(client.token(server.baseUrl(), &error).isEmpty());
        QCOMPARE(error, QStringLiteral("sg_verify_401"));
        server.http().setFault(QStringLiteral("/v1/auth/verify"), Fault::custom(200, "{\"ok\":true}"));
        QVERIFY(client.token(server.baseUrl(), &error).isEmpty());
        QCOMPARE(error, QStringLiteral("sg_token_missing"));
        server.http().clearFaults();

        const quint16 dead = velmor::fakes::unusedLoopbackPort();
        QVERIFY(client.token(QStringLiteral("http://127.0.0.1:%1").arg(dead), &error).isEmpty());
        QVERIFY(error.startsWith(QStringLiteral("sg_network:")));
        QCOMPARE(velmor::net::classifyError(error).code, int(velmor::net::ErrorNetwork));

        // Plain http to a remote host is refused before any request.
        QVERIFY(client.token(QStringLiteral("http://groups.example.com"), &error).isEmpty());
        QCOMPARE(error, QStringLiteral("invalid_server_url"));
        QVERIFY(client.token(QString(), &error).isEmpty());
        QCOMPARE(error, QStringLiteral("invalid_server_url"));

        // An authenticated call without a token reports the login's word.
        server.http().setFault(QStringLiteral("/v1/auth/challenge"), Fault::http500());
        QString authError;
        const auto reply = client.getJson(server.baseUrl(), QStringLiteral("/v1/group/info"), &authError);
        QCOMPARE(reply.status, 0);
        QCOMPARE(authError, QStringLiteral("sg_challenge_500"));
        QCOMPARE(server.http().requestCount(QStringLiteral("/v1/group/info")), 0);
    }

    void concurrentCallersShareOneLogin()
    {
        FakeGroupServer server(m_owner.publicKeyText());
        QVERIFY(server.start());
        QList<QFuture<QString>> futures;
        for (int i = 0; i < 8; ++i)
            futures.append(QtConcurrent::run([url = server.baseUrl()]() {
                return SuperGroupServiceClient::instance().token(url);
            }));
        QSet<QString> tokens;
        for (auto &future : futures) {
            future.waitForFinished();
            tokens.insert(future.result());
        }
        QCOMPARE(tokens.size(), 1);
        QVERIFY(!tokens.values().first().isEmpty());
        QCOMPARE(server.auth().loginCount(), 1);
    }
};

QTEST_GUILESS_MAIN(SuperGroupClientTest)
#include "test_supergroup_client.moc"
