import QtQuick
import QtQuick.Layouts
import ".."

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
            anchors.fill: parent
            anchors.margins: 12
            fillMode: Image.PreserveAspectFit
            // Unsmoothed, so the modules stay sharp when scaled up.
            smooth: false
            mipmap: false
            sourceSize: Qt.size(206, 206)
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
        font.family: "Menlo"
        wrapMode: Text.WrapAnywhere
    }
    PaneBtn {
        objectName: "copyAddress"
        Layout.alignment: Qt.AlignHCenter
        Layout.preferredWidth: 180
        Layout.preferredHeight: 40
        primary: true
        label: "复制地址"
        onClicked: page.copyClicked()
    }
    Item { Layout.fillHeight: true }
}
