#include "groups/group_card.h"

#include "groups/canonical_json.h"
#include "identity/crypto.h"
#include "identity/service_login.h"
#include "store/chat_store.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSet>

namespace velmor::chat {

using velmor::crypto::base64UrlDecode;
using velmor::crypto::base64UrlEncode;

namespace {

const QString kCardType = QStringLiteral("velmor_group_card");

bool readString(const QJsonObject &object, const char *key, QString *out, bool required = true)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() && !required) {
        out->clear();
        return true;
    }
    if (!value.isString())
        return false;
    *out = value.toString();
    return true;
}

bool readInteger(const QJsonObject &object, const char *key, qint64 *out)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble())
        return false;
    const double number = value.toDouble();
    if (number < 0 || number > double(kCanonicalMaxInteger) || qint64(number) != number)
        return false;
    *out = qint64(number);
    return true;
}

} // namespace

QJsonObject GroupMemberProfile::toJson() const
{
    return QJsonObject{
        {QStringLiteral("memberRawPublicKey"), memberRawPublicKey},
        {QStringLiteral("displayName"), displayName},
        {QStringLiteral("avatarId"), avatarId},
        {QStringLiteral("updatedAt"), double(updatedAt)},
    };
}

GroupMemberProfile GroupMemberProfile::fromJson(const QJsonObject &object)
{
    GroupMemberProfile profile;
    profile.memberRawPublicKey = object.value(QStringLiteral("memberRawPublicKey")).toString();
    profile.displayName = object.value(QStringLiteral("displayName")).toString();
    profile.avatarId = object.value(QStringLiteral("avatarId")).toString();
    // Stored profiles may carry the time as a fractional number or a text.
    const QJsonValue updated = object.value(QStringLiteral("updatedAt"));
    const double seconds = updated.isDouble() ? updated.toDouble()
                           : updated.isString() ? updated.toString().toDouble() : 0.0;
    // Out-of-range times (and NaN) read as 0 rather than overflow.
    profile.updatedAt = seconds >= 0 && seconds <= double(kCanonicalMaxInteger) ? qint64(seconds) : 0;
    return profile;
}

QJsonObject GroupCard::toJson() const
{
    QJsonArray keys;
    for (const QString &key : memberPublicKeys)
        keys.append(key);
    QJsonArray profiles;
    for (const GroupMemberProfile &profile : members)
        profiles.append(profile.toJson());
    QJsonObject boxes;
    for (auto it = groupKeyBoxes.begin(); it != groupKeyBoxes.end(); ++it)
        boxes.insert(it.key(), it.value());
    QJsonObject object{
        {QStringLiteral("v"), 1},
        {QStringLiteral("type"), kCardType},
        {QStringLiteral("groupId"), groupId},
        {QStringLiteral("idNonce"), idNonce},
        {QStringLiteral("name"), name},
        {QStringLiteral("avatarId"), avatarId},
        {QStringLiteral("ownerRawPublicKey"), ownerRawPublicKey},
        {QStringLiteral("adminPublicKey"), adminPublicKey},
        {QStringLiteral("adminProof"), adminProof},
        {QStringLiteral("memberPublicKeys"), keys},
        {QStringLiteral("members"), profiles},
        {QStringLiteral("epoch"), double(epoch)},
        {QStringLiteral("keyEpoch"), double(keyEpoch)},
        {QStringLiteral("groupKeyBoxes"), boxes},
        {QStringLiteral("createdAt"), double(createdAt)},
        {QStringLiteral("updatedAt"), double(updatedAt)},
    };
    if (!remark.isEmpty())
        object.insert(QStringLiteral("remark"), remark);
    return object;
}

