// Two identities share one database file. They use identical message ids,
// conversation ids, group ids, server URLs and stable ids; neither may see,
// change or delete the other's rows through any operation.
#include "store_test_util.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QtTest>

using namespace velmor::chat;
using namespace storetest;

namespace {

const QString kGroup = QStringLiteral("g1");
const QString kGroupPeer = QStringLiteral("group:g1");
const QString kUrl = QStringLiteral("https://sg.example");
const QString kStable = QStringLiteral("normal:g1:requester");
const QString kMsg = QStringLiteral("same-message-id");
const QString kGroupMsg = QStringLiteral("same-group-message-id");

// Writes one row into every table, with values tagged by `tag`.
void fillEverything(ChatStore &s, const QString &tag, qint64 t)
{
    QVERIFY(s.ensureDirectConversation(kPeer, kPeer, tag).id.size() > 0);
    QVERIFY(s.ensureGroupConversation(kGroup, tag).id == kGroupPeer);
    QVERIFY(s.upsertMessage(message(kGroupMsg, kGroupPeer, tag, t)));
    QVERIFY(s.upsertMessage(message(kMsg, QStringLiteral("sg:") + kUrl, tag, t)));
    QVERIFY(s.upsertContact(ContactRecord{kPeer, tag, tag, {}, {}, 0, t}));
    NormalGroupCardRecord card;
    card.group_id = kGroup;
    card.name = tag;
    QVERIFY(s.upsertNormalGroupCard(card));
    QVERIFY(s.upsertNormalGroupMemberProfile(kGroup, QJsonObject{{"memberRawPublicKey", kPeer}, {"displayName", tag}, {"updatedAt", t}}));
    QVERIFY(s.upsertPendingGroupJoinRequest({kGroup, tag, kPeer, tag, tag, {}, t}));
    QVERIFY(s.blockJoinRequester(kGroup, kPeer));
    SuperGroupRecord g;
    g.server_url = kUrl;
    g.name = tag;
    g.last_read_seq = t;
    g.last_message_seq = t;
    g.updated_at = t;
    QVERIFY(s.upsertSuperGroup(g));
    QVERIFY(s.upsertSuperGroupMember({kUrl, kPeer, tag, tag, {}, {}, QStringLiteral("member"), false, t}));
    NotificationEventRecord e;
    e.stable_id = kStable;
    e.group_name = tag;
    e.created_at = t;
    QVERIFY(s.upsertNotificationEvent(e));
    QVERIFY(s.addPendingAck({kMsg}));
}

// Every row written by fillEverything(tag) is still there, unchanged.
void expectEverything(ChatStore &s, const QString &tag, qint64 t)
{
    const auto direct = s.conversationByPeer(kPeer);
    QVERIFY(direct);
    QCOMPARE(direct->peer_display_key, tag);
    QVERIFY(!direct->muted);
    QVERIFY(!direct->hidden_from_chats);
    const auto group = s.conversationByPeer(kGroupPeer);
    QVERIFY(group);
    QCOMPARE(group->peer_display_key, tag);
    QCOMPARE(group->unread_count, 1);
    QCOMPARE(group->last_message, tag);
    QCOMPARE(group->last_timestamp, t);
    QCOMPARE(s.visibleConversations().size(), 2);

    QCOMPARE(s.messageById(kMsg)->text, tag);
    QCOMPARE(s.messageById(kGroupMsg)->text, tag);
    QCOMPARE(s.messages(kGroupPeer).size(), 1);
    QString last;
    qint64 ts = 0;
    QVERIFY(s.lastMessage(QStringLiteral("sg:") + kUrl, last, ts));
    QCOMPARE(last, tag);

    QCOMPARE(s.contact(kPeer)->remark, tag);
    QCOMPARE(s.contact(kPeer)->blocked, 0);
    QCOMPARE(s.contacts().size(), 1);
    QCOMPARE(s.normalGroupCards().size(), 1);
    QCOMPARE(s.normalGroupCards().at(0).name, tag);
    QVERIFY(s.normalGroupCards().at(0).visible);
    QCOMPARE(s.normalGroupMemberProfiles(kGroup).size(), 1);
    QCOMPARE(s.normalGroupMemberProfiles(kGroup).at(0).value("displayName").toString(), tag);
    QCOMPARE(s.pendingGroupJoinRequests().size(), 1);
    QCOMPARE(s.pendingGroupJoinRequests().at(0).display_name, tag);
    QVERIFY(s.isJoinBlocked(kGroup, kPeer));
    QCOMPARE(s.superGroup(kUrl)->name, tag);
    QCOMPARE(s.superGroup(kUrl)->last_read_seq, t);
    QVERIFY(!s.superGroup(kUrl)->muted);
    QCOMPARE(s.superGroups().size(), 1);
    QCOMPARE(s.superGroupMembers(kUrl).size(), 1);
    QCOMPARE(s.superGroupMembers(kUrl).at(0).display_name, tag);
    QCOMPARE(s.notificationEvent(kStable)->group_name, tag);
    QCOMPARE(s.notificationEvent(kStable)->state, QStringLiteral("pending"));
    QCOMPARE(s.notificationEvents(true).size(), 1);
    QCOMPARE(s.pendingAcks(10), QStringList{kMsg});
}

} // namespace

