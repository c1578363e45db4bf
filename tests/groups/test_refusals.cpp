// What a member's engine refuses, and that refusing leaves its registry and
// store exactly as they were: tampered cards (every byte), stale and
// conflicting epochs, cards not signed by the group's admin key, messages
// from non-members, forwarded and tampered messages, and malformed input.
#include "group_test_support.h"

#include "groups/canonical_json.h"
#include "identity/content.h"
#include "identity/envelope.h"
#include "support/fake_relay.h"
#include "support/fake_relay_groups.h"

#include <QJsonDocument>
#include <QtTest>

using namespace velmor::chat;
using grouptest::User;
using velmor::crypto::base64UrlDecode;
using velmor::crypto::base64UrlEncode;

namespace {

QJsonObject outerOf(const QString &ciphertext)
{
    const QString prefix = QLatin1String(kGroupMessagePrefix);
    if (!ciphertext.startsWith(prefix))
        return {};
    return QJsonDocument::fromJson(base64UrlDecode(ciphertext.mid(prefix.size()))).object();
}

QString wrap(const QJsonObject &outer)
{
    return QLatin1String(kGroupMessagePrefix) + base64UrlEncode(canonicalJson(outer));
}

// The sealed context of a card from `sender` to `recipient` (docs/protocol.md).
QByteArray cardContext(const QString &groupId, const QString &sender, const QString &recipient)
{
    return QByteArrayLiteral("velmor_group_v1|") + groupId.toUtf8() + QByteArrayLiteral("|card|")
        + velmor::identity::directMessageContext(sender, recipient);
}

// A card message as `sender` would seal it to `recipient`.
QString sealCardText(const QString &groupId, const QByteArray &cardText, const QString &signature,
                     const QString &sender, const velmor::identity::Identity &recipient)
{
    const QByteArray inner =
        canonicalJson(QJsonObject{{"card", QString::fromUtf8(cardText)}, {"signature", signature}});
    return wrap(QJsonObject{{"v", 1},
                            {"kind", "card"},
                            {"groupId", groupId},
                            {"sealed", velmor::crypto::Ecies::seal(recipient.publicKey, inner, 0,
                                                                   cardContext(groupId, sender,
                                                                               recipient.publicKeyText()))}});
}

// The card and signature inside a card message sealed to `reader`.
QJsonObject openCard(const QString &ciphertext, const QString &sender, const velmor::identity::Identity &reader)
{
    const QJsonObject outer = outerOf(ciphertext);
    return QJsonDocument::fromJson(velmor::crypto::Ecies::open(
                                       outer.value("sealed").toString(), reader.privateKey, 0,
                                       cardContext(outer.value("groupId").toString(), sender,
                                                   reader.publicKeyText())))
        .object();
}

} // namespace

class GroupRefusalTest : public QObject, protected grouptest::RelayFixture
{
    Q_OBJECT

private:
    QString m_groupId;

    // Bob's state, to compare before and after a refusal.
    struct Snapshot
    {
        QByteArray cardJson;
        QMap<qint64, QString> ring;
        QString stored;
        QStringList ids;
        bool operator==(const Snapshot &other) const
        {
            return cardJson == other.cardJson && ring == other.ring && stored == other.stored && ids == other.ids;
        }
    };
    Snapshot bobState()
    {
        Snapshot snapshot;
        snapshot.cardJson = m_bob.registry->card(m_groupId)->cardJson;
        snapshot.ring = m_bob.registry->keyRing(m_groupId);
        snapshot.ids = m_bob.registry->groupIds();
        for (const NormalGroupCardRecord &record : ChatStore::instance().normalGroupCards())
            snapshot.stored += record.group_id + record.card_json + record.group_key_boxes_json;
        return snapshot;
    }

    // Hands one ciphertext to Bob's engine and checks that a refusal
    // changed nothing.
    QString bobHandles(const QString &ciphertext, const QString &sender)
    {
        const Snapshot before = bobState();
        const GroupInboundResult result = handleGroupMessage(*m_bob.registry, ciphertext, sender);
        if (!result.error.isEmpty()) {
            if (!(bobState() == before))
                return QStringLiteral("STATE CHANGED BY REFUSAL ") + result.error;
            if (result.hasMessage)
                return QStringLiteral("REFUSAL WITH MESSAGE");
        }
        return result.error;
    }

    // Newest envelope in Bob's inbox, left there.
    RawEnvelope bobLatest()
    {
        use(m_bob);
        const QList<RawEnvelope> inbox = grouptest::peek();
        return inbox.isEmpty() ? RawEnvelope() : inbox.last();
    }

