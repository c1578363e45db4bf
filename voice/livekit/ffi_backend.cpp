// The LiveKit backend over the client FFI library: rooms, participants and
// tracks by handle, room events turned into delegate callbacks on the
// library's threads, and the audio devices of Qt Multimedia.
#include "voice/livekit/ffi_backend.h"

#include "voice/livekit/ffi_audio.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QtDebug>

#include <algorithm>
#include <chrono>
#include <functional>

namespace livekit {

namespace ffi {

namespace {

class FfiParticipant : public Participant
{
public:
    FfiParticipant(std::shared_ptr<Client> client, std::uint64_t handle, std::string identity)
        : m_client(std::move(client)), m_handle(handle), m_identity(std::move(identity)) {}
    ~FfiParticipant() override { m_client->dropHandle(m_handle); }
    std::string identity() const override { return m_identity; }

private:
    std::shared_ptr<Client> m_client;
    std::uint64_t m_handle;
    std::string m_identity;
};

} // namespace

// ------------------------------------------------------------------ tracks

Track::Track(std::shared_ptr<Client> client, std::uint64_t handle, std::string name,
             std::shared_ptr<PlatformAudioSource> source)
    : m_client(std::move(client)), m_handle(handle), m_name(std::move(name)), m_source(std::move(source))
{
}

Track::~Track()
{
    m_client->dropHandle(m_handle);
}

void Track::setMuted(bool muted)
{
    proto::FfiRequest request;
    request.mutable_local_track_mute()->set_track_handle(m_handle);
    request.mutable_local_track_mute()->set_mute(muted);
    if (!m_client->request(request))
        throw Error(muted ? "cannot mute the microphone" : "cannot unmute the microphone");
    std::lock_guard lock(m_mutex);
    m_muted = muted;
}

bool Track::muted() const
{
    std::lock_guard lock(m_mutex);
    return m_muted;
}

namespace {

class LocalFfiParticipant : public LocalParticipant
{
public:
    LocalFfiParticipant(std::shared_ptr<Client> client, std::uint64_t handle, std::string identity)
        : m_client(std::move(client)), m_handle(handle), m_identity(std::move(identity)) {}
    ~LocalFfiParticipant() override { m_client->dropHandle(m_handle); }
    std::string identity() const override { return m_identity; }

    void publishTrack(const std::shared_ptr<LocalAudioTrack> &track, const TrackPublishOptions &options) override
    {
        auto ffiTrack = std::dynamic_pointer_cast<Track>(track);
        if (!ffiTrack)
            throw Error("not a track of this backend");
        proto::FfiRequest request;
        auto *publish = request.mutable_publish_track();
        publish->set_local_participant_handle(m_handle);
        publish->set_track_handle(ffiTrack->handle());
        publish->mutable_options()->set_source(proto::TrackSource(int(options.source)));
        publish->mutable_options()->set_dtx(options.dtx);
        publish->mutable_options()->set_red(options.red);
        // Publishing completes later; the room reports the published track.
        const std::uint64_t asyncId = m_client->nextAsyncId();
        publish->set_request_async_id(asyncId);
        if (!m_client->request(request))
            throw Error("cannot publish the microphone");
        m_client->forget(asyncId);
    }

private:
    std::shared_ptr<Client> m_client;
    std::uint64_t m_handle;
    std::string m_identity;
};

class FfiRoom : public Room, public std::enable_shared_from_this<FfiRoom>
{
public:
    explicit FfiRoom(std::shared_ptr<Client> client, std::shared_ptr<QAudioDevice> playout)
        : m_client(std::move(client)), m_playout(std::move(playout)) {}

    ~FfiRoom() override
    {
        disconnect(DisconnectReason::ClientInitiated);
    }

