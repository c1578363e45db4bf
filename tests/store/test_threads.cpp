// The store is used from the GUI thread and from pool threads at once, and
// by other programs. Concurrent writers must neither crash nor lose a write,
// a write reported as done must be in the file, connections of finished
// threads must go, and only another program's write lock makes it busy.
#include "store_test_util.h"

#include <QCoreApplication>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>
#include <QtTest>

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

using namespace velmor::chat;
using namespace storetest;

namespace {

const char *const kExitChildArgument = "--exit-with-live-thread";
// Run as another program on the store's file: "reader" reads it over and
// over, as a backup or indexing tool might; "writer" holds its write lock.
const char *const kOutsideChildArgument = "--outside-program";

int storeConnectionCount()
{
    int n = 0;
    for (const QString &name : QSqlDatabase::connectionNames())
        n += name.startsWith(QLatin1String("velmor_store_")) ? 1 : 0;
    return n;
}

} // namespace

class StoreThreads : public QObject, protected StoreFiles
{
    Q_OBJECT

private slots:
    void init()
    {
        m_path = freshPath(QStringLiteral("threads"));
        QVERIFY(store().open(kOwnerA, m_path));
    }
    void cleanup() { store().close(); }

    void twoThreadsHammering()
    {
        const QString conv = store().ensureGroupConversation(QStringLiteral("g"), QStringLiteral("G")).id;
        constexpr int kPerThread = 1500;
        std::atomic<int> failures{0};
        auto work = [&](const QString &prefix) {
            for (int i = 0; i < kPerThread; ++i) {
                const QString id = prefix + QString::number(i);
                if (!store().upsertMessage(message(id, conv, id, 1000 + i)))
                    ++failures;
                if (!store().addPendingAck({id}))
                    ++failures;
                if (i % 100 == 0) {
                    store().messages(conv);
                    store().visibleConversations();
                }
            }
        };
        std::unique_ptr<QThread> t1(QThread::create(work, QStringLiteral("a-")));
        std::unique_ptr<QThread> t2(QThread::create(work, QStringLiteral("b-")));
        t1->start();
        t2->start();
        QVERIFY(t1->wait(60000));
        QVERIFY(t2->wait(60000));

        QCOMPARE(failures.load(), 0);
        QCOMPARE(store().messages(conv).size(), 2 * kPerThread);
        // Every increment of the unread count survived.
        QCOMPARE(store().conversationByPeer(conv)->unread_count, 2 * kPerThread);
        QCOMPARE(store().pendingAcks(10 * kPerThread).size(), 2 * kPerThread);
    }

    void sameIdsFromTwoThreadsCountOnce()
    {
        const QString conv = store().ensureGroupConversation(QStringLiteral("g"), QStringLiteral("G")).id;
        constexpr int kIds = 800;
        auto work = [&] {
            for (int i = 0; i < kIds; ++i)
                store().upsertMessage(message(QStringLiteral("dup-%1").arg(i), conv, QStringLiteral("t"), i + 1));
        };
        std::unique_ptr<QThread> t1(QThread::create(work));
        std::unique_ptr<QThread> t2(QThread::create(work));
        t1->start();
        t2->start();
        work();   // and the main thread
        QVERIFY(t1->wait(60000));
        QVERIFY(t2->wait(60000));
        QCOMPARE(store().messages(conv).size(), kIds);
        QCOMPARE(store().conversationByPeer(conv)->unread_count, kIds);
    }

    void poolJobsWhileTheMainThreadReads()
    {
        const QString url = QStringLiteral("https://sg");
        SuperGroupRecord g;
        g.server_url = url;
        QVERIFY(store().upsertSuperGroup(g));
        QList<QFuture<int>> jobs;
        for (int j = 0; j < 8; ++j) {
            jobs.append(QtConcurrent::run([this, j, url] {
                int ok = 0;
                for (int i = 0; i < 150; ++i) {
                    MessageRecord m = message(QStringLiteral("p%1-%2").arg(j).arg(i), QStringLiteral("sg:") + url,
                                              QStringLiteral("x"), i);
                    m.server_seq = j * 1000 + i;
                    ok += store().upsertMessage(m) ? 1 : 0;
                    store().upsertSuperGroupMember({url, QStringLiteral("member-%1").arg(j), {}, QString::number(i), {}, {}, {}, false, i});
                    store().updateSuperGroupReadState(url, i, j * 1000 + i, 1);
                }
                return ok;
            }));
        }
        int reads = 0;
        while (std::any_of(jobs.begin(), jobs.end(), [](const QFuture<int> &f) { return !f.isFinished(); })) {
            store().messages(QStringLiteral("sg:") + url);
            store().superGroupMembers(url);
            ++reads;
        }
        int stored = 0;
        for (auto &f : jobs)
            stored += f.result();
        QCOMPARE(stored, 8 * 150);
        QCOMPARE(store().messages(QStringLiteral("sg:") + url).size(), 8 * 150);
        QCOMPARE(store().superGroupMembers(url).size(), 8);
        QCOMPARE(store().superGroup(url)->last_message_seq, 7149);
        QVERIFY(reads > 0);
    }

