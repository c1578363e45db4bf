#include "art.h"

#include <QtMath>
#include <QStringList>

namespace art {

namespace {

QString n2(double v)
{
    QString s = QString::number(v, 'f', 2);
    while (s.contains(QLatin1Char('.')) && (s.endsWith(QLatin1Char('0')) || s.endsWith(QLatin1Char('.'))))
        s.chop(1);
    return s == QLatin1String("-0") ? QStringLiteral("0") : s;
}

QString strokeGroup(const QString &body, double width = 1.8)
{
    return QStringLiteral("<g fill=\"none\" stroke=\"#fff\" stroke-width=\"%1\" stroke-linecap=\"round\" "
                          "stroke-linejoin=\"round\">%2</g>")
        .arg(n2(width), body);
}

QString path(const QString &d) { return QStringLiteral("<path d=\"%1\"/>").arg(d); }

QString polar(double cx, double cy, double r, double deg)
{
    const double a = qDegreesToRadians(deg);
    return n2(cx + r * qCos(a)) + QLatin1Char(' ') + n2(cy + r * qSin(a));
}

QString gearPath()
{
    QString d;
    const int teeth = 8;
    for (int i = 0; i < teeth; ++i) {
        const double a = i * 360.0 / teeth - 90;
        d += (i == 0 ? QStringLiteral("M") : QStringLiteral("L")) + polar(12, 12, 7.3, a - 17);
        d += QStringLiteral("L") + polar(12, 12, 9.6, a - 9);
        d += QStringLiteral("L") + polar(12, 12, 9.6, a + 9);
        d += QStringLiteral("L") + polar(12, 12, 7.3, a + 17);
    }
    return d + QStringLiteral("Z");
}

QString scallopPath(double cx, double cy, double valley, double peak, int bumps)
{
    QString d;
    for (int i = 0; i < bumps; ++i) {
        const double a0 = i * 360.0 / bumps - 90;
        const double am = a0 + 180.0 / bumps;
        const double a1 = a0 + 360.0 / bumps;
        if (i == 0)
            d += QStringLiteral("M") + polar(cx, cy, valley, a0);
        d += QStringLiteral("Q") + polar(cx, cy, peak, am) + QLatin1Char(' ') + polar(cx, cy, valley, a1);
    }
    return d + QStringLiteral("Z");
}

} // namespace

QString svgDocument(double w, double h, const QString &body)
{
    return QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %1 %2\" "
                          "width=\"%1\" height=\"%2\">%3</svg>\n")
        .arg(n2(w), n2(h), body);
}

// ---------------------------------------------------------------- icons

QMap<QString, QString> lineIcons()
{
    QMap<QString, QString> m;
    auto s = [](const QString &b) { return strokeGroup(b); };
    m["arrow_down"] = s(path("M12 4.5v15M6 13.5l6 6 6-6"));
    m["attach"] = s(path("M19.5 11.2l-7.6 7.6a4.9 4.9 0 0 1-6.9-6.9l8-8a3.3 3.3 0 0 1 4.6 4.6l-7.9 7.9a1.6 1.6 0 0 1-2.3-2.3l7.3-7.3"));
    m["back"] = s(path("M19.5 12H4.5M10.5 6l-6 6 6 6"));
    m["block"] = s("<circle cx=\"12\" cy=\"12\" r=\"8.6\"/>" + path("M5.9 5.9l12.2 12.2"));
    m["chats"] = s(path("M12 3.8c4.7 0 8.4 3.4 8.4 7.6S16.7 19 12 19c-1.1 0-2.2-.2-3.2-.5L4.2 20.3l1.3-3.9c-1.2-1.4-1.9-3.1-1.9-5C3.6 7.2 7.3 3.8 12 3.8z"));
    m["check1"] = s(path("M5 12.6l4.4 4.4L19 7.4"));
    m["check2"] = s(path("M2.6 12.8l4.3 4.3 9.6-9.6M12.2 16.3l.8.8 9.4-9.4"));
    m["clock"] = s("<circle cx=\"12\" cy=\"12\" r=\"8.6\"/>" + path("M12 7.2V12l3.3 2"));
    m["close"] = s(path("M6.2 6.2l11.6 11.6M17.8 6.2L6.2 17.8"));
    m["copy"] = s("<rect x=\"8.5\" y=\"8.5\" width=\"11.5\" height=\"11.5\" rx=\"2.6\"/>"
                  + path("M15.5 8.5V6.6A2.6 2.6 0 0 0 12.9 4H6.6A2.6 2.6 0 0 0 4 6.6v6.3a2.6 2.6 0 0 0 2.6 2.6h1.9"));
    m["delete"] = s(path("M4 6.8h16M9.4 6.8V5.1c0-.6.5-1.1 1.1-1.1h3c.6 0 1.1.5 1.1 1.1v1.7M6.2 6.8l.9 12.3c.1 1 .9 1.9 2 1.9h5.8c1.1 0 1.9-.9 2-1.9l.9-12.3M10.2 10.8v6M13.8 10.8v6"));
    m["edit"] = s(path("M4.5 19.5h3.8L19 8.8a2.7 2.7 0 0 0-3.8-3.8L4.5 15.7v3.8zM13.6 6.6l3.8 3.8"));
    m["emoji"] = s("<circle cx=\"12\" cy=\"12\" r=\"8.6\"/>" + path("M8.4 14.2c.9 1.3 2.2 2 3.6 2s2.7-.7 3.6-2"))
        + "<g fill=\"#fff\"><circle cx=\"9.2\" cy=\"9.8\" r=\"1.2\"/><circle cx=\"14.8\" cy=\"9.8\" r=\"1.2\"/></g>";
    m["group"] = s("<circle cx=\"9\" cy=\"8.3\" r=\"3.3\"/>" + path("M3 19.5c0-3.4 2.7-5.7 6-5.7s6 2.3 6 5.7")
                   + path("M15.6 5.1a3.3 3.3 0 0 1 0 6.4M17.4 14c2.1.6 3.6 2.6 3.6 5.5"));
    m["key"] = s("<circle cx=\"8\" cy=\"15.5\" r=\"4\"/>" + path("M10.9 12.6L19.8 3.7M16.6 6.9l2.4 2.4M14.3 9.2l1.9 1.9"));
    m["link"] = s(path("M10.2 13.8a4 4 0 0 0 5.7 0l3-3a4 4 0 0 0-5.7-5.7l-1.3 1.3M13.8 10.2a4 4 0 0 0-5.7 0l-3 3a4 4 0 0 0 5.7 5.7l1.3-1.3"));
    m["logout"] = s(path("M13.5 4.5H6.6A2.1 2.1 0 0 0 4.5 6.6v10.8c0 1.2.9 2.1 2.1 2.1h6.9M10 12h10.5M16.8 8l4 4-4 4"));
    m["menu"] = s(path("M4.5 6.5h15M4.5 12h15M4.5 17.5h15"));
    m["mic"] = s("<rect x=\"9\" y=\"3.2\" width=\"6\" height=\"11\" rx=\"3\"/>" + path("M5.6 11.2a6.4 6.4 0 0 0 12.8 0M12 17.6v3.2M8.8 20.8h6.4"));
    const QString bell = path("M6.2 16.2v-5a5.8 5.8 0 0 1 11.6 0v5l1.6 1.9H4.6l1.6-1.9zM10 20.6a2 2 0 0 0 4 0");
    m["mute"] = s(bell + path("M4 4l16 16"));
    m["unmute"] = s(bell);
    m["pause"] = "<g fill=\"#fff\"><rect x=\"6.2\" y=\"5\" width=\"4\" height=\"14\" rx=\"1.6\"/>"
                 "<rect x=\"13.8\" y=\"5\" width=\"4\" height=\"14\" rx=\"1.6\"/></g>";
    m["photo"] = s("<rect x=\"3.5\" y=\"5\" width=\"17\" height=\"14\" rx=\"2.6\"/>" + path("M4 17l4.8-4.8 3.7 3.7 2.8-2.8 4.6 4.6"))
        + "<circle fill=\"#fff\" cx=\"15.6\" cy=\"9.4\" r=\"1.6\"/>";
    m["pin"] = s(path("M9 3.8h6M10.2 3.8v5.4l-3.2 4.2h10l-3.2-4.2V3.8M12 13.4v6.8"));
    m["play"] = "<path fill=\"#fff\" d=\"M8 5.6v12.8c0 .8.9 1.3 1.6.9l10.2-6.4c.7-.4.7-1.4 0-1.8L9.6 4.7C8.9 4.3 8 4.8 8 5.6z\"/>";
    m["search"] = s("<circle cx=\"10.8\" cy=\"10.8\" r=\"6.3\"/>" + path("M15.5 15.5l4.5 4.5"));
    m["send"] = "<path fill=\"#fff\" d=\"M3.6 20.2l17-7.3c.8-.4.8-1.5 0-1.8l-17-7.3c-.6-.3-1.3.3-1.1 1l2 6.3 8.7 0.9-8.7.9-2 6.3c-.2.7.5 1.3 1.1 1z\"/>";
    m["settings"] = s(path(gearPath()) + "<circle cx=\"12\" cy=\"12\" r=\"2.9\"/>");
    m["user"] = s("<circle cx=\"12\" cy=\"8.2\" r=\"3.9\"/>" + path("M4.6 20.2c0-4 3.3-6.4 7.4-6.4s7.4 2.4 7.4 6.4"));
    m["verify"] = strokeGroup(path(scallopPath(12, 12, 8.1, 10.6, 8)), 1.5) + s(path("M8.6 12.2l2.3 2.3 4.6-4.7"));
    m["wallet"] = s("<rect x=\"3.5\" y=\"7\" width=\"17\" height=\"12.5\" rx=\"2.6\"/>"
                    + path("M6 7l9.2-3.1c1-.3 1.9.4 1.9 1.4V7M20.5 10.6h-3.8a2.2 2.2 0 0 0 0 4.4h3.8z"))
        + "<circle fill=\"#fff\" cx=\"16.8\" cy=\"12.8\" r=\"1\"/>";
    return m;
}

// ---------------------------------------------------------------- people

