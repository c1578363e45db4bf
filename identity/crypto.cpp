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

// -1 for a character outside the URL-safe alphabet.
int b64UrlValue(char16_t c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '-') return 62;
    if (c == '_') return 63;
    return -1;
}

struct CipherCtxDeleter { void operator()(EVP_CIPHER_CTX *c) const { EVP_CIPHER_CTX_free(c); } };
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDeleter>;

const EVP_CIPHER *aeadCipher(int algorithm)
{
    switch (algorithm) {
    case Ecies::ChaCha20Poly1305: return EVP_chacha20_poly1305();
    case Ecies::Aes256Gcm: return EVP_aes_256_gcm();
    default: return nullptr;
    }
}

constexpr int kNonceSize = 12;
constexpr int kTagSize = 16;

// AEAD encryption: ciphertext || 16-byte tag; empty on failure.
QByteArray aeadSeal(int algorithm, const QByteArray &key32, const QByteArray &nonce12,
                    const QByteArray &aad, const QByteArray &plaintext)
{
    const EVP_CIPHER *cipher = aeadCipher(algorithm);
    if (!cipher || key32.size() != 32 || nonce12.size() != kNonceSize)
        return {};
    if (plaintext.size() > std::numeric_limits<int>::max() - kTagSize - 64)
        return {};
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx)
        return {};
    int len = 0;
    if (EVP_EncryptInit_ex(ctx.get(), cipher, nullptr, nullptr, nullptr) != 1
        || EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_IVLEN, kNonceSize, nullptr) != 1
        || EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, u8(key32), u8(nonce12)) != 1)
        return {};
    if (!aad.isEmpty() && EVP_EncryptUpdate(ctx.get(), nullptr, &len, u8(aad), int(aad.size())) != 1)
        return {};
    QByteArray out(plaintext.size() + kTagSize, Qt::Uninitialized);
    int total = 0;
    if (!plaintext.isEmpty()) {
        if (EVP_EncryptUpdate(ctx.get(), u8(out), &len, u8(plaintext), int(plaintext.size())) != 1)
            return {};
        total = len;
    }
    if (EVP_EncryptFinal_ex(ctx.get(), u8(out) + total, &len) != 1)
        return {};
    total += len;
    if (total != plaintext.size())
        return {};
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_GET_TAG, kTagSize, u8(out) + total) != 1)
        return {};
    return out;
}

// AEAD decryption of ciphertext || tag. ok false on any failure.
QByteArray aeadOpen(int algorithm, const QByteArray &key32, const QByteArray &nonce12,
                    const QByteArray &aad, const char *data, qsizetype size, bool *ok)
{
    *ok = false;
    const EVP_CIPHER *cipher = aeadCipher(algorithm);
    if (!cipher || key32.size() != 32 || nonce12.size() != kNonceSize || size < kTagSize)
        return {};
    if (size > std::numeric_limits<int>::max())
        return {};
    const int ctLen = int(size - kTagSize);
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx)
        return {};
    int len = 0;
    if (EVP_DecryptInit_ex(ctx.get(), cipher, nullptr, nullptr, nullptr) != 1
        || EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_IVLEN, kNonceSize, nullptr) != 1
        || EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, u8(key32), u8(nonce12)) != 1)
        return {};
    if (!aad.isEmpty() && EVP_DecryptUpdate(ctx.get(), nullptr, &len, u8(aad), int(aad.size())) != 1)
        return {};
    QByteArray out(ctLen, Qt::Uninitialized);
    int total = 0;
    if (ctLen > 0) {
        if (EVP_DecryptUpdate(ctx.get(), u8(out), &len, reinterpret_cast<const unsigned char *>(data), ctLen) != 1)
            return {};
        total = len;
    }
    QByteArray tag(data + ctLen, kTagSize);
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_TAG, kTagSize, u8(tag)) != 1)
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

