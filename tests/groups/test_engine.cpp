// Three (then four) users run one normal group through the local relay:
// creation and invitations, text, image and voice messages, re-keying on
// removal and addition, card changes, member profiles, reloading from the
// store, and the owner-only refusals.
#include "group_test_support.h"

#include "groups/discovery.h"
#include "groups/group_wire.h"
#include "support/fake_relay.h"
#include "support/fake_relay_groups.h"

#include <QJsonArray>
#include <QSemaphore>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <thread>

using namespace velmor::chat;
using grouptest::Received;
using grouptest::User;
using velmor::fakes::Fault;

class GroupEngineTest : public QObject, protected grouptest::RelayFixture
{
    Q_OBJECT

private:
    QString m_groupId;

    // Signs in as the user, pulls and handles the inbox.
    QList<Received> receive(User &user)
    {
        if (!use(user))
            return {};
        return grouptest::pullAndHandle(user);
    }

    // Refused envelopes stay at the relay to be offered again; the tests
    // clear them once checked so that later steps see only new traffic.
    static void dropRefused(const QList<Received> &received)
    {
        QStringList ids;
        for (const Received &item : received)
            if (!item.result.error.isEmpty())
                ids.append(item.envelope.messageId);
        if (!ids.isEmpty())
            RelayApi::ack(ids);
    }

    static bool storedVisibility(const QString &groupId)
    {
        for (const NormalGroupCardRecord &record : ChatStore::instance().normalGroupCards())
            if (record.group_id == groupId)
                return record.visible;
        return false;
    }

    static QList<GroupInboundResult> messagesOf(const QList<Received> &received)
    {
        QList<GroupInboundResult> out;
        for (const Received &item : received)
            if (item.result.hasMessage)
                out.append(item.result);
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(startRelay());
    }

    void cleanupTestCase()
    {
        stopRelay();
    }

    void createSendsInvitations()
    {
        QVERIFY(use(m_alice));
        const GroupCreateResult created = createGroup(
            *m_alice.registry, QStringLiteral("  Hiking  "),
            {m_carol.key(), m_bob.key(), m_bob.key(), QStringLiteral("not a key")});
        QVERIFY2(created.ok, qPrintable(created.error));
        m_groupId = created.groupId;

        const std::optional<GroupCard> card = m_alice.registry->card(m_groupId);
        QVERIFY(card);
        QCOMPARE(card->name, QStringLiteral("Hiking"));
        QCOMPARE(card->avatarId, QStringLiteral("defaultgroupphoto"));
        QCOMPARE(card->epoch, 1);
        QCOMPARE(card->ownerRawPublicKey, m_alice.key());
        QStringList expected{m_alice.key(), m_bob.key(), m_carol.key()};
        expected.sort();
        QCOMPARE(card->memberPublicKeys, expected);
        QCOMPARE(card->groupKeyBoxes.size(), 3);
        // Stored for the owner, and published to the relay's directory.
        QCOMPARE(ChatStore::instance().normalGroupCards().size(), 1);
        QVERIFY(m_groups->hasRecord(card->adminPublicKey));
        QCOMPARE(m_groups->visibility(card->adminPublicKey), QStringLiteral("public"));
        // The invitation went to the two others only.
        QStringList recipients = m_groups->lastFanoutRecipients();
        recipients.sort();
        QStringList others{m_bob.key(), m_carol.key()};
        others.sort();
        QCOMPARE(recipients, others);

        for (User *member : {&m_bob, &m_carol}) {
            const QList<Received> received = receive(*member);
            QCOMPARE(received.size(), 1);
            QVERIFY(received.first().result.isGroup);
            QVERIFY(received.first().result.error.isEmpty());
            QVERIFY(!received.first().result.hasMessage);
            QCOMPARE(received.first().result.groupId, m_groupId);
            const std::optional<GroupCard> theirs = member->registry->card(m_groupId);
            QVERIFY(theirs);
            QCOMPARE(theirs->cardJson, card->cardJson);
            QCOMPARE(ChatStore::instance().normalGroupCards().size(), 1);
        }
    }

