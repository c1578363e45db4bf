import QtQuick

// Capsule at the bottom of the login card; each show() replaces the text
// and keeps it up for a further 2600 ms. A text wider than `maxWidth` wraps
// instead of running off the card.
Rectangle {
    id: toast

    property real maxWidth: 600

    function show(msg) {
        toastLabel.text = msg
        toast.opacity = 1
        toastTimer.restart()
    }

    width: Math.min(toastLabel.implicitWidth, maxWidth - 36) + 36
    height: toastLabel.height + 20
    radius: 18
    color: "#d91f2329"
    opacity: 0
    visible: opacity > 0

    Behavior on opacity {
        NumberAnimation { duration: 180 }
    }

    Text {
        id: toastLabel
        objectName: "toastLabel"
        anchors.centerIn: parent
        width: toast.width - 36
        textFormat: Text.PlainText
        wrapMode: Text.WrapAtWordBoundaryOrAnywhere
        horizontalAlignment: Text.AlignHCenter
        color: "white"
        font.pixelSize: 13
    }

    Timer {
        id: toastTimer
        objectName: "toastTimer"
        interval: 2600
        repeat: false
        onTriggered: toast.opacity = 0
    }
}
