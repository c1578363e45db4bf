#include "store/page_scan.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSet>
#include <QStringList>

#include <sqlite3.h>

#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <vector>

Q_DECLARE_LOGGING_CATEGORY(lcStore)

namespace velmor::store {

namespace {

constexpr quint8 kTableLeaf = 0x0D;
constexpr quint8 kTableInterior = 0x05;
constexpr quint8 kIndexLeaf = 0x0A;
constexpr quint8 kIndexInterior = 0x02;
constexpr int kFileHeaderSize = 100;
const QByteArray kMagic("SQLite format 3\0", 16);
// Tried in this order when the header does not say: the store's own files
// use SQLite's default first.
constexpr int kCandidateSizes[] = {4096, 1024, 2048, 8192, 16384, 32768, 65536, 512};
// Pages looked at to tell a page size, and the share of them that must look
// like tree pages.
constexpr qint64 kSizeSamples = 256;
constexpr double kTreePageShare = 0.25;
// Bound for a damaged file's loops: depth of a tree walk. (Chains are
// bounded by the file itself: no page is read twice as part of one.)
constexpr int kMaxTreeDepth = 32;
// The store has a few dozen tables; a schema naming more is no store's, and
// every row not reached by a tree is tried against each table.
constexpr int kMaxTables = 256;

quint32 be(const QByteArray &b, qsizetype at, int bytes)
{
    quint32 v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | quint8(b.at(at + i));
    return v;
}

// SQLite's variable-length integer: 7 bits a byte, big-endian, the ninth
// byte whole.
bool varint(const QByteArray &b, qsizetype &at, qint64 end, quint64 *out)
{
    quint64 v = 0;
    for (int i = 0; i < 9; ++i) {
        if (at >= end)
            return false;
        const quint8 c = quint8(b.at(at++));
        if (i == 8) {
            *out = (v << 8) | c;
            return true;
        }
        v = (v << 7) | (c & 0x7f);
        if (!(c & 0x80)) {
            *out = v;
            return true;
        }
    }
    return false;
}

struct Value
{
    enum Kind { Null, Integer, Real, Text, Blob } kind = Null;
    qint64 integer = 0;
    double real = 0;
    QByteArray bytes;
};
using Record = std::vector<Value>;

class PageFile
{
public:
    explicit PageFile(const QString &path) : m_file(path) {}

    bool open()
    {
        if (!m_file.open(QIODevice::ReadOnly) || m_file.size() < 512)
            return false;
        const QByteArray head = m_file.read(kFileHeaderSize);
        if (head.startsWith(kMagic)) {
            const int size = int(be(head, 16, 2));
            m_size = size == 1 ? 65536 : size;
            m_usable = m_size - quint8(head.at(20));
        }
        if (m_size < 512 || m_size > 65536 || (m_size & (m_size - 1)) != 0)
            guessSize();
        m_pages = m_size > 0 ? m_file.size() / m_size : 0;
        return m_pages > 0;
    }
    qint64 pages() const { return m_pages; }
    int usable() const { return m_usable; }
    // Page `number`, counted from 1; empty outside the file.
    QByteArray page(qint64 number)
    {
        if (number < 1 || number > m_pages || !m_file.seek((number - 1) * m_size))
            return {};
        QByteArray bytes = m_file.read(m_size);
        m_bytesRead += bytes.size();
        return bytes.size() == m_size ? bytes : QByteArray();
    }
    // Bytes read from the file so far, and copied out of its pages.
    qint64 bytesRead() const { return m_bytesRead; }
    void countCopied(qint64 bytes) { m_bytesRead += bytes; }

