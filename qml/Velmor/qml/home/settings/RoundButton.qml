import QtQuick
import Velmor
import ".."

// Round 30 px icon button of the page header.
Rectangle {
    id: btn

    property string icon: ""
    signal clicked()

    width: 30
    height: 30
    radius: 15
    color: ma.containsMouse ? "#33ffffff" : "#21ffffff"
    Accessible.role: Accessible.Button
    Accessible.name: icon
    activeFocusOnTab: true
    border.width: activeFocus ? 2 : 0
    border.color: "#e6ffffff"
    Keys.onSpacePressed: btn.clicked()
    Keys.onReturnPressed: btn.clicked()
    Keys.onEnterPressed: btn.clicked()

    TgIcon {
        anchors.centerIn: parent
        name: btn.icon
        size: 14
        color: "white"
    }
    MouseArea {
        id: ma
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: btn.clicked()
    }
}
