// The send journal through what ends a program or a session: a record cut
// short by a kill, a file emptied and written again, another identity's
// records, a message deleted before the journal was read back, the same
// send kept twice.
#include "chat/send_journal.h"
#include "store/chat_store.h"
#include "store/store_test_util.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace velmor::chat;

class SendJournalTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_case = 0;

    static JournaledSend send(const QString &owner, const QString &id)
    {
        JournaledSend out{owner,
                          storetest::message(id, QStringLiteral("c"), QStringLiteral("text ") + id,
                                             QDateTime::currentSecsSinceEpoch()),
                          {}};
        out.row.is_outgoing = true;
        out.row.status = MessageStatus::Sending;
        out.envelope = QStringLiteral("{\"id\":\"%1\"}").arg(id);
        return out;
    }
    static QStringList idsOf(const QList<JournaledSend> &sends)
    {
        QStringList ids;
        for (const JournaledSend &s : sends)
            ids << s.row.id;
        return ids;
    }

private slots:
    void cleanup() { ChatStore::instance().close(); }

    void keepsWhatWasShownOnce_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QStringList>("written"); // by the replay
        QTest::addColumn<QStringList>("left");    // read after it
        QTest::newRow("a record cut short by a kill ends the file there") << "cut" << QStringList{"a"} << QStringList{};
        QTest::newRow("an emptied file's old records are not read again") << "again" << QStringList{"a", "b"}
                                                                          << QStringList{"c"};
        QTest::newRow("another identity's records stay for its sign-in") << "other" << QStringList{"a"}
                                                                         << QStringList{"a", "x"};
        QTest::newRow("a message deleted meanwhile is not brought back") << "deleted" << QStringList{"b"}
                                                                         << QStringList{};
        QTest::newRow("the same send kept twice is written once") << "twice" << QStringList{"a"} << QStringList{};
    }
    void keepsWhatWasShownOnce()
    {
        QFETCH(QString, what);
        QFETCH(QStringList, written);
        QFETCH(QStringList, left);
        const QString me = storetest::kOwnerA;
        const QString db = m_dir.filePath(QStringLiteral("case-%1/store.db").arg(++m_case));
        const QString path = SendJournal::pathBeside(db);
        ChatStore &store = ChatStore::instance();
        QVERIFY(store.open(me, db));
        QVERIFY(SendJournal::reserve(path));
        QCOMPARE(QFileInfo(path).size(), SendJournal::kReservedBytes);

        if (what == "cut") {
            QVERIFY(SendJournal::append(path, {send(me, "a")}));
            QVERIFY(SendJournal::append(path, {send(me, "b")}));
            // The second record's last bytes never reached the disk.
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            const QByteArray whole = file.readAll();
            const qint64 last = whole.indexOf(QByteArray(16, '\0'), whole.indexOf("text b"));
            QVERIFY(last > 0 && file.seek(last - 2) && file.write("\0\0", 2) == 2);
        } else if (what == "other") {
            QVERIFY(SendJournal::append(path, {send(me, "a"), send(QStringLiteral("someone else"), "x")}));
        } else if (what == "deleted") {
            QVERIFY(SendJournal::append(path, {send(me, "a"), send(me, "b")}));
            QVERIFY(store.upsertMessage(send(me, "a").row));
            QVERIFY(store.deleteMessage(QStringLiteral("c"), QStringLiteral("a")));
        } else {
            QVERIFY(SendJournal::append(path, {send(me, "a")}));
            QVERIFY(SendJournal::append(path, {send(me, what == "twice" ? "a" : "b")}));
        }
        const auto replayed = SendJournal::replay(path, me, store);
        QVERIFY(replayed);
        QStringList ids;
        for (const MessageRecord &row : *replayed)
            ids << row.id;
        QCOMPARE(ids, written);
        for (const QString &id : written) {
            QCOMPARE(store.messageById(id)->status, MessageStatus::Sending);
            QCOMPARE(store.outgoingEnvelope(id), send(me, id).envelope);
        }
        if (what == "again")
            QVERIFY(SendJournal::append(path, {send(me, "c")}));
        QCOMPARE(idsOf(SendJournal::read(path)), left);
        // A second replay finds nothing more to write.
        QCOMPARE(SendJournal::replay(path, me, store)->size(), what == "again" ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(SendJournalTest)
#include "test_send_journal.moc"
