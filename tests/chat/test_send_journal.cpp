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

#include <csignal>

#include <sys/resource.h>

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

    // Room is taken ahead of need while the disk has space; once it has
    // none, what fits in the room taken is kept and what does not is
    // refused whole.
    void roomIsTakenAheadOfNeed_data()
    {
        QTest::addColumn<int>("textBytes");
        QTest::addColumn<bool>("diskFull"); // no byte beyond the reserve
        QTest::addColumn<bool>("kept");
        QTest::addColumn<qint64>("sizeAfter"); // at least, in reserves
        QTest::newRow("a short text in the reserve") << 1000 << false << true << qint64(1);
        QTest::newRow("past half the reserve, it grows to twice its use") << 700 * 1024 << false << true << qint64(2);
        QTest::newRow("a long text in the room taken, disk full") << 300 * 1024 << true << true << qint64(1);
        QTest::newRow("a long text beyond the room, disk full") << 1200 * 1024 << true << false << qint64(1);
    }
    void roomIsTakenAheadOfNeed()
    {
        QFETCH(int, textBytes);
        QFETCH(bool, diskFull);
        QFETCH(bool, kept);
        QFETCH(qint64, sizeAfter);
        const QString me = storetest::kOwnerA;
        const QString path = SendJournal::pathBeside(m_dir.filePath(QStringLiteral("room-%1/store.db").arg(++m_case)));
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QVERIFY(SendJournal::reserve(path));
        JournaledSend big = send(me, QStringLiteral("big"));
        big.row.text = QString(textBytes, QLatin1Char('y'));
        QVERIFY(SendJournal::append(path, {send(me, QStringLiteral("small"))}));
        rlimit before{};
        ::getrlimit(RLIMIT_FSIZE, &before);
        if (diskFull) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit = before;
            limit.rlim_cur = rlim_t(QFileInfo(path).size());
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
        }
        // Asked for before the send is shown, then kept when the store refuses it.
        const bool room = SendJournal::reserveFor(path, SendJournal::sizeOf(big));
        const bool appended = SendJournal::append(path, {big});
        ::setrlimit(RLIMIT_FSIZE, &before);
        QCOMPARE(room, kept);
        QCOMPARE(appended, kept);
        const QStringList ids = kept ? QStringList{"small", "big"} : QStringList{"small"};
        QCOMPARE(idsOf(SendJournal::read(path)), ids);
        QVERIFY(QFileInfo(path).size() >= sizeAfter * SendJournal::kReservedBytes);
        // A later record still follows the whole ones.
        QVERIFY(SendJournal::append(path, {send(me, QStringLiteral("after"))}));
        QCOMPARE(SendJournal::read(path).size(), kept ? 3 : 2);
    }
};

QTEST_GUILESS_MAIN(SendJournalTest)
#include "test_send_journal.moc"
