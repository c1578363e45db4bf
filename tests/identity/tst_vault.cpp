// The credential vault: entries, their files and modes, and persistence
// across processes (the test binary re-runs itself as a child).
#include "identity/vault.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace {

void setUpApplication()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Quillet"));
    QCoreApplication::setApplicationName(QStringLiteral("PelorinVaultTest"));
    QStandardPaths::setTestModeEnabled(true);
}

int modeOf(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

// Child mode: "vault-child read NAME" prints the entry as hex;
// "vault-child write NAME HEX" stores it; "vault-child remove NAME" prints 1/0.
int runChild(const QStringList &args)
{
    QTextStream out(stdout);
    if (args.size() >= 3 && args[1] == "read") {
        out << CredentialVault::read(args[2]).toHex() << Qt::endl;
        return 0;
    }
    if (args.size() >= 4 && args[1] == "write")
        return CredentialVault::write(args[2], QByteArray::fromHex(args[3].toLatin1())) ? 0 : 1;
    // "vault-child write-loop NAME CHAR N": N whole writes of 512 x CHAR.
    if (args.size() >= 5 && args[1] == "write-loop") {
        const QByteArray value(512, args[3].at(0).toLatin1());
        for (int i = 0; i < args[4].toInt(); ++i) {
            if (!CredentialVault::write(args[2], value))
                return 1;
        }
        return 0;
    }
    if (args.size() >= 3 && args[1] == "remove") {
        out << (CredentialVault::remove(args[2]) ? "1" : "0") << Qt::endl;
        return 0;
    }
    return 2;
}

QString runChildProcess(const QStringList &args, int *exitCode = nullptr)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), QStringList{"vault-child"} + args);
    if (!child.waitForFinished(30000))
        return QStringLiteral("<timeout>");
    if (exitCode)
        *exitCode = child.exitCode();
    return QString::fromLatin1(child.readAllStandardOutput()).trimmed();
}

} // namespace

class TestVault : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void folderIsPerUserAndTestScoped();
    void readWriteRemove();
    void binaryBlobs();
    void fileLayoutAndModes();
    void tightensAnExistingFolder();
    void namesCannotEscape();
    void badNamesAndSizes();
    void noTemporaryFilesLeft();
    void concurrentWriters();
    void survivesANewProcess();
    void readersInOneProcessSeeWholeWritesOfOthers();
    void plantedEntriesAreRefused_data();
    void plantedEntriesAreRefused();
    void folderThatIsNotOursIsRefused_data();
    void folderThatIsNotOursIsRefused();
    void abandonedTemporariesAreRemoved();
    void earlierEntriesAreReadAndGetADigest();
    void damagedEntriesAreToldAndKept_data();
    void damagedEntriesAreToldAndKept();
};

void TestVault::initTestCase()
{
    QVERIFY(QStandardPaths::isTestModeEnabled());
    QDir(CredentialVault::folder()).removeRecursively();
}

void TestVault::cleanupTestCase()
{
    QDir(CredentialVault::folder()).removeRecursively();
}

void TestVault::init()
{
    QDir(CredentialVault::folder()).removeRecursively();
}

