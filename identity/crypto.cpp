#include "identity/crypto.h"
#include "identity/secp.h"

#include <cryptopp/keccak.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/rand.h>
#include <secp256k1_ecdh.h>

#include <array>
#include <cstring>
#include <limits>
#include <memory>

namespace velmor::crypto {

namespace {

using detail::identityContext;
using detail::sealingContext;
using detail::signingContext;

// Upper bounds that keep absurd arguments from exhausting memory.
constexpr int kMaxRandomBytes = 64 * 1024 * 1024;
constexpr int kMaxDerivedBytes = 1024 * 1024;
constexpr int kMaxPbkdf2Iterations = 10 * 1000 * 1000;
constexpr qsizetype kMaxBoxTextLength = qsizetype(1) << 30; // 1 GiB of text

const unsigned char *u8(const QByteArray &b) { return reinterpret_cast<const unsigned char *>(b.constData()); }
unsigned char *u8(QByteArray &b) { return reinterpret_cast<unsigned char *>(b.data()); }

// The value of each ASCII character in the URL-safe alphabet; 0x40 marks a
// character outside it.
constexpr auto kB64UrlValues = [] {
    std::array<quint8, 128> table{};
    for (auto &v : table)
        v = 0x40;
    for (int c = 'A'; c <= 'Z'; ++c)
        table[c] = quint8(c - 'A');
    for (int c = 'a'; c <= 'z'; ++c)
        table[c] = quint8(c - 'a' + 26);
    for (int c = '0'; c <= '9'; ++c)
        table[c] = quint8(c - '0' + 52);
    table['-'] = 62;
    table['_'] = 63;
    return table;
}();

struct CipherCtxDeleter { void operator()(EVP_CIPHER_CTX *c) const { EVP_CIPHER_CTX_free(c); } };
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDeleter>;

// Algorithms are fetched from the provider once: an implicit fetch on every
// use (EVP_sha256() and the like) costs a look-up under a lock each time.
// Fetched objects may be shared by any number of threads.
const EVP_CIPHER *aeadCipher(int algorithm)
{
    static EVP_CIPHER *const chacha = EVP_CIPHER_fetch(nullptr, "ChaCha20-Poly1305", nullptr);
    static EVP_CIPHER *const gcm = EVP_CIPHER_fetch(nullptr, "AES-256-GCM", nullptr);
    switch (algorithm) {
    case Ecies::ChaCha20Poly1305: return chacha;
    case Ecies::Aes256Gcm: return gcm;
    default: return nullptr;
    }
}

const EVP_MD *sha256Digest()
{
    static EVP_MD *const md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    return md;
}

const EVP_MD *sha512Digest()
{
    static EVP_MD *const md = EVP_MD_fetch(nullptr, "SHA512", nullptr);
    return md;
}

constexpr int kNonceSize = 12;
constexpr int kTagSize = 16;

// Bytes read in place, without a copy.
struct Span
{
    const unsigned char *data = nullptr;
    qsizetype size = 0;
    Span() = default;
    Span(const unsigned char *d, qsizetype n) : data(d), size(n) {}
    Span(const QByteArray &b) : data(u8(b)), size(b.size()) {}
};

// The associated data is given in two parts (a box's header and the
// caller's context), fed to the cipher one after the other.
bool feedAad(EVP_CIPHER_CTX *ctx, bool encrypt, Span first, Span second)
{
    int len = 0;
    for (const Span &part : {first, second}) {
        if (part.size == 0)
            continue;
        if (part.size > std::numeric_limits<int>::max())
            return false;
        const int rc = encrypt ? EVP_EncryptUpdate(ctx, nullptr, &len, part.data, int(part.size))
                               : EVP_DecryptUpdate(ctx, nullptr, &len, part.data, int(part.size));
        if (rc != 1)
            return false;
    }
    return true;
}

// AEAD encryption of `plaintext` into `out`, which has room for it and the
// 16-byte tag after it.
bool aeadSeal(int algorithm, const unsigned char *key32, const unsigned char *nonce12, Span aadFirst,
              Span aadSecond, Span plaintext, unsigned char *out)
{
    const EVP_CIPHER *cipher = aeadCipher(algorithm);
    if (!cipher || plaintext.size > std::numeric_limits<int>::max() - kTagSize - 64)
        return false;
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx)
        return false;
    int len = 0;
    if (EVP_EncryptInit_ex(ctx.get(), cipher, nullptr, nullptr, nullptr) != 1
        || EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_IVLEN, kNonceSize, nullptr) != 1
        || EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key32, nonce12) != 1
        || !feedAad(ctx.get(), true, aadFirst, aadSecond))
        return false;
    int total = 0;
    if (plaintext.size > 0) {
        if (EVP_EncryptUpdate(ctx.get(), out, &len, plaintext.data, int(plaintext.size)) != 1)
            return false;
        total = len;
    }
    if (EVP_EncryptFinal_ex(ctx.get(), out + total, &len) != 1)
        return false;
    total += len;
    return total == plaintext.size
           && EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_GET_TAG, kTagSize, out + total) == 1;
}

