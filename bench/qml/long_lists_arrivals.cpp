// The arrival and send parts of long_lists_bench (see its source for what
// each measures).
#include "long_lists_fixture.h"

#include <QDateTime>
#include <QEventLoop>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

namespace velmor::bench::lists {

namespace {
// Runs the event loop until `ms` after `since`, sleeping while idle.
void restUntil(const QElapsedTimer &since, int ms)
{
    QEventLoop loop;
    QTimer::singleShot(std::max<qint64>(0, ms - since.elapsed()), &loop, &QEventLoop::quit);
    loop.exec();
}

// A text from `sender` to `recipient`, sealed and signed as the relay keeps it.
QJsonObject sealedText(const velmor::identity::Identity &sender, const QString &recipient, const QString &id,
                       const QString &text)
{
    MessageContent content;
    content.type = QStringLiteral("text");
    content.text = text;
    const QString box = velmor::identity::sealDirectMessage(sender, recipient, serializeMessageContent(content));
    return RelayApi::envelopeToJson(
        velmor::identity::signEnvelope(sender, recipient, box, id, QDateTime::currentSecsSinceEpoch()));
}

// From the message's arrival at the relay to the frame that shows message
// `id`. The relay's push notice starts the pull, as it does for the window;
// without the push socket (`byNotice` false) the bench asks for the pull as
// the notice would (asking as well with the socket connected pulls twice).
Q_NEVER_INLINE void pullAndShow(Bench &b, Inbox &inbox, bool byNotice, const velmor::models::KeyedListModel &rows,
                                const QString &id, const QElapsedTimer &t)
{
    if (!byNotice)
        inbox.pullFresh();
    // Waits without spinning: the GUI thread's CPU is its work alone.
    while (rows.indexOf(id) < 0 && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    b.window.grabWindow();
}

// The same for an arrival that counts (not the first, which fills caches),
// so that a profiler can collect these and nothing else:
//   valgrind --tool=callgrind --collect-atstart=no --toggle-collect='*pullUntilShown*'
Q_NEVER_INLINE void pullUntilShown(Bench &b, Inbox &inbox, bool byNotice, const velmor::models::KeyedListModel &rows,
                                   const QString &id, const QElapsedTimer &t)
{
    pullAndShow(b, inbox, byNotice, rows, id, t);
}

} // namespace

void partArrive(Bench &b, const QString &peer)
{
    std::printf("\n== a message arriving in the open 100,000-message conversation ==\n");
    b.chat->openConversation(peer);
    b.settle(300);
    ChatStore &store = ChatStore::instance();
    const QString conversation = store.conversationIdFor(peer);
    std::vector<double> reload, single, writes, frames;
    for (int i = 0; i < 20; ++i) {
        MessageRecord m;
        m.id = QStringLiteral("arrival-%1").arg(i);
        m.conversation_id = conversation;
        m.peer_raw_public_key = peer;
        m.text = QStringLiteral("just arrived %1").arg(i);
        m.created_at = 1800000000 + i;
        m.status = MessageStatus::Received;
        QElapsedTimer t;
        t.start();
        store.upsertMessage(m);
        writes.push_back(msSince(t));
        t.restart();
        // As a pull that stored messages (the list reads again what it
        // shows), or as a part that names the one message it stored.
        if (i % 2 == 0)
            b.chat->host().reloadMessages();
        else
            b.chat->host().messageStored(m);
        const double work = msSince(t);
        (i % 2 == 0 ? reload : single).push_back(work);
        frames.push_back(b.frame());
        b.settle(50);
    }
    std::printf("store write: median %.2f ms (not the list's)\n", percentile(writes, 0.5));
    std::printf("list update by reloadMessages: median %.2f ms, max %.2f ms\n", percentile(reload, 0.5),
                percentile(reload, 1.0));
    std::printf("list update by messageStored:  median %.2f ms, max %.2f ms\n", percentile(single, 0.5),
                percentile(single, 1.0));
    std::printf("the frame that shows it:       median %.2f ms, max %.2f ms\n", percentile(frames, 0.5),
                percentile(frames, 1.0));
    std::printf("GUI work per message (update + frame), median: %.2f ms (goal <= 20)\n",
                percentile(reload, 0.5) + percentile(frames, 0.5));
}

void partArriveThroughInbox(Bench &b, velmor::fakes::FakeRelay &relay, const velmor::identity::Identity &peer,
                            const QString &owner)
{
    std::printf("\n== a message arriving through the inbox in the open 100,000-message conversation ==\n");
    const QString peerKeyText = peer.publicKeyText();
    b.chat->openConversation(peerKeyText);
    b.settle(300);
    auto *rows = qobject_cast<velmor::models::KeyedListModel *>(b.chat->messageModel());
    Inbox &inbox = b.chat->messaging().inbox;
    // The newest page is shown before the first arrival (a slow machine,
    // or a profiler, takes longer than the settling).
    const QList<MessageRecord> newest = ChatStore::instance().shownMessagesBefore(
        ChatStore::instance().conversationIdFor(peerKeyText), std::nullopt, 1, nullptr);
    QElapsedTimer opening;
    opening.start();
    while (!newest.isEmpty() && rows->indexOf(newest.first().id) < 0 && opening.elapsed() < 120000)
        b.settle(50);
    int notices = 0;
    const QMetaObject::Connection noticing = QObject::connect(
        &b.chat->messaging().push, &PushChannels::newMessageNotice, [&notices] { ++notices; });
    bool byNotice = true; // until the first arrival shows otherwise
    std::vector<double> ours, wall, settled, bareSettled;
    for (int i = 0; i < 21; ++i) {
        const QString id = QStringLiteral("00000000-0000-4000-8000-%1").arg(i, 12, 10, QLatin1Char('0'));
        const QJsonObject sealed = sealedText(peer, owner, id, QStringLiteral("arrived through the inbox %1").arg(i));
        // At the relay (its own work is not the window's), announced to
        // the push socket by the relay's thread.
        relay.enqueueRaw(owner, sealed);
        QElapsedTimer t;
        t.start();
        const double cpu0 = threadCpuMs();
        if (i == 0) {
            // Whether the relay's notice reaches the window here.
            while (notices == 0 && t.elapsed() < 2000)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            byNotice = notices > 0;
            if (!byNotice)
                std::printf("(no push notice: the bench asks for each pull)\n");
        }
        (i > 0 ? pullUntilShown : pullAndShow)(b, inbox, byNotice, *rows, id, t);
        if (i > 0) { // the first fills caches
            ours.push_back(threadCpuMs() - cpu0);
            wall.push_back(msSince(t));
        }
        if (rows->indexOf(id) < 0) {
            std::printf("message %d not shown\n", i);
            return;
        }
        while (inbox.syncing() && t.elapsed() < 10000) // the acknowledgement goes out
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // What the arrival costs until the window is at rest again
        // (animations, acknowledgements, the sidebar), waiting without spinning.
        restUntil(t, 500);
        if (i > 0)
            settled.push_back(threadCpuMs() - cpu0);
    }
    QObject::disconnect(noticing);
    // The bare list: the open conversation's newest rows, one row more and
    // the frame that shows it.
    std::vector<double> bare;
    {
        QQuickItem *bareList = b.load(kBareList, "BareList");
        auto *bareRows = bareList->findChild<velmor::models::KeyedListModel *>(QStringLiteral("rows"));
        QList<QVariantMap> maps = shownMaps(peerKeyText);
        maps = maps.mid(maps.size() - 60);
        bareRows->reset(maps);
        QMetaObject::invokeMethod(bareList, "positionViewAtEnd");
        b.settle(300);
        for (int i = 0; i < 20; ++i) {
            QVariantMap row = maps.last();
            row.insert(QStringLiteral("id"), QStringLiteral("bare-%1").arg(i));
            row.insert(QStringLiteral("text"), QStringLiteral("arrived through the inbox %1").arg(i));
            const double cpu0 = threadCpuMs();
            bareRows->insert(bareRows->count(), row);
            QMetaObject::invokeMethod(bareList, "positionViewAtEnd");
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            b.window.grabWindow();
            bare.push_back(threadCpuMs() - cpu0);
            QElapsedTimer t;
            t.start();
            restUntil(t, 500);
            bareSettled.push_back(threadCpuMs() - cpu0);
        }
        delete bareList;
        b.settle(100);
    }
    std::printf("GUI CPU per message, relay to frame: median %.2f ms, p95 %.2f ms, max %.2f ms (wall median %.1f ms)\n",
                percentile(ours, 0.5), percentile(ours, 0.95), percentile(ours, 1.0), percentile(wall, 0.5));
    std::printf("bare row added and drawn:            median %.2f ms, p95 %.2f ms, max %.2f ms\n",
                percentile(bare, 0.5), percentile(bare, 0.95), percentile(bare, 1.0));
    std::printf("ratio of medians %.2f (goal: ours <= 2 ms)\n", percentile(ours, 0.5) / std::max(0.01, percentile(bare, 0.5)));
    std::printf("GUI CPU over the 500 ms from the arrival: median %.2f ms, max %.2f ms; bare %.2f ms, max %.2f ms; "
                "ratio %.2f\n", percentile(settled, 0.5), percentile(settled, 1.0), percentile(bareSettled, 0.5),
                percentile(bareSettled, 1.0), percentile(settled, 0.5) / std::max(0.01, percentile(bareSettled, 0.5)));
}

void partBurst(Bench &b, velmor::fakes::FakeRelay &relay, const QString &peer, int count)
{
    relay.markSeen(peer); // the relay takes messages for a key it has seen
    std::printf("\n== a burst of %d sends in the open conversation, until the last shows sent ==\n", count);
    b.chat->openConversation(peer);
    b.settle(300);
    Outbox &outbox = b.chat->messaging().outbox;
    int sent = 0;
    const QMetaObject::Connection counting = QObject::connect(&outbox, &Outbox::sendFinished, [&sent](const QString &, int status) {
        if (status == int(MessageStatus::Sent))
            ++sent;
    });
    QElapsedTimer t;
    // When the first and the last of the burst are in the view's model.
    QAbstractItemModel *model = b.chat->messageModel();
    const int rowsBefore = model->rowCount();
    double firstShown = -1;
    double allShown = -1;
    const QMetaObject::Connection showing = QObject::connect(model, &QAbstractItemModel::rowsInserted, [&] {
        if (firstShown < 0)
            firstShown = msSince(t);
        if (allShown < 0 && model->rowCount() >= rowsBefore + count)
            allShown = msSince(t);
    });
    t.start();
    const double cpu0 = threadCpuMs();
    for (int i = 0; i < count; ++i)
        b.chat->sendText(QStringLiteral("burst %1 of a few words").arg(i));
    const double afterCalls = msSince(t);
    while (sent < count && t.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    b.window.grabWindow();
    const double ours = msSince(t);
    const double oursCpu = threadCpuMs() - cpu0;
    QObject::disconnect(counting);
    QObject::disconnect(showing);

    // Bare: the same texts sealed, signed and posted by one worker, the
    // relay answering on this thread as it does for the window.
    std::atomic<bool> done{false};
    t.restart();
    QFuture<int> posted = QtConcurrent::run([&] {
        int ok = 0;
        for (int i = 0; i < count; ++i) {
            const RelaySendResult result = RelayApi::sendText(peer, QStringLiteral("bare %1 of a few words").arg(i));
            ok += result.ok ? 1 : 0;
            if (!result.ok && i == 0)
                std::printf("bare send failed: %s\n", qPrintable(result.error));
        }
        done = true;
        return ok;
    });
    while (!done && t.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double bare = msSince(t);
    std::printf("ours: %d of %d sent in %.0f ms (the calls %.0f ms, GUI CPU %.0f ms; first row shown at %.0f ms, "
                "the last at %.0f ms)\n",
                sent, count, ours, afterCalls, oursCpu, firstShown, allShown);
    std::printf("bare seal + sign + post: %d of %d in %.0f ms\n", posted.result(), count, bare);
    std::printf("ratio %.2f (goal <= 2)\n", ours / std::max(1.0, bare));
}

} // namespace velmor::bench::lists