    void closeAndReopenUnderLoad()
    {
        // A writer keeps going while the main thread closes and reopens the
        // store. Calls in the closed window fail; every call that reported
        // success must be in the file.
        std::atomic<bool> stop{false};
        QMutex lock;
        QStringList reported;
        std::unique_ptr<QThread> writer(QThread::create([&] {
            int i = 0;
            while (!stop.load()) {
                const QString id = QStringLiteral("w%1").arg(i++);
                if (store().upsertMessage(message(id, QStringLiteral("c"), id, i))) {
                    QMutexLocker l(&lock);
                    reported << id;
                }
                store().messages(QStringLiteral("c")).size();
            }
        }));
        writer->start();
        // The rounds start once the writer is writing: on a busy machine it
        // may not be scheduled before they would all be over.
        const auto anyReported = [&] {
            QMutexLocker l(&lock);
            return !reported.isEmpty();
        };
        QTRY_VERIFY_WITH_TIMEOUT(anyReported(), 30000);
        for (int round = 0; round < 30; ++round) {
            QThread::msleep(5);
            store().close();
            QThread::msleep(1);
            QVERIFY(store().open(kOwnerA, m_path));
        }
        stop = true;
        QVERIFY(writer->wait(30000));
        QVERIFY(!reported.isEmpty());
        const auto rows = store().messages(QStringLiteral("c"));
        QSet<QString> stored;
        for (const auto &m : rows)
            stored.insert(m.id);
        for (const QString &id : reported)
            QVERIFY2(stored.contains(id), qPrintable(id));
    }

    void finishedThreadsReleaseTheirConnections()
    {
        const int before = storeConnectionCount();
        std::unique_ptr<QThread> t(QThread::create([this] {
            store().upsertMessage(message(QStringLiteral("t1"), QStringLiteral("c"), QStringLiteral("x"), 1));
        }));
        t->start();
        QVERIFY(t->wait(10000));
        t.reset();
        // wait() returns when the thread's run ends; its thread-local
        // clean-up follows a moment later.
        QTRY_COMPARE(storeConnectionCount(), before);
        QVERIFY(store().messageExists(QStringLiteral("t1")));

        // A thread that is still alive keeps its connection until close.
        std::atomic<bool> release{false};
        std::atomic<bool> used{false};
        std::unique_ptr<QThread> alive(QThread::create([&] {
            store().messageExists(QStringLiteral("t1"));
            used = true;
            while (!release.load())
                QThread::msleep(1);
        }));
        alive->start();
        QTRY_VERIFY(used.load());
        QCOMPARE(storeConnectionCount(), before + 1);
        store().close();
        QCOMPARE(storeConnectionCount(), 0);
        release = true;
        QVERIFY(alive->wait(10000));
        QTest::qWait(50);
        QCOMPARE(storeConnectionCount(), 0);
    }

    // A thread's connection keeps the pages it read cached until asked to
    // let them go; asked while another thread is inside an operation, every
    // cache stays (that thread's connection is in use), and the next ask
    // releases them.
    void idleConnectionsLetTheirCachesGo()
    {
        const QString conv = store().ensureGroupConversation(QStringLiteral("g"), QStringLiteral("G")).id;
        const QString text(2000, QLatin1Char('x'));
        for (int i = 0; i < 1000; ++i)
            QVERIFY(store().upsertMessage(message(QStringLiteral("m%1").arg(i), conv, text, 1000 + i)));
        QCOMPARE(store().messages(conv).size(), 1000);
        const qint64 cached = sqlite3_memory_used();
        // Another program holds the write lock: the thread's write waits
        // inside its operation.
        SideConnection side(m_path);
        QVERIFY(side.exec(QStringLiteral("BEGIN IMMEDIATE")));
        std::unique_ptr<QThread> busy(QThread::create([&] {
            store().upsertMessage(message(QStringLiteral("late"), conv, QStringLiteral("x"), 5000));
        }));
        busy->start();
        QTest::qWait(300);
        store().releaseCaches();
        QVERIFY2(sqlite3_memory_used() > cached - 1024 * 1024, "released while a thread was inside an operation");
        QVERIFY(side.exec(QStringLiteral("COMMIT")));
        QVERIFY(busy->wait(10000));
        // The store's own retry of the write that met the lock may be under
        // way for a moment: a later ask releases them.
        QTRY_VERIFY_WITH_TIMEOUT((store().releaseCaches(), sqlite3_memory_used() < cached - 1024 * 1024), 10000);
    }

