#include "app/graphics_driver.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QQuickWindow>
#include <QThreadPool>
#include <QtGui/qguiapplication_platform.h>

#include <X11/Xlib.h>

#include <dlfcn.h>

namespace velmor::app {

// A Qt Quick window's first step asks whether its OpenGL can draw from a
// thread of its own, which picks a configuration and makes a context on the
// window's thread; the driver's first use on a display loads it (software
// OpenGL: the driver and its shader compiler, well over a hundred megabytes
// with a hundred thousand symbols to bind) and sets up the display's
// screens. That was half of the window thread's work to the home view's
// first frame. Asking the display's configurations here, on the pool, does
// the same set-up beside the application's and the window's making; the
// driver's own locks make the window's step wait for it while it is still
// under way. The configurations are found through the GLX library the
// platform already loaded, not linked.
void prepareGraphicsDriver()
{
    // The windows draw with GLX unless told otherwise (EGL on X, another
    // graphics interface, another platform).
    const QByteArray integration = qgetenv("QT_XCB_GL_INTEGRATION");
    if (QGuiApplication::platformName() != QLatin1String("xcb")
        || QQuickWindow::graphicsApi() != QSGRendererInterface::OpenGL
        || !(integration.isEmpty() || integration == "xcb_glx"))
        return;
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    Display *display = x11 ? x11->display() : nullptr;
    using GetConfigs = void **(*)(Display *, int, int *);
    const auto getConfigs = reinterpret_cast<GetConfigs>(dlsym(RTLD_DEFAULT, "glXGetFBConfigs"));
    if (!display || !getConfigs)
        return;
    QThreadPool::globalInstance()->start([display, getConfigs] {
        int count = 0;
        if (void **configs = getConfigs(display, XDefaultScreen(display), &count))
            XFree(configs);
    });
}

// Before its first window, Qt Quick asks whether OpenGL may draw from a
// render thread: Qt makes an offscreen surface and a context on the window's
// thread and reads the driver's name, to turn threads off for two drivers
// known to crash with them. With no graphics device the driver is Mesa's
// software rasteriser, which is not one of them and draws from any thread,
// and the question cost 20-30 ms of the window's making there (about 5 % of
// a start to the home view's rows). A value set in the environment is kept.
void skipThreadingQuestionWithoutGraphicsDevice()
{
    if (!qEnvironmentVariableIsSet("QT_OPENGL_NO_SANITY_CHECK") && !QFileInfo::exists(QStringLiteral("/dev/dri")))
        qputenv("QT_OPENGL_NO_SANITY_CHECK", "1");
}

} // namespace velmor::app
