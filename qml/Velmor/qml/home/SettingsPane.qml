import QtQuick
import QtQuick.Layouts
import Velmor
import "settings"
import "settings/avatarSets.js" as Sets

// The settings page of the main card (profile, avatar, address, backup,
// log-out). The home view shows it while mainPane is "settings"; it reads
// and writes through App and Chat only.
Item {
    id: pane

    // The sub-page shown: "root", "avatar", "address" or "backup".
    property string sub: "root"
    // The log-out confirmation is showing.
    property bool confirmingLogout: false
    property bool backupUnlocked: false
    property bool backupHasPwd: false
    readonly property var avBoys: Sets.boys()
    readonly property var avGirls: Sets.girls()
    readonly property var avAnimals: Sets.animals()
    // The avatar set last shown; kept while the page is away.
    property int avCat: 0

    // Controller data, followed through the controller's shared signals.
    property string myErc20: App.myErc20
    property string myAvatar: App.myAvatar
    Connections {
        target: App
        function onIdentityChanged() { pane.myErc20 = App.myErc20 }
        function onAvatarChanged() { pane.myAvatar = App.myAvatar }
    }

    // The secrets are asked for only while the unlocked backup shows, and
    // dropped from the items as soon as it hides.
    readonly property bool secretsShown: visible && sub === "backup" && backupUnlocked
    onSecretsShownChanged: {
        backupSecrets.mnemonic = secretsShown ? App.revealMnemonic() : ""
        backupSecrets.privateKey = secretsShown ? App.revealPrivateKeyString() : ""
    }
    // The QR is drawn afresh each time the address shows, never while hidden.
    readonly property bool qrShown: visible && sub === "address"
    onQrShownChanged: addressPage.qrSource = qrShown ? Sets.svgDataUrl(App.qrSvg(myErc20)) : ""
    onMyErc20Changed: if (qrShown) addressPage.qrSource = Sets.svgDataUrl(App.qrSvg(myErc20))

    // The page's close control: the home view returns to the chat.
    signal closeRequested()

    function close() { closeRequested() }
    function toast(m) { setToast.show(m) }
    function shortAddr(a) { return Sets.shortAddr(a) }

    function openBackup() {
        backupUnlocked = false
        backupHasPwd = App.hasBackupPassword()
        backupGate.reset()
        sub = "backup"
    }

    AccountActions {
        id: actions
        onToast: message => pane.toast(message)
    }
    function chooseAvatar(id) { actions.chooseAvatar(id) }
    function copyAndToast(text, message) { actions.copyAndToast(text, message) }
    function logout() { actions.logout() }

    ColumnLayout {
        anchors.fill: parent
        spacing: 14

        SettingsHeader {
            Layout.fillWidth: true
            Layout.topMargin: 4
            sub: pane.sub
            onBackClicked: pane.sub = "root"
            onCloseClicked: pane.close()
        }

        SettingsRoot {
            objectName: "settingsRoot"
            visible: pane.sub === "root"
            Layout.fillWidth: true
            Layout.maximumWidth: 620
            Layout.fillHeight: true
            address: pane.myErc20
            avatarId: pane.myAvatar
            animateAvatar: pane.visible
            confirmingLogout: pane.confirmingLogout
            onAvatarRequested: pane.sub = "avatar"
            onAddressRequested: pane.sub = "address"
            onBackupRequested: pane.openBackup()
            onLogoutConfirmRequested: pane.confirmingLogout = true
            onLogoutCancelled: pane.confirmingLogout = false
            onLogoutConfirmed: pane.logout()
        }

        AvatarPicker {
            objectName: "avatarPicker"
            visible: pane.sub === "avatar"
            Layout.fillWidth: true
            Layout.fillHeight: true
            boys: pane.avBoys
            girls: pane.avGirls
            animals: pane.avAnimals
            category: pane.avCat
            currentAvatar: pane.myAvatar
            onCategoryPicked: index => pane.avCat = index
            onAvatarPicked: avatarId => pane.chooseAvatar(avatarId)
        }

        AddressPage {
            objectName: "addressPage"
            visible: pane.sub === "address"
            Layout.fillWidth: true
            Layout.maximumWidth: 620
            Layout.fillHeight: true
            address: pane.myErc20
            id: addressPage
            onCopyClicked: pane.copyAndToast(pane.myErc20, I18n.tr("profile.copied"))
        }

        BackupGate {
            id: backupGate
            objectName: "backupGate"
            visible: pane.sub === "backup" && !pane.backupUnlocked
            Layout.fillWidth: true
            Layout.fillHeight: true
            hasPassword: pane.backupHasPwd
            onSetPasswordRequested: password => {
                if (actions.setBackupPassword(password)) {
                    pane.backupHasPwd = true
                    pane.backupUnlocked = true
                }
            }
            onVerifyRequested: password => {
                if (App.verifyBackupPassword(password))
                    pane.backupUnlocked = true
                else
                    backupGate.wrongPassword = true
            }
        }

        BackupSecrets {
            id: backupSecrets
            objectName: "backupSecrets"
            visible: pane.sub === "backup" && pane.backupUnlocked
            Layout.fillWidth: true
            Layout.fillHeight: true
            onCopyMnemonicClicked: pane.copyAndToast(App.revealMnemonic(), I18n.tr("copied.mnemonic"))
            onCopyKeyClicked: pane.copyAndToast(App.revealPrivateKeyString(), I18n.tr("copied.key"))
        }
    }

    PaneToast {
        id: setToast
        objectName: "setToast"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 18
    }
}
