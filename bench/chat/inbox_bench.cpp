// Draining a backlog of 10,000 one-to-one envelopes waiting at the local
// relay when the user signs in: the chat controller is started and left to
// its own inbox and timers (pages of 500 verified and opened on the pool,
// stored in slices, acknowledged, the next page asked for at once) until
// every envelope is stored and the conversation list shows them; beside
// the bare work on the same envelopes: validate, open, parse and store each
// one in a single transaction, with no relay, no acknowledgement and no
// lists. The worst wait of the GUI thread during the drain (the longest gap
// between ticks of a 1 ms timer) is reported as worst_gui_stall_ms.
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

#include "bench/bench_ratio.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QDateTime>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <memory>

using namespace velmor::chat;

namespace {

constexpr int kBacklog = 10000;

struct Setup
{
    velmor::fakes::FakeRelay relay;
    QTemporaryDir dir;
    velmor::identity::Identity alice{QByteArray(32, 0x41)};
    velmor::identity::Identity bob{QByteArray(32, 0x42)};
    QList<QJsonObject> wire; // the backlog, as the relay keeps it
    int files = 0;

    Setup()
    {
        relay.start();
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        for (int i = 0; i < kBacklog; ++i) {
            MessageContent content;
            content.type = QStringLiteral("text");
            content.text = QStringLiteral("Backlog message %1 with a few words in it.").arg(i);
            const QString box =
                velmor::identity::sealDirectMessage(alice, bob.publicKeyText(), serializeMessageContent(content));
            const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
            wire.append(RelayApi::envelopeToJson(
                velmor::identity::signEnvelope(alice, bob.publicKeyText(), box, id, now)));
        }
        velmor::sg::SuperGroupCenter::setBaseUrl(QStringLiteral("http://127.0.0.1:9"));
    }

    // Bob signed in on an empty store file.
    void freshSession()
    {
        ChatStore::instance().close();
        velmor::net::RelayAuthSession::instance().configure(relay.baseUrl(), bob);
        velmor::net::RelayAuthSession::instance().hasToken();
        ChatStore::instance().open(bob.publicKeyText(), dir.filePath(QStringLiteral("b%1.db").arg(++files)));
    }
};

Setup &setup()
{
    static Setup s;
    return s;
}

// The conversation list's entry of a peer.
QVariantMap rowOf(const QVariantList &rows, const QString &peer)
{
    for (const QVariant &row : rows) {
        const QVariantMap map = row.toMap();
        if (map.value(QStringLiteral("peer")).toString() == peer)
            return map;
    }
    return {};
}


void BM_DrainBacklogThroughTheInbox(benchmark::State &state)
{
    Setup &s = setup();
    const QString bobKey = s.bob.publicKeyText();
    const QString aliceKey = s.alice.publicKeyText();
    GuiStallMeter meter;
    double worstStall = 0;
    for (auto _ : state) {
        state.PauseTiming();
        s.freshSession();
        for (const QJsonObject &envelope : std::as_const(s.wire))
            s.relay.enqueueRaw(bobKey, envelope);
        auto chat = std::make_unique<ChatController>();
        chat->watchReachability(false);
        meter.start();
        state.ResumeTiming();

        // As at sign-in: start() pulls once, the inbox does the rest.
        chat->start();
        chat->messaging().push.shutDown();
        spinUntil([&] {
            return !chat->syncing()
                   && rowOf(chat->conversations(), aliceKey).value(QStringLiteral("unread")).toInt() == kBacklog;
        });

        state.PauseTiming();
        worstStall = std::max(worstStall, meter.stopMs());
        if (ChatStore::instance().messages(ChatStore::instance().conversationIdFor(aliceKey)).size() != kBacklog)
            state.SkipWithError("backlog not stored whole");
        chat->stop();
        spinUntil([&] { return chat->pendingJobs() == 0; });
        chat.reset();
        state.ResumeTiming();
    }
    state.counters["per_envelope_us"] =
        benchmark::Counter(double(kBacklog) * double(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["worst_gui_stall_ms"] = worstStall;
}
BENCHMARK(BM_DrainBacklogThroughTheInbox)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The same meter over an idle event loop for as long as a drain takes: the
// waits that the machine's own load puts on the GUI thread, beside which
// the drain's worst stall is read.
void BM_IdleEventLoopStall(benchmark::State &state)
{
    double worstStall = 0;
    for (auto _ : state)
        worstStall = std::max(worstStall, idleWorstStallMs());
    state.counters["worst_gui_stall_ms"] = worstStall;
}
BENCHMARK(BM_IdleEventLoopStall)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_BareValidateOpenStore(benchmark::State &state)
{
    Setup &s = setup();
    QList<RawEnvelope> raw;
    for (const QJsonObject &envelope : std::as_const(s.wire))
        raw.append(RelayApi::envelopeFromJson(envelope));
    const QString bobKey = s.bob.publicKeyText();
    const QString aliceKey = s.alice.publicKeyText();
    for (auto _ : state) {
        state.PauseTiming();
        s.freshSession();
        ChatStore &store = ChatStore::instance();
        store.ensureDirectConversation(aliceKey, aliceKey, QStringLiteral("alice"));
        const QString conversation = store.conversationIdFor(aliceKey);
        state.ResumeTiming();

        const qint64 now = QDateTime::currentSecsSinceEpoch();
        ChatStore::Batch batch(store);
        for (const RawEnvelope &envelope : std::as_const(raw)) {
            if (!velmor::identity::validateEnvelope(RelayApi::toEnvelope(envelope), now, bobKey).valid)
                state.SkipWithError("invalid envelope");
            const MessageContent content = parseMessageContent(
                velmor::identity::openDirectMessage(envelope.ciphertext, envelope.senderPubkey, s.bob));
            MessageRecord row;
            row.id = envelope.messageId;
            row.conversation_id = conversation;
            row.peer_raw_public_key = aliceKey;
            row.sender_raw_public_key = aliceKey;
            row.text = content.text;
            row.created_at = envelope.createdAt;
            row.status = MessageStatus::Received;
            row.content_digest = envelope.ciphertextHash;
            store.upsertMessage(row);
        }
        batch.commit();
    }
    state.counters["per_envelope_us"] =
        benchmark::Counter(double(kBacklog) * double(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_BareValidateOpenStore)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return velmor::bench::runWithRatios(
        argc, argv,
        {{"BM_DrainBacklogThroughTheInbox/iterations:1/real_time", "BM_BareValidateOpenStore/iterations:1/real_time",
          3.0}});
}
