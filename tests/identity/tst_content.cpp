// Message content, group media payloads, wallet cards and official notices.
#include "identity/content.h"
#include "identity/crypto.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace velmor::chat;
using velmor::crypto::base64UrlDecode;
using velmor::crypto::base64UrlEncode;
using velmor::identity::Identity;

namespace {

const Identity kAlice(QByteArray(32, 0x11));
const Identity kBob(QByteArray(32, 0x22));
// Test signer for official notices; the product key is a build constant.
const Identity kNoticeSigner(QByteArray(32, 0x0f));

QJsonObject objectOf(const QByteArray &json) { return QJsonDocument::fromJson(json).object(); }

QString cardWith(const QString &card, const char *key, const QJsonValue &value)
{
    QJsonObject o = objectOf(card.toUtf8());
    o.insert(QLatin1String(key), value);
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

} // namespace

class TestContent : public QObject
{
    Q_OBJECT

private slots:
    void contentRoundTrip();
    void contentCompactForm();
    void contentOfJoinRequest();
    void contentRejectsNonObjects_data();
    void contentRejectsNonObjects();
    void contentToleratesWrongTypes();
    void contentReadsShortListNames();
    void sendersClock_data();
    void sendersClock();
    void typeNames_data();
    void typeNames();

    void groupImage();
    void groupVoice();
    void groupMediaRejects();

    void walletCardReferenceVector();
    void walletCardRoundTrip();
    void walletCardRejects();

