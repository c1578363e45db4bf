// Super groups at their edges: blocked senders and the read position, message
// types this client does not know, a post under the id of a one-to-one
// text, an open whose information request fails,
// the user's role when the member list says nothing of the user or fails, an
// empty list from the centre, and events that carry no id of their own.
#include "chat_fixture.h"

#include "chat/supergroup_directory.h"
#include "net/supergroup_api.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

using namespace chattest;
using velmor::fakes::Fault;
using velmor::fakes::FakeGroupServer;

namespace {

QJsonObject content(const QString &type, const QString &text = QString())
{
    QJsonObject object{{QStringLiteral("type"), type}};
    if (!text.isEmpty())
        object.insert(QStringLiteral("text"), text);
    return object;
}

} // namespace

class SuperGroupEdgesTest : public QObject, private ChatFixture
{
    Q_OBJECT

    velmor::chat::SuperGroupRuntimeState runtime(const FakeGroupServer &server)
    {
        return m_chat->host().superGroups().runtime(server.baseUrl());
    }

private slots:
    void initTestCase() { QVERIFY(startRelay()); }
    void init() { beginGroups(); }
    void cleanup() { endGroups(); }

    // Messages of a blocked sender are never stored; they count as read only
    // while they follow the read position without a gap.
    void blockedSendersAreReadOnlyWhileContiguous_data()
    {
        QTest::addColumn<QString>("senders"); // per message: b blocked, p another peer
        QTest::addColumn<int>("lastRead");
        QTest::addColumn<int>("storedCount");
        QTest::newRow("only blocked") << "bbb" << 3 << 0;
        QTest::newRow("blocked, then a peer") << "bbp" << 2 << 1;
        QTest::newRow("a gap stops the read position") << "bpbb" << 1 << 1;
        QTest::newRow("a peer first") << "pbb" << 0 << 1;
    }
    void blockedSendersAreReadOnlyWhileContiguous()
    {
        QFETCH(QString, senders);
        QFETCH(int, lastRead);
        QFETCH(int, storedCount);
        FakeGroupServer &server = addServer(QStringLiteral("member"));
        velmor::chat::ContactRecord blocked;
        blocked.wallet_public_key = peerKey(0x62);
        blocked.blocked = 1;
        QVERIFY(ChatStore::instance().upsertContact(blocked));
        startAndConnect();

        for (const QChar sender : senders)
            server.appendMessage(sender == QLatin1Char('b') ? peerKey(0x62) : peerKey(0x63), QStringLiteral("text"),
                                 content(QStringLiteral("text"), QStringLiteral("hi")));
        QSignalSpy notices(m_chat.get(), &ChatController::systemNotificationRequested);
        parts().sync.pull(server.baseUrl());
        waitIdle();

        QCOMPARE(storedOf(server).size(), storedCount);
        for (const auto &message : storedOf(server))
            QCOMPARE(message.sender_raw_public_key, peerKey(0x63));
        QCOMPARE(runtime(server).lastMessageSeq, qint64(senders.size()));
        QCOMPARE(runtime(server).lastReadSeq, qint64(lastRead));
        QCOMPARE(runtime(server).unread, int(senders.size()) - lastRead);
        QCOMPARE(ChatStore::instance().superGroup(server.baseUrl())->unread_count, int(senders.size()) - lastRead);
        QCOMPARE(notices.count(), storedCount > 0 ? 1 : 0);
    }

