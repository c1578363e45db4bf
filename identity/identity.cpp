#include "identity/identity.h"
#include "identity/crypto.h"
#include "identity/secp.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>

#include <openssl/crypto.h>

// Q_INIT_RESOURCE must be used outside any namespace.
static void velmorInitBip39Resource()
{
    Q_INIT_RESOURCE(bip39);
}

namespace velmor::identity {

using namespace velmor::crypto;

namespace {

constexpr char kPrivateKeyPrefix[] = "velmor_wallet_sk_";
constexpr int kChecksumLength = 6;
constexpr quint32 kHardened = 0x80000000u;

const unsigned char *u8(const QByteArray &b) { return reinterpret_cast<const unsigned char *>(b.constData()); }
unsigned char *u8(QByteArray &b) { return reinterpret_cast<unsigned char *>(b.data()); }

// Overwrites secret bytes before the buffer is released. Only for buffers
// that this file owns alone: on a shared buffer data() would detach and
// wipe a fresh copy instead.
void wipe(QByteArray &b)
{
    if (!b.isEmpty())
        OPENSSL_cleanse(b.data(), size_t(b.size()));
    b.clear();
}

// 6 lower-case hex digits: the first 3 bytes of SHA-256 over the text that
// precedes the checksum ("velmor_wallet_sk_" + base64url(key)).
QString privateKeyChecksum(const QString &body)
{
    QByteArray latin = body.toLatin1(); // holds the key's text: wiped below
    const QByteArray digest = sha256(latin);
    OPENSSL_cleanse(latin.data(), size_t(latin.size()));
    return QString::fromLatin1(digest.left(kChecksumLength / 2).toHex());
}

bool isHexText(const QString &s)
{
    for (QChar c : s) {
        const char16_t u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F')))
            return false;
    }
    return true;
}

const char kBase58Alphabet[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";

QString base58Encode(const QByteArray &bytes)
{
    int zeros = 0;
    while (zeros < bytes.size() && bytes[zeros] == 0)
        ++zeros;
    // Big-number conversion base 256 -> base 58 (small inputs only).
    QByteArray digits((bytes.size() - zeros) * 138 / 100 + 1, 0);
    int length = 0;
    for (int i = zeros; i < bytes.size(); ++i) {
        int carry = quint8(bytes[i]);
        int j = 0;
        for (int k = digits.size() - 1; (carry != 0 || j < length) && k >= 0; --k, ++j) {
            carry += 256 * quint8(digits[k]);
            digits[k] = char(carry % 58);
            carry /= 58;
        }
        length = j;
    }
    int start = digits.size() - length;
    while (start < digits.size() && digits[start] == 0)
        ++start;
    QString out(zeros, QLatin1Char('1'));
    for (int i = start; i < digits.size(); ++i)
        out.append(QLatin1Char(kBase58Alphabet[quint8(digits[i])]));
    return out;
}

QByteArray ser32(quint32 v)
{
    QByteArray out(4, Qt::Uninitialized);
    out[0] = char(v >> 24);
    out[1] = char(v >> 16);
    out[2] = char(v >> 8);
    out[3] = char(v);
    return out;
}

// Words of a phrase: trimmed, split on any white space (NFKD first, as BIP39 asks).
QStringList phraseWords(const QString &phrase)
{
    return phrase.normalized(QString::NormalizationForm_KD)
        .split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

const QHash<QString, int> &wordIndex()
{
    static const QHash<QString, int> index = [] {
        QHash<QString, int> h;
        const QStringList &words = englishWordList();
        for (int i = 0; i < words.size(); ++i)
            h.insert(words[i], i);
        return h;
    }();
    return index;
}

// Entropy of a valid English phrase (checksum checked); empty otherwise.
QByteArray mnemonicEntropy(const QStringList &words)
{
    const int n = int(words.size());
    if (n < 12 || n > 24 || n % 3 != 0)
        return {};
    const QHash<QString, int> &index = wordIndex();
    if (index.size() != 2048)
        return {};
    const int totalBits = n * 11;
    const int checksumBits = totalBits / 33;
    const int entropyBits = totalBits - checksumBits;
    QByteArray bits(totalBits, 0);
    for (int w = 0; w < n; ++w) {
        const auto it = index.constFind(words[w].toLower());
        if (it == index.constEnd()) {
            wipe(bits);
            return {};
        }
        for (int b = 0; b < 11; ++b)
            bits[w * 11 + b] = char((it.value() >> (10 - b)) & 1);
    }
    QByteArray entropy(entropyBits / 8, 0);
    for (int i = 0; i < entropyBits; ++i)
        if (bits[i])
            entropy[i / 8] = char(quint8(entropy[i / 8]) | (0x80 >> (i % 8)));
    QByteArray hash = sha256(entropy);
    bool checksumOk = hash.size() == 32;
    for (int i = 0; checksumOk && i < checksumBits; ++i) {
        const int expected = (quint8(hash[i / 8]) >> (7 - i % 8)) & 1;
        if (bits[entropyBits + i] != expected)
            checksumOk = false;
    }
    wipe(bits);
    wipe(hash);
    if (!checksumOk)
        wipe(entropy);
    return entropy;
}

} // namespace

// ---------------------------------------------------------------- Identity

Identity &Identity::operator=(const Identity &other)
{
    if (this != &other) {
        velmor::crypto::wipeSecret(privateKey);
        privateKey = other.privateKey;
        publicKey = other.publicKey;
    }
    return *this;
}

Identity &Identity::operator=(Identity &&other)
{
    if (this != &other) {
        velmor::crypto::wipeSecret(privateKey);
        privateKey = std::move(other.privateKey);
        publicKey = std::move(other.publicKey);
    }
    return *this;
}

Identity::Identity(const QByteArray &secret32)
{
    if (!isValidSecretKey(secret32))
        return;
    const QByteArray pub = publicKeyFromSecret(secret32, false);
    if (pub.size() != 65)
        return;
    privateKey = secret32;
    publicKey = pub;
}

Identity Identity::generate()
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QByteArray secret = randomBytes(32);
        if (secret.size() != 32)
            continue;
        Identity id(secret);
        if (id.isValid())
            return id;
    }
    return {};
}

Identity Identity::fromPrivateKeyText(const QString &text)
{
    const QString t = text.trimmed();
    if (t.startsWith(QLatin1String(kPrivateKeyPrefix))) {
        const QString rest = t.mid(int(qstrlen(kPrivateKeyPrefix)));
        // 43 base64url characters, "_", 6 checksum characters.
        if (rest.size() != 43 + 1 + kChecksumLength || rest[43] != QLatin1Char('_'))
            return {};
        const QString body = t.left(t.size() - 1 - kChecksumLength);
        const QString checksum = rest.right(kChecksumLength);
        if (!isHexText(checksum)
            || !constantTimeEqual(checksum.toLower().toLatin1(), privateKeyChecksum(body).toLatin1()))
            return {};
        const QByteArray key = base64UrlDecode(rest.left(43));
        if (key.size() != 32)
            return {};
        return Identity(key);
    }
    QString hex = t;
    if (hex.startsWith(QLatin1String("0x")) || hex.startsWith(QLatin1String("0X")))
        hex = hex.mid(2);
    if (hex.size() != 64 || !isHexText(hex))
        return {};
    QByteArray latin = hex.toLatin1();
    QByteArray key = QByteArray::fromHex(latin);
    wipe(latin);
    return Identity(key);
}

QString Identity::privateKeyText() const
{
    if (privateKey.size() != 32)
        return {};
    const QString body = QLatin1String(kPrivateKeyPrefix) + base64UrlEncode(privateKey);
    return body + QLatin1Char('_') + privateKeyChecksum(body);
}

QString Identity::publicKeyText() const
{
    if (privateKey.size() != 32 || publicKey.size() != 65)
        return {};
    return base64UrlEncode(publicKey);
}

QString Identity::erc20Address() const
{
    if (privateKey.size() != 32)
        return {};
    return ethereumAddress(publicKey);
}

QString Identity::tronAddress() const
{
    if (privateKey.size() != 32)
        return {};
    return identity::tronAddress(publicKey);
}

// ---------------------------------------------------------------- addresses

QByteArray publicKeyXY(const QByteArray &publicKey)
{
    if (publicKey.size() != 65 && publicKey.size() != 33)
        return {};
    const QByteArray full = normalisePublicKey(publicKey, false);
    if (full.size() != 65)
        return {};
    return full.mid(1);
}

QString ethereumAddress(const QByteArray &publicKey)
{
    const QByteArray xy = publicKeyXY(publicKey);
    if (xy.size() != 64)
        return {};
    return QStringLiteral("0x") + QString::fromLatin1(keccak256(xy).right(20).toHex());
}

QString tronAddress(const QByteArray &publicKey)
{
    const QByteArray xy = publicKeyXY(publicKey);
    if (xy.size() != 64)
        return {};
    QByteArray payload;
    payload.append(char(0x41));
    payload.append(keccak256(xy).right(20));
    const QByteArray check = sha256(sha256(payload)).left(4);
    return base58Encode(payload + check);
}

// ---------------------------------------------------------------- BIP39

const QStringList &englishWordList()
{
    static const QStringList words = [] {
        velmorInitBip39Resource();
        QFile file(QStringLiteral(":/velmor/identity/bip39-english.txt"));
        QStringList list;
        if (!file.open(QIODevice::ReadOnly))
            return list;
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (const QByteArray &line : lines) {
            const QByteArray w = line.trimmed();
            if (!w.isEmpty())
                list.append(QString::fromLatin1(w));
        }
        if (list.size() != 2048)
            list.clear();
        return list;
    }();
    return words;
}

QString mnemonicFromEntropy(const QByteArray &entropy)
{
    const int n = int(entropy.size());
    if (n < 16 || n > 32 || n % 4 != 0)
        return {};
    const QStringList &words = englishWordList();
    if (words.size() != 2048)
        return {};
    const int entropyBits = n * 8;
    const int checksumBits = entropyBits / 32;
    QByteArray hash = sha256(entropy);
    if (hash.size() != 32)
        return {};
    auto bitAt = [&](int i) -> int {
        if (i < entropyBits)
            return (quint8(entropy[i / 8]) >> (7 - i % 8)) & 1;
        const int j = i - entropyBits;
        return (quint8(hash[j / 8]) >> (7 - j % 8)) & 1;
    };
    QStringList out;
    const int wordCount = (entropyBits + checksumBits) / 11;
    for (int w = 0; w < wordCount; ++w) {
        int idx = 0;
        for (int b = 0; b < 11; ++b)
            idx = (idx << 1) | bitAt(w * 11 + b);
        out.append(words[idx]);
    }
    wipe(hash);
    return out.join(QLatin1Char(' '));
}

QString generateMnemonic()
{
    QByteArray entropy = randomBytes(16);
    if (entropy.size() != 16)
        return {};
    const QString phrase = mnemonicFromEntropy(entropy);
    OPENSSL_cleanse(entropy.data(), size_t(entropy.size()));
    return phrase;
}

bool isValidMnemonic(const QString &phrase)
{
    if (phrase.size() > 4096)
        return false;
    QByteArray entropy = mnemonicEntropy(phraseWords(phrase));
    const bool valid = !entropy.isEmpty();
    wipe(entropy);
    return valid;
}

QByteArray mnemonicToSeed(const QString &phrase, const QString &passphrase)
{
    if (phrase.size() > 4096 || passphrase.size() > 4096)
        return {};
    const QString normalised = phraseWords(phrase).join(QLatin1Char(' '));
    if (normalised.isEmpty())
        return {};
    QByteArray salt = (QStringLiteral("mnemonic") + passphrase).normalized(QString::NormalizationForm_KD).toUtf8();
    QByteArray password = normalised.toUtf8();
    const QByteArray seed = pbkdf2Sha512(password, salt, 2048, 64);
    wipe(password);
    wipe(salt);
    return seed;
}

// ---------------------------------------------------------------- BIP32

ExtendedKey bip32MasterKey(const QByteArray &seed)
{
    if (seed.size() < 16 || seed.size() > 64)
        return {};
    QByteArray i = hmacSha512(QByteArrayLiteral("Bitcoin seed"), seed);
    if (i.size() != 64)
        return {};
    ExtendedKey master{i.left(32), i.mid(32)};
    wipe(i);
    if (!isValidSecretKey(master.key)) {
        wipe(master.key);
        wipe(master.chainCode);
        return {};
    }
    return master;
}

ExtendedKey bip32DeriveChild(const ExtendedKey &parent, quint32 index)
{
    if (!parent.isValid() || !isValidSecretKey(parent.key))
        return {};
    QByteArray data;
    if (index & kHardened) {
        data.append(char(0));
        data.append(parent.key);
    } else {
        const QByteArray pub = publicKeyFromSecret(parent.key, true);
        if (pub.size() != 33)
            return {};
        data.append(pub);
    }
    data.append(ser32(index));
    QByteArray i = hmacSha512(parent.chainCode, data);
    wipe(data);
    if (i.size() != 64)
        return {};
    // A copy of its own (not shared with the parent), tweaked in place.
    QByteArray child(parent.key.constData(), parent.key.size());
    // Fails when IL >= n or the sum is zero: such an index is invalid (BIP32).
    if (secp256k1_ec_seckey_tweak_add(crypto::detail::identityContext(), u8(child), u8(i)) != 1) {
        wipe(child);
        wipe(i);
        return {};
    }
    ExtendedKey out{child, i.mid(32)};
    wipe(i);
    return out;
}

ExtendedKey bip32DerivePath(const QByteArray &seed, const QString &path)
{
    const QStringList parts = path.trimmed().split(QLatin1Char('/'));
    if (parts.isEmpty() || parts[0] != QLatin1String("m") || parts.size() > 256)
        return {};
    ExtendedKey key = bip32MasterKey(seed);
    for (int p = 1; p < parts.size() && key.isValid(); ++p) {
        QString part = parts[p];
        quint32 hardened = 0;
        if (part.endsWith(QLatin1Char('\'')) || part.endsWith(QLatin1Char('h')) || part.endsWith(QLatin1Char('H'))) {
            hardened = kHardened;
            part.chop(1);
        }
        if (part.isEmpty() || part.size() > 10)
            return {};
        for (QChar c : part)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return {};
        bool ok = false;
        const qulonglong v = part.toULongLong(&ok);
        if (!ok || v >= kHardened)
            return {};
        ExtendedKey child = bip32DeriveChild(key, quint32(v) | hardened);
        // The intermediate key is no longer needed.
        wipe(key.key);
        wipe(key.chainCode);
        key = child;
    }
    return key.isValid() ? key : ExtendedKey{};
}

QByteArray privateKeyFromMnemonic(const QString &phrase)
{
    if (phrase.size() > 4096)
        return {};
    const QStringList words = phraseWords(phrase);
    QByteArray entropy = mnemonicEntropy(words);
    if (entropy.isEmpty())
        return {};
    wipe(entropy);
    QStringList lower;
    for (const QString &w : words)
        lower.append(w.toLower());
    QByteArray seed = mnemonicToSeed(lower.join(QLatin1Char(' ')));
    ExtendedKey key = bip32DerivePath(seed, QStringLiteral("m/44'/60'/0'/0/0"));
    wipe(seed);
    if (!key.isValid())
        return {};
    wipe(key.chainCode);
    return key.key;
}

} // namespace velmor::identity
