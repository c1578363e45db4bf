#pragma once
// The longest gap between ticks of a 1 ms timer on the thread that owns the
// meter: how long the GUI thread could not answer while some work ran.
#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <algorithm>

class GuiStallMeter : public QObject
{
public:
    GuiStallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_worstNs = std::max(m_worstNs, now - m_lastNs);
            m_lastNs = now;
        });
    }
    void start()
    {
        m_worstNs = 0;
        m_lastNs = 0;
        m_clock.start();
        m_timer.start();
    }
    // Stops the meter and gives the worst gap in milliseconds.
    double stopMs()
    {
        m_timer.stop();
        return double(m_worstNs) / 1e6;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastNs = 0;
    qint64 m_worstNs = 0;
};

// Runs the event loop until `done` holds (or 120 s pass): the controller's
// own timers and jobs do the work being measured.
template <typename Done>
void spinUntil(Done done)
{
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    poll.start();
    loop.exec();
}

// The meter over an idle event loop for `ms`: the waits the machine's own
// load puts on the GUI thread, beside which a measured worst stall is read.
inline double idleWorstStallMs(int ms = 2000)
{
    GuiStallMeter meter;
    meter.start();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return meter.stopMs();
}
