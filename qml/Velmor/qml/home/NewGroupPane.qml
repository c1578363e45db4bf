import QtQuick
import QtQuick.Layouts

// The new-group page: a normal group from the contacts, or a super group
// (SuperGroupCreation). The home view shows it while mainPane is "newGroup".
// Still to be filled: frame and interface only.
Item {
    id: pane

    readonly property alias superGroupCreation: sgCreation

    signal closeRequested()
    signal openRequested()

    // Clears the selected contacts, the name and creation-key fields, sets
    // the group type to "normal" and clears capacity and creation state.
    function resetState() {
        sgCreation.resetState()
    }
    function open() {
        resetState()
        openRequested()
    }
    function close() { closeRequested() }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 24
        PaneHeader {
            Layout.fillWidth: true
            title: "新建群聊"
            onCloseClicked: pane.close()
        }
        SuperGroupCreation {
            id: sgCreation
            Layout.fillWidth: true
            visible: false
        }
        Item { Layout.fillHeight: true }
    }
}
