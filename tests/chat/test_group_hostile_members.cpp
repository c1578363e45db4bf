// Hostile and removed members through the real inbox. A member who lies
// about the group's card epoch: the card request it sets off leaves from a
// job after the pulled slice is stored (never from the window's thread,
// which the build checks), once however often the lies are offered, and
// once the owner has answered the lies are acknowledged and gone. A member
// the owner removed: its client learns it and the group turns read-only.
#include "chat_fixture.h"

#include "groups/canonical_json.h"
#include "groups/group_card.h"
#include "groups/group_engine.h"
#include "identity/crypto.h"
#include "identity/envelope.h"

#include <QtTest>

using namespace chattest;
using namespace velmor::chat;

namespace {

// Hands the signed-in user's inbox to `registry`, acknowledges what it took
// or dropped and sends what it called for.
void handleInbox(GroupRegistry &registry)
{
    QStringList ack;
    QList<GroupFollowUp> followUps;
    for (const RawEnvelope &envelope : RelayApi::pull()) {
        const GroupInboundResult result = handleGroupMessage(registry, envelope.ciphertext, envelope.senderPubkey);
        followUps += result.followUps;
        if (result.error.isEmpty() || result.discard)
            ack.append(envelope.messageId);
    }
    if (!ack.isEmpty())
        RelayApi::ack(ack);
    runFollowUps(followUps);
}

// A text sealed by the signed-in `writer` under its group key, claiming
// card epoch `epoch`, into `reader`'s inbox.
bool postClaim(const User &writer, GroupRegistry &registry, const User &reader, const QString &group, qint64 epoch)
{
    const GroupCard card = *registry.card(group);
    const QByteArray groupKey =
        Ecies::open(registry.keyRing(group).value(card.keyEpoch), writer.identity.privateKey);
    const QByteArray context = QByteArrayLiteral("velmor_group_v1|") + group.toUtf8() + "|message|"
        + QByteArray::number(card.keyEpoch) + '|' + QByteArray::number(epoch);
    const QString ciphertext = QLatin1String(kGroupMessagePrefix) + velmor::crypto::base64UrlEncode(canonicalJson(QJsonObject{
        {"v", 1}, {"kind", "message"}, {"groupId", group}, {"keyEpoch", double(card.keyEpoch)},
        {"epoch", double(epoch)},
        {"box", velmor::crypto::GroupBox::seal(
                    groupKey, canonicalJson(QJsonObject{{"type", "text"}, {"text", "lie"}, {"sender", writer.key()}}),
                    context)}}));
    const velmor::identity::Envelope envelope = velmor::identity::signEnvelope(
        writer.identity, reader.key(), ciphertext, newId(), QDateTime::currentSecsSinceEpoch());
    return RelayApi::authorizedPost(QStringLiteral("/v1/message/send"), RelayApi::envelopeToJson(envelope)).success;
}

} // namespace

class GroupHostileMembersTest : public QObject, private ChatFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(startRelayWithUsers(0x31)); }
    void cleanupTestCase() { stopRelay(); }

    void liesCostOneRequestAndGoOnceAnswered_data()
    {
        QTest::addColumn<int>("lies");
        QTest::newRow("one lie") << 1;
        QTest::newRow("twenty lies") << 20;
    }
    void liesCostOneRequestAndGoOnceAnswered()
    {
        QFETCH(int, lies);
        GroupRegistry alice, dave;
        QVERIFY(signInHere(m_alice));
        const GroupCreateResult created =
            createGroup(alice, QStringLiteral("Liars"), {m_bob.key(), m_dave.key()});
        QVERIFY2(created.ok, qPrintable(created.error));
        const QString group = created.groupId;
        QVERIFY(signInHere(m_dave));
        handleInbox(dave);
        const qint64 held = dave.card(group)->epoch;
        for (int i = 0; i < lies; ++i)
            QVERIFY(postClaim(m_dave, dave, m_bob, group, held + 1 + i));
        signOut();

        // Bob's client pulls for a minute of its timer; the lies stay
        // refused and Alice is asked once.
        const int requestsBefore = m_groups->fanoutCountFrom(m_bob.key());
        as(m_bob);
        for (int pull = 0; pull < 15; ++pull) {
            pullAndSettle(*m_chat);
            waitIdle();
        }
        QCOMPARE(m_groups->fanoutCountFrom(m_bob.key()) - requestsBefore, 1);
        QCOMPARE(m_relay.queueSize(m_bob.key()), lies);
        endClient();

        // Alice answers; Bob's next pull drops the lies.
        QVERIFY(signInHere(m_alice));
        handleInbox(alice);
        signOut();
        as(m_bob);
        pullAndSettle(*m_chat);
        waitIdle();
        QCOMPARE(m_relay.queueSize(m_bob.key()), 0);
        endClient(&m_bob);
    }

    void removedMemberSeesTheGroupReadOnly()
    {
        GroupRegistry alice;
        QVERIFY(signInHere(m_alice));
        const GroupCreateResult created =
            createGroup(alice, QStringLiteral("Shrinking"), {m_bob.key(), m_carol.key()});
        QVERIFY2(created.ok, qPrintable(created.error));
        const QString peer = QStringLiteral("group:") + created.groupId;
        as(m_carol);
        m_chat->openConversation(peer);
        QVERIFY(m_chat->currentCanSend());
        endClient();

        QVERIFY(signInHere(m_alice));
        QVERIFY(removeGroupMember(alice, created.groupId, {m_carol.key()}).ok);
        signOut();
        // Carol has the group open when the card that removed her arrives.
        m_relay.setFault(QStringLiteral("/v1/message/pull"), velmor::fakes::Fault::http500());
        as(m_carol);
        m_chat->openConversation(peer);
        QVERIFY(m_chat->currentCanSend());
        m_relay.clearFaults();
        QSignalSpy current(m_chat.get(), &ChatController::currentChanged);
        QSignalSpy processed(&m_chat->messaging().inbox, &Inbox::pullProcessed);
        m_chat->messaging().inbox.resumeNow();
        QVERIFY(processed.wait(5000));
        waitIdle();
        QVERIFY(!m_chat->currentCanSend());
        QVERIFY(current.count() >= 1);
        endClient(&m_carol);
        as(m_bob);
        m_chat->openConversation(peer);
        QVERIFY(m_chat->currentCanSend());
        endClient(&m_bob);
    }
};

QTEST_GUILESS_MAIN(GroupHostileMembersTest)
#include "test_group_hostile_members.moc"