namespace {

const char *kSkins[] = { "#f6d2b4", "#eab48c", "#d1976a", "#a86f48", "#7a4a2c" };
const char *kHair[] = { "#2c2420", "#5b3a26", "#8a5a34", "#c8923c", "#a8432e", "#6e6e76", "#3a3f5c" };
const char *kBackgrounds[] = { "#ff845e", "#9ad164", "#e5ca77", "#5caffa", "#b694f9", "#ff8aac",
                               "#62d4e3", "#faa774", "#7fc8a9", "#8fa6e8", "#f0a3c4", "#c3d66b" };
const char *kShirts[] = { "#2f6db5", "#e0604a", "#3aa17e", "#7d4fc2", "#f2b134", "#30404f", "#d94f7c", "#ffffff" };

QString face(double cx, double cy, const QString &skin, bool blink, double mouthOpen)
{
    QString out;
    out += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"4.2\" fill=\"%3\"/><circle cx=\"%4\" cy=\"%2\" r=\"4.2\" fill=\"%3\"/>")
               .arg(n2(cx - 20), n2(cy + 2), skin, n2(cx + 20));
    out += QStringLiteral("<ellipse cx=\"%1\" cy=\"%2\" rx=\"20\" ry=\"22\" fill=\"%3\"/>").arg(n2(cx), n2(cy), skin);
    if (blink) {
        out += QStringLiteral("<path d=\"M%1 %3h5M%2 %3h5\" stroke=\"#2d2d2d\" stroke-width=\"2\" stroke-linecap=\"round\"/>")
                   .arg(n2(cx - 10.5), n2(cx + 5.5), n2(cy + 2));
    } else {
        out += QStringLiteral("<g fill=\"#2d2d2d\"><ellipse cx=\"%1\" cy=\"%3\" rx=\"2.5\" ry=\"3\"/><ellipse cx=\"%2\" cy=\"%3\" rx=\"2.5\" ry=\"3\"/></g>"
                              "<g fill=\"#fff\"><circle cx=\"%4\" cy=\"%5\" r=\"0.9\"/><circle cx=\"%6\" cy=\"%5\" r=\"0.9\"/></g>")
                   .arg(n2(cx - 8), n2(cx + 8), n2(cy + 2), n2(cx - 7.2), n2(cy + 1), n2(cx + 8.8));
    }
    if (mouthOpen > 0.05)
        out += QStringLiteral("<path d=\"M%1 %2Q%3 %4 %5 %2Z\" fill=\"#8a3b2e\"/>")
                   .arg(n2(cx - 6), n2(cy + 11), n2(cx), n2(cy + 11 + 8 * mouthOpen), n2(cx + 6));
    else
        out += QStringLiteral("<path d=\"M%1 %2Q%3 %4 %5 %2\" fill=\"none\" stroke=\"#8a3b2e\" stroke-width=\"2\" stroke-linecap=\"round\"/>")
                   .arg(n2(cx - 6), n2(cy + 11), n2(cx), n2(cy + 16), n2(cx + 6));
    return out;
}

} // namespace

QString humanAvatar(int seed, bool girl, double phase, bool blink, bool glasses)
{
    const quint32 h = quint32(seed) * 2654435761u + (girl ? 97u : 13u);
    const QString skin = kSkins[(h >> 3) % 5];
    const QString hair = kHair[(h >> 7) % 7];
    const QString bg = kBackgrounds[(h >> 11) % 12];
    QString shirt = kShirts[(h >> 15) % 8];
    if (shirt == bg)
        shirt = "#30404f";
    const int style = int((h >> 19) % 5);
    const double dy = 2.0 * qSin(phase);
    const double cx = 50, cy = 46 + dy;

    QString b = QStringLiteral("<rect width=\"100\" height=\"100\" fill=\"%1\"/>").arg(bg);
    QString behind, front;
    if (girl) {
        switch (style) {
        case 0: behind = QStringLiteral("<path d=\"M26 48Q25 20 50 19Q75 20 74 48L77 86Q50 94 23 86Z\" fill=\"%1\"/>"); break;
        case 1: behind = QStringLiteral("<path d=\"M27 48Q26 20 50 19Q74 20 73 48L74 68Q50 74 26 68Z\" fill=\"%1\"/>"); break;
        case 2: behind = QStringLiteral("<circle cx=\"75\" cy=\"34\" r=\"9\" fill=\"%1\"/><path d=\"M78 38Q88 56 80 70Q76 56 72 44Z\" fill=\"%1\"/>"); break;
        case 3: behind = QStringLiteral("<circle cx=\"50\" cy=\"18\" r=\"11\" fill=\"%1\"/>"); break;
        default: behind = QStringLiteral("<circle cx=\"25\" cy=\"52\" r=\"9\" fill=\"%1\"/><circle cx=\"75\" cy=\"52\" r=\"9\" fill=\"%1\"/>"); break;
        }
        front = QStringLiteral("<path d=\"M29 46Q28 21 50 21Q72 21 71 46Q66 33 56 30Q50 38 36 37Q31 40 29 46Z\" fill=\"%1\"/>");
    } else {
        switch (style) {
        case 0: front = QStringLiteral("<path d=\"M29.5 44Q28 21 50 21Q72 21 70.5 44Q66 31 50 30Q35 31 29.5 44Z\" fill=\"%1\"/>"); break;
        case 1: front = QStringLiteral("<path d=\"M29 46Q27 19 52 20Q74 22 71 46Q70 33 61 29Q49 35 33 33Q30 38 29 46Z\" fill=\"%1\"/>"); break;
        case 2: front = QStringLiteral("<path d=\"M29.5 43L31 26L36 30L39 19L44 27L49 17L53 26L58 18L61 27L66 21L67 30L70.5 43Q64 32 50 31Q36 32 29.5 43Z\" fill=\"%1\" stroke=\"%1\" stroke-width=\"2\" stroke-linejoin=\"round\"/>"); break;
        case 3: front = QStringLiteral("<g fill=\"%1\"><circle cx=\"33\" cy=\"36\" r=\"6\"/><circle cx=\"39\" cy=\"28\" r=\"7\"/><circle cx=\"50\" cy=\"25\" r=\"7.5\"/><circle cx=\"61\" cy=\"28\" r=\"7\"/><circle cx=\"67\" cy=\"36\" r=\"6\"/></g>"); break;
        default: {
            // A cap in the shirt's colour; "%1" stays for the hair under it.
            const QString cap = shirt == "#ffffff" ? QStringLiteral("#e0604a") : shirt;
            front = QStringLiteral("<path d=\"M29 44Q29 38 31 36L69 36Q71 38 71 44Z\" fill=\"%1\"/>"
                                   "<path d=\"M28 40Q28 20 50 20Q72 20 72 40Z\" fill=\"") + cap
                + QStringLiteral("\"/><path d=\"M50 40h28a4 4 0 0 1 0 6H50Z\" fill=\"") + cap
                + QStringLiteral("\"/><path d=\"M28 40h44\" stroke=\"#000\" stroke-opacity=\"0.2\" stroke-width=\"2\"/>");
            break;
        }
        }
    }
    QString g;
    if (!behind.isEmpty())
        g += behind.arg(hair);
    g += QStringLiteral("<path d=\"M13 100Q15 77 50 75Q85 77 87 100Z\" fill=\"%1\"/>").arg(shirt);
    g += QStringLiteral("<path d=\"M43 62h14v10q-7 6-14 0Z\" fill=\"%1\" opacity=\"0.85\"/>").arg(skin);
    g += face(cx, cy - dy, skin, blink, 0);
    if (girl)
        g += QStringLiteral("<g fill=\"#ff7b7b\" opacity=\"0.35\"><circle cx=\"37\" cy=\"55\" r=\"3.5\"/><circle cx=\"63\" cy=\"55\" r=\"3.5\"/></g>");
    g += front.arg(hair);
    if (glasses)
        g += QStringLiteral("<g fill=\"none\" stroke=\"#26303a\" stroke-width=\"2\"><circle cx=\"42\" cy=\"48\" r=\"6\"/><circle cx=\"58\" cy=\"48\" r=\"6\"/><path d=\"M48 48h4M36 47l-6-2M64 47l6-2\"/></g>");
    b += QStringLiteral("<g transform=\"translate(0 %1)\">%2</g>").arg(n2(dy), g);
    return b;
}

