// One super-group pull of 200 messages, 20 of them images of 100 KB, from a
// local group server: the GUI thread's CPU time from the request to the last
// message stored (the network wait, sealing and opening run elsewhere), and
// the whole pull's wall time beside it.
#include "bench/loopback_endpoints.h"
#include "chat/chat_controller.h"
#include "chat/supergroup_parts.h"
#include "identity/crypto.h"
#include "identity/identity.h"
#include "net/relay_session.h"
#include "net/supergroup_client.h"
#include "store/chat_store.h"
#include "support/fake_group_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <time.h>

namespace {

constexpr int kMessages = 200;
constexpr int kImageEvery = 10;
constexpr int kImageBytes = 100 * 1024;

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
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The server thread ends before the application object does.
    group().server.stop();
    return 0;
}
