// The program's start-up, run in a child process as main() runs it: a window
// that cannot be created ends the program with -1 and shows nothing; a
// window that loads sees the four controllers and the event loop's code is
// the program's; the login window's first frame loads neither the controls
// module nor a network-information backend; a quit ends the program however long its pool's work would wait;
// the display going away ends it as a quit does, with a non-zero status.
#include "app/app_controller.h"
#include "app/application.h"
#include "net/http.h"
#include "store/chat_store.h"
#include "store/failing_vfs.h"
#include "support/fake_common.h"
#include "support/own_x_server.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QWindow>
#include <QtQml/qqmlextensionplugin.h>
#include <QtTest>

#include <atomic>
#include <csignal>

#include <dlfcn.h>
#include <unistd.h>

Q_IMPORT_QML_PLUGIN(VelmorPlugin)

// Which thread read the system's font list first (fontconfig's FcFontList,
// which Qt's font list calls once as it is filled): 0 none yet, 1 the
// window's, 2 another. Taken here on its way to fontconfig.
static std::atomic<int> firstFontListReader{0};

extern "C" void *FcFontList(void *config, void *pattern, void *objects)
{
    using Real = void *(*)(void *, void *, void *);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "FcFontList"));
    const bool windowThread = QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
    int none = 0;
    firstFontListReader.compare_exchange_strong(none, windowThread ? 1 : 2);
    return real(config, pattern, objects);
}

namespace {

// Which of the modules the login window can do without are loaded.
QString loadedModules()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    const QByteArray mapped = maps.open(QIODevice::ReadOnly) ? maps.readAll() : QByteArray();
    QStringList names;
    for (const char *module : {"qml/QtQuick/Controls/", "plugins/networkinformation/"})
        if (mapped.contains(module))
            names << QString::fromLatin1(module);
    return QLatin1Char('[') + names.join(QLatin1Char(' ')) + QLatin1Char(']');
}

// Child mode: "start <window url> [<property>]" runs the start-up with that
// window and prints how many windows exist once it is loaded. With a
// property, at the window's first frame it prints the modules above, sets
// that property of the login view ("-": none; "VoiceRoom.<name>": reads it
// of the voice room controller instead) and prints them again.
int runChild(int argc, char **argv)
{
    velmor::app::StartOptions options;
    options.window = QUrl(QString::fromLocal8Bit(argv[2]));
    const QByteArray property = argc > 3 ? argv[3] : "";
    // The window's thread goes on once the font list is being read, or after
    // a few seconds (then reading it itself at its first text).
    static char **environmentAtStart = nullptr;
    options.afterApplication = [] {
        environmentAtStart = environ;
        QElapsedTimer waited;
        waited.start();
        while (firstFontListReader.load() == 0 && waited.elapsed() < 5000)
            QThread::msleep(5);
    };
    options.afterLoad = [property](QQmlApplicationEngine &engine, AppController &) {
        QObject *voiceRoom = engine.rootContext()->contextProperty(QStringLiteral("VoiceRoom")).value<QObject *>();
        QTextStream(stdout) << "roots " << engine.rootObjects().size() << " windows "
                            << QGuiApplication::topLevelWindows().size() << Qt::endl;
        auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
        if (property.isEmpty() || !window)
            return;
        QObject::connect(
            window, &QQuickWindow::frameSwapped, window,
            [window, property, voiceRoom] {
                QTextStream out(stdout);
                out << "first frame " << loadedModules();
                if (property.startsWith("VoiceRoom."))
                    voiceRoom->property(property.mid(10));
                else if (property != "-")
                    window->findChild<QObject *>(QStringLiteral("viewLoader"))->property("item").value<QObject *>()
                        ->setProperty(property, true);
                out << " then " << loadedModules();
                out << (firstFontListReader.load() == 2 ? " fonts listed off the window's thread" : " fonts listed on it");
                // A variable added moves the table the threads read.
                out << (environ == environmentAtStart ? " environment kept" : " environment added to") << Qt::endl;
                QCoreApplication::exit(0);
            },
            Qt::SingleShotConnection);
    };
    int childArgc = 1;
    return velmor::app::runApplication(childArgc, argv, options);
}

