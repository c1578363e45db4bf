// Information and administration of the open super group against a local
// group server: the information map, each administration request as owner
// and as a plain member, and the profile push that never sends a label.
#include "chat_fixture.h"

#include "chat/peer_keys.h"
#include "net/supergroup_api.h"

#include <QtTest>

using namespace chattest;
using velmor::fakes::Fault;
using velmor::fakes::FakeGroupServer;

class SuperGroupAdminTest : public QObject, private ChatFixture
{
    Q_OBJECT

    // Opens the group and waits for the open's jobs.
    void openGroup(const FakeGroupServer &server)
    {
        m_chat->openConversation(QStringLiteral("sg:") + server.baseUrl());
        waitIdle();
    }

    QVariantMap loadInfo()
    {
        QSignalSpy loaded(m_chat.get(), &ChatController::superGroupInfoLoaded);
        m_chat->loadSuperGroupInfo();
        if (!loaded.wait(15000))
            return {};
        waitIdle();
        return loaded.last().at(0).toMap();
    }

private slots:
    void init() { beginGroups(); }
    void cleanup() { endGroups(); }

    void informationMapOfTheOpenGroup()
    {
        FakeGroupServer &server = addServer(QStringLiteral("admin"));
        const QString bea = peerKey(0x64);
        const QString cy = peerKey(0x65);
        server.addMember(bea, QStringLiteral("member"), QStringLiteral("Bea"));
        server.addMember(cy, QStringLiteral("member")); // no display name
        velmor::chat::ContactRecord contact;
        contact.wallet_public_key = peerKey(0x66);
        contact.remark = QStringLiteral("Dee");
        ChatStore::instance().upsertContact(contact);
        m_chat->start();
        waitIdle();

        // Without a super group open the answer is only "valid" false.
        QSignalSpy loaded(m_chat.get(), &ChatController::superGroupInfoLoaded);
        m_chat->loadSuperGroupInfo();
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(loaded.at(0).at(0).toMap(), (QVariantMap{{"valid", false}}));

        openGroup(server);
        const QVariantMap info = loadInfo();
        QVERIFY(info.value("valid").toBool());
        QCOMPARE(info.value("serverUrl").toString(), server.baseUrl());
        QCOMPARE(info.value("myRole").toString(), QStringLiteral("admin"));
        QCOMPARE(info.value("isManager").toBool(), true);
        QCOMPARE(info.value("isOwner").toBool(), false);
        QCOMPARE(info.value("memberCount").toInt(), 4);
        const QVariantList members = info.value("members").toList();
        QCOMPARE(members.size(), 4);
        QCOMPARE(members.at(0).toMap().value("role").toString(), QStringLiteral("owner"));
        QCOMPARE(members.at(1).toMap().value("isMe").toBool(), true);
        QVariantMap unnamed;
        for (const QVariant &member : members)
            if (member.toMap().value("pubkey") == cy)
                unnamed = member.toMap();
        const QString address = velmor::chat::addressOfKey(cy);
        QCOMPARE(unnamed.value("name").toString(), velmor::chat::shortAddress(address));
        QCOMPARE(unnamed.value("shortKey").toString(), velmor::chat::shortAddress(address));
        QCOMPARE(info.value("inviteCandidates").toList().size(), 1);

        // The store keeps the names the server gave, never the label.
        for (const auto &member : ChatStore::instance().superGroupMembers(server.baseUrl()))
            if (member.public_key == cy)
                QVERIFY(member.display_name.isEmpty());
        QCOMPARE(ChatStore::instance().superGroup(server.baseUrl())->role, QStringLiteral("admin"));

        // A member list that fails keeps the stored role and members.
        server.http().setFault(QStringLiteral("/v1/members"), Fault::http500());
        const QVariantMap degraded = loadInfo();
        QVERIFY(degraded.value("valid").toBool());
        QCOMPARE(degraded.value("myRole").toString(), QStringLiteral("admin"));
        QCOMPARE(ChatStore::instance().superGroup(server.baseUrl())->role, QStringLiteral("admin"));
        QCOMPARE(ChatStore::instance().superGroupMembers(server.baseUrl()).size(), 4);
    }

