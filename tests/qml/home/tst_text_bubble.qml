import QtQuick
import QtTest
import Velmor
import "qrc:/qt/qml/Velmor/qml/home/message"

// A peer's huge text: the bubble lays out a bounded part of it, ending in
// "…", and keeps the text it was given whole.
Item {
    id: host
    width: 700
    height: 500

    Component { id: bubbleComponent; TextBubble { maxWidth: 430 } }

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
    }
}
