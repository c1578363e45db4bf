#include "voice/voice_room_controller.h"

#include "net/relay_session.h"
#include "net/supergroup_api.h"
#include "store/chat_store.h"
#include "voice/room_participants.h"

#include <QFutureWatcher>
#include <QMediaDevices>
#include <QMetaObject>
#include <QtConcurrent>
#include <QtDebug>

#include <mutex>

using velmor::net::ServiceError;
using velmor::sg::SuperGroupApi;

namespace {

QString ownKey()
{
    return velmor::net::RelayAuthSession::instance().identity().publicKeyText().trimmed();
}

QString fromUtf8(const std::string &text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

} // namespace

// Started on the pool by the first join that needs it; the controller lets
// go of it when it goes, and a join still running then starts nothing.
struct VoiceRoomController::Library
{
    std::mutex mutex;
    bool started = false;
    bool released = false;

    bool start()
    {
        std::lock_guard lock(mutex);
        if (!started && !released)
            started = livekit::initialize(livekit::LogLevel::Info);
        return started;
    }

    void release()
    {
        std::lock_guard lock(mutex);
        released = true;
        if (started)
            livekit::shutdown();
        started = false;
    }
};

// The group server's token answer, and the room connected with it.
struct VoiceRoomController::JoinResult
{
    velmor::sg::SGVoiceToken token;
    std::shared_ptr<livekit::Room> liveRoom; // set only after a successful connect
    QString errorText;                       // a failure of the LiveKit side
};

VoiceRoomController::VoiceRoomController(QObject *parent)
    : QObject(parent)
    , m_library(std::make_shared<Library>())
    , m_relay(std::make_shared<livekit::DelegateRelay>(this))
{
    if (!livekit::available()) {
        m_lastError = QStringLiteral("LiveKit SDK 初始化失败");
        return;
    }
    try {
        m_platformAudio = livekit::PlatformAudio::create();
    } catch (const std::exception &e) {
        m_lastError = QString::fromUtf8(e.what());
    }
}

VoiceRoomController::~VoiceRoomController()
{
    // From here on no room reaches this object, also one that a join still
    // connects on the pool.
    m_relay->detach();
    if (m_mediaDevices)
        disconnect(m_mediaDevices.get(), nullptr, this, nullptr);
    if (m_room) {
        m_room->setDelegate(nullptr);
        m_micTrack.reset();
        m_room->disconnect(livekit::DisconnectReason::ClientInitiated);
        m_room.reset();
    }
    m_platformAudio.reset();
    m_library->release();
}

// ------------------------------------------------------------------ helpers

VoiceRoomController::Outcome VoiceRoomController::callServer(
    bool (velmor::sg::SuperGroupApi::*call)(const QString &, ServiceError *), const QString &url)
{
    Outcome outcome;
    outcome.ok = (SuperGroupApi::instance().*call)(url, &outcome.error);
    return outcome;
}

bool VoiceRoomController::isSelf(const QString &pubkey) const
{
    const QString self = ownKey();
    return !self.isEmpty() && pubkey.trimmed() == self;
}

bool VoiceRoomController::amOpener() const
{
    return !m_openerPubkey.isEmpty() && isSelf(m_openerPubkey);
}

bool VoiceRoomController::isOwner() const
{
    return !m_ownerPubkey.isEmpty() && isSelf(m_ownerPubkey);
}

// The speaker set describes the joined room while one is held, else the shown group.
QString VoiceRoomController::speakerSetUrl() const
{
    return m_room ? m_joinedServerUrl : m_visibleServerUrl;
}

void VoiceRoomController::setError(const QString &text)
{
    m_lastError = text;
    emit stateChanged();
}

void VoiceRoomController::setBusy()
{
    if (!m_busy) {
        m_busy = true;
        emit stateChanged();
    }
}

template <typename T>
void VoiceRoomController::startJob(std::function<T()> work, std::function<void(const T &)> done)
{
    auto *watcher = new QFutureWatcher<T>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, done] {
        watcher->deleteLater();
        if (m_busy) {
            m_busy = false;
            emit stateChanged();
        }
        done(watcher->result());
        // A group shown while this job ran asked for its status in vain.
        if (m_statusWanted) {
            m_statusWanted = false;
            refreshStatus();
        }
    });
    watcher->setFuture(QtConcurrent::run(std::move(work)));
}

