#include "identity/content.h"
#include "identity/crypto.h"
#include "identity/service_login.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <limits>

namespace velmor::chat {

using namespace velmor::crypto;

namespace {

constexpr qsizetype kMaxJsonBytes = 64 * 1024 * 1024;
constexpr qsizetype kMaxCardBytes = 16 * 1024;
constexpr qsizetype kMaxNoticeBytes = 4 * 1024 * 1024;
constexpr const char *kWalletCardPrefix = velmor::identity::kWalletCardSigningTag;
constexpr const char *kNoticePrefix = velmor::identity::kNoticeSigningTag;
constexpr char kImagePrefix[] = "velmor_image_v1:";
constexpr char kVoicePrefix[] = "velmor_voice_v1:";

QJsonObject parseObject(const QByteArray &bytes, qsizetype limit, bool *ok)
{
    *ok = false;
    if (bytes.isEmpty() || bytes.size() > limit)
        return {};
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return {};
    *ok = true;
    return doc.object();
}

QString str(const QJsonObject &o, const char *key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isString() ? v.toString() : QString();
}

// A whole number (JSON number without fraction, within range), else the fallback.
qint64 integer(const QJsonValue &v, qint64 fallback = 0)
{
    if (!v.isDouble())
        return fallback;
    return v.toInteger(fallback);
}

qint64 integer(const QJsonObject &o, const char *key)
{
    return integer(o.value(QLatin1String(key)));
}

int clampInt(qint64 v)
{
    return int(std::clamp<qint64>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

QList<int> intList(const QJsonValue &v)
{
    QList<int> out;
    const QJsonArray array = v.toArray();
    out.reserve(array.size());
    for (const QJsonValue &e : array)
        out.append(clampInt(integer(e)));
    return out;
}

QJsonArray intArray(const QList<int> &list)
{
    QJsonArray out;
    for (int v : list)
        out.append(v);
    return out;
}

QByteArray compact(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QString prefixed(const char *prefix, const QJsonObject &o)
{
    return QLatin1String(prefix) + base64UrlEncode(compact(o));
}

bool sameKey(const QString &a, const QString &b)
{
    const QString ta = a.trimmed();
    const QString tb = b.trimmed();
    if (ta.isEmpty() || tb.isEmpty())
        return false;
    if (ta == tb)
        return true;
    const QByteArray ka = normalisePublicKey(base64UrlDecode(ta), true);
    return !ka.isEmpty() && ka == normalisePublicKey(base64UrlDecode(tb), true);
}

bool isAddressText(const QString &s)
{
    if (s.size() != 42 || !s.startsWith(QLatin1String("0x")))
        return false;
    for (int i = 2; i < s.size(); ++i) {
        const char16_t c = s[i].unicode();
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

// The string members of MessageContent and their JSON names: one list, so
// that reading and writing cannot drift apart.
constexpr struct
{
    const char *key;
    QString MessageContent::*member;
} kStringMembers[] = {
    {"type", &MessageContent::type},
    {"text", &MessageContent::text},
    {"senderAvatarKind", &MessageContent::senderAvatarKind},
    {"senderAvatarId", &MessageContent::senderAvatarId},
    {"siteTitle", &MessageContent::siteTitle},
    {"siteUrl", &MessageContent::siteUrl},
    {"siteIconUrl", &MessageContent::siteIconUrl},
    {"transferAmountRaw", &MessageContent::transferAmountRaw},
    {"transferSymbol", &MessageContent::transferSymbol},
    {"transferTxHash", &MessageContent::transferTxHash},
    {"transferExplorerUrl", &MessageContent::transferExplorerUrl},
    {"walletCard", &MessageContent::walletCard},
    {"bridgeOriginalText", &MessageContent::bridgeOriginalText},
    {"bridgeTranslatedText", &MessageContent::bridgeTranslatedText},
    {"bridgeTranslationDirection", &MessageContent::bridgeTranslationDirection},
    {"targetClientMessageId", &MessageContent::targetClientMessageId},
    {"imageB64", &MessageContent::imageB64},
    {"imageMime", &MessageContent::imageMime},
    {"voiceB64", &MessageContent::voiceB64},
    {"groupId", &MessageContent::groupId},
    {"groupJoinKey", &MessageContent::groupJoinKey},
    {"groupJoinRequesterCanonicalKey", &MessageContent::groupJoinRequesterCanonicalKey},
    {"groupJoinRequesterDisplayName", &MessageContent::groupJoinRequesterDisplayName},
    {"groupJoinRequesterAvatarId", &MessageContent::groupJoinRequesterAvatarId},
};

QByteArray walletCardSigningBytes(const QString &identityKey, const QString &address, qint64 issuedAt)
{
    return QByteArray(kWalletCardPrefix) + identityKey.toUtf8() + '|' + address.toUtf8() + '|'
        + QByteArray::number(issuedAt);
}

} // namespace

// ---------------------------------------------------------------- message content

MessageContent parseMessageContent(const QByteArray &plaintext)
{
    MessageContent c;
    bool ok = false;
    const QJsonObject o = parseObject(plaintext, kMaxJsonBytes, &ok);
    if (!ok)
        return c;
    c.ok = true;
    for (const auto &m : kStringMembers)
        c.*m.member = str(o, m.key);
    QJsonValue codes = o.value(QLatin1String("emojiCodes"));
    if (!codes.isArray())
        codes = o.value(QLatin1String("codes"));
    for (const QJsonValue &v : codes.toArray())
        if (v.isString())
            c.emojiCodes.append(v.toString());
    c.durationMs = integer(o, "durationMs");
    c.sentAtMs = std::max<qint64>(0, integer(o, "sentAtMs"));
    const QJsonValue has = o.value(QLatin1String("hasPeerWalletCard"));
    if (has.isBool())
        c.hasPeerWalletCard = has.toBool() ? 1 : 0;
    else if (has.isDouble())
        c.hasPeerWalletCard = has.toDouble() != 0 ? 1 : 0;
    c.imageWidth = clampInt(integer(o, "imageWidth"));
    c.imageHeight = clampInt(integer(o, "imageHeight"));
    QJsonValue waveform = o.value(QLatin1String("voiceWaveform"));
    if (!waveform.isArray())
        waveform = o.value(QLatin1String("waveform"));
    c.voiceWaveform = intList(waveform);
    return c;
}

QByteArray serializeMessageContent(const MessageContent &c)
{
    QJsonObject o;
    o.insert(QStringLiteral("v"), 1);
    for (const auto &m : kStringMembers)
        if (!(c.*m.member).isEmpty())
            o.insert(QLatin1String(m.key), c.*m.member);
    if (!c.emojiCodes.isEmpty())
        o.insert(QStringLiteral("emojiCodes"), QJsonArray::fromStringList(c.emojiCodes));
    if (c.durationMs != 0)
        o.insert(QStringLiteral("durationMs"), c.durationMs);
    if (c.hasPeerWalletCard >= 0)
        o.insert(QStringLiteral("hasPeerWalletCard"), c.hasPeerWalletCard != 0);
    if (c.imageWidth != 0)
        o.insert(QStringLiteral("imageWidth"), c.imageWidth);
    if (c.imageHeight != 0)
        o.insert(QStringLiteral("imageHeight"), c.imageHeight);
    if (!c.voiceWaveform.isEmpty())
        o.insert(QStringLiteral("voiceWaveform"), intArray(c.voiceWaveform));
    if (c.sentAtMs > 0)
        o.insert(QStringLiteral("sentAtMs"), c.sentAtMs);
    return compact(o);
}

QString messageTypeName(const MessageContent &content)
{
    // Known types: "text" gives its text; emoji, voice, image, site and
    // transfer, each also under "bridge.", and "system" give a bracketed
    // label. Anything else ("bridge.text", "bridge.system", control types) is
    // unknown and gives an empty text, which the inbound path skips.
    if (content.type == QLatin1String("text"))
        return content.text;
    if (content.type == QLatin1String("system"))
        return QStringLiteral("[系统消息]");
    QString type = content.type;
    if (type.startsWith(QLatin1String("bridge.")))
        type = type.mid(7);
    if (type == QLatin1String("emoji"))
        return QStringLiteral("[表情]");
    if (type == QLatin1String("voice"))
        return QStringLiteral("[语音]");
    if (type == QLatin1String("image"))
        return QStringLiteral("[图片]");
    if (type == QLatin1String("site"))
        return QStringLiteral("[链接]");
    if (type == QLatin1String("transfer"))
        return QStringLiteral("[转账]");
    return {};
}

// ---------------------------------------------------------------- group media

QString groupImageContent(const QByteArray &image, const QString &mime, int width, int height)
{
    QJsonObject o;
    o.insert(QStringLiteral("mime"), mime.isEmpty() ? QStringLiteral("image/jpeg") : mime);
    o.insert(QStringLiteral("width"), width);
    o.insert(QStringLiteral("height"), height);
    o.insert(QStringLiteral("bytes"), qint64(image.size()));
    o.insert(QStringLiteral("imageB64"), base64UrlEncode(image));
    return prefixed(kImagePrefix, o);
}

QString groupVoiceContent(const QByteArray &audio, qint64 durationMs, const QList<int> &waveform)
{
    QJsonObject o;
    o.insert(QStringLiteral("durationMs"), durationMs);
    o.insert(QStringLiteral("audioB64"), base64UrlEncode(audio));
    if (!waveform.isEmpty())
        o.insert(QStringLiteral("waveform"), intArray(waveform));
    return prefixed(kVoicePrefix, o);
}

GroupMediaContent parseGroupMediaContent(const QString &text)
{
    GroupMediaContent c;
    const bool image = text.startsWith(QLatin1String(kImagePrefix));
    const bool voice = text.startsWith(QLatin1String(kVoicePrefix));
    if (!image && !voice)
        return c;
    const QString rest = text.mid(int(qstrlen(image ? kImagePrefix : kVoicePrefix)));
    bool ok = false;
    const QJsonObject o = parseObject(base64UrlDecode(rest), kMaxJsonBytes, &ok);
    if (!ok)
        return c;
    c.ok = true;
    if (image) {
        c.kind = QStringLiteral("image");
        c.imageB64 = str(o, "imageB64");
        c.mime = str(o, "mime");
        if (c.mime.isEmpty())
            c.mime = QStringLiteral("image/jpeg");
        c.width = clampInt(integer(o, "width"));
        c.height = clampInt(integer(o, "height"));
        c.bytes = integer(o, "bytes");
    } else {
        c.kind = QStringLiteral("voice");
        c.audioB64 = str(o, "audioB64");
        c.durationMs = integer(o, "durationMs");
        c.waveform = intList(o.value(QLatin1String("waveform")));
    }
    return c;
}

// ---------------------------------------------------------------- official account

QByteArray officialAccountPublicKey()
{
    static const QByteArray key = QByteArray::fromHex(PELORIN_OFFICIAL_ACCOUNT_KEY_HEX);
    return key;
}

bool isOfficialAccountKey(const QString &keyText)
{
    const QString t = keyText.trimmed();
    if (t.isEmpty())
        return false;
    const QByteArray raw = base64UrlDecode(t);
    const QByteArray official = officialAccountPublicKey();
    return raw.size() == 65 && official.size() == 65 && raw == official;
}

QString officialAccountName()
{
    return QStringLiteral("Pelorin Network");
}

OfficialNotice parseOfficialNotice(const QString &noticeText, const QString &language)
{
    return parseOfficialNoticeWithKey(noticeText, language, officialAccountPublicKey());
}

OfficialNotice parseOfficialNoticeWithKey(const QString &noticeText, const QString &language,
                                          const QByteArray &officialPublicKey)
{
    OfficialNotice result;
    if (officialPublicKey.size() != 65 || noticeText.size() > kMaxNoticeBytes)
        return result;
    bool ok = false;
    const QJsonObject outer = parseObject(noticeText.trimmed().toUtf8(), kMaxNoticeBytes, &ok);
    if (!ok)
        return result;
    const QString payload = str(outer, "payload");
    const QByteArray signature = base64UrlDecode(str(outer, "signature"));
    if (payload.isEmpty() || signature.size() != 64)
        return result;
    if (!verifyMessage(officialPublicKey, QByteArray(kNoticePrefix) + payload.toUtf8(), signature))
        return result;
    const QJsonObject inner = parseObject(base64UrlDecode(payload), kMaxNoticeBytes, &ok);
    if (!ok || integer(inner, "v") != 1)
        return result;
    const QJsonObject entries = inner.value(QLatin1String("entries")).toObject();

    // Candidates in order: the language itself, any letter case, its primary
    // subtag ("zh" of "zh-Hans"), entries of that primary language, "en", then
    // the rest in key order. The first with a title or a body wins.
    QStringList order;
    auto add = [&order](const QString &k) {
        if (!order.contains(k))
            order.append(k);
    };
    const QStringList keys = entries.keys();
    const QString primary = language.section(QLatin1Char('-'), 0, 0);
    add(language);
    for (const QString &k : keys)
        if (k.compare(language, Qt::CaseInsensitive) == 0)
            add(k);
    for (const QString &k : keys)
        if (!primary.isEmpty() && k.compare(primary, Qt::CaseInsensitive) == 0)
            add(k);
    for (const QString &k : keys)
        if (!primary.isEmpty() && k.section(QLatin1Char('-'), 0, 0).compare(primary, Qt::CaseInsensitive) == 0)
            add(k);
    add(QStringLiteral("en"));
    for (const QString &k : keys)
        add(k);
    for (const QString &k : std::as_const(order)) {
        const QJsonObject entry = entries.value(k).toObject();
        const QString title = str(entry, "title");
        const QString body = str(entry, "body");
        if (title.isEmpty() && body.isEmpty())
            continue;
        result.ok = true;
        result.id = sha256Hex(payload.toUtf8());
        if (!title.isEmpty() && !body.isEmpty())
            result.text = title + QStringLiteral("\n\n") + body;
        else
            result.text = title.isEmpty() ? body : title;
        return result;
    }
    return result;
}

QString makeOfficialNotice(const QByteArray &signingSecret32, const QList<OfficialNoticeEntry> &entries,
                           qint64 issuedAt)
{
    if (!isValidSecretKey(signingSecret32) || entries.isEmpty())
        return {};
    QJsonObject map;
    for (const OfficialNoticeEntry &e : entries) {
        QJsonObject entry;
        entry.insert(QStringLiteral("title"), e.title);
        entry.insert(QStringLiteral("body"), e.body);
        map.insert(e.language, entry);
    }
    QJsonObject inner;
    inner.insert(QStringLiteral("v"), 1);
    inner.insert(QStringLiteral("issuedAt"), issuedAt);
    inner.insert(QStringLiteral("entries"), map);
    const QString payload = base64UrlEncode(compact(inner));
    const QByteArray signature = signMessage(signingSecret32, QByteArray(kNoticePrefix) + payload.toUtf8());
    if (signature.size() != 64)
        return {};
    QJsonObject outer;
    outer.insert(QStringLiteral("payload"), payload);
    outer.insert(QStringLiteral("signature"), base64UrlEncode(signature));
    return QString::fromUtf8(compact(outer));
}

// ---------------------------------------------------------------- wallet cards

QString makeWalletCard(const velmor::identity::Identity &issuer, qint64 issuedAt)
{
    if (!issuer.isValid())
        return {};
    const QString key = issuer.publicKeyText();
    const QString address = issuer.erc20Address();
    const QByteArray signature = signMessage(issuer.privateKey, walletCardSigningBytes(key, address, issuedAt));
    if (key.isEmpty() || address.isEmpty() || signature.size() != 64)
        return {};
    QJsonObject o;
    o.insert(QStringLiteral("v"), 1);
    o.insert(QStringLiteral("identityPublicKey"), key);
    o.insert(QStringLiteral("walletAddress"), address);
    o.insert(QStringLiteral("issuedAt"), issuedAt);
    o.insert(QStringLiteral("signature"), base64UrlEncode(signature));
    return QString::fromUtf8(compact(o));
}

bool verifyWalletCard(const QString &cardJson, const QString &peerKey, QString *walletAddress, qint64 *issuedAt)
{
    if (cardJson.size() > kMaxCardBytes)
        return false;
    bool ok = false;
    const QJsonObject o = parseObject(cardJson.trimmed().toUtf8(), kMaxCardBytes, &ok);
    if (!ok)
        return false;
    const QString key = str(o, "identityPublicKey");
    const QString address = str(o, "walletAddress");
    const QJsonValue issued = o.value(QLatin1String("issuedAt"));
    const QByteArray signature = base64UrlDecode(str(o, "signature"));
    if (key.isEmpty() || !isAddressText(address) || !issued.isDouble() || signature.size() != 64)
        return false;
    const qint64 at = integer(issued, -1);
    if (at < 0 || double(at) != issued.toDouble())
        return false;
    if (!sameKey(key, peerKey))
        return false;
    const QByteArray rawKey = base64UrlDecode(key);
    if (!verifyMessage(rawKey, walletCardSigningBytes(key, address, at), signature))
        return false;
    if (walletAddress)
        *walletAddress = address.toLower();
    if (issuedAt)
        *issuedAt = at;
    return true;
}

} // namespace velmor::chat
