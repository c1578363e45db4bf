// A pull of 500 normal-group envelopes from 50 members (three groups of
// the owner, each member writing ten texts) waiting at the local relay,
// taken by the chat controller's own inbox until every text is stored; once
// as they are, once with one message more from each member that claims a
// card epoch the owner never reached (the owner is away and never answers),
// after which the inbox pulls 15 times more (a minute of its timer). Beside
// them the bare work on the same 500 envelopes: the group engine and one
// store transaction, no relay, no acknowledgement, no lists.
//
// Reported: worst_gui_stall_ms (the longest gap between ticks of a 1 ms
// timer on the GUI thread while the inbox worked) and card_requests (the
// fan-outs the receiving client sent to the owner).
#include "bench/bench_ratio.h"
#include "bench/gui_stall_meter.h"
#include "chat/chat_controller.h"
#include "chat/messaging_parts.h"
#include "groups/canonical_json.h"
#include "groups/group_card.h"
#include "groups/group_engine.h"
#include "identity/crypto.h"
#include "identity/envelope.h"
#include "net/relay_api.h"
#include "net/relay_session.h"
#include "net/supergroup_center.h"
#include "store/chat_store.h"
#include "support/fake_relay.h"
#include "support/fake_relay_groups.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <memory>

using namespace velmor::chat;
using velmor::identity::Identity;

namespace {

constexpr int kMembers = 50;
constexpr int kTextsEach = 10;
constexpr int kGroups = 3;

QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
}

struct Setup
{
    velmor::fakes::FakeRelay relay;
    std::unique_ptr<velmor::fakes::FakeRelayGroups> groups;
    QTemporaryDir dir;
    Identity alice{QByteArray(32, 0x41)};
    Identity bob{QByteArray(32, 0x42)};
    QList<Identity> members;
    QList<RawEnvelope> invitations; // Bob's three cards
    QList<QJsonObject> texts;       // the 500
    QList<QJsonObject> lies;        // one per member
    int files = 0;

    Setup()
    {
        groups = std::make_unique<velmor::fakes::FakeRelayGroups>(relay);
        relay.start();
        velmor::sg::SuperGroupCenter::setBaseUrl(QStringLiteral("http://127.0.0.1:9"));
        for (int i = 0; i < kMembers; ++i) {
            QByteArray secret(32, 0x50);
            secret[31] = char(i + 1);
            members.append(Identity(secret));
        }
        signIn(alice, QStringLiteral("alice.db"));
        GroupRegistry owner;
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        for (int g = 0; g < kGroups; ++g) {
            QStringList keys{bob.publicKeyText()};
            QList<Identity> writers;
            for (int i = g; i < kMembers; i += kGroups) {
                keys.append(members.at(i).publicKeyText());
                writers.append(members.at(i));
            }
            const GroupCreateResult created = createGroup(owner, QStringLiteral("Crowd %1").arg(g), keys);
            if (!created.ok)
                qFatal("group not created: %s", qPrintable(created.error));
            const GroupCard card = *owner.card(created.groupId);
            const QByteArray groupKey =
                Ecies::open(owner.keyRing(created.groupId).value(card.keyEpoch), alice.privateKey);
            for (qsizetype w = 0; w < writers.size(); ++w) {
                const Identity &writer = writers.at(w);
                for (int t = 0; t < kTextsEach; ++t)
                    texts.append(message(writer, card, groupKey, card.epoch,
                                         QStringLiteral("Text %1 of a member, a few words long.").arg(t), now));
                lies.append(message(writer, card, groupKey, card.epoch + 1 + w,
                                    QStringLiteral("stall"), now));
            }
        }
        // Bob's invitations are kept to be taken by each fresh client (the
        // members' are never read).
        signIn(bob, QStringLiteral("bob-keys.db"));
        invitations = RelayApi::pull();
        drainBob();
    }

    QJsonObject message(const Identity &writer, const GroupCard &card, const QByteArray &groupKey, qint64 epoch,
                        const QString &text, qint64 now) const
    {
        const QByteArray context = QByteArrayLiteral("velmor_group_v1|") + card.groupId.toUtf8() + "|message|"
            + QByteArray::number(card.keyEpoch) + '|' + QByteArray::number(epoch);
        const QJsonObject inner{{"type", "text"}, {"text", text}, {"sender", writer.publicKeyText()},
                                {"sentAt", double(now)}};
        const QString ciphertext = QLatin1String(kGroupMessagePrefix)
            + velmor::crypto::base64UrlEncode(canonicalJson(QJsonObject{
                {"v", 1}, {"kind", "message"}, {"groupId", card.groupId}, {"keyEpoch", double(card.keyEpoch)},
                {"epoch", double(epoch)},
                {"box", velmor::crypto::GroupBox::seal(groupKey, canonicalJson(inner), context)}}));
        QJsonObject json = RelayApi::envelopeToJson(
            velmor::identity::signEnvelope(writer, bob.publicKeyText(), ciphertext, newId(), now));
        json.insert(QStringLiteral("notify_type"), QStringLiteral("group"));
        return json;
    }

    void signIn(const Identity &who, const QString &file)
    {
        ChatStore::instance().close();
        velmor::net::RelayAuthSession::instance().configure(relay.baseUrl(), who);
        velmor::net::RelayAuthSession::instance().hasToken();
        ChatStore::instance().open(who.publicKeyText(), dir.filePath(file));
    }

