// Sending through the local relay: two clients with two identities exchange
// a text, a picture and a voice clip; the statuses a sender sees; retry to
// the failed row's own peer; a result for a row deleted meanwhile; pictures
// shrunk or refused; the voice label. (What the store or the journal keeps
// when a send cannot be written, ends with its session or meets a kill:
// test_outbox_kept.cpp.)
#include "test_outbox_case.h"

#include "chat/image_shrink.h"
#include "identity/envelope.h"

#include <QJsonDocument>
#include <QSemaphore>
#include <QThreadPool>

#include <memory>

using namespace outboxtest;
using velmor::fakes::Fault;
using velmor::fakes::FaultKind;

class OutboxTest : public QObject, private OutboxCase
{
    Q_OBJECT

private slots:
    void initTestCase() { startCases(); }
    void init() { startCase(); }
    void cleanup() { endCase(); }

    void textPictureAndVoiceReachTheOtherClient()
    {
        const int bobQueued = m_relay.queueSize(m_bob.key());
        startAlice(m_bob);
        QSignalSpy done(&outbox(), &Outbox::sendFinished);
        QSignalSpy shown(m_chat.get(), &ChatController::messagesChanged);
        // Its post is held at the relay: on a loaded machine the relay's
        // answer could otherwise reach the window in the same turn as the
        // written row, which then shows sent at once.
        m_relay.http().holdRequests(QStringLiteral("/v1/message/send"));
        m_chat->sendText(QStringLiteral("  hello Bob  "));
        // Shown once written, still sending.
        QVERIFY(shown.wait());
        QCOMPARE(m_chat->messages().size(), 1);
        QCOMPARE(m_chat->messages().last().toMap().value("status").toInt(), 0);
        m_relay.http().releaseHeld();
        QImage picture(640, 480, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        const QString png = m_dir.filePath(QStringLiteral("p%1.png").arg(m_sessions));
        QVERIFY(picture.save(png));
        m_chat->sendImageFromFile(QUrl::fromLocalFile(png).toString());
        const QString clip = writeFile(QStringLiteral("v%1.m4a").arg(m_sessions), QByteArray(3000, 'a'));
        m_chat->sendVoiceFromFile(clip, 1500);

        const auto results = finished(done, 3);
        QCOMPARE(results.size(), 3);
        for (const auto &result : results)
            QCOMPARE(result.second, int(MessageStatus::Sent));
        QCOMPARE(m_relay.queueSize(m_bob.key()), 3 + bobQueued);
        m_chat->stop();
        QTRY_COMPARE(m_chat->pendingJobs(), 0);
        m_chat.reset();
        signOut();

        // Bob's client.
        QVERIFY(signInHere(m_bob));
        m_chat = makeController();
        startQuiet(*m_chat);
        if (m_relay.queueSize(m_bob.key()) > 0)
            pullAndSettle(*m_chat);
        QCOMPARE(m_relay.queueSize(m_bob.key()), 0);
        openAndShow(m_alice.key());
        const QVariantList messages = m_chat->messages();
        QCOMPARE(messages.size(), 3);
        QSet<QString> kinds;
        for (const QVariant &entry : messages) {
            const QVariantMap map = entry.toMap();
            QCOMPARE(map.value("status").toInt(), int(MessageStatus::Received));
            QVERIFY(!map.value("outgoing").toBool());
            kinds.insert(map.value("kind").toString());
            if (map.value("kind") == QLatin1String("text"))
                QCOMPARE(map.value("text").toString(), QStringLiteral("hello Bob"));
            if (map.value("kind") == QLatin1String("image"))
                QCOMPARE(map.value("imageW").toInt(), 640);
            if (map.value("kind") == QLatin1String("voice"))
                QCOMPARE(map.value("durMs").toInt(), 1500);
        }
        QCOMPARE(kinds, (QSet<QString>{"text", "image", "voice"}));
    }

    // A burst reaches the relay, and so the peer, in the order it was
    // written, each message with a later clock than the one before: also
    // when its first post fails and goes again, or when texts are typed one
    // at a time while the one before is on its way. One refused for good
    // holds back none of the others.
    void aBurstArrivesInOrder_data()
    {
        QTest::addColumn<int>("sends");
        QTest::addColumn<QString>("first"); // what the relay does with the first post
        QTest::addColumn<bool>("typed");    // each once the one before is on its way
        QTest::newRow("a burst") << 6 << "takes" << false;
        QTest::newRow("a burst, the first post failing once") << 6 << "fails once" << false;
        QTest::newRow("two typed quickly, the first failing late") << 2 << "fails once" << true;
        QTest::newRow("a burst, the first refused for good") << 6 << "refuses" << false;
    }
    void aBurstArrivesInOrder()
    {
        QFETCH(int, sends);
        QFETCH(QString, first);
        QFETCH(bool, typed);
        startAlice(m_bob);
        const QString send = QStringLiteral("/v1/message/send");
        Fault fault = first == "refuses" ? Fault::custom(403, "{\"error\":\"refused\"}")
                                         : Fault::make(FaultKind::Http500, typed ? 300 : 0);
        fault.remaining = 1;
        if (first != "takes")
            m_relay.setFault(send, fault);
        m_relay.http().resetCounts();
        QSignalSpy done(&outbox(), &Outbox::sendFinished);
        for (int i = 0; i < sends; ++i) {
            QVERIFY(m_chat->sendText(QStringLiteral("burst %1").arg(i)));
            if (typed)
                QTRY_VERIFY(m_relay.requestCount(send) > i);
        }
        QCOMPARE(finished(done, sends).size(), sends);
        QHash<QString, qint64> clockOf;
        for (const QJsonObject &queued : m_relay.queuedEnvelopes(m_bob.key())) {
            const QByteArray plain = velmor::identity::openDirectMessage(
                queued.value(QStringLiteral("ciphertext")).toString(), m_alice.key(), m_bob.identity);
            clockOf.insert(queued.value(QStringLiteral("message_id")).toString(), parseMessageContent(plain).sentAtMs);
        }
        QStringList written;
        qint64 last = 0;
        for (const QVariant &row : m_chat->messages()) {
            const QVariantMap map = row.toMap();
            const bool refused = first == "refuses" && map.value("text") == "burst 0";
            QCOMPARE(map.value("status").toInt(), int(refused ? MessageStatus::Failed : MessageStatus::Sent));
            if (refused)
                continue;
            written << map.value("id").toString();
            QVERIFY2(clockOf.value(written.last()) > last, qPrintable(map.value("text").toString()));
            last = clockOf.value(written.last());
        }
        QCOMPARE(m_relay.queuedIds(m_bob.key()).mid(m_relay.queueSize(m_bob.key()) - written.size()), written);
    }

    void statusFollowsTheRelay_data()
    {
        QTest::addColumn<bool>("toCarol");
        QTest::addColumn<bool>("relayFails");
        QTest::addColumn<int>("status");
        QTest::newRow("sent") << false << false << int(MessageStatus::Sent);
        QTest::newRow("recipient never online") << true << false << int(MessageStatus::AddressUnreachable);
        QTest::newRow("relay refusing") << false << true << int(MessageStatus::Failed);
        // Not reached within the bound: failed only then.
        QTest::newRow("relay failing past the bound") << false << true << int(MessageStatus::Failed);
    }
    void statusFollowsTheRelay()
    {
        QFETCH(bool, toCarol);
        QFETCH(bool, relayFails);
        QFETCH(int, status);
        startAlice(toCarol ? m_carol : m_bob);
        if (relayFails && QByteArray(QTest::currentDataTag()).contains("bound")) {
            outbox().setGiveUpSeconds(0);
            m_relay.setFault(QStringLiteral("/v1/message/send"), Fault::make(FaultKind::Http500));
        } else if (relayFails) {
            m_relay.setFault(QStringLiteral("/v1/message/send"), Fault::custom(403, "{\"error\":\"refused\"}"));
        }
        QSignalSpy done(&outbox(), &Outbox::sendFinished);
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        m_chat->sendText(QStringLiteral("status?"));
        // The answer is written and reported in the turn it comes back, not
        // a frame later.
        while (m_chat->pendingJobs() == 0 && done.isEmpty())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        while (m_chat->pendingJobs() > 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        QCOMPARE(done.count(), 1);
        const auto results = finished(done, 1);
        QCOMPARE(results.size(), 1);
        QCOMPARE(results.first().second, status);
        QCOMPARE(ChatStore::instance().messageById(results.first().first)->status, MessageStatus(status));
        const QStringList errors = sendErrors(failed);
        QCOMPARE(errors.size(), status == int(MessageStatus::Sent) ? 0 : 1);
        if (toCarol)
            QCOMPARE(errors.first(), QStringLiteral("recipientNeverOnline"));
    }

    void blankTextOrNoConversationSendsNothing()
    {
        QVERIFY(signInHere(m_alice));
        m_chat = makeController();
        startQuiet(*m_chat);
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        QVERIFY(!m_chat->sendText(QStringLiteral("no conversation open")));
        QVERIFY(m_chat->newChat(m_bob.key()));
        QVERIFY(!m_chat->sendText(QStringLiteral("   ")));
        QCOMPARE(outbox().inFlight(), 0);
        QVERIFY(m_chat->messages().isEmpty());
        QVERIFY(sendErrors(failed).isEmpty());
    }

    // A failed row tried again goes to its own peer, whatever is open now,
    // as the same message (same row, same id); a sent row is not tried
    // again. A super group's server stores it once under that id: one it
    // refused is stored now, one that reached it (a row an older build left
    // failed, with no request kept) is not stored twice, and one a pull
    // found there before the retry's post went is told sent all the same.
    void retrySendsToTheRowsOwnPeer_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("text") << "text";
        QTest::newRow("picture") << "picture";
        QTest::newRow("super group, refused by the server, then retried") << "refused";
        QTest::newRow("super group, an older build's failed row that reached the server") << "arrived";
        QTest::newRow("super group, its copy pulled back before the retry is posted") << "pulled";
    }
    void retrySendsToTheRowsOwnPeer()
    {
        QFETCH(QString, kind);
        startAlice(m_carol);
        ChatStore &store = ChatStore::instance();
        velmor::fakes::FakeGroupServer *server = nullptr;
        const QString peer = kind == "text" || kind == "picture" ? m_carol.key() : aliceInASuperGroup(server);
        QVERIFY(!peer.isEmpty());
        m_chat->openConversation(peer);
        QSignalSpy done(&outbox(), &Outbox::sendFinished);
        QString id;
        if (kind == "arrived" || kind == "pulled") {
            MessageRecord row = message(newId(), peer, QStringLiteral("posted by an older build"),
                                        QDateTime::currentSecsSinceEpoch(), true);
            row.sender_raw_public_key = m_alice.key();
            row.status = MessageStatus::Failed;
            QVERIFY(store.upsertMessage(row));
            server->appendMessage(m_alice.key(), QStringLiteral("text"), textJson(row.text), false, {}, row.id);
            id = row.id;
        } else {
            if (server)
                server->http().setFault(QStringLiteral("/v1/message/send"),
                                        Fault::custom(403, "{\"error\":\"permission_denied\"}"));
            if (kind == "picture") {
                const QString png = m_dir.filePath(QStringLiteral("r%1.png").arg(m_sessions));
                QVERIFY(noise(300, 200).save(png));
                m_chat->sendImageFromFile(png);
            } else {
                QVERIFY(m_chat->sendText(QStringLiteral("are you there")));
            }
            const QPair<QString, int> result = finished(done, 1).value(0);
            id = result.first;
            QCOMPARE(result.second, int(server ? MessageStatus::Failed : MessageStatus::AddressUnreachable));
            QCOMPARE(int(store.messageById(id)->status), result.second);
            if (server) {
                QVERIFY(server->messages().isEmpty());
                server->http().clearFaults();
            }
            done.clear();
        }

        m_relay.markSeen(m_carol.key());
        const int bobQueued = m_relay.queueSize(m_bob.key());
        QVERIFY(m_chat->newChat(m_bob.key())); // another conversation is open now
        // "pulled": every worker is held while the retry is asked for, and
        // its row is marked sent meanwhile, as a pull that finds the
        // server's copy does, before its post reads it.
        const auto gate = std::make_shared<QSemaphore>();
        const int workers = kind == "pulled" ? QThreadPool::globalInstance()->maxThreadCount() : 0;
        for (int i = 0; i < workers; ++i)
            QThreadPool::globalInstance()->start([gate] { gate->acquire(); });
        m_chat->retryMessage(id);
        if (workers > 0) {
            const bool marked = store.setMessageStatus(id, MessageStatus::Sent);
            gate->release(workers);
            QVERIFY(marked);
        }
        QCOMPARE(finished(done, 1), (QList<QPair<QString, int>>{{id, int(MessageStatus::Sent)}}));
        QCOMPARE(store.messageById(id)->status, MessageStatus::Sent);
        if (server) {
            QCOMPARE(storedUnder(*server, id), 1);
            QCOMPARE(server->messages().size(), 1);
        } else {
            QCOMPARE(m_relay.queuedIds(m_carol.key()), QStringList{id});
            QCOMPARE(store.messageById(id)->peer_raw_public_key, m_carol.key());
            QCOMPARE(store.messages(store.conversationIdFor(m_carol.key())).size(), 1);
        }
        QVERIFY(store.messages(store.conversationIdFor(m_bob.key())).isEmpty());
        QCOMPARE(m_relay.queueSize(m_bob.key()), bobQueued);

        // A sent row is not retried.
        m_chat->retryMessage(id);
        QCOMPARE(outbox().inFlight(), 0);
    }

    // Deleted while its send ran: the result brings nothing back.
    void resultForADeletedRowWritesNothing()
    {
        startAlice(m_bob);
        m_relay.setFault(QStringLiteral("/v1/message/send"), Fault::make(FaultKind::Delay, 300));
        QSignalSpy done(&outbox(), &Outbox::sendFinished);
        m_chat->sendText(QStringLiteral("soon gone"));
        QTRY_COMPARE(m_chat->messages().size(), 1);
        m_chat->deleteConversation(m_bob.key());
        QCOMPARE(finished(done, 1).size(), 1);
        QVERIFY(!ChatStore::instance().messageExists(done.first().first().toString()));
        m_chat->openConversation(m_bob.key());
        QVERIFY(m_chat->messages().isEmpty());
    }

    // limit 0: the normal limit. A picture is sent at most that large, or
    // refused with no row.
    void picturesAreShrunkOrRefused_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("word");
        QTest::newRow("large noise is scaled down") << 2400 << 0 << QString();
        QTest::newRow("cannot get under the limit") << 800 << 2000 << "image_too_large";
        QTest::newRow("not a picture") << 0 << 0 << "invalid_image";
    }
    void picturesAreShrunkOrRefused()
    {
        QFETCH(int, width);
        QFETCH(int, limit);
        QFETCH(QString, word);
        startAlice(m_bob);
        if (limit > 0)
            outbox().setImageByteLimit(limit);
        const QString path = m_dir.filePath(QStringLiteral("big%1.png").arg(m_sessions));
        if (width > 0)
            QVERIFY(noise(width, width * 3 / 4).save(path));
        else
            QVERIFY(!writeFile(QStringLiteral("big%1.png").arg(m_sessions), "no picture here").isEmpty());
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        QSignalSpy done(&outbox(), &Outbox::sendFinished);
        m_chat->sendImageFromFile(path);
        QTRY_COMPARE_WITH_TIMEOUT(outbox().inFlight(), 0, 20000);
        if (!word.isEmpty()) {
            QCOMPARE(sendErrors(failed), QStringList{word});
            QVERIFY(m_chat->messages().isEmpty());
            return;
        }
        QCOMPARE(done.count(), 1);
        const QVariantMap row = m_chat->messages().last().toMap();
        QCOMPARE(row.value("imageW").toInt(), 1280);
        QCOMPARE(row.value("imageH").toInt(), 960);
        const auto stored = ChatStore::instance().messageById(row.value("id").toString());
        const QJsonObject media = QJsonDocument::fromJson(stored->attachment.toUtf8()).object();
        QVERIFY(velmor::crypto::base64UrlDecode(media.value("b64").toString()).size() <= kMaxSentImageBytes);
    }

