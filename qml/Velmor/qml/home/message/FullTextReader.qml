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
// piece made later holds the window up for long. A piece ends where a line
// of the text ends (after a line break, or where the line wraps), so the
// pieces read as one text. Select all and copy take the whole text as it
// was written; a selection inside one piece copies that part of it.
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
    // The pieces' width and emoji size, shared by the item that measures
    // where a piece's last line starts.
    readonly property real textWidth: Math.max(100, width - 60)
    readonly property int emojiPixels: Theme.fontBody + 2
    // The whole text is selected (Ctrl+A): drawn so in every piece, copied
    // whole.
    property bool allSelected: false
    property bool _selecting: false
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
            var end = _pieceEnd(whole, at)
            var piece = whole.substring(at, end)
            cut.push(piece)
            pieceModel.append({ "piece": piece })
            at = end
        }
        _cutTo = at
        complete = at >= whole.length
    }

    // Where the piece that starts at `at` ends: the cut fullText.js gives,
    // moved back to the start of the last line it lays out when the cut
    // falls inside a line, so that the next piece starts that line as the
    // whole text would.
    function _pieceEnd(whole, at) {
        var end = FullText.pieceEnd(whole, at, pieceLength)
        if (end >= whole.length || whole.charAt(end - 1) === "\n")
            return end
        var piece = whole.substring(at, end)
        measure.text = EmojiText.markup(piece, emojiPixels)
        var last = measure.positionToRectangle(measure.length)
        var lineStart = measure.positionAt(0, last.y + last.height / 2)
        var cut = lineStart > 0 ? FullText.sourceOffsets(piece, measure.getText(0, measure.length))[lineStart] : 0
        measure.text = ""
        return cut > 0 ? at + cut : end
    }

    // Ctrl+A: the whole text, in every piece made now or later.
    function selectAll() {
        allSelected = true
        _selecting = true
        for (var i = 0; i < pieceList.count; ++i) {
            var item = pieceList.itemAtIndex(i)
            if (item)
                item.selectAll()
        }
        _selecting = false
    }

    // Ctrl+C: the whole text when all is selected, else the part of the
    // piece selected in it, as it was written (emoji included).
    function copy() {
        if (allSelected) {
            App.copyToClipboard(text)
            return
        }
        for (var i = 0; i < pieceList.count; ++i) {
            var item = pieceList.itemAtIndex(i)
            if (item && item.selectionEnd > item.selectionStart) {
                App.copyToClipboard(FullText.sourceOf(item.shown, item.getText(0, item.length),
                                                      item.selectionStart, item.selectionEnd))
                return
            }
        }
    }

    // A selection made in one piece ends the one in every other.
    function _selectedIn(piece) {
        if (_selecting)
            return
        _selecting = true
        allSelected = false
        for (var i = 0; i < pieceList.count; ++i) {
            var item = pieceList.itemAtIndex(i)
            if (item && item !== piece && item.selectionEnd > item.selectionStart)
                item.deselect()
        }
        _selecting = false
    }

    function _keys(event) {
        if (event.matches(StandardKey.SelectAll)) {
            selectAll()
            event.accepted = true
        } else if (event.matches(StandardKey.Copy)) {
            copy()
            event.accepted = true
        }
    }

    function _clear() {
        allSelected = false
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
    // The list was filled before it had its size: it starts at its first
    // line, top margin included, once it is on the screen.
    onOpened: pieceList.contentY = pieceList.originY - pieceList.topMargin
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
        focus: true
        Keys.onPressed: (event) => popup._keys(event)

        // Lays a piece out, unseen, to find where its last line starts.
        TextEdit {
            id: measure
            visible: false
            width: popup.textWidth
            textFormat: TextEdit.RichText
            wrapMode: TextEdit.WrapAtWordBoundaryOrAnywhere
            font.pixelSize: Theme.fontBody
        }

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

            delegate: TextEdit {
                required property string piece
                // A piece that ends a line: the next piece starts the next
                // one (no empty line between them).
                readonly property string shown: piece.charAt(piece.length - 1) === "\n"
                                                ? piece.substring(0, piece.length - 1) : piece
                objectName: "fullTextPiece"
                x: 16
                width: popup.textWidth
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
                Keys.onPressed: (event) => popup._keys(event)
                Component.onCompleted: {
                    if (popup.allSelected) {
                        popup._selecting = true
                        selectAll()
                        popup._selecting = false
                    }
                }
                onSelectionStartChanged: popup._selectedIn(this)
                onSelectionEndChanged: popup._selectedIn(this)
            }
        }

        // Follows the list one way: a bar attached to the list would set the
        // list's position again from its own each time the list's size
        // changes (every turn of cutting), and each time the list lost its
        // top margin or more; only the user's drag moves the list here.
        TgScrollBar {
            objectName: "fullTextScrollBar"
            orientation: Qt.Vertical
            anchors.top: pieceList.top
            anchors.bottom: pieceList.bottom
            anchors.right: pieceList.right
            size: pieceList.visibleArea.heightRatio
            position: pieceList.visibleArea.yPosition
            active: pieceList.moving || pressed || hovered
            onPositionChanged: {
                if (pressed)
                    pieceList.contentY = position * (pieceList.contentHeight + pieceList.topMargin + pieceList.bottomMargin)
                                         + pieceList.originY - pieceList.topMargin
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
