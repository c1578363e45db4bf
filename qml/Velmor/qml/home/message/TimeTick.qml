import QtQuick
import Velmor
import "rowLogic.js" as Logic

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
    readonly property bool _ticked: root.tick !== ""

    implicitWidth: timeText.implicitWidth + (_ticked ? spacing + tickSize : 0)
    implicitHeight: Math.max(timeText.implicitHeight, _ticked ? tickSize : 0)

    Text {
        id: timeText
        objectName: "timeText"
        anchors.verticalCenter: parent.verticalCenter
        text: root.time
        textFormat: Text.PlainText
        color: root.textColor
        font.pixelSize: root.fontSize
    }
    // Drawn in its colour as a plain picture, one per tick and colour for
    // every row: a tinted icon takes a shader effect, made with each row.
    // Incoming messages have no tick and show no picture.
    Image {
        id: tickIcon
        objectName: "tickIcon"
        readonly property string name: root.tick
        visible: root._ticked
        x: timeText.implicitWidth + root.spacing
        anchors.verticalCenter: parent.verticalCenter
        width: root.tickSize
        height: root.tickSize
        sourceSize.width: 2 * root.tickSize
        sourceSize.height: 2 * root.tickSize
        source: root._ticked ? Logic.tickPicture(root.tick, root.tickColor) : ""
        opacity: root.tickColor.a
        smooth: true
    }
}
