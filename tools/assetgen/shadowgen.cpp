// Draws the cards' drop shadows once, with the very effect the views used to
// run on every start, so that a view can lay them out with a BorderImage and
// look the same without blurring anything at run time. Needs a real window
// system (shader effects are not drawn offscreen):
//   xvfb-run -a build-assetgen/velmor_shadowgen qml/Velmor/assets/shadows
//
// Each picture is what the effect drew for a black rounded rectangle of
// `side` pixels with `margin` pixels around it: the shadow, at its offset,
// under the rectangle itself (the card covers that but for its soft rim).
// Its corner pieces (margin + corner radius + blur + offset) are exact, and
// every row and column between them is the same, so a BorderImage stretching
// them reproduces the shadow of a card of any size.
#include <QDir>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickItemGrabResult>
#include <QQuickWindow>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

struct Shadow
{
    const char *file;
    int cornerRadius;
    int blurRadius;
    int samples;
    const char *color;
    int horizontalOffset;
    int verticalOffset;

    int border(int margin) const
    {
        return margin + cornerRadius + blurRadius + std::max(std::abs(horizontalOffset), std::abs(verticalOffset));
    }
};

// The side card and the main card.
const Shadow kShadows[] = {
    { "side_card.png", 16, 18, 37, "#8c000000", -2, 6 },
    { "main_card.png", 12, 22, 45, "#8c000000", 0, 8 },
};

constexpr int kMargin = 32;

QByteArray scene(const Shadow &s, int side)
{
    return QStringLiteral(R"(
import QtQuick
import Qt5Compat.GraphicalEffects
Item {
    width: %1 + 2 * %2
    height: width
    Rectangle {
        id: outline
        x: %2; y: %2; width: %1; height: %1
        radius: %3
        color: "black"
        visible: false
    }
    DropShadow {
        anchors.fill: outline
        source: outline
        cached: true
        transparentBorder: true
        color: "%4"
        radius: %5
        samples: %6
        horizontalOffset: %7
        verticalOffset: %8
    }
}
)").arg(side).arg(kMargin).arg(s.cornerRadius).arg(QLatin1String(s.color)).arg(s.blurRadius).arg(s.samples)
        .arg(s.horizontalOffset).arg(s.verticalOffset).toUtf8();
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: velmor_shadowgen <output folder>\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);

    QQmlEngine engine;
    QQuickWindow window;
    window.setColor(Qt::transparent);
    window.resize(400, 400);
    window.show();

    int failures = 0;
    int pending = int(std::size(kShadows));
    for (const Shadow &s : kShadows) {
        // Long enough straight sides that the middle rows and columns see
        // no corner within the blur's reach.
        // (The picture is then 2 * border + 4 pixels square, as the views expect.)
        const int side = 2 * (s.border(kMargin) - kMargin) + 4;
        QQmlComponent component(&engine);
        component.setData(scene(s, side), QUrl());
        auto *item = qobject_cast<QQuickItem *>(component.create());
        if (!item) {
            std::fprintf(stderr, "shadowgen: %s\n", qPrintable(component.errorString()));
            return 1;
        }
        item->setParentItem(window.contentItem());
        item->setVisible(false); // drawn only into its grab
        QTimer::singleShot(500, item, [&, item, s] {
            item->setVisible(true);
            const auto grab = item->grabToImage();
            if (!grab) {
                ++failures;
                if (--pending == 0) app.quit();
                return;
            }
            QObject::connect(grab.data(), &QQuickItemGrabResult::ready, item, [&, grab, item, s] {
                const QString path = out + QLatin1Char('/') + QLatin1String(s.file);
                if (!grab->image().convertToFormat(QImage::Format_ARGB32).save(path, "png", 0))
                    ++failures;
                item->setVisible(false);
                std::printf("shadowgen: %s border %d\n", qPrintable(path), s.border(kMargin));
                if (--pending == 0) app.quit();
            });
        });
    }
    app.exec();
    return failures == 0 ? 0 : 1;
}
