import QtQuick
import QtTest
import Velmor

// Escape closes every modal popup of the home view, whatever had the
// keyboard focus when it opened, and only the topmost one.
Item {
    id: host
    width: 1112
    height: 816

    Component { id: homeComponent; HomeView { width: 1112; height: 816 } }

    TestCase {
        name: "PopupKeys"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Chat.reset(); App.reset(); VoiceRoom.reset(); Voice.reset()
            Chat.conversations = []
            Chat.messages = []
            Chat.currentPeer = "group:g1"
            Chat.currentTitle = "Hikers"
            Chat.currentCanSend = true
            Chat.currentChanged()
            Chat.friendInfo = { "address": "0x12", "shortAddress": "0x12", "remark": "", "avatarKind": "",
                                "avatarId": "avatar_boys_001", "blocked": false }
            App.returns = { "qrSvg": "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 9 9'/>" }
            Chat.returns = { "currentGroupInfo": { "isGroup": true, "groupId": "g1", "name": "Hikers",
                                                   "isOwner": false, "members": [], "memberCount": 0,
                                                   "joinAddress": "pelorin:group:abc" } }
        }

        function makeHome() {
            var home = createTemporaryObject(homeComponent, host)
            verify(home)
            return home
        }

        function openPopup(home, name) {
            var popup = home.popup(name)
            if (name === "groupSettings")
                popup.reload()
            if (name === "imagePreview")
                popup.openAt("qrc:/qt/qml/Velmor/assets/logo_sheet_156.png")
            else
                popup.open()
            tryVerify(function () { return popup.opened }, 3000, name)
            return popup
        }

        // focusFirst: what had the keyboard focus when the popup opened.
        function test_escapeCloses_data() {
            var rows = []
            var names = ["groupQrPopup", "groupSettings", "sgSettings", "deleteChatConfirm", "friendInfo",
                         "voiceOpenConfirm", "imagePreview"]
            for (var i = 0; i < names.length; ++i) {
                rows.push({ tag: names[i], name: names[i], focusFirst: "" })
                rows.push({ tag: names[i] + " over the composer", name: names[i], focusFirst: "composer" })
            }
            rows.push({ tag: "QR over group settings", name: "groupQrPopup", over: "groupSettings",
                        focusFirst: "" })
            return rows
        }
        function test_escapeCloses(data) {
            var home = makeHome()
            if (data.focusFirst === "composer") {
                var editor = findChild(findChild(home, "composer"), "editor")
                editor.forceActiveFocus()
                verify(editor.activeFocus)
            }
            var under = data.over ? openPopup(home, data.over) : null
            var popup = openPopup(home, data.name)
            keyClick(Qt.Key_Escape)
            tryVerify(function () { return !popup.visible }, 3000, "Escape left it open")
            if (under) {
                verify(under.visible, "Escape closed the popup beneath too")
                keyClick(Qt.Key_Escape)
                tryVerify(function () { return !under.visible })
            }
        }
    }
}
