// One function per endpoint of a super-group server. Every call is blocking,
// takes the group's server URL and authenticates with that server's own token
// (SuperGroupServiceClient), logging in again and retrying once after a 401.
// Failures come back as values: false, an empty list, ok=false with an error
// word or a ServiceError. Wire format: docs/protocol.md.
#pragma once

#include "net/service_error.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace velmor::sg {

// The largest media file taken from "/v1/image/get" or "/v1/voice/get".
constexpr qint64 kMaxMediaBytes = 16 * 1024 * 1024;
// What one pullMessages() fetches of media in all; messages past it come
// without their fetched media.
constexpr qint64 kPullMediaBudgetBytes = 32 * 1024 * 1024;
// The most entries taken from a list a group server returns unasked for a
// number (a pull takes at most the `limit` it asked for): entries past it
// are neither built nor kept, whatever the answer holds (but for the user's
// own member entry: see memberList()).
constexpr int kMaxMembers = 20000;
constexpr int kMaxJoinRequests = 1000;

struct SGGroupInfo
{
    QString groupId;
    QString name;
    QString avatarUrl;
    QString joinMode;
    int memberCount = 0;
    QString notice;
    QString ownerPubkey;
    QString serverEncPubkey;
    bool allMuted = false;
    bool voiceEnabled = false;
    QString voiceUrl;
    bool ok = false;
};

struct SGMember
{
    QString pubkey;
    QString displayName;
    QString avatarUrl;
    QString role;
    QString address;
    QString avatarKind;
    QString avatarId;
    bool muted = false;
};

// A member list as far as it is kept: the server's first kMaxMembers
// entries, and the user's own entry wherever it stands.
struct SGMemberList
{
    QList<SGMember> members; // in the server's order; the user's own entry last when it came later
    int total = 0;           // entries the answer held, kept or not
    bool partial = false;    // entries past kMaxMembers were left out
    int own = -1;            // index of the user's own entry in `members`, -1 when not listed
    velmor::net::ServiceError error; // kind not 0 when the list could not be had
};

struct SGMessage
{
    qint64 seq = 0;
    QString messageId;
    QString senderPubkey;
    QString type;
    QString text;
    QString senderAddress;
    QString senderDisplayName;
    QString senderAvatarKind;
    QString senderAvatarId;
    QString event;
    QString imageData; // base64url
    QString mime;
    int width = 0;
    int height = 0;
    QString voiceData; // base64url
    int durationMs = 0;
    qint64 createdAt = 0;
    bool hasContent = false;
    // "content_mismatch" when the server's outer fields (sender, text, …)
    // disagree with the content: the message is refused, hasContent is false
    // and only seq, messageId, senderPubkey and createdAt are kept.
    QString rejectReason;
};

struct SGReadState
{
    bool ok = false;
    qint64 lastReadSeq = 0;
    int unread = 0;
    velmor::net::ServiceError error;
};

struct SGCapacity
{
    bool ok = false;
    int standardAvailable = 0;
    int premiumAvailable = 0;
    QString error;
};

struct SGMyGroup
{
    QString serverId;
    QString serverUrl;
    QString groupId;
    QString name;
    QString ownerPubkey;
    qint64 serviceExpiresAt = 0;
    QString deployStatus = QStringLiteral("pending");
    QString deployMessage;
    QString serverType;
};

struct SGCreateResult
{
    bool ok = false;
    QString error;
    SGMyGroup group;
};

struct SGJoinRequest
{
    QString pubkey;
    QString note;
    qint64 createdAt = 0;
};

struct SGJoinResult
{
    bool ok = false;
    QString status;
    QString error;
    velmor::net::ServiceError serviceError;
};

struct SGSendResult
{
    bool ok = false;
    QString error;
};

struct SGVoiceStatus
{
    bool ok = false;
    bool open = false;
    bool canOpen = false;
    QString ownerPubkey;
    QString openerPubkey;
    QString url;
    QString room;
    QStringList speakers;
    velmor::net::ServiceError error;
};

struct SGVoiceToken
{
    bool ok = false;
    bool canPublish = false;
    QString url;
    QString token;
    QString room;
    QString ownerPubkey;
    QString openerPubkey;
    velmor::net::ServiceError error;
};

class SuperGroupApi
{
public:
    static SuperGroupApi &instance();

