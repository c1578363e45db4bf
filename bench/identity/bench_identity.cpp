// Hot paths of receiving and sending one-to-one messages, beside the bare
// libsecp256k1 operations they are built on.
#include "identity/content.h"
#include "identity/crypto.h"
#include "identity/envelope.h"
#include "identity/identity.h"

#include "bench/bench_ratio.h"

#include <benchmark/benchmark.h>
#include <cryptopp/keccak.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
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
BENCHMARK(BM_OpenAndVerifyEnvelope)->UseRealTime();

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

// ---- receiving one message beside the libraries doing the same work ----------

const unsigned char *uc(const QByteArray &b) { return reinterpret_cast<const unsigned char *>(b.constData()); }
void bareHkdf(const unsigned char *ikm, const unsigned char *salt, size_t saltLen, unsigned char *out);

QByteArray bareB64(const QString &text)
{
    return QByteArray::fromBase64(text.toLatin1(), QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

// Opens a box of the sealed-box layout with libsecp256k1 and OpenSSL.
QByteArray bareOpen(secp256k1_context *ctx, const QString &boxText, const QByteArray &secret,
                    const unsigned char *recipient33)
{
    const QByteArray raw = bareB64(boxText);
    const unsigned char *b = uc(raw);
    secp256k1_pubkey ephemeral;
    unsigned char shared[32], key[32], salt[66];
    if (raw.size() < 47 + 16 || secp256k1_ec_pubkey_parse(ctx, &ephemeral, b + 2, 33) != 1
        || secp256k1_ecdh(ctx, shared, &ephemeral, uc(secret), copyX, nullptr) != 1)
        return {};
    std::memcpy(salt, b + 2, 33);
    std::memcpy(salt + 33, recipient33, 33);
    bareHkdf(shared, salt, 66, key);
    const int header = 47, ctLen = int(raw.size()) - header - 16;
    QByteArray out(ctLen, Qt::Uninitialized);
    EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
    int len = 0;
    EVP_DecryptInit_ex(c, EVP_chacha20_poly1305(), nullptr, key, b + 35);
    EVP_DecryptUpdate(c, nullptr, &len, b, header);
    EVP_DecryptUpdate(c, reinterpret_cast<unsigned char *>(out.data()), &len, b + header, ctLen);
    EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_SET_TAG, 16, const_cast<unsigned char *>(b + header + ctLen));
    const bool ok = EVP_DecryptFinal_ex(c, reinterpret_cast<unsigned char *>(out.data()) + len, &len) == 1;
    EVP_CIPHER_CTX_free(c);
    return ok ? out : QByteArray();
}

// Validation as the envelope's checks need it: both keys parsed, the sender
// address compared with the key's Keccak-256, the lifetime, the SHA-256 of
// the signed text verified; then the box opened.
void BM_Bare_ValidateAndOpen(benchmark::State &state)
{
    secp256k1_context *ctx = bareContext();
    const identity::Envelope e = envelope();
    const QString recipientText = bob().publicKeyText();
    const QByteArray recipient33 = crypto::publicKeyFromSecret(bob().privateKey, true);
    for (auto _ : state) {
        const QByteArray sender = bareB64(e.senderPubkey), recipient = bareB64(e.recipientPubkey),
                         signature = bareB64(e.signature);
        secp256k1_pubkey senderKey, recipientKey;
        secp256k1_ecdsa_signature sig;
        bool ok = sender.size() == 65 && secp256k1_ec_pubkey_parse(ctx, &senderKey, uc(sender), 65) == 1
                  && secp256k1_ec_pubkey_parse(ctx, &recipientKey, uc(recipient), size_t(recipient.size())) == 1
                  && e.recipientPubkey == recipientText && signature.size() == 64
                  && secp256k1_ecdsa_signature_parse_compact(ctx, &sig, uc(signature)) == 1;
        unsigned char hash[32];
        CryptoPP::Keccak_256().CalculateDigest(hash, uc(sender) + 1, 64);
        ok = ok && e.senderAddress.compare(QLatin1String("0x") + QString::fromLatin1(QByteArray(
                                               reinterpret_cast<const char *>(hash) + 12, 20).toHex()),
                                           Qt::CaseInsensitive) == 0;
        ok = ok && e.expiresAt > e.createdAt && e.expiresAt - e.createdAt <= identity::kEnvelopeMaxLifetimeSeconds;
        QByteArray signedText("velmor.envelope.v1\n");
        for (const QByteArray &field : {e.messageId.toUtf8(), e.senderPubkey.toUtf8(), e.recipientPubkey.toUtf8(),
                                        e.senderAddress.toUtf8(), QByteArray::number(e.createdAt),
                                        QByteArray::number(e.expiresAt), e.ciphertext.toUtf8()}) {
            if (!signedText.endsWith('\n'))
                signedText.append('\n');
            signedText.append(QByteArray::number(field.size())).append(':').append(field);
        }
        unsigned char digest[32];
        unsigned int len = 0;
        EVP_Digest(signedText.constData(), size_t(signedText.size()), digest, &len, EVP_sha256(), nullptr);
        ok = ok && secp256k1_ecdsa_verify(ctx, &sig, digest, &senderKey) == 1;
        const QByteArray plain = bareOpen(ctx, e.ciphertext, bob().privateKey, uc(recipient33));
        if (!ok || plain.isEmpty())
            state.SkipWithError("did not validate and open");
        benchmark::DoNotOptimize(plain);
    }
}
BENCHMARK(BM_Bare_ValidateAndOpen)->UseRealTime();

// ---- 64 KiB boxes beside OpenSSL and libsecp256k1 doing the same work ----------

const QByteArray &plain64k()
{
    static const QByteArray bytes = crypto::randomBytes(64 * 1024);
    return bytes;
}

void BM_Seal64k(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(Ecies::seal(bob().publicKey, plain64k()));
}
BENCHMARK(BM_Seal64k)->UseRealTime();

void BM_Open64k(benchmark::State &state)
{
    const QString box = Ecies::seal(bob().publicKey, plain64k());
    for (auto _ : state)
        benchmark::DoNotOptimize(Ecies::open(box, bob().privateKey));
}
BENCHMARK(BM_Open64k)->UseRealTime();

// HKDF-SHA-256 as OpenSSL's documentation shows it.
void bareHkdf(const unsigned char *ikm, const unsigned char *salt, size_t saltLen, unsigned char *out)
{
    static EVP_KDF *kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    EVP_KDF_CTX *ctx = EVP_KDF_CTX_new(kdf);
    char digest[] = "SHA256";
    char info[] = "velmor.e2e.secp256k1.v1";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
                           OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<unsigned char *>(ikm), 32),
                           OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<unsigned char *>(salt), saltLen),
                           OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, info, sizeof info - 1),
                           OSSL_PARAM_construct_end()};
    EVP_KDF_derive(ctx, out, 32, params);
    EVP_KDF_CTX_free(ctx);
}

