// Delivery under load and trouble, through the local relay: a backlog of
// several full pages drains without waiting for the pull timer; sends made
// while the relay is away stay sending and go out, once each, when it
// answers again; a relay that fails or answers nonsense is not asked again
// at every tick and is shown as unreachable; a retried message that the
// peer already has is not shown to it twice; a send counts as delivered
// only when the relay's answer says it took the message; a burst that
// reached the relay out of order shows in the order it was written.
#include "chat_fixture.h"


#include <QtTest>

using namespace chattest;
using namespace velmor::chat;
using velmor::fakes::Fault;
using velmor::fakes::FaultKind;

namespace {

// A text signed at `createdAt`, with the sender's clock unless it is 0.
QJsonObject textAt(const User &sender, const User &recipient, const QString &text, qint64 sentAtMs, qint64 createdAt)
{
    MessageContent content = textContent(text);
    content.sentAtMs = sentAtMs;
    return envelopeJson(sender, recipient, content, newId(), createdAt);
}

} // namespace

class DeliveryTest : public QObject, private ChatFixture
{
    Q_OBJECT

    Inbox &inbox() { return m_chat->messaging().inbox; }
    Outbox &outbox() { return m_chat->messaging().outbox; }

    void startAs(const User &user)
    {
        QVERIFY(signInHere(user));
        m_chat = makeController();
        startQuiet(*m_chat);
    }

    int statusCount(const QStringList &ids, MessageStatus status)
    {
        int count = 0;
        for (const QString &id : ids) {
            const auto row = ChatStore::instance().messageById(id);
            count += row && row->status == status ? 1 : 0;
        }
        return count;
    }

private slots:
    void initTestCase() { QVERIFY(startRelay()); }
    void init()
    {
        newUsers(char(0x31 + 4 * m_sessions));
        for (const User *user : {&m_alice, &m_bob})
            m_relay.markSeen(user->key());
    }
    void cleanup() { endClient(&m_bob); }

    // 1,100 waiting envelopes are three pages (500, 500, 100): each full
    // page asks for the next at once, so three pulls store all of them.
    void aBacklogDrainsPageAfterPage()
    {
        constexpr int kBacklog = 1100;
        QSet<QString> ids;
        for (int i = 0; i < kBacklog; ++i) {
            const QString id = newId();
            ids.insert(id);
            m_relay.enqueueRaw(m_bob.key(), envelopeJson(m_alice, m_bob, textContent(QString::number(i)), id));
        }
        QVERIFY(signInHere(m_bob));
        m_chat = makeController();
        m_relay.http().resetCounts();
        m_chat->start();
        m_chat->messaging().push.shutDown();
        QTRY_COMPARE_WITH_TIMEOUT(m_relay.queueSize(m_bob.key()), 0, 30000);
        QTRY_VERIFY(!m_chat->syncing());
        const QList<MessageRecord> stored =
            ChatStore::instance().messages(ChatStore::instance().conversationIdFor(m_alice.key()));
        QCOMPARE(stored.size(), kBacklog);
        for (const MessageRecord &row : stored)
            QVERIFY(ids.contains(row.id));
        QCOMPARE(m_relay.requestCount(QStringLiteral("/v1/message/pull")), 3);
        // The sidebar is read on a worker, a moment after the last pull.
        QTRY_COMPARE(rowOf(m_chat->conversations(), m_alice.key()).value("unread").toInt(), kBacklog);
    }

