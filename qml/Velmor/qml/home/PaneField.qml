import QtQuick
import QtQuick.Controls.Basic

// Text field of the pages on the main card.
TextField {
    id: field

    implicitHeight: 42
    leftPadding: 12
    rightPadding: 12
    font.pixelSize: 13
    color: "white"
    placeholderTextColor: "#8cffffff"
    selectByMouse: true

    background: Rectangle {
        radius: 11
        color: "#21ffffff"
        border.width: 1
        border.color: field.activeFocus ? "#66ffffff" : "transparent"
    }
}
