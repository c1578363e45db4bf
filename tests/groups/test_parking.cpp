// Group messages set aside for a card not held yet cannot fill the disk:
// the store keeps a bounded share per writer and for the user (the oldest
// go first), nothing older than a day, nothing of an epoch beyond the
// owner's last proven one + 1, and nothing of a writer the next card drops.
// Through the local relay, as the members' clients send.
#include "group_test_support.h"

#include <QtTest>

using namespace velmor::chat;
using grouptest::errorsOf;
using grouptest::Parked;
using grouptest::parkedNow;
using grouptest::textsOf;
using grouptest::User;

class GroupParkingTest : public QObject, protected grouptest::GroupFixture
{
    Q_OBJECT

    // `writer` posts to Bob `count` messages of `size` bytes claiming
    // `epoch`, with ids prefix-0, prefix-1, …
    bool postClaims(User &writer, const QString &group, qint64 epoch, int count, int size, const QString &prefix)
    {
        if (!use(writer))
            return false;
        const QString filler(size, QLatin1Char('x'));
        for (int i = 0; i < count; ++i) {
            const QString id = prefix + QStringLiteral("-%1").arg(i);
            if (!grouptest::postSigned(writer.identity, m_bob.key(),
                                       grouptest::claimText(*writer.registry, writer.identity, group, epoch, filler),
                                       id))
                return false;
        }
        return true;
    }

    User m_fay, m_gus;

private slots:
    void initTestCase()
    {
        QVERIFY(startRelay());
        grouptest::makeUser(m_fay, QStringLiteral("fay"), 0x77, m_dir);
        grouptest::makeUser(m_gus, QStringLiteral("gus"), 0x78, m_dir);
    }
    void cleanupTestCase() { stopRelay(); }
    void init()
    {
        for (User *user : {&m_alice, &m_bob, &m_carol, &m_dave, &m_eve, &m_erin, &m_fay, &m_gus})
            dropInbox(*user);
    }

    // Members flood Bob with messages of the next epoch, which Alice never
    // reaches: each writer keeps its newest within its share, and all of
    // them together within the user's, the first writers' going first.
    void setAsideWithinTheBounds_data()
    {
        QTest::addColumn<int>("writers");
        QTest::addColumn<int>("perWriter");
        QTest::addColumn<int>("size");
        QTest::newRow("one writer, many small") << 1 << kParkedPerWriter + 10 << 1000;
        QTest::newRow("one writer, a few large") << 1 << 8 << 150'000;
        QTest::newRow("six writers, large") << 6 << 5 << 150'000;
    }
    void setAsideWithinTheBounds()
    {
        QFETCH(int, writers);
        QFETCH(int, perWriter);
        QFETCH(int, size);
        QList<User *> flooders{&m_dave, &m_eve, &m_erin, &m_carol, &m_fay, &m_gus};
        flooders = flooders.mid(0, writers);
        const QString group = groupOf(QList<User *>{&m_bob} + flooders, QStringLiteral("Flood"));
        QVERIFY(!group.isEmpty());
        const qint64 held = m_alice.registry->card(group)->epoch;
        for (User *writer : std::as_const(flooders))
            QVERIFY(postClaims(*writer, group, held + 1, perWriter, size, writer->name));
        receive(m_bob);
        QCOMPARE(m_relay.queueSize(m_bob.key()), 0);

        const Parked parked = parkedNow();
        QVERIFY2(parked.bytes <= kParkedBytesInAll, qPrintable(QString::number(parked.bytes)));
        QVERIFY(parked.rows <= kParkedInAll);
        for (const User *writer : std::as_const(flooders))
            QVERIFY(parked.bytesOf.value(writer->key()) <= kParkedBytesPerWriter);
        QVERIFY(parked.rows <= writers * kParkedPerWriter);
        // The newest stay; with more than the user's share, the first
        // writer's messages (the oldest) are gone.
        QVERIFY2(parked.ids.contains(flooders.last()->name + QStringLiteral("-%1").arg(perWriter - 1)),
                 qPrintable(parked.ids.join(u' ')));
        QCOMPARE(parked.bytesOf.contains(m_dave.key()), writers == 1);
        QVERIFY(use(m_bob));
        QVERIFY(deleteGroupLocally(*m_bob.registry, group, true).ok);
    }