QString animalAvatar(int index)
{
    const int kind = index % 12;
    const int variant = index / 12;
    const char *bgs[] = { "#9ad164", "#5caffa", "#ffb86b", "#b694f9", "#62d4e3", "#ff8aac" };
    const QString bg = bgs[(index * 7 + variant) % 6];
    QString b = QStringLiteral("<rect width=\"100\" height=\"100\" fill=\"%1\"/>").arg(bg);
    auto eyes = [](double y, double dx = 9, double r = 3) {
        return QStringLiteral("<g fill=\"#262626\"><circle cx=\"%1\" cy=\"%3\" r=\"%4\"/><circle cx=\"%2\" cy=\"%3\" r=\"%4\"/></g>"
                              "<g fill=\"#fff\"><circle cx=\"%5\" cy=\"%6\" r=\"1\"/><circle cx=\"%7\" cy=\"%6\" r=\"1\"/></g>")
            .arg(n2(50 - dx), n2(50 + dx), n2(y), n2(r), n2(50 - dx + 1), n2(y - 1), n2(50 + dx + 1));
    };
    switch (kind) {
    case 0: { // cat
        const char *fur[] = { "#f2a65a", "#8c8c96", "#3b3b42" };
        const QString f = fur[variant % 3];
        b += QStringLiteral("<path d=\"M24 44L26 16L44 32ZM76 44L74 16L56 32Z\" fill=\"%1\"/><path d=\"M29 35L29 23L38 31ZM71 35L71 23L62 31Z\" fill=\"#ffb3c1\"/>").arg(f);
        b += QStringLiteral("<ellipse cx=\"50\" cy=\"56\" rx=\"30\" ry=\"27\" fill=\"%1\"/>").arg(f);
        b += QStringLiteral("<ellipse cx=\"50\" cy=\"66\" rx=\"13\" ry=\"9\" fill=\"#fff3e6\"/>") + eyes(52, 11);
        b += QStringLiteral("<path d=\"M47 61h6l-3 3Z\" fill=\"#ff7b93\"/><g stroke=\"%1\" stroke-width=\"1.4\" stroke-linecap=\"round\"><path d=\"M30 62l-10-2M30 66l-10 2M70 62l10-2M70 66l10 2\"/></g>").arg(variant == 2 ? "#ddd" : "#5a4636");
        break;
    }
    case 1: { // dog
        const char *fur[] = { "#d9a066", "#f5f0e6", "#8a5a3c" };
        const QString f = fur[variant % 3];
        b += QStringLiteral("<ellipse cx=\"50\" cy=\"54\" rx=\"27\" ry=\"28\" fill=\"%1\"/>").arg(f);
        b += QStringLiteral("<ellipse cx=\"24\" cy=\"50\" rx=\"9\" ry=\"18\" fill=\"#6b4430\" transform=\"rotate(15 24 50)\"/><ellipse cx=\"76\" cy=\"50\" rx=\"9\" ry=\"18\" fill=\"#6b4430\" transform=\"rotate(-15 76 50)\"/>");
        b += QStringLiteral("<ellipse cx=\"50\" cy=\"66\" rx=\"14\" ry=\"11\" fill=\"#fff7ee\"/>") + eyes(50, 10);
        b += QStringLiteral("<ellipse cx=\"50\" cy=\"61\" rx=\"5\" ry=\"3.5\" fill=\"#262626\"/><path d=\"M50 64v4M45 69q5 4 10 0\" stroke=\"#262626\" stroke-width=\"1.6\" fill=\"none\" stroke-linecap=\"round\"/>");
        break;
    }
    case 2: { // bear
        const char *fur[] = { "#9b6a43", "#c98f5a", "#5d4030" };
        const QString f = fur[variant % 3];
        b += QStringLiteral("<circle cx=\"28\" cy=\"30\" r=\"10\" fill=\"%1\"/><circle cx=\"72\" cy=\"30\" r=\"10\" fill=\"%1\"/><circle cx=\"28\" cy=\"30\" r=\"5\" fill=\"#e8c39e\"/><circle cx=\"72\" cy=\"30\" r=\"5\" fill=\"#e8c39e\"/>").arg(f);
        b += QStringLiteral("<circle cx=\"50\" cy=\"55\" r=\"29\" fill=\"%1\"/><ellipse cx=\"50\" cy=\"65\" rx=\"12\" ry=\"9\" fill=\"#e8c39e\"/>").arg(f) + eyes(51, 11);
        b += QStringLiteral("<ellipse cx=\"50\" cy=\"61\" rx=\"4.5\" ry=\"3\" fill=\"#262626\"/><path d=\"M46 67q4 3 8 0\" stroke=\"#262626\" stroke-width=\"1.5\" fill=\"none\" stroke-linecap=\"round\"/>");
        break;
    }
    case 3: { // rabbit
        const char *fur[] = { "#f4f4f4", "#d8c3a5", "#b9b9c4" };
        const QString f = fur[variant % 3];
        b += QStringLiteral("<ellipse cx=\"38\" cy=\"24\" rx=\"7\" ry=\"20\" fill=\"%1\"/><ellipse cx=\"62\" cy=\"24\" rx=\"7\" ry=\"20\" fill=\"%1\"/><ellipse cx=\"38\" cy=\"24\" rx=\"3.5\" ry=\"14\" fill=\"#ffb3c1\"/><ellipse cx=\"62\" cy=\"24\" rx=\"3.5\" ry=\"14\" fill=\"#ffb3c1\"/>").arg(f);
        b += QStringLiteral("<ellipse cx=\"50\" cy=\"60\" rx=\"26\" ry=\"24\" fill=\"%1\"/>").arg(f) + eyes(56, 10);
        b += QStringLiteral("<path d=\"M47 64h6l-3 3Z\" fill=\"#ff7b93\"/><path d=\"M50 67q-3 4-6 2M50 67q3 4 6 2\" stroke=\"#555\" stroke-width=\"1.3\" fill=\"none\" stroke-linecap=\"round\"/><g fill=\"#ff9fb0\" opacity=\".5\"><circle cx=\"34\" cy=\"66\" r=\"4\"/><circle cx=\"66\" cy=\"66\" r=\"4\"/></g>");
        break;
    }
    case 4: { // fox
        const char *fur[] = { "#f08a3c", "#e2653a", "#c9b8a6" };
        const QString f = fur[variant % 3];
        b += QStringLiteral("<path d=\"M22 44L24 14L44 32ZM78 44L76 14L56 32Z\" fill=\"%1\"/><path d=\"M27 34L28 22L37 31ZM73 34L72 22L63 31Z\" fill=\"#3b2a22\"/>").arg(f);
        b += QStringLiteral("<path d=\"M20 46Q50 22 80 46Q76 72 50 84Q24 72 20 46Z\" fill=\"%1\"/><path d=\"M24 52Q40 58 50 84Q30 76 24 52ZM76 52Q60 58 50 84Q70 76 76 52Z\" fill=\"#fff8f0\"/>").arg(f);
        b += eyes(54, 11) + QStringLiteral("<ellipse cx=\"50\" cy=\"78\" rx=\"4\" ry=\"3\" fill=\"#262626\"/>");
        break;
    }
    case 5: { // panda
        b += QStringLiteral("<circle cx=\"28\" cy=\"30\" r=\"10\" fill=\"#262626\"/><circle cx=\"72\" cy=\"30\" r=\"10\" fill=\"#262626\"/><circle cx=\"50\" cy=\"55\" r=\"29\" fill=\"#fafafa\"/>");
        b += QStringLiteral("<ellipse cx=\"39\" cy=\"52\" rx=\"7\" ry=\"9\" fill=\"#262626\" transform=\"rotate(25 39 52)\"/><ellipse cx=\"61\" cy=\"52\" rx=\"7\" ry=\"9\" fill=\"#262626\" transform=\"rotate(-25 61 52)\"/>");
        b += QStringLiteral("<g fill=\"#fff\"><circle cx=\"40\" cy=\"51\" r=\"2.2\"/><circle cx=\"60\" cy=\"51\" r=\"2.2\"/></g><ellipse cx=\"50\" cy=\"64\" rx=\"4.5\" ry=\"3\" fill=\"#262626\"/><path d=\"M46 69q4 3 8 0\" stroke=\"#262626\" stroke-width=\"1.5\" fill=\"none\" stroke-linecap=\"round\"/>");
        if (variant == 1)
            b += QStringLiteral("<path d=\"M34 28q16-10 32 0\" stroke=\"#e0604a\" stroke-width=\"5\" fill=\"none\" stroke-linecap=\"round\"/>");
        if (variant == 2)
            b += QStringLiteral("<g fill=\"#ff9fb0\" opacity=\".6\"><circle cx=\"33\" cy=\"64\" r=\"4\"/><circle cx=\"67\" cy=\"64\" r=\"4\"/></g>");
        break;
    }
    case 6: { // pig
        const char *fur[] = { "#ffb6c4", "#f7a08f", "#e8c4b8" };
        const QString f = fur[variant % 3];
        b += QStringLiteral("<path d=\"M24 36L28 20L40 30ZM76 36L72 20L60 30Z\" fill=\"%1\" stroke=\"#e07f93\" stroke-width=\"1.5\" stroke-linejoin=\"round\"/>").arg(f);
        b += QStringLiteral("<circle cx=\"50\" cy=\"55\" r=\"29\" fill=\"%1\"/>").arg(f) + eyes(48, 11);
        b += QStringLiteral("<ellipse cx=\"50\" cy=\"64\" rx=\"11\" ry=\"8\" fill=\"#ff8fa6\"/><g fill=\"#a8485e\"><ellipse cx=\"46\" cy=\"64\" rx=\"2\" ry=\"3\"/><ellipse cx=\"54\" cy=\"64\" rx=\"2\" ry=\"3\"/></g>");
        break;
    }
    case 7: { // frog
        const char *fur[] = { "#6cc04a", "#49a86b", "#a3c94a" };
        const QString f = fur[variant % 3];
        b += QStringLiteral("<circle cx=\"35\" cy=\"34\" r=\"12\" fill=\"%1\"/><circle cx=\"65\" cy=\"34\" r=\"12\" fill=\"%1\"/><ellipse cx=\"50\" cy=\"60\" rx=\"32\" ry=\"24\" fill=\"%1\"/>").arg(f);
        b += QStringLiteral("<circle cx=\"35\" cy=\"33\" r=\"8\" fill=\"#fff\"/><circle cx=\"65\" cy=\"33\" r=\"8\" fill=\"#fff\"/><circle cx=\"36\" cy=\"34\" r=\"4\" fill=\"#262626\"/><circle cx=\"64\" cy=\"34\" r=\"4\" fill=\"#262626\"/>");
        b += QStringLiteral("<path d=\"M32 62q18 14 36 0\" stroke=\"#2e5e25\" stroke-width=\"2.4\" fill=\"none\" stroke-linecap=\"round\"/><g fill=\"#ff9fb0\" opacity=\".5\"><circle cx=\"28\" cy=\"60\" r=\"4\"/><circle cx=\"72\" cy=\"60\" r=\"4\"/></g>");
        break;
    }
    case 8: { // mouse
        const char *fur[] = { "#a9a9b3", "#d6c7b0", "#7d7d88" };
        const QString f = fur[variant % 3];
        b += QStringLiteral("<circle cx=\"26\" cy=\"32\" r=\"15\" fill=\"%1\"/><circle cx=\"74\" cy=\"32\" r=\"15\" fill=\"%1\"/><circle cx=\"26\" cy=\"32\" r=\"9\" fill=\"#ffb3c1\"/><circle cx=\"74\" cy=\"32\" r=\"9\" fill=\"#ffb3c1\"/>").arg(f);
        b += QStringLiteral("<ellipse cx=\"50\" cy=\"60\" rx=\"24\" ry=\"23\" fill=\"%1\"/>").arg(f) + eyes(56, 9, 2.8);
        b += QStringLiteral("<circle cx=\"50\" cy=\"67\" r=\"3\" fill=\"#ff7b93\"/><g stroke=\"#555\" stroke-width=\"1.2\" stroke-linecap=\"round\"><path d=\"M38 67l-12-2M38 70l-12 2M62 67l12-2M62 70l12 2\"/></g>");
        break;
    }
    case 9: { // owl
        const char *fur[] = { "#9a6b45", "#6f5b8f", "#7f8a5a" };
        const QString f = fur[variant % 3];
        b += QStringLiteral("<path d=\"M22 30L34 38L28 22ZM78 30L66 38L72 22Z\" fill=\"%1\"/><ellipse cx=\"50\" cy=\"58\" rx=\"29\" ry=\"28\" fill=\"%1\"/>").arg(f);
        b += QStringLiteral("<circle cx=\"38\" cy=\"50\" r=\"11\" fill=\"#fff\"/><circle cx=\"62\" cy=\"50\" r=\"11\" fill=\"#fff\"/><circle cx=\"38\" cy=\"50\" r=\"5\" fill=\"#262626\"/><circle cx=\"62\" cy=\"50\" r=\"5\" fill=\"#262626\"/>");
        b += QStringLiteral("<path d=\"M46 60h8l-4 7Z\" fill=\"#f2b134\"/><path d=\"M36 74q4 3 8 0M46 77q4 3 8 0M56 74q4 3 8 0\" stroke=\"#fff\" stroke-opacity=\"0.5\" stroke-width=\"1.5\" fill=\"none\"/>");
        break;
    }
    case 10: { // chick
        const char *fur[] = { "#ffd23f", "#ffe27a", "#ffc04d" };
        const QString f = fur[variant % 3];
        b += QStringLiteral("<path d=\"M48 28q-4-10 2-12q2 6 4 0q5 4-2 12Z\" fill=\"%1\"/><circle cx=\"50\" cy=\"57\" r=\"28\" fill=\"%1\"/>").arg(f) + eyes(52, 10);
        b += QStringLiteral("<path d=\"M44 60h12l-6 6Z\" fill=\"#f28a1d\"/><g fill=\"#ff9f7f\" opacity=\".55\"><circle cx=\"33\" cy=\"62\" r=\"4\"/><circle cx=\"67\" cy=\"62\" r=\"4\"/></g>");
        break;
    }
    default: { // koala
        const char *fur[] = { "#9aa0a8", "#b7b0a8", "#7f8790" };
        const QString f = fur[variant % 3];
        b += QStringLiteral("<circle cx=\"24\" cy=\"38\" r=\"15\" fill=\"%1\"/><circle cx=\"76\" cy=\"38\" r=\"15\" fill=\"%1\"/><circle cx=\"24\" cy=\"38\" r=\"9\" fill=\"#e8e4e0\"/><circle cx=\"76\" cy=\"38\" r=\"9\" fill=\"#e8e4e0\"/>").arg(f);
        b += QStringLiteral("<ellipse cx=\"50\" cy=\"57\" rx=\"26\" ry=\"26\" fill=\"%1\"/>").arg(f) + eyes(52, 11, 2.8);
        b += QStringLiteral("<ellipse cx=\"50\" cy=\"62\" rx=\"6\" ry=\"8\" fill=\"#33363b\"/><path d=\"M45 73q5 3 10 0\" stroke=\"#33363b\" stroke-width=\"1.5\" fill=\"none\" stroke-linecap=\"round\"/>");
        break;
    }
    }
    return b;
}