    // The number of pages of the overflow chain that starts at `first`, up
    // to the page whose link is 0; -1 when the chain leaves the file, meets
    // a page wiped to zeros or comes back to a page of its own. Each page's
    // length is kept, so every page is read here once whatever the number
    // of chains that pass through it.
    qint64 chainLength(qint64 first)
    {
        if (m_chains.empty())
            m_chains.assign(size_t(m_pages + 1), kUnknown);
        std::vector<qint64> path;
        qint64 at = first;
        qint64 tail = -1;
        for (;;) {
            if (at < 1 || at > m_pages)
                break;
            qint64 &known = m_chains[size_t(at)];
            if (known != kUnknown && known != kOnPath)
                tail = known;
            if (known != kUnknown)
                break; // known, or met again on this walk: a loop
            const QByteArray bytes = page(at);
            if (bytes.isEmpty() || bytes.count('\0') == bytes.size()) {
                known = -1;
                break;
            }
            known = kOnPath;
            path.push_back(at);
            at = be(bytes, 0, 4);
            if (at == 0) {
                tail = 0;
                break;
            }
        }
        for (auto it = path.rbegin(); it != path.rend(); ++it) {
            tail = tail < 0 ? -1 : tail + 1;
            m_chains[size_t(*it)] = tail;
        }
        return tail;
    }
    // Takes page `number` for one value's overflow: false when a value
    // read before took it (a page belongs to one value only).
    bool takeOverflowPage(qint64 number)
    {
        if (m_taken.empty())
            m_taken.assign(size_t(m_pages + 1), false);
        if (number < 1 || number > m_pages || m_taken[size_t(number)])
            return false;
        m_taken[size_t(number)] = true;
        return true;
    }
    // Where a tree page's header starts: page 1 holds the file header first.
    static int headerAt(qint64 number) { return number == 1 ? kFileHeaderSize : 0; }
    // A tree page whose header and cell pointers fit in it.
    bool isTreePage(const QByteArray &page, qint64 number) const
    {
        const int h = headerAt(number);
        if (page.size() < h + 12)
            return false;
        const quint8 type = quint8(page.at(h));
        if (type != kTableLeaf && type != kTableInterior && type != kIndexLeaf && type != kIndexInterior)
            return false;
        const int headerSize = (type == kTableLeaf || type == kIndexLeaf) ? 8 : 12;
        const qint64 cells = be(page, h + 3, 2);
        const qint64 contentStart = be(page, h + 5, 2);
        return h + headerSize + 2 * cells <= qMin<qint64>(contentStart ? contentStart : 65536, m_usable)
               && (cells > 0 || type == kTableLeaf);
    }

private:
    // The header does not say: the first size at which enough of the first
    // pages look like tree pages.
    void guessSize()
    {
        for (int size : kCandidateSizes) {
            m_size = size;
            m_usable = size;
            const qint64 samples = qMin(kSizeSamples, m_file.size() / size);
            qint64 trees = 0;
            for (qint64 n = 1; n <= samples; ++n) {
                m_pages = samples;
                trees += isTreePage(page(n), n) ? 1 : 0;
            }
            if (samples >= 2 && trees >= 2 && double(trees) / double(samples) >= kTreePageShare)
                return;
        }
        m_size = 0;
    }

    static constexpr qint64 kUnknown = -2;
    static constexpr qint64 kOnPath = -3;

