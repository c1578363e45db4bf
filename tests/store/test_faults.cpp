// The store under faults: a peer reusing another chat's message id, a
// page damaged while the store is open met half-way through a read, a file that cannot be written,
// processes opening a new file together, and a writer waiting for another
// process's lock while this process keeps reading.
#include "store_test_util.h"

#include <QFile>
#include <QLoggingCategory>
#include <QMutex>
#include <QtConcurrent>
#include <QtTest>

#include <unistd.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

using namespace velmor::chat;
using namespace storetest;

namespace {

// Debug lines of the store's log category, collected from any thread.
QMutex g_logMutex;
QStringList g_storeLog;
QtMessageHandler g_previousHandler = nullptr;

void collectStoreLog(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (context.category && qstrcmp(context.category, "velmor.store") == 0) {
        QMutexLocker lock(&g_logMutex);
        g_storeLog.append(text);
    }
    if (type != QtDebugMsg && g_previousHandler)
        g_previousHandler(type, context, text);
}

bool storeLogContains(const QString &needle)
{
    QMutexLocker lock(&g_logMutex);
    return std::any_of(g_storeLog.begin(), g_storeLog.end(), [&](const QString &l) { return l.contains(needle); });
}

// Runs as another user for the life of the object when the process is root
// (root writes any file whatever its mode); nothing otherwise.
class AsOtherUser
{
public:
    AsOtherUser() : m_switched(::geteuid() == 0 && ::seteuid(65534) == 0) {}
    ~AsOtherUser()
    {
        if (m_switched)
            QVERIFY(::seteuid(0) == 0);
    }

private:
    bool m_switched;
};

} // namespace

class StoreFaults : public QObject, protected StoreFiles
{
    Q_OBJECT

private slots:
    void init() { m_path = freshPath(QStringLiteral("faults")); }
    void cleanup() { store().close(); }

    // The same id in another conversation is another message, beside the first.
    void messageIdOfAnotherConversationIsAnotherMessage_data()
    {
        QTest::addColumn<QString>("otherConversation");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("same conversation") << QString() << true;
        QTest::newRow("other direct chat") << QStringLiteral("direct") << false;
        QTest::newRow("a group") << QStringLiteral("group") << false;
    }
    void messageIdOfAnotherConversationIsAnotherMessage()
    {
        QFETCH(QString, otherConversation);
        QFETCH(bool, replaced);
        QVERIFY(store().open(kOwnerA, m_path));
        const QString mine = store().ensureDirectConversation(kPeer, QStringLiteral("enc"), QStringLiteral("P")).id;
        QVERIFY(store().upsertMessage(message(QStringLiteral("m1"), mine, QStringLiteral("original"), 100)));

        QString target = mine;
        if (otherConversation == QLatin1String("direct"))
            target = store().ensureDirectConversation(QStringLiteral("AnotherPeer"), QStringLiteral("e"),
                                                      QStringLiteral("Q")).id;
        else if (otherConversation == QLatin1String("group"))
            target = store().ensureGroupConversation(QStringLiteral("g1"), QStringLiteral("G")).id;
        MessageRecord reused = message(QStringLiteral("m1"), target, QStringLiteral("overwritten"), 200);
        reused.status = MessageStatus::Failed;
        QVERIFY(store().upsertMessage(reused));

        const auto stored = store().messageById(mine, QStringLiteral("m1"));
        QVERIFY(stored);
        QCOMPARE(stored->text, replaced ? QStringLiteral("overwritten") : QStringLiteral("original"));
        QCOMPARE(store().messages(target).value(0).text, QStringLiteral("overwritten"));
        QVERIFY(store().deleteMessage(target, QStringLiteral("m1")));
        QCOMPARE(store().messageExists(mine, QStringLiteral("m1")), !replaced);
    }

