// Cryptographic primitives and text forms shared by every subsystem.
// Every function reports failure as an empty result, never by throwing.
#pragma once

#include <QByteArray>
#include <QString>

namespace velmor::crypto {

// base64url without "=" padding. Decoding rejects any character outside the
// URL-safe alphabet (and stray padding) and then yields an empty array.
QString base64UrlEncode(const QByteArray &bytes);
QByteArray base64UrlDecode(const QString &text);

// Loads the algorithms and seeds the random generators that the functions
// below use. Their first use costs a few milliseconds (the library reads its
// configuration and sets up its providers): a thread started early pays it
// instead of the first caller. Safe from any thread, any number of times.
void prepare();

QByteArray randomBytes(int count);                 // OpenSSL RAND_bytes; empty on failure
QByteArray sha256(const QByteArray &data);
QString sha256Hex(const QByteArray &data);         // lower-case hex
QByteArray keccak256(const QByteArray &data);      // Ethereum's Keccak-256, not SHA3-256
QByteArray hmacSha256(const QByteArray &key, const QByteArray &data);
QByteArray hmacSha512(const QByteArray &key, const QByteArray &data);
QByteArray pbkdf2Sha512(const QByteArray &password, const QByteArray &salt, int iterations, int length);
QByteArray hkdfSha256(const QByteArray &inputKey, const QByteArray &salt, const QByteArray &info, int length);
bool constantTimeEqual(const QByteArray &a, const QByteArray &b);
// Overwrites a secret before its buffer is let go. A buffer that other
// QByteArrays still share is only released (wiping it would zero their copy).
void wipeSecret(QByteArray &secret);

// secp256k1 keys. Public keys are accepted as 33-byte compressed or 65-byte
// uncompressed points.
bool isValidSecretKey(const QByteArray &secret32);
QByteArray publicKeyFromSecret(const QByteArray &secret32, bool compressed = false);
QByteArray normalisePublicKey(const QByteArray &publicKey, bool compressed = false); // empty when not a point

// ECDSA over SHA-256 of the message: 64-byte compact signature, low-S.
QByteArray signMessage(const QByteArray &secret32, const QByteArray &message);
bool verifyMessage(const QByteArray &publicKey, const QByteArray &message, const QByteArray &signature64);

// Sealed box to a secp256k1 public key, labelled "velmor.e2e.secp256k1.v1".
// Layout and test vector: docs/protocol.md. The associated data (authenticated,
// not sent) binds a box to its context, for example its sender and recipient:
// a box opens only with the same associated data it was sealed with.
class Ecies
{
public:
    enum Algorithm { ChaCha20Poly1305 = 0, Aes256Gcm = 1 };
    static QString seal(const QByteArray &recipientPublicKey, const QByteArray &plaintext,
                        int algorithm = ChaCha20Poly1305, const QByteArray &associatedData = QByteArray());
    // Empty on any failure: bad text, wrong key, algorithm mismatch, tampering,
    // truncation, other associated data.
    static QByteArray open(const QString &boxText, const QByteArray &secret32,
                           int algorithm = ChaCha20Poly1305, const QByteArray &associatedData = QByteArray());
};

// Symmetric box under a 32-byte group key (ChaCha20-Poly1305, random nonce).
// The associated data binds a box to its context (for example the group id).
class GroupBox
{
public:
    static QString seal(const QByteArray &groupKey32, const QByteArray &plaintext,
                        const QByteArray &associatedData = QByteArray());
    static QByteArray open(const QString &boxText, const QByteArray &groupKey32,
                           const QByteArray &associatedData = QByteArray());
};

// Ed25519 (OpenSSL): 32-byte seed, 32-byte public key, 64-byte signature.
struct Ed25519KeyPair
{
    QByteArray seed;
    QByteArray publicKey;
    bool isValid() const { return seed.size() == 32 && publicKey.size() == 32; }

    Ed25519KeyPair() = default;
    Ed25519KeyPair(const QByteArray &seed32, const QByteArray &publicKey32) : seed(seed32), publicKey(publicKey32) {}
    Ed25519KeyPair(const Ed25519KeyPair &) = default;
    Ed25519KeyPair(Ed25519KeyPair &&) = default;
    Ed25519KeyPair &operator=(const Ed25519KeyPair &other);
    Ed25519KeyPair &operator=(Ed25519KeyPair &&other);
    ~Ed25519KeyPair() { wipeSecret(seed); } // the seed is the group's admin key
};
Ed25519KeyPair ed25519FromSeed(const QByteArray &seed32);
QByteArray ed25519Sign(const QByteArray &seed32, const QByteArray &message);
// Refuses public keys of small order (and non-canonical encodings): with
// such a key one crafted signature would verify for any message.
bool ed25519Verify(const QByteArray &publicKey32, const QByteArray &message, const QByteArray &signature64);
bool isWeakEd25519PublicKey(const QByteArray &publicKey32);

} // namespace velmor::crypto

// The sealed box is used under its bare name across the code base.
using velmor::crypto::Ecies;
