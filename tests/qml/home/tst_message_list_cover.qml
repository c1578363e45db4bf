import QtQuick
import QtTest
import Velmor

// The message list leaves no hole in the view: after a conversation opens
// (or another one is opened) and after rows or conversations are inserted
// elsewhere, every message inside the view has its row, each row starts
// where the one above it ends, and the view is covered from top to bottom.
// Pictures and texts of every height are mixed, as in a real conversation.
Item {
    id: host
    width: 1112
    height: 816

    readonly property string png: "data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAACgAAAAeCAIAAADRv8uKAAAAK0lEQVR4nO3NMQ0AAAgDsAlDBLKRhQw4mvRvputExGKxWCwWi8VisVj8N16lBjobMdsyEQAAAABJRU5ErkJggg=="

    Component { id: homeComponent; HomeView { width: 1112; height: 816 } }

    // Messages <prefix><from> .. <prefix><to - 1>: pictures of three shapes,
    // short and long texts, texts with line breaks, translations and system
    // lines, from several senders.
    function messages(prefix, from, to, tsBase) {
        var out = []
        for (var k = from; k < to; ++k) {
            var m = { "id": prefix + k, "ts": (tsBase || 1700000000) + k, "status": 4,
                      "outgoing": k % 4 === 0, "senderAddress": k % 4 === 0 ? "" : "0xaaa" + (k % 3),
                      "senderName": "Member " + (k % 3) }
            switch (k % 6) {
            case 0:
                m.kind = "image"; m.text = "[图片]"; m.imageSrc = host.png + "#" + prefix + k
                m.imageW = [1200, 600, 400][k % 3]; m.imageH = [900, 1400, 400][k % 3]
                break
            case 1:
                m.kind = "text"; m.text = prefix + k + " short"
                break
            case 2:
                var words = []
                for (var w = 0; w < 20 + (k % 5) * 15; ++w)
                    words.push("word" + w)
                m.kind = "text"; m.text = prefix + k + " " + words.join(" ")
                break
            case 3:
                m.kind = "text"; m.text = prefix + k + "\nsecond line\n\nfourth line"
                break
            case 4:
                m.kind = "text"; m.text = prefix + k + " hello"; m.translated = "你好 " + k
                break
            default:
                m.kind = k % 12 === 5 ? "system" : "text"
                m.text = prefix + k + (k % 12 === 5 ? " joined" : " 😀 good 👍🏻 night")
            }
            out.push(m)
        }
        return out
    }

    // Every row the list has made since `made` was last emptied, and the
    // message each was made for.
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
        name: "MessageListCover"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Chat.reset(); VoiceRoom.reset(); Voice.reset()
            Chat.conversations = []
            Chat.messages = []
            Chat.currentGroupKind = ""
            VoiceRoom.roomOpen = false
        }

        // Opens `rows` as the real controller does: the old rows go in one
        // reset, the new page comes in another.
        function open(peer, rows) {
            Chat.currentPeer = peer
            Chat.currentTitle = peer
            Chat.currentChanged()
            Chat.messages = []
            Chat.messages = rows
        }

        // What is wrong with the rows inside the view ("" when nothing).
        function holes(list) {
            var top = list.contentY
            var bottom = list.contentY + list.height
            var shown = []
            for (var i = 0; i < list.count; ++i) {
                var it = list.itemAtIndex(i)
                if (it && it.visible && it.y + it.height > top && it.y < bottom)
                    shown.push({ "i": i, "y": it.y, "h": it.height })
            }
            if (list.count > 0 && shown.length === 0)
                return "no row in the view"
            for (var k = 1; k < shown.length; ++k) {
                var a = shown[k - 1], b = shown[k]
                if (b.i !== a.i + 1)
                    return "rows " + (a.i + 1) + ".." + (b.i - 1) + " missing"
                var gap = b.y - (a.y + a.h + list.spacing)
                if (Math.abs(gap) > 0.5)
                    return "row " + b.i + " is " + gap + " px off the row above"
            }
            var first = shown[0], last = shown[shown.length - 1]
            if (first.i === 0 && Math.abs(first.y - list.originY) > 0.5)
                return "first row at " + first.y + ", content starts at " + list.originY
            if (first.i > 0 && first.y > top + 0.5)
                return "blank band of " + (first.y - top) + " px above row " + first.i
            if (last.i < list.count - 1 && last.y + last.h < bottom - 0.5)
                return "blank band of " + (bottom - last.y - last.h) + " px under row " + last.i
            // What shows is what the list shows once it is moved: a notch
            // of the wheel down and back draws the same picture.
            var before = grabImage(list)
            list.contentY = top + 1
            list.contentY = top
            var after = grabImage(list)
            if (!before.equals(after))
                return "rows appear only once the view moves"
            return ""
        }

        function settle(list) {
            tryVerify(function () { return list.atYEnd || !list.stickBottom })
            // Rows settle to their heights and pictures load over a few frames.
            wait(250)
        }

        // Opening a conversation makes the rows it shows at the end, not a
        // screenful at the top of the page first.
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
                open(data.from, messages("z", 0, 60))
                settle(list)
                if (data.reading) {
                    list.contentY = list.contentY - 900
                    list.movementEnded()
                }
            }
            rowWatch.target = list.contentItem
            host.made = []
            host.madeFor = []
            open("group:g1", messages("a", 100, 160))
            tryVerify(function () { return list.itemAtIndex(59) && list.itemAtIndex(59).messageId === "a159" })
            settle(list)
            verify(list.atYEnd)
            var shown = 0
            for (var i = 0; i < list.count; ++i) {
                var it = list.itemAtIndex(i)
                if (it && it.y + it.height > list.contentY && it.y < list.contentY + list.height)
                    ++shown
            }
            var fresh = host.madeFor.filter(function (id) { return id.indexOf("a") === 0 })
            verify(fresh.length <= shown + 2, fresh.length + " rows made for " + shown + " shown")
            rowWatch.target = null
        }

        function test_noHole_data() {
            return [
                { tag: "opened", change: "" },
                { tag: "another conversation opened", change: "switch" },
                { tag: "another conversation opened while reading", change: "switch", reading: true },
                { tag: "rows replaced before the switch is announced", change: "switchLate", reading: true },
                { tag: "older page inserted above", change: "older" },
                { tag: "message stored mid-list", change: "middle" },
                { tag: "new message at the end", change: "append" },
                { tag: "conversation added to the sidebar", change: "sidebar" },
                { tag: "every row redrawn", change: "redraw" },
                { tag: "window narrower", change: "width", width: 900 },
                { tag: "window wider", change: "width", width: 1280 },
                { tag: "window grows in steps", change: "grow" },
                { tag: "window shrinks in steps", change: "shrink" },
                { tag: "list shorter by a banner", change: "shorter" },
                { tag: "list taller again", change: "taller" }
            ]
        }

        function test_noHole(data) {
            var home = createTemporaryObject(homeComponent, host)
            var list = findChild(home, "msgList")
            Chat.conversations = [{ "peer": "group:g1", "displayName": "g1", "lastMessage": "", "unreadCount": 0 }]
            open("group:g1", messages("a", 100, 160))
            tryCompare(list, "count", 60)
            settle(list)
            compare(holes(list), "")
            if (data.reading) {
                list.contentY = list.contentY - 700
                list.movementEnded()
                verify(!list.stickBottom)
            }
            if (data.change === "switchLate") {
                Chat.messages = []
                Chat.messages = messages("b", 40, 100)
                Chat.currentPeer = "group:g2"
                Chat.currentChanged()
                tryVerify(function () { return list.itemAtIndex(59) && list.itemAtIndex(59).messageId === "b99" })
            } else if (data.change === "switch") {
                open("group:g2", messages("b", 40, 100))
                tryVerify(function () { return list.itemAtIndex(59) && list.itemAtIndex(59).messageId === "b99" })
            } else if (data.change === "older") {
                Chat.messages = messages("a", 40, 100).concat(Chat.messages)
                tryCompare(list, "count", 120)
            } else if (data.change === "middle") {
                var rows = Chat.messages.slice()
                rows.splice(50, 0, messages("late", 0, 6, 1700000149))
                Chat.messages = [].concat.apply([], rows)
                tryCompare(list, "count", 66)
            } else if (data.change === "append") {
                Chat.messages = Chat.messages.concat(messages("a", 160, 163))
                tryCompare(list, "count", 63)
            } else if (data.change === "width") {
                var w = list.width
                home.width = data.width
                tryVerify(function () { return list.width !== w })
            } else if (data.change === "grow" || data.change === "shrink") {
                for (var step = 1; step <= 12; ++step) {
                    var f = data.change === "grow" ? 1 + step * 0.03 : 1 - step * 0.03
                    home.width = 1112 * f
                    home.height = 816 * f
                    wait(16)
                }
            } else if (data.change === "redraw") {
                Chat.messages = Chat.messages.map(function (m) {
                    var c = Object.assign({}, m); c.senderName = "Renamed " + m.senderName; return c })
            } else if (data.change === "shorter" || data.change === "taller") {
                // The voice-room banner of a premium group comes and goes.
                var h = list.height
                Chat.currentGroupKind = "premium_plus"
                VoiceRoom.roomOpen = true
                Chat.currentChanged()
                tryVerify(function () { return list.height < h })
                if (data.change === "taller") {
                    settle(list)
                    Chat.currentGroupKind = ""
                    Chat.currentChanged()
                    tryVerify(function () { return list.height === h })
                }
            } else if (data.change === "sidebar") {
                Chat.conversations = [{ "peer": "group:g9", "displayName": "new group", "lastMessage": "", "unreadCount": 1 }]
                                     .concat(Chat.conversations)
            }
            settle(list)
            compare(holes(list), "")
            verify(list.atYEnd)
        }
    }
}
