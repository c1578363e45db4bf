// The clip encoder from every sample layout a microphone may deliver, fed in
// pieces that cut its frames apart, decoded again as a receiver would.
#include "clip_decoder.h"
#include "voice/clip_encoder.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstring>

using velmor::voice::ClipEncoder;

namespace {

QAudioFormat formatOf(QAudioFormat::SampleFormat sampleFormat, int channels, int rate)
{
    QAudioFormat format;
    format.setSampleFormat(sampleFormat);
    format.setChannelCount(channels);
    format.setSampleRate(rate);
    return format;
}

// A 440 Hz tone at half of full scale on every channel.
QByteArray tone(const QAudioFormat &format, int ms)
{
    const int frames = int(qint64(format.sampleRate()) * ms / 1000);
    QByteArray bytes(qsizetype(frames) * format.bytesPerFrame(), Qt::Uninitialized);
    char *out = bytes.data();
    for (int i = 0; i < frames; ++i) {
        const float v = 0.5f * float(std::sin(2.0 * M_PI * 440.0 * i / format.sampleRate()));
        for (int c = 0; c < format.channelCount(); ++c) {
            const int size = format.bytesPerSample();
            switch (format.sampleFormat()) {
            case QAudioFormat::UInt8: {
                const quint8 s = quint8(128 + std::lround(v * 127));
                std::memcpy(out, &s, size);
                break;
            }
            case QAudioFormat::Int16: {
                const qint16 s = qint16(std::lround(v * 32767));
                std::memcpy(out, &s, size);
                break;
            }
            case QAudioFormat::Int32: {
                const qint32 s = qint32(std::lround(double(v) * 2147483647.0));
                std::memcpy(out, &s, size);
                break;
            }
            default:
                std::memcpy(out, &v, size);
            }
            out += size;
        }
    }
    return bytes;
}

} // namespace

class ClipEncoderTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void layoutsDecodeToTheSameSound_data()
    {
        QTest::addColumn<int>("sampleFormat");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("ms");
        QTest::addColumn<int>("chunk"); // bytes per write; 0: all at once
        QTest::addColumn<int>("clipRate");
        QTest::newRow("int16 stereo 44.1 kHz in odd pieces") << int(QAudioFormat::Int16) << 2 << 44100 << 1000 << 1001 << 44100;
        QTest::newRow("float mono 48 kHz at once") << int(QAudioFormat::Float) << 1 << 48000 << 1000 << 0 << 48000;
        QTest::newRow("uint8 mono 8 kHz byte by byte") << int(QAudioFormat::UInt8) << 1 << 8000 << 300 << 1 << 8000;
        QTest::newRow("int32 stereo 16 kHz") << int(QAudioFormat::Int32) << 2 << 16000 << 1000 << 4096 << 16000;
        QTest::newRow("float four channels 32 kHz") << int(QAudioFormat::Float) << 4 << 32000 << 1000 << 3333 << 32000;
        QTest::newRow("int16 at a rate AAC lacks") << int(QAudioFormat::Int16) << 1 << 11111 << 1000 << 960 << 48000;
        QTest::newRow("no sample at all") << int(QAudioFormat::Int16) << 2 << 48000 << 0 << 0 << 48000;
    }

    void layoutsDecodeToTheSameSound()
    {
        QFETCH(int, sampleFormat);
        QFETCH(int, channels);
        QFETCH(int, rate);
        QFETCH(int, ms);
        QFETCH(int, chunk);
        QFETCH(int, clipRate);
        const QAudioFormat format = formatOf(QAudioFormat::SampleFormat(sampleFormat), channels, rate);
        const QByteArray samples = tone(format, ms);
        const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + QStringLiteral(".m4a"));

        ClipEncoder encoder;
        QVERIFY(encoder.open(path, format));
        const qsizetype step = chunk > 0 ? chunk : qMax<qsizetype>(samples.size(), 1);
        for (qsizetype at = 0; at < samples.size(); at += step)
            QVERIFY(encoder.write(samples.constData() + at, qMin(step, samples.size() - at)));
        QVERIFY(encoder.finish());
        QVERIFY(!encoder.isOpen());

        const DecodedClip clip = decodeClip(path);
        QVERIFY(clip.ok);
        QVERIFY2(clip.container.contains(QLatin1String("m4a")), qPrintable(clip.container));
        QCOMPARE(clip.codec, QStringLiteral("aac"));
        QCOMPARE(clip.channels, 1);
        QCOMPARE(clip.sampleRate, clipRate);
        // As long as what went in, give or take one codec frame (a clip with
        // no sample holds one frame of silence).
        const qint64 expected = qint64(clipRate) * ms / 1000;
        QVERIFY2(std::abs(clip.samples - expected) <= 1024,
                 qPrintable(QStringLiteral("%1 samples, %2 expected").arg(clip.samples).arg(expected)));
        // The tone is heard at its level (a sine of amplitude 0.5 has an RMS
        // of 0.35), neither lost, nor summed over channels, nor noise.
        if (ms > 0)
            QVERIFY2(clip.rms > 0.3 && clip.rms < 0.4, qPrintable(QString::number(clip.rms)));
    }

    void unusableInputIsRefused_data()
    {
        QTest::addColumn<QAudioFormat>("format");
        QTest::addColumn<QString>("folder");
        QTest::newRow("unknown sample format") << formatOf(QAudioFormat::Unknown, 1, 48000) << m_dir.path();
        QTest::newRow("no channel") << formatOf(QAudioFormat::Int16, 0, 48000) << m_dir.path();
        QTest::newRow("no rate") << formatOf(QAudioFormat::Int16, 1, 0) << m_dir.path();
        QTest::newRow("folder missing") << formatOf(QAudioFormat::Int16, 1, 48000) << m_dir.filePath(QStringLiteral("gone"));
    }

    void unusableInputIsRefused()
    {
        QFETCH(QAudioFormat, format);
        QFETCH(QString, folder);
        const QString path = folder + QStringLiteral("/refused.m4a");
        ClipEncoder encoder;
        QVERIFY(!encoder.open(path, format));
        QVERIFY(!encoder.isOpen());
        const QByteArray some(64, '\0');
        QVERIFY(!encoder.write(some.constData(), some.size()));
        QVERIFY(!encoder.finish());
        // A refused clip leaves no file a sender could pick up.
        QVERIFY(!QFile::exists(path));
    }
};

QTEST_GUILESS_MAIN(ClipEncoderTest)
#include "test_clip_encoder.moc"
