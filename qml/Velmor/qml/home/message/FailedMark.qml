import QtQuick
import Velmor

// The red "!" beside a message that could not be sent; a click asks for
// the message to be sent again. The click area reaches 6 past the circle.
Rectangle {
    id: root

    signal retryClicked()

    width: 18
    height: 18
    radius: 9
    color: Theme.danger

    Text {
        anchors.centerIn: parent
        text: "!"
        textFormat: Text.PlainText
        color: "white"
        font.pixelSize: 11
        font.bold: true
    }
    MouseArea {
        objectName: "retryArea"
        anchors.fill: parent
        anchors.margins: -6
        cursorShape: Qt.PointingHandCursor
        onClicked: root.retryClicked()
    }
}
