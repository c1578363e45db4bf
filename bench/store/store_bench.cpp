// Store hot paths: bulk message writes, reading one long conversation, and
// the conversation list of a large account.
#include "store/chat_store.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using velmor::chat::MessageRecord;
using velmor::chat::MessageStatus;

namespace {

const QString kOwner = QStringLiteral("BenchOwnerKeyAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA");

MessageRecord benchMessage(int i, const QString &conversation)
{
    MessageRecord m;
    m.id = QStringLiteral("msg-%1").arg(i);
    m.conversation_id = conversation;
    m.peer_raw_public_key = conversation;
    m.sender_raw_public_key = QStringLiteral("SenderKey%1").arg(i % 7);
    m.text = QStringLiteral("A message of ordinary length, number %1, with some text in it.").arg(i);
    m.created_at = 1700000000 + i;
    m.status = MessageStatus::Received;
    m.sender_address = QStringLiteral("0x00000000000000000000000000000000000000%1").arg(i % 100, 2, 10, QLatin1Char('0'));
    m.content_digest = QStringLiteral("%1").arg(i, 64, 16, QLatin1Char('0'));
    return m;
}

QTemporaryDir &benchDir()
{
    static QTemporaryDir dir;
    return dir;
}

void BM_UpsertMessages100k(benchmark::State &state)
{
    int run = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ChatStore store;
        if (!store.open(kOwner, benchDir().filePath(QStringLiteral("upsert-%1.db").arg(run++)))) {
            state.SkipWithError("cannot open the store");
            break;
        }
        QStringList conversations;
        for (int c = 0; c < 100; ++c)
            conversations << store.ensureGroupConversation(QStringLiteral("g%1").arg(c), QStringLiteral("G")).id;
        state.ResumeTiming();
        for (int i = 0; i < 100000; ++i) {
            if (!store.upsertMessage(benchMessage(i, conversations.at(i % 100)))) {
                state.SkipWithError("upsert failed");
                break;
            }
        }
        state.PauseTiming();
        store.close();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_UpsertMessages100k)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_MessagesOfLongConversation(benchmark::State &state)
{
    ChatStore store;
    if (!store.open(kOwner, benchDir().filePath(QStringLiteral("long.db")))) {
        state.SkipWithError("cannot open the store");
        return;
    }
    const QString conv = store.ensureGroupConversation(QStringLiteral("long"), QStringLiteral("Long")).id;
    const int count = static_cast<int>(state.range(0));
    // Other conversations in the same file, so the read has to use the index.
    for (int i = 0; i < count; ++i) {
        store.upsertMessage(benchMessage(i, conv));
        store.upsertMessage(benchMessage(count + i, QStringLiteral("group:other%1").arg(i % 50)));
    }
    for (auto _ : state) {
        const auto list = store.messages(conv);
        if (list.size() != count)
            state.SkipWithError("wrong row count");
        benchmark::DoNotOptimize(list.size());
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_MessagesOfLongConversation)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_VisibleConversations(benchmark::State &state)
{
    ChatStore store;
    if (!store.open(kOwner, benchDir().filePath(QStringLiteral("list.db")))) {
        state.SkipWithError("cannot open the store");
        return;
    }
    const int count = static_cast<int>(state.range(0));
    for (int i = 0; i < count; ++i) {
        const QString peer = QStringLiteral("PeerKey%1").arg(i, 6, 10, QLatin1Char('0'));
        const QString id = store.ensureDirectConversation(peer, peer, peer.left(12)).id;
        store.upsertMessage(benchMessage(i, id));
    }
    for (auto _ : state) {
        const auto list = store.visibleConversations();
        if (list.size() != count)
            state.SkipWithError("wrong row count");
        benchmark::DoNotOptimize(list.size());
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_VisibleConversations)->Arg(2000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