    void membersExchangeTextImageAndVoice()
    {
        QVERIFY(use(m_alice));
        const GroupSendResult text = sendGroupText(*m_alice.registry, m_groupId, QStringLiteral("早上好 all"));
        QVERIFY2(text.ok, qPrintable(text.error));
        QVERIFY(!text.messageId.isEmpty());

        QVERIFY(use(m_bob));
        const QByteArray jpeg = velmor::crypto::randomBytes(3000);
        const GroupSendResult image = sendGroupImage(*m_bob.registry, m_groupId, jpeg,
                                                     QStringLiteral("image/jpeg"), 640, 480);
        QVERIFY2(image.ok, qPrintable(image.error));

        QVERIFY(use(m_carol));
        const QByteArray audio = velmor::crypto::randomBytes(1500);
        const GroupSendResult voice = sendGroupVoice(*m_carol.registry, m_groupId, audio, 2300, {1, 5, 9});
        QVERIFY2(voice.ok, qPrintable(voice.error));

        struct Expect { User *user; QStringList types; };
        for (const Expect &expect : {Expect{&m_alice, {"image", "voice"}},
                                     Expect{&m_bob, {"text", "voice"}},
                                     Expect{&m_carol, {"image", "text"}}}) {
            const QList<GroupInboundResult> got = messagesOf(receive(*expect.user));
            QStringList types;
            for (const GroupInboundResult &result : got) {
                types.append(result.contentType);
                QCOMPARE(result.groupId, m_groupId);
                if (result.contentType == QLatin1String("text")) {
                    QCOMPARE(result.text, QStringLiteral("早上好 all"));
                } else if (result.contentType == QLatin1String("image")) {
                    QCOMPARE(velmor::crypto::base64UrlDecode(result.imageB64), jpeg);
                    QCOMPARE(result.imageMime, QStringLiteral("image/jpeg"));
                    QCOMPARE(result.imageWidth, 640);
                    QCOMPARE(result.imageHeight, 480);
                    QVERIFY(!result.text.isEmpty());
                } else if (result.contentType == QLatin1String("voice")) {
                    QCOMPARE(velmor::crypto::base64UrlDecode(result.voiceB64), audio);
                    QCOMPARE(result.durationMs, 2300);
                    QCOMPARE(result.waveform, (QList<int>{1, 5, 9}));
                }
            }
            types.sort();
            QCOMPARE(types, expect.types);
            // Nothing left: every envelope was accepted and acknowledged.
            QCOMPARE(m_relay.queueSize(expect.user->key()), 0);
        }
    }

    void removedMemberCannotReadAfterRekey()
    {
        QVERIFY(use(m_alice));
        const GroupCard before = *m_alice.registry->card(m_groupId);
        const GroupOpResult removed = removeGroupMember(*m_alice.registry, m_groupId, {m_carol.key()});
        QVERIFY2(removed.ok, qPrintable(removed.error));
        const GroupCard after = *m_alice.registry->card(m_groupId);
        QCOMPARE(after.epoch, before.epoch + 1);
        QCOMPARE(after.keyEpoch, after.epoch);
        QVERIFY(!after.hasMember(m_carol.key()));
        QVERIFY(!after.groupKeyBoxes.contains(m_carol.key()));
        // The new card went to Bob, and to Carol, who is told by it that
        // she is out (it holds no box for her).
        QCOMPARE(m_groups->lastFanoutRecipients(), (QStringList{m_bob.key(), m_carol.key()}));
        QCOMPARE(m_relay.queueSize(m_carol.key()), 1);

        const GroupSendResult secret = sendGroupText(*m_alice.registry, m_groupId, QStringLiteral("after removal"));
        QVERIFY(secret.ok);
        QCOMPARE(m_relay.queueSize(m_carol.key()), 1);

        // Carol gets hold of the ciphertext anyway (say, from Bob's inbox).
        QVERIFY(use(m_bob));
        const QList<RawEnvelope> inbox = grouptest::peek();
        QCOMPARE(inbox.size(), 2);
        const RawEnvelope leaked = inbox.last();

        QVERIFY(use(m_carol));
        // A card that does not list the user gives no key to send with.
        QCOMPARE(sendGroupText(*m_alice.registry, m_groupId, QStringLiteral("x")).error,
                 QStringLiteral("no_group_key"));
        const GroupCard carolBefore = *m_carol.registry->card(m_groupId);
        const GroupInboundResult attempt =
            handleGroupMessage(*m_carol.registry, leaked.ciphertext, leaked.senderPubkey);
        QVERIFY(attempt.isGroup);
        QVERIFY(!attempt.hasMessage);
        // The message names a newer card than hers: she asks the owner for
        // it (and, no longer a member, will not get it).
        QCOMPARE(attempt.error, QStringLiteral("card_outdated"));
        runFollowUps(attempt.followUps);
        QCOMPARE(m_carol.registry->card(m_groupId)->cardJson, carolBefore.cardJson);

        // Bob, still a member, reads both the card and the message.
        const QList<Received> bob = receive(m_bob);
        QCOMPARE(bob.size(), 2);
        QVERIFY(bob.at(0).result.error.isEmpty());
        QCOMPARE(bob.at(1).result.text, QStringLiteral("after removal"));
        QCOMPARE(m_bob.registry->card(m_groupId)->epoch, after.epoch);

        // Carol's own messages are no longer taken by the members.
        QVERIFY(use(m_carol));
        // Having seen the newer epoch, her client seals nothing more under
        // her old card; a restarted one (that has forgotten) still would.
        QCOMPARE(sendGroupText(*m_carol.registry, m_groupId, QStringLiteral("x")).error,
                 QStringLiteral("card_outdated"));
        GroupRegistry carolRestarted;
        carolRestarted.reloadFromStore();
        const GroupSendResult carolSend = sendGroupText(carolRestarted, m_groupId, QStringLiteral("still here?"));
        QVERIFY(carolSend.ok); // her old card still lists the others
        const QList<Received> bobAgain = receive(m_bob);
        QCOMPARE(bobAgain.size(), 1);
        QCOMPARE(bobAgain.first().result.error, QStringLiteral("sender_not_member"));
        QCOMPARE(m_bob.registry->card(m_groupId)->epoch, after.epoch);
        dropRefused(bobAgain);
        const QList<Received> alice = receive(m_alice);
        QCOMPARE(alice.size(), 2); // her card request and her message
        for (const Received &item : alice)
            QCOMPARE(item.result.error, QStringLiteral("sender_not_member"));
        QCOMPARE(m_relay.queueSize(m_carol.key()), 1); // no answer went to her, only the removal card
        dropRefused(alice);
        QVERIFY(use(m_carol));
        grouptest::dropInbox();
    }