    // A group server hands on whatever profile it likes with a message: it
    // is kept as that group's member. A contact's row keeps its own name,
    // address and picture; a stranger who speaks gets a row of their own,
    // with the address their key gives, not the one the server claims.
    // The user's own message handed back is sent, in one row, whatever the
    // send wrote of it before or writes after.
    void senderProfilesStayWithTheGroup_data()
    {
        QTest::addColumn<bool>("knownContact");
        QTest::addColumn<bool>("ownMessage");
        QTest::addColumn<int>("sendStored"); // -1: no row of the send before the pull
        QTest::newRow("a contact of the user") << true << false << -1;
        QTest::newRow("a stranger") << false << false << -1;
        QTest::newRow("the user's own message") << false << true << -1;
        QTest::newRow("the user's own message, its send stored failed")
            << false << true << int(velmor::chat::MessageStatus::Failed);
    }
    void senderProfilesStayWithTheGroup()
    {
        QFETCH(bool, knownContact);
        QFETCH(bool, ownMessage);
        QFETCH(int, sendStored);
        FakeGroupServer &server = addServer(QStringLiteral("member"));
        const QString sender = ownMessage ? m_me.identity.publicKeyText() : peerKey(0x62);
        const QString keyAddress =
            velmor::identity::ethereumAddress(velmor::crypto::base64UrlDecode(sender));
        velmor::chat::ContactRecord friendRow;
        friendRow.wallet_public_key = sender;
        friendRow.erc20_address = keyAddress;
        friendRow.remark = QStringLiteral("Mum");
        friendRow.avatar_kind = QStringLiteral("lottie");
        friendRow.avatar_id = QStringLiteral("lottiehead_3");
        if (knownContact)
            QVERIFY(ChatStore::instance().upsertContact(friendRow));
        startAndConnect();

        QJsonObject forged = content(QStringLiteral("text"), QStringLiteral("new number, text me"));
        forged.insert(QStringLiteral("senderAvatarKind"), QStringLiteral("image"));
        forged.insert(QStringLiteral("senderAvatarId"), QStringLiteral("https://tracker.example/p.png"));
        forged.insert(QStringLiteral("senderDisplayName"), QStringLiteral("Mum"));
        velmor::chat::MessageRecord send;
        send.id = QStringLiteral("m-1");
        send.conversation_id = send.peer_raw_public_key = velmor::chat::SuperGroupDirectory::peerFor(server.baseUrl());
        send.sender_raw_public_key = sender;
        send.text = forged.value(QStringLiteral("text")).toString();
        send.is_outgoing = true;
        send.status = velmor::chat::MessageStatus(sendStored);
        if (sendStored >= 0)
            QVERIFY(ChatStore::instance().upsertMessageWithEnvelope(send, QStringLiteral("{}")));
        server.appendMessage(sender, QStringLiteral("text"), forged, false, QString(), send.id);
        parts().sync.pull(server.baseUrl());
        waitIdle();

        QCOMPARE(storedOf(server).size(), 1);
        const auto stored = storedOf(server).first();
        QCOMPARE(stored.status, ownMessage ? velmor::chat::MessageStatus::Sent : velmor::chat::MessageStatus::Received);
        if (ownMessage) {
            QVERIFY(ChatStore::instance().outgoingEnvelope(send.id).isEmpty());
            // The send's late writes: its row as first kept, a failed answer.
            send.status = velmor::chat::MessageStatus::Sending;
            QVERIFY(ChatStore::instance().upsertMessage(send));
            QVERIFY(ChatStore::instance().setMessageStatus(send.id, velmor::chat::MessageStatus::Failed));
            QCOMPARE(ChatStore::instance().messageById(send.id)->status, velmor::chat::MessageStatus::Sent);
            QCOMPARE(storedOf(server).size(), 1);
        }
        const auto contact = ChatStore::instance().contact(sender);
        QCOMPARE(contact.has_value(), !ownMessage);
        if (knownContact) {
            QCOMPARE(contact->avatar_id, friendRow.avatar_id);
            QCOMPARE(contact->avatar_kind, friendRow.avatar_kind);
            QCOMPARE(contact->remark, friendRow.remark);
            QCOMPARE(contact->erc20_address, friendRow.erc20_address);
        } else if (contact) {
            QCOMPARE(contact->erc20_address, keyAddress);
            QVERIFY(contact->remark.isEmpty());
            QCOMPARE(contact->blocked, 0);
        }
        bool member = false;
        for (const auto &row : ChatStore::instance().superGroupMembers(server.baseUrl()))
            member = member || (row.public_key == sender
                                && row.avatar_id == QLatin1String("https://tracker.example/p.png"));
        // (A message stored before is not taken in again, its profile neither.)
        QCOMPARE(member, sendStored < 0);
    }

