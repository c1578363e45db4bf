import QtQuick
import QtQuick.Controls.Basic
import Velmor
import "panes"

// Asks before a conversation's history is emptied and the conversation
// leaves the list. The opener sets `peer` and `displayName` first.
DarkDialog {
    id: dialog

    property string peer: ""
    property string displayName: ""

    title: I18n.tr("deleteChat.title")
    standardButtons: Dialog.Ok | Dialog.Cancel

    Text {
        objectName: "deleteChatText"
        width: 320
        wrapMode: Text.Wrap
        textFormat: Text.PlainText
        color: "white"
        font.pixelSize: 13
        text: I18n.tr("deleteChat.text", { "name": dialog.displayName })
    }

    onAccepted: Chat.deleteConversation(peer)
}
