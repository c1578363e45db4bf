// Group messages set aside in the store: the bounds keep the newest (by
// the time they were set aside) of one writer or of all, an owner's rows
// never touch another's, and rows an earlier layout kept without their size
// and time are measured when the file is opened, counted as set aside then.
#include "store_test_util.h"
#include "store/schema.h"

#include <QtTest>

using namespace velmor::chat;
using namespace storetest;

namespace {

ParkedGroupMessageRecord parked(const QString &id, const QString &writer, int size, qint64 parkedAt)
{
    ParkedGroupMessageRecord row;
    row.group_id = QStringLiteral("g");
    row.message_id = id;
    row.sender_raw_public_key = writer;
    row.epoch = 2;
    row.ciphertext = QString(size, QLatin1Char('c'));
    row.created_at = parkedAt;
    row.parked_at = parkedAt;
    return row;
}

} // namespace

class StoreParked : public QObject, protected StoreFiles
{
    Q_OBJECT

    QStringList idsOf(const QString &owner)
    {
        SideConnection side(m_path);
        return side.column(QStringLiteral("SELECT message_id FROM parked_group_messages WHERE owner_raw_public_key=? "
                                          "ORDER BY message_id"),
                           0, {owner});
    }

private slots:
    void init() { m_path = freshPath(QStringLiteral("parked")); }
    void cleanup() { store().close(); }

    // Rows a1..a4 of writer "a" (parked at 1..4, 100 bytes each), b1..b2 of
    // "b" (at 5 and 6, 300 bytes), and the same ids of owner B. The group
    // engine's tests see the bounds held; these see the exact edge of each,
    // another writer's rows and another owner's left alone.
    void trimKeepsTheNewest_data()
    {
        QTest::addColumn<QString>("writer");
        QTest::addColumn<int>("maxRows");
        QTest::addColumn<qint64>("maxBytes");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("within both bounds") << "a" << 4 << qint64(400) << QStringList{"a1", "a2", "a3", "a4", "b1", "b2"};
        QTest::newRow("a writer's rows") << "a" << 2 << qint64(1000) << QStringList{"a3", "a4", "b1", "b2"};
        QTest::newRow("everyone's rows") << "" << 3 << qint64(10'000) << QStringList{"a4", "b1", "b2"};
        QTest::newRow("one byte too many") << "" << 10 << qint64(699) << QStringList{"b1", "b2"};
    }
    void trimKeepsTheNewest()
    {
        QFETCH(QString, writer);
        QFETCH(int, maxRows);
        QFETCH(qint64, maxBytes);
        QFETCH(QStringList, kept);
        for (const QString &owner : {kOwnerB, kOwnerA}) {
            QVERIFY(store().open(owner, m_path));
            for (int i = 1; i <= 4; ++i)
                QVERIFY(store().parkGroupMessage(parked(QStringLiteral("a%1").arg(i), QStringLiteral("a"), 100, i)));
            QVERIFY(store().parkGroupMessage(parked(QStringLiteral("b1"), QStringLiteral("b"), 300, 5)));
            QVERIFY(store().parkGroupMessage(parked(QStringLiteral("b2"), QStringLiteral("b"), 300, 6)));
        }
        QCOMPARE(store().trimParkedGroupMessages(writer, maxRows, maxBytes), 6 - int(kept.size()));
        QCOMPARE(idsOf(kOwnerA), kept);
        QCOMPARE(idsOf(kOwnerB).size(), 6);
        // What the age bound and a card that drops a writer leave.
        QCOMPARE(store().dropParkedGroupMessagesBefore(5), int(kept.filter(QStringLiteral("a")).size()));
        QVERIFY(store().dropParkedGroupMessagesNotFrom(QStringLiteral("g"), {QStringLiteral("a")}));
        QVERIFY(idsOf(kOwnerA).isEmpty());
        QCOMPARE(idsOf(kOwnerB).size(), 6);
    }

    // A file of the layout before the rows kept their size and time.
    void anEarlierLayoutsRowsAreMeasured()
    {
        QVERIFY(store().open(kOwnerA, m_path));
        store().close();
        {
            SideConnection side(m_path);
            QVERIFY(side.exec(QStringLiteral("DROP TABLE parked_group_messages")));
            QVERIFY(side.exec(QStringLiteral(
                "CREATE TABLE parked_group_messages (owner_raw_public_key TEXT NOT NULL DEFAULT '', "
                "group_id TEXT NOT NULL DEFAULT '', message_id TEXT NOT NULL DEFAULT '', "
                "sender_raw_public_key TEXT NOT NULL DEFAULT '', epoch INTEGER NOT NULL DEFAULT 0, "
                "ciphertext TEXT NOT NULL DEFAULT '', created_at INTEGER NOT NULL DEFAULT 0, "
                "content_digest TEXT NOT NULL DEFAULT '', PRIMARY KEY(owner_raw_public_key, group_id, message_id))")));
            QVERIFY(side.exec(QStringLiteral("INSERT INTO parked_group_messages VALUES(?,'g','old','w',2,?,100,'d')"),
                              {kOwnerA, QString(5000, QLatin1Char('c'))}));
            QVERIFY(side.exec(QStringLiteral("PRAGMA user_version = 8")));
        }
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        QVERIFY(store().open(kOwnerA, m_path));
        const QList<ParkedGroupMessageRecord> rows = store().parkedGroupMessages(QStringLiteral("g"), 2);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first().bytes, qint64(5000));
        QVERIFY(rows.first().parked_at >= before && rows.first().parked_at <= QDateTime::currentSecsSinceEpoch());
        QCOMPARE(rows.first().created_at, qint64(100));
        QCOMPARE(store().trimParkedGroupMessages(QString(), 10, 4999), 1);
        store().close();
        SideConnection side(m_path);
        QCOMPARE(side.scalar(QStringLiteral("PRAGMA user_version")).toInt(), velmor::store::kSchemaVersion);
    }
};

QTEST_GUILESS_MAIN(StoreParked)
#include "test_parked.moc"
