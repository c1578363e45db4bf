import QtQuick
import QtQuick.Layouts
import Velmor

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
        id: card
        anchors.fill: parent
        anchors.topMargin: 14
        anchors.leftMargin: 14
        anchors.bottomMargin: 14
        radius: 24
        border.width: 1
        border.color: "#26ffffff"
        gradient: Gradient {
            id: cardGradient
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

            // The 49 frames come from one sheet rasterised beforehand at the
            // size they are drawn from (340 pixels a frame, shown at 170
            // points): a frame moves the sheet under a clip, so a tick
            // decodes and uploads nothing. The logo stands on a small surface
            // of its own over the card, so a frame redraws its 170 x 170
            // points instead of the whole window.
            WindowPatch {
                id: logoPatch
                objectName: "logoPatch"
                anchors.fill: parent
                // What the surface shows: the same frame over the card.
                sheet: "../../assets/logo_sheet_170.png"
                columns: logoAnim.columns
                rows: Math.ceil(logoAnim.frames / logoAnim.columns)
                frame: logoAnim.idx
                backdrop: card

                content: Item {
                    id: logoAnim
                    objectName: "logoAnim"

                    property int idx: 0
                    readonly property int frames: 49
                    readonly property int columns: 7

                    width: logoPatch.width
                    height: logoPatch.height

                    Item {
                        anchors.fill: parent
                        clip: true
                        // Frame 0 alone, until the sheet is in: decoding the
                        // whole sheet (1190 pixels square) would hold the
                        // window's first frame back; this small picture does
                        // not, and the sheet is decoded off the window's
                        // thread meanwhile.
                        Image {
                            objectName: "logoFirst"
                            source: "../../assets/logo_first_170.png"
                            visible: logoSheet.status !== Image.Ready
                            cache: false
                            width: logoAnim.width
                            height: logoAnim.height
                            smooth: true
                        }
                        Image {
                            id: logoSheet
                            objectName: "logoSheet"
                            source: "../../assets/logo_sheet_170.png"
                            asynchronous: true
                            // Not kept once the panel is gone: the sign-in
                            // would leave it held in memory for nothing.
                            cache: false
                            width: logoAnim.width * logoAnim.columns
                            height: logoAnim.height * Math.ceil(logoAnim.frames / logoAnim.columns)
                            x: -(logoAnim.idx % logoAnim.columns) * logoAnim.width
                            y: -Math.floor(logoAnim.idx / logoAnim.columns) * logoAnim.height
                            smooth: true
                        }
                    }
                }
            }

            // The logo loops only while it can be seen in the active window,
            // from the sheet's arrival, and not under the busy cover or a
            // notice (each frame would redraw the whole window).
            Timer {
                objectName: "logoTimer"
                interval: 16
                repeat: true
                running: panel.visible && panel.Window.window !== null && panel.Window.window.active
                         && logoSheet.status === Image.Ready && logoPatch.playable
                onTriggered: logoAnim.idx = (logoAnim.idx + 1) % logoAnim.frames
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
            // Longer in some languages than in English: wraps inside the card.
            Layout.maximumWidth: Math.max(100, card.width - 40)
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
            text: I18n.tr("login.motto")
            color: "#ffffff"
            font.pixelSize: 34
            font.weight: Font.Bold
        }

        Text {
            Layout.alignment: Qt.AlignHCenter
            Layout.maximumWidth: 300
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
            text: I18n.tr("login.tagline")
            color: "#b3ffffff"
            font.pixelSize: 13
        }
    }
}
