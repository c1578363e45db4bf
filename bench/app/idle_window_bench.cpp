// What the signed-in window costs the machine, as a user has it: the real
// program signed in automatically against the local relay, beside a bare
// Qt Quick window of the same size (1112 x 816) in the same run.
//
//  - idle and focused for PELORIN_IDLE_SECONDS (60): CPU of the process and
//    its GUI thread's share, against a bare window playing the logo's 49
//    frames from their pre-rendered sheet at the same rate (goal 1.5x);
//  - idle and not active (another window has the focus): the views' wake-ups;
//  - the GUI thread's worst stall from the sign-in (the first frame of the
//    window) to a usable home view, against a bare window being shown
//    (goal 1.5x);
//  - resident memory once signed in, the sidebar showing the profile's
//    2,000 conversations, against the bare window listing as many rows
//    beside its logo (goal 1.4x);
//  - the image viewer open over the home view and left idle, against the
//    bare window with the same picture in the same kind of popup: CPU and
//    frames (goal: the bare figure and a few per cent), and the viewer's
//    opening, from the call to the frame that shows the picture (goal 1.5x);
//  - the long-text reader opened on 60,000 characters: the time to the
//    first frame with text and the GUI thread's worst stall until it has
//    settled, against the bare window with the same kind of popup showing
//    the text's first screen (4,000 characters) in a selectable text
//    (goals: 1.5x, and no stall over 50 ms); then the reader scrolled a
//    step a frame, against the bare card holding the whole text: the frame
//    intervals' p50 and p95 (goal 1.5x).
//
// Each measurement runs this program again in child mode. Needs an X
// server with room for the window:
//   xvfb-run -a -s '-screen 0 1280x1024x24' ./build/bench/app/idle_window_bench --benchmark_repetitions=1
// (PELORIN_IDLE_SECONDS=10 for a quick look; PELORIN_BENCH_CHILD_PREFIX, see
// runChild). The memory case is in idle_memory.cpp, the reader's in
// idle_reader.cpp.
#include "bench/loopback_endpoints.h"
#include "bench/app/saved_profile.h"
#include "../bench_ratio.h"
#include "idle_child.h"
#include "idle_memory.h"
#include "idle_reader.h"
#include "app/app_controller.h"
#include "app/application.h"
#include "qml/Velmor/src/emoji_images.h"
#include "identity/identity.h"
#include "identity/vault.h"
#include "support/fake_relay.h"
#include "window_probe.h"

#include <QGuiApplication>
#include <QImage>
#include <QPointer>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <QtQml/qqmlextensionplugin.h>

#include <algorithm>
#include <functional>
#include <memory>

Q_IMPORT_QML_PLUGIN(VelmorPlugin)

using namespace velmor::bench;
using namespace velmor::bench::idle;

namespace {

// Stored in the signed-in profile.
constexpr int kConversations = 2000;

int idleSeconds()
{
    const int s = qEnvironmentVariableIntValue("PELORIN_IDLE_SECONDS");
    return s > 0 ? s : 60;
}

// Frames a child window painted on the window's thread (no render thread).
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWindow *window) : QObject(window) { window->installEventFilter(this); }
    int count() const { return m_count; }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::UpdateRequest)
            ++m_count;
        return false;
    }

private:
    int m_count = 0;
};

// The window, after `kSettleMs` of rest: CPU and memory over the idle time.
// Frames are the window's and, apart, those of its child surfaces (the
// animated logo is shown on one of its own).
void measureIdle(QQuickWindow *window, FrameCounter *frames)
{
    QTimer::singleShot(kSettleMs, window, [window, frames] {
        QList<FrameCounter *> surfaces;
        QList<PaintCounter *> painted;
        for (QObject *child : window->children()) {
            if (auto *surface = qobject_cast<QQuickWindow *>(child))
                surfaces.append(new FrameCounter(surface));
            else if (auto *surface = qobject_cast<QWindow *>(child))
                painted.append(new PaintCounter(surface));
        }
        const double cpu0 = processCpuSeconds();
        const double gui0 = threadCpuSeconds();
        const int64_t t0 = monotonicNanos();
        const int frames0 = frames->count();
        QTimer::singleShot(idleSeconds() * 1000, window, [=] {
            const double wall = double(monotonicNanos() - t0) / 1e9;
            int surfaceFrames = 0;
            for (const FrameCounter *counter : surfaces)
                surfaceFrames += counter->count();
            for (const PaintCounter *counter : painted)
                surfaceFrames += counter->count();
            report(QStringLiteral("cpu %1 gui %2 wall %3 frames %4 rss %5 active %6 surface_frames %7")
                       .arg(processCpuSeconds() - cpu0).arg(threadCpuSeconds() - gui0).arg(wall)
                       .arg(frames->count() - frames0).arg(residentMegabytes()).arg(window->isActive())
                       .arg(surfaceFrames));
        });
    });
}

