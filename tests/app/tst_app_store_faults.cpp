// Signing in when the disk lets the program down: a saved identity signs in
// without writing the vault again, a store held by another program at start
// keeps the identity and signs in once it is free, a damaged store is kept
// aside while the sign-in goes on, and a damaged vault entry costs neither
// the identity nor the entry.
#include "app_test_support.h"

#include "app/saved_identity.h"
#include "store/failing_vfs.h"
#include "support/fake_relay.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <sys/stat.h>

#include <atomic>
#include <latch>
#include <thread>

using apptest::Profile;
using velmor::identity::Identity;
using velmor::fakes::FakeRelay;

namespace {

// The write lock of `path`, taken on a thread of its own as another program
// would, until released.
class LockHolder
{
public:
    explicit LockHolder(const QString &path)
    {
        m_thread = std::thread([this, path] {
            const QString name = QStringLiteral("lock_holder");
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
                db.setDatabaseName(path);
                m_held = db.open() && QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE"));
                m_ready.count_down();
                while (!m_release.load())
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                QSqlQuery(db).exec(QStringLiteral("COMMIT"));
                db.close();
            }
            QSqlDatabase::removeDatabase(name);
        });
        m_ready.wait();
    }
    ~LockHolder() { release(); }
    bool held() const { return m_held; }
    void release()
    {
        m_release.store(true);
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::thread m_thread;
    std::latch m_ready{1};
    std::atomic<bool> m_release{false};
    bool m_held = false;
};

struct FileId
{
    ino_t inode = 0;
    qint64 size = -1;
    bool operator==(const FileId &) const = default;
};

FileId fileId(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {st.st_ino, qint64(st.st_size)};
}

} // namespace

class AppStoreFaultsTest : public QObject
{
    Q_OBJECT

    FakeRelay m_relay{FakeRelay::Options{true}};
    std::unique_ptr<Profile> m_profile;
    QString m_publicKey;
    QString m_phrase;

