// Retrying a voice clip that did not go out: the clip the peer finally gets is
// the one recorded, with its length; when no copy of it can be written for
// the new send, nothing goes out and the failed row stays to be tried again.
// Sends cut off by a session's end, and the send journal read back by a
// running session: once the store takes writes again (not only at sign-in),
// never into a conversation deleted before or while it is read. (A typed
// text kept through a kill -9: the kill table of test_outbox_kept.cpp.)
#include "chat_fixture.h"

#include "chat/outbox.h"
#include "chat/send_journal.h"
#include "store/failing_vfs.h"
#include "identity/crypto.h"
#include "identity/envelope.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSemaphore>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QtTest>

using namespace chattest;
using namespace velmor::chat;
using velmor::fakes::Fault;

class OutboxRetryTest : public QObject, private ChatFixture
{
    Q_OBJECT

    Outbox &outbox() { return m_chat->messaging().outbox; }

    static QString mediaFolder()
    {
        return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/media");
    }

    // The (id, status) of the next finished send; empty id when none came.
    QPair<QString, int> nextFinished(QSignalSpy &spy)
    {
        if (spy.isEmpty() && !spy.wait(5000))
            return {};
        const QList<QVariant> args = spy.takeFirst();
        return {args.at(0).toString(), args.at(1).toInt()};
    }

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

    // The case's client ended, and Bob online once, for the journal's cases.
    void bobOnlineOnce()
    {
        endClient();
        velmor::net::RelayAuthSession::instance().configure(m_relay.baseUrl(), m_bob.identity);
        QVERIFY(velmor::net::RelayAuthSession::instance().hasToken());
    }

private slots:
    void initTestCase()
    {
        storetest::FailingWrites::install();
        QVERIFY(startRelay());
    }
    void init()
    {
        newUsers(0x71);
        // Carol is someone new each case, never online unless the case says so.
        m_carol = makeUser(m_carol.name, char(0x72 + m_sessions));
        QVERIFY(signInHere(m_alice));
        m_chat = makeController();
        startQuiet(*m_chat);
        QVERIFY(m_chat->newChat(m_carol.key()));
    }
    void cleanup()
    {
        storetest::FailingWrites::setFull(false);
        QFile::remove(mediaFolder()); // the blocker of a case, when there was one
        endClient();
    }

