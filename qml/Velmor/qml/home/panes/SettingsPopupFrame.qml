import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import Velmor

// The dark glass frame of the group settings popups: a title bar with a
// close icon over whatever the popup puts in `body`.
Popup {
    id: frame

    property string title: ""
    default property alias body: bodyHolder.data

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    // Takes the keyboard focus, so Escape reaches it and closes it.
    focus: true
    width: 460
    height: parent ? Math.min(600, parent.height - 80) : 600
    padding: 0

    T.Overlay.modal: Rectangle { color: "#a6000000" }
    background: Rectangle {
        radius: 22
        border.width: 1
        border.color: "#33ffffff"
        gradient: Gradient {
            GradientStop { position: 0; color: "#1b1e33" }
            GradientStop { position: 1; color: "#2a2447" }
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0
        Item {
            Layout.fillWidth: true
            Layout.preferredHeight: 54
            Text {
                objectName: "popupTitle"
                anchors.left: parent.left
                anchors.leftMargin: 20
                anchors.verticalCenter: parent.verticalCenter
                text: frame.title
                color: "white"
                font.pixelSize: 17
                font.bold: true
            }
            TgIcon {
                id: closeIcon
                anchors.right: parent.right
                anchors.rightMargin: 18
                anchors.verticalCenter: parent.verticalCenter
                name: "close"
                size: 18
                color: "#8cffffff"
                MouseArea {
                    objectName: "popupClose"
                    anchors.fill: parent
                    anchors.margins: -8
                    cursorShape: Qt.PointingHandCursor
                    onClicked: frame.close()
                }
            }
            Rectangle {
                anchors.bottom: parent.bottom
                width: parent.width
                height: 1
                color: "#26ffffff"
            }
        }
        Item {
            id: bodyHolder
            Layout.fillWidth: true
            Layout.fillHeight: true
        }
    }
}
