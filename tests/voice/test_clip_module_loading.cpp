// The encoder libraries load with the first clip, the media backend with the
// first playback, not at start.
#include "voice/clip_encoder.h"
#include "voice/voice_io.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using velmor::voice::ClipEncoder;

namespace {

// Those of these libraries (file name stems) that are mapped now.
QStringList mapped(const QList<QByteArray> &stems)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    const QByteArray all = maps.open(QIODevice::ReadOnly) ? maps.readAll() : QByteArray();
    QStringList out;
    for (const QByteArray &stem : stems)
        if (all.contains("/" + stem))
            out << QString::fromLatin1(stem);
    return out;
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
        QCOMPARE(mapped({"libffmpegmediaplugin.so", "libavcodec.so"}), QStringList());
    }

    // Not for a format the encoder refuses either.
    void encoderLibrariesLoadWithTheFirstClip()
    {
        const QList<QByteArray> libraries = {"libavcodec.so", "libavformat.so", "libswresample.so"};
        ClipEncoder refused;
        QVERIFY(!refused.open(m_dir.filePath(QStringLiteral("refused.m4a")), QAudioFormat()));
        QCOMPARE(mapped(libraries), QStringList());

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
        QCOMPARE(mapped(libraries).size(), libraries.size());
    }
};

QTEST_GUILESS_MAIN(ClipModuleLoadingTest)
#include "test_clip_module_loading.moc"
