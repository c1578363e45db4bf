import QtQuick
import QtTest
import Velmor
import Velmor.Models 1.0
import "qrc:/qt/qml/Velmor/qml/home/helpers.js" as Helpers

// The home view's helper functions, as the root exposes them.
Item {
    id: host
    width: 1112
    height: 816

    HomeView { id: home; width: 1112; height: 816 }
    Component { id: modelComponent; KeyedListModel {} }

    TestCase {
        name: "HomeHelpers"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
        }

        function test_isBigEmoji_data() {
            var e = "\ud83d\ude00" // U+1F600
            return [
                { tag: "one", text: e, big: true },
                { tag: "two", text: e + e, big: true },
                { tag: "three", text: e + e + e, big: true },
                { tag: "four", text: e + e + e + e, big: false },
                { tag: "heart with selector and spaces", text: "  \u2764\ufe0f  ", big: true },
                { tag: "thumbs up with skin tone", text: "\ud83d\udc4d\ud83c\udffd", big: true },
                { tag: "two thumbs with tones", text: "\ud83d\udc4d\ud83c\udffd\ud83d\udc4d\ud83c\udffb", big: true },
                { tag: "family of three", text: "\ud83d\udc68\u200d\ud83d\udc69\u200d\ud83d\udc67", big: true },
                { tag: "family of four", text: "\ud83d\udc68\u200d\ud83d\udc69\u200d\ud83d\udc67\u200d\ud83d\udc66", big: false },
                { tag: "one flag", text: "\ud83c\udde8\ud83c\uddf3", big: true },
                { tag: "two flags", text: "\ud83c\udde8\ud83c\uddf3\ud83c\uddfa\ud83c\uddf8", big: false },
                { tag: "letter first", text: "a" + e, big: false },
                { tag: "space between", text: e + " " + e, big: false },
                { tag: "keycap", text: "1\ufe0f\u20e3", big: false },
                { tag: "selector alone", text: "\ufe0f", big: false },
                { tag: "unpaired surrogate", text: "\ud83d", big: false },
                { tag: "empty", text: "", big: false },
                { tag: "white space", text: "   ", big: false },
                { tag: "undefined", text: undefined, big: false }
            ]
        }

        function test_isBigEmoji(data) {
            compare(home.isBigEmoji(data.text), data.big)
        }

        function test_emojiRanges() {
            verify(home._isEmojiCp(0x1F300)); verify(home._isEmojiCp(0x1FAFF)); verify(!home._isEmojiCp(0x1FB00))
            verify(home._isEmojiCp(0x2300)); verify(!home._isEmojiCp(0x22FF))
            verify(home._isEmojiMod(0x200D)); verify(home._isEmojiMod(0xE007F)); verify(!home._isEmojiMod(0xE0080))
        }

        function test_formatTime() {
            compare(home.formatTime(0), "")
            compare(home.formatTime(-5), "")
            compare(home.formatTime(undefined), "")
            var now = new Date(2026, 11, 7, 15, 30)
            var todayAt905 = new Date(2026, 11, 7, 9, 5).getTime() / 1000
            compare(Helpers.formatTime(todayAt905, now), "09:05")
            var yesterday = new Date(2026, 11, 6, 23, 59).getTime() / 1000
            compare(Helpers.formatTime(yesterday, now), "12-06 23:59")
            var lastYear = new Date(2025, 0, 3, 7, 1).getTime() / 1000
            compare(Helpers.formatTime(lastYear, now), "01-03 07:01")
            var later = new Date(2026, 11, 8, 0, 0).getTime() / 1000
            compare(Helpers.formatTime(later, now), "12-08 00:00")
            // The root's form reads the clock.
            var d = new Date()
            d.setHours(9, 5, 0, 0)
            compare(home.formatTime(Math.floor(d.getTime() / 1000)), "09:05")
        }

        function test_shortAddress_data() {
            var addr = "0x1234567890abcdef1234567890abcdef12345678"
            return [
                { tag: "address", value: addr, out: "0x1234...345678" },
                { tag: "14", value: "abcdefghijklmn", out: "abcdefghijklmn" },
                { tag: "15", value: "abcdefghijklmno", out: "abcdef...jklmno" },
                { tag: "empty", value: "", out: "" },
                { tag: "undefined", value: undefined, out: "" },
                { tag: "null", value: null, out: "" }
            ]
        }

        function test_shortAddress(data) {
            compare(home.shortAddress(data.value), data.out)
        }

        function test_emojiFromCode_data() {
            return [
                { tag: "flag", code: "1f1e8-1f1f3", out: "\ud83c\udde8\ud83c\uddf3" },
                { tag: "bad first part", code: "zz-1f602", out: "\ud83d\ude02" },
                { tag: "bad second part", code: "1f602-zz", out: "\ud83d\ude02" },
                { tag: "zero", code: "0-1f602", out: "\ud83d\ude02" },
                { tag: "beyond the last code point", code: "110000-1f602", out: "\ud83d\ude02" },
                { tag: "prefix", code: "0x1f602", out: "\ud83d\ude02" },
                { tag: "empty", code: "", out: "" },
                { tag: "undefined", code: undefined, out: "" }
            ]
        }

        function test_emojiFromCode(data) {
            compare(home.emojiFromCode(data.code), data.out)
        }

        function test_avatarSource_data() {
            return [
                // Only bundled pictures: a peer's address or path is never loaded.
                { tag: "remote", id: "https://g.example/a.png", out: "../assets/avatars/defaultheadphoto.png" },
                { tag: "remote plain", id: "http://x/a.png", out: "../assets/avatars/defaultheadphoto.png" },
                { tag: "protocol-relative", id: "//tracker.example/a", out: "../assets/avatars/defaultheadphoto.png" },
                { tag: "path out of the folder", id: "../../../../tmp/x", out: "../assets/avatars/defaultheadphoto.png" },
                { tag: "lottie with a path", id: "lottiehead_05/../../x", out: "../assets/avatars/defaultheadphoto.png" },
                { tag: "group default", id: "defaultgroupphoto", out: "../assets/avatars/defaultgroupphoto.png" },
                { tag: "lottie", id: "lottiehead_05", out: "../assets/lottiehead_05_frames/f0.svg" },
                { tag: "picture", id: "avatar_boys_001", out: "../assets/avatars/avatar_boys_001.png" },
                { tag: "empty", id: "", out: "../assets/avatars/defaultheadphoto.png" },
                { tag: "undefined", id: undefined, out: "../assets/avatars/defaultheadphoto.png" }
            ]
        }

        function test_avatarSource(data) {
            compare(home.avatarSource(data.id), data.out)
        }

        function test_assetUrl() {
            compare(home.assetUrl("../assets/avatars/x.png"), "qrc:/qt/qml/Velmor/assets/avatars/x.png")
            compare(home.assetUrl("https://g/a.png"), "https://g/a.png")
        }

        // Remote pictures: only a group's own server, over https (plain
        // http only to this machine).
        function test_groupServerPicture_data() {
            return [
                { tag: "same server", url: "https://g.example/avatar.png", peer: "sg:https://g.example", out: true },
                { tag: "same server, port spelled", url: "https://g.example:443/a.png", peer: "sg:https://g.example", out: true },
                { tag: "case", url: "https://G.example/a.png", peer: "sg:https://g.example/", out: true },
                { tag: "other host", url: "https://tracker.example/a.png", peer: "sg:https://g.example", out: false },
                { tag: "plain http", url: "http://g.example/a.png", peer: "sg:http://g.example", out: false },
                { tag: "loopback http", url: "http://127.0.0.1:8788/a.png", peer: "sg:http://127.0.0.1:8788", out: true },
                { tag: "other port", url: "https://g.example:8443/a.png", peer: "sg:https://g.example", out: false },
                { tag: "user info", url: "https://g.example@evil.example/a.png", peer: "sg:https://g.example", out: false },
                { tag: "not a super group", url: "https://g.example/a.png", peer: "group:g", out: false },
                { tag: "direct peer", url: "https://g.example/a.png", peer: "pk", out: false },
                { tag: "file", url: "file:///etc/passwd", peer: "sg:https://g.example", out: false },
                { tag: "empty", url: "", peer: "sg:https://g.example", out: false }
            ]
        }

        function test_groupServerPicture(data) {
            compare(Helpers.groupServerPicture(data.url, data.peer), data.out ? data.url : "")
        }

        function test_filteredConversationsKeepsOrder() {
            Chat.conversations = [{ "peer": "b", "display": "x1" }, { "peer": "a", "display": "x2" }, { "peer": "c", "display": "y" }]
            compare(home.filteredConversations("X").map(function (r) { return r.peer }), ["b", "a"])
            compare(home.filteredConversations(undefined).length, 3)
            Chat.conversations = undefined
            compare(home.filteredConversations("x"), [])
            Chat.conversations = []
        }

        // The list models' update by key: inserts, moves, updates and
        // removals, each row keeping its own values.
        function test_syncByKey_data() {
            return [
                { tag: "append", before: ["a", "b"], after: ["a", "b", "c"] },
                { tag: "prepend", before: ["a", "b"], after: ["z", "a", "b"] },
                { tag: "remove middle", before: ["a", "b", "c"], after: ["a", "c"] },
                { tag: "reverse", before: ["a", "b", "c"], after: ["c", "b", "a"] },
                { tag: "empty", before: ["a", "b"], after: [] },
                { tag: "from empty", before: [], after: ["a", "b"] },
                { tag: "duplicates keep the first", before: ["a", "a", "b"], after: ["a", "b", "a"], shown: ["a", "b"] },
                { tag: "keyless rows left out", before: ["a"], after: ["", "b"], shown: ["b"] },
                { tag: "replace all", before: ["a", "b"], after: ["c", "d"] },
                { tag: "interleaved", before: ["a", "b", "c", "d"], after: ["x", "d", "b", "y", "a"] }
            ]
        }

        function test_syncByKey(data) {
            function rows(keys) { return keys.map(function (k, i) { return { "id": k, "v": k + i } }) }
            var model = createTemporaryObject(modelComponent, host)
            model.sync(rows(data.before))
            model.sync(rows(data.after))
            var keys = []
            var values = []
            for (var i = 0; i < model.count; ++i) {
                keys.push(model.get(i).id)
                values.push(model.get(i).v)
                compare(model.indexOf(model.get(i).id), i)
            }
            var shown = data.shown || data.after
            compare(keys, shown)
            var expected = rows(data.after).filter(function (r) { return shown.indexOf(r.id) >= 0 })
            compare(values, expected.map(function (r) { return r.v }).slice(0, shown.length))
        }

        function test_syncTouchesOnlyChangedRows() {
            var model = createTemporaryObject(modelComponent, host)
            var a = [{ "id": "1", "t": "x", "wf": [1, 2] }, { "id": "2", "t": "y", "wf": [3] }]
            model.sync(a)
            var changes = 0
            model.dataChanged.connect(function () { ++changes })
            model.sync(JSON.parse(JSON.stringify(a)))
            compare(changes, 0)
            var b = JSON.parse(JSON.stringify(a))
            b[1].wf = [4]
            model.sync(b)
            compare(changes, 1)
            compare(model.get(1).wf, [4])
        }
    }
}
