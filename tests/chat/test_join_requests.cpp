// Join requests as notifications: a normal group's stored requests and a
// super group's fetched ones each show once (with one desktop notice, however
// often fetched), approve / reject / block settle them, a second click does
// nothing, a failed approval leaves the request waiting with its reason and
// the member's profile as it was, and an entry left busy by a quit is
// waiting again at the next start.
#include "chat_fixture.h"

#include "chat/directory_parts.h"
#include "groups/group_card.h"
#include "groups/group_engine.h"
#include "net/relay_api.h"
#include "net/supergroup_api.h"
#include "support/fake_group_server.h"
#include "support/fake_relay.h"
#include "support/fake_relay_groups.h"

#include <QJsonDocument>
#include <QtTest>

using namespace chattest;
using namespace velmor::chat;
using velmor::fakes::Fault;
using velmor::fakes::FakeGroupServer;

class JoinRequestsTest : public QObject, private ChatFixture
{
    Q_OBJECT

private:
    QString createAsAlice(const QString &name)
    {
        as(m_alice);
        const GroupCreateResult created = createGroup(GroupRegistry::instance(), name, {m_bob.key()});
        if (!created.ok)
            return {};
        ChatStore::instance().ensureGroupConversation(created.groupId, name);
        return created.groupId;
    }

    // What the inbox stores for a request that came in.
    void requestArrives(const QString &groupId, const User &from, const QString &displayName = QString())
    {
        PendingGroupJoinRequestRecord request;
        request.group_id = groupId;
        request.join_key = GroupRegistry::instance().card(groupId)->joinKey();
        request.requester_public_key = from.key();
        request.requester_address = from.address();
        request.display_name = displayName;
        request.created_at = 1000;
        QVERIFY(ChatStore::instance().upsertPendingGroupJoinRequest(request));
    }

    QString stateOf(const QString &kind, const QString &target, const User &requester)
    {
        const auto event = ChatStore::instance().notificationEvent(kind + ":" + target + ":" + requester.key());
        return event ? event->state : QString();
    }

    QString profileName(const QString &groupId, const User &member)
    {
        for (const QJsonObject &p : ChatStore::instance().normalGroupMemberProfiles(groupId))
            if (p.value("memberRawPublicKey").toString() == member.key())
                return p.value("displayName").toString();
        return {};
    }

private slots:
    void initTestCase() { QVERIFY(startRelayWithUsers(0x51)); }
    // Alice starts every case with a store of her own.
    void init() { m_alice = makeUser(QStringLiteral("alice-") + QString::number(++m_sessions), 0x51); }
    void cleanup() { m_chat.reset(); }
    void cleanupTestCase() { stopRelay(); }

    void aRequestShowsOnce()
    {
        const QString groupId = createAsAlice(QStringLiteral("Readers"));
        QVERIFY(!groupId.isEmpty());
        requestArrives(groupId, m_carol);
        requestArrives(groupId, m_carol); // sent twice
        // A request for a group Alice does not hold is no notification.
        PendingGroupJoinRequestRecord stray;
        stray.group_id = QStringLiteral("00112233445566778899aabbccddeeff");
        stray.requester_public_key = m_dave.key();
        QVERIFY(ChatStore::instance().upsertPendingGroupJoinRequest(stray));

        QSignalSpy notices(m_chat.get(), &ChatController::systemNotificationRequested);
        m_chat->reloadNotifications();
        m_chat->reloadNotifications();
        waitIdle();
        QCOMPARE(m_chat->notificationCount(), 1);
        const QVariantMap entry = m_chat->notifications().first().toMap();
        QCOMPARE(entry.value("stableId").toString(), "normal:" + groupId + ":" + m_carol.key());
        QCOMPARE(entry.value("kind").toString(), QStringLiteral("normal"));
        QCOMPARE(entry.value("target").toString(), groupId);
        QCOMPARE(entry.value("groupName").toString(), QStringLiteral("Readers"));
        QCOMPARE(entry.value("state").toString(), QStringLiteral("pending"));
        QCOMPARE(entry.value("busy").toBool(), false);
        // No name given: the shortened address.
        QCOMPARE(entry.value("display").toString(), ChatController::shortAddress(m_carol.address()));
        // The inbox gave the one notice of a normal group's request.
        QCOMPARE(notices.count(), 0);
    }

