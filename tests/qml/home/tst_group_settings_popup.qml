import QtQuick
import QtTest
import Velmor
import "qrc:/qt/qml/Velmor/qml/home"

// The normal-group settings popup and the join-address QR popup.
Item {
    id: host
    width: 1000
    height: 760

    Component { id: popupComponent; GroupSettingsPopup {} }
    Component { id: qrComponent; GroupQrPopup {} }
    Component { id: spyComponent; SignalSpy {} }
    // The ends of the controller's group jobs. One spy for the whole file:
    // a spy made and destroyed per test would stay connected to Chat.
    SignalSpy { id: finishedSpy; target: Chat; signalName: "groupOperationFinished" }

    function info(owner, extra) {
        var m = {
            "isGroup": true, "groupId": "g1", "name": "Hikers", "remark": "", "isOwner": owner,
            "epoch": 3, "visible": false, "myNickname": "", "muted": false,
            "joinAddress": "pelorin:group:abcdefghijklmnopqrstuvwxyz", "memberCount": 2,
            "members": [
                { "pubkey": "pkA", "name": "Alice", "shortKey": "0x1111…2222", "isOwner": true, "isMe": owner },
                { "pubkey": "pkB", "name": "Bob", "shortKey": "0x3333…4444", "isOwner": false, "isMe": !owner }
            ],
            "addCandidates": [ { "publicKey": "pkC", "display": "Carol", "address": "0xc" } ]
        }
        for (var k in extra)
            m[k] = extra[k]
        return m
    }

    TestCase {
        name: "GroupSettingsPopup"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Chat.reset(); App.reset()
            finishedSpy.clear()
        }

        function openPopup(owner, extra) {
            Chat.returns = { "currentGroupInfo": host.info(owner, extra) }
            var popup = createTemporaryObject(popupComponent, host)
            verify(popup)
            popup.reload()
            popup.open()
            tryCompare(popup, "opened", true)
            return popup
        }
        function item(popup, name) { return findChild(popup.contentItem, name) }
        // Keeps the popup's group map and sets the results of other calls.
        function answer(extra) {
            var ret = { "currentGroupInfo": Chat.returns["currentGroupInfo"] }
            for (var k in extra)
                ret[k] = extra[k]
            Chat.returns = ret
        }
        function rows(popup) {
            var out = []
            var all = popup.contentItem
            function walk(it) {
                for (var i = 0; i < it.children.length; ++i) {
                    if (it.children[i].objectName === "memberRow")
                        out.push(it.children[i])
                    walk(it.children[i])
                }
            }
            walk(all)
            return out
        }

        function test_roleControls_data() {
            return [ { tag: "owner", owner: true }, { tag: "member", owner: false } ]
        }
        function test_roleControls(data) {
            var popup = openPopup(data.owner, {})
            compare(item(popup, "renameButton").visible, data.owner)
            compare(item(popup, "remarkButton").visible, data.owner)
            compare(item(popup, "visibilitySwitch").visible, data.owner)
            compare(item(popup, "addMemberButton").visible, data.owner)
            verify(item(popup, "nicknameButton").visible)
            verify(item(popup, "muteSwitch").visible)
            verify(item(popup, "qrButton").visible)
            var r = rows(popup)
            compare(r.length, 2)
            // Never on the owner's row; on the others for the owner only.
            verify(!findChild(r[0], "removeMember").visible)
            compare(findChild(r[1], "removeMember").visible, data.owner)
            verify(findChild(r[0], "ownerTag").visible)
            compare(findChild(r[0], "meTag").visible, data.owner)
            compare(item(popup, "memberHeading").text, "成员 (2)")
            compare(item(popup, "epochText").text, "epoch 3")
        }

        function test_emptyInfo() {
            Chat.returns = {}
            var popup = createTemporaryObject(popupComponent, host)
            popup.reload()
            popup.open()
            tryCompare(popup, "opened", true)
            compare(item(popup, "epochText").text, "epoch -")
            compare(item(popup, "memberHeading").text, "成员 (0)")
            compare(item(popup, "remarkText").text, "未设置")
            compare(item(popup, "nicknameText").text, "使用钱包地址")
            compare(rows(popup).length, 0)
        }

        function test_editPopups_data() {
            return [
                { tag: "rename", dialog: "renameDialog", max: 12, call: "renameGroup", start: "Hikers" },
                { tag: "remark", dialog: "remarkDialog", max: 100, call: "updateGroupRemark", start: "" },
                { tag: "nickname", dialog: "nicknameDialog", max: 20, call: "updateGroupNickname", start: "" }
            ]
        }
        // Counters read 12, 100 and 20; Enter saves; the map is read again
        // once the job has ended, not when the call returns.
        function test_editPopups(data) {
            var popup = openPopup(true, {})
            var dialog = popup[data.dialog]
            dialog.field.text = ""
            compare(findChild(dialog.contentItem, "lengthCounter").text, "0/" + data.max)
            compare(dialog.field.maximumLength, data.max)
            popup.edit(dialog, data.start)
            tryCompare(dialog, "opened", true)
            verify(findChild(dialog.contentItem, "lengthCounter").visible)
            compare(dialog.field.text, data.start)
            dialog.field.text = "New text"
            var refused = {}
            refused[data.call] = false
            answer(refused)
            var reads = Chat.callCount("currentGroupInfo")
            keyClick(Qt.Key_Return)
            tryCompare(dialog, "visible", false)
            compare(Chat.lastArgs(data.call), ["g1", "New text"])
            compare(Chat.callCount("currentGroupInfo"), reads)
            answer({})
            var finished = finishedSpy
            popup.edit(dialog, "")
            tryCompare(dialog, "opened", true)
            dialog.save()
            compare(Chat.callCount("currentGroupInfo"), reads)
            finished.wait()
            compare(Chat.callCount("currentGroupInfo"), reads + 1)
        }

        // The switch ends on the stored state: back at once when the call is
        // refused, on the re-read map when the job has ended.
        function test_visibilitySwitch_data() {
            return [ { tag: "refused", ok: false, reads: 0 }, { tag: "accepted", ok: true, reads: 1 } ]
        }
        function test_visibilitySwitch(data) {
            var popup = openPopup(true, {})
            var sw = item(popup, "visibilitySwitch")
            var finished = finishedSpy
            Chat.returns = { "setGroupVisibility": data.ok, "currentGroupInfo": host.info(true, { "visible": data.ok }) }
            var reads = Chat.callCount("currentGroupInfo")
            sw.toggle(); sw.toggled()
            compare(Chat.lastArgs("setGroupVisibility"), ["g1", true])
            if (data.ok)
                finished.wait()
            compare(finished.count, data.reads)
            compare(Chat.callCount("currentGroupInfo"), reads + data.reads)
            compare(sw.checked, data.ok)
        }

        function test_muteAlwaysReloads() {
            var popup = openPopup(false, {})
            var sw = item(popup, "muteSwitch")
            var reads = Chat.callCount("currentGroupInfo")
            sw.toggle(); sw.toggled()
            compare(Chat.lastArgs("setGroupMuted"), ["g1", true])
            compare(Chat.callCount("currentGroupInfo"), reads + 1)
            // The stored map still says not muted.
            verify(!sw.checked)
        }

        function test_addAndKick() {
            var popup = openPopup(true, {})
            // The add is refused at once: its dialog stays with the choice.
            answer({ "addGroupMembersFromContacts": false })
            var finished = finishedSpy
            item(popup, "addMemberButton").clicked()
            tryCompare(popup.addDialog, "opened", true)
            var add = findChild(popup.addDialog.contentItem, "addMembersButton")
            verify(!add.enabled)
            compare(add.label, "添加成员（0）")
            popup.addDialog.toggle("pkC")
            popup.addDialog.toggle("pkC")
            compare(popup.selectedKeys, [])
            popup.addDialog.toggle("pkC")
            add.clicked()
            tryCompare(popup.addConfirm, "opened", true)
            popup.addConfirm.accept()
            compare(Chat.lastArgs("addGroupMembersFromContacts"), ["g1", ["pkC"]])
            verify(popup.addDialog.visible)
            popup.kickConfirm.pubkey = ""
            verify(findChild(rows(popup)[1], "removeMember").visible)
            rows(popup)[1].removeClicked()
            tryCompare(popup.kickConfirm, "opened", true)
            compare(findChild(popup.kickConfirm.contentItem, "confirmText").text,
                    "确定将「Bob」移出群聊？\n将轮换群密钥，该成员无法再解密新消息。")
            popup.kickConfirm.accept()
            compare(Chat.lastArgs("removeGroupMember"), ["g1", "pkB"])
            finished.wait()
            compare(Array.from(finished.signalArguments[0]), ["remove", "g1", true, ""])
        }

        // Starts one operation through the popup's controls without
        // letting the event loop run, so the job is still going after it.
        function trigger(popup, op) {
            switch (op) {
            case "rename": popup.renameDialog.field.text = "Peaks"; popup.renameDialog.save(); break
            case "remark": popup.remarkDialog.field.text = "Trail club"; popup.remarkDialog.save(); break
            case "nickname": popup.nicknameDialog.field.text = "Ally"; popup.nicknameDialog.save(); break
            case "visibility":
                var sw = item(popup, "visibilitySwitch")
                sw.toggle(); sw.toggled()
                break
            case "add":
                item(popup, "addMemberButton").clicked()
                popup.addDialog.toggle("pkC")
                popup.addConfirm.accept()
                break
            case "remove":
                rows(popup)[1].removeClicked()
                popup.kickConfirm.accept()
                break
            }
        }
        // What the popup shows of the value an operation changes.
        function shown(popup, op) {
            switch (op) {
            case "rename": return item(popup, "groupName").text
            case "remark": return item(popup, "remarkText").text
            case "nickname": return item(popup, "nicknameText").text
            case "visibility": return String(item(popup, "visibilitySwitch").checked)
            default: return item(popup, "memberHeading").text
            }
        }

        function test_jobOutcome_data() {
            var alice = { "pubkey": "pkA", "name": "Alice", "shortKey": "0x1111…2222", "isOwner": true, "isMe": true }
            var bob = { "pubkey": "pkB", "name": "Bob", "shortKey": "0x3333…4444", "isOwner": false, "isMe": false }
            var carol = { "pubkey": "pkC", "name": "Carol", "shortKey": "0x5555…6666", "isOwner": false, "isMe": false }
            var ops = [
                { op: "rename", method: "renameGroup", after: { "name": "Peaks", "epoch": 4 },
                  before: "Hikers", shows: "Peaks", failure: "修改群名称失败" },
                { op: "remark", method: "updateGroupRemark", after: { "remark": "Trail club", "epoch": 4 },
                  before: "未设置", shows: "Trail club", failure: "修改群备注失败" },
                { op: "nickname", method: "updateGroupNickname", after: { "myNickname": "Ally" },
                  before: "使用钱包地址", shows: "Ally", failure: "修改群昵称失败" },
                { op: "visibility", method: "setGroupVisibility", after: { "visible": true },
                  before: "false", shows: "true", failure: "修改可见性失败" },
                { op: "add", method: "addGroupMembersFromContacts", before: "成员 (2)", shows: "成员 (3)",
                  after: { "epoch": 4, "memberCount": 3, "members": [alice, bob, carol], "addCandidates": [] },
                  failure: "添加成员失败" },
                { op: "remove", method: "removeGroupMember", before: "成员 (2)", shows: "成员 (1)",
                  after: { "epoch": 4, "memberCount": 1, "members": [alice] }, failure: "移除成员失败" }
            ]
            var out = []
            for (var i = 0; i < ops.length; ++i) {
                for (var f = 0; f < 2; ++f) {
                    var row = { tag: ops[i].op + (f ? " fails" : " works"), fails: f === 1 }
                    for (var k in ops[i])
                        row[k] = ops[i][k]
                    out.push(row)
                }
            }
            return out
        }
        // The popup shows an operation's result once its job has ended; a
        // failed job leaves the old values and shows why.
        function test_jobOutcome(data) {
            var popup = openPopup(true, {})
            var status = item(popup, "statusLine")
            var finished = finishedSpy
            var ret = { "currentGroupInfo": host.info(true, data.after) }
            ret[data.method] = data.fails ? "not_owner" : true
            Chat.returns = ret
            var reads = Chat.callCount("currentGroupInfo")

            trigger(popup, data.op)
            compare(Chat.callCount(data.method), 1)
            verify(popup.busy)
            verify(status.visible)
            compare(status.text, "正在保存，请稍候…")
            compare(Chat.callCount("currentGroupInfo"), reads)

            finished.wait()
            compare(finished.signalArguments[0][0], data.op)
            compare(finished.signalArguments[0][1], "g1")
            verify(!popup.busy)
            if (data.fails) {
                compare(Chat.callCount("currentGroupInfo"), reads)
                compare(shown(popup, data.op), data.before)
                compare(item(popup, "epochText").text, "epoch 3")
                compare(status.text, data.failure + "（not_owner）")
                compare(String(status.color), "#ffb0a8")
                if (data.op === "add") {
                    verify(popup.addDialog.visible)
                    compare(popup.selectedKeys, ["pkC"])
                    compare(findChild(popup.addDialog.contentItem, "addFailure").text, "添加成员失败（not_owner）")
                }
            } else {
                compare(Chat.callCount("currentGroupInfo"), reads + 1)
                compare(shown(popup, data.op), data.shows)
                if (data.after.epoch !== undefined)
                    compare(item(popup, "epochText").text, "epoch 4")
                verify(!status.visible)
                if (data.op === "add")
                    tryCompare(popup.addDialog, "visible", false)
            }
        }

        // A call the controller refuses before any job starts changes
        // nothing and says so, without a word of its own.
        function test_refusedAtOnce_data() {
            return [ { tag: "rename", op: "rename", method: "renameGroup", failure: "修改群名称失败" },
                     { tag: "visibility", op: "visibility", method: "setGroupVisibility", failure: "修改可见性失败" } ]
        }
        function test_refusedAtOnce(data) {
            var popup = openPopup(true, {})
            var finished = finishedSpy
            var refused = {}
            refused[data.method] = false
            answer(refused)
            var before = shown(popup, data.op)
            trigger(popup, data.op)
            verify(!popup.busy)
            compare(shown(popup, data.op), before)
            compare(item(popup, "statusLine").text, data.failure)
            compare(finished.count, 0)
        }

        // While its job runs the popup starts no second one; mute, which is
        // local, still works.
        function test_busyHoldsSecondJob() {
            var popup = openPopup(true, {})
            var finished = finishedSpy
            trigger(popup, "rename")
            verify(popup.busy)
            for (var name of ["renameButton", "remarkButton", "addMemberButton", "visibilitySwitch", "nicknameButton"])
                verify(!item(popup, name).enabled, name)
            verify(!rows(popup)[1].enabled)
            verify(!popup.updateRemark("x"))
            verify(!popup.removeMember("pkB"))
            popup.setVisibility(true)
            compare(Chat.callCount("updateGroupRemark"), 0)
            compare(Chat.callCount("removeGroupMember"), 0)
            compare(Chat.callCount("setGroupVisibility"), 0)
            verify(!item(popup, "visibilitySwitch").checked)
            var add = findChild(popup.addDialog.contentItem, "addMembersButton")
            popup.addDialog.toggle("pkC")
            verify(!add.enabled)
            compare(add.label, "添加中…")
            var mute = item(popup, "muteSwitch")
            mute.toggle(); mute.toggled()
            compare(Chat.lastArgs("setGroupMuted"), ["g1", true])
            finished.wait()
            verify(!popup.busy)
            verify(item(popup, "renameButton").enabled)
            verify(add.enabled)
            verify(popup.updateRemark("x"))
            finished.wait()
        }

        // Only this group's jobs end the wait and re-read the map; a job of
        // another group, or a creation, leaves the popup as it is.
        function test_otherGroupIgnored() {
            var popup = openPopup(true, {})
            var finished = finishedSpy
            var reads = Chat.callCount("currentGroupInfo")
            trigger(popup, "rename")
            Chat.groupOperationFinished("rename", "g2", true, "")
            Chat.groupOperationFinished("remove", "g2", false, "not_owner")
            Chat.groupOperationFinished("create", "", false, "group_full")
            compare(Chat.callCount("currentGroupInfo"), reads)
            verify(popup.busy)
            compare(item(popup, "statusLine").text, "正在保存，请稍候…")
            tryCompare(finished, "count", 4)
            compare(Array.from(finished.signalArguments[3]), ["rename", "g1", true, ""])
            compare(Chat.callCount("currentGroupInfo"), reads + 1)
            verify(!popup.busy)
        }

        // A job still running for one group does not hold the popup once it
        // shows another; its end does not touch the other group's map.
        function test_reopenedOnAnotherGroup() {
            var popup = openPopup(true, {})
            var finished = finishedSpy
            trigger(popup, "remove")
            verify(popup.busy)
            Chat.returns = { "currentGroupInfo": host.info(true, { "groupId": "g2", "name": "Divers" }) }
            popup.reload()
            verify(!popup.busy)
            var reads = Chat.callCount("currentGroupInfo")
            finished.wait()
            compare(Chat.callCount("currentGroupInfo"), reads)
            compare(item(popup, "groupName").text, "Divers")
        }

        function test_copyAndQr() {
            var popup = openPopup(false, {})
            var qr = createTemporaryObject(spyComponent, host, { target: popup, signalName: "qrRequested" })
            item(popup, "copyButton").clicked()
            compare(App.lastArgs("copyToClipboard"), ["pelorin:group:abcdefghijklmnopqrstuvwxyz"])
            item(popup, "qrButton").clicked()
            compare(qr.count, 1)
        }

        function test_qrPopup_data() {
            return [ { tag: "address", address: "pelorin:group:abcdefghijklmnopqrstuvwxyz", shown: "pelori...uvwxyz" },
                     { tag: "none", address: "", shown: "" } ]
        }
        function test_qrPopup(data) {
            App.returns = { "qrSvg": "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 4 4'><rect width='4' height='4' fill='#fff'/></svg>" }
            var qr = createTemporaryObject(qrComponent, host, { "joinAddress": data.address })
            qr.open()
            tryCompare(qr, "opened", true)
            compare(App.lastArgs("qrSvg"), [data.address])
            compare(findChild(qr.contentItem, "qrAddress").text, data.shown)
            verify(String(findChild(qr.contentItem, "qrImage").source).indexOf("data:image/svg+xml;utf8,") === 0)
        }
    }
}
