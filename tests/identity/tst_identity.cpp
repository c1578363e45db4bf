// The identity key pair and its text forms, BIP39, BIP32 and wallet addresses.
#include "identity/crypto.h"
#include "identity/identity.h"

#include <QtTest>

using namespace velmor::identity;
using velmor::crypto::base64UrlDecode;
using velmor::crypto::base64UrlEncode;

namespace {

QByteArray hex(const char *h) { return QByteArray::fromHex(h); }
const QByteArray kOne = hex("0000000000000000000000000000000000000000000000000000000000000001");
const QString kAbandonAbout = QStringLiteral(
    "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about");

} // namespace

class TestIdentity : public QObject
{
    Q_OBJECT

private slots:
    void wordList();
    void bip39Vectors_data();
    void bip39Vectors();
    void bip39EmptyPassphraseSeed();
    void mnemonicNormalisation();
    void invalidMnemonics_data();
    void invalidMnemonics();
    void generatedMnemonics();
    void mnemonicFromBadEntropy();

    void bip32Vector1();
    void bip32BadInput();
    void abandonAccount();

    void addressesOfKnownKey();
    void addressesRefuseBadKeys();

    void identityFromSecret();
    void privateKeyText();
    void privateKeyTextRejects_data();
    void privateKeyTextRejects();
    void hexPrivateKeyText();
    void generate();
};

void TestIdentity::wordList()
{
    const QStringList &words = englishWordList();
    QCOMPARE(words.size(), 2048);
    QCOMPARE(words.first(), QString("abandon"));
    QCOMPARE(words.last(), QString("zoo"));
    // SHA-256 of the published english.txt (one word per line).
    QCOMPARE(velmor::crypto::sha256Hex((words.join('\n') + '\n').toLatin1()),
             QString("2f5eed53a4727b4bf8880d8f3f199efc90e58503646d9ff8eff3a2ed3b24dbda"));
    // Sorted and unique, and the first four letters identify a word.
    QSet<QString> prefixes;
    for (int i = 0; i < words.size(); ++i) {
        if (i > 0)
            QVERIFY(words[i - 1] < words[i]);
        prefixes.insert(words[i].left(4));
    }
    QCOMPARE(prefixes.size(), 2048);
}

void TestIdentity::bip39Vectors_data()
{
    // Published BIP39 English vectors; the seeds use the passphrase "TREZOR".
    QTest::addColumn<QByteArray>("entropy");
    QTest::addColumn<QString>("phrase");
    QTest::addColumn<QByteArray>("seed");
    QTest::newRow("zeros-128") << hex("00000000000000000000000000000000") << kAbandonAbout
        << hex("c55257c360c07c72029aebc1b53c05ed0362ada38ead3e3e9efa3708e53495531f09a6987599d18264c1e1c92f2cf1416"
               "30c7a3c4ab7c81b2f001698e7463b04");
    QTest::newRow("7f-128") << hex("7f7f7f7f7f7f7f7f7f7f7f7f7f7f7f7f")
        << "legal winner thank year wave sausage worth useful legal winner thank yellow"
        << hex("2e8905819b8723fe2c1d161860e5ee1830318dbf49a83bd451cfb8440c28bd6fa457fe1296106559a3c80937a1c1069be"
               "3a3a5bd381ee6260e8d9739fce1f607");
    QTest::newRow("80-128") << hex("80808080808080808080808080808080")
        << "letter advice cage absurd amount doctor acoustic avoid letter advice cage above"
        << hex("d71de856f81a8acc65e6fc851a38d4d7ec216fd0796d0a6827a3ad6ed5511a30fa280f12eb2e47ed2ac03b5c462a0358d"
               "18d69fe4f985ec81778c1b370b652a8");
    QTest::newRow("ff-128") << hex("ffffffffffffffffffffffffffffffff") << "zoo zoo zoo zoo zoo zoo zoo zoo zoo zoo zoo wrong"
        << hex("ac27495480225222079d7be181583751e86f571027b0497b5b5d11218e0a8a13332572917f0f8e5a589620c6f15b11c61"
               "dee327651a14c34e18231052e48c069");
    QTest::newRow("random-128") << hex("9e885d952ad362caeb4efe34a8e91bd2")
        << "ozone drill grab fiber curtain grace pudding thank cruise elder eight picnic"
        << hex("274ddc525802f7c828d8ef7ddbcdc5304e87ac3535913611fbbfa986d0c9e5476c91689f9c8a54fd55bd38606aa6a8595"
               "ad213d4c9c9f9aca3fb217069a41028");
    QTest::newRow("random-192") << hex("6610b25967cdcca9d59875f5cb50b0ea75433311869e930b")
        << "gravity machine north sort system female filter attitude volume fold club stay feature office ecology "
           "stable narrow fog"
        << hex("628c3827a8823298ee685db84f55caa34b5cc195a778e52d45f59bcf75aba68e4d7590e101dc414bc1bbd5737666fbbef"
               "35d1f1903953b66624f910feef245ac");
    QTest::newRow("zeros-256") << QByteArray(32, 0)
        << "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon "
           "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon art"
        << hex("bda85446c68413707090a52022edd26a1c9462295029f2e60cd7c4f2bbd3097170af7a4d73245cafa9c3cca8d561a7c3d"
               "e6f5d4a10be8ed2a5e608d68f92fcc8");
}

