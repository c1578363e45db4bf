import QtQml

// Stands in for the "App" context property (the application controller).
MockController {
    property bool loggedIn: false
    property bool busy: false
    property string statusText: ""
    property string errorText: ""
    property string myAvatar: "defaultheadphoto"
    property string myPublicKey: ""
    property string myErc20: ""
    property string myTron: ""

    signal identityChanged()
    signal avatarChanged()

    function hasSavedIdentity() { record("hasSavedIdentity", arguments); return result("hasSavedIdentity", false) }
    function autoLogin() { record("autoLogin", arguments) }
    function generateAndLogin() { record("generateAndLogin", arguments) }
    function importAndLogin(text) { record("importAndLogin", arguments) }
    function importMnemonicAndLogin(phrase) { record("importMnemonicAndLogin", arguments) }
    function logout() { record("logout", arguments) }
    function localImageDraft(url) { record("localImageDraft", arguments); return result("localImageDraft", ({ "ok": false, "error": "" })) }
    function setAvatar(avatarId) { record("setAvatar", arguments) }
    function qrSvg(text) { record("qrSvg", arguments); return result("qrSvg", "") }
    function revealMnemonic() { record("revealMnemonic", arguments); return result("revealMnemonic", "") }
    function revealPrivateKeyString() { record("revealPrivateKeyString", arguments); return result("revealPrivateKeyString", "") }
    function copyToClipboard(text) { record("copyToClipboard", arguments) }
    function hasBackupPassword() { record("hasBackupPassword", arguments); return result("hasBackupPassword", false) }
    function setBackupPassword(pwd) { record("setBackupPassword", arguments); return result("setBackupPassword", "") }
    function verifyBackupPassword(pwd) { record("verifyBackupPassword", arguments); return result("verifyBackupPassword", false) }
    function clipboardImageDraft() { record("clipboardImageDraft", arguments); return result("clipboardImageDraft", ({ "ok": false, "error": "" })) }
}
