import QtQuick
import QtQuick.Controls.Basic
import Velmor

// A flat rounded text button of the composer (the long draft's "Edit" and
// "Remove", the undo of a removal): `fill` at rest, `hoverFill` under the
// pointer.
Button {
    id: button

    property string label
    property color fill: "transparent"
    property color hoverFill: Theme.hoverBg
    property color ink: Theme.textPrimary

    flat: true
    hoverEnabled: true
    focusPolicy: Qt.NoFocus
    padding: 0
    implicitWidth: labelText.implicitWidth + 24
    implicitHeight: 26
    background: Rectangle {
        radius: height / 2
        color: button.hovered ? button.hoverFill : button.fill
    }
    contentItem: Text {
        id: labelText
        text: button.label
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        font.pixelSize: Theme.fontCaption
        color: button.ink
    }
}
