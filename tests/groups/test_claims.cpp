// Members and relays that lie about the card epoch: invented epochs offered
// at every pull, a member holding the group up while the owner is away, and
// the held card passed off as the owner's answer while a re-key is withheld.
#include "group_test_support.h"

#include "groups/group_wire.h"

#include <QtTest>

using namespace velmor::chat;
using grouptest::errorsOf;
using grouptest::Received;
using grouptest::textsOf;
using grouptest::User;

class GroupClaimsTest : public QObject, protected grouptest::GroupFixture
{
    Q_OBJECT

private:
    qint64 m_now = 1'800'000'000;

    bool postClaim(User &writer, const User &reader, const QString &group, qint64 epoch, const QString &id)
    {
        return use(writer)
            && grouptest::postSigned(writer.identity, reader.key(),
                                     grouptest::claimText(*writer.registry, writer.identity, group, epoch, id), id);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(startRelay());
        for (User *user : {&m_alice, &m_bob, &m_carol, &m_dave, &m_eve, &m_erin})
            user->registry->setClock([this] { return m_now; });
    }

    void cleanupTestCase() { stopRelay(); }

    void init()
    {
        for (User *user : {&m_alice, &m_bob, &m_carol, &m_dave, &m_eve, &m_erin})
            dropInbox(*user);
    }

    void cleanup() { m_now += GroupRegistry::kCardRequestIntervalSeconds; }

    // The request text and the answer box content given in docs/protocol.md.
    void requestAndAnswerVectors()
    {
        QCOMPARE(wire::cardRequestText(QStringLiteral("d3b0c7032781bfadc3cdd926f8c27ee1"), 4,
                                       QStringLiteral("00112233445566778899aabbccddeeff")),
                 QStringLiteral("velmor_group_v1:eyJlcG9jaCI6NCwiZ3JvdXBJZCI6ImQzYjBjNzAzMjc4MWJmYWRjM2NkZDkyNmY4YzI3ZWUx"
                                "Iiwia2luZCI6ImNhcmRfcmVxdWVzdCIsIm5vbmNlIjoiMDAxMTIyMzM0NDU1NjY3Nzg4OTlhYWJiY2NkZGVlZmYi"
                                "LCJ2IjoxfQ"));
        GroupCard card;
        card.cardJson = QByteArrayLiteral("{\"v\":1}");
        card.signature = QStringLiteral("sig");
        QCOMPARE(wire::cardBoxContent(card, QStringLiteral("00112233445566778899aabbccddeeff")),
                 QByteArrayLiteral("{\"answers\":\"00112233445566778899aabbccddeeff\",\"card\":\"{\\\"v\\\":1}\","
                                   "\"signature\":\"sig\"}"));
        QCOMPARE(wire::cardBoxContent(card, QString()),
                 QByteArrayLiteral("{\"card\":\"{\\\"v\\\":1}\",\"signature\":\"sig\"}"));
    }

