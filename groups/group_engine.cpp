#include "groups/group_engine.h"

#include "groups/canonical_json.h"
#include "identity/content.h"
#include "identity/envelope.h"
#include "identity/identity.h"
#include "net/relay_api.h"
#include "net/relay_session.h"
#include "store/chat_store.h"

#include <QDateTime>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QUuid>

#include <functional>
#include <optional>

namespace velmor::chat {

using velmor::crypto::base64UrlDecode;
using velmor::crypto::base64UrlEncode;
using velmor::identity::Identity;

namespace {

const QString kDefaultGroupAvatar = QStringLiteral("defaultgroupphoto");
const QString kDefaultGroupName = QStringLiteral("新群聊");
const QString kProfileType = QStringLiteral("group_member_profile_update");
const QString kKindCard = QStringLiteral("card");
const QString kKindMessage = QStringLiteral("message");
const QString kKindProfile = QStringLiteral("profile");
const QString kKindCardRequest = QStringLiteral("card_request");
// The profile row that marks a group the user deleted, with the card epoch
// it had then in "updatedAt" (not a key, so it never meets a member's row).
const QString kDeletedMarker = QStringLiteral("group_deleted");

qint64 nowSeconds()
{
    return QDateTime::currentSecsSinceEpoch();
}

struct Me
{
    Identity identity;
    QString key; // canonical key text
    bool valid() const { return identity.isValid() && !key.isEmpty(); }
};

// The user is whoever the relay session holds now: the same process may
// switch identities between calls.
Me currentUser()
{
    Me me;
    me.identity = velmor::net::RelayAuthSession::instance().identity();
    if (me.identity.isValid())
        me.key = me.identity.publicKeyText();
    return me;
}

QString shortAddressOf(const QString &key)
{
    const QString address = velmor::identity::ethereumAddress(base64UrlDecode(key));
    if (address.size() < 14)
        return address;
    return address.left(6) + QStringLiteral("...") + address.right(6);
}

QString groupMessageText(const QJsonObject &outer)
{
    return QLatin1String(kGroupMessagePrefix) + base64UrlEncode(canonicalJson(outer));
}

// The card epoch is inside the associated data, so a relay can neither
// hide that a sender holds a newer card nor invent one.
QByteArray boxContext(const QString &groupId, const QString &kind, qint64 keyEpoch, qint64 epoch)
{
    return QByteArrayLiteral("velmor_group_v1|") + groupId.toUtf8() + '|' + kind.toUtf8() + '|'
        + QByteArray::number(keyEpoch) + '|' + QByteArray::number(epoch);
}

// A card is sealed to each member on its own, bound to the owner and that
// member: the relay sees no name, member or profile.
QByteArray cardContext(const QString &groupId, const QString &sender, const QString &recipient)
{
    const QByteArray direct = velmor::identity::directMessageContext(sender, recipient);
    if (direct.isEmpty())
        return QByteArray();
    return QByteArrayLiteral("velmor_group_v1|") + groupId.toUtf8() + QByteArrayLiteral("|card|") + direct;
}

QString cardMessageFor(const Me &me, const GroupCard &card, const QString &recipient)
{
    const QByteArray context = cardContext(card.groupId, me.key, recipient);
    const QByteArray inner = canonicalJson(QJsonObject{
        {QStringLiteral("card"), QString::fromUtf8(card.cardJson)},
        {QStringLiteral("signature"), card.signature},
    });
    if (context.isEmpty() || inner.isEmpty())
        return QString();
    const QString sealed = Ecies::seal(base64UrlDecode(recipient), inner, Ecies::ChaCha20Poly1305, context);
    if (sealed.isEmpty())
        return QString();
    return groupMessageText(QJsonObject{
        {QStringLiteral("v"), 1},
        {QStringLiteral("kind"), kKindCard},
        {QStringLiteral("groupId"), card.groupId},
        {QStringLiteral("sealed"), sealed},
    });
}

QString sealedMessage(const QString &groupId, const QString &kind, qint64 keyEpoch, qint64 epoch,
                      const QByteArray &groupKey, const QJsonObject &inner)
{
    const QByteArray plaintext = canonicalJson(inner);
    if (plaintext.isEmpty())
        return QString();
    const QString box = velmor::crypto::GroupBox::seal(groupKey, plaintext,
                                                       boxContext(groupId, kind, keyEpoch, epoch));
    if (box.isEmpty())
        return QString();
    return groupMessageText(QJsonObject{
        {QStringLiteral("v"), 1},
        {QStringLiteral("kind"), kind},
        {QStringLiteral("groupId"), groupId},
        {QStringLiteral("keyEpoch"), double(keyEpoch)},
        {QStringLiteral("epoch"), double(epoch)},
        {QStringLiteral("box"), box},
    });
}

// The group key of one key epoch, opened from the user's own box.
QByteArray openGroupKey(const QMap<qint64, QString> &ring, qint64 keyEpoch, const Me &me)
{
    const QString box = ring.value(keyEpoch);
    if (box.isEmpty())
        return QByteArray();
    const QByteArray key = Ecies::open(box, me.identity.privateKey);
    return key.size() == 32 ? key : QByteArray();
}

// One envelope per recipient, all under one message id, posted in one
// request; `ciphertextFor` gives each recipient's ciphertext.
bool fanOut(const Me &me, const QString &groupId, const QStringList &recipients,
            const std::function<QString(const QString &)> &ciphertextFor, QString *messageId, QString *error)
{
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const qint64 now = nowSeconds();
    QJsonArray envelopes;
    for (const QString &recipient : recipients) {
        const QString ciphertext = ciphertextFor(recipient);
        if (ciphertext.isEmpty()) {
            *error = QStringLiteral("encrypt_failed");
            return false;
        }
        const velmor::identity::Envelope envelope =
            velmor::identity::signEnvelope(me.identity, recipient, ciphertext, id, now);
        if (envelope.signature.isEmpty()) {
            *error = QStringLiteral("sign_failed");
            return false;
        }
        QJsonObject json = RelayApi::envelopeToJson(envelope);
        json.insert(QStringLiteral("notify_type"), QStringLiteral("group"));
        envelopes.append(json);
    }
    QString tokenError;
    const velmor::net::HttpResponse reply = RelayApi::authorizedPost(
        QStringLiteral("/v1/group/fanout"),
        QJsonObject{{QStringLiteral("group_id"), groupId},
                    {QStringLiteral("message_id"), id},
                    {QStringLiteral("envelopes"), envelopes}},
        kFanoutTimeoutMs, &tokenError);
    if (!reply.success) {
        qWarning().noquote() << "[GROUPSEND] fan-out failed group=" << groupId
                             << "status=" << reply.status << "err=" << (tokenError.isEmpty() ? reply.error : tokenError);
        *error = QStringLiteral("fanout_http_%1").arg(reply.status);
        return false;
    }
    if (messageId)
        *messageId = id;
    return true;
}

bool fanOut(const Me &me, const QString &groupId, const QStringList &recipients, const QString &ciphertext,
            QString *messageId, QString *error)
{
    return fanOut(me, groupId, recipients, [&ciphertext](const QString &) { return ciphertext; }, messageId,
                  error);
}

bool sendCard(const Me &me, const GroupCard &card, const QStringList &recipients, QString *error)
{
    return fanOut(me, card.groupId, recipients,
                  [&](const QString &recipient) { return cardMessageFor(me, card, recipient); }, nullptr, error);
}

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
GroupOpResult issueCard(GroupRegistry &registry, OwnerContext &context, bool rekey)
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
    QString installError;
    if (!registry.install(card, context.me.key, &installError))
        return {false, installError};
    registry.settleEpoch(card.groupId, card.epoch);
    qInfo().noquote() << "[GROUPKEY] card issued group=" << card.groupId << "epoch=" << card.epoch
                      << "keyEpoch=" << card.keyEpoch << "members=" << card.memberPublicKeys.size();
    const QStringList recipients = othersOf(card.memberPublicKeys, context.me.key);
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

// Asks the owner for its current card (a member whose card is older than
// an epoch a member's message showed), once per claimed epoch.
void requestCard(GroupRegistry &registry, const Me &me, const GroupCard &card, qint64 claimedEpoch)
{
    if (card.ownerRawPublicKey == me.key || !registry.takeCardRequest(card.groupId, claimedEpoch))
        return;
    const QString request = groupMessageText(QJsonObject{
        {QStringLiteral("v"), 1},
        {QStringLiteral("kind"), kKindCardRequest},
        {QStringLiteral("groupId"), card.groupId},
        {QStringLiteral("epoch"), double(claimedEpoch)},
    });
    QString error;
    if (!fanOut(me, card.groupId, {card.ownerRawPublicKey}, request, nullptr, &error)) {
        registry.releaseCardRequest(card.groupId, claimedEpoch);
        qWarning().noquote() << "[GROUPKEY] card request failed group=" << card.groupId << "err=" << error;
    }
}

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
        ? openGroupKey(registry.keyRing(groupId), card->keyEpoch, me)
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

GroupSendResult sendGroupContent(GroupRegistry &registry, const QString &groupId,
                                 const QString &type, const QString &text)
{
    SendContext context;
    const GroupSendResult checked = sendContext(registry, groupId, &context);
    if (!checked.ok)
        return checked;
    if (context.recipients.isEmpty())
        return {false, QString(), QStringLiteral("no_recipients")};
    const QString ciphertext = sealedMessage(
        groupId, kKindMessage, context.card.keyEpoch, context.card.epoch, context.groupKey,
        QJsonObject{{QStringLiteral("type"), type},
                    {QStringLiteral("text"), text},
                    {QStringLiteral("sender"), context.me.key},
                    {QStringLiteral("sentAt"), double(nowSeconds())}});
    if (ciphertext.isEmpty())
        return {false, QString(), QStringLiteral("encrypt_failed")};
    GroupSendResult result;
    if (!fanOut(context.me, groupId, context.recipients, ciphertext, &result.messageId, &result.error))
        return result;
    result.ok = true;
    return result;
}

// ---- inbound ------------------------------------------------------------

GroupInboundResult refused(const QString &groupId, const QString &word)
{
    GroupInboundResult result;
    result.isGroup = true;
    result.groupId = groupId;
    result.error = word;
    qWarning().noquote() << "[GROUPKEY] refused group message group=" << groupId << "err=" << word;
    return result;
}

// The card epoch the group had when the user deleted it; 0 when it never was.
qint64 deletedAtEpoch(const QString &groupId)
{
    ChatStore &store = ChatStore::instance();
    if (!store.isOpen())
        return 0;
    for (const QJsonObject &row : store.normalGroupMemberProfiles(groupId))
        if (row.value(QStringLiteral("memberRawPublicKey")).toString() == kDeletedMarker)
            return GroupMemberProfile::fromJson(row).updatedAt;
    return 0;
}

// The owner answers a member that saw a newer epoch than its card with the
// current card, sealed to that member; former members get nothing.
GroupInboundResult answerCardRequest(GroupRegistry &registry, const QString &groupId, const QString &sender,
                                     const Me &me)
{
    const std::optional<GroupCard> card = registry.card(groupId);
    if (!card)
        return refused(groupId, QStringLiteral("no_card"));
    if (card->ownerRawPublicKey != me.key)
        return refused(groupId, QStringLiteral("not_owner"));
    if (!card->hasMember(sender) || sender == me.key)
        return refused(groupId, QStringLiteral("sender_not_member"));
    QString error;
    if (!sendCard(me, *card, {sender}, &error))
        return refused(groupId, error); // left with the relay: the answer is tried again
    GroupInboundResult result;
    result.isGroup = true;
    result.groupId = groupId;
    return result;
}

GroupInboundResult applyCard(GroupRegistry &registry, const QJsonObject &outer, const QString &groupId,
                             const QString &sender, const Me &me)
{
    const QJsonValue sealedValue = outer.value(QStringLiteral("sealed"));
    if (!sealedValue.isString())
        return refused(groupId, QStringLiteral("invalid_group_message"));
    const QByteArray context = cardContext(groupId, sender, me.key);
    const QByteArray opened = context.isEmpty()
        ? QByteArray()
        : Ecies::open(sealedValue.toString(), me.identity.privateKey, Ecies::ChaCha20Poly1305, context);
    if (opened.isEmpty())
        return refused(groupId, QStringLiteral("decrypt_failed"));
    const QJsonObject inner = parseJsonObject(opened);
    const QJsonValue cardText = inner.value(QStringLiteral("card"));
    const QJsonValue signature = inner.value(QStringLiteral("signature"));
    if (!cardText.isString() || !signature.isString())
        return refused(groupId, QStringLiteral("invalid_group_message"));
    const std::optional<GroupCard> card = verifyGroupCard(cardText.toString().toUtf8(), signature.toString());
    // Only the owner issues cards; a card relayed by anyone else, or one
    // whose envelope does not name its group, is not taken.
    if (!card || card->groupId != groupId || card->ownerRawPublicKey != sender)
        return refused(groupId, QStringLiteral("card_verify_failed"));
    const std::optional<GroupCard> held = registry.card(groupId);
    if (held) {
        if (held->adminPublicKey != card->adminPublicKey || held->ownerRawPublicKey != card->ownerRawPublicKey)
            return refused(groupId, QStringLiteral("card_verify_failed"));
        if (card->epoch == held->epoch && card->cardJson == held->cardJson) {
            // The same card once more (a redelivery, or the owner's answer
            // to a card request): the held card is the owner's current one.
            registry.settleEpoch(groupId, card->epoch);
            GroupInboundResult result;
            result.isGroup = true;
            result.groupId = groupId;
            return result;
        }
        if (card->epoch <= held->epoch)
            return refused(groupId, QStringLiteral("stale_group_card"));
    } else {
        if (!card->hasMember(me.key))
            return refused(groupId, QStringLiteral("not_member"));
        // A group the user deleted comes back only with a newer card than
        // it had then, not with an old invitation offered again.
        if (card->epoch <= deletedAtEpoch(groupId))
            return refused(groupId, QStringLiteral("group_deleted"));
    }
    QString installError;
    if (!registry.install(*card, me.key, &installError))
        return refused(groupId, installError);
    registry.settleEpoch(groupId, card->epoch);

    GroupInboundResult result;
    result.isGroup = true;
    result.groupId = groupId;
    if (held) {
        // A set, not hasMember(): a card may list many members, and this runs
        // for every card update that reaches us.
        const QSet<QString> before(held->memberPublicKeys.cbegin(), held->memberPublicKeys.cend());
        QStringList joined;
        for (const GroupMemberProfile &profile : card->members) {
            if (before.contains(profile.memberRawPublicKey))
                continue;
            const QString name = profile.displayName.trimmed();
            joined.append(name.isEmpty() ? shortAddressOf(profile.memberRawPublicKey) : name);
        }
        if (!joined.isEmpty()) {
            result.hasMessage = true;
            result.contentType = QStringLiteral("system");
            result.text = joined.join(QStringLiteral("、")) + QStringLiteral(" 加入了群聊");
        }
    }
    return result;
}

// A whole positive number within the canonical range, or -1.
qint64 epochOf(const QJsonValue &value)
{
    const double number = value.toDouble(-1);
    if (!value.isDouble() || number < 1 || number > double(kCanonicalMaxInteger) || qint64(number) != number)
        return -1;
    return qint64(number);
}

GroupInboundResult applySealed(GroupRegistry &registry, const QJsonObject &outer, const QString &kind,
                               const QString &groupId, const QString &sender, const Me &me)
{
    const std::optional<GroupCard> card = registry.card(groupId);
    if (!card)
        return refused(groupId, QStringLiteral("no_card"));
    const qint64 keyEpoch = epochOf(outer.value(QStringLiteral("keyEpoch")));
    const qint64 epoch = epochOf(outer.value(QStringLiteral("epoch")));
    const QJsonValue box = outer.value(QStringLiteral("box"));
    if (keyEpoch < 1 || epoch < keyEpoch || !box.isString())
        return refused(groupId, QStringLiteral("invalid_group_message"));
    if (epoch > card->epoch && card->ownerRawPublicKey == me.key)
        return refused(groupId, QStringLiteral("invalid_group_message")); // no card is newer than the owner's
    // A key the held card does not list proves nothing, not even an epoch.
    if (!card->hasMember(sender))
        return refused(groupId, QStringLiteral("sender_not_member"));
    QByteArray groupKey = openGroupKey(registry.keyRing(groupId), keyEpoch, me);
    // A member (the envelope is signed by one the held card lists) writes
    // under a card we lack, typically a re-key that removed someone: it is
    // asked for, and the group waits for it.
    if (groupKey.isEmpty() && epoch > card->epoch) {
        registry.noteClaimedEpoch(groupId, epoch);
        requestCard(registry, me, *card, epoch);
        return refused(groupId, QStringLiteral("card_outdated"));
    }
    if (groupKey.isEmpty())
        return refused(groupId, QStringLiteral("no_group_key"));
    const QByteArray plaintext = velmor::crypto::GroupBox::open(box.toString(), groupKey,
                                                                boxContext(groupId, kind, keyEpoch, epoch));
    velmor::crypto::wipeSecret(groupKey);
    if (plaintext.isEmpty())
        return refused(groupId, QStringLiteral("decrypt_failed"));
    // The epoch is sealed with the group key too. A message of a card we
    // lack waits for it (it stays with the relay);
    // and until the owner's current card is here, which may remove someone,
    // no other message of the group is taken either.
    if (epoch > card->epoch) {
        registry.noteClaimedEpoch(groupId, epoch);
        requestCard(registry, me, *card, epoch);
        return refused(groupId, QStringLiteral("card_outdated"));
    }
    if (registry.isCardOutdated(groupId))
        return refused(groupId, QStringLiteral("card_outdated"));
    const QJsonObject inner = parseJsonObject(plaintext);
    if (inner.isEmpty())
        return refused(groupId, QStringLiteral("invalid_group_message"));

    GroupInboundResult result;
    result.isGroup = true;
    result.groupId = groupId;

    if (kind == kKindProfile) {
        if (inner.value(QStringLiteral("type")).toString() != kProfileType
            || inner.value(QStringLiteral("groupId")).toString() != groupId)
            return refused(groupId, QStringLiteral("invalid_group_message"));
        const GroupMemberProfile profile =
            GroupMemberProfile::fromJson(inner.value(QStringLiteral("profile")).toObject());
        // A member speaks only for itself.
        if (profile.memberRawPublicKey != sender)
            return refused(groupId, QStringLiteral("sender_mismatch"));
        // Taken only once stored, so a profile the store could not keep
        // stays with the relay and comes again.
        ChatStore &store = ChatStore::instance();
        if (store.isOpen() && !store.upsertNormalGroupMemberProfile(groupId, profile.toJson()))
            return refused(groupId, QStringLiteral("store_failed"));
        return result;
    }

    // The sender named inside the box must be the envelope's signer, so a
    // member cannot pass off another member's message as its own.
    if (inner.value(QStringLiteral("sender")).toString() != sender)
        return refused(groupId, QStringLiteral("sender_mismatch"));
    const QString type = inner.value(QStringLiteral("type")).toString();
    const QString text = inner.value(QStringLiteral("text")).toString();
    if (type == QLatin1String("text")) {
        if (text.isEmpty())
            return refused(groupId, QStringLiteral("invalid_group_message"));
        result.hasMessage = true;
        result.contentType = type;
        result.text = text;
        return result;
    }
    if (type == QLatin1String("image") || type == QLatin1String("voice")) {
        const GroupMediaContent media = parseGroupMediaContent(text);
        if (!media.ok || media.kind != type)
            return refused(groupId, QStringLiteral("invalid_group_message"));
        MessageContent preview;
        preview.type = type;
        result.hasMessage = true;
        result.contentType = type;
        result.text = messageTypeName(preview);
        if (type == QLatin1String("image")) {
            result.imageB64 = media.imageB64;
            result.imageMime = media.mime;
            result.imageWidth = media.width;
            result.imageHeight = media.height;
        } else {
            result.voiceB64 = media.audioB64;
            result.durationMs = media.durationMs;
            result.waveform = media.waveform;
        }
        return result;
    }
    return refused(groupId, QStringLiteral("unsupported_group_content"));
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
    QStringList keys = canonicalKeys(memberKeys);
    if (!keys.contains(me.key))
        keys.append(me.key);
    keys.sort();
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
    if (!store.deleteConversation(groupId, withMessages))
        return {false, QStringLiteral("store_failed")};
    registry.remove(groupId);
    // Remembered after the rows are gone (the deletion takes every profile
    // row of the group with it), so an old invitation offered again does
    // not bring the group back.
    GroupMemberProfile marker;
    marker.memberRawPublicKey = kDeletedMarker;
    marker.updatedAt = epoch;
    if (epoch > 0 && !store.upsertNormalGroupMemberProfile(groupId, marker.toJson()))
        return {false, QStringLiteral("store_failed")};
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
        return issueCard(registry, context, true);
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
        groupKey = openGroupKey(registry.keyRing(groupId), card->keyEpoch, me);
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
                    {QStringLiteral("silent"), true}});
    velmor::crypto::wipeSecret(groupKey);
    if (ciphertext.isEmpty())
        return {false, QStringLiteral("encrypt_failed")};
    QString error;
    if (!fanOut(me, groupId, recipients, ciphertext, nullptr, &error))
        return {false, error};
    return {true, QString()};
}

