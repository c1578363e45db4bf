// The open conversation: the title and marks of each kind of peer, the
// super-group subtitle and send permission from the stored state, a pasted
// key in either of its two forms, and deletions.
#include "chat_fixture.h"

#include "chat/supergroup_directory.h"
#include "groups/group_card.h"
#include "identity/content.h"

#include <QThreadPool>
#include <QtTest>

using namespace chattest;
using namespace velmor::chat;

class CurrentConversationTest : public QObject, private ChatFixture
{
    Q_OBJECT

private slots:
    void init() { beginSession(QStringLiteral("me"), 0x71); }
    void cleanup() { endSession(); }

    void titlesAndMarksOfEachKind_data()
    {
        const QString withRemark = peerKey(0x72);
        const QString withAddress = peerKey(0x73);
        const QString stranger = peerKey(0x74);
        QTest::addColumn<QString>("peer");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("avatarId");
        QTest::addColumn<bool>("verified");
        QTest::addColumn<bool>("official");
        QTest::newRow("official account") << velmor::crypto::base64UrlEncode(officialAccountPublicKey())
                                          << "Pelorin Network" << "" << "" << true << true;
        QTest::newRow("author account") << authorKey() << "Pelorin author" << "0x95f2042d7ea0e91ecf776b16abb5c6eb45add4b4"
                                        << "" << true << false;
        QTest::newRow("author account, 33 bytes") << compressedKey(authorKey()) << "Pelorin author"
                                                  << "0x95f2042d7ea0e91ecf776b16abb5c6eb45add4b4" << "" << true << false;
        QTest::newRow("contact with remark") << withRemark << "Remy" << "0x1111111111111111111111111111111111111111"
                                             << "lottiehead_2" << false << false;
        QTest::newRow("contact, address only") << withAddress << "0x2222…222222"
                                               << "0x2222222222222222222222222222222222222222" << "" << false << false;
        QTest::newRow("stranger") << stranger << ChatController::shortAddress(identityFromByte(0x74).erc20Address())
                                  << identityFromByte(0x74).erc20Address() << "" << false << false;
        QTest::newRow("undecodable key") << "%%%" << "未知地址" << "" << "" << false << false;
        QTest::newRow("group with card-less row") << "group:stored" << "Stored name" << "" << "defaultgroupphoto"
                                                  << false << false;
        QTest::newRow("unknown group") << "group:none" << "群聊" << "" << "defaultgroupphoto" << false << false;
        QTest::newRow("unknown super group") << "sg:https://127.0.0.1:9/nowhere" << "超级群" << ""
                                             << "defaultgroupphoto" << false << false;
        QTest::newRow("stored super group") << "sg:https://127.0.0.1:9/known" << "Known" << "" << "defaultgroupphoto"
                                            << false << false;
    }
    void titlesAndMarksOfEachKind()
    {
        QFETCH(QString, peer);
        QFETCH(QString, title);
        QFETCH(QString, address);
        QFETCH(QString, avatarId);
        QFETCH(bool, verified);
        QFETCH(bool, official);

        ChatStore &store = ChatStore::instance();
        ContactRecord remy;
        remy.wallet_public_key = peerKey(0x72);
        remy.erc20_address = QStringLiteral("0x1111111111111111111111111111111111111111");
        remy.remark = QStringLiteral(" Remy ");
        remy.avatar_kind = QStringLiteral("lottie");
        remy.avatar_id = QStringLiteral("lottiehead_2");
        store.upsertContact(remy);
        ContactRecord addressOnly;
        addressOnly.wallet_public_key = peerKey(0x73);
        addressOnly.erc20_address = QStringLiteral("0x2222222222222222222222222222222222222222");
        store.upsertContact(addressOnly);
        store.ensureGroupConversation(QStringLiteral("stored"), QStringLiteral("Stored name"));
        QVERIFY(store.upsertSuperGroup(superGroup("https://127.0.0.1:9/known", "Known")));
        startListed(*m_chat);

        QSignalSpy current(m_chat.get(), &ChatController::currentChanged);
        QSignalSpy conversations(m_chat.get(), &ChatController::conversationsChanged);
        m_chat->openConversation(peer);
        QTRY_COMPARE(current.count(), 1); // with its newest page
        QCOMPARE(m_chat->currentPeer(), peer);
        QCOMPARE(m_chat->currentTitle(), title);
        QCOMPARE(m_chat->currentTitleFallback(), (QStringList{"未知地址", "群聊", "超级群"}.contains(title)));
        QCOMPARE(m_chat->currentAddress(), address);
        QCOMPARE(m_chat->currentAvatarId(), avatarId);
        QCOMPARE(m_chat->currentVerified(), verified);
        QCOMPARE(m_chat->currentOfficial(), official);
        // Opening a super group leaves the list alone (its unread count is
        // the group's own).
        if (ChatController::isSuperGroupPeer(peer))
            QCOMPARE(conversations.count(), 0);

        // Opening the same peer again announces it again.
        m_chat->openConversation(peer);
        QCOMPARE(current.count(), 2);
    }

