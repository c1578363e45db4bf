import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "panes"
import Velmor

// The new-chat page: paste or scan an address or a group link, see what it
// resolves to, start a chat or ask to join. The home view shows it while
// mainPane is "newChat"; what it shows follows Chat.discoveryBusy and
// Chat.discoveryResult (announced by discoveryChanged).
Item {
    id: pane

    // "", or "pending", "joined" or "already_member" after a join.
    property string operationStatus: ""
    // The conversation a pending request brings into the list once it is
    // approved ("sg:" + server URL or "group:" + group id); "" for none.
    property string pendingPeer: ""
    // The input field; the sidebar empties its text before showing the page.
    readonly property alias discoveryField: discoveryField
    readonly property alias contactSheet: contactSheet

    // Copies of the controller's discovery state, taken on discoveryChanged.
    property bool busy: false
    property var result: ({})

    signal closeRequested()
    signal openRequested()
    // The scan button: the home view opens its QR-image dialog.
    signal scanRequested()

    function open() {
        operationStatus = ""
        pendingPeer = ""
        openRequested()
    }
    function close() {
        Chat.clearDiscovery()
        closeRequested()
    }
    function resolveField() { Chat.resolveDiscoveryInput(discoveryField.text) }
    function paste() {
        discoveryField.text = App.clipboardText()
        resolveField()
    }
    function startChat(remark) {
        if (Chat.saveContactAndStartChat(remark)) {
            contactSheet.close()
            close()
        }
    }
    function act() {
        if (result.kind !== "user") {
            Chat.joinDiscoveredGroup("")
        } else if (result.existingContact === true) {
            if (Chat.saveContactAndStartChat(""))
                close()
        } else {
            contactSheet.show()
        }
    }
    function statusText(status) {
        switch (status) {
        case "pending": return I18n.tr("newChat.pending")
        case "joined": return I18n.tr("newChat.joined")
        case "already_member": return I18n.tr("newChat.alreadyMember")
        }
        return status
    }

    function peerOf(r) {
        if (r.kind === "super_group" && r.serverUrl)
            return "sg:" + r.serverUrl
        if (r.kind === "normal_group" && r.groupId)
            return "group:" + r.groupId
        return ""
    }
    function listed(peer) {
        var list = Chat.conversations || []
        for (var i = 0; i < list.length; ++i) {
            if (list[i].peer === peer)
                return true
        }
        return false
    }
    // An approved request shows as the group arriving in the list: the page
    // says so instead of still waiting.
    function checkApproved() {
        if (operationStatus !== "pending" || pendingPeer === "" || !listed(pendingPeer))
            return
        operationStatus = "joined"
        pendingPeer = ""
    }

    function syncDiscovery() {
        busy = Chat.discoveryBusy
        result = Chat.discoveryResult || ({})
    }
    Component.onCompleted: syncDiscovery()

    Connections {
        target: Chat
        function onDiscoveryChanged() { pane.syncDiscovery() }
        function onDiscoveryCompleted(ok, status) {
            if (ok && (status === "pending" || status === "joined" || status === "already_member")) {
                pane.operationStatus = status
                // A group already listed (one the user was removed from
                // keeps its chat) cannot arrive: only a later approval
                // would say so, and the request waits.
                var peer = status === "pending" ? pane.peerOf(pane.result) : ""
                pane.pendingPeer = peer !== "" && !pane.listed(peer) ? peer : ""
            }
        }
        function onConversationsChanged() { pane.checkApproved() }
    }

    ColumnLayout {
        width: Math.min(parent.width, 620)
        anchors.left: parent.left
        anchors.top: parent.top
        spacing: 16

        PaneHeader {
            Layout.fillWidth: true
            Layout.topMargin: 4
            title: I18n.tr("newChat.title")
            onCloseClicked: pane.close()
        }
        Text {
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: I18n.tr("newChat.hint")
            color: "#b3ffffff"
            font.pixelSize: 12
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            PaneField {
                id: discoveryField
                objectName: "discoveryField"
                Layout.fillWidth: true
                placeholderText: "0x… / pelorin:group:… / https://…"
                onAccepted: Chat.resolveDiscoveryInput(text)
            }
            PaneBtn {
                objectName: "pasteButton"
                label: I18n.tr("login.paste")
                onClicked: pane.paste()
            }
            PaneBtn {
                objectName: "scanButton"
                label: I18n.tr("newChat.scan")
                enabled: !pane.busy
                onClicked: pane.scanRequested()
            }
            PaneBtn {
                objectName: "findButton"
                label: I18n.tr("newChat.find")
                primary: true
                enabled: !pane.busy && discoveryField.text.trim() !== ""
                onClicked: pane.resolveField()
            }
        }
        Rectangle {
            objectName: "busyStrip"
            Layout.fillWidth: true
            Layout.preferredHeight: 54
            visible: pane.busy
            radius: 14
            color: "#14ffffff"
            BusyIndicator {
                anchors.centerIn: parent
                width: 30
                height: 30
                running: parent.visible
            }
        }
        DiscoveryResultCard {
            objectName: "resultCard"
            Layout.fillWidth: true
            visible: pane.result.ok === true
            result: pane.result
            busy: pane.busy
            onActionClicked: pane.act()
        }
        Text {
            objectName: "statusLine"
            Layout.fillWidth: true
            visible: pane.operationStatus !== ""
            wrapMode: Text.Wrap
            text: pane.statusText(pane.operationStatus)
            textFormat: Text.PlainText
            color: pane.operationStatus === "pending" ? "#b3ffffff" : "#a8ffc9"
            font.pixelSize: 12
        }
        Text {
            objectName: "errorLine"
            Layout.fillWidth: true
            visible: pane.result.ok !== true && !!pane.result.error
            wrapMode: Text.Wrap
            text: I18n.tr("newChat.notFound", { "reason": pane.result.error || "" })
            textFormat: Text.PlainText
            color: "#ffb0a8"
            font.pixelSize: 12
        }
    }

    ContactSheet {
        id: contactSheet
        objectName: "contactSheet"
        address: pane.result.address || ""
        onAccepted: (remark) => pane.startChat(remark)
    }
}