    // The relay goes away while Alice writes and comes back on the same
    // address: her messages show as sending meanwhile, then go out once
    // each as soon as a pull gets through, and Bob gets each once; unless
    // she deleted the conversation meanwhile: then none goes out.
    void sendsMadeDuringAnOutageGoOutOnce_data()
    {
        QTest::addColumn<bool>("deleted");
        QTest::newRow("kept") << false;
        QTest::newRow("conversation deleted meanwhile") << true;
    }
    void sendsMadeDuringAnOutageGoOutOnce()
    {
        QFETCH(bool, deleted);
        startAs(m_alice);
        QVERIFY(m_chat->newChat(m_bob.key()));
        const quint16 port = m_relay.port();
        m_relay.stop();
        QSignalSpy finished(&outbox(), &Outbox::sendFinished);
        for (int i = 0; i < 5; ++i)
            m_chat->sendText(QStringLiteral("during the outage %1").arg(i));
        QTRY_VERIFY(outbox().inFlight() == 0 && outbox().waiting() == 5);
        inbox().pullOnce();
        QTRY_VERIFY(!m_chat->syncing());
        QCOMPARE(m_chat->relayStatusText(), QStringLiteral("重新连接中…"));
        QStringList ids;
        for (const QVariant &row : m_chat->messages())
            ids << row.toMap().value("id").toString();
        QCOMPARE(statusCount(ids, MessageStatus::Sending), 5);
        QVERIFY(finished.isEmpty());

        if (deleted)
            m_chat->deleteConversation(m_bob.key());
        QCOMPARE(m_relay.start(port), port);
        m_chat->refresh();
        if (deleted) {
            QTRY_VERIFY(!m_chat->syncing() && outbox().waiting() == 0 && outbox().inFlight() == 0);
            QCOMPARE(m_relay.queueSize(m_bob.key()), 0);
            QCOMPARE(finished.size(), 0);
            return;
        }
        // Each reported sent once, and only after the list shows it: a post's
        // job writes the sent status itself, and the window hears of it a
        // turn later, so the store alone may be ahead of the list.
        QTRY_COMPARE(finished.size(), 5);
        for (const QList<QVariant> &send : std::as_const(finished))
            QCOMPARE(send.at(1).toInt(), int(MessageStatus::Sent));
        QCOMPARE(statusCount(ids, MessageStatus::Sent), 5);
        QCOMPARE(m_chat->relayStatusText(), QString());
        QStringList queued = m_relay.queuedIds(m_bob.key());
        std::sort(queued.begin(), queued.end());
        std::sort(ids.begin(), ids.end());
        QCOMPARE(queued, ids);
        // The list shows what the store holds, entry by entry.
        for (const QVariant &row : m_chat->messages())
            QCOMPARE(row.toMap().value("status").toInt(), int(MessageStatus::Sent));
    }

    // Sends refused by a relay whose pulls go through (a proxy failing only
    // the sends) wait after the failures; the next pull that goes through
    // sends them, whatever the wait had grown to.
    void sendsResumeWhenAPullGoesThrough()
    {
        startAs(m_alice);
        QVERIFY(m_chat->newChat(m_bob.key()));
        m_relay.setFault(QStringLiteral("/v1/message/send"), Fault::http500());
        QSignalSpy finished(&outbox(), &Outbox::sendFinished);
        for (int i = 0; i < 2 * Outbox::kMaxPosts; ++i)
            m_chat->sendText(QStringLiteral("refused at first %1").arg(i));
        QTRY_VERIFY(outbox().inFlight() == 0 && outbox().waiting() == 2 * Outbox::kMaxPosts);
        m_relay.clearFaults();
        inbox().pullOnce();
        QTRY_COMPARE(finished.size(), 2 * Outbox::kMaxPosts);
        for (const QList<QVariant> &send : std::as_const(finished))
            QCOMPARE(send.at(1).toInt(), int(MessageStatus::Sent));
        QCOMPARE(m_relay.queueSize(m_bob.key()), 2 * Outbox::kMaxPosts);
    }

