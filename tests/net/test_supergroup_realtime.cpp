// The realtime client against local fake group servers: handshake answers,
// states, every typed frame passed on, the reconnection schedule after drops and
// refusals (the scheduled delays are recorded, not timed), and stop().
#include "net/relay_session.h"
#include "net/supergroup_api.h"
#include "net/supergroup_client.h"
#include "net/supergroup_realtime.h"
#include "net/websocket.h"
#include "support/fake_group_server.h"
#include "supergroup_test_support.h"

#include "identity/identity.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <thread>

using velmor::fakes::Fault;
using velmor::fakes::FakeGroupServer;
using velmor::identity::Identity;
using velmor::sg::SuperGroupRealtimeClient;
using velmor::sg::SuperGroupServiceClient;

namespace {

constexpr int kWaitMs = 10000;

QStringList statesOf(const QSignalSpy &spy)
{
    QStringList states;
    for (const QList<QVariant> &args : spy)
        states.append(args.at(1).toString());
    return states;
}

QList<int> delaysOf(const QSignalSpy &spy)
{
    QList<int> delays;
    for (const QList<QVariant> &args : spy)
        delays.append(args.at(2).toInt());
    return delays;
}

QStringList typesOf(const QSignalSpy &spy)
{
    QStringList types;
    for (const QList<QVariant> &args : spy)
        types.append(args.at(1).toString());
    return types;
}

} // namespace

class SuperGroupRealtimeTest : public QObject
{
    Q_OBJECT

private:
    Identity m_user = Identity::generate();

private slots:
    void init()
    {
        sgtest::signInAfresh(m_user);
    }

    void reconnectSchedule()
    {
        const QList<int> expected{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000};
        for (int attempt = 0; attempt < expected.size(); ++attempt)
            QCOMPARE(SuperGroupRealtimeClient::reconnectDelayMs(attempt), expected.at(attempt));
        QCOMPARE(SuperGroupRealtimeClient::reconnectDelayMs(-3), 1000);
        QCOMPARE(SuperGroupRealtimeClient::reconnectDelayMs(1000), 30000);
    }

    void handshakeAndStates()
    {
        FakeGroupServer server(m_user.publicKeyText());
        QVERIFY(server.start());
        SuperGroupRealtimeClient client(server.baseUrl());
        QSignalSpy states(&client, &SuperGroupRealtimeClient::stateChanged);
        QSignalSpy events(&client, &SuperGroupRealtimeClient::eventReceived);
        client.start();
        client.start(); // a second start changes nothing

        // hello -> client.ping -> server.pong -> "connected" with a latency.
        QTRY_VERIFY_WITH_TIMEOUT(statesOf(states).count(QStringLiteral("connected")) >= 2, kWaitMs);
        QCOMPARE(statesOf(states).first(), QStringLiteral("connecting"));
        QCOMPARE(states.at(1).at(0).toString(), server.baseUrl());
        QCOMPARE(states.at(1).at(2).toInt(), 0);
        QVERIFY(states.last().at(2).toInt() >= 0);
        QCOMPARE(server.socketConnects(), 1);
        QCOMPARE(server.clientFrames(), QStringList{QStringLiteral("{\"type\":\"client.ping\"}")});

        server.sendPing();
        QTRY_COMPARE_WITH_TIMEOUT(server.clientFrames().size(), 2, kWaitMs);
        QCOMPARE(server.clientFrames().at(1), QStringLiteral("{\"type\":\"client.pong\"}"));
        // The socket's own exchange never reaches the event signal.
        server.sendRaw(QStringLiteral("{\"type\":\"server.pong\"}"));
        server.sendRaw(QStringLiteral("{\"type\":\"server.hello\"}"));
        server.pushEvent(QStringLiteral("server.group.updated"), QJsonObject{{"name", "N"}});
        QTRY_COMPARE_WITH_TIMEOUT(events.size(), 1, kWaitMs);
        QCOMPARE(events.first().at(1).toString(), QStringLiteral("server.group.updated"));
        const QJsonObject frame = events.first().at(2).value<QJsonObject>();
        QCOMPARE(frame.value("data").toObject().value("name").toString(), QStringLiteral("N"));
        QVERIFY(frame.contains("event_id"));
        client.stop();
    }

