// Members and relays that lie about the card epoch: invented epochs sent
// over and over, a member holding the group up while the owner is away, and
// a relay (or a member) passing the held card off as the owner's answer
// while the re-key that removed someone is withheld.
#include "group_test_support.h"

#include "groups/canonical_json.h"
#include "groups/group_wire.h"
#include "identity/envelope.h"

#include <QJsonDocument>
#include <QtTest>

using namespace velmor::chat;
using grouptest::Received;
using grouptest::User;
using velmor::crypto::base64UrlEncode;

namespace {

QStringList errorsOf(const QList<Received> &received)
{
    QStringList errors;
    for (const Received &item : received)
        errors.append(item.result.error);
    return errors;
}

QStringList textsOf(const QList<Received> &received)
{
    QStringList texts;
    for (const Received &item : received)
        if (item.result.hasMessage)
            texts.append(item.result.text);
    return texts;
}

} // namespace

class GroupClaimsTest : public QObject, protected grouptest::RelayFixture
{
    Q_OBJECT

private:
    qint64 m_now = 1'800'000'000;

    QList<Received> receive(User &user)
    {
        if (!use(user))
            return {};
        return grouptest::pullAndHandle(user);
    }

    void dropInbox(User &user)
    {
        use(user);
        grouptest::dropInbox();
    }

    QString groupOf(const QList<User *> &members, const QString &name)
    {
        use(m_alice);
        QStringList keys;
        for (const User *member : members)
            keys.append(member->key());
        const GroupCreateResult created = createGroup(*m_alice.registry, name, keys);
        if (!created.ok)
            return QString();
        for (User *member : members)
            receive(*member);
        return created.groupId;
    }

    // `writer` seals a text to `reader` under its own group key, claiming
    // card epoch `epoch` (true or not), and posts it as its client would.
    bool postClaim(User &writer, const User &reader, const QString &group, qint64 epoch, const QString &id)
    {
        const GroupCard card = *writer.registry->card(group);
        const QByteArray groupKey =
            Ecies::open(writer.registry->keyRing(group).value(card.keyEpoch), writer.identity.privateKey);
        const QByteArray context = QByteArrayLiteral("velmor_group_v1|") + group.toUtf8() + "|message|"
            + QByteArray::number(card.keyEpoch) + '|' + QByteArray::number(epoch);
        const QString ciphertext = QLatin1String(kGroupMessagePrefix) + base64UrlEncode(canonicalJson(QJsonObject{
            {"v", 1}, {"kind", "message"}, {"groupId", group}, {"keyEpoch", double(card.keyEpoch)},
            {"epoch", double(epoch)},
            {"box", velmor::crypto::GroupBox::seal(
                        groupKey,
                        canonicalJson(QJsonObject{{"type", "text"}, {"text", id}, {"sender", writer.key()}}),
                        context)}}));
        return postAs(writer, reader, ciphertext, id);
    }

    // A group message text signed by `sender` into `recipient`'s inbox.
    bool postAs(User &sender, const User &recipient, const QString &ciphertext, const QString &id)
    {
        if (!use(sender))
            return false;
        const velmor::identity::Envelope envelope = velmor::identity::signEnvelope(
            sender.identity, recipient.key(), ciphertext, id, QDateTime::currentSecsSinceEpoch());
        return RelayApi::authorizedPost(QStringLiteral("/v1/message/send"), RelayApi::envelopeToJson(envelope))
            .success;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(startRelay());
        for (User *user : {&m_alice, &m_bob, &m_carol, &m_dave, &m_eve, &m_erin})
            user->registry->setClock([this] { return m_now; });
    }

    void cleanupTestCase()
    {
        stopRelay();
    }

    void init()
    {
        for (User *user : {&m_alice, &m_bob, &m_carol, &m_dave, &m_eve, &m_erin})
            dropInbox(*user);
    }

    // The two texts of a card request and its answer, as written in
    // docs/protocol.md.
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

