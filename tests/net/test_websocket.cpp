// The WebSocket client against the local relay's new-message socket:
// connection states, notices, pings, server-side drops, refused tokens,
// and TLS for every host but loopback.
#include "identity/identity.h"
#include "net/relay_api.h"
#include "net/relay_session.h"
#include "net/websocket.h"
#include "support/fake_relay.h"

#include <QSignalSpy>
#include <QtTest>

using namespace velmor::net;
using velmor::fakes::FakeRelay;
using velmor::identity::Identity;

class WebSocketTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void noticeOnEveryNewEnvelope();
    void pingIsAnswered();
    void serverDropIsReported();
    void refusedTokenEndsTheConnection();
    void refusedPortEndsTheConnection();
    void closeIsQuietAndFinal();
    void reopeningReplacesTheConnection();
    void tlsForEveryRemoteHost();

private:
    QString inboxPath(const QString &token) const
    {
        return QStringLiteral("/v1/ws?token=") + QString::fromLatin1(QUrl::toPercentEncoding(token));
    }
    // Opens a socket for the identity and waits for its greeting.
    bool connectAs(WebSocketClient &client, const Identity &identity, QSignalSpy &texts);

    FakeRelay m_relay;
    Identity m_alice;
    Identity m_bob;
};

void WebSocketTest::initTestCase()
{
    QVERIFY(m_relay.start() > 0);
    m_alice = Identity::generate();
    m_bob = Identity::generate();
    for (const Identity &identity : {m_alice, m_bob}) {
        RelayAuthSession::instance().configure(m_relay.baseUrl(), identity);
        QVERIFY(RelayAuthSession::instance().hasToken());
    }
}

void WebSocketTest::cleanupTestCase()
{
    RelayAuthSession::instance().clear();
}

bool WebSocketTest::connectAs(WebSocketClient &client, const Identity &identity, QSignalSpy &texts)
{
    RelayAuthSession::instance().configure(m_relay.baseUrl(), identity);
    const QString token = RelayAuthSession::instance().token();
    if (token.isEmpty())
        return false;
    QSignalSpy connected(&client, &WebSocketClient::connected);
    texts.clear();
    client.open(QStringLiteral("127.0.0.1"), m_relay.port(), inboxPath(token), false);
    if (client.state() != WebSocketClient::Connecting) {
        qWarning() << "not connecting" << client.state();
        return false;
    }
    if (!connected.wait(5000) || client.state() != WebSocketClient::Open) {
        qWarning() << "not connected" << client.state();
        return false;
    }
    // The greeting may come in the same turn of the loop as the connection.
    if (texts.isEmpty() && !texts.wait(5000))
        return false;
    return texts.last().first().toString().contains(QLatin1String("hello"));
}

void WebSocketTest::noticeOnEveryNewEnvelope()
{
    WebSocketClient client;
    QSignalSpy texts(&client, &WebSocketClient::textMessage);
    QVERIFY(connectAs(client, m_alice, texts));
    QCOMPARE(client.requestUrl().scheme(), QStringLiteral("ws"));
    texts.clear();

    // Bob writes to Alice twice: two notices, neither looking like a greeting or pong.
    RelayAuthSession::instance().configure(m_relay.baseUrl(), m_bob);
    QVERIFY(velmor::chat::RelayApi::sendText(m_alice.publicKeyText(), "one").ok);
    QVERIFY(velmor::chat::RelayApi::sendText(m_alice.publicKeyText(), "two").ok);
    QTRY_COMPARE_WITH_TIMEOUT(texts.size(), 2, 5000);
    for (const QList<QVariant> &notice : std::as_const(texts)) {
        const QString text = notice.first().toString();
        QVERIFY(!text.contains("hello") && !text.contains("pong"));
        QVERIFY(text.contains("message.new"));
    }

    // Messages for somebody else make no noise on Alice's socket.
    RelayAuthSession::instance().configure(m_relay.baseUrl(), m_alice);
    QVERIFY(velmor::chat::RelayApi::sendText(m_bob.publicKeyText(), "for bob").ok);
    // The relay pushes notices while it handles the send, so a stray one
    // would come before the answer to a ping sent afterwards.
    QVERIFY(client.sendText(QStringLiteral("{\"type\":\"client.ping\"}")));
    QTRY_COMPARE_WITH_TIMEOUT(texts.size(), 3, 5000);
    QVERIFY(texts.last().first().toString().contains("pong"));

    RelayAuthSession::instance().configure(m_relay.baseUrl(), m_alice);
    QStringList ids;
    for (const velmor::chat::RawEnvelope &envelope : velmor::chat::RelayApi::pull())
        ids.append(envelope.messageId);
    QCOMPARE(velmor::chat::RelayApi::ack(ids).ackedIds.size(), 2);
    client.close();
}

