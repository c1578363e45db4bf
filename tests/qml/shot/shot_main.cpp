// qml_shot: renders one view of the Velmor module with the mock controllers in
// a given state and saves it as PNG. See --help (and tests/qml/README.md).
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>
#include <cstdio>

#include "mock_controllers.h"

Q_IMPORT_QML_PLUGIN(VelmorPlugin)

namespace {

const char kHelp[] = R"(Renders one view with the mock controllers in a given state and saves a PNG.
Run it under a real X server, since the offscreen platform skips shader effects:

  xvfb-run -a -s '-screen 0 1920x1080x24' build/tests/qml/qml_shot \
      --view qrc:/qt/qml/Velmor/qml/LoginView.qml --size 920x560 \
      --state '{"App": {"busy": true, "statusText": "正在连接节点…"}}' --out busy.png

The view is a qrc URL or a file path. A Window is shot as it is; an Item is put
in a window of --size (else its implicit size) over --background.
--state is a JSON object (inline, or the path of a .json file) with the keys:
  "App", "Chat", "Voice", "VoiceRoom"  properties set on that mock before the
                 view is created ("returns": {...} gives invokable results)
  "view"         properties set on the view's root object after creation
  "emit"         signals emitted after that, e.g. ["Chat.currentChanged"]
  "eval"         JavaScript (a string or a list) run in the view's document
                 after the signals, so its ids are in reach: "keyField.text = 'x'"
Repeating timers and animated images are stopped as soon as the view exists;
after --settle milliseconds every timer and animation left is stopped (jumped
to its end) and the window is grabbed.
)";

bool setProperties(QObject *target, const QJsonObject &values, const QString &label)
{
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (target->metaObject()->indexOfProperty(it.key().toUtf8().constData()) < 0) {
            std::fprintf(stderr, "qml_shot: %s has no property %s\n", qPrintable(label),
                         qPrintable(it.key()));
            return false;
        }
        target->setProperty(it.key().toUtf8().constData(), it.value().toVariant());
    }
    return true;
}

// Every object under the window and the view, each once.
QList<QObject *> objectTree(QQuickWindow *window, QObject *view)
{
    QSet<QObject *> seen;
    QList<QObject *> all;
    for (QObject *root : { static_cast<QObject *>(window), view }) {
        const QList<QObject *> children = root->findChildren<QObject *>();
        for (QObject *o : children)
            if (!seen.contains(o)) {
                seen.insert(o);
                all.append(o);
            }
    }
    return all;
}

// Repeating timers drive frame animations; animated images play by
// themselves. Stopping both keeps the picture the same from run to run.
void stopLoops(const QList<QObject *> &objects)
{
    for (QObject *o : objects) {
        const QByteArray cls = o->metaObject()->className();
        if (cls == "QQmlTimer" && o->property("repeat").toBool())
            o->setProperty("running", false);
        else if (o->inherits("QQuickAnimatedImage"))
            o->setProperty("playing", false);
    }
}

