import QtQml

// Stands in for the "App" context property (the application controller).
// Every property has its own change signal, as on the real controller;
// myPublicKey, myErc20 and myTron are announced by identityChanged and
// myAvatar by avatarChanged, so a test sets them and then emits that signal.
MockController {
    property bool loggedIn: false
    property bool busy: false
    property string statusText: ""
    property string errorText: ""
    property string myAvatar: "defaultheadphoto"
    property string myPublicKey: ""
    property string myErc20: ""
    property string myTron: ""
    property string storeProblem: ""
    property string storeSetAside: ""
    property int storeSalvaged: 0
    property string storeForeign: ""
    property string identityNotice: ""
    property string identityKeptAside: ""
    property bool identityKeptAsideDamaged: false

    signal identityChanged()
    signal avatarChanged()
    signal loggingOut()
    signal signedIn()
    signal storeChanged()
    signal storeReopened()

    // Sign-in and session.
    function hasSavedIdentity() { record("hasSavedIdentity", arguments); return result("hasSavedIdentity", false) }
    function autoLogin() { record("autoLogin", arguments) }
    function generateAndLogin() { record("generateAndLogin", arguments) }
    function importAndLogin(text) { record("importAndLogin", arguments) }
    function importMnemonicAndLogin(phrase) { record("importMnemonicAndLogin", arguments) }
    function logout() { record("logout", arguments) }
    function revealMnemonic() { record("revealMnemonic", arguments); return result("revealMnemonic", "") }
    function newMnemonic() { record("newMnemonic", arguments); return result("newMnemonic", "") }
    function retryStore() { record("retryStore", arguments) }
    function dismissStoreNotice() { record("dismissStoreNotice", arguments) }
    function dismissIdentityNotice() { record("dismissIdentityNotice", arguments); identityNotice = "" }
    function revealPrivateKeyString() { record("revealPrivateKeyString", arguments); return result("revealPrivateKeyString", "") }

    // Backup password.
    function hasBackupPassword() { record("hasBackupPassword", arguments); return result("hasBackupPassword", false) }
    function setBackupPassword(pwd) { record("setBackupPassword", arguments); return result("setBackupPassword", false) }
    function verifyBackupPassword(pwd) { record("verifyBackupPassword", arguments); return result("verifyBackupPassword", false) }

    // Clipboard, image drafts, QR code, avatar.
    function copyToClipboard(text) { record("copyToClipboard", arguments) }
    function clipboardText() { record("clipboardText", arguments); return result("clipboardText", "") }
    function clipboardSelectionText() { record("clipboardSelectionText", arguments); return result("clipboardSelectionText", "") }
    function clipboardImageDraft() { record("clipboardImageDraft", arguments); return result("clipboardImageDraft", ({ "ok": false })) }
    function localImageDraft(url) { record("localImageDraft", arguments); return result("localImageDraft", ({ "ok": false, "error": "" })) }
    function qrSvg(text) { record("qrSvg", arguments); return result("qrSvg", "") }
    function setAvatar(avatarId) { record("setAvatar", arguments) }
}
