import QtQuick
import QtQuick.Layouts

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
        text: header.sub === "avatar" ? "选择头像"
            : header.sub === "address" ? "我的地址"
            : header.sub === "backup" ? "备份账户" : "设置"
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
