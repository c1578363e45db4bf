#include "idle_memory.h"

#include "idle_child.h"
#include "../memory_dump.h"
#include "window_probe.h"

#include <QQuickWindow>
#include <QTimer>

#include <cstdio>

#include <unistd.h>

namespace velmor::bench::idle {

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
