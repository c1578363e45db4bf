// A sign-in that finds thousands of sends the last run never saw finish
// (12,000 and 30,000: a long burst killed mid-way), stored with their
// envelopes or kept only in the send journal. The signed-in Chat object
// starts against the local relay, which holds every post, until each send is
// queued to be posted. Figures: the longest stall of the GUI thread's event
// loop (a 1 ms timer's longest gap) and the time until all are queued;
// beside a bare baseline in the same run that reads the same ids and
// envelopes on a worker and takes them in on the GUI thread.
//
//   ./build/bench/chat/interrupted_sends_bench
#include "bench/chat/signed_in_bench.h"
#include "bench/gui_stall_meter.h"
#include "chat/messaging_parts.h"
#include "chat/send_journal.h"
#include "identity/envelope.h"
#include "net/relay_api.h"
#include "support/fake_relay.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QSet>
#include <QThreadPool>
#include <QTimer>
#include <QUuid>

#include <atomic>
#include <optional>

using namespace velmor::chat;
using velmor::bench::spinFor;
using velmor::bench::spinUntil;

namespace {

enum class Kept { Stored, Journal, Bare };

// `count` sends of the signed-in user to `peer` left sending, each with its envelope.
bool prepare(const velmor::bench::SignedIn &profile, const velmor::identity::Identity &peer, int count, Kept kept)
{
    ChatStore &store = ChatStore::instance();
    if (!profile.ok())
        return false;
    const QString peerKey = peer.publicKeyText();
    const QString conversation = store.ensureDirectConversation(peerKey, peerKey, QStringLiteral("p")).id;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QList<MessageRecord> rows;
    QStringList envelopes;
    for (int i = 0; i < count; ++i) {
        MessageRecord row;
        row.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        row.conversation_id = conversation;
        row.peer_raw_public_key = peerKey;
        row.sender_raw_public_key = profile.key();
        row.text = QStringLiteral("interrupted %1").arg(i);
        row.created_at = now;
        row.is_outgoing = true;
        row.status = MessageStatus::Sending;
        const velmor::identity::Envelope envelope =
            velmor::identity::signEnvelope(profile.me(), peerKey, QStringLiteral("box"), row.id, now);
        QJsonObject wire = RelayApi::envelopeToJson(envelope);
        wire.insert(QStringLiteral("notify_type"), QStringLiteral("message"));
        rows.append(row);
        envelopes.append(QString::fromUtf8(QJsonDocument(wire).toJson(QJsonDocument::Compact)));
    }
    if (kept == Kept::Journal) {
        QList<JournaledSend> sends;
        for (int i = 0; i < count; ++i)
            sends.append(JournaledSend{profile.key(), rows.at(i), envelopes.at(i)});
        return SendJournal::append(SendJournal::pathBeside(profile.path()), sends);
    }
    return store.upsertOutgoing(profile.key(), rows, envelopes);
}

void run(benchmark::State &state, Kept kept)
{
    const int count = int(state.range(0));
    double worstStall = 0;
    double queuedAfter = 0;
    for (auto _ : state) {
        state.PauseTiming();
        velmor::fakes::FakeRelay relay;
        relay.start();
        std::optional<velmor::bench::SignedIn> profile;
        profile.emplace(velmor::identity::Identity::generate(), relay.baseUrl());
        if (relay.baseUrl().isEmpty() || !prepare(*profile, velmor::identity::Identity::generate(), count, kept)) {
            state.SkipWithError("could not set up");
            return;
        }
        relay.http().holdRequests(QStringLiteral("/v1/message/send"));
        GuiStallMeter meter;
        QElapsedTimer clock;
        state.ResumeTiming();
        bool done = false;
        if (kept == Kept::Bare) {
            // The same ids and envelopes read on a worker, taken in here.
            std::atomic<bool> read{false};
            QStringList ids;
            QSet<QString> queued;
            meter.start();
            clock.start();
            QThreadPool::globalInstance()->start([&] {
                ChatStore &store = ChatStore::instance();
                QStringList found;
                for (const QString &id : store.interruptedEnvelopeSends()) {
                    if (!store.outgoingEnvelope(id).isEmpty())
                        found.append(id);
                }
                QMetaObject::invokeMethod(qApp, [&, found] {
                    for (const QString &id : found) {
                        if (!queued.contains(id)) {
                            queued.insert(id);
                            ids.append(id);
                        }
                    }
                    read = true;
                });
            });
            done = spinUntil([&] { return read.load(); }, 600000) && ids.size() == count;
            queuedAfter = double(clock.elapsed()) / 1000.0;
            spinFor(50);
        } else {
            const std::unique_ptr<ChatController> made = velmor::bench::makeController(false);
            ChatController &chat = *made;
            meter.start();
            clock.start();
            // From the event loop, as the window's sign-in does: the meter
            // sees what start() itself holds the thread for.
            QTimer::singleShot(0, &chat, [&chat] { chat.start(); });
            Outbox &outbox = chat.messaging().outbox;
            done = spinUntil([&] { return chat.isStarted() && outbox.waiting() + Outbox::kMaxPosts >= count; },
                             600000);
            queuedAfter = double(clock.elapsed()) / 1000.0;
            spinFor(50);
            worstStall = meter.stopMs();
            relay.http().releaseHeld();
            velmor::bench::stopController(chat);
        }
        if (kept == Kept::Bare)
            worstStall = meter.stopMs();
        state.PauseTiming();
        profile.reset();
        if (!done)
            state.SkipWithError("not all sends were queued within ten minutes");
        state.ResumeTiming();
    }
    state.counters["worst_gui_stall_ms"] = worstStall;
    state.counters["all_queued_s"] = queuedAfter;
}

void BM_SignInWithInterruptedStoredSends(benchmark::State &state)
{
    run(state, Kept::Stored);
}
BENCHMARK(BM_SignInWithInterruptedStoredSends)->Arg(12000)->Arg(30000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_SignInWithSendsKeptInTheJournal(benchmark::State &state)
{
    run(state, Kept::Journal);
}
BENCHMARK(BM_SignInWithSendsKeptInTheJournal)->Arg(12000)->Arg(30000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_BareSameSendsReadAndTakenIn(benchmark::State &state)
{
    run(state, Kept::Bare);
}
BENCHMARK(BM_BareSameSendsReadAndTakenIn)->Arg(12000)->Arg(30000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::vector<velmor::bench::CounterPair> pairs;
    for (const char *count : {"12000", "30000"}) {
        const std::string bare = std::string("BM_BareSameSendsReadAndTakenIn/") + count + "/iterations:1/real_time";
        for (const char *ours : {"BM_SignInWithInterruptedStoredSends/", "BM_SignInWithSendsKeptInTheJournal/"})
            pairs.push_back({ours + std::string(count) + "/iterations:1/real_time", bare});
    }
    return velmor::bench::runBenchmarks(argc, argv, pairs);
}
