// Renders the gallery of shared controls in the light and the dark scheme
// and saves both as PNG. Run under a real X server (e.g. xvfb-run), since the
// offscreen platform does not draw shader effects:
//   xvfb-run -s '-screen 0 1280x800x24' qml_gallery light.png dark.png
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>
#include <cstdio>

Q_IMPORT_QML_PLUGIN(VelmorPlugin)

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("QuilletGallery"));
    QCoreApplication::setApplicationName(QStringLiteral("PelorinGallery"));
    if (argc < 3) {
        std::fprintf(stderr, "usage: qml_gallery <light.png> <dark.png>\n");
        return 2;
    }
    const QString lightPath = QString::fromLocal8Bit(argv[1]);
    const QString darkPath = QString::fromLocal8Bit(argv[2]);

    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    engine.load(QUrl::fromLocalFile(QStringLiteral(VELMOR_GALLERY_QML)));
    if (engine.rootObjects().isEmpty())
        return 1;
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
    if (!window)
        return 1;

    int status = 0;
    auto grab = [&](const QString &path) {
        const QImage img = window->grabWindow();
        if (img.isNull() || !img.save(path)) {
            std::fprintf(stderr, "qml_gallery: cannot save %s\n", qPrintable(path));
            status = 1;
        }
    };
    QMetaObject::invokeMethod(window, "setDark", Q_ARG(QVariant, false));
    QTimer::singleShot(900, window, [&] {
        grab(lightPath);
        QMetaObject::invokeMethod(window, "setDark", Q_ARG(QVariant, true));
        QTimer::singleShot(900, window, [&] {
            grab(darkPath);
            app.exit(status);
        });
    });
    return app.exec();
}
