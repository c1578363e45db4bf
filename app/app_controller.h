// The application's session object, seen by QML as "App": creates, imports
// and restores the identity, signs in to a relay node on a background job,
// opens the store and keeps the secrets in the credential vault, logs out,
// and offers the backup password, clipboard, image drafts, QR images and the
// avatar.
#pragma once

#include "app/relay_login.h"

#include "identity/identity.h"

#include <QFuture>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>

template <typename T>
class QFutureWatcher;
class QTimer;

class AppController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool loggedIn READ loggedIn NOTIFY loggedInChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(QString errorText READ errorText NOTIFY errorTextChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(QString myPublicKey READ myPublicKey NOTIFY identityChanged)
    Q_PROPERTY(QString myErc20 READ myErc20 NOTIFY identityChanged)
    Q_PROPERTY(QString myTron READ myTron NOTIFY identityChanged)
    Q_PROPERTY(QString myAvatar READ myAvatar NOTIFY avatarChanged)
    // What keeps the local store from working, for the notice: "" (nothing),
    // "busy" (another program holds it), "diskFull", "damaged", "foreign"
    // (a link or another user's) or "newer" (written by a newer build), the
    // last two naming the refused folder or file in storeForeign; and the
    // file a damaged store was kept as, until the user dismisses it.
    Q_PROPERTY(QString storeProblem READ storeProblem NOTIFY storeChanged)
    Q_PROPERTY(QString storeSetAside READ storeSetAside NOTIFY storeChanged)
    // Messages of this identity read back from that file into the new one.
    Q_PROPERTY(int storeSalvaged READ storeSalvaged NOTIFY storeChanged)
    Q_PROPERTY(QString storeForeign READ storeForeign NOTIFY storeChanged)
    // Why the saved identity could not sign in (a damaged vault entry), in
    // full, until the user dismisses it or signs in; no new identity is
    // made while it waits.
    Q_PROPERTY(QString identityNotice READ identityNotice NOTIFY identityNoticeChanged)
    // A saved key that did not belong to the saved phrase, kept as this file
    // when the phrase signed in; until the user dismisses the notice.
    Q_PROPERTY(QString identityKeptAside READ identityKeptAside NOTIFY storeChanged)
    // The kept key was damaged (unreadable) rather than another identity's.
    Q_PROPERTY(bool identityKeptAsideDamaged READ identityKeptAsideDamaged NOTIFY storeChanged)

public:
    using Outcome = velmor::app::LoginOutcome;

    explicit AppController(QObject *parent = nullptr);
    ~AppController() override;

    bool loggedIn() const { return m_loggedIn; }
    bool busy() const { return m_busy; }
    QString errorText() const { return m_errorText; }
    QString statusText() const { return m_statusText; }
    QString myPublicKey() const;
    QString myErc20() const;
    QString myTron() const;
    QString myAvatar() const { return m_myAvatar; }
    QString storeProblem() const { return m_storeProblem; }
    QString storeSetAside() const { return m_storeSetAside; }
    int storeSalvaged() const { return m_storeSalvaged; }
    QString storeForeign() const { return m_storeForeign; }
    QString identityNotice() const { return m_identityNotice; }
    QString identityKeptAside() const { return m_identityKeptAside; }
    bool identityKeptAsideDamaged() const { return m_identityKeptAsideDamaged; }

    // The node-address service that sign-ins ask; set from the service
    // endpoints at construction.
    QString nodeDirectoryUrl() const { return m_nodeDirectoryUrl; }
    void setNodeDirectoryUrl(const QString &url) { m_nodeDirectoryUrl = url; }

    Q_INVOKABLE void generateAndLogin();
    Q_INVOKABLE void importAndLogin(const QString &privateKeyString);
    Q_INVOKABLE void importMnemonicAndLogin(const QString &mnemonic);
    Q_INVOKABLE QString revealMnemonic() const;
    Q_INVOKABLE QString newMnemonic() const;
    Q_INVOKABLE QString revealPrivateKeyString() const;
    Q_INVOKABLE bool hasBackupPassword() const;
    Q_INVOKABLE bool setBackupPassword(const QString &password);
    Q_INVOKABLE bool verifyBackupPassword(const QString &password) const;
    Q_INVOKABLE void copyToClipboard(const QString &text);
    Q_INVOKABLE QString clipboardText() const;
    // The text selected anywhere on the desktop (the middle button's paste);
    // empty where the platform keeps no selection.
    Q_INVOKABLE QString clipboardSelectionText() const;
    Q_INVOKABLE QVariantMap clipboardImageDraft() const;
    Q_INVOKABLE QVariantMap localImageDraft(const QString &url) const;
    Q_INVOKABLE void setAvatar(const QString &avatarId);
    Q_INVOKABLE QString qrSvg(const QString &text) const;
    Q_INVOKABLE bool hasSavedIdentity() const;
    Q_INVOKABLE void autoLogin();
    // Starts the automatic sign-in's job at once, before the window is
    // made, when a saved identity can sign in: the window's autoLogin()
    // then takes it up instead of starting its own, so the relay and the
    // store are ready by the time the window is. Nothing the views see
    // changes before autoLogin(). Call it before anything else can sign in:
    // the job opens the store for the saved identity. `whenSignedIn` runs on
    // the job's worker once it has signed in, before the window hears of it.
    // Returns whether the job was started.
    bool prepareAutoLogin(std::function<void()> whenSignedIn = {});
    Q_INVOKABLE void logout();
    // Tries the store again now: a sign-in waiting for it opens it, a busy
    // or full store tries a write, a damaged one is opened again (and so
    // kept aside). The identity stays signed in throughout.
    Q_INVOKABLE void retryStore();
    Q_INVOKABLE void dismissStoreNotice();
    Q_INVOKABLE void dismissIdentityNotice();

signals:
    // A sign-in has completed (the store is open for the identity): comes
    // just before loggedInChanged, so the session can start before the
    // window turns to the home view, whose bindings answer that first.
    void signedIn();
    void loggedInChanged();
    void busyChanged();
    void errorTextChanged();
    void statusTextChanged();
    void identityChanged();
    void avatarChanged();
    // First step of logout(), while the session is still whole: the voice
    // room is left and playback stopped before the relay session goes.
    void loggingOut();
    void storeChanged();
    void identityNoticeChanged();
    // The store was opened again on a new file: lists read from it afresh.
    void storeReopened();

private:
    // With the automatic sign-in's job when it was `started` early.
    void startLogin(const velmor::identity::Identity &identity, const QFuture<Outcome> &started = {});
    // Relay login (unless `relayDone`), then the store and the vault.
    void startLoginJob(bool relayDone, const QFuture<Outcome> &started = {});
    static Outcome loginWorker(const velmor::identity::Identity &identity, const QString &mnemonic,
                               const QString &nodeDirectoryUrl, bool relayDone);
    void onLoginFinished(QFutureWatcher<Outcome> *watcher, quint64 generation);
    void waitForStore(const Outcome &outcome);
    void setStoreProblem(const QString &problem);
    void reopenStore();
    void completeLogin(const Outcome &outcome);
    void failLogin(const QString &text);
    void setBusy(bool busy);
    void setErrorText(const QString &text);
    void setStatusText(const QString &text);
    void setIdentityNotice(const QString &text);
    QString backupEntry() const;

    bool m_loggedIn = false;
    bool m_busy = false;
    QString m_errorText;
    QString m_statusText;
    velmor::identity::Identity m_identity;
    velmor::identity::Identity m_pendingIdentity;
    QString m_mnemonic;
    QString m_myAvatar;
    QString m_node;
    QString m_nodeDirectoryUrl;
    // Bumped by logout: a sign-in job that finishes after it is stale.
    quint64 m_loginGeneration = 0;
    QString m_storeProblem;
    QString m_storeSetAside;
    int m_storeSalvaged = 0;
    QString m_storeForeign;
    QString m_identityNotice;
    QString m_identityKeptAside;
    bool m_identityKeptAsideDamaged = false;
    // Signed in to the relay, the store not open yet (busy, disk full):
    // tried again on a timer and by retryStore().
    bool m_waitingForStore = false;
    bool m_storeJob = false; // a retry's write or reopen is running
    bool m_loginJob = false; // a sign-in job is running
    QTimer *m_storeRetry = nullptr;
    struct EarlyLogin;
    std::unique_ptr<EarlyLogin> m_earlyLogin; // prepareAutoLogin() until autoLogin()
};
