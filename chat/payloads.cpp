#include "chat/payloads.h"

#include "identity/crypto.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QVariantList>

namespace velmor::chat::payload {

namespace {

QString latin(const char *text)
{
    return QString::fromLatin1(text);
}

QString compactJson(const QJsonObject &object)
{
    // QJsonDocument writes object members in ascending key order.
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// A JSON integer as int; 0 when absent or not a whole number.
int wholeNumber(const QJsonValue &value)
{
    if (!value.isDouble())
        return 0;
    const double d = value.toDouble();
    if (d != double(qint64(d)))
        return 0;
    return value.toInt(0);
}

constexpr char32_t kMaxCodePoint = 0x10FFFF;

bool isScalarValue(qulonglong code)
{
    return code != 0 && code <= kMaxCodePoint && !(code >= 0xD800 && code <= 0xDFFF);
}

} // namespace

QString encodePrefixedJson(const QString &prefix, const QJsonObject &object)
{
    return prefix + velmor::crypto::base64UrlEncode(compactJson(object).toUtf8());
}

QJsonObject decodePrefixedJson(const QString &text, const QString &prefix)
{
    if (!text.startsWith(prefix))
        return {};
    const QByteArray bytes = velmor::crypto::base64UrlDecode(text.mid(prefix.size()));
    if (bytes.isEmpty())
        return {};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    return doc.isObject() ? doc.object() : QJsonObject();
}

QStringList decodeEmojiPayload(const QString &text)
{
    QStringList codes;
    const QJsonArray array = decodePrefixedJson(text, latin(kEmojiPrefix)).value(QStringLiteral("codes")).toArray();
    for (const QJsonValue &value : array) {
        const QString code = value.toString().trimmed().toLower();
        if (!code.isEmpty())
            codes.append(code);
    }
    return codes;
}

QString splitEmojiCodes(const QStringList &codes)
{
    QString out;
    for (const QString &code : codes) {
        const QStringList parts = code.split(QLatin1Char('-'));
        for (const QString &part : parts) {
            bool ok = false;
            const qulonglong value = part.toULongLong(&ok, 16);
            // A peer's code that is no Unicode scalar value would make a
            // broken string (a lone surrogate, or a truncated code point).
            if (!ok || !isScalarValue(value))
                continue;
            const char32_t point = char32_t(value);
            out.append(QString::fromUcs4(&point, 1));
        }
    }
    return out;
}

QString imagePayload(const QString &b64, const QString &mime, int width, int height)
{
    QJsonObject object;
    object.insert(QStringLiteral("kind"), QStringLiteral("image"));
    object.insert(QStringLiteral("b64"), b64);
    object.insert(QStringLiteral("mime"), mime.isEmpty() ? QStringLiteral("image/jpeg") : mime);
    object.insert(QStringLiteral("w"), width);
    object.insert(QStringLiteral("h"), height);
    return compactJson(object);
}

QString voicePayload(const QString &b64, int durationMs, const QList<int> &waveform)
{
    QJsonObject object;
    object.insert(QStringLiteral("kind"), QStringLiteral("voice"));
    object.insert(QStringLiteral("b64"), b64);
    object.insert(QStringLiteral("dur"), durationMs);
    if (!waveform.isEmpty()) {
        QJsonArray wf;
        for (int level : waveform)
            wf.append(level);
        object.insert(QStringLiteral("wf"), wf);
    }
    return compactJson(object);
}

void appendMediaFields(const QString &attachment, QVariantMap &map, QByteArray *picture)
{
    if (attachment.isEmpty())
        return;
    const QJsonObject object = QJsonDocument::fromJson(attachment.toUtf8()).object();
    const QString kind = object.value(QStringLiteral("kind")).toString();
    if (kind == QLatin1String("image")) {
        const QByteArray bytes = velmor::crypto::base64UrlDecode(object.value(QStringLiteral("b64")).toString());
        if (bytes.isEmpty())
            return;
        map.insert(QStringLiteral("kind"), QStringLiteral("image"));
        map.insert(QStringLiteral("imageW"), wholeNumber(object.value(QStringLiteral("w"))));
        map.insert(QStringLiteral("imageH"), wholeNumber(object.value(QStringLiteral("h"))));
        if (picture)
            *picture = bytes;
        else
            map.insert(QStringLiteral("imageSrc"),
                       QStringLiteral("data:") + object.value(QStringLiteral("mime")).toString()
                           + QStringLiteral(";base64,") + QString::fromLatin1(bytes.toBase64()));
    } else if (kind == QLatin1String("voice")) {
        QVariantList waveform;
        for (const QJsonValue &value : object.value(QStringLiteral("wf")).toArray())
            waveform.append(wholeNumber(value));
        map.insert(QStringLiteral("kind"), QStringLiteral("voice"));
        map.insert(QStringLiteral("durMs"), wholeNumber(object.value(QStringLiteral("dur"))));
        map.insert(QStringLiteral("voiceB64"), object.value(QStringLiteral("b64")).toString());
        map.insert(QStringLiteral("voiceMime"), QStringLiteral("audio/mp4"));
        map.insert(QStringLiteral("voiceWaveform"), waveform);
    }
}

void applyTextPayload(const QString &storedText, QVariantMap &map)
{
    // Each test reads the stored text, and its prefix decides which applies,
    // so at most one of them sets fields.
    const QStringList codes = decodeEmojiPayload(storedText);
    if (!codes.isEmpty()) {
        map.insert(QStringLiteral("kind"), QStringLiteral("emoji"));
        map.insert(QStringLiteral("emojiCodes"), codes);
        map.insert(QStringLiteral("text"), splitEmojiCodes(codes));
        return;
    }
    const QJsonObject site = decodePrefixedJson(storedText, latin(kSitePrefix));
    if (!site.isEmpty()) {
        const QString title = site.value(QStringLiteral("title")).toString();
        map.insert(QStringLiteral("kind"), QStringLiteral("site"));
        map.insert(QStringLiteral("siteTitle"), title);
        map.insert(QStringLiteral("siteUrl"), site.value(QStringLiteral("url")).toString());
        map.insert(QStringLiteral("siteIconUrl"), site.value(QStringLiteral("iconUrl")).toString());
        map.insert(QStringLiteral("text"), QStringLiteral("[链接] ") + title);
        return;
    }
    const QJsonObject transfer = decodePrefixedJson(storedText, latin(kTransferPrefix));
    if (!transfer.isEmpty()) {
        const QString symbol = transfer.value(QStringLiteral("symbol")).toString();
        map.insert(QStringLiteral("kind"), QStringLiteral("transfer"));
        map.insert(QStringLiteral("transferAmountRaw"), transfer.value(QStringLiteral("amountRaw")).toString());
        map.insert(QStringLiteral("transferSymbol"), symbol);
        map.insert(QStringLiteral("transferTxHash"), transfer.value(QStringLiteral("txHash")).toString());
        map.insert(QStringLiteral("transferExplorerUrl"), transfer.value(QStringLiteral("explorerUrl")).toString());
        map.insert(QStringLiteral("text"), QStringLiteral("[转账] ") + symbol);
        return;
    }
    const QJsonObject meta = decodePrefixedJson(storedText, latin(kTextMetaPrefix));
    if (!meta.isEmpty()) {
        map.insert(QStringLiteral("kind"), QStringLiteral("text"));
        map.insert(QStringLiteral("text"), meta.value(QStringLiteral("text")).toString());
        const QJsonObject bridge = meta.value(QStringLiteral("bridgeTranslation")).toObject();
        const QString translated = bridge.value(QStringLiteral("translatedText")).toString().trimmed();
        if (!translated.isEmpty()) {
            map.insert(QStringLiteral("translated"), translated);
            const QString original = bridge.value(QStringLiteral("originalText")).toString();
            if (!original.isEmpty())
                map.insert(QStringLiteral("text"), original);
        }
    }
}

QString lastMessagePreview(const QString &text, const QString &type, QString *kind)
{
    const auto is = [kind](const QString &what, const QString &preview) {
        if (kind)
            *kind = what;
        return preview;
    };
    const QStringList codes = decodeEmojiPayload(text);
    if (!codes.isEmpty())
        return is(QStringLiteral("text"), splitEmojiCodes(codes));
    if (text.startsWith(latin(kSitePrefix)))
        return is(QStringLiteral("site"),
                  QStringLiteral("[链接] ")
                      + decodePrefixedJson(text, latin(kSitePrefix)).value(QStringLiteral("title")).toString());
    if (text.startsWith(latin(kTransferPrefix)))
        return is(QStringLiteral("transfer"), QStringLiteral("[转账]"));
    if (text.startsWith(latin(kTextMetaPrefix)))
        return is(QStringLiteral("text"),
                  decodePrefixedJson(text, latin(kTextMetaPrefix)).value(QStringLiteral("text")).toString());
    if (text.startsWith(latin(kGroupImagePrefix)))
        return is(QStringLiteral("image"), QStringLiteral("[图片]"));
    if (text.startsWith(latin(kGroupVoicePrefix)))
        return is(QStringLiteral("voice"), QStringLiteral("[语音]"));
    if (text.startsWith(latin(kSuperGroupSystemMarker)))
        return is(QStringLiteral("system"), text.mid(int(sizeof(kSuperGroupSystemMarker)) - 1));
    // A plain text: the message's type says whether the store wrote it for
    // a picture, a clip or a notice. An emoji message keeps a text of its
    // own unless it had none.
    const QString stored = type.startsWith(QLatin1String("bridge.")) ? type.mid(7) : type;
    static const QStringList own{QStringLiteral("image"), QStringLiteral("voice"), QStringLiteral("site"),
                                 QStringLiteral("transfer"), QStringLiteral("system")};
    if (own.contains(stored) || (stored == QLatin1String("emoji") && text == u"[表情]"))
        return is(stored, text);
    return is(QStringLiteral("text"), text);
}

} // namespace velmor::chat::payload
