// Hot paths of receiving and sending one-to-one messages, beside the bare
// libsecp256k1 operations they are built on.
#include "identity/content.h"
#include "identity/crypto.h"
#include "identity/envelope.h"
#include "identity/identity.h"

#include <benchmark/benchmark.h>
#include <openssl/rand.h>
#include <secp256k1.h>
#include <secp256k1_ecdh.h>

using namespace velmor;

namespace {

const identity::Identity &alice()
{
    static const identity::Identity id(QByteArray(32, 0x11));
    return id;
}

const identity::Identity &bob()
{
    static const identity::Identity id(QByteArray(32, 0x22));
    return id;
}

// A typical text message: JSON content of a short sentence.
QByteArray content()
{
    chat::MessageContent c;
    c.type = QStringLiteral("text");
    c.text = QStringLiteral("See you at the station at half past six, bring the tickets.");
    c.senderAvatarKind = QStringLiteral("image");
    c.senderAvatarId = QStringLiteral("avatar_boys_001");
    return chat::serializeMessageContent(c);
}

identity::Envelope envelope()
{
    const QString box = Ecies::seal(bob().publicKey, content());
    return identity::signEnvelope(alice(), bob().publicKeyText(), box, QStringLiteral("bench-1"), 1700000000);
}

secp256k1_context *bareContext()
{
    static secp256k1_context *ctx = [] {
        secp256k1_context *c = secp256k1_context_create(SECP256K1_CONTEXT_NONE);
        unsigned char seed[32];
        if (RAND_bytes(seed, 32) != 1 || secp256k1_context_randomize(c, seed) != 1)
            std::abort();
        return c;
    }();
    return ctx;
}

int copyX(unsigned char *out, const unsigned char *x, const unsigned char *, void *)
{
    std::memcpy(out, x, 32);
    return 1;
}

void BM_Seal(benchmark::State &state)
{
    const QByteArray plain = content();
    for (auto _ : state)
        benchmark::DoNotOptimize(Ecies::seal(bob().publicKey, plain));
}
BENCHMARK(BM_Seal);

void BM_Open(benchmark::State &state)
{
    const QString box = Ecies::seal(bob().publicKey, content());
    for (auto _ : state)
        benchmark::DoNotOptimize(Ecies::open(box, bob().privateKey));
}
BENCHMARK(BM_Open);

void BM_Sign(benchmark::State &state)
{
    const QByteArray message = identity::envelopeSigningBytes(envelope());
    for (auto _ : state)
        benchmark::DoNotOptimize(crypto::signMessage(alice().privateKey, message));
}
BENCHMARK(BM_Sign);

void BM_Verify(benchmark::State &state)
{
    const QByteArray message = identity::envelopeSigningBytes(envelope());
    const QByteArray signature = crypto::signMessage(alice().privateKey, message);
    for (auto _ : state)
        benchmark::DoNotOptimize(crypto::verifyMessage(alice().publicKey, message, signature));
}
BENCHMARK(BM_Verify);

void BM_SignEnvelope(benchmark::State &state)
{
    const QString box = Ecies::seal(bob().publicKey, content());
    const QString recipient = bob().publicKeyText();
    for (auto _ : state)
        benchmark::DoNotOptimize(identity::signEnvelope(alice(), recipient, box, QStringLiteral("bench-1"), 1700000000));
}
BENCHMARK(BM_SignEnvelope);

void BM_ValidateEnvelope(benchmark::State &state)
{
    const identity::Envelope e = envelope();
    for (auto _ : state)
        benchmark::DoNotOptimize(identity::validateEnvelope(e, 1700000000));
}
BENCHMARK(BM_ValidateEnvelope);

// What receiving one message costs in this subsystem: validate, then open.
void BM_OpenAndVerifyEnvelope(benchmark::State &state)
{
    const identity::Envelope e = envelope();
    const QString recipient = bob().publicKeyText();
    for (auto _ : state) {
        const identity::EnvelopeVerdict verdict = identity::validateEnvelope(e, 1700000000, recipient);
        benchmark::DoNotOptimize(verdict);
        benchmark::DoNotOptimize(Ecies::open(e.ciphertext, bob().privateKey));
    }
}
BENCHMARK(BM_OpenAndVerifyEnvelope);

void BM_Hkdf(benchmark::State &state)
{
    const QByteArray ikm(32, 0x44), salt(66, 0x55), info("velmor.e2e.secp256k1.v1");
    for (auto _ : state)
        benchmark::DoNotOptimize(crypto::hkdfSha256(ikm, salt, info, 32));
}
BENCHMARK(BM_Hkdf);

void BM_PublicKeyFromSecret(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(crypto::publicKeyFromSecret(bob().privateKey, true));
}
BENCHMARK(BM_PublicKeyFromSecret);

void BM_BareEcdh(benchmark::State &state)
{
    secp256k1_context *ctx = bareContext();
    secp256k1_pubkey pub;
    const QByteArray point = crypto::publicKeyFromSecret(QByteArray(32, 0x33), true);
    if (secp256k1_ec_pubkey_parse(ctx, &pub, reinterpret_cast<const unsigned char *>(point.constData()), 33) != 1)
        state.SkipWithError("parse");
    unsigned char out[32];
    const auto *secret = reinterpret_cast<const unsigned char *>(bob().privateKey.constData());
    for (auto _ : state) {
        benchmark::DoNotOptimize(secp256k1_ecdh(ctx, out, &pub, secret, copyX, nullptr));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BareEcdh);

void BM_BareVerify(benchmark::State &state)
{
    secp256k1_context *ctx = bareContext();
    const QByteArray digest = crypto::sha256("message");
    secp256k1_ecdsa_signature sig;
    secp256k1_pubkey pub;
    const auto *d = reinterpret_cast<const unsigned char *>(digest.constData());
    if (secp256k1_ecdsa_sign(ctx, &sig, d, reinterpret_cast<const unsigned char *>(alice().privateKey.constData()),
                             nullptr, nullptr) != 1
        || secp256k1_ec_pubkey_parse(ctx, &pub, reinterpret_cast<const unsigned char *>(alice().publicKey.constData()),
                                     65) != 1)
        state.SkipWithError("setup");
    for (auto _ : state)
        benchmark::DoNotOptimize(secp256k1_ecdsa_verify(ctx, &sig, d, &pub));
}
BENCHMARK(BM_BareVerify);

// The floor for receiving one message: one ECDH and one verification.
void BM_BareEcdhPlusVerify(benchmark::State &state)
{
    secp256k1_context *ctx = bareContext();
    const QByteArray digest = crypto::sha256("message");
    const auto *d = reinterpret_cast<const unsigned char *>(digest.constData());
    secp256k1_ecdsa_signature sig;
    secp256k1_pubkey signer;
    secp256k1_pubkey ephemeral;
    const QByteArray point = crypto::publicKeyFromSecret(QByteArray(32, 0x33), true);
    if (secp256k1_ecdsa_sign(ctx, &sig, d, reinterpret_cast<const unsigned char *>(alice().privateKey.constData()),
                             nullptr, nullptr) != 1
        || secp256k1_ec_pubkey_parse(ctx, &signer, reinterpret_cast<const unsigned char *>(alice().publicKey.constData()),
                                     65) != 1
        || secp256k1_ec_pubkey_parse(ctx, &ephemeral, reinterpret_cast<const unsigned char *>(point.constData()), 33) != 1)
        state.SkipWithError("setup");
    unsigned char out[32];
    const auto *secret = reinterpret_cast<const unsigned char *>(bob().privateKey.constData());
    for (auto _ : state) {
        benchmark::DoNotOptimize(secp256k1_ecdh(ctx, out, &ephemeral, secret, copyX, nullptr));
        benchmark::DoNotOptimize(secp256k1_ecdsa_verify(ctx, &sig, d, &signer));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BareEcdhPlusVerify);

} // namespace

BENCHMARK_MAIN();
