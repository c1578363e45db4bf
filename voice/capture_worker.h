// One recording's work on a thread of its own: the only capture stream of
// the microphone, the level measured on the buffers it delivers, and the
// clip encoded from the same buffers. Nothing here is touched from any other
// thread; the window's thread asks it to stop through CaptureControl and
// hears from it only through its signals.
#pragma once

#include "voice/clip_encoder.h"

#include <QAudio>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

class QAudioSource;
class QIODevice;
class QTimer;

namespace velmor::voice {

// Shared by the window's thread and one worker.
struct CaptureControl
{
    enum Ends : int { GivenUp = 1, ThreadEnded = 2 };

    // Set by the window: close the file and report.
    std::atomic<bool> stop{false};
    // Each side sets its bit and learns the other's in the same step. Given
    // up: the window no longer waits, and what the worker finishes is no
    // clip. Thread ended: the worker has left the sound server for good.
    std::atomic<int> ends{0};

    bool givenUp() const { return ends.load() & GivenUp; }
};

class CaptureWorker : public QObject
{
    Q_OBJECT

public:
    CaptureWorker(const QAudioDevice &device, const QString &path, std::shared_ptr<CaptureControl> control);
    ~CaptureWorker() override;

    // On the worker's thread: opens the file, then the stream, and from then
    // on watches the stop flag.
    void begin();

signals:
    // The stream is open and delivering.
    void streaming();
    void levelMeasured(double level);
    // The last report: why the recording ended early (empty after a
    // stop), and whether the file is a complete clip (else it is deleted).
    void ended(const QString &errorText, bool clipKept);

private:
    void take(const char *data, qint64 size);
    void onStateChanged(QAudio::State state);
    bool devicePresent() const;
    void checkDevicePresent();
    void finishIfStopped();
    void endSoon(const QString &errorText);
    void end(const QString &errorText, bool keepFile);

    QAudioDevice m_device;
    QString m_path;
    std::shared_ptr<CaptureControl> m_control;
    QAudioFormat m_format;
    ClipEncoder m_encoder;
    QAudioSource *m_source = nullptr;
    QIODevice *m_sink = nullptr;
    QTimer *m_stopWatch = nullptr;
    bool m_ending = false; // no more samples are taken
    bool m_ended = false;
};

} // namespace velmor::voice
