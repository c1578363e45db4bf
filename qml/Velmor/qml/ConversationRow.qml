import QtQuick
import QtQuick.Layouts
import Velmor

Rectangle {
    id: root

    property url avatarSource
    property string title: ""
    property string preview: ""
    property string time: ""
    property int unreadCount: 0

    signal clicked()

    implicitHeight: 68
    radius: Theme.radiusLarge
    color: hover.hovered ? Theme.buttonBg : Theme.cardBg

    HoverHandler { id: hover }
    TapHandler { onTapped: root.clicked() }

    RowLayout {
        anchors.fill: parent
        anchors.margins: Theme.space12
        spacing: Theme.space12

        AppAvatar {
            source: root.avatarSource
            Layout.preferredWidth: Theme.avatarMedium
            Layout.preferredHeight: Theme.avatarMedium
            shadowEnabled: true
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: Theme.space4

            RowLayout {
                Layout.fillWidth: true
                Text {
                    objectName: "titleText"
                    Layout.fillWidth: true
                    text: root.title
                    textFormat: Text.PlainText
                    color: Theme.textPrimary
                    font.pixelSize: Theme.fontCallout
                    font.weight: Font.DemiBold
                    elide: Text.ElideRight
                }
                Text {
                    objectName: "timeText"
                    text: root.time
                    textFormat: Text.PlainText
                    color: Theme.textMuted
                    font.pixelSize: Theme.fontCaption
                }
            }

            RowLayout {
                Layout.fillWidth: true
                Text {
                    objectName: "previewText"
                    Layout.fillWidth: true
                    text: root.preview
                    textFormat: Text.PlainText
                    color: Theme.textSecondary
                    font.pixelSize: Theme.fontFootnote
                    elide: Text.ElideRight
                }
                Rectangle {
                    objectName: "unreadBadge"
                    visible: root.unreadCount > 0
                    Layout.preferredWidth: Math.max(18, badgeText.implicitWidth + 10)
                    Layout.preferredHeight: 18
                    radius: 9
                    color: Theme.danger
                    Text {
                        id: badgeText
                        objectName: "badgeText"
                        anchors.centerIn: parent
                        text: root.unreadCount > 99 ? "99+" : String(root.unreadCount)
                        color: "white"
                        font.pixelSize: 10
                        font.weight: Font.Bold
                    }
                }
            }
        }
    }
}