    bool connect(const std::string &url, const std::string &token, const RoomOptions &options) override
    {
        proto::FfiRequest request;
        auto *connect = request.mutable_connect();
        connect->set_url(url);
        connect->set_token(token);
        auto *roomOptions = connect->mutable_options();
        roomOptions->set_auto_subscribe(options.autoSubscribe);
        roomOptions->set_connect_timeout_ms(options.connectTimeoutMs);
        roomOptions->set_join_retries(options.joinRetries);
        const std::uint64_t asyncId = m_client->nextAsyncId();
        connect->set_request_async_id(asyncId);
        std::future<proto::FfiEvent> answer = m_client->expect(asyncId);
        if (!m_client->request(request)) {
            m_client->forget(asyncId);
            return fail("the LiveKit library refused the connection request");
        }
        // The library keeps its own time; this only guards against an answer
        // that never comes.
        const auto patience = std::chrono::milliseconds(options.connectTimeoutMs) * (options.joinRetries + 1)
            + std::chrono::seconds(5);
        if (answer.wait_for(patience) != std::future_status::ready) {
            m_client->forget(asyncId);
            return fail("the LiveKit connection did not answer");
        }
        const proto::ConnectCallback callback = answer.get().connect();
        if (!callback.has_result())
            return fail(callback.has_error() ? callback.error() : std::string("connection failed"));

        const auto &result = callback.result();
        std::lock_guard lock(m_mutex);
        m_handle = result.room().handle().id();
        m_local = std::make_shared<LocalFfiParticipant>(m_client, result.local_participant().handle().id(),
                                                        result.local_participant().info().identity());
        for (const auto &entry : result.participants())
            m_remotes.push_back(std::make_shared<FfiParticipant>(m_client, entry.participant().handle().id(),
                                                                 entry.participant().info().identity()));
        std::weak_ptr<FfiRoom> self = weak_from_this();
        m_client->listen(m_handle, [self](const proto::FfiEvent &event) {
            if (auto room = self.lock())
                room->onEvent(event.room_event());
        });
        proto::FfiRequest ready;
        ready.mutable_ready_for_room_event()->set_room_handle(m_handle);
        m_client->request(ready);
        return true;
    }

    std::string lastError() const override
    {
        std::lock_guard lock(m_mutex);
        return m_error;
    }

    std::weak_ptr<LocalParticipant> localParticipant() override
    {
        std::lock_guard lock(m_mutex);
        return m_local;
    }

    std::vector<std::weak_ptr<Participant>> remoteParticipants() override
    {
        std::lock_guard lock(m_mutex);
        return {m_remotes.begin(), m_remotes.end()};
    }

    void disconnect(DisconnectReason reason) override
    {
        std::uint64_t handle = 0;
        std::vector<std::unique_ptr<RemotePlayout>> playouts;
        {
            std::lock_guard lock(m_mutex);
            std::swap(handle, m_handle);
            playouts.swap(m_playouts);
            m_remotes.clear();
            m_local.reset();
        }
        if (handle == 0)
            return;
        m_client->unlisten(handle);
        playouts.clear();
        proto::FfiRequest request;
        request.mutable_disconnect()->set_room_handle(handle);
        request.mutable_disconnect()->set_reason(proto::DisconnectReason(int(reason)));
        const std::uint64_t asyncId = m_client->nextAsyncId();
        request.mutable_disconnect()->set_request_async_id(asyncId);
        m_client->request(request);
        m_client->forget(asyncId);
        m_client->dropHandle(handle);
    }

private:
    bool fail(const std::string &error)
    {
        std::lock_guard lock(m_mutex);
        m_error = error;
        return false;
    }