// ------------------------------------------------------------- showing, status

void VoiceRoomController::showGroup(const QString &serverUrl, const QString &title, bool premiumPlus)
{
    const bool same = serverUrl == m_visibleServerUrl;
    m_visibleServerUrl = serverUrl;
    m_groupTitle = title;
    m_premiumPlus = premiumPlus;
    if (!same) {
        m_attemptFailed = false;
        m_roomOpen = false;
        m_canOpen = false;
        if (!m_room) {
            m_ownerPubkey.clear();
            m_openerPubkey.clear();
            m_speakerSet.clear();
        }
    }
    emit stateChanged();
    if (premiumPlus && !serverUrl.isEmpty())
        refreshStatus();
}

void VoiceRoomController::refreshStatus()
{
    if (!m_premiumPlus || m_visibleServerUrl.isEmpty())
        return;
    if (m_busy) {
        m_statusWanted = true;
        return;
    }
    setBusy();
    const QString url = m_visibleServerUrl;
    startJob<velmor::sg::SGVoiceStatus>(
        [url] { return SuperGroupApi::instance().voiceStatus(url); },
        [this, url](const velmor::sg::SGVoiceStatus &status) {
            if (url != m_visibleServerUrl)
                return;
            if (!status.ok) {
                setError(status.error.detail.isEmpty() ? QStringLiteral("无法读取聊天室状态") : status.error.detail);
                return;
            }
            if (!m_attemptFailed)
                m_lastError.clear();
            applyStatus(status.open, status.canOpen, status.ownerPubkey, status.openerPubkey, status.speakers);
        });
}

void VoiceRoomController::applyStatus(bool open, bool canOpen, const QString &owner, const QString &opener,
                                      const QStringList &speakers)
{
    m_roomOpen = open;
    m_canOpen = canOpen;
    if (m_room && !m_joinedServerUrl.isEmpty() && m_joinedServerUrl != m_visibleServerUrl) {
        emit stateChanged();
        return;
    }
    m_ownerPubkey = owner;
    m_openerPubkey = opener;
    m_speakerSet.clear();
    for (const QString &key : speakers)
        m_speakerSet.insert(key.trimmed());

    const QString self = ownKey();
    const bool amSpeaker = !self.isEmpty()
        && (self == m_ownerPubkey.trimmed() || self == m_openerPubkey.trimmed() || m_speakerSet.contains(self));
    if (m_canPublish && !amSpeaker) {
        setMicEnabled(false);
        dropMicTrack();
    } else if (!m_canPublish && amSpeaker && m_room) {
        m_canPublish = true;
        dropMicTrack();
        publishMicrophone(false);
    }
    m_canPublish = amSpeaker;

    if (!open && m_room && m_joinedServerUrl == m_visibleServerUrl) {
        leaveSteps();
        emit roomClosedRemotely();
    }
    rebuildParticipants();
    emit stateChanged();
}

void VoiceRoomController::setRoomOpenExternally(const QString &serverUrl, bool open)
{
    if (serverUrl.isEmpty() || serverUrl != m_visibleServerUrl || m_roomOpen == open)
        return;
    m_roomOpen = open;
    emit stateChanged();
}

// ------------------------------------------------------------ open and join

void VoiceRoomController::openRoom()
{
    if (!m_canOpen || m_visibleServerUrl.isEmpty() || m_busy)
        return;
    // A new attempt: the failure of the last one is no longer the news.
    m_attemptFailed = false;
    m_lastError.clear();
    setBusy();
    const QString url = m_visibleServerUrl;
    startJob<Outcome>(
        [url] { return callServer(&SuperGroupApi::openVoiceRoom, url); },
        [this, url](const Outcome &outcome) {
            if (outcome.ok) {
                if (url != m_visibleServerUrl)
                    return;
                m_roomOpen = true;
                emit stateChanged();
                joinRoom();
                return;
            }
            m_attemptFailed = true;
            setError(outcome.error.detail.isEmpty() ? QStringLiteral("开启聊天室失败") : outcome.error.detail);
        });
}