    void drainBob()
    {
        const QStringList ids = relay.queuedIds(bob.publicKeyText());
        if (!ids.isEmpty())
            RelayApi::ack(ids);
    }

    // Bob on a new store file, holding the three cards.
    void freshBob()
    {
        signIn(bob, QStringLiteral("bob%1.db").arg(++files));
        GroupRegistry::instance().clear();
        for (const RawEnvelope &envelope : std::as_const(invitations))
            handleGroupMessage(GroupRegistry::instance(), envelope.ciphertext, envelope.senderPubkey);
    }
};

Setup &setup()
{
    static Setup s;
    return s;
}

int storedTexts()
{
    int stored = 0;
    for (const QString &groupId : GroupRegistry::instance().groupIds())
        stored += int(ChatStore::instance().messages(QStringLiteral("group:") + groupId).size());
    return stored;
}

// One pull of the inbox, its acknowledgement and the jobs it started.
void pullOnceAndSettle(ChatController &chat)
{
    bool done = false;
    const auto connection = QObject::connect(&chat.messaging().inbox, &Inbox::pullProcessed, [&] { done = true; });
    chat.messaging().inbox.pullOnce();
    spinUntil([&] { return done && !chat.syncing() && chat.pendingJobs() == 0; });
    QObject::disconnect(connection);
}

void BM_GroupPullThroughTheInbox(benchmark::State &state)
{
    const bool withLies = state.range(0) != 0;
    Setup &s = setup();
    const QString bobKey = s.bob.publicKeyText();
    const QString aliceKey = s.alice.publicKeyText();
    GuiStallMeter meter;
    double worstStall = 0;
    int requests = 0;
    for (auto _ : state) {
        state.PauseTiming();
        s.freshBob();
        for (const QJsonObject &envelope : std::as_const(s.texts))
            s.relay.enqueueRaw(bobKey, envelope);
        if (withLies)
            for (const QJsonObject &envelope : std::as_const(s.lies))
                s.relay.enqueueRaw(bobKey, envelope);
        const int requestsBefore = s.groups->fanoutCountFrom(bobKey);
        auto chat = std::make_unique<ChatController>();
        chat->watchReachability(false);
        meter.start();
        state.ResumeTiming();

        chat->start();
        chat->messaging().push.shutDown();
        spinUntil([&] { return !chat->syncing() && chat->pendingJobs() == 0 && storedTexts() == int(s.texts.size()); });
        if (withLies)
            for (int pull = 0; pull < 15; ++pull)
                pullOnceAndSettle(*chat);

        state.PauseTiming();
        worstStall = std::max(worstStall, meter.stopMs());
        requests = s.groups->fanoutCountFrom(bobKey) - requestsBefore;
        if (storedTexts() != int(s.texts.size()))
            state.SkipWithError("texts not stored whole");
        chat->stop();
        spinUntil([&] { return chat->pendingJobs() == 0; });
        chat.reset();
        s.drainBob();
        state.ResumeTiming();
    }
    Q_UNUSED(aliceKey);
    state.counters["worst_gui_stall_ms"] = worstStall;
    state.counters["card_requests"] = requests;
}
BENCHMARK(BM_GroupPullThroughTheInbox)->Arg(0)->Arg(1)->ArgName("false_claims")
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_BareGroupEngineAndStore(benchmark::State &state)
{
    Setup &s = setup();
    QList<RawEnvelope> raw;
    for (const QJsonObject &envelope : std::as_const(s.texts))
        raw.append(RelayApi::envelopeFromJson(envelope));
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QString bobKey = s.bob.publicKeyText();
    for (auto _ : state) {
        state.PauseTiming();
        s.freshBob();
        ChatStore &store = ChatStore::instance();
        state.ResumeTiming();
        ChatStore::Batch batch(store);
        for (const RawEnvelope &envelope : std::as_const(raw)) {
            if (!velmor::identity::validateEnvelope(RelayApi::toEnvelope(envelope), now, bobKey).valid)
                state.SkipWithError("invalid envelope");
            const GroupInboundResult group =
                handleGroupMessage(GroupRegistry::instance(), envelope.ciphertext, envelope.senderPubkey);
            MessageRecord row;
            row.id = envelope.messageId;
            row.conversation_id = QStringLiteral("group:") + group.groupId;
            row.peer_raw_public_key = row.conversation_id;
            row.sender_raw_public_key = envelope.senderPubkey;
            row.text = group.text;
            row.created_at = envelope.createdAt;
            row.status = MessageStatus::Received;
            row.content_digest = envelope.ciphertextHash;
            store.upsertMessage(row);
        }
        batch.commit();
    }
}
BENCHMARK(BM_BareGroupEngineAndStore)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// The meter over an idle event loop: the machine's own waits.
void BM_IdleEventLoopStall(benchmark::State &state)
{
    double worstStall = 0;
    for (auto _ : state)
        worstStall = std::max(worstStall, idleWorstStallMs());
    state.counters["worst_gui_stall_ms"] = worstStall;
}
BENCHMARK(BM_IdleEventLoopStall)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return velmor::bench::runWithRatios(
        argc, argv,
        {{"BM_GroupPullThroughTheInbox/false_claims:0/iterations:1/real_time",
          "BM_BareGroupEngineAndStore/iterations:1/real_time", 0},
         {"BM_GroupPullThroughTheInbox/false_claims:1/iterations:1/real_time",
          "BM_BareGroupEngineAndStore/iterations:1/real_time", 0}});
}
