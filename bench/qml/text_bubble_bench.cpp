// What a peer's huge text costs the window: one text bubble of the message
// list laid out with a 64 KB and a 2 MB text, beside a bare Text given the
// whole text at the bubble's width (what a bubble without its bound costs).
// Also one chat-sized message with emoji (their pictures laid out inline)
// beside the same bubble with the emoji-free message, and a bubble of 2,000
// emoji beside one of 4,000 letters.
// Run: ./build/bench/qml/text_bubble_bench (offscreen; nothing is shown).
#include "bench/bench_ratio.h"

#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQmlExtensionPlugin>
#include <QQuickItem>

#include <memory>

Q_IMPORT_QML_PLUGIN(VelmorPlugin)

namespace {

QQmlEngine *engine()
{
    static QQmlEngine instance;
    // The module's singletons (Theme) resolve through its qrc import path.
    instance.addImportPath(QStringLiteral("qrc:/qt/qml"));
    return &instance;
}

QString peerText(qsizetype bytes)
{
    QString text;
    text.reserve(bytes);
    while (text.size() < bytes)
        text += QStringLiteral("pay attention to this long message ");
    text.truncate(bytes);
    return text;
}

// Creates the item of `qml` and lays it out with each new text: the work the
// view does when the bubble is made or its text changes.
void layOut(benchmark::State &state, const QByteArray &qml, const char *textProperty,
            const QString &given = {})
{
    QQmlComponent component(engine());
    component.setData(qml, QUrl(QStringLiteral("qrc:/bench/TextBubbleBench.qml")));
    std::unique_ptr<QObject> item(component.create());
    if (!item) {
        state.SkipWithError(qPrintable(component.errorString()));
        return;
    }
    const QString text = given.isEmpty() ? peerText(state.range(0)) : given;
    int round = 0;
    for (auto _ : state) {
        // A different first character each round, so every layout is new.
        item->setProperty(textProperty, QChar(u'a' + (round++ % 26)) + text);
        benchmark::DoNotOptimize(item->property("implicitHeight").toReal());
    }
}

void BM_TextBubbleLayout(benchmark::State &state)
{
    layOut(state,
           "import QtQuick\nimport \"qrc:/qt/qml/Velmor/qml/home/message\"\n"
           "TextBubble { width: 430; maxWidth: 430 }",
           "text");
}

void BM_BareTextLayout(benchmark::State &state)
{
    layOut(state,
           "import QtQuick\n"
           "Text { width: 408; wrapMode: Text.WrapAtWordBoundaryOrAnywhere; textFormat: Text.PlainText;"
           " font.pixelSize: 14 }",
           "text");
}

const char kBubbleQml[] = "import QtQuick\nimport \"qrc:/qt/qml/Velmor/qml/home/message\"\n"
                         "TextBubble { width: 430; maxWidth: 430 }";

void BM_EmojiMessageBubble(benchmark::State &state)
{
    layOut(state, kBubbleQml, "text",
           QString::fromUtf8("see you at 7 \xE2\x9D\xA4\xEF\xB8\x8F bring the cake \xF0\x9F\x8E\x82 and coffee \xE2\x98\x95 ok?"));
}

void BM_PlainMessageBubble(benchmark::State &state)
{
    layOut(state, kBubbleQml, "text",
           QStringLiteral("see you at 7 <3 bring the cake, and coffee ... ok?"));
}

// A dense text: 2,000 emoji (the most a bubble lays out), beside the same
// bubble given 2,000 letter pairs.
QString repeated(const QString &unit, int count)
{
    QString out;
    for (int i = 0; i < count; ++i)
        out += unit;
    return out;
}

void BM_DenseEmojiBubble(benchmark::State &state)
{
    const QStringList faces = { QString::fromUtf8("\xF0\x9F\x98\x82"), QString::fromUtf8("\xF0\x9F\x91\x8D"),
                                QString::fromUtf8("\xF0\x9F\x8E\x82"), QString::fromUtf8("\xF0\x9F\x98\x80") };
    QString text;
    for (int i = 0; i < 2000; ++i)
        text += faces[i % faces.size()];
    layOut(state, kBubbleQml, "text", text);
}

void BM_DensePlainBubble(benchmark::State &state)
{
    layOut(state, kBubbleQml, "text", repeated(QStringLiteral("ab"), 2000));
}

} // namespace

BENCHMARK(BM_DenseEmojiBubble)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DensePlainBubble)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TextBubbleLayout)->Arg(64 << 10)->Arg(2 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BareTextLayout)->Arg(64 << 10)->Arg(2 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EmojiMessageBubble)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PlainMessageBubble)->Unit(benchmark::kMicrosecond)->UseRealTime();

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return velmor::bench::runWithRatios(argc, argv,
                                        {{"BM_TextBubbleLayout/2097152/real_time", "BM_BareTextLayout/2097152/real_time"},
                                         {"BM_TextBubbleLayout/65536/real_time", "BM_BareTextLayout/65536/real_time"},
                                         {"BM_EmojiMessageBubble/real_time", "BM_PlainMessageBubble/real_time"},
                                         {"BM_DenseEmojiBubble/real_time", "BM_DensePlainBubble/real_time"}});
}
