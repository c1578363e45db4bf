import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T

// Settings of the open normal group. Still to be filled: interface only.
Popup {
    id: popup

    // The open group's information, as Chat.currentGroupInfo() returns it
    // (joinAddress, members, ...).
    property var info: ({})

    // The join-address row: the home view opens the group QR popup.
    signal qrRequested()

    function reload() {
        info = Chat.currentGroupInfo()
    }

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
}
