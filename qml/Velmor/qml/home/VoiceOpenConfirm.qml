import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import Velmor

// Confirms opening a voice room for the shown super group. Its button calls
// VoiceRoom.openRoom(); once the user is connected it closes and emits
// roomEntered (the home view then opens the room popup). While it waits it
// shows how the connection goes, and a join that failed after the room was
// opened is tried again by the same button.
Popup {
    id: popup

    // The user is in the room: the home view opens the voice-room popup.
    signal roomEntered()

    // The button was used since the popup opened: the connection texts are
    // then about this attempt, not about a room held elsewhere.
    property bool attempted: false
    // Opened on the server, but the user is not in it (the join failed).
    readonly property bool openNotJoined: VoiceRoom.roomOpen && !VoiceRoom.activeForVisible
    // What the connection line says: while the controller works on an
    // attempt (opening, or joining again after a failed join) it is
    // connecting, whatever the last attempt left in connectionText.
    readonly property string stateText: VoiceRoom.busy ? I18n.tr("common.connecting") : I18n.said(VoiceRoom.connectionText)

    onAboutToShow: attempted = false

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    focus: true
    width: 430
    padding: 22
    height: column.implicitHeight + 44
    closePolicy: VoiceRoom.busy ? Popup.NoAutoClose : (Popup.CloseOnEscape | Popup.CloseOnPressOutside)

    background: Rectangle {
        radius: 22
        color: Theme.panelBg
        border.width: 1
        border.color: Theme.border
    }

    Connections {
        target: VoiceRoom
        function onStateChanged() {
            if (popup.opened && VoiceRoom.activeForVisible) {
                popup.close()
                popup.roomEntered()
            }
        }
        function onRoomClosedRemotely() { popup.close() }
    }

    contentItem: Column {
        id: column
        spacing: 14

        Item {
            anchors.horizontalCenter: parent.horizontalCenter
            width: 150
            height: 150
            Rectangle {
                anchors.centerIn: parent
                width: 116
                height: 116
                radius: 58
                color: Theme.dark ? "#24334d" : "#eaf2ff"
                opacity: 0.9
                SequentialAnimation on scale {
                    running: popup.visible
                    loops: Animation.Infinite
                    NumberAnimation { to: 1.08; duration: 720; easing.type: Easing.InOutSine }
                    NumberAnimation { to: 1.0; duration: 720; easing.type: Easing.InOutSine }
                }
            }
            TgIcon {
                anchors.centerIn: parent
                name: "mic"
                size: 62
                color: Theme.accent
                SequentialAnimation on rotation {
                    running: popup.visible
                    loops: Animation.Infinite
                    NumberAnimation { to: -4; duration: 500; easing.type: Easing.InOutSine }
                    NumberAnimation { to: 4; duration: 1000; easing.type: Easing.InOutSine }
                    NumberAnimation { to: 0; duration: 500; easing.type: Easing.InOutSine }
                }
            }
        }
        Text {
            width: parent.width
            wrapMode: Text.Wrap
            lineHeight: 1.45
            text: I18n.tr("voice.openText")
            color: Theme.textSecondary
            font.pixelSize: 13
        }
        Text {
            objectName: "connectionState"
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            visible: (popup.attempted || VoiceRoom.busy) && popup.stateText !== ""
            text: popup.stateText
            textFormat: Text.PlainText
            color: Theme.textSecondary
            font.pixelSize: 12
        }
        Text {
            objectName: "openError"
            width: parent.width
            wrapMode: Text.Wrap
            visible: VoiceRoom.lastError !== ""
            text: I18n.said(VoiceRoom.lastError)
            textFormat: Text.PlainText
            color: Theme.danger
            font.pixelSize: 12
        }
        Button {
            id: openButton
            objectName: "openRoomButton"
            width: parent.width
            height: 44
            enabled: !VoiceRoom.busy
            text: VoiceRoom.busy ? I18n.tr("common.connecting") : I18n.tr("voice.open")
            background: Rectangle {
                radius: 14
                color: openButton.enabled ? Theme.accent : Theme.buttonBg
            }
            contentItem: Text {
                text: openButton.text
                color: "white"
                font.bold: true
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
            }
            onClicked: {
                popup.attempted = true
                if (popup.openNotJoined)
                    VoiceRoom.joinRoom()
                else
                    VoiceRoom.openRoom()
            }
        }
        BusyIndicator {
            objectName: "openBusy"
            anchors.horizontalCenter: parent.horizontalCenter
            visible: VoiceRoom.busy
            running: VoiceRoom.busy
        }
    }
}
