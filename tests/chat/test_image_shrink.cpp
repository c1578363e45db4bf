// Pictures as a phone makes them go out as the small JPEG every picture is
// sent as: never refused for their size, colours where they were.

#include "chat/image_shrink.h"

#include <QBuffer>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

using namespace velmor::chat;

namespace {

// Left half red, right half blue: a colour that lands in the wrong channel
// or a row read in the wrong place shows.
QImage halves(int width, int height, QImage::Format format)
{
    QImage image(width, height, format);
    image.fill(Qt::red);
    const QImage blue = [&] {
        QImage half(width - width / 2, height, format);
        half.fill(Qt::blue);
        return half;
    }();
    for (int y = 0; y < height; ++y)
        memcpy(image.scanLine(y) + image.bytesPerLine() - blue.bytesPerLine(), blue.constScanLine(y),
               size_t(blue.bytesPerLine()));
    return image;
}

bool near(QColor got, QColor want)
{
    return qAbs(got.red() - want.red()) < 40 && qAbs(got.green() - want.green()) < 40
           && qAbs(got.blue() - want.blue()) < 40;
}

} // namespace

class ImageShrinkTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    // Cut short, a large 16-bit file is refused, not sent half grey.
    void phonePicturesGoOutShrunk_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("format");
        QTest::addColumn<QSize>("sent"); // empty: refused
        QTest::addColumn<bool>("cut");
        QTest::newRow("48 MP JPEG") << QSize(8000, 6000) << int(QImage::Format_RGB32) << QSize(1280, 960) << false;
        QTest::newRow("16-bit PNG with alpha, upright")
            << QSize(4000, 6000) << int(QImage::Format_RGBA64) << QSize(853, 1280) << false;
        QTest::newRow("16-bit PNG cut short") << QSize(6000, 4000) << int(QImage::Format_RGBX64) << QSize() << true;
    }
    void phonePicturesGoOutShrunk()
    {
        QFETCH(QSize, size);
        QFETCH(int, format);
        QFETCH(QSize, sent);
        QFETCH(bool, cut);
        const bool deep = format != int(QImage::Format_RGB32);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(halves(size.width(), size.height(), QImage::Format(format)).save(&buffer, deep ? "PNG" : "JPEG", 90));
        QFile file(m_dir.filePath(QStringLiteral("picture.") + (deep ? "png" : "jpg")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(cut ? bytes.left(bytes.size() / 2) : bytes) > 0);
        file.close();

        const ShrunkImage shrunk = shrinkImageFile(file.fileName());
        QCOMPARE(shrunk.error, cut ? QStringLiteral("invalid_image") : QString());
        if (cut)
            return;
        QCOMPARE(QSize(shrunk.width, shrunk.height), sent);
        QVERIFY(shrunk.jpeg.size() <= kMaxSentImageBytes);
        const QImage out = QImage::fromData(shrunk.jpeg, "JPEG");
        QCOMPARE(out.size(), sent);
        QVERIFY2(near(out.pixelColor(sent.width() / 4, sent.height() / 2), Qt::red), "left half not red");
        QVERIFY2(near(out.pixelColor(sent.width() * 3 / 4, sent.height() / 2), Qt::blue), "right half not blue");
    }
};

QTEST_GUILESS_MAIN(ImageShrinkTest)
#include "test_image_shrink.moc"
