// The page reader (`scanPages`) on a damaged database file, read back into
// a target laid out as the store is. The selector byte lies about the page
// size and can stretch a small input into large pages:
//   bits 0-2: the header's page-size field is kept (0) or set to 512, 1024,
//             4096, 1 (65536), 0, 3000 or 65535;
//   bit 3:    each 16 KiB piece of the input starts a page of the
//             header's size (4096 when it names none), the rest of the page
//             zeros: loops and long values in 64 KiB pages from a few dozen KiB.
// Traps when the reader reads more than a few times the file's size.
#include "fuzz_common.h"

#include "store/page_scan.h"
#include "store/schema.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QtEndian>

#include <sqlite3.h>

namespace {

constexpr int kPiece = 16 * 1024;
constexpr int kMaxPages = 8;

// The store's layout, as CREATE statements.
const QStringList &layout()
{
    static const QStringList statements = [] {
        QStringList out;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("layout"));
            db.setDatabaseName(QStringLiteral(":memory:"));
            if (db.open() && velmor::store::migrate(db, QStringLiteral("FuzzOwner"))) {
                QSqlQuery q(db);
                q.exec(QStringLiteral("SELECT sql FROM sqlite_master WHERE sql IS NOT NULL"));
                while (q.next())
                    out << q.value(0).toString();
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("layout"));
        return out;
    }();
    return statements;
}

QString filePath()
{
    static const QString path = [] {
        const QString shm = QStringLiteral("/dev/shm");
        const QString dir = QDir(shm).exists() ? shm : QDir::tempPath();
        return QDir(dir).filePath(QStringLiteral("fuzz-page-scan-%1.db").arg(QCoreApplication::applicationPid()));
    }();
    return path;
}

QByteArray fileOf(unsigned selector, QByteArray bytes)
{
    static constexpr quint16 kFields[] = {0, 512, 1024, 4096, 1, 0, 3000, 65535};
    if ((selector & 7) != 0 && bytes.size() >= 18)
        qToBigEndian(kFields[selector & 7], bytes.data() + 16);
    if (!(selector & 8))
        return bytes;
    int size = bytes.size() >= 18 ? qFromBigEndian<quint16>(bytes.constData() + 16) : 0;
    size = size == 1 ? 65536 : size;
    if (size < 512 || (size & (size - 1)) != 0)
        size = 4096;
    QByteArray file;
    for (qsizetype at = 0; at < bytes.size() && file.size() < qsizetype(kMaxPages) * size; at += kPiece) {
        QByteArray page = bytes.mid(at, qMin(kPiece, size));
        page.resize(size, '\0');
        file += page;
    }
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzzsupport::initQt();
    const fuzzsupport::Input input = fuzzsupport::split(data, size);
    const QByteArray file = fileOf(input.selector, input.bytes);
    {
        QFile out(filePath());
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(file) != file.size())
            return 0;
    }
    sqlite3 *target = nullptr;
    if (sqlite3_open(":memory:", &target) != SQLITE_OK) {
        sqlite3_close(target);
        return 0;
    }
    for (const QString &statement : layout())
        sqlite3_exec(target, statement.toUtf8().constData(), nullptr, nullptr, nullptr);
    QHash<QString, int> owners;
    const qint64 read = velmor::store::scanPages(filePath(), target, &owners);
    sqlite3_close(target);
    // Every page read a few times at most, however its pages point (the
    // page size's guess, when the header names none, reads up to 8 times
    // the file more).
    if (read > 16 * qMax<qint64>(file.size(), 64 * 1024))
        __builtin_trap();
    return 0;
}
