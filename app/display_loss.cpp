#include "app/display_loss.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QThread>

#include <X11/Xlib.h>
// Xlib's event names would hide QEvent's.
#undef Expose
#include <glib.h>
#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <unistd.h>

// Where Qt 6.4 and Xlib end a program whose X server went away, and why it
// must not happen there:
//  - the xcb platform's event source sees the broken connection on the
//    window's thread and calls exit(1);
//  - Xlib's handler of a broken connection (Qt's prints a line and calls
//    Xlib's default, which calls exit(1)) runs on whichever thread met the
//    broken connection first, often a render thread presenting a frame.
// exit() then destroys the process's static objects while the render
// threads, the pool's workers and the window's thread go on using them:
// crashes and a corrupted heap, and the sends being settled are cut off.
//
// Instead, a glib source of higher priority than the platform's notices the
// loss first (the connection's error, or the socket hung up), takes the
// platform's source out of the loop (nothing else would call the check
// that exits), and asks the event loop to end with kDisplayLostExitCode:
// the program then ends as it does when the user quits, but for the windows
// (see dropViewsKeepWindows). Xlib's handlers are replaced by ones that
// record the loss and wake the window's thread; a render thread that meets
// the broken connection stays in the handler for good (past it, Xlib and the
// OpenGL driver crash), no window starts a frame from then on (it would wait
// for that thread), and the quit path leaves the windows alone.
// Should exit() be reached all the same, or the quit path not end within
// 3 s, the process ends right there (every send shown is already kept by
// then: store or journal), without running the static destructors under the
// live threads.

namespace velmor::app {

namespace {

std::atomic<bool> g_watching{true};
std::atomic<bool> g_lost{false};
std::atomic<bool> g_quitAsked{false};
xcb_connection_t *g_connection = nullptr;
GMainContext *g_context = nullptr;

struct LossSource
{
    GSource source;
    GPollFD socket;
    guint id;
};

LossSource *g_source = nullptr;

// However the quit path fares without a display, the process ends this
// long after the loss (every send shown is kept by then, store or journal);
// sooner when the window's thread has not even begun it: a Qt Quick window's
// frame started just before the loss waits for its render thread, which
// stays in Xlib's handler below for good.
constexpr auto kEndAtLatest = std::chrono::seconds(3);
constexpr auto kQuitBegunWithin = std::chrono::seconds(1);

void endAtLatestLater()
{
    static std::once_flag started;
    std::call_once(started, [] {
        std::thread([] {
            const auto since = std::chrono::steady_clock::now();
            for (;;) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                const auto waited = std::chrono::steady_clock::now() - since;
                if (waited >= kEndAtLatest || (waited >= kQuitBegunWithin && !g_quitAsked.load()))
                    break;
            }
            std::fprintf(stderr, "display: the quit path %s; the program ends without it\n",
                         g_quitAsked.load() ? "did not end in time" : "could not begin (a frame waits for ever)");
            endWithoutDisplay(kDisplayLostExitCode);
        }).detach();
    });
}

bool connectionBroken()
{
    return g_watching.load()
        && (g_lost.load() || (g_connection && xcb_connection_has_error(g_connection) != 0));
}

// The xcb platform's own event source: its functions live in the platform
// plugin. Sources attached after `below` (ours) are not it.
void removePlatformSource(guint below)
{
    for (guint id = 1; id < below; ++id) {
        GSource *source = g_main_context_find_source_by_id(g_context, id);
        if (!source || !source->source_funcs || !source->source_funcs->prepare)
            continue;
        Dl_info info{};
        if (dladdr(reinterpret_cast<void *>(source->source_funcs->prepare), &info) && info.dli_fname
            && std::strstr(info.dli_fname, "XcbQpa"))
            g_source_destroy(source);
    }
}

void endEventLoop()
{
    if (g_quitAsked.exchange(true))
        return;
    g_lost = true;
    endAtLatestLater();
    if (g_source)
        removePlatformSource(g_source->id);
    std::fprintf(stderr, "display: the connection to the X server is lost; the program ends\n");
    QCoreApplication::exit(kDisplayLostExitCode);
}

gboolean prepareSource(GSource *, gint *timeout)
{
    *timeout = -1;
    return connectionBroken();
}

gboolean checkSource(GSource *source)
{
    const auto *loss = reinterpret_cast<LossSource *>(source);
    return connectionBroken() || (loss->socket.revents & (G_IO_HUP | G_IO_ERR)) != 0;
}

gboolean dispatchSource(GSource *, GSourceFunc, gpointer)
{
    endEventLoop();
    g_source = nullptr;
    return G_SOURCE_REMOVE;
}

GSourceFuncs g_sourceFuncs = {prepareSource, checkSource, dispatchSource, nullptr, nullptr, nullptr};

// Any thread: the window's thread does the rest. Another thread (a render
// thread presenting a frame) stays here: once the connection broke, Xlib's
// and the OpenGL driver's state past this call is not safe to go on with
// (they crash in the shared-memory image code), and the quit path leaves the
// windows, and so their render threads, alone.
int onBrokenConnection(Display *)
{
    if (!g_watching.load())
        return 0;
    if (!g_lost.exchange(true))
        std::fprintf(stderr, "display: the X server went away\n");
    endAtLatestLater();
    if (g_context)
        g_main_context_wakeup(g_context);
    if (qApp && QThread::currentThread() != qApp->thread()) {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    }
    return 0;
}

void stayAfterBrokenConnection(Display *, void *) {}

// Once the display is lost no window starts a frame again: a Qt Quick
// window's frame waits for its render thread, which may be staying in the
// handler above for good.
class NoFramesAfterLoss : public QObject
{
protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!g_lost.load(std::memory_order_relaxed))
            return false;
        const QEvent::Type type = event->type();
        return (type == QEvent::UpdateRequest || type == QEvent::Expose || type == QEvent::PlatformSurface)
            && watched->isWindowType();
    }
};

