#include "app/app_controller.h"

#include "app/backup_password.h"
#include "app/image_drafts.h"
#include "app/qr_svg.h"
#include "app/saved_identity.h"
#include "app/service_endpoints.h"

#include "identity/vault.h"
#include "net/relay_session.h"
#include "net/supergroup_client.h"
#include "store/chat_store.h"

#include <QClipboard>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QTimer>

#include <utility>
#include <QtConcurrent>

using velmor::app::SavedIdentity;
using velmor::identity::Identity;

namespace {

const QString kDefaultAvatar = QStringLiteral("defaultheadphoto");

QClipboard *applicationClipboard()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) ? QGuiApplication::clipboard()
                                                                          : nullptr;
}

} // namespace

namespace {

QString problemName(velmor::store::Condition condition)
{
    switch (condition) {
    case velmor::store::Condition::Busy:
        return QStringLiteral("busy");
    case velmor::store::Condition::DiskFull:
        return QStringLiteral("diskFull");
    case velmor::store::Condition::Damaged:
        return QStringLiteral("damaged");
    case velmor::store::Condition::Ok:
        break;
    }
    return {};
}

// What the user is told when the vault holds an identity that cannot be
// read back: which entry is damaged and where it is kept.
QString savedIdentityDamageText(bool keyDamaged, bool phraseDamaged)
{
    const QString what = keyDamaged && phraseDamaged ? QStringLiteral("已保存的私钥和助记词都已损坏")
                         : keyDamaged                ? QStringLiteral("已保存的私钥已损坏，且没有可用的助记词")
                         : phraseDamaged             ? QStringLiteral("已保存的助记词已损坏，且没有可用的私钥")
                                                     : QStringLiteral("已保存的身份无法读取");
    return what + QStringLiteral("，无法自动登录。损坏的文件保留在 ") + CredentialVault::folder()
           + QStringLiteral("。请用助记词或私钥导入原身份；新建账户将得到另一个身份。");
}

QString problemOf(const velmor::store::OpenReport &report, velmor::store::Condition unknown)
{
    if (!report.foreign.isEmpty())
        return QStringLiteral("foreign");
    if (!report.newer.isEmpty())
        return QStringLiteral("newer");
    return problemName(report.failure == velmor::store::Condition::Ok ? unknown : report.failure);
}

// The folder or file the store's refusal names: a link or another user's,
// or a file of a newer build.
QString refusedFileOf(const velmor::store::OpenReport &report)
{
    return report.foreign.isEmpty() ? report.newer : report.foreign;
}

// Problems that do not mend themselves: only the user's retry tries again.
bool lastingProblem(const QString &problem)
{
    return problem == QLatin1String("damaged") || problem == QLatin1String("foreign")
           || problem == QLatin1String("newer");
}

// A store held by another program or on a full disk is tried again this
// often while a sign-in waits for it.
constexpr int kStoreRetryMs = 2000;

} // namespace

struct AppController::EarlyLogin
{
    SavedIdentity::Restored saved;
    QFuture<AppController::Outcome> job;
};

AppController::AppController(QObject *parent)
    : QObject(parent)
    , m_nodeDirectoryUrl(velmor::app::serviceEndpoints().nodeDirectoryUrl)
    , m_storeRetry(new QTimer(this))
{
    m_storeRetry->setSingleShot(true);
    m_storeRetry->setInterval(kStoreRetryMs);
    connect(m_storeRetry, &QTimer::timeout, this, [this] {
        if (m_waitingForStore && !m_loginJob)
            startLoginJob(true);
    });
    // The store reports from whichever thread met the fault; the notice
    // follows on this thread.
    ChatStore::instance().setConditionListener([this](velmor::store::Condition condition) {
        QMetaObject::invokeMethod(
            this,
            [this, condition] {
                if (m_loggedIn)
                    setStoreProblem(problemName(condition));
            },
            Qt::QueuedConnection);
    });
}

AppController::~AppController()
{
    // Never taken up (the window was not made): the job's store and relay
    // session end with the program, whose exit closes the store.
    ChatStore::instance().setConditionListener({});
}

QString AppController::myPublicKey() const
{
    return m_identity.isValid() ? m_identity.publicKeyText() : QString();
}

QString AppController::myErc20() const
{
    return m_identity.isValid() ? m_identity.erc20Address() : QString();
}