    QFile m_file;
    int m_size = 0;
    int m_usable = 0;
    qint64 m_pages = 0;
    qint64 m_bytesRead = 0;
    std::vector<qint64> m_chains; // per page: chainLength(), or kUnknown
    std::vector<bool> m_taken;    // per page: part of a value read already
};

// The bytes of one page that cells read so far cover: a cell pointer into
// another cell's bytes (a damaged page, or one made to repeat a large cell
// thousands of times) is not read again.
class CellSpans
{
public:
    // Takes [from, to) unless it overlaps a span taken before.
    bool take(qint64 from, qint64 to)
    {
        auto after = m_spans.lower_bound(from);
        if (after != m_spans.end() && after->first < to)
            return false;
        if (after != m_spans.begin() && std::prev(after)->second > from)
            return false;
        m_spans.emplace(from, to);
        return true;
    }

private:
    std::map<qint64, qint64> m_spans; // start -> end
};

// The cells of a table tree page: their offsets.
std::vector<int> cellOffsets(const QByteArray &page, qint64 number)
{
    const int h = PageFile::headerAt(number);
    const bool leaf = quint8(page.at(h)) == kTableLeaf;
    const int pointers = h + (leaf ? 8 : 12);
    std::vector<int> out;
    for (quint32 i = 0, cells = be(page, h + 3, 2); i < cells; ++i) {
        const int at = int(be(page, pointers + 2 * i, 2));
        if (at >= pointers && at < page.size())
            out.push_back(at);
    }
    return out;
}

// The record of a table leaf cell, with its overflow pages; nothing when a
// page it runs on to is missing or damaged, or when its bytes are another
// cell's (`spans`) or its overflow pages another value's. A value is no
// longer than the file's pages could hold, and its chain is followed only
// when it has the value's length: no page is read twice for it.
std::optional<Record> readCell(PageFile &file, const QByteArray &page, int at, CellSpans &spans)
{
    const int usable = file.usable();
    qsizetype pos = at;
    quint64 payloadSize = 0;
    quint64 rowid = 0;
    if (!varint(page, pos, page.size(), &payloadSize) || !varint(page, pos, page.size(), &rowid)
        || payloadSize > quint64(file.pages()) * quint64(usable))
        return std::nullopt;
    // How much stays on the page, as SQLite decides it.
    const qint64 p = qint64(payloadSize);
    const qint64 maxLocal = usable - 35;
    const qint64 minLocal = (qint64(usable) - 12) * 32 / 255 - 23;
    qint64 local = p;
    if (p > maxLocal) {
        const qint64 k = minLocal + (p - minLocal) % (usable - 4);
        local = k <= maxLocal ? k : minLocal;
    }
    const qint64 end = pos + local + (local < p ? 4 : 0);
    if (end > page.size() || !spans.take(at, end))
        return std::nullopt;
    QByteArray payload = page.mid(pos, local);
    file.countCopied(local);
    if (local < p) {
        // The chain has as many pages as the rest of the value needs, and
        // its last page's link is 0.
        const qint64 needed = (p - local + usable - 5) / (usable - 4);
        quint32 next = be(page, pos + local, 4);
        if (needed > file.pages() || file.chainLength(next) != needed)
            return std::nullopt;
        payload.reserve(p);
        while (payload.size() < p) {
            const QByteArray overflow = file.takeOverflowPage(next) ? file.page(next) : QByteArray();
            if (overflow.isEmpty())
                return std::nullopt;
            const qint64 part = qMin<qint64>(usable - 4, p - payload.size());
            payload += overflow.mid(4, part);
            file.countCopied(part);
            next = be(overflow, 0, 4);
        }
    }
    // The record: its header's size, the serial type of each value, then
    // the values.
    qsizetype head = 0;
    quint64 headerSize = 0;
    if (!varint(payload, head, payload.size(), &headerSize) || headerSize > quint64(payload.size()))
        return std::nullopt;
    std::vector<quint64> types;
    while (head < qsizetype(headerSize)) {
        quint64 type = 0;
        if (!varint(payload, head, qsizetype(headerSize), &type) || type == 10 || type == 11)
            return std::nullopt;
        types.push_back(type);
    }
    Record record;
    qsizetype body = qsizetype(headerSize);
    static constexpr int kIntBytes[] = {0, 1, 2, 3, 4, 6, 8};
    for (const quint64 type : types) {
        Value v;
        qsizetype length = 0;
        if (type >= 1 && type <= 6) {
            v.kind = Value::Integer;
            length = kIntBytes[type];
        } else if (type == 7) {
            v.kind = Value::Real;
            length = 8;
        } else if (type == 8 || type == 9) {
            v.kind = Value::Integer;
            v.integer = type == 9 ? 1 : 0;
        } else if (type >= 12) {
            v.kind = type % 2 ? Value::Text : Value::Blob;
            length = qsizetype((type - (type % 2 ? 13 : 12)) / 2);
        }
        if (length < 0 || length > payload.size() - body)
            return std::nullopt;
        if (v.kind == Value::Integer && length > 0) {
            quint64 raw = 0;
            for (qsizetype i = 0; i < length; ++i)
                raw = (raw << 8) | quint8(payload.at(body + i));
            const int unused = int(64 - 8 * length);
            v.integer = qint64(raw << unused) >> unused; // sign-extended
        } else if (v.kind == Value::Real) {
            quint64 raw = 0;
            for (int i = 0; i < 8; ++i)
                raw = (raw << 8) | quint8(payload.at(body + i));
            std::memcpy(&v.real, &raw, sizeof raw);
        } else if (v.kind == Value::Text || v.kind == Value::Blob) {
            v.bytes = payload.mid(body, length);
        }
        body += length;
        record.push_back(std::move(v));
    }
    return record;
}

struct Table
{
    QString name;
    quint32 root = 0;
    QStringList columns;
    QList<bool> integerColumns; // declared INTEGER, else text
};

struct CloseDb
{
    void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
};
struct Finalize
{
    void operator()(sqlite3_stmt *stmt) const { sqlite3_finalize(stmt); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

Statement prepare(sqlite3 *db, const QString &sql)
{
    sqlite3_stmt *stmt = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &stmt, nullptr);
    return Statement(stmt);
}

QString quoted(const QString &name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

// The columns of `table` in `db`, with whether each is declared INTEGER.
void describe(sqlite3 *db, Table *table)
{
    const Statement info = prepare(db, QStringLiteral("PRAGMA table_info(%1)").arg(quoted(table->name)));
    while (info && sqlite3_step(info.get()) == SQLITE_ROW) {
        table->columns << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(info.get(), 1)));
        table->integerColumns << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(info.get(), 2)))
                                     .contains(QLatin1String("INT"), Qt::CaseInsensitive);
    }
}