    // A type this client does not know is shown by its name rather than lost.
    void messageTypesAreShownByTheirText_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown"); // empty: not stored
        QTest::newRow("unknown type without text") << "poll" << "" << "[poll]";
        QTest::newRow("unknown type with text") << "poll" << "Lunch at one?" << "Lunch at one?";
        QTest::newRow("emoji without text") << "emoji" << "" << "[表情]";
        QTest::newRow("site with text") << "site" << "https://example.org" << "[链接]";
        QTest::newRow("empty text") << "text" << "" << "";
    }
    void messageTypesAreShownByTheirText()
    {
        QFETCH(QString, type);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        FakeGroupServer &server = addServer(QStringLiteral("member"));
        startAndConnect();
        server.appendMessage(peerKey(0x63), type, content(type, text));
        server.appendMessage(peerKey(0x63), QStringLiteral("text"), content(QStringLiteral("text"), QStringLiteral("next")));
        parts().sync.pull(server.baseUrl());
        waitIdle();

        QStringList texts;
        for (const auto &message : storedOf(server))
            texts << message.text;
        const QStringList expected = shown.isEmpty() ? QStringList{"next"} : QStringList{shown, "next"};
        QCOMPARE(texts, expected);
        if (!shown.isEmpty())
            QCOMPARE(ChatStore::instance().messageById(server.messages().first().messageId)->content_type, type);
        // Skipped or not, the message is behind the cursor.
        QCOMPARE(runtime(server).lastMessageSeq, qint64(2));
    }

    // A post under the id of a stored one-to-one text, and a text under the
    // id of a stored post: each is kept in its own conversation, the cursor
    // passes the posts once they are stored, and the relay keeps nothing.
    void oneIdInAGroupAndAOneToOneChat()
    {
        QVERIFY(signIn(m_me, m_relay.baseUrl(), m_center->baseUrl()));
        FakeGroupServer &server = addServer(QStringLiteral("member"));
        startAndConnect();
        const User alice = makeUser(QStringLiteral("alice-ids"), 0x70);
        const QString textFirst = queueText(alice, m_me, QStringLiteral("to me 1"));
        pullAndSettle(*m_chat);
        const QString postFirst = newId();
        for (const QString &id : {textFirst, postFirst})
            server.appendMessage(alice.key(), QStringLiteral("text"), content(QStringLiteral("text"), id), false, {}, id);
        parts().sync.pull(server.baseUrl());
        waitIdle();
        queueText(alice, m_me, QStringLiteral("to me 2"), postFirst);
        pullAndSettle(*m_chat);

        const QString direct = ChatStore::instance().conversationIdFor(alice.key());
        QStringList texts;
        for (const auto &message : storedOf(server) + ChatStore::instance().messages(direct))
            texts << message.text;
        QCOMPARE(texts, (QStringList{textFirst, postFirst, "to me 1", "to me 2"}));
        QVERIFY(m_relay.queuedIds(m_me.key()).isEmpty());
        QCOMPARE(runtime(server).lastMessageSeq, qint64(2));
    }

    // A server that reports no name keeps the stored one, in the store as
    // well as on screen, so the next start still shows it (by the cold sync
    // of the information and by an open alike).
    void anEmptyServerNameKeepsTheStoredName_data()
    {
        QTest::addColumn<bool>("byOpen");
        QTest::newRow("information sync") << false;
        QTest::newRow("open") << true;
    }
    void anEmptyServerNameKeepsTheStoredName()
    {
        QFETCH(bool, byOpen);
        FakeGroupServer &server = addServer(QStringLiteral("member"), QString());
        startAndConnect();
        const QString url = server.baseUrl();
        velmor::chat::SuperGroupRecord row = *ChatStore::instance().superGroup(url);
        row.name = QStringLiteral("Harbour");
        QVERIFY(ChatStore::instance().upsertSuperGroup(row));
        m_chat->stop();
        m_chat->start();
        waitIdle();

        if (byOpen)
            m_chat->openConversation(QStringLiteral("sg:") + url);
        else
            parts().sync.refreshInfo(url);
        waitIdle();
        QCOMPARE(ChatStore::instance().superGroup(url)->name, QStringLiteral("Harbour"));
        QCOMPARE(runtime(server).name, QStringLiteral("Harbour"));
        m_chat->stop();
        m_chat->start();
        waitIdle();
        QCOMPARE(runtime(server).name, QStringLiteral("Harbour"));
    }

    // The information request of an open fails: the title stays, and the
    // history still comes in and is marked read.
    void anOpenWhoseInformationFailsStillPulls()
    {
        FakeGroupServer &server = addServer(QStringLiteral("member"), QStringLiteral("Harbour"));
        for (int i = 0; i < 3; ++i)
            server.appendMessage(peerKey(0x63), QStringLiteral("text"), content(QStringLiteral("text"), QString::number(i)));
        m_chat->start();
        waitIdle();
        server.http().setFault(QStringLiteral("/v1/group/info"), Fault::http500());
        server.http().resetCounts();

        m_chat->openConversation(QStringLiteral("sg:") + server.baseUrl());
        QTRY_COMPARE(m_chat->messages().size(), 3);
        waitIdle();
        // Asked once by the open; once more when the group's socket opens
        // only now (a loaded machine) and learns the user's role. A failed
        // answer is never asked for again on its own.
        const int infoAsked = server.http().requestCount(QStringLiteral("/v1/group/info"));
        QVERIFY2(infoAsked >= 1 && infoAsked <= 2, qPrintable(QString::number(infoAsked)));
        QCOMPARE(m_chat->currentTitle(), QStringLiteral("Harbour"));
        QCOMPARE(runtime(server).name, QStringLiteral("Harbour"));
        QCOMPARE(server.member(m_me.key()).lastReadSeq, 3);
        QCOMPARE(runtime(server).unread, 0);
    }

    // The role the member list gives is stored, wherever the list holds the
    // user (past the members kept too); a list without the user leaves no
    // role; a list that cannot be had says nothing about the role, so the
    // known one stays (a network hiccup must not demote anybody). The
    // settings' load reads the role the same way.
    void theRoleFollowsTheMemberList_data()
    {
        QTest::addColumn<int>("answer"); // 0 the server's list, 1 a list without the user, 2 a failure,
                                         // 3 the user listed after velmor::sg::kMaxMembers others
        QTest::addColumn<bool>("settings"); // read by opening the group's settings, not a role refresh
        QTest::addColumn<QString>("role");
        QTest::newRow("listed as admin") << 0 << false << "admin";
        QTest::newRow("not listed") << 1 << false << "";
        QTest::newRow("list refused") << 2 << false << "member";
        QTest::newRow("listed as admin past the members kept") << 3 << false << "admin";
        QTest::newRow("settings: listed as admin") << 0 << true << "admin";
        QTest::newRow("settings: listed as admin past the members kept") << 3 << true << "admin";
    }
    void theRoleFollowsTheMemberList()
    {
        QFETCH(int, answer);
        QFETCH(bool, settings);
        QFETCH(QString, role);
        FakeGroupServer &server = addServer(QStringLiteral("admin"));
        startAndConnect();
        const QString url = server.baseUrl();
        velmor::chat::SuperGroupRecord row = *ChatStore::instance().superGroup(url);
        row.role = QStringLiteral("member");
        QVERIFY(ChatStore::instance().upsertSuperGroup(row));

        if (answer == 3) {
            QByteArray body = "{\"members\":[";
            for (int i = 0; i < velmor::sg::kMaxMembers; ++i)
                body += "{\"pubkey\":\"k" + QByteArray::number(i) + "\",\"role\":\"member\"},";
            body += "{\"pubkey\":\"" + m_me.key().toUtf8() + "\",\"role\":\"admin\",\"display_name\":\"Me\"}]}";
            server.http().setFault(QStringLiteral("/v1/members"), Fault::custom(200, body));
        } else if (answer == 1) {
            const QJsonObject owner{{QStringLiteral("pubkey"), peerKey(0x61)}, {QStringLiteral("role"), QStringLiteral("owner")}};
            server.http().setFault(QStringLiteral("/v1/members"),
                                   Fault::custom(200, QJsonDocument(QJsonObject{{QStringLiteral("members"),
                                                                                 QJsonArray{owner}}})
                                                          .toJson(QJsonDocument::Compact)));
        } else if (answer == 2) {
            server.http().setFault(QStringLiteral("/v1/members"), Fault::http500());
        }
        if (settings) {
            m_chat->openConversation(QStringLiteral("sg:") + url);
            waitIdle();
            QSignalSpy loaded(m_chat.get(), &ChatController::superGroupInfoLoaded);
            m_chat->loadSuperGroupInfo();
            QVERIFY(loaded.wait(15000));
            waitIdle();
            const QVariantMap info = loaded.last().at(0).toMap();
            QCOMPARE(info.value(QStringLiteral("myRole")).toString(), role);
            QCOMPARE(info.value(QStringLiteral("isManager")).toBool(), true);
            // A list cut at the bound says so, and still holds the user's row.
            QCOMPARE(info.value(QStringLiteral("membersPartial")).toBool(), answer == 3);
            const QVariantList members = info.value(QStringLiteral("members")).toList();
            QCOMPARE(members.size(), answer == 3 ? velmor::sg::kMaxMembers + 1 : 2);
            int mine = 0;
            for (const QVariant &member : members)
                mine += member.toMap().value(QStringLiteral("isMe")).toBool() ? 1 : 0;
            QCOMPARE(mine, 1);
            QCOMPARE(ChatStore::instance().superGroup(url)->role, role);
            return;
        }
        QSignalSpy changed(m_chat.get(), &ChatController::currentChanged);
        parts().sync.refreshAuthorization(url);
        waitIdle();
        QCOMPARE(ChatStore::instance().superGroup(url)->role, role);
        QCOMPARE(changed.isEmpty(), answer == 2);
    }

    // An empty list from the centre stops every realtime client and keeps
    // every stored group; a reply that is no list at all changes nothing.
    void theCentresListDecidesTheClients_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("understood");
        QTest::newRow("no groups") << QByteArray(R"({"groups": []})") << true;
        QTest::newRow("no list") << QByteArray(R"({"items": []})") << false;
        QTest::newRow("not JSON") << QByteArray("<html>") << false;
    }
    void theCentresListDecidesTheClients()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, understood);
        FakeGroupServer &first = addServer(QStringLiteral("member"), QStringLiteral("First"));
        FakeGroupServer &second = addServer(QStringLiteral("owner"), QStringLiteral("Second"));
        first.appendMessage(peerKey(0x63), QStringLiteral("text"), content(QStringLiteral("text"), QStringLiteral("kept")));
        startAndConnect();
        QCOMPARE(parts().roster.clientUrls().size(), 2);
        QTRY_COMPARE(storedOf(first).size(), 1);

        m_center->http().setFault(QStringLiteral("/v1/my/groups"), Fault::custom(200, reply));
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        m_chat->refreshSuperGroups();
        QTRY_COMPARE(parts().roster.refreshesPending(), 0);
        waitIdle();

        QCOMPARE(failed.count(), understood ? 0 : 1);
        QCOMPARE(parts().roster.clientUrls().size(), understood ? 0 : 2);
        QCOMPARE(peersOf(m_chat->conversations()).size(), understood ? 0 : 2);
        if (understood) {
            QTRY_COMPARE(first.socketCount(), 0);
            QTRY_COMPARE(second.socketCount(), 0);
        }
        QVERIFY(ChatStore::instance().superGroup(first.baseUrl()));
        QVERIFY(ChatStore::instance().superGroup(second.baseUrl()));
        QCOMPARE(storedOf(first).size(), 1);
    }

    // An event without an id of its own is recorded under one made of its
    // data, so the same event delivered twice stays one row.
    void eventsWithoutAnIdAreRecordedOnce_data()
    {
        QTest::addColumn<QJsonObject>("ids");
        QTest::addColumn<QJsonValue>("createdAt");
        QTest::addColumn<QString>("suffix"); // after "event:member_role:<url>:"
        const QString other = peerKey(0x63);
        QTest::newRow("event_id") << QJsonObject{{"event_id", "e-9"}, {"id", "x"}} << QJsonValue(1700000000) << "e-9";
        QTest::newRow("id") << QJsonObject{{"id", "r-4"}} << QJsonValue(1700000000) << "r-4";
        QTest::newRow("seq") << QJsonObject{{"seq", 17}} << QJsonValue(1700000000) << "17";
        QTest::newRow("none") << QJsonObject{} << QJsonValue(1700000000) << other + ":admin:1700000000";
        QTest::newRow("none, time as text") << QJsonObject{} << QJsonValue("1700000005") << other + ":admin:1700000005";
    }
    void eventsWithoutAnIdAreRecordedOnce()
    {
        QFETCH(QJsonObject, ids);
        QFETCH(QJsonValue, createdAt);
        QFETCH(QString, suffix);
        FakeGroupServer &server = addServer(QStringLiteral("member"));
        startAndConnect();
        const QString url = server.baseUrl();

        QJsonObject event = ids;
        event.insert(QStringLiteral("type"), QStringLiteral("server.member.role"));
        event.insert(QStringLiteral("data"), QJsonObject{{QStringLiteral("pubkey"), peerKey(0x63)},
                                                         {QStringLiteral("role"), QStringLiteral("admin")},
                                                         {QStringLiteral("created_at"), createdAt}});
        QSignalSpy events(m_chat.get(), &ChatController::superGroupEvent);
        const QString text = QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact));
        server.sendRaw(text);
        server.sendRaw(text);
        // A marker after both: once it is in, so are they.
        server.pushEvent(QStringLiteral("server.voice.grant"), QJsonObject{});
        QTRY_VERIFY(!events.isEmpty() && events.last().at(1).toString() == QLatin1String("server.voice.grant"));

        QStringList recorded;
        for (const auto &row : ChatStore::instance().notificationEvents(true))
            if (row.event_type == QLatin1String("member_role"))
                recorded << row.stable_id;
        QCOMPARE(recorded, QStringList{QStringLiteral("event:member_role:%1:%2").arg(url, suffix)});
        waitIdle();
    }
};

QTEST_GUILESS_MAIN(SuperGroupEdgesTest)
#include "test_supergroup_edges.moc"
