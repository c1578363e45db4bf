import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import ".."
import Velmor

// "我的群资料": the user's nickname in a super group and its mute switch.
GlassCard {
    id: card

    property bool myMuted: false
    // A save or another action of the settings runs: no second save.
    property bool busy: false
    readonly property alias nicknameField: nicknameField
    readonly property alias muteSwitch: muteSwitch
    property bool _filling: false

    signal nicknameEdited(string text)
    signal muteRequested(bool on)
    signal saveClicked()

    function fill(text) {
        _filling = true
        nicknameField.text = text
        _filling = false
    }

    implicitHeight: column.implicitHeight + 24

    ColumnLayout {
        id: column
        x: 16
        y: 12
        width: parent.width - 32
        spacing: 8
        Text { text: I18n.tr("sg.myProfile"); color: "white"; font.pixelSize: 15; font.bold: true }
        PaneField {
            id: nicknameField
            implicitHeight: 38
            objectName: "sgNicknameField"
            Layout.fillWidth: true
            placeholderText: I18n.tr("sg.myNickname")
            onTextChanged: if (!card._filling) card.nicknameEdited(text)
        }
        RowLayout {
            Text { Layout.fillWidth: true; text: I18n.tr("sg.muteNotifications"); color: "#b3ffffff"; font.pixelSize: 12 }
            StoredSwitch {
                id: muteSwitch
                objectName: "sgMuteSwitch"
                stored: card.myMuted
                onRequested: (on) => card.muteRequested(on)
            }
        }
        WhiteWideButton {
            objectName: "saveProfileButton"
            Layout.fillWidth: true
            label: I18n.tr("sg.saveProfile")
            enabled: !card.busy
            onClicked: card.saveClicked()
        }
    }
}