    void aRequestSentTwiceThroughTheRelayShowsOnceWithOneNotice()
    {
        const QString groupId = createAsAlice(QStringLiteral("Through the relay"));
        const QString joinKey = GroupRegistry::instance().card(groupId)->joinKey();
        QVERIFY(setGroupVisibility(GroupRegistry::instance(), groupId, true).ok);
        // Carol finds the group and asks twice, a while apart.
        as(m_carol);
        for (int i = 0; i < 2; ++i) {
            QSignalSpy resolved(m_chat.get(), &ChatController::discoveryCompleted);
            m_chat->resolveDiscoveryInput(QStringLiteral("pelorin:group:") + joinKey);
            QVERIFY(resolved.wait(10000));
            QSignalSpy joined(m_chat.get(), &ChatController::discoveryCompleted);
            m_chat->joinDiscoveredGroup();
            QVERIFY(joined.wait(10000));
            QCOMPARE(joined.first(), (QVariantList{true, "pending"}));
            m_chat->clearDiscovery();
        }
        // Alice's inbox takes both: one entry, one notice.
        m_chat.reset();
        signOut();
        QVERIFY(signInHere(m_alice));
        m_chat = makeController();
        QSignalSpy notices(m_chat.get(), &ChatController::systemNotificationRequested);
        m_chat->start();
        waitIdle();
        m_chat->refresh();
        waitIdle();
        QCOMPARE(m_chat->notificationCount(), 1);
        QCOMPARE(m_chat->notifications().first().toMap().value("requesterPublicKey").toString(), m_carol.key());
        int joinNotices = 0;
        for (const QList<QVariant> &notice : notices)
            joinNotices += notice.at(2).toString() == QStringLiteral("收到新的入群申请") ? 1 : 0;
        QCOMPARE(joinNotices, 1);
    }

