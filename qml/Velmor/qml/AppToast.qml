import QtQuick
import Velmor

// Capsule message that fades out by itself 1800 ms after the last show().
Rectangle {
    id: root

    property alias text: label.text

    function show(message) {
        label.text = message
        root.opacity = 1
        timer.restart()
    }

    implicitWidth: Math.min(420, label.implicitWidth + 40)
    implicitHeight: label.implicitHeight + 22
    radius: height / 2
    color: Theme.dark ? "#f0f0f0" : "#22252a"
    opacity: 0
    visible: opacity > 0
    z: 11000

    Behavior on opacity { NumberAnimation { duration: Theme.durationNormal } }

    Text {
        id: label
        objectName: "label"
        anchors.centerIn: parent
        // A message wider than the capsule is cut with an ellipsis instead
        // of running out over both of its ends.
        width: Math.min(implicitWidth, Math.max(0, root.width - 40))
        elide: Text.ElideRight
        textFormat: Text.PlainText
        color: Theme.dark ? "#202124" : "white"
        font.pixelSize: Theme.fontFootnote
        wrapMode: Text.NoWrap
        maximumLineCount: 1
    }

    Timer {
        id: timer
        objectName: "timer"
        interval: 1800
        repeat: false
        onTriggered: root.opacity = 0
    }
}
