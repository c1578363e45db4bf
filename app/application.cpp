#include "app/application.h"

#include "app/app_controller.h"
#include "app/desktop_notifier.h"
#include "app/service_endpoints.h"
#include "chat/chat_controller.h"
#include "voice/voice_io.h"

#include <QApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>

namespace velmor::app {

QUrl mainWindowUrl()
{
    return QUrl(QStringLiteral("qrc:/qt/qml/Velmor/qml/Main.qml"));
}

int runApplication(int &argc, char **argv, const StartOptions &options)
{
    QApplication application(argc, argv);
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QCoreApplication::setApplicationName(QStringLiteral("Pelorin"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quillet"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("quillet.com"));
    applyServiceEndpoints(serviceEndpoints());

    AppController app;
    ChatController chat;
    VoiceIO voice;
    DesktopNotifier notifier(&chat);
    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));

    QQmlContext *context = engine.rootContext();
    context->setContextProperty(QStringLiteral("App"), &app);
    context->setContextProperty(QStringLiteral("Chat"), &chat);
    context->setContextProperty(QStringLiteral("Voice"), &voice);

    // Log-out ends what plays before the session it belongs to is cleared.
    QObject::connect(&app, &AppController::loggingOut, &voice, &VoiceIO::stopPlayback);

    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &application,
        [] { QCoreApplication::exit(-1); }, Qt::QueuedConnection);
    engine.load(options.window);
    if (options.afterLoad)
        options.afterLoad(engine, app);
    return QApplication::exec();
}

} // namespace velmor::app
