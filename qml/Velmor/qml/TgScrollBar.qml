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
        // Only the change between resting and in use fades. Whether the
        // thumb shows at all follows the content at once: a list learns its
        // size a moment after it is made, and fading then flashed the thumb
        // on every list as it appeared.
        property real inUseOpacity: (bar.active || bar.hovered) ? 1.0 : 0.55
        opacity: bar.size <= 0 || bar.size >= 1.0 ? 0 : inUseOpacity

        Behavior on implicitWidth { NumberAnimation { duration: Theme.durationFast } }
        Behavior on inUseOpacity { NumberAnimation { duration: Theme.durationNormal } }
    }
}
