import QtQuick
import QtQuick.Layouts

// Left half of the login card: the animated logo and three lines of text on
// a violet panel. The form aligns its divider with the tagline's centre line,
// which lies `taglineOffset` below the panel's vertical centre.
Item {
    id: panel

    // Taken from implicit sizes rather than from the laid-out positions: the
    // form's layout depends on this value, and reading positions that the
    // same layout pass sets would make the layouts polish each other in a loop.
    readonly property real taglineOffset: -leftCol.implicitHeight / 2 + logoBox.implicitHeight
        + spacer.implicitHeight + brandText.implicitHeight + 3 * leftCol.spacing
        + taglineText.implicitHeight / 2

    Rectangle {
        anchors.fill: parent
        anchors.topMargin: 14
        anchors.leftMargin: 14
        anchors.bottomMargin: 14
        radius: 24
        border.width: 1
        border.color: "#26ffffff"
        gradient: Gradient {
            GradientStop { position: 0.0; color: "#5f608b" }
            GradientStop { position: 1.0; color: "#a287b3" }
        }
    }

    ColumnLayout {
        id: leftCol
        anchors.centerIn: parent
        spacing: 14

        Item {
            id: logoBox
            Layout.alignment: Qt.AlignHCenter
            implicitWidth: 170
            implicitHeight: 170

            Image {
                id: logoAnim
                objectName: "logoAnim"

                property int idx: 0

                anchors.fill: parent
                source: "../../assets/logo_frames/f" + idx + ".svg"
                sourceSize: Qt.size(340, 340)
                fillMode: Image.PreserveAspectFit
                cache: true
                smooth: true
            }

            // The logo loops only while it can be seen in the active window.
            Timer {
                objectName: "logoTimer"
                interval: 16
                repeat: true
                running: panel.visible && panel.Window.window !== null && panel.Window.window.active
                onTriggered: logoAnim.idx = (logoAnim.idx + 1) % 49
            }
        }

        Item {
            id: spacer
            implicitHeight: 4
        }

        Text {
            id: brandText
            Layout.alignment: Qt.AlignHCenter
            text: "PELORIN NETWORK"
            color: "#b3ffffff"
            font.pixelSize: 12
            font.weight: Font.Black
            font.letterSpacing: 2
        }

        Text {
            id: taglineText
            Layout.alignment: Qt.AlignHCenter
            text: "Private by design."
            color: "#ffffff"
            font.pixelSize: 34
            font.weight: Font.Bold
        }

        Text {
            Layout.alignment: Qt.AlignHCenter
            Layout.maximumWidth: 300
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
            text: "端到端加密 · 钱包根身份 · 无需手机号邮箱"
            color: "#b3ffffff"
            font.pixelSize: 13
        }
    }
}