    void officialAccount();
    void noticeReferenceVector();
    void noticeLanguages();
    void noticeRejects();
};

void TestContent::contentRoundTrip()
{
    MessageContent c;
    c.type = "transfer";
    c.text = QString::fromUtf8("转账 \"quoted\"\n");
    c.senderAvatarKind = "lottie";
    c.senderAvatarId = "lottiehead_3";
    c.emojiCodes = {"1f600", "2764-fe0f"};
    c.durationMs = 12'345'678'901LL;
    c.siteTitle = "Site";
    c.siteUrl = "https://example.invalid/a?b=c";
    c.siteIconUrl = "https://example.invalid/i.png";
    c.transferAmountRaw = "1000000000000000000000";
    c.transferSymbol = "USDT";
    c.transferTxHash = "0xabc";
    c.transferExplorerUrl = "https://explorer.invalid/tx/0xabc";
    c.walletCard = makeWalletCard(kAlice, 1);
    c.hasPeerWalletCard = 0;
    c.bridgeOriginalText = "hola";
    c.bridgeTranslatedText = "hello";
    c.bridgeTranslationDirection = "inbound";
    c.targetClientMessageId = "m-7";
    c.imageB64 = base64UrlEncode("img");
    c.imageMime = "image/png";
    c.imageWidth = 640;
    c.imageHeight = 480;
    c.voiceB64 = base64UrlEncode("voice");
    c.voiceWaveform = {0, 7, -3, 255};
    c.groupId = "g1";
    c.groupJoinKey = "jk";
    c.groupJoinRequesterCanonicalKey = kBob.publicKeyText();
    c.groupJoinRequesterDisplayName = kBob.erc20Address();
    c.groupJoinRequesterAvatarId = "avatar_girls_002";

    const MessageContent back = parseMessageContent(serializeMessageContent(c));
    QVERIFY(back.ok);
    QCOMPARE(back.type, c.type);
    QCOMPARE(back.text, c.text);
    QCOMPARE(back.senderAvatarKind, c.senderAvatarKind);
    QCOMPARE(back.senderAvatarId, c.senderAvatarId);
    QCOMPARE(back.emojiCodes, c.emojiCodes);
    QCOMPARE(back.durationMs, c.durationMs);
    QCOMPARE(back.siteTitle, c.siteTitle);
    QCOMPARE(back.siteUrl, c.siteUrl);
    QCOMPARE(back.siteIconUrl, c.siteIconUrl);
    QCOMPARE(back.transferAmountRaw, c.transferAmountRaw);
    QCOMPARE(back.transferSymbol, c.transferSymbol);
    QCOMPARE(back.transferTxHash, c.transferTxHash);
    QCOMPARE(back.transferExplorerUrl, c.transferExplorerUrl);
    QCOMPARE(back.walletCard, c.walletCard);
    QCOMPARE(back.hasPeerWalletCard, 0);
    QCOMPARE(back.bridgeOriginalText, c.bridgeOriginalText);
    QCOMPARE(back.bridgeTranslatedText, c.bridgeTranslatedText);
    QCOMPARE(back.bridgeTranslationDirection, c.bridgeTranslationDirection);
    QCOMPARE(back.targetClientMessageId, c.targetClientMessageId);
    QCOMPARE(back.imageB64, c.imageB64);
    QCOMPARE(back.imageMime, c.imageMime);
    QCOMPARE(back.imageWidth, c.imageWidth);
    QCOMPARE(back.imageHeight, c.imageHeight);
    QCOMPARE(back.voiceB64, c.voiceB64);
    QCOMPARE(back.voiceWaveform, c.voiceWaveform);
    QCOMPARE(back.groupId, c.groupId);
    QCOMPARE(back.groupJoinKey, c.groupJoinKey);
    QCOMPARE(back.groupJoinRequesterCanonicalKey, c.groupJoinRequesterCanonicalKey);
    QCOMPARE(back.groupJoinRequesterDisplayName, c.groupJoinRequesterDisplayName);
    QCOMPARE(back.groupJoinRequesterAvatarId, c.groupJoinRequesterAvatarId);
    // The card inside the content still verifies after the trip.
    QVERIFY(verifyWalletCard(back.walletCard, kAlice.publicKeyText()));
}

void TestContent::contentCompactForm()
{
    MessageContent c;
    c.type = "text";
    c.text = QString::fromUtf8("你好");
    c.senderAvatarKind = "image";
    c.senderAvatarId = "avatar_boys_001";
    c.hasPeerWalletCard = 1;
    // Members in ascending key order, no white space, empty members left out.
    QCOMPARE(serializeMessageContent(c),
             QString::fromUtf8("{\"hasPeerWalletCard\":true,\"senderAvatarId\":\"avatar_boys_001\",\"senderAvatarKind\":"
                               "\"image\",\"text\":\"你好\",\"type\":\"text\",\"v\":1}")
                 .toUtf8());
    const MessageContent empty = parseMessageContent(serializeMessageContent(MessageContent()));
    QVERIFY(empty.ok);
    QCOMPARE(empty.hasPeerWalletCard, -1);
    QCOMPARE(serializeMessageContent(MessageContent()), QByteArray("{\"v\":1}"));
}

void TestContent::contentOfJoinRequest()
{
    const QByteArray json = "{\"v\":1,\"type\":\"group_join_request\",\"groupId\":\"g-9\",\"groupJoinKey\":\"key\","
                            "\"groupJoinRequesterCanonicalKey\":\"BKEY\",\"groupJoinRequesterDisplayName\":\"0xabc\"}";
    const MessageContent c = parseMessageContent(json);
    QVERIFY(c.ok);
    QCOMPARE(c.type, QString("group_join_request"));
    QCOMPARE(c.groupId, QString("g-9"));
    QCOMPARE(c.groupJoinKey, QString("key"));
    QCOMPARE(c.groupJoinRequesterCanonicalKey, QString("BKEY"));
    QCOMPARE(c.groupJoinRequesterDisplayName, QString("0xabc"));
    QVERIFY(c.groupJoinRequesterAvatarId.isEmpty());
    QCOMPARE(c.hasPeerWalletCard, -1);
}

void TestContent::contentRejectsNonObjects_data()
{
    QTest::addColumn<QByteArray>("plaintext");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << QByteArray("hello");
    QTest::newRow("array") << QByteArray("[1,2]");
    QTest::newRow("string") << QByteArray("\"x\"");
    QTest::newRow("number") << QByteArray("12");
    QTest::newRow("null") << QByteArray("null");
    QTest::newRow("truncated") << QByteArray("{\"type\":\"text\"");
    QTest::newRow("trailing garbage") << QByteArray("{}x");
    QTest::newRow("binary") << QByteArray("\x00\xff\xfe{", 4);
    QTest::newRow("deep nesting") << QByteArray(100000, '[');
    QTest::newRow("invalid utf-8 in key") << QByteArray("{\"\xff\":1");
}

void TestContent::contentRejectsNonObjects()
{
    QFETCH(QByteArray, plaintext);
    QVERIFY(!parseMessageContent(plaintext).ok);
    QVERIFY(messageTypeName(parseMessageContent(plaintext)).isEmpty());
}

void TestContent::contentToleratesWrongTypes()
{
    const MessageContent c = parseMessageContent(
        "{\"type\":5,\"text\":[\"a\"],\"emojiCodes\":\"1f600\",\"durationMs\":\"12\",\"imageWidth\":1.5,"
        "\"imageHeight\":1e300,\"voiceWaveform\":[1,\"x\",2.5,null],\"hasPeerWalletCard\":\"yes\"}");
    QVERIFY(c.ok);
    QVERIFY(c.type.isEmpty());
    QVERIFY(c.text.isEmpty());
    QVERIFY(c.emojiCodes.isEmpty());
    QCOMPARE(c.durationMs, 0);
    QCOMPARE(c.imageWidth, 0);
    QCOMPARE(c.imageHeight, 0);
    QCOMPARE(c.voiceWaveform, (QList<int>{1, 0, 0, 0}));
    QCOMPARE(c.hasPeerWalletCard, -1);
    QVERIFY(messageTypeName(c).isEmpty());
}

// The sender's clock in ms: anything but a positive whole number reads as
// absent, and absent is not written.
void TestContent::sendersClock_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<qint64>("sentAtMs");
    QTest::newRow("vector") << QByteArray(R"({"sentAtMs":1700000000123,"text":"你好","type":"text","v":1})")
                            << qint64(1700000000123);
    QTest::newRow("absent") << QByteArray(R"({"text":"你好","type":"text","v":1})") << qint64(0);
    QTest::newRow("as text") << QByteArray(R"({"sentAtMs":"1700000000123","type":"text","v":1})") << qint64(0);
    QTest::newRow("negative") << QByteArray(R"({"sentAtMs":-5,"type":"text","v":1})") << qint64(0);
    QTest::newRow("out of range") << QByteArray(R"({"sentAtMs":1e300,"type":"text","v":1})") << qint64(0);
}

