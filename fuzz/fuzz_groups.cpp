// Normal groups: canonical JSON, group cards, registry records, join
// requests, inbound group messages (against a registry holding one group)
// and the offline part of the discovery resolver.
#include "fuzz_common.h"

#include "groups/canonical_json.h"
#include "groups/discovery.h"
#include "groups/group_card.h"
#include "groups/group_engine.h"
#include "identity/crypto.h"
#include "identity/envelope.h"
#include "identity/identity.h"
#include "net/relay_session.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

using namespace velmor::chat;
using velmor::crypto::base64UrlEncode;
using velmor::identity::Identity;

namespace {

const Identity &owner()
{
    static const Identity identity(QByteArray::fromHex(
        "5555555555555555555555555555555555555555555555555555555555555555"));
    return identity;
}

const Identity &me()
{
    static const Identity identity(QByteArray::fromHex(
        "6666666666666666666666666666666666666666666666666666666666666666"));
    return identity;
}

const QString kIdNonce = QStringLiteral("00112233445566778899aabbccddeeff");
const QString kGroupId = deriveGroupId(owner().publicKeyText(), kIdNonce);
const QByteArray kGroupKey(32, '\x42');

QByteArray boxContext(const QString &kind, qint64 keyEpoch, qint64 epoch)
{
    return QByteArrayLiteral("velmor_group_v1|") + kGroupId.toUtf8() + '|' + kind.toUtf8() + '|'
        + QByteArray::number(keyEpoch) + '|' + QByteArray::number(epoch);
}

// A card message from the owner, sealed to the user as the owner seals it.
QJsonObject sealedCard(const QByteArray &text, const QString &signature)
{
    const QByteArray context = QByteArrayLiteral("velmor_group_v1|") + kGroupId.toUtf8() + QByteArrayLiteral("|card|")
        + velmor::identity::directMessageContext(owner().publicKeyText(), me().publicKeyText());
    const QByteArray inner = canonicalJson(QJsonObject{{QStringLiteral("card"), QString::fromUtf8(text)},
                                                       {QStringLiteral("signature"), signature}});
    return QJsonObject{{QStringLiteral("v"), 1},
                       {QStringLiteral("kind"), QStringLiteral("card")},
                       {QStringLiteral("groupId"), kGroupId},
                       {QStringLiteral("sealed"), Ecies::seal(me().publicKey, inner, 0, context)}};
}

QString groupMessage(const QJsonObject &outer)
{
    return QLatin1String(kGroupMessagePrefix) + base64UrlEncode(canonicalJson(outer));
}

// The group as it stands after its first card: owner and the user, key epoch 1.
GroupCard baseCard()
{
    GroupCard card;
    card.groupId = kGroupId;
    card.idNonce = kIdNonce;
    card.name = QStringLiteral("fuzz");
    card.avatarId = QStringLiteral("a1");
    card.ownerRawPublicKey = owner().publicKeyText();
    const auto admin = deriveGroupAdminKey(owner().privateKey, kGroupId);
    card.adminPublicKey = base64UrlEncode(admin.publicKey);
    card.adminProof = base64UrlEncode(velmor::crypto::signMessage(
        owner().privateKey, adminProofMessage(kGroupId, card.adminPublicKey)));
    card.memberPublicKeys = QStringList{owner().publicKeyText(), me().publicKeyText()};
    card.memberPublicKeys.sort();
    for (const QString &key : card.memberPublicKeys) {
        GroupMemberProfile profile;
        profile.memberRawPublicKey = key;
        profile.displayName = QStringLiteral("m");
        card.members.append(profile);
        card.groupKeyBoxes.insert(key, Ecies::seal(velmor::crypto::base64UrlDecode(key), kGroupKey));
    }
    card.epoch = 1;
    card.keyEpoch = 1;
    card.createdAt = 1700000000;
    card.updatedAt = 1700000000;
    signGroupCard(card, admin.seed);
    return card;
}

void resetRegistry(GroupRegistry &registry)
{
    static const GroupCard card = baseCard();
    registry.clear();
    registry.install(card, me().publicKeyText());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzsupport::initQt();
    static bool configured = false;
    if (!configured) {
        // No reachable relay: anything that would go out fails fast.
        velmor::net::RelayAuthSession::instance().configure(QStringLiteral("https://relay.invalid"), me());
        configured = true;
    }
    static GroupRegistry registry;
    const fuzzsupport::Input in = fuzzsupport::split(data, size);
    switch (in.selector % 9) {
    case 0: {
        const QByteArray canonical = canonicalizeJsonText(in.bytes);
        (void)isCanonicalJson(in.bytes);
        // Canonical form is a fixed point.
        if (!canonical.isEmpty() && canonicalizeJsonText(canonical) != canonical)
            __builtin_trap();
        break;
    }
    case 1:
        (void)GroupCard::fromJson(parseJsonObject(in.bytes));
        (void)verifyGroupCard(in.bytes, QString::fromLatin1(QByteArray(86, 'A')));
        break;
    case 2: {
        // A card text signed with the group's admin key: reaches every check
        // behind the signature.
        const auto admin = deriveGroupAdminKey(owner().privateKey, kGroupId);
        // Keys and proofs the fuzzer cannot make stand in as placeholders.
        static const GroupCard base = baseCard();
        QByteArray source = in.bytes;
        source.replace("ADMINKEY", base.adminPublicKey.toUtf8());
        source.replace("OWNERKEY", owner().publicKeyText().toUtf8());
        source.replace("MYKEY", me().publicKeyText().toUtf8());
        source.replace("PROOF", base.adminProof.toUtf8());
        source.replace("MYBOX", base.groupKeyBoxes.value(me().publicKeyText()).toUtf8());
        source.replace("GROUPID", kGroupId.toUtf8());
        source.replace("IDNONCE", kIdNonce.toUtf8());
        const QByteArray text = canonicalizeJsonText(source);
        const QString signature = base64UrlEncode(velmor::crypto::ed25519Sign(admin.seed, text));
        (void)verifyGroupCard(text, signature);
        (void)verifyRegistryRecord(text, signature);
        resetRegistry(registry);
        (void)handleGroupMessage(registry, groupMessage(sealedCard(text, signature)), owner().publicKeyText());
        break;
    }
    case 3:
        if (const auto request = parseGroupJoinRequest(in.bytes)) {
            (void)isAcceptableJoinRequest(*request, me().publicKeyText(), QString(), std::nullopt);
            (void)buildGroupJoinRequest(*request);
        }
        break;
    case 4:
        resetRegistry(registry);
        (void)handleGroupMessage(registry, QString::fromUtf8(in.bytes), owner().publicKeyText());
        break;
    case 5:
        // The outer object of a group message.
        resetRegistry(registry);
        (void)handleGroupMessage(registry, QLatin1String(kGroupMessagePrefix) + base64UrlEncode(in.bytes),
                                 owner().publicKeyText());
        break;
    case 6:
    case 7: {
        // The plaintext inside a box under the group key.
        const QString kind = (in.selector % 9) == 6 ? QStringLiteral("message") : QStringLiteral("profile");
        // "SENDER" stands for the sender's key, which the fuzzer cannot guess.
        QByteArray plaintext = in.bytes;
        plaintext.replace("SENDER", owner().publicKeyText().toUtf8());
        const QString box = velmor::crypto::GroupBox::seal(kGroupKey, plaintext, boxContext(kind, 1, 1));
        resetRegistry(registry);
        (void)handleGroupMessage(registry,
                                 groupMessage(QJsonObject{{QStringLiteral("v"), 1},
                                                          {QStringLiteral("kind"), kind},
                                                          {QStringLiteral("groupId"), kGroupId},
                                                          {QStringLiteral("keyEpoch"), 1},
                                                          {QStringLiteral("epoch"), 1},
                                                          {QStringLiteral("box"), box}}),
                                 owner().publicKeyText());
        break;
    }
    case 8: {
        // Only the inputs the resolver classifies without asking a server.
        const QString text = QString::fromUtf8(in.bytes);
        const QString trimmed = text.trimmed();
        QString rest = trimmed;
        if (rest.startsWith(QLatin1String(kSuperGroupLinkPrefix), Qt::CaseInsensitive))
            rest = rest.mid(int(qstrlen(kSuperGroupLinkPrefix))).trimmed();
        if (!QUrl(rest, QUrl::StrictMode).host().isEmpty()
            || trimmed.startsWith(QLatin1String(kNormalGroupLinkPrefix))
            || trimmed.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            break;
        DiscoveryContext context;
        context.identity = me();
        (void)discover(text, context);
        (void)canonicalMemberKey(text);
        break;
    }
    }
    return 0;
}
