#include "identity/envelope.h"
#include "identity/crypto.h"
#include "identity/service_login.h"

#include <limits>

namespace velmor::identity {

using namespace velmor::crypto;

namespace {

constexpr int kMaxMessageIdLength = 256;

// Fields after the first start on a new line.
void appendField(QByteArray &out, const QByteArray &value)
{
    if (!out.endsWith('\n'))
        out.append('\n');
    out.append(QByteArray::number(value.size()));
    out.append(':');
    out.append(value);
}

// The key as its 33-byte compressed point, empty when the text is no key.
QByteArray compressedKeyOf(const QString &text)
{
    const QByteArray raw = base64UrlDecode(text);
    if (raw.size() != 33 && raw.size() != 65)
        return {};
    return normalisePublicKey(raw, true);
}

EnvelopeVerdict reject(const char *reason)
{
    return EnvelopeVerdict{false, QString::fromLatin1(reason)};
}

} // namespace

QByteArray envelopeSigningBytes(const Envelope &e)
{
    QByteArray out(kEnvelopeSigningTag);
    out.reserve(out.size() + e.ciphertext.size() + 512);
    appendField(out, e.messageId.toUtf8());
    appendField(out, e.senderPubkey.toUtf8());
    appendField(out, e.recipientPubkey.toUtf8());
    appendField(out, e.senderAddress.toUtf8());
    appendField(out, QByteArray::number(e.createdAt));
    appendField(out, QByteArray::number(e.expiresAt));
    appendField(out, e.ciphertext.toUtf8());
    return out;
}

Envelope signEnvelope(const Identity &sender, const QString &recipientPubkey, const QString &ciphertext,
                      const QString &messageId, qint64 createdAt, qint64 lifetimeSeconds)
{
    Envelope e;
    e.messageId = messageId;
    e.recipientPubkey = recipientPubkey;
    e.ciphertext = ciphertext;
    e.createdAt = createdAt;
    if (!sender.isValid() || sender.publicKey.size() != 65 || lifetimeSeconds <= 0
        || lifetimeSeconds > kEnvelopeMaxLifetimeSeconds || createdAt > std::numeric_limits<qint64>::max() - lifetimeSeconds)
        return e;
    e.senderPubkey = sender.publicKeyText();
    e.senderAddress = sender.erc20Address();
    e.expiresAt = createdAt + lifetimeSeconds;
    const QByteArray signature = signMessage(sender.privateKey, envelopeSigningBytes(e));
    if (signature.size() == 64)
        e.signature = base64UrlEncode(signature);
    return e;
}

EnvelopeVerdict validateEnvelope(const Envelope &e, qint64 now, const QString &expectedRecipient)
{
    // 1. Shape.
    if (e.messageId.isEmpty() || e.messageId.size() > kMaxMessageIdLength || e.senderPubkey.isEmpty()
        || e.recipientPubkey.isEmpty() || e.ciphertext.isEmpty() || e.signature.isEmpty() || e.createdAt <= 0
        || e.expiresAt <= 0)
        return reject("malformed");
    // 2. Keys.
    const QByteArray senderRaw = base64UrlDecode(e.senderPubkey);
    if ((senderRaw.size() != 65 && senderRaw.size() != 33) || normalisePublicKey(senderRaw).isEmpty())
        return reject("bad_sender_key");
    const QByteArray recipientKey = compressedKeyOf(e.recipientPubkey);
    if (recipientKey.isEmpty())
        return reject("bad_recipient_key");
    if (!expectedRecipient.isEmpty() && expectedRecipient != e.recipientPubkey
        && compressedKeyOf(expectedRecipient) != recipientKey)
        return reject("wrong_recipient");
    // 3. The sender address, when given, is the sender key's address (any letter case).
    if (!e.senderAddress.isEmpty()
        && e.senderAddress.compare(ethereumAddress(senderRaw), Qt::CaseInsensitive) != 0)
        return reject("sender_address_mismatch");
    // 4. Lifetime, with the clock slack both ways.
    if (e.expiresAt <= e.createdAt || e.expiresAt - e.createdAt > kEnvelopeMaxLifetimeSeconds)
        return reject("bad_lifetime");
    if (e.createdAt - kEnvelopeClockSlackSeconds > now)
        return reject("future_dated");
    if (now - kEnvelopeClockSlackSeconds > e.expiresAt)
        return reject("expired");
    // 5. Signature.
    const QByteArray signature = base64UrlDecode(e.signature);
    if (signature.size() != 64 || !verifyMessage(senderRaw, envelopeSigningBytes(e), signature))
        return reject("bad_signature");
    return EnvelopeVerdict{true, QString()};
}

QByteArray directMessageContext(const QString &senderPubkey, const QString &recipientPubkey)
{
    const QByteArray sender = compressedKeyOf(senderPubkey);
    const QByteArray recipient = compressedKeyOf(recipientPubkey);
    if (sender.isEmpty() || recipient.isEmpty())
        return {};
    return QByteArrayLiteral("velmor.direct.v1|") + sender + recipient;
}

QString sealDirectMessage(const Identity &sender, const QString &recipientPubkey, const QByteArray &plaintext)
{
    const QByteArray context = directMessageContext(sender.publicKeyText(), recipientPubkey);
    if (!sender.isValid() || context.isEmpty())
        return {};
    return Ecies::seal(base64UrlDecode(recipientPubkey), plaintext, Ecies::ChaCha20Poly1305, context);
}

QByteArray openDirectMessage(const QString &ciphertext, const QString &senderPubkey, const Identity &recipient)
{
    if (!recipient.isValid())
        return {};
    // The recipient's own key, not the envelope's claim, goes into the context.
    const QByteArray context = directMessageContext(senderPubkey, recipient.publicKeyText());
    if (context.isEmpty())
        return {};
    return Ecies::open(ciphertext, recipient.privateKey, Ecies::ChaCha20Poly1305, context);
}

} // namespace velmor::identity