void TestContent::sendersClock()
{
    QFETCH(QByteArray, json);
    QFETCH(qint64, sentAtMs);
    const MessageContent read = parseMessageContent(json);
    QVERIFY(read.ok);
    QCOMPARE(read.sentAtMs, sentAtMs);
    MessageContent written;
    written.type = "text";
    written.text = QString::fromUtf8("你好");
    written.sentAtMs = sentAtMs;
    const QByteArray compact = serializeMessageContent(written);
    QCOMPARE(parseMessageContent(compact).sentAtMs, sentAtMs);
    if (QByteArray(QTest::currentDataTag()) == "vector")
        QCOMPARE(compact, json);
    QCOMPARE(compact.contains("sentAtMs"), sentAtMs > 0);
}

void TestContent::contentReadsShortListNames()
{
    // Some senders name the emoji list "codes" and the waveform "waveform",
    // and send the card flag as a number; the content still reads, and is
    // written back under the full names.
    const MessageContent c = parseMessageContent(
        "{\"type\":\"emoji\",\"codes\":[\"1f600\",7],\"waveform\":[3,4],\"hasPeerWalletCard\":1}");
    QVERIFY(c.ok);
    QCOMPARE(c.emojiCodes, QStringList{"1f600"});
    QCOMPARE(c.voiceWaveform, (QList<int>{3, 4}));
    QCOMPARE(c.hasPeerWalletCard, 1);
    QCOMPARE(serializeMessageContent(c),
             QByteArray("{\"emojiCodes\":[\"1f600\"],\"hasPeerWalletCard\":true,\"type\":\"emoji\",\"v\":1,"
                        "\"voiceWaveform\":[3,4]}"));

    // When both names are there, the full one wins.
    const MessageContent both = parseMessageContent(
        "{\"emojiCodes\":[\"a\"],\"codes\":[\"b\"],\"voiceWaveform\":[1],\"waveform\":[2],"
        "\"hasPeerWalletCard\":0}");
    QVERIFY(both.ok);
    QCOMPARE(both.emojiCodes, QStringList{"a"});
    QCOMPARE(both.voiceWaveform, QList<int>{1});
    QCOMPARE(both.hasPeerWalletCard, 0);
}

