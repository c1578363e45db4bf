// A burst of 1,000 texts typed into one one-to-one conversation, through
// the Chat object and the local relay, from the first sendText until the
// last is marked sent (every final status told), with the longest stall of
// the GUI thread's event loop meanwhile; beside the bare work of the same
// burst on a worker: the 1,000 texts sealed and signed, written with their
// envelopes in one transaction, posted to the same relay one after another
// (the order they were written in), and marked sent in one transaction.
#include "bench/bench_ratio.h"
#include "bench/chat/signed_in_bench.h"
#include "bench/loopback_endpoints.h"
#include "chat/chat_controller.h"
#include "chat/messaging_parts.h"
#include "chat/outbox.h"
#include "identity/identity.h"
#include "net/relay_api.h"
#include "net/relay_session.h"
#include "store/chat_store.h"
#include "support/fake_relay.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>

using namespace velmor::chat;
using velmor::bench::timed;
using velmor::bench::waitForEvents;

namespace {

constexpr int kBurst = 1000;
// A burst is given this long to end.
constexpr int kLimitMs = 120000;

// The relay, the owner signed in with a store of their own, the Chat object
// and a conversation with a peer the relay knows.
struct Bench
{
    QTemporaryDir dir;
    velmor::fakes::FakeRelay relay;
    std::unique_ptr<ChatController> chat;
    velmor::identity::Identity owner{QByteArray(32, 0x7a)};
    velmor::identity::Identity peer{QByteArray(32, 0x2b)};

    Bench()
    {
        relay.start();
        relay.markSeen(peer.publicKeyText());
        velmor::net::RelayAuthSession::instance().configure(relay.baseUrl(), owner);
        velmor::bench::useLoopbackGroupCentre();
        ChatStore::instance().open(owner.publicKeyText(), QDir(dir.path()).filePath("owner.db"));
        chat = velmor::bench::makeController();
        chat->newChat(peer.publicKeyText());
        settle();
    }
    ~Bench()
    {
        velmor::bench::stopController(*chat);
        chat.reset();
        ChatStore::instance().close();
        velmor::net::RelayAuthSession::instance().clear();
        relay.stop();
    }
    void settle()
    {
        velmor::bench::spinUntil([this] { return chat->pendingJobs() == 0; }, 60000);
    }
};

void BM_SendBurstOf1000(benchmark::State &state)
{
    Bench bench;
    Outbox &outbox = bench.chat->messaging().outbox;
    double longestStall = 0;
    int round = 0;
    for (auto _ : state) {
        int sent = 0;
        int finished = 0;
        QMetaObject::Connection c =
            QObject::connect(&outbox, &Outbox::sendFinished, [&](const QString &, int status) {
                ++finished;
                sent += status == int(MessageStatus::Sent);
            });
        const auto [seconds, stallMs] = timed(
            [&] {
                for (int i = 0; i < kBurst; ++i)
                    bench.chat->sendText(QStringLiteral("burst %1 message %2 of a few words").arg(round).arg(i));
            },
            [&] { return finished >= kBurst; }, kLimitMs);
        QObject::disconnect(c);
        ++round;
        if (sent != kBurst)
            state.SkipWithError("burst not sent");
        state.SetIterationTime(seconds);
        longestStall = std::max(longestStall, stallMs);
        state.PauseTiming();
        bench.settle();
        state.ResumeTiming();
    }
    state.counters["longest_gui_stall_ms"] = longestStall;
}
BENCHMARK(BM_SendBurstOf1000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_BareSendBurstOf1000(benchmark::State &state)
{
    Bench bench;
    const QString peerKey = bench.peer.publicKeyText();
    const QString conversation = ChatStore::instance().conversationIdFor(peerKey);
    int round = 0;
    for (auto _ : state) {
        bool ok = false;
        QFuture<void> burst;
        const auto [seconds, stallMs] = timed(
            [&] {
                burst = QtConcurrent::run([&, round] {
                    QList<MessageRecord> rows;
                    QStringList envelopes;
                    QList<velmor::identity::Envelope> sealed;
                    const qint64 now = QDateTime::currentSecsSinceEpoch();
                    for (int i = 0; i < kBurst; ++i) {
                        MessageRecord row;
                        row.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
                        row.conversation_id = conversation;
                        row.peer_raw_public_key = peerKey;
                        row.sender_raw_public_key = bench.owner.publicKeyText();
                        row.text = QStringLiteral("burst %1 message %2 of a few words").arg(round).arg(i);
                        row.created_at = now;
                        row.is_outgoing = true;
                        row.status = MessageStatus::Sending;
                        QString error;
                        sealed.append(RelayApi::sealEnvelope(bench.owner, peerKey,
                                                             RelayApi::textContent(row.text, now * 1000 + i), row.id,
                                                             &error));
                        QJsonObject wire = RelayApi::envelopeToJson(sealed.last());
                        wire.insert(QStringLiteral("notify_type"), QStringLiteral("message"));
                        envelopes.append(QString::fromUtf8(QJsonDocument(wire).toJson(QJsonDocument::Compact)));
                        rows.append(row);
                    }
                    ChatStore &store = ChatStore::instance();
                    ok = store.upsertOutgoing(bench.owner.publicKeyText(), rows, envelopes);
                    QList<QPair<QString, MessageStatus>> statuses;
                    for (qsizetype i = 0; i < rows.size(); ++i) {
                        ok = ok && RelayApi::send(sealed.at(i), QStringLiteral("message")).ok;
                        statuses.append({rows.at(i).id, MessageStatus::Sent});
                    }
                    ok = ok && store.setMessageStatuses(statuses);
                });
            },
            [&] { return burst.isFinished(); }, kLimitMs);
        ++round;
        if (!ok)
            state.SkipWithError("bare burst not sent");
        state.SetIterationTime(seconds);
    }
}
BENCHMARK(BM_BareSendBurstOf1000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return velmor::bench::runWithRatios(
        argc, argv,
        {{"BM_SendBurstOf1000/iterations:1/manual_time", "BM_BareSendBurstOf1000/iterations:1/manual_time", 0}});
}
