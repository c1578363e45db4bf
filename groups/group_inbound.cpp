// The inbound side of the group engine: cards, sealed messages and
// profiles, and the owner's answers to card requests.
#include "groups/group_engine.h"

#include "groups/canonical_json.h"
#include "groups/group_wire.h"
#include "identity/content.h"
#include "identity/crypto.h"
#include "store/chat_store.h"

#include <QDateTime>
#include <QDebug>
#include <QSet>

namespace velmor::chat {

using velmor::crypto::base64UrlDecode;

namespace {

using namespace wire;

GroupInboundResult refused(const QString &groupId, const QString &word)
{
    GroupInboundResult result;
    result.isGroup = true;
    result.groupId = groupId;
    result.error = word;
    qWarning().noquote() << "[GROUPKEY] refused group message group=" << groupId << "err=" << word;
    return result;
}

// Refused for good: acknowledged and dropped, never offered again.
GroupInboundResult discarded(const QString &groupId, const QString &word)
{
    GroupInboundResult result = refused(groupId, word);
    result.discard = true;
    return result;
}

// The owner answers a member that saw a newer epoch than its card with the
// current card, sealed to that member with the request's nonce; once per
// member and card, so a member asking again and again costs the owner one
// answer. Former members get nothing.
GroupInboundResult answerCardRequest(GroupRegistry &registry, const QJsonObject &outer, const QString &groupId,
                                     const QString &sender, const Me &me)
{
    const std::optional<GroupCard> card = registry.card(groupId);
    if (!card)
        return refused(groupId, QStringLiteral("no_card"));
    if (card->ownerRawPublicKey != me.key)
        return refused(groupId, QStringLiteral("not_owner"));
    // The owner's card is the newest: someone it does not list (a removed
    // member) is not a member, now or after a later re-key.
    if (!card->hasMember(sender) || sender == me.key)
        return discarded(groupId, QStringLiteral("sender_not_member"));
    if (!registry.takeCardAnswer(groupId, sender, card->epoch))
        return discarded(groupId, QStringLiteral("card_request_answered"));
    GroupInboundResult result;
    result.isGroup = true;
    result.groupId = groupId;
    result.followUps.append(
        answerCardLater(registry, me, *card, sender, outer.value(QStringLiteral("nonce")).toString()));
    return result;
}

// The messages set aside for want of a card up to `epoch`, taken out of
// the store (in the same transaction as the card that brings them back).
QList<RawEnvelope> takeParked(const QString &groupId, qint64 epoch, const Me &me)
{
    ChatStore &store = ChatStore::instance();
    if (!store.isOpen())
        return {};
    bool ok = false;
    const QList<ParkedGroupMessageRecord> parked = store.parkedGroupMessages(groupId, epoch, &ok);
    if (!ok || parked.isEmpty() || !store.deleteParkedGroupMessages(groupId, epoch))
        return {};
    QList<RawEnvelope> envelopes;
    for (const ParkedGroupMessageRecord &record : parked) {
        RawEnvelope envelope;
        envelope.messageId = record.message_id;
        envelope.senderPubkey = record.sender_raw_public_key;
        envelope.recipientPubkey = me.key;
        envelope.createdAt = record.created_at;
        envelope.ciphertext = record.ciphertext;
        envelope.ciphertextHash = record.content_digest;
        envelope.notifyType = QStringLiteral("group");
        envelope.valid = true; // its envelope was checked when it was pulled
        envelopes.append(envelope);
    }
    return envelopes;
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
    // The owner's answer to the card request this member is waiting on:
    // the one thing that settles what members claimed.
    const QString answers = inner.value(QStringLiteral("answers")).toString();
    std::optional<GroupCard> card = verifyGroupCard(cardText.toString().toUtf8(), signature.toString());
    // The stamp is not covered by the card's signature (a member passing the
    // card on could alter it): kept only when it checks.
    const QString stamp = inner.value(QStringLiteral("stamp")).toString();
    if (card && isValidCardStamp(card->groupId, card->epoch, groupCardDigest(card->cardJson), stamp,
                                 card->adminPublicKey))
        card->stamp = stamp;
    // Only the owner issues cards. A newer card of a group already held may
    // also come from a member of both the held and the new card (one who
    // saw the user still writing under the old card); an invitation, a card
    // from anyone else, or one whose envelope does not name its group, is
    // not taken.
    if (!card || card->groupId != groupId)
        return refused(groupId, QStringLiteral("card_verify_failed"));
    const std::optional<GroupCard> held = registry.card(groupId);
    const bool relayedByMember = held && held->hasMember(sender) && card->hasMember(sender);
    if (card->ownerRawPublicKey != sender && !relayedByMember)
        return refused(groupId, QStringLiteral("card_verify_failed"));
    if (held) {
        if (held->adminPublicKey != card->adminPublicKey || held->ownerRawPublicKey != card->ownerRawPublicKey)
            return refused(groupId, QStringLiteral("card_verify_failed"));
        if (card->epoch == held->epoch && card->cardJson == held->cardJson) {
            // The same card once more. A redelivery, or a member passing it
            // on, proves nothing (a relay withholding a newer card would
            // replay this one); the owner's answer to the awaited request
            // shows the held card is the owner's current one.
            if (sender == card->ownerRawPublicKey)
                registry.settleByAnswer(groupId, answers, card->epoch);
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
    if (sender == card->ownerRawPublicKey)
        registry.settleByAnswer(groupId, answers, card->epoch);

    GroupInboundResult result;
    result.isGroup = true;
    result.groupId = groupId;
    // What the card's members set aside under it, or before it was held; a
    // writer the card does not list has nothing more to wait for.
    ChatStore &store = ChatStore::instance();
    if (store.isOpen() && !store.dropParkedGroupMessagesNotFrom(groupId, card->memberPublicKeys))
        return refused(groupId, QStringLiteral("store_failed"));
    result.reopened = takeParked(groupId, card->epoch, me);
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

// True when the message carries the owner's stamp of a card of `epoch`,
// checked with the held card's admin key (the same for every card of the
// group).
bool stampProves(const QJsonObject &outer, const GroupCard &held, qint64 epoch)
{
    const QJsonObject stamp = outer.value(QStringLiteral("stamp")).toObject();
    return !stamp.isEmpty()
        && isValidCardStamp(held.groupId, epoch, stamp.value(QStringLiteral("digest")).toString(),
                            stamp.value(QStringLiteral("signature")).toString(), held.adminPublicKey);
}

// A message that a card not held yet may settle (see handleGroupMessage):
// acknowledged and kept in the store until that card arrives, within the
// bounds; beyond them, or without a store, it is dropped. Without the
// envelope (a bare ciphertext read) it stays with the relay.
GroupInboundResult setAside(GroupRegistry &registry, const QString &groupId, qint64 epoch, const QString &sender,
                            const RawEnvelope *envelope, const QString &word)
{
    if (!envelope)
        return refused(groupId, word);
    ChatStore &store = ChatStore::instance();
    // A group the user holds bounds the epoch by what its owner has shown;
    // of one it does not hold, nothing older than its deletion is awaited.
    const qint64 proven = registry.provenEpoch(groupId);
    const bool beyond = proven > 0 ? epoch > proven + 1 : epoch <= deletedAtEpoch(groupId);
    if (envelope->messageId.isEmpty() || !store.isOpen() || epoch < 1 || beyond
        || envelope->ciphertext.toUtf8().size() > kParkedBytesPerWriter
        || envelope->createdAt < QDateTime::currentSecsSinceEpoch() - kParkedSeconds)
        return discarded(groupId, word);
    ParkedGroupMessageRecord record;
    record.group_id = groupId;
    record.message_id = envelope->messageId;
    record.sender_raw_public_key = sender;
    record.epoch = epoch;
    record.ciphertext = envelope->ciphertext;
    record.created_at = envelope->createdAt;
    record.content_digest = envelope->ciphertextHash;
    // The newest are kept: a writer (or everyone together) past the bounds
    // loses the oldest it set aside.
    if (!store.parkGroupMessage(record)
        || store.trimParkedGroupMessages(sender, kParkedPerWriter, kParkedBytesPerWriter) < 0
        || store.trimParkedGroupMessages(QString(), kParkedInAll, kParkedBytesInAll) < 0)
        return refused(groupId, QStringLiteral("store_failed"));
    qInfo().noquote() << "[GROUPKEY] set aside group message group=" << groupId << "epoch=" << epoch
                      << "reason=" << word;
    GroupInboundResult result;
    result.isGroup = true;
    result.groupId = groupId;
    result.error = word;
    result.discard = true;
    return result;
}

// A member's message shows a card epoch above the held card: it waits for
// that card (set aside) and the owner is asked, as far as the registry's
// bounds allow; so does a claim the owner's answer disproved, unasked.
GroupInboundResult claimOfNewerCard(GroupRegistry &registry, const GroupCard &card, qint64 epoch,
                                    const QString &sender, bool proven, const Me &me, const RawEnvelope *envelope)
{
    const GroupRegistry::ClaimOutcome claim = registry.noteClaimedEpoch(card.groupId, epoch, proven);
    if (claim.disproved)
        return setAside(registry, card.groupId, epoch, sender, envelope, QStringLiteral("card_claim_disproved"));
    GroupInboundResult result =
        setAside(registry, card.groupId, epoch, sender, envelope, QStringLiteral("card_outdated"));
    if (!claim.requestNonce.isEmpty() && card.ownerRawPublicKey != me.key)
        result.followUps.append(requestCardLater(registry, me, card, epoch, claim.requestNonce));
    return result;
}

GroupInboundResult applySealed(GroupRegistry &registry, const QJsonObject &outer, const QString &kind,
                               const QString &groupId, const QString &sender, const Me &me,
                               const RawEnvelope *envelope)
{
    const qint64 keyEpoch = epochOf(outer.value(QStringLiteral("keyEpoch")));
    const qint64 epoch = epochOf(outer.value(QStringLiteral("epoch")));
    const std::optional<GroupCard> card = registry.card(groupId);
    // The invitation may come after the group's first messages.
    if (!card)
        return setAside(registry, groupId, epoch, sender, envelope, QStringLiteral("no_card"));
    const QJsonValue box = outer.value(QStringLiteral("box"));
    if (keyEpoch < 1 || epoch < keyEpoch || !box.isString())
        return refused(groupId, QStringLiteral("invalid_group_message"));
    if (epoch > card->epoch && card->ownerRawPublicKey == me.key)
        return refused(groupId, QStringLiteral("invalid_group_message")); // no card is newer than the owner's
    // A key the held card does not list proves nothing, not even an epoch.
    // Written under this card or an older one, it comes from someone who
    // was removed (or never was a member): dropped, so that it never shows
    // up later should the writer be added again. Under a newer card the
    // writer may have been added there: it waits for that card.
    if (!card->hasMember(sender))
        return epoch <= card->epoch
            ? discarded(groupId, QStringLiteral("sender_not_member"))
            : setAside(registry, groupId, epoch, sender, envelope, QStringLiteral("sender_not_member"));
    // The owner speaks for its own cards; anyone else proves a newer one
    // with the owner's stamp of it.
    const bool proven =
        epoch > card->epoch && (sender == card->ownerRawPublicKey || stampProves(outer, *card, epoch));
    QByteArray groupKey = openGroupKey(registry, groupId, keyEpoch, me);
    // A member (the envelope is signed by one the held card lists) writes
    // under a card we lack, typically a re-key that removed someone: it is
    // asked for, and the group waits for it.
    if (groupKey.isEmpty() && epoch > card->epoch)
        return claimOfNewerCard(registry, *card, epoch, sender, proven, me, envelope);
    if (groupKey.isEmpty())
        return refused(groupId, QStringLiteral("no_group_key"));
    const QByteArray plaintext = velmor::crypto::GroupBox::open(box.toString(), groupKey,
                                                                boxContext(groupId, kind, keyEpoch, epoch));
    velmor::crypto::wipeSecret(groupKey);
    if (plaintext.isEmpty())
        return refused(groupId, QStringLiteral("decrypt_failed"));
    // The epoch is sealed with the group key too. A message of a card we
    // lack waits for it (set aside); and until the owner's current card is
    // here, which may remove someone, no other message of the group is
    // taken either (set aside, and read again once the group is no longer
    // held up).
    if (epoch > card->epoch)
        return claimOfNewerCard(registry, *card, epoch, sender, proven, me, envelope);
    if (registry.isCardOutdated(groupId))
        return setAside(registry, groupId, epoch, sender, envelope, QStringLiteral("card_outdated"));
    // A current member still writes under an older card: a relay may be
    // withholding the newer one, and with it the removal of someone who
    // still reads that member's posts. Whoever holds the newer card sends
    // it (the message itself is the member's own and is taken).
    GroupInboundResult result;
    result.isGroup = true;
    result.groupId = groupId;
    // Taken: the sender is a member, and when it writes under an older card
    // it is sent the held one.
    const auto taken = [&](GroupInboundResult out) {
        if (epoch < card->epoch) {
            if (std::optional<GroupFollowUp> resend = resendCardLater(registry, me, *card, sender))
                out.followUps.append(*resend);
        }
        return out;
    };
    const QJsonObject inner = parseJsonObject(plaintext);
    if (inner.isEmpty())
        return refused(groupId, QStringLiteral("invalid_group_message"));

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
        return taken(result);
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
        return taken(result);
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
        return taken(result);
    }
    return refused(groupId, QStringLiteral("unsupported_group_content"));
}

} // namespace

void runFollowUps(const QList<GroupFollowUp> &followUps)
{
    for (const GroupFollowUp &followUp : followUps)
        if (followUp.send)
            followUp.send();
}

void cancelFollowUps(const QList<GroupFollowUp> &followUps)
{
    for (const GroupFollowUp &followUp : followUps)
        if (followUp.cancel)
            followUp.cancel();
}

namespace {

// The clear outer object of a group message; empty when it is none.
QJsonObject outerOf(const QString &ciphertext)
{
    if (!ciphertext.startsWith(QLatin1String(kGroupMessagePrefix)))
        return {};
    return parseJsonObject(base64UrlDecode(ciphertext.mid(int(qstrlen(kGroupMessagePrefix)))));
}

} // namespace

QString groupIdOfMessage(const QString &ciphertext)
{
    const QJsonObject outer = outerOf(ciphertext);
    return outer.value(QStringLiteral("v")).toInt() == 1 ? outer.value(QStringLiteral("groupId")).toString()
                                                         : QString();
}

namespace {

GroupInboundResult handleOne(GroupRegistry &registry, const QString &ciphertext, const QString &senderKey,
                             const RawEnvelope *envelope)
{
    if (!ciphertext.startsWith(QLatin1String(kGroupMessagePrefix)))
        return GroupInboundResult();
    const QJsonObject outer = outerOf(ciphertext);
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
        return applySealed(registry, outer, kind, groupId, sender, me, envelope);
    if (kind == kKindCardRequest)
        return answerCardRequest(registry, outer, groupId, sender, me);
    return refused(groupId, QStringLiteral("invalid_group_message"));
}

} // namespace

GroupInboundResult handleGroupMessage(GroupRegistry &registry, const QString &ciphertext,
                                      const QString &senderKey)
{
    return handleOne(registry, ciphertext, senderKey, nullptr);
}

GroupInboundResult handleGroupMessage(GroupRegistry &registry, const RawEnvelope &envelope)
{
    GroupInboundResult result = handleOne(registry, envelope.ciphertext, envelope.senderPubkey, &envelope);
    // What no card can settle is never read: acknowledged and dropped
    // rather than offered again at every pull, where a page of them would
    // hold up everything behind it. Only the user's own failures wait.
    const bool ours = result.error == QLatin1String("store_failed") || result.error == QLatin1String("no_identity");
    if (!result.error.isEmpty() && !ours)
        result.discard = true;
    return result;
}

QList<RawEnvelope> takeReadableParked(GroupRegistry &registry, const QStringList &parkedGroups)
{
    ChatStore &store = ChatStore::instance();
    const Me me = currentUser();
    if (!store.isOpen() || !me.valid())
        return {};
    // Also what a store of an earlier build set aside beyond the bounds.
    const int expired = store.dropParkedGroupMessagesBefore(QDateTime::currentSecsSinceEpoch() - kParkedSeconds);
    const int trimmed = store.trimParkedGroupMessages(QString(), kParkedInAll, kParkedBytesInAll);
    if (expired > 0 || trimmed > 0)
        qInfo() << "[GROUPKEY] dropped set-aside group messages: expired" << expired << "over the bounds" << trimmed;
    QList<RawEnvelope> envelopes;
    for (const QString &groupId : parkedGroups) {
        const std::optional<GroupCard> card = registry.card(groupId);
        if (card && !registry.isCardOutdated(groupId))
            envelopes += takeParked(groupId, card->epoch, me);
    }
    return envelopes;
}

} // namespace velmor::chat
