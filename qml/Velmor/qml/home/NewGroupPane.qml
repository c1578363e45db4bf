import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Velmor
import Velmor.Models 1.0
import "panes"

// The new-group page: a normal group of up to 20 members from the contacts,
// or a super group (SuperGroupCreation). The home view shows it while
// mainPane is "newGroup".
Item {
    id: pane

    readonly property alias superGroupCreation: sgCreation
    readonly property alias groupNameField: groupNameField
    readonly property alias createGroupConfirm: createGroupConfirm

    // Public keys of the chosen contacts, in the order chosen (at most 19).
    property var selectedKeys: []
    // "normal", "standard" or "premium".
    property string groupType: "normal"
    // Chat.contacts by "publicKey", updated on contactsChanged: kept
    // contacts keep their rows and the list its scroll position.
    readonly property KeyedListModel contacts: KeyedListModel { keyName: "publicKey" }

    // A normal group is being created (the controller's job runs); the
    // pane closes when it succeeds and shows `createError` when it fails.
    property bool creating: false
    property string createError: ""

    readonly property int maxPicks: 19
    readonly property bool isNormal: groupType === "normal"
    readonly property int memberCount: selectedKeys.length + 1
    readonly property bool canCreateNormal: !creating && groupNameField.text.trim() !== "" && selectedKeys.length > 0

    signal closeRequested()
    signal openRequested()

    // Clears the selected contacts, the name and creation-key fields, sets
    // the group type to "normal" and clears capacity and creation state.
    function resetState() {
        selectedKeys = []
        groupNameField.text = ""
        groupType = "normal"
        creating = false
        createError = ""
        sgCreation.resetState()
    }
    function open() {
        resetState()
        openRequested()
    }
    function close() { closeRequested() }
    function ensureCapacity() { sgCreation.ensureCapacity() }

    function pickMode(key) {
        groupType = key
        if (key !== "normal")
            ensureCapacity()
    }
    function toggleContact(key) {
        var keys = selectedKeys.slice()
        var at = keys.indexOf(key)
        if (at >= 0)
            keys.splice(at, 1)
        else if (keys.length < maxPicks)
            keys.push(key)
        else
            return
        selectedKeys = keys
    }
    // The call only starts the creation; groupOperationFinished ("create")
    // tells how it ended. A call refused at once reported its word to the
    // controller's error model only.
    function createNormal() {
        if (creating)
            return
        createError = ""
        if (Chat.createGroupFromContacts(groupNameField.text, selectedKeys))
            creating = true
        else
            createError = I18n.tr("newGroup.failed")
    }
    function creationFinished(ok, error) {
        // A result after resetState belongs to an earlier visit.
        if (!creating)
            return
        creating = false
        if (!ok)
            createError = error !== "" ? I18n.tr("group.failWithReason", { "what": I18n.tr("newGroup.failed"), "reason": error })
                                     : I18n.tr("newGroup.failed")
        else if (visible)
            close()
    }

    Component.onCompleted: contacts.sync(Chat.contacts || [])
    Connections {
        target: Chat
        function onContactsChanged() { pane.contacts.sync(Chat.contacts || []) }
        function onGroupOperationFinished(operation, groupId, ok, error) {
            if (operation === "create")
                pane.creationFinished(ok, error)
        }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 14

        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: 4
            spacing: 0
            Text {
                text: I18n.tr("newGroup.title")
                color: "white"
                font.pixelSize: 20
                font.bold: true
            }
            Text {
                objectName: "sizeHint"
                Layout.leftMargin: 8
                Layout.alignment: Qt.AlignBottom
                visible: pane.isNormal
                text: I18n.tr("newGroup.limit")
                color: "#8cffffff"
                font.pixelSize: 11
            }
            PaneHeader {
                Layout.fillWidth: true
                onCloseClicked: pane.close()
            }
        }
        GroupModeSelector {
            Layout.fillWidth: true
            Layout.maximumWidth: 620
            groupType: pane.groupType
            onPicked: (key) => pane.pickMode(key)
        }
        PaneField {
            id: groupNameField
            objectName: "groupNameField"
            Layout.fillWidth: true
            Layout.maximumWidth: 620
            placeholderText: I18n.tr("group.nameCaption")
        }
        SuperGroupCreation {
            id: sgCreation
            objectName: "superGroupCreation"
            Layout.fillWidth: true
            visible: !pane.isNormal
            groupType: pane.groupType
            groupName: groupNameField.text
            onCreated: if (pane.visible) pane.close()
        }
        Text {
            objectName: "pickCaption"
            visible: pane.isNormal
            text: I18n.tr("newGroup.pickContacts")
            color: "#b3ffffff"
            font.pixelSize: 12
        }
        ListView {
            id: contactList
            objectName: "contactList"
            Layout.fillWidth: true
            Layout.fillHeight: true
            visible: pane.isNormal
            clip: true
            spacing: 6
            model: pane.contacts
            ScrollBar.vertical: TgScrollBar {}
            delegate: ContactPickRow {
                required property var entry
                objectName: "contactRow"
                width: Math.min(contactList.width, 620)
                contact: entry
                selected: pane.selectedKeys.indexOf(entry.publicKey) >= 0
                onToggled: pane.toggleContact(entry.publicKey)
            }
            Text {
                objectName: "noContacts"
                anchors.centerIn: parent
                visible: contactList.count === 0
                text: I18n.tr("newGroup.noContacts")
                color: "#8cffffff"
                font.pixelSize: 12
            }
        }
        Text {
            objectName: "createError"
            Layout.fillWidth: true
            Layout.maximumWidth: 620
            visible: pane.isNormal && pane.createError !== ""
            text: pane.createError
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            color: "#ffb0a8"
            font.pixelSize: 12
        }
        PaneBtn {
            objectName: "createGroupButton"
            Layout.fillWidth: true
            Layout.maximumWidth: 620
            Layout.preferredHeight: 42
            visible: pane.isNormal
            primary: true
            enabled: pane.canCreateNormal
            label: pane.creating ? I18n.tr("common.creating") : I18n.tr("newGroup.create", { "n": pane.memberCount })
            onClicked: createGroupConfirm.open()
        }
        Item {
            Layout.fillHeight: true
            visible: !pane.isNormal
        }
    }

    CreateGroupConfirm {
        id: createGroupConfirm
        objectName: "createGroupConfirm"
        groupName: groupNameField.text.trim()
        memberCount: pane.memberCount
        onAccepted: pane.createNormal()
    }
}
