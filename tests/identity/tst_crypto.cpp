// Primitives: base64url, digests and KDFs against published vectors, secp256k1
// keys, ECDSA, the sealed box, the group box and Ed25519.
#include "identity/crypto.h"
#include "identity/identity.h"

#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace velmor::crypto;

namespace {

QByteArray hex(const char *h) { return QByteArray::fromHex(h); }
QByteArray filled(char c, int n) { return QByteArray(n, c); }

// The secp256k1 group order n, big-endian.
const QByteArray kOrder = hex("fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141");

// s -> n - s on 32-byte big-endian numbers (turns a low-S signature high).
QByteArray negateModOrder(const QByteArray &s)
{
    QByteArray out(32, 0);
    int borrow = 0;
    for (int i = 31; i >= 0; --i) {
        int d = quint8(kOrder[i]) - quint8(s[i]) - borrow;
        borrow = d < 0;
        out[i] = char(d + (borrow ? 256 : 0));
    }
    return out;
}

} // namespace

class TestCrypto : public QObject
{
    Q_OBJECT

private slots:
    void concurrentUse(); // first, so that it also races the lazy creation of the contexts
    void base64Url_data();
    void base64Url();
    void base64UrlRejects_data();
    void base64UrlRejects();
    void base64UrlRoundTripAllLengths();

    void digestsMatchPublishedVectors();
    void kdfsMatchPublishedVectors();
    void kdfsRefuseAbsurdArguments();
    void randomBytes();
    void constantTimeEqual();

    void secretKeyValidity();
    void publicKeyForms();
    void ecdsaSignsAndVerifies();
    void ecdsaRefusesHighSAndMalformed();

    void sealOpensOnlyForItsRecipient();
    void sealAcceptsCompressedRecipientKey();
    void openFollowsAChangeOfKey();
    void sealRejectsEveryFlippedByte_data();
    void sealRejectsEveryFlippedByte();
    void sealRejectsTruncationAndGarbage();
    void sealAlgorithmMismatch();
    void sealBadArguments();
    void sealIsRandomised();
    void sealOpensReferenceBoxes();

    void groupBoxRoundTripAndBinding();
    void groupBoxRejectsEveryFlippedByte();
    void groupBoxOpensReferenceBox();

    void ed25519MatchesRfc8032();
    void ed25519RejectsTamperingAndBadLengths();
};

void TestCrypto::base64Url_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    // RFC 4648 section 10 vectors, without padding.
    QTest::newRow("f") << QByteArray("f") << "Zg";
    QTest::newRow("fo") << QByteArray("fo") << "Zm8";
    QTest::newRow("foo") << QByteArray("foo") << "Zm9v";
    QTest::newRow("foob") << QByteArray("foob") << "Zm9vYg";
    QTest::newRow("fooba") << QByteArray("fooba") << "Zm9vYmE";
    QTest::newRow("foobar") << QByteArray("foobar") << "Zm9vYmFy";
    // The two characters that differ from standard Base64.
    QTest::newRow("url-safe") << hex("fbff") << "-_8";
    QTest::newRow("all-ones") << hex("ffffff") << "____";
}

void TestCrypto::base64Url()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(base64UrlEncode(bytes), text);
    QCOMPARE(base64UrlDecode(text), bytes);
}

void TestCrypto::base64UrlRejects_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("padding") << "Zg==";
    QTest::newRow("one padding") << "Zm8=";
    QTest::newRow("plus") << "+/8";
    QTest::newRow("slash") << "ab/c";
    QTest::newRow("space") << "Zm9 v";
    QTest::newRow("newline") << "Zm9v\n";
    QTest::newRow("dot") << "Zm9v.";
    QTest::newRow("length 1 mod 4") << "Zm9vY";
    QTest::newRow("non-latin") << QString::fromUtf8("Zm9v你");
    QTest::newRow("nul") << QString(QChar(0)) + "AAA";
    // Characters past ASCII whose low byte is a letter of the alphabet.
    QTest::newRow("U+0141 in a group") << QString(QChar(0x0141)) + "AAA";
    QTest::newRow("U+0141 in the tail") << "Zm9v" + QString(QChar(0x0141)) + "A";
    QTest::newRow("U+0080") << QString(QChar(0x80)) + "AAA";
    QTest::newRow("bad character in the tail") << "Zm9vY!";
    QTest::newRow("bad character in a later group") << "Zm9vYmFy*mF6";
    // Non-zero unused bits: only the canonical text of a byte string decodes.
    QTest::newRow("non-canonical 2") << "Zh";
    QTest::newRow("non-canonical 3") << "Zm9";
}