    void drainBob()
    {
        use(m_bob);
        grouptest::dropInbox();
    }

    // A card message for Bob, sealed as `sender` (Alice unless said).
    QString cardMessageOf(const GroupCard &card, const QString &sender = QString())
    {
        return sealCardText(card.groupId, card.cardJson, card.signature,
                            sender.isEmpty() ? m_alice.key() : sender, m_bob.identity);
    }

    // A card for the group as Alice would sign it, with a change applied.
    GroupCard aliceSigned(const std::function<void(GroupCard &)> &change)
    {
        GroupCard card = *m_alice.registry->card(m_groupId);
        change(card);
        signGroupCard(card, deriveGroupAdminKey(m_alice.identity.privateKey, m_groupId).seed);
        return card;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(startRelay());

        QVERIFY(use(m_alice));
        const GroupCreateResult created =
            createGroup(*m_alice.registry, QStringLiteral("Ünïcode \"crew\""), {m_bob.key(), m_carol.key()});
        QVERIFY(created.ok);
        m_groupId = created.groupId;
        QVERIFY(use(m_bob));
        const QList<grouptest::Received> invite = grouptest::pullAndHandle(m_bob);
        QCOMPARE(invite.size(), 1);
        QVERIFY(invite.first().result.error.isEmpty());
        QVERIFY(m_bob.registry->card(m_groupId));
    }

    void cleanupTestCase()
    {
        stopRelay();
    }

    void everyChangedByteOfACardIsRefused()
    {
        QVERIFY(use(m_alice));
        QVERIFY(renameGroup(*m_alice.registry, m_groupId, QStringLiteral("Renamed crew")).ok);
        const RawEnvelope envelope = bobLatest();
        // The card crosses the relay sealed to Bob: none of it shows.
        QVERIFY(!base64UrlDecode(envelope.ciphertext.mid(int(qstrlen(kGroupMessagePrefix))))
                     .contains("Renamed crew"));
        const QJsonObject outer = openCard(envelope.ciphertext, envelope.senderPubkey, m_bob.identity);
        const QByteArray cardText = outer.value("card").toString().toUtf8();
        QVERIFY(cardText.size() > 500);
        const QString alice = envelope.senderPubkey;
        auto resealed = [&](const QByteArray &text, const QString &signature) {
            return sealCardText(m_groupId, text, signature, alice, m_bob.identity);
        };

        QVERIFY(use(m_bob));
        // Sealed to Bob, a card opens for nobody else, and only as Alice's.
        QCOMPARE(bobHandles(envelope.ciphertext, m_carol.key()), QStringLiteral("decrypt_failed"));
        QVERIFY(openCard(envelope.ciphertext, alice, m_carol.identity).isEmpty());
        int refusedCount = 0;
        for (int i = 0; i < cardText.size(); ++i) {
            QByteArray changed = cardText;
            changed[i] = changed[i] == 'A' ? 'B' : 'A';
            const QString word = bobHandles(resealed(changed, outer.value("signature").toString()), alice);
            if (word != QLatin1String("card_verify_failed"))
                QFAIL(qPrintable(QStringLiteral("byte %1: %2").arg(i).arg(word)));
            ++refusedCount;
        }
        QCOMPARE(refusedCount, cardText.size());

        // One changed byte of the signature.
        QByteArray signature = base64UrlDecode(outer.value("signature").toString());
        signature[10] = char(signature[10] ^ 0x01);
        QCOMPARE(bobHandles(resealed(cardText, base64UrlEncode(signature)), alice),
                 QStringLiteral("card_verify_failed"));

        // The same card in another key order and with white space is not
        // its signed form.
        QCOMPARE(bobHandles(resealed(QJsonDocument::fromJson(cardText).toJson(QJsonDocument::Indented),
                                     outer.value("signature").toString()),
                            alice),
                 QStringLiteral("card_verify_failed"));

        // The untouched card is taken.
        QCOMPARE(bobHandles(envelope.ciphertext, envelope.senderPubkey), QString());
        QCOMPARE(m_bob.registry->card(m_groupId)->name, QStringLiteral("Renamed crew"));
        drainBob();
    }