bool parsePublicKey(const secp256k1_context *ctx, const QByteArray &bytes, secp256k1_pubkey *out)
{
    if (bytes.size() == 33) {
        if (bytes[0] != 0x02 && bytes[0] != 0x03)
            return false;
    } else if (bytes.size() == 65) {
        if (bytes[0] != 0x04) // hybrid encodings (0x06/0x07) are refused
            return false;
    } else {
        return false;
    }
    return secp256k1_ec_pubkey_parse(ctx, out, u8(bytes), size_t(bytes.size())) == 1;
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

constexpr char kEciesLabel[] = "velmor.e2e.secp256k1.v1";
constexpr char kEciesVersion = 0x01;
constexpr int kEciesHeaderSize = 1 + 1 + 33 + kNonceSize; // version, algorithm, ephemeral key, nonce
constexpr char kGroupBoxVersion = 0x02;
constexpr char kGroupBoxLabel[] = "velmor.groupbox.v1";
constexpr int kGroupBoxHeaderSize = 1 + kNonceSize;

// The box key: HKDF-SHA-256(ikm = shared x, salt = ephemeral33 || recipient33, info = label).
QByteArray eciesKey(const QByteArray &sharedX, const QByteArray &ephemeral33, const QByteArray &recipient33)
{
    return hkdfSha256(sharedX, ephemeral33 + recipient33, QByteArray(kEciesLabel), 32);
}

// The compressed public key of an opening key. Deriving it costs more than a
// third of opening a box, and a user opens every box with the same key, so
// each thread remembers the last one, keyed by a digest of the secret (the
// secret itself is not kept).
QByteArray openingPublicKey(const secp256k1_context *ctx, const QByteArray &secret32)
{
    thread_local QByteArray cachedTag;
    thread_local QByteArray cachedKey;
    // HMAC keyed with a fixed label: no concatenated copy of the secret is made.
    const QByteArray tag = hmacSha256(QByteArrayLiteral("velmor.open-key-cache"), secret32);
    if (!cachedKey.isEmpty() && constantTimeEqual(tag, cachedTag))
        return cachedKey;
    secp256k1_pubkey self;
    if (secp256k1_ec_pubkey_create(ctx, &self, u8(secret32)) != 1)
        return {};
    const QByteArray key = serialisePublicKey(ctx, self, true);
    if (key.size() == 33) {
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
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QByteArray base64UrlDecode(const QString &text)
{
    const qsizetype n = text.size();
    if (n == 0 || n % 4 == 1 || n > kMaxBoxTextLength)
        return {};
    QByteArray out;
    out.reserve(n / 4 * 3 + 2);
    const char16_t *p = reinterpret_cast<const char16_t *>(text.constData());
    quint32 acc = 0;
    int bits = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const int v = b64UrlValue(p[i]);
        if (v < 0)
            return {};
        acc = (acc << 6) | quint32(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.append(char((acc >> bits) & 0xff));
        }
    }
    // Canonical form only: the unused low bits of the last character are zero.
    if (bits > 0 && (acc & ((1u << bits) - 1)) != 0)
        return {};
    return out;
}

// ---------------------------------------------------------------- hashes

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
    if (EVP_Digest(data.constData(), size_t(data.size()), u8(out), &len, EVP_sha256(), nullptr) != 1 || len != 32)
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
    if (!HMAC(EVP_sha256(), key.constData(), int(key.size()), u8(data), size_t(data.size()), u8(out), &len) || len != 32)
        return {};
    return out;
}

QByteArray hmacSha512(const QByteArray &key, const QByteArray &data)
{
    QByteArray out(64, Qt::Uninitialized);
    unsigned int len = 0;
    if (!HMAC(EVP_sha512(), key.constData(), int(key.size()), u8(data), size_t(data.size()), u8(out), &len) || len != 64)
        return {};
    return out;
}

QByteArray pbkdf2Sha512(const QByteArray &password, const QByteArray &salt, int iterations, int length)
{
    if (iterations <= 0 || iterations > kMaxPbkdf2Iterations || length <= 0 || length > kMaxDerivedBytes)
        return {};
    QByteArray out(length, Qt::Uninitialized);
    if (PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()), u8(salt), int(salt.size()), iterations,
                          EVP_sha512(), length, u8(out)) != 1)
        return {};
    return out;
}

