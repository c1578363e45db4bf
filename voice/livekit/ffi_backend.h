// Pieces of the FFI backend that tests and benchmarks reach directly: an
// audio source and a local track of the library, without a room.
#pragma once

#include "voice/livekit/ffi_client.h"
#include "voice/livekit/livekit.h"

namespace livekit::ffi {

class AudioSource;

class Track : public LocalAudioTrack
{
public:
    Track(std::shared_ptr<Client> client, std::uint64_t handle, std::string name,
          std::shared_ptr<PlatformAudioSource> source = nullptr);
    ~Track() override;
    std::uint64_t handle() const { return m_handle; }
    std::string name() const override { return m_name; }
    void mute() override { setMuted(true); }
    void unmute() override { setMuted(false); }
    bool muted() const override;

private:
    void setMuted(bool muted);

    std::shared_ptr<Client> m_client;
    std::uint64_t m_handle;
    std::string m_name;
    // The source feeds the track for as long as the track lives.
    std::shared_ptr<PlatformAudioSource> m_source;
    mutable std::mutex m_mutex;
    bool m_muted = false;
};

// A 48 kHz mono source of the library; throws Error.
std::shared_ptr<AudioSource> newAudioSource(const std::shared_ptr<Client> &client,
                                            const PlatformAudioOptions &options);
// A local track fed by `source`; throws Error.
std::shared_ptr<Track> newLocalAudioTrack(const std::string &name, const std::shared_ptr<PlatformAudioSource> &source);

} // namespace livekit::ffi
