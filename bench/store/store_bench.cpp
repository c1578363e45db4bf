// Store hot paths beside bare sqlite3 doing the same work on the same data:
// one message written, a relay pull's batch written, one long conversation
// read (every column, and the columns a message list shows), bulk writes
// and the conversation list of a large account; the open of a damaged file
// whose overflow chain loops beside the open of a new one.
#include "bench/bench_ratio.h"
#include "store/chat_store.h"
#include "store/page_images.h"
#include "support/memory_peak.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <atomic>

using velmor::chat::MessageRecord;
using velmor::chat::MessageStatus;

namespace {

const QString kOwner = QStringLiteral("BenchOwnerKeyAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA");
constexpr int kLongConversation = 10000;
constexpr int kBatch = 1000;

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

// A fresh file name for every call, so that no run finds another's rows.
QString freshFile(const char *stem)
{
    static std::atomic<int> next{0};
    return benchDir().filePath(QStringLiteral("%1-%2.db").arg(QLatin1String(stem)).arg(next++));
}

// ---- bare sqlite3 ---------------------------------------------------------------

// A fresh file laid out by the store with one group conversation, for the
// bare baselines to write into; the conversation's id goes to `conv`.
QString freshFileWithGroup(const char *stem, const QString &groupId, QString *conv)
{
    const QString path = freshFile(stem);
    ChatStore store;
    store.open(kOwner, path);
    *conv = store.ensureGroupConversation(groupId, groupId).id;
    return path;
}

// A raw connection to a file laid out by the store, with the store's pragmas.
// The bare baseline writes the message rows alone, without the
// conversation's preview that the store keeps.
struct Bare
{
    sqlite3 *db = nullptr;
    explicit Bare(const QString &path)
    {
        sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
    }
    ~Bare() { sqlite3_close_v2(db); }
    sqlite3_stmt *prepare(const char *sql) const
    {
        sqlite3_stmt *st = nullptr;
        sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr);
        return st;
    }
};

constexpr const char *kBareInsert =
    "INSERT INTO messages(owner_raw_public_key,id,conversation_id,peer_raw_public_key,sender_raw_public_key,text,"
    "created_at,is_outgoing,status,attachment,sender_address,sender_display_name,sender_avatar_kind,"
    "sender_avatar_id,server_seq,content_type,system_event_type,delivery_state,content_digest) "
    "VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";

// Binds a record the cheapest way the library allows: UTF-8 texts kept
// alive by the caller until the step.
bool bareInsert(sqlite3_stmt *st, const QString &owner, const MessageRecord &m)
{
    QByteArray keep[15];
    int k = 0;
    const auto text = [&](int index, const QString &value) {
        keep[k] = value.toUtf8();
        sqlite3_bind_text(st, index, keep[k].constData(), int(keep[k].size()), SQLITE_STATIC);
        ++k;
    };
    text(1, owner);
    text(2, m.id);
    text(3, m.conversation_id);
    text(4, m.peer_raw_public_key);
    text(5, m.sender_raw_public_key);
    text(6, m.text);
    sqlite3_bind_int64(st, 7, m.created_at);
    sqlite3_bind_int64(st, 8, m.is_outgoing ? 1 : 0);
    sqlite3_bind_int64(st, 9, int(m.status));
    text(10, m.attachment);
    text(11, m.sender_address);
    text(12, m.sender_display_name);
    text(13, m.sender_avatar_kind);
    text(14, m.sender_avatar_id);
    sqlite3_bind_int64(st, 15, m.server_seq);
    text(16, m.content_type);
    text(17, m.system_event_type);
    text(18, m.delivery_state);
    text(19, m.content_digest);
    const bool ok = sqlite3_step(st) == SQLITE_DONE;
    sqlite3_reset(st);
    return ok;
}

QString columnText(sqlite3_stmt *st, int i)
{
    const auto *utf8 = reinterpret_cast<const char *>(sqlite3_column_text(st, i));
    return QString::fromUtf8(utf8, sqlite3_column_bytes(st, i));
}

// ---- the files ----------------------------------------------------------------

// A store file with one long conversation among 50 others of the same size
// in total, so that a read has to use the index.
struct LongConversation
{
    QString path = freshFile("long");
    QString conversation;
    LongConversation()
    {
        ChatStore store;
        store.open(kOwner, path);
        conversation = store.ensureGroupConversation(QStringLiteral("long"), QStringLiteral("Long")).id;
        QList<MessageRecord> batch;
        for (int i = 0; i < kLongConversation; ++i) {
            batch.append(benchMessage(i, conversation));
            batch.append(benchMessage(kLongConversation + i, QStringLiteral("group:other%1").arg(i % 50)));
        }
        store.upsertMessages(batch);
        store.close();
    }
};

