#include "groups/group_engine.h"

#include "groups/canonical_json.h"
#include "identity/identity.h"

#include <QJsonDocument>

namespace velmor::chat {

using velmor::crypto::base64UrlDecode;

namespace {

const QString kRecordType = QStringLiteral("velmor_group_registry");

} // namespace

// ---- registry record ----------------------------------------------------

QJsonObject GroupRegistryRecord::toJson() const
{
    return QJsonObject{
        {QStringLiteral("v"), 1},
        {QStringLiteral("type"), kRecordType},
        {QStringLiteral("groupId"), groupId},
        {QStringLiteral("idNonce"), idNonce},
        {QStringLiteral("joinKey"), joinKey},
        {QStringLiteral("ownerPublicKey"), ownerPublicKey},
        {QStringLiteral("adminProof"), adminProof},
        {QStringLiteral("name"), name},
        {QStringLiteral("avatarId"), avatarId},
        {QStringLiteral("memberCount"), memberCount},
        {QStringLiteral("visibility"), visibility},
        {QStringLiteral("epoch"), double(epoch)},
        {QStringLiteral("updatedAt"), double(updatedAt)},
    };
}

std::optional<GroupRegistryRecord> GroupRegistryRecord::fromJson(const QJsonObject &object)
{
    if (object.value(QStringLiteral("v")).toInt() != 1
        || object.value(QStringLiteral("type")).toString() != kRecordType)
        return std::nullopt;
    for (const char *key : {"groupId", "idNonce", "joinKey", "ownerPublicKey", "adminProof", "name", "avatarId", "visibility"})
        if (!object.value(QLatin1String(key)).isString())
            return std::nullopt;
    for (const char *key : {"memberCount", "epoch", "updatedAt"}) {
        const QJsonValue value = object.value(QLatin1String(key));
        if (!value.isDouble() || value.toDouble() < 0 || value.toDouble() > double(kCanonicalMaxInteger))
            return std::nullopt;
    }
    GroupRegistryRecord record;
    record.groupId = object.value(QStringLiteral("groupId")).toString();
    record.idNonce = object.value(QStringLiteral("idNonce")).toString();
    record.joinKey = object.value(QStringLiteral("joinKey")).toString();
    record.ownerPublicKey = object.value(QStringLiteral("ownerPublicKey")).toString();
    record.adminProof = object.value(QStringLiteral("adminProof")).toString();
    record.name = object.value(QStringLiteral("name")).toString();
    record.avatarId = object.value(QStringLiteral("avatarId")).toString();
    record.memberCount = object.value(QStringLiteral("memberCount")).toInt();
    record.visibility = object.value(QStringLiteral("visibility")).toString();
    record.epoch = qint64(object.value(QStringLiteral("epoch")).toDouble());
    record.updatedAt = qint64(object.value(QStringLiteral("updatedAt")).toDouble());
    if (record.groupId.isEmpty() || record.joinKey.isEmpty())
        return std::nullopt;
    return record;
}

std::optional<GroupRegistryRecord> verifyRegistryRecord(const QByteArray &recordText, const QString &signature,
                                                        const QString &expectedJoinKey)
{
    if (!isCanonicalJson(recordText))
        return std::nullopt;
    std::optional<GroupRegistryRecord> record = GroupRegistryRecord::fromJson(parseJsonObject(recordText));
    if (!record || (!expectedJoinKey.isEmpty() && record->joinKey != expectedJoinKey)
        || deriveGroupId(record->ownerPublicKey, record->idNonce) != record->groupId)
        return std::nullopt;
    if (!isSignedByGroupAdmin(recordText, signature, record->groupId, record->joinKey,
                              record->ownerPublicKey, record->adminProof))
        return std::nullopt;
    return record;
}

// ---- join requests ------------------------------------------------------

QByteArray buildGroupJoinRequest(const GroupJoinRequest &request)
{
    QJsonObject object{
        {QStringLiteral("v"), 1},
        {QStringLiteral("type"), QStringLiteral("group_join_request")},
        {QStringLiteral("groupId"), request.groupId},
        {QStringLiteral("groupJoinKey"), request.groupJoinKey},
        {QStringLiteral("groupJoinRequesterCanonicalKey"), request.requesterCanonicalKey},
        {QStringLiteral("groupJoinRequesterDisplayName"), request.requesterDisplayName},
    };
    if (!request.requesterAvatarId.isEmpty())
        object.insert(QStringLiteral("groupJoinRequesterAvatarId"), request.requesterAvatarId);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<GroupJoinRequest> parseGroupJoinRequest(const QByteArray &json)
{
    const QJsonObject object = parseJsonObject(json);
    const QJsonValue version = object.value(QStringLiteral("v"));
    if (!version.isDouble() || version.toDouble() != 1
        || object.value(QStringLiteral("type")).toString() != QLatin1String("group_join_request"))
        return std::nullopt;
    GroupJoinRequest request;
    request.groupId = object.value(QStringLiteral("groupId")).toString();
    request.groupJoinKey = object.value(QStringLiteral("groupJoinKey")).toString();
    request.requesterCanonicalKey = object.value(QStringLiteral("groupJoinRequesterCanonicalKey")).toString();
    request.requesterDisplayName = object.value(QStringLiteral("groupJoinRequesterDisplayName")).toString();
    request.requesterAvatarId = object.value(QStringLiteral("groupJoinRequesterAvatarId")).toString();
    if (request.groupId.isEmpty() || request.groupJoinKey.isEmpty() || request.requesterCanonicalKey.isEmpty())
        return std::nullopt;
    return request;
}

bool isAcceptableJoinRequest(const GroupJoinRequest &request, const QString &senderKey,
                             const QString &senderAddress, const std::optional<GroupCard> &card)
{
    if (request.requesterCanonicalKey != senderKey)
        return false;
    const QString address = velmor::identity::ethereumAddress(base64UrlDecode(senderKey));
    if (address.isEmpty())
        return false;
    if (!senderAddress.isEmpty() && senderAddress.compare(address, Qt::CaseInsensitive) != 0)
        return false;
    return card && card->groupId == request.groupId && card->joinKey() == request.groupJoinKey;
}

} // namespace velmor::chat
