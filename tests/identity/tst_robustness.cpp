// Hostile input: every reader of outside data gets random, mutated and
// oversized input and must answer with an empty or false result, never crash.
#include "identity/content.h"
#include "identity/crypto.h"
#include "identity/envelope.h"
#include "identity/identity.h"
#include "identity/qr.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace velmor;
using crypto::base64UrlDecode;
using crypto::base64UrlEncode;

namespace {

const identity::Identity kAlice(QByteArray(32, 0x11));
const identity::Identity kBob(QByteArray(32, 0x22));

QByteArray randomBytes(QRandomGenerator &rng, int maxLength)
{
    QByteArray out(int(rng.bounded(maxLength + 1)), Qt::Uninitialized);
    for (char &c : out)
        c = char(rng.bounded(256));
    return out;
}

// Small random edits of a valid text: flips, deletions, insertions, truncation.
QString mutate(QRandomGenerator &rng, QString text)
{
    const int edits = 1 + int(rng.bounded(4));
    for (int i = 0; i < edits && !text.isEmpty(); ++i) {
        const int at = int(rng.bounded(text.size()));
        switch (rng.bounded(4)) {
        case 0: text[at] = QChar(char16_t(text[at].unicode() ^ (1u << rng.bounded(7)))); break;
        case 1: text.remove(at, 1 + int(rng.bounded(3))); break;
        case 2: text.insert(at, QChar(char16_t(rng.bounded(0x3000)))); break;
        default: text.truncate(at); break;
        }
    }
    return text;
}

} // namespace

class TestRobustness : public QObject
{
    Q_OBJECT

private slots:
    void randomBytesEverywhere();
    void mutatedValidInputs();
    void oversizedInputs();
};

void TestRobustness::randomBytesEverywhere()
{
    QRandomGenerator rng(20261207);
    for (int i = 0; i < 3000; ++i) {
        const QByteArray bytes = randomBytes(rng, 300);
        const QString latin = QString::fromLatin1(bytes);
        const QString text = base64UrlEncode(bytes);
        // Random bytes are almost never a valid box, key or card; any "success"
        // must at least be self-consistent.
        QVERIFY(Ecies::open(text, kBob.privateKey).isEmpty());
        QVERIFY(Ecies::open(latin, kBob.privateKey, 1).isEmpty());
        QVERIFY(crypto::GroupBox::open(text, QByteArray(32, 0x55)).isEmpty());
        QVERIFY(!crypto::verifyMessage(bytes.left(65), bytes, bytes.left(64)));
        QVERIFY(crypto::normalisePublicKey(bytes).isEmpty() || bytes.size() == 33 || bytes.size() == 65);
        QVERIFY(identity::publicKeyXY(bytes).isEmpty() || bytes.size() == 33 || bytes.size() == 65);
        const QByteArray decoded = base64UrlDecode(latin);
        QVERIFY(decoded.isEmpty() || base64UrlEncode(decoded) == latin);
        QVERIFY(!identity::Identity::fromPrivateKeyText(latin).isValid() || latin.trimmed().size() >= 64);
        QVERIFY(!identity::isValidMnemonic(latin));
        const chat::MessageContent content = chat::parseMessageContent(bytes);
        QVERIFY(!content.ok || bytes.trimmed().startsWith('{'));
        QVERIFY(!chat::verifyWalletCard(latin, kAlice.publicKeyText()));
        QVERIFY(!chat::parseOfficialNoticeWithKey(latin, "zh-Hans", kAlice.publicKey).ok);
        QVERIFY(!chat::parseGroupMediaContent("velmor_image_v1:" + text).ok || bytes.startsWith('{'));
        QVERIFY(!chat::isOfficialAccountKey(text) || bytes == chat::officialAccountPublicKey());
        identity::Envelope e;
        e.messageId = latin;
        e.senderPubkey = text;
        e.recipientPubkey = text;
        e.senderAddress = latin;
        e.createdAt = qint64(rng.generate64());
        e.expiresAt = qint64(rng.generate64());
        e.ciphertext = text;
        e.signature = text;
        QVERIFY(!identity::validateEnvelope(e, qint64(rng.generate64())).valid);
    }
}

