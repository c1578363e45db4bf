// The session object against the local relay and node list: new, imported
// and restored identities, refusals of bad input and unreachable services,
// the store and vault failures that must stop a sign-in, and log-out.
#include "app_test_support.h"

#include "app/service_endpoints.h"
#include "identity/identity.h"
#include "net/node_discovery.h"
#include "support/fake_relay.h"

#include <QApplication>

#include <atomic>

using apptest::Profile;
using velmor::fakes::FakeRelay;
using velmor::fakes::Fault;
using velmor::fakes::FaultKind;
using velmor::identity::Identity;

namespace {

const QString kAbandonPhrase = QStringLiteral(
    "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about");
// The first Ethereum account of that phrase (m/44'/60'/0'/0/0).
const QString kAbandonAddress = QStringLiteral("0x9858effd232b4033e47d90003d41ec34ecaeda94");

QByteArray vaultEntry(const char *name)
{
    return CredentialVault::read(QString::fromLatin1(name));
}

} // namespace

class AppLoginTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void generatedIdentitySignsInAndIsSaved();
    void importedKeySignsIn_data();
    void importedKeySignsIn();
    void importedPhraseIsNormalised();
    void badInputStartsNothing_data();
    void badInputStartsNothing();
    void unreachableNodeFailsAndTouchesNothing();
    void refusedRelayLoginReportsItsWord_data();
    void refusedRelayLoginReportsItsWord();
    void loginWhileBusyDoesNothing();
    void savedIdentityIsRestoredAtStart_data();
    void savedIdentityIsRestoredAtStart();
    void unreadableSavedKeyIsKeptAndTold_data();
    void unreadableSavedKeyIsKeptAndTold();
    void storageThatFailsFailsTheLogin_data();
    void storageThatFailsFailsTheLogin();
    void halfSavedSecretsAreRolledBack();
    void logoutForgetsSecretsKeepsAvatar();
    void loginFinishingAfterLogoutIsDropped();
    void endpointOverrides_data();
    void endpointOverrides();

private:
    FakeRelay m_relay{FakeRelay::Options{true}};
    std::unique_ptr<Profile> m_profile;
};

void AppLoginTest::initTestCase()
{
    apptest::useApplicationNames();
    QVERIFY(m_relay.start() > 0);
    qputenv("PELORIN_NODE_DIRECTORY_URL", m_relay.baseUrl().toUtf8());
}

void AppLoginTest::init()
{
    m_profile = std::make_unique<Profile>();
    QVERIFY(m_profile->isValid());
    m_relay.clearFaults();
}

void AppLoginTest::cleanup()
{
    apptest::resetProcessSession();
    m_profile.reset();
}

void AppLoginTest::generatedIdentitySignsInAndIsSaved()
{
    AppController app;
    QStringList order;
    for (auto [signal, name] : {std::pair{&AppController::avatarChanged, "avatar"},
                                std::pair{&AppController::identityChanged, "identity"},
                                std::pair{&AppController::loggedInChanged, "loggedIn"}})
        connect(&app, signal, this, [&order, name = QString::fromLatin1(name)] { order << name; });
    QCOMPARE(app.revealPrivateKeyString(), QString());

    app.generateAndLogin();
    QVERIFY(app.busy());
    QCOMPARE(app.statusText(), QStringLiteral("正在连接节点…"));
    QVERIFY(apptest::waitForLogin(app));

    QVERIFY2(app.loggedIn(), qPrintable(app.errorText()));
    QCOMPARE(order, (QStringList{"avatar", "identity", "loggedIn"}));
    QCOMPARE(app.statusText(), QStringLiteral("已登录 · 节点 ") + m_relay.baseUrl());
    QCOMPARE(app.myAvatar(), QStringLiteral("defaultheadphoto"));
    QCOMPARE(app.revealPrivateKeyString().size(), 66);

    // The twelve words shown to the user derive the key that signed in.
    const QString phrase = app.revealMnemonic();
    QCOMPARE(phrase.split(QLatin1Char(' ')).size(), 12);
    const Identity fromPhrase(velmor::identity::privateKeyFromMnemonic(phrase));
    QCOMPARE(fromPhrase.publicKeyText(), app.myPublicKey());
    QCOMPARE(app.myErc20(), fromPhrase.erc20Address());
    QCOMPARE(app.myTron(), fromPhrase.tronAddress());

    QCOMPARE(QString::fromUtf8(vaultEntry("private_key")), fromPhrase.privateKeyText());
    QCOMPARE(QString::fromUtf8(vaultEntry("mnemonic")), phrase);
    QVERIFY(app.hasSavedIdentity());
    QVERIFY(ChatStore::instance().isOpen());
    QCOMPARE(ChatStore::instance().ownerKey(), app.myPublicKey());
    QCOMPARE(velmor::net::RelayAuthSession::instance().identity().publicKey, fromPhrase.publicKey);
}