void WebSocketTest::pingIsAnswered()
{
    WebSocketClient client;
    QSignalSpy texts(&client, &WebSocketClient::textMessage);
    QVERIFY(connectAs(client, m_alice, texts));
    texts.clear();
    QVERIFY(client.sendText(QStringLiteral("{\"type\":\"client.ping\"}")));
    QVERIFY(texts.wait(5000));
    QVERIFY(texts.first().first().toString().contains("pong"));
    client.close();
}

void WebSocketTest::serverDropIsReported()
{
    WebSocketClient client;
    QSignalSpy texts(&client, &WebSocketClient::textMessage);
    QSignalSpy disconnected(&client, &WebSocketClient::disconnected);
    QVERIFY(connectAs(client, m_alice, texts));
    QTRY_COMPARE_WITH_TIMEOUT(m_relay.webSocketCount(), 1, 5000);
    m_relay.dropWebSockets();
    QVERIFY(disconnected.wait(5000));
    QCOMPARE(disconnected.size(), 1);
    QCOMPARE(client.state(), int(WebSocketClient::Closed));
    QVERIFY(!client.sendText(QStringLiteral("anyone?")));
}

void WebSocketTest::refusedTokenEndsTheConnection()
{
    WebSocketClient client;
    QSignalSpy disconnected(&client, &WebSocketClient::disconnected);
    QSignalSpy texts(&client, &WebSocketClient::textMessage);
    client.open(QStringLiteral("127.0.0.1"), m_relay.port(), inboxPath(QStringLiteral("forged-token")), false);
    QVERIFY(disconnected.wait(5000));
    QCOMPARE(client.state(), int(WebSocketClient::Closed));
    QCOMPARE(texts.size(), 0);

    // An expired token is refused as well.
    WebSocketClient late;
    QSignalSpy lateTexts(&late, &WebSocketClient::textMessage);
    QSignalSpy lateDisconnected(&late, &WebSocketClient::disconnected);
    RelayAuthSession::instance().configure(m_relay.baseUrl(), m_alice);
    const QString token = RelayAuthSession::instance().token();
    m_relay.expireAllTokens();
    late.open(QStringLiteral("127.0.0.1"), m_relay.port(), inboxPath(token), false);
    QVERIFY(lateDisconnected.wait(5000));
    QCOMPARE(lateTexts.size(), 0);
}

void WebSocketTest::refusedPortEndsTheConnection()
{
    WebSocketClient client;
    QSignalSpy disconnected(&client, &WebSocketClient::disconnected);
    QSignalSpy connected(&client, &WebSocketClient::connected);
    QCOMPARE(client.state(), int(WebSocketClient::Idle));
    client.open(QStringLiteral("127.0.0.1"), velmor::fakes::unusedLoopbackPort(), QStringLiteral("/v1/ws?token=x"),
                false);
    QVERIFY(disconnected.wait(5000));
    QCOMPARE(connected.size(), 0);
    QCOMPARE(client.state(), int(WebSocketClient::Closed));

    // Not a WebSocket URL at all.
    WebSocketClient other;
    QSignalSpy otherDisconnected(&other, &WebSocketClient::disconnected);
    other.openUrl(QUrl(QStringLiteral("ftp://127.0.0.1/x")));
    QCOMPARE(otherDisconnected.size(), 1);
    QCOMPARE(other.state(), int(WebSocketClient::Closed));
}

