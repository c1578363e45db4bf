// The page reader on damaged and hostile files: whatever a file's pages
// claim (a value longer than the file, a chain that loops, cells and chains
// shared, a header lying about the page size), it reads a few times the
// file's size at most, holds no more memory than that, and still brings
// back the sound rows beside the damage.
#include "page_images.h"

#include "store/page_scan.h"
#include "support/memory_peak.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

using namespace storetest;

namespace {

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

class PageScanTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void hostilePagesCostTheirSizeOnly_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("rows"); // read back into the target's table

        QTest::newRow("3 pages of 4 KiB, overflow page linking to itself")
            << selfLoopingFile(4096, beyondTheFile(4096)) << 1;
        QTest::newRow("3 pages of 64 KiB, overflow page linking to itself")
            << selfLoopingFile(65536, beyondTheFile(65536)) << 1;
        {
            // A value two pages long whose chain goes 3 -> 4 -> 3.
            PageImage image(4096, 4);
            image.schema(QStringLiteral("t"), 2);
            image.leaf(2, {image.longCell(6000, 1, 3), PageImage::rowCell(2, {QStringLiteral("kept")})});
            image.overflow(3, 4);
            image.overflow(4, 3);
            QTest::newRow("a two-page loop the file could hold") << image.bytes() << 1;
        }
        {
            PageImage image(4096, 3);
            image.schema(QStringLiteral("t"), 2);
            image.leaf(2, {image.longCell(20000, 1, 3), PageImage::rowCell(2, {QStringLiteral("kept")})});
            image.overflow(3, 0);
            QTest::newRow("a chain shorter than its value") << image.bytes() << 1;
        }
        // The first row takes the chain; the others are not read through it.
        QTest::newRow("one chain claimed by 60 rows") << sharedChain(60, 64) << 2;
        QTest::newRow("one cell behind 8,000 pointers") << repeatedCell() << 1;
        {
            PageImage image(4096, 16);
            image.schema(QStringLiteral("t"), 2);
            image.leaf(2, {image.longCell(beyondTheFile(65536), 1, 3), PageImage::rowCell(2, {QStringLiteral("kept")})});
            image.overflow(3, 3);
            image.setHeaderPageSize(1);
            QTest::newRow("header says 64 KiB pages, pages of 4 KiB") << image.bytes() << 0;
            image.setHeaderPageSize(512);
            QTest::newRow("header says 512-byte pages, pages of 4 KiB") << image.bytes() << 0;
        }
        {
            // The size is then found from the pages themselves.
            QByteArray file = selfLoopingFile(4096, beyondTheFile(4096));
            qToBigEndian(quint16(3000), file.data() + 16);
            QTest::newRow("header's page size no power of two") << file << 1;
        }
    }
    void hostilePagesCostTheirSizeOnly()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, rows);
        const QString path = m_dir.filePath(QStringLiteral("kept.db"));
        {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(out.write(file), file.size());
        }
        sqlite3 *target = nullptr;
        QCOMPARE(sqlite3_open(":memory:", &target), SQLITE_OK);
        const auto closeTarget = qScopeGuard([target] { sqlite3_close(target); });
        QCOMPARE(sqlite3_exec(target, "CREATE TABLE t(x TEXT)", nullptr, nullptr, nullptr), SQLITE_OK);

        const bool peakKnown = velmor::fakes::resetPeakResident();
        const qint64 before = velmor::fakes::statusBytes("VmRSS");
        QHash<QString, int> owners;
        const qint64 read = velmor::store::scanPages(path, target, &owners);
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

QTEST_GUILESS_MAIN(PageScanTest)
#include "test_page_scan.moc"
