// Canonical JSON, the signed card form with its published test vector, the
// registry record, and the normal-group join request.
#include "groups/canonical_json.h"
#include "groups/group_card.h"
#include "groups/group_engine.h"
#include "identity/crypto.h"
#include "identity/identity.h"
#include "net/relay_session.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

using namespace velmor::chat;
using velmor::crypto::base64UrlDecode;
using velmor::crypto::base64UrlEncode;
using velmor::identity::Identity;

namespace {

// The card of the test vector in docs/protocol.md.
GroupCard vectorCard()
{
    const Identity a(QByteArray(32, '\x11'));
    const Identity b(QByteArray(32, '\x22'));
    GroupCard card;
    card.idNonce = QStringLiteral("0123456789abcdef0123456789abcdef");
    card.groupId = deriveGroupId(a.publicKeyText(), card.idNonce);
    card.name = QStringLiteral("Trail \"crew\" \u00fc\n");
    card.remark = QStringLiteral("r\u2713");
    card.avatarId = QStringLiteral("defaultgroupphoto");
    card.ownerRawPublicKey = a.publicKeyText();
    const velmor::crypto::Ed25519KeyPair admin = deriveGroupAdminKey(a.privateKey, card.groupId);
    card.adminPublicKey = base64UrlEncode(admin.publicKey);
    card.adminProof = base64UrlEncode(velmor::crypto::signMessage(
        a.privateKey, adminProofMessage(card.groupId, card.adminPublicKey)));
    card.memberPublicKeys = QStringList{a.publicKeyText(), b.publicKeyText()};
    card.memberPublicKeys.sort();
    for (const QString &key : std::as_const(card.memberPublicKeys)) {
        GroupMemberProfile profile;
        profile.memberRawPublicKey = key;
        if (key == a.publicKeyText()) {
            profile.displayName = QStringLiteral("Ann");
            profile.updatedAt = 1700000000;
        }
        card.members.append(profile);
    }
    card.epoch = 3;
    card.keyEpoch = 2;
    card.groupKeyBoxes.insert(a.publicKeyText(), QStringLiteral("box-a"));
    card.groupKeyBoxes.insert(b.publicKeyText(), QStringLiteral("box-b"));
    card.createdAt = 1700000000;
    card.updatedAt = 1700000300;
    return card;
}

const char kVectorGroupId[] = "d3b0c7032781bfadc3cdd926f8c27ee1";
const char kVectorAdminProof[] =
    "wX0fEvcCB5OIhvvvNUwHOQr6Tb1zloigKfrafCYay0BNPQflqqWQ9or4ewBfuZt1enl90X-Tmczf5_5KH0gVKg";
const char kVectorAdminPublicKey[] = "zQbBjYXL1GDb7jNWBplFInjJeV1EEOkekCKMA-qvcXg";
const char kVectorCardSha256[] = "59717d532ef412a0e99236636e6c31c376ca50b91697fab89b0cff2773640276";
const char kVectorStamp[] = "dUgeHh1mMBWmp2M0y1Cx-UE32I6vD2VdToCo1sV9nO7KnV6ysEqmpcG2pdYxXVkJzQY_Hc_TbB_gtnOsRcS7AA";
const char kVectorSignature[] = "0WQVAr1x_FveqOpbsFyQrzcrczy-lYPJFTGRJAf-YvK66b9ufRy0LV0kskqt3ri1GpNOPvW2uCS0MuJqU4CZDQ";

// The vector card as A sends it to B: sealed with ephemeral secret 33…33 and
// nonce 44…44 (docs/protocol.md), made by an independent implementation.
const char kVectorCardMessage[] =
    "velmor_group_v1:eyJncm91cElkIjoiZDNiMGM3MDMyNzgxYmZhZGMzY2RkOTI2ZjhjMjdlZTEiLCJraW5kIjoiY2FyZCIsInNl"
    "YWxlZCI6IkFRQUNQSEt0MjBfZkNhLVU4TWxOZi1rcU9HcC1jTS1LSFlXUlk0YTdKVFhIc2JGRVJFUkVSRVJFUkVSRVJFU3FSX1lP"
    "WC1GNmFlbW8tSkxQOWZjWXdJbHF4TW1Ca25UN2h1SWpFdHdKM3VsQUM2bjA2aUhqVHpiZE1jMXV3ck50Q283OE1tNU1uR0tQZnVF"
    "WVJlNkpLQW5VRzBDcUE0OGp4bk04TlpCSzQ3Z2NfeU5FTDYydFZVSjNQMW5ZbmwyUWw0ZlpIcnBZSnZyamx0SXY4bTVHd1l2Y01s"
    "ZVNvb2E3Z001a291QmVwazd4dm5MR3ByT1dqSXlmRUpYYWhOeUEyckNqZ1d1TjVEdlBUb1JoQVJMa1VwcTg2bVFHbWZwZ01kcHgt"
    "SzhkUXNhR3hTWHE2dE5IdzVZM3FYRDFMSXJ0bHl3ZWt1NDdFRVNSZXppeGJNVnFoTkpranRZdFRDSHpnQVo2bHE1UnFKMUx1RkRQ"
    "NHhaR1dfR1hGV3lxZFk3dXBFZXc1ZENpcTFNRWUyeHdzd1RvalhjbGdpaEZQb05CS1g5NFJtTldXV3lWQ0RiVEV3VHhmb1dUQ2Jm"
    "R3FrRHBPOW9CeTQtYW1oY1ZjRkhmMEdmamlWQy1rYmJLZ255cWU1R0dJSjNqYVA5bE1KVU1EaEZhWEEzTFpqM2hQaXlvYWx1S3po"
    "OXlDdERNREd0NllQRHRFV1dzWlJ1Q21waXJOYkxxczJiN25obmNCckxuejNfM0Q3dWJGRUM4bFdtZ1otTFpYdzBYOERUckZmcU1N"
    "aVQzQl9DbEp0Q0Y4a3czdGVFTHA3dVlBYWx1SEhqbDFiNktWSGZhTGV2ZWpHVVU0eThfX25aT2V2SkFHblpTWnlBRkFrenpjbGc2"
    "YkRXLUU1YVNSLU9oZkYtNUk2Yk5lSDVab0VzNWxKUjA1VDd4S3praGtFeTQ2bGs2VU00R2JRX1I4eXRqVVA1UDNObnJFZmUtWFVz"
    "NXI4WlN6WTRibXFNN2tKNldNbUlnQ05scFVSUnY5bDFWMWxsQXVkUzNnakFGTGJXLWEzdGpIT3RqbWJHMXBYYy11NmJSaWtJMlFn"
    "Yzk3SzYyYXRXX05OVWQ5NWk2cnJpMmJnaHpNcWp5Y2I2Z0EtRjVFa194UlNkWTRTR1hxS2dlTlNySnl1OEMyLWxqLTFfRkU1MnJT"
    "MlJjOEsxLVR1UEVkMnpXNWpTcF9HRGwxUmpLZlNTbTJmeEM0bjY3R3FVeTBPeWdlQThYb0VSX2ticGxmRlJUWktZU0NsWDlQZUxJ"
    "SF91UmlHdHM4c0M3RUZnSkRfTjFsUVR6OW8teUtrZVdUekxzazVOZkU3akt5N2JaUnNqMGFOOU9aX0NndUM4QTAzMXFyWnRycV9K"
    "YXFtbW4yWDl4WGZ4VjM4MUw2cTJaaVNFYUhXcERPTnYwT1puNDVHWmtvaUE3cVp6Z0pyXzFjSFZmY3c2QjdaNVd6UmJvTkJ4TDE0"
    "Qi1fRFlSUGFXOWFTY0JqQXJpQTRQV2RqYVhVUEFKTkVianBUZlNiTjFBLWtybjdMTDlJY1gwbVJuek96RTIxcEFfNm9GTHhSaFhS"
    "MjAwS1ZpZEU3MzFfdTFYRXlFb2Q3dUY2YUVPd0ZzOEJrTU5jLUR2SDJTcFY1NWhwbWhPSmtLWE5aYmRldEdEeTZ5dXhqZEQyeWFX"
    "aHhpX29RaFBnbVl6bkNjdmtkRXZIVnNENllXaE1jSFNDZjBOWG1GZFBUVHNNZThlX0ZURmtzQjFfMEtfcFBvc25nTUM3eDRaSXFR"
    "cjNIM3ZIOGRwbS1ELVNzdHZCMnF2YkdxZ042emV6X2RuSDRUWV9YSnloWG93MzdMMktsNWg1Tmd5ODRucU5vRHlPZmNNMGI4dW8z"
    "TFdLa2hWeHkwX0gtQTZwVFp0WnRxREwweDYxQndNUVRuRXBudUwwLXR4alVGRklkZXFrRWZpY20wREg2aWVvbXR1NUNRTEU1MHd0"
    "WEhWb0xpdUZvY0pmazFxU2NmRkNUTFZNOUtDSF85N1hKTWhWbVlFUGl0UHB3bDFrbm5ucUhIN0RmamRCMW9wekttV19Vcm4zeTB1"
    "N3kyWGFKYnRycFlOcFpSV19IcHcxNkdGdTNQeldZVnRVYWV5ZGtNdzJiQkZXcDBtc1R3LURnM0IxVUltWksyS204Q01JT25HSkVY"
    "OGo3OGhobXB3VXJBN3B0M2NoMVNGSVZZei03MU1XZE5GSzlJVVpUVjBfVU5yYmFZa1hGUXFuRUpFT3pRR2VHdmtVSW5xWEZRaEdW"
    "MkVVbm5pLXVnMFR2Qm5SZE03R0I4TFo3N2Y2Z1l6Rm9aTkYyVDRucXN1aUozNXZiVGlCZ01jSVE2aDI0Q2xpbmR0S1I4SF9IbEhj"
    "WGFRWXh6WlIxWThkeGpWaXkxaVlLdkI5TE0tRV9sUUhLNG0xLU03TlJHSGZYUlVLaVpqdzRSTUxEb081S0luSkZVcktWVVVPSnli"
    "elhpcWc1aU9pbXRvOXdzV3ZxUEhVWXpSZjhvRmdyYkxHaUxtMDRtTXB6QmVJeGZiTHJHUWplTW1TaTJuZUNNYUlXRFJvTjZicXhK"
    "ckQ3YzVOanZPcFV5OGpLRTdZc1RGWUtIVlpXVWd5dlRBcWZBb0EzTTVLSkxpcEJfbmM1cE1zQkFBaUtoeXMwa2kwc2pqUVhjbkY3"
    "bEZQQUg1akxTbzZ3U1ZreXY3NVlCaVVQdnR6WFZDajY2UW1ObEFITk5TdlhCaTE5Y3ItMzh3d2lJb2dSc0FueWhWUUFmLTJKcjhB"
    "LUkiLCJ2IjoxfQ";

} // namespace