void TestIdentity::bip39Vectors()
{
    QFETCH(QByteArray, entropy);
    QFETCH(QString, phrase);
    QFETCH(QByteArray, seed);
    QCOMPARE(mnemonicFromEntropy(entropy), phrase);
    QVERIFY(isValidMnemonic(phrase));
    QCOMPARE(mnemonicToSeed(phrase, "TREZOR"), seed);
}

void TestIdentity::bip39EmptyPassphraseSeed()
{
    QCOMPARE(mnemonicToSeed(kAbandonAbout).toHex(),
             QByteArray("5eb00bbddcf069084889a8ab9155568165f5c453ccb85e70811aaed6f6da5fc19a5ac40b389cd370d086206dec8aa6c"
                        "43daea6690f20ad3d8d48b2d2ce9e38e4"));
    QCOMPARE(mnemonicToSeed(kAbandonAbout, QString()), mnemonicToSeed(kAbandonAbout));
}

void TestIdentity::mnemonicNormalisation()
{
    // Extra white space and capitals do not change what the phrase means.
    const QString messy = "  Abandon abandon\tabandon abandon abandon abandon abandon abandon abandon abandon\n"
                          "abandon ABOUT ";
    QVERIFY(isValidMnemonic(messy));
    QCOMPARE(privateKeyFromMnemonic(messy), privateKeyFromMnemonic(kAbandonAbout));
    QCOMPARE(mnemonicToSeed("  " + kAbandonAbout + "\n"), mnemonicToSeed(kAbandonAbout));
}

void TestIdentity::invalidMnemonics_data()
{
    QTest::addColumn<QString>("phrase");
    QTest::newRow("empty") << QString();
    QTest::newRow("blank") << "   \n\t";
    QTest::newRow("bad checksum") << "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon "
                                     "abandon abandon";
    QTest::newRow("bad checksum 24") << QString("abandon ").repeated(24).trimmed();
    QTest::newRow("unknown word") << "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon "
                                     "abandon abouts";
    QTest::newRow("prefix only") << "aban aban aban aban aban aban aban aban aban aban aban abou";
    QTest::newRow("11 words") << "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about";
    QTest::newRow("13 words") << kAbandonAbout + " abandon";
    QTest::newRow("27 words") << QString("zoo ").repeated(27).trimmed();
    QTest::newRow("punctuation") << QString(kAbandonAbout).replace(" ", ",");
    QTest::newRow("non-latin") << QString::fromUtf8("你好 ").repeated(12).trimmed();
    QTest::newRow("huge") << QString("abandon ").repeated(100000);
    QTest::newRow("nul") << QString(kAbandonAbout).replace(7, 1, QChar(0));
}

void TestIdentity::invalidMnemonics()
{
    QFETCH(QString, phrase);
    QVERIFY(!isValidMnemonic(phrase));
    QVERIFY(privateKeyFromMnemonic(phrase).isEmpty());
}

void TestIdentity::generatedMnemonics()
{
    QSet<QString> seen;
    for (int i = 0; i < 20; ++i) {
        const QString phrase = generateMnemonic();
        QCOMPARE(phrase.split(' ').size(), 12);
        QVERIFY(!phrase.contains("  "));
        QVERIFY(isValidMnemonic(phrase));
        QCOMPARE(privateKeyFromMnemonic(phrase).size(), 32);
        seen.insert(phrase);
    }
    QCOMPARE(seen.size(), 20);
}

