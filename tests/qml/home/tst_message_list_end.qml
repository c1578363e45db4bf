import QtQuick
import QtTest
import Velmor

// The message list leaves no blank band at the top of its view when its
// height changes while it follows the end: after a conversation is opened
// over another page, and after a change elsewhere while the user is away
// from the chat, every row inside the view has its delegate at the right y.
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

    TestCase {
        name: "MessageListEnd"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Chat.reset(); VoiceRoom.reset(); Voice.reset()
            Chat.conversations = []
            Chat.messages = []
        }

        // What is wrong inside the view ("" when nothing): a row missing, a
        // row not where the one above it ends, a band without rows.
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

        // Opens `rows` as the real controller does: the conversation is
        // announced, then the old rows go in one reset and the new page
        // comes in another.
        function open(peer, rows) {
            Chat.currentPeer = peer
            Chat.currentTitle = peer
            Chat.currentChanged()
            Chat.messages = []
            Chat.messages = rows
        }

        // The chat pane is hidden behind another page (its composer then
        // takes no room) when a conversation is opened from the sidebar or
        // when the user comes back to it: the list, laid out at its end for
        // the taller view, loses the composer's height as it shows.
        function test_noBand_data() {
            return [
                { tag: "opened over the settings page", page: "settings", change: "open" },
                { tag: "opened over the notifications page", page: "notifications", change: "open" },
                { tag: "opened over the new-group page", page: "newGroup", change: "open" },
                { tag: "back from settings after a group arrived", page: "settings", change: "back" },
                { tag: "back from notifications after a message", page: "notifications", change: "message" }
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
                if (data.change === "back")
                    Chat.conversations = [{ "peer": "group:g9", "displayName": "new", "lastMessage": "", "unreadCount": 1 }]
                                         .concat(Chat.conversations)
                else
                    Chat.messages = Chat.messages.concat(messages("a", 60, 61))
                waitForRendering(home)
                home.mainPane = "chat"
            }
            tryVerify(function () { return list.visible && list.atYEnd })
            wait(100)
            compare(holes(list), "")
        }
    }
}
