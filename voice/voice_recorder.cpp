#include "voice/voice_recorder.h"

#include "voice/capture_worker.h"

#include <QDeadlineTimer>
#include <QThread>

namespace velmor::voice {

VoiceRecorder::VoiceRecorder(QObject *parent)
    : QObject(parent)
{
    m_stopTimeout.setSingleShot(true);
    m_stopTimeout.setInterval(kStopTimeoutMs);
    connect(&m_stopTimeout, &QTimer::timeout, this, &VoiceRecorder::onStopTimeout);
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
    if (!m_thread->wait(QDeadlineTimer(kStopTimeoutMs)))
        m_control->givenUp.store(true);
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
    connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(worker, &CaptureWorker::levelMeasured, this, [this, session](double level) {
        if (session == m_session && running())
            emit levelMeasured(level);
    });
    connect(worker, &CaptureWorker::ended, this,
            [this, session](const QString &errorText) { onWorkerEnded(session, errorText); });
    m_thread = thread;
    thread->start();
    return true;
}

void VoiceRecorder::stop()
{
    if (!running() || m_control->stop.load())
        return;
    m_control->stop.store(true);
    m_stopTimeout.start();
}

void VoiceRecorder::onWorkerEnded(quint64 session, const QString &errorText)
{
    if (session != m_session || !running())
        return;
    release();
    emit ended(errorText);
}

void VoiceRecorder::onStopTimeout()
{
    if (!running())
        return;
    m_control->givenUp.store(true);
    ++m_session;
    release();
    emit ended(stopTimedOutText());
}

void VoiceRecorder::release()
{
    m_stopTimeout.stop();
    m_control.reset();
    m_thread = nullptr;
}

} // namespace velmor::voice
