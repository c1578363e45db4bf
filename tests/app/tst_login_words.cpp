// The words a failed sign-in shows the user: a relay that refuses is told
// apart from one that cannot be reached, each step names itself, and the word
// reaches the login toast unchanged.
#include "app_test_support.h"

#include "identity/identity.h"
#include "net/service_error.h"
#include "support/fake_relay.h"
#include "support/hostile_server.h"

#include <QThread>

#include <memory>

using velmor::fakes::FakeRelay;
using velmor::fakes::Fault;
using velmor::fakes::HostileServer;
using velmor::identity::Identity;
using velmor::net::RelayAuthSession;

Q_DECLARE_METATYPE(Fault)

class LoginWordsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void relayFailureReachesTheToast_data();
    void relayFailureReachesTheToast();
    void unusableRelayOrKeyIsNamed_data();
    void unusableRelayOrKeyIsNamed();

private:
    FakeRelay m_relay{FakeRelay::Options{true}};
    std::unique_ptr<apptest::Profile> m_profile;
};

void LoginWordsTest::initTestCase()
{
    apptest::useApplicationNames();
    QVERIFY(m_relay.start() > 0);
    qputenv("PELORIN_NODE_DIRECTORY_URL", m_relay.baseUrl().toUtf8());
}

void LoginWordsTest::init()
{
    m_profile = std::make_unique<apptest::Profile>();
    QVERIFY(m_profile->isValid());
    m_relay.clearFaults();
}

void LoginWordsTest::cleanup()
{
    m_relay.clearFaults();
    apptest::resetProcessSession();
    m_profile.reset();
}

void LoginWordsTest::relayFailureReachesTheToast_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QString>("word"); // exact, or the start of it when it ends in ':'
    QTest::addColumn<bool>("network");

    const QString challenge = QStringLiteral("/v1/auth/challenge");
    const QString verify = QStringLiteral("/v1/auth/verify");
    QTest::newRow("challenge answered 500") << challenge << Fault::http500()
                                            << "challenge_http_500(internal)" << false;
    QTest::newRow("challenge answered 503 without a body")
        << challenge << Fault::custom(503, QByteArray()) << "challenge_http_503()" << false;
    QTest::newRow("no challenge in the answer")
        << challenge << Fault::custom(200, R"({"expiresIn": 60})") << "challenge_missing" << false;
    QTest::newRow("challenge not JSON") << challenge << Fault::malformedJson() << "challenge_missing" << false;
    QTest::newRow("challenge of a foreign form")
        << challenge << Fault::custom(200, R"({"challenge": "sign\nthis"})") << "challenge_invalid" << false;
    QTest::newRow("signature refused")
        << verify << Fault::custom(401, R"({"error":"invalid_signature"})")
        << "verify_http_401(invalid_signature)" << false;
    QTest::newRow("verify answered 500") << verify << Fault::http500() << "verify_http_500(internal)" << false;
    QTest::newRow("empty token") << verify << Fault::custom(200, R"({"token": ""})") << "token_missing" << false;
    QTest::newRow("token not a text") << verify << Fault::custom(200, R"({"token": 42})") << "token_missing" << false;
#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
    // Older Qt lets the fake cut the connection; newer ones answer 502 instead.
    QTest::newRow("challenge connection cut") << challenge << Fault::drop() << "challenge_network:" << true;
    QTest::newRow("verify connection cut") << verify << Fault::drop() << "verify_network:" << true;
#endif
}

void LoginWordsTest::relayFailureReachesTheToast()
{
    QFETCH(QString, path);
    QFETCH(Fault, fault);
    QFETCH(QString, word);
    QFETCH(bool, network);

    m_relay.setFault(path, fault);
    AppController app;
    QSignalSpy errors(&app, &AppController::errorTextChanged);
    app.importAndLogin(Identity::generate().privateKeyText());
    QVERIFY(apptest::waitForLogin(app));

    const QString shown = app.errorText();
    if (word.endsWith(QLatin1Char(':')))
        QVERIFY2(shown.startsWith(word) && shown.size() > word.size(), qPrintable(shown));
    else
        QCOMPARE(shown, word);
    QVERIFY2(!shown.contains(QStringLiteral("http_0")), qPrintable(shown));
    QCOMPARE(velmor::net::classifyError(shown).code == velmor::net::ErrorNetwork, network);
    QCOMPARE(errors.count(), 2); // cleared, then the reason
    QVERIFY(!app.loggedIn());
    QCOMPARE(app.statusText(), QString());
    QVERIFY(!app.hasSavedIdentity());
}

void LoginWordsTest::unusableRelayOrKeyIsNamed_data()
{
    QTest::addColumn<QString>("relay"); // "fake", "dead", "cut-short" or "none"
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QString>("word");  // exact, or the start of it when it ends in ':'
    QTest::addColumn<int>("challenges"); // requests the fake relay gets

    const QByteArray good = Identity::generate().privateKey;
    QTest::newRow("connection refused") << "dead" << good << "challenge_network:" << 0;
    QTest::newRow("answer cut short keeps its status") << "cut-short" << good << "challenge_http_200(" << 0;
    QTest::newRow("key of 31 bytes") << "fake" << good.left(31) << "invalid_identity" << 0;
    QTest::newRow("key of 33 bytes") << "fake" << good + '\x01' << "invalid_identity" << 0;
    QTest::newRow("key beyond the curve order") << "fake" << QByteArray(32, '\xff') << "invalid_identity" << 0;
    QTest::newRow("no key") << "fake" << QByteArray() << "not_configured" << 0;
    QTest::newRow("no relay") << "none" << good << "not_configured" << 0;
    QTest::newRow("sound key and relay") << "fake" << good << "" << 1;
}

void LoginWordsTest::unusableRelayOrKeyIsNamed()
{
    QFETCH(QString, relay);
    QFETCH(QByteArray, key);
    QFETCH(QString, word);
    QFETCH(int, challenges);

    HostileServer cutShort(HostileServer::Behaviour::ShortBody);
    QString baseUrl;
    if (relay == QLatin1String("fake"))
        baseUrl = m_relay.baseUrl();
    else if (relay == QLatin1String("dead"))
        baseUrl = velmor::fakes::unusedLoopbackUrl();
    else if (relay == QLatin1String("cut-short"))
        baseUrl = cutShort.httpUrl();

    // Built by hand: the checked constructors refuse such keys, but a
    // corrupted saved key or a caller's slip must still be named.
    Identity identity(key);
    if (!identity.isValid())
        identity.privateKey = key;
    const int before = m_relay.requestCount(QStringLiteral("/v1/auth/challenge"));

    RelayAuthSession &session = RelayAuthSession::instance();
    session.configure(baseUrl, identity);
    QString error;
    bool ok = false;
    // The sign-in waits on the relay: off the window's thread, as the
    // application's login runs it.
    std::unique_ptr<QThread> signIn(QThread::create([&] { ok = session.hasToken(&error); }));
    signIn->start();
    signIn->wait();

    QCOMPARE(ok, word.isEmpty());
    if (word.endsWith(QLatin1Char(':')) || word.endsWith(QLatin1Char('(')))
        QVERIFY2(error.startsWith(word) && error.size() > word.size(), qPrintable(error));
    else
        QCOMPARE(error, word);
    QCOMPARE(m_relay.requestCount(QStringLiteral("/v1/auth/challenge")) - before, challenges);
}

QTEST_MAIN(LoginWordsTest)
#include "tst_login_words.moc"