void AppLoginTest::importedKeySignsIn_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("publicKey");
    const Identity id = Identity::generate();
    const QString hex = QString::fromLatin1(id.privateKey.toHex());
    QTest::newRow("key text with spaces") << QStringLiteral("  %1 \n").arg(id.privateKeyText()) << id.publicKeyText();
    QTest::newRow("0x hex") << QStringLiteral("0x") + hex << id.publicKeyText();
    QTest::newRow("bare upper-case hex") << hex.toUpper() << id.publicKeyText();
}

void AppLoginTest::importedKeySignsIn()
{
    QFETCH(QString, text);
    QFETCH(QString, publicKey);
    // A phrase left from an earlier identity must not stay beside the new key.
    QVERIFY(CredentialVault::write(QStringLiteral("mnemonic"), kAbandonPhrase.toUtf8()));
    AppController app;
    QStringList statuses;
    connect(&app, &AppController::statusTextChanged, this, [&] { statuses << app.statusText(); });

    app.importAndLogin(text);
    QVERIFY(apptest::waitForLogin(app));
    QVERIFY2(app.loggedIn(), qPrintable(app.errorText()));
    QCOMPARE(app.myPublicKey(), publicKey);
    QCOMPARE(statuses, (QStringList{QStringLiteral("正在登录…"), QStringLiteral("正在连接节点…"),
                                    QStringLiteral("已登录 · 节点 ") + m_relay.baseUrl()}));
    QCOMPARE(app.revealMnemonic(), QString());
    QVERIFY(vaultEntry("mnemonic").isEmpty());
    QVERIFY(!vaultEntry("private_key").isEmpty());
}

void AppLoginTest::importedPhraseIsNormalised()
{
    AppController app;
    QString messy = kAbandonPhrase.toUpper();
    messy.replace(QStringLiteral(" ABOUT"), QStringLiteral("\n\t ABOUT  "));
    messy.replace(QStringLiteral("ABANDON ABANDON"), QStringLiteral("ABANDON    ABANDON"));
    app.importMnemonicAndLogin(QStringLiteral("  ") + messy);
    QVERIFY(apptest::waitForLogin(app));
    QVERIFY2(app.loggedIn(), qPrintable(app.errorText()));
    QCOMPARE(app.myErc20(), kAbandonAddress);
    QCOMPARE(app.revealMnemonic(), kAbandonPhrase);
    QCOMPARE(QString::fromUtf8(vaultEntry("mnemonic")), kAbandonPhrase);
}

void AppLoginTest::badInputStartsNothing_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("error");
    const QString badKey = QStringLiteral("私钥格式不正确");
    const QString badPhrase = QStringLiteral("助记词无效（词或校验位不对）");
    QTest::newRow("empty key") << "key" << QString() << badKey;
    QTest::newRow("63 hex digits") << "key" << QString(63, QLatin1Char('a')) << badKey;
    QTest::newRow("zero key") << "key" << QString(64, QLatin1Char('0')) << badKey;
    QTest::newRow("key with a flipped checksum")
        << "key" << Identity::generate().privateKeyText().chopped(1) + QLatin1Char('!') << badKey;
    QTest::newRow("eleven words") << "phrase" << kAbandonPhrase.section(QLatin1Char(' '), 1) << badPhrase;
    QTest::newRow("bad checksum") << "phrase" << QString(kAbandonPhrase).replace("about", "abandon") << badPhrase;
    QTest::newRow("word not in the list") << "phrase" << QString(kAbandonPhrase).replace("about", "abouts") << badPhrase;
    QTest::newRow("empty phrase") << "phrase" << QString() << badPhrase;
}

void AppLoginTest::badInputStartsNothing()
{
    QFETCH(QString, method);
    QFETCH(QString, input);
    QFETCH(QString, error);
    const Identity saved = Identity::generate();
    QVERIFY(CredentialVault::write(QStringLiteral("private_key"), saved.privateKeyText().toUtf8()));
    const int logins = m_relay.loginCount();
    AppController app;
    QSignalSpy errors(&app, &AppController::errorTextChanged);

    if (method == QLatin1String("key"))
        app.importAndLogin(input);
    else
        app.importMnemonicAndLogin(input);

    QVERIFY(!app.busy());
    QCOMPARE(app.errorText(), error);
    QCOMPARE(errors.count(), 2); // cleared, then the reason
    QVERIFY(!app.loggedIn());
    QCOMPARE(app.statusText(), QString());
    QCOMPARE(m_relay.loginCount(), logins);
    QCOMPARE(QString::fromUtf8(vaultEntry("private_key")), saved.privateKeyText());
}