    // A member floods Bob with messages claiming epochs Alice never
    // reached, and they are offered at every pull (a minute of the 4 s
    // timer). Bob asks Alice once; her answer disproves the lies, which are
    // then dropped; Alice answers Bob once per card, even when his client
    // restarts and asks again.
    void falseClaimsCostAHandfulOfRequests_data()
    {
        QTest::addColumn<int>("liars");    // Dave, then Eve
        QTest::addColumn<bool>("sameEpoch"); // all 20 claim one epoch, else 20 different ones
        QTest::addColumn<bool>("restarts");  // Bob's client restarts between pulls
        QTest::newRow("one member, 20 epochs") << 1 << false << false;
        QTest::newRow("one member, one epoch 20 times") << 1 << true << false;
        QTest::newRow("two members, 10 epochs each") << 2 << false << false;
        QTest::newRow("one member, Bob restarting") << 1 << false << true;
    }
    void falseClaimsCostAHandfulOfRequests()
    {
        QFETCH(int, liars);
        QFETCH(bool, sameEpoch);
        QFETCH(bool, restarts);
        const QString group = groupOf({&m_bob, &m_dave, &m_eve}, QStringLiteral("Storm"));
        QVERIFY(!group.isEmpty());
        const qint64 held = m_alice.registry->card(group)->epoch;
        for (int i = 0; i < 20; ++i) {
            User &liar = (liars == 2 && i % 2) ? m_eve : m_dave;
            QVERIFY(postClaim(liar, m_bob, group, held + (sameEpoch ? 1 : 1 + i),
                              QStringLiteral("lie-%1").arg(i)));
        }
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
        // Without a restart the disproved lies are gone from the relay; Bob
        // reads and writes as before (a restarted client, which forgot the
        // answer and gets no second one, after the wait).
        if (restarts)
            m_now += GroupRegistry::kClaimWaitSeconds;
        else
            QCOMPARE(m_relay.queueSize(m_bob.key()), 0);
        QVERIFY(use(m_alice));
        QVERIFY(sendGroupText(*m_alice.registry, group, QStringLiteral("calm")).ok);
        QVERIFY(textsOf(receive(m_bob)).contains(QStringLiteral("calm")));
        QVERIFY(use(m_bob));
        QVERIFY(sendGroupText(*m_bob.registry, group, QStringLiteral("here")).ok);
        m_now += GroupRegistry::kCardRequestIntervalSeconds;
    }

    // While Alice is away, a claim holds the group up for a bounded time:
    // a member's claim for at most the wait, the owner's own (a re-key of
    // hers) until her card arrives.
    void claimsHoldTheGroupUpForABoundedTime_data()
    {
        QTest::addColumn<bool>("byOwner");
        QTest::addColumn<int>("waited"); // seconds after the claim
        QTest::addColumn<bool>("heldUp");
        QTest::newRow("member, at once") << false << 0 << true;
        QTest::newRow("member, within the wait") << false << int(GroupRegistry::kClaimWaitSeconds - 1) << true;
        QTest::newRow("member, after the wait") << false << int(GroupRegistry::kClaimWaitSeconds) << false;
        QTest::newRow("member, an hour later") << false << 3600 << false;
        QTest::newRow("owner, an hour later") << true << 3600 << true;
    }
    void claimsHoldTheGroupUpForABoundedTime()
    {
        QFETCH(bool, byOwner);
        QFETCH(int, waited);
        QFETCH(bool, heldUp);
        const QString group = groupOf({&m_bob, &m_dave, &m_eve}, QStringLiteral("Stall"));
        QVERIFY(!group.isEmpty());
        const qint64 held = m_alice.registry->card(group)->epoch;
        QVERIFY(postClaim(byOwner ? m_alice : m_dave, m_bob, group, held + 1, QStringLiteral("claim")));
        QCOMPARE(errorsOf(receive(m_bob)), QStringList{"card_outdated"});
        dropInbox(m_alice); // away: the request is never answered

        m_now += waited;
        QVERIFY(use(m_eve));
        QVERIFY(sendGroupText(*m_eve.registry, group, QStringLiteral("from Eve")).ok);
        const QList<Received> bob = receive(m_bob);
        QCOMPARE(textsOf(bob).contains(QStringLiteral("from Eve")), !heldUp);
        QVERIFY(use(m_bob));
        QCOMPARE(sendGroupText(*m_bob.registry, group, QStringLiteral("from Bob")).error,
                 heldUp ? QStringLiteral("card_outdated") : QString());
        // A second claim, higher still, does not start the wait again.
        if (!byOwner && !heldUp) {
            QVERIFY(postClaim(m_dave, m_bob, group, held + 2, QStringLiteral("claim-2")));
            receive(m_bob);
            QVERIFY(use(m_bob));
            QVERIFY(sendGroupText(*m_bob.registry, group, QStringLiteral("still Bob")).ok);
        }
        m_now += GroupRegistry::kCardRequestIntervalSeconds;
    }

