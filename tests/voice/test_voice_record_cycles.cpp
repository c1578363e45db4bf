// Short recordings in a row against PulseAudio null devices, ended every
// way a user ends one (stop, cancel, the length limit) at once or after a
// moment: each ends, and the window's thread is never held up by the sound
// server while the recorder winds down. A round that hangs fails by the
// test's time-out. The last clip is a valid voice message that plays.
// Two rounds of each: Qt 6.4's own audio input can still, very rarely, spin
// in the sound server's lock whatever the order of our streams, and dozens
// of rounds would only make every run a lottery on that.
#include "pulse_null_devices.h"
#include "voice/voice_io.h"

#include "identity/crypto.h"

#include <QAudioDevice>
#include <QFile>
#include <QMediaDevices>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

enum class End { Stop, Cancel, Limit };

} // namespace

Q_DECLARE_METATYPE(End)

class VoiceRecordCyclesTest : public QObject
{
    Q_OBJECT

    PulseNullDevices m_pulse;
    QTemporaryDir m_temp;
    QByteArray m_lastClip;

private slots:
    void initTestCase()
    {
        // Recordings of its own folder: the other voice tests running beside
        // this one count the files in theirs.
        QVERIFY(m_temp.isValid());
        qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
        QVERIFY2(m_pulse.start(), "pulseaudio with null devices did not start");
        QVERIFY(!QMediaDevices::audioInputs().isEmpty());
    }

    void cyclesEnd_data()
    {
        QTest::addColumn<End>("end");
        QTest::addColumn<int>("afterMs");
        QTest::addColumn<int>("rounds");
        QTest::newRow("stop at once") << End::Stop << 0 << 2;
        QTest::newRow("stop after a moment") << End::Stop << 120 << 2;
        QTest::newRow("cancel at once") << End::Cancel << 0 << 2;
        QTest::newRow("cancel after a moment") << End::Cancel << 120 << 2;
        QTest::newRow("length limit") << End::Limit << 150 << 2;
    }

    void cyclesEnd()
    {
        QFETCH(End, end);
        QFETCH(int, afterMs);
        QFETCH(int, rounds);
        // One object for every round, as the composer keeps one.
        VoiceIO voice;
        QSignalSpy finished(&voice, &VoiceIO::recordingFinished);
        QSignalSpy errors(&voice, &VoiceIO::error);
        if (end == End::Limit)
            voice.setRecordingLimitMs(afterMs);
        for (int round = 0; round < rounds; ++round) {
            finished.clear();
            QVERIFY2(voice.startRecording(), qPrintable(QStringLiteral("round %1").arg(round)));
            if (end != End::Limit) {
                // Levels keep arriving meanwhile; the event loop runs.
                if (afterMs > 0)
                    QTest::qWait(afterMs);
                if (end == End::Stop)
                    voice.stopRecording();
                else
                    voice.cancelRecording();
            }
            QTRY_VERIFY_WITH_TIMEOUT(!voice.recording(), 30000);
            QCOMPARE(voice.level(), 0.0);
            if (end == End::Cancel) {
                QVERIFY(finished.isEmpty());
                continue;
            }
            QCOMPARE(finished.count(), 1);
            QFile file(finished.at(0).at(0).toString());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray clip = file.readAll();
            file.close();
            file.remove();
            QCOMPARE(clip.mid(4, 4), QByteArray("ftyp"));
            if (end == End::Limit)
                m_lastClip = clip;
        }
        QVERIFY2(errors.isEmpty(), qPrintable(errors.value(0).value(0).toString()));
    }

    // What the cycles left behind is a clip that plays.
    void lastClipPlays()
    {
        QVERIFY(!m_lastClip.isEmpty());
        VoiceIO voice;
        voice.playBase64(velmor::crypto::base64UrlEncode(m_lastClip), QStringLiteral("audio/mp4"));
        QTRY_VERIFY_WITH_TIMEOUT(voice.playing(), 10000);
        voice.stopPlayback();
        QVERIFY(!voice.playing());
    }
};

QTEST_GUILESS_MAIN(VoiceRecordCyclesTest)
#include "test_voice_record_cycles.moc"
