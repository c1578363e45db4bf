// Finding a relay node: the node list, its ranking, and health probes that
// skip dead, failing and hanging nodes.
#include "net/http.h"
#include "net/node_discovery.h"
#include "net/relay_session.h"
#include "identity/identity.h"
#include "support/fake_node_directory.h"
#include "support/fake_relay.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

using namespace velmor::net;
using velmor::fakes::FakeNodeDirectory;
using velmor::fakes::FakeRelay;
using velmor::fakes::Fault;

class NodeDiscoveryTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void lowestPriorityNumberWins();
    void equalPrioritiesKeepListingOrder();
    void deadFailingAndHangingNodesAreSkipped();
    void allDeadGivesEmpty();
    void insecureAndMalformedEntriesAreIgnored();
    void brokenDirectoryGivesEmpty_data();
    void brokenDirectoryGivesEmpty();
    void unreachableDirectoryGivesEmpty();
    void defaultDirectoryIsTheBuiltInOne();
    void relayListingItselfServesAWholeSignIn();

private:
    FakeNodeDirectory m_directory;
    FakeRelay m_first;
    FakeRelay m_second;
};

void NodeDiscoveryTest::initTestCase()
{
    QVERIFY(m_directory.start() > 0);
    QVERIFY(m_first.start() > 0);
    QVERIFY(m_second.start() > 0);
}

void NodeDiscoveryTest::init()
{
    m_directory.clearNodes();
    m_directory.setFault("/v1/public/nodes", Fault());
    m_first.clearFaults();
    m_second.clearFaults();
}

void NodeDiscoveryTest::lowestPriorityNumberWins()
{
    m_directory.addNode(m_first.baseUrl(), 20);
    m_directory.addNode(m_second.baseUrl() + "/", 10);
    QCOMPARE(resolveNodeEndpoint(m_directory.baseUrl()), m_second.baseUrl());

    const QList<RelayNode> nodes = fetchRelayNodes(m_directory.baseUrl());
    QCOMPARE(nodes.size(), 2);
    QCOMPARE(nodes[0].baseUrl, m_second.baseUrl());
    QCOMPARE(nodes[0].priority, 10);
    QCOMPARE(nodes[1].baseUrl, m_first.baseUrl());
}

void NodeDiscoveryTest::equalPrioritiesKeepListingOrder()
{
    m_directory.addNode(m_first.baseUrl(), 5);
    m_directory.addNode(m_second.baseUrl(), 5);
    QCOMPARE(resolveNodeEndpoint(m_directory.baseUrl()), m_first.baseUrl());
    m_directory.clearNodes();
    m_directory.addNode(m_second.baseUrl(), 5);
    m_directory.addNode(m_first.baseUrl(), 5);
    QCOMPARE(resolveNodeEndpoint(m_directory.baseUrl()), m_second.baseUrl());
}

void NodeDiscoveryTest::deadFailingAndHangingNodesAreSkipped()
{
    m_directory.addNode(velmor::fakes::unusedLoopbackUrl(), 1);             // nothing listens
    m_directory.addNode(m_first.baseUrl(), 2);     // answers 500
    m_directory.addNode(m_second.baseUrl(), 3);    // healthy
    m_directory.addNode(velmor::fakes::unusedLoopbackUrl(), 4);
    m_first.setFault("/v1/health", Fault::http500());
    QCOMPARE(resolveNodeEndpoint(m_directory.baseUrl()), m_second.baseUrl());

    // A node that hangs past the probe time-out counts as dead.
    m_first.setFault("/v1/health", Fault::delay(1500));
    m_directory.clearNodes();
    m_directory.addNode(m_first.baseUrl(), 1);
    m_directory.addNode(m_second.baseUrl(), 2);
    QCOMPARE(resolveNodeEndpoint(m_directory.baseUrl(), 300), m_second.baseUrl());

    // Health answered but not 2xx (a missing route).
    m_first.clearFaults();
    m_first.setFault("/v1/health", Fault::custom(404, "{}"));
    QCOMPARE(resolveNodeEndpoint(m_directory.baseUrl()), m_second.baseUrl());
    m_first.clearFaults();
    QCOMPARE(resolveNodeEndpoint(m_directory.baseUrl()), m_first.baseUrl());
}

