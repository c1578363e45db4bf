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
#include "bench/gui_stall_meter.h"
#include "chat/chat_controller.h"
#include "chat/messaging_parts.h"
#include "chat/send_journal.h"
#include "identity/envelope.h"
#include "net/relay_api.h"
#include "net/relay_session.h"
#include "net/supergroup_center.h"
#include "store/chat_store.h"
#include "support/fake_relay.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QSet>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <QUuid>

#include <benchmark/benchmark.h>

#include <atomic>

using namespace velmor::chat;

namespace {

template <typename Done>
bool spinUntil(Done done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

enum class Kept { Stored, Journal, Bare };

struct Profile
{
    QTemporaryDir dir;
    velmor::identity::Identity me = velmor::identity::Identity::generate();
    velmor::identity::Identity peer = velmor::identity::Identity::generate();
    QString path() const { return dir.filePath(QStringLiteral("chat.db")); }
};

// `count` sends of `me` to `peer` left sending, each with its envelope.
bool prepare(Profile &profile, int count, Kept kept)
{
    ChatStore &store = ChatStore::instance();
    if (!store.open(profile.me.publicKeyText(), profile.path()))
        return false;
    const QString peerKey = profile.peer.publicKeyText();
    const QString conversation = store.ensureDirectConversation(peerKey, peerKey, QStringLiteral("p")).id;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QList<MessageRecord> rows;
    QStringList envelopes;
    for (int i = 0; i < count; ++i) {
        MessageRecord row;
        row.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        row.conversation_id = conversation;
        row.peer_raw_public_key = peerKey;
        row.sender_raw_public_key = profile.me.publicKeyText();
        row.text = QStringLiteral("interrupted %1").arg(i);
        row.created_at = now;
        row.is_outgoing = true;
        row.status = MessageStatus::Sending;
        const velmor::identity::Envelope envelope =
            velmor::identity::signEnvelope(profile.me, peerKey, QStringLiteral("box"), row.id, now);
        QJsonObject wire = RelayApi::envelopeToJson(envelope);
        wire.insert(QStringLiteral("notify_type"), QStringLiteral("message"));
        rows.append(row);
        envelopes.append(QString::fromUtf8(QJsonDocument(wire).toJson(QJsonDocument::Compact)));
    }
    if (kept == Kept::Journal) {
        QList<JournaledSend> sends;
        for (int i = 0; i < count; ++i)
            sends.append(JournaledSend{profile.me.publicKeyText(), rows.at(i), envelopes.at(i)});
        return SendJournal::append(SendJournal::pathBeside(profile.path()), sends);
    }
    return store.upsertOutgoing(profile.me.publicKeyText(), rows, envelopes);
}

void run(benchmark::State &state, Kept kept)
{
    const int count = int(state.range(0));
    double worstStall = 0;
    double queuedAfter = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Profile profile;
        velmor::fakes::FakeRelay relay;
        if (relay.start() == 0 || !prepare(profile, count, kept)) {
            state.SkipWithError("could not set up");
            return;
        }
        relay.http().holdRequests(QStringLiteral("/v1/message/send"));
        velmor::sg::SuperGroupCenter::setBaseUrl(QStringLiteral("http://127.0.0.1:9"));
        velmor::net::RelayAuthSession::instance().configure(relay.baseUrl(), profile.me);
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
            spinUntil([] { return false; }, 50);
        } else {
            ChatController chat;
            chat.watchReachability(false);
            meter.start();
            clock.start();
            // From the event loop, as the window's sign-in does: the meter
            // sees what start() itself holds the thread for.
            QTimer::singleShot(0, &chat, [&chat] { chat.start(); });
            Outbox &outbox = chat.messaging().outbox;
            done = spinUntil([&] { return chat.isStarted() && outbox.waiting() + Outbox::kMaxPosts >= count; },
                             600000);
            queuedAfter = double(clock.elapsed()) / 1000.0;
            spinUntil([] { return false; }, 50);
            worstStall = meter.stopMs();
            relay.http().releaseHeld();
            chat.stop();
            spinUntil([&] { return chat.pendingJobs() == 0; }, 60000);
        }
        if (kept == Kept::Bare)
            worstStall = meter.stopMs();
        state.PauseTiming();
        ChatStore::instance().close();
        velmor::net::RelayAuthSession::instance().clear();
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
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
