// Finding a relay node: the node-address service lists the nodes, each one
// is asked for its health, and the best-ranked healthy node is used.
#pragma once

#include <QList>
#include <QString>

namespace velmor::net {

constexpr int kNodeListTimeoutMs = 8000;
constexpr int kHealthProbeTimeoutMs = 2500;

struct RelayNode
{
    QString baseUrl;
    int priority = 0; // lower ranks first
};

// The fixed node-address service of this build.
QString defaultNodeDirectoryUrl();

// "/v1/public/nodes" of the directory: usable nodes (https, or http on
// loopback) sorted by priority, listing order kept among equals. Empty on
// any failure; *error then holds the reason.
QList<RelayNode> fetchRelayNodes(const QString &directoryBaseUrl, QString *error = nullptr);

// Blocking. Probes "/v1/health" of every listed node at once and returns the
// base URL of the best-ranked node that answered 2xx; empty when none did.
// Costs at most one list request and one probe time-out.
QString resolveNodeEndpoint(const QString &directoryBaseUrl,
                            int probeTimeoutMs = kHealthProbeTimeoutMs);
QString resolveNodeEndpoint();

} // namespace velmor::net