// AEAD decryption of ciphertext || tag. ok false on any failure.
QByteArray aeadOpen(int algorithm, const unsigned char *key32, const unsigned char *nonce12, Span aadFirst,
                    Span aadSecond, Span sealed, bool *ok)
{
    *ok = false;
    const EVP_CIPHER *cipher = aeadCipher(algorithm);
    if (!cipher || sealed.size < kTagSize || sealed.size > std::numeric_limits<int>::max())
        return {};
    const int ctLen = int(sealed.size - kTagSize);
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx)
        return {};
    int len = 0;
    if (EVP_DecryptInit_ex(ctx.get(), cipher, nullptr, nullptr, nullptr) != 1
        || EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_IVLEN, kNonceSize, nullptr) != 1
        || EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, key32, nonce12) != 1
        || !feedAad(ctx.get(), false, aadFirst, aadSecond))
        return {};
    QByteArray out(ctLen, Qt::Uninitialized);
    int total = 0;
    if (ctLen > 0) {
        if (EVP_DecryptUpdate(ctx.get(), u8(out), &len, sealed.data, ctLen) != 1)
            return {};
        total = len;
    }
    // The tag is only read; the control call merely takes a non-const pointer.
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_TAG, kTagSize,
                            const_cast<unsigned char *>(sealed.data + ctLen))
        != 1)
        return {};
    if (EVP_DecryptFinal_ex(ctx.get(), u8(out) + total, &len) != 1) {
        OPENSSL_cleanse(out.data(), size_t(out.size()));
        return {};
    }
    total += len;
    if (total != ctLen)
        return {};
    *ok = true;
    return out;
}

bool parsePublicKey(const secp256k1_context *ctx, const unsigned char *bytes, qsizetype size, secp256k1_pubkey *out)
{
    if (size == 33) {
        if (bytes[0] != 0x02 && bytes[0] != 0x03)
            return false;
    } else if (size == 65) {
        if (bytes[0] != 0x04) // hybrid encodings (0x06/0x07) are refused
            return false;
    } else {
        return false;
    }
    return secp256k1_ec_pubkey_parse(ctx, out, bytes, size_t(size)) == 1;
}

bool parsePublicKey(const secp256k1_context *ctx, const QByteArray &bytes, secp256k1_pubkey *out)
{
    return parsePublicKey(ctx, u8(bytes), bytes.size(), out);
}

QByteArray serialisePublicKey(const secp256k1_context *ctx, const secp256k1_pubkey &key, bool compressed)
{
    QByteArray out(compressed ? 33 : 65, Qt::Uninitialized);
    size_t len = size_t(out.size());
    if (secp256k1_ec_pubkey_serialize(ctx, u8(out), &len, &key,
                                      compressed ? SECP256K1_EC_COMPRESSED : SECP256K1_EC_UNCOMPRESSED) != 1
        || len != size_t(out.size()))
        return {};
    return out;
}

