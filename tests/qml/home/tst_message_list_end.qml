import QtQuick
import QtTest
import Velmor

// The message list opens at its end making only the rows it shows, and
// leaves no blank band when its height changes while it follows the end.
Item {
    id: host
    width: 1112
    height: 816

    readonly property string png: "data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAACgAAAAeCAIAAADRv8uKAAAAK0lEQVR4nO3NMQ0AAAgDsAlDBLKRhQw4mvRvputExGKxWCwWi8VisVj8N16lBjobMdsyEQAAAABJRU5ErkJggg=="

    Component { id: homeComponent; HomeView { width: 1112; height: 816 } }

    // Tall pictures and texts, a picture every third row, from three senders.
    function messages(prefix, from, to) {
        var out = []
        for (var k = from; k < to; ++k) {
            var m = { "id": prefix + k, "ts": 1700000000 + k, "status": 4, "outgoing": k % 5 === 0,
                      "senderAddress": k % 5 === 0 ? "" : "0xaaa" + (k % 3), "senderName": "Member " + (k % 3) }
            if (k % 3 === 0) {
                m.kind = "image"; m.text = "[图片]"; m.imageSrc = host.png + "#" + prefix + k
                m.imageW = 400; m.imageH = 900
            } else {
                m.kind = "text"
                m.text = prefix + k + (k % 3 === 1 ? " short" : " a longer text that wraps over a few lines of the bubble when the list is narrow enough")
            }
            out.push(m)
        }
        return out
    }

    // Pictures of three shapes, short, long, multi-line and translated
    // texts and system lines.
    function mixed(prefix, from, to) {
        var out = []
        for (var k = from; k < to; ++k) {
            var m = { "id": prefix + k, "ts": 1700000000 + k, "status": 4, "outgoing": k % 4 === 0,
                      "senderAddress": k % 4 === 0 ? "" : "0xaaa" + (k % 3), "senderName": "Member " + (k % 3),
                      "kind": "text", "text": prefix + k }
            switch (k % 6) {
            case 0: m.kind = "image"; m.text = "[图片]"; m.imageSrc = host.png + "#" + prefix + k
                m.imageW = [1200, 600, 400][k % 3]; m.imageH = [900, 1400, 400][k % 3]; break
            case 1: m.text += " short"; break
            case 2: m.text += Array.from({ length: 20 + (k % 5) * 15 }, (_, w) => " word" + w).join(""); break
            case 3: m.text += "\nsecond line\n\nfourth line"; break
            case 4: m.text += " hello"; m.translated = "你好 " + k; break
            default:
                if (k % 12 === 5) { m.kind = "system"; m.text += " joined" } else { m.text += " 😀 good 👍🏻 night" }
            }
            out.push(m)
        }
        return out
    }

    // Every row the list has made since `made` was emptied, and its message.
    property var made: []
    property var madeFor: []
    Connections {
        id: rowWatch
        target: null
        function onChildrenChanged() {
            var items = rowWatch.target.children
            for (var i = 0; i < items.length; ++i)
                if (items[i].objectName === "messageRow" && host.made.indexOf(items[i]) < 0) {
                    host.made.push(items[i])
                    host.madeFor.push(items[i].messageId)
                }
        }
    }

    TestCase {
        name: "MessageListEnd"
        when: windowShown

        function init() {
            // Any warning fails, except the animation timer's note that its
            // driver had already stopped, which Qt prints now and then when
            // another page covers the list and the window stops drawing it.
            failOnWarning(/^(?!QUnifiedTimer::stopAnimationDriver: driver is not running)/)
            Chat.reset(); VoiceRoom.reset(); Voice.reset()
            Chat.conversations = []
            Chat.messages = []
        }

        // What is wrong inside the view ("" when nothing).
        function holes(list) {
            var top = list.contentY, bottom = list.contentY + list.height
            var shown = []
            for (var i = 0; i < list.count; ++i) {
                var it = list.itemAtIndex(i)
                if (it && it.y + it.height > top && it.y < bottom)
                    shown.push({ "i": i, "y": it.y, "h": it.height })
            }
            if (shown.length === 0)
                return "no row in the view"
            for (var k = 1; k < shown.length; ++k) {
                var gap = shown[k].y - (shown[k - 1].y + shown[k - 1].h + list.spacing)
                if (shown[k].i !== shown[k - 1].i + 1)
                    return "rows " + (shown[k - 1].i + 1) + ".." + (shown[k].i - 1) + " missing"
                if (Math.abs(gap) > 0.5)
                    return "row " + shown[k].i + " is " + gap + " px off the row above"
            }
            var first = shown[0], last = shown[shown.length - 1]
            if (first.i > 0 && first.y > top + 0.5)
                return "blank band of " + (first.y - top) + " px above row " + first.i
            if (last.i < list.count - 1 && last.y + last.h < bottom - 0.5)
                return "blank band of " + (bottom - last.y - last.h) + " px under row " + last.i
            return ""
        }

        // As the real controller does: announce, then two model resets.
        function open(peer, rows) {
            Chat.currentPeer = peer
            Chat.currentTitle = peer
            Chat.currentChanged()
            Chat.messages = []
            Chat.messages = rows
        }

        // Opening lays out the rows at the end, not a screenful at the top
        // of the page first.
        function test_openMakesOnlyTheRowsShown_data() {
            return [
                { tag: "first conversation", from: "" },
                { tag: "from another conversation", from: "group:g0" },
                { tag: "from another conversation read far up", from: "group:g0", reading: true }
            ]
        }

        function test_openMakesOnlyTheRowsShown(data) {
            var home = createTemporaryObject(homeComponent, host)
            var list = findChild(home, "msgList")
            if (data.from !== "") {
                open(data.from, mixed("z", 0, 60))
                tryVerify(function () { return list.atYEnd })
                if (data.reading) {
                    list.contentY = list.contentY - 900
                    list.movementEnded()
                }
            }
            rowWatch.target = list.contentItem
            host.made = []
            host.madeFor = []
            open("group:g1", mixed("a", 100, 160))
            tryVerify(function () { return list.itemAtIndex(59) && list.itemAtIndex(59).messageId === "a159" })
            tryVerify(function () { return list.atYEnd })
            wait(250)
            var shown = 0
            for (var i = 0; i < list.count; ++i) {
                var it = list.itemAtIndex(i)
                if (it && it.y + it.height > list.contentY && it.y < list.contentY + list.height)
                    ++shown
            }
            var fresh = host.madeFor.filter(function (id) { return id.indexOf("a") === 0 })
            rowWatch.target = null
            verify(fresh.length <= shown + 2, fresh.length + " rows made for " + shown + " shown")
        }

        // Behind another page the composer takes no room; the list, laid out
        // at its end for the taller view, loses that height as it shows.
        function test_noBand_data() {
            return [
                { tag: "opened over the settings page", page: "settings", change: "open" },
                { tag: "opened over the notifications page", page: "notifications", change: "open" },
                { tag: "opened over the new-group page", page: "newGroup", change: "open" },
                { tag: "back from settings after a group arrived", page: "settings", change: "back" }
            ]
        }

        function test_noBand(data) {
            var home = createTemporaryObject(homeComponent, host)
            var list = findChild(home, "msgList")
            Chat.conversations = [{ "peer": "group:g1", "displayName": "g1", "lastMessage": "", "unreadCount": 0 },
                                  { "peer": "group:g2", "displayName": "g2", "lastMessage": "", "unreadCount": 0 }]
            open("group:g1", messages("a", 0, 60))
            tryVerify(function () { return list.atYEnd })
            waitForRendering(list)
            home.mainPane = data.page
            waitForRendering(home)
            if (data.change === "open") {
                open("group:g2", messages("b", 0, 60))
            } else {
                Chat.conversations = [{ "peer": "group:g9", "displayName": "new", "lastMessage": "", "unreadCount": 1 }]
                                     .concat(Chat.conversations)
                waitForRendering(home)
                home.mainPane = "chat"
            }
            tryVerify(function () { return list.visible && list.atYEnd })
            wait(100)
            compare(holes(list), "")
        }
    }
}
