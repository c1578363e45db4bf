import QtQuick
import Velmor

// The chat pane of the main card: the open conversation's header, the
// voice-room banner, the message list and the composer (or the read-only
// notice of the official account); a placeholder while none is open.
Item {
    id: pane

    // Whether the main card shows the chat (no other page over it).
    property bool shown: true
    property string playingVoiceId: ""
    // The column's parts; null until it is made.
    readonly property Item composer: column.item ? column.item.composer : null
    readonly property Item msgList: column.item ? column.item.msgList : null
    readonly property Item header: column.item ? column.item.header : null

    signal friendInfoRequested()
    signal groupSettingsRequested()
    signal superGroupSettingsRequested()
    // The banner or the composer's microphone with the room open.
    signal voiceRoomRequested()
    // The composer's microphone with the room closed.
    signal voiceOpenRequested()
    signal imageRequested()
    signal imageOpened(string src)
    signal voicePlaybackStarted(string id)
    signal voicePlaybackStopped()

    // The open super group left the conversation list while open: its
    // server no longer names the user a member (removed). The chat stays
    // readable, says so and takes nothing more, as a normal group's does.
    property bool removedFromSuperGroup: false
    property string _listedPeer: ""
    function _isListed(peer) {
        var list = Chat.conversations || []
        for (var i = 0; i < list.length; ++i) {
            if (list[i].peer === peer)
                return true
        }
        return false
    }
    function _followList(peerChanged) {
        var peer = Chat.currentPeer
        var listed = peer.indexOf("sg:") === 0 && _isListed(peer)
        if (peerChanged)
            removedFromSuperGroup = false
        else if (_listedPeer === peer && peer !== "" && !listed)
            removedFromSuperGroup = true
        else if (listed)
            removedFromSuperGroup = false
        _listedPeer = listed ? peer : ""
    }
    property string _openPeer: ""
    Connections {
        target: Chat
        function onConversationsChanged() { pane._followList(false) }
        function onCurrentChanged() {
            if (Chat.currentPeer !== "")
                pane._buildColumn(true)
            if (Chat.currentPeer === pane._openPeer)
                return
            pane._openPeer = Chat.currentPeer
            pane._followList(true)
        }
    }

    // Another conversation was opened.
    function resetForConversation() {
        if (Chat.currentPeer !== "")
            _buildColumn(true)
        if (column.item === null)
            return
        // The text area keeps the focus it is given again below: taken
        // away and back, it gave up and took up the input method for nothing.
        composer.hidePanels()
        msgList.resetForConversation()
        // The user opened it to write: typing goes to the composer. Later in
        // the turn, after whatever opened it (a sheet, a popup) has closed
        // and handed the focus back.
        if (Chat.currentPeer !== "")
            Qt.callLater(pane.focusComposer)
    }

    // Not from under a popup that shows: it keeps the keys it has.
    function focusComposer() {
        if (pane.shown && composer !== null && Chat.currentPeer !== "" && !Chat.currentOfficial && !_popupShown())
            composer.focusEditor()
    }

    // When a popup closes, the keyboard focus falls back to the window,
    // where typing goes nowhere; the press that closed a modal popup never
    // reaches what it landed on. With a conversation open the composer
    // takes the focus back. The composer's own unfocusing (Escape, the
    // emoji button) leaves it alone.
    property Item _lastFocus: null
    Connections {
        target: pane.Window.window
        function onActiveFocusItemChanged() {
            var window = pane.Window.window
            var now = window.activeFocusItem
            var before = pane._lastFocus
            pane._lastFocus = now
            if (pane._focusInWindow() && before !== null && pane.composer !== null && !pane.composer.holds(before))
                Qt.callLater(pane._takeFallenFocus)
        }
    }

    // Not while the window is inactive: leaving it unfocuses every item,
    // and coming back gives the focus to the item that had it.
    function _focusInWindow() {
        var window = pane.Window.window
        return window !== null && window.active
               && (window.activeFocusItem === null || window.activeFocusItem === window.contentItem)
    }

    // Asked of the column, which loads the popups' module with the first
    // part that has a popup.
    function _popupShown() {
        return column.item !== null && column.item.popupShown()
    }

    // Unless something took the focus meanwhile, or a popup still shows
    // (the one under a closed one gets it back).
    function _takeFallenFocus() {
        if (_focusInWindow())
            focusComposer()
    }

    EmptyChatPlaceholder {
        objectName: "emptyPlaceholder"
        anchors.centerIn: parent
        visible: Chat.currentPeer === "" && pane.shown
    }

    // The open conversation's column is made by address: compiling and
    // building it with the view (about half of the home view's work) kept
    // the sidebar's stored conversations from showing. Made with the pane,
    // unless `buildLater` (a sign-in): then once the window has drawn the
    // view, a slice at a time, or at once when a conversation opens first.
    property bool buildLater: false
    function _buildColumn(now) {
        if (now)
            column.asynchronous = false
        if (String(column.source) === "")
            column.source = "ChatColumn.qml"
    }
    // Frames drawn while the view itself is still being built do not count:
    // building both at once kept the sidebar waiting as before.
    property bool _made: false
    Connections {
        target: pane.buildLater && pane._made && String(column.source) === "" ? pane.Window.window : null
        function onFrameSwapped() { pane._buildColumn(false) }
    }
    Loader {
        id: column
        objectName: "chatColumnLoader"
        anchors.fill: parent
        asynchronous: pane.buildLater
    }
    Component.onCompleted: {
        _made = true
        _openPeer = Chat.currentPeer
        _followList(true)
        if (!buildLater || Chat.currentPeer !== "")
            _buildColumn(true)
    }
}
