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
        // Qt reads eight-digit colours alpha first (#AARRGGBB). Written the
        // other way round ("#0000007a", "#ffffff7a") the light thumb would
        // have alpha 0 and never show, and the dark one would be an opaque
        // pale yellow. So: black on light panels, white on dark ones, at
        // alpha 0x7a while hovered or pressed and 0x53 at rest.
        color: Theme.dark ? (bar.strong ? "#7affffff" : "#53ffffff")
                          : (bar.strong ? "#7a000000" : "#53000000")
        opacity: bar.size >= 1.0 ? 0 : ((bar.active || bar.hovered) ? 1.0 : 0.55)

        Behavior on implicitWidth { NumberAnimation { duration: Theme.durationFast } }
        Behavior on opacity { NumberAnimation { duration: Theme.durationNormal } }
    }
}
