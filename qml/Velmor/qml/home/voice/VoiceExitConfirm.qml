import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import Velmor

// Confirms leaving the voice room, or dissolving it for its opener or the
// group's owner. `confirmed` asks the room popup to do it.
Popup {
    id: popup

    property bool dissolves: false

    signal confirmed()

    function confirm() {
        popup.close()
        popup.confirmed()
    }

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    width: 340
    padding: 0

    T.Overlay.modal: Rectangle { color: "#66000000" }

    background: Rectangle {
        radius: 20
        border.width: 1
        border.color: "#33ffffff"
        gradient: Gradient {
            GradientStop { position: 0; color: "#1b1e33" }
            GradientStop { position: 1; color: "#2a2447" }
        }
    }

    component Capsule: Rectangle {
        id: capsule
        property string label: ""
        property color normal: "#1effffff"
        property color hover: "#2effffff"
        property bool strong: false
        signal clicked()
        height: 42
        radius: 21
        color: capsuleMouse.containsMouse ? hover : normal
        Text {
            anchors.centerIn: parent
            text: capsule.label
            color: "white"
            font.pixelSize: 13
            font.weight: capsule.strong ? Font.Bold : Font.DemiBold
        }
        MouseArea {
            id: capsuleMouse
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: capsule.clicked()
        }
    }

    contentItem: Column {
        spacing: 0
        Item { width: 1; height: 24 }
        Rectangle {
            anchors.horizontalCenter: parent.horizontalCenter
            width: 52
            height: 52
            radius: 26
            color: "#26ff453a"
            border.width: 1
            border.color: "#59ff453a"
            TgIcon { anchors.centerIn: parent; name: "logout"; size: 22; color: "#ff6b60" }
        }
        Item { width: 1; height: 14 }
        Text {
            objectName: "exitTitle"
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            text: I18n.tr(popup.dissolves ? "voice.dissolveQuestion" : "voice.leaveQuestion")
            color: "white"
            font.pixelSize: 17
            font.bold: true
        }
        Item { width: 1; height: 8 }
        Text {
            x: 28
            width: parent.width - 56
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: I18n.tr(popup.dissolves ? "voice.dissolveText" : "voice.leaveText")
            color: "#a6ffffff"
            font.pixelSize: 12
        }
        Item { width: 1; height: 22 }
        Row {
            x: 20
            width: parent.width - 40
            spacing: 10
            Capsule {
                objectName: "cancelExit"
                width: (parent.width - 10) / 2
                label: I18n.tr("common.cancel")
                border.width: 1
                border.color: "#33ffffff"
                onClicked: popup.close()
            }
            Capsule {
                objectName: "confirmExit"
                width: (parent.width - 10) / 2
                label: I18n.tr(popup.dissolves ? "voice.dissolve" : "voice.leave")
                normal: "#ff453a"
                hover: "#ff5f52"
                strong: true
                onClicked: popup.confirm()
            }
        }
        Item { width: 1; height: 20 }
    }
}