void endRightAway()
{
    if (connectionBroken())
        endWithoutDisplay(kDisplayLostExitCode);
}

// exit() on the window's thread (the platform's own check of the broken
// connection, when it comes first) runs this thread's thread_local
// destructors before any other exit handler: the process ends there, before
// static objects go under the running threads.
struct EndAtExitOfLostDisplay
{
    ~EndAtExitOfLostDisplay() { endRightAway(); }
};
thread_local EndAtExitOfLostDisplay t_endAtExit;

} // namespace

bool displayLost()
{
    return g_lost.load();
}

void dropViewsKeepWindows(std::unique_ptr<QQmlApplicationEngine> engine)
{
    engine->setIncubationController(nullptr);
    const QList<QObject *> roots = engine->rootObjects();
    for (QObject *root : roots) {
        auto *window = qobject_cast<QQuickWindow *>(root);
        if (!window)
            continue;
        // What the documents made (the views, popups, timers, connections),
        // not the window's own parts.
        QQuickItem *content = window->contentItem();
        qDeleteAll(content->childItems());
        QList<QPointer<QObject>> made;
        for (QObject *child : window->children()) {
            if (child != content && !qobject_cast<QQuickItem *>(child) && qmlEngine(child))
                made.append(child);
        }
        for (const QPointer<QObject> &object : std::as_const(made))
            delete object.data();
    }
    // The engine holds the windows: it is left with them.
    (void)engine.release();
}

void endWithoutDisplay(int exitCode)
{
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(exitCode);
}

void watchDisplayLoss()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection() || g_connection)
        return;
    g_connection = x11->connection();
    // Gone with the application object, whose end closes the display: from
    // then on nothing here counts as a loss.
    QObject::connect(qApp, &QObject::destroyed, [] {
        g_watching = false;
        g_connection = nullptr;
    });
    if (Display *display = x11->display()) {
        XSetIOErrorHandler(onBrokenConnection);
        XSetIOErrorExitHandler(display, stayAfterBrokenConnection, nullptr);
    }
    std::atexit(endRightAway);
    (void)&t_endAtExit;
    qApp->installEventFilter(new NoFramesAfterLoss);
    // Qt's glib event dispatcher runs the default context on this thread.
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher || !dispatcher->inherits("QEventDispatcherGlib"))
        return;
    g_context = g_main_context_default();
    g_source = reinterpret_cast<LossSource *>(g_source_new(&g_sourceFuncs, sizeof(LossSource)));
    g_source->socket.fd = xcb_get_file_descriptor(g_connection);
    g_source->socket.events = G_IO_HUP | G_IO_ERR;
    g_source->socket.revents = 0;
    g_source_add_poll(&g_source->source, &g_source->socket);
    g_source_set_priority(&g_source->source, G_PRIORITY_HIGH);
    g_source_set_can_recurse(&g_source->source, TRUE);
    g_source->id = g_source_attach(&g_source->source, g_context);
    g_source_unref(&g_source->source);
}

} // namespace velmor::app