QString defaultUser()
{
    return QStringLiteral("<rect width=\"300\" height=\"300\" fill=\"#c5d3e2\"/>"
                          "<circle cx=\"150\" cy=\"118\" r=\"52\" fill=\"#f4f7fb\"/>"
                          "<path d=\"M52 300Q56 196 150 192Q244 196 248 300Z\" fill=\"#f4f7fb\"/>");
}

QString defaultGroup()
{
    return QStringLiteral("<rect width=\"300\" height=\"300\" fill=\"#b9d3c7\"/>"
                          "<circle cx=\"196\" cy=\"112\" r=\"40\" fill=\"#dfeae5\"/>"
                          "<path d=\"M128 300Q134 184 196 180Q262 184 268 300Z\" fill=\"#dfeae5\"/>"
                          "<circle cx=\"118\" cy=\"126\" r=\"48\" fill=\"#f6faf8\"/>"
                          "<path d=\"M28 300Q32 206 118 202Q204 206 208 300Z\" fill=\"#f6faf8\"/>");
}

QString verifyBadge()
{
    return QStringLiteral("<defs><linearGradient id=\"g\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">"
                          "<stop offset=\"0\" stop-color=\"#4fb7f0\"/><stop offset=\"1\" stop-color=\"#2f8fd8\"/></linearGradient></defs>"
                          "<path fill=\"url(#g)\" d=\"%1\"/>"
                          "<path d=\"M32 51l12 12 24-25\" fill=\"none\" stroke=\"#fff\" stroke-width=\"8\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/>")
        .arg(scallopPath(50, 50, 40, 52, 10));
}

// ---------------------------------------------------------------- frames

namespace {

QString logoMark(double cx, double cy, double r, double bubbleDy, double tilt)
{
    // Rounded tile in a teal-to-blue gradient holding a white speech bubble
    // with a keyhole: private conversation.
    QString s = QStringLiteral("<defs><linearGradient id=\"lg\" x1=\"0\" y1=\"0\" x2=\"1\" y2=\"1\">"
                               "<stop offset=\"0\" stop-color=\"#3fd0b5\"/><stop offset=\"1\" stop-color=\"#3a7bd5\"/>"
                               "</linearGradient></defs>");
    const double side = r * 1.72;
    s += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%3\" rx=\"%4\" fill=\"url(#lg)\"/>")
             .arg(n2(cx - side / 2), n2(cy - side / 2), n2(side), n2(side * 0.3));
    const double k = r / 40.0;
    s += QStringLiteral("<g transform=\"translate(%1 %2) rotate(%3) scale(%4)\">"
                        "<path fill=\"#fff\" d=\"M0 -22C15 -22 25 -13 25 -1C25 11 15 20 0 20C-3 20 -6 19.6 -8.6 18.9L-20 24L-17.5 13.6C-22 9.6 -25 4.6 -25 -1C-25 -13 -15 -22 0 -22Z\"/>"
                        "<circle cx=\"0\" cy=\"-6\" r=\"5.2\" fill=\"#3a8fd0\"/><path d=\"M-2.8 -3L2.8 -3L4 9L-4 9Z\" fill=\"#3a8fd0\"/>"
                        "</g>")
             .arg(n2(cx), n2(cy + bubbleDy), n2(tilt), n2(k));
    return s;
}

} // namespace

QString logoFrame(int n, int count)
{
    const double t = double(n) / count;
    const double a = t * 360.0;
    QString s;
    // A rotating pair of arcs around the mark.
    s += QStringLiteral("<g transform=\"rotate(%1 170 170)\" fill=\"none\" stroke-linecap=\"round\">"
                        "<path d=\"M170 14A156 156 0 0 1 326 170\" stroke=\"#ffffff\" stroke-opacity=\"0.85\" stroke-width=\"10\"/>"
                        "<path d=\"M170 326A156 156 0 0 1 14 170\" stroke=\"#ffffff\" stroke-opacity=\"0.45\" stroke-width=\"10\"/>"
                        "</g>")
             .arg(n2(a));
    s += logoMark(170, 170, 122, 6 * qSin(2 * M_PI * t), -6 * qSin(2 * M_PI * t));
    return svgDocument(340, 340, s);
}

QString officialFrame(int n, int count)
{
    const double t = double(n) / count;
    const double pulse = 0.5 + 0.5 * qSin(2 * M_PI * t);
    QString s;
    s += QStringLiteral("<circle cx=\"100\" cy=\"100\" r=\"%1\" fill=\"#40a7e3\" opacity=\"%2\"/>")
             .arg(n2(88 + 8 * pulse), n2(0.25 * (1 - pulse) + 0.08));
    s += logoMark(100, 100, 82, 4 * qSin(2 * M_PI * t), 0);
    return svgDocument(200, 200, s);
}

QString authorFrame(int n, int count)
{
    const double t = double(n) / count;
    const bool blink = n >= int(count * 0.62) && n <= int(count * 0.62) + 2;
    return svgDocument(100, 100, humanAvatar(7, false, 2 * M_PI * t, blink, true));
}

QString playFrame(int n, int count)
{
    Q_UNUSED(count);
    // Inner arc: opaque at 0, 0.2 on frames 8..11, opaque again from 20.
    auto schedule = [](int f) {
        f = ((f % 24) + 24) % 24;
        if (f <= 8)
            return 1.0 - 0.8 * f / 8.0;
        if (f <= 11)
            return 0.2;
        if (f <= 20)
            return 0.2 + 0.8 * (f - 11) / 9.0;
        return 1.0;
    };
    const double inner = schedule(n);
    const double outer = schedule(n - 4);
    QString s = QStringLiteral("<circle cx=\"250\" cy=\"250\" r=\"250\" fill=\"rgb(86,188,166)\"/>");
    s += QStringLiteral("<path fill=\"#fff\" d=\"M128 205h48l64-56c9-8 22-2 22 10v182c0 12-13 18-22 10l-64-56h-48c-11 0-20-9-20-20v-50c0-11 9-20 20-20z\"/>");
    s += QStringLiteral("<g fill=\"none\" stroke=\"#fff\" stroke-width=\"26\" stroke-linecap=\"round\">"
                        "<path d=\"M306 196a76 76 0 0 1 0 108\" opacity=\"%1\"/>"
                        "<path d=\"M352 150a140 140 0 0 1 0 200\" opacity=\"%2\"/></g>")
             .arg(n2(inner), n2(outer));
    return svgDocument(500, 500, s);
}

QString chatroomFrame(int n, int count)
{
    const double t = double(n) / count;
    QString s = QStringLiteral("<g fill=\"#fff\">");
    const double phases[] = { 0.0, 0.55, 0.2, 0.8, 0.35 };
    for (int i = 0; i < 5; ++i) {
        const double hgt = 14 + 30 * (0.5 + 0.5 * qSin(2 * M_PI * (t * 2 + phases[i])));
        const double x = 33 + i * 12.5;
        s += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"6\" height=\"%3\" rx=\"3\"/>")
                 .arg(n2(x), n2(60 - hgt / 2), n2(hgt));
    }
    s += QStringLiteral("</g>");
    return svgDocument(120, 120, s);
}

QString lottieHeadFrame(int set, int n, int count)
{
    double w = 200, h = 200;
    if (set == 11) { w = 350; h = 400; }
    if (set == 13) { w = 936; h = 928; }
    const double t = double(n) / count;
    const bool blink = n == int(count * 0.5) || n == int(count * 0.5) + 1;
    QString body;
    if (set % 3 == 0) {
        // Animal heads nod instead of blinking.
        body = QStringLiteral("<g transform=\"rotate(%1 50 70)\">%2</g>")
                   .arg(n2(6 * qSin(2 * M_PI * t)), animalAvatar(set * 5 % 36));
    } else {
        body = humanAvatar(100 + set, set % 2 == 0, 2 * M_PI * t, blink, set == 17);
    }
    // Cover the canvas with the 100-unit picture, centred.
    const double scale = qMax(w, h) / 100.0;
    const double ox = (w - 100 * scale) / 2, oy = (h - 100 * scale) / 2;
    return svgDocument(w, h, QStringLiteral("<g transform=\"translate(%1 %2) scale(%3)\">%4</g>")
                                 .arg(n2(ox), n2(oy), n2(scale), body));
}

// ---------------------------------------------------------------- emoji

QStringList emojiCodes()
{
    QStringList codes;
    auto range = [&codes](int a, int b) {
        for (int c = a; c <= b; ++c)
            codes << QString::number(c, 16);
    };
    range(0x1f44a, 0x1f44f);
    range(0x1f47b, 0x1f47b);
    range(0x1f47d, 0x1f47d);
    range(0x1f480, 0x1f480);
    range(0x1f494, 0x1f494);
    range(0x1f49b, 0x1f49c);
    range(0x1f600, 0x1f637);
    range(0x1f641, 0x1f644);
    range(0x1f64f, 0x1f64f);
    range(0x1f680, 0x1f680);
    range(0x1f697, 0x1f697);
    range(0x1f90f, 0x1f915);
    range(0x1f917, 0x1f917);
    range(0x1f91d, 0x1f91f);
    range(0x1f923, 0x1f925);
    range(0x1f927, 0x1f92f);
    range(0x1f97a, 0x1f97a);
    range(0x1f9d0, 0x1f9d0);
    return codes;
}