void TestCrypto::base64UrlRejects()
{
    QFETCH(QString, text);
    QVERIFY(base64UrlDecode(text).isEmpty());
}

void TestCrypto::base64UrlRoundTripAllLengths()
{
    for (int n = 1; n <= 70; ++n) {
        const QByteArray bytes = velmor::crypto::randomBytes(n);
        const QString text = base64UrlEncode(bytes);
        QVERIFY(!text.contains('=') && !text.contains('+') && !text.contains('/'));
        QCOMPARE(text, QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)));
        QCOMPARE(base64UrlDecode(text), bytes);
    }
}

void TestCrypto::digestsMatchPublishedVectors()
{
    QCOMPARE(sha256("abc").toHex(), QByteArray("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    QCOMPARE(sha256Hex(QByteArray()), QString("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    // Ethereum's Keccak-256 (original padding), not SHA3-256 (a7ffc6f8…).
    QCOMPARE(keccak256(QByteArray()).toHex(),
             QByteArray("c5d2460186f7233c927e7db2dcc703c0e500b653ca82273b7bfad8045d85a470"));
    // RFC 4231 test case 2.
    QCOMPARE(hmacSha256("Jefe", "what do ya want for nothing?").toHex(),
             QByteArray("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"));
    QCOMPARE(hmacSha512("Jefe", "what do ya want for nothing?").toHex(),
             QByteArray("164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f0e"
                        "6fdcaeab1a34d4a6b4b636e070a38bce737"));
}

void TestCrypto::kdfsMatchPublishedVectors()
{
    // PBKDF2-HMAC-SHA512, "password"/"salt" (RFC 7914's sibling vectors, 1 and 2 iterations).
    QCOMPARE(pbkdf2Sha512("password", "salt", 1, 64).toHex(),
             QByteArray("867f70cf1ade02cff3752599a3a53dc4af34c7a669815ae5d513554e1c8cf252c02d470a285a0501bad999bfe943c08"
                        "f050235d7d68b1da55e63f73b60a57fce"));
    QCOMPARE(pbkdf2Sha512("password", "salt", 2, 64).toHex(),
             QByteArray("e1d9c16aa681708a45f5c7c4e215ceb66e011a2e9f0040713f18aefdb866d53cf76cab2868a39b9f7840edce4fef5a8"
                        "2be67335c77a6068e04112754f27ccf4e"));
    // RFC 5869 test case 1.
    QCOMPARE(hkdfSha256(filled(0x0b, 22), hex("000102030405060708090a0b0c"), hex("f0f1f2f3f4f5f6f7f8f9"), 42).toHex(),
             QByteArray("3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"));
}

void TestCrypto::kdfsRefuseAbsurdArguments()
{
    QVERIFY(pbkdf2Sha512("p", "s", 0, 64).isEmpty());
    QVERIFY(pbkdf2Sha512("p", "s", -5, 64).isEmpty());
    QVERIFY(pbkdf2Sha512("p", "s", 1, 0).isEmpty());
    QVERIFY(pbkdf2Sha512("p", "s", 1, -1).isEmpty());
    QVERIFY(pbkdf2Sha512("p", "s", std::numeric_limits<int>::max(), 64).isEmpty());
    QVERIFY(pbkdf2Sha512("p", "s", 1, std::numeric_limits<int>::max()).isEmpty());
    QVERIFY(hkdfSha256("k", "s", "i", 0).isEmpty());
    QVERIFY(hkdfSha256("k", "s", "i", 255 * 32 + 1).isEmpty());
    QVERIFY(hkdfSha256(QByteArray(), "s", "i", 32).isEmpty());
    QCOMPARE(hkdfSha256("k", QByteArray(), QByteArray(), 255 * 32).size(), 255 * 32);
}

void TestCrypto::randomBytes()
{
    QCOMPARE(velmor::crypto::randomBytes(32).size(), 32);
    QVERIFY(velmor::crypto::randomBytes(32) != velmor::crypto::randomBytes(32));
    QVERIFY(velmor::crypto::randomBytes(0).isEmpty());
    QVERIFY(velmor::crypto::randomBytes(-1).isEmpty());
    QVERIFY(velmor::crypto::randomBytes(std::numeric_limits<int>::max()).isEmpty());
}

void TestCrypto::constantTimeEqual()
{
    QVERIFY(velmor::crypto::constantTimeEqual("abc", "abc"));
    QVERIFY(velmor::crypto::constantTimeEqual(QByteArray(), QByteArray()));
    QVERIFY(!velmor::crypto::constantTimeEqual("abc", "abd"));
    QVERIFY(!velmor::crypto::constantTimeEqual("abc", "abcd"));
    QVERIFY(!velmor::crypto::constantTimeEqual("", "a"));
}

void TestCrypto::secretKeyValidity()
{
    QVERIFY(isValidSecretKey(hex("0000000000000000000000000000000000000000000000000000000000000001")));
    QVERIFY(!isValidSecretKey(QByteArray(32, 0)));
    QVERIFY(!isValidSecretKey(kOrder));
    QVERIFY(!isValidSecretKey(filled(char(0xff), 32)));
    QVERIFY(!isValidSecretKey(filled(0x11, 31)));
    QVERIFY(!isValidSecretKey(filled(0x11, 33)));
    QVERIFY(!isValidSecretKey(QByteArray()));
    QByteArray nMinus1 = kOrder;
    nMinus1[31] = char(0x40);
    QVERIFY(isValidSecretKey(nMinus1));
}

void TestCrypto::publicKeyForms()
{
    // The generator point G is the public key of secret 1.
    const QByteArray one = hex("0000000000000000000000000000000000000000000000000000000000000001");
    const QByteArray g = hex("0479be667ef9dcbbac55a06295ce870b07029bfcdb2dce28d959f2815b16f81798"
                             "483ada7726a3c4655da4fbfc0e1108a8fd17b448a68554199c47d08ffb10d4b8");
    QCOMPARE(publicKeyFromSecret(one), g);
    QCOMPARE(publicKeyFromSecret(one, true), hex("0279be667ef9dcbbac55a06295ce870b07029bfcdb2dce28d959f2815b16f81798"));
    QCOMPARE(normalisePublicKey(publicKeyFromSecret(one, true)), g);
    QCOMPARE(normalisePublicKey(g, true), publicKeyFromSecret(one, true));
    QVERIFY(publicKeyFromSecret(QByteArray(32, 0)).isEmpty());
    QVERIFY(publicKeyFromSecret(filled(1, 5)).isEmpty());

    // Not points: wrong lengths, wrong prefixes, hybrid form, x off the curve.
    QVERIFY(normalisePublicKey(QByteArray()).isEmpty());
    QVERIFY(normalisePublicKey(g.left(64)).isEmpty());
    QVERIFY(normalisePublicKey(g + '\0').isEmpty());
    QByteArray hybrid = g;
    hybrid[0] = 0x06;
    QVERIFY(normalisePublicKey(hybrid).isEmpty());
    QByteArray badPrefix = publicKeyFromSecret(one, true);
    badPrefix[0] = 0x05;
    QVERIFY(normalisePublicKey(badPrefix).isEmpty());
    QByteArray offCurve = g;
    offCurve[64] = char(offCurve[64] ^ 1);
    QVERIFY(normalisePublicKey(offCurve).isEmpty());
    QVERIFY(normalisePublicKey(QByteArray(1, 0x02) + QByteArray(32, char(0xff))).isEmpty());
}

void TestCrypto::ecdsaSignsAndVerifies()
{
    const QByteArray secret = filled(0x11, 32);
    const QByteArray pub = publicKeyFromSecret(secret);
    const QByteArray sig = signMessage(secret, "hello");
    QCOMPARE(sig.size(), 64);
    // RFC 6979: deterministic for a given key and message.
    QCOMPARE(signMessage(secret, "hello"), sig);
    QVERIFY(signMessage(secret, "hellp") != sig);
    QVERIFY(verifyMessage(pub, "hello", sig));
    QVERIFY(verifyMessage(publicKeyFromSecret(secret, true), "hello", sig));
    QVERIFY(!verifyMessage(pub, "hellp", sig));
    QVERIFY(!verifyMessage(publicKeyFromSecret(filled(0x22, 32)), "hello", sig));
    for (int i = 0; i < 64; ++i) {
        QByteArray bad = sig;
        bad[i] = char(bad[i] ^ 0x01);
        QVERIFY2(!verifyMessage(pub, "hello", bad), qPrintable(QString::number(i)));
    }
    // Large messages are hashed, not truncated.
    QByteArray big(1 << 20, 'a');
    const QByteArray bigSig = signMessage(secret, big);
    QVERIFY(verifyMessage(pub, big, bigSig));
    big[big.size() - 1] = 'b';
    QVERIFY(!verifyMessage(pub, big, bigSig));
}

void TestCrypto::ecdsaRefusesHighSAndMalformed()
{
    const QByteArray secret = filled(0x11, 32);
    const QByteArray pub = publicKeyFromSecret(secret);
    for (const QByteArray &message : {QByteArray("a"), QByteArray("b"), QByteArray("c"), QByteArray("d")}) {
        const QByteArray sig = signMessage(secret, message);
        const QByteArray s = sig.mid(32);
        // Produced signatures are low-S: s <= n/2.
        QVERIFY(s < hex("7fffffffffffffffffffffffffffffff5d576e7357a4501ddfe92f46681b20a1"));
        // The same signature with s -> n - s is mathematically valid but refused.
        const QByteArray highS = sig.left(32) + negateModOrder(s);
        QVERIFY(!verifyMessage(pub, message, highS));
    }
    const QByteArray sig = signMessage(secret, "x");
    QVERIFY(!verifyMessage(pub, "x", sig.left(63)));
    QVERIFY(!verifyMessage(pub, "x", sig + '\0'));
    QVERIFY(!verifyMessage(pub, "x", QByteArray(64, 0)));
    QVERIFY(!verifyMessage(pub, "x", QByteArray(64, char(0xff)))); // r, s >= n
    QVERIFY(!verifyMessage(pub, "x", kOrder + sig.mid(32)));        // r == n
    QVERIFY(!verifyMessage(QByteArray(), "x", sig));
    QVERIFY(!verifyMessage(pub.left(40), "x", sig));
    QVERIFY(signMessage(QByteArray(32, 0), "x").isEmpty());
    QVERIFY(signMessage(kOrder, "x").isEmpty());
    QVERIFY(signMessage(filled(1, 31), "x").isEmpty());
}

void TestCrypto::sealOpensOnlyForItsRecipient()
{
    const QByteArray bob = filled(0x22, 32);
    const QByteArray bobPub = publicKeyFromSecret(bob);
    for (const QByteArray &plain : {QByteArray("hi"), QByteArray(1, '\0'), QByteArray(70000, 'z')}) {
        for (int algorithm : {0, 1}) {
            const QString box = Ecies::seal(bobPub, plain, algorithm);
            QVERIFY(!box.isEmpty());
            QVERIFY(!base64UrlDecode(box).isEmpty());
            QCOMPARE(Ecies::open(box, bob, algorithm), plain);
            QVERIFY(Ecies::open(box, filled(0x23, 32), algorithm).isEmpty());
            QVERIFY(Ecies::open(box, filled(0x11, 32), algorithm).isEmpty());
        }
    }
    // An empty plaintext seals; opening it gives the (indistinguishable) empty result.
    QVERIFY(!Ecies::seal(bobPub, QByteArray()).isEmpty());
}

void TestCrypto::sealAcceptsCompressedRecipientKey()
{
    const QByteArray bob = filled(0x22, 32);
    const QString box = Ecies::seal(publicKeyFromSecret(bob, true), "compressed");
    QCOMPARE(Ecies::open(box, bob), QByteArray("compressed"));
}

void TestCrypto::openFollowsAChangeOfKey()
{
    // Alternating keys in one thread: nothing of one key may leak into opening with another.
    const QByteArray a = filled(0x41, 32);
    const QByteArray b = filled(0x42, 32);
    const QString toA = Ecies::seal(publicKeyFromSecret(a), "for a");
    const QString toB = Ecies::seal(publicKeyFromSecret(b), "for b");
    for (int round = 0; round < 3; ++round) {
        QCOMPARE(Ecies::open(toA, a), QByteArray("for a"));
        QVERIFY(Ecies::open(toA, b).isEmpty());
        QCOMPARE(Ecies::open(toB, b), QByteArray("for b"));
        QVERIFY(Ecies::open(toB, a).isEmpty());
        QVERIFY(Ecies::open(toA, QByteArray(32, 0)).isEmpty());
    }
}

void TestCrypto::sealRejectsEveryFlippedByte_data()
{
    QTest::addColumn<int>("algorithm");
    QTest::newRow("chacha20-poly1305") << 0;
    QTest::newRow("aes-256-gcm") << 1;
}

void TestCrypto::sealRejectsEveryFlippedByte()
{
    QFETCH(int, algorithm);
    const QByteArray bob = filled(0x22, 32);
    const QString box = Ecies::seal(publicKeyFromSecret(bob), "attack at dawn", algorithm);
    const QByteArray raw = base64UrlDecode(box);
    QCOMPARE(raw.size(), 1 + 1 + 33 + 12 + 14 + 16);
    for (int i = 0; i < raw.size(); ++i) {
        for (int bit : {0x01, 0x80}) {
            QByteArray bad = raw;
            bad[i] = char(bad[i] ^ bit);
            QVERIFY2(Ecies::open(base64UrlEncode(bad), bob, algorithm).isEmpty(),
                     qPrintable(QString("byte %1 bit %2").arg(i).arg(bit)));
        }
    }
    QCOMPARE(Ecies::open(box, bob, algorithm), QByteArray("attack at dawn"));
}

void TestCrypto::sealRejectsTruncationAndGarbage()
{
    const QByteArray bob = filled(0x22, 32);
    const QString box = Ecies::seal(publicKeyFromSecret(bob), "some secret text");
    const QByteArray raw = base64UrlDecode(box);
    for (int n = 0; n < raw.size(); ++n)
        QVERIFY(Ecies::open(base64UrlEncode(raw.left(n)), bob).isEmpty());
    for (int n = 1; n < box.size(); ++n)
        QVERIFY(Ecies::open(box.left(n), bob).isEmpty());
    QVERIFY(Ecies::open(base64UrlEncode(raw + 'x'), bob).isEmpty());
    QVERIFY(Ecies::open(QString(), bob).isEmpty());
    QVERIFY(Ecies::open("not a box at all!", bob).isEmpty());
    QVERIFY(Ecies::open(box + "=", bob).isEmpty());
    QVERIFY(Ecies::open(" " + box, bob).isEmpty());
    const QString standardAlphabet = QString(box).replace('-', '+').replace('_', '/');
    if (standardAlphabet != box)
        QVERIFY(Ecies::open(standardAlphabet, bob).isEmpty());
    for (int i = 0; i < 200; ++i)
        QVERIFY(Ecies::open(base64UrlEncode(velmor::crypto::randomBytes(1 + i)), bob).isEmpty());
    // A header that is well formed but carries an invalid ephemeral point.
    QByteArray badPoint = raw;
    badPoint.replace(2, 33, QByteArray(1, 0x02) + QByteArray(32, char(0xff)));
    QVERIFY(Ecies::open(base64UrlEncode(badPoint), bob).isEmpty());
}

void TestCrypto::sealAlgorithmMismatch()
{
    const QByteArray bob = filled(0x22, 32);
    const QString chacha = Ecies::seal(publicKeyFromSecret(bob), "x", Ecies::ChaCha20Poly1305);
    const QString aes = Ecies::seal(publicKeyFromSecret(bob), "x", Ecies::Aes256Gcm);
    QVERIFY(Ecies::open(chacha, bob, Ecies::Aes256Gcm).isEmpty());
    QVERIFY(Ecies::open(aes, bob, Ecies::ChaCha20Poly1305).isEmpty());
    QVERIFY(Ecies::open(chacha, bob, 2).isEmpty());
    QVERIFY(Ecies::open(chacha, bob, -1).isEmpty());
    // Rewriting the algorithm byte is caught by the authenticated header.
    QByteArray raw = base64UrlDecode(chacha);
    raw[1] = 1;
    QVERIFY(Ecies::open(base64UrlEncode(raw), bob, Ecies::Aes256Gcm).isEmpty());
}

void TestCrypto::sealBadArguments()
{
    const QByteArray bobPub = publicKeyFromSecret(filled(0x22, 32));
    QVERIFY(Ecies::seal(QByteArray(), "x").isEmpty());
    QVERIFY(Ecies::seal(bobPub.left(64), "x").isEmpty());
    QVERIFY(Ecies::seal(QByteArray(65, 0x04), "x").isEmpty());
    QVERIFY(Ecies::seal(bobPub, "x", 7).isEmpty());
    const QString box = Ecies::seal(bobPub, "x");
    QVERIFY(Ecies::open(box, QByteArray()).isEmpty());
    QVERIFY(Ecies::open(box, filled(0x22, 31)).isEmpty());
    QVERIFY(Ecies::open(box, filled(0x22, 33)).isEmpty());
    QVERIFY(Ecies::open(box, QByteArray(32, 0)).isEmpty());
    QVERIFY(Ecies::open(box, kOrder).isEmpty());
}

void TestCrypto::sealIsRandomised()
{
    const QByteArray bobPub = publicKeyFromSecret(filled(0x22, 32));
    const QString a = Ecies::seal(bobPub, "same text");
    const QString b = Ecies::seal(bobPub, "same text");
    QVERIFY(a != b);
    // Fresh ephemeral key and fresh nonce every time.
    QVERIFY(base64UrlDecode(a).mid(2, 33) != base64UrlDecode(b).mid(2, 33));
    QVERIFY(base64UrlDecode(a).mid(35, 12) != base64UrlDecode(b).mid(35, 12));
}

void TestCrypto::sealOpensReferenceBoxes()
{
    // Boxes made by an independent implementation of the documented layout
    // with ephemeral secret 0x33…33 and nonce 0x44…44 (docs/protocol.md).
    const QByteArray bob = filled(0x22, 32);
    const QByteArray expected = QString::fromUtf8("你好, Bob").toUtf8();
    QCOMPARE(Ecies::open("AQACPHKt20_fCa-U8MlNf-kqOGp-cM-KHYWRY4a7JTXHsbFEREREREREREREREQ12DWKiDh0c4m8xnPvwnAfXTNhLbqFeORyelg",
                         bob, 0),
             expected);
    QCOMPARE(Ecies::open("AQECPHKt20_fCa-U8MlNf-kqOGp-cM-KHYWRY4a7JTXHsbFERERERERERERERESsN9iUzbr51kXpMAWohQ7kv5xy55bL5QaKKbU",
                         bob, 1),
             expected);
}

void TestCrypto::groupBoxRoundTripAndBinding()
{
    const QByteArray key = filled(0x55, 32);
    const QString box = GroupBox::seal(key, "group text", "g-1");
    QCOMPARE(GroupBox::open(box, key, "g-1"), QByteArray("group text"));
    QVERIFY(GroupBox::open(box, key, "g-2").isEmpty());
    QVERIFY(GroupBox::open(box, key).isEmpty());
    QVERIFY(GroupBox::open(box, filled(0x56, 32), "g-1").isEmpty());
    QVERIFY(GroupBox::seal(key, "same") != GroupBox::seal(key, "same"));
    QCOMPARE(GroupBox::open(GroupBox::seal(key, "no ad"), key), QByteArray("no ad"));
    QVERIFY(GroupBox::seal(filled(0x55, 31), "x").isEmpty());
    QVERIFY(GroupBox::seal(QByteArray(), "x").isEmpty());
    QVERIFY(GroupBox::open(box, filled(0x55, 33), "g-1").isEmpty());
    QVERIFY(GroupBox::open(QString(), key).isEmpty());
    QVERIFY(GroupBox::open("%%%", key).isEmpty());
    // A sealed box to a public key is not a group box, whatever the key.
    const QString ecies = Ecies::seal(publicKeyFromSecret(filled(0x22, 32)), "x");
    QVERIFY(GroupBox::open(ecies, key).isEmpty());
    const QByteArray raw = base64UrlDecode(box);
    for (int n = 0; n < raw.size(); ++n)
        QVERIFY(GroupBox::open(base64UrlEncode(raw.left(n)), key, "g-1").isEmpty());
}

void TestCrypto::groupBoxRejectsEveryFlippedByte()
{
    const QByteArray key = filled(0x55, 32);
    const QByteArray raw = base64UrlDecode(GroupBox::seal(key, "flip me", "ad"));
    QCOMPARE(raw.size(), 1 + 12 + 7 + 16);
    for (int i = 0; i < raw.size(); ++i) {
        QByteArray bad = raw;
        bad[i] = char(bad[i] ^ 0x04);
        QVERIFY2(GroupBox::open(base64UrlEncode(bad), key, "ad").isEmpty(), qPrintable(QString::number(i)));
    }
}

void TestCrypto::groupBoxOpensReferenceBox()
{
    // Independent implementation, key 0x55…55, nonce 0x66…66, associated data "g-123".
    QCOMPARE(GroupBox::open("AmZmZmZmZmZmZmZmZpL2C0CUEqY-qQTjZ-C1Kx3u1g0v_ePHwG44Hg", filled(0x55, 32), "g-123"),
             QByteArray("group hello"));
}

void TestCrypto::ed25519MatchesRfc8032()
{
    // RFC 8032 section 7.1, test 1 (empty message).
    const QByteArray seed = hex("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60");
    const Ed25519KeyPair pair = ed25519FromSeed(seed);
    QVERIFY(pair.isValid());
    QCOMPARE(pair.publicKey.toHex(), QByteArray("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a"));
    const QByteArray sig = ed25519Sign(seed, QByteArray());
    QCOMPARE(sig.toHex(), QByteArray("e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33b"
                                     "acc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"));
    QVERIFY(ed25519Verify(pair.publicKey, QByteArray(), sig));
}

void TestCrypto::ed25519RejectsTamperingAndBadLengths()
{
    const Ed25519KeyPair pair = ed25519FromSeed(filled(0x07, 32));
    const QByteArray sig = ed25519Sign(pair.seed, "card");
    QVERIFY(ed25519Verify(pair.publicKey, "card", sig));
    QVERIFY(!ed25519Verify(pair.publicKey, "cart", sig));
    QByteArray bad = sig;
    bad[10] = char(bad[10] ^ 1);
    QVERIFY(!ed25519Verify(pair.publicKey, "card", bad));
    QVERIFY(!ed25519Verify(pair.publicKey, "card", sig.left(63)));
    QVERIFY(!ed25519Verify(pair.publicKey.left(31), "card", sig));
    QVERIFY(!ed25519Verify(ed25519FromSeed(filled(0x08, 32)).publicKey, "card", sig));
    QVERIFY(!ed25519FromSeed(filled(1, 31)).isValid());
    QVERIFY(ed25519Sign(filled(1, 33), "x").isEmpty());
}

void TestCrypto::concurrentUse()
{
    // The process-wide secp256k1 contexts are created lazily; first use from
    // many threads at once must be safe, and so is any later use.
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &failures] {
            const QByteArray secret = QByteArray(32, char(0x30 + t));
            const QByteArray pub = publicKeyFromSecret(secret);
            for (int i = 0; i < 40; ++i) {
                const QByteArray msg = QByteArray::number(t * 1000 + i);
                const QString box = Ecies::seal(pub, msg, i % 2);
                if (Ecies::open(box, secret, i % 2) != msg)
                    ++failures;
                if (!verifyMessage(pub, msg, signMessage(secret, msg)))
                    ++failures;
            }
        });
    }
    for (std::thread &th : threads)
        th.join();
    QCOMPARE(failures.load(), 0);
}

QTEST_GUILESS_MAIN(TestCrypto)
#include "tst_crypto.moc"
