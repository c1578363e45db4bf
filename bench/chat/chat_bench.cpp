// The chat controller's list rebuilds on a large account, each beside the
// bare store reads it is built from: the conversation list with 2,000
// one-to-one conversations and 50 super groups, and the message list of one
// 10,000-message conversation.
#include "bench/chat/signed_in_bench.h"
#include "chat/payloads.h"
#include "identity/crypto.h"

#include <QJsonArray>

using namespace velmor::chat;

namespace {

constexpr int kConversations = 2000;
constexpr int kSuperGroups = 50;
constexpr int kLongConversation = 10000;

velmor::identity::Identity owner()
{
    return velmor::identity::Identity(QByteArray(32, 0x5a));
}

QString peerKey(int i)
{
    // Distinct points without deriving 2,000 keys: the key text only has to
    // decode to a 65-byte point for the author test to run on every row.
    QByteArray secret(32, 0x01);
    secret[28] = char(i >> 24);
    secret[29] = char(i >> 16);
    secret[30] = char(i >> 8);
    secret[31] = char(i & 0xff);
    return velmor::identity::Identity(secret).publicKeyText();
}

QString messageText(int i)
{
    switch (i % 10) {
    case 0:
        return payload::encodePrefixedJson(QString::fromLatin1(payload::kEmojiPrefix),
                                           QJsonObject{{"codes", QJsonArray{"1f602", "2764-fe0f"}}});
    case 1:
        return payload::encodePrefixedJson(QString::fromLatin1(payload::kSitePrefix),
                                           QJsonObject{{"title", "A page"}, {"url", "https://example.org/a"}});
    default:
        return QStringLiteral("An ordinary message, number %1, with a few words in it.").arg(i);
    }
}

struct Account
{
    velmor::bench::SignedIn signedIn{owner(), velmor::bench::deadLoopbackUrl(), QStringLiteral("bench.db")};
    QString longPeer;
    bool ok = false;

    Account()
    {
        ChatStore &store = ChatStore::instance();
        if (!signedIn.ok())
            return;
        for (int i = 0; i < kConversations; ++i) {
            const QString peer = peerKey(i);
            store.ensureDirectConversation(peer, peer, QStringLiteral("p%1").arg(i));
            MessageRecord m;
            m.id = QStringLiteral("last-%1").arg(i);
            m.conversation_id = store.conversationIdFor(peer);
            m.peer_raw_public_key = peer;
            m.text = messageText(i);
            m.created_at = 1700000000 + (i % 500); // many equal times
            m.status = MessageStatus::Received;
            if (!store.upsertMessage(m))
                return;
            if (i % 4 == 0) {
                ContactRecord c;
                c.wallet_public_key = peer;
                c.erc20_address = QStringLiteral("0x%1").arg(i, 40, 16, QLatin1Char('0'));
                c.remark = i % 8 == 0 ? QStringLiteral("Friend %1").arg(i) : QString();
                c.blocked = i % 100 == 0 ? 1 : 0;
                store.upsertContact(c);
            }
        }
        for (int g = 0; g < kSuperGroups; ++g) {
            SuperGroupRecord group;
            group.server_url = QStringLiteral("https://sg%1.example").arg(g);
            group.server_id = group.group_id = QString::number(g);
            group.name = QStringLiteral("Group %1").arg(g);
            group.group_kind = g % 2 ? QStringLiteral("premium_plus") : QStringLiteral("premium");
            group.updated_at = 1700000000;
            store.upsertSuperGroup(group);
            for (int k = 0; k < 20; ++k) {
                MessageRecord m;
                m.id = QStringLiteral("sg-%1-%2").arg(g).arg(k);
                m.conversation_id = QStringLiteral("sg:") + group.server_url;
                m.text = QStringLiteral("__sg_system__:event %1").arg(k);
                m.created_at = 1700000000 + k;
                m.status = MessageStatus::Received;
                store.upsertMessage(m);
            }
        }
        longPeer = peerKey(kConversations + 1);
        store.ensureDirectConversation(longPeer, longPeer, QStringLiteral("long"));
        const QString id = store.conversationIdFor(longPeer);
        for (int i = 0; i < kLongConversation; ++i) {
            MessageRecord m;
            m.id = QStringLiteral("long-%1").arg(i);
            m.conversation_id = id;
            m.peer_raw_public_key = longPeer;
            m.text = messageText(i);
            m.created_at = 1600000000 + i;
            m.is_outgoing = i % 3 == 0;
            m.status = m.is_outgoing ? MessageStatus::Sent : MessageStatus::Received;
            m.sender_address = QStringLiteral("0xabc");
            if (i % 50 == 7) {
                m.content_type = QStringLiteral("voice");
                m.attachment = payload::voicePayload(QStringLiteral("AAECAwQF"), 1200, {1, 5, 9, 5, 1});
            }
            if (!store.upsertMessage(m))
                return;
        }
        ok = true;
    }
};

Account &account()
{
    static Account instance;
    return instance;
}

ChatController &controller()
{
    // Kept to the program's end, as the window keeps it.
    static ChatController *chat = velmor::bench::makeController().release();
    return *chat;
}

void BM_StoreReadForConversationList(benchmark::State &state)
{
    if (!account().ok) {
        state.SkipWithError("cannot build the account");
        return;
    }
    ChatStore &store = ChatStore::instance();
    for (auto _ : state) {
        auto contacts = store.contacts();
        auto conversations = store.visibleConversations();
        auto groups = store.superGroups();
        for (const SuperGroupRecord &g : groups) {
            QString text;
            qint64 at = 0;
            store.lastMessage(QStringLiteral("sg:") + g.server_url, text, at);
            benchmark::DoNotOptimize(text);
        }
        benchmark::DoNotOptimize(contacts);
        benchmark::DoNotOptimize(conversations);
    }
}
BENCHMARK(BM_StoreReadForConversationList)->Unit(benchmark::kMillisecond);

void BM_ReloadConversations(benchmark::State &state)
{
    if (!account().ok) {
        state.SkipWithError("cannot build the account");
        return;
    }
    ChatController &chat = controller();
    for (auto _ : state) {
        chat.reloadConversations();
        benchmark::DoNotOptimize(chat.conversations());
    }
    state.counters["rows"] = double(chat.conversations().size());
}
BENCHMARK(BM_ReloadConversations)->Unit(benchmark::kMillisecond);

void BM_StoreReadLongConversation(benchmark::State &state)
{
    if (!account().ok) {
        state.SkipWithError("cannot build the account");
        return;
    }
    ChatStore &store = ChatStore::instance();
    const QString id = store.conversationIdFor(account().longPeer);
    for (auto _ : state) {
        auto rows = store.shownMessages(id);
        benchmark::DoNotOptimize(rows);
    }
}
BENCHMARK(BM_StoreReadLongConversation)->Unit(benchmark::kMillisecond);

void BM_ReloadMessages(benchmark::State &state)
{
    if (!account().ok) {
        state.SkipWithError("cannot build the account");
        return;
    }
    ChatController &chat = controller();
    chat.openConversation(account().longPeer);
    for (auto _ : state) {
        chat.reloadMessages();
        benchmark::DoNotOptimize(chat.messages());
    }
    state.counters["rows"] = double(chat.messages().size());
}
BENCHMARK(BM_ReloadMessages)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return velmor::bench::runBenchmarks(argc, argv);
}
