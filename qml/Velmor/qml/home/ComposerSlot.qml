import QtQuick

// The message input bar at the bottom of the chat pane (text, emoji, pasted
// images, attach and microphone buttons). Still to be filled: the interface
// the chat pane and the home view use, and a placeholder bar.
Item {
    id: composer

    property bool onGradient: false
    property bool allowImages: true
    property bool allowChatroom: false
    property bool sendingEnabled: true
    property string disabledReason: ""
    // Shown as a tooltip for 3500 ms, then emptied.
    property string errorText: ""

    signal requestImage()
    signal requestChatroom()

    // Hides the emoji panel and takes the focus from the editor.
    function dismissPanels() { }

    implicitHeight: 115

    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 16
        height: 44
        radius: 22
        color: "#21ffffff"
    }
}
