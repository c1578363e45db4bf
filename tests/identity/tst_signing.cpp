// What the identity key signs to log in to a service, the Ed25519 keys that
// are refused, and the wiping of dropped secrets.
#include "identity/crypto.h"
#include "identity/identity.h"
#include "identity/service_login.h"

#include <QtTest>

using namespace velmor::identity;
using namespace velmor::crypto;

namespace {

const Identity kAlice(QByteArray(32, 0x11));
const QString kChallenge = QStringLiteral("pelorin-login:AAECAwQFBgcICQoLDA0ODxAREhMUFRYX");

} // namespace

class TestSigning : public QObject
{
    Q_OBJECT

private slots:
    void loginVector();
    void loginUrls_data();
    void loginUrls();
    void challengeForms_data();
    void challengeForms();
    void smallOrderEd25519KeysAreRefused();
    void wipingSparesSharedCopies();
};

void TestSigning::loginVector()
{
    const QByteArray text = serviceLoginSigningBytes(serviceLoginUrl("https://Relay.Example/"), kChallenge);
    QCOMPARE(text, QByteArray("velmor.login.v1\n"
                              "25:https://relay.example:443\n"
                              "46:pelorin-login:AAECAwQFBgcICQoLDA0ODxAREhMUFRYX"));
    const QByteArray signature = signMessage(kAlice.privateKey, text);
    QCOMPARE(base64UrlEncode(signature), QStringLiteral("ESTKM5sNxaLeSxr24KeTQPVFyLM6Nxha33_ReXwOrMESGfXuSOq98yddM3IdBWQlNSeEQKbQrOAwOTEnDtooMA"));
    QVERIFY(verifyMessage(kAlice.publicKey, text, signature));
    // The same challenge signed for another origin, or for another service
    // under the same origin, is another text.
    for (const char *other : {"https://evil.example:443", "https://relay.example:443/gB"})
        QVERIFY(!verifyMessage(kAlice.publicKey, serviceLoginSigningBytes(other, kChallenge), signature));
    const QByteArray withPath = serviceLoginSigningBytes(serviceLoginUrl("https://Relay.Example/gA/"), kChallenge);
    QCOMPARE(withPath, QByteArray("velmor.login.v1\n"
                                  "28:https://relay.example:443/gA\n"
                                  "46:pelorin-login:AAECAwQFBgcICQoLDA0ODxAREhMUFRYX"));
    QCOMPARE(base64UrlEncode(signMessage(kAlice.privateKey, withPath)), QStringLiteral("Z25IRXygXKYrtMKHmRaZUeRl_8q1Q9YmrE66JVNX2aUUF9munYHyRSWfnA_nMgINI2xJ_JmDq_u-zZu8NP4ZdQ"));
}

void TestSigning::loginUrls_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("origin");
    QTest::newRow("https default port") << "https://relay.example" << "https://relay.example:443";
    QTest::newRow("path and case") << "HTTPS://Relay.EXAMPLE/api/" << "https://relay.example:443/api";
    QTest::newRow("group A on a shared host") << "https://host.example/gA" << "https://host.example:443/gA";
    QTest::newRow("dot segments") << "https://host.example/x/../gA/." << "https://host.example:443/gA";
    QTest::newRow("escaped letter") << "https://host.example/g%41" << "https://host.example:443/gA";
    QTest::newRow("query") << "https://host.example/g?id=A" << "";
    QTest::newRow("explicit port") << "https://relay.example:8443" << "https://relay.example:8443";
    QTest::newRow("http loopback") << "http://127.0.0.1:4000" << "http://127.0.0.1:4000";
    QTest::newRow("http default port") << "http://localhost" << "http://localhost:80";
    QTest::newRow("ipv6") << "http://[::1]:5000" << "http://[::1]:5000";
    QTest::newRow("user info is not part of it") << "https://a:b@relay.example" << "https://relay.example:443";
    QTest::newRow("no host") << "https://" << "";
    QTest::newRow("other scheme") << "ftp://relay.example" << "";
    QTest::newRow("not a url") << "relay" << "";
    QTest::newRow("empty") << "" << "";
}

void TestSigning::loginUrls()
{
    QFETCH(QString, url);
    QFETCH(QString, origin);
    QCOMPARE(serviceLoginUrl(url), origin);
}

