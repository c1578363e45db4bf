// One-to-one messages through the local relay: sealed and signed sending,
// pulling with validation, acknowledgement in batches, and the failure
// words the callers see.
#include "identity/content.h"
#include "identity/crypto.h"
#include "identity/envelope.h"
#include "identity/identity.h"
#include "net/parallel.h"
#include "net/relay_api.h"
#include "net/relay_session.h"
#include "net/service_error.h"
#include "support/fake_relay.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>
#include <numeric>
#include <QtTest>

using namespace velmor::chat;
using velmor::fakes::FakeRelay;
using velmor::fakes::Fault;
using velmor::identity::Envelope;
using velmor::identity::Identity;
using velmor::identity::openDirectMessage;
using velmor::net::RelayAuthSession;

namespace {

qint64 now()
{
    return QDateTime::currentSecsSinceEpoch();
}

QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace

class RelayApiTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void splitJobsFillingThePoolFinish();
    void twoIdentitiesExchangeAText();
    void imagesAndVoiceTravelWhole();
    void compressedRecipientKeyIsAddressedCanonically();
    void rejectedEnvelopesComeBackWithTheirReason_data();
    void rejectedEnvelopesComeBackWithTheirReason();
    void largePullKeepsEachVerdictInOrder();
    void malformedPullRepliesNeverCrash_data();
    void malformedPullRepliesNeverCrash();
    void pullFailuresGiveAnEmptyList();
    void oversizedInboxIsPulledInSmallerSteps();
    void refusedPageSizeAsksForAHundred_data();
    void refusedPageSizeAsksForAHundred();
    void resentEnvelopeIsQueuedOnce();
    void sendFailureWords();
    void relayRefusesImpersonation();
    void ackInBatchesOfAHundred();
    void refusedBatch_data();
    void refusedBatch();
    void failedSingleAcksAreReported();
    void ackWithoutRelayFailsEveryIdOnce();
    void ackInputDuplicatesAndBlanks();

private:
    void signInAs(const Identity &identity);
    QString enqueueValid(const Identity &sender, const Identity &recipient, const QString &id = QString());

    FakeRelay m_relay;
    Identity m_alice;
    Identity m_bob;
    Identity m_carol; // never logs in
};

void RelayApiTest::initTestCase()
{
    QVERIFY(m_relay.start() > 0);
    m_alice = Identity::generate();
    m_bob = Identity::generate();
    m_carol = Identity::generate();
    QVERIFY(m_alice.isValid() && m_bob.isValid() && m_carol.isValid());
    // Both parties have been online once, as they would after signing in.
    signInAs(m_bob);
    signInAs(m_alice);
}

void RelayApiTest::init()
{
    m_relay.clearFaults();
    m_relay.setRefuseBatchAck(false);
    m_relay.http().resetCounts();
    signInAs(m_alice);
}

void RelayApiTest::cleanupTestCase()
{
    RelayAuthSession::instance().clear();
}

void RelayApiTest::signInAs(const Identity &identity)
{
    RelayAuthSession::instance().configure(m_relay.baseUrl(), identity);
    QString error;
    QVERIFY2(RelayAuthSession::instance().hasToken(&error), qPrintable(error));
}

QString RelayApiTest::enqueueValid(const Identity &sender, const Identity &recipient, const QString &idIn)
{
    const QString id = idIn.isEmpty() ? newId() : idIn;
    MessageContent content;
    content.type = "text";
    content.text = "queued " + id;
    const QString box = Ecies::seal(recipient.publicKey, serializeMessageContent(content));
    const Envelope envelope =
        velmor::identity::signEnvelope(sender, recipient.publicKeyText(), box, id, now());
    m_relay.enqueueRaw(recipient.publicKeyText(), RelayApi::envelopeToJson(envelope));
    return id;
}

