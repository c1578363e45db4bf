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
    Envelope envelope;
    envelope.messageId = raw.messageId;
    envelope.senderPubkey = raw.senderPubkey;
    envelope.recipientPubkey = raw.recipientPubkey;
    envelope.senderAddress = raw.senderAddress;
    envelope.createdAt = raw.createdAt;
    envelope.expiresAt = raw.expiresAt;
    envelope.ciphertext = raw.ciphertext;
    envelope.signature = raw.signature;
    // Clocks from the input too: the lifetime arithmetic must hold for any.
    const qint64 now = (in.selector & 1) ? raw.createdAt + qint64(in.selector) : 1700000000;
    (void)validateEnvelope(envelope, now, (in.selector & 2) ? recipient().publicKeyText() : QString());
    (void)envelopeSigningBytes(envelope);
    if (in.selector & 4) {
        // A correctly signed copy: reaches the checks after the signature.
        const Envelope signed_ = signEnvelope(recipient(), envelope.recipientPubkey, envelope.ciphertext,
                                              envelope.messageId, envelope.createdAt,
                                              envelope.expiresAt - envelope.createdAt);
        (void)validateEnvelope(signed_, now, envelope.recipientPubkey);
    }
    return 0;
}