    // The opened conversation's row shows no unread messages, in place,
    // whatever reading of the list is on its way; the list stays the
    // store's.
    void openingResetsTheUnreadCount_data()
    {
        QTest::addColumn<QString>("before");
        QTest::newRow("listed with unread messages") << "";
        QTest::newRow("a reading of the list on its way") << "reading";
        QTest::newRow("stored after the list was read") << "unlisted";
        QTest::newRow("already read") << "read";
    }
    void openingResetsTheUnreadCount()
    {
        QFETCH(QString, before);
        ChatStore &store = ChatStore::instance();
        const QString peer = peerKey(0x75);
        const QString other = peerKey(0x76);
        store.ensureDirectConversation(other, other, QStringLiteral("o"));
        QVERIFY(store.upsertMessage(message("o1", store.conversationIdFor(other), "other", 9)));
        const auto storePeer = [&] {
            store.ensureDirectConversation(peer, peer, QStringLiteral("p"));
            QVERIFY(store.upsertMessage(message("u1", store.conversationIdFor(peer), "one", 5)));
            QVERIFY(store.upsertMessage(message("u2", store.conversationIdFor(peer), "two", 6)));
            if (before == "read")
                store.resetUnread(store.conversationIdFor(peer));
        };
        if (before != "unlisted")
            storePeer();
        startListed(*m_chat);
        QCOMPARE(rowOf(m_chat->conversations(), peer).value("unread").toInt(), before == "" || before == "reading" ? 2 : 0);
        if (before == "unlisted")
            storePeer();
        if (before == "reading") {
            // Read before the opening resets the count; it lands after.
            m_chat->reloadConversationsSoon();
            QVERIFY(QThreadPool::globalInstance()->waitForDone(5000));
        }
        openAndShow(peer);
        waitIdle();
        QCOMPARE(rowOf(m_chat->conversations(), peer).value("unread").toInt(), 0);
        QCOMPARE(rowOf(m_chat->conversations(), other).value("unread").toInt(), 1);
        QCOMPARE(m_chat->messages().size(), 2);
    }

    void superGroupHeaderFromStoredState_data()
    {
        QTest::addColumn<QString>("info");
        QTest::addColumn<QString>("role");
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("latency");
        QTest::addColumn<QString>("subtitle");
        QTest::addColumn<bool>("canSend");
        QTest::newRow("connected with latency") << R"({"memberCount":12})" << "member" << "connected" << 85
                                                << "12 位成员  85ms" << true;
        QTest::newRow("connected, not measured") << R"({"memberCount":3})" << "member" << "connected" << -1
                                                 << "3 位成员  connected" << true;
        QTest::newRow("no state yet") << "{}" << "member" << "" << -1 << "0 位成员  连接中" << true;
        QTest::newRow("reconnecting") << "{}" << "member" << "reconnecting" << 20 << "0 位成员  reconnecting" << true;
        QTest::newRow("all muted, member") << R"({"allMuted":true})" << "member" << "" << -1 << "0 位成员  连接中" << false;
        QTest::newRow("all muted, no role") << R"({"allMuted":true})" << "" << "" << -1 << "0 位成员  连接中" << false;
        QTest::newRow("all muted, admin") << R"({"allMuted":true})" << "admin" << "" << -1 << "0 位成员  连接中" << true;
        QTest::newRow("all muted, owner") << R"({"allMuted":true})" << "owner" << "" << -1 << "0 位成员  连接中" << true;
        QTest::newRow("all muted, Owner") << R"({"allMuted":true})" << "Owner" << "" << -1 << "0 位成员  连接中" << false;
        QTest::newRow("broken info") << "not json" << "member" << "" << -1 << "0 位成员  连接中" << true;
    }
    void superGroupHeaderFromStoredState()
    {
        QFETCH(QString, info);
        QFETCH(QString, role);
        QFETCH(QString, state);
        QFETCH(int, latency);
        QFETCH(QString, subtitle);
        QFETCH(bool, canSend);
        const QString url = QStringLiteral("https://127.0.0.1:9/hall");
        SuperGroupRecord group = superGroup(url, QString(), 0, "premium_plus");
        group.role = role;
        group.info_json = info;
        QVERIFY(ChatStore::instance().upsertSuperGroup(group));
        startListed(*m_chat);
        SuperGroupRuntimeState runtime = m_chat->host().superGroups().runtime(url);
        runtime.connectionState = state;
        runtime.latencyMs = latency;
        m_chat->host().superGroups().setRuntime(url, runtime);

        m_chat->openConversation(QStringLiteral("sg:") + url);
        QCOMPARE(m_chat->currentGroupSubtitle(), subtitle);
        QCOMPARE(m_chat->currentCanSend(), canSend);
        QCOMPARE(m_chat->currentGroupKind(), QStringLiteral("premium_plus"));
    }