void AppLoginTest::unreachableNodeFailsAndTouchesNothing()
{
    AppController app;
    // A loopback port with nothing behind it: the node list cannot be had.
    app.setNodeDirectoryUrl(QStringLiteral("http://127.0.0.1:9"));
    app.generateAndLogin();
    QVERIFY(apptest::waitForLogin(app));
    QCOMPARE(app.errorText(), QStringLiteral("节点不可达"));
    QCOMPARE(app.statusText(), QString());
    QVERIFY(!app.loggedIn());
    QVERIFY(!app.hasSavedIdentity());
    QVERIFY(vaultEntry("mnemonic").isEmpty());
    QVERIFY(!ChatStore::instance().isOpen());
}

void AppLoginTest::refusedRelayLoginReportsItsWord_data()
{
    QTest::addColumn<int>("refusedAfterMs");
    QTest::newRow("at once") << 0;
    // The store opens while the relay answers: the refusal closes it again.
    QTest::newRow("once the store is open") << 600;
}

void AppLoginTest::refusedRelayLoginReportsItsWord()
{
    QFETCH(int, refusedAfterMs);
    m_relay.setFault(QStringLiteral("/v1/auth/challenge"), Fault::make(FaultKind::Http500, refusedAfterMs));
    AppController app;
    app.generateAndLogin();
    if (refusedAfterMs > 0)
        QTRY_VERIFY_WITH_TIMEOUT(ChatStore::instance().isOpen(), refusedAfterMs - 100);
    QVERIFY(apptest::waitForLogin(app));
    QVERIFY2(app.errorText().startsWith(QStringLiteral("challenge_")), qPrintable(app.errorText()));
    QVERIFY(!app.loggedIn());
    QVERIFY(!app.hasSavedIdentity());
    QVERIFY(!ChatStore::instance().isOpen());
}

void AppLoginTest::loginWhileBusyDoesNothing()
{
    m_relay.setFault(QStringLiteral("/v1/auth/challenge"), Fault::make(FaultKind::Delay, 300));
    AppController app;
    app.importAndLogin(Identity::generate().privateKeyText());
    QVERIFY(app.busy());
    QSignalSpy errors(&app, &AppController::errorTextChanged);
    QSignalSpy statuses(&app, &AppController::statusTextChanged);
    const QString status = app.statusText();

    app.generateAndLogin();
    app.importAndLogin(QStringLiteral("nonsense"));
    app.importMnemonicAndLogin(QStringLiteral("nonsense"));
    app.autoLogin();
    QCOMPARE(errors.count(), 0);
    QCOMPARE(statuses.count(), 0);
    QCOMPARE(app.statusText(), status);

    QVERIFY(apptest::waitForLogin(app));
    QVERIFY(app.loggedIn());
    QCOMPARE(m_relay.loginCount() > 0, true);
}

// The program starts the automatic sign-in's job before its window exists
// ("with the program"); the window's autoLogin takes it up.
void AppLoginTest::savedIdentityIsRestoredAtStart_data()
{
    QTest::addColumn<bool>("prepared");
    QTest::newRow("when the window asks") << false;
    QTest::newRow("started with the program") << true;
}

void AppLoginTest::savedIdentityIsRestoredAtStart()
{
    QFETCH(bool, prepared);
    QString publicKey;
    QString phrase;
    {
        AppController first;
        first.generateAndLogin();
        QVERIFY(apptest::waitForLogin(first));
        QVERIFY(first.loggedIn());
        publicKey = first.myPublicKey();
        phrase = first.revealMnemonic();
        first.setAvatar(QStringLiteral("head07"));
    }
    apptest::resetProcessSession();

    AppController next; // the next start of the program
    QSignalSpy shown(&next, &AppController::statusTextChanged);
    const int loginsBefore = m_relay.loginCount();
    std::atomic<bool> signedInOnTheWorker{false};
    if (prepared) {
        QVERIFY(next.prepareAutoLogin([&signedInOnTheWorker] { signedInOnTheWorker = ChatStore::instance().isOpen(); }));
        // The job may even be done: nothing shows before the window asks.
        QTRY_VERIFY(signedInOnTheWorker);
        QCOMPARE(m_relay.loginCount(), loginsBefore + 1);
        QVERIFY(!next.busy());
        QVERIFY(!next.loggedIn());
        QCOMPARE(shown.count(), 0);
    }
    QVERIFY(next.hasSavedIdentity());
    next.autoLogin();
    QCOMPARE(next.statusText(), QStringLiteral("正在连接节点…"));
    QVERIFY(next.busy());
    QVERIFY(apptest::waitForLogin(next));
    QCOMPARE(m_relay.loginCount(), loginsBefore + 1);
    QVERIFY(next.loggedIn());
    QCOMPARE(next.myPublicKey(), publicKey);
    QCOMPARE(next.revealMnemonic(), phrase);
    QCOMPARE(next.myAvatar(), QStringLiteral("head07"));

    // Signed in already: a second autoLogin starts nothing.
    QSignalSpy statuses(&next, &AppController::statusTextChanged);
    next.autoLogin();
    QCOMPARE(statuses.count(), 0);
}

