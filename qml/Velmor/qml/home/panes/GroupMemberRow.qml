import QtQuick
import QtQuick.Layouts
import Velmor

// One member of a normal group; the owner sees "移除" on the others.
Item {
    id: row

    property var member: ({})
    property bool canRemove: false
    property bool lastRow: false

    signal removeClicked()

    implicitHeight: 50

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 16
        anchors.rightMargin: 12
        spacing: 10
        PaneAvatar {
            Layout.preferredWidth: 34
            Layout.preferredHeight: 34
            color: row.member.isOwner === true ? Theme.accent : "#26ffffff"
            avatarId: row.member.avatarId || ""
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 1
            RowLayout {
                Layout.fillWidth: true
                spacing: 6
                Text {
                    Layout.maximumWidth: 200
                    text: row.member.name || ""
                    textFormat: Text.PlainText
                    elide: Text.ElideRight
                    color: "white"
                    font.pixelSize: 14
                    font.weight: Font.Medium
                }
                Text {
                    objectName: "ownerTag"
                    visible: row.member.isOwner === true
                    text: I18n.tr("role.owner")
                    color: Theme.brandBlue
                    font.pixelSize: 11
                    font.bold: true
                }
                Text {
                    objectName: "meTag"
                    visible: row.member.isMe === true
                    text: I18n.tr("common.me")
                    color: "#8cffffff"
                    font.pixelSize: 11
                }
                Item { Layout.fillWidth: true }
            }
            Text {
                Layout.fillWidth: true
                text: row.member.shortKey || ""
                textFormat: Text.PlainText
                color: "#8cffffff"
                font.pixelSize: 11
                font.family: "Menlo"
            }
        }
        Text {
            objectName: "removeMember"
            visible: row.canRemove
            opacity: row.enabled ? 1 : 0.5
            text: I18n.tr("common.remove")
            color: Theme.danger
            font.pixelSize: 13
            MouseArea {
                anchors.fill: parent
                anchors.margins: -8
                cursorShape: Qt.PointingHandCursor
                onClicked: row.removeClicked()
            }
        }
    }
    Rectangle {
        visible: !row.lastRow
        anchors.bottom: parent.bottom
        x: 16
        width: parent.width - 16
        height: 1
        color: "#26ffffff"
    }
}
