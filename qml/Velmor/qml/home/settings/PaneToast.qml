import QtQuick

// Short notice at the bottom of a page: shown at once, fades out a while
// after the last call of show().
Rectangle {
    id: toast

    property int duration: 2000
    property int hPadding: 32
    property int vPadding: 18
    property alias pixelSize: label.font.pixelSize
    property alias text: label.text
    property alias timer: hideTimer

    function show(message) {
        label.text = message
        opacity = 1
        hideTimer.restart()
    }

    width: label.implicitWidth + hPadding
    height: label.implicitHeight + vPadding
    radius: 16
    color: "#cc10121f"
    opacity: 0
    visible: opacity > 0
    Behavior on opacity { NumberAnimation { duration: 160 } }

    Text {
        id: label
        objectName: "toastLabel"
        anchors.centerIn: parent
        textFormat: Text.PlainText
        color: "white"
        font.pixelSize: 12
    }

    Timer {
        id: hideTimer
        interval: toast.duration
        onTriggered: toast.opacity = 0
    }
}
