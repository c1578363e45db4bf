import QtQuick
import Velmor

// The grid of the composer's 48 emoji. A click emits `picked` with the
// emoji's text; the panel stays open so several can be added in a row.
GridView {
    id: grid

    signal picked(string emoji)

    // Two carry the variation selector U+FE0F ("❤️", "☀️").
    readonly property var emojis: [
        "😀", "😁", "😂", "🤣", "😊", "😍", "😘", "😜", "🤔", "😎", "😭", "😢",
        "😡", "👍", "👎", "👏", "🙏", "💪", "🎉", "🔥", "\u2764\uFE0F", "💔", "✨", "⭐",
        "🌟", "💯", "🚀", "\u2600\uFE0F", "🌙", "⚡", "🍺", "☕", "🍎", "🍕", "🎂", "🐶",
        "🐱", "🦄", "👀", "💰", "📌", "✅", "❌", "❓", "❗", "😴", "🤗", "🥳"
    ]

    clip: true
    cellWidth: 46
    cellHeight: 46
    boundsBehavior: Flickable.StopAtBounds
    // Cells are made only while the panel shows: hidden (as it starts) it
    // would otherwise load the colour emoji face, megabytes of it, at start.
    model: visible ? emojis : []

    delegate: Item {
        id: cell
        required property string modelData
        required property int index
        objectName: "emojiCell" + index
        width: 46
        height: 46

        Rectangle {
            width: 40
            height: 40
            radius: 10
            color: cellMouse.containsMouse ? Theme.hoverBg : "transparent"

            Text {
                anchors.centerIn: parent
                text: cell.modelData
                textFormat: Text.PlainText
                font.family: Theme.emojiFamily
                font.pixelSize: 24
            }
            MouseArea {
                id: cellMouse
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onClicked: grid.picked(cell.modelData)
            }
        }
    }
}
