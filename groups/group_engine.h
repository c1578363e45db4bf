// The normal-group engine that the clients run among themselves: the owner
// signs the group card with the group's Ed25519 admin key, boxes the group key
// for each member, and every message goes to all members in one fan-out
// through the relay. Formats: docs/protocol.md.
//
// Every operation is blocking (it may wait for the relay) and safe on any
// thread. The user is whoever the relay session holds at the time of the
// call; cards and keys are written to the store that is open at that time.
#pragma once

#include "groups/group_card.h"
#include "identity/crypto.h"
#include "net/relay_api.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace velmor::chat {

// Prefix of a group message in an envelope's ciphertext field.
inline constexpr char kGroupMessagePrefix[] = "velmor_group_v1:";
constexpr int kFanoutTimeoutMs = 30000;
constexpr int kRegistryTimeoutMs = 15000;

struct GroupOpResult
{
    bool ok = false;
    QString error; // empty on success
};

struct GroupCreateResult
{
    bool ok = false;
    QString groupId;
    QString error;
};

struct GroupSendResult
{
    bool ok = false;
    QString messageId; // the id that every member's envelope carries
    QString error;
};

// Sending that reading a group message calls for (a card request, the
// held card sent again, the owner's answer to a request). It blocks on the
// relay, so the reader hands it on and runs it off the window's thread once
// its own store work has committed, or cancels it.
struct GroupFollowUp
{
    std::function<void()> send;   // safe on any thread
    std::function<void()> cancel; // not sent after all: the next message may ask again
};
void runFollowUps(const QList<GroupFollowUp> &followUps);
void cancelFollowUps(const QList<GroupFollowUp> &followUps);

struct GroupInboundResult
{
    bool isGroup = false;    // the ciphertext is a group message
    bool hasMessage = false; // it yields a message to store
    QString groupId;
    QString text;
    QString error;           // non-empty: refused
    bool discard = false;    // refused for good: acknowledged and dropped, not offered again
    QString contentType;     // "text", "image", "voice" or "system"
    QString imageB64;
    QString imageMime;
    int imageWidth = 0;
    int imageHeight = 0;
    QString voiceB64;
    qint64 durationMs = 0;
    QList<int> waveform;
    QList<GroupFollowUp> followUps; // whether refused or not
    // A card that was taken: the messages set aside for want of it (their
    // claim disproved), now due to be read again as if just pulled.
    QList<RawEnvelope> reopened;
};

GroupCreateResult createGroup(GroupRegistry &registry, const QString &name,
                              const QStringList &memberKeys);
GroupOpResult addGroupMembers(GroupRegistry &registry, const QString &groupId,
                              const QStringList &memberKeys);
GroupOpResult removeGroupMember(GroupRegistry &registry, const QString &groupId,
                                const QStringList &memberKeys);
// The owner's current card sent again to every other member, unchanged: after
// a change whose fan-out failed the card is kept, and the members (a new one
// above all) have yet to get it.
GroupOpResult resendGroupCard(GroupRegistry &registry, const QString &groupId);
GroupOpResult renameGroup(GroupRegistry &registry, const QString &groupId, const QString &newName);
GroupOpResult updateGroupCard(GroupRegistry &registry, const QString &groupId, const QString &remark);
GroupOpResult setGroupVisibility(GroupRegistry &registry, const QString &groupId, bool visible);
GroupOpResult sendMemberProfileUpdate(GroupRegistry &registry, const QString &groupId,
                                      const QString &displayName, const QString &avatarId);
// Deletes the group from the user's store (and its messages when asked) and
// the registry, and remembers the card epoch it had: the group comes back
// only with a newer card, never with an old invitation offered again.
GroupOpResult deleteGroupLocally(GroupRegistry &registry, const QString &groupId, bool withMessages);

GroupSendResult sendGroupText(GroupRegistry &registry, const QString &groupId, const QString &text);
GroupSendResult sendGroupImage(GroupRegistry &registry, const QString &groupId,
                               const QByteArray &jpeg, const QString &mime, int width, int height);
GroupSendResult sendGroupVoice(GroupRegistry &registry, const QString &groupId,
                               const QByteArray &audio, int durationMs, const QList<int> &waveform);

// A message sealed for every other member and signed, not posted yet: the
// body of its fan-out, every envelope under `messageId`. Posted as it is by
// postGroupFanOut, again after a failure, the members take it once (they
// know its id). The same checks and error words as the sends above.
struct SealedGroupMessage
{
    bool ok = false;
    QJsonObject fanOut;
    QString error;
};
SealedGroupMessage sealGroupText(GroupRegistry &registry, const QString &groupId, const QString &text,
                                 const QString &messageId);
SealedGroupMessage sealGroupImage(GroupRegistry &registry, const QString &groupId, const QByteArray &jpeg,
                                  const QString &mime, int width, int height, const QString &messageId);
