import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T

// Full-window preview of the conversation's images, zoomed and one after
// another. Still to be filled: interface only.
Popup {
    id: popup

    // The imageSrc of every image message of Chat.messages, in list order.
    property var sources: []
    property int currentIndex: 0

    // Collects the images, makes `value` the current one (0 when it is not
    // among them), resets zoom and panning, and opens.
    function openAt(value) {
        var list = []
        var msgs = Chat.messages || []
        for (var i = 0; i < msgs.length; ++i) {
            var m = msgs[i] || {}
            if (m.kind === "image" && m.imageSrc)
                list.push(m.imageSrc)
        }
        sources = list
        currentIndex = Math.max(0, list.indexOf(value))
        open()
    }

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
}
