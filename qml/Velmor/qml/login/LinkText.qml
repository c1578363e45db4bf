import QtQuick

// A text on the login card that acts as a hyperlink.
Text {
    id: link

    signal activated()

    color: linkMa.containsMouse ? "#ffffff" : "#d9ffffff"
    font.pixelSize: 12
    font.underline: linkMa.containsMouse

    MouseArea {
        id: linkMa
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: link.activated()
    }
}
