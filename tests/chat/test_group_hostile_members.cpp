// Through the real inbox: lies about the card epoch set off one card request,
// sent from a job (the build aborts on a network call from the window's
// thread), and are set aside at once (those within one epoch of the card)
// or dropped, never left with the relay; a removed member's open group
// turns read-only.
#include "chat_fixture.h"

#include "groups/group_test_support.h"

#include <QtTest>

using namespace chattest;
using namespace velmor::chat;

class GroupHostileMembersTest : public QObject, private ChatFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(startRelayWithUsers(0x31)); }
    void cleanupTestCase() { stopRelay(); }

    void liesCostOneRequestAndGoOnceAnswered()
    {
        GroupRegistry alice, dave;
        QVERIFY(signInHere(m_alice));
        const GroupCreateResult created =
            createGroup(alice, QStringLiteral("Liars"), {m_bob.key(), m_dave.key()});
        QVERIFY2(created.ok, qPrintable(created.error));
        const QString group = created.groupId;
        QVERIFY(signInHere(m_dave));
        grouptest::pullAndHandle(dave);
        const qint64 held = dave.card(group)->epoch;
        for (int i = 0; i < 20; ++i) {
            const QString lie =
                grouptest::claimText(dave, m_dave.identity, group, held + 1 + i, QStringLiteral("lie %1").arg(i));
            QVERIFY(grouptest::postSigned(m_dave.identity, m_bob.key(), lie, newId()));
        }
        signOut();

        // Bob's client pulls for a minute of its timer; the lies are taken
        // off the relay at the first pull and Alice is asked once.
        const int requestsBefore = m_groups->fanoutCountFrom(m_bob.key());
        as(m_bob);
        for (int pull = 0; pull < 15; ++pull) {
            pullAndSettle(*m_chat);
            waitIdle();
        }
        QCOMPARE(m_groups->fanoutCountFrom(m_bob.key()) - requestsBefore, 1);
        QCOMPARE(m_relay.queueSize(m_bob.key()), 0);
        endClient();

        // Alice answers; Bob's next pull has nothing more to take.
        QVERIFY(signInHere(m_alice));
        grouptest::pullAndHandle(alice);
        signOut();
        as(m_bob);
        pullAndSettle(*m_chat);
        waitIdle();
        QCOMPARE(m_relay.queueSize(m_bob.key()), 0);
        endClient();

        // Alice then really moves one epoch on: the one claim that named it
        // was true after all and shows up, the others stay aside.
        QVERIFY(signInHere(m_alice));
        QVERIFY(renameGroup(alice, group, QStringLiteral("Liars 2")).ok);
        signOut();
        as(m_bob);
        pullAndSettle(*m_chat);
        waitIdle();
        QStringList texts;
        for (const MessageRecord &m : ChatStore::instance().messages(QStringLiteral("group:") + group))
            texts.append(m.text);
        QVERIFY2(texts.contains(QStringLiteral("lie 0")) && !texts.contains(QStringLiteral("lie 1")),
                 qPrintable(texts.join(u'|')));
        endClient(&m_bob);
    }

    void removedMemberSeesTheGroupReadOnly()
    {
        GroupRegistry alice;
        QVERIFY(signInHere(m_alice));
        const GroupCreateResult created =
            createGroup(alice, QStringLiteral("Shrinking"), {m_bob.key(), m_carol.key()});
        QVERIFY2(created.ok, qPrintable(created.error));
        const QString peer = QStringLiteral("group:") + created.groupId;
        as(m_carol);
        m_chat->openConversation(peer);
        QVERIFY(m_chat->currentCanSend());
        endClient();

        QVERIFY(signInHere(m_alice));
        QVERIFY(removeGroupMember(alice, created.groupId, {m_carol.key()}).ok);
        signOut();
        // Carol has the group open when the card that removed her arrives.
        m_relay.setFault(QStringLiteral("/v1/message/pull"), velmor::fakes::Fault::http500());
        as(m_carol);
        m_chat->openConversation(peer);
        QVERIFY(m_chat->currentCanSend());
        m_relay.clearFaults();
        QSignalSpy current(m_chat.get(), &ChatController::currentChanged);
        QSignalSpy processed(&m_chat->messaging().inbox, &Inbox::pullProcessed);
        m_chat->messaging().inbox.resumeNow();
        QVERIFY(processed.wait(5000));
        waitIdle();
        QVERIFY(!m_chat->currentCanSend());
        QVERIFY(current.count() >= 1);
        endClient(&m_carol);
        as(m_bob);
        m_chat->openConversation(peer);
        QVERIFY(m_chat->currentCanSend());
        endClient(&m_bob);
    }
};

QTEST_GUILESS_MAIN(GroupHostileMembersTest)
#include "test_group_hostile_members.moc"