void RelayApiTest::twoIdentitiesExchangeAText()
{
    const RelaySendResult sent = RelayApi::sendText(m_bob.publicKeyText(), QStringLiteral("hello Bob 你好"));
    QVERIFY2(sent.ok, qPrintable(sent.error));
    QVERIFY(sent.error.isEmpty());
    QVERIFY(!sent.serviceError.isError());
    QVERIFY(QRegularExpression("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$")
                .match(sent.messageId)
                .hasMatch());
    QCOMPARE(m_relay.queueSize(m_bob.publicKeyText()), 1);

    // The wire form: snake-case envelope keys and the notify type.
    const QJsonObject wire = m_relay.lastBody("/v1/message/send");
    for (const char *key : {"message_id", "sender_pubkey", "recipient_pubkey", "sender_address", "created_at",
                            "expires_at", "ciphertext", "signature", "notify_type"})
        QVERIFY2(wire.contains(QLatin1String(key)), key);
    QCOMPARE(wire.value("notify_type").toString(), QStringLiteral("message"));
    QCOMPARE(wire.value("message_id").toString(), sent.messageId);
    QVERIFY(!wire.value("ciphertext").toString().contains("hello"));

    signInAs(m_bob);
    const QList<RawEnvelope> pulled = RelayApi::pull();
    QCOMPARE(pulled.size(), 1);
    const RawEnvelope &envelope = pulled.first();
    QVERIFY2(envelope.valid, qPrintable(envelope.rejectReason));
    QVERIFY(envelope.rejectReason.isEmpty());
    QCOMPARE(envelope.messageId, sent.messageId);
    QCOMPARE(envelope.senderPubkey, m_alice.publicKeyText());
    QCOMPARE(envelope.senderAddress, m_alice.erc20Address());
    QVERIFY(qAbs(envelope.createdAt - now()) < 60);
    QCOMPARE(envelope.ciphertextHash, velmor::crypto::sha256Hex(envelope.ciphertext.toUtf8()));
    QVERIFY(QRegularExpression("^[0-9a-f]{64}$").match(envelope.ciphertextHash).hasMatch());

    const QByteArray plaintext = openDirectMessage(envelope.ciphertext, envelope.senderPubkey, m_bob);
    const MessageContent content = parseMessageContent(plaintext);
    QVERIFY(content.ok);
    QCOMPARE(content.type, QStringLiteral("text"));
    QCOMPARE(content.text, QStringLiteral("hello Bob 你好"));
    // Nobody else can open it, the sender included.
    QVERIFY(openDirectMessage(envelope.ciphertext, envelope.senderPubkey, m_alice).isEmpty());
    // Nor does it open as anyone else's words (a relay re-sending it under
    // another sender's envelope).
    QVERIFY(openDirectMessage(envelope.ciphertext, m_carol.publicKeyText(), m_bob).isEmpty());
    QVERIFY(Ecies::open(envelope.ciphertext, m_bob.privateKey).isEmpty());

    // Pulling again before the acknowledgement delivers it again.
    QCOMPARE(RelayApi::pull().size(), 1);

    const AckResult acked = RelayApi::ack({envelope.messageId});
    QCOMPARE(acked.ackedIds, QStringList{envelope.messageId});
    QVERIFY(acked.failedIds.isEmpty());
    QCOMPARE(m_relay.queueSize(m_bob.publicKeyText()), 0);
    QVERIFY(RelayApi::pull().isEmpty());
}

void RelayApiTest::imagesAndVoiceTravelWhole()
{
    QByteArray jpeg(40000, '\0');
    for (int i = 0; i < jpeg.size(); ++i)
        jpeg[i] = char(i * 7 + 3);
    const QByteArray audio = QByteArray("voice-bytes-").repeated(500);

    QVERIFY(RelayApi::sendImage(m_bob.publicKeyText(), jpeg, "image/jpeg", 640, 480).ok);
    QVERIFY(RelayApi::sendVoice(m_bob.publicKeyText(), audio, 2500, {1, 5, 9}).ok);
    // An empty mime falls back to JPEG.
    QVERIFY(RelayApi::sendImage(m_bob.publicKeyText(), jpeg.left(10), QString(), 1, 1).ok);

    signInAs(m_bob);
    const QList<RawEnvelope> pulled = RelayApi::pull();
    QCOMPARE(pulled.size(), 3);
    QStringList ids;
    for (const RawEnvelope &envelope : pulled) {
        QVERIFY(envelope.valid);
        ids.append(envelope.messageId);
    }
    const MessageContent image = parseMessageContent(openDirectMessage(pulled[0].ciphertext, pulled[0].senderPubkey, m_bob));
    QCOMPARE(image.type, QStringLiteral("image"));
    QCOMPARE(velmor::crypto::base64UrlDecode(image.imageB64), jpeg);
    QCOMPARE(image.imageMime, QStringLiteral("image/jpeg"));
    QCOMPARE(image.imageWidth, 640);
    QCOMPARE(image.imageHeight, 480);

    const MessageContent voice = parseMessageContent(openDirectMessage(pulled[1].ciphertext, pulled[1].senderPubkey, m_bob));
    QCOMPARE(voice.type, QStringLiteral("voice"));
    QCOMPARE(velmor::crypto::base64UrlDecode(voice.voiceB64), audio);
    QCOMPARE(voice.durationMs, 2500);
    QCOMPARE(voice.voiceWaveform, (QList<int>{1, 5, 9}));

    const MessageContent small = parseMessageContent(openDirectMessage(pulled[2].ciphertext, pulled[2].senderPubkey, m_bob));
    QCOMPARE(small.imageMime, QStringLiteral("image/jpeg"));

    QCOMPARE(RelayApi::ack(ids).ackedIds.size(), 3);
    QCOMPARE(m_relay.queueSize(m_bob.publicKeyText()), 0);
}