    void staleAndConflictingEpochsAreRefused()
    {
        QVERIFY(use(m_alice));
        QVERIFY(updateGroupCard(*m_alice.registry, m_groupId, QStringLiteral("first")).ok);
        QVERIFY(updateGroupCard(*m_alice.registry, m_groupId, QStringLiteral("second")).ok);
        QVERIFY(use(m_bob));
        const QList<RawEnvelope> inbox = grouptest::peek();
        QCOMPARE(inbox.size(), 2);
        const RawEnvelope older = inbox.at(0);
        const RawEnvelope newer = inbox.at(1);

        QCOMPARE(bobHandles(newer.ciphertext, newer.senderPubkey), QString());
        const qint64 epoch = m_bob.registry->card(m_groupId)->epoch;
        QCOMPARE(m_bob.registry->card(m_groupId)->remark, QStringLiteral("second"));
        // The older card arrives late.
        QCOMPARE(bobHandles(older.ciphertext, older.senderPubkey), QStringLiteral("stale_group_card"));
        // The newer card delivered again changes nothing and is not an error.
        const GroupInboundResult again = handleGroupMessage(*m_bob.registry, newer.ciphertext, newer.senderPubkey);
        QVERIFY(again.isGroup);
        QVERIFY(again.error.isEmpty());
        QVERIFY(!again.hasMessage);
        QCOMPARE(m_bob.registry->card(m_groupId)->epoch, epoch);
        // A different card with the same epoch, properly signed, is refused.
        const GroupCard twin = aliceSigned([](GroupCard &card) { card.remark = QStringLiteral("twin"); });
        QCOMPARE(twin.epoch, epoch);
        QCOMPARE(bobHandles(cardMessageOf(twin), m_alice.key()), QStringLiteral("stale_group_card"));
        // And so is one that goes back in epoch while signing correctly.
        const GroupCard rewound = aliceSigned([](GroupCard &card) { card.epoch -= 1; });
        QCOMPARE(bobHandles(cardMessageOf(rewound), m_alice.key()), QStringLiteral("stale_group_card"));
        QCOMPARE(m_bob.registry->card(m_groupId)->remark, QStringLiteral("second"));
        drainBob();
    }

    void cardsNotSignedByTheGroupsAdminKeyAreRefused()
    {
        QVERIFY(use(m_bob));
        // Signed with some other Ed25519 key, claiming the group's admin key.
        GroupCard other = *m_alice.registry->card(m_groupId);
        other.epoch += 5;
        signGroupCard(other, QByteArray(32, '\x07'));
        QCOMPARE(bobHandles(cardMessageOf(other), m_alice.key()), QStringLiteral("card_verify_failed"));

        // Alice's identity vouching for a different admin key, which signs:
        // the group keeps the admin key it was founded with.
        GroupCard swapped = *m_alice.registry->card(m_groupId);
        const velmor::crypto::Ed25519KeyPair foreign = velmor::crypto::ed25519FromSeed(QByteArray(32, '\x09'));
        swapped.adminPublicKey = base64UrlEncode(foreign.publicKey);
        swapped.adminProof = base64UrlEncode(velmor::crypto::signMessage(
            m_alice.identity.privateKey, adminProofMessage(m_groupId, swapped.adminPublicKey)));
        swapped.epoch += 5;
        QVERIFY(signGroupCard(swapped, foreign.seed));
        QVERIFY(verifyGroupCard(swapped.cardJson, swapped.signature)); // sound on its own
        QCOMPARE(bobHandles(cardMessageOf(swapped), m_alice.key()), QStringLiteral("card_verify_failed"));

        // Eve founds "the same" group with herself as owner and Bob as member.
        GroupCard eves = *m_alice.registry->card(m_groupId);
        const velmor::crypto::Ed25519KeyPair eveAdmin = deriveGroupAdminKey(m_eve.identity.privateKey, m_groupId);
        eves.ownerRawPublicKey = m_eve.key();
        eves.memberPublicKeys.append(m_eve.key());
        eves.memberPublicKeys.sort();
        eves.adminPublicKey = base64UrlEncode(eveAdmin.publicKey);
        eves.adminProof = base64UrlEncode(velmor::crypto::signMessage(
            m_eve.identity.privateKey, adminProofMessage(m_groupId, eves.adminPublicKey)));
        eves.epoch += 5;
        QVERIFY(signGroupCard(eves, eveAdmin.seed));
        QCOMPARE(bobHandles(cardMessageOf(eves, m_eve.key()), m_eve.key()), QStringLiteral("card_verify_failed"));

        // A correct card of Alice's relayed by someone outside the group.
        const GroupCard genuine = aliceSigned([](GroupCard &card) { card.epoch += 1; });
        QCOMPARE(bobHandles(cardMessageOf(genuine, m_dave.key()), m_dave.key()), QStringLiteral("card_verify_failed"));
        // An admin proof that is not Alice's.
        const GroupCard badProof = aliceSigned([this](GroupCard &card) {
            card.epoch += 1;
            card.adminProof = base64UrlEncode(velmor::crypto::signMessage(
                m_eve.identity.privateKey, adminProofMessage(m_groupId, card.adminPublicKey)));
        });
        QCOMPARE(bobHandles(cardMessageOf(badProof), m_alice.key()), QStringLiteral("card_verify_failed"));
        // A card whose envelope names another group.
        QJsonObject misfiled = outerOf(cardMessageOf(genuine));
        misfiled.insert("groupId", QStringLiteral("another"));
        QCOMPARE(handleGroupMessage(*m_bob.registry, wrap(misfiled), m_alice.key()).error,
                 QStringLiteral("decrypt_failed")); // the group id is sealed with the card
        const QString resealedElsewhere =
            sealCardText(QStringLiteral("another"), genuine.cardJson, genuine.signature, m_alice.key(), m_bob.identity);
        QCOMPARE(handleGroupMessage(*m_bob.registry, resealedElsewhere, m_alice.key()).error,
                 QStringLiteral("card_verify_failed"));
        QCOMPARE(m_bob.registry->groupIds(), QStringList{m_groupId});

        // An invitation to a group Bob is not in is not taken either.
        QVERIFY(use(m_alice));
        const GroupCreateResult withoutBob = createGroup(*m_alice.registry, QStringLiteral("private"), {m_carol.key()});
        QVERIFY(withoutBob.ok);
        const GroupCard notBobs = *m_alice.registry->card(withoutBob.groupId);
        QVERIFY(use(m_bob));
        QCOMPARE(bobHandles(cardMessageOf(notBobs), m_alice.key()), QStringLiteral("not_member"));
        QCOMPARE(m_bob.registry->groupIds(), QStringList{m_groupId});
        // The genuine card is still taken after all of this.
        QCOMPARE(bobHandles(cardMessageOf(genuine), m_alice.key()), QString());
    }

