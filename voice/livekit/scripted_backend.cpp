#include "voice/livekit/scripted_backend.h"

#include <algorithm>

namespace livekit {

namespace {

class ScriptedAudioSource : public PlatformAudioSource
{
};

class ScriptedAudio : public PlatformAudio
{
public:
    explicit ScriptedAudio(std::shared_ptr<ScriptedBackend> backend) : m_backend(std::move(backend)) {}

    std::vector<AudioDeviceInfo> recordingDevices() override { return listed(m_backend->inputs()); }
    std::vector<AudioDeviceInfo> playoutDevices() override { return listed(m_backend->outputs()); }
    void setRecordingDevice(const std::string &id) override { m_backend->chooseRecordingDevice(id); }
    void setPlayoutDevice(const std::string &id) override { m_backend->choosePlayoutDevice(id); }
    std::shared_ptr<PlatformAudioSource> createAudioSource(const PlatformAudioOptions &) override
    {
        m_backend->requireStarted();
        return std::make_shared<ScriptedAudioSource>();
    }

private:
    // A device error strikes after the first device, as a device that
    // vanishes while the list is read.
    std::vector<AudioDeviceInfo> listed(const std::vector<AudioDeviceInfo> &devices) const
    {
        if (!m_backend->deviceError().empty() && devices.size() > 1)
            throw Error(m_backend->deviceError());
        return devices;
    }

    std::shared_ptr<ScriptedBackend> m_backend;
};

} // namespace

// ------------------------------------------------------------------ tracks

void ScriptedTrack::mute()
{
    if (!m_backend->trackError().empty())
        throw Error(m_backend->trackError());
    std::lock_guard lock(m_mutex);
    m_muted = true;
}

void ScriptedTrack::unmute()
{
    if (!m_backend->trackError().empty())
        throw Error(m_backend->trackError());
    std::lock_guard lock(m_mutex);
    m_muted = false;
}

bool ScriptedTrack::muted() const
{
    std::lock_guard lock(m_mutex);
    return m_muted;
}

bool ScriptedTrack::published() const
{
    std::lock_guard lock(m_mutex);
    return m_published;
}

TrackPublishOptions ScriptedTrack::publishOptions() const
{
    std::lock_guard lock(m_mutex);
    return m_options;
}

void ScriptedTrack::markPublished(const TrackPublishOptions &options)
{
    std::lock_guard lock(m_mutex);
    m_published = true;
    m_options = options;
}

// ------------------------------------------------------------ participants

class ScriptedRoom::Local : public LocalParticipant
{
public:
    Local(ScriptedRoom *room, std::string identity) : m_room(room), m_identity(std::move(identity)) {}
    std::string identity() const override { return m_identity; }
    void publishTrack(const std::shared_ptr<LocalAudioTrack> &track, const TrackPublishOptions &options) override
    {
        auto scripted = std::dynamic_pointer_cast<ScriptedTrack>(track);
        if (!scripted)
            throw Error("not a track of this backend");
        scripted->markPublished(options);
        std::lock_guard lock(m_room->m_mutex);
        m_published.push_back(scripted);
    }
    std::vector<std::shared_ptr<ScriptedTrack>> m_published;

private:
    ScriptedRoom *m_room;
    const std::string m_identity;
};

class ScriptedRoom::Remote : public Participant
{
public:
    explicit Remote(std::string identity) : m_identity(std::move(identity)) {}
    std::string identity() const override { return m_identity; }

private:
    const std::string m_identity;
};

// -------------------------------------------------------------------- room

ScriptedRoom::ScriptedRoom(std::shared_ptr<ScriptedBackend> backend)
    : m_backend(std::move(backend))
{
}

ScriptedRoom::~ScriptedRoom() = default;

bool ScriptedRoom::connect(const std::string &url, const std::string &token, const RoomOptions &)
{
    {
        std::lock_guard lock(m_mutex);
        m_url = url;
        m_token = token;
    }
    std::string error;
    const bool ok = m_backend->awaitConnect(&error);
    std::lock_guard lock(m_mutex);
    m_connected = ok;
    m_error = error;
    if (ok)
        m_local = std::make_shared<Local>(this, m_backend->localIdentity());
    return ok;
}

std::string ScriptedRoom::lastError() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

std::weak_ptr<LocalParticipant> ScriptedRoom::localParticipant()
{
    std::lock_guard lock(m_mutex);
    return m_local;
}

std::vector<std::weak_ptr<Participant>> ScriptedRoom::remoteParticipants()
{
    std::lock_guard lock(m_mutex);
    return {m_remotes.begin(), m_remotes.end()};
}

void ScriptedRoom::disconnect(DisconnectReason reason)
{
    std::lock_guard lock(m_mutex);
    m_connected = false;
    m_disconnectedByClient = reason == DisconnectReason::ClientInitiated;
}

std::string ScriptedRoom::url() const
{
    std::lock_guard lock(m_mutex);
    return m_url;
}

std::string ScriptedRoom::token() const
{
    std::lock_guard lock(m_mutex);
    return m_token;
}

bool ScriptedRoom::connected() const
{
    std::lock_guard lock(m_mutex);
    return m_connected;
}

bool ScriptedRoom::disconnectedByClient() const
{
    std::lock_guard lock(m_mutex);
    return m_disconnectedByClient;
}

std::vector<std::shared_ptr<ScriptedTrack>> ScriptedRoom::publishedTracks() const
{
    std::lock_guard lock(m_mutex);
    return m_local ? m_local->m_published : std::vector<std::shared_ptr<ScriptedTrack>>();
}

void ScriptedRoom::deliver(std::function<void(RoomDelegate &, Room &)> call)
{
    std::weak_ptr<ScriptedRoom> self = m_self;
    m_backend->post([self, call] {
        if (auto room = self.lock())
            room->notify(call);
    });
}

void ScriptedRoom::addRemote(const std::string &identity)
{
    {
        std::lock_guard lock(m_mutex);
        m_remotes.push_back(std::make_shared<Remote>(identity));
    }
    deliver([identity](RoomDelegate &d, Room &r) { d.onParticipantConnected(r, identity); });
}

void ScriptedRoom::removeRemote(const std::string &identity)
{
    {
        std::lock_guard lock(m_mutex);
        m_remotes.erase(std::remove_if(m_remotes.begin(), m_remotes.end(),
                                       [&](const auto &p) { return p->identity() == identity; }),
                        m_remotes.end());
    }
    deliver([identity](RoomDelegate &d, Room &r) { d.onParticipantDisconnected(r, identity); });
}

void ScriptedRoom::setMuted(const std::string &identity, bool muted)
{
    deliver([identity, muted](RoomDelegate &d, Room &r) {
        if (muted)
            d.onTrackMuted(r, identity);
        else
            d.onTrackUnmuted(r, identity);
    });
}

void ScriptedRoom::setSpeaking(const std::vector<std::string> &identities)
{
    deliver([identities](RoomDelegate &d, Room &r) { d.onActiveSpeakersChanged(r, identities); });
}

void ScriptedRoom::setConnectionState(int state)
{
    deliver([state](RoomDelegate &d, Room &r) { d.onConnectionStateChanged(r, state); });
}

void ScriptedRoom::dropConnection()
{
    {
        std::lock_guard lock(m_mutex);
        m_connected = false;
    }
    deliver([](RoomDelegate &d, Room &r) { d.onDisconnected(r, DisconnectReason::ServerShutdown); });
}

void ScriptedRoom::reconnecting()
{
    deliver([](RoomDelegate &d, Room &r) { d.onReconnecting(r); });
}

void ScriptedRoom::reconnected()
{
    deliver([](RoomDelegate &d, Room &r) { d.onReconnected(r); });
}

void ScriptedRoom::endOfStream()
{
    deliver([](RoomDelegate &d, Room &r) { d.onRoomEos(r); });
}

void ScriptedRoom::loseLocalParticipant()
{
    std::lock_guard lock(m_mutex);
    m_local.reset();
}

// ----------------------------------------------------------------- backend

ScriptedBackend::ScriptedBackend()
    : m_thread([this] { run(); })
{
}

ScriptedBackend::~ScriptedBackend()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    // The last owner may be a room let go on the backend's own thread.
    if (m_thread.get_id() == std::this_thread::get_id())
        m_thread.detach();
    else
        m_thread.join();
}

