import QtQuick

// One-line capsule at the bottom of the login card; each show() replaces the
// text and keeps it up for a further 2600 ms.
Rectangle {
    id: toast

    function show(msg) {
        toastLabel.text = msg
        toast.opacity = 1
        toastTimer.restart()
    }

    width: toastLabel.implicitWidth + 36
    height: toastLabel.implicitHeight + 20
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
        textFormat: Text.PlainText
        color: "white"
        font.pixelSize: 13
        maximumLineCount: 1
    }

    Timer {
        id: toastTimer
        objectName: "toastTimer"
        interval: 2600
        repeat: false
        onTriggered: toast.opacity = 0
    }
}