GroupSendResult sendGroupText(GroupRegistry &registry, const QString &groupId, const QString &text)
{
    if (text.isEmpty())
        return {false, QString(), QStringLiteral("empty_payload")};
    return sendGroupContent(registry, groupId, QStringLiteral("text"), text);
}

GroupSendResult sendGroupImage(GroupRegistry &registry, const QString &groupId, const QByteArray &jpeg,
                               const QString &mime, int width, int height)
{
    if (jpeg.isEmpty())
        return {false, QString(), QStringLiteral("empty_payload")};
    return sendGroupContent(registry, groupId, QStringLiteral("image"),
                            groupImageContent(jpeg, mime, width, height));
}

GroupSendResult sendGroupVoice(GroupRegistry &registry, const QString &groupId, const QByteArray &audio,
                               int durationMs, const QList<int> &waveform)
{
    if (audio.isEmpty())
        return {false, QString(), QStringLiteral("empty_payload")};
    return sendGroupContent(registry, groupId, QStringLiteral("voice"),
                            groupVoiceContent(audio, qMax(durationMs, 0), waveform));
}

GroupInboundResult handleGroupMessage(GroupRegistry &registry, const QString &ciphertext,
                                      const QString &senderKey)
{
    if (!ciphertext.startsWith(QLatin1String(kGroupMessagePrefix)))
        return GroupInboundResult();
    const QJsonObject outer =
        parseJsonObject(base64UrlDecode(ciphertext.mid(int(qstrlen(kGroupMessagePrefix)))));
    const QString groupId = outer.value(QStringLiteral("groupId")).toString();
    if (outer.isEmpty() || outer.value(QStringLiteral("v")).toInt() != 1 || groupId.isEmpty())
        return refused(groupId, QStringLiteral("invalid_group_message"));
    const Me me = currentUser();
    if (!me.valid())
        return refused(groupId, QStringLiteral("no_identity"));
    const QString sender = canonicalMemberKey(senderKey);
    if (sender.isEmpty())
        return refused(groupId, QStringLiteral("sender_not_member"));
    const QString kind = outer.value(QStringLiteral("kind")).toString();
    if (kind == kKindCard)
        return applyCard(registry, outer, groupId, sender, me);
    if (kind == kKindMessage || kind == kKindProfile)
        return applySealed(registry, outer, kind, groupId, sender, me);
    if (kind == kKindCardRequest)
        return answerCardRequest(registry, groupId, sender, me);
    return refused(groupId, QStringLiteral("invalid_group_message"));
}

} // namespace velmor::chat