namespace {

struct FaceRecipe {
    const char *code;
    const char *eyes;
    const char *mouth;
    const char *extras;
};

// eyes: dot big happy closed down wink heart star x roll side squint glasses money shiny angry sad worried monocle nerd
// mouth: smile grin laugh flat frown o open kiss tongue smirk zip grimace wavy mask none scream drool vomit small sfrown
const FaceRecipe kFaces[] = {
    { "1f600", "dot", "grin", "" },
    { "1f601", "happy", "grimace", "" },
    { "1f602", "happy", "laugh", "tears" },
    { "1f603", "big", "laugh", "" },
    { "1f604", "happy", "laugh", "" },
    { "1f605", "happy", "laugh", "sweat" },
    { "1f606", "squint", "laugh", "" },
    { "1f607", "happy", "smile", "halo" },
    { "1f608", "angry", "smirk", "horns purple" },
    { "1f609", "wink", "smile", "" },
    { "1f60a", "happy", "smile", "blush" },
    { "1f60b", "happy", "tongue", "" },
    { "1f60c", "down", "small", "" },
    { "1f60d", "heart", "laugh", "" },
    { "1f60e", "glasses", "smile", "" },
    { "1f60f", "side", "smirk", "" },
    { "1f610", "dot", "flat", "" },
    { "1f611", "closed", "flat", "" },
    { "1f612", "side", "sfrown", "" },
    { "1f613", "down", "sfrown", "sweat" },
    { "1f614", "down", "small", "pensive" },
    { "1f615", "dot", "wavy", "" },
    { "1f616", "squint", "wavy", "" },
    { "1f617", "dot", "kiss", "" },
    { "1f618", "wink", "kiss", "kissheart" },
    { "1f619", "happy", "kiss", "" },
    { "1f61a", "closed", "kiss", "blush" },
    { "1f61b", "dot", "tongue", "" },
    { "1f61c", "wink", "tongue", "" },
    { "1f61d", "squint", "tongue", "" },
    { "1f61e", "down", "frown", "" },
    { "1f61f", "worried", "frown", "" },
    { "1f620", "angry", "frown", "" },
    { "1f621", "angry", "frown", "red" },
    { "1f622", "sad", "frown", "tear" },
    { "1f623", "squint", "wavy", "" },
    { "1f624", "angry", "frown", "steam" },
    { "1f625", "sad", "frown", "sweat" },
    { "1f626", "dot", "open", "" },
    { "1f627", "worried", "open", "" },
    { "1f628", "big", "open", "fear" },
    { "1f629", "squint", "open", "" },
    { "1f62a", "closed", "o", "bubble" },
    { "1f62b", "squint", "open", "" },
    { "1f62c", "big", "grimace", "" },
    { "1f62d", "closed", "scream", "streams" },
    { "1f62e", "dot", "o", "" },
    { "1f62f", "worried", "o", "" },
    { "1f630", "big", "open", "fear sweat" },
    { "1f631", "big", "scream", "fear" },
    { "1f632", "big", "open", "" },
    { "1f633", "big", "o", "blush" },
    { "1f634", "closed", "o", "zzz" },
    { "1f635", "x", "o", "" },
    { "1f636", "dot", "none", "" },
    { "1f637", "down", "mask", "" },
    { "1f641", "dot", "sfrown", "" },
    { "1f642", "dot", "small", "" },
    { "1f643", "dot", "smile", "upside" },
    { "1f644", "roll", "flat", "" },
    { "1f910", "dot", "zip", "" },
    { "1f911", "money", "tongue", "" },
    { "1f912", "sad", "none", "thermo" },
    { "1f913", "nerd", "grin", "" },
    { "1f914", "side", "flat", "think" },
    { "1f915", "sad", "sfrown", "bandage" },
    { "1f917", "happy", "smile", "hug" },
    { "1f923", "squint", "laugh", "tears tilt" },
    { "1f924", "closed", "drool", "" },
    { "1f925", "dot", "flat", "nose" },
    { "1f927", "closed", "o", "tissue" },
    { "1f928", "side", "flat", "brow" },
    { "1f929", "star", "laugh", "" },
    { "1f92a", "big", "tongue", "zany" },
    { "1f92b", "dot", "small", "shush" },
    { "1f92c", "angry", "symbols", "red" },
    { "1f92d", "happy", "none", "handmouth" },
    { "1f92e", "squint", "vomit", "green" },
    { "1f92f", "big", "open", "explode" },
    { "1f97a", "shiny", "sfrown", "" },
    { "1f9d0", "monocle", "flat", "" },
};

const QString kInk = QStringLiteral("#5b3a14");

QString eyesSvg(const QString &kind, double t)
{
    const QString ink = kInk;
    auto both = [](const QString &tpl) { return tpl.arg(n2(36)) + tpl.arg(n2(64)); };
    if (kind == "dot")
        return both(QStringLiteral("<ellipse cx=\"%1\" cy=\"44\" rx=\"4.5\" ry=\"6.5\" fill=\"#5b3a14\"/>"));
    if (kind == "big" || kind == "shiny") {
        QString s = both(QStringLiteral("<ellipse cx=\"%1\" cy=\"43\" rx=\"8\" ry=\"10\" fill=\"#fff\" stroke=\"#5b3a14\" stroke-width=\"1.5\"/>"));
        if (kind == "shiny")
            return s + both(QStringLiteral("<circle cx=\"%1\" cy=\"45\" r=\"6.5\" fill=\"#5b3a14\"/>"))
                + QStringLiteral("<g fill=\"#fff\"><circle cx=\"34\" cy=\"42\" r=\"2.6\"/><circle cx=\"62\" cy=\"42\" r=\"2.6\"/><circle cx=\"38\" cy=\"48\" r=\"1.2\"/><circle cx=\"66\" cy=\"48\" r=\"1.2\"/></g>");
        return s + both(QStringLiteral("<circle cx=\"%1\" cy=\"45\" r=\"4\" fill=\"#5b3a14\"/>"));
    }
    if (kind == "happy")
        return both(QStringLiteral("<path d=\"M%1 46m-7 0q7-9 14 0\" fill=\"none\" stroke=\"#5b3a14\" stroke-width=\"4\" stroke-linecap=\"round\"/>"));
    if (kind == "closed")
        return both(QStringLiteral("<path d=\"M%1 45m-7 0h14\" stroke=\"#5b3a14\" stroke-width=\"4\" stroke-linecap=\"round\"/>"));
    if (kind == "down" || kind == "sad")
        return both(QStringLiteral("<path d=\"M%1 44m-7 0q7 6 14 0\" fill=\"none\" stroke=\"#5b3a14\" stroke-width=\"4\" stroke-linecap=\"round\"/>"))
            + (kind == "sad" ? QStringLiteral("<path d=\"M28 34l12-4M72 34l-12-4\" stroke=\"#5b3a14\" stroke-width=\"3.5\" stroke-linecap=\"round\"/>") : QString());
    if (kind == "wink")
        return QStringLiteral("<ellipse cx=\"36\" cy=\"44\" rx=\"4.5\" ry=\"6.5\" fill=\"#5b3a14\"/><path d=\"M57 46q7-9 14 0\" fill=\"none\" stroke=\"#5b3a14\" stroke-width=\"4\" stroke-linecap=\"round\"/>");
    if (kind == "heart") {
        const double k = 1.0 + 0.15 * qSin(2 * M_PI * t * 2);
        auto heart = [k](double cx) {
            return QStringLiteral("<path transform=\"translate(%1 44) scale(%2)\" fill=\"#e8364f\" d=\"M0 8C-12 -1 -9 -10 -3 -9C-1 -9 0 -7 0 -6C0 -7 1 -9 3 -9C9 -10 12 -1 0 8Z\"/>")
                .arg(n2(cx), n2(k));
        };
        return heart(35) + heart(65);
    }
    if (kind == "star") {
        auto star = [t](double cx) {
            QString d;
            for (int i = 0; i < 10; ++i) {
                const double r = (i % 2 == 0) ? 10 : 4.2;
                d += (i == 0 ? "M" : "L") + polar(cx, 44, r, -90 + i * 36 + 20 * qSin(2 * M_PI * t));
            }
            return QStringLiteral("<path fill=\"#ff9d00\" stroke=\"#e07800\" stroke-width=\"1\" stroke-linejoin=\"round\" d=\"%1Z\"/>").arg(d);
        };
        return star(35) + star(65);
    }
    if (kind == "x")
        return both(QStringLiteral("<path d=\"M%1 44m-5-5l10 10m0-10l-10 10\" stroke=\"#5b3a14\" stroke-width=\"3.5\" stroke-linecap=\"round\"/>"));
    if (kind == "roll")
        return both(QStringLiteral("<ellipse cx=\"%1\" cy=\"43\" rx=\"8\" ry=\"9\" fill=\"#fff\" stroke=\"#5b3a14\" stroke-width=\"1.5\"/>"))
            + QStringLiteral("<circle cx=\"38\" cy=\"37\" r=\"4\" fill=\"#5b3a14\"/><circle cx=\"66\" cy=\"37\" r=\"4\" fill=\"#5b3a14\"/>");
    if (kind == "side" || kind == "monocle") {
        QString s = both(QStringLiteral("<ellipse cx=\"%1\" cy=\"44\" rx=\"8\" ry=\"6\" fill=\"#fff\" stroke=\"#5b3a14\" stroke-width=\"1.5\"/>"))
            + QStringLiteral("<circle cx=\"41\" cy=\"45\" r=\"3.6\" fill=\"#5b3a14\"/><circle cx=\"69\" cy=\"45\" r=\"3.6\" fill=\"#5b3a14\"/>")
            + QStringLiteral("<path d=\"M27 36q9-4 17 0M56 36q9-4 17 0\" fill=\"none\" stroke=\"#5b3a14\" stroke-width=\"3\" stroke-linecap=\"round\"/>");
        if (kind == "monocle")
            s += QStringLiteral("<circle cx=\"64\" cy=\"44\" r=\"11\" fill=\"#fff\" fill-opacity=\"0.3\" stroke=\"#3a3a3a\" stroke-width=\"2.5\"/><path d=\"M70 54q4 12 -2 26\" fill=\"none\" stroke=\"#3a3a3a\" stroke-width=\"1.5\"/>");
        return s;
    }
    if (kind == "squint")
        return QStringLiteral("<path d=\"M29 38l10 6-10 6M71 38l-10 6 10 6\" fill=\"none\" stroke=\"#5b3a14\" stroke-width=\"4\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/>");
    if (kind == "glasses")
        return QStringLiteral("<path d=\"M20 38h60v4q-2 14-15 14q-11 0-13-12h-4q-2 12-13 12q-13 0-15-14z\" fill=\"#262b33\"/><path d=\"M27 42l6 0M58 42l6 0\" stroke=\"#6d7a8a\" stroke-width=\"2.5\" stroke-linecap=\"round\"/>");
    if (kind == "money")
        return both(QStringLiteral("<text x=\"%1\" y=\"52\" font-family=\"DejaVu Sans\" font-weight=\"bold\" font-size=\"22\" fill=\"#2e9e4f\" text-anchor=\"middle\">$</text>"));
    if (kind == "angry" || kind == "worried") {
        QString s = both(QStringLiteral("<ellipse cx=\"%1\" cy=\"46\" rx=\"4.5\" ry=\"5.5\" fill=\"#5b3a14\"/>"));
        if (kind == "angry")
            s += QStringLiteral("<path d=\"M26 34l15 6M74 34l-15 6\" stroke=\"#5b3a14\" stroke-width=\"4\" stroke-linecap=\"round\"/>");
        else
            s += QStringLiteral("<path d=\"M28 36l12-5M72 36l-12-5\" stroke=\"#5b3a14\" stroke-width=\"3.5\" stroke-linecap=\"round\"/>");
        return s;
    }
    if (kind == "nerd")
        return QStringLiteral("<g fill=\"#fff\" stroke=\"#3a2a1a\" stroke-width=\"3.5\"><circle cx=\"36\" cy=\"44\" r=\"10\"/><circle cx=\"64\" cy=\"44\" r=\"10\"/></g>"
                              "<path d=\"M46 44h8\" stroke=\"#3a2a1a\" stroke-width=\"3.5\"/><circle cx=\"36\" cy=\"45\" r=\"4\" fill=\"#5b3a14\"/><circle cx=\"64\" cy=\"45\" r=\"4\" fill=\"#5b3a14\"/>");
    return QString();
}

QString mouthSvg(const QString &kind, double t)
{
    if (kind == "smile")
        return QStringLiteral("<path d=\"M34 62q16 14 32 0\" fill=\"none\" stroke=\"#5b3a14\" stroke-width=\"4\" stroke-linecap=\"round\"/>");
    if (kind == "small")
        return QStringLiteral("<path d=\"M40 64q10 7 20 0\" fill=\"none\" stroke=\"#5b3a14\" stroke-width=\"4\" stroke-linecap=\"round\"/>");
    if (kind == "grin" || kind == "laugh") {
        const double open = kind == "laugh" ? 20 + 3 * qSin(2 * M_PI * t * 2) : 14;
        return QStringLiteral("<path d=\"M28 60h44q-4 %1-22 %1q-18 0-22-%1z\" fill=\"#5b3a14\"/>"
                              "<path d=\"M31 60.5h38q-1 5-4 6h-30q-3-1-4-6z\" fill=\"#fff\"/>")
                   .arg(n2(open))
            + (kind == "laugh" ? QStringLiteral("<ellipse cx=\"50\" cy=\"%1\" rx=\"9\" ry=\"4\" fill=\"#e8566a\"/>").arg(n2(60 + open - 4)) : QString());
    }
    if (kind == "grimace")
        return QStringLiteral("<rect x=\"28\" y=\"58\" width=\"44\" height=\"14\" rx=\"6\" fill=\"#fff\" stroke=\"#5b3a14\" stroke-width=\"2.5\"/>"
                              "<path d=\"M28 65h44M39 58v14M50 58v14M61 58v14\" stroke=\"#5b3a14\" stroke-width=\"1.8\"/>");
    if (kind == "flat")
        return QStringLiteral("<path d=\"M37 66h26\" stroke=\"#5b3a14\" stroke-width=\"4\" stroke-linecap=\"round\"/>");
    if (kind == "frown")
        return QStringLiteral("<path d=\"M34 72q16-14 32 0\" fill=\"none\" stroke=\"#5b3a14\" stroke-width=\"4\" stroke-linecap=\"round\"/>");
    if (kind == "sfrown")
        return QStringLiteral("<path d=\"M40 70q10-7 20 0\" fill=\"none\" stroke=\"#5b3a14\" stroke-width=\"4\" stroke-linecap=\"round\"/>");
    if (kind == "o")
        return QStringLiteral("<ellipse cx=\"50\" cy=\"67\" rx=\"%1\" ry=\"%2\" fill=\"#5b3a14\"/>")
            .arg(n2(5 + qSin(2 * M_PI * t)), n2(6 + qSin(2 * M_PI * t)));
    if (kind == "open")
        return QStringLiteral("<path d=\"M36 72q14-18 28 0q-14 6-28 0z\" fill=\"#5b3a14\"/>");
    if (kind == "scream")
        return QStringLiteral("<ellipse cx=\"50\" cy=\"70\" rx=\"9\" ry=\"%1\" fill=\"#5b3a14\"/>").arg(n2(12 + 2 * qSin(2 * M_PI * t * 2)));
    if (kind == "kiss")
        return QStringLiteral("<path d=\"M46 58q8 2 2 6q6 3-2 7\" fill=\"none\" stroke=\"#5b3a14\" stroke-width=\"3.5\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/>");
    if (kind == "tongue")
        return QStringLiteral("<path d=\"M32 60q18 12 36 0\" fill=\"none\" stroke=\"#5b3a14\" stroke-width=\"4\" stroke-linecap=\"round\"/>"
                              "<path d=\"M44 65h14v%1a7 7 0 0 1-14 0z\" fill=\"#e8566a\"/><path d=\"M51 66v6\" stroke=\"#b83a4e\" stroke-width=\"1.5\"/>")
            .arg(n2(7 + 3 * qSin(2 * M_PI * t * 2)));
    if (kind == "smirk")
        return QStringLiteral("<path d=\"M40 66q14 4 24-6\" fill=\"none\" stroke=\"#5b3a14\" stroke-width=\"4\" stroke-linecap=\"round\"/>");
    if (kind == "zip")
        return QStringLiteral("<path d=\"M30 65h40\" stroke=\"#8a8f99\" stroke-width=\"6\" stroke-linecap=\"round\"/><path d=\"M34 65h32\" stroke=\"#5d6470\" stroke-width=\"2\" stroke-dasharray=\"2 2\"/><rect x=\"66\" y=\"60\" width=\"6\" height=\"12\" rx=\"2\" fill=\"#8a8f99\"/>");
    if (kind == "wavy")
        return QStringLiteral("<path d=\"M34 68q4-5 8 0t8 0t8 0t8 0\" fill=\"none\" stroke=\"#5b3a14\" stroke-width=\"3.5\" stroke-linecap=\"round\"/>");
    if (kind == "mask")
        return QStringLiteral("<path d=\"M20 54q30-6 60 0v14q-30 16-60 0z\" fill=\"#f4f6f8\" stroke=\"#c9d0d8\" stroke-width=\"1.5\"/><path d=\"M26 60q24-4 48 0M26 66q24 6 48 0\" stroke=\"#c9d0d8\" stroke-width=\"1.5\" fill=\"none\"/>");
    if (kind == "drool")
        return QStringLiteral("<path d=\"M36 64q14 10 28 0\" fill=\"none\" stroke=\"#5b3a14\" stroke-width=\"4\" stroke-linecap=\"round\"/>"
                              "<path d=\"M58 67q3 %1 0 %2q-4-3 0-%2\" fill=\"#6cc6f2\"/>")
            .arg(n2(8 + 5 * qSin(M_PI * t)), n2(12 + 5 * qSin(M_PI * t)));
    if (kind == "vomit")
        return QStringLiteral("<path d=\"M38 62q12-6 24 0l8 %1q-20 8-40 0z\" fill=\"#7cc242\" stroke=\"#4e8a22\" stroke-width=\"1.5\"/>")
            .arg(n2(24 + 6 * qSin(2 * M_PI * t)));
    if (kind == "symbols")
        return QStringLiteral("<rect x=\"28\" y=\"58\" width=\"44\" height=\"16\" rx=\"3\" fill=\"#1f1f1f\"/><text x=\"50\" y=\"71\" font-family=\"DejaVu Sans\" font-weight=\"bold\" font-size=\"12\" fill=\"#fff\" text-anchor=\"middle\">#!%&amp;</text>");
    return QString();
}

QString handShape(double x, double y, double rot, const QString &fingers)
{
    // A stylised hand: palm plus finger capsules described by `fingers`
    // ("u" up, "f" folded, per finger index..pinky) and a thumb.
    QString s = QStringLiteral("<g transform=\"translate(%1 %2) rotate(%3)\" fill=\"#ffcc4d\" stroke=\"#d99a1e\" stroke-width=\"2.5\" stroke-linejoin=\"round\">")
                    .arg(n2(x), n2(y), n2(rot));
    const double fx[] = { -13.5, -4.5, 4.5, 13.5 };
    const double len[] = { 30, 33, 31, 25 };
    for (int i = 0; i < 4; ++i) {
        const QChar c = i < fingers.size() ? fingers.at(i) : QLatin1Char('f');
        if (c == QLatin1Char('u'))
            s += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"9\" height=\"%3\" rx=\"4.5\"/>").arg(n2(fx[i] - 4.5), n2(-len[i] - 2), n2(len[i] + 8));
    }
    s += QStringLiteral("<rect x=\"-18\" y=\"-6\" width=\"36\" height=\"30\" rx=\"10\"/>");
    for (int i = 0; i < 4; ++i) {
        const QChar c = i < fingers.size() ? fingers.at(i) : QLatin1Char('f');
        if (c == QLatin1Char('f'))
            s += QStringLiteral("<rect x=\"%1\" y=\"-9\" width=\"9\" height=\"12\" rx=\"4.5\"/>").arg(n2(fx[i] - 4.5));
    }
    const bool thumbOut = fingers.size() > 4 && fingers.at(4) == QLatin1Char('u');
    if (thumbOut)
        s += QStringLiteral("<rect x=\"-34\" y=\"-2\" width=\"22\" height=\"9\" rx=\"4.5\" transform=\"rotate(-35 -18 4)\"/>");
    else
        s += QStringLiteral("<rect x=\"-22\" y=\"4\" width=\"20\" height=\"9\" rx=\"4.5\" transform=\"rotate(-20 -12 8)\"/>");
    s += QStringLiteral("</g>");
    return s;
}