QString AppController::myTron() const
{
    return m_identity.isValid() ? m_identity.tronAddress() : QString();
}

// ---- sign-in ----------------------------------------------------------------

void AppController::generateAndLogin()
{
    // The user first reads what the saved identity lost: a new one takes
    // the vault's names.
    if (m_busy || !m_identityNotice.isEmpty())
        return;
    setErrorText(QString());
    m_mnemonic.clear();
    setStatusText(QStringLiteral("正在生成身份…"));
    const QString phrase = velmor::identity::generateMnemonic();
    const Identity identity(velmor::identity::privateKeyFromMnemonic(phrase));
    if (identity.isValid()) {
        m_mnemonic = phrase;
        startLogin(identity);
    } else {
        startLogin(Identity::generate());
    }
}

void AppController::importAndLogin(const QString &privateKeyString)
{
    if (m_busy)
        return;
    setErrorText(QString());
    m_mnemonic.clear();
    const Identity identity = Identity::fromPrivateKeyText(privateKeyString.trimmed());
    if (!identity.isValid()) {
        setErrorText(QStringLiteral("私钥格式不正确"));
        return;
    }
    setStatusText(QStringLiteral("正在登录…"));
    startLogin(identity);
}

void AppController::importMnemonicAndLogin(const QString &mnemonic)
{
    if (m_busy)
        return;
    setErrorText(QString());
    const QString phrase = mnemonic.simplified().toLower();
    if (!velmor::identity::isValidMnemonic(phrase)) {
        setErrorText(QStringLiteral("助记词无效（词或校验位不对）"));
        return;
    }
    const Identity identity(velmor::identity::privateKeyFromMnemonic(phrase));
    if (!identity.isValid()) {
        setErrorText(QStringLiteral("助记词派生失败"));
        return;
    }
    m_mnemonic = phrase;
    setStatusText(QStringLiteral("正在登录…"));
    startLogin(identity);
}

bool AppController::prepareAutoLogin(std::function<void()> whenSignedIn)
{
    if (m_busy || m_loggedIn || m_earlyLogin || !SavedIdentity::exists())
        return false;
    SavedIdentity::Restored saved = SavedIdentity::restore();
    if (!saved.identity.isValid()) {
        // autoLogin() tells what is wrong with it.
        m_earlyLogin.reset(new EarlyLogin{std::move(saved), {}});
        return false;
    }
    QFuture<Outcome> job = QtConcurrent::run([identity = saved.identity, mnemonic = saved.mnemonic,
                                              url = m_nodeDirectoryUrl, whenSignedIn = std::move(whenSignedIn)] {
        Outcome outcome = loginWorker(identity, mnemonic, url, false);
        if (outcome.ok && whenSignedIn)
            whenSignedIn();
        return outcome;
    });
    m_earlyLogin.reset(new EarlyLogin{std::move(saved), std::move(job)});
    return true;
}

void AppController::autoLogin()
{
    if (m_busy || m_loggedIn)
        return;
    const std::unique_ptr<EarlyLogin> early = std::move(m_earlyLogin);
    const SavedIdentity::Restored saved = early ? early->saved : SavedIdentity::restore();
    if (!saved.anything)
        return;
    setStatusText(QStringLiteral("自动登录中…"));
    if (!saved.identity.isValid()) {
        // Nothing readable to sign in with. The entries stay as they are
        // (the vault keeps a damaged one aside before anything takes its
        // name), and the user learns what is lost before the login view
        // offers a new identity.
        setStatusText(QString());
        setIdentityNotice(savedIdentityDamageText(saved.keyDamaged, saved.phraseDamaged));
        return;
    }
    m_mnemonic = saved.mnemonic;
    if (!saved.keptKey.isEmpty()) {
        m_identityKeptAside = saved.keptKey;
        m_identityKeptAsideDamaged = saved.keptKeyDamaged;
        emit storeChanged();
    }
    startLogin(saved.identity, early ? early->job : QFuture<Outcome>());
}

void AppController::startLogin(const Identity &identity, const QFuture<Outcome> &started)
{
    if (!identity.isValid()) {
        setErrorText(QStringLiteral("身份无效"));
        return;
    }
    m_pendingIdentity = identity;
    startLoginJob(false, started);
    setStatusText(QStringLiteral("正在连接节点…"));
}