// The picture the viewers show: a photo-sized JPEG made once per run.
QString viewerPicture()
{
    return qEnvironmentVariable("PELORIN_BENCH_PICTURE");
}

// The viewer (ours or the bare one) opened on the picture: the time from the
// call to the first frame that shows it, then the idle figures under it.
void openViewerThenIdle(QQuickWindow *window, FrameCounter *frames, const std::function<QObject *()> &open)
{
    QTimer::singleShot(kSettleMs, window, [=] {
        const int64_t t0 = monotonicNanos();
        QObject *viewer = open();
        auto *picture = viewer ? viewer->findChild<QObject *>(QStringLiteral("previewImage")) : nullptr;
        if (!picture) {
            report(QStringLiteral("error 1"));
            return;
        }
        auto shown = std::make_shared<QMetaObject::Connection>();
        *shown = QObject::connect(window, &QQuickWindow::frameSwapped, window, [=] {
            if (picture->property("status").toInt() != 1) // Image.Ready
                return;
            QObject::disconnect(*shown);
            const double openMs = double(monotonicNanos() - t0) / 1e6;
            QTimer::singleShot(kSettleMs, window, [=] {
                const double cpu0 = processCpuSeconds();
                const double gui0 = threadCpuSeconds();
                const int64_t i0 = monotonicNanos();
                const int frames0 = frames->count();
                QTimer::singleShot(idleSeconds() * 1000, window, [=] {
                    const double wall = double(monotonicNanos() - i0) / 1e9;
                    report(QStringLiteral("open %1 cpu %2 gui %3 wall %4 frames %5")
                               .arg(openMs).arg(processCpuSeconds() - cpu0).arg(threadCpuSeconds() - gui0)
                               .arg(wall).arg(frames->count() - frames0));
                });
            });
        });
    });
}

QObject *openHomeViewer(QObject *loader)
{
    QObject *home = loader ? loader->property("item").value<QObject *>() : nullptr;
    QVariant viewer;
    if (!home || !QMetaObject::invokeMethod(home, "popup", Q_RETURN_ARG(QVariant, viewer),
                                            Q_ARG(QVariant, QStringLiteral("imagePreview"))))
        return nullptr;
    QObject *popup = viewer.value<QObject *>();
    if (popup)
        QMetaObject::invokeMethod(popup, "openAt", Q_ARG(QVariant, QUrl::fromLocalFile(viewerPicture()).toString()));
    return popup;
}

// Another window takes the focus; then the views' wake-ups over the idle time.
void measureInactive(QQuickWindow *window, FrameCounter *frames)
{
    QTimer::singleShot(kSettleMs, window, [window, frames] {
        auto *other = new QWindow;
        other->resize(200, 200);
        other->show();
        other->requestActivate();
        QTimer::singleShot(1000, window, [window, frames] {
            auto *wakeups = new ViewWakeups;
            const double cpu0 = processCpuSeconds();
            const int frames0 = frames->count();
            QTimer::singleShot(idleSeconds() * 1000, window, [=] {
                // The one timer event of this single shot is not the views'.
                report(QStringLiteral("cpu %1 wakeups %2 frames %3 active %4")
                           .arg(processCpuSeconds() - cpu0).arg(std::max(0, wakeups->count() - 1))
                           .arg(frames->count() - frames0).arg(window->isActive()));
            });
        });
    });
}