// ECDH hash: the shared point's 32-byte x coordinate, unhashed (HKDF follows).
int ecdhSharedX(unsigned char *output, const unsigned char *x32, const unsigned char *, void *)
{
    std::memcpy(output, x32, 32);
    return 1;
}

const EVP_KDF *hkdfAlgorithm()
{
    // Fetched once; an EVP_KDF may be shared by any number of threads.
    static EVP_KDF *const kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    return kdf;
}

bool hkdfInto(Span ikm, Span salt, Span info, unsigned char *out, size_t length)
{
    const EVP_KDF *kdf = hkdfAlgorithm();
    if (!kdf || ikm.size == 0)
        return false;
    EVP_KDF_CTX *ctx = EVP_KDF_CTX_new(const_cast<EVP_KDF *>(kdf));
    if (!ctx)
        return false;
    char digest[] = "SHA256";
    OSSL_PARAM params[5];
    int i = 0;
    params[i++] = OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0);
    const auto octets = [](const char *name, Span s) {
        return OSSL_PARAM_construct_octet_string(name, const_cast<unsigned char *>(s.data), size_t(s.size));
    };
    params[i++] = octets(OSSL_KDF_PARAM_KEY, ikm);
    if (salt.size > 0)
        params[i++] = octets(OSSL_KDF_PARAM_SALT, salt);
    if (info.size > 0)
        params[i++] = octets(OSSL_KDF_PARAM_INFO, info);
    params[i] = OSSL_PARAM_construct_end();
    const int rc = EVP_KDF_derive(ctx, out, length, params);
    EVP_KDF_CTX_free(ctx);
    return rc == 1;
}

constexpr char kEciesLabel[] = "velmor.e2e.secp256k1.v1";
constexpr char kEciesVersion = 0x01;
constexpr int kEciesHeaderSize = 1 + 1 + 33 + kNonceSize; // version, algorithm, ephemeral key, nonce
constexpr char kGroupBoxVersion = 0x02;
constexpr char kGroupBoxLabel[] = "velmor.groupbox.v1";
constexpr int kGroupBoxHeaderSize = 1 + kNonceSize;

// The box key: HKDF-SHA-256(ikm = shared x, salt = ephemeral33 || recipient33, info = label).
bool eciesKey(const unsigned char *sharedX32, const unsigned char *ephemeral33, const unsigned char *recipient33,
              unsigned char *key32)
{
    unsigned char salt[66];
    std::memcpy(salt, ephemeral33, 33);
    std::memcpy(salt + 33, recipient33, 33);
    return hkdfInto(Span(sharedX32, 32), Span(salt, 66),
                    Span(reinterpret_cast<const unsigned char *>(kEciesLabel), qsizetype(sizeof kEciesLabel - 1)),
                    key32, 32);
}

// The compressed public key of an opening key. Deriving it costs more than a
// third of opening a box, and a user opens every box with the same key, so
// each thread remembers the last one, keyed by a digest of the secret (the
// secret itself is not kept).
QByteArray openingPublicKey(const secp256k1_context *ctx, const QByteArray &secret32)
{
    thread_local QByteArray cachedTag;
    thread_local QByteArray cachedKey;
    // SHA-256 of a fixed label and the secret, streamed: no concatenated
    // copy of the secret is made.
    static constexpr char kLabel[] = "velmor.open-key-cache";
    QByteArray tag(32, Qt::Uninitialized);
    EVP_MD_CTX *md = EVP_MD_CTX_new();
    unsigned int len = 0;
    const bool hashed = md && EVP_DigestInit_ex(md, sha256Digest(), nullptr) == 1
                        && EVP_DigestUpdate(md, kLabel, sizeof kLabel - 1) == 1
                        && EVP_DigestUpdate(md, secret32.constData(), size_t(secret32.size())) == 1
                        && EVP_DigestFinal_ex(md, u8(tag), &len) == 1 && len == 32;
    EVP_MD_CTX_free(md);
    if (hashed && !cachedKey.isEmpty() && constantTimeEqual(tag, cachedTag))
        return cachedKey;
    secp256k1_pubkey self;
    if (secp256k1_ec_pubkey_create(ctx, &self, u8(secret32)) != 1)
        return {};
    const QByteArray key = serialisePublicKey(ctx, self, true);
    if (hashed && key.size() == 33) {
        cachedTag = tag;
        cachedKey = key;
    }
    return key;
}