std::optional<GroupCard> GroupCard::fromJson(const QJsonObject &object)
{
    GroupCard card;
    qint64 version = 0;
    QString type;
    if (!readInteger(object, "v", &version) || version != 1 || !readString(object, "type", &type)
        || type != kCardType)
        return std::nullopt;
    if (!readString(object, "groupId", &card.groupId) || !readString(object, "idNonce", &card.idNonce)
        || !readString(object, "name", &card.name)
        || !readString(object, "remark", &card.remark, false)
        || !readString(object, "avatarId", &card.avatarId)
        || !readString(object, "ownerRawPublicKey", &card.ownerRawPublicKey)
        || !readString(object, "adminPublicKey", &card.adminPublicKey)
        || !readString(object, "adminProof", &card.adminProof)
        || !readInteger(object, "epoch", &card.epoch)
        || !readInteger(object, "keyEpoch", &card.keyEpoch)
        || !readInteger(object, "createdAt", &card.createdAt)
        || !readInteger(object, "updatedAt", &card.updatedAt))
        return std::nullopt;
    if (card.groupId.isEmpty() || card.epoch < 1 || card.keyEpoch < 1 || card.keyEpoch > card.epoch)
        return std::nullopt;
    const QJsonValue keys = object.value(QStringLiteral("memberPublicKeys"));
    const QJsonValue profiles = object.value(QStringLiteral("members"));
    const QJsonValue boxes = object.value(QStringLiteral("groupKeyBoxes"));
    if (!keys.isArray() || !profiles.isArray() || !boxes.isObject())
        return std::nullopt;
    // The card is read before its signature is checked, from whoever sent
    // it: duplicates are found through a set, since a list search per key
    // would let a card with many keys hold the reader for minutes.
    const QJsonArray keyArray = keys.toArray();
    QSet<QString> seen;
    seen.reserve(keyArray.size());
    card.memberPublicKeys.reserve(keyArray.size());
    for (const QJsonValue &key : keyArray) {
        const QString text = key.toString();
        if (!key.isString() || text.isEmpty() || seen.contains(text))
            return std::nullopt;
        seen.insert(text);
        card.memberPublicKeys.append(text);
    }
    // No size limit here: a group may be created larger than additions
    // allow, and its card must still read back for every member.
    if (!card.memberPublicKeys.contains(card.ownerRawPublicKey))
        return std::nullopt;
    for (const QJsonValue &profile : profiles.toArray()) {
        if (!profile.isObject())
            return std::nullopt;
        card.members.append(GroupMemberProfile::fromJson(profile.toObject()));
    }
    const QJsonObject boxObject = boxes.toObject();
    for (auto it = boxObject.begin(); it != boxObject.end(); ++it) {
        if (!it.value().isString())
            return std::nullopt;
        card.groupKeyBoxes.insert(it.key(), it.value().toString());
    }
    return card;
}

QString deriveGroupId(const QString &ownerCanonicalKey, const QString &idNonce)
{
    static const QRegularExpression hex32(QStringLiteral("^[0-9a-f]{32}$"));
    if (!hex32.match(idNonce).hasMatch() || ownerCanonicalKey.isEmpty()
        || canonicalMemberKey(ownerCanonicalKey) != ownerCanonicalKey)
        return QString();
    const QByteArray digest = velmor::crypto::sha256(QByteArrayLiteral("velmor.group.id.v1|")
                                                     + ownerCanonicalKey.toUtf8() + '|' + idNonce.toUtf8());
    return QString::fromLatin1(digest.left(16).toHex());
}

QByteArray adminProofMessage(const QString &groupId, const QString &adminPublicKey)
{
    return QByteArray(velmor::identity::kGroupAdminSigningTag) + groupId.toUtf8() + '|'
        + adminPublicKey.toUtf8();
}

bool signGroupCard(GroupCard &card, const QByteArray &adminSeed32)
{
    const QByteArray text = canonicalJson(card.toJson());
    if (text.isEmpty())
        return false;
    const QByteArray signature = velmor::crypto::ed25519Sign(adminSeed32, text);
    if (signature.size() != 64)
        return false;
    card.cardJson = text;
    card.signature = base64UrlEncode(signature);
    return true;
}

std::optional<GroupCard> verifyGroupCard(const QByteArray &cardText, const QString &signature)
{
    // Only the canonical text is accepted, so one card has exactly one
    // signed form and a re-ordered copy is not a "different" card.
    if (!isCanonicalJson(cardText))
        return std::nullopt;
    std::optional<GroupCard> card = GroupCard::fromJson(parseJsonObject(cardText));
    if (!card || deriveGroupId(card->ownerRawPublicKey, card->idNonce) != card->groupId)
        return std::nullopt;
    if (!isSignedByGroupAdmin(cardText, signature, card->groupId, card->adminPublicKey,
                              card->ownerRawPublicKey, card->adminProof))
        return std::nullopt;
    card->cardJson = cardText;
    card->signature = signature;
    return card;
}

QString groupCardDigest(const QByteArray &cardText)
{
    return velmor::crypto::sha256Hex(cardText);
}

QByteArray cardStampText(const QString &groupId, qint64 epoch, const QString &cardDigest)
{
    return QByteArrayLiteral("velmor_group_stamp_v1|") + groupId.toUtf8() + '|' + QByteArray::number(epoch) + '|'
        + cardDigest.toUtf8();
}

QString stampGroupCard(const GroupCard &card, const QByteArray &adminSeed32)
{
    const QByteArray signature = velmor::crypto::ed25519Sign(
        adminSeed32, cardStampText(card.groupId, card.epoch, groupCardDigest(card.cardJson)));
    return signature.size() == 64 ? base64UrlEncode(signature) : QString();
}

