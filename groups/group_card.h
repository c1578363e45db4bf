// The signed card of a normal group and the process-wide registry of the
// groups that the signed-in user belongs to (or belonged to).
#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <optional>

namespace velmor::chat {

// Additions stop at this size; a group created larger keeps its size.
constexpr int kMaxGroupMembers = 20;
// Group keys of older key epochs kept to read messages that were sealed just
// before a re-key reached the sender.
constexpr int kGroupKeyRingSize = 8;

struct GroupMemberProfile
{
    QString memberRawPublicKey;
    QString displayName;
    QString avatarId;
    qint64 updatedAt = 0; // seconds

    QJsonObject toJson() const;
    static GroupMemberProfile fromJson(const QJsonObject &object);
};

struct GroupCard
{
    QString groupId;
    QString name;
    QString remark;            // empty: the card carries none
    QString avatarId;
    QString ownerRawPublicKey; // base64url 65-byte secp256k1 key
    QString adminPublicKey;    // base64url 32-byte Ed25519 key; also the join key
    QString adminProof;        // owner's ECDSA signature vouching for the admin key
    QStringList memberPublicKeys;      // sorted, owner included
    QList<GroupMemberProfile> members; // one per member key, same order
    qint64 epoch = 0;          // rises with every change of the card
    qint64 keyEpoch = 0;       // the epoch at which the current group key was drawn
    QMap<QString, QString> groupKeyBoxes; // member key -> sealed group key
    qint64 createdAt = 0;
    qint64 updatedAt = 0;

    // Set once the card has been signed or read from signed text.
    QByteArray cardJson; // the canonical text the signature covers
    QString signature;   // base64url Ed25519 signature over cardJson

    QString joinKey() const { return adminPublicKey; }
    bool hasMember(const QString &canonicalKey) const { return memberPublicKeys.contains(canonicalKey); }

    QJsonObject toJson() const; // the card object (without signature)
    // Reads a card object; nullopt when a required member is missing or mistyped.
    static std::optional<GroupCard> fromJson(const QJsonObject &object);
};

// The text that the owner's identity key signs to vouch for the admin key.
QByteArray adminProofMessage(const QString &groupId, const QString &adminPublicKey);

// Canonical text of the card, the Ed25519 signature with the admin seed, and
// both stored in the card. False when the card cannot be made canonical or
// the seed does not sign.
bool signGroupCard(GroupCard &card, const QByteArray &adminSeed32);
// Checks that `cardText` is canonical, parses it and verifies the signature
// under the card's own admin key and the owner's proof of that key.
// nullopt on any failure.
std::optional<GroupCard> verifyGroupCard(const QByteArray &cardText, const QString &signature);
// The check behind every text the group's admin key signs (the card, the
// registry record): `signature` is the admin key's Ed25519 signature over
// `text`, and the owner, named by its canonical key, vouches for that admin
// key in this group.
bool isSignedByGroupAdmin(const QByteArray &text, const QString &signature, const QString &groupId,
                          const QString &adminPublicKey, const QString &ownerPublicKey,
                          const QString &adminProof);

// The canonical (65-byte, base64url) text of a secp256k1 key text; empty when
// it does not decode to a point.
QString canonicalMemberKey(const QString &keyText);

class GroupRegistry
{
public:
    // The process-wide registry; lives until exit.
    static GroupRegistry &instance();

    GroupRegistry() = default;
    GroupRegistry(const GroupRegistry &) = delete;
    GroupRegistry &operator=(const GroupRegistry &) = delete;

    // When the store is open: clears the registry and loads every stored card
    // again (cards whose signature no longer verifies are left out).
    void reloadFromStore();
    void clear();

    QStringList groupIds() const;
    std::optional<GroupCard> card(const QString &groupId) const;
    // The sealed group keys of the user by key epoch (the user's own boxes).
    QMap<qint64, QString> keyRing(const QString &groupId) const;
    bool contains(const QString &groupId) const;

    // Replaces the card only when it is newer (higher epoch) than the held
    // one; adds the user's own box for the card's key epoch to the ring.
    // False when refused as not newer.
    bool install(const GroupCard &card, const QString &myCanonicalKey);
    void remove(const QString &groupId);

    // Writes a card and ring to the store (no-op when the store is closed).
    static bool persist(const GroupCard &card, const QMap<qint64, QString> &ring);

private:
    mutable QMutex m_mutex;
    struct Entry
    {
        GroupCard card;
        QMap<qint64, QString> ring;
    };
    QHash<QString, Entry> m_entries;
};

} // namespace velmor::chat
