import QtQuick
import QtQuick.Controls.Basic
import Velmor

// Track-less thumb that widens under the pointer and rests half faded.
ScrollBar {
    id: bar

    readonly property bool strong: bar.hovered || bar.pressed

    policy: ScrollBar.AsNeeded
    hoverEnabled: true
    minimumSize: 0.08
    background: null

    contentItem: Rectangle {
        implicitWidth: bar.strong ? 8 : 5
        implicitHeight: implicitWidth
        radius: implicitWidth / 2
        // Alpha-first literals: a dark thumb on light panels, a pale one on
        // dark panels, stronger while hovered or pressed.
        color: Theme.dark ? (bar.strong ? "#7affffff" : "#53ffffff")
                          : (bar.strong ? "#7a000000" : "#53000000")
        opacity: bar.size >= 1.0 ? 0 : ((bar.active || bar.hovered) ? 1.0 : 0.55)

        Behavior on implicitWidth { NumberAnimation { duration: Theme.durationFast } }
        Behavior on opacity { NumberAnimation { duration: Theme.durationNormal } }
    }
}
