import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Velmor
import "panes"

// Settings of the open normal group: everything comes from one
// Chat.currentGroupInfo() map. A change of the card (name, remark,
// nickname, visibility, members) runs as a controller job: the call only
// says whether the job started, and the popup re-reads the map when
// Chat.groupOperationFinished reports the job's end for this group. While
// its job runs the popup starts no other; a failure stays on screen until
// the next change. Owner controls are hidden from the other members.
SettingsPopupFrame {
    id: popup

    // The open group's information, as Chat.currentGroupInfo() returns it.
    property var info: ({ "isGroup": false, "members": [] })
    readonly property bool isOwner: info.isOwner === true
    readonly property string groupId: info.groupId !== undefined ? info.groupId : ""
    // Public keys chosen in the add dialog, in the order chosen.
    property alias selectedKeys: addDialog.selectedKeys
    readonly property var members: info.members || []

    // The job this popup started and waits for: its operation ("rename",
    // "remark", "nickname", "visibility", "add", "remove") and group.
    property string pendingOperation: ""
    property string pendingGroupId: ""
    readonly property bool busy: pendingOperation !== "" && pendingGroupId === groupId
    // The last failed change and its group; shown while that group is shown.
    property string failure: ""
    property string failureGroupId: ""
    property string failureOperation: ""
    readonly property string shownFailure: failureGroupId === groupId ? failure : ""

    readonly property alias renameDialog: renameDialog
    readonly property alias remarkDialog: remarkDialog
    readonly property alias nicknameDialog: nicknameDialog
    readonly property alias addDialog: addDialog
    readonly property alias addConfirm: addConfirm
    readonly property alias kickConfirm: kickConfirm

    // The join-address row: the home view opens the group QR popup.
    signal qrRequested()

    function reload() {
        info = Chat.currentGroupInfo()
        options.visibilitySwitch.resync()
        options.muteSwitch.resync()
    }
    function edit(dialog, text) {
        dialog.field.text = text
        dialog.open()
    }

    function failureText(operation, error) {
        var key = {
            "rename": "group.failRename", "remark": "group.failRemark", "nickname": "group.failNickname",
            "visibility": "group.failVisibility", "add": "group.failAdd", "remove": "group.failRemove"
        }[operation] || "group.failGeneric"
        var what = I18n.tr(key)
        return error !== "" ? I18n.tr("group.failWithReason", { "what": what, "reason": error }) : what
    }
    function fail(operation, error) {
        failure = failureText(operation, error)
        failureGroupId = groupId
        failureOperation = operation
    }
    // Runs one group call unless a job of this group is still running;
    // `call` returns whether the controller started the job. A call
    // refused at once is shown as a failure without its word (the word
    // went to the controller's error model).
    function run(operation, call) {
        if (busy || groupId === "")
            return false
        failure = ""
        if (!call()) {
            fail(operation, "")
            return false
        }
        pendingOperation = operation
        pendingGroupId = groupId
        return true
    }
    function finished(operation, id, ok, error) {
        // Another group's job, or a creation: not this popup's business.
        if (id === "" || id !== groupId)
            return
        if (operation === pendingOperation && id === pendingGroupId)
            pendingOperation = ""
        if (ok) {
            reload()
            if (operation === "add")
                addDialog.close()
        } else {
            fail(operation, error)
            options.visibilitySwitch.resync()
        }
    }

    function rename(text) { return run("rename", () => Chat.renameGroup(groupId, text)) }
    function updateRemark(text) { return run("remark", () => Chat.updateGroupRemark(groupId, text)) }
    function updateNickname(text) { return run("nickname", () => Chat.updateGroupNickname(groupId, text)) }
    function setVisibility(on) {
        if (!run("visibility", () => Chat.setGroupVisibility(groupId, on)))
            options.visibilitySwitch.resync()
    }
    function addMembers() { return run("add", () => Chat.addGroupMembersFromContacts(groupId, addDialog.selectedKeys)) }
    function removeMember(key) { return run("remove", () => Chat.removeGroupMember(groupId, key)) }

    Connections {
        target: Chat
        function onGroupOperationFinished(operation, groupId, ok, error) {
            popup.finished(operation, groupId, ok, error)
        }
    }

    title: I18n.tr("chat.groupSettings")

    component CardRow: RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 16
        anchors.rightMargin: 12
        spacing: 10
    }
    component Caption: Text { color: "#b3ffffff"; font.pixelSize: 12 }

    Flickable {
        anchors.fill: parent
        clip: true
        contentHeight: body.implicitHeight
        ScrollBar.vertical: ScrollBar {}

        ColumnLayout {
            id: body
            width: parent.width
            spacing: 12

            Text {
                id: statusLine
                objectName: "statusLine"
                Layout.topMargin: 12
                Layout.leftMargin: 20
                Layout.rightMargin: 20
                Layout.fillWidth: true
                visible: text !== ""
                text: popup.busy ? I18n.tr("group.saving") : popup.shownFailure
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                color: popup.busy ? "#8cffffff" : "#ffb0a8"
                font.pixelSize: 12
            }
            GlassCard {
                Layout.topMargin: statusLine.visible ? 0 : 14
                Layout.leftMargin: 16
                Layout.rightMargin: 16
                Layout.fillWidth: true
                Layout.preferredHeight: 64
                CardRow {
                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 2
                        Caption { text: I18n.tr("group.nameCaption") }
                        Text {
                            objectName: "groupName"
                            Layout.fillWidth: true
                            text: popup.info.name || ""
                            textFormat: Text.PlainText
                            elide: Text.ElideRight
                            color: "white"
                            font.pixelSize: 16
                            font.weight: Font.Medium
                        }
                    }
                    Text {
                        objectName: "epochText"
                        text: I18n.tr("group.epoch", { "n": popup.info.epoch !== undefined ? popup.info.epoch : "-" })
                        color: "#8cffffff"
                        font.pixelSize: 11
                    }
                    PillButton {
                        objectName: "renameButton"
                        visible: popup.isOwner
                        enabled: !popup.busy
                        opacity: enabled ? 1 : 0.5
                        label: I18n.tr("group.rename")
                        onClicked: popup.edit(renameDialog, popup.info.name || "")
                    }
                }
            }
            GlassCard {
                Layout.leftMargin: 16
                Layout.rightMargin: 16
                Layout.fillWidth: true
                Layout.preferredHeight: 64
                CardRow {
                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 2
                        Caption { text: I18n.tr("group.remarkCaption") }
                        Text {
                            objectName: "remarkText"
                            Layout.fillWidth: true
                            text: popup.info.remark ? popup.info.remark : I18n.tr("group.notSet")
                            textFormat: Text.PlainText
                            elide: Text.ElideRight
                            color: popup.info.remark ? "white" : "#8cffffff"
                            font.pixelSize: 14
                        }
                    }
                    PillButton {
                        objectName: "remarkButton"
                        visible: popup.isOwner
                        enabled: !popup.busy
                        opacity: enabled ? 1 : 0.5
                        label: I18n.tr("common.edit")
                        onClicked: popup.edit(remarkDialog, popup.info.remark || "")
                    }
                }
            }
            GroupOptionsCard {
                id: options
                Layout.leftMargin: 16
                Layout.rightMargin: 16
                Layout.fillWidth: true
                joinAddress: popup.info.joinAddress || ""
                visibleInSearch: popup.info.visible === true
                myNickname: popup.info.myNickname || ""
                muted: popup.info.muted === true
                isOwner: popup.isOwner
                busy: popup.busy
                onQrClicked: popup.qrRequested()
                onCopyClicked: App.copyToClipboard(popup.info.joinAddress || "")
                onVisibilityRequested: (on) => popup.setVisibility(on)
                onNicknameClicked: popup.edit(nicknameDialog, popup.info.myNickname || "")
                onMuteRequested: (on) => {
                    Chat.setGroupMuted(popup.groupId, on)
                    popup.reload()
                }
            }
            GlassCard {
                Layout.leftMargin: 16
                Layout.rightMargin: 16
                Layout.fillWidth: true
                Layout.preferredHeight: memberColumn.implicitHeight + 16
                ColumnLayout {
                    id: memberColumn
                    y: 8
                    width: parent.width
                    spacing: 0
                    RowLayout {
                        Layout.leftMargin: 16
                        Layout.rightMargin: 12
                        Layout.topMargin: 4
                        Layout.bottomMargin: 4
                        Text {
                            objectName: "memberHeading"
                            Layout.fillWidth: true
                            text: I18n.tr("sg.membersHeading", { "n": popup.info.memberCount || 0 })
                            color: "white"
                            font.pixelSize: 15
                            font.bold: true
                        }
                        PillButton {
                            objectName: "addMemberButton"
                            visible: popup.isOwner
                            enabled: !popup.busy
                            opacity: enabled ? 1 : 0.5
                            color: Theme.accent
                            pad: 7
                            fontSize: 12
                            label: I18n.tr("group.addMember")
                            onClicked: {
                                addDialog.selectedKeys = []
                                popup.failure = ""
                                addDialog.open()
                            }
                        }
                    }
                    Repeater {
                        model: popup.members
                        delegate: GroupMemberRow {
                            required property var modelData
                            required property int index
                            objectName: "memberRow"
                            Layout.fillWidth: true
                            member: modelData
                            lastRow: index === popup.members.length - 1
                            canRemove: popup.isOwner && modelData.isOwner !== true
                            enabled: !popup.busy
                            onRemoveClicked: {
                                kickConfirm.pubkey = modelData.pubkey
                                kickConfirm.memberName = modelData.name || ""
                                kickConfirm.open()
                            }
                        }
                    }
                }
            }
            Item { Layout.preferredHeight: 14 }
        }
    }

    GlassEditPopup {
        id: renameDialog
        headerText: I18n.tr("group.renameTitle")
        maximumLength: 12
        placeholderText: I18n.tr("group.renamePlaceholder")
        onConfirmed: popup.rename(field.text)
    }
    GlassEditPopup {
        id: remarkDialog
        headerText: I18n.tr("group.remarkTitle")
        hintText: I18n.tr("group.remarkHint")
        maximumLength: 100
        placeholderText: I18n.tr("group.remarkPlaceholder")
        onConfirmed: popup.updateRemark(field.text)
    }
    GlassEditPopup {
        id: nicknameDialog
        headerText: I18n.tr("sg.myNickname")
        hintText: I18n.tr("group.nicknameHint")
        maximumLength: 20
        placeholderText: I18n.tr("group.nicknamePlaceholder")
        onConfirmed: popup.updateNickname(field.text)
    }
    GroupAddDialog {
        id: addDialog
        candidates: popup.info.addCandidates || []
        busy: popup.busy
        failure: popup.failureOperation === "add" ? popup.shownFailure : ""
        onAddClicked: addConfirm.open()
    }
    GlassConfirm {
        id: addConfirm
        title: I18n.tr("group.addConfirmTitle")
        text: I18n.tr("group.addConfirmText")
        // The choice stays in the add dialog until the job has added it.
        onAccepted: popup.addMembers()
    }
    GlassConfirm {
        id: kickConfirm
        property string pubkey: ""
        property string memberName: ""
        title: I18n.tr("sg.removeTitle")
        text: I18n.tr("group.removeText", { "name": memberName })
        onAccepted: popup.removeMember(pubkey)
    }
}
