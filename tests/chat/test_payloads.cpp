// Stored message payloads: every prefix round-trips, malformed payloads are
// plain text, emoji codes from a peer can never produce a broken string,
// and the attachment layouts read back into the fields the views bind to.
#include "chat/payloads.h"
#include "identity/content.h"
#include "identity/crypto.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

using namespace velmor::chat::payload;

namespace {

QString emojiText(const QJsonArray &codes)
{
    return encodePrefixedJson(QString::fromLatin1(kEmojiPrefix), QJsonObject{{"codes", codes}});
}

QVariantMap viewOf(const QString &stored)
{
    QVariantMap map{{"text", stored}, {"kind", "text"}};
    applyTextPayload(stored, map);
    return map;
}

} // namespace

class PayloadTest : public QObject
{
    Q_OBJECT

private slots:
    void prefixedObjectsRoundTrip_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QJsonObject>("object");
        QTest::newRow("emoji") << kEmojiPrefix << QJsonObject{{"codes", QJsonArray{"1f602", "2764-fe0f"}}};
        QTest::newRow("site") << kSitePrefix << QJsonObject{{"title", "Docs"}, {"url", "https://x.example/a?b=1"}};
        QTest::newRow("transfer") << kTransferPrefix
                                  << QJsonObject{{"amountRaw", "1000000"}, {"symbol", "USDT"}, {"txHash", "0xab"},
                                                 {"explorerUrl", "https://scan.example/tx/0xab"}};
        QTest::newRow("textmeta") << kTextMetaPrefix
                                  << QJsonObject{{"text", "你好"},
                                                 {"bridgeTranslation",
                                                  QJsonObject{{"originalText", "你好"}, {"translatedText", "hello"},
                                                              {"direction", "outbound"}}}};
    }
    void prefixedObjectsRoundTrip()
    {
        QFETCH(QString, prefix);
        QFETCH(QJsonObject, object);
        const QString text = encodePrefixedJson(prefix, object);
        QVERIFY(text.startsWith(prefix));
        QVERIFY(!text.contains('=')); // base64url without padding
        QCOMPARE(decodePrefixedJson(text, prefix), object);
        // The encoded part is the compact JSON with its members in key order.
        const QByteArray json = velmor::crypto::base64UrlDecode(text.mid(prefix.size()));
        QCOMPARE(json, QJsonDocument(object).toJson(QJsonDocument::Compact));
    }

    void groupMediaPrefixesAreTheIdentityCodecs()
    {
        const QString image = velmor::chat::groupImageContent(QByteArray("jpegbytes"), QString(), 4, 3);
        const QString voice = velmor::chat::groupVoiceContent(QByteArray("m4a"), 1500, {1, 2});
        QVERIFY(image.startsWith(QLatin1String(kGroupImagePrefix)));
        QVERIFY(voice.startsWith(QLatin1String(kGroupVoicePrefix)));
        QCOMPARE(lastMessagePreview(image), QStringLiteral("[图片]"));
        QCOMPARE(lastMessagePreview(voice), QStringLiteral("[语音]"));
        QCOMPARE(decodePrefixedJson(image, kGroupImagePrefix).value("mime").toString(), QStringLiteral("image/jpeg"));
    }

    void malformedPayloadsArePlainText_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("preview");
        QTest::newRow("site, not base64url") << "velmor_site_v1:@@not base64@@" << QStringLiteral("[链接] ");
        QTest::newRow("site, empty rest") << "velmor_site_v1:" << QStringLiteral("[链接] ");
        QTest::newRow("transfer, JSON array") << QString("velmor_transfer_v1:")
                                                     + velmor::crypto::base64UrlEncode("[1,2]")
                                              << QStringLiteral("[转账]");
        QTest::newRow("textmeta, not JSON") << QString("velmor_textmeta_v1:") + velmor::crypto::base64UrlEncode("{oops")
                                            << QString();
        QTest::newRow("emoji, no codes") << emojiText(QJsonArray{}) << emojiText(QJsonArray{});
        QTest::newRow("emoji, only blanks and numbers") << emojiText(QJsonArray{" ", 128514}) << emojiText(QJsonArray{" ", 128514});
        QTest::newRow("prefix in other case") << "VELMOR_SITE_V1:abc" << "VELMOR_SITE_V1:abc";
    }
    void malformedPayloadsArePlainText()
    {
        QFETCH(QString, stored);
        QFETCH(QString, preview);
        const QVariantMap view = viewOf(stored);
        QCOMPARE(view.value("kind").toString(), QStringLiteral("text"));
        QCOMPARE(view.value("text").toString(), stored);
        QCOMPARE(view.size(), 2);
        QCOMPARE(lastMessagePreview(stored), preview);
    }

    void viewFieldsOfEachPayload()
    {
        QVariantMap emoji = viewOf(emojiText(QJsonArray{" 1F602 ", "", "2764-FE0F", 7}));
        QCOMPARE(emoji.value("kind").toString(), QStringLiteral("emoji"));
        QCOMPARE(emoji.value("emojiCodes").toStringList(), (QStringList{"1f602", "2764-fe0f"}));
        QCOMPARE(emoji.value("text").toString(), QString::fromUtf8("\U0001F602\u2764\uFE0F"));

        QVariantMap site = viewOf(encodePrefixedJson(kSitePrefix, {{"title", "Docs"}, {"url", "https://d"}}));
        QCOMPARE(site.value("kind").toString(), QStringLiteral("site"));
        QCOMPARE(site.value("text").toString(), QStringLiteral("[链接] Docs"));
        QCOMPARE(site.value("siteIconUrl").toString(), QString());

        // A number where a string belongs reads as an empty string.
        QVariantMap transfer = viewOf(encodePrefixedJson(kTransferPrefix, {{"amountRaw", 5}, {"symbol", "TRX"}}));
        QCOMPARE(transfer.value("kind").toString(), QStringLiteral("transfer"));
        QCOMPARE(transfer.value("transferAmountRaw").toString(), QString());
        QCOMPARE(transfer.value("text").toString(), QStringLiteral("[转账] TRX"));
        QCOMPARE(lastMessagePreview(encodePrefixedJson(kTransferPrefix, {{"symbol", "TRX"}})), QStringLiteral("[转账]"));

        QVariantMap translated = viewOf(encodePrefixedJson(
            kTextMetaPrefix, {{"text", "shown"}, {"bridgeTranslation", QJsonObject{{"originalText", "orig"},
                                                                                    {"translatedText", " tr "}}}}));
        QCOMPARE(translated.value("text").toString(), QStringLiteral("orig"));
        QCOMPARE(translated.value("translated").toString(), QStringLiteral("tr"));
        QVariantMap blankTranslation = viewOf(encodePrefixedJson(
            kTextMetaPrefix, {{"text", "shown"}, {"bridgeTranslation", QJsonObject{{"translatedText", "   "}}}}));
        QCOMPARE(blankTranslation.value("text").toString(), QStringLiteral("shown"));
        QVERIFY(!blankTranslation.contains("translated"));
    }

    // Code points a peer may send: only Unicode scalar values become
    // characters; zero, surrogates, values past U+10FFFF and non-hex parts
    // add nothing, and the rest of the list still shows.
    void emojiCodesFromAPeer_data()
    {
        QTest::addColumn<QStringList>("codes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("sequence of three") << QStringList{"1f468-200d-1f4bb"} << QString::fromUtf8("\U0001F468\u200D\U0001F4BB");
        QTest::newRow("largest code point") << QStringList{"10ffff"} << QString::fromUcs4(U"\U0010FFFF", 1);
        QTest::newRow("past U+10FFFF") << QStringList{"110000", "1f600"} << QString::fromUtf8("\U0001F600");
        QTest::newRow("far past") << QStringList{"ffffffffff"} << QString();
        QTest::newRow("high surrogate") << QStringList{"d83d"} << QString();
        QTest::newRow("low surrogate in a sequence") << QStringList{"41-dc00-42"} << QStringLiteral("AB");
        QTest::newRow("zero and junk") << QStringList{"0", "zz", "", "-"} << QString();
    }
    void emojiCodesFromAPeer()
    {
        QFETCH(QStringList, codes);
        QFETCH(QString, expected);
        const QString text = splitEmojiCodes(codes);
        QCOMPARE(text, expected);
        // Whatever came in, the result is well-formed UTF-16.
        QCOMPARE(QString::fromUtf8(text.toUtf8()), text);
        for (int i = 0; i < text.size(); ++i) {
            if (text.at(i).isHighSurrogate()) {
                QVERIFY(i + 1 < text.size() && text.at(i + 1).isLowSurrogate());
                ++i;
            } else {
                QVERIFY(!text.at(i).isLowSurrogate());
            }
        }
    }

    void attachmentsRoundTrip()
    {
        const QByteArray image("\xff\xd8\xff\xe0 jpeg", 9);
        QVariantMap map;
        appendMediaFields(imagePayload(velmor::crypto::base64UrlEncode(image), QString(), 640, 480), map);
        QCOMPARE(map.value("kind").toString(), QStringLiteral("image"));
        QCOMPARE(map.value("imageW").toInt(), 640);
        QCOMPARE(map.value("imageH").toInt(), 480);
        QCOMPARE(map.value("imageSrc").toString(),
                 QStringLiteral("data:image/jpeg;base64,") + QString::fromLatin1(image.toBase64()));

        QVariantMap voice;
        appendMediaFields(voicePayload(QStringLiteral("AAEC"), 2300, {3, 9, 1}), voice);
        QCOMPARE(voice.value("kind").toString(), QStringLiteral("voice"));
        QCOMPARE(voice.value("durMs").toInt(), 2300);
        QCOMPARE(voice.value("voiceB64").toString(), QStringLiteral("AAEC"));
        QCOMPARE(voice.value("voiceMime").toString(), QStringLiteral("audio/mp4"));
        QCOMPARE(voice.value("voiceWaveform").toList(), (QVariantList{3, 9, 1}));
        QVERIFY(!voicePayload(QStringLiteral("AAEC"), 10, {}).contains("wf"));
    }

    void oddAttachments_data()
    {
        QTest::addColumn<QString>("attachment");
        QTest::addColumn<QStringList>("keys");
        QTest::newRow("image, b64 undecodable") << R"({"kind":"image","b64":"***","w":1,"h":1})" << QStringList{};
        QTest::newRow("image, fractional size") << R"({"kind":"image","b64":"AAEC","w":1.5,"mime":""})"
                                                << QStringList{"imageH", "imageSrc", "imageW", "kind"};
        QTest::newRow("voice, no wf, empty b64") << R"({"kind":"voice"})"
                                                 << QStringList{"durMs", "kind", "voiceB64", "voiceMime", "voiceWaveform"};
        QTest::newRow("other kind") << R"({"kind":"file","b64":"AAEC"})" << QStringList{};
        QTest::newRow("not JSON") << "{{{" << QStringList{};
        QTest::newRow("JSON array") << "[1]" << QStringList{};
    }
    void oddAttachments()
    {
        QFETCH(QString, attachment);
        QFETCH(QStringList, keys);
        QVariantMap map;
        appendMediaFields(attachment, map);
        QStringList got = map.keys();
        got.sort();
        QCOMPARE(got, keys);
        if (map.contains("imageW")) {
            QCOMPARE(map.value("imageW").toInt(), 0);
            QVERIFY(map.value("imageSrc").toString().startsWith("data:;base64,"));
        }
    }

    void previews_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("preview");
        QTest::newRow("plain") << "hello" << "hello";
        QTest::newRow("system marker") << "__sg_system__:Ann joined" << "Ann joined";
        QTest::newRow("textmeta shows text, not translation")
            << encodePrefixedJson(kTextMetaPrefix, {{"text", "原文"}, {"bridgeTranslation", QJsonObject{{"translatedText", "x"}}}})
            << QStringLiteral("原文");
        QTest::newRow("emoji") << emojiText(QJsonArray{"1f44d"}) << QString::fromUtf8("\U0001F44D");
    }
    void previews()
    {
        QFETCH(QString, text);
        QFETCH(QString, preview);
        QCOMPARE(lastMessagePreview(text), preview);
    }
};

QTEST_GUILESS_MAIN(PayloadTest)
#include "test_payloads.moc"
