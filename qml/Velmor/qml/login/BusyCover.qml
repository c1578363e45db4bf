import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts

// Translucent cover over the whole login card while a sign-in runs, with a
// spinner and the controller's status text. It handles no mouse input, so
// the window buttons, the mode links and the window drag stay usable.
Rectangle {
    id: cover

    property bool running: false
    property string status: ""

    visible: running
    radius: 30
    color: "#a61b1e33"

    ColumnLayout {
        anchors.centerIn: parent
        spacing: 12

        BusyIndicator {
            Layout.alignment: Qt.AlignHCenter
            running: cover.running
        }

        Text {
            objectName: "status"
            Layout.alignment: Qt.AlignHCenter
            visible: cover.status.length > 0
            text: cover.status
            textFormat: Text.PlainText
            color: "white"
            font.pixelSize: 13
        }
    }
}
