import QtQuick
import Velmor

// A white line icon from the module's icon folder, tinted at run time.
// The glyph is rasterised once at twice its size; colour and rotation are
// applied without reloading the SVG: a white icon is the glyph itself,
// any other colour is mixed in by an overlay (a shader effect, which
// software OpenGL compiles and runs pixel by pixel for every icon drawn).
Item {
    id: root

    property string name: ""
    property color color: Theme.textSecondary
    property int size: 24
    property real rotationAngle: 0

    implicitWidth: size
    implicitHeight: size

    readonly property bool _white: color.r === 1 && color.g === 1 && color.b === 1

    Image {
        id: img
        objectName: "iconImage"
        anchors.fill: parent
        source: root.name !== "" ? "../assets/icons/tg/" + root.name + ".svg" : ""
        sourceSize: Qt.size(2 * root.size, 2 * root.size)
        fillMode: Image.PreserveAspectFit
        smooth: true
        visible: root._white
        opacity: root.color.a
        rotation: root.rotationAngle
    }

    // The overlay mixes its colour into the glyph by the colour's alpha and
    // keeps the glyph's own alpha, so a translucent colour would come out as
    // an opaque blend with white (and "transparent" as a white glyph). It is
    // therefore given the opaque colour, and the alpha becomes the opacity.
    Loader {
        anchors.fill: parent
        active: !root._white
        Component.onCompleted: setSource("home/IconTint.qml", { "icon": root, "glyph": img })
    }
}
