// A message that reaches the local relay while the new-message socket is not
// connected is announced to nobody. It shows as soon as the socket
// connects, not at the next timed pull (15 s once connected), also when a
// pull answered before the message is still on its way back; a notice that
// comes during such a pull is not lost either. Each shows once.
#include "chat_fixture.h"

#include <QSemaphore>
#include <QtTest>

#include <atomic>
#include <memory>

using namespace chattest;
using namespace velmor::chat;

class PushCatchUpTest : public QObject, private ChatFixture
{
    Q_OBJECT

    std::shared_ptr<QSemaphore> m_gate;

    PushSocket &inbox() { return m_chat->messaging().push.inbox(); }

private slots:
    void initTestCase() { QVERIFY(startRelay()); }

    void init()
    {
        newUsers(0x34);
        m_gate = std::make_shared<QSemaphore>(0);
        QVERIFY(signInHere(m_bob));
        m_chat = makeController();
    }

    void cleanup()
    {
        m_gate->release(); // a held pull never outlives its case
        endClient(&m_bob);
    }

    void messageBeforeTheSocketShowsOnce_data()
    {
        QTest::addColumn<bool>("byConnect");  // else a notice on the socket
        QTest::addColumn<bool>("pullRunning"); // a pull answered before the message is still out
        QTest::newRow("socket connects after the first pull") << true << false;
        QTest::newRow("socket connects during the first pull") << true << true;
        QTest::newRow("notice during a pull") << false << true;
    }

    void messageBeforeTheSocketShowsOnce()
    {
        QFETCH(bool, byConnect);
        QFETCH(bool, pullRunning);
        if (pullRunning) {
            // The first pull is answered as the relay stood before the
            // message came, and held until the test lets it return.
            auto gate = m_gate;
            auto first = std::make_shared<std::atomic_bool>(true);
            m_chat->messaging().inbox.setPuller([gate, first] {
                if (first->exchange(false)) {
                    const PullPage before = RelayApi::pullPage();
                    gate->acquire();
                    return before;
                }
                return RelayApi::pullPage();
            });
        }
        m_chat->start();
        m_chat->messaging().push.shutDown(); // the socket comes later
        // Settled: the first pull held (or done), the sockets' token jobs over.
        QTRY_COMPARE(m_chat->pendingJobs(), pullRunning ? 1 : 0);
        QCOMPARE(m_chat->syncing(), pullRunning);

        QSignalSpy shown(m_chat.get(), &ChatController::systemNotificationRequested);
        const QString id = queueText(m_alice, m_bob, QStringLiteral("while nobody listened"));
        if (byConnect) {
            m_chat->messaging().push.connectInbox();
            QTRY_VERIFY(inbox().isConnected());
            QCOMPARE(m_chat->pullIntervalMs(), 15000);
        } else {
            emit inbox().textReceived(QStringLiteral("{\"type\":\"message.new\"}"));
        }
        m_gate->release();

        QTRY_VERIFY(ChatStore::instance().messageExists(id));
        QTRY_VERIFY(!m_chat->syncing());
        ChatStore &store = ChatStore::instance();
        QCOMPARE(store.messages(store.conversationIdFor(m_alice.key())).size(), 1);
        QCOMPARE(shown.count(), 1);
        QTRY_VERIFY(m_relay.queuedIds(m_bob.key()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(PushCatchUpTest)
#include "test_push_catch_up.moc"
