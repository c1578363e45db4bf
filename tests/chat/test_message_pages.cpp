// The open conversation's message list as pages and single-row changes: the
// newest page first, older pages in the store's order without gaps or
// repeats, and each stored, re-statused or deleted message touching only
// its own row (and its neighbours' run marks) in the model the view shows.
#include "chat_fixture.h"

#include "models/message_row_model.h"
#include "store/failing_vfs.h"

#include <QAbstractItemModelTester>
#include <QThreadPool>
#include <QtTest>

using namespace chattest;
using namespace velmor::chat;
using velmor::models::MessageRowModel;

namespace {

QStringList idsOf(const QVariantList &rows)
{
    QStringList ids;
    for (const QVariant &row : rows)
        ids.append(row.toMap().value("id").toString());
    return ids;
}

// Every signal a model sends, so a test can tell one row's change from a
// reset of the list.
struct ModelLog
{
    explicit ModelLog(QAbstractItemModel *model)
        : inserted(model, &QAbstractItemModel::rowsInserted)
        , removed(model, &QAbstractItemModel::rowsRemoved)
        , changed(model, &QAbstractItemModel::dataChanged)
        , reset(model, &QAbstractItemModel::modelReset)
        , moved(model, &QAbstractItemModel::rowsMoved)
    {
    }
    void clear()
    {
        inserted.clear();
        removed.clear();
        changed.clear();
        reset.clear();
        moved.clear();
    }
    QSignalSpy inserted, removed, changed, reset, moved;
};

} // namespace

class MessagePagesTest : public QObject, private ChatFixture
{
    Q_OBJECT

    QString m_peer;
    QString m_conversation;

    // `count` messages stored oldest first, ids m0.., in runs of three
    // sharing one second (page edges fall inside such runs).
    void storeMessages(int count, int from = 0)
    {
        QList<MessageRecord> rows;
        for (int i = from; i < from + count; ++i)
            rows.append(message(QStringLiteral("m%1").arg(i), m_conversation, QStringLiteral("t%1").arg(i),
                                1000 + i / 3, i % 5 == 0));
        QVERIFY(ChatStore::instance().upsertMessages(rows));
    }
    QAbstractItemModel *model() { return m_chat->messageModel(); }
    // Two pages of the open conversation, and another conversation with
    // one message; returns the other peer's key.
    QString storeTwoPagesBesideAnother()
    {
        ChatStore &store = ChatStore::instance();
        storeMessages(2 * MessageList::kPageSize);
        const QString other = peerKey(0x63);
        store.ensureDirectConversation(other, other, QStringLiteral("o"));
        store.upsertMessage(message("o1", store.conversationIdFor(other), "other", 2000));
        return other;
    }

private slots:
    void initTestCase() { storetest::FailingWrites::install(); }
    void init()
    {
        beginSession(QStringLiteral("me"), 0x61);
        m_peer = peerKey(0x62);
        ChatStore::instance().ensureDirectConversation(m_peer, m_peer, QStringLiteral("p"));
        m_conversation = ChatStore::instance().conversationIdFor(m_peer);
    }
    void cleanup() { endSession(); }