    void addedMemberReadsWhatFollows()
    {
        QVERIFY(use(m_alice));
        const qint64 epochBefore = m_alice.registry->card(m_groupId)->epoch;
        const GroupOpResult added = addGroupMembers(*m_alice.registry, m_groupId, {m_dave.key()});
        QVERIFY2(added.ok, qPrintable(added.error));
        const GroupCard card = *m_alice.registry->card(m_groupId);
        QCOMPARE(card.epoch, epochBefore + 1);
        QCOMPARE(card.keyEpoch, card.epoch);
        QVERIFY(card.hasMember(m_dave.key()));

        // Bob has not seen the new card yet: he seals with the previous key
        // for the members he knows. Alice still holds that key in her ring.
        QVERIFY(use(m_bob));
        const GroupSendResult early = sendGroupText(*m_bob.registry, m_groupId, QStringLiteral("in flight"));
        QVERIFY2(early.ok, qPrintable(early.error));
        const QList<GroupInboundResult> alice = messagesOf(receive(m_alice));
        QCOMPARE(alice.size(), 1);
        QCOMPARE(alice.first().text, QStringLiteral("in flight"));

        // Alice saw Bob write under the old card and sent it to him again:
        // the copy behind the first changes nothing.
        const QList<Received> bob = receive(m_bob);
        QCOMPARE(bob.size(), 2);
        QVERIFY(bob.first().result.hasMessage);
        QCOMPARE(bob.first().result.contentType, QStringLiteral("system"));
        QVERIFY(bob.first().result.text.contains(QStringLiteral("加入了群聊")));
        QVERIFY(bob.last().result.isGroup && !bob.last().result.hasMessage);
        QVERIFY(bob.last().result.error.isEmpty());
        const GroupSendResult hello = sendGroupText(*m_bob.registry, m_groupId, QStringLiteral("welcome"));
        QVERIFY2(hello.ok, qPrintable(hello.error));

        const QList<Received> dave = receive(m_dave);
        QCOMPARE(dave.size(), 2); // the invitation and the welcome, not the message before
        QVERIFY(dave.at(0).result.isGroup && !dave.at(0).result.hasMessage);
        QVERIFY(dave.at(0).result.error.isEmpty());
        QCOMPARE(dave.at(1).result.text, QStringLiteral("welcome"));
        QCOMPARE(dave.at(1).envelope.senderPubkey, m_bob.key());
        const QList<GroupInboundResult> owner = messagesOf(receive(m_alice));
        QCOMPARE(owner.size(), 1);
        QCOMPARE(owner.first().text, QStringLiteral("welcome"));
    }

    void cardChangesRaiseTheEpoch()
    {
        QVERIFY(use(m_alice));
        const GroupCard start = *m_alice.registry->card(m_groupId);
        QVERIFY(renameGroup(*m_alice.registry, m_groupId, QStringLiteral(" Summit team ")).ok);
        QVERIFY(updateGroupCard(*m_alice.registry, m_groupId, QStringLiteral("  bring water ")).ok);
        GroupCard card = *m_alice.registry->card(m_groupId);
        QCOMPARE(card.epoch, start.epoch + 2);
        QCOMPARE(card.keyEpoch, start.keyEpoch); // no new key for a name or remark
        QCOMPARE(card.name, QStringLiteral("Summit team"));
        QCOMPARE(card.remark, QStringLiteral("bring water"));
        QVERIFY(updateGroupCard(*m_alice.registry, m_groupId, QStringLiteral("   ")).ok);
        card = *m_alice.registry->card(m_groupId);
        QVERIFY(card.remark.isEmpty());
        QVERIFY(!card.toJson().contains(QStringLiteral("remark")));
        QCOMPARE(card.epoch, start.epoch + 3);

        const QList<Received> dave = receive(m_dave);
        QCOMPARE(dave.size(), 3);
        for (const Received &item : dave)
            QVERIFY2(item.result.error.isEmpty(), qPrintable(item.result.error));
        QCOMPARE(m_dave.registry->card(m_groupId)->name, QStringLiteral("Summit team"));
        QCOMPARE(m_dave.registry->card(m_groupId)->epoch, card.epoch);
        receive(m_bob);
    }