bool isValidCardStamp(const QString &groupId, qint64 epoch, const QString &cardDigest, const QString &stamp,
                      const QString &adminPublicKey)
{
    static const QRegularExpression digestForm(QStringLiteral("^[0-9a-f]{64}$"));
    const QByteArray adminKey = base64UrlDecode(adminPublicKey);
    const QByteArray signature = base64UrlDecode(stamp);
    return epoch >= 1 && digestForm.match(cardDigest).hasMatch() && adminKey.size() == 32 && signature.size() == 64
        && velmor::crypto::ed25519Verify(adminKey, cardStampText(groupId, epoch, cardDigest), signature);
}

bool isSignedByGroupAdmin(const QByteArray &text, const QString &signature, const QString &groupId,
                          const QString &adminPublicKey, const QString &ownerPublicKey,
                          const QString &adminProof)
{
    const QByteArray adminKey = base64UrlDecode(adminPublicKey);
    const QByteArray signatureBytes = base64UrlDecode(signature);
    if (adminKey.size() != 32 || signatureBytes.size() != 64
        || !velmor::crypto::ed25519Verify(adminKey, text, signatureBytes))
        return false;
    return canonicalMemberKey(ownerPublicKey) == ownerPublicKey
        && velmor::crypto::verifyMessage(base64UrlDecode(ownerPublicKey),
                                         adminProofMessage(groupId, adminPublicKey),
                                         base64UrlDecode(adminProof));
}

QString canonicalMemberKey(const QString &keyText)
{
    const QByteArray bytes = base64UrlDecode(keyText.trimmed());
    if (bytes.size() != 33 && bytes.size() != 65)
        return QString();
    const QByteArray point = velmor::crypto::normalisePublicKey(bytes, false);
    return point.size() == 65 ? base64UrlEncode(point) : QString();
}

// ---- registry ---------------------------------------------------------------

GroupRegistry &GroupRegistry::instance()
{
    static GroupRegistry registry;
    return registry;
}

void GroupRegistry::reloadFromStore()
{
    ChatStore &store = ChatStore::instance();
    if (!store.isOpen())
        return;
    const QList<NormalGroupCardRecord> records = store.normalGroupCards();
    QHash<QString, Entry> loaded;
    for (const NormalGroupCardRecord &record : records) {
        std::optional<GroupCard> card = verifyGroupCard(record.card_json.toUtf8(), record.signature);
        if (!card || card->groupId != record.group_id) {
            qWarning().noquote() << "[GROUPKEY] stored card does not verify, skipped" << record.group_id;
            continue;
        }
        Entry entry;
        entry.card = *card;
        if (isValidCardStamp(card->groupId, card->epoch, groupCardDigest(card->cardJson), record.card_stamp,
                             card->adminPublicKey))
            entry.card.stamp = record.card_stamp;
        const QJsonObject ring = parseJsonObject(record.group_key_boxes_json.toUtf8());
        for (auto it = ring.begin(); it != ring.end(); ++it) {
            bool ok = false;
            const qint64 keyEpoch = it.key().toLongLong(&ok);
            if (ok && it.value().isString())
                entry.ring.insert(keyEpoch, it.value().toString());
        }
        loaded.insert(card->groupId, entry);
    }
    QMutexLocker locker(&m_mutex);
    m_entries = loaded;
    forgetAllOpened();
}

void GroupRegistry::clear()
{
    QMutexLocker locker(&m_mutex);
    m_entries.clear();
    m_claims.clear();
    forgetAllOpened();
}

void GroupRegistry::OpenedKeys::wipe()
{
    for (QByteArray &key : keys)
        velmor::crypto::wipeSecret(key);
    keys.clear();
}

// Under m_mutex.
void GroupRegistry::forgetOpened(const QString &groupId)
{
    const auto opened = m_opened.find(groupId);
    if (opened == m_opened.end())
        return;
    opened->wipe();
    m_opened.erase(opened);
}

void GroupRegistry::forgetAllOpened()
{
    for (OpenedKeys &opened : m_opened)
        opened.wipe();
    m_opened.clear();
    ++m_changes;
}

QStringList GroupRegistry::groupIds() const
{
    QMutexLocker locker(&m_mutex);
    QStringList ids = m_entries.keys();
    ids.sort();
    return ids;
}

std::optional<GroupCard> GroupRegistry::card(const QString &groupId) const
{
    QMutexLocker locker(&m_mutex);
    const auto it = m_entries.constFind(groupId);
    if (it == m_entries.constEnd())
        return std::nullopt;
    return it->card;
}

