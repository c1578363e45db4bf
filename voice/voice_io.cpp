#include "voice/voice_io.h"

#include "identity/crypto.h"

#include <QAudioDevice>
#include <QAudioSource>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMediaDevices>
#include <QMediaFormat>
#include <QPointer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QUuid>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velmor::voice {

void pinMediaBackend()
{
    qputenv("QT_MEDIA_BACKEND", QByteArrayLiteral("ffmpeg"));
}

double peakLevel(const QByteArray &samples, QAudioFormat::SampleFormat format)
{
    double peak = 0.0;
    const char *data = samples.constData();
    if (format == QAudioFormat::Int16) {
        const qsizetype count = samples.size() / qsizetype(sizeof(qint16));
        for (qsizetype i = 0; i < count; ++i) {
            qint16 sample;
            std::memcpy(&sample, data + i * qsizetype(sizeof(qint16)), sizeof sample);
            peak = std::max(peak, std::abs(sample * (1.0 / 32768.0)));
        }
    } else if (format == QAudioFormat::Float) {
        const qsizetype count = samples.size() / qsizetype(sizeof(float));
        for (qsizetype i = 0; i < count; ++i) {
            float sample;
            std::memcpy(&sample, data + i * qsizetype(sizeof(float)), sizeof sample);
            if (std::isfinite(sample))
                peak = std::max(peak, double(std::fabs(sample)));
        }
    }
    return std::clamp(peak, 0.0, 1.0);
}

QString clipExtension(const QString &mime)
{
    for (const char *marker : {"mp4", "m4a", "aac"})
        if (mime.contains(QLatin1String(marker)))
            return QStringLiteral("m4a");
    return QStringLiteral("bin");
}

} // namespace velmor::voice

namespace {

// Qt 6.4's FFmpeg recorder finishes a recording on a thread of its own that
// ends by asking the GUI thread to delete it (deleteLater) while still
// running. A GUI thread quick enough to get there before that thread has
// wound down deletes a running QThread, which aborts the program ("QThread:
// Destroyed while thread is still running"). Watching every event of the GUI
// thread, this lets such a deletion through only once the thread has ended:
// its work is done by then, so the wait is only for its exit.
class RunningThreadDeletionGuard : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::DeferredDelete) {
            auto *thread = qobject_cast<QThread *>(watched);
            if (thread && thread != QThread::currentThread() && thread->isRunning())
                thread->wait();
        }
        return false;
    }
};

void guardRunningThreadDeletion()
{
    static QPointer<RunningThreadDeletionGuard> guard;
    QCoreApplication *app = QCoreApplication::instance();
    if (guard || !app)
        return;
    guard = new RunningThreadDeletionGuard(app);
    app->installEventFilter(guard);
}

} // namespace

using namespace velmor::voice;

VoiceIO::VoiceIO(QObject *parent)
    : QObject(parent)
{
    guardRunningThreadDeletion();
    m_session.setAudioInput(&m_input);
    m_session.setRecorder(&m_recorder);
    m_player.setAudioOutput(&m_output);
    connect(&m_player, &QMediaPlayer::playbackStateChanged, this, &VoiceIO::playingChanged);
    m_tick.setInterval(50);
    connect(&m_tick, &QTimer::timeout, this, &VoiceIO::onTick);

    QMediaFormat format(QMediaFormat::Mpeg4Audio);
    format.setAudioCodec(QMediaFormat::AudioCodec::AAC);
    m_recorder.setMediaFormat(format);
    m_recorder.setQuality(QMediaRecorder::NormalQuality);
    connect(&m_recorder, &QMediaRecorder::recorderStateChanged, this, &VoiceIO::onRecorderStateChanged);
    connect(&m_recorder, &QMediaRecorder::errorOccurred, this,
            [this](QMediaRecorder::Error, const QString &text) { emit error(text); });
}

VoiceIO::~VoiceIO()
{
    // The player lets go of the clip before its folder is removed.
    m_player.setSource(QUrl());
}