void TestVault::folderIsPerUserAndTestScoped()
{
    const QString folder = CredentialVault::folder();
    QVERIFY(!folder.isEmpty());
    QVERIFY(folder.startsWith(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/"));
    QVERIFY(folder.contains("qttest")); // never the user's real data in a test run
}

void TestVault::readWriteRemove()
{
    QVERIFY(CredentialVault::read("private_key").isEmpty());
    QVERIFY(!CredentialVault::remove("private_key"));
    QVERIFY(CredentialVault::write("private_key", "first"));
    QCOMPARE(CredentialVault::read("private_key"), QByteArray("first"));
    QVERIFY(CredentialVault::write("private_key", "second, longer than the first"));
    QCOMPARE(CredentialVault::read("private_key"), QByteArray("second, longer than the first"));
    QVERIFY(CredentialVault::write("private_key", "3"));
    QCOMPARE(CredentialVault::read("private_key"), QByteArray("3"));
    QVERIFY(CredentialVault::write("mnemonic", "abandon about"));
    QVERIFY(CredentialVault::remove("private_key"));
    QVERIFY(CredentialVault::read("private_key").isEmpty());
    QVERIFY(!CredentialVault::remove("private_key"));
    // Other entries are untouched.
    QCOMPARE(CredentialVault::read("mnemonic"), QByteArray("abandon about"));
    // An entry written empty exists until removed.
    QVERIFY(CredentialVault::write("avatar", QByteArray()));
    QVERIFY(CredentialVault::read("avatar").isEmpty());
    QVERIFY(CredentialVault::remove("avatar"));
    QVERIFY(!CredentialVault::remove("avatar"));
}

void TestVault::binaryBlobs()
{
    QByteArray blob;
    for (int i = 0; i < 4096; ++i)
        blob.append(char(i * 7));
    QVERIFY(CredentialVault::write("backup_pwd_v2_0x9858effd232b4033e47d90003d41ec34ecaeda94", blob));
    QCOMPARE(CredentialVault::read("backup_pwd_v2_0x9858effd232b4033e47d90003d41ec34ecaeda94"), blob);
    const QString utf8Name = QString::fromUtf8("头像");
    QVERIFY(CredentialVault::write(utf8Name, "x"));
    QCOMPARE(CredentialVault::read(utf8Name), QByteArray("x"));
}

void TestVault::fileLayoutAndModes()
{
    QVERIFY(CredentialVault::write("private_key", "secret"));
    const QString folder = CredentialVault::folder();
    const QString file = folder + "/com.quillet.pelorin.private_key";
    QVERIFY(QFileInfo::exists(file));
    QCOMPARE(modeOf(folder), 0700);
    QCOMPARE(modeOf(file), 0600);
    // Replacing keeps the mode owner-only.
    QVERIFY(CredentialVault::write("private_key", "secret 2"));
    QCOMPARE(modeOf(file), 0600);
}

void TestVault::tightensAnExistingFolder()
{
    const QString folder = CredentialVault::folder();
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
    QVERIFY(CredentialVault::write("mnemonic", "m"));
    QCOMPARE(modeOf(folder), 0700);
}

void TestVault::namesCannotEscape()
{
    const QString folder = CredentialVault::folder();
    const QString parent = QFileInfo(folder).absolutePath();
    const QStringList names = {"../escape", "..", ".", "a/b", "/etc/passwd", "a\\b", "x\ny", "%2F", "a%2Fb"};
    for (const QString &name : names)
        QVERIFY2(CredentialVault::write(name, name.toUtf8()), qPrintable(name));
    // Every entry reads back as itself: no two names share a file.
    for (const QString &name : names)
        QCOMPARE(CredentialVault::read(name), name.toUtf8());
    QVERIFY(!QFileInfo::exists(parent + "/escape"));
    QVERIFY(!QFileInfo::exists(parent + "/com.quillet.pelorin.")); // nothing next to the folder
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    QCOMPARE(entries.size(), names.size());
    for (const QFileInfo &fi : entries) {
        QVERIFY(fi.isFile());
        QCOMPARE(fi.absolutePath(), QFileInfo(folder).absoluteFilePath());
        QVERIFY2(fi.fileName().startsWith("com.quillet.pelorin."), qPrintable(fi.fileName()));
    }
    for (const QString &name : names)
        QVERIFY(CredentialVault::remove(name));
}

void TestVault::badNamesAndSizes()
{
    QVERIFY(!CredentialVault::write(QString(), "x"));
    QVERIFY(CredentialVault::read(QString()).isEmpty());
    QVERIFY(!CredentialVault::remove(QString()));
    QVERIFY(!CredentialVault::write(QString(1000, 'n'), "x"));
    QVERIFY(CredentialVault::read(QString(1000, 'n')).isEmpty());
    // The longest plain name fits; a name whose file name would pass 255 bytes
    // (every character written as %XX) is refused before the file system sees it.
    const QString longest(160, 'n');
    QVERIFY(CredentialVault::write(longest, "x"));
    QCOMPARE(CredentialVault::read(longest), QByteArray("x"));
    QVERIFY(CredentialVault::remove(longest));
    const QString wide(90, QChar(0x00e9)); // 90 x "%C3%A9"
    QVERIFY(!CredentialVault::write(wide, "x"));
    QVERIFY(CredentialVault::read(wide).isEmpty());
    QVERIFY(!CredentialVault::remove(wide));
    QVERIFY(CredentialVault::write(QString(30, QChar(0x00e9)), "y")); // 20 + 180 bytes
    QCOMPARE(CredentialVault::read(QString(30, QChar(0x00e9))), QByteArray("y"));
    QVERIFY(CredentialVault::remove(QString(30, QChar(0x00e9))));
    QVERIFY(!CredentialVault::write("huge", QByteArray(17 * 1024 * 1024, 'h')));
    QVERIFY(CredentialVault::read("huge").isEmpty());
    QVERIFY(!CredentialVault::remove("huge"));
}

void TestVault::noTemporaryFilesLeft()
{
    for (int i = 0; i < 20; ++i)
        QVERIFY(CredentialVault::write("private_key", QByteArray::number(i)));
    const QStringList files = QDir(CredentialVault::folder()).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(files, QStringList{"com.quillet.pelorin.private_key"});
    QCOMPARE(CredentialVault::read("private_key"), QByteArray("19"));
}

void TestVault::concurrentWriters()
{
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 25; ++i) {
                const QString own = QStringLiteral("entry_%1").arg(t);
                const QByteArray value = QByteArray::number(t * 100 + i);
                if (!CredentialVault::write(own, value) || CredentialVault::read(own) != value)
                    ++failures;
                // A shared entry: whatever a reader sees is one whole value.
                const QByteArray shared = QByteArray(512, char('a' + t));
                if (!CredentialVault::write("shared", shared))
                    ++failures;
                const QByteArray seen = CredentialVault::read("shared");
                if (seen.size() != 512 || seen.count(seen[0]) != 512)
                    ++failures;
            }
        });
    }
    for (std::thread &th : threads)
        th.join();
    QCOMPARE(failures.load(), 0);
}

