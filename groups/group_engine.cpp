#include "groups/group_engine.h"

#include "groups/canonical_json.h"
#include "groups/group_wire.h"
#include "identity/content.h"
#include "identity/identity.h"
#include "net/relay_api.h"
#include "store/chat_store.h"

#include <QDateTime>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>

#include <functional>
#include <optional>

namespace velmor::chat {

using velmor::crypto::base64UrlDecode;
using velmor::crypto::base64UrlEncode;

namespace {

using namespace wire;

const QString kDefaultGroupAvatar = QStringLiteral("defaultgroupphoto");
const QString kDefaultGroupName = QStringLiteral("新群聊");

// The sender is left out of every fan-out. Its own client already holds the
// message: the chat controller writes the outgoing row under an id of its
// own before the send, so a copy coming back under the fan-out's id would
// show every message twice. For the same reason a group of the owner alone
// has nobody to send to ("no_recipients").
QStringList othersOf(const QStringList &members, const QString &me)
{
    QStringList others = members;
    others.removeAll(me);
    return others;
}

// Member profiles for a new card: the newest known profile of every member,
// from the previous card and from the profiles the members sent.
QList<GroupMemberProfile> profilesFor(const QString &groupId, const QStringList &keys,
                                      const QList<GroupMemberProfile> &previous)
{
    QHash<QString, GroupMemberProfile> known;
    for (const GroupMemberProfile &profile : previous)
        known.insert(profile.memberRawPublicKey, profile);
    ChatStore &store = ChatStore::instance();
    if (store.isOpen()) {
        for (const QJsonObject &object : store.normalGroupMemberProfiles(groupId)) {
            const GroupMemberProfile profile = GroupMemberProfile::fromJson(object);
            const auto it = known.constFind(profile.memberRawPublicKey);
            if (it == known.constEnd() || profile.updatedAt > it->updatedAt)
                known.insert(profile.memberRawPublicKey, profile);
        }
    }
    QList<GroupMemberProfile> profiles;
    for (const QString &key : keys) {
        GroupMemberProfile profile = known.value(key);
        profile.memberRawPublicKey = key;
        profiles.append(profile);
    }
    return profiles;
}

bool sealKeyForMembers(GroupCard &card, const QByteArray &groupKey)
{
    card.groupKeyBoxes.clear();
    for (const QString &key : std::as_const(card.memberPublicKeys)) {
        const QString box = Ecies::seal(base64UrlDecode(key), groupKey);
        if (box.isEmpty())
            return false;
        card.groupKeyBoxes.insert(key, box);
    }
    return true;
}

// The store row of a group: besides the card it keeps the user's own
// settings, among them the owner's choice of visibility.
std::optional<NormalGroupCardRecord> storedCard(const QString &groupId)
{
    ChatStore &store = ChatStore::instance();
    if (!store.isOpen())
        return std::nullopt;
    for (const NormalGroupCardRecord &record : store.normalGroupCards())
        if (record.group_id == groupId)
            return record;
    return std::nullopt;
}

bool ownerVisibility(const QString &groupId)
{
    const std::optional<NormalGroupCardRecord> stored = storedCard(groupId);
    return !stored || stored->visible;
}

GroupOpResult publishRecord(const GroupCard &card, const QByteArray &adminSeed, bool visible,
                            const QString &path)
{
    GroupRegistryRecord record;
    record.groupId = card.groupId;
    record.idNonce = card.idNonce;
    record.joinKey = card.adminPublicKey;
    record.ownerPublicKey = card.ownerRawPublicKey;
    record.adminProof = card.adminProof;
    // A private group's record only withdraws a public one: it names no
    // name, avatar or size.
    if (visible) {
        record.name = card.name;
        record.avatarId = card.avatarId;
        record.memberCount = int(card.memberPublicKeys.size());
    }
    record.visibility = visible ? QStringLiteral("public") : QStringLiteral("private");
    record.epoch = card.epoch;
    // Milliseconds: the relay keeps a record only when it is not older than
    // the held one (so a replayed old record cannot undo a change), and two
    // visibility changes within one second must still order.
    record.updatedAt = QDateTime::currentMSecsSinceEpoch();
    const QByteArray text = canonicalJson(record.toJson());
    const QByteArray signature = velmor::crypto::ed25519Sign(adminSeed, text);
    if (text.isEmpty() || signature.size() != 64)
        return {false, QStringLiteral("sign_failed")};
    const velmor::net::HttpResponse reply = RelayApi::authorizedPost(
        path,
        QJsonObject{{QStringLiteral("group_id"), card.groupId},
                    {QStringLiteral("join_key"), card.adminPublicKey},
                    {QStringLiteral("visibility"), record.visibility},
                    {QStringLiteral("record"), QString::fromUtf8(text)},
                    {QStringLiteral("signature"), base64UrlEncode(signature)}},
        kRegistryTimeoutMs);
    if (!reply.success)
        return {false, QStringLiteral("group_registry_http_%1").arg(reply.status)};
    return {true, QString()};
}

// Brings the relay's directory to the owner's choice: a public group's
// record is registered (created or replaced); a private group is published
// nowhere, and a record that an earlier public state left is replaced by a
// withdrawal (none there: nothing to do).
GroupOpResult syncDirectory(const GroupCard &card, const QByteArray &adminSeed, bool visible)
{
    if (visible)
        return publishRecord(card, adminSeed, true, QStringLiteral("/v1/group/registry/register"));
    const GroupOpResult withdrawn =
        publishRecord(card, adminSeed, false, QStringLiteral("/v1/group/registry/visibility"));
    if (!withdrawn.ok && withdrawn.error == QLatin1String("group_registry_http_404"))
        return {true, QString()};
    return withdrawn;
}

// An owner change reads the card, raises its epoch, sends it and installs
// it. Two at once would sign the same epoch: the members would keep only the
// first while both reported success. Changes of this process go one by one.
QMutex &ownerChangeMutex()
{
    static QMutex mutex;
    return mutex;
}

struct OwnerContext
{
    Me me;
    GroupCard card;
    velmor::crypto::Ed25519KeyPair admin;
};

// The card of the group and the current user: what every change of a
// group needs first.
GroupOpResult cardAndUser(GroupRegistry &registry, const QString &groupId,
                          std::optional<GroupCard> *card, Me *me)
{
    *card = registry.card(groupId);
    if (!*card)
        return {false, QStringLiteral("no_card")};
    *me = currentUser();
    if (!me->valid())
        return {false, QStringLiteral("no_identity")};
    return {true, QString()};
}

// The checks that every owner-only change makes, in the order of its words.
GroupOpResult ownerContext(GroupRegistry &registry, const QString &groupId, OwnerContext *out)
{
    std::optional<GroupCard> card;
    Me me;
    const GroupOpResult found = cardAndUser(registry, groupId, &card, &me);
    if (!found.ok)
        return found;
    if (card->ownerRawPublicKey != me.key)
        return {false, QStringLiteral("not_owner")};
    const velmor::crypto::Ed25519KeyPair admin = deriveGroupAdminKey(me.identity.privateKey, groupId);
    if (!admin.isValid() || base64UrlEncode(admin.publicKey) != card->adminPublicKey)
        return {false, QStringLiteral("sign_failed")};
    out->me = me;
    out->card = *card;
    out->admin = admin;
    return {true, QString()};
}

// One owner-only change at a time: the owner checks, then `change`, which
// edits the card of the context and issues it.
template <typename Change>
GroupOpResult changeAsOwner(GroupRegistry &registry, const QString &groupId, Change change)
{
    QMutexLocker serial(&ownerChangeMutex());
    OwnerContext context;
    const GroupOpResult checked = ownerContext(registry, groupId, &context);
    if (!checked.ok)
        return checked;
    return change(context);
}

// Signs the changed card, makes it the user's own (in the store first) and
// only then sends it to the members. A card that was signed must never be
// followed by another of the same epoch: the members would keep whichever
// reached them first and the group would split. So a card the store cannot
// keep is not sent (the change fails and nothing left the process), and a
// card whose fan-out fails stays the owner's: the change is reported as
// failed but kept, and the card reaches the members with the next change or
// when a member, seeing the newer epoch on the owner's messages, asks for it.
// `removed`: members this change takes out. They are sent the new card too,
// with no box of the new key: it tells their clients they are out (the
// group turns read-only there) and opens nothing.
GroupOpResult issueCard(GroupRegistry &registry, OwnerContext &context, bool rekey,
                        const QStringList &removed = {})
{
    GroupCard &card = context.card;
    card.epoch += 1;
    card.updatedAt = nowSeconds();
    if (rekey) {
        QByteArray groupKey = velmor::crypto::randomBytes(32);
        const bool sealed = groupKey.size() == 32 && sealKeyForMembers(card, groupKey);
        velmor::crypto::wipeSecret(groupKey);
        if (!sealed)
            return {false, QStringLiteral("encrypt_failed")};
        card.keyEpoch = card.epoch;
    }
    card.members = profilesFor(card.groupId, card.memberPublicKeys, card.members);
    if (!signGroupCard(card, context.admin.seed))
        return {false, QStringLiteral("sign_failed")};
    card.stamp = stampGroupCard(card, context.admin.seed);
    if (card.stamp.isEmpty())
        return {false, QStringLiteral("sign_failed")};
    QString installError;
    if (!registry.install(card, context.me.key, &installError))
        return {false, installError};
    qInfo().noquote() << "[GROUPKEY] card issued group=" << card.groupId << "epoch=" << card.epoch
                      << "keyEpoch=" << card.keyEpoch << "members=" << card.memberPublicKeys.size();
    const QStringList recipients = othersOf(card.memberPublicKeys, context.me.key) + removed;
    if (!recipients.isEmpty()) {
        QString error;
        if (!sendCard(context.me, card, recipients, &error))
            return {false, error};
    }
    // The directory entry follows name and size; it is not worth failing a
    // change that the members already have.
    const GroupOpResult published = syncDirectory(card, context.admin.seed, ownerVisibility(card.groupId));
    if (!published.ok)
        qWarning().noquote() << "[GROUPKEY] registry update failed" << card.groupId << published.error;
    return {true, QString()};
}

QStringList canonicalKeys(const QStringList &keys)
{
    QStringList out;
    QSet<QString> seen;
    for (const QString &key : keys) {
        const QString canonical = canonicalMemberKey(key);
        if (!canonical.isEmpty() && !seen.contains(canonical)) {
            seen.insert(canonical);
            out.append(canonical);
        }
    }
    return out;
}

struct SendContext
{
    Me me;
    GroupCard card;
    QByteArray groupKey;
    QStringList recipients;
    ~SendContext() { velmor::crypto::wipeSecret(groupKey); }
};
GroupSendResult sendContext(GroupRegistry &registry, const QString &groupId, SendContext *out)
{
    std::optional<GroupCard> card;
    Me me;
    const GroupOpResult found = cardAndUser(registry, groupId, &card, &me);
    if (!found.ok)
        return {false, QString(), found.error};
    // A user the card does not list holds no box of its key: the same word
    // as a key that does not open.
    const QByteArray groupKey = card->hasMember(me.key)
        ? openGroupKey(registry, groupId, card->keyEpoch, me)
        : QByteArray();
    if (groupKey.isEmpty())
        return {false, QString(), QStringLiteral("no_group_key")};
    // Members have seen a newer card than this one: it may remove someone,
    // so nothing is sealed under it until the owner's current card is here.
    if (registry.isCardOutdated(groupId))
        return {false, QString(), QStringLiteral("card_outdated")};
    out->me = me;
    out->card = *card;
    out->groupKey = groupKey;
    out->recipients = othersOf(card->memberPublicKeys, me.key);
    return {true, QString(), QString()};
}

SealedGroupMessage sealGroupContent(GroupRegistry &registry, const QString &groupId, const QString &type,
                                    const QString &text, const QString &messageId)
{
    SendContext context;
    const GroupSendResult checked = sendContext(registry, groupId, &context);
    if (!checked.ok)
        return {false, {}, checked.error};
    if (context.recipients.isEmpty())
        return {false, {}, QStringLiteral("no_recipients")};
    const QString ciphertext =
        sealedMessage(groupId, kKindMessage, context.card.keyEpoch, context.card.epoch, context.groupKey,
                      QJsonObject{{QStringLiteral("type"), type},
                                  {QStringLiteral("text"), text},
                                  {QStringLiteral("sender"), context.me.key},
                                  {QStringLiteral("sentAt"), double(nowSeconds())}},
                      messageStamp(context.card));
    if (ciphertext.isEmpty())
        return {false, {}, QStringLiteral("encrypt_failed")};
    SealedGroupMessage sealed;
    sealed.fanOut = fanOutBody(
        context.me, groupId, context.recipients, [&ciphertext](const QString &) { return ciphertext; }, messageId,
        &sealed.error);
    sealed.ok = !sealed.fanOut.isEmpty();
    return sealed;
}

// A message sealed and posted at once, as the sends below do.
GroupSendResult postSealed(const SealedGroupMessage &sealed)
{
    if (!sealed.ok)
        return {false, QString(), sealed.error};
    const RelaySendResult posted = postGroupFanOut(sealed.fanOut);
    if (!posted.ok)
        return {false, QString(), posted.error};
    return {true, posted.messageId, QString()};
}

} // namespace

velmor::crypto::Ed25519KeyPair deriveGroupAdminKey(const QByteArray &ownerSecret32, const QString &groupId)
{
    if (ownerSecret32.size() != 32 || groupId.isEmpty())
        return {};
    const QByteArray seed = velmor::crypto::hkdfSha256(
        ownerSecret32, QByteArrayLiteral("velmor.group.admin.v1"), groupId.toUtf8(), 32);
    if (seed.size() != 32)
        return {};
    return velmor::crypto::ed25519FromSeed(seed);
}

GroupCreateResult createGroup(GroupRegistry &registry, const QString &name, const QStringList &memberKeys)
{
    GroupCreateResult result;
    const Me me = currentUser();
    if (!me.valid()) {
        result.error = QStringLiteral("no_identity");
        return result;
    }
    QStringList keys = canonicalKeys(memberKeys);
    if (!keys.contains(me.key))
        keys.append(me.key);
    keys.sort();
    // The same cap as for additions, the owner included.
    if (keys.size() > kMaxGroupMembers) {
        result.error = QStringLiteral("group_full");
        return result;
    }
    const QByteArray nonce = velmor::crypto::randomBytes(16);
    if (nonce.size() != 16) {
        result.error = QStringLiteral("admin_key_failed");
        return result;
    }
    OwnerContext context;
    context.me = me;
    GroupCard &card = context.card;
    // The id is bound to the owner: nobody else can make a card for it.
    card.idNonce = QString::fromLatin1(nonce.toHex());
    card.groupId = deriveGroupId(me.key, card.idNonce);
    context.admin = deriveGroupAdminKey(me.identity.privateKey, card.groupId);
    if (!context.admin.isValid()) {
        result.error = QStringLiteral("admin_key_failed");
        return result;
    }
    const QString trimmed = name.trimmed();
    card.name = trimmed.isEmpty() ? kDefaultGroupName : trimmed;
    card.avatarId = kDefaultGroupAvatar;
    card.ownerRawPublicKey = me.key;
    card.adminPublicKey = base64UrlEncode(context.admin.publicKey);
    const QByteArray proof = velmor::crypto::signMessage(
        me.identity.privateKey, adminProofMessage(card.groupId, card.adminPublicKey));
    if (proof.size() != 64) {
        result.error = QStringLiteral("sign_failed");
        return result;
    }
    card.adminProof = base64UrlEncode(proof);
    card.memberPublicKeys = keys;
    card.createdAt = nowSeconds();
    // issueCard raises the epoch to 1, draws the first group key and sends
    // the first card to every other member: that card is their invitation,
    // the only way they learn of the group and get its key.
    card.epoch = 0;
    const GroupOpResult issued = issueCard(registry, context, true);
    // A group whose invitations did not go out is kept (its first card is
    // signed and stored); its id comes back with the error.
    if (registry.contains(card.groupId))
        result.groupId = card.groupId;
    if (!issued.ok) {
        result.error = issued.error;
        return result;
    }
    result.ok = true;
    return result;
}

GroupOpResult deleteGroupLocally(GroupRegistry &registry, const QString &groupId, bool withMessages)
{
    ChatStore &store = ChatStore::instance();
    if (!store.isOpen())
        return {false, QStringLiteral("store_failed")};
    const std::optional<GroupCard> card = registry.card(groupId);
    const qint64 epoch = qMax(card ? card->epoch : 0, deletedAtEpoch(groupId));
    // The rows go and the deletion is remembered in one transaction, so an
    // old invitation offered again never brings the group back.
    ChatStore::Batch batch(store);
    if (!batch.active() || !store.deleteConversation(groupId, withMessages)
        || (epoch > 0 && !store.markNormalGroupDeleted(groupId, epoch))
        || !store.deleteParkedGroupMessages(groupId, kCanonicalMaxInteger) || !batch.commit())
        return {false, QStringLiteral("store_failed")};
    registry.remove(groupId);
    return {true, QString()};
}

GroupOpResult addGroupMembers(GroupRegistry &registry, const QString &groupId, const QStringList &memberKeys)
{
    return changeAsOwner(registry, groupId, [&](OwnerContext &context) -> GroupOpResult {
        QStringList added;
        for (const QString &key : canonicalKeys(memberKeys))
            if (!context.card.hasMember(key))
                added.append(key);
        // A group at or above the limit (one created larger) is full even for
        // keys that are all members already.
        if (context.card.memberPublicKeys.size() + added.size() > kMaxGroupMembers)
            return {false, QStringLiteral("group_full")};
        if (added.isEmpty())
            return {false, QStringLiteral("no_new_members")};
        context.card.memberPublicKeys.append(added);
        context.card.memberPublicKeys.sort();
        return issueCard(registry, context, true);
    });
}

GroupOpResult resendGroupCard(GroupRegistry &registry, const QString &groupId)
{
    return changeAsOwner(registry, groupId, [&](OwnerContext &context) -> GroupOpResult {
        const QStringList recipients = othersOf(context.card.memberPublicKeys, context.me.key);
        QString error;
        if (!recipients.isEmpty() && !sendCard(context.me, context.card, recipients, &error))
            return {false, error};
        return {true, QString()};
    });
}

GroupOpResult removeGroupMember(GroupRegistry &registry, const QString &groupId, const QStringList &memberKeys)
{
    return changeAsOwner(registry, groupId, [&](OwnerContext &context) -> GroupOpResult {
        QStringList removed;
        for (const QString &key : memberKeys)
            removed.append(canonicalMemberKey(key));
        // The owner anywhere in the list outranks an unknown key elsewhere in it.
        if (removed.contains(context.card.ownerRawPublicKey))
            return {false, QStringLiteral("cannot_remove_owner")};
        for (const QString &canonical : std::as_const(removed))
            if (canonical.isEmpty() || !context.card.hasMember(canonical))
                return {false, QStringLiteral("no_such_member")};
        if (removed.isEmpty())
            return {false, QStringLiteral("no_such_member")};
        for (const QString &key : std::as_const(removed))
            context.card.memberPublicKeys.removeAll(key);
        // A new key that the removed members never get: nothing sent after this
        // opens for them.
        return issueCard(registry, context, true, removed);
    });
}

GroupOpResult renameGroup(GroupRegistry &registry, const QString &groupId, const QString &newName)
{
    const QString name = newName.trimmed();
    if (name.isEmpty())
        return {false, QStringLiteral("empty_name")};
    return changeAsOwner(registry, groupId, [&](OwnerContext &context) -> GroupOpResult {
        context.card.name = name;
        return issueCard(registry, context, false);
    });
}

GroupOpResult updateGroupCard(GroupRegistry &registry, const QString &groupId, const QString &remark)
{
    return changeAsOwner(registry, groupId, [&](OwnerContext &context) -> GroupOpResult {
        context.card.remark = remark.trimmed();
        return issueCard(registry, context, false);
    });
}

GroupOpResult setGroupVisibility(GroupRegistry &registry, const QString &groupId, bool visible)
{
    // One by one with the card changes: each of them publishes the record
    // again with the visibility it reads from the store.
    return changeAsOwner(registry, groupId, [&](OwnerContext &context) -> GroupOpResult {
        // The choice is written first: every card change brings the relay's
        // directory to what the store says, so a publication that fails now
        // is made good by the next change, and the relay never shows a group
        // public that the store holds private.
        const std::optional<NormalGroupCardRecord> stored = storedCard(groupId);
        if (!stored
            || !ChatStore::instance().updateNormalGroupCardSettings(groupId, visible, stored->my_nickname,
                                                                    stored->muted))
            return {false, QStringLiteral("store_failed")};
        return syncDirectory(context.card, context.admin.seed, visible);
    });
}

GroupOpResult sendMemberProfileUpdate(GroupRegistry &registry, const QString &groupId,
                                      const QString &displayName, const QString &avatarId)
{
    std::optional<GroupCard> card;
    Me me;
    const GroupOpResult found = cardAndUser(registry, groupId, &card, &me);
    if (!found.ok)
        return found;
    if (!card->hasMember(me.key))
        return {false, QStringLiteral("not_member")};
    GroupMemberProfile profile;
    profile.memberRawPublicKey = me.key;
    profile.displayName = displayName.trimmed();
    if (profile.displayName.isEmpty())
        profile.displayName = me.identity.erc20Address();
    profile.avatarId = avatarId;
    // Seconds, like every other profile time (the approval of a join request
    // writes seconds too, and the newer one wins by comparison), but always
    // past the user's previous profile so that two changes within one second
    // still order: receivers and the store keep only a strictly newer one.
    profile.updatedAt = nowSeconds();
    QList<GroupMemberProfile> previous;
    for (const GroupMemberProfile &known : card->members)
        if (known.memberRawPublicKey == me.key)
            previous.append(known);
    ChatStore &store = ChatStore::instance();
    if (store.isOpen()) {
        for (const QJsonObject &stored : store.normalGroupMemberProfiles(groupId)) {
            const GroupMemberProfile known = GroupMemberProfile::fromJson(stored);
            if (known.memberRawPublicKey == me.key)
                previous.append(known);
        }
    }
    QString previousAvatar;
    qint64 previousTime = -1;
    for (const GroupMemberProfile &known : std::as_const(previous)) {
        profile.updatedAt = qMax(profile.updatedAt, known.updatedAt + 1);
        if (known.updatedAt > previousTime) {
            previousTime = known.updatedAt;
            previousAvatar = known.avatarId;
        }
    }
    // A nickname change names no avatar: the one already shown stays.
    if (profile.avatarId.isEmpty())
        profile.avatarId = previousAvatar;
    const QStringList recipients = othersOf(card->memberPublicKeys, me.key);
    QByteArray groupKey;
    if (!recipients.isEmpty()) {
        groupKey = openGroupKey(registry, groupId, card->keyEpoch, me);
        if (groupKey.isEmpty())
            return {false, QStringLiteral("no_group_key")};
        if (registry.isCardOutdated(groupId))
            return {false, QStringLiteral("card_outdated")};
    }
    // Written before it is sent: a profile the members have but the store
    // lost would be overwritten by the older one at the next change. A
    // failed fan-out leaves it stored; the next update or card carries it.
    if (store.isOpen() && !store.upsertNormalGroupMemberProfile(groupId, profile.toJson()))
        return {false, QStringLiteral("store_failed")};
    if (recipients.isEmpty())
        return {true, QString()};
    QJsonArray snapshot;
    for (const QString &key : card->memberPublicKeys)
        snapshot.append(key);
    const QString ciphertext = sealedMessage(
        groupId, kKindProfile, card->keyEpoch, card->epoch, groupKey,
        QJsonObject{{QStringLiteral("type"), kProfileType},
                    {QStringLiteral("groupId"), groupId},
                    {QStringLiteral("sentAt"), double(nowSeconds())},
                    {QStringLiteral("profile"), profile.toJson()},
                    {QStringLiteral("membersSnapshot"), snapshot},
                    {QStringLiteral("silent"), true}},
        messageStamp(*card));
    velmor::crypto::wipeSecret(groupKey);
    if (ciphertext.isEmpty())
        return {false, QStringLiteral("encrypt_failed")};
    QString error;
    if (!fanOut(me, groupId, recipients, ciphertext, &error))
        return {false, error};
    return {true, QString()};
}

GroupSendResult sendGroupText(GroupRegistry &registry, const QString &groupId, const QString &text)
{
    return postSealed(sealGroupText(registry, groupId, text, QString()));
}

GroupSendResult sendGroupImage(GroupRegistry &registry, const QString &groupId, const QByteArray &jpeg,
                               const QString &mime, int width, int height)
{
    return postSealed(sealGroupImage(registry, groupId, jpeg, mime, width, height, QString()));
}

GroupSendResult sendGroupVoice(GroupRegistry &registry, const QString &groupId, const QByteArray &audio,
                               int durationMs, const QList<int> &waveform)
{
    return postSealed(sealGroupVoice(registry, groupId, audio, durationMs, waveform, QString()));
}

SealedGroupMessage sealGroupText(GroupRegistry &registry, const QString &groupId, const QString &text,
                                 const QString &messageId)
{
    if (text.isEmpty())
        return {false, {}, QStringLiteral("empty_payload")};
    return sealGroupContent(registry, groupId, QStringLiteral("text"), text, messageId);
}

SealedGroupMessage sealGroupImage(GroupRegistry &registry, const QString &groupId, const QByteArray &jpeg,
                                  const QString &mime, int width, int height, const QString &messageId)
{
    if (jpeg.isEmpty())
        return {false, {}, QStringLiteral("empty_payload")};
    return sealGroupContent(registry, groupId, QStringLiteral("image"), groupImageContent(jpeg, mime, width, height),
                            messageId);
}

SealedGroupMessage sealGroupVoice(GroupRegistry &registry, const QString &groupId, const QByteArray &audio,
                                  int durationMs, const QList<int> &waveform, const QString &messageId)
{
    if (audio.isEmpty())
        return {false, {}, QStringLiteral("empty_payload")};
    return sealGroupContent(registry, groupId, QStringLiteral("voice"),
                            groupVoiceContent(audio, qMax(durationMs, 0), waveform), messageId);
}

bool isGroupFanOut(const QJsonObject &body)
{
    return body.value(QStringLiteral("envelopes")).isArray();
}

RelaySendResult postGroupFanOut(const QJsonObject &fanOut, const QByteArray &written)
{
    RelaySendResult result;
    result.messageId = fanOut.value(QStringLiteral("message_id")).toString();
    // Every envelope is signed by the one identity that sealed the fan-out:
    // posted under its token or not at all (another identity signed in since
    // gives "session_changed", and it waits for its owner's next start).
    const QString sender = fanOut.value(QStringLiteral("envelopes"))
                               .toArray()
                               .first()
                               .toObject()
                               .value(QStringLiteral("sender_pubkey"))
                               .toString();
    if (sender.isEmpty()) {
        result.error = QStringLiteral("invalid_envelope");
        return result;
    }
    QString tokenError;
    const QByteArray body = written.isEmpty() ? QJsonDocument(fanOut).toJson(QJsonDocument::Compact) : written;
    const velmor::net::HttpResponse reply = RelayApi::authorizedPost(QStringLiteral("/v1/group/fanout"), body,
                                                                     kFanoutTimeoutMs, &tokenError,
                                                                     kMaxSendAnswerBytes, sender);
    if (reply.success) {
        result.ok = true;
        return result;
    }
    qWarning().noquote() << "[GROUPSEND] fan-out failed group=" << fanOut.value(QStringLiteral("group_id")).toString()
                         << "status=" << reply.status << "err=" << (tokenError.isEmpty() ? reply.error : tokenError);
    result.error = QStringLiteral("fanout_http_%1").arg(reply.status);
    // No token (the relay not reached), no whole answer, or the relay's own
    // failure: whether the members got it is not known, and the same body
    // may be posted again.
    result.retryable = tokenError.isEmpty() ? (!reply.error.isEmpty() || reply.status == 0 || reply.status >= 500)
                                            : tokenError != QLatin1String("no_identity");
    return result;
}

} // namespace velmor::chat
