// Decrypted pictures and recordings waiting to be sent stay the user's
// alone: an owner-only folder of the profile, owner-only files whatever the
// umask, no link followed, only those files deleted after use, and what an
// earlier run left removed at the next start.
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

bool writeFile(const QString &path, const QByteArray &bytes = "x")
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Sets the file's modification time `secondsAgo` into the past.
bool age(const QString &path, int secondsAgo)
{
    const qint64 when = QDateTime::currentSecsSinceEpoch() - secondsAgo;
    struct utimbuf times {time_t(when), time_t(when)};
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
        // The widest umask: the modes must not come from it.
        m_umask = ::umask(0);
    }
    void cleanupTestCase() { ::umask(m_umask); }
    void init() { QDir(mediaFolder()).removeRecursively(); }

    void filesAreTheUsersAlone_data()
    {
        QTest::addColumn<int>("folderBefore"); // -1: no folder yet
        QTest::newRow("new folder") << -1;
        QTest::newRow("folder left open to all") << 0777;
        QTest::newRow("folder readable by the group") << 0750;
    }
    void filesAreTheUsersAlone()
    {
        QFETCH(int, folderBefore);
        if (folderBefore >= 0) {
            QVERIFY(QDir().mkpath(mediaFolder()));
            QVERIFY(::chmod(QFile::encodeName(mediaFolder()).constData(), mode_t(folderBefore)) == 0);
            // A file of that name left wide by an earlier version.
            QVERIFY(writeFile(mediaFolder() + QStringLiteral("/velmor-draft-a.png"), "old picture"));
            QVERIFY(::chmod(QFile::encodeName(mediaFolder() + "/velmor-draft-a.png").constData(), 0666) == 0);
        }
        QFile file;
        const QString path = openPrivateMedia(file, QStringLiteral("velmor-draft-a.png"));
        QCOMPARE(path, mediaFolder() + QStringLiteral("/velmor-draft-a.png"));
        QVERIFY(file.write("picture") == 7);
        file.close();
        QCOMPARE(modeOf(mediaFolder()), 0700);
        QCOMPARE(modeOf(path), 0600);
        QFile back(path);
        QVERIFY(back.open(QIODevice::ReadOnly));
        QCOMPARE(back.readAll(), QByteArray("picture")); // emptied first

        const QString recording = createPrivateMedia(QStringLiteral("velmor_rec_b.m4a"));
        QCOMPARE(modeOf(recording), 0600);
    }

    // A link planted under a name about to be written is not followed: the
    // file it points to keeps what it holds.
    void plantedLinkIsNotFollowed()
    {
        QVERIFY(!privateMediaFolder().isEmpty());
        const QString target = m_home.filePath(QStringLiteral("someone-elses"));
        QVERIFY(writeFile(target, "theirs"));
        QVERIFY(QFile::link(target, mediaFolder() + QStringLiteral("/velmor-retry-m1.jpg")));
        QFile file;
        QCOMPARE(openPrivateMedia(file, QStringLiteral("velmor-retry-m1.jpg")), QString());
        QFile check(target);
        QVERIFY(check.open(QIODevice::ReadOnly));
        QCOMPARE(check.readAll(), QByteArray("theirs"));
    }

    void folderThatIsNotTheUsersIsNotUsed()
    {
        const QString elsewhere = m_home.filePath(QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkpath(elsewhere));
        QVERIFY(QDir().mkpath(QFileInfo(mediaFolder()).absolutePath()));
        QVERIFY(QFile::link(elsewhere, mediaFolder()));
        QFile file;
        QCOMPARE(openPrivateMedia(file, QStringLiteral("velmor-draft-c.png")), QString());
        QCOMPARE(QDir(elsewhere).entryList(QDir::Files), QStringList());
        QFile::remove(mediaFolder());
    }

    // Only files of the folder are deleted after use; a picture the user
    // chose elsewhere stays.
    void onlyOurFilesAreDeleted_data()
    {
        QTest::addColumn<QString>("where"); // "media", "elsewhere", "escape"
        QTest::addColumn<bool>("deleted");
        QTest::newRow("a draft of the folder") << "media" << true;
        QTest::newRow("a picture the user chose") << "elsewhere" << false;
        QTest::newRow("a path out of the folder") << "escape" << false;
    }
    void onlyOurFilesAreDeleted()
    {
        QFETCH(QString, where);
        QFETCH(bool, deleted);
        QVERIFY(!privateMediaFolder().isEmpty());
        QString path;
        QString file;
        if (where == QLatin1String("media")) {
            path = file = createPrivateMedia(QStringLiteral("velmor-draft-d.png"));
        } else if (where == QLatin1String("elsewhere")) {
            path = file = m_home.filePath(QStringLiteral("photo.png"));
            QVERIFY(writeFile(file));
        } else {
            file = QFileInfo(mediaFolder()).absolutePath() + QStringLiteral("/chat.db");
            QVERIFY(writeFile(file));
            path = mediaFolder() + QStringLiteral("/../chat.db");
        }
        QVERIFY(QFileInfo::exists(file));
        removePrivateMedia(path);
        QCOMPARE(!QFileInfo::exists(file), deleted);
        QFile::remove(file);
    }

    // At start: what an earlier run left goes, in the folder and under the
    // earlier versions' names in the temporary folder; what this run (or
    // another program) made stays.
    void leftoversOfEarlierRunsAreRemoved()
    {
        QVERIFY(!privateMediaFolder().isEmpty());
        const QString temp = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
        struct Case
        {
            QString path;
            int secondsAgo;
            bool removed;
        };
        const QList<Case> cases{
            {mediaFolder() + "/velmor-draft-old.png", 3600, true},
            {mediaFolder() + "/velmor_rec_old.m4a", 120, true},
            {mediaFolder() + "/velmor-draft-new.png", -60, false},
            {temp + "/velmor-draft-1f2e.png", 3600, true},
            {temp + "/velmor_rec_1f2e.m4a", 3600, true},
            {temp + "/velmor-retry-m7.jpg", 3600, true},
            {temp + "/velmor-draft-new.png", -60, false},
            {temp + "/notes.txt", 3600, false},
        };
        for (const Case &c : cases) {
            QVERIFY(writeFile(c.path));
            QVERIFY(age(c.path, c.secondsAgo));
        }
        removeMediaLeftovers(QDateTime::currentDateTime());
        for (const Case &c : cases)
            QVERIFY2(QFileInfo::exists(c.path) != c.removed, qPrintable(c.path));
    }
};

QTEST_GUILESS_MAIN(PrivateMediaTest)
#include "test_private_media.moc"
