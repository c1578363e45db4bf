// QR encoding: decoded back by ZBar (binary mode), level MEDIUM, smallest version.
#include "identity/crypto.h"
#include "identity/identity.h"
#include "identity/qr.h"
#include "support/qr_scan.h"

#include <QImage>
#include <QtTest>

using velmor::identity::makeQrCode;
using velmor::identity::QrCode;

namespace {

// Renders the code with a 4-module quiet zone, `scale` pixels per module.
QImage render(const QrCode &qr, int scale = 4)
{
    const int border = 4;
    const int side = (qr.size + 2 * border) * scale;
    QImage image(side, side, QImage::Format_Grayscale8);
    image.fill(255);
    for (int y = 0; y < qr.size; ++y)
        for (int x = 0; x < qr.size; ++x)
            if (qr.isDark(x, y))
                for (int dy = 0; dy < scale; ++dy) {
                    uchar *row = image.scanLine((y + border) * scale + dy);
                    for (int dx = 0; dx < scale; ++dx)
                        row[(x + border) * scale + dx] = 0;
                }
    return image;
}

// The error-correction level from the first copy of the format bits
// (0 = M, 1 = L, 2 = H, 3 = Q).
int eccLevel(const QrCode &qr)
{
    int bits = 0;
    for (int i = 0; i <= 5; ++i)
        bits |= int(qr.isDark(8, i)) << i;
    bits |= int(qr.isDark(8, 7)) << 6;
    bits |= int(qr.isDark(8, 8)) << 7;
    bits |= int(qr.isDark(7, 8)) << 8;
    for (int i = 9; i < 15; ++i)
        bits |= int(qr.isDark(14 - i, 8)) << i;
    return (bits ^ 0x5412) >> 13;
}

} // namespace

class TestQr : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void levelIsMedium();
    void smallestVersion();
    void tooLong();
    void moduleTestBounds();
};

void TestQr::roundTrip_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ascii") << QByteArray("hello, pelorin");
    QTest::newRow("public key text") << velmor::identity::Identity(QByteArray(32, 0x11)).publicKeyText().toLatin1();
    QTest::newRow("utf-8") << QString::fromUtf8("加我好友 · Pelorin").toUtf8();
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    QTest::newRow("every byte value") << all;
    QTest::newRow("one byte") << QByteArray("x");
    QTest::newRow("long") << QByteArray(1200, 'q');
}

void TestQr::roundTrip()
{
    QFETCH(QByteArray, bytes);
    const QrCode qr = makeQrCode(bytes);
    QVERIFY(qr.size >= 21);
    QCOMPARE(qsizetype(qr.modules.size()), qsizetype(qr.size) * qr.size);
    const QList<QByteArray> found = velmor::fakes::scanQrCodes(render(qr, bytes.size() > 500 ? 3 : 4));
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first(), bytes);
}

void TestQr::levelIsMedium()
{
    // Short data would fit a higher level in the same version: it must stay MEDIUM.
    for (const QByteArray &bytes : {QByteArray("a"), QByteArray(14, 'b'), QByteArray(100, 'c'), QByteArray(2000, 'd')})
        QCOMPARE(eccLevel(makeQrCode(bytes)), 0);
}

void TestQr::smallestVersion()
{
    // Byte-mode capacity at level M: version 1 holds 14 bytes, version 2 holds 26,
    // version 10 holds 213, version 40 holds 2331. Side = 17 + 4 * version.
    QCOMPARE(makeQrCode(QByteArray(14, 'a')).size, 21);
    QCOMPARE(makeQrCode(QByteArray(15, 'a')).size, 25);
    QCOMPARE(makeQrCode(QByteArray(26, 'a')).size, 25);
    QCOMPARE(makeQrCode(QByteArray(27, 'a')).size, 29);
    QCOMPARE(makeQrCode(QByteArray(213, 'a')).size, 57);
    QCOMPARE(makeQrCode(QByteArray(214, 'a')).size, 61);
    QCOMPARE(makeQrCode(QByteArray(2331, 'a')).size, 177);
}

void TestQr::tooLong()
{
    for (int n : {2332, 3000, 1 << 20}) {
        const QrCode qr = makeQrCode(QByteArray(n, 'z'));
        QCOMPARE(qr.size, 0);
        QVERIFY(qr.modules.empty());
        QVERIFY(!qr.isDark(0, 0));
    }
}

void TestQr::moduleTestBounds()
{
    const QrCode qr = makeQrCode("bounds");
    QVERIFY(qr.isDark(0, 0)); // corner of a finder pattern
    QVERIFY(!qr.isDark(-1, 0));
    QVERIFY(!qr.isDark(0, -1));
    QVERIFY(!qr.isDark(qr.size, 0));
    QVERIFY(!qr.isDark(0, qr.size));
    QVERIFY(!qr.isDark(7, 7)); // separator beside the finder
}

QTEST_GUILESS_MAIN(TestQr)
#include "tst_qr.moc"
