// message_scroll_bench: a 2,000-message conversation in the home view's
// message list, opened at its end and then scrolled from the first message to
// the last in steps of one screen-sized flick per frame, rendered offscreen.
// Prints the opening (rows given to the list until its first frame at the
// end) and the time of every frame (layout, new rows, render) as a summary.
//
//   QT_QPA_PLATFORM=offscreen ./build/bench/qml/message_scroll_bench [messages] [step px] [rows]
//
// rows: "mixed" (every kind, the default), "emoji" (texts that each hold a
// few emoji), "plain" (the same texts with letters for the emoji), "bare"
// (the plain texts in a bare ListView of Text rows), or "compare": emoji,
// plain and bare one after the other in one run, with their ratios.
//
// BENCH_SLOWEST=1 also lists every frame over 16 ms, with the message at
// the bottom of the view.
#include <QBuffer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtQml/qqmlextensionplugin.h>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "mock_controllers.h"

Q_IMPORT_QML_PLUGIN(VelmorPlugin)

namespace {

QString pictureUrl(int w, int h, QColor colour)
{
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(image.rect(), colour);
    p.fillRect(QRect(w / 4, h / 4, w / 2, h / 2), colour.darker(160));
    p.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return QStringLiteral("data:image/jpeg;base64,") + QString::fromLatin1(bytes.toBase64());
}

// Texts of chat length, each with a few emoji (or, plain, with letters in
// their place): what a chat full of emoji costs beside one without.
QJsonArray textConversation(int count, bool emoji)
{
    const QStringList words = QStringLiteral(
        "the quick brown fox jumps over a lazy dog while 我们 在 路上 聊天 and then some").split(' ');
    const QStringList faces = { QString::fromUtf8("\xF0\x9F\x98\x82"), QString::fromUtf8("\xF0\x9F\x91\x8D"),
                                QString::fromUtf8("\xE2\x9D\xA4\xEF\xB8\x8F"), QString::fromUtf8("\xF0\x9F\x8E\x82"),
                                QString::fromUtf8("\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA"), QString::fromUtf8("\xE2\x98\x95") };
    QJsonArray out;
    for (int i = 0; i < count; ++i) {
        QString text;
        for (int w = 0; w < 3 + (i * 7) % 40; ++w) {
            text += words[(i + w) % words.size()] + ' ';
            if (w % 4 == 1)
                text += (emoji ? faces[(i + w) % faces.size()] : QStringLiteral("xx")) + ' ';
        }
        const bool outgoing = (i / 3) % 3 == 0;
        out.append(QJsonObject{ { "id", QStringLiteral("m%1").arg(i) }, { "ts", 1700000000 + i * 30 },
                                { "outgoing", outgoing }, { "status", outgoing ? 1 : 4 }, { "kind", "text" },
                                { "text", text.trimmed() },
                                { "senderAddress", outgoing ? QString() : QStringLiteral("0x%1").arg(i % 5) } });
    }
    return out;
}

QJsonArray conversation(int count)
{
    const QStringList words = QStringLiteral(
        "the quick brown fox jumps over a lazy dog while 我们 在 路上 聊天 and then some").split(' ');
    const QString pictures[] = { pictureUrl(1200, 900, QColor(200, 120, 80)),
                                 pictureUrl(600, 1400, QColor(80, 140, 200)) };
    const QStringList emoji = { "1f602", "1f44d", "1f680", "1f914", "1f1e8-1f1f3" };
    QJsonArray out;
    for (int i = 0; i < count; ++i) {
        QJsonObject m;
        m["id"] = QStringLiteral("m%1").arg(i);
        m["ts"] = 1700000000 + i * 30;
        const bool outgoing = (i / 3) % 3 == 0;
        m["outgoing"] = outgoing;
        m["status"] = outgoing ? (i % 17 == 0 ? 2 : 1) : 4;
        m["senderName"] = outgoing ? QString() : QStringLiteral("Member %1").arg((i / 2) % 5);
        m["senderAddress"] = outgoing ? QString() : QStringLiteral("0x%1").arg((i / 2) % 5, 40, 10, QChar('a'));
        m["senderAvatarId"] = QStringLiteral("avatar_boys_00%1").arg(1 + (i / 2) % 5);
        QString text;
        for (int w = 0; w < 3 + (i * 7) % 40; ++w)
            text += words[(i + w) % words.size()] + ' ';
        switch (i % 12) {
        case 0: case 1: case 2: case 3:
            m["kind"] = "text";
            m["text"] = text.trimmed();
            break;
        case 4:
            m["kind"] = "text";
            m["text"] = text.trimmed();
            m["translated"] = text.toUpper().trimmed();
            break;
        case 5:
            m["kind"] = "image";
            m["text"] = "[图片]";
            m["imageSrc"] = pictures[(i / 12) % 2];
            m["imageW"] = (i / 12) % 2 ? 600 : 1200;
            m["imageH"] = (i / 12) % 2 ? 1400 : 900;
            break;
        case 6: {
            m["kind"] = "voice";
            m["text"] = "[语音]";
            m["voiceB64"] = "AAAAGGZ0eXBtcDQy";
            m["voiceMime"] = "audio/mp4";
            m["durMs"] = 1000 + i * 37 % 29000;
            QJsonArray wf;
            for (int k = 0; k < (i % 40); ++k)
                wf.append((k * 7 + i) % 31);
            m["voiceWaveform"] = wf;
            break;
        }
        case 7: {
            m["kind"] = "emoji";
            QJsonArray codes;
            for (int k = 0; k <= (i / 12) % 3; ++k)
                codes.append(emoji[(i + k) % emoji.size()]);
            m["emojiCodes"] = codes;
            m["text"] = "😀";
            break;
        }
        case 8:
            m["kind"] = "site";
            m["text"] = "[链接] Example";
            m["siteTitle"] = "Example page " + QString::number(i);
            m["siteUrl"] = "https://example.com/articles/" + QString::number(i) + "/a-rather-long-path";
            break;
        case 9:
            m["kind"] = "transfer";
            m["text"] = "[转账] USDT";
            m["transferSymbol"] = "USDT";
            m["transferAmountRaw"] = QString::number(i * 1234567);
            m["transferExplorerUrl"] = "https://explorer.example/tx/" + QString::number(i);
            break;
        case 10:
            m["kind"] = "system";
            m["text"] = QStringLiteral("Member %1 joined the group").arg(i % 5);
            break;
        default:
            m["kind"] = "text";
            m["text"] = i % 2 ? "😀👍" : "ok";
        }
        out.append(m);
    }
    return out;
}

const char kHarness[] = R"(
import QtQuick
import Velmor
import Velmor.Models 1.0
import "home"
Rectangle {
    width: 860; height: 720
    color: Theme.chatCanvas
    property alias list: list
    MessageRowModel { id: rows; objectName: "rows" }
    MessageList { id: list; objectName: "list"; anchors.fill: parent; currentPeer: "group:g1"; model: rows }
}
)";