struct EvpPkeyDeleter { void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); } };
struct MdCtxDeleter { void operator()(EVP_MD_CTX *c) const { EVP_MD_CTX_free(c); } };
using EvpPkey = std::unique_ptr<EVP_PKEY, EvpPkeyDeleter>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxDeleter>;

} // namespace

// ---------------------------------------------------------------- base64url

QString base64UrlEncode(const QByteArray &bytes)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    const qsizetype n = bytes.size();
    if (n == 0)
        return {};
    const qsizetype full = n / 3;
    const qsizetype rest = n % 3;
    QString out(full * 4 + (rest ? rest + 1 : 0), Qt::Uninitialized);
    char16_t *o = reinterpret_cast<char16_t *>(out.data());
    const unsigned char *p = u8(bytes);
    for (qsizetype i = 0; i < full; ++i, p += 3, o += 4) {
        const quint32 v = quint32(p[0]) << 16 | quint32(p[1]) << 8 | p[2];
        o[0] = char16_t(kAlphabet[v >> 18]);
        o[1] = char16_t(kAlphabet[(v >> 12) & 63]);
        o[2] = char16_t(kAlphabet[(v >> 6) & 63]);
        o[3] = char16_t(kAlphabet[v & 63]);
    }
    if (rest) {
        const quint32 v = quint32(p[0]) << 16 | (rest == 2 ? quint32(p[1]) << 8 : 0);
        o[0] = char16_t(kAlphabet[v >> 18]);
        o[1] = char16_t(kAlphabet[(v >> 12) & 63]);
        if (rest == 2)
            o[2] = char16_t(kAlphabet[(v >> 6) & 63]);
    }
    return out;
}

QByteArray base64UrlDecode(const QString &text)
{
    const qsizetype n = text.size();
    if (n == 0 || n % 4 == 1 || n > kMaxBoxTextLength)
        return {};
    const qsizetype full = n / 4;
    const qsizetype rest = n % 4;
    QByteArray out(full * 3 + (rest ? rest - 1 : 0), Qt::Uninitialized);
    const char16_t *p = reinterpret_cast<const char16_t *>(text.constData());
    unsigned char *o = u8(out);
    for (qsizetype i = 0; i < full; ++i, p += 4, o += 3) {
        if ((p[0] | p[1] | p[2] | p[3]) >= 0x80)
            return {};
        const quint32 a = kB64UrlValues[p[0]], b = kB64UrlValues[p[1]], c = kB64UrlValues[p[2]],
                      d = kB64UrlValues[p[3]];
        if ((a | b | c | d) & 0x40)
            return {};
        const quint32 v = a << 18 | b << 12 | c << 6 | d;
        o[0] = static_cast<unsigned char>(v >> 16);
        o[1] = static_cast<unsigned char>(v >> 8);
        o[2] = static_cast<unsigned char>(v);
    }
    if (rest) {
        quint32 v = 0;
        for (qsizetype i = 0; i < rest; ++i) {
            if (p[i] >= 0x80 || (kB64UrlValues[p[i]] & 0x40))
                return {};
            v = v << 6 | kB64UrlValues[p[i]];
        }
        // Canonical form only: the unused low bits of the last character are zero.
        if (rest == 2) {
            if (v & 0x0f)
                return {};
            o[0] = static_cast<unsigned char>(v >> 4);
        } else {
            if (v & 0x03)
                return {};
            o[0] = static_cast<unsigned char>(v >> 10);
            o[1] = static_cast<unsigned char>(v >> 2);
        }
    }
    return out;
}

