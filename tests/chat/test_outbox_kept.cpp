// What is kept of a send the store cannot take (the journal, memory), of
// sends under way when their session ends or the program quits, and of
// texts whose composer cleared, through a kill; the journal read back while
// such a send is kept. One-to-one, group and super-group sends.
#include "test_outbox_case.h"
#include "killed_client.h"

#include "chat/send_journal.h"
#include "support/file_size_limit.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>

#include <atomic>
#include <memory>
#include <optional>

using namespace outboxtest;
using velmor::fakes::Fault;
using velmor::fakes::FileSizeLimit;

namespace {

// The child's script, its argument a state: ("held") another connection
// takes the store's write lock for good, ("full") the disk fills, ("part")
// it fills once the first text is written, ("busy") every pool thread is
// taken, so no send is sealed, or ("free") none of these; it sends
// kSendsBeforeKill texts, prints "kept <text>" as each is kept (the moment
// the composer clears; when busy, as it is accepted, its composer showing
// it waiting) and waits to be killed.
constexpr int kSendsBeforeKill = 3;

bool sendUntilKilled(ChatController &chat, const QStringList &args)
{
    const QString state = args.value(0);
    static sqlite3 *other = nullptr;
    // The client's own start-up writes run on the pool and may hold the
    // lock for a moment: wait for them rather than give up.
    if (state == "held"
        && (sqlite3_open(QFile::encodeName(ChatStore::instance().databasePath()).constData(), &other) != SQLITE_OK
            || sqlite3_busy_timeout(other, 10000) != SQLITE_OK
            || sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK))
        return false;
    storetest::FailingWrites::setFull(state == "full");
    static BusyPool busy;
    if (state == "busy") {
        QThread::msleep(300); // the start's own jobs done
        busy.occupy();
    }
    static int keptSoFar = 0;
    QObject::connect(&chat, &ChatController::textKept, &chat, [](const QString &, const QString &text, bool kept) {
        ++keptSoFar;
        childSays((kept ? QStringLiteral("kept ") : QStringLiteral("lost ")) + text);
    });
    for (int i = 0; i < kSendsBeforeKill; ++i) {
        if (state == "part" && i == 1) {
            if (!QTest::qWaitFor([] { return keptSoFar == 1; }))
                return false;
            storetest::FailingWrites::setFull(true);
        }
        const QString text = QStringLiteral("through a kill %1").arg(i);
        if (chat.sendText(text) && state == "busy")
            childSays(QStringLiteral("kept ") + text);
    }
    return true;
}

} // namespace

class OutboxKeptTest : public QObject, private OutboxCase
{
    Q_OBJECT

private slots:
    void initTestCase() { startCases(); }
    void init() { startCase(); }
    void cleanup() { endCase(); }