const LongConversation &longConversation()
{
    static const LongConversation file;
    return file;
}

// ---- writes -----------------------------------------------------------------------

void BM_UpsertOne(benchmark::State &state)
{
    ChatStore store;
    if (!store.open(kOwner, freshFile("one"))) {
        state.SkipWithError("cannot open the store");
        return;
    }
    const QString conv = store.ensureGroupConversation(QStringLiteral("one"), QStringLiteral("One")).id;
    int i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const MessageRecord m = benchMessage(i++, conv);
        state.ResumeTiming();
        if (!store.upsertMessage(m))
            state.SkipWithError("upsert failed");
    }
}
BENCHMARK(BM_UpsertOne)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_Bare_InsertOne(benchmark::State &state)
{
    QString conv;
    const QString path = freshFileWithGroup("bare-one", QStringLiteral("one"), &conv);
    Bare bare(path);
    sqlite3_stmt *insert = bare.prepare(kBareInsert);
    int i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const MessageRecord m = benchMessage(i++, conv);
        state.ResumeTiming();
        if (!bareInsert(insert, kOwner, m))
            state.SkipWithError("insert failed");
    }
    sqlite3_finalize(insert);
}
BENCHMARK(BM_Bare_InsertOne)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The same row and the conversation's preview, as the store writes them, in
// one transaction.
void BM_Bare_InsertOneWithPreview(benchmark::State &state)
{
    QString conv;
    const QString path = freshFileWithGroup("bare-preview", QStringLiteral("one"), &conv);
    Bare bare(path);
    sqlite3_stmt *insert = bare.prepare(kBareInsert);
    sqlite3_stmt *begin = bare.prepare("BEGIN IMMEDIATE");
    sqlite3_stmt *commit = bare.prepare("COMMIT");
    sqlite3_stmt *preview = bare.prepare("UPDATE conversations SET last_message=?, last_timestamp=?, "
                                         "unread_count=unread_count+1 WHERE owner_raw_public_key=? AND id=?");
    const QByteArray owner = kOwner.toUtf8(), id = conv.toUtf8();
    int i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const MessageRecord m = benchMessage(i++, conv);
        state.ResumeTiming();
        sqlite3_step(begin);
        sqlite3_reset(begin);
        const bool inserted = bareInsert(insert, kOwner, m);
        const QByteArray text = m.text.toUtf8();
        sqlite3_bind_text(preview, 1, text.constData(), int(text.size()), SQLITE_STATIC);
        sqlite3_bind_int64(preview, 2, m.created_at);
        sqlite3_bind_text(preview, 3, owner.constData(), int(owner.size()), SQLITE_STATIC);
        sqlite3_bind_text(preview, 4, id.constData(), int(id.size()), SQLITE_STATIC);
        const bool previewed = sqlite3_step(preview) == SQLITE_DONE;
        sqlite3_reset(preview);
        if (!inserted || !previewed || sqlite3_step(commit) != SQLITE_DONE)
            state.SkipWithError("write failed");
        sqlite3_reset(commit);
    }
    for (sqlite3_stmt *st : {insert, begin, commit, preview})
        sqlite3_finalize(st);
}
BENCHMARK(BM_Bare_InsertOneWithPreview)->Unit(benchmark::kMicrosecond)->UseRealTime();

QList<MessageRecord> batchOf(int round, const QString &conv)
{
    QList<MessageRecord> batch;
    for (int i = 0; i < kBatch; ++i)
        batch.append(benchMessage(round * kBatch + i, conv));
    return batch;
}

