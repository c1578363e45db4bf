import QtQuick
import QtQuick.Layouts
import Qt5Compat.GraphicalEffects
import Velmor

// A rounded card that stacks the rows written inside it, touching.
Rectangle {
    id: group

    default property alias rows: groupCol.data

    Layout.fillWidth: true
    implicitHeight: groupCol.implicitHeight
    radius: Theme.radiusMedium
    color: Theme.cardBg
    border.width: 1
    border.color: Theme.border
    clip: true
    // A hovered row's background follows the rounded corners.
    layer.enabled: true
    layer.effect: OpacityMask {
        maskSource: Rectangle { width: group.width; height: group.height; radius: group.radius }
    }

    ColumnLayout {
        id: groupCol
        anchors.left: parent.left
        anchors.right: parent.right
        spacing: 0
    }
}
