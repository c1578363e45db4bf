// What each store operation does to the rows: upsert rules, previews and
// unread counts, merges that keep stored values, exact-one-row state
// changes, and the behaviour of a closed store.
#include "store_test_util.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QStandardPaths>
#include <QtTest>

using namespace velmor::chat;
using namespace storetest;

class StoreSemantics : public QObject, protected StoreFiles
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
    }

    void init()
    {
        m_path = freshPath(QStringLiteral("semantics"));
        QVERIFY(store().open(kOwnerA, m_path));
    }

    void cleanup() { store().close(); }

    // ---- lifecycle ---------------------------------------------------------

    void openSetsWalAndRefusesBadInput()
    {
        QVERIFY(store().isOpen());
        QCOMPARE(store().ownerKey(), kOwnerA);
        {
            SideConnection side(m_path);
            QVERIFY(side.isOpen());
            QCOMPARE(side.scalar(QStringLiteral("PRAGMA journal_mode")).toString().toLower(), QStringLiteral("wal"));
        }
        // An empty owner key is refused and leaves the store closed.
        QVERIFY(!store().open(QString(), m_path));
        QVERIFY(!store().isOpen());
        // A path below a regular file cannot be created.
        const QString blocker = m_dir.filePath(QStringLiteral("not-a-folder"));
        QFile f(blocker);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QVERIFY(!store().open(kOwnerA, blocker + QStringLiteral("/chat.db")));
        QVERIFY(!store().isOpen());
        // A file that is not a database is never written over: it is kept
        // aside as it is, and a new database takes its name.
        const QString junk = m_dir.filePath(QStringLiteral("junk.db"));
        QFile j(junk);
        QVERIFY(j.open(QIODevice::WriteOnly));
        j.write(QByteArray(4096, 'x'));
        j.close();
        velmor::store::OpenReport report;
        QVERIFY(store().open(kOwnerA, junk, &report));
        QFile aside(report.setAside);
        QVERIFY(aside.open(QIODevice::ReadOnly));
        QCOMPARE(aside.readAll(), QByteArray(4096, 'x'));
        QVERIFY(store().upsertContact(ContactRecord{kPeer, {}, QStringLiteral("r"), {}, {}, 0, 1}));
    }

    void emptyPathUsesApplicationDataFolder()
    {
        store().close();
        const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QDir(dir).removeRecursively();
        QVERIFY(store().open(kOwnerA));
        QCOMPARE(QFileInfo(store().databasePath()).absoluteFilePath(),
                 QFileInfo(QDir(dir).filePath(QStringLiteral("chat.db"))).absoluteFilePath());
        QVERIFY(store().upsertContact(ContactRecord{kPeer, QStringLiteral("0xabc"), {}, {}, {}, 0, 1}));
        store().close();
        QVERIFY(QFileInfo::exists(QDir(dir).filePath(QStringLiteral("chat.db"))));
        QVERIFY(store().open(kOwnerA));
        QVERIFY(store().contact(kPeer).has_value());
        store().close();
        QDir(dir).removeRecursively();
    }

    void closedStoreFailsEveryOperation()
    {
        QVERIFY(store().upsertMessage(message(QStringLiteral("m1"), QStringLiteral("c"), QStringLiteral("hi"), 10)));
        store().close();
        QVERIFY(!store().isOpen());
        QVERIFY(store().ownerKey().isEmpty());
        QVERIFY(store().conversationIdFor(kPeer).isEmpty());
        QVERIFY(store().ensureDirectConversation(kPeer, kPeer, QStringLiteral("d")).id.isEmpty());
        QVERIFY(store().ensureGroupConversation(QStringLiteral("g"), QStringLiteral("G")).id.isEmpty());
        QVERIFY(!store().conversationByPeer(kPeer));
        QVERIFY(store().visibleConversations().isEmpty());
        QVERIFY(!store().bumpConversationTimestamp(QStringLiteral("c"), 5));
        QVERIFY(!store().resetUnread(QStringLiteral("c")));
        QVERIFY(!store().clearConversation(QStringLiteral("c")));
        QVERIFY(!store().deleteConversation(QStringLiteral("g"), true));
        QVERIFY(!store().setConversationMuted(kPeer, true));
        QVERIFY(!store().setPeerHasMyWalletCard(kPeer, true));
        QVERIFY(!store().setPeerWalletCard(kPeer, QStringLiteral("{}"), QStringLiteral("0x")));
        QVERIFY(!store().upsertMessage(message(QStringLiteral("m2"), QStringLiteral("c"), QStringLiteral("x"), 11)));
        QVERIFY(!store().messageExists(QStringLiteral("m1")));
        QVERIFY(store().messageContentDigest(QStringLiteral("c"), QStringLiteral("m1")).isEmpty());
        QVERIFY(!store().messageById(QStringLiteral("m1")));
        QVERIFY(store().messages(QStringLiteral("c")).isEmpty());
        QString text;
        qint64 ts = -1;
        QVERIFY(!store().lastMessage(QStringLiteral("c"), text, ts));
        QVERIFY(!store().deleteMessage(QStringLiteral("c"), QStringLiteral("m1")));
        QVERIFY(!store().updateMessageText(QStringLiteral("c"), QStringLiteral("m1"), QStringLiteral("y")));
        QVERIFY(!store().contact(kPeer));
        QVERIFY(store().contacts().isEmpty());
        QVERIFY(!store().upsertContact(ContactRecord{kPeer, {}, {}, {}, {}, 0, 0}));
        QVERIFY(!store().deleteContact(kPeer));
        QVERIFY(!store().setContactBlocked(kPeer, true));
        QVERIFY(store().normalGroupCards().isEmpty());
        QVERIFY(!store().upsertNormalGroupCard(NormalGroupCardRecord{QStringLiteral("g")}));
        QVERIFY(!store().updateNormalGroupCardSettings(QStringLiteral("g"), true, {}, false));
        QVERIFY(store().normalGroupMemberProfiles(QStringLiteral("g")).isEmpty());
        QVERIFY(!store().upsertNormalGroupMemberProfile(QStringLiteral("g"),
                                                        QJsonObject{{"memberRawPublicKey", kPeer}, {"updatedAt", 1}}));
        QVERIFY(!store().deleteNormalGroupMemberProfile(QStringLiteral("g"), kPeer));
        QVERIFY(store().pendingGroupJoinRequests().isEmpty());
        QVERIFY(!store().upsertPendingGroupJoinRequest(
            PendingGroupJoinRequestRecord{QStringLiteral("g"), {}, kPeer, {}, {}, {}, 1}));
        QVERIFY(!store().deletePendingGroupJoinRequest(QStringLiteral("g"), kPeer));
        QVERIFY(!store().blockJoinRequester(QStringLiteral("g"), kPeer));
        QVERIFY(!store().isJoinBlocked(QStringLiteral("g"), kPeer));
        QVERIFY(!store().superGroup(QStringLiteral("https://sg")));
        QVERIFY(store().superGroups().isEmpty());
        QVERIFY(!store().upsertSuperGroup(SuperGroupRecord{}));
        QVERIFY(!store().setSuperGroupMuted(QStringLiteral("https://sg"), true));
        QVERIFY(!store().setSuperGroupConnectionState(QStringLiteral("https://sg"), QStringLiteral("connected")));
        QVERIFY(!store().updateSuperGroupReadState(QStringLiteral("https://sg"), 1, 1, 1));
        QVERIFY(store().superGroupMembers(QStringLiteral("https://sg")).isEmpty());
        QVERIFY(!store().upsertSuperGroupMember(SuperGroupMemberRecord{QStringLiteral("https://sg"), kPeer}));
        QVERIFY(!store().replaceSuperGroupMembers(QStringLiteral("https://sg"), {}));
        QVERIFY(!store().deleteSuperGroupMember(QStringLiteral("https://sg"), kPeer));
        QVERIFY(!store().notificationEvent(QStringLiteral("s")));
        QVERIFY(store().notificationEvents(true).isEmpty());
        QVERIFY(!store().upsertNotificationEvent(NotificationEventRecord{QStringLiteral("s")}));
        QVERIFY(!store().setNotificationState(QStringLiteral("s"), {QStringLiteral("pending")},
                                              QStringLiteral("approved"), {}));
        QVERIFY(!store().addPendingAck({QStringLiteral("m1")}));
        QVERIFY(store().pendingAcks(10).isEmpty());
        QVERIFY(!store().deletePendingAck({QStringLiteral("m1")}));

        // Nothing was written while closed; the earlier row is still there.
        QVERIFY(store().open(kOwnerA, m_path));
        QVERIFY(store().messageExists(QStringLiteral("m1")));
        QVERIFY(!store().messageExists(QStringLiteral("m2")));
    }

    // ---- conversations -------------------------------------------------------

    void conversationIdOrdersKeys()
    {
        // kOwnerA ("B…") sorts before kPeer ("M…"); a lower-case peer sorts after
        // both because the comparison is case-sensitive.
        QCOMPARE(store().conversationIdFor(kPeer), kOwnerA + QLatin1Char(':') + kPeer);
        QCOMPARE(store().conversationIdFor(QStringLiteral("Apeer")), QStringLiteral("Apeer:") + kOwnerA);
        QCOMPARE(store().conversationIdFor(QStringLiteral("bpeer")), kOwnerA + QStringLiteral(":bpeer"));
        QVERIFY(store().conversationIdFor(QString()).isEmpty());
    }

    void ensureDirectConversationKeepsDisplayAndUnhides()
    {
        const ConversationRecord c = store().ensureDirectConversation(kPeer, QStringLiteral("enc1"), QStringLiteral("disp1"));
        QCOMPARE(c.id, store().conversationIdFor(kPeer));
        QCOMPARE(c.conversation_type, QStringLiteral("direct"));
        QCOMPARE(c.peer_raw_public_key, kPeer);
        QCOMPARE(c.peer_enc_public_key, QStringLiteral("enc1"));
        QCOMPARE(c.peer_display_key, QStringLiteral("disp1"));
        QCOMPARE(c.last_timestamp, 0);
        QCOMPARE(c.unread_count, 0);
        QVERIFY(store().clearConversation(c.id));
        QVERIFY(store().visibleConversations().isEmpty());

        const ConversationRecord again = store().ensureDirectConversation(kPeer, QStringLiteral("enc2"), QStringLiteral("disp2"));
        QCOMPARE(again.peer_enc_public_key, QStringLiteral("enc2"));
        QCOMPARE(again.peer_display_key, QStringLiteral("disp1"));
        QVERIFY(!again.hidden_from_chats);
        QCOMPARE(store().visibleConversations().size(), 1);
        QVERIFY(store().ensureDirectConversation(QString(), {}, {}).id.isEmpty());
    }

    void ensureGroupConversationRenamesAndUnhides()
    {
        ConversationRecord c = store().ensureGroupConversation(QStringLiteral("g1"), QStringLiteral("Name one"));
        QCOMPARE(c.id, QStringLiteral("group:g1"));
        QCOMPARE(c.peer_raw_public_key, QStringLiteral("group:g1"));
        QCOMPARE(c.conversation_type, QStringLiteral("group"));
        QCOMPARE(c.group_kind, QStringLiteral("normal"));
        QVERIFY(store().upsertMessage(message(QStringLiteral("gm"), c.id, QStringLiteral("hello"), 100)));
        QVERIFY(store().clearConversation(c.id));
        c = store().ensureGroupConversation(QStringLiteral("g1"), QStringLiteral("Name two"));
        QCOMPARE(c.peer_display_key, QStringLiteral("Name two"));
        QVERIFY(!c.hidden_from_chats);
        QCOMPARE(c.unread_count, 0);
        QVERIFY(c.last_message.isEmpty());
        QVERIFY(store().ensureGroupConversation(QString(), QStringLiteral("x")).id.isEmpty());
    }

    void visibleConversationsNewestFirst()
    {
        store().ensureGroupConversation(QStringLiteral("old"), {});
        store().ensureGroupConversation(QStringLiteral("new"), {});
        store().ensureGroupConversation(QStringLiteral("hidden"), {});
        QVERIFY(store().bumpConversationTimestamp(QStringLiteral("group:old"), 100));
        QVERIFY(store().bumpConversationTimestamp(QStringLiteral("group:new"), 200));
        QVERIFY(store().clearConversation(QStringLiteral("group:hidden")));
        const auto list = store().visibleConversations();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list.at(0).id, QStringLiteral("group:new"));
        QCOMPARE(list.at(1).id, QStringLiteral("group:old"));
        // The sidebar's narrower read: the same rows, order and shown values.
        const auto listed = store().listedConversations();
        QCOMPARE(listed.size(), list.size());
        for (int i = 0; i < list.size(); ++i) {
            QCOMPARE(listed.at(i).peer_raw_public_key, list.at(i).peer_raw_public_key);
            QCOMPARE(listed.at(i).conversation_type, list.at(i).conversation_type);
            QCOMPARE(listed.at(i).last_timestamp, list.at(i).last_timestamp);
        }
    }

    void bumpNeverGoesBackAndZeroMeansNow()
    {
        store().ensureGroupConversation(QStringLiteral("g"), {});
        QVERIFY(store().bumpConversationTimestamp(QStringLiteral("group:g"), 500));
        QVERIFY(store().bumpConversationTimestamp(QStringLiteral("group:g"), 300));
        QCOMPARE(store().conversationByPeer(QStringLiteral("group:g"))->last_timestamp, 500);
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        QVERIFY(store().bumpConversationTimestamp(QStringLiteral("group:g"), 0));
        QVERIFY(store().conversationByPeer(QStringLiteral("group:g"))->last_timestamp >= before);
        QVERIFY(!store().bumpConversationTimestamp(QString(), 10));
    }

    void clearConversationKeepsRowAndOtherConversations()
    {
        const QString id = store().ensureDirectConversation(kPeer, kPeer, QStringLiteral("d")).id;
        QVERIFY(store().upsertMessage(message(QStringLiteral("a"), id, QStringLiteral("one"), 10)));
        QVERIFY(store().upsertMessage(message(QStringLiteral("b"), QStringLiteral("other"), QStringLiteral("two"), 11)));
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        QVERIFY(store().clearConversation(id));
        QVERIFY(store().messages(id).isEmpty());
        QCOMPARE(store().messages(QStringLiteral("other")).size(), 1);
        const auto row = store().conversationByPeer(kPeer);
        QVERIFY(row);
        QVERIFY(row->hidden_from_chats);
        QVERIFY(row->last_message.isEmpty());
        QCOMPARE(row->unread_count, 0);
        QVERIFY(row->last_timestamp >= before);
    }

    void mutedAndWalletCardByPeer()
    {
        store().ensureDirectConversation(kPeer, kPeer, QStringLiteral("d"));
        store().ensureGroupConversation(QStringLiteral("g"), QStringLiteral("G"));
        QVERIFY(store().setConversationMuted(QStringLiteral("group:g"), true));
        QVERIFY(store().setPeerHasMyWalletCard(kPeer, true));
        QVERIFY(store().setPeerWalletCard(kPeer, QStringLiteral("{\"card\":1}"), QStringLiteral("0xabc")));
        const auto direct = store().conversationByPeer(kPeer);
        QVERIFY(direct && !direct->muted);
        QVERIFY(direct->peer_has_my_wallet_card);
        QCOMPARE(direct->peer_wallet_card_json, QStringLiteral("{\"card\":1}"));
        QCOMPARE(direct->peer_wallet_address, QStringLiteral("0xabc"));
        QVERIFY(store().conversationByPeer(QStringLiteral("group:g"))->muted);
        QVERIFY(!store().conversationByPeer(QStringLiteral("nobody")));
    }

    // ---- messages ----------------------------------------------------------

    void upsertExistingIdChangesOnlyFourColumns()
    {
        const QString conv = store().ensureDirectConversation(kPeer, kPeer, QStringLiteral("d")).id;
        MessageRecord m = message(QStringLiteral("m1"), conv, QStringLiteral("first"), 100);
        m.sender_address = QStringLiteral("0xsender");
        m.content_digest = QStringLiteral("digest1");
        m.server_seq = 7;
        QVERIFY(store().upsertMessage(m));
        QCOMPARE(store().conversationByPeer(kPeer)->unread_count, 1);

        MessageRecord changed = m;
        changed.text = QStringLiteral("second");
        changed.status = MessageStatus::Failed;
        changed.attachment = QStringLiteral("{\"kind\":\"image\"}");
        changed.delivery_state = QStringLiteral("delivered");
        changed.created_at = 999;
        changed.is_outgoing = true;
        changed.sender_address = QStringLiteral("0xother");
        changed.content_digest = QStringLiteral("digest2");
        changed.server_seq = 8;
        changed.content_type = QStringLiteral("voice");
        QVERIFY(store().upsertMessage(changed));

        const auto stored = store().messageById(QStringLiteral("m1"));
        QVERIFY(stored);
        QCOMPARE(stored->text, QStringLiteral("second"));
        QCOMPARE(stored->status, MessageStatus::Failed);
        QCOMPARE(stored->attachment, changed.attachment);
        QCOMPARE(stored->delivery_state, QStringLiteral("delivered"));
        QCOMPARE(stored->conversation_id, conv);
        QCOMPARE(stored->created_at, 100);
        QVERIFY(!stored->is_outgoing);
        QCOMPARE(stored->sender_address, QStringLiteral("0xsender"));
        QCOMPARE(stored->content_digest, QStringLiteral("digest1"));
        QCOMPARE(stored->server_seq, 7);
        QCOMPARE(stored->content_type, QStringLiteral("text"));
        // The repeat added no unread, did not touch the preview and did not
        // move the conversation in time.
        const auto row = store().conversationByPeer(kPeer);
        QCOMPARE(row->unread_count, 1);
        QCOMPARE(row->last_message, QStringLiteral("first"));
        QCOMPARE(row->last_timestamp, 100);
    }

    void newMessagesUpdatePreviewAndUnread()
    {
        const QString conv = store().ensureGroupConversation(QStringLiteral("g"), QStringLiteral("G")).id;
        QVERIFY(store().upsertMessage(message(QStringLiteral("in1"), conv, QStringLiteral("incoming"), 100)));
        auto row = store().conversationByPeer(conv);
        QCOMPARE(row->unread_count, 1);
        QCOMPARE(row->last_message, QStringLiteral("incoming"));
        QCOMPARE(row->last_timestamp, 100);

        QVERIFY(store().upsertMessage(message(QStringLiteral("out1"), conv, QStringLiteral("outgoing"), 110, true)));
        row = store().conversationByPeer(conv);
        QCOMPARE(row->unread_count, 1);
        QCOMPARE(row->last_message, QStringLiteral("outgoing"));
        QCOMPARE(row->last_timestamp, 110);

        MessageRecord sys = message(QStringLiteral("sys1"), conv, QStringLiteral("joined"), 120);
        sys.content_type = QStringLiteral("system");
        QVERIFY(store().upsertMessage(sys));
        MessageRecord sys2 = message(QStringLiteral("sys2"), conv, QStringLiteral("joined too"), 121);
        sys2.system_event_type = QStringLiteral("group_member_joined");
        QVERIFY(store().upsertMessage(sys2));
        row = store().conversationByPeer(conv);
        QCOMPARE(row->unread_count, 1);
        QCOMPARE(row->last_message, QStringLiteral("joined too"));

        // The preview and time follow the message stored last, also when its
        // own time is older than the stored one.
        QVERIFY(store().upsertMessage(message(QStringLiteral("late"), conv, QStringLiteral("late one"), 50)));
        row = store().conversationByPeer(conv);
        QCOMPARE(row->unread_count, 2);
        QCOMPARE(row->last_message, QStringLiteral("late one"));
        QCOMPARE(row->last_timestamp, 50);

        QVERIFY(store().resetUnread(conv));
        QCOMPARE(store().conversationByPeer(conv)->unread_count, 0);
    }

    void newMessageLeavesClearedConversationHidden()
    {
        // A cleared conversation comes back when it is ensured again, not
        // because a message was stored into it (an outgoing one, say).
        const QString conv = store().ensureDirectConversation(kPeer, kPeer, QStringLiteral("d")).id;
        QVERIFY(store().upsertMessage(message(QStringLiteral("a"), conv, QStringLiteral("one"), 10)));
        QVERIFY(store().clearConversation(conv));
        QVERIFY(store().upsertMessage(message(QStringLiteral("b"), conv, QStringLiteral("two"), 20, true)));
        QVERIFY(store().visibleConversations().isEmpty());
        const auto hidden = store().conversationByPeer(kPeer);
        QVERIFY(hidden && hidden->hidden_from_chats);
        QCOMPARE(hidden->last_message, QStringLiteral("two"));
        QCOMPARE(hidden->last_timestamp, 20);

        QVERIFY(store().upsertMessage(message(QStringLiteral("c"), conv, QStringLiteral("three"), 30)));
        store().ensureDirectConversation(kPeer, kPeer, QStringLiteral("d"));
        const auto list = store().visibleConversations();
        QCOMPARE(list.size(), 1);
        QCOMPARE(list.at(0).last_message, QStringLiteral("three"));
        QCOMPARE(list.at(0).unread_count, 1);
    }

    void messagesWithoutConversationRow()
    {
        // Super-group messages have no conversation row; storing them must
        // neither fail nor create one.
        MessageRecord m = message(QStringLiteral("sg1"), QStringLiteral("sg:https://x"), QStringLiteral("t"), 5);
        m.server_seq = 42;
        m.content_digest = QStringLiteral("42:sg1");
        QVERIFY(store().upsertMessage(m));
        QVERIFY(!store().conversationByPeer(QStringLiteral("sg:https://x")));
        QVERIFY(store().visibleConversations().isEmpty());
        QCOMPARE(store().messageContentDigest(m.conversation_id, QStringLiteral("sg1")), QStringLiteral("42:sg1"));
        QString text;
        qint64 ts = 0;
        QVERIFY(store().lastMessage(QStringLiteral("sg:https://x"), text, ts));
        QCOMPARE(text, QStringLiteral("t"));
        QCOMPARE(ts, 5);
        QVERIFY(!store().upsertMessage(message(QString(), QStringLiteral("c"), QStringLiteral("no id"), 1)));
    }

    void messagesOrderedOldestFirstWithStableTies()
    {
        const QString conv = QStringLiteral("c");
        QVERIFY(store().upsertMessage(message(QStringLiteral("z"), conv, QStringLiteral("3"), 30)));
        QVERIFY(store().upsertMessage(message(QStringLiteral("y"), conv, QStringLiteral("1"), 10)));
        QVERIFY(store().upsertMessage(message(QStringLiteral("b"), conv, QStringLiteral("2a"), 20)));
        QVERIFY(store().upsertMessage(message(QStringLiteral("a"), conv, QStringLiteral("2b"), 20)));
        QStringList texts;
        for (const MessageRecord &m : store().messages(conv))
            texts << m.text;
        QCOMPARE(texts, (QStringList{"1", "2a", "2b", "3"}));
        QString last;
        qint64 ts = 0;
        QVERIFY(store().lastMessage(conv, &last, &ts));
        QCOMPARE(last, QStringLiteral("3"));
        QCOMPARE(ts, 30);
        QVERIFY(!store().lastMessage(QStringLiteral("empty"), last, ts));
    }

    void messageRoundTripKeepsEveryField()
    {
        MessageRecord m;
        m.id = QStringLiteral("full");
        m.conversation_id = QStringLiteral("conv");
        m.peer_raw_public_key = QStringLiteral("peer");
        m.sender_raw_public_key = QStringLiteral("sender");
        m.text = QStringLiteral("velmor_emoji_v1:eyJjb2RlcyI6WyIxZjYwMiJdfQ 中文 'quotes' \"double\"");
        m.created_at = 1700000000;
        m.is_outgoing = true;
        m.status = MessageStatus::AddressUnreachable;
        m.attachment = QStringLiteral("{\"kind\":\"voice\",\"dur\":1200}");
        m.sender_address = QStringLiteral("0x1234");
        m.sender_display_name = QStringLiteral("Ann");
        m.sender_avatar_kind = QStringLiteral("lottie");
        m.sender_avatar_id = QStringLiteral("lottiehead_01");
        m.server_seq = 9007199254740993LL;
        m.content_type = QStringLiteral("voice");
        m.system_event_type = QStringLiteral("evt");
        m.delivery_state = QStringLiteral("ds");
        m.content_digest = QStringLiteral("abcdef");
        QVERIFY(store().upsertMessage(m));
        const auto r = store().messageById(QStringLiteral("full"));
        QVERIFY(r);
        QCOMPARE(r->conversation_id, m.conversation_id);
        QCOMPARE(r->peer_raw_public_key, m.peer_raw_public_key);
        QCOMPARE(r->sender_raw_public_key, m.sender_raw_public_key);
        QCOMPARE(r->text, m.text);
        QCOMPARE(r->created_at, m.created_at);
        QCOMPARE(r->is_outgoing, true);
        QCOMPARE(r->status, MessageStatus::AddressUnreachable);
        QCOMPARE(r->attachment, m.attachment);
        QCOMPARE(r->sender_address, m.sender_address);
        QCOMPARE(r->sender_display_name, m.sender_display_name);
        QCOMPARE(r->sender_avatar_kind, m.sender_avatar_kind);
        QCOMPARE(r->sender_avatar_id, m.sender_avatar_id);
        QCOMPARE(r->server_seq, m.server_seq);
        QCOMPARE(r->content_type, m.content_type);
        QCOMPARE(r->system_event_type, m.system_event_type);
        QCOMPARE(r->delivery_state, m.delivery_state);
        QCOMPARE(r->content_digest, m.content_digest);

        QVERIFY(store().updateMessageText(m.conversation_id, QStringLiteral("full"), QStringLiteral("patched")));
        QCOMPARE(store().messageById(QStringLiteral("full"))->text, QStringLiteral("patched"));
        QVERIFY(store().deleteMessage(m.conversation_id, QStringLiteral("full")));
        QVERIFY(!store().messageExists(QStringLiteral("full")));
        QVERIFY(!store().messageById(QStringLiteral("full")));
    }

    void hostileTextIsStoredLiterally()
    {
        const QString evil = QStringLiteral("x'); DROP TABLE messages; --");
        QVERIFY(store().upsertMessage(message(evil, evil, evil, 1)));
        QVERIFY(store().messageExists(evil));
        QCOMPARE(store().messages(evil).value(0).text, evil);
        QVERIFY(store().upsertContact(ContactRecord{evil, evil, evil, {}, {}, 0, 1}));
        QCOMPARE(store().contact(evil)->remark, evil);
        QVERIFY(store().setNotificationState(evil, {evil}, evil, evil) == false);
    }

    // ---- contacts ----------------------------------------------------------

    void contactsUpsertOrderAndBlock()
    {
        QVERIFY(store().upsertContact(ContactRecord{QStringLiteral("k1"), QStringLiteral("0x1"), QStringLiteral("r1"),
                                                    QStringLiteral("image"), QStringLiteral("a1"), 0, 100}));
        QVERIFY(store().upsertContact(ContactRecord{QStringLiteral("k2"), QStringLiteral("0x2"), {}, {}, {}, 0, 200}));
        QCOMPARE(store().contacts().value(0).wallet_public_key, QStringLiteral("k2"));
        // Overwrite with new values, including empty ones.
        QVERIFY(store().upsertContact(ContactRecord{QStringLiteral("k1"), QStringLiteral("0x1b"), {}, {}, {}, 1, 300}));
        const auto c = store().contact(QStringLiteral("k1"));
        QVERIFY(c);
        QCOMPARE(c->erc20_address, QStringLiteral("0x1b"));
        QVERIFY(c->remark.isEmpty());
        QVERIFY(c->avatar_id.isEmpty());
        QCOMPARE(c->blocked, 1);
        QCOMPARE(store().contacts().value(0).wallet_public_key, QStringLiteral("k1"));

        const qint64 before = QDateTime::currentSecsSinceEpoch();
        QVERIFY(store().setContactBlocked(QStringLiteral("k2"), true));
        QCOMPARE(store().contact(QStringLiteral("k2"))->blocked, 1);
        QVERIFY(store().contact(QStringLiteral("k2"))->updated_at >= before);
        QVERIFY(store().setContactBlocked(QStringLiteral("nobody"), true));
        QVERIFY(!store().contact(QStringLiteral("nobody")));
        QVERIFY(store().deleteContact(QStringLiteral("k1")));
        QVERIFY(!store().contact(QStringLiteral("k1")));
        QCOMPARE(store().contacts().size(), 1);
        QVERIFY(!store().upsertContact(ContactRecord{}));
    }

    // ---- normal groups ------------------------------------------------------

    void normalGroupCardKeepsLocalSettings()
    {
        NormalGroupCardRecord card;
        card.group_id = QStringLiteral("g");
        card.card_json = QStringLiteral("{\"epoch\":1}");
        card.epoch = 1;
        card.name = QStringLiteral("One");
        QVERIFY(store().upsertNormalGroupCard(card));
        QCOMPARE(store().normalGroupCards().size(), 1);
        QVERIFY(store().normalGroupCards().at(0).visible);
        QVERIFY(store().updateNormalGroupCardSettings(QStringLiteral("g"), false, QStringLiteral("nick"), true));
        card.card_json = QStringLiteral("{\"epoch\":2}");
        card.epoch = 2;
        card.name = QStringLiteral("Two");
        QVERIFY(store().upsertNormalGroupCard(card));
        const auto cards = store().normalGroupCards();
        QCOMPARE(cards.size(), 1);
        QCOMPARE(cards.at(0).epoch, 2);
        QCOMPARE(cards.at(0).name, QStringLiteral("Two"));
        QVERIFY(!cards.at(0).visible);
        QCOMPARE(cards.at(0).my_nickname, QStringLiteral("nick"));
        QVERIFY(cards.at(0).muted);
    }

    void memberProfilesOnlyNewerReplace()
    {
        const QString g = QStringLiteral("g");
        QVERIFY(store().upsertNormalGroupMemberProfile(
            g, QJsonObject{{"memberRawPublicKey", "m2"}, {"displayName", "Two"}, {"avatarId", "a"}, {"updatedAt", 100}}));
        QVERIFY(store().upsertNormalGroupMemberProfile(
            g, QJsonObject{{"memberRawPublicKey", "m1"}, {"displayName", "One"}, {"updatedAt", 100}}));
        // Older and equal timestamps lose.
        store().upsertNormalGroupMemberProfile(g, QJsonObject{{"memberRawPublicKey", "m2"}, {"displayName", "Old"}, {"updatedAt", 99}});
        store().upsertNormalGroupMemberProfile(g, QJsonObject{{"memberRawPublicKey", "m2"}, {"displayName", "Same"}, {"updatedAt", 100}});
        auto profiles = store().normalGroupMemberProfiles(g);
        QCOMPARE(profiles.size(), 2);
        QCOMPARE(profiles.at(0).value("memberRawPublicKey").toString(), QStringLiteral("m1"));
        QCOMPARE(profiles.at(1).value("displayName").toString(), QStringLiteral("Two"));
        QCOMPARE(profiles.at(1).value("avatarId").toString(), QStringLiteral("a"));
        QVERIFY(store().upsertNormalGroupMemberProfile(
            g, QJsonObject{{"memberRawPublicKey", "m2"}, {"displayName", "New"}, {"updatedAt", 101}}));
        profiles = store().normalGroupMemberProfiles(g);
        QCOMPARE(profiles.at(1).value("displayName").toString(), QStringLiteral("New"));
        QCOMPARE(profiles.at(1).value("updatedAt").toInteger(), 101);
        QVERIFY(store().deleteNormalGroupMemberProfile(g, QStringLiteral("m2")));
        QCOMPARE(store().normalGroupMemberProfiles(g).size(), 1);
        // After a delete, any timestamp is accepted again.
        QVERIFY(store().upsertNormalGroupMemberProfile(
            g, QJsonObject{{"memberRawPublicKey", "m2"}, {"displayName", "Back"}, {"updatedAt", 5}}));
        QCOMPARE(store().normalGroupMemberProfiles(g).at(1).value("displayName").toString(), QStringLiteral("Back"));
        QVERIFY(store().normalGroupMemberProfiles(QStringLiteral("other")).isEmpty());
        QVERIFY(!store().upsertNormalGroupMemberProfile(g, QJsonObject{{"displayName", "no key"}}));
    }

    void memberProfileTimeBeyondRangeCountsAsZero()
    {
        // Profiles come from other clients; a time no 64-bit integer can hold
        // must neither overflow the conversion nor lock the profile forever.
        const QString g = QStringLiteral("g");
        QVERIFY(store().upsertNormalGroupMemberProfile(
            g, QJsonObject{{"memberRawPublicKey", "m"}, {"displayName", "Huge"}, {"updatedAt", 1e300}}));
        {
            SideConnection side(m_path);
            QCOMPARE(side.scalar(QStringLiteral("SELECT updated_at FROM normal_group_member_profiles")).toLongLong(), 0);
        }
        QVERIFY(store().upsertNormalGroupMemberProfile(
            g, QJsonObject{{"memberRawPublicKey", "m"}, {"displayName", "Real"}, {"updatedAt", 5}}));
        QCOMPARE(store().normalGroupMemberProfiles(g).at(0).value("displayName").toString(), QStringLiteral("Real"));
        store().upsertNormalGroupMemberProfile(
            g, QJsonObject{{"memberRawPublicKey", "m"}, {"displayName", "Tiny"}, {"updatedAt", -1e300}});
        QCOMPARE(store().normalGroupMemberProfiles(g).at(0).value("displayName").toString(), QStringLiteral("Real"));
    }

    void joinRequestsAndBlocks()
    {
        QVERIFY(store().upsertPendingGroupJoinRequest(
            {QStringLiteral("g"), QStringLiteral("jk1"), QStringLiteral("r1"), QStringLiteral("0x1"), QStringLiteral("R1"), {}, 100}));
        QVERIFY(store().upsertPendingGroupJoinRequest(
            {QStringLiteral("g"), QStringLiteral("jk1"), QStringLiteral("r2"), QStringLiteral("0x2"), QStringLiteral("R2"), {}, 200}));
        QVERIFY(store().upsertPendingGroupJoinRequest(
            {QStringLiteral("g"), QStringLiteral("jk2"), QStringLiteral("r1"), QStringLiteral("0x1b"), QStringLiteral("R1b"), QStringLiteral("av"), 300}));
        const auto list = store().pendingGroupJoinRequests();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list.at(0).requester_public_key, QStringLiteral("r1"));
        QCOMPARE(list.at(0).join_key, QStringLiteral("jk2"));
        QCOMPARE(list.at(0).display_name, QStringLiteral("R1b"));
        QCOMPARE(list.at(0).avatar_id, QStringLiteral("av"));
        QCOMPARE(list.at(0).created_at, 300);
        QVERIFY(store().deletePendingGroupJoinRequest(QStringLiteral("g"), QStringLiteral("r1")));
        QCOMPARE(store().pendingGroupJoinRequests().size(), 1);

        QVERIFY(!store().isJoinBlocked(QStringLiteral("g"), QStringLiteral("r1")));
        QVERIFY(store().blockJoinRequester(QStringLiteral("g"), QStringLiteral("r1")));
        QVERIFY(store().blockJoinRequester(QStringLiteral("g"), QStringLiteral("r1")));
        QVERIFY(store().isJoinBlocked(QStringLiteral("g"), QStringLiteral("r1")));
        QVERIFY(!store().isJoinBlocked(QStringLiteral("h"), QStringLiteral("r1")));
    }

    void deleteConversationRemovesTheWholeGroup()
    {
        const QString g = QStringLiteral("g");
        store().ensureGroupConversation(g, QStringLiteral("G"));
        store().ensureGroupConversation(QStringLiteral("keep"), QStringLiteral("K"));
        store().upsertNormalGroupCard(NormalGroupCardRecord{g});
        store().upsertNormalGroupMemberProfile(g, QJsonObject{{"memberRawPublicKey", "m"}, {"updatedAt", 1}});
        store().upsertPendingGroupJoinRequest({g, {}, QStringLiteral("r"), {}, {}, {}, 1});
        store().blockJoinRequester(g, QStringLiteral("r"));
        store().upsertMessage(message(QStringLiteral("m1"), QStringLiteral("group:g"), QStringLiteral("x"), 1));
        store().upsertMessage(message(QStringLiteral("m2"), QStringLiteral("group:keep"), QStringLiteral("y"), 1));

        QVERIFY(store().deleteConversation(g, false));
        QVERIFY(!store().conversationByPeer(QStringLiteral("group:g")));
        QVERIFY(store().normalGroupCards().isEmpty());
        QVERIFY(store().normalGroupMemberProfiles(g).isEmpty());
        QVERIFY(store().pendingGroupJoinRequests().isEmpty());
        QVERIFY(!store().isJoinBlocked(g, QStringLiteral("r")));
        QVERIFY(store().messageExists(QStringLiteral("m1")));   // kept: withMessages false
        QVERIFY(store().deleteConversation(g, true));
        QVERIFY(!store().messageExists(QStringLiteral("m1")));
        QVERIFY(store().messageExists(QStringLiteral("m2")));
        QVERIFY(store().conversationByPeer(QStringLiteral("group:keep")));
        QVERIFY(!store().deleteConversation(QString(), true));
    }

    // ---- super groups --------------------------------------------------------

    void superGroupUpsertKeepsSequencesGrowing()
    {
        SuperGroupRecord g;
        g.server_url = QStringLiteral("https://sg1");
        g.server_id = QStringLiteral("s1");
        g.name = QStringLiteral("First");
        g.group_kind = QStringLiteral("premium");
        g.role = QStringLiteral("owner");
        g.last_read_seq = 10;
        g.last_message_seq = 20;
        g.unread_count = 10;
        g.updated_at = 100;
        QVERIFY(store().upsertSuperGroup(g));
        QCOMPARE(store().superGroup(g.server_url)->info_json, QStringLiteral("{}"));

        g.name = QStringLiteral("Renamed");
        g.role = QString();
        g.info_json = QStringLiteral("{\"memberCount\":3}");
        g.last_read_seq = 5;
        g.last_message_seq = 25;
        g.unread_count = 2;
        g.muted = true;
        g.updated_at = 90;
        QVERIFY(store().upsertSuperGroup(g));
        const auto r = store().superGroup(g.server_url);
        QVERIFY(r);
        QCOMPARE(r->name, QStringLiteral("Renamed"));
        QVERIFY(r->role.isEmpty());
        QCOMPARE(r->info_json, QStringLiteral("{\"memberCount\":3}"));
        QCOMPARE(r->last_read_seq, 10);
        QCOMPARE(r->last_message_seq, 25);
        QCOMPARE(r->unread_count, 2);
        QVERIFY(r->muted);
        QCOMPARE(r->updated_at, 90);
        QVERIFY(!store().superGroup(QStringLiteral("https://none")));

        SuperGroupRecord other;
        other.server_url = QStringLiteral("https://sg2");
        other.updated_at = 200;
        QVERIFY(store().upsertSuperGroup(other));
        QCOMPARE(store().superGroups().value(0).server_url, QStringLiteral("https://sg2"));
    }

    void superGroupSmallUpdates()
    {
        SuperGroupRecord g;
        g.server_url = QStringLiteral("https://sg");
        g.last_read_seq = 10;
        g.last_message_seq = 10;
        QVERIFY(store().upsertSuperGroup(g));
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        QVERIFY(store().updateSuperGroupReadState(g.server_url, 5, 12, -3));
        auto r = store().superGroup(g.server_url);
        QCOMPARE(r->last_read_seq, 10);
        QCOMPARE(r->last_message_seq, 12);
        QCOMPARE(r->unread_count, 0);
        QVERIFY(r->updated_at >= before);
        QVERIFY(store().updateSuperGroupReadState(g.server_url, 11, 12, 1));
        QCOMPARE(store().superGroup(g.server_url)->last_read_seq, 11);
        QCOMPARE(store().superGroup(g.server_url)->unread_count, 1);

        QVERIFY(store().setSuperGroupMuted(g.server_url, true));
        QVERIFY(store().superGroup(g.server_url)->muted);
        QVERIFY(store().setSuperGroupConnectionState(g.server_url, QStringLiteral("connected")));
        QCOMPARE(store().superGroup(g.server_url)->connection_state, QStringLiteral("connected"));
        // No row, no effect: nothing is created.
        QVERIFY(store().setSuperGroupConnectionState(QStringLiteral("https://none"), QStringLiteral("failed")));
        QVERIFY(store().updateSuperGroupReadState(QStringLiteral("https://none"), 1, 1, 1));
        QVERIFY(store().setSuperGroupMuted(QStringLiteral("https://none"), true));
        QCOMPARE(store().superGroups().size(), 1);
    }

    void superGroupMemberMerge()
    {
        const QString url = QStringLiteral("https://sg");
        QVERIFY(store().upsertSuperGroupMember({url, QStringLiteral("p1"), QStringLiteral("0x1"), QStringLiteral("Ann"),
                                                QStringLiteral("image"), QStringLiteral("av1"), QStringLiteral("admin"),
                                                true, 500}));
        // Empty fields are filled from the stored row, the larger time stays,
        // muted comes from the new record.
        QVERIFY(store().upsertSuperGroupMember({url, QStringLiteral("p1"), {}, QStringLiteral("Anna"), {}, {}, {}, false, 100}));
        auto members = store().superGroupMembers(url);
        QCOMPARE(members.size(), 1);
        const SuperGroupMemberRecord &m = members.at(0);
        QCOMPARE(m.address, QStringLiteral("0x1"));
        QCOMPARE(m.display_name, QStringLiteral("Anna"));
        QCOMPARE(m.avatar_kind, QStringLiteral("image"));
        QCOMPARE(m.avatar_id, QStringLiteral("av1"));
        QCOMPARE(m.role, QStringLiteral("admin"));
        QVERIFY(!m.muted);
        QCOMPARE(m.updated_at, 500);
        QVERIFY(store().upsertSuperGroupMember({url, QStringLiteral("p1"), {}, {}, {}, {}, QStringLiteral("member"), false, 600}));
        QCOMPARE(store().superGroupMembers(url).at(0).role, QStringLiteral("member"));
        QCOMPARE(store().superGroupMembers(url).at(0).updated_at, 600);

        QVERIFY(!store().upsertSuperGroupMember({QString(), QStringLiteral("p2")}));
        QVERIFY(!store().upsertSuperGroupMember({url, QString()}));
        QCOMPARE(store().superGroupMembers(url).size(), 1);
        QVERIFY(store().deleteSuperGroupMember(url, QStringLiteral("p1")));
        QVERIFY(store().superGroupMembers(url).isEmpty());
    }

    void replaceMembersKeepsStoredAvatars()
    {
        const QString url = QStringLiteral("https://sg");
        const QString other = QStringLiteral("https://other");
        store().upsertSuperGroupMember({url, QStringLiteral("p1"), {}, QStringLiteral("Old"), QStringLiteral("lottie"),
                                        QStringLiteral("lottiehead_02"), {}, false, 1});
        store().upsertSuperGroupMember({url, QStringLiteral("gone"), {}, QStringLiteral("Gone"), {}, {}, {}, false, 1});
        store().upsertSuperGroupMember({other, QStringLiteral("p1"), {}, QStringLiteral("Elsewhere"), {}, {}, {}, false, 1});

        QList<SuperGroupMemberRecord> fresh;
        fresh.append({url, QStringLiteral("p1"), QStringLiteral("0x1"), QStringLiteral("New"), {}, {}, QStringLiteral("owner"), false, 10});
        fresh.append({url, QStringLiteral("p2"), QStringLiteral("0x2"), QStringLiteral("Two"), QStringLiteral("image"),
                      QStringLiteral("a2"), QStringLiteral("member"), true, 10});
        QVERIFY(store().replaceSuperGroupMembers(url, fresh));
        auto members = store().superGroupMembers(url);
        QCOMPARE(members.size(), 2);
        for (const auto &m : members) {
            QVERIFY(m.public_key != QStringLiteral("gone"));
            if (m.public_key == QStringLiteral("p1")) {
                QCOMPARE(m.display_name, QStringLiteral("New"));
                QCOMPARE(m.avatar_kind, QStringLiteral("lottie"));
                QCOMPARE(m.avatar_id, QStringLiteral("lottiehead_02"));
                QCOMPARE(m.role, QStringLiteral("owner"));
            } else {
                QCOMPARE(m.avatar_id, QStringLiteral("a2"));
                QVERIFY(m.muted);
            }
        }
        QCOMPARE(store().superGroupMembers(other).size(), 1);
        QVERIFY(store().replaceSuperGroupMembers(url, {}));
        QVERIFY(store().superGroupMembers(url).isEmpty());
    }

    void replaceMembersWithARepeatedKey()
    {
        // A member list that names one key twice is still stored whole: one
        // row for the key, the later entry's values, the other members kept.
        const QString url = QStringLiteral("https://sg");
        QList<SuperGroupMemberRecord> list;
        list.append({url, QStringLiteral("p1"), {}, QStringLiteral("First"), {}, {}, QStringLiteral("member"), false, 1});
        list.append({url, QStringLiteral("p2"), {}, QStringLiteral("Two"), {}, {}, QStringLiteral("member"), false, 1});
        list.append({url, QStringLiteral("p1"), {}, QStringLiteral("Second"), {}, {}, QStringLiteral("admin"), false, 2});
        QVERIFY(store().replaceSuperGroupMembers(url, list));
        QStringList rows;
        for (const auto &m : store().superGroupMembers(url))
            rows << m.public_key + QLatin1Char('=') + m.display_name + QLatin1Char('/') + m.role;
        rows.sort();
        QCOMPARE(rows, (QStringList{"p1=Second/admin", "p2=Two/member"}));
    }

    // ---- notification events ------------------------------------------------

    void notificationUpsertKeepsDecision()
    {
        NotificationEventRecord e;
        e.stable_id = QStringLiteral("normal:g:r");
        e.event_type = QStringLiteral("normal_join");
        e.group_id = QStringLiteral("g");
        e.requester_public_key = QStringLiteral("r");
        e.requester_profile_json = QStringLiteral("{\"displayName\":\"R\"}");
        e.group_name = QStringLiteral("G");
        e.group_kind = QStringLiteral("normal");
        e.created_at = 100;
        QVERIFY(store().upsertNotificationEvent(e));
        QCOMPARE(store().notificationEvent(e.stable_id)->state, QStringLiteral("pending"));
        QVERIFY(store().setNotificationState(e.stable_id, {QStringLiteral("pending")}, QStringLiteral("rejected"),
                                             QStringLiteral("why")));

        NotificationEventRecord again = e;
        again.group_name = QStringLiteral("G renamed");
        again.requester_address = QStringLiteral("0xr");
        again.state = QStringLiteral("pending");
        again.handled_at = 0;
        again.error.clear();
        again.created_at = 50;
        QVERIFY(store().upsertNotificationEvent(again));
        auto r = store().notificationEvent(e.stable_id);
        QVERIFY(r);
        QCOMPARE(r->state, QStringLiteral("rejected"));
        QVERIFY(r->handled_at > 0);
        QCOMPARE(r->error, QStringLiteral("why"));
        QCOMPARE(r->group_name, QStringLiteral("G renamed"));
        QCOMPARE(r->requester_address, QStringLiteral("0xr"));
        QCOMPARE(r->created_at, 100);
        again.created_at = 150;
        QVERIFY(store().upsertNotificationEvent(again));
        QCOMPARE(store().notificationEvent(e.stable_id)->created_at, 150);
        QVERIFY(!store().upsertNotificationEvent(NotificationEventRecord{}));
    }

    void notificationStateChangesExactlyOneRow()
    {
        const QString id = QStringLiteral("super:https://sg:r");
        NotificationEventRecord e;
        e.stable_id = id;
        e.created_at = 10;
        QVERIFY(store().upsertNotificationEvent(e));
        // A neighbour in the same state, which no decision below may touch.
        NotificationEventRecord neighbour;
        neighbour.stable_id = QStringLiteral("super:https://sg:other");
        neighbour.created_at = 11;
        QVERIFY(store().upsertNotificationEvent(neighbour));
        const QStringList fromOpen{QStringLiteral("pending"), QStringLiteral("failed")};

        // Refused before touching anything.
        QVERIFY(!store().setNotificationState(QString(), fromOpen, QStringLiteral("approving"), {}));
        QVERIFY(!store().setNotificationState(id, {}, QStringLiteral("approving"), {}));
        QVERIFY(!store().setNotificationState(id, fromOpen, QString(), {}));
        QVERIFY(!store().setNotificationState(QStringLiteral("unknown"), fromOpen, QStringLiteral("approving"), {}));

        QVERIFY(store().setNotificationState(id, fromOpen, QStringLiteral("approving"), {}));
        auto r = store().notificationEvent(id);
        QCOMPARE(r->state, QStringLiteral("approving"));
        QCOMPARE(r->handled_at, 0);
        // A second decision finds it busy.
        QVERIFY(!store().setNotificationState(id, fromOpen, QStringLiteral("approving"), {}));
        QVERIFY(store().setNotificationState(id, {QStringLiteral("approving")}, QStringLiteral("pending"),
                                             QStringLiteral("join_resolution_failed")));
        QCOMPARE(store().notificationEvent(id)->error, QStringLiteral("join_resolution_failed"));
        QCOMPARE(store().notificationEvent(id)->handled_at, 0);
        QVERIFY(store().setNotificationState(id, fromOpen, QStringLiteral("rejecting"), {}));
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        QVERIFY(store().setNotificationState(id, {QStringLiteral("rejecting")}, QStringLiteral("rejected"), {}));
        r = store().notificationEvent(id);
        QCOMPARE(r->state, QStringLiteral("rejected"));
        QVERIFY(r->handled_at >= before);
        QVERIFY(r->error.isEmpty());
        QVERIFY(!store().setNotificationState(id, fromOpen, QStringLiteral("approving"), {}));
        QCOMPARE(store().notificationEvent(id)->state, QStringLiteral("rejected"));

        const auto untouched = store().notificationEvent(neighbour.stable_id);
        QVERIFY(untouched);
        QCOMPARE(untouched->state, QStringLiteral("pending"));
        QCOMPARE(untouched->handled_at, 0);
        QVERIFY(untouched->error.isEmpty());
    }

    void notificationListSkipsSettled()
    {
        const QStringList states{"pending", "approving", "rejecting", "failed", "approved", "rejected", "handled"};
        for (int i = 0; i < states.size(); ++i) {
            NotificationEventRecord e;
            e.stable_id = QStringLiteral("n%1").arg(i);
            e.state = states.at(i);
            e.created_at = 100 + i;
            QVERIFY(store().upsertNotificationEvent(e));
        }
        const auto open = store().notificationEvents();
        QStringList got;
        for (const auto &e : open)
            got << e.state;
        QCOMPARE(got, (QStringList{"failed", "rejecting", "approving", "pending"}));
        QCOMPARE(store().notificationEvents(true).size(), states.size());
        QCOMPARE(store().notificationEvents(true).at(0).state, QStringLiteral("handled"));
    }

    // ---- pending acknowledgements --------------------------------------------

    void pendingAcksBasics()
    {
        QVERIFY(store().addPendingAck({QStringLiteral("a"), QStringLiteral("b"), QString(), QStringLiteral("c")}));
        QCOMPARE(store().pendingAcks(10), (QStringList{"a", "b", "c"}));
        QCOMPARE(store().pendingAcks(2), (QStringList{"a", "b"}));
        QVERIFY(store().pendingAcks(0).isEmpty());
        QVERIFY(store().addPendingAck({QStringLiteral("a")}));
        QCOMPARE(store().pendingAcks(10).size(), 3);
        QVERIFY(store().deletePendingAck({QStringLiteral("a"), QStringLiteral("zz")}));
        QCOMPARE(store().pendingAcks(10), (QStringList{"b", "c"}));
        // An id named twice in one call is queued once, and removed by one
        // call that names it twice.
        QVERIFY(store().addPendingAck({QStringLiteral("d"), QStringLiteral("d")}));
        QCOMPARE(store().pendingAcks(10), (QStringList{"b", "c", "d"}));
        QVERIFY(store().deletePendingAck({QStringLiteral("d"), QStringLiteral("d")}));
        QCOMPARE(store().pendingAcks(10), (QStringList{"b", "c"}));
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("QuilletTest"));
    QCoreApplication::setApplicationName(QStringLiteral("store-semantics"));
    QStandardPaths::setTestModeEnabled(true);
    StoreSemantics t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_semantics.moc"
