// The user's identity: a secp256k1 key pair, its text forms, the recovery
// phrase (BIP39) and key derivation (BIP32), and wallet addresses.
#pragma once

#include "identity/crypto.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace velmor::identity {

struct Identity
{
    QByteArray privateKey; // 32 bytes when valid
    QByteArray publicKey;  // 65-byte uncompressed point

    Identity() = default;
    // The identity of a secret key; empty when it is not a valid secp256k1 secret.
    explicit Identity(const QByteArray &secret32);
    // Copies share the secret's buffer; the last one let go overwrites it.
    Identity(const Identity &) = default;
    Identity(Identity &&) = default;
    Identity &operator=(const Identity &other);
    Identity &operator=(Identity &&other);
    ~Identity() { velmor::crypto::wipeSecret(privateKey); }

    bool isValid() const { return privateKey.size() == 32; }

    static Identity generate();
    // "velmor_wallet_sk_…" text, or 64 hex digits with an optional 0x/0X.
    static Identity fromPrivateKeyText(const QString &text);

    QString privateKeyText() const; // "velmor_wallet_sk_" + base64url(key) + "_" + 6-char checksum
    QString publicKeyText() const;  // base64url of the 65-byte key (87 characters)
    QString erc20Address() const;   // "0x" + 40 lower-case hex digits
    QString tronAddress() const;    // Base58Check with the 0x41 prefix
};

// 64-byte X||Y of a 65-byte (0x04…) or 33-byte compressed key; empty otherwise.
QByteArray publicKeyXY(const QByteArray &publicKey);
QString ethereumAddress(const QByteArray &publicKey);
QString tronAddress(const QByteArray &publicKey);

// BIP39 (English list shipped as a resource).
const QStringList &englishWordList();
QString generateMnemonic();                                // 12 words
QString mnemonicFromEntropy(const QByteArray &entropy);    // 16..32 bytes, multiple of 4
bool isValidMnemonic(const QString &phrase);               // 12/15/18/21/24 words + checksum
QByteArray mnemonicToSeed(const QString &phrase, const QString &passphrase = QString());

// BIP32.
struct ExtendedKey
{
    QByteArray key;       // 32-byte secret
    QByteArray chainCode; // 32 bytes
    bool isValid() const { return key.size() == 32 && chainCode.size() == 32; }
};
ExtendedKey bip32MasterKey(const QByteArray &seed);
ExtendedKey bip32DeriveChild(const ExtendedKey &parent, quint32 index); // index >= 0x80000000: hardened
ExtendedKey bip32DerivePath(const QByteArray &seed, const QString &path); // e.g. "m/44'/60'/0'/0/0"

// Validates the phrase and derives m/44'/60'/0'/0/0; empty on failure.
QByteArray privateKeyFromMnemonic(const QString &phrase);

} // namespace velmor::identity
