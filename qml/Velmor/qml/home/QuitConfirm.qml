import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T

// Asks before the program quits while messages shown in the list are kept
// neither in the store nor in the send journal (a quit now loses them).
// The opener sets `unkept` first.
Dialog {
    id: dialog

    property int unkept: 0

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    title: "退出"
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
        objectName: "quitConfirmTitle"
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
        objectName: "quitConfirmText"
        width: 320
        wrapMode: Text.Wrap
        textFormat: Text.PlainText
        color: "white"
        font.pixelSize: 13
        text: dialog.unkept + " 条消息尚未保存到本机，现在退出将丢失这些消息。\n仍要退出吗？"
    }

    onAccepted: Qt.quit()
}