void TestContent::typeNames_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("name");
    QTest::newRow("text") << "text" << "hello";
    QTest::newRow("emoji") << "emoji" << QString::fromUtf8("[表情]");
    QTest::newRow("voice") << "voice" << QString::fromUtf8("[语音]");
    QTest::newRow("image") << "image" << QString::fromUtf8("[图片]");
    QTest::newRow("site") << "site" << QString::fromUtf8("[链接]");
    QTest::newRow("transfer") << "transfer" << QString::fromUtf8("[转账]");
    QTest::newRow("system") << "system" << QString::fromUtf8("[系统消息]");
    QTest::newRow("bridge emoji") << "bridge.emoji" << QString::fromUtf8("[表情]");
    QTest::newRow("bridge voice") << "bridge.voice" << QString::fromUtf8("[语音]");
    QTest::newRow("bridge image") << "bridge.image" << QString::fromUtf8("[图片]");
    QTest::newRow("bridge site") << "bridge.site" << QString::fromUtf8("[链接]");
    QTest::newRow("bridge transfer") << "bridge.transfer" << QString::fromUtf8("[转账]");
    // Only emoji, voice, image, site and transfer have "bridge." variants: a
    // bridged text or system line is a type the preview does not know.
    QTest::newRow("bridge text") << "bridge.text" << QString();
    QTest::newRow("bridge system") << "bridge.system" << QString();
    QTest::newRow("double bridge") << "bridge.bridge.emoji" << QString();
    QTest::newRow("unknown") << "hologram" << QString();
    QTest::newRow("empty") << "" << QString();
    QTest::newRow("case matters") << "Text" << QString();
    QTest::newRow("bridge control") << "bridge.control.ack" << QString();
    QTest::newRow("bridge patch") << "bridge.translation.patch" << QString();
    QTest::newRow("join request") << "group_join_request" << QString();
    QTest::newRow("bare bridge") << "bridge." << QString();
}

void TestContent::typeNames()
{
    QFETCH(QString, type);
    QFETCH(QString, name);
    MessageContent c;
    c.ok = true;
    c.type = type;
    c.text = "hello";
    QCOMPARE(messageTypeName(c), name);
}

void TestContent::groupImage()
{
    const QString text = groupImageContent(QByteArray::fromHex("89504e47"), "image/png", 2, 1);
    QCOMPARE(text, QString("velmor_image_v1:eyJieXRlcyI6NCwiaGVpZ2h0IjoxLCJpbWFnZUI2NCI6ImlWQk9SdyIsIm1pbWUiOiJpbWFnZS9w"
                           "bmciLCJ3aWR0aCI6Mn0"));
    QCOMPARE(base64UrlDecode(text.mid(16)),
             QByteArray("{\"bytes\":4,\"height\":1,\"imageB64\":\"iVBORw\",\"mime\":\"image/png\",\"width\":2}"));
    const GroupMediaContent m = parseGroupMediaContent(text);
    QVERIFY(m.ok);
    QCOMPARE(m.kind, QString("image"));
    QCOMPARE(base64UrlDecode(m.imageB64), QByteArray::fromHex("89504e47"));
    QCOMPARE(m.mime, QString("image/png"));
    QCOMPARE(m.width, 2);
    QCOMPARE(m.height, 1);
    QCOMPARE(m.bytes, 4);
    // No type given: JPEG.
    const GroupMediaContent jpeg = parseGroupMediaContent(groupImageContent(QByteArray(3000, 'j'), QString(), 10, 20));
    QCOMPARE(jpeg.mime, QString("image/jpeg"));
    QCOMPARE(jpeg.bytes, 3000);
    QCOMPARE(base64UrlDecode(jpeg.imageB64), QByteArray(3000, 'j'));
}