    // A relay that fails, answers garbage or the wrong shape is asked once
    // per wait, not at every tick of the pull timer; the user is told it cannot be reached; once it answers, the inbox
    // comes in.
    void aMisbehavingRelayIsLeftAlone_data()
    {
        QTest::addColumn<int>("kind"); // 0 HTTP 500, 1 malformed, 2 wrongly typed
        QTest::newRow("HTTP 500") << 0;
        QTest::newRow("malformed JSON") << 1;
        QTest::newRow("wrongly typed") << 2;
    }
    void aMisbehavingRelayIsLeftAlone()
    {
        QFETCH(int, kind);
        startAs(m_bob);
        const QString id = queueText(m_alice, m_bob, QStringLiteral("waiting for a sane relay"));
        const QString pull = QStringLiteral("/v1/message/pull");
        m_relay.setFault(pull, kind == 0   ? Fault::http500()
                               : kind == 1 ? Fault::malformedJson()
                                           : Fault::custom(200, "{\"envelopes\":{\"0\":1}}"));
        m_relay.http().resetCounts();
        QStringList texts;
        for (int round = 0; round < Inbox::kFailuresShownAsDown; ++round) {
            // Ticks of the pull timer and of the flush while the wait runs.
            for (int tick = 0; tick < 5; ++tick) {
                inbox().pullOnce();
                QTRY_VERIFY(!m_chat->syncing());
            }
            QCOMPARE(m_relay.requestCount(pull), round + 1);
            texts << m_chat->relayStatusText();
            inbox().resumeNow(); // as the relay's socket connecting again would
            QTRY_VERIFY(!m_chat->syncing());
        }
        QCOMPARE(texts, (QStringList{"重新连接中…", "重新连接中…", "连接失败"}));
        QVERIFY(!ChatStore::instance().messageExists(id));

        m_relay.clearFaults();
        m_chat->refresh();
        QTRY_VERIFY(ChatStore::instance().messageExists(id));
        // The pull's job stores the message on its worker; the status is
        // told when its answer reaches the window's thread, a turn later.
        QTRY_COMPARE(m_chat->relayStatusText(), QString());
    }