class CanonicalTest : public QObject
{
    Q_OBJECT

private slots:
    void stableUnderKeyOrderAndWhitespace_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("sorted compact") << QByteArray(R"({"a":[3,{"x":null,"y":true}],"b":"é\n","c":-7})");
        QTest::newRow("reversed") << QByteArray(R"({"c":-7,"b":"é\n","a":[3,{"y":true,"x":null}]})");
        QTest::newRow("white space") << QByteArray(" {\n \"b\" : \"\\u00e9\\n\" ,\t\"a\":[ 3 , {\"y\":true,\r\n\"x\":null} ],\"c\" :-7 } ");
        QTest::newRow("number forms") << QByteArray(R"({"a":[3.0,{"x":null,"y":true}],"b":"é\n","c":-7e0})");
        QTest::newRow("escaped solidus and letters") << QByteArray(R"({"\u0061":[3,{"x":null,"y":true}],"b":"\u00E9\u000a","c":-7})");
    }

    void stableUnderKeyOrderAndWhitespace()
    {
        QFETCH(QByteArray, text);
        const QByteArray canonical = canonicalizeJsonText(text);
        QCOMPARE(canonical, QByteArray("{\"a\":[3,{\"x\":null,\"y\":true}],\"b\":\"\xc3\xa9\\n\",\"c\":-7}"));
        QVERIFY(isCanonicalJson(canonical));
        QCOMPARE(canonicalizeJsonText(canonical), canonical);
    }

    void stringsAndKeysInUtf8Order()
    {
        // U+1F600 sorts after U+FF5A in UTF-8 (and code point) order, before
        // it in UTF-16 order.
        QJsonObject object;
        object.insert(QStringLiteral("\U0001F600"), 1);
        object.insert(QStringLiteral("\uFF5A"), 2);
        object.insert(QStringLiteral("\u00e9"), 3);
        object.insert(QStringLiteral("z"), 4);
        object.insert(QStringLiteral("Z"), 5);
        object.insert(QStringLiteral(""), 6);
        const QByteArray canonical = canonicalJson(object);
        QCOMPARE(canonical, QByteArray("{\"\":6,\"Z\":5,\"z\":4,\"\xc3\xa9\":3,\"\xef\xbd\x9a\":2,\"\xf0\x9f\x98\x80\":1}"));

        const QString tricky = QStringLiteral("q\"b\\s/\b\f\n\r\t") + QChar(0x01) + QChar(0x1f) + QChar(0x7f)
            + QChar(0x2028);
        QCOMPARE(canonicalJson(QJsonValue(tricky)),
                 QByteArray("\"q\\\"b\\\\s/\\b\\f\\n\\r\\t\\u0001\\u001f\x7f\xe2\x80\xa8\""));
        // The canonical text reads back to the same value.
        const QJsonDocument back = QJsonDocument::fromJson("[" + canonicalJson(QJsonValue(tricky)) + "]");
        QCOMPARE(back.array().at(0).toString(), tricky);
    }

    void integersOnly()
    {
        QCOMPARE(canonicalJson(QJsonValue(0)), QByteArray("0"));
        QCOMPARE(canonicalJson(QJsonValue(-0.0)), QByteArray("0"));
        QCOMPARE(canonicalJson(QJsonValue(double(kCanonicalMaxInteger))), QByteArray("9007199254740991"));
        QCOMPARE(canonicalJson(QJsonValue(-double(kCanonicalMaxInteger))), QByteArray("-9007199254740991"));
        QCOMPARE(canonicalizeJsonText("[1e3]"), QByteArray("[1000]"));
        // Fractions and integers beyond 2^53 - 1 have no canonical form, and
        // nothing around them is written either.
        QVERIFY(canonicalJson(QJsonValue(1.5)).isEmpty());
        QVERIFY(canonicalJson(QJsonValue(double(kCanonicalMaxInteger) + 1)).isEmpty());
        QVERIFY(canonicalJson(QJsonObject{{"ok", 1}, {"bad", 0.25}}).isEmpty());
        QVERIFY(canonicalizeJsonText(R"({"a":[1,2,{"b":3.5}]})").isEmpty());
        QVERIFY(canonicalJson(QJsonValue(QJsonValue::Undefined)).isEmpty());
    }

    void onlyTheExactTextIsCanonical()
    {
        QVERIFY(isCanonicalJson(R"({"a":1,"b":[]})"));
        QVERIFY(!isCanonicalJson(R"({"b":[],"a":1})"));
        QVERIFY(!isCanonicalJson(R"({"a":1, "b":[]})"));
        QVERIFY(!isCanonicalJson(R"({"a":1,"a":1,"b":[]})")); // duplicate member
        QVERIFY(!isCanonicalJson(R"({"a":"\u0041"})"));
        QVERIFY(!isCanonicalJson(R"({"a":1.0})"));
        QVERIFY(!isCanonicalJson("not json"));
        QVERIFY(!isCanonicalJson(""));
        QVERIFY(canonicalizeJsonText("\"bare\"").isEmpty());
    }

    void loneSurrogatesHaveNoCanonicalForm()
    {
        // Found by fuzzing: two member names that are different lone
        // surrogates were both written as U+FFFD, giving a duplicate name
        // (and a text that is not canonical itself).
        QVERIFY(canonicalizeJsonText(R"({"\ud800":1,"\udbff":2})").isEmpty());
        QVERIFY(canonicalizeJsonText(R"(["\udc00"])").isEmpty());
        QVERIFY(canonicalizeJsonText(R"(["a\ud800"])").isEmpty());
        QVERIFY(canonicalJson(QJsonValue(QString(QChar(0xd800)))).isEmpty());
        QVERIFY(canonicalJson(QJsonObject{{QString(QChar(0xdc00)), 1}}).isEmpty());
        // A pair is one code point beyond the BMP and stays writable.
        QCOMPARE(canonicalizeJsonText(R"(["\ud83d\ude00"])"), QByteArray("[\"\xf0\x9f\x98\x80\"]"));
        QVERIFY(isCanonicalJson("[\"\xf0\x9f\x98\x80\"]"));
    }

    void cardTestVector()
    {
        GroupCard card = vectorCard();
        QCOMPARE(card.groupId, QString::fromLatin1(kVectorGroupId));
        const QByteArray seed = velmor::crypto::hkdfSha256(QByteArray(32, '\x11'),
                                                           QByteArrayLiteral("velmor.group.admin.v1"),
                                                           card.groupId.toUtf8(), 32);
        QCOMPARE(seed.toHex(), QByteArray("4e5d6269bc9c91708ccaa55f63f6d423ce991d35ce186d323865112457c5b9a2"));
        QVERIFY(signGroupCard(card, seed));
        QCOMPARE(card.adminPublicKey, QString::fromLatin1(kVectorAdminPublicKey));
        QCOMPARE(card.adminProof, QString::fromLatin1(kVectorAdminProof));
        QCOMPARE(velmor::crypto::sha256Hex(card.cardJson), QString::fromLatin1(kVectorCardSha256));
        QCOMPARE(card.signature, QString::fromLatin1(kVectorSignature));
        const QString digest = groupCardDigest(card.cardJson);
        QCOMPARE(cardStampText(card.groupId, 3, digest),
                 QByteArray("velmor_group_stamp_v1|d3b0c7032781bfadc3cdd926f8c27ee1|3|") + kVectorCardSha256);
        QCOMPARE(stampGroupCard(card, seed), QString::fromLatin1(kVectorStamp));
        QVERIFY(isValidCardStamp(card.groupId, 3, digest, kVectorStamp, card.adminPublicKey));
        // Not for another epoch, nor under a key of a member's own.
        QVERIFY(!isValidCardStamp(card.groupId, 4, digest, kVectorStamp, card.adminPublicKey));
        QVERIFY(!isValidCardStamp(card.groupId, 3, digest, stampGroupCard(card, QByteArray(32, '\x22')),
                                  card.adminPublicKey));
        QVERIFY(card.cardJson.startsWith("{\"adminProof\":\""));
        QVERIFY(card.cardJson.contains("\"name\":\"Trail \\\"crew\\\" \xc3\xbc\\n\""));
        QVERIFY(card.cardJson.contains("\"epoch\":3,\"groupId\":\"d3b0c7032781bfadc3cdd926f8c27ee1\",\"groupKeyBoxes\""));
        QVERIFY(card.cardJson.contains("\"idNonce\":\"0123456789abcdef0123456789abcdef\",\"keyEpoch\":2"));

        const std::optional<GroupCard> verified = verifyGroupCard(card.cardJson, card.signature);
        QVERIFY(verified);
        QCOMPARE(verified->name, card.name);
        QCOMPARE(verified->remark, card.remark);
        QCOMPARE(verified->members.first().displayName, QStringLiteral("Ann"));
        QCOMPARE(verified->groupKeyBoxes, card.groupKeyBoxes);
        QCOMPARE(verified->toJson(), card.toJson());
    }

    void sealedCardMessageVector()
    {
        const Identity a(QByteArray(32, '\x11'));
        const Identity b(QByteArray(32, '\x22'));
        const QString message = QString::fromLatin1(kVectorCardMessage);
        QCOMPARE(velmor::crypto::sha256Hex(message.toUtf8()),
                 QStringLiteral("626b986af6c61ae7fd40522f64ba565778f69ae77131b6ce967d25532a6d0fcd"));
        // B takes it as an invitation; nobody else can read it, and it is
        // not A's when another sender's envelope carries it.
        velmor::net::RelayAuthSession::instance().configure(QStringLiteral("http://127.0.0.1:1"), b);
        GroupRegistry registry;
        QCOMPARE(handleGroupMessage(registry, message, Identity(QByteArray(32, '\x33')).publicKeyText()).error,
                 QStringLiteral("decrypt_failed"));
        const GroupInboundResult taken = handleGroupMessage(registry, message, a.publicKeyText());
        QVERIFY2(taken.error.isEmpty(), qPrintable(taken.error));
        QCOMPARE(registry.card(QString::fromLatin1(kVectorGroupId))->signature, QString::fromLatin1(kVectorSignature));
        QCOMPARE(velmor::crypto::sha256Hex(registry.card(QString::fromLatin1(kVectorGroupId))->cardJson),
                 QString::fromLatin1(kVectorCardSha256));
        velmor::net::RelayAuthSession::instance().configure(QStringLiteral("http://127.0.0.1:1"), a);
        GroupRegistry other;
        QCOMPARE(handleGroupMessage(other, message, a.publicKeyText()).error, QStringLiteral("decrypt_failed"));
        velmor::net::RelayAuthSession::instance().clear();
    }

    void cardsThatDoNotHoldTogetherAreRefused()
    {
        const QByteArray seed = velmor::crypto::hkdfSha256(QByteArray(32, '\x11'),
                                                           QByteArrayLiteral("velmor.group.admin.v1"),
                                                           QByteArray(kVectorGroupId), 32);
        const std::function<void(GroupCard &)> changes[] = {
            [](GroupCard &c) { c.memberPublicKeys.removeAll(c.ownerRawPublicKey); }, // owner not a member
            [](GroupCard &c) { c.keyEpoch = c.epoch + 1; },                          // key from the future
            [](GroupCard &c) { c.epoch = 0; c.keyEpoch = 0; },
            [](GroupCard &c) { c.groupId.clear(); },
            // An id that is not the owner's: another nonce, or another owner's id.
            [](GroupCard &c) { c.idNonce = QStringLiteral("ffffffffffffffffffffffffffffffff"); },
            [](GroupCard &c) { c.idNonce = c.idNonce.toUpper(); },
            [](GroupCard &c) { c.idNonce.clear(); },
            [](GroupCard &c) {
                c.groupId = deriveGroupId(Identity(QByteArray(32, '\x22')).publicKeyText(), c.idNonce);
            },
            [](GroupCard &c) { c.memberPublicKeys.append(c.memberPublicKeys.first()); }, // duplicate member
            [](GroupCard &c) { c.adminProof = QStringLiteral("AAAA"); },
            [](GroupCard &c) { c.ownerRawPublicKey = Identity(QByteArray(32, '\x22')).publicKeyText(); },
        };
        for (const auto &change : changes) {
            GroupCard card = vectorCard();
            change(card);
            QVERIFY(signGroupCard(card, seed)); // properly signed, still not acceptable
            QVERIFY(!verifyGroupCard(card.cardJson, card.signature));
        }
        GroupCard fine = vectorCard();
        QVERIFY(signGroupCard(fine, seed));
        QVERIFY(verifyGroupCard(fine.cardJson, fine.signature));
        QVERIFY(!verifyGroupCard(fine.cardJson, QString()));
        QVERIFY(!verifyGroupCard(QByteArray(), fine.signature));
    }

    void cardWithManyMemberKeysIsReadAndDuplicatesRefused()
    {
        // Cards are read before their signature is checked, so anyone can
        // send a huge one; the duplicate check must hold for every position
        // in a long list. (How long the read takes is a benchmark figure:
        // groups_bench.)
        QJsonObject object = vectorCard().toJson();
        QJsonArray keys;
        for (int i = 0; i < 100000; ++i)
            keys.append(QStringLiteral("k%1").arg(i));
        keys.append(object.value(QStringLiteral("ownerRawPublicKey")));
        object.insert(QStringLiteral("memberPublicKeys"), keys);
        const std::optional<GroupCard> card = GroupCard::fromJson(object);
        QVERIFY(card);
        QCOMPARE(card->memberPublicKeys.size(), 100001);

        // A key listed twice is still refused, wherever the second one is.
        keys.append(QStringLiteral("k99999"));
        object.insert(QStringLiteral("memberPublicKeys"), keys);
        QVERIFY(!GroupCard::fromJson(object));
        keys.removeLast();
        keys.insert(1, QStringLiteral("k0"));
        object.insert(QStringLiteral("memberPublicKeys"), keys);
        QVERIFY(!GroupCard::fromJson(object));
    }

    void adminKeysBelongToOwnerAndGroup()
    {
        const QByteArray a(32, '\x11');
        const QByteArray b(32, '\x22');
        const auto k1 = deriveGroupAdminKey(a, QStringLiteral("g1"));
        QVERIFY(k1.isValid());
        QCOMPARE(deriveGroupAdminKey(a, QStringLiteral("g1")).publicKey, k1.publicKey);
        QVERIFY(deriveGroupAdminKey(a, QStringLiteral("g2")).publicKey != k1.publicKey);
        QVERIFY(deriveGroupAdminKey(b, QStringLiteral("g1")).publicKey != k1.publicKey);
        QVERIFY(!deriveGroupAdminKey(QByteArray(31, '\x11'), QStringLiteral("g1")).isValid());
        QVERIFY(!deriveGroupAdminKey(a, QString()).isValid());
    }

    void registryRecordsVerify()
    {
        const Identity a(QByteArray(32, '\x11'));
        const QString nonce = QStringLiteral("0123456789abcdef0123456789abcdef");
        const QString g1 = deriveGroupId(a.publicKeyText(), nonce);
        const auto admin = deriveGroupAdminKey(a.privateKey, g1);
        GroupRegistryRecord record;
        record.groupId = g1;
        record.idNonce = nonce;
        record.joinKey = base64UrlEncode(admin.publicKey);
        record.ownerPublicKey = a.publicKeyText();
        record.adminProof = base64UrlEncode(velmor::crypto::signMessage(
            a.privateKey, adminProofMessage(record.groupId, record.joinKey)));
        record.name = QStringLiteral("Hikers");
        record.avatarId = QStringLiteral("defaultgroupphoto");
        record.memberCount = 4;
        record.visibility = QStringLiteral("public");
        record.epoch = 2;
        record.updatedAt = 1700000000;
        const QByteArray text = canonicalJson(record.toJson());
        const QString signature = base64UrlEncode(velmor::crypto::ed25519Sign(admin.seed, text));
        const auto verified = verifyRegistryRecord(text, signature, record.joinKey);
        QVERIFY(verified);
        QCOMPARE(verified->name, record.name);
        QCOMPARE(verified->memberCount, 4);
        QVERIFY(!verifyRegistryRecord(text, signature, QStringLiteral("another-key")));
        QByteArray changed = text;
        changed.replace("Hikers", "Hikerz");
        QVERIFY(!verifyRegistryRecord(changed, signature));
        const auto other = deriveGroupAdminKey(a.privateKey, QStringLiteral("g2"));
        QVERIFY(!verifyRegistryRecord(text, base64UrlEncode(velmor::crypto::ed25519Sign(other.seed, text))));
        // A record, signed and vouched for by its owner, for an id that is
        // not derived from that owner (another's group) is refused.
        GroupRegistryRecord squatted = record;
        squatted.idNonce = QStringLiteral("ffffffffffffffffffffffffffffffff");
        const QByteArray squattedText = canonicalJson(squatted.toJson());
        QVERIFY(!verifyRegistryRecord(squattedText,
                                      base64UrlEncode(velmor::crypto::ed25519Sign(admin.seed, squattedText))));
    }

    // Anyone can draw an Ed25519 key and sign a record with it; what makes it
    // the group's is the owner's proof. A record whose proof is not the named
    // owner's, or is for another group, or names the owner in another key
    // form, does not pass for the owner's group.
    void registryRecordsNeedTheOwnersProof()
    {
        const Identity owner(QByteArray(32, '\x11'));
        const Identity forger(QByteArray(32, '\x22'));
        const QString nonce = QStringLiteral("0123456789abcdef0123456789abcdef");
        const QString g1 = deriveGroupId(forger.publicKeyText(), nonce);
        const auto admin = deriveGroupAdminKey(forger.privateKey, g1);
        const auto signedRecord = [&](const QString &ownerKey, const Identity &prover,
                                      const QString &provenGroup) {
            GroupRegistryRecord record;
            record.groupId = g1;
            record.idNonce = nonce;
            record.joinKey = base64UrlEncode(admin.publicKey);
            record.ownerPublicKey = ownerKey;
            record.adminProof = base64UrlEncode(velmor::crypto::signMessage(
                prover.privateKey, adminProofMessage(provenGroup, record.joinKey)));
            record.name = QStringLiteral("Hikers");
            record.visibility = QStringLiteral("public");
            record.epoch = 1;
            const QByteArray text = canonicalJson(record.toJson());
            return qMakePair(text, base64UrlEncode(velmor::crypto::ed25519Sign(admin.seed, text)));
        };
        const auto honest = signedRecord(forger.publicKeyText(), forger, g1);
        QVERIFY(verifyRegistryRecord(honest.first, honest.second));

        const auto borrowedOwner = signedRecord(owner.publicKeyText(), forger, g1);
        QVERIFY(!verifyRegistryRecord(borrowedOwner.first, borrowedOwner.second));
        const auto otherGroup = signedRecord(forger.publicKeyText(), forger, QStringLiteral("g2"));
        QVERIFY(!verifyRegistryRecord(otherGroup.first, otherGroup.second));
        const QString compressed = base64UrlEncode(
            velmor::crypto::publicKeyFromSecret(forger.privateKey, true));
        const auto otherForm = signedRecord(compressed, forger, g1);
        QVERIFY(!verifyRegistryRecord(otherForm.first, otherForm.second));
    }

    void joinRequestRoundTrip()
    {
        const Identity requester(QByteArray(32, '\x33'));
        GroupJoinRequest request;
        request.groupId = QStringLiteral("g1");
        request.groupJoinKey = QStringLiteral("join-key");
        request.requesterCanonicalKey = requester.publicKeyText();
        request.requesterDisplayName = requester.erc20Address();
        const QByteArray json = buildGroupJoinRequest(request);
        QVERIFY(!json.contains(' '));
        const QJsonObject object = QJsonDocument::fromJson(json).object();
        QCOMPARE(object.size(), 6);
        QCOMPARE(object.value("v").toInt(), 1);
        QCOMPARE(object.value("type").toString(), QStringLiteral("group_join_request"));
        QVERIFY(!object.contains("groupJoinRequesterAvatarId"));
        const auto parsed = parseGroupJoinRequest(json);
        QVERIFY(parsed);
        QCOMPARE(parsed->requesterCanonicalKey, request.requesterCanonicalKey);
        QCOMPARE(parsed->requesterDisplayName, request.requesterDisplayName);

        request.requesterAvatarId = QStringLiteral("lottiehead_2");
        const QJsonObject withAvatar = QJsonDocument::fromJson(buildGroupJoinRequest(request)).object();
        QCOMPARE(withAvatar.size(), 7);
        QCOMPARE(parseGroupJoinRequest(buildGroupJoinRequest(request))->requesterAvatarId, QStringLiteral("lottiehead_2"));

        QVERIFY(!parseGroupJoinRequest("{}"));
        QVERIFY(!parseGroupJoinRequest("not json"));
        QJsonObject wrong = object;
        wrong.insert("v", 2);
        QVERIFY(!parseGroupJoinRequest(QJsonDocument(wrong).toJson()));
        wrong = object;
        wrong.insert("type", "text");
        QVERIFY(!parseGroupJoinRequest(QJsonDocument(wrong).toJson()));
        wrong = object;
        wrong.remove("groupJoinKey");
        QVERIFY(!parseGroupJoinRequest(QJsonDocument(wrong).toJson()));
    }

    void joinRequestAcceptance()
    {
        const Identity requester(QByteArray(32, '\x33'));
        GroupCard card = vectorCard();
        GroupJoinRequest request;
        request.groupId = card.groupId;
        request.groupJoinKey = card.joinKey();
        request.requesterCanonicalKey = requester.publicKeyText();
        const QString sender = requester.publicKeyText();
        const QString address = requester.erc20Address();

        QVERIFY(isAcceptableJoinRequest(request, sender, address, card));
        QVERIFY(isAcceptableJoinRequest(request, sender, address.toUpper().replace("0X", "0x"), card));
        QVERIFY(isAcceptableJoinRequest(request, sender, QString(), card));
        QVERIFY(!isAcceptableJoinRequest(request, sender, address, std::nullopt));
        QVERIFY(!isAcceptableJoinRequest(request, Identity(QByteArray(32, '\x44')).publicKeyText(), QString(), card));
        QVERIFY(!isAcceptableJoinRequest(request, sender, Identity(QByteArray(32, '\x44')).erc20Address(), card));
        GroupJoinRequest wrongKey = request;
        wrongKey.groupJoinKey = QStringLiteral("other");
        QVERIFY(!isAcceptableJoinRequest(wrongKey, sender, address, card));
        GroupJoinRequest notAKey = request;
        notAKey.requesterCanonicalKey = QStringLiteral("garbage");
        QVERIFY(!isAcceptableJoinRequest(notAKey, QStringLiteral("garbage"), QString(), card));
    }
};

QTEST_GUILESS_MAIN(CanonicalTest)
#include "test_canonical.moc"
