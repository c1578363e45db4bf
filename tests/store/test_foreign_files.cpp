// A store whose folder or files are not the user's own is refused: a
// symbolic link (messages would land wherever it points) or a folder or file
// of another user (who could read or change them). A home reached through a
// link above the store's folder is still the user's.
#include "store_test_util.h"

#include "store/store_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace storetest;

namespace {

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool giveToAnotherUser(const QString &path, mode_t mode)
{
    const QByteArray name = QFile::encodeName(path);
    return ::chmod(name.constData(), mode) == 0 && ::chown(name.constData(), 65534, 65534) == 0;
}

} // namespace

class StoreForeignFiles : public QObject, protected StoreFiles
{
    Q_OBJECT

    QString m_case; // a folder of its own per case

    QString at(const QString &name) const { return QDir(m_case).filePath(name); }

private slots:
    void init()
    {
        static int n = 0;
        m_case = m_dir.filePath(QStringLiteral("case-%1").arg(++n));
        QVERIFY(QDir().mkpath(m_case + QStringLiteral("/elsewhere")));
        QFile target(at(QStringLiteral("elsewhere/target.db")));
        QVERIFY(target.open(QIODevice::WriteOnly));
    }
    void cleanup() { store().close(); }

    void notTheUsersOwnIsRefused_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("refused"); // relative to the case folder; empty when opened
        QTest::newRow("database is a link") << "db-link" << "data/chat.db";
        QTest::newRow("database is a dangling link") << "db-dangling" << "data/chat.db";
        QTest::newRow("write-ahead log is a link") << "wal-link" << "data/chat.db-wal";
        QTest::newRow("folder is a link") << "folder-link" << "data";
        QTest::newRow("folder of another user") << "folder-other" << "data";
        QTest::newRow("database of another user") << "db-other" << "data/chat.db";
        QTest::newRow("a link above the folder") << "parent-link" << "";
        QTest::newRow("own folder and file") << "own" << "";
    }
    void notTheUsersOwnIsRefused()
    {
        QFETCH(QString, layout);
        QFETCH(QString, refused);
        const QString target = at(QStringLiteral("elsewhere/target.db"));
        QString db = at(QStringLiteral("data/chat.db"));
        if (layout != QLatin1String("folder-link") && layout != QLatin1String("parent-link"))
            QVERIFY(QDir().mkpath(at(QStringLiteral("data"))));
        if (layout.endsWith(QLatin1String("-other")) && ::geteuid() != 0)
            QSKIP("only root can give a file to another user");

        if (layout == QLatin1String("db-link")) {
            QVERIFY(QFile::link(target, db));
        } else if (layout == QLatin1String("db-dangling")) {
            QVERIFY(QFile::link(at(QStringLiteral("elsewhere/not-yet.db")), db));
        } else if (layout == QLatin1String("wal-link")) {
            QVERIFY(store().open(kOwnerA, db));
            store().close();
            QFile::remove(db + QStringLiteral("-wal"));
            QVERIFY(QFile::link(target, db + QStringLiteral("-wal")));
        } else if (layout == QLatin1String("folder-link")) {
            QVERIFY(QFile::link(at(QStringLiteral("elsewhere")), at(QStringLiteral("data"))));
        } else if (layout == QLatin1String("folder-other")) {
            QVERIFY(giveToAnotherUser(at(QStringLiteral("data")), 0777));
        } else if (layout == QLatin1String("db-other")) {
            QFile file(db);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.close();
            QVERIFY(giveToAnotherUser(db, 0666));
        } else if (layout == QLatin1String("parent-link")) {
            QVERIFY(QDir().mkpath(at(QStringLiteral("real/data"))));
            QVERIFY(QFile::link(at(QStringLiteral("real")), at(QStringLiteral("home"))));
            db = at(QStringLiteral("home/data/chat.db"));
        }

        velmor::store::OpenReport report;
        const bool opened = store().open(kOwnerA, db, &report);
        QCOMPARE(opened, refused.isEmpty());
        QCOMPARE(report.foreign, refused.isEmpty() ? QString() : at(refused));
        if (opened) {
            QVERIFY(store().upsertContact(velmor::chat::ContactRecord{kPeer, {}, "kept", {}, {}, 0, 1}));
            QCOMPARE(store().contact(kPeer)->remark, QStringLiteral("kept"));
        }
        // Nothing was written where the link points, nor made beside it.
        QCOMPARE(contentOf(target), QByteArray());
        QCOMPARE(QDir(at(QStringLiteral("elsewhere"))).entryList(QDir::Files | QDir::System),
                 QStringList{QStringLiteral("target.db")});
    }

    // A link put in the database's place after the checks (between them and
    // SQLite's open) is refused by SQLite itself.
    void linkSwappedInIsNotFollowed()
    {
        QVERIFY(QDir().mkpath(at(QStringLiteral("data"))));
        const QString db = at(QStringLiteral("data/chat.db"));
        const QString target = at(QStringLiteral("elsewhere/target.db"));
        const QString name = velmor::store::sqliteOpenName(db);
        QVERIFY(QFile::link(target, db));
        {
            QSqlDatabase side = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("swapped"));
            side.setDatabaseName(name);
            side.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI"));
            const bool opened = side.open()
                && QSqlQuery(side).exec(QStringLiteral("CREATE TABLE planted(x)"));
            QVERIFY(!opened);
            side.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("swapped"));
        QCOMPARE(contentOf(target), QByteArray());
    }
};

QTEST_GUILESS_MAIN(StoreForeignFiles)
#include "test_foreign_files.moc"
