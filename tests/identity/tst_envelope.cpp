// The signed envelope: its signing text and every rejection of the validator.
#include "identity/crypto.h"
#include "identity/envelope.h"
#include "identity/service_login.h"

#include <QtTest>

#include <functional>

Q_DECLARE_METATYPE(velmor::identity::Envelope)

using namespace velmor::identity;
using namespace velmor::crypto;

namespace {

const Identity kAlice(QByteArray(32, 0x11));
const Identity kBob(QByteArray(32, 0x22));
constexpr qint64 kCreated = 1700000000;

// The reference box of docs/protocol.md (opens for Bob).
const QString kBox = QStringLiteral(
    "AQACPHKt20_fCa-U8MlNf-kqOGp-cM-KHYWRY4a7JTXHsbFEREREREREREREREQ12DWKiDh0c4m8xnPvwnAfXTNhLbqFeORyelg");

Envelope sample()
{
    return signEnvelope(kAlice, kBob.publicKeyText(), kBox, QStringLiteral("00000000-0000-4000-8000-000000000001"),
                        kCreated);
}

// Signs the envelope as it stands, so that only the field under test is wrong.
Envelope resigned(Envelope e, const QByteArray &secret = kAlice.privateKey)
{
    e.signature = base64UrlEncode(signMessage(secret, envelopeSigningBytes(e)));
    return e;
}

QString verdict(const Envelope &e, qint64 now = kCreated, const QString &recipient = QString())
{
    const EnvelopeVerdict v = validateEnvelope(e, now, recipient);
    if (v.valid != v.reason.isEmpty())
        return QStringLiteral("inconsistent verdict");
    return v.valid ? QStringLiteral("valid") : v.reason;
}

} // namespace

class TestEnvelope : public QObject
{
    Q_OBJECT

private slots:
    void referenceVector();
    void signFillsTheSenderFields();
    void signRefusesBadSender();
    void signingTextIsUnambiguous();
    void clockSlackBothWays();
    void rejections_data();
    void rejections();
    void everyFieldIsSigned();
    void recipientForms();
    void addressCase();
    void extremeNumbersDoNotOverflow();
    void directBoxIsBoundToSenderAndRecipient();
    void signingTagsStayApart();
};

void TestEnvelope::referenceVector()
{
    const Envelope e = sample();
    QCOMPARE(e.senderPubkey, QString("BE81W9y3zAr3KO88zrlhXZBoS7Wyyl-FmrDwtwQHWHGqOFtrG46tgJymdFTZaD_PK6A0Vtb-LEq-Kwfw-9uy8cE"));
    QCOMPARE(e.senderAddress, QString("0x19e7e376e7c213b7e7e7e46cc70a5dd086daff2a"));
    QCOMPARE(e.expiresAt, kCreated + 7 * 24 * 3600);
    const QByteArray text =
        "velmor.envelope.v1\n"
        "36:00000000-0000-4000-8000-000000000001\n"
        "87:BE81W9y3zAr3KO88zrlhXZBoS7Wyyl-FmrDwtwQHWHGqOFtrG46tgJymdFTZaD_PK6A0Vtb-LEq-Kwfw-9uy8cE\n"
        "87:BEZtf8rlY-XLCaDRhwu1gDRIBGF4eaFJSc8iKF8brj8nZygXbDxkMfju2kU43DfIZeJ4Tzqed9BE8z5Ad5fhJ4o\n"
        "42:0x19e7e376e7c213b7e7e7e46cc70a5dd086daff2a\n"
        "10:1700000000\n"
        "10:1700604800\n"
        "99:AQACPHKt20_fCa-U8MlNf-kqOGp-cM-KHYWRY4a7JTXHsbFEREREREREREREREQ12DWKiDh0c4m8xnPvwnAfXTNhLbqFeORyelg";
    QCOMPARE(envelopeSigningBytes(e), text);
    // RFC 6979 makes the signature deterministic; checked by an independent ECDSA implementation.
    QCOMPARE(e.signature, QString("U9VBHD71Hp6Kb0CXHZQOOAUnkmkf-K0dMJ_rn_WbgcoL1uEsKrCXXEsq8sbiXz3lI3DjDGKqyOpToyB2YHxAxg"));
    QCOMPARE(verdict(e, kCreated, kBob.publicKeyText()), QString("valid"));
    // The content inside opens for Bob only.
    QCOMPARE(QString::fromUtf8(Ecies::open(e.ciphertext, kBob.privateKey)), QString::fromUtf8("你好, Bob"));
}