    void ownerOnlyRefusals()
    {
        QVERIFY(use(m_bob));
        QCOMPARE(renameGroup(*m_bob.registry, m_groupId, QStringLiteral("mine")).error, QStringLiteral("not_owner"));
        QCOMPARE(addGroupMembers(*m_bob.registry, m_groupId, {m_carol.key()}).error, QStringLiteral("not_owner"));
        QCOMPARE(removeGroupMember(*m_bob.registry, m_groupId, {m_dave.key()}).error, QStringLiteral("not_owner"));
        QCOMPARE(updateGroupCard(*m_bob.registry, m_groupId, QStringLiteral("x")).error, QStringLiteral("not_owner"));
        QCOMPARE(setGroupVisibility(*m_bob.registry, m_groupId, false).error, QStringLiteral("not_owner"));

        QVERIFY(use(m_alice));
        GroupRegistry &registry = *m_alice.registry;
        const QByteArray cardBefore = registry.card(m_groupId)->cardJson;
        QCOMPARE(renameGroup(registry, m_groupId, QStringLiteral("  ")).error, QStringLiteral("empty_name"));
        QCOMPARE(renameGroup(registry, QStringLiteral("nope"), QStringLiteral("x")).error, QStringLiteral("no_card"));
        QCOMPARE(sendGroupText(registry, QStringLiteral("nope"), QStringLiteral("x")).error, QStringLiteral("no_card"));
        QCOMPARE(addGroupMembers(registry, m_groupId, {m_bob.key()}).error, QStringLiteral("no_new_members"));
        QCOMPARE(removeGroupMember(registry, m_groupId, {m_alice.key()}).error, QStringLiteral("cannot_remove_owner"));
        QCOMPARE(removeGroupMember(registry, m_groupId, {m_carol.key()}).error, QStringLiteral("no_such_member"));
        // The owner in the list is refused as such wherever it stands.
        QCOMPARE(removeGroupMember(registry, m_groupId, {m_carol.key(), m_alice.key()}).error,
                 QStringLiteral("cannot_remove_owner"));
        QStringList many;
        for (int i = 0; i < 18; ++i)
            many.append(velmor::identity::Identity::generate().publicKeyText());
        QCOMPARE(addGroupMembers(registry, m_groupId, many).error, QStringLiteral("group_full"));
        QCOMPARE(registry.card(m_groupId)->cardJson, cardBefore);

        // Nobody signed in.
        velmor::net::RelayAuthSession::instance().clear();
        QCOMPARE(sendGroupText(registry, m_groupId, QStringLiteral("x")).error, QStringLiteral("no_identity"));
        QCOMPARE(createGroup(registry, QStringLiteral("x"), {}).error, QStringLiteral("no_identity"));
    }

    void failedFanOutKeepsTheSignedCard()
    {
        // A card is stored before it is sent and its epoch is never signed
        // again: a retry after a failed fan-out issues the next epoch, which
        // every member takes, instead of a second card of the same epoch
        // that some members would refuse.
        QVERIFY(use(m_alice));
        GroupRegistry &registry = *m_alice.registry;
        const GroupCard before = *registry.card(m_groupId);
        m_relay.setFault(QStringLiteral("/v1/group/fanout"), Fault::http500());
        QCOMPARE(renameGroup(registry, m_groupId, QStringLiteral("never")).error, QStringLiteral("fanout_http_500"));
        QCOMPARE(sendGroupText(registry, m_groupId, QStringLiteral("lost?")).error, QStringLiteral("fanout_http_500"));
        m_relay.clearFaults();
        const GroupCard kept = *registry.card(m_groupId);
        QCOMPARE(kept.epoch, before.epoch + 1);
        QCOMPARE(kept.name, QStringLiteral("never"));
        QVERIFY(kept.hasMember(m_dave.key()));
        // The store holds that card: a restart does not sign its epoch again.
        GroupRegistry reloaded;
        reloaded.reloadFromStore();
        QCOMPARE(reloaded.card(m_groupId)->cardJson, kept.cardJson);

        QVERIFY(renameGroup(registry, m_groupId, QStringLiteral("Summit team")).ok);
        QCOMPARE(registry.card(m_groupId)->epoch, before.epoch + 2);
        for (User *member : {&m_bob, &m_dave}) {
            const QList<Received> got = receive(*member);
            QCOMPARE(got.size(), 1);
            QVERIFY2(got.first().result.error.isEmpty(), qPrintable(got.first().result.error));
            QCOMPARE(member->registry->card(m_groupId)->epoch, before.epoch + 2);
            QCOMPARE(member->registry->card(m_groupId)->name, QStringLiteral("Summit team"));
        }
    }

    void cardTheStoreCannotKeepIsNeverSent()
    {
        // With the owner's store unable to write, the change fails before
        // anything leaves: the members see nothing, the owner stays where it
        // was, and the next change signs the epoch that was never sent.
        QVERIFY(use(m_alice));
        GroupRegistry &registry = *m_alice.registry;
        const GroupCard before = *registry.card(m_groupId);
        const int fanouts = m_groups->fanoutCount();
        {
            QSqlDatabase side = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lock"));
            side.setDatabaseName(m_alice.dbPath);
            QVERIFY(side.open());
            QSqlQuery query(side);
            QVERIFY(query.exec(QStringLiteral("CREATE TRIGGER refuse_cards BEFORE UPDATE ON normal_group_cards "
                                              "BEGIN SELECT RAISE(ABORT, 'disk full'); END")));
            QCOMPARE(renameGroup(registry, m_groupId, QStringLiteral("unsaved")).error,
                     QStringLiteral("store_failed"));
            QVERIFY(query.exec(QStringLiteral("DROP TRIGGER refuse_cards")));
            side.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("lock"));
        QCOMPARE(m_groups->fanoutCount(), fanouts);
        QCOMPARE(registry.card(m_groupId)->cardJson, before.cardJson);
        QVERIFY(renameGroup(registry, m_groupId, QStringLiteral("Summit team")).ok);
        QCOMPARE(registry.card(m_groupId)->epoch, before.epoch + 1);
        for (User *member : {&m_bob, &m_dave}) {
            const QList<Received> got = receive(*member);
            QCOMPARE(got.size(), 1);
            QVERIFY2(got.first().result.error.isEmpty(), qPrintable(got.first().result.error));
        }
    }

