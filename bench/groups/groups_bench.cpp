// Reading group cards and canonical JSON: both run on every inbound group
// message, and cards are read before their signature is checked, so their
// cost must stay linear in the size of what a stranger can send.
#include "groups/canonical_json.h"
#include "groups/group_card.h"
#include "groups/group_engine.h"
#include "identity/crypto.h"
#include "identity/identity.h"

#include <QJsonArray>
#include <QJsonObject>

#include <benchmark/benchmark.h>

using velmor::chat::GroupCard;

namespace {

QJsonObject cardWithKeys(int count)
{
    const velmor::identity::Identity owner(QByteArray(32, '\x11'));
    QJsonArray keys;
    for (int i = 0; i < count; ++i)
        keys.append(QStringLiteral("k%1").arg(i));
    keys.append(owner.publicKeyText());
    GroupCard card;
    card.idNonce = QStringLiteral("0123456789abcdef0123456789abcdef");
    card.groupId = velmor::chat::deriveGroupId(owner.publicKeyText(), card.idNonce);
    card.name = QStringLiteral("bench");
    card.avatarId = QStringLiteral("defaultgroupphoto");
    card.ownerRawPublicKey = owner.publicKeyText();
    const velmor::crypto::Ed25519KeyPair admin =
        velmor::chat::deriveGroupAdminKey(owner.privateKey, card.groupId);
    card.adminPublicKey = velmor::crypto::base64UrlEncode(admin.publicKey);
    card.adminProof = velmor::crypto::base64UrlEncode(velmor::crypto::signMessage(
        owner.privateKey, velmor::chat::adminProofMessage(card.groupId, card.adminPublicKey)));
    card.memberPublicKeys = QStringList{owner.publicKeyText()};
    velmor::chat::GroupMemberProfile profile;
    profile.memberRawPublicKey = owner.publicKeyText();
    card.members.append(profile);
    card.epoch = 1;
    card.keyEpoch = 1;
    card.createdAt = 1700000000;
    card.updatedAt = 1700000000;
    QJsonObject object = card.toJson();
    object.insert(QStringLiteral("memberPublicKeys"), keys);
    return object;
}

void BM_ReadCardWithManyKeys(benchmark::State &state)
{
    const QJsonObject object = cardWithKeys(int(state.range(0)));
    if (!GroupCard::fromJson(object)) {
        state.SkipWithError("the benchmark card is not readable");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(GroupCard::fromJson(object));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ReadCardWithManyKeys)->RangeMultiplier(10)->Range(100, 100000)->Complexity();

void BM_CanonicalCard(benchmark::State &state)
{
    const QJsonObject object = cardWithKeys(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(velmor::chat::canonicalJson(object));
}
BENCHMARK(BM_CanonicalCard)->Arg(20)->Arg(1000);

} // namespace

BENCHMARK_MAIN();
