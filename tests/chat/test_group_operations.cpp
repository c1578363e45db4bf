// Normal groups run from the Chat object by several users through the local
// relay: every change the owner or a member makes reaches every member, a
// removed member reads nothing new, leaving forgets the group and its
// messages, and arguments that cannot work are refused before anything runs.
#include "chat_fixture.h"

#include "chat/directory_parts.h"
#include "groups/discovery.h"
#include "groups/group_card.h"
#include "groups/group_engine.h"
#include "net/relay_api.h"
#include "support/fake_relay.h"
#include "support/fake_relay_groups.h"

#include <QtTest>

using namespace chattest;
using namespace velmor::chat;

class GroupOperationsTest : public QObject, private ChatFixture
{
    Q_OBJECT

private:
    static QStringList receive() { return receiveGroupTraffic(); }

    // Waits for the one end of an operation; its arguments.
    QVariantList finish(QSignalSpy &finished)
    {
        if (finished.isEmpty() && !finished.wait(15000))
            return {};
        // The list and the store calls of the continuation are done too.
        waitIdle();
        return finished.takeFirst();
    }

    GroupCard cardOf(const QString &groupId)
    {
        const auto card = GroupRegistry::instance().card(groupId);
        return card ? *card : GroupCard();
    }

    QString createAsAlice(const QString &name, const QList<User> &members)
    {
        as(m_alice);
        QVariantList keys;
        for (const User &member : members)
            keys.append(member.key());
        QSignalSpy finished(m_chat.get(), &ChatController::groupOperationFinished);
        if (!m_chat->createGroupFromContacts(name, keys))
            return {};
        const QVariantList done = finish(finished);
        if (done.size() != 4 || !done.at(2).toBool())
            return {};
        return done.at(1).toString();
    }

private slots:
    void initTestCase() { QVERIFY(startRelayWithUsers(0x41)); }
    void cleanup() { m_chat.reset(); }
    void cleanupTestCase() { stopRelay(); }

    void memberKeysAreReadAsTyped()
    {
        const QString a = m_bob.key(), b = compressedKey(m_carol.key());
        QCOMPARE(GroupOperations::keysFromText(a + ",\n " + b + "  ,, nonsense\t" + a + " AAAA"),
                 (QStringList{a, b, a}));
        QCOMPARE(GroupOperations::keysFromList({" " + a + " ", b, a, "AAAA", 42}), (QStringList{a, b}));
        QVERIFY(GroupOperations::keysFromText(" , \n").isEmpty());
    }

