import QtQuick
import QtQuick.Window
import Velmor
import "home"
import "home/helpers.js" as Helpers

// The signed-in user's home view: a sidebar card laid over a larger main
// card, window buttons, and the panes and popups that open over the main
// card. The root owns the frame's geometry, the page switch `mainPane` and
// the helpers every part calls as home.<name>(...). The sections live in
// the files of the folder home/.
Item {
    id: home

    // While a popup stands over the window (a reader's or a viewer's card
    // on its dimmed backdrop), the view under it is drawn from a picture of
    // itself, made again only when something in the view changes: each
    // frame of the popup (a scroll, a step) then paints that one picture
    // instead of every item of the view, which software OpenGL pays for
    // pixel by pixel. The picture is taken in the frame after the popup's
    // first: taken with it, it makes that frame longer still, and asked for
    // while a frame is being drawn, the window's thread waits for that one.
    // Told by a part made once the view has been drawn: the popups' module
    // is not loaded for the view's first frame, and no popup shows before.
    readonly property bool _popupShown: overlayWatch.item !== null && overlayWatch.item.popupShown
    Loader {
        id: overlayWatch
        active: false
        asynchronous: true
        source: "home/OverlayWatch.qml"
    }
    Connections {
        target: overlayWatch.active ? null : home.Window.window
        function onFrameSwapped() { overlayWatch.active = true }
    }
    on_PopupShownChanged: {
        layer.enabled = false
        pictureAfterFrame.target = _popupShown ? home.Window.window : null
    }
    Connections {
        id: pictureAfterFrame
        target: null
        function onFrameSwapped() {
            pictureAfterFrame.target = null
            home.layer.enabled = home._popupShown
        }
    }

    // Frame geometry (windowed and full screen).
    readonly property bool full: home.Window.window !== null
                                 && home.Window.window.visibility === Window.FullScreen
    readonly property int ovMargin: full ? 0 : 24
    readonly property int overhang: full ? 0 : 40
    readonly property int sidebarW: full ? Math.max(300, Math.floor(width * 0.22)) : 300
    readonly property int fullSideGap: 20
    readonly property int contentLeftInset: full ? (fullSideGap + sidebarW + 28) : (sidebarW - overhang) + 28
    readonly property int paneVInset: Math.max(0, sideCard.y - ovMargin)

    // Made by a sign-in: the open conversation's column is built once the
    // view has been drawn (the sidebar's rows first).
    property bool buildChatLater: false

    // What the main card's content area shows: "chat", "settings",
    // "notifications", "newGroup" or "newChat".
    property string mainPane: "chat"
    // Id of the voice message a bubble is playing ("" when none).
    property string playingVoiceId: ""

    // Base of the module's assets folder. The "../assets/..." addresses
    // the helpers return are relative to this document's folder; parts in
    // subfolders resolve them with assetUrl().
    readonly property url assetBase: Qt.resolvedUrl("../assets/")
    function assetUrl(path) { return Helpers.assetUrl(assetBase, path) }

    function _isEmojiCp(cp) { return Helpers._isEmojiCp(cp) }
    function _isEmojiMod(cp) { return Helpers._isEmojiMod(cp) }
    function isBigEmoji(t) { return Helpers.isBigEmoji(t) }
    function formatTime(ts) { return Helpers.formatTime(ts) }
    function shortAddress(value) { return Helpers.shortAddress(value) }
    function emojiFromCode(code) { return Helpers.emojiFromCode(code) }
    function avatarSource(avatarId) { return Helpers.avatarSource(avatarId) }
    function filteredConversations(query) { return Helpers.filterConversations(Chat.conversations, query) }

    // Page buttons of the sidebar: a second click on the page that shows
    // returns to the chat; opening a page first resets it.
    function togglePane(name) {
        if (name === "notifications")
            Chat.reloadNotifications()
        else if (name === "newGroup")
            Chat.reloadContacts()
        if (mainPane === name) {
            mainPane = "chat"
            return
        }
        var page = pane(name)
        if (name === "settings") {
            page.sub = "root"
            page.confirmingLogout = false
        } else if (name === "newGroup") {
            page.resetState()
        } else if (name === "newChat") {
            Chat.clearDiscovery()
            page.discoveryField.text = ""
            page.operationStatus = ""
        }
        mainPane = name
    }

    // The pages are made the first time they are opened, like the popups,
    // and stay made from then on.
    function pane(name) {
        var holder = _paneHolders[name]
        holder.active = true
        return holder.item
    }
    // A page just made: shown while `mainPane` names it, closed back to the
    // chat, opened again by its own request.
    function _showPane(page, name, objectName) {
        page.objectName = objectName
        page.visible = Qt.binding(function () { return home.mainPane === name })
        page.closeRequested.connect(function () { home.mainPane = "chat" })
        if (page.openRequested)
            page.openRequested.connect(function () { home.mainPane = name })
    }
    readonly property var _paneHolders: ({
        "settings": settingsHolder, "notifications": notificationsHolder,
        "newGroup": newGroupHolder, "newChat": newChatHolder
    })

    // Quits, unless shown messages are kept nowhere yet: then asks first.
    function requestQuit() {
        var unkept = Chat.unkeptSends()
        if (unkept <= 0) {
            Qt.quit()
            return
        }
        var dialog = popup("quitConfirm")
        dialog.unkept = unkept
        dialog.open()
    }

    function confirmDelete(peer, displayName) {
        var dialog = popup("deleteChatConfirm")
        dialog.peer = peer
        dialog.displayName = displayName
        dialog.open()
    }

    // The controller announces every change of the open conversation's
    // header through currentChanged (an open super group about every 20 s),
    // so the view resets only when another conversation is opened.
    property string _shownPeer: ""
    property var _shownGroup: []

    function _onCurrentChanged() {
        var peer = Chat.currentPeer
        if (peer !== _shownPeer) {
            _shownPeer = peer
            mainPane = "chat"
            Voice.stopPlayback()
            chatPane.resetForConversation()
        }
        // The voice room hears only of super groups: told of every other
        // conversation opened (by its title), it announced a new state to
        // all that shows it.
        var isSg = peer.indexOf("sg:") === 0
        var group = [isSg ? peer.substring(3) : "", isSg ? Chat.currentTitle : "",
                     isSg && Chat.currentGroupKind === "premium_plus"]
        if (group[0] !== _shownGroup[0] || group[1] !== _shownGroup[1] || group[2] !== _shownGroup[2]) {
            _shownGroup = group
            VoiceRoom.showGroup(group[0], group[1], group[2])
        }
    }

    // A sign-in starts the session before this view is built (the stored
    // conversations are read meanwhile); a view made otherwise starts it.
    Component.onCompleted: {
        if (!Chat.isStarted())
            Chat.start()
    }

    Connections {
        target: Chat
        function onCurrentChanged() { home._onCurrentChanged() }
        function onOpenNotificationsRequested() {
            Chat.reloadNotifications()
            home.pane("notifications")
            home.mainPane = "notifications"
        }
    }

    Connections {
        target: Voice
        function onPlayingChanged() {
            if (!Voice.playing)
                home.playingVoiceId = ""
        }
    }

    SideCard {
        id: sideCard
        objectName: "sideCard"
        z: 2
        x: home.full ? home.fullSideGap : home.ovMargin
        width: home.sidebarW
        height: Math.round((home.height - 2 * home.ovMargin) * 0.9)
        y: Math.round((home.height - height) / 2)
        full: home.full
        mainPane: home.mainPane
        onPaneRequested: (name) => home.togglePane(name)
        onConversationActivated: home.mainPane = "chat"
        onDeleteRequested: (peer, displayName) => home.confirmDelete(peer, displayName)
    }

    MainCard {
        id: mainCard
        objectName: "mainCard"
        z: 1
        anchors.fill: parent
        anchors.leftMargin: home.ovMargin + home.overhang
        anchors.rightMargin: home.ovMargin
        anchors.topMargin: home.ovMargin
        anchors.bottomMargin: home.ovMargin
        full: home.full

        ChatPane {
            id: chatPane
            objectName: "chatPane"
            anchors.fill: parent
            anchors.leftMargin: home.contentLeftInset
            anchors.rightMargin: 24
            anchors.topMargin: home.paneVInset
            anchors.bottomMargin: home.paneVInset
            shown: home.mainPane === "chat"
            buildLater: home.buildChatLater
            playingVoiceId: home.playingVoiceId
            onFriendInfoRequested: {
                Chat.loadCurrentFriendInfo()
                home.popup("friendInfo").open()
            }
            onGroupSettingsRequested: {
                var settings = home.popup("groupSettings")
                settings.reload()
                settings.open()
            }
            onSuperGroupSettingsRequested: {
                var settings = home.popup("sgSettings")
                settings.loading = true
                settings.open()
                Chat.loadSuperGroupInfo()
            }
            onVoiceRoomRequested: {
                if (!VoiceRoom.activeForVisible)
                    VoiceRoom.joinRoom()
                home.popup("voiceRoomPopup").open()
            }
            onVoiceOpenRequested: home.popup("voiceOpenConfirm").open()
            onImageRequested: home.popup("imageDialog").open()
            onImageOpened: (src) => home.popup("imagePreview").openAt(src)
            onVoicePlaybackStarted: (id) => home.playingVoiceId = id
            onVoicePlaybackStopped: home.playingVoiceId = ""
        }
    }

    // The composer of the chat pane, by the name the other parts use.
    readonly property alias composer: chatPane.composer

    WindowButtons {
        id: windowButtons
        objectName: "windowButtons"
        z: 10
        x: (home.full ? 0 : home.ovMargin + home.overhang) + 14
        y: (home.full ? 0 : home.ovMargin) + 13
        full: home.full
        onCloseClicked: home.requestQuit()
        onMinimiseClicked: {
            if (home.Window.window)
                home.Window.window.showMinimized()
        }
        onFullScreenClicked: {
            var w = home.Window.window
            if (!w)
                return
            if (home.full)
                w.showNormal()
            else
                w.showFullScreen()
        }
    }

    // Pages laid over the main card's content area.
    Item {
        id: paneArea
        objectName: "paneArea"
        z: 5
        anchors.fill: parent
        anchors.leftMargin: home.ovMargin + home.overhang + home.contentLeftInset
        anchors.rightMargin: home.ovMargin + 24
        anchors.topMargin: home.ovMargin + home.paneVInset
        anchors.bottomMargin: home.ovMargin + home.paneVInset

        // The pages and popups are made by address, so that compiling the view
        // does not compile them (and the modules they import) before its first
        // frame: each is compiled the first time it opens. (Compiling them in
        // the background meanwhile made an opening that came while its own
        // document was being compiled finish that compile in the opening's
        // call, which upset the window's animation driver.)
        Loader {
            id: settingsHolder
            anchors.fill: parent
            active: false
            source: "home/SettingsPane.qml"
            onLoaded: home._showPane(item, "settings", "settingsPane")
        }
        Loader {
            id: notificationsHolder
            anchors.fill: parent
            active: false
            source: "home/NotificationsPane.qml"
            onLoaded: home._showPane(item, "notifications", "notificationsPopup")
        }
        Loader {
            id: newGroupHolder
            anchors.fill: parent
            active: false
            source: "home/NewGroupPane.qml"
            onLoaded: home._showPane(item, "newGroup", "newGroupDialog")
        }
        Loader {
            id: newChatHolder
            anchors.fill: parent
            active: false
            source: "home/NewChatPane.qml"
            onLoaded: {
                home._showPane(item, "newChat", "newChatDialog")
                item.scanRequested.connect(function () { home.popup("qrImageDialog").open() })
            }
        }
    }

    // Popups and dialogs over the window's overlay. Each is made the first
    // time it is asked for, so the home view comes up without them; once
    // made it stays, keeping what it shows between openings.
    function popup(name) {
        var holder = _popupHolders[name]
        holder.active = true
        // Asked for while the view itself is still being built a slice at a
        // time (a click soon after a sign-in), the loader builds it in slices
        // too and has no item yet: it is finished here, in this call.
        if (holder.status === Loader.Loading) {
            holder.asynchronous = true
            holder.asynchronous = false
        }
        return holder.item
    }
    readonly property var _popupHolders: ({
        "deleteChatConfirm": deleteChatHolder, "friendInfo": friendInfoHolder,
        "groupSettings": groupSettingsHolder, "groupQrPopup": groupQrHolder,
        "sgSettings": sgSettingsHolder, "voiceRoomPopup": voiceRoomHolder,
        "voiceOpenConfirm": voiceOpenHolder, "imagePreview": imagePreviewHolder,
        "imageDialog": imageDialogHolder, "qrImageDialog": qrImageDialogHolder,
        "quitConfirm": quitConfirmHolder
    })

    // The voice room's open state follows the group's announcements whether
    // or not its popup was ever made.
    Connections {
        target: Chat
        function onVoiceRoomOpenChanged(serverUrl, open) { VoiceRoom.setRoomOpenExternally(serverUrl, open) }
    }

    Loader {
        id: quitConfirmHolder
        active: false
        source: "home/QuitConfirm.qml"
        onLoaded: item.objectName = "quitConfirm"
    }
    Loader {
        id: deleteChatHolder
        active: false
        source: "home/DeleteChatConfirm.qml"
        onLoaded: item.objectName = "deleteChatConfirm"
    }
    Loader {
        id: friendInfoHolder
        active: false
        source: "home/FriendInfoPopup.qml"
        onLoaded: item.objectName = "friendInfo"
    }
    Loader {
        id: groupSettingsHolder
        active: false
        source: "home/GroupSettingsPopup.qml"
        onLoaded: {
            item.objectName = "groupSettings"
            item.qrRequested.connect(function () { home.popup("groupQrPopup").open() })
        }
    }
    Loader {
        id: groupQrHolder
        active: false
        source: "home/GroupQrPopup.qml"
        onLoaded: {
            item.objectName = "groupQrPopup"
            item.joinAddress = Qt.binding(function () {
                var settings = groupSettingsHolder.item
                return settings && settings.info && settings.info.joinAddress ? settings.info.joinAddress : ""
            })
        }
    }
    Loader {
        id: sgSettingsHolder
        active: false
        source: "home/SuperGroupSettingsPopup.qml"
        onLoaded: item.objectName = "sgSettings"
    }
    Loader {
        id: voiceRoomHolder
        active: false
        source: "home/VoiceRoomPopup.qml"
        onLoaded: item.objectName = "voiceRoomPopup"
    }
    Loader {
        id: voiceOpenHolder
        active: false
        source: "home/VoiceOpenConfirm.qml"
        onLoaded: {
            item.objectName = "voiceOpenConfirm"
            item.roomEntered.connect(function () { home.popup("voiceRoomPopup").open() })
        }
    }
    Loader {
        id: imagePreviewHolder
        active: false
        source: "home/ImagePreview.qml"
        onLoaded: item.objectName = "imagePreview"
    }
    Loader {
        id: imageDialogHolder
        active: false
        source: "home/ImageFileDialog.qml"
        onLoaded: {
            item.objectName = "imageDialog"
            item.purpose = "image"
            item.failed.connect(function (error) {
                if (chatPane.composer)
                    chatPane.composer.errorText = error
            })
        }
    }
    Loader {
        id: qrImageDialogHolder
        active: false
        source: "home/ImageFileDialog.qml"
        onLoaded: {
            item.objectName = "qrImageDialog"
            item.purpose = "qr"
        }
    }
}
