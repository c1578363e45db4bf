import QtQuick
import QtQuick.Layouts
import Velmor

// One clickable row of the profile view's settings list: icon, title, a
// value or a small avatar, and a chevron (none on a danger row).
Rectangle {
    id: row

    property string icon: ""
    property string title: ""
    property string value: ""
    property string trailingAvatarId: ""
    property bool danger: false
    property bool lastRow: false

    signal clicked()

    Layout.fillWidth: true
    Layout.preferredHeight: 46
    implicitHeight: 46
    color: rowHover.hovered ? Theme.hoverBg : "transparent"
    Accessible.role: Accessible.Button
    Accessible.name: title

    HoverHandler { id: rowHover }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 14
        anchors.rightMargin: 14
        spacing: 14

        TgIcon {
            name: row.icon
            size: 22
            color: row.danger ? Theme.danger : Theme.textSecondary
        }
        Text {
            objectName: "rowTitle"
            Layout.fillWidth: true
            text: row.title
            textFormat: Text.PlainText
            font.pixelSize: Theme.fontBody
            color: row.danger ? Theme.danger : Theme.textPrimary
            elide: Text.ElideRight
        }
        Text {
            objectName: "rowValue"
            visible: row.value !== "" && row.trailingAvatarId === ""
            text: row.value
            textFormat: Text.PlainText
            font.pixelSize: Theme.fontBody
            color: Theme.textSecondary
        }
        Rectangle {
            objectName: "rowAvatar"
            visible: row.trailingAvatarId !== ""
            Layout.preferredWidth: 30
            Layout.preferredHeight: 30
            radius: 15
            color: Theme.avatarBg
            clip: true
            AvatarView {
                anchors.fill: parent
                avatarId: row.trailingAvatarId
            }
        }
        TgIcon {
            objectName: "rowChevron"
            visible: !row.danger
            name: "back"
            size: 13
            rotationAngle: 180
            color: Theme.textMuted
        }
    }

    Rectangle {
        objectName: "rowDivider"
        visible: !row.lastRow
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.leftMargin: 50
        height: 1
        color: Theme.border
    }

    MouseArea {
        objectName: "rowArea"
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: row.clicked()
    }
}
