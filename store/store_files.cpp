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
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
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

// Links followed on the way to the store's folder before the walk gives up
// (the kernel's own bound is 40).
constexpr int kMaxLinksOnTheWay = 40;

// No user but `uid` has `gid` as primary group: such members are not listed
// in the group's entry. The user database is walked, and the user must be
// met on the walk: a directory that does not list its users (or a walk cut
// short) leaves it unknown, and unknown is not private.
bool noOtherUserHasGroupAsPrimary(uid_t uid, gid_t gid)
{
    // The walk's position is the process's own.
    static QMutex walking;
    QMutexLocker lock(&walking);
    std::vector<char> buffer(16384);
    bool metUser = false;
    bool other = false;
    int error = 0;
    ::setpwent();
    for (;;) {
        struct passwd entry {};
        struct passwd *found = nullptr;
        error = ::getpwent_r(&entry, buffer.data(), buffer.size(), &found);
        if (error != 0 || !found)
            break;
        if (found->pw_uid == uid) {
            metUser = true;
        } else if (found->pw_gid == gid) {
            other = true;
            break;
        }
    }
    ::endpwent();
    return metUser && !other && error == ENOENT;
}

// The user's own group, as systems that give each user a group of the same
// name make it (a home left group-writable by a umask of 002 is common
// there): the user's primary group, named as the user, with no other
// member listed and no other user's primary group. Its members are the user
// alone.
bool isUsersPrivateGroup(gid_t gid)
{
    const uid_t uid = ::geteuid();
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size_t(size > 0 ? size : 16384));
    struct passwd user {};
    struct passwd *found = nullptr;
    if (::getpwuid_r(uid, &user, buffer.data(), buffer.size(), &found) != 0 || !found || user.pw_gid != gid)
        return false;
    const QByteArray name(user.pw_name);
    size = ::sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> groupBuffer(size_t(size > 0 ? size : 16384));
    struct group grp {};
    struct group *foundGroup = nullptr;
    // A group too large for the buffer is no private group.
    if (::getgrgid_r(gid, &grp, groupBuffer.data(), groupBuffer.size(), &foundGroup) != 0 || !foundGroup
        || name != grp.gr_name)
        return false;
    for (char **member = grp.gr_mem; member && *member; ++member) {
        if (name != *member)
            return false;
    }
    return noOtherUserHasGroupAsPrimary(uid, gid);
}

// Made by the user or the system, and no other user could have swapped it
// since: a folder open for others to write (everyone, or a group with
// members besides the user) must be sticky, where each entry stays its
// owner's. A link's own mode means nothing.
bool trustedOnTheWay(const struct stat &st)
{
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return false;
    if (S_ISLNK(st.st_mode) || (st.st_mode & S_ISVTX))
        return true;
    if (st.st_mode & S_IWOTH)
        return false;
    return !(st.st_mode & S_IWGRP) || isUsersPrivateGroup(st.st_gid);
}

// Walks `folder` from the root the way the kernel does, link by link, and
// names the first folder or link on the way that is not trusted; empty when
// all are. A part that does not exist yet ends the walk: the store makes the
// rest itself, owner-only.
QString untrustedOnTheWay(const QString &folder)
{
    QStringList pending = QDir::cleanPath(folder).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString current = QStringLiteral("/");
    struct stat st {};
    if (::lstat("/", &st) != 0 || !trustedOnTheWay(st))
        return current;
    int links = 0;
    while (!pending.isEmpty()) {
        const QString part = pending.takeFirst();
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            current = QFileInfo(current).path();
            continue;
        }
        const QString next = current == QLatin1String("/") ? current + part : current + QLatin1Char('/') + part;
        const QByteArray native = QFile::encodeName(next);
        if (::lstat(native.constData(), &st) != 0)
            return {};
        if (!trustedOnTheWay(st))
            return next;
        if (!S_ISLNK(st.st_mode)) {
            current = next;
            continue;
        }
        if (++links > kMaxLinksOnTheWay)
            return next;
        QByteArray target(PATH_MAX, Qt::Uninitialized);
        const ssize_t length = ::readlink(native.constData(), target.data(), size_t(target.size()));
        if (length <= 0 || length >= target.size())
            return next;
        target.truncate(int(length));
        const QString to = QFile::decodeName(target);
        if (to.startsWith(QLatin1Char('/')))
            current = QStringLiteral("/");
        pending = to.split(QLatin1Char('/'), Qt::SkipEmptyParts) + pending;
    }
    return {};
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
    const QString above = untrustedOnTheWay(QFileInfo(folder).absolutePath());
    if (!above.isEmpty())
        return above;
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
