import QtQuick

// Lets the user move the frameless window by pressing anywhere that is not a
// control: it sits above the card, takes every press first and hands a press
// over a visible, enabled item of `interactiveItems` to the items beneath.
// Hover stays off so hover effects below it keep working.
MouseArea {
    id: dragLayer

    property var interactiveItems: []

    signal windowMoveStarted()

    // True when the point (in this layer's coordinates) lies over one of the
    // interactive items, edges included.
    function overInteractive(px, py) {
        for (var i = 0; i < interactiveItems.length; ++i) {
            var item = interactiveItems[i]
            if (!item || !item.visible || !item.enabled)
                continue
            var p = dragLayer.mapToItem(item, px, py)
            if (p.x >= 0 && p.x <= item.width && p.y >= 0 && p.y <= item.height)
                return true
        }
        return false
    }

    onPressed: function (mouse) {
        if (overInteractive(mouse.x, mouse.y)) {
            mouse.accepted = false
            return
        }
        dragLayer.windowMoveStarted()
        if (dragLayer.Window.window)
            dragLayer.Window.window.startSystemMove()
    }
}
