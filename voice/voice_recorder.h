// The window's side of a recording: starts a CaptureWorker on a thread of
// its own, asks it to stop by a flag, and hears its level and its end by
// queued signals. It never calls into the audio stream and never waits on
// it: a worker that has not ended within the stop time-out is given up and
// reported, and its thread is left to end (or not) on its own.
#pragma once

#include <QAudioDevice>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QThread;

namespace velmor::voice {

struct CaptureControl;

class VoiceRecorder : public QObject
{
    Q_OBJECT

public:
    static constexpr int kStopTimeoutMs = 2000;

    explicit VoiceRecorder(QObject *parent = nullptr);
    // Stops a running worker; see the definition for the one bounded wait.
    ~VoiceRecorder() override;

    // Records device into the file at path (which must be writable) until
    // stop(); false while a recording runs.
    bool start(const QAudioDevice &device, const QString &path);
    // Asks the running worker to close the file; ended() follows, from the
    // worker or from the time-out.
    void stop();
    bool running() const { return m_control != nullptr; }
    // What ended() says of a worker given up at the time-out.
    static QString stopTimedOutText() { return QStringLiteral("录音停止超时"); }

signals:
    void levelMeasured(double level);
    // Empty when the file is complete; otherwise why the recording ended,
    // with whatever file was kept complete.
    void ended(const QString &errorText);

private:
    void onWorkerEnded(quint64 session, const QString &errorText);
    void onStopTimeout();
    void release();

    // Reports of a worker given up carry an old number and are dropped.
    quint64 m_session = 0;
    std::shared_ptr<CaptureControl> m_control;
    QThread *m_thread = nullptr;
    QTimer m_stopTimeout;
};

} // namespace velmor::voice