QString heartPath(const QString &fill, double scale, const QString &extra = QString())
{
    return QStringLiteral("<path transform=\"translate(50 52) scale(%1)\" fill=\"%2\" stroke=\"#000\" stroke-opacity=\"0.18\" stroke-width=\"1.5\" %3 "
                          "d=\"M0 30C-46 0 -36 -36 -12 -34C-5 -33 0 -27 0 -22C0 -27 5 -33 12 -34C36 -36 46 0 0 30Z\"/>")
        .arg(n2(scale), fill, extra);
}

QString objectEmoji(const QString &code, double t)
{
    const double s2 = qSin(2 * M_PI * t);
    if (code == "1f44a")
        return QStringLiteral("<g transform=\"translate(50 54) scale(%1) translate(-50 -54)\">").arg(n2(1 + 0.08 * s2))
            + QStringLiteral("<rect x=\"22\" y=\"26\" width=\"56\" height=\"50\" rx=\"16\" fill=\"#ffcc4d\" stroke=\"#d99a1e\" stroke-width=\"2.5\"/>"
                             "<path d=\"M36 28v22M50 28v22M64 28v22\" stroke=\"#d99a1e\" stroke-width=\"2.5\" stroke-linecap=\"round\"/>"
                             "<rect x=\"18\" y=\"50\" width=\"44\" height=\"14\" rx=\"7\" fill=\"#ffcc4d\" stroke=\"#d99a1e\" stroke-width=\"2.5\"/></g>");
    if (code == "1f44b")
        return handShape(54, 62, 15 * s2, "uuuuu");
    if (code == "1f44c")
        return handShape(52, 62, 4 * s2, "fuuu") + QStringLiteral("<circle cx=\"30\" cy=\"48\" r=\"9\" fill=\"none\" stroke=\"#d99a1e\" stroke-width=\"7\"/><circle cx=\"30\" cy=\"48\" r=\"9\" fill=\"none\" stroke=\"#ffcc4d\" stroke-width=\"4\"/>");
    if (code == "1f44d" || code == "1f44e") {
        const QString hand = QStringLiteral("<g fill=\"#ffcc4d\" stroke=\"#d99a1e\" stroke-width=\"2.5\" stroke-linejoin=\"round\">"
                                            "<rect x=\"38\" y=\"14\" width=\"14\" height=\"36\" rx=\"7\"/>"
                                            "<rect x=\"30\" y=\"42\" width=\"44\" height=\"42\" rx=\"12\"/>"
                                            "<path d=\"M48 54h26M48 66h26\" fill=\"none\"/></g>"
                                            "<rect x=\"18\" y=\"44\" width=\"14\" height=\"40\" rx=\"4\" fill=\"#4f8ad8\"/>");
        const double bounce = -4 * qAbs(s2);
        if (code == "1f44d")
            return QStringLiteral("<g transform=\"translate(0 %1)\">%2</g>").arg(n2(bounce), hand);
        return QStringLiteral("<g transform=\"translate(0 %1) rotate(180 50 50)\">%2</g>").arg(n2(-bounce), hand);
    }
    if (code == "1f44f")
        return handShape(36 + 4 * qAbs(s2), 58, 20, "uuuu") + handShape(64 - 4 * qAbs(s2), 58, -20, "uuuu");
    if (code == "1f47b")
        return QStringLiteral("<g transform=\"translate(0 %1)\"><path d=\"M22 84V44a28 28 0 0 1 56 0v40l-9-7-9 7-10-7-10 7-9-7z\" fill=\"#f6f7fb\" stroke=\"#b9c0cc\" stroke-width=\"2.5\" stroke-linejoin=\"round\"/>"
                              "<ellipse cx=\"40\" cy=\"44\" rx=\"5\" ry=\"7\" fill=\"#333\"/><ellipse cx=\"60\" cy=\"44\" rx=\"5\" ry=\"7\" fill=\"#333\"/><ellipse cx=\"50\" cy=\"60\" rx=\"6\" ry=\"8\" fill=\"#333\"/></g>")
            .arg(n2(-4 * s2));
    if (code == "1f47d")
        return QStringLiteral("<path d=\"M50 12c20 0 34 14 34 32 0 22-20 44-34 44S16 66 16 44c0-18 14-32 34-32z\" fill=\"#b8c7cc\" stroke=\"#8a9aa0\" stroke-width=\"2\"/>"
                              "<path d=\"M24 46q14-4 20 14q-16 2-20-14zM76 46q-14-4-20 14q16 2 20-14z\" fill=\"#1d2330\"/>"
                              "<path d=\"M44 74h12\" stroke=\"#6a7a80\" stroke-width=\"3\" stroke-linecap=\"round\"/>");
    if (code == "1f480")
        return QStringLiteral("<g transform=\"rotate(%1 50 60)\"><path d=\"M50 14c20 0 32 14 32 30 0 12-6 18-10 20v12H28V64c-4-2-10-8-10-20 0-16 12-30 32-30z\" fill=\"#f4f4f2\" stroke=\"#b9b9b3\" stroke-width=\"2.5\"/>"
                              "<circle cx=\"38\" cy=\"46\" r=\"8\" fill=\"#333\"/><circle cx=\"62\" cy=\"46\" r=\"8\" fill=\"#333\"/><path d=\"M50 56l-4 7h8z\" fill=\"#333\"/>"
                              "<path d=\"M38 70v8M46 70v8M54 70v8M62 70v8\" stroke=\"#b9b9b3\" stroke-width=\"2\"/></g>")
            .arg(n2(5 * s2));
    if (code == "1f494") {
        const double gap = 2 + 3 * qAbs(s2);
        const QString left = QStringLiteral("M50 30L44 44L54 58L46 72L50 82C4 52 14 16 38 18C45 19 50 25 50 30Z");
        const QString right = QStringLiteral("M50 30L44 44L54 58L46 72L50 82C96 52 86 16 62 18C55 19 50 25 50 30Z");
        return QStringLiteral("<g fill=\"#e8364f\" stroke=\"#b8203a\" stroke-width=\"1.5\" stroke-linejoin=\"round\">"
                              "<path transform=\"translate(%1 0) rotate(-%2 50 82)\" d=\"%3\"/>"
                              "<path transform=\"translate(%2 0) rotate(%2 50 82)\" d=\"%4\"/></g>")
            .arg(n2(-gap), n2(gap), left, right);
    }
    if (code == "1f49b")
        return heartPath("#ffcf33", 1 + 0.1 * qAbs(s2));
    if (code == "1f49c")
        return heartPath("#a25be0", 1 + 0.1 * qAbs(s2));
    if (code == "1f64f")
        return QStringLiteral("<g fill=\"#ffcc4d\" stroke=\"#d99a1e\" stroke-width=\"2.5\" stroke-linejoin=\"round\">"
                              "<path d=\"M49 14q-8 0-12 12l-8 34q-2 10 6 16l14 10z\"/><path d=\"M51 14q8 0 12 12l8 34q2 10-6 16l-14 10z\"/></g>"
                              "<rect x=\"30\" y=\"80\" width=\"40\" height=\"10\" rx=\"3\" fill=\"#4f8ad8\"/>")
            + QStringLiteral("<g fill=\"#ffd84d\" opacity=\"%1\"><path d=\"M20 22l2 6 6 2-6 2-2 6-2-6-6-2 6-2z\"/><path d=\"M80 30l1.5 4.5 4.5 1.5-4.5 1.5-1.5 4.5-1.5-4.5-4.5-1.5 4.5-1.5z\"/></g>").arg(n2(0.4 + 0.6 * qAbs(s2)));
    if (code == "1f680")
        return QStringLiteral("<g transform=\"translate(%1 %2) rotate(45 50 50)\">").arg(n2(1.5 * s2), n2(-1.5 * s2))
            + QStringLiteral("<path d=\"M42 70l-10 12v-18zM58 70l10 12v-18z\" fill=\"#e8364f\"/>"
                             "<path d=\"M50 10c12 10 14 30 10 62H40c-4-32-2-52 10-62z\" fill=\"#eef1f5\" stroke=\"#aab3bf\" stroke-width=\"2\"/>"
                             "<circle cx=\"50\" cy=\"38\" r=\"7\" fill=\"#4fb7f0\" stroke=\"#2f6db5\" stroke-width=\"2\"/>"
                             "<path d=\"M50 10c5 4 8 9 9 14H41c1-5 4-10 9-14z\" fill=\"#e8364f\"/>")
            + QStringLiteral("<path d=\"M43 72q7 %1 14 0z\" fill=\"#ff9d00\"/><path d=\"M46 72q4 %2 8 0z\" fill=\"#ffe066\"/></g>")
                  .arg(n2(16 + 6 * qAbs(s2)), n2(9 + 4 * qAbs(s2)));
    if (code == "1f697")
        return QStringLiteral("<g transform=\"translate(%1 %2)\">").arg(n2(4 * s2), n2(-1.5 * qAbs(s2)))
            + QStringLiteral("<path d=\"M12 62v-8q0-6 6-7l10-2 8-12q3-4 8-4h20q5 0 8 4l8 12 6 1q6 1 6 8v8z\" fill=\"#e8364f\" stroke=\"#a8202f\" stroke-width=\"2\" stroke-linejoin=\"round\"/>"
                             "<path d=\"M38 34h12v11H31zM54 34h10l7 11H54z\" fill=\"#bfe6ff\"/>"
                             "<circle cx=\"30\" cy=\"64\" r=\"9\" fill=\"#2b2f36\"/><circle cx=\"72\" cy=\"64\" r=\"9\" fill=\"#2b2f36\"/>"
                             "<circle cx=\"30\" cy=\"64\" r=\"3.5\" fill=\"#c9d0d8\"/><circle cx=\"72\" cy=\"64\" r=\"3.5\" fill=\"#c9d0d8\"/>"
                             "<rect x=\"82\" y=\"52\" width=\"6\" height=\"4\" rx=\"1\" fill=\"#ffe066\"/></g>");
    if (code == "1f90f")
        return handShape(56, 64, -10, "fff") + QStringLiteral("<g fill=\"#ffcc4d\" stroke=\"#d99a1e\" stroke-width=\"2.5\"><rect x=\"40\" y=\"%1\" width=\"9\" height=\"26\" rx=\"4.5\" transform=\"rotate(-30 44 40)\"/><rect x=\"28\" y=\"46\" width=\"9\" height=\"20\" rx=\"4.5\" transform=\"rotate(-60 32 56)\"/></g>").arg(n2(22 - 2 * qAbs(s2)));
    if (code == "1f91d")
        return QStringLiteral("<g transform=\"translate(0 %1)\" fill=\"#ffcc4d\" stroke=\"#d99a1e\" stroke-width=\"2.5\" stroke-linejoin=\"round\">").arg(n2(3 * s2))
            + QStringLiteral("<rect x=\"4\" y=\"40\" width=\"16\" height=\"24\" rx=\"3\" fill=\"#4f8ad8\" stroke=\"none\"/><rect x=\"80\" y=\"40\" width=\"16\" height=\"24\" rx=\"3\" fill=\"#e0604a\" stroke=\"none\"/>"
                             "<path d=\"M20 42h22l20 8q6 3 2 8H34q-8 0-14-6z\"/><path d=\"M80 44H58l-22 10q-5 4 0 8l10 4h18q8 0 16-8z\"/>"
                             "<path d=\"M44 58h14M46 64h12\" fill=\"none\"/></g>");
    if (code == "1f91e")
        return handShape(50, 64, 4 * s2, "ffff") + QStringLiteral("<g fill=\"#ffcc4d\" stroke=\"#d99a1e\" stroke-width=\"2.5\"><rect x=\"40\" y=\"18\" width=\"9\" height=\"42\" rx=\"4.5\" transform=\"rotate(12 44 58)\"/><rect x=\"48\" y=\"18\" width=\"9\" height=\"42\" rx=\"4.5\" transform=\"rotate(-14 52 58)\"/></g>");
    if (code == "1f91f")
        return handShape(52, 64, 8 * s2, "uffuu");
    return QString();
}

