// message_scroll_bench: a 2,000-message conversation of every kind in the
// home view's message list, scrolled from the first message to the last in
// steps of one screen-sized flick per frame, rendered offscreen. Prints the
// time of every frame (layout, new rows, render) as a summary.
//
//   QT_QPA_PLATFORM=offscreen ./build/bench/qml/message_scroll_bench [messages] [step px]
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

double percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * (v.size() - 1) + 0.5))];
}

} // namespace

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
    QQmlComponent component(&engine);
    component.setData(kHarness, QUrl(QStringLiteral("qrc:/qt/qml/Velmor/qml/ScrollBenchHarness.qml")));
    QScopedPointer<QObject> root(component.create());
    if (!root) {
        std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
        return 1;
    }
    QQuickWindow window;
    window.resize(860, 720);
    auto *item = qobject_cast<QQuickItem *>(root.data());
    item->setParentItem(window.contentItem());
    window.show();

    auto *list = root->findChild<QQuickItem *>(QStringLiteral("list"));
    QElapsedTimer clock;
    clock.start();
    auto *rows = root->findChild<QObject *>(QStringLiteral("rows"));
    QMetaObject::invokeMethod(rows, "sync", Q_ARG(QVariantList, conversation(count).toVariantList()));
    const double modelMs = clock.nsecsElapsed() / 1e6;
    // Start from the first message, as a user scrolling the whole history.
    QMetaObject::invokeMethod(list, "positionViewAtBeginning");
    list->setProperty("stickBottom", false);

    std::vector<double> frames;
    std::vector<int> lastRow;
    double y = list->property("contentY").toDouble();
    for (int guard = 0; guard < 100000; ++guard) {
        clock.restart();
        list->setProperty("contentY", y);
        window.grabWindow();
        frames.push_back(clock.nsecsElapsed() / 1e6);
        int row = -1;
        QMetaObject::invokeMethod(list, "indexAt", Q_RETURN_ARG(int, row), Q_ARG(qreal, 200.0),
                                  Q_ARG(qreal, y + list->height() - 1));
        lastRow.push_back(row);
        if (list->property("atYEnd").toBool())
            break;
        y += step;
    }

    std::vector<double> rest(frames.begin() + std::min<size_t>(1, frames.size()), frames.end());
    const double worst = rest.empty() ? 0 : *std::max_element(rest.begin(), rest.end());
    double sum = 0;
    for (double f : rest)
        sum += f;
    const auto over = std::count_if(rest.begin(), rest.end(), [](double f) { return f > 16.0; });
    std::printf("messages %d, step %d px, frames %zu, model fill %.1f ms\n", count, step, frames.size(), modelMs);
    std::printf("first frame %.2f ms\n", frames.empty() ? 0 : frames.front());
    std::printf("after the first: mean %.2f ms, median %.2f ms, p95 %.2f ms, p99 %.2f ms, max %.2f ms, over 16 ms: %lld\n",
                rest.empty() ? 0 : sum / rest.size(), percentile(rest, 0.5), percentile(rest, 0.95),
                percentile(rest, 0.99), worst, static_cast<long long>(over));
    if (qEnvironmentVariableIsSet("BENCH_SLOWEST")) {
        for (size_t i = 0; i < frames.size(); ++i)
            if (frames[i] > 16.0)
                std::printf("  frame %zu: %.2f ms (bottom row %d)\n", i, frames[i], lastRow[i]);
    }
    return 0;
}
