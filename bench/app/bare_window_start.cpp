// The bare baseline of app_start_bench: a program of its own that links
// only Qt Quick and shows a window of the login window's size (920 x 560)
// with the login view's logo as that view shows it: frame 0 of the same
// 7 x 7 sheet (logo_sheet_170.png, 1190 pixels square, decoded whole as the
// window is built), cut to 170 x 170 points. It prints "frame" at its first
// frame. Its start is what any Qt Quick program pays; the rest of Pelorin's
// is its own.
//
// Given a number of rows ("bare_window_start 2000"), the window is the home
// view's size (1112 x 816) and shows, beside the logo, a list of that many
// conversation rows (a round avatar, a name, a line of text) in a sidebar's
// place; "frame" is then printed at the first frame that shows rows.
#include "window_probe.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>

#include <atomic>
#include <cstdio>

int main(int argc, char **argv)
{
    static const int64_t start = velmor::bench::monotonicNanos();
    QGuiApplication app(argc, argv);
    // The window thread's longest wait until the frame.
    static velmor::bench::StallProbe *probe = new velmor::bench::StallProbe;
    probe->startWatching();
    velmor::bench::cpuSoFar(); // from the GUI thread first
    QQmlApplicationEngine engine;
    const int rows = argc > 1 ? QByteArray(argv[1]).toInt() : 0;
    if (rows > 0) {
        engine.loadData(QByteArrayLiteral(R"(
import QtQuick
Window {
    width: 1112; height: 816; visible: true; color: "#5f608b"
    property var rows: []
    Item {
        x: 40; y: 40; width: 78; height: 78; clip: true
        Image { width: 546; height: 546; source: "file://)" VELMOR_BARE_LOGO R"(" }
    }
    ListView {
        objectName: "rows"
        x: 24; y: 140; width: 276; height: 650
        clip: true
        model: rows
        delegate: Item {
            required property var modelData
            width: ListView.view.width; height: 64
            Rectangle { x: 10; y: 8; width: 48; height: 48; radius: 24; color: "#8a8fb8" }
            Text { x: 68; y: 12; text: modelData.name; color: "white"; font.pixelSize: 14 }
            Text { x: 68; y: 34; width: 190; elide: Text.ElideRight; text: modelData.last; color: "#ccffffff"; font.pixelSize: 12 }
        }
    }
}
)"));
    } else {
        engine.loadData(QByteArrayLiteral(R"(
import QtQuick
Window {
    width: 920; height: 560; visible: true; color: "#5f608b"
    Item {
        x: 155; y: 120; width: 170; height: 170; clip: true
        Image { width: 1190; height: 1190; source: "file://)" VELMOR_BARE_LOGO R"(" }
    }
}
)"));
    }
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    if (!window)
        return 2;
    if (rows > 0) {
        // The rows a store read would give, made in the program itself.
        QVariantList list;
        for (int i = 0; i < rows; ++i)
            list.append(QVariantMap{{QStringLiteral("name"), QStringLiteral("peer %1").arg(i)},
                                    {QStringLiteral("last"), QStringLiteral("message 2 of conversation %1").arg(i)}});
        window->setProperty("rows", list);
    }
    // As the program's start bench reports its phases.
    std::printf("phase loaded %.1f\n", double(velmor::bench::monotonicNanos() - start) / 1e6);
    std::fflush(stdout);
    // Printed as the frame is swapped, on the render thread, as the program
    // measured beside it does; once: a second frame swapped before the
    // exit printed its figures again (which the bench added to the first's)
    // and deleted the probe twice.
    static std::atomic<bool> reported{false};
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window,
        [] {
            if (reported.exchange(true))
                return;
            probe->stopCountingAt(velmor::bench::monotonicNanos());
            std::printf("phase frame_swapped %.1f\n", double(velmor::bench::monotonicNanos() - start) / 1e6);
            const velmor::bench::CpuSoFar cpu = velmor::bench::cpuSoFar();
            std::printf("phase cpu %.1f\nphase gui_cpu %.1f\n", cpu.processMs, cpu.guiThreadMs);
            std::fputs("frame\n", stdout);
            std::fflush(stdout);
            QMetaObject::invokeMethod(qApp, [] {
                std::printf("stall %.1f\n", probe->worstMs());
                std::fflush(stdout);
                delete probe;
                QCoreApplication::exit(0);
            }, Qt::QueuedConnection);
        },
        Qt::DirectConnection);
    return app.exec();
}
