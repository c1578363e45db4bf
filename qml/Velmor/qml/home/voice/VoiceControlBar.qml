import QtQuick
import Velmor

// The control bar along the room card's foot: device choices (only with
// more than one device), the microphone (only with the speaking right) and
// the exit capsule.
Rectangle {
    id: bar

    property var inputDevices: []
    property var outputDevices: []
    property bool canPublish: false
    property bool micEnabled: false
    // The opener or the group's owner: the exit dissolves the room.
    property bool dissolves: false

    signal inputPicked(string id)
    signal outputPicked(string id)
    signal micToggled()
    signal exitClicked()

    height: 96
    color: "transparent"

    // The fill ("#26000000"): rounded at the foot like the card, squared off
    // at the top by a strip. Both are drawn opaque under one opacity so the
    // overlap does not show darker (one layer).
    Item {
        anchors.fill: parent
        opacity: 0x26 / 255
        layer.enabled: true
        Rectangle { anchors.fill: parent; radius: 24; color: "black" }
        Rectangle {
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            height: 24
            color: "black"
        }
    }
    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        height: 1
        color: "#1fffffff"
    }

    Row {
        anchors.centerIn: parent
        spacing: 18

        DeviceChoice {
            objectName: "inputChoice"
            anchors.verticalCenter: parent.verticalCenter
            visible: !!bar.inputDevices && bar.inputDevices.length > 1
            model: bar.inputDevices
            onPicked: (id) => bar.inputPicked(id)
        }
        DeviceChoice {
            objectName: "outputChoice"
            anchors.verticalCenter: parent.verticalCenter
            visible: !!bar.outputDevices && bar.outputDevices.length > 1
            model: bar.outputDevices
            onPicked: (id) => bar.outputPicked(id)
        }
        Rectangle {
            objectName: "micButton"
            anchors.verticalCenter: parent.verticalCenter
            visible: bar.canPublish
            width: 56
            height: 56
            radius: 28
            color: bar.micEnabled ? (micMouse.containsMouse ? "#4fb87a" : "#39c878")
                                  : (micMouse.containsMouse ? "#33ffffff" : "#21ffffff")
            border.width: bar.micEnabled ? 0 : 1
            border.color: "#4dffffff"
            TgIcon {
                anchors.centerIn: parent
                name: bar.micEnabled ? "mic" : "mute"
                size: 24
                color: "white"
            }
            MouseArea {
                id: micMouse
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onClicked: bar.micToggled()
            }
        }
        Rectangle {
            objectName: "exitButton"
            anchors.verticalCenter: parent.verticalCenter
            width: exitLabel.implicitWidth + 44
            height: 44
            radius: 22
            color: exitMouse.containsMouse ? "#ff5f52" : "#ff453a"
            Row {
                anchors.centerIn: parent
                spacing: 7
                TgIcon { anchors.verticalCenter: parent.verticalCenter; name: "logout"; size: 16; color: "white" }
                Text {
                    id: exitLabel
                    objectName: "exitLabel"
                    anchors.verticalCenter: parent.verticalCenter
                    text: I18n.tr(bar.dissolves ? "voice.dissolve" : "voice.leave")
                    color: "white"
                    font.pixelSize: 13
                    font.weight: Font.DemiBold
                }
            }
            MouseArea {
                id: exitMouse
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onClicked: bar.exitClicked()
            }
        }
    }
}
