// pelorin-e2e-app: the real program (same start-up, window and controllers,
// same environment) with the automation hook that the end-to-end tests
// drive through standard input and output. Voice rooms use the scripted
// LiveKit backend, as there is no media server here. Test builds only.
#include "e2e_hook.h"

#include "app/app_controller.h"
#include "app/application.h"
#include "voice/livekit/scripted_backend.h"

#include <QElapsedTimer>
#include <QtQml/qqmlextensionplugin.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(VelmorPlugin)

int main(int argc, char **argv)
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    // Before any controller exists: the voice-room controller takes the
    // backend when it is made.
    const auto backend = std::make_shared<livekit::ScriptedBackend>();
    livekit::setBackend(backend);

    std::unique_ptr<velmor::e2e::E2eHook> hook;
    velmor::app::StartOptions options;
    options.afterLoad = [&hook, &sinceStart, backend](QQmlApplicationEngine &engine, AppController &app) {
        hook = std::make_unique<velmor::e2e::E2eHook>(engine, app, sinceStart);
        // A media server names the user in the room by the identity its
        // token carries, the user's public key; the scripted room does the
        // same with the signed-in identity.
        const auto nameInRoom = [backend, &app] { backend->setLocalIdentity(app.myPublicKey().toStdString()); };
        nameInRoom();
        QObject::connect(&app, &AppController::identityChanged, &app, nameInRoom);
    };
    const int code = velmor::app::runApplication(argc, argv, options);
    hook.reset();
    return code;
}
