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
    readonly property real timeWidth: timeText.implicitWidth
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
    // Incoming messages have no tick and make no picture.
    property Item _tickIcon: null
    function _holdTick() {
        if (!_ticked) {
            if (_tickIcon !== null) {
                // Hidden at once; deleted a turn later.
                _tickIcon.visible = false
                _tickIcon.destroy()
                _tickIcon = null
            }
        } else if (_tickIcon === null) {
            _tickIcon = Qt.createComponent("TickIcon.qml").createObject(root, { "meta": root })
        }
    }
    on_TickedChanged: _holdTick()
    Component.onCompleted: {
        if (_ticked)
            _holdTick()
    }
}
