// The recorder's encoder libraries stay out of the process until the first
// clip, and the media backend until the first playback: a program that
// never records or plays never loads them, and its start does not pay for
// resolving them.
#include "voice/clip_encoder.h"
#include "voice/voice_io.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using velmor::voice::ClipEncoder;

namespace {

// Whether a library whose file name starts with `stem` is mapped now.
bool mapped(const QByteArray &stem)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    const QByteArray all = maps.readAll();
    return all.contains("/" + stem);
}

} // namespace

class ClipModuleLoadingTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    // Runs first: nothing else in this program has loaded them yet.
    void mediaBackendWaitsForThePlayback()
    {
        const VoiceIO voice;
        for (const QByteArray &library : {QByteArray("libffmpegmediaplugin.so"), QByteArray("libavcodec.so")})
            QVERIFY2(!mapped(library), library + " is loaded by the voice object before any playback");
    }

    void encoderLibrariesLoadWithTheFirstClip()
    {
        const QList<QByteArray> libraries = {"libavcodec.so", "libavformat.so", "libswresample.so"};
        for (const QByteArray &library : libraries)
            QVERIFY2(!mapped(library), library + " is loaded before any recording");
        // A format the encoder refuses loads nothing either.
        ClipEncoder refused;
        QVERIFY(!refused.open(m_dir.filePath(QStringLiteral("refused.m4a")), QAudioFormat()));
        for (const QByteArray &library : libraries)
            QVERIFY2(!mapped(library), library + " is loaded for a clip that could not start");

        QAudioFormat format;
        format.setSampleFormat(QAudioFormat::Int16);
        format.setChannelCount(1);
        format.setSampleRate(48000);
        ClipEncoder encoder;
        const QString path = m_dir.filePath(QStringLiteral("first.m4a"));
        QVERIFY(encoder.open(path, format));
        const QByteArray silence(9600, '\0');
        QVERIFY(encoder.write(silence.constData(), silence.size()));
        QVERIFY(encoder.finish());
        QVERIFY(QFileInfo(path).size() > 0);
        for (const QByteArray &library : libraries)
            QVERIFY2(mapped(library), library + " is not loaded once a clip was written");
    }
};

QTEST_GUILESS_MAIN(ClipModuleLoadingTest)
#include "test_clip_module_loading.moc"
