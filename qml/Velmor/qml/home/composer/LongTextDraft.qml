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

    readonly property color _fill: onGradient ? "#1fffffff" : Theme.buttonBg
    readonly property color _hoverFill: onGradient ? "#33ffffff" : Theme.hoverBg
    readonly property color _ink: onGradient ? "white" : Theme.textPrimary

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

    Row {
        id: buttons
        anchors.right: parent.right
        anchors.rightMargin: 12
        anchors.verticalCenter: column.verticalCenter
        spacing: 6

        ComposerTextButton {
            objectName: "longTextEdit"
            visible: card.editable
            label: I18n.tr("chat.longTextEdit")
            fill: card._fill
            hoverFill: card._hoverFill
            ink: card._ink
            onClicked: card.editRequested()
        }
        ComposerTextButton {
            objectName: "longTextRemove"
            label: I18n.tr("chat.longTextRemove")
            fill: card._fill
            hoverFill: card._hoverFill
            ink: card._ink
            onClicked: card.removeRequested()
        }
    }
}
