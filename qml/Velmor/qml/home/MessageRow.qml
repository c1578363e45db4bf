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
// avatar on the last (the list says where a run starts and ends).
//
// Most rows are text bubbles, and an opened conversation makes a screenful
// of them at once: the row draws a text bubble itself and declares no
// component. What only some rows show (the content of the other kinds, the
// avatar, the retry mark) is made by address for the rows that show it.
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
    // Animated content runs only while the list says it can be seen (one
    // flag for every row) and the row itself is visible.
    property bool animating: false

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
    // A text bubble ("text", or "big" emoji): drawn by the row itself.
    readonly property bool textLike: kind === "text" || kind === "big"
    readonly property bool isSystem: kind === "system"
    readonly property bool isImage: kind === "image"
    readonly property bool isVoice: kind === "voice"
    // A text row already knows (its kind says "big"); the emoji test runs
    // again only for the rarer kinds that are not text.
    readonly property bool big: kind === "big" || (!textLike && !isImage && !isVoice && Helpers.isBigEmoji(text))
    readonly property bool isGroupChat: currentPeer.indexOf("group:") === 0 || currentPeer.indexOf("sg:") === 0
    readonly property bool showSenderLabel: !outgoing && !isSystem && firstInGroup
                                            && currentPeer.indexOf("group:") === 0
    readonly property bool showAvatar: isGroupChat && !outgoing && !isSystem && lastInGroup
    readonly property bool voicePlaying: isVoice && Voice.playing && playingVoiceId === messageId
    readonly property bool canRetry: Logic.canRetry(outgoing, status)
    readonly property real maxBubbleW: Math.min(Theme.bubbleMaxWidth, 0.8 * width)
    readonly property bool animateNow: animating && visible
    // Time and tick: in the bubble's corner, or on a picture.
    readonly property bool hasMeta: kind === "text" || kind === "site" || kind === "transfer" || kind === "voice"
    readonly property string time: Helpers.formatTime(m.ts)
    readonly property string tick: Logic.tickName(outgoing, status)
    readonly property real senderLabelWidth: _sender ? _sender.implicitWidth : 0
    // What the bubble holds: the text, or the content of another kind.
    readonly property Item content: textLike ? textContent : (_kind ? _kind.item : null)

    // The parts only some rows show, made by address for those rows (a
    // text row, the common case, makes none of them): the sender's
    // picture, the content of the other kinds, the sender's name and the
    // retry mark. Each is null while the row does not show it.
    property Item _avatar: null
    property Item _kind: null
    property Item _sender: null
    property Item _failed: null

    width: Math.max(0, listWidth - 44)
    height: Math.max(bubble.height, showAvatar ? Theme.avatarSmall : 0)
    anchors.horizontalCenter: parent ? parent.horizontalCenter : undefined

    // Retries an outgoing message that failed; the controller resends it
    // as a new message and republishes the list.
    function retry() {
        if (canRetry)
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

    // The part `name` made from `url` in `into` while `shown`, given `props`
    // (see Helpers.holdPart).
    function _holdPart(name, shown, url, into, props) {
        return Helpers.holdPart(row, name, shown, function () {
            var made = Qt.createComponent(url).createObject(into, props)
            if (made === null)
                console.warn("MessageRow: could not make " + url)
            return made
        })
    }
    function _holdAvatar() {
        _holdPart("_avatar", showAvatar, "message/RowAvatar.qml", row, {
            "row": row, "objectName": "incomingAvatar", "width": Theme.avatarSmall, "height": Theme.avatarSmall,
            "y": Qt.binding(function () { return bubble.y + bubble.height - Theme.avatarSmall })
        })
    }
    // The mark is 18 px wide and high (message/FailedMark.qml).
    function _holdFailedMark() {
        var made = _holdPart("_failed", canRetry, "message/FailedMark.qml", row, {
            "objectName": "failedMark",
            "x": Qt.binding(function () { return bubble.x - 6 - 18 }),
            "y": Qt.binding(function () { return bubble.y + (bubble.height - 18) / 2 })
        })
        if (made !== null)
            made.retryClicked.connect(row.retry)
    }
    function _holdKind() {
        _holdPart("_kind", !textLike, "message/KindContent.qml", bubble, { "row": row, "objectName": "bubbleContent" })
    }
    function _holdSender() {
        _holdPart("_sender", showSenderLabel, "message/SenderLabel.qml", bubble, { "row": row })
    }
    onShowAvatarChanged: _holdAvatar()
    onTextLikeChanged: _holdKind()
    onShowSenderLabelChanged: _holdSender()
    onCanRetryChanged: _holdFailedMark()
    // A new row holds no part yet: only the parts it shows are asked for
    // (each call builds the properties and bindings its part would get).
    Component.onCompleted: {
        if (showAvatar)
            _holdAvatar()
        if (!textLike)
            _holdKind()
        if (showSenderLabel)
            _holdSender()
        if (canRetry)
            _holdFailedMark()
    }

    Rectangle {
        objectName: "bubbleShadow"
        visible: row.hasMeta
        x: bubble.x
        y: bubble.y + 1
        width: bubble.width
        height: bubble.height
        radius: Theme.radiusLarge
        color: row.outgoing ? Theme.bubbleShadowOut : Theme.bubbleShadowIn
    }

    // The bubble's fill, and what it holds above it.
    BubbleShape {
        id: bubble
        objectName: "bubble"

        width: row.content ? row.content.implicitWidth : 0
        height: row.content ? row.content.implicitHeight : 0
        x: row.isSystem ? Math.round((row.width - width) / 2)
                        : (row.outgoing ? row.width - width
                                        : (row.isGroupChat ? Theme.avatarSmall + 8 : 0))
        radius: row.isSystem ? height / 2 : Theme.radiusLarge
        color: (row.big || row.isImage || row.kind === "emoji") ? "transparent"
               : row.isSystem ? Theme.serviceBg
               : (row.outgoing ? Theme.bubbleOut : Theme.bubbleIn)
        // The inner side of a run: the user's own at the right.
        tightTopLeft: !row.isSystem && !row.outgoing && !row.firstInGroup
        tightBottomLeft: !row.isSystem && !row.outgoing && !row.lastInGroup
        tightTopRight: !row.isSystem && row.outgoing && !row.firstInGroup
        tightBottomRight: !row.isSystem && row.outgoing && !row.lastInGroup

        TextBubble {
            id: textContent
            objectName: "textContent"
            visible: row.textLike
            text: row.textLike ? row.text : ""
            translated: row.textLike && row.m.translated ? String(row.m.translated) : ""
            big: row.big
            outgoing: row.outgoing
            senderShown: row.showSenderLabel
            senderWidth: row.senderLabelWidth
            metaWidth: metaRow.implicitWidth
            maxWidth: row.maxBubbleW
            onFullTextRequested: row.fullTextRequested(row.text)
        }

        TimeTick {
            id: metaRow
            objectName: "metaRow"
            // Over the content of the other kinds, made after it.
            z: 1
            visible: row.hasMeta
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            anchors.rightMargin: 9
            anchors.bottomMargin: 5
            time: row.hasMeta ? row.time : ""
            tick: row.hasMeta ? row.tick : ""
            textColor: row.outgoing ? Theme.bubbleTimeOut : Theme.bubbleTimeIn
        }
    }
}
