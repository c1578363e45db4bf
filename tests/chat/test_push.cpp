// The two push sockets against the local relay and group centre: a notice
// on the relay socket pulls at once, the pull interval follows the
// connection, the reconnection delays grow 1, 2, 4, 8, 16, then 30 s (run
// here in milliseconds), silence closes a connection, the group centre's
// directory events ask for a super-group refresh and its pings are answered.
#include "chat_fixture.h"

#include "net/relay_session.h"
#include "net/supergroup_client.h"

#include <QtTest>

using namespace chattest;
using namespace velmor::chat;
using velmor::fakes::FakeGroupCenter;
using velmor::fakes::Fault;
using velmor::fakes::FaultKind;

namespace {

// The schedule in milliseconds instead of seconds.
PushSocketTimings fastReconnect(int silenceLimitMs = 45000)
{
    PushSocketTimings timings;
    timings.pingIntervalMs = 60000;
    timings.silenceLimitMs = silenceLimitMs;
    timings.reconnectDivisor = 1000;
    return timings;
}

QList<int> delays(const QSignalSpy &spy)
{
    QList<int> out;
    for (const QList<QVariant> &args : spy)
        out.append(args.at(0).toInt());
    return out;
}

} // namespace

class PushTest : public QObject, private ChatFixture
{
    Q_OBJECT

    PushSocket &inbox() { return m_chat->messaging().push.inbox(); }
    PushSocket &centre() { return m_chat->messaging().push.centre(); }

    void startBob()
    {
        QVERIFY(signIn(m_bob, m_relay.baseUrl(), m_center->baseUrl()));
        m_chat = makeController();
        inbox().setTimings(fastReconnect());
        centre().setTimings(fastReconnect());
        m_chat->start();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(startRelay());
        m_center = std::make_unique<FakeGroupCenter>();
        QVERIFY(m_center->start() > 0);
    }
    void init() { newUsers(0x71); }
    void cleanup() { endClient(&m_bob); }

    void noticeOnTheRelaySocketPullsAtOnce()
    {
        startBob();
        QTRY_VERIFY(inbox().isConnected());
        QCOMPARE(m_chat->pullIntervalMs(), 15000);
        QCOMPARE(inbox().socket().requestUrl().scheme(), QStringLiteral("ws"));
        QCOMPARE(inbox().socket().requestUrl().port(), int(m_relay.port()));
        QTRY_VERIFY(!m_chat->syncing());

        m_relay.http().resetCounts();
        const QString id = queueText(m_alice, m_bob, QStringLiteral("pushed"));
        // The timer would wait 15 s; the socket's notice pulls now.
        QTRY_VERIFY(ChatStore::instance().messageExists(id));
        QCOMPARE(m_relay.requestCount(QStringLiteral("/v1/message/pull")), 1);
    }

