// Normal-group work started from the Chat object, through the local relay:
// creating a 20-member group, and approving a join request that makes a
// group 20 members strong (the new card sealed to each member and fanned
// out). Each figure is the time from the call to the end of the operation,
// with the longest stall of the GUI thread's event loop meanwhile (a 1 ms
// timer that notes the longest gap between its ticks).
#include "bench/loopback_endpoints.h"
#include "chat/chat_controller.h"
#include "chat/directory_parts.h"
#include "groups/group_card.h"
#include "groups/group_engine.h"
#include "identity/identity.h"
#include "net/relay_session.h"
#include "store/chat_store.h"
#include "support/fake_relay.h"
#include "support/fake_relay_groups.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>

using namespace velmor::chat;

namespace {

QString keyOf(int i)
{
    QByteArray secret(32, 0x02);
    secret[31] = char(i + 1);
    return velmor::identity::Identity(secret).publicKeyText();
}

// The relay, the owner signed in with a store of their own, and the Chat object.
struct Bench
{
    QTemporaryDir dir;
    velmor::fakes::FakeRelay relay;
    std::unique_ptr<velmor::fakes::FakeRelayGroups> groups;
    std::unique_ptr<ChatController> chat;
    velmor::identity::Identity owner{QByteArray(32, 0x7a)};

    Bench()
    {
        groups = std::make_unique<velmor::fakes::FakeRelayGroups>(relay);
        relay.start();
        for (int i = 0; i < 40; ++i)
            relay.markSeen(keyOf(i));
        velmor::net::RelayAuthSession::instance().configure(relay.baseUrl(), owner);
        velmor::bench::useLoopbackGroupCentre();
        ChatStore::instance().open(owner.publicKeyText(), QDir(dir.path()).filePath("owner.db"));
        chat = std::make_unique<ChatController>();
        chat->watchReachability(false);
        chat->start();
        settle();
    }
    ~Bench()
    {
        chat.reset();
        ChatStore::instance().close();
        velmor::net::RelayAuthSession::instance().clear();
        relay.stop();
    }
    void settle()
    {
        QElapsedTimer clock;
        clock.start();
        while (chat->pendingJobs() > 0 && clock.elapsed() < 30000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
};

// Runs `start` and the event loop until `done`; the time it took and the
// longest gap between two ticks of a 1 ms timer on this (the GUI) thread.
template <typename Start, typename Done>
std::pair<double, double> timed(Start start, Done done)
{
    QTimer ticker;
    ticker.setInterval(1);
    QElapsedTimer clock, sinceTick;
    qint64 longestGapNs = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGapNs = std::max(longestGapNs, sinceTick.nsecsElapsed());
        sinceTick.restart();
    });
    clock.start();
    sinceTick.start();
    ticker.start();
    start();
    // The call itself counts as a stall of the loop.
    longestGapNs = std::max(longestGapNs, sinceTick.nsecsElapsed());
    while (!done() && clock.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    ticker.stop();
    return {clock.nsecsElapsed() / 1e9, longestGapNs / 1e6};
}

void BM_CreateGroupOf20(benchmark::State &state)
{
    Bench bench;
    QVariantList picked;
    for (int i = 0; i < 19; ++i)
        picked.append(keyOf(i));
    double longestStall = 0;
    for (auto _ : state) {
        int finished = 0;
        QMetaObject::Connection c = QObject::connect(bench.chat.get(), &ChatController::groupOperationFinished,
                                                     [&](const QString &, const QString &, bool ok, const QString &) {
                                                         finished = ok ? 1 : -1;
                                                     });
        const auto [seconds, stallMs] = timed([&] { bench.chat->createGroupFromContacts("Bench", picked); },
                                              [&] { return finished != 0; });
        QObject::disconnect(c);
        if (finished != 1)
            state.SkipWithError("group not created");
        state.SetIterationTime(seconds);
        longestStall = std::max(longestStall, stallMs);
        state.PauseTiming();
        bench.settle();
        state.ResumeTiming();
    }
    state.counters["longest_gui_stall_ms"] = longestStall;
}
BENCHMARK(BM_CreateGroupOf20)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_ApproveJoinIntoGroupOf20(benchmark::State &state)
{
    Bench bench;
    QStringList members;
    for (int i = 0; i < 18; ++i)
        members.append(keyOf(i));
    double longestStall = 0;
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // A group of 19 and one request that makes it 20.
        const GroupCreateResult created = createGroup(GroupRegistry::instance(), "Bench", members);
        const QString requester = keyOf(20 + (round++ % 19));
        PendingGroupJoinRequestRecord request;
        request.group_id = created.groupId;
        request.join_key = GroupRegistry::instance().card(created.groupId)->joinKey();
        request.requester_public_key = requester;
        request.requester_address = velmor::identity::ethereumAddress(velmor::crypto::base64UrlDecode(requester));
        request.created_at = 1;
        ChatStore::instance().upsertPendingGroupJoinRequest(request);
        bench.chat->reloadNotifications();
        bench.settle();
        state.ResumeTiming();

        const QString stableId = "normal:" + created.groupId + ":" + requester;
        const auto [seconds, stallMs] = timed(
            [&] { bench.chat->resolveJoinNotification("normal", created.groupId, requester, "approve"); },
            [&] { return bench.chat->directory().requests.running() == 0; });
        state.SetIterationTime(seconds);
        longestStall = std::max(longestStall, stallMs);
        const auto event = ChatStore::instance().notificationEvent(stableId);
        if (!created.ok || !event || event->state != QLatin1String("approved"))
            state.SkipWithError("request not approved");
    }
    state.counters["longest_gui_stall_ms"] = longestStall;
}
BENCHMARK(BM_ApproveJoinIntoGroupOf20)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
