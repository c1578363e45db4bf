import QtQuick
import QtQuick.Controls.Basic
import Velmor

// A draft too long for the composer's text area, held as one piece: its
// opening words, its length and what becomes of it (it is sent whole as one
// message), with a button that lets it go and, while it is short enough to
// be edited, one that takes it into the text area. The text itself is never
// laid out here: only its first characters are drawn.
FocusScope {
    id: card

    property string text: ""
    property bool onGradient: false
    property bool editable: false

    signal removeRequested()
    signal editRequested()

    implicitHeight: column.implicitHeight

    Column {
        id: column
        anchors.left: parent.left
        anchors.right: buttons.left
        anchors.leftMargin: 14
        anchors.rightMargin: 8
        spacing: 2

        Text {
            objectName: "longTextPreview"
            width: parent.width
            // A screenful of characters at most: the rest is never measured.
            text: card.text.substring(0, 200).replace(/\s+/g, " ")
            textFormat: Text.PlainText
            elide: Text.ElideRight
            maximumLineCount: 1
            font.pixelSize: Theme.fontBody
            color: card.onGradient ? "white" : Theme.textPrimary
        }
        Text {
            objectName: "longTextNote"
            width: parent.width
            text: I18n.tr("chat.longText", { "count": card.text.length.toLocaleString(Qt.locale(), "f", 0) })
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            maximumLineCount: 2
            elide: Text.ElideRight
            font.pixelSize: Theme.fontCaption
            color: card.onGradient ? "#b3ffffff" : Theme.textSecondary
        }
    }

    component CardButton: Button {
        id: button
        property string label
        flat: true
        hoverEnabled: true
        focusPolicy: Qt.NoFocus
        padding: 0
        implicitWidth: labelText.implicitWidth + 24
        implicitHeight: 26
        background: Rectangle {
            radius: height / 2
            color: button.hovered ? (card.onGradient ? "#33ffffff" : Theme.hoverBg)
                                  : (card.onGradient ? "#1fffffff" : Theme.buttonBg)
        }
        contentItem: Text {
            id: labelText
            text: button.label
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            font.pixelSize: Theme.fontCaption
            color: card.onGradient ? "white" : Theme.textPrimary
        }
    }

    Row {
        id: buttons
        anchors.right: parent.right
        anchors.rightMargin: 12
        anchors.verticalCenter: column.verticalCenter
        spacing: 6

        CardButton {
            objectName: "longTextEdit"
            visible: card.editable
            label: I18n.tr("chat.longTextEdit")
            onClicked: card.editRequested()
        }
        CardButton {
            objectName: "longTextRemove"
            label: I18n.tr("chat.longTextRemove")
            onClicked: card.removeRequested()
        }
    }
}
