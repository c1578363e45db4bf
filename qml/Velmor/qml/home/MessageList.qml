import QtQuick
import QtQuick.Controls.Basic
import Velmor
import "helpers.js" as Helpers

// The open conversation's messages, oldest first. It opens at the newest
// message and follows new ones while the user is at the end; once the user
// scrolls up it leaves the view alone. The messages are mirrored into a
// model by id, so a republished list keeps the rows (and the scroll
// position) that did not change.
ListView {
    id: list

    property var messages: []
    property string currentPeer: ""
    property string playingVoiceId: ""
    // Whether to stay at the end; set by where the user's last movement ended.
    property bool stickBottom: true

    signal tapped()
    signal imageOpened(string src)
    signal voicePlaybackStarted(string id)
    signal voicePlaybackStopped()

    clip: true
    spacing: 3
    topMargin: 18
    model: ListModel { id: messageModel }
    ScrollBar.vertical: TgScrollBar { objectName: "scrollBar" }
    // A footer, not a bottom margin: positioning at the end ignores margins.
    footer: Item { width: 1; height: 34 }

    // The messages the model holds now.
    property var _shown: []
    onMessagesChanged: {
        _shown = Helpers.syncModel(messageModel, _shown, messages, "id")
        if (stickBottom)
            Qt.callLater(list.toBottom)
    }
    Component.onCompleted: _shown = Helpers.syncModel(messageModel, _shown, messages, "id")

    function toBottom() {
        positionViewAtEnd()
        Qt.callLater(list.positionViewAtEnd)
        bottomSettle.ticks = 0
        bottomSettle.restart()
    }

    // Another conversation was opened: start at its end.
    function resetForConversation() {
        stickBottom = true
        Qt.callLater(list.toBottom)
    }

    onCountChanged: {
        if (stickBottom)
            toBottom()
    }
    onContentHeightChanged: {
        if (stickBottom)
            Qt.callLater(list.positionViewAtEnd)
    }
    onHeightChanged: {
        if (stickBottom)
            Qt.callLater(list.positionViewAtEnd)
    }
    // Every row re-wraps at a new width, and rows already laid out are not
    // moved by the list itself: lay out again, or they overlap.
    onWidthChanged: {
        forceLayout()
        if (stickBottom)
            Qt.callLater(list.positionViewAtEnd)
    }
    onMovementEnded: stickBottom = atYEnd

    // Rows get their real heights one by one after creation: keep going to
    // the end for a short while.
    Timer {
        id: bottomSettle
        objectName: "bottomSettle"
        property int ticks: 0
        interval: 70
        repeat: true
        onTriggered: {
            if (!list.stickBottom) {
                stop()
                return
            }
            list.positionViewAtEnd()
            ticks += 1
            if (ticks >= 10)
                stop()
        }
    }

    TapHandler {
        onTapped: list.tapped()
    }

    delegate: MessageRow {
        required property string json
        required property int index
        message: JSON.parse(json)
        previousMessage: index > 0 ? list.messages[index - 1] || null : null
        nextMessage: index + 1 < list.messages.length ? list.messages[index + 1] || null : null
        listWidth: list.width
        currentPeer: list.currentPeer
        playingVoiceId: list.playingVoiceId
        onImageClicked: (src) => list.imageOpened(src)
        onVoicePlaybackStarted: (id) => list.voicePlaybackStarted(id)
        onVoicePlaybackStopped: list.voicePlaybackStopped()
    }
}
