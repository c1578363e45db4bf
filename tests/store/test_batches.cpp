// Batch writes of messages (one relay pull in one transaction) against the
// same messages stored one by one, a batch that fails part-way, and the
// read of the columns a message list shows.
#include "store_test_util.h"

#include <QCoreApplication>
#include <QtTest>

using namespace velmor::chat;
using namespace storetest;

namespace {

MessageRecord withKind(MessageRecord m, const char *contentType, const char *eventType = "")
{
    m.content_type = QLatin1String(contentType);
    m.system_event_type = QLatin1String(eventType);
    return m;
}

// Everything a batch can meet: new incoming and outgoing messages, system
// notices of both forms, a repeat of an id inside the batch, an id already
// stored, an id of another conversation, an empty id, and two conversations.
struct Scenario
{
    QString first, second;
    QList<MessageRecord> before; // stored one by one first
    QList<MessageRecord> batch;
    QList<bool> expected;

    explicit Scenario(ChatStore &store)
    {
        first = store.ensureDirectConversation(kPeer, kPeer, QStringLiteral("p")).id;
        second = store.ensureGroupConversation(QStringLiteral("g"), QStringLiteral("G")).id;
        before = {message(QStringLiteral("old"), first, QStringLiteral("stored before"), 50),
                  message(QStringLiteral("theirs"), second, QStringLiteral("of the group"), 60)};
        MessageRecord changedOld = message(QStringLiteral("old"), first, QStringLiteral("edited"), 999);
        changedOld.status = MessageStatus::Failed;
        MessageRecord repeat = message(QStringLiteral("in1"), first, QStringLiteral("in one again"), 101);
        repeat.delivery_state = QStringLiteral("delivered");
        batch = {message(QStringLiteral("in1"), first, QStringLiteral("in one"), 100),
                 message(QStringLiteral("out1"), first, QStringLiteral("out one"), 102, true),
                 withKind(message(QStringLiteral("sys1"), second, QStringLiteral("joined"), 103), "system"),
                 withKind(message(QStringLiteral("sys2"), second, QStringLiteral("left"), 104), "text", "member_left"),
                 repeat,
                 changedOld,
                 message(QStringLiteral("theirs"), first, QStringLiteral("hijack"), 105),
                 message(QString(), first, QStringLiteral("no id"), 106),
                 message(QStringLiteral("in2"), second, QStringLiteral("in two"), 40),
                 message(QStringLiteral("in3"), first, QStringLiteral("in three"), 90)};
        expected = {true, true, true, true, true, true, false, false, true, true};
    }
};

struct Snapshot
{
    QList<ConversationRecord> conversations;
    QList<MessageRecord> firstMessages, secondMessages;
};

Snapshot snapshot(ChatStore &store, const Scenario &s)
{
    Snapshot out;
    bool ok = false;
    out.conversations = store.visibleConversations(&ok);
    out.firstMessages = store.messages(s.first);
    out.secondMessages = store.messages(s.second);
    return out;
}

bool sameConversations(const QList<ConversationRecord> &a, const QList<ConversationRecord> &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (a[i].id != b[i].id || a[i].last_message != b[i].last_message || a[i].last_timestamp != b[i].last_timestamp
            || a[i].unread_count != b[i].unread_count || a[i].hidden_from_chats != b[i].hidden_from_chats)
            return false;
    }
    return true;
}

QStringList idsAndTexts(const QList<MessageRecord> &list)
{
    QStringList out;
    for (const MessageRecord &m : list)
        out << m.id + QLatin1Char('=') + m.text + QLatin1Char('/') + QString::number(int(m.status))
                   + QLatin1Char('/') + m.delivery_state;
    return out;
}

} // namespace