void TestEnvelope::signFillsTheSenderFields()
{
    const Envelope e = signEnvelope(kBob, kAlice.publicKeyText(), "box", "id-1", 5000, 60);
    QCOMPARE(e.senderPubkey, kBob.publicKeyText());
    QCOMPARE(e.senderAddress, kBob.erc20Address());
    QCOMPARE(e.recipientPubkey, kAlice.publicKeyText());
    QCOMPARE(e.messageId, QString("id-1"));
    QCOMPARE(e.ciphertext, QString("box"));
    QCOMPARE(e.createdAt, 5000);
    QCOMPARE(e.expiresAt, 5060);
    QCOMPARE(base64UrlDecode(e.signature).size(), 64);
    QCOMPARE(verdict(e, 5000), QString("valid"));
}

void TestEnvelope::signRefusesBadSender()
{
    QVERIFY(signEnvelope(Identity(), kBob.publicKeyText(), kBox, "id", kCreated).signature.isEmpty());
    QVERIFY(signEnvelope(kAlice, kBob.publicKeyText(), kBox, "id", kCreated, 0).signature.isEmpty());
    QVERIFY(signEnvelope(kAlice, kBob.publicKeyText(), kBox, "id", kCreated, -10).signature.isEmpty());
    QVERIFY(signEnvelope(kAlice, kBob.publicKeyText(), kBox, "id", kCreated, kEnvelopeMaxLifetimeSeconds + 1)
                .signature.isEmpty());
    QVERIFY(signEnvelope(kAlice, kBob.publicKeyText(), kBox, "id", std::numeric_limits<qint64>::max())
                .signature.isEmpty());
    Identity broken = kAlice;
    broken.publicKey.clear();
    QVERIFY(signEnvelope(broken, kBob.publicKeyText(), kBox, "id", kCreated).signature.isEmpty());
}

void TestEnvelope::signingTextIsUnambiguous()
{
    // Characters moved from one field to its neighbour must change the signed text.
    Envelope a = sample();
    Envelope b = a;
    a.messageId = "ab";
    a.senderAddress = "c";
    b.messageId = "a";
    b.senderAddress = "bc";
    QVERIFY(envelopeSigningBytes(a) != envelopeSigningBytes(b));
    Envelope c = sample();
    Envelope d = c;
    c.messageId = "x\n3:abc";
    d.messageId = "x";
    QVERIFY(envelopeSigningBytes(c) != envelopeSigningBytes(d));
    // The signature of one envelope does not carry over to a re-split one.
    const Envelope signedA = resigned(a);
    b.signature = signedA.signature;
    QVERIFY(!validateEnvelope(b, kCreated).valid);
}

void TestEnvelope::clockSlackBothWays()
{
    const Envelope e = sample();
    QCOMPARE(verdict(e, kCreated - 300), QString("valid"));
    QCOMPARE(verdict(e, kCreated - 301), QString("future_dated"));
    QCOMPARE(verdict(e, e.expiresAt), QString("valid"));
    QCOMPARE(verdict(e, e.expiresAt + 300), QString("valid"));
    QCOMPARE(verdict(e, e.expiresAt + 301), QString("expired"));
}

