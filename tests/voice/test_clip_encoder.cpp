// The clip encoder from every sample layout a microphone may deliver, fed in
// pieces that cut its frames apart, decoded again as a receiver would.
#include "clip_decoder.h"
#include "voice/clip_encoder.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

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

// A 440 Hz tone at half of full scale on every channel, 16-bit or float.
QByteArray tone(const QAudioFormat &format, int ms)
{
    QByteArray bytes;
    const int frames = int(qint64(format.sampleRate()) * ms / 1000);
    for (int i = 0; i < frames; ++i) {
        const float v = 0.5f * float(std::sin(2.0 * M_PI * 440.0 * i / format.sampleRate()));
        const qint16 s = qint16(std::lround(v * 32767));
        for (int c = 0; c < format.channelCount(); ++c) {
            if (format.sampleFormat() == QAudioFormat::Int16)
                bytes.append(reinterpret_cast<const char *>(&s), sizeof s);
            else
                bytes.append(reinterpret_cast<const char *>(&v), sizeof v);
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
        QTest::newRow("int16 mono 8 kHz byte by byte") << int(QAudioFormat::Int16) << 1 << 8000 << 300 << 1 << 8000;
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
};

QTEST_GUILESS_MAIN(ClipEncoderTest)
#include "test_clip_encoder.moc"
