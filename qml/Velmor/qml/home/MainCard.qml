import QtQuick
import QtQuick.Window
import Qt5Compat.GraphicalEffects

// The main card: a gradient card with a drop shadow, square and without
// shadow in full screen. Dragging an empty spot of it moves the window.
Item {
    id: root

    property bool full: false
    default property alias content: card.data
    readonly property alias radius: card.radius
    readonly property alias shadowShown: shadow.visible

    // The shadow is cast by a bare copy of the card's outline, not by the
    // card: with the card as its source, every change of its content (a
    // message, the caret's blink) would blur the whole card again.
    Rectangle {
        id: outline
        anchors.fill: card
        radius: card.radius
        color: "black"
        visible: false
    }

    DropShadow {
        id: shadow
        objectName: "mainCardShadow"
        anchors.fill: card
        source: outline
        cached: true
        visible: !root.full
        transparentBorder: true
        color: "#8c000000"
        radius: 22
        samples: 45
        verticalOffset: 8
        horizontalOffset: 0
    }

    Rectangle {
        id: card
        objectName: "mainCardFrame"
        anchors.fill: parent
        radius: root.full ? 0 : 12
        clip: true
        gradient: Gradient {
            GradientStop { position: 0.0; color: "#3f4475" }
            GradientStop { position: 1.0; color: "#8c72a2" }
        }

        DragHandler {
            objectName: "mainCardDrag"
            target: null
            enabled: !root.full
            onActiveChanged: {
                if (active && root.Window.window)
                    root.Window.window.startSystemMove()
            }
        }
    }
}