// The worst wait of the GUI thread from `start` until 500 ms after `ready`.
// Up to half a second after the sidebar logo has moved to its own surface
// (the window's thread waits for a new surface's first frame), and at least
// half a second after the home view is usable.
void measureStall(QQuickWindow *window, std::shared_ptr<StallProbe> probe)
{
    auto *patch = window->findChild<QObject *>(QStringLiteral("sideLogoPatch"));
    auto waited = std::make_shared<int>(0);
    auto *poll = new QTimer(window);
    QObject::connect(poll, &QTimer::timeout, window, [=] {
        *waited += 50;
        const bool surfaceUp = !patch || patch->property("onSurface").toBool();
        if ((!surfaceUp && *waited < 5000) || *waited < 500)
            return;
        poll->stop();
        QTimer::singleShot(500, window, [probe] { report(QStringLiteral("stall %1").arg(probe->worstMs())); });
    });
    poll->start(50);
}

int runHomeChild(const QByteArray &mode)
{
    velmor::app::StartOptions options;
    options.afterLoad = [mode](QQmlApplicationEngine &engine, AppController &app) {
        auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
        if (!window) {
            QCoreApplication::exit(2);
            return;
        }
        auto *frames = new FrameCounter(window);
        auto probe = std::make_shared<StallProbe>();
        auto *loader = window->findChild<QObject *>(QStringLiteral("viewLoader"));
        // The window's first frame: the sign-in is under way.
        auto first = std::make_shared<QMetaObject::Connection>();
        *first = QObject::connect(window, &QQuickWindow::frameSwapped, window, [first, probe, mode] {
            QObject::disconnect(*first);
            if (mode == "home-signin")
                probe->startWatching();
        });
        // Usable: signed in, the home view built and drawn once.
        auto ready = std::make_shared<QMetaObject::Connection>();
        *ready = QObject::connect(window, &QQuickWindow::frameSwapped, window, [=, &app] {
            if (!app.loggedIn() || !loader || loader->property("status").toInt() != 1)
                return;
            QObject::disconnect(*ready);
            if (mode == "home-signin")
                measureStall(window, probe);
            else if (mode == "home-inactive")
                measureInactive(window, frames);
            else if (mode == "home-memory")
                measureMemory(window, QStringLiteral("home"), [window] {
                    auto *list = window->findChild<QObject *>(QStringLiteral("convList"));
                    return list && list->property("count").toInt() > 0;
                });
            else if (mode.startsWith("home-reader"))
                openReader(window, [window, mode] { return openHomeReader(window, emojiMode(mode)); }, [] {});
            else if (mode == "home-viewer")
                openViewerThenIdle(window, frames, [loader] { return openHomeViewer(loader); });
            else
                measureIdle(window, frames);
        });
    };
    int argc = 1;
    static char name[] = "pelorin";
    char *argv[] = { name, nullptr };
    return velmor::app::runApplication(argc, argv, options);
}

// The bare window: the logo's sheet played at the logo's rate while active.
const char kBareWindow[] = R"(
import QtQuick
Window {
    width: 1112; height: 816; visible: true; color: "transparent"
    flags: Qt.Window | Qt.FramelessWindowHint
    Item {
        id: logo
        objectName: "logo"
        property int idx: 0
        width: 78; height: 78; clip: true
        Image {
            source: "qrc:/qt/qml/Velmor/assets/logo_sheet_156.png"
            width: 546; height: 546
            x: -(logo.idx % 7) * 78; y: -Math.floor(logo.idx / 7) * 78
            smooth: true
        }
        // Under the bare popups the window shows a still picture.
        property bool playing: true
        Timer {
            interval: 16; repeat: true; running: logo.Window.active && logo.playing
            onTriggered: logo.idx = (logo.idx + 1) % 49
        }
    }
    // The sidebar's rows, in the memory mode.
    property var rows: []
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
            Text { x: 68; y: 34; width: 190; elide: Text.ElideRight; text: modelData.last; font.pixelSize: 12 }
        }
    }
}
)";

// The bare viewer: a modal popup of the same kind over the whole window,
// the picture fitted as the real viewer fits it.
const char kBareViewer[] = R"(
import QtQuick
import QtQuick.Controls.Basic
Popup {
    width: parent ? parent.width : 0; height: parent ? parent.height : 0
    modal: true; padding: 0
    background: Item {}
    property alias source: picture.source
    contentItem: Item {
        Image {
            id: picture
            objectName: "previewImage"
            anchors.centerIn: parent
            width: parent.width - 220; height: parent.height - 160
            fillMode: Image.PreserveAspectFit
            smooth: true
            asynchronous: true
        }
    }
}
)";

