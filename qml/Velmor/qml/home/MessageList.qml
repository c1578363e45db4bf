import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Window
import Velmor
import "message"

// The open conversation's messages, oldest first, from the controller's
// message model (Chat.messageModel): its rows change one by one, so the
// view makes rows only for what it shows and keeps them across changes.
// It opens at the newest message and follows new ones while the user is at
// the end; once the user scrolls up it leaves the view alone. Near the top
// it asks for the page of older messages, which lands above the rows shown
// without moving them.
ListView {
    id: list

    property string currentPeer: ""
    property string playingVoiceId: ""
    // Whether to stay at the end; set by where the user's last movement ended.
    property bool stickBottom: true
    // Animated content (emoji, avatars) runs while the list can be seen in
    // the active window: one binding here instead of one per row.
    readonly property bool animating: visible && Window.window !== null && Window.active
    // Rows left above the view when the older page is asked for.
    readonly property int olderPageMargin: 12
    // A reset of the model (another conversation's newest page) is under
    // way: see onModelAboutToBeReset.
    property bool _resetting: false
    // How far the view stepped down while rows came in above its first
    // row: see onRowsAboutToBeInserted.
    property real _stepBack: 0

    signal tapped()
    signal imageOpened(string src)
    signal voicePlaybackStarted(string id)
    signal voicePlaybackStopped()

    clip: true
    spacing: 3
    // Rows are made as they scroll into view, not a screenful ahead: an
    // opened conversation makes only the rows it shows.
    cacheBuffer: 0
    topMargin: 18
    ScrollBar.vertical: TgScrollBar { objectName: "scrollBar" }
    // A footer, not a bottom margin: positioning at the end ignores margins.
    footer: Item { width: 1; height: 34 }

    // Goes to the end unless the user has scrolled away meanwhile (the
    // calls come a turn of the event loop after the change that asked).
    function toBottom() {
        if (!stickBottom)
            return
        positionViewAtEnd()
        Qt.callLater(list.loadOlderIfNearTop)
    }

    // Another conversation was opened: start at its end.
    function resetForConversation() {
        stickBottom = true
        Qt.callLater(list.toBottom)
    }

    // Asks for the older page when the top of the view is within a few rows
    // of the first one loaded. While the view is to stay at the end it waits
    // until it is there (a new list starts at its top).
    function loadOlderIfNearTop() {
        if (count === 0 || (stickBottom && !atYEnd))
            return
        // Rows that came in since the last frame (an older page) count.
        forceLayout()
        // At the very top the view's first pixels are its top margin.
        var top = indexAt(width / 2, Math.max(contentY, originY) + 1)
        if (top < 0 || top >= olderPageMargin)
            return
        if (Chat.loadOlderMessages() && stickBottom)
            Qt.callLater(list.toBottom)
    }

    // A list lays the rows of a reset model out from its top, while the
    // user is shown its end: a screenful of rows would be made, laid out
    // and dropped at once. During a reset the view's lower display margin
    // takes back its whole height, so the reset makes a single row; the
    // list then goes to its end and lays out what shows there once.
    Connections {
        target: list.model
        ignoreUnknownSignals: true
        function onModelAboutToBeReset() {
            list.stickBottom = true
            list._resetting = true
            list.displayMarginEnd = -Math.ceil(list.height)
        }
        // Also when the reset kept the count (no count change follows).
        function onModelReset() {
            Qt.callLater(list._endReset)
        }
        // A list shows rows that come in before its first row in view right
        // there, pushing what the user reads down and making a screenful of
        // them; an older page read while the user scrolled on reaches a
        // list already at its top. For the insert the view stands just past
        // that row, so the rows go in above it unmade; then it steps back.
        function onRowsAboutToBeInserted(parent, first, last) {
            var top = first === 0 && !list.stickBottom ? list.itemAtIndex(0) : null
            if (top === null || top.y + top.height <= list.contentY)
                return
            list._stepBack = top.y + top.height - list.contentY
            list.contentY += list._stepBack
        }
        // After every view of the model has taken the new rows in.
        function onCountChanged() {
            var back = list._stepBack
            if (back === 0)
                return
            list._stepBack = 0
            list.forceLayout()
            list.contentY -= back
        }
    }

    function _endReset() {
        if (!_resetting)
            return
        // Still with the margin: the steps to the end make a row each.
        _resetting = false
        positionViewAtEnd()
        displayMarginEnd = 0
    }

    onCountChanged: {
        _endReset()
        if (stickBottom)
            Qt.callLater(list.toBottom)
    }
    onContentYChanged: Qt.callLater(list.loadOlderIfNearTop)
    onContentHeightChanged: {
        if (stickBottom)
            Qt.callLater(list.toBottom)
    }
    // A new height (the composer or a banner taking room, the pane shown
    // again after another page) keeps the end in view at once, while the
    // rows at the bottom are still laid out. Later, the layout at the new
    // height has dropped them, and going to the end without them starts
    // from estimated positions: rows at the top were then left unmade, a
    // blank band, until the view moved.
    onHeightChanged: {
        if (stickBottom)
            toBottom()
    }
    // Every row re-wraps at a new width, and rows already laid out are not
    // moved by the list itself: lay out again, or they overlap.
    onWidthChanged: {
        forceLayout()
        if (stickBottom)
            Qt.callLater(list.toBottom)
    }
    onMovementEnded: {
        stickBottom = atYEnd
        // Back at the end after reading far up: the pages read on the way
        // are let go, so later changes cost what a freshly opened list costs.
        if (stickBottom)
            Chat.trimOlderMessages()
    }

    TapHandler {
        onTapped: list.tapped()
    }

    // Opens the reader on the whole text of a message shown cut.
    function showFullText(text) {
        reader.active = true
        reader.item.show(text)
    }

    Loader {
        id: reader
        objectName: "fullTextReaderLoader"
        active: false
        sourceComponent: FullTextReader {}
    }

    // A row that leaves the view is kept and given the next message that
    // comes into it: a new message at the end takes the row the oldest one
    // in view let go, instead of making one. A kept row is hidden and still;
    // all it shows follows its message, so a reused row is as a new one.
    reuseItems: true

    delegate: MessageRow {
        id: shown
        required property var entry
        required firstInGroup
        required lastInGroup
        // Kept for reuse, out of the view.
        property bool pooled: false
        ListView.onPooled: shown.pooled = true
        ListView.onReused: shown.pooled = false
        visible: !pooled
        message: entry
        listWidth: list.width
        currentPeer: list.currentPeer
        playingVoiceId: list.playingVoiceId
        animating: list.animating
        onImageClicked: (src) => list.imageOpened(src)
        onFullTextRequested: (text) => list.showFullText(text)
        onVoicePlaybackStarted: (id) => list.voicePlaybackStarted(id)
        onVoicePlaybackStopped: list.voicePlaybackStopped()
    }
}
