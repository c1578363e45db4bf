import QtQuick
import QtQuick.Layouts
import Velmor

// The composer's row under the text: the picture, voice-room and emoji
// tools at the left; the undo of a removed long draft and the send capsule
// at the right.
RowLayout {
    id: row

    property bool onGradient: false
    property bool allowImages: true
    property bool allowChatroom: false
    property bool emojiShown: false
    property bool undoShown: false
    property bool ready: false

    signal imageClicked()
    signal chatroomClicked()
    signal emojiClicked()
    signal undoClicked()
    signal sendClicked()

    readonly property color _iconColor: onGradient ? "#e6ffffff" : Theme.textSecondary
    readonly property color _hoverFill: onGradient ? "#21ffffff" : Theme.hoverBg

    spacing: 2

    ComposerToolButton {
        objectName: "imageButton"
        visible: row.allowImages
        iconName: "attach"
        iconColor: row._iconColor
        hoverFill: row._hoverFill
        onClicked: row.imageClicked()
    }
    ComposerToolButton {
        objectName: "chatroomButton"
        visible: row.allowChatroom
        iconName: "mic"
        iconColor: row._iconColor
        hoverFill: row._hoverFill
        onClicked: row.chatroomClicked()
    }
    ComposerToolButton {
        objectName: "emojiButton"
        iconName: "emoji"
        lit: row.emojiShown
        iconColor: !row.onGradient && row.emojiShown ? Theme.accent : row._iconColor
        hoverFill: row._hoverFill
        onClicked: row.emojiClicked()
    }
    Item { Layout.fillWidth: true }

    ComposerTextButton {
        objectName: "longTextUndo"
        visible: row.undoShown
        implicitHeight: 28
        label: I18n.tr("chat.longTextUndo")
        hoverFill: row._hoverFill
        ink: row._iconColor
        onClicked: row.undoClicked()
    }

    SendButton {
        // Given as such: left to its implicit size, the layout placed the
        // capsule a fraction of a pixel elsewhere.
        Layout.preferredWidth: implicitWidth
        Layout.preferredHeight: implicitHeight
        ready: row.ready
        onGradient: row.onGradient
        onClicked: row.sendClicked()
    }
}
