// The signed card of a normal group and the process-wide registry of the
// groups that the signed-in user belongs to (or belonged to).
#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace velmor::chat {

// Creation and additions stop at this size, the owner included; a card
// received from a peer that lists more is read as it is.
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
    QString groupId;           // deriveGroupId(ownerRawPublicKey, idNonce)
    QString idNonce;           // 32 lower-case hex digits drawn at creation
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
    // The owner's stamp of this card (cardStampText), which members' messages
    // under it carry to prove its epoch; empty for a card that came without
    // a valid one (from an older owner).
    QString stamp;

    QString joinKey() const { return adminPublicKey; }
    bool hasMember(const QString &canonicalKey) const { return memberPublicKeys.contains(canonicalKey); }

    QJsonObject toJson() const; // the card object (without signature)
    // Reads a card object; nullopt when a required member is missing or mistyped.
    static std::optional<GroupCard> fromJson(const QJsonObject &object);
};

// The text that the owner's identity key signs to vouch for the admin key.
QByteArray adminProofMessage(const QString &groupId, const QString &adminPublicKey);

// A group's id is bound to its owner: 32 lower-case hex digits of the first
// 16 bytes of SHA-256("velmor.group.id.v1|" + the owner's canonical key text
// + "|" + the nonce). Every card and registry record is checked against it,
// so nobody but the owner can make a card for the id (and lock an invitee
// out of the real group by planting one first). Empty for a nonce that is
// not 32 lower-case hex digits or an owner that is not a canonical key.
QString deriveGroupId(const QString &ownerCanonicalKey, const QString &idNonce);

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

// A card's stamp: the admin key's Ed25519 signature (base64url) over
// "velmor_group_stamp_v1|<group id>|<epoch>|<digest>", where the digest is
// the lower-case hex SHA-256 of the card's canonical text. It is small and
// checks without the card, so a message can carry it: anyone holding a card
// of the group can tell that the owner made a card of that epoch, and no
// member can make one.
QString groupCardDigest(const QByteArray &cardText);
QByteArray cardStampText(const QString &groupId, qint64 epoch, const QString &cardDigest);
// Empty when the seed does not sign.
QString stampGroupCard(const GroupCard &card, const QByteArray &adminSeed32);
bool isValidCardStamp(const QString &groupId, qint64 epoch, const QString &cardDigest, const QString &stamp,
                      const QString &adminPublicKey);

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
    // The group key of `keyEpoch`, opened from the box of the user whose
    // secret is `privateKey` (public key text `me`); empty when there is
    // none or it does not open. Opening costs an ECDH, and every send and
    // every message read needs the key: it is opened once and kept until
    // the group's ring changes (or the registry is cleared or reloaded).
    QByteArray groupKey(const QString &groupId, qint64 keyEpoch, const QString &me,
                        const QByteArray &privateKey) const;
    bool contains(const QString &groupId) const;

    // Replaces the card only when it is newer (higher epoch) than the held
    // one; adds the user's own box for the card's key epoch to the ring.
    // False when refused: *error is "stale_group_card" (not newer) or
    // "store_failed" (the store is open and could not keep it).
    bool install(const GroupCard &card, const QString &myCanonicalKey, QString *error = nullptr);
    void remove(const QString &groupId);

    // Card epochs that members' messages claim (the epoch is sealed with
    // the group key). A member whose card is older than a claim asks the
    // owner for the current card and takes no message of the group while
    // it waits, so a relay that withholds a re-key card cannot keep a
    // removed member in the conversation. A proven claim (the owner's own
    // message, or one carrying the owner's stamp of a card of that epoch)
    // holds the group until a card of that epoch reaches it: withholding
    // cards then denies service but never reopens the old key. Unproven
    // claims (other members' messages without a stamp: older clients, or
    // liars) hold it at most kClaimWaitSeconds per held card, counted from
    // the first of them. Only the owner's answer to the request (its nonce
    // sealed inside) settles the unproven claims: those above the card it
    // brings are disproved, and messages making them are set aside until a
    // card of their epoch arrives. A proof of an epoch lifts the disproof of
    // the epochs up to it. The owner is asked at most once per
    // kCardRequestIntervalSeconds and held card. The state is kept in
    // memory only and starts afresh when the held card changes.
    static constexpr qint64 kClaimWaitSeconds = 60;
    static constexpr qint64 kCardRequestIntervalSeconds = 300;
    struct ClaimOutcome
    {
        bool disproved = false; // the owner's answer showed it untrue: set the message aside
        QString requestNonce;   // non-empty: ask the owner now, with this nonce
    };
    ClaimOutcome noteClaimedEpoch(const QString &groupId, qint64 epoch, bool proven);
    // True while a claim above the held card holds the group up.
    bool isCardOutdated(const QString &groupId) const;
    // The newest card epoch the owner is known to have made: the held
    // card's, or a higher one a proven claim showed; 0 for a group not held.
    qint64 provenEpoch(const QString &groupId) const;
    // True when `nonce` is the one of the card request last sent.
    bool isAwaitedAnswer(const QString &groupId, const QString &nonce) const;
    // The owner's answer to that request brought a card of `cardEpoch`
    // (already installed when newer): claims above it are disproved.
    void settleByAnswer(const QString &groupId, const QString &nonce, qint64 cardEpoch);
    void releaseCardRequest(const QString &groupId, const QString &nonce); // the request did not leave
    // Owner: true when `member` may be answered with the card of `epoch`:
    // once per member and card.
    bool takeCardAnswer(const QString &groupId, const QString &member, qint64 epoch);
    void releaseCardAnswer(const QString &groupId, const QString &member); // the answer did not leave
    // True when the current card (of `epoch`) may be sent to `member`, a
    // current member still writing under an older one: once per member and
    // epoch, and again only after kCardResendIntervalSeconds, so a member
    // who keeps posting (or a relay offering its posts again) causes a
    // trickle of cards, not a flood.
    static constexpr qint64 kCardResendIntervalSeconds = 600;
    bool takeCardResend(const QString &groupId, const QString &member, qint64 epoch, qint64 now);
    void releaseCardResend(const QString &groupId, const QString &member); // the card did not leave
    // The clock of the waits (seconds; the wall clock by default).
    void setClock(std::function<qint64()> nowSeconds);

    // Writes a card and ring to the store (no-op when the store is closed).
    static bool persist(const GroupCard &card, const QMap<qint64, QString> &ring);

