import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Velmor

// The open conversation in the chat pane: its header, the voice-room
// banner, the message list and the composer (or the read-only notice of
// the official account).
ColumnLayout {
    id: chatColumn

    // `pane` is the chat pane whose loader makes this column (found through
    // the loader's context): what it shows and where its requests go. It is
    // not handed over as a property: a loader that was asked to finish an
    // asynchronous build at once dropped the values it was to set.
    readonly property alias composer: composer
    readonly property alias msgList: msgList
    readonly property alias header: header

    objectName: "chatColumn"

    // Whether a popup shows over the window.
    function popupShown() {
        var overlay = T.Overlay.overlay
        for (var i = 0; overlay && i < overlay.children.length; ++i) {
            if (overlay.children[i].visible)
                return true
        }
        return false
    }
    spacing: 0
    visible: Chat.currentPeer !== "" && pane.shown

    ChatHeader {
        id: header
        objectName: "chatHeader"
        Layout.fillWidth: true
        Layout.preferredHeight: Theme.topBarHeight
        peer: Chat.currentPeer
        // A name is shown as it was given; only the stand-in for none is translated.
        title: Chat.currentTitleFallback ? I18n.said(Chat.currentTitle) : Chat.currentTitle
        address: Chat.currentAddress
        avatarId: Chat.currentAvatarId
        avatarKind: Chat.currentAvatarKind
        verified: Chat.currentVerified
        official: Chat.currentOfficial
        groupKind: Chat.currentGroupKind
        groupSubtitle: pane.removedFromSuperGroup ? I18n.tr("chat.removedFromGroup") : I18n.said(Chat.currentGroupSubtitle)
        // A normal group's card that no longer lists the user is what keeps
        // it from sending there, too.
        removed: pane.removedFromSuperGroup || (header.isGroup && !Chat.currentCanSend)
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
                        ? I18n.tr("chat.removedFromGroup") : I18n.tr("chat.allMutedNotice")
        onRequestImage: pane.imageRequested()
        onRequestChatroom: {
            if (VoiceRoom.roomOpen)
                pane.voiceRoomRequested()
            else
                pane.voiceOpenRequested()
        }
    }
}