QObject *openBarePopup(QQmlEngine *engine, QQuickWindow *window, const char *qml)
{
    QQmlComponent component(engine);
    component.setData(qml, QUrl(QStringLiteral("qrc:/bench/BarePopup.qml")));
    QObject *popup = component.create();
    if (!popup)
        return nullptr;
    popup->setParent(window);
    popup->setProperty("parent", QVariant::fromValue<QObject *>(static_cast<QObject *>(window->contentItem())));
    return popup;
}

int runBareChild(int argc, char **argv, const QByteArray &mode)
{
    QGuiApplication app(argc, argv);
    auto probe = std::make_shared<StallProbe>();
    if (mode == "bare-show")
        probe->startWatching();
    QQmlApplicationEngine engine;
    engine.loadData(kBareWindow);
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    if (!window)
        return 2;
    window->requestActivate();
    auto *frames = new FrameCounter(window);
    QQmlEngine *viewerEngine = &engine;
    auto first = std::make_shared<QMetaObject::Connection>();
    *first = QObject::connect(window, &QQuickWindow::frameSwapped, window, [=] {
        QObject::disconnect(*first);
        if (mode == "bare-show")
            measureStall(window, probe);
        else if (mode == "bare-viewer")
            openViewerThenIdle(window, frames, [viewerEngine, window]() -> QObject * {
                window->findChild<QObject *>(QStringLiteral("logo"))->setProperty("playing", false);
                QObject *popup = openBarePopup(viewerEngine, window, kBareViewer);
                if (popup) {
                    popup->setProperty("source", QUrl::fromLocalFile(viewerPicture()));
                    QMetaObject::invokeMethod(popup, "open");
                }
                return popup;
            });
        else if (mode == "bare-memory") {
            QVariantList rows;
            for (int i = 0; i < kConversations; ++i)
                rows.append(QVariantMap{{QStringLiteral("name"), QStringLiteral("peer %1").arg(i)},
                                        {QStringLiteral("last"), QStringLiteral("message 2 of conversation %1").arg(i)}});
            window->setProperty("rows", rows);
            measureMemory(window, QStringLiteral("bare"), [] { return true; });
        } else if (mode.startsWith("bare-reader")) {
            auto popup = std::make_shared<QPointer<QObject>>();
            const bool emoji = emojiMode(mode);
            velmor::views::installEmojiImages(viewerEngine);
            openReader(
                window,
                [viewerEngine, window, popup, emoji]() -> QQuickItem * {
                    window->findChild<QObject *>(QStringLiteral("logo"))->setProperty("playing", false);
                    *popup = openBarePopup(viewerEngine, window, kBareReader);
                    if (!*popup)
                        return nullptr;
                    // A screen and a half: 4,000 letters, 1,500 emoji.
                    (*popup)->setProperty("rich", emoji);
                    (*popup)->setProperty("text", emoji ? readerText(true, 1500) : readerText().left(4000));
                    QMetaObject::invokeMethod(*popup, "open");
                    return (*popup)->property("contentItem").value<QQuickItem *>();
                },
                // Scrolled, the bare card holds the whole text (of emoji, its
                // first 1,500: a text item lays 30,000 pictures out in minutes).
                [popup, emoji] {
                    if (*popup && !emoji)
                        (*popup)->setProperty("text", readerText());
                });
        }
        else
            measureIdle(window, frames);
    });
    return app.exec();
}

struct Services
{
    velmor::fakes::FakeRelay relay{velmor::fakes::FakeRelay::Options{true}};
    QTemporaryDir profile;
    QString picture;
    bool ok = false;

    Services()
    {
        if (relay.start() == 0 || !profile.isValid())
            return;
        // A 12 MP photo's size, smooth like one (noise would be all the
        // decoder's work).
        QImage photo(4000, 3000, QImage::Format_RGB32);
        for (int y = 0; y < photo.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(photo.scanLine(y));
            for (int x = 0; x < photo.width(); ++x)
                line[x] = qRgb(x * 255 / photo.width(), y * 255 / photo.height(), (x ^ y) & 0xff);
        }
        picture = profile.filePath(QStringLiteral("photo.jpg"));
        ok = photo.save(picture, "JPEG", 85) && saveNewIdentityIn(profile.path(), kConversations);
    }
};

