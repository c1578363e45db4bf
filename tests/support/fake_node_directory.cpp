#include "support/fake_node_directory.h"

#include <QJsonObject>
#include <QMutexLocker>

namespace velmor::fakes {

FakeNodeDirectory::FakeNodeDirectory()
{
    m_http.addRoute(QStringLiteral("/v1/public/nodes"), QHttpServerRequest::Method::Get,
                    [this](const QHttpServerRequest &) {
                        QMutexLocker locker(&m_mutex);
                        return FakeReply::json(QJsonObject{{QStringLiteral("nodes"), m_nodes}});
                    });
}

FakeNodeDirectory::~FakeNodeDirectory()
{
    m_http.stop();
}

quint16 FakeNodeDirectory::start(quint16 port)
{
    return m_http.start(port);
}

void FakeNodeDirectory::setNodes(const QJsonArray &nodes)
{
    QMutexLocker locker(&m_mutex);
    m_nodes = nodes;
}

void FakeNodeDirectory::addNode(const QString &url, int priority)
{
    QMutexLocker locker(&m_mutex);
    m_nodes.append(QJsonObject{{QStringLiteral("url"), url}, {QStringLiteral("priority"), priority}});
}

void FakeNodeDirectory::clearNodes()
{
    QMutexLocker locker(&m_mutex);
    m_nodes = QJsonArray();
}

} // namespace velmor::fakes
