import QtQuick
import QtQuick.Layouts
import Velmor

// One member of a super group with its role tags and, where the user's role
// allows, the role and removal buttons.
Item {
    id: row

    property var member: ({})
    // "sg:" + the group's server: its own pictures may be shown.
    property string groupPeer: ""
    property bool canSetRole: false
    property bool canRemove: false
    property bool lastRow: false

    readonly property string roleLabel: I18n.tr(member.role === "admin" ? "sg.revokeAdmin" : "sg.makeAdmin")

    signal roleClicked()
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
            color: "#26ffffff"
            border.width: 1
            border.color: "#26ffffff"
            inset: 2
            avatarId: row.member.avatarId || ""
            groupPeer: row.groupPeer
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 1
            RowLayout {
                Layout.fillWidth: true
                spacing: 6
                Text {
                    Layout.maximumWidth: 220
                    text: row.member.name || ""
                    textFormat: Text.PlainText
                    elide: Text.ElideRight
                    color: "white"
                    font.pixelSize: 14
                    font.weight: Font.Medium
                }
                Text { objectName: "ownerTag"; visible: row.member.role === "owner"; text: I18n.tr("role.owner"); color: Theme.brandBlue; font.pixelSize: 11; font.bold: true }
                Text { objectName: "adminTag"; visible: row.member.role === "admin"; text: I18n.tr("role.admin"); color: "#7aa7ff"; font.pixelSize: 11; font.bold: true }
                Text { objectName: "meTag"; visible: row.member.isMe === true; text: I18n.tr("common.me"); color: "#8cffffff"; font.pixelSize: 11 }
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
        PillButton {
            objectName: "roleButton"
            visible: row.canSetRole
            color: "transparent"
            fontSize: 12
            label: row.roleLabel
            onClicked: row.roleClicked()
        }
        PillButton {
            objectName: "removeButton"
            visible: row.canRemove
            color: "transparent"
            fontSize: 12
            textColor: Theme.danger
            label: I18n.tr("common.remove")
            onClicked: row.removeClicked()
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
