import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import "helpers.js" as Helpers
import Velmor

// The join address of the open normal group as a QR code. It closes by a
// click outside or Escape.
Popup {
    id: popup

    // "pelorin:group:" + join key, or "" (bound by the home view to
    // groupSettings.info.joinAddress).
    property string joinAddress: ""

    // Drawn when the popup opens, and again when the address changes while
    // it shows.
    function refresh() {
        qrImage.source = "data:image/svg+xml;utf8," + encodeURIComponent(App.qrSvg(joinAddress))
    }
    onAboutToShow: refresh()
    onJoinAddressChanged: if (visible) refresh()

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    // Takes the keyboard focus, so Escape reaches it and closes it.
    focus: true
    width: 320
    height: 360
    padding: 22

    background: Rectangle {
        radius: 20
        color: "#f21f2236"
        border.width: 1
        border.color: "#33ffffff"
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 14
        Text {
            Layout.alignment: Qt.AlignHCenter
            text: I18n.tr("groupQr.title")
            color: "white"
            font.pixelSize: 17
            font.bold: true
        }
        Rectangle {
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: 240
            Layout.preferredHeight: 240
            radius: 14
            color: "white"
            Image {
                id: qrImage
                objectName: "qrImage"
                anchors.fill: parent
                anchors.margins: 10
                fillMode: Image.PreserveAspectFit
                // Rasterised at the size shown: the drawing is a few dozen
                // units wide and would blur when scaled up.
                sourceSize.width: 220
                sourceSize.height: 220
                smooth: false
            }
        }
        Text {
            objectName: "qrAddress"
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            text: Helpers.shortAddress(popup.joinAddress)
            textFormat: Text.PlainText
            color: "#8cffffff"
            font.pixelSize: 11
        }
    }
}
