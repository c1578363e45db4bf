import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Velmor
import "panes"

// Settings of the open normal group: everything comes from one
// Chat.currentGroupInfo() map, every change goes through one synchronous
// call and is followed by reload() when it worked. Owner controls are
// hidden from the other members.
SettingsPopupFrame {
    id: popup

    // The open group's information, as Chat.currentGroupInfo() returns it.
    property var info: ({ "isGroup": false, "members": [] })
    readonly property bool isOwner: info.isOwner === true
    readonly property string groupId: info.groupId !== undefined ? info.groupId : ""
    // Public keys chosen in the add dialog, in the order chosen.
    property alias selectedKeys: addDialog.selectedKeys
    readonly property var members: info.members || []

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

    title: "群设置"

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

            GlassCard {
                Layout.topMargin: 14
                Layout.leftMargin: 16
                Layout.rightMargin: 16
                Layout.fillWidth: true
                Layout.preferredHeight: 64
                CardRow {
                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 2
                        Caption { text: "群名称" }
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
                        text: "epoch " + (popup.info.epoch !== undefined ? popup.info.epoch : "-")
                        color: "#8cffffff"
                        font.pixelSize: 11
                    }
                    PillButton {
                        objectName: "renameButton"
                        visible: popup.isOwner
                        label: "改名"
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
                        Caption { text: "群备注" }
                        Text {
                            objectName: "remarkText"
                            Layout.fillWidth: true
                            text: popup.info.remark ? popup.info.remark : "未设置"
                            textFormat: Text.PlainText
                            elide: Text.ElideRight
                            color: popup.info.remark ? "white" : "#8cffffff"
                            font.pixelSize: 14
                        }
                    }
                    PillButton {
                        objectName: "remarkButton"
                        visible: popup.isOwner
                        label: "修改"
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
                onQrClicked: popup.qrRequested()
                onCopyClicked: App.copyToClipboard(popup.info.joinAddress || "")
                onVisibilityRequested: (on) => {
                    if (Chat.setGroupVisibility(popup.groupId, on))
                        popup.reload()
                    else
                        options.visibilitySwitch.resync()
                }
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
                            text: "成员 (" + (popup.info.memberCount || 0) + ")"
                            color: "white"
                            font.pixelSize: 15
                            font.bold: true
                        }
                        PillButton {
                            objectName: "addMemberButton"
                            visible: popup.isOwner
                            color: Theme.accent
                            pad: 7
                            fontSize: 12
                            label: "＋ 加成员"
                            onClicked: {
                                addDialog.selectedKeys = []
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
        headerText: "修改群名称"
        Component.onCompleted: { field.maximumLength = 12; field.placeholderText = "输入新群名" }
        onConfirmed: if (Chat.renameGroup(popup.groupId, field.text)) popup.reload()
    }
    GlassEditPopup {
        id: remarkDialog
        headerText: "修改群备注"
        hintText: "备注对全体成员可见,留空则清除"
        Component.onCompleted: { field.maximumLength = 100; field.placeholderText = "留空则清除备注" }
        onConfirmed: if (Chat.updateGroupRemark(popup.groupId, field.text)) popup.reload()
    }
    GlassEditPopup {
        id: nicknameDialog
        headerText: "我在群组的昵称"
        hintText: "群内其他成员将看到这个名字,留空则显示钱包地址"
        Component.onCompleted: { field.maximumLength = 20; field.placeholderText = "输入群昵称" }
        onConfirmed: if (Chat.updateGroupNickname(popup.groupId, field.text)) popup.reload()
    }
    GroupAddDialog {
        id: addDialog
        candidates: popup.info.addCandidates || []
        onAddClicked: addConfirm.open()
    }
    GlassConfirm {
        id: addConfirm
        title: "确认添加成员"
        text: "添加后将轮换群密钥，确认继续？"
        onAccepted: {
            if (Chat.addGroupMembersFromContacts(popup.groupId, addDialog.selectedKeys)) {
                addDialog.close()
                popup.reload()
            }
        }
    }
    GlassConfirm {
        id: kickConfirm
        property string pubkey: ""
        property string memberName: ""
        title: "移除成员"
        text: "确定将「" + memberName + "」移出群聊？\n将轮换群密钥，该成员无法再解密新消息。"
        onAccepted: if (Chat.removeGroupMember(popup.groupId, pubkey)) popup.reload()
    }
}
