// The group centre: capacity, creation of super groups and the user's list of
// super groups. Wire format: docs/protocol.md.
#pragma once

#include "net/supergroup_api.h"

#include <QList>
#include <QString>

namespace velmor::sg {

constexpr int kCenterTimeoutMs = 10000;

class SuperGroupCenter
{
public:
    // The fixed address of the group centre, set when the program is built.
    static QString defaultBaseUrl();

    // The centre that the forms without a base URL talk to: defaultBaseUrl()
    // unless another one was set (local test services).
    static QString baseUrl();
    static void setBaseUrl(const QString &url); // empty: back to the default

    // GET /v1/capacity without a token.
    static SGCapacity capacity();
    static SGCapacity capacity(const QString &baseUrl);

    // POST /v1/group/create with the centre's token.
    static SGCreateResult createGroup(const QString &creationKey, const QString &groupName,
                                      const QString &groupType);
    static SGCreateResult createGroup(const QString &baseUrl, const QString &creationKey,
                                      const QString &groupName, const QString &groupType);

    // GET /v1/my/groups with the centre's token; on failure an empty list and
    // an error word in error.
    static QList<SGMyGroup> myGroups(QString &error);
    static QList<SGMyGroup> myGroups(const QString &baseUrl, QString &error);
};

} // namespace velmor::sg