    void messagesFromNonMembersAreRefused()
    {
        QVERIFY(use(m_eve));
        // Eve has no key of the group; whatever she seals, she is not a member.
        const QString forged = wrap(QJsonObject{
            {"v", 1}, {"kind", "message"}, {"groupId", m_groupId}, {"keyEpoch", 1}, {"epoch", 1},
            {"box", velmor::crypto::GroupBox::seal(QByteArray(32, 'k'), "{\"type\":\"text\",\"text\":\"hi\"}")}});
        QVERIFY(use(m_bob));
        QCOMPARE(bobHandles(forged, m_eve.key()), QStringLiteral("sender_not_member"));
        QJsonObject profile = outerOf(forged);
        profile.insert("kind", "profile");
        QCOMPARE(bobHandles(wrap(profile), m_eve.key()), QStringLiteral("sender_not_member"));
        // A message for a group Bob does not know.
        QJsonObject unknown = outerOf(forged);
        unknown.insert("groupId", QStringLiteral("unknown-group"));
        QCOMPARE(handleGroupMessage(*m_bob.registry, wrap(unknown), m_alice.key()).error, QStringLiteral("no_card"));
        // Not a key at all.
        QCOMPARE(bobHandles(forged, QStringLiteral("garbage")), QStringLiteral("sender_not_member"));
    }

