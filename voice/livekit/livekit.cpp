#include "voice/livekit/livekit.h"

#include <atomic>

namespace livekit {

namespace {

std::mutex g_backendMutex;
std::shared_ptr<Backend> g_backend;

std::shared_ptr<Backend> activeBackend()
{
    std::lock_guard lock(g_backendMutex);
    if (!g_backend)
        g_backend = makeFfiBackend();
    return g_backend;
}

std::atomic<std::uint64_t> g_nextRoomId{1};

} // namespace

void setBackend(std::shared_ptr<Backend> chosen)
{
    std::lock_guard lock(g_backendMutex);
    g_backend = std::move(chosen);
}

std::shared_ptr<Backend> backend()
{
    return activeBackend();
}

bool available()
{
    return activeBackend()->available();
}

bool initialize(LogLevel level)
{
    return activeBackend()->initialize(level);
}

void shutdown()
{
    activeBackend()->shutdown();
}

Room::Room()
    : m_id(g_nextRoomId.fetch_add(1))
{
}

void Room::setDelegate(std::shared_ptr<RoomDelegate> delegate)
{
    std::lock_guard lock(m_delegateMutex);
    m_delegate = std::move(delegate);
}

std::shared_ptr<Room> Room::create()
{
    return activeBackend()->createRoom();
}

std::unique_ptr<PlatformAudio> PlatformAudio::create()
{
    return activeBackend()->createPlatformAudio();
}

std::shared_ptr<LocalAudioTrack> LocalAudioTrack::createLocalAudioTrack(const std::string &name,
                                                                        const std::shared_ptr<PlatformAudioSource> &source)
{
    return activeBackend()->createLocalAudioTrack(name, source);
}

void DelegateRelay::detach()
{
    std::lock_guard lock(m_mutex);
    m_target = nullptr;
}

#define LIVEKIT_RELAY(call)                 \
    std::lock_guard lock(m_mutex);          \
    if (m_target)                           \
        m_target->call;

void DelegateRelay::onParticipantConnected(Room &room, const std::string &identity)
{
    LIVEKIT_RELAY(onParticipantConnected(room, identity))
}
void DelegateRelay::onParticipantDisconnected(Room &room, const std::string &identity)
{
    LIVEKIT_RELAY(onParticipantDisconnected(room, identity))
}
void DelegateRelay::onTrackMuted(Room &room, const std::string &identity)
{
    LIVEKIT_RELAY(onTrackMuted(room, identity))
}
void DelegateRelay::onTrackUnmuted(Room &room, const std::string &identity)
{
    LIVEKIT_RELAY(onTrackUnmuted(room, identity))
}
void DelegateRelay::onActiveSpeakersChanged(Room &room, const std::vector<std::string> &identities)
{
    LIVEKIT_RELAY(onActiveSpeakersChanged(room, identities))
}
void DelegateRelay::onConnectionStateChanged(Room &room, int state)
{
    LIVEKIT_RELAY(onConnectionStateChanged(room, state))
}
void DelegateRelay::onDisconnected(Room &room, DisconnectReason reason)
{
    LIVEKIT_RELAY(onDisconnected(room, reason))
}
void DelegateRelay::onReconnecting(Room &room)
{
    LIVEKIT_RELAY(onReconnecting(room))
}
void DelegateRelay::onReconnected(Room &room)
{
    LIVEKIT_RELAY(onReconnected(room))
}
void DelegateRelay::onRoomEos(Room &room)
{
    LIVEKIT_RELAY(onRoomEos(room))
}

#undef LIVEKIT_RELAY

} // namespace livekit
