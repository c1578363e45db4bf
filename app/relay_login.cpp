#include "app/relay_login.h"

#include "net/node_discovery.h"
#include "net/relay_session.h"

namespace velmor::app {

LoginOutcome runRelayLogin(const velmor::identity::Identity &identity, const QString &nodeDirectoryUrl)
{
    const QString node = velmor::net::resolveNodeEndpoint(nodeDirectoryUrl);
    if (node.isEmpty())
        return {false, QStringLiteral("节点不可达"), QString()};
    auto &session = velmor::net::RelayAuthSession::instance();
    session.configure(node, identity);
    QString error;
    if (session.hasToken(&error))
        return {true, QString(), node};
    return {false, error.isEmpty() ? QStringLiteral("登录失败") : error, node};
}

} // namespace velmor::app
