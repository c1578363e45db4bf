// The group registry: only newer cards replace held ones, the key ring keeps
// the last key epochs, copies stay independent, concurrent readers and
// writers see whole cards, and reloading from the store leaves out cards
// whose stored text no longer verifies.
#include "groups/group_card.h"
#include "groups/group_engine.h"
#include "identity/crypto.h"
#include "identity/identity.h"
#include "store/chat_store.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace velmor::chat;
using velmor::crypto::base64UrlEncode;
using velmor::identity::Identity;

namespace {

const Identity kOwner(QByteArray(32, '\x11'));
const Identity kMember(QByteArray(32, '\x22'));

// Group ids bound to the owner (ids that are not read back as plain labels).
QHash<QString, QString> &noncesById()
{
    static QHash<QString, QString> nonces;
    return nonces;
}

QString idOf(const QString &label)
{
    const QString nonce = QString::fromLatin1(velmor::crypto::sha256(label.toUtf8()).left(16).toHex());
    const QString id = deriveGroupId(kOwner.publicKeyText(), nonce);
    noncesById().insert(id, nonce);
    return id;
}

GroupCard signedCard(const QString &groupId, qint64 epoch, qint64 keyEpoch, const QString &name = QStringLiteral("g"))
{
    GroupCard card;
    card.groupId = groupId;
    card.idNonce = noncesById().value(groupId);
    card.name = name;
    card.avatarId = QStringLiteral("defaultgroupphoto");
    card.ownerRawPublicKey = kOwner.publicKeyText();
    const auto admin = deriveGroupAdminKey(kOwner.privateKey, groupId);
    card.adminPublicKey = base64UrlEncode(admin.publicKey);
    card.adminProof = base64UrlEncode(
        velmor::crypto::signMessage(kOwner.privateKey, adminProofMessage(groupId, card.adminPublicKey)));
    card.memberPublicKeys = {kOwner.publicKeyText(), kMember.publicKeyText()};
    card.memberPublicKeys.sort();
    for (const QString &key : std::as_const(card.memberPublicKeys)) {
        GroupMemberProfile profile;
        profile.memberRawPublicKey = key;
        card.members.append(profile);
        card.groupKeyBoxes.insert(key, QStringLiteral("box-%1-%2").arg(keyEpoch).arg(key.left(4)));
    }
    card.epoch = epoch;
    card.keyEpoch = keyEpoch;
    card.createdAt = 1700000000;
    card.updatedAt = 1700000000 + epoch;
    signGroupCard(card, admin.seed);
    return card;
}

} // namespace

class RegistryTest : public QObject
{
    Q_OBJECT

private slots:
    void onlyNewerCardsReplace()
    {
        ChatStore::instance().close();
        GroupRegistry registry;
        const QString me = kMember.publicKeyText();
        QVERIFY(registry.install(signedCard("g1", 2, 2), me));
        QVERIFY(!registry.install(signedCard("g1", 2, 2, "other"), me));
        QVERIFY(!registry.install(signedCard("g1", 1, 1), me));
        QCOMPARE(registry.card("g1")->name, QStringLiteral("g"));
        QVERIFY(registry.install(signedCard("g1", 3, 2, "renamed"), me));
        QCOMPARE(registry.card("g1")->epoch, 3);
        QVERIFY(!registry.card("nope"));
        QVERIFY(!registry.contains("nope"));
        QCOMPARE(registry.groupIds(), QStringList{"g1"});

        // Copies handed out do not reach back into the registry.
        GroupCard copy = *registry.card("g1");
        copy.name = QStringLiteral("changed");
        copy.memberPublicKeys.clear();
        QCOMPARE(registry.card("g1")->name, QStringLiteral("renamed"));
        QCOMPARE(registry.card("g1")->memberPublicKeys.size(), 2);
        registry.remove("g1");
        QVERIFY(registry.groupIds().isEmpty());
    }

    void keyRingKeepsTheLastEpochs()
    {
        GroupRegistry registry;
        const QString me = kMember.publicKeyText();
        for (qint64 epoch = 1; epoch <= 12; ++epoch)
            QVERIFY(registry.install(signedCard("g", epoch, epoch), me));
        const QMap<qint64, QString> ring = registry.keyRing("g");
        QCOMPARE(ring.size(), kGroupKeyRingSize);
        QCOMPARE(ring.firstKey(), 12 - kGroupKeyRingSize + 1);
        QCOMPARE(ring.lastKey(), 12);
        QCOMPARE(ring.value(12), registry.card("g")->groupKeyBoxes.value(me));
        // A card without a box for the user adds nothing to the ring.
        QVERIFY(registry.install(signedCard("g", 13, 13), Identity(QByteArray(32, '\x77')).publicKeyText()));
        QCOMPARE(registry.keyRing("g").lastKey(), 12);
    }

