import QtQuick
import QtQuick.Window

// The main card: a gradient card with a drop shadow, square and without
// shadow in full screen. Dragging an empty spot of it moves the window.
Item {
    id: root

    property bool full: false
    default property alias content: card.data
    readonly property alias radius: card.radius
    readonly property alias shadowShown: shadow.visible

    // Drawn beforehand with the blur the card used to cast at run time.
    CardShadow {
        id: shadow
        objectName: "mainCardShadow"
        card: card
        picture: "main_card.png"
        corner: 74
        visible: !root.full
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