    QString storePath() const { return m_profile->dataFolder() + QStringLiteral("/chat.db"); }
    static QString vaultFile(const QString &entry) { return CredentialVault::folder() + "/com.quillet.pelorin." + entry; }
    static QByteArray contentOf(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    // Flips one byte of the vault entry's file; its damaged content.
    static QByteArray damage(const QString &entry, int offset)
    {
        QByteArray bytes = contentOf(vaultFile(entry));
        bytes[offset] = char(bytes.at(offset) ^ 0x20);
        QFile file(vaultFile(entry));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? bytes : QByteArray();
    }
    // The damaged files kept aside for the entry, by content.
    static QList<QByteArray> keptAside(const QString &entry)
    {
        QList<QByteArray> kept;
        const QDir folder(CredentialVault::folder());
        for (const QString &name : folder.entryList({"com.quillet.pelorin." + entry + ".damaged-*"}, QDir::Files))
            kept.append(contentOf(folder.filePath(name)));
        return kept;
    }

private slots:
    void initTestCase()
    {
        apptest::useApplicationNames();
        QVERIFY(m_relay.start() > 0);
        qputenv("PELORIN_NODE_DIRECTORY_URL", m_relay.baseUrl().toUtf8());
    }
    // Each case starts as the next start of the program after one sign-in.
    void init()
    {
        m_profile = std::make_unique<Profile>();
        QVERIFY(m_profile->isValid());
        AppController first;
        first.generateAndLogin();
        QVERIFY(apptest::waitForLogin(first));
        QVERIFY(first.loggedIn());
        m_publicKey = first.myPublicKey();
        m_phrase = first.revealMnemonic();
        QCOMPARE(m_phrase.split(' ').size(), 12);
        QVERIFY(ChatStore::instance().upsertContact(velmor::chat::ContactRecord{m_publicKey, {}, "me", {}, {}, 0, 1}));
        apptest::resetProcessSession();
    }
    void cleanup()
    {
        apptest::resetProcessSession();
        m_profile.reset();
    }

    // A full disk must not stop a sign-in whose key is saved already.
    void signInFromTheVaultWritesNothing()
    {
        const QString folder = CredentialVault::folder();
        const QStringList entries{QStringLiteral("/com.quillet.pelorin.private_key"),
                                  QStringLiteral("/com.quillet.pelorin.mnemonic")};
        QList<FileId> before;
        for (const QString &entry : entries)
            before.append(fileId(folder + entry));
        AppController next;
        next.autoLogin();
        QVERIFY(apptest::waitForLogin(next));
        QVERIFY(next.loggedIn());
        QCOMPARE(next.myPublicKey(), m_publicKey);
        for (qsizetype i = 0; i < entries.size(); ++i)
            QVERIFY2(fileId(folder + entries[i]) == before[i], qPrintable(entries[i] + " was written again"));
    }

    void storeHeldAtStartKeepsTheIdentity()
    {
        AppController next;
        {
            LockHolder other(storePath());
            QVERIFY(other.held());
            next.autoLogin();
            QTRY_COMPARE_WITH_TIMEOUT(next.storeProblem(), QStringLiteral("busy"), 20000);
            // Not signed out, no error, no login form to fall back to: the
            // window waits for the store with the identity it has.
            QVERIFY(next.busy());
            QVERIFY(!next.loggedIn());
            QCOMPARE(next.errorText(), QString());
            // The problem is named once, by the notice in the interface's
            // language: the status line under the spinner does not repeat it.
            QCOMPARE(next.statusText(), QString());
            QVERIFY(next.hasSavedIdentity());
            next.retryStore(); // a retry while one runs starts no second one
        }
        QTRY_VERIFY_WITH_TIMEOUT(next.loggedIn(), 20000);
        QCOMPARE(next.myPublicKey(), m_publicKey);
        QCOMPARE(next.storeProblem(), QString());
        QVERIFY(!next.busy());
        QCOMPARE(ChatStore::instance().contact(m_publicKey)->remark, QStringLiteral("me"));
    }

    // A full disk at start signs in with the notice, gone once room is back.
    void fullDiskAtStartSignsInWithTheNotice()
    {
        storetest::FailingWrites::install();
        storetest::FailingWrites::setFull(true);
        const auto room = qScopeGuard([] { storetest::FailingWrites::setFull(false); });
        AppController next;
        next.autoLogin();
        QVERIFY(apptest::waitForLogin(next));
        QVERIFY(next.loggedIn());
        QCOMPARE(next.storeProblem(), QStringLiteral("diskFull"));
        QCOMPARE(ChatStore::instance().contact(m_publicKey)->remark, QStringLiteral("me"));
        storetest::FailingWrites::setFull(false);
        QTRY_COMPARE_WITH_TIMEOUT(next.storeProblem(), QString(), 10000);
        QVERIFY(ChatStore::instance().upsertContact(velmor::chat::ContactRecord{m_publicKey, {}, "after", {}, {}, 0, 2}));
    }

    void damagedStoreAtStartIsKeptAside()
    {
        {
            QFile file(storePath());
            QVERIFY(file.open(QIODevice::ReadWrite));
            QCOMPARE(file.write(QByteArray(100, 'x')), 100);
        }
        AppController next;
        QSignalSpy changes(&next, &AppController::storeChanged);
        next.autoLogin();
        QVERIFY(apptest::waitForLogin(next));
        QVERIFY(next.loggedIn());
        QCOMPARE(next.myPublicKey(), m_publicKey);
        const QString aside = next.storeSetAside();
        QVERIFY(aside.startsWith(storePath() + QStringLiteral(".damaged-")));
        QVERIFY(QFileInfo(aside).size() > 100);
        QVERIFY(changes.count() > 0);
        // Its header was overwritten: its rows are read from its pages.
        QCOMPARE(ChatStore::instance().contact(m_publicKey)->remark, QStringLiteral("me"));
        next.dismissStoreNotice();
        QCOMPARE(next.storeSetAside(), QString());
        QVERIFY(QFileInfo::exists(aside)); // dismissed, never deleted
    }

    // A damaged vault entry is kept, never shown; the intact one signs in,
    // or with none the user is told before a new identity is made.
    void damagedVaultEntryAtStart_data()
    {
        QTest::addColumn<int>("keyByte");    // flipped byte of "private_key", -1 none
        QTest::addColumn<int>("phraseByte"); // flipped byte of "mnemonic", -1 none
        // Written in the older plain format at the key's name: "" none, "key"
        // another identity's key, else the text itself.
        QTest::addColumn<QByteArray>("planted");
        QTest::newRow("key tag byte, phrase intact") << 0 << -1 << QByteArray();
        QTest::newRow("phrase tag byte, key intact") << -1 << 0 << QByteArray();
        QTest::newRow("both damaged") << 0 << 60 << QByteArray();
        QTest::newRow("planted plain key beside the phrase") << -1 << -1 << QByteArray("key");
        QTest::newRow("planted text that is no key beside the phrase") << -1 << -1 << QByteArray("not a key");
    }
    void damagedVaultEntryAtStart()
    {
        QFETCH(int, keyByte);
        QFETCH(int, phraseByte);
        QFETCH(QByteArray, planted);
        if (!planted.isEmpty()) {
            // The phrase is the user's root: it signs in, and the planted key
            // is neither used, nor deleted, nor written over.
            if (planted == "key")
                planted = Identity::generate().privateKeyText().toUtf8();
            QFile file(vaultFile(QStringLiteral("private_key")));
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(planted) == planted.size());
            file.close();
            AppController next;
            next.autoLogin();
            QVERIFY(apptest::waitForLogin(next));
            QVERIFY(next.loggedIn());
            QCOMPARE(next.myPublicKey(), m_publicKey);
            QCOMPARE(next.revealMnemonic(), m_phrase);
            QCOMPARE(QString::fromUtf8(CredentialVault::read(QStringLiteral("mnemonic"))), m_phrase);
            QCOMPARE(Identity::fromPrivateKeyText(velmor::app::SavedIdentity::privateKeyText()).publicKeyText(),
                     m_publicKey);
            const QString kept = next.identityKeptAside();
            QVERIFY2(kept.startsWith(vaultFile(QStringLiteral("private_key.kept-"))), qPrintable(kept));
            QVERIFY(contentOf(kept).endsWith(planted));
            QVERIFY(!next.identityKeptAsideDamaged());
            next.dismissStoreNotice();
            QCOMPARE(next.identityKeptAside(), QString());
            QVERIFY(QFileInfo::exists(kept)); // dismissed, never deleted
            return;
        }
        const QByteArray key = keyByte >= 0 ? damage(QStringLiteral("private_key"), keyByte) : QByteArray();
        const QByteArray phrase = phraseByte >= 0 ? damage(QStringLiteral("mnemonic"), phraseByte) : QByteArray();
        QCOMPARE(key.isEmpty(), keyByte < 0);
        QCOMPARE(phrase.isEmpty(), phraseByte < 0);

        AppController next;
        QVERIFY(next.hasSavedIdentity());
        next.autoLogin();
        QVERIFY(apptest::waitForLogin(next));
        if (keyByte >= 0 && phraseByte >= 0) {
            QVERIFY(!next.loggedIn());
            const QString notice = next.identityNotice();
            QVERIFY2(notice.contains(QStringLiteral("私钥")) && notice.contains(QStringLiteral("助记词"))
                         && notice.contains(CredentialVault::folder()),
                     qPrintable(notice));
            QVERIFY(next.hasSavedIdentity());
            QCOMPARE(contentOf(vaultFile(QStringLiteral("private_key"))), key);
            QCOMPARE(contentOf(vaultFile(QStringLiteral("mnemonic"))), phrase);
            // Once read, a new identity takes the names; the damaged files
            // stay beside.
            next.dismissIdentityNotice();
            next.generateAndLogin();
            QVERIFY(apptest::waitForLogin(next));
            QVERIFY(next.loggedIn());
            QVERIFY(next.myPublicKey() != m_publicKey);
            QCOMPARE(keptAside(QStringLiteral("private_key")), QList<QByteArray>{key});
            QCOMPARE(keptAside(QStringLiteral("mnemonic")), QList<QByteArray>{phrase});
            return;
        }
        QVERIFY(next.loggedIn());
        QCOMPARE(next.myPublicKey(), m_publicKey);
        if (keyByte >= 0) {
            // Signed in from the phrase, which stays revealable; the key is
            // saved anew and the damaged one kept.
            QCOMPARE(next.revealMnemonic(), m_phrase);
            QCOMPARE(keptAside(QStringLiteral("private_key")), QList<QByteArray>{key});
            // Named in the notice bar, as a planted key is.
            QVERIFY2(next.identityKeptAside().startsWith(vaultFile(QStringLiteral("private_key.damaged-"))),
                     qPrintable(next.identityKeptAside()));
            QCOMPARE(contentOf(next.identityKeptAside()), key);
            QVERIFY(next.identityKeptAsideDamaged());
            QCOMPARE(Identity::fromPrivateKeyText(velmor::app::SavedIdentity::privateKeyText()).publicKeyText(),
                     m_publicKey);
        } else {
            // Nothing that is not the phrase is ever shown as one.
            QCOMPARE(next.revealMnemonic(), QString());
            QCOMPARE(next.identityKeptAside(), QString());
            QCOMPARE(contentOf(vaultFile(QStringLiteral("mnemonic"))), phrase);
        }
    }

