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
            compare(findChild(bubble, "msgText").text, data.shown)
            compare(findChild(bubble, "transText").text, data.shown)
            compare(bubble.text.length, data.text.length)
            verify(bubble.implicitWidth <= 430)
        }
    
        // The text the user sees: the rich text without the emoji spans,
        // entities decoded. Any other tag left in it would be markup.
        function seen(label) {
            if (label.textFormat !== Text.RichText)
                return label.text
            var inner = label.text.replace(/^<span style="white-space:pre-wrap">|<\/span>$/g, "")
            inner = inner.replace(/<span style="font-family:'Noto Color Emoji'">|<\/span>/g, "")
            verify(inner.indexOf("<") < 0 && inner.indexOf(">") < 0, inner)
            return inner.replace(/&lt;/g, "<").replace(/&gt;/g, ">").replace(/&quot;/g, "\"")
                    .replace(/&#39;/g, "'").replace(/&amp;/g, "&")
        }

        function test_emojiInText_data() {
            return [
                { tag: "plain", text: "hello  123\n x", rich: false },
                { tag: "symbols, not emoji", text: "a → b ★ ✓ ❤ ☀", rich: false },
                { tag: "markup without emoji", text: "<b>x</b> &amp;", rich: false },
                { tag: "bold", text: "<b>x</b>😀", rich: true, spans: ["😀"] },
                { tag: "image", text: "<img src=\"http://127.0.0.1:9/x.png\">❤️", rich: true, spans: ["❤️"] },
                { tag: "link", text: "<a href='http://x'>y</a> 👍", rich: true, spans: ["👍"] },
                { tag: "entities", text: "&amp; &lt;b&gt; &#60; ☀️", rich: true, spans: ["☀️"] },
                { tag: "spaces, tabs, breaks", text: "  a  😀  1\n\n\tb \n", rich: true, spans: ["😀"] },
                { tag: "sequences", text: "1️⃣ 👨‍👩‍👧 ✌🏻 🇩🇪🇫🇷 ©️", rich: true,
                  spans: ["👨‍👩‍👧", "✌🏻", "🇩🇪🇫🇷"] },
                { tag: "text presentation asked", text: "❤︎ 😀", rich: true, spans: ["😀"] },
                { tag: "cut at the bound", text: repeat("😀 12 ", 2000), rich: true,
                  shown: repeat("😀 12 ", 666) + "😀 1…" }
            ]
        }

        function test_emojiInText(data) {
            var bubble = createTemporaryObject(bubbleComponent, host, { "text": data.text, "translated": data.text })
            var label = findChild(bubble, "msgText")
            compare(label.textFormat, data.rich ? Text.RichText : Text.PlainText)
            compare(findChild(bubble, "transText").text, label.text)
            compare(seen(label), data.shown || data.text)
            if (data.spans) {
                var spans = label.text.match(/'Noto Color Emoji'">[^<]*</g)
                compare(spans.map(function (s) { return s.slice(20, -1) }), data.spans)
            }
            verify(bubble.implicitWidth <= 430)
            // Line breaks and the line height stay those of the plain text.
            var plain = createTemporaryObject(plainComponent, host, { "text": data.shown || data.text,
                                                                      "width": 408 })
            plain.wrapMode = Text.WrapAtWordBoundaryOrAnywhere
            if (!data.shown)
                compare(label.height, plain.height)
            compare(label.linkAt(4, 4), "")
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
