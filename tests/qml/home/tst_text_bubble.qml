import QtQuick
import QtTest
import Velmor
import "qrc:/qt/qml/Velmor/qml/home/message"
import "qrc:/qt/qml/Velmor/qml/home/composer"

// A peer's huge text: the bubble lays out a bounded part of it, ending in
// "…", and keeps the text it was given whole. Emoji in running text draw in
// the colour face; a peer's text never becomes markup.
Item {
    id: host
    width: 700
    height: 500

    Component { id: bubbleComponent; TextBubble { maxWidth: 430 } }
    Component { id: plainComponent; Text { textFormat: Text.PlainText; font.pixelSize: Theme.fontBody } }
    EmojiPanel { id: panel; visible: false }

    TestCase {
        name: "TextBubble"
        when: windowShown

        function repeat(unit, count) {
            var parts = []
            for (var i = 0; i < count; ++i)
                parts.push(unit)
            return parts.join("")
        }

        function test_hugeTexts_data() {
            return [
                { tag: "short", text: "hello", shown: "hello" },
                { tag: "exactly the limit", text: repeat("a", 4000), shown: repeat("a", 4000) },
                { tag: "two megabytes", text: repeat("word ", 400000), shown: repeat("word ", 800) + "…" },
                { tag: "emoji across the cut", text: repeat("a", 3999) + repeat("😀", 10),
                  shown: repeat("a", 3999) + "…" },
                { tag: "many short lines", text: repeat("x\n", 5000),
                  shown: repeat("x\n", 119) + "x…" }
            ]
        }

        function test_hugeTexts(data) {
            var bubble = createTemporaryObject(bubbleComponent, host, { "text": data.text, "translated": data.text })
            verify(bubble)
            compare(seen(findChild(bubble, "msgText")), data.shown)
            compare(seen(findChild(bubble, "transText")), data.shown)
            compare(bubble.text.length, data.text.length)
            verify(bubble.implicitWidth <= 430)
        }
    
        // The text the user sees: emoji pictures read back as characters,
        // entities decoded; any other tag left would be markup.
        function seen(label) {
            if (label.textFormat !== Text.StyledText)
                return label.text
            var inner = label.text.replace(/<img src="image:\/\/emoji\/\d+\/([0-9a-f-]+)" width="\d+" height="\d+" align="middle">/g,
                                           function (all, codes) { return pictured(codes) })
            inner = inner.replace(/<br>/g, "\n").replace(/\u200b/g, "")
            verify(inner.indexOf("<") < 0 && inner.indexOf(">") < 0, inner)
            return inner.replace(/&nbsp;/g, " ").replace(/&lt;/g, "<").replace(/&gt;/g, ">").replace(/&amp;/g, "&")
        }

        function pictured(codes) {
            return codes.split("-").map(function (c) { return String.fromCodePoint(parseInt(c, 16)) }).join("")
        }

        function test_emojiInText_data() {
            return [
                { tag: "plain", text: "hello  123\n x", rich: false },
                { tag: "symbols, not emoji", text: "a → b ★ ✓ ❤ ☀", rich: false },
                { tag: "markup without emoji", text: "<b>x</b> &amp;", rich: false },
                { tag: "bold", text: "<b>x</b>😀", rich: true, pictures: ["😀"] },
                { tag: "image", text: "<img src=\"http://127.0.0.1:9/x.png\">❤️", rich: true, pictures: ["❤️"] },
                { tag: "link", text: "<a href='http://x'>y</a> 👍", rich: true, pictures: ["👍"] },
                { tag: "entities", text: "&amp; &lt;b&gt; &#60; ☀️", rich: true, pictures: ["☀️"] },
                { tag: "spaces, tabs, breaks", text: "  a  😀  1\n\n\tb \n", rich: true, pictures: ["😀"] },
                { tag: "sequences", text: "1️⃣ 👨‍👩‍👧 ✌🏻 🇩🇪🇫🇷 ©️", rich: true,
                  pictures: ["👨‍👩‍👧", "✌🏻", "🇩🇪", "🇫🇷"] },
                { tag: "text presentation asked", text: "❤︎ 😀", rich: true, pictures: ["😀"] },
                { tag: "cut after 100 emoji", text: repeat("😀 12 ", 2000), rich: true,
                  shown: repeat("😀 12 ", 100) + "…" },
                { tag: "2,000 flags", text: repeat("🇩🇪", 2000), rich: true, shown: repeat("🇩🇪", 100) + "…" }
            ]
        }

        function test_emojiInText(data) {
            var bubble = createTemporaryObject(bubbleComponent, host, { "text": data.text, "translated": data.text })
            var label = findChild(bubble, "msgText")
            // One format whatever the text holds: no text is read as markup.
            compare(label.textFormat, Text.StyledText)
            compare(findChild(bubble, "transText").text, label.text)
            // Tabs show as four spaces where the text has pictures.
            compare(seen(label), (data.shown || data.text).replace(/\t/g, "    "))
            if (data.pictures) {
                var pictures = label.text.match(/image:\/\/emoji\/\d+\/[0-9a-f-]+/g)
                compare(pictures.map(function (s) { return pictured(s.replace(/.*\//, "")) }), data.pictures)
            }
            verify(bubble.implicitWidth <= 430)
            // Line breaks as in plain text; a line with a picture a little taller.
            var plain = createTemporaryObject(plainComponent, host, { "text": data.shown || data.text,
                                                                      "width": 408 })
            plain.wrapMode = Text.WrapAtWordBoundaryOrAnywhere
            if (!data.shown) {
                verify(label.height >= plain.height && label.height <= plain.height + 3 * plain.lineCount,
                       label.height + " for " + plain.height)
            }
            compare(label.linkAt(4, 4), "")
        }

        // A space beside an emoji picture takes its room, before as after.
        function test_spaceBesideEmoji_data() {
            return [
                { tag: "before", spaced: "word 😀", joined: "word😀" },
                { tag: "after", spaced: "😀 word", joined: "😀word" },
                { tag: "after a line break", spaced: "a\n 😀", joined: "a\n😀" }
            ]
        }

        function test_spaceBesideEmoji(data) {
            var spaced = findChild(createTemporaryObject(bubbleComponent, host, { "text": data.spaced }), "msgText")
            var joined = findChild(createTemporaryObject(bubbleComponent, host, { "text": data.joined }), "msgText")
            verify(spaced.implicitWidth >= joined.implicitWidth + 2,
                   spaced.implicitWidth + " against " + joined.implicitWidth)
        }

        // Each of the panel's emoji in running text draws in colour.
        function test_panelEmojiInColour() {
            var grey = []
            for (var i = 0; i < panel.emojis.length; ++i) {
                var bubble = createTemporaryObject(bubbleComponent, host, { "text": "1 " + panel.emojis[i] })
                var label = findChild(bubble, "msgText")
                waitForRendering(label)
                var image = grabImage(label)
                var coloured = 0
                for (var x = 0; x < image.width; ++x)
                    for (var y = 0; y < image.height; ++y) {
                        var p = image.pixel(x, y)
                        if (Math.max(p.r, p.g, p.b) - Math.min(p.r, p.g, p.b) > 0.2)
                            ++coloured
                    }
                if (coloured < 10)
                    grey.push(panel.emojis[i])
            }
            compare(grey.join(" "), "")
        }
    }
}