// Child mode: "quit <window url> <store file> <state> <url>" runs the
// program with that window, opens the store, leaves work on the pool that
// `state` holds up and quits at once. "held": another connection holds the
// store's write lock and never lets go (a write was refused, so the store's
// recovery job runs); "full": every write finds the disk full (the same);
// "silent": a request to `url`, which never answers.
int runQuitChild(char **argv)
{
    const QString path = QString::fromLocal8Bit(argv[3]);
    const QByteArray state = argv[4];
    const QUrl silent(QString::fromLocal8Bit(argv[5]));
    if (state == "full")
        storetest::FailingWrites::install();
    velmor::app::StartOptions options;
    options.window = QUrl(QString::fromLocal8Bit(argv[2]));
    options.afterLoad = [path, state, silent](QQmlApplicationEngine &, AppController &) {
        ChatStore &store = ChatStore::instance();
        if (!store.open(QStringLiteral("quitting-owner"), path)) {
            QCoreApplication::exit(3);
            return;
        }
        sqlite3 *other = nullptr;
        if (state == "held"
            && (sqlite3_open(QFile::encodeName(path).constData(), &other) != SQLITE_OK
                || sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)) {
            QCoreApplication::exit(5);
            return;
        }
        storetest::FailingWrites::setFull(state == "full");
        velmor::chat::ContactRecord contact;
        contact.wallet_public_key = QStringLiteral("someone");
        if (state != "silent" && store.upsertContact(contact)) {
            QCoreApplication::exit(4);
            return;
        }
        // A worker's write waits for the lock, or finds no room.
        QThreadPool::globalInstance()->start([contact] { ChatStore::instance().upsertContact(contact); });
        if (state == "silent")
            QThreadPool::globalInstance()->start([silent] {
                velmor::net::HttpRequest request;
                request.url = silent;
                request.timeoutMs = 120000;
                velmor::net::runHttp(request);
            });
        QTimer::singleShot(0, [] {
            QTextStream(stdout) << "quitting" << Qt::endl;
            QCoreApplication::exit(0);
        });
    };
    int childArgc = 1;
    return velmor::app::runApplication(childArgc, argv, options);
}

// Child mode: "display <window url> [quit]" runs the program with that
// window on the X server that DISPLAY names, says "drawing" at the window's
// first frame (and quits half a second later with "quit"), and "controllers
// ended" when the quit path has ended the controllers.
int runDisplayChild(int argc, char **argv)
{
    velmor::app::StartOptions options;
    options.window = QUrl(QString::fromLocal8Bit(argv[2]));
    const bool quit = argc > 3 && qstrcmp(argv[3], "quit") == 0;
    options.afterLoad = [quit](QQmlApplicationEngine &engine, AppController &app) {
        QObject::connect(&app, &QObject::destroyed, [] { QTextStream(stdout) << "controllers ended" << Qt::endl; });
        auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
        if (!window) {
            QCoreApplication::exit(3);
            return;
        }
        QObject::connect(
            window, &QQuickWindow::frameSwapped, window,
            [quit] {
                QTextStream(stdout) << "drawing" << Qt::endl;
                if (quit)
                    QTimer::singleShot(500, [] { QCoreApplication::exit(0); });
            },
            Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
    };
    int childArgc = 1;
    return velmor::app::runApplication(childArgc, argv, options);
}

struct ChildResult
{
    int exitCode = -2;
    QString output;
};

ChildResult runStart(const QUrl &window, const QString &dataFolder, const QString &property = {})
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Nothing of the user's own: a profile of its own and no service.
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataFolder);
    env.insert(QStringLiteral("PELORIN_NODE_DIRECTORY_URL"), QStringLiteral("http://127.0.0.1:9"));
    // A sound server that is not there: the audio device layer's start always warns of it.
    env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + dataFolder + QStringLiteral("/no-sound-server"));
    child.setProcessEnvironment(env);
    QStringList arguments{QStringLiteral("start"), window.toString()};
    if (!property.isEmpty())
        arguments << property;
    child.start(QCoreApplication::applicationFilePath(), arguments);
    if (!child.waitForFinished(30000)) {
        child.kill();
        child.waitForFinished();
        return {};
    }
    return {child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -3,
            QString::fromUtf8(child.readAllStandardOutput() + child.readAllStandardError())};
}

} // namespace

class ApplicationTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void windowThatFailsEndsWithMinusOne_data();
    void windowThatFailsEndsWithMinusOne();
    void windowSeesTheControllers();
    void mediaLeftOverByAnEarlierRunGoAtStart();
    void windowFollowsNoRedirectToAnotherOrigin();
    void loginFrameLoadsOnlyWhatItShows_data();
    void loginFrameLoadsOnlyWhatItShows();
    void quitEndsWhateverHoldsTheWork_data();
    void quitEndsWhateverHoldsTheWork();
    void displayLossEndsLikeAQuit_data();
    void displayLossEndsLikeAQuit();

private:
    QUrl writeQml(const QString &name, const QByteArray &text)
    {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            return {};
        return QUrl::fromLocalFile(file.fileName());
    }
    QTemporaryDir m_dir;
};

void ApplicationTest::windowThatFailsEndsWithMinusOne_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("text");
    // A window that loads, in a folder of variants beside the file: none is
    // ever chosen (the engine resolves no address through a file selector,
    // which would be taken out while the window's compiles run).
    QTest::addColumn<QByteArray>("variant");
    QTest::newRow("missing") << "" << QByteArray() << QByteArray();
    QTest::newRow("syntax error") << "Broken.qml" << QByteArray("import QtQuick\nWindow { visible: true\n") << QByteArray();
    QTest::newRow("unknown type") << "Unknown.qml" << QByteArray("import QtQuick\nNoSuchWindow { }\n") << QByteArray();
    QTest::newRow("variant beside it") << "Varied.qml" << QByteArray("import QtQuick\nNoSuchWindow { }\n")
                                       << QByteArray("import QtQuick\nItem { Component.onCompleted: Qt.exit(3) }\n");
}

void ApplicationTest::windowThatFailsEndsWithMinusOne()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, variant);
    QVERIFY(variant.isEmpty() || (QDir(m_dir.path()).mkpath(QStringLiteral("+linux"))
                                  && writeQml(QStringLiteral("+linux/") + file, variant).isValid()));
    const QUrl url = file.isEmpty() ? QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("Absent.qml")))
                                    : writeQml(file, text);
    const ChildResult result = runStart(url, m_dir.filePath(QStringLiteral("data")));
    QCOMPARE(result.exitCode, 255); // -1 as a process exit status
    QVERIFY2(result.output.contains(QStringLiteral("roots 0 windows 0")), qPrintable(result.output));
}

void ApplicationTest::windowSeesTheControllers()
{
    const QUrl url = writeQml(QStringLiteral("Probe.qml"), R"(import QtQuick
import QtQuick.Window
Window {
    Component.onCompleted: {
        console.log("controllers", typeof App.generateAndLogin, typeof Chat.start, typeof Voice.stopPlayback,
                    typeof VoiceRoom.handleSuperGroupEvent,
                    App.loggedIn, App.hasSavedIdentity(), Qt.application.name, Qt.application.organization)
        Qt.exit(7)
    }
}
)");
    const ChildResult result = runStart(url, m_dir.filePath(QStringLiteral("data")));
    QCOMPARE(result.exitCode, 7);
    QVERIFY2(result.output.contains(QStringLiteral("controllers function function function function false false Pelorin Quillet")),
             qPrintable(result.output));
    QVERIFY2(result.output.contains(QStringLiteral("roots 1 windows 1")), qPrintable(result.output));
}