    // Nothing is set aside for an epoch beyond the owner's last proven one
    // + 1, nor what was sent more than a day ago; what was set aside a day
    // ago goes at the next pull.
    void neitherFarAheadNorOld()
    {
        const QString group = groupOf({&m_bob, &m_dave}, QStringLiteral("Far"));
        QVERIFY(!group.isEmpty());
        const qint64 held = m_alice.registry->card(group)->epoch;
        QVERIFY(postClaims(m_dave, group, qint64(1) << 52, 3, 100, QStringLiteral("far")));
        QVERIFY(postClaims(m_dave, group, held + 2, 3, 100, QStringLiteral("two")));
        QVERIFY(use(m_dave));
        const QString old = grouptest::claimText(*m_dave.registry, m_dave.identity, group, held + 1, QStringLiteral("old"));
        m_relay.enqueueRaw(m_bob.key(), velmor::chat::RelayApi::envelopeToJson(velmor::identity::signEnvelope(
                                            m_dave.identity, m_bob.key(), old, QStringLiteral("old"),
                                            QDateTime::currentSecsSinceEpoch() - kParkedSeconds - 60)));
        QCOMPARE(errorsOf(receive(m_bob)).size(), 7);
        QCOMPARE(m_relay.queueSize(m_bob.key()), 0);
        QCOMPARE(parkedNow().rows, 0);

        // Set aside a day ago (by an earlier run of the client).
        ParkedGroupMessageRecord stale;
        stale.group_id = group;
        stale.message_id = QStringLiteral("stale");
        stale.sender_raw_public_key = m_dave.key();
        stale.epoch = held + 1;
        stale.ciphertext = old;
        stale.parked_at = QDateTime::currentSecsSinceEpoch() - kParkedSeconds - 1;
        QVERIFY(ChatStore::instance().parkGroupMessage(stale));
        QCOMPARE(parkedNow().rows, 1);
        receive(m_bob);
        QCOMPARE(parkedNow().rows, 0);
    }

    // Alice removes Dave; the relay withholds the card from Bob. Alice's
    // own message proves the new epoch, so Dave's lie one beyond it is set
    // aside with hers. The withheld card, once it comes, drops Dave's
    // and opens Alice's.
    void aWritersRowsGoWithTheCardThatDropsIt()
    {
        const QString group = groupOf({&m_bob, &m_dave}, QStringLiteral("Shrink"));
        QVERIFY(!group.isEmpty());
        const qint64 held = m_alice.registry->card(group)->epoch;
        QVERIFY(use(m_alice));
        QVERIFY(removeGroupMember(*m_alice.registry, group, {m_dave.key()}).ok);
        dropInbox(m_dave);
        QVERIFY(use(m_bob));
        const QList<QJsonObject> card = grouptest::withholdFromInbox([](const RawEnvelope &) { return true; });
        QCOMPARE(card.size(), 1);
        QVERIFY(use(m_alice));
        QVERIFY(sendGroupText(*m_alice.registry, group, QStringLiteral("Dave has left")).ok);
        QCOMPARE(errorsOf(receive(m_bob)), QStringList{"card_outdated"});
        QVERIFY(postClaims(m_dave, group, held + 2, 2, 100, QStringLiteral("lie")));
        QCOMPARE(errorsOf(receive(m_bob)), (QStringList{"card_outdated", "card_outdated"}));
        QCOMPARE(parkedNow().rows, 3);

        m_relay.enqueueRaw(m_bob.key(), card.first());
        QCOMPARE(textsOf(receive(m_bob)), QStringList{"Dave has left"});
        QCOMPARE(parkedNow().rows, 0);
        QVERIFY(!m_bob.registry->card(group)->hasMember(m_dave.key()));
    }
};

QTEST_GUILESS_MAIN(GroupParkingTest)
#include "test_parking.moc"
