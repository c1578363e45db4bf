// Batches: every write of one pulled batch in one transaction, each item a
// savepoint that a failed write undoes alone, nothing on disk before the
// commit; and queued acknowledgements that expire by the time they were
// first queued.
#include "store_test_util.h"

#include <QDateTime>
#include <QtTest>

using namespace velmor::chat;
using namespace storetest;

class StoreBatches : public QObject, protected StoreFiles
{
    Q_OBJECT

    QString conversation() { return store().conversationIdFor(kPeer); }

    // Rows of the file as another process sees them.
    int rowsOnDisk()
    {
        SideConnection side(m_path);
        return side.scalar(QStringLiteral("SELECT COUNT(*) FROM messages")).toInt();
    }

private slots:
    void init()
    {
        m_path = freshPath(QStringLiteral("batch"));
        QVERIFY(store().open(kOwnerA, m_path));
        store().ensureDirectConversation(kPeer, kPeer, QStringLiteral("peer"));
    }
    void cleanup() { store().close(); }

    // keep: which items end kept; the committed file holds exactly those,
    // and the unread count follows them.
    void itemsKeptOrUndone_data()
    {
        QTest::addColumn<QList<bool>>("keep");
        QTest::newRow("all kept") << QList<bool>{true, true, true};
        QTest::newRow("middle undone") << QList<bool>{true, false, true};
        QTest::newRow("none kept") << QList<bool>{false, false};
    }
    void itemsKeptOrUndone()
    {
        QFETCH(QList<bool>, keep);
        ChatStore::Batch batch(store());
        QVERIFY(batch.active());
        int kept = 0;
        for (int i = 0; i < keep.size(); ++i) {
            QVERIFY(store().beginBatchItem());
            const QString id = QStringLiteral("m%1").arg(i);
            QVERIFY(store().upsertMessage(message(id, conversation(), id, 10 + i)));
            // The batch reads its own writes before the commit.
            QVERIFY(store().messageExists(id));
            QCOMPARE(store().endBatchItem(keep.at(i)), keep.at(i));
            kept += keep.at(i) ? 1 : 0;
        }
        QCOMPARE(rowsOnDisk(), 0);
        QVERIFY(batch.commit());
        QCOMPARE(rowsOnDisk(), kept);
        QCOMPARE(store().conversationByPeer(kPeer)->unread_count, kept);
        for (int i = 0; i < keep.size(); ++i)
            QCOMPARE(store().messageExists(QStringLiteral("m%1").arg(i)), keep.at(i));
    }

    // A write that fails inside an item (one the file refuses) fails
    // alone; the batch goes on and commits the rest.
    void refusedWriteDoesNotSpoilTheBatch()
    {
        QVERIFY(store().upsertMessage(message(QStringLiteral("taken"), QStringLiteral("group:g"), QStringLiteral("x"), 1)));
        QVERIFY(SideConnection(m_path).exec(QStringLiteral("CREATE TRIGGER refuse BEFORE UPDATE ON messages "
                                                           "BEGIN SELECT RAISE(ABORT, 'refused'); END")));
        ChatStore::Batch batch(store());
        QVERIFY(store().beginBatchItem());
        QVERIFY(!store().upsertMessage(message(QStringLiteral("taken"), QStringLiteral("group:g"), QStringLiteral("y"), 2)));
        QVERIFY(!store().endBatchItem(false));
        QVERIFY(store().beginBatchItem());
        QVERIFY(store().upsertMessage(message(QStringLiteral("fresh"), conversation(), QStringLiteral("z"), 3)));
        QVERIFY(store().endBatchItem(true));
        QVERIFY(batch.commit());
        QCOMPARE(store().messageById(QStringLiteral("taken"))->text, QStringLiteral("x"));
        QVERIFY(store().messageExists(QStringLiteral("fresh")));
    }

    // A batch that is never committed (dropped, or the store closed under
    // it, as a killed process would) leaves the file as it was. One whose
    // store was closed and opened again, for another owner as at a sign-out
    // and another's sign-in, writes nothing more into either.
    void uncommittedBatchLeavesNothing_data()
    {
        QTest::addColumn<bool>("closeStore");
        QTest::addColumn<QString>("reopenFor");
        QTest::newRow("batch dropped") << false << QString();
        QTest::newRow("store closed mid-batch") << true << QString();
        QTest::newRow("same owner's store opened again mid-batch") << true << kOwnerA;
        QTest::newRow("another owner's store opened mid-batch") << true << kOwnerB;
    }
    void uncommittedBatchLeavesNothing()
    {
        QFETCH(bool, closeStore);
        QFETCH(QString, reopenFor);
        {
            ChatStore::Batch batch(store(), kOwnerA);
            QVERIFY(batch.active());
            QVERIFY(store().upsertMessage(message(QStringLiteral("lost"), conversation(), QStringLiteral("t"), 5)));
            QVERIFY(store().addPendingAck({QStringLiteral("lost")}));
            if (closeStore)
                store().close();
            if (!reopenFor.isEmpty()) {
                QVERIFY(store().open(reopenFor, m_path));
                QVERIFY(!store().upsertMessage(message(QStringLiteral("late"), QStringLiteral("group:g"), QStringLiteral("t"), 6)));
                QVERIFY(!store().addPendingAck({QStringLiteral("late")}));
            }
            if (closeStore)
                QVERIFY(!batch.commit());
        }
        QCOMPARE(rowsOnDisk(), 0);
        if (!reopenFor.isEmpty())
            store().close();
        QVERIFY(store().open(kOwnerA, m_path));
        QVERIFY(!store().messageExists(QStringLiteral("lost")));
        QVERIFY(store().pendingAcks(10).isEmpty());
        // And a new batch starts cleanly afterwards, only for the store's owner.
        QVERIFY(!ChatStore::Batch(store(), kOwnerB).active());
        ChatStore::Batch again(store(), kOwnerA);
        QVERIFY(again.active());
        QVERIFY(again.commit());
    }

    void batchesDoNotNest()
    {
        ChatStore::Batch outer(store());
        QVERIFY(outer.active());
        ChatStore::Batch inner(store());
        QVERIFY(!inner.active());
        QVERIFY(outer.commit());
        QVERIFY(!store().beginBatchItem()); // no batch any more
    }

    // An id refused again and again keeps its first queued time, so it
    // expires; re-queueing only moves it behind the others.
    void pendingAcksExpireByFirstQueuedTime()
    {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        {
            SideConnection side(m_path);
            QVERIFY(side.exec(QStringLiteral("INSERT INTO pending_acks(owner_raw_public_key,message_id,updated_at,queued_at) "
                                             "VALUES(?,?,?,?)"),
                              {kOwnerA, QStringLiteral("old"), now - 10, now - 1000}));
            // A row of an older layout: no queued time, its updated_at counts.
            QVERIFY(side.exec(QStringLiteral("INSERT INTO pending_acks(owner_raw_public_key,message_id,updated_at) "
                                             "VALUES(?,?,?)"),
                              {kOwnerA, QStringLiteral("legacy"), now - 1000}));
        }
        QVERIFY(store().addPendingAck({QStringLiteral("new")}));
        QVERIFY(store().addPendingAck({QStringLiteral("old")})); // refused again: behind "new"
        QCOMPARE(store().pendingAcks(10), (QStringList{"legacy", "new", "old"}));
        QCOMPARE(store().dropPendingAcksQueuedBefore(now - 500), 2);
        QCOMPARE(store().pendingAcks(10), QStringList{"new"});
    }
};

QTEST_GUILESS_MAIN(StoreBatches)
#include "test_batches.moc"
