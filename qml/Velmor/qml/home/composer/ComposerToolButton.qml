import QtQuick
import QtQuick.Controls.Basic
import Velmor

// A flat 36 x 36 icon button of the composer's tool row.
Button {
    id: button

    property string iconName: ""
    property color iconColor: Theme.textSecondary
    property color hoverFill: Theme.hoverBg
    // Keeps the hover fill while something the button toggles is shown.
    property bool lit: false

    flat: true
    hoverEnabled: true
    padding: 0
    implicitWidth: 36
    implicitHeight: 36
    focusPolicy: Qt.NoFocus

    background: Rectangle {
        radius: 10
        color: button.hovered || button.lit ? button.hoverFill : "transparent"
    }
    contentItem: Item {
        TgIcon {
            anchors.centerIn: parent
            name: button.iconName
            size: 21
            color: button.iconColor
        }
    }
}
