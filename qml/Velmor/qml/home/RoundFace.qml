import QtQuick
import Qt5Compat.GraphicalEffects

// A picture cropped to fill and masked to a circle with a soft rim (a mask,
// not a clip: clipping leaves the corners showing).
Image {
    id: face

    fillMode: Image.PreserveAspectCrop
    smooth: true
    asynchronous: true
    layer.enabled: true
    layer.smooth: true
    layer.effect: OpacityMask {
        maskSource: circleMask
    }

    Image {
        id: circleMask
        visible: false
        anchors.fill: parent
        sourceSize: Qt.size(256, 256)
        source: "data:image/svg+xml;utf8,%3Csvg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 100 100'%3E%3Ccircle cx='50' cy='50' r='50' fill='white'/%3E%3C/svg%3E"
    }
}
