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
        text: "开始一段对话"
        color: "white"
        font.pixelSize: 15
        font.weight: Font.DemiBold
    }
    Text {
        objectName: "placeholderHint"
        anchors.horizontalCenter: parent.horizontalCenter
        text: "从左侧选择会话，或创建新的聊天"
        color: "#b3ffffff"
        font.pixelSize: 12
    }
}
