// Measurements a benchmark child takes of its own GUI thread and window:
// CPU of the process and of the GUI thread, resident memory, frames drawn,
// wake-ups the views cause, and the GUI thread's longest stall as seen by
// another thread whose calls it has to answer.
#pragma once

#include <QAtomicInteger>
#include <QObject>
#include <QThread>

#include <atomic>
#include <cstdint>

class QQuickItem;
class QQuickWindow;
class QString;

namespace velmor::bench {

double processCpuSeconds();
double threadCpuSeconds(); // of the calling thread
double residentMegabytes();
int64_t monotonicNanos();

// The CPU the process (all its threads) and its GUI thread have used so
// far, in ms; callable from any thread once the application object exists.
// Less swayed by a loaded machine than the time to a frame: the figures a
// start's phases add beside it.
struct CpuSoFar
{
    double processMs = 0;
    double guiThreadMs = 0;
};
CpuSoFar cpuSoFar();

// The first item under root (itself included) with this objectName.
QQuickItem *findItem(QQuickItem *root, const QString &name);

// Frames the window swapped, counted on the render thread (no GUI wake-up).
class FrameCounter : public QObject
{
public:
    explicit FrameCounter(QQuickWindow *window);
    int count() const { return m_frames.loadRelaxed(); }

private:
    QAtomicInteger<int> m_frames = 0;
};

// Events the views wake the GUI thread for: timer events of Qt Quick's and
// QML's timers and animations, and the window's update requests.
class ViewWakeups : public QObject
{
public:
    ViewWakeups();
    ~ViewWakeups() override;
    int count() const { return m_count; }
    void reset() { m_count = 0; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int m_count = 0;
};

// Posts a call to the GUI thread every 2 ms (one at a time) and keeps the
// longest wait of one for its answer.
class StallProbe : public QThread
{
public:
    StallProbe();
    ~StallProbe() override;
    void startWatching(); // the worst so far is forgotten
    // Waits from `nanos` (monotonicNanos()) on are not counted; one under
    // way then counts until `nanos`. Callable from any thread.
    void stopCountingAt(int64_t nanos) { m_until = nanos; }
    double worstMs() const { return double(m_worstNs.load()) / 1e6; }

protected:
    void run() override;

private:
    QObject m_guiTarget;
    std::atomic<int64_t> m_worstNs{0};
    std::atomic<int64_t> m_until{INT64_MAX};
    std::atomic<int64_t> m_postedAt{0}; // 0: nothing in flight
    std::atomic<bool> m_stop{false};
};

} // namespace velmor::bench
