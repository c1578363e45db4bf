import QtQuick
import QtTest
import QtQuick.Controls.Basic
import Velmor
import "qrc:/qt/qml/Velmor/qml/home"

// The sidebar's conversation list and its rows; the window's close button.
Item {
    id: host
    width: 1112
    height: 816

    Component { id: homeComponent; HomeView { width: 1112; height: 816 } }
    Component { id: rowComponent; ConversationListRow { width: 270 } }
    Component { id: listComponent; ConversationList { width: 300; height: 400 } }

    function conversations(n) {
        var out = []
        for (var i = 0; i < n; ++i)
            out.push({ "peer": "peer" + i, "display": "Person " + i, "address": "0xaddr" + i,
                       "last": "message " + i, "ts": 0, "unread": 0 })
        return out
    }

    TestCase {
        name: "HomeSidebar"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Chat.reset()
            Chat.currentPeer = ""
            Chat.conversations = []
            mouseMove(host, host.width - 2, host.height - 2)
        }

        function makeHome() {
            var home = createTemporaryObject(homeComponent, host)
            verify(home)
            return home
        }

        // A row made of `map` itself, and the row the sidebar's list makes
        // of the same map (each value through a role of its own): the two
        // must show the same.
        function rowsOf(map) {
            var made = createTemporaryObject(rowComponent, host, map)
            Chat.conversations = [Object.assign({ "peer": "p" }, map)]
            var list = createTemporaryObject(listComponent, host)
            tryVerify(function () { return list.itemAtIndex(0) !== null })
            return [made, list.itemAtIndex(0)]
        }

        function shownPeers(list) {
            var out = []
            for (var i = 0; i < list.count; ++i)
                out.push(list.model.get(i).peer)
            return out
        }

        function test_search_data() {
            return [
                { tag: "blank", query: "", peers: ["a1", "g1", "k1"] },
                { tag: "spaces", query: "   ", peers: ["a1", "g1", "k1"] },
                { tag: "upper case display", query: "  ABC ", peers: ["a1"] },
                { tag: "address", query: "0XFEED", peers: ["g1"] },
                { tag: "last message", query: "lunch", peers: ["k1"] },
                { tag: "peer key", query: "K1", peers: ["k1"] },
                { tag: "across display and address", query: "friends 0xfe", peers: ["g1"] },
                { tag: "no match", query: "zzz", peers: [] }
            ]
        }

        function test_search(data) {
            Chat.conversations = [
                { "peer": "a1", "display": "abc Corp", "address": "0x1111", "last": "hello" },
                { "peer": "g1", "display": "Friends", "address": "0xfeed", "last": "" },
                { "peer": "k1", "display": "Kim", "last": "Lunch?" }
            ]
            var home = makeHome()
            var list = findChild(home, "convList")
            var field = findChild(home, "conversationSearch")
            field.text = data.query
            compare(shownPeers(list), data.peers)
            compare(home.filteredConversations(data.query).map(function (r) { return r.peer }), data.peers)
            var empty = findChild(list, "emptyText")
            compare(empty.visible, data.peers.length === 0)
            compare(empty.text, I18n.tr("chat.empty"))
        }

        function test_emptyList() {
            var home = makeHome()
            verify(findChild(findChild(home, "convList"), "emptyText").visible)
        }

        function test_tabAndEnterOpenRow_data() {
            return [{ tag: "return", key: Qt.Key_Return }, { tag: "enter", key: Qt.Key_Enter }]
        }

        function test_tabAndEnterOpenRow(data) {
            Chat.conversations = host.conversations(3)
            var home = makeHome()
            var field = findChild(home, "conversationSearch")
            field.forceActiveFocus()
            keyClick(Qt.Key_Tab)
            var list = findChild(home, "convList")
            verify(list.itemAtIndex(0).activeFocus, "Tab moves from the search field to the first row")
            keyClick(Qt.Key_Tab)
            verify(list.itemAtIndex(1).activeFocus)
            keyClick(data.key)
            compare(Chat.lastArgs("openConversation"), ["peer1"])
        }

        function test_rightClick_data() {
            return [
                { tag: "direct", row: { "peer": "p1", "display": "Alice" }, opens: true },
                { tag: "group", row: { "peer": "group:g", "display": "Friends" }, opens: true },
                { tag: "official", row: { "peer": "o", "display": "Official", "isOfficial": true }, opens: false },
                { tag: "super group", row: { "peer": "sg:https://g", "display": "G", "isSuper": true }, opens: false }
            ]
        }

        function test_rightClick(data) {
            Chat.conversations = [data.row]
            var home = makeHome()
            var list = findChild(home, "convList")
            mouseClick(list.itemAtIndex(0), 20, 20, Qt.RightButton)
            var dialog = findChild(home, "deleteChatConfirm")
            compare(dialog !== null && (dialog.opened || dialog.visible), data.opens)
            compare(Chat.callCount("openConversation"), 0)
            if (!data.opens)
                return
            tryVerify(function () { return dialog.opened })
            compare(dialog.peer, data.row.peer)
            compare(dialog.displayName, data.row.display)
            compare(dialog.title, "删除聊天")
            compare(findChild(dialog.contentItem, "deleteChatText").text,
                    "将清空与「" + data.row.display + "」的聊天记录并从列表移除。\n此操作不删除联系人，收到新消息时会话会重新出现。")
            dialog.accept()
            compare(Chat.lastArgs("deleteConversation"), [data.row.peer])
        }

        function test_deleteCancelled() {
            Chat.conversations = [{ "peer": "p1", "display": "Alice" }]
            var home = makeHome()
            mouseClick(findChild(home, "convList").itemAtIndex(0), 20, 20, Qt.RightButton)
            var dialog = findChild(home, "deleteChatConfirm")
            tryVerify(function () { return dialog.opened })
            dialog.reject()
            tryVerify(function () { return !dialog.visible })
            compare(Chat.callCount("deleteConversation"), 0)
        }

        // Closing while shown messages are kept nowhere asks first, in the
        // interface's language with the count's own form, its buttons too;
        // the answer "no" keeps the program running.
        function test_quitAsksWhileMessagesAreUnkept_data() {
            return [
                { tag: "zh-Hans", locale: "zh-Hans", unkept: 2, said: "2 条消息尚未保存", title: "退出", ok: "确定", cancel: "取消" },
                { tag: "en one", locale: "en", unkept: 1, said: "1 message is not yet saved", title: "Quit", ok: "OK", cancel: "Cancel" },
                { tag: "en many", locale: "en", unkept: 3, said: "3 messages are not yet saved", title: "Quit", ok: "OK", cancel: "Cancel" }
            ]
        }
        function test_quitAsksWhileMessagesAreUnkept(data) {
            I18n.setLocale(data.locale)
            Chat.returns = { "unkeptSends": data.unkept }
            var home = makeHome()
            findChild(home, "windowButtons").closeClicked()
            var dialog = findChild(home, "quitConfirm")
            verify(dialog)
            tryVerify(function () { return dialog.opened })
            var text = findChild(dialog.contentItem, "quitConfirmText").text
            var title = findChild(dialog, "dialogTitle").text
            var ok = dialog.standardButton(Dialog.Ok).contentItem.text
            var cancel = dialog.standardButton(Dialog.Cancel).contentItem.text
            dialog.reject()
            tryVerify(function () { return !dialog.visible })
            I18n.setLocale("zh-Hans")
            verify(text.indexOf(data.said) === 0, text)
            compare(title, data.title)
            compare(ok, data.ok)
            compare(cancel, data.cancel)
        }

        // A republished list (new array, same rows, one changed) keeps the
        // scroll position, the focused row and the untouched delegates.
        function test_republishKeepsScrollAndFocus() {
            var rows = host.conversations(40)
            Chat.conversations = rows
            var home = makeHome()
            var list = findChild(home, "convList")
            list.positionViewAtIndex(30, ListView.Beginning)
            var y = list.contentY
            verify(y > 0)
            var focused = list.itemAtIndex(31)
            focused.forceActiveFocus()
            var again = JSON.parse(JSON.stringify(rows))
            again[31].unread = 5
            again[32].last = "new text"
            Chat.conversations = again
            compare(list.contentY, y)
            verify(list.itemAtIndex(31) === focused)
            verify(focused.activeFocus)
            compare(findChild(focused, "unreadText").text, "5")
            compare(findChild(list.itemAtIndex(32), "previewText").text, "new text")
            // A row that moves to the top keeps its delegate too.
            var moved = again.splice(31, 1)
            Chat.conversations = moved.concat(again)
            compare(list.model.get(0).peer, "peer31")
            compare(list.model.count, 40)
        }

        function test_rowLook_data() {
            return [
                { tag: "plain", row: { "display": "Alice", "last": "hi", "unread": 3 },
                  name: "#ffffff", star: false, preview: "hi", badge: "3", badgeColour: "#ff3b30" },
                { tag: "unread capped", row: { "display": "A", "unread": 100 },
                  name: "#ffffff", star: false, preview: "", badge: "99+", badgeColour: "#ff3b30" },
                { tag: "muted", row: { "display": "A", "unread": 2, "muted": true },
                  name: "#ffffff", star: false, preview: "", badge: "2", badgeColour: "#59ffffff" },
                { tag: "no unread", row: { "display": "A", "unread": 0 },
                  name: "#ffffff", star: false, preview: "", badge: "", badgeColour: "" },
                { tag: "premium plus with latency", row: { "display": "G", "isSuper": true, "isPremium": true, "last": "hey",
                  "connectionState": "connected", "latencyMs": 42 },
                  name: "#ff8d99", star: true, preview: "hey  \u00b7  42ms", badge: "", badgeColour: "" },
                { tag: "latency alone", row: { "display": "G", "isSuper": true, "connectionState": "connected", "latencyMs": 42 },
                  name: "#ffd479", star: true, preview: "42ms", badge: "", badgeColour: "" },
                { tag: "not connected", row: { "display": "G", "isSuper": true, "last": "hey",
                  "connectionState": "connecting", "latencyMs": 42 },
                  name: "#ffd479", star: true, preview: "hey", badge: "", badgeColour: "" },
                { tag: "negative latency", row: { "display": "G", "isSuper": true, "last": "hey",
                  "connectionState": "connected", "latencyMs": -1 },
                  name: "#ffd479", star: true, preview: "hey", badge: "", badgeColour: "" },
                { tag: "connected, latency not known yet", row: { "display": "G", "isSuper": true, "last": "hey",
                  "connectionState": "connected" },
                  name: "#ffd479", star: true, preview: "hey", badge: "", badgeColour: "" },
                { tag: "zero latency", row: { "display": "G", "isSuper": true, "last": "",
                  "connectionState": "connected", "latencyMs": 0 },
                  name: "#ffd479", star: true, preview: "0ms", badge: "", badgeColour: "" }
            ]
        }

        function test_rowLook(data) {
            for (var row of rowsOf(data.row)) {
                verify(Qt.colorEqual(findChild(row, "displayName").color, data.name))
                compare(findChild(row, "superStar").visible, data.star)
                if (data.star)
                    verify(Qt.colorEqual(findChild(row, "superStar").color, data.name))
                compare(row.preview, data.preview)
                var badge = findChild(row, "unreadBadge")
                compare(badge.visible, data.badge !== "")
                if (data.badge !== "") {
                    compare(findChild(row, "unreadText").text, data.badge)
                    verify(Qt.colorEqual(badge.color, data.badgeColour))
                }
            }
        }

        // Only the model's own texts are shown in the interface's language: a
        // name or a message someone typed is shown as typed, whatever it says.
        function test_rowTranslatesOnlyItsOwnTexts_data() {
            return [
                { tag: "typed like a picture, group named so", row: { "display": "群聊", "displayFallback": false,
                  "last": "[图片]", "lastKind": "text" }, name: "群聊", preview: "[图片]" },
                { tag: "typed join line", row: { "display": "超级群", "last": "Ann 加入了群聊", "lastKind": "text" },
                  name: "超级群", preview: "Ann 加入了群聊" },
                { tag: "picture of an unnamed group", row: { "display": "群聊", "displayFallback": true, "last": "[图片]",
                  "lastKind": "image" }, name: "Group chat", preview: "[Picture]" },
                { tag: "voice clip", row: { "display": "未知地址", "displayFallback": true, "last": "[语音 3\"]",
                  "lastKind": "voice" }, name: "Unknown address", preview: "[Voice 3\"]" },
                { tag: "join line", row: { "last": "Ann 加入了群聊", "lastKind": "system" }, name: "", preview: "Ann joined the group" },
                { tag: "no message", row: { "last": "暂无消息", "lastKind": "none" }, name: "", preview: "No messages yet" }
            ]
        }
        function test_rowTranslatesOnlyItsOwnTexts(data) {
            I18n.setLocale("en")
            var rows = rowsOf(data.row)
            var name = findChild(rows[0], "displayName").text, preview = rows[0].preview
            var listedName = findChild(rows[1], "displayName").text, listedPreview = rows[1].preview
            I18n.setLocale("zh-Hans")
            compare(name, data.name)
            compare(preview, data.preview)
            compare(listedName, data.name)
            compare(listedPreview, data.preview)
        }

        // Emoji in the last-message line draw in colour (the body face has
        // outlines of its own for some), on one line, markup shown as typed.
        function test_previewEmojiInColour_data() {
            return [ { tag: "emoji", last: "<b>x</b>\n😀 &amp;", coloured: true }, { tag: "none", last: "hello", coloured: false } ]
        }
        function test_previewEmojiInColour(data) {
            var row = createTemporaryObject(rowComponent, host, { "last": data.last })
            var label = findChild(row, "previewText")
            compare(label.lineCount, 1)
            verify(label.text.replace(/<img [^>]*>/g, "").indexOf("<") < 0, label.text)
            waitForRendering(label)
            var image = grabImage(row), at = label.mapToItem(row, 0, 0), coloured = 0
            for (var x = at.x; x < at.x + label.width; ++x)
                for (var y = at.y; y < at.y + label.height; ++y) {
                    var p = image.pixel(x, y)
                    coloured += p.a > 0.8 && p.r > 0.6 && p.b < 0.3 ? 1 : 0  // the face's yellow
                }
            compare(coloured > 40, data.coloured, coloured)
        }

        // A last-message line too long for its room ends before the unread
        // badge with "…", whatever it holds: styled text with pictures is
        // not elided by the text item itself.
        function test_previewEndsBeforeBadge_data() {
            return [
                { tag: "many emoji", last: "😀".repeat(60) },
                { tag: "words and emoji", last: "word 😀 ".repeat(40) },
                { tag: "words", last: "a long line of words ".repeat(20) }
            ]
        }
        function test_previewEndsBeforeBadge(data) {
            var row = createTemporaryObject(rowComponent, host, { "last": "", "unread": 3 })
            waitForRendering(row)
            var bare = grabImage(row)
            row.last = data.last
            var box = findChild(row, "previewBox")
            verify(findChild(row, "previewDots").visible)
            waitForRendering(row)
            var image = grabImage(row)
            var boxAt = box.mapToItem(row, 0, 0)
            var past = 0
            for (var x = Math.ceil(boxAt.x + box.width); x < row.width; ++x)
                for (var y = 0; y < row.height; ++y)
                    past += Qt.colorEqual(image.pixel(x, y), bare.pixel(x, y)) ? 0 : 1
            compare(past, 0, "pixels of the line past its room")
        }

        function test_rowActiveAndHover() {
            var row = createTemporaryObject(rowComponent, host, { "display": "A" })
            verify(Qt.colorEqual(row.color, "transparent"))
            mouseMove(row, 30, 30)
            tryVerify(function () { return Qt.colorEqual(row.color, "#14ffffff") })
            row.active = true
            verify(Qt.colorEqual(row.color, "#2effffff"))
            mouseMove(host, host.width - 2, host.height - 2)
            tryVerify(function () { return Qt.colorEqual(row.color, "#2effffff") })
            row.active = false
            tryVerify(function () { return Qt.colorEqual(row.color, "transparent") })
        }

        function test_activeRowFollowsCurrentPeer() {
            Chat.conversations = host.conversations(3)
            var home = makeHome()
            var list = findChild(home, "convList")
            tryVerify(function () { return list.itemAtIndex(2) !== null })
            Chat.currentPeer = "peer2"
            Chat.currentChanged()
            verify(list.itemAtIndex(2).active)
            verify(!list.itemAtIndex(0).active)
            mouseClick(list.itemAtIndex(0))
            compare(Chat.lastArgs("openConversation"), ["peer0"])
        }

        function test_rowAccessibility() {
            var row = createTemporaryObject(rowComponent, host, { "display": "Alice", "last": "hi" })
            compare(row.Accessible.name, "Alice")
            compare(row.Accessible.description, "hi")
            row.display = "Bob"
            row.last = ""
            compare(row.Accessible.name, "Bob")
            compare(row.Accessible.description, "")
        }
    }
}
