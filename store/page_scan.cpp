#include "store/page_scan.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSet>
#include <QStringList>

#include <sqlite3.h>

#include <cstring>
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
// Bounds for a damaged file's loops: pages of one overflow chain, depth of a
// tree walk.
constexpr int kMaxOverflowPages = 1 << 18;
constexpr int kMaxTreeDepth = 32;

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
        return bytes.size() == m_size ? bytes : QByteArray();
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

    QFile m_file;
    int m_size = 0;
    int m_usable = 0;
    qint64 m_pages = 0;
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
// page it runs on to is missing or damaged.
std::optional<Record> readCell(PageFile &file, const QByteArray &page, int at)
{
    const int usable = file.usable();
    qsizetype pos = at;
    quint64 payloadSize = 0;
    quint64 rowid = 0;
    if (!varint(page, pos, page.size(), &payloadSize) || !varint(page, pos, page.size(), &rowid)
        || payloadSize > quint64(kMaxOverflowPages) * quint64(usable))
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
    if (pos + local > page.size())
        return std::nullopt;
    QByteArray payload = page.mid(pos, local);
    if (local < p) {
        if (pos + local + 4 > page.size())
            return std::nullopt;
        quint32 next = be(page, pos + local, 4);
        for (int hops = 0; payload.size() < p; ++hops) {
            const QByteArray overflow = file.page(next);
            // A page wiped to zeros is lost, not a run of NUL characters.
            if (overflow.isEmpty() || hops >= kMaxOverflowPages
                || overflow.count('\0') == overflow.size())
                return std::nullopt;
            payload += overflow.mid(4, qMin<qint64>(usable - 4, p - payload.size()));
            next = be(overflow, 0, 4);
            // The chain ends exactly where the value does.
            if ((payload.size() < p) == (next == 0))
                return std::nullopt;
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
        for (int at : cellOffsets(bytes, number)) {
            const std::optional<Record> row = readCell(file, bytes, at);
            if (!scratch || !row || row->size() != 5 || row->at(0).bytes != "table"
                || row->at(3).kind != Value::Integer)
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

void scanPages(const QString &damagedPath, sqlite3 *target, QHash<QString, int> *owners)
{
    PageFile file(damagedPath);
    if (!target || !file.open())
        return;
    QSet<quint32> schemaPages;
    const QList<Table> tables = tablesOf(file, target, &schemaPages);
    // The page each intact tree reaches belongs to its table.
    QHash<quint32, int> ownerOf;
    for (int t = 0; t < tables.size(); ++t) {
        QSet<quint32> seen = schemaPages;
        if (tables[t].root > 1)
            walk(file, tables[t].root, 0, seen, [&](quint32 number, const QByteArray &) { ownerOf.insert(number, t); });
    }
    std::vector<std::unique_ptr<Writer>> writers;
    for (const Table &table : tables)
        writers.push_back(std::make_unique<Writer>(target, table));
    if (sqlite3_exec(target, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return;
    QHash<QString, int> found;
    for (qint64 number = 1; number <= file.pages(); ++number) {
        if (schemaPages.contains(quint32(number)))
            continue;
        const QByteArray page = file.page(number);
        if (page.isEmpty() || !file.isTreePage(page, number)
            || quint8(page.at(PageFile::headerAt(number))) != kTableLeaf)
            continue;
        const auto reached = ownerOf.constFind(quint32(number));
        for (int at : cellOffsets(page, number)) {
            const std::optional<Record> row = readCell(file, page, at);
            if (!row)
                continue;
            const Table *table = reached != ownerOf.constEnd() ? &tables[*reached] : byShape(tables, *row);
            if (table)
                writers[size_t(table - tables.constData())]->write(*row, &found);
        }
    }
    if (sqlite3_exec(target, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        sqlite3_exec(target, "ROLLBACK", nullptr, nullptr, nullptr);
        return;
    }
    for (auto it = found.cbegin(); it != found.cend(); ++it) {
        (*owners)[it.key()] += it.value();
        qCInfo(lcStore) << "messages read from the damaged database's pages for" << it.key().left(12) << it.value();
    }
}

} // namespace velmor::store