// The same rows in a bare ListView: one Text per message, nothing else.
const char kBareHarness[] = R"(
import QtQuick
import Velmor.Models 1.0
Rectangle {
    width: 860; height: 720
    MessageRowModel { id: rows; objectName: "rows" }
    ListView {
        id: list; objectName: "list"; anchors.fill: parent; model: rows; spacing: 3
        property bool stickBottom: false
        delegate: Text {
            required property var entry
            width: 408; x: 22
            text: entry.text
            textFormat: Text.PlainText
            wrapMode: Text.WrapAtWordBoundaryOrAnywhere
            font.pixelSize: 13
        }
    }
}
)";

double percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * (v.size() - 1) + 0.5))];
}

} // namespace

struct Figures
{
    double openMs = 0;  // rows given to the list, until its first frame at the end
    double meanMs = 0, p95Ms = 0, worstMs = 0;
    size_t frames = 0;
};

// One list in its own window: opened at the end of `messages`, then scrolled
// from the first message to the last.
bool run(QQmlEngine &engine, const char *harness, const QJsonArray &messages, int step, Figures *out)
{
    QQmlComponent component(&engine);
    component.setData(harness, QUrl(QStringLiteral("qrc:/qt/qml/Velmor/qml/ScrollBenchHarness.qml")));
    QScopedPointer<QObject> root(component.create());
    if (!root) {
        std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
        return false;
    }
    QQuickWindow window;
    window.resize(860, 720);
    auto *item = qobject_cast<QQuickItem *>(root.data());
    item->setParentItem(window.contentItem());
    window.show();
    window.grabWindow();

    auto *list = root->findChild<QQuickItem *>(QStringLiteral("list"));
    auto *rows = root->findChild<QObject *>(QStringLiteral("rows"));
    const QVariantList maps = messages.toVariantList();
    QElapsedTimer clock;
    clock.start();
    QMetaObject::invokeMethod(rows, "sync", Q_ARG(QVariantList, maps));
    QMetaObject::invokeMethod(list, "positionViewAtEnd");
    window.grabWindow();
    out->openMs = clock.nsecsElapsed() / 1e6;

    // Start from the first message, as a user scrolling the whole history.
    list->setProperty("stickBottom", false);
    QMetaObject::invokeMethod(list, "positionViewAtBeginning");
    window.grabWindow();
    std::vector<double> frames;
    double y = list->property("contentY").toDouble();
    for (int guard = 0; guard < 100000; ++guard) {
        clock.restart();
        list->setProperty("contentY", y);
        window.grabWindow();
        frames.push_back(clock.nsecsElapsed() / 1e6);
        if (list->property("atYEnd").toBool())
            break;
        y += step;
    }
    double sum = 0;
    for (double f : frames)
        sum += f;
    out->frames = frames.size();
    out->meanMs = frames.empty() ? 0 : sum / frames.size();
    out->p95Ms = percentile(frames, 0.95);
    out->worstMs = frames.empty() ? 0 : *std::max_element(frames.begin(), frames.end());
    return true;
}

