// A local super-group server: signed-challenge login, roles (owner, admin,
// member) enforced with 403, join requests, members, messages with sequence
// numbers whose content is sealed to the server key on the way in and to the
// reader's key on the way out, read state, a voice room, and the realtime
// socket "/v1/ws?token=" that pushes the group's events. Several instances
// can run at once, each on its own port and thread.
#pragma once

#include "identity/identity.h"
#include "support/fake_common.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

class QWebSocket;

namespace velmor::fakes {

struct FakeMember
{
    QString pubkey;
    QString role; // "owner", "admin" or "member"
    QString displayName;
    QString avatarUrl;
    QString address;
    QString avatarKind;
    QString avatarId;
    bool muted = false;
    qint64 lastReadSeq = 0;
};

struct FakeStoredMessage
{
    qint64 seq = 0;
    QString messageId;
    QString senderPubkey;
    QString type;
    QString event;
    QJsonObject content; // as the sender sealed it
    qint64 createdAt = 0;
    bool plainContent = false; // delivered as "content" instead of "enc_content"
};

class FakeGroupServer
{
public:
    explicit FakeGroupServer(const QString &ownerPubkey = QString(),
                             const QString &name = QStringLiteral("Fake group"));
    ~FakeGroupServer();

    quint16 start();
    void stop();
    QString baseUrl() const { return m_http.baseUrl(); }
    FakeHttpServer &http() { return m_http; }
    ChallengeAuthority &auth() { return m_auth; }

    QString groupId() const { return m_groupId; }
    QString serverPublicKey() const; // base64url, the "server_enc_pubkey"

    // Group state, readable and settable from the test thread.
    void addMember(const QString &pubkey, const QString &role,
                   const QString &displayName = QString());
    bool isMember(const QString &pubkey) const;
    QString roleOf(const QString &pubkey) const;
    QList<FakeMember> members() const;
    FakeMember member(const QString &pubkey) const;
    void setJoinMode(const QString &mode); // "open" or "invite"
    void setVoiceEnabled(bool enabled);
    void setAllMuted(bool muted);
    QString name() const;
    QString notice() const;
    bool allMuted() const;
    QStringList blocked() const;
    QString joinRequestStatus(const QString &pubkey) const; // empty when none

    // Messages stored as if a member had sent them (under a new id unless
    // one is given); returns the new seq.
    qint64 appendMessage(const QString &senderPubkey, const QString &type,
                         const QJsonObject &content, bool plainContent = false,
                         const QString &event = QString(), const QString &messageId = QString());
    QList<FakeStoredMessage> messages() const;
    // Keep media out of the content on delivery; clients fetch it from
    // "/v1/image/get" and "/v1/voice/get".
    void setMediaByReference(bool byReference);

    // Voice room.
    bool voiceOpen() const;
    QStringList speakers() const;

    // Told, on the server's thread, of each member who joins or leaves
    // ("server.member.joined" or "server.member.left" and the member's key);
    // the group centre that lists the server passes it on to its clients.
    using MembershipObserver = std::function<void(const QString &type, const QString &pubkey)>;
    void setMembershipObserver(MembershipObserver observer);

    // Realtime socket.
    void pushEvent(const QString &type, const QJsonObject &data, const QString &eventId = QString());
    void sendRaw(const QString &text);
    void sendPing();
    void dropSockets();                   // closes every open socket
    void setRejectSockets(bool reject);   // close new sockets at once, before any frame
    int socketCount() const;
    int socketConnects() const;           // accepted connections so far
    QStringList clientFrames() const;     // texts received from clients

private:
    void setUpRoutes();
    void onSocket(QWebSocket *socket);
    // Both run on the server thread.
    void broadcast(const QJsonObject &frame, const QSet<QString> &onlyTo = {});
    void emitEvent(const QString &type, const QJsonObject &data, const QSet<QString> &onlyTo = {},
                   const QString &eventId = QString());
    QSet<QString> managersLocked() const;

    QString callerOf(const QHttpServerRequest &request) const;
    QJsonObject memberJson(const FakeMember &member) const;

    FakeHttpServer m_http;
    ChallengeAuthority m_auth;
    velmor::identity::Identity m_serverKey;
    QString m_groupId;

    mutable QMutex m_mutex;
    QString m_name;
    QString m_avatarUrl;
    QString m_notice;
    QString m_joinMode = QStringLiteral("invite");
    bool m_allMuted = false;
    bool m_voiceEnabled = true;
    QList<FakeMember> m_members;
    struct JoinRequest
    {
        QString pubkey;
        QString note;
        QString avatarUrl;
        qint64 createdAt = 0;
        QString status;
    };
    QList<JoinRequest> m_requests;
    QSet<QString> m_blocked;
    QList<FakeStoredMessage> m_messages;
    QHash<QString, QByteArray> m_images;
    QHash<QString, QByteArray> m_voices;
    bool m_mediaByReference = false;
    bool m_voiceOpen = false;
    QString m_voiceOpener;
    // The media server named to clients: a loopback port with nothing
    // listening, so a client that connects is refused at once and nothing
    // is looked up or sent past this machine.
    const QString m_mediaUrl;
    QSet<QString> m_speakers;
    qint64 m_nextEventId = 1;

    // Socket state; the sockets themselves are touched on the server thread only.
    QHash<QWebSocket *, QString> m_sockets;
    bool m_rejectSockets = false;
    int m_socketConnects = 0;
    QStringList m_clientFrames;
    MembershipObserver m_membershipObserver;
};

} // namespace velmor::fakes
