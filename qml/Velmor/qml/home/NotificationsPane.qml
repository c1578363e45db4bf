import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Velmor
import Velmor.Models 1.0
import "panes"
import "settings"

// The notifications page: the join requests waiting for the user's decision,
// as Chat.notifications lists them (announced by notificationsChanged). The
// home view shows it while mainPane is "notifications".
Item {
    id: pane

    // Chat.notifications by "stableId", updated on notificationsChanged:
    // kept requests keep their rows and the list its scroll position.
    readonly property KeyedListModel requests: KeyedListModel { keyName: "stableId" }

    signal closeRequested()
    signal openRequested()

    function open() {
        Chat.reloadNotifications()
        openRequested()
    }
    function close() { closeRequested() }

    // What a decision that changed nothing tells the user, by error word.
    readonly property var decisionFailures: ({
        "join_request_gone": I18n.tr("joins.gone"),
        "join_resolution_failed": I18n.tr("joins.failed")
    })

    Component.onCompleted: requests.sync(Chat.notifications || [])
    Connections {
        target: Chat
        function onNotificationsChanged() { pane.requests.sync(Chat.notifications || []) }
        function onOperationFailed(error) {
            var text = error ? pane.decisionFailures[error.detail] : undefined
            if (pane.visible && text)
                decisionToast.show(text)
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 14

        PaneHeader {
            Layout.fillWidth: true
            Layout.topMargin: 4
            title: I18n.tr("joins.title")
            onCloseClicked: pane.close()
        }

        ListView {
            id: list
            objectName: "requestList"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            spacing: 10
            model: pane.requests
            ScrollBar.vertical: TgScrollBar {}

            delegate: JoinRequestRow {
                required property var entry
                objectName: "requestRow"
                width: Math.min(list.width, 640)
                request: entry
                onDecided: (action) => Chat.resolveJoinNotification(entry.kind, entry.target,
                                                                    entry.requesterPublicKey, action)
            }

            Text {
                objectName: "emptyRequests"
                anchors.centerIn: parent
                visible: list.count === 0
                text: I18n.tr("joins.empty")
                color: "#8cffffff"
                font.pixelSize: 12
            }
        }
    }

    PaneToast {
        id: decisionToast
        objectName: "decisionToast"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 18
    }
}