void TestContent::groupVoice()
{
    const QString text = groupVoiceContent("abc", 1500, {1, 5, 9});
    QCOMPARE(text, QString("velmor_voice_v1:eyJhdWRpb0I2NCI6IllXSmoiLCJkdXJhdGlvbk1zIjoxNTAwLCJ3YXZlZm9ybSI6WzEsNSw5XX0"));
    const GroupMediaContent m = parseGroupMediaContent(text);
    QVERIFY(m.ok);
    QCOMPARE(m.kind, QString("voice"));
    QCOMPARE(base64UrlDecode(m.audioB64), QByteArray("abc"));
    QCOMPARE(m.durationMs, 1500);
    QCOMPARE(m.waveform, (QList<int>{1, 5, 9}));
    // An empty waveform is left out of the JSON.
    const QString bare = groupVoiceContent("abc", 10, {});
    QVERIFY(!base64UrlDecode(bare.mid(16)).contains("waveform"));
    QVERIFY(parseGroupMediaContent(bare).waveform.isEmpty());
}

void TestContent::groupMediaRejects()
{
    const QString image = groupImageContent("x", "image/png", 1, 1);
    for (const QString &bad : {QString(), QString("velmor_image_v1:"), QString("velmor_image_v1:***"),
                               QString("velmor_voice_v1:") + base64UrlEncode("[1]"),
                               QString("velmor_image_v1:") + base64UrlEncode("not json"),
                               QString("VELMOR_IMAGE_V1:") + image.mid(16), QString("velmor_emoji_v1:") + image.mid(16),
                               QString("hello"), " " + image})
        QVERIFY2(!parseGroupMediaContent(bad).ok, qPrintable(bad));
}

void TestContent::walletCardReferenceVector()
{
    const QString card = makeWalletCard(kAlice, 1700000000);
    QCOMPARE(card, QString("{\"identityPublicKey\":\"BE81W9y3zAr3KO88zrlhXZBoS7Wyyl-FmrDwtwQHWHGqOFtrG46tgJymdFTZaD_PK6A0"
                           "Vtb-LEq-Kwfw-9uy8cE\",\"issuedAt\":1700000000,\"signature\":\"fd1NOlm9Z1o5F2gqNCohW_XsZjadwj"
                           "iGNLOtE6eBPMxJBbMJI3oE9kWCE-tSdV_zEyB57PLOSixvMYEBWZoz2Q\",\"v\":1,\"walletAddress\":\"0x19e7"
                           "e376e7c213b7e7e7e46cc70a5dd086daff2a\"}"));
}

void TestContent::walletCardRoundTrip()
{
    const QString card = makeWalletCard(kAlice, 1700000000);
    QString address;
    qint64 issued = 0;
    QVERIFY(verifyWalletCard(card, kAlice.publicKeyText(), &address, &issued));
    QCOMPARE(address, kAlice.erc20Address());
    QCOMPARE(issued, 1700000000);
    QVERIFY(verifyWalletCard(card, kAlice.publicKeyText()));
    QVERIFY(verifyWalletCard(card, " " + kAlice.publicKeyText() + " "));
    // The peer may be named by the compressed form of the same key.
    QVERIFY(verifyWalletCard(card, base64UrlEncode(velmor::crypto::normalisePublicKey(kAlice.publicKey, true))));
    QVERIFY(makeWalletCard(Identity(), 1).isEmpty());
}

void TestContent::walletCardRejects()
{
    const QString card = makeWalletCard(kAlice, 1700000000);
    QString address = "untouched";
    qint64 issued = -7;
    QVERIFY(!verifyWalletCard(card, kBob.publicKeyText(), &address, &issued));
    QCOMPARE(address, QString("untouched"));
    QCOMPARE(issued, -7);
    QVERIFY(!verifyWalletCard(card, QString()));
    QVERIFY(!verifyWalletCard(QString(), kAlice.publicKeyText()));
    QVERIFY(!verifyWalletCard("not json", kAlice.publicKeyText()));
    QVERIFY(!verifyWalletCard("[]", kAlice.publicKeyText()));
    QVERIFY(!verifyWalletCard(QString(100000, '{'), kAlice.publicKeyText()));
    // Each signed member changed after signing.
    QVERIFY(!verifyWalletCard(cardWith(card, "walletAddress", kBob.erc20Address()), kAlice.publicKeyText()));
    QVERIFY(!verifyWalletCard(cardWith(card, "issuedAt", 1700000001), kAlice.publicKeyText()));
    QVERIFY(!verifyWalletCard(cardWith(card, "issuedAt", 1700000000.5), kAlice.publicKeyText()));
    QVERIFY(!verifyWalletCard(cardWith(card, "issuedAt", "1700000000"), kAlice.publicKeyText()));
    QVERIFY(!verifyWalletCard(cardWith(card, "walletAddress", "0x1234"), kAlice.publicKeyText()));
    QVERIFY(!verifyWalletCard(cardWith(card, "signature", "AAAA"), kAlice.publicKeyText()));
    QVERIFY(!verifyWalletCard(cardWith(card, "signature", QJsonValue()), kAlice.publicKeyText()));
    // Alice's card presented as Bob's (issuer swapped to Bob) fails on the signature.
    QVERIFY(!verifyWalletCard(cardWith(card, "identityPublicKey", kBob.publicKeyText()), kBob.publicKeyText()));
    // A card that Bob signed for Alice's address is Bob's card, not Alice's.
    const QString bobs = makeWalletCard(kBob, 5);
    QVERIFY(verifyWalletCard(bobs, kBob.publicKeyText()));
    QVERIFY(!verifyWalletCard(bobs, kAlice.publicKeyText()));
}