void ScriptedBackend::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty())
            return;
        auto work = std::move(m_queue.front());
        m_queue.pop_front();
        m_busy = true;
        lock.unlock();
        work();
        work = nullptr;
        lock.lock();
        m_busy = false;
        m_wake.notify_all();
    }
}

void ScriptedBackend::post(std::function<void()> work)
{
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(std::move(work));
    }
    m_wake.notify_all();
}

void ScriptedBackend::drain()
{
    std::unique_lock lock(m_mutex);
    m_wake.wait(lock, [this] { return m_queue.empty() && !m_busy; });
}

bool ScriptedBackend::available()
{
    std::lock_guard lock(m_mutex);
    return m_available;
}

bool ScriptedBackend::initialize(LogLevel)
{
    std::lock_guard lock(m_mutex);
    if (m_initializeResult) {
        ++m_initializations;
        ++m_users;
    }
    return m_initializeResult;
}

void ScriptedBackend::shutdown()
{
    std::lock_guard lock(m_mutex);
    ++m_shutdowns;
    if (m_users > 0)
        --m_users;
}

void ScriptedBackend::requireStarted() const
{
    std::lock_guard lock(m_mutex);
    if (m_users == 0)
        throw Error("LiveKit is not initialised");
}

std::shared_ptr<Room> ScriptedBackend::createRoom()
{
    requireStarted();
    auto room = std::make_shared<ScriptedRoom>(shared_from_this());
    room->m_self = room;
    std::lock_guard lock(m_mutex);
    m_lastRoom = room;
    m_rooms.push_back(room);
    return room;
}

