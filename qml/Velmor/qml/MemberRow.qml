import QtQuick
import QtQuick.Layouts
import Velmor

Rectangle {
    id: root

    property url avatarSource
    property string title: ""
    property string subtitle: ""

    implicitHeight: Theme.rowHeight
    radius: Theme.radiusMedium
    color: Theme.cardBg

    RowLayout {
        anchors.fill: parent
        anchors.margins: Theme.space8
        spacing: Theme.space12

        AppAvatar {
            source: root.avatarSource
            Layout.preferredWidth: Theme.avatarMedium
            Layout.preferredHeight: Theme.avatarMedium
            shadowEnabled: true
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: Theme.space2

            Text {
                objectName: "titleText"
                Layout.fillWidth: true
                text: root.title
                textFormat: Text.PlainText
                color: Theme.textPrimary
                font.pixelSize: Theme.fontBody
                elide: Text.ElideRight
            }
            Text {
                objectName: "subtitleText"
                Layout.fillWidth: true
                text: root.subtitle
                textFormat: Text.PlainText
                color: Theme.textMuted
                font.pixelSize: Theme.fontFootnote
                elide: Text.ElideMiddle
            }
        }
    }
}
