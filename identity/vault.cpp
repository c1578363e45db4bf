#include "identity/vault.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>
#include <QStandardPaths>
#include <QStringDecoder>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

Q_LOGGING_CATEGORY(lcVault, "velmor.vault")

namespace velmor::identity {

namespace {

// Every entry file carries this prefix; the rest of its name is the entry
// name with every character outside [A-Za-z0-9_-] written as "%XX" (UTF-8),
// so a name can never reach outside the folder and two names never share a file.
constexpr char kEntryPrefix[] = "com.quillet.pelorin.";
constexpr int kMaxNameLength = 160;
constexpr int kMaxFileNameLength = 255;
constexpr qint64 kMaxBlobSize = 16 * 1024 * 1024;

// An entry file: this tag, the SHA-256 of the blob, the blob. A file cut
// short or altered fails the digest and reads as absent. Files written
// before the tag existed hold the bare blob; they are read as they are and
// rewritten tagged.
const QByteArray kEntryTag("\0PLRVLT1", 8);
constexpr qint64 kDigestSize = 32;
constexpr qint64 kHeaderSize = 8 + kDigestSize;
constexpr qint64 kMaxFileSize = kHeaderSize + kMaxBlobSize;

// A temporary file is the entry's file name + this + "<pid>-<n>"; entry file
// names never hold a '.', so nothing else in the folder looks like one.
constexpr char kTempMarker[] = ".tmp-";
// An unreadable entry kept aside: the entry's file name + this + its time.
constexpr char kDamagedMarker[] = ".damaged-";
// A readable entry set aside on purpose (setAside()): the same, with this.
constexpr char kKeptMarker[] = ".kept-";
// Temporary files of another naming (earlier builds) count as abandoned
// once they are this old.
constexpr qint64 kForeignTempAgeSecs = 60;

QMutex &vaultMutex()
{
    static QMutex mutex;
    return mutex;
}

QString entryFileName(const QString &name)
{
    if (name.isEmpty() || name.size() > kMaxNameLength)
        return {};
    QString out = QLatin1String(kEntryPrefix);
    const QByteArray utf8 = name.toUtf8();
    for (char ch : utf8) {
        const auto c = quint8(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-')
            out.append(QLatin1Char(char(c)));
        else
            out.append(QStringLiteral("%%1").arg(uint(c), 2, 16, QLatin1Char('0')).toUpper());
    }
    // A file name longer than file systems take (255 bytes) is refused here,
    // so such a name fails the same way on every system.
    if (out.size() > kMaxFileNameLength)
        return {};
    return out;
}

// A file descriptor closed when it goes out of scope.
class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(Fd &&other) noexcept : m_fd(other.release()) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

// The vault folder, opened without following a link and checked: a folder
// owned by this user, tightened to 0700 when it is wider. Every entry is
// then reached through this descriptor, so the folder cannot be swapped
// underneath. Invalid when it is missing (and `create` is false) or unsafe.
Fd openFolder(bool create)
{
    const QString dir = CredentialVault::folder();
    if (dir.isEmpty())
        return Fd();
    const QByteArray path = QFile::encodeName(dir);
    if (create) {
        if (!QDir().mkpath(QFileInfo(dir).absolutePath()))
            return Fd();
        if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
            return Fd();
    }
    Fd fd(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
        if (errno != ENOENT)
            qCWarning(lcVault) << "vault folder refused (not a plain folder):" << dir;
        return Fd();
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISDIR(st.st_mode))
        return Fd();
    if (st.st_uid != ::geteuid()) {
        qCWarning(lcVault) << "vault folder refused (owned by another user):" << dir;
        return Fd();
    }
    if ((st.st_mode & 07777) != 0700 && ::fchmod(fd.get(), 0700) != 0)
        return Fd();
    return fd;
}

bool processIsGone(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

// Removes what interrupted writes left: temporary files of this process
// (none is in progress while the vault's lock is held), of processes that
// have ended, and of earlier builds' naming once they are old.
void removeStaleTemporaries(int dirFd)
{
    const int listFd = ::dup(dirFd);
    if (listFd < 0)
        return;
    DIR *listing = ::fdopendir(listFd);
    if (!listing) {
        ::close(listFd);
        return;
    }
    const QByteArray prefix(kEntryPrefix);
    const QByteArray marker(kTempMarker);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    while (const dirent *entry = ::readdir(listing)) {
        const QByteArray name(entry->d_name);
        if (!name.startsWith(prefix) || !name.mid(prefix.size()).contains('.') || name.contains(kDamagedMarker)
            || name.contains(kKeptMarker))
            continue;
        bool stale = false;
        const qsizetype at = name.indexOf(marker);
        if (at >= 0) {
            const QByteArray pidText = name.mid(at + marker.size()).split('-').value(0);
            bool ok = false;
            const qint64 pid = pidText.toLongLong(&ok);
            stale = !ok || pid == ::getpid() || processIsGone(pid);
        } else {
            struct stat st {};
            stale = ::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0
                    && now - qint64(st.st_mtime) > kForeignTempAgeSecs;
        }
        if (stale && ::unlinkat(dirFd, entry->d_name, 0) == 0)
            qCInfo(lcVault) << "removed an abandoned temporary vault file";
    }
    ::closedir(listing);
}

bool writeAll(int fd, const QByteArray &data)
{
    qint64 done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Writes the tagged entry to a new owner-only temporary file, flushes it to
// disk and renames it over the entry (a link or other non-folder at the
// entry's name is replaced, never followed).
bool writeEntry(int dirFd, const QByteArray &file, const QByteArray &blob)
{
    static int counter = 0;
    const QByteArray temp = file + kTempMarker + QByteArray::number(qint64(::getpid())) + '-'
                            + QByteArray::number(++counter);
    QByteArray content = kEntryTag + QCryptographicHash::hash(blob, QCryptographicHash::Sha256) + blob;
    Fd fd(::openat(dirFd, temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    bool ok = fd.valid() && ::fchmod(fd.get(), 0600) == 0 && writeAll(fd.get(), content) && ::fsync(fd.get()) == 0;
    content.fill('\0');
    if (fd.valid() && ::close(fd.release()) != 0)
        ok = false;
    ok = ok && ::renameat(dirFd, temp.constData(), dirFd, file.constData()) == 0;
    if (!ok) {
        ::unlinkat(dirFd, temp.constData(), 0);
        return false;
    }
    ::fsync(dirFd);
    return true;
}

// Refused: not a plain file of this user (a link, a device, another
// user's): never read, and replaced by a write. Damaged: a plain file of
// this user that does not read as an entry: kept aside by a write.
// Replaced: another process renamed a new version over the file while it
// was being opened (its link count fell to 0); reading again finds the new
// one.
enum class ReadResult { Value, Absent, Refused, Damaged, Replaced };

// Entries of earlier builds held their value bare, and every value was a
// text (keys, phrases, ids, password records): UTF-8 without control
// characters. Anything else without the tag is a tagged entry whose tag
// was damaged.
bool isEarlierEntry(const QByteArray &data)
{
    for (const char ch : data) {
        const auto c = quint8(ch);
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7f)
            return false;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(data);
    Q_UNUSED(text)
    return !decoder.hasError();
}

// Reads the entry: only a regular file of this user with one link, at most
// the largest valid size, with a matching digest.
ReadResult readEntry(int dirFd, const QByteArray &file, QByteArray *blob, bool *untagged)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    Fd fd(::openat(dirFd, file.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd.valid()) {
        if (errno == ENOENT)
            return ReadResult::Absent;
        qCWarning(lcVault) << "vault entry refused (cannot open it as a plain file):" << file;
        return ReadResult::Refused;
    }
    struct stat st {};
    const bool statted = ::fstat(fd.get(), &st) == 0;
    if (statted && S_ISREG(st.st_mode) && st.st_nlink == 0)
        return ReadResult::Replaced;
    if (!statted || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1) {
        qCWarning(lcVault) << "vault entry refused (not a plain file of this user):" << file;
        return ReadResult::Refused;
    }
    if (st.st_size > kMaxFileSize) {
        qCWarning(lcVault) << "vault entry refused (too large):" << file;
        return ReadResult::Damaged;
    }
    // The size is read, not trusted: the file may change while it is read.
    QByteArray data(int(qMin<qint64>(st.st_size, kMaxFileSize)) + 1, Qt::Uninitialized);
    qint64 got = 0;
    for (;;) {
        if (got == data.size()) {
            if (data.size() > kMaxFileSize)
                break;
            data.resize(int(qMin<qint64>(data.size() * 2, kMaxFileSize + 1)));
        }
        const ssize_t n = ::read(fd.get(), data.data() + got, size_t(data.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            data.fill('\0');
            return ReadResult::Refused;
        }
        if (n == 0)
            break;
        got += n;
    }
    if (got > kMaxFileSize) {
        data.fill('\0');
        qCWarning(lcVault) << "vault entry refused (too large):" << file;
        return ReadResult::Damaged;
    }
    // Entries of earlier builds are texts and never begin with the tag's
    // NUL byte: a file that begins like the tag but ends inside the header
    // is a tagged entry cut short, not an earlier one.
    const QByteArray start = data.left(int(qMin<qint64>(got, kEntryTag.size())));
    if (got < kHeaderSize && kEntryTag.startsWith(start)) {
        data.fill('\0');
        qCWarning(lcVault) << "vault entry refused (cut inside its header):" << file;
        return ReadResult::Damaged;
    }
    data.truncate(int(got));
    *untagged = !data.startsWith(kEntryTag);
    if (*untagged) {
        if (!isEarlierEntry(data)) {
            data.fill('\0');
            qCWarning(lcVault) << "vault entry refused (damaged tag):" << file;
            return ReadResult::Damaged;
        }
        *blob = data;
    } else {
        *blob = data.mid(int(kHeaderSize), int(got - kHeaderSize));
        if (QCryptographicHash::hash(*blob, QCryptographicHash::Sha256) != data.mid(8, int(kDigestSize))) {
            blob->fill('\0');
            blob->clear();
            data.fill('\0');
            qCWarning(lcVault) << "vault entry refused (damaged or cut short):" << file;
            return ReadResult::Damaged;
        }
    }
    data.fill('\0');
    return ReadResult::Value;
}

ReadResult readWhole(int dirFd, const QByteArray &file, QByteArray *blob, bool *untagged)
{
    ReadResult result = readEntry(dirFd, file, blob, untagged);
    // A writer in another process replaces the file at any moment; trying
    // again finds a whole version (each rename leaves one in place). On a
    // loaded machine the writers may win several times in a row: give them
    // the processor between tries rather than give up after a few.
    for (int attempt = 0; attempt < 200 && result == ReadResult::Replaced; ++attempt) {
        ::sched_yield();
        result = readEntry(dirFd, file, blob, untagged);
    }
    return result;
}

// Moves an entry out of the way of a write or remove of its name, to its
// name + `marker` + the time, never over another file; the new file name,
// empty when it stays where it is.
QByteArray keepAside(int dirFd, const QByteArray &file, const char *marker = kDamagedMarker)
{
    const QByteArray stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toLatin1();
    QByteArray target = file + marker + stamp;
    struct stat st {};
    for (int n = 2; ::fstatat(dirFd, target.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0; ++n)
        target = file + marker + stamp + '-' + QByteArray::number(n);
    if (::renameat(dirFd, file.constData(), dirFd, target.constData()) != 0) {
        qCWarning(lcVault) << "cannot keep a vault entry aside:" << file;
        return {};
    }
    ::fsync(dirFd);
    qCWarning(lcVault) << "vault entry kept as" << target;
    return target;
}

// Keeps a damaged entry at the name aside; false when one is there and
// cannot be moved.
bool clearDamaged(int dirFd, const QByteArray &file)
{
    QByteArray blob;
    bool untagged = false;
    const ReadResult existing = readWhole(dirFd, file, &blob, &untagged);
    blob.fill('\0');
    return existing != ReadResult::Damaged || !keepAside(dirFd, file).isEmpty();
}

} // namespace

QString CredentialVault::folder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (base.isEmpty())
        return {};
    return base + QStringLiteral("/vault");
}

QByteArray CredentialVault::read(const QString &name)
{
    return read(name, nullptr);
}

QByteArray CredentialVault::read(const QString &name, EntryState *state)
{
    EntryState scratch = EntryState::Absent;
    EntryState &out = state ? *state : scratch;
    out = EntryState::Absent;
    QMutexLocker lock(&vaultMutex());
    const QByteArray file = QFile::encodeName(entryFileName(name));
    if (file.isEmpty())
        return {};
    const Fd dir = openFolder(false);
    if (!dir.valid())
        return {};
    removeStaleTemporaries(dir.get());
    QByteArray blob;
    bool untagged = false;
    const ReadResult result = readWhole(dir.get(), file, &blob, &untagged);
    if (result != ReadResult::Value) {
        if (result != ReadResult::Absent)
            out = EntryState::Damaged;
        return {};
    }
    out = EntryState::Readable;
    // An entry of an earlier build gets its digest now, so that from here on
    // damage to it is seen.
    if (untagged && !writeEntry(dir.get(), file, blob))
        qCWarning(lcVault) << "could not rewrite an earlier vault entry with its digest:" << file;
    return blob;
}

bool CredentialVault::write(const QString &name, const QByteArray &blob)
{
    QMutexLocker lock(&vaultMutex());
    const QByteArray file = QFile::encodeName(entryFileName(name));
    if (file.isEmpty() || blob.size() > kMaxBlobSize)
        return false;
    const Fd dir = openFolder(true);
    if (!dir.valid())
        return false;
    removeStaleTemporaries(dir.get());
    return clearDamaged(dir.get(), file) && writeEntry(dir.get(), file, blob);
}

bool CredentialVault::remove(const QString &name)
{
    QMutexLocker lock(&vaultMutex());
    const QByteArray file = QFile::encodeName(entryFileName(name));
    if (file.isEmpty())
        return false;
    const Fd dir = openFolder(false);
    if (!dir.valid())
        return false;
    removeStaleTemporaries(dir.get());
    QByteArray blob;
    bool untagged = false;
    const ReadResult existing = readWhole(dir.get(), file, &blob, &untagged);
    blob.fill('\0');
    if (existing == ReadResult::Damaged)
        return !keepAside(dir.get(), file).isEmpty();
    // The name itself goes (a planted link, never its target).
    return ::unlinkat(dir.get(), file.constData(), 0) == 0;
}

QString CredentialVault::setAside(const QString &name)
{
    QMutexLocker lock(&vaultMutex());
    const QByteArray file = QFile::encodeName(entryFileName(name));
    if (file.isEmpty())
        return {};
    const Fd dir = openFolder(false);
    if (!dir.valid())
        return {};
    QByteArray blob;
    bool untagged = false;
    const ReadResult existing = readWhole(dir.get(), file, &blob, &untagged);
    blob.fill('\0');
    if (existing != ReadResult::Value && existing != ReadResult::Damaged)
        return {};
    // A damaged one goes by the name the vault gives damaged entries.
    const QByteArray kept = keepAside(dir.get(), file, existing == ReadResult::Damaged ? kDamagedMarker : kKeptMarker);
    return kept.isEmpty() ? QString() : folder() + QLatin1Char('/') + QFile::decodeName(kept);
}

} // namespace velmor::identity
