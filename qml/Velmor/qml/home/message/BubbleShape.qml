import QtQuick

// A bubble's fill: every corner `radius`, except the corners flagged
// `tight`, which are 4 (the inner side of a run of messages from one
// sender). Rectangles of this Qt have one radius for all corners, so the
// tight corners of a side are covered by one piece of radius 4 laid over
// the round fill: a square of radius + 4 at a tight corner, or the whole
// side when both of its corners are tight. Its own other corners fall on
// the straight edges of the fill.
Item {
    id: root

    property color color: "transparent"
    property real radius: 16
    property bool tightTopLeft: false
    property bool tightTopRight: false
    property bool tightBottomLeft: false
    property bool tightBottomRight: false

    readonly property real _piece: Math.min(radius + 4, width / 2, height / 2)
    readonly property bool _filled: color.a > 0

    Rectangle {
        anchors.fill: parent
        radius: Math.min(root.radius, width / 2, height / 2)
        color: root.color
        visible: root._filled
    }
    Rectangle {
        objectName: "leftCorners"
        visible: root._filled && (root.tightTopLeft || root.tightBottomLeft)
        y: root.tightTopLeft ? 0 : root.height - height
        width: root._piece
        height: root.tightTopLeft && root.tightBottomLeft ? root.height : root._piece
        radius: 4
        color: root.color
    }
    Rectangle {
        objectName: "rightCorners"
        visible: root._filled && (root.tightTopRight || root.tightBottomRight)
        x: root.width - width
        y: root.tightTopRight ? 0 : root.height - height
        width: root._piece
        height: root.tightTopRight && root.tightBottomRight ? root.height : root._piece
        radius: 4
        color: root.color
    }
}
