// Draws every picture of the QML module: line icons, avatars, frame
// animations and animated emoji. Usage:
//   velmor_assetgen <assets folder> [<contact sheet folder>]
// The assets folder receives the committed files; the optional second folder
// receives contact sheets for looking the art over.
#include "art.h"
#include "gifwriter.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>
#include <functional>

namespace {

QString g_out;
int g_failures = 0;

void fail(const QString &what)
{
    std::fprintf(stderr, "assetgen: %s\n", qPrintable(what));
    ++g_failures;
}

void writeFile(const QString &rel, const QByteArray &data)
{
    const QString path = g_out + QLatin1Char('/') + rel;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size())
        fail(QStringLiteral("cannot write ") + path);
}

QImage render(const QString &svg, QSize size, bool opaque, QColor background = Qt::white)
{
    QSvgRenderer renderer(svg.toUtf8());
    if (!renderer.isValid()) {
        fail(QStringLiteral("invalid SVG: ") + svg.left(160));
        return {};
    }
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    img.fill(opaque ? background : QColor(Qt::transparent));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    renderer.render(&p);
    p.end();
    return opaque ? img.convertToFormat(QImage::Format_RGB888) : img.convertToFormat(QImage::Format_ARGB32);
}

void writePng(const QString &rel, const QImage &img)
{
    const QString path = g_out + QLatin1Char('/') + rel;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImageWriter w(path, "png");
    w.setQuality(0); // smallest file
    if (!w.write(img))
        fail(QStringLiteral("cannot write ") + path + QStringLiteral(": ") + w.errorString());
}

void writeSvgChecked(const QString &rel, const QString &svg)
{
    if (!QSvgRenderer(svg.toUtf8()).isValid())
        fail(QStringLiteral("invalid SVG for ") + rel);
    writeFile(rel, svg.toUtf8());
}

QString pad3(int n) { return QStringLiteral("%1").arg(n, 3, 10, QLatin1Char('0')); }

// Contact sheet: a grid of labelled tiles.
QImage sheet(const QList<QPair<QString, QImage>> &tiles, int tile, int columns, QColor bg)
{
    const int labelH = 16;
    const int rows = (int(tiles.size()) + columns - 1) / columns;
    QImage img(columns * (tile + 12) + 12, rows * (tile + labelH + 12) + 12, QImage::Format_RGB32);
    img.fill(bg);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QFont f;
    f.setPixelSize(10);
    p.setFont(f);
    for (int i = 0; i < tiles.size(); ++i) {
        const int x = 12 + (i % columns) * (tile + 12);
        const int y = 12 + (i / columns) * (tile + labelH + 12);
        p.drawImage(QRect(x, y, tile, tile), tiles[i].second);
        p.setPen(bg.lightness() > 128 ? Qt::black : Qt::white);
        p.drawText(QRect(x - 6, y + tile, tile + 12, labelH), Qt::AlignCenter, tiles[i].first);
    }
    return img;
}

QImage tinted(const QImage &white, QColor c)
{
    QImage out = white.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            line[x] = qRgba(c.red(), c.green(), c.blue(), qAlpha(line[x]));
    }
    return out;
}

void frameSet(const QString &dir, int count, const std::function<QString(int)> &frame,
              QList<QPair<QString, QImage>> *preview)
{
    for (int i = 0; i < count; ++i) {
        const QString svg = frame(i);
        writeSvgChecked(dir + QStringLiteral("/f") + QString::number(i) + QStringLiteral(".svg"), svg);
        if (preview && (i == 0 || i == count / 2))
            preview->append({ dir + QLatin1Char(' ') + QString::number(i), render(svg, QSize(96, 96), true, QColor("#dde3ea")) });
    }
}

