// The signed one-to-one envelope and its validator. The relay carries these
// fields as JSON; the signature covers a fixed text form of them
// (docs/protocol.md).
#pragma once

#include "identity/identity.h"

#include <QString>

namespace velmor::identity {

constexpr qint64 kEnvelopeClockSlackSeconds = 300;
constexpr qint64 kEnvelopeLifetimeSeconds = 7 * 24 * 3600;
// The longest lifetime (expiresAt - createdAt) a reader accepts: the honest
// 7 days plus the clock slack. A longer one would keep a message (and its
// replays) valid for ever.
constexpr qint64 kEnvelopeMaxLifetimeSeconds = kEnvelopeLifetimeSeconds + kEnvelopeClockSlackSeconds;

struct Envelope
{
    QString messageId;
    QString senderPubkey;    // base64url 65-byte key
    QString recipientPubkey; // base64url key
    QString senderAddress;   // ERC-20 address of the sender key
    qint64 createdAt = 0;    // seconds
    qint64 expiresAt = 0;    // seconds
    QString ciphertext;      // sealed box text
    QString signature;       // base64url 64-byte compact ECDSA
};

// The exact bytes that the signature covers.
QByteArray envelopeSigningBytes(const Envelope &envelope);

// Fills senderPubkey, senderAddress, expiresAt (createdAt + lifetime) and signature.
// An envelope with an empty signature when the sender is not a valid identity
// or the lifetime is not within 1 s .. kEnvelopeMaxLifetimeSeconds.
Envelope signEnvelope(const Identity &sender, const QString &recipientPubkey,
                      const QString &ciphertext, const QString &messageId, qint64 createdAt,
                      qint64 lifetimeSeconds = kEnvelopeLifetimeSeconds);

struct EnvelopeVerdict
{
    bool valid = false;
    QString reason; // empty when valid; one word per failure (docs/protocol.md)
};

// Checks shape, sender key, sender address, lifetime (with the clock slack)
// and signature. A non-empty expectedRecipient must equal the recipient.
EnvelopeVerdict validateEnvelope(const Envelope &envelope, qint64 nowSeconds,
                                 const QString &expectedRecipient = QString());

// One-to-one content is sealed with the sender's and the recipient's keys
// as associated data, so a box opens only under the envelope of the sender
// that sealed it: a relay cannot re-send one user's words as another's.
// "velmor.direct.v1|" + sender key (33-byte compressed) + recipient key
// (33-byte compressed); empty when either is not a key.
QByteArray directMessageContext(const QString &senderPubkey, const QString &recipientPubkey);
// The sealed box of `plaintext` from `sender` to the recipient; empty on failure.
QString sealDirectMessage(const Identity &sender, const QString &recipientPubkey,
                          const QByteArray &plaintext);
// Opens an envelope's ciphertext for `recipient`, bound to the envelope's
// sender key; empty when it does not open (another sender, another
// recipient, tampering). Validate the envelope first: this checks no signature.
QByteArray openDirectMessage(const QString &ciphertext, const QString &senderPubkey, const Identity &recipient);

} // namespace velmor::identity