    void aLoadForAnotherGroupIsNotShown()
    {
        FakeGroupServer &slow = addServer(QStringLiteral("member"), QStringLiteral("Slow"));
        FakeGroupServer &other = addServer(QStringLiteral("member"), QStringLiteral("Other"));
        m_chat->start();
        waitIdle();
        openGroup(slow);
        slow.http().setFault(QStringLiteral("/v1/group/info"), Fault::delay(300));
        QSignalSpy loaded(m_chat.get(), &ChatController::superGroupInfoLoaded);
        m_chat->loadSuperGroupInfo();
        m_chat->openConversation(QStringLiteral("sg:") + other.baseUrl());
        m_chat->loadSuperGroupInfo();
        waitIdle();
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(loaded.at(0).at(0).toMap().value("serverUrl").toString(), other.baseUrl());
    }

    void administrationAppliesOrReportsItsOwnError_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("word");
        QTest::newRow("mute all") << "muteAll" << "super_group_mute_failed";
        QTest::newRow("meta") << "meta" << "super_group_update_failed";
        QTest::newRow("role") << "role" << "member_role_failed";
        QTest::newRow("remove") << "remove" << "member_remove_failed";
        QTest::newRow("invite") << "invite" << "member_invite_failed";
        QTest::newRow("profile") << "profile" << "profile_update_failed";
        QTest::newRow("notification mute") << "mute" << "notification_mute_failed";
    }
    void administrationAppliesOrReportsItsOwnError()
    {
        QFETCH(QString, action);
        QFETCH(QString, word);
        const QString bea = peerKey(0x64);
        const QString newcomer = peerKey(0x67);
        for (const QString role : {QStringLiteral("owner"), QStringLiteral("member")}) {
            FakeGroupServer &server = addServer(role);
            server.addMember(bea, QStringLiteral("member"), QStringLiteral("Bea"));
            if (!m_chat->isStarted())
                m_chat->start();
            waitIdle();
            openGroup(server);
            QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
            QSignalSpy loaded(m_chat.get(), &ChatController::superGroupInfoLoaded);
            if (action == QLatin1String("muteAll"))
                m_chat->setSuperGroupAllMuted(true);
            else if (action == QLatin1String("meta"))
                m_chat->updateSuperGroupMeta(QStringLiteral(" Port "), QStringLiteral("Be kind"), true);
            else if (action == QLatin1String("role"))
                m_chat->setSuperGroupMemberRole(bea, QStringLiteral("admin"));
            else if (action == QLatin1String("remove"))
                m_chat->removeSuperGroupMember(bea);
            else if (action == QLatin1String("invite"))
                m_chat->inviteSuperGroupMembers({newcomer});
            else if (action == QLatin1String("profile"))
                m_chat->updateSuperGroupProfile(QStringLiteral(" Nick "));
            else
                m_chat->setSuperGroupMuted(true);
            QTRY_VERIFY_WITH_TIMEOUT(loaded.count() >= 1, 15000);
            waitIdle();

            // What every user may do succeeds for both; the rest only for the owner.
            const bool own = action == QLatin1String("profile") || action == QLatin1String("mute");
            const bool applies = own || role == QLatin1String("owner");
            QCOMPARE(failed.count(), applies ? 0 : 1);
            if (!applies)
                QCOMPARE(failed.at(0).at(0).toMap().value("detail").toString(), word);
            if (action == QLatin1String("muteAll"))
                QCOMPARE(server.allMuted(), applies);
            else if (action == QLatin1String("meta"))
                QCOMPARE(server.name() == QLatin1String("Port"), applies);
            else if (action == QLatin1String("role"))
                QCOMPARE(server.roleOf(bea) == QLatin1String("admin"), applies);
            else if (action == QLatin1String("remove"))
                QCOMPARE(server.isMember(bea), !applies);
            else if (action == QLatin1String("invite"))
                QCOMPARE(server.isMember(newcomer), applies);
            else if (action == QLatin1String("profile"))
                QCOMPARE(server.member(m_me.key()).displayName, QStringLiteral("Nick"));
            else
                QVERIFY(ChatStore::instance().superGroup(server.baseUrl())->muted);
        }
    }

    void refusedRoleAndFailedNotificationMute()
    {
        FakeGroupServer &server = addServer(QStringLiteral("owner"));
        server.addMember(peerKey(0x64), QStringLiteral("member"));
        m_chat->start();
        waitIdle();
        openGroup(server);
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        server.http().resetCounts();
        m_chat->setSuperGroupMemberRole(peerKey(0x64), QStringLiteral("owner"));
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toMap().value("detail").toString(), QStringLiteral("member_role_failed"));
        QCOMPARE(server.http().requestCount(QStringLiteral("/v1/member/role")), 0);

        // The user's own mute holds here even when the server refuses it.
        server.http().setFault(QStringLiteral("/v1/member/mute"), Fault::http500());
        m_chat->setSuperGroupMuted(true);
        QTRY_COMPARE(failed.count(), 2);
        QCOMPARE(failed.at(1).at(0).toMap().value("detail").toString(), QStringLiteral("notification_mute_failed"));
        QVERIFY(ChatStore::instance().superGroup(server.baseUrl())->muted);
        waitIdle();
    }

    void renamingKeepsTheAvatar()
    {
        FakeGroupServer &server = addServer(QStringLiteral("owner"));
        const QString avatar = QStringLiteral("https://img.example/harbour.png");
        QVERIFY(velmor::sg::SuperGroupApi::instance().updateGroup(server.baseUrl(), QStringLiteral("Harbour"), avatar,
                                                                  QStringLiteral("invite"), QString()));
        m_chat->start();
        waitIdle();
        openGroup(server);
        QCOMPARE(m_chat->currentAvatarId(), avatar);
        QSignalSpy loaded(m_chat.get(), &ChatController::superGroupInfoLoaded);
        m_chat->updateSuperGroupMeta(QStringLiteral("Port"), QString(), false);
        QTRY_VERIFY(loaded.count() >= 1);
        waitIdle();
        m_chat->updateSuperGroupMeta(QStringLiteral("Port again"), QStringLiteral("notice"), false);
        QTRY_VERIFY(loaded.count() >= 2);
        waitIdle();
        QCOMPARE(server.name(), QStringLiteral("Port again"));
        QCOMPARE(velmor::sg::SuperGroupApi::instance().groupInfo(server.baseUrl()).avatarUrl, avatar);
        QCOMPARE(m_chat->currentAvatarId(), avatar);
        QCOMPARE(m_chat->currentTitle(), QStringLiteral("Port again"));
    }

    void profilePushNeverSendsALabel()
    {
        // One group where the server knows a nickname this device never
        // stored, one where the user has none.
        FakeGroupServer &named = addServer(QStringLiteral("member"), QStringLiteral("Named"));
        named.addMember(m_me.key(), QStringLiteral("member"), QStringLiteral("Ann"));
        FakeGroupServer &unnamed = addServer(QStringLiteral("owner"), QStringLiteral("Unnamed"));
        m_chat->start();
        waitIdle();
        openGroup(unnamed);
        loadInfo(); // stores the owner's member row with an empty name
        m_chat->syncSuperGroupProfiles();
        QTRY_COMPARE_WITH_TIMEOUT(named.http().requestCount(QStringLiteral("/v1/member/profile")), 1, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(unnamed.http().requestCount(QStringLiteral("/v1/member/profile")), 1, 15000);
        QCOMPARE(named.member(m_me.key()).displayName, QStringLiteral("Ann"));
        QCOMPARE(unnamed.member(m_me.key()).displayName, QString());
    }
};

QTEST_GUILESS_MAIN(SuperGroupAdminTest)
#include "test_supergroup_admin.moc"
