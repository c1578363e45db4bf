// The user's super groups against the local group centre and group servers:
// capacity, creation and joining, the list and its realtime clients, opening
// and pulling, and the realtime events.
#include "chat_fixture.h"

#include "chat/supergroup_directory.h"
#include "identity/crypto.h"
#include "net/supergroup_realtime.h"

#include <QJsonDocument>
#include <QSet>
#include <QtTest>

using namespace chattest;
using velmor::fakes::Fault;
using velmor::fakes::FakeGroupServer;

class SuperGroupTest : public QObject, private ChatFixture
{
    Q_OBJECT

private slots:
    void init() { beginGroups(); }
    void cleanup() { endGroups(); }

    void capacityAndCreation()
    {
        m_center->setCapacity(2, 1);
        QSignalSpy capacity(m_chat.get(), &ChatController::sgCapacityLoaded);
        m_chat->fetchSgCapacity();
        m_chat->fetchSgCapacity();
        QTRY_COMPARE(capacity.count(), 2);
        QCOMPARE(capacity.at(0), (QVariantList{true, 2, 1}));

        m_chat->start();
        QSignalSpy created(m_chat.get(), &ChatController::sgCreateCompleted);
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        m_chat->createSuperGroup(QStringLiteral("  "), QStringLiteral("Harbour"), QStringLiteral("premium"));
        m_chat->createSuperGroup(QStringLiteral("key"), QStringLiteral(" "), QStringLiteral("premium"));
        QCOMPARE(created.count(), 2);
        QCOMPARE(created.at(0), (QVariantList{false, QStringLiteral("empty_creation_key")}));
        QCOMPARE(created.at(1), (QVariantList{false, QStringLiteral("empty_name")}));
        QCOMPARE(failed.count(), 0);

        // A key of the other type is refused by the centre, and reported.
        m_center->addCreationKey(QStringLiteral("k-premium"), QStringLiteral("premium"));
        m_chat->createSuperGroup(QStringLiteral("k-premium"), QStringLiteral("Harbour"), QStringLiteral("standard"));
        QTRY_COMPARE(created.count(), 3);
        QCOMPARE(created.at(2), (QVariantList{false, QStringLiteral("creation_key_type_mismatch")}));
        QCOMPARE(failed.count(), 1);

        m_chat->createSuperGroup(QStringLiteral(" k-premium "), QStringLiteral(" Harbour "), QStringLiteral("Premium"));
        QTRY_COMPARE(created.count(), 4);
        QCOMPARE(created.at(3), (QVariantList{true, QString()}));
        QCOMPARE(m_center->createdServers().size(), 1);
        const QString url = m_center->createdServers().first()->baseUrl();
        const auto row = ChatStore::instance().superGroup(url);
        QVERIFY(row);
        QCOMPARE(row->group_kind, QStringLiteral("premium_plus"));
        QCOMPARE(row->role, QStringLiteral("owner"));
        QCOMPARE(row->name, QStringLiteral("Harbour"));
        // The refresh that follows lists it and connects to it.
        QTRY_VERIFY(peersOf(m_chat->conversations()).contains(QStringLiteral("sg:") + url));
        QTRY_VERIFY(parts().roster.client(url) && parts().roster.client(url)->isConnected());
    }