void TestVault::survivesANewProcess()
{
    const QByteArray secret = QByteArray::fromHex("00ff10ee7f80");
    QVERIFY(CredentialVault::write("private_key", secret));
    QCOMPARE(runChildProcess({"read", "private_key"}), QString::fromLatin1(secret.toHex()));

    int code = -1;
    runChildProcess({"write", "mnemonic", QString::fromLatin1(QByteArray("from the child").toHex())}, &code);
    QCOMPARE(code, 0);
    QCOMPARE(CredentialVault::read("mnemonic"), QByteArray("from the child"));
    QCOMPARE(modeOf(CredentialVault::folder() + "/com.quillet.pelorin.mnemonic"), 0600);

    QCOMPARE(runChildProcess({"remove", "private_key"}), QString("1"));
    QVERIFY(CredentialVault::read("private_key").isEmpty());
    QCOMPARE(runChildProcess({"remove", "private_key"}), QString("0"));
    QCOMPARE(runChildProcess({"read", "private_key"}), QString());
}

// Two other processes replace one entry over and over; every read here
// gets one of their whole values, never nothing.
void TestVault::readersInOneProcessSeeWholeWritesOfOthers()
{
    QVERIFY(CredentialVault::write("shared", QByteArray(512, 'a')));
    QList<QProcess *> writers;
    for (const char *value : {"a", "b"}) {
        auto *child = new QProcess(this);
        child->start(QCoreApplication::applicationFilePath(),
                     {"vault-child", "write-loop", "shared", QString::fromLatin1(value), "400"});
        writers.append(child);
    }
    int reads = 0;
    int torn = 0;
    const auto running = [&] {
        return std::any_of(writers.cbegin(), writers.cend(),
                           [](QProcess *p) { return p->state() != QProcess::NotRunning; });
    };
    while ((running() || reads < 50) && reads < 20000) {
        const QByteArray seen = CredentialVault::read("shared");
        ++reads;
        if (seen != QByteArray(512, 'a') && seen != QByteArray(512, 'b'))
            ++torn;
        if (reads % 20 == 0)
            QCoreApplication::processEvents();
    }
    for (QProcess *child : writers) {
        // Finished already when the loop saw it end.
        QVERIFY(child->state() == QProcess::NotRunning || child->waitForFinished(30000));
        QCOMPARE(child->exitCode(), 0);
    }
    QCOMPARE(torn, 0);
}

