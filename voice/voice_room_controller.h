// Voice rooms of premium-plus super groups: the room's status from the group
// server, opening, joining over LiveKit, the right to speak, dissolving and
// leaving, the participant lists and the audio devices. QML knows it as
// "VoiceRoom". State lives on the GUI thread; group-server calls and the
// LiveKit connect run as jobs on the global pool, and the room's callbacks
// arrive on LiveKit's threads and are carried over to the GUI thread.
#pragma once

#include "net/service_error.h"
#include "voice/livekit/livekit.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <memory>

namespace velmor::sg {
class SuperGroupApi;
}

class QMediaDevices;

class VoiceRoomController : public QObject, public livekit::RoomDelegate
{
    Q_OBJECT
    Q_PROPERTY(bool supported READ supported CONSTANT)
    Q_PROPERTY(bool busy READ busy NOTIFY stateChanged)
    Q_PROPERTY(bool roomOpen READ roomOpen NOTIFY stateChanged)
    Q_PROPERTY(bool active READ active NOTIFY stateChanged)
    Q_PROPERTY(bool activeForVisible READ activeForVisible NOTIFY stateChanged)
    Q_PROPERTY(bool connected READ connected NOTIFY stateChanged)
    Q_PROPERTY(bool canOpen READ canOpen NOTIFY stateChanged)
    Q_PROPERTY(bool canPublish READ canPublish NOTIFY stateChanged)
    Q_PROPERTY(bool micEnabled READ micEnabled NOTIFY stateChanged)
    Q_PROPERTY(bool amOpener READ amOpener NOTIFY stateChanged)
    Q_PROPERTY(bool isOwner READ isOwner NOTIFY stateChanged)
    Q_PROPERTY(QString connectionText READ connectionText NOTIFY stateChanged)
    Q_PROPERTY(QString visibleServerUrl READ visibleServerUrl NOTIFY stateChanged)
    Q_PROPERTY(QString groupTitle READ groupTitle NOTIFY stateChanged)
    Q_PROPERTY(QString roomGroupTitle READ roomGroupTitle NOTIFY stateChanged)
    Q_PROPERTY(QString ownerPubkey READ ownerPubkey NOTIFY stateChanged)
    Q_PROPERTY(QString lastError READ lastError NOTIFY stateChanged)
    Q_PROPERTY(QVariantList speakers READ speakers NOTIFY participantsChanged)
    Q_PROPERTY(QVariantList listeners READ listeners NOTIFY participantsChanged)
    Q_PROPERTY(QVariantList inputDevices READ inputDevices NOTIFY devicesChanged)
    Q_PROPERTY(QVariantList outputDevices READ outputDevices NOTIFY devicesChanged)

public:
    explicit VoiceRoomController(QObject *parent = nullptr);
    ~VoiceRoomController() override;

    // Decided at start without loading the library (it is installed and the
    // audio layer exists); a library that then fails to start fails the join.
    bool supported() const { return m_platformAudio != nullptr; }
    bool busy() const { return m_busy; }
    bool roomOpen() const { return m_roomOpen; }
    bool active() const { return m_room != nullptr; }
    bool activeForVisible() const { return m_room && m_joinedServerUrl == m_visibleServerUrl; }
    bool connected() const { return m_connected; }
    bool canOpen() const { return m_canOpen; }
    bool canPublish() const { return m_canPublish; }
    bool micEnabled() const { return m_micEnabled; }
    bool amOpener() const;
    bool isOwner() const;
    QString connectionText() const { return m_connectionText; }
    QString visibleServerUrl() const { return m_visibleServerUrl; }
    QString groupTitle() const { return m_groupTitle; }
    QString roomGroupTitle() const { return m_roomGroupTitle.isEmpty() ? m_groupTitle : m_roomGroupTitle; }
    QString ownerPubkey() const { return m_ownerPubkey; }
    QString lastError() const { return m_lastError; }
    QVariantList speakers() const { return m_speakers; }
    QVariantList listeners() const { return m_listeners; }
    // The first read starts the device layer (see startDevices).
    QVariantList inputDevices();
    QVariantList outputDevices();

