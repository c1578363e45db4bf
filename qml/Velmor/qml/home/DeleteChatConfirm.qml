import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T

// Asks before a conversation's history is emptied and the conversation
// leaves the list. The opener sets `peer` and `displayName` first.
Dialog {
    id: dialog

    property string peer: ""
    property string displayName: ""

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    title: "删除聊天"
    standardButtons: Dialog.Ok | Dialog.Cancel

    background: Rectangle {
        radius: 14
        color: "#f21f2236"
        border.width: 1
        border.color: "#33ffffff"
    }

    width: 360
    padding: 20
    topPadding: 10

    header: Label {
        objectName: "deleteChatTitle"
        text: dialog.title
        color: "white"
        font.pixelSize: 15
        font.bold: true
        padding: 20
        bottomPadding: 0
    }

    footer: DialogButtonBox {
        alignment: Qt.AlignRight
        spacing: 8
        padding: 16
        topPadding: 0
        background: null
        delegate: Button {
            id: choice
            implicitWidth: Math.max(76, contentItem.implicitWidth + 28)
            implicitHeight: 34
            hoverEnabled: true
            background: Rectangle {
                radius: 10
                color: choice.DialogButtonBox.buttonRole === DialogButtonBox.AcceptRole
                       ? (choice.hovered ? "#f2ffffff" : "#ffffff")
                       : (choice.hovered ? "#33ffffff" : "#21ffffff")
            }
            contentItem: Text {
                text: choice.text
                font.pixelSize: 13
                font.weight: Font.DemiBold
                color: choice.DialogButtonBox.buttonRole === DialogButtonBox.AcceptRole ? "#5f608b" : "white"
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
            }
        }
    }

    Text {
        objectName: "deleteChatText"
        width: 320
        wrapMode: Text.Wrap
        textFormat: Text.PlainText
        color: "white"
        font.pixelSize: 13
        text: "将清空与「" + dialog.displayName + "」的聊天记录并从列表移除。\n此操作不删除联系人，收到新消息时会话会重新出现。"
    }

    onAccepted: Chat.deleteConversation(peer)
}