void TestIdentity::mnemonicFromBadEntropy()
{
    for (int n : {0, 1, 12, 15, 17, 33, 64})
        QVERIFY2(mnemonicFromEntropy(QByteArray(n, 'x')).isEmpty(), qPrintable(QString::number(n)));
    for (int n : {16, 20, 24, 28, 32}) {
        const QString phrase = mnemonicFromEntropy(velmor::crypto::randomBytes(n));
        QCOMPARE(phrase.split(' ').size(), n * 3 / 4);
        QVERIFY(isValidMnemonic(phrase));
    }
}

void TestIdentity::bip32Vector1()
{
    // BIP32 test vector 1.
    const QByteArray seed = hex("000102030405060708090a0b0c0d0e0f");
    const ExtendedKey master = bip32MasterKey(seed);
    QCOMPARE(master.key.toHex(), QByteArray("e8f32e723decf4051aefac8e2c93c9c5b214313817cdb01a1494b917c8436b35"));
    QCOMPARE(master.chainCode.toHex(), QByteArray("873dff81c02f525623fd1fe5167eac3a55a049de3d314bb42ee227ffed37d508"));

    struct Step { quint32 index; const char *path; const char *key; const char *chain; };
    const Step steps[] = {
        {0x80000000u, "m/0'", "edb2e14f9ee77d26dd93b4ecede8d16ed408ce149b6cd80b0715a2d911a0afea",
         "47fdacbd0f1097043b78c63c20c34ef4ed9a111d980047ad16282c7ae6236141"},
        {1, "m/0'/1", "3c6cb8d0f6a264c91ea8b5030fadaa8e538b020f0a387421a12de9319dc93368",
         "2a7857631386ba23dacac34180dd1983734e444fdbf774041578e9b6adb37c19"},
        {0x80000002u, "m/0'/1/2h", "cbce0d719ecf7431d88e6a89fa1483e02e35092af60c042b1df2ff59fa424dca",
         "04466b9cc8e161e966409ca52986c584f07e9dc81f735db683c3ff6ec7b1503f"},
        {2, "m/0'/1/2H/2", "0f479245fb19a38a1954c5c7c0ebab2f9bdfd96a17563ef28a6a4b1a2a764ef4",
         "cfb71883f01676f587d023cc53a35bc7f88f724b1f8c2892ac1275ac822a3edd"},
        {1000000000, "m/0'/1/2'/2/1000000000", "471b76e389e528d6de6d816857e012c5455051cad6660850e58372a6c3e6e7c8",
         "c783e67b921d2beb8f6b389cc646d7263b4145701dadd2161548a8b078e65e9e"},
    };
    ExtendedKey key = master;
    for (const Step &s : steps) {
        key = bip32DeriveChild(key, s.index);
        QCOMPARE(key.key.toHex(), QByteArray(s.key));
        QCOMPARE(key.chainCode.toHex(), QByteArray(s.chain));
        const ExtendedKey byPath = bip32DerivePath(seed, s.path);
        QCOMPARE(byPath.key, key.key);
        QCOMPARE(byPath.chainCode, key.chainCode);
    }
    QCOMPARE(bip32DerivePath(seed, "m").key, master.key);
}

void TestIdentity::bip32BadInput()
{
    const QByteArray seed = hex("000102030405060708090a0b0c0d0e0f");
    QVERIFY(!bip32MasterKey(QByteArray()).isValid());
    QVERIFY(!bip32MasterKey(QByteArray(15, 1)).isValid());
    QVERIFY(!bip32MasterKey(QByteArray(65, 1)).isValid());
    QVERIFY(!bip32DeriveChild(ExtendedKey{}, 0).isValid());
    QVERIFY(!bip32DeriveChild(ExtendedKey{QByteArray(32, 0), QByteArray(32, 1)}, 0).isValid());
    QVERIFY(!bip32DeriveChild(ExtendedKey{QByteArray(32, 1), QByteArray(31, 1)}, 0).isValid());
    for (const char *path : {"", "m/", "M/0", "x/0", "/0", "0", "m/2147483648", "m/2147483648'", "m/-1", "m/0''",
                             "m/abc", "m/ 1", "m/1 /2", "m//1", "m/99999999999", "m/0x10", "m/+1"})
        QVERIFY2(!bip32DerivePath(seed, path).isValid(), path);
    QVERIFY(bip32DerivePath(seed, "m/2147483647'").isValid());
    QVERIFY(!bip32DerivePath(QByteArray(3, 1), "m/0").isValid());
}

