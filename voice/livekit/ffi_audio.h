// Audio between Qt Multimedia and the LiveKit FFI library: the microphone
// read with QAudioSource and handed over as 10 ms frames of 48 kHz mono
// 16-bit samples, paced by the device itself, and the frames of an audio
// stream played through QAudioSink.
#pragma once

#include "voice/livekit/ffi_client.h"
#include "voice/livekit/livekit.h"

#include <QAudioDevice>
#include <QByteArray>
#include <QIODevice>
#include <QObject>
#include <QPointer>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QAudioSink;
class QAudioSource;

namespace livekit::ffi {

constexpr int kSampleRate = 48000;
constexpr int kFrameSamples = kSampleRate / 100; // 10 ms, mono

// The library's audio source, fed from the microphone while it lives.
class AudioSource : public PlatformAudioSource
{
public:
    AudioSource(std::shared_ptr<Client> client, std::uint64_t handle);
    ~AudioSource() override;
    std::uint64_t handle() const { return m_handle; }
    std::shared_ptr<Client> client() const { return m_client; }

    // Hands one 10 ms frame to the library; false when it refused the request.
    bool captureFrame(const std::int16_t *samples, int count);
    // Reads the device until this source goes (GUI thread).
    void startMicrophone(const QAudioDevice &device);
    // Bytes read from the microphone as they come: whole frames go out, the
    // rest waits for the next read.
    void pushBytes(const QByteArray &bytes);

private:
    std::shared_ptr<Client> m_client;
    std::uint64_t m_handle;
    QByteArray m_pending;
    QPointer<QAudioSource> m_microphone;
};

// Frames of one track as the library hands them back, mono 48 kHz.
class AudioStream
{
public:
    using FrameHandler = std::function<void(const std::int16_t *samples, int count)>;
    // Throws Error when the library refuses the stream.
    AudioStream(std::shared_ptr<Client> client, std::uint64_t trackHandle, FrameHandler onFrame);
    ~AudioStream();

private:
    std::shared_ptr<Client> m_client;
    std::uint64_t m_handle = 0;
};

// Samples waiting for the speaker; read by QAudioSink on the GUI thread,
// written on the library's threads.
class PlayoutBuffer : public QIODevice
{
public:
    PlayoutBuffer();
    void write(const std::int16_t *samples, int count);
    qint64 bytesAvailable() const override;
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    mutable std::mutex m_mutex;
    std::deque<char> m_bytes;
};

// Plays a remote track on the chosen output device for as long as it lives.
class RemotePlayout
{
public:
    RemotePlayout(std::shared_ptr<Client> client, std::uint64_t trackHandle, const QAudioDevice &device);
    ~RemotePlayout();

private:
    std::unique_ptr<AudioStream> m_stream;
    QPointer<PlayoutBuffer> m_buffer;
};

} // namespace livekit::ffi