    void joiningAnOpenOrAnInviteOnlyGroup_data()
    {
        QTest::addColumn<QString>("joinMode");
        QTest::addColumn<QString>("status");
        QTest::newRow("open") << "open" << "joined";
        QTest::newRow("invite only") << "invite" << "pending";
    }
    void joiningAnOpenOrAnInviteOnlyGroup()
    {
        QFETCH(QString, joinMode);
        QFETCH(QString, status);
        FakeGroupServer &server = addServer(QString());
        server.setJoinMode(joinMode);
        m_chat->start();
        QSignalSpy joined(m_chat.get(), &ChatController::superGroupJoinCompleted);
        // The request is sent in the background: the call returns at once.
        QVERIFY(m_chat->joinSuperGroup(server.baseUrl(), QStringLiteral("hello")));
        QCOMPARE(joined.count(), 0);
        QTRY_COMPARE(joined.count(), 1);
        QCOMPARE(joined.at(0), (QVariantList{server.baseUrl(), true, status}));
        waitIdle();
        const bool member = status == QLatin1String("joined");
        QCOMPARE(peersOf(m_chat->conversations()).contains(QStringLiteral("sg:") + server.baseUrl()), member);
        QCOMPARE(parts().roster.client(server.baseUrl()) != nullptr, member);
        if (!member)
            QCOMPARE(server.socketConnects(), 0);

        // A refused join reports the server's own error record.
        server.http().setFault(QStringLiteral("/v1/join/request"), Fault::custom(403, "{\"error\":\"join_blocked\"}"));
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        QVERIFY(m_chat->joinSuperGroup(server.baseUrl(), QString()));
        QTRY_COMPARE(joined.count(), 2);
        QCOMPARE(joined.at(1).at(1).toBool(), false);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toMap().value("httpStatus").toInt(), 403);
        QVERIFY(!m_chat->joinSuperGroup(QStringLiteral(" "), QString()));
    }

    // The joiner has no socket to a group it only asked to join; the centre
    // tells it of the approval, and the group is listed without a restart.
    void anApprovedRequestReachesTheJoinersList()
    {
        FakeGroupServer &server = addServer(QString());
        server.setJoinMode(QStringLiteral("invite"));
        m_chat->start();
        QTRY_COMPARE(m_center->socketCount(), 1);
        QSignalSpy joined(m_chat.get(), &ChatController::superGroupJoinCompleted);
        QVERIFY(m_chat->joinSuperGroup(server.baseUrl(), QString()));
        QTRY_COMPARE(joined.count(), 1);
        QCOMPARE(joined.at(0).at(2).toString(), QStringLiteral("pending"));
        waitIdle();
        const QString peer = QStringLiteral("sg:") + server.baseUrl();
        QVERIFY(!peersOf(m_chat->conversations()).contains(peer));

        // The owner approves: the server admits the member and says so.
        server.addMember(m_me.key(), QStringLiteral("member"), QStringLiteral("Me"));
        server.pushEvent(QStringLiteral("server.member.joined"),
                         QJsonObject{{QStringLiteral("pubkey"), m_me.key()}, {QStringLiteral("role"), QStringLiteral("member")}});
        QTRY_VERIFY(peersOf(m_chat->conversations()).contains(peer));
        QTRY_VERIFY(parts().roster.client(server.baseUrl()) && parts().roster.client(server.baseUrl())->isConnected());
        QCOMPARE(peersOf(m_chat->conversations()).count(peer), 1);
    }

    // The group information fetched after the list names the member count
    // that the header shows, before the group's settings were ever opened.
    void theHeaderCountsTheMembersOfAListedGroup()
    {
        FakeGroupServer &server = addServer(QStringLiteral("member"));
        server.addMember(peerKey(0x62), QStringLiteral("member"));
        startAndConnect();
        const QString url = server.baseUrl();
        QTRY_COMPARE(QJsonDocument::fromJson(ChatStore::instance().superGroup(url)->info_json.toUtf8())
                         .object().value(QStringLiteral("memberCount")).toInt(), 3);
        m_chat->openConversation(QStringLiteral("sg:") + url);
        QTRY_VERIFY2(m_chat->currentGroupSubtitle().startsWith(QStringLiteral("3 位成员")),
                     qPrintable(m_chat->currentGroupSubtitle()));
    }

    void theListKeepsOneClientPerReadyGroup()
    {
        FakeGroupServer &ready = addServer(QStringLiteral("member"), QStringLiteral("Ready"));
        FakeGroupServer &pending = addServer(QStringLiteral("owner"), QStringLiteral("Pending"), QStringLiteral("pending"),
                                             QStringLiteral("PREMIUM"));
        startAndConnect();
        QCOMPARE(parts().roster.clientUrls(), QStringList{ready.baseUrl()});
        QCOMPARE(ready.socketCount(), 1);
        QCOMPARE(pending.socketConnects(), 0);
        const QVariantMap pendingRow = rowOf(m_chat->conversations(), QStringLiteral("sg:") + pending.baseUrl());
        QCOMPARE(pendingRow.value("last").toString(), QStringLiteral("部署中"));
        QCOMPARE(pendingRow.value("isPremium").toBool(), true);
        QCOMPARE(ChatStore::instance().superGroup(pending.baseUrl())->group_kind, QStringLiteral("premium_plus"));

        // Refreshing again, also twice at once, keeps the same client.
        velmor::sg::SuperGroupRealtimeClient *client = parts().roster.client(ready.baseUrl());
        m_chat->refreshSuperGroups();
        m_chat->refreshSuperGroups();
        waitIdle();
        QCOMPARE(parts().roster.client(ready.baseUrl()), client);
        QCOMPARE(ready.socketConnects(), 1);

        // A failed list request changes nothing.
        m_center->http().setFault(QStringLiteral("/v1/my/groups"), Fault::http500());
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        m_chat->refreshSuperGroups();
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(parts().roster.client(ready.baseUrl()), client);
        QCOMPARE(m_chat->conversations().size(), 2);
        m_center->http().clearFaults();

        // Stopping drops every client, never a stored row.
        m_chat->stop();
        waitIdle();
        QVERIFY(parts().roster.clientUrls().isEmpty());
        QVERIFY(ChatStore::instance().superGroup(ready.baseUrl()));
    }

    void connectingPullsOnceAndADroppedSocketLosesNothing()
    {
        FakeGroupServer &server = addServer(QStringLiteral("member"));
        server.appendMessage(peerKey(0x62), QStringLiteral("text"), textJson(QStringLiteral("one")));
        startAndConnect();
        QTRY_COMPARE(storedOf(server).size(), 1);
        velmor::chat::SuperGroupRecord row = *ChatStore::instance().superGroup(server.baseUrl());
        row.role = QStringLiteral("member");
        ChatStore::instance().upsertSuperGroup(row);
        const int pulls = server.http().requestCount(QStringLiteral("/v1/message/pull"));

        // Pongs report latency without pulling again.
        server.sendRaw(QStringLiteral("{\"type\":\"server.pong\"}"));
        QTRY_COMPARE(parts().roster.client(server.baseUrl())->isConnected(), true);
        waitIdle();
        QCOMPARE(server.http().requestCount(QStringLiteral("/v1/message/pull")), pulls);

        // A message sent and a role given while the socket is down (the
        // server tells only open sockets) arrive after the reconnection, and
        // the new admin asks for the join requests to decide.
        server.setRejectSockets(true);
        server.dropSockets();
        server.appendMessage(peerKey(0x62), QStringLiteral("text"), textJson(QStringLiteral("two")));
        QTRY_VERIFY(!parts().roster.client(server.baseUrl())->isConnected());
        server.addMember(m_me.key(), QStringLiteral("admin"));
        QCOMPARE(server.http().requestCount(QStringLiteral("/v1/join/pending")), 0);
        server.setRejectSockets(false);
        QTRY_VERIFY_WITH_TIMEOUT(parts().roster.client(server.baseUrl())->isConnected(), 20000);
        QTRY_COMPARE(storedOf(server).size(), 2);
        QCOMPARE(parts().roster.clientUrls().size(), 1);
        QTRY_COMPARE(ChatStore::instance().superGroup(server.baseUrl())->role, QStringLiteral("admin"));
        QTRY_VERIFY(server.http().requestCount(QStringLiteral("/v1/join/pending")) > 0);
        waitIdle();
    }

    void openingLoadsTheHistory200AtATime()
    {
        FakeGroupServer &server = addServer(QStringLiteral("member"));
        for (int i = 0; i < 430; ++i)
            server.appendMessage(i % 10 == 0 ? m_me.key() : peerKey(0x62), QStringLiteral("text"),
                                 textJson(QStringLiteral("m%1").arg(i)));
        m_chat->start();
        waitIdle();
        const QString peer = QStringLiteral("sg:") + server.baseUrl();
        QSignalSpy notices(m_chat.get(), &ChatController::systemNotificationRequested);
        m_chat->openConversation(peer);
        QTRY_COMPARE_WITH_TIMEOUT(ChatStore::instance().shownMessages(peer).size(), 430, 15000);
        waitIdle();
        // The list shows the newest pages; the rest comes as the user
        // scrolls up.
        while (m_chat->loadOlderMessages())
            waitIdle();
        QCOMPARE(server.http().requestCount(QStringLiteral("/v1/message/pull")) >= 3, true);
        QSet<QString> ids;
        int outgoing = 0;
        for (const QVariant &value : m_chat->messages()) {
            const QVariantMap message = value.toMap();
            ids.insert(message.value("id").toString());
            if (message.value("outgoing").toBool())
                ++outgoing;
        }
        QCOMPARE(ids.size(), 430);
        QCOMPARE(outgoing, 43);
        QCOMPARE(notices.count(), 0); // the open conversation gets no notice
        // Read on the server and here.
        QCOMPARE(server.member(m_me.key()).lastReadSeq, 430);
        QCOMPARE(m_chat->host().superGroups().runtime(server.baseUrl()).unread, 0);
        QCOMPARE(ChatStore::instance().superGroup(server.baseUrl())->last_message_seq, 430);

        // Pulling again stores nothing twice.
        parts().sync.pull(server.baseUrl());
        parts().sync.pull(server.baseUrl());
        waitIdle();
        QCOMPARE(storedOf(server).size(), 430);
    }

    // A backlog of many batches is one pull: one notice, one request per batch.
    void anUnopenedGroupGetsOneNoticePerPull_data()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("one batch") << 5;
        QTest::newRow("a backlog of five batches") << 1000;
    }
    void anUnopenedGroupGetsOneNoticePerPull()
    {
        QFETCH(int, count);
        FakeGroupServer &server = addServer(QStringLiteral("member"), QStringLiteral("Quiet"));
        startAndConnect();
        for (int i = 0; i < count; ++i)
            server.appendMessage(peerKey(0x62), QStringLiteral("text"), textJson(QStringLiteral("n%1").arg(i)));
        const int requestsBefore = server.http().requestCount(QStringLiteral("/v1/message/pull"));
        QSignalSpy notices(m_chat.get(), &ChatController::systemNotificationRequested);
        parts().sync.pull(server.baseUrl());
        waitIdle();
        QCOMPARE(storedOf(server).size(), count);
        QCOMPARE(notices.count(), 1);
        QCOMPARE(notices.at(0).at(0).toString(), QStringLiteral("sg:") + server.baseUrl());
        QCOMPARE(m_chat->host().superGroups().runtime(server.baseUrl()).unread, count);
        QCOMPARE(ChatStore::instance().superGroup(server.baseUrl())->last_message_seq, count);
        QCOMPARE(server.http().requestCount(QStringLiteral("/v1/message/pull")) - requestsBefore, count / 200 + 1);
    }

    // A backlog being pulled stops soon after a sign-out or once the user's
    // list no longer holds the group, rather than reading it to its end. A
    // pull asked for meanwhile goes with its session.
    void aBacklogStopsWithItsSessionOrGroup_data()
    {
        QTest::addColumn<bool>("signOut");
        QTest::addColumn<bool>("again"); // another pull asked for while it ran
        QTest::newRow("sign-out") << true << false;
        QTest::newRow("group removed from the list") << false << false;
        QTest::newRow("sign-out, another pull asked for") << true << true;
    }
    void aBacklogStopsWithItsSessionOrGroup()
    {
        QFETCH(bool, signOut);
        QFETCH(bool, again);
        FakeGroupServer &server = addServer(QStringLiteral("member"), QStringLiteral("Long"));
        startAndConnect();
        for (int i = 0; i < 1600; ++i)
            server.appendMessage(peerKey(0x62), QStringLiteral("text"), textJson(QStringLiteral("b%1").arg(i)));
        const QString pullPath = QStringLiteral("/v1/message/pull");
        server.http().setFault(pullPath, Fault::delay(250));
        parts().sync.pull(server.baseUrl());
        QTRY_VERIFY_WITH_TIMEOUT(m_chat->host().superGroups().runtime(server.baseUrl()).lastMessageSeq >= 200, 15000);
        if (again)
            parts().sync.pull(server.baseUrl());
        if (signOut)
            m_chat->stop();
        else
            m_chat->host().superGroups().setEntries({}); // as a refresh of the user's groups without it
        waitIdle();
        QTest::qWait(600);
        server.http().clearFaults();
        QVERIFY2(server.http().requestCount(pullPath) <= 4,
                 qPrintable(QString::number(server.http().requestCount(pullPath))));
        QVERIFY(storedOf(server).size() <= 800);
        QVERIFY(!parts().sync.isPulling(server.baseUrl()));
        if (again) {
            // The next session pulls the rest of the backlog once, as its
            // socket opens.
            const qsizetype stored = storedOf(server).size();
            const int requests = server.http().requestCount(pullPath);
            startAndConnect();
            QCOMPARE(storedOf(server).size(), 1600);
            QCOMPARE(server.http().requestCount(pullPath) - requests, int(1600 - stored) / 200 + 1);
        }
    }

    void anImageWaitsForItsMedia()
    {
        FakeGroupServer &server = addServer(QStringLiteral("member"));
        server.setMediaByReference(true);
        const QByteArray jpeg(2048, 'j');
        const QJsonObject image{{QStringLiteral("type"), QStringLiteral("image")},
                                {QStringLiteral("imageB64"), velmor::crypto::base64UrlEncode(jpeg)},
                                {QStringLiteral("mime"), QStringLiteral("image/jpeg")},
                                {QStringLiteral("width"), 4},
                                {QStringLiteral("height"), 3}};
        server.appendMessage(peerKey(0x62), QStringLiteral("text"), textJson(QStringLiteral("before")));
        server.appendMessage(peerKey(0x62), QStringLiteral("image"), image);
        server.appendMessage(peerKey(0x62), QStringLiteral("text"), textJson(QStringLiteral("after")));
        // The pull the realtime connection brings is over before counting.
        startAndConnect();
        server.http().resetCounts();
        server.http().setFault(QStringLiteral("/v1/image/get"), Fault::http500());
        parts().sync.pull(server.baseUrl());
        waitIdle();
        // The image is not stored without its media, and the cursor stays before it.
        QCOMPARE(storedOf(server).size(), 2);
        QCOMPARE(m_chat->host().superGroups().runtime(server.baseUrl()).lastMessageSeq, 1);

        server.http().setFault(QStringLiteral("/v1/image/get"), Fault::custom(200, jpeg));
        parts().sync.pull(server.baseUrl());
        waitIdle();
        QCOMPARE(storedOf(server).size(), 3);
        QCOMPARE(m_chat->host().superGroups().runtime(server.baseUrl()).lastMessageSeq, 3);
        const QString attachment = ChatStore::instance().messageById(server.messages().at(1).messageId)->attachment;
        QVERIFY(attachment.contains(QStringLiteral("\"kind\":\"image\"")));
        // The text after it was stored once, its media never fetched again.
        QCOMPARE(server.http().requestCount(QStringLiteral("/v1/image/get")), 2);

        // Media that never comes stops holding the group after a few pulls.
        server.appendMessage(peerKey(0x62), QStringLiteral("image"), image);
        server.http().setFault(QStringLiteral("/v1/image/get"), Fault::http500());
        for (int i = 0; i < velmor::chat::SuperGroupSync::kMediaAttempts; ++i) {
            QCOMPARE(storedOf(server).size(), 3);
            parts().sync.pull(server.baseUrl());
            waitIdle();
        }
        QCOMPARE(storedOf(server).size(), 4);
        QCOMPARE(m_chat->host().superGroups().runtime(server.baseUrl()).lastMessageSeq, 4);
    }

    // Deep in a backlog, an image whose media does not come holds the cursor
    // before it while the messages after it are stored; each batch that
    // takes it again counts a miss, carried from batch to batch, and after
    // the last attempt it is stored without its media and the backlog's end
    // follows.
    void anImageInABacklogWaitsForItsMedia()
    {
        FakeGroupServer &server = addServer(QStringLiteral("member"));
        server.setMediaByReference(true);
        const QJsonObject image{{QStringLiteral("type"), QStringLiteral("image")},
                                {QStringLiteral("imageB64"), velmor::crypto::base64UrlEncode(QByteArray(512, 'j'))},
                                {QStringLiteral("mime"), QStringLiteral("image/jpeg")}};
        startAndConnect();
        for (int i = 0; i < 250; ++i)
            server.appendMessage(peerKey(0x62), QStringLiteral("text"), textJson(QStringLiteral("a%1").arg(i)));
        server.appendMessage(peerKey(0x62), QStringLiteral("image"), image);
        for (int i = 0; i < 250; ++i)
            server.appendMessage(peerKey(0x62), QStringLiteral("text"), textJson(QStringLiteral("b%1").arg(i)));
        server.http().setFault(QStringLiteral("/v1/image/get"), Fault::http500());
        // Batches from 0, 200 and (held) 250: two misses, up to seq 450 stored but the image.
        parts().sync.pull(server.baseUrl());
        waitIdle();
        QCOMPARE(storedOf(server).size(), 449);
        QCOMPARE(m_chat->host().superGroups().runtime(server.baseUrl()).lastMessageSeq, 250);
        parts().sync.pull(server.baseUrl());
        waitIdle();
        QCOMPARE(storedOf(server).size(), 501);
        QCOMPARE(m_chat->host().superGroups().runtime(server.baseUrl()).lastMessageSeq, 501);
        QCOMPARE(ChatStore::instance().superGroup(server.baseUrl())->last_message_seq, 501);
    }

    void eventsApplyOncePerId()
    {
        FakeGroupServer &server = addServer(QStringLiteral("member"), QStringLiteral("Harbour"), QStringLiteral("ready"),
                                            QStringLiteral("premium"));
        startAndConnect();
        const QString url = server.baseUrl();
        QStringList order;
        connect(m_chat.get(), &ChatController::voiceRoomOpenChanged, this,
                [&order](const QString &, bool open) { order << (open ? "open" : "closed"); });
        connect(m_chat.get(), &ChatController::superGroupEvent, this,
                [&order](const QString &, const QString &type, const QVariantMap &) { order << type; });
        QSignalSpy notices(m_chat.get(), &ChatController::systemNotificationRequested);

        const QString other = peerKey(0x63);
        const QJsonObject joined{{QStringLiteral("pubkey"), other}, {QStringLiteral("display_name"), QStringLiteral("Ida")},
                                 {QStringLiteral("role"), QStringLiteral("member")}};
        server.pushEvent(QStringLiteral("server.member.joined"), joined, QStringLiteral("e1"));
        server.pushEvent(QStringLiteral("server.member.joined"), joined, QStringLiteral("e1"));
        server.pushEvent(QStringLiteral("server.voice.opened"), QJsonObject{}, QStringLiteral("e2"));
        server.pushEvent(QStringLiteral("server.voice.grant"), QJsonObject{{QStringLiteral("pubkey"), other}},
                         QStringLiteral("e3"));
        QTRY_COMPARE(order.size(), 4);
        QCOMPARE(order, (QStringList{"server.member.joined", "open", "server.voice.opened", "server.voice.grant"}));
        QCOMPARE(notices.count(), 1);
        QCOMPARE(notices.at(0).at(2).toString(), QStringLiteral("语音聊天室已开启"));
        int named = 0;
        for (const auto &member : ChatStore::instance().superGroupMembers(url))
            if (member.public_key == other && member.display_name == QLatin1String("Ida"))
                ++named;
        QCOMPARE(named, 1);
        // Recorded once, as handled, out of the pending notifications.
        int voiceRows = 0;
        for (const auto &event : ChatStore::instance().notificationEvents(true))
            if (event.event_type == QLatin1String("voice_opened"))
                ++voiceRows;
        QCOMPARE(voiceRows, 1);
        QVERIFY(ChatStore::instance().notificationEvents().isEmpty());

        // The user's role changes without reopening (the socket's own reading
        // of it is in); removal raises a notice.
        waitIdle();
        server.pushEvent(QStringLiteral("server.member.role"),
                         QJsonObject{{QStringLiteral("pubkey"), m_me.key()}, {QStringLiteral("role"), QStringLiteral("admin")}});
        server.addMember(m_me.key(), QStringLiteral("admin"));
        QTRY_COMPARE(ChatStore::instance().superGroup(url)->role, QStringLiteral("admin"));
        // A manager now, it asks for the join requests it decides.
        QTRY_VERIFY(server.http().requestCount(QStringLiteral("/v1/join/pending")) > 0);
        server.pushEvent(QStringLiteral("server.group.updated"),
                         QJsonObject{{QStringLiteral("all_muted"), true}, {QStringLiteral("name"), QStringLiteral("Port")}});
        QTRY_VERIFY(sg_allMuted(url));
        QTRY_COMPARE(m_chat->host().superGroups().runtime(url).name, QStringLiteral("Port"));
        server.pushEvent(QStringLiteral("server.member.left"), QJsonObject{{QStringLiteral("pubkey"), m_me.key()}});
        QTRY_COMPARE(notices.count(), 2);
        QCOMPARE(notices.at(1).at(2).toString(), QStringLiteral("您的群组成员状态已更新"));
        waitIdle();
    }

    void aHiccupNeverDemotes()
    {
        FakeGroupServer &server = addServer(QStringLiteral("admin"));
        startAndConnect();
        const QString url = server.baseUrl();
        velmor::chat::SuperGroupRecord row = *ChatStore::instance().superGroup(url);
        row.role = QStringLiteral("admin");
        ChatStore::instance().upsertSuperGroup(row);

        // An event about the user refreshes the role; the member list fails.
        server.http().setFault(QStringLiteral("/v1/members"), Fault::http500());
        server.pushEvent(QStringLiteral("server.member.updated"),
                         QJsonObject{{QStringLiteral("pubkey"), m_me.key()}, {QStringLiteral("display_name"), QStringLiteral("Me")}});
        QTRY_VERIFY(server.http().requestCount(QStringLiteral("/v1/members")) >= 1);
        waitIdle();
        QCOMPARE(ChatStore::instance().superGroup(url)->role, QStringLiteral("admin"));

        // Once the server answers, a real change is taken.
        server.http().clearFaults();
        server.addMember(m_me.key(), QStringLiteral("member"));
        server.pushEvent(QStringLiteral("server.member.updated"), QJsonObject{{QStringLiteral("pubkey"), m_me.key()}});
        QTRY_COMPARE(ChatStore::instance().superGroup(url)->role, QStringLiteral("member"));
    }

private:
    static bool sg_allMuted(const QString &url)
    {
        const auto row = ChatStore::instance().superGroup(url);
        if (!row)
            return false;
        const QJsonObject info = QJsonDocument::fromJson(row->info_json.toUtf8()).object();
        return info.value("allMuted").toBool() && info.value("all_muted").toBool();
    }
};

QTEST_GUILESS_MAIN(SuperGroupTest)
#include "test_supergroups.moc"