void TestEnvelope::rejections_data()
{
    QTest::addColumn<Envelope>("envelope");
    QTest::addColumn<QString>("expectedRecipient");
    QTest::addColumn<QString>("reason");

    const Envelope good = sample();
    const QString bob = kBob.publicKeyText();
    auto with = [&good](auto change) {
        Envelope e = good;
        change(e);
        return resigned(e);
    };

    QTest::newRow("valid") << good << bob << "valid";
    QTest::newRow("no message id") << with([](Envelope &e) { e.messageId.clear(); }) << QString() << "malformed";
    QTest::newRow("huge message id") << with([](Envelope &e) { e.messageId = QString(5000, 'a'); }) << QString()
                                     << "malformed";
    QTest::newRow("no sender key") << with([](Envelope &e) { e.senderPubkey.clear(); }) << QString() << "malformed";
    QTest::newRow("no recipient") << with([](Envelope &e) { e.recipientPubkey.clear(); }) << QString() << "malformed";
    QTest::newRow("no ciphertext") << with([](Envelope &e) { e.ciphertext.clear(); }) << QString() << "malformed";
    QTest::newRow("no signature") << [&good] { Envelope e = good; e.signature.clear(); return e; }() << QString()
                                  << "malformed";
    QTest::newRow("zero created") << with([](Envelope &e) { e.createdAt = 0; }) << QString() << "malformed";
    QTest::newRow("negative expiry") << with([](Envelope &e) { e.expiresAt = -1; }) << QString() << "malformed";

    QTest::newRow("sender key not base64url") << with([](Envelope &e) { e.senderPubkey = "not a key!"; }) << QString()
                                              << "bad_sender_key";
    QTest::newRow("sender key 64 bytes")
        << with([](Envelope &e) { e.senderPubkey = base64UrlEncode(kAlice.publicKey.mid(1)); }) << QString()
        << "bad_sender_key";
    QTest::newRow("sender key off the curve") << with([](Envelope &e) {
        QByteArray k = kAlice.publicKey;
        k[64] = char(k[64] ^ 1);
        e.senderPubkey = base64UrlEncode(k);
    }) << QString() << "bad_sender_key";
    QTest::newRow("recipient not a key") << with([](Envelope &e) { e.recipientPubkey = "AAAA"; }) << QString()
                                         << "bad_recipient_key";
    QTest::newRow("wrong recipient") << good << kAlice.publicKeyText() << "wrong_recipient";
    QTest::newRow("expected recipient garbage") << good << "%%%" << "wrong_recipient";

    QTest::newRow("address of another key")
        << with([](Envelope &e) { e.senderAddress = kBob.erc20Address(); }) << QString() << "sender_address_mismatch";
    QTest::newRow("address garbage") << with([](Envelope &e) { e.senderAddress = "0x1234"; }) << QString()
                                     << "sender_address_mismatch";
    // A relay that leaves the address out claims nothing; the key alone speaks.
    QTest::newRow("address absent") << with([](Envelope &e) { e.senderAddress.clear(); }) << QString() << "valid";

    QTest::newRow("expires before created")
        << with([](Envelope &e) { e.expiresAt = e.createdAt - 1; }) << QString() << "bad_lifetime";
    QTest::newRow("expires when created")
        << with([](Envelope &e) { e.expiresAt = e.createdAt; }) << QString() << "bad_lifetime";
    // A sender (or a relay replaying its envelopes) cannot stretch a message's
    // life past the honest 7 days plus the clock slack.
    QTest::newRow("lifetime of 7 days and the slack")
        << with([](Envelope &e) { e.expiresAt = e.createdAt + 7 * 24 * 3600 + 300; }) << QString() << "valid";
    QTest::newRow("lifetime one second longer")
        << with([](Envelope &e) { e.expiresAt = e.createdAt + 7 * 24 * 3600 + 301; }) << QString() << "bad_lifetime";
    QTest::newRow("lifetime of ten years")
        << with([](Envelope &e) { e.expiresAt = e.createdAt + 10LL * 365 * 24 * 3600; }) << QString()
        << "bad_lifetime";
    QTest::newRow("future dated") << with([](Envelope &e) {
        e.createdAt += 301;
        e.expiresAt += 301;
    }) << QString() << "future_dated";
    QTest::newRow("expired") << with([](Envelope &e) {
        e.createdAt -= 8 * 24 * 3600;
        e.expiresAt = e.createdAt + 24 * 3600;
    }) << QString() << "expired";

    QTest::newRow("signed by another key") << resigned(good, kBob.privateKey) << QString() << "bad_signature";
    QTest::newRow("signature not base64url") << [&good] { Envelope e = good; e.signature = "***"; return e; }()
                                             << QString() << "bad_signature";
    QTest::newRow("signature too short") << [&good] {
        Envelope e = good;
        e.signature = base64UrlEncode(base64UrlDecode(e.signature).left(63));
        return e;
    }() << QString() << "bad_signature";
    QTest::newRow("ciphertext changed after signing") << [&good] {
        Envelope e = good;
        e.ciphertext[10] = e.ciphertext[10] == 'A' ? QChar('B') : QChar('A');
        return e;
    }() << QString() << "bad_signature";
    QTest::newRow("lifetime stretched after signing") << [&good] {
        Envelope e = good;
        e.expiresAt += 60; // still within the longest lifetime
        return e;
    }() << QString() << "bad_signature";
}

