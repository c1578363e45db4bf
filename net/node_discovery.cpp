#include "net/node_discovery.h"

#include "net/http.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QUrl>

#include <algorithm>

namespace velmor::net {

QString defaultNodeDirectoryUrl()
{
    return QStringLiteral(PELORIN_NODE_DIRECTORY_URL);
}

QList<RelayNode> fetchRelayNodes(const QString &directoryBaseUrl, QString *error)
{
    QList<RelayNode> nodes;
    const QUrl url = endpoint(directoryBaseUrl, QStringLiteral("/v1/public/nodes"));
    if (url.isEmpty()) {
        if (error)
            *error = QStringLiteral("invalid_directory_url");
        return nodes;
    }
    const HttpResponse response = getJson(url, QString(), kNodeListTimeoutMs);
    if (!response.success) {
        if (error) {
            *error = QStringLiteral("nodes_http_%1").arg(response.status);
            if (!response.error.isEmpty())
                *error += QLatin1Char('(') + response.error + QLatin1Char(')');
        }
        return nodes;
    }
    const QJsonValue list = response.json().value(QStringLiteral("nodes"));
    if (!list.isArray()) {
        if (error)
            *error = QStringLiteral("nodes_invalid_response");
        return nodes;
    }
    for (const QJsonValue &entry : list.toArray()) {
        if (!entry.isObject())
            continue;
        const QJsonObject node = entry.toObject();
        const QString baseUrl = normaliseBaseUrl(node.value(QStringLiteral("url")).toString());
        // A listed node that would need plain http to a remote host is never
        // used: the token and the envelopes must not travel in the clear.
        if (baseUrl.isEmpty() || !isAllowedEndpoint(QUrl(baseUrl)))
            continue;
        const QJsonValue priority = node.value(QStringLiteral("priority"));
        RelayNode relayNode;
        relayNode.baseUrl = baseUrl;
        relayNode.priority = priority.isDouble() ? priority.toInt() : 0;
        nodes.append(relayNode);
    }
    std::stable_sort(nodes.begin(), nodes.end(), [](const RelayNode &a, const RelayNode &b) {
        return a.priority < b.priority;
    });
    if (nodes.isEmpty() && error)
        *error = QStringLiteral("no_nodes");
    return nodes;
}

QString resolveNodeEndpoint(const QString &directoryBaseUrl, int probeTimeoutMs)
{
    const QList<RelayNode> nodes = fetchRelayNodes(directoryBaseUrl);
    if (nodes.isEmpty())
        return {};
    // All probes run at once so that dead nodes cost one time-out in total
    // rather than one each; the ranking decides among the healthy ones.
    QList<HttpRequest> probes;
    probes.reserve(nodes.size());
    for (const RelayNode &node : nodes) {
        HttpRequest probe;
        probe.method = "GET";
        probe.url = endpoint(node.baseUrl, QStringLiteral("/v1/health"));
        probe.timeoutMs = probeTimeoutMs;
        probe.maxResponseBytes = 64 * 1024;
        probes.append(probe);
    }
    const QList<HttpResponse> answers = runHttpParallel(probes);
    for (qsizetype i = 0; i < nodes.size() && i < answers.size(); ++i) {
        if (answers.at(i).success)
            return nodes.at(i).baseUrl;
    }
    return {};
}

QString resolveNodeEndpoint()
{
    return resolveNodeEndpoint(defaultNodeDirectoryUrl());
}

} // namespace velmor::net
