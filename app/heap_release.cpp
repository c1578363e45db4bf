#include "app/heap_release.h"

#include <QQuickWindow>

#include <algorithm>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace velmor::app {

HeapRelease::HeapRelease(QQuickWindow *window, Release release, int periodMs, int minIntervalMs)
    : QObject(window)
    , m_release(std::move(release))
    , m_periodMs(periodMs)
    , m_minIntervalMs(minIntervalMs)
{
    m_period.setSingleShot(true);
    connect(&m_period, &QTimer::timeout, this, &HeapRelease::periodEnded);
    // Swapped on the render thread: counted on this one.
    connect(window, &QQuickWindow::frameSwapped, this, &HeapRelease::frameDrawn, Qt::QueuedConnection);
}

void HeapRelease::trimHeap()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

void HeapRelease::frameDrawn()
{
    ++m_frames;
    if (!m_period.isActive())
        m_period.start(m_periodMs);
}

void HeapRelease::periodEnded()
{
    const bool quiet = m_frames <= kQuietFrames;
    m_frames = 0;
    if (!quiet) {
        m_worked = true;
        m_period.start(m_periodMs);
        return;
    }
    if (!m_worked)
        return;
    if (m_sinceRelease.isValid() && m_sinceRelease.elapsed() < m_minIntervalMs) {
        // Settled again soon after the last release: once the interval is up.
        m_period.start(int(std::max<qint64>(m_periodMs, m_minIntervalMs - m_sinceRelease.elapsed())));
        return;
    }
    m_worked = false;
    m_sinceRelease.start();
    m_release();
}

} // namespace velmor::app
