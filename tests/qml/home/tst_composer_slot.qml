import QtQuick
import QtTest
import Velmor

// The composer in the home view: what its requests lead to, the image file
// dialogs, and the message list while the composer grows.
Item {
    id: host
    width: 1112
    height: 816

    Component { id: homeComponent; HomeView { width: 1112; height: 816 } }

    TestCase {
        name: "ComposerSlot"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Chat.reset(); App.reset(); VoiceRoom.reset()
            Chat.messages = []
            VoiceRoom.roomOpen = false
            VoiceRoom.activeForVisible = false
            VoiceRoom.canOpen = true
            VoiceRoom.stateChanged()
            open("", "")
            mouseMove(host, host.width - 2, host.height - 2)
        }

        function open(peer, kind) {
            Chat.currentPeer = peer
            Chat.currentTitle = peer
            Chat.currentOfficial = false
            Chat.currentGroupKind = kind
            Chat.currentCanSend = true
            Chat.currentChanged()
        }

        function makeHome() {
            var home = createTemporaryObject(homeComponent, host)
            verify(home)
            return home
        }

        function test_microphoneRoutes_data() {
            return [
                { tag: "room closed: confirm first", roomOpen: false, active: false, joins: 0, popup: "voiceOpenConfirm" },
                { tag: "room open: join, then the room", roomOpen: true, active: false, joins: 1, popup: "voiceRoomPopup" },
                { tag: "already in the room", roomOpen: true, active: true, joins: 0, popup: "voiceRoomPopup" },
            ]
        }

        function test_microphoneRoutes(data) {
            var home = makeHome()
            open("sg:https://g", "premium_plus")
            VoiceRoom.roomOpen = data.roomOpen
            VoiceRoom.activeForVisible = data.active
            VoiceRoom.stateChanged()
            var button = findChild(home.composer, "chatroomButton")
            verify(button.visible)
            mouseClick(button)
            compare(VoiceRoom.callCount("joinRoom"), data.joins)
            tryVerify(function () { return findChild(home, data.popup).opened })
            var other = data.popup === "voiceRoomPopup" ? "voiceOpenConfirm" : "voiceRoomPopup"
            var otherPopup = findChild(home, other)
            verify(otherPopup === null || !otherPopup.opened)
            findChild(home, data.popup).close()
        }

        function test_imageDialogErrorReachesComposer_data() {
            return [
                { tag: "controller's error", draft: { "ok": false, "error": "不支持此图片格式或文件已损坏" }, shown: "不支持此图片格式或文件已损坏" },
                { tag: "no error text", draft: { "ok": false }, shown: "无法读取所选图片" },
                { tag: "ok not exactly true", draft: { "ok": "true", "url": "file:///x.png" }, shown: "无法读取所选图片" },
            ]
        }

        function test_imageDialogErrorReachesComposer(data) {
            var home = makeHome()
            open("pk", "")
            App.returns = { "localImageDraft": data.draft }
            home.popup("imageDialog").handleSelected("file:///tmp/broken.png")
            compare(App.lastArgs("localImageDraft")[0], "file:///tmp/broken.png")
            compare(Chat.callCount("sendImageFromFile"), 0)
            compare(home.composer.errorText, data.shown)
        }

        function test_imageDialogSendsReadableImage() {
            var home = makeHome()
            open("pk", "")
            App.returns = { "localImageDraft": { "ok": true, "url": "file:///tmp/p.png", "name": "p.png", "width": 4, "height": 3 } }
            home.popup("imageDialog").handleSelected("file:///tmp/p.png")
            compare(Chat.lastArgs("sendImageFromFile")[0], "file:///tmp/p.png")
            compare(home.composer.errorText, "")
        }

        function test_dialogFilters_data() {
            return [
                { tag: "image", name: "imageDialog", title: "选择图片", filter: "图片 (*.png *.jpg *.jpeg *.gif *.webp *.bmp)" },
                { tag: "qr", name: "qrImageDialog", title: "扫描二维码图片", filter: "图片 (*.png *.jpg *.jpeg *.webp *.bmp)" },
            ]
        }

        function test_dialogFilters(data) {
            var home = makeHome()
            verify(findChild(home, data.name) === null)
            var dialog = home.popup(data.name)
            compare(dialog.objectName, data.name)
            compare(dialog.title, data.title)
            compare(dialog.nameFilters.length, 1)
            compare(dialog.nameFilters[0], data.filter)
        }

        function test_qrDialogResolves() {
            var home = makeHome()
            home.popup("qrImageDialog").handleSelected("file:///tmp/code.png")
            compare(Chat.lastArgs("resolveQrImage")[0], "file:///tmp/code.png")
            compare(App.callCount("localImageDraft"), 0)
        }

        function test_listStaysAtEndWhileComposerGrows() {
            var home = makeHome()
            open("pk", "")
            var msgs = []
            for (var i = 0; i < 60; ++i)
                msgs.push({ "id": "m" + i, "kind": "text", "text": "message " + i, "outgoing": i % 2 === 0,
                            "ts": 1700000000 + i, "status": 4 })
            Chat.messages = msgs
            Chat.messagesChanged()
            var list = findChild(home, "msgList")
            // The list may be at its end before the column has laid out the
            // composer under it.
            tryVerify(function () { return list.count === 60 && list.atYEnd && home.composer.height > 0 })
            waitForRendering(home)
            var before = list.height
            mouseClick(findChild(home.composer, "emojiButton"))
            tryVerify(function () { return list.height <= before - 224 + 0.5 })
            tryVerify(function () { return list.atYEnd })
            findChild(home.composer, "editor").text = "a\nb\nc\nd\ne\nf\ng"
            tryVerify(function () { return list.atYEnd && home.composer.implicitHeight > 115 + 224 })
        }
    }
}