    void profilesReachTheMembers()
    {
        QVERIFY(use(m_bob));
        // Two changes in quick succession: the later one wins everywhere.
        QVERIFY(sendMemberProfileUpdate(*m_bob.registry, m_groupId, QStringLiteral("Bob0"), QString()).ok);
        const GroupOpResult sent = sendMemberProfileUpdate(*m_bob.registry, m_groupId, QStringLiteral(" Bobby "),
                                                           QStringLiteral("lottiehead_3"));
        QVERIFY2(sent.ok, qPrintable(sent.error));
        QCOMPARE(sendMemberProfileUpdate(*m_bob.registry, QStringLiteral("nope"), QString(), QString()).error,
                 QStringLiteral("no_card"));

        const QList<Received> alice = receive(m_alice);
        QCOMPARE(alice.size(), 2);
        for (const Received &item : alice) {
            QVERIFY(item.result.isGroup);
            QVERIFY(!item.result.hasMessage);
            QVERIFY(item.result.error.isEmpty());
        }
        bool found = false;
        for (const QJsonObject &profile : ChatStore::instance().normalGroupMemberProfiles(m_groupId)) {
            if (profile.value(QStringLiteral("memberRawPublicKey")).toString() == m_bob.key()) {
                found = true;
                QCOMPARE(profile.value(QStringLiteral("displayName")).toString(), QStringLiteral("Bobby"));
                QCOMPARE(profile.value(QStringLiteral("avatarId")).toString(), QStringLiteral("lottiehead_3"));
            }
        }
        QVERIFY(found);

        // A nickname cleared shows the address; a change that names no
        // avatar keeps the one shown. Times are seconds and always rise.
        QVERIFY(use(m_bob));
        const auto bobProfile = [&]() {
            for (const QJsonObject &profile : ChatStore::instance().normalGroupMemberProfiles(m_groupId))
                if (profile.value(QStringLiteral("memberRawPublicKey")).toString() == m_bob.key())
                    return GroupMemberProfile::fromJson(profile);
            return GroupMemberProfile();
        };
        const GroupMemberProfile beforeClear = bobProfile();
        QCOMPARE(beforeClear.displayName, QStringLiteral("Bobby"));
        QVERIFY(beforeClear.updatedAt <= QDateTime::currentSecsSinceEpoch() + 2);
        QVERIFY(sendMemberProfileUpdate(*m_bob.registry, m_groupId, QStringLiteral("  "), QString()).ok);
        const GroupMemberProfile cleared = bobProfile();
        QCOMPARE(cleared.displayName, m_bob.identity.erc20Address());
        QCOMPARE(cleared.avatarId, QStringLiteral("lottiehead_3"));
        QVERIFY(cleared.updatedAt > beforeClear.updatedAt);
        // A profile is stored before it is sent; one whose fan-out failed is
        // kept and superseded by the next update.
        m_relay.setFault(QStringLiteral("/v1/group/fanout"), Fault::http500());
        QCOMPARE(sendMemberProfileUpdate(*m_bob.registry, m_groupId, QStringLiteral("Lost"), QString()).error,
                 QStringLiteral("fanout_http_500"));
        m_relay.clearFaults();
        QCOMPARE(bobProfile().displayName, QStringLiteral("Lost"));
        QVERIFY(sendMemberProfileUpdate(*m_bob.registry, m_groupId, QStringLiteral("Bobby"), QString()).ok);
        QCOMPARE(receive(m_alice).size(), 2);

        // The owner's next card carries the profile to everyone.
        QVERIFY(renameGroup(*m_alice.registry, m_groupId, QStringLiteral("Summit")).ok);
        bool inCard = false;
        // The card copy must outlive the loop: a range over a member of the
        // temporary would read freed memory.
        const GroupCard renamed = *m_alice.registry->card(m_groupId);
        for (const GroupMemberProfile &profile : renamed.members)
            if (profile.memberRawPublicKey == m_bob.key())
                inCard = profile.displayName == QLatin1String("Bobby");
        QVERIFY(inCard);
        receive(m_dave);
        receive(m_bob);
    }

    void registryReloadsFromEachUsersStore()
    {
        for (User *user : {&m_alice, &m_bob, &m_dave}) {
            QVERIFY(use(*user));
            const GroupCard held = *user->registry->card(m_groupId);
            user->registry = std::make_unique<GroupRegistry>();
            QVERIFY(user->registry->groupIds().isEmpty());
            user->registry->reloadFromStore();
            QCOMPARE(user->registry->groupIds(), QStringList{m_groupId});
            QCOMPARE(user->registry->card(m_groupId)->cardJson, held.cardJson);
            QCOMPARE(user->registry->card(m_groupId)->signature, held.signature);
        }
        // The reloaded key ring still opens the group key: sending works.
        QVERIFY(use(m_dave));
        QVERIFY(sendGroupText(*m_dave.registry, m_groupId, QStringLiteral("after reload")).ok);
        const QList<GroupInboundResult> alice = messagesOf(receive(m_alice));
        QCOMPARE(alice.size(), 1);
        QCOMPARE(alice.first().text, QStringLiteral("after reload"));
        receive(m_bob);
    }

