import QtQuick

// Capsule button of the login card: white and filled when primary, a
// translucent outline otherwise. Emits clicked only while enabled.
Rectangle {
    id: lb

    property string label: ""
    property bool primary: false
    readonly property bool hovered: lbMa.containsMouse

    signal clicked()

    implicitHeight: 44
    radius: 14
    opacity: enabled ? 1 : 0.45
    color: primary ? (hovered && enabled ? "#f2ffffff" : "#ffffff")
                   : (hovered && enabled ? "#2effffff" : "#1effffff")
    border.width: primary ? 0 : 1
    border.color: "#33ffffff"

    Text {
        objectName: "label"
        anchors.centerIn: parent
        text: lb.label
        color: lb.primary ? "#5f608b" : "#ffffff"
        font.pixelSize: 14
        font.weight: Font.Bold
    }

    MouseArea {
        id: lbMa
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: lb.enabled ? Qt.PointingHandCursor : Qt.ArrowCursor
        onClicked: {
            if (lb.enabled)
                lb.clicked()
        }
    }
}
