import QtQuick

// A bubble's fill: every corner `radius`, except the corners flagged
// `tight`, which are 4 (the inner side of a run of messages from one
// sender, so the corners of one side only). Rectangles of this Qt have one
// radius for all corners, so the tight corners are covered by one piece of
// radius 4 laid over the round fill: a square of radius + 4 at a tight
// corner, or the whole side when both of its corners are tight. Its own
// other corners fall on the straight edges of the fill.
Rectangle {
    id: root

    property bool tightTopLeft: false
    property bool tightTopRight: false
    property bool tightBottomLeft: false
    property bool tightBottomRight: false

    readonly property bool _left: tightTopLeft || tightBottomLeft
    readonly property bool _top: _left ? tightTopLeft : tightTopRight
    readonly property bool _bottom: _left ? tightBottomLeft : tightBottomRight
    readonly property real _piece: Math.min(radius + 4, width / 2, height / 2)

    color: "transparent"
    radius: 16

    Rectangle {
        objectName: "tightCorners"
        visible: root.color.a > 0 && (root._top || root._bottom)
        x: root._left ? 0 : root.width - width
        y: root._top ? 0 : root.height - height
        width: root._piece
        height: root._top && root._bottom ? root.height : root._piece
        radius: 4
        color: root.color
    }
}