Services &services()
{
    static Services instance;
    return instance;
}

// Runs one child; its report as name -> value.
QMap<QString, double> runChild(benchmark::State &state, const char *mode)
{
    Services &fixture = services();
    QMap<QString, double> values;
    if (!fixture.ok) {
        state.SkipWithError("local services or profile could not be set up");
        return values;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), fixture.profile.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), fixture.profile.path() + QStringLiteral("/config"));
    env.insert(QStringLiteral("PELORIN_NODE_DIRECTORY_URL"), fixture.relay.baseUrl());
    env.insert(QStringLiteral("PELORIN_GROUP_CENTER_URL"), velmor::bench::deadLoopbackUrl());
    env.insert(QStringLiteral("PELORIN_BENCH_PICTURE"), fixture.picture);
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // PELORIN_BENCH_CHILD_PREFIX runs the child under a tool, e.g.
    // "heaptrack -o /tmp/home" to see what holds the memory.
    QStringList command = QString::fromLocal8Bit(qgetenv("PELORIN_BENCH_CHILD_PREFIX")).split(' ', Qt::SkipEmptyParts);
    command << QCoreApplication::applicationFilePath() << QStringLiteral("child") << QString::fromLatin1(mode);
    child.start(command.takeFirst(), command);
    // A tool the child runs under may print lines of its own.
    QByteArray out;
    int at = -1;
    while ((at = out.indexOf("report: ")) < 0 || out.indexOf('\n', at) < 0) {
        if (!child.waitForReadyRead((idleSeconds() + 60) * 1000) && child.state() != QProcess::Running)
            break;
        out += child.readAllStandardOutput();
    }
    child.waitForFinished(60000);
    const QList<QByteArray> words = at < 0 ? QList<QByteArray>()
                                           : out.mid(at + 8, out.indexOf('\n', at) - at - 8).trimmed().split(' ');
    for (int i = 0; i + 1 < words.size(); i += 2)
        values.insert(QString::fromLatin1(words[i]), words[i + 1].toDouble());
    if (values.isEmpty())
        state.SkipWithError("the child reported nothing (is an X server set?)");
    return values;
}

void idleFocused(benchmark::State &state, const char *mode)
{
    for (auto _ : state) {
        const auto v = runChild(state, mode);
        if (v.isEmpty())
            return;
        state.SetIterationTime(v.value("cpu"));
        state.counters["cpu_pct"] = 100 * v.value("cpu") / v.value("wall");
        state.counters["gui_pct"] = 100 * v.value("gui") / v.value("wall");
        state.counters["fps"] = v.value("frames") / v.value("wall");
        state.counters["surface_fps"] = v.value("surface_frames") / v.value("wall");
        state.counters["rss_MB"] = v.value("rss");
        state.counters["active"] = v.value("active");
    }
}

void BM_IdleFocusedHome(benchmark::State &state) { idleFocused(state, "home-idle"); }
void BM_Bare_IdleFocusedWindow(benchmark::State &state) { idleFocused(state, "bare-idle"); }

void BM_IdleInactiveHome(benchmark::State &state)
{
    for (auto _ : state) {
        const auto v = runChild(state, "home-inactive");
        if (v.isEmpty())
            return;
        state.SetIterationTime(v.value("cpu"));
        state.counters["view_wakeups"] = v.value("wakeups");
        state.counters["frames"] = v.value("frames");
        state.counters["active"] = v.value("active");
    }
}

// Times are the viewer's opening; the idle CPU and frames are counters.
void viewerOpenThenIdle(benchmark::State &state, const char *mode)
{
    for (auto _ : state) {
        const auto v = runChild(state, mode);
        if (v.isEmpty())
            return;
        if (v.contains("error")) {
            state.SkipWithError("the viewer did not open");
            return;
        }
        state.SetIterationTime(v.value("open") / 1000);
        state.counters["idle_cpu_pct"] = 100 * v.value("cpu") / v.value("wall");
        state.counters["idle_gui_pct"] = 100 * v.value("gui") / v.value("wall");
        state.counters["idle_fps"] = v.value("frames") / v.value("wall");
    }
}