void RelayApiTest::compressedRecipientKeyIsAddressedCanonically()
{
    const QString compressed =
        velmor::crypto::base64UrlEncode(velmor::crypto::normalisePublicKey(m_bob.publicKey, true));
    QCOMPARE(velmor::crypto::base64UrlDecode(compressed).size(), 33);
    const RelaySendResult sent = RelayApi::sendText(compressed, QStringLiteral("to the short key"));
    QVERIFY2(sent.ok, qPrintable(sent.error));
    QCOMPARE(m_relay.lastBody("/v1/message/send").value("recipient_pubkey").toString(), m_bob.publicKeyText());

    signInAs(m_bob);
    const QList<RawEnvelope> pulled = RelayApi::pull();
    QCOMPARE(pulled.size(), 1);
    QVERIFY(pulled.first().valid);
    RelayApi::ack({pulled.first().messageId});
}

void RelayApiTest::rejectedEnvelopesComeBackWithTheirReason_data()
{
    QTest::addColumn<QString>("tamper");
    QTest::addColumn<QString>("reason");
    QTest::newRow("ciphertext changed") << "ciphertext" << "bad_signature";
    QTest::newRow("id changed") << "id" << "bad_signature";
    QTest::newRow("time moved") << "time" << "bad_signature";
    QTest::newRow("signed by another key") << "foreign-signer" << "bad_signature";
    QTest::newRow("expired") << "expired" << "expired";
    QTest::newRow("future dated") << "future" << "future_dated";
    QTest::newRow("wrongly addressed") << "wrong-recipient" << "wrong_recipient";
    QTest::newRow("sender address not the sender's") << "address" << "sender_address_mismatch";
    QTest::newRow("signature missing") << "no-signature" << "malformed";
    QTest::newRow("created_at of the wrong type") << "time-type" << "malformed";
    QTest::newRow("sender key garbage") << "sender-key" << "bad_sender_key";
}

void RelayApiTest::rejectedEnvelopesComeBackWithTheirReason()
{
    QFETCH(QString, tamper);
    QFETCH(QString, reason);

    const Identity mallory = Identity::generate();
    const QString bobKey = m_bob.publicKeyText();
    const QString box = Ecies::seal(m_bob.publicKey, QByteArray(R"({"type":"text","text":"x"})"));
    const QString id = newId();
    qint64 createdAt = now();
    if (tamper == "expired")
        createdAt = now() - velmor::identity::kEnvelopeLifetimeSeconds - 3600;
    else if (tamper == "future")
        createdAt = now() + 3600;
    QString recipient = bobKey;
    if (tamper == "wrong-recipient")
        recipient = m_carol.publicKeyText();

    Envelope envelope = velmor::identity::signEnvelope(
        tamper == "foreign-signer" ? mallory : m_alice, recipient, box, id, createdAt);
    QJsonObject wire = RelayApi::envelopeToJson(envelope);
    if (tamper == "ciphertext") {
        QString changed = envelope.ciphertext;
        changed[changed.size() / 2] = changed[changed.size() / 2] == QLatin1Char('A') ? 'B' : 'A';
        wire["ciphertext"] = changed;
    } else if (tamper == "id") {
        wire["message_id"] = newId();
    } else if (tamper == "time") {
        wire["created_at"] = double(createdAt - 10);
    } else if (tamper == "foreign-signer") {
        wire["sender_pubkey"] = m_alice.publicKeyText();
        wire["sender_address"] = m_alice.erc20Address();
    } else if (tamper == "address") {
        wire["sender_address"] = mallory.erc20Address();
    } else if (tamper == "no-signature") {
        wire.remove("signature");
    } else if (tamper == "time-type") {
        wire["created_at"] = QJsonArray{1, 2};
    } else if (tamper == "sender-key") {
        wire["sender_pubkey"] = QStringLiteral("bm90IGEga2V5");
    }
    m_relay.enqueueRaw(bobKey, wire);
    // A sound envelope next to it is not affected.
    const QString goodId = enqueueValid(m_alice, m_bob);

    signInAs(m_bob);
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("^\\[CHAT-INBOUND\\] rejected .* %1$").arg(reason)));
    const QList<RawEnvelope> pulled = RelayApi::pull();
    QCOMPARE(pulled.size(), 2);
    const RawEnvelope &bad = pulled.at(0);
    QVERIFY(!bad.valid);
    QCOMPARE(bad.rejectReason, reason);
    QCOMPARE(bad.messageId, wire.value("message_id").toString());
    QCOMPARE(bad.ciphertextHash, velmor::crypto::sha256Hex(wire.value("ciphertext").toString().toUtf8()));
    QVERIFY(pulled.at(1).valid);
    QCOMPARE(pulled.at(1).messageId, goodId);

    QCOMPARE(RelayApi::ack({bad.messageId, goodId}).ackedIds.size(), 2);
    QCOMPARE(m_relay.queueSize(bobKey), 0);
}

