// A LiveKit backend driven by a test: rooms, participants, speaking, mutes,
// connection changes and disconnects happen when the test says so, and the
// delegate hears of them on the backend's own thread, as with the real one.
#pragma once

#include "voice/livekit/livekit.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <thread>

namespace livekit {

class ScriptedBackend;

class ScriptedTrack : public LocalAudioTrack
{
public:
    ScriptedTrack(std::string name, std::shared_ptr<ScriptedBackend> backend)
        : m_name(std::move(name)), m_backend(std::move(backend)) {}
    std::string name() const override { return m_name; }
    void mute() override;
    void unmute() override;
    bool muted() const override;
    bool published() const;
    TrackPublishOptions publishOptions() const;
    void markPublished(const TrackPublishOptions &options);

private:
    const std::string m_name;
    std::shared_ptr<ScriptedBackend> m_backend;
    mutable std::mutex m_mutex;
    bool m_muted = false;
    bool m_published = false;
    TrackPublishOptions m_options;
};

class ScriptedRoom : public Room
{
public:
    explicit ScriptedRoom(std::shared_ptr<ScriptedBackend> backend);
    ~ScriptedRoom() override;

    bool connect(const std::string &url, const std::string &token, const RoomOptions &options) override;
    std::string lastError() const override;
    std::weak_ptr<LocalParticipant> localParticipant() override;
    std::vector<std::weak_ptr<Participant>> remoteParticipants() override;
    void disconnect(DisconnectReason reason) override;

    // What the client did.
    std::string url() const;
    std::string token() const;
    bool connected() const;
    bool disconnectedByClient() const;
    std::vector<std::shared_ptr<ScriptedTrack>> publishedTracks() const;

    // What the server does; each change reaches the delegate on the
    // backend's thread, in the order given.
    void addRemote(const std::string &identity);
    void removeRemote(const std::string &identity);
    void setMuted(const std::string &identity, bool muted);
    void setSpeaking(const std::vector<std::string> &identities);
    void setConnectionState(int state);
    void dropConnection();
    void reconnecting();
    void reconnected();
    void endOfStream();
    void loseLocalParticipant();

private:
    class Local;
    class Remote;
    void deliver(std::function<void(RoomDelegate &, Room &)> call);

    std::shared_ptr<ScriptedBackend> m_backend;
    std::weak_ptr<ScriptedRoom> m_self;
    mutable std::mutex m_mutex;
    std::string m_url;
    std::string m_token;
    std::string m_error;
    bool m_connected = false;
    bool m_disconnectedByClient = false;
    std::shared_ptr<Local> m_local;
    std::vector<std::shared_ptr<Remote>> m_remotes;
    friend class Local;
    friend class ScriptedBackend;
};

class ScriptedBackend : public Backend, public std::enable_shared_from_this<ScriptedBackend>
{
public:
    ScriptedBackend();
    ~ScriptedBackend() override;

    bool available() override;
    bool initialize(LogLevel level) override;
    void shutdown() override;
    std::shared_ptr<Room> createRoom() override;
    std::unique_ptr<PlatformAudio> createPlatformAudio() override;
    std::shared_ptr<LocalAudioTrack> createLocalAudioTrack(const std::string &name,
                                                           const std::shared_ptr<PlatformAudioSource> &source) override;

    // Script.
    void setAvailable(bool available);
    void setInitializeResult(bool ok);
    void setAudioLayerError(const std::string &what);  // the audio layer throws this when created
    void setTrackError(const std::string &what);       // tracks throw this when created, muted or unmuted
    void setDeviceError(const std::string &what);      // device listing throws this after the first device
    void setDevices(std::vector<AudioDeviceInfo> inputs, std::vector<AudioDeviceInfo> outputs);
    void setLocalIdentity(const std::string &identity);
    void setConnectResult(bool ok, const std::string &error = std::string());
    void holdConnects(bool hold);                       // connect() waits until released
    int waitingConnects() const;

    // Observation.
    std::shared_ptr<ScriptedRoom> lastRoom() const;
    int roomsCreated() const;
    int roomsAlive() const;
    int shutdowns() const;
    int initializations() const; // successful ones
    std::string recordingDevice() const;
    std::string playoutDevice() const;
    // Returns once every change scripted so far has reached its delegate.
    void drain();

    // Used by the scripted objects.
    void post(std::function<void()> work);
    std::string trackError() const;
    std::string deviceError() const;
    std::vector<AudioDeviceInfo> inputs() const;
    std::vector<AudioDeviceInfo> outputs() const;
    void chooseRecordingDevice(const std::string &id);
    void choosePlayoutDevice(const std::string &id);
    std::string localIdentity() const;
    bool awaitConnect(std::string *error);
    // Throws as the library does when nothing initialised it.
    void requireStarted() const;

private:
    void run();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_queue;
    bool m_busy = false;
    bool m_stopping = false;
    std::thread m_thread;

    bool m_available = true;
    bool m_initializeResult = true;
    int m_initializations = 0;
    int m_users = 0; // rooms and sources need one, as with the library
    std::string m_audioLayerError;
    std::string m_trackError;
    std::string m_deviceError;
    std::vector<AudioDeviceInfo> m_inputs;
    std::vector<AudioDeviceInfo> m_outputs;
    std::string m_localIdentity;
    bool m_connectResult = true;
    std::string m_connectError;
    bool m_holdConnects = false;
    int m_waitingConnects = 0;
    std::weak_ptr<ScriptedRoom> m_lastRoom;
    std::vector<std::weak_ptr<ScriptedRoom>> m_rooms;
    int m_shutdowns = 0;
    std::string m_recordingDevice;
    std::string m_playoutDevice;
};

} // namespace livekit
