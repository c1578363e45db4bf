import QtQuick
import QtQuick.Layouts
import Velmor

// One row of a settings list on the main card.
Rectangle {
    id: row

    property string icon: ""
    property string label: ""
    property string value: ""
    property bool danger: false
    property bool lastRow: false

    signal clicked()

    Layout.fillWidth: true
    Layout.preferredHeight: 50
    implicitHeight: 50
    color: ma.containsMouse ? "#14ffffff" : "transparent"
    Accessible.role: Accessible.Button
    Accessible.name: label

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 16
        anchors.rightMargin: 14
        spacing: 14

        TgIcon {
            name: row.icon
            size: 20
            color: row.danger ? "#ff9d94" : "#d9ffffff"
        }
        Text {
            objectName: "setRowLabel"
            Layout.fillWidth: true
            text: row.label
            textFormat: Text.PlainText
            font.pixelSize: 14
            color: row.danger ? "#ff9d94" : "white"
            elide: Text.ElideRight
        }
        Text {
            objectName: "setRowValue"
            visible: row.value !== ""
            text: row.value
            textFormat: Text.PlainText
            font.pixelSize: 13
            color: "#b3ffffff"
        }
        TgIcon {
            objectName: "setRowChevron"
            visible: !row.danger
            name: "back"
            size: 12
            rotationAngle: 180
            color: "#8cffffff"
        }
    }

    Rectangle {
        objectName: "setRowDivider"
        visible: !row.lastRow
        x: 50
        width: row.width - 50
        height: 1
        anchors.bottom: parent.bottom
        color: "#1affffff"
    }

    MouseArea {
        id: ma
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: row.clicked()
    }
}
