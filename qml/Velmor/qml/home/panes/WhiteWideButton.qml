import QtQuick

// The full-width white buttons of the super-group cards.
Rectangle {
    id: btn

    property string label: ""

    signal clicked()

    implicitHeight: 38
    radius: 11
    color: ma.containsMouse ? "#f2ffffff" : "#ffffff"
    // Disabled (a request of its own runs): dimmed, and the mouse area
    // below takes no clicks.
    opacity: enabled ? 1 : 0.5
    Accessible.role: Accessible.Button
    Accessible.name: label

    Text {
        anchors.centerIn: parent
        text: btn.label
        color: "#5f608b"
        font.pixelSize: 13
        font.weight: Font.DemiBold
    }
    MouseArea {
        id: ma
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: btn.clicked()
    }
}
