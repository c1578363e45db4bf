import QtQuick
import QtQuick.Layouts
import Velmor

// A contact that can be chosen as a member of a new group.
Rectangle {
    id: row

    property var contact: ({})
    property bool selected: false

    signal toggled()

    implicitHeight: 54
    radius: 12
    color: selected ? "#33ffffff" : (rowMa.containsMouse ? "#14ffffff" : "transparent")

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 12
        anchors.rightMargin: 14
        spacing: 10
        PaneAvatar {
            Layout.preferredWidth: 34
            Layout.preferredHeight: 34
            avatarId: row.contact.avatarId || ""
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 1
            Text {
                Layout.fillWidth: true
                text: row.contact.display || ""
                textFormat: Text.PlainText
                elide: Text.ElideRight
                color: "white"
                font.pixelSize: 13
                font.weight: Font.DemiBold
            }
            Text {
                Layout.fillWidth: true
                text: row.contact.address || ""
                textFormat: Text.PlainText
                elide: Text.ElideMiddle
                color: "#8cffffff"
                font.pixelSize: 10
            }
        }
        Rectangle {
            objectName: "checkCircle"
            Layout.preferredWidth: 22
            Layout.preferredHeight: 22
            radius: 11
            color: row.selected ? "#ffffff" : "transparent"
            border.width: 1.5
            border.color: row.selected ? "#ffffff" : "#66ffffff"
            TgIcon {
                anchors.centerIn: parent
                visible: row.selected
                name: "check1"
                size: 13
                color: "#5f608b"
            }
        }
    }

    MouseArea {
        id: rowMa
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: row.toggled()
    }
}
