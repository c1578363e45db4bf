#include "store/private_media.h"

#include "store/store_files.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmor::store {

namespace {

QString mediaFolderPath()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return data.isEmpty() ? QString() : QDir(data).filePath(QStringLiteral("media"));
}

// A plain folder of this user, not reached through a link of its own.
bool isOwnFolder(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode)
        && st.st_uid == ::geteuid();
}

// A plain file of this user (not a link).
bool isOwnFile(const QString &path, struct stat *out = nullptr)
{
    struct stat st {};
    const bool own = ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode)
        && st.st_uid == ::geteuid();
    if (out)
        *out = st;
    return own;
}

// File names the earlier versions left in the shared temporary folder.
const QStringList kOldTemporaryNames{QStringLiteral("velmor-draft-*.png"), QStringLiteral("velmor_rec_*"),
                                     QStringLiteral("velmor-retry-*")};

} // namespace

QString privateMediaFolder()
{
    const QString folder = mediaFolderPath();
    if (folder.isEmpty() || !makePrivateFolder(folder) || !isOwnFolder(folder))
        return {};
    return folder;
}

QString openPrivateMedia(QFile &file, const QString &fileName)
{
    const QString folder = privateMediaFolder();
    if (folder.isEmpty() || fileName.isEmpty() || fileName.contains(QLatin1Char('/')))
        return {};
    const QString path = QDir(folder).filePath(fileName);
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return {};
    // A file of that name left by an earlier run may be wider.
    if (::fchmod(fd, 0600) != 0 || !file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    return path;
}

QString createPrivateMedia(const QString &fileName)
{
    QFile file;
    const QString path = openPrivateMedia(file, fileName);
    file.close();
    return path;
}

bool isPrivateMedia(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QString folder = mediaFolderPath();
    const QFileInfo info(path);
    return !folder.isEmpty() && QDir::cleanPath(info.absolutePath()) == QDir::cleanPath(folder)
        && !info.fileName().isEmpty();
}

void removePrivateMedia(const QString &path)
{
    if (isPrivateMedia(path))
        QFile::remove(path);
}

void removeMediaLeftovers(const QDateTime &startedAt)
{
    const QString folder = mediaFolderPath();
    if (!folder.isEmpty() && isOwnFolder(folder)) {
        // Files of this run (and of another window of the same profile
        // started meanwhile) are newer than the start.
        const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files | QDir::System | QDir::Hidden);
        for (const QFileInfo &file : files)
            if (file.isSymLink() || file.lastModified() < startedAt)
                QFile::remove(file.absoluteFilePath());
    }
    const QString temporary = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    if (temporary.isEmpty())
        return;
    const QFileInfoList old = QDir(temporary).entryInfoList(kOldTemporaryNames, QDir::Files | QDir::System);
    for (const QFileInfo &file : old)
        if (isOwnFile(file.absoluteFilePath()) && file.lastModified() < startedAt)
            QFile::remove(file.absoluteFilePath());
}

} // namespace velmor::store
