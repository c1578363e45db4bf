import QtQuick
import Velmor

// One row of the message list, drawn from a message map. Still to be filled
// (bubbles, grouping, avatars, media, voice): the interface the list uses and
// a plain text placeholder.
Item {
    id: row

    // The message map, and its neighbours in the list (null at either end)
    // for grouping.
    property var message: ({})
    property var previousMessage: null
    property var nextMessage: null
    // The list's width: the row is 44 narrower, centred.
    property real listWidth: 0
    // The open conversation's peer key ("group:", "sg:" or a public key).
    property string currentPeer: ""
    // Id of the voice message that plays ("" when none).
    property string playingVoiceId: ""

    signal imageClicked(string src)
    signal voicePlaybackStarted(string id)
    signal voicePlaybackStopped()

    width: Math.max(0, listWidth - 44)
    height: Math.max(24, body.implicitHeight + 16)
    anchors.horizontalCenter: parent ? parent.horizontalCenter : undefined

    Rectangle {
        anchors.right: row.message && row.message.outgoing === true ? parent.right : undefined
        width: Math.min(row.width * 0.8, body.implicitWidth + 22)
        height: parent.height
        radius: Theme.radiusLarge
        color: row.message && row.message.outgoing === true ? Theme.bubbleOut : Theme.bubbleIn

        Text {
            id: body
            x: 11
            y: 8
            width: Math.min(implicitWidth, row.width * 0.8 - 22)
            text: row.message && row.message.text ? String(row.message.text) : ""
            textFormat: Text.PlainText
            wrapMode: Text.WrapAtWordBoundaryOrAnywhere
            font.pixelSize: Theme.fontBody
            color: Theme.textPrimary
        }
    }
}