void VoiceRoomController::joinRoom()
{
    if (!m_platformAudio) {
        m_attemptFailed = true;
        setError(QStringLiteral("当前构建未启用 LiveKit 语音 SDK"));
        return;
    }
    if (!m_roomOpen || m_visibleServerUrl.isEmpty() || m_busy)
        return;
    // The room plays on the output chosen (or the default) before it connects.
    startDevices();
    m_attemptFailed = false;
    m_lastError.clear();
    setBusy();
    m_connectionText = QStringLiteral("连接中…");
    emit stateChanged();

    const QString url = m_visibleServerUrl;
    const std::shared_ptr<livekit::RoomDelegate> relay = m_relay;
    const std::shared_ptr<Library> library = m_library;
    startJob<JoinResult>(
        [url, relay, library] {
            JoinResult result;
            if (!library->start()) {
                result.errorText = QStringLiteral("LiveKit SDK 初始化失败");
                return result;
            }
            result.token = SuperGroupApi::instance().voiceToken(url);
            const velmor::sg::SGVoiceToken &token = result.token;
            if (!token.ok)
                return result;
            try {
                std::shared_ptr<livekit::Room> room = livekit::Room::create();
                room->setDelegate(relay);
                if (room->connect(token.url.toStdString(), token.token.toStdString(), livekit::RoomOptions()))
                    result.liveRoom = room;
                else {
                    result.errorText = QStringLiteral("LiveKit 连接失败");
                    qWarning().noquote() << "[VOICE] join failed:" << QString::fromStdString(room->lastError());
                }
                if (!result.liveRoom)
                    room->setDelegate(nullptr);
            } catch (const std::exception &e) {
                result.errorText = QString::fromUtf8(e.what());
            }
            return result;
        },
        [this, url](const JoinResult &result) { applyJoin(url, result); });
}

void VoiceRoomController::applyJoin(const QString &url, const JoinResult &result)
{
    if (url != m_visibleServerUrl) {
        // Another group is shown now: the room this join made goes.
        if (result.liveRoom) {
            result.liveRoom->setDelegate(nullptr);
            result.liveRoom->disconnect(livekit::DisconnectReason::ClientInitiated);
        }
        // Not left "connecting" for good: the text is that of the room held.
        m_connectionText = m_room ? (m_connected ? QStringLiteral("已连接") : QStringLiteral("已断开")) : QString();
        emit stateChanged();
        return;
    }
    if (!result.errorText.isEmpty() || !result.token.ok || !result.liveRoom) {
        m_lastError = result.errorText.isEmpty() ? result.token.error.detail : result.errorText;
        // Never an empty error for a failed join: the confirm popup shows it.
        if (m_lastError.isEmpty())
            m_lastError = QStringLiteral("连接失败");
        m_attemptFailed = true;
        m_connectionText = QStringLiteral("连接失败");
        emit stateChanged();
        return;
    }
    leaveSteps();
    m_room = result.liveRoom;
    m_joinedServerUrl = url;
    m_roomGroupTitle = m_groupTitle;
    m_ownerPubkey = result.token.ownerPubkey;
    m_openerPubkey = result.token.openerPubkey;
    if (m_ownerPubkey.isEmpty()) {
        const auto group = ChatStore::instance().superGroup(m_joinedServerUrl);
        if (group && group->role == QLatin1String("owner"))
            m_ownerPubkey = ownKey();
    }
    m_canPublish = result.token.canPublish;
    m_connected = true;
    m_connectionText = QStringLiteral("已连接");
    if (m_canPublish)
        publishMicrophone(true);
    refreshDevices();
    rebuildParticipants();
    emit stateChanged();
    refreshStatus();
}

// ------------------------------------------------------------------- leaving

void VoiceRoomController::dropMicTrack()
{
    m_micTrack.reset();
}

void VoiceRoomController::leaveSteps()
{
    std::shared_ptr<livekit::Room> room = std::move(m_room);
    m_room.reset();
    dropMicTrack();
    if (room) {
        // Nothing this room still reports may touch the state from here on.
        room->setDelegate(nullptr);
        room->disconnect(livekit::DisconnectReason::ClientInitiated);
    }
    m_canPublish = false;
    m_micEnabled = false;
    m_connected = false;
    m_speakingSet.clear();
    m_mutedSet.clear();
    m_connectionText.clear();
    m_joinedServerUrl.clear();
    m_roomGroupTitle.clear();
    rebuildParticipants();
    emit stateChanged();
}