void readerOpen(benchmark::State &state, const char *mode)
{
    for (auto _ : state) {
        const auto v = runChild(state, mode);
        if (v.isEmpty())
            return;
        if (v.contains("error")) {
            state.SkipWithError("the reader did not open");
            return;
        }
        state.SetIterationTime(v.value("open") / 1000);
        state.counters["stall_ms"] = v.value("stall");
        state.counters["scroll_p50_ms"] = v.value("scroll_p50");
        state.counters["scroll_p95_ms"] = v.value("scroll_p95");
    }
}

// The time is the resident memory in GB, so that the pair's ratio is the
// memory's.
void memoryAfterSignIn(benchmark::State &state, const char *mode)
{
    for (auto _ : state) {
        const auto v = runChild(state, mode);
        if (v.isEmpty())
            return;
        state.SetIterationTime(v.value("rss") / 1000);
        state.counters["rss_MB"] = v.value("rss");
    }
}

void BM_MemoryAfterSignIn(benchmark::State &state) { memoryAfterSignIn(state, "home-memory"); }
void BM_Bare_MemoryWithRows(benchmark::State &state) { memoryAfterSignIn(state, "bare-memory"); }

void BM_ReaderOpen(benchmark::State &state) { readerOpen(state, "home-reader"); }
void BM_Bare_ReaderOpen(benchmark::State &state) { readerOpen(state, "bare-reader"); }
void BM_ReaderOpenEmoji(benchmark::State &state) { readerOpen(state, "home-reader-emoji"); }
void BM_Bare_ReaderOpenEmoji(benchmark::State &state) { readerOpen(state, "bare-reader-emoji"); }

void BM_ViewerOpenThenIdle(benchmark::State &state) { viewerOpenThenIdle(state, "home-viewer"); }
void BM_Bare_ViewerOpenThenIdle(benchmark::State &state) { viewerOpenThenIdle(state, "bare-viewer"); }

void worstStall(benchmark::State &state, const char *mode)
{
    for (auto _ : state) {
        const auto v = runChild(state, mode);
        if (v.isEmpty())
            return;
        state.SetIterationTime(v.value("stall") / 1000);
    }
}

void BM_SignInToHomeWorstStall(benchmark::State &state) { worstStall(state, "home-signin"); }
void BM_Bare_ShowWindowWorstStall(benchmark::State &state) { worstStall(state, "bare-show"); }

BENCHMARK(BM_IdleFocusedHome)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Bare_IdleFocusedWindow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_IdleInactiveHome)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_MemoryAfterSignIn)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Bare_MemoryWithRows)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ReaderOpen)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Bare_ReaderOpen)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ReaderOpenEmoji)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Bare_ReaderOpenEmoji)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ViewerOpenThenIdle)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Bare_ViewerOpenThenIdle)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SignInToHomeWorstStall)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Bare_ShowWindowWorstStall)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && qstrcmp(argv[1], "child") == 0) {
        const QByteArray mode = argv[2];
        if (mode.startsWith("bare"))
            return runBareChild(argc, argv, mode);
        return runHomeChild(mode);
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Pelorin"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quillet"));
    // Times are CPU seconds over the idle time, and the worst stall.
    return runWithRatios(argc, argv,
                         {{"BM_IdleFocusedHome/iterations:1/manual_time", "BM_Bare_IdleFocusedWindow/iterations:1/manual_time", 1.5},
                          {"BM_SignInToHomeWorstStall/iterations:1/manual_time", "BM_Bare_ShowWindowWorstStall/iterations:1/manual_time", 1.5},
                          {"BM_ViewerOpenThenIdle/iterations:1/manual_time", "BM_Bare_ViewerOpenThenIdle/iterations:1/manual_time", 1.5},
                          {"BM_ReaderOpen/iterations:1/manual_time", "BM_Bare_ReaderOpen/iterations:1/manual_time", 1.5},
                          {"BM_ReaderOpenEmoji/iterations:1/manual_time", "BM_Bare_ReaderOpenEmoji/iterations:1/manual_time", 1.5},
                          {"BM_MemoryAfterSignIn/iterations:1/manual_time", "BM_Bare_MemoryWithRows/iterations:1/manual_time", 1.4}});
}