    void smallPictureKeepsItsSize()
    {
        QImage image(1000, 800, QImage::Format_RGB32);
        image.fill(Qt::blue);
        const ShrunkImage shrunk = shrinkImage(image);
        QVERIFY(shrunk.error.isEmpty());
        QCOMPARE(QSize(shrunk.width, shrunk.height), QSize(1000, 800));
        QVERIFY(shrunk.jpeg.startsWith("\xff\xd8"));
    }

    void voiceLabels_data()
    {
        QTest::addColumn<int>("durationMs");
        QTest::addColumn<QString>("label");
        QTest::newRow("none") << 0 << QStringLiteral("[语音]");
        QTest::newRow("negative") << -5 << QStringLiteral("[语音]");
        QTest::newRow("1 ms") << 1 << QStringLiteral("[语音 1\"]");
        QTest::newRow("1000 ms") << 1000 << QStringLiteral("[语音 1\"]");
        QTest::newRow("1001 ms") << 1001 << QStringLiteral("[语音 2\"]");
    }
    void voiceLabels()
    {
        QFETCH(int, durationMs);
        QFETCH(QString, label);
        QCOMPARE(Outbox::voiceLabel(durationMs), label);
    }
};

QTEST_GUILESS_MAIN(OutboxTest)
#include "test_outbox.moc"
