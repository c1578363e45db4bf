import QtQuick
import Qt5Compat.GraphicalEffects
import Velmor

// The colour of a TgIcon that is not white: an overlay mixing it into the
// icon's glyph. Its own document, made by address: the graphical effects'
// module loads with the first icon that is tinted, not with every view
// that shows an icon.
ColorOverlay {
    // The icon it tints, and the icon's glyph.
    property TgIcon icon: null
    property Image glyph: null

    objectName: "iconTint"
    source: glyph
    color: icon ? Qt.rgba(icon.color.r, icon.color.g, icon.color.b, 1) : "transparent"
    opacity: icon ? icon.color.a : 0
    rotation: icon ? icon.rotationAngle : 0
    visible: glyph !== null && glyph.status === Image.Ready
}
