// Sealed boxes, group boxes, base64url and the key/recovery-phrase text forms:
// everything that opens or decodes text from another party or from a paste.
#include "fuzz_common.h"

#include "identity/crypto.h"
#include "identity/identity.h"

using namespace velmor::crypto;
using velmor::identity::Identity;

namespace {

const QByteArray &secret()
{
    static const QByteArray key = QByteArray::fromHex(
        "4c0883a69102937d6231471b5dbb6204fe5129617082792ae468d01a3f362318");
    return key;
}

const QByteArray &groupKey()
{
    static const QByteArray key(32, '\x5a');
    return key;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzsupport::initQt();
    const fuzzsupport::Input in = fuzzsupport::split(data, size);
    const QString text = QString::fromUtf8(in.bytes);
    switch (in.selector % 8) {
    case 0:
        (void)base64UrlDecode(text);
        break;
    case 1:
        (void)Ecies::open(text, secret(), Ecies::ChaCha20Poly1305);
        (void)Ecies::open(text, secret(), Ecies::Aes256Gcm);
        break;
    case 2: {
        // A well-formed box with tampered content: the bytes go through
        // base64url so that the fuzzer reaches the layout checks.
        const QString box = base64UrlEncode(in.bytes);
        (void)Ecies::open(box, secret(), int(in.selector >> 3) % 3);
        (void)GroupBox::open(box, groupKey(), QByteArrayLiteral("ctx"));
        break;
    }
    case 3:
        (void)GroupBox::open(text, groupKey());
        break;
    case 4:
        (void)Identity::fromPrivateKeyText(text);
        break;
    case 5:
        (void)velmor::identity::isValidMnemonic(text);
        (void)velmor::identity::privateKeyFromMnemonic(text);
        break;
    case 6:
        (void)normalisePublicKey(in.bytes);
        (void)velmor::identity::publicKeyXY(in.bytes);
        (void)velmor::identity::ethereumAddress(in.bytes);
        (void)velmor::identity::tronAddress(in.bytes);
        (void)verifyMessage(in.bytes.left(65), in.bytes.mid(65, 16), in.bytes.mid(81));
        break;
    case 7:
        (void)velmor::identity::bip32DerivePath(QByteArray(64, '\x01'), text);
        break;
    }
    return 0;
}
