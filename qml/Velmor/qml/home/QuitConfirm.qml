import QtQuick
import QtQuick.Controls.Basic
import Velmor
import "panes"

// Asks before the program quits while messages shown in the list are kept
// neither in the store nor in the send journal (a quit now loses them).
// The opener sets `unkept` first.
DarkDialog {
    id: dialog

    property int unkept: 0

    title: I18n.tr("quit.title")
    standardButtons: Dialog.Ok | Dialog.Cancel

    Text {
        objectName: "quitConfirmText"
        width: 320
        wrapMode: Text.Wrap
        textFormat: Text.PlainText
        color: "white"
        font.pixelSize: 13
        text: I18n.tr("quit.unsaved", { "count": dialog.unkept })
    }

    onAccepted: Qt.quit()
}
