import QtQuick
import Velmor

// The time of a message and, for an outgoing one still being sent or sent,
// its tick ("clock" or "check1") 3 px after it, both centred on one line.
// Laid out by hand rather than by a Row: every shown message has one.
Item {
    id: root

    property string time: ""
    property string tick: ""
    property color textColor: Theme.bubbleTimeIn
    property color tickColor: Theme.bubbleTick
    property int fontSize: Theme.fontFootnote
    property int tickSize: 13

    readonly property real spacing: 3

    implicitWidth: timeText.implicitWidth + (tickIcon.active ? spacing + tickSize : 0)
    implicitHeight: Math.max(timeText.implicitHeight, tickIcon.active ? tickSize : 0)

    Text {
        id: timeText
        objectName: "timeText"
        anchors.verticalCenter: parent.verticalCenter
        text: root.time
        textFormat: Text.PlainText
        color: root.textColor
        font.pixelSize: root.fontSize
    }
    // Incoming messages have no tick: their rows make no icon.
    Loader {
        id: tickIcon
        x: timeText.implicitWidth + root.spacing
        anchors.verticalCenter: parent.verticalCenter
        active: root.tick !== ""
        visible: active
        sourceComponent: TgIcon {
            objectName: "tickIcon"
            name: root.tick
            size: root.tickSize
            color: root.tickColor
        }
    }
}
