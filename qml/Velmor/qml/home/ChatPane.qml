import QtQuick
import QtQuick.Layouts
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

    // Another conversation was opened.
    function resetForConversation() {
        composer.dismissPanels()
        msgList.resetForConversation()
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
            groupSubtitle: Chat.currentGroupSubtitle
            onFriendInfoRequested: pane.friendInfoRequested()
            onGroupSettingsRequested: pane.groupSettingsRequested()
            onSuperGroupSettingsRequested: pane.superGroupSettingsRequested()
        }

        VoiceBanner {
            id: bannerStrip
            objectName: "voiceBannerStrip"
            Layout.fillWidth: true
            Layout.preferredHeight: visible ? 54 : 0
            visible: Chat.currentGroupKind === "premium_plus" && VoiceRoom.roomOpen
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
            onGradient: true
            allowImages: true
            allowChatroom: Chat.currentGroupKind === "premium_plus" && VoiceRoom.canOpen
            sendingEnabled: Chat.currentCanSend
            disabledReason: "全员禁言中，仅群主和管理员可以发送消息"
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
