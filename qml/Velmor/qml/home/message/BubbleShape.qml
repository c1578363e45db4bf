import QtQuick

// A bubble's fill: every corner `radius`, except the corners flagged
// `tight`, which are 4 (the inner side of a run of messages from one
// sender). Rectangles of this Qt have one radius for all corners, so each
// tight corner is a small square of radius 4 laid over the round one; it
// reaches 4 past the round part, so its own other corners fall on the
// straight edges of the fill.
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
        objectName: "cornerTopLeft"
        visible: root._filled && root.tightTopLeft
        width: root._piece; height: root._piece
        radius: 4
        color: root.color
    }
    Rectangle {
        objectName: "cornerTopRight"
        visible: root._filled && root.tightTopRight
        x: root.width - width
        width: root._piece; height: root._piece
        radius: 4
        color: root.color
    }
    Rectangle {
        objectName: "cornerBottomLeft"
        visible: root._filled && root.tightBottomLeft
        y: root.height - height
        width: root._piece; height: root._piece
        radius: 4
        color: root.color
    }
    Rectangle {
        objectName: "cornerBottomRight"
        visible: root._filled && root.tightBottomRight
        x: root.width - width
        y: root.height - height
        width: root._piece; height: root._piece
        radius: 4
        color: root.color
    }
}
