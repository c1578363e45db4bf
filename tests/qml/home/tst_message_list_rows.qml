import QtQuick
import QtTest
import Velmor

// Message rows inside the home view: one voice clip plays at a time, the
// image bubble opens the preview among the conversation's images, and a
// retried message goes away and comes back as a new row.
Item {
    id: host
    width: 1112
    height: 816

    readonly property string png: "data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAACgAAAAeCAIAAADRv8uKAAAAK0lEQVR4nO3NMQ0AAAgDsAlDBLKRhQw4mvRvputExGKxWCwWi8VisVj8N16lBjobMdsyEQAAAABJRU5ErkJggg=="

    Component { id: homeComponent; HomeView { width: 1112; height: 816 } }
    TextMetrics { id: bodyMetrics; font.pixelSize: Theme.fontBody }

    // Plays like the real player: starting a clip stops the one that plays
    // first (reporting the stop), and starting the clip that plays stops it.
    property string clip: ""
    Connections {
        target: Voice
        function onCalled(name, args) {
            if (name === "stopPlayback") {
                host.clip = ""
                Voice.playing = false
            } else if (name === "playBase64") {
                var same = Voice.playing && host.clip === args[0]
                host.clip = ""
                Voice.playing = false
                if (same)
                    return
                host.clip = args[0]
                Voice.playing = true
            }
        }
    }

    TestCase {
        name: "MessageListRows"
        when: windowShown

        function init() {
            // Any warning fails, except the animation timer's note that its
            // driver had already stopped, which Qt prints when a preview's
            // animation ends as its window stops drawing.
            failOnWarning(/^(?!QUnifiedTimer::stopAnimationDriver: driver is not running)/)
            Chat.reset(); Voice.reset(); VoiceRoom.reset()
            Voice.playing = false
            host.clip = ""
            Chat.currentPeer = "group:g1"
            Chat.currentTitle = "Friends"
            Chat.messages = []
            Chat.currentChanged()
        }

        function voice(id, clip) {
            return { "id": id, "kind": "voice", "voiceB64": clip, "voiceMime": "audio/mp4", "durMs": 2000,
                     "outgoing": false, "ts": 1700000000, "status": 4, "senderAddress": "0xaaa", "text": "[语音]" }
        }

        function rows(home) {
            var list = findChild(home, "msgList")
            var out = {}
            var items = list.contentItem.children
            for (var i = 0; i < items.length; ++i)
                if (items[i].objectName === "messageRow" && items[i].visible)
                    out[items[i].messageId] = items[i]
            return out
        }

        function makeHome(messages) {
            var home = createTemporaryObject(homeComponent, host)
            Chat.messages = messages
            var list = findChild(home, "msgList")
            tryCompare(list, "count", messages.length)
            tryVerify(function () { return Object.keys(rows(home)).length === messages.length })
            return home
        }

        function playing(home) {
            var r = rows(home)
            var out = []
            for (var id in r)
                if (r[id].voicePlaying)
                    out.push(id)
            return out.sort()
        }

        function click(home, id) {
            mouseClick(findChild(rows(home)[id], "voiceArea"))
        }

        function test_onePlaysAtATime() {
            var home = makeHome([voice("v1", "AAAA"), voice("v2", "BBBB"), voice("v3", "AAAA")])
            click(home, "v1")
            compare(home.playingVoiceId, "v1")
            compare(playing(home), ["v1"])
            compare(Voice.lastArgs("playBase64"), ["AAAA", "audio/mp4"])
            // Switching straight to another clip shows the new one playing.
            click(home, "v2")
            compare(home.playingVoiceId, "v2")
            compare(playing(home), ["v2"])
            verify(findChild(rows(home)["v1"], "playIcon").visible)
            verify(findChild(rows(home)["v2"], "pauseGlyph").visible)
            // Its own click stops it.
            click(home, "v2")
            compare(playing(home), [])
            compare(home.playingVoiceId, "")
            compare(Voice.callCount("stopPlayback"), 1)
        }

        function test_sameClipInTwoBubblesStops() {
            var home = makeHome([voice("v1", "AAAA"), voice("v3", "AAAA")])
            click(home, "v1")
            compare(playing(home), ["v1"])
            click(home, "v3")
            compare(Voice.playing, false)
            compare(playing(home), [])
        }

        function test_clipEndingLeavesEveryBubbleIdle() {
            var home = makeHome([voice("v1", "AAAA")])
            click(home, "v1")
            compare(playing(home), ["v1"])
            Voice.playing = false
            compare(home.playingVoiceId, "")
            compare(playing(home), [])
        }

        function test_imageOpensPreview() {
            var home = makeHome([
                { "id": "i1", "kind": "image", "imageSrc": host.png, "imageW": 40, "imageH": 30, "ts": 1700000000, "status": 4 },
                { "id": "t", "kind": "text", "text": "between", "ts": 1700000001, "status": 4 },
                { "id": "i2", "kind": "image", "imageSrc": host.png + "#2", "imageW": 40, "imageH": 30, "ts": 1700000002, "status": 4 }
            ])
            var picture = findChild(rows(home)["i2"], "picture")
            tryCompare(picture, "status", Image.Ready)
            mouseClick(picture)
            var preview = findChild(home, "imagePreview")
            tryCompare(preview, "opened", true)
            compare(preview.currentIndex, 1)
            compare(preview.sources.length, 2)
            preview.close()
            tryCompare(preview, "visible", false)
        }

        // Rows the list makes for a group's messages show, as they come,
        // the parts only some rows have: the first of a run its sender's
        // name, the last its avatar, a failed send its retry mark, a sent
        // one its tick, a picture its picture, a cut text its "…"
        // control, a translated one its translation, and a text of several
        // lines is as wide as its widest line.
        function test_partsOfNewRows_data() {
            var wide = "a first line that is clearly the widest"
            return [
                { tag: "first of a run", message: { "text": "hi" }, part: "senderText" },
                { tag: "last of a run", message: { "text": "hi" }, part: "incomingAvatar" },
                { tag: "failed send", message: { "text": "again", "outgoing": true, "status": 2 }, part: "failedMark" },
                { tag: "sent", message: { "text": "done", "outgoing": true, "status": 1 }, part: "tickIcon" },
                { tag: "picture", message: { "kind": "image", "imageSrc": host.png, "imageW": 40, "imageH": 30 },
                  part: "picture" },
                { tag: "cut text", message: { "text": new Array(200).join("a line\n") }, part: "readMoreButton" },
                { tag: "translated", message: { "text": "hola", "translated": "hello" }, part: "transText" },
                { tag: "lines", message: { "text": wide + "\nshort" }, part: "", widest: wide }
            ]
        }

        function test_partsOfNewRows(data) {
            var m = { "id": "m", "kind": "text", "outgoing": false, "ts": 1700000000, "status": 4,
                      "senderName": "Ann", "senderAddress": "0xaaa" }
            for (var k in data.message)
                m[k] = data.message[k]
            var home = makeHome([m])
            var row = rows(home)["m"]
            if (data.part !== "") {
                var part = findChild(row, data.part)
                verify(part !== null && part.visible, data.part)
            } else {
                bodyMetrics.text = data.widest
                fuzzyCompare(findChild(row, "bubble").width, bodyMetrics.advanceWidth + 22, 2)
            }
        }

        function test_retriedMessageComesBackAtTheEnd() {
            var failed = { "id": "f1", "kind": "text", "text": "again", "outgoing": true, "ts": 1700000000, "status": 2 }
            var other = { "id": "o1", "kind": "text", "text": "later", "outgoing": false, "ts": 1700000001, "status": 4,
                          "senderAddress": "0xaaa" }
            var home = makeHome([failed, other])
            var mark = findChild(rows(home)["f1"], "failedMark")
            verify(mark.visible)
            mouseClick(mark)
            compare(Chat.lastArgs("retryMessage"), ["f1"])
            // The controller deletes the failed message and sends it anew.
            Chat.messages = [other, { "id": "f2", "kind": "text", "text": "again", "outgoing": true, "ts": 1700000009, "status": 0 }]
            tryVerify(function () { var r = rows(home); return r["f2"] && !r["f1"] })
            var r = rows(home)
            verify(!r["f1"])
            var mark2 = findChild(r["f2"], "failedMark")
            verify(mark2 === null || !mark2.visible)
            compare(findChild(findChild(r["f2"], "metaRow"), "tickIcon").name, "clock")
        }
    }
}
