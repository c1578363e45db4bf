// Inline emoji pictures: in colour at the size asked, drawn once per emoji
// and size, nothing for ids a peer could forge.
#include "qml/Velmor/src/emoji_images.h"
#include "qml/Velmor/src/round_pictures.h"
#include "qml/Velmor/src/card_shadows.h"
#include "qml/Velmor/src/sheet_pictures.h"

#include <QGuiApplication>
#include <QTest>

using velmor::views::EmojiImageProvider;
using velmor::views::RoundPictureProvider;
using velmor::views::CardShadowProvider;
using velmor::views::SheetPictureProvider;

class EmojiImagesTest : public QObject
{
    Q_OBJECT

private:
    // Pixels whose colour channels differ clearly: a grey outline has none.
    static int colouredPixels(const QImage &image)
    {
        int n = 0;
        const QImage rgb = image.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < rgb.height(); ++y)
            for (int x = 0; x < rgb.width(); ++x) {
                const QColor c = QColor::fromRgba(rgb.pixel(x, y));
                n += c.alpha() > 128 && qMax(c.red(), qMax(c.green(), c.blue())) - qMin(c.red(), qMin(c.green(), c.blue())) > 50;
            }
        return n;
    }

private slots:
    // pixels: the side of the picture drawn, 0 for an id that is refused.
    void drawsValidIdsOnly_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<int>("pixels");
        QTest::newRow("face") << "15/1f600" << 15;
        QTest::newRow("skin tone") << "40/270c-1f3fb" << 40;
        QTest::newRow("flag") << "15/1f1e9-1f1ea" << 15;
        QTest::newRow("joined sequence") << "40/1f469-200d-1f4bb" << 40;
        QTest::newRow("no size") << "1f600" << 0;
        QTest::newRow("huge size") << "5000/1f600" << 0;
        QTest::newRow("negative size") << "-20/1f600" << 0;
        QTest::newRow("not hex") << "20/zz" << 0;
        QTest::newRow("beyond unicode") << "20/110000" << 0;
        QTest::newRow("lone surrogate") << "20/d83d" << 0;
        QTest::newRow("too long a code") << "20/00001f600" << 0;
        QTest::newRow("empty part") << "20/1f600--fe0f" << 0;
        QTest::newRow("too many code points") << "20/" + QStringList(20, QStringLiteral("1f600")).join(u'-') << 0;
        QTest::newRow("path") << "20/../1f600" << 0;
    }

    void drawsValidIdsOnly()
    {
        QFETCH(QString, id);
        QFETCH(int, pixels);
        EmojiImageProvider provider(QStringLiteral("Noto Color Emoji"));
        QSize size(1, 1);
        const QImage image = provider.requestImage(id, &size, QSize());
        if (pixels == 0) {
            QVERIFY(image.isNull());
            QVERIFY(!size.isValid());
            QCOMPARE(provider.drawnCount(), 0);
            return;
        }
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

    // Bundled avatars cut to a circle: transparent corners, the picture
    // inside; nothing for a path out of the assets or a file not there.
    void roundsBundledPicturesOnly_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("pixels");
        QTest::addColumn<bool>("drawn");
        QTest::newRow("picture") << "avatars/avatar_boys_001.png" << 96 << true;
        QTest::newRow("animation frame") << "lottiehead_05_frames/f0.svg" << 96 << true;
        QTest::newRow("out of the folder") << "../qml/Main.qml" << 96 << false;
        QTest::newRow("no such file") << "avatars/none.png" << 96 << false;
        QTest::newRow("no path") << "" << 96 << false;
    }

    void roundsBundledPicturesOnly()
    {
        QFETCH(QString, path);
        QFETCH(int, pixels);
        QFETCH(bool, drawn);
        const QImage round = RoundPictureProvider::draw(QStringLiteral(VELMOR_ASSETS_DIR), path, pixels);
        QCOMPARE(!round.isNull(), drawn);
        if (drawn) {
            QCOMPARE(round.size(), QSize(pixels, pixels));
            QCOMPARE(qAlpha(round.pixel(0, 0)) + qAlpha(round.pixel(pixels - 1, pixels - 1)), 0);
            QCOMPARE(qAlpha(round.pixel(pixels / 2, 1)) + qAlpha(round.pixel(pixels / 2, pixels / 2)), 2 * 255);
        }
    }

    // A part is exactly that rectangle of the picture; anything else named
    // gives nothing.
    void cutsCardShadowsOnly_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QRect>("part");
        QTest::newRow("corner") << "main_card.png/78,0,74,74" << QRect(78, 0, 74, 74);
        QTest::newRow("band") << "side_card.png/72,0,4,36" << QRect(72, 0, 4, 36);
        QTest::newRow("past the picture") << "main_card.png/100,100,74,74" << QRect();
        QTest::newRow("empty") << "main_card.png/0,0,0,36" << QRect();
        QTest::newRow("three numbers") << "main_card.png/0,0,74" << QRect();
        QTest::newRow("not a number") << "main_card.png/0,x,4,4" << QRect();
        QTest::newRow("out of the folder") << "../logo_first_156.png/0,0,4,4" << QRect();
        QTest::newRow("no such picture") << "none.png/0,0,4,4" << QRect();
    }

    void cutsCardShadowsOnly()
    {
        QFETCH(QString, id);
        QFETCH(QRect, part);
        const QString folder = QStringLiteral(VELMOR_ASSETS_DIR "/shadows");
        CardShadowProvider provider;
        const QImage cut = provider.cut(folder, id);
        QCOMPARE(cut.isNull(), part.isNull());
        if (!part.isNull())
            QCOMPARE(cut, QImage(folder + u'/' + id.section(u'/', 0, 0)).copy(part));
    }

    // A frame sheet at the size asked, the very picture the logo's surface
    // paints (so the window and the surface show the same pixels); its
    // whole size when none is asked; nothing from outside the assets.
    void drawsSheetsAtTheSizeAsked_data()
    {
        QTest::addColumn<QString>("folder"); // under the assets
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("asked");
        QTest::addColumn<QSize>("drawn");
        QTest::newRow("drawn size") << "" << "logo_sheet_156.png" << QSize(546, 546) << QSize(546, 546);
        QTest::newRow("none asked") << "" << "logo_sheet_156.png" << QSize() << QSize(1092, 1092);
        QTest::newRow("out of the folder") << "/avatars" << "../logo_sheet_156.png" << QSize(546, 546) << QSize();
    }

    void drawsSheetsAtTheSizeAsked()
    {
        QFETCH(QString, folder);
        QFETCH(QString, path);
        QFETCH(QSize, asked);
        QFETCH(QSize, drawn);
        folder.prepend(QStringLiteral(VELMOR_ASSETS_DIR));
        const QImage sheet = SheetPictureProvider::draw(folder, path, asked);
        QCOMPARE(sheet.isNull(), !drawn.isValid());
        if (drawn.isValid()) {
            QCOMPARE(sheet.size(), drawn);
            QCOMPARE(sheet, velmor::views::scaledSheet(folder + u'/' + path, asked));
        }
    }
};

QTEST_MAIN(EmojiImagesTest)
#include "emoji_images_test.moc"
