import QtQuick
import QtQuick.Layouts
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

    ColumnLayout {
        id: groupCol
        anchors.left: parent.left
        anchors.right: parent.right
        spacing: 0
    }
}
