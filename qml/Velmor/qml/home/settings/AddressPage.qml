import QtQuick
import QtQuick.Layouts
import ".."
import "avatarSets.js" as Sets
import Velmor

// The user's address as a QR code and text, with a copy button.
ColumnLayout {
    id: page

    property string address: ""
    property string qrSource: ""

    signal copyClicked()

    spacing: 16

    Rectangle {
        Layout.alignment: Qt.AlignHCenter
        Layout.preferredWidth: 230
        Layout.preferredHeight: 230
        radius: 16
        color: "white"
        Image {
            objectName: "addressQr"
            // Drawn at the size shown, a whole number of pixels per module,
            // and never smoothed, so the modules stay sharp.
            readonly property int pixels: Sets.qrPixels(source, 206)
            anchors.centerIn: parent
            width: pixels
            height: pixels
            fillMode: Image.PreserveAspectFit
            smooth: false
            mipmap: false
            sourceSize: Qt.size(pixels, pixels)
            source: page.qrSource
        }
    }
    Text {
        objectName: "addressText"
        Layout.fillWidth: true
        horizontalAlignment: Text.AlignHCenter
        text: page.address
        textFormat: Text.PlainText
        color: "white"
        font.pixelSize: 13
        font.family: Sets.monoFamily(Qt.fontFamilies())
        wrapMode: Text.WrapAnywhere
    }
    PaneBtn {
        objectName: "copyAddress"
        Layout.alignment: Qt.AlignHCenter
        Layout.preferredWidth: 180
        Layout.preferredHeight: 40
        primary: true
        label: I18n.tr("profile.copyAddress")
        onClicked: page.copyClicked()
    }
    Item { Layout.fillHeight: true }
}
