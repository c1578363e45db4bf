// A store whose folder or files are not the user's own is refused: a
// symbolic link (messages would land wherever it points) or a folder of
// another user. A home reached through a link above the folder, of the user
// or the system, still opens.
#include "store_test_util.h"

#include "store/store_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace storetest;

class StoreForeignFiles : public QObject, protected StoreFiles
{
    Q_OBJECT

    QString m_case; // a folder of its own per case

    // The user's primary group is named as the user (as the system gives
    // each user a group of their own), and lists no one else.
    static bool hasPrivateGroup()
    {
        const struct passwd *user = ::getpwuid(::geteuid());
        const struct group *own = user ? ::getgrgid(user->pw_gid) : nullptr;
        if (!own || qstrcmp(own->gr_name, user->pw_name) != 0)
            return false;
        for (char **member = own->gr_mem; *member; ++member)
            if (qstrcmp(*member, user->pw_name) != 0)
                return false;
        return ::getegid() == user->pw_gid;
    }

    // foreignStorePath(db) as a child sees it whose user database also names
    // another user with the user's primary group as theirs (the group's own
    // entry lists no such member): its own mount table, a copy of the passwd
    // file bound over the system's. "!" when the child could not set that up.
    QByteArray foreignSeenWithGroupmate(const QString &db) const
    {
        QFile system(QStringLiteral("/etc/passwd"));
        QFile copy(at(QStringLiteral("passwd")));
        if (!system.open(QIODevice::ReadOnly) || !copy.open(QIODevice::WriteOnly))
            return "!";
        copy.write(system.readAll());
        copy.write(QByteArray("groupmate:x:4242:") + QByteArray::number(uint(::getegid()))
                   + ":groupmate:/nonexistent:/usr/sbin/nologin\n");
        copy.close();
        const QByteArray copyPath = QFile::encodeName(copy.fileName());
        int answer[2];
        if (::pipe(answer) != 0)
            return "!";
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(answer[0]);
            QByteArray seen = "!";
            if (::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
                && ::mount(copyPath.constData(), "/etc/passwd", nullptr, MS_BIND, nullptr) == 0)
                seen = velmor::store::foreignStorePath(db).toUtf8();
            const ssize_t written = ::write(answer[1], seen.constData(), size_t(seen.size()));
            ::_exit(written == seen.size() ? 0 : 1);
        }
        ::close(answer[1]);
        QByteArray seen;
        char chunk[512];
        for (ssize_t n; (n = ::read(answer[0], chunk, sizeof chunk)) > 0;)
            seen.append(chunk, n);
        ::close(answer[0]);
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return "!";
        return seen;
    }

    QString at(const QString &name) const { return QDir(m_case).filePath(name); }
    QByteArray target() const
    {
        QFile file(at(QStringLiteral("elsewhere/target.db")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("gone");
    }

private slots:
    void init()
    {
        static int n = 0;
        m_case = m_dir.filePath(QStringLiteral("case-%1").arg(++n));
        QVERIFY(QDir().mkpath(m_case + QStringLiteral("/elsewhere")));
        QFile file(at(QStringLiteral("elsewhere/target.db")));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    void cleanup() { store().close(); }

    void notTheUsersOwnIsRefused_data()
    {
        QTest::addColumn<QString>("link"); // empty: the folder is given to another user
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("refused"); // empty when opened
        QTest::newRow("database is a link") << "data/chat.db" << "elsewhere/target.db" << "data/chat.db";
        QTest::newRow("write-ahead log is a link") << "data/chat.db-wal" << "elsewhere/target.db" << "data/chat.db-wal";
        QTest::newRow("folder is a link") << "data" << "elsewhere" << "data";
        QTest::newRow("folder of another user") << "" << "" << "data";
        QTest::newRow("a link above the folder") << "home" << "real" << "";
    }
    void notTheUsersOwnIsRefused()
    {
        QFETCH(QString, link);
        QFETCH(QString, to);
        QFETCH(QString, refused);
        const bool above = link == QLatin1String("home");
        const QString db = at(above ? QStringLiteral("home/data/chat.db") : QStringLiteral("data/chat.db"));
        if (link != QLatin1String("data"))
            QVERIFY(QDir().mkpath(at(above ? QStringLiteral("real/data") : QStringLiteral("data"))));
        if (link.endsWith(QLatin1String("-wal"))) {
            QVERIFY(store().open(kOwnerA, db));
            store().close();
            QFile::remove(at(link));
        }
        if (link.isEmpty()) {
            if (::geteuid() != 0)
                QSKIP("only root can give a folder to another user");
            const QByteArray name = QFile::encodeName(at(QStringLiteral("data")));
            QVERIFY(::chmod(name.constData(), 0777) == 0 && ::chown(name.constData(), 65534, 65534) == 0);
        } else {
            QVERIFY(QFile::link(at(to), at(link)));
        }

        velmor::store::OpenReport report;
        const bool opened = store().open(kOwnerA, db, &report);
        QCOMPARE(opened, refused.isEmpty());
        QCOMPARE(report.foreign, refused.isEmpty() ? QString() : at(refused));
        if (opened)
            QVERIFY(store().upsertContact(velmor::chat::ContactRecord{kPeer, {}, "kept", {}, {}, 0, 1}));
        // Nothing was written where a link points, nor made beside it.
        QCOMPARE(target(), QByteArray());
        QCOMPARE(QDir(at(QStringLiteral("elsewhere"))).entryList(QDir::Files | QDir::System),
                 QStringList{QStringLiteral("target.db")});
    }

    // Above the store's folder, what the user or the system made (a home on a
    // linked mount, a folder moved to another disk) is the user's choice and
    // followed; a link or folder another user made, or a folder anyone may
    // swap things in (everyone, or a group of other users too), is refused
    // like the folder itself, and nothing is made past it.
    void aboveTheFolder_data()
    {
        QTest::addColumn<QString>("kind"); // "link" (up -> real) or "folder" (up)
        QTest::addColumn<bool>("otherUser");
        QTest::addColumn<int>("mode"); // of the folder, 0: left as made
        QTest::addColumn<bool>("otherGroup"); // the folder's group: another one, else the user's
        QTest::addColumn<bool>("groupmate");  // another user has the user's group as primary group
        QTest::addColumn<bool>("refused");
        QTest::newRow("the user's link") << "link" << false << 0 << false << false << false;
        QTest::newRow("another user's link") << "link" << true << 0 << false << false << true;
        QTest::newRow("another user's folder") << "folder" << true << 0755 << false << false << true;
        QTest::newRow("a folder anyone may write") << "folder" << false << 0777 << false << false << true;
        QTest::newRow("a sticky folder anyone may write") << "folder" << false << 01777 << false << false << false;
        QTest::newRow("a link into a folder anyone may write") << "link" << false << 0777 << false << false << true;
        QTest::newRow("a folder another group may write") << "folder" << false << 0775 << true << false << true;
        QTest::newRow("a folder the user's own group may write") << "folder" << false << 0775 << false << false << false;
        QTest::newRow("a folder the user's group may write, another user's primary group too")
            << "folder" << false << 0775 << false << true << true;
    }
    void aboveTheFolder()
    {
        QFETCH(QString, kind);
        QFETCH(bool, otherUser);
        QFETCH(int, mode);
        QFETCH(bool, otherGroup);
        QFETCH(bool, groupmate);
        QFETCH(bool, refused);
        if ((otherUser || otherGroup || groupmate) && ::geteuid() != 0)
            QSKIP("only root can give a link or folder to another user or group");
        if (mode == 0775 && !otherGroup && !hasPrivateGroup())
            QSKIP("the user's primary group is not a group of the user's own");
        const QString up = at(QStringLiteral("up"));
        const QString real = kind == QLatin1String("link") ? at(QStringLiteral("real")) : up;
        QVERIFY(QDir().mkpath(real));
        if (mode)
            QVERIFY(::chmod(QFile::encodeName(real).constData(), mode_t(mode)) == 0);
        if (kind == QLatin1String("link"))
            QVERIFY(QFile::link(real, up));
        if (otherUser)
            QVERIFY(::lchown(QFile::encodeName(up).constData(), 65534, 65534) == 0);
        if (otherGroup)
            QVERIFY(::chown(QFile::encodeName(real).constData(), uid_t(-1), 65534) == 0);

        const QString db = up + QStringLiteral("/data/chat.db");
        if (groupmate) {
            const QByteArray seen = foreignSeenWithGroupmate(db);
            if (seen == "!")
                QSKIP("no mount table of its own for a child here");
            QCOMPARE(QString::fromUtf8(seen), up);
            return;
        }
        velmor::store::OpenReport report;
        QCOMPARE(store().open(kOwnerA, db, &report), !refused);
        const QString named = mode == 0777 || otherGroup ? real : up;
        QCOMPARE(report.foreign, refused ? named : QString());
        QCOMPARE(QFileInfo::exists(real + QStringLiteral("/data")), !refused);
    }

    // A link put in the database's place after the checks (between them and
    // SQLite's open) is refused by SQLite itself.
    void linkSwappedInIsNotFollowed()
    {
        QVERIFY(QDir().mkpath(at(QStringLiteral("data"))));
        const QString db = at(QStringLiteral("data/chat.db"));
        const QString name = velmor::store::sqliteOpenName(db);
        QVERIFY(QFile::link(at(QStringLiteral("elsewhere/target.db")), db));
        {
            QSqlDatabase side = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("swapped"));
            side.setDatabaseName(name);
            side.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI"));
            QVERIFY(!side.open() || !QSqlQuery(side).exec(QStringLiteral("CREATE TABLE planted(x)")));
            side.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("swapped"));
        QCOMPARE(target(), QByteArray());
    }
};

QTEST_GUILESS_MAIN(StoreForeignFiles)
#include "test_foreign_files.moc"
