// The message and conversation lists built from a real store: payload and
// system-line rules per conversation kind, statuses, previews, the marks of
// the fixed accounts, blocked and muted rows, super-group rows with their
// runtime state, and an order that never swaps rows of equal time.
#include "chat_fixture.h"

#include "chat/payloads.h"
#include "chat/peer_keys.h"
#include "chat/supergroup_directory.h"
#include "identity/content.h"

#include <QtTest>

using namespace chattest;
using namespace velmor::chat;

class ListsTest : public QObject, private ChatFixture
{
    Q_OBJECT

private slots:
    void init() { beginSession(QStringLiteral("me"), 0x51); }
    void cleanup() { endSession(); }

    void noOpenConversationGivesAnEmptyList()
    {
        QSignalSpy changed(m_chat.get(), &ChatController::messagesChanged);
        m_chat->reloadMessages();
        QCOMPARE(changed.count(), 1);
        QVERIFY(m_chat->messages().isEmpty());
    }

    void messageMapsFollowTheStoredRows()
    {
        ChatStore &store = ChatStore::instance();
        const QString peer = peerKey(0x52);
        store.ensureDirectConversation(peer, peer, QStringLiteral("p"));
        const QString id = store.conversationIdFor(peer);
        MessageRecord plain = message("a", id, "plain", 10);
        plain.content_type.clear();
        MessageRecord odd = message("b", id, "odd status", 10, true);
        odd.status = MessageStatus(7);
        MessageRecord image = message("c", id, "[图片]", 11);
        image.content_type = QStringLiteral("image");
        image.attachment = QStringLiteral(R"({"kind":"image","b64":"***","mime":"image/png","w":2,"h":2})");
        MessageRecord marker = message("d", id, "__sg_system__:not here", 12);
        marker.sender_display_name = QStringLiteral("Kim");
        marker.sender_address = QStringLiteral("0x1");
        marker.sender_avatar_kind = QStringLiteral("lottie");
        marker.sender_avatar_id = QStringLiteral("lottiehead_1");
        marker.system_event_type = QStringLiteral("none");
        for (const MessageRecord &m : {plain, odd, image, marker})
            QVERIFY(store.upsertMessage(m));

        openAndShow(peer);
        const QVariantList rows = m_chat->messages();
        QCOMPARE(rows.size(), 4);
        // Equal times keep the store's order.
        QCOMPARE(rows.at(0).toMap().value("id").toString(), QStringLiteral("a"));
        QCOMPARE(rows.at(1).toMap().value("id").toString(), QStringLiteral("b"));
        QCOMPARE(rows.at(0).toMap().value("kind").toString(), QStringLiteral("text"));
        QCOMPARE(rows.at(0).toMap().value("status").toInt(), 4);
        // The store reads a status it does not know as failed; the list
        // shows any value outside 0..4 that reaches it as sending.
        QCOMPARE(rows.at(1).toMap().value("status").toInt(), 2);
        QCOMPARE(MessageList::messageMap(odd, false).value("status").toInt(), 0);
        QCOMPARE(rows.at(1).toMap().value("outgoing").toBool(), true);
        QCOMPARE(rows.at(2).toMap().value("kind").toString(), QStringLiteral("image"));
        QVERIFY(!rows.at(2).toMap().contains("imageSrc"));
        const QVariantMap last = rows.at(3).toMap();
        QCOMPARE(last.value("kind").toString(), QStringLiteral("text"));
        QCOMPARE(last.value("text").toString(), QStringLiteral("__sg_system__:not here"));
        QCOMPARE(last.value("senderName").toString(), QStringLiteral("Kim"));
        QCOMPARE(last.value("senderAvatarId").toString(), QStringLiteral("lottiehead_1"));
        QCOMPARE(last.value("systemEventType").toString(), QStringLiteral("none"));
        QCOMPARE(last.value("ts").toLongLong(), 12);
    }

