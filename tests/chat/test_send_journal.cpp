// The send journal through what ends a program or a session: a record cut
// short by a kill, a file emptied and written again, another identity's
// records, a message deleted before the journal was read back, the same
// send kept twice; what the file holds once its sends are stored, links and
// other users' files in its place, and damaged records.
#include "chat/send_journal.h"
#include "store/chat_store.h"
#include "store/store_test_util.h"
#include "support/file_size_limit.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

#include <sys/stat.h>
#include <unistd.h>

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
    // Opens a new case's store as the first owner; the path of its journal,
    // its room reserved unless `reserved` is false; empty on a failure.
    QString openCase(bool reserved = true)
    {
        const QString db = m_dir.filePath(QStringLiteral("case-%1/store.db").arg(++m_case));
        const QString path = SendJournal::pathBeside(db);
        if (!ChatStore::instance().open(storetest::kOwnerA, db) || (reserved && !SendJournal::reserve(path)))
            return {};
        return path;
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

    // The replay writes each kept send once and nothing else: a message
    // deleted meanwhile is not brought back, another identity's records stay
    // for its sign-in, a record cut short by a kill ends the file there, one
    // damaged byte costs only its own record (the reader finds the next one
    // and says how many it passed over, once), and what the replay settled
    // is not read again.
    void replayWritesEachKeptSendOnce_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("offset");          // of the damaged byte, into the third record
        QTest::addColumn<QStringList>("written"); // by the replay
        QTest::addColumn<QStringList>("left");    // read after it
        QTest::addColumn<int>("lost");
        const QStringList none;
        const QStringList others{"r0", "r1", "r3", "r4"};
        QTest::newRow("two records") << "two" << 0 << QStringList{"a", "b"} << none << 0;
        QTest::newRow("the same send kept twice") << "twice" << 0 << QStringList{"a"} << none << 0;
        QTest::newRow("another identity's records") << "other" << 0 << QStringList{"a"} << QStringList{"x"} << 0;
        QTest::newRow("a message deleted meanwhile") << "deleted" << 0 << QStringList{"b"} << none << 0;
        // Stored by a session that ended before the relay answered.
        QTest::newRow("an answer to a stored send") << "answered" << 0 << none << none << 0;
        QTest::newRow("the last record cut short") << "cut" << 0 << QStringList{"r0", "r1", "r2", "r3"} << none << 0;
        QTest::newRow("damaged text") << "damaged" << 40 << others << none << 1;
        QTest::newRow("damaged length") << "damaged" << 5 << others << none << 1;
        QTest::newRow("damaged first byte") << "damaged" << 0 << others << none << 1;
        QTest::newRow("damaged digest") << "damaged" << 9 << others << none << 1;
    }
    void replayWritesEachKeptSendOnce()
    {
        QFETCH(QString, what);
        QFETCH(int, offset);
        QFETCH(QStringList, written);
        QFETCH(QStringList, left);
        QFETCH(int, lost);
        const QString me = storetest::kOwnerA;
        const QString path = openCase();
        QVERIFY(!path.isEmpty());
        QCOMPARE(QFileInfo(path).size(), SendJournal::kReservedBytes);
        ChatStore &store = ChatStore::instance();
        if (what == "two" || what == "twice") {
            QVERIFY(SendJournal::append(path, {send(me, "a")}));
            QVERIFY(SendJournal::append(path, {send(me, what == "twice" ? "a" : "b")}));
        } else if (what == "other") {
            QVERIFY(SendJournal::append(path, {send(me, "a"), send(QStringLiteral("someone else"), "x")}));
        } else if (what == "deleted") {
            QVERIFY(SendJournal::append(path, {send(me, "a"), send(me, "b")}));
            QVERIFY(store.upsertMessage(send(me, "a").row));
            QVERIFY(store.deleteMessage(QStringLiteral("c"), QStringLiteral("a")));
        } else if (what == "answered") {
            QVERIFY(store.upsertMessageWithEnvelope(send(me, "a").row, send(me, "a").envelope));
            JournaledSend answer{me, send(me, "a").row, {}, true};
            answer.row.status = MessageStatus::Sent;
            QVERIFY(SendJournal::append(path, {answer}));
        } else {
            for (int i = 0; i < 5; ++i)
                QVERIFY(SendJournal::append(path, {send(me, QStringLiteral("r%1").arg(i))}));
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            const QByteArray whole = file.readAll();
            if (what == "cut") {
                // The last record's last bytes never reached the disk.
                const qint64 end = whole.indexOf(QByteArray(16, '\0'), whole.indexOf("text r4"));
                QVERIFY(end > 0 && file.seek(end - 3) && file.write("\0\0\0", 3) == 3);
            } else {
                const qint64 third = whole.indexOf("PSJ1", whole.indexOf("text r1"));
                QVERIFY(third > 0 && file.seek(third + offset));
                const char flipped = char(whole.at(third + offset) ^ 0x5a);
                QVERIFY(file.write(&flipped, 1) == 1);
            }
        }
        int passedOver = -1;
        SendJournal::read(path, &passedOver);
        QCOMPARE(passedOver, lost);
        const auto replayed = SendJournal::replay(path, me, store);
        QVERIFY(replayed);
        QStringList ids;
        for (const MessageRecord &row : replayed->rows)
            ids << row.id;
        QCOMPARE(ids, written);
        QCOMPARE(replayed->lost, lost);
        if (what == "answered") {
            // Sent, its envelope gone: the next start does not post it again.
            QCOMPARE(replayed->answered.size(), 1);
            QCOMPARE(store.messageById("a")->status, MessageStatus::Sent);
            QVERIFY(store.outgoingEnvelope("a").isEmpty());
        }
        for (const QString &id : written) {
            QCOMPARE(store.messageById(id)->status, MessageStatus::Sending);
            QCOMPARE(store.outgoingEnvelope(id), send(me, id).envelope);
        }
        QCOMPARE(idsOf(SendJournal::read(path)), left);
        // A record appended later is read after what is left, alone: the
        // settled records and the damaged bytes left the file.
        QVERIFY(SendJournal::append(path, {send(me, "later")}));
        QCOMPARE(idsOf(SendJournal::read(path)), left + QStringList{"later"});
        const auto again = SendJournal::replay(path, me, store);
        QCOMPARE(again->rows.size(), 1);
        QCOMPARE(again->lost, 0);
    }

    // Once its sends are in the store the file holds none of their text,
    // and an emptied file is cut back to its reserve; another identity's
    // records go at that identity's next sign-in.
    void noTextStaysOnceStored_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("a large burst, replayed") << "burst";
        QTest::newRow("two identities, each at its sign-in") << "two";
        QTest::newRow("sends forgotten (their conversation deleted)") << "forget";
    }
    void noTextStaysOnceStored()
    {
        QFETCH(QString, what);
        const QString me = storetest::kOwnerA;
        const QString other = storetest::kOwnerB;
        const QString path = openCase();
        QVERIFY(!path.isEmpty());
        const QString db = ChatStore::instance().databasePath();
        ChatStore &store = ChatStore::instance();
        const auto textIn = [&path](const QString &id) {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) && file.readAll().contains(("text " + id).toUtf8());
        };
        if (what == "burst") {
            QList<JournaledSend> burst;
            for (int i = 0; i < 3000; ++i) {
                burst.append(send(me, QStringLiteral("b%1").arg(i)));
                burst.last().row.text += QString(500, QLatin1Char('w'));
            }
            QVERIFY(SendJournal::append(path, burst));
            QVERIFY(QFileInfo(path).size() > 2 * SendJournal::kReservedBytes);
            QCOMPARE(SendJournal::replay(path, me, store)->rows.size(), 3000);
            QCOMPARE(QFileInfo(path).size(), SendJournal::kReservedBytes);
            QVERIFY(!textIn("b0") && !textIn("b2999"));
            return;
        }
        QVERIFY(SendJournal::append(path, {send(me, "a"), send(other, "x"), send(me, "b")}));
        if (what == "forget") {
            QVERIFY(SendJournal::forget(path, me, {QStringLiteral("a")}));
            QVERIFY(!textIn("a") && textIn("b") && textIn("x"));
            QCOMPARE(idsOf(SendJournal::read(path)), (QStringList{"x", "b"}));
            QVERIFY(SendJournal::forget(path, other, {QStringLiteral("x")}));
            QVERIFY(SendJournal::forget(path, me, {QStringLiteral("b")}));
            QVERIFY(!textIn("b") && !textIn("x"));
            QVERIFY(SendJournal::read(path).isEmpty());
            return;
        }
        QCOMPARE(SendJournal::replay(path, me, store)->rows.size(), 2);
        QVERIFY(!textIn("a") && !textIn("b") && textIn("x"));
        // A record appended after the settled ones is read as before.
        QVERIFY(SendJournal::append(path, {send(me, "c")}));
        QCOMPARE(idsOf(SendJournal::read(path)), (QStringList{"x", "c"}));
        store.close();
        QVERIFY(store.open(other, db));
        QCOMPARE(SendJournal::replay(path, other, store)->rows.size(), 1);
        QVERIFY(!textIn("x") && textIn("c"));
        store.close();
        QVERIFY(store.open(me, db));
        QCOMPARE(SendJournal::replay(path, me, store)->rows.size(), 1);
        QVERIFY(!textIn("c"));
        QVERIFY(SendJournal::read(path).isEmpty());
    }

    // The journal is one of the store's files: a link or another user's file
    // in its place is neither followed nor written, a wider mode is narrowed.
    void refusesWhatIsNotTheUsersOwn_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::newRow("a symbolic link to another file") << "symlink";
        QTest::newRow("a second name of another file") << "hardlink";
        QTest::newRow("another user's file") << "owner";
        QTest::newRow("a file everyone may read") << "mode";
    }
    void refusesWhatIsNotTheUsersOwn()
    {
        QFETCH(QString, planted);
        const QString me = storetest::kOwnerA;
        const QString path = openCase(false);
        QVERIFY(!path.isEmpty());
        const QString target = m_dir.filePath(QStringLiteral("target-%1").arg(m_case));
        {
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("the target's own words\n");
        }
        const QByteArray native = QFile::encodeName(path);
        if (planted == "symlink") {
            QVERIFY(QFile::link(target, path));
        } else if (planted == "hardlink") {
            QVERIFY(::link(QFile::encodeName(target).constData(), native.constData()) == 0);
        } else {
            QVERIFY(SendJournal::reserve(path));
            if (planted == "owner") {
                if (::geteuid() != 0)
                    QSKIP("giving a file to another user needs root");
                QVERIFY(::chown(native.constData(), 4321, 4321) == 0);
            } else {
                QVERIFY(::chmod(native.constData(), 0644) == 0);
            }
        }
        const bool kept = SendJournal::append(path, {send(me, "a")});
        const bool reserved = SendJournal::reserve(path);
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("the target's own words\n"));
        if (planted == "mode") {
            QVERIFY(kept && reserved);
            struct stat st {};
            QVERIFY(::stat(native.constData(), &st) == 0);
            QCOMPARE(int(st.st_mode & 0777), 0600);
            return;
        }
        QVERIFY(!kept);
        QVERIFY(!reserved);
        QVERIFY(SendJournal::read(path).isEmpty());
        QCOMPARE(SendJournal::replay(path, me, ChatStore::instance())->rows.size(), 0);
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
        const QString path = openCase();
        QVERIFY(!path.isEmpty());
        JournaledSend big = send(me, QStringLiteral("big"));
        big.row.text = QString(textBytes, QLatin1Char('y'));
        QVERIFY(SendJournal::append(path, {send(me, QStringLiteral("small"))}));
        std::optional<velmor::fakes::FileSizeLimit> disk;
        if (diskFull)
            disk.emplace(rlim_t(QFileInfo(path).size()));
        // Asked for before the send is shown, then kept when the store refuses it.
        const bool room = SendJournal::reserveFor(path, SendJournal::sizeOf(big));
        const bool appended = SendJournal::append(path, {big});
        disk.reset();
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