bool VoiceIO::playing() const
{
    return m_player.playbackState() == QMediaPlayer::PlayingState;
}

bool VoiceIO::startRecording()
{
    if (m_recording)
        return false;
    // Recording with no input device at all brings the FFmpeg backend down.
    if (QMediaDevices::audioInputs().isEmpty()) {
        emit error(QStringLiteral("没有可用的麦克风"));
        return false;
    }

    const QString folder = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    m_recordPath = QDir(folder).filePath(QStringLiteral("velmor_rec_")
                                         + QUuid::createUuid().toString(QUuid::WithoutBraces)
                                         + QStringLiteral(".m4a"));
    // The FFmpeg recorder of Qt 6.4 crashes on a location it cannot open:
    // make sure the file can be written before handing it over.
    {
        QFile probe(m_recordPath);
        if (!probe.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            emit error(QStringLiteral("无法写录音文件"));
            return false;
        }
    }
    m_cancelled = false;
    // The meter's stream opens before the recorder's and closes before the
    // recorder is told to stop (stopRecorder). With Qt 6.4's FFmpeg backend,
    // the meter's stream opened or closed while the recorder's input thread
    // sets up or tears down its own stream on the same input can leave that
    // thread spinning inside the sound server's lock, handing the encoder
    // empty buffers without end: the next call on the GUI thread that needs
    // the lock (a meter read, its stop) never returns, nor does the input's
    // destructor. Kept apart in time, the two streams never meet that way.
    startLevelMeter();
    m_recorder.setOutputLocation(QUrl::fromLocalFile(m_recordPath));
    m_recorder.record();

    // A recorder that refuses at once stays stopped: nothing runs, so the
    // next attempt may start at once instead of waiting for a stop that
    // never comes.
    if (m_recorder.recorderState() == QMediaRecorder::StoppedState) {
        stopLevelMeter();
        if (m_recorder.error() == QMediaRecorder::NoError)
            emit error(QStringLiteral("录音启动失败"));
        QFile::remove(recordedFile());
        return false;
    }

    m_recording = true;
    m_elapsedMs = 0;
    emit elapsedChanged();
    m_clock.restart();
    m_tick.start();
    emit recordingChanged();
    return true;
}

void VoiceIO::startLevelMeter()
{
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    if (device.isNull())
        return;
    const QAudioFormat format = device.preferredFormat();
    m_levelSource = new QAudioSource(device, format, this);
    m_levelDevice = m_levelSource->start();
    if (m_levelDevice) {
        const QAudioFormat::SampleFormat sampleFormat = format.sampleFormat();
        connect(m_levelDevice, &QIODevice::readyRead, this,
                [this, sampleFormat] { onLevelReady(sampleFormat); });
    }
}

void VoiceIO::stopLevelMeter()
{
    if (!m_levelSource)
        return;
    m_levelSource->stop();
    // Deleted now: a stopped PulseAudio source deleted later by the event
    // loop crashes in Qt 6.4.
    delete m_levelSource;
    m_levelSource = nullptr;
    m_levelDevice = nullptr;
}

void VoiceIO::onLevelReady(QAudioFormat::SampleFormat format)
{
    if (!m_levelDevice)
        return;
    const QByteArray bytes = m_levelDevice->readAll();
    if (bytes.isEmpty())
        return;
    m_level = peakLevel(bytes, format);
    emit levelChanged();
}

void VoiceIO::onTick()
{
    if (!m_recording)
        return;
    m_elapsedMs = int(m_clock.elapsed());
    emit elapsedChanged();
    if (m_elapsedMs >= m_limitMs)
        stopRecorder();
}

void VoiceIO::stopRecording()
{
    if (m_recording)
        stopRecorder();
}

void VoiceIO::cancelRecording()
{
    if (!m_recording)
        return;
    m_cancelled = true;
    stopRecorder();
}

