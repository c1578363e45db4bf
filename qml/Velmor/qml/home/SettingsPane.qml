import QtQuick
import QtQuick.Layouts

// The settings page of the main card (profile, avatar, address, backup,
// log-out). The home view shows it while mainPane is "settings".
// Still to be filled: only the frame and the interface are here.
Item {
    id: pane

    // The sub-page shown: "root", "avatar", "address" or "backup".
    property string sub: "root"
    // The log-out confirmation is showing.
    property bool confirmingLogout: false

    // The page's close control: the home view returns to the chat.
    signal closeRequested()

    function close() { closeRequested() }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 24
        PaneHeader {
            Layout.fillWidth: true
            title: "设置"
            onCloseClicked: pane.close()
        }
        Item { Layout.fillHeight: true }
    }
}