// A pull large enough to be verified in parallel: every envelope keeps its
// own verdict and its place in the relay's order.
void RelayApiTest::largePullKeepsEachVerdictInOrder()
{
    const QString bobKey = m_bob.publicKeyText();
    QStringList ids;
    QList<bool> sound;
    for (int i = 0; i < 40; ++i) {
        if (i % 3 != 1) {
            ids << enqueueValid(m_alice, m_bob);
            sound << true;
            continue;
        }
        const QString box = Ecies::seal(m_bob.publicKey, QByteArray(R"({"type":"text","text":"x"})"));
        const Envelope envelope = velmor::identity::signEnvelope(m_alice, bobKey, box, newId(), now());
        QJsonObject wire = RelayApi::envelopeToJson(envelope);
        wire["created_at"] = double(envelope.createdAt - 1); // no longer what was signed
        m_relay.enqueueRaw(bobKey, wire);
        ids << envelope.messageId;
        sound << false;
    }
    signInAs(m_bob);
    for (int i = 0; i < sound.count(false); ++i)
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^\\[CHAT-INBOUND\\] rejected .* bad_signature$")));
    const QList<RawEnvelope> pulled = RelayApi::pull();
    QCOMPARE(pulled.size(), ids.size());
    for (int i = 0; i < pulled.size(); ++i) {
        QCOMPARE(pulled.at(i).messageId, ids.at(i));
        QCOMPARE(pulled.at(i).valid, sound.at(i));
        QCOMPARE(pulled.at(i).rejectReason, sound.at(i) ? QString() : QStringLiteral("bad_signature"));
    }
    QCOMPARE(RelayApi::ack(ids).ackedIds.size(), ids.size());
}

void RelayApiTest::malformedPullRepliesNeverCrash_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("envelopes");
    QTest::newRow("not json") << QByteArray("<html>502 Bad Gateway</html>") << 0;
    QTest::newRow("empty body") << QByteArray() << 0;
    QTest::newRow("array") << QByteArray("[{\"message_id\":\"a\"}]") << 0;
    QTest::newRow("no envelopes key") << QByteArray("{\"messages\":[]}") << 0;
    QTest::newRow("envelopes not a list") << QByteArray("{\"envelopes\":{\"message_id\":\"a\"}}") << 0;
    QTest::newRow("entries not objects") << QByteArray("{\"envelopes\":[1,\"x\",null,[],true]}") << 0;
    QTest::newRow("fields of wrong types")
        << QByteArray("{\"envelopes\":[{\"message_id\":5,\"sender_pubkey\":[],\"created_at\":\"soon\","
                      "\"ciphertext\":{},\"signature\":null}]}")
        << 1;
    QTest::newRow("empty object") << QByteArray("{\"envelopes\":[{}]}") << 1;
    QTest::newRow("huge numbers") << QByteArray("{\"envelopes\":[{\"message_id\":\"n\",\"created_at\":1e300,"
                                                "\"expires_at\":-1e300}]}")
                                  << 1;
    QTest::newRow("truncated") << QByteArray("{\"envelopes\":[{\"message_id\":\"a\"") << 0;
    QByteArray many = "{\"envelopes\":[";
    for (int i = 0; i < 5000; ++i)
        many += (i ? "," : "") + QByteArray("{\"message_id\":\"m") + QByteArray::number(i) + "\"}";
    many += "]}";
    // No more than a page asked for is built; the rest comes at the next pull.
    QTest::newRow("five thousand junk entries") << many << kPullLimit;
    QTest::newRow("above the size cap") << QByteArray(velmor::net::kMaxResponseBytes + 1024, ' ') << 0;
}

void RelayApiTest::malformedPullRepliesNeverCrash()
{
    QFETCH(QByteArray, body);
    QFETCH(int, envelopes);
    m_relay.setFault("/v1/message/pull", Fault::custom(200, body));
    signInAs(m_bob);
    QTest::failOnWarning(QRegularExpression("^(?!\\[CHAT-INBOUND\\] rejected)"));
    const QList<RawEnvelope> pulled = RelayApi::pull();
    QCOMPARE(pulled.size(), envelopes);
    for (const RawEnvelope &envelope : pulled) {
        QVERIFY(!envelope.valid);
        QCOMPARE(envelope.rejectReason, QStringLiteral("malformed"));
    }
}