    void visibilityIsPublishedSigned()
    {
        QVERIFY(use(m_alice));
        const GroupCard card = *m_alice.registry->card(m_groupId);
        const QString joinLink = QStringLiteral("pelorin:group:") + card.adminPublicKey;
        QVERIFY(use(m_bob));
        DiscoveryResult found = discover(joinLink);
        QVERIFY2(found.ok, qPrintable(found.error));
        QCOMPARE(found.kind, int(DiscoveryResult::NormalGroup));
        QCOMPARE(found.groupId, m_groupId);
        QCOMPARE(found.groupName, card.name);
        QCOMPARE(found.ownerPublicKey, m_alice.key());
        QCOMPARE(found.memberCount, int(card.memberPublicKeys.size()));

        const QString publicRecord = m_groups->recordText(card.adminPublicKey);
        const QString publicSignature = m_groups->recordSignature(card.adminPublicKey);
        QVERIFY(use(m_alice));
        QVERIFY(setGroupVisibility(*m_alice.registry, m_groupId, false).ok);
        QCOMPARE(m_groups->visibility(card.adminPublicKey), QStringLiteral("private"));
        QVERIFY(use(m_bob));
        QCOMPARE(discover(joinLink).error, QStringLiteral("group_private"));
        // Bob posts the old public record again: it is older, so it is refused.
        const velmor::net::HttpResponse replay = RelayApi::authorizedPost(
            QStringLiteral("/v1/group/registry/register"),
            QJsonObject{{"group_id", m_groupId}, {"join_key", card.adminPublicKey}, {"visibility", "public"},
                        {"record", publicRecord}, {"signature", publicSignature}});
        QCOMPARE(replay.status, 409);
        QCOMPARE(m_groups->visibility(card.adminPublicKey), QStringLiteral("private"));
        // Quick changes in a row all land, the last one last.
        QVERIFY(use(m_alice));
        for (const bool visible : {true, false, true, false})
            QVERIFY(setGroupVisibility(*m_alice.registry, m_groupId, visible).ok);
        QCOMPARE(m_groups->visibility(card.adminPublicKey), QStringLiteral("private"));

        QVERIFY(use(m_alice));
        m_relay.setFault(QStringLiteral("/v1/group/registry/register"), Fault::http500());
        QCOMPARE(setGroupVisibility(*m_alice.registry, m_groupId, true).error, QStringLiteral("group_registry_http_500"));
        m_relay.clearFaults();
        // The choice is kept all the same, and the next card change brings
        // the relay to it.
        QVERIFY(storedVisibility(m_groupId));
        QCOMPARE(m_groups->visibility(card.adminPublicKey), QStringLiteral("private"));
        QVERIFY(renameGroup(*m_alice.registry, m_groupId, card.name).ok);
        QCOMPARE(m_groups->visibility(card.adminPublicKey), QStringLiteral("public"));
        m_relay.setFault(QStringLiteral("/v1/group/registry/visibility"), Fault::http500());
        QCOMPARE(setGroupVisibility(*m_alice.registry, m_groupId, false).error,
                 QStringLiteral("group_registry_http_500"));
        m_relay.clearFaults();
        QVERIFY(!storedVisibility(m_groupId));
        QVERIFY(updateGroupCard(*m_alice.registry, m_groupId, QString()).ok);
        QCOMPARE(m_groups->visibility(card.adminPublicKey), QStringLiteral("private"));
        QVERIFY(setGroupVisibility(*m_alice.registry, m_groupId, true).ok);
        QCOMPARE(m_groups->visibility(card.adminPublicKey), QStringLiteral("public"));

        // A group whose registration never reached the relay gets registered
        // when it is made public; made private, it is published nowhere.
        m_relay.setFault(QStringLiteral("/v1/group/registry/register"), Fault::http500());
        const GroupCreateResult unregistered = createGroup(*m_alice.registry, QStringLiteral("quiet"), {m_bob.key()});
        m_relay.clearFaults();
        QVERIFY2(unregistered.ok, qPrintable(unregistered.error)); // the group works without the directory
        const QString quietKey = m_alice.registry->card(unregistered.groupId)->adminPublicKey;
        QVERIFY(!m_groups->hasRecord(quietKey));
        QVERIFY(setGroupVisibility(*m_alice.registry, unregistered.groupId, false).ok);
        QVERIFY(!m_groups->hasRecord(quietKey));
        QVERIFY(renameGroup(*m_alice.registry, unregistered.groupId, QStringLiteral("still quiet")).ok);
        QVERIFY(!m_groups->hasRecord(quietKey));
        QVERIFY(setGroupVisibility(*m_alice.registry, unregistered.groupId, true).ok);
        QCOMPARE(m_groups->visibility(quietKey), QStringLiteral("public"));
        receive(m_bob);
        receive(m_dave);
    }