    void pagesComeNewestFirstWithoutGapsOrRepeats_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("later"); // sent one by one after the opening
        QTest::addColumn<QString>("then"); // what reads the list again after them
        QTest::addColumn<int>("steps"); // older pages there are to read
        QTest::newRow("empty") << 0 << 0 << "" << 0;
        QTest::newRow("less than a page") << 7 << 0 << "" << 0;
        QTest::newRow("exactly a page") << MessageList::kPageSize << 0 << "" << 0;
        QTest::newRow("one more than a page") << MessageList::kPageSize + 1 << 0 << "" << 1;
        QTest::newRow("several pages") << 3 * MessageList::kPageSize + 17 << 0 << "" << 3;
        // The sends fill a list opened empty; the reading trims it to the
        // newest page, and every trimmed row comes back a page at a time.
        QTest::newRow("sends into a new chat, then a pull") << 0 << 101 << "pull" << 1;
        QTest::newRow("a burst into a new chat, then the chat clicked") << 0 << 200 << "click" << 3;
    }
    void pagesComeNewestFirstWithoutGapsOrRepeats()
    {
        QFETCH(int, count);
        QFETCH(int, later);
        QFETCH(QString, then);
        QFETCH(int, steps);
        storeMessages(count);
        QAbstractItemModelTester tester(model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        openAndShow(m_peer);
        QCOMPARE(model()->rowCount(), qMin(count, int(MessageList::kPageSize)));
        for (int i = count; i < count + later; ++i) {
            const MessageRecord sent = message(QStringLiteral("m%1").arg(i), m_conversation, "sent", 1000 + i / 3, true);
            QVERIFY(ChatStore::instance().upsertMessage(sent));
            m_chat->host().messageStored(sent);
        }
        if (then == "pull")
            m_chat->reloadMessages();
        else if (then == "click")
            m_chat->openConversation(m_peer);
        waitIdle();
        QCOMPARE(model()->rowCount(), qMin(count + later, int(MessageList::kPageSize)));
        int read = 0;
        for (int before = model()->rowCount(); m_chat->loadOlderMessages(); before = model()->rowCount()) {
            waitIdle();
            read += model()->rowCount() > before ? 1 : 0;
        }
        QCOMPARE(read, steps);
        QStringList expected;
        for (int i = 0; i < count + later; ++i)
            expected.append(QStringLiteral("m%1").arg(i));
        QCOMPARE(idsOf(m_chat->messages()), expected);
        QVERIFY(!m_chat->loadOlderMessages());
    }

    // What the outbox and the other parts report through the host lands on
    // one row; nothing resets the list the user is reading.
    void singleChangesTouchOneRow_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("inserted");
        QTest::addColumn<int>("removed");
        QTest::addColumn<QString>("lastId");
        QTest::addColumn<int>("lastStatus");
        QTest::newRow("new outgoing message") << "store new" << 1 << 0 << "new" << 0;
        QTest::newRow("status of the newest") << "status" << 0 << 0 << "m99" << 1;
        QTest::newRow("other conversation") << "store elsewhere" << 0 << 0 << "m99" << 4;
        QTest::newRow("older than the pages read") << "store old" << 0 << 0 << "m99" << 4;
        QTest::newRow("retry replaces the failed row") << "replace" << 1 << 1 << "new" << 0;
        QTest::newRow("unknown id") << "status unknown" << 0 << 0 << "m99" << 4;
    }
    void singleChangesTouchOneRow()
    {
        QFETCH(QString, change);
        QFETCH(int, inserted);
        QFETCH(int, removed);
        QFETCH(QString, lastId);
        QFETCH(int, lastStatus);
        storeMessages(100);
        openAndShow(m_peer);
        QAbstractItemModelTester tester(model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        ChatHost &host = m_chat->host();
        ChatStore &store = ChatStore::instance();
        ModelLog log(model());

        MessageRecord fresh = message("new", m_conversation, "hi", 5000, true);
        if (change == "store new" || change == "replace") {
            QVERIFY(store.upsertMessage(fresh));
            host.messageStored(fresh);
            if (change == "replace") {
                QVERIFY(store.deleteMessage(m_conversation, "m98"));
                host.messageRemoved("m98");
            }
        } else if (change == "status") {
            host.messageStatusChanged("m99", int(MessageStatus::Sent));
        } else if (change == "store elsewhere") {
            host.messageStored(message("x", QStringLiteral("group:other"), "elsewhere", 5000));
        } else if (change == "store old") {
            host.messageStored(message("old", m_conversation, "late arrival", 10));
        } else {
            host.messageStatusChanged("nope", int(MessageStatus::Sent));
        }
        QCOMPARE(log.reset.count(), 0);
        QCOMPARE(log.inserted.count(), inserted);
        QCOMPARE(log.removed.count(), removed);
        const QVariantList rows = m_chat->messages();
        QCOMPARE(rows.last().toMap().value("id").toString(), lastId);
        QCOMPARE(rows.last().toMap().value("status").toInt(), lastStatus);
        // A reading of the store agrees with the rows changed one by one.
        log.clear();
        m_chat->reloadMessages();
        waitIdle();
        QCOMPARE(idsOf(m_chat->messages()), idsOf(rows));
        QCOMPARE(log.inserted.count() + log.removed.count() + log.reset.count(), 0);
    }

    // A pull that stored messages at any time inside the loaded pages, and
    // deleted one, shows in place after reloadMessages, read off the
    // window's thread; a message that arrives meanwhile stays.
    void reloadPlacesLateMessagesAndKeepsTheRest()
    {
        storeMessages(90);
        openAndShow(m_peer);
        QAbstractItemModelTester tester(model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        ModelLog log(model());
        ChatStore &store = ChatStore::instance();
        const QStringList before = idsOf(m_chat->messages());
        QVERIFY(store.upsertMessage(message("late", m_conversation, "late", 1000 + 50 / 3)));
        QVERIFY(store.upsertMessage(message("newest", m_conversation, "newest", 9000)));
        QVERIFY(store.deleteMessage(m_conversation, "m60"));
        m_chat->reloadMessages();
        QCOMPARE(idsOf(m_chat->messages()), before);
        const MessageRecord arrived = message("arrived", m_conversation, "arrived", 9001);
        QVERIFY(store.upsertMessage(arrived));
        m_chat->host().messageStored(arrived);
        waitIdle();
        QCOMPARE(log.reset.count(), 0);
        QStringList expected = before;
        expected.removeAll("m60");
        expected.insert(expected.indexOf("m51"), "late"); // after m48..m50, stored in the same second
        expected << "newest" << "arrived";
        QCOMPARE(idsOf(m_chat->messages()), expected);
    }

    // Back at the end after reading far up: the list lets the older pages
    // go (a reload under way reads again only what is kept), and scrolling
    // up again brings every message back once, in order.
    void trimmedPagesComeBackInOrder()
    {
        storeMessages(5 * MessageList::kPageSize);
        openAndShow(m_peer);
        while (m_chat->loadOlderMessages())
            waitIdle();
        QCOMPARE(model()->rowCount(), 5 * MessageList::kPageSize);
        const QStringList all = idsOf(m_chat->messages());
        QAbstractItemModelTester tester(model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(ChatStore::instance().upsertMessage(message("late", m_conversation, "late", 9000)));
        m_chat->reloadMessages();
        m_chat->trimOlderMessages();
        QCOMPARE(model()->rowCount(), 2 * MessageList::kPageSize);
        waitIdle();
        QCOMPARE(model()->rowCount(), 2 * MessageList::kPageSize + 1);
        while (m_chat->loadOlderMessages())
            waitIdle();
        QCOMPARE(idsOf(m_chat->messages()), all + QStringList{ "late" });
    }

    // The newest page is read off the window's thread: the views go on
    // showing the list they show until it is read, then are told of the
    // conversation right before the model takes its rows (one frame shows
    // the header and the rows), and the window's thread writes nothing for
    // it (the unread count). What happens before the page lands is neither
    // lost, doubled nor undone, and a page read for a list opened elsewhere,
    // deleted or signed out is not shown.
    void newestPageLandsLater_data()
    {
        QTest::addColumn<bool>("fromOther"); // another conversation was shown before
        QTest::addColumn<QString>("meanwhile");
        for (const char *meanwhile : { "nothing", "another conversation opened", "a message arrives",
                                       "a pull stored messages", "a shown message's status changed",
                                       "a page's message deleted", "the conversation deleted", "session ended" })
            QTest::newRow(meanwhile) << false << meanwhile;
        // Not read within MessageList::kShowWithinMs: the views are told
        // all the same, the model showing what is known (the arrival).
        for (const char *meanwhile : { "nothing", "a message arrives", "session ended", "a message arrives, page late" })
            QTest::newRow(QByteArray("from another conversation, ") + meanwhile) << true << meanwhile;
    }
    void newestPageLandsLater()
    {
        QFETCH(bool, fromOther);
        QFETCH(QString, meanwhile);
        ChatStore &store = ChatStore::instance();
        const QString other = storeTwoPagesBesideAnother();
        QAbstractItemModelTester tester(model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        ChatHost &host = m_chat->host();
        QString open = m_conversation;
        if (fromOther)
            openAndShow(other);
        waitIdle(); // the session's first jobs back: only what the row does reads the list again
        const QStringList shownBefore = idsOf(m_chat->messages());
        QStringList rowsAtAnnouncement;
        int announced = 0;
        connect(m_chat.get(), &ChatController::currentChanged, this, [&] {
            if (++announced > 1)
                return;
            for (int i = 0; i < model()->rowCount(); ++i)
                rowsAtAnnouncement.append(model()->index(i, 0).data(MessageRowModel::KeyRole).toString());
        });
        // Every worker kept busy: the page is read once they are let go.
        const bool late = meanwhile.endsWith("page late");
        BusyPool held;
        if (late)
            held.occupy();
        storetest::FailingWrites::watchThisThread();
        m_chat->openConversation(m_peer);
        QCOMPARE(storetest::FailingWrites::watchedWrites(), 0);
        QVERIFY(m_chat->messagesLoading());
        QCOMPARE(m_chat->currentPeer(), m_peer);
        QCOMPARE(announced, 0);
        QCOMPARE(model()->rowCount(), shownBefore.size());
        // The page is read before what follows, and lands after it.
        QVERIFY(late || QThreadPool::globalInstance()->waitForDone(5000));
        if (meanwhile == "another conversation opened") {
            m_chat->openConversation(other);
            open = store.conversationIdFor(other);
        } else if (meanwhile.startsWith("a message arrives")) {
            // (An own send from elsewhere when another conversation was shown.)
            const MessageRecord arrived = message("arrived", m_conversation, "new", 5000, fromOther);
            QVERIFY(store.upsertMessage(arrived));
            host.messageStored(arrived);
            QCOMPARE(idsOf(m_chat->messages()), QStringList{"arrived"});
            QCOMPARE(model()->rowCount(), shownBefore.size());
        } else if (meanwhile == "a pull stored messages") {
            storeMessages(3, 2 * MessageList::kPageSize);
            host.reloadMessages();
        } else if (meanwhile == "a shown message's status changed") {
            QVERIFY(store.setMessageStatus("m115", MessageStatus::Sent));
            host.messageStatusChanged("m115", int(MessageStatus::Sent));
        } else if (meanwhile == "a page's message deleted") {
            QVERIFY(store.deleteMessage(m_conversation, "m100"));
            host.messageRemoved("m100");
        } else if (meanwhile == "the conversation deleted") {
            m_chat->deleteConversation(m_peer);
            open.clear();
        } else if (meanwhile == "session ended") {
            m_chat->stop();
            open.clear();
        }
        if (late) {
            QTRY_COMPARE(announced, 1);
            QVERIFY(m_chat->messagesLoading());
            QCOMPARE(idsOf(m_chat->messages()), QStringList{"arrived"});
            QCOMPARE(model()->rowCount(), 1);
            held.release(); // the page, read now, holds the arrival
        }
        waitIdle();
        QVERIFY(!m_chat->messagesLoading());
        // The newest rows of the store as they are now, each once.
        QStringList stored;
        for (const MessageRecord &record : store.shownMessages(open))
            stored.append(record.id + QLatin1Char('/') + QString::number(int(record.status)));
        QStringList shown;
        for (const QVariant &row : m_chat->messages())
            shown.append(row.toMap().value("id").toString() + QLatin1Char('/') + row.toMap().value("status").toString());
        // A page that lost a message meanwhile shows one row fewer.
        const int least = qMin(int(stored.size()), int(MessageList::kPageSize)) - (meanwhile.contains("deleted") ? 1 : 0);
        QVERIFY2(shown.size() >= least, qPrintable(shown.join(' ')));
        QCOMPARE(shown, stored.mid(stored.size() - shown.size()));
        QCOMPARE(model()->rowCount(), shown.size());
        // Announced once, while the model still held what was shown.
        QVERIFY(announced >= 1);
        if (meanwhile == "nothing" || meanwhile.startsWith("a message arrives")) {
            QCOMPARE(announced, 1);
            QCOMPARE(rowsAtAnnouncement, shownBefore);
            QCOMPARE(model()->rowCount(), MessageList::kPageSize + (meanwhile == "a message arrives" ? 1 : 0));
        }
        if (meanwhile == "nothing" || (fromOther && meanwhile.startsWith("a message arrives"))) // (not one received)
            QCOMPARE(store.conversationByPeer(m_peer)->unread_count, 0);
    }

    // The older page is read off the window's thread and lands later in one
    // insert, fitting what happened meanwhile: nothing missing or doubled.
    void olderPageLandsLater_data()
    {
        QTest::addColumn<QString>("meanwhile");
        for (const char *meanwhile : { "nothing", "asked again", "older message stored", "page's message deleted",
                                       "other conversation opened", "session ended" })
            QTest::newRow(meanwhile) << meanwhile;
    }
    void olderPageLandsLater()
    {
        QFETCH(QString, meanwhile);
        ChatStore &store = ChatStore::instance();
        storeMessages(3 * MessageList::kPageSize);
        openAndShow(m_peer);
        waitIdle(); // the opening's other jobs (the unread count) done
        ModelLog log(model());
        QVERIFY(m_chat->loadOlderMessages());
        QCOMPARE(model()->rowCount(), MessageList::kPageSize);
        const MessageRecord late = message("late", m_conversation, "late", 1000 + 90 / 3); // beside m90
        if (meanwhile == "asked again")
            QVERIFY(m_chat->loadOlderMessages() && m_chat->pendingJobs() == 1);
        else if (meanwhile == "older message stored" && store.upsertMessage(late))
            m_chat->host().messageStored(late);
        else if (meanwhile == "page's message deleted" && store.deleteMessage(m_conversation, "m100"))
            m_chat->host().messageRemoved("m100");
        else if (meanwhile == "other conversation opened")
            m_chat->openConversation(QString());
        else if (meanwhile == "session ended")
            m_chat->stop();
        waitIdle();
        const int rows = meanwhile.contains("ended") || meanwhile.contains("other") ? 0 : 2 * MessageList::kPageSize;
        QStringList stored;
        for (const MessageRecord &record : store.shownMessages(m_conversation))
            stored.append(record.id);
        QCOMPARE(idsOf(m_chat->messages()), stored.mid(stored.size() - rows, rows));
        QCOMPARE(log.inserted.count(), rows > 0 ? 1 : 0);
    }

    // A burst of new messages goes into the model the view shows at most
    // once a frame (each insert moves the view to the end again), while
    // messages() and every later change see each message at once.
    void aBurstGoesInOncePerFrame_data()
    {
        QTest::addColumn<QString>("then");
        QTest::addColumn<QStringList>("expectedTail");
        QStringList burst;
        for (int i = 0; i < 30; ++i)
            burst.append(QStringLiteral("b%1").arg(i));
        QStringList withoutOne = burst;
        withoutOne.removeAll("b10");
        QTest::newRow("nothing more") << "" << burst;
        QTest::newRow("an earlier message stored") << "earlier" << QStringList{"m99", "earlier"} + burst;
        QTest::newRow("status of the newest") << "status" << burst;
        QTest::newRow("one of them deleted") << "remove" << withoutOne;
        QTest::newRow("older page read") << "older" << burst;
        QTest::newRow("another conversation opened") << "switch" << QStringList{};
    }
    void aBurstGoesInOncePerFrame()
    {
        QFETCH(QString, then);
        QFETCH(QStringList, expectedTail);
        storeMessages(100);
        openAndShow(m_peer);
        QAbstractItemModelTester tester(model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        ChatHost &host = m_chat->host();
        ModelLog log(model());
        QStringList burst;
        for (int i = 0; i < 30; ++i) {
            burst.append(QStringLiteral("b%1").arg(i));
            host.messageStored(message(burst.last(), m_conversation, burst.last(), 5000 + i / 4, true));
        }
        QCOMPARE(idsOf(m_chat->messages()).mid(MessageList::kPageSize), burst);
        if (then == "earlier") {
            host.messageStored(message("earlier", m_conversation, "earlier", 4000));
        } else if (then == "status") {
            host.messageStatusChanged("b29", int(MessageStatus::Sent));
            QCOMPARE(m_chat->messages().last().toMap().value("status").toInt(), int(MessageStatus::Sent));
        } else if (then == "remove") {
            host.messageRemoved("b10");
        } else if (then == "older") {
            QVERIFY(m_chat->loadOlderMessages());
            waitIdle();
        } else if (then == "switch") {
            const QString other = peerKey(0x63);
            ChatStore::instance().ensureDirectConversation(other, other, QStringLiteral("o"));
            m_chat->openConversation(other);
        }
        const QStringList expected = idsOf(m_chat->messages());
        QCOMPARE(expected.mid(expected.size() - expectedTail.size()), expectedTail);
        auto shown = [this] {
            QStringList ids;
            for (int i = 0; i < model()->rowCount(); ++i)
                ids.append(model()->data(model()->index(i, 0), MessageRowModel::KeyRole).toString());
            return ids;
        };
        QTRY_COMPARE(shown(), expected);
        QTest::qWait(50); // nothing comes late
        QCOMPARE(shown(), expected);
        // One row at once, the rest of the frame together, one more for the
        // earlier message, one for the older page.
        QVERIFY2(log.inserted.count() <= 4, qPrintable(QString::number(log.inserted.count())));
    }

    // Runs of one sender: the marks of a row follow its neighbours as rows
    // come and go.
    void runMarksFollowNeighbours()
    {
        MessageRowModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        auto row = [](const char *id, const char *from, const char *kind = "text") {
            return QVariantMap{ { "id", id }, { "senderAddress", from }, { "kind", kind }, { "outgoing", false } };
        };
        model.reset({ row("a", "x"), row("b", "x"), row("c", "y") });
        auto marks = [&model] {
            QString out;
            for (int i = 0; i < model.count(); ++i) {
                const QModelIndex at = model.index(i);
                out += model.data(at, MessageRowModel::FirstInGroupRole).toBool() ? "[" : "";
                out += model.keyAt(i);
                out += model.data(at, MessageRowModel::LastInGroupRole).toBool() ? "]" : "";
            }
            return out;
        };
        QCOMPARE(marks(), QStringLiteral("[ab][c]"));
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.insert(3, row("d", "y"));
        QCOMPARE(marks(), QStringLiteral("[ab][cd]"));
        QVERIFY(!changed.isEmpty()); // c lost its closing mark
        model.insert(2, row("s", "", "system"));
        QCOMPARE(marks(), QStringLiteral("[ab][s][cd]"));
        model.remove(0);
        QCOMPARE(marks(), QStringLiteral("[b][s][cd]"));
        model.replace(1, row("s", "x"));
        QCOMPARE(marks(), QStringLiteral("[bs][cd]"));
    }
};

QTEST_GUILESS_MAIN(MessagePagesTest)
#include "test_message_pages.moc"
