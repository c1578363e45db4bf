// Two clients through the local relay, and a stranger who knows only Bob's
// key: thousands of envelopes Bob's client cannot read wait ahead of
// Alice's texts. Each is settled in the same pull (dropped, or set aside
// within bounds when a card may still settle it), so Alice's texts arrive
// in the first pull cycle and nothing is left with the relay.
#include "chat_fixture.h"

#include "groups/canonical_json.h"
#include "groups/group_test_support.h"
#include "identity/crypto.h"
#include "identity/envelope.h"

#include <QtTest>

using namespace chattest;
using namespace velmor::chat;

namespace {

enum Junk { Unopenable = 1, GroupNotHeld = 2, StrangerInGroup = 4, RemovedMember = 8 };

// A group message whose box nobody can open, as a writer's envelope carries it.
QString groupMessageText(const QString &groupId, qint64 epoch)
{
    const QJsonObject outer{{"v", 1}, {"kind", "message"}, {"groupId", groupId}, {"keyEpoch", 1},
                            {"epoch", double(epoch)}, {"box", "bm90IGEgYm94"}};
    return QLatin1String(kGroupMessagePrefix) + velmor::crypto::base64UrlEncode(canonicalJson(outer));
}

} // namespace

class InboxRefusalsTest : public QObject, private ChatFixture
{
    Q_OBJECT

    int m_case = 0;

    // `count` envelopes signed by `from` for Bob, straight into the relay's
    // queue; `ciphertext` gives the text of the i-th.
    template <typename Text>
    void post(const User &from, int count, const Text &ciphertext)
    {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        for (int i = 0; i < count; ++i)
            m_relay.enqueueRaw(m_bob.key(), RelayApi::envelopeToJson(velmor::identity::signEnvelope(
                                                 from.identity, m_bob.key(), ciphertext(i), newId(), now)));
    }

private slots:
    void initTestCase() { QVERIFY(startRelay()); }
    void cleanupTestCase() { stopRelay(); }
    // New people for each case: what one case leaves with the relay is
    // not in the way of the next.
    void init() { newUsers(char(0x61 + 4 * m_case++)); }

    // 2,000 envelopes of each kind ahead of Alice's three texts.
    void aPageOfRefusalsHoldsNothingUp_data()
    {
        QTest::addColumn<int>("junk");
        QTest::newRow("one-to-one boxes that do not open") << int(Unopenable);
        QTest::newRow("groups Bob does not hold") << int(GroupNotHeld);
        QTest::newRow("a stranger writing to Bob's group under a newer card") << int(StrangerInGroup);
        QTest::newRow("a removed member still writing") << int(RemovedMember);
        QTest::newRow("all of them") << int(Unopenable | GroupNotHeld | StrangerInGroup | RemovedMember);
    }
    void aPageOfRefusalsHoldsNothingUp()
    {
        QFETCH(int, junk);
        // Alice's group of Bob and Carol, Carol removed again; Bob holds it.
        GroupRegistry alice;
        QVERIFY(signInHere(m_alice));
        const GroupCreateResult created = createGroup(alice, QStringLiteral("Harbour"), {m_bob.key(), m_carol.key()});
        QVERIFY2(created.ok, qPrintable(created.error));
        QVERIFY(removeGroupMember(alice, created.groupId, {m_carol.key()}).ok);
        signOut();
        as(m_bob);
        QTRY_COMPARE(m_relay.queueSize(m_bob.key()), 0);
        const qint64 held = GroupRegistry::instance().card(created.groupId)->epoch;
        endClient();

        const QString unopenable = velmor::identity::sealDirectMessage(m_dave.identity, m_carol.key(), "{}");
        if (junk & Unopenable)
            post(m_dave, 2000, [&](int) { return unopenable; });
        if (junk & GroupNotHeld)
            post(m_dave, 2000, [](int i) { return groupMessageText(QStringLiteral("%1").arg(i % 40, 32, 16, QChar('a')), 1); });
        if (junk & StrangerInGroup)
            post(m_dave, 2000, [&](int) { return groupMessageText(created.groupId, held + 1); });
        if (junk & RemovedMember)
            post(m_carol, 2000, [&](int) { return groupMessageText(created.groupId, held); });

        // Alice's client sends three texts; the relay takes them.
        QVERIFY(signInHere(m_alice));
        m_chat = makeController();
        startQuiet(*m_chat);
        QVERIFY(m_chat->newChat(m_bob.key()));
        QSignalSpy sent(&m_chat->messaging().outbox, &Outbox::sendFinished);
        for (const char *text : {"one", "two", "three"})
            m_chat->sendText(QString::fromLatin1(text));
        QTRY_COMPARE_WITH_TIMEOUT(sent.size(), 3, 20000);
        for (const QList<QVariant> &finished : std::as_const(sent))
            QCOMPARE(finished.at(1).toInt(), int(MessageStatus::Sent));
        endClient();
        QVERIFY(m_relay.queueSize(m_bob.key()) > 2000);

        // Bob's client starts: its first pull goes through every page.
        QVERIFY(signInHere(m_bob));
        m_chat = makeController();
        m_chat->start();
        m_chat->messaging().push.shutDown();
        QVERIFY(m_chat->syncing());
        QTRY_VERIFY_WITH_TIMEOUT(!m_chat->syncing(), 120000);
        QStringList texts;
        for (const MessageRecord &row : ChatStore::instance().messages(ChatStore::instance().conversationIdFor(m_alice.key())))
            texts.append(row.text);
        texts.sort();
        QCOMPARE(texts, (QStringList{"one", "three", "two"}));
        QTRY_COMPARE(m_relay.queueSize(m_bob.key()), 0);
        // What a card may still settle is kept, within the bounds of one writer.
        const grouptest::Parked parked = grouptest::parkedNow();
        QVERIFY2(parked.rows <= kParkedPerWriter, qPrintable(QString::number(parked.rows)));
        QCOMPARE(parked.rows > 0, bool(junk & (GroupNotHeld | StrangerInGroup)));
        QVERIFY(!parked.bytesOf.contains(m_carol.key()));
        endClient();
    }
};

QTEST_GUILESS_MAIN(InboxRefusalsTest)
#include "test_inbox_refusals.moc"
