import QtQuick
import QtTest
import Velmor
import "qrc:/qt/qml/Velmor/qml/home"

// The super-group settings popup: its three states, the role table, and
// answers that arrive while the user types or for another group.
Item {
    id: host
    width: 1000
    height: 760

    Component { id: popupComponent; SuperGroupSettingsPopup {} }

    function member(key, role, isMe, name, shortKey) {
        return { "pubkey": key, "role": role, "isMe": isMe, "name": name || key,
                 "shortKey": shortKey || "0x1234…5678", "avatarId": "" }
    }
    function info(myRole, extra) {
        var m = {
            "serverUrl": "https://a", "valid": true, "name": "Night Owls", "notice": "Be kind",
            "joinMode": "open", "allMuted": false, "memberCount": 4, "myRole": myRole,
            "isManager": myRole === "owner" || myRole === "admin", "isOwner": myRole === "owner",
            "myMuted": false,
            "members": [ member("pkO", "owner", myRole === "owner", "Olga"),
                         member("pkA", "admin", myRole === "admin", "Adam"),
                         member("pkM", "member", myRole === "member", "Mia"),
                         member("pkN", "member", false, "Ned") ],
            "inviteCandidates": [ { "publicKey": "pkC", "display": "Carol", "address": "0xc" },
                                  { "publicKey": "pkD", "display": "", "address": "0x1234567890abcdef1234" } ]
        }
        for (var k in extra)
            m[k] = extra[k]
        return m
    }

    TestCase {
        name: "SuperGroupSettingsPopup"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Chat.reset()
            Chat.currentPeer = "sg:https://a"
            Chat.currentChanged()
        }

        function openPopup() {
            var popup = createTemporaryObject(popupComponent, host)
            verify(popup)
            popup.loading = true
            popup.open()
            tryCompare(popup, "opened", true)
            return popup
        }
        function item(popup, name) { return findChild(popup.contentItem, name) }
        function rowsOf(popup) {
            var out = []
            function walk(it) {
                for (var i = 0; i < it.children.length; ++i) {
                    if (it.children[i].objectName === "sgMemberRow")
                        out.push(it.children[i])
                    walk(it.children[i])
                }
            }
            walk(popup.contentItem)
            return out
        }

        function test_states_data() {
            return [
                { tag: "loading", deliver: null, busy: true, unavailable: false, body: false },
                { tag: "unavailable", deliver: { "serverUrl": "https://a", "valid": false }, busy: false, unavailable: true, body: false },
                { tag: "shown", deliver: "member", busy: false, unavailable: false, body: true }
            ]
        }
        function test_states(data) {
            var popup = openPopup()
            if (data.deliver === "member")
                Chat.superGroupInfoLoaded(host.info("member", {}))
            else if (data.deliver)
                Chat.superGroupInfoLoaded(data.deliver)
            compare(item(popup, "sgLoading").visible, data.busy)
            compare(item(popup, "sgUnavailable").visible, data.unavailable)
            compare(item(popup, "sgBody").visible, data.body)
        }

        // A member list the server gave longer than is kept says it is shown in part.
        function test_partialListSaysSo_data() {
            return [
                { tag: "whole list", extra: {}, shown: false, text: "" },
                { tag: "cut at the bound", extra: { "membersPartial": true, "membersListed": 25000 }, shown: true,
                  text: "仅显示部分成员：25000 位成员中的 4 位。" }
            ]
        }
        function test_partialListSaysSo(data) {
            var popup = openPopup()
            Chat.superGroupInfoLoaded(host.info("admin", data.extra))
            var note = item(popup, "sgMembersPartial")
            compare(note.visible, data.shown)
            if (data.shown)
                compare(note.text, data.text)
        }

        // Buttons per row: [role button, remove button] for Olga, Adam, Mia, Ned.
        function test_roleTable_data() {
            return [
                { tag: "owner", role: "owner", badge: "群主", manager: true,
                  buttons: [[false, false], [true, false], [true, true], [true, true]],
                  labels: ["", "取消管理", "设为管理", "设为管理"] },
                { tag: "admin", role: "admin", badge: "管理员", manager: true,
                  buttons: [[false, false], [false, false], [false, true], [false, true]] },
                { tag: "member", role: "member", badge: "成员", manager: false,
                  buttons: [[false, false], [false, false], [false, false], [false, false]] }
            ]
        }
        function test_roleTable(data) {
            var popup = openPopup()
            Chat.superGroupInfoLoaded(host.info(data.role, {}))
            compare(item(popup, "roleBadge").text, data.badge)
            compare(item(popup, "sgNameField").visible, data.manager)
            compare(item(popup, "sgNoticeArea").visible, data.manager)
            compare(item(popup, "sgJoinOpen").visible, data.manager)
            compare(item(popup, "allMutedSwitch").visible, data.manager)
            compare(item(popup, "saveMetaButton").visible, data.manager)
            compare(item(popup, "sgInviteCard").visible, data.manager)
            verify(item(popup, "joinModeLine").visible)
            verify(item(popup, "sgNicknameField").visible)
            var rows = rowsOf(popup)
            compare(rows.length, 4)
            for (var i = 0; i < 4; ++i) {
                compare(findChild(rows[i], "roleButton").visible, data.buttons[i][0], "role button of row " + i)
                compare(findChild(rows[i], "removeButton").visible, data.buttons[i][1], "remove button of row " + i)
                if (data.labels && data.labels[i] !== "")
                    compare(findChild(rows[i], "roleButton").label, data.labels[i])
            }
        }

        function test_rowActions() {
            var popup = openPopup()
            Chat.superGroupInfoLoaded(host.info("owner", {}))
            var rows = rowsOf(popup)
            findChild(rows[1], "roleButton").clicked()
            compare(Chat.lastArgs("setSuperGroupMemberRole"), ["pkA", "member"])
            findChild(rows[2], "roleButton").clicked()
            compare(Chat.lastArgs("setSuperGroupMemberRole"), ["pkM", "admin"])
            findChild(rows[3], "removeButton").clicked()
            compare(popup.pendingRemoveKey, "pkN")
            tryCompare(popup.removeConfirm, "opened", true)
            popup.removeConfirm.accept()
            compare(Chat.lastArgs("removeSuperGroupMember"), ["pkN"])
        }

        // Ned made admin: no row moves while the pointer is on the list;
        // once it leaves, the server's order.
        function test_rowsStayUnderThePointer_data() {
            return [
                { tag: "pointer on the list", hover: true, names: ["Olga", "Adam", "Mia", "Ned"] },
                { tag: "pointer elsewhere", hover: false, names: ["Olga", "Adam", "Ned", "Mia"] }
            ]
        }
        function test_rowsStayUnderThePointer(data) {
            var popup = openPopup()
            Chat.superGroupInfoLoaded(host.info("owner", {}))
            var rows = rowsOf(popup)
            if (data.hover)
                mouseMove(rows[3], 40, 20)
            else
                mouseMove(host, 2, 2)
            var promoted = host.info("owner", {})
            promoted.members = [ host.member("pkO", "owner", true, "Olga"), host.member("pkA", "admin", false, "Adam"),
                                 host.member("pkN", "admin", false, "Ned"), host.member("pkM", "member", false, "Mia") ]
            Chat.superGroupInfoLoaded(promoted)
            rows = rowsOf(popup)
            var names = []
            for (var i = 0; i < rows.length; ++i)
                names.push(rows[i].member.name)
            compare(names, data.names)
            var nedRow = rows[data.names.indexOf("Ned")]
            compare(findChild(nedRow, "roleButton").label, "取消管理")
            verify(!findChild(nedRow, "removeButton").visible)
            if (data.hover) {
                mouseMove(host, 2, 2)
                rows = rowsOf(popup)
                compare(rows[2].member.name, "Ned")
            }
        }

        // The removal question names whom it removes.
        function test_removalNamesTheMember_data() {
            return [
                { tag: "display name", name: "Ned", text: "确定将「Ned」移出群组吗？" },
                { tag: "no name: the short key", name: "", text: "确定将「0x1234…5678」移出群组吗？" },
                { tag: "markup shown as typed", name: "<b>Ned</b>", text: "确定将「<b>Ned</b>」移出群组吗？" }
            ]
        }
        function test_removalNamesTheMember(data) {
            var popup = openPopup()
            var answer = host.info("owner", {})
            answer.members[3].name = data.name
            Chat.superGroupInfoLoaded(answer)
            findChild(rowsOf(popup)[3], "removeButton").clicked()
            tryCompare(popup.removeConfirm, "opened", true)
            var text = findChild(popup.removeConfirm, "confirmText")
            compare(text.text, data.text)
            compare(text.textFormat, Text.PlainText)
            popup.removeConfirm.reject()
        }

        function test_joinModeLine_data() {
            return [ { tag: "open", mode: "open", text: "加群方式：公开" },
                     { tag: "invite", mode: "invite_only", text: "加群方式：邀请" } ]
        }
        function test_joinModeLine(data) {
            var popup = openPopup()
            Chat.superGroupInfoLoaded(host.info("member", { "joinMode": data.mode, "allMuted": true }))
            compare(item(popup, "joinModeLine").text, data.text)
            verify(item(popup, "allMutedNote").visible)
        }

        // The visibility switch waits for "保存群设置"; after any answer it
        // shows the stored state again.
        function test_metaSaveAndSwitches() {
            var popup = openPopup()
            Chat.superGroupInfoLoaded(host.info("owner", {}))
            var joinOpen = item(popup, "sgJoinOpen")
            verify(joinOpen.checked)
            joinOpen.toggle(); joinOpen.toggled()
            verify(!joinOpen.checked)
            compare(Chat.callCount("updateSuperGroupMeta"), 0)
            item(popup, "saveMetaButton").clicked()
            compare(Chat.lastArgs("updateSuperGroupMeta"), ["Night Owls", "Be kind", false])
            // Refused by the server: the refresh carries the old state.
            Chat.superGroupInfoLoaded(host.info("owner", {}))
            verify(joinOpen.checked)
            item(popup, "allMutedSwitch").toggle(); item(popup, "allMutedSwitch").toggled()
            compare(Chat.lastArgs("setSuperGroupAllMuted"), [true])
            Chat.superGroupInfoLoaded(host.info("owner", {}))
            verify(!item(popup, "allMutedSwitch").checked)
        }

        function test_refreshKeepsTyping() {
            var popup = openPopup()
            Chat.superGroupInfoLoaded(host.info("owner", {}))
            var name = item(popup, "sgNameField")
            compare(name.text, "Night Owls")
            name.forceActiveFocus()
            name.selectAll()
            keyClick(Qt.Key_X)
            compare(popup.groupName, "x")
            Chat.superGroupInfoLoaded(host.info("owner", { "name": "Renamed", "notice": "New notice" }))
            compare(name.text, "x")
            compare(item(popup, "sgNoticeArea").text, "New notice")
            // Saved: the next answer shows the server's name again.
            item(popup, "saveMetaButton").clicked()
            compare(Chat.lastArgs("updateSuperGroupMeta")[0], "x")
            Chat.superGroupInfoLoaded(host.info("owner", { "name": "Server Name" }))
            compare(name.text, "Server Name")
        }

        function test_nicknamePrefill_data() {
            return [
                { tag: "display name", name: "Mia", shortKey: "0x1234…5678", expect: "Mia" },
                { tag: "short address", name: "0x1234…5678", shortKey: "0x1234…5678", expect: "" },
                { tag: "unknown address", name: "未知地址", shortKey: "未知地址", expect: "" }
            ]
        }
        function test_nicknamePrefill(data) {
            var popup = openPopup()
            var i = host.info("member", {})
            i.members[2] = host.member("pkM", "member", true, data.name, data.shortKey)
            Chat.superGroupInfoLoaded(i)
            compare(item(popup, "sgNicknameField").text, data.expect)
            item(popup, "saveProfileButton").clicked()
            compare(Chat.lastArgs("updateSuperGroupProfile"), [data.expect])
        }

        function test_answerForAnotherGroupDropped() {
            var popup = openPopup()
            Chat.superGroupInfoLoaded(host.info("owner", { "serverUrl": "https://b", "name": "Other" }))
            verify(popup.loading)
            Chat.superGroupInfoLoaded(host.info("owner", {}))
            verify(!popup.loading)
            Chat.superGroupInfoLoaded(host.info("member", { "serverUrl": "https://b", "name": "Other" }))
            compare(item(popup, "sgName").text, "Night Owls")
            compare(item(popup, "roleBadge").text, "群主")
        }

        function test_events_data() {
            return [
                { tag: "member joined", url: "https://a", type: "server.member.joined", visible: true, loads: 1 },
                { tag: "group updated", url: "https://a", type: "server.group.updated", visible: true, loads: 1 },
                { tag: "message", url: "https://a", type: "server.message.new", visible: true, loads: 0 },
                { tag: "another group", url: "https://b", type: "server.member.left", visible: true, loads: 0 },
                { tag: "hidden", url: "https://a", type: "server.member.role", visible: false, loads: 0 }
            ]
        }
        function test_events(data) {
            var popup = openPopup()
            Chat.superGroupInfoLoaded(host.info("owner", {}))
            if (!data.visible) {
                popup.close()
                tryCompare(popup, "visible", false)
            }
            Chat.superGroupEvent(data.url, data.type, ({}))
            compare(Chat.callCount("loadSuperGroupInfo"), data.loads)
            verify(!popup.loading)
        }

        function test_invite() {
            var popup = openPopup()
            Chat.superGroupInfoLoaded(host.info("admin", {}))
            findChild(item(popup, "sgInviteCard"), "inviteButton").clicked()
            compare(Chat.callCount("inviteSuperGroupMembers"), 0)
            var card = item(popup, "sgInviteCard")
            var boxes = []
            function walk(it) {
                for (var i = 0; i < it.children.length; ++i) {
                    if (it.children[i].objectName === "inviteBox")
                        boxes.push(it.children[i])
                    walk(it.children[i])
                }
            }
            walk(card)
            compare(boxes.length, 2)
            compare(boxes[1].text, "0x1234...ef1234")
            boxes[1].checked = true
            boxes[0].checked = true
            findChild(card, "inviteButton").clicked()
            compare(Chat.lastArgs("inviteSuperGroupMembers"), [["pkC", "pkD"]])
        }

        // A save or an invitation waits for the controller's next reading of
        // the group: repeated clicks meanwhile send nothing more.
        function test_oneRequestPerClickBurst_data() {
            return [
                { tag: "group settings", button: "saveMetaButton", call: "updateSuperGroupMeta" },
                { tag: "own profile", button: "saveProfileButton", call: "updateSuperGroupProfile" },
                { tag: "invitation", button: "inviteButton", call: "inviteSuperGroupMembers" },
            ]
        }
        function test_oneRequestPerClickBurst(data) {
            var popup = openPopup()
            Chat.superGroupInfoLoaded(host.info("owner", {}))
            if (data.button === "inviteButton")
                findChild(item(popup, "sgInviteCard"), "inviteBox").checked = true
            var button = item(popup, data.button)
            for (var i = 0; i < 3; ++i)
                button.clicked()
            compare(Chat.callCount(data.call), 1)
            verify(!button.enabled)
            // A reading of another group does not end the wait.
            Chat.superGroupInfoLoaded({ "serverUrl": "https://other", "valid": true })
            verify(!button.enabled)
            Chat.superGroupInfoLoaded(host.info("owner", {}))
            verify(button.enabled)
            button.clicked()
            compare(Chat.callCount(data.call), 2)
            // Opened anew, the popup is usable whatever the last one waited for.
            popup.close()
            tryCompare(popup, "visible", false)
            popup.loading = true
            popup.open()
            verify(button.enabled)
        }

        function test_blankNameSaveDoesNotLock() {
            var popup = openPopup()
            Chat.superGroupInfoLoaded(host.info("owner", {}))
            var field = item(popup, "sgNameField")
            field.text = "  "
            item(popup, "saveMetaButton").clicked()
            verify(item(popup, "saveMetaButton").enabled)
            verify(item(popup, "saveProfileButton").enabled)
        }

        // Every opening starts at the top, where the name and the notice are.
        function test_opensAtTheTop() {
            var popup = openPopup()
            var many = []
            for (var i = 0; i < 20; ++i)
                many.push(host.member("pk" + i, "member", false, "Member " + i))
            Chat.superGroupInfoLoaded(host.info("owner", { "members": many }))
            var body = item(popup, "sgBody")
            tryVerify(function () { return body.contentHeight > body.height + 100 })
            body.contentY = body.contentHeight - body.height
            popup.close()
            tryCompare(popup, "visible", false)
            popup.loading = true
            popup.open()
            compare(body.contentY, 0)
            Chat.superGroupInfoLoaded(host.info("owner", { "name": "Early Birds" }))
            compare(body.contentY, 0)
            verify(item(popup, "sgNameField").visible)
        }
    }
}