    void everyTypedFrameIsDelivered()
    {
        const Identity admin = Identity::generate();
        FakeGroupServer server(m_user.publicKeyText());
        QVERIFY(server.start());
        server.addMember(admin.publicKeyText(), QStringLiteral("admin"));
        SuperGroupRealtimeClient client(server.baseUrl());
        QSignalSpy events(&client, &SuperGroupRealtimeClient::eventReceived);
        client.start();
        QTRY_COMPARE_WITH_TIMEOUT(server.socketCount(), 1, kWaitMs);

        // Events caused by real requests to the server.
        auto &api = velmor::sg::SuperGroupApi::instance();
        const QString url = server.baseUrl();
        QVERIFY(api.sendText(url, server.serverPublicKey(), QStringLiteral("hi"), QString(), QStringLiteral("m1")).ok);
        const QString newcomer = Identity::generate().publicKeyText();
        QVERIFY(api.inviteMember(url, newcomer, QStringLiteral("New"), QString()));
        QVERIFY(api.setMemberRole(url, newcomer, QStringLiteral("admin")));
        QVERIFY(api.updateMemberProfile(url, QStringLiteral("Me"), QString()));
        QVERIFY(api.removeMember(url, newcomer));
        QVERIFY(api.openVoiceRoom(url));
        QVERIFY(api.grantSpeaker(url, admin.publicKeyText()));
        QVERIFY(api.revokeSpeaker(url, admin.publicKeyText()));
        QVERIFY(api.closeVoiceRoom(url));
        QVERIFY(api.setGroupMuted(url, true));
        const Identity joiner = Identity::generate();
        sgtest::signIn(joiner);
        QCOMPARE(api.requestJoin(url, QStringLiteral("hello")).status, QStringLiteral("pending"));
        sgtest::signIn(m_user);
        QVERIFY(api.decideJoin(url, joiner.publicKeyText(), QStringLiteral("approve")));

        const QStringList expected{
            QStringLiteral("server.inbox.new"), QStringLiteral("server.member.joined"),
            QStringLiteral("server.member.role"), QStringLiteral("server.member.updated"),
            QStringLiteral("server.member.left"), QStringLiteral("server.voice.opened"),
            QStringLiteral("server.voice.grant"), QStringLiteral("server.voice.revoke"),
            QStringLiteral("server.voice.closed"), QStringLiteral("server.group.updated"),
            QStringLiteral("server.join_request"), QStringLiteral("server.member.joined"),
            QStringLiteral("server.join_resolved")};
        // Frames of one socket arrive in order: once the marker is in, any
        // stray extra event would be in too.
        server.sendRaw(QStringLiteral("{\"type\":\"server.marker\"}"));
        QTRY_VERIFY_WITH_TIMEOUT(!events.isEmpty()
                                     && events.last().at(1).toString() == QLatin1String("server.marker"),
                                 kWaitMs);
        events.removeLast();
        QCOMPARE(typesOf(events), expected);
        QCOMPARE(events.first().at(2).value<QJsonObject>().value("data").toObject().value("message_id").toString(),
                 QStringLiteral("m1"));

        // Every typed frame is passed on, a repeated one each time (the
        // receivers apply events idempotently); frames without a type or
        // that are not JSON are dropped.
        events.clear();
        server.sendRaw(QStringLiteral("{\"type\":\"server.custom\",\"event_id\":5}"));
        server.sendRaw(QStringLiteral("{\"type\":\"server.custom\",\"event_id\":5}"));
        server.sendRaw(QStringLiteral("not json"));
        server.sendRaw(QStringLiteral("{\"data\":{}}"));
        server.sendRaw(QStringLiteral("[\"server.custom\"]"));
        // Nearly a megabyte of tiny values is no event: it is not built.
        server.sendRaw(QStringLiteral("{\"type\":\"server.custom\",\"data\":[") + QStringLiteral("{},").repeated(300000)
                       + QStringLiteral("{}]}"));
        server.sendRaw(QStringLiteral("{\"type\":\"server.last\",\"event_id\":77}"));
        QTRY_COMPARE_WITH_TIMEOUT(events.size(), 3, kWaitMs);
        QCOMPARE(typesOf(events), (QStringList{QStringLiteral("server.custom"), QStringLiteral("server.custom"),
                                               QStringLiteral("server.last")}));
        client.stop();
    }