void AppLoginTest::unreadableSavedKeyIsKeptAndTold_data()
{
    savedIdentityIsRestoredAtStart_data();
}

void AppLoginTest::unreadableSavedKeyIsKeptAndTold()
{
    QFETCH(bool, prepared);
    QVERIFY(CredentialVault::write(QStringLiteral("private_key"), "not a key"));
    AppController app;
    QVERIFY(app.hasSavedIdentity());
    QSignalSpy notices(&app, &AppController::identityNoticeChanged);
    if (prepared) {
        app.prepareAutoLogin();
        QCOMPARE(notices.count(), 0);
    }
    app.autoLogin();
    QVERIFY(!app.busy());
    QVERIFY(!app.loggedIn());
    // Kept for whoever can still mend it, and the user hears why the login
    // view is shown.
    QVERIFY(app.hasSavedIdentity());
    QCOMPARE(CredentialVault::read(QStringLiteral("private_key")), QByteArray("not a key"));
    QCOMPARE(notices.count(), 1);
    QVERIFY(app.identityNotice().contains(CredentialVault::folder()));
    QCOMPARE(app.statusText(), QString());
    // No new identity over it until the user has read it.
    app.generateAndLogin();
    QVERIFY(!app.busy());
    QVERIFY(app.identityNotice().contains(CredentialVault::folder()));
    app.dismissIdentityNotice();
    QCOMPARE(app.identityNotice(), QString());

    // Nothing saved: autoLogin does nothing at all.
    QVERIFY(CredentialVault::remove(QStringLiteral("private_key")));
    QVERIFY(!app.hasSavedIdentity());
    QSignalSpy statuses(&app, &AppController::statusTextChanged);
    app.autoLogin();
    QCOMPARE(statuses.count(), 0);
}

void AppLoginTest::storageThatFailsFailsTheLogin_data()
{
    QTest::addColumn<bool>("storeBlocked"); // else the vault folder is
    QTest::addColumn<QString>("error");
    QTest::newRow("store that cannot open") << true << QStringLiteral("无法打开本地数据库");
    QTest::newRow("vault that cannot save") << false << QStringLiteral("无法保存身份密钥");
}

void AppLoginTest::storageThatFailsFailsTheLogin()
{
    QFETCH(bool, storeBlocked);
    QFETCH(QString, error);
    QVERIFY(storeBlocked ? m_profile->blockWithDirectory(QStringLiteral("chat.db")) : m_profile->blockVaultFolder());
    AppController app;
    app.generateAndLogin();
    QVERIFY(apptest::waitForLogin(app));
    QVERIFY(!app.loggedIn());
    QCOMPARE(app.errorText(), error);
    QCOMPARE(app.statusText(), QString());
    QCOMPARE(app.myPublicKey(), QString());
    QVERIFY(!ChatStore::instance().isOpen());
    QVERIFY(!velmor::net::RelayAuthSession::instance().isConfigured());
    QVERIFY(!app.hasSavedIdentity());
}

void AppLoginTest::halfSavedSecretsAreRolledBack()
{
    // The key of an earlier sign-in is saved; the phrase entry cannot be
    // written. A new identity must not replace the key without its phrase.
    const Identity earlier = Identity::generate();
    QVERIFY(CredentialVault::write(QStringLiteral("private_key"), earlier.privateKeyText().toUtf8()));
    QVERIFY(m_profile->blockWithDirectory(QStringLiteral("vault/com.quillet.pelorin.mnemonic")));

    AppController app;
    app.generateAndLogin();
    QVERIFY(apptest::waitForLogin(app));
    QVERIFY(!app.loggedIn());
    QCOMPARE(app.errorText(), QStringLiteral("无法保存身份密钥"));
    QCOMPARE(QString::fromUtf8(vaultEntry("private_key")), earlier.privateKeyText());
}

