// The session lifecycle and its background jobs: nothing runs before
// start(), start() lists every stored chat, normal group and super group at
// once, stop() empties everything in a fixed signal order and leaves nothing
// running, and a job's result that comes back after stop() or after another
// user signed in is dropped without a trace.
#include "chat_fixture.h"

#include "chat/supergroup_directory.h"
#include "groups/group_card.h"

#include <QSemaphore>
#include <QThreadPool>
#include <QtTest>

#include <atomic>

using namespace chattest;


class SessionTest : public QObject, private ChatFixture
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_ann = makeUser(QStringLiteral("ann-") + QString::number(++m_sessions), 0x31);
        m_ben = makeUser(QStringLiteral("ben-") + QString::number(m_sessions), 0x32);
        m_chat = makeController();
    }
    void cleanup()
    {
        // Signal logs of the test function are gone: nothing may reach them.
        m_chat->disconnect();
        QTRY_COMPARE(m_chat->pendingJobs(), 0);
        m_chat.reset();
        signOut();
    }

    void startBeforeSignInDoesNothing()
    {
        signOut();
        QStringList log;
        recordSignals(*m_chat, log);
        m_chat->start();
        QVERIFY(log.isEmpty());
        QVERIFY(!m_chat->isStarted());
        QVERIFY(m_chat->conversations().isEmpty());
    }

    void startListsEveryStoredConversationAtOnce()
    {
        QVERIFY(signIn(m_ann));
        ChatStore &store = ChatStore::instance();
        const QString peer = peerKey(0x41);
        store.ensureDirectConversation(peer, peer, QStringLiteral("p"));
        QVERIFY(store.upsertMessage(message("m1", store.conversationIdFor(peer), "hello", 100)));
        store.ensureGroupConversation(QStringLiteral("g1"), QStringLiteral("Hikers"));
        QVERIFY(store.upsertSuperGroup(superGroup("https://sg.one", "Readers", 50, "premium_plus")));
        QVERIFY(store.upsertSuperGroup(superGroup("https://sg.two", "", 40)));

        QStringList log;
        recordSignals(*m_chat, log);
        startListed(*m_chat);

        QVERIFY(m_chat->isStarted());
        QCOMPARE(log.count("lifecycleRestored"), 1);
        // Read in the background, the list arrives whole in one step.
        QCOMPARE(log.count("conversationsChanged"), 1);

        QStringList peers, displays;
        for (const QVariant &row : m_chat->conversations()) {
            peers << row.toMap().value("peer").toString();
            displays << row.toMap().value("display").toString();
        }
        QCOMPARE(peers.size(), 4);
        QVERIFY(peers.contains(peer));
        QVERIFY(peers.contains("group:g1"));
        QVERIFY(peers.contains("sg:https://sg.one"));
        QVERIFY(peers.contains("sg:https://sg.two"));
        QVERIFY(displays.contains("Hikers"));
        QVERIFY(displays.contains("Readers"));
        QVERIFY(displays.contains(QStringLiteral("超级群")));
    }

    // The list read at sign-in, whatever its length, fills the sidebar in
    // one step; it is dropped when the session ended or the list was read
    // again meanwhile. A list read ahead by the sign-in's worker is shown
    // by start() itself, and only to its owner.
    void signInListIsShownWholeOnlyIfStillCurrent_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<int>("count");
        QTest::newRow("nothing") << "" << 40;
        QTest::newRow("nothing, a long list") << "" << 300;
        QTest::newRow("signed out") << "stop" << 40;
        QTest::newRow("another user signed in") << "ben" << 40;
        QTest::newRow("a conversation came and the list was read again") << "change" << 40;
        QTest::newRow("read ahead by the sign-in, one more since") << "ahead" << 40;
        QTest::newRow("read ahead for another user") << "ahead of ann" << 40;
        QTest::newRow("read ahead by the sign-in, still reading at the start") << "reading ahead" << 40;
    }
    void signInListIsShownWholeOnlyIfStillCurrent()
    {
        QFETCH(QString, meanwhile);
        QFETCH(int, count);
        QVERIFY(signIn(m_ann));
        QStringList want;
        for (int i = 0; i < count; ++i) {
            want << QStringLiteral("%1%2").arg(peerKey(char(0x50 + i % 40))).arg(i / 40);
            ChatStore::instance().ensureDirectConversation(want.last(), want.last(), QStringLiteral("p"));
        }
        // Read ahead by the sign-in, done or only started (the pool's threads
        // held); one more conversation comes after.
        BusyPool held;
        if (meanwhile == "ahead" || meanwhile == "reading ahead") {
            if (meanwhile == "reading ahead")
                held.occupy();
            m_chat->readConversationsAheadWork()();
            if (meanwhile == "ahead")
                QThreadPool::globalInstance()->waitForDone();
            want << peerKey(0x7b);
            ChatStore::instance().ensureDirectConversation(want.last(), want.last(), QStringLiteral("p"));
        }
        if (meanwhile == "ahead of ann") {
            m_chat->readConversationsAheadWork()();
            signOut();
            QVERIFY(signIn(m_ben));
            want.clear();
        }
        // Still reading: the job after the reading waits, and with it every
        // job start() queues behind it.
        BusyPool after;
        if (meanwhile == "reading ahead")
            after.queueOne();
        QSignalSpy inserted(m_chat->conversationModel(), &QAbstractItemModel::rowsInserted);
        m_chat->start();
        // What was read ahead is shown by start() itself, or once read: as
        // soon as it lands, with no pool thread free to read the list again.
        QCOMPARE(m_chat->conversations().size(), meanwhile == "ahead" ? count : 0);
        if (meanwhile == "reading ahead") {
            held.releaseOne();
            QTRY_COMPARE(m_chat->conversations().size(), count + 1);
            after.release();
        }
        held.release();
        QThreadPool::globalInstance()->waitForDone(); // read, not yet shown
        if (meanwhile == "stop" || meanwhile == "ben") {
            m_chat->stop();
            want.clear();
        }
        if (meanwhile == "ben") {
            signOut();
            QVERIFY(signIn(m_ben));
            m_chat->start();
        }
        if (meanwhile == "change") {
            want << peerKey(0x7a);
            ChatStore::instance().ensureDirectConversation(want.last(), want.last(), QStringLiteral("p"));
            m_chat->host().reloadConversations();
        }
        QTRY_COMPARE(m_chat->pendingJobs(), 0);
        QStringList shown = peersOf(m_chat->conversations());
        shown.sort();
        want.sort();
        QCOMPARE(shown, want);
        QCOMPARE(m_chat->conversationModel()->rowCount(), want.size());
        QCOMPARE(inserted.count(), meanwhile == "ahead" ? 1 : 0);
    }

    void stopEmptiesEverythingInOrder()
    {
        QVERIFY(signIn(m_ann));
        const QString peer = peerKey(0x42);
        ChatStore::instance().ensureDirectConversation(peer, peer, QStringLiteral("p"));
        velmor::chat::ContactRecord contact;
        contact.wallet_public_key = peer;
        contact.erc20_address = QStringLiteral("0xabc");
        ChatStore::instance().upsertContact(contact);
        startListed(*m_chat);
        m_chat->openConversation(peer);
        m_chat->loadCurrentFriendInfo();
        QVERIFY(!m_chat->conversations().isEmpty());
        QVERIFY(!m_chat->contacts().isEmpty());
        QVERIFY(!m_chat->friendInfo().isEmpty());

        QStringList log;
        recordSignals(*m_chat, log);
        m_chat->stop();
        QCOMPARE(log, (QStringList{"conversationsChanged", "messagesChanged", "contactsChanged",
                                   "notificationsChanged", "friendInfoChanged", "discoveryChanged",
                                   "currentChanged"}));
        QVERIFY(!m_chat->isStarted());
        QVERIFY(m_chat->conversations().isEmpty());
        QVERIFY(m_chat->messages().isEmpty());
        QVERIFY(m_chat->contacts().isEmpty());
        QVERIFY(m_chat->friendInfo().isEmpty());
        QVERIFY(m_chat->notifications().isEmpty());
        QCOMPARE(m_chat->notificationCount(), 0);
        QVERIFY(m_chat->currentPeer().isEmpty());
        QVERIFY(m_chat->currentTitle().isEmpty());
        QVERIFY(!m_chat->currentVerified());
        QVERIFY(m_chat->host().superGroups().entries().isEmpty());
    }

    void secondStartRebuildsAndRestoresAgain()
    {
        QVERIFY(signIn(m_ann));
        startListed(*m_chat);
        QSignalSpy restored(m_chat.get(), &ChatController::lifecycleRestored);
        const QString peer = peerKey(0x43);
        ChatStore::instance().ensureDirectConversation(peer, peer, QStringLiteral("p"));
        startListed(*m_chat);
        QCOMPARE(restored.count(), 1);
        QCOMPARE(m_chat->conversations().size(), 1);
        QVERIFY(m_chat->isStarted());
    }

    void recoveryNeedsTheStoreAndANetwork()
    {
        QSignalSpy restored(m_chat.get(), &ChatController::lifecycleRestored);
        m_chat->resumeAfterNetworkRecovery(); // signed out: nothing
        QCOMPARE(restored.count(), 0);
        QVERIFY(signIn(m_ann));
        m_chat->handleReachabilityChange(QNetworkInformation::Reachability::Disconnected);
        QCOMPARE(restored.count(), 0);
        m_chat->handleReachabilityChange(QNetworkInformation::Reachability::Online);
        QCOMPARE(restored.count(), 1);
        m_chat->resumeAfterNetworkRecovery();
        QCOMPARE(restored.count(), 2);
    }

    void desktopNoticesSkipTheOpenAndMutedConversations_data()
    {
        QTest::addColumn<QString>("peer");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("muted");
        QTest::addColumn<QString>("expectedTitle"); // empty: no notice
        QTest::newRow("other peer") << peerKey(0x44) << "Kim" << false << "Kim";
        QTest::newRow("no title") << peerKey(0x44) << "" << false << "Pelorin";
        QTest::newRow("muted") << peerKey(0x44) << "Kim" << true << "";
        QTest::newRow("open conversation") << peerKey(0x45) << "Lee" << false << "";
        QTest::newRow("empty peer") << "" << "Lee" << false << "";
    }
    void desktopNoticesSkipTheOpenAndMutedConversations()
    {
        QFETCH(QString, peer);
        QFETCH(QString, title);
        QFETCH(bool, muted);
        QFETCH(QString, expectedTitle);
        QVERIFY(signIn(m_ann));
        m_chat->openConversation(peerKey(0x45));
        QSignalSpy notices(m_chat.get(), &ChatController::systemNotificationRequested);
        m_chat->notifyIncoming(peer, title, muted);
        if (expectedTitle.isEmpty()) {
            QCOMPARE(notices.count(), 0);
            return;
        }
        QCOMPARE(notices.count(), 1);
        QCOMPARE(notices.at(0), (QVariantList{peer, expectedTitle, QStringLiteral("收到新消息")}));
    }

    void clickedNoticesOpenTheirTarget()
    {
        QVERIFY(signIn(m_ann));
        QSignalSpy pane(m_chat.get(), &ChatController::openNotificationsRequested);
        m_chat->activateSystemNotification(QStringLiteral("event:super:https://sg:pk"));
        QCOMPARE(pane.count(), 1);
        QVERIFY(m_chat->currentPeer().isEmpty());
        const QString peer = peerKey(0x46);
        m_chat->activateSystemNotification(peer);
        QCOMPARE(pane.count(), 1);
        QCOMPARE(m_chat->currentPeer(), peer);
    }

    // A job of Ann's session comes back after she logged out and Ben signed
    // in: its continuation never runs, so nothing of hers is stored in Ben's
    // store or shown in his list; its busy flag is still cleared.
    void staleJobOfAnEarlierSessionIsDropped_data()
    {
        QTest::addColumn<bool>("otherUser");
        QTest::newRow("after log-out and another sign-in") << true;
        QTest::newRow("after stop and start of the same user") << false;
    }
    void staleJobOfAnEarlierSessionIsDropped()
    {
        QFETCH(bool, otherUser);
        QVERIFY(signIn(m_ann));
        startListed(*m_chat);

        QSemaphore gate;
        std::atomic<bool> applied{false};
        bool busy = true;
        const QString peer = peerKey(0x47);
        const int sessionJobs = m_chat->pendingJobs(); // the session's own (pull, socket tokens)
        m_chat->host().jobs().run<QString>(
            [&gate] {
                gate.acquire();
                return QStringLiteral("from ann's session");
            },
            [this, &applied, peer](const QString &text) {
                applied = true;
                ChatStore::instance().ensureDirectConversation(peer, peer, QStringLiteral("p"));
                ChatStore::instance().upsertMessage(message("late", ChatStore::instance().conversationIdFor(peer), text, 5));
                m_chat->host().reloadConversations();
            },
            [&busy] { busy = false; });
        QCOMPARE(m_chat->pendingJobs(), sessionJobs + 1);

        m_chat->stop();
        if (otherUser) {
            signOut();
            QVERIFY(signIn(m_ben));
        }
        startListed(*m_chat);
        QSignalSpy conversations(m_chat.get(), &ChatController::conversationsChanged);
        gate.release();
        QTRY_COMPARE(m_chat->pendingJobs(), 0);

        QVERIFY(!applied);
        QVERIFY(!busy);
        QCOMPARE(conversations.count(), 0);
        QVERIFY(m_chat->conversations().isEmpty());
        QVERIFY(!ChatStore::instance().messageExists(QStringLiteral("late")));
    }

    void currentJobAppliesItsResultOnTheGuiThread()
    {
        QVERIFY(signIn(m_ann));
        startListed(*m_chat);
        QThread *applyThread = nullptr;
        QString result;
        int settled = 0;
        m_chat->host().jobs().run<QString>([] { return QStringLiteral("done"); },
                                           [&](const QString &text) {
                                               applyThread = QThread::currentThread();
                                               result = text;
                                           },
                                           [&settled] { ++settled; });
        QTRY_COMPARE(result, QStringLiteral("done"));
        QCOMPARE(applyThread, QThread::currentThread());
        QCOMPARE(settled, 1);
        // The watcher is gone one pass of the event loop later.
        QTRY_VERIFY(m_chat->findChildren<QFutureWatcherBase *>().isEmpty());
    }

    void throwingWorkerEndsWithoutAResult()
    {
        QVERIFY(signIn(m_ann));
        bool applied = false;
        bool settled = false;
        m_chat->host().jobs().run<int>([]() -> int { throw std::runtime_error("boom"); },
                                       [&applied](int) { applied = true; }, [&settled] { settled = true; });
        QTRY_VERIFY(settled);
        QVERIFY(!applied);
    }

private:
    User m_ann, m_ben;
};

QTEST_GUILESS_MAIN(SessionTest)
#include "test_session.moc"
