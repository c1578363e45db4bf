#include "voice/voice_io.h"

#include "identity/crypto.h"
#include "store/private_media.h"

#include <QAudioDevice>
#include <QDir>
#include <QFile>
#include <QMediaDevices>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QUuid>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velmor::voice {

void pinMediaBackend()
{
    // Written only when it differs: the program pins it before its threads
    // start, and VoiceIO's pin must not write the environment while they run.
    if (qgetenv("QT_MEDIA_BACKEND") != QByteArrayLiteral("ffmpeg"))
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

using namespace velmor::voice;

VoiceIO::VoiceIO(QObject *parent)
    : QObject(parent)
{
    m_tick.setInterval(50);
    connect(&m_tick, &QTimer::timeout, this, &VoiceIO::onTick);
    connect(&m_recorder, &VoiceRecorder::levelMeasured, this, &VoiceIO::onLevelMeasured);
    connect(&m_recorder, &VoiceRecorder::ended, this, &VoiceIO::endRecording);
}

VoiceIO::~VoiceIO()
{
    // The player lets go of the clip before its folder is removed.
    if (m_player)
        m_player->setSource(QUrl());
}

QMediaPlayer &VoiceIO::player()
{
    if (!m_player) {
        m_output = std::make_unique<QAudioOutput>();
        m_player = std::make_unique<QMediaPlayer>();
        m_player->setAudioOutput(m_output.get());
        connect(m_player.get(), &QMediaPlayer::playbackStateChanged, this, &VoiceIO::playingChanged);
    }
    return *m_player;
}

bool VoiceIO::playing() const
{
    return playbackState() == QMediaPlayer::PlayingState;
}

bool VoiceIO::startRecording()
{
    if (m_recording)
        return false;
    QAudioDevice device = QMediaDevices::defaultAudioInput();
    if (device.isNull()) {
        const QList<QAudioDevice> inputs = QMediaDevices::audioInputs();
        if (!inputs.isEmpty())
            device = inputs.first();
    }
    if (device.isNull()) {
        emit error(QStringLiteral("没有可用的麦克风"));
        return false;
    }

    // Made here, owner-only in the profile's private folder (the encoder
    // writes into the file as it is): a folder where the clip cannot be
    // made is told at once, while the composer can still say so, rather
    // than by the worker a moment later.
    m_recordPath = velmor::store::createPrivateMedia(
        QStringLiteral("velmor_rec_") + QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".m4a"));
    if (m_recordPath.isEmpty()) {
        emit error(QStringLiteral("无法写录音文件"));
        return false;
    }
    m_cancelled = false;
    m_recorder.start(device, m_recordPath);

    m_recording = true;
    m_elapsedMs = 0;
    emit elapsedChanged();
    m_clock.restart();
    m_tick.start();
    emit recordingChanged();
    return true;
}

void VoiceIO::onLevelMeasured(double level)
{
    if (!m_recording)
        return;
    m_level = level;
    emit levelChanged();
}

void VoiceIO::onTick()
{
    if (!m_recording)
        return;
    m_elapsedMs = int(m_clock.elapsed());
    emit elapsedChanged();
    if (m_elapsedMs >= m_limitMs)
        m_recorder.stop();
}

void VoiceIO::stopRecording()
{
    if (m_recording)
        m_recorder.stop();
}

void VoiceIO::cancelRecording()
{
    if (!m_recording)
        return;
    m_cancelled = true;
    m_recorder.stop();
}

// The recorder's end: the worker's report, or the time-out for a worker that
// never reported. Properties first, then what became of the clip.
void VoiceIO::endRecording(const QString &errorText, bool clipKept)
{
    m_recording = false;
    m_tick.stop();
    m_level = 0.0;
    emit levelChanged();
    emit recordingChanged();

    const int durationMs = int(m_clock.elapsed());
    // What a worker given up may still be writing is no clip either.
    if (m_cancelled || !clipKept)
        QFile::remove(m_recordPath);
    // Cancelling reports nothing, unless the recorder is stuck: then the
    // next recording may fail too, and the user should know why.
    if (!errorText.isEmpty() && (!m_cancelled || errorText == VoiceRecorder::stopTimedOutText()))
        emit error(errorText);
    if (m_cancelled || !clipKept)
        return;
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
    if (m_player)
        m_player->setSource(QUrl());
    QFile::remove(m_playbackPath);
    m_playbackPath.clear();
}

void VoiceIO::playBase64(const QString &b64Url, const QString &mime)
{
    if (playbackState() == QMediaPlayer::PlayingState && b64Url == m_playingSource) {
        stopPlayback();
        return;
    }
    if (playbackState() != QMediaPlayer::StoppedState)
        m_player->stop();
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
    player().setSource(QUrl::fromLocalFile(path));
    m_playingSource = b64Url;
    player().play();
}

void VoiceIO::stopPlayback()
{
    if (playbackState() != QMediaPlayer::StoppedState)
        m_player->stop();
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
