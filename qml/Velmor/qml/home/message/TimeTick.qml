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
    readonly property bool _ticked: root.tick !== ""

    implicitWidth: timeText.implicitWidth + (_ticked ? spacing + tickSize : 0)
    implicitHeight: Math.max(timeText.implicitHeight, _ticked ? tickSize : 0)

    // The outlines of the icons of the same names ("clock", "check1"),
    // stroked in the colour asked for (its alpha apart: the item fades it).
    readonly property var _shapes: ({
        "clock": "<circle cx=\"12\" cy=\"12\" r=\"8.6\"/><path d=\"M12 7.2V12l3.3 2\"/>",
        "check1": "<path d=\"M5 12.6l4.4 4.4L19 7.4\"/>"
    })
    function _tickSource(name, ink) {
        var shape = _shapes[name]
        if (shape === undefined)
            return ""
        var hex = function (v) {
            var n = Math.max(0, Math.min(255, Math.round(v * 255)))
            return (n < 16 ? "0" : "") + n.toString(16)
        }
        return "data:image/svg+xml;base64," + Qt.btoa(
            "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 24 24\" width=\"24\" height=\"24\">"
            + "<g fill=\"none\" stroke=\"#" + hex(ink.r) + hex(ink.g) + hex(ink.b) + "\" stroke-width=\"1.8\""
            + " stroke-linecap=\"round\" stroke-linejoin=\"round\">" + shape + "</g></svg>")
    }

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
        sourceSize: Qt.size(2 * root.tickSize, 2 * root.tickSize)
        source: root._ticked ? root._tickSource(root.tick, root.tickColor) : ""
        opacity: root.tickColor.a
        smooth: true
    }
}