    void tamperedAndForwardedMessagesAreRefused()
    {
        drainBob();
        QVERIFY(use(m_alice));
        QVERIFY(sendGroupText(*m_alice.registry, m_groupId, QStringLiteral("genuine")).ok);
        const RawEnvelope envelope = bobLatest();
        const QJsonObject outer = outerOf(envelope.ciphertext);
        QVERIFY(use(m_bob));

        QByteArray box = outer.value("box").toString().toUtf8();
        box[box.size() / 2] = box[box.size() / 2] == 'A' ? 'B' : 'A';
        QJsonObject tampered = outer;
        tampered.insert("box", QString::fromLatin1(box));
        QCOMPARE(bobHandles(wrap(tampered), envelope.senderPubkey), QStringLiteral("decrypt_failed"));

        // A key epoch above the card's own epoch is no message; one that
        // Bob has no key for, at a card epoch above his, means his card is
        // out of date.
        QJsonObject futureKey = outer;
        futureKey.insert("keyEpoch", 99);
        QCOMPARE(bobHandles(wrap(futureKey), envelope.senderPubkey), QStringLiteral("invalid_group_message"));
        futureKey.insert("epoch", 99);
        GroupRegistry restarted; // Bob's own registry would now wait for that card
        restarted.reloadFromStore();
        QCOMPARE(handleGroupMessage(restarted, wrap(futureKey), envelope.senderPubkey).error,
                 QStringLiteral("card_outdated"));
        QVERIFY(restarted.isCardOutdated(m_groupId));
        // The card epoch is authenticated: a relay cannot lower or raise it.
        QJsonObject otherEpoch = outer;
        otherEpoch.insert("epoch", outer.value("epoch").toInt() + 1);
        QCOMPARE(bobHandles(wrap(otherEpoch), envelope.senderPubkey), QStringLiteral("decrypt_failed"));

        // The box is bound to its kind: a message replayed as a profile does not open.
        QJsonObject asProfile = outer;
        asProfile.insert("kind", "profile");
        QCOMPARE(bobHandles(wrap(asProfile), envelope.senderPubkey), QStringLiteral("decrypt_failed"));

        // Carol, a member, re-sends Alice's message as her own.
        QCOMPARE(bobHandles(envelope.ciphertext, m_carol.key()), QStringLiteral("sender_mismatch"));

        // Untouched, it opens; twice, the same.
        for (int i = 0; i < 2; ++i) {
            const GroupInboundResult ok = handleGroupMessage(*m_bob.registry, envelope.ciphertext, envelope.senderPubkey);
            QVERIFY(ok.error.isEmpty());
            QCOMPARE(ok.text, QStringLiteral("genuine"));
        }
        drainBob();
    }

