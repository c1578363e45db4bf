// Recording, metering and playing voice messages against PulseAudio null
// devices, with the FFmpeg media backend the class pins.
#include "clip_decoder.h"
#include "pulse_null_devices.h"
#include "voice/voice_io.h"

#include "identity/crypto.h"
#include "store/private_media.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

QByteArray int16Samples(std::initializer_list<qint16> values)
{
    QByteArray bytes;
    for (qint16 v : values)
        bytes.append(reinterpret_cast<const char *>(&v), sizeof v);
    return bytes;
}

QByteArray floatSamples(std::initializer_list<float> values)
{
    QByteArray bytes;
    for (float v : values)
        bytes.append(reinterpret_cast<const char *>(&v), sizeof v);
    return bytes;
}

} // namespace

class VoiceIoTest : public QObject
{
    Q_OBJECT

private:
    PulseNullDevices m_pulse;
    QTemporaryDir m_temp;
    QByteArray m_clip; // a short recording made once, replayed by the playback tests

    // Records for about limitMs and returns the finished file's bytes.
    QByteArray recordClip(VoiceIO &voice, int limitMs)
    {
        QSignalSpy finished(&voice, &VoiceIO::recordingFinished);
        voice.setRecordingLimitMs(limitMs);
        if (!voice.startRecording())
            return {};
        if (!finished.wait(15000))
            return {};
        QFile file(finished.at(0).at(0).toString());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const QByteArray bytes = file.readAll();
        file.remove();
        return bytes;
    }

private slots:
    void initTestCase()
    {
        // Recordings in a folder of its own, so that counting the files left
        // there counts only this program's.
        QVERIFY(m_temp.isValid());
        qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_temp.path()));
        QVERIFY2(m_pulse.start(), "pulseaudio with null devices did not start");
        QVERIFY(!QMediaDevices::audioInputs().isEmpty());
        QVERIFY(!QMediaDevices::audioOutputs().isEmpty());
    }

    void peakLevel_data()
    {
        QTest::addColumn<QByteArray>("samples");
        QTest::addColumn<int>("format");
        QTest::addColumn<double>("level");
        QTest::newRow("int16 lowest is full scale") << int16Samples({0, -32768, 100}) << int(QAudioFormat::Int16) << 1.0;
        QTest::newRow("int16 half") << int16Samples({16384, -100}) << int(QAudioFormat::Int16) << 0.5;
        QTest::newRow("int16 trailing byte ignored")
            << int16Samples({8192}) + QByteArray(1, char(0x7f)) << int(QAudioFormat::Int16) << 0.25;
        QTest::newRow("float above one is clamped") << floatSamples({0.1f, 1.5f}) << int(QAudioFormat::Float) << 1.0;
        QTest::newRow("float negative") << floatSamples({-0.75f, 0.5f}) << int(QAudioFormat::Float) << 0.75;
        QTest::newRow("float not a number ignored")
            << floatSamples({std::numeric_limits<float>::quiet_NaN(), 0.25f}) << int(QAudioFormat::Float) << 0.25;
        QTest::newRow("uint8 stays silent") << QByteArray(8, char(0xff)) << int(QAudioFormat::UInt8) << 0.0;
        QTest::newRow("int32 stays silent") << QByteArray(8, char(0x7f)) << int(QAudioFormat::Int32) << 0.0;
        QTest::newRow("empty") << QByteArray() << int(QAudioFormat::Int16) << 0.0;
    }

    void peakLevel()
    {
        QFETCH(QByteArray, samples);
        QFETCH(int, format);
        QFETCH(double, level);
        QCOMPARE(velmor::voice::peakLevel(samples, QAudioFormat::SampleFormat(format)), level);
    }

    void clipExtension_data()
    {
        QTest::addColumn<QString>("mime");
        QTest::addColumn<QString>("extension");
        QTest::newRow("mp4") << "audio/mp4" << "m4a";
        QTest::newRow("x-m4a") << "audio/x-m4a" << "m4a";
        QTest::newRow("aac") << "audio/aac" << "m4a";
        QTest::newRow("ogg") << "audio/ogg" << "bin";
        QTest::newRow("upper case") << "AUDIO/MP4" << "bin";
        QTest::newRow("empty") << "" << "bin";
    }

    void clipExtension()
    {
        QFETCH(QString, mime);
        QFETCH(QString, extension);
        QCOMPARE(velmor::voice::clipExtension(mime), extension);
    }

    void recordingEndsAtLimitAsMpeg4()
    {
        VoiceIO voice;
        QSignalSpy finished(&voice, &VoiceIO::recordingFinished);
        QSignalSpy recording(&voice, &VoiceIO::recordingChanged);
        QSignalSpy levels(&voice, &VoiceIO::levelChanged);
        QSignalSpy errors(&voice, &VoiceIO::error);
        voice.setRecordingLimitMs(400);
        QVERIFY(voice.startRecording());
        QVERIFY(voice.recording());
        QCOMPARE(recording.count(), 1);
        QVERIFY(finished.wait(15000));
        QVERIFY2(errors.isEmpty(), qPrintable(errors.value(0).value(0).toString()));
        QVERIFY(!voice.recording());
        QCOMPARE(recording.count(), 2);
        QVERIFY(!levels.isEmpty());
        QCOMPARE(voice.level(), 0.0);
        QVERIFY(voice.elapsedMs() >= 400);
        QVERIFY(finished.at(0).at(1).toInt() >= 400);

        const QString path = finished.at(0).at(0).toString();
        QVERIFY(QFileInfo(path).fileName().startsWith(QLatin1String("velmor_rec_")));
        // The user's alone: the profile's private folder, an owner-only file.
        QCOMPARE(QFileInfo(path).absolutePath(), velmor::store::privateMediaFolder());
        QVERIFY(!(QFileInfo(path).permissions()
                  & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther)));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        m_clip = file.readAll();
        QCOMPARE(m_clip.mid(4, 4), QByteArray("ftyp")); // an MPEG-4 file, not MP3
        const DecodedClip clip = decodeClip(path);
        QVERIFY(clip.ok);
        QCOMPARE(clip.codec, QStringLiteral("aac"));
        voice.removeFile(QUrl::fromLocalFile(path).toString());
        QVERIFY(!QFile::exists(path));
    }

    void secondStartLeavesTheRunningRecording()
    {
        VoiceIO voice;
        QSignalSpy finished(&voice, &VoiceIO::recordingFinished);
        QVERIFY(voice.startRecording());
        QVERIFY(!voice.startRecording());
        QVERIFY(voice.recording());
        voice.stopRecording();
        QVERIFY(finished.wait(15000));
        QCOMPARE(finished.count(), 1);
        voice.removeFile(finished.at(0).at(0).toString());
    }

    void cancelDeletesTheFile()
    {
        VoiceIO voice;
        QSignalSpy finished(&voice, &VoiceIO::recordingFinished);
        QSignalSpy errors(&voice, &VoiceIO::error);
        QSignalSpy recording(&voice, &VoiceIO::recordingChanged);
        QSignalSpy levels(&voice, &VoiceIO::levelChanged);
        const QDir temp(velmor::store::privateMediaFolder());
        const QStringList before = temp.entryList({QStringLiteral("velmor_rec_*")});
        QVERIFY(voice.startRecording());
        voice.cancelRecording();
        QTRY_VERIFY_WITH_TIMEOUT(!voice.recording(), 15000);
        QCOMPARE(recording.count(), 2);
        QVERIFY(!levels.isEmpty());
        QVERIFY(finished.isEmpty());
        QVERIFY(errors.isEmpty());
        QCOMPARE(temp.entryList({QStringLiteral("velmor_rec_*")}), before);
    }

    void stopAndCancelWhileIdleDoNothing()
    {
        VoiceIO voice;
        QSignalSpy recording(&voice, &VoiceIO::recordingChanged);
        QSignalSpy levels(&voice, &VoiceIO::levelChanged);
        voice.stopRecording();
        voice.cancelRecording();
        QCoreApplication::processEvents();
        QVERIFY(recording.isEmpty());
        QVERIFY(levels.isEmpty());
        voice.removeFile(QString()); // nothing to delete, nothing happens
    }

    void recorderRefusingAtOnceIsUsableAgain()
    {
        VoiceIO voice;
        QSignalSpy errors(&voice, &VoiceIO::error);
        const QByteArray data = qgetenv("XDG_DATA_HOME");
        // A profile where no folder can be made, even by root.
        qputenv("XDG_DATA_HOME", "/proc");
        const bool started = voice.startRecording();
        qputenv("XDG_DATA_HOME", data);
        QVERIFY(!started);
        QVERIFY(!voice.recording());
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("无法写录音文件"));

        QSignalSpy finished(&voice, &VoiceIO::recordingFinished);
        QVERIFY(voice.startRecording());
        voice.stopRecording();
        QVERIFY(finished.wait(15000));
        voice.removeFile(finished.at(0).at(0).toString());
    }

    // The meter and the clip take the same microphone samples: a tone at
    // the input shows in the level and is heard in the clip. (The tone
    // source delivers its samples in bursts a second or two apart.)
    void levelAndClipHearTheInput()
    {
        QVERIFY(m_pulse.swapInToneInput());
        QTRY_COMPARE_WITH_TIMEOUT(QMediaDevices::defaultAudioInput().id(), QByteArray("tone"), 10000);
        VoiceIO voice;
        QSignalSpy finished(&voice, &VoiceIO::recordingFinished);
        double loudest = 0.0;
        connect(&voice, &VoiceIO::levelChanged, this, [&] { loudest = std::max(loudest, voice.level()); });
        QVERIFY(voice.startRecording());
        const bool heard = QTest::qWaitFor([&] { return loudest > 0.05; }, 15000);
        voice.stopRecording();
        const bool ended = finished.wait(15000);
        QVERIFY(m_pulse.swapOutToneInput());
        QVERIFY2(heard, qPrintable(QString::number(loudest)));
        QVERIFY(ended);
        const QString path = finished.at(0).at(0).toString();
        const DecodedClip clip = decodeClip(path);
        QFile::remove(path);
        QVERIFY(clip.ok);
        QCOMPARE(clip.codec, QStringLiteral("aac"));
        QVERIFY2(clip.rms > 0.02, qPrintable(QString::number(clip.rms)));
        QTRY_COMPARE_WITH_TIMEOUT(QMediaDevices::defaultAudioInput().id(), QByteArray("nullsrc"), 10000);
    }

    // A sound server that stops answering holds up the recording's worker,
    // never the window: a stream that does not open, or a stop that does not
    // end, is reported after the time-out; a program closing meanwhile
    // closes; nothing half-written is kept; and once the server answers
    // again, recording works.
    void stuckSoundServerIsReportedNotWaitedFor_data()
    {
        QTest::addColumn<bool>("stop");
        QTest::addColumn<QString>("message");
        QTest::newRow("stopped while held") << true << QStringLiteral("录音停止超时");
        QTest::newRow("never streams") << false << QStringLiteral("录音启动失败");
    }

    void stuckSoundServerIsReportedNotWaitedFor()
    {
        QFETCH(bool, stop);
        QFETCH(QString, message);
        const QDir temp(velmor::store::privateMediaFolder());
        VoiceIO voice;
        QSignalSpy errors(&voice, &VoiceIO::error);
        QSignalSpy finished(&voice, &VoiceIO::recordingFinished);
        QSignalSpy recording(&voice, &VoiceIO::recordingChanged);
        QVERIFY(m_pulse.freeze());
        QVERIFY(voice.startRecording());
        if (stop) {
            auto *closing = new VoiceIO;
            QVERIFY(closing->startRecording());
            voice.stopRecording();
            delete closing;
        }
        QTRY_VERIFY_WITH_TIMEOUT(!voice.recording(), 15000);
        const bool thawed = m_pulse.thaw();
        QVERIFY(thawed);
        QCOMPARE(recording.count(), 2);
        QCOMPARE(voice.level(), 0.0);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), message);
        QVERIFY(finished.isEmpty());
        // The workers given up end once the server answers, and drop their files.
        QTRY_COMPARE_WITH_TIMEOUT(temp.entryList({QStringLiteral("velmor_rec_*")}), QStringList(), 15000);

        errors.clear();
        QVERIFY(voice.startRecording());
        voice.stopRecording();
        QVERIFY(finished.wait(15000));
        QVERIFY(errors.isEmpty());
        const DecodedClip clip = decodeClip(finished.at(0).at(0).toString());
        QVERIFY(clip.ok);
        voice.removeFile(finished.at(0).at(0).toString());
    }

    void tapPlaysAndTapAgainStops()
    {
        QVERIFY(!m_clip.isEmpty());
        VoiceIO voice;
        const QString clip = velmor::crypto::base64UrlEncode(m_clip);
        QSignalSpy playing(&voice, &VoiceIO::playingChanged);
        voice.playBase64(clip, QStringLiteral("audio/mp4"));
        QTRY_VERIFY_WITH_TIMEOUT(voice.playing(), 10000);
        const QString path = voice.playbackPath();
        QVERIFY(path.endsWith(QLatin1String(".m4a")));
        QVERIFY(QFileInfo(path).fileName().startsWith(QLatin1String("velmor_play_")));
        // Kept where only this user can look.
        QCOMPARE(QFileInfo(QFileInfo(path).path()).permissions() & 0x0077, QFileDevice::Permissions());
        QVERIFY(QFile::exists(path));

        voice.playBase64(clip, QStringLiteral("audio/mp4"));
        QTRY_VERIFY(!voice.playing());
        QVERIFY(!QFile::exists(path));
        QVERIFY(playing.count() >= 2);

        // The same clip once stopped plays again.
        voice.playBase64(clip, QStringLiteral("audio/mp4"));
        QTRY_VERIFY_WITH_TIMEOUT(voice.playing(), 10000);
        voice.stopPlayback();
        QVERIFY(!voice.playing());
        QVERIFY(voice.playbackPath().isEmpty());
    }

    void anotherClipReplacesTheFirst()
    {
        VoiceIO voice;
        const QString first = velmor::crypto::base64UrlEncode(m_clip);
        const QString second = velmor::crypto::base64UrlEncode(m_clip + QByteArray(4, '\0'));
        voice.playBase64(first, QStringLiteral("audio/mp4"));
        QTRY_VERIFY_WITH_TIMEOUT(voice.playing(), 10000);
        const QString firstPath = voice.playbackPath();
        voice.playBase64(second, QStringLiteral("audio/ogg"));
        QVERIFY(!QFile::exists(firstPath));
        QVERIFY(voice.playbackPath().endsWith(QLatin1String(".bin")));
        const QString folder = QFileInfo(voice.playbackPath()).path();
        QVERIFY(QFileInfo::exists(folder));
        QTRY_VERIFY_WITH_TIMEOUT(voice.playing(), 10000);
        {
            VoiceIO *gone = new VoiceIO;
            gone->playBase64(first, QStringLiteral("audio/mp4"));
            const QString goneFolder = QFileInfo(gone->playbackPath()).path();
            QVERIFY(QFileInfo::exists(goneFolder));
            delete gone; // exit removes the folder with its clip
            QVERIFY(!QFileInfo::exists(goneFolder));
        }
    }

    void badClipsReportAndPlayNothing_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::newRow("empty") << QString();
        QTest::newRow("not base64url") << QStringLiteral("a+b/c=");
    }

    void badClipsReportAndPlayNothing()
    {
        QFETCH(QString, clip);
        VoiceIO voice;
        QSignalSpy errors(&voice, &VoiceIO::error);
        voice.playBase64(clip, QStringLiteral("audio/mp4"));
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("语音数据为空"));
        QVERIFY(!voice.playing());
        QVERIFY(voice.playbackPath().isEmpty());
    }
};

QTEST_GUILESS_MAIN(VoiceIoTest)
#include "test_voice_io.moc"