    // The key opened once is kept, and a change of the ring's box (a newer
    // card, the group removed) is never answered with the key held before.
    void heldGroupKeyFollowsTheRing()
    {
        GroupRegistry registry;
        const QString me = kMember.publicKeyText();
        const auto cardSealing = [&](qint64 epoch, const QByteArray &key) {
            GroupCard card = signedCard("g", epoch, 1);
            card.groupKeyBoxes.insert(me, velmor::crypto::Ecies::seal(kMember.publicKey, key));
            return card;
        };
        const QByteArray first(32, '\x31'), second(32, '\x32');
        QVERIFY(registry.install(cardSealing(1, first), me));
        QCOMPARE(registry.groupKey("g", 1, me, kMember.privateKey), first);
        QCOMPARE(registry.groupKey("g", 1, me, kMember.privateKey), first);
        QVERIFY(registry.groupKey("g", 2, me, kMember.privateKey).isEmpty());
        // Another user holds no box here: nothing of the user's key for them.
        QVERIFY(registry.groupKey("g", 1, kOwner.publicKeyText(), kOwner.privateKey).isEmpty());
        QVERIFY(registry.install(cardSealing(2, second), me));
        QCOMPARE(registry.groupKey("g", 1, me, kMember.privateKey), second);
        registry.remove("g");
        QVERIFY(registry.groupKey("g", 1, me, kMember.privateKey).isEmpty());

        // Another user of the same process (signed out, then in as
        // someone else) never gets a key the one before had opened.
        const QString owner = kOwner.publicKeyText();
        QVERIFY(registry.install(cardSealing(1, first), me));
        GroupCard theirs = signedCard("g", 2, 2);
        theirs.groupKeyBoxes.insert(owner, velmor::crypto::Ecies::seal(kOwner.publicKey, second));
        QVERIFY(registry.install(theirs, owner));
        QCOMPARE(registry.groupKey("g", 1, me, kMember.privateKey), first);
        QCOMPARE(registry.groupKey("g", 2, owner, kOwner.privateKey), second);
        QVERIFY(registry.groupKey("g", 1, owner, kOwner.privateKey).isEmpty());
        QCOMPARE(registry.groupKey("g", 1, me, kMember.privateKey), first);
    }

    void concurrentReadersSeeWholeCards()
    {
        GroupRegistry registry;
        const QString me = kMember.publicKeyText();
        QList<GroupCard> cards;
        for (qint64 epoch = 1; epoch <= 60; ++epoch)
            cards.append(signedCard("g", epoch, epoch, QStringLiteral("name-%1").arg(epoch)));
        std::atomic<bool> torn{false};
        std::atomic<int> next{0};
        std::vector<std::thread> threads;
        for (int w = 0; w < 3; ++w) {
            threads.emplace_back([&]() {
                for (int i = next++; i < cards.size(); i = next++)
                    registry.install(cards.at(i), me);
            });
        }
        for (int r = 0; r < 3; ++r) {
            threads.emplace_back([&]() {
                for (int i = 0; i < 2000; ++i) {
                    const std::optional<GroupCard> card = registry.card("g");
                    if (card && card->name != QStringLiteral("name-%1").arg(card->epoch))
                        torn = true;
                    registry.groupIds();
                    registry.keyRing("g");
                }
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        QVERIFY(!torn);
        // Whatever the order of the writers, the newest card wins.
        QCOMPARE(registry.card("g")->epoch, 60);
    }

    void reloadLeavesOutCardsThatNoLongerVerify()
    {
        const QString good = idOf(QStringLiteral("good"));
        const QString bad = idOf(QStringLiteral("bad"));
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        ChatStore &store = ChatStore::instance();
        QVERIFY(store.open(kMember.publicKeyText(), QDir(dir.path()).filePath("m.db")));
        GroupRegistry registry;
        const QString me = kMember.publicKeyText();
        QVERIFY(registry.install(signedCard(good, 4, 3), me));
        QVERIFY(registry.install(signedCard(bad, 2, 2), me));
        QCOMPARE(store.normalGroupCards().size(), 2);

        // Someone edits the stored card text of the bad one.
        for (NormalGroupCardRecord record : store.normalGroupCards()) {
            if (record.group_id == bad) {
                record.card_json.replace(QStringLiteral("\"name\":\"g\""), QStringLiteral("\"name\":\"h\""));
                QVERIFY(store.upsertNormalGroupCard(record));
            }
        }
        GroupRegistry reloaded;
        reloaded.reloadFromStore();
        QCOMPARE(reloaded.groupIds(), QStringList{good});
        QCOMPARE(reloaded.card(good)->cardJson, registry.card(good)->cardJson);
        QCOMPARE(reloaded.keyRing(good), registry.keyRing(good));

        // With the store closed a reload keeps what the registry holds.
        store.close();
        reloaded.reloadFromStore();
        QCOMPARE(reloaded.groupIds(), QStringList{good});
        // And installing still works in memory.
        QVERIFY(reloaded.install(signedCard(good, 5, 3), me));
        QCOMPARE(reloaded.card(good)->epoch, 5);
    }

    void cardTheStoreRefusesIsNotTaken()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = QDir(dir.path()).filePath("m.db");
        ChatStore &store = ChatStore::instance();
        QVERIFY(store.open(kMember.publicKeyText(), path));
        GroupRegistry registry;
        const QString me = kMember.publicKeyText();
        QVERIFY(registry.install(signedCard("g", 2, 2), me));

        // A second connection makes every card write fail, as a full disk would.
        {
            QSqlDatabase side = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("side"));
            side.setDatabaseName(path);
            QVERIFY(side.open());
            QSqlQuery query(side);
            QVERIFY(query.exec(QStringLiteral(
                "CREATE TRIGGER refuse_cards BEFORE UPDATE ON normal_group_cards "
                "BEGIN SELECT RAISE(ABORT, 'disk full'); END")));
            side.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("side"));

        // Not taken in memory either, so the message that brought it stays
        // unacknowledged and the same card is taken once the store works.
        QVERIFY(!registry.install(signedCard("g", 3, 3, "renamed"), me));
        QCOMPARE(registry.card("g")->epoch, 2);
        QCOMPARE(registry.keyRing("g").size(), 1);
        GroupRegistry reloaded;
        reloaded.reloadFromStore();
        QCOMPARE(reloaded.card("g")->epoch, 2);
        store.close();
    }
};

QTEST_GUILESS_MAIN(RegistryTest)
#include "test_registry.moc"
