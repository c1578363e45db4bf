import QtQuick
import QtQuick.Controls.Basic
import Velmor

// Asks before a normal group is created from the chosen contacts.
DarkDialog {
    id: dialog

    // The trimmed name and the member count, creator included.
    property string groupName: ""
    property int memberCount: 1

    title: "确认创建群组"
    standardButtons: Dialog.Ok | Dialog.Cancel

    Text {
        objectName: "confirmText"
        width: 320
        wrapMode: Text.Wrap
        text: "将创建“" + dialog.groupName + "”，共 " + dialog.memberCount + " 位成员。"
        textFormat: Text.PlainText
        // The frame is dark in both colour schemes.
        color: "white"
        font.pixelSize: 13
    }
}
