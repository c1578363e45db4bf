import QtQuick
import QtQuick.Window
import Qt5Compat.GraphicalEffects

// A picture cropped to fill and masked to a circle with a soft rim (a mask,
// not a clip: clipping leaves the corners showing). It is decoded at the
// size it is shown (at least 64 pixels), whatever size the file has.
Image {
    id: face

    sourceSize: Qt.size(Math.max(64, Math.ceil(width * Screen.devicePixelRatio)),
                        Math.max(64, Math.ceil(height * Screen.devicePixelRatio)))

    fillMode: Image.PreserveAspectCrop
    smooth: true
    asynchronous: true
    layer.enabled: true
    layer.smooth: true
    layer.effect: OpacityMask {
        maskSource: circleMask
    }

    CircleMask { id: circleMask }
}
