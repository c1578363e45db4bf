// A local node-address service: "/v1/public/nodes" lists whatever nodes the
// test sets, in the order given.
#pragma once

#include "support/fake_common.h"

#include <QJsonArray>
#include <QMutex>

namespace velmor::fakes {

class FakeNodeDirectory
{
public:
    FakeNodeDirectory();
    ~FakeNodeDirectory();

    quint16 start(quint16 port = 0);
    void stop() { m_http.stop(); }
    QString baseUrl() const { return m_http.baseUrl(); }

    void setNodes(const QJsonArray &nodes);
    void addNode(const QString &url, int priority);
    void clearNodes();

    void setFault(const QString &path, const Fault &fault) { m_http.setFault(path, fault); }
    int requestCount() const { return m_http.requestCount(QStringLiteral("/v1/public/nodes")); }

private:
    FakeHttpServer m_http;
    mutable QMutex m_mutex;
    QJsonArray m_nodes;
};

} // namespace velmor::fakes