void RelayApiTest::pullFailuresGiveAnEmptyList()
{
    enqueueValid(m_alice, m_bob);
    signInAs(m_bob);
    m_relay.setFault("/v1/message/pull", Fault::http500());
    QVERIFY(RelayApi::pull().isEmpty());
    m_relay.setFault("/v1/message/pull", Fault::malformedJson());
    QVERIFY(RelayApi::pull().isEmpty());
    m_relay.setFault("/v1/message/pull", Fault::drop());
    QVERIFY(RelayApi::pull().isEmpty());
    m_relay.clearFaults();

    // Signed out: nothing is asked of the relay.
    RelayAuthSession::instance().clear();
    m_relay.http().resetCounts();
    QVERIFY(RelayApi::pull().isEmpty());
    QCOMPARE(m_relay.requestCount("/v1/message/pull"), 0);

    signInAs(m_bob);
    const QList<RawEnvelope> pulled = RelayApi::pull();
    QCOMPARE(pulled.size(), 1);
    RelayApi::ack({pulled.first().messageId});
}

// A refused page of 500 is asked again at 100 once; other refusals fail the pull.
void RelayApiTest::refusedPageSizeAsksForAHundred_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("refusals");
    QTest::addColumn<int>("requests");
    QTest::addColumn<bool>("delivered");
    QTest::newRow("400") << 400 << 1 << 2 << true;
    QTest::newRow("413") << 413 << 1 << 2 << true;
    QTest::newRow("413 to 100 as well") << 413 << 2 << 2 << false;
    QTest::newRow("403 is no page-size matter") << 403 << 1 << 1 << false;
}

void RelayApiTest::refusedPageSizeAsksForAHundred()
{
    QFETCH(int, status);
    QFETCH(int, refusals);
    QFETCH(int, requests);
    QFETCH(bool, delivered);
    const QString id = enqueueValid(m_alice, m_bob);
    signInAs(m_bob);
    Fault refusal = Fault::custom(status, "{\"error\":\"limit_too_large\"}");
    refusal.remaining = refusals;
    m_relay.setFault("/v1/message/pull", refusal);
    m_relay.http().resetCounts();
    const PullPage page = RelayApi::pullPage();
    QCOMPARE(m_relay.requestCount("/v1/message/pull"), requests);
    QCOMPARE(page.answered, delivered);
    QCOMPARE(page.envelopes.size(), delivered ? 1 : 0);
    m_relay.clearFaults();
    // Drained for the next case.
    const QList<RawEnvelope> rest = delivered ? page.envelopes : RelayApi::pull();
    QCOMPARE(rest.size(), 1);
    QCOMPARE(rest.first().messageId, id);
    QCOMPARE(RelayApi::ack({id}).ackedIds.size(), 1);
}

void RelayApiTest::oversizedInboxIsPulledInSmallerSteps()
{
    // Three envelopes of over 17 MiB each: any two are above the reply cap,
    // each one alone is below it.
    const QString bobKey = m_bob.publicKeyText();
    QStringList ids;
    for (int i = 0; i < 3; ++i) {
        const QString id = newId();
        const QString big = Ecies::seal(m_bob.publicKey, QByteArray(13 * 1024 * 1024, char('a' + i)));
        QVERIFY(big.size() > 17 * 1024 * 1024);
        m_relay.enqueueRaw(bobKey, RelayApi::envelopeToJson(
                                       velmor::identity::signEnvelope(m_alice, bobKey, big, id, now())));
        ids.append(id);
    }
    signInAs(m_bob);
    m_relay.http().resetCounts();
    // One request per pull, each after an oversized answer asking for
    // fewer: an answer that never ends is read once per pull, not once per
    // page size.
    for (const int limit : {500, 100, 20, 4}) {
        const PullPage failed = RelayApi::pullPage();
        QVERIFY(!failed.answered);
        QCOMPARE(failed.error, QStringLiteral("response_too_large"));
        QCOMPARE(failed.limit, limit);
    }
    QCOMPARE(m_relay.requestCount("/v1/message/pull"), 4);
    QList<RawEnvelope> pulled = RelayApi::pull();
    QCOMPARE(pulled.size(), 1);
    QVERIFY(pulled.first().valid);
    QCOMPARE(pulled.first().messageId, ids.first());
    QCOMPARE(m_relay.requestCount("/v1/message/pull"), 5);
    QCOMPARE(m_relay.lastBody("/v1/message/pull").value("limit").toInt(), 1);

    // Step by step the inbox empties.
    for (int i = 0; i < 3; ++i) {
        if (i > 0)
            pulled = RelayApi::pull();
        QCOMPARE(pulled.size(), 1);
        QCOMPARE(pulled.first().messageId, ids.at(i));
        QCOMPARE(RelayApi::ack({pulled.first().messageId}).ackedIds.size(), 1);
    }
    QVERIFY(RelayApi::pull().isEmpty());
    // Drained: the next pull asks for a whole page again.
    RelayApi::pull();
    QCOMPARE(m_relay.lastBody("/v1/message/pull").value("limit").toInt(), 500);
}

