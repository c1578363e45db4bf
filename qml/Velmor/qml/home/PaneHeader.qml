import QtQuick
import QtQuick.Layouts
import Velmor

// Title and round close button at the top of a page of the main card.
RowLayout {
    id: header

    property string title: ""

    signal closeClicked()

    spacing: 10

    Text {
        objectName: "paneTitle"
        Layout.fillWidth: true
        text: header.title
        color: "white"
        font.pixelSize: 20
        font.bold: true
        elide: Text.ElideRight
    }

    Rectangle {
        objectName: "paneCloseButton"
        Layout.preferredWidth: 30
        Layout.preferredHeight: 30
        radius: 15
        color: closeMa.containsMouse ? "#33ffffff" : "#21ffffff"
        Accessible.role: Accessible.Button
        Accessible.name: I18n.tr("common.close")
        TgIcon {
            anchors.centerIn: parent
            name: "close"
            size: 14
            color: "white"
        }
        MouseArea {
            id: closeMa
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: header.closeClicked()
        }
    }
}