void ApplicationTest::mediaLeftOverByAnEarlierRunGoAtStart()
{
    const QString data = m_dir.filePath(QStringLiteral("leftovers"));
    QFile left(data + QStringLiteral("/Quillet/Pelorin/media/velmor-draft-0b1c.png"));
    QVERIFY(QDir().mkpath(QFileInfo(left).absolutePath()));
    QVERIFY(left.open(QIODevice::WriteOnly) && left.write("decrypted") == 9 && left.flush());
    QVERIFY(left.setFileTime(QDateTime::currentDateTime().addSecs(-600), QFileDevice::FileModificationTime));
    left.close();
    const QUrl url = writeQml(QStringLiteral("Quit.qml"), "import QtQuick\nItem { Component.onCompleted: Qt.exit(0) }\n");
    QCOMPARE(runStart(url, data).exitCode, 0);
    QVERIFY(!left.exists());
}

// Pictures the program's views load (avatars of group members) follow a
// redirect only to the origin they were asked of, never on to a tracker;
// one reached so is shown.
void ApplicationTest::windowFollowsNoRedirectToAnotherOrigin()
{
    using velmor::fakes::FakeReply;
    velmor::fakes::FakeHttpServer tracker;
    velmor::fakes::FakeHttpServer server;
    QByteArray png;
    QBuffer pngBuffer(&png);
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QVERIFY(pngBuffer.open(QIODevice::WriteOnly) && picture.save(&pngBuffer, "PNG"));
    const auto serve = [png](const QHttpServerRequest &) { return FakeReply{200, png, "image/png"}; };
    tracker.addRoute(QStringLiteral("/avatar.png"), QHttpServerRequest::Method::Get, serve);
    QVERIFY(tracker.start());
    server.addRoute(QStringLiteral("/avatar.png"), QHttpServerRequest::Method::Get, serve);
    const QString away = tracker.baseUrl() + "/avatar.png";
    const QStringList redirects{"/away", away, "/here", "/avatar.png", "/here-then-away", "/then-away", "/then-away", away};
    for (qsizetype i = 0; i < redirects.size(); i += 2)
        server.addRoute(redirects[i], QHttpServerRequest::Method::Get, [to = redirects[i + 1].toUtf8()](const QHttpServerRequest &) {
            FakeReply reply{302, QByteArray(), "text/plain"};
            reply.location = to;
            return reply;
        });
    QVERIFY(server.start());
    const QUrl url = writeQml(QStringLiteral("Avatars.qml"), QStringLiteral(R"(import QtQuick
Row {
    id: row
    property int done: 0
    Repeater {
        model: ["/away", "/here", "/here-then-away"]
        Image {
            cache: false
            source: "%1" + modelData
            onStatusChanged: {
                if (status === Image.Loading)
                    return
                console.log("picture", modelData, status === Image.Ready ? "shown " + sourceSize.width : "refused")
                if (++row.done === 3)
                    Qt.exit(0)
            }
        }
    }
}
)").arg(server.baseUrl()).toUtf8());
    const ChildResult result = runStart(url, m_dir.filePath(QStringLiteral("data")));
    QVERIFY2(result.exitCode == 0, qPrintable(result.output));
    // Same-origin redirects were followed, none to the tracker.
    QVERIFY(server.requestCount(QStringLiteral("/avatar.png")) > 0 && server.requestCount(QStringLiteral("/then-away")) > 0);
    QCOMPARE(tracker.requestCount(QStringLiteral("/avatar.png")), 0);
    for (const char *told : {"picture /away refused", "picture /here shown 8", "picture /here-then-away refused"})
        QVERIFY2(result.output.contains(QLatin1String(told)), qPrintable(result.output));
}

// The login window's first frame is drawn without the controls module (its
// style plugins and their types), which the parts that use it load when
// first shown, and without the network's reachability, which matters from
// the first sign-in, nor the audio device layer and its sound server, which
// the device pickers and the first voice room need; and fontconfig's list of
// every face is read off the window's thread, while the window is made, and
// nothing is added to the environment once the start's threads run.
void ApplicationTest::loginFrameLoadsOnlyWhatItShows_data()
{
    QTest::addColumn<QString>("property");
    QTest::addColumn<QString>("told");
    QTest::addColumn<bool>("soundServerAsked");
    QTest::newRow("login frame") << "-" << "first frame [] then []" << false;
    QTest::newRow("phrase cells asked for") << "mnemonicMode" << "first frame [] then [qml/QtQuick/Controls/]" << false;
    QTest::newRow("audio devices asked for") << "VoiceRoom.outputDevices" << "first frame [] then []" << true;
}

void ApplicationTest::loginFrameLoadsOnlyWhatItShows()
{
    QFETCH(QString, property);
    QFETCH(QString, told);
    QFETCH(bool, soundServerAsked);
    const ChildResult result = runStart(velmor::app::mainWindowUrl(), m_dir.filePath(QStringLiteral("fresh")), property);
    QVERIFY2(result.exitCode == 0 && result.output.contains(told), qPrintable(result.output));
    QVERIFY2(result.output.contains(QLatin1String("PulseAudio")) == soundServerAsked, qPrintable(result.output));
    // Fontconfig's list of every face, read by the first text laid out.
    QVERIFY2(result.output.contains(QLatin1String("fonts listed off the window's thread")), qPrintable(result.output));
    QVERIFY2(result.output.contains(QLatin1String("environment kept")), qPrintable(result.output));
}

// The program ends soon after a quit whatever its pool's work waits for:
// another program's lock that is never released, a full disk, a server
// that never answers.
void ApplicationTest::quitEndsWhateverHoldsTheWork_data()
{
    QTest::addColumn<QString>("state");
    QTest::newRow("store held by another program") << "held";
    QTest::newRow("disk full") << "full";
    QTest::newRow("server silent") << "silent";
}

void ApplicationTest::quitEndsWhateverHoldsTheWork()
{
    QFETCH(QString, state);
    velmor::fakes::FakeHttpServer server;
    server.addRoute(QStringLiteral("/silent"), QHttpServerRequest::Method::Get,
                    [](const QHttpServerRequest &) { return velmor::fakes::FakeReply{200, QByteArray("{}"), "application/json"}; });
    QVERIFY(server.start());
    server.holdRequests(QStringLiteral("/silent"));
    const QUrl window = writeQml(QStringLiteral("Bare.qml"), "import QtQuick\nItem { }\n");
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("quit-") + state));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("quit"), window.toString(), m_dir.filePath(QStringLiteral("quit-%1.db").arg(state)), state,
                 server.baseUrl() + QStringLiteral("/silent")});
    QVERIFY(child.waitForReadyRead(20000));
    QElapsedTimer sinceQuit;
    sinceQuit.start();
    // Far beyond the program's own bound: a program that waits for its work
    // waits for the whole hold (here, for ever).
    const bool ended = child.waitForFinished(30000);
    if (!ended) {
        child.kill();
        child.waitForFinished();
    }
    server.releaseHeld();
    QVERIFY2(ended, "still running 30 s after the quit");
    qInfo().noquote() << state << "ended" << sinceQuit.elapsed() << "ms after the quit";
    const QString output = QString::fromUtf8(child.readAllStandardOutput() + child.readAllStandardError());
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(output));
}