void print(const char *name, const Figures &f)
{
    std::printf("%-6s open %7.2f ms   scroll: frames %zu, mean %.2f ms, p95 %.2f ms, max %.2f ms\n", name,
                f.openMs, f.frames, f.meanMs, f.p95Ms, f.worstMs);
}

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QGuiApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 2000;
    const int step = argc > 2 ? std::max(1, atoi(argv[2])) : 60;

    QQmlEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    QString error;
    if (velmor::qmltest::installMockControllers(&engine, QStringLiteral(VELMOR_QML_MOCK_DIR), &error).isEmpty()) {
        std::fprintf(stderr, "mocks: %s\n", qPrintable(error));
        return 1;
    }
    const QString rowsKind = argc > 3 ? QString::fromLatin1(argv[3]) : QStringLiteral("mixed");
    if (rowsKind == QLatin1String("compare")) {
        // Each twice, the first as warm-up (fonts, caches, compiled QML).
        Figures emoji, plain, bare;
        for (int round = 0; round < 2; ++round) {
            if (!run(engine, kHarness, textConversation(count, true), step, &emoji)
                || !run(engine, kHarness, textConversation(count, false), step, &plain)
                || !run(engine, kBareHarness, textConversation(count, false), step, &bare))
                return 1;
        }
        std::printf("messages %d, step %d px\n", count, step);
        print("emoji", emoji);
        print("plain", plain);
        print("bare", bare);
        std::printf("emoji / plain rows: open %.2fx, scroll mean %.2fx, p95 %.2fx\n", emoji.openMs / plain.openMs,
                    emoji.meanMs / plain.meanMs, emoji.p95Ms / plain.p95Ms);
        std::printf("emoji rows / bare list: open %.2fx, scroll mean %.2fx, p95 %.2fx\n", emoji.openMs / bare.openMs,
                    emoji.meanMs / bare.meanMs, emoji.p95Ms / bare.p95Ms);
        return 0;
    }
    const QJsonArray messages = rowsKind == QLatin1String("emoji") ? textConversation(count, true)
                              : rowsKind == QLatin1String("plain") || rowsKind == QLatin1String("bare")
                                  ? textConversation(count, false)
                                  : conversation(count);
    Figures figures;
    if (!run(engine, rowsKind == QLatin1String("bare") ? kBareHarness : kHarness, messages, step, &figures))
        return 1;
    std::printf("messages %d, step %d px, rows %s\n", count, step, qPrintable(rowsKind));
    print(qPrintable(rowsKind), figures);
    return 0;
}
