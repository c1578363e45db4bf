#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>

class QQuickWindow;

namespace velmor::app {

// Gives the heap's free pages back to the system once the window has
// settled after a burst of work (the sign-in and its lists, a conversation
// opened, a long paste let go). glibc keeps what a thread freed for its next
// allocation, where it counts as the program's own for as long as it runs:
// after a sign-in with 2,000 conversations that was about 10 MB of the
// window's resident memory. A second of at most a few frames (a blinking
// cursor) after a busier one counts as settled; `release` is then called on
// the window's thread (it hands the work to the pool), at most once every
// `minIntervalMs`. A window that draws nothing costs no wake-up.
class HeapRelease : public QObject
{
    Q_OBJECT
public:
    using Release = std::function<void()>;
    // Frames within one `periodMs` that still count as quiet.
    static constexpr int kQuietFrames = 3;

    HeapRelease(QQuickWindow *window, Release release, int periodMs = 1000, int minIntervalMs = 2000);

    // Gives the heap's free pages back (glibc's malloc_trim): a few
    // milliseconds with a signed-in heap, to be run on the pool.
    static void trimHeap();

private:
    void frameDrawn();
    void periodEnded();

    Release m_release;
    int m_periodMs;
    int m_minIntervalMs;
    QTimer m_period;
    int m_frames = 0;
    bool m_worked = false;
    QElapsedTimer m_sinceRelease;
};

} // namespace velmor::app