namespace {

const QString kEntry = QStringLiteral("private_key");

QString entryFile()
{
    return CredentialVault::folder() + QStringLiteral("/com.quillet.pelorin.private_key");
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

QByteArray contentOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool plantFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

} // namespace

// Something other than this build's own write at the entry's name: none of
// it is read, a link's target is never read or written, and a write puts a
// plain entry in its place wherever a file may be replaced.
void TestVault::plantedEntriesAreRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("writable");
    QTest::newRow("link to a file elsewhere") << "link" << true;
    QTest::newRow("link to an endless device") << "link-zero" << true;
    QTest::newRow("fifo") << "fifo" << true;
    QTest::newRow("device node") << "device" << true;
    QTest::newRow("second hard link") << "hardlink" << true;
    QTest::newRow("folder") << "folder" << false;
    QTest::newRow("entry cut short") << "truncated" << true;
    QTest::newRow("entry altered") << "altered" << true;
    QTest::newRow("larger than any entry") << "oversized" << true;
    QTest::newRow("cut inside the digest") << "header-cut-20" << true;
    QTest::newRow("cut inside the tag") << "header-cut-5" << true;
    QTest::newRow("only the tag") << "header-cut-8" << true;
    QTest::newRow("cut to nothing") << "header-cut-0" << true;
}

void TestVault::plantedEntriesAreRefused()
{
    QFETCH(QString, kind);
    QFETCH(bool, writable);
    QVERIFY(CredentialVault::write("other", "untouched"));
    const QString outside = QFileInfo(CredentialVault::folder()).absolutePath() + "/outside-secret";
    QVERIFY(plantFile(outside, "the target's own content"));
    const QByteArray path = encoded(entryFile());

    if (kind == "link") {
        QVERIFY(::symlink(encoded(outside).constData(), path.constData()) == 0);
    } else if (kind == "link-zero") {
        QVERIFY(::symlink("/dev/zero", path.constData()) == 0);
    } else if (kind == "fifo") {
        QVERIFY(::mkfifo(path.constData(), 0600) == 0);
    } else if (kind == "device") {
        if (::mknod(path.constData(), S_IFCHR | 0600, makedev(1, 5)) != 0)
            QSKIP("device nodes cannot be made here");
    } else if (kind == "hardlink") {
        QVERIFY(::link(encoded(outside).constData(), path.constData()) == 0);
    } else if (kind == "folder") {
        QVERIFY(QDir().mkpath(entryFile()));
    } else if (kind == "truncated" || kind == "altered") {
        QVERIFY(CredentialVault::write(kEntry, "a secret of some length"));
        QByteArray stored = contentOf(entryFile());
        if (kind == "truncated")
            stored.chop(5);
        else
            stored[stored.size() - 1] = 'X';
        QVERIFY(plantFile(entryFile(), stored));
    } else if (kind == "oversized") {
        QVERIFY(plantFile(entryFile(), QByteArray(17 * 1024 * 1024, 's')));
    } else if (kind.startsWith("header-cut-")) {
        QVERIFY(CredentialVault::write(kEntry, "a secret of some length"));
        QVERIFY(plantFile(entryFile(), contentOf(entryFile()).left(kind.mid(11).toInt())));
    }
    const QByteArray planted = QFileInfo(entryFile()).isFile() ? contentOf(entryFile()) : QByteArray();

    QVERIFY(CredentialVault::read(kEntry).isEmpty());
    // A refused entry is left as it was found, never given a digest of its own.
    if (QFileInfo(entryFile()).isFile() && planted.size() < 1024)
        QCOMPARE(contentOf(entryFile()), planted);
    QCOMPARE(CredentialVault::write(kEntry, "new secret"), writable);
    if (writable) {
        QCOMPARE(CredentialVault::read(kEntry), QByteArray("new secret"));
        QVERIFY(QFileInfo(entryFile()).isFile() && !QFileInfo(entryFile()).isSymLink());
        QCOMPARE(modeOf(entryFile()), 0600);
    }
    QCOMPARE(contentOf(outside), QByteArray("the target's own content"));
    QCOMPARE(CredentialVault::read("other"), QByteArray("untouched"));
    QFile::remove(outside);
}

void TestVault::folderThatIsNotOursIsRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("owned by another user") << "owner";
    QTest::newRow("a link to another folder") << "link";
}

void TestVault::folderThatIsNotOursIsRefused()
{
    QFETCH(QString, kind);
    QVERIFY(CredentialVault::write(kEntry, "mine"));
    const QString folder = CredentialVault::folder();
    const QString elsewhere = folder + "-elsewhere";
    QDir(elsewhere).removeRecursively();
    if (kind == "owner") {
        if (::geteuid() != 0)
            QSKIP("only root can give a folder to another user");
        QVERIFY(::chown(encoded(folder).constData(), 65534, 65534) == 0);
    } else {
        QVERIFY(QDir().rename(folder, elsewhere));
        QVERIFY(::symlink(encoded(elsewhere).constData(), encoded(folder).constData()) == 0);
    }
    QVERIFY(CredentialVault::read(kEntry).isEmpty());
    QVERIFY(!CredentialVault::write(kEntry, "planted"));
    QVERIFY(!CredentialVault::remove(kEntry));
    if (kind == "owner") {
        QVERIFY(::chown(encoded(folder).constData(), ::geteuid(), ::getegid()) == 0);
        QCOMPARE(CredentialVault::read(kEntry), QByteArray("mine"));
    } else {
        QCOMPARE(contentOf(elsewhere + "/com.quillet.pelorin.private_key").right(4), QByteArray("mine"));
        QVERIFY(QFile::remove(folder));
        QDir(elsewhere).removeRecursively();
    }
}