    void headerOfOtherPeersIsPlain()
    {
        m_chat->openConversation(QStringLiteral("sg:https://127.0.0.1:9/unstored"));
        QCOMPARE(m_chat->currentGroupKind(), QString());
        QCOMPARE(m_chat->currentGroupSubtitle(), QStringLiteral("0 位成员  连接中"));
        QVERIFY(m_chat->currentCanSend());
        m_chat->openConversation(peerKey(0x76));
        QCOMPARE(m_chat->currentGroupKind(), QString());
        QCOMPARE(m_chat->currentGroupSubtitle(), QString());
        QVERIFY(m_chat->currentCanSend());
    }

    // The two text forms of one key open one conversation.
    void newChatWithEitherKeyFormOpensOneConversation()
    {
        startListed(*m_chat);
        const QString full = peerKey(0x77);
        QVERIFY(m_chat->newChat(QStringLiteral("  ") + compressedKey(full) + QStringLiteral("\n")));
        QCOMPARE(m_chat->currentPeer(), full);
        QVERIFY(m_chat->newChat(full));
        QCOMPARE(m_chat->currentPeer(), full);
        QCOMPARE(m_chat->conversations().size(), 1);
        const QVariantMap row = m_chat->conversations().first().toMap();
        QCOMPARE(row.value("peer").toString(), full);
        QCOMPARE(ChatStore::instance().conversationByPeer(full)->peer_display_key, ChatController::shortAddress(full));
        QVERIFY(!ChatStore::instance().conversationByPeer(compressedKey(full)));
    }

    void newChatShowsAHiddenConversationAgain()
    {
        const QString peer = peerKey(0x78);
        ChatStore::instance().ensureDirectConversation(peer, peer, QStringLiteral("kept display"));
        startListed(*m_chat);
        m_chat->deleteConversation(peer);
        QVERIFY(m_chat->conversations().isEmpty());
        QVERIFY(m_chat->newChat(peer));
        QCOMPARE(m_chat->conversations().size(), 1);
        QCOMPARE(ChatStore::instance().conversationByPeer(peer)->peer_display_key, QStringLiteral("kept display"));
    }

    void deletingConversations()
    {
        ChatStore &store = ChatStore::instance();
        const QString open = peerKey(0x79);
        const QString other = peerKey(0x7a);
        const QString official = velmor::crypto::base64UrlEncode(officialAccountPublicKey());
        for (const QString &p : {open, other, official}) {
            store.ensureDirectConversation(p, p, QStringLiteral("p"));
            QVERIFY(store.upsertMessage(message(QStringLiteral("m-") + p.left(8), store.conversationIdFor(p), "x", 9)));
        }
        startListed(*m_chat);
        m_chat->openConversation(open);

        QSignalSpy current(m_chat.get(), &ChatController::currentChanged);
        QSignalSpy messages(m_chat.get(), &ChatController::messagesChanged);
        // Ignored: empty, super group, official account.
        m_chat->deleteConversation(QString());
        m_chat->deleteConversation(QStringLiteral("sg:https://127.0.0.1:9/x"));
        m_chat->deleteConversation(official);
        QCOMPARE(m_chat->conversations().size(), 3);

        m_chat->deleteConversation(other);
        QCOMPARE(current.count(), 0);
        QCOMPARE(m_chat->currentPeer(), open);
        QCOMPARE(m_chat->conversations().size(), 2);
        QVERIFY(store.messages(store.conversationIdFor(other)).isEmpty());

        const QString address = m_chat->currentAddress();
        m_chat->deleteCurrentConversation();
        QCOMPARE(current.count(), 1);
        QCOMPARE(messages.count(), 1);
        QVERIFY(m_chat->currentPeer().isEmpty());
        QVERIFY(m_chat->currentTitle().isEmpty());
        QCOMPARE(m_chat->currentAddress(), address); // the rest of the header stays
        QVERIFY(m_chat->messages().isEmpty());
        QCOMPARE(m_chat->conversations().size(), 1);
    }

    void deletingTheCurrentContactKeepsTheConversation()
    {
        ChatStore &store = ChatStore::instance();
        const QString peer = peerKey(0x7b);
        store.ensureDirectConversation(peer, peer, QStringLiteral("p"));
        ContactRecord contact;
        contact.wallet_public_key = peer;
        contact.remark = QStringLiteral("Gone soon");
        store.upsertContact(contact);
        startListed(*m_chat);
        m_chat->openConversation(peer);
        QCOMPARE(m_chat->currentTitle(), QStringLiteral("Gone soon"));
        m_chat->deleteCurrentContact();
        QVERIFY(!store.contact(peer));
        QCOMPARE(m_chat->currentPeer(), peer);
        QCOMPARE(m_chat->currentTitle(), QStringLiteral("Gone soon")); // fixed until the next open
        QCOMPARE(m_chat->conversations().first().toMap().value("display").toString(),
                 ChatController::shortAddress(identityFromByte(0x7b).erc20Address()));
    }

};

QTEST_GUILESS_MAIN(CurrentConversationTest)
#include "test_current.moc"