    // Signs of life trigger nothing; any other text is a notice.
    void relayTextsThatAreNotices_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("notices");
        QTest::newRow("hello") << "{\"type\":\"hello\"}" << 0;
        QTest::newRow("pong") << "{\"type\":\"pong\"}" << 0;
        QTest::newRow("hello anywhere") << "xhellox" << 0;
        QTest::newRow("new message") << "{\"type\":\"message.new\"}" << 1;
        QTest::newRow("not JSON") << "something" << 1;
        QTest::newRow("Hello in capitals") << "Hello" << 1;
    }
    void relayTextsThatAreNotices()
    {
        QFETCH(QString, text);
        QFETCH(int, notices);
        startBob();
        QSignalSpy spy(&m_chat->messaging().push, &PushChannels::newMessageNotice);
        emit inbox().textReceived(text);
        QCOMPARE(spy.count(), notices);
    }

    // Lost: 4 s pulls and a reconnection 1 s later; back: 15 s again.
    void lostConnectionSwitchesThePullIntervalAndReconnects()
    {
        startBob();
        QTRY_VERIFY(inbox().isConnected());
        QSignalSpy scheduled(&inbox(), &PushSocket::reconnectScheduled);
        QSignalSpy changed(&inbox(), &PushSocket::connectedChanged);
        m_relay.dropWebSockets();
        QVERIFY(changed.wait(5000));
        QCOMPARE(changed.first().first().toBool(), false);
        QCOMPARE(m_chat->pullIntervalMs(), 4000);
        QCOMPARE(delays(scheduled), QList<int>{1000});
        QTRY_VERIFY(inbox().isConnected());
        QCOMPARE(m_chat->pullIntervalMs(), 15000);
        QCOMPARE(inbox().attempts(), 0);
    }

    // No token (the relay's login failing): 1, 2, 4, 8, 16, then 30 s;
    // after a connection the series starts again at 1 s.
    void reconnectionDelaysGrowToThirtySeconds()
    {
        m_relay.setFault(QStringLiteral("/v1/auth/challenge"), Fault::make(FaultKind::Http500));
        startBob();
        QSignalSpy scheduled(&inbox(), &PushSocket::reconnectScheduled);
        QTRY_VERIFY_WITH_TIMEOUT(scheduled.count() >= 7, 10000);
        QCOMPARE(delays(scheduled).mid(0, 7), (QList<int>{1000, 2000, 4000, 8000, 16000, 30000, 30000}));

        m_relay.clearFaults();
        QTRY_VERIFY_WITH_TIMEOUT(inbox().isConnected(), 10000);
        scheduled.clear();
        m_relay.dropWebSockets();
        QTRY_VERIFY(!scheduled.isEmpty());
        QCOMPARE(scheduled.first().first().toInt(), 1000);
    }

    // Nothing heard for longer than the silence limit: closed, 4 s pulls,
    // reconnected by the schedule.
    void silentConnectionIsClosedAndReconnected()
    {
        startBob();
        QTRY_VERIFY(inbox().isConnected());
        inbox().setTimings(fastReconnect(-1)); // every moment counts as too long
        QSignalSpy scheduled(&inbox(), &PushSocket::reconnectScheduled);
        inbox().onPingTimer();
        QVERIFY(!inbox().isConnected());
        QCOMPARE(m_chat->pullIntervalMs(), 4000);
        QCOMPARE(scheduled.count(), 1);
        inbox().setTimings(fastReconnect());
        QTRY_VERIFY(inbox().isConnected());
    }

    void signedOutRelayIsNotTried()
    {
        QVERIFY(signIn(m_bob, m_relay.baseUrl(), m_center->baseUrl()));
        velmor::net::RelayAuthSession::instance().clear();
        m_chat = makeController();
        QSignalSpy scheduled(&m_chat->messaging().push.inbox(), &PushSocket::reconnectScheduled);
        m_chat->start();
        QTRY_COMPARE(m_chat->pendingJobs(), 0);
        QCOMPARE(scheduled.count(), 0);
        QVERIFY(!inbox().reconnectArmed());
        QCOMPARE(inbox().socket().state(), int(velmor::net::WebSocketClient::Idle));
    }

    // A token that arrives after stop() opens nothing and arms nothing.
    void stopBeforeTheTokenArrives()
    {
        m_relay.setFault(QStringLiteral("/v1/auth/challenge"), Fault::make(FaultKind::Delay, 200));
        const int sockets = m_relay.webSocketCount();
        startBob();
        m_chat->stop();
        QTRY_COMPARE(m_chat->pendingJobs(), 0);
        QVERIFY(!inbox().reconnectArmed() && !centre().reconnectArmed());
        QVERIFY(!inbox().isOpen());
        QCOMPARE(m_relay.webSocketCount(), sockets);
    }

    void groupCentreEventsAndPings()
    {
        startBob();
        QTRY_VERIFY(centre().isOpen());
        QSignalSpy refresh(&m_chat->messaging().push, &PushChannels::superGroupDirectoryChanged);
        m_center->pushEvent(QStringLiteral("dns.group.updated"));
        QVERIFY(refresh.wait(5000));
        m_center->pushEvent(QStringLiteral("server.member.joined"));
        m_center->sendRaw(QStringLiteral("not json"));
        m_center->sendPing();
        QTRY_VERIFY(m_center->clientFrames().contains(QStringLiteral("{\"type\":\"client.pong\"}")));
        QCOMPARE(refresh.count(), 1);

        // The counter returns to 0 only with the centre's hello: a drop right
        // after it is retried after 1 s.
        QSignalSpy scheduled(&centre(), &PushSocket::reconnectScheduled);
        m_center->dropSockets();
        QTRY_VERIFY(!scheduled.isEmpty());
        QCOMPARE(scheduled.first().first().toInt(), 1000);
        QTRY_VERIFY(centre().isOpen());
    }

    // A start, a stop and a start while the first token fetch is still on
    // its way: the late fetch opens nothing, and the second start connects
    // both sockets all the same instead of leaving them down for good.
    void aStopAndStartDuringATokenFetchStillConnects_data()
    {
        QTest::addColumn<bool>("relaySocket");
        QTest::newRow("relay socket") << true;
        QTest::newRow("group-centre socket") << false;
    }
    void aStopAndStartDuringATokenFetchStillConnects()
    {
        QFETCH(bool, relaySocket);
        QVERIFY(signIn(m_bob, m_relay.baseUrl(), m_center->baseUrl()));
        m_chat = makeController();
        inbox().setTimings(fastReconnect());
        centre().setTimings(fastReconnect());
        // No cached token: each socket logs in first, slowly.
        velmor::net::RelayAuthSession::instance().dropToken();
        velmor::sg::SuperGroupServiceClient::instance().forgetToken(m_center->baseUrl());
        velmor::fakes::FakeHttpServer &http = relaySocket ? m_relay.http() : m_center->http();
        Fault slow = Fault::delay(400);
        slow.remaining = 1;
        http.setFault(QStringLiteral("/v1/auth/challenge"), slow);

        m_chat->start();
        m_chat->stop();
        m_chat->start();
        PushSocket &socket = relaySocket ? inbox() : centre();
        QTRY_VERIFY_WITH_TIMEOUT(socket.isOpen(), 10000);
        http.clearFaults();
    }
};

QTEST_GUILESS_MAIN(PushTest)
#include "test_push.moc"
