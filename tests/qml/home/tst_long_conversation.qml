import QtQuick
import QtTest
import Velmor

// A conversation of several thousand messages in the home view: opening it
// makes rows only for what shows (counted, not timed), an older page lands
// above the rows the user reads without moving them, and the list keeps
// following the end.
Item {
    id: host
    width: 1112
    height: 816

    Component { id: homeComponent; HomeView { width: 1112; height: 816 } }

    // Messages m<from> .. m<to - 1>, of every length and both directions,
    // with a system line now and then.
    function messages(from, to) {
        var out = []
        for (var k = from; k < to; ++k) {
            var words = []
            for (var w = 0; w < (k % 7) * 6 + 1; ++w)
                words.push("word" + w)
            out.push({ "id": "m" + k, "kind": k % 50 === 7 ? "system" : "text", "text": k + " " + words.join(" "),
                       "outgoing": k % 3 === 0, "ts": 1700000000 + k, "status": 4,
                       "senderAddress": k % 3 === 0 ? "" : "0xaaa" })
        }
        return out
    }

    // The controller's answer to the list asking for older messages: the
    // page before the oldest shown, put in front (as its model inserts it).
    property int pageSize: 0
    Connections {
        target: Chat
        function onCalled(name, args) {
            if (name !== "loadOlderMessages" || host.pageSize === 0 || Chat.messages.length === 0)
                return
            var oldest = Number(String(Chat.messages[0].id).substring(1))
            if (oldest > 0)
                Chat.messages = host.messages(Math.max(0, oldest - host.pageSize), oldest).concat(Chat.messages)
        }
    }

    // Every row the list has made, whether or not it still exists.
    property var made: []
    Connections {
        id: rowWatch
        target: null
        function onChildrenChanged() {
            var items = rowWatch.target.children
            for (var i = 0; i < items.length; ++i)
                if (items[i].objectName === "messageRow" && host.made.indexOf(items[i]) < 0)
                    host.made.push(items[i])
        }
    }

    TestCase {
        name: "LongConversation"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Chat.reset(); VoiceRoom.reset(); Voice.reset()
            Chat.messages = []
            host.pageSize = 0
            host.made = []
        }

        function openLong(count, from) {
            var home = createTemporaryObject(homeComponent, host)
            var list = findChild(home, "msgList")
            rowWatch.target = list.contentItem
            Chat.currentPeer = "group:g1"
            Chat.currentTitle = "Long"
            Chat.currentChanged()
            Chat.messages = messages(from || 0, (from || 0) + count)
            tryVerify(function () { return list.count === count && list.atYEnd })
            return list
        }

        // Rows that intersect the view now.
        function shownRows(list) {
            var n = 0
            var items = list.contentItem.children
            for (var i = 0; i < items.length; ++i) {
                var it = items[i]
                if (it.objectName === "messageRow" && it.visible && it.y + it.height > list.contentY
                        && it.y < list.contentY + list.height)
                    ++n
            }
            return n
        }

        function test_openingMakesRowsOnlyForTheView_data() {
            return [{ tag: "3,000", count: 3000 }, { tag: "8,000", count: 8000 }]
        }

        function test_openingMakesRowsOnlyForTheView(data) {
            var list = openLong(data.count)
            wait(0)
            var shown = shownRows(list)
            verify(shown > 3, "rows on screen: " + shown)
            // What shows, plus the list's cache above and below: a number
            // that does not grow with the conversation.
            verify(host.made.length <= shown + 30, "rows made: " + host.made.length + " for " + shown + " shown")
            verify(list.itemAtIndex(data.count - 1) !== null)
            verify(list.itemAtIndex(0) === null)
            // A new message at the end is followed, making about one row.
            var before = host.made.length
            Chat.messages = Chat.messages.concat(messages(data.count, data.count + 1))
            tryVerify(function () { return list.count === data.count + 1 && list.atYEnd })
            verify(host.made.length <= before + 3, "rows made for one message: " + (host.made.length - before))
        }

        // Also when the user got to the very top before the page was read.
        function test_olderPageLandsAboveTheReader_data() {
            return [{ tag: "a few rows below the top", row: 5 }, { tag: "at the very top", row: 0 }]
        }

        function test_olderPageLandsAboveTheReader(data) {
            // The newest 1,000 of 6,000 are loaded.
            var list = openLong(1000, 5000)
            host.pageSize = 100
            list.positionViewAtIndex(30, ListView.Beginning)
            list.movementEnded()
            verify(!list.stickBottom)
            compare(Chat.callCount("loadOlderMessages"), 0)
            // Near the top of what is loaded: the list asks for the page
            // before it, which lands above without moving the reader.
            list.positionViewAtIndex(data.row, ListView.Beginning)
            if (data.row === 0)
                list.contentY = list.originY - list.topMargin
            var reading = list.itemAtIndex(data.row)
            var screenY = reading.y - list.contentY
            tryVerify(function () { return list.count === 1100 })
            verify(Chat.callCount("loadOlderMessages") >= 1)
            compare(reading.messageId, "m" + (5000 + data.row))
            compare(reading.y - list.contentY, screenY)
            verify(!list.atYEnd)
        }
    }
}
