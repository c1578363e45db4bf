import QtQuick
import Qt5Compat.GraphicalEffects
import Velmor

// A white line icon from the module's icon folder, tinted at run time.
// The glyph is rasterised once at twice its size; colour and rotation are
// applied by the overlay without reloading the SVG.
Item {
    id: root

    property string name: ""
    property color color: Theme.textSecondary
    property int size: 24
    property real rotationAngle: 0

    implicitWidth: size
    implicitHeight: size

    Image {
        id: img
        objectName: "iconImage"
        anchors.fill: parent
        source: root.name !== "" ? "../assets/icons/tg/" + root.name + ".svg" : ""
        sourceSize: Qt.size(2 * root.size, 2 * root.size)
        fillMode: Image.PreserveAspectFit
        smooth: true
        visible: false
    }

    ColorOverlay {
        id: tint
        anchors.fill: parent
        source: img
        color: root.color
        rotation: root.rotationAngle
        visible: img.status === Image.Ready
    }
}
