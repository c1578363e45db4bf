#include "voice/voice_recorder.h"

#include "voice/capture_worker.h"

#include <QDeadlineTimer>
#include <QThread>

#include <atomic>
#include <mutex>

#include <stdlib.h>
#include <unistd.h>

namespace velmor::voice {

namespace {

// Workers given up whose thread has not ended.
std::atomic<int> g_heldWorkers{0};

// Qt 6.4's sound-server client is torn down among the exit handlers, and
// aborts the program when a thread still waits inside it (a worker whose
// stream was opened on a device that vanished in that instant waits for
// ever). With such a worker left, the process ends with its own exit status
// just before that teardown; the window, the files and the database were
// closed on the way out of main.
void endBeforeSoundServerTeardown(int status, void *)
{
    if (g_heldWorkers.load() > 0)
        _exit(status);
}

void giveUp(CaptureControl &control)
{
    static std::once_flag registered;
    std::call_once(registered, [] { on_exit(endBeforeSoundServerTeardown, nullptr); });
    control.stop.store(true);
    ++g_heldWorkers;
    if (control.ends.fetch_or(CaptureControl::GivenUp) & CaptureControl::ThreadEnded)
        --g_heldWorkers;
}

} // namespace

VoiceRecorder::VoiceRecorder(QObject *parent)
    : QObject(parent)
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(kTimeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, &VoiceRecorder::onTimeout);
}

// The program is closing (or the object going) with a recording running:
// the worker gets the time-out to close its file and leave the sound server
// before the libraries it runs in are torn down. This one wait is bounded and
// happens only after the window is gone.
VoiceRecorder::~VoiceRecorder()
{
    if (!running())
        return;
    m_control->stop.store(true);
    if (!m_thread->wait(QDeadlineTimer(kTimeoutMs)))
        giveUp(*m_control);
}

bool VoiceRecorder::start(const QAudioDevice &device, const QString &path)
{
    if (running())
        return false;
    const quint64 session = ++m_session;
    m_control = std::make_shared<CaptureControl>();
    // No parent: a thread held up in the sound server must be able to
    // outlive this object. It deletes itself and its worker when it ends.
    auto *thread = new QThread;
    thread->setObjectName(QStringLiteral("voice capture"));
    auto *worker = new CaptureWorker(device, path, m_control);
    worker->moveToThread(thread);
    connect(thread, &QThread::started, worker, &CaptureWorker::begin);
    // Direct: runs on the ending thread itself, whoever is gone by then.
    connect(thread, &QThread::finished, thread, [control = m_control] {
        if (control->ends.fetch_or(CaptureControl::ThreadEnded) & CaptureControl::GivenUp)
            --g_heldWorkers;
    }, Qt::DirectConnection);
    connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(worker, &CaptureWorker::streaming, this, [this, session] {
        if (session == m_session && running() && !m_control->stop.load())
            m_timeout.stop();
    });
    connect(worker, &CaptureWorker::levelMeasured, this, [this, session](double level) {
        if (session == m_session && running())
            emit levelMeasured(level);
    });
    connect(worker, &CaptureWorker::ended, this, [this, session](const QString &errorText, bool clipKept) {
        onWorkerEnded(session, errorText, clipKept);
    });
    m_thread = thread;
    m_timeout.start();
    thread->start();
    return true;
}

void VoiceRecorder::stop()
{
    if (!running() || m_control->stop.load())
        return;
    m_control->stop.store(true);
    m_timeout.start();
}

void VoiceRecorder::onWorkerEnded(quint64 session, const QString &errorText, bool clipKept)
{
    if (session != m_session || !running())
        return;
    release();
    emit ended(errorText, clipKept);
}

// A stream that never opened says the recording did not start; a worker
// that does not end after the stop says the stop failed.
void VoiceRecorder::onTimeout()
{
    if (!running())
        return;
    const bool stopping = m_control->stop.load();
    giveUp(*m_control);
    ++m_session;
    release();
    emit ended(stopping ? stopTimedOutText() : QStringLiteral("录音启动失败"), false);
}

void VoiceRecorder::release()
{
    m_timeout.stop();
    m_control.reset();
    m_thread = nullptr;
}

} // namespace velmor::voice
