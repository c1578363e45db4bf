import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import Velmor

// Asks before a conversation's history is emptied and the conversation
// leaves the list. The opener sets `peer` and `displayName` first.
Dialog {
    id: dialog

    property string peer: ""
    property string displayName: ""

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    title: I18n.tr("deleteChat.title")
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
            // The button box names its standard buttons in Qt's English.
            Accessible.name: contentItem.text
            contentItem: Text {
                text: I18n.tr(choice.DialogButtonBox.buttonRole === DialogButtonBox.AcceptRole ? "common.ok"
                                                                                                : "common.cancel")
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
        text: I18n.tr("deleteChat.text", { "name": dialog.displayName })
    }

    onAccepted: Chat.deleteConversation(peer)
}
