// A pull's message rows are written together: a row the store refuses costs
// only its own envelope (and the copies of it in the same pull), which is
// neither acknowledged nor shown, and arrives once the store works again;
// nothing is lost and nothing shows twice.
#include "chat_fixture.h"

#include <QtTest>

using namespace chattest;
using namespace velmor::chat;

class InboxBatchesTest : public QObject, private ChatFixture
{
    Q_OBJECT

    QStringList queued() const { return m_relay.queuedIds(m_bob.key()); }
    int stored()
    {
        ChatStore &store = ChatStore::instance();
        return int(store.messages(store.conversationIdFor(m_alice.key())).size());
    }
    int unread()
    {
        return ChatStore::instance().conversationByPeer(m_alice.key()).value_or(ConversationRecord()).unread_count;
    }

private slots:
    void initTestCase() { QVERIFY(startRelay()); }

    void init()
    {
        newUsers(0x44);
        QVERIFY(signInHere(m_bob));
        m_chat = makeController();
    }

    void cleanup() { endClient(&m_bob); }

    // texts: one envelope each, in pull order; "poison" cannot be stored.
    // copyOf: -1 for a new envelope, else the index of an earlier one that
    // this one repeats (same id, same content).
    void refusedRowsCostOnlyThemselves_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QList<int>>("copyOf");
        QTest::addColumn<int>("kept");
        QTest::addColumn<int>("acknowledged");
        QTest::newRow("one refused among three")
            << QStringList{"first", "poison", "third"} << QList<int>{-1, -1, -1} << 2 << 2;
        QTest::newRow("offered twice in one pull") << QStringList{"twice", "twice"} << QList<int>{-1, 0} << 1 << 2;
        QTest::newRow("refused and offered twice")
            << QStringList{"poison", "poison", "other"} << QList<int>{-1, 0, -1} << 1 << 1;
        QTest::newRow("all refused") << QStringList{"poison", "poison"} << QList<int>{-1, -1} << 0 << 0;
    }

    void refusedRowsCostOnlyThemselves()
    {
        QFETCH(QStringList, texts);
        QFETCH(QList<int>, copyOf);
        QFETCH(int, kept);
        QFETCH(int, acknowledged);
        startQuiet(*m_chat);
        QVERIFY(storetest::SideConnection(m_bob.dbPath).exec(QStringLiteral("CREATE TRIGGER disk_full BEFORE INSERT ON messages WHEN "
                                                        "NEW.text = 'poison' BEGIN SELECT RAISE(ABORT, 'full'); END")));
        QList<QJsonObject> wire;
        for (int i = 0; i < texts.size(); ++i) {
            wire.append(copyOf.at(i) >= 0 ? wire.at(copyOf.at(i))
                                          : envelopeJson(m_alice, m_bob, textContent(texts.at(i)), newId()));
            m_relay.enqueueRaw(m_bob.key(), wire.last());
        }
        int distinct = 0;
        for (int from : copyOf)
            distinct += from < 0 ? 1 : 0;

        QSignalSpy shown(m_chat.get(), &ChatController::systemNotificationRequested);
        const PullOutcome pull = pullAndSettle(*m_chat);
        QCOMPARE(pull.envelopes, int(texts.size()));
        QCOMPARE(pull.acknowledged, acknowledged);
        QCOMPARE(stored(), kept);
        QCOMPARE(unread(), kept);
        QCOMPARE(shown.count(), kept);
        QCOMPARE(queued().size(), int(texts.size()) - acknowledged);

        // Restarted with a store that works: what was refused arrives, once.
        m_chat->stop();
        m_chat.reset();
        QVERIFY(storetest::SideConnection(m_bob.dbPath).exec(QStringLiteral("DROP TRIGGER disk_full")));
        m_chat = makeController();
        startQuiet(*m_chat);
        if (!queued().isEmpty())
            pullAndSettle(*m_chat);
        QTRY_VERIFY(queued().isEmpty());
        QCOMPARE(stored(), distinct);
        QCOMPARE(unread(), distinct);
    }
};

QTEST_GUILESS_MAIN(InboxBatchesTest)
#include "test_inbox_batches.moc"
