#include "identity/vault.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QSaveFile>
#include <QStandardPaths>

namespace velmor::identity {

namespace {

// Every entry file carries this prefix; the rest of its name is the entry
// name with every character outside [A-Za-z0-9_-] written as "%XX" (UTF-8),
// so a name can never reach outside the folder and two names never share a file.
constexpr char kEntryPrefix[] = "com.quillet.pelorin.";
constexpr int kMaxNameLength = 160;
constexpr int kMaxFileNameLength = 255;
constexpr qint64 kMaxBlobSize = 16 * 1024 * 1024;

const QFileDevice::Permissions kFolderPermissions =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
const QFileDevice::Permissions kFilePermissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

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

QString entryPath(const QString &name)
{
    const QString file = entryFileName(name);
    const QString dir = CredentialVault::folder();
    if (file.isEmpty() || dir.isEmpty())
        return {};
    return dir + QLatin1Char('/') + file;
}

bool ensureFolder()
{
    const QString dir = CredentialVault::folder();
    if (dir.isEmpty())
        return false;
    if (!QDir().mkpath(dir))
        return false;
    QFile folder(dir);
    if (folder.permissions() != kFolderPermissions && !folder.setPermissions(kFolderPermissions))
        return false;
    return true;
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
    QMutexLocker lock(&vaultMutex());
    const QString path = entryPath(name);
    if (path.isEmpty())
        return {};
    QFile file(path);
    // Unbuffered: no copy of the secret is left behind in a read buffer.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {};
    if (file.size() > kMaxBlobSize)
        return {};
    return file.readAll();
}

bool CredentialVault::write(const QString &name, const QByteArray &blob)
{
    QMutexLocker lock(&vaultMutex());
    const QString path = entryPath(name);
    if (path.isEmpty() || blob.size() > kMaxBlobSize || !ensureFolder())
        return false;
    QSaveFile file(path);
    // Unbuffered: the blob goes straight to the file, not through a write buffer.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    // Owner-only before the first byte lands; the folder is 0700 as well.
    if (!file.setPermissions(kFilePermissions)) {
        file.cancelWriting();
        return false;
    }
    if (file.write(blob) != blob.size()) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        return false;
    QFile final(path);
    if (final.permissions() != kFilePermissions)
        return final.setPermissions(kFilePermissions);
    return true;
}

bool CredentialVault::remove(const QString &name)
{
    QMutexLocker lock(&vaultMutex());
    const QString path = entryPath(name);
    if (path.isEmpty())
        return false;
    QFile file(path);
    if (!file.exists())
        return false;
    return file.remove();
}

} // namespace velmor::identity
