import QtQuick

// The circle that round pictures are masked with: a white disc drawn from
// an SVG at 256 x 256, soft at the rim.
Image {
    visible: false
    anchors.fill: parent
    sourceSize: Qt.size(256, 256)
    smooth: true
    source: "data:image/svg+xml;utf8,%3Csvg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 100 100'%3E%3Ccircle cx='50' cy='50' r='50' fill='white'/%3E%3C/svg%3E"
}
