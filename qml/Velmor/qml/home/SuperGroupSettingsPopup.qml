import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T

// Settings of the open super group. The opener sets `loading` and calls
// Chat.loadSuperGroupInfo(); the answer clears it. Still to be filled.
Popup {
    id: popup

    property bool loading: false
    // The last information the controller delivered.
    property var info: ({})

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true

    Connections {
        target: Chat
        function onSuperGroupInfoLoaded(info) {
            popup.info = info
            popup.loading = false
        }
    }
}