void RelayApiTest::resentEnvelopeIsQueuedOnce()
{
    const Envelope envelope = velmor::identity::signEnvelope(
        m_alice, m_bob.publicKeyText(), Ecies::seal(m_bob.publicKey, "{\"type\":\"text\",\"text\":\"again\"}"),
        newId(), now());
    QVERIFY(RelayApi::send(envelope, QStringLiteral("message")).ok);
    QVERIFY(RelayApi::send(envelope, QStringLiteral("message")).ok);
    QCOMPARE(m_relay.queueSize(m_bob.publicKeyText()), 1);
    signInAs(m_bob);
    const QList<RawEnvelope> pulled = RelayApi::pull();
    QCOMPARE(pulled.size(), 1);
    QVERIFY(pulled.first().valid);
    RelayApi::ack({pulled.first().messageId});
}

void RelayApiTest::sendFailureWords()
{
    const QString bob = m_bob.publicKeyText();
    QCOMPARE(RelayApi::sendPayload(bob, QByteArray(), "message").error, QStringLiteral("empty_payload"));
    QCOMPARE(RelayApi::sendText(bob, QStringLiteral("   ")).error, QStringLiteral("empty_payload"));
    QCOMPARE(RelayApi::sendImage(bob, QByteArray(), "image/jpeg", 1, 1).error, QStringLiteral("empty_payload"));
    QCOMPARE(RelayApi::sendVoice(bob, QByteArray(), 100, {}).error, QStringLiteral("empty_payload"));
    QCOMPARE(RelayApi::sendText(QStringLiteral("abc"), "hi").error, QStringLiteral("bad_recipient_key"));
    QCOMPARE(RelayApi::sendText(QString(), "hi").error, QStringLiteral("bad_recipient_key"));
    // 65 bytes that are no point on the curve.
    QCOMPARE(RelayApi::sendText(velmor::crypto::base64UrlEncode(QByteArray(65, '\x04')), "hi").error,
             QStringLiteral("bad_recipient_key"));
    QCOMPARE(m_relay.requestCount("/v1/message/send"), 0);

    // A recipient the relay has never seen.
    const RelaySendResult never = RelayApi::sendText(m_carol.publicKeyText(), "hi Carol");
    QVERIFY(!never.ok);
    QCOMPARE(never.error, QStringLiteral("recipientNeverOnline"));
    QCOMPARE(never.serviceError.code, int(velmor::net::ErrorAddressNotFound));
    QCOMPARE(never.serviceError.httpStatus, 404);

    // The relay's own codes pass through.
    m_relay.setFault("/v1/message/send", Fault::custom(200, R"({"ok":false,"error":"group_muted"})"));
    RelaySendResult result = RelayApi::sendText(bob, "hi");
    QCOMPARE(result.error, QStringLiteral("group_muted"));
    QCOMPARE(result.serviceError.code, int(velmor::net::ErrorMuted));
    m_relay.setFault("/v1/message/send", Fault::custom(200, R"({"ok":false,"error":"no_route"})"));
    QCOMPARE(RelayApi::sendText(bob, "hi").error, QStringLiteral("recipientNeverOnline"));
    m_relay.setFault("/v1/message/send", Fault::custom(409, R"({"error":"no_route"})"));
    QCOMPARE(RelayApi::sendText(bob, "hi").error, QStringLiteral("recipientNeverOnline"));
    // A 409 settles a send only when it names the id that was posted.
    const Envelope posted = velmor::identity::signEnvelope(m_alice, bob, Ecies::seal(m_bob.publicKey, "{}"), newId(), now());
    m_relay.setFault("/v1/message/send", Fault::custom(409, QJsonDocument(QJsonObject{{"message_id", posted.messageId}}).toJson()));
    QVERIFY(RelayApi::send(posted, QStringLiteral("message")).ok);
    m_relay.setFault("/v1/message/send", Fault::custom(409, QByteArray()));
    result = RelayApi::send(posted, QStringLiteral("message"));
    QVERIFY(!result.ok && result.retryable);
    // The relay's word for an id it holds settles a send only in its 409.
    m_relay.setFault("/v1/message/send", Fault::custom(200, R"({"ok":false,"error":"already_exists"})"));
    result = RelayApi::send(posted, QStringLiteral("message"));
    QVERIFY(!result.ok);
    QCOMPARE(result.error, QStringLiteral("already_exists"));

    m_relay.setFault("/v1/message/send", Fault::http500());
    result = RelayApi::sendText(bob, "hi");
    QCOMPARE(result.error, QStringLiteral("send_http_500(internal)"));
    QCOMPARE(result.serviceError.httpStatus, 500);
    m_relay.setFault("/v1/message/send", Fault::custom(403, R"({"error":"group_muted"})"));
    result = RelayApi::sendText(bob, "hi");
    QCOMPARE(result.error, QStringLiteral("send_http_403(group_muted)"));
    QCOMPARE(result.serviceError.code, int(velmor::net::ErrorPermissionDenied));
    QCOMPARE(velmor::net::classifyError(result.error).code, int(velmor::net::ErrorMuted));
    m_relay.setFault("/v1/message/send", Fault::custom(502, "<html>bad gateway</html>"));
    QCOMPARE(RelayApi::sendText(bob, "hi").error, QStringLiteral("send_http_502(htmlbad gatewayhtml)"));
    m_relay.clearFaults();
    QCOMPARE(m_relay.queueSize(bob), 0);

    // No identity at all.
    RelayAuthSession::instance().clear();
    result = RelayApi::sendText(bob, "hi");
    QCOMPARE(result.error, QStringLiteral("no_identity"));
    QCOMPARE(result.serviceError.code, int(velmor::net::ErrorNotAuthenticated));

    // A relay that is gone.
    RelayAuthSession::instance().configure(velmor::fakes::unusedLoopbackUrl(), m_alice);
    result = RelayApi::sendText(bob, "hi");
    QVERIFY(!result.ok);
    QVERIFY(result.error.startsWith(QStringLiteral("challenge_network:")));
    QVERIFY(result.serviceError.retryable);
}