    void sealedContentThatDoesNotHoldTogetherIsRefused()
    {
        // Carol is a member and holds the group key, so what she seals passes
        // the membership and key checks: only the sealed content is judged.
        QVERIFY(use(m_bob));
        const GroupCard card = *m_bob.registry->card(m_groupId);
        const QString carol = m_carol.key();
        QVERIFY(card.hasMember(carol));
        const QByteArray groupKey = velmor::crypto::Ecies::open(m_bob.registry->keyRing(m_groupId).value(card.keyEpoch),
                                                                m_bob.identity.privateKey);
        QCOMPARE(groupKey.size(), 32);
        // The sealed form of docs/protocol.md, built here by hand.
        auto sealedAs = [&](const QString &kind, const QByteArray &inner) {
            const QByteArray context = QByteArrayLiteral("velmor_group_v1|") + m_groupId.toUtf8() + '|'
                + kind.toUtf8() + '|' + QByteArray::number(card.keyEpoch) + '|' + QByteArray::number(card.epoch);
            return wrap(QJsonObject{{"v", 1},
                                    {"kind", kind},
                                    {"groupId", m_groupId},
                                    {"keyEpoch", double(card.keyEpoch)},
                                    {"epoch", double(card.epoch)},
                                    {"box", velmor::crypto::GroupBox::seal(groupKey, inner, context)}});
        };
        auto profileOf = [&](const QString &member, const QString &type, const QString &groupId) {
            GroupMemberProfile profile;
            profile.memberRawPublicKey = member;
            profile.displayName = QStringLiteral("C");
            profile.updatedAt = 1;
            return canonicalJson(QJsonObject{{"type", type}, {"groupId", groupId}, {"profile", profile.toJson()}});
        };

        // Sound content in the same hand-built form is taken, so each refusal
        // below is about the one thing that is wrong.
        const GroupInboundResult sound = handleGroupMessage(
            *m_bob.registry,
            sealedAs("message", canonicalJson(QJsonObject{{"type", "text"}, {"text", "hello"}, {"sender", carol}})),
            carol);
        QVERIFY2(sound.error.isEmpty(), qPrintable(sound.error));
        QCOMPARE(sound.text, QStringLiteral("hello"));
        const QString profileType = QStringLiteral("group_member_profile_update");
        QCOMPARE(bobHandles(sealedAs("profile", profileOf(carol, profileType, m_groupId)), carol), QString());

        struct Case
        {
            const char *name;
            QString kind;
            QByteArray inner;
            QString word;
        };
        auto content = [&](const QJsonObject &object) { return canonicalJson(object); };
        const QList<Case> cases{
            {"not json", "message", "plain words", "invalid_group_message"},
            {"json list", "message", "[1,2]", "invalid_group_message"},
            {"empty text", "message", content({{"type", "text"}, {"text", ""}, {"sender", carol}}),
             "invalid_group_message"},
            {"unknown type", "message", content({{"type", "sticker"}, {"text", "x"}, {"sender", carol}}),
             "unsupported_group_content"},
            {"no type", "message", content({{"text", "x"}, {"sender", carol}}), "unsupported_group_content"},
            {"image that is no media", "message", content({{"type", "image"}, {"text", "not media"}, {"sender", carol}}),
             "invalid_group_message"},
            {"voice labelled image", "message",
             content({{"type", "image"}, {"text", groupVoiceContent(QByteArray("abc"), 1000, {1, 2})}, {"sender", carol}}),
             "invalid_group_message"},
            {"another member as sender", "message", content({{"type", "text"}, {"text", "x"}, {"sender", m_alice.key()}}),
             "sender_mismatch"},
            {"no sender", "message", content({{"type", "text"}, {"text", "x"}}), "sender_mismatch"},
            {"profile of another type", "profile", profileOf(carol, QStringLiteral("text"), m_groupId),
             "invalid_group_message"},
            {"profile of another group", "profile", profileOf(carol, profileType, QStringLiteral("elsewhere")),
             "invalid_group_message"},
            {"profile of another member", "profile", profileOf(m_alice.key(), profileType, m_groupId),
             "sender_mismatch"},
        };
        for (const Case &c : cases)
            QVERIFY2(bobHandles(sealedAs(c.kind, c.inner), carol) == c.word,
                     qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(c.name), bobHandles(sealedAs(c.kind, c.inner), carol))));
    }

    void malformedInputNeverCrashes()
    {
        QVERIFY(use(m_bob));
        const GroupInboundResult plain = handleGroupMessage(*m_bob.registry, QStringLiteral("not a group message"), m_alice.key());
        QVERIFY(!plain.isGroup);
        QVERIFY(plain.error.isEmpty());
        QVERIFY(!handleGroupMessage(*m_bob.registry, QString(), m_alice.key()).isGroup);

        const QString prefix = QLatin1String(kGroupMessagePrefix);
        const QStringList bad{
            prefix,
            prefix + QStringLiteral("!!!"),
            prefix + base64UrlEncode("[1,2,3]"),
            prefix + base64UrlEncode("{\"v\":2,\"kind\":\"message\",\"groupId\":\"x\"}"),
            wrap(QJsonObject{{"v", 1}, {"kind", "card"}, {"groupId", m_groupId}}),
            wrap(QJsonObject{{"v", 1}, {"kind", "card"}, {"groupId", m_groupId}, {"card", 5}, {"signature", true}}),
            wrap(QJsonObject{{"v", 1}, {"kind", "message"}, {"groupId", m_groupId}, {"keyEpoch", "1"}, {"box", "x"}}),
            wrap(QJsonObject{{"v", 1}, {"kind", "what"}, {"groupId", m_groupId}}),
            prefix + base64UrlEncode("{\"v\":1,\"kind\":\"message\",\"groupId\":\"" + m_groupId.toUtf8()
                                     + "\",\"keyEpoch\":1e300,\"box\":\"x\"}"),
            prefix + base64UrlEncode("{\"v\":1,\"kind\":\"message\",\"groupId\":\"" + m_groupId.toUtf8()
                                     + "\",\"keyEpoch\":-1,\"box\":\"x\"}"),
        };
        for (const QString &text : bad) {
            const QString word = bobHandles(text, m_alice.key());
            QVERIFY2(!word.isEmpty() && !word.startsWith(QLatin1String("STATE")), qPrintable(text + " -> " + word));
        }
        for (int i = 0; i < 300; ++i) {
            const QString noise = prefix + base64UrlEncode(velmor::crypto::randomBytes(1 + i % 97));
            const QString word = bobHandles(noise, m_alice.key());
            QVERIFY(!word.isEmpty());
            QVERIFY(!word.startsWith(QLatin1String("STATE")));
        }
        // The registry still works for real traffic.
        QVERIFY(use(m_alice));
        QVERIFY(sendGroupText(*m_alice.registry, m_groupId, QStringLiteral("still fine")).ok);
        QVERIFY(use(m_bob));
        const QList<grouptest::Received> got = grouptest::pullAndHandle(m_bob);
        QCOMPARE(got.size(), 1);
        QCOMPARE(got.first().result.text, QStringLiteral("still fine"));
    }
};

QTEST_GUILESS_MAIN(GroupRefusalTest)
#include "test_refusals.moc"
