import QtQuick
import Velmor

// What the chat pane shows while no conversation is open.
Column {
    spacing: 12

    Rectangle {
        anchors.horizontalCenter: parent.horizontalCenter
        width: 54
        height: 54
        radius: 27
        color: "#21ffffff"
        TgIcon {
            anchors.centerIn: parent
            name: "chats"
            size: 26
            color: "white"
        }
    }
    Text {
        objectName: "placeholderTitle"
        anchors.horizontalCenter: parent.horizontalCenter
        text: I18n.tr("empty.title")
        color: "white"
        font.pixelSize: 15
        font.weight: Font.DemiBold
    }
    Text {
        objectName: "placeholderHint"
        anchors.horizontalCenter: parent.horizontalCenter
        text: I18n.tr("empty.hint")
        color: "#b3ffffff"
        font.pixelSize: 12
    }
}