    // Dave and Eve send Bob 20 claims of epochs Alice never reached, offered
    // at every pull for a minute of the 4 s timer. Bob asks Alice about once;
    // she answers once per card even if his client restarts and asks again.
    void falseClaimsCostAHandfulOfRequests_data()
    {
        QTest::addColumn<bool>("restarts");
        QTest::newRow("Bob's client running") << false;
        QTest::newRow("Bob's client restarting between pulls") << true;
    }
    void falseClaimsCostAHandfulOfRequests()
    {
        QFETCH(bool, restarts);
        const QString group = groupOf({&m_bob, &m_dave, &m_eve}, QStringLiteral("Storm"));
        QVERIFY(!group.isEmpty());
        const qint64 held = m_alice.registry->card(group)->epoch;
        for (int i = 0; i < 20; ++i)
            QVERIFY(postClaim(i % 2 ? m_eve : m_dave, m_bob, group, held + 1 + i, QStringLiteral("lie-%1").arg(i)));
        const int bobBefore = m_groups->fanoutCountFrom(m_bob.key());
        const int aliceBefore = m_groups->fanoutCountFrom(m_alice.key());
        for (int pull = 0; pull < 15; ++pull) {
            if (restarts) {
                m_bob.registry = std::make_unique<GroupRegistry>();
                QVERIFY(use(m_bob));
                m_bob.registry->reloadFromStore();
                m_bob.registry->setClock([this] { return m_now; });
            }
            receive(m_bob);
            receive(m_alice);
            m_now += 4;
        }
        const int requests = m_groups->fanoutCountFrom(m_bob.key()) - bobBefore;
        QVERIFY2(requests >= 1 && requests <= (restarts ? 15 : 2), qPrintable(QString::number(requests)));
        QCOMPARE(m_groups->fanoutCountFrom(m_alice.key()) - aliceBefore, 1);
        // The disproved lies are gone; a restarted client, which forgot the
        // answer and gets no second one, goes on after the wait.
        if (restarts)
            m_now += GroupRegistry::kClaimWaitSeconds;
        else
            QCOMPARE(m_relay.queueSize(m_bob.key()), 0);
        QVERIFY(use(m_alice));
        QVERIFY(sendGroupText(*m_alice.registry, group, QStringLiteral("calm")).ok);
        QVERIFY(textsOf(receive(m_bob)).contains(QStringLiteral("calm")));
        QVERIFY(use(m_bob));
        QVERIFY(sendGroupText(*m_bob.registry, group, QStringLiteral("here")).ok);
    }

    // While Alice is away, a member's claim holds the group up for at most
    // the wait (a later, higher one does not start it again); her own claim
    // (a re-key of hers) until her card arrives.
    void claimsHoldTheGroupUpForABoundedTime_data()
    {
        QTest::addColumn<bool>("byOwner");
        QTest::addColumn<QString>("stamp"); // on the member's claim: none, Alice's, or one Dave made up
        QTest::addColumn<int>("waited");    // seconds after the claim
        QTest::addColumn<bool>("heldUp");
        const int wait = int(GroupRegistry::kClaimWaitSeconds);
        QTest::newRow("member, within the wait") << false << "" << wait - 1 << true;
        QTest::newRow("member, after the wait") << false << "" << wait << false;
        QTest::newRow("owner, an hour later") << true << "" << 3600 << true;
        QTest::newRow("member with Alice's stamp, an hour later") << false << "genuine" << 3600 << true;
        QTest::newRow("member with the held card's stamp relabelled") << false << "relabelled" << wait << false;
        QTest::newRow("member with a stamp of its own key") << false << "own key" << wait << false;
    }
    void claimsHoldTheGroupUpForABoundedTime()
    {
        QFETCH(bool, byOwner);
        QFETCH(QString, stamp);
        QFETCH(int, waited);
        QFETCH(bool, heldUp);
        const QString group = groupOf({&m_bob, &m_dave, &m_eve}, QStringLiteral("Stall"));
        QVERIFY(!group.isEmpty());
        const qint64 held = m_alice.registry->card(group)->epoch;
        QJsonObject stampJson = wire::messageStamp(*m_alice.registry->card(group));
        if (stamp == QLatin1String("genuine")) {
            // Alice really moves on; the card never reaches Bob.
            QVERIFY(use(m_alice));
            QVERIFY(renameGroup(*m_alice.registry, group, QStringLiteral("Stall 2")).ok);
            dropInbox(m_bob);
            stampJson = wire::messageStamp(*m_alice.registry->card(group));
        } else if (stamp == QLatin1String("own key")) {
            GroupCard forged = *m_alice.registry->card(group);
            forged.epoch = held + 1;
            stampJson.insert(QStringLiteral("signature"), stampGroupCard(forged, QByteArray(32, '\x44')));
        }
        if (stamp.isEmpty() || byOwner) {
            QVERIFY(postClaim(byOwner ? m_alice : m_dave, m_bob, group, held + 1, QStringLiteral("claim")));
        } else {
            QVERIFY(use(m_dave));
            QVERIFY(grouptest::postSigned(m_dave.identity, m_bob.key(),
                                          grouptest::claimText(*m_dave.registry, m_dave.identity, group, held + 1,
                                                               QStringLiteral("claim"), stampJson),
                                          QStringLiteral("claim")));
        }
        QCOMPARE(errorsOf(receive(m_bob)), QStringList{"card_outdated"});
        dropInbox(m_alice); // away: the request is never answered

        m_now += waited;
        QVERIFY(use(m_eve));
        QVERIFY(sendGroupText(*m_eve.registry, group, QStringLiteral("from Eve")).ok);
        QCOMPARE(textsOf(receive(m_bob)).contains(QStringLiteral("from Eve")), !heldUp);
        QVERIFY(use(m_bob));
        QCOMPARE(sendGroupText(*m_bob.registry, group, QStringLiteral("from Bob")).error,
                 heldUp ? QStringLiteral("card_outdated") : QString());
        if (!heldUp) {
            QVERIFY(postClaim(m_dave, m_bob, group, held + 2, QStringLiteral("claim-2")));
            receive(m_bob);
            QVERIFY(use(m_bob));
            QVERIFY(sendGroupText(*m_bob.registry, group, QStringLiteral("still Bob")).ok);
        }
    }