    // A send on a full disk shows and goes out; its row is written once the
    // store takes writes again, before or after the relay's answer, or from
    // the journal at the next sign-in, where the answer kept beside it says
    // it was sent: shown sent, never posted again. A group's members get
    // it once, under the row's own id, and so does a super group's server.
    // Kept in the journal while the sign-in's reading of it is on its way,
    // which then reads its record once the store takes writes and answers
    // after the relay: the reading leaves it to the session that sent it
    // (not told as restored, not posted again).
    void aSendTheStoreCannotTakeIsKept_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("storeBack");
        for (const char *kind : {"direct", "group", "super group"}) {
            const QByteArray prefix = qstrcmp(kind, "direct") == 0 ? QByteArray() : QByteArray(kind) + ", ";
            QTest::newRow(prefix + "store back after the answer") << kind << "after";
            QTest::newRow(prefix + "store back before the answer") << kind << "before";
            QTest::newRow(prefix + "store back after the session ended") << kind << "ended";
            QTest::newRow(prefix + "store back as the sign-in reads the journal") << kind << "reading";
        }
    }
    void aSendTheStoreCannotTakeIsKept()
    {
        QFETCH(QString, kind);
        QFETCH(QString, storeBack);
        startAlice(m_bob);
        ChatStore &store = ChatStore::instance();
        QString send;
        velmor::fakes::FakeGroupServer *server = nullptr;
        const QString peer = peerOfKind(kind, server, send);
        QVERIFY(!peer.isEmpty());
        m_chat->openConversation(peer);
        // The sign-in's reading (the first) waits before it reads the file,
        // and again before its answer reaches the window.
        struct Reading
        {
            QSemaphore starts, read, goOn, answer;
            std::atomic_int steps = 0;
        };
        const auto reading = std::make_shared<Reading>();
        const auto unhook = qScopeGuard([reading] {
            Outbox::setJournalReadHookForTests({});
            reading->goOn.release(1000);
            reading->answer.release(1000);
        });
        QSignalSpy restored(m_chat.get(), &ChatController::sendsRestored);
        if (storeBack == "reading") {
            m_chat->stop();
            QTRY_COMPARE(m_chat->pendingJobs(), 0);
            Outbox::setJournalReadHookForTests([reading](Outbox::JournalReading step) {
                if (reading->steps.fetch_add(1) >= 2)
                    return;
                const bool starts = step == Outbox::JournalReading::Starts;
                (starts ? reading->starts : reading->read).release();
                (starts ? reading->goOn : reading->answer).acquire();
            });
            startQuiet(*m_chat);
            m_chat->openConversation(peer);
            QTRY_VERIFY(reading->starts.available() > 0);
        }
        velmor::fakes::FakeHttpServer *http = server ? &server->http() : &m_relay.http();
        http->resetCounts();
        http->holdRequests(send);
        QSignalSpy done(&outbox(), &Outbox::sendFinished);
        storetest::FailingWrites::setFull(true);
        QVERIFY(m_chat->sendText(QStringLiteral("written on a full disk")));
        QTRY_COMPARE(m_chat->messages().size(), 1);
        const QString id = m_chat->messages().first().toMap().value("id").toString();
        QVERIFY(!store.messageExists(id));
        m_chat->reloadMessages(); // a reading of the store does not hide it
        QCOMPARE(m_chat->messages().size(), 1);
        QTRY_COMPARE(http->requestCount(send), 1);
        if (storeBack == "reading") {
            // The reading finds the send's record while the store takes
            // writes; then the store refuses them until its answer is in.
            storetest::FailingWrites::setFull(false);
            reading->goOn.release();
            QTRY_VERIFY(reading->read.available() > 0);
            storetest::FailingWrites::setFull(true);
        }
        if (storeBack == "before") {
            storetest::FailingWrites::setFull(false);
            QTRY_VERIFY(store.messageExists(id));
            QCOMPARE(store.messageById(id)->status, MessageStatus::Sending);
            // A group's is its fan-out, every member's envelope; a super
            // group's, its request.
            QVERIFY(!store.outgoingEnvelope(id).isEmpty());
        }
        http->releaseHeld();
        const auto results = finished(done, 1);
        QCOMPARE(results, (QList<QPair<QString, int>>{{id, int(MessageStatus::Sent)}}));
        QCOMPARE(m_chat->messages().first().toMap().value("status").toInt(), int(MessageStatus::Sent));
        if (storeBack == "reading") {
            // The reading's answer reaches the window after the relay's.
            reading->answer.release();
            waitIdle();
            QCOMPARE(m_chat->messages().size(), 1);
            QCOMPARE(m_chat->messages().first().toMap().value("status").toInt(), int(MessageStatus::Sent));
            QCOMPARE(done.size(), 1);
            QVERIFY(restored.isEmpty());
        }
        if (storeBack == "ended") {
            m_chat->stop();
            QTRY_COMPARE(m_chat->pendingJobs(), 0);
            // The answer's record, beside the send's.
            const auto answered = [&] {
                const QList<JournaledSend> records = SendJournal::read(SendJournal::pathBeside(m_alice.dbPath));
                return std::any_of(records.cbegin(), records.cend(),
                                   [&](const JournaledSend &r) { return r.answer && r.row.id == id; });
            };
            // (Waited for, not required: without it the checks below tell
            // what the next start makes of the send.)
            QTest::qWaitFor(answered, 5000);
            signOut();
            storetest::FailingWrites::setFull(false);
            QVERIFY(signInHere(m_alice));
            startQuiet(*m_chat);
            waitIdle();
        }
        storetest::FailingWrites::setFull(false);
        QTRY_VERIFY(store.messageExists(id));
        QCOMPARE(store.messageById(id)->status, MessageStatus::Sent);
        QVERIFY(store.outgoingEnvelope(id).isEmpty());
        QCOMPARE(http->requestCount(send), 1);
        QCOMPARE(deliveredOnce(server, id), 1);
        if (storeBack == "reading")
            QTRY_VERIFY(SendJournal::read(SendJournal::pathBeside(m_alice.dbPath)).isEmpty());
    }

    // The relay took the messages while the store refused writes: they show
    // sent at once, and the store says so (their envelopes gone) as soon
    // as it takes writes again; nothing is posted twice.
    void aStatusTheStoreCannotTakeIsShownAndWrittenLater_data()
    {
        QTest::addColumn<int>("sends");
        QTest::newRow("one send") << 1;
        QTest::newRow("a burst beyond the posts at a time") << Outbox::kMaxPosts + 2;
    }
    void aStatusTheStoreCannotTakeIsShownAndWrittenLater()
    {
        QFETCH(int, sends);
        startAlice(m_bob);
        ChatStore &store = ChatStore::instance();
        const QString send = QStringLiteral("/v1/message/send");
        m_relay.http().resetCounts();
        m_relay.http().holdRequests(send);
        QSignalSpy done(&outbox(), &Outbox::sendFinished);
        for (int i = 0; i < sends; ++i)
            QVERIFY(m_chat->sendText(QStringLiteral("sent as the disk fills %1").arg(i)));
        // Written with their envelopes; no answer is taken in before this.
        QTRY_COMPARE(m_chat->messages().size(), sends);
        storetest::FailingWrites::setFull(true);
        m_relay.http().releaseHeld();
        const auto results = finished(done, sends);
        QCOMPARE(results.size(), sends);
        for (const auto &result : results)
            QCOMPARE(result.second, int(MessageStatus::Sent));
        for (const QVariant &row : m_chat->messages())
            QCOMPARE(row.toMap().value("status").toInt(), int(MessageStatus::Sent));
        QCOMPARE(store.messageById(results.first().first)->status, MessageStatus::Sending);
        storetest::FailingWrites::setFull(false);
        for (const auto &result : results) {
            QTRY_COMPARE(store.messageById(result.first)->status, MessageStatus::Sent);
            QVERIFY(store.outgoingEnvelope(result.first).isEmpty());
            QCOMPARE(m_relay.queuedIds(m_bob.key()).count(result.first), 1);
        }
        QCOMPARE(m_relay.requestCount(send), sends);
    }

    // A burst is written away from the window's thread and shows in the
    // order typed; a full store's refusal keeps it, shown and posted; a
    // session that ends before it is written leaves and posts nothing.
    void aBurstIsWrittenOffTheWindowsThread_data()
    {
        QTest::addColumn<QString>("store");
        QTest::newRow("the store takes it") << "takes";
        QTest::newRow("the store is full") << "full";
        QTest::newRow("the session ends before it is written") << "ends";
    }
    void aBurstIsWrittenOffTheWindowsThread()
    {
        QFETCH(QString, store);
        const int sends = Outbox::kSealBatch + 6;
        // As on a two-core machine: the held posts must not keep the second
        // batch from being written.
        QThreadPool::globalInstance()->setMaxThreadCount(2);
        startAlice(m_bob);
        const QString send = QStringLiteral("/v1/message/send");
        m_relay.http().resetCounts();
        m_relay.http().holdRequests(send);
        storetest::FailingWrites::setFull(store == "full");
        // Another program holds the store: this burst cannot be written.
        std::optional<storetest::SideConnection> holder;
        if (store == "ends") {
            // The client's own jobs of the opening (marking the conversation
            // read) done first. One of them still on its way would wait out
            // the lock (5 s), and while it waits the lock counts as this
            // process's own work (the holder is a connection of this
            // process), so the burst's writes would wait as long.
            waitIdle();
            holder.emplace(m_alice.dbPath);
            QVERIFY(holder->exec(QStringLiteral("BEGIN IMMEDIATE")));
        }
        QSignalSpy done(&outbox(), &Outbox::sendFinished);
        storetest::FailingWrites::watchThisThread();
        QStringList texts;
        for (int i = 0; i < sends; ++i) {
            texts << QStringLiteral("burst %1").arg(i);
            QVERIFY(m_chat->sendText(texts.last()));
        }
        if (store == "ends") {
            QCoreApplication::processEvents();
            m_chat->stop();
            m_relay.http().releaseHeld();
            QTRY_COMPARE(m_chat->pendingJobs(), 0);
            holder.reset();
            m_chat.reset();
            signOut();
            startAlice(m_bob);
            // The journal kept the burst: the next sign-in brings every
            // text back once, the newest page of them shown.
            const auto back = [this] {
                QStringList shown;
                for (const QVariant &row : m_chat->messages())
                    shown << row.toMap().value("text").toString();
                return shown;
            };
            QTRY_COMPARE(back(), texts.mid(sends - MessageList::kPageSize));
            return;
        }
        QTRY_COMPARE(m_chat->messages().size(), sends);
        QCOMPARE(storetest::FailingWrites::watchedWrites(), 0);
        QStringList shown;
        for (const QVariant &row : m_chat->messages())
            shown << row.toMap().value("text").toString();
        QCOMPARE(shown, texts);
        storetest::FailingWrites::setFull(false);
        for (const QVariant &row : m_chat->messages())
            QTRY_VERIFY(!ChatStore::instance().outgoingEnvelope(row.toMap().value("id").toString()).isEmpty());
        m_relay.http().releaseHeld();
        const auto results = finished(done, sends);
        QCOMPARE(results.size(), sends);
        for (const auto &result : results) {
            QCOMPARE(result.second, int(MessageStatus::Sent));
            QCOMPARE(m_relay.queuedIds(m_bob.key()).count(result.first), 1);
        }
        QCOMPARE(m_relay.requestCount(send), sends);
    }

    // The store refuses (a full disk) and the journal cannot take the send
    // either: nothing is shown nor posted, a text goes back to the composer,
    // the user is told, and nothing is left for a quit to lose. Sent again
    // once there is room, it goes out as any other.
    void aSendNeitherStoreNorJournalKeepsIsGivenBack_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<bool>("reserved"); // the journal's room was reserved at sign-in
        QTest::newRow("a long text beyond the journal's room") << "long" << true;
        QTest::newRow("a text, no room ever reserved") << "text" << false;
        QTest::newRow("a picture, no room ever reserved") << "picture" << false;
    }
    void aSendNeitherStoreNorJournalKeepsIsGivenBack()
    {
        QFETCH(QString, what);
        QFETCH(bool, reserved);
        startAlice(m_bob);
        waitIdle();
        const QString journal = SendJournal::pathBeside(m_alice.dbPath);
        const QString send = QStringLiteral("/v1/message/send");
        QString picture;
        if (what == "picture") {
            picture = m_dir.filePath(QStringLiteral("full%1.png").arg(m_sessions));
            QVERIFY(noise(200, 150).save(picture));
        }
        m_relay.http().resetCounts();
        QSignalSpy kept(m_chat.get(), &ChatController::textKept);
        QSignalSpy failed(m_chat.get(), &ChatController::operationFailed);
        {
            // An older build's profile has no journal; this one's has its
            // reserve, and not a byte more can be had.
            if (!reserved)
                QVERIFY(QFile::remove(journal));
            const FileSizeLimit disk(reserved ? QFileInfo(journal).size() : 0);
            storetest::FailingWrites::setFull(true);
            if (what == "picture")
                m_chat->sendImageFromFile(picture);
            else
                QVERIFY(m_chat->sendText(what == "long" ? QString(700 * 1024, QLatin1Char('x')) : QStringLiteral("no room")));
            QTRY_COMPARE_WITH_TIMEOUT(outbox().inFlight(), 0, 20000);
        }
        QVERIFY(m_chat->messages().isEmpty());
        QCOMPARE(m_chat->unkeptSends(), 0);
        QCOMPARE(sendErrors(failed), QStringList{"store_write_failed"});
        if (what != "picture") {
            QCOMPARE(kept.size(), 1);
            QCOMPARE(kept.first().at(2).toBool(), false);
        }
        storetest::FailingWrites::setFull(false);
        QCOMPARE(m_relay.requestCount(send), 0);
        // With room again the user sends it again: shown and sent once.
        QSignalSpy done(&outbox(), &Outbox::sendFinished);
        QVERIFY(m_chat->sendText(QStringLiteral("room again")));
        QCOMPARE(finished(done, 1).value(0).second, int(MessageStatus::Sent));
        QCOMPARE(m_chat->messages().size(), 1);
        QCOMPARE(m_relay.requestCount(send), 1);
    }

    // Whatever ends while sends wait: each accepted message ends sent, once
    // and in the order written (also when the first post after the sign-in
    // fails and goes again), after a sign-out and in (the store closed at
    // once, as the log-out does); a deleted conversation gets none of them
    // back, not even while one of its posts is on its way, and later sends
    // reach it all the same.
    void endingWhileSendsWait_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<int>("sends");
        QTest::newRow("sign-out mid-burst") << "sign-out" << Outbox::kSealBatch + 7;
        QTest::newRow("quit mid-burst") << "quit" << 4 * Outbox::kSealBatch;
        QTest::newRow("sign-out mid-burst, another identity in and out") << "other" << Outbox::kSealBatch + 7;
        QTest::newRow("sign-out while the relay holds the posts") << "held" << 10;
        QTest::newRow("group, sign-out while the relay holds the post, another identity in") << "group held" << 1;
        QTest::newRow("relay answers while signed out") << "answered" << 10;
        QTest::newRow("conversation deleted mid-burst") << "delete" << Outbox::kSealBatch + 7;
        QTest::newRow("conversation deleted while its post is held") << "delete held" << Outbox::kMaxPosts + 3;
        QTest::newRow("sign-out mid-burst, the first post after failing once") << "fails once" << Outbox::kMaxPosts + 3;
        QTest::newRow("group, sign-out mid-burst, the first post after failing once")
            << "group fails once" << Outbox::kMaxPosts + 3;
    }
    void endingWhileSendsWait()
    {
        QFETCH(QString, ending);
        QFETCH(int, sends);
        startAlice(m_bob);
        ChatStore &store = ChatStore::instance();
        QString send;
        velmor::fakes::FakeGroupServer *server = nullptr;
        const QString peer = peerOfKind(ending.startsWith("group") ? "group" : "direct", server, send);
        QVERIFY(!peer.isEmpty());
        const bool group = peer != m_bob.key();
        if (group)
            m_chat->openConversation(peer);
        m_relay.http().resetCounts();
        if (ending.endsWith("held"))
            m_relay.http().holdRequests(send);
        if (ending == "answered")
            m_relay.setFault(send, Fault::delay(150));
        QStringList texts;
        for (int i = 0; i < sends; ++i) {
            texts << QStringLiteral("accepted %1").arg(i);
            QVERIFY(m_chat->sendText(texts.last()));
        }
        QCoreApplication::processEvents(); // the first batch is being written
        // Posts on their way: held, or answered slowly (one at a time).
        if (ending.endsWith("held"))
            QTRY_COMPARE(m_relay.requestCount(send), 1);
        else if (ending == "answered")
            QTRY_VERIFY(m_relay.requestCount(send) >= 1);
        if (ending.startsWith("delete")) {
            m_chat->deleteConversation(m_bob.key());
            m_relay.http().releaseHeld();
            waitIdle();
            QCOMPARE(m_relay.requestCount(send), ending == "delete held" ? 1 : 0);
            QVERIFY(store.messages(store.conversationIdFor(m_bob.key())).isEmpty());
            m_chat->openConversation(m_bob.key());
            QVERIFY(m_chat->messages().isEmpty());
            QSignalSpy done(&outbox(), &Outbox::sendFinished);
            QVERIFY(m_chat->sendText(QStringLiteral("after the delete")));
            QCOMPARE(finished(done, 1).value(0).second, int(MessageStatus::Sent));
            QCOMPARE(m_chat->messages().size(), 1);
            return;
        }
        if (ending == "quit") {
            // The program's end: the controller goes with its session still
            // on, then the exit's wait for the pool and the store's close,
            // within the quit's bound.
            m_chat.reset();
            QThreadPool::globalInstance()->waitForDone(900);
            ChatStore::instance().close();
            QVERIFY(QThreadPool::globalInstance()->waitForDone(700));
            m_chat = makeController();
        } else {
            m_chat->stop();
        }
        signOut();
        if (ending == "other") {
            QVERIFY(signInHere(m_bob));
            signOut();
        }
        if (ending == "group held") {
            // The held post's token is refused once it is let go, and a new
            // one is asked for while Bob is signed in: not his to post.
            m_relay.expireAllTokens();
            QVERIFY(signInHere(m_bob));
            m_relay.http().releaseHeld();
            QTRY_VERIFY(outbox().inFlight() == 0 && outbox().postingForEndedSessions() == 0);
            signOut();
        }
        if (ending == "answered")
            QTRY_COMPARE(outbox().inFlight(), 0);
        m_relay.clearFaults();
        Fault failsOnce = Fault::http500();
        failsOnce.remaining = 1;
        if (ending.endsWith("fails once"))
            m_relay.setFault(send, failsOnce);
        QVERIFY(signInHere(m_alice));
        startQuiet(*m_chat);
        m_relay.http().releaseHeld();
        QTRY_VERIFY_WITH_TIMEOUT(outbox().inFlight() == 0 && outbox().postingForEndedSessions() == 0
                                     && outbox().waiting() == 0 && m_chat->pendingJobs() == 0,
                                 15000);
        const QList<MessageRecord> rows = store.messages(group ? peer : store.conversationIdFor(m_bob.key()));
        QStringList stored;
        for (const MessageRecord &row : rows) {
            stored << row.text;
            QCOMPARE(row.status, MessageStatus::Sent);
            QCOMPARE(m_relay.queuedIds(m_bob.key()).count(row.id), 1);
        }
        QCOMPARE(stored, texts);
        QStringList arrived;
        for (const QString &id : m_relay.queuedIds(m_bob.key())) {
            const auto row = std::find_if(rows.cbegin(), rows.cend(), [&](const MessageRecord &r) { return r.id == id; });
            if (row != rows.cend())
                arrived << row->text;
        }
        QCOMPARE(arrived, texts);
        // A post the relay holds past the time an answer may take is posted
        // again (on a loaded machine the sign-in takes that long); each
        // message still reaches the relay's queue once.
        if (ending.endsWith("held"))
            QVERIFY(m_relay.requestCount(send) >= sends);
        else
            QCOMPARE(m_relay.requestCount(send), sends + int(ending.endsWith("fails once")));
        m_chat->openConversation(peer);
        for (const QVariant &row : m_chat->messages())
            QCOMPARE(row.toMap().value("status").toInt(), int(MessageStatus::Sent));
    }

    // Texts whose composer cleared survive a kill -9 that comes at once,
    // whether the store took them, another program held it or the disk was
    // full (or filled after the first): the next start has each once and
    // posts each once, and each reaches the peer (every member of a group)
    // once, in the order they were written (a group server numbers them
    // so), also when the journal's reading is answered before the store's
    // interrupted sends are read. A super group's server took them before
    // the kill and never answered: they are posted again under their ids,
    // stored there once, and shown sent.
    void keptSendsSurviveAKill_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("kind");
        const QList<std::pair<const char *, const char *>> states{
            {"free", "the store takes them"}, {"held", "another program holds the store"}, {"full", "the disk is full"}};
        for (const char *kind : {"direct", "group", "super group"}) {
            const QByteArray prefix = qstrcmp(kind, "direct") == 0 ? QByteArray() : QByteArray(kind) + ", ";
            for (const auto &[state, tag] : states)
                QTest::newRow(prefix + tag) << state << kind;
        }
        QTest::newRow("the machine too busy to seal them") << "busy" << "direct";
        QTest::newRow("the first written, the disk full for the rest") << "part" << "direct";
        QTest::newRow("group, the first written, the disk full for the rest") << "part" << "group";
    }
    void keptSendsSurviveAKill()
    {
        QFETCH(QString, state);
        QFETCH(QString, kind);
        // A group, or a super group, made by a client that is gone now.
        if (kind != "direct")
            startAlice(m_bob);
        QString send;
        velmor::fakes::FakeGroupServer *server = nullptr;
        const QString peer = peerOfKind(kind, server, send);
        QVERIFY(!peer.isEmpty());
        if (kind != "direct") {
            waitIdle();
            endClient(&m_bob);
        }
        // A super group's posts reach its server (held there) before the
        // kill; a busy machine's seal jobs still wait for a turn. The others
        // find no relay (a closed port): a post on its way at the kill would
        // be read by the relay's thread whenever that thread got to it, on
        // a loaded machine after the counts below were reset, and counted
        // as one of the next start's.
        if (server)
            server->http().holdRequests(send);
        const QString relay = server ? m_relay.baseUrl() : QStringLiteral("http://127.0.0.1:9");
        const QStringList kept = runUntilKilled(QStringLiteral("kept-sends"), relay, m_alice, 0x61, peer, {state},
                                                kSendsBeforeKill, server ? 300 : state == "busy" ? 1000 : 0);
        QCOMPARE(kept.size(), kSendsBeforeKill);
        m_relay.http().resetCounts();
        if (server) {
            // What reached the server is stored though nobody hears its answer.
            server->http().releaseHeld();
            QTRY_COMPARE(server->messages().size(), server->http().requestCount(send));
        }

        // The store's interrupted sends are read only once the journal's
        // reading has been answered: written first, they must not go first.
        const auto journalAnswered = std::make_shared<QSemaphore>();
        const auto unhook = qScopeGuard([journalAnswered] {
            Outbox::setInterruptedReadHookForTests({});
            journalAnswered->release(1000);
        });
        if (state == "part")
            Outbox::setInterruptedReadHookForTests([journalAnswered] { journalAnswered->acquire(); });
        QVERIFY(signInHere(m_alice));
        m_chat = makeController();
        QSignalSpy restored(m_chat.get(), &ChatController::sendsRestored);
        startQuiet(*m_chat);
        if (state == "part") {
            QTRY_VERIFY(!restored.isEmpty());
            journalAnswered->release(1000);
        }
        ChatStore &store = ChatStore::instance();
        const QString conversation = kind != "direct" ? peer : store.conversationIdFor(m_bob.key());
        const auto own = [&] {
            QList<MessageRecord> rows;
            for (const MessageRecord &row : store.messages(conversation)) {
                if (row.is_outgoing)
                    rows.append(row);
            }
            return rows;
        };
        QTRY_COMPARE(own().size(), kSendsBeforeKill);
        for (const MessageRecord &row : own()) {
            QVERIFY(kept.contains(QStringLiteral("kept ") + row.text));
            QTRY_COMPARE(store.messageById(row.id)->status, MessageStatus::Sent);
            QCOMPARE(deliveredOnce(server, row.id), 1);
        }
        QStringList written, arrived;
        for (const MessageRecord &row : own())
            written << row.id;
        QStringList reached = m_relay.queuedIds(m_bob.key());
        if (server) {
            reached.clear();
            for (const velmor::fakes::FakeStoredMessage &stored : server->messages())
                reached << stored.messageId;
        }
        for (const QString &id : reached) {
            if (written.contains(id))
                arrived << id;
        }
        QCOMPARE(arrived, written);
        if (server)
            QCOMPARE(server->messages().size(), kSendsBeforeKill);
        else
            QCOMPARE(m_relay.requestCount(send), kSendsBeforeKill);
        const int journaled = state == "free" ? 0 : state == "part" ? kSendsBeforeKill - 1 : kSendsBeforeKill;
        QCOMPARE(restored.isEmpty() ? 0 : restored.first().first().toInt(), journaled);
        QTRY_VERIFY(SendJournal::read(SendJournal::pathBeside(m_alice.dbPath)).isEmpty());
    }
};

int main(int argc, char **argv)
{
    if (argc == 7 && qstrcmp(argv[1], "kept-sends") == 0)
        return runKilledChild(argc, argv, sendUntilKilled);
    QCoreApplication app(argc, argv);
    OutboxKeptTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "test_outbox_kept.moc"
