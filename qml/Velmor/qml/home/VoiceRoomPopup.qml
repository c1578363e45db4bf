import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T

// The voice room of the shown super group (speakers, listeners, microphone,
// devices, leave and dissolve). Still to be filled: interface only.
Popup {
    id: popup

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
}
