// Hostile members and a hostile relay against one normal group: a card
// planted under another owner's group id, a re-key card the relay withholds
// so that a removed member stays in the conversation, a store that fails
// while a profile or a visibility change is taken, an old invitation
// offered again after the member deleted the group, and floods of messages
// set aside for a card not held yet.
#include "group_test_support.h"

#include "groups/canonical_json.h"
#include "identity/envelope.h"
#include "support/fake_relay.h"
#include "support/fake_relay_groups.h"

#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

using namespace velmor::chat;
using grouptest::errorsOf;
using grouptest::Parked;
using grouptest::parkedNow;
using grouptest::Received;
using grouptest::textsOf;
using grouptest::User;
using velmor::crypto::base64UrlDecode;
using velmor::crypto::base64UrlEncode;

namespace {

// While alive, every write of `table` in the user's store fails, as on a
// full disk (a trigger put in by a second connection).
class BrokenTable
{
public:
    BrokenTable(const QString &dbPath, const QString &table)
    {
        QSqlDatabase side = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("broken"));
        side.setDatabaseName(dbPath);
        if (!side.open())
            return;
        QSqlQuery query(side);
        for (const char *event : {"INSERT", "UPDATE"})
            m_ok = query.exec(QStringLiteral("CREATE TRIGGER broken_%1 BEFORE %1 ON %2 "
                                             "BEGIN SELECT RAISE(ABORT, 'disk full'); END")
                                  .arg(QLatin1String(event), table));
    }
    ~BrokenTable()
    {
        {
            QSqlDatabase side = QSqlDatabase::database(QStringLiteral("broken"));
            QSqlQuery query(side);
            query.exec(QStringLiteral("DROP TRIGGER IF EXISTS broken_INSERT"));
            query.exec(QStringLiteral("DROP TRIGGER IF EXISTS broken_UPDATE"));
            side.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("broken"));
    }
    bool ok() const { return m_ok; }

private:
    bool m_ok = false;
};

} // namespace

