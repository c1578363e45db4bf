import QtQuick
import QtTest
import Velmor
import Velmor.Models 1.0
import "qrc:/qt/qml/Velmor/qml/home"
import "qrc:/qt/qml/Velmor/qml/home/message"
import "qrc:/qt/qml/Velmor/qml/home/message/rowLogic.js" as Logic

// The message row alone: kinds, grouping, corners, avatars and sender
// labels, time and ticks, the retry mark, sizes of every kind, and the
// safety of what peers send (plain text, card addresses).
Item {
    id: host
    width: 800
    height: 700

    readonly property string png40x30: "data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAACgAAAAeCAIAAADRv8uKAAAAK0lEQVR4nO3NMQ0AAAgDsAlDBLKRhQw4mvRvputExGKxWCwWi8VisVj8N16lBjobMdsyEQAAAABJRU5ErkJggg=="
    readonly property string longAddress: "0xabcdef0123456789abcdef0123456789abcdef01"

    Component { id: rowComponent; MessageRow {} }
    // The run marks of a list, as the message list's model gives them to
    // its rows.
    Component { id: runsComponent; MessageRowModel {} }
    Component {
        id: marksComponent
        Instantiator {
            delegate: QtObject {
                required property bool firstInGroup
                required property bool lastInGroup
            }
        }
    }
    Component { id: spyComponent; SignalSpy {} }
    Component { id: linkComponent; LinkCard { width: 288; height: 86 } }
    Component { id: transferComponent; TransferCard { width: 288; height: 92 } }
    Component { id: emojiComponent; EmojiBubble {} }
    TextMetrics { id: bodyMetrics; font.pixelSize: Theme.fontBody }

    TestCase {
        name: "MessageRow"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Chat.reset(); Voice.reset()
            Voice.playing = false
        }

        function makeRow(message, props) {
            var p = props || {}
            var args = { "message": message, "listWidth": p.listWidth || 644,
                         "currentPeer": p.peer !== undefined ? p.peer : "pk1",
                         "firstInGroup": p.first !== undefined ? p.first : true,
                         "lastInGroup": p.last !== undefined ? p.last : true,
                         "playingVoiceId": p.playingVoiceId || "" }
            var row = createTemporaryObject(rowComponent, host, args)
            verify(row)
            return row
        }

        // Pixels of `item`, as `over` draws it, nearer `ink` than the
        // bubble's own colour `ground` and clearly off it.
        function inkPixels(over, item, ink, ground) {
            waitForRendering(over)
            var image = grabImage(over), at = item.mapToItem(over, 0, 0), count = 0
            var want = Qt.color(ink), bg = Qt.color(ground)
            var d = function (p, q) { return Math.abs(p.r - q.r) + Math.abs(p.g - q.g) + Math.abs(p.b - q.b) }
            for (var x = Math.ceil(at.x); x < at.x + item.width; ++x)
                for (var y = Math.ceil(at.y); y < at.y + item.height; ++y) {
                    var p = image.pixel(x, y)
                    if (d(p, want) < d(p, bg) && d(p, bg) > 0.15)
                        ++count
                }
            return count
        }

        // The marks of each message of `list` (every one with an id).
        function runMarks(list) {
            var model = createTemporaryObject(runsComponent, host)
            model.sync(list)
            var marks = createTemporaryObject(marksComponent, host, { "model": model })
            var out = []
            for (var i = 0; i < list.length; ++i)
                out.push({ "first": marks.objectAt(i).firstInGroup, "last": marks.objectAt(i).lastInGroup })
            return out
        }

        // Rows for a whole list, each marked as the list marks it.
        function makeRows(list, peer) {
            var marks = runMarks(list)
            var rows = []
            for (var i = 0; i < list.length; ++i)
                rows.push(makeRow(list[i], { "peer": peer, "first": marks[i].first, "last": marks[i].last }))
            return rows
        }

        function part(row, name) {
            var item = findChild(row, name)
            verify(item, name)
            return item
        }

        // Whether the row shows its part `name` (the parts only some rows
        // show are not made for the others).
        function shown(row, name) {
            var item = findChild(row, name)
            return item !== null && item.visible
        }

        function msg(id, props) {
            var m = { "id": id, "kind": "text", "text": "hello " + id, "outgoing": false,
                      "ts": 1700000000, "status": 4, "senderName": "Ann", "senderAddress": "0xaaa" }
            for (var k in props)
                m[k] = props[k]
            return m
        }

        // Which corners a piece of radius 4 covers: [top left, top right,
        // bottom left, bottom right].
        function corners(row) {
            var s = part(row, "bubble")
            var p = part(s, "tightCorners")
            var left = p.visible && p.x === 0, right = p.visible && p.x + p.width === s.width
            var top = p.y === 0, bottom = p.y + p.height === s.height
            return [left && top, right && top, left && bottom, right && bottom]
        }

        function test_grouping_data() {
            var b = { "senderName": "Bob", "senderAddress": "0xbbb" }
            return [
                { tag: "three in a normal group", peer: "group:g1",
                  list: [msg("a"), msg("b"), msg("c")],
                  label: [true, false, false], avatar: [false, false, true],
                  // top-left, top-right, bottom-left, bottom-right tightened
                  corners: [[false, false, true, false], [true, false, true, false], [true, false, false, false]],
                  x: [41, 41, 41] },
                { tag: "three in a super group", peer: "sg:https://g.example",
                  list: [msg("a"), msg("b"), msg("c")],
                  label: [false, false, false], avatar: [false, false, true],
                  corners: [[false, false, true, false], [true, false, true, false], [true, false, false, false]],
                  x: [41, 41, 41] },
                { tag: "one-to-one", peer: "pk1",
                  list: [msg("a"), msg("b")],
                  label: [false, false], avatar: [false, false],
                  corners: [[false, false, true, false], [true, false, false, false]], x: [0, 0] },
                { tag: "lone message between system lines", peer: "group:g1",
                  list: [msg("s1", { "kind": "system", "text": "Ann joined" }), msg("a"),
                         msg("s2", { "kind": "system", "text": "Bob joined" })],
                  label: [false, true, false], avatar: [false, true, false],
                  corners: [[false, false, false, false], [false, false, false, false], [false, false, false, false]],
                  x: [null, 41, null] },
                { tag: "two senders", peer: "group:g1",
                  list: [msg("a"), msg("b", b), msg("c", b)],
                  label: [true, true, false], avatar: [true, false, true],
                  corners: [[false, false, false, false], [false, false, true, false], [true, false, false, false]],
                  x: [41, 41, 41] },
                { tag: "outgoing and incoming with one address", peer: "group:g1",
                  list: [msg("a", { "outgoing": true, "status": 1 }), msg("b"), msg("c", { "outgoing": true, "status": 1 }),
                         msg("d", { "outgoing": true, "status": 1 })],
                  label: [false, true, false, false], avatar: [false, true, false, false],
                  corners: [[false, false, false, false], [false, false, false, false],
                            [false, false, false, true], [false, true, false, false]],
                  x: [null, 41, null, null] },
                { tag: "senders without name or address", peer: "group:g1",
                  list: [msg("a", { "senderName": "", "senderAddress": "" }), msg("b", { "senderName": "", "senderAddress": "" })],
                  label: [true, false], avatar: [false, true],
                  corners: [[false, false, true, false], [true, false, false, false]], x: [41, 41] }
            ]
        }

        function test_grouping(data) {
            var rows = makeRows(data.list, data.peer)
            for (var i = 0; i < rows.length; ++i) {
                var row = rows[i]
                compare(shown(row, "senderText"), data.label[i], "label of row " + i)
                compare(shown(row, "incomingAvatar"), data.avatar[i], "avatar of row " + i)
                compare(corners(row), data.corners[i], "corners of row " + i)
                if (data.x[i] !== null)
                    compare(part(row, "bubble").x, data.x[i], "indent of row " + i)
                if (data.avatar[i]) {
                    var avatar = part(row, "incomingAvatar")
                    var bubble = part(row, "bubble")
                    compare(avatar.y + avatar.height, bubble.y + bubble.height)
                }
            }
            compare(rows[0].firstInGroup, true)
            compare(rows[rows.length - 1].lastInGroup, true)
        }

        // The list gives a row it keeps another message: what it shows is
        // then that of a row made for the new message.
        function test_rowGivenAnotherMessage_data() {
            var cut = new Array(200).join("a line\n")
            return [
                { tag: "failed mine to a first and last in a group",
                  from: msg("a", { "outgoing": true, "status": 2 }), to: msg("b") },
                { tag: "group's first and last to mine, sent",
                  from: msg("a"), to: msg("b", { "outgoing": true, "status": 1 }) },
                { tag: "picture to text", from: msg("a", { "kind": "image", "imageSrc": host.png40x30 }), to: msg("b") },
                { tag: "text to voice", from: msg("a"),
                  to: msg("b", { "kind": "voice", "voiceB64": "AAAA", "durMs": 2000, "voiceWaveform": [1, 5, 3] }) },
                { tag: "cut and translated to short", from: msg("a", { "text": cut, "translated": "x" }), to: msg("b") },
                { tag: "short to lines", from: msg("a"), to: msg("b", { "text": "one\ntwo words\nthree" }) }
            ]
        }

        function test_rowGivenAnotherMessage(data) {
            var kept = makeRow(data.from, { "peer": "group:g1" })
            kept.message = data.to
            var made = makeRow(data.to, { "peer": "group:g1" })
            var names = ["senderText", "incomingAvatar", "failedMark", "tickIcon", "readMoreButton", "transText",
                         "voiceArea", "picture", "bubbleShadow", "metaRow"]
            for (var i = 0; i < names.length; ++i)
                compare(shown(kept, names[i]), shown(made, names[i]), names[i])
            compare(part(kept, "bubble").width, part(made, "bubble").width)
            compare(part(kept, "bubble").height, part(made, "bubble").height)
        }

        function test_outgoingHugsTheRightEdge() {
            var row = makeRow(msg("a", { "outgoing": true, "status": 1 }), { "peer": "group:g1", "listWidth": 500 })
            compare(row.width, 456)
            var bubble = part(row, "bubble")
            compare(bubble.x + bubble.width, row.width)
        }

        function test_senderLabel_data() {
            return [
                { tag: "name", props: { "senderName": "Ann", "senderAddress": host.longAddress }, text: "Ann", colour: -1 },
                { tag: "long address", props: { "senderName": "", "senderAddress": host.longAddress },
                  text: "0xabcd...cdef01", colour: -1 },
                { tag: "short address", props: { "senderName": "", "senderAddress": "0x12345" }, text: "0x12345", colour: -1 },
                { tag: "colour of abc", props: { "senderName": "", "senderAddress": "abc" }, text: "abc", colour: 2 },
                { tag: "colour of abcd", props: { "senderName": "", "senderAddress": "abcd" }, text: "abcd", colour: 3 },
                { tag: "nothing", props: { "senderName": "", "senderAddress": "" }, text: "", colour: 0 }
            ]
        }

        function test_senderLabel(data) {
            var row = makeRow(msg("a", data.props), { "peer": "group:g1" })
            var label = part(row, "senderText")
            verify(label.visible)
            compare(label.text, data.text)
            compare(label.textFormat, Text.PlainText)
            if (data.colour >= 0)
                compare(Qt.colorEqual(label.color, Theme.peerColors[data.colour]), true)
            // The text makes room for the label line, even an empty one.
            compare(part(row, "msgText").y, 25)
        }

        function test_peerTextIsPlain_data() {
            return [
                { tag: "bold tag", text: "<b>x</b>" },
                { tag: "image tag", text: "<img src=\"qrc:/qt/qml/Velmor/assets/avatars/defaultheadphoto.png\" width=300 height=300>" },
                { tag: "link", text: "<a href=\"https://evil.example\">click</a>" }
            ]
        }

        function test_peerTextIsPlain(data) {
            var row = makeRow(msg("a", { "text": data.text, "translated": data.text }), { "peer": "group:g1" })
            var text = part(row, "msgText")
            // One format for every text, every markup character escaped.
            compare(text.textFormat, Text.StyledText)
            verify(text.text.indexOf("<") < 0, text.text)
            bodyMetrics.text = data.text
            // Drawn as the characters themselves: as wide as the literal
            // text (or wrapped inside the bubble), never a picture.
            fuzzyCompare(text.implicitWidth, bodyMetrics.advanceWidth, 2)
            verify(text.height < 4 * bodyMetrics.height)
            compare(part(row, "transText").textFormat, Text.StyledText)
            compare(part(row, "senderText").textFormat, Text.PlainText)
        }

        function test_timeInlineOrOwnLine_data() {
            var many = []
            for (var i = 0; i < 60; ++i)
                many.push("word")
            return [
                { tag: "short", props: {}, inline: true },
                { tag: "line break", props: { "text": "one\ntwo" }, inline: false },
                { tag: "translated", props: { "text": "hola", "translated": "hello" }, inline: false },
                { tag: "too wide with the time", props: { "text": many.join(" ") }, inline: false }
            ]
        }

        function test_timeInlineOrOwnLine(data) {
            var row = makeRow(msg("a", data.props))
            var content = part(row, "textContent")
            var text = part(row, "msgText")
            var meta = part(row, "metaRow")
            compare(content.timeInline, data.inline)
            var trans = data.props.translated ? part(row, "transText").height + 9 : 0
            compare(part(row, "bubble").height, text.height + trans + 8 + (data.inline ? 8 : 22))
            verify(meta.visible)
            compare(meta.x + meta.width, part(row, "bubble").width - 9)
        }

        // A bubble is as wide as its widest line (text or translation),
        // whatever line breaks the text holds, and no wider than the room.
        function test_bubbleFitsItsWidestLine_data() {
            var wide = "a first line that is clearly the widest"
            return [
                { tag: "line break", props: { "text": wide + "\nshort" }, widest: wide },
                { tag: "translation of two lines", props: { "text": "hola", "translated": "x\n" + wide }, widest: wide },
                { tag: "wrapped", props: { "text": new Array(80).join("word ") }, widest: "" }
            ]
        }

        function test_bubbleFitsItsWidestLine(data) {
            var row = makeRow(msg("a", data.props))
            bodyMetrics.text = data.widest
            var want = data.widest === "" ? row.maxBubbleW : bodyMetrics.advanceWidth + 22
            fuzzyCompare(part(row, "bubble").width, want, 2)
        }

        function test_ticksAndRetry_data() {
            return [
                { tag: "sending", outgoing: true, status: 0, tick: "clock", mark: false },
                { tag: "sent", outgoing: true, status: 1, tick: "check1", mark: false },
                { tag: "failed", outgoing: true, status: 2, tick: "", mark: true },
                { tag: "unreachable", outgoing: true, status: 3, tick: "", mark: true },
                { tag: "outgoing status 4", outgoing: true, status: 4, tick: "", mark: false },
                { tag: "received", outgoing: false, status: 4, tick: "", mark: false },
                { tag: "incoming status 2", outgoing: false, status: 2, tick: "", mark: false }
            ]
        }

        function test_ticksAndRetry(data) {
            var kinds = [{ "kind": "text" }, { "kind": "image", "imageSrc": host.png40x30 }]
            for (var k = 0; k < kinds.length; ++k) {
                Chat.reset()
                var props = { "outgoing": data.outgoing, "status": data.status }
                for (var key in kinds[k])
                    props[key] = kinds[k][key]
                var row = makeRow(msg("m" + k, props))
                var holder = kinds[k].kind === "image" ? part(row, "imgMetaRow") : part(row, "metaRow")
                var icon = findChild(holder, "tickIcon")
                compare(icon !== null && icon.visible, data.tick !== "", "tick of " + kinds[k].kind)
                if (data.tick !== "") {
                    compare(icon.name, data.tick)
                    // Drawn in its colour as a picture, without a shader
                    // effect made with each row.
                    compare(findChild(holder, "iconTint"), null)
                    tryCompare(icon, "status", Image.Ready)
                    if (kinds[k].kind === "text")
                        verify(inkPixels(row, icon, Theme.bubbleTick, Theme.bubbleOut) >= 4, "tick drawn in its colour")
                }
                compare(findChild(holder, "timeText").text, Qt.formatDateTime(new Date(1700000000 * 1000), "MM-dd hh:mm"))
                compare(shown(row, "failedMark"), data.mark)
                if (!data.mark)
                    continue
                var mark = part(row, "failedMark")
                var bubble = part(row, "bubble")
                compare(mark.x + mark.width, bubble.x - 6)
                compare(mark.y + mark.height / 2, bubble.y + bubble.height / 2)
                // The click area reaches past the circle.
                mouseClick(mark, -4, -4)
                compare(Chat.callCount("retryMessage"), 1)
                compare(Chat.lastArgs("retryMessage")[0], "m" + k)
            }
        }

        function test_bubbleWidthLimit_data() {
            var words = []
            for (var i = 0; i < 120; ++i)
                words.push("lorem")
            return [
                { tag: "narrow list", listWidth: 300, text: words.join(" ") },
                { tag: "middle list", listWidth: 581.5, text: words.join(" ") },
                { tag: "wide list", listWidth: 1200, text: words.join(" ") },
                { tag: "one long word", listWidth: 600, text: new Array(400).join("x") },
                { tag: "translation", listWidth: 600, text: "a", translated: words.join(" ") }
            ]
        }

        function test_bubbleWidthLimit(data) {
            var row = makeRow(msg("a", { "text": data.text, "translated": data.translated || "" }),
                              { "listWidth": data.listWidth, "peer": "group:g1" })
            var limit = Math.min(430, 0.8 * (data.listWidth - 44))
            compare(row.maxBubbleW, limit)
            var bubble = part(row, "bubble")
            verify(bubble.width <= limit + 0.01, bubble.width + " > " + limit)
            verify(bubble.width >= limit - 40)
            var text = part(row, data.translated ? "transText" : "msgText")
            verify(text.width <= bubble.width - 22 + 0.01)
            verify(text.lineCount > 1)
        }

        function test_bigEmoji_data() {
            return [
                { tag: "one", text: "😀", big: true },
                { tag: "three", text: " 😀👍🎉 ", big: true },
                { tag: "skin tone", text: "👍🏽", big: true },
                { tag: "four", text: "😀😀😀😀", big: false },
                { tag: "emoji and text", text: "😀 ok", big: false }
            ]
        }

        function test_bigEmoji(data) {
            var row = makeRow(msg("a", { "text": data.text }), { "peer": "group:g1" })
            var text = part(row, "msgText")
            compare(row.big, data.big)
            compare(text.font.pixelSize, data.big ? 34 : Theme.fontBody)
            compare(part(row, "bubble").color === Qt.color("transparent") || Qt.colorEqual(part(row, "bubble").color, "transparent"), data.big)
            compare(part(row, "bubbleShadow").visible, !data.big)
            compare(part(row, "metaRow").visible, !data.big)
            if (data.big) {
                compare(text.x, 4)
                compare(text.y, 2)
                compare(part(row, "bubble").width, text.implicitWidth + 8)
            }
        }

        function test_systemLine_data() {
            var many = []
            for (var i = 0; i < 80; ++i)
                many.push("member")
            return [
                { tag: "short", text: "Ann joined the group", wraps: false, transparent: false },
                { tag: "wider than the row", text: many.join(" "), wraps: true, transparent: false },
                { tag: "one unbroken word", text: new Array(300).join("m"), wraps: true, transparent: false },
                { tag: "emoji only", text: "🎉🎉", wraps: false, transparent: true }
            ]
        }

        function test_systemLine(data) {
            var row = makeRow(msg("s", { "kind": "system", "text": data.text }), { "peer": "group:g1", "listWidth": 444 })
            var bubble = part(row, "bubble")
            var text = part(row, "sysText")
            verify(bubble.width <= row.width)
            compare(bubble.x, Math.round((row.width - bubble.width) / 2))
            compare(text.lineCount > 1, data.wraps)
            if (!data.wraps)
                compare(bubble.width, text.implicitWidth + 24)
            compare(bubble.height, text.height + 7)
            compare(Qt.colorEqual(part(row, "bubble").color, "transparent"), data.transparent)
            compare(part(row, "metaRow").visible, false)
            compare(shown(row, "incomingAvatar"), false)
            compare(shown(row, "senderText"), false)
            compare(part(row, "bubbleShadow").visible, false)
        }

        function test_kindFallsBackToText_data() {
            return [
                { tag: "image without picture", props: { "kind": "image", "imageSrc": "" } },
                { tag: "voice without clip", props: { "kind": "voice", "voiceB64": "" } },
                { tag: "emoji without codes", props: { "kind": "emoji", "emojiCodes": [] } },
                { tag: "link without address", props: { "kind": "site", "siteUrl": "" } },
                { tag: "transfer without amount", props: { "kind": "transfer", "transferAmountRaw": "" } },
                { tag: "unknown kind", props: { "kind": "sticker" } }
            ]
        }

        function test_kindFallsBackToText(data) {
            var row = makeRow(msg("a", data.props))
            compare(row.kind, "text")
            compare(part(row, "msgText").text, "hello a")
            verify(part(row, "bubbleShadow").visible)
        }

        function test_thumbnailSize_data() {
            return [
                { tag: "4000 x 3000", w: 4000, h: 3000, ew: 200, eh: 150 },
                { tag: "100 x 1000", w: 100, h: 1000, ew: 30, eh: 300 },
                { tag: "1000 x 500", w: 1000, h: 500, ew: 200, eh: 100 },
                { tag: "500 x 1500", w: 500, h: 1500, ew: 100, eh: 300 },
                { tag: "100 x 100", w: 100, h: 100, ew: 100, eh: 100 },
                { tag: "50 x 40", w: 50, h: 40, ew: 50, eh: 40 },
                { tag: "no size", w: undefined, h: undefined, ew: 200, eh: 150 },
                { tag: "0 x 0", w: 0, h: 0, ew: 200, eh: 150 },
                { tag: "one side", w: 300, h: 0, ew: 200, eh: 150 }
            ]
        }

        function test_thumbnailSize(data) {
            var row = makeRow(msg("i", { "kind": "image", "imageSrc": host.png40x30, "imageW": data.w, "imageH": data.h,
                                         "outgoing": true, "status": 1 }))
            var picture = part(row, "picture")
            compare(picture.width, data.ew)
            compare(picture.height, data.eh)
            compare(part(row, "bubble").width, data.ew + 6)
            compare(part(row, "bubble").height, data.eh + 6)
            compare(picture.fillMode, Image.PreserveAspectFit)
            verify(picture.asynchronous)
            compare(Qt.colorEqual(part(row, "bubble").color, "transparent"), true)
            compare(part(row, "bubbleShadow").visible, false)
            compare(part(row, "metaRow").visible, false)
            var capsule = part(row, "timeCapsule")
            compare(Qt.colorEqual(capsule.color, "#54000000"), true)
        }

        function test_imageClickAsksForPreview() {
            var row = makeRow(msg("i", { "kind": "image", "imageSrc": host.png40x30, "imageW": 40, "imageH": 30 }))
            var spy = createTemporaryObject(spyComponent, host, { "target": row, "signalName": "imageClicked" })
            tryCompare(part(row, "picture"), "status", Image.Ready)
            mouseClick(part(row, "picture"))
            compare(spy.count, 1)
            compare(spy.signalArguments[0][0], host.png40x30)
        }

        function test_cardAddresses_data() {
            return [
                { tag: "https", url: "https://example.com/a?b=c#d", opens: "https://example.com/a?b=c#d" },
                { tag: "http with port", url: "http://example.com:8080/", opens: "http://example.com:8080/" },
                { tag: "upper-case scheme", url: "HTTPS://EXAMPLE.COM", opens: "HTTPS://EXAMPLE.COM" },
                { tag: "spaces around", url: "  https://example.com  ", opens: "https://example.com" },
                { tag: "javascript", url: "javascript:alert(1)", opens: "" },
                { tag: "file", url: "file:///etc/passwd", opens: "" },
                { tag: "data", url: "data:text/html,<b>x</b>", opens: "" },
                { tag: "custom scheme", url: "smb://host/share", opens: "" },
                { tag: "login in host", url: "https://bank.example@evil.example/", opens: "" },
                { tag: "no host", url: "https:///path", opens: "" },
                { tag: "one slash", url: "https:/example.com", opens: "" },
                { tag: "space inside", url: "https://exa mple.com", opens: "" },
                { tag: "empty", url: "", opens: "" }
            ]
        }

        function test_cardAddresses(data) {
            compare(Logic.webUrl(data.url), data.opens)
            var link = createTemporaryObject(linkComponent, host, { "url": data.url })
            var transfer = createTemporaryObject(transferComponent, host, { "y": 120, "amount": "1", "explorerUrl": data.url })
            var cards = [link, transfer]
            for (var i = 0; i < cards.length; ++i) {
                var spy = createTemporaryObject(spyComponent, host, { "target": cards[i], "signalName": "openRequested" })
                mouseClick(findChild(cards[i], "cardArea"))
                compare(spy.count, data.opens !== "" ? 1 : 0)
                if (data.opens !== "")
                    compare(spy.signalArguments[0][0], data.opens)
            }
        }

        function test_cards_data() {
            return [
                { tag: "link without title", message: { "kind": "site", "siteUrl": "https://a.example", "siteTitle": "" },
                  name: "siteTitle", text: "链接", w: 288, h: 86 },
                { tag: "link title", message: { "kind": "site", "siteUrl": "https://a.example", "siteTitle": "<b>A</b>" },
                  name: "siteTitle", text: "<b>A</b>", w: 288, h: 86 },
                { tag: "transfer without symbol", message: { "kind": "transfer", "transferAmountRaw": "1000000000000000000" },
                  name: "transferHeading", text: "转账 · ", w: 288, h: 92 },
                { tag: "transfer amount unchanged", message: { "kind": "transfer", "transferAmountRaw": "0.000100", "transferSymbol": "USDT" },
                  name: "transferAmount", text: "0.000100", w: 288, h: 92 }
            ]
        }

        function test_cards(data) {
            var row = makeRow(msg("c", data.message), { "peer": "group:g1" })
            var label = part(row, data.name)
            compare(label.text, data.text)
            compare(label.textFormat, Text.PlainText)
            compare(part(row, "bubble").width, data.w)
            compare(part(row, "bubble").height, data.h)
            verify(part(row, "bubbleShadow").visible)
            verify(part(row, "metaRow").visible)
            // The sender label lies over the card; the card keeps its size.
            verify(shown(row, "senderText"))
        }

        function test_longAddressElidedInTheMiddle() {
            var url = "https://example.com/" + new Array(200).join("a") + "/end"
            var row = makeRow(msg("c", { "kind": "site", "siteUrl": url }))
            var label = part(row, "siteUrl")
            compare(label.elide, Text.ElideMiddle)
            verify(label.width <= 288 - 24)
        }

        function test_emojiRow_data() {
            return [
                { tag: "one", codes: ["1f602"], size: 64, w: 72, h: 72, group: false },
                { tag: "three", codes: ["1f602", "1f44d", "1f680"], size: 40, w: 140, h: 48, group: false },
                { tag: "three under a label", codes: ["1f602", "1f44d", "1f680"], size: 40, w: 140, h: 73, group: true },
                { tag: "one under a long label", codes: ["1f602"], size: 64, w: -1, h: 97, group: true,
                  name: "A rather long display name of somebody" }
            ]
        }

        function test_emojiRow(data) {
            var row = makeRow(msg("e", { "kind": "emoji", "text": "x", "emojiCodes": data.codes, "senderName": data.name || "Ann" }),
                              { "peer": data.group ? "group:g1" : "pk1" })
            var bubble = part(row, "bubble")
            compare(shown(row, "senderText"), data.group)
            var width = data.w >= 0 ? data.w : part(row, "senderText").implicitWidth + 22
            compare(bubble.width, width)
            compare(bubble.height, data.h)
            compare(part(row, "emojiRow").y, data.group ? 29 : 4)
            var gif = findChild(row, "emojiGif")
            compare(gif.width, data.size)
            compare(String(gif.source), "qrc:/qt/qml/Velmor/assets/emoji/1f602.gif")
            compare(part(row, "bubbleShadow").visible, false)
            compare(part(row, "metaRow").visible, false)
        }

        function test_emojiWithoutGifShowsCharacters_data() {
            return [
                { tag: "single flag", codes: ["1f1e8-1f1f3"], size: 52, chars: "🇨🇳" },
                { tag: "several", codes: ["1f602", "2764"], size: 28, chars: "❤" },
                { tag: "path-like code", codes: ["../../icons/tg/link"], size: 52, chars: "" }
            ]
        }

        function test_emojiWithoutGifShowsCharacters(data) {
            var row = makeRow(msg("e", { "kind": "emoji", "emojiCodes": data.codes }))
            var fallbacks = []
            var cells = part(row, "emojiRow").children
            for (var i = 0; i < cells.length; ++i) {
                var t = findChild(cells[i], "emojiFallback")
                if (t && t.visible)
                    fallbacks.push(t)
            }
            compare(fallbacks.length, 1)
            compare(fallbacks[0].text, data.chars)
            compare(fallbacks[0].font.pixelSize, data.size)
        }

        function test_emojiFreezeWhileInactive() {
            var bubble = createTemporaryObject(emojiComponent, host, { "codes": ["1f602", "1f44d"], "running": true })
            var gifs = [findChild(bubble, "emojiGif")]
            verify(gifs[0].playing)
            bubble.running = false
            verify(!gifs[0].playing)
            bubble.running = true
            verify(gifs[0].playing)
            // The row runs them only while its list says so and it is visible.
            var row = makeRow(msg("e", { "kind": "emoji", "emojiCodes": ["1f602"] }))
            compare(findChild(row, "emojiGif").playing, false)
            row.animating = true
            compare(findChild(row, "emojiGif").playing, true)
            row.visible = false
            compare(findChild(row, "emojiGif").playing, false)
        }

        function test_voiceBars_data() {
            var hundred = []
            for (var i = 0; i < 100; ++i)
                hundred.push(i % 31)
            var forty = []
            for (var j = 0; j < 40; ++j)
                forty.push(j)
            return [
                { tag: "none", wf: undefined, count: 12, first: 5 + 25 * 4 / 31, width: 146.4 },
                { tag: "five levels", wf: [1, 2, 3, 4, 5], count: 12, first: 5 + 25 / 31, width: 146.4 },
                { tag: "forty levels", wf: forty, count: 26, first: 5 + 25 / 31, width: 205.2 },
                { tag: "a hundred levels", wf: hundred, count: 26, first: 5 + 25 / 31, width: 205.2 },
                { tag: "level 0", wf: [0], count: 12, first: 5 + 25 / 31, width: 146.4 },
                { tag: "level 40", wf: [40], count: 12, first: 30, width: 146.4 },
                { tag: "not numbers", wf: ["x"], count: 12, first: 5 + 25 / 31, width: 146.4 }
            ]
        }

        function test_voiceBars(data) {
            var bars = Logic.voiceBars(data.wf)
            compare(bars.length, data.count)
            fuzzyCompare(bars[0], data.first, 1e-9)
            var row = makeRow(msg("v", { "kind": "voice", "voiceB64": "AAAA", "voiceWaveform": data.wf, "durMs": 1000 }))
            fuzzyCompare(part(row, "bubble").width, data.width, 1e-9)
            compare(part(row, "bubble").height, 54)
            compare(part(row, "waveform").children.length - 1, data.count)   // bars and their repeater
        }

        function test_voiceBarsSampling() {
            var forty = []
            for (var j = 0; j < 40; ++j)
                forty.push(j)
            var bars = Logic.voiceBars(forty)
            var levels = bars.map(function (h) { return Math.round((h - 5) * 31 / 25) })
            compare(levels.slice(0, 6), [1, 1, 3, 4, 6, 7])
            compare(Logic.voiceBars([1, 2, 3, 4, 5]).map(function (h) { return Math.round((h - 5) * 31 / 25) }),
                    [1, 1, 1, 2, 2, 3, 3, 3, 4, 4, 5, 5])
        }

        function test_voiceDuration_data() {
            return [
                { tag: "missing", ms: undefined, text: "1″" },
                { tag: "zero", ms: 0, text: "1″" },
                { tag: "1499", ms: 1499, text: "1″" },
                { tag: "1500", ms: 1500, text: "2″" },
                { tag: "61000", ms: 61000, text: "61″" },
                { tag: "negative", ms: -5000, text: "1″" }
            ]
        }

        function test_voiceDuration(data) {
            var row = makeRow(msg("v", { "kind": "voice", "voiceB64": "AAAA", "durMs": data.ms }))
            compare(part(row, "voiceDuration").text, data.text)
        }

        function test_voiceLook_data() {
            return [
                { tag: "idle", playingId: "", playing: true, showsPlaying: false },
                { tag: "another plays", playingId: "v9", playing: true, showsPlaying: false },
                { tag: "this one plays", playingId: "v", playing: true, showsPlaying: true },
                { tag: "id left but stopped", playingId: "v", playing: false, showsPlaying: false }
            ]
        }

        function test_voiceLook(data) {
            Voice.playing = data.playing
            var row = makeRow(msg("v", { "kind": "voice", "voiceB64": "AAAA" }), { "playingVoiceId": data.playingId })
            compare(row.voicePlaying, data.showsPlaying)
            compare(part(row, "playIcon").visible, !data.showsPlaying)
            compare(String(part(row, "playIcon").source), "qrc:/qt/qml/Velmor/assets/play_frames/f0.svg")
            compare(part(row, "pauseGlyph").visible, data.showsPlaying)
            compare(part(row, "waveform").opacity, data.showsPlaying ? 1.0 : 0.62)
            verify(part(row, "metaRow").visible)
        }

        function test_voiceClick_data() {
            return [
                { tag: "idle starts with its type", mime: "audio/ogg", playing: false, playingId: "",
                  calls: ["playBase64"], args: ["AAAA", "audio/ogg"], started: 1, stopped: 0 },
                { tag: "idle without type", mime: "", playing: false, playingId: "",
                  calls: ["playBase64"], args: ["AAAA", "audio/mp4"], started: 1, stopped: 0 },
                { tag: "playing stops", mime: "", playing: true, playingId: "v",
                  calls: ["stopPlayback"], args: [], started: 0, stopped: 1 }
            ]
        }

        function test_voiceClick(data) {
            Voice.playing = data.playing
            var row = makeRow(msg("v", { "kind": "voice", "voiceB64": "AAAA", "voiceMime": data.mime }),
                              { "playingVoiceId": data.playingId })
            var started = createTemporaryObject(spyComponent, host, { "target": row, "signalName": "voicePlaybackStarted" })
            var stopped = createTemporaryObject(spyComponent, host, { "target": row, "signalName": "voicePlaybackStopped" })
            mouseClick(part(row, "voiceArea"))
            compare(Voice.callNames(), data.calls)
            compare(Voice.lastArgs(data.calls[0]), data.args)
            compare(started.count, data.started)
            compare(stopped.count, data.stopped)
            if (data.started)
                compare(started.signalArguments[0][0], "v")
        }

        function test_runTables_data() {
            return [
                { tag: "same sender", a: { "senderAddress": "x" }, b: { "senderAddress": "x" }, same: true },
                { tag: "system", a: { "kind": "system" }, b: { "kind": "system" }, same: false },
                { tag: "directions differ", a: { "outgoing": true }, b: {}, same: false },
                { tag: "addresses missing", a: {}, b: { "senderAddress": "" }, same: true }
            ]
        }

        function test_runTables(data) {
            data.a.id = "a"
            data.b.id = "b"
            var marks = runMarks([data.a, data.b])
            compare(marks[0].first, true)
            compare(marks[0].last, !data.same)
            compare(marks[1].first, !data.same)
            compare(marks[1].last, true)
        }
    }
}