    // Group information and administration. The optional error record of the
    // bool calls receives the classified failure (403 -> "error.permission.denied").
    SGGroupInfo groupInfo(const QString &serverUrl);
    // An empty list with *error set (kind not 0) when the request failed; an
    // empty list with *error left as it was when the group has no members.
    QList<SGMember> members(const QString &serverUrl, velmor::net::ServiceError *error = nullptr);
    // The same list, with the entry whose pubkey is `ownKey` found past the
    // bound too: the user's role never depends on where the server lists it.
    SGMemberList memberList(const QString &serverUrl, const QString &ownKey);
    bool updateGroup(const QString &serverUrl, const QString &name, const QString &avatarUrl,
                     const QString &joinMode, const QString &notice,
                     velmor::net::ServiceError *error = nullptr);
    bool setGroupMuted(const QString &serverUrl, bool muted, velmor::net::ServiceError *error = nullptr);
    bool updateMemberProfile(const QString &serverUrl, const QString &displayName,
                             const QString &avatarUrl, velmor::net::ServiceError *error = nullptr);
    bool setMemberMuted(const QString &serverUrl, bool muted, velmor::net::ServiceError *error = nullptr);
    bool inviteMember(const QString &serverUrl, const QString &pubkey, const QString &displayName,
                      const QString &avatarUrl, velmor::net::ServiceError *error = nullptr);
    bool removeMember(const QString &serverUrl, const QString &pubkey,
                      velmor::net::ServiceError *error = nullptr);
    bool setMemberRole(const QString &serverUrl, const QString &pubkey, const QString &role,
                       velmor::net::ServiceError *error = nullptr);

    // Joining.
    SGJoinResult requestJoin(const QString &serverUrl, const QString &note);
    // `answered` (when given) tells a server that listed no requests from one
    // that could not be asked.
    QList<SGJoinRequest> pendingJoins(const QString &serverUrl, bool *answered = nullptr);
    bool decideJoin(const QString &serverUrl, const QString &pubkey, const QString &action,
                    velmor::net::ServiceError *error = nullptr);

    // Messages and read state.
    // `haveMedia(messageId)`, when given, names messages whose media the
    // caller already holds: their image or voice file is not fetched again.
    QList<SGMessage> pullMessages(const QString &serverUrl, qint64 sinceSeq, int limit,
                                  const std::function<bool(const QString &)> &haveMedia = {});
    SGReadState readState(const QString &serverUrl);
    SGReadState markRead(const QString &serverUrl, qint64 lastReadSeq);
    SGSendResult sendText(const QString &url, const QString &serverKey, const QString &text,
                          const QString &displayName, const QString &messageId);
    SGSendResult sendImage(const QString &url, const QString &serverKey, const QByteArray &jpeg,
                           int width, int height, const QString &displayName,
                           const QString &messageId);
    SGSendResult sendVoice(const QString &url, const QString &serverKey, const QByteArray &audio,
                           int durationMs, const QList<int> &waveform,
                           const QString &displayName, const QString &messageId);
    // Media that a server keeps outside the message content; empty on failure
    // and for a file larger than kMaxMediaBytes.
    QByteArray fetchImage(const QString &serverUrl, const QString &messageId);
    QByteArray fetchVoice(const QString &serverUrl, const QString &messageId);

    // Voice rooms.
    SGVoiceStatus voiceStatus(const QString &serverUrl);
    bool openVoiceRoom(const QString &serverUrl, velmor::net::ServiceError *error = nullptr);
    SGVoiceToken voiceToken(const QString &serverUrl);
    bool closeVoiceRoom(const QString &serverUrl, velmor::net::ServiceError *error = nullptr);
    bool grantSpeaker(const QString &serverUrl, const QString &pubkey,
                      velmor::net::ServiceError *error = nullptr);
    bool revokeSpeaker(const QString &serverUrl, const QString &pubkey,
                       velmor::net::ServiceError *error = nullptr);

    // One message object of a pull reply, opened with the reader's secret key.
    // Exposed for the tests of both key spellings; pullMessages uses it.
    static SGMessage parseMessage(const QJsonObject &message, const QByteArray &secretKey);

private:
    SuperGroupApi() = default;
    SGSendResult send(const QString &url, const QString &serverKey, const QString &type,
                      QJsonObject content, const QString &displayName, const QString &messageId);
};

} // namespace velmor::sg
