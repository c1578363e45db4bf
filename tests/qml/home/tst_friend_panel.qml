import QtQuick
import QtTest
import Velmor

// The friend information panel with the chat controller's friendInfo map.
Item {
    id: host
    width: 800
    height: 640

    readonly property string addr: "0x1234567890abcdef1234567890abcdef12345678"

    Component { id: panelComponent; FriendInfoPanel { } }

    TestCase {
        name: "FriendPanel"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Chat.reset(); App.reset()
            Chat.currentVerified = false
            Chat.friendInfo = ({})
            mouseMove(host, 2, 2)
        }

        function info(extra) {
            var m = { "address": host.addr, "shortAddress": "0x1234\u2026345678", "remark": "",
                      "avatarKind": "", "avatarId": "avatar_boys_001", "blocked": false }
            for (var k in extra)
                m[k] = extra[k]
            return m
        }

        function openPanel(map) {
            Chat.friendInfo = map
            var p = createTemporaryObject(panelComponent, host)
            verify(p)
            p.open()
            tryVerify(function () { return p.opened })
            return p
        }

        function test_name_data() {
            return [
                { tag: "remark", remark: "Bob", name: "Bob" },
                { tag: "no remark", remark: "", name: "0x1234\u2026345678" },
            ]
        }

        function test_name(data) {
            var p = openPanel(info({ "remark": data.remark }))
            compare(findChild(p.contentItem, "friendName").text, data.name)
            compare(findChild(p.contentItem, "friendAddress").text, host.addr)
        }

        function test_opensFoldedWithStoredRemark() {
            var p = openPanel(info({ "remark": "Bob" }))
            verify(!p.editingRemark)
            mouseClick(findChild(p.contentItem, "remarkAction"))
            verify(p.editingRemark)
            var field = findChild(p.contentItem, "remarkField")
            compare(field.text, "Bob")
            field.text = "unsaved"
            keyClick(Qt.Key_Escape)
            tryVerify(function () { return !p.visible })
            p.open()
            tryVerify(function () { return p.opened })
            verify(!p.editingRemark)
            verify(!findChild(p.contentItem, "remarkEditor").visible)
            compare(field.text, "Bob")
        }

        function test_authorHasNoRemarkEditing() {
            Chat.currentVerified = true
            var p = openPanel(info({ "remark": "Pelorin author", "avatarKind": "lottie", "avatarId": "authorheadphoto" }))
            verify(!findChild(p.contentItem, "remarkAction").visible)
            p.editingRemark = true
            verify(!findChild(p.contentItem, "remarkEditor").visible)
            verify(findChild(p.contentItem, "copyAction").visible)
            verify(findChild(p.contentItem, "blockAction").visible)
            verify(String(findChild(p.contentItem, "friendAvatar").source).indexOf("authorheadphoto_frames/f") !== -1)
        }

        // The confirmation follows only a remark the store took.
        function test_saveRemark_data() {
            return [
                { tag: "accepted", accepted: true, toast: true, editing: false },
                { tag: "refused", accepted: false, toast: false, editing: true },
            ]
        }

        function test_saveRemark(data) {
            Chat.returns = { "updateCurrentFriendRemark": data.accepted }
            var p = openPanel(info({}))
            mouseClick(findChild(p.contentItem, "remarkAction"))
            var field = findChild(p.contentItem, "remarkField")
            field.text = "  Carol  "
            mouseClick(findChild(p.contentItem, "saveRemark"))
            compare(Chat.lastArgs("updateCurrentFriendRemark")[0], "  Carol  ")
            compare(p.editingRemark, data.editing)
            var toast = p.toastItem
            if (data.toast)
                tryVerify(function () { return toast.visible })
            else
                verify(!toast.visible)
        }

        function test_enterSaves() {
            Chat.returns = { "updateCurrentFriendRemark": true }
            var p = openPanel(info({}))
            mouseClick(findChild(p.contentItem, "remarkAction"))
            var field = findChild(p.contentItem, "remarkField")
            field.forceActiveFocus()
            field.text = "Dan"
            keyClick(Qt.Key_Return)
            compare(Chat.callCount("updateCurrentFriendRemark"), 1)
            verify(!p.editingRemark)
        }

        function test_blockSwitchFollowsStore() {
            var p = openPanel(info({}))
            var row = findChild(p.contentItem, "blockAction")
            verify(!row.switchOn)
            mouseClick(row)
            compare(Chat.lastArgs("setCurrentFriendBlocked")[0], true)
            // Not before the store says so.
            verify(!row.switchOn)
            Chat.friendInfo = info({ "blocked": true })
            verify(row.switchOn)
            mouseClick(row)
            compare(Chat.lastArgs("setCurrentFriendBlocked")[0], false)
            Chat.friendInfo = info({ "blocked": false })
            verify(!row.switchOn)
            // Only the boolean true counts.
            Chat.friendInfo = info({ "blocked": "true" })
            verify(!row.switchOn)
        }

        function test_copyToastOutlivesPanel() {
            var p = openPanel(info({}))
            var toast = p.toastItem
            mouseClick(findChild(p.contentItem, "copyAction"))
            compare(App.lastArgs("copyToClipboard")[0], host.addr)
            tryVerify(function () { return toast.opacity === 1 })
            p.close()
            tryVerify(function () { return !p.visible })
            verify(toast.visible)
            compare(toast.parent, p.parent.parent)
        }

        function test_emptyInfo() {
            var p = openPanel(({}))
            compare(findChild(p.contentItem, "friendName").text, "")
            verify(String(findChild(p.contentItem, "friendAvatar").source).indexOf("avatars/defaultheadphoto.png") !== -1)
            mouseClick(findChild(p.contentItem, "copyAction"))
            compare(App.lastArgs("copyToClipboard")[0], "")
        }

        function test_avatarSourceAndIcons() {
            var p = openPanel(info({}))
            compare(p.avatarSource("lottiehead_05"), "../assets/lottiehead_05_frames/f0.svg")
            compare(p.avatarSource("avatar_boys_001"), "../assets/avatars/avatar_boys_001.png")
            compare(p.avatarSource(""), "../assets/avatars/defaultheadphoto.png")
            verify(p.iconUri("copy").indexOf("data:image/svg+xml;utf8,%3Csvg") === 0)
            verify(p.iconSvg("nothing").indexOf("<path") === -1)
        }
    }
}
