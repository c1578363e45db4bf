#include "voice/clip_encoder.h"

#include "voice/clip_codec.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QLibrary>
#include <QMutex>
#include <QStringList>

namespace velmor::voice {

namespace {

// The module's file name, looked for beside the program first, then where
// this build put it.
constexpr auto kModuleName = "libvelmor_clip_ffmpeg.so";

// Loads the module once per process, on first use; never unloaded (a clip
// may be written on another thread at any time). Null when it is missing or
// of another build: recording then fails with its usual error.
ClipCodecFactory codecFactory()
{
    static QMutex lock;
    static bool tried = false;
    static ClipCodecFactory factory = nullptr;
    QMutexLocker locker(&lock);
    if (tried)
        return factory;
    tried = true;
    QStringList candidates;
    if (QCoreApplication::instance())
        candidates << QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(kModuleName);
    candidates << QStringLiteral(VELMOR_CLIP_CODEC_MODULE);
    for (const QString &path : std::as_const(candidates)) {
        if (!QFile::exists(path))
            continue;
        auto *module = new QLibrary(path); // kept loaded for the process's life
        const auto abi = reinterpret_cast<ClipCodecAbi>(module->resolve(kClipCodecAbiSymbol));
        const auto create = reinterpret_cast<ClipCodecFactory>(module->resolve(kClipCodecFactorySymbol));
        if (abi && create && abi() == kClipCodecAbi) {
            factory = create;
            return factory;
        }
        qWarning() << "voice clip encoder module not usable:" << path << module->errorString();
        module->unload();
        delete module;
    }
    qWarning() << "voice clip encoder module not found";
    return nullptr;
}

ClipSampleFormat sampleFormatOf(QAudioFormat::SampleFormat format, bool *ok)
{
    *ok = true;
    switch (format) {
    case QAudioFormat::UInt8:
        return ClipSampleFormat::UInt8;
    case QAudioFormat::Int16:
        return ClipSampleFormat::Int16;
    case QAudioFormat::Int32:
        return ClipSampleFormat::Int32;
    case QAudioFormat::Float:
        return ClipSampleFormat::Float;
    default:
        *ok = false;
        return ClipSampleFormat::Int16;
    }
}

} // namespace

ClipEncoder::ClipEncoder() = default;
ClipEncoder::~ClipEncoder() = default;

bool ClipEncoder::open(const QString &path, const QAudioFormat &input)
{
    discard();
    bool known = false;
    const ClipSampleFormat format = sampleFormatOf(input.sampleFormat(), &known);
    if (!known)
        return false;
    if (!m_codec) {
        const ClipCodecFactory create = codecFactory();
        if (!create)
            return false;
        m_codec.reset(create());
    }
    return m_codec
        && m_codec->open(QFile::encodeName(path).constData(), format, input.channelCount(), input.sampleRate());
}

bool ClipEncoder::write(const char *data, qint64 size)
{
    return m_codec && m_codec->isOpen() && size >= 0 && m_codec->write(data, size);
}

bool ClipEncoder::finish()
{
    return m_codec && m_codec->isOpen() && m_codec->finish();
}

void ClipEncoder::discard()
{
    if (m_codec)
        m_codec->discard();
}

bool ClipEncoder::isOpen() const
{
    return m_codec && m_codec->isOpen();
}

} // namespace velmor::voice
