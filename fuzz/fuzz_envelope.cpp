// The signed one-to-one envelope as the relay hands it over: JSON object in,
// validation verdict out.
#include "fuzz_common.h"

#include "identity/envelope.h"
#include "net/relay_api.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace velmor::identity;
using velmor::chat::RelayApi;

namespace {

const Identity &recipient()
{
    static const Identity identity(QByteArray::fromHex(
        "3333333333333333333333333333333333333333333333333333333333333333"));
    return identity;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzsupport::initQt();
    const fuzzsupport::Input in = fuzzsupport::split(data, size);
    const QJsonObject object = QJsonDocument::fromJson(in.bytes).object();
    const velmor::chat::RawEnvelope raw = RelayApi::envelopeFromJson(object);
    const Envelope envelope = RelayApi::toEnvelope(raw);
    // Clocks from the input too: the lifetime arithmetic must hold for any.
    // The clock is the caller's, never far off: keep it in a sane range so
    // that only the envelope's own numbers are hostile.
    const bool nearCreation = (in.selector & 1) && raw.createdAt > 0 && raw.createdAt < (qint64(1) << 40);
    const qint64 now = nearCreation ? raw.createdAt + qint64(in.selector) : 1700000000;
    (void)validateEnvelope(envelope, now, (in.selector & 2) ? recipient().publicKeyText() : QString());
    (void)envelopeSigningBytes(envelope);
    if (in.selector & 4) {
        // A correctly signed copy: reaches the checks after the signature.
        qint64 lifetime = 0;
        if (__builtin_sub_overflow(envelope.expiresAt, envelope.createdAt, &lifetime))
            lifetime = kEnvelopeLifetimeSeconds;
        const Envelope signed_ = signEnvelope(recipient(), envelope.recipientPubkey, envelope.ciphertext,
                                              envelope.messageId, envelope.createdAt, lifetime);
        (void)validateEnvelope(signed_, now, envelope.recipientPubkey);
    }
    return 0;
}
