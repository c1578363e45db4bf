// Voice messages: records the default microphone into an MPEG-4/AAC file of
// at most 30 s with a live input level, and plays clips handed over as
// base64url text. QML knows it as "Voice". The object lives on the GUI
// thread; the recording itself runs on a worker thread (VoiceRecorder) that
// this object never calls into and never waits on.
#pragma once

#include "voice/voice_recorder.h"

#include <QAudioFormat>
#include <QAudioOutput>
#include <QElapsedTimer>
#include <QMediaPlayer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QTemporaryDir;

namespace velmor::voice {

// Selects Qt Multimedia's FFmpeg backend for the whole process: clips play
// through the same libraries that encode them. Must run before the first
// multimedia object exists; VoiceIO calls it first thing (a program with
// threads calls it before they start: it writes the environment only once).
void pinMediaBackend();

// The peak of one buffer of raw samples, 0.0 to 1.0: 16-bit signed integers
// scaled by 1/32768, 32-bit floats as they are, any other format 0.0. A
// trailing partial sample is ignored.
double peakLevel(const QByteArray &samples, QAudioFormat::SampleFormat format);

// File extension of a played clip: "m4a" for MPEG-4 and AAC types, else "bin".
QString clipExtension(const QString &mime);

constexpr int kRecordingLimitMs = 30000;

} // namespace velmor::voice

class VoiceIO : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool recording READ recording NOTIFY recordingChanged)
    Q_PROPERTY(bool playing READ playing NOTIFY playingChanged)
    Q_PROPERTY(int elapsedMs READ elapsedMs NOTIFY elapsedChanged)
    Q_PROPERTY(double level READ level NOTIFY levelChanged)

public:
    explicit VoiceIO(QObject *parent = nullptr);
    // Deletes the private folder of played clips with whatever it holds.
    ~VoiceIO() override;

    bool recording() const { return m_recording; }
    bool playing() const;
    int elapsedMs() const { return m_elapsedMs; }
    double level() const { return m_level; }

    Q_INVOKABLE bool startRecording();
    Q_INVOKABLE void cancelRecording();
    Q_INVOKABLE void stopRecording();
    Q_INVOKABLE void playBase64(const QString &b64Url, const QString &mime);
    Q_INVOKABLE void stopPlayback();
    Q_INVOKABLE void removeFile(const QString &filePath);

    // The longest recording; tests shorten it.
    void setRecordingLimitMs(int limitMs) { m_limitMs = limitMs; }
    // Where the clip that plays now was written; empty when none is kept.
    QString playbackPath() const { return m_playbackPath; }

signals:
    void recordingChanged();
    void recordingFinished(const QString &filePath, int durationMs);
    void error(const QString &message);
    void playingChanged();
    void elapsedChanged();
    void levelChanged();

private:
    void onTick();
    void onLevelMeasured(double level);
    void endRecording(const QString &errorText, bool clipKept);
    void dropPlaybackFile();
    QString playbackFolder();

    QMediaPlayer &player();
    QMediaPlayer::PlaybackState playbackState() const
    {
        return m_player ? m_player->playbackState() : QMediaPlayer::StoppedState;
    }

    // Constructed first, so the backend is chosen before any member below.
    struct BackendPin
    {
        BackendPin() { velmor::voice::pinMediaBackend(); }
    } m_backendPin;
    velmor::voice::VoiceRecorder m_recorder;
    // Made with the first playback: the media backend (FFmpeg's libraries
    // and the sound server's client) is not loaded at every start.
    std::unique_ptr<QAudioOutput> m_output;
    std::unique_ptr<QMediaPlayer> m_player;
    QElapsedTimer m_clock;
    bool m_recording = false;
    bool m_cancelled = false;
    QString m_recordPath;
    QString m_playbackPath;
    QString m_playingSource;
    QTimer m_tick;
    int m_elapsedMs = 0;
    double m_level = 0.0;
    int m_limitMs = velmor::voice::kRecordingLimitMs;
    // Played clips live in a folder only this user can read, removed with it.
    std::unique_ptr<QTemporaryDir> m_playbackDir;
};
