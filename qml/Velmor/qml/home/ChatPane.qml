import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Velmor

// The chat pane of the main card: the open conversation's header, the
// voice-room banner, the message list and the composer (or the read-only
// notice of the official account); a placeholder while none is open.
Item {
    id: pane

    // Whether the main card shows the chat (no other page over it).
    property bool shown: true
    property string playingVoiceId: ""
    readonly property alias composer: composer
    readonly property alias msgList: msgList
    readonly property alias header: header

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
            if (Chat.currentPeer === pane._openPeer)
                return
            pane._openPeer = Chat.currentPeer
            pane._followList(true)
        }
    }
    Component.onCompleted: {
        _openPeer = Chat.currentPeer
        _followList(true)
    }

    // Another conversation was opened.
    function resetForConversation() {
        composer.dismissPanels()
        msgList.resetForConversation()
        // The user opened it to write: typing goes to the composer. Later in
        // the turn, after whatever opened it (a sheet, a popup) has closed
        // and handed the focus back.
        if (Chat.currentPeer !== "")
            Qt.callLater(pane.focusComposer)
    }

    // Not from under a popup that shows: it keeps the keys it has.
    function focusComposer() {
        if (pane.shown && Chat.currentPeer !== "" && !Chat.currentOfficial && !_popupShown())
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
            if (pane._focusInWindow() && before !== null && !pane.composer.holds(before))
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

    function _popupShown() {
        var overlay = T.Overlay.overlay
        for (var i = 0; overlay && i < overlay.children.length; ++i) {
            if (overlay.children[i].visible)
                return true
        }
        return false
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

    ColumnLayout {
        id: chatColumn
        objectName: "chatColumn"
        anchors.fill: parent
        spacing: 0
        visible: Chat.currentPeer !== "" && pane.shown

        ChatHeader {
            id: header
            objectName: "chatHeader"
            Layout.fillWidth: true
            Layout.preferredHeight: Theme.topBarHeight
            peer: Chat.currentPeer
            title: Chat.currentTitle
            address: Chat.currentAddress
            avatarId: Chat.currentAvatarId
            avatarKind: Chat.currentAvatarKind
            verified: Chat.currentVerified
            official: Chat.currentOfficial
            groupKind: Chat.currentGroupKind
            groupSubtitle: pane.removedFromSuperGroup ? "你已被移出群聊" : Chat.currentGroupSubtitle
            removed: pane.removedFromSuperGroup
            onFriendInfoRequested: pane.friendInfoRequested()
            onGroupSettingsRequested: pane.groupSettingsRequested()
            onSuperGroupSettingsRequested: pane.superGroupSettingsRequested()
        }

        VoiceBanner {
            id: bannerStrip
            objectName: "voiceBannerStrip"
            Layout.fillWidth: true
            Layout.preferredHeight: visible ? 54 : 0
            visible: Chat.currentGroupKind === "premium_plus" && VoiceRoom.roomOpen && !pane.removedFromSuperGroup
            listening: VoiceRoom.activeForVisible
            onClicked: pane.voiceRoomRequested()
        }

        MessageList {
            id: msgList
            objectName: "msgList"
            Layout.fillWidth: true
            Layout.fillHeight: true
            model: Chat.messageModel
            currentPeer: Chat.currentPeer
            playingVoiceId: pane.playingVoiceId
            onTapped: composer.dismissPanels()
            onImageOpened: (src) => pane.imageOpened(src)
            onVoicePlaybackStarted: (id) => pane.voicePlaybackStarted(id)
            onVoicePlaybackStopped: pane.voicePlaybackStopped()
        }

        ReadOnlyNotice {
            objectName: "readOnlyNotice"
            Layout.fillWidth: true
            Layout.preferredHeight: visible ? 58 : 0
            visible: Chat.currentOfficial
        }

        ComposerSlot {
            id: composer
            objectName: "composer"
            Layout.fillWidth: true
            Layout.preferredHeight: visible ? implicitHeight : 0
            visible: !Chat.currentOfficial
            conversation: Chat.currentPeer
            onGradient: true
            allowImages: true
            allowChatroom: Chat.currentGroupKind === "premium_plus" && VoiceRoom.canOpen && !pane.removedFromSuperGroup
            sendingEnabled: Chat.currentCanSend && !pane.removedFromSuperGroup
            // A normal group is read-only only for a member the owner removed.
            disabledReason: Chat.currentPeer.startsWith("group:") || pane.removedFromSuperGroup
                            ? "你已被移出群聊" : "全员禁言中，仅群主和管理员可以发送消息"
            onRequestImage: pane.imageRequested()
            onRequestChatroom: {
                if (VoiceRoom.roomOpen)
                    pane.voiceRoomRequested()
                else
                    pane.voiceOpenRequested()
            }
        }
    }
}
