import QtQuick
import QtQuick.Layouts
import Velmor
import ".."

// The backup password gate: the first visit sets a password (twice, with
// the acknowledgement), later visits ask for it. The owner checks the
// password with "App" and sets wrongPassword or unlocks. `themed` draws it
// with the theme's colours (the profile view's sheet) instead of white on
// the gradient card.
ColumnLayout {
    id: gate

    property bool hasPassword: false
    property bool wrongPassword: false
    property bool themed: false
    property int maxFormWidth: 480
    property color textColor: themed ? Theme.textPrimary : "white"
    property color noteColor: themed ? Theme.textSecondary : "#b3ffffff"
    readonly property color errorColor: themed ? Theme.danger : "#ff6b6b"

    signal setPasswordRequested(string password)
    signal verifyRequested(string password)

    // A fresh opening: empty fields, no tick, no notice.
    function reset() {
        bkupPwd1.text = ""
        bkupPwd2.text = ""
        bkupPwdIn.text = ""
        bkupAck.checked = false
        wrongPassword = false
    }

    spacing: 14

    Item { Layout.preferredHeight: 6 }

    ColumnLayout {
        objectName: "backupSetForm"
        visible: !gate.hasPassword
        Layout.fillWidth: true
        Layout.maximumWidth: gate.maxFormWidth
        spacing: 12
        Text { text: I18n.tr("backup.setTitle"); color: gate.textColor; font.pixelSize: 16; font.bold: true }
        Text {
            Layout.fillWidth: true
            text: I18n.tr("backup.setHint")
            color: gate.noteColor
            font.pixelSize: 12
            wrapMode: Text.Wrap
        }
        PaneField {
            id: bkupPwd1
            objectName: "bkupPwd1"
            Layout.fillWidth: true
            themed: gate.themed
            echoMode: TextInput.Password
            placeholderText: I18n.tr("backup.password")
        }
        PaneField {
            id: bkupPwd2
            objectName: "bkupPwd2"
            Layout.fillWidth: true
            themed: gate.themed
            echoMode: TextInput.Password
            placeholderText: I18n.tr("backup.passwordAgain")
        }
        Text {
            objectName: "bkupMismatch"
            visible: bkupPwd2.text !== "" && bkupPwd2.text !== bkupPwd1.text
            text: I18n.tr("backup.mismatch")
            color: gate.errorColor
            font.pixelSize: 11
        }
        // Tab goes round the form's controls and stays in it.
        BackupAck {
            id: bkupAck
            objectName: "bkupAck"
            themed: gate.themed
            Layout.fillWidth: true
            KeyNavigation.tab: bkupSetButton.enabled ? bkupSetButton : bkupPwd1
        }
        PaneBtn {
            id: bkupSetButton
            KeyNavigation.tab: bkupPwd1
            objectName: "bkupSetButton"
            Layout.fillWidth: true
            Layout.preferredHeight: 42
            primary: true
            themed: gate.themed
            label: I18n.tr("backup.setAndView")
            enabled: bkupPwd1.text !== "" && bkupPwd1.text === bkupPwd2.text && bkupAck.checked
            onClicked: gate.setPasswordRequested(bkupPwd1.text)
        }
    }

    ColumnLayout {
        objectName: "backupEnterForm"
        visible: gate.hasPassword
        Layout.fillWidth: true
        Layout.maximumWidth: gate.maxFormWidth
        spacing: 12
        Text { text: I18n.tr("backup.enterTitle"); color: gate.textColor; font.pixelSize: 16; font.bold: true }
        PaneField {
            id: bkupPwdIn
            objectName: "bkupPwdIn"
            Layout.fillWidth: true
            themed: gate.themed
            echoMode: TextInput.Password
            placeholderText: I18n.tr("backup.passwordShort")
            KeyNavigation.tab: bkupVerifyButton.enabled ? bkupVerifyButton : bkupPwdIn
            onAccepted: gate.verifyRequested(text)
        }
        Text {
            objectName: "bkupErrText"
            visible: gate.wrongPassword
            text: I18n.tr("backup.wrong")
            color: gate.errorColor
            font.pixelSize: 11
        }
        PaneBtn {
            id: bkupVerifyButton
            KeyNavigation.tab: bkupPwdIn
            objectName: "bkupVerifyButton"
            Layout.fillWidth: true
            Layout.preferredHeight: 42
            primary: true
            themed: gate.themed
            label: I18n.tr("backup.view")
            enabled: bkupPwdIn.text !== ""
            onClicked: gate.verifyRequested(bkupPwdIn.text)
        }
    }

    Item { Layout.fillHeight: true }
}
