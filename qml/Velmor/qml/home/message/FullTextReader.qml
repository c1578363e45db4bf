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
// screen's pieces, and once it is drawn the rest join the list a few at a
// time, a turn a frame, so a text of any length opens in one screen's time
// and no turn holds the window up for long. A piece ends where a line of
// the text ends (after a line break, or where the line wraps), so the
// pieces read as one text; where a line wraps is found by laying the piece
// out on the finder's own thread, one piece after the other, so the
// window's thread lays each piece out once, when it is shown. Select all
// and copy take the whole text as it was written; a selection inside one
// piece copies that part of it.
Popup {
    id: popup
    objectName: "fullTextReader"

    // The whole text, as given to show(). Held as a script value: a string
    // property would hand the script a new copy of the whole text at every
    // read, and copies of a long text are what start the script engine's
    // collections (each a pause of the window).
    property var text: ""
    // The pieces of `text` in the list so far, in order; `complete` once
    // they are all there.
    property var pieces: []
    property bool complete: false
    readonly property alias view: pieceList

    readonly property int pieceLength: 1000
    // A piece with this many emoji or more is drawn as one picture.
    readonly property int crowdedPictures: 64
    // The pieces' width and emoji size, shared by the finder that lays a
    // piece out to find where its last line starts.
    readonly property real textWidth: Math.max(100, width - 60)
    readonly property int emojiPixels: Theme.fontBody + 2
    // The whole text is selected (Ctrl+A): drawn so in every piece, copied
    // whole.
    property bool allSelected: false
    property bool _selecting: false
    // About a screen of text (of letters; fewer of emoji): in the list as
    // soon as it is cut.
    readonly property int firstScreen: 4
    // Where the next piece starts; the pieces cut but not in the list yet;
    // the piece whose last line the finder looks for (its number in
    // `_asked`, 0 when none), which holds the cut until it answers.
    property int _cutTo: 0
    property var _ready: []
    property var _measured: null
    property int _asked: 0
    property int _lastAsked: 0

    function show(value) {
        text = value === undefined || value === null ? "" : String(value)
        _clear()
        open()
        _cut(firstScreen, 0)
        _add(firstScreen, 0)
        if (complete)
            return
        // The rest joins the list a turn at a time, each turn once the
        // window has drawn the frame before it (the first once the card is
        // on the screen): a change of the list while a frame is being drawn
        // asks for the next one, and the window's thread waits until the
        // first is drawn to hand it over (on software OpenGL under load,
        // 60-90 ms a frame). A window that draws nothing gets its turns all
        // the same.
        frames.target = pieceList.Window.window
        noFrame.restart()
    }

    // While the pieces end above the list's bottom, a turn a frame adds one
    // (each is laid out and drawn as it joins); once they fill it, a turn
    // every `noFrame.interval` adds all that are cut, out of sight and not
    // made: a turn a frame would keep the window drawing for as long as
    // the cut lasts (hundreds of frames for a text of emoji, each piece
    // waiting for the finder), the window's thread waiting each time for
    // the frame before to be drawn. A turn between frames may cut for
    // longer.
    function _turn() {
        var filling = pieceList.contentHeight < pieceList.height
        _cut(Number.MAX_SAFE_INTEGER, filling ? 2 : 8)
        _add(filling ? 1 : Number.MAX_SAFE_INTEGER, 4)
        if (complete) {
            frames.target = null
            noFrame.stop()
            return
        }
        if (!filling)
            frames.target = null
        noFrame.restart()
    }

    // Cuts up to `count` pieces, or as many as `ms` milliseconds allow (when
    // given), into `_ready`; stops at a piece that ends inside a line until
    // the finder has said where its last line starts. The text is read once
    // into a local, not through the property at each step.
    function _cut(count, ms) {
        var started = Date.now()
        var whole = text
        var at = _cutTo
        for (var n = 0; n < count && _asked === 0 && at < whole.length && (ms <= 0 || Date.now() - started < ms); ++n) {
            var end = FullText.pieceEnd(whole, at, pieceLength)
            var piece = whole.substring(at, end)
            if (end < whole.length && whole.charAt(end - 1) !== "\n") {
                _measured = piece
                _asked = ++_lastAsked
                finder.find(_asked, EmojiText.markup(piece, emojiPixels), textWidth, Qt.font({ "pixelSize": Theme.fontBody }))
                break
            }
            _ready.push(piece)
            at = end
        }
        _cutTo = at
    }

    // The finder's answer for the piece asked: it ends where its last line
    // starts (so that the next piece starts that line, as the whole text
    // would), or whole when it is one line. The cut goes on; an empty list
    // takes the first screen as soon as it is cut, all in one change (one
    // frame lays it out).
    function _found(token, lineStart, laid) {
        if (token !== _asked)
            return
        var piece = _measured
        var cut = lineStart > 0 ? FullText.sourceOffsets(piece, laid)[lineStart] : 0
        if (cut > 0)
            piece = piece.substring(0, cut)
        _ready.push(piece)
        _cutTo += piece.length
        _measured = null
        _asked = 0
        var opening = pieceModel.count === 0
        _cut(opening ? firstScreen : Number.MAX_SAFE_INTEGER, 2)
        if (opening && (_ready.length >= firstScreen || _asked === 0))
            _add(firstScreen, 0)
    }

    // Hands up to `count` cut pieces to the list, or as many as `ms`
    // milliseconds allow (when given).
    function _add(count, ms) {
        var started = Date.now()
        var ready = _ready
        var added = pieces
        var n = 0
        for (; n < count && n < ready.length && (ms <= 0 || Date.now() - started < ms); ++n) {
            added.push(ready[n])
            pieceModel.append({ "piece": ready[n] })
        }
        ready.splice(0, n)
        complete = _cutTo >= text.length && _asked === 0 && ready.length === 0
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
        _ready = []
        _measured = null
        _asked = 0
        _cutTo = 0
        complete = false
    }

    ListModel { id: pieceModel }

    LineStartFinder {
        id: finder
        onFound: (token, lineStart, laid) => popup._found(token, lineStart, laid)
    }

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

        ListView {
            id: pieceList
            objectName: "fullTextList"
            anchors.fill: parent
            anchors.margins: 6
            anchors.rightMargin: 30
            clip: true
            // Only the pieces in sight are made: one made beyond the
            // list's edge costs its frame as much as one in sight, and the
            // pieces that join the list below the screen while the text is
            // cut would all be made so.
            cacheBuffer: 0
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
                // A piece crowded with emoji is drawn into a picture of its
                // own once, and the frames after it draw that picture: Qt
                // gives every emoji picture in a text its own texture, and a
                // screen of a thousand of them, each drawn and batched
                // against all the others every frame, held the window's
                // thread (waiting for the drawing thread) for a fraction of
                // a second at each change while the card filled or
                // scrolled. Only crowded pieces: letters drawn into a
                // picture lose their subpixel smoothing. Escaped text never
                // holds "<img": only an emoji's picture does.
                layer.enabled: text.split("<img", popup.crowdedPictures + 1).length > popup.crowdedPictures
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
