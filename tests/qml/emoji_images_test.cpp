// The emoji pictures texts show inline: drawn in colour at the size asked,
// once per emoji and size, and nothing at all for ids a peer's text could
// forge (huge sizes, long or invalid sequences).
#include "qml/Velmor/src/emoji_images.h"

#include <QGuiApplication>
#include <QTest>

using velmor::views::EmojiImageProvider;

class EmojiImagesTest : public QObject
{
    Q_OBJECT

private:
    // Pixels whose colour channels differ clearly: a grey outline has none.
    static int colouredPixels(const QImage &image)
    {
        int n = 0;
        const QImage rgb = image.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < rgb.height(); ++y) {
            for (int x = 0; x < rgb.width(); ++x) {
                const QColor c = QColor::fromRgba(rgb.pixel(x, y));
                if (c.alpha() > 128 && qMax(c.red(), qMax(c.green(), c.blue())) - qMin(c.red(), qMin(c.green(), c.blue())) > 50)
                    ++n;
            }
        }
        return n;
    }

private slots:
    void drawsInColourAtTheSizeAsked_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<int>("pixels");
        QTest::newRow("face") << "15/1f600" << 15;
        QTest::newRow("heart with selector") << "15/2764-fe0f" << 15;
        QTest::newRow("skin tone") << "40/270c-1f3fb" << 40;
        QTest::newRow("flag") << "15/1f1e9-1f1ea" << 15;
        QTest::newRow("joined sequence") << "40/1f469-200d-1f4bb" << 40;
    }

    void drawsInColourAtTheSizeAsked()
    {
        QFETCH(QString, id);
        QFETCH(int, pixels);
        EmojiImageProvider provider(QStringLiteral("Noto Color Emoji"));
        QSize size;
        const QImage image = provider.requestImage(id, &size, QSize());
        QCOMPARE(image.size(), QSize(pixels, pixels));
        QCOMPARE(size, QSize(pixels, pixels));
        QVERIFY2(colouredPixels(image) >= pixels * pixels / 8, qPrintable(QString::number(colouredPixels(image))));
    }

    void drawsEachEmojiOncePerSize()
    {
        EmojiImageProvider provider(QStringLiteral("Noto Color Emoji"));
        for (int round = 0; round < 50; ++round) {
            provider.requestImage(QStringLiteral("15/1f600"), nullptr, QSize());
            provider.requestImage(QStringLiteral("15/2764-fe0f"), nullptr, QSize());
            provider.requestImage(QStringLiteral("40/1f600"), nullptr, QSize());
        }
        QCOMPARE(provider.drawnCount(), 3);
    }

    void refusesForgedIds_data()
    {
        QTest::addColumn<QString>("id");
        QTest::newRow("no size") << "1f600";
        QTest::newRow("size zero") << "0/1f600";
        QTest::newRow("huge size") << "5000/1f600";
        QTest::newRow("negative size") << "-20/1f600";
        QTest::newRow("no code") << "20/";
        QTest::newRow("not hex") << "20/zz";
        QTest::newRow("beyond unicode") << "20/110000";
        QTest::newRow("lone surrogate") << "20/d83d";
        QTest::newRow("too long a code") << "20/00001f600";
        QTest::newRow("empty part") << "20/1f600--fe0f";
        QTest::newRow("too many code points") << "20/" + QStringList(20, QStringLiteral("1f600")).join(u'-');
        QTest::newRow("path") << "20/../1f600";
    }

    void refusesForgedIds()
    {
        QFETCH(QString, id);
        EmojiImageProvider provider(QStringLiteral("Noto Color Emoji"));
        QSize size(1, 1);
        QVERIFY(provider.requestImage(id, &size, QSize()).isNull());
        QVERIFY(!size.isValid());
        QCOMPARE(provider.drawnCount(), 0);
    }
};

QTEST_MAIN(EmojiImagesTest)
#include "emoji_images_test.moc"