    void damagedPageFailsTheWholeRead()
    {
        QVERIFY(store().open(kOwnerA, m_path));
        const QString conv = store().ensureGroupConversation(QStringLiteral("g"), QStringLiteral("G")).id;
        // About one message per page, so the rows span many pages.
        constexpr int kMessages = 60;
        for (int i = 0; i < kMessages; ++i)
            QVERIFY(store().upsertMessage(
                message(QStringLiteral("m%1").arg(i), conv, QString(3000, QChar('a' + i % 26)), 1000 + i)));
        bool ok = false;
        QCOMPARE(store().messages(conv, &ok).size(), kMessages);
        QVERIFY(ok);
        store().close(); // the last connection folds the journal into the file

        // A leaf page of the messages table in the middle of the rows is
        // overwritten with garbage.
        qint64 page = 0;
        qint64 pageSize = 0;
        {
            SideConnection side(m_path);
            QVERIFY(side.isOpen());
            pageSize = side.scalar(QStringLiteral("PRAGMA page_size")).toLongLong();
            const QStringList leaves = side.column(
                QStringLiteral("SELECT pageno FROM dbstat WHERE name='messages' AND pagetype='leaf' ORDER BY pageno"),
                0);
            QVERIFY(leaves.size() > 10);
            page = leaves.at(leaves.size() / 2).toLongLong();
        }
        // The damage comes while the store is open (found at open, the file
        // would be kept aside); a thread with a connection of its own reads
        // the page from disk.
        QVERIFY(store().open(kOwnerA, m_path));
        {
            QFile file(m_path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.seek((page - 1) * pageSize));
            QCOMPARE(file.write(QByteArray(int(pageSize), '\xa5')), pageSize);
        }

        ok = true;
        QList<MessageRecord> read;
        std::thread([&] { read = store().messages(conv, &ok); }).join();
        QVERIFY(!ok);
        QVERIFY2(read.isEmpty(), "a part of the rows came back as the whole");
        QVERIFY(storeLogContains(QStringLiteral("read failed")));
        // Told, for the user to hear of it.
        QCOMPARE(store().condition(), velmor::store::Condition::Damaged);
    }

    void unwritableFileFailsToOpen()
    {
        QVERIFY(store().open(kOwnerA, m_path));
        QVERIFY(store().upsertContact(contactRecord()));
        store().close();
        // The folder stays open to everyone, so the journal could be
        // created: only the database file itself is read-only.
        QVERIFY(QFile::setPermissions(QFileInfo(m_path).absolutePath(), QFileDevice::Permissions(0x7777)));
        QVERIFY(QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::ReadGroup
                                                  | QFileDevice::ReadOther));
        {
            AsOtherUser other;
            QVERIFY2(!store().open(kOwnerA, m_path), "a read-only file opened as writable");
            QVERIFY(!store().isOpen());
        }
        QVERIFY(QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QVERIFY(store().open(kOwnerA, m_path));
        QCOMPARE(store().contacts().size(), 1);
    }

    void manyOpenersOfANewFile()
    {
        constexpr int kOpeners = 6;
        constexpr int kRounds = 4;
        for (int round = 0; round < kRounds; ++round) {
            const QString path = freshPath(QStringLiteral("together"));
            std::latch start(kOpeners);
            std::atomic<int> failures{0};
            std::vector<std::thread> threads;
            for (int t = 0; t < kOpeners; ++t) {
                threads.emplace_back([&, t] {
                    ChatStore own; // one connection of its own, as another process would have
                    start.arrive_and_wait();
                    if (!own.open(t % 2 ? kOwnerA : kOwnerB, path)
                        || !own.upsertMessage(message(QStringLiteral("m%1").arg(t), QStringLiteral("c"),
                                                      QStringLiteral("x"), 1)))
                        ++failures;
                    own.close();
                });
            }
            for (std::thread &th : threads)
                th.join();
            QCOMPARE(failures.load(), 0);
        }
    }

    void waitingWriterHoldsUpNoReader()
    {
        QVERIFY(store().open(kOwnerA, m_path));
        const QString conv = store().ensureGroupConversation(QStringLiteral("g"), QStringLiteral("G")).id;
        QVERIFY(store().upsertMessage(message(QStringLiteral("before"), conv, QStringLiteral("b"), 1)));

        SideConnection other(m_path); // another process holding the write lock
        QVERIFY(other.isOpen());
        QVERIFY(other.exec(QStringLiteral("BEGIN IMMEDIATE")));

        QFuture<bool> writer = QtConcurrent::run(
            [conv] { return ChatStore::instance().upsertMessage(message(QStringLiteral("after"), conv, "a", 2)); });
        QTRY_VERIFY(storeLogContains(QStringLiteral("waiting for the database lock")));

        // The writer is waiting now; this thread still reads at once.
        bool ok = false;
        QCOMPARE(store().messages(conv, &ok).size(), 1);
        QVERIFY(ok);
        QVERIFY(store().contact(QStringLiteral("nobody")) == std::nullopt);
        QVERIFY(!writer.isFinished());

        QVERIFY(other.exec(QStringLiteral("COMMIT")));
        QVERIFY(writer.result());
        QCOMPARE(store().messages(conv).size(), 2);
    }

    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("velmor.store.debug=true"));
        g_previousHandler = qInstallMessageHandler(collectStoreLog);
    }
    void cleanupTestCase() { qInstallMessageHandler(g_previousHandler); }

private:
    static ContactRecord contactRecord()
    {
        ContactRecord c;
        c.wallet_public_key = kPeer;
        c.remark = QStringLiteral("friend");
        c.updated_at = 5;
        return c;
    }
};

QTEST_GUILESS_MAIN(StoreFaults)
#include "test_faults.moc"
