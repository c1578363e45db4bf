import QtQuick
import QtQuick.Controls.Basic
import Velmor

// Dimming layer that swallows every press beneath it while shown.
Rectangle {
    id: root

    property string label: I18n.tr("common.loading")

    visible: false
    color: Theme.scrim
    z: 10000
    Accessible.name: label
    Accessible.role: Accessible.ProgressBar

    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.AllButtons
        hoverEnabled: true
        preventStealing: true
        onWheel: function(wheel) { wheel.accepted = true }
    }

    Column {
        anchors.centerIn: parent
        spacing: Theme.space12

        BusyIndicator {
            objectName: "indicator"
            anchors.horizontalCenter: parent.horizontalCenter
            running: root.visible
        }

        Text {
            objectName: "labelText"
            anchors.horizontalCenter: parent.horizontalCenter
            text: root.label
            textFormat: Text.PlainText
            // The scrim token is fully transparent (its first byte is the
            // alpha), so the label stands on the window itself and takes the
            // window's text colour.
            color: Theme.textPrimary
            font.pixelSize: Theme.fontBody
        }
    }
}