private:
    struct EpochClaims
    {
        qint64 heldEpoch = 0;     // the held card the claims below are about
        qint64 provenClaim = 0;   // the highest epoch shown by the owner or its stamp
        QSet<qint64> claims;      // members' claims above the held card (a few kept)
        qint64 waitingSince = 0;  // first member claim at this card; 0: none yet
        qint64 disproved = 0;     // 0, or the lowest claim the owner's answer disproved
        QString requestNonce;     // of the card request last sent
        qint64 requestedAt = 0;   // when it left (at this card); 0: not yet
        struct Resent
        {
            qint64 epoch = 0;
            qint64 at = 0;
        };
        QHash<QString, Resent> resent;      // by member
        QHash<QString, qint64> answeredFor; // owner: card epoch answered, by member
    };
    // The claims of the group, started afresh when the held card changed.
    EpochClaims &claimsAt(const QString &groupId, qint64 heldEpoch);
    qint64 now() const;
    std::function<qint64()> m_clock;
    QHash<QString, EpochClaims> m_claims;
    mutable QMutex m_mutex;
    struct Entry
    {
        GroupCard card;
        QMap<qint64, QString> ring;
    };
    QHash<QString, Entry> m_entries;
    // Keys opened from the ring, by group and key epoch, for one user; gone
    // (overwritten) whenever a ring changes. m_changes counts those changes,
    // so that a key opened meanwhile from a replaced box is not kept.
    struct OpenedKeys
    {
        QString user;
        QHash<qint64, QByteArray> keys;
        void wipe(); // every key overwritten, then none held
    };
    mutable QHash<QString, OpenedKeys> m_opened;
    quint64 m_changes = 0;
    void forgetOpened(const QString &groupId);
    void forgetAllOpened();
};

} // namespace velmor::chat