int refuseQueries(void *, int action, const char *, const char *, const char *, const char *)
{
    return action == SQLITE_SELECT || action == SQLITE_FUNCTION || action == SQLITE_RECURSIVE ? SQLITE_DENY
                                                                                                : SQLITE_OK;
}

// Walks a table tree from `page`, calling `visit` with each page number.
template <typename Visit>
void walk(PageFile &file, quint32 page, int depth, QSet<quint32> &seen, const Visit &visit)
{
    if (depth > kMaxTreeDepth || seen.contains(page))
        return;
    seen.insert(page);
    const QByteArray bytes = file.page(page);
    if (bytes.isEmpty() || !file.isTreePage(bytes, page))
        return;
    visit(page, bytes);
    const int h = PageFile::headerAt(page);
    if (quint8(bytes.at(h)) != kTableInterior)
        return;
    for (int at : cellOffsets(bytes, page)) {
        if (at + 4 <= bytes.size())
            walk(file, be(bytes, at, 4), depth + 1, seen, visit);
    }
    walk(file, be(bytes, h + 8, 4), depth + 1, seen, visit);
}

// The kept file's tables, read from its schema tree (page 1) with their
// columns as its own layout had them; for those whose schema rows cannot be
// read, the target's tables, whose rows are then placed by their shape alone.
QList<Table> tablesOf(PageFile &file, sqlite3 *target, QSet<quint32> *schemaPages)
{
    QList<Table> tables;
    std::unique_ptr<sqlite3, CloseDb> scratch;
    {
        sqlite3 *raw = nullptr;
        sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE, nullptr);
        scratch.reset(raw);
    }
    walk(file, 1, 0, *schemaPages, [&](quint32 number, const QByteArray &bytes) {
        if (quint8(bytes.at(PageFile::headerAt(number))) != kTableLeaf)
            return;
        CellSpans spans;
        for (int at : cellOffsets(bytes, number)) {
            const std::optional<Record> row = readCell(file, bytes, at, spans);
            if (!scratch || !row || row->size() != 5 || row->at(0).bytes != "table"
                || row->at(3).kind != Value::Integer || tables.size() >= kMaxTables)
                continue;
            Table table{QString::fromUtf8(row->at(1).bytes), quint32(row->at(3).integer), {}, {}};
            // The layout as the kept file had it, made in a scratch database
            // of its own: one CREATE TABLE, nothing else.
            const QByteArray sql = row->at(4).bytes;
            sqlite3_stmt *create = nullptr;
            const char *tail = nullptr;
            // A table made from a query (which could run for ever) is not made.
            sqlite3_set_authorizer(scratch.get(), &refuseQueries, nullptr);
            if (sql.trimmed().startsWith("CREATE TABLE")
                && sqlite3_prepare_v2(scratch.get(), sql.constData(), int(sql.size()), &create, &tail) == SQLITE_OK
                && QByteArray(tail).trimmed().isEmpty())
                sqlite3_step(create);
            sqlite3_finalize(create);
            sqlite3_set_authorizer(scratch.get(), nullptr, nullptr);
            describe(scratch.get(), &table);
            if (!table.columns.isEmpty())
                tables.append(table);
        }
    });
    // Tables whose schema rows were lost: the target's layout stands in.
    QStringList named;
    for (const Table &table : std::as_const(tables))
        named << table.name;
    const Statement list = prepare(target, QStringLiteral(
        "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%' AND name <> 'space_probe'"));
    while (list && sqlite3_step(list.get()) == SQLITE_ROW) {
        Table table{QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(list.get(), 0))), 0, {}, {}};
        if (named.contains(table.name))
            continue;
        describe(target, &table);
        tables.append(table);
    }
    return tables;
}

// The one table a row fits by its shape: as many values as columns, a
// whole number in each INTEGER column and a text in every other.
const Table *byShape(const QList<Table> &tables, const Record &row)
{
    const Table *found = nullptr;
    for (const Table &table : tables) {
        if (qsizetype(row.size()) != table.columns.size())
            continue;
        bool fits = true;
        for (qsizetype i = 0; fits && i < table.columns.size(); ++i)
            fits = row[size_t(i)].kind == (table.integerColumns[i] ? Value::Integer : Value::Text);
        if (fits) {
            if (found)
                return nullptr; // two tables fit: neither is sure
            found = &table;
        }
    }
    return found;
}