void TestEnvelope::rejections()
{
    QFETCH(Envelope, envelope);
    QFETCH(QString, expectedRecipient);
    QFETCH(QString, reason);
    QCOMPARE(verdict(envelope, kCreated, expectedRecipient), reason);
}

void TestEnvelope::everyFieldIsSigned()
{
    const Envelope good = sample();
    const QList<std::function<void(Envelope &)>> changes = {
        [](Envelope &e) { e.messageId += "x"; },
        [](Envelope &e) { e.recipientPubkey = kAlice.publicKeyText(); },
        [](Envelope &e) { e.senderAddress = e.senderAddress.toUpper().replace("0X", "0x"); },
        [](Envelope &e) { e.createdAt -= 1; },
        [](Envelope &e) { e.expiresAt -= 1; },
        [](Envelope &e) { e.ciphertext += "A"; },
        [](Envelope &e) { e.senderPubkey = base64UrlEncode(normalisePublicKey(kAlice.publicKey, true)); },
    };
    for (const auto &change : changes) {
        Envelope e = good;
        change(e);
        QCOMPARE(verdict(e), QString("bad_signature"));
        QCOMPARE(verdict(resigned(e)), QString("valid"));
    }
    // Every flipped bit of the signature is caught.
    const QByteArray sig = base64UrlDecode(good.signature);
    for (int i = 0; i < 64; ++i) {
        Envelope e = good;
        QByteArray bad = sig;
        bad[i] = char(bad[i] ^ 0x10);
        e.signature = base64UrlEncode(bad);
        QCOMPARE(verdict(e), QString("bad_signature"));
    }
}

void TestEnvelope::recipientForms()
{
    // The expected recipient may be given as the compressed form of the same key.
    const Envelope e = sample();
    const QString compressed = base64UrlEncode(normalisePublicKey(kBob.publicKey, true));
    QCOMPARE(verdict(e, kCreated, compressed), QString("valid"));
    QCOMPARE(verdict(e, kCreated, " " + kBob.publicKeyText()), QString("wrong_recipient"));
}

void TestEnvelope::addressCase()
{
    // Mixed-case (checksummed) addresses name the same account.
    Envelope e = sample();
    e.senderAddress = "0x19E7E376E7C213B7E7E7E46CC70A5DD086DAFF2A";
    QCOMPARE(verdict(resigned(e)), QString("valid"));
}

void TestEnvelope::extremeNumbersDoNotOverflow()
{
    Envelope e = sample();
    e.expiresAt = std::numeric_limits<qint64>::max();
    // A lifetime without end is refused before any clock comparison.
    QCOMPARE(verdict(resigned(e), std::numeric_limits<qint64>::max()), QString("bad_lifetime"));
    QCOMPARE(verdict(resigned(e), std::numeric_limits<qint64>::min() + 1), QString("bad_lifetime"));
    e.createdAt = std::numeric_limits<qint64>::max() - 1;
    QCOMPARE(verdict(resigned(e), kCreated), QString("future_dated"));
    e.createdAt = std::numeric_limits<qint64>::min() + 2;
    QCOMPARE(verdict(resigned(e), kCreated), QString("malformed"));
}