void WebSocketTest::closeIsQuietAndFinal()
{
    WebSocketClient client;
    QSignalSpy texts(&client, &WebSocketClient::textMessage);
    QSignalSpy disconnected(&client, &WebSocketClient::disconnected);
    QVERIFY(connectAs(client, m_alice, texts));
    client.close();
    QCOMPARE(client.state(), int(WebSocketClient::Closed));
    QVERIFY(!client.sendText(QStringLiteral("late")));
    // The owner closed it, so nobody is told, and nothing arrives any more.
    QTRY_COMPARE_WITH_TIMEOUT(m_relay.webSocketCount(), 0, 5000);
    texts.clear();
    RelayAuthSession::instance().configure(m_relay.baseUrl(), m_bob);
    QVERIFY(velmor::chat::RelayApi::sendText(m_alice.publicKeyText(), "after close").ok);
    QTest::qWait(200);
    QCOMPARE(texts.size(), 0);
    QCOMPARE(disconnected.size(), 0);
    client.close(); // twice is harmless

    RelayAuthSession::instance().configure(m_relay.baseUrl(), m_alice);
    const QList<velmor::chat::RawEnvelope> pulled = velmor::chat::RelayApi::pull();
    QCOMPARE(pulled.size(), 1);
    velmor::chat::RelayApi::ack({pulled.first().messageId});
}

void WebSocketTest::reopeningReplacesTheConnection()
{
    WebSocketClient client;
    QSignalSpy texts(&client, &WebSocketClient::textMessage);
    QSignalSpy disconnected(&client, &WebSocketClient::disconnected);
    QVERIFY(connectAs(client, m_alice, texts));
    QVERIFY(connectAs(client, m_alice, texts));
    QTRY_COMPARE_WITH_TIMEOUT(m_relay.webSocketCount(), 1, 5000);
    QCOMPARE(disconnected.size(), 0);
    QCOMPARE(client.state(), int(WebSocketClient::Open));
    client.close();
}

void WebSocketTest::tlsForEveryRemoteHost()
{
    WebSocketClient client;
    client.open(QStringLiteral("relay.example.org"), 0, QStringLiteral("/v1/ws?token=a%2Bb"), false);
    QCOMPARE(client.requestUrl().scheme(), QStringLiteral("wss"));
    QCOMPARE(client.requestUrl().port(), 443);
    QCOMPARE(client.requestUrl().path(), QStringLiteral("/v1/ws"));
    QCOMPARE(client.requestUrl().query(QUrl::FullyEncoded), QStringLiteral("token=a%2Bb"));
    client.close();

    client.open(QStringLiteral("relay.example.org"), 8443, QStringLiteral("/v1/ws"));
    QCOMPARE(client.requestUrl().scheme(), QStringLiteral("wss"));
    QCOMPARE(client.requestUrl().port(), 8443);
    client.close();

    client.openUrl(QUrl(QStringLiteral("ws://relay.example.org/v1/ws")));
    QCOMPARE(client.requestUrl().scheme(), QStringLiteral("wss"));
    client.close();

    // Loopback may use plain ws when asked, and https maps to wss.
    client.open(QStringLiteral("localhost"), 9, QStringLiteral("/v1/ws"), false);
    QCOMPARE(client.requestUrl().scheme(), QStringLiteral("ws"));
    client.close();
    client.openUrl(QUrl(QStringLiteral("https://relay.example.org/v1/ws")));
    QCOMPARE(client.requestUrl().scheme(), QStringLiteral("wss"));
    client.close();
    QCOMPARE(client.state(), int(WebSocketClient::Closed));
}

QTEST_GUILESS_MAIN(WebSocketTest)
#include "test_websocket.moc"
