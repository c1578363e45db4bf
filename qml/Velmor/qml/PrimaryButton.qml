import QtQuick
import QtQuick.Controls.Basic
import Velmor

Button {
    id: control

    property color buttonColor: Theme.brandBlue

    implicitHeight: Theme.controlHeight
    leftPadding: Theme.space20
    rightPadding: Theme.space20
    focusPolicy: Qt.StrongFocus
    Accessible.name: text

    contentItem: Text {
        text: control.text
        textFormat: Text.PlainText
        color: "white"
        font.pixelSize: Theme.fontBody
        font.weight: Font.DemiBold
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    background: Rectangle {
        objectName: "buttonBackground"
        radius: Theme.radiusMedium
        color: !control.enabled ? Qt.rgba(control.buttonColor.r, control.buttonColor.g,
                                          control.buttonColor.b, 0.42)
             : control.down ? Qt.darker(control.buttonColor, 1.12)
             : control.buttonColor

        Behavior on color { ColorAnimation { duration: Theme.durationFast } }
    }
}
