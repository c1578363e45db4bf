// Decrypted pictures and recordings waiting to be sent stay the user's alone:
// owner-only folder and files whatever the umask, no link followed, only
// those files deleted after use, an earlier run's leftovers removed at start.
#include "store/private_media.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <utime.h>

using namespace velmor::store;

namespace {

int modeOf(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes the file with its modification time `secondsAgo` in the past.
bool writeFile(const QString &path, const QByteArray &bytes = "x", int secondsAgo = 0)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    const time_t when = time_t(QDateTime::currentSecsSinceEpoch() - secondsAgo);
    const struct utimbuf times {when, when};
    return ::utime(QFile::encodeName(path).constData(), &times) == 0;
}

} // namespace

class PrivateMediaTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    mode_t m_umask = 0;

    QString mediaFolder() const
    {
        return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/media");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(QStringLiteral("data"))));
        qputenv("TMPDIR", QFile::encodeName(m_home.filePath(QStringLiteral("tmp"))));
        QVERIFY(QDir().mkpath(m_home.filePath(QStringLiteral("tmp"))));
        m_umask = ::umask(0); // the widest: the modes must not come from it
    }
    void cleanupTestCase() { ::umask(m_umask); }
    void init() { QDir(mediaFolder()).removeRecursively(); }

    // Owner-only folder and file whatever was left there; a link planted as
    // the file or the folder is not followed.
    void filesAreTheUsersAlone_data()
    {
        QTest::addColumn<QString>("before");
        QTest::newRow("new folder") << "";
        QTest::newRow("folder and file left open to all") << "open";
        QTest::newRow("file is a link") << "file-link";
        QTest::newRow("folder is a link") << "folder-link";
    }
    void filesAreTheUsersAlone()
    {
        QFETCH(QString, before);
        const QString name = QStringLiteral("velmor-draft-a.png");
        const QString theirs = m_home.filePath(QStringLiteral("elsewhere/theirs"));
        QVERIFY(QDir().mkpath(QFileInfo(theirs).absolutePath()) && writeFile(theirs, "theirs"));
        if (before == QLatin1String("folder-link")) {
            QVERIFY(QDir().mkpath(QFileInfo(mediaFolder()).absolutePath()));
            QVERIFY(QFile::link(QFileInfo(theirs).absolutePath(), mediaFolder()));
        } else if (!before.isEmpty()) {
            QVERIFY(QDir().mkpath(mediaFolder()));
            if (before == QLatin1String("file-link")) {
                QVERIFY(QFile::link(theirs, mediaFolder() + '/' + name));
            } else {
                QVERIFY(writeFile(mediaFolder() + '/' + name, "old picture"));
                QVERIFY(::chmod(QFile::encodeName(mediaFolder()).constData(), 0777) == 0);
                QVERIFY(::chmod(QFile::encodeName(mediaFolder() + '/' + name).constData(), 0666) == 0);
            }
        }
        QFile file;
        const QString path = openPrivateMedia(file, name);
        const bool link = before.endsWith(QLatin1String("link"));
        QCOMPARE(path, link ? QString() : mediaFolder() + '/' + name);
        QVERIFY(link || file.write("picture") == 7);
        file.close();
        QCOMPARE(QDir(QFileInfo(theirs).absolutePath()).entryList(QDir::Files), QStringList{"theirs"});
        QCOMPARE(contentOf(theirs), QByteArray("theirs"));
        QFile::remove(mediaFolder()); // a planted folder link
        if (link)
            return;
        QCOMPARE(modeOf(mediaFolder()), 0700);
        QCOMPARE(modeOf(path), 0600);
        QCOMPARE(contentOf(path), QByteArray("picture")); // emptied first
        QCOMPARE(modeOf(createPrivateMedia(QStringLiteral("velmor_rec_b.m4a"))), 0600);
    }

    // Only files of the folder are deleted after use; a picture the user
    // chose elsewhere stays.
    void onlyOurFilesAreDeleted_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("a draft of the folder") << "media";
        QTest::newRow("a picture the user chose") << "elsewhere";
        QTest::newRow("a path out of the folder") << "escape";
    }
    void onlyOurFilesAreDeleted()
    {
        QFETCH(QString, where);
        QVERIFY(!privateMediaFolder().isEmpty());
        QString path = m_home.filePath(QStringLiteral("photo.png"));
        QString file = path;
        if (where == QLatin1String("media")) {
            path = file = createPrivateMedia(QStringLiteral("velmor-draft-d.png"));
        } else if (where == QLatin1String("escape")) {
            file = QFileInfo(mediaFolder()).absolutePath() + QStringLiteral("/chat.db");
            path = mediaFolder() + QStringLiteral("/../chat.db");
        }
        QVERIFY(QFileInfo::exists(file) || writeFile(file));
        removePrivateMedia(path);
        QCOMPARE(QFileInfo::exists(file), where != QLatin1String("media"));
        QFile::remove(file);
    }

    // At start: what an earlier run left goes, in the folder and under the
    // earlier versions' names in the temporary folder; what this run (or
    // another program) made stays.
    void leftoversOfEarlierRunsAreRemoved()
    {
        QVERIFY(!privateMediaFolder().isEmpty());
        const QString temp = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
        const struct
        {
            QString path;
            int secondsAgo;
            bool removed;
        } cases[] = {
            {mediaFolder() + "/velmor_rec_old.m4a", 120, true},
            {mediaFolder() + "/velmor-draft-new.png", -60, false},
            {temp + "/velmor-draft-1f2e.png", 3600, true},
            {temp + "/velmor_rec_1f2e.m4a", 3600, true},
            {temp + "/velmor-retry-m7.jpg", 3600, true},
            {temp + "/velmor-draft-new.png", -60, false},
            {temp + "/notes.txt", 3600, false},
        };
        for (const auto &c : cases)
            QVERIFY(writeFile(c.path, "x", c.secondsAgo));
        removeMediaLeftovers(QDateTime::currentDateTime());
        for (const auto &c : cases)
            QVERIFY2(QFileInfo::exists(c.path) != c.removed, qPrintable(c.path));
    }
};

QTEST_GUILESS_MAIN(PrivateMediaTest)
#include "test_private_media.moc"