    // Dave claims the epoch above the card and Alice's answer disproves it;
    // then Alice really moves there (she removes Carol) and the relay delays
    // the card to Bob. What Eve writes under the new card meanwhile is not
    // lost: stamped or not (an older client), Bob acknowledges it and sets
    // it aside, also across a restart.
    void aDelayedCardAfterADisproofLosesNothing_data()
    {
        QTest::addColumn<bool>("stamped");
        QTest::addColumn<bool>("restarts");
        QTest::newRow("Eve's client stamps") << true << false;
        QTest::newRow("Eve's client sends no stamp") << false << false;
        QTest::newRow("no stamp, Bob's client restarting") << false << true;
    }
    void aDelayedCardAfterADisproofLosesNothing()
    {
        QFETCH(bool, stamped);
        QFETCH(bool, restarts);
        const QString group = groupOf({&m_bob, &m_carol, &m_dave, &m_eve}, QStringLiteral("Late card"));
        QVERIFY(!group.isEmpty());
        const qint64 held = m_alice.registry->card(group)->epoch;
        QVERIFY(postClaim(m_dave, m_bob, group, held + 1, QStringLiteral("lie")));
        // Set aside at once, not left with the relay while Alice is asked.
        QCOMPARE(errorsOf(receive(m_bob)), QStringList{"card_outdated"});
        QCOMPARE(m_relay.queueSize(m_bob.key()), 0);
        receive(m_alice);
        receive(m_bob);

        QVERIFY(use(m_alice));
        QVERIFY(removeGroupMember(*m_alice.registry, group, {m_carol.key()}).ok);
        QVERIFY(use(m_bob));
        const QList<QJsonObject> delayed = grouptest::withholdFromInbox([](const RawEnvelope &) { return true; });
        QCOMPARE(delayed.size(), 1);
        receive(m_eve);
        if (stamped) {
            QVERIFY(use(m_eve));
            QVERIFY(sendGroupText(*m_eve.registry, group, QStringLiteral("under the new card")).ok);
        } else {
            QVERIFY(postClaim(m_eve, m_bob, group, held + 1, QStringLiteral("under the new card")));
        }
        QCOMPARE(errorsOf(receive(m_bob)),
                 QStringList{stamped ? QStringLiteral("card_outdated") : QStringLiteral("card_claim_disproved")});
        QCOMPARE(m_relay.queueSize(m_bob.key()), 0);
        if (restarts) {
            m_bob.registry = std::make_unique<GroupRegistry>();
            QVERIFY(use(m_bob));
            m_bob.registry->reloadFromStore();
            m_bob.registry->setClock([this] { return m_now; });
        }

        for (const QJsonObject &envelope : delayed)
            m_relay.enqueueRaw(m_bob.key(), envelope);
        QStringList texts;
        for (int pull = 0; pull < 2; ++pull)
            texts += textsOf(receive(m_bob));
        QVERIFY2(texts.contains(QStringLiteral("under the new card")), qPrintable(texts.join(u'|')));
        QCOMPARE(texts.count(QStringLiteral("under the new card")), 1);
        QCOMPARE(m_relay.queueSize(m_bob.key()), 0);
        QVERIFY(!m_bob.registry->card(group)->hasMember(m_carol.key()));
    }