// The box text through OpenSSL's Base64 (after mapping the URL alphabet),
// ECDH, HKDF and ChaCha20-Poly1305, the header as associated data.
void BM_Bare_Open64k(benchmark::State &state)
{
    secp256k1_context *ctx = bareContext();
    const QString box = Ecies::seal(bob().publicKey, plain64k());
    const QByteArray recipient33 = crypto::publicKeyFromSecret(bob().privateKey, true);
    for (auto _ : state) {
        QByteArray text = box.toLatin1();
        for (char &c : text)
            c = c == '-' ? '+' : c == '_' ? '/' : c;
        while (text.size() % 4)
            text.append('=');
        QByteArray raw(text.size() / 4 * 3, Qt::Uninitialized);
        int n = EVP_DecodeBlock(reinterpret_cast<unsigned char *>(raw.data()), uc(text), int(text.size()));
        n -= int(text.count('=')); // EVP_DecodeBlock counts the padding as zero bytes
        const unsigned char *b = uc(raw);
        secp256k1_pubkey ephemeral;
        unsigned char shared[32], key[32], salt[66];
        secp256k1_ec_pubkey_parse(ctx, &ephemeral, b + 2, 33);
        secp256k1_ecdh(ctx, shared, &ephemeral, uc(bob().privateKey), copyX, nullptr);
        std::memcpy(salt, b + 2, 33);
        std::memcpy(salt + 33, recipient33.constData(), 33);
        bareHkdf(shared, salt, 66, key);
        const int header = 47, ctLen = n - header - 16;
        QByteArray out(ctLen, Qt::Uninitialized);
        EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
        int len = 0;
        EVP_DecryptInit_ex(c, EVP_chacha20_poly1305(), nullptr, key, b + 35);
        EVP_DecryptUpdate(c, nullptr, &len, b, header);
        EVP_DecryptUpdate(c, reinterpret_cast<unsigned char *>(out.data()), &len, b + header, ctLen);
        EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_SET_TAG, 16, const_cast<unsigned char *>(b + header + ctLen));
        const bool ok = EVP_DecryptFinal_ex(c, reinterpret_cast<unsigned char *>(out.data()) + len, &len) == 1;
        EVP_CIPHER_CTX_free(c);
        if (!ok)
            state.SkipWithError("did not open");
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_Bare_Open64k)->UseRealTime();