// The job is on its way before the views hear of it: what they do for the
// busy state (the login view loads its busy cover) then runs while the
// relay answers, not before the request leaves.
void AppController::startLoginJob(bool relayDone, const QFuture<Outcome> &started)
{
    m_loginJob = true;
    m_storeRetry->stop();
    auto *watcher = new QFutureWatcher<Outcome>(this);
    const quint64 generation = m_loginGeneration;
    connect(watcher, &QFutureWatcher<Outcome>::finished, this,
            [this, watcher, generation] { onLoginFinished(watcher, generation); });
    if (started.isValid())
        watcher->setFuture(started);
    else
        watcher->setFuture(QtConcurrent::run(&AppController::loginWorker, m_pendingIdentity, m_mnemonic,
                                             m_nodeDirectoryUrl, relayDone));
    setBusy(true);
}

namespace {

struct StoreOpening
{
    bool opened = false;
    velmor::store::OpenReport report;
};

// Off the GUI thread: a file held by another program makes this wait, not
// the window.
StoreOpening openStoreFor(const Identity &identity)
{
    StoreOpening opening;
    opening.opened = ChatStore::instance().open(identity.publicKeyText(), QString(), &opening.report);
    return opening;
}

} // namespace

AppController::Outcome AppController::loginWorker(const Identity &identity, const QString &mnemonic,
                                                  const QString &nodeDirectoryUrl, bool relayDone)
{
    Outcome outcome;
    StoreOpening opening;
    if (relayDone) {
        opening = openStoreFor(identity);
    } else {
        // The store opens while the relay answers, instead of after it: the
        // two no longer add up before the home view can show. A relay that
        // refuses closes it again, so a failed sign-in leaves it as it was.
        QFuture<StoreOpening> storeOpening = QtConcurrent::run(&openStoreFor, identity);
        outcome = velmor::app::runRelayLogin(identity, nodeDirectoryUrl);
        opening = storeOpening.result();
        if (!outcome.ok) {
            if (opening.opened)
                ChatStore::instance().close();
            // A damaged file kept aside on the way is told all the same.
            outcome.storeSetAside = opening.report.setAside;
            outcome.storeSalvaged = opening.report.salvagedMessages;
            return outcome;
        }
    }
    outcome.relayDone = true;
    const velmor::store::OpenReport &report = opening.report;
    outcome.storeSetAside = report.setAside;
    outcome.storeSalvaged = report.salvagedMessages;
    // Opened on a full disk: signed in, with the notice up from the start.
    outcome.storeProblem = problemName(report.failure);
    if (!opening.opened) {
        outcome.ok = false;
        outcome.storeProblem = problemOf(report, velmor::store::Condition::Ok);
        outcome.storeForeign = refusedFileOf(report);
        outcome.errorText = QStringLiteral("无法打开本地数据库");
        return outcome;
    }
    if (!SavedIdentity::save(identity, mnemonic)) {
        // A session whose secrets are not saved would be gone at the next
        // start (and a new identity with it): refuse it while the user can
        // still see why.
        ChatStore::instance().close();
        outcome.ok = false;
        outcome.errorText = QStringLiteral("无法保存身份密钥");
        return outcome;
    }
    outcome.ok = true;
    outcome.saved = true;
    return outcome;
}

void AppController::onLoginFinished(QFutureWatcher<Outcome> *watcher, quint64 generation)
{
    const Outcome outcome = watcher->result();
    watcher->deleteLater();
    m_loginJob = false;
    if (generation != m_loginGeneration) {
        setBusy(false);
        // Logged out while this sign-in ran: its relay session, its store
        // and its secrets must not outlive the log-out.
        auto &session = velmor::net::RelayAuthSession::instance();
        if (!m_loggedIn && session.identity().privateKey == m_pendingIdentity.privateKey) {
            session.clear();
            ChatStore::instance().close();
            if (outcome.saved)
                SavedIdentity::forget();
        }
        setStatusText(QString());
        return;
    }
    if (!outcome.storeSetAside.isEmpty()) {
        m_storeSetAside = outcome.storeSetAside;
        m_storeSalvaged = outcome.storeSalvaged;
        emit storeChanged();
    }
    if (outcome.ok) {
        setBusy(false);
        m_waitingForStore = false;
        // The store may have found room again since it opened full.
        setStoreProblem(outcome.storeProblem.isEmpty() ? QString()
                                                       : problemName(ChatStore::instance().condition()));
        completeLogin(outcome);
        return;
    }
    if (outcome.relayDone && !outcome.storeProblem.isEmpty()) {
        waitForStore(outcome);
        return;
    }
    setBusy(false);
    m_waitingForStore = false;
    setStoreProblem(QString());
    if (outcome.relayDone)
        velmor::net::RelayAuthSession::instance().clear();
    failLogin(outcome.errorText);
}