// Writes rows of one kept table into the target's table of that name,
// column by column where both have the column.
class Writer
{
public:
    Writer(sqlite3 *target, const Table &kept) : m_target(target)
    {
        Table theirs{kept.name, 0, {}, {}};
        describe(target, &theirs);
        QStringList names;
        QStringList marks;
        for (qsizetype i = 0; i < kept.columns.size(); ++i) {
            if (!theirs.columns.contains(kept.columns[i]))
                continue;
            m_from.push_back(int(i));
            names << quoted(kept.columns[i]);
            marks << QStringLiteral("?");
            if (kept.columns[i] == QLatin1String("owner_raw_public_key"))
                m_ownerAt = int(i);
        }
        m_messages = kept.name == QLatin1String("messages");
        if (!names.isEmpty())
            m_insert = prepare(target, QStringLiteral("INSERT OR IGNORE INTO %1(%2) VALUES(%3)")
                                           .arg(quoted(kept.name), names.join(QLatin1Char(',')), marks.join(QLatin1Char(','))));
    }

    void write(const Record &row, QHash<QString, int> *owners)
    {
        if (!m_insert)
            return;
        sqlite3_stmt *st = m_insert.get();
        sqlite3_reset(st);
        for (size_t i = 0; i < m_from.size(); ++i) {
            const int at = m_from[i];
            const int index = int(i) + 1;
            if (size_t(at) >= row.size()) {
                sqlite3_bind_null(st, index);
                continue;
            }
            const Value &v = row[size_t(at)];
            switch (v.kind) {
            case Value::Integer:
                sqlite3_bind_int64(st, index, v.integer);
                break;
            case Value::Real:
                sqlite3_bind_double(st, index, v.real);
                break;
            case Value::Text:
                sqlite3_bind_text(st, index, v.bytes.constData(), int(v.bytes.size()), SQLITE_TRANSIENT);
                break;
            case Value::Blob:
                sqlite3_bind_blob(st, index, v.bytes.constData(), int(v.bytes.size()), SQLITE_TRANSIENT);
                break;
            case Value::Null:
                sqlite3_bind_null(st, index);
            }
        }
        if (sqlite3_step(st) != SQLITE_DONE || sqlite3_changes(m_target) == 0 || m_ownerAt < 0
            || size_t(m_ownerAt) >= row.size())
            return;
        const QString owner = QString::fromUtf8(row[size_t(m_ownerAt)].bytes);
        if (!owner.isEmpty())
            (*owners)[owner] += m_messages ? 1 : 0;
    }

private:
    sqlite3 *m_target;
    std::vector<int> m_from; // the kept column of each bound value
    int m_ownerAt = -1;
    bool m_messages = false;
    Statement m_insert;
};

} // namespace

qint64 scanPages(const QString &damagedPath, sqlite3 *target, QHash<QString, int> *owners)
{
    PageFile file(damagedPath);
    if (!target || !file.open())
        return file.bytesRead();
    QSet<quint32> schemaPages;
    const QList<Table> tables = tablesOf(file, target, &schemaPages);
    // The page each intact tree reaches belongs to its table: to the first
    // whose tree reaches it, when a damaged file joins two trees.
    QHash<quint32, int> ownerOf;
    QSet<quint32> seen = schemaPages;
    for (int t = 0; t < tables.size(); ++t) {
        if (tables[t].root > 1)
            walk(file, tables[t].root, 0, seen, [&](quint32 number, const QByteArray &) { ownerOf.insert(number, t); });
    }
    std::vector<std::unique_ptr<Writer>> writers;
    for (const Table &table : tables)
        writers.push_back(std::make_unique<Writer>(target, table));
    if (sqlite3_exec(target, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return file.bytesRead();
    QHash<QString, int> found;
    for (qint64 number = 1; number <= file.pages(); ++number) {
        if (schemaPages.contains(quint32(number)))
            continue;
        const QByteArray page = file.page(number);
        if (page.isEmpty() || !file.isTreePage(page, number)
            || quint8(page.at(PageFile::headerAt(number))) != kTableLeaf)
            continue;
        const auto reached = ownerOf.constFind(quint32(number));
        CellSpans spans;
        for (int at : cellOffsets(page, number)) {
            const std::optional<Record> row = readCell(file, page, at, spans);
            if (!row)
                continue;
            const Table *table = reached != ownerOf.constEnd() ? &tables[*reached] : byShape(tables, *row);
            if (table)
                writers[size_t(table - tables.constData())]->write(*row, &found);
        }
    }
    if (sqlite3_exec(target, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        sqlite3_exec(target, "ROLLBACK", nullptr, nullptr, nullptr);
        return file.bytesRead();
    }
    for (auto it = found.cbegin(); it != found.cend(); ++it) {
        (*owners)[it.key()] += it.value();
        qCInfo(lcStore) << "messages read from the damaged database's pages for" << it.key().left(12) << it.value();
    }
    return file.bytesRead();
}

} // namespace velmor::store
