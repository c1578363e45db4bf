// composer_paste_bench: what a large paste costs the window, through the real
// chat composer beside a bare Qt Quick TextArea in the same run. Each case
// runs in a child process of its own (a heap grown by one case would hide the
// next one's growth): a text of lines of 77 characters is put on the
// clipboard, the field gets Ctrl+V, frames are drawn until they settle, then
// Ctrl+A and Delete, frames again. Printed per size: resident memory growth
// after the paste and after the delete, the paste's time to the frame that
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
//   (or QT_QPA_PLATFORM=offscreen; a child is run as: ... <ours|bare> <chars>)
#include "mock_controllers.h"

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

int runChild(Kind kind, int chars)
{
    if (!offeredByParent())
        QGuiApplication::clipboard()->setText(chars > 0 ? linesOf(chars) : linesOf(19990));
    Child c;
    if (!c.load(kind))
        return 1;
    const double before = residentMb();
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
    std::printf("%.1f %.1f %.2f %.3f\n", pasted, deleted, pasteMs, typingMs);
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
                        args.at(2).toInt());
    }

    std::printf("%-10s | %-34s | %-34s | %-17s\n", "", "composer", "bare TextArea", "bare string");
    std::printf("%-10s | %8s %8s %8s %7s | %8s %8s %8s %7s | %8s %8s\n", "chars", "+MB", "+MB del", "paste ms",
                "key ms", "+MB", "+MB del", "paste ms", "key ms", "+MB", "+MB del");
    // 0: typing at the end of a text of 19,990 characters.
    for (int chars : { 0, 51200, 204800, 1048576, 2097152 }) {
        if (offeredByParent())
            QGuiApplication::clipboard()->setText(chars > 0 ? linesOf(chars) : linesOf(19990));
        // The bare string only beside a paste the composer holds.
        const QStringList kinds = { QStringLiteral("ours"), QStringLiteral("bare"),
                                    chars > 100000 ? QStringLiteral("string") : QString() };
        QStringList figures[3];
        for (int k = 0; k < 3; ++k) {
            if (!kinds[k].isEmpty()) {
                // The parent answers the child's reads of the clipboard while it waits.
                QProcess child;
                child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
                QEventLoop wait;
                QObject::connect(&child, &QProcess::finished, &wait, &QEventLoop::quit);
                QObject::connect(&child, &QProcess::errorOccurred, &wait, &QEventLoop::quit);
                child.start(args.at(0), { kinds[k], QString::number(chars) });
                wait.exec();
                figures[k] = QString::fromLatin1(child.readAllStandardOutput()).trimmed().split(' ');
            }
            while (figures[k].size() < 4)
                figures[k].append(kinds[k].isEmpty() ? QStringLiteral("-") : QStringLiteral("?"));
        }
        std::printf("%-10s | %8s %8s %8s %7s | %8s %8s %8s %7s | %8s %8s\n",
                    chars == 0 ? "19990+key" : qPrintable(QString::number(chars)), qPrintable(figures[0][0]),
                    qPrintable(figures[0][1]), qPrintable(figures[0][2]), qPrintable(figures[0][3]),
                    qPrintable(figures[1][0]), qPrintable(figures[1][1]), qPrintable(figures[1][2]),
                    qPrintable(figures[1][3]), qPrintable(figures[2][0]), qPrintable(figures[2][1]));
        std::fflush(stdout);
    }
    return 0;
}
