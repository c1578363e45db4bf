import QtQuick
import QtQuick.Controls.Basic
import Velmor

// Asks before a normal group is created from the chosen contacts.
DarkDialog {
    id: dialog

    // The trimmed name and the member count, creator included.
    property string groupName: ""
    property int memberCount: 1

    title: I18n.tr("createGroup.title")
    standardButtons: Dialog.Ok | Dialog.Cancel

    Text {
        objectName: "confirmText"
        width: 320
        wrapMode: Text.Wrap
        text: I18n.tr("createGroup.text", { "name": dialog.groupName, "count": dialog.memberCount })
        textFormat: Text.PlainText
        // The frame is dark in both colour schemes.
        color: "white"
        font.pixelSize: 13
    }
}
