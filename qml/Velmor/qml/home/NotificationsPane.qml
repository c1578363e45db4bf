import QtQuick
import QtQuick.Layouts

// The notifications page (join requests). The home view shows it while
// mainPane is "notifications". Still to be filled: frame and interface only.
Item {
    id: pane

    signal closeRequested()
    signal openRequested()

    function open() {
        Chat.reloadNotifications()
        openRequested()
    }
    function close() { closeRequested() }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 24
        PaneHeader {
            Layout.fillWidth: true
            title: "通知"
            onCloseClicked: pane.close()
        }
        Item { Layout.fillHeight: true }
    }
}