    // A store that is a link is refused and named until the user retries.
    void storeThatIsALinkIsRefusedAndNamed()
    {
        const QString own = storePath() + QStringLiteral(".own");
        const QString elsewhere = m_profile->dataFolder() + QStringLiteral("-elsewhere.db");
        QVERIFY(QFile::rename(storePath(), own) && QFile::copy(own, elsewhere) && QFile::link(elsewhere, storePath()));
        const FileId before = fileId(elsewhere);
        AppController next;
        next.autoLogin();
        QTRY_COMPARE_WITH_TIMEOUT(next.storeProblem(), QStringLiteral("foreign"), 20000);
        QCOMPARE(next.storeForeign(), storePath());
        QCOMPARE(next.statusText(), QString());
        QVERIFY(!next.loggedIn() && next.hasSavedIdentity());
        QVERIFY(fileId(elsewhere) == before);

        QVERIFY(QFile::remove(storePath()) && QFile::rename(own, storePath()));
        next.retryStore();
        QTRY_VERIFY_WITH_TIMEOUT(next.loggedIn(), 20000);
        QCOMPARE(next.storeProblem(), QString());
        QCOMPARE(next.storeForeign(), QString());
        QCOMPARE(ChatStore::instance().contact(m_publicKey)->remark, QStringLiteral("me"));
    }
};

QTEST_MAIN(AppStoreFaultsTest)
#include "tst_app_store_faults.moc"
