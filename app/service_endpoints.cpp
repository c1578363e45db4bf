#include "app/service_endpoints.h"

#include "net/http.h"
#include "net/node_discovery.h"
#include "net/supergroup_center.h"

#include <QDebug>
#include <QUrl>

namespace velmor::app {

namespace {

QString endpointFromEnvironment(const char *variable, const QString &fallback)
{
    const QString value = qEnvironmentVariable(variable).trimmed();
    if (value.isEmpty())
        return fallback;
    const QString normalised = velmor::net::normaliseBaseUrl(value);
    if (normalised.isEmpty() || !velmor::net::isAllowedEndpoint(QUrl(normalised))) {
        qWarning().noquote() << "[APP] ignoring" << variable << "=" << value
                             << ": not https, nor http on loopback";
        return fallback;
    }
    return normalised;
}

} // namespace

ServiceEndpoints serviceEndpoints()
{
    return {endpointFromEnvironment("PELORIN_NODE_DIRECTORY_URL", velmor::net::defaultNodeDirectoryUrl()),
            endpointFromEnvironment("PELORIN_GROUP_CENTER_URL", velmor::sg::SuperGroupCenter::defaultBaseUrl())};
}

void applyServiceEndpoints(const ServiceEndpoints &endpoints)
{
    velmor::sg::SuperGroupCenter::setBaseUrl(endpoints.groupCenterUrl);
}

} // namespace velmor::app
