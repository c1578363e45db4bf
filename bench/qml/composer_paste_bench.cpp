// composer_paste_bench: what a large paste costs the window, through the real
// chat composer beside a bare Qt Quick TextArea in the same run. Each case
// runs in a child process of its own (a heap grown by one case would hide the
// next one's growth): a text of lines of 77 characters is put on the
// clipboard, the field gets Ctrl+V, frames are drawn until they settle, then
// Ctrl+A and Delete (and a held text's own remove button), frames again,
// then one key typed. Printed per size: resident memory growth after the
// paste, after the removal and after that key (the composer then forgets the
// text it kept to undo the removal), the paste's time to the frame that
// shows it, and the median time from a key typed at the end of a text of
// 19,990 characters to its frame (typing in a full text area).
// A paste the composer holds beside its text area (over 100,000
// characters) is also set beside a bare item that keeps the pasted string in
// a property, shows its opening words and lets it go with a button: the
// least a program that keeps the text can cost.
//
// Under X the text is offered by this process and pasted by the children, as
// a paste from another program is (the clipboard's bytes come over the
// display); offscreen each child puts it on its own clipboard.
//
//   xvfb-run -s '-screen 0 1280x800x24' ./build/bench/qml/composer_paste_bench
//   (or QT_QPA_PLATFORM=offscreen; a child is run as: ... <ours|bare|string> <chars>)
//
// PELORIN_PASTE_CHARS=a,b,...: only these sizes. PELORIN_PASTE_KINDS=
// ours,bare,string: only these kinds. PELORIN_PASTE_RUNS=n: n rounds of each
// size, the kinds taking turns, printed as medians with a line of spreads
// (largest less smallest) below.
// PELORIN_BENCH_MEMORY_DUMP=<folder>: each child also writes its mappings
// (smaps) and its heap's state (malloc_info) before the paste and after each
// step, as <kind>-<chars>-<phase>.*, and prints the heap's bytes in use at
// each (malloc in use: what the program holds, not what the heap keeps free).
// PELORIN_BENCH_CHILD_PREFIX runs each child under a tool, e.g. "heaptrack -o
// /tmp/paste" with PELORIN_BENCH_END_AT_MEASURE=1 to see what holds the
// memory at the end.
#include "mock_controllers.h"
#include "../memory_dump.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

Q_IMPORT_QML_PLUGIN(VelmorPlugin)

namespace {

double residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

// Bytes the heap has handed out and not had back, in MB.
double heapInUseMb()
{
#ifdef __GLIBC__
    const struct mallinfo2 info = mallinfo2();
    return (info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
#else
    return 0;
#endif
}

// See PELORIN_BENCH_MEMORY_DUMP above: the dump, and the figures beside it.
void dumpAndTellMemory(const QString &tag)
{
    if (qEnvironmentVariable("PELORIN_BENCH_MEMORY_DUMP").isEmpty())
        return;
    dumpMemory(tag);
    std::fprintf(stderr, "%s: resident %.1f MB, malloc in use %.1f MB\n", qPrintable(tag), residentMb(), heapInUseMb());
}

QString linesOf(int chars)
{
    const QString line = QStringLiteral("the quick brown fox jumps over the lazy dog while the typist keeps pasting.\n");
    QString text;
    text.reserve(chars + line.size());
    while (text.size() < chars)
        text += line;
    text.truncate(chars);
    return text;
}

const char kOurs[] = R"(
import QtQuick
import Velmor
Item {
    width: 600; height: 400
    ChatComposer { objectName: "field"; width: 600; anchors.bottom: parent.bottom; conversation: "peer" }
}
)";

const char kBare[] = R"(
import QtQuick
import QtQuick.Controls.Basic
Item {
    width: 600; height: 400
    TextArea { objectName: "field"; width: 600; height: 230; anchors.bottom: parent.bottom; wrapMode: TextEdit.Wrap }
}
)";

const char kBareString[] = R"(
import QtQuick
import QtQuick.Controls.Basic
Item {
    id: bare
    width: 600; height: 400
    property string held
    TextArea {
        objectName: "field"; width: 600; height: 230; anchors.bottom: parent.bottom; wrapMode: TextEdit.Wrap
        Keys.onPressed: (event) => {
            if (event.key === Qt.Key_V && (event.modifiers & Qt.ControlModifier)) {
                bare.held = App.clipboardText()
                event.accepted = true
            }
        }
    }
    Text { width: 500; elide: Text.ElideRight; maximumLineCount: 1; text: bare.held.substring(0, 200) }
    Button { objectName: "longTextRemove"; x: 520; visible: bare.held !== ""; text: "x"; onClicked: bare.held = "" }
}
)";

enum class Kind { Ours, BareArea, BareString };

// A child prints: growth after the paste, after the removal, after a key
// typed then (MB), the paste's time to its frame, the typing's (ms).
constexpr int kFigures = 5;

struct Child
{
    QQmlEngine engine;
    QQuickWindow window;
    QQuickItem *root = nullptr;
    QQuickItem *editor = nullptr;

