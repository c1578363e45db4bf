import QtQuick
import QtTest
import Velmor
import "qrc:/qt/qml/Velmor/qml/home/message"
import "qrc:/qt/qml/Velmor/qml/home/message/fullText.js" as FullText
import "qrc:/qt/qml/Velmor/qml/home/message/emojiText.js" as EmojiText

// A message too long for its bubble is cut there, and its "…" control opens
// the whole text in a reader, down to a selectable last line.
Item {
    id: host
    width: 1112
    height: 816

    Component { id: homeComponent; HomeView { width: 1112; height: 816 } }
    Component { id: readerComponent; FullTextReader {} }
    Component {
        id: layoutComponent
        TextEdit { textFormat: TextEdit.RichText; wrapMode: TextEdit.WrapAtWordBoundaryOrAnywhere; font.pixelSize: Theme.fontBody }
    }

    function repeat(unit, count) {
        var parts = []
        for (var i = 0; i < count; ++i)
            parts.push(unit)
        return parts.join("")
    }

    // One line of `count` numbered words: lines of no fixed number of
    // characters, so a piece's end falls on a line's end only when cut so.
    function words(count) {
        var parts = []
        for (var i = 1; i <= count; ++i)
            parts.push("word" + i)
        return parts.join(" ") + " "
    }

    // Numbered lines up to `length` characters, the last one marked.
    function lines(length) {
        var out = ""
        for (var n = 1; out.length < length - 40; ++n)
            out += "line " + n + " of a long message, read it all\n"
        return out + repeat("x", length - out.length - 10) + " LAST LINE"
    }

    TestCase {
        name: "FullText"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Chat.reset(); VoiceRoom.reset(); Voice.reset(); App.reset()
            Chat.messages = []
        }

        function openWith(text) {
            var home = createTemporaryObject(homeComponent, host)
            Chat.currentPeer = "0xpeer"
            Chat.currentChanged()
            Chat.messages = [{ "id": "long", "kind": "text", "text": text, "outgoing": false,
                               "ts": 1700000000, "status": 4, "senderAddress": "0xpeer" }]
            var list = findChild(home, "msgList")
            tryVerify(function () { return list.itemAtIndex(0) !== null && list.atYEnd })
            return { "home": home, "list": list, "row": list.itemAtIndex(0) }
        }

        function test_readToTheEnd_data() {
            return [
                { tag: "60,000 characters in lines", text: lines(60000) },
                { tag: "2,000,000 characters in lines", text: lines(2000000) },
                { tag: "60,000 characters without a break", text: repeat("word ", 11998) + "LAST LINE" },
                { tag: "30,000 emoji", text: repeat("😀", 30000) + " LAST LINE" },
                // White space the layout shows as fixed spaces: a piece still
                // ends where a line of the whole text ends.
                { tag: "a long line with tabs", text: repeat("word\tword ", 2000) + "LAST LINE" },
                { tag: "a long line with double spaces", text: repeat("word  word ", 2000) + "LAST LINE" },
                { tag: "space runs across the pieces' ends", text: repeat("wo" + repeat(" ", 9), 2000) + "LAST LINE" },
                { tag: "a long line after a short one", text: "short\n" + words(3000) + "LAST LINE" },
                // Another text shown while the first is still being cut:
                // none of its pieces stay, none of the text is cut twice.
                { tag: "shown again mid-cut", text: lines(60000), before: repeat("other words ", 50000) }
            ]
        }

        function test_readToTheEnd(data) {
            var view = openWith(data.text)
            var shown = findChild(view.row, "msgText")
            verify(shown.lineCount <= 130, "bubble lays out " + shown.lineCount + " lines")
            var button = findChild(view.row, "readMoreButton")
            verify(button, "no control to read the rest")
            mouseClick(button)
            var reader = findChild(view.list, "fullTextReaderLoader").item
            if (data.before !== undefined) {
                reader.show(data.before)
                tryVerify(function () { return reader.pieces.length > reader.firstScreen })
                verify(!reader.complete)
                reader.show(data.text)
            }
            // The card opens with its first screen (a piece that ends inside
            // a line once its last line is found); the rest comes after.
            var opening = reader.pieces.length
            var firstAdded = function () { if (opening === 0) opening = reader.view.count }
            reader.view.countChanged.connect(firstAdded)
            tryVerify(function () { return opening > 0 })
            reader.view.countChanged.disconnect(firstAdded)
            verify(opening <= reader.firstScreen, "opened with " + opening + " pieces")
            tryCompare(reader, "opened", true)
            tryCompare(reader, "complete", true, 30000)
            // Only the pieces in sight are made: one made below the screen
            // costs a frame as much as one in it.
            for (var m = 0; m < reader.view.count; ++m) {
                var made = reader.view.itemAtIndex(m)
                if (made)
                    verify(made.y < reader.view.contentY + reader.view.height && made.y + made.height > reader.view.contentY,
                           "piece " + m + " is made out of sight")
            }
            // It opens at its first line, and stays there while cut.
            compare(reader.view.contentY, reader.view.originY - reader.view.topMargin)
            // Nothing lost between pieces, no empty line where they meet.
            compare(reader.pieces.join(""), data.text)
            // No line ends early where two pieces meet: laid out together,
            // the second piece starts a line of its own.
            var joined = createTemporaryObject(layoutComponent, host, { "width": reader.textWidth })
            for (var p = 0; p + 1 < Math.min(reader.pieces.length, 6); ++p) {
                var a = reader.pieces[p], b = reader.pieces[p + 1]
                if (a.charAt(a.length - 1) === "\n")
                    continue
                joined.text = EmojiText.markup(a, reader.emojiPixels)
                var at = joined.length
                joined.text = EmojiText.markup(a + b, reader.emojiPixels)
                compare(joined.positionToRectangle(at).x, 0, "piece " + (p + 1) + " starts inside a line")
            }
            // Select all and copy give the whole text, as written.
            reader.contentItem.forceActiveFocus()
            keyClick(Qt.Key_A, Qt.ControlModifier)
            keyClick(Qt.Key_C, Qt.ControlModifier)
            verify(App.lastArgs("copyToClipboard")[0] === data.text, "the copy is not the whole text")
            var first = reader.view.itemAtIndex(0)
            compare(first.selectedText.length, first.length)
            if (data.text.indexOf("\n\n") < 0)
                verify(first.getText(first.length - 1, first.length) !== "\n", "piece ends in an empty line")
            var pieces = reader.view
            pieces.positionViewAtEnd()
            var last = pieces.itemAtIndex(pieces.count - 1)
            verify(last, "the last piece is not made at the end")
            verify(last.y + last.height <= pieces.contentY + pieces.height + 1)
            verify(last.y + last.height > pieces.contentY)
            var plain = last.getText(0, last.length)
            verify(plain.indexOf("LAST LINE") >= 0, plain.slice(-40))
            verify(last.selectByMouse)
            last.selectAll()
            verify(last.selectedText.indexOf("LAST LINE") >= 0)
            verify(pieces.itemAtIndex(0) === null || pieces.count < 4)
            // The view under the card is drawn from a picture of it only
            // while the card is open.
            tryVerify(function () { return view.home.layer.enabled })
            reader.close()
            tryCompare(reader, "visible", false)
            tryCompare(view.home.layer, "enabled", false)
        }

        // A selection inside a piece copies that part of the text as it
        // was written: emoji, tabs and spaces as typed.
        function test_copySelection_data() {
            return [
                { tag: "an emoji after a space", text: "hello 😀 world", pick: "\ufffc", copied: "😀" },
                { tag: "a joined emoji", text: "a 👨‍👩‍👧 b", pick: "\ufffc\u00a0b", copied: "👨‍👩‍👧 b" },
                { tag: "a line with a tab", text: "one\ttwo  three ❤️", pick: null, copied: "one\ttwo  three ❤️" },
                { tag: "markup stays text", text: "<b>x</b> &amp; 😀", pick: null, copied: "<b>x</b> &amp; 😀" },
                { tag: "a word after a tab", text: "one\ttwo three", pick: "two", copied: "two" },
                { tag: "a word after a line break", text: "one\r\ntwo\nthree", pick: "three", copied: "three" }
            ]
        }
        function test_copySelection(data) {
            var reader = createTemporaryObject(readerComponent, host)
            reader.show(data.text)
            tryVerify(function () { return reader.view.itemAtIndex(0) !== null })
            var piece = reader.view.itemAtIndex(0)
            var laid = piece.getText(0, piece.length)
            var from = data.pick === null ? 0 : laid.indexOf(data.pick)
            verify(from >= 0, laid)
            piece.forceActiveFocus()
            piece.select(from, data.pick === null ? piece.length : from + data.pick.length)
            keyClick(Qt.Key_C, Qt.ControlModifier)
            compare(App.lastArgs("copyToClipboard")[0], data.copied)
            verify(!reader.allSelected)
        }

        // Pieces never split what a reader sees as one character: each row
        // is a head of single letters and then `unit` again and again, so a
        // piece may end only inside the head or between two units.
        function test_pieces_data() {
            return [
                { tag: "pairs at the limit", head: "a", unit: "😀", count: 200, limit: 64 },
                { tag: "joined family", head: repeat("x", 63), unit: "👨‍👩‍👧", count: 40, limit: 64 },
                { tag: "skin tones", head: repeat("y", 62), unit: "✌🏻", count: 40, limit: 64 },
                { tag: "crowded with emoji", head: "", unit: "😀", count: 1000, limit: 2000, pictures: 150 },
                { tag: "flags at the limit", head: "x", unit: "🇫🇷", count: 100, limit: 64 },
                { tag: "flags of a country's part", head: "x", unit: "🏴\udb40\udc67\udb40\udc62\udb40\udc73\udb40\udc63\udb40\udc74\udb40\udc7f",
                  count: 20, limit: 64 },
                { tag: "symbols asked as text", head: "x", unit: "✈\ufe0e", count: 100, limit: 64 },
                { tag: "letters with a combining accent", head: "x", unit: "e\u0301", count: 100, limit: 64 },
                { tag: "Devanagari vowel signs", head: "x", unit: "\u0915\u093f", count: 100, limit: 64 },
                { tag: "Hangul written as its letters", head: "xx", unit: "\u1100\u1161\u11a8", count: 100, limit: 64 }
            ]
        }

        function test_pieces(data) {
            var text = data.head + repeat(data.unit, data.count)
            var pieces = FullText.pieces(text, data.limit, data.pictures)
            compare(pieces.join(""), text)
            verify(pieces.length > 1)
            var end = 0
            for (var i = 0; i < pieces.length; ++i) {
                var p = pieces[i]
                end += p.length
                verify(end <= data.head.length || (end - data.head.length) % data.unit.length === 0,
                       "piece " + i + " ends inside a character, at " + end)
                verify(p.length <= data.limit, "piece " + i + " is " + p.length)
                var head = p.charCodeAt(0)
                verify(!(head >= 0xDC00 && head <= 0xDFFF), "piece " + i + " starts inside a pair")
                verify(head !== 0x200D && head !== 0xFE0F, "piece " + i + " starts inside a sequence")
                verify(p.indexOf("\ud83c\udffb") !== 0, "piece " + i + " starts with a skin tone")
                if (data.pictures)
                    verify(p.length <= 2 * data.pictures, "piece " + i + " holds " + p.length / 2 + " emoji")
            }
        }
    }
}
