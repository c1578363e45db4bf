#include "voice/livekit/livekit.h"

namespace livekit {

namespace {
class UnavailableBackend : public Backend
{
public:
    bool initialize(LogLevel) override { return false; }
    void shutdown() override {}
    std::shared_ptr<Room> createRoom() override { throw Error("LiveKit unavailable"); }
    std::unique_ptr<PlatformAudio> createPlatformAudio() override { throw Error("LiveKit unavailable"); }
    std::shared_ptr<LocalAudioTrack> createLocalAudioTrack(const std::string &,
                                                           const std::shared_ptr<PlatformAudioSource> &) override
    {
        throw Error("LiveKit unavailable");
    }
};
} // namespace

std::shared_ptr<Backend> makeFfiBackend()
{
    return std::make_shared<UnavailableBackend>();
}

} // namespace livekit
