import QtQuick
import QtQuick.Controls.Basic
import Velmor

// Text field of the pages on the main card; `themed` draws it with the
// theme's colours for the white (or dark) sheets instead.
TextField {
    id: field

    property bool themed: false

    implicitHeight: 42
    leftPadding: 12
    rightPadding: 12
    font.pixelSize: 13
    color: themed ? Theme.textPrimary : "white"
    placeholderTextColor: themed ? Theme.placeholder : "#8cffffff"
    selectByMouse: true

    background: Rectangle {
        radius: 11
        color: field.themed ? Theme.buttonBg : "#21ffffff"
        border.width: 1
        border.color: !field.activeFocus ? "transparent" : (field.themed ? Theme.brandBlue : "#66ffffff")
    }
}