// Signed in to the relay but the store cannot be opened yet: the identity
// stays, the window says why and tries again; nothing falls back to the
// login form (whose "Create account" would make a new identity).
void AppController::waitForStore(const Outcome &outcome)
{
    m_waitingForStore = true;
    m_node = outcome.node.isEmpty() ? m_node : outcome.node;
    m_storeForeign = outcome.storeForeign;
    setStoreProblem(outcome.storeProblem);
    const QString &problem = outcome.storeProblem;
    // The store notice names the problem, in the interface's language; a
    // line of its own under the spinner would say it again (the login view
    // shows a waiting line while `storeProblem` is set).
    setStatusText(QString());
    setBusy(true);
    // A damaged file that could not be moved aside, a store that is not the
    // user's or one of a newer build does not mend itself: only the user's
    // retry tries again.
    if (!lastingProblem(problem))
        m_storeRetry->start();
}

void AppController::failLogin(const QString &text)
{
    setStatusText(QString());
    setErrorText(text);
}

void AppController::completeLogin(const Outcome &outcome)
{
    if (!outcome.node.isEmpty())
        m_node = outcome.node;
    m_identity = m_pendingIdentity;
    const QString avatar = SavedIdentity::avatar();
    m_myAvatar = avatar.isEmpty() ? kDefaultAvatar : avatar;
    emit avatarChanged();
    m_loggedIn = true;
    setIdentityNotice(QString());
    setStatusText(QStringLiteral("已登录 · 节点 ") + m_node);
    emit identityChanged();
    emit signedIn();
    emit loggedInChanged();
}

void AppController::retryStore()
{
    if (m_waitingForStore) {
        // A sign-in job already running is the retry.
        if (!m_loginJob)
            startLoginJob(true);
        return;
    }
    if (!m_loggedIn || m_storeJob)
        return;
    if (lastingProblem(m_storeProblem)) {
        reopenStore();
        return;
    }
    // Busy or full: a write that lands ends the condition (the listener
    // then clears the notice).
    m_storeJob = true;
    auto *watcher = new QFutureWatcher<bool>(this);
    connect(watcher, &QFutureWatcher<bool>::finished, this, [this, watcher] {
        watcher->deleteLater();
        m_storeJob = false;
    });
    watcher->setFuture(QtConcurrent::run([] { return ChatStore::instance().probeWrite(); }));
}

void AppController::reopenStore()
{
    m_storeJob = true;
    const QString owner = m_identity.publicKeyText();
    const quint64 generation = m_loginGeneration;
    auto *watcher = new QFutureWatcher<velmor::store::OpenReport>(this);
    connect(watcher, &QFutureWatcher<velmor::store::OpenReport>::finished, this, [this, watcher, generation] {
        const velmor::store::OpenReport report = watcher->result();
        watcher->deleteLater();
        m_storeJob = false;
        if (generation != m_loginGeneration)
            return;
        if (!report.setAside.isEmpty()) {
            m_storeSetAside = report.setAside;
            m_storeSalvaged = report.salvagedMessages;
        }
        const bool opened = ChatStore::instance().isOpen();
        m_storeForeign = opened ? QString() : refusedFileOf(report);
        setStoreProblem(opened ? QString() : problemOf(report, velmor::store::Condition::Damaged));
        emit storeChanged();
        emit storeReopened();
    });
    watcher->setFuture(QtConcurrent::run([owner] {
        velmor::store::OpenReport report;
        ChatStore::instance().open(owner, QString(), &report);
        return report;
    }));
}

void AppController::dismissStoreNotice()
{
    // The notice shows the kept store first, then the kept key.
    if (!m_storeSetAside.isEmpty()) {
        m_storeSetAside.clear();
        m_storeSalvaged = 0;
    } else if (!m_identityKeptAside.isEmpty()) {
        m_identityKeptAside.clear();
    } else {
        return;
    }
    emit storeChanged();
}