void TestEnvelope::directBoxIsBoundToSenderAndRecipient()
{
    const Identity mallory(QByteArray(32, 0x33));
    const QString words = QStringLiteral("{\"type\":\"text\",\"text\":\"meet at noon\"}");
    const QString box = sealDirectMessage(kAlice, kBob.publicKeyText(), words.toUtf8());
    QVERIFY(!box.isEmpty());
    const Envelope fromAlice = signEnvelope(kAlice, kBob.publicKeyText(), box, "id-a", kCreated);
    QCOMPARE(QString::fromUtf8(openDirectMessage(fromAlice.ciphertext, fromAlice.senderPubkey, kBob)), words);
    // The sender's key in its compressed form names the same sender.
    Envelope compressedSender = fromAlice;
    compressedSender.senderPubkey = base64UrlEncode(normalisePublicKey(kAlice.publicKey, true));
    QCOMPARE(QString::fromUtf8(openDirectMessage(compressedSender.ciphertext, compressedSender.senderPubkey, kBob)), words);

    // A relay re-sends Alice's box under Mallory's signed envelope: the
    // envelope is valid, but the box does not open as Mallory's words.
    const Envelope rewrapped = signEnvelope(mallory, kBob.publicKeyText(), box, "id-m", kCreated);
    QCOMPARE(verdict(rewrapped, kCreated, kBob.publicKeyText()), QString("valid"));
    QVERIFY(openDirectMessage(rewrapped.ciphertext, rewrapped.senderPubkey, kBob).isEmpty());
    // Nor does a box sealed for Bob open for anyone else, or a plain box
    // (without the sender bound) open as a direct message.
    QVERIFY(openDirectMessage(fromAlice.ciphertext, fromAlice.senderPubkey, mallory).isEmpty());
    const Envelope unbound =
        signEnvelope(kAlice, kBob.publicKeyText(), Ecies::seal(kBob.publicKey, words.toUtf8()), "id-u", kCreated);
    QVERIFY(openDirectMessage(unbound.ciphertext, unbound.senderPubkey, kBob).isEmpty());
    QVERIFY(sealDirectMessage(Identity(), kBob.publicKeyText(), "x").isEmpty());
    QVERIFY(sealDirectMessage(kAlice, "not a key", "x").isEmpty());
    // The vector of docs/protocol.md (ephemeral secret 33…33, nonce 44…44),
    // made by an independent implementation of the layout.
    const QString vector = QStringLiteral(
        "AQACPHKt20_fCa-U8MlNf-kqOGp-cM-KHYWRY4a7JTXHsbFEREREREREREREREQ12DWKiDh0c4m8xl-agfPkdXcrAnUnIWMte7I");
    QCOMPARE(QString::fromUtf8(openDirectMessage(vector, kAlice.publicKeyText(), kBob)), QString::fromUtf8("你好, Bob"));
    QVERIFY(openDirectMessage(vector, mallory.publicKeyText(), kBob).isEmpty());
    QVERIFY(Ecies::open(vector, kBob.privateKey).isEmpty());
    QCOMPARE(directMessageContext(kAlice.publicKeyText(), kBob.publicKeyText()).toHex(),
             QByteArray("76656c6d6f722e6469726563742e76317c") + normalisePublicKey(kAlice.publicKey, true).toHex()
                 + normalisePublicKey(kBob.publicKey, true).toHex());
}

void TestEnvelope::signingTagsStayApart()
{
    // No tag starts another, so no signed text belongs to two uses; and every
    // text the key signs starts with its use's tag.
    const QList<QByteArray> tags = identitySigningTags();
    for (const QByteArray &a : tags)
        for (const QByteArray &b : tags)
            if (&a != &b)
                QVERIFY2(!b.startsWith(a), a + " starts " + b);
    QVERIFY(envelopeSigningBytes(sample()).startsWith(kEnvelopeSigningTag));
    const QByteArray login = serviceLoginSigningBytes("https://relay.example:443", "pelorin-login:abcdefghijklmnop");
    QVERIFY(login.startsWith(kServiceLoginSigningTag));
}

QTEST_GUILESS_MAIN(TestEnvelope)
#include "tst_envelope.moc"