// ---------------------------------------------------------------- hashes

void prepare()
{
    sha256Digest();
    sha512Digest();
    aeadCipher(Ecies::ChaCha20Poly1305);
    identityContext();
    signingContext();
    sealingContext();
}

QByteArray randomBytes(int count)
{
    if (count <= 0 || count > kMaxRandomBytes)
        return {};
    QByteArray out(count, Qt::Uninitialized);
    if (RAND_bytes(u8(out), count) != 1)
        return {};
    return out;
}

QByteArray sha256(const QByteArray &data)
{
    QByteArray out(32, Qt::Uninitialized);
    unsigned int len = 0;
    if (EVP_Digest(data.constData(), size_t(data.size()), u8(out), &len, sha256Digest(), nullptr) != 1 || len != 32)
        return {};
    return out;
}

QString sha256Hex(const QByteArray &data)
{
    return QString::fromLatin1(sha256(data).toHex());
}

QByteArray keccak256(const QByteArray &data)
{
    QByteArray out(32, Qt::Uninitialized);
    CryptoPP::Keccak_256 hash;
    hash.CalculateDigest(u8(out), u8(data), size_t(data.size()));
    return out;
}

QByteArray hmacSha256(const QByteArray &key, const QByteArray &data)
{
    QByteArray out(32, Qt::Uninitialized);
    unsigned int len = 0;
    if (!HMAC(sha256Digest(), key.constData(), int(key.size()), u8(data), size_t(data.size()), u8(out), &len) || len != 32)
        return {};
    return out;
}

QByteArray hmacSha512(const QByteArray &key, const QByteArray &data)
{
    QByteArray out(64, Qt::Uninitialized);
    unsigned int len = 0;
    if (!HMAC(sha512Digest(), key.constData(), int(key.size()), u8(data), size_t(data.size()), u8(out), &len) || len != 64)
        return {};
    return out;
}

QByteArray pbkdf2Sha512(const QByteArray &password, const QByteArray &salt, int iterations, int length)
{
    if (iterations <= 0 || iterations > kMaxPbkdf2Iterations || length <= 0 || length > kMaxDerivedBytes)
        return {};
    QByteArray out(length, Qt::Uninitialized);
    if (PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()), u8(salt), int(salt.size()), iterations,
                          sha512Digest(), length, u8(out)) != 1)
        return {};
    return out;
}

QByteArray hkdfSha256(const QByteArray &inputKey, const QByteArray &salt, const QByteArray &info, int length)
{
    if (length <= 0 || length > 255 * 32 || inputKey.isEmpty())
        return {};
    QByteArray out(length, Qt::Uninitialized);
    if (!hkdfInto(inputKey, salt, info, u8(out), size_t(length)))
        return {};
    return out;
}

void wipeSecret(QByteArray &secret)
{
    if (!secret.isEmpty() && secret.isDetached())
        OPENSSL_cleanse(secret.data(), size_t(secret.size()));
    secret.clear();
}

bool constantTimeEqual(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    if (a.isEmpty())
        return true;
    return CRYPTO_memcmp(a.constData(), b.constData(), size_t(a.size())) == 0;
}

// ---------------------------------------------------------------- keys

bool isValidSecretKey(const QByteArray &secret32)
{
    return secret32.size() == 32 && secp256k1_ec_seckey_verify(identityContext(), u8(secret32)) == 1;
}

QByteArray publicKeyFromSecret(const QByteArray &secret32, bool compressed)
{
    if (secret32.size() != 32)
        return {};
    secp256k1_pubkey key;
    if (secp256k1_ec_pubkey_create(identityContext(), &key, u8(secret32)) != 1)
        return {};
    return serialisePublicKey(identityContext(), key, compressed);
}

QByteArray normalisePublicKey(const QByteArray &publicKey, bool compressed)
{
    secp256k1_pubkey key;
    if (!parsePublicKey(identityContext(), publicKey, &key))
        return {};
    return serialisePublicKey(identityContext(), key, compressed);
}