    // On the library's thread.
    void onEvent(const proto::RoomEvent &event)
    {
        using E = proto::RoomEvent;
        switch (event.message_case()) {
        case E::kParticipantConnected: {
            const auto &info = event.participant_connected().info();
            {
                std::lock_guard lock(m_mutex);
                m_remotes.push_back(std::make_shared<FfiParticipant>(m_client, info.handle().id(), info.info().identity()));
            }
            notify([&](RoomDelegate &d, Room &r) { d.onParticipantConnected(r, info.info().identity()); });
            break;
        }
        case E::kParticipantDisconnected: {
            const std::string identity = event.participant_disconnected().participant_identity();
            {
                std::lock_guard lock(m_mutex);
                m_remotes.erase(std::remove_if(m_remotes.begin(), m_remotes.end(),
                                               [&](const auto &p) { return p->identity() == identity; }),
                                m_remotes.end());
            }
            notify([&](RoomDelegate &d, Room &r) { d.onParticipantDisconnected(r, identity); });
            break;
        }
        case E::kTrackSubscribed: {
            const auto &track = event.track_subscribed().track();
            if (track.info().kind() != proto::KIND_AUDIO)
                break;
            try {
                auto playout = std::make_unique<RemotePlayout>(m_client, track.handle().id(), *m_playout);
                std::lock_guard lock(m_mutex);
                m_playouts.push_back(std::move(playout));
            } catch (const std::exception &e) {
                qWarning().noquote() << "[VOICE] cannot play a remote track:" << e.what();
            }
            break;
        }
        case E::kTrackMuted:
            notify([&](RoomDelegate &d, Room &r) { d.onTrackMuted(r, event.track_muted().participant_identity()); });
            break;
        case E::kTrackUnmuted:
            notify([&](RoomDelegate &d, Room &r) { d.onTrackUnmuted(r, event.track_unmuted().participant_identity()); });
            break;
        case E::kActiveSpeakersChanged: {
            const auto &list = event.active_speakers_changed().participant_identities();
            const std::vector<std::string> identities(list.begin(), list.end());
            notify([&](RoomDelegate &d, Room &r) { d.onActiveSpeakersChanged(r, identities); });
            break;
        }
        case E::kConnectionStateChanged:
            notify([&](RoomDelegate &d, Room &r) {
                d.onConnectionStateChanged(r, int(event.connection_state_changed().state()));
            });
            break;
        case E::kDisconnected:
            notify([&](RoomDelegate &d, Room &r) {
                d.onDisconnected(r, DisconnectReason(int(event.disconnected().reason())));
            });
            break;
        case E::kReconnecting:
            notify([](RoomDelegate &d, Room &r) { d.onReconnecting(r); });
            break;
        case E::kReconnected:
            notify([](RoomDelegate &d, Room &r) { d.onReconnected(r); });
            break;
        case E::kEos:
            notify([](RoomDelegate &d, Room &r) { d.onRoomEos(r); });
            break;
        default:
            break;
        }
    }

    std::shared_ptr<Client> m_client;
    std::shared_ptr<QAudioDevice> m_playout;
    mutable std::mutex m_mutex;
    std::uint64_t m_handle = 0;
    std::string m_error;
    std::shared_ptr<LocalFfiParticipant> m_local;
    std::vector<std::shared_ptr<FfiParticipant>> m_remotes;
    std::vector<std::unique_ptr<RemotePlayout>> m_playouts;
};

std::vector<AudioDeviceInfo> describe(const QList<QAudioDevice> &devices)
{
    std::vector<AudioDeviceInfo> list;
    for (const QAudioDevice &device : devices)
        list.push_back({device.id().toStdString(), device.description().toStdString()});
    return list;
}

QAudioDevice find(const QList<QAudioDevice> &devices, const std::string &id)
{
    for (const QAudioDevice &device : devices)
        if (device.id().toStdString() == id)
            return device;
    throw Error("no audio device " + id);
}

// The devices are Qt Multimedia's; the microphone source reads the chosen
// input, remote tracks play on the chosen output.
class QtPlatformAudio : public PlatformAudio
{
public:
    // The library is needed only for a source; `client` gives it then, or throws.
    QtPlatformAudio(std::function<std::shared_ptr<Client>()> client, std::shared_ptr<QAudioDevice> playout)
        : m_client(std::move(client)), m_playout(std::move(playout)) {}

    std::vector<AudioDeviceInfo> recordingDevices() override
    {
        takeDefaultOutput();
        return describe(QMediaDevices::audioInputs());
    }
    std::vector<AudioDeviceInfo> playoutDevices() override
    {
        takeDefaultOutput();
        return describe(QMediaDevices::audioOutputs());
    }
    void setRecordingDevice(const std::string &id) override { m_recording = find(QMediaDevices::audioInputs(), id); }
    void setPlayoutDevice(const std::string &id) override { *m_playout = find(QMediaDevices::audioOutputs(), id); }

