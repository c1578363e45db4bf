import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T

// Confirms opening a voice room (its button calls VoiceRoom.openRoom()).
// Still to be filled: interface only.
Popup {
    id: popup

    // The user is in the room: the home view opens the voice-room popup.
    signal roomEntered()

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
}