void TestSigning::challengeForms_data()
{
    QTest::addColumn<QString>("challenge");
    QTest::addColumn<bool>("accepted");
    Identity bob(QByteArray(32, 0x22));
    QTest::newRow("relay form") << kChallenge << true;
    QTest::newRow("hex") << QString(32, 'a') << true;
    QTest::newRow("16 characters") << QString(16, 'x') << true;
    QTest::newRow("256 characters") << QString(256, '~') << true;
    QTest::newRow("15 characters") << QString(15, 'x') << false;
    QTest::newRow("257 characters") << QString(257, 'x') << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("line break") << "pelorin-login:abc\ndefghijklmnop" << false;
    QTest::newRow("space") << "pelorin-login: abcdefghijklmnop" << false;
    QTest::newRow("wallet card text")
        << QString("wallet_card_v1|" + kAlice.publicKeyText() + "|" + kAlice.erc20Address() + "|1700000000")
        << false;
    QTest::newRow("admin proof text")
        << "velmor_group_admin_v1|0123456789abcdef0123456789abcdef|s0y8AAP1U4O5uwjFAR17TBp_zeDyT76UPv5xEX4NiYM"
        << false;
    QTest::newRow("envelope text") << "velmor.envelope.v1\n36:00000000-0000-4000-8000-000000000001" << false;
    QTest::newRow("json") << R"({"challenge":"abcdefghijklmnop"})" << false;
    QTest::newRow("non-ascii") << QString::fromUtf8("pelorin-login:äbcdefghijklmnop") << false;
}

void TestSigning::challengeForms()
{
    QFETCH(QString, challenge);
    QFETCH(bool, accepted);
    QCOMPARE(isWellFormedChallenge(challenge), accepted);
    QCOMPARE(serviceLoginSigningBytes("https://relay.example:443", challenge).isEmpty(), !accepted);
}

void TestSigning::smallOrderEd25519KeysAreRefused()
{
    // With the identity point as the key, R = identity and S = 0 satisfy the
    // verification equation for every message.
    const QByteArray identityPoint = QByteArray::fromHex("01") + QByteArray(31, 0);
    const QByteArray forged = identityPoint + QByteArray(32, 0);
    QVERIFY(!ed25519Verify(identityPoint, "pay Mallory", forged));
    QVERIFY(!ed25519Verify(identityPoint, "anything else", forged));
    const QList<QByteArray> weak = {
        identityPoint,
        QByteArray(32, 0),                                                                      // order 4
        QByteArray::fromHex("ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"), // order 2
        QByteArray::fromHex("26e8958fc2b227b045c3f489f2ef98f0d5dfac05d3c63339b13802886d53fc05"), // order 8
        QByteArray::fromHex("c7176a703d4dd84fba3c0b760d10670f2a2053fa2c39ccc64ec7fd7792ac037a"), // order 8
        QByteArray::fromHex("26e8958fc2b227b045c3f489f2ef98f0d5dfac05d3c63339b13802886d53fc85"), // sign bit set
        QByteArray::fromHex("0000000000000000000000000000000000000000000000000000000000000080"), // -0
        QByteArray::fromHex("edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"), // p, i.e. 0
        QByteArray::fromHex("eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"), // p + 1, i.e. 1
        QByteArray::fromHex("ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"), // beyond p
    };
    for (const QByteArray &key : weak)
        QVERIFY2(isWeakEd25519PublicKey(key), key.toHex().constData());
    // Real keys still verify.
    const Ed25519KeyPair pair = ed25519FromSeed(QByteArray(32, 0x55));
    QVERIFY(pair.isValid());
    QVERIFY(!isWeakEd25519PublicKey(pair.publicKey));
    QVERIFY(ed25519Verify(pair.publicKey, "m", ed25519Sign(pair.seed, "m")));
}

void TestSigning::wipingSparesSharedCopies()
{
    QByteArray alone(32, 0x42);
    const char *data = alone.constData();
    QByteArray held = alone; // shared: wiping must not zero this copy
    wipeSecret(alone);
    QVERIFY(alone.isEmpty());
    QCOMPARE(held, QByteArray(32, 0x42));
    QCOMPARE(held.constData(), data);
    // The last holder's buffer is overwritten in place.
    QByteArray last(32, 0x42);
    wipeSecret(last);
    QVERIFY(last.isEmpty());

    // An identity copied around keeps its key until its last copy goes.
    QByteArray secret(32, 0x11);
    Identity first(secret);
    secret = QByteArray();
    {
        const Identity copy = first;
        QCOMPARE(copy.privateKey, kAlice.privateKey);
    }
    QCOMPARE(first.privateKey, kAlice.privateKey);
    Identity other = Identity(QByteArray(32, 0x22));
    other = first;
    QCOMPARE(other.privateKey, kAlice.privateKey);
    first = Identity();
    QCOMPARE(other.privateKey, kAlice.privateKey);
    QVERIFY(first.privateKey.isEmpty());
}

QTEST_GUILESS_MAIN(TestSigning)
#include "tst_signing.moc"
