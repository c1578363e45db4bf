#include "net/supergroup_records.h"

#include "identity/crypto.h"
#include "identity/identity.h"
#include "net/http.h"
#include "net/supergroup_api.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonValue>

#include <climits>

namespace velmor::sg {

namespace records {

QString text(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (value.isString())
        return value.toString();
    if (value.isDouble())
        return QString::number(velmor::net::jsonInteger(value));
    return QString();
}

qint64 integer(const QJsonObject &object, const QString &key)
{
    return velmor::net::jsonInteger(object.value(key));
}

int smallInteger(const QJsonObject &object, const QString &key)
{
    const qint64 value = integer(object, key);
    return value < INT_MIN || value > INT_MAX ? 0 : int(value);
}

bool flag(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (value.isBool())
        return value.toBool();
    if (value.isDouble())
        return value.toDouble() != 0;
    return false;
}

} // namespace records

using namespace records;

SGMessage SuperGroupApi::parseMessage(const QJsonObject &message, const QByteArray &secretKey)
{
    SGMessage m;
    m.seq = integer(message, QStringLiteral("seq"));
    m.messageId = text(message, QStringLiteral("message_id"));
    m.senderPubkey = text(message, QStringLiteral("sender_pubkey"));
    m.event = text(message, QStringLiteral("event"));
    m.createdAt = integer(message, QStringLiteral("created_at"));

    QJsonObject content;
    const QString sealed = message.value(QStringLiteral("enc_content")).toString();
    if (!sealed.isEmpty() && secretKey.size() == 32) {
        const QByteArray plain = Ecies::open(sealed, secretKey);
        if (!plain.isEmpty()) {
            const QJsonDocument document = QJsonDocument::fromJson(plain);
            if (document.isObject())
                content = document.object();
        }
    }
    if (content.isEmpty() && message.value(QStringLiteral("content")).isObject())
        content = message.value(QStringLiteral("content")).toObject();
    m.hasContent = !content.isEmpty();

    // The content (camelCase or snake_case keys) wins over the outer
    // snake_case fields, which nothing seals: where an outer field says
    // something else than the content, the server has rewritten the message
    // and it is refused. A message without content keeps its outer fields.
    bool disagrees = false;
    auto pick = [&](const QString &snake, const QString &camel) {
        QString inner = text(content, camel);
        if (inner.isEmpty())
            inner = text(content, snake);
        const QString outer = text(message, snake);
        if (!m.hasContent)
            return outer;
        if (!outer.isEmpty() && outer != inner)
            disagrees = true;
        return inner;
    };

    // The type is also sent outside the box by the sender itself; content
    // that names none takes it from there.
    m.type = text(content, QStringLiteral("type"));
    if (m.type.isEmpty())
        m.type = text(message, QStringLiteral("type"));
    else if (!text(message, QStringLiteral("type")).isEmpty() && text(message, QStringLiteral("type")) != m.type)
        disagrees = true;
    m.text = pick(QStringLiteral("text"), QStringLiteral("text"));
    m.senderAddress = pick(QStringLiteral("sender_address"), QStringLiteral("senderAddress"));
    m.senderDisplayName = pick(QStringLiteral("sender_display_name"), QStringLiteral("senderDisplayName"));
    m.senderAvatarKind = pick(QStringLiteral("sender_avatar_kind"), QStringLiteral("senderAvatarKind"));
    m.senderAvatarId = pick(QStringLiteral("sender_avatar_id"), QStringLiteral("senderAvatarId"));
    m.imageData = pick(QStringLiteral("image_b64"), QStringLiteral("imageB64"));
    m.mime = pick(QStringLiteral("mime"), QStringLiteral("mime"));
    m.width = pick(QStringLiteral("width"), QStringLiteral("width")).toInt();
    m.height = pick(QStringLiteral("height"), QStringLiteral("height")).toInt();
    m.voiceData = pick(QStringLiteral("voice_b64"), QStringLiteral("voiceB64"));
    m.durationMs = pick(QStringLiteral("duration_ms"), QStringLiteral("durationMs")).toInt();
    if (m.hasContent) {
        // The sender the outer field names must be the one the content names.
        const QByteArray senderKey = velmor::crypto::normalisePublicKey(
            velmor::crypto::base64UrlDecode(m.senderPubkey), true);
        const QString innerKey = text(content, QStringLiteral("senderPubkey")).isEmpty()
            ? text(content, QStringLiteral("sender_pubkey"))
            : text(content, QStringLiteral("senderPubkey"));
        if (!innerKey.isEmpty()
            && velmor::crypto::normalisePublicKey(velmor::crypto::base64UrlDecode(innerKey), true) != senderKey)
            disagrees = true;
        if (!senderKey.isEmpty() && !m.senderAddress.isEmpty()
            && m.senderAddress.compare(velmor::identity::ethereumAddress(senderKey), Qt::CaseInsensitive) != 0)
            disagrees = true;
    }
    if (disagrees) {
        qWarning().noquote() << QStringLiteral("[SG] message refused: outer fields disagree with its content id=%1 seq=%2")
                                    .arg(m.messageId)
                                    .arg(m.seq);
        SGMessage refused;
        refused.seq = m.seq;
        refused.messageId = m.messageId;
        refused.senderPubkey = m.senderPubkey;
        refused.createdAt = m.createdAt;
        refused.rejectReason = QStringLiteral("content_mismatch");
        return refused;
    }
    return m;
}

} // namespace velmor::sg
