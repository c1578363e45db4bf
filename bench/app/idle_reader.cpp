#include "idle_reader.h"

#include "idle_child.h"
#include "window_probe.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QStringList>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

namespace velmor::bench::idle {

QString readerText(bool emoji, int count)
{
    QString text;
    const QStringList kinds = { "😀", "👍", "🚀", "🤔", "🇫🇷", "👍🏽", "👩‍💻", "❤️" };
    for (int n = 0; emoji && n < count; ++n)
        text += kinds[n % kinds.size()];
    for (int n = 1; !emoji && text.size() < 60000; ++n)
        text += QStringLiteral("line %1 of a long message that the reader shows whole, read it\n").arg(n);
    return emoji ? text : text.left(60000);
}

bool emojiMode(const QByteArray &mode) { return mode.endsWith("-emoji"); }

namespace {

// A piece of the reader's text that is laid out and shown: a visible
// "fullTextPiece" item of some size under `root`. The reader's pieces are a
// list's delegates, items of the visual tree but no QObject's children, so
// the items are walked: QObject::findChild never finds them.
QQuickItem *shownPiece(QQuickItem *root)
{
    if (!root || !root->isVisible())
        return nullptr;
    if (root->objectName() == QLatin1String("fullTextPiece") && root->height() > 0 && root->width() > 0)
        return root;
    const QList<QQuickItem *> children = root->childItems();
    for (QQuickItem *child : children) {
        if (QQuickItem *piece = shownPiece(child))
            return piece;
    }
    return nullptr;
}

double percentileOf(std::vector<double> values, double q)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(q * double(values.size() - 1) + 0.5))];
}

// Scrolls the reader's list (`fullTextList` under `root`) from its top
// towards its end, a step a frame as a wheel turned on does, and reports
// the frame intervals' median and 95th percentile after the open's figures.
void scrollReader(QQuickWindow *window, QQuickItem *root, const QString &openFigures)
{
    QQuickItem *list = findItem(root, QStringLiteral("fullTextList"));
    if (!list) {
        report(QStringLiteral("error 3"));
        return;
    }
    constexpr double kStep = 40;
    constexpr int kFrames = 300;
    auto intervals = std::make_shared<std::vector<double>>();
    auto last = std::make_shared<int64_t>(monotonicNanos());
    auto done = std::make_shared<bool>(false);
    auto step = std::make_shared<QMetaObject::Connection>();
    list->setProperty("contentY", list->property("originY").toDouble() - list->property("topMargin").toDouble());
    *step = QObject::connect(window, &QQuickWindow::frameSwapped, list, [=] {
        if (*done)
            return;
        const int64_t now = monotonicNanos();
        intervals->push_back(double(now - *last) / 1e6);
        *last = now;
        if (int(intervals->size()) > kFrames || list->property("atYEnd").toBool()) {
            *done = true;
            QObject::disconnect(*step);
            // The first interval holds the jump to the top.
            intervals->erase(intervals->begin());
            report(openFigures + QStringLiteral(" scroll_frames %1 scroll_p50 %2 scroll_p95 %3")
                                     .arg(intervals->size()).arg(percentileOf(*intervals, 0.5))
                                     .arg(percentileOf(*intervals, 0.95)));
            return;
        }
        list->setProperty("contentY", list->property("contentY").toDouble() + kStep);
    });
    window->update();
}

} // namespace

// The reader (ours or the bare one) opened: the time from the call to the
// first frame with text in it, and the worst stall from the call to 1.5 s
// after that frame; then `beforeScroll` readies the text for the scroll
// (the bare reader takes the whole text only now) and the reader is
// scrolled. A reader that shows no text within 20 s reports an error
// instead of leaving the parent waiting.
void openReader(QQuickWindow *window, const std::function<QQuickItem *()> &open,
                const std::function<void()> &beforeScroll)
{
    // The window's frames reach this thread queued: the caller's handler can
    // run again for frames swapped before it disconnected. One reader a run.
    static bool started = false;
    if (std::exchange(started, true))
        return;
    QTimer::singleShot(kSettleMs, window, [=] {
        auto probe = std::make_shared<StallProbe>();
        probe->startWatching();
        const int64_t t0 = monotonicNanos();
        QQuickItem *reader = open();
        if (!reader) {
            report(QStringLiteral("error 1"));
            return;
        }
        auto *deadline = new QTimer(window);
        deadline->setSingleShot(true);
        QObject::connect(deadline, &QTimer::timeout, window, [] { report(QStringLiteral("error 2")); });
        deadline->start(20000);
        auto seen = std::make_shared<bool>(false);
        auto shown = std::make_shared<QMetaObject::Connection>();
        *shown = QObject::connect(window, &QQuickWindow::frameSwapped, window, [=] {
            if (*seen || !shownPiece(reader))
                return;
            *seen = true;
            QObject::disconnect(*shown);
            const double openMs = double(monotonicNanos() - t0) / 1e6;
            QTimer::singleShot(1500, window, [=] {
                const QString figures = QStringLiteral("open %1 stall %2").arg(openMs).arg(probe->worstMs());
                // PELORIN_READER_OPEN_ONLY=1: the opening's figures alone.
                if (qEnvironmentVariableIntValue("PELORIN_READER_OPEN_ONLY") == 1)
                    return report(figures);
                beforeScroll();
                QTimer::singleShot(kSettleMs, window, [=] {
                    deadline->stop();
                    scrollReader(window, reader, figures);
                });
            });
        });
    });
}

QQuickItem *openHomeReader(QQuickWindow *window, bool emoji)
{
    QObject *list = window->findChild<QObject *>(QStringLiteral("msgList"));
    if (!list || !QMetaObject::invokeMethod(list, "showFullText", Q_ARG(QVariant, readerText(emoji))))
        return nullptr;
    QObject *loader = list->findChild<QObject *>(QStringLiteral("fullTextReaderLoader"));
    QObject *reader = loader ? loader->property("item").value<QObject *>() : nullptr;
    return reader ? reader->property("contentItem").value<QQuickItem *>() : nullptr;
}

// The bare reader: the same kind of card, a selectable text (the first
// screen's characters, later the whole text) at the reader's width; rich
// text with each emoji a picture when `rich`.
extern const char kBareReader[] = R"(
import QtQuick
import QtQuick.Controls.Basic
import "qrc:/qt/qml/Velmor/qml/home/message/emojiText.js" as EmojiText
Popup {
    width: 720; height: parent ? parent.height - 100 : 0
    x: parent ? (parent.width - width) / 2 : 0; y: 50
    modal: true; padding: 0
    property string text
    property bool rich: false
    background: Rectangle { color: "white"; radius: 12 }
    contentItem: Item {
        Flickable {
            objectName: "fullTextList"
            anchors.fill: parent; anchors.margins: 6; anchors.rightMargin: 30
            clip: true
            contentHeight: piece.height + 28
            TextEdit {
                id: piece
                objectName: "fullTextPiece"
                x: 16; y: 14; width: parent.width - 24
                text: popup.rich ? EmojiText.markup(popup.text, 15) : popup.text
                readOnly: true; selectByMouse: true
                wrapMode: TextEdit.WrapAtWordBoundaryOrAnywhere
                textFormat: popup.rich ? TextEdit.RichText : TextEdit.PlainText
                font.pixelSize: 14
            }
        }
    }
    id: popup
}
)";

} // namespace velmor::bench::idle