void AppLoginTest::logoutForgetsSecretsKeepsAvatar()
{
    AppController app;
    app.generateAndLogin();
    QVERIFY(apptest::waitForLogin(app));
    QVERIFY(app.loggedIn());
    app.setAvatar(QStringLiteral("head03"));
    QVERIFY(app.setBackupPassword(QStringLiteral("pw")));
    const QString backupEntry = QStringLiteral("backup_pwd_v2_") + app.myErc20();

    bool sessionWholeWhenLeaving = false;
    connect(&app, &AppController::loggingOut, this, [&] {
        sessionWholeWhenLeaving = velmor::net::RelayAuthSession::instance().isConfigured()
            && ChatStore::instance().isOpen() && app.hasSavedIdentity();
    });
    QStringList order;
    connect(&app, &AppController::statusTextChanged, this, [&] { order << "status"; });
    connect(&app, &AppController::errorTextChanged, this, [&] { order << "error"; });
    connect(&app, &AppController::identityChanged, this, [&] { order << "identity"; });
    connect(&app, &AppController::loggedInChanged, this, [&] { order << "loggedIn"; });

    app.logout();
    QVERIFY(sessionWholeWhenLeaving);
    QCOMPARE(order, (QStringList{"status", "error", "identity", "loggedIn"}));
    QVERIFY(!app.loggedIn());
    QVERIFY(!app.hasSavedIdentity());
    QVERIFY(vaultEntry("mnemonic").isEmpty());
    QCOMPARE(app.myPublicKey(), QString());
    QCOMPARE(app.revealMnemonic(), QString());
    QCOMPARE(app.revealPrivateKeyString(), QString());
    QCOMPARE(app.myAvatar(), QStringLiteral("head03"));
    QCOMPARE(QString::fromUtf8(vaultEntry("avatar")), QStringLiteral("head03"));
    QVERIFY(!CredentialVault::read(backupEntry).isEmpty());
    QVERIFY(!ChatStore::instance().isOpen());
    QVERIFY(!velmor::net::RelayAuthSession::instance().isConfigured());
}

void AppLoginTest::loginFinishingAfterLogoutIsDropped()
{
    m_relay.setFault(QStringLiteral("/v1/auth/challenge"), Fault::make(FaultKind::Delay, 300));
    AppController app;
    app.generateAndLogin();
    QVERIFY(app.busy());
    app.logout();
    QVERIFY(apptest::waitForLogin(app));
    QVERIFY(!app.loggedIn());
    QCOMPARE(app.myPublicKey(), QString());
    QVERIFY(!app.hasSavedIdentity());
    QVERIFY(!ChatStore::instance().isOpen());
    QVERIFY(!velmor::net::RelayAuthSession::instance().isConfigured());
}

void AppLoginTest::endpointOverrides_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("taken");
    QTest::newRow("https anywhere") << "https://nodes.elsewhere.example/" << true;
    QTest::newRow("http on loopback") << "http://127.0.0.1:8787" << true;
    QTest::newRow("http on localhost") << "http://localhost:8787" << true;
    QTest::newRow("http elsewhere") << "http://nodes.elsewhere.example" << false;
    QTest::newRow("not a URL") << "nodes" << false;
    QTest::newRow("ftp") << "ftp://127.0.0.1" << false;
}

void AppLoginTest::endpointOverrides()
{
    QFETCH(QString, value);
    QFETCH(bool, taken);
    const QByteArray saved = qgetenv("PELORIN_NODE_DIRECTORY_URL");
    qputenv("PELORIN_NODE_DIRECTORY_URL", value.toUtf8());
    qputenv("PELORIN_GROUP_CENTER_URL", value.toUtf8());
    if (!taken)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^\\[APP\\] ignoring")));
    if (!taken)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^\\[APP\\] ignoring")));
    const velmor::app::ServiceEndpoints endpoints = velmor::app::serviceEndpoints();
    qputenv("PELORIN_NODE_DIRECTORY_URL", saved);
    qunsetenv("PELORIN_GROUP_CENTER_URL");
    const QString expected = QString(value).remove(QRegularExpression(QStringLiteral("/+$")));
    QCOMPARE(endpoints.nodeDirectoryUrl == expected, taken);
    QCOMPARE(endpoints.groupCenterUrl == expected, taken);
    if (!taken) {
        QCOMPARE(endpoints.nodeDirectoryUrl, velmor::net::defaultNodeDirectoryUrl());
        QVERIFY(!endpoints.groupCenterUrl.isEmpty());
    }
}

QTEST_MAIN(AppLoginTest)
#include "tst_app_login.moc"
