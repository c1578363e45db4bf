import QtQuick
import QtQuick.Layouts
import Velmor
import "../home/settings"

// The backup sheet: the backup password gate, then the recovery phrase and
// the private key. The owner decides when it is unlocked and hands it the
// secrets only while it shows unlocked.
SheetPopup {
    id: backupSheet

    property bool hasPassword: false
    property bool unlocked: false
    property alias wrongPassword: gate.wrongPassword
    property string mnemonic: ""
    property string privateKey: ""

    signal setPasswordRequested(string password)
    signal verifyRequested(string password)
    signal copyMnemonicClicked()
    signal copyKeyClicked()

    // Empty fields, no tick, no notice.
    function resetGate() { gate.reset() }

    readonly property real maxHeight: parent ? parent.height - 80 : 600

    width: 460
    implicitHeight: bkCol.implicitHeight + 20

    contentItem: Item {
        ColumnLayout {
            id: bkCol
            width: parent.width
            spacing: 12

            SheetHeader {
                title: I18n.tr("profile.backup")
                onCloseClicked: backupSheet.close()
            }

            BackupGate {
                id: gate
                objectName: "backupGate"
                visible: !backupSheet.unlocked
                themed: true
                Layout.fillWidth: true
                Layout.leftMargin: 18
                Layout.rightMargin: 18
                hasPassword: backupSheet.hasPassword
                onSetPasswordRequested: password => backupSheet.setPasswordRequested(password)
                onVerifyRequested: password => backupSheet.verifyRequested(password)
            }

            BackupSecrets {
                objectName: "backupSecrets"
                visible: backupSheet.unlocked
                themed: true
                Layout.fillWidth: true
                Layout.leftMargin: 18
                Layout.rightMargin: 6
                gutter: 12
                // Scrolls only when the window is too low for all of it.
                Layout.preferredHeight: Math.min(contentHeight, backupSheet.maxHeight - 20 - 52 - 12 - 12 - 4)
                mnemonic: backupSheet.mnemonic
                privateKey: backupSheet.privateKey
                onCopyMnemonicClicked: backupSheet.copyMnemonicClicked()
                onCopyKeyClicked: backupSheet.copyKeyClicked()
            }

            Item { Layout.preferredHeight: 4 }
        }
    }
}