// A frame set as one sprite sheet: every frame rasterised once at the size
// it is shown at (as the image loader rasterises an SVG for that size), laid
// out `columns` to a row, left to right and top to bottom. A view shows a
// frame by moving the sheet under a clip: nothing is decoded per frame.
QImage frameSheet(const QString &rel, int count, int columns, int px, const std::function<QString(int)> &frame)
{
    const int rows = (count + columns - 1) / columns;
    QImage sheet(columns * px, rows * px, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(Qt::transparent);
    QPainter p(&sheet);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    for (int i = 0; i < count; ++i) {
        QByteArray svg = frame(i).toUtf8();
        QBuffer buffer(&svg);
        QImageReader reader(&buffer, "svg");
        reader.setScaledSize(QSize(px, px));
        const QImage img = reader.read();
        if (img.isNull()) {
            fail(QStringLiteral("frame %1 of %2 does not render: ").arg(i).arg(rel) + reader.errorString());
            continue;
        }
        p.drawImage(QPoint((i % columns) * px, (i / columns) * px), img);
    }
    p.end();
    writePng(rel, sheet.convertToFormat(QImage::Format_ARGB32));
    return sheet;
}

// Half the size, each pixel the mean of the four it replaces (premultiplied):
// what drawing the full-size picture at half its size with linear filtering
// shows.
QImage halved(const QImage &full)
{
    const QImage src = full.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage half(src.width() / 2, src.height() / 2, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < half.height(); ++y) {
        const QRgb *a = reinterpret_cast<const QRgb *>(src.constScanLine(2 * y));
        const QRgb *b = reinterpret_cast<const QRgb *>(src.constScanLine(2 * y + 1));
        QRgb *out = reinterpret_cast<QRgb *>(half.scanLine(y));
        for (int x = 0; x < half.width(); ++x) {
            const QRgb p[4] = { a[2 * x], a[2 * x + 1], b[2 * x], b[2 * x + 1] };
            auto mean = [&p](int (*channel)(QRgb)) {
                return (channel(p[0]) + channel(p[1]) + channel(p[2]) + channel(p[3]) + 2) / 4;
            };
            out[x] = qRgba(mean(qRed), mean(qGreen), mean(qBlue), mean(qAlpha));
        }
    }
    return half;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: velmor_assetgen <assets folder> [<contact sheet folder>]\n");
        return 2;
    }
    g_out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const QString sheets = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();

    // Line icons.
    QList<QPair<QString, QImage>> iconTiles;
    const auto icons = art::lineIcons();
    for (auto it = icons.cbegin(); it != icons.cend(); ++it) {
        const QString svg = art::svgDocument(24, 24, it.value());
        writeSvgChecked(QStringLiteral("icons/tg/") + it.key() + QStringLiteral(".svg"), svg);
        iconTiles.append({ it.key(), tinted(render(svg, QSize(96, 96), false), QColor("#222a33")) });
    }
    if (icons.size() != 31)
        fail(QStringLiteral("expected 31 icons, have %1").arg(icons.size()));

    // Still pictures.
    QList<QPair<QString, QImage>> avatarTiles;
    const QImage verify = render(art::svgDocument(100, 100, art::verifyBadge()), QSize(100, 100), false);
    writePng(QStringLiteral("icons/verify.png"), verify);
    avatarTiles.append({ "verify", verify });
    const QImage defUser = render(art::svgDocument(300, 300, art::defaultUser()), QSize(300, 300), true);
    const QImage defGroup = render(art::svgDocument(300, 300, art::defaultGroup()), QSize(300, 300), true);
    writePng(QStringLiteral("avatars/defaultheadphoto.png"), defUser);
    writePng(QStringLiteral("avatars/defaultgroupphoto.png"), defGroup);
    avatarTiles.append({ "defaulthead", defUser });
    avatarTiles.append({ "defaultgroup", defGroup });
    for (int i = 1; i <= 35; ++i) {
        const QImage img = render(art::svgDocument(100, 100, art::humanAvatar(i, false)), QSize(100, 100), true);
        writePng(QStringLiteral("avatars/avatar_boys_") + pad3(i) + QStringLiteral(".png"), img);
        avatarTiles.append({ "boys " + pad3(i), img });
    }
    for (int i = 1; i <= 28; ++i) {
        const QImage img = render(art::svgDocument(100, 100, art::humanAvatar(i + 50, true)), QSize(100, 100), true);
        writePng(QStringLiteral("avatars/avatar_girls_") + pad3(i) + QStringLiteral(".png"), img);
        avatarTiles.append({ "girls " + pad3(i), img });
    }
    for (int i = 1; i <= 36; ++i) {
        const QImage img = render(art::svgDocument(100, 100, art::animalAvatar(i - 1)), QSize(100, 100), true);
        writePng(QStringLiteral("avatars/avatar_animals_") + pad3(i) + QStringLiteral(".png"), img);
        avatarTiles.append({ "animals " + pad3(i), img });
    }

    // Frame animations.
    QList<QPair<QString, QImage>> frameTiles;
    frameSet(QStringLiteral("logo_frames"), 49, [](int i) { return art::logoFrame(i, 49); }, &frameTiles);
    // The sidebar's logo: 78 x 78 points, drawn from 156 x 156 pixels.
    frameSheet(QStringLiteral("logo_sheet_156.png"), 49, 7, 156, [](int i) { return art::logoFrame(i, 49); });
    // The login panel's logo: 170 x 170 points, from 340 x 340 pixels on
    // screens of two device pixels a point (the @2x sheet, which Qt picks by
    // itself), from the same frames halved elsewhere.
    const QImage loginSheet2x = frameSheet(QStringLiteral("logo_sheet_170@2x.png"), 49, 7, 340,
                                           [](int i) { return art::logoFrame(i, 49); });
    const QImage loginSheet = halved(loginSheet2x).convertToFormat(QImage::Format_ARGB32);
    writePng(QStringLiteral("logo_sheet_170.png"), loginSheet);
    // Its first frame alone, cut from the same sheets: the login window shows
    // it while the whole sheet is decoded off the window's thread.
    writePng(QStringLiteral("logo_first_170.png"), loginSheet.copy(0, 0, 170, 170));
    writePng(QStringLiteral("logo_first_170@2x.png"), loginSheet2x.copy(0, 0, 340, 340));
    frameSet(QStringLiteral("tabbar_profile_frames"), 49, [](int i) { return art::officialFrame(i, 49); }, &frameTiles);
    frameSet(QStringLiteral("authorheadphoto_frames"), 50, [](int i) { return art::authorFrame(i, 50); }, &frameTiles);
    frameSet(QStringLiteral("play_frames"), 24, [](int i) { return art::playFrame(i, 24); }, &frameTiles);
    frameSet(QStringLiteral("chatroom_frames"), 55, [](int i) { return art::chatroomFrame(i, 55); }, &frameTiles);
    const int heads[] = { 1, 2, 5, 6, 7, 8, 10, 11, 12, 13, 14, 15, 17, 21 };
    for (int set : heads) {
        const int count = set == 1 ? 18 : 24;
        const QString dir = QStringLiteral("lottiehead_%1_frames").arg(set, 2, 10, QLatin1Char('0'));
        frameSet(dir, count, [set, count](int i) { return art::lottieHeadFrame(set, i, count); }, &frameTiles);
    }

    // Animated emoji.
    QList<QPair<QString, QImage>> emojiTiles;
    const QStringList codes = art::emojiCodes();
    if (codes.size() != 100)
        fail(QStringLiteral("expected 100 emoji codes, have %1").arg(codes.size()));
    const int emojiFrames = 8;
    const int emojiPx = 96;
    for (const QString &code : codes) {
        QList<QImage> frames;
        for (int i = 0; i < emojiFrames; ++i) {
            const QString svg = art::emojiFrame(code, i, emojiFrames);
            if (svg.isEmpty()) {
                fail(QStringLiteral("no art for emoji ") + code);
                break;
            }
            frames.append(render(svg, QSize(emojiPx, emojiPx), false));
        }
        if (frames.size() != emojiFrames)
            continue;
        const QByteArray gif = GifWriter::encode(frames, 10, qRgb(0xee, 0xf1, 0xee));
        const QString rel = QStringLiteral("emoji/") + code + QStringLiteral(".gif");
        writeFile(rel, gif);
        QImageReader reader(g_out + QLatin1Char('/') + rel);
        const QImage first = reader.read();
        if (first.isNull() || reader.imageCount() != emojiFrames || first.size() != QSize(emojiPx, emojiPx))
            fail(QStringLiteral("GIF does not read back: ") + rel + QStringLiteral(" ") + reader.errorString());
        emojiTiles.append({ code, first });
    }

    // Manifest of the logical ids.
    QJsonArray assets;
    auto entry = [&assets](const char *id, const char *qt, const char *use, const char *mode,
                           const char *fallback, const char *ios) {
        assets.append(QJsonObject{ { "id", id }, { "qt", qt }, { "use", use }, { "mode", mode },
                                   { "fallback", fallback }, { "ios", ios } });
    };
    entry("chat.background.light", "qml gradient fallback", "chat canvas", "light", "Theme.windowBg", "Assets/chat/background_light.png");
    entry("chat.background.dark", "qml gradient fallback", "chat canvas", "dark", "Theme.windowBg", "Assets/chat/background_dark.png");
    entry("avatar.default.user", "assets/avatars/defaultheadphoto.png", "user avatar", "all", "colored initials", "Assets/avatars/defaultheadphoto.png");
    entry("avatar.default.group", "assets/avatars/defaultheadphoto.png", "group avatar", "all", "group glyph", "Assets/avatars/defaultheadphoto.png");
    entry("identity.verify", "assets/icons/verify.png", "official and author verification", "all", "check mark", "Assets/icons/verify.png");
    entry("status.connecting", "assets/logo_frames", "connection state", "all", "BusyIndicator", "Assets/logo_frames");
    entry("group.premium", "text star fallback", "Premium badge", "all", "\u2605", "Assets/badges/premium.png");
    entry("group.premiumPlus", "text star fallback", "Premium+ badge", "all", "\u2605", "Assets/badges/premium_plus.png");
    entry("voice.chatroom", "microphone glyph fallback", "voice room", "all", "\U0001F399", "Assets/chatroom_frames");
    entry("voice.send", "record control fallback", "voice send", "all", "microphone glyph", "Assets/icons/voice_send.png");
    entry("notification.sound", "QApplication::beep", "foreground notification", "all", "system alert", "Assets/sounds/notification.caf");
    entry("emoji.animated", "emoji protocol + unicode fallback", "emoji picker and bubbles", "all", "unicode emoji", "Assets/emoji");
    const QJsonObject manifest{ { "schemaVersion", 1 }, { "assets", assets } };
    writeFile(QStringLiteral("assets-manifest.json"), QJsonDocument(manifest).toJson(QJsonDocument::Indented));

    if (!sheets.isEmpty()) {
        QDir().mkpath(sheets);
        sheet(iconTiles, 96, 8, QColor("#ffffff")).save(sheets + QStringLiteral("/icons.png"));
        sheet(avatarTiles, 64, 16, QColor("#ffffff")).save(sheets + QStringLiteral("/avatars.png"));
        sheet(frameTiles, 96, 10, QColor("#3d5a80")).save(sheets + QStringLiteral("/frames.png"));
        sheet(emojiTiles, 72, 14, QColor("#d9e4dc")).save(sheets + QStringLiteral("/emoji.png"));
    }

    std::printf("assetgen: %d icons, %d emoji, %d failures\n", int(icons.size()), int(emojiTiles.size()), g_failures);
    return g_failures == 0 ? 0 : 1;
}
