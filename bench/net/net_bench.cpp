// Relay hot paths: a pull of 100 envelopes from the local relay with
// validation (the relay answers with prepared bytes, so the client is what is
// measured), beside bare parsing and verifying of the same reply with Qt's
// JSON reader and libsecp256k1; the validation alone, and classifying error
// words.
#include "bench/bench_ratio.h"
#include "identity/content.h"
#include "identity/crypto.h"
#include "identity/envelope.h"
#include "identity/identity.h"
#include "net/relay_api.h"
#include "net/relay_session.h"
#include "net/service_error.h"
#include "support/fake_relay.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <secp256k1.h>

using namespace velmor;

namespace {

struct Fixture
{
    fakes::FakeRelay relay;
    identity::Identity alice = identity::Identity::generate();
    identity::Identity bob = identity::Identity::generate();
    QList<QJsonObject> envelopes;
    QByteArray reply; // the pull reply of the 100 envelopes

    Fixture()
    {
        relay.start();
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        for (int i = 0; i < 100; ++i) {
            chat::MessageContent content;
            content.type = QStringLiteral("text");
            content.text = QStringLiteral("benchmark message %1 with a little text in it").arg(i);
            const QString box = Ecies::seal(bob.publicKey, chat::serializeMessageContent(content));
            const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
            envelopes.append(chat::RelayApi::envelopeToJson(
                identity::signEnvelope(alice, bob.publicKeyText(), box, id, now)));
            relay.enqueueRaw(bob.publicKeyText(), envelopes.last());
        }
        QJsonArray list;
        for (const QJsonObject &envelope : envelopes)
            list.append(envelope);
        reply = QJsonDocument(QJsonObject{{QStringLiteral("envelopes"), list}}).toJson(QJsonDocument::Compact);
        relay.setPreparedPull(bob.publicKeyText(), reply);
        net::RelayAuthSession::instance().configure(relay.baseUrl(), bob);
        net::RelayAuthSession::instance().hasToken();
    }
};

Fixture &fixture()
{
    static Fixture instance;
    return instance;
}

void BM_PullAndValidate100(benchmark::State &state)
{
    fixture(); // relay up, 100 envelopes queued, signed in as the recipient
    for (auto _ : state) {
        const QList<chat::RawEnvelope> pulled = chat::RelayApi::pull();
        if (pulled.size() != 100 || !pulled.first().valid) {
            state.SkipWithError("unexpected pull");
            break;
        }
        benchmark::DoNotOptimize(pulled);
    }
    state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_PullAndValidate100)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same reply read with Qt's JSON reader and each signature checked with
// libsecp256k1 over the SHA-256 of the signed text, one after another.
void BM_Bare_ParseAndVerify100(benchmark::State &state)
{
    Fixture &f = fixture();
    secp256k1_context *ctx = secp256k1_context_create(SECP256K1_CONTEXT_NONE);
    const auto b64 = [](const QJsonObject &o, const char *key) {
        return QByteArray::fromBase64(o.value(QLatin1String(key)).toString().toLatin1(),
                                      QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    };
    for (auto _ : state) {
        const QJsonArray list = QJsonDocument::fromJson(f.reply).object().value(QStringLiteral("envelopes")).toArray();
        int valid = 0;
        for (const QJsonValue &entry : list) {
            const QJsonObject o = entry.toObject();
            identity::Envelope e;
            e.messageId = o.value(QLatin1String("message_id")).toString();
            e.senderPubkey = o.value(QLatin1String("sender_pubkey")).toString();
            e.recipientPubkey = o.value(QLatin1String("recipient_pubkey")).toString();
            e.senderAddress = o.value(QLatin1String("sender_address")).toString();
            e.createdAt = qint64(o.value(QLatin1String("created_at")).toDouble());
            e.expiresAt = qint64(o.value(QLatin1String("expires_at")).toDouble());
            e.ciphertext = o.value(QLatin1String("ciphertext")).toString();
            const QByteArray key = b64(o, "sender_pubkey"), sig = b64(o, "signature");
            const QByteArray message = identity::envelopeSigningBytes(e);
            unsigned char digest[32];
            unsigned int len = 0;
            EVP_Digest(message.constData(), size_t(message.size()), digest, &len, EVP_sha256(), nullptr);
            secp256k1_pubkey pub;
            secp256k1_ecdsa_signature s;
            if (secp256k1_ec_pubkey_parse(ctx, &pub, reinterpret_cast<const unsigned char *>(key.constData()),
                                          size_t(key.size())) == 1
                && secp256k1_ecdsa_signature_parse_compact(ctx, &s, reinterpret_cast<const unsigned char *>(sig.constData())) == 1
                && secp256k1_ecdsa_verify(ctx, &s, digest, &pub) == 1)
                ++valid;
        }
        if (valid != 100)
            state.SkipWithError("unexpected verification");
        benchmark::DoNotOptimize(valid);
    }
    secp256k1_context_destroy(ctx);
    state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_Bare_ParseAndVerify100)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ParseAndValidate100(benchmark::State &state)
{
    Fixture &f = fixture();
    QJsonArray list;
    for (const QJsonObject &envelope : f.envelopes)
        list.append(envelope);
    const QByteArray body =
        QJsonDocument(QJsonObject{{QStringLiteral("envelopes"), list}}).toJson(QJsonDocument::Compact);
    const QString own = f.bob.publicKeyText();
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (auto _ : state)
        benchmark::DoNotOptimize(chat::RelayApi::parsePullReply(body, own, now));
    state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_ParseAndValidate100)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ClassifyError(benchmark::State &state)
{
    const QStringList words = {QStringLiteral("send_http_500(internal)"), QStringLiteral("recipientNeverOnline"),
                               QStringLiteral("image_too_large"), QStringLiteral("voice_read_failed")};
    for (auto _ : state) {
        for (const QString &word : words)
            benchmark::DoNotOptimize(net::classifyError(word));
    }
    state.SetItemsProcessed(state.iterations() * words.size());
}
BENCHMARK(BM_ClassifyError);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rc = velmor::bench::runWithRatios(
        argc, argv,
        {{"BM_PullAndValidate100/real_time", "BM_Bare_ParseAndVerify100/real_time", 1.2},
         {"BM_ParseAndValidate100/real_time", "BM_Bare_ParseAndVerify100/real_time", 0}});
    net::RelayAuthSession::instance().clear();
    return rc;
}
