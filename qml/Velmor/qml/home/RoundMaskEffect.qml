import QtQuick
import Qt5Compat.GraphicalEffects

// The layer effect that cuts a CircleAvatar's group-server picture to a
// circle. Its own document, made by address once such a picture has
// loaded: the graphical effects' module is not loaded with every list of
// avatars.
OpacityMask {
    maskSource: circle

    CircleMask { id: circle }
}