std::unique_ptr<PlatformAudio> ScriptedBackend::createPlatformAudio()
{
    std::lock_guard lock(m_mutex);
    if (!m_audioLayerError.empty())
        throw Error(m_audioLayerError);
    return std::make_unique<ScriptedAudio>(shared_from_this());
}

std::shared_ptr<LocalAudioTrack> ScriptedBackend::createLocalAudioTrack(const std::string &name,
                                                                        const std::shared_ptr<PlatformAudioSource> &source)
{
    if (!source)
        throw Error("no audio source");
    if (!trackError().empty())
        throw Error(trackError());
    return std::make_shared<ScriptedTrack>(name, shared_from_this());
}

bool ScriptedBackend::awaitConnect(std::string *error)
{
    std::unique_lock lock(m_mutex);
    ++m_waitingConnects;
    m_wake.notify_all();
    m_wake.wait(lock, [this] { return !m_holdConnects || m_stopping; });
    --m_waitingConnects;
    if (!m_connectResult)
        *error = m_connectError;
    return m_connectResult;
}

void ScriptedBackend::setAvailable(bool available)
{
    std::lock_guard lock(m_mutex);
    m_available = available;
}

void ScriptedBackend::setInitializeResult(bool ok)
{
    std::lock_guard lock(m_mutex);
    m_initializeResult = ok;
}

void ScriptedBackend::setAudioLayerError(const std::string &what)
{
    std::lock_guard lock(m_mutex);
    m_audioLayerError = what;
}

void ScriptedBackend::setTrackError(const std::string &what)
{
    std::lock_guard lock(m_mutex);
    m_trackError = what;
}

void ScriptedBackend::setDeviceError(const std::string &what)
{
    std::lock_guard lock(m_mutex);
    m_deviceError = what;
}

void ScriptedBackend::setDevices(std::vector<AudioDeviceInfo> inputs, std::vector<AudioDeviceInfo> outputs)
{
    std::lock_guard lock(m_mutex);
    m_inputs = std::move(inputs);
    m_outputs = std::move(outputs);
}

void ScriptedBackend::setLocalIdentity(const std::string &identity)
{
    std::lock_guard lock(m_mutex);
    m_localIdentity = identity;
}

void ScriptedBackend::setConnectResult(bool ok, const std::string &error)
{
    std::lock_guard lock(m_mutex);
    m_connectResult = ok;
    m_connectError = error;
}

void ScriptedBackend::holdConnects(bool hold)
{
    {
        std::lock_guard lock(m_mutex);
        m_holdConnects = hold;
    }
    m_wake.notify_all();
}

int ScriptedBackend::waitingConnects() const
{
    std::lock_guard lock(m_mutex);
    return m_waitingConnects;
}

std::shared_ptr<ScriptedRoom> ScriptedBackend::lastRoom() const
{
    std::lock_guard lock(m_mutex);
    return m_lastRoom.lock();
}

int ScriptedBackend::roomsCreated() const
{
    std::lock_guard lock(m_mutex);
    return int(m_rooms.size());
}

int ScriptedBackend::roomsAlive() const
{
    std::lock_guard lock(m_mutex);
    return int(std::count_if(m_rooms.begin(), m_rooms.end(), [](const auto &room) { return !room.expired(); }));
}

int ScriptedBackend::initializations() const
{
    std::lock_guard lock(m_mutex);
    return m_initializations;
}

int ScriptedBackend::shutdowns() const
{
    std::lock_guard lock(m_mutex);
    return m_shutdowns;
}

std::string ScriptedBackend::recordingDevice() const
{
    std::lock_guard lock(m_mutex);
    return m_recordingDevice;
}

std::string ScriptedBackend::playoutDevice() const
{
    std::lock_guard lock(m_mutex);
    return m_playoutDevice;
}

std::string ScriptedBackend::trackError() const
{
    std::lock_guard lock(m_mutex);
    return m_trackError;
}

std::string ScriptedBackend::deviceError() const
{
    std::lock_guard lock(m_mutex);
    return m_deviceError;
}

std::vector<AudioDeviceInfo> ScriptedBackend::inputs() const
{
    std::lock_guard lock(m_mutex);
    return m_inputs;
}

std::vector<AudioDeviceInfo> ScriptedBackend::outputs() const
{
    std::lock_guard lock(m_mutex);
    return m_outputs;
}

void ScriptedBackend::chooseRecordingDevice(const std::string &id)
{
    std::lock_guard lock(m_mutex);
    if (std::none_of(m_inputs.begin(), m_inputs.end(), [&](const auto &d) { return d.id == id; }))
        throw Error("no such recording device");
    m_recordingDevice = id;
}

void ScriptedBackend::choosePlayoutDevice(const std::string &id)
{
    std::lock_guard lock(m_mutex);
    if (std::none_of(m_outputs.begin(), m_outputs.end(), [&](const auto &d) { return d.id == id; }))
        throw Error("no such playout device");
    m_playoutDevice = id;
}

std::string ScriptedBackend::localIdentity() const
{
    std::lock_guard lock(m_mutex);
    return m_localIdentity;
}

} // namespace livekit
