import QtQuick
import Velmor
import "rowLogic.js" as Logic
import "../helpers.js" as Helpers

// A row of animated emoji on a transparent bubble: 64 px for a single one,
// 40 px each for more. A code without a GIF shows its characters instead.
// The GIFs play only while `running` (the row is visible in the active
// window) and stand still otherwise.
Item {
    id: root

    property var codes: []
    property bool running: false
    property bool senderShown: false
    property real senderWidth: 0

    readonly property int count: codes ? codes.length : 0
    readonly property int emojiSize: count === 1 ? 64 : 40
    readonly property url _emojiFolder: Qt.resolvedUrl("../../../assets/emoji/")

    implicitWidth: Math.max(count * emojiSize + Math.max(0, count - 1) * 6 + 8,
                            senderShown ? senderWidth + 22 : 0)
    implicitHeight: emojiSize + 8 + (senderShown ? 25 : 0)

    Row {
        objectName: "emojiRow"
        x: 4
        y: root.senderShown ? 29 : 4
        spacing: 6

        Repeater {
            model: root.codes
            delegate: Item {
                id: cell
                required property var modelData
                readonly property string code: String(modelData)
                readonly property bool hasGif: Logic.hasGifEmoji(code)
                width: root.emojiSize
                height: root.emojiSize

                AnimatedImage {
                    id: gif
                    objectName: "emojiGif"
                    anchors.fill: parent
                    source: cell.hasGif ? root._emojiFolder + cell.code + ".gif" : ""
                    fillMode: Image.PreserveAspectFit
                    smooth: true
                    asynchronous: true
                    playing: root.running && cell.visible
                    visible: cell.hasGif && status !== Image.Error
                }
                Text {
                    objectName: "emojiFallback"
                    anchors.centerIn: parent
                    visible: !gif.visible
                    text: visible ? Helpers.emojiFromCode(cell.code) : ""
                    textFormat: Text.PlainText
                    font.family: Theme.emojiFamily
                    font.pixelSize: root.emojiSize - 12
                }
            }
        }
    }
}