    // A failed one-to-one clip is posted again as the envelope it was
    // (same id, one row); one of an older version, with no envelope kept,
    // is sent anew from the stored clip, and only when a copy of it can be
    // written.
    void retryingAVoiceClip_data()
    {
        QTest::addColumn<bool>("peerUnknown");   // else the relay refuses the first send
        QTest::addColumn<bool>("envelopeKept");
        QTest::addColumn<bool>("tempWritable");
        QTest::newRow("peer was never online") << true << true << true;
        QTest::newRow("relay refused the send") << false << true << true;
        QTest::newRow("older row, sent anew") << true << false << true;
        QTest::newRow("older row, no copy can be written") << true << false << false;
    }
    void retryingAVoiceClip()
    {
        QFETCH(bool, peerUnknown);
        QFETCH(bool, envelopeKept);
        QFETCH(bool, tempWritable);
        if (!peerUnknown) {
            m_relay.markSeen(m_carol.key());
            m_relay.setFault(QStringLiteral("/v1/message/send"),
                             Fault::custom(400, QByteArrayLiteral("{\"error\":\"refused\"}")));
        }
        QByteArray clip(4000, '\0');
        for (int i = 0; i < clip.size(); ++i)
            clip[i] = char(i * 7 + 3); // every byte value, so a text conversion would show
        const QString path = m_dir.filePath(QStringLiteral("clip-%1.m4a").arg(m_sessions));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(clip) == clip.size());
        }
        QSignalSpy done(&outbox(), &Outbox::sendFinished);
        m_chat->sendVoiceFromFile(path, 2300);
        const auto first = nextFinished(done);
        QCOMPARE(first.second, int(peerUnknown ? MessageStatus::AddressUnreachable : MessageStatus::Failed));
        QFile::remove(path); // the recording is gone; the stored clip is all there is
        if (!envelopeKept) {
            storetest::SideConnection side(m_alice.dbPath);
            QVERIFY(side.exec(QStringLiteral("DELETE FROM outgoing_envelopes")));
        }

        m_relay.clearFaults();
        m_relay.markSeen(m_carol.key());
        if (!tempWritable) {
            // A file where the private media folder goes.
            QVERIFY(QDir(mediaFolder()).removeRecursively());
            QFile file(mediaFolder());
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        m_chat->retryMessage(first.first);
        ChatStore &store = ChatStore::instance();
        if (!tempWritable) {
            QCOMPARE(outbox().inFlight(), 0);
            QCOMPARE(store.messageById(first.first)->status, MessageStatus::AddressUnreachable);
            QCOMPARE(m_relay.queueSize(m_carol.key()), 0);
            return;
        }

        const auto second = nextFinished(done);
        QCOMPARE(second.second, int(MessageStatus::Sent));
        QCOMPARE(second.first == first.first, envelopeKept);
        QCOMPARE(store.messageExists(first.first), envelopeKept);
        QCOMPARE(store.messages(store.conversationIdFor(m_carol.key())).size(), 1);
        QCOMPARE(m_relay.queueSize(m_carol.key()), 1);

        // What Carol opens is the clip as recorded, with its length.
        const QJsonObject sent = m_relay.lastBody(QStringLiteral("/v1/message/send"));
        QCOMPARE(sent.value(QStringLiteral("message_id")).toString(), second.first);
        const QByteArray plain = velmor::identity::openDirectMessage(
            sent.value(QStringLiteral("ciphertext")).toString(), m_alice.key(), m_carol.identity);
        const MessageContent content = parseMessageContent(plain);
        QVERIFY(content.ok);
        QCOMPARE(content.type, QStringLiteral("voice"));
        QCOMPARE(velmor::crypto::base64UrlDecode(content.voiceB64), clip);
        QCOMPARE(content.durationMs, 2300);
    }

    // A send cut off and resumed later: within its envelope's lifetime the
    // stored envelope goes out; past it the message fails, and a retry is a
    // new message, never the old id re-signed.
    void anInterruptedSendAndItsEnvelopesLifetime_data()
    {
        QTest::addColumn<qint64>("expiresIn"); // seconds from now; 0: as signed
        QTest::addColumn<bool>("outlived");
        QTest::newRow("within its lifetime") << qint64(0) << false;
        QTest::newRow("a minute left") << qint64(60) << true;
    }
    void anInterruptedSendAndItsEnvelopesLifetime()
    {
        QFETCH(qint64, expiresIn);
        QFETCH(bool, outlived);
        ChatStore &store = ChatStore::instance();
        const QString send = QStringLiteral("/v1/message/send");
        m_relay.markSeen(m_carol.key());
        m_relay.setFault(send, Fault::http500());
        m_chat->sendText(QStringLiteral("cut off"));
        QTRY_VERIFY(outbox().waiting() == 1 && outbox().inFlight() == 0);
        const QString id = m_chat->messages().first().toMap().value("id").toString();
        m_chat->stop();
        QTRY_COMPARE(m_chat->pendingJobs(), 0);
        m_relay.clearFaults();
        if (expiresIn != 0) {
            QJsonObject envelope = QJsonDocument::fromJson(store.outgoingEnvelope(id).toUtf8()).object();
            const qint64 expiresAt = QDateTime::currentSecsSinceEpoch() + expiresIn;
            envelope.insert(QStringLiteral("expires_at"), double(expiresAt));
            envelope.insert(QStringLiteral("created_at"), double(expiresAt - velmor::identity::kEnvelopeLifetimeSeconds));
            storetest::SideConnection side(m_alice.dbPath);
            QVERIFY(side.exec(QStringLiteral("UPDATE outgoing_envelopes SET envelope_json=? WHERE message_id=?"),
                              {QString::fromUtf8(QJsonDocument(envelope).toJson(QJsonDocument::Compact)), id}));
        }
        m_relay.http().resetCounts();
        QSignalSpy done(&outbox(), &Outbox::sendFinished);
        startQuiet(*m_chat);
        if (!outlived) {
            const auto resent = nextFinished(done);
            QCOMPARE(resent, qMakePair(id, int(MessageStatus::Sent)));
            QCOMPARE(m_relay.queuedIds(m_carol.key()), QStringList{id});
            return;
        }
        waitIdle();
        QCOMPARE(store.messageById(id)->status, MessageStatus::Failed);
        QCOMPARE(m_relay.requestCount(send), 0);

        m_chat->openConversation(m_carol.key());
        m_chat->retryMessage(id);
        const auto retried = nextFinished(done);
        QCOMPARE(retried.second, int(MessageStatus::Sent));
        QVERIFY(retried.first != id);
        QVERIFY(!store.messageExists(id));
        QCOMPARE(m_relay.queuedIds(m_carol.key()), QStringList{retried.first});
        const QJsonObject posted = m_relay.lastBody(send);
        QVERIFY(posted.value(QStringLiteral("expires_at")).toDouble()
                > QDateTime::currentSecsSinceEpoch() + velmor::identity::kEnvelopeLifetimeSeconds - 600);
    }

    // A send cut off by the end of its session (log-out, or the program
    // killed) never reports back: at the next start it shows as failed and
    // can be tried again; delivered and received messages stay as they were,
    // also Dave's under the same id (ids are the senders' choice). The
    // window's thread writes nothing for it, and a list opened before it is
    // failed shows it failed.
    void sendCutOffShowsFailedAtNextStart()
    {
        ChatStore &store = ChatStore::instance();
        const QString conversation = store.conversationIdFor(m_carol.key());
        MessageRecord cutOff = message(newId(), conversation, QStringLiteral("cut off"), 100, true);
        MessageRecord delivered = message(newId(), conversation, QStringLiteral("delivered"), 101, true);
        delivered.status = MessageStatus::Sent;
        const MessageRecord received =
            message(cutOff.id, store.conversationIdFor(m_dave.key()), QStringLiteral("received"), 102);
        for (MessageRecord *m : {&cutOff, &delivered}) {
            m->peer_raw_public_key = m_carol.key();
            m->sender_raw_public_key = m_alice.key();
        }
        m_chat->stop();
        QVERIFY(store.upsertMessages({received, cutOff, delivered}));

        storetest::FailingWrites::watchThisThread();
        m_chat->start();
        QCOMPARE(storetest::FailingWrites::watchedWrites(), 0);
        m_chat->openConversation(m_carol.key());
        const auto shownStatus = [&] {
            for (const QVariant &row : m_chat->messages()) {
                if (row.toMap().value("id") == cutOff.id)
                    return row.toMap().value("status").toInt();
            }
            return -1;
        };
        QTRY_COMPARE(shownStatus(), int(MessageStatus::Failed));
        QCOMPARE(store.messageById(conversation, cutOff.id)->status, MessageStatus::Failed);
        QCOMPARE(store.messageById(delivered.id)->status, MessageStatus::Sent);
        QCOMPARE(store.messageById(received.conversation_id, received.id)->status, MessageStatus::Received);

        m_relay.markSeen(m_carol.key());
        QSignalSpy done(&outbox(), &Outbox::sendFinished);
        m_chat->openConversation(m_carol.key());
        m_chat->retryMessage(cutOff.id);
        const auto resent = nextFinished(done);
        QVERIFY2(resent.second == int(MessageStatus::Sent), qPrintable(m_chat->lastError().value("detail").toString()));
        QCOMPARE(m_relay.queueSize(m_carol.key()), 1);
        QVERIFY(!store.messageExists(conversation, cutOff.id));
        QCOMPARE(store.messageById(received.conversation_id, received.id)->status, MessageStatus::Received);
    }

    // Signed in while the disk was full, the journal could not be written
    // into the store: it is, as soon as the store takes writes again, and
    // each send is posted once.
    void replayedOnceTheStoreTakesWritesAgain()
    {
        bobOnlineOnce();
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

    // The sign-in's reading of the journal finds the record of a text typed
    // meanwhile, and answers only after that text's own job has written and
    // shown it (a loaded machine's order): the text is still sealed, shown
    // and posted once, its status is not set back, and nothing is told as
    // restored from an earlier run.
    void aTextTypedWhileTheJournalIsReadGoesOutOnce()
    {
        bobOnlineOnce();
        const QString send = QStringLiteral("/v1/message/send");
        QVERIFY(signInHere(m_alice));
        const QString journal = SendJournal::pathBeside(ChatStore::instance().databasePath());
        m_relay.http().resetCounts();
        m_chat = makeController();
        QSignalSpy kept(m_chat.get(), &ChatController::textKept);
        QSignalSpy restored(m_chat.get(), &ChatController::sendsRestored);
        QSignalSpy done(&outbox(), &Outbox::sendFinished);
        // The reading, once it has read the file, waits for the test's word.
        auto read = std::make_shared<QSemaphore>();
        auto answer = std::make_shared<QSemaphore>();
        Outbox::setJournalReadHookForTests([read, answer](Outbox::JournalReading step) {
            if (step != Outbox::JournalReading::Read)
                return;
            read->release();
            answer->acquire();
        });
        const auto unhook = qScopeGuard([answer] {
            Outbox::setJournalReadHookForTests({});
            answer->release(1000);
        });
        // The sign-in's jobs wait for a turn; the user types meanwhile.
        BusyPool busy;
        busy.occupy();
        m_chat->start();
        m_chat->messaging().push.shutDown();
        QVERIFY(m_chat->newChat(m_bob.key()));
        QVERIFY(m_chat->sendText(QStringLiteral("typed as the journal is read")));
        QTRY_COMPARE(SendJournal::read(journal).size(), 1); // its typed record
        // One thread takes the queued jobs in order: the reading (queued at
        // the start) reads the record before the text's job can store it.
        busy.releaseOne();
        QTRY_VERIFY(read->available() > 0);
        // Another takes the rest: the text is written, shown and posted.
        busy.releaseOne();
        QTRY_COMPARE(kept.size(), 1);
        QTRY_COMPARE(done.size(), 1);
        answer->release();
        busy.release();
        waitIdle();
        QCOMPARE(kept.size(), 1);
        QCOMPARE(done.size(), 1);
        QCOMPARE(done.first().at(1).toInt(), int(MessageStatus::Sent));
        const QString id = done.first().first().toString();
        QCOMPARE(ChatStore::instance().messageById(id)->status, MessageStatus::Sent);
        QCOMPARE(m_chat->messages().size(), 1);
        QCOMPARE(m_chat->messages().first().toMap().value("status").toInt(), int(MessageStatus::Sent));
        QCOMPARE(m_relay.requestCount(send), 1);
        QVERIFY(restored.isEmpty());
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
        bobOnlineOnce();
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

QTEST_GUILESS_MAIN(OutboxRetryTest)
#include "test_outbox_retry.moc"