    void privateRecordsNameNothing()
    {
        // Hiding a public group replaces its record with one that carries
        // neither name nor size; the join link then resolves to nothing.
        QVERIFY(use(m_alice));
        const GroupCreateResult created =
            createGroup(*m_alice.registry, QStringLiteral("Secret society"), {m_bob.key()});
        QVERIFY2(created.ok, qPrintable(created.error));
        const QString joinKey = m_alice.registry->card(created.groupId)->adminPublicKey;
        QVERIFY(m_groups->recordText(joinKey).contains(QStringLiteral("Secret society")));
        QVERIFY(setGroupVisibility(*m_alice.registry, created.groupId, false).ok);
        const QString hidden = m_groups->recordText(joinKey);
        QVERIFY(!hidden.contains(QStringLiteral("Secret society")));
        QVERIFY(hidden.contains(QStringLiteral("\"memberCount\":0")));
        QVERIFY(renameGroup(*m_alice.registry, created.groupId, QStringLiteral("Still secret")).ok);
        QVERIFY(!m_groups->recordText(joinKey).contains(QStringLiteral("secret")));
        QCOMPARE(m_groups->visibility(joinKey), QStringLiteral("private"));
        receive(m_bob);
    }

    void hiddenGroupStaysHiddenThroughCardChanges()
    {
        QVERIFY(use(m_alice));
        const GroupCreateResult created = createGroup(*m_alice.registry, QStringLiteral("hidden"), {m_bob.key()});
        QVERIFY2(created.ok, qPrintable(created.error));
        const QString joinKey = m_alice.registry->card(created.groupId)->adminPublicKey;
        QCOMPARE(m_groups->visibility(joinKey), QStringLiteral("public"));
        QVERIFY(setGroupVisibility(*m_alice.registry, created.groupId, false).ok);
        // Every card change publishes the record again; it must carry the
        // visibility the owner chose, also after a restart.
        QVERIFY(renameGroup(*m_alice.registry, created.groupId, QStringLiteral("still hidden")).ok);
        QCOMPARE(m_groups->visibility(joinKey), QStringLiteral("private"));
        m_alice.registry->reloadFromStore();
        QVERIFY(updateGroupCard(*m_alice.registry, created.groupId, QStringLiteral("a remark")).ok);
        QCOMPARE(m_groups->visibility(joinKey), QStringLiteral("private"));
        QVERIFY(setGroupVisibility(*m_alice.registry, created.groupId, true).ok);
        QVERIFY(renameGroup(*m_alice.registry, created.groupId, QStringLiteral("shown")).ok);
        QCOMPARE(m_groups->visibility(joinKey), QStringLiteral("public"));
        receive(m_bob);
    }

    void fanOutChecksEveryEnvelopeBeforeQueuing()
    {
        QVERIFY(use(m_alice));
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const auto post = [&](const QList<velmor::identity::Envelope> &envelopes) {
            QJsonArray list;
            for (const velmor::identity::Envelope &envelope : envelopes)
                list.append(RelayApi::envelopeToJson(envelope));
            return RelayApi::authorizedPost(QStringLiteral("/v1/group/fanout"),
                                            QJsonObject{{"group_id", m_groupId}, {"envelopes", list}});
        };
        const velmor::identity::Envelope good =
            velmor::identity::signEnvelope(m_alice.identity, m_bob.key(), QStringLiteral("x"), QStringLiteral("id-1"), now);
        const velmor::identity::Envelope notMine =
            velmor::identity::signEnvelope(m_dave.identity, m_bob.key(), QStringLiteral("x"), QStringLiteral("id-2"), now);
        velmor::identity::Envelope tampered = good;
        tampered.ciphertext = QStringLiteral("y");
        const int queued = m_relay.queueSize(m_bob.key());
        QCOMPARE(post({good, notMine}).status, 403);
        QCOMPARE(post({good, tampered}).status, 400);
        QCOMPARE(post({}).status, 400);
        QCOMPARE(m_relay.queueSize(m_bob.key()), queued);
        QVERIFY(post({good}).success);
        QCOMPARE(m_relay.queueSize(m_bob.key()), queued + 1);
        QVERIFY(use(m_bob));
        RelayApi::ack({QStringLiteral("id-1")});
    }

    void loneOwnerHasNoRecipients()
    {
        QVERIFY(use(m_alice));
        const GroupCreateResult alone = createGroup(*m_alice.registry, QString(), {});
        QVERIFY(alone.ok);
        QCOMPARE(m_alice.registry->card(alone.groupId)->name, QStringLiteral("新群聊"));
        QCOMPARE(m_alice.registry->card(alone.groupId)->memberPublicKeys, QStringList{m_alice.key()});
        QCOMPARE(sendGroupText(*m_alice.registry, alone.groupId, QStringLiteral("echo")).error,
                 QStringLiteral("no_recipients"));
        QCOMPARE(sendGroupText(*m_alice.registry, alone.groupId, QString()).error, QStringLiteral("empty_payload"));
        // Two groups of one owner have different admin (join) keys.
        QVERIFY(m_alice.registry->card(alone.groupId)->adminPublicKey
                != m_alice.registry->card(m_groupId)->adminPublicKey);
    }