void TestContent::officialAccount()
{
    QCOMPARE(officialAccountName(), QString("Pelorin Network"));
    const QByteArray key = officialAccountPublicKey();
    QCOMPARE(key.size(), 65);
    QCOMPARE(velmor::crypto::normalisePublicKey(key), key); // a real curve point
    const QString text = base64UrlEncode(key);
    QVERIFY(isOfficialAccountKey(text));
    QVERIFY(isOfficialAccountKey("  " + text + "\n"));
    QVERIFY(!isOfficialAccountKey(base64UrlEncode(velmor::crypto::normalisePublicKey(key, true))));
    QVERIFY(!isOfficialAccountKey(kAlice.publicKeyText()));
    QVERIFY(!isOfficialAccountKey(QString()));
    QVERIFY(!isOfficialAccountKey("***"));
    QVERIFY(!isOfficialAccountKey(text.left(80)));
}

void TestContent::noticeReferenceVector()
{
    const QString notice = QStringLiteral(
        "{\"payload\":\"eyJlbnRyaWVzIjp7ImVuIjp7ImJvZHkiOiJUb25pZ2h0IGF0IDIzOjAwLiIsInRpdGxlIjoiTWFpbnRlbmFuY2UifSwiem"
        "gtSGFucyI6eyJib2R5Ijoi5LuK5pmaIDIzOjAwIOe7tOaKpOOAgiIsInRpdGxlIjoi57u05oqk6YCa55-lIn19LCJpc3N1ZWRBdCI6MTcw"
        "MDAwMDAwMCwidiI6MX0\",\"signature\":\"ny-xyAMwY4eKnax0xO-kZTTBIouI8-s9s96FWCt729NZ9OhZCZjJISf14Gav2z1pYT1lS2"
        "AIhmE5PTbur6bz0Q\"}");
    const QByteArray testKey = QByteArray::fromHex(
        "041a7a569e91dbf60581509c7fc946d1003b60c7dee85299538db6353538d59574b4e89d60c7d584d084632d296f125f165b4df8e061a4"
        "9daeba51d36133d03e1a");
    QCOMPARE(kNoticeSigner.publicKey, testKey);
    const OfficialNotice zh = parseOfficialNoticeWithKey(notice, "zh-Hans", testKey);
    QVERIFY(zh.ok);
    QCOMPARE(zh.text, QString::fromUtf8("维护通知\n\n今晚 23:00 维护。"));
    const OfficialNotice en = parseOfficialNoticeWithKey(notice, "en", testKey);
    QCOMPARE(en.text, QString("Maintenance\n\nTonight at 23:00."));
    // makeOfficialNotice is deterministic and produces exactly this text.
    QCOMPARE(makeOfficialNotice(kNoticeSigner.privateKey,
                                {{"zh-Hans", QString::fromUtf8("维护通知"), QString::fromUtf8("今晚 23:00 维护。")},
                                 {"en", "Maintenance", "Tonight at 23:00."}},
                                1700000000),
             notice);
    // The product path checks the built-in key, which did not sign this.
    QVERIFY(!parseOfficialNotice(notice, "zh-Hans").ok);
}

