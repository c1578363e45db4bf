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

AppController::AppController(QObject *parent)
    : QObject(parent)
    , m_nodeDirectoryUrl(velmor::app::serviceEndpoints().nodeDirectoryUrl)
{
}

AppController::~AppController() = default;

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
    if (m_busy)
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

void AppController::autoLogin()
{
    if (m_busy || m_loggedIn)
        return;
    const QString saved = SavedIdentity::privateKeyText();
    if (saved.isEmpty())
        return;
    setStatusText(QStringLiteral("自动登录中…"));
    const Identity identity = Identity::fromPrivateKeyText(saved);
    if (!identity.isValid()) {
        // An unreadable saved key is forgotten; the login view stays.
        SavedIdentity::forgetPrivateKey();
        return;
    }
    m_mnemonic = SavedIdentity::mnemonic();
    startLogin(identity);
}

void AppController::startLogin(const Identity &identity)
{
    if (!identity.isValid()) {
        setErrorText(QStringLiteral("身份无效"));
        return;
    }
    m_pendingIdentity = identity;
    setBusy(true);
    setStatusText(QStringLiteral("正在连接节点…"));

    auto *watcher = new QFutureWatcher<Outcome>(this);
    const quint64 generation = m_loginGeneration;
    connect(watcher, &QFutureWatcher<Outcome>::finished, this,
            [this, watcher, generation] { onLoginFinished(watcher, generation); });
    watcher->setFuture(QtConcurrent::run(&AppController::loginWorker, identity, m_nodeDirectoryUrl));
}

AppController::Outcome AppController::loginWorker(const Identity &identity, const QString &nodeDirectoryUrl)
{
    return velmor::app::runRelayLogin(identity, nodeDirectoryUrl);
}

void AppController::onLoginFinished(QFutureWatcher<Outcome> *watcher, quint64 generation)
{
    const Outcome outcome = watcher->result();
    watcher->deleteLater();
    setBusy(false);
    if (generation != m_loginGeneration) {
        // Logged out while this sign-in ran: its relay session must not
        // outlive the log-out.
        auto &session = velmor::net::RelayAuthSession::instance();
        if (!m_loggedIn && session.identity().privateKey == m_pendingIdentity.privateKey)
            session.clear();
        setStatusText(QString());
        return;
    }
    if (outcome.ok)
        completeLogin(outcome);
    else
        failLogin(outcome.errorText);
}

void AppController::failLogin(const QString &text)
{
    setStatusText(QString());
    setErrorText(text);
}

void AppController::completeLogin(const Outcome &outcome)
{
    const Identity identity = m_pendingIdentity;
    ChatStore &store = ChatStore::instance();
    if (!store.open(identity.publicKeyText())) {
        // Without its store the session cannot keep a message: no half
        // signed-in state, and no relay session left behind.
        velmor::net::RelayAuthSession::instance().clear();
        failLogin(QStringLiteral("无法打开本地数据库"));
        return;
    }
    if (!SavedIdentity::save(identity, m_mnemonic)) {
        // A session whose secrets are not saved would be gone at the next
        // start (and a new identity with it): refuse it while the user can
        // still see why.
        store.close();
        velmor::net::RelayAuthSession::instance().clear();
        failLogin(QStringLiteral("无法保存身份密钥"));
        return;
    }
    m_node = outcome.node;
    m_identity = identity;
    const QString avatar = SavedIdentity::avatar();
    m_myAvatar = avatar.isEmpty() ? kDefaultAvatar : avatar;
    emit avatarChanged();
    m_loggedIn = true;
    setStatusText(QStringLiteral("已登录 · 节点 ") + m_node);
    emit identityChanged();
    emit loggedInChanged();
}

void AppController::logout()
{
    emit loggingOut();
    ++m_loginGeneration;
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

void AppController::setStatusText(const QString &text)
{
    m_statusText = text;
    emit statusTextChanged();
}