    std::shared_ptr<PlatformAudioSource> createAudioSource(const PlatformAudioOptions &options) override
    {
        auto source = newAudioSource(m_client(), options);
        source->startMicrophone(m_recording.isNull() ? QMediaDevices::defaultAudioInput() : m_recording);
        return source;
    }

private:
    // Rooms play on the default output until one is chosen. Asked at the
    // first listing, not when this is made: that loads the multimedia
    // backend, which the program's start does without.
    void takeDefaultOutput()
    {
        if (m_playout->isNull())
            *m_playout = QMediaDevices::defaultAudioOutput();
    }

    std::function<std::shared_ptr<Client>()> m_client;
    std::shared_ptr<QAudioDevice> m_playout;
    QAudioDevice m_recording;
};

class FfiBackend : public Backend, public std::enable_shared_from_this<FfiBackend>
{
public:
    bool available() override { return Client::installed(); }

    // Each initialize is matched by one shutdown; the last lets go of the
    // library (rooms still connecting keep it until they end).
    bool initialize(LogLevel) override
    {
        std::lock_guard lock(m_mutex);
        if (!m_client) {
            std::string error;
            m_client = Client::acquire(&error);
            if (!m_client) {
                qWarning().noquote() << "[VOICE] voice rooms are unavailable:" << QString::fromStdString(error);
                return false;
            }
        }
        ++m_users;
        return true;
    }

    void shutdown() override
    {
        std::lock_guard lock(m_mutex);
        if (m_users > 0 && --m_users == 0)
            m_client.reset();
    }

    std::shared_ptr<Room> createRoom() override
    {
        return std::make_shared<FfiRoom>(client(), m_playout);
    }

    std::unique_ptr<PlatformAudio> createPlatformAudio() override
    {
        return std::make_unique<QtPlatformAudio>([self = shared_from_this()] { return self->client(); }, m_playout);
    }

    std::shared_ptr<LocalAudioTrack> createLocalAudioTrack(const std::string &name,
                                                           const std::shared_ptr<PlatformAudioSource> &source) override
    {
        return newLocalAudioTrack(name, source);
    }

private:
    std::shared_ptr<Client> client()
    {
        std::lock_guard lock(m_mutex);
        if (!m_client)
            throw Error("LiveKit is not initialised");
        return m_client;
    }

    std::mutex m_mutex;
    std::shared_ptr<Client> m_client;
    int m_users = 0;
    std::shared_ptr<QAudioDevice> m_playout = std::make_shared<QAudioDevice>();
};

} // namespace

std::shared_ptr<AudioSource> newAudioSource(const std::shared_ptr<Client> &client, const PlatformAudioOptions &options)
{
    proto::FfiRequest request;
    auto *create = request.mutable_new_audio_source();
    create->set_type(proto::AUDIO_SOURCE_NATIVE);
    create->set_sample_rate(kSampleRate);
    create->set_num_channels(1);
    // Room for a late read of the device without refusing frames.
    create->set_queue_size_ms(200);
    auto *processing = create->mutable_options();
    processing->set_echo_cancellation(options.echoCancellation);
    processing->set_noise_suppression(options.noiseSuppression);
    processing->set_auto_gain_control(options.autoGainControl);
    const auto response = client->request(request);
    if (!response || !response->has_new_audio_source())
        throw Error("cannot create an audio source");
    return std::make_shared<AudioSource>(client, response->new_audio_source().source().handle().id());
}

std::shared_ptr<Track> newLocalAudioTrack(const std::string &name, const std::shared_ptr<PlatformAudioSource> &source)
{
    auto ffiSource = std::dynamic_pointer_cast<AudioSource>(source);
    if (!ffiSource)
        throw Error("not an audio source of this backend");
    proto::FfiRequest request;
    request.mutable_create_audio_track()->set_name(name);
    request.mutable_create_audio_track()->set_source_handle(ffiSource->handle());
    const auto response = ffiSource->client()->request(request);
    if (!response || !response->has_create_audio_track())
        throw Error("cannot create the audio track");
    return std::make_shared<Track>(ffiSource->client(), response->create_audio_track().track().handle().id(), name,
                                   ffiSource);
}

} // namespace ffi

std::shared_ptr<Backend> makeFfiBackend()
{
    return std::make_shared<ffi::FfiBackend>();
}

} // namespace livekit