void RelayApiTest::relayRefusesImpersonation()
{
    // Alice's token with an envelope that claims to come from Mallory.
    const Identity mallory = Identity::generate();
    const Envelope envelope = velmor::identity::signEnvelope(
        mallory, m_bob.publicKeyText(), Ecies::seal(m_bob.publicKey, "{}"), newId(), now());
    const velmor::net::HttpResponse refused =
        RelayApi::authorizedPost(QStringLiteral("/v1/message/send"), RelayApi::envelopeToJson(envelope), 5000);
    QCOMPARE(refused.status, 403);
    QCOMPARE(m_relay.queueSize(m_bob.publicKeyText()), 0);
    // A post belongs to the session that sealed it: an envelope of another
    // identity (a session that ended) never goes out under this session's
    // token, and is left to be posted again under its own.
    m_relay.http().resetCounts();
    const RelaySendResult result = RelayApi::send(envelope, QStringLiteral("message"));
    QCOMPARE(result.error, QStringLiteral("session_changed"));
    QVERIFY(result.retryable);
    QCOMPARE(m_relay.requestCount("/v1/message/send"), 0);
}

void RelayApiTest::ackInBatchesOfAHundred()
{
    QStringList ids;
    for (int i = 0; i < 250; ++i)
        ids.append(enqueueValid(m_alice, m_bob));
    signInAs(m_bob);
    m_relay.http().resetCounts();
    QCOMPARE(m_relay.queueSize(m_bob.publicKeyText()), 250);

    const AckResult result = RelayApi::ack(ids);
    QCOMPARE(result.ackedIds, ids);
    QVERIFY(result.failedIds.isEmpty());
    QCOMPARE(m_relay.requestCount("/v1/message/ack/batch"), 3);
    QCOMPARE(m_relay.requestCount("/v1/message/ack"), 0);
    QCOMPARE(m_relay.lastBody("/v1/message/ack/batch").value("message_ids").toArray().size(), 50);
    QCOMPARE(m_relay.queueSize(m_bob.publicKeyText()), 0);

    // Exactly a hundred is one call.
    ids.clear();
    for (int i = 0; i < 100; ++i)
        ids.append(QStringLiteral("x-%1").arg(i));
    m_relay.http().resetCounts();
    QCOMPARE(RelayApi::ack(ids).ackedIds.size(), 100);
    QCOMPARE(m_relay.requestCount("/v1/message/ack/batch"), 1);
}

void RelayApiTest::refusedBatch_data()
{
    QTest::addColumn<int>("status");  // the relay's answer to the batch
    QTest::addColumn<int>("queued");
    QTest::addColumn<int>("gone");    // ids the relay no longer holds: a 404 settles them
    QTest::addColumn<int>("singles"); // single acks sent after the batch
    QTest::newRow("refused: one ack each") << 501 << 5 << 2 << 7;
    QTest::newRow("not found: settled whole") << 404 << 3 << 0 << 0;
    // A relay failing on its side is not asked once per id: all wait.
    QTest::newRow("failing: nothing settled") << 500 << 3 << 0 << 0;
    QTest::newRow("unavailable: nothing settled") << 503 << 3 << 0 << 0;
}

