// The WebSocket client against peers that break the rules: an upgrade never
// answered, a server that falls silent, and frames or messages without end.
#include "net/websocket.h"
#include "support/hostile_server.h"

#include <QSignalSpy>
#include <QtTest>

using namespace velmor::net;
using velmor::fakes::HostileServer;

class HostileWebSocketTest : public QObject
{
    Q_OBJECT
private slots:
    void unansweredUpgradeTimesOut();
    void silentServerIsDropped();
    void oversizedIncomingEndsTheConnection_data();
    void oversizedIncomingEndsTheConnection();
};

void HostileWebSocketTest::unansweredUpgradeTimesOut()
{
    HostileServer server(HostileServer::Behaviour::SilentUpgrade);
    QVERIFY(server.port() > 0);
    WebSocketClient client;
    client.setHandshakeTimeout(200);
    QSignalSpy connected(&client, &WebSocketClient::connected);
    QSignalSpy disconnected(&client, &WebSocketClient::disconnected);
    client.openUrl(QUrl(server.wsUrl("/v1/ws")));
    QCOMPARE(client.state(), int(WebSocketClient::Connecting));
    QVERIFY2(disconnected.wait(10000), "still connecting");
    QCOMPARE(disconnected.size(), 1);
    QVERIFY(connected.isEmpty());
    QCOMPARE(client.state(), int(WebSocketClient::Closed));
    QCOMPARE(client.lastError(), QStringLiteral("handshake_timeout"));
    QTRY_VERIFY(server.peerClosed());
}

void HostileWebSocketTest::silentServerIsDropped()
{
    HostileServer server(HostileServer::Behaviour::SilentAfterUpgrade);
    QVERIFY(server.port() > 0);
    WebSocketClient client;
    client.setKeepAlive(40, 400);
    QSignalSpy connected(&client, &WebSocketClient::connected);
    QSignalSpy disconnected(&client, &WebSocketClient::disconnected);
    client.openUrl(QUrl(server.wsUrl("/v1/ws")));
    QVERIFY(connected.wait(5000));
    QCOMPARE(client.state(), int(WebSocketClient::Open));
    QVERIFY2(disconnected.wait(10000), "a silent server was never noticed");
    QCOMPARE(client.lastError(), QStringLiteral("silent"));
    QCOMPARE(client.state(), int(WebSocketClient::Closed));
    QVERIFY(!client.sendText(QStringLiteral("x")));
    // It was asked for signs of life before it was given up.
    QTRY_VERIFY(server.peerClosed());
    QVERIFY(server.pingsSeen() > 0);
}

void HostileWebSocketTest::oversizedIncomingEndsTheConnection_data()
{
    QTest::addColumn<HostileServer::Behaviour>("behaviour");
    QTest::newRow("one frame of 1 GiB") << HostileServer::Behaviour::HugeFrame;
    QTest::newRow("a message of endless fragments") << HostileServer::Behaviour::EndlessMessage;
}

void HostileWebSocketTest::oversizedIncomingEndsTheConnection()
{
    QFETCH(HostileServer::Behaviour, behaviour);
    HostileServer server(behaviour);
    QVERIFY(server.port() > 0);
    WebSocketClient client;
    QSignalSpy texts(&client, &WebSocketClient::textMessage);
    QSignalSpy disconnected(&client, &WebSocketClient::disconnected);
    client.openUrl(QUrl(server.wsUrl("/v1/ws")));
    QVERIFY2(disconnected.wait(20000), "the oversized message was taken in");
    QCOMPARE(client.lastError(), QStringLiteral("message_too_large"));
    QVERIFY(texts.isEmpty());
    QTRY_VERIFY(server.peerClosed());
    // Stopped near the limit, not after what the peer offered.
    QVERIFY2(server.bytesSent() < 64 * 1024 * 1024, qPrintable(QString::number(server.bytesSent())));
}

QTEST_GUILESS_MAIN(HostileWebSocketTest)
#include "test_hostile_websocket.moc"
