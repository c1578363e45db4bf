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

// Written by the window's thread, read by the worker.
struct CaptureControl
{
    std::atomic<bool> stop{false};
    // The window stopped waiting: whatever the worker finishes is no clip.
    std::atomic<bool> givenUp{false};
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
    void levelMeasured(double level);
    // The last report: an empty text when the file is complete; otherwise
    // the reason, with the file complete if it still exists.
    void ended(const QString &errorText);

private:
    void take(const char *data, qint64 size);
    void onStateChanged(QAudio::State state);
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
