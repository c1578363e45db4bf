// A member the owner removed is told so by the new card (which gives it no
// key), and what it wrote under a card that no longer lists it is dropped by
// the members, so it never turns up later when the member is added again.
#include "group_test_support.h"

#include <QtTest>

using namespace velmor::chat;
using grouptest::textsOf;

class GroupRemovalTest : public QObject, protected grouptest::GroupFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(startRelay()); }
    void cleanupTestCase() { stopRelay(); }

    void removedMemberIsToldAndItsLateWordsStayOut_data()
    {
        QTest::addColumn<bool>("cardReachesCarol"); // else the relay withholds it from her
        QTest::newRow("Carol gets the card") << true;
        QTest::newRow("the relay withholds it") << false;
    }
    void removedMemberIsToldAndItsLateWordsStayOut()
    {
        QFETCH(bool, cardReachesCarol);
        const QString group = groupOf({&m_bob, &m_carol}, QStringLiteral("Shrinking"));
        QVERIFY(!group.isEmpty());
        QVERIFY(use(m_alice));
        QVERIFY(removeGroupMember(*m_alice.registry, group, {m_carol.key()}).ok);
        receive(m_bob);

        if (cardReachesCarol) {
            // She takes the card that leaves her out; nothing she tries leaves.
            QCOMPARE(grouptest::errorsOf(receive(m_carol)), QStringList{QString()});
            QVERIFY(!m_carol.registry->card(group)->hasMember(m_carol.key()));
            const int fanouts = m_groups->fanoutCount();
            QVERIFY(use(m_carol));
            QCOMPARE(sendGroupText(*m_carol.registry, group, QStringLiteral("ghost")).error,
                     QStringLiteral("no_group_key"));
            QCOMPARE(m_groups->fanoutCount(), fanouts);
        } else {
            // Unaware, she writes under the old card; the members drop it.
            dropInbox(m_carol);
            QVERIFY(use(m_carol));
            QVERIFY(sendGroupText(*m_carol.registry, group, QStringLiteral("ghost")).ok);
            QCOMPARE(grouptest::errorsOf(receive(m_bob)), QStringList{"sender_not_member"});
            QCOMPARE(receive(m_alice).size(), 1);
        }

        // Added back, Carol's earlier words show up nowhere.
        QVERIFY(use(m_alice));
        QVERIFY(addGroupMembers(*m_alice.registry, group, {m_carol.key()}).ok);
        QVERIFY(!textsOf(receive(m_bob)).contains(QStringLiteral("ghost")));
        QVERIFY(!textsOf(receive(m_alice)).contains(QStringLiteral("ghost")));
        QCOMPARE(m_relay.queueSize(m_bob.key()), 0);
        QVERIFY(m_bob.registry->card(group)->hasMember(m_carol.key()));
        dropInbox(m_carol);
    }
};

QTEST_GUILESS_MAIN(GroupRemovalTest)
#include "test_removal.moc"