// The meter first, while the recorder's input still runs steadily (see
// startRecording); the level drops to 0 when the recorder reports it stopped.
void VoiceIO::stopRecorder()
{
    stopLevelMeter();
    m_recorder.stop();
}

void VoiceIO::onRecorderStateChanged(QMediaRecorder::RecorderState state)
{
    if (state != QMediaRecorder::StoppedState || !m_recording)
        return;
    endRecording();
}

// The backend may add its own suffix ("x.m4a.mp4"): the file is where the
// recorder says it wrote it.
QString VoiceIO::recordedFile() const
{
    const QUrl actual = m_recorder.actualLocation();
    if (actual.isLocalFile() && !actual.toLocalFile().isEmpty())
        return actual.toLocalFile();
    return m_recordPath;
}

void VoiceIO::endRecording()
{
    m_recording = false;
    m_tick.stop();
    stopLevelMeter();
    m_level = 0.0;
    emit levelChanged();
    emit recordingChanged();

    const int durationMs = int(m_clock.elapsed());
    m_recordPath = recordedFile();
    if (m_cancelled) {
        QFile::remove(m_recordPath);
        return;
    }
    if (QFile::exists(m_recordPath))
        emit recordingFinished(m_recordPath, durationMs);
    else
        emit error(QStringLiteral("录音文件缺失"));
}

QString VoiceIO::playbackFolder()
{
    if (!m_playbackDir) {
        const QString temp = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
        m_playbackDir = std::make_unique<QTemporaryDir>(QDir(temp).filePath(QStringLiteral("velmor_voice_XXXXXX")));
        if (!m_playbackDir->isValid()) {
            m_playbackDir.reset();
            return QString();
        }
    }
    return m_playbackDir->path();
}

void VoiceIO::dropPlaybackFile()
{
    if (m_playbackPath.isEmpty())
        return;
    m_player.setSource(QUrl());
    QFile::remove(m_playbackPath);
    m_playbackPath.clear();
}

void VoiceIO::playBase64(const QString &b64Url, const QString &mime)
{
    if (m_player.playbackState() == QMediaPlayer::PlayingState && b64Url == m_playingSource) {
        stopPlayback();
        return;
    }
    if (m_player.playbackState() != QMediaPlayer::StoppedState)
        m_player.stop();
    m_playingSource.clear();
    dropPlaybackFile();

    const QByteArray bytes = velmor::crypto::base64UrlDecode(b64Url);
    if (bytes.isEmpty()) {
        emit error(QStringLiteral("语音数据为空"));
        return;
    }
    // Playing with no output device at all brings the FFmpeg backend down.
    if (QMediaDevices::audioOutputs().isEmpty()) {
        emit error(QStringLiteral("没有可用的播放设备"));
        return;
    }

    const QString folder = playbackFolder();
    const QString path = folder.isEmpty()
        ? QString()
        : QDir(folder).filePath(QStringLiteral("velmor_play_") + QUuid::createUuid().toString(QUuid::WithoutBraces)
                                + QLatin1Char('.') + clipExtension(mime));
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        emit error(QStringLiteral("无法写临时音频"));
        return;
    }
    const bool written = file.write(bytes) == bytes.size();
    file.close();
    if (!written) {
        QFile::remove(path);
        emit error(QStringLiteral("无法写临时音频"));
        return;
    }
    m_playbackPath = path;
    m_player.setSource(QUrl::fromLocalFile(path));
    m_playingSource = b64Url;
    m_player.play();
}

void VoiceIO::stopPlayback()
{
    if (m_player.playbackState() != QMediaPlayer::StoppedState)
        m_player.stop();
    m_playingSource.clear();
    dropPlaybackFile();
}

void VoiceIO::removeFile(const QString &filePath)
{
    const QUrl url(filePath, QUrl::TolerantMode);
    const QString path = url.isLocalFile() ? url.toLocalFile() : filePath;
    if (!path.isEmpty())
        QFile::remove(path);
}