    void unansweredUpgradeIsAFailedAttempt()
    {
        FakeGroupServer server(m_user.publicKeyText());
        QVERIFY(server.start());
        // The token is had first; then the server's thread is held, so the
        // upgrade is accepted by the system but never answered.
        QVERIFY(!SuperGroupServiceClient::instance().token(server.baseUrl()).isEmpty());
        struct Hold
        {
            std::atomic<bool> entered{false};
            std::atomic<bool> released{false};
            std::thread thread;
            void release()
            {
                released = true;
                if (thread.joinable())
                    thread.join();
            }
            ~Hold() { release(); }
        } hold;
        hold.thread = std::thread([&] {
            server.http().runOnServerThread([&] {
                hold.entered = true;
                while (!hold.released.load())
                    QThread::msleep(5);
            });
        });
        QTRY_VERIFY_WITH_TIMEOUT(hold.entered.load(), kWaitMs);
        SuperGroupRealtimeClient client(server.baseUrl());
        client.setTimeDivisor(50);
        QSignalSpy states(&client, &SuperGroupRealtimeClient::stateChanged);
        QSignalSpy reconnects(&client, &SuperGroupRealtimeClient::reconnectScheduled);
        client.start();
        QTRY_VERIFY_WITH_TIMEOUT(!reconnects.isEmpty(), kWaitMs);
        QVERIFY(statesOf(states).contains(QStringLiteral("failed")));
        QVERIFY(!statesOf(states).contains(QStringLiteral("connected")));
        hold.release();
        // Once the server answers again, a later attempt gets through.
        QTRY_VERIFY_WITH_TIMEOUT(statesOf(states).contains(QStringLiteral("connected")), kWaitMs);
        client.stop();
    }

    void oversizedFrameEndsTheConnection()
    {
        FakeGroupServer server(m_user.publicKeyText());
        QVERIFY(server.start());
        SuperGroupRealtimeClient client(server.baseUrl());
        client.setTimeDivisor(50);
        QSignalSpy events(&client, &SuperGroupRealtimeClient::eventReceived);
        QSignalSpy reconnects(&client, &SuperGroupRealtimeClient::reconnectScheduled);
        client.start();
        QTRY_COMPARE_WITH_TIMEOUT(server.socketCount(), 1, kWaitMs);
        const QString padding(int(velmor::net::kMaxIncomingWebSocketBytes), QLatin1Char('p'));
        server.sendRaw(QStringLiteral("{\"type\":\"server.big\",\"pad\":\"%1\"}").arg(padding));
        server.sendRaw(QStringLiteral("{\"type\":\"server.after\"}"));
        QTRY_VERIFY_WITH_TIMEOUT(!reconnects.isEmpty(), kWaitMs);
        // A new connection comes, and the oversized frame never reached the
        // receivers.
        QTRY_VERIFY_WITH_TIMEOUT(server.socketConnects() >= 2, kWaitMs);
        QVERIFY(!typesOf(events).contains(QStringLiteral("server.big")));
        client.stop();
    }

