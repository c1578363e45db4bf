#include "voice/capture_worker.h"

#include "voice/voice_io.h"

#include <QAudioSource>
#include <QFile>
#include <QIODevice>
#include <QMediaDevices>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace velmor::voice {

namespace {

constexpr int kStopPollMs = 20;
constexpr int kDevicePollMs = 200;

// The stream pushes each buffer it reads into this device, on the worker's
// thread, so the meter and the encoder see the very same samples.
class CaptureSink : public QIODevice
{
public:
    explicit CaptureSink(std::function<void(const char *, qint64)> take, QObject *parent)
        : QIODevice(parent)
        , m_take(std::move(take))
    {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        m_take(data, size);
        return size;
    }

private:
    std::function<void(const char *, qint64)> m_take;
};

QAudioFormat captureFormat(const QAudioDevice &device)
{
    QAudioFormat format = device.preferredFormat();
    if (!format.isValid() || format.sampleFormat() == QAudioFormat::Unknown) {
        format.setSampleRate(48000);
        format.setChannelCount(1);
        format.setSampleFormat(QAudioFormat::Int16);
    }
    return format;
}

} // namespace

CaptureWorker::CaptureWorker(const QAudioDevice &device, const QString &path,
                             std::shared_ptr<CaptureControl> control)
    : m_device(device)
    , m_path(path)
    , m_control(std::move(control))
{
}

// Reached only once the thread has ended, after end() ran, or when the
// thread never started.
CaptureWorker::~CaptureWorker()
{
    delete m_source;
}

void CaptureWorker::begin()
{
    // The flag is looked at on every buffer, and by this timer for a stream
    // that delivers nothing.
    m_stopWatch = new QTimer(this);
    m_stopWatch->setInterval(kStopPollMs);
    connect(m_stopWatch, &QTimer::timeout, this, &CaptureWorker::finishIfStopped);
    m_stopWatch->start();
    // Qt 6.4 waits for ever for a stream opened on a device that is gone by
    // then: one already gone is not opened. (One that goes in the instant
    // between holds this thread, and the window gives it up.)
    if (!devicePresent()) {
        end(QStringLiteral("录音启动失败"), false);
        return;
    }
    m_format = captureFormat(m_device);
    if (!m_encoder.open(m_path, m_format)) {
        end(QStringLiteral("无法写录音文件"), false);
        return;
    }
    m_sink = new CaptureSink([this](const char *data, qint64 size) { take(data, size); }, this);
    m_source = new QAudioSource(m_device, m_format, this);
    connect(m_source, &QAudioSource::stateChanged, this, &CaptureWorker::onStateChanged);
    // The stream goes quiet rather than failing when its device is removed,
    // and the device list changes without a signal: it is looked at.
    auto *deviceWatch = new QTimer(this);
    deviceWatch->setInterval(kDevicePollMs);
    connect(deviceWatch, &QTimer::timeout, this, &CaptureWorker::checkDevicePresent);
    deviceWatch->start();
    m_source->start(m_sink);
    if (m_source->error() != QAudio::NoError || m_source->state() == QAudio::StoppedState)
        end(QStringLiteral("录音启动失败"), false);
    else
        emit streaming();
}

bool CaptureWorker::devicePresent() const
{
    const QList<QAudioDevice> inputs = QMediaDevices::audioInputs();
    return std::any_of(inputs.begin(), inputs.end(),
                       [this](const QAudioDevice &device) { return device.id() == m_device.id(); });
}

void CaptureWorker::take(const char *data, qint64 size)
{
    // Samples read after the stop was asked for are not part of the clip.
    if (m_ending || m_control->stop.load())
        return;
    emit levelMeasured(peakLevel(QByteArray::fromRawData(data, size), m_format.sampleFormat()));
    if (!m_encoder.write(data, size))
        endSoon(QStringLiteral("无法写录音文件"));
}

// A stream that stops on its own has lost its device: the clip ends with
// what was recorded until then.
void CaptureWorker::onStateChanged(QAudio::State state)
{
    if (state == QAudio::StoppedState && !m_ending && !m_control->stop.load())
        endSoon(QStringLiteral("麦克风已断开"));
}

// Called from inside the stream's own code: the stream is stopped and
// deleted once that code has returned.
void CaptureWorker::endSoon(const QString &errorText)
{
    m_ending = true;
    QMetaObject::invokeMethod(
        this, [this, errorText] { end(errorText, true); }, Qt::QueuedConnection);
}

void CaptureWorker::checkDevicePresent()
{
    if (!m_ending && !devicePresent())
        endSoon(QStringLiteral("麦克风已断开"));
}

void CaptureWorker::finishIfStopped()
{
    if (m_control->stop.load())
        end(QString(), true);
}

void CaptureWorker::end(const QString &errorText, bool keepFile)
{
    if (m_ended)
        return;
    m_ended = true;
    m_ending = true;
    m_stopWatch->stop();
    if (m_source) {
        disconnect(m_source, nullptr, this, nullptr);
        m_source->stop();
        delete m_source;
        m_source = nullptr;
    }
    QString report = errorText;
    const bool complete = keepFile && !m_control->givenUp() && m_encoder.finish();
    if (!complete) {
        m_encoder.discard();
        QFile::remove(m_path);
        if (keepFile && report.isEmpty())
            report = QStringLiteral("无法写录音文件");
    }
    emit ended(report, complete);
    thread()->quit();
}

} // namespace velmor::voice
