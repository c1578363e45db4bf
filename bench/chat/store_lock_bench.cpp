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
#include "bench/chat/signed_in_bench.h"
#include "bench/gui_stall_meter.h"
#include "chat/messaging_parts.h"
#include "identity/content.h"
#include "identity/envelope.h"
#include "net/relay_api.h"
#include "support/fake_relay.h"

#include <QDateTime>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>
#include <QUuid>

#include <algorithm>
#include <optional>

using namespace velmor::chat;
using velmor::bench::spinFor;
using velmor::bench::spinUntil;

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


void run(benchmark::State &state, bool locked)
{
    velmor::fakes::FakeRelay relay;
    relay.start();
    const velmor::identity::Identity alice(QByteArray(32, 0x41));
    const velmor::identity::Identity bob(QByteArray(32, 0x42));
    const QString aliceKey = alice.publicKeyText();
    const QString bobKey = bob.publicKeyText();
    relay.markSeen(aliceKey);
    double worstStall = 0;
    double catchUp = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::optional<velmor::bench::SignedIn> signedIn;
        signedIn.emplace(bob, relay.baseUrl(), QStringLiteral("bob.db"));
        const QString path = signedIn->path();
        velmor::net::RelayAuthSession::instance().hasToken();
        ChatStore::instance().ensureDirectConversation(aliceKey, aliceKey, QStringLiteral("alice"));
        std::unique_ptr<ChatController> chat = velmor::bench::makeController();
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
        velmor::bench::stopController(*chat, 30000);
        chat.reset();
        signedIn.reset();
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
    return velmor::bench::runBenchmarks(argc, argv,
                                        {{"BM_WindowWhileAnotherProgramHoldsTheStore/iterations:1/real_time",
                                          "BM_BareSameHalfMinuteNobodyHolds/iterations:1/real_time"}});
}
