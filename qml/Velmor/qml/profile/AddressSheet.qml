import QtQuick
import QtQuick.Layouts
import Velmor
import "../home/settings/avatarSets.js" as Sets

// The user's ERC-20 address as a QR code and as text, with a copy button.
SheetPopup {
    id: addressSheet

    property string address: ""
    // A data address of the code's SVG, set by the owner while the sheet shows.
    property string qrSource: ""

    signal copyClicked()

    width: 380
    implicitHeight: addrCol.implicitHeight + 20

    contentItem: Item {
        ColumnLayout {
            id: addrCol
            width: parent.width
            spacing: 16

            SheetHeader {
                title: I18n.tr("profile.address")
                onCloseClicked: addressSheet.close()
            }

            Rectangle {
                Layout.alignment: Qt.AlignHCenter
                Layout.preferredWidth: 220
                Layout.preferredHeight: 220
                radius: 16
                color: "white"
                border.width: 1
                border.color: Theme.border
                Image {
                    objectName: "addressQr"
                    // Drawn at the size shown, a whole number of pixels per
                    // module, and never smoothed: the modules keep hard edges.
                    readonly property int pixels: Sets.qrPixels(source, 196)
                    anchors.centerIn: parent
                    width: pixels
                    height: pixels
                    fillMode: Image.PreserveAspectFit
                    sourceSize: Qt.size(pixels, pixels)
                    smooth: false
                    mipmap: false
                    source: addressSheet.qrSource
                }
            }

            Text {
                objectName: "addressText"
                Layout.fillWidth: true
                Layout.leftMargin: 22
                Layout.rightMargin: 22
                horizontalAlignment: Text.AlignHCenter
                text: addressSheet.address
                textFormat: Text.PlainText
                color: Theme.textPrimary
                font.pixelSize: 13
                font.family: Sets.monoFamily(Qt.fontFamilies())
                wrapMode: Text.WrapAnywhere
            }

            Rectangle {
                objectName: "copyAddress"
                Layout.fillWidth: true
                Layout.leftMargin: 22
                Layout.rightMargin: 22
                Layout.bottomMargin: 4
                Layout.preferredHeight: 40
                radius: 12
                color: copyMa.pressed ? Qt.darker(Theme.brandBlue, 1.15) : Theme.brandBlue
                Accessible.role: Accessible.Button
                Accessible.name: copyLabel.text
                Row {
                    anchors.centerIn: parent
                    spacing: 7
                    TgIcon {
                        anchors.verticalCenter: parent.verticalCenter
                        name: "copy"
                        size: 16
                        color: "white"
                    }
                    Text {
                        id: copyLabel
                        anchors.verticalCenter: parent.verticalCenter
                        text: I18n.tr("profile.copyAddress")
                        color: "white"
                        font.pixelSize: Theme.fontBody
                        font.weight: Font.Medium
                    }
                }
                MouseArea {
                    id: copyMa
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: addressSheet.copyClicked()
                }
            }
        }
    }
}