    Q_INVOKABLE void showGroup(const QString &serverUrl, const QString &title, bool premiumPlus);
    Q_INVOKABLE void refreshStatus();
    Q_INVOKABLE void setRoomOpenExternally(const QString &serverUrl, bool open);
    Q_INVOKABLE void openRoom();
    Q_INVOKABLE void joinRoom();
    Q_INVOKABLE void setMicEnabled(bool enabled);
    Q_INVOKABLE void leaveRoom();
    Q_INVOKABLE void dissolveRoom();
    Q_INVOKABLE void grantSpeaker(const QString &pubkey);
    Q_INVOKABLE void revokeSpeaker(const QString &pubkey);
    Q_INVOKABLE void selectInputDevice(const QString &id);
    Q_INVOKABLE void selectOutputDevice(const QString &id);
    Q_INVOKABLE void handleSuperGroupEvent(const QString &serverUrl, const QString &type, const QVariantMap &data);

    void rebuildParticipants();
    void publishMicrophone(bool enabled);
    // Reads both lists again and tells the views; the first call starts the
    // device layer.
    void refreshDevices();

    // Room callbacks (LiveKit's threads): each copies what it needs and posts
    // the work to the GUI thread.
    void onParticipantConnected(livekit::Room &room, const std::string &identity) override;
    void onParticipantDisconnected(livekit::Room &room, const std::string &identity) override;
    void onTrackMuted(livekit::Room &room, const std::string &identity) override;
    void onTrackUnmuted(livekit::Room &room, const std::string &identity) override;
    void onActiveSpeakersChanged(livekit::Room &room, const std::vector<std::string> &identities) override;
    void onConnectionStateChanged(livekit::Room &room, int state) override;
    void onDisconnected(livekit::Room &room, livekit::DisconnectReason reason) override;
    void onReconnecting(livekit::Room &room) override;
    void onReconnected(livekit::Room &room) override;
    void onRoomEos(livekit::Room &room) override;

signals:
    void stateChanged();
    void participantsChanged();
    void devicesChanged();
    void roomClosedRemotely();

private:
    struct JoinResult;
    struct Outcome
    {
        bool ok = false;
        velmor::net::ServiceError error;
    };

    // One group-server call that answers yes or no with an error record.
    static Outcome callServer(bool (velmor::sg::SuperGroupApi::*call)(const QString &, velmor::net::ServiceError *),
                              const QString &url);
    template <typename T>
    void startJob(std::function<T()> work, std::function<void(const T &)> done);
    void setBusy();
    void applyStatus(bool open, bool canOpen, const QString &owner, const QString &opener,
                     const QStringList &speakers);
    void applyJoin(const QString &url, const JoinResult &result);
    void changeSpeaker(const QString &pubkey, bool grant);
    void leaveSteps();
    void dropMicTrack();
    void postFromRoom(const livekit::Room &room, std::function<void()> work);
    bool isSelf(const QString &pubkey) const;
    QString speakerSetUrl() const;
    void setError(const QString &text);
    bool readDevices();
    void startDevices();

    QString m_visibleServerUrl;
    QString m_groupTitle;
    QString m_joinedServerUrl;
    QString m_roomGroupTitle;
    QString m_ownerPubkey;
    QString m_openerPubkey;
    QSet<QString> m_speakerSet;
    QSet<QString> m_speakingSet;
    QSet<QString> m_mutedSet;
    bool m_premiumPlus = false;
    bool m_busy = false;
    bool m_statusWanted = false;
    bool m_roomOpen = false;
    bool m_canOpen = false;
    bool m_canPublish = false;
    bool m_micEnabled = false;
    bool m_connected = false;
    QString m_connectionText;
    QString m_lastError;
    // The last error is the failure of opening or joining the shown group's
    // room: a status read that follows (the server tells of the room it just
    // opened) must not wipe it before the user has seen it.
    bool m_attemptFailed = false;
    QVariantList m_speakers;
    QVariantList m_listeners;
    QVariantList m_inputDevices;
    QVariantList m_outputDevices;
    // Made on first need (a device picker's read, a join): it loads the
    // multimedia backend and asks the sound server, which the login window
    // and most sessions never need.
    std::unique_ptr<QMediaDevices> m_mediaDevices;
    std::shared_ptr<livekit::Room> m_room;
    std::unique_ptr<livekit::PlatformAudio> m_platformAudio;
    std::shared_ptr<livekit::LocalAudioTrack> m_micTrack;
    // The LiveKit library, started by the first join rather than with the
    // program: most sessions never join a room.
    struct Library;
    std::shared_ptr<Library> m_library;
    // What rooms call; detached when this object goes, so a room that
    // outlives it (a join still connecting at exit) never calls back.
    std::shared_ptr<livekit::DelegateRelay> m_relay;
};