void TestIdentity::abandonAccount()
{
    // The widely published first Ethereum account of "abandon ×11 about".
    const QByteArray key = privateKeyFromMnemonic(kAbandonAbout);
    QCOMPARE(key.toHex(), QByteArray("1ab42cc412b618bdea3a599e3c9bae199ebf030895b039e9db1e30dafb12b727"));
    QCOMPARE(Identity(key).erc20Address(), QString("0x9858effd232b4033e47d90003d41ec34ecaeda94"));
    QCOMPARE(bip32DerivePath(mnemonicToSeed(kAbandonAbout), "m/44'/60'/0'/0/0").key, key);
}

void TestIdentity::addressesOfKnownKey()
{
    const Identity one(kOne);
    QVERIFY(one.isValid());
    QCOMPARE(one.erc20Address(), QString("0x7e5f4552091a69125d5dfcb7b8c2659029395bdf"));
    QCOMPARE(one.tronAddress(), QString("TMVQGm1qAQYVdetCeGRRkTWYYrLXuHK2HC"));
    const QByteArray compressed = velmor::crypto::publicKeyFromSecret(kOne, true);
    QCOMPARE(ethereumAddress(compressed), one.erc20Address());
    QCOMPARE(tronAddress(compressed), one.tronAddress());
    QCOMPARE(publicKeyXY(compressed), one.publicKey.mid(1));
    QCOMPARE(publicKeyXY(one.publicKey), one.publicKey.mid(1));
}

void TestIdentity::addressesRefuseBadKeys()
{
    const QByteArray pub = Identity(kOne).publicKey;
    for (const QByteArray &bad : {QByteArray(), pub.mid(1), pub.left(33), QByteArray(65, 0x04), pub + 'x'}) {
        QVERIFY(publicKeyXY(bad).isEmpty());
        QVERIFY(ethereumAddress(bad).isEmpty());
        QVERIFY(tronAddress(bad).isEmpty());
    }
    const Identity none;
    QVERIFY(none.erc20Address().isEmpty());
    QVERIFY(none.tronAddress().isEmpty());
    QVERIFY(none.publicKeyText().isEmpty());
    QVERIFY(none.privateKeyText().isEmpty());
}

void TestIdentity::identityFromSecret()
{
    const Identity one(kOne);
    QCOMPARE(one.privateKey, kOne);
    QCOMPARE(one.publicKey.toHex(), QByteArray("0479be667ef9dcbbac55a06295ce870b07029bfcdb2dce28d959f2815b16f81798483ada7"
                                               "726a3c4655da4fbfc0e1108a8fd17b448a68554199c47d08ffb10d4b8"));
    QCOMPARE(one.publicKeyText().size(), 87);
    QCOMPARE(base64UrlDecode(one.publicKeyText()), one.publicKey);
    for (const QByteArray &bad : {QByteArray(), QByteArray(32, 0), QByteArray(31, 1), QByteArray(33, 1),
                                  hex("fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141")}) {
        const Identity id(bad);
        QVERIFY(!id.isValid());
        QVERIFY(id.privateKey.isEmpty());
    }
}

void TestIdentity::privateKeyText()
{
    const Identity one(kOne);
    // Checksum: first 3 bytes of SHA-256 over the text before it (docs/protocol.md).
    QCOMPARE(one.privateKeyText(), QString("velmor_wallet_sk_AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAE_194390"));
    QCOMPARE(Identity::fromPrivateKeyText(one.privateKeyText()).privateKey, kOne);
    QCOMPARE(Identity::fromPrivateKeyText("  " + one.privateKeyText() + "\n").privateKey, kOne);
    QCOMPARE(Identity::fromPrivateKeyText("velmor_wallet_sk_AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAE_194390").publicKey,
             one.publicKey);
    for (int i = 0; i < 50; ++i) {
        const Identity id = Identity::generate();
        const QString text = id.privateKeyText();
        QCOMPARE(text.size(), 17 + 43 + 1 + 6);
        const Identity back = Identity::fromPrivateKeyText(text);
        QCOMPARE(back.privateKey, id.privateKey);
        QCOMPARE(back.publicKey, id.publicKey);
    }
}