// ---------------------------------------------------------------- ECDSA

QByteArray signMessage(const QByteArray &secret32, const QByteArray &message)
{
    if (secret32.size() != 32)
        return {};
    const QByteArray digest = sha256(message);
    if (digest.size() != 32)
        return {};
    secp256k1_ecdsa_signature sig;
    // RFC 6979 deterministic nonce; libsecp256k1 always produces low-S.
    if (secp256k1_ecdsa_sign(signingContext(), &sig, u8(digest), u8(secret32), nullptr, nullptr) != 1)
        return {};
    QByteArray out(64, Qt::Uninitialized);
    if (secp256k1_ecdsa_signature_serialize_compact(signingContext(), u8(out), &sig) != 1)
        return {};
    return out;
}

bool verifyMessage(const QByteArray &publicKey, const QByteArray &message, const QByteArray &signature64)
{
    if (signature64.size() != 64)
        return false;
    const secp256k1_context *ctx = signingContext();
    secp256k1_pubkey key;
    if (!parsePublicKey(ctx, publicKey, &key))
        return false;
    secp256k1_ecdsa_signature sig;
    if (secp256k1_ecdsa_signature_parse_compact(ctx, &sig, u8(signature64)) != 1)
        return false;
    // A high-S signature is refused outright (normalize returns 1 when it had to change it).
    secp256k1_ecdsa_signature lowS;
    if (secp256k1_ecdsa_signature_normalize(ctx, &lowS, &sig) != 0)
        return false;
    const QByteArray digest = sha256(message);
    if (digest.size() != 32)
        return false;
    return secp256k1_ecdsa_verify(ctx, &sig, u8(digest), &key) == 1;
}

// ---------------------------------------------------------------- sealed box

QString Ecies::seal(const QByteArray &recipientPublicKey, const QByteArray &plaintext, int algorithm,
                   const QByteArray &associatedData)
{
    if (!aeadCipher(algorithm) || plaintext.size() > kMaxBoxTextLength / 2)
        return {};
    const secp256k1_context *ctx = sealingContext();
    secp256k1_pubkey recipient;
    if (!parsePublicKey(ctx, recipientPublicKey, &recipient))
        return {};
    unsigned char recipient33[33];
    size_t recipientLen = sizeof recipient33;
    if (secp256k1_ec_pubkey_serialize(ctx, recipient33, &recipientLen, &recipient, SECP256K1_EC_COMPRESSED) != 1
        || recipientLen != 33)
        return {};

    unsigned char ephemeralSecret[32];
    bool drawn = false;
    for (int attempt = 0; attempt < 8 && !drawn; ++attempt)
        drawn = RAND_bytes(ephemeralSecret, 32) == 1 && secp256k1_ec_seckey_verify(ctx, ephemeralSecret) == 1;
    secp256k1_pubkey ephemeral;
    if (!drawn || secp256k1_ec_pubkey_create(ctx, &ephemeral, ephemeralSecret) != 1) {
        OPENSSL_cleanse(ephemeralSecret, 32);
        return {};
    }

    // The box is written in place: header, then ciphertext and tag.
    QByteArray box(kEciesHeaderSize + plaintext.size() + kTagSize, Qt::Uninitialized);
    unsigned char *header = u8(box);
    header[0] = kEciesVersion;
    header[1] = static_cast<unsigned char>(algorithm);
    unsigned char *ephemeral33 = header + 2;
    unsigned char *nonce = header + 2 + 33;
    size_t ephemeralLen = 33;
    unsigned char shared[32];
    const bool agreed =
        secp256k1_ec_pubkey_serialize(ctx, ephemeral33, &ephemeralLen, &ephemeral, SECP256K1_EC_COMPRESSED) == 1
        && ephemeralLen == 33 && secp256k1_ecdh(ctx, shared, &recipient, ephemeralSecret, ecdhSharedX, nullptr) == 1;
    OPENSSL_cleanse(ephemeralSecret, 32);
    if (!agreed)
        return {};
    unsigned char key[32];
    const bool keyed = eciesKey(shared, ephemeral33, recipient33, key);
    OPENSSL_cleanse(shared, 32);
    const bool sealed = keyed && RAND_bytes(nonce, kNonceSize) == 1
                        && aeadSeal(algorithm, key, nonce, Span(header, kEciesHeaderSize), associatedData,
                                    plaintext, header + kEciesHeaderSize);
    OPENSSL_cleanse(key, 32);
    if (!sealed)
        return {};
    return base64UrlEncode(box);
}