    // An answer that is not the relay taking the message gets it posted
    // again (Bob gets it once); "already held" settles the send at once.
    void aSendCountsOnlyWhenTheRelayTookIt_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body"); // "endless": a body that never ends
        QTest::addColumn<int>("posts");       // requests until the message is sent
        QTest::addColumn<int>("queued");      // envelopes Bob's queue holds then
        QTest::newRow("empty 200") << 200 << QByteArray() << 2 << 1;
        QTest::newRow("not JSON") << 200 << QByteArray("<html>portal</html>") << 2 << 1;
        QTest::newRow("ok as text") << 200 << QByteArray("{\"ok\":\"true\"}") << 2 << 1;
        QTest::newRow("another message's id")
            << 200 << QByteArray("{\"ok\":true,\"message_id\":\"someone-else\"}") << 2 << 1;
        QTest::newRow("endless answer") << 200 << QByteArray("endless") << 2 << 1;
        QTest::newRow("409 without a code") << 409 << QByteArray() << 2 << 1;
        QTest::newRow("409 with another code") << 409 << QByteArray("{\"error\":\"conflict\"}") << 2 << 1;
        QTest::newRow("409 naming another id") << 409 << QByteArray("{\"message_id\":\"someone-else\"}") << 2 << 1;
        QTest::newRow("id already held, 409") << 409 << QByteArray("{\"error\":\"duplicate\"}") << 1 << 0;
        QTest::newRow("id already held, 409 already_exists")
            << 409 << QByteArray("{\"error\":\"already_exists\"}") << 1 << 0;
        QTest::newRow("the word under a 500") << 500 << QByteArray("{\"error\":\"duplicate\"}") << 2 << 1;
    }
    void aSendCountsOnlyWhenTheRelayTookIt()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, posts);
        QFETCH(int, queued);
        startAs(m_alice);
        QVERIFY(m_chat->newChat(m_bob.key()));
        const QString send = QStringLiteral("/v1/message/send");
        Fault fault = body == "endless" ? Fault::make(FaultKind::Endless) : Fault::custom(status, body);
        fault.remaining = 1;
        m_relay.setFault(send, fault);
        m_relay.http().resetCounts();
        QSignalSpy finished(&outbox(), &Outbox::sendFinished);
        m_chat->sendText(QStringLiteral("taken?"));
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        const QString id = finished.first().at(0).toString();
        QCOMPARE(finished.first().at(1).toInt(), int(MessageStatus::Sent));
        QCOMPARE(ChatStore::instance().messageById(id)->status, MessageStatus::Sent);
        QCOMPARE(m_relay.requestCount(send), posts);
        QCOMPARE(m_relay.queuedIds(m_bob.key()), queued ? QStringList{id} : QStringList{});
    }

    // A burst that reached the relay out of order within one second shows
    // in the sender's order when it carries her clock, else the relay's.
    void aBurstShowsInTheSendersOrder_data()
    {
        QTest::addColumn<bool>("clock");
        QTest::newRow("with the sender's clock") << true;
        QTest::newRow("without: the relay's order") << false;
    }
    void aBurstShowsInTheSendersOrder()
    {
        QFETCH(bool, clock);
        const QStringList relayOrder{"1", "0", "3", "2", "5", "4", "6"};
        const qint64 second = QDateTime::currentSecsSinceEpoch();
        for (const QString &n : relayOrder) {
            m_relay.enqueueRaw(m_bob.key(), textAt(m_alice, m_bob, n, clock ? second * 1000 + n.toInt() : 0, second));
            m_relay.enqueueRaw(m_bob.key(), textAt(m_carol, m_bob, "carol " + n, 0, second));
        }
        as(m_bob);
        ChatStore &store = ChatStore::instance();
        const auto texts = [&store](const User &peer, const QString &prefix) {
            QStringList out;
            for (const MessageRecord &row : store.messages(store.conversationIdFor(peer.key())))
                out << row.text.mid(prefix.size());
            return out;
        };
        const QStringList written{"0", "1", "2", "3", "4", "5", "6"};
        QCOMPARE(texts(m_alice, {}), clock ? written : relayOrder);
        QCOMPARE(texts(m_carol, "carol "), relayOrder);
    }

    // Alice's message reached Bob, but she saw it fail (the answer was
    // lost); her retry posts the same envelope, and Bob shows it once.
    void aRetryOfADeliveredMessageShowsOnce()
    {
        startAs(m_alice);
        QVERIFY(m_chat->newChat(m_bob.key()));
        outbox().setGiveUpSeconds(0);
        m_relay.setFault(QStringLiteral("/v1/message/send"), Fault::make(FaultKind::Http500));
        QSignalSpy finished(&outbox(), &Outbox::sendFinished);
        m_chat->sendText(QStringLiteral("did you get this"));
        QTRY_COMPARE(finished.size(), 1);
        const QString id = finished.first().at(0).toString();
        QCOMPARE(finished.first().at(1).toInt(), int(MessageStatus::Failed));
        m_relay.clearFaults();
        // What the relay would have had: Bob receives and acknowledges it.
        const QJsonObject envelope = QJsonDocument::fromJson(ChatStore::instance().outgoingEnvelope(id).toUtf8()).object();
        m_relay.enqueueRaw(m_bob.key(), envelope);
        endClient();
        as(m_bob);
        QCOMPARE(m_relay.queueSize(m_bob.key()), 0);

        endClient();
        startAs(m_alice);
        m_chat->retryMessage(id);
        QTRY_COMPARE(ChatStore::instance().messageById(id)->status, MessageStatus::Sent);
        endClient();
        as(m_bob);
        const QList<MessageRecord> shown =
            ChatStore::instance().messages(ChatStore::instance().conversationIdFor(m_alice.key()));
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().id, id);
        QCOMPARE(m_relay.queueSize(m_bob.key()), 0);
    }
};

QTEST_GUILESS_MAIN(DeliveryTest)
#include "test_delivery.moc"
