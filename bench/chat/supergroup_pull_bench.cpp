// One super-group pull of 200 messages, 20 of them images of 100 KB, from a
// local group server: the GUI thread's CPU time from the request to the last
// message stored (the network wait, sealing and opening run elsewhere), and
// the whole pull's wall time beside it.
//
// A group's history of 10,000 posts pulled and stored through the real
// controller (the pulls follow each other by themselves), with the worst
// stall of the thread that runs it, beside a bare loop doing the same
// pulls and storing each batch in one transaction.
#include "bench/bench_ratio.h"
#include "bench/gui_stall_meter.h"
#include "bench/loopback_endpoints.h"
#include "chat/chat_controller.h"
#include "chat/supergroup_parts.h"
#include "identity/crypto.h"
#include "identity/identity.h"
#include "net/relay_session.h"
#include "net/supergroup_api.h"
#include "net/supergroup_client.h"
#include "store/chat_store.h"
#include "support/fake_group_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <time.h>

using namespace velmor::chat;

namespace {

constexpr int kMessages = 200;
constexpr int kImageEvery = 10;
constexpr int kImageBytes = 100 * 1024;
constexpr int kHistory = 10000;

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Group
{
    velmor::identity::Identity me{QByteArray(32, 0x5b)};
    velmor::identity::Identity sender{QByteArray(32, 0x5c)};
    velmor::fakes::FakeGroupServer server{sender.publicKeyText(), QStringLiteral("Bench")};

    Group()
    {
        server.start();
        server.addMember(me.publicKeyText(), QStringLiteral("member"), QStringLiteral("Me"));
        QByteArray image(kImageBytes, '\0');
        for (int i = 0; i < kImageBytes; ++i)
            image[i] = char((i * 131) & 0xff);
        const QString imageText = velmor::crypto::base64UrlEncode(image);
        for (int i = 0; i < kMessages; ++i) {
            if (i % kImageEvery == 0)
                server.appendMessage(sender.publicKeyText(), QStringLiteral("image"),
                                     QJsonObject{{"type", "image"}, {"imageB64", imageText},
                                                 {"mime", "image/jpeg"}, {"width", 640}, {"height", 480}});
            else
                server.appendMessage(sender.publicKeyText(), QStringLiteral("text"),
                                     QJsonObject{{"type", "text"},
                                                 {"text", QStringLiteral("Message %1 of the bench group").arg(i)}});
        }
    }
};

Group &group()
{
    static Group g;
    return g;
}

struct History
{
    velmor::identity::Identity sender{QByteArray(32, 0x5d)};
    velmor::fakes::FakeGroupServer server{sender.publicKeyText(), QStringLiteral("History")};

