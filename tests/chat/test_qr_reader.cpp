// QR pictures as users pick them: codes made by our own encoder, scaled,
// turned, mirrored, noisy, on a large photo, with texts in any script, and
// the pictures that hold no code or are no picture at all.
#include "chat_fixture.h"

#include "chat/qr_reader.h"
#include "identity/qr.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace velmor::chat;
using chattest::qrPicture;

namespace {

QImage turned(const QImage &image, qreal degrees)
{
    QImage out = image.transformed(QTransform().rotate(degrees), Qt::SmoothTransformation);
    // The corners that turning uncovers are white, as paper is.
    QImage paper(out.size(), QImage::Format_RGB32);
    paper.fill(Qt::white);
    QPainter(&paper).drawImage(0, 0, out);
    return paper;
}

QImage noisy(QImage image, int spread, double saltShare)
{
    QRandomGenerator random(42);
    image = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            int grey = qGray(line[x]) + random.bounded(-spread, spread + 1);
            if (random.generateDouble() < saltShare)
                grey = random.bounded(2) ? 255 : 0;
            grey = qBound(0, grey, 255);
            line[x] = qRgb(grey, grey, grey);
        }
    }
    return image;
}

// A photo-sized grey picture with the code somewhere off its centre.
QImage onPhoto(const QImage &code)
{
    QImage photo(1600, 1200, QImage::Format_RGB32);
    photo.fill(QColor(180, 170, 160));
    QPainter(&photo).drawImage(900, 150, code);
    return photo;
}

} // namespace

class QrReaderTest : public QObject
{
    Q_OBJECT

private slots:
    void picturesOfCodes_data()
    {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<QString>("text");
        const QString link = QStringLiteral("pelorin:group:") + QString(43, QLatin1Char('Q'));
        const QString address = QStringLiteral("0x52908400098527886E0F7030069857D2E4169EE7");
        const QString chinese = QStringLiteral("加入我们的群：pelorin:supergroup:https://g.example/");
        const QImage plain = qrPicture(link.toUtf8(), 4);
        QTest::newRow("plain") << plain << link;
        QTest::newRow("one pixel a module") << qrPicture(address.toUtf8(), 1).scaled(100, 100) << address;
        QTest::newRow("scaled up, smooth") << plain.scaled(plain.size() * 2.7, Qt::IgnoreAspectRatio,
                                                           Qt::SmoothTransformation) << link;
        QTest::newRow("scaled down") << qrPicture(address.toUtf8(), 6).scaled(150, 150, Qt::IgnoreAspectRatio,
                                                                              Qt::SmoothTransformation) << address;
        QTest::newRow("turned 90") << turned(plain, 90) << link;
        QTest::newRow("turned 17") << turned(plain, 17) << link;
        QTest::newRow("turned 200") << turned(plain, 200) << link;
        QTest::newRow("mirrored") << plain.mirrored(true, false) << link;
        QTest::newRow("mirrored and turned") << turned(plain.mirrored(false, true), 33) << link;
        QTest::newRow("noisy") << noisy(plain, 60, 0.01) << link;
        QTest::newRow("on a photo") << onPhoto(qrPicture(address.toUtf8(), 5)) << address;
        QTest::newRow("inverted colours are no code")
            << [&] { QImage i = plain; i.invertPixels(); return i; }() << QString();
        QTest::newRow("utf-8 text") << qrPicture(chinese.toUtf8(), 4) << chinese;
        QTest::newRow("padded text is trimmed") << qrPicture(QByteArray("  ") + address.toUtf8() + "\n", 4)
                                                << address;
        QTest::newRow("blank code") << qrPicture("   ", 4) << QString();
        QTest::newRow("white picture") << [] { QImage i(300, 300, QImage::Format_RGB32); i.fill(Qt::white); return i; }()
                                       << QString();
    }
    void picturesOfCodes()
    {
        QFETCH(QImage, image);
        QFETCH(QString, text);
        QString error;
        QCOMPARE(decodeQrImage(image, &error), text);
        QCOMPARE(error, text.isEmpty() ? QString::fromLatin1(kQrCodeNotFound) : QString());
    }

    void filesThatAreNoCodePicture_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error");
        QTest::newRow("text file") << QByteArray("not a picture at all") << QString::fromLatin1(kQrImageUnreadable);
        QTest::newRow("empty file") << QByteArray() << QString::fromLatin1(kQrImageUnreadable);
        QTest::newRow("cut-off png") << pngOf(qrPicture("hello", 4)).left(60) << QString::fromLatin1(kQrImageUnreadable);
        QTest::newRow("huge picture") << pngOf(QImage(8000, 6000, QImage::Format_Mono))
                                      << QString::fromLatin1(kQrImageTooLarge);
        QTest::newRow("png with a code") << pngOf(qrPicture("hello", 4)) << QString();
    }
    void filesThatAreNoCodePicture()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("picked"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        QString got;
        const QString text = decodeQrImage(path, &got);
        QCOMPARE(got, error);
        QCOMPARE(text.isEmpty(), !error.isEmpty());
        QString missing;
        QVERIFY(decodeQrImage(dir.filePath(QStringLiteral("absent.png")), &missing).isEmpty());
        QCOMPARE(missing, QString::fromLatin1(kQrImageUnreadable));
    }

private:
    static QByteArray pngOf(QImage image)
    {
        if (image.format() == QImage::Format_Mono)
            image.fill(1);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    }
};

QTEST_GUILESS_MAIN(QrReaderTest)
#include "test_qr_reader.moc"
