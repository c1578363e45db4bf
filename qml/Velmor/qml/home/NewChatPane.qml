import QtQuick
import QtQuick.Layouts

// The new-chat page: paste or scan an address or a group link, see what it
// resolves to, start a chat or ask to join. The home view shows it while
// mainPane is "newChat". Still to be filled: frame and interface only.
Item {
    id: pane

    // "", or "pending", "joined" or "already_member" after a join.
    property string operationStatus: ""
    // The input field; the sidebar empties its text before showing the page.
    readonly property alias discoveryField: discoveryField

    signal closeRequested()
    signal openRequested()
    // The scan button: the home view opens its QR-image dialog.
    signal scanRequested()

    function open() { openRequested() }
    function close() {
        Chat.clearDiscovery()
        closeRequested()
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 24
        spacing: 14
        PaneHeader {
            Layout.fillWidth: true
            title: "新建聊天"
            onCloseClicked: pane.close()
        }
        PaneField {
            id: discoveryField
            objectName: "discoveryField"
            Layout.fillWidth: true
            Layout.maximumWidth: 620
        }
        Item { Layout.fillHeight: true }
    }
}
