import QtQuick
import QtQuick.Layouts
import Velmor

// Header of the settings page: back (on sub-pages), title, close.
RowLayout {
    id: header

    property string sub: "root"

    signal backClicked()
    signal closeClicked()

    spacing: 10

    RoundButton {
        objectName: "settingsBack"
        visible: header.sub !== "root"
        icon: "back"
        onClicked: header.backClicked()
    }
    Text {
        objectName: "settingsTitle"
        text: header.sub === "avatar" ? I18n.tr("profile.chooseAvatar")
            : header.sub === "address" ? I18n.tr("profile.address")
            : header.sub === "backup" ? I18n.tr("profile.backup") : I18n.tr("settings.title")
        color: "white"
        font.pixelSize: 20
        font.bold: true
    }
    Item { Layout.fillWidth: true }
    RoundButton {
        objectName: "settingsClose"
        icon: "close"
        onClicked: header.closeClicked()
    }
}