    void superGroupsTurnMarkersIntoSystemLines_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        QTest::newRow("system marker") << "__sg_system__:Ann joined" << "system" << "Ann joined";
        QTest::newRow("invite marker") << "__group_system_invite__:x" << "system" << "__group_system_invite__:x";
        QTest::newRow("short invite marker") << "_group_system_invite__:x" << "system" << "_group_system_invite__:x";
        QTest::newRow("marker inside textmeta")
            << payload::encodePrefixedJson(payload::kTextMetaPrefix, {{"text", "__sg_system__:Bo left"}}) << "system"
            << "Bo left";
        QTest::newRow("ordinary text") << "hi" << "text" << "hi";
    }
    void superGroupsTurnMarkersIntoSystemLines()
    {
        QFETCH(QString, stored);
        QFETCH(QString, kind);
        QFETCH(QString, text);
        const QString peer = QStringLiteral("sg:https://127.0.0.1:9/sg");
        QVERIFY(ChatStore::instance().upsertMessage(message("s1", peer, stored, 20)));
        openAndShow(peer);
        QCOMPARE(m_chat->messages().size(), 1);
        const QVariantMap map = m_chat->messages().first().toMap();
        QCOMPARE(map.value("kind").toString(), kind);
        QCOMPARE(map.value("text").toString(), text);
    }

    void conversationRowsOfEachKind()
    {
        ChatStore &store = ChatStore::instance();
        const QString plain = peerKey(0x53);
        const QString withContact = peerKey(0x54);
        const QString blankRemark = peerKey(0x55);
        const QString official = velmor::crypto::base64UrlEncode(officialAccountPublicKey());
        const QString author = authorKey();
        const QString undecodable = QStringLiteral("not*a*key");
        for (const QString &p : {plain, withContact, blankRemark, official, author, undecodable})
            store.ensureDirectConversation(p, p, QStringLiteral("stored-display"));
        store.ensureGroupConversation(QStringLiteral("g-empty"), QString());
        store.ensureGroupConversation(QStringLiteral("g-named"), QStringLiteral("群聊"));
        QVERIFY(store.upsertMessage(message("m1", store.conversationIdFor(plain), "  two\n  words ", 30)));
        QVERIFY(store.upsertMessage(message("m2", store.conversationIdFor(official), "notice", 31)));

        ContactRecord contact;
        contact.wallet_public_key = withContact;
        contact.erc20_address = QStringLiteral("0x1234567890abcdef1234567890abcdef12345678");
        contact.remark = QStringLiteral("  Dora  ");
        contact.avatar_kind = QStringLiteral("lottie");
        contact.avatar_id = QStringLiteral("lottiehead_3");
        store.upsertContact(contact);
        ContactRecord blank;
        blank.wallet_public_key = blankRemark;
        blank.erc20_address = QStringLiteral("0xaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa");
        blank.remark = QStringLiteral("   ");
        store.upsertContact(blank);

        startListed(*m_chat);
        const QVariantList rows = m_chat->conversations();

        const QVariantMap p = rowOf(rows, plain);
        QCOMPARE(p.value("last").toString(), QStringLiteral("two words"));
        QCOMPARE(p.value("display").toString(), ChatController::shortAddress(identityFromByte(0x53).erc20Address()));
        QVERIFY(!p.contains("avatarId"));
        QCOMPARE(p.value("muted").toBool(), false);

        const QVariantMap c = rowOf(rows, withContact);
        QCOMPARE(c.value("display").toString(), QStringLiteral("Dora"));
        QCOMPARE(c.value("address").toString(), contact.erc20_address);
        QCOMPARE(c.value("avatarKind").toString(), QStringLiteral("lottie"));
        QCOMPARE(c.value("last").toString(), QStringLiteral("暂无消息"));

        QCOMPARE(rowOf(rows, blankRemark).value("display").toString(), QStringLiteral("0xaaaa…aaaaaa"));

        const QVariantMap o = rowOf(rows, official);
        QCOMPARE(o.value("display").toString(), QStringLiteral("Pelorin Network"));
        QCOMPARE(o.value("last").toString(), QStringLiteral("Pelorin官方地址账号"));
        QVERIFY(o.value("isOfficial").toBool() && o.value("verified").toBool());
        QVERIFY(!o.contains("address") && !o.contains("avatarId"));

        const QVariantMap a = rowOf(rows, author);
        QCOMPARE(a.value("display").toString(), QStringLiteral("Pelorin author"));
        QVERIFY(a.value("isAuthor").toBool() && a.value("verified").toBool() && !a.value("isOfficial").toBool());

        QCOMPARE(rowOf(rows, undecodable).value("display").toString(), QStringLiteral("未知地址"));
        // Only the stand-ins for a name are the system's own texts.
        QVERIFY(rowOf(rows, undecodable).value("displayFallback").toBool());
        QVERIFY(!c.value("displayFallback").toBool() && !rowOf(rows, "group:g-named").value("displayFallback").toBool());

        const QVariantMap g = rowOf(rows, "group:g-empty");
        QCOMPARE(g.value("display").toString(), QStringLiteral("群聊"));
        QVERIFY(g.value("displayFallback").toBool());
        QCOMPARE(g.value("avatarId").toString(), QStringLiteral("defaultgroupphoto"));
        QVERIFY(g.value("isGroup").toBool());
    }

    // What a row's last line is comes from the stored message's type, never
    // from its text: what someone typed is "text", whatever it says.
    void lastKindFollowsTheStoredType_data()
    {
        QTest::addColumn<QString>("peer");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("afterNewer"); // stored after a newer message, as a batch may be
        QTest::addColumn<QString>("kind");
        const QString direct = peerKey(0x59), group = QStringLiteral("group:g"), super = QStringLiteral("sg:https://127.0.0.1:9/k");
        QTest::newRow("typed like a picture") << direct << "[图片]" << "text" << false << "text";
        QTest::newRow("typed join line") << group << "Ann 加入了群聊" << "" << false << "text";
        QTest::newRow("emoji with a text of its own") << direct << "[图片]" << "emoji" << false << "text";
        QTest::newRow("picture") << direct << "[图片]" << "image" << false << "image";
        QTest::newRow("picture stored after a newer text") << direct << "[图片]" << "image" << true << "image";
        QTest::newRow("bridged voice clip") << direct << "[语音 3\"]" << "bridge.voice" << false << "voice";
        QTest::newRow("join line") << group << "Ann 加入了群聊" << "system" << false << "system";
        QTest::newRow("super group, typed like a picture") << super << "[图片]" << "text" << false << "text";
        QTest::newRow("super group, picture") << super << "[图片]" << "image" << false << "image";
    }
    void lastKindFollowsTheStoredType()
    {
        QFETCH(QString, peer);
        QFETCH(QString, text);
        QFETCH(QString, type);
        QFETCH(bool, afterNewer);
        QFETCH(QString, kind);
        ChatStore &store = ChatStore::instance();
        QString id = peer;
        if (isGroupPeer(peer))
            store.ensureGroupConversation(groupIdOfPeer(peer), QString());
        else if (isSuperGroupPeer(peer))
            QVERIFY(store.upsertSuperGroup(superGroup(serverUrlOfPeer(peer), "K", 1)));
        else
            id = store.ensureDirectConversation(peer, peer, QStringLiteral("p")).id;
        MessageRecord m = message("k1", id, text, 40);
        m.content_type = type;
        QVERIFY(store.upsertMessages(afterNewer ? QList{message("k0", id, "later", 50), m} : QList{m}));
        startListed(*m_chat);
        QCOMPARE(rowOf(m_chat->conversations(), peer).value("last").toString(), text);
        QCOMPARE(rowOf(m_chat->conversations(), peer).value("lastKind").toString(), kind);
        if (!isSuperGroupPeer(peer))
            QCOMPARE(ConversationList::readChanged(store, peer).map.value("lastKind").toString(), kind);
    }

    void blockedRowsSinkAndShowNoUnread()
    {
        ChatStore &store = ChatStore::instance();
        const QString blocked = peerKey(0x56);
        const QString older = peerKey(0x57);
        store.ensureDirectConversation(blocked, blocked, QStringLiteral("b"));
        store.ensureDirectConversation(older, older, QStringLiteral("o"));
        QVERIFY(store.upsertMessage(message("new", store.conversationIdFor(blocked), "new", 500)));
        QVERIFY(store.upsertMessage(message("old", store.conversationIdFor(older), "old", 100)));
        ContactRecord contact;
        contact.wallet_public_key = blocked;
        contact.blocked = 1;
        store.upsertContact(contact);

        startListed(*m_chat);
        QCOMPARE(peersOf(m_chat->conversations()), (QStringList{older, blocked}));
        QCOMPARE(rowOf(m_chat->conversations(), blocked).value("unread").toInt(), 0);
        QCOMPARE(rowOf(m_chat->conversations(), older).value("unread").toInt(), 1);
    }

    // Rows of one time come in the order of their sources at every rebuild.
    void equalTimesNeverSwap()
    {
        ChatStore &store = ChatStore::instance();
        QStringList peers;
        for (char b = 0x60; b < 0x70; ++b) {
            const QString peer = peerKey(b);
            store.ensureDirectConversation(peer, peer, QStringLiteral("p"));
            QVERIFY(store.upsertMessage(message(QStringLiteral("m%1").arg(int(b)), store.conversationIdFor(peer), "x", 77)));
        }
        for (int i = 0; i < 6; ++i)
            QVERIFY(store.upsertSuperGroup(superGroup(QStringLiteral("https://127.0.0.1:9/sg%1").arg(i), QString(), 77)));
        startListed(*m_chat);
        const QStringList first = peersOf(m_chat->conversations());
        QCOMPARE(first.size(), 22);
        for (int round = 0; round < 5; ++round) {
            m_chat->reloadConversations();
            QCOMPARE(peersOf(m_chat->conversations()), first);
        }
        // Direct rows (as the store lists them) come before the super groups.
        QVERIFY(first.indexOf(peerKey(0x6f)) < first.indexOf("sg:https://127.0.0.1:9/sg0"));
    }

    void superGroupRowsCarryRuntimeStateAndStoredFlags()
    {
        ChatStore &store = ChatStore::instance();
        SuperGroupRecord quiet = superGroup("https://127.0.0.1:9/quiet", "Quiet", 90, "premium_plus");
        quiet.muted = true;
        quiet.unread_count = 3;
        quiet.connection_state = QStringLiteral("failed");
        QVERIFY(store.upsertSuperGroup(quiet));
        QVERIFY(store.upsertSuperGroup(superGroup("https://127.0.0.1:9/fresh", QString(), 80)));
        QVERIFY(store.upsertMessage(message("sgm", "sg:https://127.0.0.1:9/fresh", "__sg_system__:welcome", 95)));

        startListed(*m_chat);
        const QVariantMap q = rowOf(m_chat->conversations(), "sg:https://127.0.0.1:9/quiet");
        QCOMPARE(q.value("display").toString(), QStringLiteral("Quiet"));
        QCOMPARE(q.value("unread").toInt(), 3);
        QCOMPARE(q.value("connectionState").toString(), QStringLiteral("failed"));
        QCOMPARE(q.value("latencyMs").toInt(), -1);
        QVERIFY(q.value("muted").toBool());
        QVERIFY(q.value("isPremium").toBool());
        QVERIFY(q.value("ready").toBool());
        QVERIFY(!q.value("blocked").toBool());
        const QVariantMap f = rowOf(m_chat->conversations(), "sg:https://127.0.0.1:9/fresh");
        QCOMPARE(f.value("last").toString(), QStringLiteral("welcome"));
        QCOMPARE(f.value("ts").toLongLong(), 95);
        QVERIFY(!f.value("ready").toBool());
        QVERIFY(!f.value("muted").toBool());
        // The newest message puts the fresh group first.
        QCOMPARE(peersOf(m_chat->conversations()).first(), QStringLiteral("sg:https://127.0.0.1:9/fresh"));

        // An entry without a usable "sg:" peer keeps only its own keys.
        m_chat->host().superGroups().setEntries(
            {QVariantMap{{"peer", "sg:"}, {"display", "odd"}, {"ts", 1}, {"unread", 9}, {"isSuper", true}}});
        m_chat->reloadConversations();
        const QVariantMap odd = rowOf(m_chat->conversations(), "sg:");
        QCOMPARE(odd.value("unread").toInt(), 9);
        QVERIFY(!odd.contains("connectionState") && !odd.contains("latencyMs"));
    }

    void connectionStateIsPatchedInPlace()
    {
        ChatStore &store = ChatStore::instance();
        QVERIFY(store.upsertSuperGroup(superGroup("https://127.0.0.1:9/live", QString())));
        const QString peer = peerKey(0x58);
        store.ensureDirectConversation(peer, peer, QStringLiteral("p"));
        startListed(*m_chat);
        const QStringList order = peersOf(m_chat->conversations());

        QSignalSpy conversations(m_chat.get(), &ChatController::conversationsChanged);
        QSignalSpy current(m_chat.get(), &ChatController::currentChanged);
        m_chat->updateConversationConnectionState("https://127.0.0.1:9/live", "connected", 42);
        QCOMPARE(conversations.count(), 1);
        QCOMPARE(current.count(), 0);
        QCOMPARE(peersOf(m_chat->conversations()), order);
        QCOMPARE(rowOf(m_chat->conversations(), "sg:https://127.0.0.1:9/live").value("latencyMs").toInt(), 42);

        // A group not in the list changes nothing there, but the open one's
        // header is told.
        m_chat->openConversation("sg:https://127.0.0.1:9/gone");
        conversations.clear();
        current.clear();
        m_chat->updateConversationConnectionState("https://127.0.0.1:9/gone", "connecting", -1);
        QCOMPARE(conversations.count(), 0);
        QCOMPARE(current.count(), 1);
    }

    // Rebuilds reuse the maps of unchanged rows; every change of what a row
    // shows must still come through.
    void rebuildsShowEveryChange()
    {
        ChatStore &store = ChatStore::instance();
        const QString peer = peerKey(0x59);
        store.ensureDirectConversation(peer, peer, QStringLiteral("p"));
        const QString id = store.conversationIdFor(peer);
        MessageRecord sent = message("s", id, "sending", 10, true);
        sent.status = MessageStatus::Sending;
        QVERIFY(store.upsertMessage(sent));
        QVERIFY(store.upsertMessage(message("t", id, "hello", 11)));
        QVERIFY(store.upsertMessage(message("x", id, "doomed", 12)));
        startListed(*m_chat);
        openAndShow(peer);
        QCOMPARE(m_chat->messages().size(), 3);

        sent.status = MessageStatus::Failed;
        QVERIFY(store.upsertMessage(sent));
        QVERIFY(store.updateMessageText(id, "t", payload::encodePrefixedJson(payload::kSitePrefix, {{"title", "T"}})));
        QVERIFY(store.deleteMessage(id, "x"));
        m_chat->reloadMessages();
        waitIdle();
        QCOMPARE(m_chat->messages().size(), 2);
        QCOMPARE(m_chat->messages().at(0).toMap().value("status").toInt(), 2);
        QCOMPARE(m_chat->messages().at(1).toMap().value("kind").toString(), QStringLiteral("site"));

        ContactRecord contact;
        contact.wallet_public_key = peer;
        contact.remark = QStringLiteral("Named");
        store.upsertContact(contact);
        m_chat->reloadConversations();
        QCOMPARE(m_chat->conversations().first().toMap().value("display").toString(), QStringLiteral("Named"));
        QCOMPARE(shown("display").toString(), QStringLiteral("Named")); // the view's role too
        contact.blocked = 1;
        store.upsertContact(contact);
        m_chat->reloadConversations();
        QVERIFY(m_chat->conversations().first().toMap().value("blocked").toBool());
        store.setConversationMuted(peer, true);
        m_chat->reloadConversations();
        QVERIFY(m_chat->conversations().first().toMap().value("muted").toBool());
        QVERIFY(shown("muted").toBool());

        // Another conversation with a message of the same id starts afresh.
        const QString other = QStringLiteral("group:g");
        QVERIFY(store.upsertMessage(message("g1", other, "__sg_system__:plain here", 13)));
        openAndShow(other);
        QCOMPARE(m_chat->messages().first().toMap().value("kind").toString(), QStringLiteral("text"));
    }

private:
    // What the sidebar's first row shows through the role `name`.
    QVariant shown(const QByteArray &name)
    {
        QAbstractItemModel *model = m_chat->conversationModel();
        return model->data(model->index(0, 0), model->roleNames().key(name, -1));
    }
};

QTEST_GUILESS_MAIN(ListsTest)
#include "test_lists.moc"
