import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import Velmor
import "emojiText.js" as EmojiText
import "fullText.js" as FullText

// The whole text of a message the bubble showed only in part: a card over
// the window that scrolls through it, in which the text can be selected and
// copied. The text is cut into pieces of about a thousand characters, each
// laid out only as it scrolls into view: the card opens with the first
// screen's pieces, and once it is drawn the rest are cut a few at a time,
// a turn a frame, so a text of any length opens in one screen's time and no
// piece made later holds the window up for long.
Popup {
    id: popup
    objectName: "fullTextReader"

    // The whole text, as given to show(). Held as a script value: a string
    // property would hand the script a new copy of the whole text at every
    // read, and copies of a long text are what start the script engine's
    // collections (each a pause of the window).
    property var text: ""
    // The pieces of `text` cut so far, in order; `complete` once they are
    // all cut.
    property var pieces: []
    property bool complete: false
    readonly property alias view: pieceList

    readonly property int pieceLength: 1000
    // About a screen of text (of letters; fewer of emoji): cut before the
    // card's first frame.
    readonly property int firstScreen: 4
    property int _cutTo: 0

    function show(value) {
        text = value === undefined || value === null ? "" : String(value)
        _clear()
        open()
        _cut(firstScreen, 0)
        if (complete)
            return
        // The rest is cut a turn at a time, each turn once the window has
        // drawn the frame before it (the first once the card is on the
        // screen): a change of the list while a frame is being drawn asks
        // for the next one, and the window's thread waits until the first
        // is drawn to hand it over (on software OpenGL under load, 60-90 ms
        // a frame). A window that draws nothing gets its turns all the same.
        frames.target = pieceList.Window.window
        noFrame.restart()
    }

    function _turn() {
        _cut(Number.MAX_SAFE_INTEGER, 4)
        if (complete) {
            frames.target = null
            noFrame.stop()
        } else {
            noFrame.restart()
        }
    }

    // Cuts the next `count` pieces, or as many as `ms` milliseconds allow
    // (when given), and hands them to the list. The text and the pieces are
    // read once into locals, not through the properties at each step.
    function _cut(count, ms) {
        var started = Date.now()
        var whole = text
        var cut = pieces
        var at = _cutTo
        for (var n = 0; n < count && at < whole.length && (ms <= 0 || Date.now() - started < ms); ++n) {
            var end = FullText.pieceEnd(whole, at, pieceLength)
            var piece = whole.substring(at, end)
            cut.push(piece)
            pieceModel.append({ "piece": piece })
            at = end
        }
        _cutTo = at
        complete = at >= whole.length
    }

    function _clear() {
        frames.target = null
        noFrame.stop()
        pieceModel.clear()
        pieces = []
        _cutTo = 0
        complete = false
    }

    ListModel { id: pieceModel }

    Connections {
        id: frames
        target: null
        function onFrameSwapped() { popup._turn() }
    }

    Timer {
        id: noFrame
        interval: 100
        onTriggered: popup._turn()
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
        _clear()
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
            model: pieceModel
            topMargin: 14
            bottomMargin: 14
            ScrollBar.vertical: TgScrollBar { objectName: "fullTextScrollBar" }

            delegate: TextEdit {
                required property string piece
                // A piece that ends a line: the next piece starts the next
                // one (no empty line between them).
                readonly property string shown: piece.charAt(piece.length - 1) === "\n"
                                                ? piece.substring(0, piece.length - 1) : piece
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
