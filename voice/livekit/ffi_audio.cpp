#include "voice/livekit/ffi_audio.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QAudioSource>
#include <QCoreApplication>
#include <QMetaObject>

#include <cstring>

namespace livekit::ffi {

namespace {

QAudioFormat voiceFormat()
{
    QAudioFormat format;
    format.setSampleRate(kSampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    return format;
}

// Runs `work` on the application's thread, where Qt Multimedia objects live.
void onGuiThread(std::function<void()> work)
{
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(work), Qt::AutoConnection);
}

} // namespace

// ----------------------------------------------------------------- source

AudioSource::AudioSource(std::shared_ptr<Client> client, std::uint64_t handle)
    : m_client(std::move(client)), m_handle(handle)
{
}

AudioSource::~AudioSource()
{
    if (QAudioSource *microphone = m_microphone.data()) {
        microphone->stop();
        delete microphone;
    }
    m_client->dropHandle(m_handle);
}

bool AudioSource::captureFrame(const std::int16_t *samples, int count)
{
    proto::FfiRequest request;
    auto *capture = request.mutable_capture_audio_frame();
    capture->set_source_handle(m_handle);
    auto *buffer = capture->mutable_buffer();
    buffer->set_data_ptr(reinterpret_cast<std::uint64_t>(samples));
    buffer->set_num_channels(1);
    buffer->set_sample_rate(kSampleRate);
    buffer->set_samples_per_channel(std::uint32_t(count));
    return m_client->request(request).has_value();
}

void AudioSource::pushBytes(const QByteArray &bytes)
{
    m_pending.append(bytes);
    constexpr int frameBytes = kFrameSamples * int(sizeof(std::int16_t));
    qsizetype offset = 0;
    while (m_pending.size() - offset >= frameBytes) {
        captureFrame(reinterpret_cast<const std::int16_t *>(m_pending.constData() + offset), kFrameSamples);
        offset += frameBytes;
    }
    m_pending.remove(0, offset);
}

void AudioSource::startMicrophone(const QAudioDevice &device)
{
    if (device.isNull())
        return;
    auto *microphone = new QAudioSource(device, voiceFormat());
    QIODevice *input = microphone->start();
    if (!input) {
        delete microphone;
        return;
    }
    m_microphone = microphone;
    QObject::connect(input, &QIODevice::readyRead, microphone, [this, input] { pushBytes(input->readAll()); });
}

// ----------------------------------------------------------------- stream

AudioStream::AudioStream(std::shared_ptr<Client> client, std::uint64_t trackHandle, FrameHandler onFrame)
    : m_client(std::move(client))
{
    proto::FfiRequest request;
    auto *open = request.mutable_new_audio_stream();
    open->set_track_handle(trackHandle);
    open->set_type(proto::AUDIO_STREAM_NATIVE);
    open->set_sample_rate(kSampleRate);
    open->set_num_channels(1);
    const auto response = m_client->request(request);
    if (!response || !response->has_new_audio_stream())
        throw Error("cannot open an audio stream");
    m_handle = response->new_audio_stream().stream().handle().id();
    std::weak_ptr<Client> weakClient = m_client;
    m_client->listen(m_handle, [onFrame, weakClient](const proto::FfiEvent &event) {
        const auto &streamEvent = event.audio_stream_event();
        if (!streamEvent.has_frame_received())
            return;
        const auto &frame = streamEvent.frame_received().frame();
        const auto &info = frame.info();
        const int channels = int(std::max<std::uint32_t>(1, info.num_channels()));
        const int count = int(info.samples_per_channel());
        // The frame's memory is the library's until its handle is dropped:
        // take the first channel now.
        std::vector<std::int16_t> mono(static_cast<std::size_t>(count));
        const auto *data = reinterpret_cast<const std::int16_t *>(info.data_ptr());
        for (int i = 0; i < count; ++i)
            mono[std::size_t(i)] = data[i * channels];
        if (auto client = weakClient.lock())
            client->dropHandle(frame.handle().id());
        onFrame(mono.data(), count);
    });
}

AudioStream::~AudioStream()
{
    m_client->unlisten(m_handle);
    m_client->dropHandle(m_handle);
}

// ----------------------------------------------------------------- playout

PlayoutBuffer::PlayoutBuffer()
{
    open(QIODevice::ReadOnly);
}

void PlayoutBuffer::write(const std::int16_t *samples, int count)
{
    // At most half a second waits; older samples give way.
    constexpr std::size_t limit = kSampleRate / 2 * sizeof(std::int16_t);
    const char *bytes = reinterpret_cast<const char *>(samples);
    std::lock_guard lock(m_mutex);
    m_bytes.insert(m_bytes.end(), bytes, bytes + count * int(sizeof(std::int16_t)));
    if (m_bytes.size() > limit)
        m_bytes.erase(m_bytes.begin(), m_bytes.begin() + std::ptrdiff_t(m_bytes.size() - limit));
}

qint64 PlayoutBuffer::bytesAvailable() const
{
    std::lock_guard lock(m_mutex);
    return qint64(m_bytes.size()) + QIODevice::bytesAvailable();
}

qint64 PlayoutBuffer::readData(char *data, qint64 maxSize)
{
    std::lock_guard lock(m_mutex);
    const qint64 count = std::min<qint64>(maxSize, qint64(m_bytes.size()));
    std::copy(m_bytes.begin(), m_bytes.begin() + count, data);
    m_bytes.erase(m_bytes.begin(), m_bytes.begin() + count);
    // Silence rather than a starved sink.
    std::memset(data + count, 0, std::size_t(maxSize - count));
    return maxSize;
}

RemotePlayout::RemotePlayout(std::shared_ptr<Client> client, std::uint64_t trackHandle, const QAudioDevice &device)
{
    auto *buffer = new PlayoutBuffer;
    m_buffer = buffer;
    m_stream = std::make_unique<AudioStream>(std::move(client), trackHandle,
                                             [buffer](const std::int16_t *samples, int count) {
                                                 buffer->write(samples, count);
                                             });
    QPointer<PlayoutBuffer> guarded = buffer;
    // The sink lives on the application's thread; the buffer goes with it.
    onGuiThread([guarded, device] {
        if (!guarded || device.isNull())
            return;
        auto *sink = new QAudioSink(device, voiceFormat());
        guarded->setParent(sink);
        sink->start(guarded.data());
    });
}

RemotePlayout::~RemotePlayout()
{
    m_stream.reset(); // no more writes into the buffer
    QPointer<PlayoutBuffer> buffer = m_buffer;
    onGuiThread([buffer] {
        if (!buffer)
            return;
        if (auto *sink = qobject_cast<QAudioSink *>(buffer->parent())) {
            sink->stop();
            delete sink;
        } else {
            delete buffer.data();
        }
    });
}

} // namespace livekit::ffi
