#include "window_probe.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QQuickItem>
#include <QQuickWindow>

#include <algorithm>

#include <pthread.h>
#include <sys/resource.h>
#include <time.h>

namespace velmor::bench {

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double residentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

int64_t monotonicNanos()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

namespace {
// The thread that first asks is taken for the GUI thread: the children call
// cpuSoFar() once on it (see startCpuWatch in their main()).
pthread_t guiThread()
{
    static const pthread_t thread = pthread_self();
    return thread;
}
} // namespace

CpuSoFar cpuSoFar()
{
    CpuSoFar cpu;
    cpu.processMs = processCpuSeconds() * 1000.0;
    clockid_t clock{};
    timespec t{};
    if (pthread_getcpuclockid(guiThread(), &clock) == 0 && clock_gettime(clock, &t) == 0)
        cpu.guiThreadMs = double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
    return cpu;
}

FrameCounter::FrameCounter(QQuickWindow *window)
    : QObject(window)
{
    connect(window, &QQuickWindow::frameSwapped, this, [this] { m_frames.fetchAndAddRelaxed(1); },
            Qt::DirectConnection);
}

ViewWakeups::ViewWakeups()
{
    QCoreApplication::instance()->installEventFilter(this);
}

ViewWakeups::~ViewWakeups()
{
    QCoreApplication::instance()->removeEventFilter(this);
}

bool ViewWakeups::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::UpdateRequest && watched->isWindowType()) {
        ++m_count;
    } else if (event->type() == QEvent::Timer) {
        // QML Timers and animations are driven by the unified animation
        // timer; Qt Quick's own items and the render loop by theirs.
        const QByteArray name = watched->metaObject()->className();
        if (name.contains("Animation") || name.contains("UnifiedTimer") || name.startsWith("QQuick")
            || name.startsWith("QQml") || name.startsWith("QSG"))
            ++m_count;
    }
    return false;
}

StallProbe::StallProbe()
{
    m_guiTarget.moveToThread(QCoreApplication::instance()->thread());
}

StallProbe::~StallProbe()
{
    m_stop = true;
    wait();
}

void StallProbe::startWatching()
{
    m_worstNs = 0;
    if (!isRunning())
        start();
}

void StallProbe::run()
{
    while (!m_stop) {
        const int64_t now = monotonicNanos();
        const int64_t posted = m_postedAt.load();
        if (posted == 0) {
            m_postedAt = now;
            QMetaObject::invokeMethod(&m_guiTarget, [this] {
                const int64_t posted = m_postedAt.exchange(0);
                const int64_t waited = std::min(monotonicNanos(), m_until.load()) - posted;
                int64_t worst = m_worstNs.load();
                while (waited > worst && !m_worstNs.compare_exchange_weak(worst, waited)) {}
            }, Qt::QueuedConnection);
        }
        QThread::usleep(2000);
    }
}

QQuickItem *findItem(QQuickItem *root, const QString &name)
{
    if (!root)
        return nullptr;
    if (root->objectName() == name)
        return root;
    const QList<QQuickItem *> children = root->childItems();
    for (QQuickItem *child : children) {
        if (QQuickItem *found = findItem(child, name))
            return found;
    }
    return nullptr;
}

} // namespace velmor::bench
