// The store when the disk lets it down: another connection holding the
// write lock while the GUI thread writes or opens, a full disk, files cut,
// damaged or of another format found at open, the page reader on hostile
// pages, the modes of what it leaves on disk, and the write-ahead log after
// a large pull.
#include "failing_vfs.h"
#include "page_images.h"
#include "store_test_util.h"

#include "store/page_scan.h"
#include "support/memory_peak.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QStandardPaths>
#include <QtTest>

#include <sys/stat.h>

#include <atomic>
#include <latch>
#include <memory>
#include <thread>

using namespace velmor::chat;
using velmor::store::Condition;
using velmor::store::OpenReport;
using namespace storetest;

namespace {

int modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QByteArray contentOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Writes `bytes` as the file at `path`, left so long ago that no opener is
// making it right now.
bool writeLongAgo(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size()
        && f.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime);
}

// Another connection to the file, on a thread of its own (as another
// process would be), holding the write lock until released.
class LockHolder
{
public:
    explicit LockHolder(const QString &path)
    {
        m_thread = std::thread([this, path] {
            {
                SideConnection side(path);
                m_held = side.exec(QStringLiteral("BEGIN IMMEDIATE"));
                m_ready.count_down();
                while (!m_release->load())
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                side.exec(QStringLiteral("COMMIT"));
            }
        });
        m_ready.wait();
    }
    ~LockHolder() { release(); }
    bool held() const { return m_held; }
    // Lets go after `delayMs` (in the background), or now.
    void releaseAfter(int delayMs)
    {
        // The flag, not the holder: the holder may be gone by then.
        std::thread([release = m_release, delayMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            release->store(true);
        }).detach();
    }
    void release()
    {
        m_release->store(true);
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::thread m_thread;
    std::latch m_ready{1};
    std::shared_ptr<std::atomic<bool>> m_release = std::make_shared<std::atomic<bool>>(false);
    bool m_held = false;
};

ContactRecord friendRow(const QString &remark)
{
    ContactRecord c;
    c.wallet_public_key = kPeer;
    c.remark = remark;
    c.updated_at = 7;
    return c;
}

// Longest value the reader once took: 2^18 pages' worth.
quint64 beyondTheFile(int pageSize)
{
    return (quint64(1) << 18) * quint64(pageSize) - 8;
}

// `cells` long rows spread over leaf pages, all claiming one sound chain of
// `chain` pages, beside a sound row.
QByteArray sharedChain(int cells, int chain)
{
    constexpr int kSize = 4096;
    constexpr int kPerLeaf = 7;
    const int leaves = (cells + kPerLeaf - 1) / kPerLeaf;
    PageImage image(kSize, 1 + leaves + chain);
    image.schema(QStringLiteral("t"), 2);
    const quint32 first = quint32(2 + leaves);
    const qint64 minLocal = (kSize - 12) * 32 / 255 - 23;
    const quint64 claimed = quint64(minLocal + qint64(chain) * (kSize - 4));
    for (int leaf = 0; leaf < leaves; ++leaf) {
        QList<QByteArray> row;
        for (int i = 0; i < kPerLeaf && leaf * kPerLeaf + i < cells; ++i)
            row << image.longCell(claimed, leaf * kPerLeaf + i + 1, first);
        if (leaf == 0)
            row << PageImage::rowCell(1000, {QStringLiteral("kept")});
        image.leaf(2 + leaf, row);
    }
    for (int i = 0; i < chain; ++i)
        image.overflow(int(first) + i, i + 1 < chain ? first + quint32(i) + 1 : 0);
    return image.bytes();
}

// One row of 32,000 bytes behind every cell pointer that fits a 64 KiB page.
QByteArray repeatedCell()
{
    PageImage image(65536, 2);
    image.schema(QStringLiteral("t"), 2);
    image.leaf(2, {PageImage::rowCell(1, {QString(32000, QLatin1Char('r'))})}, 8000);
    return image.bytes();
}

} // namespace

class DiskFaultsTest : public QObject, public StoreFiles
{
    Q_OBJECT

    QMutex m_seenMutex;
    QList<Condition> m_seen;

    QList<Condition> seen()
    {
        QMutexLocker lock(&m_seenMutex);
        return m_seen;
    }