class StoreIsolation : public QObject, protected StoreFiles
{
    Q_OBJECT

private slots:
    void sameIdsLiveSideBySide()
    {
        const QString path = m_dir.filePath(QStringLiteral("shared.db"));
        QVERIFY(store().open(kOwnerA, path));
        fillEverything(store(), QStringLiteral("A"), 100);
        QVERIFY(store().open(kOwnerB, path));   // switches owner without close
        // B starts empty although every id exists for A.
        QVERIFY(!store().messageExists(kMsg));
        QVERIFY(store().messageContentDigest(QStringLiteral("sg:") + kUrl, kMsg).isEmpty());
        QVERIFY(store().visibleConversations().isEmpty());
        QVERIFY(store().contacts().isEmpty());
        QVERIFY(store().normalGroupCards().isEmpty());
        QVERIFY(!store().isJoinBlocked(kGroup, kPeer));
        QVERIFY(store().superGroups().isEmpty());
        QVERIFY(store().superGroupMembers(kUrl).isEmpty());
        QVERIFY(!store().notificationEvent(kStable));
        QVERIFY(store().pendingAcks(10).isEmpty());

        fillEverything(store(), QStringLiteral("B"), 200);
        expectEverything(store(), QStringLiteral("B"), 200);
        // The one-to-one conversation ids differ by owner.
        QVERIFY(store().conversationIdFor(kPeer).contains(kOwnerB));

        QVERIFY(store().open(kOwnerA, path));
        expectEverything(store(), QStringLiteral("A"), 100);
        store().close();
    }

    void writesOfOneOwnerLeaveTheOtherAlone()
    {
        const QString path = m_dir.filePath(QStringLiteral("writes.db"));
        QVERIFY(store().open(kOwnerA, path));
        fillEverything(store(), QStringLiteral("A"), 100);
        QVERIFY(store().open(kOwnerB, path));
        fillEverything(store(), QStringLiteral("B"), 200);

        // B changes and deletes everything it can name.
        MessageRecord again = message(kMsg, QStringLiteral("sg:") + kUrl, QStringLiteral("B2"), 300);
        again.status = MessageStatus::Failed;
        QVERIFY(store().upsertMessage(again));
        QVERIFY(store().updateMessageText(kGroupPeer, kGroupMsg, QStringLiteral("B edited")));
        QVERIFY(store().resetUnread(kGroupPeer));
        QVERIFY(store().bumpConversationTimestamp(kGroupPeer, 999999));
        QVERIFY(store().setConversationMuted(kPeer, true));
        QVERIFY(store().setPeerWalletCard(kPeer, QStringLiteral("{}"), QStringLiteral("0xB")));
        QVERIFY(store().setPeerHasMyWalletCard(kPeer, true));
        QVERIFY(store().clearConversation(store().conversationIdFor(kPeer)));
        QVERIFY(store().ensureGroupConversation(kGroup, QStringLiteral("B renamed")).id == kGroupPeer);
        QVERIFY(store().setContactBlocked(kPeer, true));
        QVERIFY(store().updateNormalGroupCardSettings(kGroup, false, QStringLiteral("nick"), true));
        QVERIFY(store().setSuperGroupMuted(kUrl, true));
        QVERIFY(store().setSuperGroupConnectionState(kUrl, QStringLiteral("failed")));
        QVERIFY(store().updateSuperGroupReadState(kUrl, 5000, 5000, 0));
        QVERIFY(store().upsertSuperGroupMember({kUrl, kPeer, {}, QStringLiteral("B new"), {}, {}, {}, true, 400}));
        QVERIFY(store().setNotificationState(kStable, {QStringLiteral("pending")}, QStringLiteral("approved"), {}));
        QVERIFY(store().deleteMessage(again.conversation_id, kMsg));
        QVERIFY(store().deleteContact(kPeer));
        QVERIFY(store().deleteNormalGroupMemberProfile(kGroup, kPeer));
        QVERIFY(store().deletePendingGroupJoinRequest(kGroup, kPeer));
        QVERIFY(store().deleteSuperGroupMember(kUrl, kPeer));
        QVERIFY(store().replaceSuperGroupMembers(kUrl, {}));
        QVERIFY(store().deletePendingAck({kMsg}));
        QVERIFY(store().deleteConversation(kGroup, true));
        QVERIFY(!store().messageExists(kGroupMsg));
        QVERIFY(store().normalGroupCards().isEmpty());

        QVERIFY(store().open(kOwnerA, path));
        expectEverything(store(), QStringLiteral("A"), 100);
        store().close();
    }

    void twoStoreObjectsOnOneFile()
    {
        // Two store objects, each with its own owner, open at the same time.
        const QString path = m_dir.filePath(QStringLiteral("two.db"));
        ChatStore a;
        ChatStore b;
        QVERIFY(a.open(kOwnerA, path));
        QVERIFY(b.open(kOwnerB, path));
        QVERIFY(a.upsertMessage(message(kMsg, QStringLiteral("c"), QStringLiteral("from A"), 1)));
        QVERIFY(b.upsertMessage(message(kMsg, QStringLiteral("c"), QStringLiteral("from B"), 2)));
        QCOMPARE(a.messageById(kMsg)->text, QStringLiteral("from A"));
        QCOMPARE(b.messageById(kMsg)->text, QStringLiteral("from B"));
        QVERIFY(b.deleteMessage(QStringLiteral("c"), kMsg));
        QVERIFY(a.messageExists(kMsg));
        QVERIFY(!b.messageExists(kMsg));
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    StoreIsolation t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_isolation.moc"