void TestContent::noticeLanguages()
{
    const QByteArray key = kNoticeSigner.publicKey;
    const QByteArray secret = kNoticeSigner.privateKey;
    auto parse = [&](const QList<OfficialNoticeEntry> &entries, const QString &language) {
        return parseOfficialNoticeWithKey(makeOfficialNotice(secret, entries, 1), language, key);
    };
    QCOMPARE(parse({{"zh-Hans", "T", ""}}, "zh-Hans").text, QString("T"));
    QCOMPARE(parse({{"zh-Hans", "", "B"}}, "zh-Hans").text, QString("B"));
    QVERIFY(!parse({{"zh-Hans", "", ""}}, "zh-Hans").ok);
    // Fallbacks: letter case, the primary language, then English, then any entry.
    QCOMPARE(parse({{"en", "E", ""}, {"zh-hans", "Z", ""}}, "zh-Hans").text, QString("Z"));
    QCOMPARE(parse({{"en", "E", ""}, {"zh", "Z", ""}}, "zh-Hans").text, QString("Z"));
    QCOMPARE(parse({{"en", "E", ""}, {"zh-Hant", "Z", ""}}, "zh-Hans").text, QString("Z"));
    QCOMPARE(parse({{"en", "E", ""}, {"ja", "J", ""}}, "zh-Hans").text, QString("E"));
    QCOMPARE(parse({{"ja", "J", ""}}, "zh-Hans").text, QString("J"));
    // An empty entry in the asked language gives way to one with text.
    QCOMPARE(parse({{"zh-Hans", "", ""}, {"en", "E", "F"}}, "zh-Hans").text, QString("E\n\nF"));
}

void TestContent::noticeRejects()
{
    const QByteArray key = kNoticeSigner.publicKey;
    const QString notice = makeOfficialNotice(kNoticeSigner.privateKey, {{"zh-Hans", "T", "B"}}, 1);
    QVERIFY(parseOfficialNoticeWithKey(notice, "zh-Hans", key).ok);
    QVERIFY(!parseOfficialNoticeWithKey(notice, "zh-Hans", kAlice.publicKey).ok);
    QVERIFY(!parseOfficialNoticeWithKey(notice, "zh-Hans", QByteArray()).ok);
    QVERIFY(!parseOfficialNoticeWithKey(notice, "zh-Hans", key.left(33)).ok);
    // A notice signed by anyone else is refused, even with the right layout.
    const QString forged = makeOfficialNotice(kAlice.privateKey, {{"zh-Hans", "T", "B"}}, 1);
    QVERIFY(!parseOfficialNoticeWithKey(forged, "zh-Hans", key).ok);
    // Payload swapped in from another notice of the same signer.
    const QString other = makeOfficialNotice(kNoticeSigner.privateKey, {{"zh-Hans", "T", "B"}}, 2);
    QJsonObject o = objectOf(notice.toUtf8());
    o.insert("payload", objectOf(other.toUtf8()).value("payload"));
    QVERIFY(!parseOfficialNoticeWithKey(QString::fromUtf8(QJsonDocument(o).toJson()), "zh-Hans", key).ok);
    // Any change of the payload text.
    const QString payload = objectOf(notice.toUtf8()).value("payload").toString();
    for (int i = 0; i < payload.size(); i += 7) {
        QJsonObject t = objectOf(notice.toUtf8());
        QString p = payload;
        p[i] = p[i] == QChar('A') ? QChar('B') : QChar('A');
        t.insert("payload", p);
        QVERIFY(!parseOfficialNoticeWithKey(QString::fromUtf8(QJsonDocument(t).toJson()), "zh-Hans", key).ok);
    }
    for (const QString &bad : {QString(), QString("plain text"), QString("{}"), QString("[1]"),
                               QString("{\"payload\":\"\",\"signature\":\"\"}"), QString(200000, '[')})
        QVERIFY(!parseOfficialNoticeWithKey(bad, "zh-Hans", key).ok);
    QVERIFY(makeOfficialNotice(QByteArray(32, 0), {{"en", "x", "y"}}, 1).isEmpty());
    QVERIFY(makeOfficialNotice(kNoticeSigner.privateKey, {}, 1).isEmpty());
}

QTEST_GUILESS_MAIN(TestContent)
#include "tst_content.moc"
