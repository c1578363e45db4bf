#include "net/supergroup_center.h"

#include "net/http.h"
#include "net/supergroup_client.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QMutex>
#include <QMutexLocker>

#include <climits>


namespace velmor::sg {

using velmor::net::HttpResponse;

namespace {

QMutex &overrideMutex()
{
    static QMutex mutex;
    return mutex;
}

QString &overrideUrl()
{
    static QString url;
    return url;
}

QString text(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isString())
        return value.toString();
    if (value.isDouble())
        return QString::number(velmor::net::jsonInteger(value));
    return QString();
}

qint64 integer(const QJsonObject &object, const char *key)
{
    return velmor::net::jsonInteger(object.value(QLatin1String(key)));
}

// Only a JSON number counts; a count beyond int is no count at all.
int count(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble())
        return 0;
    const qint64 number = velmor::net::jsonInteger(value);
    return number < INT_MIN || number > INT_MAX ? 0 : int(number);
}

// One group as the centre describes it, in a creation reply or in the list.
SGMyGroup groupFromJson(const QJsonObject &json)
{
    SGMyGroup group;
    group.serverId = text(json, "server_id");
    group.serverUrl = velmor::net::normaliseBaseUrl(text(json, "server_url"));
    group.groupId = text(json, "group_id");
    group.name = text(json, "name");
    group.ownerPubkey = text(json, "owner_pubkey");
    group.serviceExpiresAt = integer(json, "service_expires_at");
    // Only a text counts: a missing or null status keeps "pending".
    const QJsonValue status = json.value(QStringLiteral("deploy_status"));
    if (status.isString())
        group.deployStatus = status.toString();
    group.deployMessage = text(json, "deploy_message");
    group.serverType = text(json, "server_type");
    return group;
}

} // namespace

QString SuperGroupCenter::defaultBaseUrl()
{
    return QStringLiteral(PELORIN_GROUP_CENTER_URL);
}

QString SuperGroupCenter::baseUrl()
{
    QMutexLocker locker(&overrideMutex());
    return overrideUrl().isEmpty() ? defaultBaseUrl() : overrideUrl();
}

void SuperGroupCenter::setBaseUrl(const QString &url)
{
    QMutexLocker locker(&overrideMutex());
    overrideUrl() = velmor::net::normaliseBaseUrl(url);
}

SGCapacity SuperGroupCenter::capacity()
{
    return capacity(baseUrl());
}

SGCapacity SuperGroupCenter::capacity(const QString &centerUrl)
{
    SGCapacity result;
    const HttpResponse reply = velmor::net::getJson(
        velmor::net::endpoint(velmor::net::normaliseBaseUrl(centerUrl), QStringLiteral("/v1/capacity")),
        QString(), kCenterTimeoutMs);
    if (reply.status == 0) {
        result.error = QStringLiteral("capacity_net:%1").arg(reply.error);
        return result;
    }
    if (!reply.success) {
        result.error = QStringLiteral("capacity_http_%1").arg(reply.status);
        return result;
    }
    const QJsonObject json = reply.json();
    result.ok = true;
    result.standardAvailable = count(json, "standard_available");
    result.premiumAvailable = count(json, "premium_available");
    return result;
}

SGCreateResult SuperGroupCenter::createGroup(const QString &creationKey, const QString &groupName,
                                             const QString &groupType)
{
    return createGroup(baseUrl(), creationKey, groupName, groupType);
}

SGCreateResult SuperGroupCenter::createGroup(const QString &centerUrl, const QString &creationKey,
                                             const QString &groupName, const QString &groupType)
{
    SGCreateResult result;
    QString authError;
    const HttpResponse reply = SuperGroupServiceClient::instance().postJson(
        centerUrl, QStringLiteral("/v1/group/create"),
        QJsonObject{{QStringLiteral("creation_key"), creationKey},
                    {QStringLiteral("group_name"), groupName},
                    {QStringLiteral("group_type"), groupType}},
        &authError, kCenterTimeoutMs);
    if (!authError.isEmpty()) {
        result.error = authError;
        return result;
    }
    if (reply.status == 0) {
        result.error = QStringLiteral("create_net:%1").arg(reply.error);
        return result;
    }
    const QJsonObject json = reply.json();
    const QString serverError = json.value(QStringLiteral("error")).toString();
    if (!reply.success || !serverError.isEmpty()) {
        result.error = serverError.isEmpty() ? QStringLiteral("create_failed") : serverError;
        return result;
    }
    SGMyGroup group = groupFromJson(json);
    if (group.serverId.isEmpty() || group.serverUrl.isEmpty() || group.groupId.isEmpty()) {
        result.error = QStringLiteral("create_invalid_response");
        return result;
    }
    // The reply names the new server; name and type are the ones asked for.
    group.name = groupName;
    group.serverType = groupType;
    if (group.ownerPubkey.isEmpty())
        group.ownerPubkey = SuperGroupServiceClient::identity().publicKeyText();
    result.ok = true;
    result.group = group;
    return result;
}

QList<SGMyGroup> SuperGroupCenter::myGroups(QString &error)
{
    return myGroups(baseUrl(), error);
}

QList<SGMyGroup> SuperGroupCenter::myGroups(const QString &centerUrl, QString &error)
{
    error.clear();
    QString authError;
    const HttpResponse reply = SuperGroupServiceClient::instance().getJson(
        centerUrl, QStringLiteral("/v1/my/groups"), &authError, kCenterTimeoutMs);
    if (!authError.isEmpty()) {
        error = authError;
        return {};
    }
    if (reply.status == 0) {
        error = QStringLiteral("my_groups_net:%1").arg(reply.error);
        return {};
    }
    if (!reply.success) {
        error = QStringLiteral("my_groups_http_%1").arg(reply.status);
        return {};
    }
    // An unreadable list must not pass for an empty one: the caller would
    // drop every group it shows.
    const QJsonValue groups = reply.json().value(QStringLiteral("groups"));
    if (!groups.isArray()) {
        error = QStringLiteral("my_groups_invalid_response");
        return {};
    }
    QList<SGMyGroup> list;
    for (const QJsonValue &value : groups.toArray()) {
        if (!value.isObject())
            continue;
        const SGMyGroup group = groupFromJson(value.toObject());
        if (group.serverUrl.isEmpty())
            continue; // a group that cannot be reached is of no use to the caller
        list.append(group);
    }
    return list;
}

} // namespace velmor::sg
