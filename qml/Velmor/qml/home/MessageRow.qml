import QtQuick
import Velmor
import "helpers.js" as Helpers
import "message"
import "message/rowLogic.js" as Logic

// One row of the message list, drawn from a message map: a bubble at the
// right for the user's own messages, at the left for everybody else's, a
// centred capsule for system lines; around it the group avatar, the
// sender's name, the time with the delivery tick and the retry mark of a
// failed send. Runs of messages from one sender are grouped: the inner
// corners of their bubbles are tight, the name shows on the first and the
// avatar on the last (the list says where a run starts and ends). The
// content of each kind is a component of its own (message/), loaded only
// for the row that needs it.
Item {
    id: row
    objectName: "messageRow"

    // The message map, and whether it opens and closes a run of messages
    // from one sender (the list knows its neighbours).
    property var message: ({})
    property bool firstInGroup: true
    property bool lastInGroup: true
    // The list's width: the row is 44 narrower, centred.
    property real listWidth: 0
    // The open conversation's peer key ("group:", "sg:" or a public key).
    property string currentPeer: ""
    // Id of the voice message that plays ("" when none).
    property string playingVoiceId: ""

    signal imageClicked(string src)
    // The whole text of a message whose bubble shows it cut.
    signal fullTextRequested(string text)
    signal voicePlaybackStarted(string id)
    signal voicePlaybackStopped()

    readonly property var m: message || ({})
    readonly property string messageId: m.id === undefined || m.id === null ? "" : String(m.id)
    readonly property string text: m.text === undefined || m.text === null ? "" : String(m.text)
    readonly property bool outgoing: m.outgoing === true
    readonly property int status: Number(m.status) || 0

    readonly property string kind: Logic.rowKind(m, Helpers.isBigEmoji)
    readonly property bool isSystem: m.kind === "system"
    readonly property bool isImage: kind === "image"
    readonly property bool isVoice: kind === "voice"
    // A text row already knows (its kind says "big"); the emoji test runs
    // again only for the rarer kinds that are not text.
    readonly property bool big: kind === "big"
                                || (kind !== "text" && !isImage && !isVoice && Helpers.isBigEmoji(text))
    readonly property bool isGroupChat: currentPeer.indexOf("group:") === 0 || currentPeer.indexOf("sg:") === 0
    readonly property bool showSenderLabel: !outgoing && !isSystem && firstInGroup
                                            && currentPeer.indexOf("group:") === 0
    readonly property bool showAvatar: isGroupChat && !outgoing && !isSystem && lastInGroup
    readonly property bool voicePlaying: isVoice && Voice.playing && playingVoiceId === messageId
    readonly property real maxBubbleW: Math.min(Theme.bubbleMaxWidth, 0.8 * width)
    // Animated content runs only while the list says it can be seen (one
    // flag for every row) and the row itself is visible.
    property bool animating: false
    readonly property bool _animate: animating && visible
    readonly property bool hasMeta: kind === "text" || kind === "site" || kind === "transfer" || kind === "voice"
    readonly property bool hasShadow: hasMeta

    width: Math.max(0, listWidth - 44)
    height: Math.max(bubble.height, showAvatar ? incomingAvatar.height : 0)
    anchors.horizontalCenter: parent ? parent.horizontalCenter : undefined

    // Retries an outgoing message that failed; the controller resends it
    // as a new message and republishes the list.
    function retry() {
        if (Logic.canRetry(outgoing, status))
            Chat.retryMessage(messageId)
    }

    // Starts the clip first and only then names it as playing: starting
    // stops the clip that plays, and that stop report clears the playing id,
    // so the id set afterwards is the one that stays.
    function toggleVoice() {
        if (voicePlaying) {
            Voice.stopPlayback()
            row.voicePlaybackStopped()
            return
        }
        var mime = m.voiceMime ? String(m.voiceMime) : ""
        Voice.playBase64(String(m.voiceB64), mime !== "" ? mime : "audio/mp4")
        row.voicePlaybackStarted(messageId)
    }

    // Made only for the rows that show it (the last of a run in a group).
    Loader {
        id: incomingAvatar
        objectName: "incomingAvatar"
        active: row.showAvatar
        visible: active
        x: 0
        y: bubble.y + bubble.height - height
        width: Theme.avatarSmall
        height: Theme.avatarSmall
        sourceComponent: CircleAvatar {
            avatarId: row.m.senderAvatarId ? String(row.m.senderAvatarId) : ""
            avatarKind: row.m.senderAvatarKind ? String(row.m.senderAvatarKind) : ""
            animate: row._animate
        }
    }

    Rectangle {
        id: bubbleShadow
        objectName: "bubbleShadow"
        visible: row.hasShadow
        x: bubble.x
        y: bubble.y + 1
        width: bubble.width
        height: bubble.height
        radius: Theme.radiusLarge
        color: row.outgoing ? Theme.bubbleShadowOut : Theme.bubbleShadowIn
    }

    Item {
        id: bubble
        objectName: "bubble"

        readonly property real baseR: row.isSystem ? height / 2 : Theme.radiusLarge
        readonly property bool sideCorners: !row.isSystem

        width: content.item ? content.item.implicitWidth : 0
        height: content.item ? content.item.implicitHeight : 0
        x: row.isSystem ? Math.round((row.width - width) / 2)
                        : (row.outgoing ? row.width - width
                                        : (row.isGroupChat ? Theme.avatarSmall + 8 : 0))

        BubbleShape {
            id: shape
            objectName: "bubbleShape"
            anchors.fill: parent
            radius: bubble.baseR
            color: (row.big || row.isImage || row.kind === "emoji") ? "transparent"
                   : row.isSystem ? Theme.serviceBg
                   : (row.outgoing ? Theme.bubbleOut : Theme.bubbleIn)
            tightTopLeft: bubble.sideCorners && !row.outgoing && !row.firstInGroup
            tightBottomLeft: bubble.sideCorners && !row.outgoing && !row.lastInGroup
            tightTopRight: bubble.sideCorners && row.outgoing && !row.firstInGroup
            tightBottomRight: bubble.sideCorners && row.outgoing && !row.lastInGroup
        }

        Loader {
            id: content
            objectName: "bubbleContent"
            sourceComponent: {
                switch (row.kind) {
                case "site": return linkComponent
                case "transfer": return transferComponent
                case "emoji": return emojiComponent
                case "image": return imageComponent
                case "voice": return voiceComponent
                case "system": return systemComponent
                default: return textComponent
                }
            }
        }

        // The sender's name over the first bubble of a run in a group; its
        // text and colour are worked out only for the rows that show it.
        Text {
            id: senderText
            objectName: "senderText"
            visible: row.showSenderLabel
            x: 11
            y: 7
            width: Math.max(0, Math.min(implicitWidth, bubble.width - 22))
            text: row.showSenderLabel ? (row.m.senderName ? String(row.m.senderName)
                                                          : Helpers.shortAddress(row.m.senderAddress)) : ""
            textFormat: Text.PlainText
            elide: Text.ElideRight
            color: row.showSenderLabel ? Theme.peerColors[Logic.peerColorIndex(row.m.senderAddress, row.m.senderName)]
                                       : "transparent"
            font.pixelSize: Theme.fontBody
            font.weight: Font.DemiBold
        }

        TimeTick {
            id: metaRow
            objectName: "metaRow"
            visible: row.hasMeta
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            anchors.rightMargin: 9
            anchors.bottomMargin: 5
            time: Helpers.formatTime(row.m.ts)
            tick: Logic.tickName(row.outgoing, row.status)
            textColor: row.outgoing ? Theme.bubbleTimeOut : Theme.bubbleTimeIn
            tickColor: Theme.bubbleTick
        }
    }

    // Made only beside a message that failed to go out.
    Loader {
        objectName: "failedMark"
        active: Logic.canRetry(row.outgoing, row.status)
        visible: active
        x: bubble.x - 6 - width
        y: bubble.y + (bubble.height - height) / 2
        sourceComponent: FailedMark {
            onRetryClicked: row.retry()
        }
    }

    Component {
        id: textComponent
        TextBubble {
            text: row.text
            translated: row.m.translated ? String(row.m.translated) : ""
            big: row.big
            outgoing: row.outgoing
            senderShown: row.showSenderLabel
            senderWidth: senderText.implicitWidth
            metaWidth: metaRow.implicitWidth
            maxWidth: row.maxBubbleW
            onFullTextRequested: row.fullTextRequested(row.text)
        }
    }
    Component {
        id: systemComponent
        SystemCapsule {
            text: I18n.said(row.text)
            maxWidth: row.width
        }
    }
    Component {
        id: imageComponent
        ImageBubble {
            source: String(row.m.imageSrc)
            imageWidth: Number(row.m.imageW) || 0
            imageHeight: Number(row.m.imageH) || 0
            time: Helpers.formatTime(row.m.ts)
            tick: Logic.tickName(row.outgoing, row.status)
            onClicked: row.imageClicked(String(row.m.imageSrc))
        }
    }
    Component {
        id: linkComponent
        LinkCard {
            title: row.m.siteTitle ? String(row.m.siteTitle) : ""
            url: String(row.m.siteUrl)
            outgoing: row.outgoing
            onOpenRequested: (url) => Qt.openUrlExternally(url)
        }
    }
    Component {
        id: transferComponent
        TransferCard {
            symbol: row.m.transferSymbol ? String(row.m.transferSymbol) : ""
            amount: String(row.m.transferAmountRaw)
            explorerUrl: row.m.transferExplorerUrl ? String(row.m.transferExplorerUrl) : ""
            outgoing: row.outgoing
            onOpenRequested: (url) => Qt.openUrlExternally(url)
        }
    }
    Component {
        id: emojiComponent
        EmojiBubble {
            codes: Logic.emojiCodes(row.m)
            running: row._animate
            senderShown: row.showSenderLabel
            senderWidth: senderText.implicitWidth
        }
    }
    Component {
        id: voiceComponent
        VoiceBubble {
            bars: Logic.voiceBars(row.m.voiceWaveform)
            durationText: Logic.voiceDurText(row.m.durMs)
            playing: row.voicePlaying
            ink: row.outgoing ? (Theme.dark ? "#ffffff" : "#1c2733") : Theme.textPrimary
            onClicked: row.toggleVoice()
        }
    }
}