    void refusedBeforeAnythingRuns_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<int>("keys");
        QTest::addColumn<QString>("word");
        QTest::newRow("blank name") << "fromContacts:  " << 1 << "empty_name";
        QTest::newRow("blank name, too many") << "fromContacts: " << 25 << "empty_name";
        QTest::newRow("twenty picked") << "fromContacts:Big" << 20 << "group_full";
        QTest::newRow("no key to add") << "add:nonsense, AAAA" << 0 << "invalid_members";
        QTest::newRow("no key picked to add") << "addFromContacts:" << 0 << "invalid_members";
    }
    void refusedBeforeAnythingRuns()
    {
        QFETCH(QString, call);
        QFETCH(int, keys);
        QFETCH(QString, word);
        as(m_alice);
        QVariantList picked;
        for (int i = 0; i < keys; ++i)
            picked.append(peerKey(char(0x60 + i)));
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        const int jobs = m_chat->pendingJobs();
        const QString verb = call.section(':', 0, 0), arg = call.section(':', 1);
        bool ok = true;
        if (verb == "fromContacts")
            ok = m_chat->createGroupFromContacts(arg, picked);
        else if (verb == "add")
            ok = m_chat->addGroupMembers(QStringLiteral("00112233445566778899aabbccddeeff"), arg);
        else
            ok = m_chat->addGroupMembersFromContacts(QStringLiteral("00112233445566778899aabbccddeeff"), picked);
        QVERIFY(!ok);
        QCOMPARE(m_chat->pendingJobs(), jobs);
        QCOMPARE(failed.count(), 1);
        QVERIFY(failed.first().first().toMap().value("detail").toString().contains(word));
    }

    void nineteenPickedMakeAGroupOfTwenty()
    {
        QVariantList picked;
        for (int i = 0; i < 19; ++i)
            picked.append(peerKey(char(0x60 + i)));
        picked.append(picked.first()); // picked twice counts once
        as(m_alice);
        QSignalSpy finished(m_chat.get(), &ChatController::groupOperationFinished);
        QVERIFY(m_chat->createGroupFromContacts(QStringLiteral("Twenty"), picked));
        const QVariantList done = finish(finished);
        QCOMPARE(done.at(2).toBool(), true);
        QCOMPARE(cardOf(done.at(1).toString()).memberPublicKeys.size(), 20);
    }

    // Typed keys are not counted by the views: the engine refuses the group.
    void typedKeysStopAtTheCap()
    {
        QStringList typed;
        for (int i = 0; i < 20; ++i)
            typed.append(peerKey(char(0x60 + i)));
        as(m_alice);
        const int groups = int(GroupRegistry::instance().groupIds().size());
        QSignalSpy finished(m_chat.get(), &ChatController::groupOperationFinished);
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        m_chat->createGroup(QStringLiteral("Crowd"), typed.join(QStringLiteral(",")));
        const QVariantList done = finish(finished);
        QCOMPARE(done.size(), 4);
        QCOMPARE(done.at(2).toBool(), false);
        QCOMPARE(done.at(3).toString(), QStringLiteral("group_full"));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(int(GroupRegistry::instance().groupIds().size()), groups);
    }

    void everyChangeReachesEveryMember()
    {
        // Created with an empty name: the default one.
        as(m_alice);
        QSignalSpy finished(m_chat.get(), &ChatController::groupOperationFinished);
        const qsizetype before = m_chat->conversations().size();
        QVERIFY(m_chat->createGroup(QString(), m_bob.key() + "," + compressedKey(m_carol.key())));
        // The window goes on while the card is made and sent.
        QCOMPARE(m_chat->conversations().size(), before);
        QVERIFY(m_chat->currentPeer().isEmpty());
        QVariantList done = finish(finished);
        QCOMPARE(done.mid(0, 1), QVariantList{"create"});
        QVERIFY(done.at(2).toBool());
        const QString groupId = done.at(1).toString();
        const QString peer = "group:" + groupId;
        QCOMPARE(m_chat->currentPeer(), peer);
        QCOMPARE(cardOf(groupId).name, QStringLiteral("新群聊"));
        QCOMPARE(m_chat->conversations().first().toMap().value("peer").toString(), peer);

        // Alice adds Dave, renames the group, gives it a remark.
        auto run = [&](const std::function<bool()> &call, const QString &operation) {
            QVERIFY(call());
            const QVariantList end = finish(finished);
            QCOMPARE(end, (QVariantList{operation, groupId, true, QString()}));
        };
        run([&] { return m_chat->addGroupMembers(groupId, m_dave.key()); }, "add");
        run([&] { return m_chat->renameGroup(groupId, QStringLiteral("Peaks")); }, "rename");
        QCOMPARE(m_chat->conversations().first().toMap().value("display").toString(), QStringLiteral("Peaks"));
        // The open chat's header follows the rename.
        QCOMPARE(m_chat->currentTitle(), QStringLiteral("Peaks"));
        run([&] { return m_chat->updateGroupRemark(groupId, QStringLiteral("  Be kind ")); }, "remark");
        const qint64 epoch = cardOf(groupId).epoch;

        // Every member holds the owner's last card.
        for (const User *member : {&m_bob, &m_carol, &m_dave}) {
            as(*member);
            receive();
            const GroupCard card = cardOf(groupId);
            QCOMPARE(card.epoch, epoch);
            QCOMPARE(card.name, QStringLiteral("Peaks"));
            QCOMPARE(card.remark, QStringLiteral("Be kind"));
            QCOMPARE(card.memberPublicKeys.size(), 4);
        }

        // Bob names himself; the others see it.
        as(m_bob);
        QSignalSpy bobFinished(m_chat.get(), &ChatController::groupOperationFinished);
        QVERIFY(m_chat->updateGroupNickname(groupId, QStringLiteral(" Bobcat ")));
        QCOMPARE(finish(bobFinished), (QVariantList{"nickname", groupId, true, QString()}));
        QCOMPARE(ChatStore::instance().normalGroupCards().first().my_nickname, QStringLiteral("Bobcat"));
        for (const User *member : {&m_alice, &m_carol, &m_dave}) {
            as(*member);
            receive();
            m_chat->openConversation(peer);
            const QVariantList members = m_chat->currentGroupInfo().value("members").toList();
            const auto bob = std::find_if(members.begin(), members.end(), [&](const QVariant &m) {
                return m.toMap().value("pubkey").toString() == m_bob.key();
            });
            QVERIFY(bob != members.end());
            QCOMPARE(bob->toMap().value("name").toString(), QStringLiteral("Bobcat"));
        }

        // Alice removes Carol and writes again: Carol reads nothing of it.
        as(m_alice);
        QSignalSpy aliceFinished(m_chat.get(), &ChatController::groupOperationFinished);
        QVERIFY(m_chat->removeGroupMember(groupId, m_carol.key()));
        QCOMPARE(finish(aliceFinished), (QVariantList{"remove", groupId, true, QString()}));
        QVERIFY(sendGroupText(GroupRegistry::instance(), groupId, QStringLiteral("carol cannot read this")).ok);
        as(m_carol);
        QVERIFY(!groupTexts(groupId).contains(QStringLiteral("carol cannot read this")));
        as(m_dave);
        QVERIFY(groupTexts(groupId).contains(QStringLiteral("carol cannot read this")));
        QVERIFY(!cardOf(groupId).hasMember(m_carol.key()));

        // Hidden from discovery, then shown again.
        as(m_alice);
        QSignalSpy shown(m_chat.get(), &ChatController::groupOperationFinished);
        QVERIFY(m_chat->setGroupVisibility(groupId, false));
        QCOMPARE(finish(shown), (QVariantList{"visibility", groupId, true, QString()}));
        m_chat->openConversation(peer);
        QCOMPARE(m_chat->currentGroupInfo().value("visible").toBool(), false);
        const QString link = QStringLiteral("pelorin:group:") + cardOf(groupId).joinKey();
        as(m_carol);
        QCOMPARE(discover(link).error, QStringLiteral("group_private"));
        as(m_alice);
        QSignalSpy hidden(m_chat.get(), &ChatController::groupOperationFinished);
        QVERIFY(m_chat->setGroupVisibility(groupId, true));
        QCOMPARE(finish(hidden).value(2).toBool(), true);
        as(m_carol);
        const DiscoveryResult found = discover(link);
        QVERIFY2(found.ok, qPrintable(found.error));
        QCOMPARE(found.groupName, QStringLiteral("Peaks"));
        QCOMPARE(found.memberCount, 3);
    }

    void aFailedOperationSaysWhy()
    {
        const QString groupId = createAsAlice(QStringLiteral("Small"), {m_bob});
        QVERIFY(!groupId.isEmpty());
        as(m_bob);
        receive();
        QSignalSpy finished(m_chat.get(), &ChatController::groupOperationFinished);
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        // Only the owner renames.
        QVERIFY(m_chat->renameGroup(groupId, QStringLiteral("Mine")));
        const QVariantList done = finish(finished);
        QCOMPARE(done.at(2).toBool(), false);
        QCOMPARE(done.at(3).toString(), QStringLiteral("not_owner"));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(cardOf(groupId).name, QStringLiteral("Small"));
    }

    void groupInformation()
    {
        const QString groupId = createAsAlice(QStringLiteral("Info"), {m_bob});
        QVERIFY(!groupId.isEmpty());
        ContactRecord contact;
        for (const User *user : {&m_bob, &m_carol, &m_dave}) {
            contact.wallet_public_key = user->key();
            contact.erc20_address = user->address();
            contact.remark = user == &m_carol ? QStringLiteral(" Caz ") : QString();
            contact.blocked = user == &m_dave ? 1 : 0;
            QVERIFY(ChatStore::instance().upsertContact(contact));
        }
        m_chat->openConversation(m_bob.key());
        QCOMPARE(m_chat->currentGroupInfo(), (QVariantMap{{"isGroup", false}}));
        m_chat->openConversation("group:" + groupId);
        const QVariantMap info = m_chat->currentGroupInfo();
        QCOMPARE(info.value("isGroup").toBool(), true);
        QCOMPARE(info.value("isOwner").toBool(), true);
        QCOMPARE(info.value("name").toString(), QStringLiteral("Info"));
        QCOMPARE(info.value("visible").toBool(), true);
        QCOMPARE(info.value("memberCount").toLongLong(), 2);
        QCOMPARE(info.value("joinAddress").toString(), "pelorin:group:" + cardOf(groupId).joinKey());
        for (const QVariant &m : info.value("members").toList()) {
            const QVariantMap member = m.toMap();
            const QString address = member.value("address").toString();
            QCOMPARE(member.value("isMe").toBool(), member.value("pubkey").toString() == m_alice.key());
            if (member.value("pubkey").toString() == m_bob.key()) {
                // No name of his own: his shortened address.
                QCOMPARE(member.value("name").toString(), address.left(6) + "..." + address.right(6));
                QCOMPARE(member.value("isOwner").toBool(), false);
            }
        }
        // Only Carol can be added: Bob is a member, Dave blocked.
        const QVariantList candidates = info.value("addCandidates").toList();
        QCOMPARE(candidates.size(), 1);
        QCOMPARE(candidates.first().toMap().value("display").toString(), QStringLiteral("Caz"));
        // Muting is local and kept with the other settings.
        m_chat->setGroupMuted(groupId, true);
        QCOMPARE(m_chat->currentGroupInfo().value("muted").toBool(), true);
        QCOMPARE(m_chat->currentGroupInfo().value("visible").toBool(), true);
        m_chat->setGroupMuted(QStringLiteral("00112233445566778899aabbccddeeff"), true);
        QVERIFY(!ChatStore::instance().conversationByPeer("group:00112233445566778899aabbccddeeff"));
    }

    void leavingForgetsTheGroupAndItsMessages()
    {
        const QString groupId = createAsAlice(QStringLiteral("Gone soon"), {m_bob});
        QVERIFY(!groupId.isEmpty());
        const QString other = createAsAlice(QStringLiteral("Stays"), {m_bob});
        as(m_bob);
        receive();
        const QString peer = "group:" + groupId;
        QVERIFY(ChatStore::instance().upsertMessage(message("m-1", peer, "hello", 100)));
        QCOMPARE(ChatStore::instance().messages(peer).size(), 1);
        openAndShow(peer);
        QCOMPARE(m_chat->messages().size(), 1);

        QSignalSpy finished(m_chat.get(), &ChatController::groupOperationFinished);
        m_chat->leaveOrDeleteGroup(groupId);
        QCOMPARE(finish(finished), (QVariantList{"leave", groupId, true, QString()}));
        QVERIFY(m_chat->currentPeer().isEmpty());
        QVERIFY(m_chat->messages().isEmpty());
        QVERIFY(ChatStore::instance().messages(peer).isEmpty());
        QVERIFY(!ChatStore::instance().conversationByPeer(peer));
        QVERIFY(!GroupRegistry::instance().contains(groupId));
        QVERIFY(GroupRegistry::instance().contains(other));
        // A restart does not bring it back.
        as(m_bob);
        QVERIFY(!GroupRegistry::instance().contains(groupId));
        const QStringList peers = peersOf(m_chat->conversations());
        QVERIFY(!peers.contains(peer));
        QVERIFY(peers.contains("group:" + other));
    }
};

QTEST_GUILESS_MAIN(GroupOperationsTest)
#include "test_group_operations.moc"