void VoiceRoomController::leaveRoom()
{
    leaveSteps();
}

void VoiceRoomController::dissolveRoom()
{
    const QString url = m_joinedServerUrl.isEmpty() ? m_visibleServerUrl : m_joinedServerUrl;
    if (!(amOpener() || isOwner()) || m_busy || url.isEmpty())
        return;
    setBusy();
    startJob<Outcome>(
        [url] { return callServer(&SuperGroupApi::closeVoiceRoom, url); },
        [this, url](const Outcome &outcome) {
            // The answer concerns the room it was asked for, not whatever
            // room the user moved on to meanwhile.
            if (outcome.ok) {
                if (url == m_visibleServerUrl)
                    m_roomOpen = false;
                if (m_room && url == m_joinedServerUrl)
                    leaveSteps();
            } else if (url == m_visibleServerUrl || url == m_joinedServerUrl) {
                m_lastError = outcome.error.detail.isEmpty() ? QStringLiteral("解散聊天室失败") : outcome.error.detail;
            }
            emit stateChanged();
        });
}

// ----------------------------------------------------------- speaking right

void VoiceRoomController::grantSpeaker(const QString &pubkey)
{
    changeSpeaker(pubkey, true);
}

void VoiceRoomController::revokeSpeaker(const QString &pubkey)
{
    changeSpeaker(pubkey, false);
}

void VoiceRoomController::changeSpeaker(const QString &pubkey, bool grant)
{
    if (!amOpener() || pubkey.isEmpty() || m_busy)
        return;
    setBusy();
    const QString url = m_visibleServerUrl;
    startJob<bool>(
        [url, pubkey, grant] {
            return grant ? SuperGroupApi::instance().grantSpeaker(url, pubkey)
                         : SuperGroupApi::instance().revokeSpeaker(url, pubkey);
        },
        [this, url, pubkey, grant](const bool &ok) {
            // The answer concerns the speakers of the room it was asked for.
            if (url != speakerSetUrl())
                return;
            if (!ok) {
                setError(grant ? QStringLiteral("设置发言人失败") : QStringLiteral("取消发言人失败"));
                return;
            }
            if (grant)
                m_speakerSet.insert(pubkey.trimmed());
            else
                m_speakerSet.remove(pubkey.trimmed());
            rebuildParticipants();
            emit stateChanged();
        });
}

// ------------------------------------------------------------------- events

void VoiceRoomController::handleSuperGroupEvent(const QString &serverUrl, const QString &type, const QVariantMap &data)
{
    const bool shown = !serverUrl.isEmpty() && serverUrl == m_visibleServerUrl;
    const bool joined = !serverUrl.isEmpty() && serverUrl == m_joinedServerUrl;
    if (!shown && !joined)
        return;

    if (type == QLatin1String("server.voice.opened")) {
        if (shown) {
            m_roomOpen = true;
            emit stateChanged();
            refreshStatus();
        } else {
            emit stateChanged();
        }
    } else if (type == QLatin1String("server.voice.closed")) {
        if (shown) {
            m_roomOpen = false;
            if (!joined)
                emit stateChanged();
        }
        if (joined) {
            leaveSteps();
            emit roomClosedRemotely();
        }
    } else if (type == QLatin1String("server.voice.grant") || type == QLatin1String("server.voice.revoke")) {
        if (m_room && !joined)
            return;
        const QString pubkey = data.value(QStringLiteral("pubkey")).toString().trimmed();
        if (type == QLatin1String("server.voice.grant")) {
            m_speakerSet.insert(pubkey);
            if (isSelf(pubkey)) {
                m_canPublish = true;
                dropMicTrack();
                publishMicrophone(false);
            }
        } else {
            m_speakerSet.remove(pubkey);
            if (isSelf(pubkey)) {
                setMicEnabled(false);
                m_canPublish = false;
                dropMicTrack();
            }
        }
        rebuildParticipants();
        emit stateChanged();
    }
}

