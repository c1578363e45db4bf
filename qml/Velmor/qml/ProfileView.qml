import QtQuick
import QtQuick.Window
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Velmor
import "home"
import "profile"
import "home/settings"
import "home/settings/avatarSets.js" as Sets

// The profile page: the user's avatar and address at its head, then the
// settings list whose rows open the avatar, address, backup and language
// sheets, switch the colour theme and sign out after a confirmation.
Rectangle {
    id: prof

    // The one clock of every playing avatar in the view.
    property int lottieTick: 0

    // Controller data, followed through the controller's shared signals.
    property string myErc20: App.myErc20
    property string myAvatar: App.myAvatar
    Connections {
        target: App
        function onIdentityChanged() { prof.myErc20 = App.myErc20 }
        function onAvatarChanged() { prof.myAvatar = App.myAvatar }
    }

    // Backup: every opening starts locked; the secrets are asked for only
    // while the unlocked sheet shows and dropped as soon as it hides.
    property bool backupUnlocked: false
    property bool backupHasPwd: false
    readonly property bool secretsShown: visible && backupSheet.visible && backupUnlocked
    onSecretsShownChanged: {
        backupSheet.mnemonic = secretsShown ? App.revealMnemonic() : ""
        backupSheet.privateKey = secretsShown ? App.revealPrivateKeyString() : ""
    }

    // The code is drawn while the address sheet shows, never while hidden.
    readonly property bool qrShown: visible && addressSheet.visible
    onQrShownChanged: refreshQr()
    onMyErc20Changed: refreshQr()

    function shortAddr(a) { return Sets.shortAddr(a) }
    function toast(msg) { toastBox.show(msg) }
    function avatarSrc(id) { return "../assets/avatars/" + (id ? id : "defaultheadphoto") + ".png" }
    function isLottie(id) { return typeof id === "string" && id.indexOf("lottiehead_") === 0 }
    function lottieFrameCount(id) { return id === "lottiehead_01" ? 18 : 24 }

    function refreshQr() {
        addressSheet.qrSource = qrShown ? Sets.svgDataUrl(App.qrSvg(myErc20)) : ""
    }
    function lockBackup() {
        backupUnlocked = false
        backupHasPwd = App.hasBackupPassword()
        backupSheet.resetGate()
    }

    anchors.fill: parent
    color: Theme.windowBg

    // Steps on the shared clock, which runs only while the window is active.
    FrameStepper {
        objectName: "lottieClock"
        period: 80
        running: prof.visible
        onStepped: prof.lottieTick += 1
    }

    AccountActions {
        id: actions
        onToast: message => prof.toast(message)
    }

    Flickable {
        anchors.fill: parent
        clip: true
        contentWidth: width
        contentHeight: col.height + 40
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: TgScrollBar {}

        ColumnLayout {
            id: col
            width: Math.min(560, prof.width - 64)
            x: (prof.width - width) / 2
            y: 28
            spacing: 14

            RowLayout {
                Layout.fillWidth: true
                Layout.leftMargin: 4
                spacing: 16
                Rectangle {
                    Layout.preferredWidth: Theme.avatarLarge
                    Layout.preferredHeight: Theme.avatarLarge
                    radius: Theme.avatarLarge / 2
                    color: Theme.avatarBg
                    clip: true
                    AvatarView {
                        objectName: "headerAvatar"
                        anchors.fill: parent
                        avatarId: prof.myAvatar
                        animate: true
                        tick: prof.lottieTick
                    }
                }
                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 3
                    Text {
                        objectName: "headerShortAddress"
                        text: prof.shortAddr(prof.myErc20)
                        textFormat: Text.PlainText
                        font.pixelSize: Theme.fontTitle2
                        font.weight: Font.DemiBold
                        color: Theme.textBold
                    }
                    Text {
                        objectName: "headerAddress"
                        Layout.fillWidth: true
                        text: prof.myErc20
                        textFormat: Text.PlainText
                        font.pixelSize: Theme.fontFootnote
                        color: Theme.textSecondary
                        elide: Text.ElideMiddle
                    }
                }
            }

            Item { Layout.preferredHeight: 8 }

            SettingsGroup {
                objectName: "accountGroup"
                SettingRow {
                    objectName: "avatarRow"
                    icon: "photo"
                    title: I18n.tr("profile.avatar")
                    trailingAvatarId: prof.myAvatar
                    onClicked: avatarSheet.open()
                }
                SettingRow {
                    objectName: "addressRow"
                    icon: "wallet"
                    title: I18n.tr("profile.address")
                    onClicked: addressSheet.open()
                }
                SettingRow {
                    objectName: "backupRow"
                    icon: "key"
                    title: I18n.tr("profile.backup")
                    lastRow: true
                    onClicked: backupSheet.open()
                }
            }

            SettingsGroup {
                objectName: "displayGroup"
                SettingRow {
                    objectName: "languageRow"
                    icon: "chats"
                    title: I18n.tr("profile.language")
                    value: I18n.localeNames[I18n.locale] || ""
                    onClicked: languageSheet.open()
                }
                SettingRow {
                    objectName: "themeRow"
                    icon: "settings"
                    title: I18n.tr("profile.theme")
                    value: Theme.dark ? I18n.tr("theme.dark") : I18n.tr("theme.light")
                    lastRow: true
                    onClicked: Theme.toggle()
                }
            }

            SettingsGroup {
                objectName: "logoutGroup"
                SettingRow {
                    objectName: "logoutRow"
                    icon: "logout"
                    title: I18n.tr("profile.logout")
                    danger: true
                    lastRow: true
                    onClicked: logoutConfirm.open()
                }
            }
        }
    }

    AvatarSheet {
        id: avatarSheet
        objectName: "avatarSheet"
        boys: Sets.boys()
        girls: Sets.girls()
        animals: Sets.animals()
        currentAvatar: prof.myAvatar
        onAvatarPicked: avatarId => {
            actions.chooseAvatar(avatarId)
            avatarSheet.close()
        }
    }

    AddressSheet {
        id: addressSheet
        objectName: "addressSheet"
        address: prof.myErc20
        onCopyClicked: actions.copyAndToast(prof.myErc20, I18n.tr("profile.copied"))
    }

    BackupSheet {
        id: backupSheet
        objectName: "backupSheet"
        hasPassword: prof.backupHasPwd
        unlocked: prof.backupUnlocked
        onAboutToShow: prof.lockBackup()
        onAboutToHide: prof.backupUnlocked = false
        onSetPasswordRequested: password => {
            if (actions.setBackupPassword(password)) {
                prof.backupHasPwd = true
                prof.backupUnlocked = true
            }
        }
        onVerifyRequested: password => {
            if (App.verifyBackupPassword(password))
                prof.backupUnlocked = true
            else
                backupSheet.wrongPassword = true
        }
        onCopyMnemonicClicked: actions.copyAndToast(App.revealMnemonic(), I18n.tr("copied.mnemonic"))
        onCopyKeyClicked: actions.copyAndToast(App.revealPrivateKeyString(), I18n.tr("copied.key"))
    }

    LanguageSheet {
        id: languageSheet
        objectName: "languageSheet"
    }

    ConfirmPopup {
        id: logoutConfirm
        objectName: "logoutConfirm"
        titleText: I18n.tr("profile.logout")
        bodyText: I18n.tr("profile.logoutWarning")
        confirmText: I18n.tr("settings.confirmLogout")
        confirmColor: Theme.danger
        onConfirmed: {
            logoutConfirm.close()
            actions.logout()
        }
    }

    PaneToast {
        id: toastBox
        objectName: "toastBox"
        z: 100000
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 48
        duration: 2200
        hPadding: 36
        vPadding: 20
        pixelSize: 13
        radius: 18
        color: "#d91f2329"
    }
}