void ApplicationTest::displayLossEndsLikeAQuit_data()
{
    QTest::addColumn<QByteArray>("scene");
    QTest::addColumn<int>("signal");
    const QByteArray still = "width: 320; height: 240\nRectangle { width: 100; height: 100; color: \"teal\" }";
    // The render thread presents frame after frame when the server goes.
    const QByteArray turning = "width: 320; height: 240\nRectangle { width: 100; height: 100; color: \"teal\"\n"
                               "RotationAnimation on rotation { from: 0; to: 360; duration: 500; loops: Animation.Infinite } }";
    QTest::newRow("still window, server ended") << still << int(SIGTERM);
    QTest::newRow("drawing window, server ended") << turning << int(SIGTERM);
    QTest::newRow("drawing window, server killed") << turning << int(SIGKILL);
    QTest::newRow("drawing window, server killed again") << turning << int(SIGKILL);
    // Frames that take the render thread long: the window's thread waits for
    // one of them when the server goes.
    const QByteArray busy = "width: 1280; height: 1000\n"
                            "Repeater { model: 400; Rectangle { x: index % 20 * 60; y: Math.floor(index / 20) * 48\n"
                            "width: 50; height: 40; radius: 8; color: Qt.hsla(index / 400, 0.5, 0.5, 0.8)\n"
                            "RotationAnimation on rotation { from: 0; to: 360; duration: 700 + index; loops: Animation.Infinite } } }";
    QTest::newRow("busy window, server killed") << busy << int(SIGKILL);
    QTest::newRow("busy window, server killed again") << busy << int(SIGKILL);
    // The server stays: a quit ends with the event loop's status.
    QTest::newRow("drawing window, quit") << turning << 0;
}