    bool load(Kind kind)
    {
        const bool ours = kind == Kind::Ours;
        engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        QString error;
        if (velmor::qmltest::installMockControllers(&engine, QStringLiteral(VELMOR_QML_MOCK_DIR), &error).isEmpty()) {
            std::fprintf(stderr, "mocks: %s\n", qPrintable(error));
            return false;
        }
        QQmlComponent component(&engine);
        component.setData(ours ? kOurs : kind == Kind::BareArea ? kBare : kBareString, QUrl(QStringLiteral("qrc:/qt/qml/Velmor/qml/PasteBench.qml")));
        root = qobject_cast<QQuickItem *>(component.create());
        if (!root) {
            std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
            return false;
        }
        window.resize(600, 400);
        root->setParentItem(window.contentItem());
        window.show();
        QQuickItem *field = root->findChild<QQuickItem *>(QStringLiteral("field"));
        editor = ours ? field->findChild<QQuickItem *>(QStringLiteral("editor")) : field;
        editor->forceActiveFocus();
        settle();
        return true;
    }

    // How many characters the field holds now: the text area's, or the long
    // draft's or the bare string's when one is held.
    int heldLength() const
    {
        QObject *draft = root->findChild<QObject *>(QStringLiteral("longTextDraft"));
        if (draft && draft->property("visible").toBool())
            return draft->property("text").toString().size();
        if (root->property("held").isValid())
            return root->property("held").toString().size();
        return editor->property("length").toInt();
    }

    // Frames with the events between them until two frames in a row are quick.
    void settle()
    {
        for (int quick = 0, i = 0; quick < 2 && i < 200; ++i) {
            QElapsedTimer t;
            t.start();
            QCoreApplication::processEvents();
            window.grabWindow();
            quick = t.elapsed() < 5 ? quick + 1 : 0;
        }
    }
    // The mock App hands what the clipboard holds to the next paste, read as
    // the real one reads it; `text` empty forgets it.
    void offerClipboard(bool offer)
    {
        QObject *app = engine.rootContext()->contextProperty(QStringLiteral("App")).value<QObject *>();
        QVariantMap returns;
        if (offer)
            returns.insert(QStringLiteral("clipboardText"), QGuiApplication::clipboard()->text());
        app->setProperty("returns", returns);
    }
    double keyToFrame(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QElapsedTimer t;
        t.start();
        QTest::keyClick(&window, Qt::Key(key), modifiers);
        QCoreApplication::processEvents();
        window.grabWindow();
        return t.nsecsElapsed() / 1e6;
    }
};

bool offeredByParent()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