// --------------------------------------------------------------- microphone

void VoiceRoomController::setMicEnabled(bool enabled)
{
    if (!m_canPublish)
        return;
    if (m_micTrack) {
        try {
            if (enabled)
                m_micTrack->unmute();
            else
                m_micTrack->mute();
            m_micEnabled = enabled;
        } catch (const std::exception &e) {
            m_lastError = QString::fromUtf8(e.what());
        }
    } else {
        publishMicrophone(enabled);
    }
    emit stateChanged();
    rebuildParticipants();
}

void VoiceRoomController::publishMicrophone(bool enabled)
{
    if (!m_room || !m_platformAudio || !m_canPublish)
        return;
    try {
        if (!m_micTrack) {
            livekit::PlatformAudioOptions audioOptions;
            audioOptions.echoCancellation = true;
            audioOptions.noiseSuppression = true;
            audioOptions.autoGainControl = true;
            const auto source = m_platformAudio->createAudioSource(audioOptions);
            m_micTrack = livekit::LocalAudioTrack::createLocalAudioTrack("microphone", source);
            if (const auto local = m_room->localParticipant().lock()) {
                livekit::TrackPublishOptions publish;
                publish.source = livekit::TrackSource::Microphone;
                publish.dtx = true;
                local->publishTrack(m_micTrack, publish);
            }
        }
        if (enabled)
            m_micTrack->unmute();
        else
            m_micTrack->mute();
        m_micEnabled = enabled;
    } catch (const std::exception &e) {
        m_lastError = QString::fromUtf8(e.what());
    }
}

// -------------------------------------------------------------- participants

void VoiceRoomController::rebuildParticipants()
{
    const QList<velmor::chat::SuperGroupMemberRecord> members =
        m_visibleServerUrl.isEmpty() ? QList<velmor::chat::SuperGroupMemberRecord>()
                                     : ChatStore::instance().superGroupMembers(m_visibleServerUrl);
    const QString self = ownKey();
    QStringList identities;
    if (m_room) {
        if (const auto local = m_room->localParticipant().lock())
            identities.append(fromUtf8(local->identity()));
        for (const auto &weak : m_room->remoteParticipants())
            if (const auto remote = weak.lock())
                identities.append(fromUtf8(remote->identity()));
        if (identities.isEmpty())
            identities.append(self);
    }

    velmor::voice::RoomMarks marks;
    marks.self = self;
    marks.owner = m_ownerPubkey.trimmed();
    marks.opener = m_openerPubkey.trimmed();
    marks.speakerSet = m_speakerSet;
    marks.speakingSet = m_speakingSet;
    marks.mutedSet = m_mutedSet;
    marks.canPublish = m_canPublish;
    marks.micEnabled = m_micEnabled;
    velmor::voice::ParticipantLists lists = velmor::voice::buildParticipants(identities, members, marks);
    m_speakers = std::move(lists.speakers);
    m_listeners = std::move(lists.listeners);
    emit participantsChanged();
}

// ------------------------------------------------------------------- devices

void VoiceRoomController::refreshDevices()
{
    if (readDevices())
        emit devicesChanged();
}

// A view's first read fills the lists it gets; what changes later is told.
void VoiceRoomController::startDevices()
{
    if (!m_mediaDevices)
        refreshDevices();
}

QVariantList VoiceRoomController::inputDevices()
{
    if (!m_mediaDevices)
        readDevices();
    return m_inputDevices;
}

QVariantList VoiceRoomController::outputDevices()
{
    if (!m_mediaDevices)
        readDevices();
    return m_outputDevices;
}

