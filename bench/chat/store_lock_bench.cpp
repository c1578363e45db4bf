// The window while another program holds the store's write lock for 25 s:
// the signed-in Chat object pulls a message from the local relay every
// second (as the push channel would ask it to), and the user opens the
// conversation and sends a text every two seconds. Figures: the longest
// stall of the GUI thread's event loop (a 1 ms timer's longest gap) over
// the hold and until every message sent meanwhile is stored, and how long
// that catching up took after the lock ended; beside the same half minute
// with nobody holding the lock.
//
//   ./build/bench/chat/store_lock_bench
#include "bench/gui_stall_meter.h"
#include "chat/chat_controller.h"
#include "chat/messaging_parts.h"
#include "identity/content.h"
#include "identity/envelope.h"
#include "net/relay_api.h"
#include "net/relay_session.h"
#include "net/supergroup_center.h"
#include "store/chat_store.h"
#include "support/fake_relay.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUuid>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>

using namespace velmor::chat;

namespace {

constexpr int kHoldMs = 25000;
constexpr int kMessages = 25; // one a second through the hold

// "--hold-lock PATH MS": this program as the other one, holding the write
// lock of the file for MS ms.
int holdLock(const QString &path, int ms)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        db.setDatabaseName(path);
        if (!db.open() || !QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE")))
            return 1;
        fputs("held\n", stdout);
        fflush(stdout);
        QThread::msleep(ms);
        QSqlQuery(db).exec(QStringLiteral("COMMIT"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    return 0;
}


void spinFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

template <typename Done>
bool spinUntil(Done done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

void run(benchmark::State &state, bool locked)
{
    velmor::fakes::FakeRelay relay;
    relay.start();
    velmor::sg::SuperGroupCenter::setBaseUrl(QStringLiteral("http://127.0.0.1:9"));
    const velmor::identity::Identity alice(QByteArray(32, 0x41));
    const velmor::identity::Identity bob(QByteArray(32, 0x42));
    const QString aliceKey = alice.publicKeyText();
    const QString bobKey = bob.publicKeyText();
    relay.markSeen(aliceKey);
    double worstStall = 0;
    double catchUp = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("bob.db"));
        velmor::net::RelayAuthSession::instance().configure(relay.baseUrl(), bob);
        velmor::net::RelayAuthSession::instance().hasToken();
        ChatStore::instance().open(bobKey, path);
        ChatStore::instance().ensureDirectConversation(aliceKey, aliceKey, QStringLiteral("alice"));
        auto chat = std::make_unique<ChatController>();
        chat->watchReachability(false);
        chat->start();
        chat->messaging().push.shutDown();
        spinFor(500);

        QProcess holder;
        if (locked) {
            holder.start(QCoreApplication::applicationFilePath(),
                         {QStringLiteral("--hold-lock"), path, QString::number(kHoldMs)});
            if (!holder.waitForReadyRead(10000)) {
                state.SkipWithError("the other program could not take the lock");
                break;
            }
        }
        GuiStallMeter meter;
        meter.start();
        state.ResumeTiming();

        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < kMessages; ++i) {
            MessageContent content;
            content.type = QStringLiteral("text");
            content.text = QStringLiteral("message %1 while the store is held").arg(i);
            const QString box =
                velmor::identity::sealDirectMessage(alice, bobKey, serializeMessageContent(content));
            const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
            relay.enqueueRaw(bobKey, RelayApi::envelopeToJson(velmor::identity::signEnvelope(
                                         alice, bobKey, box, id, QDateTime::currentSecsSinceEpoch())));
            chat->refresh();
            if (i % 2 == 0) {
                chat->openConversation(aliceKey);
                chat->sendText(QStringLiteral("reply %1").arg(i));
            }
            spinFor(1000);
        }
        const qint64 lockEnded = clock.elapsed();
        // Nothing lost: every message of the hold is stored in the end.
        const QString conversation = ChatStore::instance().conversationIdFor(aliceKey);
        const bool whole = spinUntil(
            [&] {
                chat->refresh();
                int incoming = 0;
                for (const MessageRecord &m : ChatStore::instance().messages(conversation))
                    incoming += m.is_outgoing ? 0 : 1;
                return incoming == kMessages;
            },
            90000);
        state.PauseTiming();
        catchUp = double(clock.elapsed() - lockEnded) / 1000.0;
        worstStall = std::max(worstStall, meter.stopMs());
        if (!whole)
            state.SkipWithError("messages of the hold were not all stored");
        holder.waitForFinished(30000);
        chat->stop();
        spinUntil([&] { return chat->pendingJobs() == 0; }, 30000);
        chat.reset();
        ChatStore::instance().close();
        velmor::net::RelayAuthSession::instance().clear();
        state.ResumeTiming();
    }
    state.counters["worst_gui_stall_ms"] = worstStall;
    state.counters["stored_after_hold_s"] = catchUp;
}

void BM_WindowWhileAnotherProgramHoldsTheStore(benchmark::State &state)
{
    run(state, true);
}
BENCHMARK(BM_WindowWhileAnotherProgramHoldsTheStore)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_BareSameHalfMinuteNobodyHolds(benchmark::State &state)
{
    run(state, false);
}
BENCHMARK(BM_BareSameHalfMinuteNobodyHolds)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc >= 4 && qstrcmp(argv[1], "--hold-lock") == 0)
        return holdLock(QString::fromLocal8Bit(argv[2]), atoi(argv[3]));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
