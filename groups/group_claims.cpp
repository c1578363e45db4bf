// What members' messages claim of a newer card, and the card requests and
// answers that settle it (the rules: GroupRegistry in group_card.h).
#include "groups/group_card.h"

#include "identity/crypto.h"

#include <QDateTime>
#include <QMutexLocker>

namespace velmor::chat {

namespace {

// Claims kept per held card: enough to find the lowest one an answer
// disproves, not a list a member could grow without end.
constexpr int kClaimsKept = 32;

} // namespace

void GroupRegistry::setClock(std::function<qint64()> nowSeconds)
{
    QMutexLocker locker(&m_mutex);
    m_clock = std::move(nowSeconds);
}

qint64 GroupRegistry::now() const
{
    return m_clock ? m_clock() : QDateTime::currentSecsSinceEpoch();
}

GroupRegistry::EpochClaims &GroupRegistry::claimsAt(const QString &groupId, qint64 heldEpoch)
{
    EpochClaims &claims = m_claims[groupId];
    if (claims.heldEpoch != heldEpoch) {
        // A card that reaches a disproved claim shows it was true after all.
        const qint64 disproved = claims.disproved > heldEpoch ? claims.disproved : 0;
        EpochClaims fresh;
        fresh.heldEpoch = heldEpoch;
        fresh.disproved = disproved;
        fresh.requestNonce = claims.requestNonce; // an answer may still come
        fresh.resent = std::move(claims.resent);
        fresh.answeredFor = std::move(claims.answeredFor);
        claims = std::move(fresh);
    }
    return claims;
}

GroupRegistry::ClaimOutcome GroupRegistry::noteClaimedEpoch(const QString &groupId, qint64 epoch, bool proven)
{
    QMutexLocker locker(&m_mutex);
    ClaimOutcome outcome;
    const auto entry = m_entries.constFind(groupId);
    if (entry == m_entries.constEnd() || epoch <= entry->card.epoch)
        return outcome;
    EpochClaims &claims = claimsAt(groupId, entry->card.epoch);
    const qint64 at = now();
    if (proven) {
        claims.provenClaim = qMax(claims.provenClaim, epoch);
        // The card the owner's answer brought was not its last after all:
        // the epochs up to the proven one are real.
        if (claims.disproved > 0 && claims.disproved <= epoch)
            claims.disproved = 0;
    } else {
        if (claims.disproved > 0 && epoch >= claims.disproved) {
            outcome.disproved = true;
            return outcome;
        }
        if (claims.claims.size() < kClaimsKept)
            claims.claims.insert(epoch);
        if (claims.waitingSince == 0)
            claims.waitingSince = at;
    }
    if (claims.requestedAt == 0 || at - claims.requestedAt >= kCardRequestIntervalSeconds) {
        claims.requestNonce = QString::fromLatin1(velmor::crypto::randomBytes(16).toHex());
        claims.requestedAt = at;
        outcome.requestNonce = claims.requestNonce;
    }
    return outcome;
}

bool GroupRegistry::isCardOutdated(const QString &groupId) const
{
    QMutexLocker locker(&m_mutex);
    const auto entry = m_entries.constFind(groupId);
    const auto claims = m_claims.constFind(groupId);
    if (entry == m_entries.constEnd() || claims == m_claims.constEnd() || claims->heldEpoch != entry->card.epoch)
        return false;
    if (claims->provenClaim > entry->card.epoch)
        return true;
    return !claims->claims.isEmpty() && now() - claims->waitingSince < kClaimWaitSeconds;
}

qint64 GroupRegistry::provenEpoch(const QString &groupId) const
{
    QMutexLocker locker(&m_mutex);
    const auto entry = m_entries.constFind(groupId);
    if (entry == m_entries.constEnd())
        return 0;
    const auto claims = m_claims.constFind(groupId);
    const bool current = claims != m_claims.constEnd() && claims->heldEpoch == entry->card.epoch;
    return current ? qMax(entry->card.epoch, claims->provenClaim) : entry->card.epoch;
}

bool GroupRegistry::isAwaitedAnswer(const QString &groupId, const QString &nonce) const
{
    QMutexLocker locker(&m_mutex);
    const auto claims = m_claims.constFind(groupId);
    return !nonce.isEmpty() && claims != m_claims.constEnd() && claims->requestNonce == nonce;
}

void GroupRegistry::settleByAnswer(const QString &groupId, const QString &nonce, qint64 cardEpoch)
{
    QMutexLocker locker(&m_mutex);
    const auto entry = m_entries.constFind(groupId);
    if (entry == m_entries.constEnd() || nonce.isEmpty() || m_claims.value(groupId).requestNonce != nonce)
        return;
    EpochClaims &claims = claimsAt(groupId, entry->card.epoch);
    claims.requestNonce.clear();
    // Every unproven claim above the card the owner holds now was untrue;
    // proven ones are not questioned (a later card may still be on the way).
    for (const qint64 claim : std::as_const(claims.claims))
        if (claim > cardEpoch && claim > claims.provenClaim && (claims.disproved == 0 || claim < claims.disproved))
            claims.disproved = claim;
    claims.claims.clear();
}

void GroupRegistry::releaseCardRequest(const QString &groupId, const QString &nonce)
{
    QMutexLocker locker(&m_mutex);
    const auto claims = m_claims.find(groupId);
    if (claims != m_claims.end() && claims->requestNonce == nonce) {
        claims->requestNonce.clear();
        claims->requestedAt = 0;
    }
}

bool GroupRegistry::takeCardAnswer(const QString &groupId, const QString &member, qint64 epoch)
{
    QMutexLocker locker(&m_mutex);
    qint64 &answered = m_claims[groupId].answeredFor[member];
    if (answered == epoch)
        return false;
    answered = epoch;
    return true;
}

void GroupRegistry::releaseCardAnswer(const QString &groupId, const QString &member)
{
    QMutexLocker locker(&m_mutex);
    m_claims[groupId].answeredFor.remove(member);
}

bool GroupRegistry::takeCardResend(const QString &groupId, const QString &member, qint64 epoch, qint64 now)
{
    QMutexLocker locker(&m_mutex);
    EpochClaims::Resent &last = m_claims[groupId].resent[member];
    if (last.epoch == epoch && now - last.at < kCardResendIntervalSeconds)
        return false;
    last = {epoch, now};
    return true;
}

void GroupRegistry::releaseCardResend(const QString &groupId, const QString &member)
{
    QMutexLocker locker(&m_mutex);
    m_claims[groupId].resent.remove(member);
}

} // namespace velmor::chat