int runChild(Kind kind, const QString &name, int chars)
{
    if (!offeredByParent())
        QGuiApplication::clipboard()->setText(chars > 0 ? linesOf(chars) : linesOf(19990));
    Child c;
    if (!c.load(kind))
        return 1;
    const QString tag = name + QLatin1Char('-') + QString::number(chars) + QLatin1Char('-');
    const double before = residentMb();
    dumpAndTellMemory(tag + QStringLiteral("before"));
    QElapsedTimer paste;
    paste.start();
    // The bare text area reads the clipboard itself.
    const bool offer = kind != Kind::BareArea;
    if (offer)
        c.offerClipboard(true);
    c.keyToFrame(Qt::Key_V, Qt::ControlModifier);
    const double pasteMs = paste.nsecsElapsed() / 1e6;
    if (offer)
        c.offerClipboard(false);
    c.settle();
    const double pasted = residentMb() - before;
    dumpAndTellMemory(tag + QStringLiteral("pasted"));
    // A paste that did not land is told, not measured.
    const int expected = chars > 0 ? chars : 19990;
    if (c.heldLength() != expected) {
        std::fprintf(stderr, "%s: %d characters held after pasting %d\n", qPrintable(tag), c.heldLength(), expected);
        return 1;
    }
    double typingMs = 0;
    if (chars == 0) {
        // Typing at the end of a full text area.
        std::vector<double> keys;
        for (int i = 0; i < 30; ++i)
            keys.push_back(c.keyToFrame(Qt::Key_A + i % 26));
        std::sort(keys.begin(), keys.end());
        typingMs = keys[keys.size() / 2];
    }
    c.keyToFrame(Qt::Key_A, Qt::ControlModifier);
    c.keyToFrame(Qt::Key_Delete);
    QObject *remove = c.root->findChild<QObject *>(QStringLiteral("longTextRemove"));
    if (remove && remove->property("visible").toBool())
        QMetaObject::invokeMethod(remove, "clicked"); // a held long text goes with its own button
    c.settle();
    const double deleted = residentMb() - before;
    dumpAndTellMemory(tag + QStringLiteral("removed"));
    // A key typed after that: the composer forgets the text it kept for an
    // undo of the removal.
    c.keyToFrame(Qt::Key_Q);
    c.settle();
    const double typed = residentMb() - before;
    dumpAndTellMemory(tag + QStringLiteral("typed"));
    std::printf("%.1f %.1f %.1f %.2f %.3f\n", pasted, deleted, typed, pasteMs, typingMs);
    // PELORIN_BENCH_END_AT_MEASURE=1: the child ends here, freeing nothing,
    // so that a heap profiler counts as not freed what the heap held then.
    if (qEnvironmentVariableIntValue("PELORIN_BENCH_END_AT_MEASURE") == 1) {
        std::fflush(stdout);
        ::_exit(0);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("PelorinBench"));
    QCoreApplication::setApplicationName(QStringLiteral("composer_paste_bench"));
    const QStringList args = app.arguments();
    if (args.size() == 3) {
        const QString kind = args.at(1);
        return runChild(kind == QLatin1String("ours")  ? Kind::Ours
                        : kind == QLatin1String("bare") ? Kind::BareArea
                                                        : Kind::BareString,
                        kind, args.at(2).toInt());
    }

    std::vector<int> sizes = { 0, 51200, 204800, 1048576, 2097152 }; // 0: typing after 19,990 characters
    if (!qEnvironmentVariableIsEmpty("PELORIN_PASTE_CHARS")) {
        sizes.clear();
        for (const QString &size : qEnvironmentVariable("PELORIN_PASTE_CHARS").split(QLatin1Char(',')))
            sizes.push_back(size.toInt());
    }
    const int runs = std::max(1, qEnvironmentVariableIntValue("PELORIN_PASTE_RUNS"));
    const char row[] = "%-10s | %7s %7s %7s %8s %7s | %7s %7s %7s %8s %7s | %7s %7s %7s\n";
    std::printf("%-10s | %-40s | %-40s | %-23s\n", "", "composer", "bare TextArea", "bare string");
    std::printf(row, "chars", "+MB", "+MB del", "+MB key", "paste ms", "key ms", "+MB", "+MB del", "+MB key",
                "paste ms", "key ms", "+MB", "+MB del", "+MB key");
    for (int chars : sizes) {
        if (offeredByParent())
            QGuiApplication::clipboard()->setText(chars > 0 ? linesOf(chars) : linesOf(19990));
        // The bare string only beside a paste the composer holds.
        QStringList kinds = { QStringLiteral("ours"), QStringLiteral("bare"),
                              chars > 100000 ? QStringLiteral("string") : QString() };
        const QStringList only = qEnvironmentVariable("PELORIN_PASTE_KINDS").split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (QString &kind : kinds) {
            if (!only.isEmpty() && !only.contains(kind))
                kind.clear();
        }
        std::vector<double> figures[3][kFigures];
        for (int run = 0; run < runs; ++run) {
            for (int k = 0; k < 3; ++k) {
                if (kinds[k].isEmpty())
                    continue;
                // The parent answers the child's reads of the clipboard while it waits.
                QProcess child;
                child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
                QEventLoop wait;
                QObject::connect(&child, &QProcess::finished, &wait, &QEventLoop::quit);
                QObject::connect(&child, &QProcess::errorOccurred, &wait, &QEventLoop::quit);
                QStringList command = qEnvironmentVariable("PELORIN_BENCH_CHILD_PREFIX").split(QLatin1Char(' '), Qt::SkipEmptyParts);
                command << args.at(0) << kinds[k] << QString::number(chars);
                child.start(command.takeFirst(), command);
                wait.exec();
                // The figures' line: numbers alone (a tool may print around it).
                for (const QString &line : QString::fromLatin1(child.readAllStandardOutput()).split(QLatin1Char('\n'))) {
                    const QStringList said = line.split(QLatin1Char(' '));
                    bool numbers = said.size() == kFigures;
                    for (int f = 0; numbers && f < kFigures; ++f)
                        said.at(f).toDouble(&numbers);
                    for (int f = 0; numbers && f < kFigures; ++f)
                        figures[k][f].push_back(said.at(f).toDouble());
                }
            }
        }
        // Median (of the middle two for an even count) or spread of one column.
        const auto column = [&](int k, int f, bool spread) -> QString {
            std::vector<double> v = figures[k][f];
            if (v.empty())
                return kinds[k].isEmpty() ? QStringLiteral("-") : QStringLiteral("?");
            std::sort(v.begin(), v.end());
            const double value = spread ? v.back() - v.front() : (v[(v.size() - 1) / 2] + v[v.size() / 2]) / 2;
            return QString::number(value, 'f', f < 3 ? 1 : f == 3 ? 2 : 3);
        };
        for (bool spread : { false, true }) {
            if (spread && runs == 1)
                break;
            const QString label = spread ? QStringLiteral("  spread") : chars == 0 ? QStringLiteral("19990+key")
                                                                                  : QString::number(chars);
            std::printf(row, qPrintable(label), qPrintable(column(0, 0, spread)), qPrintable(column(0, 1, spread)),
                        qPrintable(column(0, 2, spread)), qPrintable(column(0, 3, spread)),
                        qPrintable(column(0, 4, spread)), qPrintable(column(1, 0, spread)),
                        qPrintable(column(1, 1, spread)), qPrintable(column(1, 2, spread)),
                        qPrintable(column(1, 3, spread)), qPrintable(column(1, 4, spread)),
                        qPrintable(column(2, 0, spread)), qPrintable(column(2, 1, spread)),
                        qPrintable(column(2, 2, spread)));
        }
        std::fflush(stdout);
    }
    return 0;
}
