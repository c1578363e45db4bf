import QtQuick

// Close, minimise and full-screen circles at the top left of the main card.
// Their glyphs show together while the pointer is anywhere over the row.
Row {
    id: row

    property bool full: false

    signal closeClicked()
    signal minimiseClicked()
    signal fullScreenClicked()

    spacing: 8

    HoverHandler { id: lightsHover }

    Repeater {
        model: [
            { "name": "close", "fill": "#ff5f57", "border": "#e0443e", "glyph": "\u2715", "size": 8, "ink": "#7a1712" },
            { "name": "minimise", "fill": "#febc2e", "border": "#d89e24", "glyph": "\u2212", "size": 8, "ink": "#8a6a1f" },
            { "name": "fullScreen", "fill": "#28c840", "border": "#1f9a31", "glyph": "", "size": 7, "ink": "#0b5d1a" }
        ]

        delegate: Rectangle {
            required property var modelData

            objectName: modelData.name + "Button"
            width: 13
            height: 13
            radius: 6.5
            color: modelData.fill
            border.width: 0.5
            border.color: modelData.border

            Text {
                objectName: parent.modelData.name + "Glyph"
                anchors.centerIn: parent
                visible: lightsHover.hovered
                text: parent.modelData.name === "fullScreen" ? (row.full ? "\u25be" : "\u25b4") : parent.modelData.glyph
                color: parent.modelData.ink
                font.pixelSize: parent.modelData.size
                font.bold: true
            }

            MouseArea {
                anchors.fill: parent
                onClicked: {
                    var n = parent.modelData.name
                    if (n === "close")
                        row.closeClicked()
                    else if (n === "minimise")
                        row.minimiseClicked()
                    else
                        row.fullScreenClicked()
                }
            }
        }
    }
}
