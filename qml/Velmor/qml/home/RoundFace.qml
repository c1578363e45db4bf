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

    CircleMask { id: circleMask }
}