SealedGroupMessage sealGroupVoice(GroupRegistry &registry, const QString &groupId, const QByteArray &audio,
                                  int durationMs, const QList<int> &waveform, const QString &messageId);
// True for the body of a fan-out (sealGroup*), false for a one-to-one envelope.
bool isGroupFanOut(const QJsonObject &body);
// Posts a sealed fan-out: `written`, its JSON as it was written and kept,
// goes out as it is (empty: made from `fanOut`). Retryable when the answer
// says nothing of the message (none, cut short, a failure on the relay's side).
RelaySendResult postGroupFanOut(const QJsonObject &fanOut, const QByteArray &written = QByteArray());

// Reads one envelope's ciphertext. Card, profile and invitation changes are
// applied here; what it calls for sending (card requests, the owner's
// answers) comes back as follow-ups and is not sent here. A refused message
// leaves the registry and the store as they were (the caller leaves it with
// the relay, which offers it again).
GroupInboundResult handleGroupMessage(GroupRegistry &registry, const QString &ciphertext,
                                      const QString &senderKey);
// The same for a pulled envelope, which is then settled whatever it is:
// only a refusal of the user's own making ("store_failed", "no_identity")
// leaves it with the relay. A message that a card not held yet may settle
// (of a group the user does not hold, written under a newer card, whose
// claim the owner's answer disproved, or held up while a newer card is
// awaited) is acknowledged and set aside in the store, and comes back in
// `reopened` when a card of its epoch is taken (or, once the group is no
// longer held up, from takeReadableParked); any other refusal is
// acknowledged and dropped (`discard`). Set aside only within bounds a
// stranger cannot push past: per writer kParkedPerWriter messages and
// kParkedBytesPerWriter bytes, for the user kParkedInAll and
// kParkedBytesInAll (the oldest set aside go first), none kept longer than
// kParkedSeconds, none of an epoch above the owner's last proven one + 1,
// and a writer's go when a card taken no longer lists it.
constexpr int kParkedPerWriter = 64;
constexpr qint64 kParkedBytesPerWriter = 1024 * 1024;
constexpr int kParkedInAll = 512;
constexpr qint64 kParkedBytesInAll = 4 * 1024 * 1024;
constexpr qint64 kParkedSeconds = 24 * 3600;
GroupInboundResult handleGroupMessage(GroupRegistry &registry, const RawEnvelope &envelope);
// Set-aside messages that are readable again, taken out of the store: those
// of `parkedGroups` (the groups the store has set messages aside for, as
// ChatStore::parkedGroupIds() read them) held and no longer held up, under
// their held card or an older one. Also drops what outlived kParkedSeconds
// or the bounds (a store of an earlier build may hold more). Read them as
// if just pulled; they were acknowledged when set aside.
QList<RawEnvelope> takeReadableParked(GroupRegistry &registry, const QStringList &parkedGroups);
// The group id in the clear header of a group message's ciphertext; empty
// when it is not one or names none. Reads nothing sealed.
QString groupIdOfMessage(const QString &ciphertext);

// The group's Ed25519 admin key, derived from the owner's secret and the
// group id; only the owner can derive it.
velmor::crypto::Ed25519KeyPair deriveGroupAdminKey(const QByteArray &ownerSecret32,
                                                   const QString &groupId);

// The signed record that the relay's group registry keeps for discovery.
struct GroupRegistryRecord
{
    QString groupId;
    QString idNonce; // the card's: the group id is derived from it and the owner
    QString joinKey;
    QString ownerPublicKey;
    QString adminProof;
    QString name;
    QString avatarId;
    int memberCount = 0;
    QString visibility; // "public" or "private"
    qint64 epoch = 0;
    qint64 updatedAt = 0;

    QJsonObject toJson() const;
    static std::optional<GroupRegistryRecord> fromJson(const QJsonObject &object);
};
// Checks that the record text is canonical, signed by its join key, vouched
// for by its owner, that its group id is the owner's, and (when given) that
// it carries the expected join key.
std::optional<GroupRegistryRecord> verifyRegistryRecord(const QByteArray &recordText,
                                                        const QString &signature,
                                                        const QString &expectedJoinKey = QString());

// The normal-group join request sent one-to-one to the group's owner.
struct GroupJoinRequest
{
    QString groupId;
    QString groupJoinKey;
    QString requesterCanonicalKey;
    QString requesterDisplayName;
    QString requesterAvatarId; // left out of the JSON when empty
};
QByteArray buildGroupJoinRequest(const GroupJoinRequest &request);
// nullopt unless "v" is 1, "type" is "group_join_request" and the group id,
// join key and requester key are non-empty texts.
std::optional<GroupJoinRequest> parseGroupJoinRequest(const QByteArray &json);
// The receiving checks: the requester is the envelope's sender, the sender
// address (when given) belongs to that key, and the join key is the card's.
bool isAcceptableJoinRequest(const GroupJoinRequest &request, const QString &senderKey,
                             const QString &senderAddress, const std::optional<GroupCard> &card);

} // namespace velmor::chat
