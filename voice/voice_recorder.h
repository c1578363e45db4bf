// The window's side of a recording: starts a CaptureWorker on a thread of
// its own, asks it to stop by a flag, and hears its level and its end by
// queued signals. It never calls into the audio stream and never waits on
// it: a worker whose stream is not open within the time-out of starting, or
// that has not ended within the time-out of stopping, is given up and
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
    static constexpr int kTimeoutMs = 2000;

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
    // What ended() says of a worker given up after stop().
    static QString stopTimedOutText() { return QStringLiteral("录音停止超时"); }

signals:
    void levelMeasured(double level);
    // Why the recording ended early (empty after a stop), and whether the
    // file is a complete clip; one that is not may be gone or half-written.
    void ended(const QString &errorText, bool clipKept);

private:
    void onWorkerEnded(quint64 session, const QString &errorText, bool clipKept);
    void onTimeout();
    void release();

    // Reports of a worker given up carry an old number and are dropped.
    quint64 m_session = 0;
    std::shared_ptr<CaptureControl> m_control;
    QThread *m_thread = nullptr;
    // Runs from start() until the stream is open, and from stop() on.
    QTimer m_timeout;
};

} // namespace velmor::voice
