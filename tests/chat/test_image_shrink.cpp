// Pictures as a phone or camera makes them go out as the small JPEG every
// picture is sent as: never refused for their size, colours where they were.

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
    void phonePicturesGoOutShrunk_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("format");
        QTest::addColumn<QSize>("sent");

        QTest::newRow("48 MP JPEG") << "photo.jpg" << QSize(8000, 6000) << int(QImage::Format_RGB32)
                                    << QSize(1280, 960);
        QTest::newRow("16-bit PNG") << "deep.png" << QSize(6000, 4000) << int(QImage::Format_RGBX64)
                                    << QSize(1280, 853);
        QTest::newRow("16-bit PNG with alpha, upright") << "deep-alpha.png" << QSize(4000, 6000)
                                                        << int(QImage::Format_RGBA64) << QSize(853, 1280);
        QTest::newRow("48 MP PNG with alpha") << "wide.png" << QSize(8000, 6000) << int(QImage::Format_ARGB32)
                                              << QSize(1280, 960);
    }
    void phonePicturesGoOutShrunk()
    {
        QFETCH(QString, file);
        QFETCH(QSize, size);
        QFETCH(int, format);
        QFETCH(QSize, sent);
        const QString path = m_dir.filePath(file);
        QVERIFY(halves(size.width(), size.height(), QImage::Format(format)).save(path, nullptr, 90));

        const ShrunkImage shrunk = shrinkImageFile(path);
        QCOMPARE(shrunk.error, QString());
        QCOMPARE(QSize(shrunk.width, shrunk.height), sent);
        QVERIFY(shrunk.jpeg.size() <= kMaxSentImageBytes);
        const QImage out = QImage::fromData(shrunk.jpeg, "JPEG");
        QCOMPARE(out.size(), sent);
        QVERIFY2(near(out.pixelColor(sent.width() / 4, sent.height() / 2), Qt::red), "left half not red");
        QVERIFY2(near(out.pixelColor(sent.width() * 3 / 4, sent.height() / 2), Qt::blue), "right half not blue");
    }

    // A large 16-bit file that stops short is refused, not sent half grey.
    void cutShortDeepPngIsRefused()
    {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(halves(6000, 4000, QImage::Format_RGBX64).save(&buffer, "PNG", 90));
        QFile out(m_dir.filePath(QStringLiteral("cut.png")));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(bytes.left(bytes.size() / 2));
        out.close();
        QCOMPARE(shrinkImageFile(out.fileName()).error, QStringLiteral("invalid_image"));
    }
};

QTEST_GUILESS_MAIN(ImageShrinkTest)
#include "test_image_shrink.moc"
