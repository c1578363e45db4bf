import QtQuick
import QtTest
import Velmor
import "qrc:/qt/qml/Velmor/qml/home"
import "qrc:/qt/qml/Velmor/qml/home/message"
import "qrc:/qt/qml/Velmor/qml/home/panes"

// Received text is never read as markup, at no moment: each view that shows
// it switches many times between emoji, none and a picture tag aimed at the
// test's listener, which must see only the test's own sentinel.
Item {
    id: host
    width: 900
    height: 700

    Component { id: bubble; TextBubble { maxWidth: 430 } }
    Component { id: reader; FullTextReader {} }
    Component { id: row; ConversationListRow { width: 320 } }
    Component { id: invite; SgInviteCard { width: 400 } }
    Component { id: sgCreation; SuperGroupCreation { width: 600 } }
    Component { id: sentinel; Image { cache: false } }

    TestCase {
        name: "ReceivedMarkup"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            FetchListener.clear()
        }

        function test_neverFetched_data() {
            return [
                { tag: "bubble text", component: bubble, show: (v, s) => v.text = s },
                { tag: "bubble translation", component: bubble, show: (v, s) => { v.text = "hi 😀"; v.translated = s } },
                { tag: "long-text reader", component: reader, show: (v, s) => v.show(s) },
                { tag: "sidebar name", component: row, show: (v, s) => v.display = s },
                { tag: "sidebar last message", component: row, show: (v, s) => {
                  v.isSuper = true; v.connectionState = "connected"; v.latencyMs = 5; v.last = s } },
                { tag: "invite candidate", component: invite, show: (v, s) => v.candidates = [{ "display": s }] },
                { tag: "group server's error", component: sgCreation, show: (v, s) => v.createError = s }
            ]
        }
        function test_neverFetched(data) {
            var view = createTemporaryObject(data.component, host)
            var attack = "<img src=\"http://127.0.0.1:" + FetchListener.port + "/x.png\">"
            var steps = ["hello 😀", "bonjour 😀 n", attack, "hello 😀", attack + " 😀", "plain", attack,
                         "<b>bold</b> 😀", attack + "\n" + attack]
            for (var round = 0; round < 3; ++round) {
                for (var i = 0; i < steps.length; ++i) {
                    data.show(view, steps[i])
                    waitForRendering(host)
                }
            }
            // A fetch a view started went out before this one.
            var last = createTemporaryObject(sentinel, host, { "source": "http://127.0.0.1:" + FetchListener.port + "/s.png" })
            tryCompare(last, "status", Image.Ready)
            compare(FetchListener.paths, ["/s.png"])
        }
    }
}
