import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import Velmor
import "emojiText.js" as EmojiText
import "fullText.js" as FullText

// The whole text of a message the bubble showed only in part: a card over
// the window that scrolls through it, in which the text can be selected and
// copied. The text is laid out piece by piece as it scrolls into view, and
// only after the card shows, so a text of any length opens at once.
Popup {
    id: popup
    objectName: "fullTextReader"

    property string text: ""
    // The pieces of `text` (set a turn after the card opens).
    property var pieces: []
    readonly property alias view: pieceList

    function show(value) {
        text = value === undefined || value === null ? "" : String(value)
        pieces = []
        open()
        Qt.callLater(popup.cut)
    }

    function cut() {
        if (opened || visible)
            pieces = FullText.pieces(text, 2000)
    }

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    width: parent ? Math.min(720, parent.width - 80) : 640
    height: parent ? Math.max(200, parent.height - 100) : 600
    modal: true
    focus: true
    padding: 0
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    onClosed: {
        pieces = []
        text = ""
    }

    background: Rectangle {
        color: Theme.cardBg
        radius: Theme.radiusLarge
        border.color: Theme.border
    }

    contentItem: Item {
        ListView {
            id: pieceList
            objectName: "fullTextList"
            anchors.fill: parent
            anchors.margins: 6
            anchors.rightMargin: 30
            clip: true
            model: popup.pieces
            topMargin: 14
            bottomMargin: 14
            ScrollBar.vertical: TgScrollBar { objectName: "fullTextScrollBar" }

            delegate: TextEdit {
                required property string modelData
                // A piece that ends a line: the next piece starts the next
                // one (no empty line between them).
                readonly property string shown: modelData.charAt(modelData.length - 1) === "\n"
                                                ? modelData.substring(0, modelData.length - 1) : modelData
                objectName: "fullTextPiece"
                x: 16
                width: pieceList.width - 24
                // One format whatever the text holds, every character
                // escaped: a format that followed the text could read a
                // new text once in the old one.
                text: EmojiText.markup(shown, Theme.fontBody + 2)
                textFormat: TextEdit.RichText
                readOnly: true
                selectByMouse: true
                selectByKeyboard: true
                wrapMode: TextEdit.WrapAtWordBoundaryOrAnywhere
                font.pixelSize: Theme.fontBody
                color: Theme.textPrimary
                selectionColor: Theme.selectionBg
                selectedTextColor: Theme.textPrimary
            }
        }

        Text {
            objectName: "fullTextClose"
            anchors.top: parent.top
            anchors.right: parent.right
            anchors.margins: 8
            text: "\u00d7"
            font.pixelSize: 22
            color: Theme.textSecondary
            MouseArea {
                anchors.fill: parent
                anchors.margins: -6
                cursorShape: Qt.PointingHandCursor
                onClicked: popup.close()
            }
        }
    }
}
