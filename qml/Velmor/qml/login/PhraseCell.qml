import QtQuick
import QtQuick.Controls.Basic

// One word cell of the recovery-phrase grid, numbered by its placeholder.
TextField {
    id: cell

    property int cellIndex: 0

    placeholderText: String(cellIndex + 1)
    selectByMouse: true
    font.pixelSize: 12
    color: "white"
    placeholderTextColor: "#59ffffff"
    leftPadding: 8
    rightPadding: 4
    topPadding: 10
    bottomPadding: 10

    background: Rectangle {
        radius: 10
        color: "#14ffffff"
        border.width: 1
        border.color: cell.activeFocus ? "#66ffffff" : "#26ffffff"
    }
}