void BM_Bare_Seal64k(benchmark::State &state)
{
    secp256k1_context *ctx = bareContext();
    secp256k1_pubkey recipient;
    secp256k1_ec_pubkey_parse(ctx, &recipient, uc(bob().publicKey), 65);
    const QByteArray recipient33 = crypto::publicKeyFromSecret(bob().privateKey, true);
    const QByteArray &plain = plain64k();
    for (auto _ : state) {
        unsigned char secret[32], shared[32], key[32], salt[66];
        RAND_bytes(secret, 32);
        secp256k1_pubkey ephemeral;
        secp256k1_ec_pubkey_create(ctx, &ephemeral, secret);
        QByteArray box(47 + plain.size() + 16, Qt::Uninitialized);
        auto *b = reinterpret_cast<unsigned char *>(box.data());
        b[0] = 1;
        b[1] = 0;
        size_t len33 = 33;
        secp256k1_ec_pubkey_serialize(ctx, b + 2, &len33, &ephemeral, SECP256K1_EC_COMPRESSED);
        secp256k1_ecdh(ctx, shared, &recipient, secret, copyX, nullptr);
        std::memcpy(salt, b + 2, 33);
        std::memcpy(salt + 33, recipient33.constData(), 33);
        bareHkdf(shared, salt, 66, key);
        RAND_bytes(b + 35, 12);
        EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
        int len = 0;
        EVP_EncryptInit_ex(c, EVP_chacha20_poly1305(), nullptr, key, b + 35);
        EVP_EncryptUpdate(c, nullptr, &len, b, 47);
        EVP_EncryptUpdate(c, b + 47, &len, uc(plain), int(plain.size()));
        EVP_EncryptFinal_ex(c, b + 47 + len, &len);
        EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_GET_TAG, 16, b + 47 + plain.size());
        EVP_CIPHER_CTX_free(c);
        QByteArray text(4 * ((box.size() + 2) / 3) + 1, Qt::Uninitialized);
        const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(text.data()), b, int(box.size()));
        text.truncate(n);
        while (text.endsWith('='))
            text.chop(1);
        for (char &ch : text)
            ch = ch == '+' ? '-' : ch == '/' ? '_' : ch;
        benchmark::DoNotOptimize(QString::fromLatin1(text));
    }
}
BENCHMARK(BM_Bare_Seal64k)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    return velmor::bench::runWithRatios(argc, argv,
                                        {{"BM_OpenAndVerifyEnvelope/real_time", "BM_Bare_ValidateAndOpen/real_time", 1.1},
                                         {"BM_Open64k/real_time", "BM_Bare_Open64k/real_time", 1.5},
                                         {"BM_Seal64k/real_time", "BM_Bare_Seal64k/real_time", 1.5}});
}