QByteArray Ecies::open(const QString &boxText, const QByteArray &secret32, int algorithm,
                       const QByteArray &associatedData)
{
    if (!aeadCipher(algorithm) || secret32.size() != 32)
        return {};
    const QByteArray box = base64UrlDecode(boxText);
    if (box.size() < kEciesHeaderSize + kTagSize)
        return {};
    // Read in place: header, then ciphertext and tag.
    const unsigned char *header = u8(box);
    if (header[0] != kEciesVersion || header[1] != static_cast<unsigned char>(algorithm))
        return {};
    const unsigned char *ephemeral33 = header + 2;
    const unsigned char *nonce = header + 2 + 33;
    const secp256k1_context *ctx = sealingContext();
    secp256k1_pubkey ephemeral;
    if (!parsePublicKey(ctx, ephemeral33, 33, &ephemeral))
        return {};
    const QByteArray recipient33 = openingPublicKey(ctx, secret32);
    if (recipient33.size() != 33)
        return {};
    unsigned char shared[32];
    if (secp256k1_ecdh(ctx, shared, &ephemeral, u8(secret32), ecdhSharedX, nullptr) != 1)
        return {};
    unsigned char key[32];
    const bool keyed = eciesKey(shared, ephemeral33, u8(recipient33), key);
    OPENSSL_cleanse(shared, 32);
    bool ok = false;
    QByteArray plain;
    if (keyed)
        plain = aeadOpen(algorithm, key, nonce, Span(header, kEciesHeaderSize), associatedData,
                         Span(header + kEciesHeaderSize, box.size() - kEciesHeaderSize), &ok);
    OPENSSL_cleanse(key, 32);
    return ok ? plain : QByteArray();
}

// ---------------------------------------------------------------- group box

QString GroupBox::seal(const QByteArray &groupKey32, const QByteArray &plaintext, const QByteArray &associatedData)
{
    if (groupKey32.size() != 32 || plaintext.size() > kMaxBoxTextLength / 2)
        return {};
    QByteArray box(kGroupBoxHeaderSize + plaintext.size() + kTagSize, Qt::Uninitialized);
    unsigned char *header = u8(box);
    header[0] = kGroupBoxVersion;
    if (RAND_bytes(header + 1, kNonceSize) != 1)
        return {};
    // The associated data: header, label, then the caller's context.
    QByteArray context;
    context.reserve(qsizetype(sizeof kGroupBoxLabel) + associatedData.size());
    context.append(kGroupBoxLabel).append(associatedData);
    if (!aeadSeal(Ecies::ChaCha20Poly1305, u8(groupKey32), header + 1, Span(header, kGroupBoxHeaderSize), context,
                  plaintext, header + kGroupBoxHeaderSize))
        return {};
    return base64UrlEncode(box);
}

QByteArray GroupBox::open(const QString &boxText, const QByteArray &groupKey32, const QByteArray &associatedData)
{
    if (groupKey32.size() != 32)
        return {};
    const QByteArray box = base64UrlDecode(boxText);
    if (box.size() < kGroupBoxHeaderSize + kTagSize || box[0] != kGroupBoxVersion)
        return {};
    const unsigned char *header = u8(box);
    QByteArray context;
    context.reserve(qsizetype(sizeof kGroupBoxLabel) + associatedData.size());
    context.append(kGroupBoxLabel).append(associatedData);
    bool ok = false;
    QByteArray plain = aeadOpen(Ecies::ChaCha20Poly1305, u8(groupKey32), header + 1, Span(header, kGroupBoxHeaderSize),
                                context, Span(header + kGroupBoxHeaderSize, box.size() - kGroupBoxHeaderSize), &ok);
    return ok ? plain : QByteArray();
}

