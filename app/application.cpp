#include "app/application.h"

#include "app/app_controller.h"
#include "app/conversation_images.h"
#include "app/desktop_notifier.h"
#include "app/display_loss.h"
#include "app/graphics_driver.h"
#include "app/heap_release.h"
#include "app/message_picture_provider.h"
#include "app/network_access.h"
#include "app/service_endpoints.h"
#include "app/sliced_incubation.h"
#include "chat/chat_controller.h"
#include "chat/send_journal.h"
#include "identity/crypto.h"
#include "models/qml_types.h"
#include "net/http.h"
#include "qml/Velmor/src/card_shadows.h"
#include "qml/Velmor/src/emoji_images.h"
#include "qml/Velmor/src/round_pictures.h"
#include "qml/Velmor/src/sheet_pictures.h"
#include "store/chat_store.h"
#include "store/private_media.h"
#include "voice/voice_io.h"
#include "voice/voice_room_controller.h"

#include <QApplication>
#include <QFontDatabase>
#include <QImageReader>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QScopeGuard>
#include <QSslConfiguration>
#include <QThreadPool>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <utility>

#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace velmor::app {

namespace {

// Runs `job` once the window has drawn its first frame, or at once when the
// window is not a Qt Quick window. The job is posted from the frame's own
// notice, so whatever else answers that frame comes first. A window that
// draws nothing for a few seconds (never shown) gets it then.
void afterFirstFrame(QQmlApplicationEngine &engine, std::function<void()> job)
{
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    if (!window) {
        job();
        return;
    }
    auto pending = std::make_shared<std::function<void()>>(std::move(job));
    const auto runOnce = [pending] {
        if (const auto run = std::exchange(*pending, nullptr))
            run();
    };
    QObject::connect(
        window, &QQuickWindow::frameSwapped, window, [runOnce] { QTimer::singleShot(0, runOnce); },
        Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
    QTimer::singleShot(3000, window, runOnce);
}

// The heap's settings, made before any thread allocates. glibc gives each
// thread that allocates an arena of its own (up to eight per core), and an
// arena keeps what its thread freed: the pool's sixteen workers, the render
// threads and the software rasteriser's each held on to what their busiest
// moment needed. A few shared arenas serve them as well. (A fixed threshold
// for giving big blocks their own mappings saved no more, and the faults of
// mapping them afresh doubled the sign-in's longest stall.)
void boundHeap()
{
#ifdef __GLIBC__
    constexpr int kArenas = 4;
    mallopt(M_ARENA_MAX, kArenas);
#endif
}

// Qt Quick sizes the texture atlas that small pictures share after the
// window: 1024 x 1024 (4 MB) for the home view, which shows a few dozen
// icons and avatars. A quarter of that holds them; a picture that finds no
// room gets a texture of its own, as large ones do anyway. A size set in
// the environment is kept.
void sizePictureAtlas()
{
    const QByteArray side = QByteArrayLiteral("512");
    for (const char *name : {"QSG_ATLAS_WIDTH", "QSG_ATLAS_HEIGHT"}) {
        if (!qEnvironmentVariableIsSet(name))
            qputenv(name, side);
    }
}

// Work on the pool still running at exit may wait on the network, on
// another program's lock or on a full disk: the program waits this long for
// it, then once more this long after the store is closed, and then ends
// without it.
constexpr int kExitWorkWaitMs = 900;
constexpr int kExitJournalWaitMs = 300;
constexpr int kExitAfterCloseWaitMs = 600;

// Once the window and controllers are gone. Requests in flight are aborted
// (a send they carried is posted again at the next start), work that ends
// soon is waited for, and the store is closed while Qt is whole: statements
// waiting for a lock give up then, and the store's recovery job ends with
// it. A job still running after that is not waited for: the process ends
// without it (every send that was shown is in the store or the send
// journal, both written by then).
void endPoolWork(int exitCode)
{
    QThreadPool *pool = QThreadPool::globalInstance();
    velmor::net::abortRequests();
    pool->waitForDone(kExitWorkWaitMs);
    // The journal's own thread is not the pool's: a typed text's record
    // still being written there (its composer shows it waiting) would be cut
    // off by the exit, and the text lost.
    if (!velmor::chat::SendJournal::finishQueued(kExitJournalWaitMs))
        qWarning("exit: the send journal's writes did not end");
    ChatStore::instance().close();
    if (pool->waitForDone(kExitAfterCloseWaitMs))
        return;
    qWarning("exit: work on the pool did not end; the program ends without it");
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(exitCode);
}

// The engine sets itself up at its first load (the quit and exit signals
// tied to the application, Qt's translations) and gives itself a file
// selector then: every URL it resolves from then on passes through it,
// asking the resources and the disk whether a folder of variants
// ("+platform/...") stands beside the file. This program has none, and the
// look-ups cost the home view's build a millisecond or more. The set-up is
// done here by a load of nothing much, and the selector taken out before
// the window's load: the window starts compiles on the engine's loading
// thread, which reads the list of URL interceptors as it resolves each
// import and file, so the list must not change once the window is loading.
void setUpWithoutFileSelector(QQmlApplicationEngine &engine)
{
    engine.loadData(QByteArrayLiteral("import QtQuick\nQtObject {}\n"));
    qDeleteAll(engine.rootObjects());
    for (QQmlAbstractUrlInterceptor *selector : engine.urlInterceptors())
        engine.removeUrlInterceptor(selector);
}

// Libraries the home view's first build loaded on the window's thread,
// between the sign-in and the frame that shows the sidebar's rows: the TLS
// backends (the push channel's socket asks for the default TLS configuration
// as it is made, which loads every TLS backend plugin and sets OpenSSL's
// up, about 7 ms) and the image format plugins (Qt Quick's first picture
// read from a file lists the formats, which loads every image format
// plugin, 4-6 ms). Loaded on the pool while the window is made instead;
// both loads take locks of their own, so the window's thread finds them
// done or waits for the one under way as before.
void prepareHomeViewLibraries()
{
    QThreadPool::globalInstance()->start([] {
        QSslConfiguration::defaultConfiguration();
        QImageReader::supportedImageFormats();
    });
}

} // namespace

QUrl mainWindowUrl()
{
    return QUrl(QStringLiteral("qrc:/qt/qml/Velmor/qml/Main.qml"));
}

void connectControllers(AppController &app, ChatController &chat, VoiceIO &voice,
                        VoiceRoomController &voiceRoom)
{
    QObject::connect(&chat, &ChatController::superGroupEvent, &voiceRoom,
                     &VoiceRoomController::handleSuperGroupEvent);
    QObject::connect(&chat, &ChatController::lifecycleRestored, &voiceRoom, &VoiceRoomController::refreshStatus);
    // The session, and with it the read of the stored conversations, starts
    // with the sign-in, before the window builds the home view (which then
    // finds it running).
    QObject::connect(&app, &AppController::signedIn, &chat, &ChatController::start);
    // Log-out ends the room and the playback before the session they belong
    // to is cleared (the signal comes first in AppController::logout).
    QObject::connect(&app, &AppController::loggingOut, &voiceRoom, &VoiceRoomController::leaveRoom);
    QObject::connect(&app, &AppController::loggingOut, &voice, &VoiceIO::stopPlayback);
    // Then the chat session ends while its identity and store are still
    // there: the sends it accepted are written or journaled under their
    // owner, its open conversation and lists go. Whatever signs out (the
    // settings pane stops the chat itself first), no send of the ended
    // session is left to the next one.
    QObject::connect(&app, &AppController::loggingOut, &chat, [&chat] {
        if (chat.isStarted())
            chat.stop();
    });
    // A damaged store opened again is a new file: the lists show what it holds.
    QObject::connect(&app, &AppController::storeReopened, &chat, [&chat] {
        chat.reloadConversations();
        chat.reloadContacts();
        chat.reloadMessages();
    });
}

int runApplication(int &argc, char **argv, const StartOptions &options)
{
    boundHeap();
    // The environment is written here, before any thread runs: a variable
    // added later moves the environment's table while the pool's jobs read
    // it (fontconfig's and OpenSSL's set-up do), and a read of the freed
    // table crashed the start now and then.
    sizePictureAtlas();
    // The controls' style, named rather than set through QQuickStyle: the
    // controls library then loads with the first view that uses a control,
    // not with the program.
    qputenv("QT_QUICK_CONTROLS_STYLE", "Basic");
    skipThreadingQuestionWithoutGraphicsDevice();
    velmor::voice::pinMediaBackend();
    // The cryptography's set-up (a few milliseconds) is done beside the
    // application's, not by the saved identity's read, which comes next.
    QThreadPool::globalInstance()->start(&velmor::crypto::prepare);
    QApplication application(argc, argv);
    // The system's font list (fontconfig's every face, about 10 ms) is read
    // by the first text the window lays out, on its thread: read here on the
    // pool instead, while the window is made. The list is shared and its
    // reads take a lock, so a text that comes first waits for it as before.
    QThreadPool::globalInstance()->start([] { QFontDatabase::families(); });
    prepareGraphicsDriver();
    // The display going away ends the event loop (kDisplayLostExitCode) and
    // the program goes the way of a quit from here on.
    watchDisplayLoss();
    if (options.afterApplication)
        options.afterApplication();
    int exitCode = 0;
    const auto closeStoreLast = qScopeGuard([&exitCode] {
        endPoolWork(exitCode);
        if (displayLost())
            endWithoutDisplay(exitCode);
    });
    QCoreApplication::setApplicationName(QStringLiteral("Pelorin"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quillet"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("quillet.com"));
    applyServiceEndpoints(serviceEndpoints());
    // Pictures and recordings an earlier run left unsent: gone before this
    // run makes any, off the window's thread.
    QThreadPool::globalInstance()->start(
        [startedAt = QDateTime::currentDateTime()] { velmor::store::removeMediaLeftovers(startedAt); });

    AppController app;
    ChatController chat;
    VoiceIO voice;
    VoiceRoomController voiceRoom;
    // With a saved identity, the relay and the store are asked now, while
    // the window is made, and the stored conversations are read on the same
    // worker once signed in: the window's automatic sign-in takes the job
    // up, and its first frame can show them.
    if (app.prepareAutoLogin(chat.readConversationsAheadWork()))
        prepareHomeViewLibraries();
    // The tray icon asks the session bus and the X server whether there is
    // a tray: that waits for the window's first frame (made below).
    std::unique_ptr<DesktopNotifier> notifier;
    velmor::models::registerQmlTypes();
    // Outlives the engine; set before the window is made, which would
    // install Qt Quick's own.
    SlicedIncubation incubation;
    auto ownEngine = std::make_unique<QQmlApplicationEngine>();
    QQmlApplicationEngine &engine = *ownEngine;
    engine.setIncubationController(&incubation);
    installNetworkAccess(engine);
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    velmor::views::installEmojiImages(&engine);
    velmor::views::installRoundPictures(&engine);
    velmor::views::installSheetPictures(&engine);
    velmor::views::installCardShadows(&engine);
    engine.addImageProvider(QStringLiteral("chatimage"), new ConversationImageProvider);
    installMessagePictures(engine);

    QQmlContext *context = engine.rootContext();
    context->setContextProperty(QStringLiteral("App"), &app);
    context->setContextProperty(QStringLiteral("Chat"), &chat);
    context->setContextProperty(QStringLiteral("Voice"), &voice);
    context->setContextProperty(QStringLiteral("VoiceRoom"), &voiceRoom);

    connectControllers(app, chat, voice, voiceRoom);

    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &application,
        [] { QCoreApplication::exit(-1); }, Qt::QueuedConnection);
    setUpWithoutFileSelector(engine);
    engine.load(options.window);
    afterFirstFrame(engine,
                    [&notifier, &chat, &engine] { notifier = std::make_unique<DesktopNotifier>(&chat, &engine); });
    if (auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0)))
        new HeapRelease(window, [] {
            // The store's page caches first: their pages join the heap's free ones.
            QThreadPool::globalInstance()->start([] {
                ChatStore::instance().releaseCaches();
                HeapRelease::trimHeap();
            });
        });
    if (options.afterLoad)
        options.afterLoad(engine, app);
    exitCode = QApplication::exec();
    if (displayLost())
        dropViewsKeepWindows(std::move(ownEngine));
    return exitCode;
}

} // namespace velmor::app
