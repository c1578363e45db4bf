// Small rules shared by the super-group parts: the stored row of a group (or
// a fresh one), the group information kept in its info_json, roles and their
// order, and the kind a server type is stored as.
#pragma once

#include "net/supergroup_api.h"
#include "store/records.h"

#include <QJsonObject>
#include <QString>

namespace velmor::chat::sg {

qint64 nowSeconds();

// The stored row of the server URL, or an empty one carrying the URL.
SuperGroupRecord storedOrNew(const QString &serverUrl);

// info_json as an object (empty when it does not parse).
QJsonObject infoObject(const SuperGroupRecord &group);
QString compactJson(const QJsonObject &object);

// The one key under which info_json keeps the group's avatar URL.
inline constexpr char kInfoAvatarKey[] = "avatarUrl";
// The group's avatar URL as this device knows it: the runtime record
// (freshest) first, then the stored information.
QString knownAvatarUrl(const QString &runtimeAvatarUrl, const SuperGroupRecord *stored);

// "owner" 0, "admin" 1, anything else 2 (case-sensitive).
int roleRank(const QString &role);
bool isManagerRole(const QString &role);
// Lower rank first, then the server display names in the locale's order.
bool memberLess(const velmor::sg::SGMember &a, const velmor::sg::SGMember &b);

// "premium_plus" for the server type "premium" in any letter case, else "premium".
QString groupKindForType(const QString &serverType);
bool isPremiumType(const QString &serverType);

} // namespace velmor::chat::sg