    History()
    {
        server.start();
        server.addMember(group().me.publicKeyText(), QStringLiteral("member"), QStringLiteral("Me"));
        for (int i = 0; i < kHistory; ++i)
            server.appendMessage(sender.publicKeyText(), QStringLiteral("text"),
                                 QJsonObject{{"type", "text"},
                                             {"text", QStringLiteral("Post %1 of a long group history").arg(i)}});
    }
};

History &history()
{
    static History h;
    return h;
}

QString historyPeer()
{
    return QStringLiteral("sg:") + history().server.baseUrl();
}

void signInForBench()
{
    velmor::net::RelayAuthSession::instance().configure(QStringLiteral("http://127.0.0.1:9"), group().me);
    velmor::bench::useLoopbackGroupCentre();
    velmor::sg::SuperGroupServiceClient::instance().clearTokens();
}

void BM_HistoryThroughTheController(benchmark::State &state)
{
    History &h = history();
    signInForBench();
    GuiStallMeter meter;
    double worstStall = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        ChatStore::instance().open(group().me.publicKeyText(), dir.filePath(QStringLiteral("bench.db")));
        auto chat = std::make_unique<ChatController>();
        chat->watchReachability(false);
        meter.start();
        state.ResumeTiming();

        chat->superGroupParts().sync.pull(h.server.baseUrl());
        spinUntil([&] { return chat->pendingJobs() == 0 && !chat->superGroupParts().sync.isPulling(h.server.baseUrl()); });

        state.PauseTiming();
        worstStall = std::max(worstStall, meter.stopMs());
        const qsizetype stored = ChatStore::instance().messages(historyPeer()).size();
        if (stored != kHistory)
            std::fprintf(stderr, "history: %lld of %d stored\n", (long long)stored, kHistory);
        chat.reset();
        ChatStore::instance().close();
        state.ResumeTiming();
    }
    state.counters["worst_gui_stall_ms"] = worstStall;
}
BENCHMARK(BM_HistoryThroughTheController)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_BareHistoryPullAndStore(benchmark::State &state)
{
    History &h = history();
    signInForBench();
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        ChatStore &store = ChatStore::instance();
        store.open(group().me.publicKeyText(), dir.filePath(QStringLiteral("bench.db")));
        state.ResumeTiming();

        qint64 cursor = 0;
        for (;;) {
            const QList<velmor::sg::SGMessage> batch =
                velmor::sg::SuperGroupApi::instance().pullMessages(h.server.baseUrl(), cursor, 200);
            if (batch.isEmpty())
                break;
            QList<MessageRecord> rows;
            rows.reserve(batch.size());
            for (const velmor::sg::SGMessage &m : batch) {
                MessageRecord r;
                r.id = m.messageId;
                r.conversation_id = historyPeer();
                r.peer_raw_public_key = r.conversation_id;
                r.sender_raw_public_key = m.senderPubkey;
                r.text = m.text;
                r.created_at = m.createdAt;
                r.status = MessageStatus::Received;
                r.server_seq = m.seq;
                rows.append(r);
                cursor = qMax(cursor, m.seq);
            }
            store.upsertMessages(rows);
        }

        state.PauseTiming();
        const qsizetype stored = store.messages(historyPeer()).size();
        if (stored != kHistory)
            std::fprintf(stderr, "bare history: %lld of %d stored\n", (long long)stored, kHistory);
        store.close();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_BareHistoryPullAndStore)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_SuperGroupPull200With20Images(benchmark::State &state)
{
    Group &g = group();
    velmor::net::RelayAuthSession::instance().configure(QStringLiteral("http://127.0.0.1:9"), g.me);
    velmor::bench::useLoopbackGroupCentre();
    velmor::sg::SuperGroupServiceClient::instance().clearTokens();
    double wallTotal = 0;
    int stored = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        ChatStore::instance().open(g.me.publicKeyText(), dir.filePath(QStringLiteral("bench.db")));
        auto chat = std::make_unique<ChatController>();
        chat->watchReachability(false);
        state.ResumeTiming();

        QElapsedTimer wall;
        wall.start();
        const double cpuStart = threadCpuSeconds();
        chat->superGroupParts().sync.pull(g.server.baseUrl());
        while (chat->pendingJobs() > 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double cpu = threadCpuSeconds() - cpuStart;
        wallTotal += double(wall.nsecsElapsed()) / 1e9;
        state.SetIterationTime(cpu);

        state.PauseTiming();
        stored = int(ChatStore::instance().messages(QStringLiteral("sg:") + g.server.baseUrl()).size());
        chat.reset();
        ChatStore::instance().close();
        state.ResumeTiming();
    }
    state.counters["stored"] = stored;
    state.counters["wall_ms"] = 1000.0 * wallTotal / double(state.iterations());
}
BENCHMARK(BM_SuperGroupPull200With20Images)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int code = velmor::bench::runWithRatios(
        argc, argv,
        {{"BM_HistoryThroughTheController/iterations:1/real_time", "BM_BareHistoryPullAndStore/iterations:1/real_time",
          1.2}});
    // The server threads end before the application object does.
    history().server.stop();
    group().server.stop();
    return code;
}
