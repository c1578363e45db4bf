import QtQuick

// Close and minimise dots of the frameless login window; both glyphs show
// while the pointer is anywhere over the row, the gap included.
Row {
    id: dots

    signal closeClicked()
    signal minimizeClicked()

    spacing: 8

    HoverHandler {
        id: lightsHover
    }

    component Dot: Rectangle {
        id: dot

        property string glyph
        property color glyphColor

        signal clicked()

        width: 13
        height: 13
        radius: 6.5
        border.width: 0.5

        Text {
            anchors.centerIn: parent
            visible: lightsHover.hovered
            text: dot.glyph
            color: dot.glyphColor
            font.pixelSize: 8
            font.weight: Font.Bold
        }

        MouseArea {
            anchors.fill: parent
            onClicked: dot.clicked()
        }
    }

    Dot {
        objectName: "closeDot"
        color: "#ff5f57"
        border.color: "#e0443e"
        glyph: "✕"
        glyphColor: "#7a1712"
        onClicked: dots.closeClicked()
    }

    Dot {
        objectName: "minimizeDot"
        color: "#febc2e"
        border.color: "#d89e24"
        glyph: "−"
        glyphColor: "#8a6a1f"
        onClicked: dots.minimizeClicked()
    }
}
