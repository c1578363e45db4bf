import QtQuick
import QtTest
import Velmor
import "qrc:/qt/qml/Velmor/qml/home"

// What one message row costs the window's thread to make, lay out, draw
// and drop, beside the bare delegate of long_lists_bench: 5 batches of 60
// rows of a one-to-one conversation (the bench's texts, runs of three, a
// third of them the user's own). Counted in instructions, which a busy
// machine does not change; a run of "none" gives what is not rows:
//
//   for f in none bare ours; do
//     QT_QPA_PLATFORM=offscreen valgrind --tool=callgrind --callgrind-out-file=rows_$f.out \
//         build/tests/qml/qml_velmor_tests -input bench/qml/long_lists_rowcost.qml RowCost::test_$f
//   done
//
// (instructions of ours - none) / 300 is one row. Offscreen, the frame is
// drawn on the same thread (software), so the figure holds the drawing too;
// callgrind_annotate --inclusive=yes separates QQmlComponent::createObject
// (making the row, its bindings and its text layout) from the frame.
Item {
    id: host
    width: 800
    height: 700

    Component { id: ours; MessageRow {} }
    Component {
        id: bare
        Item {
            property var entry
            width: 756
            height: bubble.height
            Rectangle {
                id: bubble
                x: entry.outgoing ? parent.width - width - 22 : 22
                width: Math.min(430, body.implicitWidth + 22)
                height: body.height + 30
                radius: 16
                color: entry.outgoing ? "#effdde" : "white"
                Text { id: body; x: 11; y: 8; width: parent.width - 22; text: entry.text; wrapMode: Text.Wrap }
                Text { anchors.right: parent.right; anchors.bottom: parent.bottom; anchors.margins: 5; text: "12:00"; font.pixelSize: 11 }
            }
        }
    }

    readonly property var words: "the quick brown fox jumps over a lazy dog while 我们 在 路上 聊天 and then some".split(" ")

    // The text of message `i`, as long_lists_fixture.h writes it.
    function text(i) {
        var t = String(i)
        for (var w = 0; w < 3 + (i * 7) % 40; ++w)
            t += " " + words[(i + w) % words.length]
        return t
    }

    TestCase {
        name: "RowCost"
        when: windowShown

        // Makes, draws and drops the batches; gives the number of rows made.
        function makeRows(variant) {
            var made = 0
            for (var b = 0; b < 5; ++b) {
                var rows = []
                for (var i = 0; i < 60; ++i) {
                    var k = b * 60 + i
                    var out = Math.floor(k / 3) % 3 === 0
                    var m = { "id": "m" + k, "kind": "text", "text": text(k), "outgoing": out,
                              "status": out ? 1 : 4, "ts": 1700000000 + k * 60 }
                    if (variant === "ours")
                        rows.push(ours.createObject(host, { "message": m, "listWidth": 800, "currentPeer": "pk1",
                                                            "firstInGroup": k % 3 === 0, "lastInGroup": k % 3 === 2,
                                                            "y": i * 40 }))
                    else if (variant === "bare")
                        rows.push(bare.createObject(host, { "entry": m, "y": i * 40 }))
                }
                made += rows.length
                waitForRendering(host)
                for (var j = 0; j < rows.length; ++j)
                    rows[j].destroy()
                wait(0)
            }
            return made
        }

        function test_none() { compare(makeRows("none"), 0) }
        function test_bare() { compare(makeRows("bare"), 300) }
        function test_ours() { compare(makeRows("ours"), 300) }
    }
}
