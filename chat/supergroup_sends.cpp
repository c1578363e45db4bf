#include "chat/supergroup_sends.h"

#include "chat/peer_keys.h"
#include "identity/crypto.h"
#include "net/supergroup_api.h"
#include "net/supergroup_client.h"
#include "store/chat_store.h"

#include <QDebug>
#include <QJsonDocument>
#include <QRegularExpression>

namespace velmor::chat {

namespace {

const QString kServerKey = QStringLiteral("sg_url");
const QString kIdKey = QStringLiteral("message_id");
const QString kNameKey = QStringLiteral("display_name");

RelaySendResult failure(const QString &error)
{
    RelaySendResult result;
    result.error = error;
    result.retryable = superGroupFailureRetryable(error);
    return result;
}

} // namespace

QString superGroupRequest(const MessageRecord &row, const QString &displayName)
{
    QJsonObject request{{kServerKey, serverUrlOfPeer(row.peer_raw_public_key)}, {kIdKey, row.id}};
    if (!displayName.isEmpty())
        request.insert(kNameKey, displayName);
    return QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact));
}

bool isSuperGroupRequest(const QJsonObject &object)
{
    return object.value(kServerKey).isString() && object.value(kIdKey).isString();
}

QString superGroupDisplayName(const QString &serverUrl, const QString &myKey)
{
    return ChatStore::instance().superGroupMember(serverUrl, myKey).value_or(SuperGroupMemberRecord()).display_name;
}

bool superGroupFailureRetryable(const QString &error)
{
    // "send_http_0": no answer at all; a login that failed ("sg_…"), or a
    // post made while another identity was in, may pass later.
    static const QRegularExpression status(QStringLiteral("^(?:send_http|sg_challenge|sg_verify)_(\\d+)$"));
    const QRegularExpressionMatch match = status.match(error);
    if (match.hasMatch()) {
        const int code = match.captured(1).toInt();
        return code == 0 || code >= 500 || code == 408 || code == 429;
    }
    return error.startsWith(QLatin1String("sg_")) || error == QLatin1String("session_changed");
}

RelaySendResult postSuperGroupRequest(const QJsonObject &request, const MessageRecord &row)
{
    const QString url = request.value(kServerKey).toString();
    const QString id = request.value(kIdKey).toString();
    if (url.isEmpty() || id.isEmpty() || id != row.id || serverUrlOfPeer(row.peer_raw_public_key) != url)
        return failure(QStringLiteral("invalid_request"));
    // Posted under its sender's identity or not at all: another one signed
    // in since would log in to the group and post it as theirs.
    if (velmor::sg::SuperGroupServiceClient::identity().publicKeyText() != row.sender_raw_public_key)
        return failure(QStringLiteral("session_changed"));
    ChatStore &store = ChatStore::instance();
    QString key = store.superGroup(url).value_or(SuperGroupRecord()).server_enc_public_key;
    velmor::sg::SuperGroupApi &api = velmor::sg::SuperGroupApi::instance();
    if (key.isEmpty()) {
        const velmor::sg::SGGroupInfo info = api.groupInfo(url);
        key = info.serverEncPubkey;
        if (key.isEmpty())
            qWarning() << "[SG] send: enc key still empty after info fetch, url=" << url << "infoValid=" << info.ok;
    }
    const QString name = request.contains(kNameKey) ? request.value(kNameKey).toString()
                                                    : superGroupDisplayName(url, row.sender_raw_public_key);
    const QJsonObject media = QJsonDocument::fromJson(row.attachment.toUtf8()).object();
    const QString kind = media.value(QStringLiteral("kind")).toString();
    const QByteArray bytes = velmor::crypto::base64UrlDecode(media.value(QStringLiteral("b64")).toString());
    velmor::sg::SGSendResult sent;
    if (kind == QLatin1String("image"))
        sent = api.sendImage(url, key, bytes, media.value(QStringLiteral("w")).toInt(),
                             media.value(QStringLiteral("h")).toInt(), name, id);
    else if (kind == QLatin1String("voice"))
        sent = api.sendVoice(url, key, bytes, media.value(QStringLiteral("dur")).toInt(), {}, name, id);
    else
        sent = api.sendText(url, key, row.text, name, id);
    if (sent.ok) {
        RelaySendResult result;
        result.ok = true;
        result.messageId = id;
        return result;
    }
    return failure(sent.error.isEmpty() ? QStringLiteral("send_failed") : sent.error);
}

} // namespace velmor::chat
