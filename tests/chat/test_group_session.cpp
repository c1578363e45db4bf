// Normal groups in the session, through the local relay: start() gives
// every stored group its conversation row (named after the card, shown again
// when hidden), opening it takes the card's name, and the next user to sign
// in sees none of it.
#include "chat_fixture.h"

#include "groups/group_card.h"
#include "groups/group_engine.h"

#include <QtTest>

using namespace chattest;
using namespace velmor::chat;

class GroupSessionTest : public QObject, private ChatFixture
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(startRelay());
        newUsers(0x21);
    }
    void cleanupTestCase() { stopRelay(); }

    void storedGroupsAreListedAndTitledByTheirCard()
    {
        QVERIFY(signInHere(m_alice));
        const GroupCreateResult created = createGroup(GroupRegistry::instance(), QStringLiteral("Hikers"), {m_bob.key()});
        QVERIFY2(created.ok, qPrintable(created.error));
        const QString peer = QStringLiteral("group:") + created.groupId;
        // A row named otherwise and hidden, as an earlier deletion leaves it.
        ChatStore::instance().ensureGroupConversation(created.groupId, QStringLiteral("Old name"));
        QVERIFY(ChatStore::instance().clearConversation(peer));

        auto chat = makeController();
        startListed(*chat);
        QCOMPARE(chat->conversations().size(), 1);
        const QVariantMap row = chat->conversations().first().toMap();
        QCOMPARE(row.value("peer").toString(), peer);
        QCOMPARE(row.value("display").toString(), QStringLiteral("Hikers"));
        QVERIFY(row.value("isGroup").toBool());

        chat->openConversation(peer);
        QCOMPARE(chat->currentTitle(), QStringLiteral("Hikers"));
        QCOMPARE(chat->currentAvatarId(), QStringLiteral("defaultgroupphoto"));
        QVERIFY(!chat->currentVerified());
        // The friend panel is for people only.
        chat->loadCurrentFriendInfo();
        QVERIFY(chat->friendInfo().isEmpty());

        // Log out and let Bob sign in: Alice's group is nowhere.
        chat->stop();
        signOut();
        QVERIFY(signInHere(m_bob));
        chat->start();
        QVERIFY(chat->conversations().isEmpty());
        chat->openConversation(peer);
        QCOMPARE(chat->currentTitle(), QStringLiteral("群聊"));
        QVERIFY(chat->currentTitleFallback());
        QVERIFY(!ChatStore::instance().conversationByPeer(peer));
    }
};

QTEST_GUILESS_MAIN(GroupSessionTest)
#include "test_group_session.moc"
