import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import Velmor

// Frame of the profile view's sheets: modal, centred over the window, a
// rounded card in the window colour.
Popup {
    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    // Takes the keyboard, so Escape closes it.
    focus: true
    padding: 0

    background: Rectangle {
        radius: 20
        color: Theme.windowBg
        border.width: 1
        border.color: Theme.border
    }
}