void stopEverything(const QList<QObject *> &objects)
{
    stopLoops(objects);
    for (QObject *o : objects) {
        if (qstrcmp(o->metaObject()->className(), "QQmlTimer") == 0)
            o->setProperty("running", false);
        else if (o->inherits("QQuickAbstractAnimation") && o->property("running").toBool())
            QMetaObject::invokeMethod(o, "complete");
    }
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("QuilletShots"));
    QCoreApplication::setApplicationName(QStringLiteral("PelorinShots"));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kHelp));
    parser.addHelpOption();
    const QCommandLineOption viewOpt(QStringLiteral("view"), QStringLiteral("View to load."), QStringLiteral("url"));
    const QCommandLineOption outOpt(QStringLiteral("out"), QStringLiteral("PNG to write."), QStringLiteral("file"));
    const QCommandLineOption stateOpt(QStringLiteral("state"), QStringLiteral("State (JSON or .json file)."), QStringLiteral("json"));
    const QCommandLineOption sizeOpt(QStringLiteral("size"), QStringLiteral("Window size, WxH."), QStringLiteral("size"));
    const QCommandLineOption bgOpt(QStringLiteral("background"), QStringLiteral("Colour behind an Item view (default white)."), QStringLiteral("colour"), QStringLiteral("white"));
    const QCommandLineOption darkOpt(QStringLiteral("dark"), QStringLiteral("Dark theme tokens."));
    const QCommandLineOption localeOpt(QStringLiteral("locale"), QStringLiteral("Interface language (en, zh-Hans, ...)."), QStringLiteral("code"));
    const QCommandLineOption settleOpt(QStringLiteral("settle"), QStringLiteral("Milliseconds before the grab (default 600)."), QStringLiteral("ms"), QStringLiteral("600"));
    parser.addOptions({ viewOpt, outOpt, stateOpt, sizeOpt, bgOpt, darkOpt, localeOpt, settleOpt });
    parser.process(app);
    if (!parser.isSet(viewOpt) || !parser.isSet(outOpt)) {
        std::fprintf(stderr, "qml_shot: --view and --out are required (see --help)\n");
        return 2;
    }

    QJsonObject state;
    if (parser.isSet(stateOpt)) {
        QByteArray text = parser.value(stateOpt).toUtf8();
        if (!text.trimmed().startsWith('{')) {
            QFile file(parser.value(stateOpt));
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "qml_shot: cannot read %s\n", text.constData());
                return 2;
            }
            text = file.readAll();
        }
        QJsonParseError parseError;
        const QJsonDocument doc = QJsonDocument::fromJson(text, &parseError);
        if (!doc.isObject()) {
            std::fprintf(stderr, "qml_shot: state is not a JSON object: %s\n",
                         qPrintable(parseError.errorString()));
            return 2;
        }
        state = doc.object();
    }
    QSize size;
    if (parser.isSet(sizeOpt)) {
        const QStringList wh = parser.value(sizeOpt).split(QLatin1Char('x'));
        if (wh.size() == 2)
            size = QSize(wh[0].toInt(), wh[1].toInt());
        if (size.isEmpty()) {
            std::fprintf(stderr, "qml_shot: --size wants WxH\n");
            return 2;
        }
    }

    QQmlEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    QObject::connect(&engine, &QQmlEngine::quit, &app, &QCoreApplication::quit);
    QString error;
    const QHash<QString, QObject *> mocks = velmor::qmltest::installMockControllers(
        &engine, QStringLiteral(VELMOR_QML_MOCK_DIR), &error);
    if (mocks.isEmpty()) {
        std::fprintf(stderr, "qml_shot: %s\n", qPrintable(error));
        return 1;
    }
    for (auto it = mocks.begin(); it != mocks.end(); ++it)
        if (!setProperties(it.value(), state.value(it.key()).toObject(), it.key()))
            return 2;
    const QUrl viewUrl = QUrl::fromUserInput(parser.value(viewOpt), QDir::currentPath(),
                                             QUrl::AssumeLocalFile);
    QQmlComponent component(&engine, viewUrl);
    QObject *view = component.create();
    if (!view) {
        std::fprintf(stderr, "qml_shot: %s\n", qPrintable(component.errorString()));
        return 1;
    }
    // The module's singletons as the view sees them (a composite singleton
    // has no type id to look it up by before a document imports it).
    if (parser.isSet(darkOpt))
        QQmlExpression(qmlContext(view), view, QStringLiteral("Theme.dark = true")).evaluate();
    if (parser.isSet(localeOpt))
        QQmlExpression(qmlContext(view), view, QStringLiteral("I18n.setLocale(\"%1\")")
                       .arg(parser.value(localeOpt))).evaluate();
    QQuickWindow *window = qobject_cast<QQuickWindow *>(view);
    if (!window) {
        auto *item = qobject_cast<QQuickItem *>(view);
        if (!item) {
            std::fprintf(stderr, "qml_shot: the view is neither a Window nor an Item\n");
            return 1;
        }
        QQmlComponent host(&engine);
        host.setData(QByteArrayLiteral("import QtQuick\nWindow { visible: true }"), QUrl());
        window = qobject_cast<QQuickWindow *>(host.create());
        if (!window) {
            std::fprintf(stderr, "qml_shot: %s\n", qPrintable(host.errorString()));
            return 1;
        }
        window->setColor(QColor(parser.value(bgOpt)));
        if (size.isEmpty())
            size = QSize(qRound(item->implicitWidth()), qRound(item->implicitHeight()));
        if (size.isEmpty())
            size = QSize(800, 600);
        item->setParentItem(window->contentItem());
        item->setSize(size);
    }
    if (!size.isEmpty()) {
        // A Window view may bind its limits to its size: lift them first.
        window->setMinimumSize(QSize(0, 0));
        window->setMaximumSize(QSize(16777215, 16777215));
        window->resize(size);
    }
    window->show();

    if (!setProperties(view, state.value(QStringLiteral("view")).toObject(), QStringLiteral("view")))
        return 2;
    for (const QJsonValue signal : state.value(QStringLiteral("emit")).toArray()) {
        const QStringList parts = signal.toString().split(QLatin1Char('.'));
        QObject *target = parts.size() == 2 ? mocks.value(parts[0]) : nullptr;
        if (!target || !QMetaObject::invokeMethod(target, parts[1].toUtf8().constData())) {
            std::fprintf(stderr, "qml_shot: cannot emit %s\n", qPrintable(signal.toString()));
            return 2;
        }
    }
    const QJsonValue evalValue = state.value(QStringLiteral("eval"));
    const QJsonArray scripts = evalValue.isArray() ? evalValue.toArray() : QJsonArray{ evalValue };
    for (const QJsonValue script : scripts) {
        if (script.toString().isEmpty())
            continue;
        QQmlExpression expression(qmlContext(view), view, script.toString());
        expression.evaluate();
        if (expression.hasError()) {
            std::fprintf(stderr, "qml_shot: %s\n", qPrintable(expression.error().toString()));
            return 2;
        }
    }
    stopLoops(objectTree(window, view));

    int status = 0;
    const QString outPath = parser.value(outOpt);
    QTimer::singleShot(parser.value(settleOpt).toInt(), window, [&] {
        stopEverything(objectTree(window, view));
        // Two frames after the last change, so what is grabbed is settled.
        QTimer::singleShot(100, window, [&] {
            const QImage image = window->grabWindow();
            if (image.isNull() || !image.save(outPath)) {
                std::fprintf(stderr, "qml_shot: cannot save %s\n", qPrintable(outPath));
                status = 1;
            }
            app.exit(status);
        });
    });
    return app.exec();
}
