import QtQuick
import Velmor

// The time of a message and, for an outgoing one still being sent or sent,
// its tick ("clock" or "check1").
Row {
    id: root

    property string time: ""
    property string tick: ""
    property color textColor: Theme.bubbleTimeIn
    property color tickColor: Theme.bubbleTick
    property int fontSize: Theme.fontFootnote
    property int tickSize: 13

    spacing: 3

    Text {
        objectName: "timeText"
        anchors.verticalCenter: parent.verticalCenter
        text: root.time
        textFormat: Text.PlainText
        color: root.textColor
        font.pixelSize: root.fontSize
    }
    TgIcon {
        objectName: "tickIcon"
        anchors.verticalCenter: parent.verticalCenter
        visible: root.tick !== ""
        name: root.tick
        size: root.tickSize
        color: root.tickColor
    }
}
