#include "chat/supergroup_rows.h"

#include "store/chat_store.h"

#include <QDateTime>
#include <QJsonDocument>

namespace velmor::chat::sg {

qint64 nowSeconds()
{
    return QDateTime::currentSecsSinceEpoch();
}

SuperGroupRecord storedOrNew(const QString &serverUrl)
{
    SuperGroupRecord row = ChatStore::instance().superGroup(serverUrl).value_or(SuperGroupRecord());
    row.server_url = serverUrl;
    return row;
}

QJsonObject infoObject(const SuperGroupRecord &group)
{
    return QJsonDocument::fromJson(group.info_json.toUtf8()).object();
}

QString compactJson(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString knownAvatarUrl(const QString &runtimeAvatarUrl, const SuperGroupRecord *stored)
{
    if (!runtimeAvatarUrl.isEmpty() || !stored)
        return runtimeAvatarUrl;
    return infoObject(*stored).value(QLatin1String(kInfoAvatarKey)).toString();
}

int roleRank(const QString &role)
{
    if (role == QLatin1String("owner"))
        return 0;
    if (role == QLatin1String("admin"))
        return 1;
    return 2;
}

bool isManagerRole(const QString &role)
{
    return role == QLatin1String("owner") || role == QLatin1String("admin");
}

bool memberLess(const velmor::sg::SGMember &a, const velmor::sg::SGMember &b)
{
    const int left = roleRank(a.role);
    const int right = roleRank(b.role);
    if (left != right)
        return left < right;
    return QString::localeAwareCompare(a.displayName, b.displayName) < 0;
}

bool isPremiumType(const QString &serverType)
{
    return serverType.compare(QLatin1String("premium"), Qt::CaseInsensitive) == 0;
}

QString groupKindForType(const QString &serverType)
{
    return isPremiumType(serverType) ? QStringLiteral("premium_plus") : QStringLiteral("premium");
}

} // namespace velmor::chat::sg
