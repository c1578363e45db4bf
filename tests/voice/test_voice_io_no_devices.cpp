// With no audio device at all, recording and playing report it instead of
// bringing the media backend down.
#include "voice/voice_io.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QSignalSpy>
#include <QtTest>

class VoiceIoNoDevicesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // No sound server to reach: this machine's view of a laptop without audio.
        qputenv("PULSE_SERVER", "unix:/nonexistent/pulse/native");
        velmor::voice::pinMediaBackend();
        if (!QMediaDevices::audioInputs().isEmpty() || !QMediaDevices::audioOutputs().isEmpty())
            QSKIP("this machine has audio devices of its own");
    }

    void recordingRefusedAndUsable()
    {
        VoiceIO voice;
        QSignalSpy errors(&voice, &VoiceIO::error);
        QVERIFY(!voice.startRecording());
        QVERIFY(!voice.recording());
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("没有可用的麦克风"));
        QVERIFY(!voice.startRecording()); // refused again, not stuck "recording"
        QCOMPARE(errors.count(), 2);
    }

    void playbackRefused()
    {
        VoiceIO voice;
        QSignalSpy errors(&voice, &VoiceIO::error);
        voice.playBase64(QStringLiteral("AAECAw"), QStringLiteral("audio/mp4"));
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("没有可用的播放设备"));
        QVERIFY(!voice.playing());
        QVERIFY(voice.playbackPath().isEmpty());
    }
};

QTEST_GUILESS_MAIN(VoiceIoNoDevicesTest)
#include "test_voice_io_no_devices.moc"
