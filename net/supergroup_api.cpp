#include "net/supergroup_api.h"

#include "identity/crypto.h"
#include "identity/identity.h"
#include "identity/service_login.h"
#include "identity/vault.h"
#include "net/answer_json.h"
#include "net/http.h"
#include "net/signed_login.h"
#include "net/supergroup_client.h"
#include "net/supergroup_records.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QUrl>
#include <QUuid>

namespace velmor::sg {

using velmor::net::HttpResponse;
using velmor::net::ServiceError;
using namespace velmor::sg::records;

namespace {

SuperGroupServiceClient &client()
{
    return SuperGroupServiceClient::instance();
}

// The server's own error word, else the start of the body.
QString replyDetail(const HttpResponse &reply)
{
    if (!reply.error.isEmpty())
        return reply.error;
    const QString serverError = reply.json().value(QStringLiteral("error")).toString();
    if (!serverError.isEmpty())
        return serverError;
    return QString::fromUtf8(reply.body.left(200)).trimmed();
}

ServiceError failureOf(const HttpResponse &reply, const QString &authError)
{
    if (!authError.isEmpty())
        return velmor::net::classifyError(authError);
    return velmor::net::errorFromHttp(reply.status, replyDetail(reply));
}

bool succeeded(const HttpResponse &reply, const QString &authError, ServiceError *error)
{
    if (authError.isEmpty() && reply.success)
        return true;
    if (error)
        *error = failureOf(reply, authError);
    return false;
}

// Only whether it worked is read of these answers: capped short, their
// request's body goes out at once (one whose answer may be long is held a
// moment for its read bound: net/http.cpp).
constexpr qint64 kShortAnswerBytes = 64 * 1024;

bool postForSuccess(const QString &serverUrl, const QString &path, const QJsonObject &body,
                    ServiceError *error)
{
    QString authError;
    const HttpResponse reply =
        client().request(serverUrl, "POST", path, QJsonDocument(body).toJson(QJsonDocument::Compact), &authError,
                         velmor::net::kDefaultTimeoutMs, "application/json", kShortAnswerBytes);
    const bool ok = succeeded(reply, authError, error);
    if (!ok)
        qWarning().noquote() << QStringLiteral("[SG] %1 failed url=%2 status=%3 err=%4")
                                    .arg(path, serverUrl)
                                    .arg(reply.status)
                                    .arg(authError.isEmpty() ? replyDetail(reply) : authError);
    return ok;
}

// A 2xx reply whose body is a JSON object; anything else counts as failed.
bool objectReply(const HttpResponse &reply, QJsonObject *json)
{
    if (!reply.success)
        return false;
    bool ok = false;
    *json = velmor::net::readBoundedObject(reply.body, velmor::net::kMaxAnswerValues, &ok);
    return ok;
}

// A 2xx reply whose body is a JSON object with an array under `key`: at
// most `maxEntries` of its entries go to `take`.
bool listReply(const HttpResponse &reply, QLatin1StringView key, int maxEntries,
               const std::function<void(const QJsonObject &)> &take, bool *wellFormed = nullptr)
{
    const velmor::net::ListRead read =
        reply.success ? velmor::net::readList(reply.body, key, maxEntries, take) : velmor::net::ListRead{};
    if (wellFormed)
        *wellFormed = read.object;
    return read.list;
}

SGReadState readStateOf(const HttpResponse &reply, const QString &authError)
{
    SGReadState state;
    QJsonObject json;
    if (!authError.isEmpty() || !objectReply(reply, &json)) {
        state.error = (authError.isEmpty() && reply.success)
            ? velmor::net::classifyError(QStringLiteral("read_state_invalid_response"))
            : failureOf(reply, authError);
        return state;
    }
    state.ok = true;
    state.lastReadSeq = integer(json, QStringLiteral("last_read_seq"));
    state.unread = smallInteger(json, QStringLiteral("unread"));
    return state;
}

// One media file, at most `cap` bytes (a larger one reads as none, with
// *tooLarge set).
QByteArray fetchMedia(const QString &serverUrl, const QString &path, const QString &messageId,
                      bool *answered = nullptr, qint64 cap = kMaxMediaBytes, bool *tooLarge = nullptr)
{
    if (answered)
        *answered = true;
    if (tooLarge)
        *tooLarge = false;
    if (messageId.isEmpty())
        return QByteArray();
    const QString query = QStringLiteral("?message_id=")
        + QString::fromLatin1(QUrl::toPercentEncoding(messageId));
    const HttpResponse reply = client().request(serverUrl, "GET", path + query, QByteArray(), nullptr,
                                                velmor::net::kDefaultTimeoutMs, "application/json", cap);
    if (answered)
        *answered = reply.status != 0 || reply.error == QLatin1String("response_too_large");
    if (tooLarge)
        *tooLarge = reply.error == QLatin1String("response_too_large");
    return reply.success ? reply.body : QByteArray();
}

} // namespace

SuperGroupApi &SuperGroupApi::instance()
{
    static SuperGroupApi api;
    return api;
}

// ---------------------------------------------------------------- information

SGGroupInfo SuperGroupApi::groupInfo(const QString &serverUrl)
{
    SGGroupInfo info;
    QString authError;
    const HttpResponse reply = client().getJson(serverUrl, QStringLiteral("/v1/group/info"), &authError);
    QJsonObject json;
    if (!authError.isEmpty() || !objectReply(reply, &json)) {
        qWarning().noquote() << QStringLiteral("[SG] /v1/group/info failed url=%1 status=%2 err=%3")
                                    .arg(serverUrl)
                                    .arg(reply.status)
                                    .arg(authError.isEmpty() ? replyDetail(reply) : authError);
        return info;
    }
    info.groupId = text(json, QStringLiteral("group_id"));
    info.name = text(json, QStringLiteral("name"));
    info.avatarUrl = text(json, QStringLiteral("avatar_url"));
    info.joinMode = text(json, QStringLiteral("join_mode"));
    info.memberCount = smallInteger(json, QStringLiteral("member_count"));
    info.notice = text(json, QStringLiteral("notice"));
    info.ownerPubkey = text(json, QStringLiteral("owner_pubkey"));
    info.serverEncPubkey = text(json, QStringLiteral("server_enc_pubkey"));
    info.allMuted = flag(json, QStringLiteral("all_muted"));
    info.voiceEnabled = flag(json, QStringLiteral("voice_enabled"));
    info.voiceUrl = text(json, QStringLiteral("voice_url"));
    info.ok = true;
    return info;
}

QList<SGMember> SuperGroupApi::members(const QString &serverUrl, ServiceError *error)
{
    SGMemberList list = memberList(serverUrl, QString());
    if (list.error.isError()) {
        if (error)
            *error = list.error;
        return {};
    }
    return std::move(list.members);
}

SGMemberList SuperGroupApi::memberList(const QString &serverUrl, const QString &ownKey)
{
    QString authError;
    const HttpResponse reply = client().getJson(serverUrl, QStringLiteral("/v1/members"), &authError);
    SGMemberList list;
    // Entries past the bound are looked at only when their text holds the
    // user's key, or an escape that might spell it: the key's own bytes are
    // plain base64url.
    const QByteArray ownBytes = ownKey.toUtf8();
    const auto mayBeOwn = [&ownBytes](QByteArrayView entry) {
        return entry.contains(QByteArrayView(ownBytes)) || entry.contains('\\');
    };
    const auto memberOf = [](const QJsonObject &entry) {
        SGMember member;
        member.pubkey = text(entry, QStringLiteral("pubkey"));
        if (member.pubkey.isEmpty())
            return member;
        member.displayName = text(entry, QStringLiteral("display_name"));
        member.avatarUrl = text(entry, QStringLiteral("avatar_url"));
        member.role = text(entry, QStringLiteral("role"));
        member.address = text(entry, QStringLiteral("address"));
        member.avatarKind = text(entry, QStringLiteral("avatar_kind"));
        member.avatarId = text(entry, QStringLiteral("avatar_id"));
        member.muted = flag(entry, QStringLiteral("muted"));
        return member;
    };
    const auto keep = [&](const QJsonObject &entry, bool pastBound) {
        SGMember member = memberOf(entry);
        if (member.pubkey.isEmpty())
            return;
        const bool mine = !ownKey.isEmpty() && member.pubkey == ownKey && list.own < 0;
        if (pastBound && !mine)
            return; // past the bound only the user's own entry is kept
        if (mine)
            list.own = int(list.members.size());
        list.members.append(std::move(member));
    };
    velmor::net::ListRead read;
    if (authError.isEmpty() && reply.success) {
        read = velmor::net::readList(
            reply.body, QLatin1StringView("members"), kMaxMembers,
            [&keep](const QJsonObject &entry) { keep(entry, false); },
            ownKey.isEmpty() ? std::function<bool(QByteArrayView)>() : mayBeOwn,
            [&keep](const QJsonObject &entry) { keep(entry, true); });
    }
    if (read.list) {
        list.total = read.total;
        list.partial = read.total > read.entries;
        return list;
    }
    // Nothing was taken: entries are taken only from a list that was found.
    const bool wellFormed = read.object;
    if (!authError.isEmpty() || !wellFormed) {
        qWarning().noquote() << QStringLiteral("[SG] /v1/members failed url=%1 status=%2 err=%3")
                                    .arg(serverUrl)
                                    .arg(reply.status)
                                    .arg(authError.isEmpty() ? replyDetail(reply) : authError);
    }
    list.error = wellFormed ? ServiceError() : failureOf(reply, authError);
    // A 2xx answer that is no JSON object, or has no list, is still a failure.
    if (!list.error.isError())
        list.error = velmor::net::classifyError(QStringLiteral("invalid_response"));
    return list;
}

bool SuperGroupApi::updateGroup(const QString &serverUrl, const QString &name,
                                const QString &avatarUrl, const QString &joinMode,
                                const QString &notice, ServiceError *error)
{
    return postForSuccess(serverUrl, QStringLiteral("/v1/group/update"),
                          QJsonObject{{QStringLiteral("name"), name},
                                      {QStringLiteral("avatar_url"), avatarUrl},
                                      {QStringLiteral("join_mode"), joinMode},
                                      {QStringLiteral("notice"), notice}},
                          error);
}

bool SuperGroupApi::setGroupMuted(const QString &serverUrl, bool muted, ServiceError *error)
{
    return postForSuccess(serverUrl, QStringLiteral("/v1/group/mute"),
                          QJsonObject{{QStringLiteral("muted"), muted}}, error);
}

bool SuperGroupApi::updateMemberProfile(const QString &serverUrl, const QString &displayName,
                                        const QString &avatarUrl, ServiceError *error)
{
    return postForSuccess(serverUrl, QStringLiteral("/v1/member/profile"),
                          QJsonObject{{QStringLiteral("display_name"), displayName},
                                      {QStringLiteral("avatar_url"), avatarUrl}},
                          error);
}

bool SuperGroupApi::setMemberMuted(const QString &serverUrl, bool muted, ServiceError *error)
{
    return postForSuccess(serverUrl, QStringLiteral("/v1/member/mute"),
                          QJsonObject{{QStringLiteral("muted"), muted}}, error);
}

bool SuperGroupApi::inviteMember(const QString &serverUrl, const QString &pubkey,
                                 const QString &displayName, const QString &avatarUrl,
                                 ServiceError *error)
{
    return postForSuccess(serverUrl, QStringLiteral("/v1/member/invite"),
                          QJsonObject{{QStringLiteral("pubkey"), pubkey},
                                      {QStringLiteral("display_name"), displayName},
                                      {QStringLiteral("avatar_url"), avatarUrl}},
                          error);
}

bool SuperGroupApi::removeMember(const QString &serverUrl, const QString &pubkey, ServiceError *error)
{
    return postForSuccess(serverUrl, QStringLiteral("/v1/member/remove"),
                          QJsonObject{{QStringLiteral("pubkey"), pubkey}}, error);
}

bool SuperGroupApi::setMemberRole(const QString &serverUrl, const QString &pubkey,
                                  const QString &role, ServiceError *error)
{
    if (role != QLatin1String("admin") && role != QLatin1String("member")) {
        if (error)
            *error = velmor::net::classifyError(QStringLiteral("invalid_role"));
        return false;
    }
    return postForSuccess(serverUrl, QStringLiteral("/v1/member/role"),
                          QJsonObject{{QStringLiteral("pubkey"), pubkey},
                                      {QStringLiteral("role"), role}},
                          error);
}

// ---------------------------------------------------------------- joining

SGJoinResult SuperGroupApi::requestJoin(const QString &serverUrl, const QString &note)
{
    SGJoinResult result;
    const velmor::identity::Identity me = SuperGroupServiceClient::identity();
    if (me.privateKey.size() != 32) {
        result.error = QStringLiteral("no_identity");
        result.serviceError = velmor::net::classifyError(result.error);
        return result;
    }
    const QString base = velmor::net::normaliseBaseUrl(serverUrl);
    const QString pubkey = me.publicKeyText();
    HttpResponse challengeReply;
    const QString challenge = velmor::net::requestChallenge(
        base, QStringLiteral("pubkey"), pubkey, kChallengeTimeoutMs, &challengeReply);
    if (challenge.isEmpty()) {
        if (challengeReply.success) {
            result.error = QStringLiteral("challenge_missing");
            result.serviceError = velmor::net::classifyError(result.error);
        } else {
            result.error = QStringLiteral("challenge_%1").arg(challengeReply.status);
            result.serviceError = velmor::net::errorFromHttp(challengeReply.status,
                                                             replyDetail(challengeReply));
        }
        return result;
    }
    if (!velmor::identity::isWellFormedChallenge(challenge)) {
        result.error = QStringLiteral("challenge_invalid");
        result.serviceError = velmor::net::classifyError(result.error);
        return result;
    }
    const QString signature = velmor::net::signChallenge(me, base, challenge);
    if (signature.isEmpty()) {
        result.error = QStringLiteral("sign_failed");
        result.serviceError = velmor::net::classifyError(result.error);
        return result;
    }
    const QString avatar = QString::fromUtf8(CredentialVault::read(QStringLiteral("avatar")));
    const HttpResponse reply = velmor::net::postJson(
        velmor::net::endpoint(base, QStringLiteral("/v1/join/request")),
        QJsonObject{{QStringLiteral("pubkey"), pubkey},
                    {QStringLiteral("challenge"), challenge},
                    {QStringLiteral("signature"), signature},
                    {QStringLiteral("note"), note},
                    {QStringLiteral("avatar_url"), avatar}});
    if (!reply.success) {
        result.error = QStringLiteral("join_http_%1").arg(reply.status);
        result.serviceError = velmor::net::errorFromHttp(reply.status, replyDetail(reply));
        qWarning().noquote() << QStringLiteral("[SG] /v1/join/request failed url=%1 status=%2 err=%3")
                                    .arg(base)
                                    .arg(reply.status)
                                    .arg(replyDetail(reply));
        return result;
    }
    result.ok = true;
    result.status = reply.json().value(QStringLiteral("status")).toString();
    return result;
}

QList<SGJoinRequest> SuperGroupApi::pendingJoins(const QString &serverUrl, bool *answered)
{
    if (answered)
        *answered = false;
    QString authError;
    const HttpResponse reply = client().postJson(serverUrl, QStringLiteral("/v1/join/pending"),
                                                 QJsonObject(), &authError);
    QList<SGJoinRequest> list;
    const bool listed = authError.isEmpty()
        && listReply(reply, QLatin1StringView("requests"), kMaxJoinRequests, [&list](const QJsonObject &entry) {
               if (entry.value(QStringLiteral("status")).toString() != QLatin1String("pending"))
                   return;
               SGJoinRequest request;
               request.pubkey = text(entry, QStringLiteral("pubkey"));
               if (request.pubkey.isEmpty())
                   return;
               request.note = text(entry, QStringLiteral("note"));
               request.createdAt = integer(entry, QStringLiteral("created_at"));
               list.append(request);
           });
    if (!listed)
        return {};
    if (answered)
        *answered = true;
    return list;
}

bool SuperGroupApi::decideJoin(const QString &serverUrl, const QString &pubkey,
                               const QString &action, ServiceError *error)
{
    if (pubkey.isEmpty()
        || (action != QLatin1String("approve") && action != QLatin1String("reject")
            && action != QLatin1String("block"))) {
        if (error)
            *error = velmor::net::classifyError(QStringLiteral("invalid_join_decision"));
        return false;
    }
    return postForSuccess(serverUrl, QStringLiteral("/v1/join/") + action,
                          QJsonObject{{QStringLiteral("pubkey"), pubkey}}, error);
}

// ---------------------------------------------------------------- messages

QList<SGMessage> SuperGroupApi::pullMessages(const QString &serverUrl, qint64 sinceSeq, int limit,
                                            const std::function<bool(const QString &)> &haveMedia)
{
    QString authError;
    const HttpResponse reply = client().postJson(
        serverUrl, QStringLiteral("/v1/message/pull"),
        QJsonObject{{QStringLiteral("since_seq"), sinceSeq}, {QStringLiteral("limit"), limit}},
        &authError);
    const QByteArray secret = SuperGroupServiceClient::identity().privateKey;
    // Once a media request gets no answer at all, the rest of this batch is
    // taken without media rather than waiting out one time-out per message.
    bool serverAnswers = true;
    // The media fetched for one pull share one budget; once a file does not
    // fit in what is left, the rest of the batch goes without fetched media
    // (the views fetch it one by one).
    qint64 mediaBudget = kPullMediaBudgetBytes;
    auto completeMedia = [&](const QString &path, const QString &messageId, QString *data) {
        if (!serverAnswers || mediaBudget <= 0 || !data->isEmpty())
            return;
        if (haveMedia && haveMedia(messageId))
            return;
        bool tooLarge = false;
        const QByteArray bytes = fetchMedia(serverUrl, path, messageId, &serverAnswers,
                                            qMin(kMaxMediaBytes, mediaBudget), &tooLarge);
        if (tooLarge) {
            qWarning().noquote() << QStringLiteral("[SG] %1 over the pull's media budget url=%2 message=%3")
                                        .arg(path, serverUrl, messageId);
            mediaBudget = 0;
            return;
        }
        mediaBudget -= bytes.size();
        if (!bytes.isEmpty())
            *data = velmor::crypto::base64UrlEncode(bytes);
    };
    // Only the messages asked for are built, one at a time: the entries of
    // "messages" past `limit` are passed over, whatever the answer holds.
    QList<SGMessage> list;
    bool wellFormed = false;
    if (authError.isEmpty()) {
        listReply(reply, QLatin1StringView("messages"), qMax(0, limit), [&](const QJsonObject &entry) {
            SGMessage message = parseMessage(entry, secret);
            if (message.hasContent && message.type == QLatin1String("image"))
                completeMedia(QStringLiteral("/v1/image/get"), message.messageId, &message.imageData);
            if (message.hasContent && message.type == QLatin1String("voice"))
                completeMedia(QStringLiteral("/v1/voice/get"), message.messageId, &message.voiceData);
            list.append(message);
        }, &wellFormed);
    }
    if (!wellFormed) {
        qWarning().noquote() << QStringLiteral("[SG] /v1/message/pull failed url=%1 status=%2 err=%3")
                                    .arg(serverUrl)
                                    .arg(reply.status)
                                    .arg(authError.isEmpty() ? replyDetail(reply) : authError);
        return {};
    }
    return list;
}

QByteArray SuperGroupApi::fetchImage(const QString &serverUrl, const QString &messageId)
{
    return fetchMedia(serverUrl, QStringLiteral("/v1/image/get"), messageId);
}

QByteArray SuperGroupApi::fetchVoice(const QString &serverUrl, const QString &messageId)
{
    return fetchMedia(serverUrl, QStringLiteral("/v1/voice/get"), messageId);
}

SGReadState SuperGroupApi::readState(const QString &serverUrl)
{
    QString authError;
    const HttpResponse reply = client().getJson(serverUrl, QStringLiteral("/v1/message/read"), &authError);
    return readStateOf(reply, authError);
}

SGReadState SuperGroupApi::markRead(const QString &serverUrl, qint64 lastReadSeq)
{
    QString authError;
    const HttpResponse reply = client().postJson(
        serverUrl, QStringLiteral("/v1/message/read"),
        QJsonObject{{QStringLiteral("last_read_seq"), lastReadSeq}}, &authError);
    return readStateOf(reply, authError);
}

SGSendResult SuperGroupApi::send(const QString &url, const QString &serverKey, const QString &type,
                                 QJsonObject content, const QString &displayName,
                                 const QString &messageId)
{
    SGSendResult result;
    if (serverKey.isEmpty()) {
        result.error = QStringLiteral("server_encryption_key_missing");
        return result;
    }
    const QByteArray recipient = velmor::crypto::normalisePublicKey(
        velmor::crypto::base64UrlDecode(serverKey));
    if (recipient.isEmpty()) {
        // Nothing can be sealed to a key that does not decode.
        result.error = QStringLiteral("encrypt_failed");
        return result;
    }
    const velmor::identity::Identity me = SuperGroupServiceClient::identity();
    if (!me.isValid()) {
        result.error = QStringLiteral("no_identity");
        return result;
    }
    content.insert(QStringLiteral("type"), type);
    content.insert(QStringLiteral("senderDisplayName"), displayName);
    content.insert(QStringLiteral("senderAddress"), me.erc20Address());
    const QString avatar = QString::fromUtf8(CredentialVault::read(QStringLiteral("avatar")));
    if (!avatar.isEmpty())
        content.insert(QStringLiteral("senderAvatarId"), avatar);
    const QString sealed = Ecies::seal(recipient, QJsonDocument(content).toJson(QJsonDocument::Compact));
    if (sealed.isEmpty()) {
        result.error = QStringLiteral("encrypt_failed");
        return result;
    }
    const QString id = messageId.isEmpty() ? QUuid::createUuid().toString(QUuid::WithoutBraces)
                                           : messageId;
    QString authError;
    const HttpResponse reply = client().postJson(
        url, QStringLiteral("/v1/message/send"),
        QJsonObject{{QStringLiteral("message_id"), id},
                    {QStringLiteral("type"), type},
                    {QStringLiteral("enc_content"), sealed}},
        &authError);
    if (!authError.isEmpty()) {
        result.error = authError;
        return result;
    }
    const QJsonObject json = reply.json();
    const QString serverError = json.value(QStringLiteral("error")).toString();
    if (!reply.success) {
        // No answer at all is "send_http_0", which classifies as a network failure.
        qWarning().noquote() << QStringLiteral("[SG] /v1/message/send failed url=%1 status=%2 err=%3")
                                    .arg(url)
                                    .arg(reply.status)
                                    .arg(replyDetail(reply));
        result.error = QStringLiteral("send_http_%1").arg(reply.status);
        return result;
    }
    if (json.value(QStringLiteral("ok")).isBool() && !json.value(QStringLiteral("ok")).toBool()) {
        result.error = serverError.isEmpty() ? QStringLiteral("send_rejected") : serverError;
        return result;
    }
    result.ok = true;
    return result;
}

SGSendResult SuperGroupApi::sendText(const QString &url, const QString &serverKey,
                                     const QString &text, const QString &displayName,
                                     const QString &messageId)
{
    if (text.trimmed().isEmpty())
        return SGSendResult{false, QStringLiteral("empty_text")};
    return send(url, serverKey, QStringLiteral("text"), QJsonObject{{QStringLiteral("text"), text}},
                displayName, messageId);
}

SGSendResult SuperGroupApi::sendImage(const QString &url, const QString &serverKey,
                                      const QByteArray &jpeg, int width, int height,
                                      const QString &displayName, const QString &messageId)
{
    if (jpeg.isEmpty())
        return SGSendResult{false, QStringLiteral("empty_image")};
    return send(url, serverKey, QStringLiteral("image"),
                QJsonObject{{QStringLiteral("imageB64"), velmor::crypto::base64UrlEncode(jpeg)},
                            {QStringLiteral("mime"), QStringLiteral("image/jpeg")},
                            {QStringLiteral("width"), width},
                            {QStringLiteral("height"), height}},
                displayName, messageId);
}

SGSendResult SuperGroupApi::sendVoice(const QString &url, const QString &serverKey,
                                      const QByteArray &audio, int durationMs,
                                      const QList<int> &waveform, const QString &displayName,
                                      const QString &messageId)
{
    if (audio.isEmpty())
        return SGSendResult{false, QStringLiteral("empty_voice")};
    QJsonArray levels;
    for (int level : waveform)
        levels.append(level);
    return send(url, serverKey, QStringLiteral("voice"),
                QJsonObject{{QStringLiteral("voiceB64"), velmor::crypto::base64UrlEncode(audio)},
                            {QStringLiteral("durationMs"), qMax(durationMs, 0)},
                            {QStringLiteral("waveform"), levels}},
                displayName, messageId);
}

// ---------------------------------------------------------------- voice rooms

SGVoiceStatus SuperGroupApi::voiceStatus(const QString &serverUrl)
{
    SGVoiceStatus status;
    QString authError;
    const HttpResponse reply = client().getJson(serverUrl, QStringLiteral("/v1/voice/status"), &authError);
    QJsonObject json;
    if (!authError.isEmpty() || !objectReply(reply, &json)) {
        status.error = (authError.isEmpty() && reply.success)
            ? velmor::net::classifyError(QStringLiteral("voice_status_invalid_response"))
            : failureOf(reply, authError);
        return status;
    }
    status.ok = true;
    status.open = flag(json, QStringLiteral("open"));
    status.canOpen = flag(json, QStringLiteral("can_open"));
    status.ownerPubkey = text(json, QStringLiteral("owner_pubkey"));
    status.openerPubkey = text(json, QStringLiteral("opener_pubkey"));
    status.url = text(json, QStringLiteral("url"));
    status.room = text(json, QStringLiteral("room"));
    for (const QJsonValue &value : json.value(QStringLiteral("speakers")).toArray()) {
        const QString key = value.isObject() ? text(value.toObject(), QStringLiteral("pubkey"))
                                             : value.toString();
        if (!key.isEmpty())
            status.speakers.append(key);
    }
    return status;
}

bool SuperGroupApi::openVoiceRoom(const QString &serverUrl, ServiceError *error)
{
    QString authError;
    const HttpResponse reply = client().postJson(serverUrl, QStringLiteral("/v1/voice/open"),
                                                 QJsonObject(), &authError);
    if (!succeeded(reply, authError, error))
        return false;
    if (!reply.json().value(QStringLiteral("ok")).toBool()) {
        if (error)
            *error = velmor::net::classifyError(QStringLiteral("voice_open_rejected"));
        return false;
    }
    return true;
}

SGVoiceToken SuperGroupApi::voiceToken(const QString &serverUrl)
{
    SGVoiceToken token;
    QString authError;
    const HttpResponse reply = client().postJson(serverUrl, QStringLiteral("/v1/voice/token"),
                                                 QJsonObject(), &authError);
    if (!succeeded(reply, authError, &token.error))
        return token;
    const QJsonObject json = reply.json();
    token.canPublish = flag(json, QStringLiteral("can_publish"));
    token.url = text(json, QStringLiteral("url"));
    token.token = text(json, QStringLiteral("token"));
    token.room = text(json, QStringLiteral("room"));
    token.ownerPubkey = text(json, QStringLiteral("owner_pubkey"));
    token.openerPubkey = text(json, QStringLiteral("opener_pubkey"));
    token.ok = !token.url.isEmpty() && !token.token.isEmpty() && !token.room.isEmpty();
    if (!token.ok) {
        token.error = velmor::net::classifyError(QStringLiteral("voice_token_invalid_response"));
        token.error.httpStatus = reply.status;
    } else if (!velmor::net::isAllowedEndpoint(QUrl(token.url, QUrl::StrictMode))) {
        // The room token goes wherever this address points: like every other
        // connection, TLS unless the media server is on this machine.
        token.ok = false;
        token.error = velmor::net::classifyError(QStringLiteral("voice_url_insecure"));
        token.error.httpStatus = reply.status;
    }
    return token;
}

bool SuperGroupApi::closeVoiceRoom(const QString &serverUrl, ServiceError *error)
{
    return postForSuccess(serverUrl, QStringLiteral("/v1/voice/close"), QJsonObject(), error);
}

bool SuperGroupApi::grantSpeaker(const QString &serverUrl, const QString &pubkey, ServiceError *error)
{
    return postForSuccess(serverUrl, QStringLiteral("/v1/voice/grant"),
                          QJsonObject{{QStringLiteral("pubkey"), pubkey}}, error);
}

bool SuperGroupApi::revokeSpeaker(const QString &serverUrl, const QString &pubkey, ServiceError *error)
{
    return postForSuccess(serverUrl, QStringLiteral("/v1/voice/revoke"),
                          QJsonObject{{QStringLiteral("pubkey"), pubkey}}, error);
}

} // namespace velmor::sg
