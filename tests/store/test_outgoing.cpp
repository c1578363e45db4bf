// Outgoing one-to-one messages kept with their signed envelope: a row and
// its envelope are written together or not at all, and what a restart
// makes of each kind of interrupted or finished send.
#include "store_test_util.h"

#include <QtTest>

#include <future>

using namespace storetest;
using velmor::chat::MessageStatus;

class OutgoingTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;
    int m_file = 0;
    ChatStore m_store;

    velmor::chat::MessageRecord outgoing(const QString &id)
    {
        velmor::chat::MessageRecord m = message(id, m_store.conversationIdFor(kPeer), QStringLiteral("hi"), 100, true);
        m.peer_raw_public_key = kPeer;
        m.is_outgoing = true;
        m.status = MessageStatus::Sending;
        return m;
    }

private slots:
    void init()
    {
        m_path = m_dir.filePath(QStringLiteral("outgoing%1.db").arg(++m_file));
        QVERIFY(m_store.open(kOwnerA, m_path));
        QVERIFY(!m_store.ensureDirectConversation(kPeer, kPeer, QStringLiteral("p")).id.isEmpty());
    }
    void cleanup() { m_store.close(); }

    void restartKeepsWhatCanBePostedAgain_data()
    {
        QTest::addColumn<bool>("envelope");
        QTest::addColumn<int>("finalStatus"); // -1: still sending at the restart
        QTest::addColumn<bool>("deleted");
        QTest::addColumn<int>("statusAfter");
        QTest::addColumn<bool>("envelopeAfter");
        QTest::addColumn<bool>("postedAgain");
        QTest::newRow("sending, envelope stored") << true << -1 << false << int(MessageStatus::Sending) << true << true;
        QTest::newRow("sending, no envelope") << false << -1 << false << int(MessageStatus::Failed) << false << false;
        QTest::newRow("sent") << true << int(MessageStatus::Sent) << false << int(MessageStatus::Sent) << false << false;
        QTest::newRow("failed keeps it for a retry")
            << true << int(MessageStatus::Failed) << false << int(MessageStatus::Failed) << true << false;
        QTest::newRow("deleted while sending") << true << -1 << true << -1 << false << false;
    }
    void restartKeepsWhatCanBePostedAgain()
    {
        QFETCH(bool, envelope);
        QFETCH(int, finalStatus);
        QFETCH(bool, deleted);
        QFETCH(int, statusAfter);
        QFETCH(bool, envelopeAfter);
        QFETCH(bool, postedAgain);
        const QString id = QStringLiteral("m1");
        // A peer's message under the same id, in a conversation of its own, takes no part.
        QVERIFY(m_store.upsertMessage(message(id, QStringLiteral("group:g"), QStringLiteral("theirs"), 50)));
        QVERIFY(envelope ? m_store.upsertMessageWithEnvelope(outgoing(id), QStringLiteral("{\"message_id\":\"m1\"}"))
                         : m_store.upsertMessage(outgoing(id)));
        if (finalStatus >= 0)
            QVERIFY(m_store.setMessageStatus(id, MessageStatus(finalStatus)));
        if (deleted)
            QVERIFY(m_store.deleteMessage(m_store.conversationIdFor(kPeer), id));

        m_store.close();
        QVERIFY(m_store.open(kOwnerA, m_path));
        QVERIFY(m_store.failInterruptedSends());
        const auto row = m_store.messageById(m_store.conversationIdFor(kPeer), id);
        QCOMPARE(row ? int(row->status) : -1, statusAfter);
        QCOMPARE(m_store.messageById(QStringLiteral("group:g"), id)->status, MessageStatus::Received);
        QCOMPARE(!m_store.outgoingEnvelope(id).isEmpty(), envelopeAfter);
        QCOMPARE(m_store.interruptedEnvelopeSends().contains(id), postedAgain);
    }

    // An envelope that cannot be written takes its row with it: nothing
    // would ever post a row shown as sending.
    void refusedEnvelopeLeavesNoRow()
    {
        {
            SideConnection side(m_path);
            QVERIFY(side.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON outgoing_envelopes "
                                             "BEGIN SELECT RAISE(ABORT, 'refused'); END")));
        }
        QVERIFY(!m_store.upsertMessageWithEnvelope(outgoing(QStringLiteral("m2")), QStringLiteral("{}")));
        QVERIFY(!m_store.messageExists(QStringLiteral("m2")));
    }

    // Another identity of the same file neither sees nor posts them.
    void envelopesStayWithTheirOwner()
    {
        QVERIFY(m_store.upsertMessageWithEnvelope(outgoing(QStringLiteral("m3")), QStringLiteral("{}")));
        m_store.close();
        QVERIFY(m_store.open(kOwnerB, m_path));
        QVERIFY(m_store.failInterruptedSends());
        QVERIFY(m_store.interruptedEnvelopeSends().isEmpty());
        m_store.close();
        QVERIFY(m_store.open(kOwnerA, m_path));
        QCOMPARE(m_store.interruptedEnvelopeSends(), QStringList{QStringLiteral("m3")});
    }

    // Closed while the sends of an ended session are handed over: it reads
    // closed at once and takes nothing else, the held write of its owner
    // lands, and the next sign-in's open (another owner's) comes after it.
    void aCloseWaitsForTheHeldWrite()
    {
        std::shared_ptr<void> hold = m_store.holdOpen();
        QVERIFY(hold);
        m_store.close();
        QVERIFY(!m_store.isOpen() && !m_store.holdOpen());
        std::future<bool> reopened = std::async(std::launch::async, [this] { return m_store.open(kOwnerB, m_path); });
        QVERIFY(!m_store.upsertMessage(outgoing(QStringLiteral("m4"))));
        QVERIFY(!m_store.upsertOutgoing(kOwnerB, {outgoing(QStringLiteral("m5"))}, {QStringLiteral("{}")}));
        QVERIFY(m_store.upsertOutgoing(kOwnerA, {outgoing(QStringLiteral("m5"))}, {QStringLiteral("{}")}));
        hold.reset();
        QVERIFY(reopened.get());
        QCOMPARE(m_store.ownerKey(), kOwnerB);
        m_store.close();
        QVERIFY(m_store.open(kOwnerA, m_path));
        QCOMPARE(m_store.interruptedEnvelopeSends(), QStringList{QStringLiteral("m5")});
        QVERIFY(!m_store.messageExists(QStringLiteral("m4")));
    }
};

QTEST_GUILESS_MAIN(OutgoingTest)
#include "test_outgoing.moc"
