import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Velmor
import "panes"

// Settings of the open super group. The opener sets `loading`, opens the
// popup and calls Chat.loadSuperGroupInfo(); the answer arrives through
// superGroupInfoLoaded. The server decides every action and the controller
// re-reads the group after each one.
SettingsPopupFrame {
    id: popup

    property bool loading: false
    // The last information the controller delivered for the shown group.
    property var info: ({ "valid": false, "members": [] })
    // The texts being edited; a refresh leaves them alone once the user
    // has typed in them, until they are saved or the popup is opened anew.
    property string groupName: ""
    property string notice: ""
    property string nickname: ""
    property bool nameEdited: false
    property bool noticeEdited: false
    property bool nicknameEdited: false
    property string pendingRemoveKey: ""
    property string pendingRemoveName: ""
    // Set by a save or an invitation until the controller's next reading of
    // the group, which follows each of them whether it worked or not: quick
    // repeated clicks send one request.
    property bool actionBusy: false

    readonly property bool isManager: info.isManager === true
    readonly property bool isOwner: info.isOwner === true
    readonly property var members: info.members || []
    // The rows as shown: in the server's order, except while the pointer is
    // over the list, where a new reading (after "设为管理", say) keeps every
    // row in its place so the next click hits the member it was aimed at.
    property var shownMembers: []
    readonly property alias removeConfirm: sgRemoveConfirm

    // The user's own display name, or "" when the list only carries a
    // fallback label for it: the controller then gives `name` the same text
    // as `shortKey` (the shortened address, or its label for an unknown one).
    function ownNickname(list) {
        for (var i = 0; i < list.length; ++i) {
            var m = list[i]
            if (m.isMe !== true)
                continue
            var name = m.name || ""
            return name === m.shortKey ? "" : name
        }
        return ""
    }
    // `next` in the order of `shown`; members new to the list go last.
    function inPlace(next, shown) {
        var byKey = {}
        for (var i = 0; i < next.length; ++i)
            byKey[next[i].pubkey] = next[i]
        var placed = []
        var seen = {}
        for (var j = 0; j < shown.length; ++j) {
            var m = byKey[shown[j].pubkey]
            if (m !== undefined && seen[m.pubkey] !== true) {
                placed.push(m)
                seen[m.pubkey] = true
            }
        }
        for (var k = 0; k < next.length; ++k)
            if (seen[next[k].pubkey] !== true)
                placed.push(next[k])
        return placed
    }
    function applyInfo(next) {
        info = next
        shownMembers = memberHover.hovered ? inPlace(members, shownMembers) : members
        loading = false
        if (!nameEdited)
            groupName = next.name || ""
        if (!noticeEdited)
            notice = next.notice || ""
        if (!nicknameEdited)
            nickname = ownNickname(next.members || [])
        infoCard.fill(groupName, notice)
        profileCard.fill(nickname)
        infoCard.joinOpenSwitch.resync()
        infoCard.allMutedSwitch.resync()
        profileCard.muteSwitch.resync()
    }
    function forgetEdits() {
        nameEdited = false
        noticeEdited = false
        nicknameEdited = false
    }
    function saveMeta(joinOpen) {
        if (actionBusy)
            return
        // A blank name is dropped by the controller with no reading after.
        if (groupName.trim() !== "")
            actionBusy = true
        nameEdited = false
        noticeEdited = false
        Chat.updateSuperGroupMeta(groupName, notice, joinOpen)
    }
    function saveProfile() {
        if (actionBusy)
            return
        actionBusy = true
        nicknameEdited = false
        Chat.updateSuperGroupProfile(nickname)
    }
    function invite(keys) {
        if (actionBusy || keys.length === 0)
            return
        actionBusy = true
        Chat.inviteSuperGroupMembers(keys)
    }
    function showsServer(serverUrl) { return Chat.currentPeer === "sg:" + serverUrl }

    title: I18n.tr("sg.title")
    // A new opening starts from the server's texts.
    // The popup is kept between openings: each one starts at the name and
    // the announcement, not where the previous group was left scrolled.
    onAboutToShow: sgBody.contentY = 0
    onLoadingChanged: {
        if (loading) {
            forgetEdits()
            actionBusy = false
        }
    }

    Connections {
        target: Chat
        function onSuperGroupInfoLoaded(info) {
            // An answer for another group than the open one is stale.
            if (info && info.serverUrl !== undefined && !popup.showsServer(info.serverUrl))
                return
            popup.actionBusy = false
            popup.applyInfo(info || ({}))
        }
        function onSuperGroupEvent(serverUrl, type, data) {
            if (popup.visible && popup.showsServer(serverUrl)
                    && (type.indexOf("server.member.") === 0 || type === "server.group.updated"))
                Chat.loadSuperGroupInfo()
        }
    }

    BusyIndicator {
        objectName: "sgLoading"
        anchors.centerIn: parent
        visible: popup.loading
        running: visible
    }
    Text {
        objectName: "sgUnavailable"
        anchors.centerIn: parent
        visible: !popup.loading && popup.info.valid !== true
        text: I18n.tr("sg.unavailable")
        color: "#8cffffff"
        font.pixelSize: 14
    }
    Flickable {
        id: sgBody
        objectName: "sgBody"
        anchors.fill: parent
        visible: !popup.loading && popup.info.valid === true
        clip: true
        contentHeight: body.implicitHeight
        ScrollBar.vertical: ScrollBar {}

        ColumnLayout {
            id: body
            width: parent.width
            spacing: 12

            SgInfoCard {
                id: infoCard
                Layout.topMargin: 14
                Layout.leftMargin: 16
                Layout.rightMargin: 16
                Layout.fillWidth: true
                info: popup.info
                busy: popup.actionBusy
                onNameEdited: (text) => { popup.groupName = text; popup.nameEdited = true }
                onNoticeEdited: (text) => { popup.notice = text; popup.noticeEdited = true }
                onAllMutedRequested: (on) => Chat.setSuperGroupAllMuted(on)
                onSaveClicked: (joinOpen) => popup.saveMeta(joinOpen)
            }
            GlassCard {
                Layout.leftMargin: 16
                Layout.rightMargin: 16
                Layout.fillWidth: true
                Layout.preferredHeight: memberColumn.implicitHeight + 16
                HoverHandler {
                    id: memberHover
                    onHoveredChanged: if (!hovered) popup.shownMembers = popup.members
                }
                ColumnLayout {
                    id: memberColumn
                    y: 8
                    width: parent.width
                    spacing: 0
                    Text {
                        objectName: "sgMemberHeading"
                        Layout.leftMargin: 16
                        Layout.topMargin: 4
                        Layout.bottomMargin: 4
                        text: I18n.tr("sg.membersHeading", { "n": popup.info.memberCount || 0 })
                        color: "white"
                        font.pixelSize: 15
                        font.bold: true
                    }
                    Repeater {
                        model: popup.shownMembers
                        delegate: SgMemberRow {
                            required property var modelData
                            required property int index
                            objectName: "sgMemberRow"
                            Layout.fillWidth: true
                            member: modelData
                            groupPeer: popup.info.serverUrl ? "sg:" + popup.info.serverUrl : ""
                            lastRow: index === popup.shownMembers.length - 1
                            canSetRole: popup.isOwner && modelData.role !== "owner"
                            canRemove: popup.isManager && modelData.role === "member" && modelData.isMe !== true
                            onRoleClicked: Chat.setSuperGroupMemberRole(modelData.pubkey,
                                                                        modelData.role === "admin" ? "member" : "admin")
                            onRemoveClicked: {
                                popup.pendingRemoveKey = modelData.pubkey
                                popup.pendingRemoveName = modelData.name || modelData.shortKey || I18n.tr("common.unknownAddress")
                                sgRemoveConfirm.open()
                            }
                        }
                    }
                    // A list the server gave longer than is kept is shown in part, and says so.
                    Text {
                        objectName: "sgMembersPartial"
                        visible: popup.info.membersPartial === true
                        Layout.fillWidth: true
                        Layout.leftMargin: 16
                        Layout.rightMargin: 16
                        Layout.topMargin: 6
                        Layout.bottomMargin: 4
                        wrapMode: Text.Wrap
                        textFormat: Text.PlainText
                        text: I18n.tr("sg.membersPartial", { "shown": popup.members.length,
                                                             "count": popup.info.membersListed || 0 })
                        color: "#8cffffff"
                        font.pixelSize: 12
                    }
                }
            }
            SgProfileCard {
                id: profileCard
                Layout.leftMargin: 16
                Layout.rightMargin: 16
                Layout.fillWidth: true
                myMuted: popup.info.myMuted === true
                busy: popup.actionBusy
                onNicknameEdited: (text) => { popup.nickname = text; popup.nicknameEdited = true }
                onMuteRequested: (on) => Chat.setSuperGroupMuted(on)
                onSaveClicked: popup.saveProfile()
            }
            SgInviteCard {
                objectName: "sgInviteCard"
                Layout.leftMargin: 16
                Layout.rightMargin: 16
                Layout.fillWidth: true
                visible: popup.isManager && candidates.length > 0
                candidates: popup.info.inviteCandidates || []
                busy: popup.actionBusy
                onInviteRequested: (keys) => popup.invite(keys)
            }
            Item { Layout.preferredHeight: 14 }
        }
    }

    DarkDialog {
        id: sgRemoveConfirm
        objectName: "sgRemoveConfirm"
        width: 320
        title: I18n.tr("sg.removeTitle")
        standardButtons: Dialog.Ok | Dialog.Cancel
        Text {
            objectName: "confirmText"
            width: 280
            wrapMode: Text.Wrap
            textFormat: Text.PlainText
            text: I18n.tr("sg.removeText", { "name": popup.pendingRemoveName })
            // The frame is dark in both colour schemes.
            color: "white"
        }
        onAccepted: Chat.removeSuperGroupMember(popup.pendingRemoveKey)
    }
}