QMap<qint64, QString> GroupRegistry::keyRing(const QString &groupId) const
{
    QMutexLocker locker(&m_mutex);
    return m_entries.value(groupId).ring;
}

QByteArray GroupRegistry::groupKey(const QString &groupId, qint64 keyEpoch, const QString &me,
                                   const QByteArray &privateKey) const
{
    QString box;
    quint64 changes = 0;
    {
        QMutexLocker locker(&m_mutex);
        const auto opened = m_opened.constFind(groupId);
        if (opened != m_opened.cend() && opened->user == me) {
            const auto key = opened->keys.constFind(keyEpoch);
            if (key != opened->keys.cend())
                return *key;
        }
        const auto entry = m_entries.constFind(groupId);
        if (entry == m_entries.cend())
            return QByteArray();
        box = entry->ring.value(keyEpoch);
        changes = m_changes;
    }
    if (box.isEmpty() || me.isEmpty())
        return QByteArray();
    // Opened without the lock: readers of other groups do not wait for it.
    QByteArray key = velmor::crypto::Ecies::open(box, privateKey);
    if (key.size() != 32) {
        velmor::crypto::wipeSecret(key);
        return QByteArray();
    }
    QMutexLocker locker(&m_mutex);
    if (changes == m_changes) {
        OpenedKeys &opened = m_opened[groupId];
        if (opened.user != me) {
            opened.wipe();
            opened.user = me;
        }
        opened.keys.insert(keyEpoch, key);
    }
    return key;
}

bool GroupRegistry::contains(const QString &groupId) const
{
    QMutexLocker locker(&m_mutex);
    return m_entries.contains(groupId);
}

bool GroupRegistry::install(const GroupCard &card, const QString &myCanonicalKey, QString *error)
{
    QMutexLocker locker(&m_mutex);
    const auto held = m_entries.constFind(card.groupId);
    if (held != m_entries.constEnd() && !held->card.groupId.isEmpty() && card.epoch <= held->card.epoch) {
        if (error)
            *error = QStringLiteral("stale_group_card");
        return false;
    }
    QMap<qint64, QString> ring = held != m_entries.constEnd() ? held->ring : QMap<qint64, QString>();
    const QString myBox = card.groupKeyBoxes.value(myCanonicalKey);
    if (!myBox.isEmpty())
        ring.insert(card.keyEpoch, myBox);
    while (ring.size() > kGroupKeyRingSize)
        ring.erase(ring.begin());
    // A card taken only in memory would be gone after a restart while the
    // message that brought it is already acknowledged; refusing it instead
    // leaves the message with the relay, which offers it again.
    if (ChatStore::instance().isOpen() && !persist(card, ring)) {
        if (error)
            *error = QStringLiteral("store_failed");
        return false;
    }
    Entry &entry = m_entries[card.groupId];
    entry.card = card;
    if (entry.ring != ring) {
        forgetOpened(card.groupId);
        ++m_changes;
    }
    entry.ring = ring;
    return true;
}

void GroupRegistry::remove(const QString &groupId)
{
    QMutexLocker locker(&m_mutex);
    m_entries.remove(groupId);
    m_claims.remove(groupId);
    forgetOpened(groupId);
    ++m_changes;
}

bool GroupRegistry::persist(const GroupCard &card, const QMap<qint64, QString> &ring)
{
    ChatStore &store = ChatStore::instance();
    if (!store.isOpen())
        return false;
    QJsonObject ringObject;
    for (auto it = ring.begin(); it != ring.end(); ++it)
        ringObject.insert(QString::number(it.key()), it.value());
    QJsonArray profiles;
    for (const GroupMemberProfile &profile : card.members)
        profiles.append(profile.toJson());
    NormalGroupCardRecord record;
    record.group_id = card.groupId;
    record.card_json = QString::fromUtf8(card.cardJson);
    record.signature = card.signature;
    record.epoch = card.epoch;
    record.group_key_boxes_json = QString::fromUtf8(QJsonDocument(ringObject).toJson(QJsonDocument::Compact));
    record.members_json = QString::fromUtf8(QJsonDocument(profiles).toJson(QJsonDocument::Compact));
    record.name = card.name;
    record.avatar_id = card.avatarId;
    record.updated_at = card.updatedAt;
    record.card_stamp = card.stamp;
    const bool ok = store.upsertNormalGroupCard(record);
    if (!ok)
        qWarning().noquote() << "[GROUPKEY] could not store the card of" << card.groupId;
    return ok;
}

} // namespace velmor::chat