    // Alice removes Carol; the new card is kept from Bob, and Dave writes
    // under it. Bob's held card, replayed by the relay as if it were Alice's
    // answer or passed on by Dave, does not end his wait: Carol stays out.
    void onlyTheOwnersAnswerEndsTheWait_data()
    {
        QTest::addColumn<QString>("trick");
        QTest::addColumn<int>("waited");
        QTest::newRow("the relay replays Alice's card") << "replay" << 10;
        QTest::newRow("Dave passes it on") << "pass on" << 10;
        // Dave's message carries Alice's stamp: no bound lets Bob go back
        // to the old key while the relay drops every card sent to him.
        QTest::newRow("the relay drops Bob's cards, a minute on")
            << "drop cards" << int(GroupRegistry::kClaimWaitSeconds + 1);
        QTest::newRow("... an hour on") << "drop cards" << 3600;
    }
    void onlyTheOwnersAnswerEndsTheWait()
    {
        QFETCH(QString, trick);
        QFETCH(int, waited);
        const bool byDave = trick == QLatin1String("pass on");
        const QString group = groupOf({&m_bob, &m_carol, &m_dave}, QStringLiteral("Kept out"));
        QVERIFY(!group.isEmpty());
        const GroupCard oldCard = *m_bob.registry->card(group);
        QVERIFY(use(m_alice));
        QVERIFY(removeGroupMember(*m_alice.registry, group, {m_carol.key()}).ok);
        dropInbox(m_bob); // the new card never reaches Bob
        QCOMPARE(errorsOf(receive(m_dave)), QStringList{QString()});
        QVERIFY(use(m_dave));
        QVERIFY(sendGroupText(*m_dave.registry, group, QStringLiteral("after removal")).ok);
        dropInbox(m_carol);
        QCOMPARE(errorsOf(receive(m_bob)), QStringList{"card_outdated"});

        if (trick == QLatin1String("drop cards")) {
            // Alice answers Bob's request; the relay drops the answer.
            receive(m_alice);
            QVERIFY(use(m_bob));
            QCOMPARE(grouptest::withholdFromInbox([&](const RawEnvelope &e) {
                         return e.senderPubkey == m_alice.key();
                     }).size(),
                     1);
        } else {
            dropInbox(m_alice); // nor does Bob's request reach Alice
            User &sender = byDave ? m_dave : m_alice;
            QVERIFY(use(sender));
            QVERIFY(grouptest::postSigned(
                sender.identity, m_bob.key(),
                wire::cardMessageFor(wire::Me{sender.identity, sender.key()}, oldCard, m_bob.key()),
                QStringLiteral("held-again")));
        }
        QVERIFY(use(m_carol));
        QVERIFY(sendGroupText(*m_carol.registry, group, QStringLiteral("Carol here")).ok);
        m_now += waited;
        QVERIFY(!textsOf(receive(m_bob)).contains(QStringLiteral("Carol here")));
        QVERIFY(use(m_bob));
        QCOMPARE(sendGroupText(*m_bob.registry, group, QStringLiteral("hi Carol")).error,
                 QStringLiteral("card_outdated"));
        QCOMPARE(m_relay.queueSize(m_carol.key()), 0);
    }
};

QTEST_GUILESS_MAIN(GroupClaimsTest)
#include "test_claims.moc"