    void reconnectsWithGrowingDelays()
    {
        FakeGroupServer server(m_user.publicKeyText());
        QVERIFY(server.start());
        SuperGroupRealtimeClient client(server.baseUrl());
        client.setTimeDivisor(100); // 1000 ms become 10 ms; the reported delays stay
        QSignalSpy states(&client, &SuperGroupRealtimeClient::stateChanged);
        QSignalSpy scheduled(&client, &SuperGroupRealtimeClient::reconnectScheduled);
        QSignalSpy events(&client, &SuperGroupRealtimeClient::eventReceived);
        client.start();
        QTRY_COMPARE_WITH_TIMEOUT(server.clientFrames().size(), 1, kWaitMs); // hello answered
        const int loginsBefore = server.auth().loginCount();

        // The server goes away and then refuses every new socket before it
        // says anything: each attempt waits longer than the one before.
        server.setRejectSockets(true);
        server.dropSockets();
        QTRY_VERIFY_WITH_TIMEOUT(scheduled.size() >= 6, kWaitMs);
        QCOMPARE(delaysOf(scheduled).mid(0, 6), (QList<int>{1000, 2000, 4000, 8000, 16000, 30000}));
        QVERIFY(statesOf(states).contains(QStringLiteral("reconnecting")));
        // Every attempt after a failure logs in afresh.
        QVERIFY(server.auth().loginCount() >= loginsBefore + 5);

        // The server is back and greets the client: the schedule starts anew.
        server.setRejectSockets(false);
        const int connects = server.socketConnects();
        QTRY_VERIFY_WITH_TIMEOUT(server.socketCount() == 1, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(client.attempts() == 0, kWaitMs);
        QVERIFY(server.socketConnects() > connects);
        scheduled.clear();
        server.dropSockets();
        QTRY_VERIFY_WITH_TIMEOUT(scheduled.size() >= 1, kWaitMs);
        QCOMPARE(scheduled.first().at(2).toInt(), 1000);
        QTRY_COMPARE_WITH_TIMEOUT(server.socketCount(), 1, kWaitMs);

        // One event after all this arrives once, on the one live socket.
        events.clear();
        server.pushEvent(QStringLiteral("server.inbox.new"), QJsonObject{{"seq", 1}});
        server.sendRaw(QStringLiteral("{\"type\":\"server.marker\"}"));
        QTRY_COMPARE_WITH_TIMEOUT(events.size(), 2, kWaitMs);
        QCOMPARE(typesOf(events),
                 (QStringList{QStringLiteral("server.inbox.new"), QStringLiteral("server.marker")}));
        client.stop();
    }

    void stopReallyStops()
    {
        FakeGroupServer server(m_user.publicKeyText());
        QVERIFY(server.start());
        SuperGroupRealtimeClient client(server.baseUrl());
        client.setTimeDivisor(100);
        QSignalSpy events(&client, &SuperGroupRealtimeClient::eventReceived);
        QSignalSpy scheduled(&client, &SuperGroupRealtimeClient::reconnectScheduled);
        client.start();
        QTRY_COMPARE_WITH_TIMEOUT(server.socketCount(), 1, kWaitMs);
        client.stop();
        QVERIFY(!client.isRunning());
        QTRY_COMPARE_WITH_TIMEOUT(server.socketCount(), 0, kWaitMs);
        server.pushEvent(QStringLiteral("server.inbox.new"), QJsonObject());
        server.dropSockets();
        QTest::qWait(300); // many reconnection periods at this speed
        QCOMPARE(server.socketConnects(), 1);
        QCOMPARE(events.size(), 0);
        QCOMPARE(scheduled.size(), 0);

        // Stopped while its token is still being fetched: nothing opens.
        server.http().setFault(QStringLiteral("/v1/auth/challenge"), Fault::delay(200));
        SuperGroupServiceClient::instance().clearTokens();
        client.start();
        client.stop();
        QTest::qWait(400);
        QCOMPARE(server.socketConnects(), 1);
        QVERIFY(!client.isConnected());

        // Stopped by a receiver of its own first state report.
        server.http().clearFaults();
        SuperGroupRealtimeClient selfStopping(server.baseUrl());
        connect(&selfStopping, &SuperGroupRealtimeClient::stateChanged, &selfStopping,
                [&selfStopping](const QString &, const QString &state, int) {
                    if (state == QLatin1String("connecting"))
                        selfStopping.stop();
                });
        selfStopping.start();
        QTest::qWait(300);
        QCOMPARE(server.socketConnects(), 1);
        QVERIFY(!selfStopping.isRunning());

        // And it can be started again.
        client.start();
        QTRY_COMPARE_WITH_TIMEOUT(server.socketCount(), 1, kWaitMs);
        client.stop();
    }

    void loginFailureIsReportedAndRetried()
    {
        FakeGroupServer server(m_user.publicKeyText());
        QVERIFY(server.start());
        server.http().setFault(QStringLiteral("/v1/auth/challenge"), Fault::http500());
        SuperGroupRealtimeClient client(server.baseUrl());
        client.setTimeDivisor(100);
        QSignalSpy states(&client, &SuperGroupRealtimeClient::stateChanged);
        client.start();
        QTRY_VERIFY_WITH_TIMEOUT(statesOf(states).count(QStringLiteral("failed")) >= 2, kWaitMs);
        QCOMPARE(statesOf(states).mid(0, 3),
                 (QStringList{QStringLiteral("connecting"), QStringLiteral("failed"), QStringLiteral("reconnecting")}));
        QCOMPARE(server.socketConnects(), 0);
        server.http().clearFaults();
        QTRY_VERIFY_WITH_TIMEOUT(statesOf(states).contains(QStringLiteral("connected")), kWaitMs);
        client.stop();

        // A server nobody listens on, and one that plain ws may not reach.
        SuperGroupRealtimeClient dead(velmor::fakes::unusedLoopbackUrl());
        SuperGroupRealtimeClient remote(QStringLiteral("http://groups.example.com"));
        QSignalSpy deadStates(&dead, &SuperGroupRealtimeClient::stateChanged);
        QSignalSpy remoteStates(&remote, &SuperGroupRealtimeClient::stateChanged);
        dead.start();
        remote.start();
        QTRY_VERIFY_WITH_TIMEOUT(statesOf(deadStates).contains(QStringLiteral("failed")), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(statesOf(remoteStates).contains(QStringLiteral("failed")), kWaitMs);
        dead.stop();
        remote.stop();
    }

    void serversAreIndependent()
    {
        FakeGroupServer a(m_user.publicKeyText());
        FakeGroupServer b(m_user.publicKeyText());
        QVERIFY(a.start() && b.start());
        SuperGroupRealtimeClient clientA(a.baseUrl());
        SuperGroupRealtimeClient clientB(b.baseUrl());
        clientA.setTimeDivisor(100);
        clientB.setTimeDivisor(100);
        QSignalSpy eventsA(&clientA, &SuperGroupRealtimeClient::eventReceived);
        QSignalSpy eventsB(&clientB, &SuperGroupRealtimeClient::eventReceived);
        QSignalSpy scheduledB(&clientB, &SuperGroupRealtimeClient::reconnectScheduled);
        clientA.start();
        clientB.start();
        QTRY_VERIFY_WITH_TIMEOUT(a.socketCount() == 1 && b.socketCount() == 1, kWaitMs);

        a.dropSockets();
        b.pushEvent(QStringLiteral("server.voice.opened"), QJsonObject());
        QTRY_COMPARE_WITH_TIMEOUT(eventsB.size(), 1, kWaitMs);
        QCOMPARE(eventsB.first().at(0).toString(), b.baseUrl());
        QTRY_COMPARE_WITH_TIMEOUT(a.socketCount(), 1, kWaitMs);
        QCOMPARE(scheduledB.size(), 0);
        QCOMPARE(b.socketConnects(), 1);
        a.pushEvent(QStringLiteral("server.inbox.new"), QJsonObject());
        QTRY_COMPARE_WITH_TIMEOUT(eventsA.size(), 1, kWaitMs);
        QCOMPARE(eventsA.first().at(0).toString(), a.baseUrl());
        QCOMPARE(eventsB.size(), 1);
    }
};

QTEST_GUILESS_MAIN(SuperGroupRealtimeTest)
#include "test_supergroup_realtime.moc"
