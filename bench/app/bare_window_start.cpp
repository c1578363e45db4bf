// The bare baseline of app_start_bench: a program of its own that links
// only Qt Quick and shows a window of the login window's size (920 x 560)
// with the login view's logo as that view shows it: frame 0 of the same
// 7 x 7 sheet (logo_sheet_170.png, 1190 pixels square, decoded whole as the
// window is built), cut to 170 x 170 points. It prints "frame" at its first
// frame. Its start is what any Qt Quick program pays; the rest of Pelorin's
// is its own.
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTextStream>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QQmlApplicationEngine engine;
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
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    if (!window)
        return 2;
    QObject::connect(window, &QQuickWindow::frameSwapped, window, [] {
        QTextStream(stdout) << "frame" << Qt::endl;
        QCoreApplication::exit(0);
    });
    return app.exec();
}
