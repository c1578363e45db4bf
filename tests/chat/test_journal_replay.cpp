// The send journal read back by a running session: once the store takes
// writes again (not only at sign-in), never into a conversation deleted
// before or while it is read. (A typed text kept through a kill -9: the
// outbox test's kill table.)
#include "chat_fixture.h"
#include "killed_client.h"
#include "store/failing_vfs.h"

#include "chat/outbox.h"
#include "chat/send_journal.h"

#include <QJsonDocument>
#include <QThreadPool>
#include <QtTest>

using namespace chattest;
using namespace velmor::chat;

class JournalReplayTest : public QObject, private ChatFixture
{
    Q_OBJECT

    QString conversationWithBob() { return ChatStore::instance().conversationIdFor(m_bob.key()); }

    // Sends an earlier run kept only in the journal: signed, never stored.
    void journalSends(const QStringList &texts)
    {
        ChatStore &store = ChatStore::instance();
        QList<JournaledSend> sends;
        for (const QString &text : texts) {
            MessageRecord row = storetest::message(newId(), conversationWithBob(), text,
                                                   QDateTime::currentSecsSinceEpoch());
            row.peer_raw_public_key = m_bob.key();
            row.sender_raw_public_key = m_alice.key();
            row.is_outgoing = true;
            row.status = MessageStatus::Sending;
            QJsonObject wire = envelopeJson(m_alice, m_bob, textContent(text), row.id);
            wire.insert(QStringLiteral("notify_type"), QStringLiteral("message"));
            sends.append({m_alice.key(), row, QString::fromUtf8(QJsonDocument(wire).toJson(QJsonDocument::Compact))});
        }
        QVERIFY(SendJournal::append(SendJournal::pathBeside(store.databasePath()), sends));
    }

    static QStringList storedTexts(const QString &conversation)
    {
        QStringList texts;
        for (const MessageRecord &row : ChatStore::instance().messages(conversation))
            texts << row.text;
        return texts;
    }

private slots:
    void initTestCase()
    {
        storetest::FailingWrites::install();
        QVERIFY(startRelay());
    }
    void init()
    {
        newUsers(0x41);
        // Bob has been online once.
        velmor::net::RelayAuthSession::instance().configure(m_relay.baseUrl(), m_bob.identity);
        QVERIFY(velmor::net::RelayAuthSession::instance().hasToken());
    }
    void cleanup()
    {
        storetest::FailingWrites::setFull(false);
        endClient(&m_bob);
    }

    // Signed in while the disk was full, the journal could not be written
    // into the store: it is, as soon as the store takes writes again, and
    // each send is posted once.
    void replayedOnceTheStoreTakesWritesAgain()
    {
        QVERIFY(signInHere(m_alice));
        ChatStore::instance().ensureDirectConversation(m_bob.key(), m_bob.key(), QStringLiteral("bob"));
        QStringList texts;
        for (int i = 0; i < 20; ++i)
            texts << QStringLiteral("kept while the disk was full %1").arg(i);
        journalSends(texts);
        storetest::FailingWrites::setFull(true);
        m_chat = makeController();
        QSignalSpy restored(m_chat.get(), &ChatController::sendsRestored);
        startQuiet(*m_chat);
        QTest::qWait(300);
        QVERIFY(storedTexts(conversationWithBob()).isEmpty());
        storetest::FailingWrites::setFull(false);
        QTRY_COMPARE_WITH_TIMEOUT(storedTexts(conversationWithBob()), texts, 10000);
        QTRY_COMPARE(restored.size(), 1);
        QCOMPARE(restored.first().first().toInt(), 20);
        QTRY_COMPARE(m_relay.queuedIds(m_bob.key()).size(), 20);
        for (const MessageRecord &row : ChatStore::instance().messages(conversationWithBob()))
            QTRY_COMPARE(ChatStore::instance().messageById(row.id)->status, MessageStatus::Sent);
        QVERIFY(SendJournal::read(SendJournal::pathBeside(ChatStore::instance().databasePath())).isEmpty());
    }

    // A conversation deleted before the journal is read back, in this run
    // or the one before, gets none of its sends back, and none is posted.
    void aDeletedConversationGetsNothingBack_data()
    {
        QTest::addColumn<QString>("when");
        QTest::newRow("deleted while the sign-in reads the journal") << "replay";
        QTest::newRow("deleted in the run that kept them") << "earlier";
    }
    void aDeletedConversationGetsNothingBack()
    {
        QFETCH(QString, when);
        const QString send = QStringLiteral("/v1/message/send");
        m_relay.http().resetCounts();
        QVERIFY(signInHere(m_alice));
        if (when == "earlier") {
            // The disk is full: the texts are shown, kept in the journal;
            // space comes back and the user deletes the conversation before
            // they are written; the program ends.
            m_chat = makeController();
            startQuiet(*m_chat);
            QVERIFY(m_chat->newChat(m_bob.key()));
            m_relay.http().holdRequests(send);
            storetest::FailingWrites::setFull(true);
            for (int i = 0; i < 3; ++i)
                QVERIFY(m_chat->sendText(QStringLiteral("deleted before written %1").arg(i)));
            QTRY_COMPARE(m_chat->messages().size(), 3);
            storetest::FailingWrites::setFull(false);
            m_chat->deleteConversation(m_bob.key());
            m_chat->stop();
            m_relay.http().releaseHeld();
            QTRY_COMPARE(m_chat->pendingJobs(), 0);
            m_chat.reset();
            signOut();
            QVERIFY(signInHere(m_alice));
            m_relay.http().resetCounts();
            m_chat = makeController();
            startQuiet(*m_chat);
        } else {
            ChatStore::instance().ensureDirectConversation(m_bob.key(), m_bob.key(), QStringLiteral("bob"));
            journalSends({QStringLiteral("replayed 0"), QStringLiteral("replayed 1")});
            m_chat = makeController();
            // The sign-in's jobs wait for a turn; the user deletes meanwhile.
            BusyPool busy;
            busy.occupy();
            m_chat->start();
            m_chat->messaging().push.shutDown();
            m_chat->deleteConversation(m_bob.key());
            busy.release();
        }
        QTRY_COMPARE(m_chat->pendingJobs(), 0);
        QTest::qWait(2 * Outbox::kStoreRetryMs);
        QTRY_COMPARE(m_chat->pendingJobs(), 0);
        QVERIFY(storedTexts(conversationWithBob()).isEmpty());
        QCOMPARE(m_relay.requestCount(send), 0);
        QVERIFY(SendJournal::read(SendJournal::pathBeside(ChatStore::instance().databasePath())).isEmpty());
    }
};

QTEST_GUILESS_MAIN(JournalReplayTest)
#include "test_journal_replay.moc"