QString faceEmoji(const FaceRecipe &r, double t)
{
    const QString extras = QString::fromLatin1(r.extras);
    const auto has = [&extras](const char *w) { return extras.split(' ').contains(QLatin1String(w)); };
    QString fill = "#ffcc4d", shade = "#f4b23a", edge = "#e0a020";
    if (has("purple")) { fill = "#a25be0"; shade = "#8a44c8"; edge = "#7a38b0"; }
    if (has("red")) { fill = "#f25a3c"; shade = "#d9402a"; edge = "#c03520"; }
    if (has("green")) { fill = "#b6d96a"; shade = "#9cc450"; edge = "#86ad3a"; }
    QString s;
    if (has("horns"))
        s += QStringLiteral("<path d=\"M20 30L14 8L34 20ZM80 30L86 8L66 20Z\" fill=\"%1\"/>").arg(edge);
    if (has("halo"))
        s += QStringLiteral("<ellipse cx=\"50\" cy=\"%1\" rx=\"22\" ry=\"6\" fill=\"none\" stroke=\"#4fb7f0\" stroke-width=\"4\"/>").arg(n2(10 + 2 * qSin(2 * M_PI * t)));
    if (has("explode"))
        s += QStringLiteral("<path d=\"M28 24l-6-16 14 8 6-14 8 14 10-12 2 16 14-8-4 14z\" fill=\"#ff9d00\" transform=\"translate(50 20) scale(%1) translate(-50 -20)\"/>").arg(n2(0.8 + 0.3 * qAbs(qSin(2 * M_PI * t))));
    s += QStringLiteral("<circle cx=\"50\" cy=\"52\" r=\"40\" fill=\"%1\" stroke=\"%2\" stroke-width=\"1.5\"/>").arg(fill, edge);
    s += QStringLiteral("<path d=\"M14 60a40 40 0 0 0 72 0a44 44 0 0 1-72 0z\" fill=\"%1\" opacity=\"0.7\"/>").arg(shade);
    if (has("fear"))
        s += QStringLiteral("<path d=\"M13 44a40 40 0 0 1 74 0q-37-12-74 0z\" fill=\"#7fa8e8\" opacity=\"0.85\"/>");
    if (has("blush") || has("red"))
        s += QStringLiteral("<g fill=\"#ff7b7b\" opacity=\"0.45\"><ellipse cx=\"26\" cy=\"58\" rx=\"7\" ry=\"4\"/><ellipse cx=\"74\" cy=\"58\" rx=\"7\" ry=\"4\"/></g>");
    s += eyesSvg(QString::fromLatin1(r.eyes), t);
    s += mouthSvg(QString::fromLatin1(r.mouth), t);
    const double drop = qAbs(qSin(M_PI * t));
    if (has("tears"))
        s += QStringLiteral("<g fill=\"#6cc6f2\"><path d=\"M22 %1q-8 8-2 12q6-2 2-12z\"/><path d=\"M78 %1q8 8 2 12q-6-2-2-12z\"/></g>").arg(n2(46 + 8 * drop));
    if (has("tear"))
        s += QStringLiteral("<path d=\"M30 %1q-6 9 0 12q6-3 0-12z\" fill=\"#6cc6f2\"/>").arg(n2(50 + 10 * drop));
    if (has("streams"))
        s += QStringLiteral("<g fill=\"#6cc6f2\" opacity=\"0.9\"><path d=\"M28 48h10v%1q-5 4-10 0z\"/><path d=\"M62 48h10v%1q-5 4-10 0z\"/></g>").arg(n2(20 + 16 * drop));
    if (has("sweat"))
        s += QStringLiteral("<path d=\"M76 %1q-7 10 0 13q7-3 0-13z\" fill=\"#6cc6f2\" stroke=\"#3a9ad0\" stroke-width=\"1\"/>").arg(n2(18 + 6 * drop));
    if (has("bubble"))
        s += QStringLiteral("<circle cx=\"62\" cy=\"60\" r=\"%1\" fill=\"#bfe6ff\" opacity=\"0.8\" stroke=\"#6cc6f2\"/>").arg(n2(3 + 6 * drop));
    if (has("zzz"))
        s += QStringLiteral("<text x=\"70\" y=\"%1\" font-family=\"DejaVu Sans\" font-weight=\"bold\" font-size=\"16\" fill=\"#4f8ad8\">z</text><text x=\"80\" y=\"%2\" font-family=\"DejaVu Sans\" font-weight=\"bold\" font-size=\"12\" fill=\"#4f8ad8\">z</text>")
                 .arg(n2(28 - 8 * t), n2(16 - 8 * t));
    if (has("steam"))
        s += QStringLiteral("<g fill=\"#e8eef5\" opacity=\"%1\"><circle cx=\"30\" cy=\"78\" r=\"7\"/><circle cx=\"22\" cy=\"82\" r=\"5\"/><circle cx=\"70\" cy=\"78\" r=\"7\"/><circle cx=\"78\" cy=\"82\" r=\"5\"/></g>").arg(n2(0.4 + 0.6 * drop));
    if (has("kissheart"))
        s += QStringLiteral("<path transform=\"translate(%1 %2) scale(0.22)\" fill=\"#e8364f\" d=\"M0 30C-46 0 -36 -36 -12 -34C-5 -33 0 -27 0 -22C0 -27 5 -33 12 -34C36 -36 46 0 0 30Z\"/>").arg(n2(72 + 8 * t), n2(66 - 6 * t));
    if (has("thermo"))
        s += QStringLiteral("<g transform=\"rotate(-30 50 70)\"><rect x=\"47\" y=\"56\" width=\"6\" height=\"30\" rx=\"3\" fill=\"#f4f6f8\" stroke=\"#99a\"/><circle cx=\"50\" cy=\"86\" r=\"4.5\" fill=\"#e8364f\"/><rect x=\"49\" y=\"68\" width=\"2\" height=\"16\" fill=\"#e8364f\"/></g><path d=\"M42 68q8-4 16 0\" stroke=\"#5b3a14\" stroke-width=\"3.5\" fill=\"none\" stroke-linecap=\"round\"/>");
    if (has("bandage"))
        s += QStringLiteral("<path d=\"M14 40q36-24 72 0v10q-36-24-72 0z\" fill=\"#f4f6f8\" stroke=\"#c9d0d8\" stroke-width=\"1.5\"/><rect x=\"60\" y=\"52\" width=\"18\" height=\"8\" rx=\"3\" fill=\"#f2d3b0\" transform=\"rotate(-30 69 56)\"/>");
    if (has("nose"))
        s += QStringLiteral("<rect x=\"48\" y=\"52\" width=\"%1\" height=\"7\" rx=\"3.5\" fill=\"%2\" stroke=\"%3\" stroke-width=\"1.5\"/>").arg(n2(14 + 22 * drop), fill, edge);
    if (has("tissue"))
        s += QStringLiteral("<path d=\"M36 60q14-6 28 0l4 18q-18 8-36 0z\" fill=\"#fff\" stroke=\"#c9d0d8\" stroke-width=\"1.5\"/>");
    if (has("brow"))
        s += QStringLiteral("<path d=\"M56 30q8-%1 17-2\" fill=\"none\" stroke=\"#5b3a14\" stroke-width=\"3.5\" stroke-linecap=\"round\"/>").arg(n2(6 + 4 * drop));
    if (has("pensive"))
        s += QStringLiteral("<path d=\"M28 34l12 3M72 34l-12 3\" stroke=\"#5b3a14\" stroke-width=\"3\" stroke-linecap=\"round\"/>");
    if (has("zany"))
        s += QStringLiteral("<circle cx=\"64\" cy=\"45\" r=\"2\" fill=\"#5b3a14\"/>");
    const QString handTpl = QStringLiteral("<g fill=\"#ffcc4d\" stroke=\"#d99a1e\" stroke-width=\"2.5\" stroke-linejoin=\"round\">%1</g>");
    if (has("think"))
        s += handTpl.arg(QStringLiteral("<rect x=\"34\" y=\"%1\" width=\"9\" height=\"22\" rx=\"4.5\" transform=\"rotate(20 38 80)\"/><rect x=\"30\" y=\"74\" width=\"28\" height=\"18\" rx=\"8\"/>").arg(n2(56 + 2 * qSin(2 * M_PI * t))));
    if (has("shush"))
        s += handTpl.arg(QStringLiteral("<rect x=\"46\" y=\"54\" width=\"9\" height=\"24\" rx=\"4.5\"/><rect x=\"38\" y=\"74\" width=\"26\" height=\"18\" rx=\"8\"/>"));
    if (has("handmouth"))
        s += handTpl.arg(QStringLiteral("<rect x=\"32\" y=\"%1\" width=\"36\" height=\"20\" rx=\"9\"/><path d=\"M42 %2v8M50 %2v8M58 %2v8\" fill=\"none\"/>").arg(n2(58 + 2 * qSin(2 * M_PI * t)), n2(62 + 2 * qSin(2 * M_PI * t))));
    if (has("hug"))
        s += handShape(16, 74, 30 + 8 * qSin(2 * M_PI * t), "uuuu") + handShape(84, 74, -30 - 8 * qSin(2 * M_PI * t), "uuuu");

    double rot = 0;
    if (has("upside"))
        rot = 180;
    if (has("tilt"))
        rot = -25 + 10 * qSin(2 * M_PI * t);
    const double bounce = -3 * qAbs(qSin(2 * M_PI * t));
    return QStringLiteral("<g transform=\"translate(0 %1) rotate(%2 50 52)\">%3</g>").arg(n2(bounce), n2(rot), s);
}

} // namespace

QString emojiFrame(const QString &code, int n, int count)
{
    const double t = double(n) / count;
    for (const FaceRecipe &r : kFaces)
        if (code == QLatin1String(r.code))
            return svgDocument(100, 100, faceEmoji(r, t));
    const QString obj = objectEmoji(code, t);
    return obj.isEmpty() ? QString() : svgDocument(100, 100, obj);
}

} // namespace art
