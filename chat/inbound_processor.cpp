#include "chat/inbound_processor.h"

#include "chat/contact_book.h"
#include "chat/payloads.h"
#include "chat/peer_keys.h"
#include "groups/group_card.h"
#include "identity/envelope.h"
#include "store/chat_store.h"

#include <QDateTime>
#include <QDebug>
#include <QJsonArray>
#include <QJsonObject>

#include <optional>
#include <utility>

namespace velmor::chat {

static_assert(ChatStore::kReceivedIdMemorySeconds
                  >= velmor::identity::kEnvelopeMaxLifetimeSeconds + velmor::identity::kEnvelopeClockSlackSeconds,
              "a deleted id must be remembered as long as its envelope can be valid");

namespace {

const QString kGroupPrefix = QStringLiteral("group:");

// Left with the relay, which offers it again: only for what the user's own
// side could not do (a store or identity at fault), never for what the
// sender sent, or a page of such envelopes would hold up every later one.
InboundVerdict skip()
{
    return InboundVerdict{};
}

// What can never be read: acknowledged, so that the relay drops it, and
// logged with the reason.
InboundVerdict dropped(const RawEnvelope &envelope, const char *reason)
{
    qWarning().noquote() << "[CHAT-INBOUND] dropped" << envelope.messageId << reason;
    InboundVerdict verdict;
    verdict.acknowledge = true;
    return verdict;
}

InboundVerdict acknowledgeOnly()
{
    InboundVerdict verdict;
    verdict.acknowledge = true;
    return verdict;
}

// A kept envelope: acknowledged and changing what the lists show; a failed
// key write turns it into one that is neither kept nor acknowledged.
InboundVerdict stored(bool writeOk)
{
    InboundVerdict verdict;
    verdict.writeFailed = !writeOk;
    verdict.acknowledge = writeOk;
    verdict.changed = writeOk;
    return verdict;
}

QString avatarKindOf(const QString &avatarId)
{
    return avatarId.startsWith(QLatin1String("lottiehead_")) ? QStringLiteral("lottie") : QStringLiteral("image");
}

bool translatable(const MessageRecord &row)
{
    return row.content_type != QLatin1String("voice") && row.content_type != QLatin1String("image");
}

// A stored text (plain, or already carrying a translation) with this
// translation: the original words stay what they were first.
QString withTranslation(const QString &text, const QString &translatedText)
{
    QString source = text;
    const QJsonObject meta = payload::decodePrefixedJson(text, QLatin1String(payload::kTextMetaPrefix));
    if (!meta.isEmpty()) {
        const QString original =
            meta.value(QStringLiteral("bridgeTranslation")).toObject().value(QStringLiteral("originalText")).toString();
        source = original.isEmpty() ? meta.value(QStringLiteral("text")).toString() : original;
    }
    return payload::encodePrefixedJson(
        QLatin1String(payload::kTextMetaPrefix),
        {{QStringLiteral("text"), source},
         {QStringLiteral("bridgeTranslation"),
          QJsonObject{{QStringLiteral("originalText"), source},
                      {QStringLiteral("translatedText"), translatedText},
                      {QStringLiteral("direction"), QStringLiteral("outbound")}}}});
}

} // namespace

QList<MessageRecord> InboundProcessor::takeMessageRows()
{
    m_rowsOfId.clear();
    return std::exchange(m_rows, {});
}

int InboundProcessor::collectedRow(const QString &conversationId, const QString &id) const
{
    for (auto it = m_rowsOfId.constFind(id); it != m_rowsOfId.cend() && it.key() == id; ++it) {
        if (m_rows.at(*it).conversation_id == conversationId)
            return *it;
    }
    return -1;
}

QString InboundProcessor::conversationOf(const RawEnvelope &envelope) const
{
    if (envelope.ciphertext.startsWith(QLatin1String(kGroupMessagePrefix))) {
        const QString groupId = groupIdOfMessage(envelope.ciphertext);
        return groupId.isEmpty() ? QString() : kGroupPrefix + groupId;
    }
    return m_store.conversationIdFor(envelope.senderPubkey);
}

std::optional<QString> InboundProcessor::storedDigest(const RawEnvelope &envelope)
{
    // Most ids are new anywhere: the conversation (for a group envelope,
    // read from its header) is worked out only for one seen before.
    if (!m_store.messageIdKnown(envelope.messageId))
        return std::nullopt;
    const QString conversationId = conversationOf(envelope);
    if (m_store.messageExists(conversationId, envelope.messageId))
        return m_store.messageContentDigest(conversationId, envelope.messageId);
    return m_store.deletedMessageDigest(conversationId, envelope.messageId);
}

InboundVerdict InboundProcessor::putMessage(const MessageRecord &row)
{
    if (!m_batched)
        return stored(m_store.upsertMessage(row));
    InboundVerdict verdict = stored(true);
    verdict.messageRow = int(m_rows.size());
    m_rowsOfId.insert(row.id, verdict.messageRow);
    m_rows.append(row);
    return verdict;
}

template <typename Writes>
InboundVerdict InboundProcessor::asOneItem(Writes writes)
{
    const bool item = m_batched && m_store.beginBatchItem();
    InboundVerdict verdict = writes();
    if (item && !m_store.endBatchItem(!verdict.writeFailed) && !verdict.writeFailed)
        return stored(false);
    return verdict;
}

MessageContent InboundProcessor::readDirect(const QString &ciphertext, const QString &senderPubkey,
                                            const velmor::identity::Identity &me)
{
    const QByteArray plaintext = velmor::identity::openDirectMessage(ciphertext, senderPubkey, me);
    return plaintext.isEmpty() ? MessageContent{} : parseMessageContent(plaintext);
}

void InboundProcessor::openInPlace(RawEnvelope &envelope, const velmor::identity::Identity &me)
{
    if (!envelope.valid || envelope.messageId.isEmpty() || isOfficialAccountKey(envelope.senderPubkey)
        || envelope.ciphertext.startsWith(QLatin1String(kGroupMessagePrefix)))
        return;
    envelope.content = readDirect(envelope.ciphertext, envelope.senderPubkey, me);
    envelope.opened = true;
}

InboundProcessor::InboundProcessor(ChatStore &store, GroupRegistry &registry,
                                   const velmor::identity::Identity &me)
    : m_store(store)
    , m_registry(registry)
    , m_me(me)
    , m_myKey(me.publicKey.isEmpty() ? QString() : me.publicKeyText())
    , m_readNotice([](const QString &text) { return parseOfficialNotice(text, QStringLiteral("zh-Hans")); })
{
}

bool InboundProcessor::blocked(const QString &senderKey)
{
    const auto contact = m_store.contact(senderKey);
    return contact && contact->blocked != 0;
}

bool InboundProcessor::groupMuted(const QString &groupId)
{
    for (const NormalGroupCardRecord &card : m_store.normalGroupCards()) {
        if (card.group_id == groupId)
            return card.muted;
    }
    return false;
}

InboundVerdict InboundProcessor::handle(const RawEnvelope &envelope)
{
    if (envelope.messageId.isEmpty())
        return skip();

    // Ids are the senders' choice: only one that the envelope's own
    // conversation already holds makes it a duplicate (or a collision).
    // Offered twice in one pull: kept with the row collected first, or not.
    if (m_rowsOfId.contains(envelope.messageId)) {
        if (const int row = collectedRow(conversationOf(envelope), envelope.messageId); row >= 0) {
            if (m_rows.at(row).content_digest != envelope.ciphertextHash)
                return dropped(envelope, "message id collision");
            InboundVerdict verdict = acknowledgeOnly();
            verdict.messageRow = row;
            return verdict;
        }
    }

    // A stored message, or one deleted while its envelope can still be
    // offered again (a relay replaying it must not bring it back).
    if (const std::optional<QString> digest = storedDigest(envelope)) {
        if (digest->isEmpty() || *digest == envelope.ciphertextHash)
            return acknowledgeOnly();
        return dropped(envelope, "message id collision");
    }

    // An official notice speaks for itself: its own signature says who wrote
    // it, so it is read even in an envelope that failed its check (the notice
    // service may wrap it in one); the once-per-notice memory stops replays.
    if (isOfficialAccountKey(envelope.senderPubkey))
        return asOneItem([&] { return handleOfficial(envelope); });

    if (!envelope.valid) {
        qWarning().noquote() << "[CHAT-INBOUND] not persisted" << envelope.messageId << envelope.rejectReason;
        return dropped(envelope, "invalid envelope");
    }

    // The group engine's own writes (cards, profiles) and the controller's
    // stand or fall together.
    if (envelope.ciphertext.startsWith(QLatin1String(kGroupMessagePrefix))) {
        QList<RawEnvelope> reopened;
        InboundVerdict verdict = asOneItem([&] {
            const GroupInboundResult group = velmor::chat::handleGroupMessage(m_registry, envelope);
            InboundVerdict verdict;
            // Refused for good or set aside (acknowledged either way), or
            // left with the relay when the store failed.
            if (group.error == QLatin1String("store_failed"))
                verdict = stored(false);
            else if (!group.error.isEmpty() || !group.isGroup)
                verdict = group.discard || !group.isGroup ? acknowledgeOnly() : skip();
            else
                verdict = group.hasMessage ? handleGroupMessage(envelope, group) : handleGroupEvent(envelope, group);
            verdict.followUps = group.followUps;
            reopened = group.reopened;
            return verdict;
        });
        // Messages set aside for want of the card this envelope brought,
        // read now as if pulled again (they were acknowledged when set aside).
        for (const RawEnvelope &parked : std::as_const(reopened)) {
            const InboundVerdict read = handle(parked);
            verdict.changed = verdict.changed || read.changed;
            verdict.notices += read.notices;
            verdict.followUps += read.followUps;
        }
        return verdict;
    }

    // Opened and read on the pull's pool thread already (openInPlace), or here.
    const MessageContent content =
        envelope.opened ? envelope.content : readDirect(envelope.ciphertext, envelope.senderPubkey, m_me);
    if (!content.ok)
        return dropped(envelope, "content does not open");
    if (content.type == QLatin1String("group_join_request"))
        return asOneItem([&] { return handleJoinRequest(envelope, content); });
    if (content.type == QLatin1String("bridge.control.ack"))
        return acknowledgeOnly();
    if (content.type == QLatin1String("bridge.translation.patch"))
        return handleTranslation(envelope, content);
    return handleDirect(envelope, content);
}

InboundVerdict InboundProcessor::handleTranslation(const RawEnvelope &envelope, const MessageContent &content)
{
    const QString translation =
        (content.bridgeTranslatedText.isEmpty() ? content.text : content.bridgeTranslatedText).trimmed();
    InboundVerdict verdict = acknowledgeOnly();
    verdict.changed = true;
    // A patch speaks only for its sender: it may annotate a message of the
    // one-to-one conversation with that sender (the bridge translating what
    // was said to it), never one it merely knows the id of, and nothing at
    // all while the sender is blocked.
    const QString conversationId = m_store.conversationIdFor(envelope.senderPubkey);
    if (content.targetClientMessageId.isEmpty() || translation.isEmpty() || conversationId.isEmpty()
        || blocked(envelope.senderPubkey))
        return verdict;
    // A target collected in this same pull is translated before it is
    // written, and the patch is kept only with it.
    if (const int row = collectedRow(conversationId, content.targetClientMessageId); row >= 0) {
        MessageRecord &target = m_rows[row];
        if (translatable(target)) {
            target.text = withTranslation(target.text, translation);
            verdict.translationApplied = true;
            verdict.messageRow = row;
        }
        return verdict;
    }
    bool failed = false;
    verdict.translationApplied =
        applyBridgeTranslation(m_store, conversationId, content.targetClientMessageId, translation, &failed);
    return failed ? stored(false) : verdict;
}

InboundVerdict InboundProcessor::handleOfficial(const RawEnvelope &envelope)
{
    const OfficialNotice notice = m_readNotice(envelope.ciphertext);
    if (!notice.ok)
        return dropped(envelope, "official notice does not verify");
    const QString sender = envelope.senderPubkey;
    const ConversationRecord conversation =
        m_store.ensureDirectConversation(sender, sender, officialAccountName());
    const QString conversationId = m_store.conversationIdFor(sender);
    // A signed notice is valid under any envelope: one replayed under a new
    // id (a captured notice sent again) is acknowledged but shown once. A
    // new notice that happens to repeat an earlier one's words is shown.
    if (m_store.officialNoticeKnown(notice.id))
        return acknowledgeOnly();

    MessageRecord row;
    row.id = envelope.messageId;
    row.conversation_id = conversationId;
    row.peer_raw_public_key = sender;
    row.sender_raw_public_key = sender;
    row.text = notice.text;
    row.content_type = QStringLiteral("official");
    row.status = MessageStatus::Received;
    row.created_at = envelope.createdAt;
    row.content_digest = envelope.ciphertextHash;
    InboundVerdict verdict = stored(!conversation.id.isEmpty() && m_store.upsertMessage(row)
                                    && m_store.rememberOfficialNotice(notice.id, row.id));
    if (verdict.acknowledge)
        verdict.notices.append({InboundNotice::Kind::Message, sender, officialAccountName(), QString(), false});
    return verdict;
}

InboundVerdict InboundProcessor::handleGroupMessage(const RawEnvelope &envelope, const GroupInboundResult &group)
{
    if (blocked(envelope.senderPubkey))
        return acknowledgeOnly();

    const auto card = m_registry.card(group.groupId);
    const QString title = card ? card->name : group.groupId;
    const ConversationRecord conversation = m_store.ensureGroupConversation(group.groupId, title);
    const QString peer = kGroupPrefix + group.groupId;

    MessageRecord row;
    row.id = envelope.messageId;
    row.conversation_id = peer;
    row.peer_raw_public_key = peer;
    row.sender_raw_public_key = envelope.senderPubkey;
    row.sender_address = envelope.senderAddress;
    row.text = group.text;
    row.content_type = group.contentType;
    row.created_at = envelope.createdAt;
    row.content_digest = envelope.ciphertextHash;
    row.is_outgoing = !m_myKey.isEmpty() && envelope.senderPubkey == m_myKey;
    row.status = MessageStatus::Received;
    for (const QJsonObject &profile : m_store.normalGroupMemberProfiles(group.groupId)) {
        if (profile.value(QStringLiteral("memberRawPublicKey")).toString() != envelope.senderPubkey)
            continue;
        row.sender_display_name = profile.value(QStringLiteral("displayName")).toString();
        row.sender_avatar_id = profile.value(QStringLiteral("avatarId")).toString();
        row.sender_avatar_kind = avatarKindOf(row.sender_avatar_id);
        break;
    }
    if (group.contentType == QLatin1String("image") && !group.imageB64.isEmpty())
        row.attachment = payload::imagePayload(group.imageB64, group.imageMime, group.imageWidth, group.imageHeight);
    else if (group.contentType == QLatin1String("voice") && !group.voiceB64.isEmpty())
        row.attachment = payload::voicePayload(group.voiceB64, int(group.durationMs), group.waveform);
    if (group.contentType == QLatin1String("system"))
        row.system_event_type = QStringLiteral("group_member_joined");

    InboundVerdict verdict = conversation.id.isEmpty() ? stored(false) : putMessage(row);
    if (!verdict.acknowledge)
        return verdict;
    if (!row.is_outgoing)
        verdict.notices.append({InboundNotice::Kind::Message, peer, title, QString(), groupMuted(group.groupId)});
    ContactBook::mergePeerProfile(envelope.senderPubkey, envelope.senderAddress, QString(), QString(),
                                  envelope.createdAt);
    return verdict;
}

InboundVerdict InboundProcessor::handleGroupEvent(const RawEnvelope &envelope, const GroupInboundResult &group)
{
    InboundVerdict verdict = acknowledgeOnly();
    verdict.changed = true;
    const auto card = group.groupId.isEmpty() ? std::nullopt : m_registry.card(group.groupId);
    if (!card)
        return verdict;

    const QString peer = kGroupPrefix + group.groupId;
    const bool existed = m_store.conversationByPeer(peer).has_value();
    if (m_store.ensureGroupConversation(group.groupId, card->name).id.isEmpty())
        return stored(false);
    if (existed)
        return verdict;

    // The first card of a group the user was added to.
    m_store.bumpConversationTimestamp(peer, envelope.createdAt);
    NotificationEventRecord event;
    event.stable_id = QStringLiteral("normal_invite:") + envelope.messageId;
    event.event_type = QStringLiteral("normal_invite");
    event.group_id = group.groupId;
    event.requester_public_key = envelope.senderPubkey;
    event.requester_address = envelope.senderAddress;
    event.group_name = card->name;
    event.group_kind = QStringLiteral("normal");
    event.state = QStringLiteral("handled");
    event.created_at = envelope.createdAt;
    event.handled_at = QDateTime::currentSecsSinceEpoch();
    if (!m_store.upsertNotificationEvent(event))
        return stored(false);
    verdict.notices.append({InboundNotice::Kind::Message, peer, card->name, QString(), groupMuted(group.groupId)});
    return verdict;
}

InboundVerdict InboundProcessor::handleJoinRequest(const RawEnvelope &envelope, const MessageContent &content)
{
    const auto card = m_registry.card(content.groupId);
    const QString address = addressOfKey(envelope.senderPubkey);
    const bool valid = content.groupJoinRequesterCanonicalKey == envelope.senderPubkey && !address.isEmpty()
                       && (envelope.senderAddress.isEmpty()
                           || envelope.senderAddress.compare(address, Qt::CaseInsensitive) == 0)
                       && card && card->joinKey() == content.groupJoinKey;
    if (!valid) {
        qWarning().noquote() << "[GROUP-JOIN] rejected invalid request" << envelope.messageId;
        return dropped(envelope, "invalid join request");
    }
    if (m_store.isJoinBlocked(content.groupId, envelope.senderPubkey))
        return acknowledgeOnly();

    const QString key = QStringLiteral("normal:%1:%2").arg(content.groupId, envelope.senderPubkey);
    // Known also when an earlier request of the same pull (or one whose
    // notification is not made yet) is stored: one request, one notice.
    bool known = m_store.notificationEvent(key).has_value();
    for (const PendingGroupJoinRequestRecord &earlier : m_store.pendingGroupJoinRequests())
        known = known || (earlier.group_id == content.groupId
                          && earlier.requester_public_key == envelope.senderPubkey);
    PendingGroupJoinRequestRecord request;
    request.group_id = content.groupId;
    request.join_key = content.groupJoinKey;
    request.requester_public_key = envelope.senderPubkey;
    request.requester_address = address;
    request.display_name = content.groupJoinRequesterDisplayName;
    request.avatar_id = content.groupJoinRequesterAvatarId;
    request.created_at = envelope.createdAt;
    InboundVerdict verdict = stored(m_store.upsertPendingGroupJoinRequest(request));
    if (!verdict.acknowledge)
        return verdict;
    verdict.joinRequestsChanged = true;
    if (!known && !groupMuted(content.groupId)) {
        verdict.notices.append({InboundNotice::Kind::JoinRequest, QStringLiteral("event:") + key,
                                card->name.isEmpty() ? QStringLiteral("Pelorin") : card->name,
                                QStringLiteral("收到新的入群申请"), false});
    }
    return verdict;
}

InboundVerdict InboundProcessor::handleDirect(const RawEnvelope &envelope, const MessageContent &content)
{
    const QString preview = messageTypeName(content);
    if (preview.isEmpty())
        return dropped(envelope, "content of an unknown type");
    const QString sender = envelope.senderPubkey;
    if (blocked(sender))
        return acknowledgeOnly();

    const ConversationRecord conversation = m_store.ensureDirectConversation(sender, sender, shortAddress(sender));
    if (content.hasPeerWalletCard >= 0)
        m_store.setPeerHasMyWalletCard(sender, content.hasPeerWalletCard == 1);
    QString walletAddress;
    if (!content.walletCard.isEmpty() && verifyWalletCard(content.walletCard, sender, &walletAddress))
        m_store.setPeerWalletCard(sender, content.walletCard, walletAddress);

    MessageRecord row;
    row.id = envelope.messageId;
    row.conversation_id = m_store.conversationIdFor(sender);
    row.peer_raw_public_key = sender;
    row.sender_raw_public_key = sender;
    row.sender_address = envelope.senderAddress;
    row.text = preview;
    row.content_type = content.type;
    row.sender_avatar_kind = content.senderAvatarKind;
    row.sender_avatar_id = content.senderAvatarId;
    row.created_at = envelope.createdAt;
    row.status = MessageStatus::Received;
    row.content_digest = envelope.ciphertextHash;

    const QString &type = content.type;
    if (type == QLatin1String("image") && !content.imageB64.isEmpty()) {
        row.attachment =
            payload::imagePayload(content.imageB64, content.imageMime, content.imageWidth, content.imageHeight);
    } else if (type == QLatin1String("voice") && !content.voiceB64.isEmpty()) {
        row.attachment = payload::voicePayload(content.voiceB64, int(content.durationMs), content.voiceWaveform);
    } else if (type == QLatin1String("emoji") && !content.emojiCodes.isEmpty()) {
        row.text = payload::encodePrefixedJson(QLatin1String(payload::kEmojiPrefix),
                                               {{QStringLiteral("codes"), QJsonArray::fromStringList(content.emojiCodes)}});
    } else if (type == QLatin1String("site") && !content.siteUrl.isEmpty()) {
        QJsonObject site{{QStringLiteral("title"), content.siteTitle}, {QStringLiteral("url"), content.siteUrl}};
        if (!content.siteIconUrl.isEmpty())
            site.insert(QStringLiteral("iconUrl"), content.siteIconUrl);
        row.text = payload::encodePrefixedJson(QLatin1String(payload::kSitePrefix), site);
    } else if (type == QLatin1String("transfer") && !content.transferAmountRaw.isEmpty()) {
        row.text = payload::encodePrefixedJson(QLatin1String(payload::kTransferPrefix),
                                               {{QStringLiteral("amountRaw"), content.transferAmountRaw},
                                                {QStringLiteral("symbol"), content.transferSymbol},
                                                {QStringLiteral("txHash"), content.transferTxHash},
                                                {QStringLiteral("explorerUrl"), content.transferExplorerUrl}});
    } else if (type == QLatin1String("text") && !content.bridgeTranslatedText.trimmed().isEmpty()) {
        QJsonObject translation{
            {QStringLiteral("originalText"),
             content.bridgeOriginalText.isEmpty() ? content.text : content.bridgeOriginalText},
            {QStringLiteral("translatedText"), content.bridgeTranslatedText.trimmed()}};
        if (!content.bridgeTranslationDirection.isEmpty())
            translation.insert(QStringLiteral("direction"), content.bridgeTranslationDirection);
        row.text = payload::encodePrefixedJson(
            QLatin1String(payload::kTextMetaPrefix),
            {{QStringLiteral("text"), content.text}, {QStringLiteral("bridgeTranslation"), translation}});
    }

    InboundVerdict verdict = conversation.id.isEmpty() ? stored(false) : putMessage(row);
    if (!verdict.acknowledge)
        return verdict;
    const auto stored = m_store.conversationByPeer(sender);
    verdict.notices.append({InboundNotice::Kind::Message, sender, shortAddress(envelope.senderAddress), QString(),
                            stored && stored->muted});
    ContactBook::mergePeerProfile(sender, envelope.senderAddress, content.senderAvatarKind, content.senderAvatarId,
                                  envelope.createdAt);
    return verdict;
}

bool InboundProcessor::applyBridgeTranslation(ChatStore &store, const QString &conversationId,
                                              const QString &targetMessageId, const QString &translatedText,
                                              bool *writeFailed)
{
    const auto row = store.messageById(conversationId, targetMessageId);
    if (!row || !translatable(*row))
        return false;
    const bool ok = store.updateMessageText(conversationId, targetMessageId, withTranslation(row->text, translatedText));
    if (writeFailed)
        *writeFailed = !ok;
    return ok;
}

} // namespace velmor::chat
