// Start-up of the program as a user sees it: from process start to the
// first frame of the login window, and, with a saved identity, to the first
// frame of the home view after the automatic sign-in, against the local
// relay, and to the first frame that shows the sidebar's rows with 20 and
// with 2,000 stored conversations, beside a bare window showing a list of
// as many rows; the first row counts once it is made and in view. Held to
// 1.3x the bare with rows, 1.5x for the login window. Beside
// each time, the window's thread's longest wait until that frame, from the
// application object's making (stall_ms). Each iteration starts this
// program again in child mode,
// which runs the same start-up as pelorin with a hook that reports the frame.
//
//   ./build/bench/app/app_start_bench      (offscreen unless a display is set)
//
// PELORIN_START_PHASES=1 adds where the time went (ms from the child's
// main(): loaded, signed_in, first_frame, view_made, frame_swapped, and the
// CPU used); PELORIN_START_TRACE=1 prints each child's lines as it runs;
// PELORIN_START_EARLIER=<copy of an earlier build of this program> runs its
// starts too, interleaved, and prints this build's ratio to it.
#include "bench/loopback_endpoints.h"
#include "bench/app/saved_profile.h"
#include "bench/app/window_probe.h"
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
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QtQml/qqmlextensionplugin.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <utility>

Q_IMPORT_QML_PLUGIN(VelmorPlugin)

// Calls `made` once the loader holds the home view.
class ViewMade : public QObject
{
    Q_OBJECT
public:
    ViewMade(QObject *loader, std::function<void()> made)
        : QObject(loader)
        , m_made(std::move(made))
    {
        connect(loader, SIGNAL(loaded()), this, SLOT(check()));
    }

private slots:
    void check()
    {
        if (m_made && parent()->property("source").toUrl().fileName() == QLatin1String("HomeView.qml"))
            std::exchange(m_made, nullptr)();
    }

private:
    std::function<void()> m_made;
};