void NodeDiscoveryTest::allDeadGivesEmpty()
{
    for (int i = 0; i < 6; ++i)
        m_directory.addNode(velmor::fakes::unusedLoopbackUrl(), i);
    m_directory.addNode(m_first.baseUrl(), 7);
    m_first.setFault("/v1/health", Fault::delay(1500));
    QVERIFY(resolveNodeEndpoint(m_directory.baseUrl(), 300).isEmpty());

    m_directory.clearNodes();
    QVERIFY(resolveNodeEndpoint(m_directory.baseUrl()).isEmpty());
    QString error;
    QVERIFY(fetchRelayNodes(m_directory.baseUrl(), &error).isEmpty());
    QCOMPARE(error, QStringLiteral("no_nodes"));
}

void NodeDiscoveryTest::insecureAndMalformedEntriesAreIgnored()
{
    // A TLS node on a loopback port nothing listens on: listed, and its
    // health check refused at once, without a lookup past this machine.
    const QString tlsNode = QStringLiteral("https://127.0.0.1:%1").arg(velmor::fakes::unusedLoopbackPort());
    QJsonArray nodes;
    nodes.append(QJsonObject{{"url", "http://relay.example.org"}, {"priority", 0}}); // plain http, remote
    nodes.append(QJsonObject{{"url", 12}, {"priority", 0}});
    nodes.append(QJsonObject{{"priority", 0}});
    nodes.append(tlsNode);
    nodes.append(QJsonObject{{"url", "ftp://127.0.0.1"}, {"priority", 0}});
    nodes.append(QJsonObject{{"url", m_second.baseUrl()}, {"priority", "high"}});
    nodes.append(QJsonObject{{"url", tlsNode}, {"priority", 9}});
    m_directory.setNodes(nodes);
    const QList<RelayNode> listed = fetchRelayNodes(m_directory.baseUrl());
    QCOMPARE(listed.size(), 2);
    QCOMPARE(listed[0].baseUrl, m_second.baseUrl());
    QCOMPARE(listed[0].priority, 0);
    QCOMPARE(listed[1].baseUrl, tlsNode);
    QCOMPARE(resolveNodeEndpoint(m_directory.baseUrl()), m_second.baseUrl());
}

void NodeDiscoveryTest::brokenDirectoryGivesEmpty_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("500") << 500 << QByteArray("{\"error\":\"internal\"}");
    QTest::newRow("not json") << 200 << QByteArray("nodes: none");
    QTest::newRow("nodes not a list") << 200 << QByteArray("{\"nodes\":\"relay\"}");
    QTest::newRow("list of junk") << 200 << QByteArray("{\"nodes\":[1,null,[],\"x\"]}");
    QTest::newRow("no nodes key") << 200 << QByteArray("{}");
}

void NodeDiscoveryTest::brokenDirectoryGivesEmpty()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    m_directory.addNode(m_first.baseUrl(), 1);
    m_directory.setFault("/v1/public/nodes", Fault::custom(status, body));
    QVERIFY(resolveNodeEndpoint(m_directory.baseUrl()).isEmpty());
    QString error;
    QVERIFY(fetchRelayNodes(m_directory.baseUrl(), &error).isEmpty());
    QVERIFY(!error.isEmpty());
}

void NodeDiscoveryTest::unreachableDirectoryGivesEmpty()
{
    QString error;
    QVERIFY(resolveNodeEndpoint(velmor::fakes::unusedLoopbackUrl()).isEmpty());
    QVERIFY(fetchRelayNodes(velmor::fakes::unusedLoopbackUrl(), &error).isEmpty());
    QVERIFY(error.startsWith(QStringLiteral("nodes_http_0(")));
    QVERIFY(resolveNodeEndpoint(QStringLiteral("http://directory.example.org")).isEmpty());
    QVERIFY(resolveNodeEndpoint(QString()).isEmpty());
}

void NodeDiscoveryTest::defaultDirectoryIsTheBuiltInOne()
{
    // Whatever the build fixes must be a usable endpoint.
    const QString url = defaultNodeDirectoryUrl();
    QVERIFY(!normaliseBaseUrl(url).isEmpty());
    QVERIFY(isAllowedEndpoint(QUrl(url)));
}

void NodeDiscoveryTest::relayListingItselfServesAWholeSignIn()
{
    // The set-up of the standalone fake program: one port for everything.
    FakeRelay relay(FakeRelay::Options{true});
    QVERIFY(relay.start() > 0);
    const QString node = resolveNodeEndpoint(relay.baseUrl());
    QCOMPARE(node, relay.baseUrl());
    RelayAuthSession::instance().configure(node, velmor::identity::Identity::generate());
    QString error;
    QVERIFY2(RelayAuthSession::instance().hasToken(&error), qPrintable(error));
    QCOMPARE(relay.loginCount(), 1);
    RelayAuthSession::instance().clear();
}

QTEST_GUILESS_MAIN(NodeDiscoveryTest)
#include "test_node_discovery.moc"