// A write killed before its rename leaves a temporary copy of the secret;
// the next use of the vault removes it unless its writer still runs.
void TestVault::abandonedTemporariesAreRemoved()
{
    QVERIFY(CredentialVault::write("mnemonic", "m"));
    QProcess ended;
    ended.start(QStringLiteral("true"));
    QVERIFY(ended.waitForFinished(10000));
    const qint64 deadPid = ended.processId() > 0 ? ended.processId() : 999999999;
    const QString dir = CredentialVault::folder() + "/";
    const QString ofEndedWriter = QStringLiteral("com.quillet.pelorin.private_key.tmp-%1-1").arg(deadPid);
    const QString ofLiveWriter = QStringLiteral("com.quillet.pelorin.private_key.tmp-%1-1").arg(::getppid());
    const QString ofEarlierBuild = QStringLiteral("com.quillet.pelorin.private_key.aB3dE9");
    for (const QString &name : {ofEndedWriter, ofLiveWriter, ofEarlierBuild})
        QVERIFY(plantFile(dir + name, "secret copy"));
    QFile old(dir + ofEarlierBuild);
    QVERIFY(old.open(QIODevice::ReadWrite));
    QVERIFY(old.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    old.close();

    QVERIFY(CredentialVault::read("mnemonic") == "m");
    const QStringList left = QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    QCOMPARE(left, (QStringList{"com.quillet.pelorin.mnemonic", ofLiveWriter}));
}

void TestVault::earlierEntriesAreReadAndGetADigest()
{
    QVERIFY(CredentialVault::write("mnemonic", "m")); // makes the folder
    QVERIFY(plantFile(entryFile(), "0x1234 written by an earlier build"));
    QVERIFY(QFile::setPermissions(entryFile(), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QCOMPARE(CredentialVault::read(kEntry), QByteArray("0x1234 written by an earlier build"));
    const QByteArray stored = contentOf(entryFile());
    QVERIFY(stored.endsWith("0x1234 written by an earlier build"));
    QVERIFY(stored.size() > 34);
    // From now on it is checked like any other entry.
    QVERIFY(plantFile(entryFile(), stored.chopped(3)));
    QVERIFY(CredentialVault::read(kEntry).isEmpty());
}

// A damaged entry reads as damaged, never as a value, and a write or remove
// of its name keeps its bytes beside it.
void TestVault::damagedEntriesAreToldAndKept_data()
{
    QTest::addColumn<int>("offset"); // of the damaged byte; -1: the file cut by 5 bytes
    QTest::addColumn<bool>("byRemove");
    // 80 bytes: the tag (8), the digest (32) and a 40-byte value.
    QTest::newRow("first tag byte") << 0 << false;
    QTest::newRow("a digest byte") << 20 << false;
    QTest::newRow("a value byte") << 60 << true;
    QTest::newRow("cut short") << -1 << false;
}

void TestVault::damagedEntriesAreToldAndKept()
{
    QFETCH(int, offset);
    QFETCH(bool, byRemove);
    const QByteArray value("0123456789abcdef0123456789abcdef01234567");
    QVERIFY(CredentialVault::write(kEntry, value));
    QByteArray damaged = contentOf(entryFile());
    QCOMPARE(damaged.size(), 80);
    if (offset < 0)
        damaged.chop(5);
    else
        damaged[offset] = char(damaged[offset] ^ 0x20);
    QVERIFY(plantFile(entryFile(), damaged));

    CredentialVault::EntryState state = CredentialVault::EntryState::Readable;
    QCOMPARE(CredentialVault::read(kEntry, &state), QByteArray());
    QCOMPARE(state, CredentialVault::EntryState::Damaged);
    QCOMPARE(contentOf(entryFile()), damaged); // read, never re-tagged
    CredentialVault::read(QStringLiteral("absent"), &state);
    QCOMPARE(state, CredentialVault::EntryState::Absent);

    if (byRemove)
        QVERIFY(CredentialVault::remove(kEntry));
    else
        QVERIFY(CredentialVault::write(kEntry, "a new value"));
    QCOMPARE(CredentialVault::read(kEntry, &state), byRemove ? QByteArray() : QByteArray("a new value"));
    QCOMPARE(state, byRemove ? CredentialVault::EntryState::Absent : CredentialVault::EntryState::Readable);
    const QStringList kept = QDir(CredentialVault::folder())
                                 .entryList({QStringLiteral("com.quillet.pelorin.private_key.damaged-*")}, QDir::Files);
    QCOMPARE(kept.size(), 1);
    QCOMPARE(contentOf(CredentialVault::folder() + "/" + kept.first()), damaged);
    // Later uses of the vault leave the kept file alone.
    QVERIFY(CredentialVault::write(QStringLiteral("mnemonic"), "m"));
    QVERIFY(QFileInfo::exists(CredentialVault::folder() + "/" + kept.first()));
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    setUpApplication();
    const QStringList args = app.arguments().mid(1);
    if (!args.isEmpty() && args.first() == "vault-child")
        return runChild(args);
    TestVault test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_vault.moc"