namespace {

// Whether the sidebar's first row is made and shown in the window: a list
// that has its rows but is still being built (not yet laid out, or in a view
// not yet complete) shows none.
bool firstRowShown(QQuickWindow *window)
{
    auto *list = window->findChild<QQuickItem *>(QStringLiteral("convList"));
    if (!list || list->property("count").toInt() <= 0 || !list->isVisible() || list->window() != window)
        return false;
    QQuickItem *row = nullptr;
    // Called while the window's thread waits for the frame's synchronisation.
    QMetaObject::invokeMethod(list, "itemAtIndex", Qt::DirectConnection, Q_RETURN_ARG(QQuickItem *, row), Q_ARG(int, 0));
    if (!row || !row->isVisible() || row->width() <= 0)
        return false;
    for (QQuickItem *item = row; item; item = item->parentItem()) {
        if (!item->isVisible() || item->opacity() <= 0)
            return false;
        if (item == window->contentItem())
            return true;
    }
    return false;
}

// Where a start's time goes, in ms from the child's main(): the window
// loaded, the sign-in completed, the first frame (whatever it shows), the
// view the window shows made; and at the frame reported, the CPU the
// process and its GUI thread had used (cpu, gui_cpu). Printed as
// "phase <name> <ms>" lines.
struct Phases
{
    int64_t start = velmor::bench::monotonicNanos();
    void mark(const char *name) const
    {
        std::printf("phase %s %.1f\n", name, double(velmor::bench::monotonicNanos() - start) / 1e6);
        std::fflush(stdout);
    }
};

// Child mode: "child login" reports the first frame; "child home" reports the
// first frame drawn once the automatic sign-in has completed; "child rows"
// the first frame drawn with rows in the sidebar.
int runChild(int argc, char **argv)
{
    static const Phases phases;
    const bool home = qstrcmp(argv[2], "home") == 0;
    const bool rows = qstrcmp(argv[2], "rows") == 0;
    velmor::app::StartOptions options;
    // The window's thread's longest wait before the frame (the bare window
    // measures from the same point).
    static std::unique_ptr<velmor::bench::StallProbe> probe;
    options.afterApplication = [] {
        probe = std::make_unique<velmor::bench::StallProbe>();
        probe->startWatching();
        velmor::bench::cpuSoFar(); // from the GUI thread first
    };
    options.afterLoad = [home, rows](QQmlApplicationEngine &engine, AppController &app) {
        auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
        if (!window) {
            QCoreApplication::exit(2);
            return;
        }
        phases.mark("loaded");
        QObject::connect(&app, &AppController::loggedInChanged, window, [&app] {
            static bool once = false;
            if (app.loggedIn() && !std::exchange(once, true))
                phases.mark("signed_in");
        });
        QObject::connect(window, &QQuickWindow::frameSwapped, window, [] { phases.mark("first_frame"); },
                         Qt::ConnectionType(Qt::DirectConnection | Qt::SingleShotConnection));
        // The home view made (its loader's item in place).
        if (QObject *loader = window->findChild<QObject *>(QStringLiteral("viewLoader")))
            new ViewMade(loader, [] { phases.mark("view_made"); });
        // What a frame shows is read while it is synchronised (the window's
        // thread waits then), and "frame" is printed as that frame is
        // swapped, on the render thread: rows that come in after a frame was
        // drawn count from the next one, and a window's thread that is busy
        // after the frame does not delay the figure.
        auto shows = std::make_shared<std::atomic<bool>>(false);
        auto reported = std::make_shared<std::atomic<bool>>(false);
        QObject::connect(
            window, &QQuickWindow::beforeSynchronizing, window,
            [home, rows, window, shows, &app] {
                bool shown = !(home || rows) || app.loggedIn();
                if (shown && rows)
                    shown = firstRowShown(window);
                shows->store(shown);
                // With PELORIN_START_TRACE, each frame's synchronisation and
                // what the sidebar's list held then.
                static int syncs = 0;
                ++syncs;
                if (qEnvironmentVariableIsSet("PELORIN_START_TRACE")) {
                    auto *list = window->findChild<QQuickItem *>(QStringLiteral("convList"));
                    std::printf("sync %d at %.1f ms: list %s, %d rows, first row shown %d\n", syncs,
                                double(velmor::bench::monotonicNanos() - phases.start) / 1e6,
                                list ? "made" : "not made", list ? list->property("count").toInt() : 0, int(shown));
                }
            },
            Qt::DirectConnection);
        QObject::connect(
            window, &QQuickWindow::frameSwapped, window,
            [shows, reported] {
                if (!shows->load() || reported->exchange(true))
                    return;
                probe->stopCountingAt(velmor::bench::monotonicNanos());
                phases.mark("frame_swapped");
                const velmor::bench::CpuSoFar cpu = velmor::bench::cpuSoFar();
                std::printf("phase cpu %.1f\nphase gui_cpu %.1f\n", cpu.processMs, cpu.guiThreadMs);
                std::fputs("frame\n", stdout);
                std::fflush(stdout);
                QMetaObject::invokeMethod(qApp, [] {
                    std::printf("stall %.1f\n", probe->worstMs());
                    std::fflush(stdout);
                    probe.reset();
                    QCoreApplication::exit(0);
                }, Qt::QueuedConnection);
            },
            Qt::DirectConnection);
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
    QTemporaryDir fewRowsProfile;  // 20 conversations
    QTemporaryDir manyRowsProfile; // 2,000
    bool ok = false;

    Services()
    {
        if (relay.start() == 0 || !freshProfile.isValid() || !savedProfile.isValid())
            return;
        ok = saveNewIdentityIn(savedProfile.path()) && saveNewIdentityIn(fewRowsProfile.path(), 20)
            && saveNewIdentityIn(manyRowsProfile.path(), 2000);
    }
};

Services &services()
{
    static Services instance;
    return instance;
}

// PELORIN_START_EARLIER names another build of this program (a copy of an
// earlier one): its starts run as BM_Earlier_..., interleaved with this
// build's and the bare's in the same run, so a change is measured against
// what it replaces on the same machine at the same moment.
QString earlierBuild()
{
    return qEnvironmentVariable("PELORIN_START_EARLIER");
}

void startToFrame(benchmark::State &state, const char *mode, const QString &profile, const QString &program = {})
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

    double stallMs = 0;
    int starts = 0;
    std::map<std::string, double> phaseMs;
    for (auto _ : state) {
        QProcess child;
        child.setProcessEnvironment(env);
        // PELORIN_START_TRACE prints each child's own lines (its phases,
        // its frames' synchronisations, its warnings and logging).
        const bool trace = qEnvironmentVariableIsSet("PELORIN_START_TRACE");
        if (trace)
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer clock;
        clock.start();
        // PELORIN_BENCH_CHILD_PREFIX runs the child under a tool, e.g.
        // "perf record -g -o /tmp/start.data" to see where its start goes.
        QStringList command = QString::fromLocal8Bit(qgetenv("PELORIN_BENCH_CHILD_PREFIX")).split(' ', Qt::SkipEmptyParts);
        if (qstrncmp(mode, "bare", 4) == 0)
            command << QCoreApplication::applicationDirPath() + QStringLiteral("/bare_window_start")
                    << QString::fromLatin1(mode).split(' ').mid(1);
        else
            command << (program.isEmpty() ? QCoreApplication::applicationFilePath() : program) << QStringLiteral("child")
                    << QString::fromLatin1(mode);
        child.start(command.takeFirst(), command);
        QByteArray out;
        // The line "frame" alone (a phase's name may hold the word).
        const auto framed = [&out] { return out.startsWith("frame\n") || out.contains("\nframe\n"); };
        // A child under a tool (10-50 times slower) is given longer.
        const int readWaitMs = qEnvironmentVariableIsEmpty("PELORIN_BENCH_CHILD_PREFIX") ? 20000 : 600000;
        while (!framed() && child.waitForReadyRead(readWaitMs))
            out += child.readAllStandardOutput();
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        // A tool writes its record as the child ends: a child killed at the
        // wait's end leaves none.
        child.waitForFinished(qEnvironmentVariableIsEmpty("PELORIN_BENCH_CHILD_PREFIX") ? 10000 : readWaitMs);
        out += child.readAllStandardOutput();
        if (!framed()) {
            state.SkipWithError("the window drew no frame");
            return;
        }
        state.SetIterationTime(seconds);
        if (trace)
            std::fprintf(stderr, "---- %s %s: %.1f ms\n%s", qPrintable(program.isEmpty() ? QStringLiteral("this build") : program),
                         mode, seconds * 1e3, out.constData());
        const int at = out.indexOf("stall ");
        stallMs += at < 0 ? 0 : out.mid(at + 6, out.indexOf('\n', at) - at - 6).toDouble();
        for (const QByteArray &line : out.split('\n')) {
            const QList<QByteArray> words = line.split(' ');
            if (words.size() == 3 && words[0] == "phase")
                phaseMs[words[1].toStdString() + "_ms"] += words[2].toDouble();
        }
        ++starts;
    }
    // The window thread's longest wait before that frame, from the
    // application object's making.
    if (starts > 0)
        state.counters["stall_ms"] = stallMs / starts;
    // With PELORIN_START_PHASES set, where the time went (ms from the
    // child's main(); the bare window's "loaded" is its window made).
    if (starts > 0 && qEnvironmentVariableIsSet("PELORIN_START_PHASES")) {
        for (const auto &[name, ms] : phaseMs)
            state.counters[name] = ms / starts;
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

void BM_StartToSidebarRows(benchmark::State &state)
{
    startToFrame(state, "rows",
                 state.range(0) > 100 ? services().manyRowsProfile.path() : services().fewRowsProfile.path());
}

void BM_Earlier_StartToSidebarRows(benchmark::State &state)
{
    startToFrame(state, "rows",
                 state.range(0) > 100 ? services().manyRowsProfile.path() : services().fewRowsProfile.path(),
                 earlierBuild());
}

void BM_Bare_StartToRows(benchmark::State &state)
{
    const QByteArray mode = "bare " + QByteArray::number(state.range(0));
    startToFrame(state, mode.constData(), services().freshProfile.path());
}

// PELORIN_START_REPEATS (25) sets how many times for a quicker look.
int startRepeats()
{
    const int n = qEnvironmentVariableIntValue("PELORIN_START_REPEATS");
    return n > 0 ? n : 25;
}

// Starts of 2 at a time, 25 times each, in random order among all of them:
// a machine whose speed drifts (a shared one does, by 10-30 % over minutes)
// then slows both sides of a pair alike, which whole runs of 10 did not.
BENCHMARK(BM_StartToSidebarRows)->Arg(20)->Arg(2000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(startRepeats());
BENCHMARK(BM_Bare_StartToRows)->Arg(20)->Arg(2000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(startRepeats());
BENCHMARK(BM_StartToLoginFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(startRepeats());
BENCHMARK(BM_Bare_StartToFirstFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(startRepeats());
BENCHMARK(BM_StartToHomeFrameWithAutoLogin)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(startRepeats());

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && qstrcmp(argv[1], "child") == 0)
        return runChild(argc, argv);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Pelorin"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quillet"));
    const auto run = [](const char *name) {
        return std::string(name) + "/iterations:2/repeats:" + std::to_string(startRepeats()) + "/manual_time";
    };
    std::vector<velmor::bench::Ratio> ratios{
        {run("BM_StartToLoginFrame"), run("BM_Bare_StartToFirstFrame"), 1.5},
        {run("BM_StartToHomeFrameWithAutoLogin"), run("BM_Bare_StartToFirstFrame"), 0},
        {run("BM_StartToSidebarRows/20"), run("BM_Bare_StartToRows/20"), 1.3},
        {run("BM_StartToSidebarRows/2000"), run("BM_Bare_StartToRows/2000"), 1.3}};
    if (!earlierBuild().isEmpty()) {
        benchmark::RegisterBenchmark("BM_Earlier_StartToSidebarRows", BM_Earlier_StartToSidebarRows)
            ->Arg(20)->Arg(2000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2)->Repetitions(startRepeats());
        for (const std::string rows : {"/20", "/2000"}) {
            const std::string earlier = run(("BM_Earlier_StartToSidebarRows" + rows).c_str());
            ratios.push_back({earlier, run(("BM_Bare_StartToRows" + rows).c_str()), 0});
            ratios.push_back({run(("BM_StartToSidebarRows" + rows).c_str()), earlier, 0});
        }
    }
    // The starts of all the benchmarks run in one random order also when
    // the repetitions are given on the command line (which otherwise turns
    // the interleaving off): run one after another, a machine whose load
    // drifts over the minutes gave spreads larger than the gap measured.
    std::vector<char *> args(argv, argv + argc);
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    bool repetitionsGiven = false;
    bool interleavingGiven = false;
    for (int i = 1; i < argc; ++i) {
        repetitionsGiven = repetitionsGiven || qstrncmp(argv[i], "--benchmark_repetitions", 23) == 0;
        interleavingGiven = interleavingGiven || qstrncmp(argv[i], "--benchmark_enable_random_interleaving", 38) == 0;
    }
    if (repetitionsGiven && !interleavingGiven)
        args.push_back(interleave);
    int count = int(args.size());
    args.push_back(nullptr);
    return velmor::bench::runWithRatios(count, args.data(), ratios);
}

#include "app_start_bench.moc"
