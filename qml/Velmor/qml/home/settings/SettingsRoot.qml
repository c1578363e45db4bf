import QtQuick
import QtQuick.Layouts
import Velmor
import ".."
import "avatarSets.js" as Sets

// Root of the settings page: profile card, the three rows and log-out.
ColumnLayout {
    id: root

    property string address: ""
    property string avatarId: "defaultheadphoto"
    property bool animateAvatar: false
    property bool confirmingLogout: false

    signal avatarRequested()
    signal addressRequested()
    signal backupRequested()
    signal logoutConfirmRequested()
    signal logoutCancelled()
    signal logoutConfirmed()

    spacing: 14

    Rectangle {
        objectName: "profileCard"
        Layout.fillWidth: true
        Layout.preferredHeight: 92
        radius: 14
        color: "#14ffffff"
        RowLayout {
            anchors.fill: parent
            anchors.margins: 16
            spacing: 16
            CircleAvatar {
                objectName: "profileAvatar"
                Layout.preferredWidth: 60
                Layout.preferredHeight: 60
                avatarId: root.avatarId
                animate: root.animateAvatar
            }
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 3
                Text {
                    objectName: "profileShortAddress"
                    text: Sets.shortAddr(root.address)
                    textFormat: Text.PlainText
                    font.pixelSize: 18
                    font.weight: Font.DemiBold
                    color: "white"
                }
                Text {
                    objectName: "profileAddress"
                    Layout.fillWidth: true
                    text: root.address
                    textFormat: Text.PlainText
                    font.pixelSize: 11
                    color: "#b3ffffff"
                    elide: Text.ElideMiddle
                }
            }
        }
    }

    Rectangle {
        Layout.fillWidth: true
        Layout.preferredHeight: rows.implicitHeight
        radius: 14
        color: "#14ffffff"
        clip: true
        ColumnLayout {
            id: rows
            width: parent.width
            spacing: 0
            SetRow { objectName: "rowAvatar"; icon: "photo"; label: I18n.tr("profile.chooseAvatar"); onClicked: root.avatarRequested() }
            SetRow { objectName: "rowAddress"; icon: "wallet"; label: I18n.tr("profile.address"); onClicked: root.addressRequested() }
            SetRow { objectName: "rowBackup"; icon: "key"; label: I18n.tr("profile.backup"); lastRow: true; onClicked: root.backupRequested() }
        }
    }

    Rectangle {
        objectName: "logoutCard"
        Layout.fillWidth: true
        Layout.preferredHeight: 50
        radius: 14
        color: "#14ffffff"
        clip: true
        MouseArea {
            objectName: "logoutCardArea"
            z: -1
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: root.logoutConfirmRequested()
        }
        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: 16
            anchors.rightMargin: 12
            spacing: 12
            TgIcon { name: "logout"; size: 20; color: "#ff9d94" }
            Text {
                objectName: "logoutText"
                Layout.fillWidth: true
                text: root.confirmingLogout ? I18n.tr("settings.logoutWarning") : I18n.tr("profile.logout")
                font.pixelSize: 14
                color: "#ff9d94"
                elide: Text.ElideRight
            }
            PaneBtn {
                objectName: "logoutCancel"
                visible: root.confirmingLogout
                Layout.preferredHeight: 32
                label: I18n.tr("common.cancel")
                onClicked: root.logoutCancelled()
            }
            PaneBtn {
                objectName: "logoutConfirm"
                visible: root.confirmingLogout
                Layout.preferredHeight: 32
                primary: true
                label: I18n.tr("settings.confirmLogout")
                onClicked: root.logoutConfirmed()
            }
        }
    }

    Item { Layout.fillHeight: true }
}