    // Another program on the file while a backlog is stored batch by batch
    // on the GUI thread, a pool thread writing beside it and the log folded
    // as it grows: a program that only reads never makes the store busy nor
    // stops a batch; one that holds the write lock is told at once.
    void outsideProgramDuringABacklog_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("reading the file") << QStringLiteral("reader");
        QTest::newRow("holding the write lock") << QStringLiteral("writer");
    }
    void outsideProgramDuringABacklog()
    {
        QFETCH(QString, program);
        const bool reader = program == QLatin1String("reader");
        QMutex seenMutex;
        QList<velmor::store::Condition> seen;
        store().setConditionListener([&](velmor::store::Condition c) {
            QMutexLocker lock(&seenMutex);
            seen.append(c);
        });
        const auto quiet = qScopeGuard([] { ChatStore::instance().setConditionListener({}); });
        QVERIFY(store().addPendingAck({QStringLiteral("first")})); // the file in its final layout
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kOutsideChildArgument), program, m_path});
        QVERIFY(child.waitForReadyRead(10000));
        const auto stopChild = qScopeGuard([&child] {
            child.kill();
            child.waitForFinished(10000);
        });
        std::atomic<bool> stop{false};
        QFuture<void> beside = QtConcurrent::run([&stop] {
            for (int i = 0; !stop.load(); ++i) {
                ChatStore::instance().addPendingAck({QStringLiteral("ack%1").arg(i)});
                QThread::msleep(2);
            }
        });
        // Slices of a pull, one a frame or so, as the inbox stores them.
        constexpr int kBatches = 100;
        constexpr int kPerBatch = 50;
        const QString text(1000, QLatin1Char('t'));
        int stored = 0;
        for (int b = 0; b < kBatches; ++b) {
            ChatStore::Batch batch(store());
            bool ok = batch.active();
            for (int i = 0; ok && i < kPerBatch; ++i)
                ok = store().upsertMessage(message(QStringLiteral("m%1-%2").arg(b).arg(i), QStringLiteral("c"), text,
                                                   b * kPerBatch + i));
            if (!(ok && batch.commit()))
                break;
            stored += kPerBatch;
            QThread::msleep(5);
        }
        stop = true;
        if (!reader) {
            QCOMPARE(stored, 0);
            QCOMPARE(store().condition(), velmor::store::Condition::Busy);
            child.kill(); // the writer beside waits for the lock no longer
            child.waitForFinished(10000);
        }
        beside.waitForFinished();
        if (reader) {
            QCOMPARE(stored, kBatches * kPerBatch);
            QCOMPARE(store().messages(QStringLiteral("c")).size(), kBatches * kPerBatch);
            QCOMPARE(store().condition(), velmor::store::Condition::Ok);
            QMutexLocker lock(&seenMutex);
            QCOMPARE(seen, QList<velmor::store::Condition>());
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(store().condition(), velmor::store::Condition::Ok, 20000);
    }

    // The condition listener runs on the thread whose write met the fault;
    // an owner that replaces it (its destructor) must find no call of it
    // still running afterwards.
    void aReplacedListenerIsNoLongerRunning()
    {
        QSemaphore entered;
        QSemaphore leave;
        QMutex logMutex;
        QStringList log;
        std::atomic<bool> first{true};
        store().setConditionListener([&](velmor::store::Condition) {
            if (!first.exchange(false))
                return;
            entered.release();
            leave.acquire();
            QMutexLocker lock(&logMutex);
            log << QStringLiteral("listener done");
        });
        SideConnection other(m_path);
        QVERIFY(other.exec(QStringLiteral("BEGIN IMMEDIATE")));
        QThreadPool::globalInstance()->start([this] {
            store().upsertOutgoing(kOwnerA, {message(QStringLiteral("held"), QStringLiteral("c"), QStringLiteral("x"), 1)},
                                   {QString()});
        });
        QVERIFY(entered.tryAcquire(1, 20000));
        std::thread replacing([&] {
            store().setConditionListener({});
            QMutexLocker lock(&logMutex);
            log << QStringLiteral("replaced");
        });
        // The replacing thread has every chance to return too early.
        QThread::msleep(100);
        leave.release();
        replacing.join();
        QCOMPARE(log, (QStringList{QStringLiteral("listener done"), QStringLiteral("replaced")}));
        QVERIFY(other.exec(QStringLiteral("COMMIT")));
        QThreadPool::globalInstance()->waitForDone();
    }

    void exitWhileAThreadHoldsAConnection_data()
    {
        QTest::addColumn<QString>("holder");
        QTest::newRow("a thread still running") << QStringLiteral("thread");
        QTest::newRow("pool threads ending as the program quits") << QStringLiteral("pool");
    }
    void exitWhileAThreadHoldsAConnection()
    {
        // The process-wide store is destroyed at exit; a connection that a
        // still-running or ending thread holds must be closed cleanly then.
        // Pool threads end in a race with Qt's teardown: one exit in five
        // or so crashed, so the child runs a few times.
        QFETCH(QString, holder);
        for (int run = 0; run < 20; ++run) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kExitChildArgument), holder,
                                                                 m_dir.filePath(QStringLiteral("exit-%1.db").arg(run))});
            QVERIFY(child.waitForFinished(30000));
            QCOMPARE(child.exitStatus(), QProcess::NormalExit);
            QCOMPARE(child.exitCode(), 0);
        }
    }
};