    // Alice removes Carol and the new card is written under (by Alice, or
    // by Dave who has it); the relay keeps that card from Bob and hands him
    // the one he holds instead, as if it were Alice's answer (or Dave, a
    // member of both, passes it on). Only Alice's answer to Bob's request
    // settles his wait: Carol stays out for as long as he waits.
    void onlyTheOwnersAnswerEndsTheWait_data()
    {
        QTest::addColumn<QString>("claimant");   // who writes under the new card
        QTest::addColumn<QString>("passedOnBy"); // who sends Bob his held card again
        QTest::addColumn<int>("waited");
        QTest::newRow("Alice writes, the relay replays her card") << "alice" << "alice" << 3600;
        QTest::newRow("Alice writes, Dave passes it on") << "alice" << "dave" << 3600;
        QTest::newRow("Dave writes, the relay replays Alice's card") << "dave" << "alice" << 10;
        QTest::newRow("Dave writes, Dave passes it on") << "dave" << "dave" << 10;
    }
    void onlyTheOwnersAnswerEndsTheWait()
    {
        QFETCH(QString, claimant);
        QFETCH(QString, passedOnBy);
        QFETCH(int, waited);
        const QString group = groupOf({&m_bob, &m_carol, &m_dave}, QStringLiteral("Kept out"));
        QVERIFY(!group.isEmpty());
        const GroupCard oldCard = *m_bob.registry->card(group);
        QVERIFY(use(m_alice));
        QVERIFY(removeGroupMember(*m_alice.registry, group, {m_carol.key()}).ok);
        dropInbox(m_bob); // the new card never reaches Bob
        QCOMPARE(errorsOf(receive(m_dave)), QStringList{QString()});
        User &writer = claimant == QLatin1String("alice") ? m_alice : m_dave;
        QVERIFY(use(writer));
        QVERIFY(sendGroupText(*writer.registry, group, QStringLiteral("after removal")).ok);
        dropInbox(m_carol);
        QCOMPARE(errorsOf(receive(m_bob)), QStringList{"card_outdated"});
        dropInbox(m_alice); // nor does Bob's request reach Alice

        User &sender = passedOnBy == QLatin1String("alice") ? m_alice : m_dave;
        const wire::Me as{sender.identity, sender.key()};
        QVERIFY(postAs(sender, m_bob, wire::cardMessageFor(as, oldCard, m_bob.key()), QStringLiteral("held-again")));
        QVERIFY(use(m_carol));
        QVERIFY(sendGroupText(*m_carol.registry, group, QStringLiteral("Carol here")).ok);
        m_now += waited;
        const QList<Received> bob = receive(m_bob);
        QVERIFY(!textsOf(bob).contains(QStringLiteral("Carol here")));
        QVERIFY(use(m_bob));
        QCOMPARE(sendGroupText(*m_bob.registry, group, QStringLiteral("hi Carol")).error,
                 QStringLiteral("card_outdated"));
        QCOMPARE(m_relay.queueSize(m_carol.key()), 0);
        m_now += GroupRegistry::kCardRequestIntervalSeconds;
    }
};

QTEST_GUILESS_MAIN(GroupClaimsTest)
#include "test_claims.moc"
