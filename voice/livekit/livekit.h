// The LiveKit client as the voice-room controller uses it: a room with its
// participants and delegate callbacks, the platform's audio devices, an audio
// source from the microphone and a local audio track. Two backends sit behind
// it: the LiveKit client FFI library loaded at run time (the default) and a
// scripted one that tests drive. Both call the delegate on their own threads.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace livekit {

enum class LogLevel { Error = 0, Warn = 1, Info = 2, Debug = 3, Trace = 4 };

enum class DisconnectReason { Unknown = 0, ClientInitiated = 1, DuplicateIdentity = 2, ServerShutdown = 3,
                              ParticipantRemoved = 4, RoomDeleted = 5, JoinFailure = 7 };

// Connection states as the delegate reports them.
enum ConnectionState { Disconnected = 0, Connected = 1, Reconnecting = 2 };

struct RoomOptions
{
    bool autoSubscribe = true;
    // A server that accepts the connection and then says nothing would
    // otherwise hold a join for about half a minute.
    std::uint32_t connectTimeoutMs = 10000;
    std::uint32_t joinRetries = 0;
};

struct PlatformAudioOptions
{
    bool echoCancellation = false;
    bool noiseSuppression = false;
    bool autoGainControl = false;
};

enum class TrackSource { Unknown = 0, Camera = 1, Microphone = 2 };

struct TrackPublishOptions
{
    TrackSource source = TrackSource::Unknown;
    bool dtx = false;
    bool red = false;
};

struct AudioDeviceInfo
{
    std::string id;
    std::string name;
};

// Thrown by the backends for failures of the audio layer and the tracks.
class Error : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class Participant
{
public:
    virtual ~Participant() = default;
    virtual std::string identity() const = 0;
};

class PlatformAudioSource
{
public:
    virtual ~PlatformAudioSource() = default;
};

class LocalAudioTrack
{
public:
    virtual ~LocalAudioTrack() = default;
    // A track named `name` fed by `source`; throws Error.
    static std::shared_ptr<LocalAudioTrack> createLocalAudioTrack(const std::string &name,
                                                                  const std::shared_ptr<PlatformAudioSource> &source);
    virtual std::string name() const = 0;
    virtual void mute() = 0;
    virtual void unmute() = 0;
    virtual bool muted() const = 0;
};

class LocalParticipant : public Participant
{
public:
    virtual void publishTrack(const std::shared_ptr<LocalAudioTrack> &track, const TrackPublishOptions &options) = 0;
};

class Room;

// Every callback runs on a thread of the backend; `room` tells which room
// reports. Callbacks left alone do nothing.
class RoomDelegate
{
public:
    virtual ~RoomDelegate() = default;
    virtual void onParticipantConnected(Room &room, const std::string &identity) {}
    virtual void onParticipantDisconnected(Room &room, const std::string &identity) {}
    virtual void onTrackMuted(Room &room, const std::string &identity) {}
    virtual void onTrackUnmuted(Room &room, const std::string &identity) {}
    virtual void onActiveSpeakersChanged(Room &room, const std::vector<std::string> &identities) {}
    virtual void onConnectionStateChanged(Room &room, int state) {}
    virtual void onDisconnected(Room &room, DisconnectReason reason) {}
    virtual void onReconnecting(Room &room) {}
    virtual void onReconnected(Room &room) {}
    virtual void onRoomEos(Room &room) {}
};

// Forwards callbacks to a target until detach(); once detach() returns, no
// callback to the target is running or will run. An owner that may go while
// a room still lives hands the room a relay rather than itself.
class DelegateRelay : public RoomDelegate
{
public:
    explicit DelegateRelay(RoomDelegate *target) : m_target(target) {}
    void detach();

    void onParticipantConnected(Room &room, const std::string &identity) override;
    void onParticipantDisconnected(Room &room, const std::string &identity) override;
    void onTrackMuted(Room &room, const std::string &identity) override;
    void onTrackUnmuted(Room &room, const std::string &identity) override;
    void onActiveSpeakersChanged(Room &room, const std::vector<std::string> &identities) override;
    void onConnectionStateChanged(Room &room, int state) override;
    void onDisconnected(Room &room, DisconnectReason reason) override;
    void onReconnecting(Room &room) override;
    void onReconnected(Room &room) override;
    void onRoomEos(Room &room) override;

private:
    std::mutex m_mutex;
    RoomDelegate *m_target;
};

class Room
{
public:
    virtual ~Room() = default;

    // A new room of the active backend.
    static std::shared_ptr<Room> create();

    // A process-wide serial number, so that a late callback of a room that
    // is gone can never be taken for one of the room that followed it.
    std::uint64_t id() const { return m_id; }

    // Once setDelegate returns, a callback to the delegate it replaced is
    // neither running nor going to run.
    void setDelegate(std::shared_ptr<RoomDelegate> delegate);

    // Blocking: true once joined; false on any failure, with lastError().
    virtual bool connect(const std::string &url, const std::string &token, const RoomOptions &options) = 0;
    virtual std::string lastError() const = 0;
    virtual std::weak_ptr<LocalParticipant> localParticipant() = 0;
    virtual std::vector<std::weak_ptr<Participant>> remoteParticipants() = 0;
    virtual void disconnect(DisconnectReason reason) = 0;

protected:
    Room();
    // Calls `call(delegate)` under the delegate lock, if a delegate is set.
    template <typename Call>
    void notify(Call &&call)
    {
        std::lock_guard lock(m_delegateMutex);
        if (m_delegate)
            call(*m_delegate, *this);
    }

private:
    const std::uint64_t m_id;
    std::mutex m_delegateMutex;
    std::shared_ptr<RoomDelegate> m_delegate;
};

class PlatformAudio
{
public:
    virtual ~PlatformAudio() = default;
    // The audio layer of the active backend; throws Error. Listing and
    // choosing devices works before initialize(); sources need it.
    static std::unique_ptr<PlatformAudio> create();
    virtual std::vector<AudioDeviceInfo> recordingDevices() = 0;
    virtual std::vector<AudioDeviceInfo> playoutDevices() = 0;
    virtual void setRecordingDevice(const std::string &id) = 0;
    virtual void setPlayoutDevice(const std::string &id) = 0;
    virtual std::shared_ptr<PlatformAudioSource> createAudioSource(const PlatformAudioOptions &options) = 0;
};

// One implementation of the client.
class Backend
{
public:
    virtual ~Backend() = default;
    // Whether initialize() can be expected to succeed, decided without
    // loading anything: a program that never joins a room never pays for
    // the library.
    virtual bool available() = 0;
    virtual bool initialize(LogLevel level) = 0;
    virtual void shutdown() = 0;
    virtual std::shared_ptr<Room> createRoom() = 0;
    virtual std::unique_ptr<PlatformAudio> createPlatformAudio() = 0;
    virtual std::shared_ptr<LocalAudioTrack> createLocalAudioTrack(const std::string &name,
                                                                   const std::shared_ptr<PlatformAudioSource> &source) = 0;
};

// Chooses the backend for everything created after it; without a call the
// FFI library is used. Tests install the scripted backend this way.
void setBackend(std::shared_ptr<Backend> backend);
// The LiveKit client FFI library, loaded when first initialised.
std::shared_ptr<Backend> makeFfiBackend();
std::shared_ptr<Backend> backend();

// The active backend's available(): cheap, loads nothing.
bool available();
// True when the active backend can be used.
bool initialize(LogLevel level);
void shutdown();

} // namespace livekit
