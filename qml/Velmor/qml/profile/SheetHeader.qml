import QtQuick
import QtQuick.Layouts
import Velmor

// Title bar of a sheet: centred title, close icon at the right, a line below.
Item {
    id: bar

    property string title: ""

    signal closeClicked()

    Layout.fillWidth: true
    Layout.preferredHeight: 52
    implicitHeight: 52

    Text {
        objectName: "sheetTitle"
        anchors.centerIn: parent
        text: bar.title
        font.pixelSize: Theme.fontTitle3
        font.bold: true
        color: Theme.textPrimary
    }
    TgIcon {
        anchors.right: parent.right
        anchors.rightMargin: 18
        anchors.verticalCenter: parent.verticalCenter
        name: "close"
        size: 18
        color: Theme.textMuted
        MouseArea {
            objectName: "sheetClose"
            anchors.fill: parent
            anchors.margins: -8
            cursorShape: Qt.PointingHandCursor
            onClicked: bar.closeClicked()
        }
    }
    Rectangle {
        anchors.bottom: parent.bottom
        width: parent.width
        height: 1
        color: Theme.border
    }
}
