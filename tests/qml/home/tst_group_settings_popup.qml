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
        // Counters read 12, 100 and 20; Enter saves; a reload follows
        // only a call that worked.
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
            var reads = Chat.callCount("currentGroupInfo")
            keyClick(Qt.Key_Return)
            tryCompare(dialog, "visible", false)
            compare(Chat.lastArgs(data.call), ["g1", "New text"])
            compare(Chat.callCount("currentGroupInfo"), reads)
            var ret = {}
            ret[data.call] = true
            ret["currentGroupInfo"] = host.info(true, {})
            Chat.returns = ret
            popup.edit(dialog, "")
            tryCompare(dialog, "opened", true)
            dialog.save()
            tryCompare(dialog, "visible", false)
            compare(Chat.callCount("currentGroupInfo"), reads + 1)
        }

        // A refused visibility change leaves the switch on the stored state.
        function test_visibilitySwitch_data() {
            return [ { tag: "refused", ok: false, reads: 0 }, { tag: "accepted", ok: true, reads: 1 } ]
        }
        function test_visibilitySwitch(data) {
            var popup = openPopup(true, {})
            var sw = item(popup, "visibilitySwitch")
            Chat.returns = { "setGroupVisibility": data.ok, "currentGroupInfo": host.info(true, { "visible": data.ok }) }
            var reads = Chat.callCount("currentGroupInfo")
            sw.toggle(); sw.toggled()
            compare(Chat.lastArgs("setGroupVisibility"), ["g1", true])
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
