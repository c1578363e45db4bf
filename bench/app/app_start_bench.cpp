// Start-up of the program as a user sees it: from process start to the
// first frame of the login window, and, with a saved identity, to the first
// frame of the home view after the automatic sign-in, against the local
// relay. Each iteration starts this program again in child mode, which runs
// the same start-up as pelorin with a hook that reports the frame.
//
//   ./build/bench/app/app_start_bench      (offscreen unless a display is set)
#include "bench/loopback_endpoints.h"
#include "bench/app/saved_profile.h"
#include "../bench_ratio.h"
#include "app/app_controller.h"
#include "app/application.h"
#include "identity/identity.h"
#include "identity/vault.h"
#include "support/fake_relay.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtQml/qqmlextensionplugin.h>

#include <benchmark/benchmark.h>

Q_IMPORT_QML_PLUGIN(VelmorPlugin)

namespace {

// Child mode: "child login" reports the first frame; "child home" reports the
// first frame drawn once the automatic sign-in has completed.
int runChild(int argc, char **argv)
{
    const bool home = qstrcmp(argv[2], "home") == 0;
    velmor::app::StartOptions options;
    options.afterLoad = [home](QQmlApplicationEngine &engine, AppController &app) {
        auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
        if (!window) {
            QCoreApplication::exit(2);
            return;
        }
        QObject::connect(window, &QQuickWindow::frameSwapped, window, [home, &app] {
            if (home && !app.loggedIn())
                return;
            QTextStream(stdout) << "frame" << Qt::endl;
            QCoreApplication::exit(0);
        });
    };
    int childArgc = 1;
    Q_UNUSED(argc);
    return velmor::app::runApplication(childArgc, argv, options);
}

struct Services
{
    velmor::fakes::FakeRelay relay{velmor::fakes::FakeRelay::Options{true}};
    QTemporaryDir freshProfile;
    QTemporaryDir savedProfile;
    bool ok = false;

    Services()
    {
        if (relay.start() == 0 || !freshProfile.isValid() || !savedProfile.isValid())
            return;
        ok = saveNewIdentityIn(savedProfile.path());
    }
};

Services &services()
{
    static Services instance;
    return instance;
}

void startToFrame(benchmark::State &state, const char *mode, const QString &profile)
{
    Services &fixture = services();
    if (!fixture.ok) {
        state.SkipWithError("local services or profiles could not be set up");
        return;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), profile);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), profile + QStringLiteral("/config"));
    env.insert(QStringLiteral("PELORIN_NODE_DIRECTORY_URL"), fixture.relay.baseUrl());
    env.insert(QStringLiteral("PELORIN_GROUP_CENTER_URL"), velmor::bench::deadLoopbackUrl());
    if (!env.contains(QStringLiteral("DISPLAY")) && !env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    for (auto _ : state) {
        QProcess child;
        child.setProcessEnvironment(env);
        QElapsedTimer clock;
        clock.start();
        if (qstrcmp(mode, "bare") == 0)
            child.start(QCoreApplication::applicationDirPath() + QStringLiteral("/bare_window_start"), {});
        else
            child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("child"), QString::fromLatin1(mode)});
        QByteArray out;
        while (!out.contains("frame") && child.waitForReadyRead(20000))
            out += child.readAllStandardOutput();
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        child.waitForFinished(10000);
        if (!out.contains("frame")) {
            state.SkipWithError("the window drew no frame");
            return;
        }
        state.SetIterationTime(seconds);
    }
}

void BM_StartToLoginFrame(benchmark::State &state)
{
    startToFrame(state, "login", services().freshProfile.path());
}

void BM_StartToHomeFrameWithAutoLogin(benchmark::State &state)
{
    startToFrame(state, "home", services().savedProfile.path());
}

void BM_Bare_StartToFirstFrame(benchmark::State &state)
{
    startToFrame(state, "bare", services().freshProfile.path());
}

BENCHMARK(BM_StartToLoginFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_Bare_StartToFirstFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_StartToHomeFrameWithAutoLogin)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && qstrcmp(argv[1], "child") == 0)
        return runChild(argc, argv);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Pelorin"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quillet"));
    return velmor::bench::runWithRatios(
        argc, argv,
        {{"BM_StartToLoginFrame/iterations:10/manual_time", "BM_Bare_StartToFirstFrame/iterations:10/manual_time", 1.5},
         {"BM_StartToHomeFrameWithAutoLogin/iterations:10/manual_time",
          "BM_Bare_StartToFirstFrame/iterations:10/manual_time", 0}});
}
