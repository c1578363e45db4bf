import QtQuick

// The small rounded text buttons of the settings cards ("改名", "修改", ...).
Rectangle {
    id: pill

    property string label: ""
    property int pad: 8
    property int fontSize: 13
    property color textColor: "white"

    signal clicked()

    implicitWidth: labelText.implicitWidth + 2 * pad
    implicitHeight: labelText.implicitHeight + 2 * pad
    radius: 10
    color: "#26ffffff"
    Accessible.role: Accessible.Button
    Accessible.name: label

    Text {
        id: labelText
        anchors.centerIn: parent
        text: pill.label
        color: pill.textColor
        font.pixelSize: pill.fontSize
    }
    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: pill.clicked()
    }
}
