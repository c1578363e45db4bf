#include "net/network_thread.h"

#include "net/http_connection_pool.h"

#include <QCoreApplication>
#include <QMutex>
#include <QThread>

#include <utility>

namespace velmor::net {

namespace {

class NetworkThread : public QThread
{
public:
    explicit NetworkThread(std::function<void()> atStop) : m_atStop(std::move(atStop))
    {
        setObjectName(QStringLiteral("network"));
        // Work is posted to this object: it lives on the thread, so what is
        // posted before the thread's loop runs waits for it.
        m_inbox.moveToThread(this);
    }

    QObject *inbox() { return &m_inbox; }
    // Null once the thread is ending: the work must then give up at once.
    const NetworkManagers *managers() const { return m_managers; }

protected:
    void run() override
    {
        HttpConnectionPool connections;
        HttpConnectionPool pictures;
        NetworkManagers managers{&connections, &pictures};
        m_managers = &managers;
        exec();
        if (m_atStop)
            m_atStop();
        // Work posted before the stop that the loop did not reach yet is
        // run without managers, so that whoever waits for it hears.
        m_managers = nullptr;
        QCoreApplication::sendPostedEvents(&m_inbox, 0);
    }

private:
    QObject m_inbox;
    const NetworkManagers *m_managers = nullptr;
    std::function<void()> m_atStop;
};

QMutex g_mutex;
NetworkThread *g_thread = nullptr;
std::function<void()> g_stopHook;
bool g_stopped = false;

void stopAtApplicationEnd()
{
    stopNetworkThread();
}

} // namespace

bool postToNetworkThread(std::function<void(const NetworkManagers *)> work)
{
    QMutexLocker lock(&g_mutex);
    if (g_stopped)
        return false;
    if (!g_thread) {
        g_thread = new NetworkThread(g_stopHook);
        g_thread->start();
        // A thread still running when the application object goes would
        // outlive what Qt's network code needs.
        if (QCoreApplication::instance())
            qAddPostRoutine(stopAtApplicationEnd);
    }
    NetworkThread *thread = g_thread;
    QMetaObject::invokeMethod(
        thread->inbox(), [thread, work = std::move(work)] { work(thread->managers()); }, Qt::QueuedConnection);
    return true;
}

void setNetworkThreadStopHook(std::function<void()> atStop)
{
    QMutexLocker lock(&g_mutex);
    g_stopHook = std::move(atStop);
}

void stopNetworkThread(int waitMs)
{
    NetworkThread *thread = nullptr;
    {
        QMutexLocker lock(&g_mutex);
        g_stopped = true;
        thread = std::exchange(g_thread, nullptr);
    }
    if (!thread)
        return;
    thread->quit();
    if (thread->wait(waitMs)) {
        delete thread;
        return;
    }
    // Stuck inside Qt's network code: the process ends without it rather
    // than wait longer (deleting a running thread would abort).
    qWarning("network: the network thread did not end in time");
}

} // namespace velmor::net
