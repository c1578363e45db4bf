import QtQuick
import Velmor

Rectangle {
    id: root

    property string message: ""
    property bool outgoing: false
    property string timestamp: ""

    // At least as wide as the time and its margins, so a message shorter
    // than its timestamp ("k" at "12:30") keeps the time inside the bubble.
    implicitWidth: Math.min(520, Math.max(messageText.implicitWidth + 28,
                                          timeText.implicitWidth + 2 * Theme.space8))
    implicitHeight: messageText.implicitHeight + timeText.implicitHeight + 24
    radius: Theme.radiusLarge
    color: outgoing ? Theme.bubbleOut : Theme.bubbleIn

    Text {
        id: messageText
        objectName: "messageText"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.margins: Theme.space12
        text: root.message
        textFormat: Text.PlainText
        color: Theme.textPrimary
        font.pixelSize: Theme.fontBody
        wrapMode: Text.Wrap
    }

    Text {
        id: timeText
        objectName: "timeText"
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: Theme.space8
        text: root.timestamp
        textFormat: Text.PlainText
        color: Theme.textMuted
        font.pixelSize: Theme.fontCaption
    }
}