    void concurrentOwnerChangesBothLand()
    {
        QVERIFY(use(m_alice));
        const qint64 epoch = m_alice.registry->card(m_groupId)->epoch;
        QSemaphore ready;
        QSemaphore go;
        GroupOpResult first, second;
        std::thread a([&] { ready.release(); go.acquire(); first = renameGroup(*m_alice.registry, m_groupId, "One"); });
        std::thread b([&] { ready.release(); go.acquire(); second = updateGroupCard(*m_alice.registry, m_groupId, "Two"); });
        ready.acquire(2);
        go.release(2);
        a.join();
        b.join();
        QVERIFY2(first.ok, qPrintable(first.error));
        QVERIFY2(second.ok, qPrintable(second.error));
        const GroupCard card = *m_alice.registry->card(m_groupId);
        QCOMPARE(card.epoch, epoch + 2);
        QCOMPARE(card.name, QStringLiteral("One"));
        QCOMPARE(card.remark, QStringLiteral("Two"));
        // Every member takes both cards, in order, and ends where the owner is.
        for (User *user : {&m_bob, &m_dave}) {
            const QList<Received> got = receive(*user);
            QCOMPARE(got.size(), 2);
            for (const Received &item : got)
                QVERIFY2(item.result.error.isEmpty(), qPrintable(item.result.error));
            QCOMPARE(user->registry->card(m_groupId)->cardJson, card.cardJson);
        }
    }

    // Creation stops at the cap like additions do (the owner counted, each
    // key once, also when given again compressed); nothing is signed, stored
    // or sent for a group over it.
    void creationStopsAtTheCap_data()
    {
        QTest::addColumn<int>("others"); // distinct keys besides the owner's
        QTest::addColumn<QString>("error");
        QTest::newRow("19 others: 20") << 19 << QString();
        QTest::newRow("20 others: 21") << 20 << "group_full";
    }
    void creationStopsAtTheCap()
    {
        QFETCH(int, others);
        QFETCH(QString, error);
        QVERIFY(use(m_alice));
        QStringList keys{m_alice.key()};
        for (int i = 0; i < others; ++i) {
            const QString key = grouptest::identityFromByte(char(0x60 + i)).publicKeyText();
            keys << key
                 << velmor::crypto::base64UrlEncode(
                        velmor::crypto::normalisePublicKey(velmor::crypto::base64UrlDecode(key), true));
        }
        const QStringList groupsBefore = m_alice.registry->groupIds();
        const int fanouts = m_groups->fanoutCount();
        const GroupCreateResult created = createGroup(*m_alice.registry, QStringLiteral("Crowd"), keys);
        QCOMPARE(created.error, error);
        if (error.isEmpty()) {
            QCOMPARE(m_alice.registry->card(created.groupId)->memberPublicKeys.size(), kMaxGroupMembers);
            return;
        }
        QVERIFY(created.groupId.isEmpty());
        QCOMPARE(m_alice.registry->groupIds(), groupsBefore);
        QCOMPARE(m_groups->fanoutCount(), fanouts);
    }

    // A card from an older owner's client may list more members than the
    // cap: it is taken and read back as it is, and no addition goes past it.
    void cardAboveTheCapFromAnOlderClientStaysReadable()
    {
        QVERIFY(use(m_alice));
        const GroupCreateResult small = createGroup(*m_alice.registry, QStringLiteral("Crowd"), {m_bob.key()});
        QVERIFY2(small.ok, qPrintable(small.error));
        receive(m_bob);
        QVERIFY(use(m_alice));
        GroupCard card = *m_alice.registry->card(small.groupId);
        for (int i = 0; card.memberPublicKeys.size() < kMaxGroupMembers + 2; ++i) {
            const QString key = grouptest::identityFromByte(char(0x60 + i)).publicKeyText();
            card.memberPublicKeys.append(key);
            card.groupKeyBoxes.insert(key, Ecies::seal(velmor::crypto::base64UrlDecode(key), QByteArray(32, 'k')));
        }
        card.memberPublicKeys.sort();
        card.members.clear();
        for (const QString &key : std::as_const(card.memberPublicKeys)) {
            GroupMemberProfile profile;
            profile.memberRawPublicKey = key;
            card.members.append(profile);
        }
        card.epoch += 1;
        QVERIFY(signGroupCard(card, deriveGroupAdminKey(m_alice.identity.privateKey, card.groupId).seed));
        QVERIFY(m_alice.registry->install(card, m_alice.key()));
        QString error;
        QVERIFY(wire::sendCard(wire::Me{m_alice.identity, m_alice.key()}, card, {m_bob.key()}, &error));
        QCOMPARE(addGroupMembers(*m_alice.registry, small.groupId, {m_carol.key()}).error,
                 QStringLiteral("group_full"));

        QVERIFY(use(m_bob));
        QCOMPARE(grouptest::errorsOf(receive(m_bob)), QStringList{QString()});
        QCOMPARE(m_bob.registry->card(small.groupId)->memberPublicKeys.size(), kMaxGroupMembers + 2);
        GroupRegistry reloaded;
        reloaded.reloadFromStore();
        QCOMPARE(reloaded.card(small.groupId)->memberPublicKeys.size(), kMaxGroupMembers + 2);
    }
};

QTEST_GUILESS_MAIN(GroupEngineTest)
#include "test_engine.moc"