// False without an audio layer. The first call starts the device layer and
// follows its changes from then on.
bool VoiceRoomController::readDevices()
{
    if (!m_platformAudio)
        return false;
    if (!m_mediaDevices) {
        m_mediaDevices = std::make_unique<QMediaDevices>();
        connect(m_mediaDevices.get(), &QMediaDevices::audioInputsChanged, this, &VoiceRoomController::refreshDevices);
        connect(m_mediaDevices.get(), &QMediaDevices::audioOutputsChanged, this, &VoiceRoomController::refreshDevices);
    }
    m_inputDevices.clear();
    m_outputDevices.clear();
    auto append = [](QVariantList &list, const std::vector<livekit::AudioDeviceInfo> &devices) {
        for (const auto &device : devices)
            list.append(QVariantMap{{QStringLiteral("id"), fromUtf8(device.id)},
                                    {QStringLiteral("name"), fromUtf8(device.name)}});
    };
    try {
        append(m_inputDevices, m_platformAudio->recordingDevices());
        append(m_outputDevices, m_platformAudio->playoutDevices());
    } catch (const std::exception &) {
        // The lists stay as far as they were read.
    }
    return true;
}

void VoiceRoomController::selectInputDevice(const QString &id)
{
    if (!m_platformAudio)
        return;
    try {
        m_platformAudio->setRecordingDevice(id.toStdString());
    } catch (const std::exception &) {
    }
}

void VoiceRoomController::selectOutputDevice(const QString &id)
{
    if (!m_platformAudio)
        return;
    try {
        m_platformAudio->setPlayoutDevice(id.toStdString());
    } catch (const std::exception &) {
    }
}

// ------------------------------------------------------------ room callbacks

// Runs `work` on the GUI thread only if `room` is still the room held then:
// a room that was left, or a join that was dropped, changes nothing.
void VoiceRoomController::postFromRoom(const livekit::Room &room, std::function<void()> work)
{
    const std::uint64_t roomId = room.id();
    QMetaObject::invokeMethod(
        this,
        [this, roomId, work = std::move(work)] {
            if (m_room && m_room->id() == roomId)
                work();
        },
        Qt::QueuedConnection);
}

void VoiceRoomController::onParticipantConnected(livekit::Room &room, const std::string &)
{
    postFromRoom(room, [this] { rebuildParticipants(); });
}

void VoiceRoomController::onParticipantDisconnected(livekit::Room &room, const std::string &)
{
    postFromRoom(room, [this] { rebuildParticipants(); });
}

void VoiceRoomController::onTrackMuted(livekit::Room &room, const std::string &identity)
{
    const QString key = fromUtf8(identity).trimmed();
    postFromRoom(room, [this, key] {
        m_mutedSet.insert(key);
        rebuildParticipants();
    });
}

void VoiceRoomController::onTrackUnmuted(livekit::Room &room, const std::string &identity)
{
    const QString key = fromUtf8(identity).trimmed();
    postFromRoom(room, [this, key] {
        m_mutedSet.remove(key);
        rebuildParticipants();
    });
}

void VoiceRoomController::onActiveSpeakersChanged(livekit::Room &room, const std::vector<std::string> &identities)
{
    QSet<QString> speaking;
    for (const std::string &identity : identities)
        speaking.insert(fromUtf8(identity).trimmed());
    postFromRoom(room, [this, speaking] {
        m_speakingSet = speaking;
        rebuildParticipants();
    });
}

void VoiceRoomController::onConnectionStateChanged(livekit::Room &room, int state)
{
    postFromRoom(room, [this, state] {
        m_connected = state == livekit::Connected;
        m_connectionText = state == livekit::Connected      ? QStringLiteral("已连接")
                         : state == livekit::Reconnecting ? QStringLiteral("重新连接中…")
                                                          : QStringLiteral("已断开");
        emit stateChanged();
    });
}

void VoiceRoomController::onDisconnected(livekit::Room &room, livekit::DisconnectReason)
{
    postFromRoom(room, [this] {
        m_connected = false;
        m_connectionText = QStringLiteral("已断开");
        emit stateChanged();
    });
}

void VoiceRoomController::onReconnecting(livekit::Room &room)
{
    postFromRoom(room, [this] {
        m_connectionText = QStringLiteral("重新连接中…");
        emit stateChanged();
    });
}

void VoiceRoomController::onReconnected(livekit::Room &room)
{
    postFromRoom(room, [this] {
        m_connected = true;
        m_connectionText = QStringLiteral("已连接");
        emit stateChanged();
        refreshStatus();
    });
}

void VoiceRoomController::onRoomEos(livekit::Room &room)
{
    postFromRoom(room, [this] { rebuildParticipants(); });
}