void AppController::setStoreProblem(const QString &problem)
{
    if (problem != QLatin1String("foreign") && problem != QLatin1String("newer"))
        m_storeForeign.clear();
    if (m_storeProblem == problem)
        return;
    m_storeProblem = problem;
    emit storeChanged();
}

void AppController::logout()
{
    emit loggingOut();
    ++m_loginGeneration;
    m_storeRetry->stop();
    if (std::exchange(m_waitingForStore, false) && !m_loginJob)
        setBusy(false);
    setStoreProblem(QString());
    // A kept file's notice is told to each identity at its own sign-in.
    if (!m_storeSetAside.isEmpty() || !m_identityKeptAside.isEmpty()) {
        m_storeSetAside.clear();
        m_storeSalvaged = 0;
        m_identityKeptAside.clear();
        emit storeChanged();
    }
    SavedIdentity::forget();
    m_mnemonic.clear();
    velmor::net::RelayAuthSession::instance().clear();
    velmor::sg::SuperGroupServiceClient::instance().clearTokens();
    ChatStore::instance().close();
    m_identity = Identity();
    m_loggedIn = false;
    setStatusText(QString());
    setErrorText(QString());
    emit identityChanged();
    emit loggedInChanged();
}

bool AppController::hasSavedIdentity() const
{
    return SavedIdentity::exists();
}

QString AppController::revealMnemonic() const
{
    return m_mnemonic;
}

QString AppController::newMnemonic() const
{
    return velmor::identity::generateMnemonic();
}

QString AppController::revealPrivateKeyString() const
{
    if (!m_identity.isValid())
        return {};
    return QStringLiteral("0x") + QString::fromLatin1(m_identity.privateKey.toHex());
}

// ---- backup password --------------------------------------------------------

QString AppController::backupEntry() const
{
    return velmor::app::backupPasswordEntry(myErc20());
}

bool AppController::hasBackupPassword() const
{
    const QString entry = backupEntry();
    return !entry.isEmpty() && !CredentialVault::read(entry).isEmpty();
}

bool AppController::setBackupPassword(const QString &password)
{
    const QString entry = backupEntry();
    if (password.isEmpty() || entry.isEmpty())
        return false;
    const QByteArray record = velmor::app::makeBackupRecord(password);
    return !record.isEmpty() && CredentialVault::write(entry, record);
}

bool AppController::verifyBackupPassword(const QString &password) const
{
    const QString entry = backupEntry();
    if (entry.isEmpty())
        return false;
    return velmor::app::verifyBackupRecord(CredentialVault::read(entry), password);
}

// ---- clipboard, drafts, QR, avatar --------------------------------------------

void AppController::copyToClipboard(const QString &text)
{
    if (QClipboard *clipboard = applicationClipboard())
        clipboard->setText(text, QClipboard::Clipboard);
}

QString AppController::clipboardText() const
{
    const QClipboard *clipboard = applicationClipboard();
    return clipboard ? clipboard->text(QClipboard::Clipboard) : QString();
}

QString AppController::clipboardSelectionText() const
{
    const QClipboard *clipboard = applicationClipboard();
    return clipboard && clipboard->supportsSelection() ? clipboard->text(QClipboard::Selection)
                                                       : QString();
}

QVariantMap AppController::clipboardImageDraft() const
{
    return velmor::app::clipboardImageDraft(applicationClipboard());
}

QVariantMap AppController::localImageDraft(const QString &url) const
{
    return velmor::app::localImageDraft(url);
}

QString AppController::qrSvg(const QString &text) const
{
    return velmor::app::qrSvg(text);
}

void AppController::setAvatar(const QString &avatarId)
{
    if (avatarId.isEmpty() || avatarId == m_myAvatar)
        return;
    m_myAvatar = avatarId;
    SavedIdentity::saveAvatar(avatarId);
    emit avatarChanged();
}

// ---- property setters -------------------------------------------------------

void AppController::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    emit busyChanged();
}

void AppController::setErrorText(const QString &text)
{
    // Emitted on every assignment, so each failed attempt is seen.
    m_errorText = text;
    emit errorTextChanged();
}

void AppController::dismissIdentityNotice()
{
    setIdentityNotice(QString());
}

void AppController::setIdentityNotice(const QString &text)
{
    if (m_identityNotice == text)
        return;
    m_identityNotice = text;
    emit identityNoticeChanged();
}

void AppController::setStatusText(const QString &text)
{
    m_statusText = text;
    emit statusTextChanged();
}
