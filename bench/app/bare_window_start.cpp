// The bare baseline of app_start_bench: a program of its own that links
// only Qt Quick and shows a window of the login window's size with the
// logo, printing "frame" at its first frame. Its start is what any Qt Quick
// program pays; the rest of Pelorin's is its own.
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
    width: 1112; height: 816; visible: true; color: "#17212b"
    Image {
        anchors.centerIn: parent
        width: 156; height: 156; sourceSize.width: 156
        source: "file://)" VELMOR_BARE_LOGO R"("
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