class StoreBatches : public QObject, protected StoreFiles
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void cleanup() { store().close(); }

    void batchEqualsOneByOne()
    {
        // One by one.
        QVERIFY(store().open(kOwnerA, freshPath(QStringLiteral("single"))));
        const Scenario single(store());
        for (const MessageRecord &m : single.before)
            QVERIFY(store().upsertMessage(m));
        QList<bool> singleResults;
        for (const MessageRecord &m : single.batch)
            singleResults << store().upsertMessage(m);
        const Snapshot expected = snapshot(store(), single);
        store().close();
        QCOMPARE(singleResults, single.expected);

        // As one batch.
        QVERIFY(store().open(kOwnerA, freshPath(QStringLiteral("batch"))));
        const Scenario batch(store());
        QVERIFY(store().upsertMessages(batch.before));
        QList<bool> stored;
        QVERIFY(store().upsertMessages(batch.batch, &stored));
        QCOMPARE(stored, batch.expected);
        const Snapshot got = snapshot(store(), batch);

        QVERIFY(sameConversations(got.conversations, expected.conversations));
        QCOMPARE(idsAndTexts(got.firstMessages), idsAndTexts(expected.firstMessages));
        QCOMPARE(idsAndTexts(got.secondMessages), idsAndTexts(expected.secondMessages));
        // The id of the group's message was not taken over by the other
        // conversation, and the incoming messages count as unread once each.
        QCOMPARE(store().messageById(QStringLiteral("theirs"))->conversation_id, batch.second);
        QCOMPARE(store().conversationByPeer(kPeer)->unread_count, 3); // old, in1, in3
        QCOMPARE(store().conversationByPeer(kPeer)->last_message, QStringLiteral("in three"));
    }

    void batchFailingPartWayWritesNothing()
    {
        m_path = freshPath(QStringLiteral("fail"));
        QVERIFY(store().open(kOwnerA, m_path));
        const QString conv = store().ensureDirectConversation(kPeer, kPeer, QStringLiteral("p")).id;
        QVERIFY(store().upsertMessage(message(QStringLiteral("kept"), conv, QStringLiteral("kept"), 10)));
        {
            SideConnection side(m_path);
            QVERIFY(side.exec(QStringLiteral("CREATE TRIGGER refuse_boom BEFORE INSERT ON messages "
                                             "WHEN NEW.id='boom' BEGIN SELECT RAISE(ABORT, 'refused'); END")));
        }
        QList<bool> stored{true};
        QVERIFY(!store().upsertMessages({message(QStringLiteral("a"), conv, QStringLiteral("a"), 20),
                                         message(QStringLiteral("boom"), conv, QStringLiteral("boom"), 30),
                                         message(QStringLiteral("b"), conv, QStringLiteral("b"), 40)},
                                        &stored));
        QVERIFY(stored.isEmpty());
        QCOMPARE(idsAndTexts(store().messages(conv)), QStringList{QStringLiteral("kept=kept/4/")});
        const auto row = store().conversationByPeer(kPeer);
        QCOMPARE(row->last_message, QStringLiteral("kept"));
        QCOMPARE(row->unread_count, 1);
        // The store goes on working after the failed batch.
        QVERIFY(store().upsertMessages({message(QStringLiteral("c"), conv, QStringLiteral("c"), 50)}));
        QCOMPARE(store().conversationByPeer(kPeer)->last_message, QStringLiteral("c"));
    }

    // A file of the earlier version 3 layout kept the preview with a trigger
    // on every insert; with it left in place each new message would count
    // twice as unread.
    void previewTriggerOfAnEarlierLayoutIsDropped()
    {
        m_path = freshPath(QStringLiteral("trigger"));
        QVERIFY(store().open(kOwnerA, m_path));
        const QString conv = store().ensureDirectConversation(kPeer, kPeer, QStringLiteral("p")).id;
        store().close();
        {
            SideConnection side(m_path);
            QVERIFY(side.exec(QStringLiteral(
                "CREATE TRIGGER messages_preview AFTER INSERT ON messages BEGIN UPDATE conversations SET "
                "unread_count=unread_count+1 WHERE owner_raw_public_key=NEW.owner_raw_public_key AND "
                "id=NEW.conversation_id; END")));
        }
        QVERIFY(store().open(kOwnerA, m_path));
        QVERIFY(store().upsertMessage(message(QStringLiteral("one"), conv, QStringLiteral("one"), 10)));
        QVERIFY(store().upsertMessages({message(QStringLiteral("two"), conv, QStringLiteral("two"), 20)}));
        QCOMPARE(store().conversationByPeer(kPeer)->unread_count, 2);
    }

    void closedStoreRefusesABatch()
    {
        QList<bool> stored{true};
        QVERIFY(!store().upsertMessages({message(QStringLiteral("x"), QStringLiteral("c"), QStringLiteral("x"), 1)},
                                        &stored));
        QVERIFY(stored.isEmpty());
        bool ok = true;
        QVERIFY(store().shownMessages(QStringLiteral("c"), &ok).isEmpty());
        QVERIFY(!ok);
    }

    void shownMessagesCarryTheShownColumns()
    {
        QVERIFY(store().open(kOwnerA, freshPath(QStringLiteral("shown"))));
        const QString conv = store().ensureGroupConversation(QStringLiteral("g"), QStringLiteral("G")).id;
        MessageRecord full = message(QStringLiteral("m1"), conv, QString::fromUtf8("héllo ✓ 你好"), 100);
        full.attachment = QStringLiteral("{\"kind\":\"image\"}");
        full.sender_address = QStringLiteral("0xabc");
        full.sender_display_name = QStringLiteral("Ann");
        full.sender_avatar_kind = QStringLiteral("image");
        full.sender_avatar_id = QStringLiteral("a1");
        full.system_event_type = QStringLiteral("member_joined");
        full.content_type = QStringLiteral("image");
        full.server_seq = 9;
        full.delivery_state = QStringLiteral("delivered");
        full.content_digest = QStringLiteral("digest");
        QVERIFY(store().upsertMessages({full, message(QStringLiteral("m0"), conv, QStringLiteral("same second"), 100)}));

        bool ok = false;
        const QList<MessageRecord> shown = store().shownMessages(conv, &ok);
        QVERIFY(ok);
        QCOMPARE(shown.size(), 2);
        const QList<MessageRecord> all = store().messages(conv);
        for (int i = 0; i < shown.size(); ++i) {
            const MessageRecord &s = shown[i], &a = all[i];
            QCOMPARE(s.id, a.id); // same order: time, then the order stored
            QCOMPARE(s.conversation_id, conv);
            QCOMPARE(s.text, a.text);
            QCOMPARE(s.created_at, a.created_at);
            QCOMPARE(s.is_outgoing, a.is_outgoing);
            QCOMPARE(s.status, a.status);
            QCOMPARE(s.attachment, a.attachment);
            QCOMPARE(s.sender_address, a.sender_address);
            QCOMPARE(s.sender_display_name, a.sender_display_name);
            QCOMPARE(s.sender_avatar_kind, a.sender_avatar_kind);
            QCOMPARE(s.sender_avatar_id, a.sender_avatar_id);
            QCOMPARE(s.content_type, a.content_type);
            QCOMPARE(s.system_event_type, a.system_event_type);
            QVERIFY(s.content_digest.isEmpty() && s.delivery_state.isEmpty() && s.server_seq == 0);
        }
        QCOMPARE(shown[0].text, full.text);
        QCOMPARE(all[0].content_digest, QStringLiteral("digest"));
    }
};

QTEST_GUILESS_MAIN(StoreBatches)
#include "test_batches.moc"