QByteArray hkdfSha256(const QByteArray &inputKey, const QByteArray &salt, const QByteArray &info, int length)
{
    if (length <= 0 || length > 255 * 32 || inputKey.isEmpty())
        return {};
    const EVP_KDF *kdf = hkdfAlgorithm();
    if (!kdf)
        return {};
    EVP_KDF_CTX *ctx = EVP_KDF_CTX_new(const_cast<EVP_KDF *>(kdf));
    if (!ctx)
        return {};
    char digest[] = "SHA256";
    OSSL_PARAM params[5];
    int i = 0;
    params[i++] = OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0);
    params[i++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<char *>(inputKey.constData()),
                                                    size_t(inputKey.size()));
    if (!salt.isEmpty())
        params[i++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<char *>(salt.constData()),
                                                        size_t(salt.size()));
    if (!info.isEmpty())
        params[i++] = OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, const_cast<char *>(info.constData()),
                                                        size_t(info.size()));
    params[i] = OSSL_PARAM_construct_end();
    QByteArray out(length, Qt::Uninitialized);
    const int rc = EVP_KDF_derive(ctx, u8(out), size_t(length), params);
    EVP_KDF_CTX_free(ctx);
    if (rc != 1)
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
    if (!aeadCipher(algorithm))
        return {};
    const secp256k1_context *ctx = sealingContext();
    secp256k1_pubkey recipient;
    if (!parsePublicKey(ctx, recipientPublicKey, &recipient))
        return {};
    const QByteArray recipient33 = serialisePublicKey(ctx, recipient, true);

    QByteArray ephemeralSecret;
    for (int attempt = 0; attempt < 8 && ephemeralSecret.isEmpty(); ++attempt) {
        QByteArray candidate = randomBytes(32);
        if (candidate.size() == 32 && secp256k1_ec_seckey_verify(ctx, u8(candidate)) == 1)
            ephemeralSecret = candidate;
    }
    if (ephemeralSecret.isEmpty())
        return {};
    secp256k1_pubkey ephemeral;
    if (secp256k1_ec_pubkey_create(ctx, &ephemeral, u8(ephemeralSecret)) != 1)
        return {};
    const QByteArray ephemeral33 = serialisePublicKey(ctx, ephemeral, true);
    QByteArray shared(32, Qt::Uninitialized);
    const int ecdhOk = secp256k1_ecdh(ctx, u8(shared), &recipient, u8(ephemeralSecret), ecdhSharedX, nullptr);
    OPENSSL_cleanse(ephemeralSecret.data(), 32);
    if (ecdhOk != 1 || ephemeral33.size() != 33 || recipient33.size() != 33)
        return {};
    QByteArray key = eciesKey(shared, ephemeral33, recipient33);
    OPENSSL_cleanse(shared.data(), 32);
    const QByteArray nonce = randomBytes(kNonceSize);
    if (key.size() != 32 || nonce.size() != kNonceSize)
        return {};

    QByteArray header;
    header.reserve(kEciesHeaderSize);
    header.append(kEciesVersion);
    header.append(char(algorithm));
    header.append(ephemeral33);
    header.append(nonce);
    const QByteArray body = aeadSeal(algorithm, key, nonce, header + associatedData, plaintext);
    OPENSSL_cleanse(key.data(), 32);
    if (body.isEmpty())
        return {};
    return base64UrlEncode(header + body);
}

QByteArray Ecies::open(const QString &boxText, const QByteArray &secret32, int algorithm,
                       const QByteArray &associatedData)
{
    if (!aeadCipher(algorithm) || secret32.size() != 32)
        return {};
    const QByteArray box = base64UrlDecode(boxText);
    if (box.size() < kEciesHeaderSize + kTagSize)
        return {};
    if (box[0] != kEciesVersion || box[1] != char(algorithm))
        return {};
    const secp256k1_context *ctx = sealingContext();
    const QByteArray ephemeral33 = box.mid(2, 33);
    secp256k1_pubkey ephemeral;
    if (!parsePublicKey(ctx, ephemeral33, &ephemeral))
        return {};
    const QByteArray recipient33 = openingPublicKey(ctx, secret32);
    if (recipient33.size() != 33)
        return {};
    QByteArray shared(32, Qt::Uninitialized);
    if (secp256k1_ecdh(ctx, u8(shared), &ephemeral, u8(secret32), ecdhSharedX, nullptr) != 1)
        return {};
    QByteArray key = eciesKey(shared, ephemeral33, recipient33);
    OPENSSL_cleanse(shared.data(), 32);
    if (key.size() != 32)
        return {};
    const QByteArray header = box.left(kEciesHeaderSize);
    const QByteArray nonce = box.mid(2 + 33, kNonceSize);
    bool ok = false;
    QByteArray plain = aeadOpen(algorithm, key, nonce, header + associatedData, box.constData() + kEciesHeaderSize,
                                box.size() - kEciesHeaderSize, &ok);
    OPENSSL_cleanse(key.data(), 32);
    return ok ? plain : QByteArray();
}

// ---------------------------------------------------------------- group box

QString GroupBox::seal(const QByteArray &groupKey32, const QByteArray &plaintext, const QByteArray &associatedData)
{
    if (groupKey32.size() != 32)
        return {};
    const QByteArray nonce = randomBytes(kNonceSize);
    if (nonce.size() != kNonceSize)
        return {};
    QByteArray header;
    header.append(kGroupBoxVersion);
    header.append(nonce);
    const QByteArray aad = header + QByteArray(kGroupBoxLabel) + associatedData;
    const QByteArray body = aeadSeal(Ecies::ChaCha20Poly1305, groupKey32, nonce, aad, plaintext);
    if (body.isEmpty())
        return {};
    return base64UrlEncode(header + body);
}

QByteArray GroupBox::open(const QString &boxText, const QByteArray &groupKey32, const QByteArray &associatedData)
{
    if (groupKey32.size() != 32)
        return {};
    const QByteArray box = base64UrlDecode(boxText);
    if (box.size() < kGroupBoxHeaderSize + kTagSize || box[0] != kGroupBoxVersion)
        return {};
    const QByteArray header = box.left(kGroupBoxHeaderSize);
    const QByteArray aad = header + QByteArray(kGroupBoxLabel) + associatedData;
    bool ok = false;
    QByteArray plain = aeadOpen(Ecies::ChaCha20Poly1305, groupKey32, box.mid(1, kNonceSize), aad,
                                box.constData() + kGroupBoxHeaderSize, box.size() - kGroupBoxHeaderSize, &ok);
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