// ---------------------------------------------------------------- Ed25519

Ed25519KeyPair &Ed25519KeyPair::operator=(const Ed25519KeyPair &other)
{
    if (this != &other) {
        wipeSecret(seed);
        seed = other.seed;
        publicKey = other.publicKey;
    }
    return *this;
}

Ed25519KeyPair &Ed25519KeyPair::operator=(Ed25519KeyPair &&other)
{
    if (this != &other) {
        wipeSecret(seed);
        seed = std::move(other.seed);
        publicKey = std::move(other.publicKey);
    }
    return *this;
}

bool isWeakEd25519PublicKey(const QByteArray &publicKey32)
{
    if (publicKey32.size() != 32)
        return true;
    // The y coordinate, little-endian, without the sign bit of x.
    QByteArray y = publicKey32;
    y[31] = char(y[31] & 0x7f);
    const auto bytes = [](const char *hex) { return QByteArray::fromHex(hex); };
    // y >= p = 2^255 - 19 is a non-canonical encoding (of y - p, all of which
    // are below 19 and include the small-order y = 0 and y = 1).
    static const QByteArray prime = bytes("edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f");
    bool atLeastPrime = true;
    for (int i = 31; i >= 0; --i) {
        const quint8 a = quint8(y[i]), b = quint8(prime[i]);
        if (a != b) {
            atLeastPrime = a > b;
            break;
        }
    }
    if (atLeastPrime)
        return true;
    // The y coordinates of the eight points of small order: the identity
    // (y = 1), order 2 (y = -1), order 4 (y = 0) and order 8 (y = ±y8).
    static const QByteArray smallOrder[] = {
        bytes("0100000000000000000000000000000000000000000000000000000000000000"),
        bytes("ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"),
        bytes("0000000000000000000000000000000000000000000000000000000000000000"),
        bytes("26e8958fc2b227b045c3f489f2ef98f0d5dfac05d3c63339b13802886d53fc05"),
        bytes("c7176a703d4dd84fba3c0b760d10670f2a2053fa2c39ccc64ec7fd7792ac037a"),
    };
    for (const QByteArray &weak : smallOrder)
        if (y == weak)
            return true;
    return false;
}

Ed25519KeyPair ed25519FromSeed(const QByteArray &seed32)
{
    if (seed32.size() != 32)
        return {};
    EvpPkey key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, u8(seed32), 32));
    if (!key)
        return {};
    QByteArray pub(32, Qt::Uninitialized);
    size_t len = 32;
    if (EVP_PKEY_get_raw_public_key(key.get(), u8(pub), &len) != 1 || len != 32)
        return {};
    return Ed25519KeyPair{seed32, pub};
}

QByteArray ed25519Sign(const QByteArray &seed32, const QByteArray &message)
{
    if (seed32.size() != 32)
        return {};
    EvpPkey key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, u8(seed32), 32));
    MdCtx ctx(EVP_MD_CTX_new());
    if (!key || !ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return {};
    QByteArray sig(64, Qt::Uninitialized);
    size_t len = 64;
    if (EVP_DigestSign(ctx.get(), u8(sig), &len, u8(message), size_t(message.size())) != 1 || len != 64)
        return {};
    return sig;
}

bool ed25519Verify(const QByteArray &publicKey32, const QByteArray &message, const QByteArray &signature64)
{
    if (publicKey32.size() != 32 || signature64.size() != 64 || isWeakEd25519PublicKey(publicKey32))
        return false;
    EvpPkey key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, u8(publicKey32), 32));
    MdCtx ctx(EVP_MD_CTX_new());
    if (!key || !ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(ctx.get(), u8(signature64), 64, u8(message), size_t(message.size())) == 1;
}

} // namespace velmor::crypto