// The X server goes away under the running program: the program ends by
// its quit path, with a non-zero status, not from inside the platform code
// or Xlib (exit() under running threads: crashes, a corrupted heap).
void ApplicationTest::displayLossEndsLikeAQuit()
{
    QFETCH(QByteArray, scene);
    QFETCH(int, signal);
    if (!velmor::fakes::OwnXServer::available())
        QSKIP("no Xvfb (scripts/setup.sh installs it)");
    velmor::fakes::OwnXServer server;
    QVERIFY2(server.start(QSize(1280, 1024)), "Xvfb did not start");
    const QUrl window = writeQml(QStringLiteral("Lost.qml"), "import QtQuick\nWindow { visible: true\n" + scene + " }\n");
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), server.display());
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("display")));
    env.insert(QStringLiteral("PELORIN_NODE_DIRECTORY_URL"), QStringLiteral("http://127.0.0.1:9"));
    child.setProcessEnvironment(env);
    QStringList arguments{QStringLiteral("display"), window.toString()};
    if (signal == 0)
        arguments << QStringLiteral("quit");
    child.start(QCoreApplication::applicationFilePath(), arguments);
    QByteArray output;
    while (!output.contains("drawing") && child.waitForReadyRead(20000))
        output += child.readAllStandardOutput();
    QVERIFY2(output.contains("drawing"), output + child.readAllStandardError());
    QTest::qWait(300);
    if (signal != 0)
        server.kill(signal);
    const bool ended = child.waitForFinished(10000);
    if (!ended) {
        child.kill();
        child.waitForFinished();
    }
    output += child.readAllStandardOutput() + child.readAllStandardError();
    QVERIFY2(ended, "still running 10 s after the display went away");
    QVERIFY2(child.exitStatus() == QProcess::NormalExit, output);
    // A frame begun just before the loss can hold the window's thread for
    // good (its render thread stays in Xlib's error handler); the program then
    // ends without its quit path, which it says. Sends shown are journaled
    // before they are shown, so both ends keep them.
    const bool fellBack = signal != 0 && output.contains("the program ends without it");
    QVERIFY2(output.contains("controllers ended") || fellBack, output);
    QCOMPARE(child.exitCode(), signal != 0 ? 1 : 0);
}

int main(int argc, char **argv)
{
    if (argc >= 3 && qstrcmp(argv[1], "display") == 0)
        return runDisplayChild(argc, argv);
    if (argc >= 3 && qstrcmp(argv[1], "start") == 0)
        return runChild(argc, argv);
    if (argc == 6 && qstrcmp(argv[1], "quit") == 0)
        return runQuitChild(argv);
    QCoreApplication app(argc, argv);
    ApplicationTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"