void TestIdentity::privateKeyTextRejects_data()
{
    QTest::addColumn<QString>("text");
    const QString good = "velmor_wallet_sk_AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAE_194390";
    QTest::newRow("empty") << QString();
    QTest::newRow("prefix only") << "velmor_wallet_sk_";
    QTest::newRow("wrong checksum") << QString(good).replace("194390", "194391");
    QTest::newRow("checksum of another key") << "velmor_wallet_sk_AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAI_194390";
    QTest::newRow("no checksum") << good.left(good.size() - 7);
    QTest::newRow("short checksum") << good.left(good.size() - 1);
    QTest::newRow("long checksum") << good + "0";
    QTest::newRow("missing separator") << QString(good).replace(60, 1, "x");
    QTest::newRow("wrong prefix") << QString(good).replace("velmor_wallet_sk_", "velmor_wallet_pk_");
    QTest::newRow("bad base64url") << QString(good).replace(20, 1, "*");
    QTest::newRow("inner space") << QString(good).replace(30, 0, " ");
    // A zero key with a correct checksum is still not a secp256k1 secret.
    const QString zeroBody = "velmor_wallet_sk_" + base64UrlEncode(QByteArray(32, 0));
    QTest::newRow("zero key") << zeroBody + "_"
            + QString::fromLatin1(velmor::crypto::sha256(zeroBody.toLatin1()).left(3).toHex());
    QTest::newRow("hex 63") << QString(63, '1');
    QTest::newRow("hex 65") << QString(65, '1');
    QTest::newRow("hex non-digit") << QString(63, '1') + "g";
    QTest::newRow("hex zero") << QString(64, '0');
    QTest::newRow("hex order") << "fffffffffffffffffffffffffffffffebaaedce6af48a03bbfd25e8cd0364141";
    QTest::newRow("double 0x") << "0x0x" + QString(62, '1');
    QTest::newRow("garbage") << QString::fromUtf8("私钥🔑");
    QTest::newRow("huge") << QString(1 << 20, 'a');
}

void TestIdentity::privateKeyTextRejects()
{
    QFETCH(QString, text);
    const Identity id = Identity::fromPrivateKeyText(text);
    QVERIFY(!id.isValid());
    QVERIFY(id.privateKey.isEmpty());
}

void TestIdentity::hexPrivateKeyText()
{
    const QString h = "0000000000000000000000000000000000000000000000000000000000000001";
    QCOMPARE(Identity::fromPrivateKeyText(h).privateKey, kOne);
    QCOMPARE(Identity::fromPrivateKeyText("0x" + h).privateKey, kOne);
    QCOMPARE(Identity::fromPrivateKeyText("0X" + h).privateKey, kOne);
    QCOMPARE(Identity::fromPrivateKeyText(" \t0x" + h + " \n").privateKey, kOne);
    const QString mixed = "1AB42CC412B618BDEA3A599E3C9BAE199EBF030895B039E9DB1E30DAFB12B727";
    QCOMPARE(Identity::fromPrivateKeyText(mixed).erc20Address(), QString("0x9858effd232b4033e47d90003d41ec34ecaeda94"));
}

void TestIdentity::generate()
{
    const Identity a = Identity::generate();
    const Identity b = Identity::generate();
    QVERIFY(a.isValid() && b.isValid());
    QVERIFY(a.privateKey != b.privateKey);
    QCOMPARE(a.publicKey, velmor::crypto::publicKeyFromSecret(a.privateKey));
    QCOMPARE(a.publicKey.size(), 65);
    QVERIFY(a.erc20Address().startsWith("0x"));
    QCOMPARE(a.erc20Address().size(), 42);
    QCOMPARE(a.erc20Address(), a.erc20Address().toLower());
    QVERIFY(a.tronAddress().startsWith('T'));
    QCOMPARE(a.tronAddress().size(), 34);
}

QTEST_GUILESS_MAIN(TestIdentity)
#include "tst_identity.moc"