// Batches of 1,000 new messages into one conversation of a fresh file, each
// written by `write` (false: the batch failed).
template <typename Write>
void runBatches(benchmark::State &state, const char *file, Write write)
{
    ChatStore store;
    if (!store.open(kOwner, freshFile(file))) {
        state.SkipWithError("cannot open the store");
        return;
    }
    const QString conv = store.ensureGroupConversation(QStringLiteral("batch"), QStringLiteral("Batch")).id;
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QList<MessageRecord> batch = batchOf(round++, conv);
        state.ResumeTiming();
        if (!write(store, batch))
            state.SkipWithError("batch failed");
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_UpsertBatch1000(benchmark::State &state)
{
    runBatches(state, "batch",
               [](ChatStore &store, const QList<MessageRecord> &batch) { return store.upsertMessages(batch); });
}
BENCHMARK(BM_UpsertBatch1000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same batch the way the inbox wrote a pull before its rows were
// collected: one store batch, each message an item (a savepoint) of it.
void BM_UpsertBatch1000InItems(benchmark::State &state)
{
    runBatches(state, "items", [](ChatStore &store, const QList<MessageRecord> &batch) {
        ChatStore::Batch writes(store);
        bool ok = true;
        for (const MessageRecord &m : batch) {
            const bool item = store.beginBatchItem();
            ok = store.endBatchItem(item && store.upsertMessage(m)) && ok;
        }
        return writes.commit() && ok;
    });
}
BENCHMARK(BM_UpsertBatch1000InItems)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same batch the way the inbox writes a pull: one store batch, the
// pull's rows written together inside it.
void BM_UpsertBatch1000AsTheInbox(benchmark::State &state)
{
    runBatches(state, "inbox", [](ChatStore &store, const QList<MessageRecord> &batch) {
        ChatStore::Batch writes(store);
        QList<bool> written;
        return store.upsertMessages(batch, &written) && written.count(true) == kBatch && writes.commit();
    });
}
BENCHMARK(BM_UpsertBatch1000AsTheInbox)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Bare_InsertBatch1000(benchmark::State &state)
{
    QString conv;
    const QString path = freshFileWithGroup("bare-batch", QStringLiteral("batch"), &conv);
    Bare bare(path);
    sqlite3_stmt *insert = bare.prepare(kBareInsert);
    sqlite3_stmt *begin = bare.prepare("BEGIN IMMEDIATE");
    sqlite3_stmt *commit = bare.prepare("COMMIT");
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QList<MessageRecord> batch = batchOf(round++, conv);
        state.ResumeTiming();
        sqlite3_step(begin);
        sqlite3_reset(begin);
        for (const MessageRecord &m : batch)
            bareInsert(insert, kOwner, m);
        if (sqlite3_step(commit) != SQLITE_DONE)
            state.SkipWithError("commit failed");
        sqlite3_reset(commit);
    }
    sqlite3_finalize(insert);
    sqlite3_finalize(begin);
    sqlite3_finalize(commit);
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_Bare_InsertBatch1000)->Unit(benchmark::kMillisecond)->UseRealTime();

// 100,000 messages one by one into 100 conversations of an empty file.
void BM_UpsertMessages100k(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        const QString path = freshFile("upsert");
        ChatStore store;
        if (!store.open(kOwner, path)) {
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
        for (const char *suffix : {"", "-wal", "-shm"})
            QFile::remove(path + QLatin1String(suffix));
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_UpsertMessages100k)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// ---- reads ------------------------------------------------------------------------

void BM_MessagesOfLongConversation(benchmark::State &state)
{
    const LongConversation &file = longConversation();
    ChatStore store;
    if (!store.open(kOwner, file.path)) {
        state.SkipWithError("cannot open the store");
        return;
    }
    const bool shown = state.range(0) != 0;
    for (auto _ : state) {
        const auto list = shown ? store.shownMessages(file.conversation) : store.messages(file.conversation);
        if (list.size() != kLongConversation)
            state.SkipWithError("wrong row count");
        benchmark::DoNotOptimize(list.size());
    }
    state.SetItemsProcessed(state.iterations() * kLongConversation);
}
BENCHMARK(BM_MessagesOfLongConversation)->ArgName("shown")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same rows read with sqlite3 into the same records; `shown` reads the
// columns of the shown read only.
void BM_Bare_ReadLongConversation(benchmark::State &state)
{
    const LongConversation &file = longConversation();
    Bare bare(file.path);
    const bool shown = state.range(0) != 0;
    sqlite3_stmt *st = bare.prepare(
        shown ? "SELECT id,text,created_at,is_outgoing,status,attachment,sender_address,sender_display_name,"
                "sender_avatar_kind,sender_avatar_id,content_type,system_event_type FROM messages "
                "WHERE owner_raw_public_key=? AND conversation_id=? ORDER BY created_at ASC, rowid ASC"
              : "SELECT id,conversation_id,peer_raw_public_key,sender_raw_public_key,text,created_at,is_outgoing,"
                "status,attachment,sender_address,sender_display_name,sender_avatar_kind,sender_avatar_id,"
                "server_seq,content_type,system_event_type,delivery_state,content_digest FROM messages "
                "WHERE owner_raw_public_key=? AND conversation_id=? ORDER BY created_at ASC, rowid ASC");
    const QByteArray owner = kOwner.toUtf8(), conv = file.conversation.toUtf8();
    for (auto _ : state) {
        sqlite3_bind_text(st, 1, owner.constData(), int(owner.size()), SQLITE_STATIC);
        sqlite3_bind_text(st, 2, conv.constData(), int(conv.size()), SQLITE_STATIC);
        QList<MessageRecord> list;
        while (sqlite3_step(st) == SQLITE_ROW) {
            MessageRecord m;
            int c = 0;
            m.id = columnText(st, c++);
            if (shown) {
                m.conversation_id = file.conversation;
            } else {
                m.conversation_id = columnText(st, c++);
                m.peer_raw_public_key = columnText(st, c++);
                m.sender_raw_public_key = columnText(st, c++);
            }
            m.text = columnText(st, c++);
            m.created_at = sqlite3_column_int64(st, c++);
            m.is_outgoing = sqlite3_column_int64(st, c++) != 0;
            m.status = MessageStatus(sqlite3_column_int(st, c++));
            m.attachment = columnText(st, c++);
            m.sender_address = columnText(st, c++);
            m.sender_display_name = columnText(st, c++);
            m.sender_avatar_kind = columnText(st, c++);
            m.sender_avatar_id = columnText(st, c++);
            if (!shown)
                m.server_seq = sqlite3_column_int64(st, c++);
            m.content_type = columnText(st, c++);
            m.system_event_type = columnText(st, c++);
            if (!shown) {
                m.delivery_state = columnText(st, c++);
                m.content_digest = columnText(st, c++);
            }
            list.append(std::move(m));
        }
        sqlite3_reset(st);
        if (list.size() != kLongConversation)
            state.SkipWithError("wrong row count");
        benchmark::DoNotOptimize(list.size());
    }
    sqlite3_finalize(st);
    state.SetItemsProcessed(state.iterations() * kLongConversation);
}
BENCHMARK(BM_Bare_ReadLongConversation)->ArgName("shown")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_VisibleConversations(benchmark::State &state)
{
    ChatStore store;
    if (!store.open(kOwner, freshFile("list"))) {
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
BENCHMARK(BM_VisibleConversations)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The sign-in's open of a 3-page file whose overflow page links to itself
// under a value claiming 2^18 pages (page size in the argument): the file
// is set aside and what can be read of it is read back. The counter is the
// open's peak resident memory above what the process held before.
void BM_OpenLoopingFile(benchmark::State &state)
{
    const int pageSize = int(state.range(0));
    const QByteArray bytes = storetest::selfLoopingFile(pageSize, (quint64(1) << 18) * quint64(pageSize) - 8);
    qint64 peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString path = freshFile("looping");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            state.SkipWithError("cannot write the file");
            return;
        }
        file.close();
        ChatStore store;
        velmor::fakes::resetPeakResident();
        const qint64 before = velmor::fakes::statusBytes("VmRSS");
        state.ResumeTiming();
        velmor::store::OpenReport report;
        if (!store.open(kOwner, path, &report) || report.setAside.isEmpty())
            state.SkipWithError("the damaged file was not set aside");
        peak = qMax(peak, velmor::fakes::statusBytes("VmHWM") - before);
        state.PauseTiming();
        store.close();
        state.ResumeTiming();
    }
    state.counters["peak_MiB"] = double(peak) / (1024.0 * 1024.0);
}
BENCHMARK(BM_OpenLoopingFile)->ArgName("page")->Arg(4096)->Arg(65536)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baseline: the open of a new file, which lays out every table.
void BM_Bare_OpenNewFile(benchmark::State &state)
{
    qint64 peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const QString path = freshFile("new");
        ChatStore store;
        velmor::fakes::resetPeakResident();
        const qint64 before = velmor::fakes::statusBytes("VmRSS");
        state.ResumeTiming();
        if (!store.open(kOwner, path))
            state.SkipWithError("cannot open the store");
        peak = qMax(peak, velmor::fakes::statusBytes("VmHWM") - before);
        state.PauseTiming();
        store.close();
        state.ResumeTiming();
    }
    state.counters["peak_MiB"] = double(peak) / (1024.0 * 1024.0);
}
BENCHMARK(BM_Bare_OpenNewFile)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return velmor::bench::runWithRatios(
        argc, argv,
        {
            {"BM_UpsertOne/real_time", "BM_Bare_InsertOne/real_time", 1.3},
            {"BM_UpsertOne/real_time", "BM_Bare_InsertOneWithPreview/real_time", 0},
            {"BM_UpsertBatch1000/real_time", "BM_Bare_InsertBatch1000/real_time", 1.2},
            {"BM_UpsertBatch1000InItems/real_time", "BM_Bare_InsertBatch1000/real_time", 0},
            {"BM_UpsertBatch1000AsTheInbox/real_time", "BM_Bare_InsertBatch1000/real_time", 1.2},
            {"BM_MessagesOfLongConversation/shown:0/real_time", "BM_Bare_ReadLongConversation/shown:0/real_time", 1.2},
            {"BM_MessagesOfLongConversation/shown:1/real_time", "BM_Bare_ReadLongConversation/shown:1/real_time", 1.2},
            {"BM_OpenLoopingFile/page:4096/real_time", "BM_Bare_OpenNewFile/real_time", 0},
            {"BM_OpenLoopingFile/page:65536/real_time", "BM_Bare_OpenNewFile/real_time", 0},
        });
}
