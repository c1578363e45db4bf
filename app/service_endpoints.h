// Where the program finds its services. The defaults are fixed when the
// program is built; PELORIN_NODE_DIRECTORY_URL and PELORIN_GROUP_CENTER_URL in
// the environment replace them, so that the run script and the tests can point
// a build at the local services on loopback.
#pragma once

#include <QString>

namespace velmor::app {

struct ServiceEndpoints
{
    QString nodeDirectoryUrl;
    QString groupCenterUrl;
};

// The endpoints in force: an override from the environment when it names an
// allowed endpoint (https anywhere, http only on loopback), else the build's
// default. A refused override is logged and the default kept.
ServiceEndpoints serviceEndpoints();

// Hands the group-centre endpoint to the network layer. Called once by main
// before any controller exists.
void applyServiceEndpoints(const ServiceEndpoints &endpoints);

} // namespace velmor::app
