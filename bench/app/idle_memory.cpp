#include "idle_memory.h"

#include "idle_child.h"
#include "window_probe.h"

#include <QFile>
#include <QQuickWindow>
#include <QTimer>

#include <cstdio>

#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace velmor::bench::idle {

namespace {

// PELORIN_BENCH_MEMORY_DUMP=<folder>: beside the figure, the child's
// mappings (smaps) and its heap's state (malloc_info) as it was measured, to
// see what holds the memory.
void dumpMemory(const QString &tag)
{
    const QString folder = qEnvironmentVariable("PELORIN_BENCH_MEMORY_DUMP");
    if (folder.isEmpty())
        return;
    // Read whole: a file of /proc tells no size, which QFile::copy trusts.
    QFile maps(QStringLiteral("/proc/self/smaps"));
    QFile copy(folder + QLatin1Char('/') + tag + QStringLiteral(".smaps"));
    if (maps.open(QIODevice::ReadOnly) && copy.open(QIODevice::WriteOnly | QIODevice::Truncate))
        copy.write(maps.readAll());
#ifdef __GLIBC__
    if (FILE *out = std::fopen(QFile::encodeName(folder + QLatin1Char('/') + tag + QStringLiteral(".malloc.xml")), "w")) {
        malloc_info(0, out);
        std::fclose(out);
    }
#endif
}

} // namespace

// Resident memory once the window has rested with its rows shown.
void measureMemory(QQuickWindow *window, const QString &tag, const std::function<bool()> &rowsShown)
{
    auto *poll = new QTimer(window);
    QObject::connect(poll, &QTimer::timeout, window, [=] {
        if (!rowsShown())
            return;
        poll->stop();
        QTimer::singleShot(kSettleMs, window, [tag] {
            const double rss = residentMegabytes();
            dumpMemory(tag);
            report(QStringLiteral("rss %1").arg(rss));
            // PELORIN_BENCH_END_AT_MEASURE=1: the child ends here, freeing
            // nothing, so that a heap profiler it runs under (see
            // PELORIN_BENCH_CHILD_PREFIX) counts as not freed what the heap
            // held when it was measured.
            if (qEnvironmentVariableIntValue("PELORIN_BENCH_END_AT_MEASURE") == 1) {
                std::fflush(stdout);
                ::_exit(0);
            }
        });
    });
    poll->start(50);
}

} // namespace velmor::bench::idle