namespace {

// Run as a child process: a thread that used the process-wide store is still
// running when main returns, so its connection is still open at exit; or
// pool threads that used it end as the application goes.
int exitWithLiveThread(int argc, char **argv, const QString &holder, const QString &path)
{
    QCoreApplication app(argc, argv);
    if (holder == QLatin1String("pool")) {
        // Opened on a pool thread too: the main thread holds no connection.
        if (!QtConcurrent::run([&path] { return ChatStore::instance().open(kOwnerA, path); }).result())
            return 2;
        std::atomic<int> started{0};
        QThreadPool::globalInstance()->setMaxThreadCount(4); // also on a two-core machine
        QList<QFuture<void>> jobs;
        for (int i = 0; i < 4; ++i) { // each waits for the others: four threads
            jobs.append(QtConcurrent::run([&started] {
                ChatStore::instance().addPendingAck({QString::number(started.fetch_add(1))});
                while (started.load() < 4)
                    QThread::yieldCurrentThread();
            }));
        }
        for (QFuture<void> &job : jobs)
            job.waitForFinished();
        return 0;
    }
    if (!ChatStore::instance().open(kOwnerA, path))
        return 2;
    std::atomic<bool> used{false};
    std::thread([&used] {
        ChatStore::instance().addPendingAck({QStringLiteral("from-thread")});
        used = true;
        for (;;)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }).detach();
    while (!used.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 0;
}

// Another program on the file: reads it in long read transactions, one
// after the other, or takes its write lock; says so on its output once it
// has, and goes on until it is ended.
int outsideProgram(const QString &program, const QString &path)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return 2;
    sqlite3_busy_timeout(db, 5000);
    const bool writer = program == QLatin1String("writer");
    if (writer && sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return 3;
    for (bool told = false;; told = true) {
        if (!writer) {
            sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
            sqlite3_exec(db, "SELECT count(*), sum(length(text)) FROM messages", nullptr, nullptr, nullptr);
        }
        if (!told) {
            std::fputs("ready\n", stdout);
            std::fflush(stdout);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        if (!writer)
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(writer ? 150 : 20));
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], kOutsideChildArgument) == 0)
        return outsideProgram(QString::fromLatin1(argv[2]), QString::fromLocal8Bit(argv[3]));
    if (argc == 4 && qstrcmp(argv[1], kExitChildArgument) == 0)
        return exitWithLiveThread(1, argv, QString::fromLatin1(argv[2]), QString::fromLocal8Bit(argv[3]));
    QCoreApplication app(argc, argv);
    StoreThreads t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_threads.moc"