class GroupHostileTest : public QObject, protected grouptest::GroupFixture
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

    User m_fay, m_gus; // more writers for the set-aside bounds
    // Each set-aside case starts with every inbox empty.
    void dropAllInboxes()
    {
        for (User *user : {&m_alice, &m_bob, &m_carol, &m_dave, &m_eve, &m_erin, &m_fay, &m_gus})
            dropInbox(*user);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(startRelay());
        grouptest::makeUser(m_fay, QStringLiteral("fay"), 0x77, m_dir);
        grouptest::makeUser(m_gus, QStringLiteral("gus"), 0x78, m_dir);
    }

    void cleanupTestCase()
    {
        stopRelay();
    }

    void plantedCardCannotTakeAnotherOwnersGroupId()
    {
        // Alice invites Bob; before Bob reads the invitation, Eve (who
        // learnt the group id) sends him a card of her own for that id.
        for (User *user : {&m_bob, &m_carol, &m_dave, &m_erin}) {
            QVERIFY(use(*user)); // each is known to the relay from now on
            QVERIFY(grouptest::peek().isEmpty());
        }
        QVERIFY(use(m_alice));
        const GroupCreateResult created = createGroup(*m_alice.registry, QStringLiteral("Real"), {m_bob.key()});
        QVERIFY2(created.ok, qPrintable(created.error));
        const GroupCard real = *m_alice.registry->card(created.groupId);
        const QString invitationId = m_groups->lastFanout().value("message_id").toString();

        QVERIFY(use(m_eve));
        GroupCard planted = real;
        const velmor::crypto::Ed25519KeyPair eveAdmin = deriveGroupAdminKey(m_eve.identity.privateKey, real.groupId);
        planted.ownerRawPublicKey = m_eve.key();
        planted.memberPublicKeys = QStringList{m_eve.key(), m_bob.key()};
        planted.memberPublicKeys.sort();
        planted.members.clear();
        for (const QString &key : std::as_const(planted.memberPublicKeys)) {
            GroupMemberProfile profile;
            profile.memberRawPublicKey = key;
            planted.members.append(profile);
        }
        planted.groupKeyBoxes.clear();
        for (const QString &key : std::as_const(planted.memberPublicKeys))
            planted.groupKeyBoxes.insert(key, Ecies::seal(base64UrlDecode(key), QByteArray(32, 'e')));
        planted.adminPublicKey = base64UrlEncode(eveAdmin.publicKey);
        planted.adminProof = base64UrlEncode(velmor::crypto::signMessage(
            m_eve.identity.privateKey, adminProofMessage(real.groupId, planted.adminPublicKey)));
        planted.epoch = 9;
        planted.keyEpoch = 9;
        QVERIFY(signGroupCard(planted, eveAdmin.seed));
        const QByteArray context = QByteArrayLiteral("velmor_group_v1|") + real.groupId.toUtf8()
            + QByteArrayLiteral("|card|") + velmor::identity::directMessageContext(m_eve.key(), m_bob.key());
        const QString ciphertext = QLatin1String(kGroupMessagePrefix) + base64UrlEncode(canonicalJson(QJsonObject{
            {"v", 1},
            {"kind", "card"},
            {"groupId", real.groupId},
            {"sealed", Ecies::seal(m_bob.identity.publicKey,
                                   canonicalJson(QJsonObject{{"card", QString::fromUtf8(planted.cardJson)},
                                                             {"signature", planted.signature}}),
                                   0, context)}}));
        // Eve's planted card reaches Bob's inbox before anything else of hers.
        const velmor::identity::Envelope envelope = velmor::identity::signEnvelope(
            m_eve.identity, m_bob.key(), ciphertext, QStringLiteral("planted-1"), QDateTime::currentSecsSinceEpoch());
        QVERIFY(RelayApi::authorizedPost(QStringLiteral("/v1/message/send"), RelayApi::envelopeToJson(envelope)).success);

        const QList<Received> bob = receive(m_bob);
        QCOMPARE(bob.size(), 2);
        QCOMPARE(bob.at(0).envelope.messageId, invitationId);
        QVERIFY2(bob.at(0).result.error.isEmpty(), qPrintable(bob.at(0).result.error));
        QCOMPARE(bob.at(1).result.error, QStringLiteral("card_verify_failed"));
        // Whatever order the two come in, the group Bob holds is Alice's.
        QCOMPARE(m_bob.registry->card(real.groupId)->ownerRawPublicKey, m_alice.key());
        QVERIFY(use(m_bob));
        GroupRegistry fresh;
        QCOMPARE(handleGroupMessage(fresh, ciphertext, m_eve.key()).error, QStringLiteral("card_verify_failed"));
        QVERIFY(!fresh.contains(real.groupId));
        RelayApi::ack({QStringLiteral("planted-1")});
    }

    void withheldRemovalDoesNotKeepTheRemovedMemberIn()
    {
        const QString group = groupOf({&m_bob, &m_carol}, QStringLiteral("Three"));
        QVERIFY(!group.isEmpty());
        QVERIFY(use(m_alice));
        QVERIFY(removeGroupMember(*m_alice.registry, group, {m_carol.key()}).ok);
        // The relay never hands Bob (nor Carol) the new card.
        dropInbox(m_bob);
        dropInbox(m_carol);
        QVERIFY(use(m_alice));
        QVERIFY(sendGroupText(*m_alice.registry, group, QStringLiteral("after removal")).ok);
        QVERIFY(use(m_carol));
        QVERIFY(sendGroupText(*m_carol.registry, group, QStringLiteral("still here")).ok);

        // Bob sees that Alice writes under a newer card than his: he asks
        // her for it and takes nothing of the group until he has it, Carol's
        // words included, and seals nothing under his old key for Carol.
        QList<Received> bob = receive(m_bob);
        QCOMPARE(errorsOf(bob), (QStringList{"card_outdated", "card_outdated"}));
        QVERIFY(use(m_bob));
        QCOMPARE(sendGroupText(*m_bob.registry, group, QStringLiteral("hi Carol")).error,
                 QStringLiteral("card_outdated"));
        QCOMPARE(m_relay.queueSize(m_carol.key()), 0);

        // Alice refuses Carol and answers Bob's request with her card.
        const QList<Received> alice = receive(m_alice);
        QCOMPARE(errorsOf(alice), (QStringList{"sender_not_member", QString()}));
        RelayApi::ack({alice.at(0).envelope.messageId});

        // The two messages were set aside; once the card comes, Alice's
        // opens, and Carol's goes with the card that no longer lists her.
        QCOMPARE(m_relay.queueSize(m_bob.key()), 1);
        bob = receive(m_bob);
        QCOMPARE(errorsOf(bob), (QStringList{QString(), QString()}));
        QCOMPARE(textsOf(bob), QStringList{"after removal"});
        QVERIFY(!m_bob.registry->card(group)->hasMember(m_carol.key()));
        QVERIFY(ChatStore::instance().parkedGroupIds().isEmpty());
        dropInbox(m_bob);
        QVERIFY(use(m_bob));
        QVERIFY(sendGroupText(*m_bob.registry, group, QStringLiteral("hi Alice")).ok);
        QCOMPARE(m_relay.queueSize(m_carol.key()), 0);
        dropInbox(m_alice);
        dropInbox(m_carol);
    }

    // The relay withholds the card that removed Carol from Bob, who goes on
    // writing under the old card (which Carol can read). Whoever holds the
    // newer card and gets such a post (the owner, or another member) takes
    // it and sends Bob the current card, once however often he writes; with
    // it Bob stops sealing for Carol.
    void oldCardWritersAreSentTheCurrentCard_data()
    {
        QTest::addColumn<bool>("ownerReceives"); // else only Dave, a plain member, reads Bob's posts
        QTest::newRow("the owner") << true;
        QTest::newRow("another member") << false;
    }
    void oldCardWritersAreSentTheCurrentCard()
    {
        QFETCH(bool, ownerReceives);
        const QString group = groupOf({&m_bob, &m_carol, &m_dave}, QStringLiteral("Four"));
        QVERIFY(!group.isEmpty());
        QVERIFY(use(m_alice));
        QVERIFY(removeGroupMember(*m_alice.registry, group, {m_carol.key()}).ok);
        dropInbox(m_bob); // the relay never hands Bob (nor Carol) the new card
        dropInbox(m_carol);
        QCOMPARE(errorsOf(receive(m_dave)), QStringList{QString()});
        QVERIFY(!m_dave.registry->card(group)->hasMember(m_carol.key()));

        QVERIFY(use(m_bob));
        for (const char *text : {"hi all", "anyone?", "hello?"})
            QVERIFY(sendGroupText(*m_bob.registry, group, QString::fromUtf8(text)).ok);
        QCOMPARE(m_relay.queueSize(m_carol.key()), 3); // what the removed member can still read
        User &reader = ownerReceives ? m_alice : m_dave;
        if (!ownerReceives)
            dropInbox(m_alice);
        const QList<Received> read = receive(reader);
        QCOMPARE(textsOf(read), (QStringList{"hi all", "anyone?", "hello?"}));
        QCOMPARE(m_relay.queueSize(m_bob.key()), 1); // one card, not one per post

        QCOMPARE(errorsOf(receive(m_bob)), QStringList{QString()});
        QVERIFY(!m_bob.registry->card(group)->hasMember(m_carol.key()));
        dropInbox(m_carol);
        QVERIFY(use(m_bob));
        QVERIFY(sendGroupText(*m_bob.registry, group, QStringLiteral("now?")).ok);
        QCOMPARE(m_relay.queueSize(m_carol.key()), 0);
        dropInbox(m_alice);
        dropInbox(m_dave);
    }

    void inventedEpochDoesNotStallTheGroup()
    {
        // A member seals a message claiming a card epoch the owner never
        // reached. Bob asks once, gets Alice's card, and then goes on taking
        // the group's messages; the lie, far beyond any card Alice has
        // shown, is dropped at once rather than set aside.
        const QString group = groupOf({&m_bob, &m_dave}, QStringLiteral("Liars"));
        QVERIFY(!group.isEmpty());
        QVERIFY(use(m_dave));
        const GroupCard card = *m_dave.registry->card(group);
        const QByteArray groupKey =
            Ecies::open(m_dave.registry->keyRing(group).value(card.keyEpoch), m_dave.identity.privateKey);
        const qint64 lie = card.epoch + 50;
        const QByteArray context = QByteArrayLiteral("velmor_group_v1|") + group.toUtf8() + "|message|"
            + QByteArray::number(card.keyEpoch) + '|' + QByteArray::number(lie);
        const QString ciphertext = QLatin1String(kGroupMessagePrefix) + base64UrlEncode(canonicalJson(QJsonObject{
            {"v", 1}, {"kind", "message"}, {"groupId", group}, {"keyEpoch", double(card.keyEpoch)},
            {"epoch", double(lie)},
            {"box", velmor::crypto::GroupBox::seal(
                        groupKey,
                        canonicalJson(QJsonObject{{"type", "text"}, {"text", "stall"}, {"sender", m_dave.key()}}),
                        context)}}));
        const velmor::identity::Envelope envelope = velmor::identity::signEnvelope(
            m_dave.identity, m_bob.key(), ciphertext, QStringLiteral("lie-1"), QDateTime::currentSecsSinceEpoch());
        QVERIFY(RelayApi::authorizedPost(QStringLiteral("/v1/message/send"), RelayApi::envelopeToJson(envelope)).success);

        QCOMPARE(errorsOf(receive(m_bob)), QStringList{"card_outdated"});
        QCOMPARE(m_relay.queueSize(m_bob.key()), 0);
        QVERIFY(ChatStore::instance().parkedGroupIds().isEmpty());
        receive(m_alice); // answers with the current card
        QVERIFY(use(m_alice));
        QVERIFY(sendGroupText(*m_alice.registry, group, QStringLiteral("carry on")).ok);
        QList<Received> bob = receive(m_bob);
        QCOMPARE(errorsOf(bob), (QStringList{QString(), QString()}));
        QCOMPARE(textsOf(bob), QStringList{"carry on"});
        QVERIFY(use(m_alice));
        QVERIFY(sendGroupText(*m_alice.registry, group, QStringLiteral("still going")).ok);
        bob = receive(m_bob);
        QCOMPARE(errorsOf(bob), (QStringList{QString()}));
        QCOMPARE(textsOf(bob), QStringList{"still going"});
        QCOMPARE(m_relay.queueSize(m_bob.key()), 0);
        dropInbox(m_bob);
        dropInbox(m_alice);
        dropInbox(m_dave);
    }

    void profileTheStoreCannotKeepStaysWithTheRelay()
    {
        const QString group = groupOf({&m_bob}, QStringLiteral("Profiles"));
        QVERIFY(!group.isEmpty());
        QVERIFY(use(m_bob));
        QVERIFY(sendMemberProfileUpdate(*m_bob.registry, group, QStringLiteral("Bobby"), QString()).ok);
        QVERIFY(use(m_alice));
        {
            BrokenTable broken(m_alice.dbPath, QStringLiteral("normal_group_member_profiles"));
            QVERIFY(broken.ok());
            const QList<Received> alice = grouptest::pullAndHandle(m_alice);
            QCOMPARE(errorsOf(alice), QStringList{"store_failed"});
            // Not acknowledged: the relay still holds it.
            QCOMPARE(m_relay.queueSize(m_alice.key()), 1);
            // Nor is a profile of Alice's own sent that her store could not keep.
            const int fanouts = m_groups->fanoutCount();
            QCOMPARE(sendMemberProfileUpdate(*m_alice.registry, group, QStringLiteral("Ann"), QString()).error,
                     QStringLiteral("store_failed"));
            QCOMPARE(m_groups->fanoutCount(), fanouts);
        }
        const QList<Received> again = grouptest::pullAndHandle(m_alice);
        QCOMPARE(errorsOf(again), QStringList{QString()});
        bool stored = false;
        for (const QJsonObject &profile : ChatStore::instance().normalGroupMemberProfiles(group))
            stored |= profile.value("displayName").toString() == QLatin1String("Bobby");
        QVERIFY(stored);
    }

    void visibilityTheStoreCannotKeepIsNotPublished()
    {
        QVERIFY(use(m_alice));
        const GroupCreateResult created = createGroup(*m_alice.registry, QStringLiteral("Shown"), {});
        QVERIFY(created.ok);
        const QString joinKey = m_alice.registry->card(created.groupId)->adminPublicKey;
        QCOMPARE(m_groups->visibility(joinKey), QStringLiteral("public"));
        {
            BrokenTable broken(m_alice.dbPath, QStringLiteral("normal_group_cards"));
            QVERIFY(broken.ok());
            QCOMPARE(setGroupVisibility(*m_alice.registry, created.groupId, false).error,
                     QStringLiteral("store_failed"));
        }
        // Relay and store agree: still public, and the next change keeps it so.
        QCOMPARE(m_groups->visibility(joinKey), QStringLiteral("public"));
        QVERIFY(renameGroup(*m_alice.registry, created.groupId, QStringLiteral("Shown still")).ok);
        QCOMPARE(m_groups->visibility(joinKey), QStringLiteral("public"));
    }

    void deletedGroupStaysDeletedUntilANewerCard()
    {
        QVERIFY(use(m_alice));
        const GroupCreateResult created = createGroup(*m_alice.registry, QStringLiteral("Gone"), {m_erin.key()});
        QVERIFY(created.ok);
        QVERIFY(use(m_erin));
        const QList<RawEnvelope> inbox = grouptest::peek();
        QCOMPARE(inbox.size(), 1);
        const RawEnvelope invitation = inbox.first();
        QCOMPARE(errorsOf(grouptest::pullAndHandle(m_erin)), QStringList{QString()});
        QVERIFY(m_erin.registry->contains(created.groupId));

        QVERIFY(deleteGroupLocally(*m_erin.registry, created.groupId, true).ok);
        QVERIFY(!m_erin.registry->contains(created.groupId));
        QVERIFY(ChatStore::instance().normalGroupCards().isEmpty());
        // The relay offers the old invitation again, also after a restart.
        QCOMPARE(handleGroupMessage(*m_erin.registry, invitation.ciphertext, invitation.senderPubkey).error,
                 QStringLiteral("group_deleted"));
        {
            // The program restarts: the store file is opened anew.
            ChatStore &store = ChatStore::instance();
            const QString owner = store.ownerKey(), path = store.databasePath();
            store.close();
            QVERIFY(store.open(owner, path));
        }
        GroupRegistry restarted;
        restarted.reloadFromStore();
        QCOMPARE(handleGroupMessage(restarted, invitation.ciphertext, invitation.senderPubkey).error,
                 QStringLiteral("group_deleted"));
        QVERIFY(!restarted.contains(created.groupId));
        QVERIFY(ChatStore::instance().normalGroupCards().isEmpty());

        // A newer card (the owner renames the group) brings it back.
        QVERIFY(use(m_alice));
        QVERIFY(renameGroup(*m_alice.registry, created.groupId, QStringLiteral("Back")).ok);
        QCOMPARE(errorsOf(receive(m_erin)), QStringList{QString()});
        QCOMPARE(m_erin.registry->card(created.groupId)->name, QStringLiteral("Back"));
        // Deleted again, at the newer epoch.
        QVERIFY(deleteGroupLocally(*m_erin.registry, created.groupId, false).ok);
        QVERIFY(use(m_alice));
        QVERIFY(renameGroup(*m_alice.registry, created.groupId, QStringLiteral("Again")).ok);
        QCOMPARE(errorsOf(receive(m_erin)), QStringList{QString()});
        QVERIFY(m_erin.registry->contains(created.groupId));
    }

    // Group messages set aside for a card not held yet cannot fill the
    // disk: the store keeps a bounded share per writer and for the user (the
    // oldest go first), nothing older than a day, nothing of an epoch beyond
    // the owner's last proven one + 1, and nothing of a writer the next card
    // drops. Through the local relay, as the members' clients send.
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
        dropAllInboxes();
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
        dropAllInboxes();
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
        dropAllInboxes();
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

QTEST_GUILESS_MAIN(GroupHostileTest)
#include "test_hostile.moc"
