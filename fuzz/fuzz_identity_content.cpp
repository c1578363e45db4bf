// Decrypted message content, group media payloads, wallet cards and official
// notices: JSON that arrives from other users (or the official account).
#include "fuzz_common.h"

#include "identity/content.h"
#include "identity/crypto.h"
#include "identity/identity.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace velmor::chat;
using velmor::identity::Identity;

namespace {

const QByteArray &noticeSecret()
{
    static const QByteArray key = QByteArray::fromHex(
        "1111111111111111111111111111111111111111111111111111111111111111");
    return key;
}

const Identity &peer()
{
    static const Identity identity(QByteArray::fromHex(
        "2222222222222222222222222222222222222222222222222222222222222222"));
    return identity;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzsupport::initQt();
    const fuzzsupport::Input in = fuzzsupport::split(data, size);
    const QString text = QString::fromUtf8(in.bytes);
    switch (in.selector % 6) {
    case 0: {
        const MessageContent content = parseMessageContent(in.bytes);
        (void)messageTypeName(content);
        if (content.ok) {
            // Whatever was read must write back and read again.
            (void)parseMessageContent(serializeMessageContent(content));
        }
        break;
    }
    case 1:
        (void)parseGroupMediaContent(text);
        // The JSON behind the media prefixes.
        (void)parseGroupMediaContent(QStringLiteral("velmor_image_v1:") + velmor::crypto::base64UrlEncode(in.bytes));
        (void)parseGroupMediaContent(QStringLiteral("velmor_voice_v1:") + velmor::crypto::base64UrlEncode(in.bytes));
        break;
    case 2: {
        QString address;
        qint64 issuedAt = 0;
        (void)verifyWalletCard(text, peer().publicKeyText(), &address, &issuedAt);
        break;
    }
    case 3:
        (void)parseOfficialNotice(text, QStringLiteral("en"));
        (void)parseOfficialNoticeWithKey(text, QStringLiteral("zh-Hans"),
                                         velmor::crypto::publicKeyFromSecret(noticeSecret()));
        break;
    case 4: {
        // A notice whose signed payload is the fuzz input: reaches the
        // parsing behind the signature check.
        const QString payload = velmor::crypto::base64UrlEncode(in.bytes);
        const QByteArray signature = velmor::crypto::signMessage(
            noticeSecret(), QByteArrayLiteral("official_notice_v1|") + payload.toUtf8());
        const QJsonObject outer{{QStringLiteral("payload"), payload},
                                {QStringLiteral("signature"), velmor::crypto::base64UrlEncode(signature)}};
        const QString notice = QString::fromUtf8(QJsonDocument(outer).toJson(QJsonDocument::Compact));
        const QString language = (in.selector & 0x80) ? QStringLiteral("zh-Hans") : QStringLiteral("en");
        (void)parseOfficialNoticeWithKey(notice, language, velmor::crypto::publicKeyFromSecret(noticeSecret()));
        break;
    }
    case 5: {
        (void)isOfficialAccountKey(text);
        break;
    }
    }
    return 0;
}
