#include "store/store_files.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QStorageInfo>
#include <QUrl>
#include <QUrlQuery>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

namespace velmor::store {

namespace {

const char *const kJournalSuffixes[] = {"-wal", "-shm"};

// Room kept free beyond the log's own size before the log is folded into
// the file at open.
constexpr qint64 kSpaceMargin = 8 * 1024 * 1024;

// A file being created by another opener stays empty for a moment; an empty
// file older than this was left so.
constexpr qint64 kFreshFileSecs = 30;

bool narrow(const QByteArray &path, mode_t wanted)
{
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return errno == ENOENT;
    if (S_ISLNK(st.st_mode) || st.st_uid != ::geteuid())
        return true; // not ours to change; SQLite will refuse or use it as it is
    return (st.st_mode & 07777 & ~wanted) == 0 || ::chmod(path.constData(), wanted) == 0;
}

// Present and a link or another user's.
bool isForeign(const QByteArray &path)
{
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return false;
    return S_ISLNK(st.st_mode) || st.st_uid != ::geteuid();
}

// The default file system layer, except that a name with a symbolic link in
// it is refused as SQLITE_OPEN_NOFOLLOW refuses it (Qt's driver cannot pass
// that flag itself). One copy per default layer met: a layer installed
// as the default later (a test's failing disk) is wrapped in its turn.
struct NoFollowLayer
{
    sqlite3_vfs vfs; // first: SQLite hands this back to the calls below
    sqlite3_vfs *base = nullptr;
    QByteArray name;
};

int fullPathnameWithoutLinks(sqlite3_vfs *vfs, const char *name, int size, char *out)
{
    sqlite3_vfs *base = reinterpret_cast<NoFollowLayer *>(vfs)->base;
    const int rc = base->xFullPathname(base, name, size, out);
    return rc == SQLITE_OK_SYMLINK ? SQLITE_CANTOPEN_SYMLINK : rc;
}

// The name of the layer over the current default; empty when none can be made.
QByteArray noFollowLayerName()
{
    static QMutex mutex;
    static std::vector<std::unique_ptr<NoFollowLayer>> layers;
    QMutexLocker lock(&mutex);
    sqlite3_vfs *base = sqlite3_vfs_find(nullptr);
    if (!base)
        return {};
    for (const auto &layer : layers)
        if (layer->base == base || &layer->vfs == base)
            return layer->name;
    auto layer = std::make_unique<NoFollowLayer>();
    layer->base = base;
    layer->name = "velmor-nofollow-" + QByteArray::number(qulonglong(layers.size()));
    // A copy of the default keeps its private data (the locking style of
    // each file, a wrapped layer's own), so every other call behaves as it.
    layer->vfs = *base;
    layer->vfs.zName = layer->name.constData();
    layer->vfs.pNext = nullptr;
    layer->vfs.xFullPathname = fullPathnameWithoutLinks;
    if (sqlite3_vfs_register(&layer->vfs, 0) != SQLITE_OK)
        return {};
    layers.push_back(std::move(layer));
    return layers.back()->name;
}

} // namespace

QString foreignStorePath(const QString &databasePath)
{
    const QFileInfo file(databasePath);
    const QString folder = file.absolutePath();
    if (isForeign(QFile::encodeName(folder)))
        return folder;
    const QByteArray db = QFile::encodeName(file.absoluteFilePath());
    if (isForeign(db))
        return file.absoluteFilePath();
    for (const char *suffix : kJournalSuffixes)
        if (isForeign(db + suffix))
            return file.absoluteFilePath() + QLatin1String(suffix);
    return {};
}

QString sqliteOpenName(const QString &databasePath)
{
    const QFileInfo file(databasePath);
    const QString resolved = QFileInfo(file.absolutePath()).canonicalFilePath();
    const QString path = resolved.isEmpty() ? file.absoluteFilePath() : QDir(resolved).filePath(file.fileName());
    const QByteArray layer = noFollowLayerName();
    if (layer.isEmpty())
        return path;
    QUrl uri = QUrl::fromLocalFile(path);
    uri.setQuery(QStringLiteral("vfs=%1").arg(QLatin1String(layer)));
    return uri.toString(QUrl::FullyEncoded);
}

bool makePrivateFolder(const QString &dir)
{
    const QString absolute = QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
    if (absolute.isEmpty())
        return false;
    // Each missing folder is made owner-only as it is made: no moment in
    // which another user could enter it.
    const QStringList parts = absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString path;
    for (const QString &part : parts) {
        path += QLatin1Char('/') + part;
        const QByteArray native = QFile::encodeName(path);
        if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return QFileInfo(absolute).isDir() && narrow(QFile::encodeName(absolute), 0700);
}

bool makePrivateFiles(const QString &databasePath)
{
    const QByteArray db = QFile::encodeName(databasePath);
    const int fd = ::open(db.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0)
        ::close(fd);
    bool ok = narrow(db, 0600);
    for (const char *suffix : kJournalSuffixes)
        ok = narrow(db + suffix, 0600) && ok;
    return ok;
}

bool isCutToNothing(const QString &databasePath)
{
    const QFileInfo file(databasePath);
    if (!file.exists() || file.size() != 0)
        return false;
    const QFileInfo wal(databasePath + QLatin1String("-wal"));
    if (wal.exists() && wal.size() > 0)
        return false;
    return file.lastModified().secsTo(QDateTime::currentDateTime()) > kFreshFileSecs;
}

QString setAside(const QString &databasePath)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = databasePath + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = databasePath + QStringLiteral(".damaged-%1-%2").arg(stamp).arg(n);
    const QByteArray from = QFile::encodeName(databasePath);
    const QByteArray to = QFile::encodeName(target);
    if (::rename(from.constData(), to.constData()) != 0)
        return {};
    // The log goes with its file: a log left behind would be read into the
    // new file made at this name.
    for (const char *suffix : kJournalSuffixes) {
        const QByteArray journal = from + suffix;
        if (::rename(journal.constData(), (to + suffix).constData()) != 0 && errno != ENOENT) {
            ::rename(to.constData(), from.constData());
            return {};
        }
    }
    return target;
}

bool spaceIsShort(const QString &databasePath)
{
    const QStorageInfo volume(QFileInfo(databasePath).absolutePath());
    if (!volume.isValid())
        return false;
    const qint64 log = QFileInfo(databasePath + QLatin1String("-wal")).size();
    return volume.bytesAvailable() < log + kSpaceMargin;
}

} // namespace velmor::store
