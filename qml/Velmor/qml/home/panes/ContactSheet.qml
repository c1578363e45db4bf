import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import ".."
import Velmor

// Takes an optional remark for a newly found user and starts the chat.
// `accepted(remark)` asks the caller to save the contact; the caller closes
// the sheet when that worked.
Popup {
    id: sheet

    property string address: ""
    readonly property alias remarkField: contactRemark

    signal accepted(string remark)

    function show() {
        contactRemark.text = ""
        open()
    }

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    width: 400
    height: column.implicitHeight + 44
    padding: 22
    onOpened: contactRemark.forceActiveFocus()

    T.Overlay.modal: Rectangle { color: "#66000000" }
    background: Rectangle {
        radius: 16
        color: "#f21c1e30"
        border.width: 1
        border.color: "#33ffffff"
    }

    ColumnLayout {
        id: column
        anchors.fill: parent
        spacing: 14
        Text {
            text: I18n.tr("newChat.setContact")
            color: "white"
            font.pixelSize: 17
            font.bold: true
        }
        Text {
            objectName: "sheetAddress"
            Layout.fillWidth: true
            text: sheet.address
            textFormat: Text.PlainText
            elide: Text.ElideMiddle
            color: "#b3ffffff"
            font.pixelSize: 12
        }
        PaneField {
            id: contactRemark
            objectName: "contactRemark"
            Layout.fillWidth: true
            placeholderText: I18n.tr("newChat.remarkOptional")
            onAccepted: sheet.accepted(text)
        }
        PaneBtn {
            objectName: "startChatButton"
            Layout.fillWidth: true
            Layout.preferredHeight: 42
            primary: true
            label: I18n.tr("newChat.startChat")
            onClicked: sheet.accepted(contactRemark.text)
        }
    }
}
