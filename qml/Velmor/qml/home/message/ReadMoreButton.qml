import QtQuick
import Velmor

// The "…" control under a text bubble's cut text (`bubble`): asks for the
// whole text.
Rectangle {
    required property Item bubble

    objectName: "readMoreButton"
    width: 34
    height: 20
    radius: 10
    color: bubble.outgoing ? "#22000000" : Theme.buttonBg

    Text {
        anchors.centerIn: parent
        text: "…"
        font.pixelSize: Theme.fontBody
        font.weight: Font.DemiBold
        color: bubble.ink
    }
    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: bubble.fullTextRequested()
    }
}