void RelayApiTest::refusedBatch()
{
    QFETCH(int, status);
    QFETCH(int, queued);
    QFETCH(int, gone);
    QFETCH(int, singles);
    QStringList ids;
    for (int i = 0; i < queued; ++i)
        ids.append(enqueueValid(m_alice, m_bob));
    for (int i = 0; i < gone; ++i)
        ids << QStringLiteral("already-gone-%1").arg(i);
    signInAs(m_bob);
    m_relay.http().resetCounts();
    m_relay.setRefuseBatchAck(true, status);

    const AckResult result = RelayApi::ack(ids);
    const bool failing = status >= 500 && status != 501;
    QCOMPARE(result.ackedIds, failing ? QStringList() : ids);
    QCOMPARE(result.failedIds, failing ? ids : QStringList());
    QCOMPARE(m_relay.requestCount("/v1/message/ack/batch"), 1);
    QCOMPARE(m_relay.requestCount("/v1/message/ack"), singles);
    if (status == 404 || failing) {
        // This relay answered without removing anything; empty the
        // queue for the tests that follow.
        m_relay.setRefuseBatchAck(false);
        QCOMPARE(RelayApi::ack(ids).ackedIds, ids);
    }
    QCOMPARE(m_relay.queueSize(m_bob.publicKeyText()), 0);
}

void RelayApiTest::failedSingleAcksAreReported()
{
    QStringList ids;
    for (int i = 0; i < 4; ++i)
        ids.append(enqueueValid(m_alice, m_bob));
    signInAs(m_bob);
    m_relay.setRefuseBatchAck(true);
    Fault twice = Fault::http500();
    twice.remaining = 2;
    m_relay.setFault("/v1/message/ack", twice);

    const AckResult result = RelayApi::ack(ids);
    QCOMPARE(result.failedIds, ids.mid(0, 2));
    QCOMPARE(result.ackedIds, ids.mid(2));
    QCOMPARE(result.error.httpStatus, 500);
    QVERIFY(result.error.isError());
    QCOMPARE(m_relay.queuedIds(m_bob.publicKeyText()), ids.mid(0, 2));

    // Retrying the failed ones later succeeds.
    m_relay.setRefuseBatchAck(false);
    QCOMPARE(RelayApi::ack(result.failedIds).ackedIds, ids.mid(0, 2));
    QCOMPARE(m_relay.queueSize(m_bob.publicKeyText()), 0);
}

void RelayApiTest::ackWithoutRelayFailsEveryIdOnce()
{
    QStringList ids;
    for (int i = 0; i < 230; ++i)
        ids.append(QStringLiteral("id-%1").arg(i));
    RelayAuthSession::instance().configure(velmor::fakes::unusedLoopbackUrl(), m_bob);
    const AckResult result = RelayApi::ack(ids);
    QVERIFY(result.ackedIds.isEmpty());
    QCOMPARE(result.failedIds, ids);
    QCOMPARE(result.error.code, int(velmor::net::ErrorNetwork));

    // Signed out: the same, and nothing is sent.
    RelayAuthSession::instance().clear();
    const AckResult signedOut = RelayApi::ack(ids.mid(0, 3));
    QCOMPARE(signedOut.failedIds, ids.mid(0, 3));
}

void RelayApiTest::ackInputDuplicatesAndBlanks()
{
    const QString id = enqueueValid(m_alice, m_bob);
    signInAs(m_bob);
    const AckResult result = RelayApi::ack({id, id, QString(), id});
    QCOMPARE(result.ackedIds, QStringList{id});
    QCOMPARE(result.failedIds, QStringList{QString()});
    QCOMPARE(m_relay.lastBody("/v1/message/ack/batch").value("message_ids").toArray().size(), 1);
    QVERIFY(RelayApi::ack({}).ackedIds.isEmpty());
}

// Background jobs that split their work (pull verification, opening a page,
// building the conversation list) may fill the whole global pool at once, as
// two do on a two-core machine: they still finish.
void RelayApiTest::splitJobsFillingThePoolFinish()
{
    QThreadPool *global = QThreadPool::globalInstance();
    const int threads = global->maxThreadCount();
    global->setMaxThreadCount(2);
    QList<QFuture<int>> jobs;
    for (int j = 0; j < 2; ++j)
        jobs << QtConcurrent::run(global, [] {
            QList<int> items(2000, 1);
            velmor::net::forEachInParallel(items, [](int &item) { item *= 2; });
            return int(std::accumulate(items.begin(), items.end(), 0));
        });
    for (const QFuture<int> &job : std::as_const(jobs)) {
        QTRY_VERIFY_WITH_TIMEOUT(job.isFinished(), 20000);
        QCOMPARE(job.result(), 4000);
    }
    global->setMaxThreadCount(threads);
}

QTEST_GUILESS_MAIN(RelayApiTest)
#include "test_relay_api.moc"