    // Every way the GUI thread writes: one statement, a transaction, a
    // pulled batch.
    bool write(const QString &kind, int n)
    {
        const QString conv = QStringLiteral("c");
        if (kind == "contact")
            return store().upsertContact(friendRow(QStringLiteral("r%1").arg(n)));
        if (kind == "message")
            return store().upsertMessage(message(QStringLiteral("m%1").arg(n), conv, QStringLiteral("t"), n));
        ChatStore::Batch batch(store());
        return batch.active() && store().upsertMessage(message(QStringLiteral("b%1").arg(n), conv, "t", n))
               && batch.commit();
    }

private slots:
    void initTestCase()
    {
        FailingWrites::install();
        store().setConditionListener([this](Condition c) {
            QMutexLocker lock(&m_seenMutex);
            m_seen.append(c);
        });
    }
    void init()
    {
        m_path = freshPath(QStringLiteral("disk"));
        QMutexLocker lock(&m_seenMutex);
        m_seen.clear();
    }
    void cleanup()
    {
        FailingWrites::setFull(false);
        FailingWrites::setRoom(-1);
        store().close();
    }

    void guiThreadGivesUpOnAHeldLock_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("one statement") << "contact";
        QTest::newRow("a transaction") << "message";
        QTest::newRow("a pulled batch") << "batch";
    }
    void guiThreadGivesUpOnAHeldLock()
    {
        QFETCH(QString, kind);
        QVERIFY(store().open(kOwnerA, m_path));
        QVERIFY(write(kind, 1));
        {
            LockHolder other(m_path);
            QVERIFY(other.held());
            // Released while a writer that waited its old five seconds
            // would still be waiting: this thread must have given up.
            other.releaseAfter(2000);
            QVERIFY2(!write(kind, 2), "the GUI thread waited for another connection's lock");
            QCOMPARE(store().condition(), Condition::Busy);
            QVERIFY(!write(kind, 3)); // known busy: no wait at all
            other.release();
        }
        // The store notices the lock is gone by itself, with no write of
        // the GUI thread, and says so.
        // The listener is told on the probing thread just after the
        // condition changes: waited for, not read at once.
        QTRY_COMPARE(store().condition(), Condition::Ok);
        QTRY_COMPARE(seen(), (QList<Condition>{Condition::Busy, Condition::Ok}));
        QVERIFY(write(kind, 4));
        QCOMPARE(store().messages(QStringLiteral("c")).size(), kind == "contact" ? 0 : 2);
    }

    void heldLockAtOpenIsToldApart()
    {
        QVERIFY(store().open(kOwnerA, m_path));
        QVERIFY(store().upsertContact(friendRow(QStringLiteral("kept"))));
        store().close();
        OpenReport report;
        {
            LockHolder other(m_path);
            QVERIFY(!store().open(kOwnerA, m_path, &report));
            QCOMPARE(report.failure, Condition::Busy);
            QVERIFY(report.setAside.isEmpty());
        }
        QVERIFY(store().open(kOwnerA, m_path, &report));
        QCOMPARE(store().contact(kPeer)->remark, QStringLiteral("kept"));
    }

    void fullDiskIsToldAndOutlived_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("one statement") << "contact";
        QTest::newRow("a transaction") << "message";
        QTest::newRow("a pulled batch") << "batch";
        QTest::newRow("open") << "open";
        // Its tables are the current ones: only rows are mended on the way.
        QTest::newRow("open, the layout before") << "open layout 9";
    }
    void fullDiskIsToldAndOutlived()
    {
        QFETCH(QString, kind);
        QVERIFY(store().open(kOwnerA, m_path));
        QVERIFY(store().upsertMessage(message(QStringLiteral("before"), QStringLiteral("c"), "t", 1)));
        if (kind == "open layout 9") {
            store().close();
            SideConnection side(m_path);
            QVERIFY(side.exec(QStringLiteral("PRAGMA user_version = 9")));
        }
        FailingWrites::setFull(true);
        if (kind.startsWith("open")) {
            // On a full disk the store opens readable, says it is full, and
            // finds out by itself when room is back.
            OpenReport report;
            QVERIFY(store().open(kOwnerA, m_path, &report));
            QCOMPARE(report.failure, Condition::DiskFull);
            QVERIFY(report.setAside.isEmpty()); // full is not damaged
            QCOMPARE(store().condition(), Condition::DiskFull);
            QVERIFY(store().messageExists(QStringLiteral("before")));
            QVERIFY(!write("message", 1));
            FailingWrites::setFull(false);
            QTRY_COMPARE(store().condition(), Condition::Ok);
            QVERIFY(write("message", 2));
        } else {
            QVERIFY(!write(kind, 1));
            QCOMPARE(store().condition(), Condition::DiskFull);
            QVERIFY(!write(kind, 2));
            FailingWrites::setFull(false);
            // Space came back: the store finds out by itself.
            QTRY_COMPARE(store().condition(), Condition::Ok);
            QTRY_COMPARE(seen().mid(seen().lastIndexOf(Condition::DiskFull)),
                     (QList<Condition>{Condition::DiskFull, Condition::Ok}));
            QVERIFY(write(kind, 3));
        }
        QVERIFY(store().messageExists(QStringLiteral("before")));
    }

    void damagedFilesAreKeptAside_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("fewestSaved"); // messages read back into the new file
        QTest::newRow("sound file") << "none" << 0;
        QTest::newRow("cut in half") << "half" << 0; // every message page was in the lost half
        QTest::newRow("bad header") << "header" << 40;
        // Half the message pages and overflow chains are gone with the pages
        // above them: the rest are read from the pages themselves.
        QTest::newRow("every other page zeroed") << "alternate" << 16;
        QTest::newRow("cut to nothing") << "empty" << 0;
        QTest::newRow("damaged page") << "page" << 38;
    }
    void damagedFilesAreKeptAside()
    {
        QFETCH(QString, damage);
        QFETCH(int, fewestSaved);
        QVERIFY(store().open(kOwnerA, m_path));
        constexpr int kMessages = 40;
        for (int i = 0; i < kMessages; ++i)
            QVERIFY(store().upsertMessage(message(QStringLiteral("m%1").arg(i), QStringLiteral("c"),
                                                  QString(i % 5 ? 3000 : 9000, QChar('a' + i % 26)), i)));
        store().close();
        QByteArray bytes = contentOf(m_path);
        QVERIFY(bytes.size() > 40 * 4096);
        if (damage == "half")
            bytes.truncate(bytes.size() / 2);
        else if (damage == "header")
            bytes.replace(0, 16, QByteArray(16, 'x'));
        else if (damage == "empty")
            bytes.clear();
        else if (damage == "alternate")
            for (qsizetype at = 4096; at < bytes.size(); at += 2 * 4096)
                bytes.replace(at, 4096, QByteArray(4096, '\0'));
        else if (damage == "page")
            bytes.replace(bytes.size() / 2 / 4096 * 4096, 4096, QByteArray(4096, '\xa5'));
        QVERIFY(writeLongAgo(m_path, bytes));

        OpenReport report;
        QVERIFY(store().open(kOwnerA, m_path, &report));
        bool ok = false;
        const int kept = int(store().messages(QStringLiteral("c"), &ok).size());
        QVERIFY(ok);
        if (damage == "none") {
            QVERIFY(report.setAside.isEmpty());
            QCOMPARE(kept, kMessages);
            return;
        }
        // The damaged file is where the report says, byte for byte; a new
        // file took its place and works.
        QVERIFY(!report.setAside.isEmpty());
        QCOMPARE(QFileInfo(report.setAside).absolutePath(), QFileInfo(m_path).absolutePath());
        QCOMPARE(contentOf(report.setAside), bytes);
        // What still reads of it is in the new file, and counted.
        QCOMPARE(kept, report.salvagedMessages);
        QVERIFY2(kept >= fewestSaved, qPrintable(QString::number(kept)));
        // Rows read from the pages alone come back whole, long texts too
        // (their overflow pages followed). (Through SQLite, a text whose last
        // overflow page was overwritten reads as what is there now.)
        for (const MessageRecord &m : store().messages(QStringLiteral("c"))) {
            if (damage == "page")
                break;
            const int i = m.id.mid(1).toInt();
            QCOMPARE(m.text, QString(i % 5 ? 3000 : 9000, QChar('a' + i % 26)));
        }
        QVERIFY(store().upsertMessage(message(QStringLiteral("new"), QStringLiteral("c"), "t", 1)));
        QCOMPARE(store().condition(), Condition::Ok);
        QCOMPARE(modeOf(m_path), 0600);
    }

    // Messages read back from a damaged file whose conversations' page was
    // lost are listed at once, each conversation with its newest message,
    // not only once news of it arrives.
    void readBackMessagesAreListed()
    {
        QVERIFY(store().open(kOwnerA, m_path));
        const QString direct = store().ensureDirectConversation(kPeer, kPeer, QStringLiteral("p")).id;
        store().ensureGroupConversation(QStringLiteral("g1"), QStringLiteral("Hikers"));
        for (int i = 0; i < 3; ++i) {
            QVERIFY(store().upsertMessage(message(QStringLiteral("d%1").arg(i), direct, QStringLiteral("direct %1").arg(i), 100 + i)));
            QVERIFY(store().upsertMessage(message(QStringLiteral("g%1").arg(i), QStringLiteral("group:g1"),
                                                  QStringLiteral("group %1").arg(i), 200 + i)));
        }
        int root = 0;
        {
            SideConnection side(m_path);
            root = side.scalar(QStringLiteral("SELECT rootpage FROM sqlite_master WHERE name='conversations'")).toInt();
        }
        store().close();
        QByteArray bytes = contentOf(m_path);
        QVERIFY(root > 1 && qsizetype(root) * 4096 <= bytes.size());
        bytes.replace((root - 1) * 4096, 4096, QByteArray(4096, '\0'));
        QVERIFY(writeLongAgo(m_path, bytes));
        OpenReport report;
        QVERIFY(store().open(kOwnerA, m_path, &report));
        QVERIFY(!report.setAside.isEmpty());
        QCOMPARE(report.salvagedMessages, 6);
        QStringList listed;
        for (const ConversationRecord &row : store().listedConversations())
            listed << row.peer_raw_public_key + QLatin1Char('=') + row.last_message;
        QCOMPARE(listed, (QStringList{QStringLiteral("group:g1=group 2"), kPeer + QStringLiteral("=direct 2")}));
        QCOMPARE(store().conversationIdFor(kPeer), direct);
        QCOMPARE(store().messages(direct).size(), 3);
    }

    void filesAreOwnerOnly_data()
    {
        QTest::addColumn<bool>("defaultLocation");
        QTest::addColumn<bool>("leftWide"); // folder and files of an earlier build, open to all
        QTest::newRow("named, new") << false << false;
        QTest::newRow("named, left wide") << false << true;
        QTest::newRow("default, new") << true << false;
        QTest::newRow("default, left wide") << true << true;
    }
    void filesAreOwnerOnly()
    {
        QFETCH(bool, defaultLocation);
        QFETCH(bool, leftWide);
        QStandardPaths::setTestModeEnabled(true);
        const QString folder = defaultLocation ? QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                                               : m_dir.filePath(QStringLiteral("profile/data"));
        QDir(folder).removeRecursively();
        const QString path = folder + QStringLiteral("/chat.db");
        if (leftWide) {
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(store().open(kOwnerA, path));
            store().close();
            QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
            QVERIFY(::chmod(QFile::encodeName(path).constData(), 0644) == 0);
        }
        QVERIFY(store().open(kOwnerA, defaultLocation ? QString() : path));
        QCOMPARE(store().databasePath(), path);
        QVERIFY(store().upsertContact(friendRow(QStringLiteral("r"))));
        QCOMPARE(modeOf(folder), 0700);
        for (const QString suffix : {"", "-wal", "-shm"}) {
            QVERIFY2(QFileInfo::exists(path + suffix), qPrintable(suffix));
            QCOMPARE(modeOf(path + suffix), 0600);
        }
        store().close();
        QDir(folder).removeRecursively();
    }

    // A big pull's log is folded and cut back at once, single writes keep it
    // small: a large log must later be copied on a disk that may be full.
    void bigPullLeavesNoBigLog()
    {
        QVERIFY(store().open(kOwnerA, m_path));
        {
            ChatStore::Batch batch(store());
            for (int i = 0; i < 2500; ++i)
                QVERIFY(store().upsertMessage(message(QStringLiteral("m%1").arg(i), QStringLiteral("c"),
                                                      QString(3000, QChar('a' + i % 26)), i)));
            QVERIFY(batch.commit());
        }
        const qint64 atCommit = QFileInfo(m_path + "-wal").size();
        QTRY_VERIFY2(QFileInfo(m_path + "-wal").size() <= 1024 * 1024,
                     qPrintable(QString::number(QFileInfo(m_path + "-wal").size())));
        for (int i = 0; i < 600; ++i)
            QVERIFY(store().upsertMessage(message(QStringLiteral("n%1").arg(i), QStringLiteral("c"),
                                                  QString(3000, QChar('a' + i % 26)), i)));
        QVERIFY2(QFileInfo(m_path + "-wal").size() <= 1024 * 1024 + 64 * 1024,
                 qPrintable(QString::number(QFileInfo(m_path + "-wal").size())));
        qInfo("log after a 7.5 MB batch: %lld KiB at its commit, then folded; after 600 single writes %lld KiB; "
              "file %lld KiB",
              atCommit >> 10, QFileInfo(m_path + "-wal").size() >> 10, QFileInfo(m_path).size() >> 10);
        QCOMPARE(store().messages(QStringLiteral("c")).size(), 3100);
    }

    // A full disk's notice ends only when a write like the refused one
    // lands or room for one is found, not with a smaller write.
    void fullDiskEndsOnlyWithRoomForTheRefusedWrite_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::newRow("room comes back") << "room";
        QTest::newRow("the refused write is made again") << "again";
    }
    void fullDiskEndsOnlyWithRoomForTheRefusedWrite()
    {
        QFETCH(QString, ending);
        QVERIFY(store().open(kOwnerA, m_path));
        QVERIFY(store().upsertMessage(message(QStringLiteral("before"), QStringLiteral("c"), "t", 1)));
        const auto big = message(QStringLiteral("big"), QStringLiteral("c"), QString(200 * 1024, QChar('b')), 2);
        FailingWrites::setRoom(0);
        QVERIFY(!store().upsertMessage(big));
        QCOMPARE(store().condition(), Condition::DiskFull);
        // Room for small writes only.
        FailingWrites::setRoom(48 * 1024);
        QVERIFY(store().upsertContact(friendRow(QStringLiteral("small"))));
        QCOMPARE(store().condition(), Condition::DiskFull);
        // The store's own probing in the meantime finds no room either.
        QTest::qWait(3000);
        QCOMPARE(store().condition(), Condition::DiskFull);
        QCOMPARE(seen().mid(seen().lastIndexOf(Condition::DiskFull)), QList<Condition>{Condition::DiskFull});

        FailingWrites::setRoom(-1);
        if (ending == "again")
            QVERIFY(store().upsertMessage(big));
        QTRY_COMPARE(store().condition(), Condition::Ok);
        QVERIFY(store().upsertMessage(big));
        QCOMPARE(store().messages(QStringLiteral("c")).size(), 2);
        // The probe's room was given back: its table holds nothing.
        SideConnection side(m_path);
        QVERIFY(side.isOpen());
        QVERIFY(!side.scalar(QStringLiteral("SELECT 1 FROM space_probe")).isValid());
    }

    // A shared file kept aside is told once to each identity at its next
    // sign-in, with its readable rows; also to one with no rows read.
    void keptFileIsToldToEveryIdentityOnce()
    {
        constexpr int kEach = 30;
        for (const QString &owner : {kOwnerA, kOwnerB}) {
            QVERIFY(store().open(owner, m_path));
            for (int i = 0; i < kEach; ++i)
                QVERIFY(store().upsertMessage(message(owner.left(6) + QString::number(i), QStringLiteral("c"),
                                                      QString(3000, QChar('a' + i % 26)), i)));
            store().close();
        }
        QByteArray bytes = contentOf(m_path);
        // A page near the end of the file: an index page, or a few rows.
        bytes.replace((bytes.size() / 4096 - 2) * 4096, 4096, QByteArray(4096, '\xa5'));
        {
            QFile f(m_path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(f.write(bytes), bytes.size());
        }
        OpenReport report;
        QVERIFY(store().open(kOwnerA, m_path, &report));
        const QString kept = report.setAside;
        QVERIFY(!kept.isEmpty());
        QVERIFY(report.salvagedMessages >= kEach - 2);
        QCOMPARE(store().messages(QStringLiteral("c")).size(), report.salvagedMessages);
        const QString other = QStringLiteral("COwnerKeyCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCC");
        for (const auto &[owner, toldOf] : {std::pair{kOwnerB, kept}, std::pair{kOwnerB, QString()},
                                            std::pair{kOwnerA, QString()}, std::pair{other, kept},
                                            std::pair{other, QString()}}) {
            store().close();
            QVERIFY(store().open(owner, m_path, &report));
            QCOMPARE(report.setAside, toldOf);
            if (!toldOf.isEmpty())
                QCOMPARE(store().messages(QStringLiteral("c")).size(), report.salvagedMessages);
            if (owner == kOwnerB && !toldOf.isEmpty())
                QVERIFY(report.salvagedMessages >= kEach - 2);
        }
    }

    // The page reader on damaged and hostile files: whatever a file's pages
    // claim (a value longer than the file, a chain that loops, cells and
    // chains shared, a header lying about the page size), it reads a few
    // times the file's size at most, holds no more memory than that, and
    // still brings back the sound rows beside the damage.
    void hostilePagesCostTheirSizeOnly_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("rows"); // read back into the target's table

        QTest::newRow("3 pages of 4 KiB, overflow page linking to itself")
            << selfLoopingFile(4096, beyondTheFile(4096)) << 1;
        QTest::newRow("3 pages of 64 KiB, overflow page linking to itself")
            << selfLoopingFile(65536, beyondTheFile(65536)) << 1;
        // A value two pages long whose chain goes 3 -> 4 -> 3.
        QTest::newRow("a two-page loop the file could hold") << longRowFile(4096, 4, 6000, {4, 3}) << 1;
        QTest::newRow("a chain shorter than its value") << longRowFile(4096, 3, 20000, {0}) << 1;
        // The first row takes the chain; the others are not read through it.
        QTest::newRow("one chain claimed by 60 rows") << sharedChain(60, 64) << 2;
        QTest::newRow("one cell behind 8,000 pointers") << repeatedCell() << 1;
        // The header's page size (1 stands for 65536) lies.
        QByteArray lying = longRowFile(4096, 16, beyondTheFile(65536), {3});
        qToBigEndian(quint16(1), lying.data() + 16);
        QTest::newRow("header says 64 KiB pages, pages of 4 KiB") << lying << 0;
        qToBigEndian(quint16(512), lying.data() + 16);
        QTest::newRow("header says 512-byte pages, pages of 4 KiB") << lying << 0;
        // The size is then found from the pages themselves.
        QByteArray odd = selfLoopingFile(4096, beyondTheFile(4096));
        qToBigEndian(quint16(3000), odd.data() + 16);
        QTest::newRow("header's page size no power of two") << odd << 1;
    }
    void hostilePagesCostTheirSizeOnly()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, rows);
        QVERIFY(writeLongAgo(m_path, file));
        sqlite3 *target = nullptr;
        QCOMPARE(sqlite3_open(":memory:", &target), SQLITE_OK);
        const auto closeTarget = qScopeGuard([target] { sqlite3_close(target); });
        QCOMPARE(sqlite3_exec(target, "CREATE TABLE t(x TEXT)", nullptr, nullptr, nullptr), SQLITE_OK);

        const bool peakKnown = velmor::fakes::resetPeakResident();
        const qint64 before = velmor::fakes::statusBytes("VmRSS");
        QHash<QString, int> owners;
        const qint64 read = velmor::store::scanPages(m_path, target, &owners);
        const qint64 grown = velmor::fakes::statusBytes("VmHWM") - before;

        QVERIFY2(read <= 8 * file.size(), qPrintable(QStringLiteral("%1 bytes read of a file of %2").arg(read).arg(file.size())));
        if (peakKnown)
            QVERIFY2(grown < 32 * 1024 * 1024, qPrintable(QStringLiteral("peak grew by %1 bytes").arg(grown)));
        sqlite3_stmt *count = nullptr;
        sqlite3_prepare_v2(target, "SELECT count(*) FROM t", -1, &count, nullptr);
        QCOMPARE(sqlite3_step(count), SQLITE_ROW);
        const int found = sqlite3_column_int(count, 0);
        sqlite3_finalize(count);
        QCOMPARE(found, rows);
        QVERIFY(owners.isEmpty());
    }
};

QTEST_GUILESS_MAIN(DiskFaultsTest)
#include "test_disk_faults.moc"
