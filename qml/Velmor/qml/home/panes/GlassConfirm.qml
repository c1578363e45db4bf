import QtQuick
import QtQuick.Controls.Basic

// A modal yes/no question in the dialogs' dark frame.
DarkDialog {
    id: dialog

    property string text: ""

    standardButtons: Dialog.Yes | Dialog.No

    Text {
        objectName: "confirmText"
        width: 320
        wrapMode: Text.Wrap
        text: dialog.text
        textFormat: Text.PlainText
        color: "white"
        font.pixelSize: 13
    }
}