    void decisions_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("state");
        QTest::newRow("approve") << "approve" << "approved";
        QTest::newRow("reject") << "reject" << "rejected";
        QTest::newRow("block") << "block" << "rejected";
    }
    void decisions()
    {
        QFETCH(QString, action);
        QFETCH(QString, state);
        const QString groupId = createAsAlice(QStringLiteral("Decided ") + action);
        requestArrives(groupId, m_carol, QStringLiteral("Caroline"));
        m_chat->reloadNotifications();
        QCOMPARE(m_chat->notificationCount(), 1);

        QSignalSpy changed(m_chat.get(), &ChatController::notificationsChanged);
        m_chat->resolveJoinNotification("normal", groupId, m_carol.key(), action);
        // Busy at once; the approval itself runs in the background.
        QVERIFY(changed.count() >= 1);
        waitIdle();
        QCOMPARE(stateOf("normal", groupId, m_carol), state);
        QCOMPARE(m_chat->notificationCount(), 0);
        QVERIFY(ChatStore::instance().pendingGroupJoinRequests().isEmpty());
        const bool approved = action == QLatin1String("approve");
        QCOMPARE(GroupRegistry::instance().card(groupId)->hasMember(m_carol.key()), approved);
        QCOMPARE(ChatStore::instance().isJoinBlocked(groupId, m_carol.key()), action == QLatin1String("block"));
        if (approved)
            QCOMPARE(profileName(groupId, m_carol), QStringLiteral("Caroline"));
        // The request coming again reopens nothing.
        requestArrives(groupId, m_carol);
        m_chat->reloadNotifications();
        QCOMPARE(stateOf("normal", groupId, m_carol), state);
        QCOMPARE(m_chat->notificationCount(), 0);

        if (approved) {
            // Carol holds the group now, Bob sees her in it.
            for (const User *member : {&m_carol, &m_bob}) {
                as(*member);
                receiveGroupTraffic();
                QVERIFY(GroupRegistry::instance().card(groupId));
                QVERIFY(GroupRegistry::instance().card(groupId)->hasMember(m_carol.key()));
            }
        }
    }

    void approvingTwiceDoesNothingTheSecondTime()
    {
        const QString groupId = createAsAlice(QStringLiteral("Twice"));
        requestArrives(groupId, m_carol);
        m_chat->reloadNotifications();
        const qint64 epoch = GroupRegistry::instance().card(groupId)->epoch;
        m_chat->resolveJoinNotification("normal", groupId, m_carol.key(), "approve");
        m_chat->resolveJoinNotification("normal", groupId, m_carol.key(), "approve");
        m_chat->resolveJoinNotification("normal", groupId, m_carol.key(), "reject");
        QCOMPARE(m_chat->directory().requests.running(), 1);
        QCOMPARE(m_chat->notifications().first().toMap().value("busy").toBool(), true);
        waitIdle();
        QCOMPARE(stateOf("normal", groupId, m_carol), QStringLiteral("approved"));
        QCOMPARE(GroupRegistry::instance().card(groupId)->epoch, epoch + 1);
        // Settled: another click, or one on a request that never was, does nothing.
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        m_chat->resolveJoinNotification("normal", groupId, m_carol.key(), "approve");
        m_chat->resolveJoinNotification("normal", groupId, m_dave.key(), "approve");
        QCOMPARE(m_chat->directory().requests.running(), 0);
        QCOMPARE(failed.count(), 0);
        QCOMPARE(GroupRegistry::instance().card(groupId)->epoch, epoch + 1);
    }

    void aFailedApprovalKeepsTheRequest()
    {
        const QString groupId = createAsAlice(QStringLiteral("Offline"));
        // Carol was in the group once and had a name.
        QVERIFY(ChatStore::instance().upsertNormalGroupMemberProfile(
            groupId, QJsonObject{{"memberRawPublicKey", m_carol.key()}, {"displayName", "Old Carol"},
                                 {"avatarId", ""}, {"updatedAt", 5}}));
        requestArrives(groupId, m_carol, QStringLiteral("New Carol"));
        m_chat->reloadNotifications();
        const qint64 epoch = GroupRegistry::instance().card(groupId)->epoch;

        m_relay.setFault(QStringLiteral("*"), Fault::http500());
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        m_chat->resolveJoinNotification("normal", groupId, m_carol.key(), "approve");
        waitIdle();
        m_relay.clearFaults();
        QCOMPARE(failed.count(), 1);
        const auto event = ChatStore::instance().notificationEvent("normal:" + groupId + ":" + m_carol.key());
        QCOMPARE(event->state, QStringLiteral("pending"));
        QVERIFY(!event->error.isEmpty());
        QCOMPARE(profileName(groupId, m_carol), QStringLiteral("Old Carol"));
        QCOMPARE(ChatStore::instance().pendingGroupJoinRequests().size(), 1);
        QCOMPARE(m_chat->notificationCount(), 1);

        // Decided again once the relay answers.
        m_chat->resolveJoinNotification("normal", groupId, m_carol.key(), "approve");
        waitIdle();
        QCOMPARE(stateOf("normal", groupId, m_carol), QStringLiteral("approved"));
        QVERIFY(GroupRegistry::instance().card(groupId)->epoch > epoch);
        // The card kept by the failed attempt reached Carol with the second.
        as(m_carol);
        receiveGroupTraffic();
        QVERIFY(GroupRegistry::instance().card(groupId));
        QVERIFY(GroupRegistry::instance().card(groupId)->hasMember(m_carol.key()));
    }

    void entriesLeftBusyWaitAgainAtTheNextStart()
    {
        const QString groupId = createAsAlice(QStringLiteral("Crashed"));
        requestArrives(groupId, m_carol);
        requestArrives(groupId, m_dave);
        m_chat->reloadNotifications();
        // As a quit in the middle of two decisions leaves them.
        QVERIFY(ChatStore::instance().setNotificationState("normal:" + groupId + ":" + m_carol.key(),
                                                           {"pending"}, "approving", QString()));
        QVERIFY(ChatStore::instance().setNotificationState("normal:" + groupId + ":" + m_dave.key(),
                                                           {"pending"}, "rejecting", QString()));
        as(m_alice);
        QCOMPARE(stateOf("normal", groupId, m_carol), QStringLiteral("pending"));
        QCOMPARE(stateOf("normal", groupId, m_dave), QStringLiteral("pending"));
        for (const QVariant &entry : m_chat->notifications())
            QCOMPARE(entry.toMap().value("busy").toBool(), false);
        m_chat->resolveJoinNotification("normal", groupId, m_dave.key(), "reject");
        QCOMPARE(stateOf("normal", groupId, m_dave), QStringLiteral("rejected"));
    }

    void superGroupRequests()
    {
        FakeGroupServer managed(m_alice.key(), QStringLiteral("Harbour"));
        FakeGroupServer joined(m_bob.key(), QStringLiteral("Elsewhere"));
        QVERIFY(managed.start() && joined.start());
        managed.addMember(m_alice.key(), QStringLiteral("owner"));
        joined.addMember(m_bob.key(), QStringLiteral("owner"));
        joined.addMember(m_alice.key(), QStringLiteral("member"));
        for (const User *user : {&m_carol, &m_dave, &m_bob}) {
            as(*user);
            QCOMPARE(velmor::sg::SuperGroupApi::instance().requestJoin(managed.baseUrl(), user->name).status,
                     QStringLiteral("pending"));
        }
        as(m_carol);
        QVERIFY(velmor::sg::SuperGroupApi::instance().requestJoin(joined.baseUrl(), QString()).ok);

        as(m_alice);
        QVERIFY(ChatStore::instance().upsertSuperGroup(superGroup(managed.baseUrl(), "Harbour")));
        SuperGroupRecord member = superGroup(joined.baseUrl(), "Elsewhere");
        member.role = QStringLiteral("member");
        QVERIFY(ChatStore::instance().upsertSuperGroup(member));
        SuperGroupRecord owned = *ChatStore::instance().superGroup(managed.baseUrl());
        owned.role = QStringLiteral("owner");
        QVERIFY(ChatStore::instance().upsertSuperGroup(owned));

        QSignalSpy notices(m_chat.get(), &ChatController::systemNotificationRequested);
        m_chat->reloadNotifications();
        waitIdle();
        m_chat->reloadNotifications();
        waitIdle();
        QCOMPARE(notices.count(), 3);
        QCOMPARE(notices.first().at(1).toString(), QStringLiteral("Harbour"));
        QCOMPARE(notices.first().at(2).toString(), QStringLiteral("收到新的入群申请"));
        QVERIFY(notices.first().at(0).toString().startsWith("event:super:" + managed.baseUrl()));
        QCOMPARE(m_chat->notificationCount(), 3);
        // A group where Alice is a member is never asked.
        QCOMPARE(joined.http().requestCount(QStringLiteral("/v1/join/pending")), 0);
        for (const QVariant &e : m_chat->notifications()) {
            const QVariantMap entry = e.toMap();
            QCOMPARE(entry.value("kind").toString(), QStringLiteral("super"));
            if (entry.value("requesterPublicKey").toString() == m_carol.key())
                QCOMPARE(entry.value("note").toString(), m_carol.name);
        }

        // Approve Carol, block Dave; Bob's approval meets a failing server.
        m_chat->resolveJoinNotification("super", managed.baseUrl(), m_carol.key(), "approve");
        m_chat->resolveJoinNotification("super", managed.baseUrl(), m_dave.key(), "block");
        waitIdle();
        QCOMPARE(stateOf("super", managed.baseUrl(), m_carol), QStringLiteral("approved"));
        QCOMPARE(stateOf("super", managed.baseUrl(), m_dave), QStringLiteral("rejected"));
        QVERIFY(managed.isMember(m_carol.key()));
        QVERIFY(managed.blocked().contains(m_dave.key()));

        managed.http().setFault(QStringLiteral("/v1/join/approve"), Fault::http500());
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        m_chat->resolveJoinNotification("super", managed.baseUrl(), m_bob.key(), "approve");
        waitIdle();
        QCOMPARE(failed.count(), 1);
        const auto event = ChatStore::instance().notificationEvent("super:" + managed.baseUrl() + ":" + m_bob.key());
        QCOMPARE(event->state, QStringLiteral("pending"));
        QCOMPARE(event->error, QStringLiteral("join_resolution_failed"));
        QCOMPARE(m_chat->notificationCount(), 1);
        QCOMPARE(notices.count(), 3);
        m_chat.reset();
        managed.stop();
        joined.stop();
    }

    // Bob (owner) decides Carol's request first: Alice's (admin) entry goes
    // at her next refresh, and deciding it before then tells her why.
    void requestsDecidedElsewhere_data()
    {
        QTest::addColumn<QString>("ownerAction");
        QTest::addColumn<bool>("listingFails");   // Alice's server cannot list its requests
        QTest::addColumn<QString>("adminAction"); // empty: she only refreshes
        QTest::newRow("approved elsewhere, then a refresh") << "approve" << false << "";
        QTest::newRow("a refresh that cannot reach the server") << "approve" << true << "";
        QTest::newRow("rejecting a stale entry") << "reject" << true << "reject";
    }
    void requestsDecidedElsewhere()
    {
        QFETCH(QString, ownerAction);
        QFETCH(bool, listingFails);
        QFETCH(QString, adminAction);
        const bool stillListed = listingFails && adminAction.isEmpty();
        FakeGroupServer server(m_bob.key(), QStringLiteral("Harbour"));
        QVERIFY(server.start());
        server.addMember(m_bob.key(), QStringLiteral("owner"));
        server.addMember(m_alice.key(), QStringLiteral("admin"));
        as(m_carol);
        QCOMPARE(velmor::sg::SuperGroupApi::instance().requestJoin(server.baseUrl(), QString()).status,
                 QStringLiteral("pending"));

        as(m_alice);
        SuperGroupRecord group = superGroup(server.baseUrl(), "Harbour");
        group.role = QStringLiteral("admin");
        QVERIFY(ChatStore::instance().upsertSuperGroup(group));
        m_chat->reloadNotifications();
        waitIdle();
        QCOMPARE(m_chat->notificationCount(), 1);

        as(m_bob);
        QVERIFY(velmor::sg::SuperGroupApi::instance().decideJoin(server.baseUrl(), m_carol.key(), ownerAction));
        if (listingFails)
            server.http().setFault(QStringLiteral("/v1/join/pending"), Fault::http500());
        as(m_alice);
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        m_chat->reloadNotifications();
        waitIdle();
        if (!adminAction.isEmpty()) {
            QCOMPARE(m_chat->notificationCount(), 1);
            m_chat->resolveJoinNotification("super", server.baseUrl(), m_carol.key(), adminAction);
            waitIdle();
        }
        QCOMPARE(stateOf("super", server.baseUrl(), m_carol), stillListed ? QStringLiteral("pending") : QStringLiteral("handled"));
        QCOMPARE(m_chat->notificationCount(), stillListed ? 1 : 0);
        QCOMPARE(failed.count(), adminAction.isEmpty() ? 0 : 1);
        if (!adminAction.isEmpty())
            QCOMPARE(failed.first().first().toMap().value("detail").toString(), QStringLiteral("join_request_gone"));
        // The owner's decision stands.
        QCOMPARE(server.joinRequestStatus(m_carol.key()), ownerAction == "approve" ? "approved" : "rejected");
        m_chat.reset();
        server.stop();
    }
};

QTEST_GUILESS_MAIN(JoinRequestsTest)
#include "test_join_requests.moc"