void TestRobustness::mutatedValidInputs()
{
    QRandomGenerator rng(7);
    const QString box = Ecies::seal(kBob.publicKey, "mutate me");
    const QString groupBox = crypto::GroupBox::seal(QByteArray(32, 0x55), "mutate me");
    const QString card = chat::makeWalletCard(kAlice, 1700000000);
    const identity::Identity signer(QByteArray(32, 0x0f));
    const QString notice = chat::makeOfficialNotice(signer.privateKey, {{"en", "T", "B"}}, 1);
    const QString keyText = kAlice.privateKeyText();
    const QString phrase = identity::mnemonicFromEntropy(QByteArray(16, 0x5a));
    const identity::Envelope envelope = identity::signEnvelope(kAlice, kBob.publicKeyText(), box, "m-1", 1700000000);
    for (int i = 0; i < 2000; ++i) {
        const QString b = mutate(rng, box);
        if (b != box)
            QVERIFY(Ecies::open(b, kBob.privateKey).isEmpty());
        const QString g = mutate(rng, groupBox);
        if (g != groupBox)
            QVERIFY(crypto::GroupBox::open(g, QByteArray(32, 0x55)).isEmpty());
        // A mutated card or notice may still parse as JSON, but must not verify
        // unless the edit left every signed member as it was.
        const QString c = mutate(rng, card);
        QString address;
        if (chat::verifyWalletCard(c, kAlice.publicKeyText(), &address))
            QCOMPARE(address, kAlice.erc20Address());
        const QString n = mutate(rng, notice);
        const chat::OfficialNotice parsed = chat::parseOfficialNoticeWithKey(n, "en", signer.publicKey);
        if (parsed.ok)
            QCOMPARE(parsed.text, QString("T\n\nB"));
        const QString k = mutate(rng, keyText);
        const identity::Identity id = identity::Identity::fromPrivateKeyText(k);
        if (id.isValid())
            QCOMPARE(id.privateKey, kAlice.privateKey);
        const QString p = mutate(rng, phrase);
        if (identity::isValidMnemonic(p))
            QCOMPARE(identity::privateKeyFromMnemonic(p).size(), 32);
        identity::Envelope e = envelope;
        switch (i % 4) {
        case 0: e.messageId = mutate(rng, e.messageId); break;
        case 1: e.ciphertext = mutate(rng, e.ciphertext); break;
        case 2: e.signature = mutate(rng, e.signature); break;
        default: e.senderPubkey = mutate(rng, e.senderPubkey); break;
        }
        const bool unchanged = e.messageId == envelope.messageId && e.ciphertext == envelope.ciphertext
            && e.signature == envelope.signature && e.senderPubkey == envelope.senderPubkey;
        QCOMPARE(identity::validateEnvelope(e, 1700000000).valid, unchanged);
    }
}

void TestRobustness::oversizedInputs()
{
    const QString bigText(8 * 1024 * 1024, 'A');
    QVERIFY(Ecies::open(bigText, kBob.privateKey).isEmpty());
    QVERIFY(crypto::GroupBox::open(bigText, QByteArray(32, 1)).isEmpty());
    QVERIFY(!chat::verifyWalletCard(bigText, kAlice.publicKeyText()));
    QVERIFY(!chat::parseOfficialNotice(bigText, "zh-Hans").ok);
    QVERIFY(!chat::parseMessageContent(bigText.toLatin1()).ok);
    QVERIFY(!identity::isValidMnemonic(bigText));
    QVERIFY(identity::mnemonicToSeed(bigText).isEmpty());
    QVERIFY(!identity::Identity::fromPrivateKeyText(bigText).isValid());
    QCOMPARE(identity::makeQrCode(bigText.toLatin1()).size, 0);
    QVERIFY(!identity::bip32DerivePath(QByteArray(32, 1), "m" + QString("/0").repeated(100000)).isValid());
    // A large but legitimate box still opens.
    const QByteArray big(4 * 1024 * 1024, 'b');
    QCOMPARE(Ecies::open(Ecies::seal(kBob.publicKey, big), kBob.privateKey), big);
    const QString hugeContent = chat::groupImageContent(big, "image/png", 10, 10);
    QCOMPARE(base64UrlDecode(chat::parseGroupMediaContent(hugeContent).imageB64), big);
}

QTEST_GUILESS_MAIN(TestRobustness)
#include "tst_robustness.moc"
